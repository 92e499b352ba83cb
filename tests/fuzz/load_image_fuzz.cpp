// quarnel-decode's image loading on arbitrary bytes: any file content gives a grey image or a reason.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "tools/decode_command.h"
#include "tests/fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::uint8_t> bytes(data, data + size);
  std::string error;
  const cv::Mat grey = decodeGreyImage(bytes, &error);
  if (grey.empty()) {
    fuzzCheck(!error.empty());
  } else {
    fuzzCheck(grey.type() == CV_8UC1 && grey.cols > 0 && grey.rows > 0);
  }
  return 0;
}
