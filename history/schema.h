#pragma once

#include <QByteArray>
#include <QString>

namespace vm::history {

namespace sql {
class Database;
}

// The layout of a history file. Every file carries the program's mark (its application id)
// and the version of its layout (its user version); a program opens files of its own version
// and older ones, bringing older ones up to date, and refuses newer ones.
namespace schema {
constexpr int kApplicationId = 0x564d4853; // "VMHS"
constexpr int kVersion = 3;

// Makes `db` hold the current layout: creates it in an empty file, migrates an older one.
// False with a sentence for the operator when the file is from a newer program, is another
// program's database, or cannot be changed.
bool prepare(sql::Database& db, const QString& path, QString* error);
// Only checks that the file can be read by this program (no change is made).
bool check(sql::Database& db, const QString& path, QString* error);

// The columns of the per-minute summary of graded values (table `minutes`), in order, and the
// SELECT that computes them from `grades` for the rows a WHERE clause picks; `u` is the time
// within the minute in hours. Values (where a row has one) and grades (where it has one) are
// summed apart: a trend follows a parameter on one or the other.
constexpr int kMinuteColumns = 24;
QByteArray minuteSummarySelect(const char* where);
// The same for the pass, fail and no-read counts of each minute (table `read_minutes`).
QByteArray readMinuteSelect(const char* where);
} // namespace schema

} // namespace vm::history
