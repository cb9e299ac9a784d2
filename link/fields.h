#pragma once

#include <QString>
#include <QStringList>

// Text fields of reader replies. A reader sends a text field in double quotes and
// takes one back the same way; quotes inside are not escaped.
namespace vm::link {

// Splits a reply line into fields on single blanks; two blanks in a row give an empty field.
// A field that begins with a double quote is a quoted text: it runs to the first later double
// quote that is followed by a blank or ends the line, quotes included, so that a quote inside
// a text ("a"b c") does not end it. Without such a quote it runs to the end of the line. Any
// other field runs to the next blank. The reader splits the commands it receives the same way,
// so a field reads back as the reader stored it.
QStringList splitFields(const QString& line);

// True when quoteField(text) travels as one field: the text holds no double quote followed by
// a blank, which would end it early (the reader refuses or splits such a text).
bool isQuotableText(const QString& text);

// Drops one surrounding pair of double quotes when the text both starts and ends with
// one; any other text comes back as it is.
QString unquoteField(const QString& text);

// Drops one surrounding pair of double quotes; a text without that pair loses every double
// quote instead (the output and match windows show their texts this way).
QString unquoteOrStrip(const QString& text);

// Drops the first and the last character whatever they are (the IO windows read their
// quoted fields this way); texts shorter than two characters become empty.
QString dropEnds(const QString& text);

// Wraps a text in one pair of double quotes, as the reader expects a text field.
QString quoteField(const QString& text);

// A field of two double-quote characters: the reader's empty text.
bool isEmptyQuotedField(const QString& text);

} // namespace vm::link
