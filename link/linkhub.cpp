#include "link/linkhub.h"

#include "link/connection.h"
#include "link/coordinator.h"
#include "link/device.h"
#include "link/logging.h"
#include "link/serialports.h"

#include <QNetworkDatagram>
#include <QNetworkInterface>

namespace vm::link {

namespace {
LinkHub* g_hub = nullptr;
int g_hubUsers = 0;
} // namespace

LinkHub* LinkHub::acquire() {
    if (!g_hub)
        g_hub = new LinkHub; // released in release(): the hub outlives every user
    ++g_hubUsers;
    return g_hub;
}

void LinkHub::release() {
    if (--g_hubUsers > 0)
        return;
    // The last user may go away inside one of the hub's own deliveries: close
    // everything now, free the hub once that delivery is over.
    LinkHub* hub = g_hub;
    g_hub = nullptr;
    hub->shutdown();
    hub->deleteLater();
}

void LinkHub::shutdown() {
    detachFocused();
    m_probeTimer.stop();
    m_discovering = false;
    m_udp.close();
    m_events.clear();
    m_queuedRecords = 0;
    m_resetQueued = false;
    for (auto& d : m_devices)
        d->closeLinks();
}

LinkHub* LinkHub::instance() {
    return g_hub;
}

LinkHub::LinkHub() {
    detail::setWaitEndedHandler([] {
        if (g_hub)
            g_hub->scheduleFlush();
    });

    m_probeTimer.setInterval(kDiscoveryInterval);
    connect(&m_probeTimer, &QTimer::timeout, this, &LinkHub::probe);
    connect(&m_udp, &QUdpSocket::readyRead, this, &LinkHub::readDatagrams);
}

LinkHub::~LinkHub() {
    shutdown();
}

template <typename F>
void LinkHub::forEachConnection(F f) {
    const auto connections = m_connections;
    for (const QPointer<Connection>& c : connections)
        if (c)
            f(c.data());
}

template <typename F>
void LinkHub::postToConnections(F f) {
    // Only the connections that exist now: one created later was bound to the reader as it
    // already was, and would otherwise load everything twice.
    const auto targets = m_connections;
    post([this, targets, f] {
        for (const QPointer<Connection>& c : targets)
            if (c && m_connections.contains(c))
                f(c.data());
    });
}

template <typename F>
void LinkHub::forEachCoordinator(F f) {
    const auto coordinators = m_coordinators;
    for (const QPointer<Coordinator>& c : coordinators)
        if (c)
            f(c.data());
}

void LinkHub::addConnection(Connection* connection) {
    m_connections.append(connection);
}
void LinkHub::removeConnection(Connection* connection) {
    m_connections.removeAll(connection);
}
void LinkHub::addCoordinator(Coordinator* coordinator) {
    m_coordinators.append(coordinator);
}
void LinkHub::removeCoordinator(Coordinator* coordinator) {
    m_coordinators.removeAll(coordinator);
}

CommandResponse& LinkHub::channel() {
    return m_focused ? m_focused->PortSettings() : m_idleChannel;
}

// Events wait in a queue and are delivered from the event loop, never inside a
// command wait, so that no window sees an event in the middle of its own command.
void LinkHub::post(std::function<void()> deliver, bool record) {
    if (record) {
        if (m_queuedRecords >= kMaxQueuedRecords) {
            auto oldest =
                std::find_if(m_events.begin(), m_events.end(), [](const Event& e) { return e.record; });
            if (oldest != m_events.end()) {
                m_events.erase(oldest);
                --m_queuedRecords;
                qCWarning(lcLink) << "records arrive faster than they are handled; dropped the oldest";
            }
        }
        ++m_queuedRecords;
    }
    m_events.push_back({std::move(deliver), record});
    scheduleFlush();
}

void LinkHub::scheduleFlush() {
    if (m_flushScheduled || m_events.empty())
        return;
    m_flushScheduled = true;
    QMetaObject::invokeMethod(this, &LinkHub::flush, Qt::QueuedConnection);
}

void LinkHub::flush() {
    m_flushScheduled = false;
    if (detail::waitDepth() > 0)
        return; // the wait's end schedules the next flush
    // A handler may open a modal box; its event loop brings the next flush here while
    // the outer one is still delivering. The events behind it go out from there, so
    // that counters, records and resets keep flowing while the operator reads the box.
    // Only a command's wait holds them back.
    while (!m_events.empty() && detail::waitDepth() == 0) {
        Event e = std::move(m_events.front());
        m_events.pop_front();
        if (e.record)
            --m_queuedRecords;
        e.deliver();
    }
    scheduleFlush();
}

void LinkHub::broadcast(const QString& sender, const QString& message, const QString& text) {
    postToConnections(
        [sender, message, text](Connection* c) { emit c->OnBroadcastMessage(sender, message, text); });
    post([this, sender, message, text] {
        forEachCoordinator([&](Coordinator* c) { emit c->OnBroadcastMessage(sender, message, text); });
    });
}

void LinkHub::postReset() {
    // A reset tells the windows to read the reader's state again; one that has not been
    // delivered yet already does that for this one too. It goes to the connections that
    // existed when either was posted: one created later was bound to the reader as it was.
    for (const QPointer<Connection>& c : std::as_const(m_connections))
        if (!m_resetTargets.contains(c))
            m_resetTargets.append(c);
    if (m_resetQueued)
        return;
    m_resetQueued = true;
    post([this] {
        m_resetQueued = false;
        const auto targets = std::exchange(m_resetTargets, {});
        for (const QPointer<Connection>& c : targets)
            if (c && m_connections.contains(c))
                emit c->OnConnectionReset();
    });
}

QList<QHostAddress> LinkHub::discoveryTargets(QList<quint16>* ports) const {
    QList<QHostAddress> targets;
    ports->clear();
    const QString configured = qEnvironmentVariable("VELMARROW_DISCOVERY_TARGETS");
    if (!configured.isEmpty()) {
        for (const QString& entry : configured.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            const QString trimmed = entry.trimmed();
            const qsizetype colon = trimmed.lastIndexOf(QLatin1Char(':'));
            QHostAddress address(colon > 0 ? trimmed.left(colon) : trimmed);
            const quint16 port = colon > 0 ? quint16(trimmed.mid(colon + 1).toUInt()) : kDiscoveryPort;
            if (address.isNull() || port == 0) {
                qCWarning(lcLink).noquote() << "ignoring discovery target" << trimmed;
                continue;
            }
            targets.append(address);
            ports->append(port);
        }
        return targets;
    }
    for (const QNetworkInterface& nif : QNetworkInterface::allInterfaces()) {
        if (!(nif.flags() & QNetworkInterface::IsUp) || !(nif.flags() & QNetworkInterface::CanBroadcast))
            continue;
        for (const QNetworkAddressEntry& entry : nif.addressEntries()) {
            if (entry.ip().protocol() == QAbstractSocket::IPv4Protocol && !entry.broadcast().isNull() &&
                !targets.contains(entry.broadcast())) {
                targets.append(entry.broadcast());
                ports->append(kDiscoveryPort);
            }
        }
    }
    targets.append(QHostAddress(QStringLiteral("127.255.255.255")));
    ports->append(kDiscoveryPort);
    return targets;
}

void LinkHub::startDiscovery() {
    if (!m_discovering) {
        if (m_udp.state() != QAbstractSocket::BoundState &&
            !m_udp.bind(QHostAddress(QHostAddress::AnyIPv4), 0)) {
            qCWarning(lcLink).noquote() << "discovery cannot open its socket:" << m_udp.errorString();
            return;
        }
        m_discovering = true;
        m_probeTimer.start();
    }
    probe();
}

void LinkHub::probe() {
    if (!m_clock.isValid())
        m_clock.start();
    for (auto& device : m_devices) {
        if (!device->isDiscovered() || !device->present())
            continue;
        if (++device->missedProbes() > kDiscoveryMissLimit) {
            device->setPresent(false);
            qCInfo(lcLink).noquote() << printable(device->Name()) << "stopped answering discovery";
            m_vanishedAt.insert(device.get(), m_clock.elapsed());
            QPointer<Device> d = device.get();
            post([this, d] {
                if (d)
                    forEachCoordinator([&](Coordinator* c) { emit c->OnDeviceVanished(d); });
            });
        }
    }
    // A reader with an unusable name is never in use, so it is dropped as soon as it is silent.
    for (Refused& r : m_refused)
        ++r.missedProbes;
    if (m_refused.removeIf([](const Refused& r) { return r.missedProbes > kDiscoveryMissLimit; }) > 0)
        postRefusedChanged();
    // Readers gone for long are forgotten; until then they stay listed as unreachable.
    QList<Device*> expired;
    for (auto it = m_vanishedAt.begin(); it != m_vanishedAt.end(); ++it)
        if (m_clock.elapsed() - it.value() > kDiscoveryForgetMs)
            expired.append(it.key());
    for (Device* d : expired)
        forget(d);
    QList<quint16> ports;
    const QList<QHostAddress> targets = discoveryTargets(&ports);
    for (qsizetype i = 0; i < targets.size(); ++i)
        m_udp.writeDatagram(discoveryProbe(), targets.at(i), ports.at(i));
}

void LinkHub::readDatagrams() {
    while (m_udp.hasPendingDatagrams()) {
        const QNetworkDatagram datagram = m_udp.receiveDatagram(64 * 1024);
        std::optional<DiscoveryAnswer> answer =
            readDiscoveryAnswer(datagram.data(), datagram.senderAddress());
        if (answer && answer->nameProblem.isEmpty())
            handleAnswer(*answer);
        else if (answer)
            handleRefusedAnswer(*answer);
        else
            qCDebug(lcLink) << "ignoring a datagram from" << datagram.senderAddress();
    }
}

QString LinkHub::discoveryKey(const QHostAddress& address, quint16 commandPort) {
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    return (isV4 ? QHostAddress(v4).toString() : address.toString()) + QLatin1Char('/') +
           QString::number(commandPort);
}

void LinkHub::forget(Device* device) {
    // A reader that vanished is forgotten unless it is in use; it is found again when it answers.
    if (!device || device->present() || device == m_focused || device->IsConnected() ||
        !device->isDiscovered())
        return;
    m_vanishedAt.remove(device);
    m_discovered.remove(discoveryKey(device->Address(), device->CommandPort()));
    auto it =
        std::find_if(m_devices.begin(), m_devices.end(), [&](const auto& d) { return d.get() == device; });
    if (it == m_devices.end())
        return;
    it->release()->deleteLater();
    m_devices.erase(it);
}

void LinkHub::postRefusedChanged() {
    post([this] { forEachCoordinator([](Coordinator* c) { emit c->OnRefusedReadersChanged(); }); });
}

void LinkHub::handleRefusedAnswer(const DiscoveryAnswer& answer) {
    const QString key = discoveryKey(answer.address, answer.commandPort);
    auto it =
        std::find_if(m_refused.begin(), m_refused.end(), [&](const Refused& r) { return r.key == key; });
    if (it != m_refused.end()) {
        // Heard before: told once already, not on every answer.
        it->missedProbes = 0;
        const bool renamed = it->answer.name != answer.name;
        it->answer = answer;
        if (renamed)
            postRefusedChanged();
        return;
    }
    if (m_refused.size() >= kMaxDiscoveredReaders)
        return;
    m_refused.append({key, answer, 0});
    qCInfo(lcLink).noquote() << "the reader at" << answer.address.toString() << "announces the name"
                             << printable(answer.name, kMaxReaderNameLength + 16)
                             << "which cannot be used:" << answer.nameProblem
                             << "- it is listed by its address";
    postRefusedChanged();
}

QList<DiscoveryAnswer> LinkHub::refusedReaders() const {
    QList<DiscoveryAnswer> list;
    for (const Refused& r : m_refused)
        list.append(r.answer);
    return list;
}

void LinkHub::handleAnswer(DiscoveryAnswer answer) {
    const QString key = discoveryKey(answer.address, answer.commandPort);
    // The reader took a name that can be used: it is no longer listed apart.
    if (m_refused.removeIf([&](const Refused& r) { return r.key == key; }) > 0)
        postRefusedChanged();
    Device* device = m_discovered.value(key);
    if (!device && (device = movedReader(answer))) {
        // The same unit answering from another address, after a reboot that gave it a new
        // one: its device follows it there, so that a focus on it comes back by itself.
        qCInfo(lcLink).noquote() << printable(device->Name()) << "now answers as" << printable(answer.name)
                                 << "at" << answer.address.toString();
        m_discovered.remove(discoveryKey(device->Address(), device->CommandPort()));
        m_discovered.insert(key, device);
    } else if (!device) {
        if (m_discovered.size() >= kMaxDiscoveredReaders) {
            // Room is made by forgetting the reader that vanished first.
            Device* oldest = nullptr;
            for (auto it = m_vanishedAt.begin(); it != m_vanishedAt.end(); ++it)
                if (it.key() != m_focused && (!oldest || it.value() < m_vanishedAt.value(oldest)))
                    oldest = it.key();
            forget(oldest);
        }
        if (m_discovered.size() >= kMaxDiscoveredReaders) {
            if (m_discoveryWarnings.allow())
                qCWarning(lcLink).noquote()
                    << "ignoring the answer of" << printable(answer.name) << "at" << answer.address.toString()
                    << "- already" << m_discovered.size() << "readers known";
            return;
        }
        m_devices.push_back(std::make_unique<Device>());
        device = m_devices.back().get();
        device->setPresent(false);
        m_discovered.insert(key, device);
    } else if (device->IsConnected()) {
        // A reader in use keeps its name and data port: a datagram, easily forged, does
        // not move its links. One that is not reachable where it was (rebooted under a new
        // name, say) takes the name it answers with.
        answer.name = device->Name();
        answer.dataPort = device->DataPort();
    }
    const bool wasPresent = device->present();
    const bool wasControlled = device->HasControl();
    const QString controller = device->ControllerName();
    device->configureFromDiscovery(answer);
    device->missedProbes() = 0;
    device->setPresent(true);
    m_vanishedAt.remove(device);
    if (!wasPresent) {
        qCInfo(lcLink).noquote() << "found reader" << printable(answer.name) << "at"
                                 << answer.address.toString();
        QPointer<Device> d = device;
        post([this, d] {
            if (d)
                forEachCoordinator([&](Coordinator* c) { emit c->OnDeviceDiscovered(d); });
        });
    }
    if (device == m_focused && !device->IsConnected() &&
        (wasControlled != device->HasControl() || controller != device->ControllerName()))
        postToConnections([](Connection* c) { emit c->OnControlStatusChanged(); });
}

Device* LinkHub::movedReader(const DiscoveryAnswer& answer) const {
    if (answer.mac.isEmpty())
        return nullptr;
    Device* found = nullptr;
    for (const auto& d : m_devices) {
        if (!d->isDiscovered() || d->MacAddress().compare(answer.mac, Qt::CaseInsensitive) != 0)
            continue;
        // Two devices with one MAC address: no telling which one moved.
        if (found)
            return nullptr;
        found = d.get();
    }
    // A reader in use, or one still answering where it was, has not moved.
    if (!found || found->IsConnected() || (found->present() && found->missedProbes() == 0))
        return nullptr;
    return found;
}

QList<Device*> LinkHub::devices() const {
    QList<Device*> list;
    for (const auto& d : m_devices)
        if (d->isDiscovered() && d->present())
            list.append(d.get());
    return list;
}

Device* LinkHub::findForFocus(const QString& name) {
    for (const auto& d : m_devices)
        if (d->isDiscovered() && d->present() && d->Name() == name)
            return d.get();
    for (const auto& d : m_devices)
        if (!d->isDiscovered() && d->Name() == name)
            return d.get();
    if (isDottedAddress(name)) {
        m_devices.push_back(std::make_unique<Device>());
        Device* d = m_devices.back().get();
        // A reader at a static address: discovery may know its ports.
        quint16 commandPort = kDefaultCommandPort;
        quint16 dataPort = kDefaultDataPort;
        bool found = false;
        for (const auto& known : m_devices) {
            if (known->isDiscovered() && known->Address() == QHostAddress(name)) {
                commandPort = known->CommandPort();
                dataPort = known->DataPort();
                found = true;
                break;
            }
        }
        // A reader whose name cannot be used is reached here, by its address alone.
        for (qsizetype i = 0; !found && i < m_refused.size(); ++i) {
            if (m_refused.at(i).answer.address == QHostAddress(name)) {
                commandPort = m_refused.at(i).answer.commandPort;
                dataPort = m_refused.at(i).answer.dataPort;
                found = true;
            }
        }
        d->configureAddress(name, QHostAddress(name), commandPort, dataPort);
        return d;
    }
    if (looksLikeSerialPortName(name)) {
        m_devices.push_back(std::make_unique<Device>());
        Device* d = m_devices.back().get();
        d->configureSerial(name);
        return d;
    }
    return nullptr;
}

void LinkHub::attachFocused(Device* device) {
    m_focused = device;
    connect(device, &Device::linkStateChanged, this, [this](bool) { postReset(); });
    connect(device, &Device::controlChanged, this,
            [this] { postToConnections([](Connection* c) { emit c->OnControlStatusChanged(); }); });
    connect(device, &Device::lineStateChanged, this, [this](const QString& line, bool active, bool high) {
        postToConnections(
            [line, active, high](Connection* c) { emit c->OnLineStateChanged(line, active, high); });
    });
    connect(device, &Device::recordReceived, this, [this](const Record& record) {
        post([this, record] { forEachConnection([&](Connection* c) { c->deliverRecord(record); }); }, true);
    });
    auto toImageConnections = [this](auto signal, auto... args) {
        post([this, signal, args...] {
            forEachConnection([&](Connection* c) {
                if (auto* ic = qobject_cast<ImageConnection*>(c))
                    emit(ic->*signal)(args...);
            });
        });
    };
    connect(device, &Device::OnDataTransferStarted, this,
            [toImageConnections] { toImageConnections(&ImageConnection::OnDataTransferStarted); });
    connect(device, &Device::OnDataTransferPercentComplete, this, [toImageConnections](int percent) {
        toImageConnections(&ImageConnection::OnDataTransferPercentComplete, percent);
    });
    connect(device, &Device::OnDataTransferAborted, this,
            [toImageConnections] { toImageConnections(&ImageConnection::OnDataTransferAborted); });
}

void LinkHub::detachFocused() {
    if (!m_focused)
        return;
    m_focused->disconnect(this);
    m_focused->closeLinks();
    m_focused = nullptr;
}

Device* LinkHub::deviceFor(const QString& name) {
    const QString trimmed = name.trimmed();
    return trimmed.isEmpty() ? nullptr : findForFocus(trimmed);
}

bool LinkHub::focus(const QString& name) {
    const QString trimmed = name.trimmed();
    Device* device = trimmed.isEmpty() ? nullptr : findForFocus(trimmed);
    if (!trimmed.isEmpty() && !device)
        qCInfo(lcLink).noquote() << "no reader named" << trimmed;
    if (device != m_focused) {
        detachFocused();
        if (device) {
            qCInfo(lcLink).noquote() << "focusing" << device->Name();
            // Connect before listening, so that the opening raises one reset, not two.
            device->openLinks(kConnectTimeoutMs + kHandshakeTimeoutMs);
            attachFocused(device);
        }
    } else if (device && !device->IsConnected()) {
        // Focused again while it re-connects: the operator asks for it now.
        device->openLinks(kConnectTimeoutMs + kHandshakeTimeoutMs);
    }
    QPointer<Device> focused = m_focused;
    post([this, focused] { forEachCoordinator([&](Coordinator* c) { emit c->OnDeviceFocus(focused); }); });
    postReset();
    return m_focused && m_focused->IsConnected();
}

// Coordinator

Coordinator::Coordinator(QObject* parent)
    : QObject(parent)
    , m_hub(LinkHub::acquire()) {
    m_hub->addCoordinator(this);
}

Coordinator::~Coordinator() {
    m_hub->removeCoordinator(this);
    LinkHub::release();
}

void Coordinator::StartDiscovery() {
    m_hub->startDiscovery();
}
QList<Device*> Coordinator::Devices() const {
    return m_hub->devices();
}
QList<DiscoveryAnswer> Coordinator::RefusedReaders() const {
    return m_hub->refusedReaders();
}
bool Coordinator::Focus(const QString& name, const QString&, const QString&) {
    return m_hub->focus(name);
}
Device* Coordinator::DeviceFor(const QString& name) const {
    return m_hub->deviceFor(name);
}
Device* Coordinator::FocusedDevice() const {
    return m_hub->focusedDevice();
}
QStringList Coordinator::SerialPortNames() const {
    return availableSerialPortNames();
}
int Coordinator::SerialPortCount() const {
    return int(availableSerialPortNames().size());
}

bool Coordinator::IsSerialPort(const QString& name) const {
    const QString withColon = name.endsWith(QLatin1Char(':')) ? name : name + QLatin1Char(':');
    return availableSerialPortNames().contains(withColon, Qt::CaseInsensitive);
}

// Connections

Connection::Connection(QObject* parent)
    : QObject(parent)
    , m_hub(LinkHub::acquire()) {
    m_hub->addConnection(this);
}

Connection::~Connection() {
    m_hub->removeConnection(this);
    LinkHub::release();
}

vm::link::Device* Connection::Device() const {
    return m_hub->focusedDevice();
}
bool Connection::Connected() const {
    return Device() && Device()->IsConnected();
}
bool Connection::HasControl() const {
    return Connected() && Device()->HasControl();
}
bool Connection::IsSerial() const {
    return Device() && Device()->IsSerial();
}
CommandResponse& Connection::Response() {
    return m_hub->channel();
}

CommandReply Connection::SendCommand(const QString& text, int timeoutMs) {
    return m_hub->channel().SendCommand(text, timeoutMs);
}

QString Connection::Query(const QString& text, int timeoutMs) {
    const CommandReply reply = m_hub->channel().SendCommand(text, timeoutMs);
    return reply.ok ? reply.lines.join(QStringLiteral("\r\n")) : QString();
}

void Connection::BroadcastMessage(const QString& sender, const QString& message, const QString& text) {
    m_hub->broadcast(sender, message, text);
}

void Connection::deliverRecord(const Record& record) {
    emit OnNewRecord(record);
}

ImageConnection::ImageConnection(QObject* parent)
    : Connection(parent) {}

void ImageConnection::deliverRecord(const Record& record) {
    // Over a serial line an image travels only when the PC asked for one in its report
    // request, so it is always wanted.
    if (m_acquisition.IsRunning() || record.Image().IsEmpty() || IsSerial()) {
        emit OnNewRecord(record);
        return;
    }
    Record withoutImage = record;
    const RecordImage& image = record.Image();
    withoutImage.m_image =
        RecordImage(QImage(), image.Number(), image.Exposure(), image.Gain(), image.PhotometryValid());
    emit OnNewRecord(withoutImage);
}

} // namespace vm::link
