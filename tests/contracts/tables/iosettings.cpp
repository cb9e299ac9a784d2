// IO settings: trigger source and edge, the user trigger string, the IO handshake mode with
// its signal duration and, on older readers, the output polarities; what the reader's lines
// then do.
#include "contracts/contract.h"
#include "contracts/tables/common.h"

#include "app/windowregistry.h"
#include "link/connection.h"
#include "settings/settingswindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>

namespace vm::contracts {

namespace {

const QString kWindow = QStringLiteral("frmIOSettings");
const QString kOlder = QStringLiteral("1.2.0.0"); // level 3: polarity frames
const QString kLevel4 = QStringLiteral("2.0.2.0");

struct Mode {
    QString caption;
    QString keyword;
    bool pulsed;
    bool dataValid;
    QStringList lines; // the line labels shown from level 4
};
const QList<Mode> kModes = {
    {"Disabled", "NONE", false, false, {}},
    {"Pass/Fail Only - Full Handshake", "LX_HS", false, false, {"Pass", "Fail", "DV", "RTE"}},
    {"Pass/Fail Only - Pipelined", "LX_PULSE", true, false, {"Pass", "Fail", "DV", "RTE"}},
    {"Data Valid - Full Handshake", "DV_HS", false, true, {"Pass", "Fail", "DV", "RTE"}},
    {"Data Valid - Pipelined", "DV_PULSE", true, true, {"Pass", "Fail", "DV", "RTE"}},
    {"DV - 2 Line Verify - Full HS", "DV_2LINE_HS", false, true, {"DV", "RTE", "Good", "Poor"}},
    {"DV - 3 Line Verify - Full HS", "DV_3LINE_HS", false, true, {"DV", "RTE", "Good", "Fair", "Poor"}},
    {"DV - 2 Line Verify - Pulse", "DV_2LINE_PULSE", true, true, {"DV", "RTE", "Good", "Poor"}},
    {"DV - 3 Line Verify - Pulse", "DV_3LINE_PULSE", true, true, {"DV", "RTE", "Good", "Fair", "Poor"}},
};
const QStringList kLineLabels = {"PassLabel", "FailLabel", "DVLabel",  "RTELabel",
                                 "GoodLabel", "FairLabel", "PoorLabel"};

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

ControlContract row(const char* name, Kind kind, const char* parameter, int field, QList<Value> values) {
    ControlContract c;
    c.name = QLatin1String(name);
    c.kind = kind;
    c.parameter = QLatin1String(parameter);
    c.field = field;
    c.values = std::move(values);
    return c;
}

// Captions, lists and frames, at level 3 and at the current level.
void checkTexts(Stage& stage) {
    stage.start(kOlder);
    QWidget* window = stage.open(kWindow);
    QVERIFY(window);
    QCOMPARE(window->windowTitle().section(QStringLiteral(" - "), -1), QStringLiteral("IO Settings"));
    const QList<std::pair<QString, QString>> captions = {
        {"TRIG_Frame", "Trigger"},
        {"TRIG_Enabled", "Use Trigger on OPTO IN 1"},
        {"TrigPolarityLabel", "Triggering Edge"},
        {"UTRIG_Label", "User Trigger String"},
        {"IO_Frame", "IO Behavior"},
        {"IOMode_Label", "Mode"},
        {"SigDurationLabel", "Signal Duration"},
        {"SigDurationUnits", "ms"},
        {"OPTOFrame", "OPTO Output Polarity"},
        {"Pass_Label", "1: Pass"},
        {"Fail_Label", "2: Fail"},
        {"DV_Label", "3: Data Valid"},
        {"RTEFrame", "RTE Output Signal (GPIO OUT 2)"},
        {"Polarity_Label", "Polarity"},
        {"IOAssignmentFrame", "IO Assignment"},
        {"IOInstructLabel", "This IOMode requires the definition of the following lines to work correctly:"},
        {"PassLabel", "Pass"},
        {"FailLabel", "Fail"},
        {"DVLabel", "DV"},
        {"RTELabel", "RTE"},
        {"GoodLabel", "Good"},
        {"FairLabel", "Fair"},
        {"PoorLabel", "Poor"},
        {"IOAssignCommand", "IO Assignment"},
        {"OK", "OK"},
        {"Cancel", "Cancel"},
        {"Apply", "Apply"},
    };
    compareCaptions(stage, captions);
    auto* s = settingsWindow(stage);
    QVERIFY(s);
    QCOMPARE(testing::entries(find<QComboBox>(stage, "TRIG_Polarity")),
             QStringList({"Low -> High", "High -> Low", "Both"}));
    for (const char* name : {"Polarity(1)", "Polarity(2)", "Polarity(3)"})
        QCOMPARE(testing::entries(find<QComboBox>(stage, name)),
                 QStringList({"Normally Open", "Normally Closed"}));
    QCOMPARE(testing::entries(find<QComboBox>(stage, "RTE_Polarity")), QStringList({"High", "Low"}));

    // The handshake modes: the first five below level 4, all nine from level 4.
    QStringList older;
    for (int i = 0; i < 5; ++i)
        older << kModes[i].caption;
    QCOMPARE(testing::entries(find<QComboBox>(stage, "IOMode")), older);
    QVERIFY(!shown(stage, "IOAssignmentFrame"));
    QVERIFY(!shown(stage, "IOAssignCommand"));
    restart(stage, kLevel4);
    stage.open(kWindow);
    QStringList all;
    for (const Mode& m : kModes)
        all << m.caption;
    QCOMPARE(testing::entries(find<QComboBox>(stage, "IOMode")), all);
    QVERIFY(shown(stage, "IOAssignmentFrame"));
    QVERIFY(shown(stage, "IOAssignCommand"));
    QVERIFY(shown(stage, "IOInstructLabel"));
}

// Older readers: what each mode shows, as the reader holds it and as the operator picks it.
void checkOlderModes(Stage& stage) {
    restart(stage, kOlder);
    for (int i = 0; i < 5; ++i) {
        const Mode& m = kModes[i];
        for (bool picked : {false, true}) {
            if (picked) {
                stage.setField(QStringLiteral("IO_MODE"), 0,
                               i == 0 ? QStringLiteral("DV_HS") : QStringLiteral("NONE"));
                stage.open(kWindow);
                testing::choose(find<QComboBox>(stage, "IOMode"), m.caption);
            } else {
                stage.setField(QStringLiteral("IO_MODE"), 0, m.keyword);
                stage.open(kWindow);
                QCOMPARE(find<QComboBox>(stage, "IOMode")->currentText(), m.caption);
            }
            const QString at = m.keyword + (picked ? QStringLiteral(" picked") : QStringLiteral(" held"));
            QVERIFY2(find<QLineEdit>(stage, "Duration")->isEnabled() == m.pulsed, qPrintable(at));
            // No greyed box without its caption: the duration is shown only with it.
            QVERIFY2(shown(stage, "Duration") == m.pulsed, qPrintable(at));
            QVERIFY2(shown(stage, "SigDurationLabel") == m.pulsed, qPrintable(at));
            QVERIFY2(shown(stage, "SigDurationUnits") == m.pulsed, qPrintable(at));
            QVERIFY2(shown(stage, "OPTOFrame") == (i != 0), qPrintable(at));
            QVERIFY2(shown(stage, "RTEFrame") == (i != 0), qPrintable(at));
            if (i != 0) {
                QVERIFY2(shown(stage, "DV_Label") == m.dataValid, qPrintable(at));
                QVERIFY2(shown(stage, "Polarity(3)") == m.dataValid, qPrintable(at));
                QVERIFY2(shown(stage, "Fail_Label") == !m.dataValid, qPrintable(at));
                QVERIFY2(shown(stage, "Polarity(2)") == !m.dataValid, qPrintable(at));
                QVERIFY2(shown(stage, "Polarity(1)"), qPrintable(at));
            }
            stage.close();
        }
    }
}

// Newer readers: never the polarity frames; the line labels each mode needs.
void checkModeLines(Stage& stage) {
    restart(stage, QStringLiteral("3.0.2.1"));
    for (const Mode& m : kModes) {
        stage.setField(QStringLiteral("IO_MODE"), 0, m.keyword);
        stage.open(kWindow);
        QCOMPARE(find<QComboBox>(stage, "IOMode")->currentText(), m.caption);
        QStringList lines;
        for (const QString& name : kLineLabels)
            if (shown(stage, name))
                lines << caption(stage.control(name));
        QVERIFY2(lines == m.lines, qPrintable(m.keyword + QStringLiteral(": ") + lines.join(',')));
        QVERIFY2(!shown(stage, "OPTOFrame") && !shown(stage, "RTEFrame"), qPrintable(m.keyword));
        QVERIFY2(find<QLineEdit>(stage, "Duration")->isEnabled() == m.pulsed, qPrintable(m.keyword));
        QVERIFY2(shown(stage, "Duration") == m.pulsed, qPrintable(m.keyword));
        QVERIFY2(shown(stage, "SigDurationLabel") == m.pulsed, qPrintable(m.keyword));
        // The wrapped instruction gets the height its width needs: nothing clipped.
        auto* instruct = find<QLabel>(stage, "IOInstructLabel");
        QTRY_VERIFY2(instruct->height() >= instruct->heightForWidth(instruct->width()),
                     qPrintable(m.keyword));
        stage.close();
    }
    // Picking a mode updates the list at once.
    stage.setField(QStringLiteral("IO_MODE"), 0, QStringLiteral("NONE"));
    stage.open(kWindow);
    // As first shown: no taller than what "Disabled" needs.
    stage.window()->adjustSize();
    QCoreApplication::processEvents();
    testing::choose(find<QComboBox>(stage, "IOMode"), kModes[6].caption);
    QStringList lines;
    for (const QString& name : kLineLabels)
        if (shown(stage, name))
            lines << caption(stage.control(name));
    QCOMPARE(lines, kModes[6].lines);
    // The window grows with the lines that appeared instead of clipping the instruction.
    auto* instruct = find<QLabel>(stage, "IOInstructLabel");
    QTRY_VERIFY(instruct->height() >= instruct->heightForWidth(instruct->width()));

    // The button leads to the IO assignment window.
    QPointer<QWidget> before = stage.window();
    find<QPushButton>(stage, "IOAssignCommand")->click();
    QWidget* assign = app::windows().find(QStringLiteral("frmIOAssign"));
    QVERIFY(assign);
    QTRY_VERIFY(assign->isVisible());
    QCOMPARE(assign->windowTitle().section(QStringLiteral(" - "), -1), QStringLiteral("IO Assignment"));
    assign->close();
    QVERIFY(before);
}

// Trigger on or off: what follows it; the user trigger text; the duration's range.
void checkTriggerAndDuration(Stage& stage) {
    stage.start(QStringLiteral("3.0.2.1"));
    stage.setField(QStringLiteral("TRIG"), 0, QStringLiteral("C"));
    stage.setField(QStringLiteral("TRIG U"), 0, QStringLiteral("\"ABC\""));
    stage.setField(QStringLiteral("IO_MODE"), 0, QStringLiteral("DV_PULSE"));
    stage.open(kWindow);
    auto* user = find<QLineEdit>(stage, "UserTrigger");
    QCOMPARE(user->text(), QStringLiteral("ABC"));
    QVERIFY(!user->isEnabled());
    // The text goes with its caption: no greyed box without a name.
    const char* followers[] = {"TRIG_Polarity", "TrigPolarityLabel", "UTRIG_Label", "UserTrigger"};
    for (const char* name : followers)
        QVERIFY2(!shown(stage, name), name);
    QTest::mouseClick(find<QCheckBox>(stage, "TRIG_Enabled"), Qt::LeftButton, {}, QPoint(5, 5));
    QVERIFY(user->isEnabled());
    for (const char* name : followers)
        QVERIFY2(shown(stage, name), name);
    QVERIFY(settingsWindow(stage)->applyButton()->isEnabled());
    QVERIFY(settingsWindow(stage)->okButton()->isEnabled());

    // The duration is held to 0..1500 in the box and on the reader.
    auto* duration = find<QLineEdit>(stage, "Duration");
    const QList<std::pair<QString, QString>> typed = {
        {"2000", "1500"}, {"-3", "0"}, {"abc", "0"}, {"1501", "1500"}};
    for (const auto& [entry, held] : typed) {
        testing::typeInto(duration, entry);
        QCOMPARE(duration->text(), held);
        stage.apply();
        QTRY_COMPARE(stage.fields(QStringLiteral("IO_MODE")).value(1), held);
        stage.setField(QStringLiteral("IO_MODE"), 1, QStringLiteral("50"));
    }
    QCOMPARE(stage.fields(QStringLiteral("TRIG")).value(0), QStringLiteral("T"));
    stage.close();

    // Cancel sends nothing; OK sends and closes.
    stage.open(kWindow);
    testing::choose(find<QComboBox>(stage, "IOMode"), kModes[1].caption);
    {
        testing::Received received(stage.reader());
        settingsWindow(stage)->cancelButton()->click();
        QTRY_VERIFY(!stage.window()->isVisible());
        QVERIFY2(received.starting(QStringLiteral("IO_MODE")).isEmpty(),
                 qPrintable(received.lines().join('|')));
    }
    QCOMPARE(stage.fields(QStringLiteral("IO_MODE")).value(0), QStringLiteral("DV_PULSE"));
    stage.open(kWindow);
    QVERIFY(!settingsWindow(stage)->okButton()->isEnabled()); // nothing changed yet
    testing::choose(find<QComboBox>(stage, "IOMode"), kModes[1].caption);
    QSignalSpy broadcasts(&stage.station(), &link::Connection::OnBroadcastMessage);
    settingsWindow(stage)->okButton()->click();
    QTRY_COMPARE(stage.fields(QStringLiteral("IO_MODE")).value(0), QStringLiteral("LX_HS"));
    QTRY_VERIFY(!stage.window()->isVisible());
    QTRY_COMPARE(broadcasts.size(), 1);
    QCOMPARE(broadcasts.at(0), QVariantList({kWindow, QStringLiteral("UPDATEIO"), QString()}));
    stage.close();

    // Another window's UPDATEIO reloads what the reader now holds.
    stage.open(kWindow);
    stage.setField(QStringLiteral("TRIG"), 0, QStringLiteral("C"));
    stage.station().BroadcastMessage(QStringLiteral("BasicApplication"), QStringLiteral("UPDATEIO"),
                                     QString());
    QTRY_VERIFY(!find<QCheckBox>(stage, "TRIG_Enabled")->isChecked());
    QTRY_VERIFY(!shown(stage, "TRIG_Polarity"));
}

// A reply that does not come is reported and the window stays.
void checkQueryError(Stage& stage) {
    stage.start(QStringLiteral("3.0.2.1"));
    stage.reader().setNextReplyFault(sim::ReplyFault::Silent, 0, QStringLiteral("IO_MODE"));
    QElapsedTimer clock;
    qint64 shownAfter = -1;
    {
        testing::ExpectPrompts boxes;
        boxes
            ->expectMessage(
                QStringLiteral("Query Error"),
                QStringLiteral("Error querying IO settings from camera (No reply to \"IO_MODE\" within "
                               "500 ms)"),
                app::PromptIcon::Exclamation, app::PromptButtons::Ok, app::PromptAnswer::Ok)
            .whileOpen([&] { shownAfter = clock.elapsed(); });
        clock.start();
        QWidget* window = stage.open(kWindow);
        QVERIFY(window);
        QTRY_VERIFY_WITH_TIMEOUT(shownAfter >= 0, 5000);
        QVERIFY(window->isVisible());
    }
    // The reader is given the ordinary time-out (a coarse timer's 5 % early) before the window
    // gives up.
    QVERIFY2(shownAfter >= 470 && shownAfter <= 3000, qPrintable(QString::number(shownAfter)));
}

// A reload whose reply does not come: the controls of that parameter keep what they showed,
// greyed and marked, the window names the parameter, and nothing of it goes back to the
// reader; the next load that gets its answer brings them back.
void checkFailedReload(Stage& stage) {
    restart(stage, kOlder);
    stage.send(QStringLiteral("TRIG T"));
    stage.send(QStringLiteral("TE N"));
    stage.send(QStringLiteral("IO_MODE LX_PULSE 300"));
    stage.open(kWindow);
    auto* window = settingsWindow(stage);
    QVERIFY(window);
    auto* note = find<QLabel>(stage, "NotReadNote");
    QVERIFY(note && !note->isVisibleTo(stage.window()));
    auto* mode = find<QComboBox>(stage, "IOMode");
    auto* duration = find<QLineEdit>(stage, "Duration");
    auto* trigger = find<QCheckBox>(stage, "TRIG_Enabled");
    const QStringList mark = {"IOMode", "Duration", "TRIG_Enabled"};
    auto marked = [&](const char* name) {
        return stage.control(QLatin1String(name))
            ->property(settings::SettingsWindow::kNotReadProperty)
            .toBool();
    };
    // Another window's UPDATEIO reloads; the reader does not answer the keyword.
    auto reloadWithout = [&](const QString& keyword) {
        QSignalSpy loaded(window, &settings::SettingsWindow::loaded);
        testing::ExpectPrompts boxes;
        boxes->expectMessage(
            QStringLiteral("Query Error"),
            QStringLiteral("Error querying IO settings from camera (No reply to \"%1\" within "
                           "500 ms)")
                .arg(keyword),
            app::PromptIcon::Exclamation, app::PromptButtons::Ok, app::PromptAnswer::Ok);
        stage.reader().setNextReplyFault(sim::ReplyFault::Silent, 0, keyword);
        stage.station().BroadcastMessage(QStringLiteral("BasicApplication"), QStringLiteral("UPDATEIO"),
                                         QString());
        QTRY_VERIFY_WITH_TIMEOUT(!loaded.isEmpty(), 5000);
    };

    reloadWithout(QStringLiteral("IO_MODE"));
    QCOMPARE(mode->currentText(), kModes[2].caption);
    QCOMPARE(duration->text(), QStringLiteral("300"));
    QVERIFY(!mode->isEnabled() && !duration->isEnabled());
    QVERIFY(marked("IOMode") && marked("Duration") && !marked("TRIG_Enabled"));
    QVERIFY(shown(stage, "OPTOFrame") && shown(stage, "SigDurationLabel"));
    QVERIFY(note->isVisibleTo(stage.window()));
    QVERIFY2(note->text().contains(QStringLiteral("IO_MODE")), qPrintable(note->text()));
    // A click on the greyed list does nothing; another change goes out alone.
    QTest::mouseClick(mode, Qt::LeftButton);
    QVERIFY(trigger->isEnabled() && trigger->isChecked());
    {
        testing::Received received(stage.reader());
        testing::choose(find<QComboBox>(stage, "TRIG_Polarity"), QStringLiteral("Both"));
        stage.apply();
        QTRY_COMPARE(stage.fields(QStringLiteral("TE")), QStringList({"B"}));
        QStringList writes;
        for (const QString& line : received.lines())
            if (!stage.isQuery(line))
                writes << line;
        QCOMPARE(writes, QStringList({"TE B"}));
    }
    QCOMPARE(stage.fields(QStringLiteral("IO_MODE")), QStringList({"LX_PULSE", "300"}));

    // The trigger mode lost: the check box stays checked and greyed, and a click on it sends
    // nothing.
    reloadWithout(QStringLiteral("TRIG"));
    QVERIFY(trigger->isChecked() && !trigger->isEnabled() && marked("TRIG_Enabled"));
    QVERIFY(!marked("IOMode") && mode->isEnabled());
    QVERIFY2(note->text().contains(QStringLiteral("TRIG")) &&
                 !note->text().contains(QStringLiteral("IO_MODE")),
             qPrintable(note->text()));
    QVERIFY(shown(stage, "TRIG_Polarity"));
    {
        testing::Received received(stage.reader());
        QTest::mouseClick(trigger, Qt::LeftButton, {}, QPoint(5, 5));
        QVERIFY(trigger->isChecked());
        testing::choose(mode, kModes[1].caption);
        stage.apply();
        QTRY_COMPARE(stage.fields(QStringLiteral("IO_MODE")), QStringList({"LX_HS", "300"}));
        QCOMPARE(received.starting(QStringLiteral("TRIG")), QStringList());
    }
    QCOMPARE(stage.fields(QStringLiteral("TRIG")), QStringList({"T"}));

    // Answered again: nothing greyed, nothing named.
    {
        QSignalSpy loaded(window, &settings::SettingsWindow::loaded);
        stage.station().BroadcastMessage(QStringLiteral("BasicApplication"), QStringLiteral("UPDATEIO"),
                                         QString());
        QTRY_VERIFY(!loaded.isEmpty());
    }
    for (const QString& name : mark)
        QVERIFY2(!stage.control(name)->property(settings::SettingsWindow::kNotReadProperty).toBool(),
                 qPrintable(name));
    // The duration follows the mode again: a full handshake has none.
    QVERIFY(mode->isEnabled() && trigger->isEnabled() && !duration->isEnabled());
    QVERIFY(!note->isVisibleTo(stage.window()));
    stage.close();

    // Opened without an answer for the first polarity: the list shows no entry, greyed.
    stage.reader().setNextReplyFault(sim::ReplyFault::Silent, 0, QStringLiteral("SIGOUT"));
    {
        testing::ExpectPrompts boxes;
        boxes->expectMessage(
            QStringLiteral("Query Error"),
            QStringLiteral("Error querying IO settings from camera (No reply to \"SIGOUT PASS\" "
                           "within 500 ms)"),
            app::PromptIcon::Exclamation, app::PromptButtons::Ok, app::PromptAnswer::Ok);
        stage.open(kWindow);
    }
    auto* pass = find<QComboBox>(stage, "Polarity(1)");
    QCOMPARE(pass->currentIndex(), -1);
    QVERIFY(!pass->isEnabled() && marked("Polarity(1)"));
    QVERIFY(find<QComboBox>(stage, "RTE_Polarity")->isEnabled());
}

// What the reader's input does with the edge the window set.
void checkTriggerEdges(Stage& stage) {
    restart(stage, QStringLiteral("3.0.2.1"));
    const QList<std::pair<QString, QList<bool>>> edges = {
        {"Low -> High", {true, false}}, {"High -> Low", {false, true}}, {"Both", {true, true}}};
    for (const auto& [edge, fires] : edges) {
        stage.setField(QStringLiteral("TRIG"), 0, QStringLiteral("C"));
        stage.setField(QStringLiteral("TE"), 0,
                       edge == QLatin1String("Low -> High") ? QStringLiteral("B") : QStringLiteral("P"));
        stage.open(kWindow);
        QTest::mouseClick(find<QCheckBox>(stage, "TRIG_Enabled"), Qt::LeftButton, {}, QPoint(5, 5));
        testing::choose(find<QComboBox>(stage, "TRIG_Polarity"), edge);
        stage.apply();
        QTRY_COMPARE(stage.fields(QStringLiteral("TRIG")).value(0), QStringLiteral("T"));
        QSignalSpy fired(&stage.reader().lines(), &sim::IoLines::inputFired);
        QSignalSpy seen(&stage.station(), &link::Connection::OnLineStateChanged);
        stage.reader().setExternalInput(true);
        QCOMPARE(fired.size(), fires[0] ? 1 : 0);
        stage.reader().setExternalInput(false);
        QCOMPARE(fired.size(), (fires[0] ? 1 : 0) + (fires[1] ? 1 : 0));
        for (const auto& f : fired)
            QCOMPARE(f.at(0).toString(), QStringLiteral("TRIGGER"));
        // The station sees the input go up and down.
        QTRY_VERIFY(seen.size() >= 2);
        bool up = false, down = false;
        for (const auto& s : seen)
            if (s.at(0).toString() == QLatin1String("OPTO_IN1")) {
                up = up || s.at(2).toBool();
                down = down || (up && !s.at(2).toBool());
            }
        QVERIFY2(up && down, qPrintable(edge));
        stage.close();
    }
}

// Older readers: a pipelined mode pulses the pass line for the signal duration, with the
// polarity the window set; RTE on GPIO_OUT2 takes its own polarity.
void checkPulse(Stage& stage) {
    restart(stage, kOlder);
    stage.setField(QStringLiteral("TRIG"), 0, QStringLiteral("T"));
    for (const QString& polarity : {QStringLiteral("Normally Closed"), QStringLiteral("Normally Open")}) {
        const bool highTrue = polarity == QLatin1String("Normally Open");
        stage.setField(QStringLiteral("IO_MODE"), 0, QStringLiteral("NONE"));
        stage.setField(QStringLiteral("SIGOUT PASS"), 0,
                       highTrue ? QStringLiteral("L") : QStringLiteral("H"));
        stage.setField(QStringLiteral("SIGOUT RTE"), 0, highTrue ? QStringLiteral("L") : QStringLiteral("H"));
        stage.open(kWindow);
        testing::choose(find<QComboBox>(stage, "IOMode"), kModes[2].caption);
        testing::typeInto(find<QLineEdit>(stage, "Duration"), QStringLiteral("300"));
        testing::choose(find<QComboBox>(stage, "Polarity(1)"), polarity);
        testing::choose(find<QComboBox>(stage, "RTE_Polarity"),
                        highTrue ? QStringLiteral("High") : QStringLiteral("Low"));
        stage.apply();
        QTRY_COMPARE(stage.fields(QStringLiteral("IO_MODE")), QStringList({"LX_PULSE", "300"}));
        sim::IoLines& lines = stage.reader().lines();
        // Idle and ready: the pass line is off, RTE on, each at its polarity's level.
        QTRY_COMPARE(lines.state(QStringLiteral("OPTO_OUT1")), (sim::LineState{false, !highTrue}));
        QTRY_COMPARE(lines.state(QStringLiteral("GPIO_OUT2")), (sim::LineState{true, highTrue}));

        QElapsedTimer clock;
        qint64 on = -1, off = -1;
        bool levelWhileOn = !highTrue;
        auto watch = QObject::connect(&lines, &sim::IoLines::lineChanged, &stage.reader(),
                                      [&](const QString& line, bool active, bool high) {
                                          if (line != QLatin1String("OPTO_OUT1"))
                                              return;
                                          if (active && on < 0) {
                                              on = clock.elapsed();
                                              levelWhileOn = high;
                                          } else if (!active && on >= 0 && off < 0) {
                                              off = clock.elapsed();
                                          }
                                      });
        QSignalSpy seen(&stage.station(), &link::Connection::OnLineStateChanged);
        clock.start();
        stage.reader().setExternalInput(true);
        stage.reader().setExternalInput(false);
        QTRY_VERIFY_WITH_TIMEOUT(off >= 0, 10000);
        QObject::disconnect(watch);
        QCOMPARE(levelWhileOn, highTrue);
        // The pulse lasts the signal duration: never shorter, and not much longer even on a
        // busy machine.
        QVERIFY2(off - on >= 295 && off - on <= 700, qPrintable(QString::number(off - on)));
        QCOMPARE(lines.state(QStringLiteral("OPTO_OUT1")), (sim::LineState{false, !highTrue}));
        // The station hears the pass line come on at the polarity's level and go off.
        QTRY_VERIFY([&] {
            bool up = false;
            for (const auto& s : seen)
                if (s.at(0).toString() == QLatin1String("OPTO_OUT1")) {
                    if (s.at(1).toBool() && s.at(2).toBool() == highTrue)
                        up = true;
                    else if (up && !s.at(1).toBool() && s.at(2).toBool() == !highTrue)
                        return true;
                }
            return false;
        }());
        stage.close();
    }
}

} // namespace

WindowContract ioSettingsContract() {
    WindowContract w;
    w.window = kWindow;
    w.broadcasts = {QStringLiteral("UPDATEIO")};

    w.controls << row("TRIG_Enabled", Kind::Check, "TRIG", 0, {{"C", "off"}, {"T", "on"}, {"C", "off"}});

    ControlContract edge =
        row("TRIG_Polarity", Kind::List, "TE", 0,
            {{"P", "Low -> High"}, {"N", "High -> Low"}, {"B", "Both"}, {"P", "Low -> High"}});
    edge.needs = {QStringLiteral("TRIG T")};
    w.controls << edge;

    ControlContract user =
        row("UserTrigger", Kind::Box, "TRIG U", 0, {{"\"ABC\"", "ABC"}, {"\"GO\"", "GO"}, {"\"T1\"", "T1"}});
    user.needs = {QStringLiteral("TRIG T")};
    w.controls << user;

    QList<Value> modes;
    for (const Mode& m : kModes)
        modes.append({m.keyword, m.caption});
    modes.append({kModes[0].keyword, kModes[0].caption});
    w.controls << row("IOMode", Kind::List, "IO_MODE", 0, modes);

    ControlContract duration = row("Duration", Kind::Box, "IO_MODE", 1,
                                   {{"50", "50"}, {"250", "250"}, {"1500", "1500"}, {"0", "0"}});
    duration.needs = {QStringLiteral("IO_MODE LX_PULSE 50")};
    w.controls << duration;

    // The output polarities of the older readers; the data-valid one shows in data-valid modes.
    const char* const polarityParameters[] = {"SIGOUT PASS", "SIGOUT FAIL", "SIGOUT DV"};
    for (int i = 0; i < 3; ++i) {
        ControlContract p = row("", Kind::List, polarityParameters[i], 0,
                                {{"H", "Normally Open"}, {"L", "Normally Closed"}, {"H", "Normally Open"}});
        p.name = QStringLiteral("Polarity(%1)").arg(i + 1);
        p.version = kOlder;
        p.needs = {i == 2 ? QStringLiteral("IO_MODE DV_HS 50") : QStringLiteral("IO_MODE LX_HS 50")};
        w.controls << p;
    }
    ControlContract rte =
        row("RTE_Polarity", Kind::List, "SIGOUT RTE", 0, {{"H", "High"}, {"L", "Low"}, {"H", "High"}});
    rte.version = kOlder;
    rte.needs = {QStringLiteral("IO_MODE LX_HS 50")};
    w.controls << rte;

    w.checks = {checkTexts,      checkOlderModes,   checkModeLines,    checkTriggerAndDuration,
                checkQueryError, checkFailedReload, checkTriggerEdges, checkPulse};
    return w;
}

} // namespace vm::contracts
