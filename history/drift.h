#pragma once

#include "history/gradebands.h"

#include <QString>

namespace vm::history {

// Running sums of (time, value) pairs: enough for a straight-line fit, and mergeable, so
// that a query can gather them per interval and the rule fit the whole range from them.
// Time is in hours from an origin the caller picks (the start of the range), which keeps
// the sums precise.
struct SeriesSums {
    qint64 n = 0;
    double t = 0, v = 0, tt = 0, tv = 0, vv = 0;
    void add(double hours, double value);
    void merge(const SeriesSums& other);
};

// What the drift rule found for one parameter (docs/history.md gives the rule).
struct Drift {
    static constexpr int kMinValues = 20;                 // fewer graded values say nothing
    static constexpr double kMinTStatistic = 5;           // the slope stands out from the scatter
    static constexpr double kMinBandShare = 0.25;         // and moved the value a quarter of a band
    static constexpr qint64 kHorizonMs = 8 * 3600 * 1000; // a next grade within 8 h is told

    QString parameter;
    bool enoughData = false;
    bool worsening = false; // the fitted line moves toward F, significantly
    bool flagged = false;   // worsening and fell a grade or reaches the next within the horizon
    qint64 count = 0;
    qint64 spanMs = 0;     // from the first to the last value
    double startValue = 0; // the fitted line at the first value
    double endValue = 0;   // and at the last
    int startGrade = -1;   // the grades of those fitted values
    int endGrade = -1;
    double slopePerHour = 0;   // value units per hour
    double tStatistic = 0;     // the slope over its standard error
    int nextGrade = -1;        // the grade below endGrade, -1 at F
    qint64 msToNextGrade = -1; // from the last value, at this rate; -1 never
    QString text;              // one sentence for the operator
};

// Applies the drift rule to the values of one parameter. `originMs` is the time the sums'
// hours count from; `firstMs` and `lastMs` the times of the first and last value.
Drift assessDrift(const QString& parameter, const GradeBands& bands, const SeriesSums& sums, qint64 originMs,
                  qint64 firstMs, qint64 lastMs);

// "40 s", "25 min", "2 h", "2.5 h", "3 days".
QString roughDuration(qint64 ms);

} // namespace vm::history
