#pragma once

#include "link/serialports.h"

#include <QString>

namespace vm::app {

// Where the serial settings of one of this PC's ports are kept (under the local
// machine root, see docs/settings.md).
QString serialLineKey(const QString& portName);
// The stored settings of a port, each missing value at its default.
link::SerialLineSettings readSerialLineSettings(const QString& portName);
void writeSerialLineSettings(const QString& portName, const link::SerialLineSettings& line);
// Lets the link layer open every serial port with the settings stored for it.
void installSerialLineLookup();

} // namespace vm::app
