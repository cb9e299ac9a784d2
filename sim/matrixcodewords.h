#pragma once

#include <optional>
#include <vector>

namespace vm::sim {

// What a Data Matrix's modules say once read back as codewords and corrected: the modules
// its corrected codewords print, and how much of its error correction the reading used.
// The grader judges each module against these, so that a symbol is graded on its own
// codewords whatever encoder chose them (ASCII, C40, Text, Base 256, any padding).
struct CorrectedMatrix {
    std::vector<bool> modules;     // rows x cols, row 0 at the top, finder along left and bottom
    int errors = 0;                // codewords corrected, all blocks together
    double unusedCorrection = 1.0; // the least over the blocks of 1 - 2 errors / check codewords
};

// Reads the codewords of an ECC 200 Data Matrix from its modules as seen (`seenDark`,
// rows x cols, the symbol upright), corrects them block by block with their Reed-Solomon
// check codewords and places them again. Empty when the size is not an ECC 200 size or a
// block has more errors than its check codewords can correct.
std::optional<CorrectedMatrix> correctDataMatrix(const std::vector<bool>& seenDark, int rows, int cols);

// The number of Reed-Solomon check codewords of an ECC 200 size, 0 for no such size.
int dataMatrixCheckWords(int rows, int cols);

// Reed-Solomon correction over GF(256) with the field's primitive polynomial and the
// exponent of the generator's first root: the codewords highest power first, the check
// codewords last. Returns the number of codewords corrected, or -1 when they cannot be.
int correctReedSolomon(std::vector<int>& codewords, int checkWords, int primitive, int firstRoot);

} // namespace vm::sim
