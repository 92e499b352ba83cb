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
    std::optional<SymbolMatrix> symbol = testsupport::encodeSymbol(text, rows, cols, testsupport::EncodeScheme::Auto, lib);
    if (symbol && symbol->rows == rows && symbol->cols == cols) return std::make_pair(text, *symbol);
  }
  return std::nullopt;
}

// Frame k of the set: 640 x 480, a symbol anywhere in it at one of several angles, mild blur and noise, dots
// of 0.6 to 0.85 of a module across, modules of 4 to 10 pixels (as large as the frame allows at the angle).
std::optional<DotFrame> dotFrame(int k) {
  const std::pair<int, int> SIZES[] = {{10, 10}, {12, 12}, {14, 14}, {16, 16}, {18, 18}, {20, 20},
                                       {22, 22}, {24, 24}, {26, 26}, {32, 32}, {8, 32},  {12, 26},
                                       {12, 36}, {16, 36}, {16, 48}};
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

struct WholeRead {
  std::vector<std::string> texts;
  ScanStep readBy = SCAN_NOTHING_READ;
};
WholeRead readWhole(const cv::Mat& grey) {
  cv::Mat copy = grey.clone();
  IplImage ipl = cvIplImage(copy);
  std::vector<DecodedSymbol> symbols;
  WholeRead read;
  EXPECT_EQ(scanImageMessages(&ipl, &symbols, &read.readBy), 0);
  for (const DecodedSymbol& symbol : symbols) read.texts.emplace_back(symbol.message.begin(), symbol.message.end());
  return read;
}

constexpr int SET_FRAMES = 30;

TEST(DotSymbolRead, DotMarkedFramesReadWithNoWrongText) {
  int readBefore = 0, readJoined = 0, wrong = 0;
  for (int k = 0; k < SET_FRAMES; ++k) {
    const std::optional<DotFrame> frame = dotFrame(k);
    ASSERT_TRUE(frame) << k;
    const testsupport::RenderedSymbol rendered =
        testsupport::renderDotSymbol(frame->symbol, frame->options, frame->dotShare);
    ASSERT_FALSE(rendered.grey.empty()) << frame->name;
    const WholeRead read = readWhole(rendered.grey);
    for (const std::string& text : read.texts) wrong += text == frame->text ? 0 : 1;
    const bool read_ = read.texts == std::vector<std::string>{frame->text};
    if (read_ && read.readBy == SCAN_READ_BY_JOINED_DOTS) ++readJoined;
    if (read_ && read.readBy != SCAN_READ_BY_JOINED_DOTS) ++readBefore;
    std::printf("%s: %s\n", frame->name.c_str(), read_ ? (read.readBy == SCAN_READ_BY_JOINED_DOTS ? "joined" : "read") : "missed");
  }
  std::printf("read before joining: %d of %d; read in all: %d\n", readBefore, SET_FRAMES, readBefore + readJoined);
  EXPECT_GE(readBefore + readJoined, 25);
  EXPECT_EQ(wrong, 0);
}

}  // namespace

