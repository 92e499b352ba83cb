// The cleaning before the contour search: it removes what it should, and every contour that can become
// a candidate is traced from the cleaned image exactly as from the binary image.
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>
#include <opencv2/imgproc/imgproc_c.h>

#include "decoder/contour_prepass.h"
#include "decoder/decoder.h"
#include "decoder/contours.h"
#include "tests/support/symbol_encoder.h"
#include "tests/support/symbol_renderer.h"

namespace {

using PointList = std::vector<CvPoint>;

struct MemStorage {
  CvMemStorage* storage = cvCreateMemStorage(0);
  ~MemStorage() { cvReleaseMemStorage(&storage); }
};

std::vector<PointList> pointLists(CvSeq* first) {
  std::vector<PointList> lists;
  for (CvSeq* seq = first; seq != nullptr; seq = seq->h_next) {
    PointList points(seq->total);
    cvCvtSeqToArray(seq, points.data());
    lists.push_back(points);
  }
  return lists;
}

// The contours that pass the filters and their polygons, traced from a copy of `image`.
struct Traced {
  std::vector<PointList> contours;
  std::vector<PointList> polygons;
};

Traced traceAndApproximate(const cv::Mat& image) {
  cv::Mat scratch = image.clone();
  IplImage ipl = cvIplImage(scratch);
  MemStorage store;
  Traced traced;
  CvSeq* contours = traceCandidateContours(&ipl, store.storage);
  traced.contours = pointLists(contours);
  if (contours != nullptr) {
    traced.polygons = pointLists(cvApproxPoly(contours, sizeof(CvContour), store.storage, CV_POLY_APPROX_DP, 5.0, 1));
  }
  return traced;
}

struct Cleaned {
  cv::Mat image;
  bool anyContour = false;
};

Cleaned clean(const cv::Mat& binary) {
  Cleaned out;
  out.image = cv::Mat(binary.size(), CV_8UC1, cv::Scalar(77));  // stale content must not survive
  IplImage source = cvIplImage(binary);
  IplImage target = cvIplImage(out.image);
  out.anyContour = cleanContourInput(&source, &target);
  return out;
}

bool hasDarkOffFrame(const cv::Mat& binary) {
  if (binary.rows < 3 || binary.cols < 3) return false;
  return cv::countNonZero(binary(cv::Rect(1, 1, binary.cols - 2, binary.rows - 2))) > 0;
}

std::string describe(const PointList& points) {
  std::string text;
  for (const CvPoint& p : points) text += "(" + std::to_string(p.x) + "," + std::to_string(p.y) + ")";
  return text;
}

// How much the comparisons saw: contours that survived the filters, and pixels the cleaning changed.
struct Coverage {
  size_t contours = 0;
  size_t changedPixels = 0;
};

// Compares the traces of the binary image and of its cleaned form, point by point and in order.
void expectSameTraces(const cv::Mat& binary, const std::string& label, Coverage* coverage) {
  SCOPED_TRACE(label);
  const Cleaned cleaned = clean(binary);
  EXPECT_EQ(cleaned.anyContour, hasDarkOffFrame(binary));
  const Traced before = traceAndApproximate(binary);
  const Traced after = traceAndApproximate(cleaned.image);
  cv::Mat framed = binary.clone();
  if (framed.rows >= 1 && framed.cols >= 1) cv::rectangle(framed, cv::Rect(0, 0, framed.cols, framed.rows), 0, 1);
  coverage->changedPixels += cv::countNonZero((framed != 0) != (cleaned.image != 0));
  coverage->contours += before.contours.size();
  ASSERT_EQ(before.contours.size(), after.contours.size());
  for (size_t i = 0; i < before.contours.size(); ++i) {
    ASSERT_EQ(describe(before.contours[i]), describe(after.contours[i])) << "contour " << i;
  }
  ASSERT_EQ(before.polygons.size(), after.polygons.size());
  for (size_t i = 0; i < before.polygons.size(); ++i) {
    ASSERT_EQ(describe(before.polygons[i]), describe(after.polygons[i])) << "polygon " << i;
  }
  // Whatever was left is all the search sees; the cleaned image holds only 0 and 255.
  cv::Mat other = (cleaned.image != 0) & (cleaned.image != 255);
  EXPECT_EQ(cv::countNonZero(other), 0);
}

// Scene makers. Each draws dark (255) shapes on a light (0) image; every one of them puts shapes on
// the frame too, where the search clears them.
using Rng = std::mt19937;

int uniform(Rng& rng, int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng); }

cv::Mat pixelNoise(Rng& rng, double density) {
  cv::Mat image(uniform(rng, 3, 90), uniform(rng, 3, 120), CV_8UC1);
  std::bernoulli_distribution dark(density);
  for (int y = 0; y < image.rows; ++y) {
    for (int x = 0; x < image.cols; ++x) image.at<std::uint8_t>(y, x) = dark(rng) ? 255 : 0;
  }
  return image;
}

// Blocks of every size around the filter limits, with noise: regions and holes just above and below.
cv::Mat blockNoise(Rng& rng, double density) {
  cv::Mat image = pixelNoise(rng, density * 0.3);
  const int blocks = uniform(rng, 1, 40);
  for (int i = 0; i < blocks; ++i) {
    const cv::Rect box(uniform(rng, -4, image.cols), uniform(rng, -4, image.rows), uniform(rng, 1, 16),
                       uniform(rng, 1, 16));
    cv::rectangle(image, box, cv::Scalar(uniform(rng, 0, 1) ? 255 : 0), cv::FILLED);
  }
  return image;
}

// Concentric rings of random thickness and spacing, with specks and small rings in the gaps.
cv::Mat nestedRings(Rng& rng, double density) {
  cv::Mat image = pixelNoise(rng, density * 0.1);
  const int centres = uniform(rng, 1, 3);
  for (int c = 0; c < centres; ++c) {
    const cv::Point centre(uniform(rng, 0, image.cols), uniform(rng, 0, image.rows));
    int radius = uniform(rng, 1, 4);
    while (radius < 60) {
      const int thickness = uniform(rng, 1, 3);
      if (uniform(rng, 0, 1)) {
        cv::circle(image, centre, radius, cv::Scalar(255), thickness, cv::LINE_8);
      } else {
        cv::rectangle(image, cv::Rect(centre.x - radius, centre.y - radius, 2 * radius, 2 * radius), cv::Scalar(255),
                      thickness, cv::LINE_8);
      }
      radius += thickness + uniform(rng, 1, 6);
    }
  }
  return image;
}

// One-pixel lines at every angle, 4- and 8-connected, some crossing, some ending on the frame.
cv::Mat thinLines(Rng& rng, double density) {
  cv::Mat image = pixelNoise(rng, density * 0.05);
  const int lines = uniform(rng, 1, 25);
  for (int i = 0; i < lines; ++i) {
    const cv::Point a(uniform(rng, -5, image.cols + 5), uniform(rng, -5, image.rows + 5));
    const cv::Point b(a.x + uniform(rng, -40, 40), a.y + uniform(rng, -40, 40));
    cv::line(image, a, b, cv::Scalar(uniform(rng, 0, 3) ? 255 : 0), 1, uniform(rng, 0, 1) ? cv::LINE_8 : cv::LINE_4);
  }
  return image;
}

// Filled and hollow shapes laid across the image's edges and corners.
cv::Mat borderShapes(Rng& rng, double density) {
  cv::Mat image = pixelNoise(rng, density * 0.2);
  const int shapes = uniform(rng, 1, 12);
  for (int i = 0; i < shapes; ++i) {
    const int side = uniform(rng, 0, 3);
    const int along = uniform(rng, 0, std::max(image.cols, image.rows));
    cv::Point centre = side == 0 ? cv::Point(along, 0)
                       : side == 1 ? cv::Point(along, image.rows - 1)
                       : side == 2 ? cv::Point(0, along)
                                   : cv::Point(image.cols - 1, along);
    centre += cv::Point(uniform(rng, -3, 3), uniform(rng, -3, 3));
    const int radius = uniform(rng, 1, 25);
    cv::circle(image, centre, radius, cv::Scalar(255), uniform(rng, 0, 1) ? cv::FILLED : uniform(rng, 1, 3));
    if (radius > 4) cv::circle(image, centre, radius / 2, cv::Scalar(0), cv::FILLED);
  }
  return image;
}

TEST(ContourPrepass, EveryCandidateContourIsTracedAsBefore) {
  struct Scene {
    const char* name;
    cv::Mat (*make)(Rng&, double);
  };
  const Scene scenes[] = {
      {"pixel noise", pixelNoise}, {"block noise", blockNoise},     {"nested rings", nestedRings},
      {"thin lines", thinLines},   {"border shapes", borderShapes},
  };
  const double densities[] = {0.01, 0.05, 0.15, 0.3, 0.5, 0.7, 0.9};
  Rng rng(1313);
  Coverage coverage;
  for (const Scene& scene : scenes) {
    for (double density : densities) {
      for (int round = 0; round < 60; ++round) {
        const cv::Mat binary = scene.make(rng, density);
        expectSameTraces(binary, std::string(scene.name) + " density " + std::to_string(density) + " round " +
                                     std::to_string(round),
                         &coverage);
        if (HasFatalFailure()) return;
      }
    }
  }
  // Wider than the run table's positions reach: single pixels alone are cleaned, traces still agree.
  cv::Mat wide = pixelNoise(rng, 0.2);
  cv::resize(wide, wide, cv::Size(66000, 12), 0, 0, cv::INTER_NEAREST);
  cv::rectangle(wide, cv::Rect(65990, 2, 9, 8), cv::Scalar(0), cv::FILLED);
  for (int x = 65991; x < 65998; x += 2) wide.at<std::uint8_t>(5, x) = 255;
  expectSameTraces(wide, "66000 pixels wide", &coverage);
  // A frame-sized image of noise: tens of thousands of components, so their list grows many times over.
  cv::Mat frameNoise = blockNoise(rng, 0.5);
  cv::resize(frameNoise, frameNoise, cv::Size(640, 480), 0, 0, cv::INTER_NEAREST);
  cv::Mat speckles(frameNoise.size(), CV_8UC1);
  cv::randu(speckles, 0, 2);
  frameNoise ^= speckles * 255;
  expectSameTraces(frameNoise, "640 x 480 noise", &coverage);
  // The scenes must give the filters something to keep and the cleaning something to remove.
  EXPECT_GT(coverage.contours, 500u);
  EXPECT_GT(coverage.changedPixels, 100000u);
}

// Camera-like frames through both thresholds of the scanner: symbols, clutter, blur and noise.
TEST(ContourPrepass, RenderedFramesTraceAsBeforeUnderBothThresholds) {
  Rng rng(2024);
  Coverage coverage;
  for (int round = 0; round < 12; ++round) {
    const auto& sizes = testsupport::ecc200Sizes();
    const auto size = sizes[uniform(rng, 5, 14)];
    const auto symbol = testsupport::encodeSymbol("PREPASS " + std::to_string(round), size.first, size.second);
    ASSERT_TRUE(symbol.has_value());
    testsupport::RenderOptions options;
    options.moduleSize = uniform(rng, 3, 8);
    options.rotationDeg = uniform(rng, 0, 359);
    options.clutter = uniform(rng, 0, 30);
    options.noiseSigma = uniform(rng, 0, 12);
    options.blurSigma = uniform(rng, 0, 2) * 0.5;
    options.seed = static_cast<std::uint32_t>(round);
    const cv::Mat grey = testsupport::renderSymbol(*symbol, options).grey;
    cv::Mat global, adaptive;
    cv::threshold(grey, global, 0, 255, cv::THRESH_BINARY_INV | cv::THRESH_OTSU);
    cv::adaptiveThreshold(grey, adaptive, 255, cv::ADAPTIVE_THRESH_MEAN_C, cv::THRESH_BINARY_INV, 15, 0);
    expectSameTraces(global, "global " + std::to_string(round), &coverage);
    expectSameTraces(adaptive, "adaptive " + std::to_string(round), &coverage);
    if (HasFatalFailure()) return;
  }
  EXPECT_GT(coverage.contours, 12u);
}

// What goes and what stays, one shape at a time on a 40 x 40 light image.
TEST(ContourPrepass, RemovesRegionsAndFillsHolesBelowTheLimits) {
  struct Case {
    const char* name;
    cv::Rect dark;  // a filled dark box
    cv::Rect hole;  // a light box cut into it (empty: none)
    int expectedDark;
  };
  // Contours under 10 pixels wide or high are dropped: a region of 10 and a hole of 8 (its contour runs
  // one pixel further on each side) are the smallest that must stay.
  const int R = 10, H = 8;
  const Case cases[] = {
      {"region one narrower than the limit goes", {5, 5, R - 1, 20}, {}, 0},
      {"region one lower than the limit goes", {5, 5, 20, R - 1}, {}, 0},
      {"region at the limit stays", {5, 5, R, R}, {}, R * R},
      {"hole one narrower than the limit is filled", {5, 5, 20, 20}, {10, 10, H - 1, 6}, 400},
      {"hole at the limit stays", {5, 5, 20, 20}, {10, 10, H, H}, 400 - H * H},
      {"single dark pixel goes", {20, 20, 1, 1}, {}, 0},
      {"region on the frame is cleared with it", {0, 0, 40, 12}, {}, 38 * 11},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    cv::Mat binary(40, 40, CV_8UC1, cv::Scalar(0));
    cv::rectangle(binary, c.dark, cv::Scalar(255), cv::FILLED);
    if (c.hole.area() > 0) cv::rectangle(binary, c.hole, cv::Scalar(0), cv::FILLED);
    const Cleaned cleaned = clean(binary);
    EXPECT_TRUE(cleaned.anyContour);
    EXPECT_EQ(cv::countNonZero(cleaned.image), c.expectedDark);
  }
}

TEST(ContourPrepass, ShapesInsideARemovedRegionOrFilledHoleFollowIt) {
  // A small region with a hole holding a speck: all of it goes.
  cv::Mat binary(40, 40, CV_8UC1, cv::Scalar(0));
  cv::rectangle(binary, cv::Rect(5, 5, 9, 30), cv::Scalar(255), cv::FILLED);
  cv::rectangle(binary, cv::Rect(7, 7, 5, 20), cv::Scalar(0), cv::FILLED);
  cv::rectangle(binary, cv::Rect(9, 10, 1, 10), cv::Scalar(255), cv::FILLED);
  EXPECT_EQ(cv::countNonZero(clean(binary).image), 0);

  // A large region with a small hole holding a speck with its own hole: the whole hole turns dark.
  binary.setTo(0);
  cv::rectangle(binary, cv::Rect(5, 5, 30, 30), cv::Scalar(255), cv::FILLED);
  cv::rectangle(binary, cv::Rect(10, 10, 7, 7), cv::Scalar(0), cv::FILLED);
  cv::rectangle(binary, cv::Rect(12, 12, 3, 3), cv::Scalar(255), cv::FILLED);
  binary.at<std::uint8_t>(13, 13) = 0;
  EXPECT_EQ(cv::countNonZero(clean(binary).image), 900);
}

TEST(ContourPrepass, FramesWithNothingOrOnlyTinyContours) {
  struct Case {
    const char* name;
    cv::Mat binary;
    bool anyContour;
  };
  cv::Mat specks(30, 30, CV_8UC1, cv::Scalar(0));
  specks.at<std::uint8_t>(4, 4) = 255;
  specks.at<std::uint8_t>(20, 9) = 255;
  cv::Mat frameOnly(30, 30, CV_8UC1, cv::Scalar(255));
  frameOnly(cv::Rect(1, 1, 28, 28)).setTo(0);
  const Case cases[] = {
      {"empty", cv::Mat(30, 30, CV_8UC1, cv::Scalar(0)), false},
      {"dark only on the frame", frameOnly, false},
      {"two specks", specks, true},
      {"two pixels high, all dark", cv::Mat(2, 30, CV_8UC1, cv::Scalar(255)), false},
      {"three by three, all dark", cv::Mat(3, 3, CV_8UC1, cv::Scalar(255)), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Cleaned cleaned = clean(c.binary);
    EXPECT_EQ(cleaned.anyContour, c.anyContour);
    EXPECT_EQ(cv::countNonZero(cleaned.image), 0);
  }
}

// The cleaned image may be a window of a larger picture, whose rows do not lie back to back: the
// cleaning writes the window's pixels alone, and the same pixels as into an image of its own.
TEST(ContourPrepass, CleaningIntoAWindowOfALargerPictureTouchesOnlyTheWindow) {
  Rng rng(77);
  for (const cv::Size size : {cv::Size(120, 90), cv::Size(64, 40), cv::Size(9, 30)}) {
    SCOPED_TRACE(std::to_string(size.width) + " x " + std::to_string(size.height));
    cv::Mat binary = blockNoise(rng, 0.4);
    cv::resize(binary, binary, size, 0, 0, cv::INTER_NEAREST);
    cv::Mat picture(size.height + 10, size.width + 20, CV_8UC1, cv::Scalar(77));
    const cv::Rect window(5, 5, size.width, size.height);
    IplImage source = cvIplImage(binary);
    IplImage target = cvIplImage(picture(window));
    cleanContourInput(&source, &target);
    cv::Mat outside = picture.clone();
    outside(window).setTo(77);
    EXPECT_EQ(cv::countNonZero(outside != 77), 0);
    EXPECT_EQ(cv::countNonZero(picture(window) != clean(binary).image), 0);
  }
}

// The decoder still tells a frame whose contours were all too small (no symbol, status 0) from a
// frame without any contour (status -1).
TEST(ContourPrepass, TinyContoursAloneStillGiveAnEmptyResultNotAFailure) {
  cv::Mat grey(60, 80, CV_8UC1, cv::Scalar(200));
  grey.at<std::uint8_t>(30, 40) = 10;
  cv::rectangle(grey, cv::Rect(10, 10, 5, 5), cv::Scalar(10), cv::FILLED);
  IplImage ipl = cvIplImage(grey);
  DecodeResult results[DECODE_MAX_RESULTS];
  int count = 7;
  EXPECT_EQ(decodeImage(&ipl, results, &count, 100, DECODE_GLOBAL_THRESHOLD), 0);
  EXPECT_EQ(count, 0);
  grey.setTo(200);
  count = 7;
  EXPECT_EQ(decodeImage(&ipl, results, &count, 100, DECODE_GLOBAL_THRESHOLD), -1);
  EXPECT_EQ(count, 7);
}

}  // namespace
