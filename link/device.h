#pragma once

#include "link/commandresponse.h"
#include "link/protocol.h"
#include "link/record.h"

#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QTimer>

#include <memory>

namespace vm::link {

class Device;
class Transport;

// How a device's images or reports travel: mode (0 with images, 2 without),
// rate per second (0 = as fast as the reader reads), and the legacy switch that
// readers of older generations need.
class TransferChannel {
public:
    int Mode() const { return m_mode; }
    void SetMode(int mode);
    int Rate() const { return m_rate; }
    void SetRate(int rate);
    bool Legacy() const { return m_legacy; }
    void SetLegacy(bool legacy);

private:
    friend class Device;
    explicit TransferChannel(Device* device)
        : m_device(device) {}
    Device* m_device;
    int m_mode = 0;
    int m_rate = 0;
    bool m_legacy = false;
};

// One reader: found by discovery, named by a static address, or on a serial port.
class Device : public QObject {
    Q_OBJECT
public:
    // A device object for a name given later with SetName: a serial port name
    // ("SIM1:") or a dotted address.
    explicit Device(QObject* parent = nullptr);
    ~Device() override;

    QString Name() const { return m_name; }
    void SetName(const QString& name);
    // Re-reads the software version and the controlling station. A device that is
    // not connected opens its command link for this (Close ends it again).
    bool Refresh();
    // Closes the command link that Refresh opened; a focused device stays connected.
    void Close();
    // Opens only the command link of a reader that is not focused, greeted and ready for
    // commands on PortSettings (a tool that talks to many readers at once); Close ends it.
    bool OpenCommandLink(int waitMs = kConnectTimeoutMs + kHandshakeTimeoutMs);
    QString SoftwareVersion() const { return m_version; }
    QString ControllerName() const { return m_controller; }
    // The IO lines as the reader last reported them: line word to (active, high).
    const QHash<QString, QPair<bool, bool>>& LineStates() const { return m_lineStates; }
    bool HasControl() const;
    CommandResponse& PortSettings() { return m_command; }
    TransferChannel& ImageChannel() { return m_imageChannel; }
    TransferChannel& ReportChannel() { return m_reportChannel; }
    // Sends image files to the reader; returns when the reader has acknowledged
    // each, or false with the reason in errorText.
    bool TransferFiles(const QStringList& paths, QString* errorText = nullptr);

    bool IsSerial() const { return m_serial; }
    bool IsConnected() const { return m_up; }
    QHostAddress Address() const { return m_address; }
    quint16 CommandPort() const { return m_commandPort; }
    quint16 DataPort() const { return m_dataPort; }
    QString MacAddress() const { return m_mac; }
    // The station name this PC gives the reader.
    QString StationName() const;

    // Link layer.
    void configureFromDiscovery(const DiscoveryAnswer& answer);
    void configureAddress(const QString& name, const QHostAddress& address, quint16 commandPort,
                          quint16 dataPort);
    void configureSerial(const QString& portName);
    bool isDiscovered() const { return m_discovered; }
    bool present() const { return m_present; }
    void setPresent(bool present) { m_present = present; }
    int& missedProbes() { return m_missedProbes; }
    // Opens the links and keeps them up (re-opening after a drop) until closeLinks.
    // Waits up to waitMs for the first opening.
    bool openLinks(int waitMs);
    void closeLinks();
    bool linksWanted() const { return m_wanted; }
    void subscriptionChanged();

signals:
    void OnDataTransferStarted();
    void OnDataTransferPercentComplete(int percent);
    void OnDataTransferAborted();

    void linkStateChanged(bool up);
    void controlChanged();
    void recordReceived(const vm::link::Record& record);
    // One of the reader's IO lines changed: whether its function is asserted, and its
    // electrical level after the polarity.
    void lineStateChanged(const QString& line, bool active, bool high);

private:
    void startLinks(bool withData);
    void closeTransports();
    void dropLinks(const QString& why);
    void scheduleRetry();
    void checkUp();
    void startHandshake();
    void onCommandCompleted(const QString& keyword, const CommandReply& reply);
    void onDataBytes(const QByteArray& bytes);
    void onRecordPayload(const QByteArray& payload);
    void onEvent(const QJsonObject& event);
    void setController(const QString& controller);
    // Takes the name the reader now gives itself, when the program can use it.
    void adoptName(const QString& name);
    void sendSubscription();
    bool waitUntil(const std::function<bool()>& done, int timeoutMs);

    QString m_name;
    bool m_serial = false;
    bool m_discovered = false;
    bool m_present = true;
    int m_missedProbes = 0;
    QHostAddress m_address;
    quint16 m_commandPort = kDefaultCommandPort;
    quint16 m_dataPort = kDefaultDataPort;
    QString m_serialPort;
    QString m_serialPath;
    QString m_version = QStringLiteral("0.0.0.0");
    QString m_controller;
    QHash<QString, QPair<bool, bool>> m_lineStates;
    QString m_mac;

    CommandResponse m_command;
    TransferChannel m_imageChannel{this};
    TransferChannel m_reportChannel{this};
    std::unique_ptr<Transport> m_commandLink;
    std::unique_ptr<Transport> m_dataLink;
    FrameDecoder m_decoder;
    WarningLimiter m_warnings;
    bool m_wanted = false;      // focused: keep the links up
    bool m_refreshOpen = false; // Refresh opened the command link on its own
    bool m_commandUp = false;
    bool m_dataUp = false;
    bool m_handshakeDone = false;
    bool m_up = false;
    bool m_attemptFailed = false;
    int m_retryDelay = kReconnectFirstDelayMs;
    QTimer m_retryTimer;
    quint64 m_generation = 0; // guards callbacks of an earlier link

    struct FileAck {
        bool received = false;
        bool ok = false;
        QString error;
    };
    FileAck m_fileAck;
};

} // namespace vm::link
