#pragma once

// Clock times in what a reader or a program printed, made comparable from run to run: a date
// and time, or milliseconds since 1970, that lies within a day of now reads "<time>". One
// that does not (a day and month swapped, a time from another epoch) is left as it is, so
// that a comparison shows it.

#include <QDateTime>
#include <QRegularExpression>
#include <QString>

namespace vm::testing {

inline QString maskedClockTimes(QString text) {
    static const QRegularExpression dateTime(R"((\d{4}-\d\d-\d\d)[ T]\d\d:\d\d:\d\d(\.\d+)?)");
    static const QRegularExpression epochMs(R"(\b1\d{12}\b)");
    const QDateTime now = QDateTime::currentDateTime();
    const auto near = [&](const QDate& d) { return d.isValid() && std::abs(d.daysTo(now.date())) <= 1; };
    for (qsizetype from = 0;;) {
        const QRegularExpressionMatch m = dateTime.match(text, from);
        if (!m.hasMatch())
            break;
        if (near(QDate::fromString(m.captured(1), Qt::ISODate))) {
            text.replace(m.capturedStart(), m.capturedLength(), QStringLiteral("<time>"));
            from = m.capturedStart() + 6;
        } else {
            from = m.capturedEnd();
        }
    }
    for (qsizetype from = 0;;) {
        const QRegularExpressionMatch m = epochMs.match(text, from);
        if (!m.hasMatch())
            break;
        if (std::abs(m.captured().toLongLong() - now.toMSecsSinceEpoch()) <= 86400000LL) {
            text.replace(m.capturedStart(), m.capturedLength(), QStringLiteral("<time>"));
            from = m.capturedStart() + 6;
        } else {
            from = m.capturedEnd();
        }
    }
    return text;
}

} // namespace vm::testing
