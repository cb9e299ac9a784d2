#include "app/windowregistry.h"

#include "io/frmioassign.h"
#include "io/frmiosettings.h"
#include "settings/basicapplication.h"
#include "settings/basicphotometry.h"
#include "settings/basictune.h"
#include "settings/frmsettings.h"
#include "settings/learn.h"
#include "shell/frmabout.h"
#include "shell/frmlog.h"

namespace vm::app {

// Every window the program can open, one line each; its menu place, toolbar button and
// whether it reopens or follows the focused reader are the window's own to say.
void registerWindows(WindowRegistry& registry) {
    registry.add(shell::frmAbout::windowEntry());
    registry.add(shell::frmLog::windowEntry());
    registry.add(settings::frmSettings::windowEntry());
    registry.add(settings::BasicApplication::windowEntry());
    registry.add(settings::BasicPhotometry::windowEntry());
    registry.add(settings::Learn::windowEntry());
    registry.add(settings::BasicTune::windowEntry());
    registry.add(io::frmIOSettings::windowEntry());
    registry.add(io::frmIOAssign::windowEntry());
}

} // namespace vm::app
