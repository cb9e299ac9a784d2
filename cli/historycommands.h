#pragma once

#include "cli/clicommands.h"

#include <QStringList>

// velmarrow-cli's history commands: record readers into a history file without any window,
// and print a parameter's trend with the drift rule's warning, or the reads as CSV.
namespace vm::cli {

// Whether the command line is one of record, trend or export.
bool isHistoryCommand(const QStringList& arguments);
int runHistoryCommand(const QStringList& arguments, Streams streams, StopSignals* stops);
QString historyUsageText();
// The tool's usage with the history commands after the configuration commands.
QString withHistoryCommands(const QString& usage);

} // namespace vm::cli
