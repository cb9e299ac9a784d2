#include "sim/matrixcodewords.h"

#include <algorithm>
#include <array>

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

} // namespace vm::sim
