#include "cli/clicommands.h"

#include "cli/historycommands.h"
#include "cli/stopsignals.h"
#include "link/configdiff.h"
#include "link/configuration.h"
#include "link/coordinator.h"
#include "link/device.h"
#include "link/fields.h"
#include "link/serialports.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <memory>
#include <optional>
#include <vector>

namespace vm::cli {

namespace {

constexpr int kDefaultDiscoveryWaitMs = 2000;
// Discovery is over once no new reader answered for this long.
constexpr int kDiscoveryQuietMs = 300;
constexpr int kProgressIntervalMs = 100;
// Readers worked on at once: enough to hide each reader's reply time (a line goes out only
// when the one before it is answered, so the readers' waits overlap only across readers),
// few enough that a busy network or host answers every command within its time-out. With
// 8, 500 simulated readers on one 2-core PC took over a minute, with 32 about half a minute.
constexpr int kDefaultJobs = 32;
constexpr int kMaxJobs = 256;
// CONTROL left unanswered is asked again, after 250 ms, then 500 ms, before the reader is
// reported as failed.
constexpr int kControlTries = 3;
constexpr int kRetryBackoffMs = 250;
// A reader's whole listing (SHOW CONFIG, a few kilobytes) is awaited as one reply, so that
// a pool of readers never blocks on one of them: long enough for a busy host on a network,
// and for about ten kilobytes at 9,600 baud on a serial line.
constexpr int kListingTimeoutMs = 3000;
constexpr int kSerialListingTimeoutMs = 30000;
const QString kShowConfig = QStringLiteral("SHOW CONFIG");

struct Options {
    QString command;
    QStringList arguments;
    bool json = false;
    bool all = false;
    bool withIdentity = false;
    int waitMs = kDefaultDiscoveryWaitMs;
    int jobs = kDefaultJobs;
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

QString nativePath(const QString& path) {
    return QDir::toNativeSeparators(path);
}

// The value of the reader's answer to a query ("NAME \"Line3\"" gives Line3).
QString queriedValue(const vm::link::CommandReply& reply) {
    if (!reply.ok || reply.lines.isEmpty())
        return {};
    const QString& line = reply.lines.first();
    const qsizetype blank = line.indexOf(QLatin1Char(' '));
    return blank < 0 ? QString() : vm::link::unquoteField(line.mid(blank + 1).trimmed());
}

// Reader labels as a person sorts them: runs of digits by their value, so that Line2 comes
// before Line10 and 127.0.0.9 before 127.0.0.10; letters without regard to case.
int readerOrder(const QString& a, const QString& b) {
    qsizetype i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (a.at(i).isDigit() && b.at(j).isDigit()) {
            qsizetype ei = i, ej = j;
            while (ei < a.size() && a.at(ei).isDigit())
                ++ei;
            while (ej < b.size() && b.at(ej).isDigit())
                ++ej;
            // Without leading zeros, the longer run is the larger number.
            QStringView da = QStringView(a).mid(i, ei - i), db = QStringView(b).mid(j, ej - j);
            while (da.size() > 1 && da.front() == u'0')
                da = da.mid(1);
            while (db.size() > 1 && db.front() == u'0')
                db = db.mid(1);
            if (da.size() != db.size())
                return da.size() < db.size() ? -1 : 1;
            if (const int c = da.compare(db); c != 0)
                return c;
            i = ei;
            j = ej;
            continue;
        }
        const QChar ca = a.at(i).toCaseFolded(), cb = b.at(j).toCaseFolded();
        if (ca != cb)
            return ca < cb ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < a.size() || j < b.size())
        return i < a.size() ? 1 : -1;
    return a.compare(b);
}

// Works on readers a few at a time: at most `jobs` at once, the next reader taken up as soon
// as one is done, so that a plant's worth of readers never has every connection open at
// once. load, save --all and compare over many readers share it, with one progress line.
class ReaderPool {
public:
    // start(i) begins reader i's work, which ends (now or later) with finished().
    ReaderPool(int jobs, int total, QString verb, std::function<bool()> stopping,
               std::function<void(const QString&)> progress)
        : m_jobs(jobs)
        , m_total(total)
        , m_verb(std::move(verb))
        , m_stopping(std::move(stopping))
        , m_progress(std::move(progress)) {
        m_shown.start();
    }

    // Returns once every reader taken up is done and none is left (or a stop came).
    void run(std::function<void(int)> start) {
        m_start = std::move(start);
        startMore();
        if (m_running > 0)
            m_loop.exec();
    }
    void finished(bool failed) {
        --m_running;
        ++m_done;
        if (failed)
            ++m_failed;
        showProgress(true);
        startMore();
        if (m_running == 0 && (m_next >= m_total || m_stopping()))
            m_loop.quit();
    }
    // The progress line, at most every kProgressIntervalMs unless forced.
    void showProgress(bool force) {
        if (!m_progress || (!force && m_shown.elapsed() < kProgressIntervalMs))
            return;
        m_shown.restart();
        m_progress(QStringLiteral("%1: %2/%3 readers done, %4 running, %5 failed")
                       .arg(m_verb)
                       .arg(m_done)
                       .arg(m_total)
                       .arg(m_running)
                       .arg(m_failed));
    }
    // Timers and callbacks of the readers' work belong to this loop's lifetime.
    QObject* context() { return &m_loop; }

private:
    void startMore() {
        while (!m_stopping() && m_running < m_jobs && m_next < m_total) {
            ++m_running;
            m_start(m_next++);
        }
    }

    const int m_jobs;
    const int m_total;
    const QString m_verb;
    std::function<bool()> m_stopping;
    std::function<void(const QString&)> m_progress;
    std::function<void(int)> m_start;
    QEventLoop m_loop;
    QElapsedTimer m_shown;
    int m_next = 0;
    int m_running = 0;
    int m_done = 0;
    int m_failed = 0;
};

// A reader's listing as the pool asks for it.
struct Listing {
    bool read = false;
    QStringList lines;
    QString error;
    int tries = 0;
};

// One line of compare: "NUMDM field 0: reader 3, file 1".
QString differenceText(const vm::link::ConfigDifference& r) {
    QString text;
    if (r.field < 0)
        text = escaped(r.name) + QStringLiteral(": only ") +
               (r.leftLine.isEmpty() ? QStringLiteral("in the file: ") : QStringLiteral("on the reader: ")) +
               escaped(r.leftLine.isEmpty() ? r.rightLine : r.leftLine);
    else
        text = QStringLiteral("%1 field %2: reader %3, file %4")
                   .arg(escaped(r.name))
                   .arg(r.field)
                   .arg(escaped(r.left), escaped(r.right));
    if (r.identity)
        text += QStringLiteral("  [identity]");
    return text;
}

QJsonObject differenceJson(const vm::link::ConfigDifference& r) {
    return QJsonObject{{"parameter", r.name},
                       {"field", r.field},
                       {"reader", r.left},
                       {"file", r.right},
                       {"identity", r.identity}};
}

// One command line's work. A QObject so that a stop signal reaches it from the event loop
// that runs while it waits for readers.
class Tool : public QObject {
public:
    Tool(const Options& options, Streams streams, StopSignals* stops)
        : m_options(options)
        , m_out(streams.out)
        , m_err(streams.err)
        , m_progress(streams.progress && !options.json) {
        if (stops)
            connect(stops, &StopSignals::stopRequested, this, &Tool::stop);
    }

    int run();

private:
    int dispatch();
    int list();
    int show();
    int save();
    // save --all DIR: every discovered reader's configuration, one file each.
    int saveAll();
    int load();
    int compare();
    // compare over several readers or --all: every reader against the file, a few at a time.
    int compareMany(const QStringList& targets, const QString& file);
    // Asks for a reader's listing without blocking the pool; one that is not answered whole
    // in time is asked for again after 250 ms and 500 ms. `done` is called once.
    void askListing(vm::link::Device* d, const std::shared_ptr<Listing>& listing, QObject* context,
                    const std::function<void()>& done);
    ReaderPool makePool(int total, const QString& verb) {
        return ReaderPool(
            m_options.jobs, total, verb, [this] { return stopping(); },
            m_progress ? [this](const QString& text) { progress(text); }
                       : std::function<void(const QString&)>());
    }

    // A configuration file for load and compare: false (with the problem told and the code
    // recorded) when it cannot be read or holds nothing to send.
    bool readFile(const QString& path, QStringList* lines);
    // The readers named on the command line (or every discovered one), each opened for
    // commands; those that cannot be reached are reported and left out, and a reader named
    // twice (by name and by address) is taken once.
    std::vector<vm::link::Device*> openReaders(const QStringList& targets);
    // The readers named (or every discovered one with --all), found but not yet connected;
    // those not found are reported and left out, a reader named twice is taken once.
    std::vector<vm::link::Device*> findReaders(const QStringList& targets);
    vm::link::Device* findReader(const QString& target);
    // Opens a found reader's command link (and learns a serial reader's name).
    bool connectReader(vm::link::Device* device);
    vm::link::Device* discoveredAt(const QString& address) const;
    void discover(const QStringList& targets);
    void stop(int signal);
    bool stopping() const { return m_stopSignal != 0; }
    void problem(const QString& text);
    void readerProblem(const QString& target, const QString& error, const QString& text);
    void progress(const QString& text);
    void endProgress();
    void worst(int code) { m_exit = std::max(m_exit, code); }
    QString readerLabel(vm::link::Device* d) const;
    QJsonObject readerJson(vm::link::Device* d) const;
    void printJson(const QJsonObject& o) { m_out << QJsonDocument(o).toJson(QJsonDocument::Indented); }

    const Options& m_options;
    QTextStream& m_out;
    QTextStream& m_err;
    bool m_progress;
    bool m_progressShown = false;
    int m_exit = Success;
    int m_stopSignal = 0;
    QJsonObject m_json;          // the document --json prints
    QJsonArray m_problems;       // every problem told on standard error
    QJsonArray m_readerProblems; // readers that were not found or not reached
    QHash<vm::link::Device*, QString> m_serialNames;
    vm::link::Coordinator m_coordinator;
};

void Tool::stop(int signal) {
    if (stopping())
        return; // one stop is under way; it ends within a reply's time-out
    m_stopSignal = signal;
    worst(128 + signal);
}

void Tool::problem(const QString& text) {
    endProgress();
    m_err << "velmarrow-cli: " << escaped(text) << Qt::endl;
    m_problems.append(text);
}

void Tool::readerProblem(const QString& target, const QString& error, const QString& text) {
    problem(text);
    m_readerProblems.append(QJsonObject{{"reader", target}, {"error", error}});
}

void Tool::progress(const QString& text) {
    if (!m_progress)
        return;
    m_err << '\r' << escaped(text) << "\x1b[K" << Qt::flush;
    m_progressShown = true;
}

void Tool::endProgress() {
    if (m_progressShown)
        m_err << '\r' << "\x1b[K" << Qt::flush;
    m_progressShown = false;
}

QString Tool::readerLabel(vm::link::Device* d) const {
    if (d->IsSerial()) {
        // A serial reader is its port; its own name says which reader sits there.
        const QString port = d->PortSettings().Name();
        const QString name = m_serialNames.value(d);
        return escaped(name.isEmpty() ? port + QStringLiteral(" (name unknown)")
                                      : name + QStringLiteral(" (") + port + QLatin1Char(')'));
    }
    const QString address = d->Address().toString();
    return escaped(d->Name() == address ? address
                                        : d->Name() + QStringLiteral(" (") + address + QLatin1Char(')'));
}

QJsonObject Tool::readerJson(vm::link::Device* d) const {
    if (d->IsSerial()) {
        const QString port = d->PortSettings().Name();
        const QString name = m_serialNames.value(d);
        return {{"reader", name.isEmpty() ? port : name}, {"port", port}};
    }
    return {{"reader", d->Name()}, {"address", d->Address().toString()}};
}

vm::link::Device* Tool::discoveredAt(const QString& address) const {
    const QHostAddress wanted(address);
    vm::link::Device* found = nullptr;
    for (vm::link::Device* d : m_coordinator.Devices()) {
        if (!d->isDiscovered() || d->Address() != wanted)
            continue;
        // Readers sharing an address: an address alone means the one on the usual port.
        if (!found || d->CommandPort() == vm::link::kDefaultCommandPort)
            found = d;
    }
    return found;
}

void Tool::discover(const QStringList& targets) {
    m_coordinator.StartDiscovery();
    QElapsedTimer clock;
    clock.start();
    qsizetype seen = 0;
    qint64 lastNew = 0;
    progress(QStringLiteral("looking for readers..."));
    waitFor(
        [&] {
            if (stopping())
                return true;
            const QList<vm::link::Device*> devices = m_coordinator.Devices();
            if (devices.size() != seen) {
                seen = devices.size();
                lastNew = clock.elapsed();
                progress(QStringLiteral("looking for readers... %1 found").arg(seen));
            }
            if (!targets.isEmpty()) {
                // Named readers: done as soon as each is known, by name or by address.
                for (const QString& target : targets) {
                    if (vm::link::looksLikeSerialPortName(target))
                        continue;
                    if (vm::link::isDottedAddress(target)) {
                        // An address alone means the reader on the usual port there; one on
                        // another port may answer first, so it is taken only once discovery
                        // has gone quiet without the usual one.
                        const vm::link::Device* d = discoveredAt(target);
                        if (!d || (d->CommandPort() != vm::link::kDefaultCommandPort &&
                                   clock.elapsed() - lastNew < kDiscoveryQuietMs))
                            return false;
                    } else if (std::none_of(devices.cbegin(), devices.cend(),
                                            [&](const vm::link::Device* d) { return d->Name() == target; })) {
                        return false;
                    }
                }
                return true;
            }
            return seen > 0 && clock.elapsed() - lastNew >= kDiscoveryQuietMs;
        },
        m_options.waitMs);
    endProgress();
}

vm::link::Device* Tool::findReader(const QString& target) {
    // An address that discovery knows is that reader, on the ports it announced; an address
    // nobody announced is tried on the usual ports.
    vm::link::Device* device = vm::link::isDottedAddress(target) ? discoveredAt(target) : nullptr;
    if (!device)
        device = m_coordinator.DeviceFor(target);
    if (!device) {
        readerProblem(target, QStringLiteral("not found"),
                      QStringLiteral("no reader answers to \"%1\"").arg(target));
        worst(Unreachable);
    }
    return device;
}

bool Tool::connectReader(vm::link::Device* device) {
    if (!device->OpenCommandLink())
        return false;
    if (device->IsSerial()) {
        const QString name = queriedValue(device->PortSettings().SendCommand(QStringLiteral("NAME")));
        if (vm::link::isAcceptableReaderName(name))
            m_serialNames.insert(device, name);
    }
    return true;
}

std::vector<vm::link::Device*> Tool::findReaders(const QStringList& targets) {
    std::vector<vm::link::Device*> out;
    // Discovery also tells the ports of a reader given by its address.
    const bool needDiscovery =
        m_options.all || std::any_of(targets.cbegin(), targets.cend(),
                                     [](const QString& n) { return !vm::link::looksLikeSerialPortName(n); });
    if (needDiscovery)
        discover(m_options.all ? QStringList() : targets);
    if (m_options.all) {
        // Every discovered reader, also two that answer to the same name.
        for (vm::link::Device* d : m_coordinator.Devices())
            out.push_back(d);
        if (out.empty() && !stopping()) {
            problem(QStringLiteral("no reader was discovered"));
            worst(Unreachable);
        }
        return out;
    }
    QStringList names = targets;
    names.removeDuplicates();
    for (const QString& name : std::as_const(names)) {
        if (stopping())
            break;
        vm::link::Device* d = findReader(name);
        if (d && std::find(out.cbegin(), out.cend(), d) == out.cend())
            out.push_back(d);
    }
    return out;
}

std::vector<vm::link::Device*> Tool::openReaders(const QStringList& targets) {
    std::vector<vm::link::Device*> out;
    const std::vector<vm::link::Device*> found = findReaders(targets);
    int opened = 0;
    for (vm::link::Device* d : found) {
        if (stopping())
            break;
        progress(QStringLiteral("connecting %1/%2...").arg(++opened).arg(found.size()));
        if (connectReader(d)) {
            out.push_back(d);
            continue;
        }
        const QString target = d->IsSerial() ? d->PortSettings().Name() : d->Address().toString();
        readerProblem(target, QStringLiteral("cannot connect"),
                      QStringLiteral("cannot connect to %1").arg(target));
        worst(Unreachable);
    }
    endProgress();
    return out;
}

bool Tool::readFile(const QString& path, QStringList* lines) {
    m_json.insert("file", path);
    const QFileInfo info(path);
    QString error;
    if (!info.exists())
        error = QStringLiteral("%1: there is no such file").arg(nativePath(path));
    else if (info.isDir())
        error = QStringLiteral("%1 is a folder, not a configuration file").arg(nativePath(path));
    else if (vm::link::readConfigurationFile(path, lines, &error) &&
             std::none_of(lines->cbegin(), lines->cend(), vm::link::isConfigurationCommand))
        // Only empty and "!" lines: loading it would change nothing and look like success.
        error =
            QStringLiteral("%1 holds no settings: it has no line to send to a reader").arg(nativePath(path));
    if (error.isEmpty())
        return true;
    problem(error);
    m_json.insert("error", error);
    worst(FileProblem);
    return false;
}

int Tool::list() {
    discover({});
    const QList<vm::link::Device*> devices = m_coordinator.Devices();
    QJsonArray readers;
    for (const vm::link::Device* d : devices) {
        if (m_options.json)
            readers.append(QJsonObject{{"name", d->Name()},
                                       {"address", d->Address().toString()},
                                       {"commandPort", int(d->CommandPort())},
                                       {"version", d->SoftwareVersion()},
                                       {"controller", d->ControllerName()},
                                       {"mac", d->MacAddress()}});
        else
            m_out << escaped(d->Name()) << '\t' << d->Address().toString() << '\t'
                  << escaped(d->SoftwareVersion()) << '\t'
                  << (d->ControllerName().isEmpty() ? QStringLiteral("-") : escaped(d->ControllerName()))
                  << Qt::endl;
    }
    m_json.insert("readers", readers);
    if (!devices.isEmpty())
        return Success;
    if (!stopping())
        problem(QStringLiteral("no reader answered discovery"));
    return Unreachable;
}

int Tool::show() {
    const auto readers = openReaders({m_options.arguments.value(0)});
    if (readers.empty())
        return m_exit;
    vm::link::Device* d = readers.front();
    m_json = readerJson(d);
    QStringList lines;
    QString error;
    const bool read = vm::link::readReaderConfiguration(d->PortSettings(), &lines, &error);
    d->Close();
    if (!read) {
        problem(readerLabel(d) + QStringLiteral(": ") + error);
        m_json.insert("error", error);
        return Unreachable;
    }
    m_json.insert("lines", QJsonArray::fromStringList(lines));
    // The listing as the reader gives it, so that it can be kept in a file.
    if (!m_options.json)
        for (const QString& line : std::as_const(lines))
            m_out << line << Qt::endl;
    return Success;
}

int Tool::save() {
    const QString file = m_options.arguments.value(1);
    const auto readers = openReaders({m_options.arguments.value(0)});
    if (readers.empty())
        return m_exit;
    vm::link::Device* d = readers.front();
    m_json = readerJson(d);
    m_json.insert("file", file);
    QStringList lines;
    QString error;
    const bool read = vm::link::readReaderConfiguration(d->PortSettings(), &lines, &error);
    d->Close();
    if (!read) {
        problem(readerLabel(d) + QStringLiteral(": ") + error);
        m_json.insert("error", error);
        return Unreachable;
    }
    if (stopping())
        return m_exit;
    if (!vm::link::writeConfigurationFile(file, lines, &error)) {
        problem(error);
        m_json.insert("error", error);
        return FileProblem;
    }
    m_json.insert("lines", int(lines.size()));
    if (!m_options.json)
        m_out << "saved " << lines.size() << " lines from " << readerLabel(d) << " to "
              << escaped(nativePath(file)) << Qt::endl;
    return Success;
}

// A file name for a reader's configuration inside the save folder: its name with every
// character that a file system or a shell could take for something else replaced by '_',
// never beginning with a dot, so that no reader's name picks a place outside the folder.
QString safeFileStem(const QString& name) {
    QString out;
    for (const QChar c : name) {
        const bool plain = c.isLetterOrNumber() || c == QLatin1Char('-') || c == QLatin1Char('_') ||
                           c == QLatin1Char('.') || c == QLatin1Char(' ');
        out += plain && c.unicode() >= 0x20 ? c : QLatin1Char('_');
    }
    out = out.trimmed();
    if (out.isEmpty() || out.startsWith(QLatin1Char('.')))
        out.prepend(QLatin1Char('_'));
    return out.left(100);
}

void Tool::askListing(vm::link::Device* d, const std::shared_ptr<Listing>& listing, QObject* context,
                      const std::function<void()>& done) {
    ++listing->tries;
    d->PortSettings().sendAsync(
        kShowConfig,
        [this, d, listing, context, done](const vm::link::CommandReply& r) {
            if (r.ok) {
                listing->read = true;
                listing->error.clear();
                listing->lines.clear();
                for (const QString& line : r.lines)
                    if (!line.isEmpty())
                        listing->lines << line;
                done();
                return;
            }
            listing->error =
                r.completed ? QStringLiteral("The reader refused \"%1\": ").arg(kShowConfig) + r.errorText
                            : r.errorText;
            // A listing that stops or is not answered is often a busy reader or network; a
            // refusal is the reader's word and is not asked again.
            if (!r.completed && listing->tries < kControlTries && !stopping()) {
                QTimer::singleShot(kRetryBackoffMs << (listing->tries - 1), context, [=, this] {
                    if (stopping())
                        done();
                    else
                        askListing(d, listing, context, done);
                });
                return;
            }
            done();
        },
        d->IsSerial() ? kSerialListingTimeoutMs : kListingTimeoutMs);
}

int Tool::saveAll() {
    const QString folder = m_options.arguments.value(0);
    m_json.insert("folder", folder);
    const QFileInfo info(folder);
    if (!info.isDir()) {
        const QString error = QStringLiteral("%1 is not a folder").arg(nativePath(folder));
        problem(error);
        m_json.insert("error", error);
        return FileProblem;
    }
    const QDir dir(info.absoluteFilePath());
    std::vector<vm::link::Device*> readers = findReaders({});
    std::stable_sort(readers.begin(), readers.end(), [this](vm::link::Device* a, vm::link::Device* b) {
        return readerOrder(readerLabel(a), readerLabel(b)) < 0;
    });
    struct Save {
        vm::link::Device* device = nullptr;
        QString path;
        std::shared_ptr<Listing> listing = std::make_shared<Listing>();
        bool done = false;    // its listing came or was given up, and the file was written or not
        bool written = false; // ... and written
    };
    std::vector<Save> saves(readers.size());
    // The files are named in the readers' order before any is saved, so that of two readers
    // of one name the first in that order gets the plain name whichever answers first.
    QSet<QString> taken;
    for (size_t i = 0; i < readers.size(); ++i) {
        saves[i].device = readers[i];
        const QString stem = safeFileStem(readers[i]->Name());
        QString fileName = stem + QStringLiteral(".lcf");
        for (int n = 2; taken.contains(fileName.toLower()); ++n)
            fileName = stem + QStringLiteral("-%1.lcf").arg(n);
        taken.insert(fileName.toLower());
        saves[i].path = dir.filePath(fileName);
    }
    ReaderPool pool = makePool(int(saves.size()), QStringLiteral("saving"));
    pool.run([&](int i) {
        Save& s = saves[size_t(i)];
        if (!connectReader(s.device)) {
            s.listing->error = QStringLiteral("cannot connect to ") + s.device->Address().toString();
            s.done = true;
            worst(Unreachable);
            pool.finished(true);
            return;
        }
        askListing(s.device, s.listing, pool.context(), [&, i] {
            Save& s = saves[size_t(i)];
            s.device->Close();
            // Nothing is written after a stop: the reader counts as neither saved nor failed.
            if (stopping()) {
                pool.finished(false);
                return;
            }
            s.done = true;
            if (!s.listing->read) {
                worst(Unreachable);
            } else if (vm::link::writeConfigurationFile(s.path, s.listing->lines, &s.listing->error)) {
                s.written = true;
            } else {
                worst(FileProblem);
            }
            pool.finished(!s.written);
        });
    });
    endProgress();

    QJsonArray results;
    int saved = 0;
    int failed = int(m_readerProblems.size());
    for (const Save& s : saves) {
        if (!s.done)
            continue;
        QJsonObject r = readerJson(s.device);
        const int tries = s.listing->tries;
        if (tries > 1)
            r.insert("tries", tries);
        if (!s.written) {
            ++failed;
            r.insert("error", s.listing->error);
            problem(readerLabel(s.device) + QStringLiteral(": ") + s.listing->error);
            if (!m_options.json)
                m_out << readerLabel(s.device) << ": failed: " << escaped(s.listing->error) << Qt::endl;
        } else {
            ++saved;
            r.insert("file", s.path);
            r.insert("lines", int(s.listing->lines.size()));
            if (!m_options.json) {
                m_out << readerLabel(s.device) << ": " << s.listing->lines.size() << " lines saved to "
                      << escaped(nativePath(s.path));
                if (tries > 1)
                    m_out << ", on try " << tries;
                m_out << Qt::endl;
            }
        }
        results.append(r);
    }
    for (const QJsonValue& p : std::as_const(m_readerProblems))
        results.append(p);
    m_json.insert("readers", results);
    const int readerCount = int(readers.size() + m_readerProblems.size());
    m_json.insert("total", QJsonObject{{"readers", readerCount}, {"saved", saved}, {"failed", failed}});
    if (!m_options.json)
        m_out << readerCount << (readerCount == 1 ? " reader: " : " readers: ") << saved << " saved, "
              << failed << " failed" << Qt::endl;
    return m_exit;
}

int Tool::load() {
    const QString file = m_options.arguments.value(0);
    QStringList lines;
    if (!readFile(file, &lines))
        return m_exit;
    const std::vector<vm::link::Device*> readers = findReaders(m_options.arguments.mid(1));

    struct Job {
        vm::link::Device* device = nullptr;
        std::unique_ptr<vm::link::ConfigurationLoad> load;
        QString error;
        int tries = 0;              // CONTROL requests sent
        bool started = false;       // taken up by a worker
        bool finished = false;      // control given back (or never taken), link closed
        bool controlled = false;    // CONTROL was granted
        bool stopped = false;       // a signal ended it before its last line
        vm::link::LoadSummary kept; // its summary once stopped
        int notSent = 0;
        // Its summary once the lines left unanswered were sent again, and how many of them
        // the reader answered then.
        std::optional<vm::link::LoadSummary> afterResend;
        int resent = 0;
    };
    std::vector<Job> jobs(readers.size());
    for (size_t i = 0; i < readers.size(); ++i)
        jobs[i].device = readers[i];
    int givenBack = 0;
    ReaderPool pool = makePool(int(jobs.size()), QStringLiteral("loading"));
    QObject* loop = pool.context();
    // A worker is free again once its reader has control back and its link is closed.
    auto finishJob = [&](Job& job) {
        job.device->Close();
        job.finished = true;
        pool.finished((!job.controlled && !job.stopped) || (job.load && job.load->summary().lost));
    };
    // Control goes back whatever happened, so that no reader stays locked to this PC. A
    // RELEASE left unanswered (a busy reader or network) is asked again after a growing pause
    // like CONTROL: a release has no effect on a reader that is not held, so asking twice does
    // no harm, while a reader left held locks every other station out. A lost link is not
    // asked again: the reader frees a station's control when its last link closes.
    std::function<void(Job&, int)> releaseTry = [&](Job& job, int attempt) {
        Job* jp = &job;
        job.device->PortSettings().sendAsync(
            QStringLiteral("RELEASE"), [&, jp, attempt](const vm::link::CommandReply& r) {
                Job& job = *jp;
                if (r.ok) {
                    ++givenBack;
                    finishJob(job);
                    return;
                }
                if (!r.completed && attempt < kControlTries && job.device->PortSettings().IsOpen()) {
                    QTimer::singleShot(kRetryBackoffMs << (attempt - 1), loop,
                                       [&, jp, attempt] { releaseTry(*jp, attempt + 1); });
                    return;
                }
                problem(readerLabel(job.device) + QStringLiteral(": control could not be given back: ") +
                        r.errorText);
                worst(Unreachable);
                finishJob(job);
            });
    };
    auto release = [&](Job& job) { releaseTry(job, 1); };
    // Stopped, a reader sends no further line: its load ends as its line on the way is answered.
    auto stopJob = [](Job& job) {
        job.kept = job.load->summary();
        job.notSent = job.load->total() - job.load->done();
        job.stopped = true;
        job.load.reset();
    };
    // A line the reader left unanswered (a busy reader or network) is sent again once the file
    // is through, after 250 ms and then 500 ms. A configuration line sets a value, so sending it
    // twice does no harm; the file's later lines of the same keyword go again after it, so
    // that what the file sets last is still what the reader keeps.
    std::function<void(Job&, int)> resendUnanswered = [&](Job& job, int round) {
        const auto unanswered = [](const vm::link::LoadSummary& s) {
            return std::any_of(s.failures.cbegin(), s.failures.cend(),
                               [](const vm::link::LineOutcome& f) { return !f.answered; });
        };
        if (stopping() || round >= kControlTries || job.afterResend->lost || !unanswered(*job.afterResend)) {
            release(job);
            return;
        }
        Job* jp = &job;
        QTimer::singleShot(kRetryBackoffMs << (round - 1), loop, [&, jp, round] {
            Job& job = *jp;
            if (stopping()) {
                release(job);
                return;
            }
            const auto keyword = [](const QString& line) {
                return line.trimmed().section(QLatin1Char(' '), 0, 0, QString::SectionSkipEmpty).toUpper();
            };
            QList<int> indices;
            for (const vm::link::LineOutcome& f : std::as_const(job.afterResend->failures)) {
                if (f.answered)
                    continue;
                int at = -1;
                for (int i = 0; i < lines.size() && at < 0; ++i)
                    if (lines.at(i).trimmed() == f.command.trimmed())
                        at = i;
                if (at < 0)
                    continue;
                for (int i = at; i < lines.size(); ++i)
                    if (i == at || keyword(lines.at(i)) == keyword(f.command))
                        indices << i;
            }
            std::sort(indices.begin(), indices.end());
            indices.erase(std::unique(indices.begin(), indices.end()), indices.end());
            auto sequence = std::make_shared<QStringList>();
            for (int i : std::as_const(indices))
                *sequence << lines.at(i).trimmed();
            auto sendNext = std::make_shared<std::function<void()>>();
            *sendNext = [&, jp, round, sequence, sendNext] {
                Job& job = *jp;
                if (sequence->isEmpty() || stopping()) {
                    resendUnanswered(job, round + 1);
                    return;
                }
                const QString command = sequence->takeFirst();
                job.device->PortSettings().sendAsync(
                    command, [&, jp, command, sendNext](const vm::link::CommandReply& r) {
                        Job& job = *jp;
                        const vm::link::LineOutcome outcome = vm::link::judgeReply(command, r);
                        QList<vm::link::LineOutcome>& failures = job.afterResend->failures;
                        for (qsizetype i = 0; i < failures.size(); ++i) {
                            if (failures.at(i).command.trimmed() != command || failures.at(i).answered ||
                                !outcome.answered)
                                continue;
                            ++job.resent;
                            if (outcome.failed) {
                                failures[i] = outcome; // refused now: the reader's word is reported
                            } else {
                                failures.removeAt(i);
                                --job.afterResend->errors;
                            }
                            break;
                        }
                        (*sendNext)();
                    });
            };
            (*sendNext)();
        });
    };
    auto startLoad = [&](Job& job) {
        job.load = std::make_unique<vm::link::ConfigurationLoad>(job.device->PortSettings(), lines,
                                                                 m_options.withIdentity);
        vm::link::ConfigurationLoad* load = job.load.get();
        Job* current = &job;
        QObject::connect(load, &vm::link::ConfigurationLoad::finished, loop, [&, load, current] {
            if (current->load.get() != load)
                return;
            current->afterResend = load->summary();
            resendUnanswered(*current, 1);
        });
        QObject::connect(load, &vm::link::ConfigurationLoad::lineDone, loop, [&, load, current] {
            if (current->load.get() != load)
                return;
            if (stopping() && load->done() < load->total()) {
                // Gone, the load sees that it may not send its next line (it looks after this
                // signal), and the reader's answer to the line on the way has been counted.
                stopJob(*current);
                release(*current);
                return;
            }
            pool.showProgress(false);
        });
        load->start();
    };
    std::function<void(Job&)> askControl = [&](Job& job) {
        ++job.tries;
        Job* jp = &job;
        job.device->PortSettings().sendAsync(
            QStringLiteral("CONTROL"), [&, jp](const vm::link::CommandReply& r) {
                Job& job = *jp;
                if (r.ok) {
                    job.controlled = true;
                    if (stopping()) {
                        // A stop between taking control and the first line sends nothing.
                        const vm::link::ConfigurationLoad unsent(job.device->PortSettings(), lines,
                                                                 m_options.withIdentity);
                        job.kept = unsent.summary();
                        job.notSent = unsent.total();
                        job.stopped = true;
                        release(job);
                    } else {
                        startLoad(job);
                    }
                    return;
                }
                // No answer in time is often a busy reader or network: it is asked again after a
                // growing pause. A refusal is the reader's word and is not asked again.
                if (!r.completed && job.tries < kControlTries && !stopping()) {
                    QTimer::singleShot(kRetryBackoffMs << (job.tries - 1), loop, [&, jp] {
                        Job& job = *jp;
                        if (stopping()) {
                            job.stopped = true;
                            job.notSent = vm::link::ConfigurationLoad(job.device->PortSettings(), lines,
                                                                      m_options.withIdentity)
                                              .total();
                            finishJob(job);
                        } else {
                            askControl(job);
                        }
                    });
                    return;
                }
                job.error = QStringLiteral("control refused: ") + r.errorText;
                worst(Unreachable);
                finishJob(job);
            });
    };
    pool.run([&](int i) {
        Job& job = jobs[size_t(i)];
        job.started = true;
        {
            if (!connectReader(job.device)) {
                job.error = QStringLiteral("cannot connect to ") + (job.device->IsSerial()
                                                                        ? job.device->PortSettings().Name()
                                                                        : job.device->Address().toString());
                worst(Unreachable);
                finishJob(job);
                return;
            }
            askControl(job);
        }
    });
    endProgress();

    // The summary in the readers' order, whatever order they finished in.
    std::vector<Job*> order;
    for (Job& job : jobs)
        order.push_back(&job);
    std::stable_sort(order.begin(), order.end(), [&](const Job* a, const Job* b) {
        return readerOrder(readerLabel(a->device), readerLabel(b->device)) < 0;
    });
    QJsonArray results;
    int loadedCount = 0;
    int failedCount = int(m_readerProblems.size());
    int stoppedCount = 0;
    for (Job* jp : order) {
        Job& job = *jp;
        QJsonObject r = readerJson(job.device);
        if (job.tries > 1)
            r.insert("tries", job.tries);
        if (!job.started) {
            // Stopped before a worker took this reader up: nothing was sent to it.
            const vm::link::ConfigurationLoad unsent(job.device->PortSettings(), lines,
                                                     m_options.withIdentity);
            job.kept = unsent.summary();
            job.notSent = unsent.total();
            job.stopped = true;
        }
        if (!job.controlled && !job.stopped) {
            ++failedCount;
            r.insert("error", job.error);
            problem(readerLabel(job.device) + QStringLiteral(": ") + job.error +
                    (job.tries > 1 ? QStringLiteral(" (after %1 tries)").arg(job.tries) : QString()));
            results.append(r);
            if (!m_options.json)
                m_out << readerLabel(job.device) << ": failed: " << escaped(job.error) << Qt::endl;
            continue;
        }
        const vm::link::LoadSummary& s = job.afterResend ? *job.afterResend
                                         : job.load      ? job.load->summary()
                                                         : job.kept;
        if (s.errors > 0)
            worst(Refused);
        if (s.lost) {
            worst(Unreachable);
            problem(readerLabel(job.device) + QStringLiteral(": ") + s.lostReason);
        }
        if (s.lost)
            ++failedCount;
        else if (job.stopped)
            ++stoppedCount;
        else
            ++loadedCount;
        r.insert("loaded", s.loaded);
        r.insert("refused", s.errors);
        r.insert("identitySkipped", s.identitySkipped);
        if (job.resent > 0)
            r.insert("resent", job.resent);
        QJsonArray failures;
        for (const vm::link::LineOutcome& f : s.failures) {
            failures.append(
                QJsonObject{{"line", f.command}, {"reason", f.reason()}, {"answered", f.answered}});
            // A line that got no answer is the link's problem (a time-out, a lost link), not
            // the reader's word on the line.
            if (!f.answered)
                problem(readerLabel(job.device) + QStringLiteral(": no answer to ") + f.command +
                        QStringLiteral(": ") + f.reason());
        }
        r.insert("failures", failures);
        if (s.lost)
            r.insert("error", s.lostReason);
        if (job.stopped) {
            r.insert("stopped", true);
            r.insert("notSent", job.notSent);
        }
        results.append(r);
        if (!m_options.json) {
            m_out << readerLabel(job.device) << ": " << s.loaded << " lines loaded, " << s.errors
                  << " refused";
            if (s.identitySkipped > 0)
                m_out << ", " << s.identitySkipped << " identity lines left out";
            if (job.tries > 1)
                m_out << ", control taken on try " << job.tries;
            if (job.resent > 0)
                m_out << ", " << job.resent << (job.resent == 1 ? " line" : " lines")
                      << " answered when sent again";
            m_out << Qt::endl;
            for (const vm::link::LineOutcome& f : s.failures)
                if (f.answered)
                    m_out << "  refused: " << escaped(f.command) << "  (" << escaped(f.reason()) << ")"
                          << Qt::endl;
                else
                    m_out << "  not answered: " << escaped(f.command) << Qt::endl;
            if (job.stopped)
                m_out << "  stopped: " << job.notSent << " lines not sent" << Qt::endl;
        }
    }
    for (const QJsonValue& p : std::as_const(m_readerProblems))
        if (std::none_of(results.begin(), results.end(), [&](const QJsonValue& r) {
                return r.toObject().value("reader") == p.toObject().value("reader");
            }))
            results.append(p);
    m_json.insert("readers", results);
    const int readerCount = int(jobs.size() + m_readerProblems.size());
    QJsonObject totals{{"readers", readerCount}, {"loaded", loadedCount}, {"failed", failedCount}};
    if (stoppedCount > 0)
        totals.insert("stopped", stoppedCount);
    m_json.insert("total", totals);
    if (!m_options.json) {
        m_out << readerCount << (readerCount == 1 ? " reader: " : " readers: ") << loadedCount << " loaded, "
              << failedCount << " failed";
        if (stoppedCount > 0)
            m_out << ", " << stoppedCount << " stopped";
        m_out << Qt::endl;
    }
    if (stopping()) {
        m_json.insert("stopped", StopSignals::name(m_stopSignal));
        const auto controlled =
            std::count_if(jobs.cbegin(), jobs.cend(), [](const Job& j) { return j.controlled; });
        if (controlled == 0)
            problem(
                QStringLiteral("stopped by %1 before loading began").arg(StopSignals::name(m_stopSignal)));
        else
            problem(
                QStringLiteral("stopped by %1: nothing more was sent; control given back to %2 of %3 readers")
                    .arg(StopSignals::name(m_stopSignal))
                    .arg(givenBack)
                    .arg(controlled));
    }
    return m_exit;
}

int Tool::compare() {
    const QString file = m_options.arguments.value(1);
    QStringList fileLines;
    if (!readFile(file, &fileLines))
        return m_exit;
    const auto readers = openReaders({m_options.arguments.value(0)});
    if (readers.empty())
        return m_exit;
    vm::link::Device* d = readers.front();
    m_json = readerJson(d);
    m_json.insert("file", file);
    QStringList readerLines;
    QString error;
    const bool read = vm::link::readReaderConfiguration(d->PortSettings(), &readerLines, &error);
    d->Close();
    if (!read) {
        problem(readerLabel(d) + QStringLiteral(": ") + error);
        m_json.insert("error", error);
        return Unreachable;
    }
    if (stopping())
        return m_exit;
    const QList<vm::link::ConfigDifference> rows = vm::link::compareConfigurations(readerLines, fileLines);
    QJsonArray differences;
    for (const vm::link::ConfigDifference& r : rows) {
        differences.append(differenceJson(r));
        if (!m_options.json)
            m_out << differenceText(r) << Qt::endl;
    }
    m_json.insert("differences", differences);
    return rows.isEmpty() ? Success : Refused;
}

int Tool::compareMany(const QStringList& targets, const QString& file) {
    QStringList fileLines;
    if (!readFile(file, &fileLines))
        return m_exit;
    std::vector<vm::link::Device*> readers = findReaders(targets);
    std::stable_sort(readers.begin(), readers.end(), [this](vm::link::Device* a, vm::link::Device* b) {
        return readerOrder(readerLabel(a), readerLabel(b)) < 0;
    });
    struct Comparison {
        vm::link::Device* device = nullptr;
        std::shared_ptr<Listing> listing = std::make_shared<Listing>();
        bool done = false;
        QList<vm::link::ConfigDifference> rows;
    };
    std::vector<Comparison> comparisons(readers.size());
    for (size_t i = 0; i < readers.size(); ++i)
        comparisons[i].device = readers[i];
    ReaderPool pool = makePool(int(comparisons.size()), QStringLiteral("comparing"));
    pool.run([&](int i) {
        Comparison& c = comparisons[size_t(i)];
        if (!connectReader(c.device)) {
            c.listing->error =
                QStringLiteral("cannot connect to ") +
                (c.device->IsSerial() ? c.device->PortSettings().Name() : c.device->Address().toString());
            c.done = true;
            pool.finished(true);
            return;
        }
        askListing(c.device, c.listing, pool.context(), [&, i] {
            Comparison& c = comparisons[size_t(i)];
            c.device->Close();
            if (stopping()) {
                pool.finished(false);
                return;
            }
            c.done = true;
            if (c.listing->read) {
                // Every reader of a fleet has a name and an address of its own: those fields
                // differ from any one reader's file and are left out unless asked for.
                c.rows = vm::link::compareConfigurations(c.listing->lines, fileLines);
                if (!m_options.withIdentity)
                    c.rows.removeIf([](const vm::link::ConfigDifference& r) { return r.identity; });
            }
            pool.finished(!c.listing->read);
        });
    });
    endProgress();

    QJsonArray results;
    int same = 0;
    int different = 0;
    int failed = int(m_readerProblems.size());
    for (const Comparison& c : comparisons) {
        if (!c.done)
            continue;
        QJsonObject r = readerJson(c.device);
        if (c.listing->tries > 1)
            r.insert("tries", c.listing->tries);
        if (!c.listing->read) {
            ++failed;
            worst(Unreachable);
            r.insert("error", c.listing->error);
            problem(readerLabel(c.device) + QStringLiteral(": ") + c.listing->error);
            if (!m_options.json)
                m_out << readerLabel(c.device) << ": failed: " << escaped(c.listing->error) << Qt::endl;
            results.append(r);
            continue;
        }
        QJsonArray differences;
        for (const vm::link::ConfigDifference& d : c.rows)
            differences.append(differenceJson(d));
        r.insert("differences", differences);
        results.append(r);
        if (c.rows.isEmpty())
            ++same;
        else
            ++different;
        if (!c.rows.isEmpty())
            worst(Refused);
        if (m_options.json)
            continue;
        m_out << readerLabel(c.device) << ": ";
        if (c.rows.isEmpty())
            m_out << "same as the file";
        else
            m_out << c.rows.size() << (c.rows.size() == 1 ? " difference" : " differences");
        if (c.listing->tries > 1)
            m_out << ", listed on try " << c.listing->tries;
        m_out << Qt::endl;
        for (const vm::link::ConfigDifference& d : c.rows)
            m_out << "  " << differenceText(d) << Qt::endl;
    }
    for (const QJsonValue& p : std::as_const(m_readerProblems))
        results.append(p);
    m_json.insert("readers", results);
    const int readerCount = int(readers.size() + m_readerProblems.size());
    m_json.insert(
        "total",
        QJsonObject{{"readers", readerCount}, {"same", same}, {"different", different}, {"failed", failed}});
    if (!m_options.json)
        m_out << readerCount << (readerCount == 1 ? " reader: " : " readers: ") << same
              << " same as the file, " << different << " different, " << failed << " failed" << Qt::endl;
    return m_exit;
}

int Tool::dispatch() {
    const QString& c = m_options.command;
    const int argc = int(m_options.arguments.size());
    auto wrong = [this](const QString& why) {
        problem(why);
        m_err << usageText();
        m_json.insert("error", why);
        return Usage;
    };
    if (c == QLatin1String("list"))
        return argc == 0 ? list() : wrong(QStringLiteral("list takes no arguments"));
    if (c == QLatin1String("show"))
        return argc == 1 ? show() : wrong(QStringLiteral("show takes one reader"));
    if (c == QLatin1String("save")) {
        if (m_options.all)
            return argc == 1 ? saveAll() : wrong(QStringLiteral("save --all takes a folder"));
        return argc == 2 ? save() : wrong(QStringLiteral("save takes a reader and a file"));
    }
    if (c == QLatin1String("compare")) {
        if (m_options.all)
            return argc == 1 ? compareMany({}, m_options.arguments.first())
                             : wrong(QStringLiteral("compare --all takes a file"));
        if (argc > 2)
            return compareMany(m_options.arguments.mid(0, argc - 1), m_options.arguments.last());
        return argc == 2 ? compare()
                         : wrong(QStringLiteral("compare takes readers and a file, or --all and a file"));
    }
    if (c == QLatin1String("load")) {
        if (argc < 1 || (argc == 1 && !m_options.all) || (argc > 1 && m_options.all))
            return wrong(QStringLiteral("load takes a file and readers, or a file and --all"));
        return load();
    }
    return wrong(c.isEmpty() ? QStringLiteral("no command given") : QStringLiteral("unknown command ") + c);
}

int Tool::run() {
    worst(dispatch());
    if (stopping() && m_options.command != QLatin1String("load"))
        problem(QStringLiteral("stopped by %1").arg(StopSignals::name(m_stopSignal)));
    if (m_options.json) {
        m_json.insert("exitCode", m_exit);
        if (!m_problems.isEmpty())
            m_json.insert("problems", m_problems);
        printJson(m_json);
    }
    return m_exit;
}

} // namespace

QString escaped(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t u = text.at(i).unicode();
        if (QChar::isHighSurrogate(u) && i + 1 < text.size() &&
            QChar::isLowSurrogate(text.at(i + 1).unicode())) {
            out += text.at(i);
            out += text.at(++i);
            continue;
        }
        const bool control = u < 0x20 || (u >= 0x7f && u < 0xa0);
        const bool direction = (u >= 0x202a && u <= 0x202e) || (u >= 0x2066 && u <= 0x2069) || u == 0x200e ||
                               u == 0x200f || u == 0x061c;
        if (control)
            out += QStringLiteral("\\x%1").arg(uint(u), 2, 16, QLatin1Char('0'));
        else if (direction || QChar::isSurrogate(u))
            out += QStringLiteral("\\u%1").arg(uint(u), 4, 16, QLatin1Char('0'));
        else
            out += QChar(u);
    }
    return out;
}

int usageFailure(Streams& streams, const QString& why, const QString& usage, bool json) {
    streams.err << "velmarrow-cli: " << escaped(why) << Qt::endl << usage;
    if (json)
        streams.out << QJsonDocument(QJsonObject{{"error", why},
                                                 {"problems", QJsonArray{why}},
                                                 {"exitCode", int(Usage)}})
                           .toJson(QJsonDocument::Indented);
    streams.out.flush();
    streams.err.flush();
    return int(Usage);
}

QString usageText() {
    return withHistoryCommands(QStringLiteral(
        "Usage: velmarrow-cli [options] <command> [arguments]\n"
        "\n"
        "Commands:\n"
        "  list                         the readers that answer discovery\n"
        "  show <reader>                print a reader's configuration\n"
        "  save <reader> <file.lcf>     save a reader's configuration to a file\n"
        "  save --all <folder>          ... of every discovered reader, one file each,\n"
        "                               named after the reader (<name>.lcf)\n"
        "  load <file.lcf> <reader>...  load a file into readers (control is taken and given back)\n"
        "  load <file.lcf> --all        ... into every discovered reader\n"
        "  compare <reader> <file.lcf>  the fields in which the file differs from the reader\n"
        "  compare <reader>... <file.lcf>, compare --all <file.lcf>\n"
        "                               ... for each reader, a summary line each and a total\n"
        "\n"
        "A reader is a discovered name, a dotted address or a serial port (\"SIM1:\").\n"
        "\n"
        "Options:\n"
        "  --json            results as one JSON document on standard output, also on errors\n"
        "  --all             every discovered reader (load, save, compare)\n"
        "  --with-identity   also load the lines that name and address a reader (IP, NAME)\n"
        "  --wait <ms>       how long discovery may take (default 2000)\n"
        "  --jobs <n>        readers worked on at once by load, save --all and compare,\n"
        "                    1 to 256 (default 32); a reader that leaves CONTROL or its\n"
        "                    listing unanswered is asked again after 250 ms and 500 ms\n"
        "                    before it counts as failed\n"
        "  -h, --help        this text\n"
        "\n"
        "Exit codes: 0 done; 1 a reader refused lines, or compare found differences;\n"
        "2 wrong command line; 3 a reader was not found, not reachable, lost its link,\n"
        "refused control or did not take it back; 4 a file could not be read or written,\n"
        "or holds no settings; 130 stopped by Ctrl-C (SIGINT), 143 stopped by SIGTERM:\n"
        "nothing more is sent, control is given back and the summary so far is printed.\n"
        "With several, the highest.\n"));
}

int run(const QStringList& arguments, Streams streams, StopSignals* stops) {
    if (isHistoryCommand(arguments)) // record, trend, export: historycommands.cpp
        return runHistoryCommand(arguments, streams, stops);
    Options options;
    // With --json anywhere, even a wrong command line is answered with a document.
    options.json = arguments.contains(QStringLiteral("--json"));
    auto fail = [&](const QString& why, bool usage) {
        return usageFailure(streams, why, usage ? usageText() : QString(), options.json);
    };
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
            if (!ok || options.waitMs < 0 || options.waitMs > 600000)
                return fail(QStringLiteral("--wait takes milliseconds from 0 to 600000"), false);
        } else if (a == QLatin1String("--jobs")) {
            bool ok = false;
            options.jobs = arguments.value(++i).toInt(&ok);
            if (!ok || options.jobs < 1 || options.jobs > kMaxJobs)
                return fail(QStringLiteral("--jobs takes a number of readers from 1 to %1").arg(kMaxJobs),
                            false);
        } else if (a == QLatin1String("-h") || a == QLatin1String("--help")) {
            if (options.json)
                streams.out << QJsonDocument(QJsonObject{{"usage", usageText()}, {"exitCode", int(Success)}})
                                   .toJson(QJsonDocument::Indented);
            else
                streams.out << usageText();
            streams.out.flush();
            return Success;
        } else if (a.startsWith(QLatin1String("--"))) {
            return fail(QStringLiteral("unknown option ") + a, true);
        } else {
            positional << a;
        }
    }
    options.command = positional.value(0);
    options.arguments = positional.mid(1);
    Tool tool(options, streams, stops);
    const int code = tool.run();
    streams.out.flush();
    streams.err.flush();
    return code;
}

} // namespace vm::cli
