#pragma once

#include <QLoggingCategory>

namespace vm::sim {
Q_DECLARE_LOGGING_CATEGORY(lcSim)
} // namespace vm::sim
