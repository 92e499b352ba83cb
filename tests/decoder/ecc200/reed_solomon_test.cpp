// Reed-Solomon correction of single blocks, checked against codewords made by libdmtx.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>

#include "tests/support/ecc200_matrix.h"

namespace {

struct BlockCase {
  int rows;
  int cols;
  int errors;      // codewords to corrupt
  bool atTheEnds;  // corrupt the first and last codewords before any other
};

// Single-block sizes covering odd and even check counts, the smallest block and the largest check count.
const BlockCase BLOCK_CASES[] = {
    {10, 10, 0, false}, {10, 10, 1, true},   {10, 10, 2, false}, {10, 10, 2, true},
    {8, 18, 3, false},  {8, 32, 5, true},    {16, 16, 6, false}, {12, 36, 9, true},
    {48, 48, 34, false}, {48, 48, 34, true}, {48, 48, 1, true},
};

TEST(ReedSolomonBlock, CorrectsUpToHalfTheCheckCodewords) {
  std::mt19937 random(7);
  for (const BlockCase& c : BLOCK_CASES) {
    SCOPED_TRACE(std::to_string(c.cols) + "x" + std::to_string(c.rows) + " errors " + std::to_string(c.errors));
    const Ecc200Symbol* symbol = findEcc200Symbol(c.cols, c.rows);
    ASSERT_NE(symbol, nullptr);
    ASSERT_EQ(symbol->blockCount, 1);
    const auto encoded = testsupport::encodeDmtxWithCodewords(ecc200test::bytesOf("1234"), c.rows, c.cols);
    ASSERT_TRUE(encoded.has_value());
    const std::vector<std::uint8_t>& original = encoded->codewords;
    const int length = static_cast<int>(original.size());

    std::vector<int> positions(static_cast<size_t>(length));
    std::iota(positions.begin(), positions.end(), 0);
    std::shuffle(positions.begin(), positions.end(), random);
    if (c.atTheEnds) {
      std::iter_swap(positions.begin(), std::find(positions.begin(), positions.end(), 0));
      std::iter_swap(positions.begin() + 1, std::find(positions.begin(), positions.end(), length - 1));
    }
    std::vector<std::uint8_t> block = original;
    for (int k = 0; k < c.errors; ++k) block[static_cast<size_t>(positions[static_cast<size_t>(k)])] ^= static_cast<std::uint8_t>(1 + random() % 255);

    EXPECT_EQ(correctReedSolomonBlock(block.data(), length, symbol->eccCodewords), c.errors);
    EXPECT_EQ(block, original);
  }
}

// One error more than the check codewords can mend is refused, not "corrected" into another codeword
// (a miscorrection is possible in principle, but far too rare to meet in this seeded batch).
TEST(ReedSolomonBlock, RefusesBlocksBeyondCapacity) {
  const auto encoded = testsupport::encodeDmtxWithCodewords(ecc200test::bytesOf("12345678901234567890"), 18, 18);
  ASSERT_TRUE(encoded.has_value());
  const std::vector<std::uint8_t>& original = encoded->codewords;
  const int length = static_cast<int>(original.size());
  const int eccLength = 14;
  std::mt19937 random(11);
  int refused = 0;
  const int trials = 2000;
  for (int trial = 0; trial < trials; ++trial) {
    std::vector<int> positions(static_cast<size_t>(length));
    std::iota(positions.begin(), positions.end(), 0);
    std::shuffle(positions.begin(), positions.end(), random);
    std::vector<std::uint8_t> block = original;
    const int errors = eccLength / 2 + 1 + static_cast<int>(random() % 4);
    for (int k = 0; k < errors; ++k) block[static_cast<size_t>(positions[static_cast<size_t>(k)])] ^= static_cast<std::uint8_t>(1 + random() % 255);
    if (correctReedSolomonBlock(block.data(), length, eccLength) < 0) ++refused;
  }
  EXPECT_EQ(refused, trials);
}

TEST(ReedSolomonBlock, RejectsImpossibleBlockShapes) {
  std::vector<std::uint8_t> block(300, 0);
  EXPECT_EQ(correctReedSolomonBlock(nullptr, 8, 5), -1);
  EXPECT_EQ(correctReedSolomonBlock(block.data(), 256, 10), -1);  // longer than GF(256) allows
  EXPECT_EQ(correctReedSolomonBlock(block.data(), 5, 5), -1);     // no data
  EXPECT_EQ(correctReedSolomonBlock(block.data(), 8, 0), -1);
}

// Blocks of a multi-block symbol are interleaved codeword by codeword; errors up to capacity in each
// block of the stream are mended.
TEST(ReedSolomonStream, CorrectsEveryInterleavedBlock) {
  for (const auto& [rows, cols] : {std::make_pair(52, 52), std::make_pair(120, 120), std::make_pair(132, 132)}) {
    SCOPED_TRACE(std::to_string(cols) + "x" + std::to_string(rows));
    const Ecc200Symbol* symbol = findEcc200Symbol(cols, rows);
    ASSERT_NE(symbol, nullptr);
    const auto encoded = testsupport::encodeDmtxWithCodewords(ecc200test::bytesOf("interleaved blocks"), rows, cols);
    ASSERT_TRUE(encoded.has_value());
    std::vector<std::uint8_t> stream = encoded->codewords;
    std::mt19937 random(static_cast<std::uint32_t>(rows));
    for (int b = 0; b < symbol->blockCount; ++b) {
      std::vector<int> positions = ecc200test::blockPositions(*symbol, b);
      std::shuffle(positions.begin(), positions.end(), random);
      for (int k = 0; k < ecc200BlockEccLength(*symbol) / 2; ++k) stream[static_cast<size_t>(positions[static_cast<size_t>(k)])] ^= 0xA5;
    }
    ASSERT_TRUE(correctEcc200Codewords(&stream, *symbol));
    EXPECT_EQ(stream, encoded->codewords);
  }
}

}  // namespace
