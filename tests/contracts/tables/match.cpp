#include "contracts/contract.h"

namespace vm::contracts {

WindowContract matchContract() {
    WindowContract w;
    w.window = QStringLiteral("frmMatch");
    return w;
}

} // namespace vm::contracts
