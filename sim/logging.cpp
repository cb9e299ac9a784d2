#include "sim/logging.h"

namespace vm::sim {
Q_LOGGING_CATEGORY(lcSim, "lumivex.sim", QtInfoMsg)
} // namespace vm::sim
