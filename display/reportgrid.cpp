#include "display/reportgrid.h"

#include "display/twips.h"

#include <QAbstractItemDelegate>
#include <QApplication>
#include <QDateTime>
#include <QHeaderView>
#include <QPainter>
#include <QPixmapCache>
#include <QScrollBar>
#include <QStyleOptionViewItem>
#include <QStyledItemDelegate>

#include <algorithm>

namespace vm::display {

namespace {
const QColor kPassBackground(128, 255, 128);
const QColor kFailBackground(255, 128, 128);

// Each new record moves every row down by one, and the view then paints every visible cell
// again: at a reader's top rate, laying out and drawing the same texts over and over was most
// of what the report cost. A cell is drawn once into a picture, and a moved cell is that
// picture copied.
class CachedCellDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem opt = option;
        initStyleOption(&opt, index);
        const qreal ratio = painter->device()->devicePixelRatioF();
        constexpr QStyle::State kLook = QStyle::State_Selected | QStyle::State_Active |
                                        QStyle::State_Enabled | QStyle::State_HasFocus |
                                        QStyle::State_MouseOver;
        const QString key = QStringLiteral("vm-report-cell|%1|%2|%3|%4|%5x%6@%7|%8|%9")
                                .arg(opt.backgroundBrush.style() == Qt::NoBrush
                                         ? QStringLiteral("-")
                                         : opt.backgroundBrush.color().name(QColor::HexArgb))
                                .arg(opt.palette.color(QPalette::Text).name(QColor::HexArgb))
                                .arg(int(opt.displayAlignment))
                                .arg(int(opt.state & kLook))
                                .arg(opt.rect.width())
                                .arg(opt.rect.height())
                                .arg(ratio)
                                .arg(opt.font.key())
                                .arg(opt.text);
        QPixmap picture;
        if (!QPixmapCache::find(key, &picture)) {
            picture = QPixmap(opt.rect.size() * ratio);
            picture.setDevicePixelRatio(ratio);
            picture.fill(opt.palette.color(QPalette::Base));
            QPainter cellPainter(&picture);
            QStyleOptionViewItem atOrigin = opt;
            atOrigin.rect.moveTopLeft(QPoint(0, 0));
            const QWidget* widget = opt.widget;
            QStyle* style = widget ? widget->style() : QApplication::style();
            style->drawControl(QStyle::CE_ItemViewItem, &atOrigin, &cellPainter, widget);
            cellPainter.end();
            QPixmapCache::insert(key, picture);
        }
        painter->drawPixmap(option.rect.topLeft(), picture);
    }
};

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
    setItemDelegate(new CachedCellDelegate(this));
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
