// decodeImage's contract: argument checks, flag handling, thresholds and the copy-out.
#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include "decoder/decoder.h"
#include "decoder/decoder_internal.h"
#include "decoder/binarize.h"
#include "tests/support/symbol_encoder.h"
#include "tests/support/symbol_renderer.h"

namespace {

constexpr int AUTO_LEVEL = -1;

cv::Mat uniformImage(int width, int height, int level) { return cv::Mat(height, width, CV_8UC1, cv::Scalar(level)); }

// A symbol on a cluttered background: the shared fixture of the flag tests.
cv::Mat symbolImage() {
  const auto symbol = testsupport::encodeSymbol("FLAGS 13", 16, 16);
  EXPECT_TRUE(symbol.has_value());
  testsupport::RenderOptions options;
  options.moduleSize = 6;
  options.rotationDeg = 20;
  options.clutter = 10;
  return testsupport::renderSymbol(*symbol, options).grey;
}

// Runs one pass and returns the binary image and candidates the locator produced.
struct LocatorOutput {
  int status = 0;
  cv::Mat binary;
  std::vector<SymbolCandidate> candidates;
};

LocatorOutput locate(cv::Mat& grey, int threshold, int flags) {
  LocatorOutput out;
  DecoderInspection inspection;
  inspection.afterLocate = [&out](const SymbolDecoder& ctx) {
    out.binary = cv::cvarrToMat(ctx.binary).clone();
    out.candidates.assign(ctx.candidates, ctx.candidates + ctx.candidateCount);
  };
  IplImage ipl = cvIplImage(grey);
  DecodeResult results[DECODE_MAX_RESULTS];
  int count = 0;
  out.status = runDecoder(&ipl, threshold, flags, &inspection, nullptr, results, &count);
  return out;
}

TEST(DecodeImage, RefusesUnusableImagesAndFlagsWithoutTouchingOutputs) {
  cv::Mat colour(40, 40, CV_8UC3, cv::Scalar(1, 2, 3));
  cv::Mat wide(40, 40, CV_16UC1, cv::Scalar(100));
  cv::Mat grey = symbolImage();
  IplImage colourIpl = cvIplImage(colour), wideIpl = cvIplImage(wide), greyIpl = cvIplImage(grey);
  IplImage emptyIpl = greyIpl;
  emptyIpl.imageData = nullptr;
  struct Case {
    const char* name;
    IplImage* image;
    int threshold, flags;
  } cases[] = {
      {"null image", nullptr, AUTO_LEVEL, DECODE_GLOBAL_THRESHOLD},
      {"three channels", &colourIpl, AUTO_LEVEL, DECODE_GLOBAL_THRESHOLD},
      {"16-bit", &wideIpl, 15, DECODE_ADAPTIVE_THRESHOLD},
      {"no pixels", &emptyIpl, AUTO_LEVEL, DECODE_GLOBAL_THRESHOLD},
      {"no threshold flag", &greyIpl, AUTO_LEVEL, DECODE_CROP},
      {"even block size", &greyIpl, 14, DECODE_ADAPTIVE_THRESHOLD},
      {"block size 1", &greyIpl, 1, DECODE_ADAPTIVE_THRESHOLD},
      {"negative block size", &greyIpl, -3, DECODE_ADAPTIVE_THRESHOLD},
      // 640 x 480: blocks up to 1281 reach no further than the image; larger ones are refused.
      {"block size beyond the image", &greyIpl, 1283, DECODE_ADAPTIVE_THRESHOLD},
      {"largest block size", &greyIpl, INT_MAX, DECODE_ADAPTIVE_THRESHOLD},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DecodeResult results[DECODE_MAX_RESULTS];
    std::memset(results, 0x5A, sizeof(results));
    int count = 77;
    EXPECT_EQ(decodeImage(c.image, results, &count, c.threshold, c.flags), -1);
    EXPECT_EQ(count, 77);
    EXPECT_EQ(reinterpret_cast<unsigned char*>(results)[0], 0x5A);
  }
}

TEST(DecodeImage, UniformImagePerMode) {
  cv::Mat grey = uniformImage(64, 48, 128);
  IplImage ipl = cvIplImage(grey);
  DecodeResult results[DECODE_MAX_RESULTS];
  int count = 5;
  // The automatic level of a one-level image is 0: nothing is foreground, no contour, the pass fails.
  EXPECT_EQ(autoThreshold(&ipl), 0);
  EXPECT_EQ(decodeImage(&ipl, results, &count, AUTO_LEVEL, DECODE_GLOBAL_THRESHOLD), -1);
  EXPECT_EQ(count, 5);
  // Every pixel equals its block mean, so the adaptive image is all foreground: no candidate.
  EXPECT_EQ(decodeImage(&ipl, results, &count, 15, DECODE_ADAPTIVE_THRESHOLD), 0);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(ipl.roi, nullptr);
}

// A pass the image library ends with an error (a one-level image has no contour at all) hands nothing out
// through any entry, and leaves the caller's image without a region of interest.
TEST(DecodeImage, LibraryErrorHandsNothingOut) {
  cv::Mat grey = uniformImage(64, 48, 128);
  IplImage ipl = cvIplImage(grey);
  DecodeResult results[DECODE_MAX_RESULTS];
  std::memset(results, 0x5A, sizeof(results));
  int count = 77;
  ASSERT_EQ(decodeImage(&ipl, results, &count, AUTO_LEVEL, DECODE_GLOBAL_THRESHOLD | DECODE_CROP), -1);
  EXPECT_EQ(count, 77);
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(results);
  EXPECT_TRUE(std::all_of(bytes, bytes + sizeof(results), [](unsigned char b) { return b == 0x5A; }));

  std::vector<DecodedSymbol> symbols(1);
  EXPECT_EQ(decodeImageMessages(&ipl, AUTO_LEVEL, DECODE_GLOBAL_THRESHOLD, &symbols), -1);
  EXPECT_EQ(symbols.size(), 1u);

  PassLeftovers leftovers;
  EXPECT_EQ(runDecoder(&ipl, AUTO_LEVEL, DECODE_GLOBAL_THRESHOLD, nullptr, nullptr, nullptr, nullptr, &leftovers), -1);
  EXPECT_EQ(leftovers.binary, nullptr);
  EXPECT_EQ(leftovers.storage, nullptr);
  EXPECT_EQ(ipl.roi, nullptr);
}

TEST(DecodeImage, ThresholdAbove255SelectsTheAutomaticLevel) {
  cv::Mat grey = symbolImage();
  cv::Mat otsu;
  // An independent Otsu level from the library's own implementation.
  const double level = cv::threshold(grey, otsu, 0, 255, cv::THRESH_BINARY_INV | cv::THRESH_OTSU);
  IplImage ipl = cvIplImage(grey);
  EXPECT_NEAR(autoThreshold(&ipl), level, 1.0);

  const cv::Mat automatic = locate(grey, AUTO_LEVEL, DECODE_GLOBAL_THRESHOLD).binary;
  for (const int threshold : {256, 1000, -2}) {
    SCOPED_TRACE(threshold);
    EXPECT_EQ(cv::countNonZero(locate(grey, threshold, DECODE_GLOBAL_THRESHOLD).binary != automatic), 0);
  }
  // 255 is a level like any other: every pixel is at or below it.
  const LocatorOutput all = locate(grey, 255, DECODE_GLOBAL_THRESHOLD);
  EXPECT_EQ(all.status, 0);
  EXPECT_EQ(cv::countNonZero(all.binary), grey.rows * grey.cols);
  // A fixed level is used as given: dark modules at or below it become foreground.
  cv::Mat expected;
  cv::threshold(grey, expected, 100, 255, cv::THRESH_BINARY_INV);
  EXPECT_EQ(cv::countNonZero(locate(grey, 100, DECODE_GLOBAL_THRESHOLD).binary != expected), 0);
}

TEST(DecodeImage, UnknownFlagBitAndBothThresholdFlags) {
  cv::Mat grey = symbolImage();
  const LocatorOutput five = locate(grey, AUTO_LEVEL, 5);
  const LocatorOutput thirteen = locate(grey, AUTO_LEVEL, 13);
  ASSERT_FALSE(five.candidates.empty());
  EXPECT_EQ(cv::countNonZero(five.binary != thirteen.binary), 0);
  ASSERT_EQ(five.candidates.size(), thirteen.candidates.size());
  // Lines and corners alike; the polygon each came from lives in its own call's storage.
  for (size_t i = 0; i < five.candidates.size(); ++i) {
    EXPECT_EQ(std::memcmp(&five.candidates[i], &thirteen.candidates[i], offsetof(SymbolCandidate, polygon)), 0) << i;
  }
  // With both threshold flags the adaptive image overwrites the global one.
  const LocatorOutput both = locate(grey, 15, DECODE_GLOBAL_THRESHOLD | DECODE_ADAPTIVE_THRESHOLD);
  const LocatorOutput adaptive = locate(grey, 15, DECODE_ADAPTIVE_THRESHOLD);
  EXPECT_EQ(cv::countNonZero(both.binary != adaptive.binary), 0);
}

TEST(DecodeImage, NullOutputsStillRunThePass) {
  cv::Mat grey = symbolImage();
  IplImage ipl = cvIplImage(grey);
  int count = 9;
  DecodeResult results[DECODE_MAX_RESULTS];
  EXPECT_EQ(decodeImage(&ipl, nullptr, &count, AUTO_LEVEL, DECODE_GLOBAL_THRESHOLD), 0);
  EXPECT_EQ(count, 9);
  EXPECT_EQ(decodeImage(&ipl, results, nullptr, AUTO_LEVEL, DECODE_GLOBAL_THRESHOLD), 0);
  EXPECT_EQ(decodeImage(&ipl, results, &count, 15, DECODE_ADAPTIVE_THRESHOLD | DECODE_CROP), 0);
  EXPECT_GE(count, 0);
  EXPECT_LE(count, DECODE_MAX_RESULTS);
}

TEST(DecodeImage, CandidateListStopsAtOneHundred) {
  // 11 x 11 squares with ragged right and top edges: each passes the finder test.
  cv::Mat grey = uniformImage(1200, 1200, 230);
  int drawn = 0;
  for (int row = 0; row < 11; ++row) {
    for (int col = 0; col < 11; ++col) {
      const auto symbol = testsupport::encodeSymbol(std::to_string(drawn), 10, 10);
      ASSERT_TRUE(symbol.has_value());
      for (int r = 0; r < symbol->rows; ++r) {
        for (int c = 0; c < symbol->cols; ++c) {
          if (!symbol->at(r, c)) continue;
          cv::rectangle(grey, cv::Rect(20 + col * 105 + c * 8, 20 + row * 105 + r * 8, 8, 8), cv::Scalar(20),
                        cv::FILLED);
        }
      }
      ++drawn;
    }
  }
  const LocatorOutput out = locate(grey, AUTO_LEVEL, DECODE_GLOBAL_THRESHOLD);
  EXPECT_EQ(out.status, 0);
  EXPECT_EQ(out.candidates.size(), static_cast<size_t>(DECODE_MAX_CANDIDATES));
}

}  // namespace
