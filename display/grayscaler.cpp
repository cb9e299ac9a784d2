#include "display/grayscaler.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#if defined(__x86_64__) || defined(_M_X64)
#define VM_GRAY_X86 1
#include <emmintrin.h>
#include <immintrin.h>
#include <tmmintrin.h>
#if defined(__GNUC__) || defined(__clang__)
#define VM_TARGET_SSSE3 __attribute__((target("ssse3")))
#define VM_TARGET_AVX __attribute__((target("avx")))
#define VM_TARGET_AVX2 __attribute__((target("avx2")))
#else
#include <intrin.h>
#define VM_TARGET_SSSE3
#define VM_TARGET_AVX
#define VM_TARGET_AVX2
#endif
#endif

namespace vm::display {

namespace {

// Weights are 0.16 fixed point: fine enough for a picture shrunk a hundred times, and a
// pixel in 8.8 times a weight keeps its top 16 bits in one vector multiply.
constexpr double kOne = 65536.0;
constexpr int kBlock = 8; // output pixels per vector

inline unsigned mulHigh(unsigned a, unsigned b) {
    return (a * b) >> 16;
}

inline quint32 screenPixel(unsigned sum88) {
    return 0xff000000u | (((sum88 + 128u) >> 8) * 0x010101u);
}

// Filters output pixels [begin, end) of one row across, the plain way.
void filterPixels(const uchar* in, const int* first, const quint16* weights, int taps, quint16* mid,
                  size_t begin, size_t end) {
    const quint16* w = weights + begin * size_t(taps);
    for (size_t o = begin; o < end; ++o, w += taps) {
        const uchar* p = in + first[o];
        unsigned acc = 0;
        for (int k = 0; k < taps; ++k)
            acc += mulHigh(unsigned(p[k]) << 8, w[k]);
        mid[o] = quint16(acc);
    }
}

// Sums `taps` filtered rows into output pixels [begin, end), the plain way.
void sumPixels(const quint16* const* rows, const quint16* w, int taps, quint32* out, size_t begin,
               size_t end) {
    for (size_t x = begin; x < end; ++x) {
        unsigned acc = 0;
        if (taps == 1) {
            acc = rows[0][x];
        } else {
            for (int k = 0; k < taps; ++k)
                acc += mulHigh(rows[k][x], w[k]);
        }
        out[x] = screenPixel(acc & 0xffffu);
    }
}

#ifdef VM_GRAY_X86
bool hasAvx() {
#if defined(__GNUC__) || defined(__clang__)
    return __builtin_cpu_supports("avx");
#else
    int info[4];
    __cpuid(info, 1);
    return (info[2] & (1 << 27)) != 0 && (info[2] & (1 << 28)) != 0 && (_xgetbv(0) & 6) == 6;
#endif
}

GrayScaler::Instructions detectInstructions() {
#if defined(__GNUC__) || defined(__clang__)
    if (__builtin_cpu_supports("avx2"))
        return GrayScaler::Instructions::Avx2;
    return __builtin_cpu_supports("ssse3") ? GrayScaler::Instructions::Ssse3
                                           : GrayScaler::Instructions::Plain;
#else
    int info[4];
    __cpuid(info, 0);
    const int highest = info[0];
    __cpuid(info, 1);
    const bool ssse3 = (info[2] & (1 << 9)) != 0;
    bool avx2 = false;
    if (hasAvx() && highest >= 7) {
        __cpuidex(info, 7, 0);
        avx2 = (info[1] & (1 << 5)) != 0;
    }
    return avx2    ? GrayScaler::Instructions::Avx2
           : ssse3 ? GrayScaler::Instructions::Ssse3
                   : GrayScaler::Instructions::Plain;
#endif
}

// Code elsewhere in the process (the C library's, Qt's) can leave the upper halves of the
// AVX registers in use. The processor then makes every SSE instruction wait to merge them:
// in the program that doubled the cost of a scale. Clearing them first takes one instruction.
VM_TARGET_AVX void clearUpperHalves() {
    _mm256_zeroupper();
}

// Eight output pixels at a time: their source pixels lie within 16 bytes, so one byte shuffle
// per tap gathers them. `kTaps` is the number of taps when known at compile time, else 0.
template <int kTaps>
VM_TARGET_SSSE3 void filterBlocks(const uchar* padded, const int* base, const quint8* offsets,
                                  const quint16* weights, int taps, quint16* mid, size_t blocks) {
    if constexpr (kTaps > 0)
        taps = kTaps;
    const __m128i zero = _mm_setzero_si128();
    for (size_t b = 0; b < blocks; ++b) {
        if (base[b] < 0)
            continue;
        const __m128i source = _mm_loadu_si128(reinterpret_cast<const __m128i*>(padded + base[b]));
        __m128i acc = zero;
        for (int k = 0; k < taps; ++k) {
            const size_t at = (b * size_t(taps) + size_t(k)) * kBlock;
            const __m128i index = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(offsets + at));
            const __m128i pixels = _mm_unpacklo_epi8(zero, _mm_shuffle_epi8(source, index)); // p << 8
            const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(weights + at));
            acc = _mm_add_epi16(acc, _mm_mulhi_epu16(pixels, w));
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(mid + b * kBlock), acc);
    }
}

// Sums filtered rows into screen pixels eight at a time. `kTaps` is the number of rows when
// known at compile time, else 0.
template <int kTaps>
void sumVectors(const quint16* const* rows, const quint16* w, int taps, quint32* out, size_t width) {
    if constexpr (kTaps > 0)
        taps = kTaps;
    const __m128i half = _mm_set1_epi16(128);
    const __m128i opaque = _mm_set1_epi32(int(0xff000000u));
    const __m128i w0 = _mm_set1_epi16(short(w[0]));
    const __m128i w1 = _mm_set1_epi16(short(taps > 1 ? w[1] : 0));
    size_t x = 0;
    for (; x + kBlock <= width; x += kBlock) {
        __m128i acc = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[0] + x));
        if constexpr (kTaps == 2) {
            const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[1] + x));
            acc = _mm_add_epi16(_mm_mulhi_epu16(acc, w0), _mm_mulhi_epu16(next, w1));
        } else if constexpr (kTaps != 1) {
            acc = _mm_mulhi_epu16(acc, w0);
            for (int k = 1; k < taps; ++k) {
                const __m128i row = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[k] + x));
                acc = _mm_add_epi16(acc, _mm_mulhi_epu16(row, _mm_set1_epi16(short(w[k]))));
            }
        }
        const __m128i grey = _mm_srli_epi16(_mm_add_epi16(acc, half), 8);
        const __m128i bytes = _mm_packus_epi16(grey, grey);
        const __m128i pairs = _mm_unpacklo_epi8(bytes, bytes);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x),
                         _mm_or_si128(_mm_unpacklo_epi16(pairs, pairs), opaque));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x + 4),
                         _mm_or_si128(_mm_unpackhi_epi16(pairs, pairs), opaque));
    }
    sumPixels(rows, w, taps, out, x, width);
}

// The same two passes sixteen output pixels at a time. Across, each 128-bit half gathers one
// block of eight from its own 16 source bytes, so two neighbouring blocks go together when both
// can be gathered.
template <int kTaps>
VM_TARGET_AVX2 void filterBlocksAvx2(const uchar* padded, const int* base, const quint8* offsets,
                                     const quint16* weights, int taps, quint16* mid, size_t blocks) {
    if constexpr (kTaps > 0)
        taps = kTaps;
    const __m256i zero = _mm256_setzero_si256();
    size_t b = 0;
    for (; b + 2 <= blocks; b += 2) {
        if (base[b] < 0 || base[b + 1] < 0) {
            filterBlocks<kTaps>(padded, base + b, offsets + b * size_t(taps) * kBlock,
                                weights + b * size_t(taps) * kBlock, taps, mid + b * kBlock, 2);
            continue;
        }
        const __m256i source = _mm256_inserti128_si256(
            _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(padded + base[b]))),
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(padded + base[b + 1])), 1);
        __m256i acc = zero;
        for (int k = 0; k < taps; ++k) {
            const size_t at0 = (b * size_t(taps) + size_t(k)) * kBlock;
            const size_t at1 = at0 + size_t(taps) * kBlock;
            const __m256i index = _mm256_inserti128_si256(
                _mm256_castsi128_si256(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(offsets + at0))),
                _mm_loadl_epi64(reinterpret_cast<const __m128i*>(offsets + at1)), 1);
            const __m256i pixels = _mm256_unpacklo_epi8(zero, _mm256_shuffle_epi8(source, index)); // p << 8
            const __m256i w = _mm256_inserti128_si256(
                _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(weights + at0))),
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(weights + at1)), 1);
            acc = _mm256_add_epi16(acc, _mm256_mulhi_epu16(pixels, w));
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(mid + b * kBlock), acc);
    }
    if (b < blocks)
        filterBlocks<kTaps>(padded, base + b, offsets + b * size_t(taps) * kBlock,
                            weights + b * size_t(taps) * kBlock, taps, mid + b * kBlock, blocks - b);
}

template <int kTaps>
VM_TARGET_AVX2 void sumVectorsAvx2(const quint16* const* rows, const quint16* w, int taps, quint32* out,
                                   size_t width) {
    if constexpr (kTaps > 0)
        taps = kTaps;
    const __m256i half = _mm256_set1_epi16(128);
    const __m256i opaque = _mm256_set1_epi32(int(0xff000000u));
    // Copies each pixel's grey byte into its blue, green and red bytes.
    const __m256i spread = _mm256_setr_epi8(0, 0, 0, -1, 4, 4, 4, -1, 8, 8, 8, -1, 12, 12, 12, -1, 0, 0, 0,
                                            -1, 4, 4, 4, -1, 8, 8, 8, -1, 12, 12, 12, -1);
    const __m256i w0 = _mm256_set1_epi16(short(w[0]));
    const __m256i w1 = _mm256_set1_epi16(short(taps > 1 ? w[1] : 0));
    constexpr size_t kWide = 2 * kBlock;
    size_t x = 0;
    for (; x + kWide <= width; x += kWide) {
        __m256i acc = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rows[0] + x));
        if constexpr (kTaps == 2) {
            const __m256i next = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rows[1] + x));
            acc = _mm256_add_epi16(_mm256_mulhi_epu16(acc, w0), _mm256_mulhi_epu16(next, w1));
        } else if constexpr (kTaps != 1) {
            acc = _mm256_mulhi_epu16(acc, w0);
            for (int k = 1; k < taps; ++k) {
                const __m256i row = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rows[k] + x));
                acc = _mm256_add_epi16(acc, _mm256_mulhi_epu16(row, _mm256_set1_epi16(short(w[k]))));
            }
        }
        const __m256i grey = _mm256_srli_epi16(_mm256_add_epi16(acc, half), 8);
        const __m256i low = _mm256_cvtepu16_epi32(_mm256_castsi256_si128(grey));
        const __m256i high = _mm256_cvtepu16_epi32(_mm256_extracti128_si256(grey, 1));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x),
                            _mm256_or_si256(_mm256_shuffle_epi8(low, spread), opaque));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x + kBlock),
                            _mm256_or_si256(_mm256_shuffle_epi8(high, spread), opaque));
    }
    sumPixels(rows, w, taps, out, x, width);
}
#endif

} // namespace

GrayScaler::Instructions GrayScaler::best() {
#ifdef VM_GRAY_X86
    static const Instructions found = detectInstructions();
    return found;
#else
    return Instructions::Plain;
#endif
}

void GrayScaler::prepare(Axis& axis, int from, int to, Filter filter, bool blocks) {
    if (axis.from == from && axis.to == to && axis.filter == filter)
        return;
    axis.from = from;
    axis.to = to;
    axis.filter = filter;
    const double step = double(from) / double(to);
    if (filter == Filter::Nearest || from == to)
        axis.taps = 1;
    else if (from > to)
        axis.taps = std::min(from, int(std::ceil(step)) + 1);
    else
        axis.taps = std::min(2, from);
    const size_t taps = size_t(axis.taps);
    axis.first.assign(size_t(to), 0);
    axis.weights.assign(size_t(to) * taps, 0);

    std::vector<double> raw(taps);
    for (int o = 0; o < to; ++o) {
        int start = 0;
        std::fill(raw.begin(), raw.end(), 0.0);
        if (taps == 1) {
            start = std::min(from - 1, int(qint64(o) * from / to));
            raw[0] = 1.0;
        } else if (from > to) {
            // Each screen pixel averages the source pixels it covers, the edge ones by the
            // part of them it covers.
            const double a = o * step;
            const double b = std::min(double(from), (o + 1) * step);
            start = std::min(int(a), from - axis.taps);
            for (size_t k = 0; k < taps; ++k) {
                const double lo = std::max(a, double(start) + double(k));
                const double hi = std::min(b, double(start) + double(k) + 1.0);
                raw[k] = std::max(0.0, hi - lo) / step;
            }
        } else {
            // Linear between pixel centres; the outermost half pixels repeat the edge.
            const double centre = (o + 0.5) * step - 0.5;
            start = int(std::floor(centre));
            double f = centre - start;
            if (start < 0) {
                start = 0;
                f = 0.0;
            } else if (start >= from - 1) {
                start = from - 2;
                f = 1.0;
            }
            raw[0] = 1.0 - f;
            raw[1] = f;
        }
        axis.first[size_t(o)] = start;
        // Rounded on the running sum, so the weights never go negative and add up to one: an
        // even grey stays that grey at any size. A weight of the whole one does not fit 16 bits
        // and is kept just under it; the rounding of the sum makes up for that.
        quint16* w = &axis.weights[size_t(o) * taps];
        double total = 0.0;
        for (const double r : raw)
            total += r;
        double running = 0.0;
        long before = 0;
        for (size_t k = 0; k < taps; ++k) {
            running += raw[k];
            const long upTo = std::lround(running / total * kOne);
            w[k] = quint16(std::min(upTo - before, 65535L));
            before = upTo;
        }
    }

    axis.blockBase.clear();
    axis.blockOffsets.clear();
    axis.blockWeights.clear();
    if (!blocks || taps < 2)
        return;
    const size_t count = size_t(to) / kBlock;
    axis.blockBase.assign(count, -1);
    axis.blockOffsets.assign(count * taps * kBlock, 0);
    axis.blockWeights.assign(count * taps * kBlock, 0);
    for (size_t b = 0; b < count; ++b) {
        const size_t o0 = b * kBlock;
        const int base = axis.first[o0];
        int last = base;
        for (size_t j = 0; j < kBlock; ++j)
            last = std::max(last, axis.first[o0 + j] + axis.taps - 1);
        if (last - base >= 16)
            continue; // shrunk too far for one gather: these eight go the plain way
        axis.blockBase[b] = base;
        for (size_t k = 0; k < taps; ++k)
            for (size_t j = 0; j < kBlock; ++j) {
                const size_t at = (b * taps + k) * kBlock + j;
                axis.blockOffsets[at] = quint8(axis.first[o0 + j] + int(k) - base);
                axis.blockWeights[at] = axis.weights[(o0 + j) * taps + k];
            }
    }
}

void GrayScaler::filterRow(const uchar* in, quint16* mid) {
    const size_t width = size_t(m_x.to);
    const int taps = m_x.taps;
    if (taps == 1) {
        for (size_t o = 0; o < width; ++o)
            mid[o] = quint16(in[m_x.first[o]] << 8);
        return;
    }
#ifdef VM_GRAY_X86
    if (m_instructions >= Instructions::Ssse3) {
        m_padded.resize(size_t(m_x.from) + 16);
        std::memcpy(m_padded.data(), in, size_t(m_x.from));
        const size_t blocks = m_x.blockBase.size();
        const auto filter = m_instructions == Instructions::Avx2
                                ? (taps == 2 ? filterBlocksAvx2<2> : filterBlocksAvx2<0>)
                                : (taps == 2 ? filterBlocks<2> : filterBlocks<0>);
        filter(m_padded.data(), m_x.blockBase.data(), m_x.blockOffsets.data(), m_x.blockWeights.data(), taps,
               mid, blocks);
        for (size_t b = 0; b < blocks; ++b)
            if (m_x.blockBase[b] < 0)
                filterPixels(in, m_x.first.data(), m_x.weights.data(), taps, mid, b * kBlock,
                             (b + 1) * kBlock);
        filterPixels(in, m_x.first.data(), m_x.weights.data(), taps, mid, blocks * kBlock, width);
        return;
    }
#endif
    filterPixels(in, m_x.first.data(), m_x.weights.data(), taps, mid, 0, width);
}

void GrayScaler::scale(const QImage& source, QSize size, Filter filter, QImage& target) {
    if (source.isNull() || size.isEmpty()) {
        target = QImage();
        return;
    }
    if (target.size() != size || target.format() != QImage::Format_RGB32 || !target.isDetached())
        target = QImage(size, QImage::Format_RGB32);
    scaleInto(source, size, filter, target, QPoint(0, 0), QRect(QPoint(0, 0), size));
}

void GrayScaler::scaleInto(const QImage& source, QSize size, Filter filter, QImage& target, QPoint at,
                           const QRect& part) {
    const QRect rows = part & QRect(QPoint(0, 0), size) & target.rect().translated(-at);
    if (source.isNull() || rows.isEmpty() ||
        (target.format() != QImage::Format_RGB32 && target.format() != QImage::Format_ARGB32_Premultiplied))
        return;
#ifdef VM_GRAY_X86
    static const bool avx = hasAvx();
    if (avx && m_instructions != Instructions::Avx2)
        clearUpperHalves(); // the AVX2 code is encoded so that it needs no clearing
#endif
    prepare(m_x, source.width(), size.width(), filter, true);
    prepare(m_y, source.height(), size.height(), filter, false);

    // Source rows are filtered across as the output rows first need them, into a ring just
    // deep enough for one output row: the rows stay in the processor's cache between the
    // two passes.
    const size_t fullWidth = size_t(size.width());
    const size_t width = size_t(rows.width());
    const int ty = m_y.taps;
    m_rows.resize(size_t(ty) * fullWidth);
    m_taps.resize(size_t(ty));
    const auto slot = [&](int r) { return &m_rows[size_t(r % ty) * fullWidth]; };
    uchar* const bits = target.bits();
    const qsizetype stride = target.bytesPerLine();
    int filtered = 0;
    for (int y = rows.top(); y <= rows.bottom(); ++y) {
        const int f = m_y.first[size_t(y)];
        filtered = std::max(filtered, f);
        for (; filtered < f + ty; ++filtered)
            filterRow(source.constScanLine(filtered), slot(filtered));
        for (int k = 0; k < ty; ++k)
            m_taps[size_t(k)] = slot(f + k) + rows.left();
        auto* out = reinterpret_cast<quint32*>(bits + (at.y() + y) * stride) + (at.x() + rows.left());
        const quint16* w = &m_y.weights[size_t(y) * size_t(ty)];
#ifdef VM_GRAY_X86
        if (m_instructions == Instructions::Avx2) {
            const auto sum = ty == 1 ? sumVectorsAvx2<1> : ty == 2 ? sumVectorsAvx2<2> : sumVectorsAvx2<0>;
            sum(m_taps.data(), w, ty, out, width);
            continue;
        }
        if (m_instructions == Instructions::Ssse3) {
            const auto sum = ty == 1 ? sumVectors<1> : ty == 2 ? sumVectors<2> : sumVectors<0>;
            sum(m_taps.data(), w, ty, out, width);
            continue;
        }
#endif
        sumPixels(m_taps.data(), w, ty, out, 0, width);
    }
}

} // namespace vm::display
