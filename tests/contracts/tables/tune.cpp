// Advanced tuning: the decoder's parameters as one grid per group, each value chosen in the
// list over its cell or typed into the box over it, and sent at once; the toolbar's learn.
#include "app/windowregistry.h"
#include "contracts/contract.h"
#include "link/record.h"
#include "sim/catalogue.h"

#include <QAction>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QTableWidget>
#include <QToolBar>
#include <QToolButton>

#include <algorithm>

namespace vm::contracts {

namespace {

const QStringList kGroups = {"Data Matrix Parameters", "Barcode Parameters", "Expert Settings",
                             "Data Matrix FineTune",   "BC412 Parameters",   "QR Code Parameters",
                             "Code39 Parameters",      "I2of5 Parameters",   "UPC Parameters"};

QStringList span(int from, int to, QStringList before = {}) {
    for (int i = from; i <= to; ++i)
        before << QString::number(i);
    return before;
}

// Every row of a level-10 reader, per group in grid order: label, reader parameter and field,
// and the list's entries (empty: a text box; "*" the barcode summary).
struct Row {
    int group;
    QString label;
    QString parameter;
    int field;
    QStringList items;
};

QList<Row> rowsAtLevel10() {
    const QStringList offOn = {"OFF", "ON"};
    const QStringList pol = {"AUTO", "DL", "LD"};
    const QStringList a = {"AUTO"};
    return {
        {0, "Num Datamatrix", "NUMDM", 0, span(0, 1)},
        {0, "Num Columns", "COLS", 0, span(8, 144, a)},
        {0, "Num Rows", "ROWS", 0, span(8, 144, a)},
        {0, "ECC Level", "ECC", 0, {"AUTO", "0", "50", "80", "100", "140", "200", "SPEC"}},
        {0, "Polarity", "POL", 0, pol},
        {0, "Image Style", "STYLE", 0, {"AUTO", "NORMAL", "MIRROR"}},
        {0, "Warp Type", "WARP", 0, {"FAST", "SLOW"}},
        {0, "Orientation", "ORIENT", 0, span(1, 8, a)},
        {0, "Width/Height Ratio", "RATIO", 0, span(3, 50, a)},
        {0, "Read Timeout", "TIMEOUT READ", 0, {}},
        {0, "Cell Sample", "CELL SAMPLE", 0, span(1, 7)},
        {0, "Pixels per Cell", "CELL SIZE", 0, span(3, 20)},
        {0, "Matrix Height", "HEIGHT", 0, span(20, 1024, a)},
        {0, "Matrix Width", "WIDTH", 0, span(20, 1024, a)},
        {0,
         "Probe Direction",
         "PROBE DIRECTION",
         0,
         {"CRISS_CROSS", "HORIZONTAL", "VERTICAL", "HORI_VERT", "VERT_HORI"}},
        {0, "Probe Speed", "PROBE SPEED", 0, {"NORMAL", "OVERDRIVE", "TURBO"}},
        {0, "Probe Threshold", "PROBE THRESHOLD", 0, span(5, 100)},
        {1, "Num Barcodes", "NUMBC", 0, span(0, 1)},
        {1, "Horizontal Spacing", "BARHPS", 0, span(8, 256)},
        {1, "Vertical Spacing", "BARVPS", 0, span(8, 256)},
        {1, "Read Timeout", "TIMEOUT READ", 0, {}},
        {1, "Min Barcode Height", "BARHGT MIN", 0, span(4, 400)},
        {1, "Max Barcode Height", "BARHGT MAX", 0, span(4, 400)},
        {1, "Min Barcode Length", "BARLEN MIN", 0, span(20, 600)},
        {1, "Max Barcode Length", "BARLEN MAX", 0, span(20, 600)},
        {1, "Min Barcode Width", "BARWDT MIN", 0, span(1, 100)},
        {1, "Max Barcode Width", "BARWDT MAX", 0, span(1, 100)},
        {1, "Min Number of Bars", "BARNUM MIN", 0, span(2, 100)},
        {1, "Max Number of Bars", "BARNUM MAX", 0, span(2, 100)},
        {1, "Enabled Barcodes", "BARCODE ENABLE", 0, {"*"}},
        {1, "Min Quiet Zone Length", "BARQZ", 0, span(5, 100)},
        {1, "Min Threshold", "BARTHRES", 0, span(5, 100)},
        {1, "Confidence (0 - 100)", "BARCONF", 0, span(0, 100)},
        {1, "Probe Direction", "BARPRB", 0, {"HORI", "VERT", "HORI_VERT", "VERT_HORI"}},
        {1, "BC Decode Near Center", "BC_DECODE_NEAR_CENTER", 0, offOn},
        {2, "Auto Min Exposure", "PHOTOEX", 3, {}},
        {2, "Auto Max Exposure", "PHOTOEX", 4, {}},
        {2, "Auto Min Gain", "PHOTOEX", 5, {}},
        {2, "Auto Max Gain", "PHOTOEX", 6, {}},
        {2, "Min X Dimension (MILS*10)", "XDIMENSION", 1, {}},
        {2, "Max X Dimension (MILS*10)", "XDIMENSION", 0, {}},
        {2, "Aperture", "APERTURE", 0, span(4, 20, a)},
        {3, "Position Enhance Enabled", "POSITION_ENHANCE_ENABLED", 0, {"ON", "OFF"}},
        {3, "Intensity Enhance Enabled", "INTENSITY_ENHANCE_ENABLED", 0, offOn},
        {3, "No Quiet Zone Clutter", "NO_QUIET_ZONE_CLUTTER", 0, offOn},
        {3, "DM Ignore Single Edges", "DM_IGNORE_SINGLE_EDGES", 0, offOn},
        {3, "DM Finetune Reserved", "DM_FINETUNE_RESERVED", 0, offOn},
        {3, "DM Allow Steep Angle", "DM_ALLOW_STEEP_ANGLE", 0, offOn},
        {3, "DM Allow Severe Damage", "DM_ALLOW_SEVERE_DAMAGE", 0, offOn},
        {3, "DM Ensure ROI", "DM_ENSURE_ROI", 0, offOn},
        {3, "DM Decode Near Center", "DM_DECODE_NEAR_CENTER", 0, offOn},
        {3, "DM Cell Outline", "DM_CELL_OUTLINE", 0, offOn},
        {4, "Polarity", "BCPOL", 0, pol},
        {4, "Start/Stop Checking", "BCSTART", 0, offOn},
        {4, "Optional CheckSum Enable", "BCCHKSUMEX BAR412", 0, offOn},
        {4, "Optional Remove CS Display", "BCCHKSUMEX BAR412", 1, offOn},
        {4, "Decode Forward/Backward", "BCDECFWD", 0, {"ON", "OFF"}},
        {5, "Finder Pattern Misalignment", "QRFINDER", 0, span(0, 6)},
        {5, "Polarity", "BCPOL", 0, pol},
        {6, "Optional CheckSum Enable", "BCCHKSUMEX BAR39", 0, offOn},
        {6, "Optional Remove CS Display", "BCCHKSUMEX BAR39", 1, offOn},
        {7, "Optional CheckSum Enable", "BCCHKSUMEX BAR25", 0, offOn},
        {7, "Optional Remove CS Display", "BCCHKSUMEX BAR25", 1, offOn},
        {8, "Output UPC as EAN", "BC_UPC_AS_EAN", 0, offOn},
    };
}

QComboBox* groupList(Stage& stage) {
    return stage.window() ? stage.window()->findChild<QComboBox*>(QStringLiteral("ParamSelect")) : nullptr;
}

QTableWidget* gridOf(Stage& stage, int group) {
    return stage.window() ? stage.window()->findChild<QTableWidget*>(QStringLiteral("Grid(%1)").arg(group))
                          : nullptr;
}

QStringList labels(QTableWidget* grid) {
    QStringList out;
    for (int r = 0; grid && r < grid->rowCount(); ++r)
        out << grid->item(r, 0)->text();
    return out;
}

int rowOf(Stage& stage, int group, const QString& label) {
    return int(labels(gridOf(stage, group)).indexOf(label));
}

QString cellOf(Stage& stage, int group, const QString& label) {
    QTableWidget* g = gridOf(stage, group);
    const int r = rowOf(stage, group, label);
    return g && r >= 0 && g->item(r, 1) ? g->item(r, 1)->text() : QStringLiteral("(no row %1)").arg(label);
}

// Picks the group in the list and clicks the row's value cell, as the operator does.
void clickValue(Stage& stage, int group, const QString& label) {
    QComboBox* groups = groupList(stage);
    QVERIFY(groups);
    testing::choose(groups, kGroups[group]);
    QTableWidget* g = gridOf(stage, group);
    QVERIFY(g);
    QTRY_VERIFY(g->isVisible());
    const int r = rowOf(stage, group, label);
    QVERIFY2(r >= 0, qPrintable(QStringLiteral("no row ") + label));
    testing::clickCell(g, r, 1);
}

QComboBox* editorList(Stage& stage) {
    return stage.window()->findChild<QComboBox*>(QStringLiteral("Combo"));
}

QLineEdit* editorBox(Stage& stage) {
    return stage.window()->findChild<QLineEdit*>(QStringLiteral("Edit"));
}

// A row of a group's grid; `ownLevel` where the row comes later than its group.
ControlContract listRow(int group, const QString& label, const QString& parameter, int field,
                        const QList<Value>& values, int ownLevel = 0) {
    ControlContract c;
    c.name = QStringLiteral("Combo");
    c.kind = Kind::Custom;
    c.parameter = parameter;
    c.field = field;
    c.values = values;
    c.fromLevel = std::max(group >= 8 ? 7 : group >= 6 ? 5 : group >= 3 ? 4 : 0, ownLevel);
    c.below = Below::Custom;
    c.belowCheck = [group, label](Stage& stage) {
        QVERIFY2(rowOf(stage, group, label) < 0,
                 qPrintable(label + QStringLiteral(" offered below its level")));
    };
    c.atLevelCheck = [group, label](Stage& stage) {
        QVERIFY2(rowOf(stage, group, label) >= 0,
                 qPrintable(label + QStringLiteral(" not offered at its level")));
    };
    c.set = [group, label](Stage& stage, const Value& v) {
        clickValue(stage, group, label);
        QComboBox* list = editorList(stage);
        QTRY_VERIFY(list->isVisible());
        testing::choose(list, v.shown);
    };
    c.read = [group, label](Stage& stage) { return cellOf(stage, group, label); };
    return c;
}

void rowsAndLists(Stage& stage) {
    stage.start(QStringLiteral("3.0.2.1"));
    QWidget* w = stage.open(QStringLiteral("BasicTune"));
    QVERIFY(w);
    QVERIFY(w->windowTitle().endsWith(QStringLiteral("- Tune Camera")));
    auto* toolbar = w->findChild<QToolBar*>(QStringLiteral("Toolbar1"));
    QVERIFY(toolbar);
    auto* learn = w->findChild<QAction*>(QStringLiteral("learn"));
    auto* unlearn = w->findChild<QAction*>(QStringLiteral("unlearn"));
    QCOMPARE(learn->toolTip(), QStringLiteral("Auto Learn Parameters"));
    QCOMPARE(unlearn->toolTip(), QStringLiteral("Undo Auto Learn"));
    QCOMPARE(testing::entries(groupList(stage)), kGroups);
    const QList<Row> rows = rowsAtLevel10();
    for (int g = 0; g < 9; ++g) {
        QStringList expected;
        for (const Row& r : rows)
            if (r.group == g)
                expected << r.label;
        QCOMPARE(labels(gridOf(stage, g)), expected);
    }
    // Each list offers its entries, the cell's value chosen; a text row gets the box.
    for (const Row& r : rows) {
        if (r.items == QStringList{"*"})
            continue;
        clickValue(stage, r.group, r.label);
        if (r.items.isEmpty()) {
            QTRY_VERIFY2(editorBox(stage)->isVisible(), qPrintable(r.label));
            QCOMPARE(editorBox(stage)->text(), cellOf(stage, r.group, r.label));
            QVERIFY(!editorList(stage)->isVisible());
        } else {
            QTRY_VERIFY2(editorList(stage)->isVisible(), qPrintable(r.label));
            QCOMPARE(testing::entries(editorList(stage)), r.items);
            QCOMPARE(editorList(stage)->currentText(), cellOf(stage, r.group, r.label));
        }
    }
    // A value the reader holds shows in its own row and field.
    stage.close();
    const QList<QPair<QString, QString>> held = {{"COLS 24", "Num Columns"},
                                                 {"ROWS 18", "Num Rows"},
                                                 {"PROBE THRESHOLD 77", "Probe Threshold"},
                                                 {"BARVPS 99", "Vertical Spacing"},
                                                 {"BARHGT MAX 300", "Max Barcode Height"}};
    for (const auto& [command, label] : held)
        stage.send(command);
    stage.send(QStringLiteral("PHOTOEX AUTO 1000 0 44 15000 12 900"));
    stage.send(QStringLiteral("XDIMENSION 400 25"));
    stage.send(QStringLiteral("BCCHKSUMEX BAR39 OFF ON"));
    QVERIFY(stage.open(QStringLiteral("BasicTune")));
    QCOMPARE(cellOf(stage, 0, "Num Columns"), QStringLiteral("24"));
    QCOMPARE(cellOf(stage, 0, "Num Rows"), QStringLiteral("18"));
    QCOMPARE(cellOf(stage, 0, "Probe Threshold"), QStringLiteral("77"));
    QCOMPARE(cellOf(stage, 1, "Vertical Spacing"), QStringLiteral("99"));
    QCOMPARE(cellOf(stage, 1, "Max Barcode Height"), QStringLiteral("300"));
    QCOMPARE(cellOf(stage, 2, "Auto Min Exposure"), QStringLiteral("44"));
    QCOMPARE(cellOf(stage, 2, "Auto Max Exposure"), QStringLiteral("15000"));
    QCOMPARE(cellOf(stage, 2, "Auto Min Gain"), QStringLiteral("12"));
    QCOMPARE(cellOf(stage, 2, "Auto Max Gain"), QStringLiteral("900"));
    QCOMPARE(cellOf(stage, 2, "Min X Dimension (MILS*10)"), QStringLiteral("25"));
    QCOMPARE(cellOf(stage, 2, "Max X Dimension (MILS*10)"), QStringLiteral("400"));
    QCOMPARE(cellOf(stage, 6, "Optional CheckSum Enable"), QStringLiteral("OFF"));
    QCOMPARE(cellOf(stage, 6, "Optional Remove CS Display"), QStringLiteral("ON"));
}

// The barcode cell names the reader's enabled barcodes.
void barcodeSummary(Stage& stage) {
    stage.start(QStringLiteral("3.0.2.1"));
    const QList<QPair<QString, QString>> masks = {
        {"0x1", "128"},       {"0x2", "Code 39 "},   {"0x4", "Code 93 "},   {"0x8", "Code 2 of 5 "},
        {"0x10", "Codabar "}, {"0x20", "UPC EN8 "},  {"0x40", "UPC E "},    {"0x80", "UPS Supplemental "},
        {"0x100", "PDF417 "}, {"0x200", "BC412 "},   {"0x400", "Postnet "}, {"0x800", "Pharma "},
        {"0x3", "MULTIPLE"},  {"0x820", "MULTIPLE"}, {"0x1000", "NONE"},    {"0x1004", "Code 93 "},
        {"0x0", "NONE"}};
    QVERIFY(stage.open(QStringLiteral("BasicTune")));
    link::ReaderConnection other;
    for (const auto& [mask, name] : masks) {
        stage.send(QStringLiteral("BARCODE ENABLE ") + mask);
        // Another window changed the barcodes: the cell follows.
        other.BroadcastMessage(QStringLiteral("Symbology"), QStringLiteral("UPDATEBC"), QString());
        QTRY_COMPARE(cellOf(stage, 1, "Enabled Barcodes"), name);
    }
    // Its own broadcast is ignored.
    stage.send(QStringLiteral("BARCODE ENABLE 0x2"));
    other.BroadcastMessage(QStringLiteral("BasicTune"), QStringLiteral("UPDATEBC"), QString());
    QVERIFY(
        !QTest::qWaitFor([&] { return cellOf(stage, 1, "Enabled Barcodes") != QLatin1String("NONE"); }, 300));
    // The cell opens the symbology window instead of an editor.
    clickValue(stage, 1, "Enabled Barcodes");
    QTRY_VERIFY(app::windows().find(QStringLiteral("Symbology")));
    QVERIFY(!editorList(stage)->isVisible());
}

// The writes among the lines a reader received, as they came: each value goes out once, and a
// refused one not at all.
QStringList writes(const testing::Received& received) {
    QStringList out;
    for (const QString& line : received.lines()) {
        const int words = line.startsWith(QLatin1String("TIMEOUT READ")) ? 3 : 2;
        if (line.split(QLatin1Char(' ')).size() >= words)
            out << line;
    }
    return out;
}

// Typed values: held to 0..99999 first, then checked by row; refusals send nothing.
void typedValues(Stage& stage) {
    stage.start(QStringLiteral("3.0.2.1"));
    stage.send(QStringLiteral("PHOTOEX AUTO 1000 0 30 31 0 1023"));
    stage.send(QStringLiteral("XDIMENSION 990 10"));
    QVERIFY(stage.open(QStringLiteral("BasicTune")));
    testing::Received received(stage.reader());
    // Types a value into a row; with a refusal, the value brings that message box.
    auto type = [&](int group, const QString& label, const QString& text, const QString& refusal = {}) {
        if (!refusal.isEmpty())
            stage.unexpected()->expectMessage(QStringLiteral("Velmarrow"), refusal, app::PromptIcon::None,
                                              app::PromptButtons::Ok, app::PromptAnswer::Ok);
        clickValue(stage, group, label);
        QTRY_VERIFY(editorBox(stage)->isVisible());
        editorBox(stage)->selectAll();
        QTest::keyClicks(editorBox(stage), text);
        QTest::keyClick(editorBox(stage), Qt::Key_Return);
    };
    const QString range = QStringLiteral("Value out of range!");
    const QString crossed = QStringLiteral("Max is less than Min!");
    QSignalSpy broadcasts(&stage.station(), &link::Connection::OnBroadcastMessage);
    type(0, "Read Timeout", "250");
    QTRY_COMPARE(stage.fields("TIMEOUT READ"), QStringList{"250"});
    QVERIFY(!editorBox(stage)->isVisible());
    QTRY_COMPARE(broadcasts.size(), 1);
    QCOMPARE(broadcasts.at(0), QVariantList({"BasicTune", "UPDATETIMEOUT", ""}));
    // The other group's row of the same parameter shows it too.
    QCOMPARE(cellOf(stage, 1, "Read Timeout"), QStringLiteral("250"));
    type(1, "Read Timeout", "-5");
    QTRY_COMPARE(stage.fields("TIMEOUT READ"), QStringList{"0"});
    type(0, "Read Timeout", "10000", range);
    QCOMPARE(cellOf(stage, 0, "Read Timeout"), QStringLiteral("0"));
    type(0, "Read Timeout", "9999");
    QTRY_COMPARE(stage.fields("TIMEOUT READ"), QStringList{"9999"});

    type(2, "Auto Min Exposure", "31", crossed);
    QCOMPARE(cellOf(stage, 2, "Auto Min Exposure"), QStringLiteral("30"));
    // Enter leaves no box open, refused or not.
    QVERIFY(!editorBox(stage)->isVisible());
    type(2, "Auto Min Exposure", "29", range);
    type(2, "Auto Max Exposure", "20000");
    QVERIFY(!editorBox(stage)->isVisible());
    type(2, "Auto Min Exposure", "19999");
    QTRY_COMPARE(stage.fields("PHOTOEX").value(3), QStringLiteral("19999"));
    type(2, "Auto Max Exposure", "19999", crossed);
    type(2, "Auto Max Gain", "1024", range);
    // The minimum gain is held against the maximum gain, not against an exposure.
    type(2, "Auto Min Gain", "1023", crossed);
    type(2, "Auto Min Gain", "1022");
    type(2, "Auto Max Gain", "1000", crossed);
    type(2, "Min X Dimension (MILS*10)", "9", range);
    type(2, "Min X Dimension (MILS*10)", "989");
    type(2, "Max X Dimension (MILS*10)", "500", crossed);
    type(2, "Max X Dimension (MILS*10)", "991", range);
    QCOMPARE(writes(received),
             QStringList({"TIMEOUT READ 250", "TIMEOUT READ 0", "TIMEOUT READ 9999",
                          "PHOTOEX AUTO 1000 0 30 20000 0 1023", "PHOTOEX AUTO 1000 0 19999 20000 0 1023",
                          "PHOTOEX AUTO 1000 0 19999 20000 1022 1023", "XDIMENSION 990 989"}));
}

// A value the reader does not answer when the grid reloads: the window says so and names it,
// the row keeps what it showed, greyed, and opens no editor; the other rows still edit, and
// the next reload shows the row again.
void unansweredRow(Stage& stage) {
    stage.start(QStringLiteral("3.0.2.1"));
    stage.send(QStringLiteral("BARVPS 99"));
    QWidget* w = stage.open(QStringLiteral("BasicTune"));
    QVERIFY(w);
    QCOMPARE(cellOf(stage, 1, "Vertical Spacing"), QStringLiteral("99"));
    stage.send(QStringLiteral("BARVPS 40"));
    stage.reader().setNextReplyFault(sim::ReplyFault::Refused, 0, QStringLiteral("BARVPS"));
    stage.unexpected()->expectMessage(QStringLiteral("Velmarrow"),
                                      QStringLiteral("Unexpected Connection Error"), app::PromptIcon::None,
                                      app::PromptButtons::Ok, app::PromptAnswer::Ok);
    link::ReaderConnection other;
    other.BroadcastMessage(QStringLiteral("Symbology"), QStringLiteral("SCHEDULEUPDATE"), QString());
    QTableWidget* barcodes = gridOf(stage, 1);
    const int row = rowOf(stage, 1, "Vertical Spacing");
    QTRY_VERIFY_WITH_TIMEOUT(!(barcodes->item(row, 1)->flags() & Qt::ItemIsEnabled), 5000);
    QCOMPARE(cellOf(stage, 1, "Vertical Spacing"), QStringLiteral("99"));
    QVERIFY(barcodes->item(row, 1)->toolTip().contains(QStringLiteral("BARVPS")));
    auto* note = w->findChild<QLabel*>(QStringLiteral("NotReadNote"));
    QVERIFY(note && note->isVisible());
    QVERIFY2(note->text().contains(QStringLiteral("BARVPS")), qPrintable(note->text()));
    testing::Received received(stage.reader());
    clickValue(stage, 1, "Vertical Spacing");
    QVERIFY(!editorList(stage)->isVisible());
    clickValue(stage, 1, "Horizontal Spacing");
    QTRY_VERIFY(editorList(stage)->isVisible());
    testing::choose(editorList(stage), QStringLiteral("20"));
    QTRY_COMPARE(stage.fields(QStringLiteral("BARHPS")), QStringList{"20"});
    QCOMPARE(writes(received), QStringList{"BARHPS 20"});

    other.BroadcastMessage(QStringLiteral("Symbology"), QStringLiteral("SCHEDULEUPDATE"), QString());
    QTRY_COMPARE_WITH_TIMEOUT(cellOf(stage, 1, "Vertical Spacing"), QStringLiteral("40"), 5000);
    QVERIFY(barcodes->item(row, 1)->flags() & Qt::ItemIsEnabled);
    QVERIFY(!note->isVisible());
}

QStringList groupLabels(Stage& stage, int group) {
    return labels(gridOf(stage, group));
}

// Groups and rows by firmware level; the toolbar's learn, cancel and undo; control.
void learnAndLevels(Stage& stage) {
    const QStringList photo = {"Auto Min Exposure", "Auto Max Exposure", "Auto Min Gain", "Auto Max Gain"};
    struct Level {
        QString version;
        int groups;
        QStringList expert;
    };
    const QList<Level> levels = {
        {"1.2.0.0", 3, photo},
        {"2.0.0.0", 6, photo + QStringList{"Contrast Report", "Cell Unit Report", "Aperture"}},
        {"2.0.1.0", 8, photo + QStringList{"Contrast Report", "Cell Unit Report", "Aperture"}},
        {"2.3.0.0", 9, photo + QStringList{"Contrast Report", "Cell Unit Report", "Aperture"}},
        {"2.4.0.0", 9,
         photo + QStringList{"Min X Dimension (MILS*10)", "Max X Dimension (MILS*10)", "Aperture"}},
    };
    for (const Level& l : levels) {
        stage.end();
        stage.begin();
        stage.start(l.version);
        QVERIFY(stage.open(QStringLiteral("BasicTune")));
        QCOMPARE(testing::entries(groupList(stage)), kGroups.mid(0, l.groups));
        QCOMPARE(groupLabels(stage, 2), l.expert);
        if (l.version == QLatin1String("1.2.0.0"))
            QCOMPARE(groupLabels(stage, 1).size(), 13);
        if (l.version == QLatin1String("2.0.0.0")) {
            QCOMPARE(groupLabels(stage, 3),
                     QStringList({"Position Enhance Enabled", "Intensity Enhance Enabled",
                                  "No Quiet Zone Clutter", "No Top Timing Border", "No Right Timing Border",
                                  "DM Allow Steep Angle", "DM Allow Severe Damage", "DM Ensure ROI",
                                  "DM Decode Near Center", "DM Cell Outline"}));
            QCOMPARE(groupLabels(stage, 4), QStringList({"Polarity", "Start/Stop Checking",
                                                         "Check Sum Checking", "Decode Forward/Backward"}));
            QCOMPARE(groupLabels(stage, 5), QStringList{"Finder Pattern Misalignment"});
            // Created on these readers, but neither loaded nor shown.
            for (const char* late : {"Contrast Report", "Cell Unit Report", "Aperture"})
                QVERIFY2(cellOf(stage, 2, QLatin1String(late)).isEmpty(), late);
        }
    }
    // Their values are read from level 6 on: still empty at level 5, the reader's own at 6.
    for (const int level : {5, 6}) {
        stage.end();
        stage.begin();
        stage.start(sim::softwareVersionForLevel(level));
        QVERIFY(stage.open(QStringLiteral("BasicTune")));
        const QStringList shown = {cellOf(stage, 2, QStringLiteral("Contrast Report")),
                                   cellOf(stage, 2, QStringLiteral("Cell Unit Report")),
                                   cellOf(stage, 2, QStringLiteral("Aperture"))};
        const QStringList expected = level < 6 ? QStringList{QString(), QString(), QString()}
                                               : QStringList{"UNCALIBRATED", "PIXELS", "AUTO"};
        QCOMPARE(shown, expected);
    }

    // Level 10: the toolbar's learn goes out at once; its outcome releases the button and the
    // grid shows what was learned a second later.
    stage.end();
    stage.begin();
    stage.start(QStringLiteral("3.0.2.1"));
    QVERIFY(stage.open(QStringLiteral("BasicTune")));
    auto* learn = stage.window()->findChild<QAction*>(QStringLiteral("learn"));
    auto* unlearn = stage.window()->findChild<QAction*>(QStringLiteral("unlearn"));
    QCOMPARE(cellOf(stage, 0, "Num Rows"), QStringLiteral("AUTO"));
    QElapsedTimer outcome;
    QObject::connect(&stage.station(), &link::Connection::OnNewRecord, stage.window(),
                     [&outcome](const link::Record& r) {
                         if (r.HasLearnStatus() && !outcome.isValid())
                             outcome.start();
                     });
    testing::Received received(stage.reader());
    learn->trigger();
    QCOMPARE(received.lines(), QStringList{"LEARN BOTH"});
    QTRY_VERIFY_WITH_TIMEOUT(!learn->isChecked(), 10000);
    QVERIFY(outcome.isValid());
    QVERIFY2(outcome.elapsed() >= 150, qPrintable(QString::number(outcome.elapsed())));
    const qint64 released = outcome.elapsed();
    QCOMPARE(cellOf(stage, 0, "Num Rows"), QStringLiteral("AUTO"));
    QTRY_COMPARE_WITH_TIMEOUT(cellOf(stage, 0, "Num Rows"), QStringLiteral("16"), 5000);
    QVERIFY2(outcome.elapsed() - released >= 900, qPrintable(QString::number(outcome.elapsed() - released)));
    // Released by the outcome: nothing cancelled.
    QVERIFY(!received.lines().contains(QStringLiteral("LEARNCANCEL")));

    // Released by the operator: the learn is cancelled. The reader now reads only when asked,
    // so that no read carries the learn out before the cancel arrives.
    stage.send(QStringLiteral("TRIG T"));
    received.clear();
    learn->trigger();
    learn->trigger();
    QCOMPARE(received.lines(), QStringList({"LEARN BOTH", "LEARNCANCEL"}));

    // Undo: UNLEARN, announced, and the values again a second later.
    received.clear();
    QSignalSpy broadcasts(&stage.station(), &link::Connection::OnBroadcastMessage);
    QElapsedTimer undo;
    undo.start();
    unlearn->trigger();
    QCOMPARE(received.lines().value(0), QStringLiteral("UNLEARN"));
    QTRY_COMPARE(broadcasts.size(), 1);
    QCOMPARE(broadcasts.at(0), QVariantList({"BasicTune", "UNLEARN", ""}));
    QTRY_COMPARE_WITH_TIMEOUT(cellOf(stage, 0, "Num Rows"), QStringLiteral("AUTO"), 5000);
    QVERIFY2(undo.elapsed() >= 900, qPrintable(QString::number(undo.elapsed())));

    // Without control: no learning, no editors, a click opens nothing.
    stage.releaseControl();
    QTRY_VERIFY(!learn->isEnabled());
    QVERIFY(!unlearn->isEnabled());
    QVERIFY(!editorList(stage)->isEnabled());
    QVERIFY(!editorBox(stage)->isEnabled());
    clickValue(stage, 0, "Polarity");
    QVERIFY(!editorList(stage)->isVisible());
    stage.regainControl();
    QTRY_VERIFY(learn->isEnabled());
    QVERIFY(unlearn->isEnabled());
}

} // namespace

WindowContract tuneContract() {
    WindowContract w;
    w.window = QStringLiteral("BasicTune");
    w.immediate = true;
    w.lowVersion = QStringLiteral("1.2.0.0");
    w.controls
        << listRow(0, "Num Datamatrix", "NUMDM", 0, {{"1", "1"}, {"0", "0"}, {"1", "1"}})
        << listRow(0, "Num Rows", "ROWS", 0, {{"AUTO", "AUTO"}, {"144", "144"}, {"8", "8"}})
        << listRow(0, "Polarity", "POL", 0, {{"AUTO", "AUTO"}, {"LD", "LD"}, {"DL", "DL"}})
        << listRow(0, "Probe Speed", "PROBE SPEED", 0, {{"NORMAL", "NORMAL"}, {"TURBO", "TURBO"}})
        << listRow(1, "Num Barcodes", "NUMBC", 0, {{"0", "0"}, {"1", "1"}})
        << listRow(1, "Max Barcode Height", "BARHGT MAX", 0, {{"400", "400"}, {"4", "4"}, {"123", "123"}})
        << listRow(1, "Probe Direction", "BARPRB", 0, {{"HORI", "HORI"}, {"VERT_HORI", "VERT_HORI"}}, 4)
        << listRow(1, "BC Decode Near Center", "BC_DECODE_NEAR_CENTER", 0, {{"OFF", "OFF"}, {"ON", "ON"}}, 4)
        << listRow(2, "Aperture", "APERTURE", 0, {{"AUTO", "AUTO"}, {"4", "4"}, {"20", "20"}}, 4)
        << listRow(3, "Position Enhance Enabled", "POSITION_ENHANCE_ENABLED", 0,
                   {{"ON", "ON"}, {"OFF", "OFF"}})
        << listRow(3, "DM Cell Outline", "DM_CELL_OUTLINE", 0, {{"OFF", "OFF"}, {"ON", "ON"}})
        << listRow(4, "Polarity", "BCPOL", 0, {{"AUTO", "AUTO"}, {"LD", "LD"}})
        << listRow(4, "Optional Remove CS Display", "BCCHKSUMEX BAR412", 1, {{"OFF", "OFF"}, {"ON", "ON"}}, 5)
        << listRow(4, "Decode Forward/Backward", "BCDECFWD", 0, {{"ON", "ON"}, {"OFF", "OFF"}})
        << listRow(5, "Finder Pattern Misalignment", "QRFINDER", 0, {{"0", "0"}, {"6", "6"}, {"3", "3"}})
        << listRow(5, "Polarity", "BCPOL", 0, {{"AUTO", "AUTO"}, {"DL", "DL"}}, 5)
        << listRow(6, "Optional CheckSum Enable", "BCCHKSUMEX BAR39", 0, {{"OFF", "OFF"}, {"ON", "ON"}})
        << listRow(7, "Optional Remove CS Display", "BCCHKSUMEX BAR25", 1, {{"OFF", "OFF"}, {"ON", "ON"}})
        << listRow(8, "Output UPC as EAN", "BC_UPC_AS_EAN", 0, {{"OFF", "OFF"}, {"ON", "ON"}});
    // Rows of readers below level 9 only.
    ControlContract contrast =
        listRow(2, "Contrast Report", "CONTRAST_REPORT", 0,
                {{"UNCALIBRATED", "UNCALIBRATED"}, {"SELF_CALIBRATED", "SELF_CALIBRATED"}});
    contrast.version = QStringLiteral("2.3.0.0");
    ControlContract unit =
        listRow(2, "Cell Unit Report", "CELL_UNIT_REPORT", 0, {{"PIXELS", "PIXELS"}, {"MILS", "MILS"}});
    unit.version = QStringLiteral("2.3.0.0");
    ControlContract checksum =
        listRow(4, "Check Sum Checking", "BCCHKSUM", 0, {{"OFF", "OFF"}, {"ON", "ON"}});
    checksum.version = QStringLiteral("2.0.0.0");
    w.controls << contrast << unit << checksum;
    w.notFields = {
        QStringLiteral("ParamSelect"), // picks the group whose grid is shown
        QStringLiteral("Edit"),        // the text box over a value cell, checked by the typed values
        QStringLiteral("Grid(0)"),     QStringLiteral("Grid(1)"), QStringLiteral("Grid(2)"),
        QStringLiteral("Grid(3)"),     QStringLiteral("Grid(4)"), QStringLiteral("Grid(5)"),
        QStringLiteral("Grid(6)"),     QStringLiteral("Grid(7)"),
        QStringLiteral("Grid(8)"), // cells open the editors
    };
    w.checks = {rowsAndLists, barcodeSummary, typedValues, unansweredRow, learnAndLevels};
    return w;
}

} // namespace vm::contracts
