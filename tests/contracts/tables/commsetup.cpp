#include "contracts/contract.h"

namespace vm::contracts {

WindowContract commSetupContract() {
    WindowContract w;
    w.window = QStringLiteral("dlgCommSetup");
    return w;
}

} // namespace vm::contracts
