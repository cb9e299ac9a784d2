#include "contracts/contract.h"

namespace vm::contracts {

WindowContract pidCopyContract() {
    WindowContract w;
    w.window = QStringLiteral("frmPIDCopy");
    return w;
}

} // namespace vm::contracts
