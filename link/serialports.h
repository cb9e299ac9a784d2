#pragma once

#include <QString>
#include <QStringList>

namespace vm::link {

// The PC's serial ports as the program names them ("ttyS0:", "COM1:"), followed by
// the pseudo-terminals that simulated readers on this machine publish ("SIM1:").
QStringList availableSerialPortNames();
// The device to open for a port name; empty when there is no such port.
QString serialDevicePath(const QString& portName);
// True when the port can be opened now: nobody (another program, or this one while
// its reader is focused) holds it. The port is closed again at once.
bool serialPortOpens(const QString& portName);
// A name that has the form of a port name: ":" at position 2 or later.
bool looksLikeSerialPortName(const QString& name);
// The folder where simulated readers publish their serial ports.
QString simulatedPortsDirectory();

} // namespace vm::link
