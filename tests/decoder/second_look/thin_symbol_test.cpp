// Thin symbols (8 to 16 rows) through the whole read: the passes' finder test cannot corner them, the
// second look's thin-outline step does. Symbols come from independent encoders; every expected text is
// the encoder's input.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "decoder/decoder.h"
#include "decoder/decoder_internal.h"
#include "decoder/second_look/pass_leftovers.h"
#include "decoder/second_look/second_look.h"
#include "tests/decoder/second_look/frame_reads.h"
#include "tests/decoder/second_look/located_candidates.h"
#include "tests/support/symbol_encoder.h"
#include "tests/support/symbol_renderer.h"

namespace {

using testsupport::EncoderLib;
using testsupport::SymbolMatrix;

struct ThinSize {
  int rows;
  int cols;
  EncoderLib lib;
  bool dmre;  // a rectangular extension size: Zint only, asked for explicitly
};

// Every 8-row size, and the other thin ones, standard sizes from both encoders.
const ThinSize THIN_SIZES[] = {
    {8, 18, EncoderLib::Dmtx, false},  {8, 18, EncoderLib::Zint, false},  {8, 32, EncoderLib::Dmtx, false},
    {8, 32, EncoderLib::Zint, false},  {8, 48, EncoderLib::Zint, true},   {8, 64, EncoderLib::Zint, true},
    {8, 80, EncoderLib::Zint, true},   {8, 96, EncoderLib::Zint, true},   {8, 120, EncoderLib::Zint, true},
    {8, 144, EncoderLib::Zint, true},  {12, 26, EncoderLib::Dmtx, false}, {12, 36, EncoderLib::Dmtx, false},
    {12, 64, EncoderLib::Zint, true},  {12, 88, EncoderLib::Zint, true},  {16, 36, EncoderLib::Dmtx, false},
    {16, 48, EncoderLib::Dmtx, false}, {16, 64, EncoderLib::Zint, true},
};

std::string sizeName(const ThinSize& size) {
  return std::to_string(size.rows) + "x" + std::to_string(size.cols) +
         (size.lib == EncoderLib::Dmtx ? " dmtx" : " zint");
}

// The longest text of a fixed mix of letters, digits and punctuation that the encoder fits in the size,
// so that the data area is full rather than padded.
std::optional<std::pair<std::string, SymbolMatrix>> textFor(const ThinSize& size) {
  return fillSize("Thin-Label 0815/qx: 8 rows, ", 160, size.lib, size.rows, size.cols, size.dmre);
}

// A square image with room for the symbol and its quiet zone at any angle.
testsupport::RenderOptions frameFor(const SymbolMatrix& symbol, double modulePixels, double rotationDeg) {
  testsupport::RenderOptions options;
  const double diagonal = std::hypot(symbol.cols + 4.0, symbol.rows + 4.0) * modulePixels;
  options.imageWidth = options.imageHeight = std::max(320, static_cast<int>(std::ceil(diagonal)) + 16);
  options.moduleSize = modulePixels;
  options.rotationDeg = rotationDeg;
  return options;
}

// As encoders write them: black on white, whole pixels per module, module edges on pixel edges.
testsupport::RenderOptions pixelExactFrameFor(const SymbolMatrix& symbol, int modulePixels, int quarterTurns) {
  testsupport::RenderOptions options = frameFor(symbol, modulePixels, 90.0 * quarterTurns);
  options.dark = 0;
  options.light = 255;
  options.background = 255;
  const bool turned = quarterTurns % 2 != 0;
  const int across = ((turned ? symbol.rows : symbol.cols) + 2 * options.quietZone) * modulePixels;
  const int down = ((turned ? symbol.cols : symbol.rows) + 2 * options.quietZone) * modulePixels;
  // Pixel x covers [x - 0.5, x + 0.5]: a picture starting at pixel 7 starts at 6.5.
  options.centreX = 6.5 + across / 2.0;
  options.centreY = 6.5 + down / 2.0;
  return options;
}

TEST(ThinSymbolRead, EverySizeReadsAtAnyAngleFromThreePixelsPerModule) {
  const double ROTATIONS[] = {0.0, 17.0, 30.0, 90.0, 135.0, 200.0, 251.0, 315.0};
  const double MODULE_PIXELS[] = {3.0, 4.5, 6.0};
  for (const ThinSize& size : THIN_SIZES) {
    const auto encoded = textFor(size);
    ASSERT_TRUE(encoded) << sizeName(size);
    for (const double modulePixels : MODULE_PIXELS) {
      for (const double rotation : ROTATIONS) {
        const testsupport::RenderedSymbol rendered =
            testsupport::renderSymbol(encoded->second, frameFor(encoded->second, modulePixels, rotation));
        ASSERT_FALSE(rendered.grey.empty());
        const WholeRead read = readWhole(rendered.grey);
        // One line per failing frame, so that a fault shows which sizes and angles it costs.
        EXPECT_EQ(read.texts, std::vector<std::string>{encoded->first})
            << sizeName(size) << " at " << modulePixels << " px, " << rotation << " deg";
      }
    }
  }
}

TEST(ThinSymbolRead, PixelExactPicturesReadAtEveryRightAngle) {
  for (const ThinSize& size : THIN_SIZES) {
    const auto encoded = textFor(size);
    ASSERT_TRUE(encoded) << sizeName(size);
    for (int modulePixels = 3; modulePixels <= 6; ++modulePixels) {
      for (int quarterTurns = 0; quarterTurns < 4; ++quarterTurns) {
        const testsupport::RenderedSymbol rendered =
            testsupport::renderSymbol(encoded->second, pixelExactFrameFor(encoded->second, modulePixels, quarterTurns));
        ASSERT_FALSE(rendered.grey.empty());
        const WholeRead read = readWhole(rendered.grey);
        EXPECT_EQ(read.texts, std::vector<std::string>{encoded->first})
            << sizeName(size) << " at " << modulePixels << " px, " << 90 * quarterTurns << " deg";
      }
    }
  }
}

// Too flat for the passes' finder test at any right angle: only the thin-outline step reads them.
TEST(ThinSymbolRead, OutlinesTheFinderTestDropsAreReadByTheThinStep) {
  const ThinSize CASES[] = {
      {8, 80, EncoderLib::Zint, true}, {8, 120, EncoderLib::Zint, true}, {8, 144, EncoderLib::Zint, true}};
  for (const ThinSize& size : CASES) {
    const auto encoded = textFor(size);
    ASSERT_TRUE(encoded);
    for (const double rotation : {0.0, 90.0, 270.0}) {
      const testsupport::RenderedSymbol rendered =
          testsupport::renderSymbol(encoded->second, frameFor(encoded->second, 4.0, rotation));
      const WholeRead read = readWhole(rendered.grey);
      EXPECT_EQ(read.readBy, SCAN_READ_BY_THIN_SYMBOL) << sizeName(size) << " at " << rotation;
      EXPECT_EQ(read.texts, std::vector<std::string>{encoded->first}) << sizeName(size) << " at " << rotation;
    }
  }
}

// On an 8-row symbol the vertical finder bar has six modules clear of the corners; where the data
// module beside most of them is dark, the bar measures two modules thick and halves the column count the
// perspective read expects, so the true size was never tried. Frames as the rotation sweep draws them:
// 640 x 480, quiet zone of two modules, 3 px per module.
TEST(ThinSymbolRead, ShortLegBesideADarkDataColumnStillGivesTheColumnCount) {
  struct TurnedCase {
    int cols;
    std::string text;
    double rotationDeg;
  };
  const TurnedCase CASES[] = {
      {64, "Hello", 39.0},      {64, "Hello", 123.0},      {64, "Hello", 135.0},      {64, "Hello", 225.0},
      {64, "Hello", 315.0},     {64, "1234567890", 27.0},  {64, "1234567890", 138.0}, {64, "1234567890", 207.0},
      {64, "1234567890", 330.0}, {80, "Hello", 12.0},     {80, "1234567890", 81.0},  {96, "Hello", 3.0},
      {96, "Hello", 93.0},      {96, "1234567890", 159.0},
  };
  for (const TurnedCase& turned : CASES) {
    const ThinSize size = {8, turned.cols, EncoderLib::Zint, true};
    const std::optional<SymbolMatrix> symbol = encodeAt(turned.text, size.lib, size.rows, size.cols, size.dmre);
    ASSERT_TRUE(symbol && symbol->rows == 8 && symbol->cols == turned.cols) << turned.text;
    testsupport::RenderOptions options;
    options.imageWidth = 640;
    options.imageHeight = 480;
    options.moduleSize = 3.0;
    options.quietZone = 2;
    options.rotationDeg = turned.rotationDeg;
    const testsupport::RenderedSymbol rendered = testsupport::renderSymbol(*symbol, options);
    ASSERT_FALSE(rendered.grey.empty());
    const WholeRead read = readWhole(rendered.grey);
    EXPECT_EQ(read.texts, std::vector<std::string>{turned.text})
        << sizeName(size) << " " << turned.text << " at " << turned.rotationDeg;
  }
}

// The candidate's corners are the symbol's: the L vertex at the finder's corner, the leg ends (before the
// locator's inward step) at the finder's far corners.
TEST(ThinSymbolCandidates, CornersLieOnTheSymbolsOuterCorners) {
  const ThinSize size = {8, 96, EncoderLib::Zint, true};
  const auto encoded = textFor(size);
  ASSERT_TRUE(encoded);
  for (const double rotation : {30.0, 160.0, 290.0}) {
    const testsupport::RenderedSymbol rendered =
        testsupport::renderSymbol(encoded->second, frameFor(encoded->second, 4.0, rotation));
    PassLeftovers pass;
    ASSERT_TRUE(globalPassLeftovers(rendered.grey, &pass));
    const std::vector<SymbolCandidate> found = findThinSymbolCandidates(&pass);
    ASSERT_EQ(found.size(), 1u) << rotation;
    const SymbolCandidate& candidate = found[0];
    const cv::Point2d vertex = rendered.corners.finderVertex;
    // Contour points are the centres of the outline's pixels, half a pixel inside the outer edge.
    EXPECT_LT(std::hypot(candidate.corners[0].x - vertex.x, candidate.corners[0].y - vertex.y), 2.0) << rotation;
    const cv::Point2d ends[2] = {rendered.corners.verticalLegEnd, rendered.corners.horizontalLegEnd};
    for (int leg = 1; leg <= 2; ++leg) {
      double nearest = 1e9;
      for (const cv::Point2d& end : ends) {
        nearest = std::min(nearest, std::hypot(candidate.corners[leg].x - end.x, candidate.corners[leg].y - end.y));
      }
      EXPECT_LT(nearest, 2.0 + 1.0 + std::floor(96 * 4.0 / 100.0)) << rotation << " leg " << leg;
    }
  }
}

// Thin shapes that are no symbol, or symbols that cannot be read right, give no text: a solid bar, a
// ruler (finder L and timing edges around an empty inside), a finder and timing around random modules
// (an outline the thin step takes, so its guards are what must refuse it).
TEST(ThinSymbolCandidates, ThinShapesThatAreNoReadableSymbolGiveNoText) {
  const int ROWS = 8, COLS = 64;
  std::vector<SymbolMatrix> decoys;
  SymbolMatrix bar;
  bar.rows = ROWS;
  bar.cols = COLS;
  bar.modules.assign(ROWS * COLS, 1);
  decoys.push_back(bar);
  auto withFrame = [&](auto inside) {
    SymbolMatrix matrix;
    matrix.rows = ROWS;
    matrix.cols = COLS;
    matrix.modules.assign(ROWS * COLS, 0);
    for (int r = 0; r < ROWS; ++r) {
      for (int c = 0; c < COLS; ++c) {
        std::uint8_t dark = inside(r, c);
        if (c == 0 || r == ROWS - 1) dark = 1;                                      // finder L
        if (r == 0 && c < COLS - 1) dark = c % 2 == 0;                              // top timing row
        if (c == COLS - 1 && r < ROWS - 1) dark = (ROWS - 1 - r) % 2 == 1 ? 1 : 0;  // right timing column
        if (r == 0 && c == COLS - 1) dark = 0;
        matrix.modules[r * COLS + c] = dark;
      }
    }
    return matrix;
  };
  decoys.push_back(withFrame([](int, int) { return std::uint8_t{0}; }));
  std::mt19937 random(12);
  for (int i = 0; i < 6; ++i) {
    decoys.push_back(withFrame([&random](int, int) { return static_cast<std::uint8_t>(random() & 1u); }));
  }
  for (size_t d = 0; d < decoys.size(); ++d) {
    for (const double rotation : {0.0, 30.0, 120.0}) {
      const testsupport::RenderedSymbol rendered =
          testsupport::renderSymbol(decoys[d], frameFor(decoys[d], 4.0, rotation));
      if (d > 1) {
        // The random ones get as far as a candidate: the guards, not the search, refuse them.
        cv::Mat copy = rendered.grey.clone();
        IplImage ipl = cvIplImage(copy);
        PassLeftovers pass;
        ASSERT_EQ(runDecoder(&ipl, SCAN_GLOBAL_PASS.threshold, SCAN_GLOBAL_PASS.flags, nullptr, nullptr, nullptr,
                             nullptr, &pass),
                  0);
        EXPECT_FALSE(findThinSymbolCandidates(&pass).empty()) << "decoy " << d << " at " << rotation;
      }
      const WholeRead read = readWhole(rendered.grey);
      EXPECT_TRUE(read.texts.empty()) << "decoy " << d << " at " << rotation << ": " << read.texts[0];
    }
  }
}

}  // namespace
