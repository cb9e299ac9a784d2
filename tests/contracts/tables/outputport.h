#pragma once

// A controller on one of the reader's output ports, as the output and match tables read it:
// the TCP ports TCP1 to TCP4, or the serial line that is the standard port.
#include "contracts/contract.h"

#include <QByteArray>
#include <QTcpSocket>
#include <QTest>

#include <fcntl.h>
#include <unistd.h>

namespace vm::contracts {

class PortReader {
public:
    PortReader() = default;
    PortReader(const PortReader&) = delete;
    PortReader& operator=(const PortReader&) = delete;
    ~PortReader() {
        if (m_fd >= 0)
            ::close(m_fd);
    }

    // TCP1 to TCP4 (n = 1 to 4); n = 0 is the reader's serial line.
    bool open(Stage& stage, int n) {
        if (n == 0) {
            m_fd = ::open(stage.reader().serialDevice().toLocal8Bit().constData(),
                          O_RDWR | O_NOCTTY | O_NONBLOCK);
            return m_fd >= 0;
        }
        m_socket.connectToHost(stage.reader().address(), stage.reader().outputPort(n));
        return m_socket.waitForConnected(5000);
    }

    // The bytes up to and including the next `end`; what came so far when it does not come.
    QByteArray until(const QByteArray& end, int timeoutMs = 5000) {
        QByteArray out;
        static_cast<void>(QTest::qWaitFor(
            [&] {
                pull();
                const qsizetype at = m_buffer.indexOf(end);
                if (at < 0)
                    return false;
                out = m_buffer.left(at + end.size());
                m_buffer.remove(0, at + end.size());
                return true;
            },
            timeoutMs));
        return out.isEmpty() ? std::exchange(m_buffer, {}) : out;
    }

    // Exactly n bytes, or what came.
    QByteArray take(qsizetype n, int timeoutMs = 5000) {
        static_cast<void>(QTest::qWaitFor(
            [&] {
                pull();
                return m_buffer.size() >= n;
            },
            timeoutMs));
        const QByteArray out = m_buffer.left(n);
        m_buffer.remove(0, out.size());
        return out;
    }

    // The next report of the serial line, which frames each as "#OUTPUT <length>" CR LF, the
    // report, CR LF.
    QByteArray framedReport() {
        for (int i = 0; i < 20; ++i) {
            const QByteArray line = until("\r\n");
            if (line.isEmpty())
                return {};
            if (!line.startsWith("#OUTPUT "))
                continue;
            const QByteArray report = take(line.mid(8).trimmed().toInt());
            return until("\r\n") == "\r\n" ? report : QByteArray("(unframed) ") + report;
        }
        return {};
    }

private:
    void pull() {
        if (m_fd < 0) {
            m_buffer += m_socket.readAll();
            return;
        }
        char chunk[4096];
        for (ssize_t n; (n = ::read(m_fd, chunk, sizeof chunk)) > 0;)
            m_buffer.append(chunk, n);
    }

    QTcpSocket m_socket;
    int m_fd = -1;
    QByteArray m_buffer;
};

} // namespace vm::contracts
