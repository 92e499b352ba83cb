#include "tests/support/many_scan_jpeg.h"

#include <opencv2/imgcodecs.hpp>

namespace testsupport {

namespace {

// Where the last start-of-scan marker of an encoder's stream begins. An encoder stuffs every 0xFF of
// its entropy-coded data, so 0xFF 0xDA occurs nowhere else after the tables.
std::size_t lastScanStart(const std::vector<std::uint8_t>& jpeg) {
  std::size_t last = 0;
  for (std::size_t at = 2; at + 1 < jpeg.size(); ++at) {
    if (jpeg[at] == 0xFF && jpeg[at + 1] == 0xDA) last = at;
  }
  return last;
}

}  // namespace

std::vector<std::uint8_t> manyScanJpeg(const cv::Mat& picture, int scans) {
  std::vector<std::uint8_t> jpeg;
  if (!cv::imencode(".jpg", picture, jpeg, {cv::IMWRITE_JPEG_PROGRESSIVE, 1})) return {};
  const int written = picture.channels() == 1 ? PROGRESSIVE_GREY_SCANS : PROGRESSIVE_COLOUR_SCANS;
  const std::size_t scanStart = lastScanStart(jpeg);
  if (written > scans || scanStart == 0 || jpeg.size() < 2) return {};
  const std::vector<std::uint8_t> lastScan(jpeg.begin() + static_cast<long>(scanStart), jpeg.end() - 2);
  std::vector<std::uint8_t> stream(jpeg.begin(), jpeg.end() - 2);  // up to the end-of-image marker
  for (int extra = written; extra < scans; ++extra) stream.insert(stream.end(), lastScan.begin(), lastScan.end());
  stream.insert(stream.end(), {0xFF, 0xD9});
  return stream;
}

}  // namespace testsupport
