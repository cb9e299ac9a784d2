#include "sim/reader.h"

#include "sim/quietlisteners.h"

#include "sim/partqueue.h"

#include "sim/externallight.h"

#include "sim/dataframe.h"
#include "sim/eventlog.h"
#include "sim/logging.h"
#include "sim/scene.h"
#include "sim/serialline.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>
#include <QtEndian>

#include <algorithm>

namespace vm::sim {

namespace {

// The reader's refusal of a command it will not carry out just now.
QStringList refusal(const QString& line) {
    const QString keyword = line.trimmed().section(QLatin1Char(' '), 0, 0).toUpper();
    return {QStringLiteral("!%1 ERROR %2 refused by the reader: the value cannot be applied now")
                .arg(keyword)
                .arg(kErrorFailed)};
}

// A reply with its status line replaced by bytes no reader would send.
QByteArray formatReply(const QStringList& lines, ReplyFault fault) {
    QByteArray out;
    if (fault == ReplyFault::Silent)
        return out;
    for (int i = 0; i < lines.size(); ++i) {
        if (fault == ReplyFault::Malformed && i == lines.size() - 1) {
            out.append("\x7f\x01\x02?", 4);
            out.append(lines[i].mid(1).toLatin1());
            out.append("\r\n");
            break;
        }
        out.append(lines[i].toUtf8());
        out.append("\r\n");
    }
    return out;
}

bool lineIsPrintable(const QByteArray& line) {
    for (char ch : line) {
        const auto c = static_cast<unsigned char>(ch);
        if ((c < 0x20 && c != '\t') || c >= 0x7f)
            return false;
    }
    return true;
}

} // namespace

QList<LineAssembler::Line> LineAssembler::feed(const QByteArray& bytes) {
    QList<Line> out;
    m_buffer.append(bytes);
    for (;;) {
        // LF, CR or CR LF end a line: a PC that sends the user trigger string with a bare CR
        // triggers like one that sends a full line. The LF of a CR LF split across reads gives
        // an empty line, which the callers skip.
        qsizetype lf = -1;
        for (qsizetype i = 0; i < m_buffer.size() && lf < 0; ++i)
            if (m_buffer[i] == '\n' || m_buffer[i] == '\r')
                lf = i;
        if (lf < 0)
            break;
        if (m_buffer[lf] == '\r' && lf + 1 < m_buffer.size() && m_buffer[lf + 1] == '\n') {
            m_buffer.remove(lf, 1); // the LF that follows ends the same line
        }
        Line line;
        if (m_discarding) {
            line.tooLong = true;
            m_discarding = false;
        } else {
            line.text = m_buffer.left(lf);
            line.tooLong = line.text.size() > kMaxCommandLine;
            if (line.tooLong)
                line.text.clear();
        }
        m_buffer.remove(0, lf + 1);
        out << line;
    }
    if (m_discarding || m_buffer.size() > kMaxCommandLine) {
        // Keep nothing of an over-long line; its LF ends the discarding.
        m_discarding = true;
        m_buffer.clear();
    }
    return out;
}

// ---------------------------------------------------------------------------------------------
// Command connection: lines in, replies out, one command at a time.
class Reader::CommandSession : public QObject {
public:
    CommandSession(Reader& reader, QTcpSocket* socket)
        : m_reader(reader)
        , m_socket(socket) {
        m_socket->setParent(this);
        m_station.id = reader.m_nextStationId++;
        m_station.name = socket->peerAddress().toString();
        connect(m_socket, &QTcpSocket::readyRead, this, [this] { onBytes(m_socket->readAll()); });
        connect(m_socket, &QTcpSocket::disconnected, this, [this] { m_reader.sessionClosed(this); });
        connect(m_socket, &QTcpSocket::errorOccurred, this, [this] {
            if (m_socket->state() != QAbstractSocket::ConnectedState)
                m_reader.sessionClosed(this);
        });
    }

    void close() { m_socket->abort(); }
    const Station& station() const { return m_station; }

private:
    void onBytes(const QByteArray& bytes) {
        for (const LineAssembler::Line& l : m_lines.feed(bytes))
            m_queue.append(l);
        // A client that floods lines faster than they are answered is not allowed to grow the queue.
        while (m_queue.size() > 1000)
            m_queue.removeFirst();
        processQueue();
    }

    void processQueue() {
        while (!m_waiting && !m_queue.isEmpty()) {
            const LineAssembler::Line line = m_queue.takeFirst();
            QStringList reply;
            if (line.tooLong) {
                reply << QStringLiteral("!? ERROR %1 line too long").arg(kErrorLineTooLong);
            } else if (!lineIsPrintable(line.text)) {
                reply << QStringLiteral("!? ERROR %1 malformed command").arg(kErrorUnknown);
            } else {
                const QString text = QString::fromLatin1(line.text);
                if (text.trimmed().isEmpty())
                    continue;
            }
            int delay = 0;
            const ReplyFault fault = m_reader.takeFault(QString::fromLatin1(line.text), &delay);
            if (fault == ReplyFault::Drop) {
                m_socket->abort();
                return;
            }
            if (reply.isEmpty())
                reply = fault == ReplyFault::Refused
                            ? refusal(QString::fromLatin1(line.text))
                            : m_reader.execute(QString::fromLatin1(line.text), m_station);
            const QByteArray bytes = formatReply(reply, fault);
            if (fault == ReplyFault::Slow && delay > 0) {
                m_waiting = true;
                QTimer::singleShot(delay, this, [this, bytes] {
                    m_waiting = false;
                    send(bytes);
                    processQueue();
                });
                return;
            }
            send(bytes);
        }
    }

    void send(const QByteArray& bytes) {
        if (m_socket->state() != QAbstractSocket::ConnectedState)
            return;
        if (m_socket->bytesToWrite() > kMaxPendingDataBytes) {
            qCWarning(lcSim) << "command client" << m_station.name << "does not read its replies; dropped";
            m_socket->abort();
            return;
        }
        m_socket->write(bytes);
    }

    Reader& m_reader;
    QTcpSocket* m_socket;
    Station m_station;
    LineAssembler m_lines;
    QList<LineAssembler::Line> m_queue;
    bool m_waiting = false;
};

// ---------------------------------------------------------------------------------------------
// Data connection: subscriptions in, records and events out, file transfers in.
class Reader::DataSession : public QObject {
public:
    DataSession(Reader& reader, QTcpSocket* socket)
        : m_reader(reader)
        , m_socket(socket) {
        m_socket->setParent(this);
        connect(m_socket, &QTcpSocket::readyRead, this, &DataSession::onBytes);
        connect(m_socket, &QTcpSocket::disconnected, this, [this] { m_reader.sessionClosed(this); });
        connect(m_socket, &QTcpSocket::errorOccurred, this, [this] {
            if (m_socket->state() != QAbstractSocket::ConnectedState)
                m_reader.sessionClosed(this);
        });
    }

    void close() { m_socket->abort(); }
    bool subscribed() const { return m_subscribed; }

    void sendEvent(const QByteArray& frame) {
        if (m_subscribed)
            write(frame);
    }

    // Decides whether this record goes out and with an image, by the rates the PC asked for.
    void offerRecord(const std::function<const QByteArray&(bool withImage)>& frame, qint64 nowMs) {
        if (!m_subscribed)
            return;
        const bool reportDue = m_reportRate <= 0 || nowMs - m_lastReport >= qint64(1000.0 / m_reportRate);
        const bool imageDue =
            m_imageMode == 0 && (m_imageRate <= 0 || nowMs - m_lastImage >= qint64(1000.0 / m_imageRate));
        if (!reportDue && !imageDue)
            return;
        if (m_socket->bytesToWrite() > kMaxPendingDataBytes) {
            // A slow client misses records rather than holding up the reader or growing its
            // memory; it is told how many before the next record it gets.
            ++m_dropped;
            ++m_unreported;
            return;
        }
        m_lastReport = nowMs;
        if (imageDue)
            m_lastImage = nowMs;
        if (m_unreported > 0) {
            write(encodeJsonFrame(FrameType::Event,
                                  QJsonObject{{QStringLiteral("event"), QStringLiteral("skipped")},
                                              {QStringLiteral("count"), qint64(m_unreported)},
                                              {QStringLiteral("total"), qint64(m_dropped)}}));
            m_unreported = 0;
        }
        write(frame(imageDue));
    }

    quint64 dropped() const { return m_dropped; }

private:
    void write(const QByteArray& bytes) {
        if (m_socket->state() == QAbstractSocket::ConnectedState)
            m_socket->write(bytes);
    }

    void onBytes() {
        for (const Frame& f : m_frames.feed(m_socket->readAll())) {
            switch (f.type) {
            case FrameType::Subscribe:
                subscribe(f.payload);
                break;
            case FrameType::FileBegin:
                fileBegin(f.payload);
                break;
            case FrameType::FileData:
                fileData(f.payload);
                break;
            case FrameType::FileEnd:
                fileEnd();
                break;
            default:
                qCWarning(lcSim) << "data channel: unexpected frame type" << int(f.type);
                break;
            }
        }
    }

    void subscribe(const QByteArray& payload) {
        QJsonParseError err{};
        const QJsonObject o = QJsonDocument::fromJson(payload, &err).object();
        if (err.error != QJsonParseError::NoError) {
            qCWarning(lcSim) << "data channel: bad SUBSCRIBE" << err.errorString();
            return;
        }
        m_subscribed = true;
        m_station = o.value(QStringLiteral("station")).toString();
        m_imageMode = o.value(QStringLiteral("imageMode")).toInt(0);
        m_imageRate = o.value(QStringLiteral("imageRate")).toDouble(0);
        m_reportRate = o.value(QStringLiteral("reportRate")).toDouble(0);
        m_lastImage = m_lastReport = 0;
        m_reader.log(QStringLiteral("subscribe"), o);
        // A new subscriber learns who holds control at once.
        write(encodeJsonFrame(FrameType::Event,
                              QJsonObject{{QStringLiteral("event"), QStringLiteral("control")},
                                          {QStringLiteral("controller"), m_reader.m_controller}}));
        // ... and the state of every line.
        for (int i = 0; i < IoLines::kLineCount; ++i)
            write(encodeJsonFrame(FrameType::Event,
                                  lineEvent(IoLines::lineNames().at(i), m_reader.m_io->state(i))));
    }

    void ack(const QString& name, qint64 received, bool ok, const QString& error) {
        write(encodeJsonFrame(FrameType::FileAck, QJsonObject{{QStringLiteral("name"), name},
                                                              {QStringLiteral("received"), received},
                                                              {QStringLiteral("ok"), ok},
                                                              {QStringLiteral("error"), error}}));
    }

    void fileBegin(const QByteArray& payload) {
        const QJsonObject o = QJsonDocument::fromJson(payload).object();
        m_fileName = QFileInfo(o.value(QStringLiteral("name")).toString()).fileName();
        m_fileSize = o.value(QStringLiteral("size")).toInteger(-1);
        m_fileBytes.clear();
        m_fileRefused.clear();
        const QString suffix = QFileInfo(m_fileName).suffix().toLower();
        if (m_fileName.isEmpty())
            m_fileRefused = QStringLiteral("no file name");
        else if (suffix != QLatin1String("bmp") && suffix != QLatin1String("tif") &&
                 suffix != QLatin1String("tiff"))
            m_fileRefused = QStringLiteral("not a BMP or TIFF file");
        else if (m_fileSize < 0 || m_fileSize > kMaxTransferFile)
            m_fileRefused = QStringLiteral("file too large");
        else if (m_reader.m_files.size() >= kMaxTransferFiles && !m_reader.m_files.contains(m_fileName))
            m_fileRefused = QStringLiteral("no space for more files");
        m_inFile = true;
        if (!m_fileRefused.isEmpty())
            ack(m_fileName, 0, false, m_fileRefused);
    }

    void fileData(const QByteArray& payload) {
        if (!m_inFile || !m_fileRefused.isEmpty())
            return;
        if (m_fileBytes.size() + payload.size() > kMaxTransferFile) {
            m_fileRefused = QStringLiteral("file too large");
            m_fileBytes.clear();
            ack(m_fileName, 0, false, m_fileRefused);
            return;
        }
        m_fileBytes.append(payload);
    }

    void fileEnd() {
        if (!m_inFile)
            return;
        m_inFile = false;
        if (!m_fileRefused.isEmpty())
            return; // already answered
        QString error;
        const bool magicOk =
            m_fileBytes.startsWith("BM") || m_fileBytes.startsWith("II*") || m_fileBytes.startsWith("MM\0*");
        if (!magicOk)
            error = QStringLiteral("not a BMP or TIFF file");
        else if (m_fileSize >= 0 && m_fileBytes.size() != m_fileSize)
            error = QStringLiteral("received %1 of %2 bytes").arg(m_fileBytes.size()).arg(m_fileSize);
        else
            m_reader.storeFile(m_fileName, m_fileBytes, &error);
        ack(m_fileName, m_fileBytes.size(), error.isEmpty(), error);
        m_fileBytes.clear();
    }

    Reader& m_reader;
    QTcpSocket* m_socket;
    FrameReader m_frames;
    bool m_subscribed = false;
    QString m_station;
    int m_imageMode = 0;
    double m_imageRate = 0;
    double m_reportRate = 0;
    qint64 m_lastImage = 0;
    qint64 m_lastReport = 0;
    quint64 m_dropped = 0;    // records this client missed
    quint64 m_unreported = 0; // ... not yet told to it
    bool m_inFile = false;
    QString m_fileName;
    qint64 m_fileSize = -1;
    QByteArray m_fileBytes;
    QString m_fileRefused;
};

// ---------------------------------------------------------------------------------------------

Reader::Reader(ReaderConfig config, EventLog* log, QObject* parent)
    : QObject(parent)
    , m_config(std::move(config))
    , m_log(log)
    , m_identity(std::make_unique<Identity>(m_config)) {
    connect(m_identity.get(), &Identity::renamed, this, &Reader::onRenamed);
    m_store = std::make_unique<ParameterStore>(firmwareLevel(), name(), macAddress(), m_config.lightChannels);
    loadFlash();
    m_identity->boot(*m_store, {}, true);
    m_targetTimer.setSingleShot(true);
    connect(&m_targetTimer, &QTimer::timeout, this,
            [this] { m_store->setFields(QStringLiteral("TARGET"), {QStringLiteral("OFF")}); });
    createEngine(m_config.cycleRate);
    m_output = std::make_unique<OutputPorts>();
    connect(m_output.get(), &OutputPorts::clientsChanged, this, &Reader::updateIdle);
    connect(m_output.get(), &OutputPorts::beeped, this, [this](const QString& cause, int count) {
        pushEvent(QJsonObject{{QStringLiteral("event"), QStringLiteral("beep")},
                              {QStringLiteral("cause"), cause},
                              {QStringLiteral("count"), count}});
    });
    m_serialStation.serial = true;
    m_serialStation.name = QStringLiteral("SERIAL");
    m_serialStation.id = m_nextStationId++;
}

Reader::~Reader() {
    stop();
    // Without a state folder nothing of the reader outlives the process: its received files
    // sat in a folder of the system's temporary folder that nobody would ever clean.
    if (m_config.stateFolder.isEmpty())
        QDir(filesFolder()).removeRecursively();
}

void Reader::createEngine(double rate) {
    m_store->setChangeHandler([this](const QString& name) { onParameterChanged(name); });
    m_matchSetPending = false;
    m_io = std::make_unique<IoLines>(*m_store);
    connect(m_io.get(), &IoLines::lineChanged, this, [this](const QString& line, bool active, bool high) {
        pushEvent(lineEvent(line, {active, high}));
    });
    connect(m_io.get(), &IoLines::inputFired, this, &Reader::onInput);
    m_driver = std::make_unique<CycleDriver>(*m_store, this);
    m_driver->setRate(rate);
    m_driver->setReplay(m_config.replay);
    m_readCycle = std::make_unique<ReadCycle>(*m_store);
    m_driver->setRunner([this](const Attempt& a) {
        // A retry with a stored PID reads with its settings; the reader keeps its own.
        const bool overlay = a.pid > 0 && m_store->beginPidOverlay(a.pid);
        CycleOutput out = m_readCycle->attempt(a.newImage, a.illumination);
        m_store->endPidOverlay();
        out.pid = overlay ? a.pid : 0;
        return out;
    });
    m_driver->setRetryHeld([this] { return m_io->inputAsserted(QStringLiteral("RETRY")); });
    m_driver->setPidStored([this](int pid) { return m_store->storedPids().contains(pid); });
    m_supermarketText.clear();
    m_partQueue = std::make_unique<PartQueue>(*m_store, name());
    followTarget();
    connect(m_driver.get(), &CycleDriver::cycleStarting, m_io.get(), &IoLines::cycleStarting);
    connect(m_driver.get(), &CycleDriver::cycleFinished, this, &Reader::onCycle);
    updateIdle();
}

QJsonObject Reader::lineEvent(const QString& line, const LineState& state) {
    return QJsonObject{{QStringLiteral("event"), QStringLiteral("line")},
                       {QStringLiteral("line"), line},
                       {QStringLiteral("active"), state.active},
                       {QStringLiteral("high"), state.high}};
}

bool Reader::driveLine(const QString& line, bool high, QString* error) {
    return m_io->drive(line, high, error);
}

void Reader::onInput(const QString& function, int pid) {
    if (pid > 0 && !m_store->loadPid(pid))
        qCInfo(lcSim).noquote() << name() << function << "selects PID" << pid << "which is not stored";
    if (function == QLatin1String("TRIGGER") || function.startsWith(QLatin1String("READ_"))) {
        m_driver->trigger(function);
    } else if (function == QLatin1String("MATCH_SET")) {
        m_matchSetPending = true; // the next text read becomes the match string
    } else if (function == QLatin1String("LEARN")) {
        m_readCycle->command({QStringLiteral("LEARN"), QStringLiteral("BOTH")});
    } else if (function == QLatin1String("CALIBRATE") && firmwareLevel() >= 9) {
        m_readCycle->command({QStringLiteral("LEARN"), QStringLiteral("CALIBRATE")});
    }
    // RETRY acts by its level while a cycle retries.
}

quint16 Reader::commandPort() const {
    return m_boundCommandPort;
}
quint16 Reader::dataPort() const {
    return m_boundDataPort;
}

QString Reader::serialDevice() const {
    return m_serial ? m_serial->devicePath() : QString();
}
QString Reader::serialPortName() const {
    return m_serialFile ? m_serialFile->portName() : QString();
}

// The stem of the flash file and the files folder. The name may be anything a reader
// can be called, so every character that could step out of the state folder (a
// separator, a drive colon, a leading dot) is percent-encoded; the encoding is
// one-to-one, so two readers never share a file.
QString Reader::flashStem() const {
    const QString name = m_config.flashName.isEmpty() ? m_config.name : m_config.flashName;
    QString stem = QString::fromLatin1(QUrl::toPercentEncoding(name));
    if (stem.startsWith(u'.'))
        stem.replace(0, 1, QStringLiteral("%2E"));
    return stem.isEmpty() ? QStringLiteral("%00") : stem;
}

QString Reader::flashPath() const {
    if (m_config.stateFolder.isEmpty())
        return {};
    return QDir(m_config.stateFolder).filePath(flashStem() + QStringLiteral(".flash.json"));
}

QString Reader::filesFolder() const {
    if (!m_config.stateFolder.isEmpty())
        return QDir(m_config.stateFolder).filePath(flashStem() + QStringLiteral(".files"));
    return QDir::temp().filePath(
        QStringLiteral("lumivex-sim-%1-%2.files").arg(QCoreApplication::applicationPid()).arg(flashStem()));
}

bool Reader::listen(QString* error) {
    m_commandServer = std::make_unique<QTcpServer>();
    m_dataServer = std::make_unique<QTcpServer>();
    m_commandServer->setMaxPendingConnections(kMaxClientsPerChannel);
    m_dataServer->setMaxPendingConnections(kMaxClientsPerChannel);
    // A reboot listens on the ports it had, even when they were picked freely.
    const quint16 cport = m_boundCommandPort ? m_boundCommandPort : m_config.commandPort;
    const quint16 dport = m_boundDataPort ? m_boundDataPort : m_config.dataPort;
    if (!m_commandServer->listen(address(), cport)) {
        if (error)
            *error = QStringLiteral("command port %1:%2: %3")
                         .arg(address().toString())
                         .arg(cport)
                         .arg(m_commandServer->errorString());
        m_commandServer.reset();
        m_dataServer.reset();
        return false;
    }
    if (!m_dataServer->listen(address(), dport)) {
        if (error)
            *error = QStringLiteral("data port %1:%2: %3")
                         .arg(address().toString())
                         .arg(dport)
                         .arg(m_dataServer->errorString());
        m_commandServer.reset();
        m_dataServer.reset();
        return false;
    }
    // A reader whose command port is picked freely picks its output ports freely too, so that
    // readers sharing an address never meet.
    const quint16 oport = m_config.commandPort == 0 ? 0 : m_config.outputPort;
    if (!m_output->listen(address(), oport, error)) {
        m_commandServer.reset();
        m_dataServer.reset();
        return false;
    }
    m_boundCommandPort = m_commandServer->serverPort();
    m_boundDataPort = m_dataServer->serverPort();
    connect(m_commandServer.get(), &QTcpServer::newConnection, this, &Reader::acceptCommand);
    connect(m_dataServer.get(), &QTcpServer::newConnection, this, &Reader::acceptData);
    // One of a fleet: its listening sockets wait outside the event loop's own watch.
    if (m_config.idleWithoutClients) {
        keepQuiet(m_commandServer.get());
        keepQuiet(m_dataServer.get());
        for (QTcpServer* server : m_output->servers())
            keepQuiet(server);
    }
    m_listening = true;
    return true;
}

bool Reader::start(QString* error) {
    if (m_running)
        return true;
    if (firmwareLevel() == 0) {
        if (error)
            *error = QStringLiteral("software version %1 has no firmware level").arg(softwareVersion());
        return false;
    }
    if (!address().isLoopback()) {
        if (error)
            *error = QStringLiteral("%1 is not a loopback address").arg(address().toString());
        return false;
    }
    if (!listen(error))
        return false;
    if (m_config.serial) {
        m_serial = std::make_unique<SerialLine>();
        m_serialLines = std::make_unique<LineAssembler>();
        QString serialError;
        if (!m_serial->open(&serialError)) {
            if (error)
                *error = QStringLiteral("serial line: ") + serialError;
            stop();
            return false;
        }
        applySerialSettings();
        m_serial->setPacing(m_config.serialPacing);
        connect(m_serial.get(), &SerialLine::bytesReceived, this, &Reader::serialBytes);
        // The serial line is the standard output port; its reports travel as blocks so that
        // they never mix with a reply.
        m_output->setStandardSink([this](const QByteArray& report) {
            if (m_serial)
                m_serial->write("#OUTPUT " + QByteArray::number(report.size()) + "\r\n" + report + "\r\n");
        });
        if (m_config.publishSerial) {
            m_serialFile = std::make_unique<SerialPortFile>();
            if (!m_serialFile->publish(m_serial->devicePath(), &serialError)) {
                qCWarning(lcSim) << "serial line not published:" << serialError;
                m_serialFile.reset();
            }
        }
    }
    m_running = true;
    updateIdle();
    m_driver->setOnline(true);
    qCInfo(lcSim).noquote() << QStringLiteral("%1 (%2, level %3) on %4 command %5 data %6%7")
                                   .arg(name(), softwareVersion())
                                   .arg(firmwareLevel())
                                   .arg(address().toString())
                                   .arg(m_boundCommandPort)
                                   .arg(m_boundDataPort)
                                   .arg(m_serial ? QStringLiteral(" serial ") + m_serial->devicePath()
                                                 : QString());
    return true;
}

void Reader::stop() {
    m_running = false;
    if (m_driver)
        m_driver->setOnline(false);
    dropConnections();
    m_commandServer.reset();
    m_dataServer.reset();
    m_listening = false;
    m_output->close();
    m_output->setStandardSink({});
    m_serialFile.reset();
    m_serial.reset();
}

void Reader::acceptCommand() {
    while (QTcpSocket* s = m_commandServer->nextPendingConnection()) {
        if (int(m_commandSessions.size()) >= kMaxClientsPerChannel) {
            s->write(QByteArrayLiteral("!? ERROR 7 too many connections\r\n"));
            s->disconnectFromHost();
            connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
            continue;
        }
        m_commandSessions.push_back(std::make_unique<CommandSession>(*this, s));
    }
    updateIdle();
}

void Reader::updateIdle() {
    if (!m_driver)
        return;
    const bool unwatched = m_config.idleWithoutClients && !m_serial && m_dataSessions.empty() &&
                           (!m_output || m_output->totalClients() == 0);
    m_driver->setPaused(unwatched && m_commandSessions.empty());
    m_driver->setUnwatched(unwatched);
}

void Reader::acceptData() {
    while (QTcpSocket* s = m_dataServer->nextPendingConnection()) {
        if (int(m_dataSessions.size()) >= kMaxClientsPerChannel) {
            s->abort();
            s->deleteLater();
            continue;
        }
        s->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        m_dataSessions.push_back(std::make_unique<DataSession>(*this, s));
    }
    updateIdle();
}

void Reader::sessionClosed(QObject* session) {
    QString closedStation;
    for (const auto& s : m_commandSessions) {
        if (s.get() == session)
            closedStation = s->station().name;
    }
    // Deleted later: this runs inside the session's own signal.
    auto dropFrom = [session](auto& list) {
        for (auto it = list.begin(); it != list.end(); ++it)
            if (it->get() == session) {
                it->release()->deleteLater();
                list.erase(it);
                return;
            }
    };
    dropFrom(m_commandSessions);
    for (const auto& s : m_dataSessions)
        if (s.get() == session)
            m_droppedByClosed += s->dropped();
    dropFrom(m_dataSessions);
    updateIdle();
    if (!closedStation.isEmpty())
        releaseIfGone(closedStation);
}

void Reader::releaseIfGone(const QString& station) {
    // A station whose last command connection went away loses control, as with a real
    // reader: when it comes back it must take control again.
    if (station.isEmpty() || station != m_controller || station == m_serialStation.name)
        return;
    for (const auto& s : m_commandSessions) {
        if (s->station().name == station)
            return;
    }
    setController(QString());
}

int Reader::commandClients() const {
    return int(m_commandSessions.size());
}
int Reader::dataClients() const {
    return int(m_dataSessions.size());
}

void Reader::dropConnections() {
    auto commands = std::move(m_commandSessions);
    auto data = std::move(m_dataSessions);
    m_commandSessions.clear();
    m_dataSessions.clear();
    for (auto& s : commands) {
        s->close();
        s.release()->deleteLater();
    }
    for (auto& s : data) {
        s->close();
        s.release()->deleteLater();
    }
    m_output->dropClients();
    releaseIfGone(m_controller);
}

void Reader::setReplay(bool replay) {
    m_config.replay = replay;
    m_driver->setReplay(replay);
}

quint64 Reader::droppedRecords() const {
    quint64 total = m_droppedByClosed;
    for (const auto& s : m_dataSessions)
        total += s->dropped();
    return total;
}

void Reader::setListening(bool listening) {
    if (listening == m_listening || !m_running)
        return;
    if (listening) {
        QString error;
        if (!listen(&error))
            qCWarning(lcSim).noquote() << name() << error;
    } else {
        m_commandServer.reset();
        m_dataServer.reset();
        m_output->close();
        m_listening = false;
    }
}

void Reader::reboot() {
    pushEvent(QJsonObject{{QStringLiteral("event"), QStringLiteral("reset")}});
    log(QStringLiteral("reboot"), {});
    const bool wasRunning = m_running;
    // The queue lives in the reader's memory: a reboot empties it.
    m_partQueue.reset();
    const QHash<QString, QStringList> communication = Identity::keptCommunication(*m_store);
    dropConnections();
    m_commandServer.reset();
    m_dataServer.reset();
    m_output->close();
    m_listening = false;
    m_driver->setOnline(false);
    setController(QString());
    m_reportRequest = {};
    // What was not saved is lost.
    m_store = std::make_unique<ParameterStore>(firmwareLevel(), m_config.name, macAddress(),
                                               m_config.lightChannels);
    m_identity->restoreName(m_config.name);
    loadFlash();
    createEngine(m_driver->rate());
    m_driver->setOnline(false);
    m_identity->boot(*m_store, communication, false);
    QTimer::singleShot(m_config.rebootMs, this, [this, wasRunning] {
        if (!wasRunning)
            return;
        QString error;
        if (!listen(&error))
            qCWarning(lcSim).noquote() << name() << "after reboot:" << error;
        applySerialSettings();
        m_driver->setOnline(true);
        emit rebooted();
    });
}

void Reader::setNextReplyFault(ReplyFault fault, int delayMs, const QString& keyword) {
    m_fault = fault;
    m_faultDelayMs = delayMs;
    m_faultKeyword = keyword;
}

ReplyFault Reader::takeFault(const QString& line, int* delayMs) {
    const QString keyword = line.trimmed().section(QLatin1Char(' '), 0, 0);
    if (m_fault == ReplyFault::None ||
        (!m_faultKeyword.isEmpty() && keyword.compare(m_faultKeyword, Qt::CaseInsensitive) != 0))
        return ReplyFault::None;
    const ReplyFault fault = m_fault;
    *delayMs = m_faultDelayMs;
    m_fault = ReplyFault::None;
    return fault;
}

void Reader::setExternalInput(bool high) {
    m_io->drive(QStringLiteral("OPTO_IN1"), high);
}

void Reader::takeControl(const QString& station) {
    setController(station);
}

void Reader::dropControl() {
    setController(QString());
}

bool Reader::setScene(const QString& key, const QString& value, QString* error) {
    return m_readCycle->scene().set(key, value, error);
}

bool Reader::setLampOutput(const QString& light, const QString& percent, QString* error) {
    return vm::sim::setLampOutput(*m_store, light, percent, error);
}

void Reader::setController(const QString& station) {
    if (station == m_controller)
        return;
    m_controller = station;
    pushEvent(QJsonObject{{QStringLiteral("event"), QStringLiteral("control")},
                          {QStringLiteral("controller"), station}});
    emit controllerChanged(station);
}

void Reader::pushEvent(const QJsonObject& event) {
    log(QStringLiteral("event"), event);
    const QByteArray frame = encodeJsonFrame(FrameType::Event, event);
    for (auto& s : m_dataSessions)
        s->sendEvent(frame);
    if (m_serial)
        m_serial->write("#EVENT " + QJsonDocument(event).toJson(QJsonDocument::Compact) + "\r\n");
}

void Reader::onRenamed(const QString& name) {
    pushEvent(QJsonObject{{QStringLiteral("event"), QStringLiteral("name")}, {QStringLiteral("name"), name}});
    if (m_partQueue)
        m_partQueue->setReaderName(name);
    emit nameChanged(name);
}

void Reader::onParameterChanged(const QString& name) {
    if (m_io)
        m_io->parametersChanged();
    if (name == QLatin1String("TARGET") || name == QLatin1String("LOAD") ||
        name.startsWith(QLatin1String("RESET")))
        followTarget();
    if (name == QLatin1String("TRIG") || name.startsWith(QLatin1String("RESET")) ||
        name == QLatin1String("LOAD"))
        m_driver->refreshMode();
    // A name written with IP is kept for the next boot, like the address; a loaded
    // configuration names the reader at once.
    if (name == QLatin1String("LOAD"))
        m_identity->rename(m_store->fields(QStringLiteral("IP")).value(0));
    // The serial port changes at once, needing no reboot; the reply to the command that
    // changed it still goes out at the old settings.
    if (m_serial && (name == QLatin1String("TTY") || name == QLatin1String("LOAD") ||
                     name.startsWith(QLatin1String("RESET"))))
        QTimer::singleShot(0, this, &Reader::applySerialSettings);
    if (m_partQueue && ((name.startsWith(QLatin1String("PARTQ")) && name != QLatin1String("PARTQCAPACITY")) ||
                        name == QLatin1String("LOAD") || name.startsWith(QLatin1String("RESET"))))
        m_partQueue->settingsChanged();
}

QByteArray Reader::recordPayload(const CycleOutput& out, qint64 number, qint64 timeMs, bool withImage,
                                 bool compress, QJsonObject* summary) const {
    QJsonObject o;
    o.insert(QStringLiteral("number"), number);
    o.insert(QStringLiteral("time"), timeMs);
    o.insert(QStringLiteral("passed"), out.passed);
    o.insert(QStringLiteral("symbolFound"), out.symbolFound);
    o.insert(QStringLiteral("text"), out.text);
    o.insert(QStringLiteral("status"), out.status);
    o.insert(QStringLiteral("symbology"), out.symbology);
    o.insert(QStringLiteral("decodeMs"), out.decodeMs);
    o.insert(QStringLiteral("exposure"), out.exposure);
    o.insert(QStringLiteral("gain"), out.gain);
    o.insert(QStringLiteral("photometryValid"), out.photometryValid);
    QJsonArray corners;
    if (out.symbolFound)
        for (const QPointF& p : out.corners) {
            corners.append(p.x());
            corners.append(p.y());
        }
    o.insert(QStringLiteral("corners"), corners);
    o.insert(QStringLiteral("width"), out.image.width());
    o.insert(QStringLiteral("height"), out.image.height());
    if (out.learnStatus)
        o.insert(QStringLiteral("learnStatus"), *out.learnStatus);
    if (!out.verification.isEmpty())
        o.insert(QStringLiteral("verification"), out.verification);
    if (!out.calibration.isEmpty())
        o.insert(QStringLiteral("calibration"), out.calibration);
    if (!out.match.isEmpty())
        o.insert(QStringLiteral("match"), out.match);
    o.insert(QStringLiteral("attempts"), out.attempts);
    if (out.pid > 0)
        o.insert(QStringLiteral("pid"), out.pid);
    QByteArray image;
    if (withImage && !out.image.isNull()) {
        const QImage grey = out.image.format() == QImage::Format_Grayscale8
                                ? out.image
                                : out.image.convertToFormat(QImage::Format_Grayscale8);
        image.reserve(grey.width() * grey.height());
        for (int y = 0; y < grey.height(); ++y)
            image.append(reinterpret_cast<const char*>(grey.constScanLine(y)), grey.width());
        if (compress)
            image = qCompress(image, 1);
        o.insert(QStringLiteral("image"), compress ? QStringLiteral("zlib") : QStringLiteral("raw"));
    } else {
        o.insert(QStringLiteral("image"), QStringLiteral("none"));
    }
    if (summary)
        *summary = o;
    const QByteArray json = QJsonDocument(o).toJson(QJsonDocument::Compact);
    QByteArray payload;
    payload.reserve(4 + json.size() + image.size());
    char len[4];
    qToLittleEndian<quint32>(quint32(json.size()), len);
    payload.append(len, 4);
    payload.append(json);
    payload.append(image);
    return payload;
}

void Reader::followTarget() {
    // The targeting laser's strobe ("T") lights it for kTargetStrobeMs, then the reader turns
    // it off and answers TARGET OFF.
    if (m_store->fields(QStringLiteral("TARGET")).value(0) != QLatin1String("T"))
        m_targetTimer.stop();
    else if (!m_targetTimer.isActive())
        m_targetTimer.start(kTargetStrobeMs);
}

void Reader::onCycle(const CycleOutput& out, qint64 number, qint64 timeMs) {
    const QStringList retry = m_store->fields(QStringLiteral("RETRYEX"));
    if (out.symbolFound && retry.value(0) == QLatin1String("SUPERMARKET")) {
        // Presentation reading: the same text is reported again only after it has been out of
        // sight for the inter-symbol wait (0: never, until another text was read).
        const qint64 wait = retry.value(3).toLongLong();
        const bool repeat =
            out.text == m_supermarketText && (wait == 0 || timeMs - m_supermarketSeenMs < wait);
        m_supermarketText = out.text;
        m_supermarketSeenMs = timeMs;
        if (repeat) {
            ++m_suppressed;
            return;
        }
    } else if (out.symbolFound) {
        m_supermarketText.clear();
    }
    if (m_matchSetPending && out.symbolFound) {
        m_matchSetPending = false;
        QStringList match = m_store->fields(QStringLiteral("MATCHEX"));
        if (match.size() > 1) {
            match[1] = QLatin1Char('"') + out.text.left(128) + QLatin1Char('"');
            m_store->setFields(QStringLiteral("MATCHEX"), match);
        }
    }
    // The lines switch as the result is known, before the report goes out.
    m_io->cycleFinished(out);
    const CycleStats stats = m_driver->stats();
    m_output->cycleFinished(*m_store, out, number, timeMs, stats.triggers, stats.overruns, stats.timeouts);
    m_partQueue->offer(out, number, timeMs);
    // Each form of the frame is built once, and only when some client wants it.
    QByteArray withImage, withoutImage;
    QJsonObject summary;
    auto frame = [&](bool image) -> const QByteArray& {
        QByteArray& slot = image ? withImage : withoutImage;
        if (slot.isEmpty())
            slot = encodeFrame(FrameType::Record, recordPayload(out, number, timeMs, image, false, &summary));
        return slot;
    };
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    for (auto& s : m_dataSessions)
        s->offerRecord(frame, now);
    if (m_serial && m_reportRequest.pending && (!m_reportRequest.nextFail || !out.passed)) {
        const QByteArray payload =
            recordPayload(out, number, timeMs, m_reportRequest.image, m_reportRequest.compress, &summary);
        m_reportRequest = {};
        m_serial->write("#RECORD " + QByteArray::number(payload.size()) + "\r\n" + payload + "\r\n");
    }
    if (m_log && m_log->isOpen()) {
        if (summary.isEmpty())
            recordPayload(out, number, timeMs, false, false, &summary);
        log(QStringLiteral("record"), summary);
    }
    emit recordDelivered(number);
}

void Reader::setSerialPacing(bool paced) {
    m_config.serialPacing = paced;
    if (m_serial)
        m_serial->setPacing(paced);
}

bool Reader::setSerialBaud(int baud, QString* error) {
    if (!m_serial) {
        if (error)
            *error = QStringLiteral("%1 has no serial line").arg(name());
        return false;
    }
    if (!LineSettings::offersBaud(baud)) {
        if (error)
            *error = QStringLiteral("the serial port offers 1200, 2400, 4800, 9600, 19200, 38400, 57600 and "
                                    "115200 baud");
        return false;
    }
    QStringList tty = m_store->fields(QStringLiteral("TTY"));
    if (tty.isEmpty())
        tty << QString();
    tty[0] = QString::number(baud);
    m_store->setFields(QStringLiteral("TTY"), tty);
    applySerialSettings();
    return true;
}

QString Reader::serialText() const {
    if (!m_serial)
        return QStringLiteral("no serial line");
    const LineSettings line = m_serial->settings();
    return QStringLiteral("%1 %2 %3 pending=%4")
        .arg(m_serial->devicePath(), line.text(),
             m_serial->pacing() ? QStringLiteral("paced=%1B/s").arg(qRound(line.charactersPerSecond()))
                                : QStringLiteral("unpaced"))
        .arg(m_serial->pendingOutput());
}

void Reader::applySerialSettings() {
    if (m_serial)
        m_serial->setSettings(LineSettings::fromFields(m_store->fields(QStringLiteral("TTY"))));
}

void Reader::serialBytes(const QByteArray& bytes) {
    for (const LineAssembler::Line& line : m_serialLines->feed(bytes)) {
        QStringList reply;
        if (line.tooLong)
            reply << QStringLiteral("!? ERROR %1 line too long").arg(kErrorLineTooLong);
        else if (!lineIsPrintable(line.text))
            reply << QStringLiteral("!? ERROR %1 malformed command").arg(kErrorUnknown);
        else if (line.text.trimmed().isEmpty())
            continue;
        int delay = 0;
        const ReplyFault fault = takeFault(QString::fromLatin1(line.text), &delay);
        if (fault == ReplyFault::Drop) {
            // A serial line cannot be closed from the reader's end: it falls silent instead.
            continue;
        }
        if (reply.isEmpty())
            reply = fault == ReplyFault::Refused ? refusal(QString::fromLatin1(line.text))
                                                 : execute(QString::fromLatin1(line.text), m_serialStation);
        const QByteArray out = formatReply(reply, fault);
        if (fault == ReplyFault::Slow && delay > 0) {
            QTimer::singleShot(delay, this, [this, out] {
                if (m_serial)
                    m_serial->write(out);
            });
        } else if (m_serial) {
            m_serial->write(out);
        }
    }
}

void Reader::log(const QString& kind, const QJsonObject& o) const {
    if (m_log)
        m_log->write(name(), kind, o);
}

bool Reader::saveFlash(QString* error) {
    m_flash.insert(QStringLiteral("name"), name());
    m_flash.insert(QStringLiteral("softwareVersion"), softwareVersion());
    m_flash.insert(QStringLiteral("store"), m_store->toJson());
    return writeFlash(error);
}

bool Reader::storePidsInFlash(QString* error) {
    QJsonObject store = m_flash.value(QStringLiteral("store")).toObject();
    if (store.isEmpty()) {
        // Nothing saved yet: the flash keeps the factory settings beside the PIDs.
        ParameterStore factory(firmwareLevel(), m_config.name, macAddress(), m_config.lightChannels);
        store = factory.toJson();
    }
    store.insert(QStringLiteral("pids"), m_store->toJson().value(QStringLiteral("pids")));
    m_flash.insert(QStringLiteral("store"), store);
    return writeFlash(error);
}

bool Reader::writeFlash(QString* error) const {
    const QString path = flashPath();
    if (path.isEmpty())
        return true; // a reader without a state folder keeps its flash in memory
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly)) {
        *error = f.errorString();
        return false;
    }
    f.write(QJsonDocument(m_flash).toJson());
    if (!f.commit()) {
        *error = f.errorString();
        return false;
    }
    return true;
}

void Reader::loadFlash() {
    const QString path = flashPath();
    if (!path.isEmpty() && QFile::exists(path)) {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly)) {
            qCWarning(lcSim).noquote() << "flash file" << path << "unreadable:" << f.errorString();
            return;
        }
        QJsonParseError err{};
        const QJsonObject o = QJsonDocument::fromJson(f.readAll(), &err).object();
        if (err.error != QJsonParseError::NoError) {
            qCWarning(lcSim).noquote()
                << "flash file" << path << "is damaged (" << err.errorString() << "); factory settings used";
            return;
        }
        m_flash = o;
    }
    if (m_flash.isEmpty())
        return;
    m_store->fromJson(m_flash.value(QStringLiteral("store")).toObject());
    const QString saved = m_store->fields(QStringLiteral("IP")).value(0);
    if (!saved.isEmpty())
        m_identity->restoreName(saved);
}

void Reader::storeFile(const QString& name, const QByteArray& bytes, QString* error) {
    const QString dir = filesFolder();
    if (!QDir().mkpath(dir)) {
        *error = QStringLiteral("cannot create the file folder");
        return;
    }
    QSaveFile f(QDir(dir).filePath(name));
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size() || !f.commit()) {
        *error = f.errorString();
        return;
    }
    const QString path = QDir(dir).filePath(name);
    // The engine checks the picture itself; a file it cannot use is refused.
    if (!m_readCycle->addFile(name, bytes, error)) {
        QFile::remove(path);
        return;
    }
    if (!m_files.contains(path))
        m_files << path;
    log(QStringLiteral("file"),
        QJsonObject{{QStringLiteral("name"), name}, {QStringLiteral("size"), bytes.size()}});
    emit fileReceived(path);
}

QString Reader::stateText() const {
    const CycleStats s = m_driver->stats();
    QStringList l;
    l << QStringLiteral("name=%1").arg(name());
    l << QStringLiteral("version=%1 level=%2").arg(softwareVersion()).arg(firmwareLevel());
    l << QStringLiteral("address=%1 command=%2 data=%3")
             .arg(address().toString())
             .arg(m_boundCommandPort)
             .arg(m_boundDataPort);
    if (m_serial)
        l << QStringLiteral("serial=%1 port=%2").arg(m_serial->devicePath(), serialPortName());
    l << QStringLiteral("listening=%1 clients command=%2 data=%3")
             .arg(m_listening ? "yes" : "no")
             .arg(m_commandSessions.size())
             .arg(m_dataSessions.size());
    l << QStringLiteral("controller=%1").arg(m_controller);
    l << QStringLiteral("mode=%1 online=%2 rate=%3 replay=%4 input=%5")
             .arg(m_driver->triggerMode() ? "trigger" : "continuous")
             .arg(m_driver->online() ? "yes" : "no")
             .arg(m_driver->rate())
             .arg(m_driver->replay() ? "on" : "off")
             .arg(m_io->state(0).high ? "high" : "low");
    l << QStringLiteral("dropped=%1").arg(droppedRecords());
    l << QStringLiteral("records=%1 triggers=%2 passes=%3 fails=%4 overruns=%5 timeouts=%6 suppressed=%7")
             .arg(m_driver->lastNumber())
             .arg(s.triggers)
             .arg(s.passes)
             .arg(s.fails)
             .arg(s.overruns)
             .arg(s.timeouts)
             .arg(m_suppressed);
    l << m_output->stateLines();
    l << QStringLiteral("files=%1 flash=%2").arg(m_files.size()).arg(flashPath());
    for (const QString& line : m_io->stateLines())
        l << QStringLiteral("line ") + line;
    return l.join(QLatin1Char('\n'));
}

} // namespace vm::sim
