#include "link/fields.h"

namespace vm::link {

QString unquoteField(const QString& text) {
    if (text.size() >= 2 && text.startsWith(QLatin1Char('"')) && text.endsWith(QLatin1Char('"')))
        return text.mid(1, text.size() - 2);
    return text;
}

QString dropEnds(const QString& text) {
    return text.size() >= 2 ? text.mid(1, text.size() - 2) : QString();
}

QString quoteField(const QString& text) {
    return QLatin1Char('"') + text + QLatin1Char('"');
}

bool isEmptyQuotedField(const QString& text) {
    return text == QLatin1String("\"\"");
}

} // namespace vm::link
