#include "app/registry.h"

#include "app/inifile.h"
#include "app/logging.h"
#include "link/wholefile.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace vm::app {

namespace {

QString& folderOverride() {
    static QString folder;
    return folder;
}

AppError openForWritingError(RegistryRoot root, const QString& subkey, long systemError) {
    return AppError{ErrorFail, QStringLiteral("Could not open key ") + RegistryRootName(root) + u'\\' +
                                   subkey + QStringLiteral(" for writing (error ") +
                                   QString::number(systemError) + u')'};
}

#ifdef Q_OS_WIN
HKEY rootHandle(RegistryRoot root) {
    // The predefined handles are 32-bit values sign-extended to the pointer width.
    return reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG>(static_cast<quint32>(root))));
}
#else
QString fileStem(RegistryRoot root) {
    switch (root) {
    case RegistryRoot::ClassesRoot:
        return QStringLiteral("HKCR");
    case RegistryRoot::CurrentUser:
        return QStringLiteral("HKCU");
    case RegistryRoot::LocalMachine:
        return QStringLiteral("HKLM");
    case RegistryRoot::Users:
        return QStringLiteral("HKU");
    case RegistryRoot::PerformanceData:
        return QStringLiteral("HKPD");
    case RegistryRoot::CurrentConfig:
        return QStringLiteral("HKCC");
    }
    return QStringLiteral("HK%1").arg(static_cast<quint32>(root), 8, 16, QChar(u'0'));
}

// Registry key paths are case-insensitive and use "\"; both spellings name one key here.
QString normalisedSubkey(const QString& subkey) {
    QString s = subkey;
    s.replace(u'/', u'\\');
    while (s.endsWith(u'\\'))
        s.chop(1);
    return s;
}
#endif

} // namespace

QString RegistryRootName(RegistryRoot root) {
    switch (root) {
    case RegistryRoot::ClassesRoot:
        return QStringLiteral("HKCR");
    case RegistryRoot::CurrentUser:
        return QStringLiteral("HKCU");
    case RegistryRoot::LocalMachine:
        return QStringLiteral("HKLM");
    default:
        return QString();
    }
}

void setRegistryFolder(const QString& folder) {
    folderOverride() = folder;
}

QString registryFolder() {
    if (!folderOverride().isEmpty())
        return folderOverride();
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Velmarrow/registry");
}

#ifdef Q_OS_WIN

QString registryFile(RegistryRoot) {
    return QString();
}

quint32 ReadRegistryDword(RegistryRoot root, const QString& subkey, const QString& valueName,
                          quint32 defaultValue) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(rootHandle(root), reinterpret_cast<LPCWSTR>(subkey.utf16()), 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return defaultValue;
    DWORD data = 0;
    DWORD size = sizeof(data);
    DWORD type = 0;
    const LONG rc = RegQueryValueExW(key, reinterpret_cast<LPCWSTR>(valueName.utf16()), nullptr, &type,
                                     reinterpret_cast<LPBYTE>(&data), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS || size < 1)
        return defaultValue;
    return data;
}

std::optional<AppError> WriteRegistryDword(RegistryRoot root, const QString& subkey, const QString& valueName,
                                           quint32 value) {
    HKEY key = nullptr;
    const LONG rc = RegCreateKeyExW(rootHandle(root), reinterpret_cast<LPCWSTR>(subkey.utf16()), 0, nullptr,
                                    REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (rc != ERROR_SUCCESS)
        return openForWritingError(root, subkey, rc);
    const DWORD data = value;
    const LONG set = RegSetValueExW(key, reinterpret_cast<LPCWSTR>(valueName.utf16()), 0, REG_DWORD,
                                    reinterpret_cast<const BYTE*>(&data), sizeof(data));
    RegCloseKey(key);
    if (set != ERROR_SUCCESS)
        return openForWritingError(root, subkey, set);
    return std::nullopt;
}

#else

QString registryFile(RegistryRoot root) {
    return registryFolder() + u'/' + fileStem(root) + QStringLiteral(".ini");
}

quint32 ReadRegistryDword(RegistryRoot root, const QString& subkey, const QString& valueName,
                          quint32 defaultValue) {
    QFile file(registryFile(root));
    if (!file.open(QIODevice::ReadOnly))
        return defaultValue;
    const auto text = IniDocument::parse(file.readAll()).value(normalisedSubkey(subkey), valueName);
    if (!text || text->trimmed().isEmpty())
        return defaultValue;
    bool ok = false;
    const qulonglong n = text->trimmed().toULongLong(&ok, 0);
    if (!ok || n > 0xFFFFFFFFull)
        return defaultValue;
    return static_cast<quint32>(n);
}

std::optional<AppError> WriteRegistryDword(RegistryRoot root, const QString& subkey, const QString& valueName,
                                           quint32 value) {
    const QString path = registryFile(root);
    QDir().mkpath(registryFolder());
    // Opening the root's file for writing is what opening the key with full access is on
    // Windows; its errno is the system error the message names.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return openForWritingError(root, subkey, errno);

    QByteArray existing;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof(buffer));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int err = errno;
            ::close(fd);
            return openForWritingError(root, subkey, err);
        }
        if (n == 0)
            break;
        existing.append(buffer, n);
    }

    IniDocument doc = IniDocument::parse(existing);
    doc.setValue(normalisedSubkey(subkey), valueName, QString::number(value));
    const QByteArray out = doc.serialize();

    ::close(fd);
    // Written beside the file and renamed over it: a crash leaves the old file or the new one.
    QString why;
    errno = 0;
    if (!vm::link::writeWholeFile(path, out, &why)) {
        const int err = errno != 0 ? errno : EIO;
        qCWarning(lcApp) << "registry file" << path << "write failed:" << why;
        return openForWritingError(root, subkey, err);
    }
    return std::nullopt;
}

#endif

} // namespace vm::app
