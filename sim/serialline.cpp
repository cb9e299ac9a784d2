#include "sim/serialline.h"

#include "sim/logging.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace vm::sim {

namespace {

// A gap this long between dropped bytes starts a new burst of noise.
constexpr qint64 kNoiseBurstGapMs = 1000;

struct Speed {
    int baud;
    speed_t code;
};
constexpr Speed kSpeeds[] = {{1200, B1200},   {2400, B2400},   {4800, B4800},   {9600, B9600},
                             {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200}};

speed_t speedCode(int baud) {
    for (const Speed& s : kSpeeds)
        if (s.baud == baud)
            return s.code;
    return B115200;
}

// 0 for a speed the reader's port does not offer.
int baudOf(speed_t code) {
    for (const Speed& s : kSpeeds)
        if (s.code == code)
            return s.baud;
    return 0;
}

} // namespace

LineSettings LineSettings::fromFields(const QStringList& fields) {
    LineSettings s;
    const int baud = fields.value(0).toInt();
    if (baudOf(speedCode(baud)) == baud)
        s.baud = baud;
    const QString parity = fields.value(1);
    if (parity == QLatin1String("O") || parity == QLatin1String("E"))
        s.parity = parity.at(0).toLatin1();
    if (fields.value(2) == QLatin1String("7"))
        s.dataBits = 7;
    if (fields.value(3) == QLatin1String("2"))
        s.stopBits = 2;
    const QString flow = fields.value(4);
    if (flow == QLatin1String("X") || flow == QLatin1String("H"))
        s.flow = flow.at(0).toLatin1();
    return s;
}

bool LineSettings::offersBaud(int baud) {
    return baudOf(speedCode(baud)) == baud;
}

double LineSettings::charactersPerSecond() const {
    const int bits = 1 + dataBits + (parity == 'N' ? 0 : 1) + stopBits;
    return double(baud) / bits;
}

QString LineSettings::text() const {
    return QStringLiteral("%1,%2,%3,%4,%5")
        .arg(baud)
        .arg(QLatin1Char(parity))
        .arg(dataBits)
        .arg(stopBits)
        .arg(QLatin1Char(flow));
}

SerialLine::SerialLine(QObject* parent)
    : QObject(parent) {
    m_paceTimer.setInterval(kPaceSliceMs);
    m_paceTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_paceTimer, &QTimer::timeout, this, &SerialLine::pace);
}

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
    applySettings();
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
    m_paceTimer.stop();
}

void SerialLine::readMaster() {
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(m_master, buf, sizeof buf);
        if (n > 0) {
            QByteArray bytes(buf, int(n));
            LineSettings heard;
            if (!understands(&heard)) {
                dropNoise(n, heard);
                continue;
            }
            if (m_settings.dataBits == 7)
                for (char& c : bytes)
                    c = char(c & 0x7f);
            emit bytesReceived(bytes);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        break; // EAGAIN, or EIO while nobody holds the slave open
    }
}

void SerialLine::setSettings(const LineSettings& settings) {
    if (settings == m_settings)
        return;
    m_settings = settings;
    applySettings();
}

void SerialLine::applySettings() {
    termios t{};
    if (m_slave < 0 || ::tcgetattr(m_slave, &t) != 0)
        return;
    ::cfsetispeed(&t, speedCode(m_settings.baud));
    ::cfsetospeed(&t, speedCode(m_settings.baud));
    if (m_settings.stopBits == 2)
        t.c_cflag |= CSTOPB;
    else
        t.c_cflag &= ~tcflag_t(CSTOPB);
    if (m_settings.flow == 'H')
        t.c_cflag |= CRTSCTS;
    else
        t.c_cflag &= ~tcflag_t(CRTSCTS);
    if (m_settings.flow == 'X')
        t.c_iflag |= IXON | IXOFF;
    else
        t.c_iflag &= ~tcflag_t(IXON | IXOFF);
    if (::tcsetattr(m_slave, TCSANOW, &t) != 0)
        qCWarning(lcSim) << "serial line" << m_devicePath << "keeps its settings:" << std::strerror(errno);
}

bool SerialLine::currentLine(LineSettings* line) const {
    termios t{};
    if (m_slave < 0 || ::tcgetattr(m_slave, &t) != 0)
        return false;
    line->baud = baudOf(::cfgetospeed(&t));
    line->parity = m_settings.parity;
    line->dataBits = m_settings.dataBits;
    line->stopBits = (t.c_cflag & CSTOPB) ? 2 : 1;
    const bool hardware = t.c_cflag & CRTSCTS;
    const bool software = t.c_iflag & (IXON | IXOFF);
    // Both at once is no setting the reader's port has: it never matches.
    line->flow = hardware ? (software ? '?' : 'H') : (software ? 'X' : 'N');
    return true;
}

bool SerialLine::understands(LineSettings* heard) const {
    if (!currentLine(heard))
        return false;
    return *heard == m_settings;
}

void SerialLine::dropNoise(qsizetype count, const LineSettings& heard) {
    if (!m_lastNoise.isValid() || m_lastNoise.elapsed() > kNoiseBurstGapMs)
        qCDebug(lcSim).noquote() << QStringLiteral("serial line %1 is set to %2, the reader's port to %3: "
                                                   "%4 bytes not understood")
                                        .arg(m_devicePath, heard.text(), m_settings.text())
                                        .arg(count);
    m_lastNoise.start();
}

void SerialLine::write(const QByteArray& bytes) {
    if (m_master < 0)
        return;
    if (m_pending.size() + bytes.size() > kMaxPendingOutput) {
        qCWarning(lcSim) << "serial line" << m_devicePath << "is not being read; output dropped";
        return;
    }
    m_pending.append(bytes);
    if (!m_pacing) {
        flush();
        return;
    }
    if (!m_paceTimer.isActive()) {
        // An idle line starts its first character at once.
        m_paceClock.start();
        m_pacedUntilNs = 0;
        m_budget = 1;
        m_paceTimer.start();
        pace();
    }
}

void SerialLine::setPacing(bool paced) {
    if (paced == m_pacing)
        return;
    m_pacing = paced;
    m_paceTimer.stop();
    if (!paced) {
        flush();
        return;
    }
    if (m_writeNotifier)
        m_writeNotifier->setEnabled(false);
    if (!m_pending.isEmpty()) {
        const QByteArray waiting = std::exchange(m_pending, QByteArray());
        write(waiting);
    }
}

qsizetype SerialLine::writeMaster(qsizetype count) {
    qsizetype done = 0;
    while (done < count && m_master >= 0) {
        const ssize_t n = ::write(m_master, m_pending.constData() + done, size_t(count - done));
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        break; // the PC has not read what the line holds
    }
    m_pending.remove(0, done);
    return done;
}

void SerialLine::pace() {
    const qint64 now = m_paceClock.nsecsElapsed();
    const double rate = m_settings.charactersPerSecond();
    m_budget += double(now - m_pacedUntilNs) * rate / 1e9;
    m_pacedUntilNs = now;
    m_budget = std::min(m_budget, std::max(1.0, rate * kMaxCatchUpMs / 1000.0));
    const qsizetype allowed = std::min<qsizetype>(m_pending.size(), qsizetype(m_budget));
    if (allowed > 0)
        m_budget -= double(writeMaster(allowed));
    if (m_pending.isEmpty() || m_master < 0)
        m_paceTimer.stop();
}

void SerialLine::flush() {
    writeMaster(m_pending.size());
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
