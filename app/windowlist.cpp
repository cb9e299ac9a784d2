#include "app/windowregistry.h"

#include "io/frmioassign.h"
#include "io/frmiosettings.h"
#include "settings/basicapplication.h"
#include "settings/frmsettings.h"
#include "shell/frmabout.h"
#include "shell/frmlog.h"

namespace vm::app {

// Every window the program can open, one line each; its menu place, toolbar button and
// whether it reopens or follows the focused reader are the window's own to say.
void registerWindows(WindowRegistry& registry) {
    registry.add(shell::frmAbout::windowSpec());
    registry.add(shell::frmLog::windowSpec());
    registry.add(settings::frmSettings::windowSpec());
    registry.add(settings::BasicApplication::windowSpec());
    registry.add(io::frmIOSettings::windowSpec());
    registry.add(io::frmIOAssign::windowSpec());
}

} // namespace vm::app
