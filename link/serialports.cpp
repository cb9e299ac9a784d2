#include "link/serialports.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSerialPort>
#include <QSerialPortInfo>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#endif

namespace vm::link {

namespace {
SerialLineLookup& lineLookup() {
    static SerialLineLookup lookup;
    return lookup;
}

bool processRuns(qint64 pid) {
    if (pid <= 0)
        return false;
#ifdef Q_OS_UNIX
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
#else
    return true;
#endif
}

struct PublishedPort {
    QString name;
    QString device;
};

QList<PublishedPort> publishedPorts() {
    QList<PublishedPort> ports;
    const QDir dir(simulatedPortsDirectory());
    const QFileInfoList files = dir.entryInfoList({QStringLiteral("*.port")}, QDir::Files, QDir::Name);
    for (const QFileInfo& info : files) {
        QFile file(info.absoluteFilePath());
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QList<QByteArray> lines = file.read(4096).split('\n');
        if (lines.size() < 2)
            continue;
        const QString device = QString::fromUtf8(lines.at(0)).trimmed();
        if (device.isEmpty() || !processRuns(lines.at(1).trimmed().toLongLong()) ||
            !QFileInfo::exists(device))
            continue; // stale: its simulator is gone
        ports.append({info.completeBaseName() + QLatin1Char(':'), device});
    }
    return ports;
}
} // namespace

QString simulatedPortsDirectory() {
    const QString dir = qEnvironmentVariable("VELMARROW_SIM_PORTS_DIR");
    return dir.isEmpty() ? QDir::tempPath() + QStringLiteral("/lumivex-sim-ports") : dir;
}

QStringList availableSerialPortNames() {
    QStringList names;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
        names.append(info.portName() + QLatin1Char(':'));
    names.sort();
    for (const PublishedPort& p : publishedPorts())
        if (!names.contains(p.name))
            names.append(p.name);
    return names;
}

QString serialDevicePath(const QString& portName) {
    QString bare = portName;
    if (bare.endsWith(QLatin1Char(':')))
        bare.chop(1);
    for (const PublishedPort& p : publishedPorts())
        if (p.name.compare(bare + QLatin1Char(':'), Qt::CaseInsensitive) == 0)
            return p.device;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
        if (info.portName().compare(bare, Qt::CaseInsensitive) == 0)
            return info.systemLocation();
    if (bare.startsWith(QLatin1Char('/')) && QFileInfo::exists(bare))
        return bare;
    return {};
}

bool looksLikeSerialPortName(const QString& name) {
    return name.indexOf(QLatin1Char(':')) >= 1;
}

bool serialPortOpens(const QString& portName) {
    const QString path = serialDevicePath(portName);
    if (path.isEmpty())
        return false;
    QSerialPort port;
    port.setPortName(path);
    if (!port.open(QIODevice::ReadWrite))
        return false;
    port.close();
    return true;
}

void setSerialLineLookup(SerialLineLookup lookup) {
    lineLookup() = std::move(lookup);
}

SerialLineSettings serialLineSettings(const QString& portName) {
    const SerialLineLookup& lookup = lineLookup();
    return lookup ? lookup(portName) : SerialLineSettings{};
}

} // namespace vm::link
