#pragma once

// A fake reader for tests: it listens on real loopback sockets like a reader, but
// sends whatever a test tells it to, as a broken or malicious device would (lies,
// floods, garbled lines, absurd frames, forged discovery answers).

#include "link/protocol.h"

#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QNetworkDatagram>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUdpSocket>

#include <functional>
#include <memory>

namespace vm::test {

class HostileReader : public QObject {
public:
    // Answers one command line with the bytes to send back (CR LF included).
    using Answer = std::function<QByteArray(const QString& line)>;

    explicit HostileReader(QHostAddress address, QString name = QStringLiteral("Hostile"))
        : m_address(std::move(address))
        , m_name(std::move(name)) {
        m_answer = [this](const QString& line) { return politeAnswer(line); };
        m_clock.start();
    }

    bool start(quint16 commandPort = vm::link::kDefaultCommandPort,
               quint16 dataPort = vm::link::kDefaultDataPort) {
        if (!m_commandServer.listen(m_address, commandPort) || !m_dataServer.listen(m_address, dataPort))
            return false;
        connect(&m_commandServer, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* s = m_commandServer.nextPendingConnection()) {
                m_commandAccepts.append(m_clock.elapsed());
                if (m_hangingUp) {
                    // Accepts, then closes at once, as a reader that is restarting does.
                    s->abort();
                    s->deleteLater();
                    continue;
                }
                m_command.reset(s);
                s->setParent(nullptr);
                connect(s, &QTcpSocket::readyRead, this, [this, s] {
                    while (s->canReadLine()) {
                        QString line = QString::fromUtf8(s->readLine()).trimmed();
                        m_received.append(line);
                        const QByteArray out = m_answer(line);
                        // A reader answers in order: after a flood, not in its middle.
                        if (flooding() && !m_floodOnData)
                            m_floodTail += out;
                        else if (!out.isEmpty())
                            s->write(out);
                    }
                });
                connect(s, &QTcpSocket::bytesWritten, this, [this] { pump(); });
            }
        });
        connect(&m_dataServer, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* s = m_dataServer.nextPendingConnection()) {
                m_data.reset(s);
                s->setParent(nullptr);
                connect(s, &QTcpSocket::readyRead, this, [this, s] {
                    m_frames.append(s->readAll());
                    while (auto frame = m_frames.next())
                        if (m_onFrame)
                            m_onFrame(*frame);
                });
                connect(s, &QTcpSocket::bytesWritten, this, [this] { pump(); });
            }
        });
        return true;
    }

    QHostAddress address() const { return m_address; }
    // While set, every command link is closed as soon as it is accepted.
    void setHangingUp(bool hangUp) { m_hangingUp = hangUp; }
    // When each command link was accepted, in ms since this reader was made.
    const QList<qint64>& commandAccepts() const { return m_commandAccepts; }
    // Closes the open links, as a reader that restarts does.
    void dropLinks() {
        for (auto* s : {&m_command, &m_data})
            if (*s)
                (*s)->abort();
    }
    quint16 commandPort() const { return m_commandServer.serverPort(); }
    quint16 dataPort() const { return m_dataServer.serverPort(); }
    void setAnswer(Answer answer) { m_answer = std::move(answer); }
    // Called with every frame the PC sends on the data link.
    void setFrameHandler(std::function<void(const vm::link::Frame&)> handler) {
        m_onFrame = std::move(handler);
    }
    // The command lines received so far.
    const QStringList& received() const { return m_received; }
    bool commandLinked() const { return m_command && m_command->state() == QAbstractSocket::ConnectedState; }
    bool dataLinked() const { return m_data && m_data->state() == QAbstractSocket::ConnectedState; }

    // What a well-behaved reader says while a link opens; "!KEYWORD OK" for the rest.
    QByteArray politeAnswer(const QString& line) const {
        const QString keyword = vm::link::commandKeyword(line);
        QByteArray out;
        if (keyword == QLatin1String("VERSION"))
            out = "VERSION 3.0.2.1\r\n";
        else if (keyword == QLatin1String("NAME"))
            out = "NAME \"" + m_name.toUtf8() + "\"\r\n";
        else if (keyword == QLatin1String("CONTROLLER"))
            out = "CONTROLLER \"\"\r\n";
        return out + "!" + keyword.toUtf8() + " OK\r\n";
    }

    void sendCommandBytes(const QByteArray& bytes) {
        if (m_command)
            m_command->write(bytes);
    }
    void sendFrame(vm::link::FrameType type, const QByteArray& payload) {
        if (m_data)
            m_data->write(vm::link::encodeFrame(type, payload));
    }
    void sendDataBytes(const QByteArray& bytes) {
        if (m_data)
            m_data->write(bytes);
    }

    // Sends `total` bytes made of repeated `chunk` on the command (or data) link as fast
    // as the peer reads them, without holding them all here; then `tail`.
    void flood(QByteArray chunk, qint64 total, bool onData = false, QByteArray tail = {}) {
        m_floodChunk = std::move(chunk);
        m_floodLeft = total;
        m_floodOnData = onData;
        m_floodTail = std::move(tail);
        pump();
    }
    bool flooding() const { return m_floodLeft > 0 || !m_floodTail.isEmpty(); }
    qint64 floodLeft() const { return m_floodLeft; }

    // Sends datagrams to a discovery socket, optionally from another address of ours.
    static qint64 sendDatagram(const QByteArray& bytes, const QHostAddress& to, quint16 port,
                               const QHostAddress& from = QHostAddress(QStringLiteral("127.0.0.1"))) {
        QUdpSocket socket;
        if (!socket.bind(from, 0))
            return -1;
        return socket.writeDatagram(bytes, to, port);
    }

private:
    void pump() {
        QTcpSocket* s = m_floodOnData ? m_data.get() : m_command.get();
        if (!s || s->state() != QAbstractSocket::ConnectedState)
            return;
        // A few chunks in flight keep the link busy while this side stays small.
        while (m_floodLeft > 0 && s->bytesToWrite() < 4 * qMax<qsizetype>(m_floodChunk.size(), 65536)) {
            const qint64 n = qMin<qint64>(m_floodLeft, m_floodChunk.size());
            s->write(m_floodChunk.constData(), n);
            m_floodLeft -= n;
        }
        if (m_floodLeft == 0 && !m_floodTail.isEmpty()) {
            s->write(m_floodTail);
            m_floodTail.clear();
        }
    }

    QHostAddress m_address;
    QString m_name;
    Answer m_answer;
    QTcpServer m_commandServer;
    QTcpServer m_dataServer;
    std::unique_ptr<QTcpSocket> m_command;
    std::unique_ptr<QTcpSocket> m_data;
    QStringList m_received;
    vm::link::FrameDecoder m_frames;
    std::function<void(const vm::link::Frame&)> m_onFrame;
    QByteArray m_floodChunk;
    qint64 m_floodLeft = 0;
    bool m_floodOnData = false;
    QByteArray m_floodTail;
    QElapsedTimer m_clock;
    QList<qint64> m_commandAccepts;
    bool m_hangingUp = false;
};

// The process's resident memory in bytes (from /proc/self/status), 0 where unknown.
inline qint64 residentBytes() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong() * 1024;
    }
    return 0;
}

} // namespace vm::test
