// Test-only: the small, soft symbol sets. Every text is the encoder's input, every frame drawn by the
// test-support renderer from its own seed.
#include "tests/decoder/second_look/small_soft_sets.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <random>
#include <utility>

namespace smallsoft {
namespace {

using testsupport::SymbolMatrix;

// The 8-row sizes: the two standard rectangles, then the extension sizes.
std::vector<std::pair<std::pair<int, int>, bool>> eightRowSizes() {
  std::vector<std::pair<std::pair<int, int>, bool>> sizes = {{{8, 18}, false}, {{8, 32}, false}};
  for (const auto& size : testsupport::dmreSizes()) {
    if (size.first == 8) sizes.push_back({size, true});
  }
  return sizes;
}

// The longest text of letters, digits and punctuation, different for every seed, that Zint writes at
// exactly rows x cols.
std::optional<std::pair<std::string, SymbolMatrix>> fillingText(int rows, int cols, bool dmre, std::uint32_t seed) {
  const std::string source = "Lot " + std::to_string(seed) + "/small-soft, QA ";
  testsupport::ZintFeatures features;
  features.dmre = dmre;
  std::optional<std::pair<std::string, SymbolMatrix>> best;
  for (int length = 1; length <= 200; ++length) {
    std::string text;
    for (int i = 0; i < length; ++i) text += source[static_cast<std::size_t>(i) % source.size()];
    const auto symbol =
        testsupport::encodeZintSymbol(std::vector<std::uint8_t>(text.begin(), text.end()), rows, cols, features);
    if (!symbol || symbol->rows != rows || symbol->cols != cols) break;
    best = std::make_pair(text, *symbol);
  }
  return best;
}

// The symbol anywhere in the frame, whole with its quiet zone at any angle.
testsupport::RenderOptions placed(const SymbolMatrix& symbol, double modulePixels, std::mt19937* random) {
  auto uniform = [random](double low, double high) {
    return std::uniform_real_distribution<double>(low, high)(*random);
  };
  testsupport::RenderOptions options;
  options.moduleSize = modulePixels;
  options.rotationDeg = uniform(0.0, 360.0);
  const double reach = 0.5 * std::hypot(symbol.cols + 4.0, symbol.rows + 4.0) * modulePixels * 1.25 + 4.0;
  options.centreX = uniform(reach, options.imageWidth - reach);
  options.centreY = uniform(std::min(reach, 0.5 * options.imageHeight), std::max(options.imageHeight - reach,
                                                                                 0.5 * options.imageHeight));
  options.noiseSigma = uniform(2.0, 4.0);
  options.dark = static_cast<std::uint8_t>(uniform(25.0, 60.0));
  options.light = static_cast<std::uint8_t>(uniform(190.0, 230.0));
  options.background = static_cast<std::uint8_t>(uniform(150.0, 200.0));
  options.seed = static_cast<std::uint32_t>((*random)());
  return options;
}

std::string nameOf(int rows, int cols, const testsupport::RenderOptions& options) {
  char name[96];
  std::snprintf(name, sizeof(name), "%dx%d at %.2f px, %.0f deg, tilt %.0f/%.0f, blur %.2f", rows, cols,
                options.moduleSize, options.rotationDeg, options.tiltXDeg, options.tiltYDeg, options.blurSigma);
  return name;
}

}  // namespace

std::vector<SoftFrame> eightRowFrames(double modulePixels, double modulePixelsSpread, double maxTiltDeg,
                                      std::uint32_t seed, int count) {
  std::mt19937 random(seed);
  auto uniform = [&random](double low, double high) {
    return std::uniform_real_distribution<double>(low, high)(random);
  };
  const auto sizes = eightRowSizes();
  std::vector<SoftFrame> frames;
  for (int i = 0; i < count; ++i) {
    const auto& [size, dmre] = sizes[static_cast<std::size_t>(i) % sizes.size()];
    const auto encoded = fillingText(size.first, size.second, dmre, seed + static_cast<std::uint32_t>(i));
    if (!encoded) continue;
    SoftFrame frame;
    frame.text = encoded->first;
    frame.symbol = encoded->second;
    frame.options = placed(frame.symbol, modulePixels + uniform(0.0, modulePixelsSpread), &random);
    frame.options.tiltXDeg = uniform(-maxTiltDeg, maxTiltDeg);
    frame.options.tiltYDeg = uniform(-maxTiltDeg, maxTiltDeg);
    frame.options.blurSigma = uniform(0.3, 0.6);
    frame.name = nameOf(size.first, size.second, frame.options);
    frames.push_back(std::move(frame));
  }
  return frames;
}

std::vector<SoftFrame> blurredSquareFrames(int side, double modulePixels, double modulePixelsSpread,
                                           double blurSigma, std::uint32_t seed, int count) {
  std::mt19937 random(seed);
  auto uniform = [&random](double low, double high) {
    return std::uniform_real_distribution<double>(low, high)(random);
  };
  std::vector<SoftFrame> frames;
  for (int i = 0; i < count; ++i) {
    const auto encoded = fillingText(side, side, false, seed + static_cast<std::uint32_t>(i));
    if (!encoded) continue;
    SoftFrame frame;
    frame.text = encoded->first;
    frame.symbol = encoded->second;
    frame.options = placed(frame.symbol, modulePixels + uniform(0.0, modulePixelsSpread), &random);
    frame.options.tiltXDeg = uniform(-8.0, 8.0);
    frame.options.tiltYDeg = uniform(-8.0, 8.0);
    frame.options.blurSigma = blurSigma * uniform(0.9, 1.1);
    frame.name = nameOf(side, side, frame.options);
    frames.push_back(std::move(frame));
  }
  return frames;
}

}  // namespace smallsoft
