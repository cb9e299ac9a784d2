#include "contracts/contract.h"

namespace vm::contracts {

WindowContract ioSettingsContract() {
    WindowContract w;
    w.window = QStringLiteral("frmIOSettings");
    return w;
}

} // namespace vm::contracts
