// Frame conversion from V4L2 pixel formats to packed bottom-up BGR. Expected colours come from the
// BT.601 video-range formula and the formats' bit layouts, worked out here, not from the converter.
#include <gtest/gtest.h>
#include <linux/videodev2.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include "capture/v4l2/pixel_conversion.h"

namespace capturetest {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Bgr = std::array<int, 3>;

std::uint8_t clampByte(double value) { return static_cast<std::uint8_t>(std::clamp(std::lround(value), 0L, 255L)); }

Bgr fromYuv(int y, int u, int v) {
  const double luma = 1.164 * (y - 16);
  return {clampByte(luma + 2.018 * (u - 128)), clampByte(luma - 0.813 * (v - 128) - 0.391 * (u - 128)),
          clampByte(luma + 1.596 * (v - 128))};
}

// Little-endian 16-bit pixels: 5-6-5 and x-5-5-5 with red in the high bits; channels widen by shifting.
std::array<std::uint8_t, 2> word(unsigned value) { return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8)}; }

struct Case {
  const char* name;
  std::uint32_t pixelFormat;
  int width;
  int height;
  int bytesPerLine;
  Bytes data;
  std::vector<Bgr> topDown;  // expected pixels, top row first
  int tolerance;
};

// A 2 x 2 picture with distinct pixels: top row Y 50, 100; bottom row Y 150, 200.
const int Y00 = 50, Y01 = 100, Y10 = 150, Y11 = 200;
// 4:2:2 chroma: one pair per row.
const int U0 = 100, V0 = 160, U1 = 140, V1 = 90;

std::vector<Case> conversionCases() {
  const std::vector<Bgr> yuv422 = {fromYuv(Y00, U0, V0), fromYuv(Y01, U0, V0), fromYuv(Y10, U1, V1), fromYuv(Y11, U1, V1)};
  // 4:2:0 chroma: one pair for the whole 2 x 2 block.
  const std::vector<Bgr> yuv420 = {fromYuv(Y00, U0, V0), fromYuv(Y01, U0, V0), fromYuv(Y10, U0, V0), fromYuv(Y11, U0, V0)};
  const auto w565 = [](unsigned r, unsigned g, unsigned b) { return word(r << 11 | g << 5 | b); };
  const auto w555 = [](unsigned r, unsigned g, unsigned b) { return word(r << 10 | g << 5 | b); };
  const auto a = w565(31, 0, 0), b = w565(0, 63, 0), c = w565(0, 0, 31), d = w565(1, 2, 3);
  const auto e = w555(31, 0, 0), f = w555(0, 31, 0), g = w555(0, 0, 31), h = w555(1, 2, 3);
  return {
      {"YUYV", V4L2_PIX_FMT_YUYV, 2, 2, 0,
       {Y00, U0, Y01, V0, Y10, U1, Y11, V1}, yuv422, 2},
      {"UYVY", V4L2_PIX_FMT_UYVY, 2, 2, 0,
       {U0, Y00, V0, Y01, U1, Y10, V1, Y11}, yuv422, 2},
      {"YVYU", V4L2_PIX_FMT_YVYU, 2, 2, 0,
       {Y00, V0, Y01, U0, Y10, V1, Y11, U1}, yuv422, 2},
      {"YUYV with padded rows", V4L2_PIX_FMT_YUYV, 2, 2, 6,
       {Y00, U0, Y01, V0, 0, 0, Y10, U1, Y11, V1}, yuv422, 2},
      {"YUV420", V4L2_PIX_FMT_YUV420, 2, 2, 0, {Y00, Y01, Y10, Y11, U0, V0}, yuv420, 2},
      {"YVU420", V4L2_PIX_FMT_YVU420, 2, 2, 0, {Y00, Y01, Y10, Y11, V0, U0}, yuv420, 2},
      {"NV12", V4L2_PIX_FMT_NV12, 2, 2, 0, {Y00, Y01, Y10, Y11, U0, V0}, yuv420, 2},
      {"NV21", V4L2_PIX_FMT_NV21, 2, 2, 0, {Y00, Y01, Y10, Y11, V0, U0}, yuv420, 2},
      // Luma rows of 2 bytes padded to 4, chroma rows of 1 padded to 2.
      {"YUV420 with padded rows", V4L2_PIX_FMT_YUV420, 2, 2, 4,
       {Y00, Y01, 0, 0, Y10, Y11, 0, 0, U0, 0, V0, 0}, yuv420, 2},
      {"NV12 with padded rows", V4L2_PIX_FMT_NV12, 2, 2, 3, {Y00, Y01, 0, Y10, Y11, 0, U0, V0, 0}, yuv420, 2},
      {"GREY", V4L2_PIX_FMT_GREY, 2, 2, 0, {0, 80, 160, 255}, {{0, 0, 0}, {80, 80, 80}, {160, 160, 160}, {255, 255, 255}}, 0},
      {"RGB565", V4L2_PIX_FMT_RGB565, 2, 2, 0,
       {a[0], a[1], b[0], b[1], c[0], c[1], d[0], d[1]},
       {{0, 0, 248}, {0, 252, 0}, {248, 0, 0}, {3 << 3, 2 << 2, 1 << 3}}, 0},
      {"RGB555", V4L2_PIX_FMT_RGB555, 2, 2, 0,
       {e[0], e[1], f[0], f[1], g[0], g[1], h[0], h[1]},
       {{0, 0, 248}, {0, 248, 0}, {248, 0, 0}, {3 << 3, 2 << 3, 1 << 3}}, 0},
      {"BGR24 with padded rows", V4L2_PIX_FMT_BGR24, 2, 2, 8,
       {1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12},
       {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}, {10, 11, 12}}, 0},
      {"RGB24", V4L2_PIX_FMT_RGB24, 2, 1, 0, {1, 2, 3, 4, 5, 6}, {{3, 2, 1}, {6, 5, 4}}, 0},
      {"BGR32", V4L2_PIX_FMT_BGR32, 2, 1, 0, {1, 2, 3, 99, 4, 5, 6, 99}, {{1, 2, 3}, {4, 5, 6}}, 0},
      {"XBGR32", V4L2_PIX_FMT_XBGR32, 1, 2, 0, {1, 2, 3, 99, 4, 5, 6, 99}, {{1, 2, 3}, {4, 5, 6}}, 0},
  };
}

void expectBottomUp(const Bytes& bgr, const Case& row) {
  ASSERT_EQ(bgr.size(), static_cast<size_t>(row.width * row.height * 3));
  for (int y = 0; y < row.height; ++y) {
    for (int x = 0; x < row.width; ++x) {
      const Bgr& want = row.topDown[static_cast<size_t>(y * row.width + x)];
      const size_t at = static_cast<size_t>(((row.height - 1 - y) * row.width + x) * 3);
      for (int channel = 0; channel < 3; ++channel) {
        EXPECT_NEAR(bgr[at + static_cast<size_t>(channel)], want[static_cast<size_t>(channel)], row.tolerance)
            << "pixel " << x << "," << y << " channel " << channel;
      }
    }
  }
}

TEST(PixelConversion, EachFormatBecomesBottomUpBgr) {
  for (const Case& row : conversionCases()) {
    SCOPED_TRACE(row.name);
    EXPECT_TRUE(isConvertiblePixelFormat(row.pixelFormat));
    Bytes bgr;
    ASSERT_TRUE(convertFrameToBgr(row.data.data(), row.data.size(), row.pixelFormat, row.width, row.height,
                                  row.bytesPerLine, bgr));
    expectBottomUp(bgr, row);
  }
}

TEST(PixelConversion, BufferOneByteShortIsRefusedWithoutReadingPastIt) {
  for (const Case& row : conversionCases()) {
    SCOPED_TRACE(row.name);
    // A buffer of its own, so that a read past its end meets the allocator's guard.
    const Bytes shortened(row.data.begin(), row.data.end() - 1);
    Bytes bgr;
    EXPECT_FALSE(convertFrameToBgr(shortened.data(), shortened.size(), row.pixelFormat, row.width, row.height,
                                   row.bytesPerLine, bgr));
    EXPECT_FALSE(convertFrameToBgr(shortened.data(), 0, row.pixelFormat, row.width, row.height, row.bytesPerLine, bgr));
  }
}

TEST(PixelConversion, RefusesFormatsAndSizesItCannotConvert) {
  const Bytes data(64, 128);
  Bytes bgr;
  struct Refused {
    const char* what;
    std::uint32_t pixelFormat;
    int width;
    int height;
  };
  for (const Refused& row : {Refused{"unknown format", V4L2_PIX_FMT_H264, 2, 2},
                             Refused{"odd width of a 4:2:2 format", V4L2_PIX_FMT_YUYV, 3, 2},
                             Refused{"odd height of a 4:2:0 format", V4L2_PIX_FMT_NV12, 2, 3},
                             Refused{"zero width", V4L2_PIX_FMT_GREY, 0, 2},
                             Refused{"negative height", V4L2_PIX_FMT_GREY, 2, -2},
                             Refused{"side beyond the limit", V4L2_PIX_FMT_GREY, CAPTURE_MAX_FRAME_SIDE + 1, 1}}) {
    EXPECT_FALSE(convertFrameToBgr(data.data(), data.size(), row.pixelFormat, row.width, row.height, 0, bgr)) << row.what;
  }
  EXPECT_FALSE(convertFrameToBgr(nullptr, 64, V4L2_PIX_FMT_GREY, 2, 2, 0, bgr));
  EXPECT_FALSE(isConvertiblePixelFormat(V4L2_PIX_FMT_H264));
}

// A 16 x 16 picture of four flat quadrants, encoded by OpenCV's JPEG encoder.
cv::Mat quadrants() {
  cv::Mat picture(16, 16, CV_8UC3);
  picture(cv::Rect(0, 0, 8, 8)).setTo(cv::Scalar(255, 0, 0));
  picture(cv::Rect(8, 0, 8, 8)).setTo(cv::Scalar(0, 255, 0));
  picture(cv::Rect(0, 8, 8, 8)).setTo(cv::Scalar(0, 0, 255));
  picture(cv::Rect(8, 8, 8, 8)).setTo(cv::Scalar(200, 200, 200));
  return picture;
}

Bytes jpegOf(const cv::Mat& picture) {
  Bytes encoded;
  EXPECT_TRUE(cv::imencode(".jpg", picture, encoded, {cv::IMWRITE_JPEG_QUALITY, 100}));
  return encoded;
}

TEST(PixelConversion, MotionJpegFramesAreDecodedAndFlipped) {
  const cv::Mat picture = quadrants();
  const Bytes encoded = jpegOf(picture);
  Bytes bgr;
  ASSERT_TRUE(convertFrameToBgr(encoded.data(), encoded.size(), V4L2_PIX_FMT_MJPEG, 16, 16, 0, bgr));
  ASSERT_EQ(bgr.size(), 16u * 16u * 3u);
  // Centres of the quadrants, where no edge blurs the colour.
  for (const auto& [x, y] : {std::pair{4, 4}, std::pair{12, 4}, std::pair{4, 12}, std::pair{12, 12}}) {
    const cv::Vec3b want = picture.at<cv::Vec3b>(y, x);
    const size_t at = static_cast<size_t>(((15 - y) * 16 + x) * 3);
    for (int channel = 0; channel < 3; ++channel) {
      EXPECT_NEAR(bgr[at + static_cast<size_t>(channel)], want[channel], 8) << x << "," << y;
    }
  }
}

TEST(PixelConversion, MotionJpegOfAnotherSizeOrBrokenIsRefused) {
  const Bytes encoded = jpegOf(quadrants());
  Bytes bgr;
  EXPECT_FALSE(convertFrameToBgr(encoded.data(), encoded.size(), V4L2_PIX_FMT_MJPEG, 32, 16, 0, bgr));

  Bytes garbage(300);
  for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<std::uint8_t>(i * 37 + 11);
  EXPECT_FALSE(convertFrameToBgr(garbage.data(), garbage.size(), V4L2_PIX_FMT_MJPEG, 16, 16, 0, bgr));

  // Cut anywhere: never a read past the cut, whatever the answer.
  for (size_t length = 0; length < encoded.size(); length += 7) {
    const Bytes cut(encoded.begin(), encoded.begin() + static_cast<long>(length));
    convertFrameToBgr(cut.data(), cut.size(), V4L2_PIX_FMT_MJPEG, 16, 16, 0, bgr);
  }
}

// The JPEG stream without its Huffman table segments, as many cameras send MJPEG frames.
Bytes withoutHuffmanTables(const Bytes& jpeg) {
  Bytes stripped(jpeg.begin(), jpeg.begin() + 2);
  size_t at = 2;
  while (at + 4 <= jpeg.size() && jpeg[at] == 0xFF && jpeg[at + 1] != 0xDA) {
    const size_t segment = 2 + ((static_cast<size_t>(jpeg[at + 2]) << 8) | jpeg[at + 3]);
    if (jpeg[at + 1] != 0xC4) stripped.insert(stripped.end(), jpeg.begin() + at, jpeg.begin() + at + segment);
    at += segment;
  }
  stripped.insert(stripped.end(), jpeg.begin() + at, jpeg.end());
  return stripped;
}

TEST(PixelConversion, MotionJpegWithoutHuffmanTablesDecodesWithTheStandardOnes) {
  // Detail everywhere, so every table is used: a diagonal ramp in each channel with the quadrants on top.
  cv::Mat picture(48, 64, CV_8UC3);
  for (int y = 0; y < picture.rows; ++y) {
    for (int x = 0; x < picture.cols; ++x) {
      picture.at<cv::Vec3b>(y, x) = cv::Vec3b(static_cast<std::uint8_t>(4 * x), static_cast<std::uint8_t>(5 * y),
                                              static_cast<std::uint8_t>(3 * (x + y)));
    }
  }
  quadrants().copyTo(picture(cv::Rect(20, 10, 16, 16)));
  Bytes encoded;
  ASSERT_TRUE(cv::imencode(".jpg", picture, encoded, {cv::IMWRITE_JPEG_QUALITY, 90}));
  const Bytes stripped = withoutHuffmanTables(encoded);
  ASSERT_LT(stripped.size(), encoded.size());  // the encoder wrote tables, and they are gone

  Bytes fromStripped, fromWhole;
  ASSERT_TRUE(convertFrameToBgr(stripped.data(), stripped.size(), V4L2_PIX_FMT_MJPEG, 64, 48, 0, fromStripped));
  ASSERT_TRUE(convertFrameToBgr(encoded.data(), encoded.size(), V4L2_PIX_FMT_MJPEG, 64, 48, 0, fromWhole));
  EXPECT_EQ(fromStripped, fromWhole);
  // And both are the picture OpenCV's own decoder reads from the complete stream, bottom row first.
  const cv::Mat reference = cv::imdecode(encoded, cv::IMREAD_COLOR);
  ASSERT_EQ(reference.size(), picture.size());
  int largestDifference = 0;
  for (int y = 0; y < 48; ++y) {
    for (int x = 0; x < 64 * 3; ++x) {
      const int ours = fromStripped[static_cast<size_t>((47 - y) * 64 * 3 + x)];
      largestDifference = std::max(largestDifference, std::abs(ours - reference.ptr<std::uint8_t>(y)[x]));
    }
  }
  EXPECT_LE(largestDifference, 1);
}

}  // namespace
}  // namespace capturetest
