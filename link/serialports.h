#pragma once

#include <QString>
#include <QStringList>

#include <functional>

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

// The line settings this PC uses on one of its serial ports, in the numbers the
// program stores them with: parity 0 none, 1 odd, 2 even; byte size 7 or 8; stop bits
// 0 for one and 2 for two; flow control 0 none, 1 Xon/Xoff, 2 hardware.
struct SerialLineSettings {
    quint32 baudRate = 115200;
    quint32 parity = 0;
    quint32 byteSize = 8;
    quint32 stopBits = 0;
    quint32 flowControl = 0;
    bool operator==(const SerialLineSettings&) const = default;
};
// The link layer does not know where the program keeps these settings: the program
// installs a lookup at start-up, asked each time a port is opened. Without one (or with
// an empty one) every port uses the defaults above.
using SerialLineLookup = std::function<SerialLineSettings(const QString& portName)>;
void setSerialLineLookup(SerialLineLookup lookup);
SerialLineSettings serialLineSettings(const QString& portName);

} // namespace vm::link
