// Speed of configuration loading against simulated readers over loopback: a 500-line
// configuration into one reader (line by line as the program does it, and pipelined as
// the command-line tool does it), and one configuration into 50 readers with
// velmarrow-cli's "load --all". Prints its figures.
#include "cli/clicommands.h"
#include "link/configuration.h"
#include "link/connection.h"
#include "link/coordinator.h"
#include "sim/reader.h"
#include "sim/simulator.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <QTextStream>

#include <cstdio>

using namespace vm;

namespace {

constexpr int kLines = 500;
constexpr int kReaders = 50;
constexpr int kRounds = 5;

// 500 valid lines: the reader's own listing, repeated.
QStringList fiveHundredLines(sim::Reader& reader) {
    const QStringList listing = reader.parameters().configurationListing();
    QStringList lines;
    while (lines.size() < kLines)
        for (const QString& line : listing)
            if (lines.size() < kLines && !link::isIdentityLine(line))
                lines << line;
    return lines;
}

sim::ReaderConfig config(const QString& name, int index) {
    sim::ReaderConfig c;
    c.name = name;
    c.address = QHostAddress(QStringLiteral("127.0.%1.%2").arg(200 + index / 200).arg(1 + index % 200));
    c.cycleRate = 0;
    return c;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    qputenv("VELMARROW_STATION", "BENCH");
    // Fifty readers starting and changing hands log hundreds of lines; the figures are the point.
    QLoggingCategory::setFilterRules(QStringLiteral("*.info=false"));

    {
        sim::SimulatorConfig sc;
        sc.discoveryPort = 0;
        sc.readers = {config(QStringLiteral("Single"), 0)};
        sim::Simulator simulator(sc);
        QString error;
        if (!simulator.start(&error)) {
            std::fprintf(stderr, "cannot start the reader: %s\n", qPrintable(error));
            return 1;
        }
        sim::Reader& reader = *simulator.readers().first();
        const QStringList lines = fiveHundredLines(reader);
        link::Coordinator coordinator;
        coordinator.Focus(reader.address().toString());
        link::SettingsConnection conn;
        if (!conn.SendCommand(QStringLiteral("CONTROL")).ok) {
            std::fprintf(stderr, "no control\n");
            return 1;
        }
        double best = 1e9, worst = 0;
        for (int round = 0; round < kRounds; ++round) {
            QElapsedTimer t;
            t.start();
            int errors = 0;
            for (const QString& line : lines)
                errors += link::sendConfigurationLine(conn.Response(), line).failed ? 1 : 0;
            const double ms = t.nsecsElapsed() / 1e6;
            best = std::min(best, ms);
            worst = std::max(worst, ms);
            if (errors)
                std::fprintf(stderr, "%d lines refused\n", errors);
        }
        std::printf(
            "500 lines into one reader, line by line (program): best %.1f ms, worst %.1f ms (goal < 1000)\n",
            best, worst);
        best = 1e9;
        worst = 0;
        for (int round = 0; round < kRounds; ++round) {
            QElapsedTimer t;
            t.start();
            link::ConfigurationLoad load(conn.Response(), lines, false);
            QEventLoop loop;
            QObject::connect(&load, &link::ConfigurationLoad::finished, &loop, &QEventLoop::quit);
            load.start();
            loop.exec();
            const double ms = t.nsecsElapsed() / 1e6;
            best = std::min(best, ms);
            worst = std::max(worst, ms);
        }
        std::printf("500 lines into one reader, pipelined loader (cli):   best %.1f ms, worst %.1f ms (goal "
                    "< 1000)\n",
                    best, worst);
        coordinator.Focus(QString());
    }

    {
        sim::SimulatorConfig sc;
        sc.discoveryPort = 0;
        for (int i = 0; i < kReaders; ++i)
            sc.readers << config(QStringLiteral("Fleet%1").arg(i + 1), i + 1);
        sim::Simulator simulator(sc);
        QString error;
        if (!simulator.start(&error)) {
            std::fprintf(stderr, "cannot start the readers: %s\n", qPrintable(error));
            return 1;
        }
        qputenv("VELMARROW_DISCOVERY_TARGETS",
                QStringLiteral("127.255.255.255:%1").arg(simulator.discoveryPort()).toLocal8Bit());
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("fleet.lcf"));
        QStringList listing = simulator.readers().first()->parameters().configurationListing();
        link::writeConfigurationFile(file, listing);
        QString out, err;
        QTextStream o(&out), e(&err);
        QElapsedTimer t;
        t.start();
        const int code = cli::run({QStringLiteral("load"), file, QStringLiteral("--all")}, {o, e, false});
        const double ms = t.nsecsElapsed() / 1e6;
        std::printf("%lld-line configuration into %d readers (velmarrow-cli load --all, discovery included): "
                    "%.0f ms, exit code %d (goal < 5000)\n",
                    static_cast<long long>(listing.size()), kReaders, ms, code);
        if (code != 0)
            std::fprintf(stderr, "%s%s", qPrintable(out), qPrintable(err));
        std::printf("readers reported: %lld\n",
                    static_cast<long long>(out.count(QStringLiteral(" refused"))));
    }
    return 0;
}
