#pragma once

#include "sim/parameterstore.h"

#include <QString>
#include <QStringList>

namespace vm::sim {

// Who sent a command: a TCP command connection or the serial line.
struct Station {
    QString name;
    bool serial = false;
    quint64 id = 0;
};

// The status line that ends every reply: "!KEYWORD OK" or "!KEYWORD ERROR <code> <text>".
QStringList statusLine(const QString& keyword, int code = kReplyOk, const QString& text = {});

// One command line as the reader takes it apart, handed to whatever carries the command out.
struct Command {
    QString line;      // trimmed
    QStringList words; // as splitCommandLine() gives them: quoted text is one word, blanks give empty ones
    QStringList args;  // the non-empty words after the keyword
    QString keyword;   // the first word, upper case
    QString sub;       // the first argument, upper case
    Station& station;

    QStringList ok(const QStringList& data = {}) const { return data + statusLine(keyword); }
    QStringList fail(int code, const QString& text) const { return statusLine(keyword, code, text); }
    // A refused write: first the line in words that says what the reader would have taken.
    QStringList refuse(int code, const QString& explanation, const QString& text) const {
        return QStringList{explanation} + statusLine(keyword, code, text);
    }
};

// The data line a refused write carries before its error status: what the reader would have
// accepted, so that whoever loaded the line can see why it failed.
QString refusalExplanation(const ParameterSpec& definition, const WriteResult& result);

} // namespace vm::sim
