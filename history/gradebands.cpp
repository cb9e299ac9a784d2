#include "history/gradebands.h"

#include <QHash>

#include <algorithm>
#include <cmath>

namespace vm::history {

int GradeBands::gradeOf(double value) const {
    for (int i = 0; i < 4; ++i) {
        const bool within =
            higherIsBetter ? value >= limits[std::size_t(i)] : value <= limits[std::size_t(i)];
        if (within)
            return 4 - i;
    }
    return 0;
}

double GradeBands::bandWidth(int grade) const {
    const int g = std::clamp(grade, 1, 3);
    // Band of grade g lies between the limit of g and that of g + 1.
    return std::abs(limits[std::size_t(4 - g)] - limits[std::size_t(3 - g)]);
}

std::optional<GradeBands> bandsFor(const QString& parameter, bool twoDimensional) {
    auto higher = [](double a, double b, double c, double d) { return GradeBands{true, {a, b, c, d}}; };
    auto lower = [](double a, double b, double c, double d) { return GradeBands{false, {a, b, c, d}}; };
    const QString p = parameter.trimmed().toLower();
    if (p == QLatin1String("symbol contrast"))
        return higher(70, 55, 40, 20);
    if (p == QLatin1String("modulation"))
        return twoDimensional ? higher(0.50, 0.40, 0.30, 0.20) : higher(0.70, 0.60, 0.50, 0.40);
    if (p == QLatin1String("axial nonuniformity"))
        return lower(0.06, 0.08, 0.10, 0.12);
    if (p == QLatin1String("grid nonuniformity"))
        return lower(0.38, 0.50, 0.63, 0.75);
    if (p == QLatin1String("fixed pattern damage"))
        return lower(0, 9, 13, 17); // percent of the worst segment's modules damaged
    if (p == QLatin1String("unused error correction"))
        return higher(62, 50, 37, 25); // percent
    if (p == QLatin1String("edge contrast"))
        return higher(15, 15, 15, 15); // percent; below it the scan fails
    if (p == QLatin1String("defects"))
        return lower(0.15, 0.20, 0.25, 0.30);
    if (p == QLatin1String("decodability"))
        return higher(0.62, 0.50, 0.37, 0.25);
    if (p == QLatin1String("center offset"))
        return lower(0.1, 0.2, 0.3, 0.4);
    if (p == QLatin1String("size offset"))
        return lower(0.05, 0.10, 0.15, 0.20);
    if (p == QLatin1String("border match"))
        return higher(99, 97, 94, 90); // percent
    if (p == QLatin1String("angle of distortion"))
        return lower(1, 2, 4, 7); // degrees
    return std::nullopt;
}

GradeBands gradeScaleBands() {
    return GradeBands{true, {3.5, 2.5, 1.5, 0.5}};
}

} // namespace vm::history
