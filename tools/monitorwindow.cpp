#include "tools/monitorwindow.h"

#include "app/windowroutines.h"
#include "display/twips.h"
#include "link/connection.h"
#include "resources/strings.h"

#include <QCloseEvent>

namespace vm::tools {

MonitorWindow::MonitorWindow(const QString& name, const QString& caption, QWidget* parent)
    : QWidget(parent, Qt::Window) {
    setObjectName(name);
    setAttribute(Qt::WA_DeleteOnClose);
    // The main window replaces "(no camera)" with the focused reader's name.
    setWindowTitle(QStringLiteral("(no camera)") +
                   (caption.startsWith(QLatin1Char(' ')) ? caption : QLatin1Char(' ') + caption));
}

MonitorWindow::~MonitorWindow() = default;

bool MonitorWindow::isNormalState() const {
    return !(windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen));
}

int MonitorWindow::frameWidthTwips() const {
    return vm::display::PixelsToTwipsX(this, frameGeometry().width());
}

void MonitorWindow::resizeFrameTwips(int widthTwips, int heightTwips) {
    const int frameExtraW = frameGeometry().width() - width();
    const int frameExtraH = frameGeometry().height() - height();
    const int w = vm::display::TwipsToPixelsX(this, widthTwips) - frameExtraW;
    const int h = vm::display::TwipsToPixelsY(this, heightTwips) - frameExtraH;
    // A size that makes no sense (a window far too small for its frame) leaves it as it is.
    if (w <= 0 || h <= 0)
        return;
    resize(w, h);
}

void MonitorWindow::closeEvent(QCloseEvent* event) {
    if (!m_unloaded) {
        m_unloaded = true;
        vm::app::SaveWindowMetrics(this);
        vm::app::windows().forget(this);
        unload();
    }
    QWidget::closeEvent(event);
}

RecordWindow::RecordWindow(const QString& name, const QString& caption, QWidget* parent)
    : MonitorWindow(name, caption, parent)
    , m_rconn(std::make_unique<vm::link::ReaderConnection>()) {
    m_updateTimer.setSingleShot(true);
    connect(m_rconn.get(), &vm::link::Connection::OnNewRecord, this,
            [this](const vm::link::Record& record) { newRecord(record); });
    connect(m_rconn.get(), &vm::link::Connection::OnConnectionReset, this, [this] { connectionReset(); });
    connect(m_rconn.get(), &vm::link::Connection::OnControlStatusChanged, this,
            [this] { controlStatusChanged(); });
    connect(&m_updateTimer, &QTimer::timeout, this, [this] { timerTick(); });
}

RecordWindow::~RecordWindow() = default;

void RecordWindow::unload() {
    m_updateTimer.stop();
    m_pending.reset();
    m_rconn.reset();
}

vm::app::WindowEntry monitorWindowEntry(const char* name, vm::app::WindowEntry::Factory factory, int menuText,
                                        const char* menuKey, int buttonPosition, const char* buttonKey,
                                        int buttonText, int buttonTip, const char* image) {
    using namespace vm::app;
    WindowEntry registered;
    registered.name = QLatin1String(name);
    registered.factory = std::move(factory);
    registered.menu.menu = Menu::Windows;
    registered.menu.position = menuText * 10;
    registered.menu.key = QLatin1String(menuKey);
    registered.menu.caption = vm::res::Str(menuText);
    registered.menu.rule = ItemRule::Always;
    registered.button.bar = Toolbar::View;
    registered.button.position = buttonPosition;
    registered.button.key = QLatin1String(buttonKey);
    registered.button.caption = vm::res::Str(buttonText);
    registered.button.tooltip = vm::res::Str(buttonTip);
    registered.button.image = QLatin1String(image);
    registered.button.toggles = true;
    registered.followsReader = true;
    registered.reopensAtStart = true;
    return registered;
}

} // namespace vm::tools
