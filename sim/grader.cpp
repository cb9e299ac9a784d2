#include "sim/grader.h"

#include "sim/imagingparameters.h"

#include "sim/matrixcodewords.h"

#include <QJsonArray>
#include <QLineF>

#include <algorithm>
#include <cmath>
#include <exception>
#include <optional>
#include <vector>

namespace vm::sim {

namespace {

// The measuring aperture's diameter as a share of the X-dimension.
constexpr double kApertureShare = 0.8;

// The mean grey over the measuring aperture, a disc of `radius` pixels at p: the pixels whose
// centres lie inside it, or the pixel under p when the disc is too small to hold a centre.
// Averaging over most of a module is what keeps the sensor's noise out of the extremes.
double aperture(const QImage& image, const QPointF& p, double radius) {
    double sum = 0;
    int count = 0;
    if (radius >= 0.5) {
        const int x0 = int(std::floor(p.x() - radius)), x1 = int(std::floor(p.x() + radius));
        const int y0 = int(std::floor(p.y() - radius)), y1 = int(std::floor(p.y() + radius));
        const double r2 = radius * radius;
        for (int y = std::max(0, y0); y <= std::min(image.height() - 1, y1); ++y) {
            const uchar* line = image.constScanLine(y);
            const double dy = y + 0.5 - p.y();
            for (int x = std::max(0, x0); x <= std::min(image.width() - 1, x1); ++x) {
                const double dx = x + 0.5 - p.x();
                if (dx * dx + dy * dy > r2)
                    continue;
                sum += line[x];
                ++count;
            }
        }
    }
    if (count)
        return sum / count;
    const int x = int(std::floor(p.x())), y = int(std::floor(p.y()));
    if (x < 0 || y < 0 || x >= image.width() || y >= image.height())
        return 0.0;
    return image.constScanLine(y)[x];
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

// The fixed-pattern segment a fixed module belongs to: a Data Matrix has its two solid
// edges (L1 left, L2 bottom) and its two clock tracks (top, right); a QR Code its three
// finder patterns and two timing patterns. Each segment is graded on its own.
int fixedSegment(int r, int c, int rows, bool dataMatrix) {
    if (dataMatrix)
        return c == 0 ? 0 : r == rows - 1 ? 1 : r == 0 ? 2 : 3;
    if (r < 7 && c < 7)
        return 0;
    if (r < 7)
        return 1;
    if (c < 7)
        return 2;
    return r == 6 ? 3 : 4;
}

QString segmentName(int segment, bool dataMatrix) {
    static const char* dm[] = {"L1", "L2", "CT1", "CT2"};
    static const char* qr[] = {"FP1", "FP2", "FP3", "TP1", "TP2"};
    return QString::fromLatin1(dataMatrix ? dm[std::clamp(segment, 0, 3)] : qr[std::clamp(segment, 0, 4)]);
}

// How far the edges of an alternating timing edge stray from an even grid, in modules.
// Every module boundary of the edge is a transition, so the k-th transition is the k-th
// boundary; rounding to the nearest boundary could not tell a drift past half a module. -1 when
// the transitions seen do not match the modules (the edge is too damaged to follow).
double timingDrift(const QImage& grey, const SymbolGrid& grid, bool alongTop, double threshold) {
    const int count = alongTop ? grid.cols : grid.rows;
    const double pitch = alongTop ? grid.pitchAcross() : grid.pitchDown();
    const int steps = std::max(40, int(count * pitch * 4));
    std::vector<double> positions;
    bool previousDark = false;
    for (int i = 0; i <= steps; ++i) {
        const double t = double(i) / steps;
        const QPointF p = alongTop ? grid.point(t, 0.5 / grid.rows) : grid.point(1.0 - 0.5 / grid.cols, t);
        const bool dark = (aperture(grey, p, 0) < threshold) == grid.darkOnLight;
        if (i > 0 && dark != previousDark) {
            const double at = t * count;
            // Noise on an edge flips twice within a sliver of a module: neither flip counts.
            if (!positions.empty() && at - positions.back() < 0.25)
                positions.pop_back();
            else
                positions.push_back(at);
        }
        previousDark = dark;
    }
    if (int(positions.size()) != count - 1 || positions.size() < 3)
        return -1.0;
    // The even grid that fits the edges best: a symbol located a little too large or too far
    // off shifts every edge alike, which is no unevenness of the print.
    const double n = double(positions.size());
    double sk = 0, sp = 0, skk = 0, skp = 0;
    for (size_t k = 0; k < positions.size(); ++k) {
        const double x = double(k + 1);
        sk += x;
        sp += positions[k];
        skk += x * x;
        skp += x * positions[k];
    }
    const double pitchFit = (n * skp - sk * sp) / std::max(1e-9, n * skk - sk * sk);
    const double offset = (sp - pitchFit * sk) / n;
    if (pitchFit <= 0)
        return -1.0;
    double drift = 0;
    for (size_t k = 0; k < positions.size(); ++k)
        drift = std::max(drift, std::abs(positions[k] - offset - pitchFit * double(k + 1)) / pitchFit);
    return drift;
}

SymbolMeasurements measureGrid(const QImage& grey, const DecodeOutcome& decoded, double scale) {
    SymbolMeasurements m;
    const SymbolGrid& grid = decoded.grid;
    const bool dataMatrix = decoded.symbology == QLatin1String("Data Matrix");
    m.rows = grid.rows;
    m.cols = grid.cols;
    const double pitch = (grid.pitchAcross() + grid.pitchDown()) / 2.0;
    m.cellSize = pitch;
    // The measuring aperture is 0.8 of the symbol's X-dimension across, centred on each module.
    const double radius = kApertureShare * pitch / 2.0;
    m.apertureDiameter = 2.0 * radius;

    std::vector<double> samples(size_t(grid.rows) * grid.cols);
    for (int r = 0; r < grid.rows; ++r)
        for (int c = 0; c < grid.cols; ++c)
            samples[size_t(r) * grid.cols + c] = aperture(grey, grid.moduleCentre(r, c), radius);
    const auto [minIt, maxIt] = std::minmax_element(samples.begin(), samples.end());
    const double greyMin = *minIt, greyMax = *maxIt;
    const double threshold = (greyMin + greyMax) / 2.0;
    // Full scale is the most a picture can say: a saturated light is reported at 100 % (and
    // flagged by the read cycle), never above.
    m.minReflectance = std::min(100.0, greyMin * scale);
    m.maxReflectance = std::min(100.0, greyMax * scale);
    m.symbolContrast = m.maxReflectance - m.minReflectance;
    const double sc = std::max(1e-6, greyMax - greyMin);

    // Each module is judged against what the symbol's own codewords print once read back and
    // corrected, whatever encodation its printer chose.
    std::optional<CorrectedMatrix> ideal;
    {
        std::vector<bool> seen(samples.size());
        for (size_t i = 0; i < samples.size(); ++i)
            seen[i] = (samples[i] < threshold) == grid.darkOnLight;
        ideal = dataMatrix ? correctDataMatrix(seen, grid.rows, grid.cols) : correctQrCode(seen, grid.rows);
        // A symbol whose codewords cannot be corrected from its grid has no correction left.
        m.unusedErrorCorrection = ideal ? std::max(0.0, ideal->unusedCorrection) : 0.0;
    }
    int dataModules = 0, fixedModules = 0;
    int segmentModules[5] = {}, segmentWrong[5] = {};
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
                expectedDark = ideal->modules[size_t(r) * grid.cols + c];
            const bool wrong = expectedDark != seenDark;
            const double modulation = wrong ? 0.0 : 2.0 * std::abs(v - threshold) / sc;
            if (fixed) {
                ++fixedModules;
                fixedModulations.push_back(modulation);
                const int segment = fixedSegment(r, c, grid.rows, dataMatrix);
                ++segmentModules[segment];
                segmentWrong[segment] += wrong ? 1 : 0;
            } else {
                ++dataModules;
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
    m.fixedPatternDamage = fixedModules ? 0.0 : 1.0;
    for (int segment = 0; segment < 5; ++segment) {
        const double share =
            segmentModules[segment] ? double(segmentWrong[segment]) / segmentModules[segment] : 0;
        if (share > m.fixedPatternDamage) {
            m.fixedPatternDamage = share;
            m.damagedSegment = segmentName(segment, dataMatrix);
        }
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
            const double top = timingDrift(grey, grid, true, threshold);
            const double right = timingDrift(grey, grid, false, threshold);
            m.gridNonuniformity = top >= 0 && right >= 0
                                      ? std::max(top, right)
                                      : std::max(topEdge.maxDeviation, rightEdge.maxDeviation);
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

// The reflectance profile along a scan line, one sample per pixel through the measuring
// aperture; points outside the picture are left out.
std::vector<double> scanProfile(const QImage& grey, QPointF from, QPointF to, double radius) {
    const int steps = std::max(20, int(QLineF(from, to).length()));
    std::vector<double> profile;
    profile.reserve(size_t(steps) + 1);
    const QRectF inside(0, 0, grey.width(), grey.height());
    for (int i = 0; i <= steps; ++i) {
        const QPointF p = from + (to - from) * (double(i) / steps);
        if (inside.contains(p))
            profile.push_back(aperture(grey, p, radius));
    }
    return profile;
}

// Analyses one scan profile (grey values): reflectances, edge contrast, the dips inside
// elements and the widths of the elements between the quiet zones.
LinearScan analyseScan(const std::vector<double>& profile, double scale, const QString& symbology,
                       std::vector<double>* widths) {
    LinearScan scan;
    if (profile.size() < 8)
        return scan;
    const auto [minIt, maxIt] = std::minmax_element(profile.begin(), profile.end());
    const double low = *minIt, high = *maxIt, sc = std::max(1e-6, high - low);
    const double threshold = (low + high) / 2;
    scan.minReflectance = std::min(100.0, low * scale);
    scan.maxReflectance = std::min(100.0, high * scale);
    scan.symbolContrast = scan.maxReflectance - scan.minReflectance;

    struct Element {
        bool bar;
        double start, end; // edge positions in samples
        double extreme;    // the space's peak or the bar's valley
        double spread;     // the largest dip (space) or bump (bar) inside it
    };
    std::vector<Element> elements;
    size_t first = 0;
    bool dark = profile[0] < threshold;
    auto close = [&](size_t from, size_t to, double startEdge, double endEdge) {
        const bool bar = dark;
        Element e{bar, startEdge, endEdge, profile[from], 0.0};
        double inner = bar ? -1.0 : 1e9;
        for (size_t i = from; i < to; ++i) {
            e.extreme = bar ? std::min(e.extreme, profile[i]) : std::max(e.extreme, profile[i]);
            // Only a turn of the profile inside the element is a defect; its edges slope.
            if (i > from && i + 1 < to) {
                if (!bar && profile[i] < profile[i - 1] && profile[i] <= profile[i + 1])
                    inner = std::min(inner, profile[i]);
                if (bar && profile[i] > profile[i - 1] && profile[i] >= profile[i + 1])
                    inner = std::max(inner, profile[i]);
            }
        }
        if (bar && inner >= 0)
            e.spread = inner - e.extreme;
        else if (!bar && inner < 1e9)
            e.spread = e.extreme - inner;
        elements.push_back(e);
    };
    // An element ends once the profile is clearly past the threshold, so that sensor noise
    // near an edge does not split it; the edge itself is where the threshold was crossed.
    const double margin = 0.05 * sc;
    double startEdge = 0;
    for (size_t i = 1; i < profile.size(); ++i) {
        if (dark ? profile[i] <= threshold + margin : profile[i] >= threshold - margin)
            continue;
        size_t j = i;
        while (j > first + 1 && (profile[j - 1] < threshold) != dark)
            --j;
        const double step = profile[j] - profile[j - 1];
        const double edge =
            double(j - 1) + (std::abs(step) > 1e-9 ? (threshold - profile[j - 1]) / step : 0.5);
        close(first, j, startEdge, edge);
        first = j;
        startEdge = edge;
        dark = !dark;
    }
    close(first, profile.size(), startEdge, double(profile.size() - 1));

    double edgeContrast = sc, largestSpread = 0;
    for (size_t i = 0; i < elements.size(); ++i) {
        if (i > 0)
            edgeContrast = std::min(edgeContrast, std::abs(elements[i].extreme - elements[i - 1].extreme));
        largestSpread = std::max(largestSpread, elements[i].spread);
    }
    scan.edgeContrast = std::min(scan.symbolContrast, edgeContrast * scale);
    scan.modulation = edgeContrast / sc;
    scan.defects = largestSpread / sc;

    // The elements between the quiet zones, which are the first and last spaces.
    size_t from = 0, to = elements.size();
    if (from < to && !elements[from].bar)
        ++from;
    if (to > from && !elements[to - 1].bar)
        --to;
    widths->clear();
    int bars = 0;
    for (size_t i = from; i < to; ++i) {
        widths->push_back(elements[i].end - elements[i].start);
        bars += elements[i].bar ? 1 : 0;
    }
    scan.elements = int(widths->size());
    if (widths->empty())
        return scan;
    const double total = elements[to - 1].end - elements[from].start;
    double modules = 0;
    if (symbology == QLatin1String("Code 128") && bars >= 7 && (bars - 4) % 3 == 0) {
        // Start, data and check characters of 11 modules with three bars each, and a stop of 13.
        modules = 11.0 * (bars - 4) / 3 + 13;
    } else {
        // The narrowest quarter of the elements stands for one module; the count follows.
        std::vector<double> sorted = *widths;
        std::sort(sorted.begin(), sorted.end());
        double module = sorted[sorted.size() / 8];
        for (int pass = 0; pass < 3; ++pass) {
            modules = 0;
            for (double w : *widths)
                modules += std::max(1.0, std::round(w / module));
            module = total / modules;
        }
    }
    const double module = total / modules;
    scan.moduleWidth = module;
    // Neighbouring bar and space together, edge to similar edge: ink spread and blur widen
    // one and narrow the other alike, and the decoder does not see them.
    double worst = 0;
    for (size_t i = 0; i + 1 < widths->size(); ++i) {
        const double pair = ((*widths)[i] + (*widths)[i + 1]) / module;
        worst = std::max(worst, std::abs(pair - std::max(2.0, std::round(pair))));
    }
    scan.decodability = std::max(0.0, 1.0 - worst / 0.5);
    return scan;
}

SymbolMeasurements measureLinear(const QImage& grey, const DecodeOutcome& decoded, double scale) {
    SymbolMeasurements m;
    m.linear = true;
    if (decoded.corners.size() != 4)
        return m;
    // The decoder tells where along the bars it read; the scans run through the middle of
    // the located bars and on into the quiet zones.
    const QPointF a = (decoded.corners[0] + decoded.corners[3]) / 2.0;
    const QPointF b = (decoded.corners[1] + decoded.corners[2]) / 2.0;
    const double length = QLineF(a, b).length();
    if (length < 8)
        return m;
    const QPointF centre = (a + b) / 2.0;
    // The decoder may report the row it read along rather than the symbol's axis. The axis is
    // the direction along which two lines a little above and below the middle show the same
    // bars: scans square to the bars, whatever the tilt of the print.
    auto agreement = [&](const QPointF& direction) {
        const QPointF normal(-direction.y(), direction.x()), half = direction * (length * 0.5);
        constexpr double kProbe = 12.0;
        const std::vector<double> above =
            scanProfile(grey, centre - half - normal * kProbe, centre + half - normal * kProbe, 0);
        const std::vector<double> below =
            scanProfile(grey, centre - half + normal * kProbe, centre + half + normal * kProbe, 0);
        if (above.size() != below.size() || above.size() < 8)
            return 0.0;
        const auto [lo, hi] = std::minmax_element(above.begin(), above.end());
        const double cut = (*lo + *hi) / 2;
        int same = 0;
        for (size_t i = 0; i < above.size(); ++i)
            same += (above[i] < cut) == (below[i] < cut) ? 1 : 0;
        return double(same) / above.size();
    };
    const QPointF reported = (b - a) / length;
    QPointF along = reported;
    double bestAgreement = agreement(reported);
    for (double degrees = -20; degrees <= 20.01; degrees += 0.5) {
        const double t = degrees * M_PI / 180.0;
        const QPointF direction(reported.x() * std::cos(t) - reported.y() * std::sin(t),
                                reported.x() * std::sin(t) + reported.y() * std::cos(t));
        const double value = agreement(direction);
        if (value > bestAgreement + 1e-9) {
            bestAgreement = value;
            along = direction;
        }
    }
    const QPointF across(-along.y(), along.x());
    const QPointF from = centre - along * (length * 0.58), to = centre + along * (length * 0.58);

    // How far the bars reach up and down: as far as a line across them still shows the
    // middle line's pattern of bars and spaces.
    const std::vector<double> middle = scanProfile(grey, from, to, 0);
    if (middle.size() < 8)
        return m;
    const auto [lowIt, highIt] = std::minmax_element(middle.begin(), middle.end());
    const double cut = (*lowIt + *highIt) / 2;
    auto reach = [&](double direction) {
        double offset = 0;
        for (double step = 1; step < grey.height() + grey.width(); ++step) {
            const QPointF shift = across * (direction * step);
            const std::vector<double> line = scanProfile(grey, from + shift, to + shift, 0);
            if (line.size() != middle.size())
                break;
            int same = 0;
            for (size_t i = 0; i < line.size(); ++i)
                same += (line[i] < cut) == (middle[i] < cut) ? 1 : 0;
            if (same < 0.9 * line.size())
                break;
            offset = step;
        }
        return offset;
    };
    const double up = reach(-1), down = reach(1);

    // The X-dimension from the middle line, read pixel by pixel; the scans then look through
    // an aperture of 0.8 X, as the reflectance profile of a verifier does.
    std::vector<double> middleWidths;
    const double module = analyseScan(middle, scale, decoded.symbology, &middleWidths).moduleWidth;
    const double radius = kApertureShare * module / 2.0;
    m.apertureDiameter = 2.0 * radius;

    // Ten scans evenly over the bars' height, leaving out a tenth at each end.
    std::vector<std::vector<double>> widths(10);
    for (int k = 0; k < 10; ++k) {
        const double offset = -up + (up + down) * (0.1 + 0.8 * k / 9.0);
        const QPointF shift = across * offset;
        m.scans.push_back(analyseScan(scanProfile(grey, from + shift, to + shift, radius), scale,
                                      decoded.symbology, &widths[size_t(k)]));
    }
    // A scan decodes when it shows as many elements as most scans do, the symbol's own.
    std::vector<int> counts;
    for (const LinearScan& scan : m.scans)
        counts.push_back(scan.elements);
    std::sort(counts.begin(), counts.end());
    int usual = 0, best = 0;
    for (size_t i = 0; i < counts.size();) {
        size_t j = i;
        while (j < counts.size() && counts[j] == counts[i])
            ++j;
        if (int(j - i) > best) {
            best = int(j - i);
            usual = counts[i];
        }
        i = j;
    }
    const bool code128 = decoded.symbology == QLatin1String("Code 128");
    for (LinearScan& scan : m.scans) {
        // Code 128 has three bars to a character and four in its stop.
        const int bars = (scan.elements + 1) / 2;
        scan.decodes = code128 ? bars >= 7 && (bars - 4) % 3 == 0 : scan.elements == usual && usual >= 3;
        if (!scan.decodes)
            scan.decodability = 0;
    }

    // The symbol's summary values are those of its worst scans.
    const LinearScan& firstScan = m.scans.front();
    m.symbolContrast = firstScan.symbolContrast;
    m.edgeContrast = firstScan.edgeContrast;
    m.modulation = firstScan.modulation;
    m.meanLight = firstScan.maxReflectance / scale;
    m.meanDark = firstScan.minReflectance / scale;
    m.minReflectance = firstScan.minReflectance;
    m.maxReflectance = firstScan.maxReflectance;
    for (const LinearScan& scan : m.scans) {
        m.minReflectance = std::max(m.minReflectance, scan.minReflectance);
        m.maxReflectance = std::min(m.maxReflectance, scan.maxReflectance);
        m.symbolContrast = std::min(m.symbolContrast, scan.symbolContrast);
        m.edgeContrast = std::min(m.edgeContrast, scan.edgeContrast);
        m.modulation = std::min(m.modulation, scan.modulation);
    }
    for (const LinearScan& scan : m.scans)
        m.cellSize = std::max(m.cellSize, scan.moduleWidth);
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
        // The one row a symbol that was not read (or not measured) has, so that every report
        // of the record says why it failed.
        result.insert("parameters", QJsonArray{QJsonObject{{"name", "Decode"},
                                                           {"value", decoded ? QStringLiteral("Not measured")
                                                                             : QStringLiteral("No Read")},
                                                           {"grade", "F"}}});
        return result;
    }
    struct Row {
        QString key;  // VERENABLE keyword of the row, empty when it has none
        QString name; // as the report shows it
        QString value;
        int grade;
    };
    QList<Row> rows;
    double scanAverage = 0;
    QJsonArray scanGrades;
    if (m.linear) {
        // Every parameter is graded scan by scan; a scan's grade is its worst, the symbol's
        // the average over its scans. A parameter's row shows its worst scan.
        struct Worst {
            double value;
            int grade = 4;
            void take(double v, int g, bool lower) {
                if (g < grade || (g == grade && (lower ? v < value : v > value)))
                    value = v;
                grade = std::min(grade, g);
            }
        };
        Worst reflectance{0}, contrast{100}, edge{100}, modulation{1}, defects{0}, decodability{1}, decode{0};
        for (const LinearScan& scan : m.scans) {
            const double ratio = scan.maxReflectance > 0 ? scan.minReflectance / scan.maxReflectance : 1.0;
            const int grades[] = {
                ratio <= 0.5 ? 4 : 0,
                gradeAtLeast(scan.symbolContrast, 70, 55, 40, 20),
                scan.edgeContrast >= 15 ? 4 : 0,
                gradeAtLeast(scan.modulation, 0.70, 0.60, 0.50, 0.40),
                gradeAtMost(scan.defects, 0.15, 0.20, 0.25, 0.30),
                gradeAtLeast(scan.decodability, 0.62, 0.50, 0.37, 0.25),
                scan.decodes ? 4 : 0,
            };
            reflectance.take(scan.minReflectance, grades[0], false);
            contrast.take(scan.symbolContrast, grades[1], true);
            edge.take(scan.edgeContrast, grades[2], true);
            modulation.take(scan.modulation, grades[3], true);
            defects.take(scan.defects, grades[4], false);
            decodability.take(scan.decodability, grades[5], true);
            decode.value += scan.decodes ? 1 : 0;
            decode.grade = std::min(decode.grade, grades[6]);
            const int grade = *std::min_element(std::begin(grades), std::end(grades));
            scanAverage += grade;
            scanGrades.append(gradeLetter(grade));
        }
        scanAverage /= std::max<size_t>(1, m.scans.size());
        rows.append({"SC", "Symbol Contrast", percent(contrast.value), contrast.grade});
        rows.append({"", "Minimum Reflectance", percent(reflectance.value), reflectance.grade});
        rows.append({"", "Edge Contrast", percent(edge.value), edge.grade});
        rows.append({"CM", "Modulation", QString::number(modulation.value, 'f', 2), modulation.grade});
        rows.append({"", "Defects", QString::number(defects.value, 'f', 2), defects.grade});
        rows.append({"", "Decodability", QString::number(decodability.value, 'f', 2), decodability.grade});
        rows.append({"", "Decode", QStringLiteral("%1 of %2 scans").arg(decode.value).arg(m.scans.size()),
                     decode.grade});
        const int average = scanAverage >= 3.5   ? 4
                            : scanAverage >= 2.5 ? 3
                            : scanAverage >= 1.5 ? 2
                            : scanAverage >= 0.5 ? 1
                                                 : 0;
        rows.append({"", "Scan Grade", QString::number(scanAverage, 'f', 1), average});
        result.insert("minReflectance", reflectance.value);
        result.insert("edgeContrast", edge.value);
        result.insert("defects", defects.value);
        result.insert("decodability", decodability.value);
        result.insert("scanGrade", scanAverage);
        result.insert("scanGrades", scanGrades);
    } else {
        rows.append({"SC", "Symbol Contrast", percent(m.symbolContrast),
                     gradeAtLeast(m.symbolContrast, 70, 55, 40, 20)});
        rows.append({"CM", "Modulation", QString::number(m.modulation, 'f', 2),
                     gradeAtLeast(m.modulation, 0.50, 0.40, 0.30, 0.20)});
        rows.append({"AN", "Axial Nonuniformity", QString::number(m.axialNonuniformity, 'f', 3),
                     gradeAtMost(m.axialNonuniformity, 0.06, 0.08, 0.10, 0.12)});
        rows.append({"", "Grid Nonuniformity", QString::number(m.gridNonuniformity, 'f', 3),
                     gradeAtMost(m.gridNonuniformity, 0.38, 0.50, 0.63, 0.75)});
        // Graded segment by segment: the worst segment's share of damaged modules.
        const int damage = gradeAtMost(m.fixedPatternDamage, 0.0, 0.09, 0.13, 0.17);
        const int fixedMod = gradeAtLeast(m.fixedPatternModulation, 0.50, 0.40, 0.30, 0.20);
        rows.append({"", "Fixed Pattern Damage",
                     percent(m.fixedPatternDamage * 100) +
                         (m.damagedSegment.isEmpty() ? QString() : QStringLiteral(" ") + m.damagedSegment),
                     std::min(damage, fixedMod)});
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
    if (!m.linear)
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
    if (m.linear)
        overall = rows.last().grade;
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
    result.insert("maxReflectance", m.maxReflectance);
    if (!m.linear)
        result.insert("minReflectance", m.minReflectance);
    result.insert("apertureDiameter", m.apertureDiameter);
    result.insert("meanDark", m.meanDark);
    if (!m.linear) {
        result.insert("rows", m.rows);
        result.insert("cols", m.cols);
    }
    return result;
}

} // namespace vm::sim
