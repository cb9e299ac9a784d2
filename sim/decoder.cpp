#include "sim/decoder.h"

#include "sim/imagingparameters.h"

#define ZX_USE_UTF8 1
#include <ZXing/ReadBarcode.h>

#include <QElapsedTimer>
#include <QLineF>
#include <QTransform>

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace vm::sim {

namespace {

using ZXing::BarcodeFormat;
using ZXing::BarcodeFormats;

struct BarcodeBit {
    quint32 bit;
    BarcodeFormats formats;
};

const BarcodeBit kBarcodeBits[] = {
    {0x1, BarcodeFormat::Code128},
    {0x2, BarcodeFormat::Code39},
    {0x4, BarcodeFormat::Code93},
    {0x8, BarcodeFormat::ITF},
    {0x10, BarcodeFormat::Codabar},
    {0x20, BarcodeFormat::EAN13 | BarcodeFormat::EAN8 | BarcodeFormat::UPCA},
    {0x40, BarcodeFormat::UPCE},
    {0x100, BarcodeFormat::PDF417},
    {0x1000, BarcodeFormat::DataBar},
    {0x4000, BarcodeFormat::DataBarExpanded},
    {0x20000, BarcodeFormat::QRCode | BarcodeFormat::MicroQRCode},
};

BarcodeFormats barcodeFormats(quint32 mask) {
    BarcodeFormats formats;
    for (const BarcodeBit& entry : kBarcodeBits) {
        if (mask & entry.bit)
            formats |= entry.formats;
    }
    return formats;
}

quint32 bitOf(BarcodeFormat format) {
    for (const BarcodeBit& entry : kBarcodeBits) {
        if (entry.formats.testFlag(format))
            return entry.bit;
    }
    return 0;
}

QString readerName(BarcodeFormat format) {
    switch (format) {
    case BarcodeFormat::DataMatrix:
        return QStringLiteral("Data Matrix");
    case BarcodeFormat::QRCode:
        return QStringLiteral("QR Code");
    case BarcodeFormat::MicroQRCode:
        return QStringLiteral("Micro QR Code");
    case BarcodeFormat::Code128:
        return QStringLiteral("Code 128");
    case BarcodeFormat::Code39:
        return QStringLiteral("Code 39");
    case BarcodeFormat::Code93:
        return QStringLiteral("Code 93");
    case BarcodeFormat::ITF:
        return QStringLiteral("Code 2 of 5");
    case BarcodeFormat::Codabar:
        return QStringLiteral("Codabar");
    case BarcodeFormat::EAN13:
        return QStringLiteral("EAN-13");
    case BarcodeFormat::EAN8:
        return QStringLiteral("EAN-8");
    case BarcodeFormat::UPCA:
        return QStringLiteral("UPC-A");
    case BarcodeFormat::UPCE:
        return QStringLiteral("UPC-E");
    case BarcodeFormat::PDF417:
        return QStringLiteral("PDF417");
    case BarcodeFormat::DataBar:
        return QStringLiteral("GS1 DataBar 14");
    case BarcodeFormat::DataBarExpanded:
        return QStringLiteral("GS1 DataBar Expanded");
    default:
        return QString::fromLatin1(ZXing::ToString(format));
    }
}

// Data Matrix ECC 200 sizes as rows x columns.
const std::array<std::pair<int, int>, 30> kDataMatrixSizes = {{
    {10, 10}, {12, 12}, {14, 14}, {16, 16}, {18, 18},   {20, 20},   {22, 22},   {24, 24},
    {26, 26}, {32, 32}, {36, 36}, {40, 40}, {44, 44},   {48, 48},   {52, 52},   {64, 64},
    {72, 72}, {80, 80}, {88, 88}, {96, 96}, {104, 104}, {120, 120}, {132, 132}, {144, 144},
    {8, 18},  {8, 32},  {12, 26}, {12, 36}, {16, 36},   {16, 48},
}};

// The quarter turn of the picture in which the last Data Matrix read on this thread. Only the
// order of the turns follows it, so readers sharing a thread cannot change each other's results.
thread_local int t_lastQuarter = 0;

double sampleGrey(const QImage& image, const QPointF& p) {
    const int x = std::clamp(int(std::lround(p.x() - 0.5)), 0, image.width() - 2);
    const int y = std::clamp(int(std::lround(p.y() - 0.5)), 0, image.height() - 2);
    const uchar* a = image.constScanLine(y) + x;
    const uchar* b = image.constScanLine(y + 1) + x;
    return (a[0] + a[1] + b[0] + b[1]) / 4.0;
}

struct Candidate {
    SymbolGrid grid;
    double score = -1;
};

// The difference of two angles in degrees, folded into -180..180.
double angleBetween(double a, double b) {
    return std::remainder(a - b, 360.0);
}

// Turning the picture by a quarter turn brings a symbol near upright, where the fast
// detector finds it; a set orientation needs only the turns that bring it there.
bool quarterTurnCovers(int quarter, int orientation) {
    if (orientation == 0)
        return true;
    const double expected = (orientation - 1) * 45.0;
    return std::abs(angleBetween(expected + 90.0 * quarter, 0.0)) <= 45.0;
}

bool dataMatrixExpectsDark(int r, int c, int rows, int cols, bool* fixed) {
    *fixed = true;
    if (c == 0 || r == rows - 1)
        return true;
    if (r == 0)
        return c % 2 == 0;
    if (c == cols - 1)
        return (rows - 1 - r) % 2 == 0;
    *fixed = false;
    return false;
}

bool qrExpectsDark(int r, int c, int n, bool* fixed) {
    auto finder = [](int dr, int dc) {
        const int ring = std::max(std::abs(dr - 3), std::abs(dc - 3));
        return ring != 2;
    };
    *fixed = true;
    if (r < 7 && c < 7)
        return finder(r, c);
    if (r < 7 && c >= n - 7)
        return finder(r, c - (n - 7));
    if (r >= n - 7 && c < 7)
        return finder(r - (n - 7), c);
    if (r == 6 && c >= 8 && c <= n - 9)
        return c % 2 == 0;
    if (c == 6 && r >= 8 && r <= n - 9)
        return r % 2 == 0;
    *fixed = false;
    return false;
}

// Calls visit(r, c, expectedDark) for each module of the fixed pattern that a grid is judged by,
// until visit returns false.
template <typename Visit>
void forEachFixedModule(const SymbolGrid& grid, bool dataMatrix, Visit visit) {
    auto check = [&](int r, int c) {
        bool fixed = false;
        const bool dark = dataMatrix ? dataMatrixExpectsDark(r, c, grid.rows, grid.cols, &fixed)
                                     : qrExpectsDark(r, c, grid.rows, &fixed);
        return !fixed || visit(r, c, dark);
    };
    if (dataMatrix) {
        for (int c = 0; c < grid.cols; ++c)
            if (!check(0, c) || !check(grid.rows - 1, c))
                return;
        for (int r = 1; r < grid.rows - 1; ++r)
            if (!check(r, 0) || !check(r, grid.cols - 1))
                return;
    } else {
        for (int r = 0; r < grid.rows; ++r)
            for (int c = 0; c < grid.cols; ++c)
                if ((r < 8 || c < 8 || r == 6 || c == 6 || r >= grid.rows - 8 || c >= grid.cols - 8) &&
                    !check(r, c))
                    return;
    }
}

// The share of the fixed pattern's modules seen as the pattern expects (in the better of the
// two polarities), or -1 as soon as the modules still unseen can no longer lift it above
// `mustExceed`: most of the sizes and orientations a fit tries are hopeless after a few modules.
double scoreGrid(const QImage& grey, const SymbolGrid& grid, double threshold, bool dataMatrix,
                 bool* darkOnLight, double mustExceed) {
    int total = 0;
    forEachFixedModule(grid, dataMatrix, [&](int, int, bool) {
        ++total;
        return true;
    });
    if (!total)
        return 0;
    // The score as a function of the agreeing count falls, then rises: over a range of counts
    // it is largest at one of the ends.
    auto scoreOf = [total](int agree) {
        const double dl = double(agree) / total;
        return std::max(dl, 1.0 - dl);
    };
    int agreeDark = 0, seen = 0;
    bool hopeless = false;
    forEachFixedModule(grid, dataMatrix, [&](int r, int c, bool dark) {
        const bool seenDark = sampleGrey(grey, grid.moduleCentre(r, c)) < threshold;
        agreeDark += seenDark == dark ? 1 : 0;
        ++seen;
        hopeless = scoreOf(agreeDark) <= mustExceed && scoreOf(agreeDark + total - seen) <= mustExceed;
        return !hopeless;
    });
    if (hopeless)
        return -1;
    const double dl = double(agreeDark) / total;
    *darkOnLight = dl >= 0.5;
    return std::max(dl, 1.0 - dl);
}

// How well the module centres of a grid's fixed pattern land on that pattern: the distance of
// their grey from the threshold, counted for a module seen as the pattern has it and against
// one seen otherwise. A grid a fraction of a module off puts centres on edges or on the
// neighbouring module; a damaged stretch of the pattern counts against every position alike.
double patternAgreement(const QImage& grey, const SymbolGrid& grid, double threshold, bool dataMatrix) {
    double sum = 0;
    forEachFixedModule(grid, dataMatrix, [&](int r, int c, bool dark) {
        const double away = sampleGrey(grey, grid.moduleCentre(r, c)) - threshold;
        sum += (dark == grid.darkOnLight) ? -away : away;
        return true;
    });
    return sum;
}

// Moves each corner of a fitted grid by up to 0.4 of a module, a corner at a time, while that
// brings the module centres onto the fixed pattern. The detector's corners may lie a little off
// where a fixed pattern is damaged or the symbol sits close to another.
void refineGrid(const QImage& grey, SymbolGrid& grid, double threshold, bool dataMatrix) {
    const QPointF across = (grid.corners[1] - grid.corners[0]) / grid.cols;
    const QPointF down = (grid.corners[3] - grid.corners[0]) / grid.rows;
    double best = patternAgreement(grey, grid, threshold, dataMatrix);
    for (int pass = 0; pass < 3; ++pass) {
        bool moved = false;
        for (QPointF& corner : grid.corners) {
            const QPointF start = corner;
            QPointF bestAt = start;
            for (int i = -4; i <= 4; ++i)
                for (int j = -4; j <= 4; ++j) {
                    if (i == 0 && j == 0)
                        continue;
                    corner = start + across * (0.1 * i) + down * (0.1 * j);
                    const double score = patternAgreement(grey, grid, threshold, dataMatrix);
                    // Only a clear gain moves a corner: along a solid edge the agreement hardly
                    // changes, and noise must not walk the corner off.
                    if (score > best + 0.005 * std::abs(best)) {
                        best = score;
                        bestAt = corner;
                    }
                }
            corner = bestAt;
            moved = moved || bestAt != start;
        }
        if (!moved)
            break;
    }
}

} // namespace

QPointF SymbolGrid::point(double u, double v) const {
    return corners[0] * ((1 - u) * (1 - v)) + corners[1] * (u * (1 - v)) + corners[2] * (u * v) +
           corners[3] * ((1 - u) * v);
}

double SymbolGrid::pitchAcross() const {
    return (QLineF(corners[0], corners[1]).length() + QLineF(corners[3], corners[2]).length()) / (2.0 * cols);
}

double SymbolGrid::pitchDown() const {
    return (QLineF(corners[0], corners[3]).length() + QLineF(corners[1], corners[2]).length()) / (2.0 * rows);
}

SymbolGrid fitGrid(const QImage& grey, const QList<QPointF>& corners, bool dataMatrix) {
    if (corners.size() != 4 || grey.isNull())
        return {};
    // Threshold halfway between ink and paper inside the located quadrilateral.
    SymbolGrid probe;
    for (int i = 0; i < 4; ++i)
        probe.corners[i] = corners.at(i);
    std::vector<double> values;
    for (int i = 0; i < 24; ++i) {
        for (int j = 0; j < 24; ++j)
            values.push_back(sampleGrey(grey, probe.point((i + 0.5) / 24, (j + 0.5) / 24)));
    }
    std::sort(values.begin(), values.end());
    const double low = values[values.size() / 20], high = values[values.size() * 19 / 20];
    if (high - low < 8)
        return {};
    const double threshold = (low + high) / 2;

    std::vector<std::pair<int, int>> sizes;
    if (dataMatrix)
        sizes.assign(kDataMatrixSizes.begin(), kDataMatrixSizes.end());
    else
        for (int n = 21; n <= 177; n += 4)
            sizes.emplace_back(n, n);

    Candidate best;
    for (int direction : {1, -1}) {
        for (int start = 0; start < 4; ++start) {
            QPointF q[4];
            for (int i = 0; i < 4; ++i)
                q[i] = corners.at(((start + direction * i) % 4 + 4) % 4);
            for (const auto& [rows, cols] : sizes) {
                // The detector may report the outer corners of the symbol or the
                // centres of its corner modules: try both.
                for (bool centres : {false, true}) {
                    SymbolGrid grid;
                    grid.rows = rows;
                    grid.cols = cols;
                    if (!centres) {
                        std::copy(q, q + 4, grid.corners);
                    } else {
                        const QPointF across0 = (q[1] - q[0]) / (2.0 * (cols - 1));
                        const QPointF across1 = (q[2] - q[3]) / (2.0 * (cols - 1));
                        const QPointF down0 = (q[3] - q[0]) / (2.0 * (rows - 1));
                        const QPointF down1 = (q[2] - q[1]) / (2.0 * (rows - 1));
                        grid.corners[0] = q[0] - across0 - down0;
                        grid.corners[1] = q[1] + across0 - down1;
                        grid.corners[2] = q[2] + across1 + down1;
                        grid.corners[3] = q[3] - across1 + down0;
                    }
                    bool darkOnLight = true;
                    const double score =
                        scoreGrid(grey, grid, threshold, dataMatrix, &darkOnLight, best.score + 1e-9);
                    if (score > best.score + 1e-9) {
                        grid.darkOnLight = darkOnLight;
                        grid.fitScore = score;
                        best = {grid, score};
                    }
                }
            }
        }
    }
    if (best.score < 0.8)
        return {};
    // A grid whose whole fixed pattern is seen as it should be sits where the detector found it.
    if (best.score < 1.0)
        refineGrid(grey, best.grid, threshold, dataMatrix);
    return best.grid;
}

DecoderSettings DecoderSettings::fromParameters(const FieldReader& fields) {
    DecoderSettings s;
    s.dataMatrix = fields.number("NUMDM", 0) > 0;
    s.barcodes = fields.number("NUMBC", 0) > 0;
    QString mask = fields.text("BARCODE ENABLE", 0);
    mask.remove(QLatin1String("0x"), Qt::CaseInsensitive);
    bool ok = false;
    s.barcodeMask = mask.toUInt(&ok, 16);
    if (!ok)
        s.barcodeMask = 0;
    s.polarity = fields.text("POL", 0).toUpper();
    s.barPolarity = fields.text("BCPOL", 0).toUpper();
    s.style = fields.text("STYLE", 0).toUpper();
    s.rows = fields.numberOrAuto("ROWS", 0);
    s.cols = fields.numberOrAuto("COLS", 0);
    const QString ecc = fields.text("ECC", 0).toUpper();
    s.ecc200 = ecc == QLatin1String("AUTO") || ecc == QLatin1String("200") || ecc.isEmpty();
    s.nearCentre = fields.isOn("DM_DECODE_NEAR_CENTER", 0) || fields.isOn("BC_DECODE_NEAR_CENTER", 0);
    const int orientation = fields.numberOrAuto("ORIENT", 0);
    s.orientation = orientation >= 1 && orientation <= 8 ? orientation : 0;
    s.severeDamage = fields.isOn("DM_ALLOW_SEVERE_DAMAGE", 0);
    if (!fields.text("ROI", 3).isEmpty()) {
        const QRect roi = QRect(QPoint(fields.number("ROI", 0), fields.number("ROI", 1)),
                                QPoint(fields.number("ROI", 2), fields.number("ROI", 3)))
                              .normalized();
        s.searchArea = roi;
    }
    return s;
}

DecoderSettings DecoderSettings::searchAll() {
    DecoderSettings s;
    s.dataMatrix = true;
    s.barcodes = true;
    s.barcodeMask = 0xFFFFFFFF;
    return s;
}

namespace {

// The picture with its darkest and brightest half percent of pixels mapped to 0 and 255 and
// the rest in between, or a null picture when its grey levels span too little for that.
QImage stretched(const QImage& grey) {
    std::array<quint32, 256> histogram{};
    for (int y = 0; y < grey.height(); ++y) {
        const uchar* line = grey.constScanLine(y);
        for (int x = 0; x < grey.width(); ++x)
            ++histogram[line[x]];
    }
    const quint64 total = quint64(grey.width()) * quint64(grey.height());
    int low = 0, high = 255;
    quint64 seen = 0;
    for (int v = 0; v < 256; ++v) {
        seen += histogram[size_t(v)];
        if (seen * 200 <= total)
            low = v + 1;
        if (seen * 200 < total * 199)
            high = v + 1;
    }
    if (high - low < 16)
        return {};
    QImage out(grey.size(), QImage::Format_Grayscale8);
    for (int y = 0; y < grey.height(); ++y) {
        const uchar* in = grey.constScanLine(y);
        uchar* line = out.scanLine(y);
        for (int x = 0; x < grey.width(); ++x)
            line[x] = uchar(std::clamp((in[x] - low) * 255 / (high - low), 0, 255));
    }
    return out;
}

// The picture with each pixel set against the darkest and lightest grey around it (about a
// hundred pixels either way), mapped to 0 and 255. The reader's light falls off towards the
// edges of the field: across a long, faint barcode its spaces at the ends come out darker than
// its bars in the middle, and a threshold along the row (all a barcode's row decoder has)
// cannot part them. Levelled, they part again; the noise is smoothed first. Where the grey varies by less
// than kLeast levels (blank paper) the noise is not stretched past that; null for a picture too small.
QImage levelled(const QImage& grey) {
    constexpr int kBlock = 16, kReach = 3, kLeast = 40;
    const int w = grey.width(), h = grey.height();
    const int bw = (w + kBlock - 1) / kBlock, bh = (h + kBlock - 1) / kBlock;
    if (bw < 2 || bh < 2)
        return {};
    std::vector<int> blockLow(size_t(bw) * bh, 255), blockHigh(size_t(bw) * bh, 0);
    for (int y = 0; y < h; ++y) {
        const uchar* line = grey.constScanLine(y);
        for (int x = 0; x < w; ++x) {
            const size_t b = size_t(y / kBlock) * bw + x / kBlock;
            blockLow[b] = std::min<int>(blockLow[b], line[x]);
            blockHigh[b] = std::max<int>(blockHigh[b], line[x]);
        }
    }
    // Each block's range is the widest over its neighbours within kReach blocks.
    std::vector<float> low(blockLow.size()), high(blockHigh.size());
    for (int by = 0; by < bh; ++by)
        for (int bx = 0; bx < bw; ++bx) {
            int lo = 255, hi = 0;
            for (int ny = std::max(0, by - kReach); ny <= std::min(bh - 1, by + kReach); ++ny)
                for (int nx = std::max(0, bx - kReach); nx <= std::min(bw - 1, bx + kReach); ++nx) {
                    lo = std::min(lo, blockLow[size_t(ny) * bw + nx]);
                    hi = std::max(hi, blockHigh[size_t(ny) * bw + nx]);
                }
            low[size_t(by) * bw + bx] = float(lo);
            high[size_t(by) * bw + bx] = float(hi);
        }
    // Between block centres the range is interpolated, so that no block edge shows.
    QImage out(grey.size(), QImage::Format_Grayscale8);
    for (int y = 0; y < h; ++y) {
        const float fy = std::clamp((y + 0.5f) / kBlock - 0.5f, 0.0f, float(bh - 1));
        const int y0 = std::min(int(fy), bh - 2);
        const float ty = fy - float(y0);
        const uchar* above = grey.constScanLine(std::max(0, y - 1));
        const uchar* in = grey.constScanLine(y);
        const uchar* below = grey.constScanLine(std::min(h - 1, y + 1));
        uchar* line = out.scanLine(y);
        for (int x = 0; x < w; ++x) {
            // The mean of the 3 x 3 pixels around: stretched, the sensor's noise would break a
            // faint bar's edges.
            const int l = std::max(0, x - 1), r = std::min(w - 1, x + 1);
            const float mean = float(above[l] + above[x] + above[r] + in[l] + in[x] + in[r] + below[l] +
                                     below[x] + below[r]) /
                               9.0f;
            const float fx = std::clamp((x + 0.5f) / kBlock - 0.5f, 0.0f, float(bw - 1));
            const int x0 = std::min(int(fx), bw - 2);
            const float tx = fx - float(x0);
            auto mix = [&](const std::vector<float>& v) {
                const size_t a = size_t(y0) * bw + x0, c = a + size_t(bw);
                return (v[a] * (1 - tx) + v[a + 1] * tx) * (1 - ty) + (v[c] * (1 - tx) + v[c + 1] * tx) * ty;
            };
            const float lo = mix(low), hi = mix(high);
            const float mid = (lo + hi) / 2, half = std::max(hi - lo, float(kLeast)) / 2;
            line[x] = uchar(std::clamp(int(std::lround(127.5f + (mean - mid) * 127.5f / half)), 0, 255));
        }
    }
    return out;
}

DecodeOutcome decodeOnce(const QImage& grey, const DecoderSettings& settings);

} // namespace

DecodeOutcome decodeImage(const QImage& grey, const DecoderSettings& settings) {
    DecodeOutcome outcome = decodeOnce(grey, settings);
    if (outcome.found || !settings.verifying)
        return outcome;
    // A verifier looks again: at the picture with its grey levels stretched (which keeps every
    // pixel where it was, so the symbol's corners hold for the picture as taken), then for a
    // Data Matrix with a broken finder with the thorough search. Not both at once: on a faint
    // picture stretched, the thorough search finds symbols in the noise. Last, for barcodes
    // only, at the picture levelled against the light's falloff: a faint barcode on light
    // paper across much of the field.
    const QImage brighter = stretched(grey);
    DecoderSettings thorough = settings;
    thorough.severeDamage = true;
    thorough.barcodes = false;
    const bool searchThoroughly = settings.dataMatrix && !settings.severeDamage;
    DecoderSettings barsOnly = settings;
    barsOnly.dataMatrix = false;
    const QImage level = settings.barcodes ? levelled(grey) : QImage();
    double milliseconds = outcome.milliseconds;
    const std::pair<const QImage*, const DecoderSettings*> attempts[] = {
        {&brighter, &settings}, {&grey, &thorough}, {&level, &barsOnly}};
    for (const auto& [picture, with] : attempts) {
        if (picture->isNull() || (with == &thorough && !searchThoroughly))
            continue;
        DecodeOutcome again = decodeOnce(*picture, *with);
        milliseconds += again.milliseconds;
        if (again.found) {
            again.milliseconds = milliseconds;
            return again;
        }
    }
    outcome.milliseconds = milliseconds;
    return outcome;
}

namespace {

DecodeOutcome decodeOnce(const QImage& grey, const DecoderSettings& settings) {
    QElapsedTimer timer;
    timer.start();
    DecodeOutcome outcome;

    QRect area = grey.rect();
    if (!settings.region.isEmpty()) {
        const QRect box = settings.region.boundingRect().toAlignedRect();
        const int margin = std::max(box.width(), box.height()) / 4 + 4;
        area = box.adjusted(-margin, -margin, margin, margin).intersected(grey.rect());
        if (area.width() < 8 || area.height() < 8) {
            outcome.rejected = QStringLiteral("region outside the image");
            outcome.milliseconds = timer.nsecsElapsed() / 1e6;
            return outcome;
        }
    }
    if (!settings.searchArea.isNull()) {
        area = area.intersected(settings.searchArea);
        if (area.width() < 8 || area.height() < 8) {
            outcome.rejected = QStringLiteral("search area too small");
            outcome.milliseconds = timer.nsecsElapsed() / 1e6;
            return outcome;
        }
    }
    const QImage view = area == grey.rect() ? grey : grey.copy(area);

    struct Pass {
        bool inverted;
        BarcodeFormats formats;
    };
    BarcodeFormats normal, inverted;
    if (settings.dataMatrix) {
        if (settings.polarity != QLatin1String("LD"))
            normal |= BarcodeFormat::DataMatrix;
        if (settings.polarity != QLatin1String("DL"))
            inverted |= BarcodeFormat::DataMatrix;
    }
    if (settings.barcodes) {
        const BarcodeFormats bars = barcodeFormats(settings.barcodeMask);
        if (settings.barPolarity != QLatin1String("LD"))
            normal |= bars;
        if (settings.barPolarity != QLatin1String("DL"))
            inverted |= bars;
    }
    if (normal.empty() && inverted.empty()) {
        outcome.rejected = QStringLiteral("no symbology enabled");
        outcome.milliseconds = timer.nsecsElapsed() / 1e6;
        return outcome;
    }

    QImage negative;
    for (const Pass& pass : {Pass{false, normal}, Pass{true, inverted}}) {
        if (pass.formats.empty())
            continue;
        if (pass.inverted && negative.isNull()) {
            negative = view.copy();
            negative.invertPixels();
        }
        const QImage& image = pass.inverted ? negative : view;
        ZXing::DecodeHints hints;
        hints.setFormats(pass.formats);
        hints.setTryHarder(false);
        hints.setTryRotate(!(pass.formats & BarcodeFormat::LinearCodes).empty());
        hints.setTryDownscale(false);
        hints.setMaxNumberOfSymbols(settings.nearCentre ? 4 : 1);
        if (pass.formats.testFlags(BarcodeFormat::EAN13 | BarcodeFormat::UPCA) &&
            (settings.barcodeMask & 0x80))
            hints.setEanAddOnSymbol(ZXing::EanAddOnSymbol::Read);
        // The fast Data Matrix detector finds symbols in a limited range of
        // orientations; the reader turns the picture by quarter turns until one reads.
        // Parts on a line come the same way round: a pass for Data Matrix alone starts with the
        // quarter turn that read the last symbol. The turns tried are the same, only their order
        // differs, and one symbol reads the same in any turn that reads it.
        ZXing::Results results;
        QTransform back;
        const bool turns = pass.formats.testFlag(BarcodeFormat::DataMatrix);
        const bool onlyDataMatrix = pass.formats == BarcodeFormats(BarcodeFormat::DataMatrix);
        const int firstQuarter = onlyDataMatrix ? t_lastQuarter : 0;
        int quarter = 0;
        for (int k = 0; k < (turns ? 4 : 1) && results.empty(); ++k) {
            quarter = (firstQuarter + k) % 4;
            // Other symbologies are searched in the upright picture whatever the orientation.
            if (onlyDataMatrix && !quarterTurnCovers(quarter, settings.orientation))
                continue;
            if (turns)
                ++outcome.turns;
            QImage turned = image;
            back = QTransform();
            hints.setFormats(pass.formats);
            hints.setTryRotate(!(pass.formats & BarcodeFormat::LinearCodes).empty());
            if (quarter > 0) {
                const QTransform turn = QTransform().rotate(90.0 * quarter);
                const QTransform mapping = QImage::trueMatrix(turn, image.width(), image.height());
                turned = image.transformed(turn);
                back = mapping.inverted();
                hints.setFormats(BarcodeFormat::DataMatrix);
                hints.setTryRotate(false);
            }
            const ZXing::ImageView imageView(turned.constBits(), turned.width(), turned.height(),
                                             ZXing::ImageFormat::Lum, int(turned.bytesPerLine()));
            results = ZXing::ReadBarcodes(imageView, hints);
            if (results.empty() && settings.severeDamage &&
                pass.formats.testFlag(BarcodeFormat::DataMatrix)) {
                ZXing::DecodeHints thorough = hints;
                thorough.setFormats(BarcodeFormat::DataMatrix);
                thorough.setTryHarder(true);
                results = ZXing::ReadBarcodes(imageView, thorough);
            }
        }
        if (settings.nearCentre && results.size() > 1) {
            const QPointF centre(image.width() / 2.0, image.height() / 2.0);
            std::sort(results.begin(), results.end(), [&](const ZXing::Result& a, const ZXing::Result& b) {
                const auto ca = ZXing::Center(a.position());
                const auto cb = ZXing::Center(b.position());
                return QLineF(centre, QPointF(ca.x, ca.y)).length() <
                       QLineF(centre, QPointF(cb.x, cb.y)).length();
            });
        }
        for (const ZXing::Result& result : results) {
            if (!result.isValid())
                continue;
            DecodeOutcome candidate;
            candidate.text = QString::fromStdString(result.text());
            candidate.symbology = readerName(result.format());
            candidate.twoDimensional =
                !(BarcodeFormats(result.format()) & BarcodeFormat::MatrixCodes).empty();
            candidate.barcodeBit = result.format() == BarcodeFormat::DataMatrix ? 0 : bitOf(result.format());
            candidate.mirrored = result.isMirrored();
            candidate.lightOnDark = pass.inverted;
            for (const auto& p : result.position())
                candidate.corners << back.map(QPointF(p.x, p.y)) + QPointF(area.x(), area.y());
            const bool isDataMatrix = result.format() == BarcodeFormat::DataMatrix;
            if (isDataMatrix || result.format() == BarcodeFormat::QRCode)
                candidate.grid = fitGrid(grey, candidate.corners, isDataMatrix);

            // The tuning parameters that the decoder itself does not know.
            if (isDataMatrix && !settings.ecc200) {
                outcome.rejected =
                    QStringLiteral("ECC 200 symbol while the reader expects another ECC level");
                continue;
            }
            if (isDataMatrix && settings.style == QLatin1String("NORMAL") && candidate.mirrored) {
                outcome.rejected = QStringLiteral("mirrored symbol while the image style is NORMAL");
                continue;
            }
            if (isDataMatrix && settings.style == QLatin1String("MIRROR") && !candidate.mirrored) {
                outcome.rejected = QStringLiteral("normal symbol while the image style is MIRROR");
                continue;
            }
            if (isDataMatrix && settings.orientation > 0) {
                // The top edge of the symbol, from its top-left corner, gives its turn.
                const QPointF top = candidate.grid.isValid()
                                        ? candidate.grid.corners[1] - candidate.grid.corners[0]
                                        : candidate.corners.value(1) - candidate.corners.value(0);
                const double angle = std::fmod(std::atan2(top.y(), top.x()) * 180.0 / M_PI + 360.0, 360.0);
                const double expected = (settings.orientation - 1) * 45.0;
                if (std::abs(angleBetween(angle, expected)) > 45.0) {
                    outcome.rejected = QStringLiteral("symbol turned %1 degrees while the orientation is %2")
                                           .arg(std::lround(angle))
                                           .arg(settings.orientation);
                    continue;
                }
            }
            if (isDataMatrix && (settings.rows > 0 || settings.cols > 0)) {
                const bool rowsOk = settings.rows <= 0 || candidate.grid.rows == settings.rows;
                const bool colsOk = settings.cols <= 0 || candidate.grid.cols == settings.cols;
                if (!candidate.grid.isValid() || !rowsOk || !colsOk) {
                    outcome.rejected =
                        QStringLiteral("symbol of %1 x %2 while the reader expects %3 x %4")
                            .arg(candidate.grid.rows)
                            .arg(candidate.grid.cols)
                            .arg(settings.rows > 0 ? QString::number(settings.rows) : QStringLiteral("AUTO"),
                                 settings.cols > 0 ? QString::number(settings.cols) : QStringLiteral("AUTO"));
                    continue;
                }
            }
            candidate.found = true;
            candidate.turns = outcome.turns;
            candidate.milliseconds = timer.nsecsElapsed() / 1e6;
            if (isDataMatrix)
                t_lastQuarter = quarter;
            return candidate;
        }
    }
    outcome.milliseconds = timer.nsecsElapsed() / 1e6;
    return outcome;
}

} // namespace

} // namespace vm::sim
