#include "link/configdiff.h"

#include "link/configuration.h"
#include "link/parameterset.h"
#include "link/protocol.h"

#include <QHash>

#include <algorithm>

namespace vm::link {

namespace {

struct Entry {
    QString line;
    QStringList words;
    int nameLength = 1; // words of the name
    bool named = false; // the name is the reader's own, not read from the listing
};

// How the reader family names the parameters that carry sub-keywords: the keyword and the
// words after it that pick one of its parameters. A listing cannot tell "BARCODE ENABLE 0x1"
// (one parameter of the keyword BARCODE) from "ROI 0 0 658 493" (a keyword and its values)
// when its keyword appears once. The number of name words, or 0 for a keyword the program
// knows no sub-keywords of (its parameters are told apart by the listing alone).
int readerNameLength(const QStringList& words) {
    if (words.size() < 2)
        return 0;
    const QString keyword = words.at(0).toUpper();
    const QString second = words.at(1).toUpper();
    if (keyword == QLatin1String("TRIG"))
        return second == QLatin1String("U") ? 2 : 1; // the user trigger string beside the mode
    if (keyword == QLatin1String("OUTPUT"))
        // OUTPUT FORMAT and OUTPUT BEEP, then a port's event ("OUTPUT TCP1 OKDEC"), header and
        // trailer ("OUTPUT TCP1 H_T") and fixed length ("OUTPUT TCP1 FIXED").
        return second == QLatin1String("FORMAT") || second == QLatin1String("BEEP") ? 2 : 3;
    static const QStringList kOneSubKeyword = {
        QStringLiteral("TIMEOUT"),      QStringLiteral("BARCODE"),
        QStringLiteral("BARHGT"),       QStringLiteral("BARLEN"),
        QStringLiteral("BARNUM"),       QStringLiteral("BARWDT"),
        QStringLiteral("CELL"),         QStringLiteral("PROBE"),
        QStringLiteral("VERENABLE"),    QStringLiteral("BCCHKSUMEX"),
        QStringLiteral("MATCH_LIST"),   QStringLiteral("SIGOUT"),
        QStringLiteral("SET_CRITERIA"), QStringLiteral("IOASSIGN"),
        QStringLiteral("ASSIGNEX"),     QStringLiteral("XLIGHTCONTRASTCAL"),
    };
    return kOneSubKeyword.contains(keyword) ? 2 : 0;
}

using Groups = QList<std::pair<QString, QList<Entry>>>;

// Lines grouped by keyword, in listing order.
Groups groupLines(const QStringList& lines) {
    Groups groups;
    QHash<QString, int> at;
    for (const QString& line : lines) {
        if (!isConfigurationCommand(line))
            continue;
        Entry e{line, splitFields(line), 1};
        if (e.words.isEmpty())
            continue;
        if (const int length = readerNameLength(e.words); length > 0) {
            e.nameLength = std::min<int>(length, int(e.words.size()));
            e.named = true;
        }
        const QString keyword = e.words.first().toUpper();
        auto it = at.constFind(keyword);
        if (it == at.constEnd()) {
            at.insert(keyword, int(groups.size()));
            groups.append({keyword, {e}});
        } else {
            groups[*it].second.append(e);
        }
    }
    // Otherwise a parameter's name is as long as it must be to tell it from its keyword's others.
    for (auto& [keyword, entries] : groups) {
        if (entries.size() < 2)
            continue;
        for (Entry& e : entries) {
            if (e.named)
                continue;
            int length = 1;
            for (; length < e.words.size(); ++length) {
                const bool shared = std::any_of(entries.cbegin(), entries.cend(), [&](const Entry& o) {
                    if (&o == &e || o.words.size() < length)
                        return false;
                    for (int i = 0; i < length; ++i)
                        if (o.words.at(i).compare(e.words.at(i), Qt::CaseInsensitive) != 0)
                            return false;
                    return true;
                });
                if (!shared)
                    break;
            }
            e.nameLength = std::min<int>(length, int(e.words.size()));
        }
    }
    return groups;
}

QString nameOf(const Entry& e, int length) {
    return e.words.mid(0, length).join(QLatin1Char(' ')).toUpper();
}

int commonLength(const QStringList& a, const QStringList& b) {
    int n = 0;
    while (n < a.size() && n < b.size() && a.at(n).compare(b.at(n), Qt::CaseInsensitive) == 0)
        ++n;
    return n;
}

void comparePair(const Entry& a, const Entry& b, QList<ConfigDifference>* out) {
    if (a.line == b.line)
        return;
    // A name never runs into the first word that differs: that word is a value.
    const int length = std::max(1, std::min({a.nameLength, b.nameLength, commonLength(a.words, b.words)}));
    const QString name = nameOf(a, length);
    const QStringList fa = a.words.mid(length), fb = b.words.mid(length);
    for (int i = 0; i < std::max(fa.size(), fb.size()); ++i) {
        if (fa.value(i) == fb.value(i))
            continue;
        ConfigDifference d;
        d.name = name;
        d.field = i;
        d.left = fa.value(i);
        d.right = fb.value(i);
        d.leftLine = a.line;
        d.rightLine = b.line;
        d.identity = isIdentityLine(a.line);
        out->append(d);
    }
}

ConfigDifference alone(const Entry& e, bool left) {
    ConfigDifference d;
    d.name = nameOf(e, e.nameLength);
    d.field = -1;
    (left ? d.left : d.right) = e.words.mid(e.nameLength).join(QLatin1Char(' '));
    (left ? d.leftLine : d.rightLine) = e.line;
    d.identity = isIdentityLine(e.line);
    return d;
}

} // namespace

QList<ConfigDifference> compareConfigurations(const QStringList& left, const QStringList& right) {
    const Groups a = groupLines(left);
    const Groups b = groupLines(right);
    QHash<QString, int> bAt;
    for (int i = 0; i < b.size(); ++i)
        bAt.insert(b.at(i).first, i);
    QList<ConfigDifference> out;
    QList<bool> bSeen(b.size(), false);
    for (const auto& [keyword, entries] : a) {
        const auto found = bAt.constFind(keyword);
        if (found == bAt.constEnd()) {
            for (const Entry& e : entries)
                out.append(alone(e, true));
            continue;
        }
        bSeen[*found] = true;
        const QList<Entry>& others = b.at(*found).second;
        const auto named = [](const Entry& e) { return e.named; };
        const bool byName = std::any_of(entries.cbegin(), entries.cend(), named) ||
                            std::any_of(others.cbegin(), others.cend(), named);
        if (!byName && entries.size() == others.size()) {
            // The same reader family lists a keyword's parameters in the same order.
            for (int i = 0; i < entries.size(); ++i)
                comparePair(entries.at(i), others.at(i), &out);
            continue;
        }
        // Names the reader gives, or different generations: pair by name, the rest stands alone.
        QList<bool> used(others.size(), false);
        for (const Entry& e : entries) {
            const QString name = nameOf(e, e.nameLength);
            int match = -1;
            for (int j = 0; j < others.size() && match < 0; ++j)
                if (!used.at(j) && nameOf(others.at(j), others.at(j).nameLength) == name)
                    match = j;
            if (match < 0) {
                out.append(alone(e, true));
                continue;
            }
            used[match] = true;
            comparePair(e, others.at(match), &out);
        }
        for (int j = 0; j < others.size(); ++j)
            if (!used.at(j))
                out.append(alone(others.at(j), false));
    }
    for (int i = 0; i < b.size(); ++i)
        if (!bSeen.at(i))
            for (const Entry& e : b.at(i).second)
                out.append(alone(e, false));
    return out;
}

bool takeDifference(ParameterSet& set, const ConfigDifference& difference) {
    if (difference.field < 0) {
        if (difference.rightLine.isEmpty())
            return false;
        const QStringList words = splitFields(difference.rightLine);
        const int length = int(difference.name.count(QLatin1Char(' '))) + 1;
        Parameter& p = set.GetParameter(difference.name);
        const QStringList fields = words.mid(length);
        for (int i = 0; i < fields.size(); ++i)
            p.SetField(i, fields.at(i));
        return true;
    }
    const int length = int(difference.name.count(QLatin1Char(' '))) + 1;
    Parameter& p = set.GetParameter(difference.name);
    if (!p.Loaded() && !p.Modified())
        p.setLoadedFields(splitFields(difference.leftLine).mid(length));
    p.SetField(difference.field, difference.right);
    return true;
}

} // namespace vm::link
