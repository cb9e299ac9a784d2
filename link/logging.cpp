#include "link/logging.h"

namespace vm::link {
Q_LOGGING_CATEGORY(lcLink, "velmarrow.link", QtInfoMsg)
Q_LOGGING_CATEGORY(lcLinkTraffic, "velmarrow.link.traffic", QtWarningMsg)
} // namespace vm::link
