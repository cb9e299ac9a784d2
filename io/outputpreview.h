#pragma once

#include <QString>

namespace vm::link {
class Record;
}

namespace vm::io {

// What the reader would send for a format string, worked out from a record the program
// received, as the operator should see it: control characters are named ("<CR>", "<LF>",
// "<1B>"), image data is described rather than shown, and the values a record does not
// carry (the reader's counters, the PID, the match list entry) are named in «» brackets.
// Cycle-data and image-data fields count only on the TCP ports (`cycleData`); (DATA) is in
// hexadecimal while the reader's output format is "HEX" (`hexData`).
QString previewFormat(const QString& format, const vm::link::Record& record, bool cycleData,
                      bool hexData = false);

// Bytes as the preview shows them: printable characters as they are, control characters
// by name.
QString visibleText(const QByteArray& bytes);

} // namespace vm::io
