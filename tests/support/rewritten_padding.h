// Test-only: libdmtx symbols whose codewords after the first pad are rewritten, as encoders that do not
// randomise their padding write them, with the check codewords made again by a small Reed-Solomon
// encoder of the tests' own (checked against libdmtx's in the padding tests).
#ifndef QUARNEL_TESTS_SUPPORT_REWRITTEN_PADDING_H_
#define QUARNEL_TESTS_SUPPORT_REWRITTEN_PADDING_H_

#include <cstdint>
#include <string>
#include <vector>

#include "decoder/ecc200/ecc200.h"
#include "tests/support/ecc200_matrix.h"
#include "tests/support/symbol_encoder.h"

namespace ecc200test {

// GF(256) over x^8 + x^5 + x^3 + x^2 + 1, the field of the symbol's check codewords.
inline std::uint8_t fieldProduct(std::uint8_t a, std::uint8_t b) {
  int product = 0;
  for (int bit = 0; bit < 8; ++bit) {
    if ((b >> bit) & 1) product ^= a << bit;
  }
  for (int bit = 15; bit >= 8; --bit) {
    if ((product >> bit) & 1) product ^= 0x12D << (bit - 8);
  }
  return static_cast<std::uint8_t>(product);
}

// Check codewords of one block: the remainder of data * x^n by the generator (x - 2)(x - 4)...(x - 2^n).
inline std::vector<std::uint8_t> checkCodewords(const std::vector<std::uint8_t>& data, int count) {
  std::vector<std::uint8_t> generator = {1};
  std::uint8_t root = 1;
  for (int i = 0; i < count; ++i) {
    root = fieldProduct(root, 2);
    std::vector<std::uint8_t> next(generator.size() + 1, 0);
    for (std::size_t k = 0; k < generator.size(); ++k) {
      next[k] ^= generator[k];
      next[k + 1] ^= fieldProduct(generator[k], root);
    }
    generator = next;
  }
  std::vector<std::uint8_t> remainder(static_cast<std::size_t>(count), 0);
  for (const std::uint8_t value : data) {
    const std::uint8_t factor = value ^ remainder[0];
    remainder.erase(remainder.begin());
    remainder.push_back(0);
    for (int k = 0; k < count; ++k) remainder[static_cast<std::size_t>(k)] ^= fieldProduct(factor, generator[k + 1]);
  }
  return remainder;
}

// The interleaved stream with its check codewords made again from its data codewords.
inline std::vector<std::uint8_t> withCheckCodewords(std::vector<std::uint8_t> stream, const Ecc200Symbol& symbol) {
  const int blocks = symbol.blockCount;
  const int eccPerBlock = ecc200BlockEccLength(symbol);
  for (int b = 0; b < blocks; ++b) {
    std::vector<std::uint8_t> data;
    for (int k = b; k < symbol.dataCodewords; k += blocks) data.push_back(stream[static_cast<std::size_t>(k)]);
    const std::vector<std::uint8_t> check = checkCodewords(data, eccPerBlock);
    for (int i = 0; i < eccPerBlock; ++i) {
      stream[static_cast<std::size_t>(symbol.dataCodewords + b + i * blocks)] = check[static_cast<std::size_t>(i)];
    }
  }
  return stream;
}

// The decoder-form matrix holding the stream.
inline std::vector<std::uint8_t> matrixOf(const std::vector<std::uint8_t>& stream, const Ecc200Symbol& symbol,
                                   std::vector<std::uint8_t> matrix) {
  const std::vector<int>& modules = ecc200CodewordModules(symbol);
  for (std::size_t k = 0; k < stream.size(); ++k) {
    for (int bit = 0; bit < 8; ++bit) {
      matrix[static_cast<std::size_t>(modules[k * 8 + static_cast<std::size_t>(bit)])] = (stream[k] >> (7 - bit)) & 1;
    }
  }
  return matrix;
}

struct PaddedSymbol {
  testsupport::SymbolMatrix whole;     // the symbol, finder and timing included
  std::vector<std::uint8_t> matrix;   // moduleMatrixOf(whole)
  const Ecc200Symbol* symbol = nullptr;
  std::vector<std::uint8_t> stream;  // with the rewritten pads and fresh check codewords
};

// A libdmtx symbol of the text whose codewords after the first pad are all `padding`.
inline PaddedSymbol symbolWithPadding(const std::string& text, int rows, int cols, std::uint8_t padding) {
  PaddedSymbol made;
  const auto encoded = testsupport::encodeDmtxWithCodewords(bytesOf(text), rows, cols);
  if (!encoded) return made;
  made.symbol = findEcc200Symbol(cols, rows);
  if (made.symbol == nullptr) return made;
  made.stream = encoded->codewords;
  std::size_t firstPad = 0;
  while (firstPad < static_cast<std::size_t>(made.symbol->dataCodewords) && made.stream[firstPad] != 129) ++firstPad;
  for (std::size_t k = firstPad + 1; k < static_cast<std::size_t>(made.symbol->dataCodewords); ++k) {
    made.stream[k] = padding;
  }
  made.stream = withCheckCodewords(made.stream, *made.symbol);
  made.matrix = matrixOf(made.stream, *made.symbol, moduleMatrixOf(encoded->symbol));
  made.whole = encoded->symbol;
  std::size_t at = 0;
  for (int r = 1; r < rows; ++r) {
    for (int c = 0; c + 1 < cols; ++c) made.whole.modules[static_cast<std::size_t>(r) * cols + c] = made.matrix[at++];
  }
  return made;
}

}  // namespace ecc200test

#endif  // QUARNEL_TESTS_SUPPORT_REWRITTEN_PADDING_H_
