// Codeword errors in whole symbols: mended up to capacity in every block, never a wrong text beyond.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>

#include "tests/support/ecc200_matrix.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct BaseSymbol {
  int rows;
  int cols;
  const Ecc200Symbol* symbol;
  Bytes message;
  Bytes matrix;
  std::vector<int> modules;
};

// Zint symbols (it follows the standard's 144 x 144 interleaving) with a random message filling
// about half the size.
BaseSymbol makeBase(int sizeIndex, std::mt19937& random) {
  const auto [rows, cols] = testsupport::ecc200Sizes()[static_cast<size_t>(sizeIndex)];
  BaseSymbol base{rows, cols, findEcc200Symbol(cols, rows), {}, {}, {}};
  base.message.resize(static_cast<size_t>(std::max(1, base.symbol->dataCodewords / 2)));
  for (std::uint8_t& byte : base.message) byte = static_cast<std::uint8_t>(' ' + random() % 95);
  const auto encoded = testsupport::encodeSymbol(base.message, rows, cols, testsupport::EncodeScheme::Auto,
                                                 testsupport::EncoderLib::Zint);
  if (encoded) base.matrix = ecc200test::moduleMatrixOf(*encoded);
  base.modules = ecc200CodewordModules(*base.symbol);
  return base;
}

// Corrupts `count` distinct codewords of one block with random nonzero patterns.
void corruptBlock(const BaseSymbol& base, int block, int count, Bytes* matrix, std::mt19937& random) {
  std::vector<int> positions = ecc200test::blockPositions(*base.symbol, block);
  std::shuffle(positions.begin(), positions.end(), random);
  for (int k = 0; k < count && k < static_cast<int>(positions.size()); ++k) {
    ecc200test::corruptCodeword(matrix, base.modules, positions[static_cast<size_t>(k)],
                                static_cast<std::uint8_t>(1 + random() % 255));
  }
}

class ErrorsBySize : public ::testing::TestWithParam<int> {};

TEST_P(ErrorsBySize, MendsFullCapacityInEveryBlock) {
  std::mt19937 random(static_cast<std::uint32_t>(100 + GetParam()));
  const BaseSymbol base = makeBase(GetParam(), random);
  ASSERT_FALSE(base.matrix.empty());
  const int capacity = ecc200BlockEccLength(*base.symbol) / 2;
  for (int trial = 0; trial < 3; ++trial) {
    Bytes matrix = base.matrix;
    for (int b = 0; b < base.symbol->blockCount; ++b) corruptBlock(base, b, capacity, &matrix, random);
    Bytes decoded;
    ASSERT_TRUE(decodeEcc200(matrix.data(), base.cols, base.rows, &decoded)) << "trial " << trial;
    EXPECT_EQ(decoded, base.message);
  }
}

std::string sizeName(const ::testing::TestParamInfo<int>& info) {
  const auto [rows, cols] = testsupport::ecc200Sizes()[static_cast<size_t>(info.param)];
  return std::to_string(cols) + "x" + std::to_string(rows);
}

// Modules that were never a symbol (noise, a wrong grid) are refused, whatever their size.
TEST_P(ErrorsBySize, RefusesRandomModules) {
  const auto [rows, cols] = testsupport::ecc200Sizes()[static_cast<size_t>(GetParam())];
  std::mt19937 random(static_cast<std::uint32_t>(300 + GetParam()));
  for (int trial = 0; trial < 20; ++trial) {
    Bytes matrix(static_cast<size_t>(rows - 1) * (cols - 1));
    for (std::uint8_t& module : matrix) module = static_cast<std::uint8_t>(random() & 1);
    Bytes decoded;
    EXPECT_FALSE(decodeEcc200(matrix.data(), cols, rows, &decoded)) << ecc200test::show(decoded);
  }
}

INSTANTIATE_TEST_SUITE_P(AllSizes, ErrorsBySize, ::testing::Range(0, 30), sizeName);

// One block past capacity (1 to 3 errors more than it can mend), the other blocks within capacity:
// the symbol must be refused, never read as some other text.
TEST(ErrorsBeyondCapacity, NeverYieldAWrongText) {
  std::mt19937 random(2024);
  std::vector<BaseSymbol> bases;
  for (int copy = 0; copy < 2; ++copy) {
    for (int size = 0; size < ECC200_SYMBOL_COUNT; ++size) {
      bases.push_back(makeBase(size, random));
      ASSERT_FALSE(bases.back().matrix.empty());
    }
  }
  const int trials = 10020;  // 334 per size
  int refused = 0;
  int original = 0;
  int wrong = 0;
  for (int trial = 0; trial < trials; ++trial) {
    const BaseSymbol& base = bases[static_cast<size_t>(trial) % bases.size()];
    const int capacity = ecc200BlockEccLength(*base.symbol) / 2;
    const int failing = static_cast<int>(random() % static_cast<unsigned>(base.symbol->blockCount));
    Bytes matrix = base.matrix;
    for (int b = 0; b < base.symbol->blockCount; ++b) {
      const int errors = b == failing ? capacity + 1 + static_cast<int>(random() % 3)
                                      : static_cast<int>(random() % static_cast<unsigned>(capacity + 1));
      corruptBlock(base, b, errors, &matrix, random);
    }
    Bytes decoded;
    if (!decodeEcc200(matrix.data(), base.cols, base.rows, &decoded)) {
      ++refused;
    } else if (decoded == base.message) {
      ++original;
    } else {
      ++wrong;
      ADD_FAILURE() << base.cols << "x" << base.rows << " trial " << trial << " read as "
                    << ecc200test::show(decoded);
    }
  }
  std::printf("[ beyond capacity ] %d symbols: %d refused, %d read as the original, %d wrong\n", trials,
              refused, original, wrong);
  EXPECT_EQ(wrong, 0);
}

}  // namespace
