#include "contracts/contract.h"

namespace vm::contracts {

WindowContract photometryContract() {
    WindowContract w;
    w.window = QStringLiteral("BasicPhotometry");
    return w;
}

} // namespace vm::contracts
