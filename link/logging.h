#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QString>

namespace vm::link {
// Reader traffic; QT_LOGGING_RULES="velmarrow.link*=true" shows it.
Q_DECLARE_LOGGING_CATEGORY(lcLink)
Q_DECLARE_LOGGING_CATEGORY(lcLinkTraffic)

// Lets a few warnings a second through, so that a reader repeating a fault cannot
// flood the log; the number left out is told with the next one let through.
class WarningLimiter {
public:
    static constexpr int kBurst = 5;
    static constexpr int kPeriodMs = 1000;
    bool allow();
    qint64 suppressed() const { return m_suppressedTotal; }

private:
    QElapsedTimer m_period;
    int m_inPeriod = 0;
    qint64 m_suppressed = 0;
    qint64 m_suppressedTotal = 0;
};

// Text that came from a reader, made safe for a log line: control characters,
// direction overrides and invalid bytes are shown as escapes, and length is bounded.
QString printable(const QByteArray& raw, int maxChars = 200);
QString printable(const QString& text, int maxChars = 200);
} // namespace vm::link
