#include "history/historystore.h"

#include "history/logging.h"
#include "history/schema.h"
#include "history/sqlite.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QStandardPaths>

#include <array>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <tuple>
#include <vector>

namespace vm::history {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

struct HistoryStore::Writer {
    HistoryStore* owner = nullptr;
    QString path;
    sql::Database db;

    // Shared with the callers' threads, under `mutex`.
    std::mutex mutex;
    std::condition_variable wake; // work for the writer
    std::condition_variable done; // a batch or a retention pass is finished
    std::deque<ReadEntry> queue;
    bool stop = false;
    bool flushWanted = false;
    bool resumeWanted = false;
    bool pausedFlag = false;
    QString pauseWhy;
    qint64 appendedSeq = 0; // reads handed to append()
    qint64 doneSeq = 0;     // of them, written or dropped
    qint64 retentionAsked = 0, retentionDone = 0;
    Retention retention;
    Stats stats;

    // The writer thread's own.
    std::thread thread;
    QHash<QString, qint64> readerIds;
    QHash<QString, qint64> parameterIds;
    sql::Statement insertRead, insertGrade, insertReader, selectReader, insertParameter, selectParameter;
    sql::Statement addMinute, addReadMinute;
    Clock::time_point lastRetention{};
    Clock::time_point pausedAt{};

    void run();
    enum class Outcome { Written, Busy, Failed };
    Outcome writeBatch(const std::vector<ReadEntry>& batch, QString* why);
    qint64 readerId(const ReadEntry& e);
    qint64 parameterId(const QString& name);
    void applyRetention(const Retention& limits);
    qint64 deleteOlderThan(qint64 cutoffMs);
    void emitPaused(const QString& why);
    void emitResumed();
};

namespace {

// One minute's graded values of one reader and parameter within a batch, summed as the
// `minutes` table keeps them (schema::minuteSummarySelect).
struct MinuteSums {
    qint64 nv = 0;
    double su = 0, sv = 0, suu = 0, suv = 0, svv = 0, vmin = 0, vmax = 0;
    int vworst = 5;
    qint64 vfirst = 0, vlast = 0;
    qint64 ng = 0;
    double gu = 0, sg = 0, guu = 0, gug = 0, sgg = 0;
    int gmin = 5, gmax = -1;
    qint64 gfirst = 0, glast = 0;

    void add(qint64 time, double value, int grade) {
        const double u = double(time % 60000) / 3.6e6;
        if (std::isfinite(value)) {
            if (nv == 0) {
                vmin = vmax = value;
                vfirst = vlast = time;
            }
            ++nv;
            su += u;
            sv += value;
            suu += u * u;
            suv += value * u;
            svv += value * value;
            vmin = std::min(vmin, value);
            vmax = std::max(vmax, value);
            vfirst = std::min(vfirst, time);
            vlast = std::max(vlast, time);
            if (grade >= 0)
                vworst = std::min(vworst, grade);
        }
        if (grade >= 0) {
            if (ng == 0)
                gfirst = glast = time;
            ++ng;
            gu += u;
            sg += grade;
            guu += u * u;
            gug += grade * u;
            sgg += double(grade) * grade;
            gmin = std::min(gmin, grade);
            gmax = std::max(gmax, grade);
            gfirst = std::min(gfirst, time);
            glast = std::max(glast, time);
        }
    }
};

QString describeFailure(const QString& path, int code, const QString& message) {
    const QString file = QDir::toNativeSeparators(path);
    if ((code & 0xff) == SQLITE_FULL)
        return QStringLiteral("The disk that holds the history file %1 is full: recording is paused until "
                              "space is freed (reads meanwhile are not kept).")
            .arg(file);
    if ((code & 0xff) == SQLITE_READONLY)
        return QStringLiteral("The history file %1 cannot be written (%2): recording is paused.")
            .arg(file, message);
    return QStringLiteral("The history file %1 could not be written (%2): recording is paused.")
        .arg(file, message);
}

} // namespace

qint64 HistoryStore::Writer::readerId(const ReadEntry& e) {
    const QString key = e.reader + QLatin1Char('\n') + e.mac;
    if (auto it = readerIds.constFind(key); it != readerIds.constEnd())
        return *it;
    insertReader.reset();
    insertReader.bind(1, e.reader);
    insertReader.bind(2, e.mac.isNull() ? QStringLiteral("") : e.mac);
    if (insertReader.step() != SQLITE_DONE)
        return -1;
    selectReader.reset();
    selectReader.bind(1, e.reader);
    selectReader.bind(2, e.mac.isNull() ? QStringLiteral("") : e.mac);
    if (selectReader.step() != SQLITE_ROW)
        return -1;
    const qint64 id = selectReader.int64(0);
    // A statement left on its row would hold an old snapshot of the file, and the next write
    // would find another program's commit in its way.
    selectReader.reset();
    readerIds.insert(key, id);
    return id;
}

qint64 HistoryStore::Writer::parameterId(const QString& name) {
    if (auto it = parameterIds.constFind(name); it != parameterIds.constEnd())
        return *it;
    insertParameter.reset();
    insertParameter.bind(1, name);
    if (insertParameter.step() != SQLITE_DONE)
        return -1;
    selectParameter.reset();
    selectParameter.bind(1, name);
    if (selectParameter.step() != SQLITE_ROW)
        return -1;
    const qint64 id = selectParameter.int64(0);
    selectParameter.reset();
    parameterIds.insert(name, id);
    return id;
}

HistoryStore::Writer::Outcome HistoryStore::Writer::writeBatch(const std::vector<ReadEntry>& batch,
                                                               QString* why) {
    if (!db.exec("BEGIN IMMEDIATE")) {
        const int code = db.lastErrorCode();
        *why = describeFailure(path, code, db.lastError());
        return (code & 0xff) == SQLITE_BUSY || (code & 0xff) == SQLITE_LOCKED ? Outcome::Busy
                                                                              : Outcome::Failed;
    }
    auto fail = [&]() {
        const int code = db.lastErrorCode();
        *why = describeFailure(path, code, db.lastError());
        db.exec("ROLLBACK");
        // Rows this transaction added are gone again.
        readerIds.clear();
        parameterIds.clear();
        return (code & 0xff) == SQLITE_BUSY ? Outcome::Busy : Outcome::Failed;
    };
    std::map<std::tuple<qint64, qint64, qint64>, MinuteSums> minutes;
    std::map<std::pair<qint64, qint64>, std::array<qint64, 3>> readMinutes;
    for (const ReadEntry& e : batch) {
        const qint64 reader = readerId(e);
        if (reader < 0)
            return fail();
        insertRead.reset();
        insertRead.bind(1, reader);
        insertRead.bind(2, e.timeMs);
        insertRead.bind(3, e.number);
        insertRead.bind(4, int(e.result));
        insertRead.bind(5, e.failure.isEmpty() ? QString() : e.failure);
        insertRead.bind(6, e.text);
        insertRead.bind(7, e.symbology);
        if (e.overallGrade >= 0)
            insertRead.bind(8, e.overallGrade);
        insertRead.bind(9, e.imageFile.isEmpty() ? QString() : e.imageFile);
        if (insertRead.step() != SQLITE_DONE)
            return fail();
        const qint64 read = sqlite3_last_insert_rowid(db.handle());
        ++readMinutes[{reader, e.timeMs / 60000}][size_t(e.result)];
        for (const GradedValue& g : e.grades) {
            const qint64 parameter = parameterId(g.name);
            if (parameter < 0)
                return fail();
            insertGrade.reset();
            insertGrade.bind(1, reader);
            insertGrade.bind(2, parameter);
            insertGrade.bind(3, e.timeMs);
            insertGrade.bind(4, read);
            insertGrade.bind(5, g.value);
            if (g.grade >= 0)
                insertGrade.bind(6, g.grade);
            // The text is kept only where the number alone would lose something ("3.1 % L1").
            if (!std::isfinite(g.value) || g.valueText.trimmed() != QString::number(g.value))
                insertGrade.bind(7, g.valueText);
            if (insertGrade.step() != SQLITE_DONE)
                return fail();
            minutes[{reader, parameter, e.timeMs / 60000}].add(e.timeMs, g.value, g.grade);
        }
    }
    // The minutes' summaries in the same transaction: they never disagree with the values.
    for (const auto& [key, m] : minutes) {
        auto& s = addMinute;
        s.reset();
        s.bind(1, std::get<0>(key));
        s.bind(2, std::get<1>(key));
        s.bind(3, std::get<2>(key));
        s.bind(4, m.nv);
        s.bind(5, m.su);
        s.bind(6, m.sv);
        s.bind(7, m.suu);
        s.bind(8, m.suv);
        s.bind(9, m.svv);
        if (m.nv > 0) {
            s.bind(10, m.vmin);
            s.bind(11, m.vmax);
            s.bind(13, m.vfirst);
            s.bind(14, m.vlast);
        }
        if (m.vworst <= 4)
            s.bind(12, m.vworst);
        s.bind(15, m.ng);
        s.bind(16, m.gu);
        s.bind(17, m.sg);
        s.bind(18, m.guu);
        s.bind(19, m.gug);
        s.bind(20, m.sgg);
        if (m.ng > 0) {
            s.bind(21, m.gmin);
            s.bind(22, m.gmax);
            s.bind(23, m.gfirst);
            s.bind(24, m.glast);
        }
        if (s.step() != SQLITE_DONE)
            return fail();
    }
    for (const auto& [key, c] : readMinutes) {
        addReadMinute.reset();
        addReadMinute.bind(1, key.first);
        addReadMinute.bind(2, key.second);
        for (int i = 0; i < 3; ++i)
            addReadMinute.bind(3 + i, c[size_t(i)]);
        if (addReadMinute.step() != SQLITE_DONE)
            return fail();
    }
    if (!db.exec("COMMIT"))
        return fail();
    return Outcome::Written;
}

qint64 HistoryStore::Writer::deleteOlderThan(qint64 cutoffMs) {
    // Both tables are kept in reader order, so each reader's old rows are one stretch.
    QList<qint64> readers, parameters;
    {
        sql::Statement s(db, "SELECT id FROM readers");
        while (s.step() == SQLITE_ROW)
            readers.append(s.int64(0));
        sql::Statement p(db, "SELECT id FROM parameters");
        while (p.step() == SQLITE_ROW)
            parameters.append(p.int64(0));
    }
    qint64 removed = 0;
    sql::Statement reads(db, "DELETE FROM reads WHERE reader = ?1 AND time < ?2");
    sql::Statement grades(db, "DELETE FROM grades WHERE reader = ?1 AND parameter = ?2 AND time < ?3");
    // Minutes wholly before the cutoff go; the minute it cuts through is summed again from what
    // is left of it.
    const qint64 cutMinute = cutoffMs / 60000 - (cutoffMs % 60000 < 0 ? 1 : 0);
    const bool cutsAMinute = cutoffMs - cutMinute * 60000 != 0;
    sql::Statement oldMinutes(db, "DELETE FROM minutes WHERE reader = ?1 AND parameter = ?2 AND minute < ?3");
    sql::Statement cutMinuteGone(db,
                                 "DELETE FROM minutes WHERE reader = ?1 AND parameter = ?2 AND minute = ?3");
    sql::Statement cutMinuteAgain(
        db, ("INSERT INTO minutes " +
             schema::minuteSummarySelect("reader = ?1 AND parameter = ?2 AND time >= ?3 AND time < ?4"))
                .constData());
    sql::Statement oldReadMinutes(db, "DELETE FROM read_minutes WHERE reader = ?1 AND minute < ?2");
    sql::Statement cutReadMinuteGone(db, "DELETE FROM read_minutes WHERE reader = ?1 AND minute = ?2");
    sql::Statement cutReadMinuteAgain(
        db,
        ("INSERT INTO read_minutes " + schema::readMinuteSelect("reader = ?1 AND time >= ?2 AND time < ?3"))
            .constData());
    for (qint64 r : readers) {
        reads.reset();
        reads.bind(1, r);
        reads.bind(2, cutoffMs);
        reads.step();
        removed += sqlite3_changes(db.handle());
        oldReadMinutes.reset();
        oldReadMinutes.bind(1, r);
        oldReadMinutes.bind(2, cutMinute);
        oldReadMinutes.step();
        if (cutsAMinute) {
            cutReadMinuteGone.reset();
            cutReadMinuteGone.bind(1, r);
            cutReadMinuteGone.bind(2, cutMinute);
            cutReadMinuteGone.step();
            cutReadMinuteAgain.reset();
            cutReadMinuteAgain.bind(1, r);
            cutReadMinuteAgain.bind(2, cutMinute * 60000);
            cutReadMinuteAgain.bind(3, cutMinute * 60000 + 60000);
            cutReadMinuteAgain.step();
        }
        for (qint64 p : parameters) {
            grades.reset();
            grades.bind(1, r);
            grades.bind(2, p);
            grades.bind(3, cutoffMs);
            grades.step();
            oldMinutes.reset();
            oldMinutes.bind(1, r);
            oldMinutes.bind(2, p);
            oldMinutes.bind(3, cutMinute);
            oldMinutes.step();
            if (cutsAMinute) {
                cutMinuteGone.reset();
                cutMinuteGone.bind(1, r);
                cutMinuteGone.bind(2, p);
                cutMinuteGone.bind(3, cutMinute);
                cutMinuteGone.step();
                cutMinuteAgain.reset();
                cutMinuteAgain.bind(1, r);
                cutMinuteAgain.bind(2, p);
                cutMinuteAgain.bind(3, cutMinute * 60000);
                cutMinuteAgain.bind(4, cutMinute * 60000 + 60000);
                cutMinuteAgain.step();
            }
        }
    }
    return removed;
}

void HistoryStore::Writer::applyRetention(const Retention& limits) {
    qint64 removed = 0;
    if (!db.exec("BEGIN IMMEDIATE"))
        return;
    if (limits.maxAgeMs > 0)
        removed += deleteOlderThan(QDateTime::currentMSecsSinceEpoch() - limits.maxAgeMs);
    const qint64 pageSize = db.scalar("PRAGMA page_size", 4096);
    const qint64 used =
        (db.scalar("PRAGMA page_count", 0) - db.scalar("PRAGMA freelist_count", 0)) * pageSize;
    if (limits.maxBytes > 0 && used > limits.maxBytes) {
        // Remove the oldest share of reads that brings the file a tenth below its limit.
        const qint64 total = db.scalar("SELECT count(*) FROM reads", 0);
        const double share = double(used - limits.maxBytes * 9 / 10) / double(used);
        const qint64 count = std::clamp<qint64>(qint64(std::ceil(total * share)), 1, total);
        sql::Statement oldest(db, "SELECT time FROM reads ORDER BY time LIMIT 1 OFFSET ?1");
        oldest.bind(1, count - 1);
        if (total > 0 && oldest.step() == SQLITE_ROW)
            removed += deleteOlderThan(oldest.int64(0) + 1);
    }
    if (!db.exec("COMMIT")) {
        db.exec("ROLLBACK");
        return;
    }
    if (removed > 0) {
        db.exec("PRAGMA incremental_vacuum");
        qCInfo(lcHistory).noquote() << "history: retention removed" << removed << "reads from" << path;
    }
    std::lock_guard lock(mutex);
    stats.removedByRetention += removed;
}

void HistoryStore::Writer::emitPaused(const QString& why) {
    qCWarning(lcHistory).noquote() << why;
    QMetaObject::invokeMethod(
        owner, [o = owner, why] { emit o->paused(why); }, Qt::QueuedConnection);
}

void HistoryStore::Writer::emitResumed() {
    qCInfo(lcHistory).noquote() << "history: recording resumed into" << path;
    QMetaObject::invokeMethod(
        owner, [o = owner] { emit o->resumed(); }, Qt::QueuedConnection);
}

void HistoryStore::Writer::run() {
    lastRetention = Clock::now() - milliseconds(kRetentionEveryMs);
    for (;;) {
        std::vector<ReadEntry> batch;
        bool doRetention = false;
        bool stopping = false;
        bool retrying = false;
        Retention limits;
        qint64 retentionTicket = 0;
        {
            std::unique_lock lock(mutex);
            auto ready = [&] {
                return stop || flushWanted || resumeWanted || retentionAsked > retentionDone ||
                       (!pausedFlag && !queue.empty());
            };
            const auto idle = milliseconds(pausedFlag ? kRetryPausedMs : kRetentionEveryMs);
            wake.wait_for(lock, idle, ready);
            if (pausedFlag && (resumeWanted || Clock::now() - pausedAt >= milliseconds(kRetryPausedMs))) {
                pausedFlag = false;
                retrying = true;
            }
            resumeWanted = false;
            // Gather a batch: what came within kBatchMs of the first read waiting.
            if (!pausedFlag && !queue.empty() && !stop && !flushWanted && queue.size() < size_t(kMaxBatch))
                wake.wait_for(lock, milliseconds(kBatchMs),
                              [&] { return stop || flushWanted || queue.size() >= size_t(kMaxBatch); });
            if (!pausedFlag) {
                const size_t n = std::min(queue.size(), size_t(kMaxBatch));
                batch.reserve(n);
                for (size_t i = 0; i < n; ++i) {
                    batch.push_back(std::move(queue.front()));
                    queue.pop_front();
                }
            }
            if (queue.empty())
                flushWanted = false;
            doRetention = !pausedFlag && (retentionAsked > retentionDone ||
                                          Clock::now() - lastRetention >= milliseconds(kRetentionEveryMs));
            retentionTicket = retentionAsked;
            limits = retention;
            stopping = stop;
        }
        if (!batch.empty()) {
            QString why;
            Outcome outcome = writeBatch(batch, &why);
            if (outcome == Outcome::Busy) // another program holds the file longer than the busy wait
                outcome = writeBatch(batch, &why);
            if (outcome == Outcome::Busy && stopping) // a close does not wait for ever
                outcome = Outcome::Failed;
            std::unique_lock lock(mutex);
            if (outcome == Outcome::Written) {
                doneSeq += qint64(batch.size());
                stats.written += qint64(batch.size());
                ++stats.batches;
                if (retrying) {
                    lock.unlock();
                    emitResumed();
                }
            } else {
                // Kept for the next try, in their order, as far as room allows.
                for (auto it = batch.rbegin(); it != batch.rend(); ++it) {
                    if (queue.size() >= size_t(kMaxWaiting)) {
                        ++stats.dropped;
                        ++doneSeq;
                        continue;
                    }
                    queue.push_front(std::move(*it));
                }
                if (outcome == Outcome::Failed) {
                    const bool first = !retrying;
                    pausedFlag = true;
                    pausedAt = Clock::now();
                    pauseWhy = why;
                    lock.unlock();
                    if (first)
                        emitPaused(why);
                }
            }
        } else if (retrying) {
            // Nothing waited: recording simply goes on.
            emitResumed();
        }
        if (doRetention) {
            applyRetention(limits);
            lastRetention = Clock::now();
            std::lock_guard lock(mutex);
            retentionDone = std::max(retentionDone, retentionTicket);
        }
        done.notify_all();
        std::lock_guard lock(mutex);
        if (stopping && (queue.empty() || pausedFlag)) {
            // What the disk could not take is lost with the close; counted, not silent.
            stats.dropped += qint64(queue.size());
            doneSeq += qint64(queue.size());
            queue.clear();
            done.notify_all();
            return;
        }
    }
}

HistoryStore::HistoryStore(QObject* parent)
    : QObject(parent) {}

HistoryStore::~HistoryStore() {
    close();
}

QString HistoryStore::defaultPath() {
    return QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation) +
           QStringLiteral("/history.sqlite");
}

bool HistoryStore::open(const QString& path, QString* error) {
    close();
    QString reason;
    auto fail = [&](const QString& text) {
        if (error)
            *error = text;
        m_writer.reset();
        return false;
    };
    const QFileInfo info(path);
    if (!QDir().mkpath(info.absolutePath()))
        return fail(QStringLiteral("The folder %1 for the history file cannot be created")
                        .arg(QDir::toNativeSeparators(info.absolutePath())));
    auto writer = std::make_unique<Writer>();
    writer->owner = this;
    writer->path = info.absoluteFilePath();
    if (!writer->db.open(writer->path, false, &reason))
        return fail(QStringLiteral("The history file %1 cannot be opened: %2")
                        .arg(QDir::toNativeSeparators(writer->path), reason));
    // Space freed by retention goes back to the disk; only takes effect in a new file.
    writer->db.exec("PRAGMA auto_vacuum = INCREMENTAL");
    if (!schema::prepare(writer->db, writer->path, &reason))
        return fail(reason);
    // The log makes commits cheap and lets windows read while the writer writes; a commit
    // is safe against the program being killed, and the file is never left damaged.
    if (!writer->db.exec("PRAGMA journal_mode = WAL; PRAGMA synchronous = NORMAL", &reason))
        return fail(QStringLiteral("The history file %1 cannot be used: %2")
                        .arg(QDir::toNativeSeparators(writer->path), reason));
    auto& w = *writer;
    const bool prepared =
        w.insertRead.prepare(w.db,
                             "INSERT INTO reads(reader, time, number, result, failure, text, symbology, "
                             "overall, image) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)") &&
        w.insertGrade.prepare(w.db,
                              "INSERT OR REPLACE INTO grades(reader, parameter, time, read, value, grade, "
                              "value_text) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7)") &&
        w.insertReader.prepare(w.db, "INSERT OR IGNORE INTO readers(name, mac) VALUES(?1, ?2)") &&
        w.selectReader.prepare(w.db, "SELECT id FROM readers WHERE name = ?1 AND mac = ?2") &&
        w.insertParameter.prepare(w.db, "INSERT OR IGNORE INTO parameters(name) VALUES(?1)") &&
        w.addMinute.prepare(
            w.db,
            "INSERT INTO minutes VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, "
            "?16, "
            "?17, ?18, ?19, ?20, ?21, ?22, ?23, ?24) ON CONFLICT(reader, parameter, minute) DO UPDATE SET "
            "nv = nv + excluded.nv, su = su + excluded.su, sv = sv + excluded.sv, suu = suu + excluded.suu, "
            "suv = suv + excluded.suv, svv = svv + excluded.svv, "
            "vmin = coalesce(min(vmin, excluded.vmin), vmin, excluded.vmin), "
            "vmax = coalesce(max(vmax, excluded.vmax), vmax, excluded.vmax), "
            "vworst = coalesce(min(vworst, excluded.vworst), vworst, excluded.vworst), "
            "vfirst = coalesce(min(vfirst, excluded.vfirst), vfirst, excluded.vfirst), "
            "vlast = coalesce(max(vlast, excluded.vlast), vlast, excluded.vlast), "
            "ng = ng + excluded.ng, gu = gu + excluded.gu, sg = sg + excluded.sg, guu = guu + excluded.guu, "
            "gug = gug + excluded.gug, sgg = sgg + excluded.sgg, "
            "gmin = coalesce(min(gmin, excluded.gmin), gmin, excluded.gmin), "
            "gmax = coalesce(max(gmax, excluded.gmax), gmax, excluded.gmax), "
            "gfirst = coalesce(min(gfirst, excluded.gfirst), gfirst, excluded.gfirst), "
            "glast = coalesce(max(glast, excluded.glast), glast, excluded.glast)") &&
        w.addReadMinute.prepare(w.db,
                                "INSERT INTO read_minutes VALUES(?1, ?2, ?3, ?4, ?5) ON CONFLICT(reader, "
                                "minute) DO UPDATE SET pass = pass + excluded.pass, fail = fail + "
                                "excluded.fail, noread = noread + excluded.noread") &&
        w.selectParameter.prepare(w.db, "SELECT id FROM parameters WHERE name = ?1");
    if (!prepared)
        return fail(QStringLiteral("The history file %1 cannot be used: %2")
                        .arg(QDir::toNativeSeparators(writer->path), w.db.lastError()));
    m_writer = std::move(writer);
    m_path = m_writer->path;
    m_writer->thread = std::thread([w = m_writer.get()] { w->run(); });
    qCInfo(lcHistory).noquote() << "history: recording into" << m_path;
    return true;
}

void HistoryStore::close() {
    if (!m_writer)
        return;
    {
        std::lock_guard lock(m_writer->mutex);
        m_writer->stop = true;
    }
    m_writer->wake.notify_all();
    if (m_writer->thread.joinable())
        m_writer->thread.join();
    m_writer.reset();
}

bool HistoryStore::isOpen() const {
    return m_writer != nullptr;
}

QString HistoryStore::path() const {
    return m_path;
}

void HistoryStore::append(const ReadEntry& entry) {
    if (!m_writer)
        return;
    bool wakeWriter = false;
    {
        std::lock_guard lock(m_writer->mutex);
        ++m_writer->appendedSeq;
        ++m_writer->stats.appended;
        if (m_writer->queue.size() >= size_t(kMaxWaiting)) {
            ++m_writer->stats.dropped;
            ++m_writer->doneSeq;
            return;
        }
        m_writer->queue.push_back(entry);
        wakeWriter = m_writer->queue.size() == 1 || m_writer->queue.size() >= size_t(kMaxBatch);
    }
    if (wakeWriter)
        m_writer->wake.notify_one();
}

bool HistoryStore::flush(int timeoutMs) {
    if (!m_writer)
        return true;
    std::unique_lock lock(m_writer->mutex);
    const qint64 target = m_writer->appendedSeq;
    const qint64 retentionTarget = m_writer->retentionAsked;
    m_writer->flushWanted = true;
    m_writer->wake.notify_one();
    return m_writer->done.wait_for(lock, milliseconds(timeoutMs), [&] {
        return (m_writer->doneSeq >= target && m_writer->retentionDone >= retentionTarget) ||
               m_writer->pausedFlag;
    }) && m_writer->doneSeq >= target;
}

void HistoryStore::setRetention(const Retention& retention) {
    if (!m_writer)
        return;
    std::lock_guard lock(m_writer->mutex);
    m_writer->retention = retention;
}

Retention HistoryStore::retention() const {
    if (!m_writer)
        return {};
    std::lock_guard lock(m_writer->mutex);
    return m_writer->retention;
}

void HistoryStore::enforceRetention() {
    if (!m_writer)
        return;
    {
        std::lock_guard lock(m_writer->mutex);
        ++m_writer->retentionAsked;
    }
    m_writer->wake.notify_one();
}

bool HistoryStore::isPaused() const {
    if (!m_writer)
        return false;
    std::lock_guard lock(m_writer->mutex);
    return m_writer->pausedFlag;
}

QString HistoryStore::pauseReason() const {
    if (!m_writer)
        return {};
    std::lock_guard lock(m_writer->mutex);
    return m_writer->pausedFlag ? m_writer->pauseWhy : QString();
}

void HistoryStore::resume() {
    if (!m_writer)
        return;
    {
        std::lock_guard lock(m_writer->mutex);
        m_writer->resumeWanted = true;
    }
    m_writer->wake.notify_one();
}

HistoryStore::Stats HistoryStore::stats() const {
    if (!m_writer)
        return {};
    std::lock_guard lock(m_writer->mutex);
    return m_writer->stats;
}

} // namespace vm::history
