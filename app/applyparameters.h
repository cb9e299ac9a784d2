#pragma once

#include <QString>

namespace vm::link {
class CommandResponse;
class ParameterSet;
} // namespace vm::link

namespace vm::app {

// What the apply routine needs from the main window: serial polling paused while
// parameters go out, so that no poll answer interleaves with them.
class SerialPollingControl {
public:
    virtual ~SerialPollingControl() = default;
    virtual void SuspendSerialPolling() = 0;
    virtual void ResumeSerialPolling() = 0;
};

// The main window registers itself once it exists (nullptr to unregister).
void SetSerialPollingControl(SerialPollingControl* control);
// The registered main window, or null.
SerialPollingControl* serialPollingControl();

// The program-wide pending parameter set, created on first use.
vm::link::ParameterSet& PendingParameters();

// Hands a window's changed parameters to the reader: merges the window's set into
// the pending set and, when that is modified, sends it on the channel with serial
// polling suspended. Parameters the reader accepted are no longer modified in
// either set. Returns false with the reader's complaints in errorText.
bool ApplyParameters(vm::link::CommandResponse& channel, vm::link::ParameterSet& windowSet,
                     QString* errorText = nullptr);

} // namespace vm::app
