#include "cli/clicommands.h"

#include "link/configdiff.h"
#include "link/configuration.h"
#include "link/coordinator.h"
#include "link/device.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <memory>
#include <vector>

namespace vm::cli {

namespace {

constexpr int kDefaultDiscoveryWaitMs = 2000;
// Discovery is over once no new reader answered for this long.
constexpr int kDiscoveryQuietMs = 300;
constexpr int kProgressIntervalMs = 100;

struct Options {
    QString command;
    QStringList arguments;
    bool json = false;
    bool all = false;
    bool withIdentity = false;
    int waitMs = kDefaultDiscoveryWaitMs;
};

// Runs the event loop for up to `ms`, or until `done` holds (looked at every 10 ms).
void waitFor(const std::function<bool()>& done, int ms) {
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QTimer tick;
    tick.setInterval(10);
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        if (done() || clock.elapsed() >= ms)
            loop.quit();
    });
    tick.start();
    if (!done())
        loop.exec();
}

class Tool {
public:
    Tool(const Options& options, Streams streams)
        : m_options(options)
        , m_out(streams.out)
        , m_err(streams.err)
        , m_progress(streams.progress && !options.json) {}

    int run();

private:
    int list();
    int show();
    int save();
    int load();
    int compare();

    // The readers named on the command line (or every discovered one), each opened for
    // commands; those that cannot be reached are reported and left out.
    std::vector<vm::link::Device*> openReaders(const QStringList& targets);
    vm::link::Device* openReader(const QString& target);
    void discover(const QStringList& names);
    void problem(const QString& text) { m_err << "velmarrow-cli: " << text << Qt::endl; }
    void progress(const QString& text);
    void endProgress();
    void worst(int code) { m_exit = std::max(m_exit, code); }
    QString readerLabel(vm::link::Device* d) const;
    void printJson(const QJsonObject& o) { m_out << QJsonDocument(o).toJson(QJsonDocument::Indented); }

    const Options& m_options;
    QTextStream& m_out;
    QTextStream& m_err;
    bool m_progress;
    bool m_progressShown = false;
    int m_exit = Success;
    QJsonArray m_problems;
    vm::link::Coordinator m_coordinator;
};

void Tool::progress(const QString& text) {
    if (!m_progress)
        return;
    m_err << '\r' << text << "\x1b[K" << Qt::flush;
    m_progressShown = true;
}

void Tool::endProgress() {
    if (m_progressShown)
        m_err << '\r' << "\x1b[K" << Qt::flush;
    m_progressShown = false;
}

QString Tool::readerLabel(vm::link::Device* d) const {
    const QString address = d->IsSerial() ? d->PortSettings().Name() : d->Address().toString();
    return d->Name() == address ? d->Name() : d->Name() + QStringLiteral(" (") + address + QLatin1Char(')');
}

void Tool::discover(const QStringList& names) {
    m_coordinator.StartDiscovery();
    QElapsedTimer clock;
    clock.start();
    qsizetype seen = 0;
    qint64 lastNew = 0;
    progress(QStringLiteral("looking for readers..."));
    waitFor(
        [&] {
            const QList<vm::link::Device*> devices = m_coordinator.Devices();
            if (devices.size() != seen) {
                seen = devices.size();
                lastNew = clock.elapsed();
                progress(QStringLiteral("looking for readers... %1 found").arg(seen));
            }
            if (!names.isEmpty()) {
                // Named readers: done as soon as each is known.
                for (const QString& name : names) {
                    if (vm::link::isDottedAddress(name) || m_coordinator.IsSerialPort(name))
                        continue;
                    if (std::none_of(devices.cbegin(), devices.cend(),
                                     [&](const vm::link::Device* d) { return d->Name() == name; }))
                        return false;
                }
                return true;
            }
            return seen > 0 && clock.elapsed() - lastNew >= kDiscoveryQuietMs;
        },
        m_options.waitMs);
    endProgress();
}

vm::link::Device* Tool::openReader(const QString& target) {
    vm::link::Device* device = m_coordinator.DeviceFor(target);
    if (!device) {
        problem(QStringLiteral("no reader answers to \"%1\"").arg(target));
        m_problems.append(QJsonObject{{"reader", target}, {"error", "not found"}});
        worst(Unreachable);
        return nullptr;
    }
    if (!device->OpenCommandLink()) {
        problem(QStringLiteral("cannot connect to %1").arg(target));
        m_problems.append(QJsonObject{{"reader", target}, {"error", "cannot connect"}});
        worst(Unreachable);
        return nullptr;
    }
    return device;
}

std::vector<vm::link::Device*> Tool::openReaders(const QStringList& targets) {
    std::vector<vm::link::Device*> out;
    QStringList names = targets;
    const bool needDiscovery =
        m_options.all || std::any_of(names.cbegin(), names.cend(), [this](const QString& n) {
            return !vm::link::isDottedAddress(n) && !m_coordinator.IsSerialPort(n);
        });
    if (needDiscovery)
        discover(m_options.all ? QStringList() : names);
    if (m_options.all) {
        for (vm::link::Device* d : m_coordinator.Devices())
            names << d->Name();
        if (names.isEmpty()) {
            problem(QStringLiteral("no reader was discovered"));
            worst(Unreachable);
        }
    }
    names.removeDuplicates();
    int opened = 0;
    for (const QString& name : std::as_const(names)) {
        progress(QStringLiteral("connecting %1/%2...").arg(++opened).arg(names.size()));
        if (vm::link::Device* d = openReader(name))
            out.push_back(d);
    }
    endProgress();
    return out;
}

int Tool::list() {
    discover({});
    const QList<vm::link::Device*> devices = m_coordinator.Devices();
    if (m_options.json) {
        QJsonArray readers;
        for (const vm::link::Device* d : devices)
            readers.append(QJsonObject{{"name", d->Name()},
                                       {"address", d->Address().toString()},
                                       {"commandPort", int(d->CommandPort())},
                                       {"version", d->SoftwareVersion()},
                                       {"controller", d->ControllerName()},
                                       {"mac", d->MacAddress()}});
        printJson(QJsonObject{{"readers", readers}});
    } else {
        for (const vm::link::Device* d : devices)
            m_out << d->Name() << '\t' << d->Address().toString() << '\t' << d->SoftwareVersion() << '\t'
                  << (d->ControllerName().isEmpty() ? QStringLiteral("-") : d->ControllerName()) << Qt::endl;
    }
    return devices.isEmpty() ? Unreachable : Success;
}

int Tool::show() {
    const auto readers = openReaders({m_options.arguments.value(0)});
    if (readers.empty())
        return m_exit;
    vm::link::Device* d = readers.front();
    QStringList lines;
    QString error;
    if (!vm::link::readReaderConfiguration(d->PortSettings(), &lines, &error)) {
        problem(readerLabel(d) + QStringLiteral(": ") + error);
        return Unreachable;
    }
    if (m_options.json)
        printJson(QJsonObject{{"reader", d->Name()}, {"lines", QJsonArray::fromStringList(lines)}});
    else
        for (const QString& line : std::as_const(lines))
            m_out << line << Qt::endl;
    d->Close();
    return Success;
}

int Tool::save() {
    const QString file = m_options.arguments.value(1);
    const auto readers = openReaders({m_options.arguments.value(0)});
    if (readers.empty())
        return m_exit;
    vm::link::Device* d = readers.front();
    QStringList lines;
    QString error;
    if (!vm::link::readReaderConfiguration(d->PortSettings(), &lines, &error)) {
        problem(readerLabel(d) + QStringLiteral(": ") + error);
        return Unreachable;
    }
    d->Close();
    if (!vm::link::writeConfigurationFile(file, lines, &error)) {
        problem(error);
        return FileProblem;
    }
    if (m_options.json)
        printJson(QJsonObject{{"reader", d->Name()}, {"file", file}, {"lines", int(lines.size())}});
    else
        m_out << "saved " << lines.size() << " lines from " << readerLabel(d) << " to "
              << QDir::toNativeSeparators(file) << Qt::endl;
    return Success;
}

int Tool::load() {
    const QString file = m_options.arguments.value(0);
    QStringList lines;
    QString error;
    if (!vm::link::readConfigurationFile(file, &lines, &error)) {
        problem(error);
        return FileProblem;
    }
    const auto readers = openReaders(m_options.arguments.mid(1));

    struct Job {
        vm::link::Device* device;
        std::unique_ptr<vm::link::ConfigurationLoad> load;
        QString error;
    };
    std::vector<Job> jobs;
    for (vm::link::Device* d : readers) {
        Job job{d, nullptr, {}};
        const vm::link::CommandReply control = d->PortSettings().SendCommand(QStringLiteral("CONTROL"));
        if (!control.ok) {
            job.error = QStringLiteral("control refused: ") + control.errorText;
            worst(Unreachable);
        } else {
            job.load = std::make_unique<vm::link::ConfigurationLoad>(d->PortSettings(), lines,
                                                                     m_options.withIdentity);
        }
        jobs.push_back(std::move(job));
    }
    // Every reader loads at once; each sends its next line as its previous one is answered.
    int total = 0;
    for (Job& job : jobs)
        if (job.load) {
            total += job.load->total();
            job.load->start();
        }
    auto allDone = [&] {
        return std::all_of(jobs.cbegin(), jobs.cend(),
                           [](const Job& j) { return !j.load || j.load->isFinished(); });
    };
    QElapsedTimer shown;
    shown.start();
    QEventLoop loop;
    for (Job& job : jobs) {
        if (!job.load)
            continue;
        QObject::connect(job.load.get(), &vm::link::ConfigurationLoad::finished, &loop, [&] {
            if (allDone())
                loop.quit();
        });
        if (m_progress)
            QObject::connect(job.load.get(), &vm::link::ConfigurationLoad::lineDone, &loop, [&] {
                if (shown.elapsed() < kProgressIntervalMs)
                    return;
                shown.restart();
                int done = 0, finished = 0;
                for (const Job& j : jobs)
                    if (j.load) {
                        done += j.load->done();
                        finished += j.load->isFinished() ? 1 : 0;
                    }
                progress(QStringLiteral("loading: %1/%2 lines, %3/%4 readers done")
                             .arg(done)
                             .arg(total)
                             .arg(finished)
                             .arg(jobs.size()));
            });
    }
    if (!allDone())
        loop.exec();
    endProgress();

    QJsonArray results;
    for (Job& job : jobs) {
        vm::link::CommandResponse& channel = job.device->PortSettings();
        if (job.load)
            channel.SendCommand(QStringLiteral("RELEASE"));
        job.device->Close();
        QJsonObject r{{"reader", job.device->Name()}, {"address", job.device->Address().toString()}};
        if (!job.load) {
            r.insert("error", job.error);
            problem(readerLabel(job.device) + QStringLiteral(": ") + job.error);
            results.append(r);
            continue;
        }
        const vm::link::LoadSummary& s = job.load->summary();
        if (s.errors > 0)
            worst(Refused);
        if (s.lost)
            worst(Unreachable);
        r.insert("loaded", s.loaded);
        r.insert("refused", s.errors);
        r.insert("identitySkipped", s.identitySkipped);
        QJsonArray failures;
        for (const vm::link::LineOutcome& f : s.failures)
            failures.append(QJsonObject{{"line", f.command}, {"reason", f.reason()}});
        r.insert("failures", failures);
        if (s.lost)
            r.insert("error", s.lostReason);
        results.append(r);
        if (!m_options.json) {
            m_out << readerLabel(job.device) << ": " << s.loaded << " lines loaded, " << s.errors
                  << " refused";
            if (s.identitySkipped > 0)
                m_out << ", " << s.identitySkipped << " identity lines left out";
            m_out << Qt::endl;
            for (const vm::link::LineOutcome& f : s.failures)
                m_out << "  refused: " << f.command << "  (" << f.reason() << ")" << Qt::endl;
            if (s.lost)
                m_out << "  " << s.lostReason << Qt::endl;
        }
    }
    for (const QJsonValue& p : std::as_const(m_problems))
        if (std::none_of(results.begin(), results.end(), [&](const QJsonValue& r) {
                return r.toObject().value("reader") == p.toObject().value("reader");
            }))
            results.append(p);
    if (m_options.json)
        printJson(QJsonObject{{"file", file}, {"readers", results}, {"exitCode", m_exit}});
    return m_exit;
}

int Tool::compare() {
    const QString file = m_options.arguments.value(1);
    QStringList fileLines;
    QString error;
    if (!vm::link::readConfigurationFile(file, &fileLines, &error)) {
        problem(error);
        return FileProblem;
    }
    const auto readers = openReaders({m_options.arguments.value(0)});
    if (readers.empty())
        return m_exit;
    vm::link::Device* d = readers.front();
    QStringList readerLines;
    if (!vm::link::readReaderConfiguration(d->PortSettings(), &readerLines, &error)) {
        problem(readerLabel(d) + QStringLiteral(": ") + error);
        return Unreachable;
    }
    d->Close();
    const QList<vm::link::ConfigDifference> rows = vm::link::compareConfigurations(readerLines, fileLines);
    if (m_options.json) {
        QJsonArray out;
        for (const vm::link::ConfigDifference& r : rows)
            out.append(QJsonObject{{"parameter", r.name},
                                   {"field", r.field},
                                   {"reader", r.left},
                                   {"file", r.right},
                                   {"identity", r.identity}});
        printJson(QJsonObject{{"reader", d->Name()}, {"file", file}, {"differences", out}});
    } else {
        for (const vm::link::ConfigDifference& r : rows) {
            if (r.field < 0)
                m_out << r.name << ": only " << (r.leftLine.isEmpty() ? "in the file: " : "on the reader: ")
                      << (r.leftLine.isEmpty() ? r.rightLine : r.leftLine);
            else
                m_out << r.name << " field " << r.field << ": reader " << r.left << ", file " << r.right;
            if (r.identity)
                m_out << "  [identity]";
            m_out << Qt::endl;
        }
    }
    return rows.isEmpty() ? Success : Refused;
}

int Tool::run() {
    const QString& c = m_options.command;
    const int argc = int(m_options.arguments.size());
    auto wrong = [this](const QString& why) {
        problem(why);
        m_err << usageText();
        return Usage;
    };
    if (c == QLatin1String("list"))
        return argc == 0 ? list() : wrong(QStringLiteral("list takes no arguments"));
    if (c == QLatin1String("show"))
        return argc == 1 ? show() : wrong(QStringLiteral("show takes one reader"));
    if (c == QLatin1String("save"))
        return argc == 2 ? save() : wrong(QStringLiteral("save takes a reader and a file"));
    if (c == QLatin1String("compare"))
        return argc == 2 ? compare() : wrong(QStringLiteral("compare takes a reader and a file"));
    if (c == QLatin1String("load")) {
        if (argc < 1 || (argc == 1 && !m_options.all) || (argc > 1 && m_options.all))
            return wrong(QStringLiteral("load takes a file and readers, or a file and --all"));
        return load();
    }
    return wrong(c.isEmpty() ? QStringLiteral("no command given") : QStringLiteral("unknown command ") + c);
}

} // namespace

QString usageText() {
    return QStringLiteral(
        "Usage: velmarrow-cli [options] <command> [arguments]\n"
        "\n"
        "Commands:\n"
        "  list                         the readers that answer discovery\n"
        "  show <reader>                print a reader's configuration\n"
        "  save <reader> <file.lcf>     save a reader's configuration to a file\n"
        "  load <file.lcf> <reader>...  load a file into readers (control is taken and given back)\n"
        "  load <file.lcf> --all        ... into every discovered reader\n"
        "  compare <reader> <file.lcf>  the fields in which the file differs from the reader\n"
        "\n"
        "A reader is a discovered name, a dotted address or a serial port (\"SIM1:\").\n"
        "\n"
        "Options:\n"
        "  --json            results as JSON on standard output\n"
        "  --all             every discovered reader (load)\n"
        "  --with-identity   also load the lines that name and address a reader (IP, NAME)\n"
        "  --wait <ms>       how long discovery may take (default 2000)\n"
        "  -h, --help        this text\n"
        "\n"
        "Exit codes: 0 done; 1 a reader refused lines, or compare found differences;\n"
        "2 wrong command line; 3 a reader was not found, not reachable or refused control;\n"
        "4 a file could not be read or written. With several, the highest.\n");
}

int run(const QStringList& arguments, Streams streams) {
    Options options;
    QStringList positional;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& a = arguments.at(i);
        if (a == QLatin1String("--json")) {
            options.json = true;
        } else if (a == QLatin1String("--all")) {
            options.all = true;
        } else if (a == QLatin1String("--with-identity")) {
            options.withIdentity = true;
        } else if (a == QLatin1String("--wait")) {
            bool ok = false;
            options.waitMs = arguments.value(++i).toInt(&ok);
            if (!ok || options.waitMs < 0 || options.waitMs > 600000) {
                streams.err << "velmarrow-cli: --wait takes milliseconds from 0 to 600000" << Qt::endl;
                return Usage;
            }
        } else if (a == QLatin1String("-h") || a == QLatin1String("--help")) {
            streams.out << usageText();
            return Success;
        } else if (a.startsWith(QLatin1String("--"))) {
            streams.err << "velmarrow-cli: unknown option " << a << Qt::endl << usageText();
            return Usage;
        } else {
            positional << a;
        }
    }
    options.command = positional.value(0);
    options.arguments = positional.mid(1);
    Tool tool(options, streams);
    const int code = tool.run();
    streams.out.flush();
    streams.err.flush();
    return code;
}

} // namespace vm::cli
