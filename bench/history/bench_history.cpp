// The read history's figures, each beside its goal:
//   line    100 simulated readers at 10 graded records a second each (lumivex-sim, its own
//           process), recorded by velmarrow-cli record for 60 s: records received against the
//           readers' own numbers (none may go missing), inserts a second, bytes a record
//   query   a trend of one parameter over a file of 1,000,000 reads (under 200 ms)
//   ui      the interface thread's cost of recording the focused reader at 120 records a
//           second (under 5 % of a core)
// bench_history [line|query|ui]... (all three by default); --seconds N shortens the line.
#include "history/historyquery.h"
#include "history/historystore.h"
#include "history/recorder.h"
#include "link/connection.h"
#include "link/coordinator.h"
#include "sim/reader.h"
#include "sim/simulator.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <functional>

using namespace vm::history;

namespace {

bool waitFor(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QTimer t;
        QEventLoop loop;
        QObject::connect(&t, &QTimer::timeout, &loop, &QEventLoop::quit);
        t.start(10);
        loop.exec();
    }
    return true;
}

double threadCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_THREAD, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Turns grading on at a reader over its command port, as a PC would.
bool gradeAt(const QString& address) {
    QTcpSocket s;
    s.connectToHost(QHostAddress(address), 4371);
    if (!s.waitForConnected(3000))
        return false;
    s.write("CONTROL\r\nVERIFY ISO\r\nRELEASE\r\n");
    QByteArray reply;
    while (reply.count('\n') < 3 && s.waitForReadyRead(3000))
        reply += s.readAll();
    return reply.contains("!VERIFY OK");
}

void line(int readers, int seconds) {
    std::printf("== line: %d readers at 10 graded records/s, recorded by velmarrow-cli for %d s\n", readers,
                seconds);
    QTemporaryDir dir;
    QStringList addresses;
    for (int i = 1; i <= readers; ++i)
        addresses << QStringLiteral("127.93.%1.%2").arg(i / 250).arg(i % 250 + 1);
    QProcess sim;
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim.start(QStringLiteral(LUMIVEX_SIM_PATH),
              {"--readers", QString::number(readers), "--address", addresses.join(','), "--rate", "10",
               "--replay", "--discovery-port", "14493", "--admin-port", "0", "--no-stdin", "--no-flash"});
    if (!sim.waitForStarted() || !waitFor(
                                     [&] {
                                         sim.readAllStandardOutput();
                                         QTcpSocket probe;
                                         probe.connectToHost(QHostAddress(addresses.last()), 4371);
                                         return probe.waitForConnected(100);
                                     },
                                     20000)) {
        std::printf("the simulated readers did not start\n");
        return;
    }
    int graded = 0;
    for (const QString& a : addresses)
        graded += gradeAt(a) ? 1 : 0;
    std::printf("readers grading: %d of %d\n", graded, readers);
    const QString db = dir.filePath(QStringLiteral("line.sqlite"));
    QProcess cli;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("VELMARROW_DISCOVERY_TARGETS"), QStringLiteral("127.255.255.255:14493"));
    cli.setProcessEnvironment(env);
    cli.start(QStringLiteral(VELMARROW_CLI_PATH),
              {"record", "--db", db, "--all", "--for", QStringLiteral("%1s").arg(seconds), "--json"});
    const bool finished = cli.waitForStarted() && waitFor([&] { return cli.state() == QProcess::NotRunning; },
                                                          (seconds + 120) * 1000);
    sim.kill();
    sim.waitForFinished();
    if (!finished) {
        std::printf("velmarrow-cli record did not end\n");
        return;
    }
    const QJsonObject doc = QJsonDocument::fromJson(cli.readAllStandardOutput()).object();
    const QJsonObject total = doc.value("total").toObject();
    HistoryQuery query;
    QString error;
    if (!query.open(db, &error)) {
        std::printf("%s\n", qPrintable(error));
        return;
    }
    // Missing: the reader numbered a record between its first and last kept one that is not kept.
    qint64 kept = 0, missing = 0, graded2 = 0;
    const qint64 now = QDateTime::currentMSecsSinceEpoch() + 1;
    for (const ReaderSummary& r : query.readers()) {
        const QList<ReadEntry> reads = query.reads(r.name, 0, now);
        if (reads.isEmpty())
            continue;
        qint64 lo = reads.first().number, hi = lo;
        for (const ReadEntry& e : reads) {
            lo = std::min(lo, e.number);
            hi = std::max(hi, e.number);
            graded2 += e.grades.isEmpty() ? 0 : 1;
        }
        kept += reads.size();
        missing += hi - lo + 1 - reads.size();
    }
    const double secondsRun = total.value("seconds").toDouble();
    const qint64 bytes = QFileInfo(db).size() + QFileInfo(db + "-wal").size();
    std::printf("readers recorded: %d (goal %d)\n", total.value("readers").toInt(), readers);
    std::printf(
        "records received: %lld, kept in the file: %lld, graded: %lld, missing between first and last of "
        "each reader: %lld (goal 0), dropped by the store: %lld (goal 0)\n",
        qint64(total.value("recorded").toInteger()), kept, graded2, missing,
        qint64(total.value("dropped").toInteger()));
    std::printf("inserts: %.0f reads/s (goal %d), bytes per read: %.0f (file and log %lld bytes)\n",
                kept / std::max(1.0, secondsRun), readers * 10, kept ? double(bytes) / double(kept) : 0.0,
                bytes);
}

ReadEntry syntheticRead(qint64 timeMs, qint64 number, double contrast) {
    ReadEntry e;
    e.reader = QStringLiteral("Line1");
    e.mac = QStringLiteral("02:11:13:4d:00:01");
    e.timeMs = timeMs;
    e.number = number;
    e.result = number % 500 == 0 ? ReadResult::NoRead : ReadResult::Pass;
    e.text = QStringLiteral("VELMARROW-%1").arg(number, 6, 10, QLatin1Char('0'));
    e.symbology = QStringLiteral("Data Matrix");
    e.overallGrade = 4;
    const auto grade = [](double v, double a, double b) { return v >= a ? 4 : v >= b ? 3 : 2; };
    e.grades = {
        {"Symbol Contrast", contrast, QString::number(contrast, 'f', 1) + " %", grade(contrast, 70, 55)},
        {"Modulation", 0.62, "0.62", 4},
        {"Axial Nonuniformity", 0.012, "0.012", 4},
        {"Grid Nonuniformity", 0.08, "0.080", 4},
        {"Fixed Pattern Damage", 0, "0.0 %", 4},
        {"Unused Error Correction", 100, "100.0 %", 4},
        {"Cell Size", 8.1, "8.10 px", 4},
        {"Center Offset", 0.01, "0.010", 4},
        {"Size Offset", 0.02, "0.020", 4},
        {"Border Match", 100, "100.0 %", 4},
        {"Print Growth", 0.05, "0.050", 4},
        {"Angle of Distortion", 0.2, "0.20 deg", 4},
        {"Decode", std::nan(""), "PASS", 4}};
    return e;
}

void queryBench(qint64 reads) {
    std::printf("== query: a trend over a file of %lld reads of one reader (10 a second, 13 graded values "
                "each)\n",
                reads);
    QTemporaryDir dir;
    const QString db = dir.filePath(QStringLiteral("million.sqlite"));
    HistoryStore store;
    QString error;
    if (!store.open(db, &error)) {
        std::printf("%s\n", qPrintable(error));
        return;
    }
    const qint64 start = QDateTime::currentMSecsSinceEpoch() - reads * 100;
    QElapsedTimer clock;
    clock.start();
    for (qint64 i = 0; i < reads; ++i) {
        // A slow fade over the day with read-to-read scatter.
        const double contrast = 78.0 - 10.0 * double(i) / double(reads) + double((i * 7919) % 11 - 5) * 0.2;
        store.append(syntheticRead(start + i * 100, i + 1, contrast));
        if (i % HistoryStore::kMaxBatch == 0)
            store.flush(600000); // keeps the queue, and the memory it takes, bounded
    }
    store.flush(600000);
    const double fillSeconds = clock.elapsed() / 1000.0;
    std::printf("filled in %.1f s: %.0f reads/s written by the store's thread, %.0f bytes per read\n",
                fillSeconds, reads / fillSeconds,
                double(QFileInfo(db).size() + QFileInfo(db + "-wal").size()) / double(reads));
    store.close();
    HistoryQuery query;
    if (!query.open(db, &error)) {
        std::printf("%s\n", qPrintable(error));
        return;
    }
    const qint64 to = start + reads * 100 + 1;
    auto median = [](QList<double> v) {
        std::sort(v.begin(), v.end());
        return v.at(v.size() / 2);
    };
    QList<double> trendMs, countsMs;
    QString text;
    for (int run = 0; run < 5; ++run) {
        QElapsedTimer t;
        t.start();
        const auto trend = query.trend(QStringLiteral("Line1"), QStringLiteral("Symbol Contrast"), start, to,
                                       (to - start) / 60);
        trendMs << t.nsecsElapsed() / 1e6;
        text = trend ? trend->drift.text : QStringLiteral("no trend");
        t.start();
        query.counts(QStringLiteral("Line1"), start, to, (to - start) / 60);
        countsMs << t.nsecsElapsed() / 1e6;
    }
    std::printf("trend of Symbol Contrast over all %lld reads, 60 intervals, with the drift rule: %.0f ms "
                "(median of 5; goal under 200 ms)\n",
                reads, median(trendMs));
    std::printf("pass, fail and no-read counts per interval over the same: %.0f ms\n", median(countsMs));
    std::printf("drift: %s\n", qPrintable(text));
}

void uiCost(int rate, int seconds) {
    std::printf("== ui: recording the focused reader at %d records/s for %d s\n", rate, seconds);
    vm::sim::ReaderConfig config;
    config.name = QStringLiteral("BenchUi");
    config.address = QHostAddress(QStringLiteral("127.94.0.1"));
    config.stateFolder.clear();
    config.cycleRate = rate;
    vm::sim::Reader reader(config);
    QString error;
    if (!reader.start(&error)) {
        std::printf("the simulated reader did not start: %s\n", qPrintable(error));
        return;
    }
    reader.parameters().setFields(QStringLiteral("VERIFY"), {QStringLiteral("ISO")});
    reader.setReplay(true);
    QTemporaryDir dir;
    HistoryStore store;
    if (!store.open(dir.filePath(QStringLiteral("ui.sqlite")), &error)) {
        std::printf("%s\n", qPrintable(error));
        return;
    }
    vm::link::Coordinator coordinator;
    vm::link::ReaderConnection connection;
    if (!coordinator.Focus(QStringLiteral("127.94.0.1"))) {
        std::printf("cannot connect to the simulated reader\n");
        return;
    }
    // What the interface thread spends in recording: the recorder's handler, timed by two
    // handlers of the same signal around it (a signal calls its handlers in order).
    qint64 recordingNs = 0;
    qint64 records = 0;
    QElapsedTimer inRecorder;
    QObject::connect(&connection, &vm::link::Connection::OnNewRecord, &connection,
                     [&](const vm::link::Record&) { inRecorder.start(); });
    Recorder recorder(store);
    recorder.followConnection(&connection);
    QObject::connect(&connection, &vm::link::Connection::OnNewRecord, &connection,
                     [&](const vm::link::Record&) {
                         recordingNs += inRecorder.nsecsElapsed();
                         ++records;
                     });
    waitFor([&] { return records > rate; }, 10000); // the stream is running
    records = 0;
    recordingNs = 0;
    const double cpu0 = threadCpuSeconds();
    QElapsedTimer wall;
    wall.start();
    waitFor([&] { return wall.elapsed() >= seconds * 1000; }, seconds * 1000 + 5000);
    const double wallSeconds = wall.elapsed() / 1000.0;
    const double threadCpu = threadCpuSeconds() - cpu0;
    store.flush();
    std::printf("records recorded: %lld (%.0f/s), written: %lld\n", records, records / wallSeconds,
                store.stats().written);
    std::printf(
        "interface thread in recording: %.2f %% of a core (goal under 5 %%); the whole interface thread, "
        "link included: %.1f %%\n",
        100.0 * recordingNs / 1e9 / wallSeconds, 100.0 * threadCpu / wallSeconds);
    coordinator.Focus(QString());
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    qputenv("QT_LOGGING_RULES", "velmarrow.*.info=false;lumivex.*.info=false");
    QStringList what = app.arguments().mid(1);
    int seconds = 60;
    if (const qsizetype at = what.indexOf(QStringLiteral("--seconds")); at >= 0) {
        seconds = what.value(at + 1).toInt();
        what.remove(at, 2);
    }
    if (what.isEmpty())
        what = {"line", "query", "ui"};
    std::printf("machine: %s\n", qPrintable(QString::fromUtf8([] {
                    QFile f(QStringLiteral("/proc/loadavg"));
                    return f.open(QIODevice::ReadOnly) ? f.readAll().trimmed() : QByteArray();
                }())));
    if (what.contains(QStringLiteral("line")))
        line(100, seconds);
    if (what.contains(QStringLiteral("query")))
        queryBench(1000000);
    if (what.contains(QStringLiteral("ui")))
        uiCost(120, 20);
    return 0;
}
