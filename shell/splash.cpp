#include "shell/splash.h"

#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QVBoxLayout>

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
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setObjectName(QStringLiteral("Splash"));
    setAttribute(Qt::WA_ShowWithoutActivating);

    auto* frame = new QFrame(this);
    frame->setFrameShape(QFrame::Box);
    frame->setLineWidth(1);
    frame->setAutoFillBackground(true);

    auto* title = new QLabel(titleText(), frame);
    title->setObjectName(QStringLiteral("lblTitle"));
    QFont big = title->font();
    big.setPointSizeF(big.pointSizeF() * 2.2);
    big.setBold(true);
    title->setFont(big);
    title->setAlignment(Qt::AlignCenter);

    auto* line = new QFrame(frame);
    line->setObjectName(QStringLiteral("Line1"));
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);

    auto* description = new QLabel(tr("Set-up and monitoring of Lumivex smart ID readers"), frame);
    description->setObjectName(QStringLiteral("lblDescription"));
    description->setAlignment(Qt::AlignCenter);
    description->setWordWrap(true);

    auto* inner = new QVBoxLayout(frame);
    inner->setContentsMargins(28, 24, 28, 24);
    inner->setSpacing(12);
    inner->addWidget(title);
    inner->addWidget(line);
    inner->addWidget(description);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(frame);
    setFixedSize(sizeHint().expandedTo(QSize(380, 0)));
}

QString Splash::titleText() const {
    // The program title completed with the version as "major.minor.build Build revision".
    return QStringLiteral("Velmarrow %1.%2.%3 Build %4")
        .arg(VELMARROW_VERSION_MAJOR)
        .arg(VELMARROW_VERSION_MINOR)
        .arg(VELMARROW_VERSION_PATCH)
        .arg(VELMARROW_VERSION_TWEAK);
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
