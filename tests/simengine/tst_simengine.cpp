#include "sim/calibration.h"
#include "sim/cycledriver.h"
#include "sim/decoder.h"
#include "sim/externallight.h"
#include "sim/grader.h"
#include "sim/imaging.h"
#include "sim/imagingparameters.h"
#include "sim/matching.h"
#include "sim/matrixcodewords.h"
#include "sim/readcycle.h"
#include "sim/scene.h"

#include <QBuffer>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPainter>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

using namespace vm::sim;

namespace {

// The engine's input: the reader's parameters as the store would hand them over.
class Parameters : public ParameterSource {
public:
    QStringList fields(const QString& name) const override { return m_values.value(name); }
    void setFields(const QString& name, const QStringList& fields) override { m_values.insert(name, fields); }
    int firmwareLevel() const override { return m_level; }

    void set(const QString& name, const QString& line) {
        m_values.insert(name, line.split(QLatin1Char(' ')));
    }

    QHash<QString, QStringList> m_values;
    int m_level = 9;
};

// Runs cycles until one reads or the count is spent (photometry may need a few).
CycleOutput runUntilRead(ReadCycle& cycle, int cycles) {
    CycleOutput out;
    for (int i = 0; i < cycles; ++i) {
        out = cycle.run();
        if (out.symbolFound)
            break;
    }
    return out;
}

// A graded parameter of a record's verification result: its grade letter and value.
QJsonObject graded(const CycleOutput& out, const QString& name) {
    for (const QJsonValue& v : out.verification.value("parameters").toArray())
        if (v.toObject().value("name").toString() == name)
            return v.toObject();
    return {};
}

QString gradeOf(const CycleOutput& out, const QString& name) {
    return graded(out, name).value("grade").toString();
}

} // namespace

class TestSimEngine : public QObject {
    Q_OBJECT

private slots:
    void init() { QTest::failOnWarning(QRegularExpression(".*")); }

    void factoryReaderReadsDataMatrix();
    void sceneTextComesBackDecoded();
    void sceneRejectsBadSettings();
    void eachBarcodeReadUnderItsOwnBit_data();
    void eachBarcodeReadUnderItsOwnBit();
    void decoderHonoursTuning();
    void exposureExtremesFailAndAutoPhotometryRecovers();
    void learnSetsSizeOfSymbol();
    void learnedRectangleKeepsRowsAndColumnsApart();
    void learnPhotometryAndUnlearn();
    void tuningScenesNeedTheirChange_data();
    void tuningScenesNeedTheirChange();
    void learnReadsDarkPartAndUnlearnRestores();
    void morphologyReachesTheDecoder();
    void morphologyIsASquareMinimumOrMaximum_data();
    void morphologyIsASquareMinimumOrMaximum();
    void exposureAndGainActLikeASensor();
    void assistedLearnUsesRegion();
    void printGrowthTakesItsSign();
    void printFaultsLowerTheirOwnGrade_data();
    void printFaultsLowerTheirOwnGrade();
    void finderFaultSparesTheCorners();
    void sceneSettingsTakeTheirRanges();
    void strongPrintFaultsFailTheRead_data();
    void strongPrintFaultsFailTheRead();
    void barcodeScansGradeContrastAndDefects();
    void learnReadsLowContrastPart();
    void orientationNarrowsTheSearch();
    void calibrationMeasuresTarget();
    void calibrationFailsWithoutSymbol();
    void externalLightsLightTheCalibration();
    void matchWildcards();
    void retriesAndTimeout();
    void fileFromOtherEncoderIsDecoded_data();
    void fileFromOtherEncoderIsDecoded();
    void badFilesAreRefused();
    void qrCodewordsReadBackAsPrinted();
};

// A factory reader's picture is 8-bit grey and its decode takes time. (What it reads, where,
// and the serial number advancing are in the records of tests/sim/transcripts/serial.txt, which
// leave out the decode time.)
void TestSimEngine::factoryReaderReadsDataMatrix() {
    Parameters parameters;
    ReadCycle cycle(parameters);
    const CycleOutput out = cycle.run();
    QCOMPARE(out.image.format(), QImage::Format_Grayscale8);
    QVERIFY(out.decodeMs > 0);
}

void TestSimEngine::sceneTextComesBackDecoded() {
    Parameters parameters;
    ReadCycle cycle(parameters);
    QString error;
    QVERIFY(cycle.scene().set("text", "Part no. 7/ABC-", &error));
    QVERIFY(cycle.scene().set("serial", "123", &error));
    QVERIFY(cycle.scene().set("rotation", "-33", &error));
    QVERIFY(cycle.scene().set("x", "200", &error));
    QCOMPARE(runUntilRead(cycle, 3).text, QStringLiteral("Part no. 7/ABC-0123"));
    // Without serial digits the text stands alone.
    QVERIFY(cycle.scene().set("serialdigits", "0", &error));
    QVERIFY(cycle.scene().set("text", "HELLO", &error));
    const CycleOutput out = runUntilRead(cycle, 3);
    QCOMPARE(out.text, QStringLiteral("HELLO"));
    QVERIFY(out.corners.at(0).x() < 300); // moved to the left
    // The symbol may stand anywhere across the sensor's 659 pixels, beyond its 494 rows too.
    QVERIFY2(cycle.scene().set("x", "560", &error), qPrintable(error));
    QPointF centre;
    for (const QPointF& p : runUntilRead(cycle, 3).corners)
        centre += p / 4.0;
    QVERIFY2(qAbs(centre.x() - 560) < 10, qPrintable(QString::number(centre.x())));
    QVERIFY(!cycle.scene().set("x", "700", &error));
}

void TestSimEngine::sceneRejectsBadSettings() {
    Scene scene;
    QString error;
    QVERIFY(!scene.set("rotation", "abc", &error));
    QVERIFY(error.contains("number"));
    QVERIFY(!scene.set("colour", "1", &error));
    // EAN-13 holds digits only: the scene keeps its symbology.
    QVERIFY(!scene.setSymbology("EAN13", &error));
    QCOMPARE(scene.symbology(), QStringLiteral("DATAMATRIX"));
}

// Every barcode symbology is read with its own bit of BARCODE ENABLE and with no other.
void TestSimEngine::eachBarcodeReadUnderItsOwnBit_data() {
    QTest::addColumn<QString>("symbology");
    QTest::addColumn<QString>("text");
    QTest::addColumn<uint>("bit");
    QTest::addColumn<QString>("name");
    const struct {
        const char* symbology;
        const char* text;
        uint bit;
        const char* name;
    } rows[] = {
        {"CODE128", "LOT-42", 0x1, "Code 128"}, {"CODE39", "LOT-42", 0x2, "Code 39"},
        {"CODE93", "LOT-42", 0x4, "Code 93"},   {"ITF", "123456", 0x8, "Code 2 of 5"},
        {"CODABAR", "A1234B", 0x10, "Codabar"}, {"EAN13", "400638133393", 0x20, "EAN-13"},
        {"EAN8", "9638507", 0x20, "EAN-8"},     {"UPCA", "03600029145", 0x20, "UPC-A"},
        {"UPCE", "0123456", 0x40, "UPC-E"},     {"PDF417", "LOT-42", 0x100, "PDF417"},
        {"QR", "LOT-42", 0x20000, "QR Code"},
    };
    for (const auto& r : rows)
        QTest::newRow(r.symbology) << QString(r.symbology) << QString(r.text) << r.bit << QString(r.name);
}

void TestSimEngine::eachBarcodeReadUnderItsOwnBit() {
    QFETCH(QString, symbology);
    QFETCH(QString, text);
    QFETCH(uint, bit);
    QFETCH(QString, name);
    Parameters parameters;
    ReadCycle cycle(parameters);
    QString error;
    QVERIFY2(cycle.scene().set("serialdigits", "0", &error), qPrintable(error));
    QVERIFY2(cycle.scene().set("text", text, &error), qPrintable(error));
    QVERIFY2(cycle.scene().set("symbology", symbology, &error), qPrintable(error));
    QVERIFY(cycle.scene().set("rotation", "0"));
    parameters.set("NUMDM", "0");
    parameters.set("NUMBC", "1");
    const uint every = 0x1 | 0x2 | 0x4 | 0x8 | 0x10 | 0x20 | 0x40 | 0x80 | 0x100 | 0x1000 | 0x4000 | 0x20000;
    parameters.set("BARCODE ENABLE", QStringLiteral("0x%1").arg(every & ~bit, 0, 16));
    QVERIFY(!runUntilRead(cycle, 3).symbolFound);
    parameters.set("BARCODE ENABLE", QStringLiteral("0x%1").arg(bit, 0, 16));
    const CycleOutput out = runUntilRead(cycle, 3);
    QVERIFY(out.symbolFound);
    QCOMPARE(out.symbology, name);
}

void TestSimEngine::decoderHonoursTuning() {
    Parameters parameters;
    ReadCycle cycle(parameters);
    // A negative image turns the symbol light on dark: DL refuses it, LD and AUTO read it.
    // Readers from level 5 on (the first to offer it) invert; an older one sees the part as it is.
    parameters.set("NEGATIVE", "ON");
    parameters.set("POL", "DL");
    parameters.m_level = 4;
    const CycleOutput older = runUntilRead(cycle, 3);
    QVERIFY(older.symbolFound);
    QVERIFY(Camera::measure(older.image).mean > 150);
    parameters.m_level = 5;
    const CycleOutput negative = runUntilRead(cycle, 3);
    QVERIFY(!negative.symbolFound);
    QVERIFY(Camera::measure(negative.image).mean < 100);
    parameters.set("POL", "LD");
    QVERIFY(runUntilRead(cycle, 3).symbolFound);
    parameters.set("POL", "AUTO");
    QVERIFY(runUntilRead(cycle, 3).symbolFound);
    parameters.set("NEGATIVE", "OFF");
    parameters.m_level = 9;

    // An expected size that the symbol does not have keeps it from being read.
    parameters.set("ROWS", "18");
    parameters.set("COLS", "18");
    QVERIFY(!runUntilRead(cycle, 3).symbolFound);
    parameters.set("ROWS", "16");
    parameters.set("COLS", "16");
    QVERIFY(runUntilRead(cycle, 3).symbolFound);
    // One side fixed, the other AUTO: only the fixed side is checked.
    for (const auto& [rows, cols, reads] :
         {std::tuple{"AUTO", "16", true}, std::tuple{"16", "AUTO", true}, std::tuple{"AUTO", "18", false},
          std::tuple{"18", "AUTO", false}}) {
        parameters.set("ROWS", rows);
        parameters.set("COLS", cols);
        QVERIFY2(runUntilRead(cycle, 3).symbolFound == reads, qPrintable(QString("%1 x %2").arg(rows, cols)));
    }
    parameters.set("ROWS", "16");
    parameters.set("COLS", "16");
    parameters.set("STYLE", "MIRROR");
    QVERIFY(!runUntilRead(cycle, 3).symbolFound);
    parameters.set("STYLE", "NORMAL");
    QVERIFY(runUntilRead(cycle, 3).symbolFound);
    // The symbol is ECC 200: another ECC level refuses it, 200 reads it.
    parameters.set("ECC", "140");
    QVERIFY(!runUntilRead(cycle, 3).symbolFound);
    parameters.set("ECC", "200");
    QVERIFY(runUntilRead(cycle, 3).symbolFound);

    // Heavy erosion swallows the light cells of a finely printed symbol.
    QVERIFY(cycle.scene().set("scale", "4"));
    QVERIFY(runUntilRead(cycle, 3).symbolFound);
    parameters.set("MORPH", "ERODE 3");
    const CycleOutput eroded = runUntilRead(cycle, 3);
    QVERIFY(!eroded.symbolFound);

    // The barcode polarity alone decides which bars are read: DL the dark bars of a label, LD the
    // light ones of an etched part, AUTO both. The Data Matrix polarity is set each time to what
    // would give the other answer, and has no say.
    Parameters bars;
    ReadCycle barCycle(bars);
    QVERIFY(barCycle.scene().setSymbology("CODE128"));
    QVERIFY(barCycle.scene().set("rotation", "0"));
    bars.set("NUMDM", "0");
    bars.set("NUMBC", "1");
    for (const QString part : {"paper", "lightondark"}) {
        QVERIFY(barCycle.scene().set("part", part));
        for (const QString bcpol : {"DL", "LD", "AUTO"}) {
            const bool reads = bcpol == "AUTO" || (bcpol == "LD") == (part == "lightondark");
            bars.set("BCPOL", bcpol);
            bars.set("POL", !reads ? "AUTO" : part == "paper" ? "LD" : "DL");
            QVERIFY2(runUntilRead(barCycle, 6).symbolFound == reads, qPrintable(part + " " + bcpol));
        }
    }
}

void TestSimEngine::exposureExtremesFailAndAutoPhotometryRecovers() {
    Parameters parameters;
    ReadCycle cycle(parameters);
    parameters.set("PHOTOEX", "MANUAL 30 0 30 20000 0 1023");
    CycleOutput dark = runUntilRead(cycle, 3);
    QVERIFY(!dark.symbolFound);
    QVERIFY(!dark.photometryValid);
    QCOMPARE(dark.exposure, 30);
    parameters.set("PHOTOEX", "MANUAL 20000 1023 30 20000 0 1023");
    CycleOutput bright = runUntilRead(cycle, 3);
    QVERIFY(!bright.symbolFound);
    QVERIFY(!bright.photometryValid);

    // Automatic photometry starts from the manual values and finds its way back within eight
    // cycles, from the bright side and from the dark side; with its exposure held to at most
    // 300 us (a third of what the label needs) the gain makes up the rest of the light.
    for (const char* start : {"MANUAL 20000 1023 30 20000 0 1023", "MANUAL 30 0 30 20000 0 1023",
                              "MANUAL 1000 0 30 300 0 1023"}) {
        parameters.set("PHOTOEX", start);
        QVERIFY(cycle.command({"PHOTO", "AUTO"}));
        QCOMPARE(parameters.fields("PHOTOEX").at(0), QStringLiteral("AUTO"));
        CycleOutput out;
        for (int cycles = 0; cycles < 8 && !(out.symbolFound && out.photometryValid); ++cycles)
            out = cycle.run();
        QVERIFY2(out.symbolFound && out.photometryValid, start);
        QVERIFY(out.exposure < 20000);
        QVERIFY(out.exposure <= parameters.fields("PHOTOEX").at(4).toInt());
    }
    QVERIFY(cycle.run().gain > 0);
}

// A rectangular symbol, printed by another encoder, learned: its 12 rows and 36 columns each go
// to their own parameter, and the learned size still reads it.
void TestSimEngine::learnedRectangleKeepsRowsAndColumnsApart() {
    if (QStandardPaths::findExecutable("dmtxwrite").isEmpty())
        QSKIP("dmtxwrite is not installed (scripts/setup.sh installs dmtx-utils)");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString base = dir.filePath("rect");
    {
        QFile text(base + ".txt");
        QVERIFY(text.open(QIODevice::WriteOnly));
        text.write("RECT-1236");
    }
    QProcess process;
    process.start("dmtxwrite", {"-s", "12x36", "-d", "5", "-m", "20", "-o", base + ".tif", base + ".txt"});
    QVERIFY(process.waitForFinished(30000));
    QCOMPARE(process.exitCode(), 0);
    QFile input(base + ".tif");
    QVERIFY(input.open(QIODevice::ReadOnly));

    Parameters parameters;
    ReadCycle cycle(parameters);
    QString error;
    QVERIFY2(cycle.addFile("rect.tif", input.readAll(), &error), qPrintable(error));
    QVERIFY(cycle.command({"CAPTURE", "FILES"}, &error));
    QVERIFY(cycle.command({"LEARNEX", "BOTH", "NONE"}));
    const CycleOutput out = cycle.run();
    QCOMPARE(out.learnStatus, std::optional<int>(2));
    QCOMPARE(parameters.fields("ROWS"), QStringList{"12"});
    QCOMPARE(parameters.fields("COLS"), QStringList{"36"});
    QCOMPARE(runUntilRead(cycle, 3).text, QStringLiteral("RECT-1236"));
}

void TestSimEngine::learnSetsSizeOfSymbol() {
    Parameters parameters;
    ReadCycle cycle(parameters);
    QVERIFY(cycle.scene().set("text", "VELMARROW-")); // with four serial digits: a 16 x 16 symbol
    QString error;
    QVERIFY(!cycle.command({"LEARNEX", "SOMETIMES", "NONE"}, &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(cycle.command({"LEARNEX", "BOTH", "NONE"}));
    QVERIFY(cycle.learnPending());
    const CycleOutput out = cycle.run();
    QVERIFY(!cycle.learnPending());
    QCOMPARE(out.learnStatus, std::optional<int>(2));
    QCOMPARE(parameters.fields("ROWS"), QStringList{"16"});
    QCOMPARE(parameters.fields("COLS"), QStringList{"16"});
    QCOMPARE(parameters.fields("POL"), QStringList{"DL"});
    QVERIFY(out.symbolFound);
    QVERIFY(!cycle.run().learnStatus.has_value());

    // A longer text needs a bigger symbol, which the learned size no longer reads.
    QVERIFY(cycle.scene().set("text", "VELMARROW-LONGER-TEXT"));
    QVERIFY(!runUntilRead(cycle, 3).symbolFound);
    QVERIFY(cycle.command({"UNLEARN"}));
    QCOMPARE(parameters.fields("ROWS"), QStringList{"AUTO"});
    QVERIFY(runUntilRead(cycle, 3).symbolFound);

    // A barcode learn enables just the barcode it found, and its dark-on-light bars set the
    // barcode polarity; the Data Matrix polarity keeps what it held.
    QVERIFY(cycle.scene().set("text", "VELMARROW-"));
    QVERIFY(cycle.scene().setSymbology("CODE128"));
    QVERIFY(cycle.scene().set("rotation", "0"));
    parameters.set("POL", "LD");
    QVERIFY(cycle.command({"LEARN", "BOTH"}));
    const CycleOutput barcode = cycle.run();
    QCOMPARE(barcode.learnStatus, std::optional<int>(1 + 4));
    QCOMPARE(parameters.fields("BARCODE ENABLE"), QStringList{"0x1"});
    QCOMPARE(parameters.fields("NUMBC"), QStringList{"1"});
    QCOMPARE(parameters.fields("BCPOL"), QStringList{"DL"});
    QCOMPARE(parameters.fields("POL"), QStringList{"LD"});
    QVERIFY(barcode.symbolFound);
    // LEARNEX BC learns the barcode in view as BOTH does.
    parameters.set("BARCODE ENABLE", "0x2");
    parameters.set("BCPOL", "LD");
    QVERIFY(cycle.command({"LEARNEX", "BC", "NONE"}));
    QCOMPARE(cycle.run().learnStatus, std::optional<int>(1));
    QCOMPARE(parameters.fields("BARCODE ENABLE"), QStringList{"0x1"});
    QCOMPARE(parameters.fields("BCPOL"), QStringList{"DL"});

    // A cancelled learn reports that nothing was learned.
    QVERIFY(cycle.command({"LEARNEX", "BOTH", "PHOTO"}));
    QVERIFY(cycle.command({"LEARNCANCEL"}));
    QCOMPARE(cycle.run().learnStatus, std::optional<int>(-1));
    // Cancelling when no learn waits has nothing to end: the next record carries no "NO LEARN".
    QVERIFY(cycle.command({"LEARNCANCEL"}));
    QVERIFY(!cycle.run().learnStatus.has_value());
}

void TestSimEngine::learnPhotometryAndUnlearn() {
    Parameters parameters;
    ReadCycle cycle(parameters);
    parameters.set("PHOTOEX", "MANUAL 30 0 30 20000 0 1023");
    QVERIFY(!runUntilRead(cycle, 2).symbolFound);
    QVERIFY(cycle.command({"LEARNEX", "NONE", "PHOTO"}));
    const CycleOutput out = cycle.run();
    QCOMPARE(out.learnStatus, std::optional<int>(4));
    const QStringList photo = parameters.fields("PHOTOEX");
    QCOMPARE(photo.at(0), QStringLiteral("MANUAL"));
    QVERIFY(photo.at(1).toInt() > 30);
    QCOMPARE(photo.size(), 7);
    QVERIFY(out.symbolFound);
    QVERIFY(out.photometryValid);
    QCOMPARE(out.exposure, photo.at(1).toInt());
    // The learned exposure lights the symbol's paper short of clipping: under grey 250 and
    // under 1 % of it at 255 (a longer one would gain nothing the symbol could use).
    // The photometry of the located symbol alone, as the learn measures it.
    const auto ofSymbol = [](const CycleOutput& c) {
        return Camera::measure(
            c.image.copy(QPolygonF(c.corners).boundingRect().toAlignedRect().intersected(c.image.rect())));
    };
    const Photometry learnt = ofSymbol(out);
    QVERIFY2(learnt.bright < 250 && learnt.saturated < 0.01, qPrintable(QString::number(learnt.bright)));
    // Also where a step of the sweep lights the paper just short of 255 (grey 253: the paper's
    // grey grows with the exposure), the learn keeps the step below it.
    const double nearlyClipped = out.exposure * 253.0 / learnt.bright;
    double lowest = nearlyClipped;
    while (lowest / 1.6 >= 30)
        lowest /= 1.6;
    parameters.set("PHOTOEX", QStringLiteral("MANUAL 30 0 %1 20000 0 1023").arg(int(std::ceil(lowest))));
    QVERIFY(cycle.command({"LEARNEX", "NONE", "PHOTO"}));
    const CycleOutput again = cycle.run();
    QCOMPARE(again.learnStatus, std::optional<int>(4));
    const Photometry short255 = ofSymbol(again);
    QVERIFY2(short255.bright < 250 && short255.bright >= 150, qPrintable(QString::number(short255.bright)));
    parameters.set("PHOTOEX", photo.join(' '));
    // Undoing the learn leaves the learned photometry (PHOTO AUTO gives it back): still reads.
    QVERIFY(cycle.command({"UNLEARN"}));
    QCOMPARE(parameters.fields("PHOTOEX"), photo);
    QVERIFY(cycle.run().symbolFound);
}

namespace {

int readsOutOf(ReadCycle& cycle, int cycles) {
    int reads = 0;
    for (int i = 0; i < cycles; ++i)
        reads += cycle.run().symbolFound ? 1 : 0;
    return reads;
}

} // namespace

void TestSimEngine::tuningScenesNeedTheirChange_data() {
    QTest::addColumn<QString>("part");
    QTest::addColumn<QString>("before"); // what the reader holds: the factory, or a learn on paper
    QTest::addColumn<QString>("parameter");
    QTest::addColumn<QString>("value");
    QTest::newRow("dark part, longer exposure") << "dark"
                                                << ""
                                                << "PHOTOEX"
                                                << "MANUAL 16000 0 30 20000 0 1023";
    QTest::newRow("light on dark, polarity LD") << "lightondark"
                                                << "POL DL"
                                                << "POL"
                                                << "LD";
    QTest::newRow("light on dark, polarity AUTO") << "lightondark"
                                                  << "POL DL"
                                                  << "POL"
                                                  << "AUTO";
    QTest::newRow("mirrored, style MIRROR") << "mirrored"
                                            << "STYLE NORMAL"
                                            << "STYLE"
                                            << "MIRROR";
    QTest::newRow("low contrast, longer exposure") << "lowcontrast"
                                                   << ""
                                                   << "PHOTOEX"
                                                   << "MANUAL 4000 0 30 20000 0 1023";
    QTest::newRow("low contrast, more gain") << "lowcontrast"
                                             << ""
                                             << "PHOTOEX"
                                             << "MANUAL 1000 640 30 20000 0 1023";
}

void TestSimEngine::tuningScenesNeedTheirChange() {
    QFETCH(QString, part);
    QFETCH(QString, before);
    QFETCH(QString, parameter);
    QFETCH(QString, value);
    Parameters parameters;
    ReadCycle cycle(parameters);
    QString error;
    QVERIFY2(cycle.scene().set("part", part, &error), qPrintable(error));
    if (!before.isEmpty())
        parameters.set(before.section(' ', 0, 0), before.section(' ', 1));
    // Let automatic photometry settle, then count.
    readsOutOf(cycle, 6);
    QCOMPARE(readsOutOf(cycle, 10), 0);
    parameters.set(parameter, value);
    readsOutOf(cycle, 2);
    QVERIFY(readsOutOf(cycle, 10) >= 9);
    QVERIFY(!cycle.scene().set("part", "glass", &error));
    QVERIFY(error.contains("lightondark"));
}

void TestSimEngine::learnReadsDarkPartAndUnlearnRestores() {
    // The bright label beside the dark part is whiter than the factory label's white paper: at
    // one exposure the band it makes along the top of the view shows brighter than the paper
    // does there.
    const auto topBand = [](const char* part) {
        Parameters p;
        p.set("PHOTOEX", "MANUAL 600 0 30 20000 0 1023");
        ReadCycle c(p);
        c.scene().set("part", part);
        const QImage image = c.run().image;
        return Camera::measure(image.copy(0, 0, image.width(), 30)).mean;
    };
    const double label = topBand("dark"), paper = topBand("paper");
    QVERIFY2(label > 1.08 * paper && label < 250, qPrintable(QString("%1 against %2").arg(label).arg(paper)));

    Parameters parameters;
    ReadCycle cycle(parameters);
    QVERIFY(cycle.scene().set("part", "dark"));
    parameters.set("ROWS", "AUTO");
    parameters.set("COLS", "16");
    parameters.set("POL", "DL");
    QCOMPARE(readsOutOf(cycle, 6), 0);
    QVERIFY(cycle.command({"LEARN", "BOTH"}));
    const CycleOutput learned = cycle.run();
    QCOMPARE(learned.learnStatus, std::optional<int>(6));
    QCOMPARE(parameters.fields("PHOTOEX").at(0), QStringLiteral("MANUAL"));
    QVERIFY(parameters.fields("PHOTOEX").at(1).toInt() > 3000);
    QCOMPARE(parameters.fields("ROWS"), QStringList{"16"});
    QCOMPARE(parameters.fields("POL"), QStringList{"DL"});
    QCOMPARE(parameters.fields("STYLE"), QStringList{"NORMAL"});
    QCOMPARE(readsOutOf(cycle, 5), 5);
    // Undoing puts back what the reader held before, not the factory values.
    QVERIFY(cycle.command({"UNLEARN"}));
    QCOMPARE(parameters.fields("ROWS"), QStringList{"AUTO"});
    QCOMPARE(parameters.fields("COLS"), QStringList{"16"});
    QCOMPARE(parameters.fields("POL"), QStringList{"DL"});
    QCOMPARE(parameters.fields("STYLE"), QStringList{"AUTO"});
    // A second undo has nothing of its own to put back: everything searches freely.
    QVERIFY(cycle.command({"UNLEARN"}));
    for (const char* name : {"ROWS", "COLS", "POL", "STYLE", "BCPOL"})
        QVERIFY2(parameters.fields(name) == QStringList{"AUTO"}, name);
    // LEARNEX DM learns the decoder settings of the Data Matrix in view as BOTH does.
    QVERIFY(cycle.command({"LEARNEX", "DM", "NONE"}));
    QCOMPARE(cycle.run().learnStatus, std::optional<int>(2));
    QCOMPARE(parameters.fields("ROWS"), QStringList{"16"});
    QCOMPARE(parameters.fields("STYLE"), QStringList{"NORMAL"});
}

void TestSimEngine::morphologyReachesTheDecoder() {
    Parameters parameters;
    ReadCycle cycle(parameters);
    QCOMPARE(readsOutOf(cycle, 5), 5);
    // Five dilations close the light gaps between the modules: nothing left to read.
    parameters.set("MORPH", "DILATE 5");
    const CycleOutput spoilt = cycle.run();
    QVERIFY(!spoilt.symbolFound);
    QCOMPARE(readsOutOf(cycle, 4), 0);
    parameters.set("MORPH", "CLOSE 1");
    QCOMPARE(readsOutOf(cycle, 4), 4);
}

void TestSimEngine::morphologyIsASquareMinimumOrMaximum_data() {
    QTest::addColumn<QString>("morph");
    QTest::addColumn<int>("iterations");
    QTest::addColumn<QSize>("size");
    for (const char* m : {"ERODE", "DILATE", "OPEN", "CLOSE"})
        for (int n = 1; n <= 5; ++n)
            QTest::addRow("%s %d", m, n) << QString(m) << n << QSize(37, 23);
    QTest::newRow("CLOSE 3, full picture") << "CLOSE" << 3 << QSize(Scene::kWidth, Scene::kHeight);
    QTest::newRow("ERODE 1, two pixels") << "ERODE" << 1 << QSize(2, 2);
}

// n erosions (dilations) of 3 x 3 are one minimum (maximum) over the (2n+1) square around each
// pixel, the square clipped at the picture's edges; opening is erosion then dilation.
void TestSimEngine::morphologyIsASquareMinimumOrMaximum() {
    QFETCH(QString, morph);
    QFETCH(int, iterations);
    QFETCH(QSize, size);
    QImage picture(size, QImage::Format_Grayscale8);
    quint32 seed = 12345;
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x) {
            seed = seed * 1664525u + 1013904223u;
            picture.scanLine(y)[x] = uchar(seed >> 24);
        }
    auto square = [&](const QImage& in, bool takeMin) {
        QImage out = in.copy();
        for (int y = 0; y < in.height(); ++y)
            for (int x = 0; x < in.width(); ++x) {
                int v = takeMin ? 255 : 0;
                for (int yy = std::max(0, y - iterations); yy <= std::min(in.height() - 1, y + iterations);
                     ++yy)
                    for (int xx = std::max(0, x - iterations); xx <= std::min(in.width() - 1, x + iterations);
                         ++xx)
                        v = takeMin ? std::min<int>(v, in.constScanLine(yy)[xx])
                                    : std::max<int>(v, in.constScanLine(yy)[xx]);
                out.scanLine(y)[x] = uchar(v);
            }
        return out;
    };
    QImage expected;
    if (morph == "ERODE")
        expected = square(picture, true);
    else if (morph == "DILATE")
        expected = square(picture, false);
    else if (morph == "OPEN")
        expected = square(square(picture, true), false);
    else
        expected = square(square(picture, false), true);
    ImagingSettings settings;
    settings.morph = morph;
    settings.morphIterations = iterations;
    const QImage before = picture.copy();
    const QImage result = Camera::preprocess(picture, settings);
    QCOMPARE(result.size(), size);
    for (int y = 0; y < size.height(); ++y)
        QVERIFY2(std::equal(result.constScanLine(y), result.constScanLine(y) + size.width(),
                            expected.constScanLine(y)),
                 qPrintable(QString("row %1 differs").arg(y)));
    QVERIFY(picture == before); // the caller's picture is left as it was
}

void TestSimEngine::exposureAndGainActLikeASensor() {
    Parameters parameters;
    ReadCycle cycle(parameters);
    auto shot = [&](int exposure, int gain) {
        parameters.set("PHOTOEX", QStringLiteral("MANUAL %1 %2 30 20000 0 1023").arg(exposure).arg(gain));
        return cycle.run();
    };
    const CycleOutput dim = shot(300, 0);
    const CycleOutput normal = shot(1000, 0);
    const CycleOutput bright = shot(8000, 0);
    QCOMPARE(dim.exposure, 300);
    QCOMPARE(bright.exposure, 8000);
    QVERIFY(Camera::measure(dim.image).mean < Camera::measure(normal.image).mean * 0.5);
    // The paper clips at the top: a brighter exposure cannot go past white.
    QVERIFY(Camera::measure(bright.image).saturated > 0.5);
    QVERIFY(!bright.photometryValid);
    QVERIFY(normal.photometryValid);
    // The same brightness through gain instead of exposure is noisier.
    // Neighbouring paper pixels differ only by noise; the light's fall-off is far slower.
    auto paperNoise = [](const QImage& image) {
        double squares = 0;
        int n = 0;
        for (int y = 5; y < 45; ++y) {
            const uchar* line = image.constScanLine(y);
            for (int x = 5; x < 100; ++x, ++n)
                squares += double(line[x + 1] - line[x]) * (line[x + 1] - line[x]);
        }
        return std::sqrt(squares / n / 2);
    };
    const CycleOutput longExposure = shot(800, 0);
    const CycleOutput highGain = shot(200, 640);
    QCOMPARE(highGain.gain, 640);
    QVERIFY(std::abs(Camera::measure(longExposure.image).mean - Camera::measure(highGain.image).mean) < 15);
    QVERIFY(paperNoise(highGain.image) > 1.5 * paperNoise(longExposure.image));
}

void TestSimEngine::assistedLearnUsesRegion() {
    Parameters parameters;
    ReadCycle cycle(parameters);
    const CycleOutput seen = runUntilRead(cycle, 3);
    QVERIFY(seen.symbolFound);
    QStringList command{"LEARNASSIST"};
    for (const QPointF& p : seen.corners)
        command << QString::number(qRound(p.x())) << QString::number(qRound(p.y()));
    QVERIFY(cycle.command(command + QStringList{"16", "16", "DL"}));
    QCOMPARE(cycle.run().learnStatus, std::optional<int>(2));
    QCOMPARE(parameters.fields("ROWS"), QStringList{"16"});
    // A region away from the symbol finds nothing; the settings stay.
    parameters.set("ROWS", "AUTO");
    QVERIFY(cycle.command({"LEARNASSIST", "0", "0", "60", "0", "60", "60", "0", "60", "16", "16", "DL"}));
    QCOMPARE(cycle.run().learnStatus, std::optional<int>(0));
    QCOMPARE(parameters.fields("ROWS"), QStringList{"AUTO"});
    QString error;
    QVERIFY(
        !cycle.command({"LEARNASSIST", "0", "0", "60", "0", "60", "60", "0", "60", "4", "16", "DL"}, &error));
    // A corner that is not a pair of numbers is named by its number, 0 to 3 in the order the
    // corners are sent, as the overlay numbers its handles.
    for (int corner = 0; corner < 4; ++corner) {
        QStringList words{"LEARNASSIST", "0", "0", "60", "0", "60", "60", "0", "60", "16", "16", "DL"};
        words[2 + 2 * corner] = "top";
        QVERIFY(!cycle.command(words, &error));
        QVERIFY2(error.contains(QStringLiteral("corner %1 ").arg(corner)), qPrintable(error));
    }
}

// Ink that spreads shows a positive Print Growth, ink that shrinks a negative one: the clean
// picture with its dark modules grown, then shrunk, by a pixel on every side (of 9). (What a
// verifying reader's record carries is in tests/sim/transcripts/grading-datamatrix.txt. A
// fainter print grading worse is checked over the reader's records by the filmstrip's contract,
// gradedCycle: a print at 90 % contrast grades good, at 60 % poor or fair as the quality range
// says.)
void TestSimEngine::printGrowthTakesItsSign() {
    Parameters parameters;
    parameters.set("VERIFY", "ISO");
    ReadCycle cycle(parameters);
    const CycleOutput clean = runUntilRead(cycle, 4);
    QVERIFY(clean.symbolFound);
    const QImage picture = clean.image.convertToFormat(QImage::Format_Grayscale8);
    for (const int spread : {1, -1}) {
        QImage printed = picture;
        for (int y = 1; y < picture.height() - 1; ++y)
            for (int x = 1; x < picture.width() - 1; ++x) {
                int v = picture.constScanLine(y)[x];
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx) {
                        const int n = picture.constScanLine(y + dy)[x + dx];
                        v = spread > 0 ? std::min(v, n) : std::max(v, n);
                    }
                printed.scanLine(y)[x] = uchar(v);
            }
        QBuffer bmp;
        QVERIFY(bmp.open(QIODevice::WriteOnly) && printed.save(&bmp, "BMP"));
        QString error;
        QVERIFY(cycle.command({"DRIVEDELETE", "FILES"}, &error));
        QVERIFY2(cycle.addFile("printed.bmp", bmp.data(), &error), qPrintable(error));
        QVERIFY(cycle.command({"CAPTURE", "FILES"}, &error));
        const CycleOutput out = runUntilRead(cycle, 4);
        QVERIFY(out.symbolFound);
        QVERIFY2(out.verification.value("printGrowth").toDouble() * spread > 0.1,
                 QJsonDocument(out.verification).toJson());
    }
}

void TestSimEngine::printFaultsLowerTheirOwnGrade_data() {
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("lowered");  // the grade the fault must lower
    QTest::addColumn<QStringList>("kept"); // grades that stay as on a good print
    QTest::addColumn<QString>("rises");    // a value that must grow, when given
    QTest::newRow("pale ink") << "fade 45"
                              << "Symbol Contrast"
                              << QStringList{"Fixed Pattern Damage", "Axial Nonuniformity",
                                             "Grid Nonuniformity", "Unused Error Correction", "Modulation"}
                              << "";
    QTest::newRow("damaged finder") << "finder 5"
                                    << "Fixed Pattern Damage"
                                    << QStringList{"Symbol Contrast", "Axial Nonuniformity",
                                                   "Grid Nonuniformity", "Unused Error Correction",
                                                   "Modulation"}
                                    << "fixedPatternDamage";
    QTest::newRow("uneven cells") << "uneven 55"
                                  << "Axial Nonuniformity"
                                  << QStringList{"Symbol Contrast", "Fixed Pattern Damage",
                                                 "Unused Error Correction"}
                                  << "gridNonuniformity";
}

// Each print fault shows in its own grade and leaves the grades of the other faults as
// they are on a good print.
void TestSimEngine::printFaultsLowerTheirOwnGrade() {
    QFETCH(QString, fault);
    QFETCH(QString, lowered);
    QFETCH(QStringList, kept);
    QFETCH(QString, rises);
    // Factory settings: a verifying reader searches thoroughly by itself when a broken finder
    // edge defeats the fast search.
    Parameters parameters;
    parameters.set("VERIFY", "ISO");
    ReadCycle cycle(parameters);
    const CycleOutput good = runUntilRead(cycle, 4);
    QVERIFY(good.symbolFound);
    for (const QString& name : kept + QStringList{lowered})
        QVERIFY2(gradeOf(good, name) == "A",
                 qPrintable(name + ": " + QJsonDocument(good.verification).toJson()));
    QCOMPARE(good.verification.value("overallGrade").toString(), QStringLiteral("A"));
    // An undamaged fixed pattern names no segment, and every fixed module matches.
    QCOMPARE(graded(good, "Fixed Pattern Damage").value("value").toString(), QStringLiteral("0.0%"));
    QCOMPARE(graded(good, "Border Match").value("value").toString(), QStringLiteral("100.0%"));

    QString error;
    QVERIFY2(cycle.scene().set("fault", fault, &error), qPrintable(error));
    for (int i = 0; i < 3; ++i) {
        const CycleOutput out = runUntilRead(cycle, 4);
        QVERIFY2(out.symbolFound, qPrintable(fault));
        const QString json = QString::fromUtf8(QJsonDocument(out.verification).toJson());
        QVERIFY2(gradeOf(out, lowered) > "A", qPrintable(lowered + " stays A in " + json));
        for (const QString& name : kept)
            QVERIFY2(gradeOf(out, name) == "A", qPrintable(name + " drops in " + json));
        if (!rises.isEmpty())
            QVERIFY2(out.verification.value(rises).toDouble() >
                         good.verification.value(rises).toDouble() + 0.1,
                     qPrintable(json));
        QVERIFY2(out.verification.value("overallGrade").toString() > "A", qPrintable(json));
    }
    // The finder damage names its segment: the left edge is L1. 5 % of the 31 modules of the
    // 16 x 16 symbol's solid L is 2 modules, all on the left edge of 16: 12.5 %, a C (to 13 %);
    // Border Match counts the same modules from the other side, 87.5 %, an F (below 90 %).
    if (fault.startsWith("finder")) {
        const CycleOutput damaged = runUntilRead(cycle, 4);
        const QJsonObject damage = graded(damaged, "Fixed Pattern Damage"),
                          match = graded(damaged, "Border Match");
        QCOMPARE(damage.value("value").toString(), QStringLiteral("12.5% L1"));
        QCOMPARE(damage.value("grade").toString(), QStringLiteral("C"));
        QCOMPARE(match.value("value").toString(), QStringLiteral("87.5%"));
        QCOMPARE(match.value("grade").toString(), QStringLiteral("F"));
        // The bottom edge printed light over most of its length instead: L2.
        QImage bottom = good.image;
        const DecodeOutcome read = decodeImage(bottom, DecoderSettings{});
        QVERIFY(read.found && read.grid.isValid());
        // Those two are all that print light: in the picture the reader sees, the rest of the L
        // (the bottom edge whole) stays as dark as its corner.
        const int ink = qGray(good.image.pixel(read.grid.moduleCentre(0, 0).toPoint()));
        const int mid = (ink + qGray(good.image.pixel(read.grid.moduleCentre(0, 1).toPoint()))) / 2;
        QStringList light;
        for (int r = 0; r < read.grid.rows; ++r)
            for (int c = 0; c < read.grid.cols; ++c)
                if ((c == 0 || r == read.grid.rows - 1) &&
                    qGray(damaged.image.pixel(read.grid.moduleCentre(r, c).toPoint())) > mid)
                    light << QStringLiteral("row %1 col %2").arg(r).arg(c);
        QVERIFY2(light.size() == 2 && light.filter(" col 0").size() == 2, qPrintable(light.join(", ")));
        const int paper = qGray(bottom.pixel(read.grid.moduleCentre(0, 1).toPoint()));
        QPainter painter(&bottom);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(paper, paper, paper));
        const double half = (read.grid.pitchAcross() + read.grid.pitchDown()) / 4;
        for (int c = 3; c < read.grid.cols - 3; ++c)
            painter.drawEllipse(read.grid.moduleCentre(read.grid.rows - 1, c), half, half);
        painter.end();
        QCOMPARE(measureSymbol(bottom, read, 100.0 / 255).damagedSegment, QStringLiteral("L2"));
        // A reader that does not verify searches fast, which needs an unbroken finder, unless
        // told to allow severe damage.
        parameters.set("VERIFY", "NONE");
        QCOMPARE(readsOutOf(cycle, 3), 0);
        parameters.set("DM_ALLOW_SEVERE_DAMAGE", "ON");
        QCOMPARE(readsOutOf(cycle, 3), 3);
        parameters.set("DM_ALLOW_SEVERE_DAMAGE", "OFF");
        parameters.set("VERIFY", "ISO");
    }
    // Pale ink fading further at 5 % a second: "drift fade off" keeps the strength the drift
    // reached (60 % or more: Symbol Contrast a D), it neither falls back to 45 % nor grows.
    if (fault.startsWith("fade")) {
        QVERIFY(cycle.scene().set("drift", "fade 300"));
        QTRY_VERIFY_WITH_TIMEOUT(cycle.scene().defects().fade() >= 60, 10000);
        // A strength set during the drift is where the drift goes on from.
        QVERIFY(cycle.scene().set("fault", "fade 45", &error));
        QVERIFY2(cycle.scene().defects().fade() <= 46,
                 qPrintable(QString::number(cycle.scene().defects().fade())));
        QTRY_VERIFY_WITH_TIMEOUT(cycle.scene().defects().fade() >= 60, 10000);
        QVERIFY(cycle.scene().set("drift", "fade off"));
        const int reached = cycle.scene().defects().fade();
        QVERIFY2(reached >= 60 && reached < 70, qPrintable(QString::number(reached)));
        const CycleOutput faded = runUntilRead(cycle, 4);
        QVERIFY2(gradeOf(faded, "Symbol Contrast") == "D", QJsonDocument(faded.verification).toJson());
        QCOMPARE(cycle.scene().defects().fade(), reached);
    }
    // Without the fault the print is good again, and "fault none" stops a drift as well: the
    // ink fading at 100 % a second neither comes back nor grows.
    QVERIFY(cycle.scene().set("drift", "fade 6000"));
    QVERIFY(cycle.scene().set("fault", "none", &error));
    QCOMPARE(cycle.scene().defects().driftRate("fade"), 0.0);
    QVERIFY(!cycle.scene().settings().value("faults").toObject().contains("drift"));
    QCOMPARE(runUntilRead(cycle, 4).verification.value("overallGrade").toString(), QStringLiteral("A"));
    QCOMPARE(cycle.scene().defects().fade(), 0);
    // "drift off" stops every kind's drift at once, the last kind's as well as the first's.
    const QStringList kinds{"fade", "finder", "uneven", "spot"};
    for (const QString& kind : kinds)
        QVERIFY(cycle.scene().set("drift", kind + " 1"));
    QVERIFY(cycle.scene().set("drift", "off"));
    for (const QString& kind : kinds)
        QVERIFY2(cycle.scene().defects().driftRate(kind) == 0.0, qPrintable(kind));
    QVERIFY(!cycle.scene().settings().value("faults").toObject().contains("drift"));
}

void TestSimEngine::strongPrintFaultsFailTheRead_data() {
    QTest::addColumn<QString>("fault");
    // The finder gone ("finder 100"): tables/verificationreport.cpp locatedNotDecoded.
    QTest::newRow("ink too pale") << "fade 95";
    QTest::newRow("cells all over") << "uneven 100";
}

void TestSimEngine::strongPrintFaultsFailTheRead() {
    QFETCH(QString, fault);
    Parameters parameters;
    parameters.set("VERIFY", "ISO");
    ReadCycle cycle(parameters);
    QVERIFY(runUntilRead(cycle, 4).symbolFound);
    QVERIFY(cycle.scene().set("fault", fault));
    QCOMPARE(readsOutOf(cycle, 4), 0);
    const CycleOutput out = cycle.run();
    QCOMPARE(out.verification.value("overallGrade").toString(), QStringLiteral("F"));
    QString error;
    QVERIFY(!cycle.scene().set("fault", "finder 101", &error));
    QVERIFY(error.contains("100"));
    QVERIFY(!cycle.scene().set("fault", "smudge 10", &error));
    QVERIFY(error.contains("uneven"));
}

// A barcode is graded scan by scan across its bars: pale ink lowers the symbol contrast
// of every scan, a spot in a space the defects of the scans that cross it.
void TestSimEngine::barcodeScansGradeContrastAndDefects() {
    Parameters parameters;
    parameters.set("VERIFY", "ANSI");
    parameters.set("NUMBC", "1");
    parameters.set("BARCODE ENABLE", "0x1");
    ReadCycle cycle(parameters);
    QVERIFY(cycle.scene().setSymbology("CODE128"));
    QVERIFY(cycle.scene().set("rotation", "0"));
    QVERIFY(cycle.scene().set("serialdigits", "0"));
    // A short text prints the bars wide enough (7 pixels a module) for the 0.8 X aperture to
    // see each narrow element's full reflectance through the lens's blur.
    QVERIFY(cycle.scene().set("text", "VM42"));
    const CycleOutput good = runUntilRead(cycle, 4);
    QVERIFY(good.symbolFound);
    const QString goodJson = QString::fromUtf8(QJsonDocument(good.verification).toJson());
    QCOMPARE(good.verification.value("scanGrades").toArray().size(), 10);
    for (const QString& name :
         QStringList{"Symbol Contrast", "Minimum Reflectance", "Edge Contrast", "Defects", "Decode"})
        QVERIFY2(gradeOf(good, name) == "A", qPrintable(name + " in " + goodJson));
    QVERIFY2(good.verification.value("defects").toDouble() < 0.15, qPrintable(goodJson));
    QCOMPARE(graded(good, "Decode").value("value").toString(), QStringLiteral("10 of 10 scans"));
    // The symbol's grade is the average of its scans', not its worst parameter's.
    QCOMPARE(good.verification.value("overallGrade").toString(), gradeOf(good, "Scan Grade"));
    QVERIFY2(gradeOf(good, "Modulation") == "A", qPrintable(goodJson));

    QVERIFY(cycle.scene().set("fault", "fade 30"));
    const CycleOutput pale = runUntilRead(cycle, 4);
    QVERIFY(pale.symbolFound);
    const QString paleJson = QString::fromUtf8(QJsonDocument(pale.verification).toJson());
    QVERIFY2(gradeOf(pale, "Symbol Contrast") > "A", qPrintable(paleJson));
    QVERIFY2(pale.verification.value("symbolContrast").toDouble() <
                 good.verification.value("symbolContrast").toDouble() - 15,
             qPrintable(paleJson));
    QVERIFY2(gradeOf(pale, "Defects") == "A", qPrintable(paleJson));

    QVERIFY(cycle.scene().set("fault", "fade 0"));
    QVERIFY(cycle.scene().set("fault", "spot 30"));
    const CycleOutput spotted = runUntilRead(cycle, 4);
    QVERIFY(spotted.symbolFound);
    const QString spotJson = QString::fromUtf8(QJsonDocument(spotted.verification).toJson());
    QVERIFY2(gradeOf(spotted, "Defects") > "B", qPrintable(spotJson));
    QVERIFY2(spotted.verification.value("defects").toDouble() >
                 good.verification.value("defects").toDouble() + 0.05,
             qPrintable(spotJson));
    QVERIFY2(gradeOf(spotted, "Symbol Contrast") == "A", qPrintable(spotJson));
    QCOMPARE(graded(spotted, "Decode").value("value").toString(), QStringLiteral("10 of 10 scans"));
    QVERIFY2(spotted.verification.value("scanGrade").toDouble() <
                 good.verification.value("scanGrade").toDouble(),
             qPrintable(spotJson));
}

void TestSimEngine::learnReadsLowContrastPart() {
    Parameters parameters;
    ReadCycle cycle(parameters);
    QVERIFY(cycle.scene().set("part", "lowcontrast"));
    readsOutOf(cycle, 6);
    QCOMPARE(readsOutOf(cycle, 6), 0);
    QVERIFY(cycle.command({"LEARN", "BOTH"}));
    const CycleOutput learned = cycle.run();
    QCOMPARE(learned.learnStatus, std::optional<int>(6));
    QCOMPARE(parameters.fields("PHOTOEX").at(0), QStringLiteral("MANUAL"));
    QVERIFY(readsOutOf(cycle, 10) >= 9);
}

// A set orientation searches only the picture turned near it and refuses symbols turned
// elsewhere; a symbol inside it is found in the first picture searched.
void TestSimEngine::orientationNarrowsTheSearch() {
    Parameters parameters;
    ReadCycle cycle(parameters);
    QVERIFY(cycle.scene().set("rotation", "190"));
    const CycleOutput automatic = runUntilRead(cycle, 4);
    QVERIFY(automatic.symbolFound);
    const QImage upsideDown = automatic.image;
    // The search starts with the turn that read the last symbol: read an upright one first,
    // so that the automatic search of the turned picture has to look further.
    QVERIFY(cycle.scene().set("rotation", "8"));
    QVERIFY(runUntilRead(cycle, 4).symbolFound);
    QVERIFY(cycle.scene().set("rotation", "190"));
    DecoderSettings settings;
    const DecodeOutcome searched = decodeImage(upsideDown, settings);
    QVERIFY(searched.found);
    settings.orientation = 5; // upside down
    const DecodeOutcome narrowed = decodeImage(upsideDown, settings);
    QVERIFY(narrowed.found);
    QCOMPARE(narrowed.text, searched.text);
    QCOMPARE(narrowed.turns, 1);
    QVERIFY2(searched.turns > narrowed.turns, qPrintable(QString::number(searched.turns)));
    for (int outside : {1, 2, 3, 7, 8}) {
        settings.orientation = outside;
        const DecodeOutcome refused = decodeImage(upsideDown, settings);
        QVERIFY2(!refused.found, qPrintable(QString::number(outside)));
    }
    // 190 degrees lies within 45 of 4 x 45 and 5 x 45 degrees.
    settings.orientation = 6;
    QVERIFY(decodeImage(upsideDown, settings).found);

    // Through the reader's parameters: ORIENT 1 and 8 (315 degrees) miss the turned part,
    // AUTO and 5 read it.
    for (const char* outside : {"1", "8"}) {
        parameters.set("ORIENT", outside);
        QVERIFY2(readsOutOf(cycle, 3) == 0, outside);
    }
    parameters.set("ORIENT", "5");
    QCOMPARE(readsOutOf(cycle, 3), 3);
    QVERIFY(cycle.scene().set("rotation", "8"));
    QCOMPARE(readsOutOf(cycle, 3), 0);
    parameters.set("ORIENT", "AUTO");
    QCOMPARE(readsOutOf(cycle, 3), 3);
}

void TestSimEngine::calibrationMeasuresTarget() {
    Parameters parameters;
    parameters.set("VERIFY", "AIM");
    parameters.set("PHOTOEX", "AUTO 1000 200 30 20000 200 200"); // the gain held at 200
    parameters.set("TARGET_CALIB_CONTRAST", "80");
    parameters.set("TARGET_CALIB_REFLECTANCE", "85");
    ReadCycle cycle(parameters);
    QVERIFY(runUntilRead(cycle, 4).symbolFound);
    QVERIFY(cycle.command({"LEARN", "CALIBRATE"}));
    QVERIFY(cycle.calibrationPending());
    const CycleOutput out = cycle.run();
    QVERIFY(!cycle.calibrationPending());
    // What a calibration's record and the calibration's parameters answer is in
    // tests/sim/transcripts/calibration.txt; the reader's own light is calibrated under its name.
    QCOMPARE(parameters.fields("CALIBRATED INTERNAL"), QStringList{"TRUE"});
    // The light's photometry is the exposure and gain the target was measured with.
    QCOMPARE(out.gain, 200);
    QCOMPARE(parameters.fields("CONTRASTCAL"), (QStringList{"ON", QString::number(out.exposure), "200"}));
    // Calibrated grading reports reflectance against the target's.
    const CycleOutput graded = runUntilRead(cycle, 2);
    QVERIFY(graded.verification.value("symbolContrast").toDouble() > 60);
    // It names the calibrated exposure and gain it graded at, each under its own name.
    QCOMPARE(graded.verification.value("gradedExposure").toInt(), out.exposure);
    QCOMPARE(graded.verification.value("gradedGain").toInt(), 200);
    // R_cal is the mean grey of the target's light modules, so the target itself, read again,
    // shows its light modules at the target's reflectance, 85 %.
    const double lightest = graded.verification.value("maxReflectance").toDouble();
    QVERIFY2(std::abs(lightest - 85) < 3, qPrintable(QString::number(lightest)));
    // The target's light modules must lie from grey 60 to 250 in the picture calibrated on: the
    // same label dimmed to a quarter, or brightened until its light modules clip, fails with 4709.
    const auto calibratedOn = [](const QImage& picture) {
        return calibrate(picture, decodeImage(picture, DecoderSettings{}), CalibrationRequest{}).errorCode;
    };
    QCOMPARE(calibratedOn(graded.image), 0);
    // No symbol in view at all: a verification process error, 4700.
    QImage blank(graded.image.size(), QImage::Format_Grayscale8);
    blank.fill(200);
    QCOMPARE(calibratedOn(blank), 4700);
    for (const double factor : {0.25, 2.0}) {
        QImage changed = graded.image.convertToFormat(QImage::Format_Grayscale8);
        for (int y = 0; y < changed.height(); ++y) {
            uchar* line = changed.scanLine(y);
            for (int x = 0; x < changed.width(); ++x)
                line[x] = uchar(std::min(255.0, line[x] * factor));
        }
        QCOMPARE(calibratedOn(changed), 4709);
    }

    // An aperture wider than a cell (9 pixels) is too large to measure with.
    parameters.set("APERTURE", "12");
    QVERIFY(cycle.command({"LEARN", "CALIBRATE"}));
    cycle.run();
    QCOMPARE(parameters.fields("CALIBRATED_STRING"),
             QStringList{"\"ISO Verification aperture too large. Cell Size is out of spec < .005 inches\""});
    // A failed light reports no cell unit, the camera's whole grey range and no R_cal.
    QCOMPARE(parameters.fields("CONTRAST").value(0).toDouble(), 255.0);
    QCOMPARE(parameters.fields("CONTRAST").value(1).toDouble(), 0.0);
    QCOMPARE(parameters.fields("CELL_UNIT").value(0).toDouble(), 100.0);
    QCOMPARE(parameters.fields("CAL_MEAN_LIGHT").value(0).toDouble(), 0.0);
    // The smallest aperture, 4 pixels, measures the factory label's 9-pixel cells; cells of
    // 18 pixels are more than four times wider (4711), which an 8-pixel aperture measures.
    struct Case {
        const char *scale, *aperture;
        int code;
    };
    for (const Case& c : {Case{"9", "4", 0}, Case{"18", "4", 4711}, Case{"18", "8", 0}}) {
        QVERIFY(cycle.scene().set("scale", c.scale));
        parameters.set("APERTURE", c.aperture);
        QVERIFY(cycle.command({"LEARN", "CALIBRATE"}));
        QVERIFY2(cycle.run().calibration.value("errorCode").toInt() == c.code,
                 qPrintable(parameters.fields("CALIBRATED_STRING").join(' ')));
    }
    QCOMPARE(parameters.fields("CALIBRATED"), QStringList{"TRUE"});
    // With the automatic aperture, cells over 30 pixels are more than the reader measures: a
    // short text's 10 x 10 symbol at 31 pixels a cell fails with 4711.
    const QString text = cycle.scene().settings().value("text").toString();
    QVERIFY(cycle.scene().set("text", "7"));
    QVERIFY(cycle.scene().set("scale", "31"));
    parameters.set("APERTURE", "AUTO");
    QVERIFY(cycle.command({"LEARN", "CALIBRATE"}));
    QCOMPARE(cycle.run().calibration.value("errorCode").toInt(), 4711);
    QVERIFY(cycle.scene().set("text", text));
    QVERIFY(cycle.scene().set("scale", "9"));

    // A print of half the contrast cannot stand for a 95 % target.
    QVERIFY(cycle.scene().set("contrast", "50"));
    parameters.set("TARGET_CALIB_CONTRAST", "95");
    QVERIFY(cycle.command({"LEARN", "CALIBRATE"}));
    const CycleOutput faint = cycle.run();
    QCOMPARE(faint.calibration.value("errorCode").toInt(), 4650);
    QCOMPARE(parameters.fields("CALIBRATED"), QStringList{"FALSE"});
    QCOMPARE(parameters.fields("CALIBRATED_STRING"),
             QStringList{"\"Verification contrast calibration failure\""});
    // The calibration before it is gone too: the next read is graded on grey levels as they
    // are, and says so.
    const CycleOutput uncalibrated = runUntilRead(cycle, 4);
    QVERIFY(uncalibrated.symbolFound);
    QVERIFY2(uncalibrated.verification.value("warning").toString().startsWith("Not Calibrated: "),
             qPrintable(uncalibrated.verification.value("warning").toString()));

    // Calibrated on the label printed at half its brightness, the reader grades at a long
    // exposure: the same label with a patch of 2 x 2 cells in its middle at full brightness
    // has about 1 % of the symbol at full scale (above 0.2 %), and the result says so.
    parameters.set("TARGET_CALIB_CONTRAST", "80");
    const QImage label = Scene().nextFrame().reflectance;
    const QRect patch(Scene::kWidth / 2 - 9, Scene::kHeight / 2 - 9, 18, 18);
    auto show = [&](bool patched) {
        QImage picture = label;
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x)
                if (!patched || !patch.contains(x, y))
                    picture.scanLine(y)[x] /= 2;
        QBuffer bmp;
        QString error;
        return bmp.open(QIODevice::WriteOnly) && picture.save(&bmp, "BMP") &&
               cycle.command({"DRIVEDELETE", "FILES"}, &error) &&
               cycle.addFile("label.bmp", bmp.data(), &error) && cycle.command({"CAPTURE", "FILES"}, &error);
    };
    QVERIFY(show(false));
    QVERIFY(cycle.command({"LEARN", "CALIBRATE"}));
    QCOMPARE(cycle.run().calibration.value("errorCode").toInt(), 0);
    QVERIFY(!runUntilRead(cycle, 2).verification.contains("saturated"));
    QVERIFY(show(true));
    const CycleOutput bright = runUntilRead(cycle, 2);
    QVERIFY(bright.symbolFound);
    QVERIFY2(bright.verification.value("saturated").toBool(), QJsonDocument(bright.verification).toJson());
    QVERIFY(bright.verification.value("warning").toString().startsWith("Saturated: "));
}

void TestSimEngine::calibrationFailsWithoutSymbol() {
    Parameters parameters;
    parameters.set("XLIGHTCHANNELS", "10");
    parameters.set("LIGHT_CTL", "45Q");
    ReadCycle cycle(parameters);
    QVERIFY(cycle.scene().set("contrast", "0"));
    QVERIFY(cycle.command({"LEARN", "CALIBRATE"}));
    const CycleOutput out = cycle.run();
    QCOMPARE(out.calibration.value("light").toString(), QStringLiteral("45Q"));
    QCOMPARE(out.calibration.value("errorCode").toInt(), 4700);
    QCOMPARE(out.learnStatus, std::optional<int>(0));
    QCOMPARE(parameters.fields("CALIBRATED 45Q"), QStringList{"FALSE"});
    QCOMPARE(parameters.fields("CALIBRATED_STRING 45Q"), QStringList{"\"Verification process error\""});
    QVERIFY(parameters.fields("XLIGHTCONTRASTCAL 45Q").size() == 3);

    // A QR Code cannot calibrate: the reader needs ECC 200.
    QVERIFY(cycle.scene().set("contrast", "90"));
    QVERIFY(cycle.scene().setSymbology("QR"));
    parameters.set("NUMBC", "1");
    parameters.set("BARCODE ENABLE", "0x20000");
    QVERIFY(runUntilRead(cycle, 3).symbolFound);
    QVERIFY(cycle.command({"LEARN", "CALIBRATE"}));
    QCOMPARE(cycle.run().calibration.value("errorCode").toInt(), 4710);
    QCOMPARE(parameters.fields("CALIBRATED_STRING"), QStringList{"\"ISO Verification ECC200 required\""});
    // A Data Matrix seen whose module grid could not be fitted: error 4718.
    DecodeOutcome unfitted;
    unfitted.found = true;
    unfitted.symbology = QStringLiteral("Data Matrix");
    const QJsonObject noGrid = calibrate(QImage(), unfitted, CalibrationRequest{}).toJson();
    QCOMPARE(noGrid.value("errorCode").toInt(), 4718);
    QCOMPARE(noGrid.value("status").toString(),
             QStringLiteral("ISO Verification failed RDA final image adjustment"));
}

void TestSimEngine::externalLightsLightTheCalibration() {
    Parameters parameters;
    parameters.set("XLIGHTCHANNELS", "10");
    parameters.set("ILLUM", "OFF");
    parameters.set("VERIFY", "AIM");
    parameters.set("PHOTOEX", "MANUAL 1000 100 30 20000 100 100"); // the gain held at 100
    ReadCycle cycle(parameters);
    // With the reader's own light off, each calibration sees only the external light it
    // selects, settled at once even though the exposure starts where the last light left it;
    // the light's photometry is the exposure and gain it was measured with.
    QHash<QString, double> exposure;
    for (const QString light : {"90", "45Q", "30S_N"}) {
        parameters.set("LIGHT_CTL", light);
        QVERIFY(cycle.command({"LEARN", "CALIBRATE"}));
        const CycleOutput out = cycle.run();
        QCOMPARE(out.calibration.value("light").toString(), light);
        QCOMPARE(out.calibration.value("errorCode").toInt(), 0);
        QCOMPARE(parameters.fields("CALIBRATED " + light), QStringList{"TRUE"});
        QCOMPARE(out.gain, 100);
        QCOMPARE(parameters.fields("XLIGHTCONTRASTCAL " + light),
                 (QStringList{"ON", QString::number(out.exposure), "100"}));
        // The light's cell unit is kept under its name as well as for the current light.
        const QStringList cell{QString::number(out.calibration.value("cellUnit").toDouble(), 'f', 2)};
        QCOMPARE(parameters.fields("CELL_UNIT " + light), cell);
        QCOMPARE(parameters.fields("CELL_UNIT"), cell);
        exposure.insert(light, out.exposure * gainFactor(out.gain));
        QVERIFY(out.photometryValid);
    }
    // The low-angle blue light returns less light from flat paper than the bright field.
    QVERIFY2(exposure.value("30S_N") > exposure.value("90"),
             qPrintable(QString("%1 %2").arg(exposure.value("30S_N")).arg(exposure.value("90"))));

    // A lamp at 2 % leaves the hall's light to dominate: the mean light is bad.
    QString error;
    QVERIFY(setLampOutput(parameters, "45Q", "2", &error));
    QVERIFY(!setLampOutput(parameters, "45X", "2", &error));
    QVERIFY(!setLampOutput(parameters, "45Q", "101", &error));
    parameters.set("LIGHT_CTL", "45Q");
    QVERIFY(cycle.command({"LEARN", "CALIBRATE"}));
    const CycleOutput dark = cycle.run();
    QCOMPARE(dark.calibration.value("errorCode").toInt(), 4709);
    QCOMPARE(dark.learnStatus, std::optional<int>(0));
    QCOMPARE(parameters.fields("CALIBRATED 45Q"), QStringList{"FALSE"});
    // The calibrate window shows the reader's text for the code as the light's status.
    QCOMPARE(parameters.fields("CALIBRATED_STRING 45Q"), QStringList{"\"ISO Verification mean light bad\""});
    // The lamp back at its full 100 % calibrates again.
    QVERIFY2(setLampOutput(parameters, "45Q", "100", &error), qPrintable(error));
    QVERIFY(cycle.command({"LEARN", "CALIBRATE"}));
    QCOMPARE(cycle.run().calibration.value("errorCode").toInt(), 0);
    QCOMPARE(parameters.fields("CALIBRATED 45Q"), QStringList{"TRUE"});

    // A single channel is the lamp the operator fitted: WAVELENGTH says how much of its light
    // the sensor sees (less in the infrared). Ten channels each have their own colour.
    const auto levelAt = [](const char* channels, const char* light, const char* wavelength) {
        Parameters p;
        p.set("XLIGHTCHANNELS", channels);
        p.set("LIGHT_CTL", light);
        p.set("WAVELENGTH", wavelength);
        return selectedExternalLight(FieldReader(p)).level;
    };
    QVERIFY(levelAt("1", "90", "880") < 0.7 * levelAt("1", "90", "625"));
    QCOMPARE(levelAt("10", "90", "880"), levelAt("10", "90", "625"));

    // Without an external light selected nothing but the hall lights the part.
    parameters.set("LIGHT_CTL", "OFF");
    QCOMPARE(selectedExternalLight(FieldReader(parameters)).level, 0.0);
    QVERIFY(controlledLightShare(FieldReader(parameters)) < kMinimumLightShare);
    // With its own light on, that light is the one calibrated, as INTERNAL.
    parameters.set("ILLUM", "ON");
    QVERIFY(cycle.command({"LEARN", "CALIBRATE"}));
    const CycleOutput own = cycle.run();
    QCOMPARE(own.calibration.value("light").toString(), QStringLiteral("INTERNAL"));
    QCOMPARE(own.calibration.value("errorCode").toInt(), 0);
    QCOMPARE(parameters.fields("CALIBRATED INTERNAL"), QStringList{"TRUE"});
}

// The finder fault prints light round(strength x 31) modules of a 16 x 16 symbol's L (left
// column and bottom row): the middle of the left edge first, the rest in the middle of the
// bottom edge, the L's three corners always dark. A strength outside 0 to 100 names the fault.
void TestSimEngine::finderFaultSparesTheCorners() {
    Scene scene;
    const auto lightModules = [&](const char* strength) {
        QString error;
        if (!scene.set("fault", QStringLiteral("finder ") + strength, &error))
            return error;
        QStringList light;
        for (int row = 0; row < 16; ++row)
            if (!scene.defects().finderModuleDark(true, 0, row, 16, 16))
                light << QStringLiteral("left %1").arg(row);
        for (int col = 1; col < 16; ++col)
            if (!scene.defects().finderModuleDark(true, col, 15, 16, 16))
                light << QStringLiteral("bottom %1").arg(col);
        return light.join(' ');
    };
    QCOMPARE(lightModules("13"), QStringLiteral("left 6 left 7 left 8 left 9"));
    // 30 % of the L's 31 modules is 9.3: nine of them.
    QCOMPARE(lightModules("30"),
             QStringLiteral("left 3 left 4 left 5 left 6 left 7 left 8 left 9 left 10 left 11"));
    QCOMPARE(lightModules("50"),
             QStringLiteral("left 1 left 2 left 3 left 4 left 5 left 6 left 7 left 8 left 9 left 10 "
                            "left 11 left 12 left 13 left 14 bottom 7 bottom 8"));
    QCOMPARE(lightModules("150"), QStringLiteral("the strength of finder lies between 0 and 100 percent"));
    QCOMPARE(lightModules("-1"), QStringLiteral("the strength of finder lies between 0 and 100 percent"));
}

// Each numeric scene setting takes its whole range, both ends included, and refuses a step
// beyond either end, saying what it takes; the scene's settings then answer what it took.
// Print faults and their drifts alike, each kind under its own name.
void TestSimEngine::sceneSettingsTakeTheirRanges() {
    struct Range {
        const char* key;
        double low, high, step;
    };
    for (const Range& r :
         {Range{"serial", 0, 1e12, 1}, Range{"serialdigits", 0, 12, 1}, Range{"serialstep", -1000, 1000, 1},
          Range{"x", 0, 659, 0.5}, Range{"y", 0, 494, 0.5}, Range{"rotation", -360, 360, 0.5},
          Range{"scale", 1, 40, 0.5}, Range{"contrast", 0, 100, 1}, Range{"noise", 0, 60, 0.5},
          Range{"blur", 0, 3, 1}}) {
        Scene scene;
        QString error;
        const QString told =
            QStringLiteral("%1 must lie between %2 and %3").arg(QLatin1String(r.key)).arg(r.low).arg(r.high);
        for (const double inside : {r.low, r.high}) {
            QVERIFY2(scene.set(r.key, QString::number(inside, 'g', 13), &error), qPrintable(error));
            QCOMPARE(scene.settings().value(r.key).toDouble(), inside);
        }
        for (const double outside : {r.low - r.step, r.high + r.step}) {
            QVERIFY2(!scene.set(r.key, QString::number(outside, 'g', 13), &error), r.key);
            QCOMPARE(error, told);
        }
    }

    // A strength lies from 0 to 100 %, a drift from -6000 to 6000 % a minute (a whole strength
    // in a second either way). Each kind gets a strength and a rate of its own, so that one
    // kind answered under another's name shows.
    struct Fault {
        const char* kind;
        int strength;
        double rate;
    };
    const QList<Fault> faults{
        {"fade", 0, -6000}, {"finder", 100, 6000}, {"uneven", 7, 2.5}, {"spot", 42, -1}};
    Scene scene;
    QString error;
    for (const Fault& f : faults) {
        const QString kind = QLatin1String(f.kind);
        for (const char* outside : {"-1", "100.6"}) {
            QVERIFY(!scene.set("fault", kind + ' ' + outside, &error));
            QCOMPARE(error, QStringLiteral("the strength of %1 lies between 0 and 100 percent").arg(kind));
        }
        for (const char* outside : {"-6001", "6001"}) {
            QVERIFY(!scene.set("drift", kind + ' ' + outside, &error));
            QCOMPARE(error,
                     QStringLiteral("the drift rate of %1 lies between -6000 and 6000 percent a minute")
                         .arg(kind));
        }
        QVERIFY2(scene.set("fault", kind + ' ' + QString::number(f.strength), &error), qPrintable(error));
    }
    for (const Fault& f : faults)
        QCOMPARE(scene.settings().value("faults").toObject().value(f.kind).toDouble(), double(f.strength));
    for (const Fault& f : faults)
        QVERIFY2(scene.set("drift", QLatin1String(f.kind) + ' ' + QString::number(f.rate), &error),
                 qPrintable(error));
    const QJsonObject drift = scene.settings().value("faults").toObject().value("drift").toObject();
    for (const Fault& f : faults)
        QCOMPARE(drift.value(f.kind).toDouble(), f.rate);
}

// A match string's wildcards: "*" stands for any run of characters, none included; "?" for
// exactly one. (A failed match failing the read, and a no-read while matching, are in
// tests/sim/transcripts/output.txt; what each match mode, the match list and serial matching
// pass and fail is checked over the reader's output by the match window's contract.)
void TestSimEngine::matchWildcards() {
    const struct {
        const char* pattern;
        const char* text;
        bool matches;
    } cases[] = {{"LOT*", "LOT", true},   {"LOT*", "LOT-7", true}, {"*LOT", "LOT", true},
                 {"L*T", "LT", true},     {"LOT**", "LOT", true},  {"LOT?", "LOT", false},
                 {"LOT?", "LOT7", true},  {"*7", "LOT-8", false},  {"", "", true},
                 {"LOT", "LOT-7", false}, {"*", "", true},         {"L?T*7", "LOT-7", true}};
    for (const auto& c : cases)
        QVERIFY2(wildcardMatch(c.pattern, c.text) == c.matches,
                 qPrintable(QString("%1 on %2").arg(c.pattern, c.text)));
}

void TestSimEngine::retriesAndTimeout() {
    Parameters parameters;
    ReadCycle cycle(parameters);
    // Far too dark: one attempt fails, but retries let automatic photometry catch up within the cycle.
    parameters.set("PHOTOEX", "MANUAL 40 0 30 20000 0 1023");
    QVERIFY(cycle.command({"PHOTO", "AUTO"}));
    parameters.set("RETRYEX", "COUNT 500 10 500 0 0 0 OFF 0 N");
    const CycleOutput out = cycle.run();
    QVERIFY(out.symbolFound);
    // A read time-out of 0 is none: the cycle reads.
    parameters.set("RETRYEX", "NONE 500 1 500 0 0 0 OFF 0 N");
    parameters.set("TIMEOUT READ", "0");
    QVERIFY(cycle.run().symbolFound);

    // A PID list tries the PIDs of its slots in turn, after the reader's own settings; a slot of
    // 0 names no PID and is skipped. The driver is asked here with a store that answers for
    // every number (a reader's store never holds a PID 0), so that only the slot rule skips it.
    QVERIFY(cycle.scene().set("contrast", "0"));
    parameters.set("TRIG", "T");
    parameters.set("RETRYEX", "LIST 500 3 500 5 0 3 ON 0 N");
    CycleDriver driver(parameters);
    QList<int> tried;
    driver.setRunner([&](const Attempt& a) {
        tried << a.pid;
        return cycle.attempt(a.newImage, a.illumination);
    });
    driver.setPidStored([](int) { return true; });
    QSignalSpy finished(&driver, &CycleDriver::cycleFinished);
    driver.runOnce();
    QVERIFY(finished.wait(5000));
    QCOMPARE(tried, (QList<int>{0, 5, 3}));
    QCOMPARE(finished.first().first().value<CycleOutput>().attempts, 3);
}

void TestSimEngine::fileFromOtherEncoderIsDecoded_data() {
    QTest::addColumn<QString>("tool");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("produced");
    QTest::addColumn<QString>("sent");
    QTest::addColumn<QString>("expected");
    QTest::newRow("zint Data Matrix as BMP")
        << "zint" << QStringList{"-b", "71", "--scale=4", "-d", "ZINT-4711", "-o", "@.bmp"} << "@.bmp"
        << "bmp"
        << "ZINT-4711";
    QTest::newRow("dmtxwrite Data Matrix as TIFF")
        << "dmtxwrite" << QStringList{"-d", "5", "-m", "20", "-f", "TIF", "-o", "@.tif", "@.txt"} << "@.tif"
        << "tif"
        << "DMTX 2024";
    QTest::newRow("qrencode QR Code as BMP")
        << "qrencode" << QStringList{"-s", "4", "-o", "@.png", "QRENCODE-17"} << "@.png"
        << "bmp"
        << "QRENCODE-17";
}

void TestSimEngine::fileFromOtherEncoderIsDecoded() {
    QFETCH(QString, tool);
    QFETCH(QStringList, arguments);
    QFETCH(QString, produced);
    QFETCH(QString, sent);
    QFETCH(QString, expected);
    if (QStandardPaths::findExecutable(tool).isEmpty())
        QSKIP(
            qPrintable(tool + " is not installed (scripts/setup.sh installs zint, dmtx-utils and qrencode)"));
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString base = dir.filePath("code");
    {
        // dmtxwrite encodes a file rather than an argument.
        QFile text(base + ".txt");
        QVERIFY(text.open(QIODevice::WriteOnly));
        text.write(expected.toUtf8());
    }
    for (QString& a : arguments)
        a.replace("@", base);
    QProcess process;
    process.start(tool, arguments);
    QVERIFY(process.waitForFinished(30000));
    QCOMPARE(process.exitCode(), 0);
    QString file = produced.replace("@", base);
    QImage image(file);
    QVERIFY2(!image.isNull(), qPrintable(file));
    // What the PC sends is a BMP or TIFF file: convert when the tool wrote PNG.
    const QString transferred = base + "." + sent;
    if (file != transferred)
        QVERIFY(image.save(transferred));
    QFile input(transferred);
    QVERIFY(input.open(QIODevice::ReadOnly));

    Parameters parameters;
    parameters.set("NUMBC", "1");
    parameters.set("BARCODE ENABLE", "0x20000");
    ReadCycle cycle(parameters);
    QString error;
    QVERIFY(!cycle.command({"CAPTURE", "FILES"}, &error)); // nothing transferred yet
    QVERIFY2(cycle.addFile(QFileInfo(transferred).fileName(), input.readAll(), &error), qPrintable(error));
    QVERIFY(cycle.command({"CAPTURE", "FILES"}, &error));
    QVERIFY(cycle.scene().usingFiles());
    const CycleOutput out = runUntilRead(cycle, 5);
    QVERIFY(out.symbolFound);
    QCOMPARE(out.text, expected);
    // Back to the camera: the printed symbol again.
    QVERIFY(cycle.command({"DRIVEDELETE", "FILES"}));
    QCOMPARE(cycle.scene().fileCount(), 0);
    QVERIFY(runUntilRead(cycle, 3).text.startsWith("VELMARROW-"));
}

void TestSimEngine::badFilesAreRefused() {
    Scene scene;
    QString error;
    QVERIFY(!scene.addFile("notes.txt", "hello", &error));
    QVERIFY(error.contains("neither a BMP nor a TIFF"));
    QVERIFY(!scene.addFile("broken.bmp", QByteArray("BM") + QByteArray(40, '\0'), &error));
    QVERIFY(error.contains("broken.bmp"));
    QVERIFY(!scene.addFile("huge.bmp", QByteArray(Scene::kMaxFileBytes + 1, 'B'), &error));
    // A large image is cropped to the sensor, never stretched.
    QImage big(1000, 800, QImage::Format_Grayscale8);
    big.fill(77);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QVERIFY(big.save(&buffer, "BMP"));
    QVERIFY(scene.addFile("big.bmp", bytes, &error));
    QVERIFY(scene.useFiles(&error));
    const Scene::Frame frame = scene.nextFrame();
    QCOMPARE(frame.reflectance.size(), QSize(Scene::kWidth, Scene::kHeight));
    QCOMPARE(frame.fileName, QStringLiteral("big.bmp"));
    QCOMPARE(qGray(frame.reflectance.pixel(10, 10)), 77);
    // The reader holds 64 files: a 64th is taken, a 65th refused.
    for (int i = 2; i <= 64; ++i)
        QVERIFY2(scene.addFile(QStringLiteral("more%1.bmp").arg(i), bytes, &error), qPrintable(error));
    QCOMPARE(scene.fileCount(), 64);
    QVERIFY(!scene.addFile("more65.bmp", bytes, &error));
    QCOMPARE(error, QStringLiteral("no space: the reader holds at most 64 files"));
    // A TIFF may be written big-endian ("MM") as well as little-endian: an uncompressed 8-bit
    // grey picture, dark on its left half and light on its right, set by hand in that order.
    QByteArray tiff;
    QDataStream s(&tiff, QIODevice::WriteOnly); // big-endian
    const quint32 w = 64, h = 32,
                  entries[][3] = {{256, 3, w},   {257, 3, h}, {258, 3, 8}, {259, 3, 1},    {262, 3, 1},
                                  {273, 4, 122}, {277, 3, 1}, {278, 3, h}, {279, 4, w * h}};
    s.writeRawData("MM", 2);
    s << quint16(42) << quint32(8) << quint16(9);
    for (const auto& e : entries) {
        s << quint16(e[0]) << quint16(e[1]) << quint32(1);
        if (e[1] == 3)
            s << quint16(e[2]) << quint16(0);
        else
            s << e[2];
    }
    s << quint32(0); // no further directory; the pixels follow at 8 + 2 + 9 x 12 + 4 = 122
    for (quint32 i = 0; i < w * h; ++i)
        s << quint8(i % w < w / 2 ? 40 : 200);
    scene.deleteFiles();
    QVERIFY2(scene.addFile("bigendian.tif", tiff, &error), qPrintable(error));
    QVERIFY(scene.useFiles(&error));
    const Scene::Frame placed = scene.nextFrame();
    QCOMPARE(placed.fileName, QStringLiteral("bigendian.tif"));
    QCOMPARE(qGray(placed.reflectance.pixel(Scene::kWidth / 2 - 16, Scene::kHeight / 2)), 40);
    QCOMPARE(qGray(placed.reflectance.pixel(Scene::kWidth / 2 + 16, Scene::kHeight / 2)), 200);

    // A picture put in front of the camera (the admin "image") is placed as a transferred file
    // is: a dark block in the middle of a white picture smaller, or wider, than the sensor shows
    // in the middle of the camera's image.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    for (const QSize size : {QSize(120, 90), QSize(800, 100)}) {
        QImage picture(size, QImage::Format_Grayscale8);
        picture.fill(255);
        QPainter(&picture).fillRect(
            QRect(0, 0, 40, 30).translated(size.width() / 2 - 20, size.height() / 2 - 15), Qt::black);
        const QString path = dir.filePath(QStringLiteral("picture%1.png").arg(size.width()));
        QVERIFY(picture.save(path));
        Parameters parameters;
        ReadCycle cycle(parameters);
        QVERIFY2(cycle.showPicture(path, &error), qPrintable(error));
        const QImage seen = cycle.run().image;
        const double threshold = Camera::measure(seen).bright / 2.0;
        double sx = 0, sy = 0;
        int dark = 0;
        for (int y = 0; y < seen.height(); ++y)
            for (int x = 0; x < seen.width(); ++x)
                if (seen.constScanLine(y)[x] < threshold) {
                    sx += x;
                    sy += y;
                    ++dark;
                }
        QVERIFY(dark > 0);
        const QPointF centre(sx / dark, sy / dark);
        QVERIFY2(qAbs(centre.x() - Scene::kWidth / 2.0) < 3 && qAbs(centre.y() - Scene::kHeight / 2.0) < 3,
                 qPrintable(QString("%1 x %2: block at %3, %4")
                                .arg(size.width())
                                .arg(size.height())
                                .arg(centre.x())
                                .arg(centre.y())));
    }
}

// The grader's reading of a QR Code, checked on qrencode's symbols of every version and level:
// the format information gives the level, the size the version, and the codewords read,
// corrected and placed again print exactly the modules qrencode printed; a module printed the
// other colour is one codeword corrected, and the symbol as printed comes back; so does a
// symbol read mirrored along its diagonal.
void TestSimEngine::qrCodewordsReadBackAsPrinted() {
    if (QStandardPaths::findExecutable("qrencode").isEmpty())
        QSKIP("qrencode is not installed (scripts/setup.sh installs it)");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    for (int version = 1; version <= 40; ++version)
        for (const char level : {'L', 'M', 'Q', 'H'}) {
            const QString tag = QString("version %1-%2").arg(version).arg(QLatin1Char(level));
            const QString file = dir.filePath("qr.png");
            QProcess process;
            process.start("qrencode", {"-s", "1", "-m", "0", "-v", QString::number(version), "-l",
                                       QString(QLatin1Char(level)), "-o", file, "VM-42"});
            QVERIFY(process.waitForFinished(30000));
            QCOMPARE(process.exitCode(), 0);
            const QImage image = QImage(file).convertToFormat(QImage::Format_Grayscale8);
            const int n = image.width();
            QCOMPARE(n, 17 + 4 * version);
            std::vector<bool> printed(size_t(n) * n);
            for (int r = 0; r < n; ++r)
                for (int c = 0; c < n; ++c)
                    printed[size_t(r) * n + c] = image.constScanLine(r)[c] < 128;
            const std::optional<CorrectedMatrix> read = correctQrCode(printed, n);
            QVERIFY2(read, qPrintable(tag));
            QCOMPARE(read->version, version);
            QCOMPARE(read->level, level);
            QCOMPARE(read->errors, 0);
            QCOMPARE(read->unusedCorrection, 1.0);
            QVERIFY2(read->modules == printed, qPrintable(tag));
            // The bottom-right module always holds the first data codeword's first bit.
            std::vector<bool> damaged = printed;
            damaged[size_t(n) * n - 1] = !damaged[size_t(n) * n - 1];
            const std::optional<CorrectedMatrix> corrected = correctQrCode(damaged, n);
            QVERIFY2(corrected, qPrintable(tag));
            QCOMPARE(corrected->errors, 1);
            QVERIFY2(corrected->modules == printed, qPrintable(tag));
            // Of a block's d check codewords, the small versions keep p against misdecoding, as
            // the QR standard tabulates them: 1-L 3, 1-M 2, 1-Q and 1-H 1, 2-L 2, 3-L 1.
            const int kept = version == 1   ? (level == 'L'   ? 3
                                               : level == 'M' ? 2
                                                              : 1)
                             : version == 2 ? (level == 'L' ? 2 : 0)
                             : version == 3 ? (level == 'L' ? 1 : 0)
                                            : 0;
            QCOMPARE(qrBlocks(version, level).protection, kept);
            QCOMPARE(corrected->unusedCorrection,
                     1.0 - 2.0 / (qrBlocks(version, level).checkPerBlock - kept));
            if (version == 1 && level == 'L') {
                // 1-L: 7 check codewords, 3 kept, so two errors are the most it corrects, leaving
                // none unused. The right column's modules from the bottom up hold the first
                // codewords' first bits, four rows each.
                damaged[size_t(n - 5) * n + n - 1] = !damaged[size_t(n - 5) * n + n - 1];
                const std::optional<CorrectedMatrix> atLimit = correctQrCode(damaged, n);
                QVERIFY2(atLimit, "two errors in 1-L");
                QCOMPARE(atLimit->errors, 2);
                QCOMPARE(atLimit->unusedCorrection, 0.0);
                QVERIFY(atLimit->modules == printed);
                damaged[size_t(n - 9) * n + n - 1] = !damaged[size_t(n - 9) * n + n - 1];
                QVERIFY2(!correctQrCode(damaged, n), "three errors in 1-L");
            }
            // A grid fitted mirrored along its diagonal (its finders stay where they are) reads
            // too, and gives its modules back in its own order.
            std::vector<bool> swapped(printed.size());
            for (int r = 0; r < n; ++r)
                for (int c = 0; c < n; ++c)
                    swapped[size_t(c) * n + r] = printed[size_t(r) * n + c];
            const std::optional<CorrectedMatrix> mirrored = correctQrCode(swapped, n);
            QVERIFY2(mirrored && mirrored->transposed && !read->transposed, qPrintable(tag));
            QVERIFY2(mirrored->modules == swapped, qPrintable(tag));
        }
}

QTEST_GUILESS_MAIN(TestSimEngine)
#include "tst_simengine.moc"
