#include "contracts/contract.h"

namespace vm::contracts {

WindowContract manufacturingContract() {
    WindowContract w;
    w.window = QStringLiteral("frmSettings");
    return w;
}

} // namespace vm::contracts
