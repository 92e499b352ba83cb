// Test-only: a hard shadow edge (a hand, a lamp) cast across a grey frame.
#ifndef QUARNEL_TESTS_SUPPORT_SHADOW_EDGE_H_
#define QUARNEL_TESTS_SUPPORT_SHADOW_EDGE_H_

#include <opencv2/core.hpp>

namespace testsupport {

// Darkens, in a CV_8UC1 image, every pixel on one side of the straight line through `through` at
// angleDeg (degrees, clockwise on screen from the x axis): the side to the left when walking along the
// angle. Shaded pixels keep `shade` of their light (0..1); the edge ramps linearly over softnessPx pixels
// centred on the line (0: a hard edge, each pixel by the share of its area in the shade). Any other
// image is left as it is.
void castShadowEdge(cv::Mat& grey, cv::Point2d through, double angleDeg, double shade, double softnessPx);

}  // namespace testsupport

#endif  // QUARNEL_TESTS_SUPPORT_SHADOW_EDGE_H_
