#pragma once

#include "sim/decoder.h"

#include <QImage>
#include <QJsonObject>
#include <QString>

#include <vector>

namespace vm::sim {

class FieldReader;

// One scan across a barcode: the values of its reflectance profile, reflectances in percent.
struct LinearScan {
    double minReflectance = 0.0;
    double maxReflectance = 0.0;
    double symbolContrast = 0.0;
    double edgeContrast = 0.0; // the smallest contrast between neighbouring elements
    double modulation = 0.0;   // edge contrast / symbol contrast
    double defects = 0.0;      // the largest reflectance dip inside one element / symbol contrast
    double decodability = 0.0; // 1 - largest bar-and-space width error / half a module
    double moduleWidth = 0.0;  // pixels
    int elements = 0;          // bars and spaces between the quiet zones
    bool decodes = false;      // the scan shows the elements of the symbol
};

// Print-quality values measured on a located symbol's image.
struct SymbolMeasurements {
    bool valid = false;
    bool linear = false;
    int rows = 0;
    int cols = 0;
    double symbolContrast = 0.0;     // percent reflectance
    double minReflectance = 0.0;     // Rmin, percent: 2-D the darkest module, barcodes the worst scan's
    double maxReflectance = 0.0;     // Rmax, percent
    double apertureDiameter = 0.0;   // pixels: 0.8 of the X-dimension
    double modulation = 0.0;         // worst-decile module modulation, 0..1
    double axialNonuniformity = 0.0; // 0..1
    double gridNonuniformity = 0.0;  // modules
    double fixedPatternDamage = 0.0; // share of wrong modules in the worst fixed-pattern segment
    double fixedPatternModulation = 0.0;
    double unusedErrorCorrection = -1.0; // 0..1, -1 when it cannot be told
    double printGrowth = 0.0;            // -1..1, positive when ink spreads
    double cellSize = 0.0;               // pixels per module
    double angleOfDistortion = 0.0;      // degrees off square
    double centerOffset = 0.0;           // modules
    double sizeOffset = 0.0;             // share
    double meanLight = 0.0;              // grey of the light modules
    double meanDark = 0.0;               // grey of the dark modules
    double edgeContrast = 0.0;           // linear symbols: smallest edge contrast, percent
    QString damagedSegment;              // the fixed-pattern segment with the most damage
    std::vector<LinearScan> scans;       // linear symbols: the scans across the bars
};

// Measures a decoded symbol. reflectanceScale turns grey values into percent
// reflectance (100 / 255 for an uncalibrated reader).
SymbolMeasurements measureSymbol(const QImage& grey, const DecodeOutcome& decoded, double reflectanceScale);

// Grade letter value: 4 A, 3 B, 2 C, 1 D, 0 F.
QString gradeLetter(int grade);
int gradeValue(const QString& letter);

// The verification result a record carries: grades of every measured value, the
// overall grade and its class by VERSTATUS or, for DPM, by the VERENABLE rows.
QJsonObject verificationResult(const SymbolMeasurements& m, bool decoded, const FieldReader& fields,
                               const QString& standard);

} // namespace vm::sim
