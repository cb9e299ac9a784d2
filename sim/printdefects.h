#pragma once

#include <QElapsedTimer>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <array>
#include <cmath>

namespace vm::sim {

// Print faults of the part in view, each with a strength from 0 (none) to 100 percent,
// printed into the scene's picture so that the decoder and the grader both see them:
//  fade    the ink prints pale: the print contrast drops by the strength.
//  finder  a stretch of a Data Matrix's solid finder prints light: the middle of the left
//          edge, and of the bottom edge too once the left one is used up.
//  uneven  the printer's pitch across the symbol is off and wobbles: cells come out
//          wider across than down, and their edges wander off the even grid.
//  spot    a dark spot in the widest space of a barcode; the strength is its darkness.
// A fault can drift: its strength then grows (or shrinks) by a rate in percent a minute from
// the moment the drift was set, as ink fades on a line over hours, until 0 or 100 is reached.
class PrintDefects {
public:
    static QStringList kindNames();

    // "KIND STRENGTH", or "none" to remove every fault. False with a message for a bad
    // kind or strength; nothing changes then.
    bool set(const QString& text, QString* error);
    void clear();
    // "KIND RATE" (percent of full strength a minute, negative to recede), "KIND off" (the
    // strength stays where the drift brought it) or "off" for every kind.
    bool setDrift(const QString& text, QString* error);
    QJsonObject settings() const;

    // The strengths at this moment, drift included.
    int fade() const { return int(std::lround(strength(Fade))); }
    int finder() const { return int(std::lround(strength(Finder))); }
    int uneven() const { return int(std::lround(strength(Uneven))); }
    int spot() const { return int(std::lround(strength(Spot))); }
    double driftRate(const QString& kind) const;

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
    enum Kind { Fade, Finder, Uneven, Spot, KindCount };
    double strength(Kind kind) const;
    // Fixes the drifted strength as the new starting point, so that a rate or strength set
    // now continues from where the fault is.
    void settle(Kind kind);
    double stretch() const;                     // extra pitch across, as a share
    double wobble() const;                      // largest shift of an edge, in modules
    std::array<double, KindCount> m_strength{}; // at m_since
    std::array<double, KindCount> m_rate{};     // percent a minute
    std::array<QElapsedTimer, KindCount> m_since;
};

} // namespace vm::sim
