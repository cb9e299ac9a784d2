#pragma once

#include <optional>
#include <vector>

namespace vm::sim {

// What a Data Matrix's or QR Code's modules say once read back as codewords and corrected:
// the modules its corrected codewords print, and how much of its error correction the reading
// used. The grader judges each module against these, so that a symbol is graded on its own
// codewords whatever encoder chose them (ASCII, C40, Text, Base 256, any padding or mode).
struct CorrectedMatrix {
    std::vector<bool> modules; // rows x cols, row 0 at the top (Data Matrix: finder along left and bottom)
    int errors = 0;            // codewords corrected, all blocks together
    // The least over the blocks of 1 - 2 errors / (check codewords - misdecode protection).
    double unusedCorrection = 1.0;
    int version = 0;         // QR Code: 1 to 40
    char level = 0;          // QR Code: 'L', 'M', 'Q' or 'H'
    int mask = -1;           // QR Code: the data mask, 0 to 7
    bool transposed = false; // QR Code: the modules read with rows and columns swapped
};

// Reads the codewords of an ECC 200 Data Matrix from its modules as seen (`seenDark`,
// rows x cols, the symbol upright), corrects them block by block with their Reed-Solomon
// check codewords and places them again. Empty when the size is not an ECC 200 size or a
// block has more errors than its check codewords can correct.
std::optional<CorrectedMatrix> correctDataMatrix(const std::vector<bool>& seenDark, int rows, int cols);

// Reads the codewords of a QR Code (`seenDark`, n x n, three finders top-left, top-right and
// bottom-left): format information (error correction level and mask, the nearer of its two
// copies to a valid one), version from the size, the data unmasked and read in placement order,
// de-interleaved into its blocks and each corrected; then placed and masked again. A grid that
// reads only with rows and columns swapped (a mirror along the diagonal keeps the finders where
// they are) is read so, and its modules given back in the grid's own order. Empty when n is no
// QR size or a block cannot be corrected.
std::optional<CorrectedMatrix> correctQrCode(const std::vector<bool>& seenDark, int n);

// A QR Code's block structure: check codewords per block, blocks, all codewords, and the
// misdecode protection codewords of the small versions. level is 'L', 'M', 'Q' or 'H'.
struct QrBlocks {
    int checkPerBlock = 0;
    int blocks = 0;
    int totalWords = 0;
    int protection = 0;
};
QrBlocks qrBlocks(int version, char level);

// The number of Reed-Solomon check codewords of an ECC 200 size, 0 for no such size.
int dataMatrixCheckWords(int rows, int cols);

// Reed-Solomon correction over GF(256) with the field's primitive polynomial and the
// exponent of the generator's first root: the codewords highest power first, the check
// codewords last. Returns the number of codewords corrected, or -1 when they cannot be.
int correctReedSolomon(std::vector<int>& codewords, int checkWords, int primitive, int firstRoot);

} // namespace vm::sim
