// Media subtypes to V4L2 pixel formats and back.
#include <linux/videodev2.h>

#include "capture/pixel_conversion.h"
#include "capture/v4l2_backend.h"

namespace {

struct SubtypeFormat {
  const char* name;  // the subtype's short name in the preference list
  std::uint32_t pixelFormat;
};

// Pixel formats of the preference list's subtypes; 0 where V4L2 has no format frames can be converted
// from. RGB24 and RGB32 are stored blue first, as V4L2's BGR24 and BGR32 are.
constexpr SubtypeFormat CAPTURE_SUBTYPE_FORMATS[CAPTURE_SUBTYPE_COUNT] = {
    {"RGB24", V4L2_PIX_FMT_BGR24},   {"RGB32", V4L2_PIX_FMT_BGR32},   {"RGB555", V4L2_PIX_FMT_RGB555},
    {"RGB565", V4L2_PIX_FMT_RGB565}, {"YUY2", V4L2_PIX_FMT_YUYV},     {"YVYU", V4L2_PIX_FMT_YVYU},
    {"YUYV", V4L2_PIX_FMT_YUYV},     {"IYUV", V4L2_PIX_FMT_YUV420},   {"UYVY", V4L2_PIX_FMT_UYVY},
    {"YV12", V4L2_PIX_FMT_YVU420},   {"YVU9", 0},                     {"Y411", 0},
    {"Y41P", 0},                     {"Y211", 0},                     {"AYUV", 0},
    {"Y800", V4L2_PIX_FMT_GREY},     {"Y8", V4L2_PIX_FMT_GREY},       {"GREY", V4L2_PIX_FMT_GREY},
};

}  // namespace

std::uint32_t v4l2PixelFormat(const MediaSubtype& subtype) {
  for (int index = 0; index < CAPTURE_SUBTYPE_COUNT; ++index) {
    if (SUBTYPE_PREFERENCE[static_cast<std::size_t>(index)].subtype == subtype) {
      return CAPTURE_SUBTYPE_FORMATS[index].pixelFormat;
    }
  }
  // Any other four-character code is V4L2's code of the same letters (MJPG, NV12, ...).
  if (isFourccSubtype(subtype) && isConvertiblePixelFormat(subtype.data1)) return subtype.data1;
  return 0;
}

MediaSubtype subtypeForPixelFormat(std::uint32_t pixelFormat) {
  switch (pixelFormat) {
    case V4L2_PIX_FMT_BGR24: return SUBTYPE_RGB24;
    case V4L2_PIX_FMT_BGR32: return SUBTYPE_RGB32;
    case V4L2_PIX_FMT_RGB555: return SUBTYPE_RGB555;
    case V4L2_PIX_FMT_RGB565: return SUBTYPE_RGB565;
    case V4L2_PIX_FMT_YUYV: return SUBTYPE_PREFERENCE[4].subtype;    // YUY2, the first entry for it
    case V4L2_PIX_FMT_YUV420: return SUBTYPE_PREFERENCE[7].subtype;  // IYUV
    default: return fourccSubtype(pixelFormat);  // YVYU, UYVY, YV12 and GREY are their own codes
  }
}
