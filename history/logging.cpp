#include "history/logging.h"

namespace vm::history {
Q_LOGGING_CATEGORY(lcHistory, "velmarrow.history", QtInfoMsg)
}
