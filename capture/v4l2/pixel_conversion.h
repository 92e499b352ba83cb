// Conversion of one captured frame from a V4L2 pixel format to the frame layout the capture component
// hands over: packed 24-bit B, G, R, rows of width x 3 bytes, bottom row first.
#ifndef QUARNEL_CAPTURE_V4L2_PIXEL_CONVERSION_H_
#define QUARNEL_CAPTURE_V4L2_PIXEL_CONVERSION_H_

#include <cstddef>
#include <cstdint>
#include <vector>

// Largest frame side converted; larger frames are refused rather than allocated.
constexpr int CAPTURE_MAX_FRAME_SIDE = 8192;

// Whether frames of this V4L2 pixel format can be converted.
bool isConvertiblePixelFormat(std::uint32_t pixelFormat);

// Converts the width x height frame in data[0 .. length) into bgr (resized to width x height x 3).
// bytesPerLine is the distance between rows of the first plane as the driver reports it; a value below the
// packed row length means packed rows. Compressed formats must decode to exactly width x height.
// False, with bgr unspecified, for an unsupported format, a size out of range or odd where the format
// needs even, a buffer too short for the frame, or undecodable data. Reads nothing outside data.
bool convertFrameToBgr(const std::uint8_t* data, std::size_t length, std::uint32_t pixelFormat, int width,
                       int height, int bytesPerLine, std::vector<std::uint8_t>& bgr);

#endif  // QUARNEL_CAPTURE_V4L2_PIXEL_CONVERSION_H_
