#pragma once

#include <QString>

namespace vm::link {

// A reader's text field without one surrounding pair of double quotes; the text as it
// is when it does not both begin and end with a quote.
QString unquoteField(const QString& text);

} // namespace vm::link
