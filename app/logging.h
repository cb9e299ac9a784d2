#pragma once

#include <QLoggingCategory>

namespace vm::app {
Q_DECLARE_LOGGING_CATEGORY(lcApp)
} // namespace vm::app
