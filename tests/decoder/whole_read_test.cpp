// The whole read: which pass's results come back, when the second look runs, what it reads and what its
// guards refuse. Symbols come from an independent encoder; expected texts are the encoder's input.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/ecc200_matrix.h"
#include "decoder/decoder.h"
#include "decoder/ecc200/ecc200.h"
#include "decoder/second_look.h"
#include "tests/support/symbol_encoder.h"
#include "tests/support/symbol_renderer.h"

namespace {

struct PassOutput {
  int status = 0;
  int count = 0;
  DecodeResult results[DECODE_MAX_RESULTS];
};

PassOutput runPass(cv::Mat& grey, const ScanPass& pass) {
  PassOutput out;
  std::memset(out.results, 0, sizeof(out.results));
  IplImage ipl = cvIplImage(grey);
  out.status = decodeImage(&ipl, out.results, &out.count, pass.threshold, pass.flags);
  return out;
}

struct ScanOutput {
  int status = 0;
  int count = -7;
  ScanStep readBy = SCAN_NOTHING_READ;
  DecodeResult results[DECODE_MAX_RESULTS];
};

ScanOutput scan(cv::Mat& grey) {
  ScanOutput out;
  std::memset(out.results, 0, sizeof(out.results));
  IplImage ipl = cvIplImage(grey);
  out.status = scanImage(&ipl, out.results, &out.count, &out.readBy);
  return out;
}

cv::Mat renderText(const std::string& text, int rows, int cols, const testsupport::RenderOptions& options) {
  const auto symbol = testsupport::encodeSymbol(text, rows, cols);
  EXPECT_TRUE(symbol.has_value()) << text;
  if (!symbol) return {};
  return testsupport::renderSymbol(*symbol, options).grey;
}

// An encoder's picture: axis-aligned, whole pixels per module, no blur, edges on pixel boundaries.
testsupport::RenderOptions pixelExact(int moduleSize) {
  testsupport::RenderOptions options;
  options.imageWidth = 1280;
  options.imageHeight = 1024;
  options.moduleSize = moduleSize;
  options.centreX = 639.5;  // an even number of modules puts every module edge between two pixels
  options.centreY = 511.5;
  return options;
}

// When the global pass reads, the whole read returns exactly its results; when only the adaptive pass
// reads, exactly the adaptive pass's results. The second look never runs on such frames.
TEST(WholeRead, ReturnsThePassThatReadExactlyAsDecodeImageGivesIt) {
  testsupport::RenderOptions clean;
  clean.moduleSize = 6;
  clean.rotationDeg = 17;
  clean.clutter = 8;
  cv::Mat globalFrame = renderText("GLOBAL PASS", 16, 16, clean);
  const PassOutput global = runPass(globalFrame, SCAN_GLOBAL_PASS);
  ASSERT_GT(global.count, 0);
  ScanOutput whole = scan(globalFrame);
  EXPECT_EQ(whole.status, 0);
  EXPECT_EQ(whole.readBy, SCAN_READ_BY_GLOBAL_PASS);
  ASSERT_EQ(whole.count, global.count);
  EXPECT_EQ(std::memcmp(whole.results, global.results, sizeof(whole.results)), 0);

  // A shadow over the right half of the picture defeats the one global level, not the adaptive one.
  testsupport::RenderOptions shadowed;
  shadowed.moduleSize = 6;
  shadowed.rotationDeg = 10;
  cv::Mat adaptiveFrame = renderText("ADAPTIVE", 18, 18, shadowed);
  adaptiveFrame.colRange(320, adaptiveFrame.cols) *= 0.6;
  ASSERT_EQ(runPass(adaptiveFrame, SCAN_GLOBAL_PASS).count, 0);
  const PassOutput adaptive = runPass(adaptiveFrame, SCAN_ADAPTIVE_PASS);
  ASSERT_GT(adaptive.count, 0);
  whole = scan(adaptiveFrame);
  EXPECT_EQ(whole.readBy, SCAN_READ_BY_ADAPTIVE_PASS);
  ASSERT_EQ(whole.count, adaptive.count);
  EXPECT_EQ(std::memcmp(whole.results, adaptive.results, sizeof(whole.results)), 0);
}

// A uniform frame fails the global pass (no contour at all) and gives the adaptive pass nothing: the
// whole read has run and found nothing.
TEST(WholeRead, UniformFrameReadsNothingAfterTheGlobalPassFails) {
  cv::Mat grey(120, 160, CV_8UC1, cv::Scalar(140));
  ASSERT_EQ(runPass(grey, SCAN_GLOBAL_PASS).status, -1);
  const ScanOutput whole = scan(grey);
  EXPECT_EQ(whole.status, 0);
  EXPECT_EQ(whole.count, 0);
  EXPECT_EQ(whole.readBy, SCAN_NOTHING_READ);
  std::vector<DecodedSymbol> symbols;
  IplImage ipl = cvIplImage(grey);
  EXPECT_EQ(scanImageMessages(&ipl, &symbols), 0);
  EXPECT_TRUE(symbols.empty());
}

TEST(WholeRead, RefusesUnusableImagesWithoutTouchingOutputs) {
  cv::Mat colour(40, 40, CV_8UC3, cv::Scalar(1, 2, 3));
  IplImage colourIpl = cvIplImage(colour);
  IplImage* images[] = {nullptr, &colourIpl};
  for (IplImage* image : images) {
    DecodeResult results[DECODE_MAX_RESULTS];
    std::memset(results, 0x5a, sizeof(results));
    int count = -7;
    ScanStep readBy = SCAN_READ_BY_RETRY;
    EXPECT_EQ(scanImage(image, results, &count, &readBy), -1);
    EXPECT_EQ(count, -7);
    EXPECT_EQ(readBy, SCAN_READ_BY_RETRY);
    EXPECT_EQ(static_cast<unsigned char>(results[0].text[0]), 0x5a);
    std::vector<DecodedSymbol> symbols(1);
    EXPECT_EQ(scanImageMessages(image, &symbols), -1);
    EXPECT_EQ(symbols.size(), 1u);
  }
}

// Encoder-style pictures that both passes miss: the leg-end step of the passes lands between modules,
// or the 5-pixel outline of a small symbol is too plain for the finder test.
TEST(SecondLook, ReadsEncoderPicturesBothPassesMiss) {
  struct Case {
    int rows, cols, moduleSize;
  } cases[] = {{14, 14, 3}, {16, 16, 7}, {18, 18, 6}, {26, 26, 4}, {52, 52, 4}};
  for (const Case& c : cases) {
    const std::string text = "LOOK " + std::to_string(c.rows) + "@" + std::to_string(c.moduleSize);
    const std::string name = std::to_string(c.rows) + "x" + std::to_string(c.cols) + " at " +
                             std::to_string(c.moduleSize) + " px";
    cv::Mat grey = renderText(text, c.rows, c.cols, pixelExact(c.moduleSize));
    ASSERT_FALSE(grey.empty()) << name;
    ASSERT_EQ(runPass(grey, SCAN_GLOBAL_PASS).count, 0) << name;
    ASSERT_EQ(runPass(grey, SCAN_ADAPTIVE_PASS).count, 0) << name;
    const ScanOutput whole = scan(grey);
    ASSERT_EQ(whole.count, 1) << name;
    EXPECT_EQ(std::string(whole.results[0].text), text) << name;
    EXPECT_GE(whole.readBy, SCAN_READ_BY_RETRY) << name;

    std::vector<DecodedSymbol> symbols;
    IplImage ipl = cvIplImage(grey);
    ASSERT_EQ(scanImageMessages(&ipl, &symbols), 0) << name;
    ASSERT_EQ(symbols.size(), 1u) << name;
    EXPECT_EQ(std::string(symbols[0].message.begin(), symbols[0].message.end()), text) << name;
  }
}

// Camera pictures of large symbols: the passes step the leg ends in by a pixel per hundred pixels of leg,
// which at 3 to 4 pixels per module skips a whole module; the retry steps in by half the finder bar.
TEST(SecondLook, ReadsLargeSymbolsAtFewPixelsPerModule) {
  struct Case {
    int size;
    double moduleSize, rotation, tilt, blur;
  } cases[] = {{88, 3.4, 295.0, -10.0, 0.8}};
  for (const Case& c : cases) {
    const std::string text = "LARGE " + std::to_string(c.size);
    testsupport::RenderOptions options;
    options.moduleSize = c.moduleSize;
    options.rotationDeg = c.rotation;
    options.tiltYDeg = c.tilt;
    options.blurSigma = c.blur;
    options.noiseSigma = 2.0;
    cv::Mat grey = renderText(text, c.size, c.size, options);
    ASSERT_FALSE(grey.empty()) << c.size;
    ASSERT_EQ(runPass(grey, SCAN_GLOBAL_PASS).count, 0) << c.size;
    ASSERT_EQ(runPass(grey, SCAN_ADAPTIVE_PASS).count, 0) << c.size;
    const ScanOutput whole = scan(grey);
    ASSERT_EQ(whole.count, 1) << c.size;
    EXPECT_EQ(std::string(whole.results[0].text), text) << c.size;
    EXPECT_EQ(whole.readBy, SCAN_READ_BY_RETRY) << c.size;
  }
}

// Frames of clutter alone (bars, blobs, text-like strokes), at the benchmark's sizes: no text at all.
TEST(SecondLook, ClutterAloneGivesNoText) {
  const cv::Size sizes[] = {{640, 480}, {1280, 720}};
  for (const cv::Size size : sizes) {
    for (std::uint32_t seed = 1; seed <= 15; ++seed) {
      testsupport::RenderOptions scene;
      scene.imageWidth = size.width;
      scene.imageHeight = size.height;
      scene.clutter = 40;
      scene.noiseSigma = 3;
      scene.seed = seed;
      cv::Mat grey = testsupport::renderSymbols({}, scene).grey;
      ASSERT_FALSE(grey.empty());
      const ScanOutput whole = scan(grey);
      EXPECT_EQ(whole.count, 0) << size << " seed " << seed << ": " << whole.results[0].text;
    }
  }
}

// The guards on the data: a matrix Reed-Solomon can still mend but only with more than half of a block's
// capacity is refused, and so is one whose finder L is not dark.
TEST(SecondLookGuards, RefuseCostlyCorrectionsAndALightFinder) {
  const std::string text = "GUARDED READ 2024";
  const auto symbol = testsupport::encodeSymbol(text, 24, 24);
  ASSERT_TRUE(symbol.has_value());
  const std::vector<std::uint8_t> clean = ecc200test::moduleMatrixOf(*symbol);
  const Ecc200Symbol& size = *findEcc200Symbol(24, 24);
  const std::vector<int>& modules = ecc200CodewordModules(size);
  const int capacity = ecc200BlockEccLength(size) / 2;
  const std::vector<int> positions = ecc200test::blockPositions(size, 0);

  struct Case {
    const char* name;
    int corruptedCodewords;
    bool lightFinder;
    bool reads;
  } cases[] = {
      {"clean", 0, false, true},
      {"half the capacity", capacity / 2, false, true},
      {"over half the capacity", capacity / 2 + 1, false, false},
      {"full capacity", capacity, false, false},
      {"light finder column", 0, true, false},
  };
  for (const Case& c : cases) {
    std::vector<std::uint8_t> matrix = clean;
    for (int k = 0; k < c.corruptedCodewords; ++k) {
      ecc200test::corruptCodeword(&matrix, modules, positions[static_cast<size_t>(k)], 0x5a);
    }
    if (c.lightFinder) {
      for (int row = 0; row < 23; row += 3) matrix[static_cast<size_t>(row) * 23] = 0;  // 8 of 23 light
    }
    std::vector<std::uint8_t> plain;
    EXPECT_EQ(decodeEcc200(matrix.data(), 24, 24, &plain), c.corruptedCodewords <= capacity) << c.name;
    std::vector<std::uint8_t> message;
    EXPECT_EQ(decodeGuarded(matrix.data(), 24, 24, &message), c.reads) << c.name;
    if (c.reads) {
      EXPECT_EQ(std::string(message.begin(), message.end()), text) << c.name;
    }
  }
}

}  // namespace
