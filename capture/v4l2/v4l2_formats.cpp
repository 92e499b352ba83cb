// Media subtypes to V4L2 pixel formats and back.
#include <linux/videodev2.h>

#include "capture/v4l2/pixel_conversion.h"
#include "capture/v4l2/v4l2_backend.h"

namespace {

constexpr bool sameName(const char* a, const char* b) {
  while (*a != '\0' && *a == *b) ++a, ++b;
  return *a == *b;
}

// The preference list's subtype of that short name; naming one the list lacks stops the build.
constexpr MediaSubtype preferredSubtype(const char* name) {
  for (const NamedSubtype& entry : SUBTYPE_PREFERENCE) {
    if (sameName(entry.name, name)) return entry.subtype;
  }
  throw "no such subtype in the preference list";
}

struct SubtypeFormat {
  MediaSubtype subtype;
  std::uint32_t pixelFormat;
};

// Pixel formats of the preference list's subtypes, in the list's order; 0 where V4L2 has no format frames
// can be converted from. RGB24 and RGB32 are stored blue first, as V4L2's BGR24 and BGR32 are.
constexpr SubtypeFormat CAPTURE_SUBTYPE_FORMATS[CAPTURE_SUBTYPE_COUNT] = {
    {preferredSubtype("RGB24"), V4L2_PIX_FMT_BGR24},
    {preferredSubtype("RGB32"), V4L2_PIX_FMT_BGR32},
    {preferredSubtype("RGB555"), V4L2_PIX_FMT_RGB555},
    {preferredSubtype("RGB565"), V4L2_PIX_FMT_RGB565},
    {preferredSubtype("YUY2"), V4L2_PIX_FMT_YUYV},
    {preferredSubtype("YVYU"), V4L2_PIX_FMT_YVYU},
    {preferredSubtype("YUYV"), V4L2_PIX_FMT_YUYV},
    {preferredSubtype("IYUV"), V4L2_PIX_FMT_YUV420},
    {preferredSubtype("UYVY"), V4L2_PIX_FMT_UYVY},
    {preferredSubtype("YV12"), V4L2_PIX_FMT_YVU420},
    {preferredSubtype("YVU9"), 0},
    {preferredSubtype("Y411"), 0},
    {preferredSubtype("Y41P"), 0},
    {preferredSubtype("Y211"), 0},
    {preferredSubtype("AYUV"), 0},
    {preferredSubtype("Y800"), V4L2_PIX_FMT_GREY},
    {preferredSubtype("Y8"), V4L2_PIX_FMT_GREY},
    {preferredSubtype("GREY"), V4L2_PIX_FMT_GREY},
};

// MediaSubtype's == compares its std::array, which C++17 cannot do at compile time.
constexpr bool sameSubtype(const MediaSubtype& a, const MediaSubtype& b) {
  if (a.data1 != b.data1 || a.data2 != b.data2 || a.data3 != b.data3) return false;
  for (std::size_t i = 0; i < a.data4.size(); ++i) {
    if (a.data4[i] != b.data4[i]) return false;
  }
  return true;
}

// Ties the table to the preference list: one row per entry, in the same order.
constexpr bool followsPreferenceList() {
  for (int index = 0; index < CAPTURE_SUBTYPE_COUNT; ++index) {
    const MediaSubtype& listed = SUBTYPE_PREFERENCE[static_cast<std::size_t>(index)].subtype;
    if (!sameSubtype(CAPTURE_SUBTYPE_FORMATS[index].subtype, listed)) return false;
  }
  return true;
}
static_assert(followsPreferenceList(), "one row per preference list entry, in the list's order");

}  // namespace

std::uint32_t v4l2PixelFormat(const MediaSubtype& subtype) {
  for (const SubtypeFormat& entry : CAPTURE_SUBTYPE_FORMATS) {
    if (entry.subtype == subtype) return entry.pixelFormat;
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
    case V4L2_PIX_FMT_YUYV: return SUBTYPE_YUY2;  // the first entry for it
    case V4L2_PIX_FMT_YUV420: return SUBTYPE_IYUV;
    default: return fourccSubtype(pixelFormat);  // YVYU, UYVY, YV12 and GREY are their own codes
  }
}
