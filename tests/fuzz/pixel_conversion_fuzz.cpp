// The capture backend's pixel conversions on buffers of every supported format, any frame size and any
// length.
//
// Input: format selector (1 byte), width and height (2 bytes each; the top two bits pick a negative or
// an oversized value instead), bytes per line (2 bytes, signed), then the buffer.
#include <linux/videodev2.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "capture/v4l2/pixel_conversion.h"
#include "tests/fuzz/fuzz_input.h"

namespace {

// Every format the conversion knows, and a few it must refuse.
constexpr std::uint32_t FUZZ_PIXEL_FORMATS[] = {
    V4L2_PIX_FMT_BGR24,  V4L2_PIX_FMT_RGB24,   V4L2_PIX_FMT_BGR32,   V4L2_PIX_FMT_XBGR32, V4L2_PIX_FMT_ABGR32,
    V4L2_PIX_FMT_RGB565, V4L2_PIX_FMT_RGB555,  V4L2_PIX_FMT_XRGB555, V4L2_PIX_FMT_ARGB555, V4L2_PIX_FMT_GREY,
    V4L2_PIX_FMT_YUYV,   V4L2_PIX_FMT_YVYU,    V4L2_PIX_FMT_UYVY,    V4L2_PIX_FMT_YUV420, V4L2_PIX_FMT_YVU420,
    V4L2_PIX_FMT_NV12,   V4L2_PIX_FMT_NV21,    V4L2_PIX_FMT_MJPEG,   V4L2_PIX_FMT_JPEG,   V4L2_PIX_FMT_H264,
    V4L2_PIX_FMT_SGRBG8, 0,
};
constexpr std::size_t FUZZ_FORMAT_COUNT = sizeof(FUZZ_PIXEL_FORMATS) / sizeof(FUZZ_PIXEL_FORMATS[0]);

// A compressed frame of a legitimately huge size costs decoding time in proportion to its size; that is
// no fault, so compressed frames are kept to a full-HD picture.
constexpr long FUZZ_MAX_COMPRESSED_PIXELS = 1920L * 1080;

int takeSide(FuzzInput& input) {
  const std::uint16_t raw = input.takeU16();
  switch (raw >> 14) {
    case 0:
      return raw & 0x3FF;  // 0 .. 1023, the common case
    case 1:
      return (raw & 0x3FFF) + 1;  // up to 16384: past the largest side converted
    case 2:
      return -static_cast<int>(raw & 0x3FFF);
    default:
      return static_cast<int>(0x7FFFFFFF - (raw & 0x3FFF));
  }
}

bool isCompressed(std::uint32_t format) { return format == V4L2_PIX_FMT_MJPEG || format == V4L2_PIX_FMT_JPEG; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput input(data, size);
  const std::uint32_t format = FUZZ_PIXEL_FORMATS[input.takeByte() % FUZZ_FORMAT_COUNT];
  const int width = takeSide(input);
  const int height = takeSide(input);
  const auto bytesPerLine = static_cast<std::int16_t>(input.takeU16());
  const std::vector<std::uint8_t> buffer = input.takeRest();
  if (isCompressed(format) && width > 0 && height > 0 &&
      static_cast<long>(width) * height > FUZZ_MAX_COMPRESSED_PIXELS) {
    return 0;
  }

  std::vector<std::uint8_t> bgr;
  // A buffer of length 0 still comes with a pointer, as a driver's mapped buffer would.
  std::uint8_t none = 0;
  const bool converted = convertFrameToBgr(buffer.empty() ? &none : buffer.data(), buffer.size(), format, width,
                                           height, bytesPerLine, bgr);
  if (converted) {
    fuzzCheck(isConvertiblePixelFormat(format));
    fuzzCheck(width > 0 && height > 0 && bgr.size() == static_cast<std::size_t>(width) * height * 3);
  }
  return 0;
}
