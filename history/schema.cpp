#include "history/schema.h"

#include "history/sqlite.h"

#include <QDir>

namespace vm::history::schema {

namespace {

// Migration k brings a file from version k to k + 1. Version 0 is an empty file.
const char* const kMigrations[] = {
    // 0 -> 1: readers, the parameters they grade, one row per read and one per graded value.
    // Graded values are kept in the order a trend reads them (reader, parameter, time), so
    // that a trend over a day of one reader is one stretch of the file.
    "CREATE TABLE readers(id INTEGER PRIMARY KEY, name TEXT NOT NULL, mac TEXT NOT NULL DEFAULT '',"
    "  UNIQUE(name, mac));"
    "CREATE TABLE parameters(id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE);"
    "CREATE TABLE reads(id INTEGER PRIMARY KEY, reader INTEGER NOT NULL, time INTEGER NOT NULL,"
    "  number INTEGER NOT NULL, result INTEGER NOT NULL, failure TEXT, text TEXT, symbology TEXT,"
    "  overall INTEGER, image TEXT);"
    "CREATE INDEX reads_by_reader_time ON reads(reader, time);"
    "CREATE TABLE grades(reader INTEGER NOT NULL, parameter INTEGER NOT NULL, time INTEGER NOT NULL,"
    "  read INTEGER NOT NULL, value REAL, grade INTEGER, value_text TEXT,"
    "  PRIMARY KEY(reader, parameter, time, read)) WITHOUT ROWID;",
    // 1 -> 2: the reads' index also holds the result, so that counting passes, failures and no
    // reads per interval reads the index alone.
    "CREATE INDEX reads_by_reader_time_result ON reads(reader, time, result);"
    "DROP INDEX reads_by_reader_time;",
    // 2 -> 3: a summary of each minute's graded values per reader and parameter, kept by the
    // writer with every batch, so that a trend over a day reads a few thousand summaries and
    // only the minutes its intervals cut through. Filled from the values already kept below.
    "CREATE TABLE minutes(reader INTEGER NOT NULL, parameter INTEGER NOT NULL, minute INTEGER NOT NULL,"
    "  nv INTEGER NOT NULL, su REAL NOT NULL, sv REAL NOT NULL, suu REAL NOT NULL, suv REAL NOT NULL,"
    "  svv REAL NOT NULL, vmin REAL, vmax REAL, vworst INTEGER, vfirst INTEGER, vlast INTEGER,"
    "  ng INTEGER NOT NULL, gu REAL NOT NULL, sg REAL NOT NULL, guu REAL NOT NULL, gug REAL NOT NULL,"
    "  sgg REAL NOT NULL, gmin INTEGER, gmax INTEGER, gfirst INTEGER, glast INTEGER,"
    "  PRIMARY KEY(reader, parameter, minute)) WITHOUT ROWID;"
    "CREATE TABLE read_minutes(reader INTEGER NOT NULL, minute INTEGER NOT NULL, pass INTEGER NOT NULL,"
    "  fail INTEGER NOT NULL, noread INTEGER NOT NULL, PRIMARY KEY(reader, minute)) WITHOUT ROWID;",
};
static_assert(std::size(kMigrations) == kVersion, "one migration per version");

// Migrations that need more than their SQL text.
bool afterMigration(sql::Database& db, int toVersion, QString* reason) {
    if (toVersion != 3)
        return true;
    const QByteArray fill = "INSERT INTO minutes " + minuteSummarySelect("1") + ";INSERT INTO read_minutes " +
                            readMinuteSelect("1");
    return db.exec(fill.constData(), reason);
}

QString shown(const QString& path) {
    return QDir::toNativeSeparators(path);
}

bool identify(sql::Database& db, const QString& path, bool* empty, int* version, QString* error) {
    const qint64 tables = db.scalar("SELECT count(*) FROM sqlite_schema");
    if (tables < 0) {
        *error = QStringLiteral("%1 is not a history file Velmarrow can read: %2")
                     .arg(shown(path), db.lastError());
        return false;
    }
    const qint64 application = db.scalar("PRAGMA application_id", 0);
    *version = int(db.scalar("PRAGMA user_version", 0));
    *empty = tables == 0 && application == 0;
    if (*empty)
        return true;
    if (application != kApplicationId) {
        *error = QStringLiteral("%1 is a database of another program, not a Velmarrow history file")
                     .arg(shown(path));
        return false;
    }
    if (*version > kVersion) {
        *error =
            QStringLiteral("%1 was written by a newer Velmarrow (history layout %2; this version reads up to "
                           "%3). Open it with that version, or choose another history file.")
                .arg(shown(path))
                .arg(*version)
                .arg(kVersion);
        return false;
    }
    return true;
}

} // namespace

QByteArray minuteSummarySelect(const char* where) {
    // `u`: hours since the minute began; the rows' own sums, shifted to any origin later.
    static const QByteArray u = "((time % 60000) / 3600000.0)";
    QByteArray s =
        "SELECT reader, parameter, time / 60000,"
        " count(value), total(CASE WHEN value IS NOT NULL THEN @u END), total(value),"
        " total(CASE WHEN value IS NOT NULL THEN @u * @u END), total(value * @u), total(value * value),"
        " min(value), max(value), min(CASE WHEN value IS NOT NULL THEN grade END),"
        " min(CASE WHEN value IS NOT NULL THEN time END), max(CASE WHEN value IS NOT NULL THEN time END),"
        " count(grade), total(CASE WHEN grade IS NOT NULL THEN @u END), total(grade),"
        " total(CASE WHEN grade IS NOT NULL THEN @u * @u END), total(grade * @u), total(grade * grade),"
        " min(grade), max(grade), min(CASE WHEN grade IS NOT NULL THEN time END),"
        " max(CASE WHEN grade IS NOT NULL THEN time END)"
        " FROM grades WHERE ";
    s += where;
    s += " GROUP BY reader, parameter, time / 60000";
    s.replace("@u", u);
    return s;
}

QByteArray readMinuteSelect(const char* where) {
    return QByteArray(
               "SELECT reader, time / 60000, sum(result = 0), sum(result = 1), sum(result = 2) FROM reads "
               "WHERE ") +
           where + " GROUP BY reader, time / 60000";
}

bool check(sql::Database& db, const QString& path, QString* error) {
    bool empty = false;
    int version = 0;
    if (!identify(db, path, &empty, &version, error))
        return false;
    if (empty || version < kVersion) {
        *error = QStringLiteral("%1 holds no history yet").arg(shown(path));
        return false;
    }
    return true;
}

bool prepare(sql::Database& db, const QString& path, QString* error) {
    // Two programs may open one file at once: the first to take the write lock migrates,
    // the other then finds the file up to date.
    QString reason;
    if (!db.exec("BEGIN IMMEDIATE", &reason)) {
        *error = QStringLiteral("%1 cannot be opened for writing: %2").arg(shown(path), reason);
        return false;
    }
    bool empty = false;
    int version = 0;
    if (!identify(db, path, &empty, &version, error)) {
        db.exec("ROLLBACK");
        return false;
    }
    for (int step = version; step < kVersion; ++step) {
        if (!db.exec(kMigrations[step], &reason) || !afterMigration(db, step + 1, &reason)) {
            db.exec("ROLLBACK");
            *error = QStringLiteral("%1 could not be brought up to history layout %2: %3")
                         .arg(shown(path))
                         .arg(step + 1)
                         .arg(reason);
            return false;
        }
    }
    if (version < kVersion) {
        const QByteArray stamp = QStringLiteral("PRAGMA application_id = %1; PRAGMA user_version = %2;")
                                     .arg(kApplicationId)
                                     .arg(kVersion)
                                     .toUtf8();
        db.exec(stamp.constData());
    }
    if (!db.exec("COMMIT", &reason)) {
        db.exec("ROLLBACK");
        *error = QStringLiteral("%1 could not be written: %2").arg(shown(path), reason);
        return false;
    }
    return true;
}

} // namespace vm::history::schema
