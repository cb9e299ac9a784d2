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
    SerialTransport(QString devicePath, const SerialLineSettings& line)
        : Transport(Kind::Serial)
        , m_path(std::move(devicePath))
        , m_line(line) {
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
        applyLine();
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

    // Stored numbers out of range fall back to the reader's defaults (115200 8N1, no flow
    // control) one by one, so that a damaged entry never keeps the port from opening.
    // Each setting is tried on its own: a pseudo-terminal, for one, always carries eight
    // data bits without parity and refuses anything else, yet passes the bytes as they are.
    void applyLine() {
        const qint32 baud =
            m_line.baudRate > 0 && m_line.baudRate <= 4000000 ? qint32(m_line.baudRate) : 115200;
        const QSerialPort::Parity parity = m_line.parity == 1   ? QSerialPort::OddParity
                                           : m_line.parity == 2 ? QSerialPort::EvenParity
                                                                : QSerialPort::NoParity;
        const QSerialPort::DataBits bits = m_line.byteSize == 7 ? QSerialPort::Data7 : QSerialPort::Data8;
        const QSerialPort::StopBits stops =
            m_line.stopBits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop;
        const QSerialPort::FlowControl flow = m_line.flowControl == 1   ? QSerialPort::SoftwareControl
                                              : m_line.flowControl == 2 ? QSerialPort::HardwareControl
                                                                        : QSerialPort::NoFlowControl;
        QStringList refused;
        if (!m_port.setBaudRate(baud))
            refused << QStringLiteral("baud rate");
        if (!m_port.setDataBits(bits))
            refused << QStringLiteral("data bits");
        if (!m_port.setParity(parity))
            refused << QStringLiteral("parity");
        if (!m_port.setStopBits(stops))
            refused << QStringLiteral("stop bits");
        if (!m_port.setFlowControl(flow))
            refused << QStringLiteral("flow control");
        const QString parityLetter = parity == QSerialPort::OddParity    ? QStringLiteral("O")
                                     : parity == QSerialPort::EvenParity ? QStringLiteral("E")
                                                                         : QStringLiteral("N");
        const QString flowText = flow == QSerialPort::SoftwareControl   ? QStringLiteral("Xon/Xoff")
                                 : flow == QSerialPort::HardwareControl ? QStringLiteral("hardware")
                                                                        : QStringLiteral("no");
        qCInfo(lcLink).noquote() << QStringLiteral("%1 opened at %2 %3%4%5, %6 flow control")
                                        .arg(description())
                                        .arg(baud)
                                        .arg(int(bits))
                                        .arg(parityLetter)
                                        .arg(stops == QSerialPort::TwoStop ? 2 : 1)
                                        .arg(flowText);
        if (!refused.isEmpty())
            qCInfo(lcLink).noquote() << description() << "keeps its own" << refused.join(QStringLiteral(", "))
                                     << "-" << m_port.errorString();
    }

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
    SerialLineSettings m_line;
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

std::unique_ptr<Transport> createSerialTransport(const QString& devicePath, const SerialLineSettings& line) {
    return std::make_unique<SerialTransport>(devicePath, line);
}

} // namespace vm::link
