#include "io/dlgpartqueuesetup.h"

#include "app/programstate.h"
#include "app/prompts.h"
#include "link/connection.h"
#include "link/parameterset.h"
#include "link/vocabulary.h"
#include "resources/strings.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <limits>

namespace vm::io {

namespace {

const QString kPartQ = QStringLiteral("PARTQ");
const QString kPartQFail = QStringLiteral("PARTQFAIL");
const QString kFtp = QStringLiteral("PARTQFTP");
const QString kFtpEx = QStringLiteral("PARTQFTPEX");
const QString kCapacity = QStringLiteral("PARTQCAPACITY");

QString unquoted(const QString& field) {
    if (field.size() >= 2 && field.startsWith(QLatin1Char('"')) && field.endsWith(QLatin1Char('"')))
        return field.mid(1, field.size() - 2);
    return field;
}

bool levelAtLeast(int level) {
    return vm::app::firmwareLevel() >= level;
}

// A whole number of 0 or more, as the operator typed it.
bool wholeNumber(const QString& text, qint64 max, qint64* value) {
    const QString t = text.trimmed();
    if (t.isEmpty())
        return false;
    for (const QChar c : t)
        if (!c.isDigit())
            return false;
    bool ok = false;
    *value = t.toLongLong(&ok);
    return ok && *value <= max;
}

} // namespace

QStringList dlgPartQueueSetup::qualifierWords() {
    return {QStringLiteral("ALL"),
            QStringLiteral("PASSED"),
            QStringLiteral("FAILED"),
            QStringLiteral("VER_GOOD_FAIR_POOR_FAILED"),
            QStringLiteral("VER_GOOD_FAIR_POOR"),
            QStringLiteral("VER_GOOD_FAIR"),
            QStringLiteral("VER_GOOD"),
            QStringLiteral("VER_FAIR"),
            QStringLiteral("VER_POOR"),
            QStringLiteral("VER_FAILED"),
            QStringLiteral("VER_POOR_FAILED"),
            QStringLiteral("VER_FAIR_POOR_FAILED")};
}

QStringList dlgPartQueueSetup::failureWords() {
    return {QStringLiteral("ALL"), QStringLiteral("LOCFL"), QStringLiteral("DECFL"),
            QStringLiteral("MATCHFL"), QStringLiteral("RTE")};
}

dlgPartQueueSetup::dlgPartQueueSetup(QWidget* parent)
    : SettingsWindow(QLatin1String(WindowName), Mode::OkApply, parent) {
    setWindowTitle(vm::res::Str(207));
    setButtonNames(QStringLiteral("btnOK"), QStringLiteral("btnCancel"), QStringLiteral("btnApply"));
    // A modal page of OK and Cancel only.
    applyButton()->hide();
    auto combo = [this](const char* name, const QStringList& items) {
        return vm::settings::namedList(name, items, this);
    };
    auto line = [this](const char* name) { return vm::settings::namedBox(name, this); };
    const QStringList yesNo{vm::res::Str(20344), vm::res::Str(20345)};
    m_onOff = combo("cmbOnOff", {vm::res::Str(20108), vm::res::Str(20107)});
    m_qualify =
        combo("cmbQualify", {vm::res::Str(1542), vm::res::Str(20346), vm::res::Str(20347), vm::res::Str(1106),
                             vm::res::Str(1107), vm::res::Str(1108), vm::res::Str(1109), vm::res::Str(1110),
                             vm::res::Str(1111), vm::res::Str(1112), vm::res::Str(1113), vm::res::Str(1114)});
    m_qualFail = combo("cmbQualFail", {vm::res::Str(1542), vm::res::Str(20348), vm::res::Str(20349),
                                       vm::res::Str(20350), vm::res::Str(20351)});
    m_size = line("txtSize");
    m_saveMethod = combo("cmbSaveMethod", {vm::res::Str(20352), vm::res::Str(20353)});
    m_host = line("txtHost");
    m_path = line("txtPath");
    m_saveResults = combo("cmbSaveResults", yesNo);
    m_saveImages = combo("cmbSaveImg", yesNo);
    m_ftpSize = line("txtFTPSize");
    m_capacity = new QLabel(this);
    m_capacity->setObjectName(QStringLiteral("capacityLabel"));

    auto* grid = new QGridLayout;
    int row = 0;
    auto add = [&](QWidget* control, const QString& caption) {
        QLabel* label = vm::settings::labelFor(control, caption, this);
        grid->addWidget(label, row, 0);
        grid->addWidget(control, row, 1);
        ++row;
        return label;
    };
    add(m_onOff, vm::res::Str(20354));
    add(m_qualify, vm::res::Str(20355));
    add(m_qualFail, vm::res::Str(20356));
    add(m_size, vm::res::Str(20357));
    add(m_saveMethod, vm::res::Str(20358));
    m_hostLabel = add(m_host, vm::res::Str(20359));
    m_pathLabel = add(m_path, vm::res::Str(20360));
    m_saveResultsLabel = add(m_saveResults, vm::res::Str(20361));
    add(m_saveImages, vm::res::Str(20362));
    m_ftpSizeLabel = add(m_ftpSize, vm::res::Str(20363));
    grid->addWidget(m_capacity, row++, 0, 1, 2);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(buttonBox());

    for (QComboBox* c : {m_onOff, m_qualify, m_qualFail, m_saveResults})
        connect(c, &QComboBox::currentIndexChanged, this, &dlgPartQueueSetup::listChanged);
    connect(m_saveMethod, &QComboBox::currentIndexChanged, this, &dlgPartQueueSetup::saveMethodChanged);
    connect(m_saveImages, &QComboBox::currentIndexChanged, this, &dlgPartQueueSetup::saveImagesChanged);
    for (QLineEdit* e : {m_size, m_host, m_path, m_ftpSize})
        connect(e, &QLineEdit::textEdited, this, &dlgPartQueueSetup::listChanged);
    ensureLoaded();
}

vm::app::WindowEntry dlgPartQueueSetup::windowEntry() {
    return vm::settings::settingsMenuWindow<dlgPartQueueSetup>(WindowName, 2070, "mnuPartQueue",
                                                               vm::res::Str(207));
}

QString dlgPartQueueSetup::ftpName() const {
    return levelAtLeast(vm::link::level::MatchList) ? kFtpEx : kFtp;
}

bool dlgPartQueueSetup::imagesYes() const {
    return m_saveImages->currentIndex() == 0;
}

bool dlgPartQueueSetup::ftpChosen() const {
    return m_saveMethod->currentIndex() == 1;
}

void dlgPartQueueSetup::loadParameters() {
    if (!isConnected()) {
        if (isLoaded())
            return;
        // Opened without a reader: the window has nothing to show.
        vm::app::showMessage(this, QStringLiteral("Connection object not set in settings box! Exiting..."),
                             vm::app::PromptButtons::Ok, vm::app::PromptIcon::Critical,
                             QStringLiteral("Unexpected Error"));
        QTimer::singleShot(0, this, &QWidget::close);
        return;
    }
    load(kPartQ);
    load(kPartQFail);
    load(ftpName());
    if (levelAtLeast(vm::link::level::Verification))
        load(kCapacity);
}

void dlgPartQueueSetup::refresh() {
    const vm::link::Parameter& q = parameters().GetParameter(kPartQ);
    const QString mode = q.Field(0);
    m_onOff->setCurrentIndex(mode == QLatin1String("N") ? 1 : 0);
    m_saveImages->setCurrentIndex(mode == QLatin1String("N") || mode == QLatin1String("R") ? 1 : 0);
    m_qualify->setCurrentIndex(std::max<int>(0, int(qualifierWords().indexOf(q.Field(1)))));
    m_size->setText(q.Field(2));
    m_qualFail->setCurrentIndex(
        std::max<int>(0, int(failureWords().indexOf(parameters().GetParameter(kPartQFail).Field(0)))));
    const vm::link::Parameter& f = parameters().GetParameter(ftpName());
    if (!unquoted(f.Field(1)).isEmpty()) {
        m_saveMethod->setCurrentIndex(1);
        m_host->setText(unquoted(f.Field(0)));
        m_path->setText(unquoted(f.Field(1)));
        showFtpFields();
    } else {
        m_saveMethod->setCurrentIndex(0);
        m_host->clear();
        m_path->clear();
        m_saveResults->setCurrentIndex(1);
        m_ftpSize->setText(QStringLiteral("0"));
    }
    showCapacity();
    updateStates();
    m_changed = false;
}

void dlgPartQueueSetup::showFtpFields() {
    const vm::link::Parameter& f = parameters().GetParameter(ftpName());
    m_saveResults->setCurrentIndex(f.Field(2) == QLatin1String("Y") ? 0 : 1);
    m_saveImages->setCurrentIndex(f.Field(3) == QLatin1String("Y") ? 0 : 1);
    if (levelAtLeast(vm::link::level::MatchList))
        m_ftpSize->setText(f.Field(4));
}

void dlgPartQueueSetup::showCapacity() {
    if (!levelAtLeast(vm::link::level::Verification)) {
        m_capacity->clear();
        return;
    }
    const vm::link::Parameter& c = parameters().GetParameter(kCapacity);
    m_capacity->setText(QStringLiteral("Capacity = ~ ") + c.Field(imagesYes() ? 0 : 1));
}

void dlgPartQueueSetup::applyControlState(bool control) {
    Q_UNUSED(control)
    updateStates();
}

void dlgPartQueueSetup::updateStates() {
    const bool on = m_onOff->currentIndex() == 0;
    const bool ftp = ftpChosen();
    const bool levelSeven = levelAtLeast(vm::link::level::MatchList);
    m_qualify->setEnabled(on);
    m_qualFail->setEnabled(on && m_qualify->currentIndex() == 2);
    m_size->setEnabled(on);
    m_saveMethod->setEnabled(on);
    m_saveImages->setEnabled(on);
    for (QWidget* w :
         {static_cast<QWidget*>(m_host), static_cast<QWidget*>(m_path), static_cast<QWidget*>(m_saveResults)})
        w->setEnabled(on && ftp);
    for (QWidget* w : {static_cast<QWidget*>(m_host), static_cast<QWidget*>(m_path),
                       static_cast<QWidget*>(m_saveResults), static_cast<QWidget*>(m_hostLabel),
                       static_cast<QWidget*>(m_pathLabel), static_cast<QWidget*>(m_saveResultsLabel)})
        w->setVisible(ftp);
    m_ftpSize->setEnabled(on && ftp && levelSeven);
    m_ftpSize->setVisible(levelSeven);
    m_ftpSizeLabel->setVisible(levelSeven);
}

void dlgPartQueueSetup::listChanged() {
    updateStates();
    if (updating())
        return;
    m_changed = true;
    markEdited();
}

void dlgPartQueueSetup::saveMethodChanged() {
    if (updating()) {
        updateStates();
        return;
    }
    {
        const auto guard = updateGuard();
        if (ftpChosen()) {
            showFtpFields();
        } else {
            m_ftpSize->setText(QStringLiteral("0"));
        }
    }
    listChanged();
}

void dlgPartQueueSetup::saveImagesChanged() {
    if (!updating() && levelAtLeast(vm::link::level::Verification) && isConnected()) {
        // The capacity depends on whether images are kept; the reader figures it.
        load(kCapacity);
    }
    showCapacity();
    listChanged();
}

void dlgPartQueueSetup::setField(const QString& parameter, int field, const QString& value) {
    vm::link::Parameter& p = parameters().GetParameter(parameter);
    if (p.Field(field) != value)
        p.SetField(field, value);
}

bool dlgPartQueueSetup::refuse(const QString& text, const QString& title, QWidget* focus) {
    vm::app::showMessage(this, text, vm::app::PromptButtons::Ok, vm::app::PromptIcon::Exclamation, title);
    if (focus)
        focus->setFocus(Qt::OtherFocusReason);
    // The edits stay, and OK with them.
    markEdited();
    return false;
}

bool dlgPartQueueSetup::writeControls() {
    if (!m_changed || !hasControl())
        return true;
    const bool on = m_onOff->currentIndex() == 0;
    const bool levelSeven = levelAtLeast(vm::link::level::MatchList);
    // Everything is checked before anything is written, so that a refusal sends nothing.
    qint64 size = 0;
    qint64 ftpSize = 0;
    if (on) {
        if (!wholeNumber(m_size->text(), std::numeric_limits<qint32>::max(), &size))
            return refuse(QStringLiteral("Illegal maximum records value!"),
                          QStringLiteral("Validation Error"), m_size);
        if (ftpChosen()) {
            if (m_host->text().trimmed().isEmpty() || m_path->text().trimmed().isEmpty())
                return refuse(QStringLiteral("Host IP and Path must be specified!"),
                              QStringLiteral("FTP Setup Error"), m_host);
            if (m_saveResults->currentIndex() != 0 && !imagesYes())
                return refuse(QStringLiteral("Please specify either results and/or images to save"),
                              QStringLiteral("FTP Setup Error"), m_saveResults);
            if (levelSeven && !wholeNumber(m_ftpSize->text(), 9999, &ftpSize))
                return refuse(QStringLiteral("Illegal maximum FTP records value!"),
                              QStringLiteral("Validation Error"), m_ftpSize);
        }
    }
    if (!on) {
        setField(kPartQ, 0, QStringLiteral("N"));
        return true;
    }
    setField(kPartQ, 0, imagesYes() ? QStringLiteral("Y") : QStringLiteral("R"));
    setField(kPartQ, 1, qualifierWords().value(m_qualify->currentIndex()));
    setField(kPartQ, 2, QString::number(size));
    if (m_qualify->currentIndex() == 2)
        setField(kPartQFail, 0, failureWords().value(m_qualFail->currentIndex()));
    const QString ftp = ftpName();
    if (ftpChosen()) {
        setField(ftp, 0, QLatin1Char('"') + m_host->text().trimmed() + QLatin1Char('"'));
        setField(ftp, 1, QLatin1Char('"') + m_path->text().trimmed() + QLatin1Char('"'));
        setField(ftp, 2, m_saveResults->currentIndex() == 0 ? QStringLiteral("Y") : QStringLiteral("N"));
        setField(ftp, 3, imagesYes() ? QStringLiteral("Y") : QStringLiteral("N"));
        if (levelSeven)
            setField(ftp, 4, QString::number(ftpSize));
    } else {
        setField(ftp, 0, QStringLiteral("\"\""));
        setField(ftp, 1, QStringLiteral("\"\""));
        setField(ftp, 2, QStringLiteral("N"));
        setField(ftp, 3, QStringLiteral("N"));
        if (levelSeven)
            setField(ftp, 4, QStringLiteral("0"));
    }
    return true;
}

} // namespace vm::io
