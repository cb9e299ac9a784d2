#include "display/reportgrid.h"

#include "display/twips.h"

#include <QAbstractItemDelegate>
#include <QApplication>
#include <QDateTime>
#include <QHeaderView>
#include <QPainter>
#include <QScrollBar>
#include <QStyleOptionViewItem>
#include <QStyledItemDelegate>

#include <algorithm>

namespace vm::display {

namespace {
const QColor kPassBackground(128, 255, 128);
const QColor kFailBackground(255, 128, 128);

// A cell keeps the picture it was last drawn as, and what it was drawn for.
class ReportCell : public QTableWidgetItem {
public:
    ReportCell(const QString& text, Qt::Alignment alignment)
        : QTableWidgetItem(text) {
        setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        setTextAlignment(alignment);
    }
    void setData(int role, const QVariant& value) override {
        m_picture = QPixmap();
        QTableWidgetItem::setData(role, value);
    }

    // The picture if it shows the cell as `option` asks, else null.
    const QPixmap* pictureFor(const QStyleOptionViewItem& option, qreal ratio) const {
        if (m_picture.isNull() || m_picture.devicePixelRatio() != ratio ||
            m_picture.deviceIndependentSize() != QSizeF(option.rect.size()) || m_look != look(option) ||
            m_palette != option.palette.cacheKey() || m_font != option.font)
            return nullptr;
        return &m_picture;
    }
    const QPixmap& keep(QPixmap picture, const QStyleOptionViewItem& option) const {
        m_picture = std::move(picture);
        m_look = look(option);
        m_palette = option.palette.cacheKey();
        m_font = option.font;
        return m_picture;
    }

private:
    static QStyle::State look(const QStyleOptionViewItem& option) {
        return option.state & (QStyle::State_Selected | QStyle::State_Active | QStyle::State_Enabled |
                               QStyle::State_HasFocus | QStyle::State_MouseOver);
    }

    mutable QPixmap m_picture;
    mutable QStyle::State m_look;
    mutable qint64 m_palette = 0;
    mutable QFont m_font;
};

// Each new record moves every row down by one, and the view then paints every visible cell
// again: at a reader's top rate, laying out and drawing the same texts over and over was most
// of what the report cost. A cell is drawn once into a picture that moves with it, and
// painting a moved cell is copying that picture.
class CellPictureDelegate : public QStyledItemDelegate {
public:
    explicit CellPictureDelegate(QTableWidget* grid)
        : QStyledItemDelegate(grid)
        , m_grid(grid) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const auto* cell = dynamic_cast<const ReportCell*>(m_grid->item(index.row(), index.column()));
        if (!cell) {
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        const qreal ratio = painter->device()->devicePixelRatioF();
        const QPixmap* picture = cell->pictureFor(option, ratio);
        if (!picture) {
            QStyleOptionViewItem opt = option;
            initStyleOption(&opt, index);
            QPixmap drawn(opt.rect.size() * ratio);
            drawn.setDevicePixelRatio(ratio);
            drawn.fill(opt.palette.color(QPalette::Base));
            QPainter cellPainter(&drawn);
            opt.rect.moveTopLeft(QPoint(0, 0));
            const QWidget* widget = opt.widget;
            QStyle* style = widget ? widget->style() : QApplication::style();
            style->drawControl(QStyle::CE_ItemViewItem, &opt, &cellPainter, widget);
            cellPainter.end();
            picture = &cell->keep(std::move(drawn), option);
        }
        painter->drawPixmap(option.rect.topLeft(), *picture);
    }

private:
    QTableWidget* m_grid;
};

QTableWidgetItem* cell(const QString& text, Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter) {
    return new ReportCell(text, alignment);
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
    setItemDelegate(new CellPictureDelegate(this));
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
