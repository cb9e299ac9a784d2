#pragma once

#include "link/serialports.h"

#include <QHostAddress>
#include <QObject>
#include <QString>

#include <memory>

class QTcpSocket;
class QSerialPort;

namespace vm::link {

// One byte stream to a reader: a TCP command link, a TCP data link or a serial
// line. Only the link layer creates transports (see createTcpTransport and
// createSerialTransport); everything above talks to the reader through them.
class Transport : public QObject {
    Q_OBJECT
public:
    enum class Kind { TcpCommand, TcpData, Serial };

    ~Transport() override;

    Kind kind() const { return m_kind; }
    virtual QString description() const = 0;
    // Starts opening; connected() or errorOccurred() follows.
    virtual void open() = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    virtual bool write(const QByteArray& bytes) = 0;

signals:
    void bytesReceived(const QByteArray& bytes);
    void connected();
    // The link went away after it had been open.
    void disconnected();
    // Opening failed, or the open link broke (disconnected() follows then).
    void errorOccurred(const QString& text);

protected:
    explicit Transport(Kind kind)
        : m_kind(kind) {}

private:
    Kind m_kind;
};

std::unique_ptr<Transport> createTcpTransport(Transport::Kind kind, const QHostAddress& address,
                                              quint16 port);
// The line is set up with `line` once the device is open.
std::unique_ptr<Transport> createSerialTransport(const QString& devicePath,
                                                 const SerialLineSettings& line = {});

} // namespace vm::link
