#include "history/historyquery.h"

#include "history/schema.h"
#include "history/sqlite.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QIODevice>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <map>

namespace vm::history {

double CountBucket::readRate() const {
    const qint64 n = total();
    return n > 0 ? 100.0 * double(pass) / double(n) : std::nan("");
}

HistoryQuery::HistoryQuery() = default;
HistoryQuery::~HistoryQuery() = default;

bool HistoryQuery::open(const QString& path, QString* error) {
    m_db.reset();
    QString reason;
    const QFileInfo info(path);
    if (!info.exists()) {
        if (error)
            *error = QStringLiteral("There is no history file %1").arg(QDir::toNativeSeparators(path));
        return false;
    }
    auto db = std::make_unique<sql::Database>();
    // Opened for writing (never used so) because a reader of a file in write-ahead mode
    // shares its index of the log with the writer.
    if (!db->open(info.absoluteFilePath(), false, &reason)) {
        if (error)
            *error = QStringLiteral("The history file %1 cannot be opened: %2")
                         .arg(QDir::toNativeSeparators(path), reason);
        return false;
    }
    if (!schema::check(*db, info.absoluteFilePath(), error))
        return false;
    m_db = std::move(db);
    m_path = info.absoluteFilePath();
    return true;
}

bool HistoryQuery::isOpen() const {
    return m_db != nullptr;
}

qint64 HistoryQuery::readCount() {
    return m_db ? m_db->scalar("SELECT count(*) FROM reads", 0) : 0;
}

QList<ReaderSummary> HistoryQuery::readers() {
    QList<ReaderSummary> out;
    if (!m_db)
        return out;
    sql::Statement s(*m_db,
                     "SELECT r.name, r.mac, (SELECT count(*) FROM reads WHERE reader = r.id),"
                     " (SELECT min(time) FROM reads WHERE reader = r.id),"
                     " (SELECT max(time) FROM reads WHERE reader = r.id) FROM readers r ORDER BY r.name");
    while (s.step() == SQLITE_ROW)
        out.append({s.text(0), s.text(1), s.int64(2), s.int64(3), s.int64(4)});
    return out;
}

QList<qint64> HistoryQuery::readerIds(const QString& reader) {
    QList<qint64> ids;
    if (!m_db)
        return ids;
    sql::Statement s(*m_db, "SELECT id FROM readers WHERE name = ?1 OR (mac <> '' AND lower(mac) = lower(?1))"
                            " ORDER BY id");
    s.bind(1, reader);
    while (s.step() == SQLITE_ROW)
        ids.append(s.int64(0));
    return ids;
}

QStringList HistoryQuery::parameters(const QString& reader, qint64 fromMs, qint64 toMs) {
    QStringList out;
    const QList<qint64> ids = readerIds(reader);
    if (ids.isEmpty())
        return out;
    sql::Statement all(*m_db, "SELECT id, name FROM parameters ORDER BY id");
    sql::Statement any(*m_db, "SELECT 1 FROM grades WHERE reader = ?1 AND parameter = ?2 AND time >= ?3 AND "
                              "time < ?4 LIMIT 1");
    while (all.step() == SQLITE_ROW) {
        for (qint64 id : ids) {
            any.reset();
            any.bind(1, id);
            any.bind(2, all.int64(0));
            any.bind(3, fromMs);
            any.bind(4, toMs);
            if (any.step() == SQLITE_ROW) {
                out.append(all.text(1));
                break;
            }
        }
    }
    return out;
}

QList<CountBucket> HistoryQuery::counts(const QString& reader, qint64 fromMs, qint64 toMs,
                                        qint64 intervalMs) {
    QList<CountBucket> out;
    if (!m_db || intervalMs <= 0 || toMs <= fromMs)
        return out;
    const qint64 n = (toMs - fromMs + intervalMs - 1) / intervalMs;
    for (qint64 i = 0; i < n; ++i)
        out.append(CountBucket{fromMs + i * intervalMs});
    // Row by row where a minute is cut by the range's ends or an interval's edge (the index
    // holds the result); every other minute from its counts (layout 3).
    sql::Statement s(*m_db,
                     "SELECT result, count(*) FROM reads WHERE reader = ?1 AND time >= ?2 AND time < ?3 "
                     "GROUP BY result");
    sql::Statement m(*m_db, "SELECT minute, pass, fail, noread FROM read_minutes WHERE reader = ?1 AND "
                            "minute >= ?2 AND minute < ?3");
    auto rows = [&](qint64 id, CountBucket& b, qint64 from, qint64 to) {
        if (to <= from)
            return;
        s.reset();
        s.bind(1, id);
        s.bind(2, from);
        s.bind(3, to);
        while (s.step() == SQLITE_ROW) {
            switch (ReadResult(s.int64(0))) {
            case ReadResult::Pass:
                b.pass += s.int64(1);
                break;
            case ReadResult::Fail:
                b.fail += s.int64(1);
                break;
            case ReadResult::NoRead:
                b.noRead += s.int64(1);
                break;
            }
        }
    };
    constexpr qint64 kMinuteMs = 60000;
    for (qint64 id : readerIds(reader)) {
        if (intervalMs < kMinuteMs) {
            for (qint64 i = 0; i < n; ++i)
                rows(id, out[i], out[i].startMs, std::min(toMs, out[i].startMs + intervalMs));
            continue;
        }
        // Each interval: its whole minutes from the counts, the pieces at its two ends row by row.
        for (qint64 i = 0; i < n; ++i) {
            CountBucket& b = out[i];
            const qint64 end = std::min(toMs, b.startMs + intervalMs);
            const qint64 firstWhole = (b.startMs + kMinuteMs - 1) / kMinuteMs, endWhole = end / kMinuteMs;
            if (firstWhole >= endWhole) {
                rows(id, b, b.startMs, end);
                continue;
            }
            rows(id, b, b.startMs, firstWhole * kMinuteMs);
            rows(id, b, endWhole * kMinuteMs, end);
            m.reset();
            m.bind(1, id);
            m.bind(2, firstWhole);
            m.bind(3, endWhole);
            while (m.step() == SQLITE_ROW) {
                b.pass += m.int64(1);
                b.fail += m.int64(2);
                b.noRead += m.int64(3);
            }
        }
    }
    return out;
}

bool HistoryQuery::twoDimensional(const QList<qint64>& readers, qint64 fromMs, qint64 toMs) {
    sql::Statement s(*m_db, "SELECT symbology FROM reads WHERE reader = ?1 AND time >= ?2 AND time < ?3 AND "
                            "overall IS NOT NULL ORDER BY time DESC LIMIT 1");
    for (qint64 id : readers) {
        s.reset();
        s.bind(1, id);
        s.bind(2, fromMs);
        s.bind(3, toMs);
        if (s.step() == SQLITE_ROW)
            return isTwoDimensional(s.text(0));
    }
    return true;
}

std::optional<ParameterTrend> HistoryQuery::trend(const QString& reader, const QString& parameter,
                                                  qint64 fromMs, qint64 toMs, qint64 intervalMs) {
    if (!m_db || intervalMs <= 0 || toMs <= fromMs)
        return std::nullopt;
    const QList<qint64> ids = readerIds(reader);
    sql::Statement p(*m_db, "SELECT id, name FROM parameters WHERE name = ?1 COLLATE NOCASE");
    p.bind(1, parameter);
    if (ids.isEmpty() || p.step() != SQLITE_ROW)
        return std::nullopt;
    const qint64 parameterId = p.int64(0);
    ParameterTrend t;
    t.reader = reader;
    t.parameter = p.text(1);
    t.fromMs = fromMs;
    t.toMs = toMs;
    t.intervalMs = intervalMs;
    const auto bands = bandsFor(t.parameter, twoDimensional(ids, fromMs, toMs));
    t.onGrades = !bands;
    t.bands = bands ? *bands : gradeScaleBands();

    const qint64 n = (toMs - fromMs + intervalMs - 1) / intervalMs;
    struct Acc {
        qint64 count = 0;
        double sum = 0, min = 0, max = 0;
        int worst = 5;
    };
    std::vector<Acc> acc(static_cast<size_t>(n));
    SeriesSums sums;
    qint64 first = std::numeric_limits<qint64>::max(), last = std::numeric_limits<qint64>::min();
    // Row by row: SQLite's own sums over a subquery cost twice as much per row as this loop.
    sql::Statement s(*m_db, "SELECT time, value, grade FROM grades WHERE reader = ?1 AND parameter = ?2 AND "
                            "time >= ?3 AND time < ?4");
    auto rows = [&](qint64 id, qint64 from, qint64 to) {
        if (to <= from)
            return;
        s.reset();
        s.bind(1, id);
        s.bind(2, parameterId);
        s.bind(3, from);
        s.bind(4, to);
        while (s.step() == SQLITE_ROW) {
            const qint64 time = s.int64(0);
            const bool hasGrade = !s.isNull(2);
            const int grade = hasGrade ? int(s.int64(2)) : -1;
            double value;
            if (t.onGrades) {
                if (!hasGrade)
                    continue;
                value = grade;
            } else {
                if (s.isNull(1))
                    continue;
                value = s.real(1);
            }
            Acc& a = acc[size_t((time - fromMs) / intervalMs)];
            if (a.count == 0)
                a.min = a.max = value;
            ++a.count;
            a.sum += value;
            a.min = std::min(a.min, value);
            a.max = std::max(a.max, value);
            if (hasGrade)
                a.worst = std::min(a.worst, grade);
            sums.add((time - fromMs) / 3.6e6, value);
            first = std::min(first, time);
            last = std::max(last, time);
        }
    };
    // A minute that lies wholly inside one interval is taken from its summary (layout 3); the
    // minutes the range's ends and the intervals' edges cut through are read row by row.
    sql::Statement m(*m_db,
                     "SELECT minute, nv, su, sv, suu, suv, svv, vmin, vmax, vworst, vfirst, vlast, ng, gu, "
                     "sg, guu, gug, sgg, gmin, gmax, gfirst, glast FROM minutes WHERE reader = ?1 AND "
                     "parameter = ?2 AND minute >= ?3 AND minute < ?4");
    constexpr qint64 kMinuteMs = 60000;
    const qint64 firstWhole = (fromMs + kMinuteMs - 1) / kMinuteMs; // fromMs > 0: times since 1970
    const qint64 endWhole = toMs / kMinuteMs;
    for (qint64 id : ids) {
        if (intervalMs < kMinuteMs || firstWhole >= endWhole) {
            rows(id, fromMs, toMs);
            continue;
        }
        rows(id, fromMs, firstWhole * kMinuteMs);
        rows(id, endWhole * kMinuteMs, toMs);
        m.reset();
        m.bind(1, id);
        m.bind(2, parameterId);
        m.bind(3, firstWhole);
        m.bind(4, endWhole);
        while (m.step() == SQLITE_ROW) {
            const qint64 startMs = m.int64(0) * kMinuteMs;
            const size_t bucket = size_t((startMs - fromMs) / intervalMs);
            if (size_t((startMs + kMinuteMs - 1 - fromMs) / intervalMs) != bucket) {
                rows(id, startMs, startMs + kMinuteMs);
                continue;
            }
            // Value columns 1-11, or the grade's 12-21 (the same sums with the grade as value).
            const int at = t.onGrades ? 12 : 1;
            const qint64 count = m.int64(at);
            if (count == 0)
                continue;
            const double su = m.real(at + 1), sv = m.real(at + 2), suu = m.real(at + 3), suv = m.real(at + 4),
                         svv = m.real(at + 5);
            const double lo = m.real(at + 6), hi = m.real(at + 7);
            const int worst = t.onGrades ? int(m.int64(18)) : (m.isNull(9) ? 5 : int(m.int64(9)));
            const qint64 firstTime = m.int64(t.onGrades ? 20 : 10), lastTime = m.int64(t.onGrades ? 21 : 11);
            Acc& a = acc[bucket];
            if (a.count == 0)
                a.min = lo, a.max = hi;
            a.count += count;
            a.sum += sv;
            a.min = std::min(a.min, lo);
            a.max = std::max(a.max, hi);
            a.worst = std::min(a.worst, worst);
            // The minute's sums count hours from its start: shifted to the range's start.
            const double c = double(startMs - fromMs) / 3.6e6;
            SeriesSums minute;
            minute.n = count;
            minute.t = su + double(count) * c;
            minute.v = sv;
            minute.tt = suu + 2 * c * su + double(count) * c * c;
            minute.tv = suv + c * sv;
            minute.vv = svv;
            sums.merge(minute);
            first = std::min(first, firstTime);
            last = std::max(last, lastTime);
        }
    }
    if (sums.n == 0)
        return std::nullopt;
    for (qint64 i = 0; i < n; ++i) {
        const Acc& a = acc[size_t(i)];
        if (a.count == 0)
            continue;
        t.buckets.append({fromMs + i * intervalMs, a.count, a.sum / double(a.count), a.min, a.max,
                          a.worst > 4 ? -1 : a.worst});
    }
    t.drift = assessDrift(t.parameter, t.bands, sums, fromMs, first, last);
    return t;
}

QList<Drift> HistoryQuery::drifts(const QString& reader, qint64 fromMs, qint64 toMs) {
    QList<Drift> out;
    const qint64 interval = std::max<qint64>(1000, (toMs - fromMs) / 60);
    for (const QString& parameter : parameters(reader, fromMs, toMs))
        if (auto t = trend(reader, parameter, fromMs, toMs, interval))
            out.append(t->drift);
    std::stable_sort(out.begin(), out.end(),
                     [](const Drift& a, const Drift& b) { return a.flagged > b.flagged; });
    return out;
}

QList<WorstRead> HistoryQuery::worstReads(const QString& reader, qint64 fromMs, qint64 toMs, int limit) {
    QList<WorstRead> out;
    if (!m_db)
        return out;
    sql::Statement s(*m_db,
                     "SELECT id, time, number, result, failure, text, overall, image FROM reads "
                     "WHERE reader = ?1 AND time >= ?2 AND time < ?3 "
                     "ORDER BY CASE result WHEN 2 THEN 0 WHEN 1 THEN 1 ELSE 2 END, coalesce(overall, 5), "
                     "time DESC LIMIT ?4");
    for (qint64 id : readerIds(reader)) {
        s.reset();
        s.bind(1, id);
        s.bind(2, fromMs);
        s.bind(3, toMs);
        s.bind(4, qint64(limit));
        while (s.step() == SQLITE_ROW)
            out.append({s.int64(0), s.int64(1), s.int64(2), ReadResult(s.int64(3)), s.text(4), s.text(5),
                        s.isNull(6) ? -1 : int(s.int64(6)), s.text(7)});
    }
    auto rank = [](const WorstRead& w) {
        const int outcome = w.result == ReadResult::NoRead ? 0 : w.result == ReadResult::Fail ? 1 : 2;
        return std::pair(outcome, w.overallGrade < 0 ? 5 : w.overallGrade);
    };
    std::stable_sort(out.begin(), out.end(), [&](const WorstRead& a, const WorstRead& b) {
        return rank(a) != rank(b) ? rank(a) < rank(b) : a.timeMs > b.timeMs;
    });
    if (out.size() > limit)
        out.resize(limit);
    return out;
}

QList<ReadEntry> HistoryQuery::reads(const QString& reader, qint64 fromMs, qint64 toMs, int limit) {
    QList<ReadEntry> out;
    if (!m_db)
        return out;
    sql::Statement r(*m_db,
                     "SELECT r.id, r.time, r.number, r.result, r.failure, r.text, r.symbology, r.overall, "
                     "r.image, d.name, d.mac FROM reads r JOIN readers d ON d.id = r.reader "
                     "WHERE r.reader = ?1 AND r.time >= ?2 AND r.time < ?3 ORDER BY r.time, r.id LIMIT ?4");
    sql::Statement params(*m_db, "SELECT id, name FROM parameters ORDER BY id");
    QList<std::pair<qint64, QString>> names;
    while (params.step() == SQLITE_ROW)
        names.append({params.int64(0), params.text(1)});
    sql::Statement g(*m_db, "SELECT read, value, grade, value_text FROM grades WHERE reader = ?1 AND "
                            "parameter = ?2 AND time >= ?3 AND time <= ?4");
    for (qint64 id : readerIds(reader)) {
        r.reset();
        r.bind(1, id);
        r.bind(2, fromMs);
        r.bind(3, toMs);
        r.bind(4, limit > 0 ? qint64(limit) : qint64(-1));
        QHash<qint64, qsizetype> byRead;
        const qsizetype start = out.size();
        while (r.step() == SQLITE_ROW) {
            ReadEntry e;
            e.timeMs = r.int64(1);
            e.number = r.int64(2);
            e.result = ReadResult(r.int64(3));
            e.failure = r.text(4);
            e.text = r.text(5);
            e.symbology = r.text(6);
            e.overallGrade = r.isNull(7) ? -1 : int(r.int64(7));
            e.imageFile = r.text(8);
            e.reader = r.text(9);
            e.mac = r.text(10);
            byRead.insert(r.int64(0), out.size());
            out.append(std::move(e));
        }
        if (out.size() == start)
            continue;
        const qint64 first = out[start].timeMs, last = out.last().timeMs;
        for (const auto& [parameterId, name] : names) {
            g.reset();
            g.bind(1, id);
            g.bind(2, parameterId);
            g.bind(3, first);
            g.bind(4, last);
            while (g.step() == SQLITE_ROW) {
                const auto at = byRead.constFind(g.int64(0));
                if (at == byRead.constEnd())
                    continue;
                GradedValue v;
                v.name = name;
                v.value = g.isNull(1) ? std::nan("") : g.real(1);
                v.grade = g.isNull(2) ? -1 : int(g.int64(2));
                v.valueText = g.isNull(3) ? QString::number(v.value) : g.text(3);
                out[*at].grades.append(v);
            }
        }
    }
    return out;
}

namespace {

QString csvField(QString text) {
    // A decoded text that begins like a formula must stay text in a spreadsheet. A plain signed
    // number is left as it is; "-1+SUM(A1)" begins like one but is a formula all the same.
    static const QRegularExpression plainNumber(QStringLiteral("^[-+]?\\d+(\\.\\d+)?$"));
    if (!text.isEmpty() && QStringLiteral("=+-@").contains(text.at(0)) && !plainNumber.match(text).hasMatch())
        text.prepend(QLatin1Char('\''));
    if (text.contains(QLatin1Char(',')) || text.contains(QLatin1Char('"')) ||
        text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r'))) {
        text.replace(QLatin1String("\""), QLatin1String("\"\""));
        return QLatin1Char('"') + text + QLatin1Char('"');
    }
    return text;
}

QString isoTime(qint64 ms) {
    const QDateTime t = QDateTime::fromMSecsSinceEpoch(ms);
    return t.toOffsetFromUtc(t.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

} // namespace

bool HistoryQuery::exportCsv(const QString& reader, qint64 fromMs, qint64 toMs, QIODevice& out,
                             QString* error) {
    if (!m_db) {
        if (error)
            *error = QStringLiteral("no history file is open");
        return false;
    }
    QStringList readerNames;
    if (reader.isEmpty()) {
        for (const ReaderSummary& r : readers())
            if (!readerNames.contains(r.name))
                readerNames.append(r.name);
    } else {
        readerNames.append(reader);
    }
    QStringList columns;
    for (const QString& name : readerNames)
        for (const QString& p : parameters(name, fromMs, toMs))
            if (!columns.contains(p))
                columns.append(p);
    QStringList header = {QStringLiteral("time"),          QStringLiteral("reader"),
                          QStringLiteral("mac"),           QStringLiteral("number"),
                          QStringLiteral("result"),        QStringLiteral("failure"),
                          QStringLiteral("symbology"),     QStringLiteral("text"),
                          QStringLiteral("overall grade"), QStringLiteral("image")};
    for (const QString& c : columns)
        header << csvField(c + QStringLiteral(" value")) << csvField(c + QStringLiteral(" grade"));
    auto write = [&](const QString& line) {
        const QByteArray bytes = line.toUtf8() + "\r\n";
        if (out.write(bytes) != bytes.size()) {
            if (error)
                *error = out.errorString();
            return false;
        }
        return true;
    };
    if (!write(header.join(QLatin1Char(','))))
        return false;
    // Ten minutes at a time, so that a year of reads never sits in memory at once.
    constexpr qint64 kChunkMs = 10 * 60 * 1000;
    for (const QString& name : readerNames) {
        for (qint64 from = fromMs; from < toMs; from += kChunkMs) {
            for (const ReadEntry& e : reads(name, from, std::min(toMs, from + kChunkMs))) {
                QStringList row = {
                    isoTime(e.timeMs),         csvField(e.reader),   e.mac,
                    QString::number(e.number), resultName(e.result), csvField(e.failure),
                    csvField(e.symbology),     csvField(e.text),     gradeLetter(e.overallGrade),
                    csvField(e.imageFile)};
                for (const QString& c : columns) {
                    auto it = std::find_if(e.grades.begin(), e.grades.end(),
                                           [&](const GradedValue& g) { return g.name == c; });
                    if (it == e.grades.end())
                        row << QString() << QString();
                    else
                        row << csvField(it->valueText) << gradeLetter(it->grade);
                }
                if (!write(row.join(QLatin1Char(','))))
                    return false;
            }
        }
    }
    return true;
}

qint64 parseSpan(const QString& text) {
    static const QRegularExpression span(QStringLiteral("^\\s*(\\d+(?:\\.\\d+)?)\\s*(s|m|min|h|d)\\s*$"),
                                         QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = span.match(text);
    if (!m.hasMatch())
        return -1;
    const double n = m.captured(1).toDouble();
    const QString unit = m.captured(2).toLower();
    const double unitMs = unit == QLatin1String("s")   ? 1e3
                          : unit == QLatin1String("h") ? 3.6e6
                          : unit == QLatin1String("d") ? 8.64e7
                                                       : 6e4;
    const double ms = n * unitMs;
    return ms > 0 && ms < 1e15 ? qint64(std::llround(ms)) : -1;
}

} // namespace vm::history
