// The reader's grades checked against symbols it did not make and arithmetic it does not do.
// Each picture is built here from a symbol that an independent encoder made (dmtxwrite in
// several encodations, qrencode, zint), printed at known dark and light grey levels (grey 255
// is 100 % reflectance), sometimes blurred or damaged in known ways, and put in front of a
// simulated reader's camera through its admin interface. The reader runs with sensor noise
// and automatic photometry on, calibrated on a target picture of known reflectance. The
// expected Rmax, Rmin, Symbol Contrast, Modulation, Edge Contrast, Unused Error Correction and
// grades are worked out here from the picture's own pixel values by the standards' formulas:
// module reflectances through a circular aperture of 0.8 X at the module centres (ISO/IEC
// 15415), reflectance profiles through the same aperture across the bars (ISO/IEC 15416).
#include "common/readers.h"
#include "link/connection.h"
#include "link/coordinator.h"
#include "sim/adminconsole.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>
#include <vector>

using namespace vm;

namespace {

constexpr int kWidth = 659, kHeight = 494;
// Reported reflectances and contrasts match the arithmetic within this many points;
// modulations within this share, or 2 kTolerance / SC where that is more: a modulation is a
// difference of reflectances over the Symbol Contrast (a barcode's Edge Contrast over SC, a
// module's 2 |R - GT| / SC), so at a low contrast a point's error in its reflectances moves it
// by that much (sensor noise lowers the least edge contrast and widens the extremes alike).
constexpr double kTolerance = 1.0;
constexpr double kModulationTolerance = 0.06;

// A symbol's modules as its encoder printed them: rows x cols, true for dark; a barcode is
// one row.
struct Modules {
    int rows = 0, cols = 0;
    std::vector<bool> dark;
    bool at(int r, int c) const { return dark[size_t(r) * cols + c]; }
};

enum class Kind { DataMatrix, Qr, Code128 };

struct Picture {
    QImage image; // kWidth x kHeight, grey = reflectance x 255
    Kind kind = Kind::DataMatrix;
    Modules modules;
    double x = 0;      // pixels per module
    int left = 0;      // the symbol's first module column in the picture
    int top = 0;       // its first module row
    int barHeight = 0; // barcodes
};

// Runs an encoder; empty with the reason in *error when it fails.
QImage encode(const QString& program, const QStringList& arguments, const QByteArray& input,
              const QString& output, QString* error) {
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForStarted(10000)) {
        *error = program + " did not start";
        return {};
    }
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(30000) || process.exitCode() != 0) {
        *error = program + ": " + QString::fromLocal8Bit(process.readAllStandardError());
        return {};
    }
    QImage image(output);
    if (image.isNull())
        *error = output + " cannot be read";
    return image.convertToFormat(QImage::Format_Grayscale8);
}

// The modules of a one-pixel-per-module picture, `margin` pixels of quiet zone around it.
Modules modulesOf(const QImage& image, int margin, bool oneRow) {
    Modules m;
    m.cols = image.width() - 2 * margin;
    m.rows = oneRow ? 1 : image.height() - 2 * margin;
    for (int r = 0; r < m.rows; ++r)
        for (int c = 0; c < m.cols; ++c)
            m.dark.push_back(qGray(image.pixel(margin + c, oneRow ? image.height() / 2 : margin + r)) < 128);
    return m;
}

// The symbol printed at `x` pixels a module, dark and light grey, in the middle of a picture of
// the sensor's size; then `blur` passes of a 3 x 3 box filter.
Picture print(Kind kind, const Modules& modules, int x, int dark, int light, int blur) {
    Picture p;
    p.kind = kind;
    p.modules = modules;
    p.x = x;
    const bool linear = kind == Kind::Code128;
    p.barHeight = linear ? 120 : 0;
    const int w = modules.cols * x, h = linear ? p.barHeight : modules.rows * x;
    p.left = (kWidth - w) / 2;
    p.top = (kHeight - h) / 2;
    p.image = QImage(kWidth, kHeight, QImage::Format_Grayscale8);
    p.image.fill(light);
    for (int py = 0; py < h; ++py) {
        uchar* line = p.image.scanLine(p.top + py);
        for (int px = 0; px < w; ++px)
            if (modules.at(linear ? 0 : py / x, px / x))
                line[p.left + px] = uchar(dark);
    }
    for (int pass = 0; pass < blur; ++pass) {
        const QImage before = p.image;
        for (int py = 1; py < kHeight - 1; ++py)
            for (int px = 1; px < kWidth - 1; ++px) {
                int sum = 0;
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx)
                        sum += before.constScanLine(py + dy)[px + dx];
                p.image.scanLine(py)[px] = uchar((sum + 4) / 9);
            }
    }
    return p;
}

// Reflectance in percent through a circular aperture: the mean of the pixels whose centres
// lie within `radius` of (cx, cy).
double reflectance(const QImage& image, double cx, double cy, double radius) {
    double sum = 0;
    int count = 0;
    for (int y = int(std::floor(cy - radius)); y <= int(std::floor(cy + radius)); ++y)
        for (int x = int(std::floor(cx - radius)); x <= int(std::floor(cx + radius)); ++x) {
            const double dx = x + 0.5 - cx, dy = y + 0.5 - cy;
            if (dx * dx + dy * dy <= radius * radius) {
                sum += image.constScanLine(y)[x];
                ++count;
            }
        }
    return sum / count * 100.0 / 255.0;
}

int gradeAtLeast(double v, double a, double b, double c, double d) {
    return v >= a ? 4 : v >= b ? 3 : v >= c ? 2 : v >= d ? 1 : 0;
}

QString letter(int grade) {
    return QString("FDCBA").mid(std::clamp(grade, 0, 4), 1);
}

// What the arithmetic says a picture grades.
struct Expected {
    double rmax = 0, rmin = 0, contrast = 0, modulation = 0, edgeContrast = 0;
    double unusedCorrection = -1; // -1: not checked
    QString contrastGrade, modulationGrade, reflectanceGrade, edgeGrade, overall;
};

// Whether a module belongs to a fixed pattern: the finder and clock of a Data Matrix, the
// finder and timing patterns of a QR Code.
bool fixedModule(Kind kind, int r, int c, int rows, int cols) {
    if (kind == Kind::DataMatrix)
        return c == 0 || r == 0 || r == rows - 1 || c == cols - 1;
    const int n = rows;
    return (r < 7 && c < 7) || (r < 7 && c >= n - 7) || (r >= n - 7 && c < 7) || r == 6 || c == 6;
}

// ISO/IEC 15415: module reflectances at the module centres; SC = Rmax - Rmin; each module's
// modulation 2 |R - GT| / SC with GT halfway; the symbol's Modulation is the tenth percentile
// over the modules outside the fixed patterns.
Expected expectMatrix(const Picture& p) {
    Expected e;
    const double radius = 0.4 * p.x;
    std::vector<double> r(p.modules.dark.size());
    for (int row = 0; row < p.modules.rows; ++row)
        for (int col = 0; col < p.modules.cols; ++col)
            r[size_t(row) * p.modules.cols + col] =
                reflectance(p.image, p.left + (col + 0.5) * p.x, p.top + (row + 0.5) * p.x, radius);
    e.rmax = *std::max_element(r.begin(), r.end());
    e.rmin = *std::min_element(r.begin(), r.end());
    e.contrast = e.rmax - e.rmin;
    const double threshold = (e.rmax + e.rmin) / 2;
    std::vector<double> modulations;
    for (int row = 0; row < p.modules.rows; ++row)
        for (int col = 0; col < p.modules.cols; ++col)
            if (!fixedModule(p.kind, row, col, p.modules.rows, p.modules.cols))
                modulations.push_back(2 * std::abs(r[size_t(row) * p.modules.cols + col] - threshold) /
                                      e.contrast);
    std::sort(modulations.begin(), modulations.end());
    e.modulation = modulations[modulations.size() / 10];
    const int sc = gradeAtLeast(e.contrast, 70, 55, 40, 20);
    const int mod = gradeAtLeast(e.modulation, 0.50, 0.40, 0.30, 0.20);
    e.contrastGrade = letter(sc);
    e.modulationGrade = letter(mod);
    e.overall = letter(std::min(sc, mod));
    return e;
}

// ISO/IEC 15416: the reflectance profile along the middle of the bars through the aperture,
// its elements split at GT = (Rmax + Rmin) / 2; Edge Contrast is the least difference between
// neighbouring elements' extremes, Modulation EC / SC, Rmin at most half of Rmax. Every scan of
// a clean, upright print shows the same profile, so the symbol grades as one scan; a print
// that changes along the bars' height is read at the height `y` of the scan in question.
Expected expectBarcode(const Picture& p, double y) {
    Expected e;
    const double radius = 0.4 * p.x;
    std::vector<double> profile;
    for (double x = p.left - 8 * p.x; x <= p.left + (p.modules.cols + 8) * p.x; x += 0.25)
        profile.push_back(reflectance(p.image, x, y, radius));
    e.rmax = *std::max_element(profile.begin(), profile.end());
    e.rmin = *std::min_element(profile.begin(), profile.end());
    e.contrast = e.rmax - e.rmin;
    const double threshold = (e.rmax + e.rmin) / 2;
    std::vector<double> extremes;
    bool dark = profile.front() < threshold;
    double extreme = profile.front();
    for (double v : profile) {
        if ((v < threshold) != dark) {
            extremes.push_back(extreme);
            dark = !dark;
            extreme = v;
        }
        extreme = dark ? std::min(extreme, v) : std::max(extreme, v);
    }
    extremes.push_back(extreme);
    e.edgeContrast = e.contrast;
    for (size_t i = 1; i < extremes.size(); ++i)
        e.edgeContrast = std::min(e.edgeContrast, std::abs(extremes[i] - extremes[i - 1]));
    e.modulation = e.edgeContrast / e.contrast;
    const int rminGrade = e.rmin <= 0.5 * e.rmax ? 4 : 0;
    const int sc = gradeAtLeast(e.contrast, 70, 55, 40, 20);
    const int ec = e.edgeContrast >= 15 ? 4 : 0;
    const int mod = gradeAtLeast(e.modulation, 0.70, 0.60, 0.50, 0.40);
    e.reflectanceGrade = letter(rminGrade);
    e.contrastGrade = letter(sc);
    e.edgeGrade = letter(ec);
    e.modulationGrade = letter(mod);
    e.overall = letter(std::min({rminGrade, sc, ec, mod}));
    return e;
}

// A QR Code's block structure as its standard tabulates it for the versions and levels used
// here: blocks, check codewords per block, data codewords of a short block, and the misdecode
// protection codewords p of the small versions.
struct QrStructure {
    int version;
    char level;
    int blocks, checkPerBlock, shortData, protection;
};
constexpr QrStructure kQrStructures[] = {
    {1, 'L', 1, 7, 19, 3},  {1, 'M', 1, 10, 16, 2}, {1, 'Q', 1, 13, 13, 1},
    {2, 'L', 1, 10, 34, 2}, {3, 'L', 1, 15, 55, 1}, {2, 'H', 1, 28, 16, 0},
    {5, 'Q', 4, 18, 15, 0}, {7, 'H', 5, 26, 13, 0}, {4, 'L', 1, 20, 80, 0},
};

std::optional<QrStructure> qrStructure(int version, char level) {
    for (const QrStructure& s : kQrStructures)
        if (s.version == version && s.level == level)
            return s;
    return std::nullopt;
}

// Whether a module of a QR Code of `version` belongs to a function pattern: finders with their
// separators and the format information beside them, timing, alignment patterns (every
// crossing of the centres but those on a finder), version information from version 7 on.
bool qrFunction(int version, int r, int c) {
    const int n = 17 + 4 * version;
    if ((r < 9 && c < 9) || (r < 9 && c >= n - 8) || (r >= n - 8 && c < 9) || r == 6 || c == 6)
        return true;
    if (version >= 7 && ((r < 6 && c >= n - 11) || (c < 6 && r >= n - 11)))
        return true;
    if (version >= 2) {
        // Centres 6 and 4 v + 10, and for versions 7 to 13 one halfway between them.
        std::vector<int> centres = {6, 4 * version + 10};
        if (version >= 7)
            centres.insert(centres.begin() + 1,
                           (6 + 4 * version + 10) / 2 + ((6 + 4 * version + 10) / 2) % 2);
        for (int cr : centres)
            for (int cc : centres) {
                if ((cr == 6 && cc == 6) || (cr == 6 && cc == centres.back()) ||
                    (cr == centres.back() && cc == 6))
                    continue;
                if (std::abs(r - cr) <= 2 && std::abs(c - cc) <= 2)
                    return true;
            }
    }
    return false;
}

// The module holding the first (most significant) bit of codeword `word` of the interleaved
// sequence: codewords run in pairs of columns from the bottom right, upwards and downwards in
// turn, skipping the function patterns and the vertical timing column.
std::pair<int, int> qrCodewordModule(int version, int word) {
    const int n = 17 + 4 * version;
    int bit = 0;
    for (int right = n - 1, pair = 0; right >= 1; right -= 2, ++pair) {
        if (right == 6)
            right = 5;
        const bool upward = pair % 2 == 0;
        for (int k = 0; k < n; ++k) {
            const int r = upward ? n - 1 - k : k;
            for (int c : {right, right - 1}) {
                if (qrFunction(version, r, c))
                    continue;
                if (bit == 8 * word)
                    return {r, c};
                ++bit;
            }
        }
    }
    return {-1, -1};
}

QString gradeOf(const link::VerificationResult& result, const QString& name) {
    for (const link::VerificationParameter& p : result.parameters)
        if (p.name == name)
            return p.grade;
    return "(no " + name + ")";
}

// The value a report row shows as text.
QString valueShown(const link::VerificationResult& result, const QString& name) {
    for (const link::VerificationParameter& p : result.parameters)
        if (p.name == name)
            return p.value;
    return "(no " + name + ")";
}

// The percentage a report row shows ("12.3%"); NaN when the row is missing or shows no percent.
double percentShown(const link::VerificationResult& result, const QString& name) {
    for (const link::VerificationParameter& p : result.parameters)
        if (p.name == name && p.value.endsWith('%'))
            return p.value.chopped(1).toDouble();
    return std::nan("");
}

struct Case {
    QString encoder; // "dmtxwrite a", "dmtxwrite c", ..., "qrencode", "zint"
    int dark = 0, light = 0;
    int blur = 0;
    int damagedModules = 0; // Data Matrix: data modules printed the other colour, far apart
    // QR Code: the level and (least) version qrencode is asked for, and the codewords damaged,
    // as (block, data codeword of that block); each has one module printed the other colour.
    char qrLevel = 'M';
    int qrVersion = 0;
    QList<QPair<int, int>> damagedWords;
};

} // namespace

Q_DECLARE_METATYPE(Case)

class TestGoldenGrades : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<sim::Simulator> m_simulator;
    std::unique_ptr<sim::AdminConsole> m_admin;
    std::unique_ptr<link::Coordinator> m_coordinator;
    std::unique_ptr<link::ReaderConnection> m_conn;
    QString m_missing;

    QString admin(const QString& line) { return m_admin->execute(line).trimmed(); }

    void command(const QString& text) {
        const link::CommandReply reply = m_conn->SendCommand(text);
        QVERIFY2(reply.ok, qPrintable(text + ": " + reply.errorText));
    }

    // Triggers until a record reads a symbol (automatic photometry may need a cycle or two to
    // follow a new picture); that record.
    std::optional<link::Record> readOnce() {
        QSignalSpy records(m_conn.get(), &link::ReaderConnection::OnNewRecord);
        for (int attempt = 0; attempt < 8; ++attempt) {
            const int before = int(records.size());
            if (admin("trigger") != "ok")
                return std::nullopt;
            if (!QTest::qWaitFor([&] { return records.size() > before; }, 10000))
                return std::nullopt;
            const auto record = records.last().at(0).value<link::Record>();
            if (record.Passed())
                return record;
            qInfo() << "cycle" << attempt << record.Result().StatusText() << record.Image().Exposure()
                    << record.Image().Gain();
        }
        return std::nullopt;
    }

    // Shows a picture to the reader: saved as a PNG and put in front of the camera.
    bool show(const QImage& image, const QString& name) {
        const QString path = m_dir.filePath(name + ".png");
        return image.save(path) && admin("image " + path) == "ok";
    }

    // Calibrates on a Data Matrix target printed at these grey levels, `x` pixels a module (0:
    // the scene in view), said to be 85 % light modules and 80 % contrast; the calibration's
    // record in *record.
    void calibrateOn(int dark, int light, int x, link::Record* record) {
        QString error;
        const std::optional<Modules> target = symbolOf("dmtxwrite a", &error);
        QVERIFY2(target, qPrintable(error));
        QVERIFY(x == 0 || show(print(Kind::DataMatrix, *target, x, dark, light, 0).image, "target"));
        command("TARGET_CALIB_CONTRAST 80");
        command("TARGET_CALIB_REFLECTANCE 85");
        command("LEARN CALIBRATE");
        QSignalSpy records(m_conn.get(), &link::ReaderConnection::OnNewRecord);
        QCOMPARE(admin("trigger"), QString("ok"));
        QVERIFY(records.wait(10000));
        *record = records.last().at(0).value<link::Record>();
        QVERIFY(record->HasCalibration());
    }

    void calibrate(int dark, int light) {
        link::Record record;
        calibrateOn(dark, light, 8, &record);
        QVERIFY(record.HasCalibration());
        QCOMPARE(record.Calibration()->errorCode, 0);
    }

    std::optional<Modules> symbolOf(const QString& encoder, QString* error, char qrLevel = 'M',
                                    int qrVersion = 0) {
        const QByteArray text = "VM-42";
        if (encoder.startsWith("dmtxwrite")) {
            const QString out = m_dir.filePath("dm.png");
            const QImage png =
                encode("dmtxwrite", {"-d", "1", "-m", "1", "-e", encoder.section(' ', 1), "-o", out},
                       "VELMARROW-0042", out, error);
            if (png.isNull())
                return std::nullopt;
            return modulesOf(png, 1, false);
        }
        if (encoder == "qrencode") {
            const QString out = m_dir.filePath("qr.png");
            QStringList arguments = {"-s", "1", "-m", "0", "-l", QString(QLatin1Char(qrLevel))};
            if (qrVersion > 0)
                arguments << "-v" << QString::number(qrVersion);
            const QImage png =
                encode("qrencode", arguments << "-o" << out << "VELMARROW-0042", {}, out, error);
            if (png.isNull())
                return std::nullopt;
            return modulesOf(png, 0, false);
        }
        const QString out = m_dir.filePath("c128.png");
        const QImage png = encode("zint",
                                  {"-b", "20", "--scale=0.5", "--height=10", "--notext", "-d",
                                   QString::fromLatin1(text), "-o", out},
                                  {}, out, error);
        if (png.isNull())
            return std::nullopt;
        return modulesOf(png, 0, true);
    }

private slots:
    void initTestCase() {
        for (const char* tool : {"dmtxwrite", "qrencode", "zint"})
            if (QStandardPaths::findExecutable(tool).isEmpty())
                m_missing += QString(m_missing.isEmpty() ? "" : ", ") + tool;
        if (!m_missing.isEmpty())
            return;
        QVERIFY(m_dir.isValid());
        testing::startWindowTest(m_dir.filePath("store"));
        m_simulator = testing::startSimulator({testing::readerConfig("Golden")});
        QVERIFY(m_simulator);
        m_admin = std::make_unique<sim::AdminConsole>(*m_simulator);
        m_coordinator = std::make_unique<link::Coordinator>();
        testing::focusReader(*m_coordinator, m_simulator->reader(0)->address().toString());
        m_conn = std::make_unique<link::ReaderConnection>();
        QTRY_VERIFY(m_conn->Connected());
        QVERIFY(testing::takeControl(*m_conn));
        // Sensor noise on (the scene's default, 3 grey levels) and automatic photometry on.
        QCOMPARE(admin("sceneset noise 3"), QString("ok"));
        QCOMPARE(m_conn->Query("PHOTOEX").section(' ', 1, 1), QString("AUTO"));
        command("TRIG T");
        command("NUMDM 1");
        command("NUMBC 1");
        command("BARCODE ENABLE 0x20001");
        command("VERIFY ISO");

        // Calibrated on a Data Matrix target of 85 % light modules (grey 217) and 80 % contrast.
        calibrate(43, 217);
    }

    // Every test needs the encoders: without them it is skipped, saying which are missing.
    void init() {
        if (!m_missing.isEmpty())
            QSKIP(qPrintable("independent encoders not installed: " + m_missing + " (scripts/setup.sh)"));
    }

    void cleanupTestCase() {
        if (m_admin)
            admin("image none");
        m_conn.reset();
        m_coordinator.reset();
        m_admin.reset();
        m_simulator.reset();
    }

    void grades_data() {
        QTest::addColumn<Case>("golden");
        // Contrast pairs on either side of every Symbol Contrast limit (70, 55, 40, 20), two on
        // each side, and pairs whose Rmin is more than half their Rmax.
        // A barcode passes the Rmin rule only when its contrast is at least half its Rmax:
        // its pairs around the D/F limit are dark prints (50/111 and 46/102 a D, 42/88 and
        // 38/82 an F by contrast alone); light prints of low contrast (130/190, 152/200) are an
        // F by Rmin, with their contrast graded on its own (D, F). Every pair lies at least
        // 1.5 points from a limit, more than the noise moves a reported contrast.
        const QList<QPair<int, int>> pairs = {{20, 230},  {25, 215},  {45, 215},  {60, 210},
                                              {75, 210},  {90, 200},  {105, 200}, {130, 190},
                                              {140, 196}, {150, 196}, {150, 190}};
        const QList<QPair<int, int>> barcodePairs = {
            {20, 230},  {25, 215}, {45, 215}, {60, 210}, {75, 210}, {90, 200},  {70, 160}, {105, 200},
            {110, 215}, {50, 111}, {46, 102}, {42, 88},  {38, 82},  {130, 190}, {152, 200}};
        for (const char* encoder :
             {"dmtxwrite a", "dmtxwrite c", "dmtxwrite t", "dmtxwrite 8", "qrencode", "zint"})
            for (const auto& [dark, light] : QString(encoder) == "zint" ? barcodePairs : pairs)
                QTest::newRow(qPrintable(QString("%1 %2/%3").arg(encoder).arg(dark).arg(light)))
                    << Case{QString::fromLatin1(encoder), dark, light, 0, 0, 'M', 0, {}};
        // Blurred: the modulation of the small modules drops.
        for (int blur : {1, 2, 3})
            QTest::newRow(qPrintable(QString("dmtxwrite c 40/200 blurred %1").arg(blur)))
                << Case{"dmtxwrite c", 40, 200, blur, 0, 'M', 0, {}};
        QTest::newRow("qrencode 40/200 blurred 2") << Case{"qrencode", 40, 200, 2, 0, 'M', 0, {}};
        // Damaged: single data modules printed the other colour, each in a codeword of its own.
        for (int damaged : {1, 2, 3})
            QTest::newRow(qPrintable(QString("dmtxwrite t 20/230 %1 modules damaged").arg(damaged)))
                << Case{"dmtxwrite t", 20, 230, 0, damaged, 'M', 0, {}};
        // QR Codes at every error correction level, clean and with codewords damaged in known
        // blocks: small versions that keep codewords back against misdecoding, and symbols of
        // several blocks, short and long, interleaved.
        struct Qr {
            char level;
            int version;
            QList<QPair<int, int>> damaged;
        };
        const Qr qrs[] = {
            {'L', 1, {}},
            {'L', 1, {{0, 3}}},         // 1 - 2/(7 - 3) = 0.50 B
            {'M', 1, {{0, 2}}},         // 1 - 2/(10 - 2) = 0.75 A
            {'M', 1, {{0, 2}, {0, 9}}}, // 1 - 4/8 = 0.50 B
            {'Q', 1, {}},
            {'L', 2, {{0, 3}}},                                     // 1 - 2/(10 - 2) = 0.75 A
            {'L', 3, {{0, 5}, {0, 20}, {0, 33}, {0, 40}}},          // 1 - 8/(15 - 1) = 0.43 C
            {'L', 3, {{0, 5}, {0, 12}, {0, 20}, {0, 33}, {0, 40}}}, // 1 - 10/14 = 0.29 D
            // Three wrong: the decoder corrects them (7 check codewords), but past the four the
            // protection leaves, so none is left: 0, an F.
            {'L', 1, {{0, 3}, {0, 7}, {0, 11}}},
            // From version 4 every check codeword corrects: 1 - 10/20 = 0.50 B (not 10/19, a C).
            {'L', 4, {{0, 5}, {0, 20}, {0, 35}, {0, 50}, {0, 65}}},
            {'H', 2, {}},
            {'H',
             2,
             {{0, 1}, {0, 3}, {0, 5}, {0, 7}, {0, 9}, {0, 11}, {0, 13}, {0, 15}, {0, 14}, {0, 12}, {0, 10}}},
            {'Q', 5, {{0, 1}, {0, 4}, {3, 2}, {3, 7}, {3, 11}}}, // blocks 0 and 3: 1 - 6/18 = 0.67 A
            {'Q', 5, {{1, 0}, {1, 3}, {1, 6}, {1, 9}, {2, 5}}},  // block 1: 1 - 8/18 = 0.56 B
            {'H', 7, {}},
            {'H', 7, {{2, 0}, {2, 2}, {2, 4}, {2, 6}, {2, 8}, {2, 10}, {4, 1}}}, // 1 - 12/26 = 0.54 B
            {'H', 7, {{1, 0}, {1, 1}, {1, 3}, {1, 5}, {1, 7}, {1, 9}, {1, 11}, {1, 12}}}, // 0.38 C
        };
        for (const Qr& qr : qrs) {
            Case golden{"qrencode", 20, 230, 0, 0, 'M', 0, {}};
            golden.qrLevel = qr.level;
            golden.qrVersion = qr.version;
            golden.damagedWords = qr.damaged;
            // Named by the codewords damaged in each block, e.g. "2 in block 0, 3 in block 3".
            QMap<int, int> perBlock;
            for (const auto& [block, word] : qr.damaged)
                ++perBlock[block];
            QStringList damage;
            for (auto it = perBlock.cbegin(); it != perBlock.cend(); ++it)
                damage << QString("%1 in block %2").arg(it.value()).arg(it.key());
            QTest::newRow(qPrintable(QString("qrencode -l %1 -v %2 20/230 %3")
                                         .arg(QLatin1Char(qr.level))
                                         .arg(qr.version)
                                         .arg(damage.isEmpty() ? QString("clean") : damage.join(", "))))
                << golden;
        }
    }

    void grades() {
        QFETCH(Case, golden);
        QString error;
        std::optional<Modules> modules = symbolOf(golden.encoder, &error, golden.qrLevel, golden.qrVersion);
        QVERIFY2(modules, qPrintable(error));
        const Kind kind = golden.encoder == "zint"       ? Kind::Code128
                          : golden.encoder == "qrencode" ? Kind::Qr
                                                         : Kind::DataMatrix;
        // Damage: modules four apart on the diagonal through the middle, so that no two share a
        // codeword (a codeword's eight modules lie within three rows and three columns).
        for (int k = 0; k < golden.damagedModules; ++k) {
            const int at = modules->rows / 2 - 4 + 4 * k;
            modules->dark[size_t(at) * modules->cols + at] = !modules->dark[size_t(at) * modules->cols + at];
        }
        // QR damage: the first module of each damaged codeword.
        double qrUnused = -1;
        if (kind == Kind::Qr) {
            // A symbol's size tells its version: 17 + 4 v modules.
            const int version = (modules->rows - 17) / 4;
            const std::optional<QrStructure> structure = qrStructure(version, golden.qrLevel);
            QVERIFY2(structure, qPrintable(QString("version %1 level %2").arg(version).arg(golden.qrLevel)));
            if (golden.qrVersion > 0)
                QCOMPARE(version, golden.qrVersion);
            QHash<int, int> errors;
            for (const auto& [block, word] : golden.damagedWords) {
                // Data codeword k of block b is the (k B + b)-th of the interleaved sequence.
                QVERIFY(word < structure->shortData && block < structure->blocks);
                const auto [r, c] = qrCodewordModule(version, word * structure->blocks + block);
                QVERIFY(r >= 0);
                modules->dark[size_t(r) * modules->cols + c] = !modules->dark[size_t(r) * modules->cols + c];
                ++errors[block];
            }
            // Each block's Unused Error Correction is 1 - 2 t / (d - p) for t codewords in error
            // among its d check codewords, p of them kept against misdecoding; the symbol's the
            // least of its blocks', and 0 once a block needs more than it has.
            qrUnused = 1.0;
            for (int block = 0; block < structure->blocks; ++block)
                qrUnused = std::min(qrUnused, 1.0 - 2.0 * errors.value(block) /
                                                        (structure->checkPerBlock - structure->protection));
            qrUnused = std::max(0.0, qrUnused);
        }
        const int x = kind == Kind::Code128 ? 5 : kind == Kind::Qr ? 7 : 8;
        const Picture picture = print(kind, *modules, x, golden.dark, golden.light, golden.blur);
        QVERIFY(show(picture.image, "golden"));
        Expected e = kind == Kind::Code128 ? expectBarcode(picture, picture.top + picture.barHeight / 2.0)
                                           : expectMatrix(picture);
        if (kind == Kind::DataMatrix) {
            // One codeword in error uses two of the block's check codewords.
            const QHash<int, int> checkWords = {{10, 5},  {12, 7},  {14, 10}, {16, 12}, {18, 14},
                                                {20, 18}, {22, 20}, {24, 24}, {26, 28}};
            QVERIFY2(checkWords.contains(modules->rows), qPrintable(QString::number(modules->rows)));
            e.unusedCorrection = 1.0 - 2.0 * golden.damagedModules / checkWords.value(modules->rows);
            const int uec = gradeAtLeast(e.unusedCorrection, 0.62, 0.50, 0.37, 0.25);
            e.overall = std::max(e.overall, letter(uec));
        }
        if (kind == Kind::Qr) {
            e.unusedCorrection = qrUnused;
            e.overall = std::max(e.overall, letter(gradeAtLeast(qrUnused, 0.62, 0.50, 0.37, 0.25)));
        }

        const std::optional<link::Record> record = readOnce();
        QVERIFY2(record, "no read");
        QVERIFY(record->HasVerification());
        const link::VerificationResult& result = *record->Verification();
        const QJsonObject raw = result.raw;
        const QString report = QString::fromUtf8(QJsonDocument(raw).toJson(QJsonDocument::Compact));
        const double rmax = raw.value("maxReflectance").toDouble();
        const double rmin = raw.value("minReflectance").toDouble();
        const double contrast = raw.value("symbolContrast").toDouble();
        const double modulation = raw.value("modulation").toDouble();
        qInfo("%s: Rmax %.1f (%.1f) Rmin %.1f (%.1f) SC %.1f (%.1f) MOD %.2f (%.2f) EC %.1f (%.1f) UEC %.2f "
              "(%.2f) grade %s (%s)",
              QTest::currentDataTag(), rmax, e.rmax, rmin, e.rmin, contrast, e.contrast, modulation,
              e.modulation, raw.value("edgeContrast").toDouble(), e.edgeContrast,
              raw.value("unusedErrorCorrection").toDouble(-1), e.unusedCorrection,
              qPrintable(result.overallGrade), qPrintable(e.overall));

        QVERIFY2(std::abs(rmax - e.rmax) <= kTolerance, qPrintable(report));
        QVERIFY2(std::abs(rmin - e.rmin) <= kTolerance, qPrintable(report));
        QVERIFY2(std::abs(contrast - e.contrast) <= kTolerance, qPrintable(report));
        QVERIFY2(raw.value("calibrated").toBool(), qPrintable(report));
        QVERIFY2(!raw.contains("saturated"), qPrintable(report));
        QCOMPARE(gradeOf(result, "Symbol Contrast"), e.contrastGrade);
        QVERIFY2(std::abs(percentShown(result, "Symbol Contrast") - e.contrast) <= kTolerance,
                 qPrintable(report));
        if (!e.modulationGrade.isEmpty()) {
            const double tolerance = std::max(kModulationTolerance, 2 * kTolerance / e.contrast);
            QVERIFY2(std::abs(modulation - e.modulation) <= tolerance, qPrintable(report));
            QCOMPARE(gradeOf(result, "Modulation"), e.modulationGrade);
        }
        if (kind == Kind::Code128) {
            QVERIFY2(std::abs(raw.value("edgeContrast").toDouble() - e.edgeContrast) <= kTolerance,
                     qPrintable(report));
            QCOMPARE(gradeOf(result, "Minimum Reflectance"), e.reflectanceGrade);
            QCOMPARE(gradeOf(result, "Edge Contrast"), e.edgeGrade);
            // The rows show the values graded: Rmin, the least edge contrast.
            QVERIFY2(std::abs(percentShown(result, "Minimum Reflectance") - e.rmin) <= kTolerance,
                     qPrintable(report));
            QVERIFY2(std::abs(percentShown(result, "Edge Contrast") - e.edgeContrast) <= kTolerance,
                     qPrintable(report));
        }
        if (e.unusedCorrection >= 0) {
            QVERIFY2(std::abs(raw.value("unusedErrorCorrection").toDouble(-1) - e.unusedCorrection) < 1e-6,
                     qPrintable(report));
            QCOMPARE(gradeOf(result, "Unused Error Correction"),
                     letter(gradeAtLeast(e.unusedCorrection, 0.62, 0.50, 0.37, 0.25)));
            QVERIFY2(std::abs(percentShown(result, "Unused Error Correction") - 100 * e.unusedCorrection) <=
                         0.05,
                     qPrintable(report));
        }
        QCOMPARE(result.overallGrade, e.overall);
    }

    // Calibrated on a dim target said to be 85 % light, the reader's grading exposure is long:
    // a white print then fills the camera's scale. The result says so, in a warning and a row
    // of its own, each giving the share of the symbol at full scale in percent (its light
    // modules), and reports no reflectance above 100 %.
    void saturatedPrintIsFlagged() {
        calibrate(25, 130);
        QString error;
        const std::optional<Modules> modules = symbolOf("dmtxwrite a", &error);
        QVERIFY2(modules, qPrintable(error));
        QVERIFY(show(print(Kind::DataMatrix, *modules, 8, 20, 255, 0).image, "saturated"));
        const std::optional<link::Record> record = readOnce();
        QVERIFY2(record, "no read");
        const QJsonObject raw = record->Verification()->raw;
        const QString report = QString::fromUtf8(QJsonDocument(raw).toJson(QJsonDocument::Compact));
        QVERIFY2(raw.value("saturated").toBool(), qPrintable(report));
        QVERIFY2(raw.value("maxReflectance").toDouble() <= 100.0, qPrintable(report));
        QVERIFY2(raw.value("symbolContrast").toDouble() <=
                     100.0 - raw.value("minReflectance").toDouble() + 1e-9,
                 qPrintable(report));
        // The white modules are what reached full scale: about their share of the symbol (the
        // edge of the box around it a little more).
        const double light = 100.0 * double(std::count(modules->dark.begin(), modules->dark.end(), false)) /
                             double(modules->dark.size());
        const QRegularExpression share("^Saturated: (\\d+\\.\\d) % of the symbol at full scale");
        const QRegularExpressionMatch warned = share.match(raw.value("warning").toString());
        QVERIFY2(warned.hasMatch() && std::abs(warned.captured(1).toDouble() - light) <= 5,
                 qPrintable(report));
        QString row = "(no Saturation row)";
        for (const QJsonValue& p : raw.value("parameters").toArray())
            if (p.toObject().value("name").toString() == "Saturation")
                row = p.toObject().value("value").toString();
        QCOMPARE(row, warned.captured(1) + " % at full scale");
    }

    // The Code 128 symbol printed at 5 pixels a module, dark on light grey.
    std::optional<Picture> barcodePrint(int dark, int light) {
        QString error;
        const std::optional<Modules> modules = symbolOf("zint", &error);
        if (!modules) {
            qWarning() << error;
            return std::nullopt;
        }
        return print(Kind::Code128, *modules, 5, dark, light, 0);
    }

    // A barcode's scan grades, best first, as one word ("AAAACCCCCC").
    static QString scanGradesSorted(const link::VerificationResult& result) {
        QStringList scans;
        for (const QJsonValue& v : result.raw.value("scanGrades").toArray())
            scans << v.toString();
        std::sort(scans.begin(), scans.end());
        return scans.join("");
    }

    // Reads the picture shown; its verification result, or a failure.
    std::optional<link::VerificationResult> verificationOf(const QImage& image, const QString& name) {
        if (!show(image, name))
            return std::nullopt;
        const std::optional<link::Record> record = readOnce();
        if (!record || !record->HasVerification())
            return std::nullopt;
        return *record->Verification();
    }

    // The first bar of a barcode print past its middle: its last module's column.
    static int barPastTheMiddle(const Picture& p) {
        int column = p.modules.cols / 2;
        while (!(p.modules.at(0, column) && !p.modules.at(0, column + 1)))
            ++column;
        return column;
    }

    // A barcode is graded scan by scan. Its bars printed darker, on whiter paper, over their
    // top four tenths than below: the ten scans over the middle eight tenths of the height cross
    // the dark print four times (an A by contrast) and the pale one six times (a C), so the
    // symbol grades (4 x 4 + 6 x 2) / 10 = 2.8, a B. Its Symbol Contrast, row and summary alike,
    // is that of the pale scans, and so are its Rmax (their lower) and Rmin (their higher); its
    // mean light and dark grey levels are one scan's own.
    void barcodeGradedScanByScan() {
        calibrate(43, 217);
        constexpr int kDarkTop = 20, kLightTop = 215, kDarkBelow = 90, kLightBelow = 200;
        std::optional<Picture> picture = barcodePrint(kDarkTop, kLightTop);
        QVERIFY(picture);
        const int split = picture->top + picture->barHeight * 4 / 10;
        for (int py = split; py < kHeight; ++py) {
            uchar* line = picture->image.scanLine(py);
            for (int px = 0; px < kWidth; ++px)
                line[px] = line[px] == kDarkTop ? kDarkBelow : kLightBelow;
        }
        const Expected top = expectBarcode(*picture, picture->top + picture->barHeight * 0.2);
        const Expected below = expectBarcode(*picture, picture->top + picture->barHeight * 0.7);
        QCOMPARE(top.overall, QString("A"));
        QCOMPARE(below.overall, QString("C"));

        const std::optional<link::VerificationResult> result = verificationOf(picture->image, "two-tone");
        QVERIFY2(result, "no verified read");
        const QJsonObject& raw = result->raw;
        const QString report = QString::fromUtf8(QJsonDocument(raw).toJson(QJsonDocument::Compact));
        QVERIFY2(std::abs(raw.value("symbolContrast").toDouble() - below.contrast) <= kTolerance,
                 qPrintable(report));
        QVERIFY2(std::abs(raw.value("maxReflectance").toDouble() - below.rmax) <= kTolerance,
                 qPrintable(report));
        QVERIFY2(std::abs(raw.value("minReflectance").toDouble() - below.rmin) <= kTolerance,
                 qPrintable(report));
        QVERIFY2(std::abs(percentShown(*result, "Symbol Contrast") - below.contrast) <= kTolerance,
                 qPrintable(report));
        QCOMPARE(gradeOf(*result, "Symbol Contrast"), QString("C"));
        const double darkOverLight = raw.value("meanDark").toDouble() / raw.value("meanLight").toDouble();
        QVERIFY2(std::abs(darkOverLight - top.rmin / top.rmax) <= 0.03 ||
                     std::abs(darkOverLight - below.rmin / below.rmax) <= 0.03,
                 qPrintable(report));
        QCOMPARE(scanGradesSorted(*result), QString("AAAACCCCCC"));
        QCOMPARE(valueShown(*result, "Scan Grade"), QString("2.8"));
        QCOMPARE(result->overallGrade, QString("B"));
    }

    // Decodability comes from the worst pair of neighbouring bar and space, edge to similar
    // edge: a bar widened by one pixel into the space after it, at 5 pixels a module, puts its
    // pair with the space before it a fifth of a module long and the following space's pair
    // with the next bar a fifth short: 1 - 0.2 / 0.5 = 0.60, a B.
    void barcodeDecodabilityFromItsWorstPair() {
        calibrate(43, 217);
        constexpr int kDark = 20;
        std::optional<Picture> picture = barcodePrint(kDark, 215);
        QVERIFY(picture);
        const int px = picture->left + (barPastTheMiddle(*picture) + 1) * int(picture->x);
        for (int py = picture->top; py < picture->top + picture->barHeight; ++py)
            picture->image.scanLine(py)[px] = uchar(kDark);

        const std::optional<link::VerificationResult> result = verificationOf(picture->image, "widened");
        QVERIFY2(result, "no verified read");
        const QString report = QString::fromUtf8(QJsonDocument(result->raw).toJson(QJsonDocument::Compact));
        const double decodability = valueShown(*result, "Decodability").toDouble();
        QVERIFY2(std::abs(decodability - 0.60) <= 0.08, qPrintable(report));
        QCOMPARE(gradeOf(*result, "Decodability"),
                 letter(gradeAtLeast(decodability, 0.62, 0.50, 0.37, 0.25)));
    }

    // A bar worn away over the bottom quarter of its height: the two lowest scans (at 0.81 and
    // 0.9 of the height) miss it and do not decode, each an F with Decodability 0; the other
    // eight are A. Decode says "8 of 10 scans" (F), and the symbol grades 8 x 4 / 10 = 3.2, a B.
    void barcodeScansThatDoNotDecode() {
        calibrate(43, 217);
        constexpr int kLight = 215;
        std::optional<Picture> picture = barcodePrint(20, kLight);
        QVERIFY(picture);
        const int column = barPastTheMiddle(*picture);
        for (int py = picture->top + picture->barHeight * 3 / 4; py < picture->top + picture->barHeight; ++py)
            for (int c = column; c >= 0 && picture->modules.at(0, c); --c)
                for (int dx = 0; dx < int(picture->x); ++dx)
                    picture->image.scanLine(py)[picture->left + c * int(picture->x) + dx] = uchar(kLight);

        const std::optional<link::VerificationResult> result = verificationOf(picture->image, "worn");
        QVERIFY2(result, "no verified read");
        const QString report = QString::fromUtf8(QJsonDocument(result->raw).toJson(QJsonDocument::Compact));
        QCOMPARE(valueShown(*result, "Decode"), QString("8 of 10 scans"));
        QCOMPARE(gradeOf(*result, "Decode"), QString("F"));
        QCOMPARE(valueShown(*result, "Decodability"), QString("0.00"));
        QCOMPARE(scanGradesSorted(*result), QString("AAAAAAAAFF"));
        QCOMPARE(valueShown(*result, "Scan Grade"), QString("3.2"));
        QCOMPARE(result->overallGrade, QString("B"));
    }

    // A target that does not show what it is said to be fails its calibration: the reader
    // answers why in the light's calibration text and the record's status. Cells of two and a
    // half pixels are too small for the automatic aperture (4712: aperture too large, the cell
    // under the smallest the reader measures). (A contrast failure, 4650, is in
    // tests/sim/transcripts/calibration.txt.)
    void calibrationFailures() {
        command("APERTURE AUTO");
        // The reader's own scene: its Data Matrix at 2.5 pixels a module.
        QCOMPARE(admin("image none"), QString("ok"));
        QCOMPARE(admin("sceneset scale 2.5"), QString("ok"));
        link::Record record;
        calibrateOn(0, 0, 0, &record);
        admin("sceneset scale 9");
        const QString text = "ISO Verification aperture too large. Cell Size is out of spec < .005 inches";
        QVERIFY(record.HasCalibration());
        QCOMPARE(record.Calibration()->errorCode, 4712);
        QCOMPARE(record.Calibration()->raw.value("status").toString(), text);
        QCOMPARE(m_conn->Query("CALIBRATED"), QString("CALIBRATED FALSE"));
        QCOMPARE(m_conn->Query("CALIBRATED_STRING"), "CALIBRATED_STRING \"" + text + "\"");
    }
};

QTEST_MAIN(TestGoldenGrades)
#include "tst_goldengrades.moc"
