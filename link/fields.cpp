#include "link/fields.h"

namespace vm::link {

namespace {

bool endsQuotedText(const QString& line, qsizetype at) {
    return line.at(at) == QLatin1Char('"') && (at + 1 == line.size() || line.at(at + 1) == QLatin1Char(' '));
}

} // namespace

QStringList splitFields(const QString& line) {
    QStringList fields;
    const qsizetype n = line.size();
    qsizetype start = 0;
    for (;;) {
        qsizetype end = -1; // one past the field's last character
        if (start < n && line.at(start) == QLatin1Char('"')) {
            for (qsizetype j = start + 1; j < n && end < 0; ++j)
                if (endsQuotedText(line, j))
                    end = j + 1;
        } else {
            end = line.indexOf(QLatin1Char(' '), start);
        }
        if (end < 0)
            end = n;
        fields.append(line.mid(start, end - start));
        if (end >= n)
            return fields;
        start = end + 1; // past the blank that ends the field
    }
}

bool isQuotableText(const QString& text) {
    return !text.contains(QLatin1String("\" "));
}

QString unquoteField(const QString& text) {
    if (text.size() >= 2 && text.startsWith(QLatin1Char('"')) && text.endsWith(QLatin1Char('"')))
        return text.mid(1, text.size() - 2);
    return text;
}

QString unquoteOrStrip(const QString& text) {
    if (text.size() >= 2 && text.startsWith(QLatin1Char('"')) && text.endsWith(QLatin1Char('"')))
        return text.mid(1, text.size() - 2);
    return QString(text).remove(QLatin1Char('"'));
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
