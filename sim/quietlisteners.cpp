#include "sim/quietlisteners.h"

#include <QCoreApplication>
#include <QHash>
#include <QPointer>
#include <QSocketNotifier>
#include <QTcpServer>

#ifdef Q_OS_LINUX
#include <sys/epoll.h>
#include <unistd.h>
#endif

namespace vm::sim {

#ifdef Q_OS_LINUX

namespace {

// Of the application's thread, and gone with the application.
class QuietSet : public QObject {
public:
    explicit QuietSet(QObject* parent)
        : QObject(parent)
        , m_epoll(::epoll_create1(EPOLL_CLOEXEC)) {
        if (m_epoll < 0)
            return;
        m_notifier = new QSocketNotifier(m_epoll, QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, &QuietSet::wake);
    }
    ~QuietSet() override {
        delete m_notifier;
        if (m_epoll >= 0)
            ::close(m_epoll);
    }

    bool usable() const { return m_epoll >= 0; }

    void add(QTcpServer* server) {
        const int fd = int(server->socketDescriptor());
        if (fd < 0 || !server->isListening())
            return;
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.fd = fd;
        if (::epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &event) != 0)
            return; // watched by the event loop as before
        m_servers.insert(fd, server);
        server->pauseAccepting();
    }

private:
    void wake() {
        epoll_event events[64];
        const int n = ::epoll_wait(m_epoll, events, 64, 0);
        for (int i = 0; i < n; ++i) {
            const int fd = events[i].data.fd;
            // Out of the set while the event loop accepts, so that it does not fire again.
            ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, fd, nullptr);
            const QPointer<QTcpServer> server = m_servers.take(fd);
            if (!server || int(server->socketDescriptor()) != fd)
                continue;
            // Quiet again once the event loop has accepted the connection that woke it. (Not
            // on the next turn of the loop: that turn runs before the loop looks at the
            // server again, and the connection would wait for ever.)
            connect(
                server, &QTcpServer::newConnection, this,
                [this, server] {
                    if (server && server->isListening())
                        add(server);
                },
                Qt::SingleShotConnection);
            server->resumeAccepting();
        }
    }

    int m_epoll = -1;
    QSocketNotifier* m_notifier = nullptr;
    QHash<int, QPointer<QTcpServer>> m_servers;
};

} // namespace

void keepQuiet(QTcpServer* server) {
    QCoreApplication* app = QCoreApplication::instance();
    // A server of another thread stays watched by that thread's own event loop.
    if (!server || !app || server->thread() != app->thread())
        return;
    // Held here rather than looked up among the application's children: QuietSet has no
    // meta-object of its own, so a lookup by type would take any child of the application
    // for it (and did: the listeners stayed in the event loop's watch).
    static QPointer<QuietSet> set;
    if (!set)
        set = new QuietSet(app);
    if (set->usable())
        set->add(server);
}

#else

void keepQuiet(QTcpServer*) {}

#endif

} // namespace vm::sim
