// The symbol renderer: its reported corners, orientation, clutter placement, determinism and failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "tests/support/symbol_renderer.h"

namespace {

using testsupport::moduleToImage;
using testsupport::PlacedSymbol;
using testsupport::RenderedSymbol;
using testsupport::RenderOptions;
using testsupport::renderSymbol;
using testsupport::SymbolCorners;
using testsupport::SymbolMatrix;

// A symbol-like pattern with no symmetry: solid left column and bottom row, dotted top row and right
// column, and a scrambled interior.
SymbolMatrix makePattern(int rows, int cols) {
  SymbolMatrix symbol{rows, cols, std::vector<std::uint8_t>(static_cast<size_t>(rows) * cols)};
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < cols; ++c) {
      std::uint8_t dark;
      if (c == 0 || r == rows - 1) {
        dark = 1;
      } else if (r == 0) {
        dark = c % 2 == 0;
      } else if (c == cols - 1) {
        dark = (rows - 1 - r) % 2 == 0;
      } else {
        dark = ((r * 7 + c * 13 + r * c) % 5) < 2;
      }
      symbol.modules[static_cast<size_t>(r) * cols + c] = dark;
    }
  }
  return symbol;
}

RenderOptions cleanOptions() {
  RenderOptions options;
  options.dark = 30;
  options.light = 220;
  options.background = 150;
  return options;
}

double bilinear(const cv::Mat& grey, cv::Point2d p) {
  const int x0 = static_cast<int>(std::floor(p.x)), y0 = static_cast<int>(std::floor(p.y));
  const double fx = p.x - x0, fy = p.y - y0;
  auto at = [&](int x, int y) {
    return static_cast<double>(grey.at<std::uint8_t>(std::clamp(y, 0, grey.rows - 1), std::clamp(x, 0, grey.cols - 1)));
  };
  return (1 - fy) * ((1 - fx) * at(x0, y0) + fx * at(x0 + 1, y0)) + fy * ((1 - fx) * at(x0, y0 + 1) + fx * at(x0 + 1, y0 + 1));
}

// Where a light-to-dark step lies along a run of pixels: with area coverage, the light share of the pixels
// adds up to the distance from the run's outer pixel edge to the step. `first` is fully light, the last
// pixel of the run fully dark; `step` is +1 or -1 along x or y.
double stepEdge(const cv::Mat& grey, cv::Point first, cv::Point step, int length, double dark, double light) {
  double lightShare = 0;
  for (int i = 0; i < length; ++i) {
    const cv::Point p = first + i * step;
    lightShare += (grey.at<std::uint8_t>(p) - dark) / (light - dark);
  }
  const double outerEdge = (step.x != 0 ? first.x : first.y) - 0.5 * (step.x + step.y);
  return outerEdge + (step.x + step.y) * lightShare;
}

// Every module of the symbol and of its quiet zone shows its own level at its centre, as mapped through the
// reported corners; the corners also keep the upright symbol's handedness (no mirror image).
void expectModulesAtReportedCorners(const cv::Mat& grey, const SymbolMatrix& symbol, const SymbolCorners& corners,
                                    const RenderOptions& options, const std::string& label) {
  const cv::Point2d up = corners.verticalLegEnd - corners.finderVertex;
  const cv::Point2d right = corners.horizontalLegEnd - corners.finderVertex;
  EXPECT_GT(up.x * right.y - up.y * right.x, 0.0) << label << ": corners are mirrored";
  const double tolerance = 0.3 * (options.light - options.dark);
  int wrong = 0;
  for (int r = -options.quietZone; r < symbol.rows + options.quietZone; ++r) {
    for (int c = -options.quietZone; c < symbol.cols + options.quietZone; ++c) {
      const bool inside = r >= 0 && r < symbol.rows && c >= 0 && c < symbol.cols;
      const double expected = inside && symbol.at(r, c) ? options.dark : options.light;
      const cv::Point2d centre = moduleToImage(corners, symbol.rows, symbol.cols, {c + 0.5, r + 0.5});
      if (std::abs(bilinear(grey, centre) - expected) > tolerance && ++wrong <= 5) {
        ADD_FAILURE() << label << ": module (" << r << ", " << c << ") at " << centre << " reads "
                      << bilinear(grey, centre) << ", expected " << expected;
      }
    }
  }
  EXPECT_EQ(wrong, 0) << label;
}

TEST(RendererGeometry, AxisAlignedEdgesLandOnTheReportedCorners) {
  struct Case { double moduleSize, centreX, centreY; };
  const Case cases[] = {{6.0, 319.5, 239.5}, {4.5, 200.3, 150.7}, {7.3, 311.25, 244.8}, {3.0, 100.1, 90.9}};
  const SymbolMatrix symbol = makePattern(12, 16);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "module " << c.moduleSize << " centre " << c.centreX << ", " << c.centreY);
    RenderOptions options = cleanOptions();
    options.moduleSize = c.moduleSize;
    options.centreX = c.centreX;
    options.centreY = c.centreY;
    const RenderedSymbol rendered = renderSymbol(symbol, options);
    ASSERT_FALSE(rendered.grey.empty());
    ASSERT_EQ(rendered.grey.type(), CV_8UC1);
    ASSERT_EQ(rendered.grey.size(), cv::Size(640, 480));

    const double left = c.centreX - 8 * c.moduleSize, right = c.centreX + 8 * c.moduleSize;
    const double top = c.centreY - 6 * c.moduleSize, bottom = c.centreY + 6 * c.moduleSize;
    const SymbolCorners& k = rendered.corners;
    EXPECT_NEAR(k.finderVertex.x, left, 1e-9);
    EXPECT_NEAR(k.finderVertex.y, bottom, 1e-9);
    EXPECT_NEAR(k.verticalLegEnd.x, left, 1e-9);
    EXPECT_NEAR(k.verticalLegEnd.y, top, 1e-9);
    EXPECT_NEAR(k.horizontalLegEnd.x, right, 1e-9);
    EXPECT_NEAR(k.horizontalLegEnd.y, bottom, 1e-9);
    EXPECT_NEAR(k.timingCorner.x, right, 1e-9);
    EXPECT_NEAR(k.timingCorner.y, top, 1e-9);

    // The finder's outer edges measured in the image: the left edge on a row through the middle, the
    // bottom edge on a column through the middle. Area coverage puts them within a twelfth of a pixel.
    const int midRow = static_cast<int>(std::round(c.centreY));
    const int midCol = static_cast<int>(std::round(c.centreX));
    const int leftPixel = static_cast<int>(std::floor(left));
    const int bottomPixel = static_cast<int>(std::ceil(bottom));
    EXPECT_NEAR(stepEdge(rendered.grey, {leftPixel - 2, midRow}, {1, 0}, 5, options.dark, options.light), left, 0.1);
    EXPECT_NEAR(stepEdge(rendered.grey, {midCol, bottomPixel + 2}, {0, -1}, 5, options.dark, options.light), bottom,
                0.1);

    // Wholly covered pixels carry the exact levels.
    EXPECT_EQ(rendered.grey.at<std::uint8_t>(midRow, leftPixel + 2), options.dark);
    EXPECT_EQ(rendered.grey.at<std::uint8_t>(midRow, leftPixel - 2), options.light);
    EXPECT_EQ(rendered.grey.at<std::uint8_t>(0, 0), options.background);
  }
}

TEST(RendererGeometry, ModuleCentresMatchTheReportedCornersUnderRotationAndTilt) {
  struct Case { double rotation, tiltX, tiltY, moduleSize; };
  const Case cases[] = {
      {0, 0, 0, 5},       {30, 0, 0, 5},       {90, 10, 0, 5},     {137, 20, 0, 6},   {180, 0, -25, 5},
      {211, -30, 15, 6},  {270, 0, 30, 5},     {300, 25, 25, 6},   {359.5, -20, -20, 5}, {-45, 30, -30, 6},
      {405, 15, -10, 4},  {12.3, 0, 0, 3.2},
  };
  const SymbolMatrix symbol = makePattern(14, 18);
  for (const Case& c : cases) {
    RenderOptions options = cleanOptions();
    options.rotationDeg = c.rotation;
    options.tiltXDeg = c.tiltX;
    options.tiltYDeg = c.tiltY;
    options.moduleSize = c.moduleSize;
    options.centreX = 300.7;
    options.centreY = 230.2;
    const RenderedSymbol rendered = renderSymbol(symbol, options);
    ASSERT_FALSE(rendered.grey.empty());
    expectModulesAtReportedCorners(rendered.grey, symbol, rendered.corners, options,
                                   "rotation " + std::to_string(c.rotation) + " tilt " + std::to_string(c.tiltX) +
                                       "/" + std::to_string(c.tiltY));
  }
}

// Tilt is perspective, not an affine shear: the edge turned away comes out shorter than the near one.
TEST(RendererGeometry, TiltShortensTheFarEdge) {
  const SymbolMatrix symbol = makePattern(16, 16);
  RenderOptions options = cleanOptions();
  options.tiltXDeg = 30;
  RenderedSymbol rendered = renderSymbol(symbol, options);
  ASSERT_FALSE(rendered.grey.empty());
  const SymbolCorners& x = rendered.corners;
  // Positive tilt about the vertical axis turns the right edge away.
  EXPECT_LT(cv::norm(x.timingCorner - x.horizontalLegEnd), 0.97 * cv::norm(x.verticalLegEnd - x.finderVertex));

  options.tiltXDeg = 0;
  options.tiltYDeg = 30;
  rendered = renderSymbol(symbol, options);
  ASSERT_FALSE(rendered.grey.empty());
  const SymbolCorners& y = rendered.corners;
  // Positive tilt about the horizontal axis turns the top edge away.
  EXPECT_LT(cv::norm(y.timingCorner - y.verticalLegEnd), 0.97 * cv::norm(y.horizontalLegEnd - y.finderVertex));
}

TEST(RendererGeometry, RotationTurnsClockwiseOnScreen) {
  // A 10 x 10 symbol of 8-pixel modules centred in a 200 x 200 image spans pixels 60 to 139 on both axes.
  enum Edge { Left, Top, Right, Bottom };
  struct Case { double rotation; Edge solidA, solidB; cv::Point2d finderVertex; };
  const Case cases[] = {
      {0, Left, Bottom, {59.5, 139.5}},
      {90, Top, Left, {59.5, 59.5}},
      {180, Right, Top, {139.5, 59.5}},
      {270, Bottom, Right, {139.5, 139.5}},
  };
  const SymbolMatrix symbol = makePattern(10, 10);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "rotation " << c.rotation);
    RenderOptions options = cleanOptions();
    options.imageWidth = options.imageHeight = 200;
    options.moduleSize = 8;
    options.rotationDeg = c.rotation;
    const RenderedSymbol rendered = renderSymbol(symbol, options);
    ASSERT_FALSE(rendered.grey.empty());
    EXPECT_NEAR(rendered.corners.finderVertex.x, c.finderVertex.x, 1e-6);
    EXPECT_NEAR(rendered.corners.finderVertex.y, c.finderVertex.y, 1e-6);
    for (Edge edge : {Left, Top, Right, Bottom}) {
      int darkCount = 0;
      for (int k = 0; k < 10; ++k) {
        const int along = 60 + 8 * k + 4, across = edge == Left || edge == Top ? 64 : 135;
        const cv::Point p = edge == Left || edge == Right ? cv::Point(across, along) : cv::Point(along, across);
        darkCount += rendered.grey.at<std::uint8_t>(p) < 125;
      }
      const bool solid = edge == c.solidA || edge == c.solidB;
      EXPECT_EQ(darkCount, solid ? 10 : 5) << "edge " << edge;
    }
  }
}

// The quiet zone's outline in the image, widened by `margin` pixels.
cv::Mat quietZoneMask(const RenderedSymbol& rendered, const SymbolMatrix& symbol, int quietZone, int margin) {
  std::vector<cv::Point> outline;
  const double q = quietZone;
  for (cv::Point2d m : {cv::Point2d(-q, -q), cv::Point2d(symbol.cols + q, -q), cv::Point2d(symbol.cols + q, symbol.rows + q),
                        cv::Point2d(-q, symbol.rows + q)}) {
    const cv::Point2d p = moduleToImage(rendered.corners, symbol.rows, symbol.cols, m);
    outline.emplace_back(cvRound(p.x), cvRound(p.y));
  }
  cv::Mat mask(rendered.grey.size(), CV_8UC1, cv::Scalar(0));
  cv::fillConvexPoly(mask, outline, cv::Scalar(255));
  cv::dilate(mask, mask, cv::getStructuringElement(cv::MORPH_ELLIPSE, cv::Size(2 * margin + 1, 2 * margin + 1)));
  return mask;
}

TEST(RendererClutter, MarksKeepOffTheSymbolAndItsQuietZone) {
  struct Case { double rotation, tilt, blur, noise, uneven; std::uint32_t seed; int quietZone; };
  const Case cases[] = {
      {0, 0, 0, 0, 0, 1, 2},     {33, 20, 0, 0, 0, 2, 1},    {120, -25, 1.3, 0, 0, 3, 2},
      {250, 10, 0.7, 6, 0.4, 4, 0}, {315, 0, 2.0, 3, 0.2, 5, 3},
  };
  const SymbolMatrix symbol = makePattern(20, 20);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "seed " << c.seed);
    RenderOptions options = cleanOptions();
    options.rotationDeg = c.rotation;
    options.tiltXDeg = c.tilt;
    options.blurSigma = c.blur;
    options.noiseSigma = c.noise;
    options.unevenLight = c.uneven;
    options.quietZone = c.quietZone;
    options.seed = c.seed;
    const RenderedSymbol plain = renderSymbol(symbol, options);
    options.clutter = 200;
    const RenderedSymbol cluttered = renderSymbol(symbol, options);
    ASSERT_FALSE(plain.grey.empty());
    ASSERT_FALSE(cluttered.grey.empty());

    cv::Mat changed;
    cv::compare(plain.grey, cluttered.grey, changed, cv::CMP_NE);
    EXPECT_GT(cv::countNonZero(changed), 5000) << "clutter was drawn";
    cv::Mat changedNearSymbol;
    cv::bitwise_and(changed, quietZoneMask(cluttered, symbol, c.quietZone, 2), changedNearSymbol);
    EXPECT_EQ(cv::countNonZero(changedNearSymbol), 0);
  }
}

TEST(RendererDeterminism, TheSeedAloneDecidesClutterLightAndNoise) {
  const SymbolMatrix symbol = makePattern(16, 16);
  RenderOptions options = cleanOptions();
  options.rotationDeg = 17;
  options.tiltYDeg = 12;
  options.blurSigma = 0.8;
  options.noiseSigma = 5;
  options.unevenLight = 0.3;
  options.clutter = 30;
  options.seed = 7;
  const RenderedSymbol first = renderSymbol(symbol, options);
  const RenderedSymbol again = renderSymbol(symbol, options);
  ASSERT_FALSE(first.grey.empty());
  ASSERT_FALSE(again.grey.empty());
  EXPECT_EQ(cv::norm(first.grey, again.grey, cv::NORM_INF), 0.0);

  // Another seed changes the scene but not where the symbol is.
  options.seed = 8;
  const RenderedSymbol other = renderSymbol(symbol, options);
  ASSERT_FALSE(other.grey.empty());
  cv::Mat changed;
  cv::compare(first.grey, other.grey, changed, cv::CMP_NE);
  EXPECT_GT(cv::countNonZero(changed), first.grey.total() / 2);
  EXPECT_EQ(other.corners.finderVertex, first.corners.finderVertex);
  EXPECT_EQ(other.corners.timingCorner, first.corners.timingCorner);

  // Neighbouring seeds give different clutter even without noise or light.
  options.noiseSigma = 0;
  options.unevenLight = 0;
  options.seed = 1;
  const RenderedSymbol seedOne = renderSymbol(symbol, options);
  options.seed = 2;
  const RenderedSymbol seedTwo = renderSymbol(symbol, options);
  EXPECT_GT(cv::norm(seedOne.grey, seedTwo.grey, cv::NORM_L1), 0.0);
}

TEST(RendererScene, NoiseAndUnevenLightHaveTheirStrength) {
  const SymbolMatrix symbol = makePattern(10, 10);
  RenderOptions options = cleanOptions();
  options.background = 200;
  options.centreX = 560;
  options.centreY = 400;
  options.noiseSigma = 8;
  RenderedSymbol rendered = renderSymbol(symbol, options);
  ASSERT_FALSE(rendered.grey.empty());
  cv::Scalar mean, deviation;
  cv::meanStdDev(rendered.grey(cv::Rect(20, 20, 200, 200)), mean, deviation);
  EXPECT_NEAR(mean[0], 200, 1.0);
  EXPECT_NEAR(deviation[0], 8, 0.5);

  // Light falls by the given share from the brightest to the darkest corner of the image.
  options.noiseSigma = 0;
  options.unevenLight = 0.4;
  for (std::uint32_t seed : {1u, 2u, 3u}) {
    options.seed = seed;
    rendered = renderSymbol(symbol, options);
    ASSERT_FALSE(rendered.grey.empty());
    // A linear fall is brightest and darkest at corners of the image, whichever its direction.
    std::vector<int> cornerLevels;
    for (cv::Point corner : {cv::Point(0, 0), cv::Point(639, 0), cv::Point(0, 479), cv::Point(639, 479)}) {
      cornerLevels.push_back(rendered.grey.at<std::uint8_t>(corner));
    }
    EXPECT_EQ(*std::max_element(cornerLevels.begin(), cornerLevels.end()), 200) << "seed " << seed;
    EXPECT_NEAR(*std::min_element(cornerLevels.begin(), cornerLevels.end()), 120, 1) << "seed " << seed;
  }
}

TEST(RendererScene, SeveralSymbolsLandAtTheirOwnCorners) {
  const SymbolMatrix small = makePattern(10, 14);
  const SymbolMatrix large = makePattern(18, 18);
  RenderOptions first = cleanOptions();
  first.centreX = 150;
  first.centreY = 140;
  first.rotationDeg = 25;
  first.moduleSize = 5;
  RenderOptions second = cleanOptions();
  second.centreX = 430;
  second.centreY = 300;
  second.rotationDeg = 200;
  second.tiltXDeg = 20;
  second.moduleSize = 6;
  second.dark = 60;
  second.light = 240;
  RenderOptions scene = cleanOptions();
  scene.clutter = 40;

  const testsupport::RenderedScene rendered = testsupport::renderSymbols({{small, first}, {large, second}}, scene);
  ASSERT_FALSE(rendered.grey.empty());
  ASSERT_EQ(rendered.corners.size(), 2u);
  expectModulesAtReportedCorners(rendered.grey, small, rendered.corners[0], first, "first");
  expectModulesAtReportedCorners(rendered.grey, large, rendered.corners[1], second, "second");

  // Quiet zones that overlap would hide part of a symbol whose corners are still reported.
  second.centreX = 230;
  second.centreY = 170;
  EXPECT_TRUE(testsupport::renderSymbols({{small, first}, {large, second}}, scene).grey.empty());
}

TEST(RendererDamage, OcclusionCoversJustTheGivenModules) {
  const SymbolMatrix symbol = makePattern(12, 12);
  RenderOptions options = cleanOptions();
  options.rotationDeg = 40;
  options.tiltXDeg = 15;
  const RenderedSymbol rendered = renderSymbol(symbol, options);
  ASSERT_FALSE(rendered.grey.empty());

  // Columns -3 to 1 of rows 4 to 8: a torn left edge that takes the finder leg and some quiet zone.
  cv::Mat damaged = rendered.grey.clone();
  ASSERT_TRUE(testsupport::occludeModules(damaged, rendered.corners, 12, 12, cv::Rect2d(-3, 4, 5, 5), 128));
  for (int r = 0; r < 12; ++r) {
    for (int c = -2; c < 12; ++c) {
      const cv::Point2d centre = moduleToImage(rendered.corners, 12, 12, {c + 0.5, r + 0.5});
      const bool covered = r >= 4 && r < 9 && c < 2;
      const double expected = covered ? 128.0 : bilinear(rendered.grey, centre);
      EXPECT_NEAR(bilinear(damaged, centre), expected, 1.0) << "module " << r << ", " << c;
    }
  }

  cv::Mat empty;
  EXPECT_FALSE(testsupport::occludeModules(empty, rendered.corners, 12, 12, cv::Rect2d(0, 0, 2, 2), 0));
  cv::Mat colour(480, 640, CV_8UC3);
  EXPECT_FALSE(testsupport::occludeModules(colour, rendered.corners, 12, 12, cv::Rect2d(0, 0, 2, 2), 0));
  EXPECT_FALSE(testsupport::occludeModules(damaged, rendered.corners, 12, 12, cv::Rect2d(0, 0, 0, 2), 0));
}

TEST(RendererOptions, OutOfRangeOptionsGiveAnEmptyImage) {
  struct Case { const char* name; std::function<void(RenderOptions&, SymbolMatrix&)> spoil; };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const Case cases[] = {
      {"module size zero", [](RenderOptions& o, SymbolMatrix&) { o.moduleSize = 0; }},
      {"module size negative", [](RenderOptions& o, SymbolMatrix&) { o.moduleSize = -4; }},
      {"module size not a number", [nan](RenderOptions& o, SymbolMatrix&) { o.moduleSize = nan; }},
      {"symbol wider than the image", [](RenderOptions& o, SymbolMatrix&) { o.moduleSize = 40; }},
      {"symbol over the right border", [](RenderOptions& o, SymbolMatrix&) { o.centreX = 620; }},
      {"corner turned out of the image", [](RenderOptions& o, SymbolMatrix&) {
         o.imageWidth = o.imageHeight = 100;  // 16 x 6 = 96 pixels fit upright, not at 45 degrees
         o.rotationDeg = 45;
       }},
      {"centre at infinity", [](RenderOptions& o, SymbolMatrix&) { o.centreY = std::numeric_limits<double>::infinity(); }},
      {"zero image width", [](RenderOptions& o, SymbolMatrix&) { o.imageWidth = 0; }},
      {"negative image height", [](RenderOptions& o, SymbolMatrix&) { o.imageHeight = -480; }},
      {"image too large", [](RenderOptions& o, SymbolMatrix&) { o.imageWidth = testsupport::RENDER_MAX_IMAGE_SIDE + 1; }},
      {"negative quiet zone", [](RenderOptions& o, SymbolMatrix&) { o.quietZone = -1; }},
      {"tilt beyond the limit", [](RenderOptions& o, SymbolMatrix&) { o.tiltYDeg = 75; }},
      {"rotation not a number", [nan](RenderOptions& o, SymbolMatrix&) { o.rotationDeg = nan; }},
      {"negative blur", [](RenderOptions& o, SymbolMatrix&) { o.blurSigma = -1; }},
      {"negative noise", [](RenderOptions& o, SymbolMatrix&) { o.noiseSigma = -1; }},
      {"uneven light above one", [](RenderOptions& o, SymbolMatrix&) { o.unevenLight = 1.5; }},
      {"negative clutter", [](RenderOptions& o, SymbolMatrix&) { o.clutter = -3; }},
      {"symbol without modules", [](RenderOptions&, SymbolMatrix& s) { s = SymbolMatrix{}; }},
      {"module list too short", [](RenderOptions&, SymbolMatrix& s) { s.modules.pop_back(); }},
      {"negative symbol size", [](RenderOptions&, SymbolMatrix& s) { s.rows = -16; s.cols = -16; }},
  };
  for (const Case& c : cases) {
    RenderOptions options = cleanOptions();
    SymbolMatrix symbol = makePattern(16, 16);
    c.spoil(options, symbol);
    const RenderedSymbol rendered = renderSymbol(symbol, options);
    EXPECT_TRUE(rendered.grey.empty()) << c.name;
  }
}

// The symbol itself must fit; a quiet zone cut by the border is a scene a camera can see.
TEST(RendererOptions, SymbolFillingTheImageRendersWithItsQuietZoneCut) {
  const SymbolMatrix symbol = makePattern(10, 10);
  RenderOptions options = cleanOptions();
  options.imageWidth = options.imageHeight = 60;
  options.moduleSize = 6;
  options.quietZone = 200;  // reaches far past the image on every side
  options.clutter = 10;
  const RenderedSymbol rendered = renderSymbol(symbol, options);
  ASSERT_FALSE(rendered.grey.empty());
  EXPECT_NEAR(rendered.corners.verticalLegEnd.x, -0.5, 1e-9);
  EXPECT_NEAR(rendered.corners.horizontalLegEnd.y, 59.5, 1e-9);
  options.quietZone = 0;
  expectModulesAtReportedCorners(rendered.grey, symbol, rendered.corners, options, "filling");
}

}  // namespace
