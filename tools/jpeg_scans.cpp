#include "tools/jpeg_scans.h"

namespace {

constexpr std::uint8_t MARKER_PREFIX = 0xFF;
constexpr std::uint8_t SOI = 0xD8;  // start of image
constexpr std::uint8_t EOI = 0xD9;  // end of image
constexpr std::uint8_t SOS = 0xDA;  // start of scan
constexpr std::uint8_t TEM = 0x01;  // the one other marker without a length
constexpr std::uint8_t STUFFED_ZERO = 0x00;

bool isRestartMarker(std::uint8_t marker) { return marker >= 0xD0 && marker <= 0xD7; }

// Past the entropy-coded data that starts at `at`: the position of the next marker's prefix byte.
// A stuffed zero and a restart marker belong to the data.
std::size_t skipEntropyCodedData(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  while (at + 1 < bytes.size()) {
    if (bytes[at] != MARKER_PREFIX) {
      ++at;
      continue;
    }
    const std::uint8_t next = bytes[at + 1];
    if (next == STUFFED_ZERO || isRestartMarker(next)) {
      at += 2;
    } else if (next == MARKER_PREFIX) {
      ++at;  // a fill byte before the marker
    } else {
      return at;
    }
  }
  return bytes.size();
}

}  // namespace

bool looksLikeJpeg(const std::vector<std::uint8_t>& bytes) {
  return bytes.size() >= 3 && bytes[0] == MARKER_PREFIX && bytes[1] == SOI && bytes[2] == MARKER_PREFIX;
}

std::size_t countJpegScans(const std::vector<std::uint8_t>& bytes, std::size_t stopAfter) {
  if (!looksLikeJpeg(bytes)) return 0;
  std::size_t scans = 0;
  std::size_t at = 2;
  while (at < bytes.size() && scans <= stopAfter) {
    // As the decoder does, bytes that are no marker between segments are passed over.
    while (at < bytes.size() && bytes[at] != MARKER_PREFIX) ++at;
    while (at < bytes.size() && bytes[at] == MARKER_PREFIX) ++at;
    if (at >= bytes.size()) break;
    const std::uint8_t marker = bytes[at++];
    if (marker == EOI) break;
    if (marker == SOI || marker == TEM || isRestartMarker(marker) || marker == STUFFED_ZERO) continue;
    if (at + 2 > bytes.size()) break;
    const std::size_t length = (std::size_t{bytes[at]} << 8) | bytes[at + 1];
    if (length < 2) break;  // a segment length counts its own two bytes
    at += length;
    if (marker == SOS) {
      ++scans;
      at = skipEntropyCodedData(bytes, at);
    }
  }
  return scans;
}
