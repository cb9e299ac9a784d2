// Photometry: automatic or manual exposure and gain, preprocessing and the negative image,
// each change sent at once; the exposure and gain of every record shown as it comes; on
// calibrated readers a change of exposure or gain asks before it cancels the calibration.
#include "contracts/contract.h"
#include "contracts/tables/common.h"
#include "link/record.h"
#include "settings/settingswindow.h"
#include "sim/catalogue.h"

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSlider>

namespace vm::contracts {

namespace {

using app::PromptAnswer;
using app::PromptButtons;
using app::PromptIcon;

const QString kWindow = QStringLiteral("BasicPhotometry");
const QString kManual = QStringLiteral("PHOTOEX MANUAL 1000 100 30 20000 0 1023");
const QString kWarning =
    QStringLiteral("Warning:  Camera is currently calibrated.  Changing the exposure or the "
                   "gain will uncalibrate the camera.");

settings::SettingsWindow* settingsWindow(Stage& stage) {
    return qobject_cast<settings::SettingsWindow*>(stage.window());
}

QString photoInfo(Stage& stage) {
    auto* l = find<QLabel>(stage, QStringLiteral("PhotoInfo"));
    return l ? l->text() : QString();
}

// Records as a connection of the test's own receives them, one read cycle at a time (the
// reader waits for its trigger).
class Cycles {
public:
    explicit Cycles(Stage& stage)
        : m_stage(stage)
        , m_spy(&stage.station(), &link::Connection::OnNewRecord) {}
    // Runs one read cycle and waits for its record.
    bool run(link::Record* out = nullptr) {
        const qint64 before = m_stage.reader().cycles().lastNumber();
        m_stage.reader().cycles().runOnce();
        const bool came = QTest::qWaitFor([&] { return !m_spy.isEmpty() && last().Number() > before; }, 5000);
        if (came && out)
            *out = last();
        return came;
    }
    link::Record last() const { return m_spy.constLast().at(0).value<link::Record>(); }

private:
    Stage& m_stage;
    QSignalSpy m_spy;
};

void startTriggered(Stage& stage, const QString& version = QStringLiteral("3.0.2.1")) {
    stage.start(version);
    stage.send(QStringLiteral("TRIG T"));
}

// The captions, lists and ranges, and what automatic photometry leaves to change.
void texts(Stage& stage) {
    stage.start(QStringLiteral("3.0.2.1"));
    QWidget* w = stage.open(kWindow);
    QVERIFY(w);
    QCOMPARE(w->windowTitle().section(QStringLiteral(" - "), -1), QStringLiteral("Photometry"));
    compareCaptions(stage, {{"Auto", "Auto Photometry"},
                            {"Manual", "Manual Photometry"},
                            {"ExposureLabel", "Exposure"},
                            {"GainLabel", "Gain"},
                            {"PreprocessFrame", "Image Preprocessing"},
                            {"PreprocMethodLabel", "Method"},
                            {"PreprocIterLabel", "Iterations"},
                            {"NegativeImage", "Negative Image"}});
    QCOMPARE(testing::entries(find<QComboBox>(stage, "PreprocMethod")),
             (QStringList{"NONE", "ERODE", "DILATE", "OPEN", "CLOSE"}));
    QCOMPARE(testing::entries(find<QComboBox>(stage, "PreprocIter")), (QStringList{"1", "2", "3", "4", "5"}));
    auto* exposure = find<QSlider>(stage, "Exposure");
    auto* gain = find<QSlider>(stage, "Gain");
    QCOMPARE(exposure->minimum(), 30);
    QCOMPARE(exposure->maximum(), 20000);
    QCOMPARE(exposure->pageStep(), 1997);
    QCOMPARE(gain->minimum(), 0);
    QCOMPARE(gain->maximum(), 1023);
    QCOMPARE(gain->pageStep(), 102);
    QVERIFY(!stage.control("lblCalibrationWarning")->isVisibleTo(w));
    // The factory's automatic photometry: the option and preprocessing can change, the
    // exposure and gain cannot.
    QVERIFY(find<QRadioButton>(stage, "Auto")->isChecked());
    for (const char* on : {"Auto", "Manual", "PreprocMethod", "NegativeImage"})
        QVERIFY2(stage.control(on)->isEnabled(), on);
    for (const char* off : {"Exposure", "ExposureLabel", "ExposureText", "Gain", "GainLabel", "GainText"})
        QVERIFY2(!stage.control(off)->isEnabled(), off);
    // No Apply: nothing to collect.
    auto* s = settingsWindow(stage);
    QVERIFY(s);
    QVERIFY(!s->applyButton() || !s->applyButton()->isVisibleTo(w));
}

// Each record's exposure and gain are shown; manual photometry starts from the last that
// automatic photometry reported.
void recordsAndManual(Stage& stage) {
    startTriggered(stage);
    Cycles cycles(stage);
    QVERIFY(stage.open(kWindow));
    // Automatic photometry settles within a few pictures; only a good picture's exposure
    // and gain are kept for manual photometry.
    link::Record r, valid;
    for (int i = 0; i < 12 && !(valid.Image().PhotometryValid() && i >= 3); ++i) {
        QVERIFY(cycles.run(&r));
        if (r.Image().PhotometryValid())
            valid = r;
        QTRY_COMPARE(
            photoInfo(stage),
            QStringLiteral("Exp = %1 usec, Gain = %2 dB").arg(r.Image().Exposure()).arg(r.Image().Gain()));
    }
    QVERIFY(valid.Image().PhotometryValid());
    r = valid;
    QVERIFY2(r.Image().Exposure() != 1000 || r.Image().Gain() != 100, "automatic photometry moved nothing");
    auto* manual = find<QRadioButton>(stage, "Manual");
    QTest::mouseClick(manual, Qt::LeftButton, {}, QPoint(manual->height() / 2, manual->height() / 2));
    QTRY_COMPARE(
        stage.fields("PHOTOEX").mid(0, 3),
        (QStringList{"MANUAL", QString::number(r.Image().Exposure()), QString::number(r.Image().Gain())}));
    QCOMPARE(find<QLineEdit>(stage, "ExposureText")->text(), QString::number(r.Image().Exposure()));
    QCOMPARE(find<QSlider>(stage, "Gain")->value(), r.Image().Gain());
    QVERIFY(find<QSlider>(stage, "Exposure")->isEnabled());

    // The reader takes its pictures with the manual values, and the window says so.
    stage.send(QStringLiteral("PHOTOEX MANUAL 1200 40 30 20000 0 1023"));
    QVERIFY(cycles.run(&r));
    QCOMPARE(r.Image().Exposure(), 1200);
    QCOMPARE(r.Image().Gain(), 40);
    QTRY_COMPARE(photoInfo(stage), QStringLiteral("Exp = 1200 usec, Gain = 40 dB"));
}

// More exposure or more gain makes the reader's picture brighter: twice the exposure about
// twice as bright, 320 more gain about twice as bright again.
void exposureAndGainLightThePicture(Stage& stage) {
    startTriggered(stage);
    stage.send(QStringLiteral("PHOTOEX MANUAL 200 0 30 20000 0 1023"));
    Cycles cycles(stage);
    QVERIFY(stage.open(kWindow));
    auto mean = [](const link::Record& r) { return r.Image().Histogram(r.Image().image().rect()).mean; };
    link::Record r;
    QVERIFY(cycles.run(&r));
    const double base = mean(r);
    testing::typeInto(find<QLineEdit>(stage, "ExposureText"), QStringLiteral("400"));
    QTRY_COMPARE(stage.fields("PHOTOEX").value(1), QStringLiteral("400"));
    QVERIFY(cycles.run(&r));
    QCOMPARE(r.Image().Exposure(), 400);
    const double exposed = mean(r);
    testing::typeInto(find<QLineEdit>(stage, "GainText"), QStringLiteral("320"));
    QTRY_COMPARE(stage.fields("PHOTOEX").value(2), QStringLiteral("320"));
    QVERIFY(cycles.run(&r));
    QCOMPARE(r.Image().Gain(), 320);
    const double gained = mean(r);
    QVERIFY2(exposed > base * 1.6 && exposed < base * 2.4 && gained > exposed * 1.6 && gained < exposed * 2.4,
             qPrintable(QStringLiteral("%1 %2 %3").arg(base).arg(exposed).arg(gained)));
}

// Under power-strobed light the exposure stops at 1000; a burst of notifications reloads
// once, a second later.
void powerStrobe(Stage& stage) {
    stage.start(QStringLiteral("3.0.2.1"));
    stage.send(kManual);
    for (const char* light : {"POWER_STROBE", "ON_AND_PSTROBED", "ON_AND_STROBED"}) {
        stage.send(QStringLiteral("ILLUM ") + QLatin1String(light));
        QVERIFY(stage.open(kWindow));
        auto* exposure = find<QSlider>(stage, "Exposure");
        QCOMPARE(exposure->maximum(), 1000);
        QCOMPARE(exposure->minimum(), 30);
        QCOMPARE(exposure->pageStep(), 97);
        QCOMPARE(exposure->value(), 1000);
        stage.close();
    }
    stage.setField(QStringLiteral("PHOTOEX"), 1, QStringLiteral("500"));
    QVERIFY(stage.open(kWindow));
    auto* exposure = find<QSlider>(stage, "Exposure");
    auto* text = find<QLineEdit>(stage, "ExposureText");
    testing::typeInto(text, QStringLiteral("5000"));
    QCOMPARE(text->text(), QStringLiteral("1000"));
    QCOMPARE(exposure->value(), 1000);
    QTRY_COMPARE(stage.fields("PHOTOEX").value(1), QStringLiteral("1000"));
    // Closing takes what the box holds even when it was not left.
    testing::retype(text, QStringLiteral("700"));
    QCOMPARE(stage.fields("PHOTOEX").value(1), QStringLiteral("1000"));
    stage.close();
    QTRY_COMPARE(stage.fields("PHOTOEX").value(1), QStringLiteral("700"));
    QVERIFY(stage.open(kWindow));
    exposure = find<QSlider>(stage, "Exposure");
    text = find<QLineEdit>(stage, "ExposureText");
    QCOMPARE(text->text(), QStringLiteral("700"));
    // Digits only: other keys are not taken.
    testing::typeInto(text, QStringLiteral("4x5"));
    QCOMPARE(text->text(), QStringLiteral("45"));
    QTRY_COMPARE(stage.fields("PHOTOEX").value(1), QStringLiteral("45"));

    stage.send(QStringLiteral("ILLUM STROBE"));
    QSignalSpy loaded(settingsWindow(stage), &settings::SettingsWindow::loaded);
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < 3; ++i)
        stage.station().BroadcastMessage(QStringLiteral("ContractStation"), QStringLiteral("UPDATEPHOTO"),
                                         QString());
    QVERIFY(loaded.wait(3000));
    QVERIFY2(timer.elapsed() >= 900, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(exposure->maximum(), 20000);
    QCOMPARE(exposure->pageStep(), 1997);
    QVERIFY(!loaded.wait(1500)); // one reload for the burst
}

// Choosing a method while the iterations read 0 also writes 1; NONE leaves nothing to
// iterate.
void preprocessing(Stage& stage) {
    stage.start(QStringLiteral("3.0.2.1"));
    stage.send(QStringLiteral("MORPH NONE 0"));
    QVERIFY(stage.open(kWindow));
    testing::choose(find<QComboBox>(stage, "PreprocMethod"), QStringLiteral("ERODE"));
    QTRY_COMPARE(stage.fields("MORPH"), (QStringList{"ERODE", "1"}));
    QVERIFY(stage.control("PreprocIter")->isEnabled());
    testing::choose(find<QComboBox>(stage, "PreprocMethod"), QStringLiteral("NONE"));
    QTRY_COMPARE(stage.fields("MORPH"), (QStringList{"NONE", "1"}));
    QVERIFY(!stage.control("PreprocIter")->isEnabled());
    QVERIFY(!stage.control("PreprocIterLabel")->isEnabled());

    // With grading on, the preprocessing is the verification's from the first level that
    // calibrates; below it the operator's.
    for (const int level : {8, 9}) {
        stage.close();
        stage.end();
        stage.begin();
        stage.start(sim::softwareVersionForLevel(level));
        stage.send(QStringLiteral("VERIFY ISO"));
        QVERIFY(stage.open(kWindow));
        QVERIFY2(stage.control("PreprocMethod")->isEnabled() == (level < 9),
                 qPrintable(QStringLiteral("level %1").arg(level)));
    }
}

// A calibrated reader: the warning shows; the first change of exposure or gain asks; No
// puts the control back and sends nothing, Yes sends the calibration back, which cancels
// it, tells the other windows, then writes the change.
void calibration(Stage& stage) {
    startTriggered(stage);
    stage.send(QStringLiteral("VERIFY ANSI"));
    stage.send(kManual);
    // Not calibrated yet: no warning, and a change goes out without a question.
    QWidget* w = stage.open(kWindow);
    QVERIFY(w);
    QVERIFY(!stage.control("lblCalibrationWarning")->isVisibleTo(w));
    testing::typeInto(find<QLineEdit>(stage, "ExposureText"), QStringLiteral("900"));
    QTRY_COMPARE(stage.fields("PHOTOEX").value(1), QStringLiteral("900"));
    stage.close();
    stage.setField(QStringLiteral("PHOTOEX"), 1, QStringLiteral("1000"));
    Cycles cycles(stage);
    stage.send(QStringLiteral("LEARN CALIBRATE"));
    QVERIFY(cycles.run());
    QTRY_COMPARE(stage.station().Query(QStringLiteral("CALIBRATED")), QStringLiteral("CALIBRATED TRUE"));
    w = stage.open(kWindow);
    QVERIFY(w);
    auto* warning = find<QLabel>(stage, "lblCalibrationWarning");
    QVERIFY(warning->isVisibleTo(w));
    QCOMPARE(warning->text(), kWarning);
    // Another window's word that the calibration is gone hides the warning at once.
    stage.station().BroadcastMessage(QStringLiteral("ContractStation"), QStringLiteral("UNCALIBRATED"),
                                     QString());
    QTRY_VERIFY(!warning->isVisibleTo(w));
    // It shows under every standard the calibration serves, ISO 15415 the last of them; under
    // the AIM DPM set-up nothing here can be changed and nothing is said.
    for (const auto& [standard, shown] : {std::pair{"AIMDPM", false}, std::pair{"ISO", true}}) {
        stage.send(QStringLiteral("VERIFY ") + QLatin1String(standard));
        w = stage.open(kWindow);
        QVERIFY(w);
        warning = find<QLabel>(stage, "lblCalibrationWarning");
        QVERIFY2(warning->isVisibleTo(w) == shown, standard);
    }
    // Grading: the preprocessing is the verification's, exposure and gain are the operator's.
    QVERIFY(!stage.control("PreprocMethod")->isEnabled());
    QVERIFY(!stage.control("NegativeImage")->isEnabled());
    QVERIFY(stage.control("Exposure")->isEnabled());

    const QString ask = QStringLiteral("Changing the Exposure or the Gain will reset the calibration.\r\n"
                                       "Do you wish to proceed?");
    auto* exposure = find<QSlider>(stage, "Exposure");
    const QString calibrationBefore = stage.station().Query(QStringLiteral("CONTRASTCAL"));
    {
        testing::Received received(stage.reader());
        testing::ExpectPrompts boxes;
        boxes->expectMessage("Confirm Calibration Cancellation", ask, PromptIcon::Question,
                             PromptButtons::YesNo, PromptAnswer::No);
        exposure->setFocus();
        exposure->setValue(3000);
        QCOMPARE(exposure->value(), 1000);
        QCOMPARE(find<QLineEdit>(stage, "ExposureText")->text(), QStringLiteral("1000"));
        QVERIFY2(received.lines().filter(QRegularExpression("^(PHOTOEX|CONTRASTCAL) ")).isEmpty(),
                 qPrintable(received.lines().join(" | ")));
    }
    {
        // Automatic photometry asks too; No keeps the manual option.
        testing::ExpectPrompts boxes;
        boxes->expectMessage("Confirm Calibration Cancellation", ask, PromptIcon::Question,
                             PromptButtons::YesNo, PromptAnswer::No);
        auto* automatic = find<QRadioButton>(stage, "Auto");
        QTest::mouseClick(automatic, Qt::LeftButton, {},
                          QPoint(automatic->height() / 2, automatic->height() / 2));
        QVERIFY(find<QRadioButton>(stage, "Manual")->isChecked());
    }
    QCOMPARE(stage.fields("PHOTOEX").value(0), QStringLiteral("MANUAL"));
    QCOMPARE(stage.station().Query(QStringLiteral("CALIBRATED")), QStringLiteral("CALIBRATED TRUE"));
    {
        testing::Received received(stage.reader());
        QSignalSpy broadcasts(&stage.station(), &link::Connection::OnBroadcastMessage);
        testing::ExpectPrompts boxes;
        boxes->expectMessage("Confirm Calibration Cancellation", ask, PromptIcon::Question,
                             PromptButtons::YesNo, PromptAnswer::Yes);
        testing::typeInto(find<QLineEdit>(stage, "GainText"), QStringLiteral("250"));
        QTRY_COMPARE(stage.fields("PHOTOEX").value(2), QStringLiteral("250"));
        const QStringList lines = received.lines();
        const int cancel = int(lines.indexOf(calibrationBefore));
        const int write = int(lines.indexOf(QRegularExpression("PHOTOEX .*")));
        QVERIFY2(cancel >= 0 && write > cancel, qPrintable(lines.join(" | ")));
        QTRY_VERIFY(!broadcasts.isEmpty());
        QCOMPARE(broadcasts.first().at(1).toString(), QStringLiteral("UNCALIBRATED"));
    }
    QCOMPARE(stage.station().Query(QStringLiteral("CALIBRATED")), QStringLiteral("CALIBRATED FALSE"));
    QVERIFY(!warning->isVisibleTo(w));
    // Nothing is calibrated any more: the next change goes out without a question.
    testing::typeInto(find<QLineEdit>(stage, "ExposureText"), QStringLiteral("800"));
    QTRY_COMPARE(stage.fields("PHOTOEX").value(1), QStringLiteral("800"));
}

// Under the AIM DPM set-up nothing of the window can be changed, control or not.
void aimDpm(Stage& stage) {
    stage.start(QStringLiteral("3.0.2.1"));
    stage.send(kManual);
    stage.send(QStringLiteral("VERIFY AIMDPM"));
    QVERIFY(stage.open(kWindow));
    for (const char* off :
         {"Auto", "Manual", "Exposure", "ExposureLabel", "ExposureText", "Gain", "GainLabel", "GainText",
          "PreprocMethod", "PreprocMethodLabel", "PreprocIter", "NegativeImage"})
        QVERIFY2(!stage.control(off)->isEnabled(), off);
}

// A reload the reader does not answer for PHOTOEX keeps the exposure and gain as they were,
// greyed, and the window names it.
void unreadPhotometry(Stage& stage) {
    stage.start(QStringLiteral("3.0.2.1"));
    stage.send(kManual);
    QWidget* w = stage.open(kWindow);
    QVERIFY(w);
    stage.setField(QStringLiteral("PHOTOEX"), 1, QStringLiteral("2000"));
    stage.reader().setNextReplyFault(sim::ReplyFault::Refused, 0, QStringLiteral("PHOTOEX"));
    QSignalSpy loaded(settingsWindow(stage), &settings::SettingsWindow::loaded);
    stage.station().BroadcastMessage(QStringLiteral("ContractStation"), QStringLiteral("UPDATEPHOTO"),
                                     QString());
    QVERIFY(loaded.wait(3000));
    QCOMPARE(find<QSlider>(stage, "Exposure")->value(), 1000);
    QCOMPARE(find<QLineEdit>(stage, "ExposureText")->text(), QStringLiteral("1000"));
    QVERIFY(find<QRadioButton>(stage, "Manual")->isChecked());
    for (const char* off : {"Auto", "Manual", "Exposure", "ExposureText", "Gain", "GainText"})
        QVERIFY2(!stage.control(off)->isEnabled(), off);
    auto* note = w->findChild<QLabel*>(QStringLiteral("NotReadNote"));
    QVERIFY(note && note->isVisibleTo(w));
    QVERIFY2(note->text().contains(QStringLiteral("PHOTOEX")), qPrintable(note->text()));
}

// The captions grey with the controls they name, programming control included.
void captions(Stage& stage) {
    stage.start(QStringLiteral("3.0.2.1"));
    stage.send(kManual);
    stage.send(QStringLiteral("MORPH ERODE 2"));
    QVERIFY(stage.open(kWindow));
    const char* const names[] = {"ExposureLabel", "GainLabel", "PreprocMethodLabel", "PreprocIterLabel"};
    for (const char* name : names)
        QVERIFY2(stage.control(name)->isEnabled(), name);
    stage.releaseControl();
    for (const char* name : names)
        QTRY_VERIFY2(!stage.control(name)->isEnabled(), name);
}

} // namespace

WindowContract photometryContract() {
    WindowContract w;
    w.window = kWindow;
    w.immediate = true;
    w.lowVersion = QStringLiteral("2.0.2.0"); // level 4: no negative image
    // Changes announce nothing (only a cancelled calibration does).
    w.broadcasts = {};

    // The options are checked by clicking; the other one clears itself.
    w.controls << fieldRow("Auto", Kind::Check, "PHOTOEX", 0, {{"MANUAL", "off"}, {"AUTO", "on"}});
    ControlContract manual =
        fieldRow("Manual", Kind::Check, "PHOTOEX", 0, {{"AUTO", "off"}, {"MANUAL", "on"}});
    // Manual photometry starts from the exposure and gain automatic photometry reported.
    manual.alsoWrites = {"PHOTOEX:1", "PHOTOEX:2"};
    w.controls << manual;

    ControlContract exposure =
        fieldRow("Exposure", Kind::Spin, "PHOTOEX", 1,
                 {{"1000", "1000"}, {"5000", "5000"}, {"30", "30"}, {"20000", "20000"}});
    exposure.needs = {kManual};
    w.controls << exposure;
    ControlContract exposureText = fieldRow("ExposureText", Kind::Box, "PHOTOEX", 1,
                                            {{"1000", "1000"}, {"12000", "12000"}, {"30", "30"}});
    exposureText.needs = {kManual};
    w.controls << exposureText;
    ControlContract gain = fieldRow("Gain", Kind::Spin, "PHOTOEX", 2,
                                    {{"100", "100"}, {"0", "0"}, {"1023", "1023"}, {"512", "512"}});
    gain.needs = {kManual};
    w.controls << gain;
    ControlContract gainText =
        fieldRow("GainText", Kind::Box, "PHOTOEX", 2, {{"100", "100"}, {"700", "700"}, {"1", "1"}});
    gainText.needs = {kManual};
    w.controls << gainText;

    w.controls << fieldRow("PreprocMethod", Kind::List, "MORPH", 0,
                           {{"NONE", "NONE"},
                            {"ERODE", "ERODE"},
                            {"DILATE", "DILATE"},
                            {"OPEN", "OPEN"},
                            {"CLOSE", "CLOSE"},
                            {"NONE", "NONE"}});
    ControlContract iterations =
        fieldRow("PreprocIter", Kind::List, "MORPH", 1, {{"1", "1"}, {"5", "5"}, {"3", "3"}});
    iterations.needs = {"MORPH ERODE 1"};
    w.controls << iterations;

    ControlContract negative =
        fieldRow("NegativeImage", Kind::Check, "NEGATIVE", 0, {{"OFF", "off"}, {"ON", "on"}, {"OFF", "off"}});
    negative.fromLevel = 5;
    negative.below = Below::Hidden;
    w.controls << negative;

    w.checks = {texts,       recordsAndManual, exposureAndGainLightThePicture,
                powerStrobe, preprocessing,    calibration,
                aimDpm,      captions,         unreadPhotometry};
    return w;
}

} // namespace vm::contracts
