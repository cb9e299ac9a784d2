// The reader's print-quality grades as its records report them: every grade limit of every
// graded parameter, at the limit and one step either side, for 2-D symbols (ISO/IEC 15415)
// and barcodes (ISO/IEC 15416), and the symbol's grade from its parameters' grades. The
// limits below are the standards' own, written here rather than taken from the reader.
#include "common/symbols.h"
#include "sim/grader.h"
#include "sim/imagingparameters.h"
#include "sim/readcycle.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QtTest>

using namespace vm::sim;

namespace {

class Parameters : public ParameterSource {
public:
    QStringList fields(const QString& name) const override { return m_values.value(name); }
    void setFields(const QString& name, const QStringList& fields) override { m_values.insert(name, fields); }
    int firmwareLevel() const override { return 10; }
    QHash<QString, QStringList> m_values{{"VERSTATUS", {"B", "C"}}};
};

using vm::testing::goodMatrix;

LinearScan goodScan() {
    LinearScan s;
    s.minReflectance = 5;
    s.maxReflectance = 85;
    s.symbolContrast = 80;
    s.edgeContrast = 60;
    s.modulation = 0.9;
    s.defects = 0.05;
    s.decodability = 0.9;
    s.moduleWidth = 4;
    s.elements = 31;
    s.decodes = true;
    return s;
}

SymbolMeasurements barcodeOf(const std::vector<LinearScan>& scans) {
    SymbolMeasurements m;
    m.valid = true;
    m.linear = true;
    m.scans = scans;
    return m;
}

void setMatrix(SymbolMeasurements& m, const QString& parameter, double v) {
    if (parameter == "Symbol Contrast")
        m.symbolContrast = v;
    else if (parameter == "Modulation")
        m.modulation = v;
    else if (parameter == "Axial Nonuniformity")
        m.axialNonuniformity = v;
    else if (parameter == "Grid Nonuniformity")
        m.gridNonuniformity = v;
    else if (parameter == "Unused Error Correction")
        m.unusedErrorCorrection = v;
    else if (parameter == "Fixed Pattern Damage")
        m.fixedPatternDamage = v;
    else if (parameter == "Print Growth")
        m.printGrowth = v;
    else if (parameter == "Cell Size")
        m.cellSize = v;
    else if (parameter == "Center Offset")
        m.centerOffset = v;
    else if (parameter == "Size Offset")
        m.sizeOffset = v;
    else if (parameter == "Angle of Distortion")
        m.angleOfDistortion = v;
    else if (parameter == "Fixed Pattern Modulation") // graded in the Fixed Pattern Damage row
        m.fixedPatternModulation = v;
    else
        qFatal("no parameter %s", qPrintable(parameter));
}

// The row a parameter is graded in.
QString rowOf(const QString& parameter) {
    return parameter == QLatin1String("Fixed Pattern Modulation") ? QStringLiteral("Fixed Pattern Damage")
                                                                  : parameter;
}

void setScan(LinearScan& s, const QString& parameter, double v) {
    if (parameter == "Symbol Contrast")
        s.symbolContrast = v;
    else if (parameter == "Minimum Reflectance")
        s.minReflectance = v;
    else if (parameter == "Edge Contrast")
        s.edgeContrast = v;
    else if (parameter == "Modulation")
        s.modulation = v;
    else if (parameter == "Defects")
        s.defects = v;
    else if (parameter == "Decodability")
        s.decodability = v;
    else
        qFatal("no parameter %s", qPrintable(parameter));
}

QJsonObject grade(const SymbolMeasurements& m, const QString& standard) {
    Parameters p;
    return verificationResult(m, true, FieldReader(p), standard);
}

QString gradeOf(const QJsonObject& result, const QString& name) {
    for (const QJsonValue& v : result.value("parameters").toArray())
        if (v.toObject().value("name").toString() == name)
            return v.toObject().value("grade").toString();
    return QStringLiteral("(no %1)").arg(name);
}

QString valueOf(const QJsonObject& result, const QString& name) {
    for (const QJsonValue& v : result.value("parameters").toArray())
        if (v.toObject().value("name").toString() == name)
            return v.toObject().value("value").toString();
    return QStringLiteral("(no %1)").arg(name);
}

QString json(const QJsonObject& o) {
    return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
}

struct Limit {
    QString parameter;
    double limit;
    double step;
    bool atLeast;   // higher values grade better
    QString better; // the grade at the limit; one step worse gives the next grade down
    QString worse;
};

// Limits of ISO/IEC 15415 (2-D symbols).
const QList<Limit> kMatrixLimits = {
    {"Symbol Contrast", 70, 0.1, true, "A", "B"},
    {"Symbol Contrast", 55, 0.1, true, "B", "C"},
    {"Symbol Contrast", 40, 0.1, true, "C", "D"},
    {"Symbol Contrast", 20, 0.1, true, "D", "F"},
    {"Modulation", 0.50, 0.001, true, "A", "B"},
    {"Modulation", 0.40, 0.001, true, "B", "C"},
    {"Modulation", 0.30, 0.001, true, "C", "D"},
    {"Modulation", 0.20, 0.001, true, "D", "F"},
    {"Axial Nonuniformity", 0.06, 0.001, false, "A", "B"},
    {"Axial Nonuniformity", 0.08, 0.001, false, "B", "C"},
    {"Axial Nonuniformity", 0.10, 0.001, false, "C", "D"},
    {"Axial Nonuniformity", 0.12, 0.001, false, "D", "F"},
    {"Grid Nonuniformity", 0.38, 0.001, false, "A", "B"},
    {"Grid Nonuniformity", 0.50, 0.001, false, "B", "C"},
    {"Grid Nonuniformity", 0.63, 0.001, false, "C", "D"},
    {"Grid Nonuniformity", 0.75, 0.001, false, "D", "F"},
    {"Unused Error Correction", 0.62, 0.001, true, "A", "B"},
    {"Unused Error Correction", 0.50, 0.001, true, "B", "C"},
    {"Unused Error Correction", 0.37, 0.001, true, "C", "D"},
    {"Unused Error Correction", 0.25, 0.001, true, "D", "F"},
    // The worst fixed-pattern segment's share of damaged modules.
    {"Fixed Pattern Damage", 0.0, 0.001, false, "A", "B"},
    {"Fixed Pattern Damage", 0.09, 0.001, false, "B", "C"},
    {"Fixed Pattern Damage", 0.13, 0.001, false, "C", "D"},
    {"Fixed Pattern Damage", 0.17, 0.001, false, "D", "F"},
    // The modulation of the fixed pattern's modules, graded as 2-D modulation is.
    {"Fixed Pattern Modulation", 0.50, 0.001, true, "A", "B"},
    {"Fixed Pattern Modulation", 0.40, 0.001, true, "B", "C"},
    {"Fixed Pattern Modulation", 0.30, 0.001, true, "C", "D"},
    {"Fixed Pattern Modulation", 0.20, 0.001, true, "D", "F"},
    // Reported beside the grade for DPM, graded by its size: ink that spreads (positive) as
    // much as ink that shrinks (negative).
    {"Print Growth", 0.15, 0.001, false, "A", "B"},
    {"Print Growth", 0.30, 0.001, false, "B", "C"},
    {"Print Growth", 0.45, 0.001, false, "C", "D"},
    {"Print Growth", 0.60, 0.001, false, "D", "F"},
    {"Print Growth", -0.15, 0.001, true, "A", "B"},
    {"Print Growth", -0.30, 0.001, true, "B", "C"},
    {"Print Growth", -0.45, 0.001, true, "C", "D"},
    {"Print Growth", -0.60, 0.001, true, "D", "F"},
    // The other rows of AIM DPM grading, reported beside the grade.
    {"Cell Size", 6, 0.01, true, "A", "B"},
    {"Cell Size", 5, 0.01, true, "B", "C"},
    {"Cell Size", 4, 0.01, true, "C", "D"},
    {"Cell Size", 3, 0.01, true, "D", "F"},
    {"Center Offset", 0.1, 0.001, false, "A", "B"},
    {"Center Offset", 0.2, 0.001, false, "B", "C"},
    {"Center Offset", 0.3, 0.001, false, "C", "D"},
    {"Center Offset", 0.4, 0.001, false, "D", "F"},
    {"Size Offset", 0.05, 0.001, false, "A", "B"},
    {"Size Offset", 0.10, 0.001, false, "B", "C"},
    {"Size Offset", 0.15, 0.001, false, "C", "D"},
    {"Size Offset", 0.20, 0.001, false, "D", "F"},
    {"Angle of Distortion", 1, 0.01, false, "A", "B"},
    {"Angle of Distortion", 2, 0.01, false, "B", "C"},
    {"Angle of Distortion", 4, 0.01, false, "C", "D"},
    {"Angle of Distortion", 7, 0.01, false, "D", "F"},
};

// Limits of ISO/IEC 15416 (barcodes), each scan graded on its own.
const QList<Limit> kBarcodeLimits = {
    {"Symbol Contrast", 70, 0.1, true, "A", "B"},
    {"Symbol Contrast", 55, 0.1, true, "B", "C"},
    {"Symbol Contrast", 40, 0.1, true, "C", "D"},
    {"Symbol Contrast", 20, 0.1, true, "D", "F"},
    // Rmin at most half of Rmax (85 here): A, otherwise F.
    {"Minimum Reflectance", 42.5, 0.1, false, "A", "F"},
    // Edge contrast at least 15 %: A, otherwise F.
    {"Edge Contrast", 15, 0.1, true, "A", "F"},
    {"Modulation", 0.70, 0.001, true, "A", "B"},
    {"Modulation", 0.60, 0.001, true, "B", "C"},
    {"Modulation", 0.50, 0.001, true, "C", "D"},
    {"Modulation", 0.40, 0.001, true, "D", "F"},
    {"Defects", 0.15, 0.001, false, "A", "B"},
    {"Defects", 0.20, 0.001, false, "B", "C"},
    {"Defects", 0.25, 0.001, false, "C", "D"},
    {"Defects", 0.30, 0.001, false, "D", "F"},
    {"Decodability", 0.62, 0.001, true, "A", "B"},
    {"Decodability", 0.50, 0.001, true, "B", "C"},
    {"Decodability", 0.37, 0.001, true, "C", "D"},
    {"Decodability", 0.25, 0.001, true, "D", "F"},
};

void addLimits(const QList<Limit>& limits) {
    QTest::addColumn<QString>("parameter");
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("expected");
    for (const Limit& l : limits) {
        const QString tag = l.parameter + QStringLiteral(" %1/%2 ").arg(l.better, l.worse);
        const double worseSide = l.atLeast ? l.limit - l.step : l.limit + l.step;
        const double betterSide = l.atLeast ? l.limit + l.step : l.limit - l.step;
        QTest::newRow(qPrintable(tag + "at")) << l.parameter << l.limit << l.better;
        QTest::newRow(qPrintable(tag + "better")) << l.parameter << betterSide << l.better;
        QTest::newRow(qPrintable(tag + "worse")) << l.parameter << worseSide << l.worse;
    }
}

// The symbol's grade: the lowest of the 2-D parameters the standard grades.
const QStringList kMatrixGraded = {"Symbol Contrast",
                                   "Modulation",
                                   "Axial Nonuniformity",
                                   "Grid Nonuniformity",
                                   "Fixed Pattern Damage",
                                   "Unused Error Correction",
                                   "Decode"};

} // namespace

class TestGrading : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QTest::failOnWarning(QRegularExpression(".*")); }

    void matrixLimits_data() { addLimits(kMatrixLimits); }
    void matrixLimits() {
        QFETCH(QString, parameter);
        QFETCH(double, value);
        QFETCH(QString, expected);
        SymbolMeasurements m = goodMatrix();
        setMatrix(m, parameter, value);
        const QJsonObject r = grade(m, "ISO");
        QVERIFY2(gradeOf(r, rowOf(parameter)) == expected, qPrintable(json(r)));
        // The symbol's grade is its lowest graded parameter's; one only reported beside them
        // leaves it A.
        QString lowest = "A";
        for (const QString& name : kMatrixGraded)
            lowest = std::max(lowest, gradeOf(r, name));
        QCOMPARE(lowest, kMatrixGraded.contains(rowOf(parameter)) ? expected : QStringLiteral("A"));
        QCOMPARE(r.value("overallGrade").toString(), lowest);
    }

    void barcodeLimits_data() { addLimits(kBarcodeLimits); }
    void barcodeLimits() {
        QFETCH(QString, parameter);
        QFETCH(double, value);
        QFETCH(QString, expected);
        LinearScan scan = goodScan();
        setScan(scan, parameter, value);
        const QJsonObject r = grade(barcodeOf(std::vector<LinearScan>(10, scan)), "ANSI");
        QVERIFY2(gradeOf(r, parameter) == expected, qPrintable(json(r)));
        // Every scan alike: each scan's grade, their average and the symbol's are that grade.
        QCOMPARE(gradeOf(r, "Scan Grade"), expected);
        QCOMPARE(r.value("overallGrade").toString(), expected);
    }

    // A barcode's grade is the average of its scans' grades, each scan's the worst of its
    // parameters: grade values A 4 to F 0, the average from 3.5 an A, from 2.5 a B ...
    void barcodeGradeIsTheAverageOfScans_data() {
        QTest::addColumn<int>("weakScans"); // scans whose modulation grades B (0.65)
        QTest::addColumn<QString>("expected");
        QTest::newRow("none") << 0 << "A";
        QTest::newRow("half: 3.5") << 5 << "A";
        QTest::newRow("six: 3.4") << 6 << "B";
        QTest::newRow("all: 3.0") << 10 << "B";
    }
    void barcodeGradeIsTheAverageOfScans() {
        QFETCH(int, weakScans);
        QFETCH(QString, expected);
        std::vector<LinearScan> scans(10, goodScan());
        for (int i = 0; i < weakScans; ++i)
            scans[size_t(i)].modulation = 0.65;
        // Over the scans, every one an A: defects from 0.05 to 0.14, symbol contrast from 80 % to
        // 71 %, edge contrast from 60 % to 51 %, Rmin from 5 % to 14 %, decodability from 0.90
        // to 0.72.
        for (size_t i = 0; i < scans.size(); ++i) {
            const double n = double(i);
            scans[i].defects = 0.05 + 0.01 * n;
            scans[i].symbolContrast = 80 - n;
            scans[i].edgeContrast = 60 - n;
            scans[i].minReflectance = 5 + n;
            scans[i].decodability = 0.9 - 0.02 * n;
        }
        const QJsonObject r = grade(barcodeOf(scans), "ANSI");
        QCOMPARE(r.value("overallGrade").toString(), expected);
        // The parameter's row shows its worst scan: the worst grade, and of the scans with that
        // grade the worst value (the most modulation lost, the largest defect).
        QCOMPARE(gradeOf(r, "Modulation"), weakScans ? QStringLiteral("B") : QStringLiteral("A"));
        QCOMPARE(valueOf(r, "Modulation"), weakScans ? QStringLiteral("0.65") : QStringLiteral("0.90"));
        QCOMPARE(gradeOf(r, "Defects"), QStringLiteral("A"));
        const QList<std::pair<QString, QString>> worst = {{"Defects", "0.14"},
                                                          {"Symbol Contrast", "71.0%"},
                                                          {"Edge Contrast", "51.0%"},
                                                          {"Minimum Reflectance", "14.0%"},
                                                          {"Decodability", "0.72"}};
        for (const auto& [name, value] : worst)
            QVERIFY2(valueOf(r, name) == value, qPrintable(name + ": " + valueOf(r, name)));
        // The average of the scan grades, A 4 to F 0, with one decimal.
        QCOMPARE(valueOf(r, "Scan Grade"), QString::number(4.0 - weakScans / 10.0, 'f', 1));
        // Every scan decoded.
        QCOMPARE(valueOf(r, "Decode"), QStringLiteral("10 of 10 scans"));
    }

    // The average's class limits hold at exactly 2.5, 1.5 and 0.5: five scans of one grade
    // and five of another.
    void barcodeScanAverageOnItsLimits_data() {
        QTest::addColumn<double>("firstHalf"); // modulation of scans 1 to 5 and 6 to 10
        QTest::addColumn<double>("secondHalf");
        QTest::addColumn<QString>("average");
        QTest::addColumn<QString>("expected");
        QTest::newRow("A and D: 2.5") << 0.9 << 0.45 << "2.5"
                                      << "B";
        QTest::newRow("B and F: 1.5") << 0.65 << 0.35 << "1.5"
                                      << "C";
        QTest::newRow("D and F: 0.5") << 0.45 << 0.35 << "0.5"
                                      << "D";
    }
    void barcodeScanAverageOnItsLimits() {
        QFETCH(double, firstHalf);
        QFETCH(double, secondHalf);
        QFETCH(QString, average);
        QFETCH(QString, expected);
        std::vector<LinearScan> scans(10, goodScan());
        for (size_t i = 0; i < scans.size(); ++i)
            scans[i].modulation = i < 5 ? firstHalf : secondHalf;
        const QJsonObject r = grade(barcodeOf(scans), "ISO");
        QCOMPARE(valueOf(r, "Scan Grade"), average);
        QCOMPARE(gradeOf(r, "Scan Grade"), expected);
        QCOMPARE(r.value("overallGrade").toString(), expected);
    }

    // Border Match, the share of the finder's modules undamaged: A from 99 %, B from 97 %, C
    // from 94 %, D from 90 %.
    void borderMatchLimits() {
        const QList<std::pair<double, QString>> cases = {{100, "A"},  {99.1, "A"}, {98.9, "B"},
                                                         {97.1, "B"}, {96.9, "C"}, {94.1, "C"},
                                                         {93.9, "D"}, {90.1, "D"}, {89.9, "F"}};
        for (const auto& [percent, letter] : cases) {
            SymbolMeasurements m = goodMatrix();
            m.fixedPatternDamage = 1.0 - percent / 100.0;
            QVERIFY2(gradeOf(grade(m, "ISO"), "Border Match") == letter,
                     qPrintable(QString::number(percent)));
        }
    }

    // The overall grade's class by the global quality range ("VERSTATUS" worst Good, worst
    // Fair): under B C, A and B good, C fair, D and F poor; a D as the worst Good or Fair grade
    // takes in a D but never an F.
    void classByQualityRange_data() {
        QTest::addColumn<QStringList>("range");
        QTest::addColumn<double>("contrast");
        QTest::addColumn<int>("gradeCode");
        const QStringList bc{"B", "C"}, cd{"C", "D"}, dd{"D", "D"};
        QTest::newRow("A") << bc << 80.0 << 3;
        QTest::newRow("B") << bc << 60.0 << 3;
        QTest::newRow("C") << bc << 45.0 << 2;
        QTest::newRow("D") << bc << 25.0 << 1;
        QTest::newRow("F") << bc << 10.0 << 1;
        QTest::newRow("C under C D") << cd << 45.0 << 3;
        QTest::newRow("D under C D") << cd << 25.0 << 2;
        QTest::newRow("F under C D") << cd << 10.0 << 1;
        QTest::newRow("D under D D") << dd << 25.0 << 3;
        QTest::newRow("F under D D") << dd << 10.0 << 1;
    }
    void classByQualityRange() {
        QFETCH(QStringList, range);
        QFETCH(double, contrast);
        QFETCH(int, gradeCode);
        SymbolMeasurements m = goodMatrix();
        m.symbolContrast = contrast;
        Parameters p;
        p.setFields("VERSTATUS", range);
        QCOMPARE(verificationResult(m, true, FieldReader(p), "ISO").value("gradeCode").toInt(), gradeCode);
    }

    // DPM grading (VERIFY DPM, spelled KVTA before level 7): a VERENABLE row set to N leaves its
    // parameter out of the symbol's grade, one set to Y counts it, even a parameter the
    // standard alone does not grade, and its worst Good and worst Fair set the class.
    void dpmGradesByVerenableRows_data() {
        QTest::addColumn<QString>("standard");
        QTest::newRow("DPM") << "DPM";
        QTest::newRow("KVTA") << "KVTA";
    }
    void dpmGradesByVerenableRows() {
        QFETCH(QString, standard);
        Parameters p;
        p.setFields("VERENABLE SC", {"N", "B", "C"});
        SymbolMeasurements m = goodMatrix();
        m.symbolContrast = 10; // F, not counted
        QJsonObject r = verificationResult(m, true, FieldReader(p), standard);
        QCOMPARE(gradeOf(r, "Symbol Contrast"), QStringLiteral("F"));
        QVERIFY2(r.value("overallGrade").toString() == "A" && r.value("gradeCode").toInt() == 3,
                 qPrintable(json(r)));
        p.setFields("VERENABLE CS", {"Y", "A", "A"});
        m.cellSize = 4.5; // C, counted, and only A counts as good or fair
        r = verificationResult(m, true, FieldReader(p), standard);
        QVERIFY2(r.value("overallGrade").toString() == "C" && r.value("gradeCode").toInt() == 1,
                 qPrintable(json(r)));
        // Field 1 is the worst Good grade, field 2 the worst Fair: a C under "Y B D" is fair, under
        // "Y C D" good (the quality range "D D" holding nothing back).
        p.setFields("VERSTATUS", {"D", "D"});
        p.setFields("VERENABLE CS", {"Y", "B", "D"});
        r = verificationResult(m, true, FieldReader(p), standard);
        QVERIFY2(r.value("gradeCode").toInt() == 2 && r.value("class").toString() == "fair",
                 qPrintable(json(r)));
        p.setFields("VERENABLE CS", {"Y", "C", "D"});
        QCOMPARE(verificationResult(m, true, FieldReader(p), standard).value("gradeCode").toInt(), 3);
        // Size Offset has a row of its own: enabled, a symbol half again too large or too small
        // takes that row's grade and class; disabled, it counts for nothing, Center Offset's
        // row enabled or not.
        m = goodMatrix();
        m.sizeOffset = 0.5;
        p.setFields("VERENABLE SO", {"Y", "A", "A"});
        r = verificationResult(m, true, FieldReader(p), standard);
        QVERIFY2(gradeOf(r, "Size Offset") > "A" &&
                     r.value("overallGrade").toString() == gradeOf(r, "Size Offset") &&
                     r.value("gradeCode").toInt() == 1,
                 qPrintable(json(r)));
        p.setFields("VERENABLE SO", {"N", "A", "A"});
        p.setFields("VERENABLE CO", {"Y", "A", "A"});
        r = verificationResult(m, true, FieldReader(p), standard);
        QVERIFY2(r.value("overallGrade").toString() == "A" && r.value("gradeCode").toInt() == 3,
                 qPrintable(json(r)));
    }
};

QTEST_MAIN(TestGrading)
#include "tst_grading.moc"
