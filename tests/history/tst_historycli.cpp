// velmarrow-cli record, trend and export: the real program records simulated readers of a
// line until Ctrl-C, every read it received is in the file, and the trend it prints flags
// the reader whose print fades and not the steady one.
#include "common/readers.h"
#include "common/waits.h"
#include "history/historyquery.h"
#include "history/historystore.h"
#include "sim/reader.h"
#include "sim/simulator.h"

#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>

using namespace vm;

namespace {

struct Run {
    int code = -1;
    QString out, err;
};

// Runs the program to its end (trend, export and wrong command lines need only the file).
Run runCli(const QStringList& arguments) {
    QProcess p;
    p.start(QStringLiteral(VELMARROW_CLI_PATH), arguments);
    Run r;
    if (!p.waitForFinished(testing::kReplyWaitMs * 6) || p.exitStatus() != QProcess::NormalExit)
        return r;
    r.code = p.exitCode();
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

QJsonObject document(const QString& out) {
    return QJsonDocument::fromJson(out.toUtf8()).object();
}

} // namespace

class TestHistoryCli : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<sim::Simulator> m_sim;
    QString m_db;
    qint64 m_recorded[2] = {0, 0};

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
        m_sim = testing::startSimulator({testing::readerConfig(QStringLiteral("Fade1")),
                                         testing::readerConfig(QStringLiteral("Steady2"))});
        QVERIFY(m_sim);
        QString error;
        for (sim::Reader* r : m_sim->readers()) {
            // Graded reads of a print of full contrast.
            r->parameters().setFields(QStringLiteral("VERIFY"), {QStringLiteral("ISO")});
            QVERIFY2(r->setScene(QStringLiteral("contrast"), QStringLiteral("100"), &error),
                     qPrintable(error));
        }
        m_db = m_dir.filePath(QStringLiteral("line.sqlite"));
    }

    // Recording runs until Ctrl-C; then everything received is in the file and the summary
    // says how many reads of each reader that was. A named reader never found is a failure.
    void recordsUntilCtrlC() {
        sim::Reader* fading = m_sim->reader(0);
        sim::Reader* steady = m_sim->reader(1);
        QSignalSpy fadingRecords(fading, &sim::Reader::recordDelivered);
        QSignalSpy steadyRecords(steady, &sim::Reader::recordDelivered);
        QProcess p;
        QSignalSpy finished(&p, &QProcess::finished);
        p.start(QStringLiteral(VELMARROW_CLI_PATH), {"record", "--db", m_db, "Fade1", "Steady2"});
        QVERIFY(p.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(fadingRecords.size() >= 30 && steadyRecords.size() >= 30,
                                 testing::kConnectWaitMs + testing::kDiscoveryWaitMs);
        // The print of the first reader fades by 2 % of its contrast a second from here on.
        QString error;
        QVERIFY2(fading->setScene(QStringLiteral("drift"), QStringLiteral("fade 120"), &error),
                 qPrintable(error));
        fadingRecords.clear();
        QTRY_VERIFY_WITH_TIMEOUT(fadingRecords.size() >= 60, 60 * testing::kReplyWaitMs);
        QVERIFY(fading->setScene(QStringLiteral("drift"), QStringLiteral("off"), &error));
        QCOMPARE(::kill(pid_t(p.processId()), SIGINT), 0);
        QVERIFY(finished.wait(testing::kReplyWaitMs * 6));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        const QString out = QString::fromUtf8(p.readAllStandardOutput());
        const QString err = QString::fromUtf8(p.readAllStandardError());
        QCOMPARE(p.exitCode(), 0);
        QCOMPARE(err,
                 QStringLiteral("velmarrow-cli: stopped by SIGINT: every read received is in the file\n"));
        const QRegularExpression summary(
            QStringLiteral("^Fade1: (\\d+) reads\nSteady2: (\\d+) reads\n2 readers: "
                           "(\\d+) reads recorded in [0-9.]+ s, (\\d+) kept in (.*)\n$"));
        const QRegularExpressionMatch m = summary.match(out);
        QVERIFY2(m.hasMatch(), qPrintable(out));
        m_recorded[0] = m.captured(1).toLongLong();
        m_recorded[1] = m.captured(2).toLongLong();
        QCOMPARE(m.captured(3).toLongLong(), m_recorded[0] + m_recorded[1]);
        QCOMPARE(m.captured(4).toLongLong(), m_recorded[0] + m_recorded[1]);
        QCOMPARE(m.captured(5), QFileInfo(m_db).absoluteFilePath());
        QVERIFY2(m_recorded[0] >= 60 && m_recorded[1] >= 20, qPrintable(out));

        history::HistoryQuery query;
        QVERIFY2(query.open(m_db, &error), qPrintable(error));
        const qint64 now = QDateTime::currentMSecsSinceEpoch() + 1;
        QCOMPARE(qint64(query.reads(QStringLiteral("Fade1"), 0, now).size()), m_recorded[0]);
        QCOMPARE(qint64(query.reads(QStringLiteral("Steady2"), 0, now).size()), m_recorded[1]);
        // Each read kept its grades and the reader its MAC address.
        const history::ReadEntry last = query.reads(QStringLiteral("Steady2"), 0, now).last();
        QCOMPARE(last.mac.toUpper(), steady->identity().macAddress().toUpper());
        QVERIFY(last.grades.size() >= 10);

        // Of two readers named, one is never found: the other is recorded, and the stop ends
        // with exit code 3 and the missing one named.
        QTRY_COMPARE_WITH_TIMEOUT(steady->dataClients(), 0, testing::kReplyWaitMs);
        QProcess partly;
        QSignalSpy partlyFinished(&partly, &QProcess::finished);
        partly.start(
            QStringLiteral(VELMARROW_CLI_PATH),
            {"record", "--db", m_dir.filePath(QStringLiteral("partly.sqlite")), "Steady2", "NoSuchReader"});
        QTRY_VERIFY_WITH_TIMEOUT(steady->dataClients() > 0,
                                 testing::kConnectWaitMs + testing::kDiscoveryWaitMs);
        QCOMPARE(::kill(pid_t(partly.processId()), SIGINT), 0);
        QVERIFY(partlyFinished.wait(testing::kReplyWaitMs * 6));
        QCOMPARE(partly.exitStatus(), QProcess::NormalExit);
        const QString partlyErr = QString::fromUtf8(partly.readAllStandardError());
        QVERIFY2(partlyErr.contains(
                     QStringLiteral("velmarrow-cli: NoSuchReader: no reader answers to this name\n")),
                 qPrintable(partlyErr));
        QCOMPARE(partly.exitCode(), 3);
        QVERIFY(QString::fromUtf8(partly.readAllStandardOutput()).startsWith(QStringLiteral("Steady2: ")));
    }

    // The trend of the fading reader warns on Symbol Contrast (exit code 1); the steady one
    // does not (0). JSON carries the same.
    void trendFlagsTheFadingReaderOnly() {
        QVERIFY(m_recorded[0] > 0);
        Run r = runCli(
            {"trend", "--db", m_db, "Fade1", "--param", "symbol contrast", "--since", "10m", "--json"});
        QCOMPARE(r.code, 1);
        QJsonObject doc = document(r.out);
        QCOMPARE(doc.value("parameter").toString(), QStringLiteral("Symbol Contrast"));
        QCOMPARE(doc.value("exitCode").toInt(), 1);
        const QJsonObject drift = doc.value("drift").toObject();
        QVERIFY2(drift.value("flagged").toBool(), qPrintable(r.out));
        QVERIFY(drift.value("slopePerHour").toDouble() < 0);
        QVERIFY(drift.value("text").toString().contains(QStringLiteral("; at this rate it reaches ")));
        // The limits of A to D that Symbol Contrast is graded by, higher being better.
        const QJsonObject bands = doc.value("bands").toObject();
        QCOMPARE(QList<double>({bands.value("A").toDouble(-1), bands.value("B").toDouble(-1),
                                bands.value("C").toDouble(-1), bands.value("D").toDouble(-1)}),
                 QList<double>({70, 55, 40, 20}));
        QVERIFY(bands.value("higherIsBetter").toBool());
        qint64 reads = 0;
        for (const QJsonValue& v : doc.value("intervals").toArray())
            reads += v.toObject().value("reads").toInteger();
        QCOMPARE(reads, m_recorded[0]);

        r = runCli({"trend", "--db", m_db, "Steady2", "--param", "Symbol Contrast", "--since", "10m"});
        QCOMPARE(r.code, 0);
        QVERIFY2(
            r.out.contains(QStringLiteral("Symbol Contrast: no drift toward a lower grade over the last ")),
            qPrintable(r.out));
        QVERIFY(!r.out.contains(QStringLiteral("WARNING")));
        QVERIFY(r.out.startsWith(QStringLiteral("Steady2, Symbol Contrast, last 10 min (")));
        // Without --since: the last eight hours, in intervals of a 48th of them.
        r = runCli({"trend", "--db", m_db, "Steady2", "--param", "Symbol Contrast"});
        QCOMPARE(r.code, 0);
        QVERIFY2(r.out.startsWith(QStringLiteral("Steady2, Symbol Contrast, last 8 h (")), qPrintable(r.out));
        QVERIFY2(r.out.section(QLatin1Char('\n'), 0, 0).endsWith(QStringLiteral("), intervals of 10 min")),
                 qPrintable(r.out));

        r = runCli({"trend", "--db", m_db, "Steady2", "--param", "Sharpness", "--since", "10m"});
        QCOMPARE(r.code, 3);
        QVERIFY2(
            r.err.startsWith(QStringLiteral("velmarrow-cli: Steady2 has no Sharpness in the last 10 min; it "
                                            "grades: Symbol Contrast, ")),
            qPrintable(r.err));
    }

    // A value that worsens but stays far from the next grade is told, without a warning and
    // with exit code 0: only a fall or a next grade within hours is a finding, and a fall's JSON
    // names the grades it fell from and to. The same file's failures and no reads are counted
    // apart, a reader that grades nothing is exported and one without reads is not.
    void slowWorseningIsToldWithoutAWarning() {
        const QString db = m_dir.filePath(QStringLiteral("slow.sqlite"));
        {
            history::HistoryStore store;
            QString error;
            QVERIFY2(store.open(db, &error), qPrintable(error));
            // Symbol contrast from 99 % down 4.5 points over two hours: a quarter of the A band
            // and more, with B (70 %) some eleven hours away.
            const qint64 start = QDateTime::currentMSecsSinceEpoch() - 2 * 3600 * 1000;
            for (int i = 0; i <= 120; ++i) {
                history::ReadEntry e;
                e.reader = QStringLiteral("Slow");
                e.timeMs = start + i * 60 * 1000;
                e.number = i + 1;
                e.result = history::ReadResult::Pass;
                e.symbology = QStringLiteral("Data Matrix");
                e.overallGrade = 4;
                const double contrast = 99 - 4.5 * i / 120 + (i % 2 ? 0.1 : -0.1);
                e.grades = {{QStringLiteral("Symbol Contrast"), contrast, QString::number(contrast), 4}};
                store.append(e);
                // Beside it a reader whose contrast falls from 80 % to 60 %: from A into B, with
                // C (below 55 %) half an hour on.
                e.reader = QStringLiteral("Falling");
                e.grades[0].value = 80 - 20.0 * i / 120;
                store.append(e);
                e.reader = QStringLiteral("Slow");
                // Between them 3 failures and 5 no reads, without grades; and a reader that
                // grades nothing (verification off) with 4 reads that passed.
                e.grades.clear();
                e.overallGrade = -1;
                e.timeMs += 30 * 1000;
                if (i % 40 == 7 || i % 24 == 4) {
                    e.result = i % 40 == 7 ? history::ReadResult::Fail : history::ReadResult::NoRead;
                    store.append(e);
                } else if (i % 30 == 12) {
                    e.reader = QStringLiteral("Plain");
                    store.append(e);
                }
            }
            QVERIFY(store.flush());
        }
        const Run r = runCli({"trend", "--db", db, "Slow", "--param", "Symbol Contrast", "--since", "3h"});
        QCOMPARE(r.code, 0);
        const QString last = r.out.trimmed().section(QLatin1Char('\n'), -1);
        QVERIFY2(
            last.startsWith(QStringLiteral("Symbol Contrast is getting worse within A over the last ")) &&
                last.contains(QStringLiteral("; at this rate it reaches B in about ")),
            qPrintable(r.out));
        QVERIFY2(!r.out.contains(QStringLiteral("WARNING")), qPrintable(r.out));
        // The table's reads, pass, fail and no read columns, summed over its intervals.
        const QRegularExpression row(
            QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d +(\\d+) +(\\d+) +(\\d+) +(\\d+) "));
        QList<qint64> columns(4, 0);
        for (const QString& line : r.out.split(QLatin1Char('\n')))
            if (const QRegularExpressionMatch m = row.match(line); m.hasMatch())
                for (int c = 0; c < 4; ++c)
                    columns[c] += m.captured(c + 1).toLongLong();
        QCOMPARE(columns, QList<qint64>({129, 121, 3, 5}));
        // The whole range in one interval: its read rate to a tenth of a percent (121 of 129).
        const Run whole = runCli(
            {"trend", "--db", db, "Slow", "--param", "Symbol Contrast", "--since", "3h", "--interval", "3h"});
        QCOMPARE(whole.code, 0);
        QVERIFY2(
            QRegularExpression(
                QStringLiteral("\\n\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d +129 +121 +3 +5 +93\\.8 % "))
                .match(whole.out)
                .hasMatch(),
            qPrintable(whole.out));

        // JSON counts each interval's passes, failures and no reads apart.
        const Run json =
            runCli({"trend", "--db", db, "Slow", "--param", "Symbol Contrast", "--since", "3h", "--json"});
        QCOMPARE(json.code, 0);
        qint64 pass = 0, fail = 0, noRead = 0;
        QStringList worst; // each interval's worst grade: every read graded A
        for (const QJsonValue& v : document(json.out).value("intervals").toArray()) {
            pass += v.toObject().value("pass").toInteger();
            fail += v.toObject().value("fail").toInteger();
            noRead += v.toObject().value("noRead").toInteger();
            if (v.toObject().contains("values"))
                worst << v.toObject().value("values").toObject().value("worstGrade").toString();
        }
        QCOMPARE(QList<qint64>({pass, fail, noRead}), QList<qint64>({121, 3, 5}));
        // Each interval's lowest and highest of its values, about its mean: the alternate reads
        // 0.1 above and below the line make every interval of two values or more spread.
        double lowest = 100, highest = 0;
        for (const QJsonValue& v : document(json.out).value("intervals").toArray()) {
            const QJsonObject values = v.toObject().value("values").toObject();
            if (values.isEmpty())
                continue;
            const double min = values.value("min").toDouble(), max = values.value("max").toDouble();
            const double mean = values.value("mean").toDouble();
            QVERIFY2(values.value("count").toInt() < 2 || (min < mean && mean < max),
                     qPrintable(QJsonDocument(values).toJson()));
            lowest = std::min(lowest, min);
            highest = std::max(highest, max);
        }
        // The last read's 94.4 % and the second's 99.0625 %.
        QVERIFY2(std::abs(lowest - 94.4) < 1e-9 && std::abs(highest - 99.0625) < 1e-9,
                 qPrintable(QStringLiteral("%1 to %2").arg(lowest).arg(highest)));
        QVERIFY(!worst.isEmpty());
        QCOMPARE(worst.filter(QRegularExpression("^A$")).size(), worst.size());
        const Run falling =
            runCli({"trend", "--db", db, "Falling", "--param", "Symbol Contrast", "--since", "3h", "--json"});
        QCOMPARE(falling.code, 1);
        const QJsonObject fell = document(falling.out).value("drift").toObject();
        QCOMPARE(QStringList({fell.value("startGrade").toString(), fell.value("endGrade").toString(),
                              fell.value("nextGrade").toString()}),
                 QStringList({"A", "B", "C"}));
        // The fitted line from about 80 % at the first value to about 60 % at the last.
        QVERIFY2(std::abs(fell.value("startValue").toDouble() - 80) < 1 &&
                     std::abs(fell.value("endValue").toDouble() - 60) < 1,
                 qPrintable(QJsonDocument(fell).toJson()));

        // A reader whose reads carry no grades is exported all the same.
        const QString csv = m_dir.filePath(QStringLiteral("plain.csv"));
        const Run plain = runCli({"export", "--db", db, "Plain", "--csv", csv, "--since", "3h"});
        QCOMPARE(plain.code, 0);
        QCOMPARE(plain.out, QStringLiteral("4 reads written to %1\n").arg(csv));
        QFile f(csv);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll().count('\n'), 5);
        // An export of a reader without reads in the range says so and leaves no file behind.
        const QString none = m_dir.filePath(QStringLiteral("nobody.csv"));
        const Run nobody = runCli({"export", "--db", db, "NoSuchReader", "--csv", none, "--since", "30m"});
        QCOMPARE(nobody.code, 3);
        QCOMPARE(
            nobody.err,
            QStringLiteral("velmarrow-cli: NoSuchReader has no reads in %1 in the last 30 min\n").arg(db));
        QVERIFY(!QFileInfo::exists(none));
        // Nor does it touch a file already at that path: the export before stays as it was.
        f.seek(0);
        const QByteArray before = f.readAll();
        f.close();
        QCOMPARE(runCli({"export", "--db", db, "NoSuchReader", "--csv", csv, "--since", "30m"}).code, 3);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), before);
    }

    // Every read of the line into one CSV, a header line first (its columns are HistoryQuery's, read
    // by tst_history's countsWorstReadsAndCsv).
    void exportsEveryReadAsCsv() {
        QVERIFY(m_recorded[0] > 0);
        const QString csv = m_dir.filePath(QStringLiteral("line.csv"));
        const Run r = runCli({"export", "--db", m_db, "--csv", csv, "--since", "1h"});
        QCOMPARE(r.code, 0);
        const qint64 all = m_recorded[0] + m_recorded[1];
        QCOMPARE(r.out, QStringLiteral("%1 reads written to %2\n").arg(all).arg(csv));
        QFile f(csv);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = f.readAll().split('\n');
        QCOMPARE(qint64(lines.size()), all + 2); // the header, the reads, and nothing after the last line end
    }

    // A wrong command line and files the program cannot use each say why, with their codes.
    void wrongUseSaysWhy() {
        Run r = runCli({"record", "--db", m_db});
        QCOMPARE(r.code, 2);
        QVERIFY(r.err.startsWith(QStringLiteral("velmarrow-cli: record takes readers, or --all\n")));
        // Readers and --all together are refused as well, before any reader is looked for.
        const QString both = m_dir.filePath(QStringLiteral("both.sqlite"));
        r = runCli({"record", "--db", both, "--all", "Fade1", "--for", "1s"});
        QCOMPARE(r.code, 2);
        QVERIFY(r.err.startsWith(QStringLiteral("velmarrow-cli: record takes readers, or --all\n")));
        QVERIFY(!QFileInfo::exists(both));
        r = runCli({"trend", "Fade1", "--param", "Modulation"});
        QCOMPARE(r.code, 2);
        QVERIFY(r.err.startsWith(QStringLiteral("velmarrow-cli: trend needs --db <history file>\n")));
        r = runCli(
            {"trend", "--db", m_db, "Fade1", "--param", "Modulation", "--since", "eight hours", "--json"});
        QCOMPARE(r.code, 2);
        QCOMPARE(document(r.out).value("error").toString(),
                 QStringLiteral("--since takes a time such as 90s, 30m, 8h or 2d"));
        const QString missing = m_dir.filePath(QStringLiteral("none.sqlite"));
        r = runCli({"trend", "--db", missing, "Fade1", "--param", "Modulation"});
        QCOMPARE(r.code, 4);
        QCOMPARE(r.err, QStringLiteral("velmarrow-cli: There is no history file %1\n").arg(missing));
    }
};

QTEST_GUILESS_MAIN(TestHistoryCli)
#include "tst_historycli.moc"
