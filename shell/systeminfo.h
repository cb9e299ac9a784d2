#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class QWidget;

namespace vm::shell {

// The operating system's system-information tool: the program to start and its arguments.
struct SystemInfoTool {
    QString program;
    QStringList arguments;
};

// The local-machine registry places of the Windows tool.
inline constexpr char MsinfoKey[] = "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";
inline constexpr char MsinfoValue[] = "PATH";
inline constexpr char SharedToolsKey[] = "SOFTWARE\\Microsoft\\Shared Tools Location";
inline constexpr char SharedToolsValue[] = "MSINFO";
inline constexpr char MsinfoProgram[] = "\\MSINFO32.EXE";

// Reading a string value under the local machine root; nothing when the key or value is
// missing. Values of byte-array type come back as hexadecimal text.
using RegistryStringReader =
    std::function<std::optional<QString>(const QString& subkey, const QString& valueName)>;

// The tool named by the registry: "PATH" under the MSINFO key, else the shared-tools folder
// with "\MSINFO32.EXE" appended when that file exists.
std::optional<SystemInfoTool> findMsinfo(const RegistryStringReader& readString);

// Systems without that registry: the first desktop information tool found in the folders
// of `searchPath` (a system-information tool first, then the desktops' own).
QStringList systemInfoCandidates();
std::optional<SystemInfoTool> findSystemInfoToolOnPath(const QStringList& searchPath);

// This platform's tool: the registry on Windows, "System Information" on macOS, elsewhere
// the candidates on the PATH.
std::optional<SystemInfoTool> findSystemInfoTool();

// Where the About box looks for the tool and how it starts it; tests replace these so
// that nothing is started.
using SystemInfoLookup = std::function<std::optional<SystemInfoTool>()>;
using SystemInfoStarter = std::function<bool(const SystemInfoTool& tool)>;
void setSystemInfoLookup(SystemInfoLookup lookup);
void setSystemInfoStarter(SystemInfoStarter starter);
void resetSystemInfoHooks();

// Starts the system-information tool in a normal window, or tells the operator that
// there is none (resource 1105). True when the tool was started.
bool StartSysInfo(QWidget* parent);

} // namespace vm::shell
