#include "link/configuration.h"

#include "link/protocol.h"
#include "link/wholefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

namespace vm::link {

namespace {
const QLatin1String kShowConfig("SHOW CONFIG");
const QLatin1String kShowStatus("!SHOW");
} // namespace

bool isConfigurationCommand(const QString& line) {
    // A line of blanks or a stray carriage return holds no command.
    return !line.trimmed().isEmpty() && !line.startsWith(QLatin1Char('!'));
}

bool isErrorStatusLine(const QString& replyLine) {
    return replyLine.startsWith(QLatin1Char('!')) && replyLine.indexOf(QLatin1String("ERROR"), 1) >= 1;
}

bool isIdentityLine(const QString& line) {
    const QString keyword = commandKeyword(line);
    // IP carries the reader's name and address together; NAME renames it; MACADDR is the
    // unit's own hardware address.
    return keyword == QLatin1String("IP") || keyword == QLatin1String("NAME") ||
           keyword == QLatin1String("MACADDR");
}

bool readConfigurationFile(const QString& path, QStringList* lines, QString* errorText) {
    auto fail = [&](const QString& why) {
        if (errorText)
            *errorText = why;
        return false;
    };
    QFile file(path);
    const QFileInfo info(path);
    if (!info.isFile())
        return fail(QStringLiteral("%1 is not a file").arg(QDir::toNativeSeparators(path)));
    if (info.size() > kMaxConfigurationFileBytes)
        return fail(QStringLiteral("%1 is too large for a configuration file (%2 bytes, at most %3)")
                        .arg(QDir::toNativeSeparators(path))
                        .arg(info.size())
                        .arg(kMaxConfigurationFileBytes));
    if (!file.open(QIODevice::ReadOnly))
        return fail(
            QStringLiteral("Cannot read %1: %2").arg(QDir::toNativeSeparators(path), file.errorString()));
    const QByteArray bytes = file.read(kMaxConfigurationFileBytes + 1);
    if (bytes.size() > kMaxConfigurationFileBytes)
        return fail(
            QStringLiteral("%1 is too large for a configuration file").arg(QDir::toNativeSeparators(path)));
    if (bytes.contains('\0'))
        return fail(QStringLiteral("%1 is not a configuration file (it holds binary data)")
                        .arg(QDir::toNativeSeparators(path)));
    QStringDecoder decode(QStringDecoder::Utf8);
    QString text = decode(bytes);
    if (decode.hasError())
        // Files written by hand in an old editor: every byte stands for itself.
        text = QString::fromLatin1(bytes);
    QStringList out = text.split(QLatin1Char('\n'));
    // The last line's end is not another (empty) line.
    if (!out.isEmpty() && out.constLast().isEmpty())
        out.removeLast();
    for (QString& line : out)
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
    *lines = out;
    return true;
}

bool writeConfigurationFile(const QString& path, const QStringList& lines, QString* errorText) {
    QByteArray bytes;
    for (const QString& line : lines) {
        if (line.isEmpty())
            continue;
        bytes += line.toUtf8();
        bytes += "\r\n";
    }
    return writeWholeFile(path, bytes, errorText);
}

bool readReaderConfiguration(CommandResponse& channel, QStringList* lines, QString* errorText,
                             const std::function<void()>& between) {
    return readReaderListing(channel, kShowConfig, lines, errorText, between);
}

bool readReaderListing(CommandResponse& channel, const QString& command, QStringList* lines,
                       QString* errorText, const std::function<void()>& between) {
    lines->clear();
    auto fail = [&](const QString& why) {
        lines->clear();
        if (errorText)
            *errorText = why;
        return false;
    };
    // The listing is several kilobytes: over a serial line it takes seconds (about five at
    // 9,600 baud), so only its first line is awaited with the command's time-out, and each
    // further line with its own.
    CommandResponse::ReplyReader reply = channel.StartCommand(command, kCommandTimeoutMs);
    if (!reply.started())
        return fail(reply.errorText());
    for (;;) {
        const QString line = reply.ReadLine(kConfigurationLineTimeoutMs);
        if (line.isNull())
            return fail(QStringLiteral("The reader stopped sending its listing after %1 lines (%2)")
                            .arg(lines->size())
                            .arg(reply.errorText()));
        if (line.startsWith(kShowStatus)) {
            const CommandReply status = reply.reply();
            if (!status.ok)
                return fail(QStringLiteral("The reader refused \"%1\": ").arg(command) + status.errorText);
            return true;
        }
        if (!line.isEmpty())
            lines->append(line);
        if (between)
            between();
    }
}

QString LineOutcome::reason() const {
    QStringList parts;
    for (const QString& text : replyText)
        if (!text.isEmpty())
            parts << text;
    if (parts.isEmpty())
        parts << status;
    return parts.join(QLatin1Char(';'));
}

LineOutcome judgeReply(const QString& command, const CommandReply& reply) {
    LineOutcome outcome;
    outcome.command = command;
    outcome.answered = reply.completed;
    QStringList all = reply.lines;
    if (reply.completed)
        all << reply.status;
    for (const QString& line : std::as_const(all)) {
        if (line.startsWith(QLatin1Char('!'))) {
            if (isErrorStatusLine(line))
                outcome.failed = true;
        } else {
            outcome.replyText << line;
        }
    }
    outcome.status = reply.completed ? reply.status : reply.errorText;
    // A line the reader never confirmed is as good as refused: the operator must know.
    if (!reply.completed)
        outcome.failed = true;
    return outcome;
}

LineOutcome sendConfigurationLine(CommandResponse& channel, const QString& command, int timeoutMs) {
    return judgeReply(command, channel.SendCommand(command, timeoutMs));
}

ConfigurationLoad::ConfigurationLoad(CommandResponse& channel, const QStringList& lines, bool withIdentity,
                                     QObject* parent)
    : QObject(parent)
    , m_channel(&channel) {
    for (const QString& line : lines) {
        if (!isConfigurationCommand(line))
            continue;
        if (!withIdentity && isIdentityLine(line)) {
            ++m_summary.identitySkipped;
            continue;
        }
        m_commands << line;
    }
}

void ConfigurationLoad::start() {
    QMetaObject::invokeMethod(this, &ConfigurationLoad::sendNext, Qt::QueuedConnection);
}

void ConfigurationLoad::sendNext() {
    if (m_finished)
        return;
    if (m_next >= m_commands.size()) {
        finish();
        return;
    }
    if (!m_channel || !m_channel->IsOpen()) {
        m_summary.lost = true;
        m_summary.lostReason = QStringLiteral("The connection to the reader was lost; %1 lines were not sent")
                                   .arg(m_commands.size() - m_next);
        finish();
        return;
    }
    const QString command = m_commands.at(m_next);
    QPointer<ConfigurationLoad> self(this);
    m_channel->sendAsync(command, [self, command](const CommandReply& reply) {
        if (!self || self->m_finished)
            return;
        const LineOutcome outcome = judgeReply(command, reply);
        ++self->m_next;
        ++self->m_summary.loaded;
        if (outcome.failed) {
            ++self->m_summary.errors;
            self->m_summary.failures << outcome;
        }
        emit self->lineDone(outcome);
        if (self)
            self->sendNext();
    });
}

void ConfigurationLoad::finish() {
    m_finished = true;
    emit finished();
}

} // namespace vm::link
