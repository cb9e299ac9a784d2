#pragma once

#include <QLoggingCategory>

namespace vm::history {
// The history store and its queries; QT_LOGGING_RULES="velmarrow.history=true" shows them.
Q_DECLARE_LOGGING_CATEGORY(lcHistory)
} // namespace vm::history
