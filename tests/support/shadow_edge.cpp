#include "tests/support/shadow_edge.h"

#include <algorithm>
#include <cmath>

namespace testsupport {

void castShadowEdge(cv::Mat& grey, cv::Point2d through, double angleDeg, double shade, double softnessPx) {
  if (grey.empty() || grey.type() != CV_8UC1) return;
  const double a = angleDeg * CV_PI / 180.0;
  const double dx = std::cos(a), dy = std::sin(a);
  // At least a pixel's ramp: a hard edge still covers the pixels it crosses in part.
  const double ramp = std::max(softnessPx, 1.0);
  for (int y = 0; y < grey.rows; ++y) {
    std::uint8_t* row = grey.ptr<std::uint8_t>(y);
    for (int x = 0; x < grey.cols; ++x) {
      // Positive on the left of the direction as seen on screen (y grows downward).
      const double left = dy * (x - through.x) - dx * (y - through.y);
      const double share = std::clamp(left / ramp + 0.5, 0.0, 1.0);
      row[x] = cv::saturate_cast<std::uint8_t>(row[x] * (1.0 - share * (1.0 - shade)));
    }
  }
}

}  // namespace testsupport
