// velmarrow-cli against a fleet of simulated readers over real loopback sockets and a
// simulated serial reader on a pseudo-terminal: listing, saving, comparing and loading one
// file into many readers, its summaries, JSON and exit codes, and the real program on a
// pipe, stopped by Ctrl-C or SIGTERM in the middle of a load.
#include "cli/clicommands.h"
#include "common/readers.h"
#include "common/waits.h"
#include "link/configdiff.h"
#include "link/configuration.h"
#include "link/serialports.h"
#include "sim/catalogue.h"
#include "sim/cycledriver.h"
#include "sim/output.h"
#include "sim/parameterstore.h"
#include "sim/reader.h"
#include "sim/simulator.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>

#include <csignal>
#include <memory>

using namespace vm;

namespace {

struct Result {
    int code = -1;
    QString out;
    QString err;
};

Result runCli(const QStringList& arguments) {
    Result r;
    QTextStream out(&r.out);
    QTextStream err(&r.err);
    r.code = cli::run(arguments, {out, err, false});
    return r;
}

// Standard output of a --json run: exactly one JSON object and nothing around it.
QJsonObject onlyDocument(const QString& out) {
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(out.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return {};
    return doc.object();
}

// The line of the first failure of a reader in a --json answer.
QString firstFailure(const QJsonValue& reader) {
    return reader.toObject().value("failures").toArray().at(0).toObject().value("line").toString();
}

// The name the reader gives the parameter that a line of its listing sets: the longest run
// of leading words that names one of its parameters, as the reader reads a command.
QString readerNameOf(const QString& line, int level) {
    const QStringList words = line.split(QLatin1Char(' '));
    for (int n = std::min<int>(sim::longestParameterName(), int(words.size())); n >= 1; --n) {
        const QString name = words.mid(0, n).join(QLatin1Char(' ')).toUpper();
        if (sim::findParameter(name, level))
            return name;
    }
    return {};
}

// Readers named prefix1 to prefixN that run no cycles while no client is connected: only
// those being worked on cost the test anything.
QList<sim::ReaderConfig> idleFleet(const QString& prefix, int count) {
    QList<sim::ReaderConfig> configs;
    for (int i = 1; i <= count; ++i) {
        configs << testing::readerConfig(prefix + QString::number(i));
        configs.last().idleWithoutClients = true;
    }
    return configs;
}

// The readers named prefix1 to prefixN in their order, as a summary must list them (prefix2
// before prefix10), and the readers a summary's lines name, in its order.
QStringList numbered(const QString& prefix, int count) {
    QStringList names;
    for (int i = 1; i <= count; ++i)
        names << prefix + QString::number(i);
    return names;
}
QStringList summaryNames(const QString& out, const QString& prefix) {
    QStringList order;
    const QRegularExpression summary("^(" + prefix + "\\d+) \\(", QRegularExpression::MultilineOption);
    for (auto it = summary.globalMatch(out); it.hasNext();)
        order << it.next().captured(1);
    return order;
}

// Counts the lines of a file that a reader received, as they arrive.
struct ReceivedLines {
    int count = 0;
    QMetaObject::Connection connection;
    ReceivedLines(sim::Reader* reader, const QString& prefix) {
        connection =
            QObject::connect(reader, &sim::Reader::commandReceived, reader, [this, prefix](const QString& l) {
                if (l.startsWith(prefix))
                    ++count;
            });
    }
    ~ReceivedLines() { QObject::disconnect(connection); }
};

// The sockets this process watches through epoll sets (the event loop itself polls): the
// listening sockets of quiet fleet readers, from the kernel's own list of each set.
int quietlyWatchedSockets() {
    int watched = 0;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString& fd : fds.entryList(QDir::Files | QDir::System)) {
        if (!QFile::symLinkTarget(fds.filePath(fd)).contains(QLatin1String("eventpoll")))
            continue;
        QFile info(QStringLiteral("/proc/self/fdinfo/") + fd);
        if (info.open(QIODevice::ReadOnly))
            watched += int(info.readAll().count("tfd:"));
    }
    return watched;
}

} // namespace

class TestCli : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<sim::Simulator> m_sim;
    // A reader on a serial line only, as a PC reaches it through its port.
    std::unique_ptr<sim::Reader> m_serial;

    QString serialPort() const { return m_serial->serialPortName() + QLatin1Char(':'); }

    sim::Reader* reader(const QString& name) const {
        for (sim::Reader* r : m_sim->readers())
            if (r->name() == name)
                return r;
        return nullptr;
    }

    QString writeFile(const QString& name, const QByteArray& bytes) {
        QFile f(m_dir.filePath(name));
        if (!f.open(QIODevice::WriteOnly))
            return {};
        f.write(bytes);
        return f.fileName();
    }
    // A file of 20,000 BEEP lines: long enough to stop a load in its middle.
    QString writeLongBeepFile(const QString& name) {
        QByteArray bytes;
        for (int i = 0; i < 20000; ++i)
            bytes += "BEEP " + QByteArray(i % 2 ? "Y" : "N") + "\r\n";
        return writeFile(name, bytes);
    }

private slots:
    void initTestCase() {
        qputenv("VELMARROW_STATION", "CLI-TEST");
        // Serial ports of this run's readers only, for this process and the program it starts.
        qputenv("VELMARROW_SIM_PORTS_DIR", m_dir.filePath("ports").toLocal8Bit());
        QList<sim::ReaderConfig> readers;
        for (int i = 1; i <= 9; ++i)
            readers << testing::readerConfig(QStringLiteral("Fleet%1").arg(i));
        // One reader away from the usual ports: only discovery tells where it listens.
        readers.last().commandPort = 0;
        readers.last().dataPort = 0;
        readers.last().outputPort = 0;
        // An older generation that lacks the calibration target.
        readers << testing::readerConfig(QStringLiteral("Older"), QStringLiteral("2.3.0.0"));
        m_sim = testing::startSimulator(readers);
        QVERIFY(m_sim);
        QVERIFY(reader("Fleet9")->commandPort() != link::kDefaultCommandPort);
        sim::ReaderConfig serial = testing::readerConfig(QStringLiteral("Serial1"));
        serial.serial = true;
        m_serial = testing::startReader(serial);
        QVERIFY(m_serial);
        QVERIFY(!m_serial->serialPortName().isEmpty());
    }

    void cleanupTestCase() {
        m_serial.reset();
        m_sim.reset();
    }

    void listsTheFleet() {
        // One reader held by another station; the rest by nobody ("-" in the last column).
        reader("Older")->takeControl("LINE-PC");
        auto release = qScopeGuard([this] { reader("Older")->dropControl(); });
        auto controllerOf = [](const sim::Reader* s) {
            return s->name() == QLatin1String("Older") ? QStringLiteral("LINE-PC") : QString();
        };
        const Result r = runCli({"list"});
        QCOMPARE(r.code, int(cli::Success));
        for (const sim::Reader* s : m_sim->readers())
            QVERIFY2(r.out.contains(QRegularExpression(
                         "^" + s->name() + "\t" + s->address().toString() + "\t" +
                             QRegularExpression::escape(s->softwareVersion()) + "\t" +
                             (controllerOf(s).isEmpty() ? QStringLiteral("-") : controllerOf(s)) + "$",
                         QRegularExpression::MultilineOption)),
                     qPrintable(r.out));
        const Result json = runCli({"--json", "list"});
        const QJsonArray listed =
            QJsonDocument::fromJson(json.out.toUtf8()).object().value("readers").toArray();
        QCOMPARE(listed.size(), 10);
        // Each reader as discovery told it, on the ports it listens on.
        for (const QJsonValue& v : listed) {
            const QJsonObject o = v.toObject();
            const sim::Reader* s = reader(o.value("name").toString());
            QVERIFY2(s, qPrintable(o.value("name").toString()));
            QCOMPARE(o.value("address").toString(), s->address().toString());
            QCOMPARE(o.value("commandPort").toInt(), int(s->commandPort()));
            QCOMPARE(o.value("version").toString(), s->softwareVersion());
            QCOMPARE(o.value("controller").toString(), controllerOf(s));
        }
    }

    void oneFileIntoEveryReader() {
        const QString file =
            writeFile("fleet.lcf", "!SHOW OK\r\nTRIG T\r\n\r\nBEEP N\r\nTARGET_CALIB_CONTRAST 70\r\n"
                                   "IP Copy 10.9.9.9 255.0.0.0 0.0.0.0\r\n");
        const Result r = runCli({"load", file, "--all"});
        QCOMPARE(r.code, int(cli::Refused));
        QCOMPARE(r.err, QString());
        QCOMPARE(r.out.count("3 lines loaded, 0 refused, 1 identity lines left out"), 9);
        QVERIFY2(
            r.out.contains("Older (" + reader("Older")->address().toString() +
                           "): 3 lines loaded, 1 refused, 1 identity lines left out\n"
                           "  refused: TARGET_CALIB_CONTRAST 70  (TARGET_CALIB_CONTRAST is not a setting "
                           "of this reader's generation)\n"),
            qPrintable(r.out));
        for (sim::Reader* s : m_sim->readers()) {
            QCOMPARE(s->parameters().fields("TRIG"), QStringList{"T"});
            QCOMPARE(s->parameters().fields("BEEP"), QStringList{"N"});
            // Still itself, and nobody left holding control.
            QCOMPARE(s->parameters().fields("IP").value(0), s->name());
            QTRY_COMPARE(s->controller(), QString());
        }
        QCOMPARE(reader("Fleet4")->parameters().fields("TARGET_CALIB_CONTRAST"), QStringList{"70"});

        // The same as JSON, for scripts; by name and with identity, into two readers.
        sim::Reader* second = reader("Fleet2");
        const QStringList identity = second->parameters().fields("IP");
        const Result json = runCli({"--json", "--with-identity", "load", file, "Fleet2", "Older"});
        QCOMPARE(json.code, int(cli::Refused));
        const QJsonArray readers =
            QJsonDocument::fromJson(json.out.toUtf8()).object().value("readers").toArray();
        QCOMPARE(readers.size(), 2);
        QCOMPARE(readers.at(0).toObject().value("reader").toString(), QStringLiteral("Fleet2"));
        QCOMPARE(readers.at(0).toObject().value("loaded").toInt(), 4);
        QCOMPARE(readers.at(0).toObject().value("refused").toInt(), 0);
        QCOMPARE(readers.at(1).toObject().value("refused").toInt(), 1);
        QCOMPARE(firstFailure(readers.at(1)), QStringLiteral("TARGET_CALIB_CONTRAST 70"));
        QCOMPARE(second->parameters().fields("IP").value(0), QStringLiteral("Copy"));
        second->takeControl("CLI-TEST");
        sim::Station station{"CLI-TEST"};
        QVERIFY(second->execute("IP " + identity.join(' '), station).last().endsWith("OK"));
        second->dropControl();
        QCOMPARE(second->name(), QStringLiteral("Fleet2"));
    }

    void saveThenCompare() {
        const QString file = m_dir.filePath("fleet5.lcf");
        const Result saved = runCli({"save", "Fleet5", file});
        QCOMPARE(saved.code, int(cli::Success));
        QStringList lines;
        QVERIFY(link::readConfigurationFile(file, &lines));
        QCOMPARE(lines, reader("Fleet5")->parameters().configurationListing());
        // A file that cannot be written is a file problem, not an unreachable reader.
        const Result unwritable = runCli({"save", "Fleet5", m_dir.filePath("no-such-folder/fleet5.lcf")});
        QCOMPARE(unwritable.code, int(cli::FileProblem));
        QVERIFY2(unwritable.err.contains("no-such-folder"), qPrintable(unwritable.err));

        QCOMPARE(runCli({"compare", "Fleet5", file}).code, int(cli::Success));
        sim::Reader* s = reader("Fleet5");
        s->takeControl("CLI-TEST");
        sim::Station station{"CLI-TEST"};
        QVERIFY(s->execute("BARQZ 30", station).last().endsWith("OK"));
        QVERIFY(s->execute("OUTPUT TCP2 DECFL Y \"FAIL\" NONE", station).last().endsWith("OK"));
        s->dropControl();
        const Result r = runCli({"compare", "Fleet5", file});
        QCOMPARE(r.code, int(cli::Refused));
        QCOMPARE(r.out, QStringLiteral("BARQZ field 0: reader 30, file 10\n"
                                       "OUTPUT TCP2 DECFL field 0: reader Y, file N\n"
                                       "OUTPUT TCP2 DECFL field 1: reader \"FAIL\", file \"\"\n"));

        // A line that only one side holds is named with its side.
        QStringList edited = lines;
        const qsizetype trig = edited.indexOf(QRegularExpression("TRIG .*")); // a whole line
        QVERIFY(trig >= 0);
        const QString trigLine = edited.takeAt(trig);
        edited << QStringLiteral("FROBNICATE 3");
        const QString editedFile = m_dir.filePath("fleet5-edited.lcf");
        QVERIFY(link::writeConfigurationFile(editedFile, edited));
        const Result sides = runCli({"compare", "Fleet5", editedFile});
        QCOMPARE(sides.code, int(cli::Refused));
        QVERIFY2(sides.out.contains("TRIG: only on the reader: " + trigLine + "\n"), qPrintable(sides.out));
        QVERIFY2(sides.out.contains("FROBNICATE: only in the file: FROBNICATE 3\n"), qPrintable(sides.out));
    }

    void exitCodesScriptsCanRelyOn() {
        QCOMPARE(runCli({}).code, int(cli::Usage));
        // Help asked for is a success, and its JSON says so beside the same usage text.
        const Result help = runCli({"--help"}), helpJson = runCli({"--json", "--help"});
        QCOMPARE(help.code, int(cli::Success));
        QCOMPARE(helpJson.code, int(cli::Success));
        QCOMPARE(onlyDocument(helpJson.out).value("exitCode").toInt(-1), int(cli::Success));
        QCOMPARE(onlyDocument(helpJson.out).value("usage").toString(), help.out);
        QCOMPARE(runCli({"load", "x.lcf"}).code, int(cli::Usage));
        QCOMPARE(runCli({"--wait", "soon", "list"}).code, int(cli::Usage));
        // --wait takes 0 to 600000 ms.
        for (const char* outside : {"-1", "600001"})
            QCOMPARE(runCli({"--wait", outside, "list"}).code, int(cli::Usage));
        const Result noWait = runCli({"--wait", "0", "list"});
        QVERIFY2(noWait.code != int(cli::Usage) && !noWait.err.contains("--wait"), qPrintable(noWait.err));
        // A file with --all and readers besides leaves unclear which readers were meant: nothing is sent.
        const QString file = writeFile("one.lcf", "BEEP Y\r\nMACADDR 02:00:7F:00:00:99\r\n");
        ReceivedLines beeps(reader("Fleet6"), "BEEP");
        const Result both = runCli({"load", file, "--all", "Fleet6"});
        QCOMPARE(both.code, int(cli::Usage));
        QVERIFY2(both.err.contains("load takes a file and readers, or a file and --all\n"),
                 qPrintable(both.err));
        QCOMPARE(beeps.count, 0);
        // A reader that refuses control is not asked again: told with its reason, no tries counted.
        reader("Older")->setNextReplyFault(sim::ReplyFault::Refused, 0, QStringLiteral("CONTROL"));
        const Result refused = runCli({"load", file, "Older"});
        const QString older = "Older (" + reader("Older")->address().toString() + ")";
        QCOMPARE(refused.code, int(cli::Unreachable));
        QCOMPARE(refused.err,
                 "velmarrow-cli: " + older +
                     ": control refused: refused by the reader: the value cannot be applied now\n");
        const Result missing = runCli({"--wait", "300", "show", "NoSuchReader"});
        QCOMPARE(missing.code, int(cli::Unreachable));
        QVERIFY(missing.err.contains("no reader answers to \"NoSuchReader\""));
        // A reader that is down costs its own line; the others still load.
        reader("Fleet7")->setListening(false);
        reader("Fleet7")->dropConnections();
        const Result partly = runCli({"load", file, "Fleet6", reader("Fleet7")->address().toString()});
        reader("Fleet7")->setListening(true);
        QCOMPARE(partly.code, int(cli::Unreachable));
        // The unit's own hardware address is never sent from a file.
        QVERIFY2(partly.out.contains("Fleet6 (" + reader("Fleet6")->address().toString() +
                                     "): 1 lines loaded, 0 refused, 1 identity lines left out\n"),
                 qPrintable(partly.out));
        QVERIFY(partly.err.contains("cannot connect to " + reader("Fleet7")->address().toString()));
    }

    void theProgramOnAPipePrintsResultsAlone() {
        const QString file = writeFile("pipe.lcf", "TRIG C\r\n");
        QProcess p;
        QSignalSpy finished(&p, &QProcess::finished);
        p.start(QStringLiteral(VELMARROW_CLI_PATH), {"load", file, "Fleet3"});
        // The readers live in this process: its event loop must run while the program works.
        QVERIFY(finished.wait(30000));
        QCOMPARE(p.exitCode(), int(cli::Success));
        QCOMPARE(p.readAllStandardError(), QByteArray());
        QCOMPARE(QString::fromUtf8(p.readAllStandardOutput()),
                 "Fleet3 (" + reader("Fleet3")->address().toString() +
                     "): 1 lines loaded, 0 refused\n1 reader: 1 loaded, 0 failed\n");
        QCOMPARE(reader("Fleet3")->parameters().fields("TRIG"), QStringList{"C"});
    }
    // Two- and three-word parameters are named as the reader names them, and their fields
    // are counted after that name.
    void compareNamesParametersAsTheReaderDoes() {
        sim::Reader* s = reader("Fleet8");
        const QString file = m_dir.filePath("fleet8.lcf");
        QCOMPARE(runCli({"save", "Fleet8", file}).code, int(cli::Success));
        s->takeControl("CLI-TEST");
        sim::Station station{"CLI-TEST"};
        for (const char* line : {"TIMEOUT READ 700", "BARCODE ENABLE 0x3", "OUTPUT TCP1 OKDEC N \"(DATA)\" H",
                                 "TRIG U \"GO\"", "ROI 0 0 600 493"})
            QVERIFY(s->execute(line, station).last().endsWith("OK"));
        s->dropControl();
        const Result r = runCli({"compare", "Fleet8", file});
        QCOMPARE(r.code, int(cli::Refused));
        QCOMPARE(r.err, QString());
        QCOMPARE(r.out, QStringLiteral("TRIG U field 0: reader \"GO\", file \"VT 2\"\n"
                                       "TIMEOUT READ field 0: reader 700, file 500\n"
                                       "ROI field 2: reader 600, file 658\n"
                                       "BARCODE ENABLE field 0: reader 0x3, file 0x1\n"
                                       "OUTPUT TCP1 OKDEC field 0: reader N, file Y\n"
                                       "OUTPUT TCP1 OKDEC field 2: reader H, file NONE\n"));
        const QJsonArray rows =
            onlyDocument(runCli({"--json", "compare", "Fleet8", file}).out).value("differences").toArray();
        QCOMPARE(rows.size(), 6);
        QCOMPARE(rows.at(3).toObject().value("parameter").toString(), QStringLiteral("BARCODE ENABLE"));
        QCOMPARE(rows.at(3).toObject().value("field").toInt(), 0);
        QCOMPARE(rows.at(3).toObject().value("reader").toString(), QStringLiteral("0x3"));
        // Loading the file puts every one back.
        QCOMPARE(runCli({"load", file, "Fleet8"}).code, int(cli::Success));
        QCOMPARE(runCli({"compare", "Fleet8", file}).out, QString());
    }

    // Every parameter of every generation: the difference in its last field carries the
    // reader's name for it and that field's number.
    void everyParameterIsNamedAsTheReaderNamesIt() {
        for (const int level : sim::firmwareLevels()) {
            const sim::ParameterStore store(level, QStringLiteral("Namer"),
                                            QStringLiteral("02:00:7F:00:00:09"), 0);
            const QStringList listing = store.configurationListing();
            QStringList changed;
            for (const QString& line : listing)
                changed << line.left(line.lastIndexOf(QLatin1Char(' '))) + QStringLiteral(" ?");
            QHash<QString, link::ConfigDifference> rows;
            for (const link::ConfigDifference& d : link::compareConfigurations(listing, changed))
                rows.insert(d.leftLine, d);
            QCOMPARE(rows.size(), listing.size());
            for (int i = 0; i < listing.size(); ++i) {
                const QString& line = listing.at(i);
                const QString name = readerNameOf(line, level);
                const int fields = int(link::splitFields(line).size()) - int(name.count(' ')) - 1;
                const link::ConfigDifference d = rows.value(line);
                QVERIFY2(d.name == name && d.field == fields - 1 && d.rightLine == changed.at(i),
                         qPrintable(QStringLiteral("level %1: %2 named %3 field %4")
                                        .arg(level)
                                        .arg(line, d.name)
                                        .arg(d.field)));
            }
        }
    }

    // A missing file, a folder and a file without settings each say what they are; none
    // reaches a reader. With --json the answer is one document, the reason on standard error.
    void fileProblemsSayWhatIsWrong() {
        ReceivedLines nothing(reader("Fleet1"), QString());
        const Result missing = runCli({"load", m_dir.filePath("absent.lcf"), "Fleet1"});
        QCOMPARE(missing.code, int(cli::FileProblem));
        QCOMPARE(missing.out, QString());
        QCOMPARE(missing.err, "velmarrow-cli: " + m_dir.filePath("absent.lcf") + ": there is no such file\n");
        const Result folder = runCli({"load", m_dir.path(), "Fleet1"});
        QCOMPARE(folder.code, int(cli::FileProblem));
        QCOMPARE(folder.err, "velmarrow-cli: " + m_dir.path() + " is a folder, not a configuration file\n");
        const QString empty = writeFile("empty.lcf", "!SHOW OK\r\n\r\n");
        const Result none = runCli({"load", empty, "Fleet1"});
        QCOMPARE(none.code, int(cli::FileProblem));
        QCOMPARE(none.out, QString());
        QCOMPARE(none.err,
                 "velmarrow-cli: " + empty + " holds no settings: it has no line to send to a reader\n");
        QCOMPARE(runCli({"load", writeFile("zero.lcf", ""), "Fleet1"}).code, int(cli::FileProblem));
        QCOMPARE(runCli({"compare", "Fleet1", empty}).code, int(cli::FileProblem));
        QCOMPARE(nothing.count, 0);

        const Result json = runCli({"--json", "load", m_dir.path(), "Fleet1"});
        QCOMPARE(json.code, int(cli::FileProblem));
        const QJsonObject doc = onlyDocument(json.out);
        QCOMPARE(doc.value("exitCode").toInt(), int(cli::FileProblem));
        QCOMPARE(doc.value("error").toString(), m_dir.path() + " is a folder, not a configuration file");
        QVERIFY(json.err.contains("is a folder"));
        const Result usage = runCli({"load", "--json", "x.lcf"});
        QCOMPARE(usage.code, int(cli::Usage));
        QCOMPARE(onlyDocument(usage.out).value("exitCode").toInt(), int(cli::Usage));
        QVERIFY(onlyDocument(runCli({"--json", "--wait", "soon", "list"}).out).contains("error"));
    }

    // A line the reader refuses is shown with its control characters spelled out, never sent
    // to the terminal as they are.
    void controlBytesAreShownSpelledOut() {
        const QString file =
            writeFile("escape.lcf", "BEEP \x1b[2J\x07\r\nHEADER \"\xe2\x80\xae\x65vil\"\r\n");
        const Result r = runCli({"load", file, "Fleet2"});
        QCOMPARE(r.code, int(cli::Refused));
        QVERIFY2(r.out.contains("  refused: BEEP \\x1b[2J\\x07  ("), qPrintable(r.out));
        QVERIFY2(r.out.contains("HEADER \"\\u202eevil\""), qPrintable(r.out));
        QVERIFY(std::none_of(r.out.cbegin(), r.out.cend(),
                             [](QChar c) { return c.unicode() < 0x20 && c != '\n'; }));
        QCOMPARE(cli::escaped(QStringLiteral("a\tb\x7f\u0085\u00e9\U0001F600")),
                 QStringLiteral("a\\x09b\\x7f\\x85\u00e9\U0001F600"));
        // Every mark that turns the text's direction is spelled out, the ends of each range
        // included; the characters beside them are shown as they are.
        for (const char16_t mark : {0x061c, 0x200e, 0x200f, 0x202a, 0x202e, 0x2066, 0x2069})
            QCOMPARE(cli::escaped(QString(QChar(mark))),
                     QStringLiteral("\\u%1").arg(uint(mark), 4, 16, QChar('0')));
        for (const char16_t beside : {0x061b, 0x200d, 0x2010, 0x2029, 0x202f, 0x2065, 0x206a})
            QCOMPARE(cli::escaped(QString(QChar(beside))), QString(QChar(beside)));
        // JSON carries the line as it was; its encoding keeps the terminal safe.
        const QJsonObject doc = onlyDocument(runCli({"--json", "load", file, "Fleet2"}).out);
        QCOMPARE(firstFailure(doc.value("readers").toArray().at(0)), QStringLiteral("BEEP \x1b[2J\x07"));
    }

    // A link lost in the middle of a load is a problem: told on standard error, and inside
    // the one JSON document with --json.
    void aLostLinkIsAProblemOnStandardError() {
        const QString file = writeFile("lost.lcf", "TRIG T\r\nBEEP Y\r\nTRIG C\r\n");
        sim::Reader* s = reader("Fleet3");
        s->setNextReplyFault(sim::ReplyFault::Drop, 0, QStringLiteral("BEEP"));
        const Result r = runCli({"load", file, "Fleet3"});
        QCOMPARE(r.code, int(cli::Unreachable));
        const QString label = "Fleet3 (" + s->address().toString() + ")";
        // The reader took TRIG T; BEEP Y went unanswered; TRIG C was never sent.
        QCOMPARE(r.out,
                 label +
                     ": 2 lines loaded, 1 refused\n  not answered: BEEP Y\n1 reader: 0 loaded, 1 failed\n");
        QVERIFY2(r.err.contains("velmarrow-cli: " + label +
                                ": no answer to BEEP Y: The connection to the reader was lost\n"),
                 qPrintable(r.err));
        QVERIFY2(r.err.contains("velmarrow-cli: " + label +
                                ": The connection to the reader was lost; 1 lines were not sent\n"),
                 qPrintable(r.err));

        s->setNextReplyFault(sim::ReplyFault::Drop, 0, QStringLiteral("BEEP"));
        const Result json = runCli({"--json", "load", file, "Fleet3"});
        QCOMPARE(json.code, int(cli::Unreachable));
        const QJsonObject doc = onlyDocument(json.out);
        QCOMPARE(doc.value("exitCode").toInt(), int(cli::Unreachable));
        QVERIFY(doc.value("readers").toArray().at(0).toObject().value("error").toString().contains("lost"));
        QVERIFY(json.err.contains("The connection to the reader was lost"));
        QTRY_COMPARE(s->controller(), QString());
    }

    // A serial reader goes by its port and its own name.
    void aSerialReaderIsLabelledByPortAndName() {
        const QString file = writeFile("serial.lcf", "TRIG T\r\n");
        const Result r = runCli({"load", file, serialPort()});
        QCOMPARE(r.code, int(cli::Success));
        QCOMPARE(r.out,
                 "Serial1 (" + serialPort() + "): 1 lines loaded, 0 refused\n1 reader: 1 loaded, 0 failed\n");
        QCOMPARE(m_serial->parameters().fields("TRIG"), QStringList{"T"});
        QCOMPARE(m_serial->controller(), QString());
        const QJsonObject doc = onlyDocument(runCli({"--json", "load", file, serialPort()}).out);
        const QJsonObject one = doc.value("readers").toArray().at(0).toObject();
        QCOMPARE(one.value("reader").toString(), QStringLiteral("Serial1"));
        QCOMPARE(one.value("port").toString(), serialPort());
    }

    // A serial reader at 9,600 baud takes about five seconds for its listing: the tool reads
    // it line by line as it arrives and saves all of it.
    void savesASerialReaderAt9600Baud() {
        QVERIFY(m_serial->setSerialBaud(9600));
        // Each read's report on the standard port would share the slow line with the listing.
        m_serial->cycles().setOnline(false);
        const QString port = serialPort();
        link::setSerialLineLookup([port](const QString& name) {
            link::SerialLineSettings line;
            if (name == port)
                line.baudRate = 9600;
            return line;
        });
        auto restore = qScopeGuard([this] {
            m_serial->setSerialBaud(115200);
            m_serial->cycles().setOnline(true);
            link::setSerialLineLookup({});
        });
        const QStringList expected = m_serial->parameters().configurationListing();
        qint64 bytes = QByteArray("!SHOW OK\r\n").size();
        for (const QString& line : expected)
            bytes += line.toUtf8().size() + 2;
        const QString file = m_dir.filePath("serial9600.lcf");
        QElapsedTimer clock;
        clock.start();
        const Result r = runCli({"save", port, file});
        const qint64 took = clock.elapsed();
        QCOMPARE(r.code, int(cli::Success));
        QCOMPARE(r.err, QString());
        QStringList saved;
        QVERIFY(link::readConfigurationFile(file, &saved));
        QCOMPARE(saved, expected);
        const QString fast = testing::fasterThan9600Baud(bytes, took);
        QVERIFY2(fast.isEmpty(), qPrintable(fast));
    }

    // An address alone reaches the reader that discovery announced there, on its own ports
    // (of two sharing the address, the one on the usual port); the same reader named twice is
    // loaded once.
    void anAddressAloneReachesTheAnnouncedReader() {
        const QString file = writeFile("address.lcf", "BEEP N\r\n");
        sim::Reader* s = reader("Fleet9");
        const QString address = s->address().toString();
        ReceivedLines beeps(s, QStringLiteral("BEEP "));
        const Result alone = runCli({"load", file, address});
        QCOMPARE(alone.code, int(cli::Success));
        QCOMPARE(alone.out,
                 "Fleet9 (" + address + "): 1 lines loaded, 0 refused\n1 reader: 1 loaded, 0 failed\n");
        QCOMPARE(beeps.count, 1);
        const Result twice = runCli({"load", file, "Fleet9", address});
        QCOMPARE(twice.code, int(cli::Success));
        QCOMPARE(twice.out,
                 "Fleet9 (" + address + "): 1 lines loaded, 0 refused\n1 reader: 1 loaded, 0 failed\n");
        QCOMPARE(beeps.count, 2);

        // Two readers on one address: the address alone is the one on the usual command port,
        // and the other one, named, is a reader of its own.
        const QByteArray targets = qgetenv("VELMARROW_DISCOVERY_TARGETS");
        auto restore = qScopeGuard([&] { qputenv("VELMARROW_DISCOVERY_TARGETS", targets); });
        const QString shared = testing::nextAddress();
        sim::ReaderConfig beside =
            testing::readerConfig(QStringLiteral("Beside"), QStringLiteral("3.0.2.1"), shared);
        beside.commandPort = beside.dataPort = beside.outputPort = 0;
        // The other one answers discovery first.
        std::unique_ptr<sim::Simulator> pair = testing::startSimulator(
            {beside, testing::readerConfig(QStringLiteral("Usual"), QStringLiteral("3.0.2.1"), shared)});
        QVERIFY(pair);
        QCOMPARE(pair->reader(1)->commandPort(), link::kDefaultCommandPort);
        ReceivedLines usualBeeps(pair->reader(1), QStringLiteral("BEEP ")),
            besideBeeps(pair->reader(0), QStringLiteral("BEEP "));
        const Result usual = runCli({"load", file, shared});
        QCOMPARE(usual.code, int(cli::Success));
        QCOMPARE(usual.out,
                 "Usual (" + shared + "): 1 lines loaded, 0 refused\n1 reader: 1 loaded, 0 failed\n");
        QCOMPARE(usualBeeps.count, 1);
        QCOMPARE(besideBeeps.count, 0);
        const Result both = runCli({"load", file, shared, "Beside"});
        QCOMPARE(both.code, int(cli::Success));
        QCOMPARE(both.out, "Beside (" + shared + "): 1 lines loaded, 0 refused\nUsual (" + shared +
                               "): 1 lines loaded, 0 refused\n2 readers: 2 loaded, 0 failed\n");
        QCOMPARE(usualBeeps.count, 2);
        QCOMPARE(besideBeeps.count, 1);
    }

    // Ctrl-C in the middle of a long load into a serial reader and two network readers:
    // nothing more is sent, every reader gets control back, and the summary so far is printed.
    void ctrlCStopsTheLoadAndGivesControlBack() {
        QByteArray bytes;
        constexpr int kLines = 20000;
        for (int i = 0; i < kLines; ++i)
            bytes += "TIMEOUT READ " + QByteArray::number(i % 9000) + "\r\n";
        const QString file = writeFile("long.lcf", bytes);
        const QList<sim::Reader*> readers = {m_serial.get(), reader("Fleet4"), reader("Fleet5")};
        std::vector<std::unique_ptr<ReceivedLines>> received;
        for (sim::Reader* s : readers)
            received.push_back(std::make_unique<ReceivedLines>(s, QStringLiteral("TIMEOUT READ ")));

        QProcess p;
        QSignalSpy finished(&p, &QProcess::finished);
        p.start(QStringLiteral(VELMARROW_CLI_PATH), {"load", file, serialPort(), "Fleet4", "Fleet5"});
        QVERIFY(p.waitForStarted());
        // Once every reader took some lines, and while it has most of them still to come.
        QTRY_VERIFY_WITH_TIMEOUT(
            std::all_of(received.cbegin(), received.cend(), [](const auto& r) { return r->count >= 20; }),
            testing::kConnectWaitMs + testing::kDiscoveryWaitMs);
        for (sim::Reader* s : readers)
            QVERIFY(!s->controller().isEmpty());
        QCOMPARE(::kill(pid_t(p.processId()), SIGINT), 0);
        QVERIFY(finished.wait(testing::kReplyWaitMs * 4));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), int(cli::Interrupted));

        const QString out = QString::fromUtf8(p.readAllStandardOutput());
        const QString err = QString::fromUtf8(p.readAllStandardError());
        const QStringList labels = {"Serial1 (" + serialPort() + ")",
                                    "Fleet4 (" + reader("Fleet4")->address().toString() + ")",
                                    "Fleet5 (" + reader("Fleet5")->address().toString() + ")"};
        // The summary goes by the readers' labels, whatever order they were named in.
        const QList<int> summaryOrder = {1, 2, 0};
        QStringList expected;
        for (int i : summaryOrder) {
            const int sent = received.at(i)->count;
            QVERIFY2(sent < kLines, qPrintable(labels.at(i)));
            expected << QStringLiteral("%1: %2 lines loaded, 0 refused").arg(labels.at(i)).arg(sent)
                     << QStringLiteral("  stopped: %1 lines not sent").arg(kLines - sent);
            // Nobody holds the reader, and the last thing it heard was control given back.
            QCOMPARE(readers.at(i)->controller(), QString());
            QCOMPARE(readers.at(i)->receivedCommands().constLast(), QStringLiteral("RELEASE"));
        }
        expected << QStringLiteral("3 readers: 0 loaded, 0 failed, 3 stopped");
        QCOMPARE(out, expected.join('\n') + '\n');
        QCOMPARE(err, QStringLiteral("velmarrow-cli: stopped by SIGINT: nothing more was sent; control given "
                                     "back to 3 of 3 readers\n"));
        QVERIFY(cli::usageText().contains("130 stopped by Ctrl-C (SIGINT), 143 stopped by SIGTERM"));
    }

    // Stopped while one of two readers refuses to give control back: the message counts the
    // readers that did out of those that were held.
    void aStopTellsHowManyReadersGotControlBack() {
        const QString file = writeLongBeepFile("refused-release.lcf");
        sim::Reader* kept = reader("Fleet8");
        kept->setNextReplyFault(sim::ReplyFault::Refused, 0, QStringLiteral("RELEASE"));
        ReceivedLines first(reader("Fleet2"), QStringLiteral("BEEP "));
        ReceivedLines second(kept, QStringLiteral("BEEP "));
        QProcess p;
        QSignalSpy finished(&p, &QProcess::finished);
        p.start(QStringLiteral(VELMARROW_CLI_PATH), {"load", file, "Fleet2", "Fleet8"});
        QTRY_VERIFY_WITH_TIMEOUT(first.count >= 20 && second.count >= 20,
                                 testing::kConnectWaitMs + testing::kDiscoveryWaitMs);
        QCOMPARE(::kill(pid_t(p.processId()), SIGINT), 0);
        QVERIFY(finished.wait(testing::kReplyWaitMs * 4));
        QCOMPARE(p.exitCode(), int(cli::Interrupted));
        const QString err = QString::fromUtf8(p.readAllStandardError());
        QVERIFY2(
            err.endsWith(QStringLiteral("velmarrow-cli: stopped by SIGINT: nothing more was sent; control "
                                        "given back to 1 of 2 readers\n")),
            qPrintable(err));
    }

    // SIGTERM ends a --json load the same way, with its own code and one document.
    void sigtermStopsAJsonLoad() {
        const QString file = writeLongBeepFile("term.lcf");
        sim::Reader* s = reader("Fleet6");
        ReceivedLines received(s, QStringLiteral("BEEP "));
        QProcess p;
        QSignalSpy finished(&p, &QProcess::finished);
        p.start(QStringLiteral(VELMARROW_CLI_PATH), {"--json", "load", file, "Fleet6"});
        QTRY_VERIFY_WITH_TIMEOUT(received.count >= 20, testing::kConnectWaitMs + testing::kDiscoveryWaitMs);
        QCOMPARE(::kill(pid_t(p.processId()), SIGTERM), 0);
        QVERIFY(finished.wait(testing::kReplyWaitMs * 4));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), int(cli::Terminated));
        const QJsonObject doc = onlyDocument(QString::fromUtf8(p.readAllStandardOutput()));
        QCOMPARE(doc.value("exitCode").toInt(), int(cli::Terminated));
        QCOMPARE(doc.value("stopped").toString(), QStringLiteral("SIGTERM"));
        const QJsonObject one = doc.value("readers").toArray().at(0).toObject();
        QCOMPARE(one.value("loaded").toInt(), received.count);
        QCOMPARE(one.value("notSent").toInt(), 20000 - received.count);
        QVERIFY(p.readAllStandardError().contains("stopped by SIGTERM"));
        QCOMPARE(s->controller(), QString());
    }

    // A plant's worth of readers in one simulator, loaded with --all a few at a time: some
    // answer slowly, one leaves its first CONTROL unanswered and is asked again after a
    // pause, one drops its link in the middle of the file. Every other reader is loaded,
    // the failing one is named, the summary is in the readers' order and ends with a total.
    void aFleetLoadRetriesAndNamesTheFailingReader() {
        constexpr int kReaders = 120;
        constexpr int kJobs = 6;
        const QByteArray targets = qgetenv("VELMARROW_DISCOVERY_TARGETS");
        auto restore = qScopeGuard([&] { qputenv("VELMARROW_DISCOVERY_TARGETS", targets); });
        std::unique_ptr<sim::Simulator> plant = testing::startSimulator(idleFleet("Plant", kReaders));
        QVERIFY(plant);
        auto named = [&](int i) { return plant->reader(i - 1); };
        for (int i = 10; i < 20; ++i)
            named(i)->setNextReplyFault(sim::ReplyFault::Slow, 200, QStringLiteral("BEEP"));
        sim::Reader* retried = named(7);
        retried->setNextReplyFault(sim::ReplyFault::Silent, 0, QStringLiteral("CONTROL"));
        sim::Reader* dropped = named(50);
        dropped->setNextReplyFault(sim::ReplyFault::Drop, 0, QStringLiteral("BEEP"));
        // Lines left unanswered are sent again once the file is through: BEEP alone, the first
        // TRIG with the file's later TRIG after it, so that TRIG ends as the file leaves it.
        sim::Reader* beepResent = named(30);
        beepResent->setNextReplyFault(sim::ReplyFault::Silent, 0, QStringLiteral("BEEP"));
        sim::Reader* trigResent = named(31);
        trigResent->setNextReplyFault(sim::ReplyFault::Silent, 0, QStringLiteral("TRIG"));
        // A RELEASE left unanswered is asked again: the reader is not left held.
        sim::Reader* releasedLate = named(40);
        releasedLate->setNextReplyFault(sim::ReplyFault::Silent, 0, QStringLiteral("RELEASE"));
        int releasesHeard = 0;
        QObject::connect(releasedLate, &sim::Reader::commandReceived, this,
                         [&](const QString& line) { releasesHeard += line == QLatin1String("RELEASE"); });
        QStringList trigHeard;
        QObject::connect(trigResent, &sim::Reader::commandReceived, this,
                         [&](const QString& line) { trigHeard << line; });

        // When the retried reader heard CONTROL, and how many readers were held at once.
        QList<qint64> controlAt;
        QElapsedTimer clock;
        clock.start();
        QObject::connect(retried, &sim::Reader::commandReceived, this, [&](const QString& line) {
            if (line == QLatin1String("CONTROL"))
                controlAt << clock.elapsed();
        });
        int held = 0, mostHeld = 0;
        for (sim::Reader* r : plant->readers())
            QObject::connect(r, &sim::Reader::controllerChanged, this, [&](const QString& station) {
                held += station.isEmpty() ? -1 : 1;
                mostHeld = std::max(mostHeld, held);
            });

        const QString file = writeFile("plant.lcf", "TRIG T\r\nBEEP N\r\nTARGET OFF\r\nTRIG C\r\n");
        const Result r = runCli({"load", file, "--all", "--jobs", QString::number(kJobs)});
        QCOMPARE(r.code, int(cli::Unreachable));
        QCOMPARE(mostHeld, kJobs);

        // Asked twice: the second CONTROL came after the first one's time-out and the pause.
        QCOMPARE(controlAt.size(), 2);
        QVERIFY2(controlAt.at(1) - controlAt.at(0) >= link::kCommandTimeoutMs + 250,
                 qPrintable(QString::number(controlAt.at(1) - controlAt.at(0))));
        QVERIFY2(r.out.contains("Plant7 (" + retried->address().toString() +
                                "): 4 lines loaded, 0 refused, control taken on try 2\n"),
                 qPrintable(r.out));
        // The dropped reader took TRIG T, lost its link on BEEP N and is named as failing.
        const QString droppedLabel = "Plant50 (" + dropped->address().toString() + ")";
        QVERIFY2(r.err.contains("velmarrow-cli: " + droppedLabel +
                                ": The connection to the reader was lost; 2 lines were not sent\n"),
                 qPrintable(r.err));
        QCOMPARE(dropped->parameters().fields("TRIG"), QStringList{"T"});
        QCOMPARE(releasesHeard, 2);
        QCOMPARE(releasedLate->controller(), QString());
        QVERIFY2(!r.err.contains("Plant40 (" + releasedLate->address().toString() + "): control"),
                 qPrintable(r.err));
        QVERIFY2(r.out.contains("Plant30 (" + beepResent->address().toString() +
                                "): 4 lines loaded, 0 refused, 1 line answered when sent again\n"),
                 qPrintable(r.out));
        QVERIFY2(r.out.contains("Plant31 (" + trigResent->address().toString() +
                                "): 4 lines loaded, 0 refused, 1 line answered when sent again\n"),
                 qPrintable(r.out));
        const QStringList fileLines = {"TRIG T", "BEEP N", "TARGET OFF", "TRIG C"};
        trigHeard.removeIf([&](const QString& line) { return !fileLines.contains(line); });
        QCOMPARE(trigHeard, (QStringList{"TRIG T", "BEEP N", "TARGET OFF", "TRIG C", "TRIG T", "TRIG C"}));
        QCOMPARE(trigResent->parameters().fields("TRIG"), QStringList{"C"});
        QVERIFY(r.out.endsWith(
            QStringLiteral("%1 readers: %2 loaded, 1 failed\n").arg(kReaders).arg(kReaders - 1)));

        // One summary line per reader, Plant2 before Plant10, every other one whole.
        QCOMPARE(summaryNames(r.out, "Plant"), numbered("Plant", kReaders));
        for (int i = 1; i <= kReaders; ++i) {
            sim::Reader* s = named(i);
            QCOMPARE(s->controller(), QString());
            if (s == dropped)
                continue;
            QVERIFY2(r.out.contains("Plant" + QString::number(i) + " (" + s->address().toString() +
                                    "): 4 lines loaded, 0 refused"),
                     qPrintable(s->name()));
            QCOMPARE(s->parameters().fields("TRIG"), QStringList{"C"});
            QCOMPARE(s->parameters().fields("BEEP").value(0), QStringLiteral("N"));
        }

        // The same as one JSON document, with the total a script checks.
        const QJsonObject doc =
            onlyDocument(runCli({"--json", "load", file, "--all", "--jobs", QString::number(kJobs)}).out);
        QVERIFY2(doc.value("exitCode").toInt() == int(cli::Success),
                 QJsonDocument(doc.value("problems").toArray()).toJson().constData());
        QCOMPARE(doc.value("readers").toArray().size(), kReaders);
        QCOMPARE(doc.value("readers").toArray().at(1).toObject().value("reader").toString(),
                 QStringLiteral("Plant2"));
        QCOMPARE(doc.value("total").toObject(),
                 (QJsonObject{{"readers", kReaders}, {"loaded", kReaders}, {"failed", 0}}));
    }

    // save --all writes one file per reader into the folder, named after the reader with
    // anything a file system could misread replaced (a blank kept), never outside the folder;
    // two readers of one name get a file each; a listing left unanswered is asked for again.
    void saveAllWritesOneSafelyNamedFilePerReader() {
        const QStringList names = {"Plant2", "Plant10", ".hidden", "a:b?c*", "Twin", "Twin", "Line 7-B"};
        QList<sim::ReaderConfig> configs;
        for (const QString& name : names)
            configs << testing::readerConfig(name);
        const QByteArray targets = qgetenv("VELMARROW_DISCOVERY_TARGETS");
        auto restore = qScopeGuard([&] { qputenv("VELMARROW_DISCOVERY_TARGETS", targets); });
        std::unique_ptr<sim::Simulator> plant = testing::startSimulator(configs);
        QVERIFY(plant);
        plant->reader(1)->setNextReplyFault(sim::ReplyFault::Silent, 0, QStringLiteral("SHOW"));
        const QString folder = m_dir.filePath("plant-saved");
        QVERIFY(QDir().mkpath(folder));

        QElapsedTimer clock;
        clock.start();
        const Result r = runCli({"save", "--all", folder});
        // The unanswered listing of a reader on the network is given up after 3 s, then asked
        // again 250 ms later, not after the half minute a serial line's listing is given.
        QVERIFY2(clock.elapsed() >= 3250 && clock.elapsed() < 15000,
                 qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(r.code, int(cli::Success));
        QStringList files = QDir(folder).entryList(QDir::Files | QDir::Hidden);
        files.sort();
        QCOMPARE(files, (QStringList{"Line 7-B.lcf", "Plant10.lcf", "Plant2.lcf", "Twin-2.lcf", "Twin.lcf",
                                     "_.hidden.lcf", "a_b_c_.lcf"}));
        // Nothing beside the folder.
        QVERIFY(!QFileInfo::exists(m_dir.filePath(".hidden.lcf")));
        QStringList lines;
        QString error;
        QVERIFY2(link::readConfigurationFile(QDir(folder).filePath("Plant10.lcf"), &lines, &error),
                 qPrintable(error));
        // The file is that reader's own listing: its identity line names it.
        QVERIFY2(lines.filter(QRegularExpression(
                                  "^IP Plant10 " +
                                  QRegularExpression::escape(plant->reader(1)->address().toString()) + " "))
                         .size() == 1,
                 qPrintable(lines.join('\n').left(300)));
        const QString label10 = "Plant10 (" + plant->reader(1)->address().toString() + ")";
        QVERIFY2(r.out.contains(label10 + ": " + QString::number(lines.size()) + " lines saved to " +
                                QDir(folder).filePath("Plant10.lcf") + ", on try 2\n"),
                 qPrintable(r.out));
        // A reader saved at the first try says nothing of tries.
        const QString label2 = "Plant2 (" + plant->reader(0)->address().toString() + ")";
        QVERIFY2(r.out.contains(QRegularExpression("^" + QRegularExpression::escape(label2) +
                                                       ": \\d+ lines saved to [^\\n]*Plant2\\.lcf\n",
                                                   QRegularExpression::MultilineOption)),
                 qPrintable(r.out));
        // Plant2 before Plant10, and the total last.
        QVERIFY(r.out.indexOf("Plant2 (") < r.out.indexOf("Plant10 ("));
        QVERIFY(r.out.endsWith("7 readers: 7 saved, 0 failed\n"));

        const QJsonObject doc = onlyDocument(runCli({"--json", "save", "--all", folder}).out);
        QCOMPARE(doc.value("total").toObject(), (QJsonObject{{"readers", 7}, {"saved", 7}, {"failed", 0}}));
        QCOMPARE(runCli({"save", "--all", m_dir.filePath("no-such-folder")}).code, int(cli::FileProblem));
    }

    // compare over a fleet: every reader against one reader's file, a few at a time; the
    // summary names exactly the readers whose settings differ (their names and addresses,
    // which differ in every fleet, left out), one listing left unanswered is asked again, and
    // the exit code says that differences were found.
    void compareOverAFleetNamesTheReadersThatDiffer() {
        constexpr int kReaders = 100;
        const QByteArray targets = qgetenv("VELMARROW_DISCOVERY_TARGETS");
        auto restore = qScopeGuard([&] { qputenv("VELMARROW_DISCOVERY_TARGETS", targets); });
        std::unique_ptr<sim::Simulator> plant = testing::startSimulator(idleFleet("Line", kReaders));
        QVERIFY(plant);
        auto named = [&](int i) { return plant->reader(i - 1); };
        const QString file = m_dir.filePath("line1.lcf");
        QCOMPARE(runCli({"save", "Line1", file}).code, int(cli::Success));

        // Three readers set otherwise, one of them in two parameters.
        named(9)->parameters().setFields("BEEP", {"N"});
        named(10)->parameters().setFields("TRIG", {"T"});
        named(77)->parameters().setFields("TRIG", {"T"});
        named(77)->parameters().setFields("BEEP", {"N"});
        QCOMPARE(named(1)->parameters().fields("TRIG"), QStringList{"C"});
        QCOMPARE(named(1)->parameters().fields("BEEP"), QStringList{"Y"});
        sim::Reader* slow = named(40);
        slow->setNextReplyFault(sim::ReplyFault::Silent, 0, QStringLiteral("SHOW"));
        int listings = 0;
        for (sim::Reader* r : plant->readers())
            QObject::connect(r, &sim::Reader::commandReceived, this, [&](const QString& line) {
                if (line == QLatin1String("SHOW CONFIG"))
                    ++listings;
            });

        const Result r = runCli({"compare", "--all", file, "--jobs", "8"});
        QCOMPARE(r.code, int(cli::Refused));
        QCOMPARE(listings, kReaders + 1);
        const QRegularExpression differing("^(Line\\d+) \\([^)]*\\): (\\d+) difference",
                                           QRegularExpression::MultilineOption);
        QStringList differ;
        for (auto it = differing.globalMatch(r.out); it.hasNext();)
            differ << it.next().captured(1);
        QCOMPARE(differ, (QStringList{"Line9", "Line10", "Line77"}));
        auto label = [&](int i) {
            return "Line" + QString::number(i) + " (" + named(i)->address().toString() + ")";
        };
        QVERIFY2(r.out.contains(label(9) + ": 1 difference\n  BEEP field 0: reader N, file Y\n") &&
                     r.out.contains(label(77) + ": 2 differences\n") &&
                     r.out.contains(label(10) + ": 1 difference\n  TRIG field 0: reader T, file C\n"),
                 qPrintable(r.out));
        QVERIFY2(r.out.contains(label(40) + ": same as the file, listed on try 2\n"), qPrintable(r.out));
        QVERIFY2(r.out.contains(label(2) + ": same as the file\n"), qPrintable(r.out));
        QVERIFY(!r.out.contains("[identity]"));
        // In the readers' order, one line each, the total last.
        QCOMPARE(summaryNames(r.out, "Line"), numbered("Line", kReaders));
        QVERIFY2(r.out.endsWith("100 readers: 97 same as the file, 3 different, 0 failed\n"),
                 qPrintable(r.out.right(200)));

        // Several readers by name: only those, in their order; none differs, exit code 0.
        const Result some = runCli({"compare", "Line3", "Line1", "Line2", file});
        QCOMPARE(some.code, int(cli::Success));
        QCOMPARE(some.out, label(1) + ": same as the file\n" + label(2) + ": same as the file\n" + label(3) +
                               ": same as the file\n3 readers: 3 same as the file, 0 different, 0 failed\n");
        // A reader named that does not answer is a failure beside the comparison.
        const Result missing = runCli({"compare", "Line9", "NoSuchLine", file, "--wait", "500"});
        QCOMPARE(missing.code, int(cli::Unreachable));
        QVERIFY2(missing.out.endsWith("2 readers: 0 same as the file, 1 different, 1 failed\n"),
                 qPrintable(missing.out));

        // JSON: each reader with its differences, and the total a script checks.
        const QJsonObject doc = onlyDocument(runCli({"--json", "compare", "--all", file}).out);
        QCOMPARE(doc.value("exitCode").toInt(), int(cli::Refused));
        QCOMPARE(doc.value("total").toObject(),
                 (QJsonObject{{"readers", kReaders}, {"same", 97}, {"different", 3}, {"failed", 0}}));
        const QJsonObject tenth = doc.value("readers").toArray().at(9).toObject();
        QCOMPARE(tenth.value("reader").toString(), QStringLiteral("Line10"));
        QCOMPARE(tenth.value("differences").toArray().size(), 1);
        QCOMPARE(tenth.value("differences").toArray().at(0).toObject().value("parameter").toString(),
                 QStringLiteral("TRIG"));
        // With --with-identity the names and addresses count: every reader but the first differs.
        const QJsonObject identity =
            onlyDocument(runCli({"--json", "--with-identity", "compare", "--all", file}).out);
        QCOMPARE(identity.value("total").toObject().value("same").toInt(), 1);
    }

    // A reader of a fleet keeps its listening ports out of the event loop's watch until a
    // connection waits: every port still takes a client. Held only by a command client (as
    // a load holds it), it cycles at most twice a second; a client on its data port gets
    // records at its own rate again.
    void aFleetReaderAnswersOnEveryPortAndCyclesSlowlyUnwatched() {
        sim::ReaderConfig c = testing::readerConfig(QStringLiteral("Quiet1"));
        c.idleWithoutClients = true;
        c.cycleRate = 50;
        c.publishSerial = false;
        // Another child of the application beside the simulator's own: it must not be taken
        // for the set that watches quiet listeners.
        QObject neighbour(QCoreApplication::instance());
        const int watchedBefore = quietlyWatchedSockets();
        std::unique_ptr<sim::Reader> r = testing::startReader(c);
        QVERIFY(r);
        QVERIFY(r->cycles().paused());
#ifdef Q_OS_LINUX
        // Its listening sockets (command, data and four output ports) wait in an epoll set of
        // their own, out of the event loop's watch.
        QCOMPARE(quietlyWatchedSockets() - watchedBefore, 6);
#endif

        QTcpSocket command;
        command.connectToHost(r->address(), r->commandPort());
        QVERIFY(command.waitForConnected(testing::kReplyWaitMs));
        QTRY_VERIFY_WITH_TIMEOUT(!r->cycles().paused(), testing::kReplyWaitMs);
        QVERIFY(r->cycles().unwatched());
        QByteArray answer;
        command.write("NAME\r\n");
        QTRY_VERIFY_WITH_TIMEOUT((answer += command.readAll()).contains("!NAME OK"), testing::kReplyWaitMs);

        // Paced at two a second, not fifty.
        QList<qint64> finishedAt;
        QElapsedTimer clock;
        clock.start();
        connect(&r->cycles(), &sim::CycleDriver::cycleFinished, this, [&] { finishedAt << clock.elapsed(); });
        // Measured over several cycles: on a loaded machine one cycle may take longer than the
        // next, which shortens a single gap between their ends but not the whole span.
        QTRY_VERIFY_WITH_TIMEOUT(finishedAt.size() >= 4, testing::cyclesWaitMs(4, 2));
        const qint64 span = finishedAt.last() - finishedAt.first();
        const qint64 gaps = finishedAt.size() - 1;
        QVERIFY2(span >= gaps * 500 - 200,
                 qPrintable(QStringLiteral("%1 cycles ended within %2 ms").arg(gaps + 1).arg(span)));

        // Its data port takes a client; watched, the reader cycles at its own rate again.
        QTcpSocket data;
        data.connectToHost(r->address(), r->dataPort());
        QVERIFY(data.waitForConnected(testing::kReplyWaitMs));
        QTRY_VERIFY_WITH_TIMEOUT(!r->cycles().unwatched(), testing::kReplyWaitMs);
        const qsizetype before = finishedAt.size();
        QTRY_VERIFY_WITH_TIMEOUT(finishedAt.size() >= before + 10, testing::cyclesWaitMs(10, 50));
        data.abort();
        QTRY_VERIFY_WITH_TIMEOUT(r->cycles().unwatched(), testing::kReplyWaitMs);

        // So do its output ports, and its command port a second time.
        for (int n = 1; n <= 4; ++n) {
            QTcpSocket output;
            output.connectToHost(r->address(), r->outputPort(n));
            QVERIFY2(output.waitForConnected(testing::kReplyWaitMs), qPrintable(QString::number(n)));
            QTRY_COMPARE_WITH_TIMEOUT(r->output().totalClients(), 1, testing::kReplyWaitMs);
            QVERIFY(!r->cycles().unwatched());
            output.abort();
            QTRY_COMPARE_WITH_TIMEOUT(r->output().totalClients(), 0, testing::kReplyWaitMs);
        }
        QTcpSocket second;
        second.connectToHost(r->address(), r->commandPort());
        QVERIFY(second.waitForConnected(testing::kReplyWaitMs));
        answer.clear();
        second.write("NAME\r\n");
        QTRY_VERIFY_WITH_TIMEOUT((answer += second.readAll()).contains("!NAME OK"), testing::kReplyWaitMs);
    }

    void theJobsOptionIsChecked() {
        QCOMPARE(runCli({"--jobs", "0", "list"}).code, int(cli::Usage));
        QCOMPARE(runCli({"--jobs", "257", "list"}).code, int(cli::Usage));
        // 1 and 256, the ends of the range, are taken.
        QCOMPARE(runCli({"--jobs", "1", "list"}).code, int(cli::Success));
        QCOMPARE(runCli({"--jobs", "256", "list"}).code, int(cli::Success));
        QVERIFY(runCli({"--jobs", "many", "list"})
                    .err.contains("--jobs takes a number of readers from 1 to 256"));
        QVERIFY(cli::usageText().contains("(default 32)"));
    }
};

int runCliTests(int argc, char** argv) {
    TestCli t;
    return QTest::qExec(&t, argc, argv);
}
#include "tst_cli.moc"
