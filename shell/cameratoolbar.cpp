#include "shell/cameratoolbar.h"

#include "app/windowroutines.h"
#include "resources/icons.h"
#include "resources/strings.h"
#include "shell/camerafinder.h"
#include "shell/readerrules.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QMenu>
#include <QToolButton>

namespace vm::shell {

namespace {
const char kCaptionProperty[] = "cameraCaption";
const char kTagProperty[] = "tag";
const char kImageProperty[] = "imageKey";
const char kSeenProperty[] = "checkedSeen";
} // namespace

CameraToolbar::CameraToolbar(QWidget* parent)
    : QToolBar(parent) {
    setObjectName(QStringLiteral("CamToolbar"));
    setWindowTitle(vm::res::Str(20182));
    vm::app::nameToolbar(this, vm::res::Str(20182));
    setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    setIconSize(QSize(32, 32));

    m_addCamera = addAction(vm::res::Icon(QStringLiteral("addcamera")), vm::res::Str(20183));
    m_addCamera->setObjectName(QStringLiteral("addcamera"));
    m_addCamera->setToolTip(vm::res::Str(20184));
    m_addCamera->setProperty(kImageProperty, QStringLiteral("addcamera"));

    m_control = addAction(vm::res::Icon(QStringLiteral("control")), vm::res::Str(20180));
    m_control->setObjectName(QStringLiteral("control"));
    m_control->setCheckable(true);
    m_control->setToolTip(vm::res::Str(20181));
    m_control->setProperty(kImageProperty, QStringLiteral("control"));
    passAssistiveToggles(m_control);

    m_findCamera = addAction(vm::res::Icon(QStringLiteral("cam")), vm::res::Str(20385));
    m_findCamera->setObjectName(QStringLiteral("findcamera"));
    m_findCamera->setToolTip(vm::res::Str(20386));
    m_findCamera->setProperty(kImageProperty, QStringLiteral("cam"));
    if (auto* button = qobject_cast<QToolButton*>(widgetForAction(m_findCamera)))
        button->setAccessibleName(vm::res::Str(20385));
    m_findCamera->setVisible(false);
    addSeparator();

    connect(this, &QToolBar::actionTriggered, this, &CameraToolbar::actionTriggered);
}

QAction* CameraToolbar::appendCamera(const QString& caption, bool guest) {
    // A long reader name is shortened in the middle on the button; its tooltip and
    // accessible name keep it whole.
    auto* action = addAction(fontMetrics().elidedText(caption, Qt::ElideMiddle, kMaxCaptionWidth));
    action->setCheckable(true);
    action->setToolTip(caption);
    action->setProperty(kCaptionProperty, caption);
    action->setProperty(kTagProperty, guest ? QStringLiteral("guest") : QString());
    action->setObjectName(QStringLiteral("camera:") + caption);
    setImage(action, IsSerialCaption(caption) ? QStringLiteral("serialdisconnected")
                                              : QStringLiteral("netdisconnected"));
    if (auto* button = qobject_cast<QToolButton*>(widgetForAction(action)))
        button->setAccessibleName(caption);
    passAssistiveToggles(action);
    m_cameras.append(action);
    m_byCaption.insert(caption, action);
    updateFindVisibility();
    return action;
}

void CameraToolbar::passAssistiveToggles(QAction* action) {
    auto* button = qobject_cast<QToolButton*>(widgetForAction(action));
    if (!button)
        return;
    // Assistive tools and UI automation toggle the button itself: the button sets the
    // action, which is not triggered. Such a toggle reaches the button after the action's
    // own toggled signal; a click or the program's own change reaches it before.
    connect(action, &QAction::toggled, this,
            [action](bool checked) { action->setProperty(kSeenProperty, checked); });
    connect(button, &QAbstractButton::toggled, this, [this, action](bool checked) {
        const QVariant seen = action->property(kSeenProperty);
        if (seen.isValid() && seen.toBool() == checked && action->isChecked() == checked)
            actionTriggered(action);
    });
}

void CameraToolbar::renameCamera(int index, const QString& caption) {
    QAction* action = m_cameras.value(index);
    if (!action)
        return;
    action->setText(fontMetrics().elidedText(caption, Qt::ElideMiddle, kMaxCaptionWidth));
    action->setToolTip(caption);
    if (m_byCaption.value(CameraToolbar::caption(action)) == action)
        m_byCaption.remove(CameraToolbar::caption(action));
    m_byCaption.insert(caption, action);
    action->setProperty(kCaptionProperty, caption);
    action->setObjectName(QStringLiteral("camera:") + caption);
    if (auto* button = qobject_cast<QToolButton*>(widgetForAction(action)))
        button->setAccessibleName(caption);
}

void CameraToolbar::removeCamera(int index) {
    if (index < 0 || index >= m_cameras.size())
        return;
    QAction* action = m_cameras.takeAt(index);
    const QString caption = CameraToolbar::caption(action);
    if (m_byCaption.value(caption) == action) {
        m_byCaption.remove(caption);
        // Another button of the same caption (there should be none) is found again.
        for (QAction* other : std::as_const(m_cameras))
            if (CameraToolbar::caption(other) == caption) {
                m_byCaption.insert(caption, other);
                break;
            }
    }
    removeAction(action);
    action->deleteLater();
    updateFindVisibility();
}

void CameraToolbar::updateFindVisibility() {
    m_findCamera->setVisible(m_cameras.size() >= kFindThreshold);
}

void CameraToolbar::showFinder() {
    if (!m_finder) {
        m_finder = new CameraFinder(this);
        connect(m_finder, &CameraFinder::cameraChosen, this, &CameraToolbar::chooseCamera);
    }
    m_finder->setCameras(m_cameras);
    QWidget* button = widgetForAction(m_findCamera);
    const QPoint at = button && button->isVisible() ? button->mapToGlobal(QPoint(0, button->height()))
                                                    : mapToGlobal(QPoint(0, height()));
    m_finder->move(at);
    m_finder->show();
    m_finder->findText()->setFocus(Qt::PopupFocusReason);
}

void CameraToolbar::chooseCamera(const QString& caption) {
    QAction* action = findCamera(caption);
    if (!action || !action->isEnabled() || action->isChecked())
        return;
    // Triggered as its button is by a click: checked, then passed on as cameraClicked.
    action->trigger();
}

QAction* CameraToolbar::findCamera(const QString& caption) const {
    const int index = indexOf(caption);
    return index >= 0 ? m_cameras.at(index) : nullptr;
}

int CameraToolbar::indexOf(const QString& caption) const {
    QAction* action = m_byCaption.value(caption);
    return action ? int(m_cameras.indexOf(action)) : -1;
}

QStringList CameraToolbar::captions(bool includeGuests) const {
    QStringList result;
    for (const QAction* action : m_cameras) {
        if (includeGuests || !isGuest(action))
            result.append(action->property(kCaptionProperty).toString());
    }
    return result;
}

QString CameraToolbar::caption(const QAction* action) {
    return action ? action->property(kCaptionProperty).toString() : QString();
}

bool CameraToolbar::isGuest(const QAction* action) {
    return action && action->property(kTagProperty).toString() == QLatin1String("guest");
}

void CameraToolbar::setImage(QAction* action, const QString& key) {
    if (!action || action->property(kImageProperty).toString() == key)
        return;
    action->setProperty(kImageProperty, key);
    action->setIcon(vm::res::Icon(key));
}

QString CameraToolbar::imageKey(const QAction* action) {
    return action ? action->property(kImageProperty).toString() : QString();
}

void CameraToolbar::actionTriggered(QAction* action) {
    if (action == m_addCamera) {
        emit addCameraClicked();
    } else if (action == m_control) {
        emit controlClicked();
    } else if (action == m_findCamera) {
        showFinder();
    } else if (m_cameras.contains(action)) {
        emit cameraClicked(action->property(kCaptionProperty).toString(), action->isChecked());
    }
}

void CameraToolbar::contextMenuEvent(QContextMenuEvent* event) {
    QAction* action = actionAt(event->pos());
    const int index = m_cameras.indexOf(action);
    if (index < 0) {
        QToolBar::contextMenuEvent(event);
        return;
    }
    QMenu menu(this);
    QAction* remove = menu.addAction(vm::res::Str(601));
    if (menu.exec(event->globalPos()) == remove)
        emit removeRequested(index);
}

} // namespace vm::shell
