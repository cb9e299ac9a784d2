#include "contracts/contract.h"

namespace vm::contracts {

WindowContract filmstripContract() {
    WindowContract w;
    w.window = QStringLiteral("FilmstripRecorder");
    return w;
}

} // namespace vm::contracts
