#include "settings/basictune.h"

#include "app/programstate.h"
#include "app/prompts.h"
#include "app/windowroutines.h"
#include "link/connection.h"
#include "link/parameterset.h"
#include "link/record.h"
#include "link/vocabulary.h"
#include "resources/strings.h"
#include "settings/barcodesummary.h"

#include <QAction>
#include <QComboBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QScrollBar>
#include <QStackedWidget>
#include <QTableWidget>
#include <QToolBar>
#include <QVBoxLayout>

#include <algorithm>

namespace vm::settings {

namespace {

QStringList span(int from, int to, QStringList before = {}) {
    for (int i = from; i <= to; ++i)
        before << QString::number(i);
    return before;
}

const QStringList kOffOn = {"OFF", "ON"};
const QStringList kOnOff = {"ON", "OFF"};
const QStringList kAutoPolarity = {"AUTO", "DL", "LD"};
const QString kTimeout = QStringLiteral("TIMEOUT READ");
const QString kPhoto = QStringLiteral("PHOTOEX");
const QString kXDimension = QStringLiteral("XDIMENSION");
const QString kBarcodes = QStringLiteral("BARCODE ENABLE");

// Each row's number stands for its resource text; tests and the string table share them.
std::vector<TuneRow> allRows() {
    using E = TuneRow::Editor;
    const QStringList a = {"AUTO"};
    return {
        {0, "NUMDM", 0, "Num Datamatrix", E::List, span(0, 1)},
        {0, "COLS", 0, "Num Columns", E::List, span(8, 144, a)},
        {0, "ROWS", 0, "Num Rows", E::List, span(8, 144, a)},
        {0, "ECC", 0, "ECC Level", E::List, {"AUTO", "0", "50", "80", "100", "140", "200", "SPEC"}},
        {0, "POL", 0, "Polarity", E::List, kAutoPolarity},
        {0, "STYLE", 0, "Image Style", E::List, {"AUTO", "NORMAL", "MIRROR"}},
        {0, "WARP", 0, "Warp Type", E::List, {"FAST", "SLOW"}},
        {0, "ORIENT", 0, "Orientation", E::List, span(1, 8, a)},
        {0, "RATIO", 0, "Width/Height Ratio", E::List, span(3, 50, a)},
        {0, "TIMEOUT READ", 0, "Read Timeout", E::Edit, {}},
        {0, "CELL SAMPLE", 0, "Cell Sample", E::List, span(1, 7)},
        {0, "CELL SIZE", 0, "Pixels per Cell", E::List, span(3, 20)},
        {0, "HEIGHT", 0, "Matrix Height", E::List, span(20, 1024, a)},
        {0, "WIDTH", 0, "Matrix Width", E::List, span(20, 1024, a)},
        {0,
         "PROBE DIRECTION",
         0,
         "Probe Direction",
         E::List,
         {"CRISS_CROSS", "HORIZONTAL", "VERTICAL", "HORI_VERT", "VERT_HORI"}},
        {0, "PROBE SPEED", 0, "Probe Speed", E::List, {"NORMAL", "OVERDRIVE", "TURBO"}},
        {0, "PROBE THRESHOLD", 0, "Probe Threshold", E::List, span(5, 100)},
        {1, "NUMBC", 0, "Num Barcodes", E::List, span(0, 1)},
        {1, "BARHPS", 0, "Horizontal Spacing", E::List, span(8, 256)},
        {1, "BARVPS", 0, "Vertical Spacing", E::List, span(8, 256)},
        {1, "TIMEOUT READ", 0, "Read Timeout", E::Edit, {}},
        {1, "BARHGT MIN", 0, "Min Barcode Height", E::List, span(4, 400)},
        {1, "BARHGT MAX", 0, "Max Barcode Height", E::List, span(4, 400)},
        {1, "BARLEN MIN", 0, "Min Barcode Length", E::List, span(20, 600)},
        {1, "BARLEN MAX", 0, "Max Barcode Length", E::List, span(20, 600)},
        {1, "BARWDT MIN", 0, "Min Barcode Width", E::List, span(1, 100)},
        {1, "BARWDT MAX", 0, "Max Barcode Width", E::List, span(1, 100)},
        {1, "BARNUM MIN", 0, "Min Number of Bars", E::List, span(2, 100)},
        {1, "BARNUM MAX", 0, "Max Number of Bars", E::List, span(2, 100)},
        {1, "BARCODE ENABLE", 0, "Enabled Barcodes", E::Barcodes, {}},
        {1, "BARQZ", 0, "Min Quiet Zone Length", E::List, span(5, 100), 4},
        {1, "BARTHRES", 0, "Min Threshold", E::List, span(5, 100), 4},
        {1, "BARCONF", 0, "Confidence (0 - 100)", E::List, span(0, 100), 4},
        {1, "BARPRB", 0, "Probe Direction", E::List, {"HORI", "VERT", "HORI_VERT", "VERT_HORI"}, 4},
        {1, "BC_DECODE_NEAR_CENTER", 0, "BC Decode Near Center", E::List, kOffOn, 4},
        {2, "PHOTOEX", 3, "Auto Min Exposure", E::Edit, {}},
        {2, "PHOTOEX", 4, "Auto Max Exposure", E::Edit, {}},
        {2, "PHOTOEX", 5, "Auto Min Gain", E::Edit, {}},
        {2, "PHOTOEX", 6, "Auto Max Gain", E::Edit, {}},
        {2,
         "CONTRAST_REPORT",
         0,
         "Contrast Report",
         E::List,
         {"UNCALIBRATED", "REFLECTANCE_CALIBRATED", "SELF_CALIBRATED"},
         4,
         8},
        {2, "CELL_UNIT_REPORT", 0, "Cell Unit Report", E::List, {"PIXELS", "MILS"}, 4, 8},
        {2, "XDIMENSION", 1, "Min X Dimension (MILS*10)", E::Edit, {}, 9},
        {2, "XDIMENSION", 0, "Max X Dimension (MILS*10)", E::Edit, {}, 9},
        {2, "APERTURE", 0, "Aperture", E::List, span(4, 20, a), 4},
        {3, "POSITION_ENHANCE_ENABLED", 0, "Position Enhance Enabled", E::List, kOnOff},
        {3, "INTENSITY_ENHANCE_ENABLED", 0, "Intensity Enhance Enabled", E::List, kOffOn},
        {3, "NO_QUIET_ZONE_CLUTTER", 0, "No Quiet Zone Clutter", E::List, kOffOn},
        {3, "DM_IGNORE_SINGLE_EDGES", 0, "DM Ignore Single Edges", E::List, kOffOn, 5},
        {3, "DM_FINETUNE_RESERVED", 0, "DM Finetune Reserved", E::List, kOffOn, 5},
        {3, "NO_TOP_TIMING_BORDER", 0, "No Top Timing Border", E::List, kOffOn, 4, 4},
        {3, "NO_RIGHT_TIMING_BORDER", 0, "No Right Timing Border", E::List, kOffOn, 4, 4},
        {3, "DM_ALLOW_STEEP_ANGLE", 0, "DM Allow Steep Angle", E::List, kOffOn},
        {3, "DM_ALLOW_SEVERE_DAMAGE", 0, "DM Allow Severe Damage", E::List, kOffOn},
        {3, "DM_ENSURE_ROI", 0, "DM Ensure ROI", E::List, kOffOn},
        {3, "DM_DECODE_NEAR_CENTER", 0, "DM Decode Near Center", E::List, kOffOn},
        {3, "DM_CELL_OUTLINE", 0, "DM Cell Outline", E::List, kOffOn},
        {4, "BCPOL", 0, "Polarity", E::List, kAutoPolarity},
        {4, "BCSTART", 0, "Start/Stop Checking", E::List, kOffOn},
        {4, "BCCHKSUM", 0, "Check Sum Checking", E::List, kOffOn, 4, 4},
        {4, "BCCHKSUMEX BAR412", 0, "Optional CheckSum Enable", E::List, kOffOn, 5},
        {4, "BCCHKSUMEX BAR412", 1, "Optional Remove CS Display", E::List, kOffOn, 5},
        {4, "BCDECFWD", 0, "Decode Forward/Backward", E::List, kOnOff},
        {5, "QRFINDER", 0, "Finder Pattern Misalignment", E::List, span(0, 6)},
        {5, "BCPOL", 0, "Polarity", E::List, kAutoPolarity, 5},
        {6, "BCCHKSUMEX BAR39", 0, "Optional CheckSum Enable", E::List, kOffOn},
        {6, "BCCHKSUMEX BAR39", 1, "Optional Remove CS Display", E::List, kOffOn},
        {7, "BCCHKSUMEX BAR25", 0, "Optional CheckSum Enable", E::List, kOffOn},
        {7, "BCCHKSUMEX BAR25", 1, "Optional Remove CS Display", E::List, kOffOn},
        {8, "BC_UPC_AS_EAN", 0, "Output UPC as EAN", E::List, kOffOn},
    };
}

struct GroupName {
    int resource;
    int fromLevel;
};
constexpr GroupName kGroups[] = {{986, 0},  {987, 0},  {988, 0},  {2201, 4}, {2202, 4},
                                 {2203, 4}, {2240, 5}, {2241, 5}, {2248, 7}};

// Text-box rows of the expert group: their range, and the row holding the other end.
struct Bounds {
    qint64 min;
    qint64 max;
    int pairField; // the field of the other end of the pair
    bool isMinimum;
};

bool boundsOf(const TuneRow& row, Bounds* bounds) {
    if (row.name == kPhoto) {
        switch (row.field) {
        case 3:
            *bounds = {30, 19999, 4, true};
            return true;
        case 4:
            *bounds = {31, 20000, 3, false};
            return true;
        case 5:
            *bounds = {0, 1022, 6, true};
            return true;
        case 6:
            *bounds = {1, 1023, 5, false};
            return true;
        default:
            return false;
        }
    }
    if (row.name == kXDimension) {
        if (row.field == 1)
            *bounds = {10, 989, 0, true};
        else
            *bounds = {11, 990, 1, false};
        return true;
    }
    return false;
}

} // namespace

int tuneGroupCount(int firmwareLevel) {
    if (firmwareLevel < vm::link::level::ExtendedTuning)
        return 3;
    if (firmwareLevel == vm::link::level::ExtendedTuning)
        return 6;
    if (firmwareLevel < vm::link::level::UpcAsEanTuning)
        return 8;
    return 9;
}

std::vector<TuneRow> tuneRows(int firmwareLevel) {
    std::vector<TuneRow> rows;
    const int groups = tuneGroupCount(firmwareLevel);
    for (const TuneRow& row : allRows())
        if (row.group < groups && firmwareLevel >= row.minLevel && firmwareLevel <= row.maxLevel)
            rows.push_back(row);
    return rows;
}

BasicTune::BasicTune(QWidget* parent)
    : SettingsWindow(QLatin1String(WindowName), Mode::Immediate, parent, ConnectionKind::Reader) {
    setWindowTitle(QStringLiteral("(no camera) ") + vm::res::Str(951));
    auto* layout = new QVBoxLayout(this);
    m_toolbar = new QToolBar(this);
    m_toolbar->setObjectName(QStringLiteral("Toolbar1"));
    vm::app::nameToolbar(m_toolbar, vm::res::Str(20367));
    m_learnAction = m_toolbar->addAction(vm::res::Str(1531));
    m_learnAction->setObjectName(QStringLiteral("learn"));
    m_learnAction->setCheckable(true);
    m_learnAction->setToolTip(vm::res::Str(989));
    m_unlearnAction = m_toolbar->addAction(vm::res::Str(20144));
    m_unlearnAction->setObjectName(QStringLiteral("unlearn"));
    m_unlearnAction->setToolTip(vm::res::Str(990));
    m_paramSelect = new QComboBox(m_toolbar);
    m_paramSelect->setObjectName(QStringLiteral("ParamSelect"));
    m_paramSelect->setAccessibleName(vm::res::Str(20145));
    m_paramSelect->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    m_toolbar->addWidget(m_paramSelect);
    // Toolbar buttons take no keyboard focus by default; in this window they are the only
    // way to learn and unlearn, so Tab must reach them.
    for (QAction* action : {m_learnAction, m_unlearnAction}) {
        QWidget* button = m_toolbar->widgetForAction(action);
        button->setObjectName(action->objectName() + QLatin1String("Button"));
        button->setFocusPolicy(Qt::TabFocus);
    }
    layout->addWidget(m_toolbar);
    m_stack = new QStackedWidget(this);
    layout->addWidget(m_stack, 1);
    resize(400, 460);

    m_combo = new QComboBox(this);
    m_combo->setObjectName(QStringLiteral("Combo"));
    m_combo->setAccessibleName(vm::res::Str(20146));
    m_combo->hide();
    m_edit = new QLineEdit(this);
    m_edit->setObjectName(QStringLiteral("Edit"));
    m_edit->setAccessibleName(vm::res::Str(20146));
    m_edit->hide();
    m_edit->installEventFilter(this);
    // The editors serve every row: they follow programming control, whatever row they edit.
    declare(m_combo, QString());
    declare(m_edit, QString());

    m_learnTimer.setSingleShot(true);
    m_learnTimer.setInterval(kLearnReleaseMs);
    m_updateTimer.setSingleShot(true);
    m_updateTimer.setInterval(kUpdateDelayMs);
    connect(&m_updateTimer, &QTimer::timeout, this, &SettingsWindow::reload);
    connect(&m_learnTimer, &QTimer::timeout, this, [this] {
        // The learn is over: the button comes up without cancelling anything.
        m_releasingLearn = true;
        m_learnAction->setChecked(false);
        m_releasingLearn = false;
        m_updateTimer.start();
    });
    connect(m_learnAction, &QAction::toggled, this, &BasicTune::learnToggled);
    connect(m_unlearnAction, &QAction::triggered, this, &BasicTune::unlearnClicked);
    connect(m_paramSelect, &QComboBox::currentIndexChanged, this, [this](int index) {
        hideEditors();
        if (index >= 0 && index < m_stack->count())
            m_stack->setCurrentIndex(index);
        applyControlState(hasControl());
    });
    connect(m_combo, &QComboBox::activated, this, &BasicTune::comboChosen);
    // Leaving the box commits it; Enter is taken by eventFilter.
    connect(m_edit, &QLineEdit::editingFinished, this, [this] {
        if (m_edit->isVisible())
            editCommitted();
    });
    connect(connection(), &vm::link::Connection::OnNewRecord, this, &BasicTune::newRecord);
    buildGrids();
    ensureLoaded();
}

vm::app::WindowEntry BasicTune::windowEntry() {
    vm::app::WindowEntry entry;
    entry.name = QLatin1String(WindowName);
    entry.factory = [](QWidget* parent) -> QWidget* { return new BasicTune(parent); };
    entry.menu.menu = vm::app::Menu::Windows;
    entry.menu.position = 3040;
    entry.menu.key = QStringLiteral("mnuTune");
    entry.menu.caption = vm::res::Str(304);
    entry.menu.rule = vm::app::ItemRule::Reader;
    entry.button.bar = vm::app::Toolbar::View;
    entry.button.position = 40;
    entry.button.key = QStringLiteral("tune");
    entry.button.caption = vm::res::Str(1503);
    entry.button.tooltip = vm::res::Str(1521);
    entry.button.image = QStringLiteral("tune");
    entry.button.rule = vm::app::ItemRule::Reader;
    entry.reopensAtStart = true;
    return entry;
}

void BasicTune::buildGrids() {
    m_level = vm::app::firmwareLevel();
    m_rows = tuneRows(m_level);
    const int groups = tuneGroupCount(m_level);
    hideEditors();
    {
        const QSignalBlocker block(m_paramSelect);
        m_paramSelect->clear();
        for (int g = 0; g < groups; ++g)
            m_paramSelect->addItem(vm::res::Str(kGroups[g].resource));
    }
    for (QTableWidget* grid : m_grids) {
        m_stack->removeWidget(grid);
        delete grid;
    }
    m_grids.clear();
    for (int g = 0; g < groups; ++g) {
        auto* grid = new QTableWidget(0, 2, m_stack);
        grid->setObjectName(QStringLiteral("Grid(%1)").arg(g));
        grid->setAccessibleName(vm::res::Str(kGroups[g].resource));
        grid->horizontalHeader()->hide();
        grid->verticalHeader()->hide();
        grid->setColumnWidth(0, 150);
        grid->setColumnWidth(1, 150);
        grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
        grid->setSelectionMode(QAbstractItemView::SingleSelection);
        connect(grid, &QTableWidget::cellClicked, this, [this](int row, int column) {
            if (column == 1)
                editCell(row);
        });
        connect(grid, &QTableWidget::cellActivated, this, [this](int row, int) { editCell(row); });
        connect(grid->verticalScrollBar(), &QScrollBar::valueChanged, this, &BasicTune::placeEditor);
        connect(grid->horizontalScrollBar(), &QScrollBar::valueChanged, this, &BasicTune::placeEditor);
        m_grids.push_back(grid);
        m_stack->addWidget(grid);
    }
    for (const TuneRow& row : m_rows) {
        QTableWidget* grid = m_grids[size_t(row.group)];
        const int r = grid->rowCount();
        grid->insertRow(r);
        auto* label = new QTableWidgetItem(row.label);
        label->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        label->setFlags(Qt::ItemIsEnabled);
        grid->setItem(r, 0, label);
        auto* value = new QTableWidgetItem;
        value->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        grid->setItem(r, 1, value);
        grid->setRowHeight(r, m_combo->sizeHint().height());
    }
    // Every label read whole ("Min X Dimension (MILS*10)" would lose its unit at the old width).
    for (QTableWidget* grid : m_grids) {
        grid->resizeColumnToContents(0);
        grid->setColumnWidth(0, std::max(150, grid->columnWidth(0)));
    }
    m_stack->setCurrentIndex(0);
}

int BasicTune::currentGroup() const {
    return m_paramSelect->currentIndex();
}

void BasicTune::selectGroup(int group) {
    m_paramSelect->setCurrentIndex(group);
}

QTableWidget* BasicTune::grid(int group) const {
    return group >= 0 && group < int(m_grids.size()) ? m_grids[size_t(group)] : nullptr;
}

const TuneRow* BasicTune::rowAt(int group, int row) const {
    QTableWidget* g = grid(group);
    if (!g || row < 0 || row >= g->rowCount())
        return nullptr;
    // Rows are found by their label within the group, as the grid shows them.
    const QString label = g->item(row, 0)->text();
    for (const TuneRow& r : m_rows)
        if (r.group == group && r.label == label)
            return &r;
    return nullptr;
}

bool BasicTune::shown(const TuneRow& row) const {
    const bool lateRow = row.name == QLatin1String("CONTRAST_REPORT") ||
                         row.name == QLatin1String("CELL_UNIT_REPORT") ||
                         row.name == QLatin1String("APERTURE");
    return !lateRow || m_level >= vm::link::level::ReportTuning;
}

QStringList BasicTune::parametersToLoad() const {
    // Each parameter once, in row order; the barcode summary reads "BARCODE ENABLE" itself.
    QStringList names;
    for (const TuneRow& row : m_rows)
        if (row.editor != TuneRow::Editor::Barcodes && shown(row) && !names.contains(row.name))
            names << row.name;
    return names;
}

void BasicTune::loadParameters() {
    if (vm::app::firmwareLevel() != m_level)
        buildGrids();
    hideEditors();
    SettingsWindow::loadParameters();
    if (!isConnected())
        return;
    m_barcodeSummary = readerBarcodeSummary(connection()->Response());
    if (!notRead().isEmpty())
        vm::app::showMessage(this, QStringLiteral("Unexpected Connection Error"));
}

void BasicTune::refresh() {
    showValues();
}

void BasicTune::showValues() {
    const bool connected = isConnected();
    std::vector<int> next(m_grids.size(), 0);
    for (const TuneRow& row : m_rows) {
        QTableWidget* g = m_grids[size_t(row.group)];
        const int r = next[size_t(row.group)]++;
        QTableWidgetItem* value = g->item(r, 1);
        // A row the reader did not answer keeps what it showed, greyed, and opens no editor.
        const bool read = readable(row);
        for (int column : {0, 1}) {
            QTableWidgetItem* item = g->item(r, column);
            item->setFlags(read ? item->flags() | Qt::ItemIsEnabled : item->flags() & ~Qt::ItemIsEnabled);
            item->setToolTip(read ? QString() : QStringLiteral("Not read from the camera: %1").arg(row.name));
        }
        if (!connected || !shown(row))
            value->setText(QString());
        else if (row.editor == TuneRow::Editor::Barcodes)
            value->setText(m_barcodeSummary.isEmpty() ? QStringLiteral("NONE") : m_barcodeSummary);
        else if (read)
            value->setText(parameters().GetParameter(row.name).Field(row.field));
    }
}

// Connected, a row shows and edits only what the reader answered (the barcode row reads
// its own).
bool BasicTune::readable(const TuneRow& row) const {
    return !isConnected() || row.editor == TuneRow::Editor::Barcodes || (shown(row) && wasRead(row.name));
}

void BasicTune::applyControlState(bool control) {
    m_learnAction->setEnabled(control);
    m_unlearnAction->setEnabled(control);
    if (!control)
        hideEditors();
}

void BasicTune::hideEditors() {
    m_editing = nullptr;
    m_editingRow = -1;
    if (m_combo)
        m_combo->hide();
    if (m_edit)
        m_edit->hide();
}

void BasicTune::editCell(int row) {
    if (!hasControl())
        return;
    hideEditors();
    const int group = currentGroup();
    const TuneRow* entry = rowAt(group, row);
    QTableWidget* g = grid(group);
    if (!entry || !g || !readable(*entry))
        return;
    if (entry->editor == TuneRow::Editor::Barcodes) {
        vm::app::windows().open(QStringLiteral("Symbology"), vm::app::mainWindow());
        return;
    }
    const QString current = g->item(row, 1)->text();
    m_editing = entry;
    m_editingRow = row;
    if (entry->editor == TuneRow::Editor::List) {
        m_combo->clear();
        m_combo->addItems(entry->items);
        placeEditor();
        const int index = entry->items.indexOf(current);
        if (index >= 0)
            m_combo->setCurrentIndex(index);
        m_combo->show();
        m_combo->setFocus();
    } else {
        m_edit->setText(current);
        placeEditor();
        m_edit->show();
        m_edit->setFocus();
        m_edit->selectAll();
    }
}

// The editors stay children of the window, laid over the value cell: inside the grid's
// viewport they would be out of reach of screen readers and UI automation, which see a
// grid's cells only. They follow the cell when the grid scrolls or the window is resized.
void BasicTune::placeEditor() {
    QTableWidget* g = grid(currentGroup());
    QWidget* editor = m_editing && m_editing->editor == TuneRow::Editor::List ? static_cast<QWidget*>(m_combo)
                                                                              : static_cast<QWidget*>(m_edit);
    if (!m_editing || !g || m_editingRow < 0 || !g->item(m_editingRow, 1))
        return;
    const QRect cell = g->visualItemRect(g->item(m_editingRow, 1));
    if (!g->viewport()->rect().intersects(cell)) {
        editor->hide();
        return;
    }
    const int height = editor == m_combo ? m_combo->sizeHint().height() : cell.height();
    editor->setGeometry(QRect(g->viewport()->mapTo(this, cell.topLeft()), QSize(cell.width(), height)));
    editor->raise();
    editor->show();
}

void BasicTune::resizeEvent(QResizeEvent* event) {
    SettingsWindow::resizeEvent(event);
    placeEditor();
}

bool BasicTune::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_edit && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            // Enter commits and hides the box here. Passed on, it would reach the grid, whose
            // activation opens the box over the row again; leaving that box would send the
            // row's value once more, refused or not.
            editCommitted();
            return true;
        }
    }
    return SettingsWindow::eventFilter(watched, event);
}

void BasicTune::comboChosen(int index) {
    if (!m_editing || index < 0 || !hasControl())
        return;
    const TuneRow row = *m_editing;
    parameters().GetParameter(row.name).SetField(row.field, m_combo->itemText(index));
    apply();
    showValues();
}

void BasicTune::editCommitted() {
    if (!m_editing || !hasControl())
        return;
    const TuneRow row = *m_editing;
    const qint64 value = std::clamp<qint64>(leadingNumber(m_edit->text()), 0, 99999);
    m_edit->setText(QString::number(value));
    QString refusal;
    Bounds bounds{};
    if (row.name == kTimeout) {
        if (value > 9999)
            refusal = QStringLiteral("Value out of range!");
    } else if (boundsOf(row, &bounds)) {
        const qint64 other = parameters().GetParameter(row.name).Field(bounds.pairField).toLongLong();
        if (bounds.isMinimum ? value >= other : value <= other)
            refusal = QStringLiteral("Max is less than Min!");
        else if (value < bounds.min || value > bounds.max)
            refusal = QStringLiteral("Value out of range!");
    }
    if (!refusal.isEmpty()) {
        hideEditors();
        vm::app::showMessage(this, refusal);
        showValues();
        return;
    }
    parameters().GetParameter(row.name).SetField(row.field, QString::number(value));
    hideEditors();
    apply();
    connection()->BroadcastMessage(objectName(), QLatin1String(vm::link::broadcast::UpdateTimeout),
                                   QString());
    showValues();
}

void BasicTune::learnToggled(bool down) {
    if (m_releasingLearn || updating())
        return;
    if (!hasControl()) {
        const QSignalBlocker block(m_learnAction);
        m_learnAction->setChecked(false);
        return;
    }
    connection()->SendCommand(down ? QStringLiteral("LEARN BOTH") : QStringLiteral("LEARNCANCEL"),
                              kCommandTimeoutMs);
}

void BasicTune::unlearnClicked() {
    if (!hasControl())
        return;
    connection()->SendCommand(QStringLiteral("UNLEARN"), kCommandTimeoutMs);
    connection()->BroadcastMessage(objectName(), QLatin1String(vm::link::broadcast::Unlearn), QString());
    m_updateTimer.start();
}

void BasicTune::newRecord(const vm::link::Record& record) {
    if (!record.HasLearnStatus())
        return;
    m_learnStatus = record.LearnStatus();
    m_learnTimer.start();
}

void BasicTune::broadcastReceived(const QString& message, const QString&) {
    if (message == QLatin1String(vm::link::broadcast::Unlearn) ||
        message == QLatin1String(vm::link::broadcast::ScheduleUpdate)) {
        if (message == QLatin1String(vm::link::broadcast::Unlearn) || isConnected())
            m_updateTimer.start();
    } else if (message == QLatin1String(vm::link::broadcast::UpdateBarcodes)) {
        if (isConnected()) {
            m_barcodeSummary = readerBarcodeSummary(connection()->Response());
            showValues();
        }
    } else if (message == QLatin1String(vm::link::broadcast::UpdateTimeout)) {
        if (isConnected() && load(kTimeout))
            showValues();
    } else if (message == QLatin1String(vm::link::broadcast::Calibrated) ||
               message == QLatin1String(vm::link::broadcast::Uncalibrated)) {
        m_calibrated = message == QLatin1String(vm::link::broadcast::Calibrated);
        showValues();
    }
}

} // namespace vm::settings
