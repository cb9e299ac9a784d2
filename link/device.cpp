#include "link/device.h"

#include "link/logging.h"
#include "link/serialports.h"
#include "link/transport.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSysInfo>

namespace vm::link {

namespace {
QString unquote(const QString& text) {
    if (text.size() >= 2 && text.startsWith(QLatin1Char('"')) && text.endsWith(QLatin1Char('"')))
        return text.mid(1, text.size() - 2);
    return text;
}

// The value of a one-line reply "KEYWORD value", quotes removed.
QString replyValue(const CommandReply& reply) {
    for (const QString& line : reply.lines) {
        const qsizetype blank = line.indexOf(QLatin1Char(' '));
        if (blank > 0)
            return unquote(line.mid(blank + 1).trimmed());
        if (!line.isEmpty())
            return {};
    }
    return {};
}

QString networkStationName() {
    const QString fromEnvironment = qEnvironmentVariable("VELMARROW_STATION");
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    const QString host = QSysInfo::machineHostName();
    return host.isEmpty() ? QStringLiteral("velmarrow") : host;
}
} // namespace

void TransferChannel::SetMode(int mode) {
    if (mode == m_mode)
        return;
    m_mode = mode;
    m_device->subscriptionChanged();
}

void TransferChannel::SetRate(int rate) {
    rate = qMax(0, rate);
    if (rate == m_rate)
        return;
    m_rate = rate;
    m_device->subscriptionChanged();
}

void TransferChannel::SetLegacy(bool legacy) {
    if (legacy == m_legacy)
        return;
    m_legacy = legacy;
    m_device->subscriptionChanged();
}

Device::Device(QObject* parent)
    : QObject(parent)
    , m_command(QString(), this) {
    m_retryTimer.setSingleShot(true);
    connect(&m_retryTimer, &QTimer::timeout, this, [this] {
        if (m_wanted && !m_commandLink)
            startLinks(!m_serial);
    });
    connect(&m_command, &CommandResponse::commandCompleted, this, &Device::onCommandCompleted);
    connect(&m_command, &CommandResponse::asyncRecord, this, &Device::onRecordPayload);
    connect(&m_command, &CommandResponse::asyncEvent, this, &Device::onEvent);
}

Device::~Device() {
    m_wanted = false;
    closeTransports();
}

void Device::SetName(const QString& name) {
    if (m_name.isEmpty() && !m_discovered && m_serialPort.isEmpty() && m_address.isNull()) {
        if (isDottedAddress(name)) {
            configureAddress(name, QHostAddress(name), kDefaultCommandPort, kDefaultDataPort);
            return;
        }
        if (looksLikeSerialPortName(name)) {
            configureSerial(name);
            return;
        }
    }
    m_name = name;
}

void Device::configureFromDiscovery(const DiscoveryAnswer& answer) {
    m_discovered = true;
    m_serial = false;
    m_name = answer.name;
    const bool moved =
        m_address != answer.address || m_commandPort != answer.commandPort || m_dataPort != answer.dataPort;
    m_address = answer.address;
    m_commandPort = answer.commandPort;
    m_dataPort = answer.dataPort;
    m_mac = answer.mac;
    m_command.setName(m_address.toString());
    // While linked, the reader's own events are fresher than a datagram.
    if (!m_up) {
        if (!answer.version.isEmpty())
            m_version = answer.version;
        m_controller = answer.controller;
    }
    if (moved && m_wanted) {
        dropLinks(QStringLiteral("the reader moved to another address"));
        // Where it answers now it is worth trying at once, not after the back-off that
        // the old address earned.
        m_retryDelay = kReconnectFirstDelayMs;
        m_retryTimer.stop();
        scheduleRetry();
    }
}

void Device::configureAddress(const QString& name, const QHostAddress& address, quint16 commandPort,
                              quint16 dataPort) {
    m_serial = false;
    m_name = name;
    m_address = address;
    m_commandPort = commandPort;
    m_dataPort = dataPort;
    m_command.setName(address.toString());
}

void Device::configureSerial(const QString& portName) {
    m_serial = true;
    m_name = portName;
    m_serialPort = portName;
    m_serialPath = serialDevicePath(portName);
    m_command.setName(portName);
}

QString Device::StationName() const {
    if (m_serial)
        return m_serialPath.isEmpty() ? m_serialPort : m_serialPath;
    return networkStationName();
}

bool Device::HasControl() const {
    return !m_controller.isEmpty() && m_controller == StationName();
}

bool Device::waitUntil(const std::function<bool()>& done, int timeoutMs) {
    // Opening can fail without a state change, so the loop also looks every 10 ms.
    return detail::waitLoop(
        done, timeoutMs,
        [this](QObject* context, const std::function<void()>& check) {
            connect(this, &Device::linkStateChanged, context, check);
            connect(&m_command, &CommandResponse::progress, context, check);
        },
        10);
}

void Device::startLinks(bool withData) {
    closeTransports();
    const quint64 generation = ++m_generation;
    m_attemptFailed = false;
    if (m_serial) {
        m_serialPath = serialDevicePath(m_serialPort);
        if (m_serialPath.isEmpty()) {
            m_attemptFailed = true;
            qCInfo(lcLink).noquote() << "serial port" << m_serialPort << "is not available";
            if (m_wanted)
                scheduleRetry();
            return;
        }
        // Asked at every opening, so that settings changed meanwhile take effect now.
        m_commandLink = createSerialTransport(m_serialPath, serialLineSettings(m_serialPort));
    } else {
        m_commandLink = createTcpTransport(Transport::Kind::TcpCommand, m_address, m_commandPort);
        if (withData)
            m_dataLink = createTcpTransport(Transport::Kind::TcpData, m_address, m_dataPort);
    }
    m_command.attach(m_commandLink.get());
    auto guarded = [this, generation](auto f) {
        return [this, generation, f](auto&&... args) {
            if (generation == m_generation)
                f(args...);
        };
    };
    connect(m_commandLink.get(), &Transport::connected, this, guarded([this] {
                m_commandUp = true;
                startHandshake();
            }));
    connect(m_commandLink.get(), &Transport::errorOccurred, this,
            guarded([this](const QString& text) { dropLinks(text); }));
    connect(m_commandLink.get(), &Transport::disconnected, this,
            guarded([this] { dropLinks(QStringLiteral("the reader closed the command link")); }));
    if (m_dataLink) {
        connect(m_dataLink.get(), &Transport::connected, this, guarded([this] {
                    m_dataUp = true;
                    sendSubscription();
                    checkUp();
                }));
        connect(m_dataLink.get(), &Transport::bytesReceived, this,
                guarded([this](const QByteArray& bytes) { onDataBytes(bytes); }));
        connect(m_dataLink.get(), &Transport::errorOccurred, this,
                guarded([this](const QString& text) { dropLinks(text); }));
        connect(m_dataLink.get(), &Transport::disconnected, this,
                guarded([this] { dropLinks(QStringLiteral("the reader closed the data link")); }));
        m_dataLink->open();
    }
    m_commandLink->open();
}

void Device::closeTransports() {
    ++m_generation;
    m_command.detach();
    for (auto* link : {&m_commandLink, &m_dataLink}) {
        if (!*link)
            continue;
        (*link)->disconnect(this);
        (*link)->close();
        // We may be inside one of its signals: let it finish first.
        link->release()->deleteLater();
    }
    m_decoder.clear();
    m_commandUp = m_dataUp = m_handshakeDone = false;
    m_up = false;
}

void Device::dropLinks(const QString& why) {
    if (!m_commandLink && !m_dataLink)
        return;
    qCInfo(lcLink).noquote() << m_name << "link down:" << why;
    const bool wasUp = m_up;
    closeTransports();
    m_lineStates.clear();
    m_attemptFailed = true;
    m_refreshOpen = false;
    if (wasUp)
        emit linkStateChanged(false);
    if (m_wanted)
        scheduleRetry();
}

void Device::scheduleRetry() {
    m_retryTimer.start(m_retryDelay);
    m_retryDelay = qMin(m_retryDelay * 2, kReconnectMaxDelayMs);
}

void Device::checkUp() {
    if (m_up || !m_commandUp || !m_handshakeDone || (!m_serial && m_wanted && !m_dataUp))
        return;
    if (!m_wanted && !m_refreshOpen)
        return;
    m_up = m_wanted; // a link opened only to refresh is not "connected"
    m_retryDelay = kReconnectFirstDelayMs;
    if (m_up) {
        qCInfo(lcLink).noquote() << m_name << "link up";
        emit linkStateChanged(true);
    }
}

void Device::startHandshake() {
    const quint64 generation = m_generation;
    auto failed = [this, generation](const CommandReply& reply) {
        if (generation != m_generation || reply.completed)
            return false;
        dropLinks(QStringLiteral("no answer while connecting: ") + reply.errorText);
        return true;
    };
    m_command.sendAsync(
        QStringLiteral("STATION ") + StationName(), [failed](const CommandReply& r) { failed(r); },
        kHandshakeTimeoutMs);
    m_command.sendAsync(
        QStringLiteral("VERSION"), [failed](const CommandReply& r) { failed(r); }, kHandshakeTimeoutMs);
    m_command.sendAsync(
        QStringLiteral("CONTROLLER"), [failed](const CommandReply& r) { failed(r); }, kHandshakeTimeoutMs);
    m_command.sendAsync(
        QStringLiteral("NAME"),
        [this, generation, failed](const CommandReply& r) {
            if (failed(r) || generation != m_generation)
                return;
            m_handshakeDone = true;
            checkUp();
        },
        kHandshakeTimeoutMs);
}

void Device::onCommandCompleted(const QString& keyword, const CommandReply& reply) {
    if (!reply.ok)
        return;
    if (keyword == QLatin1String("CONTROL")) {
        setController(StationName());
    } else if (keyword == QLatin1String("RELEASE")) {
        if (HasControl())
            setController(QString());
    } else if (keyword == QLatin1String("CONTROLLER")) {
        setController(replyValue(reply));
    } else if (keyword == QLatin1String("VERSION")) {
        const QString version = replyValue(reply);
        if (!version.isEmpty())
            m_version = version;
    } else if (keyword == QLatin1String("NAME")) {
        // Discovered readers go by their own name; others by the caption that named them.
        adoptName(replyValue(reply));
    }
}

void Device::adoptName(const QString& name) {
    if (!m_discovered || name.isEmpty() || name == m_name)
        return;
    // Image files and folders are named after the reader: a name the program cannot use
    // keeps the one it was found under.
    const QString problem = readerNameProblem(name);
    if (!problem.isEmpty()) {
        if (m_warnings.allow())
            qCInfo(lcLink).noquote() << m_name << "now calls itself"
                                     << printable(name, kMaxReaderNameLength + 16)
                                     << "which cannot be used:" << problem << "- it keeps its name";
        return;
    }
    m_name = name;
}

void Device::setController(const QString& controller) {
    if (controller == m_controller)
        return;
    qCInfo(lcLink).noquote() << m_name << "control:"
                             << (controller.isEmpty() ? QStringLiteral("(nobody)") : controller);
    m_controller = controller;
    emit controlChanged();
}

void Device::onDataBytes(const QByteArray& bytes) {
    m_decoder.append(bytes);
    while (auto frame = m_decoder.next()) {
        switch (FrameType(frame->type)) {
        case FrameType::Record:
            onRecordPayload(frame->payload);
            break;
        case FrameType::Event: {
            QJsonParseError error;
            const QJsonDocument doc = QJsonDocument::fromJson(frame->payload, &error);
            if (doc.isObject())
                onEvent(doc.object());
            else
                qCWarning(lcLink).noquote() << m_name << "dropping a malformed event:" << error.errorString();
            break;
        }
        case FrameType::FileAck: {
            QJsonParseError parseError;
            const QJsonDocument doc = QJsonDocument::fromJson(frame->payload, &parseError);
            const QJsonObject ack = doc.object();
            m_fileAck.received = true;
            m_fileAck.ok = ack.value(QLatin1String("ok")).toBool();
            m_fileAck.error = printable(ack.value(QLatin1String("error")).toString(), 300);
            // Whatever the reader sent, a refusal always says something.
            if (!doc.isObject())
                m_fileAck.error = QStringLiteral("the reader's acknowledgement could not be read (%1)")
                                      .arg(parseError.errorString());
            else if (!m_fileAck.ok && m_fileAck.error.trimmed().isEmpty())
                m_fileAck.error = QStringLiteral("the reader gave no reason");
            break;
        }
        default:
            if (m_warnings.allow())
                qCWarning(lcLink).noquote() << m_name << "dropping a frame of unexpected type" << frame->type;
            break;
        }
    }
}

void Device::onRecordPayload(const QByteArray& payload) {
    QString error;
    auto record = parseRecordPayload(payload, &error);
    if (!record) {
        if (m_warnings.allow())
            qCWarning(lcLink).noquote() << m_name << "dropping a malformed record:" << error;
        return;
    }
    emit recordReceived(*record);
}

void Device::onEvent(const QJsonObject& event) {
    const QString kind = event.value(QLatin1String("event")).toString();
    if (kind == QLatin1String("control")) {
        setController(event.value(QLatin1String("controller")).toString());
    } else if (kind == QLatin1String("name")) {
        adoptName(event.value(QLatin1String("name")).toString());
    } else if (kind == QLatin1String("skipped")) {
        const qint64 count = event.value(QLatin1String("count")).toInteger();
        // The reader sheds load for a PC that falls behind, as it may; that must not pass
        // unnoticed, but it is no fault of either side.
        static QElapsedTimer lastNote; // at most one note a second, for all readers together
        if (count > 0 && (!lastNote.isValid() || lastNote.elapsed() >= 1000)) {
            lastNote.start();
            qCInfo(lcLink).noquote() << QStringLiteral(
                                            "%1 skipped %2 records that this PC did not take in time "
                                            "(%3 in all)")
                                            .arg(m_name)
                                            .arg(count)
                                            .arg(event.value(QLatin1String("total")).toInteger());
        }
    } else if (kind == QLatin1String("reset")) {
        qCInfo(lcLink).noquote() << m_name << "is restarting";
    } else if (kind == QLatin1String("line")) {
        const QString line = event.value(QLatin1String("line")).toString();
        // Line names are short words; anything else is not a line of this reader.
        static const QRegularExpression word(QStringLiteral("^[A-Z0-9_]{1,16}$"));
        // A reader has a handful of lines; a stranger's flood of names is not kept.
        if (word.match(line).hasMatch() && (m_lineStates.contains(line) || m_lineStates.size() < 16)) {
            const bool active = event.value(QLatin1String("active")).toBool();
            const bool high = event.value(QLatin1String("high")).toBool();
            m_lineStates.insert(line, {active, high});
            emit lineStateChanged(line, active, high);
        }
    }
}

void Device::subscriptionChanged() {
    sendSubscription();
}

void Device::sendSubscription() {
    if (!m_dataLink || !m_dataUp)
        return;
    QJsonObject o;
    o.insert(QStringLiteral("station"), StationName());
    o.insert(QStringLiteral("imageMode"), m_imageChannel.Mode());
    o.insert(QStringLiteral("imageRate"), m_imageChannel.Rate());
    o.insert(QStringLiteral("reportRate"), m_reportChannel.Rate());
    o.insert(QStringLiteral("legacy"), m_imageChannel.Legacy() || m_reportChannel.Legacy());
    m_dataLink->write(encodeFrame(FrameType::Subscribe, QJsonDocument(o).toJson(QJsonDocument::Compact)));
}

bool Device::openLinks(int waitMs) {
    m_wanted = true;
    m_refreshOpen = false;
    m_retryTimer.stop();
    m_retryDelay = kReconnectFirstDelayMs;
    if (m_up)
        return true;
    if (m_serial && m_commandUp && m_handshakeDone) {
        // A refresh has just opened and greeted the port: take the link over as it is
        // rather than greet the reader a second time.
        checkUp();
        return m_up;
    }
    startLinks(!m_serial);
    detail::WaitScope scope;
    waitUntil([this] { return m_up || m_attemptFailed; }, waitMs);
    return m_up;
}

void Device::closeLinks() {
    m_wanted = false;
    m_refreshOpen = false;
    m_retryTimer.stop();
    closeTransports();
}

bool Device::Refresh() {
    if (m_up) {
        const CommandReply version = m_command.SendCommand(QStringLiteral("VERSION"));
        const CommandReply controller = m_command.SendCommand(QStringLiteral("CONTROLLER"));
        return version.ok && controller.ok;
    }
    if (m_wanted)
        return false; // focused and re-connecting: the link itself will refresh
    if (m_discovered)
        return m_present; // the latest discovery answer is at most a probe interval old
    if (m_serialPort.isEmpty() && m_address.isNull())
        return false;
    m_refreshOpen = true;
    startLinks(false);
    detail::WaitScope scope;
    waitUntil([this] { return m_handshakeDone || m_attemptFailed; }, kConnectTimeoutMs + kHandshakeTimeoutMs);
    return m_handshakeDone;
}

bool Device::OpenCommandLink(int waitMs) {
    if (m_up || (m_refreshOpen && m_commandUp && m_handshakeDone))
        return true;
    if (m_wanted || (m_serialPort.isEmpty() && m_address.isNull()))
        return false;
    m_refreshOpen = true;
    startLinks(false);
    detail::WaitScope scope;
    waitUntil([this] { return m_handshakeDone || m_attemptFailed; }, waitMs);
    return m_handshakeDone;
}

void Device::Close() {
    if (m_wanted)
        return;
    m_refreshOpen = false;
    m_retryTimer.stop();
    closeTransports();
}

bool Device::TransferFiles(const QStringList& paths, QString* errorText) {
    auto fail = [&](const QString& text) {
        if (errorText)
            *errorText = text;
        qCInfo(lcLink).noquote() << m_name << "file transfer:" << text;
        return false;
    };
    if (m_serial)
        return fail(QStringLiteral("Image files can only be sent to a reader on the network"));
    if (!m_up || !m_dataLink)
        return fail(QStringLiteral("The reader is not connected"));
    if (paths.isEmpty())
        return fail(QStringLiteral("No files to send"));
    qint64 total = 0;
    for (const QString& path : paths) {
        QFileInfo info(path);
        if (!info.isFile() || !info.isReadable())
            return fail(QStringLiteral("Cannot read %1").arg(path));
        total += info.size();
    }
    emit OnDataTransferStarted();
    qint64 done = 0;
    int lastPercent = -1;
    const quint64 generation = m_generation;
    for (int i = 0; i < paths.size(); ++i) {
        QFile file(paths.at(i));
        if (!file.open(QIODevice::ReadOnly)) {
            emit OnDataTransferAborted();
            return fail(QStringLiteral("Cannot read %1: %2").arg(paths.at(i), file.errorString()));
        }
        const QByteArray bytes = file.readAll();
        const QString name = QFileInfo(paths.at(i)).fileName();
        QJsonObject begin;
        begin.insert(QStringLiteral("name"), name);
        begin.insert(QStringLiteral("size"), double(bytes.size()));
        begin.insert(QStringLiteral("index"), i);
        begin.insert(QStringLiteral("count"), int(paths.size()));
        m_fileAck = FileAck();
        bool written = m_dataLink->write(
            encodeFrame(FrameType::FileBegin, QJsonDocument(begin).toJson(QJsonDocument::Compact)));
        for (qsizetype at = 0; written && at < bytes.size(); at += kFileChunkSize)
            written = m_dataLink->write(encodeFrame(FrameType::FileData, bytes.mid(at, kFileChunkSize)));
        written = written && m_dataLink->write(encodeFrame(FrameType::FileEnd, QByteArray()));
        const bool linkSame =
            written &&
            waitUntil([&] { return m_fileAck.received || generation != m_generation; }, kFileAckTimeoutMs);
        if (generation != m_generation || !written) {
            emit OnDataTransferAborted();
            return fail(QStringLiteral("The connection to the reader was lost while sending %1").arg(name));
        }
        if (!linkSame || !m_fileAck.received) {
            emit OnDataTransferAborted();
            return fail(QStringLiteral("The reader did not confirm %1").arg(name));
        }
        if (!m_fileAck.ok) {
            emit OnDataTransferAborted();
            return fail(QStringLiteral("The reader refused %1: %2").arg(name, m_fileAck.error));
        }
        done += bytes.size();
        const int percent = total > 0 ? int(done * 100 / total) : 100;
        if (percent != lastPercent && (percent < 100 || i + 1 == paths.size())) {
            lastPercent = percent;
            emit OnDataTransferPercentComplete(percent);
        }
    }
    if (lastPercent != 100)
        emit OnDataTransferPercentComplete(100);
    return true;
}

} // namespace vm::link
