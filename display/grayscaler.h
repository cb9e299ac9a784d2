#pragma once

#include <QImage>
#include <QPoint>
#include <QRect>
#include <QSize>

#include <algorithm>
#include <vector>

namespace vm::display {

// Scales grey pictures straight to the screen's 32-bit pixels.
//
// Live images arrive many times a second, each at a new address, so nothing can be cached
// between them. Converting to 32 bits first and then scaling (what QImage::scaled does) costs
// several milliseconds of pooled threads per image; filtering the grey bytes and writing each
// screen pixel once costs a fraction of that on one thread. The tables and buffers are kept
// from image to image, so a stream of images of one size allocates nothing.
//
// Arithmetic is 16-bit fixed point (8.8 pixels, 0.16 weights) so that eight pixels (sixteen
// with AVX2) go through one vector instruction; on x86 the widest vector code the processor has
// is used, elsewhere plain code computes the very same values.
class GrayScaler {
public:
    enum class Filter {
        Nearest, // whole multiples: every source pixel becomes an exact block
        Smooth,  // area average when shrinking, linear between pixel centres when enlarging
    };

    // Writes `source` (Format_Grayscale8) scaled to `size` into `target` as Format_RGB32.
    // `target` is reused when it has that size and format and is not shared.
    void scale(const QImage& source, QSize size, Filter filter, QImage& target);
    // Writes the rectangle `part` of `source` scaled to `size` (in the scaled picture's
    // coordinates) into `target`, which holds the scaled picture's top left corner at `at`.
    // `target` is Format_RGB32 or Format_ARGB32_Premultiplied (grey pixels are opaque, the same
    // in both); nothing is written outside it.
    void scaleInto(const QImage& source, QSize size, Filter filter, QImage& target, QPoint at,
                   const QRect& part);

    enum class Instructions { Plain, Ssse3, Avx2 };
    // The widest the processor has, which a new scaler uses.
    static Instructions best();
    // Limits the scaler to older instructions (never beyond `best()`); every choice gives the
    // same pixels.
    void setInstructions(Instructions set) { m_instructions = std::min(set, best()); }
    Instructions instructions() const { return m_instructions; }

private:
    // For one axis: each output pixel's first source pixel and `taps` weights in 0.16 fixed
    // point (summing to one, or just under where one weight is the whole; unused taps weigh 0
    // and point at a valid pixel).
    struct Axis {
        int from = -1;
        int to = -1;
        Filter filter = Filter::Smooth;
        int taps = 0;
        std::vector<int> first;
        std::vector<quint16> weights;
        // Across, eight output pixels at a time: the source offset the eight are gathered
        // from, or -1 where they span more than 16 source pixels; per tap, their eight byte
        // offsets from it and their eight weights.
        std::vector<int> blockBase;
        std::vector<quint8> blockOffsets;
        std::vector<quint16> blockWeights;
    };
    static void prepare(Axis& axis, int from, int to, Filter filter, bool blocks);
    void filterRow(const uchar* in, quint16* mid);

    Axis m_x;
    Axis m_y;
    Instructions m_instructions = best();
    std::vector<uchar> m_padded;        // one source row with room to read 16 bytes anywhere in it
    std::vector<quint16> m_rows;        // ring of horizontally filtered source rows, 8.8 fixed point
    std::vector<const quint16*> m_taps; // the ring's rows one output row sums
};

} // namespace vm::display
