#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>

class QSocketNotifier;

namespace vm::sim {

// The reader's serial line: the master side of a pseudo-terminal. The PC opens the slave device
// (devicePath()) as if it were a serial port.
class SerialLine : public QObject {
    Q_OBJECT
public:
    // Output that the PC has not read yet is bounded; beyond it further output is dropped.
    static constexpr qint64 kMaxPendingOutput = 4 * 1024 * 1024;

    explicit SerialLine(QObject* parent = nullptr);
    ~SerialLine() override;

    bool open(QString* error);
    void close();
    bool isOpen() const { return m_master >= 0; }
    QString devicePath() const { return m_devicePath; }

    void write(const QByteArray& bytes);

signals:
    void bytesReceived(const QByteArray& bytes);

private:
    void readMaster();
    void flush();

    int m_master = -1;
    int m_slave = -1; // kept open so that the line survives the PC closing and reopening it
    QString m_devicePath;
    QByteArray m_pending;
    std::unique_ptr<QSocketNotifier> m_readNotifier;
    std::unique_ptr<QSocketNotifier> m_writeNotifier;
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
