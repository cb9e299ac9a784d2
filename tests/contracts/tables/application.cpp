#include "contracts/contract.h"

namespace vm::contracts {

WindowContract applicationContract() {
    WindowContract w;
    w.window = QStringLiteral("BasicApplication");
    return w;
}

} // namespace vm::contracts
