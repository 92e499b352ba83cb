// Test-only: a hard shadow cast across an image, as a wall or a hand throws one over a label.
#ifndef QUARNEL_TESTS_SUPPORT_SHADOW_EDGE_H_
#define QUARNEL_TESTS_SUPPORT_SHADOW_EDGE_H_

#include <opencv2/core.hpp>

namespace testsupport {

// Darkens the side left of the line through `through` at angleDeg (clockwise on screen from +x) by the
// factor shade, the edge ramped over softnessPx pixels.
void castShadowEdge(cv::Mat& grey, cv::Point2d through, double angleDeg, double shade, double softnessPx);

}  // namespace testsupport

#endif  // QUARNEL_TESTS_SUPPORT_SHADOW_EDGE_H_
