#include "display/cameras.h"

#include "display/twips.h"
#include "link/coordinator.h"
#include "link/device.h"
#include "link/protocol.h"

#include <QHeaderView>
#include <QScrollBar>
#include <QSet>
#include <QStyle>

#include <algorithm>

namespace vm::display {

namespace {
const QColor kReachable(128, 255, 128);
const QColor kUnreachable(255, 128, 128);

// A cell that sorts by its sort key rather than by its text, so that Line4 comes before
// Line10 and 127.0.0.9 before 127.0.0.10.
class Cell final : public QTableWidgetItem {
public:
    Cell() { setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable); }
    bool operator<(const QTableWidgetItem& other) const override {
        return data(Cameras::SortKeyRole).toString() < other.data(Cameras::SortKeyRole).toString();
    }
};
} // namespace

Cameras::Cameras(QWidget* parent)
    : QTableWidget(0, ColumnCount, parent)
    , m_coord(new vm::link::Coordinator(this)) {
    setHorizontalHeaderLabels(
        {tr("Name"), tr("Address"), tr("Software"), tr("Controlled by"), tr("Reachable")});
    verticalHeader()->hide();
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    // A click on a column's header sorts by it (again: the other way round).
    horizontalHeader()->setSortIndicator(NameColumn, Qt::AscendingOrder);
    horizontalHeader()->setSortIndicatorShown(true);
    horizontalHeader()->setSectionsClickable(true);
    setSortingEnabled(true);
    setTabKeyNavigation(false);
    setAccessibleName(tr("Network overview"));

    connect(m_coord, &vm::link::Coordinator::OnDeviceDiscovered, this, [this](vm::link::Device* d) {
        addDevice(d);
        scheduleRefresh();
    });
    connect(m_coord, &vm::link::Coordinator::OnDeviceVanished, this, &Cameras::scheduleRefresh);
    connect(m_coord, &vm::link::Coordinator::OnRefusedReadersChanged, this, &Cameras::scheduleRefresh);
    connect(m_coord, &vm::link::Coordinator::OnDeviceFocus, this, &Cameras::scheduleRefresh);
    // Hundreds of readers answer one probe within a few ms of each other: each answer
    // laying out the whole table again would hold the window for seconds.
    m_gatherTimer.setSingleShot(true);
    m_gatherTimer.setInterval(kGatherMs);
    connect(&m_gatherTimer, &QTimer::timeout, this, &Cameras::Refresh);
    // Discovery answers carry the controlling station; there is no event for a
    // change of it, so the overview looks again once per probe.
    m_refreshTimer.setInterval(vm::link::kDiscoveryInterval);
    connect(&m_refreshTimer, &QTimer::timeout, this, &Cameras::Refresh);
    m_refreshTimer.start();

    for (vm::link::Device* d : m_coord->Devices())
        addDevice(d);
    m_coord->StartDiscovery();
    // Empty, the columns are as wide as their captions; readers' texts only widen them.
    fitColumns();
    Refresh();
}

Cameras::~Cameras() = default;

QString naturalSortKey(const QString& text) {
    QString key;
    key.reserve(text.size() + 16);
    for (qsizetype i = 0; i < text.size();) {
        if (text.at(i).isDigit()) {
            qsizetype end = i;
            while (end < text.size() && text.at(end).isDigit())
                ++end;
            // Leading zeros do not count; a run longer than ten digits keeps its length.
            qsizetype start = i;
            while (start + 1 < end && text.at(start) == QLatin1Char('0'))
                ++start;
            key += QString(std::max<qsizetype>(0, 10 - (end - start)), QLatin1Char('0'));
            key += QStringView(text).mid(start, end - start);
            i = end;
        } else {
            key += text.at(i).toCaseFolded();
            ++i;
        }
    }
    return key;
}

void Cameras::addDevice(vm::link::Device* device) {
    if (!device)
        return;
    for (const auto& known : std::as_const(m_devices))
        if (known == device)
            return;
    m_devices.append(device);
}

void Cameras::scheduleRefresh() {
    if (!m_gatherTimer.isActive())
        m_gatherTimer.start();
}

void Cameras::Refresh() {
    m_gatherTimer.stop();
    for (vm::link::Device* d : m_coord->Devices())
        addDevice(d);
    m_devices.removeIf([](const QPointer<vm::link::Device>& d) { return d.isNull(); });
    const QList<vm::link::Device*> answering = m_coord->Devices();
    const QSet<const vm::link::Device*> present(answering.cbegin(), answering.cend());
    const vm::link::Device* focused = m_coord->FocusedDevice();
    // Readers whose names cannot be used follow, by their address, with the reason.
    const QList<vm::link::DiscoveryAnswer> refused = m_coord->RefusedReaders();

    setUpdatesEnabled(false);
    // Sorting waits until every row holds its new texts: sorted on each change, the
    // rows would move under the loop that fills them.
    setSortingEnabled(false);

    // Rows of readers that are gone (forgotten by discovery, or no longer answering
    // under a name that cannot be used).
    QSet<const vm::link::Device*> known;
    for (const auto& d : std::as_const(m_devices))
        known.insert(d.data());
    QSet<QString> refusedAddresses;
    for (const vm::link::DiscoveryAnswer& a : refused)
        refusedAddresses.insert(a.address.toString());
    QList<int> goneRows;
    for (auto it = m_deviceRows.begin(); it != m_deviceRows.end();) {
        if (known.contains(it.key())) {
            ++it;
            continue;
        }
        goneRows << it.value()->row();
        it = m_deviceRows.erase(it);
    }
    for (auto it = m_refusedRows.begin(); it != m_refusedRows.end();) {
        if (refusedAddresses.contains(it.key())) {
            ++it;
            continue;
        }
        goneRows << it.value()->row();
        it = m_refusedRows.erase(it);
    }
    std::sort(goneRows.begin(), goneRows.end(), std::greater<int>());
    for (int row : std::as_const(goneRows))
        removeRow(row);

    bool textsChanged = !goneRows.isEmpty();
    auto rowFor = [this](QTableWidgetItem* nameCell) {
        if (nameCell)
            return nameCell->row();
        const int row = rowCount();
        insertRow(row);
        for (int c = 0; c < ColumnCount; ++c)
            setItem(row, c, new Cell);
        return row;
    };
    auto fillRow = [this, &textsChanged](int row, const QStringList& texts, const QString& nameKey,
                                         bool reachable, const QString& nameTip) {
        for (int c = 0; c < ColumnCount; ++c) {
            QTableWidgetItem* cell = item(row, c);
            if (cell->text() != texts[c]) {
                cell->setText(texts[c]);
                textsChanged = true;
            }
            // Equal texts keep the order of the readers' names.
            const QString key =
                (c == NameColumn ? nameKey : naturalSortKey(texts[c])) + QChar(0x1f) + nameKey;
            if (cell->data(SortKeyRole).toString() != key)
                cell->setData(SortKeyRole, key);
            if (c == NameColumn && cell->toolTip() != nameTip)
                cell->setToolTip(nameTip);
            if (c == ReachableColumn) {
                cell->setTextAlignment(Qt::AlignCenter);
                cell->setBackground(reachable ? kReachable : kUnreachable);
                cell->setForeground(Qt::black);
            }
        }
    };
    for (const auto& device : std::as_const(m_devices)) {
        vm::link::Device* d = device.data();
        const int row = rowFor(m_deviceRows.value(d));
        m_deviceRows.insert(d, item(row, NameColumn));
        const bool reachable = present.contains(d) || (d == focused && d->IsConnected());
        QString name = d->Name();
        if (d == focused)
            name += tr(" (focused)");
        const QString address = d->IsSerial() ? d->PortSettings().Name() : d->Address().toString();
        const QString controller = d->ControllerName().isEmpty() ? tr("(none)") : d->ControllerName();
        fillRow(row, {name, address, d->SoftwareVersion(), controller, reachable ? tr("Yes") : tr("No")},
                naturalSortKey(d->Name()), reachable, QString());
    }
    for (const vm::link::DiscoveryAnswer& a : refused) {
        const QString address = a.address.toString();
        const int row = rowFor(m_refusedRows.value(address));
        m_refusedRows.insert(address, item(row, NameColumn));
        const QString controller =
            a.controller.isEmpty() ? tr("(none)") : vm::link::printable(a.controller, 64);
        // After every reader with a name, by address.
        fillRow(row,
                {tr("(name not usable: %1)").arg(a.nameProblem), address, vm::link::printable(a.version, 32),
                 controller, tr("Yes")},
                QChar(0xffff) + naturalSortKey(address), true,
                tr("The reader at %1 calls itself \"%2\", a name Velmarrow cannot use; reach it by "
                   "its address.")
                    .arg(address, vm::link::printable(a.name, vm::link::kMaxReaderNameLength)));
    }
    setSortingEnabled(true);
    applyFilter();
    if (textsChanged)
        fitColumns();
    setUpdatesEnabled(true);
    const int width = ContentWidth();
    if (width != m_lastWidth) {
        m_lastWidth = width;
        emit contentResized();
    }
}

void Cameras::setFilterText(const QString& text) {
    if (text == m_filter)
        return;
    m_filter = text;
    applyFilter();
}

void Cameras::applyFilter() {
    const QString word = m_filter.trimmed();
    int shown = 0;
    for (int row = 0; row < rowCount(); ++row) {
        bool match = word.isEmpty();
        // The reachable column says only Yes or No: a word is looked for in the others.
        for (int c = 0; c < ReachableColumn && !match; ++c)
            match = item(row, c) && item(row, c)->text().contains(word, Qt::CaseInsensitive);
        if (isRowHidden(row) == match)
            setRowHidden(row, !match);
        shown += match ? 1 : 0;
    }
    const bool changed = shown != m_shown || rowCount() != m_lastTotal;
    m_shown = shown;
    m_lastTotal = rowCount();
    if (changed)
        emit countsChanged(m_shown, rowCount());
}

void Cameras::fitColumns() {
    // As wide as the widest text of every row, hidden ones included, so that the
    // columns do not jump while the filter is typed. Measured here rather than by the
    // header, which would lay out every cell of hundreds of rows through the delegate.
    // The widest text is found by its advance; only its cell is measured by the delegate, as
    // the view itself would measure every cell (padding and grid line included).
    const QFontMetrics metrics(font());
    for (int c = 0; c < ColumnCount; ++c) {
        int width = horizontalHeader()->sectionSizeHint(c);
        int widest = -1, widestAdvance = -1;
        for (int row = 0; row < rowCount(); ++row)
            if (const QTableWidgetItem* cell = item(row, c)) {
                const int advance = metrics.horizontalAdvance(cell->text());
                if (advance > widestAdvance) {
                    widestAdvance = advance;
                    widest = row;
                }
            }
        if (widest >= 0)
            width =
                std::max(width, sizeHintForIndex(model()->index(widest, c)).width() + (showGrid() ? 1 : 0));
        if (columnWidth(c) != width)
            setColumnWidth(c, width);
    }
}

int Cameras::ContentWidth() const {
    int width = 2 * frameWidth() + verticalScrollBar()->sizeHint().width();
    for (int c = 0; c < columnCount(); ++c)
        width += columnWidth(c);
    return PixelsToTwipsX(this, width);
}

} // namespace vm::display
