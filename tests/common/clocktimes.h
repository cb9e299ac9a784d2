#pragma once

// Clock times in what a reader or a program printed, made comparable from run to run: a date
// and time ("2026-12-09 10:00:00", or as a reader's calibration text writes it, "December 09
// 2026  10:00:00"), or milliseconds since 1970, that lies within a day of now reads "<time>".
// One that does not (a day and month swapped, a month's name cut short, a time from another
// epoch) is left as it is, so that a comparison shows it.

#include <QDateTime>
#include <QLocale>
#include <QRegularExpression>
#include <QString>

namespace vm::testing {

inline QString maskedClockTimes(QString text) {
    static const QRegularExpression dateTime(R"((\d{4}-\d\d-\d\d)[ T]\d\d:\d\d:\d\d(\.\d+)?)");
    static const QRegularExpression written(R"(\b([A-Z][a-z]+ \d\d \d{4})  \d\d:\d\d:\d\d)");
    static const QRegularExpression epochMs(R"(\b1\d{12}\b)");
    const QDateTime now = QDateTime::currentDateTime();
    const auto near = [&](const QDate& d) { return d.isValid() && std::abs(d.daysTo(now.date())) <= 1; };
    // Replaces every match of `pattern` that `isNow` takes for a time of today.
    const auto mask = [&text](const QRegularExpression& pattern, const auto& isNow) {
        for (qsizetype from = 0;;) {
            const QRegularExpressionMatch m = pattern.match(text, from);
            if (!m.hasMatch())
                return;
            if (isNow(m)) {
                text.replace(m.capturedStart(), m.capturedLength(), QStringLiteral("<time>"));
                from = m.capturedStart() + 6;
            } else {
                from = m.capturedEnd();
            }
        }
    };
    mask(dateTime, [&](const QRegularExpressionMatch& m) {
        return near(QDate::fromString(m.captured(1), Qt::ISODate));
    });
    mask(written, [&](const QRegularExpressionMatch& m) {
        // Read back and written again, so that a month's name cut short is not taken for it.
        const QString format = QStringLiteral("MMMM dd yyyy");
        const QDate d = QLocale::c().toDate(m.captured(1), format);
        return near(d) && QLocale::c().toString(d, format) == m.captured(1);
    });
    mask(epochMs, [&](const QRegularExpressionMatch& m) {
        return std::abs(m.captured().toLongLong() - now.toMSecsSinceEpoch()) <= 86400000LL;
    });
    return text;
}

} // namespace vm::testing
