#include "shell/splash.h"

#include <QGuiApplication>
#include <QScreen>

namespace vm::shell {

std::optional<int> splashRemainingTime(qint64 elapsedMs) {
    if (elapsedMs < SplashMinimumMs + 1)
        return int(SplashMinimumMs - std::max<qint64>(elapsedMs, 0));
    return std::nullopt;
}

bool splashEnabled(const QString& option) {
    return option != u"0";
}

Splash::Splash(QWidget* parent)
    : frmAbout(parent, Use::Splash) {
    setObjectName(QStringLiteral("Splash"));
}

void Splash::showOver(const QWidget* owner) {
    QRect area;
    // While the main window loads it is not shown yet, but its geometry is already where
    // it will appear.
    if (owner && owner->isVisible())
        area = owner->frameGeometry();
    else if (owner && owner->isWindow() && !owner->geometry().isEmpty())
        area = owner->geometry();
    else if (owner && owner->screen())
        area = owner->screen()->availableGeometry();
    else if (QGuiApplication::primaryScreen())
        area = QGuiApplication::primaryScreen()->availableGeometry();
    if (area.isValid()) {
        QRect r(QPoint(), size());
        r.moveCenter(area.center());
        move(r.topLeft());
    }
    show();
    raise();
}

} // namespace vm::shell
