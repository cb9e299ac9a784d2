#include "io/dlgpartqueuesetup.h"

#include "app/programstate.h"
#include "app/prompts.h"
#include "link/fields.h"
#include "link/parameterset.h"
#include "link/vocabulary.h"
#include "resources/strings.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <limits>

namespace vm::io {

namespace {

const QString kPartQ = QStringLiteral("PARTQ");
const QString kPartQFail = QStringLiteral("PARTQFAIL");
const QString kFtp = QStringLiteral("PARTQFTP");
const QString kFtpEx = QStringLiteral("PARTQFTPEX");
const QString kCapacity = QStringLiteral("PARTQCAPACITY");
const QString kYes = QStringLiteral("Y");
const QString kNo = QStringLiteral("N");
// The qualifier under which a failure kind is chosen.
constexpr int kFailedQualifier = 2;
constexpr qint64 kMaxFtpRecords = 9999;

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
    : SettingsWindow(QLatin1String(WindowName), Mode::OkCancel, parent)
    , m_ftp(vm::app::firmwareLevel() >= vm::link::level::MatchList ? kFtpEx : kFtp) {
    setWindowTitle(vm::res::Str(207));
    // Modal, but shown rather than run, so that the reader's events keep coming while it is open.
    setModal(true);
    setButtonNames(QStringLiteral("btnOK"), QStringLiteral("btnCancel"), QString());
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

    declareGroup(kQueueOn, [this] { return queueOn(); });
    declareGroup(kFailureKind, [this] { return queueOn() && m_qualify->currentIndex() == kFailedQualifier; });
    declareGroup(kFtpSettings, [this] { return queueOn() && ftpChosen(); });
    // The window fills and writes them itself: one setting spreads over several fields
    // (the queue mode is On/Off and Save Images), and what is written depends on others.
    declare(m_onOff, kPartQ, 0);
    declare(m_qualify, kPartQ, 1).inGroup(kQueueOn);
    declare(m_qualFail, kPartQFail, 0).inGroup(kFailureKind);
    declare(m_size, kPartQ, 2).inGroup(kQueueOn);
    declare(m_saveMethod, m_ftp, 1).inGroup(kQueueOn);
    declare(m_host, m_ftp, 0).inGroup(kFtpSettings);
    declare(m_path, m_ftp, 1).inGroup(kFtpSettings);
    declare(m_saveResults, m_ftp, 2).inGroup(kFtpSettings);
    declare(m_saveImages, kPartQ, 0).inGroup(kQueueOn);
    declare(m_ftpSize, m_ftp, 4)
        .inGroup(kFtpSettings)
        .fromLevel(vm::link::level::MatchList)
        .withLabels({m_ftpSizeLabel});
    declare(m_capacity, kCapacity);
    // Until the reader has answered, a list shows no entry rather than its first one.
    for (QComboBox* c : {m_onOff, m_qualify, m_qualFail, m_saveMethod, m_saveResults, m_saveImages})
        c->setCurrentIndex(-1);

    for (QComboBox* c : {m_onOff, m_qualify, m_qualFail, m_saveResults})
        connect(c, &QComboBox::activated, this, &dlgPartQueueSetup::changed);
    connect(m_saveMethod, &QComboBox::activated, this, &dlgPartQueueSetup::saveMethodChanged);
    connect(m_saveImages, &QComboBox::activated, this, &dlgPartQueueSetup::saveImagesChanged);
    for (QLineEdit* e : {m_size, m_host, m_path, m_ftpSize})
        connect(e, &QLineEdit::textEdited, this, &dlgPartQueueSetup::changed);
    ensureLoaded();
}

vm::app::WindowEntry dlgPartQueueSetup::windowEntry() {
    return vm::settings::settingsMenuWindow<dlgPartQueueSetup>(WindowName, 2070, "mnuPartQueue",
                                                               vm::res::Str(207));
}

bool dlgPartQueueSetup::queueOn() const {
    return m_onOff->currentIndex() == 0;
}

bool dlgPartQueueSetup::imagesYes() const {
    return m_saveImages->currentIndex() == 0;
}

bool dlgPartQueueSetup::ftpChosen() const {
    return m_saveMethod->currentIndex() == 1;
}

QString dlgPartQueueSetup::loadedFtpField(int field) const {
    return m_loaded.value(m_ftp).value(field);
}

void dlgPartQueueSetup::loadParameters() {
    m_loaded.clear();
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
    for (const QString& name : {kPartQ, kPartQFail, m_ftp})
        if (load(name))
            m_loaded.insert(name, parameters().GetParameter(name).Fields());
    if (readerLevel() >= vm::link::level::Verification)
        load(kCapacity);
}

void dlgPartQueueSetup::refresh() {
    // What the reader did not answer keeps what it showed.
    if (m_loaded.contains(kPartQ)) {
        const QStringList q = m_loaded.value(kPartQ);
        const QString mode = q.value(0);
        m_onOff->setCurrentIndex(mode == kNo ? 1 : 0);
        m_saveImages->setCurrentIndex(mode == kNo || mode == QLatin1String("R") ? 1 : 0);
        m_qualify->setCurrentIndex(std::max<int>(0, int(qualifierWords().indexOf(q.value(1)))));
        m_size->setText(q.value(2));
    }
    if (m_loaded.contains(kPartQFail))
        m_qualFail->setCurrentIndex(
            std::max<int>(0, int(failureWords().indexOf(m_loaded.value(kPartQFail).value(0)))));
    if (m_loaded.contains(m_ftp)) {
        if (!vm::link::unquoteField(loadedFtpField(1)).isEmpty()) {
            m_saveMethod->setCurrentIndex(1);
            m_host->setText(vm::link::unquoteField(loadedFtpField(0)));
            m_path->setText(vm::link::unquoteField(loadedFtpField(1)));
            showFtpFields();
        } else {
            m_saveMethod->setCurrentIndex(0);
            m_host->clear();
            m_path->clear();
            m_saveResults->setCurrentIndex(1);
            m_ftpSize->setText(QStringLiteral("0"));
        }
    }
    showCapacity();
}

void dlgPartQueueSetup::showFtpFields() {
    if (!m_loaded.contains(m_ftp))
        return;
    m_saveResults->setCurrentIndex(loadedFtpField(2) == kYes ? 0 : 1);
    m_saveImages->setCurrentIndex(loadedFtpField(3) == kYes ? 0 : 1);
    if (readerLevel() >= vm::link::level::MatchList)
        m_ftpSize->setText(loadedFtpField(4));
}

void dlgPartQueueSetup::showCapacity() {
    if (readerLevel() < vm::link::level::Verification) {
        m_capacity->clear();
        return;
    }
    if (wasRead(kCapacity))
        m_capacity->setText(QStringLiteral("Capacity = ~ ") +
                            parameters().GetParameter(kCapacity).Field(imagesYes() ? 0 : 1));
}

void dlgPartQueueSetup::applyControlState(bool) {
    const bool ftp = ftpChosen();
    const QList<QWidget*> ftpOnly = {m_host,      m_path,      m_saveResults,
                                     m_hostLabel, m_pathLabel, m_saveResultsLabel};
    for (QWidget* w : ftpOnly)
        w->setVisible(ftp);
}

void dlgPartQueueSetup::changed() {
    if (updating())
        return;
    compose();
    // The groups follow the lists.
    updateControlState();
    markEdited();
}

void dlgPartQueueSetup::saveMethodChanged() {
    if (updating())
        return;
    {
        const auto guard = updateGuard();
        if (ftpChosen())
            showFtpFields();
        else
            m_ftpSize->setText(QStringLiteral("0"));
    }
    changed();
}

void dlgPartQueueSetup::saveImagesChanged() {
    if (updating())
        return;
    // The capacity depends on whether images are kept; the reader figures it.
    if (readerLevel() >= vm::link::level::Verification)
        load(kCapacity);
    showCapacity();
    changed();
}

void dlgPartQueueSetup::setField(const QString& parameter, int field, const QString& value) {
    vm::link::Parameter& p = parameters().GetParameter(parameter);
    if (p.Field(field) != value)
        p.SetField(field, value);
}

void dlgPartQueueSetup::compose() {
    vm::link::ParameterSet& set = parameters();
    // Back to what the reader held (and not modified), then what the controls hold.
    for (auto it = m_loaded.cbegin(); it != m_loaded.cend(); ++it)
        set.GetParameter(it.key()).setLoadedFields(it.value());
    const bool on = queueOn();
    if (m_loaded.contains(kPartQ)) {
        if (!on) {
            setField(kPartQ, 0, kNo);
        } else {
            setField(kPartQ, 0, imagesYes() ? kYes : QStringLiteral("R"));
            if (m_qualify->currentIndex() >= 0)
                setField(kPartQ, 1, qualifierWords().value(m_qualify->currentIndex()));
            // A value the checks refuse is left as the reader holds it.
            qint64 size = 0;
            if (wholeNumber(m_size->text(), std::numeric_limits<qint32>::max(), &size))
                setField(kPartQ, 2, QString::number(size));
        }
    }
    if (!on)
        return;
    if (m_qualify->currentIndex() == kFailedQualifier && m_qualFail->currentIndex() >= 0 &&
        m_loaded.contains(kPartQFail))
        setField(kPartQFail, 0, failureWords().value(m_qualFail->currentIndex()));
    if (!m_loaded.contains(m_ftp))
        return;
    const bool ftpMaximum = readerLevel() >= vm::link::level::MatchList;
    if (ftpChosen()) {
        setField(m_ftp, 0, vm::link::quoteField(m_host->text().trimmed()));
        setField(m_ftp, 1, vm::link::quoteField(m_path->text().trimmed()));
        setField(m_ftp, 2, m_saveResults->currentIndex() == 0 ? kYes : kNo);
        setField(m_ftp, 3, imagesYes() ? kYes : kNo);
        qint64 records = 0;
        if (ftpMaximum && wholeNumber(m_ftpSize->text(), kMaxFtpRecords, &records))
            setField(m_ftp, 4, QString::number(records));
    } else {
        setField(m_ftp, 0, vm::link::quoteField(QString()));
        setField(m_ftp, 1, vm::link::quoteField(QString()));
        setField(m_ftp, 2, kNo);
        setField(m_ftp, 3, kNo);
        if (ftpMaximum)
            setField(m_ftp, 4, QStringLiteral("0"));
    }
}

bool dlgPartQueueSetup::writeControls() {
    compose();
    return true;
}

vm::settings::Validation dlgPartQueueSetup::validate() {
    if (!queueOn())
        return {};
    const QString validation = QStringLiteral("Validation Error");
    const QString ftpSetup = QStringLiteral("FTP Setup Error");
    qint64 value = 0;
    if (m_loaded.contains(kPartQ) && !wholeNumber(m_size->text(), std::numeric_limits<qint32>::max(), &value))
        return {QStringLiteral("Illegal maximum records value!"), m_size, validation};
    if (!ftpChosen() || !m_loaded.contains(m_ftp))
        return {};
    if (m_host->text().trimmed().isEmpty() || m_path->text().trimmed().isEmpty())
        return {QStringLiteral("Host IP and Path must be specified!"), m_host, ftpSetup};
    for (QLineEdit* box : {m_host, m_path}) {
        const QString message = vm::settings::unquotableMessage(box->text().trimmed(), box->accessibleName());
        if (!message.isEmpty())
            return {message, box};
    }
    if (m_saveResults->currentIndex() != 0 && !imagesYes())
        return {QStringLiteral("Please specify either results and/or images to save"), m_saveResults,
                ftpSetup};
    if (readerLevel() >= vm::link::level::MatchList &&
        !wholeNumber(m_ftpSize->text(), kMaxFtpRecords, &value))
        return {QStringLiteral("Illegal maximum FTP records value!"), m_ftpSize, validation};
    return {};
}

} // namespace vm::io
