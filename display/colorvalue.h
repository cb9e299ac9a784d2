#pragma once

#include <QColor>
#include <QtGlobal>

namespace vm::display {

// Colours travel through the program as 24-bit values laid out 0x00BBGGRR, the
// form the settings store and the reader windows use.
constexpr quint32 Rgb(int red, int green, int blue) {
    return quint32(red & 0xFF) | (quint32(green & 0xFF) << 8) | (quint32(blue & 0xFF) << 16);
}

// A value with the top bit set names a system colour instead of a literal one;
// this is the one the status bar and grids accept for "the normal window background".
constexpr quint32 kWindowBackground = 0x8000000F;
constexpr quint32 kWindowText = 0x80000012;

constexpr bool IsSystemColor(quint32 value) {
    return (value & 0x80000000u) != 0;
}

inline QColor ToQColor(quint32 value) {
    return QColor(int(value & 0xFF), int((value >> 8) & 0xFF), int((value >> 16) & 0xFF));
}

inline quint32 FromQColor(const QColor& color) {
    return Rgb(color.red(), color.green(), color.blue());
}

} // namespace vm::display
