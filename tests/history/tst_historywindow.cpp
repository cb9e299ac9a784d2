// History and Trends over a history file of known reads: the drift sentence, the worst reads in
// their order, the counts of each range, the CSV and the one-page PDF, opening a read's image;
// and the program's recording of the focused reader as its preferences say.
#include "app/imagefiles.h"
#include "app/readhistory.h"
#include "app/settingsstore.h"
#include "common/prompts.h"
#include "common/windowbench.h"
#include "history/historyquery.h"
#include "history/historystore.h"
#include "link/device.h"
#include "shell/frmoptions.h"
#include "sim/reader.h"
#include "tools/historywindow.h"

#include <QAreaSeries>
#include <QCategoryAxis>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeAxis>
#include <QFile>
#include <QHash>
#include <QLabel>
#include <QLineSeries>
#include <QMap>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTableWidget>
#include <QTest>
#include <QValueAxis>

using namespace vm::history;
using vm::app::PromptAnswer;
using vm::app::PromptButtons;
using vm::app::PromptIcon;
using vm::tools::HistoryWindow;

namespace {

// The window's present time: every read below is placed before it.
constexpr qint64 kNow = 1800000000000; // 2027-01-15
constexpr qint64 kTwoHours = 2 * 3600 * 1000;
constexpr int kReads = 240; // one every 30 s over the last two hours

// Symbol Contrast falls from 85 % to 60 % over the two hours, with a read-to-read scatter;
// Axial Nonuniformity stays at 0.03. Reads 50 and 200 read nothing, 100 and 230 fail their match.
ReadEntry knownRead(int i, const QString& imageFolder) {
    ReadEntry e;
    e.reader = QStringLiteral("Line3");
    e.mac = QStringLiteral("00:0a:0b:0c:0d:0e");
    e.timeMs = kNow - kTwoHours + qint64(i) * 30000 + 15000;
    e.number = 1000 + i;
    e.symbology = QStringLiteral("Data Matrix");
    if (i == 50 || i == 200) {
        e.result = ReadResult::NoRead;
        e.failure = QStringLiteral("No Read");
        return e;
    }
    e.result = (i == 100 || i == 230) ? ReadResult::Fail : ReadResult::Pass;
    if (e.result == ReadResult::Fail)
        e.failure = QStringLiteral("Match Fail");
    e.text = QStringLiteral("PART-%1").arg(e.number);
    const double contrast = 85.0 - 25.0 * i / (kReads - 1) + (i % 2 ? 0.4 : -0.4);
    const int grade = contrast >= 70 ? 4 : contrast >= 55 ? 3 : 2;
    e.overallGrade = grade;
    e.grades = {{QStringLiteral("Symbol Contrast"), contrast,
                 QString::number(contrast, 'f', 1) + QStringLiteral(" %"), grade},
                {QStringLiteral("Axial Nonuniformity"), 0.03, QStringLiteral("0.030"), 4}};
    if (i == 230)
        e.imageFile = imageFolder + QStringLiteral("/fail1230.bmp");
    if (i == 100)
        e.imageFile = QStringLiteral("gone1100.bmp"); // a bare name, in the image folder, deleted since
    return e;
}

int countsTotal(const QList<CountBucket>& counts, ReadResult result) {
    qint64 n = 0;
    for (const CountBucket& b : counts)
        n += result == ReadResult::Pass ? b.pass : result == ReadResult::Fail ? b.fail : b.noRead;
    return int(n);
}

} // namespace

class TestHistoryWindow : public QObject, protected vm::testing::WindowBench {
    Q_OBJECT

    QString m_file;
    int m_case = 0;

    std::unique_ptr<HistoryWindow> openOnKnownReads(const QString& range = QStringLiteral("Last 2 hours")) {
        vm::app::setHistoryFile(m_file);
        auto w = openWindow<HistoryWindow>();
        w->setClock([] { return kNow; });
        w->refresh();
        vm::testing::choose(vm::testing::child<QComboBox>(w.get(), QStringLiteral("cmbRange")), range);
        return w;
    }

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void init() {
        setUpBench();
        // A file of its own for each case: the bench's folder lives as long as the test program.
        m_file = m_dir.filePath(QStringLiteral("case%1/history.sqlite").arg(++m_case));
        vm::app::setImageSaveDirectory(m_dir.path());
        QFile image(m_dir.filePath(QStringLiteral("fail1230.bmp")));
        QVERIFY(image.open(QIODevice::WriteOnly));
        image.write("BM");
        image.close();
        HistoryStore store;
        QString error;
        QVERIFY2(store.open(m_file, &error), qPrintable(error));
        for (int i = 0; i < kReads; ++i)
            store.append(knownRead(i, m_dir.path()));
        QVERIFY(store.flush());
    }

    void cleanup() {
        vm::app::setHistoryFile(QString());
        // The bench's settings file outlives a case: the history preferences go back to their
        // defaults as a fresh file reads them.
        for (const vm::app::SettingKey& key : {vm::app::keys::RecordHistory, vm::app::keys::HistoryKeepDays,
                                               vm::app::keys::HistoryKeepMegabytes})
            vm::app::settings().setText(key, QString::fromLatin1(key.defaultText));
        tearDownBench();
    }

    void driftIsToldOnSymbolContrast() {
        {
            // The spans offered, shortest first; a window opens on the last hour.
            auto fresh = openWindow<HistoryWindow>();
            auto* range = vm::testing::child<QComboBox>(fresh.get(), QStringLiteral("cmbRange"));
            QCOMPARE(vm::testing::entries(range),
                     QStringList({"Last 15 minutes", "Last hour", "Last 2 hours", "Last 8 hours",
                                  "Last 24 hours", "Last 7 days", "Last 30 days"}));
            QCOMPARE(range->currentText(), QStringLiteral("Last hour"));
        }
        auto w = openOnKnownReads();
        auto* reader = vm::testing::child<QComboBox>(w.get(), QStringLiteral("cmbReader"));
        QCOMPARE(vm::testing::entries(reader), QStringList{QStringLiteral("Line3")});
        auto* drift = vm::testing::child<QLabel>(w.get(), QStringLiteral("lblDrift"));
        // 85 % to 60 % over two hours is about 12.5 % an hour: C begins at 55 %, about 24 min on.
        QCOMPARE(drift->text(),
                 QStringLiteral("Symbol Contrast fell from A to B over the last 2 h; at this rate it "
                                "reaches C in about 24 min"));
        // A warning: written in dark red (the colour the label draws its text in).
        const QColor warning = drift->palette().color(drift->foregroundRole());
        QVERIFY2(warning.red() >= 120 && warning.red() > 2 * warning.green() &&
                     warning.red() > 2 * warning.blue(),
                 qPrintable(warning.name()));
        // The window opens on the drifting parameter, drawn over its five bands.
        auto* parameter = vm::testing::child<QComboBox>(w.get(), QStringLiteral("cmbParameter"));
        QCOMPARE(parameter->currentText(), QStringLiteral("Symbol Contrast"));
        QVERIFY(vm::testing::entries(parameter).contains(QStringLiteral("Axial Nonuniformity")));
        auto* view = vm::testing::child<QChartView>(w.get(), QStringLiteral("TrendChart"));
        // Each band in its grade's colour, A green through F red, between its limits, and its
        // letter on the right axis beside it: A on top where higher is better, below where lower is.
        const auto checkBands = [view](const QStringList& bottomUp, std::pair<double, double> b,
                                       const char* at) {
            QStringList bands;
            QHash<QString, std::pair<double, double>> spans;
            QList<int> hues;
            for (QAbstractSeries* s : view->chart()->series())
                if (auto* area = qobject_cast<QAreaSeries*>(s)) {
                    bands << area->name();
                    spans[area->name()] = {area->lowerSeries()->at(0).y(), area->upperSeries()->at(0).y()};
                    hues << area->color().hue();
                }
            QVERIFY2(bands == (QStringList{"A", "B", "C", "D", "F"}), at);
            QVERIFY2(qAbs(spans["B"].first - b.first) < 1e-9 && qAbs(spans["B"].second - b.second) < 1e-9,
                     at);
            QVERIFY2(hues[0] >= 90 && hues[0] <= 150 && (hues[4] <= 15 || hues[4] >= 345), at);
            for (int i = 1; i < 4; ++i)
                QVERIFY2(hues[i] < hues[i - 1] && hues[i] > hues[i + 1], at);
            QCategoryAxis* letters = nullptr;
            for (QAbstractAxis* axis : view->chart()->axes(Qt::Vertical))
                if (axis->alignment() == Qt::AlignRight)
                    letters = qobject_cast<QCategoryAxis*>(axis);
            QVERIFY2(letters && letters->categoriesLabels() == bottomUp, at);
            for (const QString& letter : bottomUp)
                QVERIFY2(qAbs(letters->startValue(letter) - spans[letter].first) < 1e-9 &&
                             qAbs(letters->endValue(letter) - spans[letter].second) < 1e-9,
                         qPrintable(QStringLiteral("%1: %2").arg(QLatin1String(at), letter)));
        };
        checkBands({"F", "D", "C", "B", "A"}, {55.0, 70.0}, "Symbol Contrast");
        QVERIFY(w->trend());
        QCOMPARE(w->trend()->parameter, QStringLiteral("Symbol Contrast"));
        // The mean, lowest and highest lines: one point per interval of the trend.
        QHash<QString, QList<double>> lines;
        for (QAbstractSeries* s : view->chart()->series())
            if (auto* line = qobject_cast<QLineSeries*>(s))
                for (const QPointF& p : line->points())
                    lines[line->name()] << p.y();
        QList<double> means, lows, highs;
        for (const auto& b : w->trend()->buckets) {
            means << b.mean;
            lows << b.min;
            highs << b.max;
        }
        QVERIFY(!means.isEmpty());
        QCOMPARE(lines.value("Mean"), means);
        QCOMPARE(lines.value("Lowest"), lows);
        QCOMPARE(lines.value("Highest"), highs);
        // A steady parameter is shown without a warning.
        vm::testing::choose(parameter, QStringLiteral("Axial Nonuniformity"));
        QVERIFY(!drift->text().contains(QStringLiteral("Axial")));
        QCOMPARE(w->trend()->parameter, QStringLiteral("Axial Nonuniformity"));
        QVERIFY(!w->trend()->drift.flagged);
        checkBands({"A", "B", "C", "D", "F"}, {0.06, 0.08}, "Axial Nonuniformity");

        // A reader drifting on two parameters: one sentence each, a line apart, in the order of
        // the Parameter list.
        HistoryStore store;
        QString error;
        QVERIFY2(store.open(m_file, &error), qPrintable(error));
        for (int i = 0; i < kReads; ++i) {
            ReadEntry e = knownRead(i, m_dir.path());
            e.reader = QStringLiteral("Line6");
            e.mac.clear();
            if (e.grades.size() > 1) // from 0.03 (A) to 0.09 (C)
                e.grades[1].value = 0.03 + 0.06 * i / (kReads - 1) + (i % 2 ? 0.001 : -0.001);
            store.append(e);
        }
        QVERIFY(store.flush());
        w->refresh();
        vm::testing::choose(reader, QStringLiteral("Line6"));
        const QStringList sentences = drift->text().split(QLatin1Char('\n'));
        const QStringList order = vm::testing::entries(parameter);
        QCOMPARE(order.size(), 2);
        QCOMPARE(sentences.size(), 2);
        for (int i = 0; i < 2; ++i)
            QVERIFY2(sentences[i].startsWith(order[i] + QLatin1Char(' ')), qPrintable(drift->text()));
        QVERIFY(
            sentences.contains(QStringLiteral("Symbol Contrast fell from A to B over the last 2 h; at this "
                                              "rate it reaches C in about 24 min")));
    }

    void steadyLineIsNotFlagged() {
        // A reader whose print holds: the window says that nothing drifts.
        HistoryStore store;
        QString error;
        QVERIFY(store.open(m_file, &error));
        for (int i = 0; i < kReads; ++i) {
            ReadEntry e = knownRead(i, m_dir.path());
            e.reader = QStringLiteral("Line4");
            e.mac.clear();
            if (!e.grades.isEmpty()) {
                e.grades[0].value = 80 + (i % 2 ? 0.4 : -0.4);
                // Cell Size is graded on more than its value: the history follows its grade.
                e.grades.append({QStringLiteral("Cell Size"), 6.5, QStringLiteral("6.50 px"), i % 5});
            }
            store.append(e);
        }
        QVERIFY(store.flush());
        auto w = openOnKnownReads();
        vm::testing::choose(vm::testing::child<QComboBox>(w.get(), QStringLiteral("cmbReader")),
                            QStringLiteral("Line4"));
        QCOMPARE(vm::testing::child<QLabel>(w.get(), QStringLiteral("lblDrift"))->text(),
                 QStringLiteral("No graded parameter of Line4 is drifting toward a lower grade."));
        auto* drift = vm::testing::child<QLabel>(w.get(), QStringLiteral("lblDrift"));
        QCOMPARE(drift->palette().color(drift->foregroundRole()), w->palette().color(QPalette::WindowText));

        // A grade drawn as a number: five bands one grade tall, each grade in the middle of its
        // own, so that the reads graded F are drawn inside the F band and not on its edge.
        auto* view = vm::testing::child<QChartView>(w.get(), QStringLiteral("TrendChart"));
        vm::testing::choose(vm::testing::child<QComboBox>(w.get(), QStringLiteral("cmbParameter")),
                            QStringLiteral("Cell Size"));
        QVERIFY(w->trend() && w->trend()->onGrades);
        QStringList bands;
        for (QAbstractSeries* s : view->chart()->series())
            if (auto* area = qobject_cast<QAreaSeries*>(s)) {
                bands << area->name();
                const double grade = QStringLiteral("FDCBA").indexOf(area->name());
                const double low = area->lowerSeries()->at(0).y(), high = area->upperSeries()->at(0).y();
                QVERIFY2(qAbs(high - low - 1) < 1e-9 && qAbs((low + high) / 2 - grade) < 1e-9,
                         qPrintable(QStringLiteral("%1 from %2 to %3").arg(area->name()).arg(low).arg(high)));
            }
        QCOMPARE(bands, (QStringList{"A", "B", "C", "D", "F"}));
    }

    void readsAxisHoldsEveryLine() {
        // A reader that read nothing 30 times in one interval and failed 12 times in another, with
        // a pass or two elsewhere: each line's highest point stays on the reads axis.
        HistoryStore store;
        QString error;
        QVERIFY(store.open(m_file, &error));
        for (int i = 0; i < 48; ++i) {
            ReadEntry e = knownRead(i * 5 + 1, m_dir.path());
            e.reader = QStringLiteral("Line5");
            e.mac.clear();
            if (i < 30) {
                e.timeMs = kNow - 30 * 60000 + i * 1000; // one 2-minute interval
                e.result = ReadResult::NoRead;
                e.failure = QStringLiteral("No Read");
                e.grades.clear();
            } else if (i < 42) {
                e.timeMs = kNow - 60 * 60000 + i * 1000;
                e.result = ReadResult::Fail;
                e.failure = QStringLiteral("Match Fail");
            } else {
                e.result = ReadResult::Pass;
                e.failure.clear();
            }
            store.append(e);
        }
        QVERIFY(store.flush());
        auto w = openOnKnownReads();
        vm::testing::choose(vm::testing::child<QComboBox>(w.get(), QStringLiteral("cmbReader")),
                            QStringLiteral("Line5"));
        QMap<QString, double> highest;
        QValueAxis* reads = nullptr;
        for (QAbstractSeries* s :
             vm::testing::child<QChartView>(w.get(), QStringLiteral("CountsChart"))->chart()->series()) {
            auto* line = qobject_cast<QLineSeries*>(s);
            if (!line || line->name() == QStringLiteral("Read rate (%)"))
                continue;
            for (const QPointF& p : line->points())
                highest[line->name()] = std::max(highest.value(line->name()), p.y());
            for (QAbstractAxis* a : line->attachedAxes())
                if (a->orientation() == Qt::Vertical)
                    reads = qobject_cast<QValueAxis*>(a);
        }
        QCOMPARE(highest.value(QStringLiteral("No read")), 30.0);
        QCOMPARE(highest.value(QStringLiteral("Fail")), 12.0);
        QCOMPARE(highest.value(QStringLiteral("Pass")), 1.0);
        QVERIFY(reads);
        QCOMPARE(reads->min(), 0.0);
        for (auto it = highest.cbegin(); it != highest.cend(); ++it)
            QVERIFY2(it.value() <= reads->max(),
                     qPrintable(QStringLiteral("%1 peaks at %2 over an axis to %3")
                                    .arg(it.key())
                                    .arg(it.value())
                                    .arg(reads->max())));
    }

    void worstReadsInOrder() {
        auto w = openOnKnownReads();
        auto* table = vm::testing::child<QTableWidget>(w.get(), QStringLiteral("tblWorst"));
        QCOMPARE(table->rowCount(), HistoryWindow::kWorstReads);
        QStringList numbers;
        for (int row = 0; row < table->rowCount(); ++row)
            numbers << table->item(row, 1)->text();
        // No reads newest first, then the failures by grade (B before A), then the B reads newest
        // first (the fail of 1230 already listed).
        QStringList expected = {"1200", "1050", "1230", "1100"};
        for (int n = 1239; expected.size() < HistoryWindow::kWorstReads; --n)
            if (n != 1230)
                expected << QString::number(n);
        QCOMPARE(numbers, expected);
        QCOMPARE(table->item(0, 2)->text(), QStringLiteral("No read"));
        QCOMPARE(table->item(2, 2)->text(), QStringLiteral("Fail (Match Fail)"));
        QCOMPARE(table->item(2, 3)->text(), QStringLiteral("B"));
        QCOMPARE(table->item(3, 3)->text(), QStringLiteral("A"));
        QCOMPARE(table->item(2, 4)->text(), QStringLiteral("PART-1230"));
        QCOMPARE(table->item(2, 5)->text(), QStringLiteral("fail1230.bmp"));
        QCOMPARE(table->item(0, 0)->text(),
                 QLocale::c().toString(QDateTime::fromMSecsSinceEpoch(kNow - kTwoHours + 200 * 30000 + 15000),
                                       QStringLiteral("yyyy-MM-dd hh:mm:ss")));
        // A read graded F shows its letter, as the other grades do.
        HistoryStore store;
        QString error;
        QVERIFY2(store.open(m_file, &error), qPrintable(error));
        ReadEntry graded = knownRead(230, m_dir.path());
        graded.reader = QStringLiteral("Line5");
        graded.overallGrade = 0;
        store.append(graded);
        QVERIFY(store.flush());
        w->refresh();
        vm::testing::choose(vm::testing::child<QComboBox>(w.get(), QStringLiteral("cmbReader")),
                            QStringLiteral("Line5"));
        QCOMPARE(table->rowCount(), 1);
        QCOMPARE(table->item(0, 3)->text(), QStringLiteral("F"));
    }

    void worstReadOpensItsImage() {
        auto w = openOnKnownReads();
        QStringList opened;
        w->setImageOpener([&](const QString& path) {
            opened << path;
            return true;
        });
        auto* table = vm::testing::child<QTableWidget>(w.get(), QStringLiteral("tblWorst"));
        auto* open = vm::testing::child<QPushButton>(w.get(), QStringLiteral("cmdOpenImage"));
        // A no read kept no image: nothing to open.
        vm::testing::clickCell(table, 0, 1);
        QVERIFY(!open->isEnabled());
        vm::testing::clickCell(table, 2, 1);
        QVERIFY(open->isEnabled());
        QTest::mouseClick(open, Qt::LeftButton);
        QCOMPARE(opened, QStringList{m_dir.filePath(QStringLiteral("fail1230.bmp"))});
        // From the keyboard: Enter on the row.
        table->setFocus();
        QTest::keyClick(table, Qt::Key_Return);
        QCOMPARE(opened.size(), 2);

        // An image deleted since is told, naming the read and the file; nothing is opened.
        vm::testing::clickCell(table, 3, 1);
        QVERIFY(open->isEnabled());
        vm::testing::ExpectPrompts boxes;
        boxes->expectMessage(QStringLiteral("Velmarrow"),
                             QStringLiteral("The image of record 1100 is no longer there: ") +
                                 QDir::toNativeSeparators(m_dir.filePath(QStringLiteral("gone1100.bmp"))),
                             PromptIcon::Exclamation, PromptButtons::Ok, PromptAnswer::Ok);
        QTest::mouseClick(open, Qt::LeftButton);
        QCOMPARE(opened.size(), 2);
    }

    // Each range's reads by outcome, in the counts behind the chart and in the summary line; the
    // range sets where the counts begin, their sixty intervals and the worst read.
    // The longest spans reach back as far as they say, in 60 intervals, and hold every read.
    void longSpansReachBack() {
        for (const auto& [span, days] : {std::pair{"Last 7 days", 7}, std::pair{"Last 30 days", 30}}) {
            auto w = openOnKnownReads(span);
            QCOMPARE(w->fromMs(), kNow - qint64(days) * 86400000);
            QCOMPARE(w->intervalMs(), qint64(days) * 86400000 / 60);
            QCOMPARE(countsTotal(w->counts(), ReadResult::Pass), 236);
        }
    }

    void rangeChangesTheCounts_data() {
        QTest::addColumn<QString>("range");
        QTest::addColumn<int>("minutes");
        QTest::addColumn<int>("passed");
        QTest::addColumn<int>("failed");
        QTest::addColumn<int>("notRead");
        QTest::addColumn<QString>("summary");
        QTest::addColumn<QString>("worst");
        QTest::newRow("two hours") << "Last 2 hours" << 120 << 236 << 2 << 2
                                   << "240 reads: 236 passed, 2 failed, 2 not read; read rate 98.3 %"
                                   << "1200";
        // Reads 120 to 239: the no read of 200 and the fail of 230 among them.
        QTest::newRow("hour") << "Last hour" << 60 << 118 << 1 << 1
                              << "120 reads: 118 passed, 1 failed, 1 not read; read rate 98.3 %"
                              << "1200";
        // Reads 210 to 239.
        // All 240 reads in the longer spans too.
        for (const auto& [span, minutes] : {std::pair{"Last 8 hours", 480}, std::pair{"Last 24 hours", 1440}})
            QTest::newRow(span) << span << minutes << 236 << 2 << 2
                                << "240 reads: 236 passed, 2 failed, 2 not read; read rate 98.3 %"
                                << "1200";
        QTest::newRow("quarter hour") << "Last 15 minutes" << 15 << 29 << 1 << 0
                                      << "30 reads: 29 passed, 1 failed, 0 not read; read rate 96.7 %"
                                      << "1230";
    }
    void rangeChangesTheCounts() {
        QFETCH(QString, range);
        QFETCH(int, minutes);
        auto w = openOnKnownReads(range);
        QCOMPARE(w->fromMs(), kNow - minutes * 60000);
        QCOMPARE(w->intervalMs(), qint64(minutes) * 1000);
        QCOMPARE(w->counts().size(), 60);
        QTEST(countsTotal(w->counts(), ReadResult::Pass), "passed");
        QTEST(countsTotal(w->counts(), ReadResult::Fail), "failed");
        QTEST(countsTotal(w->counts(), ReadResult::NoRead), "notRead");
        QTEST(vm::testing::child<QLabel>(w.get(), QStringLiteral("lblSummary"))->text(), "summary");
        QTEST(vm::testing::child<QTableWidget>(w.get(), QStringLiteral("tblWorst"))->item(0, 1)->text(),
              "worst");
        // The read rate, in per cent, on an axis of its own from 0 to 100 that holds its line.
        QLineSeries* rate = nullptr;
        for (QAbstractSeries* s :
             vm::testing::child<QChartView>(w.get(), QStringLiteral("CountsChart"))->chart()->series())
            if (s->name() == QStringLiteral("Read rate (%)"))
                rate = qobject_cast<QLineSeries*>(s);
        QVERIFY(rate && rate->count() > 0);
        QValueAxis* percent = nullptr;
        for (QAbstractAxis* a : rate->attachedAxes())
            if (a->orientation() == Qt::Vertical)
                percent = qobject_cast<QValueAxis*>(a);
        QVERIFY(percent);
        QCOMPARE(percent->min(), 0.0);
        QCOMPARE(percent->max(), 100.0);
        double highest = 0;
        for (const QPointF& p : rate->points()) {
            QVERIFY2(p.y() >= 0 && p.y() <= 100, qPrintable(QString::number(p.y())));
            highest = std::max(highest, p.y());
        }
        QCOMPARE(highest, 100.0); // an interval where every read passed
        // The time axis: hours and minutes up to a day, the date as well beyond it.
        QDateTimeAxis* time = nullptr;
        for (QAbstractAxis* a : rate->attachedAxes())
            if (a->orientation() == Qt::Horizontal)
                time = qobject_cast<QDateTimeAxis*>(a);
        QVERIFY(time);
        QCOMPARE(time->format(), QStringLiteral("hh:mm"));
    }

    void exportsTheRangeAsCsv() {
        auto w = openOnKnownReads(QStringLiteral("Last hour"));
        const QString path = m_dir.filePath(QStringLiteral("line3.csv"));
        QStringList asked;
        w->setFileChooser([&](QWidget*, const QString& title, const QString& filter) {
            asked << title << filter;
            return path;
        });
        QTest::mouseClick(vm::testing::child<QPushButton>(w.get(), QStringLiteral("cmdExportCsv")),
                          Qt::LeftButton);
        QCOMPARE(asked, (QStringList{"Export History", "CSV files (*.csv)"}));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QStringList lines =
            QString::fromUtf8(file.readAll()).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
        // The header line's columns are those of tst_history's countsWorstReadsAndCsv.
        QCOMPARE(lines.size(), 1 + 120);
        // Oldest first: read 120 begins the hour.
        QVERIFY2(lines[1].contains(
                     QStringLiteral(",Line3,00:0a:0b:0c:0d:0e,1120,pass,,Data Matrix,PART-1120,A,,")),
                 qPrintable(lines[1]));
        const QString fail = lines[1 + 110];
        QVERIFY2(fail.contains(QStringLiteral(",1230,fail,Match Fail,Data Matrix,PART-1230,B,")),
                 qPrintable(fail));
        QVERIFY2(fail.contains(QStringLiteral("60.5 %,B")), qPrintable(fail));
        QVERIFY(lines[1 + 80].contains(QStringLiteral(",1200,no read,No Read,")));
    }

    void savesAOnePagePdf() {
        auto w = openOnKnownReads();
        // A span without reads has nothing to save or export.
        auto* pdfButton = vm::testing::child<QPushButton>(w.get(), QStringLiteral("cmdSavePdf"));
        auto* csvButton = vm::testing::child<QPushButton>(w.get(), QStringLiteral("cmdExportCsv"));
        w->setClock([] { return kNow + qint64(3) * 24 * 3600 * 1000; });
        w->refresh();
        QVERIFY(!pdfButton->isEnabled() && !csvButton->isEnabled());
        w->setClock([] { return kNow; });
        w->refresh();
        QVERIFY(pdfButton->isEnabled() && csvButton->isEnabled());
        const QString path = m_dir.filePath(QStringLiteral("line3.pdf"));
        w->setFileChooser([&](QWidget*, const QString& title, const QString& filter) {
            return title == QLatin1String("Save Summary") && filter == QLatin1String("PDF files (*.pdf)")
                       ? path
                       : QString();
        });
        QTest::mouseClick(vm::testing::child<QPushButton>(w.get(), QStringLiteral("cmdSavePdf")),
                          Qt::LeftButton);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray pdf = file.readAll();
        QVERIFY(pdf.startsWith("%PDF-"));
        QVERIFY(pdf.size() > 10000); // the two charts are drawn in it
        const qsizetype pages =
            QString::fromLatin1(pdf).count(QRegularExpression(QStringLiteral("/Type\\s*/Page[^s]")));
        QCOMPARE(pages, 1);
        const QString pdftotext = QStandardPaths::findExecutable(QStringLiteral("pdftotext"));
        if (pdftotext.isEmpty())
            return;
        QProcess text;
        text.start(pdftotext, {path, QStringLiteral("-")});
        QVERIFY(text.waitForFinished(30000));
        const QString words = QString::fromUtf8(text.readAllStandardOutput()).simplified();
        QVERIFY2(words.contains(QStringLiteral("Symbol Contrast fell from A to B over the last 2 h")),
                 qPrintable(words));
        QVERIFY(words.contains(QStringLiteral("Reader: Line3")));
        QVERIFY(words.contains(QStringLiteral("240 reads: 236 passed, 2 failed, 2 not read")));
        QVERIFY(words.contains(QStringLiteral("PART-1230")));
    }

    // Every list, button and table of the window is named and reached by Tab in tst_windows's
    // walk over the registered windows; the charts and the labels' keys are not seen there.
    void chartsNamedAndLabelsLeadToTheirLists() {
        auto w = openOnKnownReads();
        for (QChartView* chart : w->findChildren<QChartView*>())
            QVERIFY2(!chart->accessibleName().isEmpty(), qPrintable(chart->objectName()));
        for (QLabel* label : w->findChildren<QLabel*>())
            if (label->text().contains(QLatin1Char('&')))
                QVERIFY2(label->buddy(), qPrintable(label->text()));
        QCOMPARE(vm::testing::child<QComboBox>(w.get(), QStringLiteral("cmbParameter"))->accessibleName(),
                 QStringLiteral("Parameter"));
    }

    // Recording off in the preferences: the focused reader's records reach the program and
    // nothing is kept, not even an empty file. On (the default): every record goes into the
    // file; turned off, recording stops.
    void preferenceDecidesWhatIsRecorded() {
        QCOMPARE(vm::app::settings().flag(vm::app::keys::RecordHistory), true);
        const QString offFile = m_dir.filePath(QStringLiteral("off/history.sqlite"));
        vm::app::setHistoryFile(offFile);
        vm::app::settings().setFlag(vm::app::keys::RecordHistory, false);
        vm::app::ReadHistory off;
        QSignalSpy offReady(&off, &vm::app::ReadHistory::ready);
        off.applyPreferences();

        const QString file = m_dir.filePath(QStringLiteral("on/history.sqlite"));
        vm::app::setHistoryFile(file);
        vm::app::settings().setFlag(vm::app::keys::RecordHistory, true);
        vm::app::ReadHistory history;
        QSignalSpy ready(&history, &vm::app::ReadHistory::ready);
        history.applyPreferences();
        QVERIFY(ready.wait(10000));
        QVERIFY(history.isRecording());
        startReader(QStringLiteral("Line7"), QStringLiteral("3.0.2.1"), false);
        const QString name = m_conn->Device()->Name();
        QSignalSpy records(m_conn.get(), &vm::link::Connection::OnNewRecord);
        QTRY_VERIFY_WITH_TIMEOUT(records.size() >= 5, 10000);
        QTRY_VERIFY(history.recorded() >= 5);
        QCOMPARE(offReady.size(), 0);
        QVERIFY(!off.isRecording());
        QCOMPARE(off.recorded(), 0);
        QVERIFY(!QFileInfo::exists(offFile));

        QVERIFY(history.store()->flush());
        HistoryQuery query;
        QString error;
        QVERIFY2(query.open(file, &error), qPrintable(error));
        const QList<ReaderSummary> readers = query.readers();
        QCOMPARE(readers.size(), 1);
        QCOMPARE(readers[0].name, name);
        QCOMPARE(readers[0].reads, history.recorded());
        // The records the test's own connection received are those in the file.
        const QList<ReadEntry> reads = query.reads(name, 0, QDateTime::currentMSecsSinceEpoch() + 1);
        const qint64 last = records.last().at(0).value<vm::link::Record>().Number();
        QVERIFY(
            std::any_of(reads.begin(), reads.end(), [&](const ReadEntry& e) { return e.number == last; }));

        vm::app::settings().setFlag(vm::app::keys::RecordHistory, false);
        history.applyPreferences();
        QVERIFY(!history.isRecording());
        const qint64 kept = query.readCount();
        records.clear();
        QTRY_VERIFY_WITH_TIMEOUT(records.size() >= 3, 10000);
        QCOMPARE(query.readCount(), kept);
    }

    // A history file that cannot be made is said once, for the status bar, and nothing is recorded.
    void unusableFileIsTold() {
        QFile plain(m_dir.filePath(QStringLiteral("plain")));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();
        vm::app::setHistoryFile(m_dir.filePath(QStringLiteral("plain/history.sqlite")));
        vm::app::ReadHistory history;
        QSignalSpy said(&history, &vm::app::ReadHistory::message);
        history.applyPreferences();
        QVERIFY(said.wait(10000));
        QCOMPARE(said.size(), 1);
        QCOMPARE(said.first().at(0).toString(),
                 QStringLiteral("The folder %1 for the history file cannot be created")
                     .arg(QDir::toNativeSeparators(m_dir.filePath(QStringLiteral("plain")))));
        QVERIFY(!history.isReady());
        QVERIFY(!history.isRecording());
    }

    // The Preferences dialog's History tab: recording and the two retention limits, stored on OK.
    void preferencesHoldRecordingAndRetention() {
        vm::shell::frmOptions dialog;
        dialog.show();
        auto* record = vm::testing::child<QCheckBox>(&dialog, QStringLiteral("chkRecordHistory"));
        auto* days = vm::testing::child<QSpinBox>(&dialog, QStringLiteral("spnKeepDays"));
        auto* megabytes = vm::testing::child<QSpinBox>(&dialog, QStringLiteral("spnKeepMegabytes"));
        QVERIFY(record->isChecked());
        QCOMPARE(days->value(), 90);
        QCOMPARE(megabytes->value(), 2048);
        QCOMPARE(days->accessibleName(), QStringLiteral("Keep reads for"));
        QCOMPARE(megabytes->accessibleName(), QStringLiteral("Keep at most"));
        QCOMPARE(record->text(), QStringLiteral("&Record the reads of the focused reader"));
        QTest::mouseClick(record, Qt::LeftButton);
        days->setValue(30);
        megabytes->setValue(500);
        QVERIFY(dialog.Changed());
        QTest::mouseClick(vm::testing::child<QPushButton>(&dialog, QStringLiteral("cmdOK")), Qt::LeftButton);
        QCOMPARE(vm::app::settings().text(vm::app::keys::RecordHistory), QStringLiteral("0"));
        QCOMPARE(vm::app::settings().text(vm::app::keys::HistoryKeepDays), QStringLiteral("30"));
        QCOMPARE(vm::app::settings().text(vm::app::keys::HistoryKeepMegabytes), QStringLiteral("500"));
        // Opened again, it shows what was stored.
        vm::shell::frmOptions again;
        QVERIFY(!vm::testing::child<QCheckBox>(&again, QStringLiteral("chkRecordHistory"))->isChecked());
        QCOMPARE(vm::testing::child<QSpinBox>(&again, QStringLiteral("spnKeepDays"))->value(), 30);

        // Recording again, the file keeps the reads of those 30 days and at most those 500 MiB.
        vm::app::settings().setText(vm::app::keys::RecordHistory, QStringLiteral("1"));
        vm::app::setHistoryFile(m_dir.filePath(QStringLiteral("kept.sqlite")));
        vm::app::ReadHistory history;
        history.applyPreferences();
        QTRY_VERIFY(history.isReady());
        QCOMPARE(history.store()->retention().maxAgeMs, qint64(30) * 24 * 3600 * 1000);
        QCOMPARE(history.store()->retention().maxBytes, qint64(500) * 1024 * 1024);
    }

    void missingFileIsTold() {
        vm::app::setHistoryFile(m_dir.filePath(QStringLiteral("none.sqlite")));
        auto w = openWindow<HistoryWindow>();
        QCOMPARE(vm::testing::child<QLabel>(w.get(), QStringLiteral("lblDrift"))->text(),
                 QStringLiteral("There is no history file ") +
                     QDir::toNativeSeparators(m_dir.filePath(QStringLiteral("none.sqlite"))));
        QVERIFY(!vm::testing::child<QPushButton>(w.get(), QStringLiteral("cmdExportCsv"))->isEnabled());
        QVERIFY(!vm::testing::child<QPushButton>(w.get(), QStringLiteral("cmdSavePdf"))->isEnabled());
        // No reads: the counts axis still steps by whole reads, each label a different number.
        const auto axes = vm::testing::child<QChartView>(w.get(), QStringLiteral("CountsChart"))
                              ->chart()
                              ->axes(Qt::Vertical);
        auto* reads = axes.isEmpty() ? nullptr : qobject_cast<QValueAxis*>(axes.first());
        QVERIFY(reads);
        const double step = (reads->max() - reads->min()) / (reads->tickCount() - 1);
        QVERIFY2(step >= 1 && step == std::floor(step), qPrintable(QString::number(step)));

        // The file made, no read in it yet: Refresh says so, with no reader to name.
        HistoryStore store;
        QString error;
        QVERIFY2(store.open(m_dir.filePath(QStringLiteral("none.sqlite")), &error), qPrintable(error));
        QVERIFY(store.flush());
        QTest::mouseClick(vm::testing::child<QPushButton>(w.get(), QStringLiteral("cmdRefresh")),
                          Qt::LeftButton);
        QCOMPARE(vm::testing::child<QLabel>(w.get(), QStringLiteral("lblDrift"))->text(),
                 QStringLiteral("The history file holds no reads yet."));
        QVERIFY(vm::testing::entries(vm::testing::child<QComboBox>(w.get(), QStringLiteral("cmbReader")))
                    .isEmpty());
        QVERIFY(!vm::testing::child<QPushButton>(w.get(), QStringLiteral("cmdExportCsv"))->isEnabled());
    }
};

QTEST_MAIN(TestHistoryWindow)
#include "tst_historywindow.moc"
