#include "app/seriallines.h"

#include "app/registry.h"

namespace vm::app {

namespace {
const QString kBaudRate = QStringLiteral("BaudRate");
const QString kParity = QStringLiteral("Parity");
const QString kByteSize = QStringLiteral("ByteSize");
const QString kStopBits = QStringLiteral("StopBits");
const QString kFlowControl = QStringLiteral("FlowControl");
} // namespace

QString serialLineKey(const QString& portName) {
    return QStringLiteral("SOFTWARE\\Terrawick\\Device\\") + portName +
           QStringLiteral("\\ConnectionParameters\\Serial");
}

link::SerialLineSettings readSerialLineSettings(const QString& portName) {
    const QString key = serialLineKey(portName);
    const link::SerialLineSettings defaults;
    link::SerialLineSettings line;
    line.baudRate = ReadRegistryDword(RegistryRoot::LocalMachine, key, kBaudRate, defaults.baudRate);
    line.parity = ReadRegistryDword(RegistryRoot::LocalMachine, key, kParity, defaults.parity);
    line.byteSize = ReadRegistryDword(RegistryRoot::LocalMachine, key, kByteSize, defaults.byteSize);
    line.stopBits = ReadRegistryDword(RegistryRoot::LocalMachine, key, kStopBits, defaults.stopBits);
    line.flowControl = ReadRegistryDword(RegistryRoot::LocalMachine, key, kFlowControl, defaults.flowControl);
    return line;
}

void writeSerialLineSettings(const QString& portName, const link::SerialLineSettings& line) {
    const QString key = serialLineKey(portName);
    WriteRegistryDword(RegistryRoot::LocalMachine, key, kBaudRate, line.baudRate);
    WriteRegistryDword(RegistryRoot::LocalMachine, key, kParity, line.parity);
    WriteRegistryDword(RegistryRoot::LocalMachine, key, kByteSize, line.byteSize);
    WriteRegistryDword(RegistryRoot::LocalMachine, key, kStopBits, line.stopBits);
    WriteRegistryDword(RegistryRoot::LocalMachine, key, kFlowControl, line.flowControl);
}

void installSerialLineLookup() {
    link::setSerialLineLookup(&readSerialLineSettings);
}

} // namespace vm::app
