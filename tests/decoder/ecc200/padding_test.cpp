// Symbols whose encoder wrote other bytes than the randomised pads after the first pad. The plain decoder
// refuses them, as the standard's rule says; a read that allows it accepts them only while Reed-Solomon
// corrected nothing. The symbols are libdmtx's with their pads rewritten and their check codewords made
// again by a small encoder of the tests' own, which is first checked against libdmtx's check codewords.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "decoder/ecc200/ecc200.h"
#include "decoder/ecc200/ecc200_message.h"
#include "tests/support/ecc200_matrix.h"
#include "tests/support/rewritten_padding.h"
#include "tests/support/symbol_encoder.h"

namespace {

using ecc200test::PaddedSymbol;
using ecc200test::symbolWithPadding;
using ecc200test::withCheckCodewords;

TEST(Padding, TheTestsCheckCodewordsAreLibdmtxs) {
  for (const auto& [rows, cols] : testsupport::ecc200Sizes()) {
    if (rows == 144) continue;  // libdmtx interleaves that size its own way
    const auto encoded = testsupport::encodeDmtxWithCodewords(ecc200test::bytesOf("check 0123456789"), rows, cols);
    if (!encoded) continue;
    const Ecc200Symbol* symbol = findEcc200Symbol(cols, rows);
    ASSERT_NE(symbol, nullptr);
    EXPECT_EQ(withCheckCodewords(encoded->codewords, *symbol), encoded->codewords) << rows << "x" << cols;
  }
}

TEST(Padding, OtherPadsAreAcceptedOnlyWhenAskedForAndNothingWasCorrected) {
  const struct {
    const char* text;
    int rows, cols;
    std::uint8_t padding;  // written after the first pad
  } cases[] = {
      {"L7", 12, 12, 129},           // plain pads, unrandomised
      {"LOT 42", 16, 16, 0},         // zero bytes
      {"A1", 8, 32, 129},            // rectangular
      {"ID 7", 22, 22, 254},         // an unlatch value, which ASCII data could never hold
      {"two blocks", 32, 32, 129},   // interleaved blocks
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.text) + " " + std::to_string(c.rows) + "x" + std::to_string(c.cols));
    const PaddedSymbol made = symbolWithPadding(c.text, c.rows, c.cols, c.padding);
    ASSERT_NE(made.symbol, nullptr);
    std::vector<std::uint8_t> message;
    EXPECT_FALSE(decodeEcc200(made.matrix.data(), c.cols, c.rows, &message)) << "the standard's rule holds";

    Ecc200ReadLimits limits;
    Ecc200Message read;
    EXPECT_FALSE(decodeEcc200Message(made.matrix.data(), c.cols, c.rows, limits, &read));
    limits.anyPaddingWhenUncorrected = true;
    ASSERT_TRUE(decodeEcc200Message(made.matrix.data(), c.cols, c.rows, limits, &read));
    EXPECT_EQ(read.bytes, ecc200test::bytesOf(c.text));

    // One stray codeword: Reed-Solomon would mend it, but the pads are then no longer known to be the
    // encoder's own.
    std::vector<std::uint8_t> damaged = made.matrix;
    ecc200test::corruptCodeword(&damaged, ecc200CodewordModules(*made.symbol), 0, 0x5A);
    EXPECT_FALSE(decodeEcc200Message(damaged.data(), c.cols, c.rows, limits, &read));
  }
}

TEST(Padding, StandardPadsReadAsBeforeUnderEitherRule) {
  const auto encoded = testsupport::encodeDmtxWithCodewords(ecc200test::bytesOf("LOT 42"), 16, 16);
  ASSERT_TRUE(encoded);
  std::vector<std::uint8_t> matrix = ecc200test::moduleMatrixOf(encoded->symbol);
  // A damaged codeword too: with the standard's pads the read does not depend on corrections.
  ecc200test::corruptCodeword(&matrix, ecc200CodewordModules(*findEcc200Symbol(16, 16)), 3, 0x81);
  for (const bool anyPadding : {false, true}) {
    Ecc200ReadLimits limits;
    limits.anyPaddingWhenUncorrected = anyPadding;
    Ecc200Message read;
    ASSERT_TRUE(decodeEcc200Message(matrix.data(), 16, 16, limits, &read));
    EXPECT_EQ(read.bytes, ecc200test::bytesOf("LOT 42"));
  }
}

}  // namespace
