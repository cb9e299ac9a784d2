#include "contracts/contract.h"

namespace vm::contracts {

WindowContract networkOverviewContract() {
    WindowContract w;
    w.window = QStringLiteral("NetworkOverview");
    return w;
}

} // namespace vm::contracts
