#pragma once

#include <QString>

namespace vm::shell {

// The version record of an executable file: on Windows its version resource, elsewhere
// the same fixed-file-information block that the build stamps into the executable.
struct FileVersion {
    QString version;      // "major.minor.build.revision"
    QString versionBuild; // "major.minor.build Build revision"
    QString fileType;     // "APP", "DLL", "Driver", ...; empty without a record
    QString fileSubtype;  // for drivers: "Printer Driver", ...; empty without a record
};

FileVersion ReadFileVersion(const QString& path);

// The version of the running program, read from its own file.
FileVersion ReadProgramVersion();

// Type and subtype names of the operating system's version-resource codes.
QString FileTypeName(quint32 type);
QString FileSubtypeName(quint32 type, quint32 subtype);

} // namespace vm::shell
