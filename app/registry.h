#pragma once

#include "app/apperror.h"

#include <QString>

#include <optional>

namespace vm::app {

// The predefined registry roots, with the values of the system's handles.
enum class RegistryRoot : quint32 {
    ClassesRoot = 0x80000000u,
    CurrentUser = 0x80000001u,
    LocalMachine = 0x80000002u,
    Users = 0x80000003u,
    PerformanceData = 0x80000004u,
    CurrentConfig = 0x80000005u,
};

// "HKCR", "HKCU" or "HKLM"; any other root has no name ("").
QString RegistryRootName(RegistryRoot root);

// The DWORD value, or `defaultValue` when the key cannot be opened for reading, the
// value is missing or it holds less than one byte. Never fails.
quint32 ReadRegistryDword(RegistryRoot root, const QString& subkey, const QString& valueName,
                          quint32 defaultValue);

// Creates the key when needed and writes the value as a 4-byte DWORD. When the key cannot
// be opened for writing the error has number ErrorFail and the text
// "Could not open key <root>\<subkey> for writing (error <system error number>)".
std::optional<AppError> WriteRegistryDword(RegistryRoot root, const QString& subkey, const QString& valueName,
                                           quint32 value);

// Platforms without a registry keep one INI file per root in this folder (the default is
// the user's configuration folder, see docs/settings.md); tests point it elsewhere.
void setRegistryFolder(const QString& folder);
QString registryFolder();
// The file that holds a root's keys on platforms without a registry.
QString registryFile(RegistryRoot root);

} // namespace vm::app
