#include "contracts/contract.h"

namespace vm::contracts {

WindowContract outputContract() {
    WindowContract w;
    w.window = QStringLiteral("frmOutput");
    return w;
}

} // namespace vm::contracts
