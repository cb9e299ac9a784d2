#pragma once

namespace vm::display {
class VxImageView;
}

namespace vm::app {

// The main window's image view, for the windows that draw on the live image (the learn
// region, the calibration boxes). The main window registers it when it is built, so that
// no window needs to know the main window's class or search the widget tree for it.
// Null while no main window exists.
vm::display::VxImageView* mainImageView();
// Registers the view; it leaves by itself when it is destroyed.
void setMainImageView(vm::display::VxImageView* view);

} // namespace vm::app
