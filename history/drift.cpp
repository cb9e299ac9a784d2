#include "history/drift.h"

#include "history/readentry.h"

#include <cmath>

namespace vm::history {

void SeriesSums::add(double hours, double value) {
    ++n;
    t += hours;
    v += value;
    tt += hours * hours;
    tv += hours * value;
    vv += value * value;
}

void SeriesSums::merge(const SeriesSums& o) {
    n += o.n;
    t += o.t;
    v += o.v;
    tt += o.tt;
    tv += o.tv;
    vv += o.vv;
}

QString roughDuration(qint64 ms) {
    const double s = ms / 1000.0;
    if (s < 90)
        return QStringLiteral("%1 s").arg(std::max<qint64>(1, std::llround(s)));
    if (s < 90 * 60)
        return QStringLiteral("%1 min").arg(std::llround(s / 60));
    const double h = s / 3600;
    if (h < 10)
        return QStringLiteral("%1 h").arg(QString::number(std::round(h * 2) / 2, 'g', 3));
    if (h < 48)
        return QStringLiteral("%1 h").arg(std::llround(h));
    return QStringLiteral("%1 days").arg(std::llround(h / 24));
}

Drift assessDrift(const QString& parameter, const GradeBands& bands, const SeriesSums& s, qint64 originMs,
                  qint64 firstMs, qint64 lastMs) {
    Drift d;
    d.parameter = parameter;
    d.count = s.n;
    d.spanMs = std::max<qint64>(0, lastMs - firstMs);
    const double n = double(s.n);
    const double sxx = s.tt - s.t * s.t / std::max(1.0, n);
    if (s.n < Drift::kMinValues || !(sxx > 0)) {
        d.text = QStringLiteral("%1: too few graded reads for a trend (%2)").arg(parameter).arg(s.n);
        return d;
    }
    d.enoughData = true;
    const double sxy = s.tv - s.t * s.v / n;
    const double syy = s.vv - s.v * s.v / n;
    const double b = sxy / sxx;
    const double a = (s.v - b * s.t) / n;
    const double residual = std::max(0.0, syy - b * sxy) / std::max(1.0, n - 2);
    const double standardError = std::sqrt(residual / sxx);
    d.slopePerHour = b;
    d.tStatistic = standardError > 0 ? b / standardError : (b == 0 ? 0 : std::copysign(1e9, b));
    const double h0 = (firstMs - originMs) / 3.6e6, h1 = (lastMs - originMs) / 3.6e6;
    d.startValue = a + b * h0;
    d.endValue = a + b * h1;
    d.startGrade = bands.gradeOf(d.startValue);
    d.endGrade = bands.gradeOf(d.endValue);

    const bool towardF = bands.higherIsBetter ? b < 0 : b > 0;
    const double moved = std::abs(d.endValue - d.startValue);
    d.worsening = towardF && std::abs(d.tStatistic) >= Drift::kMinTStatistic &&
                  moved >= Drift::kMinBandShare * bands.bandWidth(d.endGrade);
    if (d.endGrade > 0 && b != 0) {
        const double edge = bands.lowerEdge(d.endGrade);
        const double hours = (edge - d.endValue) / b;
        if (towardF && hours >= 0) {
            d.msToNextGrade = qint64(std::llround(hours * 3.6e6));
            // The grade just past the edge: a band may be empty (Edge Contrast goes from A to F).
            const double past = edge + (bands.higherIsBetter ? -1e-9 : 1e-9) * std::max(1.0, std::abs(edge));
            d.nextGrade = bands.gradeOf(past);
        }
    }
    const bool fell = d.endGrade < d.startGrade;
    const bool soon = d.msToNextGrade >= 0 && d.msToNextGrade <= Drift::kHorizonMs;
    d.flagged = d.worsening && (fell || soon);

    const QString over = roughDuration(d.spanMs);
    const QString rest = d.msToNextGrade >= 0 && d.nextGrade >= 0
                             ? QStringLiteral("; at this rate it reaches %1 in about %2")
                                   .arg(gradeLetter(d.nextGrade), roughDuration(d.msToNextGrade))
                             : QString();
    if (d.worsening && fell)
        d.text = QStringLiteral("%1 fell from %2 to %3 over the last %4%5")
                     .arg(parameter, gradeLetter(d.startGrade), gradeLetter(d.endGrade), over, rest);
    else if (d.worsening)
        d.text = QStringLiteral("%1 is getting worse within %2 over the last %3%4")
                     .arg(parameter, gradeLetter(d.endGrade), over, rest);
    else
        d.text = QStringLiteral("%1: no drift toward a lower grade over the last %2 (now %3)")
                     .arg(parameter, over, gradeLetter(d.endGrade));
    return d;
}

} // namespace vm::history
