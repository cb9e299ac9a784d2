#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace vm::link {

class ParameterSet;

// One field in which two configuration listings differ. A parameter that only one side
// lists is one row with field -1 and its whole line on that side.
struct ConfigDifference {
    QString name;   // the parameter ("TRIG", "OUTPUT TCP1 OKDEC")
    int field = -1; // counted from 0 after the name
    QString left;   // the value on each side; empty when that side lacks it
    QString right;
    QString leftLine; // the whole lines, for sending and showing
    QString rightLine;
    bool identity = false; // the reader's name, address or MAC
};

// The fields in which `right` differs from `left`, in `left`'s order (then what only
// `right` has). Both are configuration listings as the reader gives them for
// "SHOW CONFIG" or a ".lcf" file holds them; status and empty lines are ignored. A
// difference is named as the reader names the parameter, sub-keywords included
// ("BARCODE ENABLE", "TIMEOUT READ", "OUTPUT TCP1 OKDEC"), and its fields are counted after
// that name. Lines are paired by that name (by keyword and place where the program knows
// no sub-keywords of the keyword), so a changed value never looks like a parameter of its
// own.
QList<ConfigDifference> compareConfigurations(const QStringList& left, const QStringList& right);

// Puts the chosen differences into a parameter set as changes from `left` to `right`:
// each parameter with its fields as on the left and the chosen fields as on the right, so
// that ParameterSet::Send writes exactly those. A parameter only the right side has is
// taken whole; one only the left side has cannot be taken (false).
bool takeDifference(ParameterSet& set, const ConfigDifference& difference);

} // namespace vm::link
