#pragma once

#include <QString>

namespace vm::sim {

class FieldReader;

// "*" stands for any run of characters, "?" for exactly one.
bool wildcardMatch(const QString& pattern, const QString& text);

// The reader's match modes (MATCHEX): text against the match string and the
// match list, serial number against a counter that advances on every match.
class Matcher {
public:
    // "PASS" or "FAIL" for a decoded text, "FAIL" when nothing was read, and an
    // empty text when matching is off.
    QString evaluate(const FieldReader& fields, int firmwareLevel, bool decoded, const QString& text);
    qint64 counter() const { return m_counter; }
    // The match list entry (1 to 15) the last evaluated text matched; 0 for the match string or none.
    int lastEntry() const { return m_entry; }

private:
    qint64 m_counter = 0;
    int m_entry = 0;
    QString m_startSeen; // MATCHEX field 2 when the counter was last set from it
};

} // namespace vm::sim
