#include "sim/printdefects.h"

#include <algorithm>
#include <cmath>

namespace vm::sim {

namespace {

// At full strength the pitch across is this much longer than the pitch down, and an edge
// strays this many modules from the even grid: both well past the worst passing grade.
constexpr double kFullStretch = 0.16;
constexpr double kFullWobble = 0.8;

} // namespace

QStringList PrintDefects::kindNames() {
    return {QStringLiteral("fade"), QStringLiteral("finder"), QStringLiteral("uneven"),
            QStringLiteral("spot")};
}

bool PrintDefects::set(const QString& text, QString* error) {
    const QStringList words = text.simplified().toLower().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    auto fail = [&](const QString& message) {
        if (error)
            *error = message;
        return false;
    };
    if (words.size() == 1 && words.first() == QLatin1String("none")) {
        clear();
        return true;
    }
    if (words.size() != 2 || !kindNames().contains(words.first()))
        return fail(
            QStringLiteral("a fault is KIND STRENGTH or none; kinds: %1").arg(kindNames().join(", ")));
    bool ok = false;
    const double strength = words.at(1).toDouble(&ok);
    if (!ok || !std::isfinite(strength) || strength < 0 || strength > 100)
        return fail(QStringLiteral("the strength of %1 lies between 0 and 100 percent").arg(words.first()));
    const Kind kind = Kind(kindNames().indexOf(words.first()));
    m_strength[kind] = std::lround(strength);
    m_since[kind].start();
    return true;
}

void PrintDefects::clear() {
    m_strength.fill(0);
    m_rate.fill(0);
}

double PrintDefects::strength(Kind kind) const {
    double s = m_strength[kind];
    if (m_rate[kind] != 0 && m_since[kind].isValid())
        s += m_rate[kind] * m_since[kind].elapsed() / 60000.0;
    return std::clamp(s, 0.0, 100.0);
}

void PrintDefects::settle(Kind kind) {
    m_strength[kind] = strength(kind);
    m_since[kind].start();
}

bool PrintDefects::setDrift(const QString& text, QString* error) {
    const QStringList words = text.simplified().toLower().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    auto fail = [&](const QString& message) {
        if (error)
            *error = message;
        return false;
    };
    if (words.size() == 1 && words.first() == QLatin1String("off")) {
        for (int k = 0; k < KindCount; ++k) {
            settle(Kind(k));
            m_rate[k] = 0;
        }
        return true;
    }
    if (words.size() != 2 || !kindNames().contains(words.first()))
        return fail(QStringLiteral("a drift is KIND RATE (percent a minute), KIND off or off; kinds: %1")
                        .arg(kindNames().join(", ")));
    const Kind kind = Kind(kindNames().indexOf(words.first()));
    if (words.at(1) == QLatin1String("off")) {
        settle(kind);
        m_rate[kind] = 0;
        return true;
    }
    bool ok = false;
    const double rate = words.at(1).toDouble(&ok);
    if (!ok || !std::isfinite(rate) || std::abs(rate) > 6000)
        return fail(QStringLiteral("the drift rate of %1 lies between -6000 and 6000 percent a minute")
                        .arg(words.first()));
    settle(kind);
    m_rate[kind] = rate;
    return true;
}

double PrintDefects::driftRate(const QString& kind) const {
    const qsizetype k = kindNames().indexOf(kind.toLower());
    return k < 0 ? 0.0 : m_rate[std::size_t(k)];
}

QJsonObject PrintDefects::settings() const {
    QJsonObject o{{"fade", fade()}, {"finder", finder()}, {"uneven", uneven()}, {"spot", spot()}};
    QJsonObject drift;
    for (int k = 0; k < KindCount; ++k)
        if (m_rate[k] != 0)
            drift.insert(kindNames().at(k), m_rate[k]);
    if (!drift.isEmpty())
        o.insert("drift", drift);
    return o;
}

int PrintDefects::fadedContrast(int contrast) const {
    return int(std::lround(contrast * (100 - strength(Fade)) / 100.0));
}

bool PrintDefects::finderModuleDark(bool ideal, int col, int row, int cols, int rows) const {
    const double finder = strength(Finder);
    if (finder <= 0 || cols < 3 || rows < 3)
        return ideal;
    // The solid edges (left column and bottom row) form one L of rows + cols - 1 modules. The
    // stretch printed light lies in the middle of the left edge and, when longer than that
    // edge, in the middle of the bottom edge as well; the corners of the L stay.
    const int damaged = int(std::lround((rows + cols - 1) * finder / 100.0));
    const int left = std::min(damaged, rows - 2), bottom = std::min(damaged - left, cols - 2);
    const int top = 1 + (rows - 2 - left) / 2, start = 1 + (cols - 2 - bottom) / 2;
    if (col == 0 && row >= top && row < top + left)
        return false;
    if (row == rows - 1 && col >= start && col < start + bottom)
        return false;
    return ideal;
}

double PrintDefects::stretch() const {
    return kFullStretch * strength(Uneven) / 100.0;
}

double PrintDefects::wobble() const {
    return kFullWobble * strength(Uneven) / 100.0;
}

double PrintDefects::printedWidth(int modules) const {
    return modules * (1.0 + stretch());
}

double PrintDefects::moduleAt(double printed, int modules) const {
    if (strength(Uneven) <= 0 || modules <= 0)
        return printed;
    // An edge of nominal module m is printed at m (1 + stretch) + wobble sin(2 pi m / modules):
    // one period across the symbol, so that its outer edges stay where they belong. The
    // slope of the wobble stays below the pitch, so the fixed point below converges.
    const double k = 1.0 + stretch(), a = wobble(), w = 2.0 * M_PI / modules;
    double m = printed / k;
    for (int i = 0; i < 6; ++i)
        m = (printed - a * std::sin(w * m)) / k;
    return m;
}

} // namespace vm::sim
