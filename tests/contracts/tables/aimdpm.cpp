#include "contracts/contract.h"

namespace vm::contracts {

WindowContract aimDpmContract() {
    WindowContract w;
    w.window = QStringLiteral("dlgAIMDPMCompliance");
    return w;
}

} // namespace vm::contracts
