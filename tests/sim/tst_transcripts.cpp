// Whole conversations with the simulated reader, written down line by line in
// tests/sim/transcripts/: what a station sends on the command port and the admin console, and
// every byte the reader answers there, on its data channel and on its formatted output ports.
// A transcript pins the reader's observable behaviour as a whole: a refusal's wording, a count
// in a listing the program never parses, a grading row's value and letter, a line event's
// polarity, a checksum in a report. Each file says in its comments what it walks through and
// why the answers are right; a changed answer fails at its line with what came instead.
//
// Writing a new transcript: put the commands down, run the test with
// VELMARROW_TRANSCRIPTS_WRITE=1 (it fills in what the reader answered), then read every answer
// against docs/ and the reader's documented behaviour before committing it. The variable is
// never set in CI.
//
// A transcript's lines:
//   # text                 a comment
//   reader level=N [lights=N] [name=TEXT] [serial]
//                          a fresh reader (flash empty) set to TRIG T (external trigger)
//                          before any cycle runs; the station "WS" connects, takes control
//                          and subscribes to records without images (not written down)
//   > LINE                 a command line on the command port
//   >> LINE                a command line on the serial line (reader ... serial): what came
//                          up to its status line, blocks included
//   * serial               the blocks that came on the serial line: #RECORD (flattened, each
//                          line indented), #OUTPUT (escaped), #EVENT
//   $ LINE                 an admin console command
//   * record [-KEY ...]    the events since the last record, then the next record (without
//                          KEY, for a value that depends on the machine's speed)
//   * output N             what formatted output port TCP N sent
//   < TEXT                 what came: one line each (expected)
// A clock time within a day of now is written <time> and not compared; any other stays.

#include "clients.h"
#include "common/clocktimes.h"
#include "common/transcript.h"
#include "common/waits.h"
#include "pty.h"
#include "sim/adminconsole.h"
#include "sim/catalogue.h"
#include "sim/dataframe.h"
#include "sim/reader.h"
#include "sim/simulator.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>

using namespace vm::sim;

namespace {

constexpr int kWait = vm::testing::kReplyWaitMs;

using vm::testing::writingTranscripts;

// Clock times in any reply or report: those of today read <time> (common/clocktimes.h).
QString masked(const QString& text) {
    return vm::testing::maskedClockTimes(text);
}

// Bytes as one line of text: printable ASCII as it is, every other byte as \xx (the format
// language's own escape), a backslash as \5c, and blanks that end a line as \20 (a padded
// fixed buffer), so that no editor strips them; a line break after each LF.
QStringList escaped(const QByteArray& bytes) {
    QStringList lines{QString()};
    for (const char c : bytes) {
        const auto u = uchar(c);
        if (u >= 0x20 && u < 0x7f && u != '\\')
            lines.last() += QChar(u);
        else
            lines.last() += QStringLiteral("\\%1").arg(u, 2, 16, QChar('0'));
        if (u == '\n')
            lines << QString();
    }
    if (lines.last().isEmpty())
        lines.removeLast();
    for (QString& l : lines) {
        qsizetype blanks = 0;
        while (blanks < l.size() && l[l.size() - 1 - blanks] == ' ')
            ++blanks;
        l = l.chopped(blanks) + QString("\\20").repeated(blanks);
    }
    return lines;
}

// A record or event as `key value` lines, sorted by key; nested objects by their dotted path,
// an array of named objects (the grading rows) by each object's name.
void flatten(const QJsonValue& value, const QString& key, QStringList* out) {
    if (value.isObject()) {
        const QJsonObject o = value.toObject();
        for (auto it = o.begin(); it != o.end(); ++it)
            flatten(it.value(), key.isEmpty() ? it.key() : key + '.' + it.key(), out);
    } else if (value.isArray() && !value.toArray().isEmpty() &&
               value.toArray().first().toObject().contains("name")) {
        for (const QJsonValue& row : value.toArray()) {
            QJsonObject o = row.toObject();
            const QString name = o.take("name").toString();
            QStringList fields;
            for (auto it = o.begin(); it != o.end(); ++it)
                fields << it.key() + '=' +
                              QString::fromUtf8(
                                  QJsonDocument(QJsonArray{it.value()}).toJson(QJsonDocument::Compact))
                                  .mid(1)
                                  .chopped(1);
            *out << key + '[' + name + "] " + fields.join(' ');
        }
    } else if (value.isDouble() && value.toDouble() != std::floor(value.toDouble())) {
        // Six significant digits: every difference a reader's display could show, none of the
        // last bits of a sum taken in another order.
        *out << key + ' ' + QString::number(value.toDouble(), 'g', 6);
    } else {
        const QString json =
            QString::fromUtf8(QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact));
        *out << key + ' ' + json.mid(1).chopped(1);
    }
}

// Keys of a record that differ from run to run.
const QStringList kVolatile{"time", "decodeMs"};

class Conversation {
public:
    explicit Conversation(const QString& readerLine) {
        ReaderConfig rc;
        rc.name = "Line3";
        int level = 9;
        for (const QString& word : readerLine.split(' ', Qt::SkipEmptyParts).mid(1)) {
            const QString key = word.section('=', 0, 0), value = word.section('=', 1);
            if (key == "level")
                level = value.toInt();
            else if (key == "lights")
                rc.lightChannels = value.toInt();
            else if (key == "name")
                rc.name = value;
            else if (word == "serial") {
                rc.serial = true;
                rc.serialPacing = false; // the bytes in order, not their timing
            } else
                m_error = "unknown reader setting " + word;
        }
        rc.softwareVersion = softwareVersionForLevel(level);
        rc.commandPort = rc.dataPort = rc.outputPort = 0;
        rc.stateFolder = m_state.path();
        rc.rebootMs = 50;
        SimulatorConfig config;
        config.discoveryPort = 0;
        config.readers = {rc};
        m_simulator = std::make_unique<Simulator>(config);
        if (!m_simulator->start(&m_error))
            return;
        m_admin = std::make_unique<AdminConsole>(*m_simulator);
        Reader& r = *m_simulator->reader(0);
        if (rc.serial)
            m_serial = std::make_unique<vm::testing::Pty>(r.serialDevice());
        // Trigger mode before the event loop runs once: no continuous cycle ever runs, so the
        // transcript's first cycle is always the scene's first picture (its noise follows it).
        r.takeControl("set-up");
        Station setUp{"set-up"};
        if (const QStringList reply = r.execute("TRIG T", setUp);
            reply.value(reply.size() - 1) != "!TRIG OK") {
            m_error = "TRIG T answered " + reply.join(" | ");
            return;
        }
        r.dropControl();
        if (!m_command.control(r) || !m_data.connectTo(r)) {
            m_error = "cannot connect to the simulated reader as WS in control";
            return;
        }
        for (int n = 1; n <= 4; ++n)
            outputSocket(n); // listening before any cycle, as a controller on the line would
        m_data.subscribe(2);
        // The reader answers a subscription at once with the controller and the lines' states:
        // once they are here, the subscription is in force (they stay for the first record).
        if (!m_data.waitForFrame())
            m_error = "the reader did not answer the subscription";
    }
    QString error() const { return m_error; }

    // The reply lines up to and including the status line.
    QStringList command(const QString& line) {
        QStringList lines = m_command.command(line);
        for (QString& l : lines) {
            if (l.startsWith("PARTQDATA ")) // a queued part's file: its text, not its base64
                l = "PARTQDATA " + escaped(QByteArray::fromBase64(l.mid(10).toLatin1())).join("");
            l = masked(l);
        }
        return lines;
    }

    QStringList admin(const QString& line) {
        return masked(m_admin->execute(line)).split('\n', Qt::SkipEmptyParts);
    }

    // The events since the last record, then the next record.
    QStringList record(const QStringList& leftOut) {
        QStringList lines;
        Frame frame;
        while (m_data.nextAny(&frame)) {
            if (frame.type == FrameType::Event) {
                QStringList fields;
                flatten(QJsonDocument::fromJson(frame.payload).object(), {}, &fields);
                lines << "event " + fields.join(", ");
            } else if (frame.type == FrameType::Record) {
                QJsonObject o = vm::testing::recordJson(frame);
                for (const QString& key : kVolatile + leftOut)
                    o.remove(key);
                QStringList fields;
                flatten(o, {}, &fields);
                fields.sort();
                for (QString& f : fields)
                    f = masked(f);
                return lines << fields;
            }
        }
        return lines << "(no record came)";
    }

    // What output port `n` sent: in a check, as many bytes as `expected` stands for (waiting
    // for them); when writing, everything that came within a moment after the last record.
    QStringList output(int n, const QStringList& expected) {
        QTcpSocket& socket = outputSocket(n);
        QByteArray& buffer = m_outputBuffers[size_t(n - 1)];
        if (writingTranscripts()) {
            QTest::qWait(300);
            buffer += socket.readAll();
            return maskedReport(escaped(std::exchange(buffer, {})));
        }
        const qsizetype want = unescapedSize(expected);
        static_cast<void>(QTest::qWaitFor(
            [&] {
                buffer += socket.readAll();
                return buffer.size() >= want;
            },
            kWait));
        const QByteArray got = buffer.left(want);
        buffer.remove(0, got.size());
        return maskedReport(escaped(got));
    }

    // A line sent on the serial line; what came back up to its status line, blocks included.
    QStringList serialCommand(const QString& line) {
        if (!m_serial || !m_serial->write(line.toLatin1() + "\r\n"))
            return {"(no serial line)"};
        QStringList got;
        static_cast<void>(QTest::qWaitFor(
            [&] {
                readSerial(&got);
                return !got.isEmpty() && got.last().startsWith('!');
            },
            kWait));
        return got;
    }

    // The blocks that came on the serial line: in a check, as many as `expected` holds
    // (waiting for them); when writing, those that came within a moment.
    QStringList serialBlocks(const QStringList& expected) {
        QStringList got;
        if (!m_serial)
            return {"(no serial line)"};
        if (writingTranscripts()) {
            // A block with a picture takes longer than a moment: until none is half come.
            QElapsedTimer waited;
            waited.start();
            do {
                QTest::qWait(300);
                readSerial(&got);
            } while (!m_serial->in.isEmpty() && waited.elapsed() < kWait);
            return got;
        }
        const auto blocks = [](const QStringList& lines) {
            return std::count_if(lines.begin(), lines.end(),
                                 [](const QString& l) { return l.startsWith('#'); });
        };
        static_cast<void>(QTest::qWaitFor(
            [&] {
                readSerial(&got, blocks(expected) - blocks(got));
                return blocks(got) >= blocks(expected);
            },
            kWait));
        return got;
    }

    // Opens the output ports' listeners before any cycle runs.
    QTcpSocket& outputSocket(int n) {
        auto& socket = m_outputs[size_t(n - 1)];
        if (!socket) {
            const Reader& r = *m_simulator->reader(0);
            socket = std::make_unique<QTcpSocket>();
            socket->connectToHost(r.address(), r.outputPort(n));
            if (!socket->waitForConnected(kWait))
                m_error = QString("cannot connect to output port %1").arg(n);
        }
        return *socket;
    }

private:
    // Takes what is whole in the serial line's bytes: reply lines as they are, blocks as
    // "#KIND" lines (a record flattened, a report escaped), at most `blocks` blocks.
    void readSerial(QStringList* out, qsizetype blocks = -1) {
        m_serial->readUntil(QByteArray(), 0);
        QByteArray& in = m_serial->in;
        for (;;) {
            const qsizetype lf = in.indexOf('\n');
            if (lf < 0)
                return;
            const QByteArray head = in.left(lf).trimmed();
            if (head.startsWith("#RECORD ") || head.startsWith("#OUTPUT ")) {
                if (blocks == 0)
                    return;
                const qsizetype n = head.mid(8).toLongLong();
                if (in.size() < lf + 1 + n + 2)
                    return; // the rest is still on its way
                const QByteArray payload = in.mid(lf + 1, n);
                in.remove(0, lf + 1 + n + 2);
                --blocks;
                if (head.startsWith("#OUTPUT")) {
                    *out << "#OUTPUT " + maskedReport(escaped(payload)).join("");
                    continue;
                }
                const quint32 length = qFromLittleEndian<quint32>(payload.constData());
                QJsonObject o = QJsonDocument::fromJson(payload.mid(4, length)).object();
                for (const QString& key : kVolatile)
                    o.remove(key);
                QStringList fields;
                flatten(o, {}, &fields);
                fields.sort();
                *out << "#RECORD";
                for (const QString& f : fields)
                    *out << "  " + masked(f);
                continue;
            }
            if (head.startsWith("#") && blocks == 0)
                return;
            in.remove(0, lf + 1);
            if (head.startsWith("#EVENT ")) {
                --blocks;
                QStringList fields;
                flatten(QJsonDocument::fromJson(head.mid(7)).object(), {}, &fields);
                *out << "#EVENT " + fields.join(", ");
            } else {
                *out << masked(QString::fromLatin1(head));
            }
        }
    }

    // A report's clock times ((TIMESTAMP), (CD24)) have one length: "yyyy-MM-dd hh:mm:ss.zzz".
    static constexpr qsizetype kTimeLength = 23;
    static QStringList maskedReport(QStringList lines) {
        for (QString& l : lines)
            l = masked(l);
        return lines;
    }
    static qsizetype unescapedSize(const QStringList& lines) {
        qsizetype n = 0;
        for (const QString& l : lines)
            n += l.size() - 2 * l.count('\\') + l.count("<time>") * (kTimeLength - 6);
        return n;
    }

    QTemporaryDir m_state;
    QString m_error;
    std::unique_ptr<Simulator> m_simulator;
    std::unique_ptr<AdminConsole> m_admin;
    vm::testing::CommandClient m_command;
    vm::testing::DataClient m_data;
    std::array<std::unique_ptr<QTcpSocket>, 4> m_outputs;
    std::array<QByteArray, 4> m_outputBuffers;
    std::unique_ptr<vm::testing::Pty> m_serial;
};

} // namespace

class TestTranscripts : public QObject {
    Q_OBJECT

private slots:
    void init() { qputenv("VELMARROW_SIM_PORTS_DIR", m_ports.path().toLocal8Bit()); }

    void conversation_data() {
        QTest::addColumn<QString>("path");
        const QDir dir(VELMARROW_TRANSCRIPTS);
        for (const QString& name : dir.entryList({"*.txt"}, QDir::Files, QDir::Name))
            QTest::newRow(qPrintable(name)) << dir.filePath(name);
        QVERIFY2(dir.entryList({"*.txt"}).size() > 0, "no transcripts found");
    }

    // Plays one transcript and compares every answer with what it says came.
    void conversation() {
        QFETCH(QString, path);
        std::unique_ptr<Conversation> c;
        const QStringList faults = vm::testing::playTranscript(
            path,
            [&](const QStringList& lines, int at, const QStringList& expected,
                QString* error) -> QStringList {
                const QString& line = lines[at];
                if (line.startsWith("reader")) {
                    c = std::make_unique<Conversation>(line);
                    *error = c->error();
                    return {};
                }
                if (!c) {
                    *error = "no reader line before it";
                    return {};
                }
                if (line.startsWith("> "))
                    return c->command(line.mid(2));
                if (line.startsWith("$ "))
                    return c->admin(line.mid(2));
                if (line == "* record" || line.startsWith("* record -"))
                    return c->record(line.mid(9).remove('-').split(' ', Qt::SkipEmptyParts));
                if (line.startsWith(">> "))
                    return c->serialCommand(line.mid(3));
                if (line == "* serial")
                    return c->serialBlocks(expected);
                if (line.startsWith("* output "))
                    return c->output(line.mid(9).toInt(), expected);
                *error = "not a transcript line: " + line;
                return {};
            });
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
    }

private:
    QTemporaryDir m_ports;
};

int runTranscriptTests(int argc, char** argv) {
    TestTranscripts t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_transcripts.moc"
