#pragma once

#include "link/logging.h"
#include "link/protocol.h"

#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QStringList>

#include <deque>
#include <functional>
#include <memory>

namespace vm::link {

class Transport;

// The outcome of one command.
struct CommandReply {
    bool completed = false; // the status line arrived
    bool ok = false;        // ... and it said OK
    QStringList lines;      // data lines before the status line
    QString status;         // the status line ("!TRIG OK"), empty when none came
    int errorCode = 0;      // the reader's error code; 0 for OK or when no status came
    QString errorText;      // the reader's error text, or why no status came
    explicit operator bool() const { return ok; }
};

// The reply lines of the channel's last command (data lines only).
struct ReplyLines {
    QStringList lines;
    int Count() const { return int(lines.size()); }
};

// A reader's command channel: one command at a time from the caller's view.
// SendCommand waits for the status line (or its time-out) without handling user
// input; the connection library delivers none of its events while it waits.
// After a command, Lines and ReadLine give its reply line by line.
// A long reply (a configuration listing) is read as it arrives: StartCommand waits only
// for its first line, and ReadLine waits for each further one.
class CommandResponse : public QObject {
    Q_OBJECT
    struct Pending;

public:
    // Reads one command's reply as it arrives (StartCommand). Other commands may go out on
    // the channel meanwhile; this reader keeps to its own command's lines.
    class ReplyReader {
    public:
        ReplyReader() = default;
        // The command was answered: its first line came in time.
        bool started() const { return m_started; }
        // Why the command was not answered, or why its reply stopped.
        QString errorText() const;
        // The next line of the reply: its data lines, then its status line; a null string
        // when the reply has ended or stopped. Waits up to timeoutMs for the next line, counted
        // from the last byte received: a long line still arriving at a slow baud rate is not
        // cut off. A reply that stops is given up (a late status line is then recognised).
        QString ReadLine(int timeoutMs);
        // The reply so far: complete (with its status) once the status line was read.
        CommandReply reply() const;

    private:
        friend class CommandResponse;
        QPointer<CommandResponse> m_channel;
        std::shared_ptr<Pending> m_pending;
        int m_index = 0;
        bool m_started = false;
        QString m_error;
    };

    explicit CommandResponse(QString name, QObject* parent = nullptr);
    ~CommandResponse() override;

    // The port name for a serial reader ("SIM1:", "ttyS0:"), the address otherwise.
    QString Name() const { return m_name; }
    void setName(const QString& name) { m_name = name; }
    bool IsOpen() const;

    CommandReply SendCommand(const QString& text, int timeoutMs = kCommandTimeoutMs);
    // Sends a command whose reply is read line by line as it arrives: waits up to timeoutMs
    // for its first line (counted, like ReadLine, from the last byte received). The channel's
    // ReadLine, Lines and LastReply then follow this command too.
    ReplyReader StartCommand(const QString& text, int timeoutMs = kCommandTimeoutMs);
    // The reply's data lines so far (Lines().Count() is their number).
    ReplyLines Lines() const;
    // The next line of the last command's reply: its data lines, then its status
    // line. Waits up to timeoutMs while the reply is still coming; returns a null
    // string when nothing more comes.
    QString ReadLine(int timeoutMs = kCommandTimeoutMs);
    CommandReply LastReply() const;

    // Link layer: queue a command whose reply is handed to done (never blocks).
    void sendAsync(const QString& text, std::function<void(const CommandReply&)> done,
                   int timeoutMs = kCommandTimeoutMs);
    void attach(Transport* transport);
    void detach();
    // Lines nobody asked for (replies that arrived after their command gave up).
    qint64 strayLines() const { return m_strayLines; }

signals:
    // A serial line's asynchronous blocks.
    void asyncRecord(const QByteArray& payload);
    void asyncEvent(const QJsonObject& event);
    // Every completed command, for bookkeeping such as control.
    void commandCompleted(const QString& keyword, const vm::link::CommandReply& reply);
    void progress();

private:
    std::shared_ptr<Pending> enqueue(const QString& text, QString* errorText);
    void onBytes(const QByteArray& bytes);
    void handleLine(const QByteArray& raw);
    void handleStatus(const QString& line);
    void finish(const std::shared_ptr<Pending>& p);
    void giveUp(const std::shared_ptr<Pending>& p, const QString& why);
    void overflow(const QString& what);
    const Pending* oldestWaiting() const;
    QStringList linesFor(const Pending& p) const;
    void failAll(const QString& why);
    bool waitFor(const std::function<bool()>& done, int timeoutMs);
    // Waits until done() holds, for at most timeoutMs since the last byte received.
    bool waitWhileArriving(const std::function<bool()>& done, int timeoutMs);
    // The line `index` of a command's reply (its data lines, then its status line), waiting
    // for it as ReplyReader::ReadLine says; null when there is none.
    QString replyLine(const std::shared_ptr<Pending>& p, int index, int timeoutMs);
    bool stillComing(const std::shared_ptr<Pending>& p) const;

    QString m_name;
    QPointer<Transport> m_transport;
    std::deque<std::shared_ptr<Pending>> m_queue;
    std::shared_ptr<Pending> m_current;
    int m_readIndex = 0;
    qint64 m_lineCounter = 0;
    qint64 m_strayLines = 0;
    qint64 m_bytesReceived = 0;
    // Data lines not yet given to a command: a status line decides whose they are.
    struct HeldLine {
        QString text;
        qint64 index;
    };
    std::vector<HeldLine> m_held;
    qint64 m_heldBytes = 0;
    bool m_discardingReply = false; // an overlong reply is dropped up to its status line
    bool m_asyncBlocks = false;
    WarningLimiter m_warnings;
    QByteArray m_rx;
    bool m_discardingLine = false;
    qint64 m_binaryRemaining = 0;
    bool m_binaryDiscarded = false; // an #OUTPUT block: skipped, not a record
    int m_skipAfterBinary = 0;
    QByteArray m_binary;
};

namespace detail {
// While any library wait runs (a command, opening a link), library events are
// held back and delivered after it returns.
class WaitScope {
public:
    WaitScope();
    ~WaitScope();
    WaitScope(const WaitScope&) = delete;
    WaitScope& operator=(const WaitScope&) = delete;
};
int waitDepth();
void setWaitEndedHandler(std::function<void()> handler);

// Runs a local event loop without user input until done() holds or timeoutMs has
// passed; returns done(). `wake` connects, with the loop as context, the signals after
// which done() is looked at again; pollMs > 0 also looks that often.
bool waitLoop(const std::function<bool()>& done, int timeoutMs,
              const std::function<void(QObject* context, const std::function<void()>& check)>& wake,
              int pollMs = 0);
} // namespace detail

} // namespace vm::link

Q_DECLARE_METATYPE(vm::link::CommandReply)
