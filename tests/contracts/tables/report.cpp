#include "contracts/contract.h"

namespace vm::contracts {

WindowContract reportContract() {
    WindowContract w;
    w.window = QStringLiteral("BasicReport");
    return w;
}

} // namespace vm::contracts
