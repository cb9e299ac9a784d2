#include "tools/basicterminal.h"

#include "display/cameras.h"
#include "display/terminal.h"
#include "display/twips.h"
#include "resources/strings.h"

#include <QVBoxLayout>

namespace vm::tools {

BasicTerminal::BasicTerminal(QWidget* parent)
    : MonitorWindow(QLatin1String(WindowName), vm::res::Str(817), parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_ctl = new vm::display::Terminal(this);
    m_ctl->setObjectName(QStringLiteral("ctl"));
    layout->addWidget(m_ctl);
    setFocusProxy(m_ctl);
    resize(640, 400);
}

vm::app::WindowEntry BasicTerminal::windowEntry() {
    return monitorWindowEntry(
        WindowName, [](QWidget* parent) -> QWidget* { return new BasicTerminal(parent); }, 302, "mnuTerminal",
        10, "terminal", 1501, 1519, "terminal");
}

NetworkOverview::NetworkOverview(QWidget* parent)
    : MonitorWindow(QLatin1String(WindowName), vm::res::Str(821), parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_ctl = new vm::display::Cameras(this);
    m_ctl->setObjectName(QStringLiteral("ctl"));
    m_ctl->setAccessibleName(vm::res::Str(1524));
    layout->addWidget(m_ctl);
    setFocusProxy(m_ctl);
    resize(560, 260);
    connect(m_ctl, &vm::display::Cameras::contentResized, this, &NetworkOverview::contentResized);
}

vm::app::WindowEntry NetworkOverview::windowEntry() {
    return monitorWindowEntry(
        WindowName, [](QWidget* parent) -> QWidget* { return new NetworkOverview(parent); }, 307,
        "mnuNetworkOverview", 60, "network", 1506, 1524, "network");
}

void NetworkOverview::contentResized() {
    if (!isNormalState())
        return;
    const int needed = m_ctl->ContentWidth() + kExtraWidthTwips;
    if (frameWidthTwips() < needed)
        resizeFrameTwips(needed, vm::display::PixelsToTwipsY(this, frameGeometry().height()));
}

} // namespace vm::tools
