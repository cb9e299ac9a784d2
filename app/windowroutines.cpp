#include "app/windowroutines.h"

#include "app/logging.h"
#include "app/settingsstore.h"
#include "resources/strings.h"

#include <QGuiApplication>
#include <QScreen>
#include <QToolBar>
#include <QToolButton>

namespace vm::app {

namespace {

const QScreen* screenOrPrimary(const QScreen* screen) {
    return screen ? screen : QGuiApplication::primaryScreen();
}

QString metricKey(const QWidget* window, const char* suffix) {
    return window->objectName() + QLatin1String(suffix);
}

QPointer<QWidget>& mainWindowRef() {
    static QPointer<QWidget> window;
    return window;
}

} // namespace

double twipsPerPixelX(const QScreen* screen) {
    const QScreen* s = screenOrPrimary(screen);
    const double dpi = s ? s->logicalDotsPerInchX() : 96.0;
    return TwipsPerInch / (dpi > 0 ? dpi : 96.0);
}

double twipsPerPixelY(const QScreen* screen) {
    const QScreen* s = screenOrPrimary(screen);
    const double dpi = s ? s->logicalDotsPerInchY() : 96.0;
    return TwipsPerInch / (dpi > 0 ? dpi : 96.0);
}

QSize workAreaTwips() {
    const QScreen* s = QGuiApplication::primaryScreen();
    if (!s)
        return {};
    const QRect area = s->availableGeometry();
    return QSize(int(qRound64((area.x() + area.width()) * twipsPerPixelX(s))),
                 int(qRound64((area.y() + area.height()) * twipsPerPixelY(s))));
}

bool fitToWorkArea(qint64& left, qint64& top, qint64& width, qint64& height, qint64 workWidth,
                   qint64 workHeight) {
    const qint64 l = left, t = top, w = width, h = height;
    if (width > workWidth)
        width = workWidth;
    if (height > workHeight)
        height = workHeight;
    if (left < 0)
        left = 0;
    else if (left + width > workWidth)
        left = workWidth - width;
    if (top < 0)
        top = 0;
    else if (top + height > workHeight)
        top = workHeight - height;
    return l == left && t == top && w == width && h == height;
}

bool FitToWorkArea(qint64& left, qint64& top, qint64& width, qint64& height) {
    const QSize area = workAreaTwips();
    return fitToWorkArea(left, top, width, height, area.width(), area.height());
}

int windowStateCode(const QWidget* window) {
    if (window->isMinimized())
        return 1;
    if (window->isMaximized())
        return 2;
    return 0;
}

bool isResizable(const QWidget* window) {
    return window->minimumSize() != window->maximumSize();
}

void SaveWindowMetrics(QWidget* window) {
    if (!window || window->objectName().isEmpty()) {
        qCWarning(lcApp) << "window metrics not saved: the window has no name";
        return;
    }
    SettingsStore& store = settings();
    const QString section = QLatin1String(keys::WindowMetrics);
    const int state = windowStateCode(window);
    store.SetValue(metricKey(window, " State"), QString::number(state), section);
    if (state == 1)
        return; // a minimised window keeps the place it had before
    const QScreen* screen = window->screen();
    const double tx = twipsPerPixelX(screen);
    const double ty = twipsPerPixelY(screen);
    // A maximised window stores the rectangle it fills, as it appears on screen.
    const QPoint pos = window->pos();
    const QSize size = window->size();
    store.SetValue(metricKey(window, " Left"), QString::number(qRound64(pos.x() * tx)), section);
    store.SetValue(metricKey(window, " Top"), QString::number(qRound64(pos.y() * ty)), section);
    store.SetValue(metricKey(window, " Width"), QString::number(qRound64(size.width() * tx)), section);
    store.SetValue(metricKey(window, " Height"), QString::number(qRound64(size.height() * ty)), section);
}

void RestoreWindowMetrics(QWidget* window) {
    if (!window || window->objectName().isEmpty())
        return;
    const SettingsStore& store = settings();
    const QString section = QLatin1String(keys::WindowMetrics);
    const QString zero = QStringLiteral("0");
    qint64 left = textToNumber(store.GetValue(metricKey(window, " Left"), zero, section));
    qint64 top = textToNumber(store.GetValue(metricKey(window, " Top"), zero, section));
    qint64 width = textToNumber(store.GetValue(metricKey(window, " Width"), zero, section));
    qint64 height = textToNumber(store.GetValue(metricKey(window, " Height"), zero, section));
    FitToWorkArea(left, top, width, height);
    // The stored state is deliberately not applied: windows always come back normal.
    window->setWindowState(Qt::WindowNoState);
    if (width == 0 || height == 0)
        return;
    const QScreen* screen = QGuiApplication::primaryScreen();
    const double tx = twipsPerPixelX(screen);
    const double ty = twipsPerPixelY(screen);
    window->move(int(qRound64(left / tx)), int(qRound64(top / ty)));
    if (isResizable(window))
        window->resize(int(qRound64(width / tx)), int(qRound64(height / ty)));
}

void ShowRestoredWindow(QWidget* window, bool show) {
    if (!window)
        return;
    if (show) {
        // Owned by the main window, a window stays over it and goes when it goes.
        QWidget* owner = mainWindow();
        if (owner && window != owner && !window->parentWidget())
            window->setParent(owner, window->windowFlags() | Qt::Window);
        windows().track(window);
        RestoreWindowMetrics(window);
        window->show();
        window->raise();
        window->activateWindow();
        return;
    }
    SaveWindowMetrics(window);
    windows().forget(window);
    window->close();
    if (!window->testAttribute(Qt::WA_DeleteOnClose))
        window->deleteLater();
}

void SaveOpenWindowList(const QStringList& names) {
    settings().setText(keys::UpWindows, names.join(u';'));
}

QStringList ReadOpenWindowList() {
    return settings().text(keys::UpWindows).split(u';', Qt::SkipEmptyParts);
}

QWidget* mainWindow() {
    return mainWindowRef().data();
}

void setMainWindow(QWidget* window) {
    mainWindowRef() = window;
}

void nameToolbar(QToolBar* toolbar, const QString& name) {
    if (toolbar->accessibleName().isEmpty())
        toolbar->setAccessibleName(name);
    // Qt's own name for the overflow button; it exists from the toolbar's construction.
    for (QToolButton* overflow : toolbar->findChildren<QToolButton*>(QStringLiteral("qt_toolbar_ext_button"),
                                                                     Qt::FindDirectChildrenOnly))
        overflow->setAccessibleName(vm::res::Str(20366));
}

} // namespace vm::app
