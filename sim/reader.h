#pragma once

#include "sim/command.h"
#include "sim/cycledriver.h"
#include "sim/identity.h"
#include "sim/iolines.h"
#include "sim/output.h"
#include "sim/parameterstore.h"
#include "sim/readcycle.h"

#include <QHash>
#include <QHostAddress>
#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>

#include <memory>
#include <vector>

class QTcpServer;

namespace vm::sim {

class EventLog;
class PartQueue;
class SerialLine;
class SerialPortFile;

struct ReaderConfig {
    QString name = QStringLiteral("Lumivex1");
    QString softwareVersion = QStringLiteral("3.0.2.1");
    QHostAddress address = QHostAddress(QHostAddress::LocalHost);
    quint16 commandPort = 4371; // 0 picks a free port
    quint16 dataPort = 4372;
    quint16 outputPort = 4381; // formatted output TCP1; TCP2 to TCP4 follow (0: free ports)
    QString stateFolder;       // holds the flash file; empty: nothing survives a restart
    QString flashName;         // file name stem of the flash file; the reader's name when empty
    int lightChannels = 0;
    bool serial = false; // also listen on a pseudo-terminal
    bool publishSerial = true;
    bool serialPacing = true; // serial output at the TTY baud rate, not as fast as the PC reads
    double cycleRate = CycleDriver::kDefaultRate;
    bool replay = false; // cycles report the last image again instead of acquiring and decoding
    QString macAddress;  // derived from the address when empty
    int rebootMs = 300;
    // Continuous read cycles only while someone is connected (command, data or output port)
    // or the reader has a serial line: hundreds of idle readers then cost almost nothing.
    bool idleWithoutClients = false;
};

// Splits bytes into command lines, bounded: a line longer than the limit is dropped up to its LF
// and reported as too long.
class LineAssembler {
public:
    struct Line {
        QByteArray text;
        bool tooLong = false;
    };
    QList<Line> feed(const QByteArray& bytes);

private:
    QByteArray m_buffer;
    bool m_discarding = false;
};

// What happens to the next reply. Malformed, Slow and Silent spoil the reply of a command
// the reader carried out; Refused answers with error 8 and its explanation and leaves the
// command undone; Drop closes the connection instead of answering, the command undone.
enum class ReplyFault { None, Malformed, Slow, Silent, Refused, Drop };

// Whether the reader refuses CONTROL: never, to the next station that asks, or to every one.
enum class ControlRefusal { None, Once, Always };

// One simulated Lumivex reader: its parameters and flash, its command and data ports, an
// optional serial line, programming control and the read-cycle driver.
class Reader : public QObject {
    Q_OBJECT
public:
    static constexpr int kReceivedHistory = 1000;
    // How long the targeting laser's strobe (TARGET T) lasts.
    static constexpr int kTargetStrobeMs = 2000;

    explicit Reader(ReaderConfig config, EventLog* log = nullptr, QObject* parent = nullptr);
    ~Reader() override;

    // Opens the ports (and the serial line); false with `error` set when one cannot be opened.
    bool start(QString* error = nullptr);
    void stop();
    bool isRunning() const { return m_running; }

    const Identity& identity() const { return *m_identity; }
    QString name() const { return m_identity->name(); }
    QString softwareVersion() const { return m_identity->softwareVersion(); }
    int firmwareLevel() const { return m_identity->level(); }
    QHostAddress address() const { return m_identity->address(); }
    quint16 commandPort() const;
    quint16 dataPort() const;
    QString macAddress() const { return m_identity->macAddress(); }
    // The address DHCP gives this reader.
    QHostAddress leasedAddress() const { return m_identity->leasedAddress(); }
    QString serialDevice() const;
    QString serialPortName() const;
    QString controller() const { return m_controller; }
    QString flashPath() const;

    ParameterStore& parameters() { return *m_store; }
    const ParameterStore& parameters() const { return *m_store; }
    CycleDriver& cycles() { return *m_driver; }
    IoLines& lines() { return *m_io; }
    OutputPorts& output() { return *m_output; }
    PartQueue& partQueue() { return *m_partQueue; }
    // TCP port of the formatted output port TCP1 to TCP4.
    quint16 outputPort(int n) const { return m_output->port(n); }

    // Runs one command line for a station and answers its reply lines (the last one the status).
    QStringList execute(const QString& line, Station& station);

    // Operator and test handles.
    void setExternalInput(bool high);
    // Drives an input line: OPTO_IN1, or a GPIO line carrying an input tag.
    bool driveLine(const QString& line, bool high, QString* error = nullptr);
    void takeControl(const QString& station);
    void dropControl();
    // CONTROL is answered with an error status (8) and changes nothing, for the next
    // request only or for every station until this is set back to None.
    void refuseControl(ControlRefusal refusal) { m_controlRefusal = refusal; }
    ControlRefusal controlRefusal() const { return m_controlRefusal; }
    void dropConnections();
    void setListening(bool listening);
    // Replay mode of the cycle driver; kept across a reboot.
    void setReplay(bool replay);
    // Serial output paced at the line's baud rate or not; kept across a reboot.
    void setSerialPacing(bool paced);
    bool serialPacing() const { return m_config.serialPacing; }
    // Sets the speed of the reader's serial port as its TTY parameter does; false with the
    // reason for a speed the port does not offer or a reader without a serial line.
    bool setSerialBaud(int baud, QString* error = nullptr);
    // The serial line's device, settings, pacing and waiting output, for the operator.
    QString serialText() const;
    // Records the data connections left out because their client did not read them in time.
    quint64 droppedRecords() const;
    bool isListening() const { return m_listening; }
    void reboot();
    // The next reply (or the next reply to `keyword`, when given) comes with `fault`.
    void setNextReplyFault(ReplyFault fault, int delayMs = 0, const QString& keyword = {});
    // The scene in front of the camera ("text", "symbology", "contrast", ...), forwarded to the
    // acquisition engine.
    bool setScene(const QString& key, const QString& value, QString* error);
    // The output of an external light channel's lamp, 0 to 100 percent (the admin "lamp").
    bool setLampOutput(const QString& light, const QString& percent, QString* error);
    QString stateText() const;

    QStringList receivedCommands() const { return m_received; }
    int commandClients() const;
    int dataClients() const;
    QStringList transferredFiles() const { return m_files; }
    QString filesFolder() const;

signals:
    void controllerChanged(const QString& station);
    void nameChanged(const QString& name);
    void commandReceived(const QString& line);
    void recordDelivered(qint64 number);
    void fileReceived(const QString& path);
    void rebooted();

private:
    class CommandSession;
    class DataSession;
    friend class CommandSession;
    friend class DataSession;
    // One form of a command of the reader's command language (commands.cpp).
    class CommandRow;
    static const QList<CommandRow>& commandTable();

    bool listen(QString* error);
    // The parameter store's followers: IO lines, cycle driver and acquisition engine.
    void createEngine(double rate);
    static QJsonObject lineEvent(const QString& line, const LineState& state);
    void onInput(const QString& function, int pid);
    void followTarget();
    void acceptCommand();
    void acceptData();
    void sessionClosed(QObject* session);
    // Pauses or resumes continuous cycles as clients come and go (idleWithoutClients).
    void updateIdle();
    void releaseIfGone(const QString& station);

    void setController(const QString& station);
    void pushEvent(const QJsonObject& event);
    void onParameterChanged(const QString& name);
    // The reader answers to a new name: every connection is told.
    void onRenamed(const QString& name);
    void onCycle(const CycleOutput& out, qint64 number, qint64 timeMs);
    QByteArray recordPayload(const CycleOutput& out, qint64 number, qint64 timeMs, bool withImage,
                             bool compress, QJsonObject* summary) const;
    void log(const QString& kind, const QJsonObject& o) const;

    void serialBytes(const QByteArray& bytes);
    // Sets the serial line as the TTY parameter says.
    void applySerialSettings();

    bool saveFlash(QString* error);
    bool storePidsInFlash(QString* error);
    bool writeFlash(QString* error) const;
    void loadFlash();
    QString flashStem() const;
    ReplyFault takeFault(const QString& line, int* delayMs);
    // The first row of the command table that answers the command carries it out; a command
    // no row answers is a parameter query or write.
    QStringList dispatch(Command& c);
    QStringList parameterCommand(const Command& c);
    QStringList calibrationCommand(const Command& c);
    // Hands a command to the acquisition engine (learn, calibration, image source); its
    // refusal is the reply.
    QStringList runEngine(const Command& c, const QStringList& words);
    bool hasControl(const Station& station) const {
        return !m_controller.isEmpty() && m_controller == station.name;
    }
    void storeFile(const QString& name, const QByteArray& bytes, QString* error);

    ReaderConfig m_config;
    EventLog* m_log;
    std::unique_ptr<Identity> m_identity;
    QJsonObject m_flash; // what the flash holds (also kept when there is no state folder)
    bool m_running = false;
    bool m_listening = false;
    std::unique_ptr<ParameterStore> m_store;
    std::unique_ptr<CycleDriver> m_driver;
    std::unique_ptr<ReadCycle> m_readCycle;
    std::unique_ptr<IoLines> m_io;
    std::unique_ptr<OutputPorts> m_output;
    std::unique_ptr<PartQueue> m_partQueue;
    bool m_matchSetPending = false;
    QTimer m_targetTimer;
    QString m_supermarketText; // the last text read in supermarket mode
    qint64 m_supermarketSeenMs = 0;
    quint64 m_suppressed = 0;
    quint64 m_droppedByClosed = 0; // records dropped for data clients that have gone
    std::unique_ptr<QTcpServer> m_commandServer;
    std::unique_ptr<QTcpServer> m_dataServer;
    std::vector<std::unique_ptr<CommandSession>> m_commandSessions;
    std::vector<std::unique_ptr<DataSession>> m_dataSessions;
    std::unique_ptr<SerialLine> m_serial;
    std::unique_ptr<SerialPortFile> m_serialFile;
    Station m_serialStation;
    std::unique_ptr<LineAssembler> m_serialLines;
    struct ReportRequest {
        bool pending = false;
        bool image = false;
        bool compress = false;
        bool nextFail = false;
    } m_reportRequest;
    QString m_controller;
    quint64 m_nextStationId = 1;
    QStringList m_received;
    QStringList m_files;
    ReplyFault m_fault = ReplyFault::None;
    ControlRefusal m_controlRefusal = ControlRefusal::None;
    int m_faultDelayMs = 0;
    QString m_faultKeyword;
    quint16 m_boundCommandPort = 0;
    quint16 m_boundDataPort = 0;
};

} // namespace vm::sim
