// Mirrored symbols through the whole read: printed on the back of a clear label, seen through film or
// from a mirrored camera picture. Symbols come from independent encoders and are drawn like camera frames,
// then the frame is flipped; every expected text is the encoder's input and every expected corner the
// renderer's, flipped with the frame.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <optional>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include "decoder/decoder.h"
#include "decoder/ecc200/ecc200.h"
#include "decoder/second_look/mirrored_symbols.h"
#include "decoder/second_look/pass_leftovers.h"
#include "decoder/second_look/second_look.h"
#include "tests/decoder/second_look/frame_reads.h"
#include "tests/decoder/second_look/located_candidates.h"
#include "tests/support/ecc200_matrix.h"
#include "tests/support/symbol_encoder.h"
#include "tests/support/symbol_renderer.h"

namespace {

using testsupport::EncoderLib;
using testsupport::SymbolMatrix;

enum class Flip { Horizontal, Vertical };

// Squares and rectangles from both encoders; Zint also writes the rectangular extensions.
const std::vector<SymbolKind>& symbolKinds() {
  static const std::vector<SymbolKind> kinds = {
      {"DmtxSquare", EncoderLib::Dmtx, {{10, 10}, {12, 12}, {16, 16}, {20, 20}, {24, 24}, {32, 32}}, false},
      {"DmtxRectangle", EncoderLib::Dmtx, {{8, 18}, {8, 32}, {12, 26}, {12, 36}, {16, 36}, {16, 48}}, false},
      {"ZintSquare", EncoderLib::Zint, {{14, 14}, {18, 18}, {22, 22}, {26, 26}, {36, 36}, {44, 44}}, false},
      {"ZintRectangle", EncoderLib::Zint, {{8, 18}, {12, 36}, {16, 48}, {8, 48}, {12, 64}, {20, 44}}, true},
  };
  return kinds;
}

// Clockwise on screen, before the flip.
const double ROTATIONS[] = {0.0, 27.0, 90.0, 161.0, 238.0};

struct MirroredCase {
  std::string name;
  std::string text;
  SymbolMatrix symbol;
  testsupport::RenderOptions options;
  Flip flip = Flip::Horizontal;
};

// A text of letters, digits and punctuation that fills most of the size, different for every case.
std::optional<std::pair<std::string, SymbolMatrix>> textFor(const SymbolKind& kind, int rows, int cols, int seed) {
  return fillSize("Mirror/Label 4711-" + std::to_string(seed) + " back side, ", 120, kind.lib, rows, cols, kind.dmre);
}

// A camera-like 640 x 480 frame: a module size that fits, the symbol anywhere in the frame, a slight
// tilt, light blur and mild noise, all drawn from the case's seed.
testsupport::RenderOptions cameraFrame(const SymbolMatrix& symbol, double rotationDeg, std::uint32_t seed) {
  std::mt19937 random(seed);
  const double span = std::hypot(symbol.cols + 4.0, symbol.rows + 4.0);
  testsupport::RenderOptions options = cameraView(span, rotationDeg, seed, random);
  placeAnywhere(&options, span, random);
  return options;
}

// Every size of a kind at every rotation, the flip alternating between the two mirror axes.
std::vector<MirroredCase> mirroredSet(const SymbolKind& kind) {
  std::vector<MirroredCase> made;
  // Seeds run on from kind to kind, each frame its own.
  std::uint32_t seed = 100;
  for (const SymbolKind& other : symbolKinds()) {
    if (std::string(other.name) == kind.name) break;
    seed += static_cast<std::uint32_t>(other.sizes.size() * std::size(ROTATIONS));
  }
  for (const auto& [rows, cols] : kind.sizes) {
    for (const double rotation : ROTATIONS) {
      ++seed;
      const auto encoded = textFor(kind, rows, cols, static_cast<int>(seed));
      if (!encoded) continue;
      MirroredCase c;
      c.flip = seed % 2 == 0 ? Flip::Horizontal : Flip::Vertical;
      c.name = std::string(kind.name) + " " + std::to_string(rows) + "x" + std::to_string(cols) + " at " +
               std::to_string(static_cast<int>(rotation)) + " deg, " +
               (c.flip == Flip::Horizontal ? "flipped left-right" : "flipped upside down");
      c.text = encoded->first;
      c.symbol = encoded->second;
      c.options = cameraFrame(c.symbol, rotation, seed);
      made.push_back(std::move(c));
    }
  }
  return made;
}

cv::Point2d flipped(cv::Point2d p, Flip flip, const cv::Mat& image) {
  // Pixel centres lie on whole numbers: pixel x becomes pixel width - 1 - x.
  if (flip == Flip::Horizontal) return {image.cols - 1 - p.x, p.y};
  return {p.x, image.rows - 1 - p.y};
}

// The frame flipped, and the symbol's corners with it.
testsupport::RenderedSymbol renderMirrored(const MirroredCase& c) {
  const testsupport::RenderedSymbol rendered = testsupport::renderSymbol(c.symbol, c.options);
  testsupport::RenderedSymbol frame;
  if (rendered.grey.empty()) return frame;
  cv::flip(rendered.grey, frame.grey, c.flip == Flip::Horizontal ? 1 : 0);
  const testsupport::SymbolCorners& upright = rendered.corners;
  frame.corners.finderVertex = flipped(upright.finderVertex, c.flip, rendered.grey);
  frame.corners.verticalLegEnd = flipped(upright.verticalLegEnd, c.flip, rendered.grey);
  frame.corners.horizontalLegEnd = flipped(upright.horizontalLegEnd, c.flip, rendered.grey);
  frame.corners.timingCorner = flipped(upright.timingCorner, c.flip, rendered.grey);
  return frame;
}

class MirroredKind : public testing::TestWithParam<SymbolKind> {};

// Thirty frames of a kind: all but two at most read, each with the encoder's text and at the symbol's
// corners; no frame gives any other text.
TEST_P(MirroredKind, FramesReadWithTheEncodersTextAtTheSymbolsCorners) {
  const std::vector<MirroredCase> cases = mirroredSet(GetParam());
  ASSERT_EQ(cases.size(), 30u);
  int reads = 0;
  for (const MirroredCase& c : cases) {
    const testsupport::RenderedSymbol frame = renderMirrored(c);
    ASSERT_FALSE(frame.grey.empty()) << c.name;
    const WholeRead read = readWhole(frame.grey);
    for (const std::string& text : read.texts) EXPECT_EQ(text, c.text) << c.name;
    if (read.texts != std::vector<std::string>{c.text}) continue;
    ++reads;
    EXPECT_EQ(read.readBy, SCAN_READ_BY_MIRRORED_SYMBOL) << c.name;
    EXPECT_TRUE(outlineFits(read.symbols[0].corners, frame.corners, 1.5 * c.options.moduleSize + 2.0)) << c.name;
  }
  std::printf("%s: %d of %zu mirrored frames read\n", GetParam().name, reads, cases.size());
  EXPECT_GE(reads, 28) << GetParam().name;
}

// The same symbols seen from the front read as they always did, never as mirror images.
TEST_P(MirroredKind, TheSameSymbolsUnmirroredReadAsBefore) {
  for (const MirroredCase& c : mirroredSet(GetParam())) {
    const testsupport::RenderedSymbol rendered = testsupport::renderSymbol(c.symbol, c.options);
    ASSERT_FALSE(rendered.grey.empty()) << c.name;
    const WholeRead read = readWhole(rendered.grey);
    EXPECT_EQ(read.texts, std::vector<std::string>{c.text}) << c.name;
    EXPECT_NE(read.readBy, SCAN_READ_BY_MIRRORED_SYMBOL) << c.name;
  }
}

INSTANTIATE_TEST_SUITE_P(EveryKind, MirroredKind, testing::ValuesIn(symbolKinds()),
                         [](const testing::TestParamInfo<SymbolKind>& info) { return std::string(info.param.name); });

// A frame of the set whose mirrored L the global pass's finder test misses: the outline's corner points
// are found by their nearness to the image's left and top edges, and on the mirror image a point near the
// short leg's end wins where seen from the front the timing edge's end does. The outline's mirror image
// passes the test, and the candidate lies on the symbol and reads.
TEST(MirroredFinderCandidates, FindTheLTheFinderTestMissesInAMirrorImage) {
  const std::string NAME = "ZintRectangle 20x44 at 0 deg, flipped left-right";
  std::optional<MirroredCase> found;
  const SymbolKind& zintRectangles = symbolKinds().back();
  for (const MirroredCase& c : mirroredSet(zintRectangles)) {
    if (c.name == NAME) found = c;
  }
  ASSERT_TRUE(found);
  const testsupport::RenderedSymbol frame = renderMirrored(*found);
  PassLeftovers pass;
  ASSERT_TRUE(globalPassLeftovers(frame.grey, &pass));
  const double tolerance = found->options.moduleSize + 3.0;
  auto near = [tolerance](CvPoint2D32f p, cv::Point2d q) { return std::hypot(p.x - q.x, p.y - q.y) < tolerance; };
  const testsupport::SymbolCorners& corners = frame.corners;
  for (const SymbolCandidate& located : pass.located) EXPECT_FALSE(near(located.corners[0], corners.finderVertex));

  int onSymbol = 0;
  for (const SymbolCandidate& candidate : findMirroredFinderCandidates(&pass)) {
    if (!near(candidate.corners[0], corners.finderVertex)) continue;
    ++onSymbol;
    // The leg ends, moved in by the locator's step, lie on the symbol's leg ends.
    const bool legsInOrder =
        near(candidate.corners[1], corners.verticalLegEnd) && near(candidate.corners[2], corners.horizontalLegEnd);
    const bool legsExchanged =
        near(candidate.corners[1], corners.horizontalLegEnd) && near(candidate.corners[2], corners.verticalLegEnd);
    EXPECT_TRUE(legsInOrder || legsExchanged);
    DecodedSymbol symbol;
    MatrixSide side = MatrixSide::Front;
    ASSERT_TRUE(retryCandidate(pass, candidate, &symbol, &side));
    EXPECT_EQ(side, MatrixSide::Mirrored);
    EXPECT_EQ(std::string(symbol.message.begin(), symbol.message.end()), found->text);
  }
  EXPECT_EQ(onSymbol, 1);
}

// Finder and timing edges around random modules, and clutter alone, mirrored or not: nothing reads.
TEST(MirroredDecoys, DecoysAndClutterGiveNoText) {
  std::mt19937 random(7);
  const std::pair<int, int> SIZES[] = {{16, 16}, {12, 26}, {22, 22}, {16, 48}};
  for (const auto& [rows, cols] : SIZES) {
    const SymbolMatrix decoy = decoyMatrix(rows, cols, random);
    for (const double rotation : ROTATIONS) {
      for (const Flip flip : {Flip::Horizontal, Flip::Vertical}) {
        testsupport::RenderOptions options = cameraFrame(decoy, rotation, static_cast<std::uint32_t>(random()));
        options.clutter = 12;
        const testsupport::RenderedSymbol rendered = testsupport::renderSymbol(decoy, options);
        ASSERT_FALSE(rendered.grey.empty());
        cv::Mat mirrored;
        cv::flip(rendered.grey, mirrored, flip == Flip::Horizontal ? 1 : 0);
        EXPECT_TRUE(readWhole(mirrored).symbols.empty()) << rows << "x" << cols << " decoy at " << rotation;
        EXPECT_TRUE(readWhole(rendered.grey).symbols.empty()) << rows << "x" << cols << " decoy at " << rotation;
      }
    }
  }
}

// The symbol as a reader sees its mirror image: flipped left to right, then turned a quarter clockwise so
// that its finder L lies at the bottom left again. A rows x cols symbol becomes cols x rows.
SymbolMatrix seenMirrored(const SymbolMatrix& symbol) {
  const cv::Mat front(symbol.rows, symbol.cols, CV_8UC1, const_cast<std::uint8_t*>(symbol.modules.data()));
  cv::Mat flippedImage, turned;
  cv::flip(front, flippedImage, 1);
  cv::rotate(flippedImage, turned, cv::ROTATE_90_CLOCKWISE);
  SymbolMatrix seen;
  seen.rows = turned.rows;
  seen.cols = turned.cols;
  seen.modules.assign(turned.datastart, turned.dataend);
  return seen;
}

// The symbol with its data area (below the top timing row, left of the right timing column) replaced.
SymbolMatrix withDataArea(SymbolMatrix symbol, const std::vector<std::uint8_t>& matrix) {
  for (int r = 1; r < symbol.rows; ++r) {
    for (int c = 0; c + 1 < symbol.cols; ++c) {
      symbol.modules[static_cast<size_t>(r) * symbol.cols + c] =
          matrix[static_cast<size_t>(r - 1) * (symbol.cols - 1) + c];
    }
  }
  return symbol;
}

struct SideCase {
  const char* name;
  EncoderLib lib;
  int rows, cols;
  bool dmre;
};

const SideCase SIDE_CASES[] = {
    {"10x10 dmtx", EncoderLib::Dmtx, 10, 10, false},     {"24x24 dmtx", EncoderLib::Dmtx, 24, 24, false},
    {"8x18 dmtx", EncoderLib::Dmtx, 8, 18, false},       {"16x48 dmtx", EncoderLib::Dmtx, 16, 48, false},
    {"64x64 zint", EncoderLib::Zint, 64, 64, false},     {"12x36 zint", EncoderLib::Zint, 12, 36, false},
    {"8x64 zint", EncoderLib::Zint, 8, 64, true},        {"26x40 zint", EncoderLib::Zint, 26, 40, true},
    {"144x144 zint", EncoderLib::Zint, 144, 144, false},
};

// Both sides of every kind of size: the matrix as sampled from the front reads as it is, the one sampled
// from a mirror image reads mirrored, each with the encoder's text; sampled mirror images of rectangles
// have the wrong shape for any size until columns and rows are exchanged.
TEST(MirroredModuleMatrix, EachSideReadsTheWayItWasSeen) {
  for (const SideCase& c : SIDE_CASES) {
    SymbolKind kind = {c.name, c.lib, {}, c.dmre};
    const auto encoded = textFor(kind, c.rows, c.cols, c.rows * c.cols);
    ASSERT_TRUE(encoded) << c.name;
    const SymbolMatrix& front = encoded->second;
    const SymbolMatrix back = seenMirrored(front);
    // The finder L where the sampling expects it.
    for (int r = 0; r < back.rows; ++r) ASSERT_EQ(back.at(r, 0), 1) << c.name;
    for (int col = 0; col < back.cols; ++col) ASSERT_EQ(back.at(back.rows - 1, col), 1) << c.name;

    Ecc200Message message;
    MatrixSide side = MatrixSide::Mirrored;
    const std::vector<std::uint8_t> frontMatrix = ecc200test::moduleMatrixOf(front);
    ASSERT_TRUE(decodeEitherSide(frontMatrix.data(), front.cols, front.rows, &message, &side)) << c.name;
    EXPECT_EQ(side, MatrixSide::Front) << c.name;
    EXPECT_EQ(std::string(message.bytes.begin(), message.bytes.end()), encoded->first) << c.name;

    const std::vector<std::uint8_t> backMatrix = ecc200test::moduleMatrixOf(back);
    EXPECT_EQ(findEcc200SymbolIn(back.cols, back.rows, true) != nullptr, c.rows == c.cols) << c.name;
    ASSERT_TRUE(decodeEitherSide(backMatrix.data(), back.cols, back.rows, &message, &side)) << c.name;
    EXPECT_EQ(side, MatrixSide::Mirrored) << c.name;
    EXPECT_EQ(std::string(message.bytes.begin(), message.bytes.end()), encoded->first) << c.name;

    // Only the reflection that keeps the finder L reads: the plain transpose puts it top right.
    SymbolMatrix transposed;
    transposed.rows = front.cols;
    transposed.cols = front.rows;
    for (int r = 0; r < transposed.rows; ++r) {
      for (int col = 0; col < transposed.cols; ++col) transposed.modules.push_back(front.at(col, r));
    }
    const std::vector<std::uint8_t> transposedMatrix = ecc200test::moduleMatrixOf(transposed);
    EXPECT_FALSE(decodeEitherSide(transposedMatrix.data(), transposed.cols, transposed.rows, &message, &side))
        << c.name;
  }
}

// Damage to a symbol's data area.
enum class Damage { HalfTheCapacity, OverHalfTheCapacity, LightFinder };

struct DamageCase {
  const char* name;
  Damage damage;
  bool reads;
};

const DamageCase DAMAGE_CASES[] = {
    {"half the capacity", Damage::HalfTheCapacity, true},
    {"over half the capacity", Damage::OverHalfTheCapacity, false},
    {"light finder", Damage::LightFinder, false},
};

// The symbol's data area with codewords of its first block spoilt, or every third module of its finder L
// light.
std::vector<std::uint8_t> damagedMatrix(const SymbolMatrix& front, Damage damage) {
  std::vector<std::uint8_t> matrix = ecc200test::moduleMatrixOf(front);
  const int width = front.cols - 1, height = front.rows - 1;
  if (damage == Damage::LightFinder) {
    for (int row = 0; row < height; row += 3) matrix[static_cast<size_t>(row) * width] = 0;
    for (int col = 1; col < width; col += 3) matrix[static_cast<size_t>(height - 1) * width + col] = 0;
    return matrix;
  }
  const Ecc200Symbol& size = *findEcc200SymbolIn(front.cols, front.rows, true);
  const int halfCapacity = ecc200BlockEccLength(size) / 2 / 2;
  const int spoilt = damage == Damage::HalfTheCapacity ? halfCapacity : halfCapacity + 1;
  const std::vector<int> positions = ecc200test::blockPositions(size, 0);
  for (int k = 0; k < spoilt; ++k) {
    ecc200test::corruptCodeword(&matrix, ecc200CodewordModules(size), positions[static_cast<size_t>(k)], 0x5a);
  }
  return matrix;
}

// A mirror image is read under the second look's guards: at most half of a block's correction capacity,
// a dark finder L.
TEST(MirroredModuleMatrix, MirrorImagesPassTheSameGuards) {
  for (const SideCase& c : SIDE_CASES) {
    SymbolKind kind = {c.name, c.lib, {}, c.dmre};
    const auto encoded = textFor(kind, c.rows, c.cols, 3);
    ASSERT_TRUE(encoded) << c.name;
    for (const DamageCase& d : DAMAGE_CASES) {
      const SymbolMatrix back = seenMirrored(withDataArea(encoded->second, damagedMatrix(encoded->second, d.damage)));
      const std::vector<std::uint8_t> backMatrix = ecc200test::moduleMatrixOf(back);
      Ecc200Message message;
      MatrixSide side = MatrixSide::Front;
      EXPECT_EQ(decodeEitherSide(backMatrix.data(), back.cols, back.rows, &message, &side), d.reads)
          << c.name << ", " << d.name;
      if (!d.reads) continue;
      EXPECT_EQ(side, MatrixSide::Mirrored) << c.name << ", " << d.name;
      EXPECT_EQ(std::string(message.bytes.begin(), message.bytes.end()), encoded->first) << c.name << ", " << d.name;
    }
  }
}

}  // namespace
