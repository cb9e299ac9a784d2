#include "contracts/contract.h"

namespace vm::contracts {

WindowContract compareContract() {
    WindowContract w;
    w.window = QStringLiteral("frmCompare");
    return w;
}

} // namespace vm::contracts
