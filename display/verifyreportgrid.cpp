#include "display/verifyreportgrid.h"

#include "display/twips.h"

#include <QHeaderView>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>

namespace vm::display {

VerifyReportGrid::VerifyReportGrid(QWidget* parent)
    : QTableWidget(0, ColumnCount, parent) {
    setHorizontalHeaderLabels({tr("Parameter"), tr("Value"), tr("Grade")});
    verticalHeader()->hide();
    verticalHeader()->setMinimumSectionSize(fontMetrics().height() + 4);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setWordWrap(false);
    setTabKeyNavigation(false);
    setAccessibleName(tr("Verification report"));
    horizontalHeader()->setStretchLastSection(false);
}

QColor VerifyReportGrid::GradeColor(const QString& grade) {
    const QString g = grade.trimmed().toUpper();
    if (g == "A" || g == "B")
        return {128, 255, 128};
    if (g == "C")
        return {255, 255, 128};
    if (g == "D" || g == "F")
        return {255, 128, 128};
    return {};
}

void VerifyReportGrid::addRow(const QString& name, const QString& value, const QString& grade,
                              bool emphasise) {
    const int row = rowCount();
    insertRow(row);
    const QStringList texts{name, value, grade};
    for (int c = 0; c < ColumnCount; ++c) {
        auto* item = new QTableWidgetItem(texts[c]);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        item->setTextAlignment(c == NameColumn ? Qt::AlignLeft | Qt::AlignVCenter : Qt::AlignCenter);
        if (emphasise) {
            QFont f = font();
            f.setBold(true);
            item->setFont(f);
        }
        if (c == GradeColumn) {
            if (const QColor colour = GradeColor(grade); colour.isValid()) {
                item->setBackground(colour);
                item->setForeground(Qt::black);
            }
        }
        setItem(row, c, item);
    }
}

void VerifyReportGrid::ShowRecord(const vm::link::Record& record) {
    setUpdatesEnabled(false);
    setRowCount(0);
    if (!record.HasVerification()) {
        addRow(tr("No verification result in image %1").arg(record.Number()), QString(), QString());
    } else {
        const auto& v = *record.Verification();
        addRow(tr("Image"), QString::number(record.Number()), QString());
        addRow(tr("Standard"), v.standard, QString());
        addRow(tr("Overall grade"), QString(), v.overallGrade, true);
        if (v.errorCode != 0)
            addRow(tr("Error"), QString::number(v.errorCode), QString());
        if (!v.parameters.isEmpty()) {
            for (const auto& p : v.parameters)
                addRow(p.name, p.value, p.grade);
        } else {
            // A reader that sends its measurements only as raw fields still gets a
            // readable report.
            for (auto it = v.raw.begin(); it != v.raw.end(); ++it) {
                const QJsonValue value = it.value();
                QString text;
                if (value.isString())
                    text = value.toString();
                else if (value.isDouble())
                    text = QString::number(value.toDouble());
                else if (value.isBool())
                    text = value.toBool() ? tr("yes") : tr("no");
                else if (value.isObject())
                    text = QString::fromUtf8(QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact));
                else if (value.isArray())
                    text = QString::fromUtf8(QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact));
                addRow(it.key(), text, QString());
            }
        }
    }
    resizeColumnsToContents();
    setUpdatesEnabled(true);
}

void VerifyReportGrid::Clear() {
    setRowCount(0);
    resizeColumnsToContents();
}

int VerifyReportGrid::ContentWidth() const {
    int width = 2 * frameWidth();
    for (int c = 0; c < columnCount(); ++c)
        width += columnWidth(c);
    return PixelsToTwipsX(this, width);
}

int VerifyReportGrid::ContentHeight() const {
    int height = 2 * frameWidth() + horizontalHeader()->sizeHint().height();
    for (int r = 0; r < rowCount(); ++r)
        height += rowHeight(r);
    return PixelsToTwipsY(this, height);
}

} // namespace vm::display
