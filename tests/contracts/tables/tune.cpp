#include "contracts/contract.h"

namespace vm::contracts {

WindowContract tuneContract() {
    WindowContract w;
    w.window = QStringLiteral("BasicTune");
    return w;
}

} // namespace vm::contracts
