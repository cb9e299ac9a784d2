#include "link/transport.h"

#include "link/logging.h"
#include "link/protocol.h"

#include <QSerialPort>
#include <QTcpSocket>
#include <QTimer>

#include <csignal>

namespace vm::link {

Transport::~Transport() = default;

namespace {

class TcpTransport final : public Transport {
public:
    TcpTransport(Kind kind, QHostAddress address, quint16 port)
        : Transport(kind)
        , m_address(std::move(address))
        , m_port(port) {
        m_connectTimer.setSingleShot(true);
        connect(&m_connectTimer, &QTimer::timeout, this, [this] {
            m_socket.abort();
            emit errorOccurred(
                QStringLiteral("%1: no answer within %2 ms").arg(description()).arg(kConnectTimeoutMs));
        });
        connect(&m_socket, &QTcpSocket::connected, this, [this] {
            m_connectTimer.stop();
            // Commands are short and answered at once: do not let Nagle hold them back.
            m_socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
            m_wasConnected = true;
            emit connected();
        });
        connect(&m_socket, &QTcpSocket::readyRead, this, [this] { emit bytesReceived(m_socket.readAll()); });
        connect(&m_socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError) {
            m_connectTimer.stop();
            if (!m_wasConnected)
                emit errorOccurred(QStringLiteral("%1: %2").arg(description(), m_socket.errorString()));
        });
        connect(&m_socket, &QTcpSocket::disconnected, this, [this] {
            if (m_wasConnected) {
                m_wasConnected = false;
                emit disconnected();
            }
        });
    }

    ~TcpTransport() override {
        m_socket.disconnect(this);
        m_socket.abort();
    }

    QString description() const override {
        return QStringLiteral("%1 %2:%3")
            .arg(kind() == Kind::TcpData ? QStringLiteral("data link") : QStringLiteral("command link"),
                 m_address.toString())
            .arg(m_port);
    }

    void open() override {
        m_wasConnected = false;
        m_socket.abort();
        m_connectTimer.start(kConnectTimeoutMs);
        m_socket.connectToHost(m_address, m_port);
    }

    void close() override {
        m_connectTimer.stop();
        m_wasConnected = false;
        m_socket.abort();
    }

    bool isOpen() const override { return m_socket.state() == QAbstractSocket::ConnectedState; }

    bool write(const QByteArray& bytes) override {
        if (!isOpen())
            return false;
        if (m_socket.write(bytes) != bytes.size())
            return false;
        m_socket.flush();
        return true;
    }

private:
    QHostAddress m_address;
    quint16 m_port;
    QTcpSocket m_socket;
    QTimer m_connectTimer;
    bool m_wasConnected = false;
};

class SerialTransport final : public Transport {
public:
    explicit SerialTransport(QString devicePath)
        : Transport(Kind::Serial)
        , m_path(std::move(devicePath)) {
        connect(&m_port, &QSerialPort::readyRead, this, [this] { emit bytesReceived(m_port.readAll()); });
        connect(&m_port, &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError error) {
            if (error == QSerialPort::NoError || error == QSerialPort::TimeoutError)
                return;
            const QString text = QStringLiteral("%1: %2").arg(description(), m_port.errorString());
            if (m_port.isOpen() && error == QSerialPort::ResourceError) {
                // The device went away (cable pulled, simulator gone).
                QTimer::singleShot(0, this, [this, text] {
                    m_port.close();
                    emit errorOccurred(text);
                    emit disconnected();
                });
            }
        });
    }

    ~SerialTransport() override {
        m_port.disconnect(this);
        if (m_port.isOpen())
            m_port.close();
    }

    QString description() const override { return QStringLiteral("serial line %1").arg(m_path); }

    void open() override {
        m_port.setPortName(m_path);
        if (!m_port.open(QIODevice::ReadWrite)) {
            const QString text = QStringLiteral("%1: %2").arg(description(), m_port.errorString());
            QTimer::singleShot(0, this, [this, text] { emit errorOccurred(text); });
            return;
        }
        // A pseudo-terminal ignores the line settings; a real port uses the reader's defaults.
        m_port.setBaudRate(QSerialPort::Baud115200);
        m_port.setDataBits(QSerialPort::Data8);
        m_port.setParity(QSerialPort::NoParity);
        m_port.setStopBits(QSerialPort::OneStop);
        m_port.setFlowControl(QSerialPort::NoFlowControl);
        QTimer::singleShot(0, this, [this] {
            if (m_port.isOpen())
                emit connected();
        });
    }

    void close() override {
        if (m_port.isOpen())
            m_port.close();
    }

    bool isOpen() const override { return m_port.isOpen(); }

    bool write(const QByteArray& bytes) override {
        if (!m_port.isOpen())
            return false;
        if (m_port.write(bytes) != bytes.size())
            return false;
        m_port.flush();
        return true;
    }

private:
    QString m_path;
    QSerialPort m_port;
};

// A socket write to a reader that has just reset the link raises SIGPIPE, which ends
// the process unless it is ignored; the write's error then reports the loss instead.
// Set for every link, as a handler installed since (a test harness's) would be hit too.
void ignoreBrokenPipes() {
#ifdef SIGPIPE
    std::signal(SIGPIPE, SIG_IGN);
#endif
}

} // namespace

std::unique_ptr<Transport> createTcpTransport(Transport::Kind kind, const QHostAddress& address,
                                              quint16 port) {
    ignoreBrokenPipes();
    return std::make_unique<TcpTransport>(kind, address, port);
}

std::unique_ptr<Transport> createSerialTransport(const QString& devicePath) {
    return std::make_unique<SerialTransport>(devicePath);
}

} // namespace vm::link
