// Chart: trends of the reader's records, the newest drawn from a short timer. It binds no
// reader field; its checks pin the series that the reader's records make.
#include "contracts/contract.h"
#include "contracts/tables/monitoring.h"
#include "display/reportchart.h"

#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineSeries>
#include <QValueAxis>

namespace vm::contracts {

namespace {

using monitoring::Records;

const QString kChart = QStringLiteral("BasicChart");

display::ReportChart* recordsChart(Stage& stage) {
    return qobject_cast<display::ReportChart*>(stage.control(QStringLiteral("Chart")));
}

QList<double> ys(const QList<QPointF>& points) {
    QList<double> out;
    for (const QPointF& p : points)
        out << p.y();
    return out;
}

// The series of the hour view, by the name it shows.
QLineSeries* hourSeries(Stage& stage, const QString& name) {
    auto* view = qobject_cast<QChartView*>(stage.control(QStringLiteral("HourChart")));
    if (!view)
        return nullptr;
    for (QAbstractSeries* s : view->chart()->series())
        if (s->name() == name)
            return qobject_cast<QLineSeries*>(s);
    return nullptr;
}

void seriesFollowTheRecords(Stage& stage) {
    monitoring::startQuietReader(stage, QStringLiteral("CHART"));
    stage.send(QStringLiteral("VERIFY ISO"));
    Records records;
    QWidget* window = stage.open(kChart);
    QVERIFY(window);
    QCOMPARE(window->windowTitle().section(QStringLiteral(" - "), -1), QStringLiteral("Chart"));
    display::ReportChart* chart = recordsChart(stage);
    QVERIFY(chart);
    QVERIFY(chart->isVisible());
    auto* view = qobject_cast<QComboBox*>(stage.control(QStringLiteral("cmbView")));
    QVERIFY(view);
    QCOMPARE(testing::entries(view), (QStringList{"Last records", "Last hour"}));
    QCOMPARE(view->currentText(), QStringLiteral("Last records"));
    QVERIFY(chart->DecodeTimePoints().isEmpty());

    // Read, read, no read: one point per record, drawn within a moment of its arrival.
    QList<link::Record> sent;
    for (bool printed : {true, true, false}) {
        monitoring::printSymbol(stage, printed);
        link::Record r;
        QVERIFY(records.cycle(stage, &r));
        QElapsedTimer drawn;
        drawn.start();
        sent << r;
        QTRY_COMPARE_WITH_TIMEOUT(chart->DecodeTimePoints().size(), sent.size(), 1000);
        QVERIFY2(drawn.elapsed() < 250, qPrintable(QString::number(drawn.elapsed())));
    }
    QCOMPARE(sent[0].Passed(), true);
    QCOMPARE(sent[2].Passed(), false);
    QList<double> decode;
    for (const link::Record& r : sent)
        decode << r.Result().DecodeMilliseconds();
    QCOMPARE(ys(chart->DecodeTimePoints()), decode);
    // The pass rate over the records so far, in percent.
    const QList<double> rate = ys(chart->PassRatePoints());
    QCOMPARE(rate.size(), 3);
    QCOMPARE(rate[0], 100.0);
    QCOMPARE(rate[1], 100.0);
    QVERIFY(qFuzzyCompare(rate[2], 200.0 / 3.0));
    // Grades, A = 4 down to F = 0, from what the reader graded.
    QList<double> grades;
    for (const link::Record& r : sent) {
        QVERIFY(r.HasVerification());
        grades << 4.0 - QStringLiteral("ABCDF").indexOf(r.Verification()->overallGrade);
    }
    QCOMPARE(ys(chart->GradePoints()), grades);
    QCOMPARE(grades.last(), 0.0);

    // The last hour: every record counts, this minute at 0.
    testing::choose(view, QStringLiteral("Last hour"));
    QLineSeries* reads = hourSeries(stage, QStringLiteral("Reads per minute"));
    QVERIFY(reads);
    QTRY_VERIFY(reads->count() >= 1);
    QCOMPARE(reads->at(reads->count() - 1).x(), 0.0);
    // Its minutes axis spans the hour: 59 minutes ago to this minute.
    const auto* minutes = qobject_cast<QValueAxis*>(reads->attachedAxes().value(0));
    QVERIFY(minutes && minutes->orientation() == Qt::Horizontal);
    QCOMPARE(QPointF(minutes->min(), minutes->max()), QPointF(-59, 0));
    double total = 0;
    for (const QPointF& p : reads->points())
        total += p.y();
    QCOMPARE(total, 3.0);
    // A minute's decode time is the mean over all its records, the no read included: weighted
    // by the minute's reads, the points add up to the three decode times.
    QLineSeries* decodeMeans = hourSeries(stage, QStringLiteral("Decode time (ms)"));
    QVERIFY(decodeMeans);
    QCOMPARE(decodeMeans->count(), reads->count());
    double weighted = 0;
    for (int i = 0; i < reads->count(); ++i)
        weighted += reads->at(i).y() * decodeMeans->at(i).y();
    QVERIFY2(
        qFuzzyCompare(weighted, decode[0] + decode[1] + decode[2]),
        qPrintable(QStringLiteral("%1 against %2").arg(weighted).arg(decode[0] + decode[1] + decode[2])));
    QVERIFY(!chart->isVisible());
    // Shown, the hour follows each new record (two, so that a redraw already due from the
    // records view cannot stand in for it).
    monitoring::printSymbol(stage, true);
    const auto readsNow = [&] {
        double n = 0;
        for (const QPointF& p : hourSeries(stage, QStringLiteral("Reads per minute"))->points())
            n += p.y();
        return n;
    };
    for (const double total : {4.0, 5.0}) {
        link::Record more;
        QVERIFY(records.cycle(stage, &more));
        QTRY_COMPARE(readsNow(), total);
    }
}

} // namespace

WindowContract chartContract() {
    WindowContract w;
    w.window = kChart;
    w.notFields = {
        // Chooses between the last records and the last hour; the reader never hears of it.
        QStringLiteral("cmbView"),
    };
    w.checks = {seriesFollowTheRecords};
    return w;
}

} // namespace vm::contracts
