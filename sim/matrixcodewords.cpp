#include "sim/matrixcodewords.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdlib>
#include <utility>

namespace vm::sim {

namespace {

// One ECC 200 size: the symbol, the data region, how many regions across and down, the data
// and check codewords, and the interleaved blocks they are divided into.
struct MatrixSize {
    int rows, cols;
    int regionRows, regionCols;
    int regionsDown, regionsAcross;
    int dataWords, checkWords, blocks;
};

constexpr MatrixSize kSizes[] = {
    {10, 10, 8, 8, 1, 1, 3, 5, 1},          {12, 12, 10, 10, 1, 1, 5, 7, 1},
    {14, 14, 12, 12, 1, 1, 8, 10, 1},       {16, 16, 14, 14, 1, 1, 12, 12, 1},
    {18, 18, 16, 16, 1, 1, 18, 14, 1},      {20, 20, 18, 18, 1, 1, 22, 18, 1},
    {22, 22, 20, 20, 1, 1, 30, 20, 1},      {24, 24, 22, 22, 1, 1, 36, 24, 1},
    {26, 26, 24, 24, 1, 1, 44, 28, 1},      {32, 32, 14, 14, 2, 2, 62, 36, 1},
    {36, 36, 16, 16, 2, 2, 86, 42, 1},      {40, 40, 18, 18, 2, 2, 114, 48, 1},
    {44, 44, 20, 20, 2, 2, 144, 56, 1},     {48, 48, 22, 22, 2, 2, 174, 68, 1},
    {52, 52, 24, 24, 2, 2, 204, 84, 2},     {64, 64, 14, 14, 4, 4, 280, 112, 2},
    {72, 72, 16, 16, 4, 4, 368, 144, 4},    {80, 80, 18, 18, 4, 4, 456, 192, 4},
    {88, 88, 20, 20, 4, 4, 576, 224, 4},    {96, 96, 22, 22, 4, 4, 696, 272, 4},
    {104, 104, 24, 24, 4, 4, 816, 336, 6},  {120, 120, 18, 18, 6, 6, 1050, 408, 6},
    {132, 132, 20, 20, 6, 6, 1304, 496, 8}, {144, 144, 22, 22, 6, 6, 1558, 620, 10},
    {8, 18, 6, 16, 1, 1, 5, 7, 1},          {8, 32, 6, 14, 1, 2, 10, 11, 1},
    {12, 26, 10, 24, 1, 1, 16, 14, 1},      {12, 36, 10, 16, 1, 2, 22, 18, 1},
    {16, 36, 14, 16, 1, 2, 32, 24, 1},      {16, 48, 14, 22, 1, 2, 49, 28, 1},
};

const MatrixSize* findSize(int rows, int cols) {
    for (const MatrixSize& s : kSizes)
        if (s.rows == rows && s.cols == cols)
            return &s;
    return nullptr;
}

// Where each bit of each codeword sits in the mapping matrix (the data regions side by side,
// without their finder and clock patterns): entry = codeword * 8 + bit (bit 0 the most
// significant), -1 for the fixed modules of an unfilled corner, -2 where the corner prints dark.
class Placement {
public:
    Placement(int rows, int cols)
        : m_rows(rows)
        , m_cols(cols)
        , m_map(size_t(rows) * cols, kUnset) {
        int word = 0, row = 4, col = 0;
        do {
            if (row == rows && col == 0)
                corner1(word++);
            if (row == rows - 2 && col == 0 && cols % 4)
                corner2(word++);
            if (row == rows - 2 && col == 0 && cols % 8 == 4)
                corner3(word++);
            if (row == rows + 4 && col == 2 && !(cols % 8))
                corner4(word++);
            do {
                if (row < rows && col >= 0 && at(row, col) == kUnset)
                    utah(row, col, word++);
                row -= 2;
                col += 2;
            } while (row >= 0 && col < cols);
            row += 1;
            col += 3;
            do {
                if (row >= 0 && col < cols && at(row, col) == kUnset)
                    utah(row, col, word++);
                row += 2;
                col -= 2;
            } while (row < rows && col >= 0);
            row += 3;
            col += 1;
        } while (row < rows || col < cols);
        // Sizes whose codewords leave the bottom-right corner free print it in a fixed pattern.
        if (at(rows - 1, cols - 1) == kUnset) {
            at(rows - 1, cols - 1) = kDark;
            at(rows - 2, cols - 2) = kDark;
            at(rows - 1, cols - 2) = kLight;
            at(rows - 2, cols - 1) = kLight;
        }
    }

    static constexpr int kUnset = -3;
    static constexpr int kDark = -2;
    static constexpr int kLight = -1;

    int entry(int row, int col) const { return m_map[size_t(row) * m_cols + col]; }

private:
    int& at(int row, int col) { return m_map[size_t(row) * m_cols + col]; }
    void module(int row, int col, int word, int bit) {
        if (row < 0) {
            row += m_rows;
            col += 4 - ((m_rows + 4) % 8);
        }
        if (col < 0) {
            col += m_cols;
            row += 4 - ((m_cols + 4) % 8);
        }
        at(row, col) = word * 8 + bit;
    }
    void utah(int row, int col, int word) {
        module(row - 2, col - 2, word, 0);
        module(row - 2, col - 1, word, 1);
        module(row - 1, col - 2, word, 2);
        module(row - 1, col - 1, word, 3);
        module(row - 1, col, word, 4);
        module(row, col - 2, word, 5);
        module(row, col - 1, word, 6);
        module(row, col, word, 7);
    }
    void corner1(int word) {
        module(m_rows - 1, 0, word, 0);
        module(m_rows - 1, 1, word, 1);
        module(m_rows - 1, 2, word, 2);
        module(0, m_cols - 2, word, 3);
        module(0, m_cols - 1, word, 4);
        module(1, m_cols - 1, word, 5);
        module(2, m_cols - 1, word, 6);
        module(3, m_cols - 1, word, 7);
    }
    void corner2(int word) {
        module(m_rows - 3, 0, word, 0);
        module(m_rows - 2, 0, word, 1);
        module(m_rows - 1, 0, word, 2);
        module(0, m_cols - 4, word, 3);
        module(0, m_cols - 3, word, 4);
        module(0, m_cols - 2, word, 5);
        module(0, m_cols - 1, word, 6);
        module(1, m_cols - 1, word, 7);
    }
    void corner3(int word) {
        module(m_rows - 3, 0, word, 0);
        module(m_rows - 2, 0, word, 1);
        module(m_rows - 1, 0, word, 2);
        module(0, m_cols - 2, word, 3);
        module(0, m_cols - 1, word, 4);
        module(1, m_cols - 1, word, 5);
        module(2, m_cols - 1, word, 6);
        module(3, m_cols - 1, word, 7);
    }
    void corner4(int word) {
        module(m_rows - 1, 0, word, 0);
        module(m_rows - 1, m_cols - 1, word, 1);
        module(0, m_cols - 3, word, 2);
        module(0, m_cols - 2, word, 3);
        module(0, m_cols - 1, word, 4);
        module(1, m_cols - 3, word, 5);
        module(1, m_cols - 2, word, 6);
        module(1, m_cols - 1, word, 7);
    }

    int m_rows, m_cols;
    std::vector<int> m_map;
};

// GF(256) arithmetic by logarithm tables.
class Field {
public:
    explicit Field(int primitive) {
        int x = 1;
        for (int i = 0; i < 255; ++i) {
            m_exp[size_t(i)] = x;
            m_log[size_t(x)] = i;
            x <<= 1;
            if (x & 0x100)
                x ^= primitive;
        }
        for (int i = 255; i < 512; ++i)
            m_exp[size_t(i)] = m_exp[size_t(i - 255)];
    }
    int mul(int a, int b) const { return a && b ? m_exp[size_t(m_log[size_t(a)] + m_log[size_t(b)])] : 0; }
    int div(int a, int b) const { return a ? m_exp[size_t(m_log[size_t(a)] + 255 - m_log[size_t(b)])] : 0; }
    int power(int exponent) const { return m_exp[size_t(((exponent % 255) + 255) % 255)]; }
    int inverse(int a) const { return m_exp[size_t(255 - m_log[size_t(a)])]; }

private:
    std::array<int, 512> m_exp{};
    std::array<int, 256> m_log{};
};

// A polynomial's value at x, coefficients lowest power first.
int evaluate(const Field& gf, const std::vector<int>& poly, int x) {
    int value = 0;
    for (size_t i = poly.size(); i-- > 0;)
        value = gf.mul(value, x) ^ poly[i];
    return value;
}

// Symbol row (or column) of mapping row (or column) `m`: each data region is framed by its
// finder and clock patterns, one module on either side.
int symbolIndex(int m, int regionSize) {
    return (m / regionSize) * (regionSize + 2) + 1 + m % regionSize;
}

// ---- QR Code ----

// Check codewords per block and blocks, by level (L, M, Q, H) and version (index 0 unused).
constexpr int kQrCheckPerBlock[4][41] = {
    {0,  7,  10, 15, 20, 26, 18, 20, 24, 30, 18, 20, 24, 26, 30, 22, 24, 28, 30, 28, 28,
     28, 28, 30, 30, 26, 28, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30},
    {0,  10, 16, 26, 18, 24, 16, 18, 22, 22, 26, 30, 22, 22, 24, 24, 28, 28, 26, 26, 26,
     26, 28, 28, 28, 28, 28, 28, 28, 28, 28, 28, 28, 28, 28, 28, 28, 28, 28, 28, 28},
    {0,  13, 22, 18, 26, 18, 24, 18, 22, 20, 24, 28, 26, 24, 20, 30, 24, 28, 28, 26, 30,
     28, 30, 30, 30, 30, 28, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30},
    {0,  17, 28, 22, 16, 22, 28, 26, 26, 24, 28, 24, 28, 22, 24, 24, 30, 28, 28, 26, 28,
     30, 24, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30},
};
constexpr int kQrBlocks[4][41] = {
    {0, 1, 1, 1,  1,  1,  2,  2,  2,  2,  4,  4,  4,  4,  4,  6,  6,  6,  6,  7, 8,
     8, 9, 9, 10, 12, 12, 12, 13, 14, 15, 16, 17, 18, 19, 19, 20, 21, 22, 24, 25},
    {0,  1,  1,  1,  2,  2,  4,  4,  4,  5,  5,  5,  8,  9,  9,  10, 10, 11, 13, 14, 16,
     17, 17, 18, 20, 21, 23, 25, 26, 28, 29, 31, 33, 35, 37, 38, 40, 43, 45, 47, 49},
    {0,  1,  1,  2,  2,  4,  4,  6,  6,  8,  8,  8,  10, 12, 16, 12, 17, 16, 18, 21, 20,
     23, 23, 25, 27, 29, 34, 34, 35, 38, 40, 43, 45, 48, 51, 53, 56, 59, 62, 65, 68},
    {0,  1,  1,  2,  4,  4,  4,  5,  6,  8,  8,  11, 11, 16, 16, 18, 16, 19, 21, 25, 25,
     25, 34, 30, 32, 35, 37, 40, 42, 45, 48, 51, 54, 57, 60, 63, 66, 70, 74, 77, 81},
};

int levelIndex(char level) {
    switch (level) {
    case 'L':
        return 0;
    case 'M':
        return 1;
    case 'Q':
        return 2;
    case 'H':
        return 3;
    default:
        return -1;
    }
}

// The centres of the alignment patterns along either axis.
std::vector<int> qrAlignment(int version) {
    if (version < 2)
        return {};
    const int count = version / 7 + 2;
    const int step = version == 32 ? 26 : (version * 4 + count * 2 + 1) / (count * 2 - 2) * 2;
    std::vector<int> centres{6};
    for (int i = 0, at = version * 4 + 10; i < count - 1; ++i, at -= step)
        centres.insert(centres.begin() + 1, at);
    return centres;
}

// The 15-bit format information of a level's two bits and a mask, masked as printed.
int qrFormatBits(int data) {
    int remainder = data << 10;
    for (int bit = 14; bit >= 10; --bit)
        if (remainder & (1 << bit))
            remainder ^= 0x537 << (bit - 10);
    return ((data << 10) | remainder) ^ 0x5412;
}

// The 18-bit version information of versions 7 and up.
int qrVersionBits(int version) {
    int remainder = version << 12;
    for (int bit = 17; bit >= 12; --bit)
        if (remainder & (1 << bit))
            remainder ^= 0x1F25 << (bit - 12);
    return (version << 12) | remainder;
}

// Where the format information's bits 14 (first) to 0 sit, as (row, column): the copy around
// the top-left finder, and the copy split between the other two.
std::array<std::pair<int, int>, 15> qrFormatCopy(int n, bool second) {
    std::array<std::pair<int, int>, 15> at{};
    int k = 0;
    if (!second) {
        for (int c = 0; c < 6; ++c)
            at[size_t(k++)] = {8, c};
        at[size_t(k++)] = {8, 7};
        at[size_t(k++)] = {8, 8};
        at[size_t(k++)] = {7, 8};
        for (int r = 5; r >= 0; --r)
            at[size_t(k++)] = {r, 8};
    } else {
        for (int r = n - 1; r >= n - 7; --r)
            at[size_t(k++)] = {r, 8};
        for (int c = n - 8; c < n; ++c)
            at[size_t(k++)] = {8, c};
    }
    return at;
}

bool qrMaskAt(int mask, int r, int c) {
    switch (mask) {
    case 0:
        return (r + c) % 2 == 0;
    case 1:
        return r % 2 == 0;
    case 2:
        return c % 3 == 0;
    case 3:
        return (r + c) % 3 == 0;
    case 4:
        return (r / 2 + c / 3) % 2 == 0;
    case 5:
        return r * c % 2 + r * c % 3 == 0;
    case 6:
        return (r * c % 2 + r * c % 3) % 2 == 0;
    default:
        return ((r + c) % 2 + r * c % 3) % 2 == 0;
    }
}

// A QR Code's function patterns as printed (finders with separators, timing, alignment,
// format and version information, the dark module), and which modules they take.
struct QrLayout {
    int n = 0;
    std::vector<bool> function;
    std::vector<bool> dark;
    void set(int r, int c, bool isDark) {
        function[size_t(r) * n + c] = true;
        dark[size_t(r) * n + c] = isDark;
    }
};

QrLayout qrLayout(int version, int formatData) {
    QrLayout l;
    l.n = version * 4 + 17;
    const int n = l.n;
    l.function.assign(size_t(n) * n, false);
    l.dark.assign(size_t(n) * n, false);
    for (int i = 0; i < n; ++i) {
        l.set(6, i, i % 2 == 0);
        l.set(i, 6, i % 2 == 0);
    }
    for (const auto& [top, left] : {std::pair{0, 0}, std::pair{0, n - 7}, std::pair{n - 7, 0}})
        for (int dr = -1; dr <= 7; ++dr)
            for (int dc = -1; dc <= 7; ++dc) {
                const int r = top + dr, c = left + dc;
                if (r < 0 || c < 0 || r >= n || c >= n)
                    continue;
                const int ring = std::max(std::abs(dr - 3), std::abs(dc - 3));
                l.set(r, c, ring != 2 && ring != 4);
            }
    const std::vector<int> centres = qrAlignment(version);
    for (size_t i = 0; i < centres.size(); ++i)
        for (size_t j = 0; j < centres.size(); ++j) {
            const bool onFinder = (i == 0 && j == 0) || (i == 0 && j + 1 == centres.size()) ||
                                  (i + 1 == centres.size() && j == 0);
            if (onFinder)
                continue;
            for (int dr = -2; dr <= 2; ++dr)
                for (int dc = -2; dc <= 2; ++dc)
                    l.set(centres[i] + dr, centres[j] + dc, std::max(std::abs(dr), std::abs(dc)) != 1);
        }
    const int format = qrFormatBits(formatData);
    for (bool second : {false, true}) {
        const auto at = qrFormatCopy(n, second);
        for (int k = 0; k < 15; ++k)
            l.set(at[size_t(k)].first, at[size_t(k)].second, format & (1 << (14 - k)));
    }
    l.set(n - 8, 8, true);
    if (version >= 7) {
        const int bits = qrVersionBits(version);
        for (int i = 0; i < 18; ++i) {
            const bool bit = bits & (1 << i);
            l.set(n - 11 + i % 3, i / 3, bit);
            l.set(i / 3, n - 11 + i % 3, bit);
        }
    }
    return l;
}

// The data modules in placement order: two columns at a time from the right, up and down in
// turn, the right one of each pair first, passing over the vertical timing pattern.
std::vector<std::pair<int, int>> qrDataOrder(const QrLayout& layout) {
    const int n = layout.n;
    std::vector<std::pair<int, int>> order;
    for (int right = n - 1; right >= 1; right -= 2) {
        if (right == 6)
            right = 5;
        const bool upward = ((right + 1) & 2) == 0;
        for (int k = 0; k < n; ++k) {
            const int r = upward ? n - 1 - k : k;
            for (int c : {right, right - 1})
                if (!layout.function[size_t(r) * n + c])
                    order.emplace_back(r, c);
        }
    }
    return order;
}

std::optional<CorrectedMatrix> correctQrOnce(const std::vector<bool>& seen, int n) {
    const int version = (n - 17) / 4;
    // Format information: the valid word nearest to either copy, within three bits.
    int bestData = -1, bestDistance = 4;
    for (bool second : {false, true}) {
        const auto at = qrFormatCopy(n, second);
        int read = 0;
        for (int k = 0; k < 15; ++k)
            read = (read << 1) | (seen[size_t(at[size_t(k)].first) * n + at[size_t(k)].second] ? 1 : 0);
        for (int data = 0; data < 32; ++data) {
            const int distance = std::popcount(unsigned(read ^ qrFormatBits(data)));
            if (distance < bestDistance) {
                bestDistance = distance;
                bestData = data;
            }
        }
    }
    if (bestData < 0)
        return std::nullopt;
    static constexpr char kLevels[] = {'M', 'L', 'H', 'Q'}; // by the format's two level bits
    CorrectedMatrix out;
    out.version = version;
    out.level = kLevels[bestData >> 3];
    out.mask = bestData & 7;
    const QrBlocks structure = qrBlocks(version, out.level);
    const QrLayout layout = qrLayout(version, bestData);
    const std::vector<std::pair<int, int>> order = qrDataOrder(layout);
    const int total = structure.totalWords;
    if (int(order.size()) < total * 8)
        return std::nullopt;

    std::vector<int> words(size_t(total), 0);
    for (int i = 0; i < total * 8; ++i) {
        const auto [r, c] = order[size_t(i)];
        if (seen[size_t(r) * n + c] != qrMaskAt(out.mask, r, c))
            words[size_t(i / 8)] |= 0x80 >> (i % 8);
    }

    // Blocks: the short ones first, the long ones one data codeword longer. The data codewords
    // are interleaved first, one from each block in turn, then the check codewords.
    const int blocks = structure.blocks, check = structure.checkPerBlock;
    const int shortLength = total / blocks, longBlocks = total % blocks;
    const int shortData = shortLength - check;
    std::vector<std::vector<int>> positions(static_cast<size_t>(blocks));
    int next = 0;
    for (int i = 0; i <= shortData; ++i)
        for (int b = 0; b < blocks; ++b)
            if (i < shortData || b >= blocks - longBlocks)
                positions[size_t(b)].push_back(next++);
    for (int i = 0; i < check; ++i)
        for (int b = 0; b < blocks; ++b)
            positions[size_t(b)].push_back(next++);
    if (next != total)
        return std::nullopt;
    const int usable = check - structure.protection;
    for (const std::vector<int>& at : positions) {
        std::vector<int> block;
        for (int p : at)
            block.push_back(words[size_t(p)]);
        const int errors = correctReedSolomon(block, check, 0x11D, 0);
        // Past the correction the misdecode protection leaves, a reading may be a wrong symbol.
        if (errors < 0 || 2 * errors > usable)
            return std::nullopt;
        for (size_t k = 0; k < at.size(); ++k)
            words[size_t(at[k])] = block[k];
        out.errors += errors;
        out.unusedCorrection = std::min(out.unusedCorrection, 1.0 - 2.0 * errors / usable);
    }

    // Print the corrected codewords: function patterns, then the data masked; the remainder
    // bits after the last codeword are light before masking.
    out.modules = layout.dark;
    for (size_t i = 0; i < order.size(); ++i) {
        const auto [r, c] = order[i];
        const bool bit = int(i) < total * 8 && (words[i / 8] & (0x80 >> (i % 8)));
        out.modules[size_t(r) * n + c] = bit != qrMaskAt(out.mask, r, c);
    }
    return out;
}

} // namespace

int correctReedSolomon(std::vector<int>& codewords, int checkWords, int primitive, int firstRoot) {
    const Field gf(primitive);
    const int n = int(codewords.size());
    if (checkWords <= 0 || n <= checkWords || n > 255)
        return -1;
    // Syndromes: the received word at the generator's roots, highest power first.
    std::vector<int> syndromes(static_cast<size_t>(checkWords));
    bool clean = true;
    for (int j = 0; j < checkWords; ++j) {
        const int root = gf.power(firstRoot + j);
        int value = 0;
        for (int c : codewords)
            value = gf.mul(value, root) ^ c;
        syndromes[size_t(j)] = value;
        clean = clean && value == 0;
    }
    if (clean)
        return 0;
    // Berlekamp-Massey: the error locator, lowest power first.
    std::vector<int> locator{1}, previous{1};
    int length = 0, shift = 1, lastDiscrepancy = 1;
    for (int k = 0; k < checkWords; ++k) {
        int discrepancy = syndromes[size_t(k)];
        for (int i = 1; i <= length && i < int(locator.size()); ++i)
            discrepancy ^= gf.mul(locator[size_t(i)], syndromes[size_t(k - i)]);
        if (discrepancy == 0) {
            ++shift;
            continue;
        }
        const int factor = gf.div(discrepancy, lastDiscrepancy);
        std::vector<int> next = locator;
        if (next.size() < previous.size() + size_t(shift))
            next.resize(previous.size() + size_t(shift), 0);
        for (size_t i = 0; i < previous.size(); ++i)
            next[i + size_t(shift)] ^= gf.mul(factor, previous[i]);
        if (2 * length <= k) {
            previous = locator;
            length = k + 1 - length;
            lastDiscrepancy = discrepancy;
            shift = 1;
        } else {
            ++shift;
        }
        locator = std::move(next);
    }
    while (locator.size() > 1 && locator.back() == 0)
        locator.pop_back();
    if (int(locator.size()) - 1 != length || 2 * length > checkWords)
        return -1;
    // Error evaluator: syndromes times locator, modulo x^checkWords.
    std::vector<int> evaluator(size_t(checkWords), 0);
    for (int i = 0; i < checkWords; ++i)
        for (size_t j = 0; j < locator.size() && int(j) <= i; ++j)
            evaluator[size_t(i)] ^= gf.mul(syndromes[size_t(i) - j], locator[j]);
    // The locator's formal derivative: in characteristic 2 only the odd powers remain.
    std::vector<int> derivative(locator.size() > 1 ? locator.size() - 1 : 1, 0);
    for (size_t i = 1; i < locator.size(); i += 2)
        derivative[i - 1] = locator[i];
    // Chien search and Forney: position p (from the start) carries power n - 1 - p.
    int found = 0;
    for (int p = 0; p < n; ++p) {
        const int x = gf.power(n - 1 - p);
        const int xInverse = gf.inverse(x);
        if (evaluate(gf, locator, xInverse) != 0)
            continue;
        const int denominator = evaluate(gf, derivative, xInverse);
        if (denominator == 0)
            return -1;
        const int magnitude = gf.mul(gf.power((n - 1 - p) * (1 - firstRoot)),
                                     gf.div(evaluate(gf, evaluator, xInverse), denominator));
        codewords[size_t(p)] ^= magnitude;
        ++found;
    }
    if (found != length)
        return -1;
    return found;
}

int dataMatrixCheckWords(int rows, int cols) {
    const MatrixSize* size = findSize(rows, cols);
    return size ? size->checkWords : 0;
}

std::optional<CorrectedMatrix> correctDataMatrix(const std::vector<bool>& seenDark, int rows, int cols) {
    const MatrixSize* size = findSize(rows, cols);
    if (!size || seenDark.size() != size_t(rows) * cols)
        return std::nullopt;
    const int mapRows = size->regionRows * size->regionsDown;
    const int mapCols = size->regionCols * size->regionsAcross;
    const Placement placement(mapRows, mapCols);
    const int total = size->dataWords + size->checkWords;

    // Read the codewords as placed.
    std::vector<int> words(size_t(total), 0);
    for (int r = 0; r < mapRows; ++r)
        for (int c = 0; c < mapCols; ++c) {
            const int entry = placement.entry(r, c);
            if (entry < 0 || entry / 8 >= total)
                continue;
            const int row = symbolIndex(r, size->regionRows), col = symbolIndex(c, size->regionCols);
            if (seenDark[size_t(row) * cols + col])
                words[size_t(entry / 8)] |= 0x80 >> (entry % 8);
        }

    // Codeword i of the data and of the check codewords belongs to block i mod blocks.
    CorrectedMatrix out;
    const int blocks = size->blocks;
    const int checkPerBlock = size->checkWords / blocks;
    for (int b = 0; b < blocks; ++b) {
        std::vector<int> block;
        std::vector<int> positions;
        for (int i = b; i < size->dataWords; i += blocks) {
            block.push_back(words[size_t(i)]);
            positions.push_back(i);
        }
        for (int i = b; i < size->checkWords; i += blocks) {
            block.push_back(words[size_t(size->dataWords + i)]);
            positions.push_back(size->dataWords + i);
        }
        const int errors = correctReedSolomon(block, checkPerBlock, 0x12D, 1);
        if (errors < 0)
            return std::nullopt;
        for (size_t k = 0; k < block.size(); ++k)
            words[size_t(positions[k])] = block[k];
        out.errors += errors;
        out.unusedCorrection = std::min(out.unusedCorrection, 1.0 - 2.0 * errors / checkPerBlock);
    }

    // Print the corrected codewords: finder, clock tracks and alignment patterns, then the data.
    out.modules.assign(size_t(rows) * cols, false);
    const int regionH = size->regionRows + 2, regionW = size->regionCols + 2;
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c) {
            const int ir = r % regionH, ic = c % regionW;
            bool dark = false;
            if (ic == 0 || ir == regionH - 1)
                dark = true; // a region's solid edges: left and bottom
            else if (ir == 0)
                dark = ic % 2 == 0; // its clock track along the top
            else if (ic == regionW - 1)
                dark = (regionH - 1 - ir) % 2 == 0; // and down its right side
            else {
                const int entry = placement.entry((r / regionH) * size->regionRows + ir - 1,
                                                  (c / regionW) * size->regionCols + ic - 1);
                dark = entry == Placement::kDark || (entry >= 0 && entry / 8 < total &&
                                                     (words[size_t(entry / 8)] & (0x80 >> (entry % 8))));
            }
            out.modules[size_t(r) * cols + c] = dark;
        }
    return out;
}

QrBlocks qrBlocks(int version, char level) {
    const int index = levelIndex(level);
    if (version < 1 || version > 40 || index < 0)
        return {};
    QrBlocks b;
    b.checkPerBlock = kQrCheckPerBlock[index][version];
    b.blocks = kQrBlocks[index][version];
    // The modules left for codewords: all but the function patterns.
    int modules = (16 * version + 128) * version + 64;
    if (version >= 2) {
        const int count = version / 7 + 2;
        modules -= (25 * count - 10) * count - 55;
        if (version >= 7)
            modules -= 36;
    }
    b.totalWords = modules / 8;
    // The small symbols keep codewords back against reading a wrong symbol.
    if (version == 1)
        b.protection = level == 'L' ? 3 : level == 'M' ? 2 : 1;
    else if (version == 2 && level == 'L')
        b.protection = 2;
    else if (version == 3 && level == 'L')
        b.protection = 1;
    return b;
}

std::optional<CorrectedMatrix> correctQrCode(const std::vector<bool>& seenDark, int n) {
    if (n < 21 || n > 177 || (n - 17) % 4 != 0 || seenDark.size() != size_t(n) * n)
        return std::nullopt;
    if (auto upright = correctQrOnce(seenDark, n))
        return upright;
    std::vector<bool> swapped(seenDark.size());
    for (int r = 0; r < n; ++r)
        for (int c = 0; c < n; ++c)
            swapped[size_t(c) * n + r] = seenDark[size_t(r) * n + c];
    std::optional<CorrectedMatrix> read = correctQrOnce(swapped, n);
    if (!read)
        return std::nullopt;
    std::vector<bool> back(read->modules.size());
    for (int r = 0; r < n; ++r)
        for (int c = 0; c < n; ++c)
            back[size_t(r) * n + c] = read->modules[size_t(c) * n + r];
    read->modules = std::move(back);
    read->transposed = true;
    return read;
}

} // namespace vm::sim
