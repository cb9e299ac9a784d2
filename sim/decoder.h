#pragma once

#include "sim/readcycle.h"

#include <QImage>
#include <QList>
#include <QPointF>
#include <QPolygonF>
#include <QRect>
#include <QString>

namespace vm::sim {

class FieldReader;

// What the decoder may read and how, taken from the reader's symbology and
// tuning parameters.
struct DecoderSettings {
    bool dataMatrix = true;
    bool barcodes = false;
    quint32 barcodeMask = 0x1;                    // BARCODE ENABLE
    QString polarity = QStringLiteral("AUTO");    // POL: AUTO, DL, LD
    QString barPolarity = QStringLiteral("AUTO"); // BCPOL
    QString style = QStringLiteral("AUTO");       // STYLE: AUTO, NORMAL, MIRROR
    int rows = 0;                                 // ROWS, 0 = AUTO
    int cols = 0;                                 // COLS, 0 = AUTO
    bool ecc200 = true; // ECC AUTO or 200; the older ECC levels cannot match an ECC 200 symbol
    bool nearCentre = false;
    // ORIENT: 0 AUTO, or 1 to 8 for a Data Matrix turned (n - 1) x 45 degrees clockwise; the
    // reader then reads only symbols within 45 degrees of that, and searches only there.
    int orientation = 0;
    // DM_ALLOW_SEVERE_DAMAGE: when the fast search finds no Data Matrix, a thorough one that
    // needs no unbroken finder edge looks again.
    bool severeDamage = false;
    // A verifying reader must read a faint or damaged symbol to grade it: when nothing reads,
    // it looks again with the thorough Data Matrix search (as DM_ALLOW_SEVERE_DAMAGE does) and
    // then with the picture's grey levels stretched over the full range.
    bool verifying = false;
    QPolygonF region; // restricts the search (assisted learn)
    // ROI: the part of the picture searched, corners included; a symbol is read only where it
    // lies wholly inside. Null: the whole picture.
    QRect searchArea;

    static DecoderSettings fromParameters(const FieldReader& fields);
    // Everything on, polarity and style automatic: what a learn searches with.
    static DecoderSettings searchAll();
};

// The module grid of a located 2D symbol, in the symbol's own orientation:
// row 0 is the top row, column 0 the left column; for Data Matrix the solid
// finder runs along the left column and the bottom row.
struct SymbolGrid {
    int rows = 0;
    int cols = 0;
    QPointF corners[4]; // top-left, top-right, bottom-right, bottom-left of the modules
    bool darkOnLight = true;
    double fitScore = 0.0;

    bool isValid() const { return rows > 0 && cols > 0; }
    QPointF moduleCentre(int row, int col) const { return point((col + 0.5) / cols, (row + 0.5) / rows); }
    QPointF point(double u, double v) const;
    double pitchAcross() const; // pixels per column
    double pitchDown() const;   // pixels per row
};

struct DecodeOutcome {
    bool found = false;
    QString text;
    QString symbology;      // the reader's name, e.g. "Data Matrix", "Code 128", "QR Code"
    quint32 barcodeBit = 0; // BARCODE ENABLE bit of a barcode, 0 for Data Matrix
    bool twoDimensional = false;
    QList<QPointF> corners;
    bool mirrored = false;
    bool lightOnDark = false;
    SymbolGrid grid;  // Data Matrix and QR Code only
    QString rejected; // why a symbol that was seen was not accepted
    int turns = 0;    // pictures searched for a Data Matrix: the upright one and its quarter turns
    double milliseconds = 0.0;
};

// One decode attempt with zxing-cpp over an 8-bit grey image.
DecodeOutcome decodeImage(const QImage& grey, const DecoderSettings& settings);

// Finds the module grid of a located Data Matrix or QR Code by trying the
// symbology's sizes along its fixed patterns.
SymbolGrid fitGrid(const QImage& grey, const QList<QPointF>& corners, bool dataMatrix);

} // namespace vm::sim
