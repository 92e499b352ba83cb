// Test-only: the emulated camera's frames. Pictures are fitted to the frame size and written in the
// camera's pixel format, as the V4L2 format definitions lay them out.
#ifndef QUARNEL_TESTS_FAKECAM_FRAME_SOURCE_H_
#define QUARNEL_TESTS_FAKECAM_FRAME_SOURCE_H_

#include <cstdint>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

// Whether the camera can produce frames of this V4L2 pixel format.
bool isEmulatedFormat(std::uint32_t pixelFormat);
bool isCompressedFormat(std::uint32_t pixelFormat);
// The format's description as ENUM_FMT gives it.
const char* formatDescription(std::uint32_t pixelFormat);

// Row length (of the first plane) and buffer size of a frame; 0 and a worst-case size for JPEG.
struct FrameLayout {
  std::uint32_t bytesPerLine = 0;
  std::uint32_t sizeImage = 0;
};
FrameLayout frameLayout(std::uint32_t pixelFormat, std::uint32_t width, std::uint32_t height,
                        std::uint32_t rowPadding);

// The picture scaled to fit width x height, keeping its aspect, centred on mid-grey (B, G, R, 8 bits).
cv::Mat fitPicture(const cv::Mat& picture, int width, int height);

// The frame in the pixel format: rows layout.bytesPerLine apart with the padding bytes set to 0xEE; JPEG
// formats as a baseline JPEG stream (4:2:2) without its Huffman table segments, which decoders must then
// take from the standard. Empty when the format is not emulated or the encoder fails.
std::vector<std::uint8_t> encodeFrame(const cv::Mat& bgr, std::uint32_t pixelFormat, const FrameLayout& layout);

// The JPEG stream without its DHT segments.
std::vector<std::uint8_t> stripHuffmanTables(const std::vector<std::uint8_t>& jpeg);

#endif  // QUARNEL_TESTS_FAKECAM_FRAME_SOURCE_H_
