#include "app/logging.h"

namespace vm::app {
Q_LOGGING_CATEGORY(lcApp, "velmarrow.app", QtInfoMsg)
} // namespace vm::app
