#include "display/cameras.h"

#include "display/twips.h"
#include "link/coordinator.h"
#include "link/device.h"
#include "link/protocol.h"

#include <QHeaderView>
#include <QScrollBar>

namespace vm::display {

namespace {
const QColor kReachable(128, 255, 128);
const QColor kUnreachable(255, 128, 128);
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
    setSortingEnabled(false);
    setTabKeyNavigation(false);
    setAccessibleName(tr("Network overview"));

    connect(m_coord, &vm::link::Coordinator::OnDeviceDiscovered, this, [this](vm::link::Device* d) {
        addDevice(d);
        Refresh();
    });
    connect(m_coord, &vm::link::Coordinator::OnDeviceVanished, this, &Cameras::Refresh);
    connect(m_coord, &vm::link::Coordinator::OnRefusedReadersChanged, this, &Cameras::Refresh);
    connect(m_coord, &vm::link::Coordinator::OnDeviceFocus, this, &Cameras::Refresh);
    // Discovery answers carry the controlling station; there is no event for a
    // change of it, so the overview looks again once per probe.
    m_refreshTimer.setInterval(vm::link::kDiscoveryInterval);
    connect(&m_refreshTimer, &QTimer::timeout, this, &Cameras::Refresh);
    m_refreshTimer.start();

    for (vm::link::Device* d : m_coord->Devices())
        addDevice(d);
    m_coord->StartDiscovery();
    Refresh();
}

Cameras::~Cameras() = default;

void Cameras::addDevice(vm::link::Device* device) {
    if (!device)
        return;
    for (const auto& known : std::as_const(m_devices))
        if (known == device)
            return;
    m_devices.append(device);
}

void Cameras::Refresh() {
    for (vm::link::Device* d : m_coord->Devices())
        addDevice(d);
    m_devices.removeIf([](const QPointer<vm::link::Device>& d) { return d.isNull(); });
    const QList<vm::link::Device*> present = m_coord->Devices();
    const vm::link::Device* focused = m_coord->FocusedDevice();

    // Readers whose names cannot be used follow, by their address, with the reason.
    const QList<vm::link::DiscoveryAnswer> refused = m_coord->RefusedReaders();

    setUpdatesEnabled(false);
    setRowCount(int(m_devices.size() + refused.size()));
    auto fillRow = [this](int row, const QStringList& texts, bool reachable, const QString& nameTip) {
        for (int c = 0; c < ColumnCount; ++c) {
            QTableWidgetItem* cell = item(row, c);
            if (!cell) {
                cell = new QTableWidgetItem;
                cell->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
                setItem(row, c, cell);
            }
            if (cell->text() != texts[c])
                cell->setText(texts[c]);
            if (c == NameColumn && cell->toolTip() != nameTip)
                cell->setToolTip(nameTip);
            if (c == ReachableColumn) {
                cell->setTextAlignment(Qt::AlignCenter);
                cell->setBackground(reachable ? kReachable : kUnreachable);
                cell->setForeground(Qt::black);
            }
        }
    };
    for (int row = 0; row < m_devices.size(); ++row) {
        vm::link::Device* d = m_devices.at(row);
        const bool reachable = present.contains(d) || (d == focused && d->IsConnected());
        QString name = d->Name();
        if (d == focused)
            name += tr(" (focused)");
        const QString address = d->IsSerial() ? d->PortSettings().Name() : d->Address().toString();
        const QString controller = d->ControllerName().isEmpty() ? tr("(none)") : d->ControllerName();
        fillRow(row, {name, address, d->SoftwareVersion(), controller, reachable ? tr("Yes") : tr("No")},
                reachable, QString());
    }
    for (int i = 0; i < refused.size(); ++i) {
        const vm::link::DiscoveryAnswer& a = refused.at(i);
        const QString address = a.address.toString();
        const QString controller =
            a.controller.isEmpty() ? tr("(none)") : vm::link::printable(a.controller, 64);
        fillRow(int(m_devices.size() + i),
                {tr("(name not usable: %1)").arg(a.nameProblem), address, vm::link::printable(a.version, 32),
                 controller, tr("Yes")},
                true,
                tr("The reader at %1 calls itself \"%2\", a name Velmarrow cannot use; reach it by "
                   "its address.")
                    .arg(address, vm::link::printable(a.name, vm::link::kMaxReaderNameLength)));
    }
    resizeColumnsToContents();
    setUpdatesEnabled(true);
    const int width = ContentWidth();
    if (width != m_lastWidth) {
        m_lastWidth = width;
        emit contentResized();
    }
}

int Cameras::ContentWidth() const {
    int width = 2 * frameWidth() + verticalScrollBar()->sizeHint().width();
    for (int c = 0; c < columnCount(); ++c)
        width += columnWidth(c);
    return PixelsToTwipsX(this, width);
}

} // namespace vm::display
