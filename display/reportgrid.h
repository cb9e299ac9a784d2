#pragma once

#include "link/record.h"

#include <QTableWidget>

namespace vm::display {

// A row per result record, newest on top, at most MaxRows rows.
class ReportGrid : public QTableWidget {
    Q_OBJECT
public:
    enum Column { ImageColumn, TimeColumn, ResultColumn, TextColumn, GradeColumn, DecodeColumn, ColumnCount };
    static constexpr int kDefaultMaxRows = 25;
    // The decoded text column never grows wider than this (pixels), so one long
    // read does not stretch the window across the screen.
    static constexpr int kMaxTextColumnWidth = 360;

    explicit ReportGrid(QWidget* parent = nullptr);

    void AddRecord(const vm::link::Record& record);
    void Clear();
    // Size the grid needs to show all its rows and columns, in twips.
    int ContentWidth() const;
    int ContentHeight() const;

    void SetMaxRows(int rows);
    int MaxRows() const { return m_maxRows; }

private:
    int contentWidthPixels() const;
    int contentHeightPixels() const;
    void fitColumns();
    // Widens the columns where a cell of `row` needs more room; columns never narrow while rows
    // come, so the grid does not jump as rows drop off the bottom.
    void widenColumnsFor(int row);

    int m_maxRows = kDefaultMaxRows;
};

} // namespace vm::display
