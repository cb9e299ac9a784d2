#include "display/grayscaler.h"

#include <algorithm>
#include <cmath>

namespace vm::display {

namespace {

// Weights are fixed point with this many fraction bits: fine enough for a picture shrunk a
// hundred times, small enough that a filtered 8.8 row times a weight fits 32 bits.
constexpr int kShift = 14;
constexpr double kOne = double(1 << kShift);

} // namespace

void GrayScaler::prepare(Axis& axis, int from, int to, Filter filter) {
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
    axis.first.assign(size_t(to), 0);
    axis.weights.assign(size_t(to) * size_t(axis.taps), 0);

    std::vector<double> raw(size_t(axis.taps));
    for (int o = 0; o < to; ++o) {
        int start = 0;
        std::fill(raw.begin(), raw.end(), 0.0);
        if (axis.taps == 1) {
            start = std::min(from - 1, int(qint64(o) * from / to));
            raw[0] = 1.0;
        } else if (from > to) {
            // Each screen pixel averages the source pixels it covers, the edge ones by the
            // part of them it covers.
            const double a = o * step;
            const double b = std::min(double(from), (o + 1) * step);
            start = std::min(int(a), from - axis.taps);
            for (int k = 0; k < axis.taps; ++k) {
                const double lo = std::max(a, double(start + k));
                const double hi = std::min(b, double(start + k + 1));
                raw[size_t(k)] = std::max(0.0, hi - lo) / step;
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
        // Rounded on the running sum, so the weights never go negative and add up to exactly
        // one: an even grey stays that grey at any size.
        quint16* w = &axis.weights[size_t(o) * size_t(axis.taps)];
        double total = 0.0;
        for (const double r : raw)
            total += r;
        double running = 0.0;
        long before = 0;
        for (int k = 0; k < axis.taps; ++k) {
            running += raw[size_t(k)];
            const long upTo = std::lround(running / total * kOne);
            w[k] = quint16(upTo - before);
            before = upTo;
        }
    }
}

void GrayScaler::scale(const QImage& source, QSize size, Filter filter, QImage& target) {
    const int outW = size.width();
    const int outH = size.height();
    if (source.isNull() || outW <= 0 || outH <= 0) {
        target = QImage();
        return;
    }
    prepare(m_x, source.width(), outW, filter);
    prepare(m_y, source.height(), outH, filter);
    if (target.size() != size || target.format() != QImage::Format_RGB32 || !target.isDetached())
        target = QImage(size, QImage::Format_RGB32);

    const size_t width = size_t(outW);
    m_rows.resize(size_t(source.height()) * width);
    m_sum.resize(width);
    const int tx = m_x.taps;
    for (int r = 0; r < source.height(); ++r) {
        const uchar* in = source.constScanLine(r);
        quint16* mid = &m_rows[size_t(r) * width];
        const int* first = m_x.first.data();
        const quint16* w = m_x.weights.data();
        if (tx == 1) {
            for (size_t o = 0; o < width; ++o)
                mid[o] = quint16(in[first[o]] << 8);
            continue;
        }
        if (tx == 2) {
            // Enlarging: two taps, unrolled.
            for (size_t o = 0; o < width; ++o, w += 2) {
                const uchar* p = in + first[o];
                const unsigned acc = unsigned(w[0]) * p[0] + unsigned(w[1]) * p[1];
                mid[o] = quint16((acc + (1u << (kShift - 9))) >> (kShift - 8));
            }
            continue;
        }
        for (size_t o = 0; o < width; ++o, w += tx) {
            const uchar* p = in + first[o];
            unsigned acc = 0;
            for (int k = 0; k < tx; ++k)
                acc += unsigned(w[k]) * p[k];
            mid[o] = quint16((acc + (1u << (kShift - 9))) >> (kShift - 8));
        }
    }

    const int ty = m_y.taps;
    for (int y = 0; y < outH; ++y) {
        auto* out = reinterpret_cast<quint32*>(target.scanLine(y));
        const quint16* rows = &m_rows[size_t(m_y.first[size_t(y)]) * width];
        const quint16* w = &m_y.weights[size_t(y) * size_t(ty)];
        if (ty == 1) {
            for (size_t x = 0; x < width; ++x)
                out[x] = 0xff000000u | (quint32((rows[x] + 128u) >> 8) * 0x010101u);
            continue;
        }
        if (ty == 2) {
            // Enlarging: two rows, one pass.
            const quint32 w0 = w[0];
            const quint32 w1 = w[1];
            const quint16* next = rows + width;
            for (size_t x = 0; x < width; ++x)
                out[x] = 0xff000000u |
                         (((w0 * rows[x] + w1 * next[x] + (1u << (kShift + 7))) >> (kShift + 8)) * 0x010101u);
            continue;
        }
        quint32* sum = m_sum.data();
        std::fill(m_sum.begin(), m_sum.end(), 0u);
        for (int k = 0; k < ty; ++k, rows += width) {
            const quint32 wk = w[k];
            if (wk == 0)
                continue;
            for (size_t x = 0; x < width; ++x)
                sum[x] += wk * rows[x];
        }
        for (size_t x = 0; x < width; ++x)
            out[x] = 0xff000000u | (((sum[x] + (1u << (kShift + 7))) >> (kShift + 8)) * 0x010101u);
    }
}

} // namespace vm::display
