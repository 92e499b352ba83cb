// The scan count of JPEG streams: real ones from the image library's encoder and hand-made ones whose
// bytes look like markers where they are none.
#include "tools/jpeg_scans.h"

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include "tests/support/many_scan_jpeg.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// A marker segment: the marker, the length of what follows counting itself, the payload.
Bytes segment(std::uint8_t marker, const Bytes& payload) {
  const std::size_t length = payload.size() + 2;
  return Bytes{0xFF, marker, static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length & 0xFF)} +
         payload;
}

const Bytes SOI = {0xFF, 0xD8};
const Bytes EOI = {0xFF, 0xD9};
// A start-of-scan header for one component, then entropy-coded data.
Bytes scan(const Bytes& data) { return segment(0xDA, {1, 1, 0x00, 0, 63, 0}) + data; }

// The stream cut `keep` bytes after the marker of its second scan begins.
Bytes cutInSecondScan(Bytes jpeg, std::size_t keep) {
  for (std::size_t at = 2, seen = 0; at + 1 < jpeg.size(); ++at) {
    if (jpeg[at] == 0xFF && jpeg[at + 1] == 0xDA && ++seen == 2) {
      jpeg.resize(at + keep);
      return jpeg;
    }
  }
  ADD_FAILURE() << "no second scan";
  return {};
}

Bytes encoded(const cv::Mat& picture, bool progressive) {
  Bytes jpeg;
  EXPECT_TRUE(cv::imencode(".jpg", picture, jpeg, {cv::IMWRITE_JPEG_PROGRESSIVE, progressive ? 1 : 0}));
  return jpeg;
}

TEST(JpegScansTest, CountsTheStartOfScanMarkersOfTheStream) {
  // Noise, so that every scan carries data of some length.
  cv::Mat grey(40, 56, CV_8UC1), colour(40, 56, CV_8UC3);
  cv::RNG random(7);
  random.fill(grey, cv::RNG::UNIFORM, 0, 256);
  random.fill(colour, cv::RNG::UNIFORM, 0, 256);
  const Bytes tables = segment(0xE0, {'J', 'F', 'I', 'F', 0, 0xFF, 0xDA, 0xFF, 0xDA}) + segment(0xDB, Bytes(65, 1));
  const Bytes progressive = encoded(grey, true);
  struct Case {
    const char* name;
    Bytes stream;
    std::size_t scans;
  } cases[] = {
      {"baseline grey", encoded(grey, false), 1},
      {"baseline colour", encoded(colour, false), 1},
      {"progressive grey", progressive, testsupport::PROGRESSIVE_GREY_SCANS},
      {"progressive colour", encoded(colour, true), testsupport::PROGRESSIVE_COLOUR_SCANS},
      {"marker bytes inside a segment's payload", SOI + tables + scan({0x12, 0x34}) + EOI, 1},
      {"stuffed bytes, restart markers and fill bytes in the data",
       SOI + tables + scan({0xFF, 0x00, 0xFF, 0xD0, 0x55, 0xFF, 0xD7, 0xFF, 0xFF, 0xFF}) + scan({0xFF, 0x00}) + EOI,
       2},
      {"nothing after the end of image counts", SOI + scan({1}) + EOI + scan({2}) + scan({3}), 1},
      {"cut in the length of the second scan's header", cutInSecondScan(progressive, 3), 1},
      {"cut in the second scan's data", cutInSecondScan(progressive, 16), 2},
      {"a segment length below two ends the walk", SOI + scan({1}) + Bytes{0xFF, 0xC4, 0x00, 0x01} + scan({2}), 1},
      {"not a JPEG stream", {'G', 'I', 'F', '8', '9', 'a', 0xFF, 0xDA, 0x00, 0x08}, 0},
      {"start of image alone", SOI, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(countJpegScans(c.stream, JPEG_MAX_SCANS), c.scans);
  }
}

TEST(JpegScansTest, CountingStopsJustPastTheLimit) {
  const cv::Mat grey(16, 16, CV_8UC1, cv::Scalar(200));
  struct Case {
    int scans;
    std::size_t counted;
  } cases[] = {
      {500, 500},
      {501, 501},
      {2000, 501},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.scans);
    const Bytes stream = testsupport::manyScanJpeg(grey, c.scans);
    ASSERT_FALSE(stream.empty());
    EXPECT_TRUE(looksLikeJpeg(stream));
    EXPECT_EQ(countJpegScans(stream, JPEG_MAX_SCANS), c.counted);
  }
}

}  // namespace
