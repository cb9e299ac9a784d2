// The output dialog of the oldest readers: per read event the report, its text, header,
// trailer and beeps; the common header and trailer, hexadecimal data and the match string.
#include "app/windowregistry.h"
#include "contracts/contract.h"
#include "contracts/tables/common.h"
#include "contracts/tables/outputport.h"
#include "io/frmoutput.h"
#include "settings/settingswindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QPushButton>

namespace vm::contracts {

namespace {

const QString kWindow = QStringLiteral("BasicOutput");
const QString kOldest = QStringLiteral("1.0.1.13"); // level 2
// Control index order: Decode Pass, Decode Fail, RT Error, Locate Fail, Match Pass, Match Fail.
const QStringList kEvents = {"OKDEC", "DECFL", "RTE", "LOCFL", "OKMATCH", "MATCHFL"};
const QStringList kCaptions = {"Decode Pass", "Decode Fail", "RT Error",
                               "Locate Fail", "Match Pass",  "Match Fail"};
const QStringList kBeeps = {"no beeps", "1 beep", "2 beeps", "3 beeps"};

void click(QAbstractButton* box) {
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(box->height() / 2, box->height() / 2));
}

void texts(Stage& stage) {
    stage.start(kOldest);
    QWidget* w = stage.open(kWindow);
    QVERIFY(w);
    QVERIFY2(w->windowTitle().endsWith(QLatin1String("- Configure Formatted Output & Beeps")),
             qPrintable(w->windowTitle()));
    compareCaptions(stage, {{"Send_Label", "Enabled"},
                            {"Header_Label", "Header"},
                            {"Trailer_Label", "Trailer"},
                            {"OutFormat", "Output DATA in HEX"},
                            {"MatchEnable", "Match String"},
                            {"OK", "OK"},
                            {"Cancel", "Cancel"},
                            {"Apply", "Apply"}});
    for (int i = 0; i < 6; ++i) {
        QCOMPARE(caption(find<QCheckBox>(stage, QStringLiteral("EnableCheck(%1)").arg(i))), kCaptions[i]);
        QCOMPARE(testing::entries(find<QComboBox>(stage, QStringLiteral("BeepCombo(%1)").arg(i))), kBeeps);
    }
    auto* menu = find<QMenu>(stage, "menuKeyword");
    QVERIFY(menu);
    QStringList items;
    for (QAction* a : menu->actions())
        items << a->text();
    QCOMPARE(items, (QStringList{"(DATA)", "(PID#)", "(TIMESTAMP)", "(DETAILED)", "(VERI_GRADE)",
                                 "(VERI_DETAIL)", "(VERI_FORMATTED)", "New line (\\0d\\0a)"}));
    auto* ok = find<QPushButton>(stage, "OK");
    QVERIFY(!ok->isEnabled());
    QVERIFY(!find<QPushButton>(stage, "Apply")->isEnabled());

    // A keyword goes at the end of the row's text wherever the caret is; each item adds its
    // own text.
    auto* report = find<QLineEdit>(stage, "ReportEdit(2)");
    testing::typeInto(report, QStringLiteral("<>"));
    report->setCursorPosition(0);
    const QStringList appended = {"(DATA)",       "(PID#)",        "(TIMESTAMP)",      "(DETAILED)",
                                  "(VERI_GRADE)", "(VERI_DETAIL)", "(VERI_FORMATTED)", "\\0d\\0a"};
    QString expected = QStringLiteral("<>");
    for (int i = 0; i < appended.size(); ++i) {
        QTest::mouseClick(find<QPushButton>(stage, "btnKeyword(2)"), Qt::LeftButton);
        QTRY_VERIFY(menu->isVisible());
        menu->actions().at(i)->trigger();
        menu->close();
        expected += appended[i];
        QCOMPARE(report->text(), expected);
    }
    QVERIFY(ok->isEnabled());
    stage.apply();
    QTRY_COMPARE(stage.fields(QStringLiteral("RTE")).value(1),
                 QLatin1Char('"') + expected + QLatin1Char('"'));
}

// Texts with double quotes inside, as the reader keeps them and as the dialog shows them.
void quotes(Stage& stage) {
    stage.start(kOldest);
    stage.send(QStringLiteral("TRAILER \"a\"b\""));
    stage.send(QStringLiteral("MATCHEX S \"\" 0 1 1 1"));
    QVERIFY(stage.open(kWindow));
    QCOMPARE(find<QLineEdit>(stage, "Trailer")->text(), QStringLiteral("a\"b"));
    // Any mode other than "N" shows the match box checked.
    QVERIFY(find<QCheckBox>(stage, "MatchEnable")->isChecked());
    testing::typeInto(find<QLineEdit>(stage, "Header"), QStringLiteral("say \"x\":"));
    stage.apply();
    QTRY_COMPARE(stage.fields(QStringLiteral("HEADER")), QStringList{"\"say \"x\":\""});
    QVERIFY(stage.open(kWindow));
    QCOMPARE(find<QLineEdit>(stage, "Header")->text(), QStringLiteral("say \"x\":"));

    testing::typeInto(find<QLineEdit>(stage, "ReportEdit(0)"), QStringLiteral("a\"b c"));
    stage.apply();
    QTRY_COMPARE(stage.fields(QStringLiteral("OKDEC")), (QStringList{"Y", "\"a\"b c\"", "N", "N", "1"}));
    QVERIFY(stage.open(kWindow));
    QCOMPARE(find<QLineEdit>(stage, "ReportEdit(0)")->text(), QStringLiteral("a\"b c"));
}

// A reader that does not answer is reported; without control nothing can be changed.
void failures(Stage& stage) {
    stage.start(kOldest, false);
    stage.reader().setNextReplyFault(sim::ReplyFault::Silent, 0, QStringLiteral("RTE"));
    stage.unexpected()->expectMessage(
        QStringLiteral("Query Error"),
        QStringLiteral("Error querying camera for output settings (No reply to \"RTE\" within 500 ms)"),
        app::PromptIcon::Exclamation, app::PromptButtons::Ok, app::PromptAnswer::Ok);
    QWidget* w = stage.open(kWindow);
    QVERIFY(w);
    QVERIFY(stage.window()); // the dialog stays open
    for (const char* name : {"EnableCheck(0)", "ReportEdit(0)", "BeepCombo(0)", "OutFormat", "MatchEnable",
                             "Match", "Send_Label"})
        QVERIFY2(!stage.control(QLatin1String(name))->isEnabled(), name);
    QVERIFY(!find<QPushButton>(stage, "Apply")->isEnabled());
    stage.close();

    // With a reader of the next generation the format editor takes over.
    stage.end();
    stage.begin();
    stage.start(QStringLiteral("1.1.0.32"));
    QPointer<QWidget> older = app::windows().open(kWindow, nullptr);
    QTRY_VERIFY(app::windows().find(QStringLiteral("frmOutput")));
    QTRY_VERIFY(!older || !older->isVisible());
    // The menu item opens this dialog only for readers 1.0.x.
    QCOMPARE(io::outputWindowFor({true, false, false, 2, "1.0.1.13"}), kWindow);
    QCOMPARE(io::outputWindowFor({true, false, false, 3, "1.1.0.32"}), QStringLiteral("frmOutput"));
    QCOMPARE(io::outputWindowFor({true, false, false, 10, "3.0.2.1"}), QStringLiteral("frmOutput"));
}

// With control, a reader that does not answer RTE: the load ends there; what was read can be
// worked, RTE and everything after it keep what they showed, greyed, marked and named, and a
// change of what was read goes out without them.
void unread(Stage& stage) {
    stage.start(kOldest);
    stage.send(QStringLiteral("OKDEC Y \"ok\" N N 1"));
    stage.send(QStringLiteral("RTE Y \"E!\" Y Y 2"));
    stage.reader().setNextReplyFault(sim::ReplyFault::Silent, 0, QStringLiteral("RTE"));
    stage.unexpected()->expectMessage(
        QStringLiteral("Query Error"),
        QStringLiteral("Error querying camera for output settings (No reply to \"RTE\" within 500 ms)"),
        app::PromptIcon::Exclamation, app::PromptButtons::Ok, app::PromptAnswer::Ok);
    testing::Received received(stage.reader());
    QVERIFY(stage.open(kWindow));
    QCOMPARE(received.lines(), (QStringList{"OKDEC", "DECFL", "LOCFL", "RTE"}));
    auto* note = find<QLabel>(stage, "NotReadNote");
    QVERIFY(note && note->isVisibleTo(stage.window()));
    QVERIFY2(note->text().contains(QLatin1String("RTE")), qPrintable(note->text()));
    auto marked = [&](const QString& name) {
        return stage.control(name)->property(settings::SettingsWindow::kNotReadProperty).toBool();
    };
    for (const char* name : {"EnableCheck(0)", "ReportEdit(0)", "btnKeyword(0)", "BeepCombo(0)",
                             "EnableCheck(1)", "HeaderCheck(1)", "EnableCheck(3)", "TrailerCheck(3)"}) {
        QVERIFY2(stage.control(QLatin1String(name))->isEnabled(), name);
        QVERIFY2(!marked(QLatin1String(name)), name);
    }
    QVERIFY(find<QCheckBox>(stage, "EnableCheck(0)")->isChecked());
    QCOMPARE(find<QLineEdit>(stage, "ReportEdit(0)")->text(), QStringLiteral("ok"));
    QCOMPARE(find<QComboBox>(stage, "BeepCombo(0)")->currentText(), QStringLiteral("1 beep"));
    // RTE is named; what was not asked for after it is greyed as well.
    for (const char* name : {"EnableCheck(2)", "ReportEdit(2)", "btnKeyword(2)", "HeaderCheck(2)",
                             "TrailerCheck(2)", "BeepCombo(2)"}) {
        QVERIFY2(!stage.control(QLatin1String(name))->isEnabled(), name);
        QVERIFY2(marked(QLatin1String(name)), name);
    }
    for (const char* name : {"EnableCheck(4)", "ReportEdit(4)", "BeepCombo(5)", "Header", "Trailer",
                             "OutFormat", "MatchEnable", "Match"})
        QVERIFY2(!stage.control(QLatin1String(name))->isEnabled(), name);
    // A click on a greyed control changes nothing.
    click(find<QCheckBox>(stage, "EnableCheck(2)"));
    QVERIFY(!find<QCheckBox>(stage, "EnableCheck(2)")->isChecked());
    QVERIFY(!find<QPushButton>(stage, "Apply")->isEnabled());

    click(find<QCheckBox>(stage, "EnableCheck(0)"));
    received.clear();
    stage.apply();
    QTRY_COMPARE(stage.fields(QStringLiteral("OKDEC")).value(0), QStringLiteral("N"));
    QStringList writes;
    for (const QString& line : received.lines())
        if (line.contains(QLatin1Char(' ')))
            writes << line;
    QCOMPARE(writes, QStringList{"OKDEC N \"ok\" N N 1"});
    QCOMPARE(stage.fields(QStringLiteral("RTE")), (QStringList{"Y", "\"E!\"", "Y", "Y", "2"}));
}

// What the reader sends on its port, and how often it beeps, after the dialog's changes.
void readerOutput(Stage& stage) {
    stage.start(kOldest);
    stage.send(QStringLiteral("TRIG T"));
    QString error;
    QVERIFY(stage.reader().setScene(QStringLiteral("text"), QStringLiteral("HELLO-42"), &error));
    QVERIFY(stage.reader().setScene(QStringLiteral("serialdigits"), QStringLiteral("0"), &error));
    QVERIFY(stage.open(kWindow));
    testing::typeInto(find<QLineEdit>(stage, "Header"), QStringLiteral("["));
    testing::typeInto(find<QLineEdit>(stage, "Trailer"), QStringLiteral("]\\0d\\0a"));
    testing::typeInto(find<QLineEdit>(stage, "ReportEdit(0)"), QStringLiteral("(DATA)"));
    click(find<QCheckBox>(stage, "HeaderCheck(0)"));
    click(find<QCheckBox>(stage, "TrailerCheck(0)"));
    click(find<QCheckBox>(stage, "OutFormat"));
    testing::choose(find<QComboBox>(stage, "BeepCombo(0)"), QStringLiteral("2 beeps"));
    click(find<QCheckBox>(stage, "EnableCheck(4)"));
    testing::typeInto(find<QLineEdit>(stage, "ReportEdit(4)"), QStringLiteral("M!"));
    testing::choose(find<QComboBox>(stage, "BeepCombo(4)"), QStringLiteral("3 beeps"));
    click(find<QCheckBox>(stage, "MatchEnable"));
    testing::typeInto(find<QLineEdit>(stage, "Match"), QStringLiteral("HELLO*"));
    stage.apply();
    QTRY_COMPARE(stage.fields(QStringLiteral("MATCHEX")).value(1), QStringLiteral("\"HELLO*\""));

    PortReader port;
    QVERIFY(port.open(stage, 1));
    const quint64 beeps = stage.reader().output().beeps();
    stage.send(QStringLiteral("VT"));
    QCOMPARE(port.until("M!"), QByteArray("[") + QByteArray("HELLO-42").toHex().toUpper() + "]\r\nM!");
    QTRY_COMPARE(stage.reader().output().beeps(), beeps + 5);

    // Raw data, and the match string no longer met.
    click(find<QCheckBox>(stage, "OutFormat"));
    testing::typeInto(find<QLineEdit>(stage, "Match"), QStringLiteral("BYE*"));
    click(find<QCheckBox>(stage, "EnableCheck(5)"));
    testing::typeInto(find<QLineEdit>(stage, "ReportEdit(5)"), QStringLiteral("F!"));
    stage.apply();
    QTRY_COMPARE(stage.fields(QStringLiteral("MATCHFL")).value(0), QStringLiteral("Y"));
    stage.send(QStringLiteral("VT"));
    QCOMPARE(port.until("F!"), QByteArray("[HELLO-42]\r\nF!"));
}

} // namespace

WindowContract basicOutputContract() {
    WindowContract w;
    w.window = kWindow;
    w.version = kOldest;

    const QList<Value> yesNo = {{"N", "off"}, {"Y", "on"}, {"N", "off"}};
    for (int i = 0; i < 6; ++i) {
        const QString p = kEvents[i];
        w.controls << fieldRow(QStringLiteral("EnableCheck(%1)").arg(i), Kind::Check, p, 0, yesNo);
        w.controls << fieldRow(
            QStringLiteral("ReportEdit(%1)").arg(i), Kind::Box, p, 1,
            {{"\"\"", ""}, {"\"(DATA)\"", "(DATA)"}, {"\"R:(PID#)\\0d\\0a\"", "R:(PID#)\\0d\\0a"}});
        // The header and trailer of a row follow control as the other row controls do.
        w.controls << fieldRow(QStringLiteral("HeaderCheck(%1)").arg(i), Kind::Check, p, 2, yesNo);
        w.controls << fieldRow(QStringLiteral("TrailerCheck(%1)").arg(i), Kind::Check, p, 3, yesNo);
        w.controls << fieldRow(QStringLiteral("BeepCombo(%1)").arg(i), Kind::List, p, 4,
                               {{"0", "no beeps"}, {"2", "2 beeps"}, {"3", "3 beeps"}, {"1", "1 beep"}});
    }
    w.controls << fieldRow("Header", Kind::Box, "HEADER", 0,
                           {{"\"\"", ""}, {"\"[\"", "["}, {"\"<(PID#)>\"", "<(PID#)>"}});
    w.controls << fieldRow("Trailer", Kind::Box, "TRAILER", 0,
                           {{"\"\\0d\\0a\"", "\\0d\\0a"}, {"\"]\"", "]"}});
    w.controls << fieldRow("OutFormat", Kind::Check, "OUTPUT FORMAT", 0,
                           {{"RAW", "off"}, {"HEX", "on"}, {"RAW", "off"}});
    w.controls << fieldRow("MatchEnable", Kind::Check, "MATCHEX", 0,
                           {{"N", "off"}, {"T", "on"}, {"N", "off"}});
    w.controls << fieldRow("Match", Kind::Box, "MATCHEX", 1,
                           {{"\"\"", ""}, {"\"AB*\"", "AB*"}, {"\"X?Y\"", "X?Y"}});

    w.checks = {texts, quotes, failures, unread, readerOutput};
    return w;
}

} // namespace vm::contracts
