// Shared by the ECC 200 decoder tests: encoder symbols as module matrices, codeword corruption.
#ifndef QUARNEL_TESTS_SUPPORT_ECC200_MATRIX_H_
#define QUARNEL_TESTS_SUPPORT_ECC200_MATRIX_H_

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "decoder/ecc200/ecc200.h"
#include "tests/support/symbol_encoder.h"

namespace ecc200test {

// The decoder's input: the symbol without its top timing row and right timing column, stride cols - 1.
inline std::vector<std::uint8_t> moduleMatrixOf(const testsupport::SymbolMatrix& symbol) {
  std::vector<std::uint8_t> matrix;
  matrix.reserve(static_cast<size_t>(symbol.rows - 1) * (symbol.cols - 1));
  for (int r = 1; r < symbol.rows; ++r) {
    for (int c = 0; c + 1 < symbol.cols; ++c) matrix.push_back(symbol.at(r, c));
  }
  return matrix;
}

inline std::vector<std::uint8_t> bytesOf(const std::string& text) { return {text.begin(), text.end()}; }

// Printable form of a message for failure output.
inline std::string show(const std::vector<std::uint8_t>& bytes) {
  static const char* HEX = "0123456789ABCDEF";
  std::string text;
  for (std::uint8_t byte : bytes) {
    if (byte >= 32 && byte < 127 && byte != '\\') {
      text += static_cast<char>(byte);
    } else {
      text += "\\x";
      text += HEX[byte >> 4];
      text += HEX[byte & 15];
    }
  }
  return text;
}

// Flips the bits of codeword `index` by `pattern` directly in the module matrix.
inline void corruptCodeword(std::vector<std::uint8_t>* matrix, const std::vector<int>& modules, int index,
                            std::uint8_t pattern) {
  for (int bit = 0; bit < 8; ++bit) {
    if (pattern & (0x80 >> bit)) {
      std::uint8_t& module = (*matrix)[static_cast<size_t>(modules[static_cast<size_t>(index) * 8 + bit])];
      module = module ? 0 : 1;
    }
  }
}

// Positions (in the interleaved stream of data and check codewords) of the codewords of block b:
// codeword k belongs to block k mod blockCount.
inline std::vector<int> blockPositions(const Ecc200Symbol& symbol, int block) {
  std::vector<int> positions;
  for (int k = block; k < symbol.dataCodewords + symbol.eccCodewords; k += symbol.blockCount) positions.push_back(k);
  return positions;
}

// A zint symbol (zint follows the standard's 144 x 144 interleaving) of one of the 30 sizes, filled about
// half with random printable text, with the decoder-form matrix and the codeword module map beside it.
struct HalfFullSymbol {
  int rows = 0;
  int cols = 0;
  const Ecc200Symbol* symbol = nullptr;
  std::vector<std::uint8_t> message;
  testsupport::SymbolMatrix encoded;  // empty modules when the encoder refused
  std::vector<std::uint8_t> matrix;   // moduleMatrixOf(encoded)
  std::vector<int> modules;
};

inline HalfFullSymbol makeHalfFullSymbol(int sizeIndex, std::mt19937& random) {
  HalfFullSymbol base;
  std::tie(base.rows, base.cols) = testsupport::ecc200Sizes()[static_cast<size_t>(sizeIndex)];
  base.symbol = findEcc200Symbol(base.cols, base.rows);
  base.message.resize(static_cast<size_t>(std::max(1, base.symbol->dataCodewords / 2)));
  for (std::uint8_t& byte : base.message) byte = static_cast<std::uint8_t>(' ' + random() % 95);
  const auto encoded = testsupport::encodeSymbol(base.message, base.rows, base.cols, testsupport::EncodeScheme::Auto,
                                                 testsupport::EncoderLib::Zint);
  if (encoded) {
    base.encoded = *encoded;
    base.matrix = moduleMatrixOf(base.encoded);
  }
  base.modules = ecc200CodewordModules(*base.symbol);
  return base;
}

// Corrupts `count` distinct codewords of one block with random nonzero patterns.
inline void corruptBlock(const HalfFullSymbol& base, int block, int count, std::vector<std::uint8_t>* matrix,
                         std::mt19937& random) {
  std::vector<int> positions = blockPositions(*base.symbol, block);
  std::shuffle(positions.begin(), positions.end(), random);
  for (int k = 0; k < count && k < static_cast<int>(positions.size()); ++k) {
    corruptCodeword(matrix, base.modules, positions[static_cast<size_t>(k)],
                    static_cast<std::uint8_t>(1 + random() % 255));
  }
}

// One block past capacity (1 to 3 errors more than it can mend), every other block within capacity.
inline void damageBeyondCapacity(const HalfFullSymbol& base, std::vector<std::uint8_t>* matrix, std::mt19937& random) {
  const int capacity = ecc200BlockEccLength(*base.symbol) / 2;
  const int failing = static_cast<int>(random() % static_cast<unsigned>(base.symbol->blockCount));
  for (int b = 0; b < base.symbol->blockCount; ++b) {
    const int errors = b == failing ? capacity + 1 + static_cast<int>(random() % 3)
                                    : static_cast<int>(random() % static_cast<unsigned>(capacity + 1));
    corruptBlock(base, b, errors, matrix, random);
  }
}

}  // namespace ecc200test

#endif  // QUARNEL_TESTS_SUPPORT_ECC200_MATRIX_H_
