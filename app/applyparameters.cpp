#include "app/applyparameters.h"

#include "link/parameterset.h"

#include <memory>

namespace vm::app {

namespace {
SerialPollingControl* g_polling = nullptr;
std::unique_ptr<vm::link::ParameterSet> g_pending;
} // namespace

void SetSerialPollingControl(SerialPollingControl* control) {
    g_polling = control;
}

SerialPollingControl* serialPollingControl() {
    return g_polling;
}

vm::link::ParameterSet& PendingParameters() {
    if (!g_pending)
        g_pending = std::make_unique<vm::link::ParameterSet>();
    return *g_pending;
}

bool ApplyParameters(vm::link::CommandResponse& channel, vm::link::ParameterSet& windowSet,
                     QString* errorText) {
    if (errorText)
        errorText->clear();
    vm::link::ParameterSet& pending = PendingParameters();
    if (windowSet.Modified())
        pending.Merge(windowSet);
    if (!pending.Modified())
        return true;

    if (g_polling)
        g_polling->SuspendSerialPolling();
    const bool sent = pending.Send(channel, errorText);
    if (g_polling)
        g_polling->ResumeSerialPolling();

    // What the reader took is no longer a change of the window either.
    for (const QString& name : windowSet.ModifiedNames()) {
        const vm::link::Parameter* p = pending.Find(name);
        vm::link::Parameter& mine = windowSet.GetParameter(name);
        if (p && !p->Modified() && p->Fields() == mine.Fields())
            mine.setModified(false);
    }
    // What the reader refused stays a change of the window that made it, which shows it
    // and can send it again; left pending it would go out again with every other
    // window's changes and fail there.
    for (const QString& name : pending.ModifiedNames())
        pending.GetParameter(name).setModified(false);
    return sent;
}

} // namespace vm::app
