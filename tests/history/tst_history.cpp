// The read history against real files in a temporary folder: what the store keeps of a
// simulated reader's records, the trend and drift rule on a print that fades, retention,
// files of another layout, and a second program killed, filling its disk or writing beside.
#include "common/readers.h"
#include "common/symbols.h"
#include "common/waits.h"
#include "history/drift.h"
#include "history/historyquery.h"
#include "history/historystore.h"
#include "history/recorder.h"
#include "link/connection.h"
#include "link/coordinator.h"
#include "link/device.h"
#include "sim/adminconsole.h"
#include "sim/grader.h"
#include "sim/imagingparameters.h"
#include "sim/reader.h"
#include "sim/simulator.h"

#include <QBuffer>
#include <QDateTime>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QSet>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <sqlite3.h>

#include <functional>
#include <memory>
#include <optional>

#include <signal.h>

using namespace vm::history;

namespace {

constexpr qint64 kHour = 3600 * 1000;

// A graded read with the given Symbol Contrast, as a Data Matrix reader reports it.
ReadEntry gradedEntry(qint64 timeMs, qint64 number, double contrast) {
    ReadEntry e;
    e.reader = QStringLiteral("Line3");
    e.mac = QStringLiteral("00:0a:0b:0c:0d:0e");
    e.timeMs = timeMs;
    e.number = number;
    e.result = ReadResult::Pass;
    e.text = QStringLiteral("PART-%1").arg(number);
    e.symbology = QStringLiteral("Data Matrix");
    const int grade = GradeBands{true, {70, 55, 40, 20}}.gradeOf(contrast);
    e.overallGrade = grade;
    e.grades = {{QStringLiteral("Symbol Contrast"), contrast, QStringLiteral("%1 %").arg(contrast), grade},
                {QStringLiteral("Axial Nonuniformity"), 0.02, QStringLiteral("0.020"), 4}};
    return e;
}

// Runs a SQL statement on a file directly, as another tool would.
bool rawExec(const QString& path, const char* sql) {
    sqlite3* db = nullptr;
    const bool opened = sqlite3_open(path.toUtf8().constData(), &db) == SQLITE_OK;
    const bool ok = opened && sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return ok;
}

// The first value a SQL statement gives on a file, as another tool would read it; null when
// the statement gives none.
QString rawText(const QString& path, const char* sql) {
    sqlite3* db = nullptr;
    QString out;
    if (sqlite3_open(path.toUtf8().constData(), &db) == SQLITE_OK) {
        sqlite3_stmt* s = nullptr;
        if (sqlite3_prepare_v2(db, sql, -1, &s, nullptr) == SQLITE_OK && sqlite3_step(s) == SQLITE_ROW)
            out = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(s, 0)));
        sqlite3_finalize(s);
    }
    sqlite3_close(db);
    return out;
}

double rawNumber(const QString& path, const char* sql) {
    const QString text = rawText(path, sql);
    return text.isNull() ? std::nan("") : text.toDouble();
}

// The first line of the check is "ok" only for a whole file.
QString integrity(const QString& path) {
    return rawText(path, "PRAGMA integrity_check");
}

// The tables of a file as the first (1) and second (2) layouts wrote them, before the minute
// summaries; the second indexes the reads by their result too.
QByteArray olderLayout(int layout) {
    return QByteArray("PRAGMA auto_vacuum = INCREMENTAL;"
                      "CREATE TABLE readers(id INTEGER PRIMARY KEY, name TEXT NOT NULL, mac TEXT NOT NULL "
                      "DEFAULT '', UNIQUE(name, mac));"
                      "CREATE TABLE parameters(id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE);"
                      "CREATE TABLE reads(id INTEGER PRIMARY KEY, reader INTEGER NOT NULL, time INTEGER NOT "
                      "NULL, number INTEGER NOT NULL, result INTEGER NOT NULL, failure TEXT, text TEXT, "
                      "symbology TEXT, overall INTEGER, image TEXT);") +
           (layout == 1 ? "CREATE INDEX reads_by_reader_time ON reads(reader, time);"
                        : "CREATE INDEX reads_by_reader_time_result ON reads(reader, time, result);") +
           "CREATE TABLE grades(reader INTEGER NOT NULL, parameter INTEGER NOT NULL, time INTEGER NOT "
           "NULL, read INTEGER NOT NULL, value REAL, grade INTEGER, value_text TEXT,"
           " PRIMARY KEY(reader, parameter, time, read)) WITHOUT ROWID;"
           "INSERT INTO readers VALUES(1, 'Line7', '');"
           "INSERT INTO parameters VALUES(1, 'Symbol Contrast');"
           "PRAGMA application_id = 1447905363; PRAGMA user_version = " +
           QByteArray::number(layout) + ";";
}

QString writerProgram() {
    return QCoreApplication::applicationDirPath() + QStringLiteral("/history_writer");
}

} // namespace

class TestHistory : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString path(const QString& name = QStringLiteral("history.sqlite")) const {
        return m_dir.filePath(name);
    }

    // A reader that grades every read (verification on), focused, records flowing.
    struct GradingReader {
        std::unique_ptr<vm::sim::Reader> reader;
        std::unique_ptr<vm::link::Coordinator> coordinator;
        std::unique_ptr<vm::link::ReaderConnection> connection;
    };
    GradingReader startGradingReader(const QString& name) {
        GradingReader g;
        g.reader = vm::testing::startReader(name);
        if (!g.reader)
            return g;
        g.coordinator = std::make_unique<vm::link::Coordinator>();
        g.connection = std::make_unique<vm::link::ReaderConnection>();
        vm::testing::focusReader(*g.coordinator, g.reader->address().toString());
        if (!vm::testing::takeControl(*g.connection) || !g.connection->SendCommand("VERIFY ISO").ok)
            g.reader.reset();
        return g;
    }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
    }

    // Each real record is recorded as what it was: a pass, a read that found its symbol and
    // failed (here on the match), or a read that found nothing.
    void resultKindOfEachRecord() {
        auto g = startGradingReader(QStringLiteral("Line5"));
        QVERIFY(g.reader);
        QSignalSpy records(g.connection.get(), &vm::link::Connection::OnNewRecord);
        const auto entryOf =
            [&](const std::function<bool(const vm::link::Record&)>& kind) -> std::optional<ReadEntry> {
            std::optional<vm::link::Record> found;
            const auto seen = [&] {
                for (const QList<QVariant>& r : std::as_const(records))
                    if (kind(r.at(0).value<vm::link::Record>()))
                        found = r.at(0).value<vm::link::Record>();
                records.clear();
                return found.has_value();
            };
            if (!QTest::qWaitFor(seen, 10 * vm::testing::kReplyWaitMs))
                return std::nullopt;
            return entryFromRecord(*found, QStringLiteral("Line5"), QString(), 0, QString());
        };
        const std::optional<ReadEntry> pass = entryOf([](const vm::link::Record& r) { return r.Passed(); });
        QVERIFY(pass);
        QCOMPARE(pass->result, ReadResult::Pass);
        QVERIFY(pass->failure.isEmpty());
        QVERIFY(g.connection->SendCommand(QStringLiteral("MATCHEX T \"NOTHING\" 0 1 1 1")).ok);
        const std::optional<ReadEntry> fail =
            entryOf([](const vm::link::Record& r) { return !r.Passed() && r.Result().SymbolFound(); });
        QVERIFY(fail);
        QCOMPARE(fail->result, ReadResult::Fail);
        QVERIFY(!fail->failure.isEmpty());
        QString error;
        QVERIFY2(g.reader->setScene(QStringLiteral("contrast"), QStringLiteral("0"), &error),
                 qPrintable(error));
        const std::optional<ReadEntry> none =
            entryOf([](const vm::link::Record& r) { return !r.Result().SymbolFound(); });
        QVERIFY(none);
        QCOMPARE(none->result, ReadResult::NoRead);
        QVERIFY(!none->failure.isEmpty());
    }

    // A real graded record of the simulated reader comes back from the file with every field
    // and every parameter's value and grade.
    void roundTripOfAGradedRecord() {
        auto g = startGradingReader(QStringLiteral("Line1"));
        QVERIFY(g.reader);
        QSignalSpy records(g.connection.get(), &vm::link::Connection::OnNewRecord);
        QTRY_VERIFY_WITH_TIMEOUT(!records.isEmpty() &&
                                     records.last().at(0).value<vm::link::Record>().HasVerification(),
                                 vm::testing::kReplyWaitMs);
        const auto record = records.last().at(0).value<vm::link::Record>();
        QVERIFY(record.Verification()->parameters.size() >= 10);
        ReadEntry entry =
            entryFromRecord(record, QStringLiteral("Line1"), QStringLiteral("00:0a:0b:0c:0d:01"),
                            QDateTime::currentMSecsSinceEpoch(), QStringLiteral("Line1_000000042.tif"));
        entry.result = ReadResult::Fail; // a failure keeps its kind too
        entry.failure = QStringLiteral("Match Fail");

        HistoryStore store;
        QString error;
        QVERIFY2(store.open(path(QStringLiteral("roundtrip.sqlite")), &error), qPrintable(error));
        store.append(entry);
        QVERIFY(store.flush());
        HistoryQuery query;
        QVERIFY2(query.open(path(QStringLiteral("roundtrip.sqlite")), &error), qPrintable(error));
        const QList<ReadEntry> back = query.reads(QStringLiteral("Line1"), entry.timeMs, entry.timeMs + 1);
        QCOMPARE(back.size(), 1);
        const ReadEntry& b = back.first();
        QCOMPARE(b.reader, entry.reader);
        QCOMPARE(b.mac, entry.mac);
        QCOMPARE(b.timeMs, entry.timeMs);
        QCOMPARE(b.number, record.Number());
        QCOMPARE(b.result, ReadResult::Fail);
        QCOMPARE(b.failure, QStringLiteral("Match Fail"));
        QCOMPARE(b.text, record.Result().Text());
        QCOMPARE(b.symbology, record.Result().Symbology());
        QCOMPARE(gradeLetter(b.overallGrade), record.Verification()->overallGrade);
        QCOMPARE(b.imageFile, QStringLiteral("Line1_000000042.tif"));
        const auto& sent = record.Verification()->parameters;
        QCOMPARE(b.grades.size(), sent.size());
        for (int i = 0; i < sent.size(); ++i) {
            QCOMPARE(b.grades[i].name, sent[i].name);
            QCOMPARE(b.grades[i].valueText, sent[i].value);
            QCOMPARE(gradeLetter(b.grades[i].grade), sent[i].grade);
            if (std::isfinite(entry.grades[i].value))
                QCOMPARE(b.grades[i].value, entry.grades[i].value);
        }
        // The same reader by its MAC address.
        QCOMPARE(query.reads(QStringLiteral("00:0A:0B:0C:0D:01"), entry.timeMs, entry.timeMs + 1).size(), 1);
    }

    // The bands a parameter's line is drawn on grade its values as the reader grades them: the
    // reader's reported value, as the history keeps it, either side of each of its limits.
    void bandsGradeAsTheReaderDoes() {
        using vm::sim::SymbolMeasurements;
        struct Case {
            QString name;
            double SymbolMeasurements::*field;
            QList<double> values;
            double vm::sim::LinearScan::*scanField = nullptr; // a barcode's, graded scan by scan
        };
        const QList<Case> cases = {
            // Values inside each band and exactly on each limit.
            {"Symbol Contrast", &SymbolMeasurements::symbolContrast, {90, 70, 69, 55, 54, 40, 39, 20, 19}},
            {"Modulation",
             &SymbolMeasurements::modulation,
             {0.9, 0.5, 0.49, 0.4, 0.39, 0.3, 0.29, 0.2, 0.19}},
            {"Axial Nonuniformity",
             &SymbolMeasurements::axialNonuniformity,
             {0.0, 0.06, 0.07, 0.08, 0.09, 0.1, 0.11, 0.12, 0.13}},
            {"Grid Nonuniformity",
             &SymbolMeasurements::gridNonuniformity,
             {0.1, 0.38, 0.45, 0.5, 0.6, 0.63, 0.7, 0.75, 0.8}},
            {"Fixed Pattern Damage", &SymbolMeasurements::fixedPatternDamage, {0.0, 0.05, 0.12, 0.15, 0.3}},
            // The dot-peen checks, in modules and as a share of the nominal size.
            {"Center Offset",
             &SymbolMeasurements::centerOffset,
             {0.05, 0.1, 0.15, 0.2, 0.25, 0.3, 0.35, 0.4, 0.45}},
            {"Size Offset",
             &SymbolMeasurements::sizeOffset,
             {0.02, 0.05, 0.07, 0.1, 0.12, 0.15, 0.17, 0.2, 0.25}},
            {"Angle of Distortion",
             &SymbolMeasurements::angleOfDistortion,
             {0.5, 1, 1.5, 2, 3, 4, 5, 7, 7.5}},
            // Border Match is the share of the finder's modules undamaged, in percent.
            {"Border Match",
             &SymbolMeasurements::fixedPatternDamage,
             {0.0, 0.01, 0.02, 0.03, 0.05, 0.06, 0.08, 0.1, 0.12}},
            // A barcode's, a fraction as ISO/IEC 15416 grades it.
            {"Decodability",
             nullptr,
             {0.9, 0.62, 0.61, 0.5, 0.49, 0.37, 0.36, 0.25, 0.24},
             &vm::sim::LinearScan::decodability},
            // The largest dip inside an element over the contrast: the less, the better.
            {"Defects",
             nullptr,
             {0.1, 0.15, 0.17, 0.2, 0.22, 0.25, 0.27, 0.3, 0.35},
             &vm::sim::LinearScan::defects},
        };
        // A reader's settings at their factory values: nothing set.
        struct Factory : vm::sim::ParameterSource {
            QStringList fields(const QString&) const override { return {}; }
            void setFields(const QString&, const QStringList&) override {}
            int firmwareLevel() const override { return 10; }
        } parameters;
        for (const Case& c : cases) {
            const GradeBands bands = *bandsFor(c.name, !c.scanField);
            QSet<int> grades;
            for (const double value : c.values) {
                SymbolMeasurements m = vm::testing::goodMatrix();
                if (c.scanField) {
                    // One clean scan across a barcode of high contrast.
                    vm::sim::LinearScan scan{.minReflectance = 5,
                                             .maxReflectance = 90,
                                             .symbolContrast = 85,
                                             .edgeContrast = 60,
                                             .modulation = 0.9,
                                             .decodes = true};
                    scan.*c.scanField = value;
                    m.linear = true;
                    m.scans = {scan};
                } else {
                    m.*c.field = value;
                }
                const QJsonObject r = vm::sim::verificationResult(m, true, vm::sim::FieldReader(parameters),
                                                                  QStringLiteral("ISO"));
                for (const QJsonValue& row : r.value("parameters").toArray()) {
                    const QJsonObject o = row.toObject();
                    if (o.value("name").toString() != c.name)
                        continue;
                    const int reader = gradeNumber(o.value("grade").toString());
                    grades << reader;
                    QVERIFY2(bands.gradeOf(leadingNumber(o.value("value").toString())) == reader,
                             qPrintable(c.name + " " + o.value("value").toString() + " " +
                                        o.value("grade").toString()));
                }
            }
            QCOMPARE(grades, (QSet<int>{4, 3, 2, 1, 0})); // every band was met
        }
    }

    // The rule on lines drawn exactly: a fall from A to B is told with the time to C; a steady
    // noisy line and an improving one are not.
    // The spans a drift warning names, rounded as a person would say them.
    void spansInWords() {
        const QList<std::pair<qint64, QString>> spans = {{1, "1 s"},
                                                         {89'400, "89 s"},
                                                         {90'000, "2 min"},
                                                         {89 * 60'000, "89 min"},
                                                         {90 * 60'000, "1.5 h"},
                                                         {qint64(2.3 * kHour), "2.5 h"},
                                                         {qint64(9.7 * kHour), "9.5 h"},
                                                         {10 * kHour, "10 h"},
                                                         {qint64(47.4 * kHour), "47 h"},
                                                         {48 * kHour, "2 days"},
                                                         {qint64(10.6 * 24 * kHour), "11 days"}};
        for (const auto& [ms, words] : spans)
            QCOMPARE(roughDuration(ms), words);
    }

    // The spans an operator types ("--since 7d"), each unit and the refusals.
    void spansAsTyped() {
        const QList<std::pair<QString, qint64>> spans = {
            {"90s", 90'000},        {"2 min", 120'000},       {"3m", 180'000},     {"1.5h", 5'400'000},
            {"7d", 7 * 24 * kHour}, {" 2D ", 2 * 24 * kHour}, {"0.5 H", kHour / 2}};
        for (const auto& [text, ms] : spans)
            QCOMPARE(parseSpan(text), ms);
        for (const QString bad : {"", "5", "-1h", "0s", "5 w", "h", "1e3s"})
            QCOMPARE(parseSpan(bad), qint64(-1));
    }

    void driftRuleOnKnownLines() {
        const GradeBands contrast = *bandsFor(QStringLiteral("Symbol Contrast"), true);
        // 80 % falling to 65 % over 2 h: 7.5 % an hour; C begins below 55 %, 10 / 7.5 h = 1.33 h on.
        SeriesSums falling;
        for (int i = 0; i <= 120; ++i)
            falling.add(i / 60.0, 80 - 7.5 * i / 60.0 + ((i % 3) - 1) * 0.5);
        const Drift d = assessDrift(QStringLiteral("Symbol Contrast"), contrast, falling, 0, 0, 2 * kHour);
        QVERIFY(d.flagged);
        QCOMPARE(d.startGrade, 4);
        QCOMPARE(d.endGrade, 3);
        QCOMPARE(d.nextGrade, 2);
        QVERIFY2(std::abs(d.msToNextGrade - qint64(1.3333 * kHour)) < 60 * 1000,
                 qPrintable(QString::number(d.msToNextGrade)));
        QCOMPARE(d.text, QStringLiteral("Symbol Contrast fell from A to B over the last 2 h; at this rate it "
                                        "reaches C in about 80 min"));

        // 90 % falling to 80 % in an hour stays A, and reaches B (below 70 %) in another hour:
        // told, since that is within the next 8 hours.
        SeriesSums withinA;
        for (int i = 0; i <= 60; ++i)
            withinA.add(i / 60.0, 90 - 10.0 * i / 60.0);
        const Drift w = assessDrift(QStringLiteral("Symbol Contrast"), contrast, withinA, 0, 0, kHour);
        QVERIFY(w.flagged);
        QCOMPARE(w.startGrade, 4);
        QCOMPARE(w.endGrade, 4);
        QCOMPARE(w.text,
                 QStringLiteral("Symbol Contrast is getting worse within A over the last 60 min; at this "
                                "rate it reaches B in about 60 min"));
        // The same fall over a week reaches B only days later: not told yet.
        SeriesSums slow;
        for (int i = 0; i <= 60; ++i)
            slow.add(i * 168.0 / 60.0, 90 - 10.0 * i / 60.0);
        const Drift sl = assessDrift(QStringLiteral("Symbol Contrast"), contrast, slow, 0, 0, 168 * kHour);
        QVERIFY(sl.worsening);
        QVERIFY(!sl.flagged);

        // 45 % falling to 25 % over 2 h ends in D, and F (below 20 %) is half an hour on.
        SeriesSums intoD;
        for (int i = 0; i <= 120; ++i)
            intoD.add(i / 60.0, 45 - 10.0 * i / 60.0);
        QCOMPARE(assessDrift(QStringLiteral("Symbol Contrast"), contrast, intoD, 0, 0, 2 * kHour).text,
                 QStringLiteral("Symbol Contrast fell from C to D over the last 2 h; at this rate it "
                                "reaches F in about 30 min"));

        SeriesSums steady;
        for (int i = 0; i < 2000; ++i)
            steady.add(i / 1000.0, 78 + ((i * 7919) % 11 - 5) * 0.4);
        const Drift s = assessDrift(QStringLiteral("Symbol Contrast"), contrast, steady, 0, 0, 2 * kHour);
        QVERIFY(s.enoughData);
        QVERIFY(!s.flagged);
        QVERIFY(!s.worsening);

        SeriesSums improving;
        for (int i = 0; i <= 120; ++i)
            improving.add(i / 60.0, 0.10 - 0.03 * i / 60.0);
        const GradeBands axial = *bandsFor(QStringLiteral("Axial Nonuniformity"), true);
        const Drift better =
            assessDrift(QStringLiteral("Axial Nonuniformity"), axial, improving, 0, 0, 2 * kHour);
        QVERIFY(!better.flagged);
        // It went from 0.10 down to 0.04, an A: the sentence names the grade it has now.
        QCOMPARE(better.text,
                 QStringLiteral("Axial Nonuniformity: no drift toward a lower grade over the last "
                                "2 h (now A)"));
        // The same line read as worsening on a scale where higher is worse is flagged.
        SeriesSums growing;
        for (int i = 0; i <= 120; ++i)
            growing.add(i / 60.0, 0.04 + 0.03 * i / 60.0);
        const Drift a = assessDrift(QStringLiteral("Axial Nonuniformity"), axial, growing, 0, 0, 2 * kHour);
        QVERIFY(a.flagged);
        QCOMPARE(a.startGrade, 4);
        QCOMPARE(a.endGrade, 2); // 0.10 is the C limit
        QCOMPARE(a.nextGrade, 1);

        SeriesSums few;
        for (int i = 0; i < Drift::kMinValues - 1; ++i)
            few.add(i / 60.0, 80 - 10.0 * i);
        QVERIFY(!assessDrift(QStringLiteral("Symbol Contrast"), contrast, few, 0, 0, kHour).enoughData);
    }

    // The simulated reader's print fades a few percent every second: Symbol Contrast is flagged
    // and the parameters that fading leaves alone are not; the same reader without drift gives
    // no warning.
    void fadingPrintIsFlaggedOnSymbolContrast() {
        auto g = startGradingReader(QStringLiteral("Line2"));
        QVERIFY(g.reader);
        HistoryStore store;
        QString error;
        const QString file = path(QStringLiteral("drift.sqlite"));
        QVERIFY2(store.open(file, &error), qPrintable(error));
        Recorder recorder(store);
        recorder.followConnection(g.connection.get());
        QSignalSpy recorded(&recorder, &Recorder::recordedRead);

        // Steady first: 40 graded reads of a print of full contrast, once the reader has
        // settled its exposure on it.
        QVERIFY2(g.reader->setScene("contrast", "100", &error), qPrintable(error));
        QTRY_VERIFY_WITH_TIMEOUT(recorded.size() >= 5, 5 * vm::testing::kReplyWaitMs);
        recorded.clear();
        const qint64 steadyFrom = QDateTime::currentMSecsSinceEpoch();
        QTRY_VERIFY_WITH_TIMEOUT(recorded.size() >= 40, 40 * vm::testing::kReplyWaitMs);
        const qint64 steadyTo = QDateTime::currentMSecsSinceEpoch() + 1;
        // Then the ink fades by 2 % of its contrast a second, from nothing.
        QVERIFY2(g.reader->setScene("drift", "fade 120", &error), qPrintable(error));
        const qint64 driftFrom = QDateTime::currentMSecsSinceEpoch();
        recorded.clear();
        QTRY_VERIFY_WITH_TIMEOUT(recorded.size() >= 60, 60 * vm::testing::kReplyWaitMs);
        QVERIFY(g.reader->setScene("drift", "off", &error));
        QVERIFY(store.flush());
        const qint64 driftTo = QDateTime::currentMSecsSinceEpoch() + 1;

        HistoryQuery query;
        QVERIFY2(query.open(file, &error), qPrintable(error));
        // A reader reached by its address is kept under that address.
        const QString line2 = g.reader->address().toString();
        for (const Drift& d : query.drifts(line2, steadyFrom, steadyTo))
            QVERIFY2(!d.flagged, qPrintable(d.text));
        const QList<Drift> drifts = query.drifts(line2, driftFrom, driftTo);
        QVERIFY(!drifts.isEmpty());
        QStringList flagged;
        for (const Drift& d : drifts)
            if (d.flagged)
                flagged << d.parameter;
        QVERIFY2(flagged.contains(QStringLiteral("Symbol Contrast")), qPrintable(flagged.join(", ")));
        for (const QString& untouched :
             {QStringLiteral("Axial Nonuniformity"), QStringLiteral("Grid Nonuniformity"),
              QStringLiteral("Fixed Pattern Damage")})
            QVERIFY2(!flagged.contains(untouched), qPrintable(flagged.join(", ")));
        const auto trend = query.trend(line2, QStringLiteral("Symbol Contrast"), driftFrom, driftTo, 1000);
        QVERIFY(trend);
        QVERIFY(trend->drift.slopePerHour < 0);
        // The fitted line starts at the grade the steady print had.
        const auto steady = query.trend(line2, QStringLiteral("Symbol Contrast"), steadyFrom, steadyTo, 1000);
        QVERIFY(steady);
        const QString was = gradeLetter(steady->drift.endGrade);
        QCOMPARE(gradeLetter(trend->drift.startGrade), was);
        QVERIFY2(trend->drift.text.startsWith(QStringLiteral("Symbol Contrast fell from %1 to ").arg(was)) ||
                     trend->drift.text.startsWith(
                         QStringLiteral("Symbol Contrast is getting worse within %1").arg(was)),
                 qPrintable(trend->drift.text));
        QVERIFY2(trend->drift.text.contains(QStringLiteral("at this rate it reaches ")),
                 qPrintable(trend->drift.text));
    }

    // The admin verb that sets a drift answers as the other verbs do, and says what it takes.
    void driftVerbOfTheSimulatedReader() {
        auto simulator = vm::testing::startSimulator({vm::testing::readerConfig(QStringLiteral("Line9"))});
        QVERIFY(simulator);
        vm::sim::AdminConsole console(*simulator);
        QCOMPARE(console.execute(QStringLiteral("drift fade 3")), QStringLiteral("ok\n"));
        QCOMPARE(console.execute(QStringLiteral("drift 1 fade off")), QStringLiteral("ok\n"));
        QCOMPARE(console.execute(QStringLiteral("drift off")), QStringLiteral("ok\n"));
        QCOMPARE(
            console.execute(QStringLiteral("drift sideways 3")),
            QStringLiteral("error: a drift is KIND RATE (percent a minute), KIND off or off; kinds: fade, "
                           "finder, uneven, spot\n"));
        QCOMPARE(
            console.execute(QStringLiteral("drift fade 9000")),
            QStringLiteral("error: the drift rate of fade lies between -6000 and 6000 percent a minute\n"));
        QVERIFY(
            console.execute(QStringLiteral("help")).contains(QStringLiteral("drift [READER] KIND RATE|off")));
    }

    // Retention by age keeps exactly the reads younger than the limit; by size it removes the
    // oldest until the file is below its limit, and the newest stay.
    void retentionRemovesTheOldestFirst() {
        const QString file = path(QStringLiteral("retention.sqlite"));
        HistoryStore store;
        QString error;
        QVERIFY2(store.open(file, &error), qPrintable(error));
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        // One read an hour over ten days, oldest first.
        for (int i = 240; i >= 1; --i)
            store.append(gradedEntry(now - i * kHour, 241 - i, 80));
        QVERIFY(store.flush());
        store.setRetention({5 * 24 * kHour, 0});
        store.enforceRetention();
        QVERIFY(store.flush());
        HistoryQuery query;
        QVERIFY2(query.open(file, &error), qPrintable(error));
        QList<ReadEntry> left = query.reads(QStringLiteral("Line3"), 0, now + 1);
        QCOMPARE(left.size(), 119); // 1 h to 119 h old; 120 h is the limit itself
        QCOMPARE(left.first().number, qint64(122));
        QCOMPARE(left.last().number, qint64(240));
        QCOMPARE(store.stats().removedByRetention, qint64(121));
        // The graded values went with their reads.
        QCOMPARE(query.trend(QStringLiteral("Line3"), QStringLiteral("Symbol Contrast"), 0, now + 1, kHour)
                     ->drift.count,
                 qint64(119));

        // By size: many more reads, then a limit of half the file.
        for (int i = 0; i < 20000; ++i)
            store.append(gradedEntry(now - kHour + i, 1000 + i, 80));
        QVERIFY(store.flush());
        // The bytes the file's pages hold, free pages left out.
        const char* used = "SELECT (page_count - freelist_count) * page_size FROM pragma_page_count, "
                           "pragma_freelist_count, pragma_page_size";
        const qint64 usedBefore = qint64(rawNumber(file, used));
        store.setRetention({0, usedBefore / 2});
        store.enforceRetention();
        QVERIFY(store.flush());
        const qint64 usedAfter = qint64(rawNumber(file, used));
        QVERIFY2(usedAfter <= usedBefore / 2,
                 qPrintable(QStringLiteral("%1 of %2").arg(usedAfter).arg(usedBefore)));
        left = query.reads(QStringLiteral("Line3"), 0, now + 1);
        QVERIFY(left.size() > 5000 && left.size() < 20119);
        QCOMPARE(left.last().number, qint64(1000 + 19999)); // the newest stays
        const qint64 oldestLeft = left.first().number;
        // Nothing older than the oldest kept survived: the removed ones are exactly the oldest.
        QCOMPARE(qint64(left.size()), 1000 + 19999 - oldestLeft + 1);
    }

    // A file of a newer layout is refused with a sentence that says so, by the store and the
    // query; another program's database is refused too; both are left untouched.
    void newerLayoutIsRefused() {
        const QString file = path(QStringLiteral("newer.sqlite"));
        {
            HistoryStore store;
            QString error;
            QVERIFY2(store.open(file, &error), qPrintable(error));
            store.append(gradedEntry(QDateTime::currentMSecsSinceEpoch(), 1, 80));
            QVERIFY(store.flush());
        }
        QVERIFY(rawExec(file, "PRAGMA user_version = 7"));
        HistoryStore store;
        QString error;
        QVERIFY(!store.open(file, &error));
        QCOMPARE(error,
                 QStringLiteral("%1 was written by a newer Velmarrow (history layout 7; this version reads "
                                "up to 3). Open it with that version, or choose another history file.")
                     .arg(QDir::toNativeSeparators(file)));
        QVERIFY(!store.isOpen());
        HistoryQuery query;
        QString queryError;
        QVERIFY(!query.open(file, &queryError));
        QCOMPARE(queryError, error);
        QVERIFY(rawExec(file, "PRAGMA user_version = 3")); // untouched: still readable as before
        QVERIFY(query.open(file, &queryError));
        QCOMPARE(query.readCount(), qint64(1));

        const QString other = path(QStringLiteral("other.sqlite"));
        QVERIFY(rawExec(other, "CREATE TABLE invoices(id INTEGER)"));
        QVERIFY(!store.open(other, &error));
        QCOMPARE(error, QStringLiteral("%1 is a database of another program, not a Velmarrow history file")
                            .arg(QDir::toNativeSeparators(other)));
    }

    // An empty file (layout 0) is brought up to the current layout and marked as ours.
    void emptyFileIsMigrated() {
        const QString file = path(QStringLiteral("empty.sqlite"));
        QVERIFY(rawExec(file, "PRAGMA user_version = 0"));
        HistoryStore store;
        QString error;
        QVERIFY2(store.open(file, &error), qPrintable(error));
        store.close();
        QCOMPARE(rawNumber(file, "PRAGMA application_id"), double(0x564d4853));
        QCOMPARE(rawNumber(file, "PRAGMA user_version"), 3.0);
        QCOMPARE(rawText(file, "PRAGMA journal_mode"), QStringLiteral("wal"));
    }

    // A file of the first layout, as the first version wrote it, is brought up to date and
    // keeps its reads: the reads' index now holds the result.
    void firstLayoutIsMigrated() {
        const QString file = path(QStringLiteral("layout1.sqlite"));
        QVERIFY(rawExec(file, olderLayout(1).constData()));
        // A read of a minute ago: older ones would go with the retention at opening.
        const qint64 t = QDateTime::currentMSecsSinceEpoch() - 60000;
        QVERIFY(rawExec(
            file, QStringLiteral("INSERT INTO reads VALUES(1, 1, %1, 42, 2, 'No Read', '', 'Data Matrix', "
                                 "NULL, NULL)")
                      .arg(t)
                      .toUtf8()
                      .constData()));
        HistoryStore store;
        QString error;
        QVERIFY2(store.open(file, &error), qPrintable(error));
        store.close();
        HistoryQuery query;
        QVERIFY2(query.open(file, &error), qPrintable(error));
        const QList<ReadEntry> reads = query.reads(QStringLiteral("Line7"), t, t + 1);
        QCOMPARE(reads.size(), 1);
        QCOMPARE(reads.first().number, qint64(42));
        QCOMPARE(reads.first().failure, QStringLiteral("No Read"));
        QCOMPARE(query.counts(QStringLiteral("Line7"), t - 1000, t + 1000, 2000).value(0).noRead, qint64(1));
        QCOMPARE(integrity(file), QStringLiteral("ok"));
        QCOMPARE(rawText(file, "SELECT group_concat(name) FROM sqlite_schema WHERE type = 'index' AND "
                               "tbl_name = 'reads' AND name NOT LIKE 'sqlite_%'"),
                 QStringLiteral("reads_by_reader_time_result"));
    }

    // A file of the second layout (no minute summaries) gets them from the values it holds: a
    // trend over it gives what the values give, interval by interval, and the drift found by
    // summaries is the one found row by row.
    void secondLayoutIsMigrated() {
        const QString file = path(QStringLiteral("layout2.sqlite"));
        QVERIFY(rawExec(file, olderLayout(2).constData()));
        // Two hours of reads every 10 s, Symbol Contrast fading from 85 % to 60 %, ending a
        // minute ago (older ones would go with the retention at opening).
        const qint64 end = QDateTime::currentMSecsSinceEpoch() - 60000;
        const int n = 720;
        const qint64 start = end - qint64(n) * 10000;
        QStringList rows;
        QList<double> values;
        QSet<qint64> minutes; // the minutes the reads fall in: 120 or 121, as the start falls
        for (int i = 0; i < n; ++i) {
            const qint64 t = start + qint64(i) * 10000 + 3;
            minutes.insert(t / 60000);
            const double v = 85.0 - 25.0 * i / n + (i % 3 - 1) * 0.5;
            values << v;
            const int grade = v >= 70 ? 4 : 3;
            // Every 50th read failed: the pass and fail counts of each minute come from the reads.
            rows << QStringLiteral(
                        "INSERT INTO reads VALUES(%1, 1, %2, %1, %5, NULL, 'X', 'Data Matrix', %3, "
                        "NULL); INSERT INTO grades VALUES(1, 1, %2, %1, %4, %3, NULL);")
                        .arg(i + 1)
                        .arg(t)
                        .arg(grade)
                        .arg(v, 0, 'g', 17)
                        .arg((i + 1) % 50 == 0 ? 1 : 0);
        }
        QVERIFY(rawExec(file, rows.join(QString()).toUtf8().constData()));
        {
            HistoryStore store;
            QString error;
            QVERIFY2(store.open(file, &error), qPrintable(error));
        }
        QCOMPARE(rawNumber(file, "PRAGMA user_version"), 3.0);
        QCOMPARE(rawNumber(file, "SELECT total(nv) FROM minutes"), double(n));
        QCOMPARE(rawNumber(file, "SELECT count(*) FROM minutes"), double(minutes.size()));
        QCOMPARE(integrity(file), QStringLiteral("ok"));

        HistoryQuery query;
        QString error;
        QVERIFY2(query.open(file, &error), qPrintable(error));
        // Intervals of 7 minutes from a time within a minute: whole minutes from their summaries,
        // the cut ones row by row. Each interval's count, mean and extremes as the values give them.
        const qint64 from = start - 25000, to = end + 1, interval = 7 * 60000;
        const auto trend =
            query.trend(QStringLiteral("Line7"), QStringLiteral("Symbol Contrast"), from, to, interval);
        QVERIFY(trend);
        // The reads of the file in the interval that begins at `bucket`.
        const auto readsIn = [&](qint64 bucket) {
            QList<int> in;
            for (int i = 0; i < n; ++i)
                if (const qint64 t = start + qint64(i) * 10000 + 3; t >= bucket && t < bucket + interval)
                    in << i;
            return in;
        };
        qint64 total = 0;
        for (const ValueBucket& b : trend->buckets) {
            const QList<int> in = readsIn(b.startMs);
            const qint64 count = in.size();
            double sum = 0, lo = 1e9, hi = -1e9;
            for (int i : in) {
                sum += values[i];
                lo = std::min(lo, values[i]);
                hi = std::max(hi, values[i]);
            }
            QCOMPARE(b.count, count);
            QVERIFY2(std::abs(b.mean - sum / count) < 1e-9,
                     qPrintable(QString::number(b.mean - sum / count)));
            QCOMPARE(b.min, lo);
            QCOMPARE(b.max, hi);
            total += b.count;
        }
        QCOMPARE(total, qint64(n));
        // The pass and fail counts of each interval, from the minutes the migration counted.
        const QList<CountBucket> counts = query.counts(QStringLiteral("Line7"), from, to, interval);
        QCOMPARE(counts.size(), qsizetype((to - from + interval - 1) / interval));
        for (const CountBucket& b : counts) {
            const QList<int> in = readsIn(b.startMs);
            const qint64 fail = std::count_if(in.begin(), in.end(), [](int i) { return (i + 1) % 50 == 0; });
            QCOMPARE(b.fail, fail);
            QCOMPARE(b.pass, qint64(in.size()) - fail);
            QCOMPARE(b.noRead, qint64(0));
        }
        // Intervals under a minute are read row by row: the same line is fitted.
        const auto byRows =
            query.trend(QStringLiteral("Line7"), QStringLiteral("Symbol Contrast"), from, to, 30000);
        QVERIFY(byRows);
        QVERIFY(trend->drift.flagged);
        QCOMPARE(trend->drift.text, byRows->drift.text);
        QVERIFY(std::abs(trend->drift.slopePerHour - byRows->drift.slopePerHour) < 1e-6);
        QVERIFY(std::abs(trend->drift.slopePerHour - (-12.5)) < 0.2);
        QCOMPARE(trend->drift.count, qint64(n));
    }

    // Retention that cuts through a minute leaves that minute's summary holding only the reads
    // that are left: the summaries add up to the values kept.
    // A minute's summary keeps its earliest and latest value's times, whatever order the reads
    // came in, and a trend taken from the summaries spans from the first value to the last.
    void minuteSummariesKeepTheirEnds() {
        const QString file = path(QStringLiteral("ends.sqlite"));
        HistoryStore store;
        QString error;
        QVERIFY2(store.open(file, &error), qPrintable(error));
        const qint64 minute = QDateTime::currentMSecsSinceEpoch() / 60000 - 10;
        const qint64 start = minute * 60000;
        store.append(gradedEntry(start - 300000 + 5000, 1, 80)); // five minutes before
        for (const auto& [offset, number] : {std::pair{30000, 2}, std::pair{50000, 3}, std::pair{5000, 4}})
            store.append(gradedEntry(start + offset, number, 70));
        QVERIFY(store.flush());
        const QByteArray ends = "SELECT %1 FROM minutes WHERE minute = " + QByteArray::number(minute) +
                                " AND parameter = (SELECT id FROM parameters WHERE name = 'Symbol Contrast')";
        QCOMPARE(rawNumber(file, QString::fromLatin1(ends).arg("vfirst").toLatin1().constData()),
                 double(start + 5000));
        QCOMPARE(rawNumber(file, QString::fromLatin1(ends).arg("vlast").toLatin1().constData()),
                 double(start + 50000));
        HistoryQuery query;
        QVERIFY2(query.open(file, &error), qPrintable(error));
        const auto trend = query.trend(QStringLiteral("Line3"), QStringLiteral("Symbol Contrast"),
                                       start - 3600000, start + 600000, 600000);
        QVERIFY(trend);
        QCOMPARE(trend->drift.spanMs, qint64(345000));
    }

    void retentionKeepsTheMinutesRight() {
        const QString file = path(QStringLiteral("minutes.sqlite"));
        HistoryStore store;
        QString error;
        QVERIFY2(store.open(file, &error), qPrintable(error));
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        for (int i = 0; i < 120; ++i)
            store.append(gradedEntry(now - 600000 + i * 5000 + 1234, i + 1, 80 - i * 0.1));
        QVERIFY(store.flush());
        QCOMPARE(rawNumber(file, "SELECT total(nv) FROM minutes WHERE parameter = "
                                 "(SELECT id FROM parameters WHERE name = 'Symbol Contrast')"),
                 120.0);
        // Five and a half minutes kept: the cutoff falls 30 s into a minute of reads.
        store.setRetention(
            {330000 + (now % 60000 < 30000 ? 30000 : 0) - (now % 60000) % 30000, qint64(1) << 40});
        store.enforceRetention();
        QVERIFY(store.flush());
        const double kept = rawNumber(file, "SELECT count(*) FROM reads");
        QVERIFY2(kept > 50 && kept < 80, qPrintable(QString::number(kept)));
        for (const char* name : {"Symbol Contrast", "Axial Nonuniformity"}) {
            const QByteArray check =
                QByteArray("SELECT (SELECT total(nv) FROM minutes m JOIN parameters p ON "
                           "p.id = m.parameter WHERE p.name = '") +
                name +
                "') - (SELECT count(value) FROM grades g JOIN parameters p ON p.id = "
                "g.parameter WHERE p.name = '" +
                name + "')";
            QCOMPARE(rawNumber(file, check.constData()), 0.0);
        }
        QCOMPARE(
            rawNumber(file, "SELECT count(*) FROM minutes m WHERE vfirst < (SELECT min(time) FROM reads)"),
            0.0);
        QCOMPARE(rawNumber(file, "SELECT (SELECT total(pass + fail + noread) FROM read_minutes) - "
                                 "(SELECT count(*) FROM reads)"),
                 0.0);
    }

    // The reader drops every connection and comes back: recording goes on by itself, and the
    // reads before and after the drop are all in the file.
    void recordingSurvivesTheReaderDropping() {
        auto g = startGradingReader(QStringLiteral("Line4"));
        QVERIFY(g.reader);
        const QString file = path(QStringLiteral("drop.sqlite"));
        HistoryStore store;
        QString error;
        QVERIFY2(store.open(file, &error), qPrintable(error));
        Recorder recorder(store);
        recorder.followConnection(g.connection.get());
        QSignalSpy recorded(&recorder, &Recorder::recordedRead);
        const qint64 from = QDateTime::currentMSecsSinceEpoch();
        QTRY_VERIFY_WITH_TIMEOUT(recorded.size() >= 5, 5 * vm::testing::kReplyWaitMs);
        QSignalSpy resets(g.connection.get(), &vm::link::Connection::OnConnectionReset);
        g.reader->dropConnections();
        QTRY_VERIFY_WITH_TIMEOUT(resets.size() >= 1 && !g.connection->Connected(), vm::testing::kReplyWaitMs);
        const qsizetype beforeBack = recorded.size();
        QTRY_VERIFY_WITH_TIMEOUT(g.connection->Connected(), vm::testing::reconnectWaitMs(3));
        QTRY_VERIFY_WITH_TIMEOUT(recorded.size() >= beforeBack + 5, 5 * vm::testing::kReplyWaitMs);
        QVERIFY(store.flush());
        HistoryQuery query;
        QVERIFY2(query.open(file, &error), qPrintable(error));
        const QList<ReadEntry> reads =
            query.reads(g.reader->address().toString(), from, QDateTime::currentMSecsSinceEpoch() + 1);
        QCOMPARE(reads.size(), recorded.size());
        QCOMPARE(reads.last().number, recorded.last().at(1).toLongLong());
        QVERIFY(reads.last().overallGrade >= 0);
    }

    // A program killed while it records loses at most its last second of reads, and the file
    // opens whole.
    void killedWhileRecordingLosesAtMostTheLastSecond() {
        const QString file = path(QStringLiteral("killed.sqlite"));
        QProcess writer;
        writer.start(writerProgram(), {QStringLiteral("stream"), file});
        QVERIFY(writer.waitForStarted());
        // Wait until it has appended for a while (400 reads at 5 ms: two seconds).
        qint64 appended = 0;
        while (appended < 400) {
            QVERIFY(writer.waitForReadyRead(vm::testing::kReplyWaitMs));
            while (writer.canReadLine()) {
                const QString line = QString::fromUtf8(writer.readLine()).trimmed();
                if (line.startsWith(QStringLiteral("APPENDED ")))
                    appended = line.mid(9).toLongLong();
            }
        }
        const qint64 killedAt = QDateTime::currentMSecsSinceEpoch();
        ::kill(pid_t(writer.processId()), SIGKILL);
        QVERIFY(writer.waitForFinished());
        QCOMPARE(writer.exitStatus(), QProcess::CrashExit);

        QCOMPARE(integrity(file), QStringLiteral("ok"));
        HistoryQuery query;
        QString error;
        QVERIFY2(query.open(file, &error), qPrintable(error));
        const QList<ReadEntry> reads = query.reads(QStringLiteral("Line1"), 0, killedAt + 1000);
        QVERIFY(reads.size() >= 200);
        // None missing up to the last kept, and the last kept is less than a second old.
        QCOMPARE(reads.first().number, qint64(1));
        QCOMPARE(reads.last().number, qint64(reads.size()));
        QVERIFY2(
            killedAt - reads.last().timeMs <= 1000,
            qPrintable(
                QStringLiteral("last kept read %1 ms before the kill").arg(killedAt - reads.last().timeMs)));
        // The store opens it again for writing and goes on.
        HistoryStore store;
        QVERIFY2(store.open(file, &error), qPrintable(error));
    }

    // On a disk that fills up, recording pauses with a sentence naming the file, the file stays
    // readable, and once space is freed recording resumes.
    void fullDiskPausesRecording() {
        if (QStandardPaths::findExecutable(QStringLiteral("unshare")).isEmpty())
            QSKIP("needs unshare(1) to give the writer a small disk of its own");
        const QString mount = path(QStringLiteral("small-disk"));
        QVERIFY(QDir().mkpath(mount));
        const QString file = mount + QStringLiteral("/history.sqlite");
        const QString ballast = mount + QStringLiteral("/ballast");
        // A 2 MiB disk in a mount namespace of the writer's own; a 1 MiB file takes room first.
        const QString script =
            QStringLiteral("mount -t tmpfs -o size=2m tmpfs '%1' && head -c 1048576 /dev/zero > '%2' && "
                           "exec '%3' fill '%4' '%2'")
                .arg(mount, ballast, writerProgram(), file);
        QProcess writer;
        writer.start(QStringLiteral("unshare"),
                     {QStringLiteral("-rm"), QStringLiteral("sh"), QStringLiteral("-c"), script});
        QVERIFY(writer.waitForStarted());
        if (!writer.waitForFinished(120000))
            writer.kill();
        const QString out = QString::fromUtf8(writer.readAllStandardOutput());
        const QString err = QString::fromUtf8(writer.readAllStandardError());
        if (err.contains(QStringLiteral("Operation not permitted")))
            QSKIP("this machine allows no mount namespace for the test's small disk");
        QCOMPARE(writer.exitCode(), 0);
        QVERIFY2(out.contains(
                     QStringLiteral("PAUSED The disk that holds the history file %1 is full: recording is "
                                    "paused until space is freed (reads meanwhile are not kept).")
                         .arg(file)),
                 qPrintable(out + err));
        QVERIFY2(QRegularExpression(QStringLiteral("READABLE [1-9]")).match(out).hasMatch(), qPrintable(out));
        const qsizetype paused = out.indexOf(QStringLiteral("PAUSED")),
                        resumed = out.indexOf(QStringLiteral("RESUMED"));
        QVERIFY2(paused >= 0 && resumed > paused, qPrintable(out));
    }

    // Two programs record into one file at once: every read of both is there and the file is whole.
    void twoProgramsShareOneFile() {
        const QString file = path(QStringLiteral("shared.sqlite"));
        QProcess a, b;
        a.start(writerProgram(),
                {QStringLiteral("steady"), file, QStringLiteral("LineA"), QStringLiteral("20000")});
        b.start(writerProgram(),
                {QStringLiteral("steady"), file, QStringLiteral("LineB"), QStringLiteral("20000")});
        QVERIFY(a.waitForFinished(120000));
        QVERIFY(b.waitForFinished(120000));
        QCOMPARE(a.exitCode(), 0);
        QCOMPARE(b.exitCode(), 0);
        QCOMPARE(integrity(file), QStringLiteral("ok"));
        HistoryQuery query;
        QString error;
        QVERIFY2(query.open(file, &error), qPrintable(error));
        QCOMPARE(query.readCount(), qint64(40000));
        const qint64 now = QDateTime::currentMSecsSinceEpoch() + 1;
        QCOMPARE(
            query.trend(QStringLiteral("LineA"), QStringLiteral("Modulation"), 0, now, kHour)->drift.count,
            qint64(20000));
        QCOMPARE(
            query.trend(QStringLiteral("LineB"), QStringLiteral("Modulation"), 0, now, kHour)->drift.count,
            qint64(20000));
    }

    // Counts per interval and the worst reads, on reads placed by hand; CSV lines that a
    // spreadsheet reads back.
    // A parameter without grade limits of its own is followed by its grades: each interval's
    // lowest, highest and worst grade are those of its reads, whether the interval is taken
    // from the minutes' summaries (10 minutes) or read by read (30 s).
    void gradesTrendedWhereNoLimitsAre() {
        const QString file = path(QStringLiteral("grades.sqlite"));
        HistoryStore store;
        QString error;
        QVERIFY2(store.open(file, &error), qPrintable(error));
        const qint64 t0 = 1'800'000'000'000; // on a whole minute
        const int n = 240;
        QList<int> grades;
        for (int i = 0; i < n; ++i) {
            ReadEntry e = gradedEntry(t0 + i * 10000 + 7, i + 1, 80);
            const int grade = (i * 7) % 11 == 0 ? 1 : (i % 3 == 0 ? 3 : 4); // A, B, now and then D
            grades << grade;
            e.grades.append({QStringLiteral("Cell Size"), 6.5, QStringLiteral("6.50 px"), grade});
            store.append(e);
        }
        QVERIFY(store.flush());
        HistoryQuery query;
        QVERIFY2(query.open(file, &error), qPrintable(error));
        for (const qint64 interval : {qint64(600000), qint64(30000)}) {
            const auto trend = query.trend(QStringLiteral("Line3"), QStringLiteral("Cell Size"), t0,
                                           t0 + n * 10000, interval);
            QVERIFY(trend);
            QVERIFY(trend->onGrades);
            qint64 total = 0;
            for (const ValueBucket& b : trend->buckets) {
                int lo = 5, hi = -1;
                for (int i = 0; i < n; ++i)
                    if (const qint64 t = t0 + i * 10000 + 7; t >= b.startMs && t < b.startMs + interval) {
                        lo = std::min(lo, grades[i]);
                        hi = std::max(hi, grades[i]);
                    }
                QCOMPARE(b.worstGrade, lo);
                QCOMPARE(b.min, double(lo));
                QCOMPARE(b.max, double(hi));
                total += b.count;
            }
            QCOMPARE(total, qint64(n));
        }
    }

    void countsWorstReadsAndCsv() {
        const QString file = path(QStringLiteral("counts.sqlite"));
        HistoryStore store;
        QString error;
        QVERIFY2(store.open(file, &error), qPrintable(error));
        const qint64 t0 = 1'800'000'000'000;
        // First minute: ten passes, the first three of texts a spreadsheet would take for formulas.
        const QStringList formulas = {"+SUM(A1:A9)", "-SUM(A1:A9)", "@SUM(A1:A9)", "-1+SUM(A1:A9)", "-12.5"};
        for (int i = 0; i < 10; ++i) {
            ReadEntry e = gradedEntry(t0 + i * 1000, i + 1, 80);
            e.text = formulas.value(i, e.text);
            store.append(e);
        }
        ReadEntry noRead = gradedEntry(t0 + 61000, 11, 0);
        noRead.result = ReadResult::NoRead;
        noRead.failure = QStringLiteral("No Read");
        noRead.overallGrade = -1;
        noRead.grades.clear();
        noRead.text.clear();
        store.append(noRead);
        ReadEntry poor = gradedEntry(t0 + 62000, 12, 30); // D
        poor.text = QStringLiteral("=HYPERLINK(\"x\"), \"quoted\"");
        store.append(poor);
        ReadEntry failed = gradedEntry(t0 + 63000, 13, 80);
        failed.result = ReadResult::Fail;
        failed.failure = QStringLiteral("Match Fail");
        failed.text = QStringLiteral("LOT 7, BOX 2");
        store.append(failed);
        QVERIFY(store.flush());

        HistoryQuery query;
        QVERIFY2(query.open(file, &error), qPrintable(error));
        const QList<CountBucket> counts = query.counts(QStringLiteral("Line3"), t0, t0 + 120000, 60000);
        QCOMPARE(counts.size(), 2);
        QCOMPARE(counts[0].pass, qint64(10));
        QCOMPARE(counts[0].readRate(), 100.0);
        QCOMPARE(counts[1].pass, qint64(1));
        QCOMPARE(counts[1].fail, qint64(1));
        QCOMPARE(counts[1].noRead, qint64(1));
        QCOMPARE(counts[1].startMs, t0 + 60000);

        const QList<WorstRead> worst = query.worstReads(QStringLiteral("Line3"), t0, t0 + 120000, 3);
        QCOMPARE(worst.size(), 3);
        QCOMPARE(worst[0].number, qint64(11)); // a no read has no grade: worst of all
        QCOMPARE(worst[1].number, qint64(13)); // a failure
        QCOMPARE(worst[2].number, qint64(12)); // then the lowest grade
        QCOMPARE(worst[2].overallGrade, 1);

        QBuffer csv;
        csv.open(QIODevice::WriteOnly);
        QVERIFY2(query.exportCsv(QStringLiteral("Line3"), t0, t0 + 120000, csv, &error), qPrintable(error));
        const QStringList lines =
            QString::fromUtf8(csv.data()).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 14);
        QCOMPARE(lines[0],
                 QStringLiteral("time,reader,mac,number,result,failure,symbology,text,overall grade,image,"
                                "Symbol Contrast value,Symbol Contrast grade,Axial Nonuniformity value,"
                                "Axial Nonuniformity grade"));
        const QString time12 =
            QDateTime::fromMSecsSinceEpoch(t0 + 62000)
                .toOffsetFromUtc(QDateTime::fromMSecsSinceEpoch(t0 + 62000).offsetFromUtc())
                .toString(Qt::ISODateWithMs);
        QCOMPARE(lines[12],
                 time12 + QStringLiteral(",Line3,00:0a:0b:0c:0d:0e,12,pass,,Data Matrix,"
                                         "\"'=HYPERLINK(\"\"x\"\"), \"\"quoted\"\"\",D,,30 %,D,0.020,A"));
        QVERIFY(lines[11].contains(QStringLiteral(",11,no read,No Read,Data Matrix,,,,,,,")));
        // A text holding a comma is one field, in quotes.
        QVERIFY2(
            lines[13].contains(QStringLiteral(",fail,Match Fail,Data Matrix,\"LOT 7, BOX 2\",A,,80 %,A,")),
            qPrintable(lines[13]));
        // Those get a leading quote, so that a spreadsheet shows them as the texts they were (a
        // formula that starts with a digit too); a plain number and the others stay as they are.
        for (int i = 0; i < 6; ++i)
            QVERIFY2(lines[1 + i].contains(QStringLiteral(",Data Matrix,%1,A,")
                                               .arg(i < 4 ? QLatin1Char('\'') + formulas[i]
                                                          : formulas.value(i, QStringLiteral("PART-6")))),
                     qPrintable(lines[1 + i]));
    }
};

QTEST_GUILESS_MAIN(TestHistory)
#include "tst_history.moc"
