#include "history/sqlite.h"

#include <cmath>

namespace vm::history::sql {

bool Database::open(const QString& path, bool readOnly, QString* error) {
    close();
    const int flags =
        (readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE) | SQLITE_OPEN_NOMUTEX;
    const int rc = sqlite3_open_v2(path.toUtf8().constData(), &m_db, flags, nullptr);
    if (rc != SQLITE_OK) {
        if (error)
            *error = m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : QString::fromUtf8(sqlite3_errstr(rc));
        close();
        return false;
    }
    sqlite3_extended_result_codes(m_db, 1);
    // Another program instance may hold the write lock for a moment: wait for it rather than fail.
    sqlite3_busy_timeout(m_db, 5000);
    return true;
}

void Database::close() {
    if (m_db)
        sqlite3_close_v2(m_db);
    m_db = nullptr;
}

bool Database::exec(const char* sql, QString* error) {
    char* message = nullptr;
    const int rc = sqlite3_exec(m_db, sql, nullptr, nullptr, &message);
    if (rc != SQLITE_OK) {
        if (error)
            *error = QString::fromUtf8(message ? message : sqlite3_errstr(rc));
        sqlite3_free(message);
        return false;
    }
    return true;
}

QString Database::lastError() const {
    return m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : QStringLiteral("the history file is not open");
}

qint64 Database::scalar(const char* sql, qint64 fallback) {
    Statement s(*this, sql);
    if (!s.valid() || s.step() != SQLITE_ROW)
        return fallback;
    return s.int64(0);
}

bool Statement::prepare(Database& db, const char* sql) {
    sqlite3_finalize(m_stmt);
    m_stmt = nullptr;
    return sqlite3_prepare_v3(db.handle(), sql, -1, SQLITE_PREPARE_PERSISTENT, &m_stmt, nullptr) == SQLITE_OK;
}

void Statement::bind(int i, double v) {
    if (std::isfinite(v))
        sqlite3_bind_double(m_stmt, i, v);
    else
        sqlite3_bind_null(m_stmt, i);
}

void Statement::bind(int i, const QString& v) {
    if (v.isNull()) {
        sqlite3_bind_null(m_stmt, i);
        return;
    }
    const QByteArray utf8 = v.toUtf8();
    sqlite3_bind_text(m_stmt, i, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
}

QString Statement::text(int c) const {
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, c));
    return p ? QString::fromUtf8(p, sqlite3_column_bytes(m_stmt, c)) : QString();
}

} // namespace vm::history::sql
