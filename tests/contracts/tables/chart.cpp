#include "contracts/contract.h"

namespace vm::contracts {

WindowContract chartContract() {
    WindowContract w;
    w.window = QStringLiteral("BasicChart");
    return w;
}

} // namespace vm::contracts
