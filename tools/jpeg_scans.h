// The scans of a JPEG stream, counted before it is decoded: a progressive decoder redoes its work for
// every scan, so a small file holding thousands of them costs hours.
#ifndef QUARNEL_TOOLS_JPEG_SCANS_H_
#define QUARNEL_TOOLS_JPEG_SCANS_H_

#include <cstddef>
#include <cstdint>
#include <vector>

// No encoder writes more scans than this; the codec library's own tools stop at the same number.
constexpr std::size_t JPEG_MAX_SCANS = 500;

// Whether the bytes begin as a JPEG stream does (start of image, then a marker).
bool looksLikeJpeg(const std::vector<std::uint8_t>& bytes);

// The start-of-scan markers of a JPEG stream up to its end of image, found by walking its marker segments
// and skipping the entropy-coded data; counting stops at `stopAfter` + 1. A truncated stream counts the
// scans it holds; bytes that are no JPEG count none.
std::size_t countJpegScans(const std::vector<std::uint8_t>& bytes, std::size_t stopAfter);

#endif  // QUARNEL_TOOLS_JPEG_SCANS_H_
