#pragma once

#include "link/device.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

namespace vm::link {

class LinkHub;

// Finds readers and holds the one focused reader of the process. Every
// Coordinator of the process shares the same readers and focus.
class Coordinator : public QObject {
    Q_OBJECT
public:
    explicit Coordinator(QObject* parent = nullptr);
    ~Coordinator() override;

    // Probes for readers now and every kDiscoveryInterval from then on.
    void StartDiscovery();
    // The readers that answer discovery (vanished ones are left out).
    QList<Device*> Devices() const;
    // The readers that answer discovery under a name the program cannot use (a folder in
    // it, "..", too long, ...): never among Devices, reachable only by their address; each
    // answer's nameProblem says why.
    QList<DiscoveryAnswer> RefusedReaders() const;
    // Focuses a reader by its name, a dotted address or a serial port name ("SIM1:");
    // "" focuses nothing. Every connection object follows and receives
    // OnConnectionReset. Returns true when the reader is connected.
    bool Focus(const QString& name, const QString& unused1 = QString(), const QString& unused2 = QString());
    Device* FocusedDevice() const;
    // The device object that Focus would use for this name (created for a static
    // address or a serial port when there is none yet), without focusing it; nullptr
    // when the name reaches no reader.
    Device* DeviceFor(const QString& name) const;
    QStringList SerialPortNames() const;
    int SerialPortCount() const;
    bool IsSerialPort(const QString& name) const;

signals:
    void OnDeviceDiscovered(vm::link::Device* device);
    // A discovered reader stopped answering.
    void OnDeviceVanished(vm::link::Device* device);
    // A reader with an unusable name was heard for the first time, changed its name or
    // stopped answering: RefusedReaders changed.
    void OnRefusedReadersChanged();
    void OnDeviceFocus(vm::link::Device* device);
    void OnBroadcastMessage(const QString& sender, const QString& message, const QString& text);

private:
    friend class LinkHub;
    LinkHub* m_hub;
};

} // namespace vm::link
