#pragma once

// Thin owners of SQLite handles for the history layer: a connection and a prepared
// statement, closed when they go; the errors they raise carry SQLite's own words.

#include <QByteArray>
#include <QString>

#include <sqlite3.h>

#include <utility>

namespace vm::history::sql {

class Database {
public:
    Database() = default;
    ~Database() { close(); }
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    // Opens (readOnly) or opens and creates the file; false with SQLite's reason.
    bool open(const QString& path, bool readOnly, QString* error);
    void close();
    sqlite3* handle() const { return m_db; }
    // Runs statements without results; false with the reason.
    bool exec(const char* sql, QString* error = nullptr);
    QString lastError() const;
    int lastErrorCode() const { return m_db ? sqlite3_extended_errcode(m_db) : SQLITE_MISUSE; }
    // A single integer result of a query (PRAGMA user_version), or fallback.
    qint64 scalar(const char* sql, qint64 fallback = -1);

private:
    sqlite3* m_db = nullptr;
};

class Statement {
public:
    Statement() = default;
    Statement(Database& db, const char* sql) { prepare(db, sql); }
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    Statement(Statement&& o) noexcept
        : m_stmt(std::exchange(o.m_stmt, nullptr)) {}

    bool prepare(Database& db, const char* sql);
    bool valid() const { return m_stmt != nullptr; }
    void reset() {
        sqlite3_reset(m_stmt);
        sqlite3_clear_bindings(m_stmt);
    }
    void bind(int i, qint64 v) { sqlite3_bind_int64(m_stmt, i, v); }
    void bind(int i, int v) { sqlite3_bind_int64(m_stmt, i, v); }
    void bind(int i, double v);
    void bind(int i, const QString& v);
    void bindNull(int i) { sqlite3_bind_null(m_stmt, i); }
    // SQLITE_ROW, SQLITE_DONE or an error code.
    int step() { return sqlite3_step(m_stmt); }
    qint64 int64(int c) const { return sqlite3_column_int64(m_stmt, c); }
    double real(int c) const { return sqlite3_column_double(m_stmt, c); }
    bool isNull(int c) const { return sqlite3_column_type(m_stmt, c) == SQLITE_NULL; }
    QString text(int c) const;

private:
    sqlite3_stmt* m_stmt = nullptr;
    QByteArray m_scratch;
};

} // namespace vm::history::sql
