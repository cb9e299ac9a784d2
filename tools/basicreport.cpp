#include "tools/basicreport.h"

#include "app/programstate.h"
#include "app/prompts.h"
#include "app/windowroutines.h"
#include "display/reportgrid.h"
#include "display/twips.h"
#include "link/connection.h"
#include "link/device.h"
#include "link/wholefile.h"
#include "resources/strings.h"

#include <QAction>
#include <QHeaderView>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace vm::tools {

using vm::app::PromptAnswer;
using vm::app::PromptButtons;
using vm::app::PromptIcon;

namespace {

QString csvField(const QString& text) {
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) &&
        !text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r')))
        return text;
    return QLatin1Char('"') + QString(text).replace(QLatin1Char('"'), QLatin1String("\"\"")) +
           QLatin1Char('"');
}

} // namespace

BasicReport::BasicReport(QWidget* parent)
    : RecordWindow(QLatin1String(WindowName), vm::res::Str(816), parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_toolbar = new QToolBar(this);
    m_toolbar->setObjectName(QStringLiteral("Toolbar1"));
    vm::app::nameToolbar(m_toolbar, vm::res::Str(20369));
    m_clearCounters = m_toolbar->addAction(vm::res::Str(210));
    m_clearCounters->setObjectName(QStringLiteral("clearcounters"));
    m_clearCounters->setToolTip(QStringLiteral("Reset Statistics"));
    m_export = m_toolbar->addAction(vm::res::Str(20268));
    m_export->setObjectName(QStringLiteral("export"));
    m_export->setToolTip(vm::res::Str(20269));
    for (QAction* action : {m_clearCounters, m_export}) {
        if (auto* button = qobject_cast<QToolButton*>(m_toolbar->widgetForAction(action))) {
            button->setAccessibleName(action->text());
            button->setFocusPolicy(Qt::StrongFocus);
        }
    }
    layout->addWidget(m_toolbar);
    m_grid = new vm::display::ReportGrid(this);
    m_grid->setObjectName(QStringLiteral("Grid"));
    m_grid->setAccessibleName(vm::res::Str(20270));
    layout->addWidget(m_grid, 1);

    connect(m_clearCounters, &QAction::triggered, this, &BasicReport::ResetStatistics);
    connect(m_export, &QAction::triggered, this, &BasicReport::exportClicked);
    m_chooseFile = [](QWidget* owner) {
        return vm::app::chooseSaveFile(owner, vm::res::Str(20271), QString(), vm::res::Str(20272));
    };
    resize(640, 420);
    // The toolbar button and the grid start in the state a reset would leave them in.
    connectionReset();
}

vm::app::WindowEntry BasicReport::windowEntry() {
    return monitorWindowEntry(
        WindowName, [](QWidget* parent) -> QWidget* { return new BasicReport(parent); }, 303, "mnuReport", 20,
        "reports", 1502, 1520, "reports");
}

bool BasicReport::connected() const {
    return m_rconn && m_rconn->Connected();
}

void BasicReport::connectionReset() {
    m_clearCounters->setEnabled(m_rconn && m_rconn->HasControl());
    m_grid->Clear();
}

void BasicReport::controlStatusChanged() {
    m_clearCounters->setEnabled(m_rconn && m_rconn->HasControl());
}

void BasicReport::newRecord(const vm::link::Record& record) {
    m_pending = record;
    if (!m_pending || !connected())
        m_grid->Clear();
    if (connected()) {
        // Started by the first record of a burst, not restarted by the ones after it: a steady
        // stream is drawn every kUpdateMs rather than only once it pauses.
        if (!m_updateTimer.isActive())
            m_updateTimer.start(kUpdateMs);
    } else {
        m_pending.reset();
    }
    if (isNormalState())
        fitToContent();
}

void BasicReport::fitToContent() {
    const int toolbarTwips = vm::display::PixelsToTwipsY(this, m_toolbar->height());
    resizeFrameTwips(m_grid->ContentWidth() + kExtraWidthTwips,
                     toolbarTwips + m_grid->ContentHeight() + kExtraHeightTwips);
}

void BasicReport::timerTick() {
    m_updateTimer.stop();
    if (m_pending && connected()) {
        m_grid->AddRecord(*m_pending);
        m_pending.reset();
    } else {
        m_grid->Clear();
    }
}

bool BasicReport::ensureControl() {
    vm::link::Device* device = m_rconn ? m_rconn->Device() : nullptr;
    if (!device || !m_rconn->Connected()) {
        vm::app::showMessage(this, QStringLiteral("No Connection To Camera"), PromptButtons::Ok,
                             PromptIcon::Exclamation);
        return false;
    }
    if (device->HasControl())
        return true;
    if (vm::app::showMessage(this,
                             QStringLiteral("Do you wish to control the camera ") + device->Name() + u'?',
                             PromptButtons::YesNo, PromptIcon::Question) != PromptAnswer::Yes) {
        vm::app::showMessage(this, QStringLiteral("Cannot clear statistics without control..."));
        return false;
    }
    const QString password = vm::app::controlPassword();
    if (!password.isEmpty()) {
        const auto entered = vm::app::askInput(this, QStringLiteral("Enter Password"),
                                               QStringLiteral("VelmarrowPassword"), QString(), true);
        if (!entered || *entered != password) {
            vm::app::showMessage(this, QStringLiteral("Invalid Password"));
            return false;
        }
    }
    m_rconn->SendCommand(QStringLiteral("CONTROL"), 500);
    return true;
}

void BasicReport::ResetStatistics() {
    if (!ensureControl())
        return;
    if (vm::app::showMessage(this, QStringLiteral("Are you sure you want to reset the camera statistics?"),
                             PromptButtons::YesNo, PromptIcon::Question) != PromptAnswer::Yes)
        return;
    // The window may have gone, or the reader with it, while the box was open.
    if (!m_rconn)
        return;
    const QString command = QStringLiteral("STATS RESET");
    const vm::link::CommandReply reply = m_rconn->SendCommand(command, 500);
    if (!reply.ok)
        vm::app::tellCommandFailed(this, command, reply.errorText);
}

QString BasicReport::csvText() const {
    QStringList lines;
    QStringList header;
    for (int c = 0; c < m_grid->columnCount(); ++c) {
        const QTableWidgetItem* item = m_grid->horizontalHeaderItem(c);
        header << csvField(item ? item->text() : QString());
    }
    lines << header.join(u',');
    for (int r = 0; r < m_grid->rowCount(); ++r) {
        QStringList row;
        for (int c = 0; c < m_grid->columnCount(); ++c) {
            const QTableWidgetItem* item = m_grid->item(r, c);
            row << csvField(item ? item->text() : QString());
        }
        lines << row.join(u',');
    }
    return lines.join(QLatin1String("\r\n")) + QLatin1String("\r\n");
}

bool BasicReport::ExportCsv(const QString& path) {
    QString error;
    if (!vm::link::writeWholeFile(path, csvText().toUtf8(), &error)) {
        vm::app::showMessage(this, vm::res::Str(20273).arg(path, error), PromptButtons::Ok,
                             PromptIcon::Exclamation);
        return false;
    }
    return true;
}

void BasicReport::exportClicked() {
    const QString path = m_chooseFile ? m_chooseFile(this) : QString();
    if (!path.isEmpty())
        ExportCsv(path);
}

} // namespace vm::tools
