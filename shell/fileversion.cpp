#include "shell/fileversion.h"

#include <QCoreApplication>
#include <QFile>

#include <cstring>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace vm::shell {

namespace {

// The fixed file information block of a version record, as the version-resource
// standard lays it out (13 little-endian 32-bit words).
struct FixedFileInfo {
    quint32 signature;
    quint32 strucVersion;
    quint32 fileVersionMS;
    quint32 fileVersionLS;
    quint32 productVersionMS;
    quint32 productVersionLS;
    quint32 fileFlagsMask;
    quint32 fileFlags;
    quint32 fileOS;
    quint32 fileType;
    quint32 fileSubtype;
    quint32 fileDateMS;
    quint32 fileDateLS;
};
static_assert(sizeof(FixedFileInfo) == 52);

// Computed so that the scanner's own code holds no copy of the signature bytes.
quint32 fixedInfoSignature() {
    volatile quint32 inverted = 0x0110FB42u;
    return ~inverted;
}

FileVersion fromFixedInfo(const FixedFileInfo& info) {
    const quint32 major = info.fileVersionMS >> 16;
    const quint32 minor = info.fileVersionMS & 0xFFFFu;
    const quint32 build = info.fileVersionLS >> 16;
    const quint32 revision = info.fileVersionLS & 0xFFFFu;
    FileVersion v;
    v.version = QStringLiteral("%1.%2.%3.%4").arg(major).arg(minor).arg(build).arg(revision);
    v.versionBuild = QStringLiteral("%1.%2.%3 Build %4").arg(major).arg(minor).arg(build).arg(revision);
    v.fileType = FileTypeName(info.fileType);
    v.fileSubtype = FileSubtypeName(info.fileType, info.fileSubtype);
    return v;
}

FileVersion noVersion() {
    return FileVersion{QStringLiteral("0.0.0.0"), QStringLiteral("0.0.0 Build 0"), QString(), QString()};
}

#ifndef Q_OS_WIN
// Finds the stamped block in the file's bytes: its signature followed by structure
// version 1.0 and a known file type.
bool scanForFixedInfo(const QByteArray& bytes, FixedFileInfo* out) {
    const quint32 signature = fixedInfoSignature();
    char pattern[4];
    std::memcpy(pattern, &signature, 4);
    const QByteArray needle(pattern, 4);
    qsizetype at = bytes.indexOf(needle);
    while (at >= 0) {
        if (at + qsizetype(sizeof(FixedFileInfo)) <= bytes.size()) {
            FixedFileInfo info;
            std::memcpy(&info, bytes.constData() + at, sizeof info);
            if (info.strucVersion == 0x00010000u && info.fileType <= 7u) {
                *out = info;
                return true;
            }
        }
        at = bytes.indexOf(needle, at + 1);
    }
    return false;
}
#endif

} // namespace

QString FileTypeName(quint32 type) {
    switch (type) {
    case 1:
        return QStringLiteral("APP");
    case 2:
        return QStringLiteral("DLL");
    case 3:
        return QStringLiteral("Driver");
    case 4:
        return QStringLiteral("Font");
    case 5:
        return QStringLiteral("VxD");
    case 7:
        return QStringLiteral("LIB");
    default:
        return QStringLiteral("Unknown");
    }
}

QString FileSubtypeName(quint32 type, quint32 subtype) {
    if (type != 3)
        return QString();
    static const char* const names[] = {"Unknown",         "Printer Driver", "Keyboard Driver",
                                        "Language Driver", "Display Driver", "Mouse Driver",
                                        "Network Driver",  "System Driver",  "Installable",
                                        "Sound Driver",    "Comm Driver"};
    if (subtype < std::size(names))
        return QString::fromLatin1(names[subtype]);
    return QStringLiteral("Unknown");
}

FileVersion ReadFileVersion(const QString& path) {
#ifdef Q_OS_WIN
    const std::wstring native = path.toStdWString();
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeW(native.c_str(), &handle);
    if (size < 1)
        return noVersion();
    QByteArray buffer(int(size), Qt::Uninitialized);
    if (!GetFileVersionInfoW(native.c_str(), 0, size, buffer.data()))
        return noVersion();
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(buffer.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) || !fixed ||
        length < sizeof(VS_FIXEDFILEINFO))
        return noVersion();
    FixedFileInfo info;
    std::memcpy(&info, fixed, sizeof info);
    return fromFixedInfo(info);
#else
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return noVersion();
    const QByteArray bytes = file.readAll();
    FixedFileInfo info;
    if (!scanForFixedInfo(bytes, &info))
        return noVersion();
    return fromFixedInfo(info);
#endif
}

FileVersion ReadProgramVersion() {
    return ReadFileVersion(QCoreApplication::applicationFilePath());
}

} // namespace vm::shell
