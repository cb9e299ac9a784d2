#pragma once

#include <QString>

#include <array>
#include <optional>

namespace vm::history {

// The grade bands of one graded parameter: where on its value scale A ends and B begins,
// and so on down to F. The limits are those the reader grades by (ISO/IEC 15415 for
// two-dimensional symbols, 15416 for barcodes).
struct GradeBands {
    bool higherIsBetter = true;
    // The least good value of A, B, C and D (their lower limits when higher is better,
    // their upper limits otherwise); a value beyond D's limit is F.
    std::array<double, 4> limits{};

    // 4 (A) to 0 (F).
    int gradeOf(double value) const;
    // The value at which `grade` gives way to the next lower grade (grade 4: the A/B limit).
    double lowerEdge(int grade) const { return limits[std::size_t(4 - grade)]; }
    // The width of a grade's band on the value scale; for A, whose band is open, that of B.
    double bandWidth(int grade) const;
};

// The bands of a parameter as the reader names it ("Symbol Contrast"), for a two-dimensional
// symbol or a barcode; none for parameters whose grade does not follow from their value alone
// (Minimum Reflectance, Decode).
std::optional<GradeBands> bandsFor(const QString& parameter, bool twoDimensional);

// The bands of the grade itself as a number (4 A down to 0 F): a parameter without value
// bands is followed on its grade.
GradeBands gradeScaleBands();

} // namespace vm::history
