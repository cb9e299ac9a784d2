#pragma once

#include <QString>

namespace vm::app {

// An error raised by a routine for its caller to report (usually in the error box of
// prompts.h). Numbers are 32-bit, as the system's error codes are.
struct AppError {
    qint32 number = 0;
    QString description;
};

// The generic failure code the registry routines raise.
inline constexpr qint32 ErrorFail = static_cast<qint32>(0x80004005u);

} // namespace vm::app
