#pragma once

#include <QImage>
#include <QSize>

#include <vector>

namespace vm::display {

// Scales grey pictures straight to the screen's 32-bit pixels.
//
// Live images arrive many times a second, each at a new address, so nothing can be cached
// between them. Converting to 32 bits first and then scaling (what QImage::scaled does) costs
// several milliseconds of pooled threads per image; filtering the grey bytes and writing each
// screen pixel once costs a fraction of that on one thread. The tables and buffers are kept
// from image to image, so a stream of images of one size allocates nothing.
class GrayScaler {
public:
    enum class Filter {
        Nearest, // whole multiples: every source pixel becomes an exact block
        Smooth,  // area average when shrinking, linear between pixel centres when enlarging
    };

    // Writes `source` (Format_Grayscale8) scaled to `size` into `target` as Format_RGB32.
    // `target` is reused when it has that size and format and is not shared.
    void scale(const QImage& source, QSize size, Filter filter, QImage& target);

private:
    // For one axis: each output pixel's first source pixel and `taps` fixed-point weights
    // (summing to one; unused taps weigh 0 and point at a valid pixel).
    struct Axis {
        int from = -1;
        int to = -1;
        Filter filter = Filter::Smooth;
        int taps = 0;
        std::vector<int> first;
        std::vector<quint16> weights;
    };
    static void prepare(Axis& axis, int from, int to, Filter filter);

    Axis m_x;
    Axis m_y;
    std::vector<quint16> m_rows; // horizontally filtered source rows, 8.8 fixed point
    std::vector<quint32> m_sum;  // one output row being summed
};

} // namespace vm::display
