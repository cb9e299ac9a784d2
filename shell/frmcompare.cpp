#include "shell/frmcompare.h"

#include "app/applyparameters.h"
#include "app/prompts.h"
#include "app/windowroutines.h"
#include "link/configuration.h"
#include "link/connection.h"
#include "link/parameterset.h"
#include "link/vocabulary.h"
#include "resources/strings.h"
#include "shell/configcommands.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace vm::shell {

namespace {

const QColor kIdentityBackground(255, 240, 200);

QString fieldText(int field) {
    return field < 0 ? QStringLiteral("(whole line)") : QString::number(field);
}

} // namespace

frmCompare::frmCompare(QWidget* parent)
    : QDialog(parent) {
    setObjectName(QLatin1String(WindowName));
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);
    setSizeGripEnabled(true);
    setWindowTitle(vm::res::Str(20191));

    m_conn = new vm::link::SettingsConnection(this);

    m_mode = new QComboBox(this);
    m_mode->setObjectName(QStringLiteral("cmbMode"));
    m_mode->addItems({vm::res::Str(20192), vm::res::Str(20193), vm::res::Str(20194)});
    m_mode->setAccessibleName(vm::res::Str(20195));
    auto* modeLabel = new QLabel(vm::res::Str(20196), this);
    modeLabel->setBuddy(m_mode);

    m_leftLabel = new QLabel(vm::res::Str(20197), this);
    m_leftFile = new QLineEdit(this);
    m_leftFile->setObjectName(QStringLiteral("txtLeftFile"));
    m_leftFile->setAccessibleName(vm::res::Str(20198));
    m_leftLabel->setBuddy(m_leftFile);
    m_leftBrowse = new QPushButton(vm::res::Str(20199), this);
    m_leftBrowse->setObjectName(QStringLiteral("btnLeftBrowse"));
    m_leftBrowse->setAccessibleName(vm::res::Str(20200));

    m_rightLabel = new QLabel(vm::res::Str(20201), this);
    m_rightFile = new QLineEdit(this);
    m_rightFile->setObjectName(QStringLiteral("txtRightFile"));
    m_rightFile->setAccessibleName(vm::res::Str(20202));
    m_rightLabel->setBuddy(m_rightFile);
    m_rightBrowse = new QPushButton(vm::res::Str(20203), this);
    m_rightBrowse->setObjectName(QStringLiteral("btnRightBrowse"));
    m_rightBrowse->setAccessibleName(vm::res::Str(20204));

    m_compare = new QPushButton(vm::res::Str(20205), this);
    m_compare->setObjectName(QStringLiteral("btnCompare"));
    m_compare->setAccessibleName(vm::res::Str(20206));
    m_compare->setDefault(true);

    m_identity = new QCheckBox(vm::res::Str(20207), this);
    m_identity->setObjectName(QStringLiteral("chkIdentity"));
    m_identity->setAccessibleName(vm::res::Str(20208));

    m_summary = new QLabel(this);
    m_summary->setObjectName(QStringLiteral("lblSummary"));

    m_table = new QTableWidget(0, ColumnCount, this);
    m_table->setObjectName(QStringLiteral("grdDifferences"));
    m_table->setAccessibleName(vm::res::Str(20209));
    m_table->setHorizontalHeaderLabels(
        {vm::res::Str(20210), vm::res::Str(20211), vm::res::Str(20212), vm::res::Str(101)});
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->verticalHeader()->setVisible(false);
    m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    m_table->horizontalHeader()->setStretchLastSection(true);

    m_send = new QPushButton(vm::res::Str(20213), this);
    m_send->setObjectName(QStringLiteral("btnSend"));
    m_send->setAccessibleName(vm::res::Str(20214));
    m_close = new QPushButton(vm::res::Str(20215), this);
    m_close->setObjectName(QStringLiteral("btnClose"));
    m_close->setAccessibleName(vm::res::Str(20215));

    auto* grid = new QGridLayout;
    grid->addWidget(modeLabel, 0, 0);
    grid->addWidget(m_mode, 0, 1, 1, 2);
    grid->addWidget(m_leftLabel, 1, 0);
    grid->addWidget(m_leftFile, 1, 1);
    grid->addWidget(m_leftBrowse, 1, 2);
    grid->addWidget(m_rightLabel, 2, 0);
    grid->addWidget(m_rightFile, 2, 1);
    grid->addWidget(m_rightBrowse, 2, 2);
    grid->setColumnStretch(1, 1);
    auto* options = new QHBoxLayout;
    options->addWidget(m_identity);
    options->addStretch(1);
    options->addWidget(m_compare);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_summary, 1);
    buttons->addWidget(m_send);
    buttons->addWidget(m_close);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(options);
    layout->addWidget(m_table, 1);
    layout->addLayout(buttons);

    connect(m_mode, &QComboBox::currentIndexChanged, this, &frmCompare::updateControls);
    connect(m_leftBrowse, &QPushButton::clicked, this, [this] { browse(m_leftFile); });
    connect(m_rightBrowse, &QPushButton::clicked, this, [this] { browse(m_rightFile); });
    connect(m_compare, &QPushButton::clicked, this, &frmCompare::Compare);
    connect(m_send, &QPushButton::clicked, this, &frmCompare::SendChecked);
    connect(m_close, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_identity, &QCheckBox::toggled, this, &frmCompare::fillTable);
    connect(m_table, &QTableWidget::itemChanged, this, &frmCompare::updateControls);
    connect(m_conn, &vm::link::Connection::OnControlStatusChanged, this, &frmCompare::updateControls);
    // Another reader's configuration is not the one compared: start over.
    connect(m_conn, &vm::link::Connection::OnConnectionReset, this, [this] {
        m_rows.clear();
        fillTable();
    });

    resize(720, 480);
    updateControls();
}

frmCompare::~frmCompare() = default;

void frmCompare::setMode(Mode mode) {
    m_mode->setCurrentIndex(int(mode));
}

frmCompare::Mode frmCompare::mode() const {
    return Mode(m_mode->currentIndex());
}

void frmCompare::setLeftFile(const QString& path) {
    m_leftFile->setText(path);
}

void frmCompare::setRightFile(const QString& path) {
    m_rightFile->setText(path);
}

void frmCompare::browse(QLineEdit* target) {
    const QString path = configcommands::chooseFile(this, false);
    if (!path.isEmpty())
        target->setText(QDir::toNativeSeparators(path));
}

bool frmCompare::readSide(bool left, QStringList* lines, QString* label) {
    QString error;
    const bool camera = left && mode() != Mode::TwoFiles;
    const bool defaults = !left && mode() == Mode::CameraAndDefaults;
    if (camera || defaults) {
        if (!m_conn->Connected()) {
            vm::app::showMessage(this, QStringLiteral("No Connection To Camera"), vm::app::PromptButtons::Ok,
                                 vm::app::PromptIcon::Exclamation);
            return false;
        }
        bool read = false;
        if (camera) {
            read = vm::link::readReaderConfiguration(m_conn->Response(), lines, &error);
        } else {
            // The factory listing ends like the configuration listing, and is as long.
            read = vm::link::readReaderListing(m_conn->Response(), QStringLiteral("SHOW DEFAULTS"), lines,
                                               &error);
        }
        if (!read) {
            vm::app::showMessage(this, QStringLiteral("The camera did not send its configuration: ") + error,
                                 vm::app::PromptButtons::Ok, vm::app::PromptIcon::Exclamation);
            return false;
        }
        *label = camera ? vm::res::Str(20212) : vm::res::Str(20216);
        return true;
    }
    const QString path = (left ? m_leftFile : m_rightFile)->text().trimmed();
    if (path.isEmpty()) {
        vm::app::showMessage(this, QStringLiteral("Choose a configuration file first."),
                             vm::app::PromptButtons::Ok, vm::app::PromptIcon::Exclamation);
        return false;
    }
    if (!vm::link::readConfigurationFile(QDir::fromNativeSeparators(path), lines, &error)) {
        vm::app::showMessage(this, error, vm::app::PromptButtons::Ok, vm::app::PromptIcon::Critical);
        return false;
    }
    *label = QFileInfo(path).fileName();
    return true;
}

bool frmCompare::Compare() {
    QStringList left, right;
    QString leftName, rightName;
    if (!readSide(true, &left, &leftName) || !readSide(false, &right, &rightName))
        return false;
    m_leftName = leftName;
    m_rightName = rightName;
    m_rows = vm::link::compareConfigurations(left, right);
    fillTable();
    return true;
}

void frmCompare::fillTable() {
    const QSignalBlocker block(m_table);
    m_table->setHorizontalHeaderLabels({vm::res::Str(20210), vm::res::Str(20211),
                                        m_leftName.isEmpty() ? vm::res::Str(20212) : m_leftName,
                                        m_rightName.isEmpty() ? vm::res::Str(101) : m_rightName});
    m_table->setRowCount(int(m_rows.size()));
    const bool identityAllowed = m_identity->isChecked();
    for (int row = 0; row < m_rows.size(); ++row) {
        const vm::link::ConfigDifference& d = m_rows.at(row);
        auto* name = new QTableWidgetItem(d.identity ? d.name + vm::res::Str(20217) : d.name);
        Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
        // A row is sent from the file to the camera; one the file lacks has nothing to send.
        const bool sendable = !d.rightLine.isEmpty() && (!d.identity || identityAllowed);
        if (sendable)
            flags |= Qt::ItemIsUserCheckable;
        name->setFlags(flags);
        name->setCheckState(Qt::Unchecked);
        const QString values[] = {QString(), fieldText(d.field), d.field < 0 ? d.leftLine : d.left,
                                  d.field < 0 ? d.rightLine : d.right};
        m_table->setItem(row, ColParameter, name);
        for (int c = ColField; c < ColumnCount; ++c) {
            auto* item = new QTableWidgetItem(values[c]);
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
            m_table->setItem(row, c, item);
        }
        if (d.identity)
            for (int c = 0; c < ColumnCount; ++c)
                m_table->item(row, c)->setBackground(kIdentityBackground);
    }
    m_table->resizeColumnsToContents();
    m_summary->setText(m_rows.isEmpty() && !m_leftName.isEmpty() ? vm::res::Str(20218)
                       : m_rows.size() == 1                      ? vm::res::Str(20318)
                                                                 : vm::res::Str(20319).arg(m_rows.size()));
    updateControls();
}

void frmCompare::setRowChecked(int row, bool checked) {
    QTableWidgetItem* item = m_table->item(row, ColParameter);
    if (item && (item->flags() & Qt::ItemIsUserCheckable))
        item->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
}

bool frmCompare::SendChecked() {
    if (mode() == Mode::TwoFiles || !m_conn->HasControl())
        return false;
    vm::link::ParameterSet set;
    int chosen = 0;
    for (int row = 0; row < m_rows.size(); ++row) {
        const QTableWidgetItem* item = m_table->item(row, ColParameter);
        if (!item || item->checkState() != Qt::Checked)
            continue;
        const vm::link::ConfigDifference& d = m_rows.at(row);
        if (d.identity && !m_identity->isChecked())
            continue;
        if (vm::link::takeDifference(set, d))
            ++chosen;
    }
    if (chosen == 0)
        return false;
    QString error;
    const bool ok = vm::app::ApplyParameters(m_conn->Response(), set, &error);
    const QString sender = QLatin1String(WindowName);
    namespace bc = vm::link::broadcast;
    for (const char* message :
         {bc::UpdatePhoto, bc::UpdateIO, bc::UpdateTimeout, bc::UpdateLaser, bc::UpdateBarcodes})
        m_conn->BroadcastMessage(sender, QLatin1String(message), QString());
    if (!ok)
        vm::app::showMessage(
            this, QStringLiteral("The camera did not accept these settings:") + QLatin1String("\r\n") + error,
            vm::app::PromptButtons::Ok, vm::app::PromptIcon::Exclamation);
    // The table shows the reader again; with the link gone the failure has been told once, and
    // the rows stay as they were until the reader is back.
    if (m_conn->Connected())
        Compare();
    return ok;
}

void frmCompare::updateControls() {
    const Mode m = mode();
    const bool twoFiles = m == Mode::TwoFiles;
    m_leftLabel->setEnabled(twoFiles);
    m_leftFile->setEnabled(twoFiles);
    m_leftBrowse->setEnabled(twoFiles);
    const bool rightFile = m != Mode::CameraAndDefaults;
    m_rightLabel->setEnabled(rightFile);
    m_rightFile->setEnabled(rightFile);
    m_rightBrowse->setEnabled(rightFile);
    m_rightLabel->setText(twoFiles ? vm::res::Str(20219) : vm::res::Str(20201));
    bool anyChecked = false;
    for (int row = 0; row < m_table->rowCount() && !anyChecked; ++row)
        anyChecked = m_table->item(row, ColParameter)->checkState() == Qt::Checked;
    m_send->setEnabled(!twoFiles && m_conn->HasControl() && anyChecked);
}

void frmCompare::done(int result) {
    if (!m_unloaded) {
        m_unloaded = true;
        vm::app::SaveWindowMetrics(this);
        vm::app::windows().forget(this);
    }
    QDialog::done(result);
}

vm::app::WindowEntry frmCompare::windowEntry() {
    vm::app::WindowEntry registered;
    registered.name = QLatin1String(WindowName);
    registered.factory = [](QWidget* parent) -> QWidget* { return new frmCompare(parent); };
    registered.menu.menu = vm::app::Menu::File;
    // Between loading a file (1080) and the PID copies (1090).
    registered.menu.position = 1085;
    registered.menu.group = 1;
    registered.menu.key = QStringLiteral("mnuCompareConfiguration");
    registered.menu.caption = vm::res::Str(20220);
    registered.menu.rule = vm::app::ItemRule::Always;
    return registered;
}

} // namespace vm::shell
