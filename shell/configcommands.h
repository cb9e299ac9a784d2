#pragma once

#include "app/windowregistry.h"

#include <QString>

#include <functional>
#include <vector>

class QWidget;

namespace vm::shell {

class BasicInterface;

// The File menu's commands on the focused reader's configuration as a whole: make the
// settings permanent, restore factory defaults, save the configuration to a ".lcf" file
// and load one back, and copy settings to and from a stored parameter set (PID).
namespace configcommands {

enum class Defaults { Decoder, ApplicationMode, Both };

// The menu entries, for the window registry.
std::vector<vm::app::CommandEntry> commandEntries();

void SaveParameters(BasicInterface& main);
void RestoreDefaults(BasicInterface& main, Defaults which);
void SaveConfiguration(BasicInterface& main);
void LoadConfiguration(BasicInterface& main);
void CopyPid(BasicInterface& main, bool toPid);

// Where the file dialogs' answers come from: a path, or empty when the operator cancelled.
// Replaceable so that tests can choose files without a dialog.
using FileChooser = std::function<QString(QWidget* parent, bool forSaving)>;
void setFileChooser(FileChooser chooser);
QString chooseFile(QWidget* parent, bool forSaving);

// The dialogs' title and filter.
QString fileDialogTitle();
QString fileDialogFilter();

// The log caption while loading: "12 Lines loaded,  0 errors reported".
QString progressCaption(int loaded, int errors);
// The log caption at the end: "1 error was reported:", "3 errors were reported:".
QString finalCaption(int errors);

} // namespace configcommands

} // namespace vm::shell
