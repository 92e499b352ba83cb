// Flattened light: symbols crossed by a hard shadow edge (a hand, a lamp) through the whole read.
// Symbols come from independent encoders and are drawn like camera frames, the shadow cast before the
// noise; every expected text is the encoder's input.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include "decoder/decoder.h"
#include "decoder/second_look/flattened_light.h"
#include "tests/decoder/second_look/frame_reads.h"
#include "tests/support/shadow_edge.h"
#include "tests/support/symbol_encoder.h"
#include "tests/support/symbol_renderer.h"

namespace {

using testsupport::EncoderLib;
using testsupport::SymbolMatrix;

// --- The shadow itself ---

struct ShadowPixelCase {
  const char* name;
  double angleDeg;
  cv::Point probe;  // a pixel well away from the line through the image centre
  bool shaded;      // on the walk's left
};

// The line runs through (100, 80) of a 200 x 160 image; y grows downward, angles turn clockwise.
const ShadowPixelCase SHADOW_PIXEL_CASES[] = {
    {"walking right, above is left", 0.0, {100, 40}, true},
    {"walking right, below is right", 0.0, {100, 120}, false},
    {"walking down, the image's right is left", 90.0, {150, 80}, true},
    {"walking down, the image's left is right", 90.0, {50, 80}, false},
    {"walking left, below is left", 180.0, {100, 120}, true},
    {"walking up and right at 45, the top left is left", -45.0, {60, 40}, true},
    {"walking up and right at 45, the bottom right is right", -45.0, {140, 120}, false},
};

TEST(CastShadowEdge, ShadesTheSideLeftOfTheWalk) {
  for (const ShadowPixelCase& c : SHADOW_PIXEL_CASES) {
    cv::Mat grey(160, 200, CV_8UC1, cv::Scalar(200));
    testsupport::castShadowEdge(grey, {100.0, 80.0}, c.angleDeg, 0.4, 0.0);
    EXPECT_EQ(grey.at<std::uint8_t>(c.probe), c.shaded ? 80 : 200) << c.name;
  }
}

TEST(CastShadowEdge, RampsTheEdgeOverTheSoftness) {
  for (const double softness : {0.0, 1.0, 3.0, 6.0}) {
    cv::Mat grey(40, 100, CV_8UC1, cv::Scalar(200));
    testsupport::castShadowEdge(grey, {50.0, 20.0}, 90.0, 0.5, softness);  // shade on the right
    int ramped = 0;
    for (int x = 0; x < grey.cols; ++x) {
      const int level = grey.at<std::uint8_t>(20, x);
      EXPECT_LE(level, x == 0 ? 200 : grey.at<std::uint8_t>(20, x - 1)) << "softness " << softness << " at " << x;
      ramped += level > 100 && level < 200 ? 1 : 0;
    }
    EXPECT_LE(ramped, static_cast<int>(std::max(softness, 1.0)) + 1) << "softness " << softness;
    EXPECT_GE(ramped, static_cast<int>(softness) - 1) << "softness " << softness;
  }
}

TEST(CastShadowEdge, LeavesOtherImagesAlone) {
  cv::Mat colour(10, 10, CV_8UC3, cv::Scalar(200, 200, 200));
  testsupport::castShadowEdge(colour, {5.0, 5.0}, 0.0, 0.5, 0.0);
  EXPECT_EQ(cv::countNonZero(colour.reshape(1) != 200), 0);
}

// --- The frame set ---

struct ShadowCase {
  std::string name;
  std::string text;
  SymbolMatrix symbol;
  testsupport::RenderOptions options;  // noise 0: the noise goes on after the shadow
  double noiseSigma = 0.0;
  cv::Point2d through;
  double angleDeg = 0.0;
  double shade = 1.0;
  double softnessPx = 0.0;
};

struct SizeCase {
  EncoderLib lib;
  int rows;
  int cols;
};

// Squares from 10 x 10 to 64 x 64 and rectangles, from both encoders.
const SizeCase SIZES[] = {
    {EncoderLib::Dmtx, 10, 10}, {EncoderLib::Zint, 12, 12}, {EncoderLib::Dmtx, 14, 14}, {EncoderLib::Zint, 16, 16},
    {EncoderLib::Dmtx, 18, 18}, {EncoderLib::Zint, 20, 20}, {EncoderLib::Dmtx, 22, 22}, {EncoderLib::Zint, 24, 24},
    {EncoderLib::Dmtx, 26, 26}, {EncoderLib::Zint, 32, 32}, {EncoderLib::Dmtx, 36, 36}, {EncoderLib::Zint, 40, 40},
    {EncoderLib::Dmtx, 44, 44}, {EncoderLib::Zint, 48, 48}, {EncoderLib::Dmtx, 52, 52}, {EncoderLib::Zint, 64, 64},
    {EncoderLib::Dmtx, 8, 18},  {EncoderLib::Zint, 8, 32},  {EncoderLib::Dmtx, 12, 26}, {EncoderLib::Zint, 12, 36},
    {EncoderLib::Dmtx, 16, 36}, {EncoderLib::Zint, 16, 48}, {EncoderLib::Dmtx, 10, 10}, {EncoderLib::Zint, 14, 14},
    {EncoderLib::Dmtx, 20, 20}, {EncoderLib::Zint, 26, 26}, {EncoderLib::Dmtx, 32, 32}, {EncoderLib::Zint, 8, 18},
    {EncoderLib::Dmtx, 12, 36}, {EncoderLib::Zint, 44, 44},
};

// A text of letters, digits and punctuation that fills most of the size, different for every case.
std::optional<std::pair<std::string, SymbolMatrix>> textFor(EncoderLib lib, int rows, int cols, int seed) {
  return fillSize("Shade/Label " + std::to_string(seed * 37 + 11) + "-lamp, hand; ", 200, lib, rows, cols);
}

// A camera-like 640 x 480 frame: a module size that fits, the symbol anywhere, any rotation, a slight
// tilt and blur; the shadow's line through the symbol at any angle and offset, shade 0.35 to 0.6,
// softness 0 to 3 pixels; mild noise.
std::vector<ShadowCase> shadowSet() {
  std::vector<ShadowCase> made;
  std::uint32_t seed = 500;
  for (const SizeCase& size : SIZES) {
    ++seed;
    std::mt19937 random(seed);
    auto uniform = [&random](double low, double high) {
      return std::uniform_real_distribution<double>(low, high)(random);
    };
    const auto encoded = textFor(size.lib, size.rows, size.cols, static_cast<int>(seed));
    if (!encoded) continue;
    ShadowCase c;
    c.text = encoded->first;
    c.symbol = encoded->second;
    testsupport::RenderOptions& options = c.options;
    const double span = std::hypot(size.cols + 4.0, size.rows + 4.0);
    options.moduleSize = std::min(uniform(3.5, 7.0), 420.0 / span);
    options.rotationDeg = uniform(0.0, 360.0);
    options.tiltXDeg = uniform(-8.0, 8.0);
    options.tiltYDeg = uniform(-8.0, 8.0);
    options.blurSigma = uniform(0.4, 0.9);
    options.noiseSigma = 0.0;
    options.seed = seed;
    placeAnywhere(&options, span, random);
    c.noiseSigma = uniform(2.0, 5.0);
    // Through the symbol: within a third of its half-extent of its centre, along any direction.
    const double halfExtent = 0.5 * std::min(size.rows, size.cols) * options.moduleSize;
    const double offset = uniform(-0.6, 0.6) * halfExtent, offsetAngle = uniform(0.0, 2.0 * CV_PI);
    c.through = {options.centreX + offset * std::cos(offsetAngle), options.centreY + offset * std::sin(offsetAngle)};
    c.angleDeg = uniform(0.0, 360.0);
    c.shade = uniform(0.35, 0.6);
    c.softnessPx = uniform(0.0, 3.0);
    char name[160];
    std::snprintf(name, sizeof(name), "%s %dx%d, %.1f px a module, shade %.2f at %.0f deg, softness %.1f px",
                  size.lib == EncoderLib::Dmtx ? "libdmtx" : "zint", size.rows, size.cols, options.moduleSize,
                  c.shade, c.angleDeg, c.softnessPx);
    c.name = name;
    made.push_back(std::move(c));
  }
  return made;
}

void addNoise(cv::Mat& grey, double sigma, std::uint32_t seed) {
  cv::Mat noise(grey.size(), CV_32F);
  cv::RNG rng(seed);
  rng.fill(noise, cv::RNG::NORMAL, 0.0, sigma);
  cv::Mat withNoise;
  grey.convertTo(withNoise, CV_32F);
  withNoise += noise;
  withNoise.convertTo(grey, CV_8U);
}

cv::Mat renderShadowed(const ShadowCase& c, bool withShadow) {
  cv::Mat grey = testsupport::renderSymbol(c.symbol, c.options).grey;
  if (grey.empty()) return grey;
  if (withShadow) testsupport::castShadowEdge(grey, c.through, c.angleDeg, c.shade, c.softnessPx);
  addNoise(grey, c.noiseSigma, c.options.seed);
  return grey;
}

// Thirty frames with a shadow edge through the symbol: all but three at most read, with the encoder's
// text; no frame gives any other. The reads the steps before this look make are the count without it.
TEST(FlattenedLight, ShadowedFramesReadWithTheEncodersText) {
  const std::vector<ShadowCase> cases = shadowSet();
  ASSERT_EQ(cases.size(), 30u);
  int reads = 0, readsBefore = 0;
  for (const ShadowCase& c : cases) {
    const cv::Mat grey = renderShadowed(c, true);
    ASSERT_FALSE(grey.empty()) << c.name;
    const WholeRead read = readWhole(grey);
    for (const std::string& text : read.texts) EXPECT_EQ(text, c.text) << c.name;
    if (read.texts != std::vector<std::string>{c.text}) {
      std::printf("  not read: %s\n", c.name.c_str());
      continue;
    }
    ++reads;
    if (read.readBy != SCAN_READ_IN_FLATTENED_LIGHT) ++readsBefore;
  }
  std::printf("shadow edges: %d of %zu frames read, %d of them without flattened light\n", reads, cases.size(),
              readsBefore);
  EXPECT_GE(reads, 27);
}

// The same frames without the shadow read as before, by the passes and the second look, not by this look.
TEST(FlattenedLight, UnshadowedFramesReadAsBefore) {
  for (const ShadowCase& c : shadowSet()) {
    const WholeRead read = readWhole(renderShadowed(c, false));
    EXPECT_EQ(read.texts, std::vector<std::string>{c.text}) << c.name;
    EXPECT_NE(read.readBy, SCAN_READ_IN_FLATTENED_LIGHT) << c.name;
  }
}

// The scanner takes the look in its turn: a shadowed frame that only this look reads is read then.
TEST(FlattenedLight, TheScannerReadsAShadowedFrameInTheLooksTurn) {
  int tried = 0;
  for (const ShadowCase& c : shadowSet()) {
    const cv::Mat grey = renderShadowed(c, true);
    if (readWhole(grey).readBy != SCAN_READ_IN_FLATTENED_LIGHT) continue;
    ++tried;
    cv::Mat copy = grey.clone();
    IplImage ipl = cvIplImage(copy);
    DecodeResult results[DECODE_MAX_RESULTS];
    int count = 0;
    ScanStep readBy = SCAN_NOTHING_READ;
    ASSERT_EQ(scanImage(&ipl, results, &count, &readBy, nullptr, 0), 0);
    ASSERT_EQ(count, 1) << c.name;
    EXPECT_EQ(std::string(results[0].text), c.text) << c.name;
    EXPECT_EQ(readBy, SCAN_READ_IN_FLATTENED_LIGHT) << c.name;
    if (tried == 3) break;
  }
  EXPECT_EQ(tried, 3);
}

// Finder and timing edges around random modules, and clutter alone, under a shadow edge: nothing reads.
TEST(FlattenedLight, ShadowedDecoysAndClutterGiveNoText) {
  std::mt19937 random(11);
  auto uniform = [&random](double low, double high) {
    return std::uniform_real_distribution<double>(low, high)(random);
  };
  const std::pair<int, int> DECOY_SIZES[] = {{10, 10}, {16, 16}, {12, 26}, {22, 22}, {16, 48}, {32, 32}, {0, 0}};
  for (const auto& [rows, cols] : DECOY_SIZES) {
    for (int frame = 0; frame < 4; ++frame) {
      const SymbolMatrix decoy =
          rows > 0 ? decoyMatrix(rows, cols, random) : SymbolMatrix{12, 12, std::vector<std::uint8_t>(12 * 12, 0)};
      testsupport::RenderOptions options;
      options.moduleSize = std::min(uniform(3.5, 7.0), 380.0 / std::hypot(decoy.rows + 4.0, decoy.cols + 4.0));
      options.rotationDeg = uniform(0.0, 360.0);
      options.blurSigma = 0.6;
      options.clutter = 12;
      options.seed = static_cast<std::uint32_t>(random());
      cv::Mat grey = testsupport::renderSymbol(decoy, options).grey;  // a blank 12 x 12 where only clutter shows
      ASSERT_FALSE(grey.empty());
      testsupport::castShadowEdge(grey, {uniform(260.0, 380.0), uniform(180.0, 300.0)}, uniform(0.0, 360.0),
                                  uniform(0.35, 0.6), uniform(0.0, 3.0));
      addNoise(grey, 4.0, options.seed);
      EXPECT_TRUE(readWhole(grey).texts.empty()) << rows << "x" << cols << " decoy, frame " << frame;
    }
  }
}

// --- The white estimate ---

// Paper under a hard or soft shadow edge at any angle, meeting the frame's edges at a slant, stays
// lighter than halfway between ink and paper on both sides right up to the edge: no band along it that
// would join the modules on either side.
TEST(FlattenLight, PaperUnderAShadowEdgeFlattensToPaperUpToTheEdge) {
  for (const double angle : {0.0, 33.0, 90.0, 141.0, 200.0, 300.0}) {
    for (const double softness : {0.0, 3.0}) {
      for (const double shade : {0.35, 0.6}) {
        cv::Mat grey(240, 320, CV_8UC1, cv::Scalar(210));
        testsupport::castShadowEdge(grey, {157.0, 121.0}, angle, shade, softness);
        IplImage ipl = cvIplImage(grey);
        IplImage* flat = flattenLight(&ipl);
        ASSERT_NE(flat, nullptr);
        double lowest = 255.0;
        cvMinMaxLoc(flat, &lowest, nullptr);
        cvReleaseImage(&flat);
        EXPECT_GE(lowest, 140.0) << "angle " << angle << ", softness " << softness << ", shade " << shade;
      }
    }
  }
}

// Ink keeps its share of the paper's light on both sides of the edge.
TEST(FlattenLight, InkStaysDarkOnBothSidesOfTheEdge) {
  cv::Mat grey(240, 320, CV_8UC1, cv::Scalar(210));
  for (int x = 20; x < 300; x += 24) grey(cv::Rect(x, 60, 6, 120)).setTo(30);
  testsupport::castShadowEdge(grey, {160.0, 120.0}, 90.0, 0.4, 1.0);  // shade on the right half
  IplImage ipl = cvIplImage(grey);
  IplImage* flatImage = flattenLight(&ipl);
  ASSERT_NE(flatImage, nullptr);
  const cv::Mat flat = cv::cvarrToMat(flatImage).clone();
  cvReleaseImage(&flatImage);
  for (int x = 20; x < 300; x += 24) {
    EXPECT_LE(flat.at<std::uint8_t>(120, x + 3), 110) << "bar at " << x;
    EXPECT_GE(flat.at<std::uint8_t>(120, x + 14), 180) << "paper after the bar at " << x;
  }
}

TEST(FlattenLight, RefusesAnImageTooSmallToReduce) {
  cv::Mat grey(20, 200, CV_8UC1, cv::Scalar(200));
  IplImage ipl = cvIplImage(grey);
  EXPECT_EQ(flattenLight(&ipl), nullptr);
  EXPECT_FALSE(hasShadowEdgeNearInk(&ipl));
}

// The cheap test that lets most frames skip the look: a shadow edge beside ink, not a shadow on bare
// paper, nor ink in even light, nor a black object's edge.
TEST(ShadowEdgeNearInk, TellsAShadowAcrossALabelFromOtherLightSteps) {
  const ShadowCase c = shadowSet().front();
  const cv::Mat shadowedSymbol = renderShadowed(c, true);
  const cv::Mat evenSymbol = renderShadowed(c, false);
  cv::Mat bareShadow(480, 640, CV_8UC1, cv::Scalar(200));
  testsupport::castShadowEdge(bareShadow, {320.0, 240.0}, 30.0, 0.4, 1.0);
  cv::Mat blackObject(480, 640, CV_8UC1, cv::Scalar(200));
  blackObject(cv::Rect(200, 100, 240, 280)).setTo(25);
  struct Case {
    const char* name;
    cv::Mat grey;
    bool expected;
  };
  const Case CASES[] = {{"a shadow edge across a symbol", shadowedSymbol, true},
                        {"the symbol in even light", evenSymbol, false},
                        {"a shadow edge on bare paper", bareShadow, false},
                        {"a black object on paper", blackObject, false}};
  for (const Case& k : CASES) {
    cv::Mat copy = k.grey.clone();
    IplImage ipl = cvIplImage(copy);
    EXPECT_EQ(hasShadowEdgeNearInk(&ipl), k.expected) << k.name;
  }
}

}  // namespace
