// A plant's worth of readers: 500 simulated readers (lumivex-sim --readers, a process of its
// own) and the figures beside their goals:
//   discovery  the connection library finds every reader (goal under 2 s);
//   load       velmarrow-cli loads one reader's whole configuration (its save, 212 lines)
//              into every reader with --all (goal under 30 s, none failing);
//   overview   the program's network overview lists every reader while discovery answers
//              arrive, and the interface thread's longest stall: the longest gap between
//              ticks of a 5 ms timer (goal under 50 ms).
//
//   bench_fleet [discovery|load|overview ...] [--readers N] [--jobs N]
#include "app/windowregistry.h"
#include "bench/common/programbench.h"
#include "display/cameras.h"
#include "link/coordinator.h"
#include "link/device.h"
#include "tools/basicterminal.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

namespace {

constexpr quint16 kDiscoveryPort = 14495;

QString loadAverage() {
    QFile f(QStringLiteral("/proc/loadavg"));
    if (!f.open(QIODevice::ReadOnly))
        return QStringLiteral("unknown");
    return QString::fromLatin1(f.readAll()).section(QLatin1Char(' '), 0, 2);
}

// The readers on addresses of their own, away from those the tests use.
QString address(int i) {
    return QStringLiteral("127.95.%1.%2").arg(i / 250).arg(i % 250 + 1);
}

class Fleet {
public:
    bool start(int readers) {
        m_readers = readers;
        QStringList addresses;
        for (int i = 0; i < readers; ++i)
            addresses << address(i);
        m_sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_sim.start(QStringLiteral(LUMIVEX_SIM_PROGRAM),
                    {"--readers", QString::number(readers), "--address", addresses.join(','),
                     "--discovery-port", QString::number(kDiscoveryPort), "--admin-port", "0", "--no-stdin",
                     "--no-flash"});
        // Up once its last reader takes a connection.
        const bool up =
            m_sim.waitForStarted() && vm::bench::waitFor(
                                          [&] {
                                              m_sim.readAllStandardOutput();
                                              QTcpSocket probe;
                                              probe.connectToHost(QHostAddress(addresses.last()), 4371);
                                              return probe.waitForConnected(100);
                                          },
                                          60000);
        if (!up)
            std::printf("the simulated readers did not start\n");
        return up;
    }
    ~Fleet() {
        m_sim.kill();
        m_sim.waitForFinished();
    }
    int readers() const { return m_readers; }

private:
    QProcess m_sim;
    int m_readers = 0;
};

// One discovery in a process of its own (the connection library keeps what it found for the
// process's life): prints the readers found and the milliseconds it took.
int discoverOnce(int readers) {
    vm::link::Coordinator coordinator;
    QElapsedTimer clock;
    clock.start();
    coordinator.StartDiscovery();
    vm::bench::waitFor([&] { return coordinator.Devices().size() >= readers; }, 10000);
    std::printf("%d %lld\n", int(coordinator.Devices().size()), clock.elapsed());
    return 0;
}

void discovery(const Fleet& fleet) {
    std::printf("== discovery of %d readers, three times, each in a new process\n", fleet.readers());
    for (int run = 1; run <= 3; ++run) {
        QProcess once;
        once.start(QCoreApplication::applicationFilePath(),
                   {"--discover-once", "--readers", QString::number(fleet.readers())});
        once.waitForFinished(30000);
        const QStringList figures = QString::fromLatin1(once.readAllStandardOutput()).split(QLatin1Char(' '));
        std::printf("  run %d: %d of %d readers in %lld ms (goal under 2000 ms)\n", run,
                    figures.value(0).toInt(), fleet.readers(), figures.value(1).toLongLong());
    }
}

// Runs velmarrow-cli to its end; its standard output.
QByteArray runCli(const QStringList& arguments, int* exitCode, qint64* ms) {
    QProcess cli;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("VELMARROW_DISCOVERY_TARGETS"),
               QStringLiteral("127.255.255.255:%1").arg(kDiscoveryPort));
    cli.setProcessEnvironment(env);
    cli.setProcessChannelMode(QProcess::SeparateChannels);
    QElapsedTimer clock;
    clock.start();
    cli.start(QStringLiteral(VELMARROW_CLI_PATH), arguments);
    QByteArray out;
    const bool ended = cli.waitForStarted() && vm::bench::waitFor(
                                                   [&] {
                                                       out += cli.readAllStandardOutput();
                                                       cli.readAllStandardError();
                                                       return cli.state() == QProcess::NotRunning;
                                                   },
                                                   600000);
    *ms = clock.elapsed();
    out += cli.readAllStandardOutput();
    *exitCode = ended && cli.exitStatus() == QProcess::NormalExit ? cli.exitCode() : -1;
    return out;
}

void load(const Fleet& fleet, const QString& jobs) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("line1.lcf"));
    int code = 0;
    qint64 ms = 0;
    // The first reader's whole configuration, as a person saves it to set up the others.
    runCli({"save", address(0), file}, &code, &ms);
    QFile saved(file);
    if (code != 0 || !saved.open(QIODevice::ReadOnly)) {
        std::printf("the first reader's configuration could not be saved (exit code %d)\n", code);
        return;
    }
    const int lines = int(saved.readAll().count('\n'));
    QStringList arguments{"--json", "load", file, "--all"};
    if (!jobs.isEmpty())
        arguments << "--jobs" << jobs;
    std::printf("== a %d-line configuration into %d readers (velmarrow-cli load --all%s)\n", lines,
                fleet.readers(), jobs.isEmpty() ? "" : qPrintable(" --jobs " + jobs));
    const QJsonObject doc = QJsonDocument::fromJson(runCli(arguments, &code, &ms)).object();
    const QJsonObject total = doc.value("total").toObject();
    std::printf("  %.1f s (goal under 30 s), %d readers: %d loaded, %d failed (goal none), exit code %d\n",
                ms / 1000.0, total.value("readers").toInt(), total.value("loaded").toInt(),
                total.value("failed").toInt(), code);
}

void overview(const Fleet& fleet) {
    std::printf("== the network overview with %d readers answering discovery\n", fleet.readers());
    QTemporaryDir dir;
    vm::bench::installProgramSettings(dir.path());
    if (vm::app::windows().windowEntries().empty())
        vm::app::registerWindows(vm::app::windows());
    // The interface thread's stalls: the gaps between ticks of a fine timer, from before the
    // window opens (its first discovery burst included) to a few discovery rounds after.
    QElapsedTimer clock;
    clock.start();
    // Beside each gap, the processor time the thread spent in it: a gap the thread spent
    // waiting for a core (two cores, the simulated readers busy answering) is the machine's,
    // one it spent working is the program's.
    qint64 last = 0, longest = 0, ticks = 0;
    double lastCpu = vm::bench::threadCpuSeconds(), longestCpuMs = 0, busiestCpuMs = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(5);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        const double cpu = vm::bench::threadCpuSeconds();
        const double cpuMs = (cpu - lastCpu) * 1000.0;
        if (now - last > longest) {
            longest = now - last;
            longestCpuMs = cpuMs;
        }
        busiestCpuMs = std::max(busiestCpuMs, cpuMs);
        last = now;
        lastCpu = cpu;
        ++ticks;
    });
    tick.start();
    last = clock.elapsed();
    auto* window = static_cast<vm::tools::NetworkOverview*>(
        vm::app::windows().open(vm::tools::NetworkOverview::WindowName, nullptr));
    // Opening the window is a stall of its own, measured apart: the goal is about the
    // refreshes while the readers answer.
    const qint64 opened = clock.elapsed();
    last = opened;
    lastCpu = vm::bench::threadCpuSeconds();
    longest = 0;
    longestCpuMs = busiestCpuMs = 0;
    vm::display::Cameras* table = window->cameras();
    const bool all = vm::bench::waitFor([&] { return table->rowCount() >= fleet.readers(); }, 20000);
    const qint64 listed = clock.elapsed();
    const qint64 longestWhileListing = longest;
    const double busiestWhileListing = busiestCpuMs;
    // Then five more discovery rounds, every reader answering each of them.
    vm::bench::waitFor([] { return false; }, 5 * vm::link::kDiscoveryInterval);
    tick.stop();
    std::printf("  window opened in %lld ms; %d of %d readers listed %lld ms after%s\n", opened,
                table->rowCount(), fleet.readers(), listed - opened, all ? "" : " (not all within 20 s)");
    std::printf("  interface thread's longest stall after opening: %lld ms while listing, %lld ms over "
                "%.1f s of discovery rounds (goal under 50 ms; %lld ticks of 5 ms)\n",
                longestWhileListing, longest, (clock.elapsed() - opened) / 1000.0, ticks);
    std::printf("  of the longest stall, %.1f ms were spent working on the thread; the most work between "
                "two ticks: %.1f ms while listing, %.1f ms in all\n",
                longestCpuMs, busiestWhileListing, busiestCpuMs);
    // Sorted by address and filtered, as a person looks for one reader.
    QElapsedTimer step;
    step.start();
    table->sortItems(vm::display::Cameras::AddressColumn);
    const qint64 sorted = step.restart();
    window->filter()->setText(QStringLiteral("127.95.1.17"));
    QCoreApplication::processEvents();
    std::printf("  sorting %d rows by address: %lld ms; filtering to %d: %lld ms\n", table->rowCount(),
                sorted, table->shownCount(), step.elapsed());
    window->close();
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addPositionalArgument("parts", "discovery, load, overview (all three when none is named)");
    parser.addOption({"readers", "Simulated readers.", "N", "500"});
    parser.addOption({"jobs", "velmarrow-cli's --jobs (its default when not given).", "N"});
    parser.addOption({"discover-once", "(the discovery part's own runs)"});
    parser.process(app);
    if (parser.isSet("discover-once"))
        return discoverOnce(parser.value("readers").toInt());
    QStringList parts = parser.positionalArguments();
    if (parts.isEmpty())
        parts = {"discovery", "load", "overview"};
    std::printf("load average before: %s\n", qPrintable(loadAverage()));
    qputenv("VELMARROW_DISCOVERY_TARGETS",
            QByteArray("127.255.255.255:") + QByteArray::number(kDiscoveryPort));
    Fleet fleet;
    if (!fleet.start(parser.value("readers").toInt()))
        return 1;
    qputenv("VELMARROW_DISCOVERY_TARGETS",
            QByteArray("127.255.255.255:") + QByteArray::number(kDiscoveryPort));
    for (const QString& part : std::as_const(parts)) {
        if (part == QLatin1String("discovery"))
            discovery(fleet);
        else if (part == QLatin1String("load"))
            load(fleet, parser.value("jobs"));
        else if (part == QLatin1String("overview"))
            overview(fleet);
        else
            std::printf("no part called %s\n", qPrintable(part));
        std::fflush(stdout);
    }
    std::printf("load average after: %s\n", qPrintable(loadAverage()));
    return 0;
}
