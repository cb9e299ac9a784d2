#pragma once

// Measurements of a printed symbol for tests of grading: a Data Matrix that grades A on
// everything, to change one measurement of at a time.

#include "sim/grader.h"

namespace vm::testing {

inline sim::SymbolMeasurements goodMatrix() {
    sim::SymbolMeasurements m;
    m.valid = true;
    m.rows = m.cols = 16;
    m.symbolContrast = 90;
    m.modulation = 0.9;
    m.fixedPatternModulation = 0.9;
    m.unusedErrorCorrection = 1.0;
    m.cellSize = 10;
    return m;
}

} // namespace vm::testing
