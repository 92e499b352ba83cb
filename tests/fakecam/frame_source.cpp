#include "tests/fakecam/frame_source.h"

#include <linux/videodev2.h>
#include <turbojpeg.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include <opencv2/imgproc.hpp>

namespace {

enum class Layout {
  Bgr24, Rgb24, Bgra32, Xbgr32, Abgr32, Rgb565, Rgb555, Xrgb555, Argb555, Grey, Y16,
  Yuyv, Yvyu, Uyvy, Yu12, Yv12, Nv12, Nv21, Jpeg,
};

struct EmulatedFormat {
  std::uint32_t pixelFormat;
  const char* description;
  Layout layout;
  std::uint32_t bytesPerPixel;  // of the packed row or the luma plane
};

// The formats the camera produces; layouts as the V4L2 pixel format definitions give them.
constexpr EmulatedFormat FAKECAM_FORMATS[] = {
    {V4L2_PIX_FMT_YUYV, "YUYV 4:2:2", Layout::Yuyv, 2},
    {V4L2_PIX_FMT_MJPEG, "Motion-JPEG", Layout::Jpeg, 0},
    {V4L2_PIX_FMT_JPEG, "JFIF JPEG", Layout::Jpeg, 0},
    {V4L2_PIX_FMT_YVYU, "YVYU 4:2:2", Layout::Yvyu, 2},
    {V4L2_PIX_FMT_UYVY, "UYVY 4:2:2", Layout::Uyvy, 2},
    {V4L2_PIX_FMT_NV12, "Y/UV 4:2:0", Layout::Nv12, 1},
    {V4L2_PIX_FMT_NV21, "Y/VU 4:2:0", Layout::Nv21, 1},
    {V4L2_PIX_FMT_YUV420, "Planar YUV 4:2:0", Layout::Yu12, 1},
    {V4L2_PIX_FMT_YVU420, "Planar YVU 4:2:0", Layout::Yv12, 1},
    {V4L2_PIX_FMT_GREY, "8-bit Greyscale", Layout::Grey, 1},
    {V4L2_PIX_FMT_Y16, "16-bit Greyscale", Layout::Y16, 2},
    {V4L2_PIX_FMT_BGR24, "24-bit BGR 8-8-8", Layout::Bgr24, 3},
    {V4L2_PIX_FMT_RGB24, "24-bit RGB 8-8-8", Layout::Rgb24, 3},
    {V4L2_PIX_FMT_BGR32, "32-bit BGRA/X 8-8-8-8", Layout::Bgra32, 4},
    {V4L2_PIX_FMT_XBGR32, "32-bit BGRX 8-8-8-8", Layout::Xbgr32, 4},
    {V4L2_PIX_FMT_ABGR32, "32-bit BGRA 8-8-8-8", Layout::Abgr32, 4},
    {V4L2_PIX_FMT_RGB565, "16-bit RGB 5-6-5", Layout::Rgb565, 2},
    {V4L2_PIX_FMT_RGB555, "16-bit A/XRGB 1-5-5-5", Layout::Rgb555, 2},
    {V4L2_PIX_FMT_XRGB555, "16-bit XRGB 1-5-5-5", Layout::Xrgb555, 2},
    {V4L2_PIX_FMT_ARGB555, "16-bit ARGB 1-5-5-5", Layout::Argb555, 2},
};

constexpr std::uint8_t FAKECAM_PADDING_BYTE = 0xEE;
constexpr int FAKECAM_JPEG_QUALITY = 90;

const EmulatedFormat* findFormat(std::uint32_t pixelFormat) {
  for (const EmulatedFormat& format : FAKECAM_FORMATS) {
    if (format.pixelFormat == pixelFormat) return &format;
  }
  return nullptr;
}

std::uint8_t clampByte(double value) { return static_cast<std::uint8_t>(std::clamp(std::lround(value), 0L, 255L)); }

// BT.601, limited range: what UVC cameras send and what V4L2 assumes for YUV formats by default.
std::uint8_t lumaOf(const cv::Vec3b& bgr) { return clampByte(16 + 0.256788 * bgr[2] + 0.504129 * bgr[1] + 0.097906 * bgr[0]); }
std::uint8_t blueDifference(double b, double g, double r) { return clampByte(128 - 0.148223 * r - 0.290993 * g + 0.439216 * b); }
std::uint8_t redDifference(double b, double g, double r) { return clampByte(128 + 0.439216 * r - 0.367788 * g - 0.071427 * b); }
// Full-range luma of the grey formats.
std::uint8_t greyOf(const cv::Vec3b& bgr) { return clampByte(0.299 * bgr[2] + 0.587 * bgr[1] + 0.114 * bgr[0]); }

void putLittleEndian16(std::uint8_t* at, std::uint32_t value) {
  at[0] = static_cast<std::uint8_t>(value & 0xFF);
  at[1] = static_cast<std::uint8_t>(value >> 8);
}

void writePackedRow(const cv::Vec3b* pixels, int width, Layout layout, std::uint8_t* row) {
  for (int x = 0; x < width; ++x) {
    const cv::Vec3b& p = pixels[x];
    const std::uint32_t r5 = p[2] >> 3;
    const std::uint32_t g5 = p[1] >> 3;
    const std::uint32_t b5 = p[0] >> 3;
    switch (layout) {
      case Layout::Bgr24: row[3 * x] = p[0]; row[3 * x + 1] = p[1]; row[3 * x + 2] = p[2]; break;
      case Layout::Rgb24: row[3 * x] = p[2]; row[3 * x + 1] = p[1]; row[3 * x + 2] = p[0]; break;
      // The fourth byte is alpha or unused; an unused one holds something a reader must ignore.
      case Layout::Bgra32:
      case Layout::Xbgr32:
      case Layout::Abgr32:
        row[4 * x] = p[0]; row[4 * x + 1] = p[1]; row[4 * x + 2] = p[2];
        row[4 * x + 3] = layout == Layout::Abgr32 ? 0xFF : 0x5A;
        break;
      case Layout::Rgb565: putLittleEndian16(row + 2 * x, (p[2] >> 3) << 11 | (p[1] >> 2) << 5 | b5); break;
      case Layout::Rgb555:
      case Layout::Xrgb555:
      case Layout::Argb555: putLittleEndian16(row + 2 * x, 1u << 15 | r5 << 10 | g5 << 5 | b5); break;
      case Layout::Grey: row[x] = greyOf(p); break;
      case Layout::Y16: putLittleEndian16(row + 2 * x, static_cast<std::uint32_t>(greyOf(p)) << 8); break;
      default: break;
    }
  }
}

// 4:2:2 rows: each pair of pixels shares the chroma of their mean.
void writeYuv422Row(const cv::Vec3b* pixels, int width, Layout layout, std::uint8_t* row) {
  for (int x = 0; x + 1 < width; x += 2) {
    const cv::Vec3b& a = pixels[x];
    const cv::Vec3b& b = pixels[x + 1];
    const double blue = (a[0] + b[0]) / 2.0;
    const double green = (a[1] + b[1]) / 2.0;
    const double red = (a[2] + b[2]) / 2.0;
    const std::uint8_t y0 = lumaOf(a);
    const std::uint8_t y1 = lumaOf(b);
    const std::uint8_t u = blueDifference(blue, green, red);
    const std::uint8_t v = redDifference(blue, green, red);
    std::uint8_t* out = row + 2 * x;
    if (layout == Layout::Yuyv) { out[0] = y0; out[1] = u; out[2] = y1; out[3] = v; }
    if (layout == Layout::Yvyu) { out[0] = y0; out[1] = v; out[2] = y1; out[3] = u; }
    if (layout == Layout::Uyvy) { out[0] = u; out[1] = y0; out[2] = v; out[3] = y1; }
  }
}

// 4:2:0 frames: the luma plane, then the chroma of each 2 x 2 block, planar (U then V, or V then U) at
// half the row length or interleaved at the full row length.
void writeYuv420(const cv::Mat& bgr, Layout layout, std::uint32_t bytesPerLine, std::uint8_t* frame) {
  const int width = bgr.cols;
  const int height = bgr.rows;
  for (int y = 0; y < height; ++y) {
    const cv::Vec3b* pixels = bgr.ptr<cv::Vec3b>(y);
    for (int x = 0; x < width; ++x) frame[static_cast<std::size_t>(y) * bytesPerLine + x] = lumaOf(pixels[x]);
  }
  std::uint8_t* chroma = frame + static_cast<std::size_t>(bytesPerLine) * height;
  const std::size_t planarStride = bytesPerLine / 2;
  const std::size_t planeBytes = planarStride * (height / 2);
  for (int y = 0; y + 1 < height; y += 2) {
    const cv::Vec3b* top = bgr.ptr<cv::Vec3b>(y);
    const cv::Vec3b* bottom = bgr.ptr<cv::Vec3b>(y + 1);
    for (int x = 0; x + 1 < width; x += 2) {
      double sum[3] = {0, 0, 0};
      for (const cv::Vec3b& p : {top[x], top[x + 1], bottom[x], bottom[x + 1]}) {
        for (int c = 0; c < 3; ++c) sum[c] += p[c];
      }
      const std::uint8_t u = blueDifference(sum[0] / 4, sum[1] / 4, sum[2] / 4);
      const std::uint8_t v = redDifference(sum[0] / 4, sum[1] / 4, sum[2] / 4);
      const std::size_t row = static_cast<std::size_t>(y / 2);
      const std::size_t column = static_cast<std::size_t>(x / 2);
      switch (layout) {
        case Layout::Yu12:
          chroma[row * planarStride + column] = u;
          chroma[planeBytes + row * planarStride + column] = v;
          break;
        case Layout::Yv12:
          chroma[row * planarStride + column] = v;
          chroma[planeBytes + row * planarStride + column] = u;
          break;
        case Layout::Nv12:
          chroma[row * bytesPerLine + 2 * column] = u;
          chroma[row * bytesPerLine + 2 * column + 1] = v;
          break;
        default:  // Nv21
          chroma[row * bytesPerLine + 2 * column] = v;
          chroma[row * bytesPerLine + 2 * column + 1] = u;
          break;
      }
    }
  }
}

std::vector<std::uint8_t> encodeJpeg(const cv::Mat& bgr) {
  tjhandle compressor = tjInitCompress();
  if (compressor == nullptr) return {};
  unsigned char* encoded = nullptr;
  unsigned long encodedBytes = 0;
  const cv::Mat packed = bgr.isContinuous() ? bgr : bgr.clone();
  std::vector<std::uint8_t> stream;
  if (tjCompress2(compressor, packed.data, packed.cols, static_cast<int>(packed.step), packed.rows, TJPF_BGR, &encoded,
                  &encodedBytes, TJSAMP_422, FAKECAM_JPEG_QUALITY, 0) == 0) {
    stream.assign(encoded, encoded + encodedBytes);
  }
  tjFree(encoded);
  tjDestroy(compressor);
  return stream.empty() ? stream : stripHuffmanTables(stream);
}

}  // namespace

bool isEmulatedFormat(std::uint32_t pixelFormat) { return findFormat(pixelFormat) != nullptr; }

bool isCompressedFormat(std::uint32_t pixelFormat) {
  const EmulatedFormat* format = findFormat(pixelFormat);
  return format != nullptr && format->layout == Layout::Jpeg;
}

const char* formatDescription(std::uint32_t pixelFormat) {
  const EmulatedFormat* format = findFormat(pixelFormat);
  return format != nullptr ? format->description : "";
}

FrameLayout frameLayout(std::uint32_t pixelFormat, std::uint32_t width, std::uint32_t height,
                        std::uint32_t rowPadding) {
  const EmulatedFormat* format = findFormat(pixelFormat);
  if (format == nullptr) return {};
  FrameLayout layout;
  if (format->layout == Layout::Jpeg) {
    layout.sizeImage = static_cast<std::uint32_t>(tjBufSize(static_cast<int>(width), static_cast<int>(height), TJSAMP_422));
    return layout;
  }
  layout.bytesPerLine = width * format->bytesPerPixel + rowPadding;
  switch (format->layout) {
    case Layout::Yu12:
    case Layout::Yv12:
      layout.bytesPerLine += layout.bytesPerLine % 2;  // the chroma planes' rows are half as long
      layout.sizeImage = layout.bytesPerLine * height + 2 * (layout.bytesPerLine / 2) * (height / 2);
      break;
    case Layout::Nv12:
    case Layout::Nv21: layout.sizeImage = layout.bytesPerLine * height + layout.bytesPerLine * (height / 2); break;
    default: layout.sizeImage = layout.bytesPerLine * height; break;
  }
  return layout;
}

cv::Mat fitPicture(const cv::Mat& picture, int width, int height) {
  cv::Mat frame(height, width, CV_8UC3, cv::Scalar(128, 128, 128));
  if (picture.empty()) return frame;
  if (picture.cols == width && picture.rows == height) {
    picture.copyTo(frame);
    return frame;
  }
  const double scale = std::min(static_cast<double>(width) / picture.cols, static_cast<double>(height) / picture.rows);
  const int fittedWidth = std::clamp(static_cast<int>(std::lround(picture.cols * scale)), 1, width);
  const int fittedHeight = std::clamp(static_cast<int>(std::lround(picture.rows * scale)), 1, height);
  cv::Mat fitted;
  cv::resize(picture, fitted, cv::Size(fittedWidth, fittedHeight), 0, 0, scale < 1 ? cv::INTER_AREA : cv::INTER_LINEAR);
  fitted.copyTo(frame(cv::Rect((width - fittedWidth) / 2, (height - fittedHeight) / 2, fittedWidth, fittedHeight)));
  return frame;
}

std::vector<std::uint8_t> encodeFrame(const cv::Mat& bgr, std::uint32_t pixelFormat, const FrameLayout& layout) {
  const EmulatedFormat* format = findFormat(pixelFormat);
  if (format == nullptr || bgr.type() != CV_8UC3) return {};
  if (format->layout == Layout::Jpeg) return encodeJpeg(bgr);

  std::vector<std::uint8_t> frame(layout.sizeImage, FAKECAM_PADDING_BYTE);
  switch (format->layout) {
    case Layout::Yu12:
    case Layout::Yv12:
    case Layout::Nv12:
    case Layout::Nv21: writeYuv420(bgr, format->layout, layout.bytesPerLine, frame.data()); break;
    default:
      for (int y = 0; y < bgr.rows; ++y) {
        std::uint8_t* row = frame.data() + static_cast<std::size_t>(y) * layout.bytesPerLine;
        const cv::Vec3b* pixels = bgr.ptr<cv::Vec3b>(y);
        if (format->layout == Layout::Yuyv || format->layout == Layout::Yvyu || format->layout == Layout::Uyvy) {
          writeYuv422Row(pixels, bgr.cols, format->layout, row);
        } else {
          writePackedRow(pixels, bgr.cols, format->layout, row);
        }
      }
      break;
  }
  return frame;
}

std::vector<std::uint8_t> stripHuffmanTables(const std::vector<std::uint8_t>& jpeg) {
  if (jpeg.size() < 4 || jpeg[0] != 0xFF || jpeg[1] != 0xD8) return jpeg;
  std::vector<std::uint8_t> stripped(jpeg.begin(), jpeg.begin() + 2);
  std::size_t pos = 2;
  while (pos + 4 <= jpeg.size() && jpeg[pos] == 0xFF) {
    const std::uint8_t marker = jpeg[pos + 1];
    const std::size_t segment = static_cast<std::size_t>(jpeg[pos + 2]) << 8 | jpeg[pos + 3];
    const std::size_t end = std::min(jpeg.size(), pos + 2 + segment);
    if (marker == 0xDA) break;  // start of scan: the entropy-coded data and the end follow unchanged
    if (marker != 0xC4) stripped.insert(stripped.end(), jpeg.begin() + static_cast<long>(pos), jpeg.begin() + static_cast<long>(end));
    pos = end;
  }
  stripped.insert(stripped.end(), jpeg.begin() + static_cast<long>(pos), jpeg.end());
  return stripped;
}
