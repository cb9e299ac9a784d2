#include "contracts/contract.h"

namespace vm::contracts {

WindowContract learnContract() {
    WindowContract w;
    w.window = QStringLiteral("Learn");
    return w;
}

} // namespace vm::contracts
