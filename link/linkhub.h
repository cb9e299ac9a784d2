#pragma once

#include "link/commandresponse.h"
#include "link/protocol.h"
#include "link/record.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QUdpSocket>

#include <deque>
#include <functional>
#include <memory>
#include <vector>

namespace vm::link {

class Connection;
class Coordinator;
class Device;

// The one link hub of the process: discovery, the readers, the focused reader
// and its links, and the delivery of library events to every connection object
// and coordinator. Created by the first Coordinator or connection object and
// gone with the last.
class LinkHub : public QObject {
    Q_OBJECT
public:
    static LinkHub* acquire();
    static void release();
    // The hub, or nullptr when no coordinator or connection object exists.
    static LinkHub* instance();

    void addConnection(Connection* connection);
    void removeConnection(Connection* connection);
    void addCoordinator(Coordinator* coordinator);
    void removeCoordinator(Coordinator* coordinator);

    void startDiscovery();
    QList<Device*> devices() const;
    QList<DiscoveryAnswer> refusedReaders() const;
    bool focus(const QString& name);
    Device* deviceFor(const QString& name);
    Device* focusedDevice() const { return m_focused; }
    CommandResponse& channel();
    void broadcast(const QString& sender, const QString& message, const QString& text);
    QList<QHostAddress> discoveryTargets(QList<quint16>* ports) const;

private:
    LinkHub();
    ~LinkHub() override;
    void shutdown();

    struct Event {
        std::function<void()> deliver;
        bool record = false;
    };
    void post(std::function<void()> deliver, bool record = false);
    void scheduleFlush();
    void flush();
    void probe();
    void readDatagrams();
    void handleAnswer(DiscoveryAnswer answer);
    // A reader whose name cannot be used: kept apart from the devices, by its address only.
    void handleRefusedAnswer(const DiscoveryAnswer& answer);
    void postRefusedChanged();
    // The known reader that an answer from an address no reader had comes from: the one
    // device with the answer's MAC address, not connected and no longer answering where
    // it was; null when there is none.
    Device* movedReader(const DiscoveryAnswer& answer) const;
    void forget(Device* device);
    static QString discoveryKey(const QHostAddress& address, quint16 commandPort);
    Device* findForFocus(const QString& name);
    void attachFocused(Device* device);
    void detachFocused();
    void postReset();
    template <typename F>
    void forEachConnection(F f);
    // Delivers an event to the connections of this moment, from the event loop.
    template <typename F>
    void postToConnections(F f);
    template <typename F>
    void forEachCoordinator(F f);

    QList<QPointer<Connection>> m_connections;
    QList<QPointer<Coordinator>> m_coordinators;
    std::vector<std::unique_ptr<Device>> m_devices; // discovered and named ones
    QHash<QString, Device*> m_discovered;           // discovered ones by address and command port
    QHash<Device*, qint64> m_vanishedAt;            // m_clock time when a discovered reader vanished
    struct Refused {
        QString key; // discoveryKey
        DiscoveryAnswer answer;
        int missedProbes = 0;
    };
    QList<Refused> m_refused; // in the order they were first heard
    QElapsedTimer m_clock;
    WarningLimiter m_discoveryWarnings;
    Device* m_focused = nullptr;
    CommandResponse m_idleChannel{QString()};

    QUdpSocket m_udp;
    QTimer m_probeTimer;
    bool m_discovering = false;

    std::deque<Event> m_events;
    int m_queuedRecords = 0;
    bool m_flushScheduled = false;
    bool m_resetQueued = false;
    QList<QPointer<Connection>> m_resetTargets;
};

} // namespace vm::link
