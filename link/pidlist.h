#pragma once

#include <QString>
#include <QStringList>

namespace vm::link {

class CommandResponse;

// The directory listing and each of its lines get this long: the reader walks its flash.
inline constexpr int kDirectoryTimeoutMs = 600;

// The numbers of the stored parameter sets (PIDs) in a "DIR" listing, in listing order.
// A line "PID12: ..." gives "12"; the listing ends at its "DIR ..." line; a "PID" line
// without a number before its first ":" gives nothing.
QStringList parsePidListing(const QStringList& lines);

// Asks the reader for its directory and returns the stored PID numbers; an empty list
// when the reader answers nothing or an error.
QStringList readStoredPids(CommandResponse& channel, int timeoutMs = kDirectoryTimeoutMs);

} // namespace vm::link
