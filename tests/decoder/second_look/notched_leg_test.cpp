// Symbols with a notch in one solid finder leg (a scratch, a printing gap, a bite out of the L's edge)
// through the whole read. Symbols come from independent encoders, drawn like camera frames with the notch
// painted in module space; every expected text is the encoder's input.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "decoder/decoder.h"
#include "decoder/second_look/leg_fit.h"
#include "decoder/second_look/pass_leftovers.h"
#include "decoder/second_look/second_look.h"
#include "tests/decoder/second_look/frame_reads.h"
#include "tests/decoder/second_look/located_candidates.h"
#include "tests/support/symbol_encoder.h"
#include "tests/support/symbol_renderer.h"

namespace {

using testsupport::EncoderLib;
using testsupport::SymbolMatrix;

struct NotchedSize {
  int rows;
  int cols;
  EncoderLib lib;
};

// Squares from 10 x 10 to 48 x 48 and the six rectangles, both encoders.
const NotchedSize NOTCHED_SIZES[] = {
    {10, 10, EncoderLib::Dmtx}, {12, 12, EncoderLib::Zint}, {14, 14, EncoderLib::Dmtx}, {16, 16, EncoderLib::Zint},
    {18, 18, EncoderLib::Dmtx}, {20, 20, EncoderLib::Zint}, {22, 22, EncoderLib::Dmtx}, {24, 24, EncoderLib::Zint},
    {26, 26, EncoderLib::Dmtx}, {32, 32, EncoderLib::Zint}, {36, 36, EncoderLib::Dmtx}, {40, 40, EncoderLib::Zint},
    {44, 44, EncoderLib::Dmtx}, {48, 48, EncoderLib::Zint}, {8, 18, EncoderLib::Zint},  {8, 32, EncoderLib::Dmtx},
    {12, 26, EncoderLib::Zint}, {12, 36, EncoderLib::Dmtx}, {16, 36, EncoderLib::Zint}, {16, 48, EncoderLib::Dmtx},
};

enum class Leg { Vertical, Horizontal };

struct NotchedCase {
  std::string name;
  std::string text;
  SymbolMatrix symbol;
  testsupport::RenderOptions options;
  Leg leg = Leg::Vertical;
  double notchDepth = 0.0;   // modules, from the leg's outer edge
  double notchLength = 0.0;  // modules along the leg
  double notchStart = 0.0;   // modules from the leg's outer end (the top, or the left)
};

// The longest text of a mix of letters, digits and punctuation that fits the size, different per seed, so
// that the data area is full rather than padded.
std::optional<std::pair<std::string, SymbolMatrix>> textFor(const NotchedSize& size, std::uint32_t seed) {
  return fillSize("Lot " + std::to_string(seed) + "/B-77 notched leg; ", 200, size.lib, size.rows, size.cols);
}

// A camera-like 640 x 480 frame of NOTCHED_SIZES[sizeIndex]: any angle, 4 to 8 pixels a module where
// that fits, a slight tilt, mild blur and noise, and the notch somewhere along either leg; all drawn from
// the seed.
std::optional<NotchedCase> notchedCase(int sizeIndex, std::uint32_t seed) {
  std::mt19937 random(seed);
  auto uniform = [&random](double low, double high) {
    return std::uniform_real_distribution<double>(low, high)(random);
  };
  const NotchedSize& size = NOTCHED_SIZES[sizeIndex];
  const auto encoded = textFor(size, seed);
  if (!encoded) return std::nullopt;
  NotchedCase c;
  c.text = encoded->first;
  c.symbol = encoded->second;
  testsupport::RenderOptions& options = c.options;
  const double span = std::hypot(size.cols + 4.0, size.rows + 4.0);
  options.moduleSize = std::min(uniform(4.0, 8.0), 440.0 / span);
  options.rotationDeg = uniform(0.0, 360.0);
  options.tiltXDeg = uniform(-6.0, 6.0);
  options.tiltYDeg = uniform(-6.0, 6.0);
  options.blurSigma = uniform(0.4, 0.9);
  options.noiseSigma = uniform(2.0, 5.0);
  options.seed = seed;
  placeAnywhere(&options, span, random);
  c.leg = random() % 2 == 0 ? Leg::Vertical : Leg::Horizontal;
  c.notchDepth = uniform(0.4, 0.6);
  c.notchLength = uniform(1.0, 3.0);
  const int legLength = c.leg == Leg::Vertical ? size.rows : size.cols;
  c.notchStart = uniform(0.0, legLength - c.notchLength);
  char name[160];
  std::snprintf(name, sizeof(name), "%dx%d %s at %.0f deg, %.1f px, notch %.2f x %.1f at %.1f on the %s leg",
                size.rows, size.cols, size.lib == EncoderLib::Dmtx ? "dmtx" : "zint", options.rotationDeg,
                options.moduleSize, c.notchDepth, c.notchLength, c.notchStart,
                c.leg == Leg::Vertical ? "vertical" : "horizontal");
  c.name = name;
  return c;
}

constexpr int NOTCHED_SIZE_COUNT = static_cast<int>(sizeof(NOTCHED_SIZES) / sizeof(NOTCHED_SIZES[0]));

// `count` frames from `firstSeed` on, the sizes in turn.
std::vector<NotchedCase> notchedSet(int count = 30, std::uint32_t firstSeed = 7100) {
  std::vector<NotchedCase> made;
  for (int frame = 0; frame < count; ++frame) {
    std::optional<NotchedCase> c = notchedCase(frame % NOTCHED_SIZE_COUNT, firstSeed + static_cast<std::uint32_t>(frame));
    if (c) made.push_back(std::move(*c));
  }
  return made;
}

// The frame with the notch painted in the symbol's light level; it reaches half a module past the outer
// edge so that no dark rim of the leg is left outside it.
cv::Mat renderNotched(const NotchedCase& c, bool withNotch = true) {
  const testsupport::RenderedSymbol rendered = testsupport::renderSymbol(c.symbol, c.options);
  if (rendered.grey.empty() || !withNotch) return rendered.grey;
  cv::Mat grey = rendered.grey.clone();
  const int rows = c.symbol.rows, cols = c.symbol.cols;
  const cv::Rect2d area = c.leg == Leg::Vertical
                              ? cv::Rect2d(-0.5, c.notchStart, 0.5 + c.notchDepth, c.notchLength)
                              : cv::Rect2d(c.notchStart, rows - c.notchDepth, c.notchLength, 0.5 + c.notchDepth);
  if (!testsupport::occludeModules(grey, rendered.corners, rows, cols, area, c.options.light)) return cv::Mat();
  return grey;
}

// Thirty notched frames: all but three at most read, each with the encoder's text; no frame gives any
// other text.
TEST(NotchedFinderLeg, FramesReadWithTheEncodersText) {
  const std::vector<NotchedCase> cases = notchedSet();
  ASSERT_EQ(cases.size(), 30u);
  int reads = 0;
  for (const NotchedCase& c : cases) {
    const cv::Mat grey = renderNotched(c);
    ASSERT_FALSE(grey.empty()) << c.name;
    const std::vector<std::string> texts = readWhole(grey).texts;
    for (const std::string& text : texts) EXPECT_EQ(text, c.text) << c.name;
    reads += texts == std::vector<std::string>{c.text} ? 1 : 0;
  }
  std::printf("%d of %zu notched frames read\n", reads, cases.size());
  EXPECT_GE(reads, 27);
}

// A notch at the far end of a 12 x 36 symbol's vertical leg: the outline's corner point there lies in the
// notch, three pixels off the leg's edge, and the timing edge found from it does not read. The retry reads
// the symbol from the global pass's candidate through the fitted legs, whose leg end lies on the edge.
TEST(NotchedFinderLeg, RetryReadsThroughTheFittedLegWhereTheNotchMovedTheLegEnd) {
  const std::optional<NotchedCase> c = notchedCase(17, 20097);
  ASSERT_TRUE(c);
  const testsupport::RenderedSymbol rendered = testsupport::renderSymbol(c->symbol, c->options);
  const cv::Mat grey = renderNotched(*c);
  PassLeftovers pass;
  ASSERT_TRUE(globalPassLeftovers(grey, &pass));
  ASSERT_EQ(pass.located.size(), 1u);
  const SymbolCandidate& located = pass.located[0];
  const cv::Point2d trueEnd = rendered.corners.verticalLegEnd, trueVertex = rendered.corners.finderVertex;
  // The leg's outer edge, as a distance from the line through the true vertex and leg end.
  auto offEdge = [&](CvPoint2D32f p) {
    const cv::Point2d along = trueEnd - trueVertex;
    return std::fabs(along.cross(cv::Point2d(p.x, p.y) - trueVertex)) / std::hypot(along.x, along.y);
  };
  EXPECT_GT(offEdge(located.corners[1]), 2.0);

  SymbolCandidate fitted;
  ASSERT_TRUE(fitFinderLegs(pass.binary, located, located.corners[1], located.corners[2], c->options.moduleSize,
                            c->options.moduleSize, &fitted));
  EXPECT_LT(offEdge(fitted.corners[1]), 1.0);
  EXPECT_LT(offEdge(fitted.corners[0]), 1.0);

  DecodedSymbol symbol;
  ASSERT_TRUE(retryCandidate(pass, located, &symbol));
  EXPECT_EQ(std::string(symbol.message.begin(), symbol.message.end()), c->text);
}

// Synthetic binary images of a finder L, 6-pixel bars, its outer corner at (60, 160) and its legs 100
// pixels long, up and to the right; each case paints a notch or a ragged edge and places the located L.
struct LegFitCase {
  const char* name;
  cv::Rect notch;           // light pixels cut from the L; empty for none
  bool raggedLegB;          // leg B's edge alternates by a bar every 6 pixels, as a timing edge does
  cv::Point2f located[3];   // located vertex, leg A end, leg B end
  bool fits;                // fitFinderLegs gives a new L
};

const LegFitCase LEG_FIT_CASES[] = {
    {"legs on their edges add nothing", {}, false, {{60, 160}, {60, 60}, {160, 160}}, false},
    {"a notch at the vertex end of leg A moved the vertex", {60, 140, 3, 21}, false,
     {{63, 160}, {60, 60}, {160, 160}}, true},
    {"a notch at the far end of leg B moved its end", {145, 160 - 2, 16, 3}, false,
     {{60, 160}, {60, 60}, {160, 157}}, true},
    {"a notch midway along leg A leaves the located L as it is", {60, 100, 3, 12}, false,
     {{60, 160}, {60, 60}, {160, 160}}, false},
    {"a ragged leg is no straight leg", {}, true, {{60, 160}, {60, 60}, {160, 160}}, false},
};

void PrintTo(const LegFitCase& c, std::ostream* out) { *out << c.name; }

class LegFit : public testing::TestWithParam<LegFitCase> {};

TEST_P(LegFit, FitsLegsThroughTheirEdgeAndLeavesOutTheNotch) {
  const LegFitCase& c = GetParam();
  cv::Mat binary(240, 240, CV_8UC1, cv::Scalar(0));
  cv::rectangle(binary, cv::Rect(60, 60, 6, 101), cv::Scalar(255), cv::FILLED);   // leg A, up
  cv::rectangle(binary, cv::Rect(60, 155, 101, 6), cv::Scalar(255), cv::FILLED);  // leg B, right
  if (c.raggedLegB) {
    for (int x = 66; x < 160; x += 12) cv::rectangle(binary, cv::Rect(x, 155, 6, 6), cv::Scalar(0), cv::FILLED);
  }
  if (!c.notch.empty()) cv::rectangle(binary, c.notch, cv::Scalar(0), cv::FILLED);
  IplImage image = cvIplImage(binary);
  SymbolCandidate located;
  located.corners[0] = cvPoint2D32f(c.located[0].x, c.located[0].y);
  located.corners[1] = cvPoint2D32f(c.located[1].x, c.located[1].y);
  located.corners[2] = cvPoint2D32f(c.located[2].x, c.located[2].y);
  located.legA = lineThroughPoints(located.corners[0], located.corners[1]);
  located.legB = lineThroughPoints(located.corners[0], located.corners[2]);
  SymbolCandidate fitted;
  ASSERT_EQ(fitFinderLegs(&image, located, located.corners[1], located.corners[2], 6.0, 6.0, &fitted), c.fits);
  if (!c.fits) return;
  // The outer edges are the first dark pixels: x = 60 for leg A, y = 160 for leg B.
  EXPECT_NEAR(fitted.corners[0].x, 60.0, 0.75);
  EXPECT_NEAR(fitted.corners[0].y, 160.0, 0.75);
  EXPECT_NEAR(fitted.corners[1].x, 60.0, 0.75);
  EXPECT_NEAR(fitted.corners[2].y, 160.0, 0.75);
}

INSTANTIATE_TEST_SUITE_P(Cases, LegFit, testing::ValuesIn(LEG_FIT_CASES));

}  // namespace
