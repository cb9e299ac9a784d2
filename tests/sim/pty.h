#pragma once

#include "common/waits.h"

#include <QByteArray>
#include <QString>
#include <QTest>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace vm::testing {

// The PC's end of a reader's pseudo-terminal, in raw mode.
class Pty {
public:
    explicit Pty(const QString& device)
        : m_fd(::open(device.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {
        termios t{};
        if (m_fd >= 0 && ::tcgetattr(m_fd, &t) == 0) {
            ::cfmakeraw(&t);
            ::tcsetattr(m_fd, TCSANOW, &t);
        }
    }
    ~Pty() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool isOpen() const { return m_fd >= 0; }
    bool write(const QByteArray& b) {
        return ::write(m_fd, b.constData(), size_t(b.size())) == ssize_t(b.size());
    }
    // Sets the PC's end of the line to a speed.
    bool setSpeed(speed_t speed) {
        termios t{};
        return ::tcgetattr(m_fd, &t) == 0 && ::cfsetispeed(&t, speed) == 0 && ::cfsetospeed(&t, speed) == 0 &&
               ::tcsetattr(m_fd, TCSANOW, &t) == 0;
    }
    // Collects what the reader sends into `in` until it holds `marker`.
    bool readUntil(const QByteArray& marker, int ms = kReplyWaitMs) {
        return QTest::qWaitFor(
            [&] {
                char buf[65536];
                ssize_t n;
                while ((n = ::read(m_fd, buf, sizeof buf)) > 0)
                    in.append(buf, int(n));
                return in.contains(marker);
            },
            ms);
    }
    QByteArray in;

private:
    int m_fd;
};

} // namespace vm::testing
