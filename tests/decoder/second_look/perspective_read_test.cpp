// Perspective recovery on symbols from an independent encoder: every candidate of both passes goes
// through readByPerspective as the second look hands it over. Texts are compared with the encoder's
// input and outlines with where the renderer put the symbol.
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "decoder/ecc200/ecc200.h"
#include "decoder/second_look/homography_sampling.h"
#include "tests/decoder/second_look/located_candidates.h"
#include "decoder/second_look/perspective_read.h"
#include "tests/support/symbol_encoder.h"
#include "tests/support/symbol_renderer.h"

namespace {

using testsupport::SymbolMatrix;

constexpr int GLOBAL_PASS_FLAGS = DECODE_GLOBAL_THRESHOLD | DECODE_CROP;
constexpr int ADAPTIVE_PASS_FLAGS = DECODE_ADAPTIVE_THRESHOLD | DECODE_CROP;

// What the perspective read made of every candidate of both passes over one picture.
struct PictureReads {
  int candidates = 0;
  std::vector<DecodedSymbol> reads;
};

PictureReads readEveryCandidate(const cv::Mat& grey) {
  PictureReads result;
  const LocatedPass passes[] = {locatePass(grey, -1, GLOBAL_PASS_FLAGS), locatePass(grey, 15, ADAPTIVE_PASS_FLAGS)};
  IplImage greyImage = cvIplImage(grey);
  for (const LocatedPass& pass : passes) {
    if (pass.binary.empty()) continue;
    IplImage binary = cvIplImage(pass.binary);
    for (const LocatedCandidate& candidate : pass.candidates) {
      ++result.candidates;
      DecodedSymbol symbol;
      if (readByPerspective(&greyImage, &binary, candidate, &symbol)) result.reads.push_back(symbol);
    }
  }
  return result;
}

std::string textOf(const DecodedSymbol& symbol) { return std::string(symbol.message.begin(), symbol.message.end()); }

// A message that fills a good part of the symbol, halved until the encoder takes it; zint for 144 x 144,
// whose block interleaving libdmtx writes its own way.
std::string encodeFilling(int rows, int cols, std::uint32_t seed, SymbolMatrix* symbol) {
  static const char ALPHABET[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz -./";
  std::mt19937 random(seed);
  const auto lib = rows == 144 ? testsupport::EncoderLib::Zint : testsupport::EncoderLib::Dmtx;
  for (int length = std::max(1, rows * cols / 16); length > 0; length /= 2) {
    std::string text;
    for (int k = 0; k < length; ++k) text += ALPHABET[random() % (sizeof ALPHABET - 1)];
    if (auto made = testsupport::encodeSymbol(text, rows, cols, testsupport::EncodeScheme::Auto, lib)) {
      *symbol = *made;
      return text;
    }
  }
  return {};
}

// Where the read's outline corners must land: in DecodeResult's order.
std::vector<cv::Point2d> outlineOf(const testsupport::SymbolCorners& c) {
  return {c.verticalLegEnd, c.timingCorner, c.horizontalLegEnd, c.finderVertex};
}

// Every read is the encoder's text, at least one candidate reads, and its corners lie within a module.
void expectReadRightly(const cv::Mat& grey, const std::string& text, const std::vector<cv::Point2d>& outline,
                       double modulePixels) {
  const PictureReads result = readEveryCandidate(grey);
  ASSERT_GT(result.candidates, 0) << "the locator found no candidate";
  ASSERT_FALSE(result.reads.empty()) << result.candidates << " candidates, none read";
  for (const DecodedSymbol& read : result.reads) {
    EXPECT_EQ(textOf(read), text);
    for (int k = 0; k < 4; ++k) {
      EXPECT_LE(std::hypot(read.corners[k].x - outline[k].x, read.corners[k].y - outline[k].y), modulePixels)
          << "corner " << k;
    }
  }
}

// The symbol as encoders write their pictures: integer module size, no blur, a quiet zone.
cv::Mat pixelExactPicture(const SymbolMatrix& symbol, int modulePixels, int quietModules) {
  cv::Mat grey((symbol.rows + 2 * quietModules) * modulePixels, (symbol.cols + 2 * quietModules) * modulePixels,
               CV_8UC1, cv::Scalar(255));
  for (int r = 0; r < symbol.rows; ++r) {
    for (int c = 0; c < symbol.cols; ++c) {
      if (symbol.at(r, c) == 0) continue;
      grey(cv::Rect((c + quietModules) * modulePixels, (r + quietModules) * modulePixels, modulePixels,
                    modulePixels)) = 0;
    }
  }
  return grey;
}

// Outer corners of a pixel-exact picture: pixel x covers [x - 0.5, x + 0.5].
std::vector<cv::Point2d> pixelExactOutline(const SymbolMatrix& symbol, int modulePixels, int quietModules) {
  const double left = quietModules * modulePixels - 0.5, top = left;
  const double right = left + symbol.cols * modulePixels, bottom = top + symbol.rows * modulePixels;
  return {{left, top}, {right, top}, {right, bottom}, {left, bottom}};
}

struct PixelExactCase {
  int rows, cols, modulePixels;
};

// Sizes and scales that the two passes miss in such pictures, and a spread of the others, up to
// 144 x 144 at 3 and 5 pixels per module.
constexpr PixelExactCase PIXEL_EXACT_CASES[] = {
    {16, 16, 7},  {18, 18, 6},  {26, 26, 4},   {8, 18, 6}, {16, 48, 16},   {12, 12, 6},    {24, 24, 3},
    {32, 32, 5},  {52, 52, 3},  {64, 64, 4},   {88, 88, 4},     {104, 104, 5},  {104, 104, 12}, {120, 120, 6},
    {132, 132, 3}, {144, 144, 3}, {144, 144, 5}, {12, 36, 8},    {16, 36, 3},    {8, 32, 10},
};

TEST(PerspectiveReadPixelExact, EncoderStylePicturesReadWithTheEncodersText) {
  for (const PixelExactCase& c : PIXEL_EXACT_CASES) {
    SCOPED_TRACE(std::to_string(c.rows) + "x" + std::to_string(c.cols) + " at " + std::to_string(c.modulePixels) +
                 " px");
    SymbolMatrix symbol;
    const std::string text = encodeFilling(c.rows, c.cols, static_cast<std::uint32_t>(c.rows * 977 + c.cols), &symbol);
    ASSERT_FALSE(text.empty());
    expectReadRightly(pixelExactPicture(symbol, c.modulePixels, 2), text, pixelExactOutline(symbol, c.modulePixels, 2),
                      c.modulePixels);
  }
}

struct TiltedCase {
  int rows, cols;
  double moduleSize, rotationDeg, tiltXDeg, tiltYDeg;
};

// Tilts up to 30 degrees turn the parallelogram's fourth corner several modules away from the true
// one; the large sizes are ones whose grid the passes never fit.
constexpr TiltedCase TILTED_CASES[] = {
    {14, 14, 5.0, 200.0, 25.0, -10.0},  {20, 20, 3.0, 200.0, -30.0, 0.0},  {26, 26, 5.0, 95.0, 0.0, 30.0},
    {40, 40, 4.0, 37.0, 30.0, 20.0},   {48, 48, 5.0, 310.0, -25.0, 25.0}, {64, 64, 4.0, 150.0, 28.0, -12.0},
    {80, 80, 3.5, 250.0, -20.0, -20.0}, {96, 96, 4.0, 10.0, 15.0, 28.0},  {120, 120, 3.0, 120.0, -28.0, 8.0},
    {144, 144, 3.2, 333.0, 22.0, -22.0}, {12, 26, 6.0, 60.0, -25.0, 15.0}, {16, 48, 5.0, 170.0, 20.0, 25.0},
};

TEST(PerspectiveReadTilted, TiltedSymbolsOfEverySpanReadWithTheirOutline) {
  for (const TiltedCase& c : TILTED_CASES) {
    SCOPED_TRACE(std::to_string(c.rows) + "x" + std::to_string(c.cols) + " rotation " + std::to_string(c.rotationDeg));
    SymbolMatrix symbol;
    const std::string text = encodeFilling(c.rows, c.cols, static_cast<std::uint32_t>(c.rows * 31 + c.cols), &symbol);
    ASSERT_FALSE(text.empty());
    testsupport::RenderOptions look;
    look.moduleSize = c.moduleSize;
    look.rotationDeg = c.rotationDeg;
    look.tiltXDeg = c.tiltXDeg;
    look.tiltYDeg = c.tiltYDeg;
    look.blurSigma = 0.5;
    look.noiseSigma = 3.0;
    look.clutter = 6;
    const int side = static_cast<int>(std::hypot(c.rows + 4, c.cols + 4) * c.moduleSize * 1.5) + 40;
    look.imageWidth = std::max(640, side);
    look.imageHeight = std::max(480, side);
    const testsupport::RenderedSymbol rendered = testsupport::renderSymbol(symbol, look);
    ASSERT_FALSE(rendered.grey.empty());
    expectReadRightly(rendered.grey, text, outlineOf(rendered.corners), 1.5 * c.moduleSize);
  }
}

// Every ECC 200 size, turned and tilted a little, at 4 pixels per module (6 for the sizes whose outline
// at 4 pixels is too plain for the locator to offer a candidate).
TEST(PerspectiveReadTilted, EverySizeReads) {
  int index = 0;
  for (const auto& size : testsupport::ecc200Sizes()) {
    ++index;
    SCOPED_TRACE(std::to_string(size.first) + "x" + std::to_string(size.second));
    SymbolMatrix symbol;
    const std::string text = encodeFilling(size.first, size.second, static_cast<std::uint32_t>(index), &symbol);
    ASSERT_FALSE(text.empty());
    testsupport::RenderOptions look;
    look.moduleSize = size.first * size.second < 300 ? 6.0 : 4.0;
    look.rotationDeg = 23.0 * index;
    look.tiltXDeg = 12.0;
    look.tiltYDeg = -8.0;
    look.blurSigma = 0.4;
    look.noiseSigma = 2.0;
    const int side = static_cast<int>(std::hypot(size.first + 4, size.second + 4) * look.moduleSize * 1.4) + 40;
    look.imageWidth = std::max(320, side);
    look.imageHeight = std::max(320, side);
    const testsupport::RenderedSymbol rendered = testsupport::renderSymbol(symbol, look);
    ASSERT_FALSE(rendered.grey.empty());
    expectReadRightly(rendered.grey, text, outlineOf(rendered.corners), 1.5 * look.moduleSize);
  }
}

// Damage the guards must stop: a symbol whose data is past mending, one whose timing edge is torn
// off, and two symbols side by side. A read may be missed, but what is read must be a text in the
// picture.
TEST(PerspectiveReadGuards, DamagedSymbolsGiveTheirOwnTextOrNone) {
  std::mt19937 random(0x6A11u);
  const std::pair<int, int> sizes[] = {{10, 10}, {14, 14}, {18, 18}, {24, 24}, {32, 32}, {44, 44}, {8, 18}, {16, 36}};
  int wrong = 0, cases = 0;
  for (int k = 0; k < 48; ++k) {
    const auto size = sizes[k % 8];
    SymbolMatrix symbol;
    const std::string text = encodeFilling(size.first, size.second, random(), &symbol);
    ASSERT_FALSE(text.empty());
    testsupport::RenderOptions look;
    look.moduleSize = 4.0 + (k % 4);
    look.rotationDeg = 47.0 * k;
    look.tiltXDeg = (k % 3) * 10.0 - 10.0;
    look.noiseSigma = 2.0;
    look.blurSigma = 0.4;
    look.seed = random();
    look.imageWidth = look.imageHeight = static_cast<int>(std::hypot(size.first + 4, size.second + 4) * look.moduleSize * 1.4) + 40;
    testsupport::RenderedSymbol rendered = testsupport::renderSymbol(symbol, look);
    ASSERT_FALSE(rendered.grey.empty());
    const int kind = (k / 8) % 3;
    if (kind == 0) {
      // A fifth to a third of the inner modules inverted: far past what the code mends.
      const int inner = (symbol.rows - 2) * (symbol.cols - 2);
      const int flips = inner / 5 + static_cast<int>(random() % static_cast<unsigned>(inner / 8 + 1));
      for (int f = 0; f < flips; ++f) {
        const int row = 1 + static_cast<int>(random() % static_cast<unsigned>(symbol.rows - 2));
        const int col = 1 + static_cast<int>(random() % static_cast<unsigned>(symbol.cols - 2));
        testsupport::occludeModules(rendered.grey, rendered.corners, symbol.rows, symbol.cols,
                                    cv::Rect2d(col, row, 1, 1), symbol.at(row, col) ? 220 : 30);
      }
    } else if (kind == 1) {
      const double depth = 1.0 + (k % 5);
      testsupport::occludeModules(rendered.grey, rendered.corners, symbol.rows, symbol.cols,
                                  cv::Rect2d(symbol.cols - depth, -3.0, depth + 3.0, symbol.rows + 6.0), 180);
    } else {
      // A painted band across the middle, a third of the symbol high.
      testsupport::occludeModules(rendered.grey, rendered.corners, symbol.rows, symbol.cols,
                                  cv::Rect2d(-1.0, symbol.rows / 3.0, symbol.cols + 2.0, symbol.rows / 3.0 + 1.0),
                                  k % 2 ? 30 : 220);
    }
    ++cases;
    for (const DecodedSymbol& read : readEveryCandidate(rendered.grey).reads) {
      if (textOf(read) != text) {
        ++wrong;
        ADD_FAILURE() << "case " << k << ": read \"" << textOf(read) << "\" from a symbol holding \"" << text << "\"";
      }
    }
  }
  EXPECT_EQ(wrong, 0) << "of " << cases << " damaged symbols";
}

// The decoder's module matrix of an upright symbol: rows below the top timing row, columns left of the
// right timing column.
std::vector<std::uint8_t> decoderMatrix(const SymbolMatrix& symbol) {
  std::vector<std::uint8_t> matrix;
  for (int r = 1; r < symbol.rows; ++r) {
    for (int c = 0; c + 1 < symbol.cols; ++c) matrix.push_back(symbol.at(r, c));
  }
  return matrix;
}

struct CorrectionCase {
  int rows, cols, wrongCodewords;
  bool read;
};

// Small blocks decode many garbled blocks at their full capacity, so a recovered read of 10 x 10 may
// mend one codeword of its two and 12 x 12 two of its three; 16 x 16 keeps its full six.
constexpr CorrectionCase CORRECTION_CASES[] = {
    {10, 10, 1, true}, {10, 10, 2, false}, {12, 12, 2, true}, {12, 12, 3, false},
    {16, 16, 6, true}, {16, 16, 7, false},
};

TEST(PerspectiveReadGuards, SmallBlocksSpendOnlyPartOfTheirCorrectionCapacity) {
  for (const CorrectionCase& c : CORRECTION_CASES) {
    SCOPED_TRACE(std::to_string(c.rows) + "x" + std::to_string(c.cols) + " with " + std::to_string(c.wrongCodewords) +
                 " wrong codewords");
    const std::string text = "A1";
    auto encoded = testsupport::encodeDmtxWithCodewords({text.begin(), text.end()}, c.rows, c.cols);
    ASSERT_TRUE(encoded.has_value());
    SymbolMatrix symbol = encoded->symbol;
    const Ecc200Symbol* size = findEcc200Symbol(c.cols, c.rows);
    ASSERT_NE(size, nullptr);
    // One bit of each of the first codewords (a single block in these sizes) inverted.
    const std::vector<int>& modules = ecc200CodewordModules(*size);
    for (int k = 0; k < c.wrongCodewords; ++k) {
      const int index = modules[static_cast<size_t>(k) * 8];
      const int row = 1 + index / (c.cols - 1), column = index % (c.cols - 1);
      symbol.modules[static_cast<size_t>(row) * c.cols + column] ^= 1;
    }
    std::vector<std::uint8_t> message;
    const std::vector<std::uint8_t> matrix = decoderMatrix(symbol);
    ASSERT_EQ(decodeEcc200(matrix.data(), c.cols, c.rows, &message), c.wrongCodewords <= size->eccCodewords / 2)
        << "the full-capacity decoder sets the baseline";

    testsupport::RenderOptions look;
    look.moduleSize = 7.0;
    look.rotationDeg = 25.0;
    const PictureReads result = readEveryCandidate(testsupport::renderSymbol(symbol, look).grey);
    ASSERT_GT(result.candidates, 0);
    EXPECT_EQ(!result.reads.empty(), c.read);
    for (const DecodedSymbol& read : result.reads) EXPECT_EQ(textOf(read), text);
  }
}

TEST(PerspectiveReadGuards, ClutterAloneGivesNoText) {
  int candidates = 0;
  for (std::uint32_t seed = 1; seed <= 40; ++seed) {
    testsupport::RenderOptions look;
    look.clutter = 20 + static_cast<int>(seed % 30);
    look.noiseSigma = (seed % 4) * 1.5;
    look.blurSigma = (seed % 3) * 0.4;
    look.unevenLight = (seed % 5) * 0.1;
    look.seed = seed;
    const testsupport::RenderedScene scene = testsupport::renderSymbols({}, look);
    ASSERT_FALSE(scene.grey.empty());
    const PictureReads result = readEveryCandidate(scene.grey);
    candidates += result.candidates;
    for (const DecodedSymbol& read : result.reads) ADD_FAILURE() << "seed " << seed << ": read \"" << textOf(read) << "\"";
  }
  // The frames must give the guards something to refuse.
  EXPECT_GT(candidates, 0);
}

// Inputs no candidate of a pass can produce must be refused without a read or a crash.
TEST(PerspectiveReadInput, MalformedInputIsRefused) {
  SymbolMatrix symbol;
  const std::string text = encodeFilling(20, 20, 7, &symbol);
  const cv::Mat grey = pixelExactPicture(symbol, 5, 2);
  const LocatedPass pass = locatePass(grey, -1, GLOBAL_PASS_FLAGS);
  ASSERT_FALSE(pass.candidates.empty());
  IplImage greyImage = cvIplImage(grey);
  IplImage binary = cvIplImage(pass.binary);
  const cv::Mat smaller(grey.rows - 1, grey.cols, CV_8UC1, cv::Scalar(0));
  IplImage smallerImage = cvIplImage(smaller);
  const cv::Mat colour(grey.rows, grey.cols, CV_8UC3, cv::Scalar(0, 0, 0));
  IplImage colourImage = cvIplImage(colour);

  LocatedCandidate noPolygon = pass.candidates[0];
  noPolygon.polygon.clear();
  LocatedCandidate notFinite = pass.candidates[0];
  notFinite.corners[1].x = std::numeric_limits<float>::quiet_NaN();
  LocatedCandidate collapsed = pass.candidates[0];
  for (CvPoint2D32f& corner : collapsed.corners) corner = collapsed.corners[0];
  LocatedCandidate outside = pass.candidates[0];
  for (CvPoint2D32f& corner : outside.corners) corner.x += 1e6f;
  for (CvPoint& vertex : outside.polygon) vertex.x += 1000000;

  struct Case {
    const char* name;
    const IplImage* grey;
    const IplImage* binary;
    const LocatedCandidate* candidate;
  };
  const Case cases[] = {
      {"no grey image", nullptr, &binary, &pass.candidates[0]},
      {"no binary image", &greyImage, nullptr, &pass.candidates[0]},
      {"binary of another size", &greyImage, &smallerImage, &pass.candidates[0]},
      {"colour image", &colourImage, &binary, &pass.candidates[0]},
      {"no polygon", &greyImage, &binary, &noPolygon},
      {"corner not a number", &greyImage, &binary, &notFinite},
      {"all corners in one point", &greyImage, &binary, &collapsed},
      {"candidate off the image", &greyImage, &binary, &outside},
  };
  for (const Case& c : cases) {
    DecodedSymbol symbol;
    EXPECT_FALSE(readByPerspective(c.grey, c.binary, *c.candidate, &symbol)) << c.name;
  }
  EXPECT_FALSE(readByPerspective(&greyImage, &binary, pass.candidates[0], nullptr));
  // The untouched candidate reads, so the refusals above come from the damage to each input.
  DecodedSymbol read;
  ASSERT_TRUE(readByPerspective(&greyImage, &binary, pass.candidates[0], &read));
  EXPECT_EQ(textOf(read), text);
}

// Candidates the locator could never make, on pictures of noise and of symbols: no read may come of
// them and nothing may reach outside an image (the sanitizers watch the walks and samples).
TEST(PerspectiveReadInput, ArbitraryCandidatesNeverReadOutsideTheImages) {
  std::mt19937 random(0xF00Du);
  auto coordinate = [&random](int limit) { return static_cast<float>(static_cast<int>(random() % (3 * limit)) - limit); };
  for (int k = 0; k < 300; ++k) {
    const int width = 20 + static_cast<int>(random() % 200), height = 20 + static_cast<int>(random() % 200);
    cv::Mat grey(height, width, CV_8UC1);
    cv::randu(grey, 0, 256);
    cv::Mat binary = grey < 128;
    LocatedCandidate candidate;
    for (CvPoint2D32f& corner : candidate.corners) corner = cvPoint2D32f(coordinate(width), coordinate(height));
    const int vertices = 4 + static_cast<int>(random() % 40);
    for (int v = 0; v < vertices; ++v) {
      candidate.polygon.push_back(cvPoint(static_cast<int>(coordinate(width)), static_cast<int>(coordinate(height))));
    }
    IplImage greyImage = cvIplImage(grey);
    IplImage binaryImage = cvIplImage(binary);
    DecodedSymbol symbol;
    EXPECT_FALSE(readByPerspective(&greyImage, &binaryImage, candidate, &symbol)) << "case " << k;
  }
}

// A real candidate pulled about, near the image edge. Pulled far (corners and some outline vertices by
// up to 12 pixels), the searches run on wrong geometry and whatever reads must still be the symbol's own
// text; pulled by up to 2 pixels (the L vertex's share of a blurred edge), the searches must absorb it.
struct DistortionCase {
  int reach;               // pixels, either way on each axis
  bool moveOutline;        // a quarter of the outline vertices move too
  int minReads;            // of 200
};
constexpr DistortionCase DISTORTIONS[] = {{12, true, 0}, {2, false, 190}};

TEST(PerspectiveReadInput, DistortedCandidatesReadTheirOwnTextOrNothing) {
  SymbolMatrix symbol;
  const std::string text = encodeFilling(24, 24, 99, &symbol);
  testsupport::RenderOptions look;
  look.moduleSize = 5.0;
  look.rotationDeg = 15.0;
  look.imageWidth = 170;
  look.imageHeight = 170;
  look.quietZone = 1;
  const testsupport::RenderedSymbol rendered = testsupport::renderSymbol(symbol, look);
  ASSERT_FALSE(rendered.grey.empty());
  const LocatedPass pass = locatePass(rendered.grey, -1, GLOBAL_PASS_FLAGS);
  ASSERT_FALSE(pass.candidates.empty());
  IplImage greyImage = cvIplImage(rendered.grey);
  IplImage binary = cvIplImage(pass.binary);
  std::mt19937 random(0xD15Cu);
  for (const DistortionCase& distortion : DISTORTIONS) {
    auto pull = [&]() { return static_cast<int>(random() % (2 * distortion.reach + 1)) - distortion.reach; };
    int reads = 0;
    for (int k = 0; k < 200; ++k) {
      LocatedCandidate candidate = pass.candidates[0];
      for (CvPoint2D32f& corner : candidate.corners) {
        corner.x += static_cast<float>(pull());
        corner.y += static_cast<float>(pull());
      }
      for (CvPoint& vertex : candidate.polygon) {
        if (distortion.moveOutline && random() % 4 == 0) vertex = cvPoint(vertex.x + pull(), vertex.y + pull());
      }
      DecodedSymbol read;
      if (readByPerspective(&greyImage, &binary, candidate, &read)) {
        ++reads;
        EXPECT_EQ(textOf(read), text) << "reach " << distortion.reach << ", case " << k;
      }
    }
    EXPECT_GE(reads, distortion.minReads) << "reach " << distortion.reach;
  }
}

TEST(HomographySampling, ModuleCornersLandOnTheQuadCorners) {
  const SymbolQuad quads[] = {
      {{10, 10}, {110, 10}, {110, 60}, {10, 60}},        // upright rectangle
      {{40, 12}, {180, 30}, {150, 170}, {20, 120}},      // perspective quad
      {{300, 40}, {320, 260}, {60, 250}, {90, 30}},      // turned by about 90 degrees
  };
  for (const SymbolQuad& quad : quads) {
    ModuleHomography h;
    ASSERT_TRUE(homographyForQuad(quad, 26, 12, &h));
    const CvPoint2D64f expected[4] = {quad.topLeft, quad.topRight, quad.bottomRight, quad.bottomLeft};
    const CvPoint2D64f module[4] = {{0, 0}, {26, 0}, {26, 12}, {0, 12}};
    for (int k = 0; k < 4; ++k) {
      const CvPoint2D64f p = moduleToImage(h, module[k].x, module[k].y);
      EXPECT_NEAR(p.x, expected[k].x, 1e-9);
      EXPECT_NEAR(p.y, expected[k].y, 1e-9);
    }
  }
}

TEST(HomographySampling, FoldedOrFlatQuadsAreRefused) {
  const SymbolQuad refused[] = {
      {{0, 0}, {100, 0}, {0, 100}, {100, 100}},  // corners crossed: the quad folds over
      {{0, 0}, {50, 0}, {100, 0}, {150, 0}},     // all on one line
  };
  for (const SymbolQuad& quad : refused) {
    ModuleHomography h;
    EXPECT_FALSE(homographyForQuad(quad, 10, 10, &h));
  }
}

TEST(HomographySampling, GreySamplesInterpolateAndStopAtTheImageEdge) {
  cv::Mat grey(4, 4, CV_8UC1, cv::Scalar(0));
  grey.at<std::uint8_t>(1, 2) = 200;
  IplImage image = cvIplImage(grey);
  EXPECT_DOUBLE_EQ(sampleGrey(&image, {2.0, 1.0}), 200.0);
  EXPECT_DOUBLE_EQ(sampleGrey(&image, {1.5, 1.0}), 100.0);
  EXPECT_DOUBLE_EQ(sampleGrey(&image, {2.0, 1.25}), 150.0);
  EXPECT_DOUBLE_EQ(sampleGrey(&image, {3.0, 3.0}), 0.0);
  EXPECT_LT(sampleGrey(&image, {3.01, 1.0}), 0.0);
  EXPECT_LT(sampleGrey(&image, {-0.01, 1.0}), 0.0);
  EXPECT_LT(sampleGrey(&image, {std::numeric_limits<double>::quiet_NaN(), 1.0}), 0.0);
}

}  // namespace

// The second look skips a finer outline whose frame lies where the failed try's frame lay, so the shift
// must be zero for outlines that only add vertices along the L and the timing sides, and must grow with
// a moved timing corner.
TEST(FinderFrameShift, MeasuresHowFarAFinerOutlineMovesTheFrame) {
  // An upright 100-pixel L: vertex bottom-left, leg ends stepped one pixel in as the locator leaves them.
  auto candidateWith = [](std::vector<CvPoint> polygon) {
    LocatedCandidate candidate;
    candidate.corners[0] = cvPoint2D32f(10, 110);
    candidate.corners[1] = cvPoint2D32f(10, 11);
    candidate.corners[2] = cvPoint2D32f(109, 110);
    candidate.corners[3] = cvPoint2D32f(109, 11);
    candidate.polygon = std::move(polygon);
    return candidate;
  };
  const LocatedCandidate coarse = candidateWith({{10, 10}, {10, 110}, {110, 110}, {110, 10}});
  const double infinite = std::numeric_limits<double>::infinity();
  struct Case {
    const char* name;
    LocatedCandidate finer;
    double least;
    double most;
  } cases[] = {
      {"the same outline", coarse, 0.0, 0.0},
      {"vertices added along the L", candidateWith({{10, 10}, {10, 60}, {10, 110}, {60, 110}, {110, 110}, {110, 10}}),
       0.0, 0.0},
      {"vertices added inside the timing sides",
       candidateWith({{10, 10}, {10, 110}, {110, 110}, {108, 60}, {110, 10}, {60, 12}}), 0.0, 0.0},
      {"the timing corner three pixels further out", candidateWith({{10, 10}, {10, 110}, {110, 110}, {113, 7}}),
       3.0, 20.0},
      {"too few vertices for a frame", candidateWith({{10, 10}, {10, 110}, {110, 110}}), infinite, infinite},
  };
  for (const Case& c : cases) {
    const double shift = finderFrameShift(coarse, c.finer);
    EXPECT_GE(shift, c.least) << c.name;
    EXPECT_LE(shift, c.most) << c.name;
  }
  LocatedCandidate flat = coarse;
  flat.corners[2] = cvPoint2D32f(10, 60);  // both legs along one line: no L
  EXPECT_EQ(finderFrameShift(coarse, flat), infinite) << "a candidate without an L";
}
