// Reflectance calibration: the two calibration targets, the grid of every light's stored and
// measured calibration, the commands each light's calibration sends, and the dialog's boxes.
#include "contracts/contract.h"
#include "contracts/tables/common.h"

#include "app/mainimageview.h"
#include "app/programstate.h"
#include "common/prompts.h"
#include "common/waits.h"
#include "display/imageview.h"
#include "link/connection.h"
#include "link/device.h"
#include "link/record.h"
#include "verification/calibrationstate.h"
#include "verification/dlgcalibrate.h"

#include <QElapsedTimer>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTimer>

#include <cmath>

namespace vm::contracts {

namespace {

using app::PromptAnswer;
using app::PromptButtons;
using app::PromptIcon;
using verification::dlgCalibrate;

const QColor kGreen(128, 255, 128);
const QColor kRed(255, 128, 128);
const QStringList kExternal = {"90",  "D",     "45Q",   "30T_NS", "30T_EW",
                               "30Q", "30S_N", "30S_E", "30S_S",  "30S_W"};
const QString kCalibratedSince = QStringLiteral("Calibrated Since Restart: ");
// "MMMM DD YYYY  hh:mm:ss", two blanks before the time.
const QRegularExpression kDate(QStringLiteral("^[A-Z][a-z]+ \\d\\d \\d{4}  \\d\\d:\\d\\d:\\d\\d$"));

void forget() {
    verification::calibrationState() = {};
    app::setCalibrationText(QString());
}

// A reader with this many external light channels, held in control by the station; the
// program starts each part uncalibrated.
void fresh(Stage& stage, int channels, bool control = true) {
    stage.start(QStringLiteral("3.0.2.1"), control, channels);
}

dlgCalibrate* openDialog(Stage& stage) {
    auto* d = new dlgCalibrate;
    d->show();
    return qobject_cast<dlgCalibrate*>(stage.adopt(d));
}

QTableWidget* grid(Stage& stage) {
    return qobject_cast<QTableWidget*>(stage.control(QStringLiteral("CalibrateGrid")));
}

QString cell(Stage& stage, int row, int column) {
    QTableWidget* g = grid(stage);
    return g && g->item(row, column) ? g->item(row, column)->text() : QStringLiteral("(no cell)");
}

QColor statusColour(Stage& stage, int row) {
    QTableWidget* g = grid(stage);
    return g && g->item(row, 7) ? g->item(row, 7)->background().color() : QColor();
}

QLineEdit* box(Stage& stage, const char* name) {
    return qobject_cast<QLineEdit*>(stage.control(QLatin1String(name)));
}

void press(Stage& stage, const char* button) {
    auto* b = qobject_cast<QPushButton*>(stage.control(QLatin1String(button)));
    QVERIFY2(b, button);
    QVERIFY2(b->isEnabled(), button);
    b->click();
}

QString word(Stage& stage, const QString& query, int index) {
    return stage.station()
        .Query(query)
        .section(QStringLiteral("\r\n"), 0, 0)
        .split(QLatin1Char(' '))
        .value(index);
}

// What the reader received, with the date of a calibrated text replaced by "*".
QStringList sent(const testing::Received& received) {
    QStringList out;
    for (QString line : received.lines()) {
        const QString prefix = QStringLiteral("CALIBRATED_STRING \"") + kCalibratedSince;
        if (line.startsWith(prefix) && line.endsWith(QLatin1Char('"')) &&
            kDate.match(line.mid(prefix.size(), line.size() - prefix.size() - 1)).hasMatch())
            line = prefix + QStringLiteral("*\"");
        out << line;
    }
    return out;
}

// The words of the broadcasts a station saw.
QStringList words(const QSignalSpy& spy) {
    QStringList out;
    for (const auto& b : spy)
        out << b.at(1).toString();
    return out;
}

// The commands of one light's calibration, after its light was selected.
QStringList oneLight(const QString& calibratedQuery, const QString& calibratedString) {
    return {"APERTURE AUTO",
            "TARGET_CALIB_CONTRAST 80",
            "TARGET_CALIB_REFLECTANCE 85",
            "LEARN CALIBRATE",
            "vt 2",
            calibratedQuery,
            "CALIBRATED_STRING \"" + calibratedString + "\""};
}

// A box the program shows, as recorded.
struct ShownBox {
    QString title, text;
    PromptIcon icon = PromptIcon::None;
    PromptButtons buttons = PromptButtons::Ok;
};

// Records the boxes shown, answering each with OK, so that a box known to be wrong can be
// checked as an expected failure instead of failing as undeclared.
class RecordedBoxes : public app::PromptService {
public:
    PromptAnswer message(QWidget*, const QString& title, const QString& text, PromptIcon icon,
                         PromptButtons buttons) override {
        m_shown.append({title, text, icon, buttons});
        return PromptAnswer::Ok;
    }
    std::optional<QString> input(QWidget*, const QString& prompt, const QString& title, const QString&,
                                 bool) override {
        m_shown.append({title, prompt, PromptIcon::None, PromptButtons::OkCancel});
        return std::nullopt;
    }
    QList<ShownBox> m_shown;
};

// The boxes `action` shows.
QList<ShownBox> boxesOf(const std::function<void()>& action) {
    auto recorder = std::make_unique<RecordedBoxes>();
    RecordedBoxes* seen = recorder.get();
    std::unique_ptr<app::PromptService> previous = app::installPrompts(std::move(recorder));
    action();
    const QList<ShownBox> shown = seen->m_shown;
    app::installPrompts(std::move(previous));
    return shown;
}

void expectFailureBox(testing::ExpectPrompts& boxes, const QString& light) {
    boxes->expectMessage(QStringLiteral("Calibration Failure"),
                         QStringLiteral("The calibration on the currently selected light (") + light +
                             QStringLiteral(") was unsuccessful!"),
                         PromptIcon::Critical, PromptButtons::Ok, PromptAnswer::Ok);
}

// Captions, column heads and widths.
void texts(Stage& stage) {
    fresh(stage, 0);
    QWidget* d = openDialog(stage);
    QVERIFY(d);
    QCOMPARE(d->windowTitle(), QStringLiteral("Reflectance Calibration"));
    QTableWidget* g = grid(stage);
    QVERIFY(g);
    QStringList heads;
    for (int c = 0; c < g->columnCount(); ++c)
        heads << g->horizontalHeaderItem(c)->text();
    QCOMPARE(heads, (QStringList{"Light Angle", "ExposureTime", "Gain", "CellUnit", "ContrastMax",
                                 "ContrastMin", "R_cal", "Status"}));
    // Seven columns of 1300 twips and the status of 4000.
    for (int c = 1; c < 7; ++c)
        QCOMPARE(g->columnWidth(c), g->columnWidth(0));
    QVERIFY2(std::abs(g->columnWidth(7) * 1300.0 / g->columnWidth(0) - 4000.0) < 100.0,
             qPrintable(QString::number(g->columnWidth(7))));
    QStringList labels;
    for (QLabel* l : d->findChildren<QLabel*>())
        labels << l->text().remove(QLatin1Char('&'));
    QVERIFY2(labels.contains(QStringLiteral("Calibration Target Contrast")), qPrintable(labels.join('|')));
    QVERIFY2(labels.contains(QStringLiteral("Calibration Target Reflectance Max")),
             qPrintable(labels.join('|')));
    compareCaptions(stage, {{"CalibrateButton", "Calibrate"}, {"CloseButton", "Close"}});

    // Every error code the reader reports has its text; others are named by number.
    const QHash<int, QString> errors = {
        {4650, "Verification contrast calibration failure"},
        {4651, "Verification cellunit calibration failure"},
        {4700, "Verification process error"},
        {4701, "Verification unsupported"},
        {4702, "Verification timeout"},
        {4709, "ISO Verification mean light bad"},
        {4710, "ISO Verification ECC200 required"},
        {4711, "ISO Verification aperture too small. Cell Size is out of spec > .025 inches"},
        {4712, "ISO Verification aperture too large. Cell Size is out of spec < .005 inches"},
        {4713, "ISO Verification insufficient space"},
        {4714, "ISO Verification failed RDA STEP F 1"},
        {4715, "ISO Verification failed RDA STEP F 2"},
        {4716, "ISO Verification failed RDA STEP F 3"},
        {4717, "ISO Verification failed RDA STEP A E"},
        {4718, "ISO Verification failed RDA final image adjustment"},
        {4719, "ISO Verification failed RDA error correction"},
        {4720, "ISO Verification size too large"},
        {4721, "ISO Verification cell size smaller than Min X"},
        {4722, "ISO Verification cell size greater than Max X"},
        {4999, "Unknown error = 4999"},
        {4703, "Unknown error = 4703"},
    };
    for (auto it = errors.begin(); it != errors.end(); ++it)
        QCOMPARE(verification::verificationErrorText(it.key()), it.value());
}

// Opening reads each light's stored calibration; Calibrate sends, light by light, the
// selection, the targets, the learn and the trigger, and stores the outcome; the grid shows
// the measured values on green; Close announces it and puts the reader back.
void lightByLight(Stage& stage, int channels) {
    fresh(stage, channels);
    const QStringList lights = channels == 10  ? kExternal
                               : channels == 1 ? QStringList{"90"}
                                               : QStringList{"INTERNAL"};
    // Stored exposures and gains, one pair a light, and the names of channels 0 and 1.
    stage.send(QStringLiteral("CONTRASTCAL N 1234 321 255 0"));
    for (int i = 0; i < kExternal.size(); ++i)
        stage.send(QStringLiteral("XLIGHTCONTRASTCAL %1 N %2 %3 255 0")
                       .arg(kExternal[i])
                       .arg(2000 + i)
                       .arg(100 + i));
    stage.send(QStringLiteral("XLIGHTCHANNEL_0_ALIASNAME CAM0"));
    stage.send(QStringLiteral("XLIGHTCHANNEL_1_ALIASNAME RING"));
    if (channels == 10)
        stage.send(QStringLiteral("LIGHT_CTL 45Q"));
    stage.send(QStringLiteral("TRIG T"));
    const QString lightBefore = stage.fields(QStringLiteral("LIGHT_CTL")).value(0);

    openDialog(stage);
    QTableWidget* g = grid(stage);
    QVERIFY(g);
    QCOMPARE(g->rowCount(), lights.size());
    for (int r = 0; r < lights.size(); ++r) {
        const QString shown = channels == 0 ? QStringLiteral("CAM0")
                              : r == 0      ? QStringLiteral("RING")
                                            : lights[r];
        QCOMPARE(cell(stage, r, 0), shown);
        QCOMPARE(cell(stage, r, 1), channels == 0 ? QStringLiteral("1234") : QString::number(2000 + r));
        QCOMPARE(cell(stage, r, 2), channels == 0 ? QStringLiteral("321") : QString::number(100 + r));
        QCOMPARE(cell(stage, r, 6), QStringLiteral("0"));
        QCOMPARE(cell(stage, r, 7), QStringLiteral("Recalibrate - Camera was Reset"));
        QCOMPARE(statusColour(stage, r), kRed);
    }
    QCOMPARE(box(stage, "txtCalTargetContrast")->text(), QStringLiteral("80"));
    QCOMPARE(box(stage, "txtCalTargetReflectanceMax")->text(), QStringLiteral("85"));

    testing::Received received(stage.reader());
    QSignalSpy records(&stage.station(), &link::Connection::OnNewRecord);
    press(stage, "CalibrateButton");
    if (QTest::currentTestFailed())
        return;
    QStringList expected = {"trig t", "offline", "online"};
    for (const QString& light : lights) {
        expected << (channels == 10  ? "LIGHT_CTL " + light
                     : channels == 1 ? "LIGHT_CTL 90"
                                     : "LIGHT_CTL OFF");
        expected << oneLight(channels == 10 ? "CALIBRATED " + light : "CALIBRATED", kCalibratedSince + "*");
    }
    expected << (channels == 0 ? "LIGHT_CTL OFF" : "LIGHT_CTL " + lights.last()) << "CELL_UNIT_REPORT MILS"
             << "trig c";
    QCOMPARE(sent(received), expected);

    // Each row shows its light's record: exposure and gain of its image, the measured values.
    QHash<QString, link::Record> byLight;
    for (const auto& args : records) {
        const auto record = args.at(0).value<link::Record>();
        if (record.HasCalibration())
            byLight.insert(record.Calibration()->light.toUpper(), record);
    }
    QList<QStringList> shownRows;
    for (int r = 0; r < lights.size(); ++r) {
        QVERIFY2(byLight.contains(lights[r]), qPrintable(lights[r]));
        const link::Record& record = byLight[lights[r]];
        const link::CalibrationResult& c = *record.Calibration();
        QCOMPARE(c.errorCode, 0);
        const QStringList row = {
            QString::number(record.Image().Exposure()),  QString::number(record.Image().Gain()),
            QString::number(std::lround(c.cellUnit)),    QString::number(std::lround(c.contrastMax)),
            QString::number(std::lround(c.contrastMin)), QString::number(std::lround(c.reflectanceCal))};
        for (int column = 1; column <= 6; ++column)
            QCOMPARE(cell(stage, r, column), row[column - 1]);
        const QString status = cell(stage, r, 7);
        QVERIFY2(status.startsWith(kCalibratedSince) &&
                     kDate.match(status.mid(kCalibratedSince.size())).hasMatch(),
                 qPrintable(status));
        QCOMPARE(statusColour(stage, r), kGreen);
        shownRows << QStringList{status} + row;
    }
    QCOMPARE(word(stage, QStringLiteral("CALIBRATED"), 1), QStringLiteral("TRUE"));
    // The program's calibration text, which the verification report shows, is the status line.
    QCOMPARE(app::calibrationText(), shownRows.last().first());
    QCOMPARE(stage.fields(QStringLiteral("CELL_UNIT_REPORT")).value(0), QStringLiteral("MILS"));
    if (channels == 10) {
        // The low-angle lights return less light: they need more exposure and gain.
        auto light = [&](int row) {
            return cell(stage, row, 1).toDouble() * std::pow(2.0, cell(stage, row, 2).toDouble() / 320);
        };
        QVERIFY2(light(6) > light(0) * 1.2, qPrintable(QStringLiteral("%1 %2").arg(light(6)).arg(light(0))));
    }

    // Close announces the calibration and gives back the light and trigger it found.
    received.clear();
    QSignalSpy broadcasts(&stage.station(), &link::Connection::OnBroadcastMessage);
    press(stage, "CloseButton");
    QTRY_VERIFY(!broadcasts.isEmpty());
    QCOMPARE(broadcasts.first().at(1).toString(), QStringLiteral("CALIBRATED"));
    QCOMPARE(broadcasts.first().at(2).toString(), QString());
    const QStringList closing = received.lines();
    QVERIFY2(closing.contains("LIGHT_CTL " + lightBefore) && closing.contains(QStringLiteral("TRIG T")),
             qPrintable(closing.join(" | ")));
    QCOMPARE(stage.fields(QStringLiteral("LIGHT_CTL")).value(0), lightBefore);
    QCOMPARE(stage.fields(QStringLiteral("TRIG")).value(0), QStringLiteral("T"));

    // Opened again, the dialog reads back what the reader stored for every light: the exposure
    // and gain it was calibrated with, and what it measured.
    stage.close();
    forget();
    openDialog(stage);
    for (int r = 0; r < lights.size(); ++r) {
        QCOMPARE(cell(stage, r, 7), shownRows[r][0]);
        QCOMPARE(statusColour(stage, r), kGreen);
        for (int column = 1; column <= 6; ++column)
            QVERIFY2(std::abs(cell(stage, r, column).toInt() - shownRows[r][column].toInt()) <= 1,
                     qPrintable(lights[r] + ": " + cell(stage, r, column) + " vs " + shownRows[r][column]));
    }
    stage.close();
    if (channels != 1)
        return;
    // Calibrated without a stored text, and uncalibrated with one.
    stage.send(QStringLiteral("CALIBRATED_STRING 90 \"\""));
    openDialog(stage);
    QCOMPARE(cell(stage, 0, 7), QStringLiteral("Calibrated, Date Unknown"));
    QCOMPARE(statusColour(stage, 0), kGreen);
    stage.close();
    stage.send(QStringLiteral("CALIBRATED 90 FALSE"));
    stage.send(QStringLiteral("CALIBRATED_STRING 90 \"Lamp changed\""));
    openDialog(stage);
    QCOMPARE(cell(stage, 0, 7), QStringLiteral("Lamp changed"));
    QCOMPARE(statusColour(stage, 0), kRed);
    QCOMPARE(cell(stage, 0, 6), shownRows[0][6]); // R_cal stays what the reader measured
    stage.close();
}

// A light too dim to calibrate: the reader's error on red, the failure values, the box
// naming the light as the reader knows it (not by its alias), and no announcement on close,
// also after an earlier run of the dialog succeeded.
void failedLight(Stage& stage) {
    fresh(stage, 1);
    stage.send(QStringLiteral("XLIGHTCHANNEL_1_ALIASNAME RING"));
    auto* d = openDialog(stage);
    press(stage, "CalibrateButton");
    QCOMPARE(statusColour(stage, 0), kGreen);
    QVERIFY(d->calibratedMark());
    QString error;
    QVERIFY2(stage.reader().setLampOutput(QStringLiteral("90"), QStringLiteral("2"), &error),
             qPrintable(error));
    testing::Received received(stage.reader());
    {
        const QList<ShownBox> shown = boxesOf([&stage] { press(stage, "CalibrateButton"); });
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown.first().title, QStringLiteral("Calibration Failure"));
        QCOMPARE(shown.first().icon, PromptIcon::Critical);
        QCOMPARE(shown.first().buttons, PromptButtons::Ok);
        QCOMPARE(shown.first().text,
                 QStringLiteral("The calibration on the currently selected light (90) was unsuccessful!"));
    }
    QVERIFY(!d->calibratedMark());
    QCOMPARE(cell(stage, 0, 0), QStringLiteral("RING"));
    QCOMPARE(cell(stage, 0, 7), QStringLiteral("ISO Verification mean light bad"));
    QCOMPARE(statusColour(stage, 0), kRed);
    QCOMPARE(cell(stage, 0, 3), QStringLiteral("100"));
    QCOMPARE(cell(stage, 0, 4), QStringLiteral("255"));
    QCOMPARE(cell(stage, 0, 5), QStringLiteral("0"));
    QCOMPARE(cell(stage, 0, 6), QStringLiteral("0"));
    QCOMPARE(app::calibrationText(), QStringLiteral("Not Calibrated"));
    const QStringList lines = sent(received);
    QVERIFY2(lines.contains(QStringLiteral("CALIBRATED_STRING \"ISO Verification mean light bad\"")),
             qPrintable(lines.join(" | ")));
    QVERIFY2(lines.contains(QStringLiteral("CELL_UNIT_REPORT PIXELS")), qPrintable(lines.join(" | ")));
    QCOMPARE(word(stage, QStringLiteral("CALIBRATED"), 1), QStringLiteral("FALSE"));
    QCOMPARE(stage.fields(QStringLiteral("CELL_UNIT_REPORT")).value(0), QStringLiteral("PIXELS"));
    QSignalSpy broadcasts(&stage.station(), &link::Connection::OnBroadcastMessage);
    press(stage, "CloseButton");
    QVERIFY(!QTest::qWaitFor([&] { return !broadcasts.isEmpty(); }, 300));
}

// Targets are whole numbers from 1 to 99; a bad one is named, focused and nothing is sent.
void targets(Stage& stage) {
    fresh(stage, 0);
    QWidget* d = openDialog(stage);
    QLineEdit* contrast = box(stage, "txtCalTargetContrast");
    QLineEdit* reflectance = box(stage, "txtCalTargetReflectanceMax");
    testing::Received received(stage.reader());
    const QList<QPair<QLineEdit*, QString>> bad = {{contrast, "0"},    {contrast, "100"},
                                                   {reflectance, "x"}, {reflectance, "100"},
                                                   {reflectance, "0"}, {contrast, ""}};
    for (const auto& [target, text] : bad) {
        contrast->setText(QStringLiteral("80"));
        reflectance->setText(QStringLiteral("85"));
        target->setText(text);
        stage.unexpected()->expectMessage(app::DefaultPromptTitle,
                                          QStringLiteral("Please Enter Numeric Value Between 0 and 100"),
                                          PromptIcon::None, PromptButtons::Ok, PromptAnswer::Ok);
        press(stage, "CalibrateButton");
        QVERIFY2(d->focusWidget() == target, qPrintable(text));
        QVERIFY2(received.lines().isEmpty(), qPrintable(text + ": " + received.lines().join(" | ")));
    }
    // 99 and 1 are inside.
    contrast->setText(QStringLiteral("99"));
    reflectance->setText(QStringLiteral("1"));
    press(stage, "CalibrateButton");
    QCOMPARE(stage.fields(QStringLiteral("TARGET_CALIB_CONTRAST")).value(0), QStringLiteral("99"));
    QCOMPARE(stage.fields(QStringLiteral("TARGET_CALIB_REFLECTANCE")).value(0), QStringLiteral("1"));
    QCOMPARE(verification::calibrationState().targetContrast, 99);
    // A one percent target cannot be the printed contrast: the reader refuses it.
    contrast->setText(QStringLiteral("1"));
    reflectance->setText(QStringLiteral("99"));
    expectFailureBox(stage.unexpected(), QStringLiteral("INTERNAL"));
    press(stage, "CalibrateButton");
    QCOMPARE(stage.fields(QStringLiteral("TARGET_CALIB_CONTRAST")).value(0), QStringLiteral("1"));
    QCOMPARE(cell(stage, 0, 7), QStringLiteral("Verification contrast calibration failure"));
}

// A barcode is no calibration target: the reader's error shows on red.
void barcodeTarget(Stage& stage) {
    fresh(stage, 0);
    stage.send(QStringLiteral("NUMDM 0"));
    stage.send(QStringLiteral("NUMBC 1"));
    stage.send(QStringLiteral("BARCODE ENABLE 0x1"));
    QString error;
    QVERIFY2(stage.reader().setScene(QStringLiteral("symbology"), QStringLiteral("CODE128"), &error),
             qPrintable(error));
    openDialog(stage);
    expectFailureBox(stage.unexpected(), QStringLiteral("INTERNAL"));
    press(stage, "CalibrateButton");
    QCOMPARE(cell(stage, 0, 7), QStringLiteral("ISO Verification ECC200 required"));
    QCOMPARE(statusColour(stage, 0), kRed);
}

// Opening asks for control; refused, the dialog says so and sends nothing at all.
void control(Stage& stage) {
    fresh(stage, 0, false);
    const QString name = stage.station().Device()->Name();
    QSignalSpy commands(&stage.reader(), &sim::Reader::commandReceived);
    stage.unexpected()->expectMessage(app::DefaultPromptTitle,
                                      QStringLiteral("Do you wish to control the camera ") + name +
                                          QLatin1Char('?'),
                                      PromptIcon::Question, PromptButtons::YesNo, PromptAnswer::No);
    stage.unexpected()->expectMessage(app::DefaultPromptTitle,
                                      QStringLiteral("Cannot calibrate without control..."), PromptIcon::None,
                                      PromptButtons::Ok, PromptAnswer::Ok);
    openDialog(stage);
    // Nothing in it can be worked.
    for (const char* off : {"txtCalTargetContrast", "txtCalTargetReflectanceMax"})
        QVERIFY2(!stage.control(QLatin1String(off))->isEnabled(), off);
    auto* calibrate = qobject_cast<QPushButton*>(stage.control(QStringLiteral("CalibrateButton")));
    QVERIFY(!calibrate->isEnabled());
    QStringList lines;
    for (const auto& args : commands)
        lines << args.at(0).toString();
    QVERIFY2(lines.isEmpty(), qPrintable(lines.join(" | ")));
    stage.close();
    commands.clear();

    // Yes takes control first, then the dialog reads the reader.
    stage.unexpected()->expectMessage(app::DefaultPromptTitle,
                                      QStringLiteral("Do you wish to control the camera ") + name +
                                          QLatin1Char('?'),
                                      PromptIcon::Question, PromptButtons::YesNo, PromptAnswer::Yes);
    openDialog(stage);
    QVERIFY(!commands.isEmpty());
    QCOMPARE(commands.first().at(0).toString(), QStringLiteral("CONTROL"));
    QVERIFY(grid(stage)->rowCount() == 1);
}

// Light 0 is selected like every other light before its stored values are read, since the
// reader answers them for the light selected: a reader without external lights that was left
// on another light still shows its own light's values. Its illumination stays on: it is what
// lights the target.
void internalLightSelected(Stage& stage) {
    fresh(stage, 0);
    openDialog(stage);
    press(stage, "CalibrateButton");
    QCOMPARE(statusColour(stage, 0), kGreen);
    QStringList measured;
    for (int column = 3; column <= 6; ++column)
        measured << cell(stage, 0, column);
    QVERIFY2(measured.last().toInt() > 0, qPrintable(measured.join(' ')));
    stage.close();

    stage.send(QStringLiteral("LIGHT_CTL 90"));
    QCOMPARE(stage.fields(QStringLiteral("LIGHT_CTL")).value(0), QStringLiteral("90"));
    forget();
    testing::Received received(stage.reader());
    openDialog(stage);
    const QStringList lines = received.lines();
    const qsizetype cellUnit = lines.indexOf(QStringLiteral("CELL_UNIT"));
    QVERIFY2(cellUnit > 0, qPrintable(lines.join(" | ")));
    const QStringList before = lines.mid(0, cellUnit);
    const qsizetype channels = before.indexOf(QStringLiteral("XLIGHTCHANNELS"));
    QVERIFY2(channels >= 0 && before.last() == QLatin1String("LIGHT_CTL OFF"),
             qPrintable(before.join(" | ")));
    QVERIFY2(!before.contains(QStringLiteral("ILLUM OFF")), qPrintable(before.join(" | ")));
    for (int column = 3; column <= 6; ++column)
        QVERIFY2(std::abs(cell(stage, 0, column).toInt() - measured[column - 3].toInt()) <= 1,
                 qPrintable(QStringLiteral("column %1: %2 vs %3")
                                .arg(column)
                                .arg(cell(stage, 0, column), measured[column - 3])));
    QCOMPARE(statusColour(stage, 0), kGreen);
    // Closing gives back the light the reader was left on.
    stage.close();
    QCOMPARE(stage.fields(QStringLiteral("LIGHT_CTL")).value(0), QStringLiteral("90"));
}

// Without a record within 5000 ms a light is judged by the reader's "CALIBRATED" alone.
void noRecord(Stage& stage) {
    fresh(stage, 0);
    openDialog(stage);
    // Records keep coming, but none concludes the calibration: the reader repeats an
    // earlier cycle's record.
    auto replay = [&stage] {
        stage.reader().setReplay(true);
        QSignalSpy oneCycle(&stage.reader(), &sim::Reader::recordDelivered);
        stage.reader().cycles().runOnce();
        QTRY_VERIFY(!oneCycle.isEmpty());
    };
    QElapsedTimer clock;
    qint64 triggered = -1, asked = -1;
    QObject guard;
    QObject::connect(&stage.reader(), &sim::Reader::commandReceived, &guard, [&](const QString& line) {
        if (line == QLatin1String("vt 2"))
            triggered = clock.elapsed();
        if (line.startsWith(QLatin1String("CALIBRATED")) &&
            !line.startsWith(QLatin1String("CALIBRATED_STRING")))
            asked = clock.elapsed();
    });
    auto waited = [&] {
        const qint64 ms = asked - triggered;
        QVERIFY2(triggered >= 0 && ms >= 4950 && ms < 6500, qPrintable(QString::number(ms)));
    };

    replay();
    clock.start();
    expectFailureBox(stage.unexpected(), QStringLiteral("INTERNAL"));
    {
        // The reader answered FALSE: the text it keeps for the light says why.
        testing::Received texts(stage.reader());
        press(stage, "CalibrateButton");
        waited();
        QCOMPARE(texts.starting(QStringLiteral("CALIBRATED_STRING")),
                 QStringList{"CALIBRATED_STRING \"Verification timeout\""});
    }
    QCOMPARE(statusColour(stage, 0), kRed);
    QCOMPARE(stage.fields(QStringLiteral("CELL_UNIT_REPORT")).value(0), QStringLiteral("PIXELS"));

    // Calibrated once for real, the reader's "TRUE" alone counts.
    stage.reader().setReplay(false);
    press(stage, "CalibrateButton");
    QCOMPARE(statusColour(stage, 0), kGreen);
    replay();
    triggered = asked = -1;
    clock.restart();
    {
        // The reader answered TRUE: calibrated, when is not known.
        testing::Received texts(stage.reader());
        press(stage, "CalibrateButton");
        waited();
        QCOMPARE(texts.starting(QStringLiteral("CALIBRATED_STRING")),
                 QStringList{"CALIBRATED_STRING \"Calibrated, Date Unknown\""});
    }
    QCOMPARE(statusColour(stage, 0), kGreen);
    QCOMPARE(stage.fields(QStringLiteral("CELL_UNIT_REPORT")).value(0), QStringLiteral("MILS"));

    // No answer to "CALIBRATED" is no "TRUE": the light fails, and the text the reader keeps
    // for it is left alone, since its state is not known.
    const QString stored = word(stage, QStringLiteral("CALIBRATED_STRING"), 1);
    stage.reader().setNextReplyFault(sim::ReplyFault::Silent, 0, QStringLiteral("CALIBRATED"));
    testing::Received received(stage.reader());
    {
        const QList<ShownBox> shown = boxesOf([&stage] { press(stage, "CalibrateButton"); });
        QCOMPARE(shown.size(), 1);
        QCOMPARE(
            shown.first().text,
            QStringLiteral("The calibration on the currently selected light (INTERNAL) was unsuccessful!"));
    }
    QCOMPARE(statusColour(stage, 0), kRed);
    QCOMPARE(cell(stage, 0, 7), QStringLiteral("Verification timeout"));
    QCOMPARE(received.starting(QStringLiteral("CALIBRATED_STRING")), QStringList());
    QCOMPARE(word(stage, QStringLiteral("CALIBRATED_STRING"), 1), stored);
    QCOMPARE(stage.fields(QStringLiteral("CELL_UNIT_REPORT")).value(0), QStringLiteral("PIXELS"));
    stage.reader().setReplay(false);
}

// The reader's link drops in the middle of a run and stays down: the light whose calibration
// it cut and every light after it fail, none of them green, the failure box names the last
// light, the reader is not counted as calibrated and nothing is announced. Lights calibrated
// before the drop keep their result.
void droppedLink(Stage& stage, int channels, int dropAt) {
    fresh(stage, channels);
    const QStringList lights = channels == 10 ? kExternal : QStringList{QStringLiteral("INTERNAL")};
    auto* d = openDialog(stage);
    QVERIFY(d);
    // The reader hangs up on the chosen light's LEARN and takes no new connection until the
    // run is over.
    int learns = 0;
    QObject guard;
    QObject::connect(&stage.reader(), &sim::Reader::commandReceived, &guard, [&](const QString& line) {
        if (line.startsWith(QLatin1String("TARGET_CALIB_REFLECTANCE ")) && learns++ == dropAt) {
            stage.reader().setListening(false);
            stage.reader().setNextReplyFault(sim::ReplyFault::Drop, 0, QStringLiteral("LEARN"));
        }
    });
    expectFailureBox(stage.unexpected(), lights.last());
    QSignalSpy broadcasts(&stage.station(), &link::Connection::OnBroadcastMessage);
    press(stage, "CalibrateButton");
    QVERIFY(!d->isRunning());
    for (int r = 0; r < lights.size(); ++r) {
        if (r < dropAt) {
            QVERIFY2(cell(stage, r, 7).startsWith(kCalibratedSince), qPrintable(lights[r]));
            QCOMPARE(statusColour(stage, r), kGreen);
        } else {
            QCOMPARE(cell(stage, r, 7), QStringLiteral("No Connection To Camera"));
            QCOMPARE(statusColour(stage, r), kRed);
        }
    }
    QVERIFY(!verification::calibrationState().calibrated);
    QVERIFY(!d->calibratedMark());

    // Back on line, the reader never calibrated the light it hung up on.
    stage.reader().setListening(true);
    QTRY_VERIFY_WITH_TIMEOUT(stage.station().Connected(), testing::reconnectWaitMs(6));
    stage.regainControl();
    const QString cut = lights[dropAt];
    QCOMPARE(word(stage, QStringLiteral("CALIBRATED ") + cut, 2), QStringLiteral("FALSE"));
    QCOMPARE(word(stage, QStringLiteral("CALIBRATED_STRING ") + cut, 2), QStringLiteral("\"\""));
    stage.close();
    QVERIFY2(!words(broadcasts).contains(QStringLiteral("CALIBRATED")),
             qPrintable(words(broadcasts).join(' ')));
}

// An image view standing for the main window's, for the boxes overlay the dialog draws on it.
struct MainView {
    display::VxImageView view;
    MainView() { app::setMainImageView(&view); }
    ~MainView() { app::setMainImageView(nullptr); }
    bool hasBoxes() const { return view.OverlayNames().contains(QStringLiteral("Boxes")); }
};

// Closing while a light waits for its record (Esc, or the window's close button) stops the
// run after that light: it ends as usual, no further light starts, and the dialog then closes
// as every close does: the boxes overlay goes, the reader gets back the trigger and light it
// had, and it is left not triggering continuously. What the light calibrated last achieved is
// announced as after any run.
void closeDuringRun(Stage& stage, int channels, bool escape) {
    fresh(stage, channels);
    MainView main;
    stage.send(QStringLiteral("TRIG T"));
    if (channels == 10)
        stage.send(QStringLiteral("LIGHT_CTL 45Q"));
    const QString lightBefore = stage.fields(QStringLiteral("LIGHT_CTL")).value(0);
    const QStringList lights = channels == 10 ? kExternal : QStringList{QStringLiteral("INTERNAL")};
    // Closed while the second light (the only one without external lights) waits.
    const int closeAt = channels == 10 ? 1 : 0;
    auto* d = openDialog(stage);
    QVERIFY(d);
    QVERIFY(main.hasBoxes());
    for (int r = 0; r < lights.size(); ++r)
        QCOMPARE(cell(stage, r, 7), QStringLiteral("Recalibrate - Camera was Reset"));

    int triggers = 0;
    bool closedAtOnce = false;
    QObject guard;
    QObject::connect(&stage.reader(), &sim::Reader::commandReceived, &guard, [&](const QString& line) {
        if (line == QLatin1String("vt 2") && triggers++ == closeAt)
            QTimer::singleShot(0, d, [&, d] {
                if (escape)
                    QTest::keyClick(d, Qt::Key_Escape);
                else
                    d->close();
                closedAtOnce = !d->isVisible();
            });
    });
    testing::Received received(stage.reader());
    QSignalSpy broadcasts(&stage.station(), &link::Connection::OnBroadcastMessage);
    press(stage, "CalibrateButton");
    QCOMPARE(triggers, closeAt + 1);
    QVERIFY(!closedAtOnce);
    QVERIFY(!d->isVisible());
    QCOMPARE(d->result(), int(QDialog::Rejected));

    QStringList expected = {"trig t", "offline", "online"};
    for (int r = 0; r <= closeAt; ++r) {
        expected << (channels == 10 ? "LIGHT_CTL " + lights[r] : QStringLiteral("LIGHT_CTL OFF"));
        expected << oneLight(channels == 10 ? "CALIBRATED " + lights[r] : "CALIBRATED",
                             kCalibratedSince + "*");
    }
    expected << (channels == 10 ? "LIGHT_CTL " + lights[closeAt] : QStringLiteral("LIGHT_CTL OFF"))
             << "CELL_UNIT_REPORT MILS"
             << "trig t"
             << "offline"
             << "online"
             << "LIGHT_CTL " + lightBefore << "TRIG T";
    QCOMPARE(sent(received), expected);
    QCOMPARE(stage.fields(QStringLiteral("TRIG")).value(0), QStringLiteral("T"));
    QCOMPARE(stage.fields(QStringLiteral("LIGHT_CTL")).value(0), lightBefore);
    QVERIFY(!main.hasBoxes());
    QTRY_VERIFY(words(broadcasts).contains(QStringLiteral("CALIBRATED")));
    QCOMPARE(words(broadcasts).count(QStringLiteral("CALIBRATED")), 1);

    // The lights the run calibrated hold their result; those it did not reach what they held.
    const verification::CalibrationState& state = verification::calibrationState();
    for (int r = 0; r < lights.size(); ++r) {
        const verification::LightCalibration& c = state.lights[size_t(channels == 10 ? r + 1 : 0)];
        if (r <= closeAt)
            QVERIFY2(c.calibratedText.startsWith(kCalibratedSince), qPrintable(lights[r]));
        else
            QCOMPARE(c.statusText, QStringLiteral("Recalibrate - Camera was Reset"));
    }
    QVERIFY(state.calibrated);
    stage.close();
}

// The target box: the reader's target shows; Calibrate sends what was typed.
ControlContract targetRow(const char* name, const char* parameter, const QList<Value>& values) {
    ControlContract c;
    c.name = QLatin1String(name);
    c.kind = Kind::Custom;
    c.parameter = QLatin1String(parameter);
    c.field = 0;
    c.values = values;
    // The dialog takes control once, when it opens; it has no control rule of its own.
    c.needsControl = false;
    // A calibration also leaves its result on the reader.
    c.alsoWrites = {QStringLiteral("CELL_UNIT_REPORT:0")};
    c.set = [name](Stage& stage, const Value& v) {
        QLineEdit* b = box(stage, name);
        QVERIFY(b);
        b->setText(v.shown);
        press(stage, "CalibrateButton");
    };
    c.read = [name](Stage& stage) {
        QLineEdit* b = box(stage, name);
        return b ? b->text() : QStringLiteral("(no box)");
    };
    return c;
}

} // namespace

WindowContract calibrateContract() {
    WindowContract w;
    w.window = QStringLiteral("dlgCalibrate");
    // Every command of a calibration goes to the reader as the button runs it.
    w.immediate = true;
    w.opener = [](Stage&) -> QWidget* {
        forget();
        auto* d = new dlgCalibrate;
        d->show();
        return d;
    };
    w.controls << targetRow("txtCalTargetContrast", "TARGET_CALIB_CONTRAST",
                            {{"80", "80"}, {"70", "70"}, {"95", "95"}})
               << targetRow("txtCalTargetReflectanceMax", "TARGET_CALIB_REFLECTANCE",
                            {{"85", "85"}, {"60", "60"}, {"99", "99"}});
    w.notFields = {QStringLiteral("CalibrateGrid")}; // shows the lights' results, edits nothing
    w.checks = {texts,
                [](Stage& s) { lightByLight(s, 0); },
                [](Stage& s) { lightByLight(s, 1); },
                [](Stage& s) { lightByLight(s, 10); },
                failedLight,
                targets,
                barcodeTarget,
                control,
                internalLightSelected,
                [](Stage& s) { closeDuringRun(s, 0, true); },
                [](Stage& s) { closeDuringRun(s, 10, false); },
                [](Stage& s) { droppedLink(s, 0, 0); },
                [](Stage& s) { droppedLink(s, 10, 2); },
                noRecord};
    return w;
}

} // namespace vm::contracts
