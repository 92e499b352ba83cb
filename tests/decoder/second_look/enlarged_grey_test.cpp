// Small soft modules through the whole read: 8-row symbols at 2 pixels a module and blurred 40 x 40 symbols
// at 2.3 to 2.75, which the frame's threshold spoils, read from the grey picture enlarged. Symbols come from
// Zint and are drawn like camera frames; every expected text is the encoder's input, every corner the
// renderer's.
#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include "decoder/decoder.h"
#include "decoder/second_look/enlarged_grey.h"
#include "decoder/second_look/pass_leftovers.h"
#include "decoder/decoder_internal.h"
#include "tests/decoder/second_look/frame_reads.h"
#include "tests/decoder/second_look/small_soft_sets.h"
#include "tests/support/symbol_encoder.h"
#include "tests/support/symbol_renderer.h"

namespace {

using smallsoft::SoftFrame;

struct SoftSet {
  const char* name;
  std::vector<SoftFrame> (*make)();
};

void PrintTo(const SoftSet& set, std::ostream* out) { *out << set.name; }

const SoftSet SOFT_SETS[] = {
    {"EightRowsAtTwoPixels", [] { return smallsoft::eightRowFrames(2.0, 0.0, 20.0, 1000); }},
    {"EightRowsAtTwoToTwoAndAHalfPixels", [] { return smallsoft::eightRowFrames(2.0, 0.5, 20.0, 2000); }},
    {"BlurredSquareAtTwoAndAHalfPixels", [] { return smallsoft::blurredSquareFrames(40, 2.5, 0.0, 1.0, 3000); }},
    {"BlurredSquareAtTwoPointThreeToTwoPointSevenFive",
     [] { return smallsoft::blurredSquareFrames(40, 2.3, 0.45, 1.0, 4000); }},
};

class SmallSoftSet : public testing::TestWithParam<SoftSet> {};

// Thirty frames of a set: all but three at most read, each with the encoder's text and at the symbol's
// corners; no frame gives any other text.
TEST_P(SmallSoftSet, FramesReadWithTheEncodersTextAtTheSymbolsCorners) {
  const std::vector<SoftFrame> frames = GetParam().make();
  ASSERT_EQ(frames.size(), 30u);
  int reads = 0, enlarged = 0;
  for (const SoftFrame& frame : frames) {
    const testsupport::RenderedSymbol rendered = testsupport::renderSymbol(frame.symbol, frame.options);
    ASSERT_FALSE(rendered.grey.empty()) << frame.name;
    const WholeRead read = readWhole(rendered.grey);
    for (const std::string& text : read.texts) EXPECT_EQ(text, frame.text) << frame.name;
    if (read.texts != std::vector<std::string>{frame.text}) continue;
    ++reads;
    enlarged += read.readBy == SCAN_READ_FROM_ENLARGED_GREY ? 1 : 0;
    EXPECT_TRUE(outlineFits(read.symbols[0].corners, rendered.corners, 1.5 * frame.options.moduleSize + 2.0))
        << frame.name;
  }
  std::printf("%s: %d of %zu frames read, %d from the enlarged grey picture\n", GetParam().name, reads,
              frames.size(), enlarged);
  EXPECT_GE(reads, 27) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(EverySet, SmallSoftSet, testing::ValuesIn(SOFT_SETS),
                         [](const testing::TestParamInfo<SoftSet>& info) { return std::string(info.param.name); });

std::vector<EnlargedRegion> regionsOf(const cv::Mat& grey) {
  PassLeftovers passes[2];
  const ScanPass scanPasses[2] = {SCAN_GLOBAL_PASS, SCAN_ADAPTIVE_PASS};
  for (int p = 0; p < 2; ++p) {
    cv::Mat copy = grey.clone();
    IplImage ipl = cvIplImage(copy);
    EXPECT_EQ(runDecoder(&ipl, scanPasses[p].threshold, scanPasses[p].flags, nullptr, nullptr, nullptr, nullptr,
                         &passes[p]),
              0);
  }
  cv::Mat copy = grey.clone();
  IplImage ipl0 = cvIplImage(copy);
  return findSmallModuleRegions(&ipl0, passes, 2, {});
}

bool inside(const CvRect& area, cv::Point2d p) {
  return p.x >= area.x && p.y >= area.y && p.x <= area.x + area.width && p.y <= area.y + area.height;
}

struct RegionCase {
  const char* name;
  int rows, cols;
  bool dmre;
  double modulePixels;
  double blurSigma;
  double rotationDeg;
  bool marked;  // a region of small modules holds the whole symbol
};

const RegionCase REGION_CASES[] = {
    {"8x32 at 2 px, turned", 8, 32, false, 2.0, 0.4, 33.0, true},
    {"8x144 at 2 px, upright", 8, 144, true, 2.0, 0.4, 0.0, true},
    {"8x64 at 1.8 px, on end", 8, 64, true, 1.8, 0.4, 90.0, true},
    {"40x40 at 2.5 px, blurred", 40, 40, false, 2.5, 1.0, 21.0, true},
    {"8x32 at 6 px: large modules", 8, 32, false, 6.0, 0.4, 33.0, false},
    {"40x40 at 6 px: large modules", 40, 40, false, 6.0, 1.0, 21.0, false},
};

// Symbols of small modules are marked whole, with their quiet zone; those of large modules, which the
// frame's threshold keeps, never are.
TEST(SmallModuleRegions, MarkSmallModulesAndNotLargeOnes) {
  for (const RegionCase& c : REGION_CASES) {
    testsupport::ZintFeatures features;
    features.dmre = c.dmre;
    const std::string text = "REGION 42";
    const auto symbol =
        testsupport::encodeZintSymbol(std::vector<std::uint8_t>(text.begin(), text.end()), c.rows, c.cols, features);
    ASSERT_TRUE(symbol) << c.name;
    testsupport::RenderOptions options;
    options.moduleSize = c.modulePixels;
    options.blurSigma = c.blurSigma;
    options.rotationDeg = c.rotationDeg;
    options.noiseSigma = 3.0;
    const testsupport::RenderedSymbol rendered = testsupport::renderSymbol(*symbol, options);
    ASSERT_FALSE(rendered.grey.empty()) << c.name;
    int holding = 0;
    for (const EnlargedRegion& region : regionsOf(rendered.grey)) {
      const testsupport::SymbolCorners& k = rendered.corners;
      if (inside(region.area, k.finderVertex) && inside(region.area, k.verticalLegEnd) &&
          inside(region.area, k.timingCorner) && inside(region.area, k.horizontalLegEnd)) {
        ++holding;
        EXPECT_GE(region.scale, 2.0) << c.name;
        EXPECT_LE(region.scale, 3.0) << c.name;
      }
    }
    EXPECT_EQ(holding, c.marked ? 1 : 0) << c.name;
  }
}

// Finder and timing edges around random modules at small, soft module sizes, among clutter: nothing reads.
TEST(SmallSoftDecoys, GiveNoText) {
  std::mt19937 random(11);
  const std::pair<int, int> SIZES[] = {{8, 32}, {8, 64}, {8, 18}, {40, 40}, {24, 24}};
  for (const auto& [rows, cols] : SIZES) {
    for (int i = 0; i < 6; ++i) {
      const testsupport::SymbolMatrix decoy = decoyMatrix(rows, cols, random);
      testsupport::RenderOptions options;
      options.moduleSize = 2.0 + 0.15 * i;
      options.blurSigma = rows == 8 ? 0.4 : 1.0;
      options.rotationDeg = 37.0 * i;
      options.tiltXDeg = 3.0 * i - 8.0;
      options.noiseSigma = 3.0;
      options.clutter = 10;
      options.seed = static_cast<std::uint32_t>(random());
      const testsupport::RenderedSymbol rendered = testsupport::renderSymbol(decoy, options);
      ASSERT_FALSE(rendered.grey.empty());
      EXPECT_TRUE(readWhole(rendered.grey).symbols.empty()) << rows << "x" << cols << " decoy, frame " << i;
    }
  }
}

}  // namespace
