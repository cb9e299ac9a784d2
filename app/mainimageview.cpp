#include "app/mainimageview.h"

#include "display/imageview.h"

#include <QPointer>

namespace vm::app {

namespace {
QPointer<vm::display::VxImageView>& registeredView() {
    static QPointer<vm::display::VxImageView> view;
    return view;
}
} // namespace

vm::display::VxImageView* mainImageView() {
    return registeredView().data();
}

void setMainImageView(vm::display::VxImageView* view) {
    registeredView() = view;
}

} // namespace vm::app
