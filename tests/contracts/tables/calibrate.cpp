#include "contracts/contract.h"

namespace vm::contracts {

WindowContract calibrateContract() {
    WindowContract w;
    w.window = QStringLiteral("dlgCalibrate");
    return w;
}

} // namespace vm::contracts
