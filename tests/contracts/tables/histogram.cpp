#include "contracts/contract.h"

namespace vm::contracts {

WindowContract histogramContract() {
    WindowContract w;
    w.window = QStringLiteral("frmHisto");
    return w;
}

} // namespace vm::contracts
