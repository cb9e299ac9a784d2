// Part queue setup: whether the reader queues parts, which ones, how many, and whether their
// results and images stay in the reader or go to an FTP server; sent when OK is pressed.
// The inputs follow the queue's own settings; only OK follows programming control.
#include "contracts/contract.h"
#include "contracts/tables/common.h"

#include "settings/settingswindow.h"
#include "sim/catalogue.h"

#include <QLabel>
#include <QPushButton>

namespace vm::contracts {

namespace {

using app::PromptAnswer;
using app::PromptButtons;
using app::PromptIcon;

const QString kWindow = QStringLiteral("dlgPartQueueSetup");
const QString kFtpHeld = QStringLiteral("PARTQFTPEX \"10.0.0.9\" \"parts\" Y Y 0");

const QList<Value> kQualifiers = {{"ALL", "All"},
                                  {"PASSED", "Passed"},
                                  {"FAILED", "Failed"},
                                  {"VER_GOOD_FAIR_POOR_FAILED", "Verify Good, Fair, Poor, Failed"},
                                  {"VER_GOOD_FAIR_POOR", "Verify Good, Fair, Poor"},
                                  {"VER_GOOD_FAIR", "Verify Good, Fair"},
                                  {"VER_GOOD", "Verify Good"},
                                  {"VER_FAIR", "Verify Fair"},
                                  {"VER_POOR", "Verify Poor"},
                                  {"VER_FAILED", "Verify Failed"},
                                  {"VER_POOR_FAILED", "Verify Poor, Failed"},
                                  {"VER_FAIR_POOR_FAILED", "Verify Fair, Poor, Failed"}};
const QList<Value> kFailures = {{"ALL", "All"},
                                {"LOCFL", "Location Failure"},
                                {"DECFL", "Decode Failure"},
                                {"MATCHFL", "Match Failure"},
                                {"RTE", "Runtime Error"}};

ControlContract row(const char* name, Kind kind, const char* parameter, int field, QList<Value> values,
                    QStringList needs = {}) {
    ControlContract c;
    c.name = QLatin1String(name);
    c.kind = kind;
    c.parameter = QLatin1String(parameter);
    c.field = field;
    c.values = std::move(values);
    c.needs = std::move(needs);
    // The inputs follow the queue's settings; OK alone needs control (checks).
    c.needsControl = false;
    return c;
}

QComboBox* list(Stage& stage, const char* name) {
    return qobject_cast<QComboBox*>(stage.control(QLatin1String(name)));
}

QLineEdit* box(Stage& stage, const char* name) {
    return qobject_cast<QLineEdit*>(stage.control(QLatin1String(name)));
}

QString capacity(Stage& stage) {
    return qobject_cast<QLabel*>(stage.control(QStringLiteral("capacityLabel")))->text();
}

QPushButton* ok(Stage& stage) {
    return qobject_cast<QPushButton*>(stage.control(QStringLiteral("btnOK")));
}

// The label of a control, by its buddy.
QString labelOf(Stage& stage, const char* name) {
    QWidget* control = stage.control(QLatin1String(name));
    for (QLabel* l : stage.window()->findChildren<QLabel*>())
        if (l->buddy() == control)
            return l->text().remove(QLatin1Char('&'));
    return QStringLiteral("(no label)");
}

void texts(Stage& stage) {
    stage.start(QStringLiteral("3.0.2.1"));
    QWidget* w = stage.open(kWindow);
    QVERIFY(w);
    QCOMPARE(w->windowTitle().section(QStringLiteral(" - "), -1), QStringLiteral("Configure Part Queue"));
    const QHash<QString, QString> labels = {{"cmbOnOff", "Part Queue On/Off"},
                                            {"cmbQualify", "Qualifier"},
                                            {"cmbQualFail", "Specific Failure"},
                                            {"txtSize", "Maximum Records"},
                                            {"cmbSaveMethod", "Save Method:"},
                                            {"txtHost", "Host IP:"},
                                            {"txtPath", "Path:"},
                                            {"cmbSaveResults", "Save Results (.txt):"},
                                            {"cmbSaveImg", "Save Images (.bmp):"},
                                            {"txtFTPSize", "Max FTP Records:"}};
    for (auto it = labels.begin(); it != labels.end(); ++it)
        QCOMPARE(labelOf(stage, qPrintable(it.key())), it.value());
    QStringList qualifiers, failures;
    for (const Value& v : kQualifiers)
        qualifiers << v.shown;
    for (const Value& v : kFailures)
        failures << v.shown;
    QCOMPARE(testing::entries(list(stage, "cmbOnOff")), QStringList({"On", "Off"}));
    QCOMPARE(testing::entries(list(stage, "cmbQualify")), qualifiers);
    QCOMPARE(testing::entries(list(stage, "cmbQualFail")), failures);
    QCOMPARE(testing::entries(list(stage, "cmbSaveMethod")),
             QStringList({"Save in camera memory", "Save on remote system (FTP)"}));
    QCOMPARE(testing::entries(list(stage, "cmbSaveResults")), QStringList({"Yes", "No"}));
    QCOMPARE(testing::entries(list(stage, "cmbSaveImg")), QStringList({"Yes", "No"}));
    compareCaptions(stage, {{"btnOK", "OK"}, {"btnCancel", "Cancel"}});
    QVERIFY(w->isModal());
}

// Which inputs can be used, by the queue's own settings.
void enabling(Stage& stage) {
    stage.start(QStringLiteral("3.0.2.1"));
    stage.send(QStringLiteral("PARTQ N ALL 10"));
    stage.send(kFtpHeld);
    QVERIFY(stage.open(kWindow));
    // OK follows programming control alone: with nothing changed it just closes.
    QVERIFY(ok(stage)->isEnabled());
    stage.releaseControl();
    QTRY_VERIFY(!ok(stage)->isEnabled());
    stage.regainControl();
    QTRY_VERIFY(ok(stage)->isEnabled());
    // The reader's "N": Off, with images "No", whatever the FTP settings say.
    QCOMPARE(list(stage, "cmbOnOff")->currentText(), QStringLiteral("Off"));
    const char* inputs[] = {"cmbQualify", "cmbQualFail",    "txtSize",    "cmbSaveMethod", "txtHost",
                            "txtPath",    "cmbSaveResults", "cmbSaveImg", "txtFTPSize"};
    for (const char* name : inputs)
        QVERIFY2(!stage.control(QLatin1String(name))->isEnabled(), name);
    testing::choose(list(stage, "cmbOnOff"), QStringLiteral("On"));
    for (const char* name : inputs)
        QVERIFY2(stage.control(QLatin1String(name))->isEnabled() == (QByteArray(name) != "cmbQualFail"),
                 name);
    testing::choose(list(stage, "cmbQualify"), QStringLiteral("Failed"));
    QVERIFY(list(stage, "cmbQualFail")->isEnabled());
    testing::choose(list(stage, "cmbQualify"), QStringLiteral("Verify Failed"));
    QVERIFY(!list(stage, "cmbQualFail")->isEnabled());
    // Camera memory: no host, path or results; no FTP maximum.
    testing::choose(list(stage, "cmbSaveMethod"), QStringLiteral("Save in camera memory"));
    for (const char* name : {"txtHost", "txtPath", "cmbSaveResults"})
        QVERIFY2(!stage.control(QLatin1String(name))->isVisibleTo(stage.window()), name);
    QCOMPARE(box(stage, "txtFTPSize")->text(), QStringLiteral("0"));
    QVERIFY(!box(stage, "txtFTPSize")->isEnabled());
    QVERIFY(list(stage, "cmbSaveImg")->isEnabled());
    // Back to FTP: the reader's FTP fields come back.
    testing::choose(list(stage, "cmbSaveMethod"), QStringLiteral("Save on remote system (FTP)"));
    for (const char* name : {"txtHost", "txtPath", "cmbSaveResults", "txtFTPSize"})
        QVERIFY2(stage.control(QLatin1String(name))->isVisibleTo(stage.window()) &&
                     stage.control(QLatin1String(name))->isEnabled(),
                 name);
    QCOMPARE(list(stage, "cmbSaveResults")->currentText(), QStringLiteral("Yes"));
    QCOMPARE(list(stage, "cmbSaveImg")->currentText(), QStringLiteral("Yes"));

    // OK follows control; the operator is told which settings were not sent, they stay and go
    // out once control is back.
    QVERIFY(ok(stage)->isEnabled());
    stage.unexpected()->expectMessage(
        QStringLiteral("Velmarrow"),
        QStringLiteral("Programming control of the camera was lost. These changes were not sent: PARTQ."),
        app::PromptIcon::Exclamation, app::PromptButtons::Ok, app::PromptAnswer::Ok);
    stage.releaseControl();
    QTRY_VERIFY(!ok(stage)->isEnabled());
    // The inputs are the queue's own settings: they stay usable without control.
    for (const char* name : inputs)
        QVERIFY2(stage.control(QLatin1String(name))->isEnabled() == (QByteArray(name) != "cmbQualFail"),
                 name);
    stage.regainControl();
    QTRY_VERIFY(ok(stage)->isEnabled());
    pressOk(stage);
    QCOMPARE(stage.fields("PARTQ"), QStringList({"Y", "VER_FAILED", "10"}));

    // Off writes the mode only.
    QVERIFY(stage.open(kWindow));
    testing::Received received(stage.reader());
    testing::choose(list(stage, "cmbOnOff"), QStringLiteral("Off"));
    pressOk(stage);
    QCOMPARE(received.lines().join(QLatin1Char('|')), QStringLiteral("PARTQ N VER_FAILED 10"));
    // Nothing changed: OK closes without a word to the reader; so does Cancel.
    received.clear();
    QVERIFY(stage.open(kWindow));
    pressOk(stage);
    QVERIFY(stage.open(kWindow));
    testing::choose(list(stage, "cmbOnOff"), QStringLiteral("On"));
    stage.window()->findChild<QPushButton*>(QStringLiteral("btnCancel"))->click();
    QTRY_VERIFY(!stage.window()->isVisible());
    // The openings asked for the queue's settings; nothing was written.
    for (const QString& line : received.lines())
        QVERIFY2(!line.contains(QLatin1Char(' ')), qPrintable(line));
}

// "R" shows On without images and is written again as "R"; a qualifier other than Failed
// leaves the failure kind alone; the capacity follows Save Images.
void resultsOnly(Stage& stage) {
    stage.start(QStringLiteral("3.0.2.1"));
    stage.send(QStringLiteral("PARTQ R PASSED 10"));
    stage.send(QStringLiteral("PARTQFAIL MATCHFL"));
    QVERIFY(stage.open(kWindow));
    QCOMPARE(list(stage, "cmbOnOff")->currentText(), QStringLiteral("On"));
    QCOMPARE(list(stage, "cmbSaveImg")->currentText(), QStringLiteral("No"));
    QCOMPARE(list(stage, "cmbSaveMethod")->currentText(), QStringLiteral("Save in camera memory"));
    QCOMPARE(box(stage, "txtFTPSize")->text(), QStringLiteral("0"));
    // The reader's 64 MiB hold 32768 results of 2048 bytes, but only 203 parts that keep the
    // 659 x 494 bitmap (header, palette, four-byte rows: 327118 bytes) beside their result.
    QCOMPARE(capacity(stage), QStringLiteral("Capacity = ~ 32768"));
    testing::choose(list(stage, "cmbSaveImg"), QStringLiteral("Yes"));
    QCOMPARE(capacity(stage), QStringLiteral("Capacity = ~ 203"));
    testing::choose(list(stage, "cmbSaveImg"), QStringLiteral("No"));
    // A failure kind chosen under "Failed" and left for another qualifier is not written.
    testing::choose(list(stage, "cmbQualify"), QStringLiteral("Failed"));
    testing::choose(list(stage, "cmbQualFail"), QStringLiteral("Decode Failure"));
    testing::choose(list(stage, "cmbQualify"), QStringLiteral("Passed"));
    testing::typeInto(box(stage, "txtSize"), QStringLiteral("12"));
    testing::Received received(stage.reader());
    pressOk(stage);
    QCOMPARE(received.lines(), QStringList({"PARTQ R PASSED 12"}));
    QCOMPARE(stage.fields("PARTQFAIL"), QStringList({"MATCHFL"}));
    // "Y" shows On with images.
    stage.send(QStringLiteral("PARTQ Y PASSED 12"));
    QVERIFY(stage.open(kWindow));
    QCOMPARE(list(stage, "cmbOnOff")->currentText(), QStringLiteral("On"));
    QCOMPARE(list(stage, "cmbSaveImg")->currentText(), QStringLiteral("Yes"));
}

// What OK refuses, with which message; 9999 FTP records pass.
void validation(Stage& stage) {
    stage.start(QStringLiteral("3.0.2.1"));
    stage.send(QStringLiteral("PARTQ Y ALL 5"));
    QVERIFY(stage.open(kWindow));
    testing::choose(list(stage, "cmbSaveMethod"), QStringLiteral("Save on remote system (FTP)"));
    for (const char* bad : {"-3", "many", "", "1.5"}) {
        testing::typeInto(box(stage, "txtSize"), QLatin1String(bad));
        okRefused(stage, "Validation Error", "Illegal maximum records value!", PromptIcon::Exclamation);
        QVERIFY(box(stage, "txtSize")->hasFocus());
    }
    testing::typeInto(box(stage, "txtSize"), QStringLiteral("5"));
    okRefused(stage, "FTP Setup Error", "Host IP and Path must be specified!", PromptIcon::Exclamation);
    testing::typeInto(box(stage, "txtHost"), QStringLiteral("10.1.1.1"));
    okRefused(stage, "FTP Setup Error", "Host IP and Path must be specified!", PromptIcon::Exclamation);
    // A quote followed by a blank would end the reader's text early.
    testing::typeInto(box(stage, "txtPath"), QStringLiteral("a\" b"));
    okRefused(stage, "Velmarrow",
              QStringLiteral("The text in \"%1\" cannot hold a double quote followed by a blank: the camera "
                             "would read it as two settings.")
                  .arg(QStringLiteral("Path")),
              PromptIcon::Exclamation);
    QVERIFY(box(stage, "txtPath")->hasFocus());
    testing::typeInto(box(stage, "txtPath"), QStringLiteral("p"));
    testing::choose(list(stage, "cmbSaveResults"), QStringLiteral("No"));
    testing::choose(list(stage, "cmbSaveImg"), QStringLiteral("No"));
    okRefused(stage, "FTP Setup Error", "Please specify either results and/or images to save",
              PromptIcon::Exclamation);
    testing::choose(list(stage, "cmbSaveResults"), QStringLiteral("Yes"));
    for (const char* bad : {"10000", "-1", "x"}) {
        testing::typeInto(box(stage, "txtFTPSize"), QLatin1String(bad));
        okRefused(stage, "Validation Error", "Illegal maximum FTP records value!", PromptIcon::Exclamation);
    }
    testing::typeInto(box(stage, "txtFTPSize"), QStringLiteral("9999"));
    pressOk(stage);
    QCOMPARE(stage.fields("PARTQ"), QStringList({"R", "ALL", "5"}));
    QCOMPARE(stage.fields("PARTQFTPEX"), QStringList({"\"10.1.1.1\"", "\"p\"", "Y", "N", "9999"}));
}

// Below level 7 the FTP settings are PARTQFTP, four fields, and there is no FTP maximum;
// below level 4 there is no capacity.
void olderReaders(Stage& stage) {
    stage.start(sim::softwareVersionForLevel(6));
    stage.send(QStringLiteral("PARTQ Y ALL 12"));
    stage.send(QStringLiteral("PARTQFTP \"ftp.plant\" \"q\" N Y"));
    QVERIFY(stage.open(kWindow));
    QVERIFY(!box(stage, "txtFTPSize")->isVisibleTo(stage.window()));
    QCOMPARE(box(stage, "txtHost")->text(), QStringLiteral("ftp.plant"));
    QCOMPARE(list(stage, "cmbSaveResults")->currentText(), QStringLiteral("No"));
    QCOMPARE(list(stage, "cmbSaveImg")->currentText(), QStringLiteral("Yes"));
    QCOMPARE(capacity(stage), QStringLiteral("Capacity = ~ ") + stage.fields("PARTQCAPACITY").value(0));
    testing::choose(list(stage, "cmbSaveResults"), QStringLiteral("Yes"));
    testing::typeInto(box(stage, "txtPath"), QStringLiteral("q2"));
    testing::Received received(stage.reader());
    pressOk(stage);
    QCOMPARE(received.lines(), QStringList({"PARTQFTP \"ftp.plant\" \"q2\" Y Y"}));
    QVERIFY(stage.open(kWindow));
    testing::choose(list(stage, "cmbSaveMethod"), QStringLiteral("Save in camera memory"));
    pressOk(stage);
    QCOMPARE(stage.fields("PARTQFTP"), QStringList({"\"\"", "\"\"", "N", "N"}));
    // The capacity is shown from level 4.
    for (const int level : {3, 4}) {
        stage.close();
        stage.end();
        stage.begin();
        stage.start(sim::softwareVersionForLevel(level));
        QVERIFY(stage.open(kWindow));
        QVERIFY2(capacity(stage).startsWith(QStringLiteral("Capacity = ~ ")) == (level >= 4),
                 qPrintable(QStringLiteral("level %1: %2").arg(level).arg(capacity(stage))));
    }
}

// The FTP settings not answered when the dialog opens: their inputs are greyed and marked, the
// dialog names them, and OK sends the queue's own settings without them.
void lostReply(Stage& stage) {
    stage.start(QStringLiteral("3.0.2.1"));
    stage.send(QStringLiteral("PARTQ R ALL 10"));
    stage.send(kFtpHeld);
    stage.reader().setNextReplyFault(sim::ReplyFault::Silent, 0, QStringLiteral("PARTQFTPEX"));
    QVERIFY(stage.open(kWindow));
    QCOMPARE(list(stage, "cmbOnOff")->currentText(), QStringLiteral("On"));
    QVERIFY(list(stage, "cmbQualify")->isEnabled());
    for (const char* name : {"cmbSaveMethod", "txtHost", "txtPath", "cmbSaveResults", "txtFTPSize"}) {
        QWidget* control = stage.control(QLatin1String(name));
        QVERIFY2(!control->isEnabled(), name);
        QVERIFY2(control->property(settings::SettingsWindow::kNotReadProperty).toBool(), name);
    }
    QCOMPARE(list(stage, "cmbSaveMethod")->currentIndex(), -1);
    auto* note = qobject_cast<QLabel*>(stage.control(QStringLiteral("NotReadNote")));
    QVERIFY(note && note->isVisibleTo(stage.window()));
    QVERIFY2(note->text().contains(QStringLiteral("PARTQFTPEX")), qPrintable(note->text()));
    testing::choose(list(stage, "cmbQualify"), QStringLiteral("Passed"));
    testing::Received received(stage.reader());
    pressOk(stage);
    QCOMPARE(received.lines(), QStringList({"PARTQ R PASSED 10"}));
    QCOMPARE(stage.fields("PARTQFTPEX"), QStringList({"\"10.0.0.9\"", "\"parts\"", "Y", "Y", "0"}));
}

// Opened with no reader: the dialog says so and closes.
void noReader(Stage& stage) {
    stage.unexpected()->expectMessage(QStringLiteral("Unexpected Error"),
                                      QStringLiteral("Connection object not set in settings box! Exiting..."),
                                      PromptIcon::Critical, PromptButtons::Ok, PromptAnswer::Ok);
    QPointer<QWidget> w = stage.open(kWindow);
    QTRY_VERIFY(!w || !w->isVisible());
}

// One read cycle of the reader, its record number.
qint64 cycle(Stage& stage) {
    QSignalSpy delivered(&stage.reader(), &sim::Reader::recordDelivered);
    stage.send(QStringLiteral("VT"));
    // The cycle may finish while the trigger's reply is still awaited.
    if (!QTest::qWaitFor([&delivered] { return !delivered.isEmpty(); }, 10000))
        return -1;
    return delivered.last().at(0).toLongLong();
}

QList<qint64> queued(Stage& stage) {
    QList<qint64> out;
    for (const QString& line : stage.station().SendCommand(QStringLiteral("PARTQLIST")).lines)
        if (line.startsWith(QLatin1String("PARTQITEM ")))
            out << line.section(QLatin1Char(' '), 1, 1).toLongLong();
    return out;
}

// The queue as the reader keeps it, for each qualifier and failure kind chosen here: a
// part that reads, one not located, one located but not decoded and one read that fails its match.
void readerQueues(Stage& stage) {
    stage.start(QStringLiteral("3.0.2.1"));
    stage.send(QStringLiteral("TRIG T"));
    stage.send(QStringLiteral("PARTQ N ALL 100"));
    struct Case {
        const char* qualifier;
        const char* failure; // "" leaves the failure list as it is
        bool passed, notLocated, notDecoded, notMatched;
    };
    const Case cases[] = {
        {"All", "", true, true, true, true},
        {"Passed", "", true, false, false, false},
        {"Failed", "All", false, true, true, true},
        {"Failed", "Location Failure", false, true, false, false},
        {"Failed", "Decode Failure", false, false, true, false},
        {"Failed", "Match Failure", false, false, false, true},
        // Parts the reader does not grade fall in no grade range.
        {"Verify Good, Fair, Poor, Failed", "", false, false, false, false},
    };
    for (const Case& c : cases) {
        // Off empties the queue.
        stage.send(QStringLiteral("PARTQ N ALL 100"));
        QVERIFY(stage.open(kWindow));
        testing::choose(list(stage, "cmbOnOff"), QStringLiteral("On"));
        testing::choose(list(stage, "cmbQualify"), QLatin1String(c.qualifier));
        if (*c.failure)
            testing::choose(list(stage, "cmbQualFail"), QLatin1String(c.failure));
        pressOk(stage);
        QString error;
        QVERIFY(stage.reader().setScene(QStringLiteral("contrast"), QStringLiteral("90"), &error));
        const qint64 passed = cycle(stage);
        QVERIFY(stage.reader().setScene(QStringLiteral("contrast"), QStringLiteral("0"), &error));
        const qint64 notLocated = cycle(stage);
        QVERIFY(stage.reader().setScene(QStringLiteral("contrast"), QStringLiteral("90"), &error));
        stage.send(QStringLiteral("NUMDM 0"));
        const qint64 notDecoded = cycle(stage);
        stage.send(QStringLiteral("NUMDM 1"));
        stage.send(QStringLiteral("MATCHEX T \"NOPE\" 0 1 1 1"));
        const qint64 notMatched = cycle(stage);
        stage.send(QStringLiteral("MATCHEX N \"NOPE\" 0 1 1 1"));
        QList<qint64> expected;
        if (c.passed)
            expected << passed;
        if (c.notLocated)
            expected << notLocated;
        if (c.notDecoded)
            expected << notDecoded;
        if (c.notMatched)
            expected << notMatched;
        QVERIFY2(
            passed > 0 && notLocated > passed && notDecoded > notLocated && notMatched > notDecoded,
            qPrintable(
                QStringLiteral("%1 %2 %3 %4").arg(passed).arg(notLocated).arg(notDecoded).arg(notMatched)));
        QVERIFY2(queued(stage) == expected, qPrintable(QStringLiteral("%1 / %2").arg(
                                                QLatin1String(c.qualifier), QLatin1String(c.failure))));
    }
}

} // namespace

WindowContract partQueueContract() {
    WindowContract w;
    w.window = kWindow;
    w.okButton = QStringLiteral("btnOK");
    w.lowVersion = sim::softwareVersionForLevel(6);
    const QStringList on = {QStringLiteral("PARTQ R ALL 10")};
    const QStringList failed = {QStringLiteral("PARTQ R FAILED 10")};
    const QStringList ftp = {QStringLiteral("PARTQ Y ALL 10"), kFtpHeld};
    QList<Value> qualifiers = kQualifiers;
    qualifiers << kQualifiers.first();
    QList<Value> failures = kFailures;
    failures << kFailures.first();
    w.controls = {
        row("cmbOnOff", Kind::List, "PARTQ", 0, {{"N", "Off"}, {"R", "On"}, {"N", "Off"}}),
        row("cmbQualify", Kind::List, "PARTQ", 1, qualifiers, on),
        row("cmbQualFail", Kind::List, "PARTQFAIL", 0, failures, failed),
        row("txtSize", Kind::Box, "PARTQ", 2,
            {{"10", "10"}, {"0", "0"}, {"250", "250"}, {"2147483647", "2147483647"}}, on),
        // In camera memory Save Images is the queue mode: "Y" with images, "R" without.
        row("cmbSaveImg", Kind::List, "PARTQ", 0, {{"Y", "Yes"}, {"R", "No"}, {"Y", "Yes"}}),
        row("cmbSaveImg", Kind::List, "PARTQFTPEX", 3, {{"Y", "Yes"}, {"N", "No"}, {"Y", "Yes"}}, ftp),
        row("cmbSaveMethod", Kind::List, "PARTQFTPEX", 1,
            {{"\"parts\"", "Save on remote system (FTP)"}, {"\"\"", "Save in camera memory"}}, ftp),
        row("txtHost", Kind::Box, "PARTQFTPEX", 0,
            {{"\"10.0.0.9\"", "10.0.0.9"},
             {"\"ftp.plant\"", "ftp.plant"},
             {"\"127.0.0.1:2121\"", "127.0.0.1:2121"}},
            ftp),
        row("txtPath", Kind::Box, "PARTQFTPEX", 1, {{"\"parts\"", "parts"}, {"\"line/q\"", "line/q"}}, ftp),
        row("cmbSaveResults", Kind::List, "PARTQFTPEX", 2, {{"Y", "Yes"}, {"N", "No"}, {"Y", "Yes"}}, ftp),
        row("txtFTPSize", Kind::Box, "PARTQFTPEX", 4, {{"0", "0"}, {"9999", "9999"}, {"40", "40"}}, ftp),
    };
    // With FTP, Save Images also sets the queue mode.
    w.controls[5].alsoWrites = {QStringLiteral("PARTQ:0")};
    // Camera memory empties the FTP host and switches results and images off.
    w.controls[6].alsoWrites = {QStringLiteral("PARTQFTPEX:0"), QStringLiteral("PARTQFTPEX:2"),
                                QStringLiteral("PARTQFTPEX:3"), QStringLiteral("PARTQFTPEX:4")};
    // The FTP maximum exists from level 7; below it, it is hidden.
    w.controls.last().fromLevel = 7;
    w.controls.last().below = Below::Hidden;
    w.checks = {texts, enabling, resultsOnly, validation, olderReaders, lostReply, noReader, readerQueues};
    return w;
}

} // namespace vm::contracts
