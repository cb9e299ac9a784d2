#pragma once

#include "shell/frmabout.h"

#include <optional>

class QString;

namespace vm::shell {

// The splash stays up for at least this long after the main window began loading.
inline constexpr int SplashMinimumMs = 3000;

// How long the splash timer still has to run once loading took `elapsedMs`: the rest of
// the minimum time while fewer than 3001 ms have passed, otherwise nothing (the splash
// closes at once).
std::optional<int> splashRemainingTime(qint64 elapsedMs);

// The "VmSplashEnabled" rule: anything but "0" (empty included) shows the splash.
bool splashEnabled(const QString& option);

// The splash: an About box without its buttons and title bar, shown over the main window
// while it loads.
class Splash : public frmAbout {
    Q_OBJECT
public:
    explicit Splash(QWidget* parent = nullptr);

    // Centres the splash over `owner` (or the primary screen) and shows it.
    void showOver(const QWidget* owner);
};

} // namespace vm::shell
