#include "io/frmbeep.h"

#include "app/programstate.h"
#include "link/parameterset.h"
#include "link/vocabulary.h"
#include "resources/strings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QHeaderView>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace vm::io {

namespace {

const QString kBeeps = QStringLiteral("OUTPUT BEEP");
const QString kBeeper = QStringLiteral("BEEP");
// Decode Pass, Decode Fail, Locate Fail, Match Pass, Match Fail, RT Error.
const int kRows[] = {20301, 20302, 20304, 20305, 20306, 20303};

} // namespace

QStringList frmBeep::beepTexts() {
    return {vm::res::Str(20020), vm::res::Str(20021), vm::res::Str(20022), vm::res::Str(20023)};
}

frmBeep::frmBeep(QWidget* parent)
    : SettingsWindow(QLatin1String(WindowName), Mode::Immediate, parent) {
    setWindowTitle(vm::res::Str(20024));
    auto* layout = new QVBoxLayout(this);
    m_enable = new QCheckBox(vm::res::Str(20025), this);
    m_enable->setObjectName(QStringLiteral("m_enable"));
    auto* sep = new QFrame(this);
    sep->setObjectName(QStringLiteral("m_sep"));
    sep->setFrameShape(QFrame::HLine);
    m_grid = new QTableWidget(6, 2, this);
    m_grid->setObjectName(QStringLiteral("m_grid"));
    m_grid->setAccessibleName(vm::res::Str(20026));
    m_grid->horizontalHeader()->hide();
    m_grid->verticalHeader()->hide();
    m_grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_grid->setSelectionMode(QAbstractItemView::SingleSelection);
    m_grid->setColumnWidth(0, 120);
    m_grid->horizontalHeader()->setStretchLastSection(true);
    for (int r = 0; r < 6; ++r) {
        m_grid->setItem(r, 0, new QTableWidgetItem(vm::res::Str(kRows[r])));
        m_grid->setItem(r, 1, new QTableWidgetItem);
    }
    m_grid->setFixedHeight(m_grid->verticalHeader()->length() + 2 * m_grid->frameWidth());
    m_combo = new QComboBox(m_grid->viewport());
    m_combo->setObjectName(QStringLiteral("m_combo"));
    m_combo->setAccessibleName(vm::res::Str(20027));
    m_combo->addItems(beepTexts());
    m_combo->hide();
    layout->addWidget(m_enable);
    layout->addWidget(sep);
    layout->addWidget(m_grid);
    // The counts are asked for first, then the switch. The grid is the window's own: it
    // shows one field of "OUTPUT BEEP" per row. Without control a change could not reach
    // the reader, so the counts follow control as the switch does.
    declare(m_grid, kBeeps);
    bindCheck(m_enable, kBeeper, 0, QStringLiteral("Y"), QStringLiteral("N"));
    connect(m_grid, &QTableWidget::cellClicked, this, &frmBeep::cellClicked);
    // Enter on a count opens the list, as a click does.
    connect(m_grid, &QTableWidget::cellActivated, this, &frmBeep::cellClicked);
    connect(m_combo, &QComboBox::activated, this, &frmBeep::countChosen);
    ensureLoaded();
}

vm::app::WindowEntry frmBeep::windowEntry() {
    // No string number of its own: after "Output Settings..." (2050).
    vm::app::WindowEntry registered =
        vm::settings::settingsMenuWindow<frmBeep>(WindowName, 2055, "mnuBeepControl", vm::res::Str(20028));
    registered.menu.supports = [](const vm::app::ReaderInfo& r) {
        return r.firmwareLevel >= vm::link::level::FormatEditor;
    };
    registered.reopensAtStart = true;
    return registered;
}

void frmBeep::loadParameters() {
    m_combo->hide();
    if (!isConnected())
        return;
    if (vm::app::firmwareLevel() < vm::link::level::FormatEditor) {
        // Older readers set their beeps in the output dialog.
        if (!m_closing) {
            m_closing = true;
            QTimer::singleShot(0, this, &QWidget::close);
        }
        return;
    }
    SettingsWindow::loadParameters();
}

void frmBeep::refresh() {
    // Counts the reader did not answer stay as they were.
    if (isConnected() && !wasRead(kBeeps))
        return;
    const vm::link::Parameter& beeps = parameters().GetParameter(kBeeps);
    const QStringList texts = beepTexts();
    for (int r = 0; r < 6; ++r) {
        const int n = beeps.Field(r).toInt();
        m_grid->item(r, 1)->setText(n >= 0 && n < texts.size() ? texts[n] : QString());
    }
}

void frmBeep::applyControlState(bool) {
    if (!m_grid->isEnabled())
        m_combo->hide();
}

QStringList frmBeep::reloadOn() const {
    return {QLatin1String(vm::link::broadcast::UpdateBeep)};
}

QStringList frmBeep::broadcastsAfterApply() const {
    return {QLatin1String(vm::link::broadcast::UpdateBeep)};
}

void frmBeep::cellClicked(int row, int column) {
    m_combo->hide();
    if (column != 1 || row < 0 || row >= 6 || !hasControl())
        return;
    editRow(row);
}

void frmBeep::editRow(int row) {
    const QRect cell = m_grid->visualItemRect(m_grid->item(row, 1));
    m_combo->setGeometry(cell.x(), cell.y(), cell.width(),
                         std::max(cell.height(), m_combo->sizeHint().height()));
    m_row = row;
    const int index = m_combo->findText(m_grid->item(row, 1)->text());
    if (index >= 0)
        m_combo->setCurrentIndex(index);
    m_combo->show();
    m_combo->setFocus(Qt::OtherFocusReason);
}

void frmBeep::countChosen(int index) {
    if (updating() || !m_combo->isVisible() || m_row < 0 || index < 0)
        return;
    m_grid->item(m_row, 1)->setText(m_combo->itemText(index));
    parameters().GetParameter(kBeeps).SetField(m_row, QString::number(index));
    m_combo->hide();
    m_grid->setFocus(Qt::OtherFocusReason);
    markModified();
}

} // namespace vm::io
