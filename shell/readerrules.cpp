#include "shell/readerrules.h"

#include "link/protocol.h"

#include <QList>

#include <iterator>

namespace vm::shell {

namespace {

// Fields of a dotted version as numbers; a field that does not parse counts as -1 so
// that it never equals or exceeds a real field.
QList<qint64> versionFields(const QString& version) {
    QList<qint64> fields;
    const QStringList parts = version.split(QLatin1Char('.'));
    for (const QString& part : parts) {
        bool ok = false;
        const qint64 value = part.trimmed().toLongLong(&ok);
        fields.append(ok ? value : -1);
    }
    return fields;
}

const char* const kLineBreak = "\r\n";

} // namespace

int FirmwareLevelOf(const QString& softwareVersion) {
    const QList<qint64> f = versionFields(softwareVersion);
    if (f.size() < 3)
        return 0;
    const qint64 a = f[0], b = f[1], c = f[2];
    if (a == 0)
        return 99;
    if (a == 1) {
        if (b >= 1 && b <= 3)
            return 3;
        if (b == 0 && c == 1)
            return 2;
        return 0;
    }
    if (a == 2) {
        if (b == 0)
            return c == 1 ? 5 : 4;
        if (b >= 1 && b <= 4)
            return int(b) + 5;
        if (b >= 5)
            return 4;
        return 0;
    }
    if (a == 3)
        return 10;
    return 0;
}

bool IsValidIPAddress(const QString& text) {
    // The library's rule, so that what the dialog accepts is a reader it can focus.
    return vm::link::isDottedAddress(text);
}

bool IsSerialCaption(const QString& caption) {
    return caption.indexOf(QLatin1Char(':')) >= 1;
}

VersionVerdict CheckVersionVerdict(const QString& cameraVersion, const QString& programVersion) {
    const QString& c = cameraVersion;
    const QString& p = programVersion;
    if (p == QLatin1String("1.0.0.0") || p == QLatin1String("0.0.0.0") || c == p ||
        c == QLatin1String("0.0.0.0") || c == QLatin1String("1.1.0.0"))
        return VersionVerdict::Accept;

    const QStringList cameraParts = c.split(QLatin1Char('.'));
    const QStringList programParts = p.split(QLatin1Char('.'));
    int equalLeading = 0;
    while (equalLeading < cameraParts.size() && equalLeading < programParts.size() &&
           cameraParts[equalLeading] == programParts[equalLeading])
        ++equalLeading;

    const QList<qint64> f = versionFields(c);
    if (f.size() == 4) {
        const bool exactly10113 = f[0] == 1 && f[1] == 0 && f[2] == 1 && f[3] == 13;
        const bool late110 = f[0] == 1 && f[1] == 1 && f[2] == 0 && f[3] >= 32;
        const bool any11y = f[0] == 1 && f[1] == 1 && f[2] > 0;
        const bool later1 = f[0] == 1 && f[1] > 1;
        const bool major = f[0] > 1;
        if (exactly10113 || late110 || any11y || later1 || major)
            return VersionVerdict::Accept;
    }
    return equalLeading == 3 ? VersionVerdict::MinorMismatch : VersionVerdict::MajorMismatch;
}

QString MinorMismatchText(const QString& cameraVersion, const QString& programVersion) {
    return QStringList{QStringLiteral("The camera software is at a different build revision than Velmarrow"),
                       QStringLiteral("Camera Version = ") + cameraVersion,
                       QStringLiteral("Velmarrow Version = ") + programVersion,
                       QStringLiteral("It is recommended that you upgrade the camera software"),
                       QStringLiteral("Do you wish to connect anyway?")}
        .join(QLatin1String(kLineBreak));
}

QString MajorMismatchText(const QString& cameraVersion, const QString& programVersion) {
    return QStringList{
        QStringLiteral("You cannot connect to this camera as there is a software version mismatch"),
        QStringLiteral("Camera Version = ") + cameraVersion,
        QStringLiteral("Velmarrow Version = ") + programVersion,
        QStringLiteral("You must upgrade the camera software to connect with this version of Velmarrow")}
        .join(QLatin1String(kLineBreak));
}

QString CompressionCode(int compressionIndex) {
    static const char* const codes[] = {" 255", " 1", " 4", " 26", " 27"};
    if (compressionIndex < 0 || compressionIndex >= int(std::size(codes)))
        compressionIndex = 0;
    return QString::fromLatin1(codes[compressionIndex]);
}

QString BuildReportRequest(const ReportRequest& request) {
    QString command = QStringLiteral("REPORTREQ ");
    command += CompressionCode(request.compressionIndex);
    command += request.withImage ? QStringLiteral(" 1") : QStringLiteral(" 0");
    if (request.failuresOnly)
        command += QStringLiteral(" NEXTFAIL");
    return command;
}

QString ControllerDisplayName(const QString& controllerName) {
    if (controllerName.startsWith(QLatin1String("COM"), Qt::CaseInsensitive) ||
        controllerName.endsWith(QLatin1Char(':')) || controllerName.startsWith(QLatin1String("/dev/")))
        return QStringLiteral("SERIAL");
    return controllerName;
}

} // namespace vm::shell
