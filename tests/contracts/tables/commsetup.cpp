// Communication setup: the reader's network identity, its serial port and Ethernet/IP,
// sent when OK is pressed, and the serial settings of this PC's own ports, stored for the
// next opening of each port. Control is read once, when the dialog opens.
#include "contracts/contract.h"
#include "contracts/tables/common.h"

#include "app/registry.h"
#include "link/coordinator.h"
#include "settings/settingswindow.h"
#include "sim/catalogue.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace vm::contracts {

namespace {

using app::PromptAnswer;
using app::PromptButtons;
using app::PromptIcon;

const QString kWindow = QStringLiteral("dlgCommSetup");
const QString kReboot = QStringLiteral("Please reboot the camera for the settings to take effect");
const QStringList kBauds = {"1200", "2400", "4800", "9600", "19200", "38400", "57600", "115200"};

// A change of the reader's identity or Ethernet/IP tells the operator to reboot it.
void rebootNotice(Stage& stage, const Value&) {
    stage.unexpected()->expectMessage(QStringLiteral("Configuration Changed"), kReboot,
                                      PromptIcon::Information, PromptButtons::Ok, PromptAnswer::Ok);
}

ControlContract row(const char* name, Kind kind, const char* parameter, int field, QList<Value> values,
                    bool reboot) {
    ControlContract c;
    c.name = QLatin1String(name);
    c.kind = kind;
    c.parameter = QLatin1String(parameter);
    c.field = field;
    c.values = std::move(values);
    if (reboot)
        c.boxes = rebootNotice;
    return c;
}

QComboBox* list(Stage& stage, const char* name) {
    return qobject_cast<QComboBox*>(stage.control(QLatin1String(name)));
}

QLineEdit* box(Stage& stage, const char* name) {
    return qobject_cast<QLineEdit*>(stage.control(QLatin1String(name)));
}

// The label texts of a frame, without shortcut marks.
QStringList labels(QWidget* frame) {
    QStringList out;
    for (QLabel* l : frame->findChildren<QLabel*>())
        out << l->text().remove(QLatin1Char('&'));
    return out;
}

// Captions, list items and the window's modality.
void texts(Stage& stage) {
    stage.start(QStringLiteral("3.0.2.1"));
    QWidget* w = stage.open(kWindow);
    QVERIFY(w);
    QCOMPARE(w->windowTitle().section(QStringLiteral(" - "), -1),
             QStringLiteral("Communications Configuration"));
    compareCaptions(stage, {{"frameTCP", "TCP/IP"},
                            {"frameCamSerial", "Camera Serial Port"},
                            {"framePCSerial", "PC Serial Ports"},
                            {"frameMisc", "Other Options"},
                            {"lblCameraName", "Camera Name:"},
                            {"lblMACAddress", "MAC Address:"},
                            {"lblDomain", "Domain:"},
                            {"lblAddress", "IP Address:"},
                            {"lblSubnet", "Subnet Mask:"},
                            {"lblGateway", "Gateway:"},
                            {"optUseDHCP", "Use DHCP"},
                            {"optUseStaticIP", "Use Static IP Addressing"},
                            {"chkEIPEnable", "Enable Ethernet/IP"},
                            {"btnOK", "OK"},
                            {"btnCancel", "Cancel"}});
    QVERIFY(
        labels(stage.control("frameMisc"))
            .contains("Warning: this is an industrial protocol that should never be enabled unless "
                      "connecting to a network specifically configured for Ethernet/Industrial Protocol"));
    const QStringList cam = labels(stage.control("frameCamSerial"));
    for (const char* caption : {"Baud Rate:", "Parity:", "Data Bits:", "Stop Bits:", "Flow Control:"})
        QVERIFY2(cam.contains(QLatin1String(caption)), caption);
    const QStringList pc = labels(stage.control("framePCSerial"));
    for (const char* caption : {"Baud Rate:", "Parity:", "Data Bits:", "Stop Bits", "Flow Control:"})
        QVERIFY2(pc.contains(QLatin1String(caption)), caption);
    for (const char* suffix : {"CAM", ""}) {
        const QString s = QLatin1String(suffix);
        QCOMPARE(testing::entries(list(stage, qPrintable("cmbBaudRate" + s))), kBauds);
        QCOMPARE(testing::entries(list(stage, qPrintable("cmbParity" + s))),
                 QStringList({"None", "Odd", "Even"}));
        QCOMPARE(testing::entries(list(stage, qPrintable("cmbDataBits" + s))), QStringList({"7", "8"}));
        QCOMPARE(testing::entries(list(stage, qPrintable("cmbStopBits" + s))), QStringList({"1", "2"}));
        QCOMPARE(testing::entries(list(stage, qPrintable("cmbFlow" + s))),
                 QStringList({"None", "Xon/Xoff", "Hardware"}));
    }
    // The MAC address is shown and never written.
    QCOMPARE(box(stage, "txtMAC")->text(), stage.fields("MACADDR").value(0));
    QVERIFY(box(stage, "txtMAC")->isReadOnly());
    QVERIFY(w->isModal());
}

// What OK refuses, with which message; an unchanged field is not checked.
void validation(Stage& stage) {
    stage.start(QStringLiteral("3.0.2.1"));
    QVERIFY(stage.open(kWindow));
    testing::typeInto(box(stage, "txtCamName"), QStringLiteral("1Cam"));
    okRefused(stage, "Name Error", "Camera name must start with a letter", PromptIcon::Critical);
    testing::typeInto(box(stage, "txtCamName"), QStringLiteral("Cam 1"));
    okRefused(stage, "Name Error", "Camera name cannot contain non-alphanumeric characters",
              PromptIcon::Critical);
    testing::typeInto(box(stage, "txtCamName"), QStringLiteral("Cell4"));
    for (const char* bad : {"-plant", "4plant", "plant one"}) {
        testing::typeInto(box(stage, "txtDomain"), QLatin1String(bad));
        okRefused(stage, "Name Error", "Domain name must have no spaces and start with a letter",
                  PromptIcon::Critical);
    }
    testing::typeInto(box(stage, "txtDomain"), QStringLiteral("local"));
    struct Address {
        const char* box;
        const char* message;
        const char* good;
    };
    for (const Address& a :
         {Address{"txtSubnet", "Invalid Subnet mask!", "255.0.0.0"},
          Address{"txtGateway", "Invalid Gateway address! (Use 0.0.0.0 to disable)", "0.0.0.0"}}) {
        for (const char* bad : {"255.255.256.0", "10.0.0", "10.0.x.1", "1.2.3.4.5", "10..0.1"}) {
            testing::typeInto(box(stage, a.box), QLatin1String(bad));
            okRefused(stage, "IP Error", QLatin1String(a.message), PromptIcon::Critical);
        }
        testing::typeInto(box(stage, a.box), QLatin1String(a.good));
    }
    testing::typeInto(box(stage, "txtIP"), QStringLiteral("127.0.0.256"));
    okRefused(stage, "IP Error", "Invalid IP address!", PromptIcon::Critical);
    // "0.0.0.0" is a gateway; the name, domain and address pass.
    testing::typeInto(box(stage, "txtIP"), QStringLiteral("127.0.0.23"));
    testing::typeInto(box(stage, "txtGateway"), QStringLiteral("0.0.0.0"));
    // The reader takes names of at most 15 characters: the box holds no more.
    testing::typeInto(box(stage, "txtCamName"), QStringLiteral("Line4_Station12_Top"));
    QCOMPARE(box(stage, "txtCamName")->text(), QStringLiteral("Line4_Station12"));
    testing::typeInto(box(stage, "txtCamName"), QStringLiteral("Cam_01"));
    testing::typeInto(box(stage, "txtDomain"), QStringLiteral("plant-4.example"));
    rebootNotice(stage, {});
    pressOk(stage);
    QCOMPARE(stage.fields("IP"), QStringList({"Cam_01", "127.0.0.23", "255.0.0.0", "0.0.0.0"}));
    QCOMPARE(stage.fields("DOMAIN"), QStringList({"plant-4.example"}));
}

// Opened without control: the reader's frames are disabled and OK sends nothing; Cancel
// never sends.
void withoutControl(Stage& stage) {
    stage.start(QStringLiteral("3.0.2.1"), false);
    QVERIFY(stage.open(kWindow));
    for (const char* name : {"frameTCP", "txtCamName", "txtIP", "optUseDHCP", "txtDomain", "frameCamSerial",
                             "cmbBaudRateCAM", "cmbFlowCAM", "frameMisc", "chkEIPEnable"})
        QVERIFY2(!stage.control(QLatin1String(name))->isEnabled(), name);
    testing::Received received(stage.reader());
    pressOk(stage);
    QCOMPARE(received.lines(), QStringList());

    stage.regainControl();
    QVERIFY(stage.open(kWindow));
    testing::typeInto(box(stage, "txtCamName"), QStringLiteral("Other"));
    testing::choose(list(stage, "cmbBaudRateCAM"), QStringLiteral("9600"));
    received.clear();
    stage.press(QStringLiteral("btnCancel"));
    QTRY_VERIFY(!stage.window()->isVisible());
    QCOMPARE(received.lines(), QStringList());
}

// Reader parity picks the data bits: a parity bit goes with seven.
void parityPicksDataBits(Stage& stage) {
    stage.start(QStringLiteral("3.0.2.1"));
    QVERIFY(stage.open(kWindow));
    testing::choose(list(stage, "cmbParityCAM"), QStringLiteral("Even"));
    QCOMPARE(list(stage, "cmbDataBitsCAM")->currentText(), QStringLiteral("7"));
    testing::choose(list(stage, "cmbParityCAM"), QStringLiteral("None"));
    QCOMPARE(list(stage, "cmbDataBitsCAM")->currentText(), QStringLiteral("8"));
    testing::choose(list(stage, "cmbParityCAM"), QStringLiteral("Odd"));
    stage.press(QStringLiteral("btnOK"));
    QTRY_COMPARE(stage.fields("TTY"), QStringList({"115200", "O", "7", "1", "N"}));
}

// The terminal settings of the reader's serial line as it stands: speed, stop bits and
// handshake.
QStringList lineOf(const QString& device) {
    const int fd = ::open(device.toLocal8Bit().constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return {QStringLiteral("cannot open ") + device};
    const auto done = qScopeGuard([fd] { ::close(fd); });
    termios t = {};
    if (::tcgetattr(fd, &t) != 0)
        return {QStringLiteral("no terminal")};
    const QHash<speed_t, QString> speeds = {{B1200, "1200"},   {B9600, "9600"},   {B19200, "19200"},
                                            {B38400, "38400"}, {B57600, "57600"}, {B115200, "115200"}};
    const bool soft = (t.c_iflag & (IXON | IXOFF)) == (IXON | IXOFF);
    const bool hard = t.c_cflag & CRTSCTS;
    return {speeds.value(::cfgetospeed(&t), "other"), (t.c_cflag & CSTOPB) ? "2" : "1",
            hard ? (soft ? "both" : "Hardware") : (soft ? "Xon/Xoff" : "None")};
}

// The reader's port takes each handshake, speed and stop bits on its line at once.
void readerLineFollows(Stage& stage) {
    sim::ReaderConfig config = testing::readerConfig(QStringLiteral("Serial1"), QStringLiteral("3.0.2.1"));
    config.serial = true;
    stage.start(config);
    const QString device = stage.reader().serialDevice();
    QCOMPARE(lineOf(device), QStringList({"115200", "1", "None"}));
    struct Step {
        const char* baud;
        const char* stop;
        const char* flow;
        QStringList tty;
    };
    const Step steps[] = {{"9600", "1", "Xon/Xoff", {"9600", "N", "8", "1", "X"}},
                          {"38400", "2", "Hardware", {"38400", "N", "8", "2", "H"}},
                          {"1200", "1", "None", {"1200", "N", "8", "1", "N"}}};
    for (const Step& s : steps) {
        QVERIFY(stage.open(kWindow));
        testing::choose(list(stage, "cmbBaudRateCAM"), QLatin1String(s.baud));
        testing::choose(list(stage, "cmbStopBitsCAM"), QLatin1String(s.stop));
        testing::choose(list(stage, "cmbFlowCAM"), QLatin1String(s.flow));
        pressOk(stage);
        QCOMPARE(stage.fields("TTY"), s.tty);
        QTRY_COMPARE(lineOf(device), QStringList({s.baud, s.stop, s.flow}));
    }
}

// The key the dialog keeps a PC port's settings under.
quint32 stored(const QString& port, const char* value) {
    return app::ReadRegistryDword(app::RegistryRoot::LocalMachine,
                                  QStringLiteral("SOFTWARE\\Terrawick\\Device\\") + port +
                                      QStringLiteral("\\ConnectionParameters\\Serial"),
                                  QLatin1String(value), 0xdead);
}

// The PC frame: a port's stored settings are shown (defaults when none), changes are stored
// for that port only when OK is pressed; the port the reader is reached through is chosen
// and locked, and OK brackets the send with OFFLINE and CONTROL, ONLINE.
void pcPorts(Stage& stage) {
    QTemporaryDir registry;
    const QString previous = app::registryFolder();
    app::setRegistryFolder(registry.path());
    const auto restore = qScopeGuard([previous] { app::setRegistryFolder(previous); });

    sim::ReaderConfig config = testing::readerConfig(QStringLiteral("Serial2"), QStringLiteral("3.0.2.1"));
    config.serial = true;
    stage.start(config);
    const QString port = stage.reader().serialPortName() + QLatin1Char(':');
    QVERIFY(stage.open(kWindow));
    QComboBox* ports = list(stage, "listPorts");
    QVERIFY(ports->isEnabled());
    testing::choose(ports, port);
    // What the PC frame's lists show.
    auto shown = [&] {
        QStringList out;
        for (const char* l : {"cmbBaudRate", "cmbParity", "cmbDataBits", "cmbStopBits", "cmbFlow"})
            out << list(stage, l)->currentText();
        return out;
    };
    QCOMPARE(shown(), QStringList({"115200", "None", "8", "1", "None"}));
    testing::choose(list(stage, "cmbBaudRate"), QStringLiteral("19200"));
    testing::choose(list(stage, "cmbParity"), QStringLiteral("Odd"));
    QCOMPARE(list(stage, "cmbDataBits")->currentText(), QStringLiteral("7"));
    testing::choose(list(stage, "cmbStopBits"), QStringLiteral("2"));
    testing::choose(list(stage, "cmbFlow"), QStringLiteral("Hardware"));
    QCOMPARE(stored(port, "BaudRate"), 0xdeadu);
    testing::Received received(stage.reader());
    pressOk(stage);
    QCOMPARE(received.lines(), QStringList());
    QCOMPARE(stored(port, "BaudRate"), 19200u);
    QCOMPARE(stored(port, "Parity"), 1u);
    QCOMPARE(stored(port, "ByteSize"), 7u);
    QCOMPARE(stored(port, "StopBits"), 2u);
    QCOMPARE(stored(port, "FlowControl"), 2u);

    QVERIFY(stage.open(kWindow));
    testing::choose(list(stage, "listPorts"), port);
    QCOMPARE(shown(), QStringList({"19200", "Odd", "7", "2", "Hardware"}));
    // Even parity; then no parity picks eight data bits and Xon/Xoff is flow 1.
    testing::choose(list(stage, "cmbParity"), QStringLiteral("Even"));
    testing::choose(list(stage, "cmbParity"), QStringLiteral("None"));
    QCOMPARE(list(stage, "cmbDataBits")->currentText(), QStringLiteral("8"));
    testing::choose(list(stage, "cmbStopBits"), QStringLiteral("1"));
    testing::choose(list(stage, "cmbFlow"), QStringLiteral("Xon/Xoff"));
    pressOk(stage);
    QCOMPARE(stored(port, "Parity"), 0u);
    QCOMPARE(stored(port, "ByteSize"), 8u);
    QCOMPARE(stored(port, "StopBits"), 0u);
    QCOMPARE(stored(port, "FlowControl"), 1u);

    // Reached through that port (stored to match the reader's line): chosen and locked.
    QVERIFY(stage.open(kWindow));
    testing::choose(list(stage, "listPorts"), port);
    testing::choose(list(stage, "cmbBaudRate"), QStringLiteral("115200"));
    testing::choose(list(stage, "cmbFlow"), QStringLiteral("None"));
    pressOk(stage);
    stage.close();
    link::Coordinator coordinator;
    testing::focusReader(coordinator, port);
    QTRY_VERIFY(stage.station().Connected());
    stage.regainControl();
    QVERIFY(stage.open(kWindow));
    QCOMPARE(list(stage, "listPorts")->currentText(), port);
    QVERIFY(!list(stage, "listPorts")->isEnabled());
    testing::choose(list(stage, "cmbStopBitsCAM"), QStringLiteral("1"));
    testing::choose(list(stage, "cmbBaudRateCAM"), QStringLiteral("115200"));
    received.clear();
    testing::choose(list(stage, "cmbFlowCAM"), QStringLiteral("None"));
    testing::typeInto(box(stage, "txtDomain"), QStringLiteral("serial.example"));
    rebootNotice(stage, {});
    pressOk(stage);
    QStringList sent;
    for (const QString& line :
         stage.reader().receivedCommands().mid(stage.reader().receivedCommands().size() - 4))
        sent << line;
    QCOMPARE(sent, QStringList({"OFFLINE", "DOMAIN serial.example", "CONTROL", "ONLINE"}));
    testing::focusReader(coordinator, QString());
}

// Below level 3 there is no Ethernet/IP: the reader is not asked for it, and the rest of
// the dialog works as before.
void olderReader(Stage& stage) {
    stage.start(sim::softwareVersionForLevel(2));
    testing::Received received(stage.reader());
    QVERIFY(stage.open(kWindow));
    QCOMPARE(received.starting(QStringLiteral("EIPENABLE")), QStringList());
    QVERIFY(!stage.control("chkEIPEnable")->isEnabled());
    QVERIFY(stage.control("txtCamName")->isEnabled());
    testing::typeInto(box(stage, "txtDomain"), QStringLiteral("old.example"));
    rebootNotice(stage, {});
    pressOk(stage);
    QCOMPARE(received.starting(QStringLiteral("EIPENABLE")), QStringList());
    QCOMPARE(stage.fields("DOMAIN"), QStringList({"old.example"}));
    // From level 3 it is there.
    stage.close();
    stage.end();
    stage.begin();
    stage.start(sim::softwareVersionForLevel(3));
    stage.send(QStringLiteral("EIPENABLE Y"));
    QVERIFY(stage.open(kWindow));
    QVERIFY(stage.control("chkEIPEnable")->isEnabled());
    QVERIFY(qobject_cast<QCheckBox*>(stage.control("chkEIPEnable"))->isChecked());
}

// Replies lost while the dialog loads: what was not read is not shown as a value, its controls
// are greyed and marked, the dialog names it, and OK sends the other changes without it.
void lostReplies(Stage& stage) {
    stage.start(QStringLiteral("3.0.2.1"));
    stage.send(QStringLiteral("TTY 9600 E 7 2 H"));
    stage.send(QStringLiteral("DHCP Y"));
    auto marked = [&](const char* name) {
        return stage.control(QLatin1String(name))
            ->property(settings::SettingsWindow::kNotReadProperty)
            .toBool();
    };
    auto note = [&] {
        auto* label = qobject_cast<QLabel*>(stage.control(QStringLiteral("NotReadNote")));
        return label && label->isVisibleTo(stage.window()) ? label->text() : QStringLiteral("(no note)");
    };
    struct Lost {
        const char* keyword;
        QStringList controls;
        const char* domain;
    };
    const Lost cases[] = {
        {"DHCP", {"optUseDHCP", "optUseStaticIP"}, "lost.example"},
        {"TTY",
         {"cmbBaudRateCAM", "cmbParityCAM", "cmbDataBitsCAM", "cmbStopBitsCAM", "cmbFlowCAM"},
         "lost2.example"},
    };
    for (const Lost& c : cases) {
        stage.reader().setNextReplyFault(sim::ReplyFault::Silent, 0, QLatin1String(c.keyword));
        QVERIFY(stage.open(kWindow));
        for (const QString& name : c.controls) {
            QVERIFY2(!stage.control(name)->isEnabled(), qPrintable(name));
            QVERIFY2(marked(qPrintable(name)), qPrintable(name));
        }
        QVERIFY2(note().contains(QLatin1String(c.keyword)), qPrintable(note()));
        QVERIFY(!marked("txtDomain") && stage.control(QStringLiteral("txtDomain"))->isEnabled());
        if (QByteArray(c.keyword) == "DHCP") {
            // Neither option: the dialog does not know which the reader uses.
            QVERIFY(!qobject_cast<QRadioButton*>(stage.control("optUseStaticIP"))->isChecked());
            QVERIFY(!qobject_cast<QRadioButton*>(stage.control("optUseDHCP"))->isChecked());
        } else {
            for (const QString& name : c.controls)
                QVERIFY2(qobject_cast<QComboBox*>(stage.control(name))->currentIndex() == -1,
                         qPrintable(name));
        }
        // Another change goes out; what was not read stays as the reader holds it.
        testing::typeInto(box(stage, "txtDomain"), QLatin1String(c.domain));
        testing::Received received(stage.reader());
        rebootNotice(stage, {});
        pressOk(stage);
        QCOMPARE(received.lines(), QStringList({QStringLiteral("DOMAIN ") + QLatin1String(c.domain)}));
        QCOMPARE(stage.fields("TTY"), QStringList({"9600", "E", "7", "2", "H"}));
        QCOMPARE(stage.fields("DHCP"), QStringList({"Y"}));
    }
    // Answered again: shown, and nothing named.
    QVERIFY(stage.open(kWindow));
    QCOMPARE(list(stage, "cmbBaudRateCAM")->currentText(), QStringLiteral("9600"));
    QVERIFY(qobject_cast<QRadioButton*>(stage.control("optUseDHCP"))->isChecked());
    QVERIFY(!marked("cmbBaudRateCAM") && !marked("optUseDHCP"));
    QCOMPARE(note(), QStringLiteral("(no note)"));
}

// A new identity the reader refuses: the refusal is told with the reader's reason, nobody is
// asked to reboot for settings that never arrived, and the dialog stays open with the edit.
void refusedIdentity(Stage& stage) {
    stage.start(QStringLiteral("3.0.2.1"));
    QVERIFY(stage.open(kWindow));
    testing::typeInto(box(stage, "txtCamName"), QStringLiteral("Cell7"));
    stage.reader().setNextReplyFault(sim::ReplyFault::Refused, 0, QStringLiteral("IP"));
    stage.unexpected()->expectMessage(
        QStringLiteral("Velmarrow"),
        QStringLiteral("The camera did not accept these settings:\r\nIP: !IP ERROR "
                       "8 refused by the reader: the value cannot be applied now"),
        PromptIcon::Exclamation, PromptButtons::Ok, PromptAnswer::Ok);
    stage.press(QStringLiteral("btnOK"));
    QCOMPARE(stage.unexpected()->pendingCount(), 0);
    QVERIFY(stage.window()->isVisible());
    QCOMPARE(box(stage, "txtCamName")->text(), QStringLiteral("Cell7"));
    QCOMPARE(stage.fields("IP").value(0), QStringLiteral("Contract"));
    // Sent again, it goes through and the reboot is asked for.
    rebootNotice(stage, {});
    pressOk(stage);
    QCOMPARE(stage.fields("IP").value(0), QStringLiteral("Cell7"));
}

} // namespace

WindowContract commSetupContract() {
    WindowContract w;
    w.window = kWindow;
    w.okButton = QStringLiteral("btnOK");
    w.controlAtOpening = true;
    w.lowVersion = sim::softwareVersionForLevel(2);
    w.controls = {
        row("txtCamName", Kind::Box, "IP", 0,
            {{"Contract", "Contract"}, {"Cam_01", "Cam_01"}, {"Line9", "Line9"}}, true),
        row("txtIP", Kind::Box, "IP", 1,
            {{"127.0.0.23", "127.0.0.23"}, {"127.0.0.45", "127.0.0.45"}, {"10.1.2.3", "10.1.2.3"}}, true),
        row("txtSubnet", Kind::Box, "IP", 2,
            {{"255.0.0.0", "255.0.0.0"}, {"255.255.255.0", "255.255.255.0"}, {"255.255.0.0", "255.255.0.0"}},
            true),
        row("txtGateway", Kind::Box, "IP", 3,
            {{"0.0.0.0", "0.0.0.0"}, {"10.1.2.254", "10.1.2.254"}, {"192.168.0.1", "192.168.0.1"}}, true),
        row("txtDomain", Kind::Box, "DOMAIN", 0,
            {{"local", "local"}, {"plant-4.example", "plant-4.example"}, {"Line_3", "Line_3"}}, true),
        row("frameTCP", Kind::Radios, "DHCP", 0,
            {{"N", "optUseStaticIP"}, {"Y", "optUseDHCP"}, {"N", "optUseStaticIP"}}, true),
        row("cmbBaudRateCAM", Kind::List, "TTY", 0,
            {{"115200", "115200"},
             {"9600", "9600"},
             {"1200", "1200"},
             {"38400", "38400"},
             {"57600", "57600"}},
            false),
        row("cmbParityCAM", Kind::List, "TTY", 1, {{"N", "None"}, {"O", "Odd"}, {"E", "Even"}, {"N", "None"}},
            false),
        row("cmbDataBitsCAM", Kind::List, "TTY", 2, {{"8", "8"}, {"7", "7"}, {"8", "8"}}, false),
        row("cmbStopBitsCAM", Kind::List, "TTY", 3, {{"1", "1"}, {"2", "2"}, {"1", "1"}}, false),
        row("cmbFlowCAM", Kind::List, "TTY", 4,
            {{"N", "None"}, {"X", "Xon/Xoff"}, {"H", "Hardware"}, {"N", "None"}}, false),
        row("chkEIPEnable", Kind::Check, "EIPENABLE", 0, {{"N", "off"}, {"Y", "on"}, {"N", "off"}}, true),
    };
    // Choosing a parity picks the data bits that go with it.
    w.controls[7].alsoWrites = {QStringLiteral("TTY:2")};
    // Ethernet/IP exists from level 3; below it the box stays disabled.
    w.controls.last().fromLevel = 3;
    w.controls.last().below = Below::Disabled;
    // The MAC address is shown read-only and never written; the PC port list and its five
    // lists go to this PC's registry, not to the reader. Both are pinned in the checks.
    w.notFields = {
        QStringLiteral("txtMAC"),    QStringLiteral("listPorts"),   QStringLiteral("cmbBaudRate"),
        QStringLiteral("cmbParity"), QStringLiteral("cmbDataBits"), QStringLiteral("cmbStopBits"),
        QStringLiteral("cmbFlow"),
    };
    w.checks = {texts,   validation,  withoutControl, parityPicksDataBits, readerLineFollows,
                pcPorts, olderReader, lostReplies,    refusedIdentity};
    return w;
}

} // namespace vm::contracts
