#include "link/logging.h"

namespace vm::link {
Q_LOGGING_CATEGORY(lcLink, "velmarrow.link", QtInfoMsg)
Q_LOGGING_CATEGORY(lcLinkTraffic, "velmarrow.link.traffic", QtWarningMsg)

bool WarningLimiter::allow() {
    if (!m_period.isValid() || m_period.elapsed() >= kPeriodMs) {
        if (m_suppressed > 0)
            qCWarning(lcLink) << "left out" << m_suppressed << "repeated warnings";
        m_period.start();
        m_inPeriod = 0;
        m_suppressed = 0;
    }
    if (m_inPeriod < kBurst) {
        ++m_inPeriod;
        return true;
    }
    ++m_suppressed;
    ++m_suppressedTotal;
    return false;
}

QString printable(const QString& text, int maxChars) {
    QString out;
    for (const QChar c : text) {
        if (out.size() >= maxChars) {
            out += QStringLiteral("...");
            break;
        }
        const ushort u = c.unicode();
        const bool control = u < 0x20 || u == 0x7f || (u >= 0x80 && u < 0xa0);
        const bool bidi = (u >= 0x202a && u <= 0x202e) || (u >= 0x2066 && u <= 0x2069) || u == 0x200e ||
                          u == 0x200f || u == 0x061c;
        if (control || bidi || c.isSurrogate() || u == 0xfffd)
            out += QStringLiteral("\\u%1").arg(u, 4, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
}

QString printable(const QByteArray& raw, int maxChars) {
    return printable(QString::fromUtf8(raw.left(qsizetype(maxChars) * 4)), maxChars);
}
} // namespace vm::link
