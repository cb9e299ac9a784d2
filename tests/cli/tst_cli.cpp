// velmarrow-cli against a fleet of simulated readers over real loopback sockets: listing,
// saving, comparing and loading one file into many readers, its summaries, JSON and exit
// codes, and the real program on a pipe.
#include "cli/clicommands.h"
#include "common/readers.h"
#include "link/configuration.h"
#include "sim/parameterstore.h"
#include "sim/reader.h"
#include "sim/simulator.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>

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

} // namespace

class TestCli : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<sim::Simulator> m_sim;

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

private slots:
    void initTestCase() {
        qputenv("VELMARROW_STATION", "CLI-TEST");
        QList<sim::ReaderConfig> readers;
        for (int i = 1; i <= 9; ++i)
            readers << testing::readerConfig(QStringLiteral("Fleet%1").arg(i));
        // An older generation that lacks the calibration target.
        readers << testing::readerConfig(QStringLiteral("Older"), QStringLiteral("2.3.0.0"));
        m_sim = testing::startSimulator(readers);
        QVERIFY(m_sim);
    }

    void cleanupTestCase() { m_sim.reset(); }

    void listsTheFleet() {
        const Result r = runCli({"list"});
        QCOMPARE(r.code, int(cli::Success));
        for (const sim::Reader* s : m_sim->readers())
            QVERIFY2(
                r.out.contains(QRegularExpression("^" + s->name() + "\t" + s->address().toString() + "\t" +
                                                      QRegularExpression::escape(s->softwareVersion()),
                                                  QRegularExpression::MultilineOption)),
                qPrintable(r.out));
        const Result json = runCli({"--json", "list"});
        QCOMPARE(QJsonDocument::fromJson(json.out.toUtf8()).object().value("readers").toArray().size(), 10);
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
        QCOMPARE(
            readers.at(1).toObject().value("failures").toArray().at(0).toObject().value("line").toString(),
            QStringLiteral("TARGET_CALIB_CONTRAST 70"));
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
    }

    void exitCodesScriptsCanRelyOn() {
        QCOMPARE(runCli({}).code, int(cli::Usage));
        QCOMPARE(runCli({"load", "x.lcf"}).code, int(cli::Usage));
        QCOMPARE(runCli({"--wait", "soon", "list"}).code, int(cli::Usage));
        const Result missing = runCli({"--wait", "300", "show", "NoSuchReader"});
        QCOMPARE(missing.code, int(cli::Unreachable));
        QVERIFY(missing.err.contains("no reader answers to \"NoSuchReader\""));
        const Result noFile = runCli({"load", m_dir.filePath("absent.lcf"), "Fleet1"});
        QCOMPARE(noFile.code, int(cli::FileProblem));
        QVERIFY(noFile.err.contains("absent.lcf is not a file"));
        // A reader that is down costs its own line; the others still load.
        reader("Fleet7")->setListening(false);
        reader("Fleet7")->dropConnections();
        const QString file = writeFile("one.lcf", "BEEP Y\r\n");
        const Result partly = runCli({"load", file, "Fleet6", reader("Fleet7")->address().toString()});
        reader("Fleet7")->setListening(true);
        QCOMPARE(partly.code, int(cli::Unreachable));
        QVERIFY(partly.out.contains("Fleet6 (" + reader("Fleet6")->address().toString() +
                                    "): 1 lines loaded, 0 refused"));
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
                 "Fleet3 (" + reader("Fleet3")->address().toString() + "): 1 lines loaded, 0 refused\n");
        QCOMPARE(reader("Fleet3")->parameters().fields("TRIG"), QStringList{"C"});
    }
};

QTEST_MAIN(TestCli)
#include "tst_cli.moc"
