#include "tools/basicterminal.h"

#include "display/cameras.h"
#include "display/terminal.h"
#include "display/twips.h"
#include "resources/strings.h"

#include <QHBoxLayout>
#include <QKeyEvent>
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
    auto* filterLabel = new QLabel(tr("&Filter:"), this);
    filterLabel->setObjectName(QStringLiteral("lblFilter"));
    m_filter = new QLineEdit(this);
    m_filter->setObjectName(QStringLiteral("txtFilter"));
    m_filter->setAccessibleName(tr("Filter readers"));
    m_filter->setPlaceholderText(tr("Part of a name, address or station"));
    m_filter->setClearButtonEnabled(true);
    filterLabel->setBuddy(m_filter);
    m_count = new QLabel(this);
    m_count->setObjectName(QStringLiteral("lblCount"));
    auto* filterRow = new QHBoxLayout;
    filterRow->setContentsMargins(4, 4, 4, 0);
    filterRow->addWidget(filterLabel);
    filterRow->addWidget(m_filter, 1);
    filterRow->addWidget(m_count);
    layout->addLayout(filterRow);

    m_ctl = new vm::display::Cameras(this);
    m_ctl->setObjectName(QStringLiteral("ctl"));
    m_ctl->setAccessibleName(vm::res::Str(1524));
    layout->addWidget(m_ctl, 1);
    setFocusProxy(m_ctl);
    setTabOrder(m_filter, m_ctl);
    resize(560, 260);
    connect(m_ctl, &vm::display::Cameras::contentResized, this, &NetworkOverview::contentResized);
    connect(m_ctl, &vm::display::Cameras::countsChanged, this, &NetworkOverview::countsChanged);
    connect(m_filter, &QLineEdit::textChanged, m_ctl, &vm::display::Cameras::setFilterText);
    m_filter->installEventFilter(this);
    countsChanged(m_ctl->shownCount(), m_ctl->rowCount());
}

bool NetworkOverview::eventFilter(QObject* watched, QEvent* event) {
    // Down (or Enter) in the filter goes on to the first reader it left in the list.
    if (watched == m_filter && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Down || key == Qt::Key_Return || key == Qt::Key_Enter) {
            for (int row = 0; row < m_ctl->rowCount(); ++row) {
                if (m_ctl->isRowHidden(row))
                    continue;
                m_ctl->setCurrentCell(row, vm::display::Cameras::NameColumn);
                m_ctl->setFocus(Qt::TabFocusReason);
                return true;
            }
        }
    }
    return MonitorWindow::eventFilter(watched, event);
}

void NetworkOverview::countsChanged(int shown, int total) {
    const QString readers = total == 1 ? tr("1 reader") : tr("%1 readers").arg(total);
    m_count->setText(shown == total ? readers : tr("%1 of %2").arg(shown).arg(readers));
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
