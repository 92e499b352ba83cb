// Dot-peened and ink-jet symbols: each dark module a round dot with light between neighbouring dots. The
// frames come from the test renderer's dot marking of symbols from independent encoders; every expected
// text is the encoder's input.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include "decoder/decoder.h"
#include "decoder/second_look/dot_symbols.h"
#include "decoder/second_look/pass_leftovers.h"
#include "tests/decoder/second_look/frame_reads.h"
#include "tests/decoder/second_look/located_candidates.h"
#include "tests/support/dot_marking.h"
#include "tests/support/symbol_encoder.h"
#include "tests/support/symbol_renderer.h"

namespace {

using testsupport::EncoderLib;
using testsupport::RenderOptions;
using testsupport::SymbolMatrix;

struct DotFrame {
  std::string text;
  SymbolMatrix symbol;
  RenderOptions options;
  double dotShare = 0.0;
  std::string name;
};

// The longest text of a fixed mix that the encoder fits in rows x cols, so the data area is full.
std::optional<std::pair<std::string, SymbolMatrix>> fillSize(int rows, int cols, EncoderLib lib, std::mt19937* rng) {
  static const char CHARACTERS[] = "ABCDEFGHJKLMNPQRSTUVWXYZ0123456789abcdefghijkmnopqrstuvwxyz-/.: ";
  std::string source;
  for (int i = 0; i < 200; ++i) source += CHARACTERS[(*rng)() % (sizeof CHARACTERS - 1)];
  for (int length = 120; length >= 1; --length) {
    const std::string text = source.substr(0, length);
    std::optional<SymbolMatrix> symbol =
        testsupport::encodeSymbol(text, rows, cols, testsupport::EncodeScheme::Auto, lib);
    if (symbol && symbol->rows == rows && symbol->cols == cols) return std::make_pair(text, *symbol);
  }
  return std::nullopt;
}

// Frame k of the set: 640 x 480, a symbol anywhere in it at one of several angles, mild blur and noise, dots
// of 0.6 to 0.85 of a module across, modules of 4 to 10 pixels (as large as the frame allows at the angle).
std::optional<DotFrame> dotFrame(int k) {
  const std::pair<int, int> SIZES[] = {{10, 10}, {12, 12}, {14, 14}, {16, 16}, {18, 18}, {20, 20}, {22, 22}, {24, 24},
                                       {26, 26}, {32, 32}, {8, 32},  {12, 26}, {12, 36}, {16, 36}, {16, 48}};
  const double ANGLES[] = {0.0, 8.0, 23.0, 45.0, 90.0, 137.0, 180.0, 212.0, 270.0, 333.0};
  std::mt19937 rng(7919u * static_cast<unsigned>(k) + 17u);
  const auto [rows, cols] = SIZES[k % 15];
  const EncoderLib lib = k % 2 == 0 ? EncoderLib::Dmtx : EncoderLib::Zint;
  const auto filled = fillSize(rows, cols, lib, &rng);
  if (!filled) return std::nullopt;
  DotFrame frame;
  frame.text = filled->first;
  frame.symbol = filled->second;
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  RenderOptions& options = frame.options;
  options.rotationDeg = ANGLES[rng() % 10] + 4.0 * unit(rng);
  const double r = options.rotationDeg * CV_PI / 180.0;
  const double across = cols + 2.0 * options.quietZone, down = rows + 2.0 * options.quietZone;
  const double boxWidth = std::abs(across * std::cos(r)) + std::abs(down * std::sin(r));
  const double boxHeight = std::abs(across * std::sin(r)) + std::abs(down * std::cos(r));
  const double largest = std::min({10.0, 620.0 / boxWidth, 460.0 / boxHeight});
  options.moduleSize = 4.0 + (largest - 4.0) * unit(rng);
  const double halfWidth = boxWidth * options.moduleSize / 2.0, halfHeight = boxHeight * options.moduleSize / 2.0;
  options.centreX = halfWidth + (640.0 - 2.0 * halfWidth) * unit(rng);
  options.centreY = halfHeight + (480.0 - 2.0 * halfHeight) * unit(rng);
  options.blurSigma = 0.4 + 0.6 * unit(rng);
  options.noiseSigma = 2.0 + 3.0 * unit(rng);
  options.clutter = static_cast<int>(rng() % 4);
  options.seed = static_cast<std::uint32_t>(k + 1);
  frame.dotShare = 0.6 + 0.25 * unit(rng);
  char name[160];
  std::snprintf(name, sizeof name, "frame %d: %dx%d %s, %.1f px, %.0f deg, dots %.2f", k, rows, cols,
                lib == EncoderLib::Dmtx ? "dmtx" : "zint", options.moduleSize, options.rotationDeg, frame.dotShare);
  frame.name = name;
  return frame;
}

// Two sets of thirty frames; the second, drawn by the same rules from other seeds, checks that the first
// was not the only one the step fits.
struct FrameSet {
  int firstFrame;
  int frames;
};
const FrameSet DOT_SETS[] = {{0, 30}, {30, 30}};
constexpr int MIN_READS_PER_SET = 25;

TEST(DotSymbolRead, DotMarkedFramesReadWithNoWrongText) {
  for (const FrameSet& set : DOT_SETS) {
    int readBefore = 0, readJoined = 0, wrong = 0;
    for (int k = set.firstFrame; k < set.firstFrame + set.frames; ++k) {
      const std::optional<DotFrame> frame = dotFrame(k);
      ASSERT_TRUE(frame) << k;
      const testsupport::RenderedSymbol rendered =
          testsupport::renderDotSymbol(frame->symbol, frame->options, frame->dotShare);
      ASSERT_FALSE(rendered.grey.empty()) << frame->name;
      const WholeRead read = readWhole(rendered.grey);
      for (const std::string& text : read.texts) wrong += text == frame->text ? 0 : 1;
      const bool readRight = read.texts == std::vector<std::string>{frame->text};
      if (readRight) ++(read.readBy == SCAN_READ_BY_JOINED_DOTS ? readJoined : readBefore);
      if (!readRight) std::printf("missed %s\n", frame->name.c_str());
    }
    // The steps before the joined dots read what they read without it: the two counts are the read rate
    // without the step and with it.
    std::printf("frames %d to %d: %d read before the joined dots, %d in all\n", set.firstFrame,
                set.firstFrame + set.frames - 1, readBefore, readBefore + readJoined);
    EXPECT_GE(readBefore + readJoined, MIN_READS_PER_SET) << "frames from " << set.firstFrame;
    EXPECT_EQ(wrong, 0) << "frames from " << set.firstFrame;
  }
}

// The same frames with plain square modules: the passes and the second look read them, never this step
// (there are no dots to join).
TEST(DotSymbolRead, SquareModuleFramesReadAsBefore) {
  for (int k = 0; k < 30; ++k) {
    const std::optional<DotFrame> frame = dotFrame(k);
    ASSERT_TRUE(frame) << k;
    const testsupport::RenderedSymbol rendered = testsupport::renderSymbol(frame->symbol, frame->options);
    ASSERT_FALSE(rendered.grey.empty()) << frame->name;
    const WholeRead read = readWhole(rendered.grey);
    EXPECT_EQ(read.texts, std::vector<std::string>{frame->text}) << frame->name;
    EXPECT_NE(read.readBy, SCAN_READ_BY_JOINED_DOTS) << frame->name;
  }
}

// The field's measures from its blobs: the pitch is the module size and the dot narrower than it.
TEST(DotSymbolField, PitchAndDotWidthFollowTheMarking) {
  struct Case {
    double modulePixels;
    double dotShare;
    double rotationDeg;
  };
  const Case CASES[] = {{4.5, 0.65, 0.0}, {6.0, 0.7, 20.0}, {8.0, 0.6, 45.0}, {10.0, 0.8, 110.0}};
  const std::optional<SymbolMatrix> symbol = testsupport::encodeSymbol("DOT-PEEN 0042/77", 18, 18);
  ASSERT_TRUE(symbol);
  for (const Case& c : CASES) {
    RenderOptions options;
    options.moduleSize = c.modulePixels;
    options.rotationDeg = c.rotationDeg;
    options.blurSigma = 0.6;
    options.noiseSigma = 3.0;
    const testsupport::RenderedSymbol rendered = testsupport::renderDotSymbol(*symbol, options, c.dotShare);
    ASSERT_FALSE(rendered.grey.empty());
    PassLeftovers pass;
    ASSERT_TRUE(globalPassLeftovers(rendered.grey, &pass));
    cv::Mat copy = rendered.grey.clone();
    IplImage grey = cvIplImage(copy);
    const std::vector<DotField> fields = findDotFields(pass.binary, &grey, 3);
    ASSERT_EQ(fields.size(), 1u) << c.modulePixels;
    EXPECT_NEAR(fields[0].pitch, c.modulePixels, 0.2 * c.modulePixels) << c.modulePixels;
    EXPECT_LT(fields[0].dotWidth, fields[0].pitch) << c.modulePixels;
    EXPECT_NEAR(fields[0].dotWidth, c.dotShare * c.modulePixels, 1.5) << c.modulePixels;
    // The field covers the symbol's centre.
    const cv::Point2d centre = testsupport::moduleToImage(rendered.corners, 18, 18, {9.0, 9.0});
    EXPECT_TRUE(centre.x > fields[0].box.x && centre.x < fields[0].box.x + fields[0].box.width &&
                centre.y > fields[0].box.y && centre.y < fields[0].box.y + fields[0].box.height)
        << c.modulePixels;
  }
}

// Frames with dots, or small marks, that are no symbol: a dot grid full or at random, a halftone and
// printed text. The step may look at them but returns nothing.
cv::Mat dotGridDecoy(bool random) {
  SymbolMatrix grid{24, 24, std::vector<std::uint8_t>(24 * 24, 1)};
  std::mt19937 rng(5);
  if (random) {
    for (std::uint8_t& module : grid.modules) module = rng() % 2;
  }
  RenderOptions options;
  options.moduleSize = 7.0;
  options.rotationDeg = 12.0;
  options.blurSigma = 0.6;
  options.noiseSigma = 3.0;
  return testsupport::renderDotSymbol(grid, options, 0.7).grey;
}

cv::Mat halftoneDecoy() {
  cv::Mat grey(480, 640, CV_8UC1, cv::Scalar(210));
  for (int y = 40; y < 440; y += 8) {
    for (int x = 60; x < 580; x += 8) {
      const double tone = 0.5 + 0.5 * std::sin(x / 53.0) * std::cos(y / 41.0);
      const int radius = static_cast<int>(std::lround(1.0 + 2.5 * tone));
      cv::circle(grey, {x + (y / 8 % 2) * 4, y}, radius, cv::Scalar(40), cv::FILLED, cv::LINE_AA);
    }
  }
  cv::GaussianBlur(grey, grey, cv::Size(0, 0), 0.7);
  return grey;
}

cv::Mat textDecoy() {
  cv::Mat grey(480, 640, CV_8UC1, cv::Scalar(225));
  const char* LINES[] = {"LOT 4471-B  EXP 2027/03", "SN: 0x5F3A 99812 QC PASSED", "....:::: oooo 8888 ....",
                         "Made in a small shop, batch 17", "o o o o o o o o o o o o o o"};
  int y = 60;
  for (const char* line : LINES) {
    for (const double scale : {0.5, 0.8}) {
      cv::putText(grey, line, {30, y}, cv::FONT_HERSHEY_SIMPLEX, scale, cv::Scalar(35), 1, cv::LINE_AA);
      y += 42;
    }
  }
  return grey;
}

TEST(DotSymbolRead, DotsThatAreNoSymbolGiveNothing) {
  struct Decoy {
    const char* name;
    cv::Mat grey;
  };
  const Decoy DECOYS[] = {{"full dot grid", dotGridDecoy(false)},
                          {"random dot grid", dotGridDecoy(true)},
                          {"halftone", halftoneDecoy()},
                          {"printed text", textDecoy()}};
  for (const Decoy& decoy : DECOYS) {
    ASSERT_FALSE(decoy.grey.empty()) << decoy.name;
    const WholeRead read = readWhole(decoy.grey);
    EXPECT_TRUE(read.texts.empty()) << decoy.name;
    EXPECT_EQ(read.readBy, SCAN_NOTHING_READ) << decoy.name;
  }
  // The dot grids are fields the step does look at: nothing came out because nothing there reads.
  for (const bool random : {false, true}) {
    const cv::Mat grey = dotGridDecoy(random);
    PassLeftovers pass;
    ASSERT_TRUE(globalPassLeftovers(grey, &pass));
    cv::Mat copy = grey.clone();
    IplImage ipl = cvIplImage(copy);
    EXPECT_EQ(findDotFields(pass.binary, &ipl, 3).size(), 1u) << (random ? "random" : "full");
  }
}

// A frame of noise and no ink has no field to look at.
TEST(DotSymbolField, PlainNoiseHasNoField) {
  cv::Mat grey(480, 640, CV_8UC1);
  cv::RNG rng(3);
  rng.fill(grey, cv::RNG::NORMAL, 150.0, 8.0);
  PassLeftovers pass;
  ASSERT_TRUE(globalPassLeftovers(grey, &pass));
  IplImage ipl = cvIplImage(grey);
  EXPECT_TRUE(findDotFields(pass.binary, &ipl, 3).empty());
}

}  // namespace
