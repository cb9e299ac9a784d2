#pragma once

#include "sim/readcycle.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <array>
#include <functional>
#include <memory>
#include <vector>

class QTcpServer;
class QTcpSocket;

namespace vm::sim {

// The read events a reader reports, in the order of its event words.
enum class OutputEvent { DecodePass, DecodeFail, LocateFail, MatchPass, MatchFail, Error };

// "OKDEC", "DECFL", "LOCFL", "OKMATCH", "MATCHFL", "RTE".
QString eventWord(OutputEvent event);
// The events one read cycle raises, in report order: a decode pass, fail or locate fail
// (or a run-time error when the read time-out ended the cycle), then the match result of a
// decoded text while matching is on.
QList<OutputEvent> cycleEvents(const CycleOutput& out);

// The counters that the cycle-data fields (CD02 to CD14) report, counted by the reader
// since it started.
struct OutputCounters {
    quint64 triggers = 0;
    quint64 passes = 0;
    quint64 fails = 0;
    quint64 locates = 0;
    quint64 locateFails = 0;
    quint64 decodes = 0;
    quint64 decodeFails = 0;
    quint64 matches = 0;
    quint64 matchFails = 0;
    quint64 alarms = 0;
    quint64 triggerOverruns = 0;
    quint64 decodeOverruns = 0;
    quint64 acquisitionTimeouts = 0;
};

// One read cycle as the format language sees it. The image files are built once, on first
// use, however many ports and keywords ask for them.
class FormatContext {
public:
    FormatContext(const CycleOutput& out, qint64 number, qint64 timeMs, const OutputCounters& counters,
                  bool hexData);

    const CycleOutput& output() const { return m_out; }
    qint64 number() const { return m_number; }
    qint64 timeMs() const { return m_timeMs; }
    const OutputCounters& counters() const { return m_counters; }
    // OUTPUT FORMAT HEX: (DATA) gives the data in hexadecimal.
    bool hexData() const { return m_hexData; }

    const QByteArray& bitmap();
    const QByteArray& tiff();
    const QByteArray& rawImage();
    const QByteArray& timeStamp();

private:
    const CycleOutput& m_out;
    qint64 m_number;
    qint64 m_timeMs;
    OutputCounters m_counters;
    bool m_hexData;
    QByteArray m_bitmap;
    QByteArray m_tiff;
    QByteArray m_raw;
    QByteArray m_timeStamp;
};

// Expands a format string: every keyword and, when `cycleData` is set, every cycle-data and
// image-data field gives its value; "\" followed by two hexadecimal digits gives that byte;
// everything else goes out as it is (UTF-8).
QByteArray expandFormat(const QString& format, FormatContext& context, bool cycleData = true);

// Every keyword and field the format language knows, as written in a format.
const QStringList& formatKeywords();

// An 8-bit grey image as a BMP file (palette of 256 greys, rows bottom-up and padded to
// four bytes) and as an uncompressed baseline TIFF file (one strip).
QByteArray greyBitmap(const QImage& image);
QByteArray greyTiff(const QImage& image);

// The reader's formatted output: after each read cycle it sends, on each port whose event
// report is enabled, the event's format string expanded, wrapped in the port's header and
// trailer as set, and held to the port's fixed buffer length when one is set. The standard
// port is the serial line; TCP1 to TCP4 are TCP ports of their own, each serving any number
// of clients (up to the reader's client limit). It also sounds the beeper for the events.
class OutputPorts : public QObject {
    Q_OBJECT
public:
    static constexpr int kTcpPorts = 4;
    static const QStringList& portWords(); // "STANDARD", "TCP1" ... "TCP4"

    explicit OutputPorts(QObject* parent = nullptr);
    ~OutputPorts() override;

    // Opens TCP1 to TCP4 at `firstPort` and the three after it (0: each a free port; a port
    // bound before is reused).
    bool listen(const QHostAddress& address, quint16 firstPort, QString* error);
    // The listening servers of the ports (none while closed).
    QList<QTcpServer*> servers() const;
    void close();
    // Closes every client connection, keeping the ports open.
    void dropClients();
    // TCP port of TCP1 to TCP4 (n = 1 to 4); 0 while closed.
    quint16 port(int n) const;
    int clients(int n) const;
    // Clients of all four TCP ports together.
    int totalClients() const;
    // Where the standard port's bytes go (the serial line); unset: nowhere.
    void setStandardSink(std::function<void(const QByteArray&)> sink) { m_standard = std::move(sink); }

    // The cycle's reports and beeps. `parameters` holds the output settings; `stats` are the
    // read-cycle counters after this cycle.
    void cycleFinished(const ParameterSource& parameters, const CycleOutput& out, qint64 number,
                       qint64 timeMs, quint64 triggers, quint64 triggerOverruns, quint64 timeouts);

    const OutputCounters& counters() const { return m_counters; }
    quint64 reportsSent() const { return m_reports; }
    quint64 beeps() const { return m_beeps; }
    // What the admin state shows: the ports with their clients and the reports sent, then the beeps.
    QStringList stateLines() const;

    // The report of one event on one port as the reader would send it, or nothing (an empty
    // array, `enabled` false) when that port does not report the event.
    static QByteArray composeReport(const ParameterSource& parameters, const QString& port, OutputEvent event,
                                    FormatContext& context, bool* enabled = nullptr);

signals:
    // The beeper sounded `count` times for an event.
    void beeped(const QString& eventWord, int count);
    // A client came to or left one of the TCP ports.
    void clientsChanged();

private:
    struct Port {
        std::unique_ptr<QTcpServer> server;
        std::vector<QTcpSocket*> clients;
        quint16 bound = 0;
    };
    void accept(int index);
    void send(int portIndex, const QByteArray& bytes);
    void count(const CycleOutput& out, quint64 triggers, quint64 triggerOverruns, quint64 timeouts);
    void beep(const ParameterSource& parameters, const QList<OutputEvent>& events);

    std::array<Port, kTcpPorts> m_ports;
    std::function<void(const QByteArray&)> m_standard;
    OutputCounters m_counters;
    quint64 m_reports = 0;
    quint64 m_beeps = 0;
};

} // namespace vm::sim
