#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

namespace vm::sim {

// How one field of a parameter is checked and written back.
enum class FieldKind {
    Choice,     // one of the words and/or a whole number in [min, max]
    Text,       // free text, travels in double quotes
    HexMask,    // "0x" followed by hexadecimal digits, value at most max
    Address,    // dotted IPv4 address
    Identifier, // one word of letters, digits, "_", "-" and ".", at most maxLength
};

struct FieldSpec {
    FieldKind kind = FieldKind::Choice;
    QStringList words; // allowed words, upper case
    bool ranged = false;
    qint64 min = 0;
    qint64 max = 0;
    int maxLength = 0;
    bool quoted = false;                    // the reader answers the value in double quotes
    bool keepIfEmpty = false;               // an empty field in a write leaves the value alone
    bool letterFirst = false;               // an Identifier that must begin with a letter
    QList<QPair<QString, QString>> aliases; // word accepted -> value stored
    QString defaultValue;                   // as the reader answers it (quotes included)
};

// Which factory-default group a parameter belongs to ("RESET DECODER", "RESET APPMODE").
enum class ParameterGroup { AppMode, Decoder, Other };

struct ParameterSpec {
    QString name; // full upper-case name, sub-keywords included
    QList<FieldSpec> fields;
    int minLevel = 0; // firmware levels that have it (99 counts as the newest)
    int maxLevel = 99;
    ParameterGroup group = ParameterGroup::Other;
    bool readOnly = false; // answered but never written, never listed in SHOW CONFIG
    QString summary;       // one line for the command listing
};

// The firmware level a software version a.b.c.d gives (0 when the table has no row).
int firmwareLevelOf(const QString& softwareVersion);
// A software version of each level, for simulated readers given only a level.
QString softwareVersionForLevel(int level);
// The levels a reader can be: 2 to 10 and 99.
QList<int> firmwareLevels();

// True when a reader at `level` has something that exists from minLevel to maxLevel.
bool levelInRange(int level, int minLevel, int maxLevel);

// Every parameter of every generation, in SHOW CONFIG order.
const QList<ParameterSpec>& parameterCatalogue();

// The parameter of this name at this level; nullptr when the reader has none.
const ParameterSpec* findParameter(const QString& name, int level);
// True when some generation has a parameter of this name.
bool isKnownParameterName(const QString& name);
// The number of words of the longest parameter name.
int longestParameterName();

// Light names of the calibration table, index 0 to 10.
const QStringList& lightNames();

// What a field accepts, in words ("0..65535", "Y|N", "text up to 20, quoted").
QString fieldDescription(const FieldSpec& field);

// The command catalogue as Markdown (docs/commands.md is generated from it).
QString commandCatalogueMarkdown();

} // namespace vm::sim
