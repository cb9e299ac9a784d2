#include "link/commandresponse.h"

#include "link/logging.h"
#include "link/transport.h"

#include <QEventLoop>
#include <QJsonDocument>
#include <QTimer>

namespace vm::link {

namespace detail {
namespace {
int g_waitDepth = 0;
std::function<void()> g_waitEnded;
} // namespace

WaitScope::WaitScope() {
    ++g_waitDepth;
}
WaitScope::~WaitScope() {
    if (--g_waitDepth == 0 && g_waitEnded)
        g_waitEnded();
}
int waitDepth() {
    return g_waitDepth;
}
void setWaitEndedHandler(std::function<void()> handler) {
    g_waitEnded = std::move(handler);
}

bool waitLoop(const std::function<bool()>& done, int timeoutMs,
              const std::function<void(QObject* context, const std::function<void()>& check)>& wake,
              int pollMs) {
    if (done())
        return true;
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    // A coarse timer may fire up to 5 % early: a time-out must never end before its time.
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    const std::function<void()> check = [&] {
        if (done())
            loop.quit();
    };
    wake(&loop, check);
    QTimer poll;
    if (pollMs > 0) {
        QObject::connect(&poll, &QTimer::timeout, &loop, check);
        poll.start(pollMs);
    }
    timer.start(qMax(0, timeoutMs));
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    return done();
}
} // namespace detail

namespace {
// Commands kept waiting for a reply that may still come late; older ones are forgotten.
constexpr size_t kMaxAbandonedCommands = 32;
} // namespace

struct CommandResponse::Pending {
    QString text;
    QString keyword;
    qint64 sentIndex = 0; // line counter when the command left
    QStringList lines;    // its data lines, once its status line has come
    CommandReply reply;
    bool finished = false; // completed, failed or given up
    std::function<void(const CommandReply&)> callback;
    std::unique_ptr<QTimer> timer;
};

CommandResponse::CommandResponse(QString name, QObject* parent)
    : QObject(parent)
    , m_name(std::move(name)) {}

CommandResponse::~CommandResponse() {
    for (auto& p : m_queue)
        p->callback = nullptr;
}

bool CommandResponse::IsOpen() const {
    return m_transport && m_transport->isOpen();
}

void CommandResponse::attach(Transport* transport) {
    detach();
    m_transport = transport;
    // Only a serial line interleaves record and event blocks with replies.
    m_asyncBlocks = transport->kind() == Transport::Kind::Serial;
    connect(transport, &Transport::bytesReceived, this, &CommandResponse::onBytes);
    connect(transport, &Transport::disconnected, this,
            [this] { failAll(QStringLiteral("The connection to the reader was lost")); });
}

void CommandResponse::detach() {
    if (m_transport)
        m_transport->disconnect(this);
    m_transport = nullptr;
    failAll(QStringLiteral("The connection to the reader was closed"));
    m_rx.clear();
    m_discardingLine = false;
    m_binaryRemaining = 0;
    m_skipAfterBinary = 0;
    m_binary.clear();
    m_held.clear();
    m_heldBytes = 0;
    m_discardingReply = false;
}

void CommandResponse::failAll(const QString& why) {
    m_held.clear();
    m_heldBytes = 0;
    auto queue = std::move(m_queue);
    m_queue.clear();
    for (auto& p : queue) {
        if (p->finished)
            continue;
        p->reply.errorText = why;
        finish(p);
    }
    emit progress();
}

std::shared_ptr<CommandResponse::Pending> CommandResponse::enqueue(const QString& text, QString* errorText) {
    QString line = text;
    while (line.endsWith(QLatin1Char('\n')))
        line.chop(1);
    const QByteArray bytes = line.toUtf8() + '\n';
    if (line.trimmed().isEmpty()) {
        *errorText = QStringLiteral("An empty command was not sent");
        return nullptr;
    }
    if (line.contains(QLatin1Char('\n'))) {
        *errorText = QStringLiteral("A command is one line of text");
        return nullptr;
    }
    if (bytes.size() > kMaxCommandLine) {
        *errorText = QStringLiteral("The command is longer than %1 bytes").arg(kMaxCommandLine);
        return nullptr;
    }
    if (!IsOpen()) {
        *errorText = QStringLiteral("The reader is not connected");
        return nullptr;
    }
    auto p = std::make_shared<Pending>();
    p->text = line;
    p->keyword = commandKeyword(line);
    p->sentIndex = m_lineCounter;
    m_queue.push_back(p);
    qCDebug(lcLinkTraffic).noquote() << m_name << "<<" << line;
    if (!m_transport->write(bytes)) {
        m_queue.pop_back();
        *errorText = QStringLiteral("The command could not be sent to the reader");
        return nullptr;
    }
    return p;
}

bool CommandResponse::waitFor(const std::function<bool()>& done, int timeoutMs) {
    if (done())
        return true;
    {
        detail::WaitScope scope;
        detail::waitLoop(done, timeoutMs, [this](QObject* context, const std::function<void()>& check) {
            connect(this, &CommandResponse::progress, context, check);
        });
    }
    return done();
}

CommandReply CommandResponse::SendCommand(const QString& text, int timeoutMs) {
    QString error;
    auto p = enqueue(text, &error);
    m_readIndex = 0;
    if (!p) {
        m_current = std::make_shared<Pending>();
        m_current->text = text;
        m_current->finished = true;
        m_current->reply.errorText = error;
        return m_current->reply;
    }
    m_current = p;
    if (!waitFor([&] { return p->finished; }, timeoutMs)) {
        // Kept queued so that a late reply is recognised, but only as long as no
        // newer command with the same keyword waits: a lost reply costs this command alone.
        p->lines = linesFor(*p);
        giveUp(p, QStringLiteral("No reply to \"%1\" within %2 ms").arg(p->text).arg(timeoutMs));
        qCInfo(lcLink).noquote() << m_name << p->reply.errorText;
        while (m_queue.size() > kMaxAbandonedCommands && m_queue.front()->finished)
            m_queue.pop_front();
    }
    return p->reply;
}

void CommandResponse::sendAsync(const QString& text, std::function<void(const CommandReply&)> done,
                                int timeoutMs) {
    QString error;
    auto p = enqueue(text, &error);
    if (!p) {
        CommandReply r;
        r.errorText = error;
        QTimer::singleShot(0, this, [done, r] { done(r); });
        return;
    }
    p->callback = std::move(done);
    p->timer = std::make_unique<QTimer>();
    p->timer->setSingleShot(true);
    p->timer->setTimerType(Qt::PreciseTimer);
    std::weak_ptr<Pending> weak = p;
    connect(p->timer.get(), &QTimer::timeout, this, [this, weak, timeoutMs] {
        auto p = weak.lock();
        if (!p || p->finished)
            return;
        p->reply.errorText = QStringLiteral("No reply to \"%1\" within %2 ms").arg(p->text).arg(timeoutMs);
        finish(p);
    });
    p->timer->start(timeoutMs);
}

ReplyLines CommandResponse::Lines() const {
    return {m_current ? linesFor(*m_current) : QStringList()};
}

CommandReply CommandResponse::LastReply() const {
    return m_current ? m_current->reply : CommandReply();
}

const CommandResponse::Pending* CommandResponse::oldestWaiting() const {
    for (const auto& p : m_queue)
        if (!p->finished)
            return p.get();
    return nullptr;
}

QStringList CommandResponse::linesFor(const Pending& p) const {
    if (p.finished || oldestWaiting() != &p)
        return p.lines;
    // Still coming: the lines since it left are its own unless an older reply ends later.
    QStringList lines;
    for (const HeldLine& held : m_held)
        if (held.index > p.sentIndex)
            lines.append(held.text);
    return lines;
}

QString CommandResponse::ReadLine(int timeoutMs) {
    if (!m_current)
        return {};
    auto p = m_current;
    const QString line = replyLine(p, m_readIndex, timeoutMs);
    // Another command went out while this one's line was awaited: its lines are its own.
    if (m_current != p || line.isNull())
        return {};
    ++m_readIndex;
    return line;
}

bool CommandResponse::stillComing(const std::shared_ptr<Pending>& p) const {
    return !p->finished && std::find(m_queue.begin(), m_queue.end(), p) != m_queue.end();
}

bool CommandResponse::waitWhileArriving(const std::function<bool()>& done, int timeoutMs) {
    // At 9,600 baud a reply line of more than about 120 characters takes longer than a
    // 128 ms wait (the reader's listing holds lines of up to about 300: formats and match
    // strings of 128 characters): while bytes keep coming the reader is still answering, and
    // only a silence of timeoutMs ends the wait.
    for (;;) {
        const qint64 seen = m_bytesReceived;
        if (waitFor([&] { return done() || m_bytesReceived != seen; }, timeoutMs) && done())
            return true;
        if (m_bytesReceived == seen)
            return done();
    }
}

QString CommandResponse::replyLine(const std::shared_ptr<Pending>& p, int index, int timeoutMs) {
    auto available = [this, p, index] {
        return index < linesFor(*p).size() || (p->reply.completed && index == p->lines.size());
    };
    if (!available() && stillComing(p)) {
        waitWhileArriving([&] { return available() || !stillComing(p); }, timeoutMs);
        if (!available() && stillComing(p)) {
            // Kept queued, as SendCommand keeps a command it gave up, so that a late status line
            // is recognised.
            p->lines = linesFor(*p);
            giveUp(p, QStringLiteral("No further reply to \"%1\" within %2 ms").arg(p->text).arg(timeoutMs));
            qCInfo(lcLink).noquote() << m_name << p->reply.errorText;
        }
    }
    if (!available())
        return {};
    const QStringList lines = linesFor(*p);
    if (index >= lines.size())
        return p->reply.status;
    // An empty reply line is a line; only "no line" is null.
    return lines.at(index).isNull() ? QStringLiteral("") : lines.at(index);
}

CommandResponse::ReplyReader CommandResponse::StartCommand(const QString& text, int timeoutMs) {
    ReplyReader reader;
    reader.m_channel = this;
    QString error;
    auto p = enqueue(text, &error);
    m_readIndex = 0;
    if (!p) {
        p = std::make_shared<Pending>();
        p->text = text;
        p->finished = true;
        p->reply.errorText = error;
        m_current = p;
        reader.m_pending = p;
        reader.m_error = error;
        return reader;
    }
    m_current = p;
    reader.m_pending = p;
    const bool begun =
        waitWhileArriving([this, p] { return p->finished || !linesFor(*p).isEmpty(); }, timeoutMs);
    if (!begun) {
        p->lines = linesFor(*p);
        giveUp(p, QStringLiteral("No reply to \"%1\" within %2 ms").arg(p->text).arg(timeoutMs));
        qCInfo(lcLink).noquote() << m_name << p->reply.errorText;
        while (m_queue.size() > kMaxAbandonedCommands && m_queue.front()->finished)
            m_queue.pop_front();
    }
    // A reply that failed before its first line (a lost link) was not answered either.
    reader.m_started = p->reply.completed || !linesFor(*p).isEmpty();
    if (!reader.m_started)
        reader.m_error = p->reply.errorText;
    return reader;
}

QString CommandResponse::ReplyReader::errorText() const {
    if (!m_error.isEmpty())
        return m_error;
    return m_pending ? m_pending->reply.errorText : QString();
}

QString CommandResponse::ReplyReader::ReadLine(int timeoutMs) {
    if (!m_channel || !m_pending || !m_started)
        return {};
    const QString line = m_channel->replyLine(m_pending, m_index, timeoutMs);
    if (!line.isNull())
        ++m_index;
    return line;
}

CommandReply CommandResponse::ReplyReader::reply() const {
    return m_pending ? m_pending->reply : CommandReply();
}

void CommandResponse::giveUp(const std::shared_ptr<Pending>& p, const QString& why) {
    p->reply.errorText = why;
    finish(p);
}

void CommandResponse::overflow(const QString& what) {
    // The reply is thrown away up to the next status line, and its command fails.
    m_held.clear();
    m_heldBytes = 0;
    m_discardingReply = true;
    for (auto& p : m_queue) {
        if (p->finished)
            continue;
        p->lines.clear();
        giveUp(p, QStringLiteral("The reader's reply to \"%1\" was too long (%2); it was discarded")
                      .arg(p->text, what));
        if (m_warnings.allow())
            qCWarning(lcLink).noquote() << m_name << p->reply.errorText;
        emit progress();
        return;
    }
    if (m_warnings.allow())
        qCWarning(lcLink).noquote() << m_name << "discarding unasked reply lines:" << what;
}

void CommandResponse::finish(const std::shared_ptr<Pending>& p) {
    p->finished = true;
    if (p->timer)
        p->timer->stop();
    p->reply.lines = p->lines;
    if (p->callback) {
        auto callback = std::move(p->callback);
        p->callback = nullptr;
        callback(p->reply);
    }
}

void CommandResponse::onBytes(const QByteArray& bytes) {
    m_rx.append(bytes);
    qsizetype pos = 0;
    bool any = false;
    while (pos < m_rx.size()) {
        if (m_binaryRemaining > 0) {
            const qint64 take = qMin<qint64>(m_binaryRemaining, m_rx.size() - pos);
            if (!m_binaryDiscarded)
                m_binary.append(m_rx.constData() + pos, take);
            pos += take;
            m_binaryRemaining -= take;
            if (m_binaryRemaining == 0) {
                m_skipAfterBinary = 2;
                QByteArray payload = std::move(m_binary);
                m_binary = QByteArray();
                if (!m_binaryDiscarded)
                    emit asyncRecord(payload);
            }
            continue;
        }
        if (m_skipAfterBinary > 0) {
            const char c = m_rx.at(pos);
            if (c == '\r' || c == '\n') {
                ++pos;
                m_skipAfterBinary = c == '\n' ? 0 : m_skipAfterBinary - 1;
                continue;
            }
            m_skipAfterBinary = 0;
        }
        const qsizetype lf = m_rx.indexOf('\n', pos);
        if (lf < 0) {
            if (m_rx.size() - pos > kMaxReplyLineLength) {
                if (!m_discardingLine)
                    overflow(QStringLiteral("a line longer than %1 bytes").arg(kMaxReplyLineLength));
                m_discardingLine = true;
                any = true;
                pos = m_rx.size();
            }
            break;
        }
        if (m_discardingLine || lf - pos > kMaxReplyLineLength) {
            if (!m_discardingLine)
                overflow(QStringLiteral("a line longer than %1 bytes").arg(kMaxReplyLineLength));
            m_discardingLine = false;
            pos = lf + 1;
            any = true;
            continue;
        }
        QByteArray line = m_rx.mid(pos, lf - pos);
        pos = lf + 1;
        if (line.endsWith('\r'))
            line.chop(1);
        handleLine(line);
        any = true;
    }
    m_rx.remove(0, pos);
    // Waits for a line look at every byte: a line still arriving, or a record block ahead of
    // the reply on a serial line, means the reader is still sending.
    m_bytesReceived += bytes.size();
    if (any || !bytes.isEmpty())
        emit progress();
}

void CommandResponse::handleLine(const QByteArray& raw) {
    if (raw.startsWith('#') && !m_asyncBlocks) {
        // No reply line begins with '#', and a network link carries no blocks.
        ++m_strayLines;
        qCDebug(lcLink).noquote() << m_name << "ignoring a block on a network command link"
                                  << printable(raw.left(40));
        return;
    }
    if (raw.startsWith('#')) {
        // The reader's formatted output on its standard port travels as an #OUTPUT block; it
        // is meant for the plant's controller, so the program passes over its bytes.
        const bool output = raw.startsWith("#OUTPUT ");
        if (raw.startsWith("#RECORD ") || output) {
            bool ok = false;
            const qint64 n = raw.mid(8).trimmed().toLongLong(&ok);
            if (!ok || n <= 0 || n > qint64(kMaxFramePayload)) {
                if (m_warnings.allow())
                    qCWarning(lcLink).noquote()
                        << m_name << "ignoring a record block of bad length" << printable(raw.left(40));
                return;
            }
            m_binaryRemaining = n;
            m_binaryDiscarded = output;
            m_binary.clear();
            if (!output)
                m_binary.reserve(qMin<qint64>(n, 1 << 20));
        } else if (raw.startsWith("#EVENT ")) {
            QJsonParseError error;
            const QJsonDocument doc = QJsonDocument::fromJson(raw.mid(7), &error);
            if (doc.isObject())
                emit asyncEvent(doc.object());
            else if (m_warnings.allow())
                qCWarning(lcLink).noquote() << m_name << "ignoring a malformed event:" << error.errorString();
        } else {
            qCDebug(lcLink).noquote() << m_name << "ignoring an unknown block" << printable(raw.left(40));
        }
        return;
    }
    const QString line = QString::fromUtf8(raw);
    qCDebug(lcLinkTraffic).noquote() << m_name << ">>" << printable(raw.left(200));
    ++m_lineCounter;
    if (line.startsWith(QLatin1Char('!'))) {
        m_discardingReply = false;
        handleStatus(line);
        return;
    }
    if (m_discardingReply || m_queue.empty()) {
        ++m_strayLines;
        return;
    }
    if (m_held.size() >= kMaxReplyLines) {
        overflow(QStringLiteral("more than %1 lines").arg(kMaxReplyLines));
        ++m_strayLines;
        return;
    }
    if (m_heldBytes + raw.size() > kMaxReplyBytes) {
        overflow(QStringLiteral("more than %1 bytes").arg(kMaxReplyBytes));
        ++m_strayLines;
        return;
    }
    m_held.push_back({line, m_lineCounter});
    m_heldBytes += raw.size();
}

void CommandResponse::handleStatus(const QString& line) {
    const QStringList words = line.mid(1).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    const QString keyword = words.value(0).toUpper();
    const bool anyKeyword = keyword.isEmpty() || keyword == QLatin1String("?");
    auto matches = [&](const std::shared_ptr<Pending>& p) { return anyKeyword || p->keyword == keyword; };
    // A command still waiting comes first; one that gave up takes the line only when
    // nobody waits for that keyword (its reply came late).
    auto it = std::find_if(m_queue.begin(), m_queue.end(),
                           [&](const auto& p) { return !p->finished && matches(p); });
    if (it == m_queue.end())
        it = std::find_if(m_queue.begin(), m_queue.end(), matches);
    if (it == m_queue.end()) {
        ++m_strayLines;
        m_held.clear();
        m_heldBytes = 0;
        qCDebug(lcLink).noquote() << m_name << "status line without a command:" << line.left(200);
        return;
    }
    std::shared_ptr<Pending> p = *it;
    // The reader answers in order: every data line since this command left is its own,
    // earlier ones belong to older commands, which never get their status line now.
    QStringList own;
    for (const HeldLine& held : m_held)
        if (held.index > p->sentIndex)
            own.append(held.text);
    m_held.clear();
    m_heldBytes = 0;
    std::vector<std::shared_ptr<Pending>> skipped(m_queue.begin(), it);
    m_queue.erase(m_queue.begin(), it + 1);
    for (auto& o : skipped) {
        if (!o->finished)
            giveUp(o, QStringLiteral("The reader did not answer \"%1\"").arg(o->text));
    }
    if (p->finished) {
        // A late reply to a command whose caller gave up: readable, never reported.
        m_strayLines += own.size() + 1;
        if (!p->reply.completed && p->lines.isEmpty())
            p->lines = own;
        p->reply.status = line;
        p->reply.lines = p->lines;
        p->reply.completed = true;
        return;
    }
    p->lines = own;
    p->reply.completed = true;
    p->reply.status = line;
    p->reply.ok = words.value(1).compare(QLatin1String("OK"), Qt::CaseInsensitive) == 0;
    if (!p->reply.ok) {
        p->reply.errorCode = words.value(2).toInt();
        p->reply.errorText = words.size() > 3 ? words.mid(3).join(QLatin1Char(' ')) : line;
        if (p->reply.errorText.size() > 1000)
            p->reply.errorText = p->reply.errorText.left(1000) + QStringLiteral("...");
    }
    finish(p);
    emit commandCompleted(p->keyword, p->reply);
}

} // namespace vm::link
