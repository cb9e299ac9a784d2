#pragma once

#include "link/commandresponse.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>

// A reader's whole configuration: the listing it gives for "SHOW CONFIG", the ".lcf"
// file that holds such a listing (one reader command per line), and loading a file's
// commands back into a reader. Shared by the program and the command-line tool.
namespace vm::link {

inline constexpr char kConfigurationSuffix[] = "lcf";
// How long each line of the listing may take once "SHOW CONFIG" was answered (its first
// line came within kCommandTimeoutMs), counted from the last byte of the line still arriving.
inline constexpr int kConfigurationLineTimeoutMs = 128;
// Making the settings permanent writes the reader's flash.
inline constexpr int kSaveTimeoutMs = 10000;
// A configuration is a few hundred short lines; anything far larger is not one.
inline constexpr qint64 kMaxConfigurationFileBytes = 4 << 20;

// A file line that is sent to the reader: not empty and not a "!" status line.
bool isConfigurationCommand(const QString& line);
// A reply line that says its command failed: a "!" status line with "ERROR" after the "!".
bool isErrorStatusLine(const QString& replyLine);
// Lines that give a reader its identity (name, network address, MAC): loading them into
// another reader would make it a copy of the first one on the network.
bool isIdentityLine(const QString& line);

// Reads a configuration file's lines (CR LF or LF ends; no line dropped). False with the
// reason when it cannot be read or is no text configuration at all.
bool readConfigurationFile(const QString& path, QStringList* lines, QString* errorText = nullptr);
// Writes the non-empty lines, each ended by CR LF, whole or not at all.
bool writeConfigurationFile(const QString& path, const QStringList& lines, QString* errorText = nullptr);

// Asks the reader for its configuration listing: every line before the "!SHOW" status
// line, empty ones left out, read line by line as it arrives. `between` runs after each line
// (the user interface). False with the reason, and no lines, when the reader did not answer,
// refused, or stopped before its status line.
bool readReaderConfiguration(CommandResponse& channel, QStringList* lines, QString* errorText = nullptr,
                             const std::function<void()>& between = {});
// The same for any listing that ends with a "!SHOW" status line ("SHOW DEFAULTS").
bool readReaderListing(CommandResponse& channel, const QString& command, QStringList* lines,
                       QString* errorText = nullptr, const std::function<void()>& between = {});

// What became of one configuration line sent to a reader.
struct LineOutcome {
    QString command;
    bool answered = false;  // a status line came
    bool failed = false;    // an error status, or no answer at all
    QStringList replyText;  // the reply lines that are not status lines
    QString status;         // the status line, or why none came
    QString reason() const; // the reader's words for a failure, for a summary
};

// Judges a command's reply by its lines.
LineOutcome judgeReply(const QString& command, const CommandReply& reply);
// Sends one line and judges its reply.
LineOutcome sendConfigurationLine(CommandResponse& channel, const QString& command,
                                  int timeoutMs = kCommandTimeoutMs);

struct LoadSummary {
    int loaded = 0;          // lines sent
    int errors = 0;          // lines refused or not answered
    int identitySkipped = 0; // identity lines left out
    bool lost = false;       // the link went down; the rest was not sent
    QString lostReason;
    QList<LineOutcome> failures;
};

// Loads configuration lines into one reader without blocking: each line goes out when
// the previous one was answered, so many readers can load at once from one thread.
class ConfigurationLoad : public QObject {
    Q_OBJECT
public:
    // `lines` as read from a file; status and empty lines are skipped here.
    ConfigurationLoad(CommandResponse& channel, const QStringList& lines, bool withIdentity,
                      QObject* parent = nullptr);

    void start();
    bool isFinished() const { return m_finished; }
    int total() const { return int(m_commands.size()); }
    int done() const { return m_next; }
    const LoadSummary& summary() const { return m_summary; }

signals:
    void lineDone(const vm::link::LineOutcome& outcome);
    void finished();

private:
    void sendNext();
    void finish();

    QPointer<CommandResponse> m_channel;
    QStringList m_commands;
    int m_next = 0;
    bool m_finished = false;
    LoadSummary m_summary;
};

} // namespace vm::link
Q_DECLARE_METATYPE(vm::link::LineOutcome)
