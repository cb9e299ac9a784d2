#pragma once

class QWidget;

namespace vm::app {

// The program entry: the application object, the command line, then Start().
int Main(int argc, char* argv[]);

// Start-up once the application object exists: open the settings store, read the image
// folder, migrate the legacy per-user settings, then create, load and show the main
// window (an earlier main window is unloaded first). Returns the main window.
QWidget* Start();

} // namespace vm::app
