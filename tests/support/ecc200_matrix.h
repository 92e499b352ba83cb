// Shared by the ECC 200 decoder tests: encoder symbols as module matrices, codeword corruption.
#ifndef QUARNEL_TESTS_SUPPORT_ECC200_MATRIX_H_
#define QUARNEL_TESTS_SUPPORT_ECC200_MATRIX_H_

#include <cstdint>
#include <random>
#include <string>
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

}  // namespace ecc200test

#endif  // QUARNEL_TESTS_SUPPORT_ECC200_MATRIX_H_
