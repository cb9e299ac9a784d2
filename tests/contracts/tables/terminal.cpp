#include "contracts/contract.h"

namespace vm::contracts {

WindowContract terminalContract() {
    WindowContract w;
    w.window = QStringLiteral("BasicTerminal");
    return w;
}

} // namespace vm::contracts
