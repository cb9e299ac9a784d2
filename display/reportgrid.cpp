#include "display/reportgrid.h"

#include "display/twips.h"

#include <QAbstractItemDelegate>
#include <QDateTime>
#include <QHeaderView>
#include <QScrollBar>
#include <QStyleOptionViewItem>

#include <algorithm>

namespace vm::display {

namespace {
const QColor kPassBackground(128, 255, 128);
const QColor kFailBackground(255, 128, 128);

QTableWidgetItem* cell(const QString& text, Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter) {
    auto* item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    item->setTextAlignment(alignment);
    return item;
}
} // namespace

ReportGrid::ReportGrid(QWidget* parent)
    : QTableWidget(0, ColumnCount, parent) {
    setHorizontalHeaderLabels(
        {tr("Image"), tr("Time"), tr("Result"), tr("Text"), tr("Grade"), tr("Decode (ms)")});
    verticalHeader()->hide();
    verticalHeader()->setMinimumSectionSize(fontMetrics().height() + 4);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setWordWrap(false);
    setTabKeyNavigation(false);
    setAccessibleName(tr("Report grid"));
    fitColumns();
}

void ReportGrid::AddRecord(const vm::link::Record& record) {
    const auto& result = record.Result();
    QString text = result.Text();
    if (!result.SymbolFound() || text.isEmpty())
        text = result.StatusText();
    QString grade;
    if (record.HasVerification())
        grade = record.Verification()->overallGrade;
    const QString time = record.TimeMs() > 0
                             ? QDateTime::fromMSecsSinceEpoch(record.TimeMs()).toString("hh:mm:ss.zzz")
                             : QString();

    setUpdatesEnabled(false); // one repaint for the whole row
    insertRow(0);
    const Qt::Alignment right = Qt::AlignRight | Qt::AlignVCenter;
    setItem(0, ImageColumn, cell(QString::number(record.Number()), right));
    setItem(0, TimeColumn, cell(time));
    auto* verdict = cell(record.Passed() ? tr("PASS") : tr("FAIL"), Qt::AlignCenter);
    verdict->setBackground(record.Passed() ? kPassBackground : kFailBackground);
    verdict->setForeground(Qt::black);
    setItem(0, ResultColumn, verdict);
    auto* textItem = cell(text);
    textItem->setToolTip(text);
    setItem(0, TextColumn, textItem);
    setItem(0, GradeColumn, cell(grade, Qt::AlignCenter));
    setItem(0, DecodeColumn, cell(QString::number(result.DecodeMilliseconds(), 'f', 1), right));
    while (rowCount() > m_maxRows)
        removeRow(rowCount() - 1);
    widenColumnsFor(0);
    setUpdatesEnabled(true);
}

void ReportGrid::Clear() {
    setRowCount(0);
    fitColumns();
}

void ReportGrid::SetMaxRows(int rows) {
    m_maxRows = std::max(1, rows);
    while (rowCount() > m_maxRows)
        removeRow(rowCount() - 1);
}

void ReportGrid::fitColumns() {
    for (int c = 0; c < ColumnCount; ++c) {
        resizeColumnToContents(c);
        if (c == TextColumn)
            setColumnWidth(c, std::clamp(columnWidth(c), 120, kMaxTextColumnWidth));
    }
}

void ReportGrid::widenColumnsFor(int row) {
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    const int grid = showGrid() ? 1 : 0;
    for (int c = 0; c < ColumnCount; ++c) {
        const QModelIndex index = model()->index(row, c);
        int wanted = itemDelegateForIndex(index)->sizeHint(option, index).width() + grid;
        if (c == TextColumn)
            wanted = std::min(wanted, kMaxTextColumnWidth);
        if (wanted > columnWidth(c))
            setColumnWidth(c, wanted);
    }
}

int ReportGrid::contentWidthPixels() const {
    int width = 2 * frameWidth();
    for (int c = 0; c < columnCount(); ++c)
        width += columnWidth(c);
    return width + verticalScrollBar()->sizeHint().width();
}

int ReportGrid::contentHeightPixels() const {
    int height = 2 * frameWidth() + horizontalHeader()->sizeHint().height();
    for (int r = 0; r < rowCount(); ++r)
        height += rowHeight(r);
    return height;
}

int ReportGrid::ContentWidth() const {
    return PixelsToTwipsX(this, contentWidthPixels());
}
int ReportGrid::ContentHeight() const {
    return PixelsToTwipsY(this, contentHeightPixels());
}

} // namespace vm::display
