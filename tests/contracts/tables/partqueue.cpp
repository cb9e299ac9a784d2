#include "contracts/contract.h"

namespace vm::contracts {

WindowContract partQueueContract() {
    WindowContract w;
    w.window = QStringLiteral("dlgPartQueueSetup");
    return w;
}

} // namespace vm::contracts
