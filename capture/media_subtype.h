// Media subtypes: the 16-byte identifiers of a stream's pixel format and the preference list the
// capture component tries them in.
#ifndef QUARNEL_CAPTURE_MEDIA_SUBTYPE_H_
#define QUARNEL_CAPTURE_MEDIA_SUBTYPE_H_

#include <array>
#include <cstdint>

struct MediaSubtype {
  std::uint32_t data1 = 0;
  std::uint16_t data2 = 0;
  std::uint16_t data3 = 0;
  std::array<std::uint8_t, 8> data4{};
};

constexpr bool operator==(const MediaSubtype& a, const MediaSubtype& b) {
  return a.data1 == b.data1 && a.data2 == b.data2 && a.data3 == b.data3 && a.data4 == b.data4;
}
constexpr bool operator!=(const MediaSubtype& a, const MediaSubtype& b) { return !(a == b); }

// A four-character-code subtype: {code-0000-0010-8000-00AA00389B71}, code's first letter in the low byte.
constexpr MediaSubtype fourccSubtype(std::uint32_t code) {
  return MediaSubtype{code, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
}

// Whether subtype has the four-character-code form; its code is then subtype.data1.
constexpr bool isFourccSubtype(const MediaSubtype& subtype) {
  return subtype.data2 == 0x0000 && subtype.data3 == 0x0010 && subtype.data4 == fourccSubtype(0).data4;
}

// The uncompressed RGB subtypes have identifiers of their own: {E436EB7x-524F-11CE-9F53-0020AF0BA770}.
constexpr MediaSubtype rgbSubtype(std::uint32_t code) {
  return MediaSubtype{code, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
}

constexpr MediaSubtype SUBTYPE_RGB24 = rgbSubtype(0xE436EB7D);
constexpr MediaSubtype SUBTYPE_RGB32 = rgbSubtype(0xE436EB7E);
constexpr MediaSubtype SUBTYPE_RGB555 = rgbSubtype(0xE436EB7C);
constexpr MediaSubtype SUBTYPE_RGB565 = rgbSubtype(0xE436EB7B);
constexpr MediaSubtype SUBTYPE_MJPG = fourccSubtype(0x47504A4D);
constexpr MediaSubtype SUBTYPE_YUY2 = fourccSubtype(0x32595559);
constexpr MediaSubtype SUBTYPE_IYUV = fourccSubtype(0x56555949);

constexpr int CAPTURE_SUBTYPE_COUNT = 18;

struct NamedSubtype {
  const char* name;
  MediaSubtype subtype;
};

// Subtypes tried, in this order, for a requested frame size. Y8's code is stored as the bytes
// 00 00 59 38, so the grey code 'Y8  ' (0x20203859) is not Y8.
constexpr std::array<NamedSubtype, CAPTURE_SUBTYPE_COUNT> SUBTYPE_PREFERENCE = {{
    {"RGB24", SUBTYPE_RGB24},
    {"RGB32", SUBTYPE_RGB32},
    {"RGB555", SUBTYPE_RGB555},
    {"RGB565", SUBTYPE_RGB565},
    {"YUY2", SUBTYPE_YUY2},
    {"YVYU", fourccSubtype(0x55595659)},
    {"YUYV", fourccSubtype(0x56595559)},
    {"IYUV", SUBTYPE_IYUV},
    {"UYVY", fourccSubtype(0x59565955)},
    {"YV12", fourccSubtype(0x32315659)},
    {"YVU9", fourccSubtype(0x39555659)},
    {"Y411", fourccSubtype(0x31313459)},
    {"Y41P", fourccSubtype(0x50313459)},
    {"Y211", fourccSubtype(0x31313259)},
    {"AYUV", fourccSubtype(0x56555941)},
    {"Y800", fourccSubtype(0x30303859)},
    {"Y8", fourccSubtype(0x38590000)},
    {"GREY", fourccSubtype(0x59455247)},
}};

// Short name of a subtype from the preference list (first equal entry), "OTHER" for any other.
const char* subtypeName(const MediaSubtype& subtype);

#endif  // QUARNEL_CAPTURE_MEDIA_SUBTYPE_H_
