#include "app/windowregistry.h"

#include "io/basicoutput.h"
#include "io/dlgcommsetup.h"
#include "io/dlgpartqueuesetup.h"
#include "io/frmbeep.h"
#include "io/frmioassign.h"
#include "io/frmiosettings.h"
#include "io/frmmatch.h"
#include "io/frmoutput.h"
#include "settings/basicapplication.h"
#include "settings/basicphotometry.h"
#include "settings/basictune.h"
#include "settings/frmsettings.h"
#include "settings/learn.h"
#include "settings/symbology.h"
#include "shell/configcommands.h"
#include "shell/frmabout.h"
#include "shell/frmcompare.h"
#include "shell/frmlog.h"
#include "shell/frmpidcopy.h"
#include "tools/basicchart.h"
#include "tools/basicreport.h"
#include "tools/basicterminal.h"
#include "tools/filmstriprecorder.h"
#include "tools/historywindow.h"
#include "verification/verificationreport.h"

namespace vm::app {

// Every window the program can open, one line each; its menu place, toolbar button and
// whether it reopens or follows the focused reader are the window's own to say.
void registerWindows(WindowRegistry& registry) {
    registry.add(shell::frmAbout::windowEntry());
    registry.add(shell::frmLog::windowEntry());
    registry.add(shell::frmPIDCopy::windowEntry());
    registry.add(shell::frmCompare::windowEntry());
    registry.add(settings::frmSettings::windowEntry());
    registry.add(settings::BasicApplication::windowEntry());
    registry.add(settings::Symbology::windowEntry());
    registry.add(settings::BasicPhotometry::windowEntry());
    registry.add(settings::Learn::windowEntry());
    registry.add(settings::BasicTune::windowEntry());
    registry.add(io::frmIOSettings::windowEntry());
    registry.add(io::frmIOAssign::windowEntry());
    registry.add(io::frmOutput::windowEntry());
    registry.add(io::BasicOutput::windowEntry());
    registry.add(io::frmMatch::windowEntry());
    registry.add(io::frmBeep::windowEntry());
    registry.add(io::dlgPartQueueSetup::windowEntry());
    registry.add(io::dlgCommSetup::windowEntry());
    registry.add(verification::VerificationReport::windowEntry());
    registry.add(tools::BasicTerminal::windowEntry());
    registry.add(tools::BasicReport::windowEntry());
    registry.add(tools::BasicChart::windowEntry());
    registry.add(tools::FilmstripRecorder::windowEntry());
    registry.add(tools::NetworkOverview::windowEntry());
    registry.add(tools::HistoryWindow::windowEntry());

    for (CommandEntry& command : shell::configcommands::commandEntries())
        registry.addCommand(std::move(command));
}

} // namespace vm::app
