// A shadow edge: each pixel keeps a share of its light that falls from 1 to `shade` across the line.
#include "tests/support/shadow_edge.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace testsupport {

void castShadowEdge(cv::Mat& grey, cv::Point2d through, double angleDeg, double shade, double softnessPx) {
  if (grey.type() != CV_8UC1 || grey.empty()) return;
  shade = std::clamp(shade, 0.0, 1.0);
  const double angle = angleDeg * CV_PI / 180.0;
  const double dx = std::cos(angle), dy = std::sin(angle);
  // With y growing downward, the left of a walk along (dx, dy) lies along (dy, -dx).
  const double leftX = dy, leftY = -dx;
  // A hard edge is ramped over one pixel, which is each pixel's share of area in the shade to first order.
  const double ramp = std::max(softnessPx, 1.0);
  for (int y = 0; y < grey.rows; ++y) {
    std::uint8_t* row = grey.ptr<std::uint8_t>(y);
    for (int x = 0; x < grey.cols; ++x) {
      const double intoShade = (x - through.x) * leftX + (y - through.y) * leftY;
      const double shaded = std::clamp(intoShade / ramp + 0.5, 0.0, 1.0);
      const double kept = 1.0 - shaded * (1.0 - shade);
      row[x] = cv::saturate_cast<std::uint8_t>(row[x] * kept);
    }
  }
}

}  // namespace testsupport
