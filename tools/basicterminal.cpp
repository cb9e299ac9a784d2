#include "tools/basicterminal.h"

#include "display/cameras.h"
#include "display/findbox.h"
#include "display/terminal.h"
#include "display/twips.h"
#include "resources/strings.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
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
    layout->setSpacing(2);
    m_filter = new vm::display::FindBox(vm::res::Str(20387), vm::res::Str(20388), vm::res::Str(20389),
                                        vm::res::Str(20393), this);
    m_filter->label()->setObjectName(QStringLiteral("lblFilter"));
    m_filter->edit()->setObjectName(QStringLiteral("txtFilter"));
    m_count = new QLabel(this);
    m_count->setObjectName(QStringLiteral("lblCount"));
    auto* filterRow = new QHBoxLayout;
    filterRow->setContentsMargins(4, 4, 4, 0);
    filterRow->addWidget(m_filter, 1);
    filterRow->addWidget(m_count);
    layout->addLayout(filterRow);

    m_ctl = new vm::display::Cameras(this);
    m_ctl->setObjectName(QStringLiteral("ctl"));
    m_ctl->setAccessibleName(vm::res::Str(1524));
    layout->addWidget(m_ctl, 1);
    setFocusProxy(m_ctl);
    setTabOrder(m_filter->edit(), m_ctl);
    // Tall enough for a plant: about eighteen readers at a time.
    resize(560, 440);
    connect(m_ctl, &vm::display::Cameras::contentResized, this, &NetworkOverview::contentResized);
    connect(m_ctl, &vm::display::Cameras::countsChanged, this, &NetworkOverview::countsChanged);
    connect(m_filter, &vm::display::FindBox::wordChanged, m_ctl, &vm::display::Cameras::setFilterText);
    // Down (or Enter) in the filter goes on to the first reader it left in the list.
    m_filter->setEnterList([this] {
        for (int row = 0; row < m_ctl->rowCount(); ++row) {
            if (m_ctl->isRowHidden(row))
                continue;
            m_ctl->setCurrentCell(row, vm::display::Cameras::NameColumn);
            m_ctl->setFocus(Qt::TabFocusReason);
            return true;
        }
        return false;
    });
    countsChanged(m_ctl->shownCount(), m_ctl->rowCount());
}

QLineEdit* NetworkOverview::filter() const {
    return m_filter->edit();
}

void NetworkOverview::countsChanged(int shown, int total) {
    const QString readers = total == 1 ? vm::res::Str(20390) : vm::res::Str(20391).arg(total);
    m_count->setText(shown == total ? readers : vm::res::Str(20392).arg(shown).arg(readers));
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
