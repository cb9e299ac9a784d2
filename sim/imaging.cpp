#include "sim/imaging.h"

#include <QRandomGenerator>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include <algorithm>
#include <array>
#include <cmath>

namespace vm::sim {

namespace {

constexpr int kNoiseTable = 1 << 16;
constexpr double kTargetBright = 200.0;

template <bool TakeMin>
inline uchar pick(uchar a, uchar b) {
    return TakeMin ? std::min(a, b) : std::max(a, b);
}

// out[i] = min (or max) of a[i], b[i], c[i]: the inner loop of both passes, sixteen pixels at a
// time where the processor has the instructions for it.
template <bool TakeMin>
void combine3(uchar* out, const uchar* a, const uchar* b, const uchar* c, int n) {
    int i = 0;
#ifdef __SSE2__
    for (; i + 16 <= n; i += 16) {
        const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i));
        const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
        const __m128i vc = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + i));
        const __m128i v =
            TakeMin ? _mm_min_epu8(_mm_min_epu8(va, vb), vc) : _mm_max_epu8(_mm_max_epu8(va, vb), vc);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), v);
    }
#endif
    for (; i < n; ++i)
        out[i] = pick<TakeMin>(pick<TakeMin>(a[i], b[i]), c[i]);
}

// `iterations` passes of a 3 x 3 minimum (or maximum), edges replicated: a horizontal then a
// vertical 3-pixel pass each time, from scanline to scanline through one scratch image.
template <bool TakeMin>
void minMaxFilter(QImage& image, QImage& scratch, int iterations) {
    const int w = image.width(), h = image.height();
    if (w < 2 || h < 2)
        return;
    for (int i = 0; i < iterations; ++i) {
        for (int y = 0; y < h; ++y) {
            const uchar* in = image.constScanLine(y);
            uchar* out = scratch.scanLine(y);
            out[0] = pick<TakeMin>(in[0], in[1]);
            combine3<TakeMin>(out + 1, in, in + 1, in + 2, w - 2);
            out[w - 1] = pick<TakeMin>(in[w - 2], in[w - 1]);
        }
        for (int y = 0; y < h; ++y)
            combine3<TakeMin>(image.scanLine(y), scratch.constScanLine(std::max(0, y - 1)),
                              scratch.constScanLine(y), scratch.constScanLine(std::min(h - 1, y + 1)), w);
    }
}

} // namespace

double gainFactor(int gain) {
    return std::pow(2.0, std::clamp(gain, 0, 1023) / 320.0);
}

double Camera::lightLevel(const QString& illumination) {
    const QString mode = illumination.toUpper();
    double level = 0.05; // ambient light in the hall
    if (mode.startsWith(QLatin1String("ON")))
        level += 1.0;
    if (mode.contains(QLatin1String("POWER_STROBE")) || mode.contains(QLatin1String("PSTROBED")))
        level += 8.0;
    else if (mode.contains(QLatin1String("STROBE")))
        level += 2.0;
    if (mode.contains(QLatin1String("EXT")))
        level += 0.8;
    return level;
}

bool Camera::isPowerStrobe(const QString& illumination) {
    const QString mode = illumination.toUpper();
    return mode == QLatin1String("POWER_STROBE") || mode == QLatin1String("ON_AND_PSTROBED") ||
           mode == QLatin1String("ON_AND_STROBED");
}

const std::vector<float>& Camera::lightProfile(const QString& illumination) {
    if (m_profileMode == illumination && !m_profile.empty())
        return m_profile;
    // The reader's own lights sit around the lens and fall off towards the
    // corners; external and ambient light is even.
    const QString mode = illumination.toUpper();
    const double total = lightLevel(mode);
    const double onAxis = total - 0.05 - (mode.contains(QLatin1String("EXT")) ? 0.8 : 0.0);
    const int w = 659, h = 494;
    m_profile.assign(size_t(w) * h, 0.0f);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const double rx = (x - w / 2.0) / (w / 2.0), ry = (y - h / 2.0) / (w / 2.0);
            const double falloff = 1.0 - 0.3 * (rx * rx + ry * ry);
            m_profile[size_t(y) * w + x] = float(onAxis * falloff + (total - onAxis));
        }
    }
    m_profileMode = illumination;
    return m_profile;
}

QImage Camera::expose(const QImage& reflectance, const ImagingSettings& settings, quint64 seed) {
    if (m_noise.empty()) {
        // A table of Gaussian samples (sigma 16) reused at random offsets keeps
        // the per-pixel cost to one add.
        QRandomGenerator generator(20240611u);
        m_noise.resize(kNoiseTable);
        for (qint8& n : m_noise) {
            double sum = 0;
            for (int i = 0; i < 12; ++i)
                sum += generator.generateDouble();
            n = qint8(std::clamp(std::lround((sum - 6.0) * 16.0), -127L, 127L));
        }
    }
    const int w = reflectance.width(), h = reflectance.height();
    const std::vector<float>& profile = lightProfile(settings.illumination);
    const double k = settings.exposureUs / 1000.0 * gainFactor(settings.gain) * 255.0 / 218.0 * 0.78;
    const int noiseScale =
        int(std::lround(settings.sensorNoise * std::sqrt(gainFactor(settings.gain)) * 256.0 / 16.0));
    QRandomGenerator rng(quint32(seed * 2654435761u + 17u));
    QImage& image = freeFrame(w, h);
    for (int y = 0; y < h; ++y) {
        const uchar* in = reflectance.constScanLine(y);
        uchar* out = image.scanLine(y);
        const float* light = profile.data() + size_t(y) * w;
        const int offset = int(rng.bounded(quint32(kNoiseTable - w)));
        const qint8* noise = m_noise.data() + offset;
        const float scale = float(k);
        const float external = float(settings.externalLight);
        for (int x = 0; x < w; ++x) {
            // Rounded to the nearest level, so that the black level is the mean grey of no light.
            const int value = int(in[x] * (light[x] + external) * scale + 0.5f) + kBlackLevel +
                              ((noise[x] * noiseScale + 128) >> 8);
            out[x] = uchar(std::clamp(value, 0, 255));
        }
    }
    return image;
}

QImage Camera::gradingPicture(const QImage& reflectance, const ImagingSettings& settings, quint64 seed,
                              int shots, const QRect& region, double* clipped) {
    const int w = reflectance.width(), h = reflectance.height();
    shots = std::max(1, shots);
    std::vector<float> sum(size_t(w) * h, 0.0f);
    std::vector<bool> full(size_t(w) * h, false);
    for (int shot = 0; shot < shots; ++shot) {
        const QImage raw = expose(reflectance, settings, seed + quint64(shot) * 7919u);
        for (int y = 0; y < h; ++y) {
            const uchar* line = raw.constScanLine(y);
            for (int x = 0; x < w; ++x) {
                sum[size_t(y) * w + x] += line[x];
                if (line[x] == 255)
                    full[size_t(y) * w + x] = true;
            }
        }
    }
    const std::vector<float>& profile = lightProfile(settings.illumination);
    const float external = float(settings.externalLight);
    const float centre = profile[size_t(h / 2) * w + w / 2] + external;
    QImage out(w, h, QImage::Format_Grayscale8);
    for (int y = 0; y < h; ++y) {
        uchar* line = out.scanLine(y);
        for (int x = 0; x < w; ++x) {
            const size_t i = size_t(y) * w + x;
            const float relative = (profile[i] + external) / centre;
            const float value = (sum[i] / float(shots) - float(kBlackLevel)) / relative;
            line[x] = uchar(std::clamp(int(std::lround(value)), 0, 255));
        }
    }
    if (clipped) {
        const QRect area = region.intersected(QRect(0, 0, w, h));
        qint64 count = 0, at = 0;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x) {
                ++count;
                at += full[size_t(y) * w + x] ? 1 : 0;
            }
        *clipped = count ? double(at) / double(count) : 0.0;
    }
    return out;
}

QImage& Camera::freeFrame(int width, int height) {
    for (QImage& frame : m_frames)
        if (frame.width() == width && frame.height() == height && frame.isDetached())
            return frame; // written in place: nobody else sees it change
    constexpr size_t kKept = 4;
    if (m_frames.size() >= kKept)
        m_frames.erase(m_frames.begin()); // still held elsewhere: that holder keeps its copy
    m_frames.emplace_back(width, height, QImage::Format_Grayscale8);
    return m_frames.back();
}

QImage Camera::preprocess(QImage image, const ImagingSettings& settings) {
    const QString morph = settings.morph.toUpper();
    const int n = std::clamp(settings.morphIterations, 1, 5);
    // Erosion grows the dark ink, dilation grows the light paper.
    QImage scratch;
    auto run = [&](bool takeMin) {
        if (image.format() != QImage::Format_Grayscale8)
            image = image.convertToFormat(QImage::Format_Grayscale8);
        if (scratch.isNull())
            scratch = QImage(image.size(), QImage::Format_Grayscale8);
        if (takeMin)
            minMaxFilter<true>(image, scratch, n);
        else
            minMaxFilter<false>(image, scratch, n);
    };
    if (morph == QLatin1String("ERODE")) {
        run(true);
    } else if (morph == QLatin1String("DILATE")) {
        run(false);
    } else if (morph == QLatin1String("OPEN")) {
        run(true);
        run(false);
    } else if (morph == QLatin1String("CLOSE")) {
        run(false);
        run(true);
    }
    if (settings.negative)
        image.invertPixels();
    return image;
}

Photometry Camera::measure(const QImage& image) {
    std::array<quint32, 256> histogram{};
    const int w = image.width(), h = image.height();
    // Every second pixel of every second row is plenty for the exposure loop.
    quint64 sum = 0, count = 0;
    for (int y = 0; y < h; y += 2) {
        const uchar* line = image.constScanLine(y);
        for (int x = 0; x < w; x += 2) {
            ++histogram[line[x]];
            sum += line[x];
            ++count;
        }
    }
    Photometry result;
    if (!count)
        return result;
    result.mean = double(sum) / count;
    result.saturated = double(histogram[255]) / count;
    quint64 seen = 0;
    bool darkSet = false;
    for (int v = 0; v < 256; ++v) {
        seen += histogram[v];
        if (!darkSet && seen >= count * 3 / 100) {
            result.dark = v;
            darkSet = true;
        }
        if (seen >= count * 97 / 100) {
            result.bright = v;
            break;
        }
    }
    return result;
}

void AutoPhotometry::setLimits(int minExposure, int maxExposure, int minGain, int maxGain) {
    m_minExposure = std::clamp(minExposure, 30, 19999);
    m_maxExposure = std::clamp(maxExposure, m_minExposure + 1, 20000);
    m_minGain = std::clamp(minGain, 0, 1022);
    m_maxGain = std::clamp(maxGain, m_minGain + 1, 1023);
    m_exposure = std::clamp(m_exposure, m_minExposure, m_maxExposure);
    m_gain = std::clamp(m_gain, m_minGain, m_maxGain);
}

void AutoPhotometry::reset(int exposure, int gain) {
    m_exposure = std::clamp(exposure, m_minExposure, m_maxExposure);
    m_gain = std::clamp(gain, m_minGain, m_maxGain);
    m_converged = false;
}

bool AutoPhotometry::update(const Photometry& measured) {
    if (measured.good() && std::abs(measured.bright - kTargetBright) < 30) {
        m_converged = true;
        return true;
    }
    m_converged = false;
    double ratio;
    if (measured.saturated >= 0.01 || measured.bright >= 255)
        ratio = 0.35; // clipped: how far over is unknown, step down hard
    else
        ratio = kTargetBright / std::max(1, measured.bright);
    ratio = std::clamp(ratio, 0.05, 20.0);
    // Prefer exposure (no noise); use gain for what exposure cannot give.
    const double wanted = m_exposure * gainFactor(m_gain) * ratio;
    int exposure = int(std::lround(
        std::clamp(wanted / gainFactor(m_minGain), double(m_minExposure), double(m_maxExposure))));
    const double rest = wanted / exposure;
    int gain = int(std::lround(std::log2(std::max(rest, 1e-9)) * 320.0));
    gain = std::clamp(gain, m_minGain, m_maxGain);
    if (exposure == m_exposure && gain == m_gain) {
        m_converged = measured.good();
        return m_converged;
    }
    m_exposure = exposure;
    m_gain = gain;
    return false;
}

} // namespace vm::sim
