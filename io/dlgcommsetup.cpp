#include "io/dlgcommsetup.h"

#include "app/applyparameters.h"
#include "app/programstate.h"
#include "app/prompts.h"
#include "app/seriallines.h"
#include "link/connection.h"
#include "link/coordinator.h"
#include "link/parameterset.h"
#include "link/vocabulary.h"
#include "resources/strings.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <iterator>

namespace vm::io {

namespace {

const QString kIp = QStringLiteral("IP");
const QString kMac = QStringLiteral("MACADDR");
const QString kDomain = QStringLiteral("DOMAIN");
const QString kDhcp = QStringLiteral("DHCP");
const QString kTty = QStringLiteral("TTY");
const QString kEip = QStringLiteral("EIPENABLE");
const QString kYes = QStringLiteral("Y");
const QString kNo = QStringLiteral("N");
// The communication commands wait longer than ordinary ones.
constexpr int kCommunicationMs = 10000;

const QStringList kBaudRates = {QStringLiteral("1200"),  QStringLiteral("2400"),  QStringLiteral("4800"),
                                QStringLiteral("9600"),  QStringLiteral("19200"), QStringLiteral("38400"),
                                QStringLiteral("57600"), QStringLiteral("115200")};

class WaitCursor {
public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

bool isLetter(QChar c) {
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
}

bool isDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

// The list entry whose first character is the reader's word, as the reader lists are read.
int indexOfWord(const QString& word, const QString& letters) {
    const qsizetype i = word.isEmpty() ? -1 : letters.indexOf(word.at(0));
    return int(std::max<qsizetype>(i, 0));
}

} // namespace

dlgCommSetup::dlgCommSetup(QWidget* parent)
    : SettingsWindow(QLatin1String(WindowName), Mode::OkCancel, parent)
    , m_coordinator(std::make_unique<vm::link::Coordinator>()) {
    setWindowTitle(vm::res::Str(20320));
    // Modal, but shown rather than run, so that the reader's events keep coming while it is open.
    setModal(true);
    setButtonNames(QStringLiteral("btnOK"), QStringLiteral("btnCancel"), QString());
    auto combo = [this](const char* name, const QStringList& items) {
        return vm::settings::namedList(name, items, this);
    };
    auto line = [this](const char* name) { return vm::settings::namedBox(name, this); };
    auto row = [this](QGridLayout* grid, QWidget* control, const QString& caption,
                      const char* labelName = nullptr) {
        const int r = grid->rowCount();
        QLabel* label = vm::settings::labelFor(control, caption, this);
        if (labelName)
            label->setObjectName(QLatin1String(labelName));
        grid->addWidget(label, r, 0);
        grid->addWidget(control, r, 1);
    };
    const QStringList parity{vm::res::Str(20228), vm::res::Str(20321), vm::res::Str(20322)};
    const QStringList dataBits{QStringLiteral("7"), QStringLiteral("8")};
    const QStringList stopBits{QStringLiteral("1"), QStringLiteral("2")};
    const QStringList flow{vm::res::Str(20228), vm::res::Str(20323), vm::res::Str(20324)};
    // The reader's port and this PC's have the same five lists, told apart by a suffix on their
    // names; only the stop-bits caption differs.
    auto serialLists = [&](QGridLayout* grid, const char* suffix, const QString& stopCaption,
                           const std::array<QComboBox**, 5>& lists) {
        const std::array<std::pair<const char*, const QStringList*>, 5> kinds{{{"cmbBaudRate", &kBaudRates},
                                                                               {"cmbParity", &parity},
                                                                               {"cmbDataBits", &dataBits},
                                                                               {"cmbStopBits", &stopBits},
                                                                               {"cmbFlow", &flow}}};
        const std::array<QString, 5> captions{vm::res::Str(20335), vm::res::Str(20336), vm::res::Str(20337),
                                              stopCaption, vm::res::Str(20339)};
        for (size_t i = 0; i < lists.size(); ++i) {
            *lists[i] = combo((QByteArray(kinds[i].first) + suffix).constData(), *kinds[i].second);
            row(grid, *lists[i], captions[i]);
        }
    };

    m_frameTcp = new QGroupBox(vm::res::Str(20325), this);
    m_frameTcp->setObjectName(QStringLiteral("frameTCP"));
    auto* tcp = new QGridLayout(m_frameTcp);
    m_camName = line("txtCamName");
    // The reader refuses a longer name, and with it the whole IP line (address included).
    m_camName->setMaxLength(kLongestCameraName);
    m_mac = line("txtMAC");
    m_mac->setReadOnly(true);
    m_useDhcp = new QRadioButton(vm::res::Str(20326), m_frameTcp);
    m_useDhcp->setObjectName(QStringLiteral("optUseDHCP"));
    m_useStatic = new QRadioButton(vm::res::Str(20327), m_frameTcp);
    m_useStatic->setObjectName(QStringLiteral("optUseStaticIP"));
    m_domain = line("txtDomain");
    m_ip = line("txtIP");
    m_subnet = line("txtSubnet");
    m_gateway = line("txtGateway");
    row(tcp, m_camName, vm::res::Str(20328), "lblCameraName");
    row(tcp, m_mac, vm::res::Str(20329), "lblMACAddress");
    tcp->addWidget(m_useDhcp, tcp->rowCount(), 0, 1, 2);
    tcp->addWidget(m_useStatic, tcp->rowCount(), 0, 1, 2);
    row(tcp, m_domain, vm::res::Str(20330), "lblDomain");
    row(tcp, m_ip, vm::res::Str(20331), "lblAddress");
    row(tcp, m_subnet, vm::res::Str(20332), "lblSubnet");
    row(tcp, m_gateway, vm::res::Str(20333), "lblGateway");

    m_frameCamSerial = new QGroupBox(vm::res::Str(20334), this);
    m_frameCamSerial->setObjectName(QStringLiteral("frameCamSerial"));
    auto* cam = new QGridLayout(m_frameCamSerial);
    serialLists(cam, "CAM", vm::res::Str(20338),
                {&m_baudCam, &m_parityCam, &m_dataBitsCam, &m_stopBitsCam, &m_flowCam});

    m_framePcSerial = new QGroupBox(vm::res::Str(20340), this);
    m_framePcSerial->setObjectName(QStringLiteral("framePCSerial"));
    auto* pc = new QGridLayout(m_framePcSerial);
    m_ports_ = combo("listPorts", {});
    m_ports_->setAccessibleName(vm::res::Str(20340));
    pc->addWidget(m_ports_, 0, 0, 1, 2);
    serialLists(pc, "", vm::res::Str(20341), {&m_baud, &m_parity, &m_dataBits, &m_stopBits, &m_flow});

    m_frameMisc = new QGroupBox(vm::res::Str(20342), this);
    m_frameMisc->setObjectName(QStringLiteral("frameMisc"));
    auto* misc = new QVBoxLayout(m_frameMisc);
    m_eip = new QCheckBox(vm::res::Str(20343), m_frameMisc);
    m_eip->setObjectName(QStringLiteral("chkEIPEnable"));
    auto* warning = new QLabel(vm::res::Str(20364), m_frameMisc);
    warning->setWordWrap(true);
    misc->addWidget(m_eip);
    misc->addWidget(warning);

    auto* columns = new QHBoxLayout;
    auto* left = new QVBoxLayout;
    left->addWidget(m_frameTcp);
    left->addWidget(m_frameMisc);
    auto* right = new QVBoxLayout;
    right->addWidget(m_frameCamSerial);
    right->addWidget(m_framePcSerial);
    columns->addLayout(left);
    columns->addLayout(right);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(columns);
    layout->addWidget(buttonBox());

    // The window fills them and writes them on OK, each only where it differs from what the
    // reader holds. Ethernet/IP is read from level 3 only; below it the box stays disabled.
    declare(m_camName, kIp, 0);
    declare(m_ip, kIp, 1);
    declare(m_subnet, kIp, 2);
    declare(m_gateway, kIp, 3);
    declare(m_mac, kMac);
    declare(m_domain, kDomain);
    declare(m_useDhcp, kDhcp);
    declare(m_useStatic, kDhcp);
    QComboBox* const ttyLists[] = {m_baudCam, m_parityCam, m_dataBitsCam, m_stopBitsCam, m_flowCam};
    for (int field = 0; field < int(std::size(ttyLists)); ++field) {
        declare(ttyLists[field], kTty, field);
        // Until the reader has answered, a list shows no entry rather than its first one.
        ttyLists[field]->setCurrentIndex(-1);
    }
    declare(m_eip, kEip);

    connect(m_ports_, &QComboBox::currentIndexChanged, this, &dlgCommSetup::portSelected);
    for (QComboBox* c : {m_baud, m_parity, m_dataBits, m_stopBits, m_flow})
        connect(c, &QComboBox::activated, this, &dlgCommSetup::pcListChanged);
    connect(m_parityCam, &QComboBox::activated, this, &dlgCommSetup::readerParityChanged);
    // OK follows what waits to be sent (see okAllowed).
    for (QLineEdit* box : {m_camName, m_domain, m_ip, m_subnet, m_gateway})
        connect(box, &QLineEdit::textEdited, this, &dlgCommSetup::markModified);
    for (QAbstractButton* button : std::initializer_list<QAbstractButton*>{m_useDhcp, m_useStatic, m_eip})
        connect(button, &QAbstractButton::clicked, this, &dlgCommSetup::markModified);
    for (QComboBox* list : ttyLists)
        connect(list, &QComboBox::activated, this, &dlgCommSetup::markModified);
    ensureLoaded();
}

dlgCommSetup::~dlgCommSetup() = default;

vm::app::WindowEntry dlgCommSetup::windowEntry() {
    return vm::settings::settingsMenuWindow<dlgCommSetup>(WindowName, 2110, "mnuCommSetup",
                                                          vm::res::Str(211));
}

QString dlgCommSetup::cameraNameError(const QString& name) {
    for (const QChar c : name)
        if (!isLetter(c) && !isDigit(c) && c != u'_')
            return QStringLiteral("Camera name cannot contain non-alphanumeric characters");
    if (name.isEmpty() || !isLetter(name.at(0)))
        return QStringLiteral("Camera name must start with a letter");
    return {};
}

bool dlgCommSetup::validDomain(const QString& domain) {
    if (domain.isEmpty() || !isLetter(domain.at(0)))
        return false;
    for (const QChar c : domain)
        if (!isLetter(c) && !isDigit(c) && c != u'_' && c != u'.' && c != u'-')
            return false;
    return true;
}

bool dlgCommSetup::validAddress(const QString& address) {
    const QStringList parts = address.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return false;
    for (const QString& p : parts) {
        if (p.isEmpty() || p.size() > 3)
            return false;
        for (const QChar c : p)
            if (!isDigit(c))
                return false;
        if (p.toInt() > 255)
            return false;
    }
    return true;
}

QStringList dlgCommSetup::parametersToLoad() const {
    QStringList names{kDhcp, kIp, kMac, kDomain, kTty};
    const int level = vm::app::firmwareLevel();
    if (level == vm::link::level::None || level >= vm::link::level::FormatEditor)
        names << kEip;
    return names;
}

void dlgCommSetup::loadParameters() {
    // Whether this PC may change the reader is read once, when the dialog opens.
    if (!isLoaded())
        m_readerFrames = isConnected() && hasControl();
    if (isConnected())
        SettingsWindow::loadParameters();
    if (!isLoaded())
        loadPorts();
}

void dlgCommSetup::loadPorts() {
    const QString channel = isConnected() ? connection()->Response().Name() : QString();
    const auto guard = updateGuard();
    m_ports.clear();
    m_ports_->clear();
    int selected = -1;
    for (const QString& name : m_coordinator->SerialPortNames()) {
        if (name.isEmpty())
            continue;
        PortRow r;
        r.name = name;
        const vm::link::SerialLineSettings line = vm::app::readSerialLineSettings(name);
        r.baudRate = line.baudRate;
        r.parity = line.parity;
        r.byteSize = line.byteSize;
        r.stopBits = line.stopBits;
        r.flowControl = line.flowControl;
        m_ports.push_back(r);
        m_ports_->addItem(name);
        if (!channel.isEmpty() && channel == name)
            selected = m_ports_->count() - 1;
    }
    // The port the reader is reached through cannot be switched here.
    m_portLocked = selected >= 0;
    if (selected < 0 && m_ports_->count() > 0)
        selected = 0;
    m_ports_->setCurrentIndex(selected);
    portSelected(selected);
}

void dlgCommSetup::portSelected(int index) {
    if (index < 0 || index >= int(m_ports.size()))
        return;
    const auto guard = updateGuard();
    const PortRow& r = m_ports[size_t(index)];
    m_baud->setCurrentIndex(int(kBaudRates.indexOf(QString::number(r.baudRate))));
    m_parity->setCurrentIndex(r.parity <= 2 ? int(r.parity) : -1);
    m_dataBits->setCurrentIndex(r.byteSize == 7 ? 0 : 1);
    m_stopBits->setCurrentIndex(r.stopBits != 0 ? 1 : 0);
    m_flow->setCurrentIndex(r.flowControl <= 2 ? int(r.flowControl) : -1);
}

void dlgCommSetup::pcListChanged() {
    const int index = m_ports_->currentIndex();
    if (updating() || index < 0 || index >= int(m_ports.size()))
        return;
    PortRow& r = m_ports[size_t(index)];
    QObject* from = sender();
    if (from == m_baud) {
        r.baudRate = m_baud->currentText().toUInt();
    } else if (from == m_parity) {
        r.parity = quint32(std::max(0, m_parity->currentIndex()));
        // Seven data bits go with a parity bit, eight without.
        m_dataBits->setCurrentIndex(r.parity == 0 ? 1 : 0);
        r.byteSize = r.parity == 0 ? 8 : 7;
    } else if (from == m_dataBits) {
        r.byteSize = m_dataBits->currentIndex() == 0 ? 7 : 8;
    } else if (from == m_stopBits) {
        r.stopBits = m_stopBits->currentIndex() == 1 ? 2 : 0;
    } else if (from == m_flow) {
        r.flowControl = quint32(std::max(0, m_flow->currentIndex()));
    }
    r.modified = true;
}

void dlgCommSetup::readerParityChanged(int index) {
    if (updating())
        return;
    m_dataBitsCam->setCurrentIndex(index == 0 ? 1 : 0);
}

void dlgCommSetup::refresh() {
    // What the reader did not answer keeps what it showed.
    vm::link::ParameterSet& set = parameters();
    if (wasRead(kIp)) {
        const QStringList ip = set.GetParameter(kIp).Fields();
        m_camName->setText(ip.value(0));
        m_ip->setText(ip.value(1));
        m_subnet->setText(ip.value(2));
        m_gateway->setText(ip.value(3));
    }
    if (wasRead(kMac))
        m_mac->setText(set.GetParameter(kMac).Field(0));
    if (wasRead(kDomain))
        m_domain->setText(set.GetParameter(kDomain).Field(0));
    if (wasRead(kDhcp)) {
        const bool dhcp = set.GetParameter(kDhcp).Field(0) == kYes;
        m_useDhcp->setChecked(dhcp);
        m_useStatic->setChecked(!dhcp);
    }
    if (wasRead(kTty)) {
        const vm::link::Parameter& tty = set.GetParameter(kTty);
        m_baudCam->setCurrentIndex(std::max(0, int(kBaudRates.indexOf(tty.Field(0)))));
        m_parityCam->setCurrentIndex(indexOfWord(tty.Field(1), QStringLiteral("NOE")));
        m_dataBitsCam->setCurrentIndex(indexOfWord(tty.Field(2), QStringLiteral("78")));
        m_stopBitsCam->setCurrentIndex(indexOfWord(tty.Field(3), QStringLiteral("12")));
        m_flowCam->setCurrentIndex(indexOfWord(tty.Field(4), QStringLiteral("NXH")));
    }
    if (wasRead(kEip))
        m_eip->setChecked(set.GetParameter(kEip).Field(0) == kYes);
}

void dlgCommSetup::applyControlState(bool) {
    for (QGroupBox* frame : {m_frameTcp, m_frameCamSerial, m_frameMisc})
        frame->setEnabled(m_readerFrames);
    const bool ports = m_ports_->count() > 0;
    m_ports_->setEnabled(ports && !m_portLocked);
    for (QComboBox* c : {m_baud, m_parity, m_dataBits, m_stopBits, m_flow})
        c->setEnabled(ports);
}

void dlgCommSetup::setField(const QString& parameter, int field, const QString& value) {
    vm::link::Parameter& p = parameters().GetParameter(parameter);
    if (p.Field(field) != value)
        p.SetField(field, value);
}

vm::settings::Validation dlgCommSetup::validate() {
    // Only what the operator changed is checked: an invalid value the reader holds stays.
    if (!isConnected() || !m_readerFrames)
        return {};
    const vm::app::PromptIcon stop = vm::app::PromptIcon::Critical;
    const QString nameError = QStringLiteral("Name Error");
    auto held = [this](const QString& name, int field) {
        return parameters().GetParameter(name).Field(field);
    };
    if (wasRead(kIp) && m_camName->text() != held(kIp, 0)) {
        const QString error = cameraNameError(m_camName->text());
        if (!error.isEmpty())
            return {error, m_camName, nameError, stop};
    }
    if (wasRead(kDomain) && m_domain->text() != held(kDomain, 0) && !validDomain(m_domain->text()))
        return {QStringLiteral("Domain name must have no spaces and start with a letter"), m_domain,
                nameError, stop};
    if (!wasRead(kIp))
        return {};
    for (const AddressField& a : addressFields())
        if (a.box->text() != held(kIp, a.field) && !validAddress(a.box->text()))
            return {QLatin1String(a.message), a.box, QStringLiteral("IP Error"), stop};
    return {};
}

QList<dlgCommSetup::AddressField> dlgCommSetup::addressFields() const {
    return {{m_ip, 1, "Invalid IP address!"},
            {m_subnet, 2, "Invalid Subnet mask!"},
            {m_gateway, 3, "Invalid Gateway address! (Use 0.0.0.0 to disable)"}};
}

QList<dlgCommSetup::Shown> dlgCommSetup::shownFields() const {
    // Only what the reader answered can go back.
    QList<Shown> shown;
    if (!isConnected() || !m_readerFrames)
        return shown;
    if (wasRead(kIp)) {
        shown.append({kIp, 0, m_camName->text()});
        for (const AddressField& a : addressFields())
            shown.append({kIp, a.field, a.box->text()});
    }
    if (wasRead(kDomain))
        shown.append({kDomain, 0, m_domain->text()});
    if (wasRead(kDhcp))
        shown.append({kDhcp, 0, m_useDhcp->isChecked() ? kYes : kNo});
    if (wasRead(kEip) && m_eip->isEnabled())
        shown.append({kEip, 0, m_eip->isChecked() ? kYes : kNo});
    if (wasRead(kTty)) {
        shown.append({kTty, 0, m_baudCam->currentText()});
        int field = 1;
        for (const QComboBox* list : {m_parityCam, m_dataBitsCam, m_stopBitsCam, m_flowCam})
            shown.append({kTty, field++, list->currentText().left(1)});
    }
    return shown;
}

bool dlgCommSetup::writeControls() {
    // Each field goes into the set only where it differs from what the reader holds.
    for (const Shown& f : shownFields())
        setField(f.parameter, f.field, f.value);
    return true;
}

QStringList dlgCommSetup::unsentChanges() const {
    QStringList names = pendingNames();
    for (const Shown& f : shownFields()) {
        const vm::link::Parameter* p = parameters().Find(f.parameter);
        if (p && p->Field(f.field) != f.value && !names.contains(f.parameter))
            names << f.parameter;
    }
    return names;
}

bool dlgCommSetup::okAllowed() const {
    // OK also stores this PC's port settings and closes a dialog opened without control; only
    // reader changes that can no longer be sent hold it back.
    return !isConnected() || !m_readerFrames || hasControl() || unsentChanges().isEmpty();
}

void dlgCommSetup::okPressed() {
    WaitCursor wait;
    const bool reader = isConnected();
    bool configurationChanged = false;
    if (reader && m_readerFrames) {
        // Checked before anything is set or sent: a refusal leaves the set as loaded.
        const vm::settings::Validation check = validate();
        if (!check.passed()) {
            QApplication::restoreOverrideCursor();
            vm::app::showMessage(this, check.message, vm::app::PromptButtons::Ok, check.icon, check.title);
            QApplication::setOverrideCursor(Qt::WaitCursor);
            check.focus->setFocus(Qt::OtherFocusReason);
            return;
        }
        writeControls();
        const vm::link::ParameterSet& set = parameters();
        for (const QString& name : {kIp, kDomain, kDhcp, kEip}) {
            const vm::link::Parameter* p = set.Find(name);
            configurationChanged = configurationChanged || (p && p->Modified());
        }
    }
    const QString channel = reader ? connection()->Response().Name() : QString();
    const bool serial = reader && m_coordinator->IsSerialPort(channel);
    bool sent = true;
    if (reader) {
        if (serial)
            connection()->SendCommand(QStringLiteral("OFFLINE"), kCommunicationMs);
        // What the reader did not take is told by the apply, with its reason.
        if (m_readerFrames && hasControl())
            sent = apply();
    }
    for (PortRow& r : m_ports) {
        if (!r.modified)
            continue;
        vm::app::writeSerialLineSettings(r.name,
                                         {r.baudRate, r.parity, r.byteSize, r.stopBits, r.flowControl});
        r.modified = false;
    }
    if (serial) {
        connection()->SendCommand(QStringLiteral("CONTROL"), kCommunicationMs);
        connection()->SendCommand(QStringLiteral("ONLINE"), kCommunicationMs);
    }
    // A failed send keeps the dialog open with its edits, to send again or leave with Cancel;
    // the reboot is asked for only when the new settings reached the reader.
    if (!sent)
        return;
    if (configurationChanged) {
        QApplication::restoreOverrideCursor();
        vm::app::showMessage(this, QStringLiteral("Please reboot the camera for the settings to take effect"),
                             vm::app::PromptButtons::Ok, vm::app::PromptIcon::Information,
                             QStringLiteral("Configuration Changed"));
        QApplication::setOverrideCursor(Qt::WaitCursor);
    }
    accept();
}

} // namespace vm::io
