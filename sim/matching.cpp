#include "sim/matching.h"

#include "sim/imagingparameters.h"

#include <vector>

namespace vm::sim {

bool wildcardMatch(const QString& pattern, const QString& text) {
    // Iterative matching with one backtrack point: linear for the usual patterns.
    qsizetype p = 0, t = 0, star = -1, resume = 0;
    while (t < text.size()) {
        if (p < pattern.size() && (pattern.at(p) == QLatin1Char('?') || pattern.at(p) == text.at(t))) {
            ++p;
            ++t;
        } else if (p < pattern.size() && pattern.at(p) == QLatin1Char('*')) {
            star = p++;
            resume = t;
        } else if (star >= 0) {
            p = star + 1;
            t = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern.at(p) == QLatin1Char('*'))
        ++p;
    return p == pattern.size();
}

QString Matcher::evaluate(const FieldReader& fields, int firmwareLevel, bool decoded, const QString& text) {
    m_entry = 0;
    const QString mode = fields.text("MATCHEX", 0).toUpper();
    const bool textMatching = mode == QLatin1String("T") || mode == QLatin1String("B");
    const bool serialMatching = mode == QLatin1String("S") || mode == QLatin1String("B");
    if (!textMatching && !serialMatching)
        return {};

    const QString start = fields.text("MATCHEX", 2);
    if (start != m_startSeen) {
        m_startSeen = start;
        m_counter = start.toLongLong();
    }
    if (!decoded)
        return QStringLiteral("FAIL");

    bool pass = true;
    if (textMatching) {
        bool any = wildcardMatch(unquoted(fields.text("MATCHEX", 1)), text);
        if (!any && firmwareLevel >= 7 && fields.isOn("MATCH_LIST_ENABLE", 0)) {
            for (int n = 1; n <= 15 && !any; ++n) {
                const QString entry = unquoted(fields.text(QStringLiteral("MATCH_LIST %1").arg(n), 0));
                any = !entry.isEmpty() && wildcardMatch(entry, text);
                if (any)
                    m_entry = n;
            }
        }
        pass = any;
    }
    if (serialMatching) {
        const int first = std::max(1, fields.number("MATCHEX", 4));
        const int last = std::max(first, fields.number("MATCHEX", 5));
        const QString digits = text.mid(first - 1, last - first + 1);
        bool ok = false;
        const qint64 value = digits.toLongLong(&ok);
        const bool serialPass = ok && digits.size() == last - first + 1 && value == m_counter;
        if (serialPass)
            m_counter += fields.number("MATCHEX", 3);
        pass = pass && serialPass;
    }
    return pass ? QStringLiteral("PASS") : QStringLiteral("FAIL");
}

} // namespace vm::sim
