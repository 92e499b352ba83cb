// Module placement: the codewords read from an encoder's symbol are the codewords the encoder placed.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "tests/support/ecc200_matrix.h"

namespace {

using ecc200test::moduleMatrixOf;

class PlacementBySize : public ::testing::TestWithParam<int> {};

// libdmtx reports its codeword stream, so placement (every region layout, the alignment patterns and
// the four corner shapes) is checked against the encoder's own placement, size by size.
TEST_P(PlacementBySize, ReadsTheCodewordsTheEncoderPlaced) {
  const auto [rows, cols] = testsupport::ecc200Sizes()[static_cast<size_t>(GetParam())];
  const Ecc200Symbol* symbol = findEcc200Symbol(cols, rows);
  ASSERT_NE(symbol, nullptr);
  std::mt19937 random(static_cast<std::uint32_t>(rows * 1000 + cols));
  std::vector<std::uint8_t> message(static_cast<size_t>(std::max(1, symbol->dataCodewords / 2)));
  for (std::uint8_t& byte : message) byte = static_cast<std::uint8_t>('A' + random() % 26);

  const auto encoded = testsupport::encodeDmtxWithCodewords(message, rows, cols, testsupport::EncodeScheme::Ascii);
  ASSERT_TRUE(encoded.has_value());
  ASSERT_EQ(static_cast<int>(encoded->codewords.size()), symbol->dataCodewords + symbol->eccCodewords);
  EXPECT_EQ(readEcc200Codewords(moduleMatrixOf(encoded->symbol).data(), *symbol), encoded->codewords);
}

// Every codeword bit has a module of its own.
TEST_P(PlacementBySize, GivesEveryBitADistinctModule) {
  const auto [rows, cols] = testsupport::ecc200Sizes()[static_cast<size_t>(GetParam())];
  const Ecc200Symbol* symbol = findEcc200Symbol(cols, rows);
  ASSERT_NE(symbol, nullptr);
  std::vector<int> modules = ecc200CodewordModules(*symbol);
  ASSERT_EQ(modules.size(), static_cast<size_t>(symbol->dataCodewords + symbol->eccCodewords) * 8);
  std::sort(modules.begin(), modules.end());
  EXPECT_GE(modules.front(), 0);
  EXPECT_LT(modules.back(), (rows - 1) * (cols - 1));
  EXPECT_EQ(std::adjacent_find(modules.begin(), modules.end()), modules.end());
}

std::string sizeName(const ::testing::TestParamInfo<int>& info) {
  const auto [rows, cols] = testsupport::ecc200Sizes()[static_cast<size_t>(info.param)];
  return std::to_string(cols) + "x" + std::to_string(rows);
}

INSTANTIATE_TEST_SUITE_P(AllSizes, PlacementBySize, ::testing::Range(0, 30), sizeName);

TEST(SymbolTable, KnowsExactlyTheThirtySizesAsColumnsByRows) {
  EXPECT_NE(findEcc200Symbol(18, 8), nullptr);
  EXPECT_EQ(findEcc200Symbol(8, 18), nullptr);
  EXPECT_EQ(findEcc200Symbol(28, 28), nullptr);
  EXPECT_EQ(findEcc200Symbol(0, 0), nullptr);
  for (const auto& [rows, cols] : testsupport::ecc200Sizes()) EXPECT_NE(findEcc200Symbol(cols, rows), nullptr);
}

TEST(SymbolTable, Splits144DataUnevenlyOverTenBlocks) {
  const Ecc200Symbol* symbol = findEcc200Symbol(144, 144);
  ASSERT_NE(symbol, nullptr);
  ASSERT_EQ(symbol->blockCount, 10);
  for (int b = 0; b < 8; ++b) EXPECT_EQ(ecc200BlockDataLength(*symbol, b), 156) << b;
  for (int b = 8; b < 10; ++b) EXPECT_EQ(ecc200BlockDataLength(*symbol, b), 155) << b;
  EXPECT_EQ(ecc200BlockEccLength(*symbol), 62);
}

}  // namespace
