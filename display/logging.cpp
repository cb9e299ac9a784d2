#include "display/logging.h"

namespace vm::display {
Q_LOGGING_CATEGORY(lcDisplay, "velmarrow.display", QtInfoMsg)
} // namespace vm::display
