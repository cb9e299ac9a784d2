#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <memory>

class QSocketNotifier;

namespace vm::sim {

// How the reader's own serial port is set (the TTY parameter).
struct LineSettings {
    int baud = 115200;
    char parity = 'N'; // N, O or E
    int dataBits = 8;
    int stopBits = 1;
    char flow = 'N'; // N none, X Xon/Xoff, H hardware
    bool operator==(const LineSettings&) const = default;

    // From the TTY fields; a field that is missing or unknown keeps its default.
    static LineSettings fromFields(const QStringList& fields);
    QString text() const;
    // Whether the reader's port offers this speed (1200 to 115200).
    static bool offersBaud(int baud);
    // Characters a second at this setting: each carries a start bit, its data bits, the
    // parity bit if any and its stop bits.
    double charactersPerSecond() const;
};

// The reader's serial line: the master side of a pseudo-terminal. The PC opens the slave device
// (devicePath()) as if it were a serial port.
//
// Both ends of a pseudo-terminal share one set of terminal settings, so the line carries the
// reader's baud rate, stop bits and flow control until the PC sets its own on opening the port.
// Bytes that arrive while the line is set otherwise than the reader's port are line noise to
// the reader, as they would be on a real cable: they are dropped. Data bits and parity cannot
// live in the terminal settings (a pseudo-terminal always carries eight data bits without
// parity): with seven data bits the reader ignores the top bit of each byte it receives.
//
// A pseudo-terminal carries bytes as fast as the PC reads them, whatever its baud rate says.
// The reader's output is therefore paced as a real line would carry it: a timer releases, every
// few milliseconds, the bytes that the reader's baud rate allows in the time gone by, so that a
// long listing at 9,600 baud takes as long as on a cable. The timer runs only while output waits.
class SerialLine : public QObject {
    Q_OBJECT
public:
    // Output that the PC has not read yet is bounded; beyond it further output is dropped.
    static constexpr qint64 kMaxPendingOutput = 4 * 1024 * 1024;
    // How often paced output is released while some waits.
    static constexpr int kPaceSliceMs = 4;
    // A late timer lets out at most this much time's bytes at once: the line never runs
    // faster than its rate, even after the program was busy.
    static constexpr int kMaxCatchUpMs = 40;

    explicit SerialLine(QObject* parent = nullptr);
    ~SerialLine() override;

    bool open(QString* error);
    void close();
    bool isOpen() const { return m_master >= 0; }
    QString devicePath() const { return m_devicePath; }

    void write(const QByteArray& bytes);

    // Sets the reader's side of the line; the terminal settings change only when the
    // settings do, so that a PC's own settings are not overwritten by the same values.
    void setSettings(const LineSettings& settings);
    LineSettings settings() const { return m_settings; }
    // The line's terminal settings as they are now, in the reader's terms (data bits and
    // parity are the reader's own); false when the line is closed.
    bool currentLine(LineSettings* line) const;

    // Output paced at the reader's baud rate (the default), or passed on as fast as the PC
    // reads, for work that needs many images over the line.
    void setPacing(bool paced);
    bool pacing() const { return m_pacing; }
    // Output the PC has not been given yet.
    qint64 pendingOutput() const { return m_pending.size(); }

signals:
    void bytesReceived(const QByteArray& bytes);

private:
    void readMaster();
    void flush();
    void pace();
    qsizetype writeMaster(qsizetype count);
    void applySettings();
    bool understands(LineSettings* heard) const;
    void dropNoise(qsizetype count, const LineSettings& heard);

    int m_master = -1;
    int m_slave = -1; // kept open so that the line survives the PC closing and reopening it
    QString m_devicePath;
    QByteArray m_pending;
    LineSettings m_settings;
    QElapsedTimer m_lastNoise; // a burst of noise is logged once
    std::unique_ptr<QSocketNotifier> m_readNotifier;
    std::unique_ptr<QSocketNotifier> m_writeNotifier;
    bool m_pacing = true;
    QTimer m_paceTimer;
    QElapsedTimer m_paceClock;
    qint64 m_pacedUntilNs = 0; // the clock's time up to which the budget was counted
    double m_budget = 0;       // bytes the line may still send
};

// Publishes a serial reader so that the PC lists it: <folder>/<PORT>.port holding the device path
// and the process id. The file is removed when the object goes.
class SerialPortFile {
public:
    SerialPortFile() = default;
    ~SerialPortFile();
    SerialPortFile(const SerialPortFile&) = delete;
    SerialPortFile& operator=(const SerialPortFile&) = delete;

    static QString folder();
    // Picks the first free SIMn name; returns false with `error` set when the file cannot be written.
    bool publish(const QString& devicePath, QString* error);
    void remove();
    QString portName() const { return m_portName; }
    QString filePath() const { return m_filePath; }

private:
    QString m_portName;
    QString m_filePath;
};

} // namespace vm::sim
