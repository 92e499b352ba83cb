// Light-on-dark symbols through the whole read: laser-marked metal and labels printed in negative, light
// modules and a light finder L on a dark ground. Symbols come from independent encoders and are drawn like
// camera frames with the module levels exchanged; every expected text is the encoder's input and every
// expected corner the renderer's.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <optional>
#include <ostream>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include "decoder/decoder.h"
#include "decoder/second_look/light_on_dark.h"
#include "decoder/second_look/pass_leftovers.h"
#include "decoder/second_look/second_look.h"
#include "tests/decoder/second_look/frame_reads.h"
#include "tests/decoder/second_look/located_candidates.h"
#include "tests/support/symbol_encoder.h"
#include "tests/support/symbol_renderer.h"

namespace {

using testsupport::EncoderLib;
using testsupport::SymbolMatrix;

// Squares from 10 x 10 to 64 x 64 and rectangles, from both encoders; Zint also writes the extensions.
const std::vector<SymbolKind>& symbolKinds() {
  static const std::vector<SymbolKind> kinds = {
      {"DmtxSquare", EncoderLib::Dmtx, {{10, 10}, {12, 12}, {16, 16}, {20, 20}, {24, 24}, {32, 32}}, false},
      {"DmtxRectangle", EncoderLib::Dmtx, {{8, 18}, {8, 32}, {12, 26}, {12, 36}, {16, 36}, {16, 48}}, false},
      {"ZintSquare", EncoderLib::Zint, {{14, 14}, {22, 22}, {36, 36}, {44, 44}, {52, 52}, {64, 64}}, false},
      {"ZintRectangle", EncoderLib::Zint, {{8, 18}, {12, 36}, {16, 48}, {8, 48}, {12, 64}, {20, 44}}, true},
  };
  return kinds;
}

// Where a negative symbol sits: the whole surround dark (a marked metal part), or a dark patch with the
// symbol in it on a light page (a label printed in negative).
enum class Surround { DarkPart, NegativeLabel };

struct SetKind {
  SymbolKind symbols;
  Surround surround;
};

std::string nameOf(const SetKind& kind) {
  return std::string(kind.symbols.name) + (kind.surround == Surround::DarkPart ? "OnDarkPart" : "OnNegativeLabel");
}

// Test names and failure messages show a set by its name.
void PrintTo(const SetKind& kind, std::ostream* out) { *out << nameOf(kind); }

std::vector<SetKind> setKinds() {
  std::vector<SetKind> kinds;
  for (const Surround surround : {Surround::DarkPart, Surround::NegativeLabel}) {
    for (const SymbolKind& symbols : symbolKinds()) kinds.push_back({symbols, surround});
  }
  return kinds;
}

// Clockwise on screen.
const double ROTATIONS[] = {0.0, 33.0, 90.0, 152.0, 251.0};

struct NegativeCase {
  std::string name;
  std::string text;
  SymbolMatrix symbol;
  testsupport::RenderOptions options;  // light on dark
};

// A text of letters, digits and punctuation that fills most of the size, different for every case.
std::optional<std::pair<std::string, SymbolMatrix>> textFor(const SymbolKind& kind, int rows, int cols, int seed) {
  return fillSize("Part/No 0815-" + std::to_string(seed) + " laser mark, ", 120, kind.lib, rows, cols, kind.dmre);
}

// A camera-like 640 x 480 frame: a module size that fits, the symbol anywhere in the frame, a slight
// tilt, light blur and mild noise, and light modules on a dark ground, all drawn from the case's seed.
testsupport::RenderOptions cameraFrame(const SymbolMatrix& symbol, double rotationDeg, Surround surround,
                                       std::uint32_t seed) {
  std::mt19937 random(seed);
  auto uniform = [&random](double low, double high) {
    return std::uniform_real_distribution<double>(low, high)(random);
  };
  const double span = std::hypot(symbol.cols + 6.0, symbol.rows + 6.0);
  testsupport::RenderOptions options = cameraView(span, rotationDeg, seed, random);
  options.dark = static_cast<std::uint8_t>(uniform(190.0, 230.0));  // the light modules
  options.light = static_cast<std::uint8_t>(uniform(25.0, 60.0));   // the dark ground
  if (surround == Surround::DarkPart) {
    options.background = static_cast<std::uint8_t>(options.light + uniform(-10.0, 10.0));
  } else {
    options.quietZone = 3;
    options.background = static_cast<std::uint8_t>(uniform(170.0, 220.0));
  }
  placeAnywhere(&options, span, random);
  return options;
}

// The same symbol as printed the usual way: dark modules on a light ground and page.
testsupport::RenderOptions darkOnLight(testsupport::RenderOptions options) {
  options.dark = 30;
  options.light = 220;
  options.background = 180;
  return options;
}

// Every size of a kind at every rotation.
std::vector<NegativeCase> negativeSet(const SetKind& kind) {
  std::vector<NegativeCase> made;
  // Seeds run on from set to set, each frame its own.
  std::uint32_t seed = 500;
  for (const SetKind& other : setKinds()) {
    if (nameOf(other) == nameOf(kind)) break;
    seed += static_cast<std::uint32_t>(other.symbols.sizes.size() * std::size(ROTATIONS));
  }
  for (const auto& [rows, cols] : kind.symbols.sizes) {
    for (const double rotation : ROTATIONS) {
      ++seed;
      const auto encoded = textFor(kind.symbols, rows, cols, static_cast<int>(seed));
      if (!encoded) continue;
      NegativeCase c;
      c.name = nameOf(kind) + " " + std::to_string(rows) + "x" + std::to_string(cols) + " at " +
               std::to_string(static_cast<int>(rotation)) + " deg";
      c.text = encoded->first;
      c.symbol = encoded->second;
      c.options = cameraFrame(c.symbol, rotation, kind.surround, seed);
      made.push_back(std::move(c));
    }
  }
  return made;
}

class LightOnDarkSet : public testing::TestWithParam<SetKind> {};

// Thirty frames of a kind: all but one at most read, each with the encoder's text and at the symbol's
// corners; no frame gives any other text.
TEST_P(LightOnDarkSet, FramesReadWithTheEncodersTextAtTheSymbolsCorners) {
  const std::vector<NegativeCase> cases = negativeSet(GetParam());
  ASSERT_EQ(cases.size(), 30u);
  int reads = 0;
  for (const NegativeCase& c : cases) {
    const testsupport::RenderedSymbol frame = testsupport::renderSymbol(c.symbol, c.options);
    ASSERT_FALSE(frame.grey.empty()) << c.name;
    const WholeRead read = readWhole(frame.grey);
    for (const std::string& text : read.texts) EXPECT_EQ(text, c.text) << c.name;
    if (read.texts != std::vector<std::string>{c.text}) {
      std::printf("  not read: %s\n", c.name.c_str());
      continue;
    }
    ++reads;
    EXPECT_EQ(read.readBy, SCAN_READ_AS_LIGHT_ON_DARK) << c.name;
    EXPECT_TRUE(outlineFits(read.symbols[0].corners, frame.corners, 1.5 * c.options.moduleSize + 2.0)) << c.name;
  }
  std::printf("%s: %d of %zu light-on-dark frames read\n", nameOf(GetParam()).c_str(), reads, cases.size());
  EXPECT_GE(reads, 29) << nameOf(GetParam());
}

// The same symbols printed dark on light read as they always did, never by the light-on-dark step.
TEST_P(LightOnDarkSet, TheSameSymbolsDarkOnLightReadAsBefore) {
  for (const NegativeCase& c : negativeSet(GetParam())) {
    const testsupport::RenderedSymbol frame = testsupport::renderSymbol(c.symbol, darkOnLight(c.options));
    ASSERT_FALSE(frame.grey.empty()) << c.name;
    const WholeRead read = readWhole(frame.grey);
    EXPECT_EQ(read.texts, std::vector<std::string>{c.text}) << c.name;
    EXPECT_NE(read.readBy, SCAN_READ_AS_LIGHT_ON_DARK) << c.name;
  }
}

INSTANTIATE_TEST_SUITE_P(EveryKind, LightOnDarkSet, testing::ValuesIn(setKinds()),
                         [](const testing::TestParamInfo<SetKind>& info) { return nameOf(info.param); });

bool near(CvPoint2D32f p, cv::Point2d q, double tolerance) { return std::hypot(p.x - q.x, p.y - q.y) < tolerance; }

// The light L of a negative symbol is the border of a light hole in the pass's leftovers; negated, the
// light region inside it is traced as an outer outline and passes the finder test, at the passes' accuracy
// or, for a small symbol, at the finer one. The same symbol printed dark on light gives no candidate at
// its L.
TEST(NegatedPassLeftovers, HoldACandidateAtALightL) {
  const SetKind kind = {symbolKinds()[0], Surround::NegativeLabel};
  const std::vector<NegativeCase> cases = negativeSet(kind);
  for (const size_t index : {0u, 12u, 27u}) {  // 10 x 10 at 0, 16 x 16 at 152, 32 x 32 at 90 degrees
    const NegativeCase& c = cases[index];
    const double tolerance = c.options.moduleSize + 3.0;
    for (const bool negative : {true, false}) {
      const testsupport::RenderedSymbol frame =
          testsupport::renderSymbol(c.symbol, negative ? c.options : darkOnLight(c.options));
      PassLeftovers pass;
      ASSERT_TRUE(globalPassLeftovers(frame.grey, &pass)) << c.name;
      PassLeftovers negated;
      if (!negatePassLeftovers(&pass, &negated)) {
        EXPECT_FALSE(negative) << c.name;
        continue;
      }
      std::vector<SymbolCandidate> candidates = negated.located;
      for (const SymbolCandidate& small : findSmallSymbolCandidates(&negated)) candidates.push_back(small);
      int atTheL = 0;
      for (const SymbolCandidate& candidate : candidates) {
        atTheL += near(candidate.corners[0], frame.corners.finderVertex, tolerance) ? 1 : 0;
      }
      EXPECT_EQ(atTheL > 0, negative) << c.name << (negative ? "" : ", dark on light");
    }
  }
}

// Random modules framed by a finder L and timing edges, with clutter, and clutter alone: drawn dark on
// light and then negated, nothing reads, and the plain frames read nothing either.
TEST(LightOnDarkDecoys, NegatedDecoysAndClutterGiveNoText) {
  std::mt19937 random(11);
  const std::pair<int, int> SIZES[] = {{16, 16}, {12, 26}, {22, 22}, {16, 48}, {36, 36}};
  for (const auto& [rows, cols] : SIZES) {
    const SymbolMatrix decoy = decoyMatrix(rows, cols, random);
    for (const double rotation : ROTATIONS) {
      for (const Surround surround : {Surround::DarkPart, Surround::NegativeLabel}) {
        testsupport::RenderOptions options = cameraFrame(decoy, rotation, surround, static_cast<std::uint32_t>(random()));
        options.clutter = 16;
        const cv::Mat negativeDecoy = testsupport::renderSymbol(decoy, options).grey;
        const cv::Mat plain = testsupport::renderSymbol(decoy, darkOnLight(options)).grey;
        ASSERT_FALSE(negativeDecoy.empty() || plain.empty());
        cv::Mat negatedPlain;
        cv::bitwise_not(plain, negatedPlain);
        const std::string name = std::to_string(rows) + "x" + std::to_string(cols) + " decoy at " +
                                 std::to_string(static_cast<int>(rotation));
        EXPECT_TRUE(readWhole(negativeDecoy).symbols.empty()) << name;
        EXPECT_TRUE(readWhole(negatedPlain).symbols.empty()) << name << ", negated";
        EXPECT_TRUE(readWhole(plain).symbols.empty()) << name << ", dark on light";
      }
    }
  }
}

}  // namespace
