// lumivex-sim: one or more simulated Lumivex readers on loopback.

#include "sim/adminconsole.h"
#include "sim/catalogue.h"
#include "sim/simulator.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QStandardPaths>
#include <QTextStream>

#include <csignal>

using namespace vm::sim;

namespace {

QStringList listOption(const QCommandLineParser& p, const QString& name) {
    QStringList out;
    for (const QString& v : p.values(name))
        out += v.split(QLatin1Char(','), Qt::SkipEmptyParts);
    return out;
}

constexpr int kMaxReaders = 1000;

// Reader k's own loopback address: 127.0.0.1 to 127.0.0.254, then 127.0.1.1 and on, so that
// every reader of a large fleet keeps the usual ports (.0 and .255 are left out).
QString readerAddress(int k) {
    return QStringLiteral("127.0.%1.%2").arg((k - 1) / 254).arg((k - 1) % 254 + 1);
}

int fail(const QString& text) {
    QTextStream(stderr) << "lumivex-sim: " << text << '\n';
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    // Hundreds of readers are thousands of listening sockets. GLib's event loop looks its
    // whole list of sockets through whenever one is switched on or off (every read of a
    // command does both); Qt's own loop keeps them in a table.
    if (qEnvironmentVariableIsEmpty("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("lumivex-sim"));
    QCoreApplication::setOrganizationName(QStringLiteral("Velmarrow"));

    QCommandLineParser p;
    p.setApplicationDescription(
        QStringLiteral(
            "Simulated Lumivex readers on loopback: a TCP command port (type a command, read the reply, "
            "e.g. with nc), a TCP data port for records and file transfers, UDP discovery and optionally a "
            "serial line on a pseudo-terminal.\n\n"
            "With --readers N (at most 1000), reader k listens on an address of its own with the default "
            "ports: 127.0.0.1 to 127.0.0.254 for the first 254, then 127.0.1.1 to 127.0.1.254 and so on. "
            "A reader that no client is connected to and that has no serial line runs no continuous "
            "read cycles, so that hundreds of idle readers cost almost nothing; one held only through "
            "its command port cycles at most twice a second, reporting its last real cycle again. List "
            "options take "
            "comma-separated values, one per reader (the last value repeats).\n\n") +
        AdminConsole::helpText());
    p.addHelpOption();
    p.addOption({QStringLiteral("readers"), QStringLiteral("Number of readers (default 1)."),
                 QStringLiteral("N"), QStringLiteral("1")});
    p.addOption({QStringLiteral("name"), QStringLiteral("Reader names (default Lumivex1, Lumivex2, ...)."),
                 QStringLiteral("NAMES")});
    p.addOption(
        {QStringLiteral("version"),
         QStringLiteral(
             "Software versions a.b.c.d (default 3.0.2.1); the version decides the reader's generation."),
         QStringLiteral("VERSIONS")});
    p.addOption(
        {QStringLiteral("level"),
         QStringLiteral(
             "Firmware levels 2-10 or 99 instead of versions (a typical version of each level is used)."),
         QStringLiteral("LEVELS")});
    p.addOption({QStringLiteral("address"),
                 QStringLiteral("Loopback addresses (default 127.0.0.k). Readers sharing an address get "
                                "consecutive port pairs."),
                 QStringLiteral("ADDRESSES")});
    p.addOption({QStringLiteral("command-port"), QStringLiteral("Command port (default 4371, 0 = any free)."),
                 QStringLiteral("PORT"), QStringLiteral("4371")});
    p.addOption({QStringLiteral("data-port"), QStringLiteral("Data port (default 4372, 0 = any free)."),
                 QStringLiteral("PORT"), QStringLiteral("4372")});
    p.addOption(
        {QStringLiteral("output-port"),
         QStringLiteral("Formatted output port TCP1 (default 4381); TCP2, TCP3 and TCP4 are the three "
                        "ports after it. Each sends the reader's formatted reports to every client "
                        "(watch one with nc); the serial line is the STANDARD port. 0 = any free."),
         QStringLiteral("PORT"), QStringLiteral("4381")});
    p.addOption({QStringLiteral("discovery-port"), QStringLiteral("UDP discovery port (default 4370)."),
                 QStringLiteral("PORT"), QStringLiteral("4370")});
    p.addOption({QStringLiteral("state-dir"),
                 QStringLiteral("Folder of the readers' flash files (default: the user's data folder)."),
                 QStringLiteral("DIR")});
    p.addOption({QStringLiteral("no-flash"),
                 QStringLiteral("Keep flash in memory only: nothing survives a restart.")});
    p.addOption(
        {QStringLiteral("serial"),
         QStringLiteral("Readers that also listen on a pseudo-terminal: 'all' or reader numbers (e.g. 1,3)."),
         QStringLiteral("READERS")});
    p.addOption({QStringLiteral("lights"),
                 QStringLiteral("External light channels per reader: 0, 1 or 10 (level 8 and later)."),
                 QStringLiteral("COUNTS")});
    p.addOption({QStringLiteral("rate"),
                 QStringLiteral("Continuous read cycles per second (default 10, at most 1000)."),
                 QStringLiteral("RATE"), QStringLiteral("10")});
    p.addOption({QStringLiteral("replay"),
                 QStringLiteral("Each read cycle reports the last image and result again without acquiring "
                                "or decoding: the readers stream records as fast as --rate asks.")});
    p.addOption({QStringLiteral("admin-port"),
                 QStringLiteral("Loopback TCP port of the admin interface (default 4379, 0 = none)."),
                 QStringLiteral("PORT"), QStringLiteral("4379")});
    p.addOption(
        {QStringLiteral("no-stdin"), QStringLiteral("Do not read admin commands from standard input.")});
    p.addOption({QStringLiteral("log"),
                 QStringLiteral("Write every command, reply, record and event as JSON lines to FILE."),
                 QStringLiteral("FILE")});
    p.addOption({QStringLiteral("list-commands"),
                 QStringLiteral("Print the reader's command catalogue (Markdown) and exit.")});
    p.process(app);

    if (p.isSet(QStringLiteral("list-commands"))) {
        QTextStream(stdout) << commandCatalogueMarkdown();
        return 0;
    }

    bool ok = false;
    const int count = p.value(QStringLiteral("readers")).toInt(&ok);
    if (!ok || count < 1 || count > kMaxReaders)
        return fail(QStringLiteral("--readers must be 1 to %1").arg(kMaxReaders));
    const int cport = p.value(QStringLiteral("command-port")).toInt(&ok);
    if (!ok || cport < 0 || cport > 65535)
        return fail(QStringLiteral("bad --command-port"));
    const int dport = p.value(QStringLiteral("data-port")).toInt();
    const int oport = p.value(QStringLiteral("output-port")).toInt(&ok);
    if (!ok || oport < 0 || oport > 65535 - 4 * 254)
        return fail(QStringLiteral("bad --output-port"));
    const int discovery = p.value(QStringLiteral("discovery-port")).toInt();
    const double rate = p.value(QStringLiteral("rate")).toDouble(&ok);
    if (!ok || rate <= 0 || rate > CycleDriver::kMaxRate)
        return fail(QStringLiteral("--rate must be above 0 and at most %1").arg(CycleDriver::kMaxRate));

    const QStringList names = listOption(p, QStringLiteral("name"));
    const QStringList versions = listOption(p, QStringLiteral("version"));
    const QStringList levels = listOption(p, QStringLiteral("level"));
    const QStringList addresses = listOption(p, QStringLiteral("address"));
    const QStringList lights = listOption(p, QStringLiteral("lights"));
    const QStringList serial = listOption(p, QStringLiteral("serial"));
    QString stateDir = p.value(QStringLiteral("state-dir"));
    if (stateDir.isEmpty() && !p.isSet(QStringLiteral("no-flash")))
        stateDir = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);

    SimulatorConfig config;
    config.discoveryPort = quint16(discovery);
    config.logPath = p.value(QStringLiteral("log"));
    QHash<QString, int> perAddress;
    for (int k = 1; k <= count; ++k) {
        ReaderConfig rc;
        rc.name = names.value(k - 1, QStringLiteral("Lumivex%1").arg(k));
        rc.softwareVersion = Simulator::versionFor(versions, levels, k);
        if (firmwareLevelOf(rc.softwareVersion) == 0)
            return fail(QStringLiteral("software version %1 has no firmware level").arg(rc.softwareVersion));
        const QString addr =
            addresses.isEmpty() ? readerAddress(k) : addresses.value(k - 1, addresses.last());
        rc.address = QHostAddress(addr);
        if (rc.address.isNull() || !rc.address.isLoopback())
            return fail(QStringLiteral("%1 is not a loopback address").arg(addr));
        const int nth = perAddress[addr]++;
        rc.commandPort = quint16(cport == 0 ? 0 : cport + 2 * nth);
        rc.dataPort = quint16(dport == 0 ? 0 : dport + 2 * nth);
        rc.outputPort = quint16(oport == 0 ? 0 : oport + 4 * nth);
        rc.stateFolder = p.isSet(QStringLiteral("no-flash")) ? QString() : stateDir;
        rc.lightChannels = lights.isEmpty() ? 0 : lights.value(k - 1, lights.last()).toInt();
        if (rc.lightChannels != 0 && rc.lightChannels != 1 && rc.lightChannels != 10)
            return fail(QStringLiteral("--lights takes 0, 1 or 10"));
        rc.serial = serial.contains(QStringLiteral("all")) || serial.contains(QString::number(k));
        rc.cycleRate = rate;
        rc.replay = p.isSet(QStringLiteral("replay"));
        rc.idleWithoutClients = true;
        config.readers << rc;
    }

    Simulator simulator(config);
    QString error;
    if (!simulator.start(&error))
        return fail(error);

    AdminConsole admin(simulator);
    const int adminPort = p.value(QStringLiteral("admin-port")).toInt();
    if (adminPort > 0 && !admin.listen(quint16(adminPort), &error))
        return fail(error);
    if (!p.isSet(QStringLiteral("no-stdin")))
        admin.readStandardInput();
    QObject::connect(&admin, &AdminConsole::quitRequested, &app, &QCoreApplication::quit);

    QTextStream out(stdout);
    int k = 1;
    for (Reader* r : simulator.readers()) {
        out << QStringLiteral("reader %1: %2 version %3 (level %4) at %5 command %6 data %7")
                   .arg(k++)
                   .arg(r->name(), r->softwareVersion())
                   .arg(r->firmwareLevel())
                   .arg(r->address().toString())
                   .arg(r->commandPort())
                   .arg(r->dataPort());
        out << QStringLiteral(" output TCP1-TCP4 %1,%2,%3,%4")
                   .arg(r->outputPort(1))
                   .arg(r->outputPort(2))
                   .arg(r->outputPort(3))
                   .arg(r->outputPort(4));
        if (!r->serialDevice().isEmpty())
            out << QStringLiteral(" serial %1 (%2:)").arg(r->serialDevice(), r->serialPortName());
        out << '\n';
    }
    out << QStringLiteral("discovery on UDP %1").arg(simulator.discoveryPort());
    if (admin.port())
        out << QStringLiteral(", admin on 127.0.0.1:%1").arg(admin.port());
    out << Qt::endl;

    // Ctrl-C and kill end the event loop so that the serial port files are removed.
    for (int sig : {SIGINT, SIGTERM})
        std::signal(sig, [](int) { QCoreApplication::quit(); });
    std::signal(SIGPIPE, SIG_IGN);
    return app.exec();
}
