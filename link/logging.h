#pragma once

#include <QLoggingCategory>

namespace vm::link {
// Reader traffic; QT_LOGGING_RULES="velmarrow.link*=true" shows it.
Q_DECLARE_LOGGING_CATEGORY(lcLink)
Q_DECLARE_LOGGING_CATEGORY(lcLinkTraffic)
} // namespace vm::link
