// Codeword errors in whole symbols: mended up to capacity in every block, never a wrong text beyond.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>

#include "tests/support/ecc200_matrix.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

using ecc200test::HalfFullSymbol;
using ecc200test::makeHalfFullSymbol;

class ErrorsBySize : public ::testing::TestWithParam<int> {};

TEST_P(ErrorsBySize, MendsFullCapacityInEveryBlock) {
  std::mt19937 random(static_cast<std::uint32_t>(100 + GetParam()));
  const HalfFullSymbol base = makeHalfFullSymbol(GetParam(), random);
  ASSERT_FALSE(base.matrix.empty());
  const int capacity = ecc200BlockEccLength(*base.symbol) / 2;
  for (int trial = 0; trial < 3; ++trial) {
    Bytes matrix = base.matrix;
    for (int b = 0; b < base.symbol->blockCount; ++b) {
      ecc200test::corruptBlock(base, b, capacity, &matrix, random);
    }
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
  std::vector<HalfFullSymbol> bases;
  for (int copy = 0; copy < 2; ++copy) {
    for (int size = 0; size < ECC200_SYMBOL_COUNT; ++size) {
      bases.push_back(makeHalfFullSymbol(size, random));
      ASSERT_FALSE(bases.back().matrix.empty());
    }
  }
  const int trials = 10020;  // 334 per size
  int refused = 0;
  int original = 0;
  int wrong = 0;
  for (int trial = 0; trial < trials; ++trial) {
    const HalfFullSymbol& base = bases[static_cast<size_t>(trial) % bases.size()];
    Bytes matrix = base.matrix;
    ecc200test::damageBeyondCapacity(base, &matrix, random);
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
