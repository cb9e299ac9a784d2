#include "contracts/contract.h"

namespace vm::contracts {

WindowContract basicOutputContract() {
    WindowContract w;
    w.window = QStringLiteral("BasicOutput");
    return w;
}

} // namespace vm::contracts
