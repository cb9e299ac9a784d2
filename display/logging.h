#pragma once

#include <QLoggingCategory>

namespace vm::display {
Q_DECLARE_LOGGING_CATEGORY(lcDisplay)
} // namespace vm::display
