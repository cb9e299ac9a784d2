// Symbology and verification: what the reader decodes, the verification standard with its
// quality ranges, and the external lights; everything goes out with Apply.
#include "app/programstate.h"
#include "contracts/contract.h"
#include "contracts/tables/common.h"
#include "settings/settingswindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

namespace vm::contracts {

namespace {

const QStringList kBarcodes = {"Code 128",
                               "Code 39",
                               "Code 93",
                               "Code 2 of 5",
                               "Codabar",
                               "UPC-A / EAN",
                               "UPC-E",
                               "UPS Supplemental",
                               "PDF417",
                               "BC412",
                               "Postnet",
                               "Pharma",
                               "GS1 DataBar 14",
                               "GS1 DataBar Limited",
                               "GS1 DataBar Expanded",
                               "GS1 DataBar Stacked",
                               "GS1 DataBar Composite",
                               "QR Code/Micro QR Code"};
const QStringList kStandardCaptions = {"No Verification", "AIM (ISO 16022)",  "ANSI (ISO 15416)",
                                       "IAQG (AS9132)",   "DPM Verification", "ISO 15415",
                                       "AIM DPM-1-2006"};
const QStringList kDpmCaptions = {"Cell Size",           "Center Offset", "Size Offset",
                                  "Cell Modulation",     "Border Match",  "Symbol Contrast",
                                  "Axial Nonuniformity", "Print Growth",  "Unused Error Correction",
                                  "Angle of Distortion"};
const QStringList kDpmKeys = {"CS", "CO", "SO", "CM", "BM", "SC", "AN", "PG", "UEC", "AD"};
const QStringList kLights = {"OFF", "90",    "D",     "45Q",   "30T_NS", "30T_EW",
                             "30Q", "30S_N", "30S_E", "30S_S", "30S_W"};
const QStringList kAfterApply = {"UPDATEBC", "UPDATEPHOTO", "UPDATEAPPMODE", "UPDATEDROPWHENBUSY"};

// Grade classes as the operator sees them: the button's back colour.
const QColor kGood(0x80, 0xFF, 0x80), kFair(0xFF, 0xFF, 0x80), kPoor(0xFF, 0x80, 0x80);

QListWidget* barcodeList(Stage& stage) {
    return find<QListWidget>(stage, QStringLiteral("Barcodes"));
}

void click(QAbstractButton* button) {
    QVERIFY(button);
    QVERIFY2(button->isEnabled(), qPrintable(button->objectName() + QStringLiteral(" disabled")));
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(button->height() / 2, button->height() / 2));
}

void pick(Stage& stage, const QString& name) {
    click(find<QAbstractButton>(stage, name));
}

QColor gradeColour(Stage& stage, int index) {
    auto* b = find<QPushButton>(stage, QStringLiteral("GradeCommand%1").arg(index));
    return b ? b->palette().color(QPalette::Button) : QColor();
}

// The colours of a row's five buttons, as G, F or P letters ("GGFPP").
QString rowColours(Stage& stage, int row) {
    QString out;
    for (int i = 0; i < 5; ++i) {
        const QColor c = gradeColour(stage, 5 * row + i);
        out += c == kGood   ? QLatin1Char('G')
               : c == kFair ? QLatin1Char('F')
               : c == kPoor ? QLatin1Char('P')
                            : QLatin1Char('?');
    }
    return out;
}

struct Compliance {
    bool shown = false;
    bool lightFrameShown = true;
    bool okBeforeTicks = true;
    bool okAfterOneTick = true;
};

// Declares the AIM DPM compliance dialog and answers it: ticks both boxes and agrees, or
// cancels.
void answerCompliance(Stage& stage, bool agree,
                      std::shared_ptr<Compliance> seen = std::make_shared<Compliance>()) {
    stage.dialogs().expect(QStringLiteral("dlgAIMDPMCompliance"), [agree, seen](QDialog& dialog) {
        seen->shown = true;
        auto* frame = dialog.findChild<QWidget*>(QStringLiteral("fraLightChoice"));
        seen->lightFrameShown = frame && frame->isVisibleTo(&dialog);
        auto* ok = dialog.findChild<QPushButton*>(QStringLiteral("cmdOK"));
        QVERIFY(ok);
        seen->okBeforeTicks = ok->isEnabled();
        if (!agree) {
            dialog.findChild<QPushButton*>(QStringLiteral("cmdCancel"))->click();
            return;
        }
        dialog.findChild<QCheckBox*>(QStringLiteral("chkAIMDPMLight"))->click();
        seen->okAfterOneTick = ok->isEnabled();
        dialog.findChild<QCheckBox*>(QStringLiteral("chkLXM2"))->click();
        ok->click();
    });
}

ControlContract check(const QString& name, const QString& parameter) {
    ControlContract c;
    c.name = name;
    c.kind = Kind::Check;
    c.parameter = parameter;
    c.values = {{"0", "off"}, {"1", "on"}};
    return c;
}

// The barcode list: shown is the checked items' texts, joined by ", ".
ControlContract barcodesRow() {
    ControlContract c;
    c.name = QStringLiteral("Barcodes");
    c.kind = Kind::Custom;
    c.parameter = QStringLiteral("BARCODE ENABLE");
    c.values = {{"0x1", "Code 128"},
                {"0x20001", "Code 128, QR Code/Micro QR Code"},
                {"0x2A", "Code 39, Code 2 of 5, UPC-A / EAN"},
                {"0x800", "Pharma"},
                {"0x1C000", "GS1 DataBar Expanded, GS1 DataBar Stacked, GS1 DataBar Composite"},
                {"0x0", ""}};
    c.set = [](Stage& stage, const Value& v) {
        QListWidget* list = barcodeList(stage);
        QVERIFY(list);
        const QStringList wanted = v.shown.split(QStringLiteral(", "), Qt::SkipEmptyParts);
        for (int i = 0; i < list->count(); ++i) {
            QListWidgetItem* item = list->item(i);
            const Qt::CheckState state = wanted.contains(item->text()) ? Qt::Checked : Qt::Unchecked;
            if (item->checkState() != state)
                item->setCheckState(state);
        }
    };
    c.read = [](Stage& stage) {
        QStringList checked;
        if (QListWidget* list = barcodeList(stage))
            for (int i = 0; i < list->count(); ++i)
                if (list->item(i)->checkState() == Qt::Checked)
                    checked << list->item(i)->text();
        return checked.join(QStringLiteral(", "));
    };
    return c;
}

ControlContract verificationRow() {
    ControlContract c;
    c.name = QStringLiteral("frmVerification");
    c.kind = Kind::Radios;
    c.parameter = QStringLiteral("VERIFY");
    c.fromLevel = 4;
    c.values = {{"NONE", "Verification0"},   {"AIM", "Verification1"}, {"ANSI", "Verification2"},
                {"IAQG", "Verification3"},   {"DPM", "Verification4"}, {"ISO", "Verification5"},
                {"AIMDPM", "Verification6"}, {"NONE", "Verification0"}};
    for (int i = 0; i < 7; ++i)
        c.followers << QStringLiteral("Verification%1").arg(i);
    // Grading standards clear the reader's image preprocessing; AIM DPM needs its light on.
    c.alsoWrites = {"MORPH:0", "NEGATIVE:0", "ILLUM:0"};
    c.boxes = [](Stage& stage, const Value& v) {
        if (v.shown == QLatin1String("Verification6"))
            answerCompliance(stage, true);
    };
    return c;
}

ControlContract dpmCheckRow(int row) {
    ControlContract c =
        check(QStringLiteral("VerenableCheck%1").arg(row), QStringLiteral("VERENABLE ") + kDpmKeys[row]);
    c.values = {{"Y", "on"}, {"N", "off"}, {"Y", "on"}};
    c.fromLevel = 4;
    c.needs = {QStringLiteral("VERIFY DPM")};
    return c;
}

ControlContract box(const QString& name, const QString& parameter, const QList<Value>& values, int channels) {
    ControlContract c;
    c.name = name;
    c.kind = Kind::Box;
    c.parameter = parameter;
    c.values = values;
    c.lightChannels = channels;
    c.fromLevel = 8;
    // The lights' boxes and options are not part of the dialog's control rule.
    c.needsControl = false;
    return c;
}

ControlContract lightOptions(int channels) {
    ControlContract c;
    c.name = QStringLiteral("XLight%1Frame").arg(channels);
    c.kind = Kind::Radios;
    c.parameter = QStringLiteral("LIGHT_CTL");
    c.lightChannels = channels;
    c.fromLevel = 8;
    c.needsControl = false;
    const QString prefix = QStringLiteral("Light%1Option").arg(channels);
    if (channels == 1) {
        c.values = {{"OFF", prefix + "0"}, {"90", prefix + "1"}, {"OFF", prefix + "0"}};
    } else {
        c.values = {{"OFF", prefix + "0"}};
        for (int i = 10; i >= 1; --i)
            c.values << Value{kLights[i], prefix + QString::number(i)};
        c.values << Value{"OFF", prefix + "0"};
    }
    for (int i = 0; i < (channels == 1 ? 2 : 11); ++i)
        c.followers << prefix + QString::number(i);
    return c;
}

QWidget* openAt(Stage& stage, const QString& version, int channels = 0, const QStringList& commands = {}) {
    stage.end();
    stage.begin();
    stage.start(version, true, channels);
    for (const QString& command : commands)
        stage.send(command);
    return stage.open(QStringLiteral("Symbology"));
}

QString word(Stage& stage, const QString& parameter, int field = 0) {
    return stage.fields(parameter).value(field);
}

// The writes among the lines a reader received: the keyword followed by at least one value.
QStringList writes(const testing::Received& received, const QString& keyword) {
    const int words = int(keyword.count(QLatin1Char(' '))) + 1;
    QStringList out;
    for (const QString& line : received.lines())
        if (line.startsWith(keyword + QLatin1Char(' ')) && line.count(QLatin1Char(' ')) >= words)
            out << line;
    return out;
}

// Words of the broadcasts a station saw.
QStringList words(const QSignalSpy& spy) {
    QStringList out;
    for (const auto& b : spy)
        out << b.at(1).toString();
    return out;
}

void textsAndFrames(Stage& stage) {
    QWidget* w = openAt(stage, QStringLiteral("3.0.2.1"));
    QVERIFY(w);
    QVERIFY(w->windowTitle().endsWith(QStringLiteral("- Symbology / Verification")));
    QCOMPARE(find<QGroupBox>(stage, "frmBarcodes")->title(), QStringLiteral("Symbology"));
    QCOMPARE(caption(find<QCheckBox>(stage, "EnableMatrix")), QStringLiteral("Enable Data Matrix"));
    QCOMPARE(caption(find<QCheckBox>(stage, "EnableBarcodes")), QStringLiteral("Enable Barcodes"));
    QListWidget* list = barcodeList(stage);
    QStringList items;
    for (int i = 0; i < list->count(); ++i)
        items << list->item(i)->text();
    QCOMPARE(items, kBarcodes);
    QCOMPARE(find<QGroupBox>(stage, "frmVerification")->title(), QStringLiteral("Verification"));
    for (int i = 0; i < 7; ++i)
        QCOMPARE(caption(find<QRadioButton>(stage, QStringLiteral("Verification%1").arg(i))),
                 kStandardCaptions[i]);
    compareCaptions(stage, {{"QualityRangeFrame", "Global Quality Range"},
                            {"GoodLabel", "Good"},
                            {"FairLabel", "Fair"},
                            {"PoorLabel", "Poor"},
                            {"DPMFrame", "Fine Tune Quality Range"}});
    for (int r = 0; r < 10; ++r)
        QCOMPARE(caption(find<QCheckBox>(stage, QStringLiteral("VerenableCheck%1").arg(r))), kDpmCaptions[r]);
    QCOMPARE(find<QGroupBox>(stage, "XLight0Frame")->title(), QStringLiteral("Lighting"));
    QCOMPARE(caption(find<QPushButton>(stage, "CalibrateButton")), QStringLiteral("Calibrate"));
    QVERIFY(find<QPushButton>(stage, "CalibrateButton")->isVisibleTo(w));
    QCOMPARE(find<QLabel>(stage, "lblCalibrateStatus")->text(), QStringLiteral("Not Calibrated"));
    auto* s = qobject_cast<settings::SettingsWindow*>(w);
    QVERIFY(!s->applyButton()->isEnabled());
    QVERIFY(!s->okButton()->isEnabled());

    // The frames follow the standard; only the DPM one shows its ten rows.
    QVERIFY(find<QGroupBox>(stage, "QualityRangeFrame")->isVisibleTo(w));
    QVERIFY(!find<QGroupBox>(stage, "DPMFrame")->isVisibleTo(w));
    QVERIFY(find<QGroupBox>(stage, "XLight0Frame")->isVisibleTo(w));
    QVERIFY(!find<QGroupBox>(stage, "XLight1Frame")->isVisibleTo(w));
    QVERIFY(!find<QGroupBox>(stage, "XLight10Frame")->isVisibleTo(w));
    pick(stage, "Verification4");
    QVERIFY(find<QGroupBox>(stage, "DPMFrame")->isVisibleTo(w));
    QVERIFY(find<QGroupBox>(stage, "QualityRangeFrame")->isVisibleTo(w));
    QVERIFY(s->applyButton()->isEnabled());
    pick(stage, "Verification5");
    QVERIFY(!find<QGroupBox>(stage, "DPMFrame")->isVisibleTo(w));

    // The grade buttons and the row checks follow programming control; the standard
    // picked above was not sent, and the window says so.
    stage.unexpected()->expectMessage(
        QStringLiteral("Velmarrow"),
        QStringLiteral("Programming control of the camera was lost. These changes were not sent: VERIFY."),
        app::PromptIcon::Exclamation, app::PromptButtons::Ok, app::PromptAnswer::Ok);
    stage.releaseControl();
    QTRY_VERIFY(!find<QPushButton>(stage, "GradeCommand0")->isEnabled());
    for (int i = 0; i < 55; ++i)
        QVERIFY2(!find<QPushButton>(stage, QStringLiteral("GradeCommand%1").arg(i))->isEnabled(),
                 qPrintable(QString::number(i)));
    stage.regainControl();
    QTRY_VERIFY(find<QPushButton>(stage, "GradeCommand54")->isEnabled());
    for (int i = 0; i < 55; ++i)
        QVERIFY(find<QPushButton>(stage, QStringLiteral("GradeCommand%1").arg(i))->isEnabled());
}

// The ten ranges of the global row, each shown in the colours of B, C and D.
void gradeColours(Stage& stage) {
    const QList<QPair<QString, QString>> ranges = {
        {"A A", "GPPPP"}, {"A B", "GFPPP"}, {"A C", "GFFPP"}, {"A D", "GFFFP"}, {"B B", "GGPPP"},
        {"B C", "GGFPP"}, {"B D", "GGFFP"}, {"C C", "GGGPP"}, {"C D", "GGGFP"}, {"D D", "GGGGP"}};
    openAt(stage, QStringLiteral("3.0.2.1"));
    for (const auto& [range, colours] : ranges) {
        stage.send(QStringLiteral("VERSTATUS ") + range);
        QVERIFY(stage.open(QStringLiteral("Symbology")));
        QCOMPARE(rowColours(stage, 0), colours);
    }
}

// Clicks keep a row ordered between its neighbours; Apply writes the row's range.
void gradeClicks(Stage& stage) {
    QWidget* w = openAt(stage, QStringLiteral("3.0.2.1"), 0, {QStringLiteral("VERSTATUS A A")});
    // Clicks a grade of the global row; then, when given, the row shows these colours.
    auto grade = [&](int index, const char* colours = nullptr) {
        pick(stage, QStringLiteral("GradeCommand%1").arg(index));
        if (colours)
            QCOMPARE(rowColours(stage, 0), QString::fromLatin1(colours));
    };
    // B between a Good A and a Poor C: Good, Fair, Poor, Good ...
    grade(1, "GGPPP");
    grade(1, "GFPPP");
    grade(1, "GPPPP");
    grade(1);
    grade(1, "GFPPP");
    // C between a Fair B and a Poor D alternates Fair and Poor.
    grade(2, "GFFPP");
    grade(2, "GFPPP");
    grade(2);
    // D between Fair and Poor neighbours turns Fair.
    grade(3, "GFFFP");
    // A stays Good and F stays Poor.
    grade(0);
    grade(4, "GFFFP");
    testing::Received received(stage.reader());
    stage.apply();
    QTRY_COMPARE(stage.fields(QStringLiteral("VERSTATUS")), QStringList({"A", "D"}));
    QCOMPARE(writes(received, QStringLiteral("VERSTATUS")), QStringList({"VERSTATUS A D"}));
    // B between Good and Fair alternates those two.
    grade(1, "GGFFP");
    stage.apply();
    QTRY_COMPARE(stage.fields(QStringLiteral("VERSTATUS")), QStringList({"B", "D"}));
    // Two Poor neighbours keep D Poor.
    stage.send(QStringLiteral("VERSTATUS B B"));
    QVERIFY(stage.open(QStringLiteral("Symbology")));
    pick(stage, "GradeCommand3");
    QCOMPARE(rowColours(stage, 0), QStringLiteral("GGPPP"));
    Q_UNUSED(w);
}

// "DPM Verification": the ten rows shown from the reader and written back with the standard.
void dpmApply(Stage& stage) {
    QWidget* w = openAt(stage, QStringLiteral("3.0.2.1"), 0,
                        {QStringLiteral("VERENABLE CS N B C"), QStringLiteral("VERENABLE SC Y A B"),
                         QStringLiteral("VERENABLE AD Y D D"), QStringLiteral("MORPH ERODE 2"),
                         QStringLiteral("NEGATIVE ON")});
    QVERIFY(w);
    // Another standard leaves the preprocessing alone.
    QSignalSpy first(&stage.station(), &link::Connection::OnBroadcastMessage);
    pick(stage, "EnableBarcodes");
    stage.apply();
    QTRY_COMPARE(words(first), kAfterApply);
    QCOMPARE(word(stage, "NUMBC"), QStringLiteral("1"));
    QCOMPARE(word(stage, "MORPH"), QStringLiteral("ERODE"));

    pick(stage, "Verification4");
    QTRY_VERIFY(find<QGroupBox>(stage, "DPMFrame")->isVisibleTo(w));
    QVERIFY(!find<QCheckBox>(stage, "VerenableCheck0")->isChecked());
    QVERIFY(find<QCheckBox>(stage, "VerenableCheck1")->isChecked());
    QCOMPARE(rowColours(stage, 1), QStringLiteral("GGFPP"));
    QCOMPARE(rowColours(stage, 6), QStringLiteral("GFPPP"));
    QCOMPARE(rowColours(stage, 10), QStringLiteral("GGGGP"));
    pick(stage, "GradeCommand8");   // Cell Size D: Poor to Fair
    pick(stage, "VerenableCheck1"); // Center Offset off
    testing::Received received(stage.reader());
    QSignalSpy broadcasts(&stage.station(), &link::Connection::OnBroadcastMessage);
    stage.apply();
    QTRY_COMPARE(word(stage, "VERIFY"), QStringLiteral("DPM"));
    QCOMPARE(stage.fields(QStringLiteral("VERENABLE CS")), QStringList({"N", "B", "D"}));
    QCOMPARE(stage.fields(QStringLiteral("VERENABLE CO")), QStringList({"N", "B", "C"}));
    QCOMPARE(stage.fields(QStringLiteral("VERENABLE SC")), QStringList({"Y", "A", "B"}));
    QCOMPARE(stage.fields(QStringLiteral("VERENABLE AD")), QStringList({"Y", "D", "D"}));
    QCOMPARE(stage.fields(QStringLiteral("VERENABLE PG")), QStringList({"Y", "B", "C"}));
    QCOMPARE(word(stage, "MORPH"), QStringLiteral("NONE"));
    QCOMPARE(word(stage, "NEGATIVE"), QStringLiteral("OFF"));
    QCOMPARE(writes(received, QStringLiteral("VERENABLE")),
             QStringList({"VERENABLE CS N B D", "VERENABLE CO N B C"}));
    QTRY_COMPARE(words(broadcasts), kAfterApply);

    // A reload shows what went out.
    QVERIFY(stage.open(QStringLiteral("Symbology")));
    QVERIFY(find<QRadioButton>(stage, "Verification4")->isChecked());
    QCOMPARE(rowColours(stage, 1), QStringLiteral("GGFFP"));
    QVERIFY(!find<QCheckBox>(stage, "VerenableCheck1")->isChecked());
}

// "DPM Verification" chosen in a dialog that opened on another standard: the ten rows show
// what the reader holds and none of them is written unless the operator changes it. The
// checks the dialog showed before (from an earlier DPM load) are not what goes out, and a row
// the reader does not answer stays greyed and unwritten.
void dpmChosenLater(Stage& stage) {
    QWidget* w = openAt(stage, QStringLiteral("3.0.2.1"), 0, {QStringLiteral("VERIFY DPM")});
    QVERIFY(w);
    for (int r = 0; r < 10; ++r)
        QVERIFY2(find<QCheckBox>(stage, QStringLiteral("VerenableCheck%1").arg(r))->isChecked(),
                 qPrintable(kDpmKeys[r]));

    // Another station puts the reader on AIM and clears every other row; the dialog reloads.
    stage.send(QStringLiteral("VERIFY AIM"));
    for (int r = 0; r < 10; r += 2)
        stage.send(QStringLiteral("VERENABLE %1 N B C").arg(kDpmKeys[r]));
    link::ReaderConnection other;
    other.BroadcastMessage(QStringLiteral("BasicTune"), QStringLiteral("UPDATEBC"), QString());
    QTRY_VERIFY(find<QRadioButton>(stage, "Verification1")->isChecked());
    QVERIFY(!find<QGroupBox>(stage, "DPMFrame")->isVisibleTo(w));

    pick(stage, "Verification4");
    // From here on (the rows were read as DPM was chosen), a VERENABLE line is a write.
    testing::Received received(stage.reader());
    QVERIFY(find<QGroupBox>(stage, "DPMFrame")->isVisibleTo(w));
    for (int r = 0; r < 10; ++r)
        QVERIFY2(find<QCheckBox>(stage, QStringLiteral("VerenableCheck%1").arg(r))->isChecked() ==
                     (r % 2 == 1),
                 qPrintable(kDpmKeys[r]));
    stage.apply();
    QTRY_COMPARE(word(stage, "VERIFY"), QStringLiteral("DPM"));
    QCOMPARE(writes(received, QStringLiteral("VERENABLE")), QStringList());
    for (int r = 0; r < 10; ++r)
        QCOMPARE(word(stage, QStringLiteral("VERENABLE ") + kDpmKeys[r]),
                 r % 2 == 1 ? QStringLiteral("Y") : QStringLiteral("N"));
    // The row the operator changes is the one written.
    pick(stage, "VerenableCheck0");
    stage.apply();
    QTRY_COMPARE(writes(received, QStringLiteral("VERENABLE")), QStringList{"VERENABLE CS Y B C"});

    // Back on AIM, the reader's first row changes and does not answer when DPM is chosen again:
    // its check keeps what it showed, greyed, and is not written.
    stage.send(QStringLiteral("VERIFY AIM"));
    stage.send(QStringLiteral("VERENABLE CS N B C"));
    other.BroadcastMessage(QStringLiteral("BasicTune"), QStringLiteral("UPDATEBC"), QString());
    QTRY_VERIFY(find<QRadioButton>(stage, "Verification1")->isChecked());
    stage.reader().setNextReplyFault(sim::ReplyFault::Refused, 0, QStringLiteral("VERENABLE"));
    pick(stage, "Verification4");
    received.clear();
    QVERIFY(!find<QCheckBox>(stage, "VerenableCheck0")->isEnabled());
    QVERIFY(find<QCheckBox>(stage, "VerenableCheck1")->isEnabled());
    stage.apply();
    QTRY_COMPARE(word(stage, "VERIFY"), QStringLiteral("DPM"));
    QCOMPARE(writes(received, QStringLiteral("VERENABLE")), QStringList());
    QCOMPARE(stage.fields(QStringLiteral("VERENABLE CS")), QStringList({"N", "B", "C"}));
}

// The program-wide verification standard is the reader's: a standard chosen in the dialog
// becomes it only once the reader took it, so a refused apply or Cancel leaves it as it was.
void standardProgramWide(Stage& stage) {
    QVERIFY(openAt(stage, QStringLiteral("3.0.2.1"), 0, {QStringLiteral("VERIFY AIM")}));
    QCOMPARE(app::verificationStandard(), 1);
    pick(stage, "Verification5");
    QCOMPARE(app::verificationStandard(), 1);
    {
        ShownBoxes boxes;
        stage.reader().setNextReplyFault(sim::ReplyFault::Refused, 0, QStringLiteral("VERIFY"));
        stage.apply();
        QCOMPARE(boxes.shown().size(), 1);
        QVERIFY2(boxes.shown().first().text.startsWith(
                     QStringLiteral("The camera did not accept these settings:")),
                 qPrintable(boxes.describe()));
    }
    QCOMPARE(word(stage, "VERIFY"), QStringLiteral("AIM"));
    QCOMPARE(app::verificationStandard(), 1);
    stage.press(QStringLiteral("Cancel"));
    QCOMPARE(app::verificationStandard(), 1);

    // Taken by the reader, it is the program's at once; chosen and cancelled, it is not.
    QVERIFY(stage.open(QStringLiteral("Symbology")));
    pick(stage, "Verification5");
    stage.apply();
    QTRY_COMPARE(word(stage, "VERIFY"), QStringLiteral("ISO"));
    QCOMPARE(app::verificationStandard(), 5);
    pick(stage, "Verification2");
    QCOMPARE(app::verificationStandard(), 5);
    stage.press(QStringLiteral("Cancel"));
    QCOMPARE(app::verificationStandard(), 5);
    QCOMPARE(word(stage, "VERIFY"), QStringLiteral("ISO"));
}

// AIM DPM asks the operator for the set-up first; a refusal changes nothing.
void aimDpm(Stage& stage) {
    QWidget* w = openAt(stage, QStringLiteral("3.0.2.1"), 0,
                        {QStringLiteral("VERIFY AIM"), QStringLiteral("ILLUM OFF")});
    auto* s = qobject_cast<settings::SettingsWindow*>(w);
    auto seen = std::make_shared<Compliance>();
    answerCompliance(stage, false, seen);
    pick(stage, "Verification6");
    QTRY_VERIFY(seen->shown);
    QVERIFY(!seen->lightFrameShown); // fewer than ten light channels
    QVERIFY(!seen->okBeforeTicks);
    QTRY_VERIFY(find<QRadioButton>(stage, "Verification1")->isChecked());
    QVERIFY(!find<QRadioButton>(stage, "Verification6")->isChecked());
    QVERIFY(!s->applyButton()->isEnabled());

    seen = std::make_shared<Compliance>();
    answerCompliance(stage, true, seen);
    pick(stage, "Verification6");
    QTRY_VERIFY(seen->shown);
    QVERIFY(!seen->okAfterOneTick);
    QTRY_VERIFY(find<QRadioButton>(stage, "Verification6")->isChecked());
    stage.apply();
    QTRY_COMPARE(word(stage, "VERIFY"), QStringLiteral("AIMDPM"));
    QCOMPARE(word(stage, "ILLUM"), QStringLiteral("ON"));

    QVERIFY(stage.open(QStringLiteral("Symbology")));
    QVERIFY(find<QRadioButton>(stage, "Verification6")->isChecked());

    // With ten light channels the standard is taken without the dialog.
    openAt(stage, QStringLiteral("3.0.2.1"), 10);
    pick(stage, "Verification6");
    QVERIFY(find<QRadioButton>(stage, "Verification6")->isChecked());
    stage.apply();
    QTRY_COMPARE(word(stage, "VERIFY"), QStringLiteral("AIMDPM"));
}

// The reader's standard announced after every load.
void verificationBroadcasts(Stage& stage) {
    openAt(stage, QStringLiteral("3.0.2.1"));
    stage.close();
    for (const QString& standard : {QStringLiteral("NONE"), QStringLiteral("ISO")}) {
        stage.send(QStringLiteral("VERIFY ") + standard);
        QSignalSpy broadcasts(&stage.station(), &link::Connection::OnBroadcastMessage);
        QVERIFY(stage.open(QStringLiteral("Symbology")));
        QTRY_VERIFY(!broadcasts.isEmpty());
        QCOMPARE(broadcasts.first().at(0).toString(), QStringLiteral("Symbology"));
        QCOMPARE(broadcasts.first().at(1).toString(), standard == QLatin1String("NONE")
                                                          ? QStringLiteral("VERIFICATION_OFF")
                                                          : QStringLiteral("VERIFICATION_ON"));
    }
    // Another window's UPDATEBC reloads the dialog.
    stage.send(QStringLiteral("NUMBC 1"));
    link::ReaderConnection other;
    other.BroadcastMessage(QStringLiteral("BasicTune"), QStringLiteral("UPDATEBC"), QString());
    QTRY_VERIFY(find<QCheckBox>(stage, "EnableBarcodes")->isChecked());
}

// Older readers spell DPM and AIM DPM their own way; the dialog shows and writes theirs.
void olderSpellings(Stage& stage) {
    struct Case {
        QString version;
        QString option6;
        QString dpm;
        QString aimDpm;
        QStringList broadcasts;
    };
    const QList<Case> cases = {
        {"2.1.0.0", "ISO-AIM E Verification", "KVTA", "ISOAIM", {"UPDATEBC"}},
        {"2.2.0.0", "ISO-AIM E Verification", "DPM", "ISOAIM", {"UPDATEBC"}},
        {"2.3.0.0", "AIM DPM-1-2006", "DPM", "AIMDPM", {"UPDATEBC"}},
        {"2.4.0.0", "AIM DPM-1-2006", "DPM", "AIMDPM", kAfterApply},
    };
    for (const Case& c : cases) {
        openAt(stage, c.version, 0, {QStringLiteral("VERIFY ") + c.dpm});
        QVERIFY2(find<QRadioButton>(stage, "Verification4")->isChecked(), qPrintable(c.version));
        QCOMPARE(caption(find<QRadioButton>(stage, "Verification6")), c.option6);
        stage.close();
        stage.send(QStringLiteral("VERIFY NONE"));
        QVERIFY(stage.open(QStringLiteral("Symbology")));
        pick(stage, "Verification4");
        testing::Received received(stage.reader());
        QSignalSpy broadcasts(&stage.station(), &link::Connection::OnBroadcastMessage);
        stage.apply();
        QTRY_COMPARE(writes(received, QStringLiteral("VERIFY")),
                     QStringList{QStringLiteral("VERIFY ") + c.dpm});
        QTRY_COMPARE(words(broadcasts), c.broadcasts);
        if (c.version != QLatin1String("2.4.0.0")) {
            // Below the level that asks, the standard is taken at once.
            pick(stage, "Verification6");
            received.clear();
            stage.apply();
            QTRY_COMPARE(writes(received, QStringLiteral("VERIFY")),
                         QStringList{QStringLiteral("VERIFY ") + c.aimDpm});
        }
    }
    // A reader that cannot grade offers no verification and only the first twelve barcodes.
    QWidget* w = openAt(stage, QStringLiteral("1.2.0.0"));
    QCOMPARE(barcodeList(stage)->count(), 12);
    QVERIFY(!find<QGroupBox>(stage, "frmVerification")->isVisibleTo(w));
    QVERIFY(!find<QGroupBox>(stage, "QualityRangeFrame")->isVisibleTo(w));
    QVERIFY(!find<QPushButton>(stage, "CalibrateButton")->isVisibleTo(w));
    // From the first level that grades, all eighteen.
    QVERIFY(openAt(stage, sim::softwareVersionForLevel(4)));
    QCOMPARE(barcodeList(stage)->count(), int(kBarcodes.size()));
}

// Light boxes clean what is typed; a reader without channels gets its light switched off.
void lights(Stage& stage) {
    openAt(stage, QStringLiteral("3.0.2.1"));
    stage.close();
    stage.send(QStringLiteral("LIGHT_CTL 90"));
    testing::Received received(stage.reader());
    QVERIFY(stage.open(QStringLiteral("Symbology")));
    QTRY_COMPARE(writes(received, QStringLiteral("LIGHT_CTL")), QStringList{"LIGHT_CTL OFF"});

    auto* wavelength = find<QLineEdit>(stage, "Wavelength0");
    testing::typeInto(wavelength, QStringLiteral("100"));
    QCOMPARE(wavelength->text(), QStringLiteral("280"));
    testing::typeInto(wavelength, QStringLiteral("99999"));
    QCOMPARE(wavelength->text(), QStringLiteral("880"));
    stage.apply();
    QTRY_COMPARE(word(stage, "WAVELENGTH"), QStringLiteral("880"));
    auto* alias = find<QLineEdit>(stage, "AliasName0");
    testing::typeAndLeave(alias, QStringLiteral("ab c-1"));
    QCOMPARE(alias->text(), QStringLiteral("ABC-1"));
    stage.apply();
    QTRY_COMPARE(word(stage, "XLIGHTCHANNEL_0_ALIASNAME"), QStringLiteral("ABC-1"));
    testing::typeAndLeave(alias, QString());
    QCOMPARE(alias->text(), QStringLiteral("INTERNAL"));

    // One channel: the reader's own illumination goes off on every load; an empty name is "90".
    openAt(stage, QStringLiteral("3.0.2.1"), 1);
    stage.close();
    stage.send(QStringLiteral("ILLUM ON"));
    testing::Received one(stage.reader());
    QWidget* w = stage.open(QStringLiteral("Symbology"));
    QTRY_COMPARE(writes(one, QStringLiteral("ILLUM")), QStringList{"ILLUM OFF"});
    QVERIFY(find<QGroupBox>(stage, "XLight1Frame")->isVisibleTo(w));
    QCOMPARE(caption(find<QRadioButton>(stage, "Light1Option0")), QStringLiteral("OFF"));
    QCOMPARE(caption(find<QRadioButton>(stage, "Light1Option1")), QStringLiteral("ON"));
    auto* alias1 = find<QLineEdit>(stage, "AliasName1");
    testing::typeAndLeave(alias1, QString());
    QCOMPARE(alias1->text(), QStringLiteral("90"));

    // Ten channels: the options carry the keywords, the dome light's none.
    w = openAt(stage, QStringLiteral("3.0.2.1"), 10);
    QVERIFY(find<QGroupBox>(stage, "XLight10Frame")->isVisibleTo(w));
    for (int i = 0; i <= 10; ++i)
        QCOMPARE(caption(find<QRadioButton>(stage, QStringLiteral("Light10Option%1").arg(i))),
                 i == 2 ? QString() : kLights[i]);
    // The lights are set up without programming control; only Apply needs it.
    stage.releaseControl();
    QTRY_VERIFY(!find<QRadioButton>(stage, "Verification0")->isEnabled());
    for (int i = 0; i <= 10; ++i)
        QVERIFY(find<QRadioButton>(stage, QStringLiteral("Light10Option%1").arg(i))->isEnabled());
    stage.regainControl();
}

// A parameter the reader does not answer when the dialog loads: its controls keep what they
// showed, greyed, the dialog names it, and an apply sends the other changes without it; the
// next load shows it again.
void unanswered(Stage& stage) {
    QWidget* w = openAt(stage, QStringLiteral("3.0.2.1"), 0, {QStringLiteral("VERSTATUS A D")});
    QVERIFY(w);
    QCOMPARE(rowColours(stage, 0), QStringLiteral("GFFFP"));
    stage.send(QStringLiteral("VERSTATUS C C"));
    stage.reader().setNextReplyFault(sim::ReplyFault::Refused, 0, QStringLiteral("VERSTATUS"));
    link::ReaderConnection other;
    other.BroadcastMessage(QStringLiteral("BasicTune"), QStringLiteral("UPDATEBC"), QString());
    auto* note = find<QLabel>(stage, QStringLiteral("NotReadNote"));
    QVERIFY(note);
    QTRY_VERIFY(note->isVisible());
    QVERIFY2(note->text().contains(QStringLiteral("VERSTATUS")), qPrintable(note->text()));
    QCOMPARE(rowColours(stage, 0), QStringLiteral("GFFFP"));
    for (int i = 0; i < 5; ++i)
        QVERIFY(!find<QPushButton>(stage, QStringLiteral("GradeCommand%1").arg(i))->isEnabled());
    QVERIFY(find<QCheckBox>(stage, QStringLiteral("EnableBarcodes"))->isEnabled());

    testing::Received received(stage.reader());
    pick(stage, "EnableBarcodes");
    stage.apply();
    QTRY_COMPARE(word(stage, "NUMBC"), QStringLiteral("1"));
    QCOMPARE(writes(received, QStringLiteral("VERSTATUS")), QStringList());
    QCOMPARE(stage.fields(QStringLiteral("VERSTATUS")), QStringList({"C", "C"}));

    other.BroadcastMessage(QStringLiteral("BasicTune"), QStringLiteral("UPDATEBC"), QString());
    QTRY_COMPARE(rowColours(stage, 0), QStringLiteral("GGGPP"));
    QVERIFY(find<QPushButton>(stage, QStringLiteral("GradeCommand1"))->isEnabled());
    QVERIFY(!note->isVisible());
}

// A calibrated reader's stored text is shown without its quotes, here and program-wide.
void calibratedText(Stage& stage) {
    stage.start(QStringLiteral("3.0.2.1"));
    stage.send(QStringLiteral("TRIG T"));
    stage.send(QStringLiteral("LEARN CALIBRATE"));
    stage.reader().cycles().runOnce();
    QTRY_COMPARE_WITH_TIMEOUT(stage.station().Query(QStringLiteral("CALIBRATED")),
                              QStringLiteral("CALIBRATED TRUE"), 5000);
    stage.send(QStringLiteral("CALIBRATED_STRING \"Lamp changed\""));
    QVERIFY(stage.open(QStringLiteral("Symbology")));
    QCOMPARE(find<QLabel>(stage, "lblCalibrateStatus")->text(), QStringLiteral("Calibrated : Lamp changed"));
    QCOMPARE(app::calibrationText(), QStringLiteral("Calibrated : Lamp changed"));
}

// Calibrate sets the reader up for a calibration before the calibration dialog opens (a
// trigger, one Data Matrix read, graded), and gives back what it changed once it closes. (The
// dialog runs its own live view meanwhile, so the trigger is written again in between.)
void calibrateSetsUpAndRestores(Stage& stage) {
    QVERIFY(openAt(stage, QStringLiteral("3.0.2.1")));
    for (const char* line : {"TRIG C", "NUMBC 1", "NUMDM 0", "VERIFY NONE"})
        stage.send(QLatin1String(line));
    const QStringList names = {"TRIG", "NUMBC", "NUMDM", "VERIFY"};
    const auto current = [&] {
        QStringList values;
        for (const QString& name : names)
            values << name + " " + stage.fields(name).join(' ');
        return values;
    };
    testing::Received received(stage.reader());
    QStringList before;
    stage.dialogs().expect(QStringLiteral("dlgCalibrate"), [&](QDialog& dialog) {
        for (const QString& line : received.lines())
            if (line.contains(' ') && !line.startsWith(QLatin1String("XLIGHTCONTRASTCAL")))
                before << line;
        dialog.reject();
    });
    stage.press(QStringLiteral("CalibrateButton"));
    QCOMPARE(before.mid(0, 4), QStringList({"TRIG T", "NUMBC 0", "NUMDM 1", "VERIFY AIM"}));
    QCOMPARE(current(), QStringList({"TRIG C", "NUMBC 1", "NUMDM 0", "VERIFY NONE"}));
}

} // namespace

WindowContract symbologyContract() {
    WindowContract w;
    w.window = QStringLiteral("Symbology");
    w.lowVersion = QStringLiteral("1.2.0.0");
    w.broadcasts = kAfterApply;
    w.controls << check(QStringLiteral("EnableMatrix"), QStringLiteral("NUMDM"))
               << check(QStringLiteral("EnableBarcodes"), QStringLiteral("NUMBC")) << barcodesRow()
               << verificationRow();
    for (int r = 0; r < 10; ++r)
        w.controls << dpmCheckRow(r);
    w.controls << box(QStringLiteral("AliasName0"), QStringLiteral("XLIGHTCHANNEL_0_ALIASNAME"),
                      {{"INTERNAL", "INTERNAL"}, {"RING7", "RING7"}, {"DOME2", "DOME2"}}, 0)
               << box(QStringLiteral("Wavelength0"), QStringLiteral("WAVELENGTH"),
                      {{"625", "625"}, {"280", "280"}, {"880", "880"}, {"470", "470"}}, 0)
               << box(QStringLiteral("AliasName1"), QStringLiteral("XLIGHTCHANNEL_1_ALIASNAME"),
                      {{"90", "90"}, {"LOWANGLE", "LOWANGLE"}, {"BAR5", "BAR5"}}, 1)
               << box(QStringLiteral("Wavelength1"), QStringLiteral("WAVELENGTH"),
                      {{"625", "625"}, {"850", "850"}, {"300", "300"}}, 1)
               << lightOptions(1) << lightOptions(10);
    w.checks = {textsAndFrames,
                gradeColours,
                gradeClicks,
                dpmApply,
                dpmChosenLater,
                standardProgramWide,
                aimDpm,
                verificationBroadcasts,
                olderSpellings,
                lights,
                unanswered,
                calibratedText,
                calibrateSetsUpAndRestores};
    return w;
}

} // namespace vm::contracts
