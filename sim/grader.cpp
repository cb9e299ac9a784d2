#include "sim/grader.h"

#include "sim/imagingparameters.h"

#define ZX_USE_UTF8 1
#include <ZXing/BitMatrix.h>
#include <ZXing/MultiFormatWriter.h>

#include <QJsonArray>
#include <QLineF>

#include <algorithm>
#include <cmath>
#include <exception>
#include <optional>
#include <vector>

namespace vm::sim {

namespace {

// Mean grey of a small disc at p: the measuring aperture, about 0.4 modules.
double aperture(const QImage& image, const QPointF& p, double radius) {
    const int r = std::max(0, int(radius));
    double sum = 0;
    int count = 0;
    const int cx = int(std::floor(p.x())), cy = int(std::floor(p.y()));
    for (int y = cy - r; y <= cy + r; ++y) {
        if (y < 0 || y >= image.height())
            continue;
        const uchar* line = image.constScanLine(y);
        for (int x = cx - r; x <= cx + r; ++x) {
            if (x < 0 || x >= image.width() || (x - cx) * (x - cx) + (y - cy) * (y - cy) > r * r)
                continue;
            sum += line[x];
            ++count;
        }
    }
    return count ? sum / count : 0.0;
}

bool fixedDataMatrix(int r, int c, int rows, int cols, bool* dark) {
    if (c == 0 || r == rows - 1) {
        *dark = true;
        return true;
    }
    if (r == 0) {
        *dark = c % 2 == 0;
        return true;
    }
    if (c == cols - 1) {
        *dark = (rows - 1 - r) % 2 == 0;
        return true;
    }
    return false;
}

bool fixedQr(int r, int c, int n, bool* dark) {
    auto finder = [](int dr, int dc) { return std::max(std::abs(dr - 3), std::abs(dc - 3)) != 2; };
    if (r < 7 && c < 7) {
        *dark = finder(r, c);
        return true;
    }
    if (r < 7 && c >= n - 7) {
        *dark = finder(r, c - (n - 7));
        return true;
    }
    if (r >= n - 7 && c < 7) {
        *dark = finder(r - (n - 7), c);
        return true;
    }
    if (r == 6 && c >= 8 && c <= n - 9) {
        *dark = c % 2 == 0;
        return true;
    }
    if (c == 6 && r >= 8 && r <= n - 9) {
        *dark = r % 2 == 0;
        return true;
    }
    return false;
}

// Error-correction codewords of each Data Matrix size.
int dataMatrixEccWords(int rows, int cols) {
    struct Size {
        int rows, cols, ecc;
    };
    static const Size sizes[] = {
        {10, 10, 5},   {12, 12, 7},   {14, 14, 10},    {16, 16, 12},    {18, 18, 14},    {20, 20, 18},
        {22, 22, 20},  {24, 24, 24},  {26, 26, 28},    {32, 32, 36},    {36, 36, 42},    {40, 40, 48},
        {44, 44, 56},  {48, 48, 68},  {52, 52, 84},    {64, 64, 112},   {72, 72, 144},   {80, 80, 192},
        {88, 88, 224}, {96, 96, 272}, {104, 104, 336}, {120, 120, 408}, {132, 132, 496}, {144, 144, 620},
        {8, 18, 7},    {8, 32, 11},   {12, 26, 14},    {12, 36, 18},    {16, 36, 24},    {16, 48, 28},
    };
    for (const Size& s : sizes) {
        if (s.rows == rows && s.cols == cols)
            return s.ecc;
    }
    return 0;
}

// The modules the decoded text should have printed, when our encoder chooses
// the same size; a code from another encoder may use another encodation, which
// shows as a large mismatch and is then not used.
std::optional<std::vector<bool>> idealDataMatrix(const QString& text, int rows, int cols) {
    ZXing::BitMatrix matrix;
    try {
        ZXing::MultiFormatWriter writer(ZXing::BarcodeFormat::DataMatrix);
        writer.setMargin(0);
        matrix = writer.encode(text.toStdString(), 0, 0);
    } catch (const std::exception&) {
        return std::nullopt;
    }
    int left = matrix.width(), top = matrix.height(), right = -1, bottom = -1;
    for (int y = 0; y < matrix.height(); ++y)
        for (int x = 0; x < matrix.width(); ++x)
            if (matrix.get(x, y)) {
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
    if (right - left + 1 != cols || bottom - top + 1 != rows)
        return std::nullopt;
    std::vector<bool> modules(size_t(rows) * cols);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c)
            modules[size_t(r) * cols + c] = matrix.get(left + c, top + r);
    return modules;
}

struct EdgeStats {
    double maxDeviation = 0.0;  // modules
    double meanDeviation = 0.0; // modules, signed
    double darkRun = 0.0;
    double lightRun = 0.0;
    double measuredPitch = 0.0; // pixels
    bool valid = false;
};

// Follows an alternating timing edge from module `from` to module `to` and
// compares its transitions with the ideal grid.
EdgeStats timingEdge(const QImage& grey, const SymbolGrid& grid, bool alongTop, double threshold) {
    EdgeStats stats;
    const int count = alongTop ? grid.cols : grid.rows;
    const double pitch = alongTop ? grid.pitchAcross() : grid.pitchDown();
    const int steps = std::max(40, int(count * pitch * 4));
    std::vector<double> positions; // in modules
    bool previousDark = false;
    bool first = true;
    for (int i = 0; i <= steps; ++i) {
        const double t = double(i) / steps;
        const QPointF p = alongTop ? grid.point(t, 0.5 / grid.rows) : grid.point(1.0 - 0.5 / grid.cols, t);
        const bool dark = (aperture(grey, p, 0) < threshold) == grid.darkOnLight;
        if (!first && dark != previousDark)
            positions.push_back(t * count);
        previousDark = dark;
        first = false;
    }
    if (positions.size() < 4)
        return stats;
    double sumDev = 0, maxDev = 0;
    for (double pos : positions) {
        const double ideal = std::round(pos);
        const double dev = pos - ideal;
        sumDev += dev;
        maxDev = std::max(maxDev, std::abs(dev));
    }
    // Runs alternate dark and light; the first run's colour follows the edge's pattern.
    double dark = 0, light = 0;
    int darkCount = 0, lightCount = 0;
    for (size_t i = 1; i < positions.size(); ++i) {
        const double run = positions[i] - positions[i - 1];
        const QPointF mid =
            alongTop ? grid.point((positions[i] + positions[i - 1]) / 2 / count, 0.5 / grid.rows)
                     : grid.point(1.0 - 0.5 / grid.cols, (positions[i] + positions[i - 1]) / 2 / count);
        const bool isDark = (aperture(grey, mid, 0) < threshold) == grid.darkOnLight;
        (isDark ? dark : light) += run;
        (isDark ? darkCount : lightCount) += 1;
    }
    stats.maxDeviation = maxDev;
    stats.meanDeviation = sumDev / positions.size();
    stats.darkRun = darkCount ? dark / darkCount : 1.0;
    stats.lightRun = lightCount ? light / lightCount : 1.0;
    stats.measuredPitch = pitch * (stats.darkRun + stats.lightRun) / 2.0;
    stats.valid = true;
    return stats;
}

SymbolMeasurements measureGrid(const QImage& grey, const DecodeOutcome& decoded, double scale) {
    SymbolMeasurements m;
    const SymbolGrid& grid = decoded.grid;
    const bool dataMatrix = decoded.symbology == QLatin1String("Data Matrix");
    m.rows = grid.rows;
    m.cols = grid.cols;
    const double pitch = (grid.pitchAcross() + grid.pitchDown()) / 2.0;
    m.cellSize = pitch;
    const double radius = std::max(0.0, pitch * 0.2);

    std::vector<double> samples(size_t(grid.rows) * grid.cols);
    for (int r = 0; r < grid.rows; ++r)
        for (int c = 0; c < grid.cols; ++c)
            samples[size_t(r) * grid.cols + c] = aperture(grey, grid.moduleCentre(r, c), radius);
    const auto [minIt, maxIt] = std::minmax_element(samples.begin(), samples.end());
    const double greyMin = *minIt, greyMax = *maxIt;
    const double threshold = (greyMin + greyMax) / 2.0;
    m.symbolContrast = (greyMax - greyMin) * scale;
    const double sc = std::max(1e-6, greyMax - greyMin);

    std::optional<std::vector<bool>> ideal;
    if (dataMatrix)
        ideal = idealDataMatrix(decoded.text, grid.rows, grid.cols);
    int wrongData = 0, dataModules = 0, wrongFixed = 0, fixedModules = 0;
    std::vector<double> modulations, fixedModulations;
    double lightSum = 0, darkSum = 0;
    int lightCount = 0, darkCount = 0;
    for (int r = 0; r < grid.rows; ++r) {
        for (int c = 0; c < grid.cols; ++c) {
            const double v = samples[size_t(r) * grid.cols + c];
            const bool seenDark = (v < threshold) == grid.darkOnLight;
            (seenDark ? darkSum : lightSum) += v;
            (seenDark ? darkCount : lightCount) += 1;
            bool expectedDark = seenDark;
            const bool fixed = dataMatrix ? fixedDataMatrix(r, c, grid.rows, grid.cols, &expectedDark)
                                          : fixedQr(r, c, grid.rows, &expectedDark);
            if (!fixed && ideal)
                expectedDark = (*ideal)[size_t(r) * grid.cols + c];
            const bool wrong = expectedDark != seenDark;
            const double modulation = wrong ? 0.0 : 2.0 * std::abs(v - threshold) / sc;
            if (fixed) {
                ++fixedModules;
                wrongFixed += wrong ? 1 : 0;
                fixedModulations.push_back(modulation);
            } else {
                ++dataModules;
                wrongData += wrong ? 1 : 0;
                modulations.push_back(modulation);
            }
        }
    }
    m.meanLight = lightCount ? lightSum / lightCount : 0;
    m.meanDark = darkCount ? darkSum / darkCount : 0;
    auto decile = [](std::vector<double> values) {
        if (values.empty())
            return 0.0;
        std::sort(values.begin(), values.end());
        return values[values.size() / 10];
    };
    m.modulation = decile(modulations);
    m.fixedPatternModulation = decile(fixedModulations);
    m.fixedPatternDamage = fixedModules ? double(wrongFixed) / fixedModules : 1.0;
    if (ideal && dataModules && double(wrongData) / dataModules < 0.25) {
        // Each wrong module spoils at most one codeword; one wrong codeword uses
        // two error-correction codewords.
        const int ecc = dataMatrixEccWords(grid.rows, grid.cols);
        if (ecc > 0)
            m.unusedErrorCorrection = std::max(0.0, 1.0 - 2.0 * wrongData / ecc);
    }

    const double across = grid.pitchAcross(), down = grid.pitchDown();
    m.axialNonuniformity = std::abs(across - down) / ((across + down) / 2.0);
    const QLineF top(grid.corners[0], grid.corners[1]);
    const QLineF left(grid.corners[0], grid.corners[3]);
    m.angleOfDistortion = std::abs(90.0 - std::fmod(top.angleTo(left), 180.0));
    if (m.angleOfDistortion > 45)
        m.angleOfDistortion = std::abs(90.0 - std::fmod(left.angleTo(top), 180.0));

    if (dataMatrix) {
        const EdgeStats topEdge = timingEdge(grey, grid, true, threshold);
        const EdgeStats rightEdge = timingEdge(grey, grid, false, threshold);
        if (topEdge.valid && rightEdge.valid) {
            m.gridNonuniformity = std::max(topEdge.maxDeviation, rightEdge.maxDeviation);
            m.centerOffset = std::abs((topEdge.meanDeviation + rightEdge.meanDeviation) / 2.0);
            const double dark = (topEdge.darkRun + rightEdge.darkRun) / 2,
                         light = (topEdge.lightRun + rightEdge.lightRun) / 2;
            m.printGrowth = (dark - light) / (dark + light);
            const double measured = (topEdge.measuredPitch + rightEdge.measuredPitch) / 2.0;
            m.sizeOffset = std::abs(measured / pitch - 1.0);
        } else {
            m.gridNonuniformity = 1.0;
        }
    }
    m.valid = true;
    return m;
}

SymbolMeasurements measureLinear(const QImage& grey, const DecodeOutcome& decoded, double scale) {
    SymbolMeasurements m;
    m.linear = true;
    if (decoded.corners.size() != 4)
        return m;
    // The scan runs through the middle of the located bars and on into the quiet zones.
    const QPointF a = (decoded.corners[0] + decoded.corners[3]) / 2.0;
    const QPointF b = (decoded.corners[1] + decoded.corners[2]) / 2.0;
    const QPointF extend = (b - a) * 0.08;
    const QPointF from = a - extend, to = b + extend;
    const int steps = std::max(20, int(QLineF(from, to).length()));
    std::vector<double> profile;
    for (int i = 0; i <= steps; ++i)
        profile.push_back(aperture(grey, from + (to - from) * (double(i) / steps), 1));
    const auto [minIt, maxIt] = std::minmax_element(profile.begin(), profile.end());
    const double sc = std::max(1e-6, *maxIt - *minIt);
    m.symbolContrast = sc * scale;
    const double threshold = (*minIt + *maxIt) / 2;
    // Edge contrast: the smallest difference between neighbouring space and bar extremes.
    double minEdge = sc;
    bool dark = profile[0] < threshold;
    double extreme = profile[0], previousExtreme = -1;
    for (double v : profile) {
        const bool isDark = v < threshold;
        if (isDark != dark) {
            if (previousExtreme >= 0)
                minEdge = std::min(minEdge, std::abs(extreme - previousExtreme));
            previousExtreme = extreme;
            extreme = v;
            dark = isDark;
        } else {
            extreme = dark ? std::min(extreme, v) : std::max(extreme, v);
        }
    }
    m.edgeContrast = minEdge * scale;
    m.modulation = minEdge / sc;
    m.meanLight = *maxIt;
    m.meanDark = *minIt;
    m.cellSize = QLineF(a, b).length() / std::max(1, steps);
    m.valid = true;
    return m;
}

int gradeAtLeast(double value, double a, double b, double c, double d) {
    return value >= a ? 4 : value >= b ? 3 : value >= c ? 2 : value >= d ? 1 : 0;
}

int gradeAtMost(double value, double a, double b, double c, double d) {
    return value <= a ? 4 : value <= b ? 3 : value <= c ? 2 : value <= d ? 1 : 0;
}

QString percent(double v) {
    return QString::number(v, 'f', 1) + QLatin1Char('%');
}

int classOf(int grade, const QString& worstGood, const QString& worstFair) {
    if (grade >= gradeValue(worstGood))
        return 3;
    if (grade >= gradeValue(worstFair))
        return 2;
    return 1;
}

} // namespace

QString gradeLetter(int grade) {
    static const char* letters[] = {"F", "D", "C", "B", "A"};
    return QString::fromLatin1(letters[std::clamp(grade, 0, 4)]);
}

int gradeValue(const QString& letter) {
    const QString l = letter.trimmed().toUpper();
    if (l == QLatin1String("A"))
        return 4;
    if (l == QLatin1String("B"))
        return 3;
    if (l == QLatin1String("C"))
        return 2;
    if (l == QLatin1String("D"))
        return 1;
    return 0;
}

SymbolMeasurements measureSymbol(const QImage& grey, const DecodeOutcome& decoded, double reflectanceScale) {
    if (!decoded.found)
        return {};
    if (decoded.grid.isValid())
        return measureGrid(grey, decoded, reflectanceScale);
    if (!decoded.twoDimensional)
        return measureLinear(grey, decoded, reflectanceScale);
    return {};
}

QJsonObject verificationResult(const SymbolMeasurements& m, bool decoded, const FieldReader& fields,
                               const QString& standard) {
    QJsonObject result{{"standard", standard}, {"errorCode", 0}};
    if (!decoded || !m.valid) {
        result.insert("overallGrade", "F");
        result.insert("gradeCode", 0);
        result.insert("class", "failed");
        result.insert("decode", "F");
        return result;
    }
    struct Row {
        QString key;  // VERENABLE keyword of the row, empty when it has none
        QString name; // as the report shows it
        QString value;
        int grade;
    };
    QList<Row> rows;
    rows.append(
        {"SC", "Symbol Contrast", percent(m.symbolContrast), gradeAtLeast(m.symbolContrast, 70, 55, 40, 20)});
    if (m.linear) {
        rows.append({"CM", "Modulation", QString::number(m.modulation, 'f', 2),
                     gradeAtLeast(m.modulation, 0.70, 0.60, 0.50, 0.40)});
        rows.append({"", "Edge Contrast", percent(m.edgeContrast), m.edgeContrast >= 15 ? 4 : 0});
    } else {
        rows.append({"CM", "Modulation", QString::number(m.modulation, 'f', 2),
                     gradeAtLeast(m.modulation, 0.50, 0.40, 0.30, 0.20)});
        rows.append({"AN", "Axial Nonuniformity", QString::number(m.axialNonuniformity, 'f', 3),
                     gradeAtMost(m.axialNonuniformity, 0.06, 0.08, 0.10, 0.12)});
        rows.append({"", "Grid Nonuniformity", QString::number(m.gridNonuniformity, 'f', 3),
                     gradeAtMost(m.gridNonuniformity, 0.38, 0.50, 0.63, 0.75)});
        const int damage = gradeAtMost(m.fixedPatternDamage, 0.0, 0.02, 0.05, 0.09);
        const int fixedMod = gradeAtLeast(m.fixedPatternModulation, 0.50, 0.40, 0.30, 0.20);
        rows.append(
            {"", "Fixed Pattern Damage", percent(m.fixedPatternDamage * 100), std::min(damage, fixedMod)});
        if (m.unusedErrorCorrection >= 0)
            rows.append({"UEC", "Unused Error Correction", percent(m.unusedErrorCorrection * 100),
                         gradeAtLeast(m.unusedErrorCorrection, 0.62, 0.50, 0.37, 0.25)});
        rows.append({"CS", "Cell Size", QString::number(m.cellSize, 'f', 2) + QStringLiteral(" px"),
                     m.cellSize > 25 ? 2 : gradeAtLeast(m.cellSize, 6, 5, 4, 3)});
        rows.append({"CO", "Center Offset", QString::number(m.centerOffset, 'f', 3),
                     gradeAtMost(m.centerOffset, 0.1, 0.2, 0.3, 0.4)});
        rows.append({"SO", "Size Offset", QString::number(m.sizeOffset, 'f', 3),
                     gradeAtMost(m.sizeOffset, 0.05, 0.10, 0.15, 0.20)});
        rows.append({"BM", "Border Match", percent((1.0 - m.fixedPatternDamage) * 100),
                     gradeAtLeast(1.0 - m.fixedPatternDamage, 0.99, 0.97, 0.94, 0.90)});
        rows.append({"PG", "Print Growth", QString::number(m.printGrowth, 'f', 3),
                     gradeAtMost(std::abs(m.printGrowth), 0.15, 0.30, 0.45, 0.60)});
        rows.append({"AD", "Angle of Distortion",
                     QString::number(m.angleOfDistortion, 'f', 2) + QStringLiteral(" deg"),
                     gradeAtMost(m.angleOfDistortion, 1, 2, 4, 7)});
    }
    rows.append({"", "Decode", "PASS", 4});

    // The values that the overall grade of the standard rests on; the DPM
    // checks add their own rows, each with its own range.
    static const QStringList kCore = {"Symbol Contrast",      "Modulation",
                                      "Axial Nonuniformity",  "Grid Nonuniformity",
                                      "Fixed Pattern Damage", "Unused Error Correction",
                                      "Edge Contrast",        "Decode"};
    const bool dpm = standard == QLatin1String("DPM") || standard == QLatin1String("KVTA");
    int overall = 4;
    int klass = 3;
    QJsonArray parameters;
    for (const Row& row : rows) {
        bool counts = kCore.contains(row.name);
        if (dpm && !row.key.isEmpty()) {
            const QString name = QStringLiteral("VERENABLE ") + row.key;
            counts = fields.text(name, 0).toUpper() != QLatin1String("N");
            if (counts)
                klass = std::min(klass, classOf(row.grade, fields.text(name, 1), fields.text(name, 2)));
        }
        if (counts)
            overall = std::min(overall, row.grade);
        parameters.append(
            QJsonObject{{"name", row.name}, {"value", row.value}, {"grade", gradeLetter(row.grade)}});
    }
    klass = std::min(klass, classOf(overall, fields.text("VERSTATUS", 0), fields.text("VERSTATUS", 1)));
    static const char* classNames[] = {"failed", "poor", "fair", "good"};
    result.insert("overallGrade", gradeLetter(overall));
    result.insert("gradeCode", klass);
    result.insert("class", classNames[klass]);
    result.insert("parameters", parameters);
    result.insert("symbolContrast", m.symbolContrast);
    result.insert("modulation", m.modulation);
    result.insert("axialNonuniformity", m.axialNonuniformity);
    result.insert("gridNonuniformity", m.gridNonuniformity);
    result.insert("fixedPatternDamage", m.fixedPatternDamage);
    if (m.unusedErrorCorrection >= 0)
        result.insert("unusedErrorCorrection", m.unusedErrorCorrection);
    result.insert("printGrowth", m.printGrowth);
    result.insert("cellSize", m.cellSize);
    result.insert("angleOfDistortion", m.angleOfDistortion);
    result.insert("meanLight", m.meanLight);
    result.insert("meanDark", m.meanDark);
    if (!m.linear) {
        result.insert("rows", m.rows);
        result.insert("cols", m.cols);
    }
    return result;
}

} // namespace vm::sim
