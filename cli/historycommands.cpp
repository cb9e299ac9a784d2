#include "cli/historycommands.h"

#include "cli/stopsignals.h"
#include "history/historyquery.h"
#include "history/historystore.h"
#include "history/recorder.h"
#include "link/coordinator.h"
#include "link/device.h"
#include "link/protocol.h"
#include "link/serialports.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QSaveFile>
#include <QTextStream>
#include <QTimer>

#include <cmath>

namespace vm::cli {

namespace {

using namespace vm::history;

// Discovery has settled once no new reader answered for this long.
constexpr int kQuietMs = 300;
// Readers not reached yet are looked for again this often while recording.
constexpr int kLookAgainMs = 1000;

struct HistoryOptions {
    QString command;
    QStringList readers;
    QString db;
    QString parameter;
    QString csv;
    qint64 sinceMs = 8 * 3600 * 1000;
    qint64 intervalMs = 0; // 0: the range in about 48 intervals
    qint64 forMs = 0;      // record: stop after this long (0: until a signal)
    int waitMs = 2000;
    bool all = false;
    bool json = false;
};

QString localTime(qint64 ms) {
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString isoTime(qint64 ms) {
    const QDateTime t = QDateTime::fromMSecsSinceEpoch(ms);
    return t.toOffsetFromUtc(t.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

QString number(double v, int decimals = 3) {
    if (!std::isfinite(v))
        return QStringLiteral("-");
    QString s = QString::number(v, 'f', decimals);
    if (s.contains(QLatin1Char('.'))) {
        while (s.endsWith(QLatin1Char('0')))
            s.chop(1);
        if (s.endsWith(QLatin1Char('.')))
            s.chop(1);
    }
    return s;
}

class HistoryTool {
public:
    HistoryTool(HistoryOptions options, Streams streams, StopSignals* stops)
        : m_o(std::move(options))
        , m_out(streams.out)
        , m_err(streams.err)
        , m_progress(streams.progress) {
        if (stops)
            QObject::connect(stops, &StopSignals::stopRequested, &m_context, [this](int signal) {
                if (!m_stopSignal)
                    m_stopSignal = signal;
                if (m_loop)
                    m_loop->quit();
            });
    }

    int run() {
        int code = Usage;
        if (m_o.command == QLatin1String("record"))
            code = record();
        else if (m_o.command == QLatin1String("trend"))
            code = trend();
        else if (m_o.command == QLatin1String("export"))
            code = exportCsv();
        if (m_o.json) {
            m_json.insert("exitCode", code);
            if (!m_problems.isEmpty())
                m_json.insert("problems", m_problems);
            m_out << QJsonDocument(m_json).toJson(QJsonDocument::Indented);
        }
        m_out.flush();
        m_err.flush();
        return code;
    }

private:
    void problem(const QString& text) {
        m_err << "velmarrow-cli: " << escaped(text) << Qt::endl;
        m_problems.append(text);
        if (!m_json.contains("error"))
            m_json.insert("error", text);
    }

    bool openQuery(HistoryQuery& query) {
        QString error;
        if (query.open(m_o.db, &error))
            return true;
        problem(error);
        return false;
    }

    // Looks for the readers to record; readers named by address or serial port are made at once.
    void lookForReaders() {
        QList<vm::link::Device*> devices = m_coordinator.Devices();
        if (m_o.all) {
            for (vm::link::Device* d : devices)
                if (!m_followed.value(d->Name())) // new, or forgotten by discovery and back
                    follow(d->Name(), d);
            return;
        }
        for (const QString& target : std::as_const(m_o.readers)) {
            if (m_followed.value(target))
                continue;
            vm::link::Device* found = nullptr;
            for (vm::link::Device* d : devices)
                if (d->Name() == target ||
                    (vm::link::isDottedAddress(target) && d->Address().toString() == target &&
                     d->CommandPort() == vm::link::kDefaultCommandPort))
                    found = d;
            if (!found && (vm::link::isDottedAddress(target) || vm::link::looksLikeSerialPortName(target)))
                found = m_coordinator.DeviceFor(target);
            if (found)
                follow(target, found);
        }
    }

    void follow(const QString& label, vm::link::Device* device) {
        m_followed.insert(label, device);
        if (!m_labels.contains(label))
            m_labels.append(label);
        // Records only: the pictures would cost the line's network and the disk for nothing kept.
        device->ImageChannel().SetMode(2);
        device->ReportChannel().SetMode(2);
        m_recorder->followDevice(device);
        // Opens without waiting; the link re-opens by itself whenever the reader drops.
        device->openLinks(0);
    }

    int record() {
        HistoryStore store;
        QString error;
        if (!store.open(m_o.db, &error)) {
            problem(error);
            return FileProblem;
        }
        bool pausedNow = false;
        QObject::connect(&store, &HistoryStore::paused, &m_context, [&](const QString& why) {
            pausedNow = true;
            problem(why);
        });
        QObject::connect(&store, &HistoryStore::resumed, &m_context, [&] {
            pausedNow = false;
            m_err << "velmarrow-cli: recording resumed" << Qt::endl;
        });
        m_recorder = std::make_unique<Recorder>(store);
        QHash<QString, qint64> perReader;
        QObject::connect(m_recorder.get(), &Recorder::recordedRead, &m_context,
                         [&](const QString& reader, qint64) { ++perReader[reader]; });
        m_coordinator.StartDiscovery();

        QElapsedTimer clock;
        clock.start();
        QTimer look;
        QObject::connect(&look, &QTimer::timeout, &m_context, [&] {
            const qsizetype before = m_followed.size();
            lookForReaders();
            if (m_progress)
                m_err << QStringLiteral("\rrecording %1 readers: %2 reads%3  ")
                             .arg(m_followed.size())
                             .arg(m_recorder->recorded())
                             .arg(pausedNow ? QStringLiteral(" (paused: disk)") : QString())
                      << Qt::flush;
            Q_UNUSED(before);
        });
        look.start(m_o.all ? kQuietMs : kLookAgainMs);
        lookForReaders();
        QTimer end;
        end.setSingleShot(true);
        QEventLoop loop;
        m_loop = &loop;
        if (m_o.forMs > 0) {
            QObject::connect(&end, &QTimer::timeout, &loop, &QEventLoop::quit);
            end.start(int(std::min<qint64>(m_o.forMs, std::numeric_limits<int>::max())));
        }
        if (!m_stopSignal)
            loop.exec();
        m_loop = nullptr;
        look.stop();
        const qint64 tookMs = clock.elapsed();
        // Nothing more arrives; everything received goes into the file before the summary.
        for (const auto& device : std::as_const(m_followed))
            if (device)
                device->closeLinks();
        m_recorder->setEnabled(false);
        const bool flushed = store.flush(60000);
        if (m_progress)
            m_err << "\r" << Qt::endl;
        const auto stats = store.stats();

        // Named readers in the order they were named, whichever answered first.
        if (!m_o.all)
            std::stable_sort(m_labels.begin(), m_labels.end(), [this](const QString& a, const QString& b) {
                return m_o.readers.indexOf(a) < m_o.readers.indexOf(b);
            });
        QJsonArray readers;
        for (const QString& label : std::as_const(m_labels)) {
            const auto device = m_followed.value(label);
            const QString name = device ? device->Name() : label;
            const qint64 reads = perReader.value(name);
            readers.append(QJsonObject{{"reader", label}, {"reads", reads}});
            if (!m_o.json)
                m_out << escaped(label) << ": " << reads << " reads" << Qt::endl;
        }
        for (const QString& target : std::as_const(m_o.readers))
            if (!m_labels.contains(target))
                problem(QStringLiteral("%1: no reader answers to this name").arg(target));
        const QString total = QStringLiteral("%1 readers: %2 reads recorded in %3 s, %4 kept in %5")
                                  .arg(m_labels.size())
                                  .arg(m_recorder->recorded())
                                  .arg(number(tookMs / 1000.0, 1))
                                  .arg(stats.written)
                                  .arg(store.path());
        if (!m_o.json)
            m_out << total << Qt::endl;
        m_json.insert("readers", readers);
        m_json.insert("total", QJsonObject{{"readers", int(m_labels.size())},
                                           {"recorded", m_recorder->recorded()},
                                           {"written", stats.written},
                                           {"dropped", stats.dropped},
                                           {"seconds", tookMs / 1000.0}});
        m_json.insert("file", store.path());
        if (m_stopSignal) {
            m_json.insert("stopped", StopSignals::name(m_stopSignal));
            m_err << "velmarrow-cli: stopped by " << StopSignals::name(m_stopSignal)
                  << ": every read received is in the file" << Qt::endl;
        }
        if (!flushed || stats.dropped > 0) {
            problem(QStringLiteral("%1 reads could not be written to %2")
                        .arg(m_recorder->recorded() - stats.written)
                        .arg(store.path()));
            return FileProblem;
        }
        if (m_o.all ? m_labels.isEmpty() : m_labels.size() < m_o.readers.size()) {
            if (m_labels.isEmpty())
                problem(QStringLiteral("no reader was found"));
            return Unreachable;
        }
        return Success;
    }

    int trend() {
        HistoryQuery query;
        if (!openQuery(query))
            return FileProblem;
        const QString reader = m_o.readers.first();
        const qint64 to = QDateTime::currentMSecsSinceEpoch() + 1;
        const qint64 from = to - m_o.sinceMs;
        const qint64 interval =
            m_o.intervalMs > 0 ? m_o.intervalMs : std::max<qint64>(1000, m_o.sinceMs / 48);
        const auto t = query.trend(reader, m_o.parameter, from, to, interval);
        if (!t) {
            const QStringList known = query.parameters(reader, from, to);
            problem(known.isEmpty() ? QStringLiteral("%1 has no graded reads in %2 in the last %3")
                                          .arg(reader, m_o.db, roughDuration(m_o.sinceMs))
                                    : QStringLiteral("%1 has no %2 in the last %3; it grades: %4")
                                          .arg(reader, m_o.parameter, roughDuration(m_o.sinceMs),
                                               known.join(QStringLiteral(", "))));
            return Unreachable;
        }
        const QList<CountBucket> counts = query.counts(reader, from, to, interval);
        QHash<qint64, ValueBucket> values;
        for (const ValueBucket& b : t->buckets)
            values.insert(b.startMs, b);
        const Drift& d = t->drift;
        QJsonArray intervals;
        if (!m_o.json) {
            m_out << escaped(reader) << ", " << t->parameter
                  << (t->onGrades ? " (grade, A = 4 to F = 0)" : "") << ", last "
                  << roughDuration(m_o.sinceMs) << " (" << localTime(from) << " to " << localTime(to)
                  << "), intervals of " << roughDuration(interval) << Qt::endl;
            m_out << QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8 %9 %10")
                         .arg(QStringLiteral("interval from"), -20)
                         .arg(QStringLiteral("reads"), 6)
                         .arg(QStringLiteral("pass"), 6)
                         .arg(QStringLiteral("fail"), 5)
                         .arg(QStringLiteral("no read"), 7)
                         .arg(QStringLiteral("rate"), 7)
                         .arg(QStringLiteral("mean"), 8)
                         .arg(QStringLiteral("min"), 8)
                         .arg(QStringLiteral("max"), 8)
                         .arg(QStringLiteral("worst"), 5)
                  << Qt::endl;
        }
        for (const CountBucket& c : counts) {
            const auto v = values.constFind(c.startMs);
            const bool hasValues = v != values.constEnd();
            if (c.total() == 0 && !hasValues)
                continue;
            QJsonObject o{{"start", isoTime(c.startMs)},
                          {"reads", c.total()},
                          {"pass", c.pass},
                          {"fail", c.fail},
                          {"noRead", c.noRead}};
            if (c.total() > 0)
                o.insert("readRate", c.readRate());
            if (hasValues)
                o.insert("values", QJsonObject{{"count", v->count},
                                               {"mean", v->mean},
                                               {"min", v->min},
                                               {"max", v->max},
                                               {"worstGrade", gradeLetter(v->worstGrade)}});
            intervals.append(o);
            if (!m_o.json)
                m_out << QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8 %9 %10")
                             .arg(localTime(c.startMs), -20)
                             .arg(c.total(), 6)
                             .arg(c.pass, 6)
                             .arg(c.fail, 5)
                             .arg(c.noRead, 7)
                             .arg(c.total() > 0 ? number(c.readRate(), 1) + QStringLiteral(" %")
                                                : QStringLiteral("-"),
                                  7)
                             .arg(hasValues ? number(v->mean) : QStringLiteral("-"), 8)
                             .arg(hasValues ? number(v->min) : QStringLiteral("-"), 8)
                             .arg(hasValues ? number(v->max) : QStringLiteral("-"), 8)
                             .arg(hasValues ? gradeLetter(v->worstGrade) : QString(), 5)
                      << Qt::endl;
        }
        if (!m_o.json)
            m_out << (d.flagged ? "WARNING: " : "") << d.text << Qt::endl;
        QJsonObject drift{{"flagged", d.flagged}, {"worsening", d.worsening},
                          {"text", d.text},       {"values", d.count},
                          {"spanMs", d.spanMs},   {"slopePerHour", d.slopePerHour}};
        if (d.enoughData) {
            drift.insert("startGrade", gradeLetter(d.startGrade));
            drift.insert("endGrade", gradeLetter(d.endGrade));
            drift.insert("startValue", d.startValue);
            drift.insert("endValue", d.endValue);
        }
        if (d.msToNextGrade >= 0) {
            drift.insert("nextGrade", gradeLetter(d.nextGrade));
            drift.insert("msToNextGrade", d.msToNextGrade);
        }
        QJsonObject bands{{"higherIsBetter", t->bands.higherIsBetter}, {"onGrades", t->onGrades}};
        for (int g = 4; g >= 1; --g)
            bands.insert(gradeLetter(g), t->bands.lowerEdge(g));
        m_json.insert("reader", reader);
        m_json.insert("parameter", t->parameter);
        m_json.insert("from", isoTime(from));
        m_json.insert("to", isoTime(to));
        m_json.insert("intervalMs", interval);
        m_json.insert("bands", bands);
        m_json.insert("intervals", intervals);
        m_json.insert("drift", drift);
        // A script can act on a drift as on any other finding.
        return d.flagged ? Refused : Success;
    }

    int exportCsv() {
        HistoryQuery query;
        if (!openQuery(query))
            return FileProblem;
        // Written aside and put in place only when whole: an export that ends early leaves a file
        // already at that path as it was.
        QSaveFile file(m_o.csv);
        if (!file.open(QIODevice::WriteOnly)) {
            problem(QStringLiteral("%1 cannot be written: %2").arg(m_o.csv, file.errorString()));
            return FileProblem;
        }
        const qint64 to = QDateTime::currentMSecsSinceEpoch() + 1;
        const qint64 from = to - m_o.sinceMs;
        const QString reader = m_o.readers.value(0);
        if (!reader.isEmpty() && query.parameters(reader, from, to).isEmpty() &&
            query.counts(reader, from, to, to - from).value(0).total() == 0) {
            problem(QStringLiteral("%1 has no reads in %2 in the last %3")
                        .arg(reader, m_o.db, roughDuration(m_o.sinceMs)));
            file.cancelWriting();
            return Unreachable;
        }
        QString error;
        if (!query.exportCsv(reader, from, to, file, &error) || !file.commit()) {
            problem(QStringLiteral("%1 cannot be written: %2")
                        .arg(m_o.csv, error.isEmpty() ? file.errorString() : error));
            return FileProblem;
        }
        QFile readBack(m_o.csv);
        qint64 lines = 0;
        if (readBack.open(QIODevice::ReadOnly))
            while (!readBack.atEnd() && readBack.readLine().size() > 0)
                ++lines;
        const qint64 reads = std::max<qint64>(0, lines - 1);
        if (!m_o.json)
            m_out << reads << " reads written to " << m_o.csv << Qt::endl;
        m_json.insert("file", m_o.csv);
        m_json.insert("reads", reads);
        return Success;
    }

    HistoryOptions m_o;
    QTextStream& m_out;
    QTextStream& m_err;
    bool m_progress = false;
    QObject m_context;
    QEventLoop* m_loop = nullptr;
    int m_stopSignal = 0;
    vm::link::Coordinator m_coordinator;
    std::unique_ptr<Recorder> m_recorder;
    QHash<QString, QPointer<vm::link::Device>> m_followed;
    QStringList m_labels; // in the order they were taken up
    QJsonObject m_json;
    QJsonArray m_problems;
};

} // namespace

bool isHistoryCommand(const QStringList& arguments) {
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& a = arguments.at(i);
        if (a == QLatin1String("--wait") || a == QLatin1String("--jobs")) {
            ++i;
            continue;
        }
        if (a.startsWith(QLatin1Char('-')))
            continue;
        return a == QLatin1String("record") || a == QLatin1String("trend") || a == QLatin1String("export");
    }
    return false;
}

QString historyUsageText() {
    return QStringLiteral(
        "  record --db <file> <reader>...  record every read of the readers into a history\n"
        "                               file until Ctrl-C (or --for), no window needed\n"
        "  record --db <file> --all     ... of every discovered reader, also those that come later\n"
        "  trend --db <file> <reader> --param <name> [--since 8h] [--interval 10m]\n"
        "                               a graded parameter per interval with its drift warning\n"
        "                               (exit code 1 when a drift is flagged)\n"
        "  export --db <file> [<reader>] --csv <out.csv> [--since 8h]\n"
        "                               every read as CSV (all readers without <reader>)\n");
}

QString withHistoryCommands(const QString& usage) {
    // After the last configuration command, "compare", and the line that may continue it.
    const qsizetype compare = usage.indexOf(QLatin1String("\n  compare "));
    const qsizetype end = compare < 0 ? -1 : usage.indexOf(QLatin1Char('\n'), compare + 1);
    if (end < 0)
        return usage + historyUsageText();
    return usage.left(end + 1) + historyUsageText() + usage.mid(end + 1);
}

int runHistoryCommand(const QStringList& arguments, Streams streams, StopSignals* stops) {
    HistoryOptions o;
    o.json = arguments.contains(QStringLiteral("--json"));
    auto fail = [&](const QString& why) { return usageFailure(streams, why, historyUsageText(), o.json); };
    QStringList positional;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& a = arguments.at(i);
        auto value = [&](const char* what) -> std::optional<QString> {
            if (i + 1 >= arguments.size())
                return std::nullopt;
            Q_UNUSED(what);
            return arguments.at(++i);
        };
        if (a == QLatin1String("--json")) {
            o.json = true;
        } else if (a == QLatin1String("--all")) {
            o.all = true;
        } else if (a == QLatin1String("--db")) {
            const auto v = value("--db");
            if (!v || v->isEmpty())
                return fail(QStringLiteral("--db takes a history file"));
            o.db = *v;
        } else if (a == QLatin1String("--param")) {
            const auto v = value("--param");
            if (!v || v->trimmed().isEmpty())
                return fail(QStringLiteral("--param takes a graded parameter's name (\"Symbol Contrast\")"));
            o.parameter = v->trimmed();
        } else if (a == QLatin1String("--csv")) {
            const auto v = value("--csv");
            if (!v || v->isEmpty())
                return fail(QStringLiteral("--csv takes a file"));
            o.csv = *v;
        } else if (a == QLatin1String("--since") || a == QLatin1String("--interval") ||
                   a == QLatin1String("--for")) {
            const auto v = value("");
            const qint64 ms = v ? parseSpan(*v) : -1;
            if (ms <= 0)
                return fail(QStringLiteral("%1 takes a time such as 90s, 30m, 8h or 2d").arg(a));
            (a == QLatin1String("--since")      ? o.sinceMs
             : a == QLatin1String("--interval") ? o.intervalMs
                                                : o.forMs) = ms;
        } else if (a == QLatin1String("--wait")) {
            bool ok = false;
            o.waitMs = arguments.value(++i).toInt(&ok);
            if (!ok || o.waitMs < 0 || o.waitMs > 600000)
                return fail(QStringLiteral("--wait takes milliseconds from 0 to 600000"));
        } else if (a.startsWith(QLatin1String("--"))) {
            return fail(QStringLiteral("unknown option ") + a);
        } else {
            positional << a;
        }
    }
    o.command = positional.value(0);
    o.readers = positional.mid(1);
    if (o.db.isEmpty())
        return fail(QStringLiteral("%1 needs --db <history file>").arg(o.command));
    if (o.command == QLatin1String("record")) {
        if (o.all == !o.readers.isEmpty())
            return fail(QStringLiteral("record takes readers, or --all"));
    } else if (o.command == QLatin1String("trend")) {
        if (o.readers.size() != 1 || o.parameter.isEmpty())
            return fail(QStringLiteral("trend takes one reader and --param <name>"));
    } else if (o.command == QLatin1String("export")) {
        if (o.readers.size() > 1 || o.csv.isEmpty())
            return fail(QStringLiteral("export takes at most one reader and --csv <file>"));
    }
    HistoryTool tool(o, streams, stops);
    return tool.run();
}

} // namespace vm::cli
