#include "tests/decoder/second_look/frame_reads.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include <gtest/gtest.h>

using testsupport::EncoderLib;
using testsupport::SymbolMatrix;

void PrintTo(const SymbolKind& kind, std::ostream* out) { *out << kind.name; }

std::optional<SymbolMatrix> encodeAt(const std::string& text, EncoderLib lib, int rows, int cols, bool dmre) {
  const std::vector<std::uint8_t> bytes(text.begin(), text.end());
  if (lib == EncoderLib::Dmtx) return testsupport::encodeSymbol(bytes, rows, cols);
  testsupport::ZintFeatures features;
  features.dmre = dmre;
  return testsupport::encodeZintSymbol(bytes, rows, cols, features);
}

std::optional<std::pair<std::string, SymbolMatrix>> fillSize(const std::string& source, int maxLength,
                                                             EncoderLib lib, int rows, int cols, bool dmre) {
  std::optional<std::pair<std::string, SymbolMatrix>> best;
  for (int length = 1; length <= maxLength; ++length) {
    std::string text;
    for (int i = 0; i < length; ++i) text += source[i % source.size()];
    std::optional<SymbolMatrix> symbol = encodeAt(text, lib, rows, cols, dmre);
    if (!symbol) break;
    best = std::make_pair(text, *symbol);
  }
  return best;
}

SymbolMatrix decoyMatrix(int rows, int cols, std::mt19937& random) {
  SymbolMatrix decoy;
  decoy.rows = rows;
  decoy.cols = cols;
  decoy.modules.resize(static_cast<size_t>(rows) * cols);
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < cols; ++c) {
      std::uint8_t dark = static_cast<std::uint8_t>(random() & 1u);
      if (c == 0 || r == rows - 1) dark = 1;                                      // finder L
      if (r == 0) dark = c % 2 == 0 ? 1 : 0;                                      // top timing row
      if (c == cols - 1 && r < rows - 1) dark = (rows - 1 - r) % 2 == 0 ? 1 : 0;  // right timing column
      decoy.modules[static_cast<size_t>(r) * cols + c] = dark;
    }
  }
  return decoy;
}

testsupport::RenderOptions cameraView(double span, double rotationDeg, std::uint32_t seed, std::mt19937& random) {
  auto uniform = [&random](double low, double high) {
    return std::uniform_real_distribution<double>(low, high)(random);
  };
  testsupport::RenderOptions options;
  options.moduleSize = std::min(uniform(4.0, 7.0), 400.0 / span);
  options.rotationDeg = rotationDeg;
  options.tiltXDeg = uniform(-8.0, 8.0);
  options.tiltYDeg = uniform(-8.0, 8.0);
  options.blurSigma = 0.6;
  options.noiseSigma = 4.0;
  options.seed = seed;
  return options;
}

void placeAnywhere(testsupport::RenderOptions* options, double span, std::mt19937& random) {
  const double reach = 0.5 * span * options->moduleSize * 1.1 + 4.0;
  options->centreX = std::uniform_real_distribution<double>(reach, options->imageWidth - reach)(random);
  options->centreY = std::uniform_real_distribution<double>(reach, options->imageHeight - reach)(random);
}

WholeRead readWhole(const cv::Mat& grey, int extraLookTurn) {
  cv::Mat copy = grey.clone();
  IplImage ipl = cvIplImage(copy);
  WholeRead read;
  EXPECT_EQ(scanImageMessages(&ipl, &read.symbols, &read.readBy, extraLookTurn), 0);
  for (const DecodedSymbol& symbol : read.symbols) {
    read.texts.emplace_back(symbol.message.begin(), symbol.message.end());
  }
  return read;
}

bool outlineFits(const CvPoint read[4], const testsupport::SymbolCorners& corners, double tolerance) {
  auto near = [tolerance](CvPoint p, cv::Point2d q) { return std::hypot(p.x - q.x, p.y - q.y) < tolerance; };
  const bool legsInOrder = near(read[0], corners.verticalLegEnd) && near(read[2], corners.horizontalLegEnd);
  const bool legsExchanged = near(read[0], corners.horizontalLegEnd) && near(read[2], corners.verticalLegEnd);
  return (legsInOrder || legsExchanged) && near(read[1], corners.timingCorner) && near(read[3], corners.finderVertex);
}
