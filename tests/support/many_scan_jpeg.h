// Test-only: progressive JPEG streams with as many scans as a test asks for, as a crafted file carries
// them to make a decoder redo its work once per scan.
#ifndef QUARNEL_TESTS_SUPPORT_MANY_SCAN_JPEG_H_
#define QUARNEL_TESTS_SUPPORT_MANY_SCAN_JPEG_H_

#include <cstdint>
#include <vector>

#include <opencv2/core.hpp>

namespace testsupport {

// `picture` encoded as a progressive JPEG by the image library, whose last scan (a refinement scan) is
// repeated until the stream holds `scans` of them. Empty when the picture cannot be encoded or its
// progressive form has more scans than that.
std::vector<std::uint8_t> manyScanJpeg(const cv::Mat& picture, int scans);

// How many scans the image library's progressive encoder writes: its standard script.
constexpr int PROGRESSIVE_GREY_SCANS = 6;
constexpr int PROGRESSIVE_COLOUR_SCANS = 10;

}  // namespace testsupport

#endif  // QUARNEL_TESTS_SUPPORT_MANY_SCAN_JPEG_H_
