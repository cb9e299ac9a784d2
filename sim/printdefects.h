#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>

namespace vm::sim {

// Print faults of the part in view, each with a strength from 0 (none) to 100 percent,
// printed into the scene's picture so that the decoder and the grader both see them:
//  fade    the ink prints pale: the print contrast drops by the strength.
//  finder  a stretch of a Data Matrix's solid finder prints light: the middle of the left
//          edge, and of the bottom edge too once the left one is used up.
//  uneven  the printer's pitch across the symbol is off and wobbles: cells come out
//          wider across than down, and their edges wander off the even grid.
//  spot    a dark spot in the widest space of a barcode; the strength is its darkness.
class PrintDefects {
public:
    static QStringList kindNames();

    // "KIND STRENGTH", or "none" to remove every fault. False with a message for a bad
    // kind or strength; nothing changes then.
    bool set(const QString& text, QString* error);
    void clear();
    QJsonObject settings() const;

    int fade() const { return m_fade; }
    int finder() const { return m_finder; }
    int uneven() const { return m_uneven; }
    int spot() const { return m_spot; }

    // The print contrast in percent once the ink has faded.
    int fadedContrast(int contrast) const;
    // Whether the module at (col, row) of a Data Matrix of cols x rows prints dark.
    bool finderModuleDark(bool ideal, int col, int row, int cols, int rows) const;
    // The width, in nominal modules, that a symbol `modules` wide takes on the part.
    double printedWidth(int modules) const;
    // The module coordinate printed at position `printed` (in nominal modules from the
    // symbol's left edge) of a symbol `modules` wide.
    double moduleAt(double printed, int modules) const;

private:
    double stretch() const; // extra pitch across, as a share
    double wobble() const;  // largest shift of an edge, in modules
    int m_fade = 0;
    int m_finder = 0;
    int m_uneven = 0;
    int m_spot = 0;
};

} // namespace vm::sim
