#include "contracts/contract.h"

namespace vm::contracts {

WindowContract verificationReportContract() {
    WindowContract w;
    w.window = QStringLiteral("VerificationReport");
    return w;
}

} // namespace vm::contracts
