#include "shell/systeminfo.h"

#include "app/logging.h"
#include "app/prompts.h"
#include "resources/strings.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace vm::shell {

using vm::app::lcApp;

namespace {

#ifdef Q_OS_WIN
// A string (or byte-array) value under the local machine root, read into a buffer of
// 1024 characters as the tool's registry entries have always been read.
std::optional<QString> readLocalMachineString(const QString& subkey, const QString& valueName) {
    HKEY key = nullptr;
    const std::wstring nativeKey = subkey.toStdWString();
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, nativeKey.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return std::nullopt;
    wchar_t buffer[1024] = {};
    DWORD size = sizeof buffer;
    DWORD type = 0;
    const std::wstring nativeValue = valueName.toStdWString();
    const LONG rc =
        RegQueryValueExW(key, nativeValue.c_str(), nullptr, &type, reinterpret_cast<LPBYTE>(buffer), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS)
        return std::nullopt;
    if (type == REG_SZ || type == REG_EXPAND_SZ) {
        QString text = QString::fromWCharArray(buffer, int(size / sizeof(wchar_t)));
        const qsizetype end = text.indexOf(QChar(0));
        if (end >= 0)
            text.truncate(end);
        return text;
    }
    if (type == REG_BINARY)
        return QString::fromLatin1(
            QByteArray(reinterpret_cast<const char*>(buffer), int(size)).toHex().toUpper());
    return std::nullopt;
}
#endif

SystemInfoLookup& lookupHook() {
    static SystemInfoLookup hook;
    return hook;
}

SystemInfoStarter& starterHook() {
    static SystemInfoStarter hook;
    return hook;
}

bool startDetached(const SystemInfoTool& tool) {
    return QProcess::startDetached(tool.program, tool.arguments);
}

} // namespace

std::optional<SystemInfoTool> findMsinfo(const RegistryStringReader& readString) {
    if (const auto path = readString(QLatin1String(MsinfoKey), QLatin1String(MsinfoValue));
        path && !path->isEmpty())
        return SystemInfoTool{*path, {}};
    if (const auto folder = readString(QLatin1String(SharedToolsKey), QLatin1String(SharedToolsValue));
        folder && !folder->isEmpty()) {
        const QString program = *folder + QLatin1String(MsinfoProgram);
        if (QFileInfo(program).isFile())
            return SystemInfoTool{program, {}};
    }
    return std::nullopt;
}

QStringList systemInfoCandidates() {
    return {QStringLiteral("hardinfo"), QStringLiteral("hardinfo2"), QStringLiteral("kinfocenter"),
            QStringLiteral("gnome-system-monitor")};
}

std::optional<SystemInfoTool> findSystemInfoToolOnPath(const QStringList& searchPath) {
    // QStandardPaths searches the system PATH when given no folders; an empty search path
    // must find nothing.
    QStringList folders;
    for (const QString& folder : searchPath)
        if (!folder.isEmpty())
            folders << folder;
    if (folders.isEmpty())
        return std::nullopt;
    for (const QString& name : systemInfoCandidates()) {
        const QString program = QStandardPaths::findExecutable(name, folders);
        if (!program.isEmpty())
            return SystemInfoTool{program, {}};
    }
    return std::nullopt;
}

std::optional<SystemInfoTool> findSystemInfoTool() {
#if defined(Q_OS_WIN)
    return findMsinfo(readLocalMachineString);
#elif defined(Q_OS_MACOS)
    for (const char* app : {"/System/Applications/Utilities/System Information.app",
                            "/Applications/Utilities/System Information.app"}) {
        if (QFileInfo(QString::fromLatin1(app)).isDir())
            return SystemInfoTool{QStringLiteral("/usr/bin/open"), {QString::fromLatin1(app)}};
    }
    return std::nullopt;
#else
    return findSystemInfoToolOnPath(
        qEnvironmentVariable("PATH").split(QDir::listSeparator(), Qt::SkipEmptyParts));
#endif
}

void setSystemInfoLookup(SystemInfoLookup lookup) {
    lookupHook() = std::move(lookup);
}

void setSystemInfoStarter(SystemInfoStarter starter) {
    starterHook() = std::move(starter);
}

void resetSystemInfoHooks() {
    lookupHook() = nullptr;
    starterHook() = nullptr;
}

bool StartSysInfo(QWidget* parent) {
    const auto tool = lookupHook() ? lookupHook()() : findSystemInfoTool();
    if (tool) {
        const bool started = starterHook() ? starterHook()(*tool) : startDetached(*tool);
        if (started) {
            qCInfo(lcApp) << "started the system-information tool" << tool->program;
            return true;
        }
        qCWarning(lcApp) << "could not start the system-information tool" << tool->program;
    }
    vm::app::showMessage(parent, vm::res::Str(1105), vm::app::PromptButtons::Ok, vm::app::PromptIcon::None);
    return false;
}

} // namespace vm::shell
