// decodeImage on grey images whose size and pixels come from the input, with the scanner's two passes
// and with any threshold and flags; and the scanner's whole read (both passes and the second look).
//
// Input: mode (1 byte), width - 1 and height - 1 (2 bytes each, taken modulo 1024), threshold and flags
// (4 bytes each, used by the free mode only), then the pixels row by row. Fewer pixel bytes than the image
// needs are repeated to fill it, so that a short input can still make a large, structured image.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include <opencv2/core/core_c.h>

#include "decoder/decoder.h"
#include "tests/fuzz/fuzz_input.h"

namespace {

constexpr int FUZZ_MAX_SIDE = 1024;

enum FuzzMode : std::uint8_t {
  MODE_GLOBAL_PASS = 0,    // the scanner's first pass: automatic global level, crop
  MODE_ADAPTIVE_PASS = 1,  // the scanner's second pass: adaptive block 15, crop
  MODE_FREE = 2,           // threshold and flags as the input gives them
  MODE_MESSAGES = 3,       // the free mode through decodeImageMessages
  MODE_WHOLE_READ = 4,     // scanImage
  MODE_WHOLE_READ_MESSAGES = 5,  // scanImageMessages
  MODE_COUNT = 6,
};

void checkResults(const DecodeResult* results, int count) {
  fuzzCheck(count >= 0 && count <= DECODE_MAX_RESULTS);
  for (int r = 0; r < count; ++r) {
    fuzzCheck(std::memchr(results[r].text, 0, DECODE_TEXT_SIZE) != nullptr);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput input(data, size);
  const auto mode = static_cast<FuzzMode>(input.takeByte() % MODE_COUNT);
  const int width = input.takeU16() % FUZZ_MAX_SIDE + 1;
  const int height = input.takeU16() % FUZZ_MAX_SIDE + 1;
  int threshold = input.takeI32();
  int flags = input.takeI32();
  const std::vector<std::uint8_t> pixels = input.takeRest();

  if (mode == MODE_GLOBAL_PASS) {
    threshold = SCAN_GLOBAL_PASS.threshold;
    flags = SCAN_GLOBAL_PASS.flags;
  } else if (mode == MODE_ADAPTIVE_PASS) {
    threshold = SCAN_ADAPTIVE_PASS.threshold;
    flags = SCAN_ADAPTIVE_PASS.flags;
  }

  IplImage* grey = cvCreateImage(cvSize(width, height), IPL_DEPTH_8U, 1);
  for (int y = 0; y < height; ++y) {
    auto* row = reinterpret_cast<std::uint8_t*>(grey->imageData + static_cast<std::ptrdiff_t>(y) * grey->widthStep);
    for (int x = 0; x < width; ++x) {
      const std::size_t at = static_cast<std::size_t>(y) * width + x;
      row[x] = pixels.empty() ? 128 : pixels[at % pixels.size()];
    }
  }
  IplImage* before = cvCloneImage(grey);

  if (mode == MODE_MESSAGES || mode == MODE_WHOLE_READ_MESSAGES) {
    std::vector<DecodedSymbol> symbols;
    const int status = mode == MODE_MESSAGES ? decodeImageMessages(grey, threshold, flags, &symbols)
                                             : scanImageMessages(grey, &symbols);
    fuzzCheck(status == 0 || (status == -1 && symbols.empty()));
  } else {
    DecodeResult results[DECODE_MAX_RESULTS];
    int count = -7;
    const int status = mode == MODE_WHOLE_READ ? scanImage(grey, results, &count)
                                               : decodeImage(grey, results, &count, threshold, flags);
    fuzzCheck(status == 0 || status == -1);
    if (status == 0) checkResults(results, count);
    if (status == -1) fuzzCheck(count == -7);  // a failed pass leaves the count alone
  }

  // The caller's image leaves the call as it came: same pixels, no region of interest.
  fuzzCheck(grey->roi == nullptr);
  fuzzCheck(cvNorm(grey, before, CV_L1) == 0.0);
  cvReleaseImage(&before);
  cvReleaseImage(&grey);
  return 0;
}
