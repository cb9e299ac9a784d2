#pragma once

#include "link/record.h"

#include <QTableWidget>

namespace vm::display {

// The verification report of one record: the standard, the overall grade and
// every measured parameter with its value and grade.
class VerifyReportGrid : public QTableWidget {
    Q_OBJECT
public:
    enum Column { NameColumn, ValueColumn, GradeColumn, ColumnCount };

    explicit VerifyReportGrid(QWidget* parent = nullptr);

    void ShowRecord(const vm::link::Record& record);
    void Clear();
    // Size needed to show every row and column, in twips.
    int ContentWidth() const;
    int ContentHeight() const;

    static QColor GradeColor(const QString& grade);

private:
    void addRow(const QString& name, const QString& value, const QString& grade, bool emphasise = false);
};

} // namespace vm::display
