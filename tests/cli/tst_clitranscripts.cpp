// Whole velmarrow-cli sessions written down in tests/cli/transcripts/: the command lines a
// script runs against simulated readers, and everything the program printed on standard output
// and standard error, its exit code, the files it wrote and what the readers hold afterwards.
// A transcript pins the tool's observable behaviour as a whole: a summary's counts, a refusal's
// wording, a JSON document's fields, a saved file's lines.
//
// Writing a new transcript: put the steps down, run the test with
// VELMARROW_TRANSCRIPTS_WRITE=1 (it fills in what came), then read every line against
// docs/cli.md before committing it. The variable is never set in CI.
//
// A transcript's lines:
//   # text                 a comment
//   readers NAME[@VERSION] ...
//                          a fresh simulator with these readers on addresses of their own
//   file NAME              a file in the session's folder, its lines the `| ` lines after it
//   | TEXT                 a line of the file above (written with CR LF; `|` alone is empty)
//   cli ARGUMENTS          velmarrow-cli run with these arguments (`{dir}/x` a file in the
//                          session's folder); what it printed follows as `out:` and `err:`
//                          lines, then `exit N`
//   show NAME              the lines of a file in the session's folder
//   reads FILE READER MINUTES RESULT [GRADE] [PARAMETER=VALUE:GRADE ...]
//                          one read put into history file FILE as received MINUTES ago
//                          (fractions allowed): RESULT pass, fail or noread; GRADE the
//                          overall grade; a parameter's name with _ for its blanks
//   > NAME LINE            a command line sent to reader NAME; its reply lines
//   < TEXT                 what came: one line each (expected)
// In what came, each reader's address reads <NAME's address> (its MAC address, which
// follows it, <NAME's MAC>), the folder {dir}, clock times <time>, and numbers of more than
// six decimals are cut to six significant digits.

#include "cli/clicommands.h"
#include "common/clocktimes.h"
#include "common/readers.h"
#include "common/transcript.h"
#include "common/waits.h"
#include "history/historystore.h"
#include "history/readentry.h"
#include "sim/simulator.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>

#include <memory>

using namespace vm;

namespace {

class Session {
public:
    explicit Session(const QString& readersLine) {
        QList<sim::ReaderConfig> configs;
        for (const QString& word : readersLine.split(' ', Qt::SkipEmptyParts).mid(1)) {
            const QString name = word.section('@', 0, 0);
            configs << (word.contains('@') ? testing::readerConfig(name, word.section('@', 1))
                                           : testing::readerConfig(name));
            configs.last().stateFolder = m_dir.path();
        }
        m_sim = testing::startSimulator(configs);
    }
    bool ok() const { return m_sim != nullptr; }

    QString path(const QString& name) const { return m_dir.filePath(name); }

    // What came, with the session's own addresses, folder and clock times made stable.
    QString masked(QString text) const {
        text = testing::maskedClockTimes(text.replace(m_dir.path(), "{dir}"));
        // A number's last bits (a fitted line's value over clock times) to six digits.
        static const QRegularExpression longNumber(R"(-?\d+\.\d{7,})");
        for (auto m = longNumber.match(text); m.hasMatch(); m = longNumber.match(text, m.capturedStart())) {
            const QString shortened = QString::number(m.captured().toDouble(), 'g', 6);
            text.replace(m.capturedStart(), m.capturedLength(), shortened);
        }
        for (const sim::Reader* r : m_sim->readers()) {
            text.replace(
                QRegularExpression("\\b" + QRegularExpression::escape(r->address().toString()) + "\\b"),
                "<" + r->name() + "'s address>");
            text.replace(r->macAddress(), "<" + r->name() + "'s MAC>", Qt::CaseInsensitive);
        }
        return text;
    }

    // Puts one read into a history file; an error text when it cannot.
    QString addRead(const QStringList& words) {
        if (words.size() < 4)
            return "reads FILE READER MINUTES RESULT ...";
        history::ReadEntry e;
        e.reader = words[1];
        e.timeMs = m_start - qint64(words[2].toDouble() * 60000);
        e.result = words[3] == "pass"   ? history::ReadResult::Pass
                   : words[3] == "fail" ? history::ReadResult::Fail
                                        : history::ReadResult::NoRead;
        e.failure = words[3] == "pass" ? QString() : words[3] == "fail" ? "Match Fail" : "No Read";
        e.number = ++m_reads;
        e.symbology = "Data Matrix";
        e.text = e.result == history::ReadResult::NoRead ? QString() : QString("LOT-%1").arg(e.number);
        for (const QString& w : words.mid(4)) {
            if (!w.contains('=')) {
                e.overallGrade = history::gradeNumber(w);
                continue;
            }
            history::GradedValue v;
            v.name = w.section('=', 0, 0).replace('_', ' ');
            v.valueText = w.section('=', 1).section(':', 0, 0);
            v.value = history::leadingNumber(v.valueText);
            v.grade = history::gradeNumber(w.section(':', -1));
            e.grades << v;
        }
        history::HistoryStore store;
        QString error;
        if (!store.open(m_dir.filePath(words[0]), &error))
            return error;
        store.append(e);
        return store.flush() ? QString() : QString("not written");
    }

    QStringList cli(const QString& arguments) {
        // Words split at blanks; a word in double quotes keeps its blanks.
        QStringList args;
        static const QRegularExpression word("\"([^\"]*)\"|(\\S+)");
        for (auto it = word.globalMatch(arguments); it.hasNext();) {
            const auto m = it.next();
            args << (m.hasCaptured(1) ? m.captured(1) : m.captured(2));
        }
        for (QString& a : args)
            a.replace("{dir}", m_dir.path());
        QString out, err;
        QTextStream outStream(&out), errStream(&err);
        const int code = cli::run(args, {outStream, errStream, false});
        outStream.flush();
        errStream.flush();
        QStringList lines;
        for (const QString& l : masked(out).split('\n', Qt::SkipEmptyParts))
            lines << "out: " + l;
        for (const QString& l : masked(err).split('\n', Qt::SkipEmptyParts))
            lines << "err: " + l;
        return lines << QString("exit %1").arg(code);
    }

    QStringList show(const QString& name) const {
        QFile f(m_dir.filePath(name));
        if (!f.open(QIODevice::ReadOnly))
            return {"(no such file)"};
        QStringList lines = masked(QString::fromUtf8(f.readAll())).split('\n');
        if (lines.last().isEmpty())
            lines.removeLast();
        for (QString& l : lines)
            if (l.endsWith('\r'))
                l.chop(1);
            else
                l += " (no CR)";
        return lines;
    }

    void writeFile(const QString& name, const QStringList& lines) const {
        QFile f(m_dir.filePath(name));
        if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            f.write((lines.join("\r\n") + "\r\n").toUtf8());
    }

    // One command line to a reader, as a station without control would send it.
    QStringList command(const QString& readerName, const QString& line) {
        const sim::Reader* r = nullptr;
        for (const sim::Reader* s : m_sim->readers())
            if (s->name() == readerName)
                r = s;
        if (!r)
            return {"(no reader " + readerName + ")"};
        QTcpSocket socket;
        socket.connectToHost(r->address(), r->commandPort());
        if (!socket.waitForConnected(testing::kReplyWaitMs))
            return {"(cannot connect)"};
        socket.write(line.toLatin1() + "\r\n");
        QByteArray buffer;
        QStringList lines;
        static_cast<void>(QTest::qWaitFor(
            [&] {
                buffer += socket.readAll();
                qsizetype lf;
                while ((lf = buffer.indexOf('\n')) >= 0) {
                    lines << masked(QString::fromLatin1(buffer.left(lf)).trimmed());
                    buffer.remove(0, lf + 1);
                    if (lines.last().startsWith('!'))
                        return true;
                }
                return false;
            },
            testing::kReplyWaitMs));
        return lines;
    }

private:
    QTemporaryDir m_dir;
    std::unique_ptr<sim::Simulator> m_sim;
    qint64 m_reads = 0;
    // Reads are put at whole minutes before one moment, so that their spans are exact.
    const qint64 m_start = QDateTime::currentMSecsSinceEpoch();
};

} // namespace

class TestCliTranscripts : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { qputenv("VELMARROW_STATION", "CLI-TEST"); }

    void session_data() {
        QTest::addColumn<QString>("path");
        const QDir dir(VELMARROW_CLI_TRANSCRIPTS);
        for (const QString& name : dir.entryList({"*.txt"}, QDir::Files, QDir::Name))
            QTest::newRow(qPrintable(name)) << dir.filePath(name);
        QVERIFY2(!dir.entryList({"*.txt"}).isEmpty(), "no transcripts found");
    }

    // Plays one transcript and compares everything that came with what it says came.
    void session() {
        QFETCH(QString, path);
        std::unique_ptr<Session> s;
        const QStringList faults = testing::playTranscript(
            path, [&](const QStringList& lines, int at, const QStringList&, QString* error) -> QStringList {
                const QString& line = lines[at];
                if (line.startsWith("readers ")) {
                    s = std::make_unique<Session>(line);
                    if (!s->ok())
                        *error = "the readers did not start";
                    return {};
                }
                if (!s) {
                    *error = "no readers line before it";
                    return {};
                }
                if (line.startsWith("file ")) {
                    QStringList content;
                    for (int j = at + 1; j < lines.size() && lines[j].startsWith('|'); ++j)
                        content << lines[j].mid(2);
                    s->writeFile(line.mid(5), content);
                    return {};
                }
                if (line.startsWith("reads ")) {
                    *error = s->addRead(line.mid(6).split(' ', Qt::SkipEmptyParts));
                    return {};
                }
                if (line.startsWith("cli "))
                    return s->cli(line.mid(4));
                if (line.startsWith("show "))
                    return s->show(line.mid(5));
                if (line.startsWith("> "))
                    return s->command(line.mid(2).section(' ', 0, 0), line.mid(2).section(' ', 1));
                *error = "not a transcript line: " + line;
                return {};
            });
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
    }
};

int runCliTranscriptTests(int argc, char** argv) {
    TestCliTranscripts t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_clitranscripts.moc"
