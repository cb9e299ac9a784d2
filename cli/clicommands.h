#pragma once

#include <QString>
#include <QStringList>

class QTextStream;

// velmarrow-cli: reader configurations from scripts, for one reader or a whole fleet, on
// the same connection library as the program.
namespace vm::cli {

// What a script can rely on. When several apply, the highest is returned.
enum ExitCode {
    Success = 0,
    Refused = 1,     // a reader refused lines, or a comparison found differences
    Usage = 2,       // the command line is wrong
    Unreachable = 3, // a reader was not found, did not answer, lost its link, refused control
                     // or did not take it back
    FileProblem = 4, // a file could not be read or written, or holds no settings
    // Stopped by a signal: 128 + its number, as a shell reports a program the signal ended.
    // Nothing more was sent and control was given back first.
    Interrupted = 130, // SIGINT (Ctrl-C)
    Terminated = 143,  // SIGTERM
};

// Where the program writes: results to `out`, problems to `err`; progress goes to `err`
// only when `progress` is true (a terminal). With --json, `out` holds exactly one JSON
// document, also when the command fails.
struct Streams {
    QTextStream& out;
    QTextStream& err;
    bool progress = false;
};

class StopSignals;

// Runs one command line (arguments without the program name) and returns its exit code. With
// `stops`, a SIGINT or SIGTERM it reports ends the command early but in order (see ExitCode).
int run(const QStringList& arguments, Streams streams, StopSignals* stops = nullptr);

// A text for the terminal: control characters as \xNN and direction overrides as \uNNNN, so
// that a line from a file or a reader can neither move the cursor nor hide what it holds.
QString escaped(const QString& text);

QString usageText();

// Says why a command line is wrong on the error stream (then the given usage text), and with
// --json also as a document on the output stream; the usage exit code.
int usageFailure(Streams& streams, const QString& why, const QString& usage, bool json);

} // namespace vm::cli
