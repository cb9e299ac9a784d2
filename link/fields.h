#pragma once

#include <QString>

// Text fields of reader replies. A reader sends a text field in double quotes and
// takes one back the same way; quotes inside are not escaped.
namespace vm::link {

// Drops one surrounding pair of double quotes when the text both starts and ends with
// one; any other text comes back as it is.
QString unquoteField(const QString& text);

// Drops the first and the last character whatever they are (the IO windows read their
// quoted fields this way); texts shorter than two characters become empty.
QString dropEnds(const QString& text);

// Wraps a text in one pair of double quotes, as the reader expects a text field.
QString quoteField(const QString& text);

// A field of two double-quote characters: the reader's empty text.
bool isEmptyQuotedField(const QString& text);

} // namespace vm::link
