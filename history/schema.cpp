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
};
static_assert(std::size(kMigrations) == kVersion, "one migration per version");

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
        if (!db.exec(kMigrations[step], &reason)) {
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
