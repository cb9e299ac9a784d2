// velmarrow-cli: reader configurations from scripts (see clicommands.h).
#include "cli/clicommands.h"
#include "cli/stopsignals.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QTextStream>

#include <cstdio>
#include <unistd.h>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("velmarrow-cli"));
    // The library's notes are for the program's log; QT_LOGGING_RULES still shows them.
    QLoggingCategory::setFilterRules(QStringLiteral("velmarrow.*.info=false"));
    QTextStream out(stdout);
    QTextStream err(stderr);
    // Progress only for a person watching; a pipe or a log file gets results alone.
    const bool terminal = isatty(fileno(stderr));
    // Ctrl-C or a SIGTERM lets a load end in order instead of leaving readers under control.
    vm::cli::StopSignals stops;
    return vm::cli::run(app.arguments().mid(1), {out, err, terminal}, &stops);
}
