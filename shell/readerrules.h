#pragma once

#include <QString>
#include <QStringList>

namespace vm::shell {

// The reader generation that the program's windows compare against, computed from the
// reader's software version a.b.c.d: 0 when unknown, 99 for development versions.
int FirmwareLevelOf(const QString& softwareVersion);

// True when the text split on "." has exactly four parts, each an integer 0 to 255.
bool IsValidIPAddress(const QString& text);

// A camera caption names a PC serial port when ":" occurs at its second character or
// later ("COM1:", "SIM1:").
bool IsSerialCaption(const QString& caption);

// What the version check decides before asking anybody.
enum class VersionVerdict {
    Accept,        // connect without a message
    MinorMismatch, // only the last field differs: ask the operator
    MajorMismatch, // refuse
};

// Compares a reader's software version with the program's own file version.
VersionVerdict CheckVersionVerdict(const QString& cameraVersion, const QString& programVersion);

// The lines of the two mismatch messages, joined by CR LF.
QString MinorMismatchText(const QString& cameraVersion, const QString& programVersion);
QString MajorMismatchText(const QString& cameraVersion, const QString& programVersion);

// The serial poll command: "REPORTREQ " + compression code + image flag + " NEXTFAIL".
struct ReportRequest {
    // Index in the Compression list: "No Compression", "4:1 Compression", "8:1
    // Compression", "16:1 Compression", "32:1 Compression".
    int compressionIndex = 0;
    bool withImage = false;
    bool failuresOnly = false;
};
QString BuildReportRequest(const ReportRequest& request);
// The compression code of a Compression list entry (" 255", " 1", ...), with its blank.
QString CompressionCode(int compressionIndex);

// How another station's name shows in a camera button's tooltip: a serial station (a
// name beginning with "COM", a port name ending in ":", or a device path under /dev/)
// as "SERIAL".
QString ControllerDisplayName(const QString& controllerName);

} // namespace vm::shell
