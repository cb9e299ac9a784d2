#include "contracts/contract.h"

namespace vm::contracts {

WindowContract symbologyContract() {
    WindowContract w;
    w.window = QStringLiteral("Symbology");
    return w;
}

} // namespace vm::contracts
