// The append of a decoded symbol: only whole messages that fit the text field become results.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "decoder/append.h"
#include "tests/support/symbol_encoder.h"

namespace {

// The upright module matrix the sampler hands over: the symbol without its top row and right column.
std::vector<std::uint8_t> moduleMatrix(const testsupport::SymbolMatrix& symbol) {
  std::vector<std::uint8_t> matrix;
  for (int r = 1; r < symbol.rows; ++r) {
    for (int c = 0; c < symbol.cols - 1; ++c) matrix.push_back(symbol.at(r, c));
  }
  return matrix;
}

struct AppendCase {
  const char* name;
  std::string message;
  int rows, cols;
  testsupport::EncoderLib lib;
  int status;
};

TEST(AppendSymbol, WholeMessagesThatFitBecomeResultsAndEveryReadIsKeptInFull) {
  const AppendCase cases[] = {
      {"plain text", "QUARNEL 0042", 16, 16, testsupport::EncoderLib::Dmtx, APPEND_DONE},
      {"1599 digits fit", std::string(1599, '7'), 104, 104, testsupport::EncoderLib::Dmtx, APPEND_DONE},
      {"1600 digits do not", std::string(1600, '7'), 104, 104, testsupport::EncoderLib::Dmtx, APPEND_DOES_NOT_FIT},
      {"3000 digits in 144 x 144", std::string(3000, '3'), 144, 144, testsupport::EncoderLib::Zint,
       APPEND_DOES_NOT_FIT},
      {"NUL inside", std::string("AB\0CD", 5), 12, 12, testsupport::EncoderLib::Dmtx, APPEND_DOES_NOT_FIT},
  };
  for (const AppendCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<std::uint8_t> bytes(c.message.begin(), c.message.end());
    const auto symbol = testsupport::encodeSymbol(bytes, c.rows, c.cols, testsupport::EncodeScheme::Auto, c.lib);
    ASSERT_TRUE(symbol.has_value());
    const std::vector<std::uint8_t> matrix = moduleMatrix(*symbol);

    SymbolDecoder ctx;
    std::vector<DecodedSymbol> full;
    ctx.fullMessages = &full;
    ctx.resultCount = 2;
    std::memset(ctx.results[2].text, 'x', sizeof(ctx.results[2].text));
    ctx.results[2].corners[0] = cvPoint(11, 22);

    EXPECT_EQ(appendSymbol(&ctx, matrix.data(), c.cols, c.rows), c.status);
    ASSERT_EQ(full.size(), 1u);
    EXPECT_EQ(full[0].message, bytes);
    EXPECT_EQ(full[0].corners[0].x, 11);
    if (c.status == APPEND_DONE) {
      EXPECT_EQ(ctx.resultCount, 3);
      EXPECT_EQ(std::string(ctx.results[2].text), c.message);
    } else {
      EXPECT_EQ(ctx.resultCount, 2);  // never typed cut short
    }
  }
}

TEST(AppendSymbol, UnreadableMatrixAppendsNothing) {
  const auto symbol = testsupport::encodeSymbol("READABLE", 14, 14);
  ASSERT_TRUE(symbol.has_value());
  std::vector<std::uint8_t> matrix = moduleMatrix(*symbol);
  // Invert every data module: far beyond what error correction mends.
  for (int r = 0; r < 12; ++r) {
    for (int c = 1; c < 13; ++c) matrix[r * 13 + c] ^= 1;
  }
  SymbolDecoder ctx;
  std::vector<DecodedSymbol> full;
  ctx.fullMessages = &full;
  EXPECT_EQ(appendSymbol(&ctx, matrix.data(), 14, 14), APPEND_UNREADABLE);
  EXPECT_EQ(ctx.resultCount, 0);
  EXPECT_TRUE(full.empty());
}

}  // namespace
