#include "contracts/contract.h"

namespace vm::contracts {

WindowContract ioAssignContract() {
    WindowContract w;
    w.window = QStringLiteral("frmIOAssign");
    return w;
}

} // namespace vm::contracts
