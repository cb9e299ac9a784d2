#include "sim/serialline.h"

#include "sim/logging.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace vm::sim {

SerialLine::SerialLine(QObject* parent)
    : QObject(parent) {}

SerialLine::~SerialLine() {
    close();
}

bool SerialLine::open(QString* error) {
    close();
    char name[256] = {};
    if (::openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0) {
        if (error)
            *error = QString::fromLocal8Bit(std::strerror(errno));
        m_master = m_slave = -1;
        return false;
    }
    // Raw line: no echo, no line editing, bytes pass unchanged both ways.
    termios t{};
    if (::tcgetattr(m_slave, &t) == 0) {
        ::cfmakeraw(&t);
        ::tcsetattr(m_slave, TCSANOW, &t);
    }
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    ::fcntl(m_master, F_SETFD, FD_CLOEXEC);
    ::fcntl(m_slave, F_SETFD, FD_CLOEXEC);
    m_devicePath = QString::fromLocal8Bit(name);
    m_readNotifier = std::make_unique<QSocketNotifier>(m_master, QSocketNotifier::Read);
    connect(m_readNotifier.get(), &QSocketNotifier::activated, this, &SerialLine::readMaster);
    m_writeNotifier = std::make_unique<QSocketNotifier>(m_master, QSocketNotifier::Write);
    m_writeNotifier->setEnabled(false);
    connect(m_writeNotifier.get(), &QSocketNotifier::activated, this, &SerialLine::flush);
    return true;
}

void SerialLine::close() {
    m_readNotifier.reset();
    m_writeNotifier.reset();
    if (m_master >= 0)
        ::close(m_master);
    if (m_slave >= 0)
        ::close(m_slave);
    m_master = m_slave = -1;
    m_pending.clear();
}

void SerialLine::readMaster() {
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(m_master, buf, sizeof buf);
        if (n > 0) {
            emit bytesReceived(QByteArray(buf, int(n)));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        break; // EAGAIN, or EIO while nobody holds the slave open
    }
}

void SerialLine::write(const QByteArray& bytes) {
    if (m_master < 0)
        return;
    if (m_pending.size() + bytes.size() > kMaxPendingOutput) {
        qCWarning(lcSim) << "serial line" << m_devicePath << "is not being read; output dropped";
        return;
    }
    m_pending.append(bytes);
    flush();
}

void SerialLine::flush() {
    while (!m_pending.isEmpty() && m_master >= 0) {
        const ssize_t n = ::write(m_master, m_pending.constData(), size_t(m_pending.size()));
        if (n > 0) {
            m_pending.remove(0, n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        break;
    }
    if (m_writeNotifier)
        m_writeNotifier->setEnabled(!m_pending.isEmpty());
}

namespace {

bool processRuns(qint64 pid) {
    if (pid <= 0)
        return false;
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
}

} // namespace

SerialPortFile::~SerialPortFile() {
    remove();
}

QString SerialPortFile::folder() {
    const QString env = qEnvironmentVariable("VELMARROW_SIM_PORTS_DIR");
    return env.isEmpty() ? QDir::tempPath() + QStringLiteral("/lumivex-sim-ports") : env;
}

bool SerialPortFile::publish(const QString& devicePath, QString* error) {
    remove();
    const QString dir = folder();
    if (!QDir().mkpath(dir)) {
        *error = QStringLiteral("cannot create ") + dir;
        return false;
    }
    for (int n = 1; n < 1000; ++n) {
        const QString name = QStringLiteral("SIM%1").arg(n);
        const QString path = dir + QLatin1Char('/') + name + QStringLiteral(".port");
        QFile f(path);
        if (f.exists()) {
            // A file whose process no longer runs is stale and its name free again.
            if (f.open(QIODevice::ReadOnly)) {
                const QList<QByteArray> lines = f.readAll().split('\n');
                f.close();
                if (lines.size() >= 2 && processRuns(lines[1].trimmed().toLongLong()))
                    continue;
            } else {
                continue;
            }
        }
        // Written whole or not at all: the PC never reads a half-written port file.
        QSaveFile out(path);
        const QByteArray content =
            devicePath.toLocal8Bit() + '\n' + QByteArray::number(QCoreApplication::applicationPid()) + '\n';
        if (!out.open(QIODevice::WriteOnly) || out.write(content) != content.size() || !out.commit()) {
            *error = out.errorString();
            return false;
        }
        m_portName = name;
        m_filePath = path;
        return true;
    }
    *error = QStringLiteral("no free port name");
    return false;
}

void SerialPortFile::remove() {
    if (!m_filePath.isEmpty())
        QFile::remove(m_filePath);
    m_filePath.clear();
    m_portName.clear();
}

} // namespace vm::sim
