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
    Unreachable = 3, // a reader was not found, did not answer, or refused control
    FileProblem = 4, // a file could not be read or written
};

// Where the program writes: results to `out`, problems to `err`; progress goes to `err`
// only when `progress` is true (a terminal).
struct Streams {
    QTextStream& out;
    QTextStream& err;
    bool progress = false;
};

// Runs one command line (arguments without the program name) and returns its exit code.
int run(const QStringList& arguments, Streams streams);

QString usageText();

} // namespace vm::cli
