// IO assignment: per line its tag, criterion, arguments and polarity (and, on a
// general-purpose line read as an input, the PID it selects); the OPTO input's delay, latch
// and PID. Then what the reader's lines do with it.
#include "contracts/contract.h"

#include "app/windowregistry.h"
#include "link/connection.h"
#include "link/device.h"
#include "settings/settingswindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>

namespace vm::contracts {

namespace {

const QString kWindow = QStringLiteral("frmIOAssign");
const QStringList kLines = {"OPTO_OUT1", "OPTO_OUT2", "OPTO_OUT3", "GPIO_OUT1",
                            "GPIO_OUT2", "GPIO_OUT3", "GPIO_OUT4"};
const QStringList kTags = {"PASS",
                           "FAIL",
                           "DV",
                           "RTE",
                           "GOOD",
                           "FAIR",
                           "POOR",
                           "ANGLE_FAILURE",
                           "LOCATE_FAILURE",
                           "DECODE_FAILURE",
                           "MATCH_FAILURE",
                           "READY",
                           "READ_A",
                           "READ_B",
                           "READ_C",
                           "READ_D",
                           "RETRY",
                           "LEARN",
                           "MATCH_SET",
                           "CALIBRATE",
                           "MATCH_BIT_1",
                           "MATCH_BIT_2",
                           "MATCH_BIT_3",
                           "MATCH_BIT_4",
                           "LIGHT_CTL_BIT_1",
                           "LIGHT_CTL_BIT_2",
                           "LIGHT_CTL_BIT_3",
                           "LIGHT_CTL_BIT_4"};
const QStringList kTypes = {"BOOL", "MASK", "NOMINAL_DEV", "MAX_MIN", "INPUT_POS", "INPUT_NEG", "INPUT_BOTH"};
const QString kInputs5 = QStringLiteral("READ_A, READ_B, READ_C, READ_D, RETRY, LEARN, and MATCH_SET");
const QString kInputs6 =
    QStringLiteral("READ_A, READ_B, READ_C, READ_D, RETRY, LEARN, MATCH_SET, and CALIBRATE");

QString q(const QString& text) {
    return QLatin1Char('"') + text + QLatin1Char('"');
}

QString plain(const QString& text) {
    return QString(text).remove(QLatin1Char('&'));
}

QComboBox* tag(Stage& stage, int line) {
    return find<QComboBox>(stage, QStringLiteral("TagNameCombo(%1)").arg(line));
}
QComboBox* type(Stage& stage, int line) {
    return find<QComboBox>(stage, QStringLiteral("TypeCombo(%1)").arg(line));
}
QLineEdit* argument(Stage& stage, int line, int which) {
    return find<QLineEdit>(stage, QStringLiteral("Argument%1Text(%2)").arg(which).arg(line));
}
QString argumentCaption(Stage& stage, int line, int which) {
    auto* label = find<QLabel>(stage, QStringLiteral("Arg%1Label(%2)").arg(which).arg(line));
    return label ? plain(label->text()) : QString();
}
QCheckBox* polarity(Stage& stage, int line) {
    return find<QCheckBox>(stage, QStringLiteral("PolarityCheck(%1)").arg(line));
}
QString frameCaption(Stage& stage, int line) {
    auto* frame = find<QGroupBox>(stage, QStringLiteral("IOLineFrame(%1)").arg(line));
    return frame ? frame->title() : QString();
}
bool shown(Stage& stage, const QString& name) {
    QWidget* w = stage.control(name);
    return w && w->isVisibleTo(stage.window());
}
settings::SettingsWindow* settingsWindow(Stage& stage) {
    return qobject_cast<settings::SettingsWindow*>(stage.window());
}

void restart(Stage& stage, const QString& version) {
    stage.close();
    stage.end();
    stage.begin();
    stage.start(version);
}

// Choosing `word` in the list is refused with this message (OK only, no icon).
void chooseRefused(QComboBox* list, const QString& word, const QString& text) {
    testing::ExpectPrompts boxes;
    boxes->expectMessage(QStringLiteral("Velmarrow"), text, app::PromptIcon::None, app::PromptButtons::Ok,
                         app::PromptAnswer::Ok);
    testing::choose(list, word);
}

const QString kGpio1Refused =
    QStringLiteral("GPIO 1 Assignment is not allowed while External Lighting is in use");

// A line back to unassigned: no tag, type list hidden at BOOL, arguments disabled without captions.
void verifyUnassigned(Stage& stage, int line) {
    const QString at = kLines[line];
    QVERIFY2(tag(stage, line)->currentIndex() == 0, qPrintable(at));
    QVERIFY2(!shown(stage, QStringLiteral("TypeCombo(%1)").arg(line)), qPrintable(at));
    QVERIFY2(type(stage, line)->currentText() == QLatin1String("BOOL"), qPrintable(at));
    QVERIFY2(!argument(stage, line, 1)->isEnabled() && !argument(stage, line, 2)->isEnabled(),
             qPrintable(at));
    QVERIFY2(argumentCaption(stage, line, 1).isEmpty() && argumentCaption(stage, line, 2).isEmpty(),
             qPrintable(at));
    QVERIFY2(shown(stage, QStringLiteral("PolarityCheck(%1)").arg(line)), qPrintable(at));
}

ControlContract row(const QString& name, Kind kind, const QString& parameter, int field,
                    QList<Value> values) {
    ControlContract c = fieldRow(name, kind, parameter, field, values);
    c.needsControl = false; // the window does not follow programming control
    return c;
}

QList<Value> quoted(const QStringList& words) {
    QList<Value> out;
    for (const QString& w : words)
        out.append({q(w), w});
    return out;
}

// Texts, lists by firmware level, type captions.
void checkTexts(Stage& stage) {
    stage.start(QStringLiteral("3.0.2.1"));
    QWidget* window = stage.open(kWindow);
    QVERIFY(window);
    QCOMPARE(window->windowTitle().section(QStringLiteral(" - "), -1), QStringLiteral("IO Assignment"));
    for (int i = 0; i < 7; ++i) {
        QCOMPARE(frameCaption(stage, i), kLines[i]);
        QCOMPARE(polarity(stage, i)->text(), QStringLiteral("High True"));
        QCOMPARE(testing::entries(type(stage, i)), kTypes);
        verifyUnassigned(stage, i);
    }
    QCOMPARE(find<QGroupBox>(stage, "OInFrame")->title(), QStringLiteral("OPTO_IN1"));
    QStringList inputLabels;
    for (QLabel* label : find<QGroupBox>(stage, "OInFrame")->findChildren<QLabel*>())
        if (!label->text().isEmpty() && label->buddy())
            inputLabels << plain(label->text());
    QVERIFY2(inputLabels.contains(QStringLiteral("Delay")) && inputLabels.contains(QStringLiteral("Latch")),
             qPrintable(inputLabels.join(',')));
    auto* s = settingsWindow(stage);
    QCOMPARE(plain(s->applyButton()->text()), QStringLiteral("Apply"));
    QCOMPARE(plain(s->cancelButton()->text()), QStringLiteral("Cancel"));
    QCOMPARE(s->applyButton()->objectName(), QStringLiteral("btnApply"));
    QCOMPARE(s->okButton()->objectName(), QStringLiteral("btnOK"));
    QCOMPARE(s->cancelButton()->objectName(), QStringLiteral("btnCancel"));

    // Each type's argument captions, and the unused ones disabled.
    const QList<std::pair<QString, QString>> captions = {
        {"", ""},           {"Mask", ""},       {"Nominal", "Dev"}, {"Max", "Min"},
        {"Delay", "Latch"}, {"Delay", "Latch"}, {"Delay", "Latch"}};
    testing::choose(tag(stage, 2), QStringLiteral("GOOD"));
    testing::choose(tag(stage, 6), QStringLiteral("READ_C"));
    for (int t = 0; t < 7; ++t) {
        const int line = t < 4 ? 2 : 6;
        testing::choose(type(stage, line), kTypes[t]);
        QCOMPARE(type(stage, line)->currentText(), kTypes[t]);
        QCOMPARE(argumentCaption(stage, line, 1), captions[t].first);
        QCOMPARE(argumentCaption(stage, line, 2), captions[t].second);
        QCOMPARE(argument(stage, line, 1)->isEnabled(), !captions[t].first.isEmpty());
        QCOMPARE(argument(stage, line, 2)->isEnabled(), !captions[t].second.isEmpty());
    }

    // The tags a reader offers grow with its level; each tag sits at its number.
    const QList<std::pair<QString, int>> levels = {{"2.0.2.0", 19}, {"2.0.1.0", 19}, {"2.1.0.0", 20},
                                                   {"2.2.0.0", 24}, {"2.3.0.0", 28}, {"2.4.0.0", 28}};
    for (const auto& [version, count] : levels) {
        restart(stage, version);
        stage.open(kWindow);
        const QStringList expected = QStringList{QString()} + kTags.mid(0, count);
        for (int i = 0; i < 7; ++i)
            QVERIFY2(testing::entries(tag(stage, i)) == expected,
                     qPrintable(version + QStringLiteral(": ") + testing::entries(tag(stage, i)).join(',')));
    }
}

// Type refusals name the inputs the reader's level has.
void checkTypeMessages(Stage& stage) {
    for (const auto& [version, inputs] :
         {std::pair<QString, QString>{"2.0.1.0", kInputs5}, {"2.1.0.0", kInputs6}, {"3.0.2.1", kInputs6}}) {
        restart(stage, version);
        stage.open(kWindow);
        testing::choose(tag(stage, 5), QStringLiteral("RETRY"));
        QCOMPARE(type(stage, 5)->currentText(), QStringLiteral("INPUT_POS"));
        // Every type of an output is refused on an input, and the other way round.
        for (const QString& output : kTypes.mid(0, 4)) {
            chooseRefused(
                type(stage, 5), output,
                QStringLiteral("Only INPUT_POS, INPUT_NEG, and INPUT_BOTH may be used with the inputs ") +
                    inputs);
            QCOMPARE(type(stage, 5)->currentText(), QStringLiteral("INPUT_POS"));
        }
        QCOMPARE(argumentCaption(stage, 5, 1), QStringLiteral("Delay"));
        QCOMPARE(argumentCaption(stage, 5, 2), QStringLiteral("Latch"));
        QVERIFY(argument(stage, 5, 1)->isEnabled() && argument(stage, 5, 2)->isEnabled());

        testing::choose(tag(stage, 0), QStringLiteral("GOOD"));
        for (const QString& input : kTypes.mid(4)) {
            chooseRefused(type(stage, 0), input,
                          input + QStringLiteral(" is only valid with the inputs ") + inputs);
            QCOMPARE(type(stage, 0)->currentText(), QStringLiteral("BOOL"));
        }
        QVERIFY(!argument(stage, 0, 1)->isEnabled() && !argument(stage, 0, 2)->isEnabled());
        QVERIFY(argumentCaption(stage, 0, 1).isEmpty());
    }
}

// Tag rules: inputs only on the general-purpose lines, one line per tag, defaults by tag,
// the input presentation; GPIO 1 and external lights.
void checkTagRules(Stage& stage) {
    restart(stage, QStringLiteral("3.0.2.1"));
    stage.send(QStringLiteral("STORE 9"));
    stage.send(QStringLiteral("STORE 4"));
    stage.send(QStringLiteral("IOASSIGN GPIO_OUT3 PASS"));
    stage.open(kWindow);
    const QStringList inputTags = kTags.mid(12, 8); // READ_A to CALIBRATE
    for (int line = 0; line < 3; ++line)
        for (const QString& input : inputTags) {
            testing::choose(tag(stage, line), QStringLiteral("DV"));
            chooseRefused(tag(stage, line), input,
                          QStringLiteral("Inputs may only be assigned to GPIO_OUT1 through GPIO_OUT4"));
            verifyUnassigned(stage, line);
            QCOMPARE(frameCaption(stage, line), kLines[line]);
        }
    // Every output tag stays where it is chosen, with its polarity.
    for (const QString& output : kTags.mid(0, 12) + kTags.mid(20)) {
        testing::choose(tag(stage, 1), output);
        QCOMPARE(tag(stage, 1)->currentText(), output);
        QVERIFY2(shown(stage, "PolarityCheck(1)"), qPrintable(output));
    }
    testing::choose(tag(stage, 1), QString());
    verifyUnassigned(stage, 1);
    // An input on a general-purpose line reads as GPIO_IN n with its PID list.
    for (int line = 3; line < 7; ++line) {
        const int n = line - 2;
        testing::choose(tag(stage, line), QStringLiteral("LEARN"));
        QCOMPARE(frameCaption(stage, line), QStringLiteral("GPIO_IN%1").arg(n));
        QVERIFY(shown(stage, QStringLiteral("PID(%1)").arg(line - 3)));
        QVERIFY(shown(stage, QStringLiteral("PIDLabel(%1)").arg(line - 3)));
        QVERIFY(!shown(stage, QStringLiteral("PolarityCheck(%1)").arg(line)));
        QCOMPARE(type(stage, line)->currentText(), QStringLiteral("INPUT_POS"));
        QCOMPARE(argument(stage, line, 1)->text(), QStringLiteral("0"));
        QCOMPARE(argument(stage, line, 2)->text(), QStringLiteral("0"));
        QCOMPARE(argumentCaption(stage, line, 1), QStringLiteral("Delay"));
        QCOMPARE(argumentCaption(stage, line, 2), QStringLiteral("Latch"));
        QCOMPARE(testing::entries(find<QComboBox>(stage, QStringLiteral("PID(%1)").arg(line - 3))),
                 QStringList({"0", "4", "9"}));
        // The tag lives on one line: the line before gives it up.
        if (line > 3)
            verifyUnassigned(stage, line - 1);
        testing::choose(tag(stage, line), QStringLiteral("FAIR"));
        QCOMPARE(frameCaption(stage, line), QStringLiteral("GPIO_OUT%1").arg(n));
        QVERIFY(!shown(stage, QStringLiteral("PID(%1)").arg(line - 3)));
        QVERIFY(shown(stage, QStringLiteral("PolarityCheck(%1)").arg(line)));
        QVERIFY(shown(stage, QStringLiteral("TypeCombo(%1)").arg(line)));
        testing::choose(tag(stage, line), QStringLiteral("LEARN"));
    }
    QCOMPARE(testing::entries(find<QComboBox>(stage, "OInPID")), QStringList({"0", "4", "9"}));
    // Defaults by tag.
    testing::choose(tag(stage, 0), QStringLiteral("ANGLE_FAILURE"));
    QCOMPARE(type(stage, 0)->currentText(), QStringLiteral("NOMINAL_DEV"));
    QCOMPARE(argument(stage, 0, 1)->text(), QStringLiteral("0"));
    QCOMPARE(argument(stage, 0, 2)->text(), QStringLiteral("15"));
    QCOMPARE(argumentCaption(stage, 0, 1), QStringLiteral("Nominal"));
    QCOMPARE(argumentCaption(stage, 0, 2), QStringLiteral("Dev"));
    testing::choose(tag(stage, 1), QStringLiteral("LOCATE_FAILURE"));
    QCOMPARE(type(stage, 1)->currentText(), QStringLiteral("MASK"));
    QCOMPARE(argument(stage, 1, 1)->text(), QStringLiteral("&H7FFFFFFF"));
    QCOMPARE(argumentCaption(stage, 1, 1), QStringLiteral("Mask"));
    QVERIFY(!argument(stage, 1, 2)->isEnabled());
    testing::choose(tag(stage, 2), QStringLiteral("MATCH_FAILURE"));
    QCOMPARE(type(stage, 2)->currentText(), QStringLiteral("BOOL"));
    QVERIFY(shown(stage, "TypeCombo(2)"));
    QVERIFY(!argument(stage, 2, 1)->isEnabled() && !argument(stage, 2, 2)->isEnabled());
    // A tag chosen a second time moves.
    testing::choose(tag(stage, 2), QStringLiteral("ANGLE_FAILURE"));
    verifyUnassigned(stage, 0);

    // Apply: the mask goes as 0x and its digits; the line that gave up its tag is cleared.
    {
        testing::Received received(stage.reader());
        stage.apply();
        QTRY_COMPARE(stage.fields(QStringLiteral("IOASSIGN OPTO_OUT3")), QStringList({q("ANGLE_FAILURE")}));
        QCOMPARE(stage.fields(QStringLiteral("SET_CRITERIA LOCATE_FAILURE")).mid(0, 2),
                 QStringList({q("MASK"), q("0x7FFFFFFF")}));
        QCOMPARE(stage.fields(QStringLiteral("IOASSIGN GPIO_OUT4")), QStringList({q("LEARN")}));
        QCOMPARE(stage.fields(QStringLiteral("IOASSIGN GPIO_OUT1")), QStringList({q("")}));
        QVERIFY2(received.lines().contains(QStringLiteral("IOASSIGN GPIO_OUT3 CLEAR")),
                 qPrintable(received.lines().join('|')));
    }
    stage.close();

    // External lights keep GPIO_OUT1 free: the reader's lighting, its retry lighting, or
    // what the application mode window shows.
    const QList<QStringList> lighting = {{"ILLUM ON_AND_EXT"}, {"ILLUM EXTERN"}};
    for (const QStringList& commands : lighting) {
        restart(stage, QStringLiteral("3.0.2.1"));
        for (const QString& c : commands)
            stage.send(c);
        stage.open(kWindow);
        chooseRefused(tag(stage, 3), QStringLiteral("PASS"), kGpio1Refused);
        verifyUnassigned(stage, 3);
        // Only GPIO_OUT1 needs it.
        testing::choose(tag(stage, 4), QStringLiteral("PASS"));
        QCOMPARE(tag(stage, 4)->currentText(), QStringLiteral("PASS"));
    }
    restart(stage, QStringLiteral("3.0.2.1"));
    stage.setField(QStringLiteral("RETRYEX"), 0, QStringLiteral("LIGHT"));
    stage.setField(QStringLiteral("RETRYEX"), 19, QStringLiteral("STROBE_AND_EXT"));
    stage.open(kWindow);
    chooseRefused(tag(stage, 3), QStringLiteral("READ_A"), kGpio1Refused);
    verifyUnassigned(stage, 3);
    // Retry lighting with external lights does not count unless the retry mode is LIGHT.
    stage.setField(QStringLiteral("RETRYEX"), 0, QStringLiteral("TIME"));
    testing::choose(tag(stage, 3), QStringLiteral("READ_A"));
    QCOMPARE(tag(stage, 3)->currentText(), QStringLiteral("READ_A"));
    stage.close();

    // The application mode window's unsent lighting counts too.
    restart(stage, QStringLiteral("3.0.2.1"));
    QWidget* app = app::windows().open(QStringLiteral("BasicApplication"), nullptr);
    QVERIFY(app);
    if (auto* s = qobject_cast<settings::SettingsWindow*>(app))
        QTRY_VERIFY(s->isLoaded());
    testing::choose(app->findChild<QComboBox*>(QStringLiteral("Lighting")), QStringLiteral("On & External"));
    stage.open(kWindow);
    chooseRefused(tag(stage, 3), QStringLiteral("DV"), kGpio1Refused);
    verifyUnassigned(stage, 3);
    QCOMPARE(stage.fields(QStringLiteral("ILLUM")).value(0), QStringLiteral("ON")); // nothing sent
    stage.close();
    app->close();
}

// Arguments are held to what their tag and type allow.
void checkArguments(Stage& stage) {
    restart(stage, QStringLiteral("3.0.2.1"));
    stage.open(kWindow);
    auto leave = [&](int line, int which, const QString& typed, const QString& held) {
        QLineEdit* box = argument(stage, line, which);
        testing::typeInto(box, typed);
        QVERIFY2(box->text() == held,
                 qPrintable(kLines[line] + QStringLiteral(" ") + typed + QStringLiteral(" -> ") +
                            box->text() + QStringLiteral(", not ") + held));
    };
    testing::choose(tag(stage, 0), QStringLiteral("LOCATE_FAILURE"));
    leave(0, 1, QStringLiteral("ff"), QStringLiteral("0xFF"));
    leave(0, 1, QStringLiteral("&h1a2b"), QStringLiteral("0x1A2B"));
    leave(0, 1, QStringLiteral("0X7f"), QStringLiteral("0x7F"));
    testing::choose(tag(stage, 1), QStringLiteral("ANGLE_FAILURE"));
    leave(1, 1, QStringLiteral("400"), QStringLiteral("0"));
    leave(1, 1, QStringLiteral("359"), QStringLiteral("359"));
    leave(1, 1, QStringLiteral("360"), QStringLiteral("0"));
    leave(1, 2, QStringLiteral("-1"), QStringLiteral("0"));
    leave(1, 2, QStringLiteral("45"), QStringLiteral("45"));
    testing::choose(type(stage, 1), QStringLiteral("MAX_MIN"));
    leave(1, 1, QStringLiteral("20"), QStringLiteral("20"));
    leave(1, 2, QStringLiteral("90"), QStringLiteral("90"));
    QCOMPARE(argument(stage, 1, 1)->text(), QStringLiteral("90")); // Max follows a Min above it
    leave(1, 1, QStringLiteral("30"), QStringLiteral("30"));
    QCOMPARE(argument(stage, 1, 2)->text(), QStringLiteral("30")); // Min follows a Max below it
    leave(1, 1, QStringLiteral("500"), QStringLiteral("0"));
    QCOMPARE(argument(stage, 1, 2)->text(),
             QStringLiteral("0")); // an angle out of range is 0, and Min follows
    testing::choose(tag(stage, 2), QStringLiteral("GOOD"));
    testing::choose(type(stage, 2), QStringLiteral("NOMINAL_DEV"));
    leave(2, 1, QStringLiteral("5000"), QStringLiteral("1000"));
    leave(2, 1, QStringLiteral("-1001"), QStringLiteral("-1000"));
    leave(2, 2, QStringLiteral("12abc"), QStringLiteral("12"));
    leave(2, 2, QStringLiteral("abc"), QStringLiteral("0"));
    testing::choose(type(stage, 2), QStringLiteral("MAX_MIN"));
    leave(2, 1, QStringLiteral("800"), QStringLiteral("800"));
    leave(2, 2, QStringLiteral("-2000"), QStringLiteral("-1000"));
    testing::choose(tag(stage, 4), QStringLiteral("READ_D"));
    leave(4, 1, QStringLiteral("20000"), QStringLiteral("10000"));
    leave(4, 1, QStringLiteral("-5"), QStringLiteral("0"));
    leave(4, 2, QStringLiteral("10001"), QStringLiteral("10000"));
    leave(4, 2, QStringLiteral("9999"), QStringLiteral("9999"));
    for (const char* name : {"OInDelay", "OInLatch"}) {
        auto* box = find<QLineEdit>(stage, name);
        testing::typeInto(box, QStringLiteral("20000"));
        QCOMPARE(box->text(), QStringLiteral("10000"));
        testing::typeInto(box, QStringLiteral("-7"));
        QCOMPARE(box->text(), QStringLiteral("0"));
    }
    stage.apply();
    QTRY_COMPARE(stage.fields(QStringLiteral("SET_CRITERIA GOOD")),
                 QStringList({q("MAX_MIN"), q("800"), q("-1000")}));
    QCOMPARE(stage.fields(QStringLiteral("SET_CRITERIA ANGLE_FAILURE")),
             QStringList({q("MAX_MIN"), q("0"), q("0")}));
    QCOMPARE(stage.fields(QStringLiteral("SET_CRITERIA LOCATE_FAILURE")).mid(0, 2),
             QStringList({q("MASK"), q("0x7F")}));
    QCOMPARE(stage.fields(QStringLiteral("SET_CRITERIA READ_D")),
             QStringList({q("INPUT_POS"), q("0"), q("9999")}));
}

// The parameters of the writes among these lines (a reader's keyword and, but for the input's
// delay and latch, the word after it), sorted.
QStringList writtenNames(Stage& stage, const QStringList& lines) {
    QStringList names;
    for (const QString& line : lines) {
        if (stage.isQuery(line))
            continue;
        const QStringList words = line.split(QLatin1Char(' '));
        const bool single = words[0] == QLatin1String("TD") || words[0] == QLatin1String("TBL");
        names << (single ? words[0] : words.mid(0, 2).join(QLatin1Char(' ')));
    }
    names.sort();
    return names;
}

// The lines received that write this parameter.
QStringList writesOf(const testing::Received& received, const QString& parameter) {
    return received.lines().filter(
        QRegularExpression(QLatin1Char('^') + QRegularExpression::escape(parameter) + QLatin1Char(' ')));
}

// Apply sends every line as the window shows it: a line the reader changed behind the window
// is put back, so that a tag is on one line of the reader as it is in the window. What the
// reader did not answer is greyed, named and left alone, without a word at Apply.
// A mask the reader holds with more digits than it takes goes back as "0x" and its first 20.
void checkLongMask(Stage& stage) {
    restart(stage, QStringLiteral("3.0.2.1"));
    stage.send(QStringLiteral("IOASSIGN GPIO_OUT3 LOCATE_FAILURE"));
    stage.send(QStringLiteral("SET_CRITERIA LOCATE_FAILURE MASK 0x123456789ABCDEF0123456 \"\""));
    QCOMPARE(stage.fields(QStringLiteral("SET_CRITERIA LOCATE_FAILURE")).value(1),
             q(QStringLiteral("0x123456789ABCDEF0123456")));
    stage.open(kWindow);
    QTest::mouseClick(polarity(stage, 4), Qt::LeftButton, {}, QPoint(5, 5));
    stage.apply();
    QTRY_COMPARE(stage.fields(QStringLiteral("SET_CRITERIA LOCATE_FAILURE")).mid(0, 2),
                 QStringList({q("MASK"), q("0x123456789ABCDEF01234")}));
}

void checkWholeApply(Stage& stage) {
    restart(stage, QStringLiteral("3.0.2.1"));
    stage.send(QStringLiteral("IOASSIGN GPIO_OUT3 PASS"));
    stage.send(QStringLiteral("SET_CRITERIA PASS MAX_MIN 10 -10"));
    stage.open(kWindow);
    // Another station puts PASS on a second line; the reader keeps it on both.
    stage.send(QStringLiteral("IOASSIGN OPTO_OUT1 PASS"));
    QTest::mouseClick(polarity(stage, 4), Qt::LeftButton, {}, QPoint(5, 5));
    QStringList expected = {"ASSIGNEX 2", "TD", "TBL", "SET_CRITERIA PASS"};
    for (int i = 0; i < 7; ++i) {
        expected << QStringLiteral("IOASSIGN ") + kLines[i] << QStringLiteral("SIGOUT ") + kLines[i];
        if (i >= 3)
            expected << QStringLiteral("ASSIGNEX %1").arg(i);
    }
    expected.sort();
    {
        testing::Received received(stage.reader());
        stage.apply();
        QTRY_COMPARE(stage.fields(QStringLiteral("IOASSIGN OPTO_OUT1")), QStringList({q("")}));
        QCOMPARE(writtenNames(stage, received.lines()), expected);
    }
    QCOMPARE(stage.fields(QStringLiteral("IOASSIGN GPIO_OUT3")), QStringList({q("PASS")}));
    QCOMPARE(stage.fields(QStringLiteral("SET_CRITERIA PASS")),
             QStringList({q("MAX_MIN"), q("10"), q("-10")}));
    stage.close();

    // The first line's assignment and PASS's criterion not answered.
    stage.send(QStringLiteral("IOASSIGN OPTO_OUT1 DV"));
    auto marked = [&](const QString& name) {
        return stage.control(name)->property(settings::SettingsWindow::kNotReadProperty).toBool();
    };
    for (const char* keyword : {"IOASSIGN", "SET_CRITERIA"}) {
        stage.reader().setNextReplyFault(sim::ReplyFault::Silent, 0, QLatin1String(keyword));
        stage.open(kWindow);
        auto* note = find<QLabel>(stage, QStringLiteral("NotReadNote"));
        QVERIFY(note && note->isVisibleTo(stage.window()));
        testing::Received received(stage.reader());
        if (QByteArray(keyword) == "IOASSIGN") {
            QVERIFY2(note->text().contains(QStringLiteral("IOASSIGN OPTO_OUT1")), qPrintable(note->text()));
            QCOMPARE(tag(stage, 0)->currentIndex(), -1);
            QVERIFY(!tag(stage, 0)->isEnabled() && marked(QStringLiteral("TagNameCombo(0)")));
            QVERIFY(polarity(stage, 0)->isEnabled() && tag(stage, 1)->isEnabled());
            QTest::mouseClick(polarity(stage, 4), Qt::LeftButton, {}, QPoint(5, 5));
            stage.apply();
            QTRY_VERIFY(received.lines().contains(QStringLiteral("IOASSIGN GPIO_OUT4 CLEAR")));
            QCOMPARE(writesOf(received, QStringLiteral("IOASSIGN OPTO_OUT1")), QStringList());
            QCOMPARE(stage.fields(QStringLiteral("IOASSIGN OPTO_OUT1")), QStringList({q("DV")}));
        } else {
            QVERIFY2(note->text().contains(QStringLiteral("SET_CRITERIA PASS")), qPrintable(note->text()));
            // GPIO_OUT3 shows its tag; of the criterion nothing, greyed.
            QCOMPARE(tag(stage, 5)->currentText(), QStringLiteral("PASS"));
            QVERIFY(shown(stage, QStringLiteral("TypeCombo(5)")));
            QCOMPARE(type(stage, 5)->currentIndex(), -1);
            QVERIFY(!type(stage, 5)->isEnabled() && !argument(stage, 5, 1)->isEnabled());
            QVERIFY(tag(stage, 5)->isEnabled());
            QTest::mouseClick(polarity(stage, 4), Qt::LeftButton, {}, QPoint(5, 5));
            stage.apply();
            QTRY_VERIFY(received.lines().contains(QStringLiteral("IOASSIGN GPIO_OUT3 PASS")));
            QCOMPARE(writesOf(received, QStringLiteral("SET_CRITERIA PASS")), QStringList());
            QCOMPARE(stage.fields(QStringLiteral("SET_CRITERIA PASS")),
                     QStringList({q("MAX_MIN"), q("10"), q("-10")}));
            // Chosen again, the tag takes its defaults and goes with them.
            testing::choose(tag(stage, 5), QStringLiteral("PASS"));
            QVERIFY(type(stage, 5)->isEnabled());
            QCOMPARE(type(stage, 5)->currentText(), QStringLiteral("BOOL"));
            stage.apply();
            QTRY_COMPARE(stage.fields(QStringLiteral("SET_CRITERIA PASS")),
                         QStringList({q("BOOL"), q(""), q("")}));
        }
        stage.close();
    }
}

// Each line as the reader drives it: READY (on while the reader waits for a trigger) given
// to one line at a time, at both polarities; the others stay off.
void checkLineStates(Stage& stage) {
    restart(stage, QStringLiteral("3.0.2.1"));
    stage.setField(QStringLiteral("TRIG"), 0, QStringLiteral("T"));
    sim::IoLines& lines = stage.reader().lines();
    link::Device* device = stage.station().Device();
    QVERIFY(device);
    for (int i = 0; i < 7; ++i) {
        for (bool highTrue : {true, false}) {
            stage.open(kWindow);
            testing::choose(tag(stage, i), QStringLiteral("READY"));
            QCheckBox* check = polarity(stage, i);
            if (check->isChecked() != highTrue)
                QTest::mouseClick(check, Qt::LeftButton, {}, QPoint(5, 5));
            QCOMPARE(check->isChecked(), highTrue);
            stage.apply();
            const QString at =
                kLines[i] + (highTrue ? QStringLiteral(" high true") : QStringLiteral(" low true"));
            QTRY_VERIFY2(lines.state(kLines[i]) == (sim::LineState{true, highTrue}), qPrintable(at));
            for (int other = 0; other < 7; ++other)
                if (other != i)
                    QVERIFY2(!lines.state(kLines[other]).active,
                             qPrintable(at + QStringLiteral(": ") + kLines[other]));
            // The station sees what the reader drives.
            QTRY_VERIFY2(device->LineStates().value(kLines[i]) == qMakePair(true, highTrue), qPrintable(at));
            // ... and so does the window once the reader's event reaches it: on, at the level
            // its polarity drives. The window may open on an earlier state (on, high in the
            // low-true round), so the text and the level are waited for together.
            auto* shown = find<QLabel>(stage, QStringLiteral("LineState(%1)").arg(i));
            const QString level =
                highTrue ? QStringLiteral("Line level high") : QStringLiteral("Line level low");
            QTRY_VERIFY2(shown->text() == QStringLiteral("ON") && shown->toolTip() == level,
                         qPrintable(at + QStringLiteral(": ") + shown->text() + QStringLiteral(", ") +
                                    shown->toolTip()));
            stage.close();
        }
    }
}

// Inputs: a general-purpose line read on its falling edge selects its PID; the OPTO input
// waits its delay and holds for its latch.
void checkInputs(Stage& stage) {
    restart(stage, QStringLiteral("3.0.2.1"));
    stage.setField(QStringLiteral("TRIG"), 0, QStringLiteral("T"));
    stage.open(kWindow);
    testing::typeInto(find<QLineEdit>(stage, "OInDelay"), QStringLiteral("250"));
    stage.apply();
    QTRY_COMPARE(stage.fields(QStringLiteral("TD")), QStringList({"250"}));
    sim::IoLines& lines = stage.reader().lines();
    QSignalSpy fired(&lines, &sim::IoLines::inputFired);

    // The trigger delay.
    QElapsedTimer clock;
    clock.start();
    stage.reader().setExternalInput(true);
    QVERIFY2(fired.isEmpty(), qPrintable(fired.value(0).value(0).toString()));
    QTRY_COMPARE_WITH_TIMEOUT(fired.size(), 1, 5000);
    const qint64 delayed = clock.elapsed();
    QVERIFY2(delayed >= 245 && delayed <= 900, qPrintable(QString::number(delayed)));
    QCOMPARE(fired.at(0).at(0).toString(), QStringLiteral("TRIGGER"));
    stage.reader().setExternalInput(false);
    QTRY_VERIFY(!lines.state(QStringLiteral("OPTO_IN1")).active);
    stage.close();

    // The latch: a short pulse is seen for the latch time.
    stage.open(kWindow);
    testing::typeInto(find<QLineEdit>(stage, "OInDelay"), QStringLiteral("0"));
    testing::typeInto(find<QLineEdit>(stage, "OInLatch"), QStringLiteral("300"));
    stage.apply();
    QTRY_COMPARE(stage.fields(QStringLiteral("TBL")), QStringList({"300"}));
    QTRY_COMPARE(stage.fields(QStringLiteral("TD")), QStringList({"0"}));
    clock.restart();
    stage.reader().setExternalInput(true);
    QVERIFY(lines.state(QStringLiteral("OPTO_IN1")).active);
    stage.reader().setExternalInput(false);
    QVERIFY(lines.state(QStringLiteral("OPTO_IN1")).active);
    QTRY_VERIFY_WITH_TIMEOUT(!lines.state(QStringLiteral("OPTO_IN1")).active, 5000);
    const qint64 held = clock.elapsed();
    QVERIFY2(held >= 295 && held <= 1000, qPrintable(QString::number(held)));

    stage.close();

    // Each general-purpose line read as an input on its falling edge selects its own PID;
    // the reader then takes on the settings stored there.
    const QStringList inputs = {"READ_A", "READ_B", "LEARN", "READ_D"};
    for (int k = 0; k < 4; ++k) {
        const int line = k + 3;
        const QString pid = QString::number(k + 2);
        restart(stage, QStringLiteral("3.0.2.1"));
        stage.setField(QStringLiteral("TRIG"), 0, QStringLiteral("T"));
        stage.send(QStringLiteral("STORE ") + pid); // with a latch of 0
        stage.setField(QStringLiteral("TBL"), 0, QStringLiteral("10"));
        stage.open(kWindow);
        testing::choose(tag(stage, line), inputs[k]);
        testing::choose(type(stage, line), QStringLiteral("INPUT_NEG"));
        testing::choose(find<QComboBox>(stage, QStringLiteral("PID(%1)").arg(k)), pid);
        stage.apply();
        QTRY_COMPARE(stage.fields(QStringLiteral("ASSIGNEX %1").arg(line)), QStringList({pid}));
        sim::IoLines& gpio = stage.reader().lines();
        QSignalSpy input(&gpio, &sim::IoLines::inputFired);
        QString error;
        QVERIFY2(stage.reader().driveLine(kLines[line], true, &error), qPrintable(error));
        QVERIFY2(input.isEmpty(), qPrintable(kLines[line]));
        QVERIFY(gpio.state(kLines[line]).high);
        QVERIFY2(stage.reader().driveLine(kLines[line], false, &error), qPrintable(error));
        QCOMPARE(input.size(), 1);
        QCOMPARE(input.at(0), QVariantList({inputs[k], k + 2}));
        // The other general-purpose lines are outputs: they cannot be driven.
        for (int other = 3; other < 7; ++other)
            if (other != line)
                QVERIFY2(!stage.reader().driveLine(kLines[other], true), qPrintable(kLines[other]));
        QTRY_COMPARE(stage.fields(QStringLiteral("TBL")), QStringList({"0"}));
        stage.close();
    }
}

} // namespace

WindowContract ioAssignContract() {
    WindowContract w;
    w.window = kWindow;
    w.lowVersion = QStringLiteral("2.0.1.0"); // level 5: no CALIBRATE, match or light-control bits
    w.setup = {QStringLiteral("STORE 2"), QStringLiteral("STORE 9")};

    // Tags per line; the later levels' tags are offered from their level.
    const QList<std::pair<QStringList, int>> tags = {
        {{"", "PASS", "DV", "GOOD", ""}, 0},
        {{"", "MATCH_BIT_2", "MATCH_BIT_3", ""}, 7},
        {{"", "LIGHT_CTL_BIT_1", "LIGHT_CTL_BIT_4", ""}, 8},
        {{"", "READ_A", "READY", ""}, 0},
        {{"", "CALIBRATE", "MATCH_BIT_1", ""}, 7},
        {{"", "LIGHT_CTL_BIT_3", "MATCH_BIT_4", ""}, 8},
        {{"", "MATCH_SET", "LOCATE_FAILURE", "READ_D", ""}, 0},
    };
    for (int i = 0; i < 7; ++i) {
        ControlContract c = row(QStringLiteral("TagNameCombo(%1)").arg(i), Kind::List,
                                QStringLiteral("IOASSIGN ") + kLines[i], 0, quoted(tags[i].first));
        c.fromLevel = tags[i].second;
        c.below = Below::Unoffered;
        w.controls << c;
    }

    // The criterion type of the tag a line carries.
    const QList<std::pair<QString, QStringList>> types = {
        {"GOOD", {"BOOL", "MAX_MIN", "NOMINAL_DEV", "BOOL"}},
        {"FAIR", {"MASK", "NOMINAL_DEV", "MASK"}},
        {"POOR", {"BOOL", "MAX_MIN", "BOOL"}},
        {"READ_A", {"INPUT_POS", "INPUT_NEG", "INPUT_BOTH", "INPUT_POS"}},
        {"READ_B", {"INPUT_BOTH", "INPUT_POS", "INPUT_NEG"}},
        {"DECODE_FAILURE", {"BOOL", "MAX_MIN", "BOOL"}},
        {"RETRY", {"INPUT_NEG", "INPUT_POS", "INPUT_BOTH"}},
    };
    for (int i = 0; i < 7; ++i) {
        const QString& t = types[i].first;
        ControlContract c = row(QStringLiteral("TypeCombo(%1)").arg(i), Kind::List,
                                QStringLiteral("SET_CRITERIA ") + t, 0, quoted(types[i].second));
        c.needs = {QStringLiteral("IOASSIGN %1 %2").arg(kLines[i], t)};
        if (t == QLatin1String("FAIR"))
            c.needs << QStringLiteral("SET_CRITERIA FAIR MASK 0xFF \"\"");
        w.controls << c;
    }

    // The arguments of the tag a line carries, within what the tag and type allow.
    struct Arguments {
        QString tag;
        QString criterion; // the reader's SET_CRITERIA fields
        QStringList first, second;
    };
    const QList<Arguments> arguments = {
        {"MATCH_FAILURE", "NOMINAL_DEV 0 0", {"0", "-20", "1000"}, {"0", "35", "-1000"}},
        {"ANGLE_FAILURE", "NOMINAL_DEV 0 15", {"0", "359", "90"}, {"15", "0", "200"}},
        {"LOCATE_FAILURE", "MASK 0x7FFFFFFF \"\"", {"0x7FFFFFFF", "0xFF", "0x1A2B"}, {}},
        {"READ_A", "INPUT_POS 0 0", {"0", "250", "10000"}, {"0", "500", "9999"}},
        {"PASS", "MAX_MIN 10 -10", {"10", "500", "-10"}, {"-10", "5", "10"}},
        {"LEARN", "INPUT_NEG 0 0", {"0", "1", "4000"}, {"0", "10000", "7"}},
        {"FAIL", "NOMINAL_DEV 0 0", {"0", "-1000", "999"}, {"0", "1", "-5"}},
    };
    for (int i = 0; i < 7; ++i) {
        const Arguments& a = arguments[i];
        for (int which : {1, 2}) {
            const QStringList& values = which == 1 ? a.first : a.second;
            // A mask has no second argument: this line's second one is shown with MAX_MIN.
            const bool mask = values.isEmpty();
            const QString onTag = mask ? QStringLiteral("GOOD") : a.tag;
            ControlContract c = row(QStringLiteral("Argument%1Text(%2)").arg(which).arg(i), Kind::Box,
                                    QStringLiteral("SET_CRITERIA ") + onTag, which,
                                    quoted(mask ? QStringList{"0", "-50", "100"} : values));
            c.needs = {QStringLiteral("IOASSIGN %1 %2").arg(kLines[i], onTag),
                       QStringLiteral("SET_CRITERIA %1 %2").arg(onTag, mask ? "MAX_MIN 100 0" : a.criterion)};
            w.controls << c;
        }
    }

    for (int i = 0; i < 7; ++i)
        w.controls << row(QStringLiteral("PolarityCheck(%1)").arg(i), Kind::Check,
                          QStringLiteral("SIGOUT ") + kLines[i], 0, {{"H", "on"}, {"L", "off"}, {"H", "on"}});

    // The PID an input on a general-purpose line selects ("0" for none).
    const QStringList inputTags = {"READ_C", "MATCH_SET", "RETRY", "READ_A"};
    for (int k = 0; k < 4; ++k) {
        ControlContract c =
            row(QStringLiteral("PID(%1)").arg(k), Kind::List, QStringLiteral("ASSIGNEX %1").arg(k + 3), 0,
                {{"CLEAR", "0"}, {"2", "2"}, {"9", "9"}, {"CLEAR", "0"}});
        c.needs = {QStringLiteral("IOASSIGN %1 %2").arg(kLines[k + 3], inputTags[k])};
        w.controls << c;
    }

    w.controls << row(QStringLiteral("OInDelay"), Kind::Box, QStringLiteral("TD"), 0,
                      {{"0", "0"}, {"250", "250"}, {"10000", "10000"}});
    w.controls << row(QStringLiteral("OInLatch"), Kind::Box, QStringLiteral("TBL"), 0,
                      {{"0", "0"}, {"40", "40"}, {"10000", "10000"}});
    w.controls << row(QStringLiteral("OInPID"), Kind::List, QStringLiteral("ASSIGNEX 2"), 0,
                      {{"CLEAR", "0"}, {"9", "9"}, {"2", "2"}, {"CLEAR", "0"}});

    w.checks = {checkTexts,    checkTypeMessages, checkTagRules,   checkArguments,
                checkLongMask, checkWholeApply,   checkLineStates, checkInputs};
    return w;
}

} // namespace vm::contracts
