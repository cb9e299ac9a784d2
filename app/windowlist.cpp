#include "app/windowregistry.h"

#include "io/frmioassign.h"
#include "io/frmiosettings.h"
#include "settings/basicapplication.h"
#include "settings/frmsettings.h"
#include "shell/frmabout.h"
#include "shell/frmlog.h"
#include "tools/basicchart.h"
#include "tools/basicreport.h"
#include "tools/basicterminal.h"
#include "tools/filmstriprecorder.h"

namespace vm::app {

// Every window the program can open, one line each; its menu place, toolbar button and
// whether it reopens or follows the focused reader are the window's own to say.
void registerWindows(WindowRegistry& registry) {
    registry.add(shell::frmAbout::windowEntry());
    registry.add(shell::frmLog::windowEntry());
    registry.add(settings::frmSettings::windowEntry());
    registry.add(settings::BasicApplication::windowEntry());
    registry.add(io::frmIOSettings::windowEntry());
    registry.add(io::frmIOAssign::windowEntry());
    registry.add(tools::BasicTerminal::windowEntry());
    registry.add(tools::BasicReport::windowEntry());
    registry.add(tools::BasicChart::windowEntry());
    registry.add(tools::FilmstripRecorder::windowEntry());
    registry.add(tools::NetworkOverview::windowEntry());
}

} // namespace vm::app
