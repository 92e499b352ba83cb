// Symbols with more codeword errors than Reed-Solomon can mend in one block, photographed and put through
// the scanner's whole read (the two passes and the second look): a miss is fine, a text that is not the
// symbol's message never is. The symbols and their damage are the ECC 200 decoder's own beyond-capacity
// batch, here as pictures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <opencv2/core/core_c.h>

#include "decoder/decoder.h"
#include "tests/support/ecc200_matrix.h"
#include "tests/support/symbol_encoder.h"
#include "tests/support/symbol_renderer.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr int BATCH_SIZE = 10020;  // 334 per size

using ecc200test::HalfFullSymbol;
using ecc200test::makeHalfFullSymbol;

// The whole symbol again from a decoder-form module matrix: the timing row and column as encoded.
testsupport::SymbolMatrix withTimingEdges(const HalfFullSymbol& base, const Bytes& matrix) {
  testsupport::SymbolMatrix symbol = base.encoded;
  for (int r = 1; r < base.rows; ++r) {
    for (int c = 0; c + 1 < base.cols; ++c) {
      symbol.modules[static_cast<size_t>(r) * base.cols + c] =
          matrix[static_cast<size_t>(r - 1) * (base.cols - 1) + c];
    }
  }
  return symbol;
}

// The batch runs in shards of consecutive trials, so that ctest can spread it over the cores and each
// shard meets every size, angle and blur; every picture has its own seed, so a shard's pictures do not
// depend on the others. Shard 0 is the slice the sanitizer builds run.
constexpr int SHARD_COUNT = 60;
constexpr int SHARD_TRIALS = (BATCH_SIZE + SHARD_COUNT - 1) / SHARD_COUNT;

class BeyondCapacity : public ::testing::TestWithParam<int> {};

TEST_P(BeyondCapacity, WholeReadNeverGivesAWrongText) {
  const int shard = GetParam();
  std::mt19937 baseRandom(2024);
  std::vector<HalfFullSymbol> bases;
  for (int copy = 0; copy < 2; ++copy) {
    for (int size = 0; size < ECC200_SYMBOL_COUNT; ++size) {
      bases.push_back(makeHalfFullSymbol(size, baseRandom));
      ASSERT_FALSE(bases.back().encoded.modules.empty());
    }
  }
  int missed = 0, original = 0, wrong = 0;
  int pictures = 0;
  for (int trial = shard * SHARD_TRIALS; trial < std::min(BATCH_SIZE, (shard + 1) * SHARD_TRIALS); ++trial) {
    ++pictures;
    std::mt19937 random(static_cast<std::uint32_t>(2024 + trial));
    const HalfFullSymbol& base = bases[static_cast<size_t>(trial) % bases.size()];
    Bytes matrix = base.matrix;
    ecc200test::damageBeyondCapacity(base, &matrix, random);

    // Module sizes of 3 to 8.5 pixels, in a square frame just large enough for the symbol and its quiet
    // zone at any angle: rendering, not reading, is what takes the time here.
    testsupport::RenderOptions options;
    const int longest = std::max(base.rows, base.cols);
    options.moduleSize = std::max(3, std::min(8, 480 / (longest + 4))) + 0.25 * (trial % 3);
    options.imageWidth = static_cast<int>((longest + 4) * options.moduleSize * 1.42) + 16;
    options.imageHeight = options.imageWidth;
    options.rotationDeg = (trial * 37) % 360;
    options.blurSigma = 0.4 * (trial % 3);
    options.noiseSigma = 2.0;
    options.seed = static_cast<std::uint32_t>(trial + 1);
    cv::Mat grey = testsupport::renderSymbol(withTimingEdges(base, matrix), options).grey;
    ASSERT_FALSE(grey.empty()) << trial;

    IplImage image = cvIplImage(grey);
    DecodeResult results[DECODE_MAX_RESULTS];
    int count = 0;
    if (scanImage(&image, results, &count) != 0) count = 0;
    const std::string expected(base.message.begin(), base.message.end());
    if (count == 0) ++missed;
    for (int r = 0; r < count; ++r) {
      const std::string text(results[r].text, strnlen(results[r].text, DECODE_TEXT_SIZE));
      if (text == expected) {
        ++original;
      } else {
        ++wrong;
        ADD_FAILURE() << base.cols << "x" << base.rows << " trial " << trial << " read as \"" << text << "\"";
      }
    }
  }
  std::printf("[ beyond capacity, whole read, shard %d ] %d pictures: %d no text, %d read as the original, "
              "%d wrong\n", shard, pictures, missed, original, wrong);
  EXPECT_EQ(wrong, 0);
}

INSTANTIATE_TEST_SUITE_P(Shards, BeyondCapacity, ::testing::Range(0, SHARD_COUNT));

}  // namespace
