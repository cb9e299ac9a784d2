// Application mode: trigger, retries, lighting, targeting laser, read time-out and report
// budget, collected until OK or Apply, and four presets that set several of them after a
// confirmation.
#include "contracts/contract.h"
#include "contracts/tables/common.h"
#include "link/record.h"
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
#include <array>

namespace vm::contracts {

namespace {

using app::PromptAnswer;
using app::PromptButtons;
using app::PromptIcon;

const QString kWindow = QStringLiteral("BasicApplication");
const QString kConfirmTitle = QStringLiteral("Confirm application mode changes");
const QString kExternalRefused = QStringLiteral("External Lighting is not allowed while GPIO 1 is in use");
const QStringList kBroadcasts = {"UPDATEPHOTO", "UPDATEIO", "UPDATETIMEOUT", "UPDATELASER",
                                 "UPDATEDROPWHENBUSY"};
const QStringList kInternalLights = {"Off", "On", "Strobe", "Power Strobe", "On w/Power Strobe", "External"};
const QStringList kAllLights =
    kInternalLights + QStringList{"On & External", "Strobe & Ext", "Power Strobe & Ext", "On/PowerStrb/Ext"};
const QStringList kShortRetryModes = {"None", "Time", "Count", "RETRY input Duration", "Intersymbol Wait"};
const QStringList kRetryModes = kShortRetryModes + QStringList{"PID List", "PID List w/Acquire", "Light"};

// A whole RETRYEX line in a mode, for a reader with `slotCount` PID slots (15, or 3 before
// level 7); `at` sets further fields.
QString retryLine(const QString& mode, const QHash<int, QString>& at = {}, int slotCount = 15) {
    QStringList f = {mode, "500", "3", "500"};
    for (int i = 0; i < slotCount; ++i)
        f << "0";
    f << "ON"
      << "0"
      << "N";
    for (auto it = at.cbegin(); it != at.cend(); ++it)
        f[it.key()] = it.value();
    return QStringLiteral("RETRYEX ") + f.join(QLatin1Char(' '));
}

settings::SettingsWindow* dialog(Stage& stage) {
    return qobject_cast<settings::SettingsWindow*>(stage.window());
}

// The summary lines the window shows.
QStringList summary(Stage& stage) {
    auto* info = find<QLabel>(stage, QStringLiteral("AppInfo"));
    return info ? info->text().split(QRegularExpression(QStringLiteral("\r?\n")), Qt::SkipEmptyParts)
                : QStringList();
}

QString shown(Stage& stage, const QString& list) {
    auto* l = find<QComboBox>(stage, list);
    return l ? l->currentText() : QString();
}

// Reloads the open window as another window's broadcast does.
void reloadBy(Stage& stage, const QString& word) {
    QSignalSpy loaded(dialog(stage), &settings::SettingsWindow::loaded);
    stage.station().BroadcastMessage(QStringLiteral("ContractStation"), word, QString());
    QVERIFY(loaded.wait(3000));
}

// Working a control (`action`) is refused with this message, OK only and no icon.
void refused(const QString& text, const std::function<void()>& action) {
    testing::ExpectPrompts boxes;
    boxes->expectMessage("Velmarrow", text, PromptIcon::None, PromptButtons::Ok, PromptAnswer::Ok);
    action();
}
const QString kRangeRefused = QStringLiteral("Value must be in range 35 - 60000");

void expectConfirmation(testing::ExpectPrompts& boxes, const QString& changes, PromptAnswer answer) {
    boxes->expectMessage(kConfirmTitle, QStringLiteral("Please confirm the following changes:\r\n") + changes,
                         PromptIcon::Question, PromptButtons::OkCancel, answer);
}

// The window's captions and lists, and what it shows before any change.
void texts(Stage& stage) {
    stage.start(QStringLiteral("3.0.2.1"));
    QWidget* w = stage.open(kWindow);
    QVERIFY(w);
    QCOMPARE(w->windowTitle().section(QStringLiteral(" - "), -1), QStringLiteral("Application"));
    compareCaptions(stage, {{"App_Label", "Application"},
                            {"TRIG_Frame", "Trigger"},
                            {"TRIG_Enabled", "Use Trigger on OPTO IN 1"},
                            {"TrigPolarityLabel", "Triggering Edge"},
                            {"AdvancedIO", "Advanced IO..."},
                            {"Retry_Label", "Retry Mode"},
                            {"InfiniteISWT", "Infinite ISWT"},
                            {"PID_Label", "PID"},
                            {"Lighting_Label", "Lighting"},
                            {"Target_Label", "Target Laser"},
                            {"TimeoutLabel", "Read Timeout"},
                            {"Label1", "msec"},
                            {"DwellLabel", "Report Budget"},
                            {"Label2", "msec"},
                            {"OK", "OK"},
                            {"Cancel", "Cancel"},
                            {"Apply", "Apply"}});
    auto* s = dialog(stage);
    QVERIFY(!s->okButton()->isEnabled());
    QVERIFY(!s->applyButton()->isEnabled());

    QCOMPARE(testing::entries(find<QComboBox>(stage, "AppMode")),
             (QStringList{"Demo", "Motion", "Stop and Scan", "Presentation / Supermarket"}));
    QCOMPARE(testing::entries(find<QComboBox>(stage, "TRIG_Polarity")),
             (QStringList{"Low -> High", "High -> Low", "Both"}));
    QCOMPARE(testing::entries(find<QComboBox>(stage, "RetryMode")), kRetryModes);
    QStringList counts;
    for (int n = 1; n <= 15; ++n)
        counts << QString::number(n);
    QCOMPARE(testing::entries(find<QComboBox>(stage, "RetryCount")), counts);
    QCOMPARE(testing::entries(find<QComboBox>(stage, "Lighting")), kAllLights);
    QCOMPARE(testing::entries(find<QComboBox>(stage, "RetryLighting")), kAllLights);
    QCOMPARE(testing::entries(find<QComboBox>(stage, "Target")),
             (QStringList{"Off", "On", "Strobe (2 sec)"}));

    // The factory settings: continuous, no retries, lights on, automatic photometry.
    QCOMPARE(summary(stage),
             (QStringList{"Continous Triggers", "No Retries", "Illumination is On", "Auto Photometry"}));
    QCOMPARE(shown(stage, "AppMode"), QStringLiteral("Demo"));
    QVERIFY(!find<QComboBox>(stage, "TRIG_Polarity")->isEnabled());
    for (const char* hidden : {"RetryTime", "RetryCount", "RetryUnits", "InfiniteISWT", "RetryLightFrame"})
        QVERIFY2(!stage.control(hidden)->isVisibleTo(w), hidden);
    for (int i = 0; i < 15; ++i)
        QVERIFY(!stage.control(QStringLiteral("PID(%1)").arg(i))->isVisibleTo(w));
}

// The summary, the retry controls and the preset shown for what the reader holds.
void summaries(Stage& stage) {
    stage.start(QStringLiteral("3.0.2.1"));
    stage.send(QStringLiteral("STORE 2"));
    stage.send(QStringLiteral("STORE 9"));
    QWidget* w = stage.open(kWindow);
    QVERIFY(w);
    struct State {
        QString trig, retry, illum, photo;
        QStringList lines;
        QString preset;
    };
    const QList<State> states = {
        {"T",
         retryLine("TIME", {{1, "800"}}),
         "ON_AND_STROBED",
         "AUTO",
         {"Trigger on OPTO IN 1", "Retry for 800 ms", "On and Strobed", "Auto Photometry"},
         "Stop and Scan"},
        {"T",
         retryLine("COUNT", {{2, "7"}}),
         "POWER_STROBE",
         "MANUAL",
         {"Trigger on OPTO IN 1", "Retry up to 7 times", "Power Strobe", "Manual Photometry"},
         "Motion"},
        {"C",
         retryLine("GPIO"),
         "OFF",
         "MANUAL",
         {"Continous Triggers", "Retry while RETRY input is HIGH", "Illumination is OFF",
          "Manual Photometry"},
         "Demo"},
        {"C",
         retryLine("SUPERMARKET", {{3, "0"}}),
         "STROBE",
         "AUTO",
         {"Continous Triggers", "Infinite Inter Symbol Wait", "Normal Strobe", "Auto Photometry"},
         "Presentation / Supermarket"},
        // The supermarket retry outranks the trigger, and manual photometry keeps it.
        {"T",
         retryLine("SUPERMARKET", {{3, "700"}}),
         "EXTERNAL",
         "MANUAL",
         {"Trigger on OPTO IN 1", "Inter Symbol Wait for 700 ms", "External Illumination",
          "Manual Photometry"},
         "Presentation / Supermarket"},
        {"C",
         retryLine("LIST", {{4, "2"}, {5, "0"}, {6, "9"}}),
         "ON_AND_EXT",
         "AUTO",
         {"Continous Triggers", "Retry using PID List (2,9)", "Illumination is On and External",
          "Auto Photometry"},
         "Demo"},
        {"C",
         retryLine("LIGHT", {{19, "POWER_STROBE_AND_EXT"}, {20, "9"}}),
         "STROBE_AND_EXT",
         "AUTO",
         {"Continous Triggers", "Retry with Lighting set to Power Strobe and External",
          "Normal Strobe and External", "Auto Photometry"},
         "Demo"},
    };
    for (const State& s : states) {
        stage.send(QStringLiteral("TRIG ") + s.trig);
        stage.send(s.retry);
        stage.send(QStringLiteral("ILLUM ") + s.illum);
        stage.setField(QStringLiteral("PHOTOEX"), 0, s.photo);
        reloadBy(stage, QStringLiteral("UPDATEAPPMODE"));
        QCOMPARE(summary(stage), s.lines);
        QCOMPARE(shown(stage, "AppMode"), s.preset);
        QCOMPARE(find<QComboBox>(stage, "TRIG_Polarity")->isEnabled(), s.trig == QLatin1String("T"));
        // Only the controls of the retry mode are shown.
        const QString mode = s.retry.section(' ', 1, 1);
        QCOMPARE(find<QLineEdit>(stage, "RetryTime")->isVisibleTo(w),
                 mode == QLatin1String("TIME") || mode == QLatin1String("SUPERMARKET"));
        QCOMPARE(find<QComboBox>(stage, "RetryCount")->isVisibleTo(w), mode == QLatin1String("COUNT"));
        QCOMPARE(find<QCheckBox>(stage, "InfiniteISWT")->isVisibleTo(w),
                 mode == QLatin1String("SUPERMARKET"));
        QCOMPARE(stage.control("RetryLightFrame")->isVisibleTo(w), mode == QLatin1String("LIGHT"));
        for (int i = 0; i < 15; ++i)
            QCOMPARE(stage.control(QStringLiteral("PID(%1)").arg(i))->isVisibleTo(w),
                     mode == QLatin1String("LIST"));
        QCOMPARE(find<QLabel>(stage, "RetryUnits")->isVisibleTo(w),
                 mode == QLatin1String("TIME") || mode == QLatin1String("SUPERMARKET") ||
                     mode == QLatin1String("COUNT"));
        if (mode == QLatin1String("TIME"))
            QCOMPARE(find<QLabel>(stage, "RetryUnits")->text(), QStringLiteral("ms"));
        if (mode == QLatin1String("COUNT"))
            QCOMPARE(find<QLabel>(stage, "RetryUnits")->text(), QStringLiteral("times"));
        if (mode == QLatin1String("SUPERMARKET")) {
            QCOMPARE(find<QLabel>(stage, "RetryUnits")->text(),
                     QStringLiteral("ms (Inter-Symbol wait period)"));
            const bool infinite = s.retry.section(' ', 4, 4) == QLatin1String("0");
            QCOMPARE(find<QCheckBox>(stage, "InfiniteISWT")->isChecked(), infinite);
            QCOMPARE(find<QLineEdit>(stage, "RetryTime")->isEnabled(), !infinite);
            QCOMPARE(find<QLabel>(stage, "RetryUnits")->isEnabled(), !infinite);
        }
    }

    // Every illumination and retry lighting has its own line.
    const QList<std::array<QString, 3>> lights = {
        {"OFF", "Illumination is OFF", "Retry with Lighting set to Off"},
        {"ON", "Illumination is On", "Retry with Lighting set to On"},
        {"STROBE", "Normal Strobe", "Retry with Lighting set to Normal Strobe"},
        {"POWER_STROBE", "Power Strobe", "Retry with Lighting set to Power Strobe"},
        {"ON_AND_PSTROBED", "On and Power Strobe", "Retry with Lighting set to On and Power Strobe"},
        {"ON_AND_STROBED", "On and Strobed", "Retry with Lighting set to On and Strobed"},
        {"EXTERNAL", "External Illumination", "Retry with Lighting set to External"},
        {"ON_AND_EXT", "Illumination is On and External", "Retry with Lighting set to On and External"},
        {"STROBE_AND_EXT", "Normal Strobe and External",
         "Retry with Lighting set to Normal Strobe and External"},
        {"POWER_STROBE_AND_EXT", "Power Strobe and External",
         "Retry with Lighting set to Power Strobe and External"},
        {"ON_AND_PSTROBED_AND_EXT", "On and Power Strobe and External",
         "Retry with Lighting set to On and Power Strobe and External"},
        {"ON_AND_STROBED_AND_EXT", "On and Strobed and External", ""},
    };
    stage.send(QStringLiteral("TRIG C"));
    for (const auto& [keyword, illumination, retry] : lights) {
        stage.send(QStringLiteral("ILLUM ") + keyword);
        stage.send(retryLine("LIGHT", {{19, keyword}}));
        reloadBy(stage, QStringLiteral("UPDATEIO"));
        const QStringList lines = summary(stage);
        QCOMPARE(lines.value(0), QStringLiteral("Continous Triggers"));
        if (!retry.isEmpty())
            QCOMPARE(lines.value(1), retry);
        QCOMPARE(lines.value(lines.size() - 2), illumination);
        QCOMPARE(lines.value(lines.size() - 1), QStringLiteral("Auto Photometry"));
    }
    // The older spelling of the steady light with power strobe selects its entry.
    QCOMPARE(shown(stage, "Lighting"), QStringLiteral("On/PowerStrb/Ext"));
    stage.send(QStringLiteral("ILLUM ON_AND_STROBED"));
    reloadBy(stage, QStringLiteral("UPDATEIO"));
    QCOMPARE(shown(stage, "Lighting"), QStringLiteral("On w/Power Strobe"));
}

// Each preset lists only what it changes; Cancel puts the list back and keeps the set
// unchanged; OK writes the preset and tells the other windows.
void presets(Stage& stage) {
    struct Case {
        QString preset;
        QStringList start; // TRIG, PHOTOEX, RETRYEX, ILLUM
        QString changes;
        QStringList result;
    };
    const QList<Case> cases = {
        {"Demo",
         {"T", "AUTO", "NONE", "STROBE"},
         "Trigger to Continuous\r\nIllumination to ON",
         {"C", "AUTO", "NONE", "ON"}},
        {"Motion",
         {"C", "AUTO", "SUPERMARKET", "ON"},
         "Trigger to Use Trigger\r\nPhotometry to Manual\r\nRetry to None\r\nIllumination to Power Strobe",
         {"T", "MANUAL", "NONE", "POWER_STROBE"}},
        {"Stop and Scan",
         {"T", "MANUAL", "TIME", "POWER_STROBE"},
         "Photometry to Automatic\r\nRetry to None\r\nIllumination to Strobe",
         {"T", "AUTO", "NONE", "STROBE"}},
        {"Presentation / Supermarket",
         {"T", "MANUAL", "NONE", "POWER_STROBE"},
         "Trigger to Continuous\r\nPhotometry to Automatic\r\nRetry to Supermarket\r\nIllumination to ON",
         {"C", "AUTO", "SUPERMARKET", "ON"}},
        // A PID list keeps its retry mode, except for the supermarket, which takes it
        // without listing it.
        {"Stop and Scan",
         {"C", "AUTO", "LIST", "ON"},
         "Trigger to Use Trigger\r\nIllumination to Strobe",
         {"T", "AUTO", "LIST", "STROBE"}},
        {"Motion",
         {"C", "MANUAL", "LIST", "POWER_STROBE"},
         "Trigger to Use Trigger",
         {"T", "MANUAL", "LIST", "POWER_STROBE"}},
        {"Presentation / Supermarket", {"C", "AUTO", "LIST", "ON"}, "", {"C", "AUTO", "SUPERMARKET", "ON"}},
    };
    stage.start(QStringLiteral("3.0.2.1"));
    for (const Case& c : cases) {
        stage.send(QStringLiteral("TRIG ") + c.start[0]);
        stage.setField(QStringLiteral("PHOTOEX"), 0, c.start[1]);
        stage.send(retryLine(c.start[2]));
        stage.send(QStringLiteral("ILLUM ") + c.start[3]);
        QVERIFY(stage.open(kWindow));
        auto* list = find<QComboBox>(stage, "AppMode");
        const QString before = list->currentText();
        const QStringList listing = stage.listing();
        if (!c.changes.isEmpty()) {
            // Cancel: the list shows the preset it showed, and nothing is to be sent.
            testing::ExpectPrompts boxes;
            expectConfirmation(boxes, c.changes, PromptAnswer::Cancel);
            testing::choose(list, c.preset);
            QCOMPARE(list->currentText(), before);
            QVERIFY(!dialog(stage)->applyButton()->isEnabled());
            QVERIFY(!dialog(stage)->okButton()->isEnabled());
        }
        {
            testing::ExpectPrompts boxes;
            if (!c.changes.isEmpty())
                expectConfirmation(boxes, c.changes, PromptAnswer::Ok);
            testing::choose(list, c.preset);
        }
        QCOMPARE(list->currentText(), c.preset);
        // Nothing reaches the reader before OK.
        QCOMPARE(stage.listing(), listing);
        QSignalSpy broadcasts(&stage.station(), &link::Connection::OnBroadcastMessage);
        QPointer<QWidget> w = stage.window();
        QVERIFY(dialog(stage)->okButton()->isEnabled());
        dialog(stage)->okButton()->click();
        QTRY_VERIFY(!w || !w->isVisible());
        QCOMPARE(stage.fields("TRIG").value(0), c.result[0]);
        QCOMPARE(stage.fields("PHOTOEX").value(0), c.result[1]);
        QCOMPARE(stage.fields("RETRYEX").value(0), c.result[2]);
        QCOMPARE(stage.fields("ILLUM").value(0), c.result[3]);
        QTRY_COMPARE(broadcasts.size(), kBroadcasts.size());
        QStringList words;
        for (const auto& b : broadcasts)
            words << b.at(1).toString();
        QCOMPARE(words, kBroadcasts);
        stage.close();
    }
    // Below level 9 the broadcasts end with the laser.
    stage.end();
    stage.begin();
    stage.start(QStringLiteral("2.3.0.0"));
    QVERIFY(stage.open(kWindow));
    testing::choose(find<QComboBox>(stage, "Target"), QStringLiteral("On"));
    QSignalSpy broadcasts(&stage.station(), &link::Connection::OnBroadcastMessage);
    stage.apply();
    QTRY_COMPARE(stage.fields("TARGET").value(0), QStringLiteral("ON"));
    QTRY_COMPARE(broadcasts.size(), 4);
    QStringList words;
    for (const auto& b : broadcasts)
        words << b.at(1).toString();
    QCOMPARE(words, kBroadcasts.mid(0, 4));
    QVERIFY(!dialog(stage)->applyButton()->isEnabled());
}

// External lights switch through GPIO 1: while the line is assigned they are refused,
// with the list back on the reader's lighting and nothing to send.
void externalLighting(Stage& stage) {
    stage.start(QStringLiteral("3.0.2.1"));
    stage.send(QStringLiteral("IOASSIGN GPIO_OUT1 PASS"));
    stage.send(retryLine("LIGHT", {{19, "STROBE"}}));
    QVERIFY(stage.open(kWindow));
    auto* lighting = find<QComboBox>(stage, "Lighting");
    auto* retryLighting = find<QComboBox>(stage, "RetryLighting");
    for (const QString& entry : kAllLights.mid(5)) {
        refused(kExternalRefused, [&] { testing::choose(lighting, entry); });
        QCOMPARE(lighting->currentText(), QStringLiteral("On"));
        refused(kExternalRefused, [&] { testing::choose(retryLighting, entry); });
        QCOMPARE(retryLighting->currentText(), QStringLiteral("Strobe"));
    }
    // The lights of the reader itself need no line.
    testing::choose(lighting, QStringLiteral("Power Strobe"));
    testing::choose(retryLighting, QStringLiteral("On w/Power Strobe"));
    stage.apply();
    QTRY_COMPARE(stage.fields("ILLUM").value(0), QStringLiteral("POWER_STROBE"));
    QCOMPARE(stage.fields("RETRYEX").value(19), QStringLiteral("ON_AND_PSTROBED"));
    // With the line free again they are taken.
    stage.send(QStringLiteral("IOASSIGN GPIO_OUT1 CLEAR"));
    testing::choose(lighting, QStringLiteral("On & External"));
    stage.apply();
    QTRY_COMPARE(stage.fields("ILLUM").value(0), QStringLiteral("ON_AND_EXT"));
}

// Retry time and inter-symbol wait are held to 35..60000 with a message; the read time-out
// and the report budget are held to their ranges silently.
void ranges(Stage& stage) {
    stage.start(QStringLiteral("3.0.2.1"));
    stage.send(retryLine("TIME"));
    QVERIFY(stage.open(kWindow));
    auto* time = find<QLineEdit>(stage, "RetryTime");
    for (const auto& [typed, held] :
         {std::pair<QString, QString>{"20", "35"}, {"70000", "60000"}, {"abc", "35"}}) {
        refused(kRangeRefused, [&] { testing::typeInto(time, typed); });
        QCOMPARE(time->text(), held);
    }
    stage.apply();
    QTRY_COMPARE(stage.fields("RETRYEX").value(1), QStringLiteral("35"));
    QCOMPARE(stage.fields("RETRYEX").value(3), QStringLiteral("500"));
    // Typing alone already offers Apply.
    QVERIFY(!dialog(stage)->applyButton()->isEnabled());
    testing::retype(time, QStringLiteral("40"));
    QVERIFY(dialog(stage)->applyButton()->isEnabled());
    QVERIFY(dialog(stage)->okButton()->isEnabled());
    testing::typeInto(time, QStringLiteral("35"));
    // In the inter-symbol mode the same box holds field 3.
    testing::choose(find<QComboBox>(stage, "RetryMode"), QStringLiteral("Intersymbol Wait"));
    refused(kRangeRefused, [&] { testing::typeInto(time, QStringLiteral("99999")); });
    stage.apply();
    QTRY_COMPARE(stage.fields("RETRYEX").value(3), QStringLiteral("60000"));
    QCOMPARE(stage.fields("RETRYEX").value(1), QStringLiteral("35"));

    auto* timeout = find<QLineEdit>(stage, "TimeoutEdit");
    auto* dwell = find<QLineEdit>(stage, "DwellEdit");
    testing::typeInto(timeout, QStringLiteral("12000"));
    QCOMPARE(timeout->text(), QStringLiteral("9999"));
    testing::typeInto(dwell, QStringLiteral("75"));
    QCOMPARE(dwell->text(), QStringLiteral("60"));
    stage.apply();
    QTRY_COMPARE(stage.fields("TIMEOUT READ").value(0), QStringLiteral("9999"));
    QCOMPARE(stage.fields("DWELLTIME").value(0), QStringLiteral("60"));
    testing::typeInto(timeout, QStringLiteral("-5"));
    QCOMPARE(timeout->text(), QStringLiteral("0"));
    testing::typeInto(dwell, QStringLiteral("x"));
    QCOMPARE(dwell->text(), QStringLiteral("0"));
    stage.apply();
    QTRY_COMPARE(stage.fields("TIMEOUT READ").value(0), QStringLiteral("0"));
    QCOMPARE(stage.fields("DWELLTIME").value(0), QStringLiteral("0"));
}

// Other windows' broadcasts reload what they name; Cancel drops what was not applied.
void reloadsAndCancel(Stage& stage) {
    stage.start(QStringLiteral("3.0.2.1"));
    QVERIFY(stage.open(kWindow));
    stage.send(QStringLiteral("TARGET ON"));
    stage.send(QStringLiteral("TIMEOUT READ 750"));
    stage.send(retryLine("COUNT", {{2, "9"}}));
    // These reload one parameter each, at once.
    auto announce = [&stage](const char* word) {
        stage.station().BroadcastMessage(QStringLiteral("ContractStation"), QLatin1String(word), QString());
    };
    announce("UPDATELASER");
    QTRY_COMPARE(shown(stage, "Target"), QStringLiteral("On"));
    QCOMPARE(find<QLineEdit>(stage, "TimeoutEdit")->text(), QStringLiteral("500"));
    QCOMPARE(shown(stage, "RetryMode"), QStringLiteral("None"));
    announce("UPDATETIMEOUT");
    QTRY_COMPARE(find<QLineEdit>(stage, "TimeoutEdit")->text(), QStringLiteral("750"));
    QCOMPARE(shown(stage, "RetryMode"), QStringLiteral("None"));
    announce("UPDATERETRY");
    QTRY_COMPARE(shown(stage, "RetryMode"), QStringLiteral("Count"));
    QCOMPARE(shown(stage, "RetryCount"), QStringLiteral("9"));
    QVERIFY(!dialog(stage)->applyButton()->isEnabled());

    testing::choose(find<QComboBox>(stage, "Target"), QStringLiteral("Off"));
    const QStringList listing = stage.listing();
    QPointer<QWidget> w = stage.window();
    dialog(stage)->cancelButton()->click();
    QTRY_VERIFY(!w || !w->isVisible());
    QCOMPARE(stage.listing(), listing);
}

// The laser's strobe lights it for two seconds; then the reader puts it off itself.
void laserStrobe(Stage& stage) {
    stage.start(QStringLiteral("3.0.2.1"));
    QVERIFY(stage.open(kWindow));
    testing::choose(find<QComboBox>(stage, "Target"), QStringLiteral("Strobe (2 sec)"));
    stage.apply();
    QTRY_COMPARE(stage.fields("TARGET").value(0), QStringLiteral("T"));
    QElapsedTimer lit;
    lit.start();
    QTRY_COMPARE_WITH_TIMEOUT(stage.fields("TARGET").value(0), QStringLiteral("OFF"), 4000);
    QVERIFY2(lit.elapsed() >= 1800 && lit.elapsed() <= 2600, qPrintable(QString::number(lit.elapsed())));
}

// The reader's pictures under each lighting the window offers, at one exposure and gain:
// off leaves only the hall's light, steady light is brighter, the strobe brighter again,
// the power strobe brightest; power-strobed pictures are exposed for at most 1000 us.
void lightingModes(Stage& stage) {
    stage.start(QStringLiteral("3.0.2.1"));
    stage.send(QStringLiteral("PHOTOEX MANUAL 300 0 30 20000 0 1023"));
    QVERIFY(stage.open(kWindow));
    QList<link::Record> records;
    QObject receiver;
    QObject::connect(&stage.station(), &link::Connection::OnNewRecord, &receiver,
                     [&records](const link::Record& r) { records.append(r); });
    // The mean grey of the first picture taken under the lighting now on the reader.
    auto pictureUnder = [&](const QString& entry, int* exposure, double* mean) {
        testing::choose(find<QComboBox>(stage, "Lighting"), entry);
        stage.apply();
        QTRY_VERIFY(!dialog(stage)->applyButton()->isEnabled());
        records.clear();
        // The record after the next one was certainly taken with the new light.
        QTRY_VERIFY_WITH_TIMEOUT(records.size() >= 2, 5000);
        const link::Record r = records.at(1);
        *exposure = r.Image().Exposure();
        *mean = r.Image().Histogram(r.Image().image().rect()).mean;
    };
    int exposure = 0;
    double off = 0, on = 0, strobe = 0, power = 0;
    pictureUnder(QStringLiteral("Off"), &exposure, &off);
    QCOMPARE(exposure, 300);
    pictureUnder(QStringLiteral("On"), &exposure, &on);
    pictureUnder(QStringLiteral("Strobe"), &exposure, &strobe);
    pictureUnder(QStringLiteral("Power Strobe"), &exposure, &power);
    QVERIFY2(off < 12 && on > off * 3 && strobe > on * 1.5 && power > strobe * 1.5,
             qPrintable(QStringLiteral("%1 %2 %3 %4").arg(off).arg(on).arg(strobe).arg(power)));
    stage.setField(QStringLiteral("PHOTOEX"), 1, QStringLiteral("5000"));
    records.clear();
    QTRY_VERIFY_WITH_TIMEOUT(records.size() >= 2, 5000);
    QCOMPARE(records.at(1).Image().Exposure(), 1000);
    pictureUnder(QStringLiteral("On"), &exposure, &on);
    QCOMPARE(exposure, 5000);
}

// Under the AIM DPM set-up the presets, retries and lighting are the symbology window's;
// with external light channels the lighting is too.
void controlRule(Stage& stage) {
    stage.start(QStringLiteral("3.0.2.1"));
    stage.send(QStringLiteral("VERIFY AIMDPM"));
    QVERIFY(stage.open(kWindow));
    // The captions grey with the controls they name.
    for (const char* off : {"AppMode", "App_Label", "RetryMode", "Retry_Label", "Lighting", "Lighting_Label"})
        QVERIFY2(!stage.control(off)->isEnabled(), off);
    for (const char* on :
         {"TRIG_Enabled", "Target", "Target_Label", "TimeoutEdit", "TimeoutLabel", "DwellEdit", "DwellLabel"})
        QVERIFY2(stage.control(on)->isEnabled(), on);
    stage.close();
    stage.end();
    stage.begin();
    stage.start(QStringLiteral("3.0.2.1"), true, 1);
    QVERIFY(stage.open(kWindow));
    QVERIFY(!stage.control("Lighting")->isEnabled());
    QVERIFY(!stage.control("Lighting_Label")->isEnabled());
    for (const char* on : {"AppMode", "App_Label", "RetryMode", "TRIG_Enabled", "Target"})
        QVERIFY2(stage.control(on)->isEnabled(), on);
    // Without control nothing can be worked, captions and the summary included.
    stage.releaseControl();
    for (const char* off :
         {"AppMode", "App_Label", "AppInfo", "TRIG_Enabled", "TrigPolarityLabel", "AdvancedIO", "Retry_Label",
          "RetryMode", "Target_Label", "TimeoutLabel", "DwellLabel"})
        QTRY_VERIFY2(!stage.control(off)->isEnabled(), off);
}

// A reload the reader does not answer for RETRYEX keeps the retry controls and the summary as
// they were, greyed, and the window names it; the next answered reload shows the reader's.
void unreadRetry(Stage& stage) {
    stage.start(QStringLiteral("3.0.2.1"));
    stage.send(retryLine("COUNT", {{2, "7"}}));
    QWidget* w = stage.open(kWindow);
    QVERIFY(w);
    const QStringList before = summary(stage);
    QCOMPARE(before.value(1), QStringLiteral("Retry up to 7 times"));
    stage.send(retryLine("TIME", {{1, "900"}}));
    stage.reader().setNextReplyFault(sim::ReplyFault::Refused, 0, QStringLiteral("RETRYEX"));
    reloadBy(stage, QStringLiteral("UPDATEAPPMODE"));
    QCOMPARE(shown(stage, "RetryMode"), QStringLiteral("Count"));
    QCOMPARE(shown(stage, "RetryCount"), QStringLiteral("7"));
    QVERIFY(stage.control("RetryCount")->isVisibleTo(w));
    QVERIFY(!stage.control("RetryTime")->isVisibleTo(w));
    QVERIFY(!stage.control("RetryMode")->isEnabled());
    QVERIFY(!stage.control("RetryCount")->isEnabled());
    QCOMPARE(summary(stage), before);
    auto* note = w->findChild<QLabel*>(QStringLiteral("NotReadNote"));
    QVERIFY(note && note->isVisibleTo(w));
    QVERIFY2(note->text().contains(QStringLiteral("RETRYEX")), qPrintable(note->text()));
    reloadBy(stage, QStringLiteral("UPDATEAPPMODE"));
    QCOMPARE(shown(stage, "RetryMode"), QStringLiteral("Time"));
    QCOMPARE(find<QLineEdit>(stage, "RetryTime")->text(), QStringLiteral("900"));
    QCOMPARE(summary(stage).value(1), QStringLiteral("Retry for 900 ms"));
    QVERIFY(stage.control("RetryMode")->isEnabled());
    QVERIFY(!note->isVisibleTo(w));
}

// A reader with three PID slots: the retry lighting, its PID and the list flag follow them.
void threeSlots(Stage& stage) {
    stage.start(QStringLiteral("2.0.1.0"));
    stage.send(QStringLiteral("STORE 4"));
    stage.send(retryLine("LIST", {}, 3));
    QWidget* w = stage.open(kWindow);
    QVERIFY(w);
    QCOMPARE(testing::entries(find<QComboBox>(stage, "RetryMode")), kRetryModes);
    for (int i = 0; i < 15; ++i)
        QCOMPARE(stage.control(QStringLiteral("PID(%1)").arg(i))->isVisibleTo(w), i < 3);
    testing::choose(find<QComboBox>(stage, "PID(2)"), QStringLiteral("4"));
    testing::choose(find<QComboBox>(stage, "RetryMode"), QStringLiteral("PID List w/Acquire"));
    QCOMPARE(summary(stage).value(1), QStringLiteral("Retry using PID List (4)"));
    stage.apply();
    QTRY_COMPARE(stage.fields("RETRYEX"),
                 (QStringList{"LIST", "500", "3", "500", "0", "0", "4", "ON", "0", "A"}));
    testing::choose(find<QComboBox>(stage, "RetryMode"), QStringLiteral("Light"));
    testing::choose(find<QComboBox>(stage, "RetryLighting"), QStringLiteral("Power Strobe"));
    testing::choose(find<QComboBox>(stage, "RetryLightPID"), QStringLiteral("4"));
    stage.apply();
    QTRY_COMPARE(stage.fields("RETRYEX"),
                 (QStringList{"LIGHT", "500", "3", "500", "0", "0", "4", "POWER_STROBE", "4", "A"}));
    QCOMPARE(summary(stage).value(1), QStringLiteral("Retry with Lighting set to Power Strobe"));
}

// Level 4 brings the external lights, and with them the GPIO 1 check of "External".
void levelFour(Stage& stage) {
    stage.start(QStringLiteral("2.0.2.0"));
    stage.send(QStringLiteral("IOASSIGN GPIO_OUT1 PASS"));
    QVERIFY(stage.open(kWindow));
    auto* lighting = find<QComboBox>(stage, "Lighting");
    QCOMPARE(testing::entries(lighting), kAllLights);
    refused(kExternalRefused, [&] { testing::choose(lighting, QStringLiteral("External")); });
    QCOMPARE(lighting->currentText(), QStringLiteral("On"));
    QVERIFY(!dialog(stage)->applyButton()->isEnabled());
}

} // namespace

WindowContract applicationContract() {
    WindowContract w;
    w.window = kWindow;
    w.lowVersion = QStringLiteral("1.2.0.0"); // level 3: the short retry form, no external lights
    w.broadcasts = kBroadcasts;

    // A preset: confirmed, then TRIG with the others it names.
    ControlContract preset =
        fieldRow("AppMode", Kind::List, "TRIG", 0, {{"C", "Demo"}, {"T", "Stop and Scan"}, {"C", "Demo"}});
    preset.alsoWrites = {"ILLUM:0", "PHOTOEX:0", "RETRYEX:0"};
    preset.boxes = [](Stage& stage, const Value& v) {
        stage.unexpected()->expectMessage(
            kConfirmTitle,
            QStringLiteral("Please confirm the following changes:\r\n") +
                (v.word == QLatin1String("T")
                     ? QStringLiteral("Trigger to Use Trigger\r\nIllumination to Strobe")
                     : QStringLiteral("Trigger to Continuous\r\nIllumination to ON")),
            PromptIcon::Question, PromptButtons::OkCancel, PromptAnswer::Ok);
    };
    w.controls << preset;

    w.controls << fieldRow("TRIG_Enabled", Kind::Check, "TRIG", 0, {{"C", "off"}, {"T", "on"}, {"C", "off"}});
    ControlContract edge =
        fieldRow("TRIG_Polarity", Kind::List, "TE", 0,
                 {{"P", "Low -> High"}, {"N", "High -> Low"}, {"B", "Both"}, {"P", "Low -> High"}});
    edge.needs = {"TRIG T"};
    w.controls << edge;

    ControlContract mode = fieldRow("RetryMode", Kind::List, "RETRYEX", 0,
                                    {{"NONE", "None"},
                                     {"TIME", "Time"},
                                     {"COUNT", "Count"},
                                     {"GPIO", "RETRY input Duration"},
                                     {"SUPERMARKET", "Intersymbol Wait"},
                                     {"LIGHT", "Light"},
                                     {"LIST", "PID List"},
                                     {"NONE", "None"}});
    w.controls << mode;
    // The list flag of the PID list modes, last field of the retry layout.
    ControlContract flag = fieldRow("RetryMode", Kind::List, "RETRYEX", 21,
                                    {{"N", "PID List"}, {"A", "PID List w/Acquire"}, {"N", "PID List"}});
    flag.needs = {retryLine("LIST")};
    flag.fromLevel = 4;
    flag.below = Below::Custom;
    flag.belowCheck = [](Stage& stage) {
        QCOMPARE(testing::entries(find<QComboBox>(stage, "RetryMode")), kShortRetryModes);
    };
    w.controls << flag;
    ControlContract time = fieldRow("RetryTime", Kind::Box, "RETRYEX", 1,
                                    {{"500", "500"}, {"1200", "1200"}, {"60000", "60000"}});
    time.needs = {retryLine("TIME")};
    w.controls << time;
    ControlContract wait =
        fieldRow("RetryTime", Kind::Box, "RETRYEX", 3, {{"500", "500"}, {"35", "35"}, {"900", "900"}});
    wait.needs = {retryLine("SUPERMARKET")};
    w.controls << wait;
    ControlContract count =
        fieldRow("RetryCount", Kind::List, "RETRYEX", 2, {{"3", "3"}, {"1", "1"}, {"15", "15"}});
    count.needs = {retryLine("COUNT")};
    w.controls << count;
    ControlContract infinite =
        fieldRow("InfiniteISWT", Kind::Check, "RETRYEX", 3, {{"700", "off"}, {"0", "on"}, {"500", "off"}});
    infinite.needs = {retryLine("SUPERMARKET")};
    w.controls << infinite;

    for (int i = 0; i < 15; ++i) {
        ControlContract pid = fieldRow(QStringLiteral("PID(%1)").arg(i), Kind::List, "RETRYEX", 4 + i,
                                       {{"0", "0"}, {"9", "9"}, {"2", "2"}, {"0", "0"}});
        pid.needs = {"STORE 2", "STORE 9", retryLine("LIST")};
        pid.fromLevel = i < 3 ? 4 : 7;
        w.controls << pid;
    }

    const QList<Value> lights = {{"ON", "On"},
                                 {"OFF", "Off"},
                                 {"STROBE", "Strobe"},
                                 {"POWER_STROBE", "Power Strobe"},
                                 {"ON_AND_PSTROBED", "On w/Power Strobe"},
                                 {"EXTERNAL", "External"},
                                 {"ON_AND_EXT", "On & External"},
                                 {"STROBE_AND_EXT", "Strobe & Ext"},
                                 {"POWER_STROBE_AND_EXT", "Power Strobe & Ext"},
                                 {"ON_AND_PSTROBED_AND_EXT", "On/PowerStrb/Ext"},
                                 {"ON", "On"}};
    ControlContract retryLight = fieldRow("RetryLighting", Kind::List, "RETRYEX", 19, lights);
    retryLight.needs = {retryLine("LIGHT")};
    retryLight.fromLevel = 4;
    w.controls << retryLight;
    ControlContract lightPid = fieldRow("RetryLightPID", Kind::List, "RETRYEX", 20,
                                        {{"0", "0"}, {"9", "9"}, {"2", "2"}, {"0", "0"}});
    lightPid.needs = {"STORE 2", "STORE 9", retryLine("LIGHT")};
    lightPid.fromLevel = 4;
    w.controls << lightPid;
    ControlContract lighting = fieldRow("Lighting", Kind::List, "ILLUM", 0, lights);
    // The external lights come with level 4; before it the list offers the reader's own.
    lighting.fromLevel = 4;
    lighting.below = Below::Custom;
    lighting.belowCheck = [](Stage& stage) {
        QCOMPARE(testing::entries(find<QComboBox>(stage, "Lighting")), kInternalLights);
    };
    w.controls << lighting;

    w.controls << fieldRow("Target", Kind::List, "TARGET", 0,
                           {{"OFF", "Off"}, {"ON", "On"}, {"T", "Strobe (2 sec)"}});
    w.controls << fieldRow("TimeoutEdit", Kind::Box, "TIMEOUT READ", 0,
                           {{"500", "500"}, {"9999", "9999"}, {"0", "0"}});
    w.controls << fieldRow("DwellEdit", Kind::Box, "DWELLTIME", 0, {{"0", "0"}, {"60", "60"}, {"25", "25"}});

    w.checks = {texts,       summaries,     presets,     externalLighting, ranges,     reloadsAndCancel,
                laserStrobe, lightingModes, controlRule, unreadRetry,      threeSlots, levelFour};
    return w;
}

} // namespace vm::contracts
