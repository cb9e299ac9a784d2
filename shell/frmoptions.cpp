#include "shell/frmoptions.h"

#include "app/displaypreferences.h"
#include "app/imagefiles.h"
#include "app/prompts.h"
#include "app/readhistory.h"
#include "app/settingsstore.h"
#include "display/colorvalue.h"
#include "resources/strings.h"
#include "tools/dlgselectfolder.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QDir>
#include <QFontDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace vm::shell {

namespace {

frmOptions::ColorChooser& colorChooser() {
    static frmOptions::ColorChooser chooser = [](const QColor& current,
                                                 QWidget* parent) -> std::optional<QColor> {
        QColorDialog dialog(current, parent);
        if (vm::app::runDialog(dialog) != QDialog::Accepted)
            return std::nullopt;
        return dialog.selectedColor();
    };
    return chooser;
}

frmOptions::FontChooser& fontChooser() {
    static frmOptions::FontChooser chooser = [](const QFont& current,
                                                QWidget* parent) -> std::optional<QFont> {
        QFontDialog dialog(current, parent);
        if (vm::app::runDialog(dialog) != QDialog::Accepted)
            return std::nullopt;
        return dialog.selectedFont();
    };
    return chooser;
}

frmOptions::FolderChooser& folderChooser() {
    static frmOptions::FolderChooser chooser = [](const QString& start, QWidget* parent) {
        vm::tools::dlgSelectFolder dialog(parent);
        dialog.SetInitialFolder(start);
        vm::app::runDialog(dialog);
        return dialog.Folder();
    };
    return chooser;
}

bool endsWithSeparator(const QString& path) {
    return path.endsWith(QLatin1Char('\\')) || path.endsWith(QLatin1Char('/'));
}

QString withSeparator(const QString& folder) {
    if (endsWithSeparator(folder))
        return folder;
#ifdef Q_OS_WIN
    return folder + QLatin1Char('\\');
#else
    return folder + QLatin1Char('/');
#endif
}

// A stored rate index: 0 is the maximum (0), i is 2 to the power i - 1.
int rateFromIndex(int index) {
    if (index <= 0)
        return index < 0 ? -1 : 0;
    return 1 << (index - 1);
}

QLabel* buddyLabel(const QString& text, QWidget* buddy, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setBuddy(buddy);
    return label;
}

void paintBackground(QLineEdit* box, quint32 colour) {
    QPalette palette = box->palette();
    palette.setColor(QPalette::Base, vm::display::ToQColor(colour));
    box->setPalette(palette);
}

} // namespace

void frmOptions::setChoosers(ColorChooser color, FontChooser font, FolderChooser folder) {
    if (color)
        colorChooser() = std::move(color);
    if (font)
        fontChooser() = std::move(font);
    if (folder)
        folderChooser() = std::move(folder);
}

frmOptions::frmOptions(QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("frmOptions"));
    setWindowTitle(vm::res::Str(1309));

    m_tabs = new QTabWidget(this);
    m_tabs->setObjectName(QStringLiteral("tbsOptions"));
    auto* connectivity = new QWidget(m_tabs);
    auto* general = new QWidget(m_tabs);
    auto* display = new QWidget(m_tabs);
    auto* history = new QWidget(m_tabs);
    buildConnectivityTab(connectivity);
    buildGeneralTab(general);
    buildDisplayTab(display);
    buildHistoryTab(history);
    m_tabs->addTab(connectivity, vm::res::Str(1301));
    m_tabs->addTab(general, vm::res::Str(1302));
    m_tabs->addTab(display, vm::res::Str(1303));
    m_tabs->addTab(history, vm::res::Str(20649));
    m_tabs->setAccessibleName(windowTitle());

    m_cmdOK = new QPushButton(vm::res::Str(51), this);
    m_cmdOK->setObjectName(QStringLiteral("cmdOK"));
    m_cmdOK->setDefault(true);
    m_cmdCancel = new QPushButton(vm::res::Str(52), this);
    m_cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    connect(m_cmdOK, &QPushButton::clicked, this, &frmOptions::accept);
    connect(m_cmdCancel, &QPushButton::clicked, this, &frmOptions::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_cmdOK);
    buttons->addWidget(m_cmdCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_tabs);
    layout->addLayout(buttons);

    // Ctrl+Tab steps through the tabs wherever the focus is inside the dialog.
    const QList<QWidget*> children = findChildren<QWidget*>();
    for (QWidget* child : children)
        child->installEventFilter(this);

    LoadPreferences();
}

void frmOptions::buildConnectivityTab(QWidget* page) {
    m_cmbReportRate = new QComboBox(page);
    m_cmbReportRate->setObjectName(QStringLiteral("cmbReportRate"));
    m_cmbReportRate->addItems({vm::res::Str(20223), vm::res::Str(20224), vm::res::Str(20225),
                               vm::res::Str(20226), vm::res::Str(20227)});
    m_cmbImageRate = new QComboBox(page);
    m_cmbImageRate->setObjectName(QStringLiteral("cmbImageRate"));
    m_cmbImageRate->addItems(
        {vm::res::Str(20223), vm::res::Str(20224), vm::res::Str(20225), vm::res::Str(20228)});
    m_optMaxInControl = new QCheckBox(vm::res::Str(1306), page);
    m_optMaxInControl->setObjectName(QStringLiteral("optMaxInControl"));

    auto* form = new QFormLayout(page);
    form->addRow(buddyLabel(vm::res::Str(1304), m_cmbReportRate, page), m_cmbReportRate);
    form->addRow(buddyLabel(vm::res::Str(1305), m_cmbImageRate, page), m_cmbImageRate);
    form->addRow(m_optMaxInControl);

    connect(m_cmbReportRate, &QComboBox::activated, this, &frmOptions::markChanged);
    connect(m_cmbImageRate, &QComboBox::activated, this, &frmOptions::markChanged);
    connect(m_optMaxInControl, &QCheckBox::clicked, this, &frmOptions::markChanged);
}

void frmOptions::buildGeneralTab(QWidget* page) {
    m_cmbImgSave = new QComboBox(page);
    m_cmbImgSave->setObjectName(QStringLiteral("cmbImgSave"));
    m_cmbImgSave->addItems({vm::res::Str(20229), vm::res::Str(20230)});
    m_txtImgDirectory = new QLineEdit(page);
    m_txtImgDirectory->setObjectName(QStringLiteral("txtImgDirectory"));
    m_btnBrowse = new QPushButton(QStringLiteral("..."), page);
    m_btnBrowse->setObjectName(QStringLiteral("btnBrowse"));
    m_btnBrowse->setAccessibleName(vm::res::Str(20231));

    auto* directoryRow = new QHBoxLayout;
    directoryRow->addWidget(m_txtImgDirectory, 1);
    directoryRow->addWidget(m_btnBrowse);
    auto* form = new QFormLayout(page);
    form->addRow(buddyLabel(vm::res::Str(1307), m_cmbImgSave, page), m_cmbImgSave);
    form->addRow(buddyLabel(vm::res::Str(1308), m_txtImgDirectory, page), directoryRow);

    connect(m_cmbImgSave, &QComboBox::activated, this, &frmOptions::markChanged);
    connect(m_txtImgDirectory, &QLineEdit::textEdited, this, &frmOptions::markChanged);
    connect(m_btnBrowse, &QPushButton::clicked, this, &frmOptions::browse);
}

void frmOptions::buildDisplayTab(QWidget* page) {
    auto makeBox = [page](const char* name, const QString& text) {
        auto* box = new QLineEdit(text, page);
        box->setObjectName(QString::fromLatin1(name));
        box->setReadOnly(true);
        box->setAccessibleName(text);
        return box;
    };
    m_txtPassColor = makeBox("txtPassColor", vm::res::Str(1310));
    m_txtFailColor = makeBox("txtFailColor", vm::res::Str(1311));
    m_txtResultText = makeBox("txtResultText", vm::res::Str(1312));
    m_txtResultText->setAlignment(Qt::AlignCenter);
    m_txtResultText->setMinimumHeight(48);

    m_btnPassColor = new QPushButton(QStringLiteral("..."), page);
    m_btnPassColor->setObjectName(QStringLiteral("btnPassColor"));
    m_btnPassColor->setAccessibleName(vm::res::Str(1310));
    m_btnFailColor = new QPushButton(QStringLiteral("..."), page);
    m_btnFailColor->setObjectName(QStringLiteral("btnFailColor"));
    m_btnFailColor->setAccessibleName(vm::res::Str(1311));
    m_btnFont = new QPushButton(vm::res::Str(20232), page);
    m_btnFont->setObjectName(QStringLiteral("btnFont"));
    m_btnFontColor = new QPushButton(vm::res::Str(20233), page);
    m_btnFontColor->setObjectName(QStringLiteral("btnFontColor"));
    m_topTextCheck = new QCheckBox(vm::res::Str(20234), page);
    m_topTextCheck->setObjectName(QStringLiteral("TopTextCheck"));

    auto* grid = new QGridLayout(page);
    grid->addWidget(m_txtPassColor, 0, 0);
    grid->addWidget(m_btnPassColor, 0, 1);
    grid->addWidget(m_txtFailColor, 1, 0);
    grid->addWidget(m_btnFailColor, 1, 1);
    grid->addWidget(m_txtResultText, 2, 0, 2, 1);
    grid->addWidget(m_btnFont, 2, 1);
    grid->addWidget(m_btnFontColor, 3, 1);
    grid->addWidget(m_topTextCheck, 4, 0, 1, 2);
    grid->setRowStretch(5, 1);

    connect(m_btnPassColor, &QPushButton::clicked, this, &frmOptions::choosePassColor);
    connect(m_btnFailColor, &QPushButton::clicked, this, &frmOptions::chooseFailColor);
    connect(m_btnFontColor, &QPushButton::clicked, this, &frmOptions::chooseFontColor);
    connect(m_btnFont, &QPushButton::clicked, this, &frmOptions::chooseFont);
    connect(m_topTextCheck, &QCheckBox::clicked, this, &frmOptions::markChanged);
}

void frmOptions::buildHistoryTab(QWidget* page) {
    m_chkRecordHistory = new QCheckBox(vm::res::Str(20650), page);
    m_chkRecordHistory->setObjectName(QStringLiteral("chkRecordHistory"));
    m_spnKeepDays = new QSpinBox(page);
    m_spnKeepDays->setObjectName(QStringLiteral("spnKeepDays"));
    m_spnKeepDays->setRange(1, 3650);
    m_spnKeepDays->setSuffix(vm::res::Str(20652));
    m_spnKeepDays->setAccessibleName(
        QString(vm::res::Str(20651)).remove(QLatin1Char('&')).remove(QLatin1Char(':')));
    m_spnKeepMegabytes = new QSpinBox(page);
    m_spnKeepMegabytes->setObjectName(QStringLiteral("spnKeepMegabytes"));
    m_spnKeepMegabytes->setRange(10, 1024 * 1024);
    m_spnKeepMegabytes->setSingleStep(100);
    m_spnKeepMegabytes->setSuffix(vm::res::Str(20654));
    m_spnKeepMegabytes->setAccessibleName(
        QString(vm::res::Str(20653)).remove(QLatin1Char('&')).remove(QLatin1Char(':')));
    auto* file = new QLabel(QDir::toNativeSeparators(app::historyFile()), page);
    file->setObjectName(QStringLiteral("lblHistoryFile"));
    file->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    file->setAccessibleName(vm::res::Str(20655));

    auto* form = new QFormLayout(page);
    form->addRow(m_chkRecordHistory);
    form->addRow(buddyLabel(vm::res::Str(20651), m_spnKeepDays, page), m_spnKeepDays);
    form->addRow(buddyLabel(vm::res::Str(20653), m_spnKeepMegabytes, page), m_spnKeepMegabytes);
    form->addRow(new QLabel(vm::res::Str(20655), page), file);

    connect(m_chkRecordHistory, &QCheckBox::clicked, this, &frmOptions::markChanged);
    connect(m_spnKeepDays, &QSpinBox::valueChanged, this, &frmOptions::markChanged);
    connect(m_spnKeepMegabytes, &QSpinBox::valueChanged, this, &frmOptions::markChanged);
}

void frmOptions::LoadPreferences() {
    const app::SettingsStore& store = app::settings();
    // A stored rate the lists do not offer is taken as their first, "Maximum", so that what the
    // reader is asked for is what the lists show.
    m_storedImageRate = int(store.number(app::keys::ImageRate));
    if (m_storedImageRate != -1 &&
        (m_storedImageRate < 0 || m_storedImageRate >= m_cmbImageRate->count() - 1))
        m_storedImageRate = 0;
    m_storedReportRate = int(store.number(app::keys::ReportRate));
    if (m_storedReportRate < 0 || m_storedReportRate >= m_cmbReportRate->count())
        m_storedReportRate = 0;
    m_maxInControl = store.flag(app::keys::UseMaxInControl);
    m_imageSaveFormat = store.text(app::keys::ImageSaveFormat).toUpper();
    m_passColor = quint32(store.number(app::keys::PassColor));
    m_failColor = quint32(store.number(app::keys::FailColor));
    m_fontColor = quint32(store.number(app::keys::FontColor));
    m_topTextMode = store.flag(app::keys::TopTextMode);
    m_recordHistory = store.flag(app::keys::RecordHistory);
    m_keepDays = int(std::clamp<qint64>(store.number(app::keys::HistoryKeepDays), 1, 3650));
    m_keepMegabytes = int(std::clamp<qint64>(store.number(app::keys::HistoryKeepMegabytes), 10, 1024 * 1024));
    m_resultFont = app::resultFontFromText(store.text(app::keys::ResultFont));
    fillControls();
}

void frmOptions::fillControls() {
    m_updating = true;
    m_cmbImageRate->setCurrentIndex(m_storedImageRate == -1 ? m_cmbImageRate->count() - 1
                                                            : m_storedImageRate);
    m_cmbReportRate->setCurrentIndex(m_storedReportRate);
    m_optMaxInControl->setChecked(m_maxInControl);
    m_topTextCheck->setChecked(m_topTextMode);
    m_chkRecordHistory->setChecked(m_recordHistory);
    m_spnKeepDays->setValue(m_keepDays);
    m_spnKeepMegabytes->setValue(m_keepMegabytes);
    m_cmbImgSave->setCurrentIndex(m_imageSaveFormat == QLatin1String("BMP") ? 1 : 0);
    showImageFolder(app::imageSaveDirectory());
    m_editPassColor = m_passColor;
    m_editFailColor = m_failColor;
    m_editFontColor = m_fontColor;
    m_editFont = m_resultFont;
    showColors();
    m_tabs->setCurrentIndex(0);
    m_changed = false;
    m_updating = false;
}

void frmOptions::showColors() {
    paintBackground(m_txtPassColor, m_editPassColor);
    paintBackground(m_txtFailColor, m_editFailColor);
    QPalette palette = m_txtResultText->palette();
    palette.setColor(QPalette::Text, vm::display::ToQColor(m_editFontColor));
    m_txtResultText->setPalette(palette);
    m_txtResultText->setFont(m_editFont);
}

int frmOptions::ImageRate() const {
    return rateFromIndex(m_storedImageRate);
}

int frmOptions::ReportRate() const {
    return rateFromIndex(m_storedReportRate);
}

// The field is made wide enough for the whole folder (up to a limit), so that its
// beginning and its end both show; the tooltip holds it in any case.
void frmOptions::showImageFolder(const QString& folder) {
    m_txtImgDirectory->setText(folder);
    m_txtImgDirectory->setToolTip(folder);
    m_txtImgDirectory->setCursorPosition(0);
    const QFontMetrics metrics(m_txtImgDirectory->font());
    const int wanted = metrics.horizontalAdvance(folder) + 4 * metrics.averageCharWidth();
    m_txtImgDirectory->setMinimumWidth(std::clamp(wanted, metrics.averageCharWidth() * kMinFolderChars,
                                                  metrics.averageCharWidth() * kMaxFolderChars));
}

int frmOptions::exec() {
    LoadPreferences();
    return QDialog::exec();
}

void frmOptions::markChanged() {
    if (!m_updating)
        m_changed = true;
}

void frmOptions::choosePassColor() {
    if (const auto colour = colorChooser()(vm::display::ToQColor(m_editPassColor), this)) {
        m_editPassColor = vm::display::FromQColor(*colour);
        showColors();
        markChanged();
    }
}

void frmOptions::chooseFailColor() {
    if (const auto colour = colorChooser()(vm::display::ToQColor(m_editFailColor), this)) {
        m_editFailColor = vm::display::FromQColor(*colour);
        showColors();
        markChanged();
    }
}

void frmOptions::chooseFontColor() {
    if (const auto colour = colorChooser()(vm::display::ToQColor(m_editFontColor), this)) {
        m_editFontColor = vm::display::FromQColor(*colour);
        showColors();
        markChanged();
    }
}

void frmOptions::chooseFont() {
    if (const auto font = fontChooser()(m_editFont, this)) {
        m_editFont = *font;
        showColors();
        markChanged();
    }
}

void frmOptions::browse() {
    const QString folder = folderChooser()(m_txtImgDirectory->text(), this);
    if (folder.isEmpty())
        return;
    showImageFolder(withSeparator(folder));
    markChanged();
}

void frmOptions::nextTab() {
    m_tabs->setCurrentIndex((m_tabs->currentIndex() + 1) % m_tabs->count());
}

bool frmOptions::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        // Ctrl+Tab with only Ctrl held; Qt reports it as Tab with the control modifier.
        if (key->key() == Qt::Key_Tab && key->modifiers() == Qt::ControlModifier) {
            nextTab();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void frmOptions::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Tab && event->modifiers() == Qt::ControlModifier) {
        nextTab();
        return;
    }
    QDialog::keyPressEvent(event);
}

void frmOptions::accept() {
    if (m_changed) {
        app::SettingsStore& store = app::settings();
        const bool none = m_cmbImageRate->currentIndex() == m_cmbImageRate->count() - 1;
        store.setNumber(app::keys::ImageRate, none ? -1 : m_cmbImageRate->currentIndex());
        store.setNumber(app::keys::ReportRate, m_cmbReportRate->currentIndex());
        store.setFlag(app::keys::UseMaxInControl, m_optMaxInControl->isChecked());

        store.setText(app::keys::ImageSaveFormat,
                      m_cmbImgSave->currentIndex() == 0 ? QStringLiteral("TIF") : QStringLiteral("BMP"));
        store.setText(app::keys::ImageSaveDirectory, m_txtImgDirectory->text());
        app::setImageSaveDirectory(m_txtImgDirectory->text());

        store.setNumber(app::keys::PassColor, m_editPassColor);
        store.setNumber(app::keys::FailColor, m_editFailColor);
        store.setNumber(app::keys::FontColor, m_editFontColor);
        store.setFlag(app::keys::TopTextMode, m_topTextCheck->isChecked());
        store.setText(app::keys::ResultFont, app::resultFontToText(m_editFont));

        store.setFlag(app::keys::RecordHistory, m_chkRecordHistory->isChecked());
        store.setNumber(app::keys::HistoryKeepDays, m_spnKeepDays->value());
        store.setNumber(app::keys::HistoryKeepMegabytes, m_spnKeepMegabytes->value());
        store.Save();

        // The properties answer the new values from now on; Changed stays true for the
        // main window to see.
        const bool changed = m_changed;
        LoadPreferences();
        m_changed = changed;
    }
    QDialog::accept();
}

} // namespace vm::shell
