#pragma once

#include "link/commandresponse.h"
#include "link/protocol.h"
#include "link/record.h"

#include <QObject>

namespace vm::link {

class Device;
class LinkHub;
class ImageConnection;

// A window's connection to the focused reader. All connection objects of the
// process follow the reader that the Coordinator focused. Their events arrive on
// the user-interface thread, never while a command of this library is waiting.
class Connection : public QObject {
    Q_OBJECT
public:
    ~Connection() override;

    bool Connected() const;
    bool HasControl() const;
    bool IsSerial() const;
    // Sends one command and waits up to timeoutMs for its status line.
    CommandReply SendCommand(const QString& text, int timeoutMs = kCommandTimeoutMs);
    // Sends a query and gives its reply's data lines (one for a parameter),
    // joined by CR LF; empty when the reader answers an error or nothing.
    QString Query(const QString& text, int timeoutMs = kCommandTimeoutMs);
    // The focused reader's command channel (a closed channel when none is focused).
    CommandResponse& Response();
    vm::link::Device* Device() const;
    // Reaches OnBroadcastMessage of every connection object and coordinator of
    // the process, this one included.
    void BroadcastMessage(const QString& sender, const QString& message, const QString& text);

signals:
    // The link to the focused reader came up, went down or was re-established,
    // or another reader was focused.
    void OnConnectionReset();
    void OnControlStatusChanged();
    void OnBroadcastMessage(const QString& sender, const QString& message, const QString& text);
    void OnNewRecord(const vm::link::Record& record);
    // One of the focused reader's IO lines switched ("OPTO_OUT1", "GPIO_OUT3",
    // "OPTO_IN1"): its function asserted or not, and its level after the polarity.
    void OnLineStateChanged(const QString& line, bool active, bool high);

protected:
    explicit Connection(QObject* parent);
    virtual void deliverRecord(const Record& record);

private:
    friend class LinkHub;
    LinkHub* m_hub;
};

// The image stream of an ImageConnection. It runs from the start; while it is
// stopped the connection's records arrive without their image.
class ImageAcquisition {
public:
    void Start() { m_running = true; }
    void Stop() { m_running = false; }
    bool IsRunning() const { return m_running; }

private:
    bool m_running = true;
};

class ImageConnection : public Connection {
    Q_OBJECT
public:
    explicit ImageConnection(QObject* parent = nullptr);
    ImageAcquisition& Acquisition() { return m_acquisition; }

signals:
    void OnDataTransferStarted();
    void OnDataTransferPercentComplete(int percent);
    void OnDataTransferAborted();

protected:
    void deliverRecord(const Record& record) override;

private:
    friend class LinkHub;
    ImageAcquisition m_acquisition;
};

class ReaderConnection : public Connection {
    Q_OBJECT
public:
    explicit ReaderConnection(QObject* parent = nullptr)
        : Connection(parent) {}
};

class SettingsConnection : public Connection {
    Q_OBJECT
public:
    explicit SettingsConnection(QObject* parent = nullptr)
        : Connection(parent) {}
};

} // namespace vm::link
