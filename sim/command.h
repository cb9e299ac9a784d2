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
};

} // namespace vm::sim
