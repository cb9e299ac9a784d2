#pragma once

#include <QWidget>

namespace vm::display {

// Window sizes travel in twips (1440 per inch) between the controls and the
// windows that host them.
inline int PixelsToTwipsX(const QWidget* widget, int pixels) {
    const int dpi = widget ? widget->logicalDpiX() : 96;
    return pixels * 1440 / (dpi > 0 ? dpi : 96);
}

inline int PixelsToTwipsY(const QWidget* widget, int pixels) {
    const int dpi = widget ? widget->logicalDpiY() : 96;
    return pixels * 1440 / (dpi > 0 ? dpi : 96);
}

inline int TwipsToPixelsX(const QWidget* widget, int twips) {
    const int dpi = widget ? widget->logicalDpiX() : 96;
    return twips * (dpi > 0 ? dpi : 96) / 1440;
}

inline int TwipsToPixelsY(const QWidget* widget, int twips) {
    const int dpi = widget ? widget->logicalDpiY() : 96;
    return twips * (dpi > 0 ? dpi : 96) / 1440;
}

} // namespace vm::display
