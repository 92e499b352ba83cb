// Frame conversion to bottom-up BGR through OpenCV's colour conversions and libjpeg-turbo's TurboJPEG API.
#include "capture/v4l2/pixel_conversion.h"

#include <linux/videodev2.h>

#include <turbojpeg.h>

#include <cstring>
#include <memory>
#include <new>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

namespace {

enum class Layout { Packed, Planar420, SemiPlanar420, Compressed };

struct FormatRule {
  std::uint32_t pixelFormat;
  Layout layout;
  int bytesPerPixel;  // of the packed row or the luma plane
  int conversion;     // OpenCV colour conversion code; -1: rows are BGR already, or decoded
  bool evenWidth;
  bool evenHeight;
};

// The formats frames are converted from and how.
constexpr FormatRule CAPTURE_FORMAT_RULES[] = {
    {V4L2_PIX_FMT_BGR24, Layout::Packed, 3, -1, false, false},
    {V4L2_PIX_FMT_RGB24, Layout::Packed, 3, cv::COLOR_RGB2BGR, false, false},
    {V4L2_PIX_FMT_BGR32, Layout::Packed, 4, cv::COLOR_BGRA2BGR, false, false},
    {V4L2_PIX_FMT_XBGR32, Layout::Packed, 4, cv::COLOR_BGRA2BGR, false, false},
    {V4L2_PIX_FMT_ABGR32, Layout::Packed, 4, cv::COLOR_BGRA2BGR, false, false},
    {V4L2_PIX_FMT_RGB565, Layout::Packed, 2, cv::COLOR_BGR5652BGR, false, false},
    {V4L2_PIX_FMT_RGB555, Layout::Packed, 2, cv::COLOR_BGR5552BGR, false, false},
    {V4L2_PIX_FMT_XRGB555, Layout::Packed, 2, cv::COLOR_BGR5552BGR, false, false},
    {V4L2_PIX_FMT_ARGB555, Layout::Packed, 2, cv::COLOR_BGR5552BGR, false, false},
    {V4L2_PIX_FMT_GREY, Layout::Packed, 1, cv::COLOR_GRAY2BGR, false, false},
    {V4L2_PIX_FMT_YUYV, Layout::Packed, 2, cv::COLOR_YUV2BGR_YUYV, true, false},
    {V4L2_PIX_FMT_YVYU, Layout::Packed, 2, cv::COLOR_YUV2BGR_YVYU, true, false},
    {V4L2_PIX_FMT_UYVY, Layout::Packed, 2, cv::COLOR_YUV2BGR_UYVY, true, false},
    {V4L2_PIX_FMT_YUV420, Layout::Planar420, 1, cv::COLOR_YUV2BGR_I420, true, true},
    {V4L2_PIX_FMT_YVU420, Layout::Planar420, 1, cv::COLOR_YUV2BGR_YV12, true, true},
    {V4L2_PIX_FMT_NV12, Layout::SemiPlanar420, 1, cv::COLOR_YUV2BGR_NV12, true, true},
    {V4L2_PIX_FMT_NV21, Layout::SemiPlanar420, 1, cv::COLOR_YUV2BGR_NV21, true, true},
    {V4L2_PIX_FMT_MJPEG, Layout::Compressed, 0, -1, false, false},
    {V4L2_PIX_FMT_JPEG, Layout::Compressed, 0, -1, false, false},
};

const FormatRule* findRule(std::uint32_t pixelFormat) {
  for (const FormatRule& rule : CAPTURE_FORMAT_RULES) {
    if (rule.pixelFormat == pixelFormat) return &rule;
  }
  return nullptr;
}

// The frame size a JPEG stream declares in its first start-of-frame segment; false when there is none
// before the scan data or the stream ends first.
bool jpegFrameSize(const std::uint8_t* data, std::size_t length, int& width, int& height) {
  if (length < 4 || data[0] != 0xFF || data[1] != 0xD8) return false;
  std::size_t pos = 2;
  while (pos + 4 <= length) {
    if (data[pos] != 0xFF) return false;
    const std::uint8_t marker = data[pos + 1];
    if (marker == 0xFF) {  // fill byte
      ++pos;
      continue;
    }
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) {  // segments without a length
      pos += 2;
      continue;
    }
    if (marker == 0xD9 || marker == 0xDA) return false;
    const std::size_t segment = (static_cast<std::size_t>(data[pos + 2]) << 8) | data[pos + 3];
    if (segment < 2) return false;
    const bool startOfFrame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
    if (startOfFrame) {
      if (segment < 7 || pos + 9 > length) return false;
      height = (data[pos + 5] << 8) | data[pos + 6];
      width = (data[pos + 7] << 8) | data[pos + 8];
      return true;
    }
    pos += 2 + segment;
  }
  return false;
}

struct TurboJpegRelease {
  void operator()(void* handle) const { tjDestroy(handle); }
};
using TurboJpegDecoder = std::unique_ptr<void, TurboJpegRelease>;

// Decodes a JPEG frame of exactly width x height into top-down BGR; an empty image otherwise. Frames
// of many cameras carry no Huffman tables; the library then uses the standard ones, as such streams
// expect. Damaged data that still yields a whole picture (a warning, not an error) is accepted.
cv::Mat decodeJpegFrame(const std::uint8_t* data, std::size_t length, int width, int height) {
  const TurboJpegDecoder decoder(tjInitDecompress());
  if (!decoder) return cv::Mat();
  int streamWidth = 0, streamHeight = 0, subsampling = 0, colourspace = 0;
  if (tjDecompressHeader3(decoder.get(), data, static_cast<unsigned long>(length), &streamWidth, &streamHeight,
                          &subsampling, &colourspace) != 0 ||
      streamWidth != width || streamHeight != height) {
    return cv::Mat();
  }
  cv::Mat decoded(height, width, CV_8UC3);
  if (tjDecompress2(decoder.get(), data, static_cast<unsigned long>(length), decoded.data, width,
                    static_cast<int>(decoded.step), height, TJPF_BGR, 0) != 0 &&
      tjGetErrorCode(decoder.get()) != TJERR_WARNING) {
    return cv::Mat();
  }
  return decoded;
}

// Copies rows of rowBytes from a strided source into a packed destination.
void packRows(const std::uint8_t* source, std::size_t stride, std::size_t rowBytes, std::size_t rows,
              std::uint8_t* destination) {
  for (std::size_t row = 0; row < rows; ++row) {
    std::memcpy(destination + row * rowBytes, source + row * stride, rowBytes);
  }
}

// Top-down BGR of the frame, or an empty image.
cv::Mat convertTopDown(const std::uint8_t* data, std::size_t length, const FormatRule& rule, int width,
                       int height, int bytesPerLine) {
  const std::size_t w = static_cast<std::size_t>(width);
  const std::size_t h = static_cast<std::size_t>(height);
  std::uint8_t* source = const_cast<std::uint8_t*>(data);  // read only: the headers below are never written

  if (rule.layout == Layout::Compressed) {
    int declaredWidth = 0;
    int declaredHeight = 0;
    // Checked before decoding, so a stream never makes the decoder allocate more than this frame.
    if (!jpegFrameSize(data, length, declaredWidth, declaredHeight)) return cv::Mat();
    if (declaredWidth != width || declaredHeight != height) return cv::Mat();
    return decodeJpegFrame(data, length, width, height);
  }

  const std::size_t rowBytes = w * static_cast<std::size_t>(rule.bytesPerPixel);
  const std::size_t stride =
      bytesPerLine > 0 && static_cast<std::size_t>(bytesPerLine) >= rowBytes ? static_cast<std::size_t>(bytesPerLine)
                                                                            : rowBytes;
  cv::Mat topDown;
  if (rule.layout == Layout::Packed) {
    if (length < stride * (h - 1) + rowBytes) return cv::Mat();
    const cv::Mat frame(height, width, CV_MAKETYPE(CV_8U, rule.bytesPerPixel), source, stride);
    if (rule.conversion < 0) return frame.clone();
    cv::cvtColor(frame, topDown, rule.conversion);
    return topDown;
  }

  // 4:2:0 frames: the luma plane, then either two chroma planes of half the stride or one interleaved
  // chroma plane of the full stride, each of half the height. OpenCV wants them packed.
  const std::size_t chromaRows = h / 2;
  cv::Mat packed(height + height / 2, width, CV_8UC1);
  std::uint8_t* out = packed.ptr<std::uint8_t>();
  if (rule.layout == Layout::Planar420) {
    const std::size_t chromaStride = stride / 2;
    const std::size_t chromaBytes = w / 2;
    if (length < stride * h + 2 * chromaStride * chromaRows) return cv::Mat();
    packRows(data, stride, w, h, out);
    packRows(data + stride * h, chromaStride, chromaBytes, chromaRows, out + w * h);
    packRows(data + stride * h + chromaStride * chromaRows, chromaStride, chromaBytes, chromaRows,
             out + w * h + chromaBytes * chromaRows);
  } else {
    if (length < stride * h + stride * chromaRows) return cv::Mat();
    packRows(data, stride, w, h, out);
    packRows(data + stride * h, stride, w, chromaRows, out + w * h);
  }
  cv::cvtColor(packed, topDown, rule.conversion);
  return topDown;
}

}  // namespace

bool isConvertiblePixelFormat(std::uint32_t pixelFormat) { return findRule(pixelFormat) != nullptr; }

bool convertFrameToBgr(const std::uint8_t* data, std::size_t length, std::uint32_t pixelFormat, int width,
                       int height, int bytesPerLine, std::vector<std::uint8_t>& bgr) {
  const FormatRule* rule = findRule(pixelFormat);
  if (rule == nullptr || data == nullptr) return false;
  if (width < 1 || height < 1 || width > CAPTURE_MAX_FRAME_SIDE || height > CAPTURE_MAX_FRAME_SIDE) return false;
  if ((rule->evenWidth && width % 2 != 0) || (rule->evenHeight && height % 2 != 0)) return false;

  try {
    const cv::Mat topDown = convertTopDown(data, length, *rule, width, height, bytesPerLine);
    if (topDown.empty()) return false;
    const std::size_t rowBytes = static_cast<std::size_t>(width) * 3;
    bgr.resize(rowBytes * static_cast<std::size_t>(height));
    for (int row = 0; row < height; ++row) {
      std::memcpy(bgr.data() + static_cast<std::size_t>(row) * rowBytes, topDown.ptr(height - 1 - row), rowBytes);
    }
    return true;
  } catch (const cv::Exception&) {
    return false;
  } catch (const std::bad_alloc&) {
    return false;
  }
}
