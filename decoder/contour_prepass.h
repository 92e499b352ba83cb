// Cleaning of the binary image before the contour search: everything whose contours the cheap filters
// would drop anyway is removed, so that the search traces only what can become a candidate.
#ifndef QUARNEL_DECODER_CONTOUR_PREPASS_H_
#define QUARNEL_DECODER_CONTOUR_PREPASS_H_

#include <opencv2/core/core_c.h>

// A contour whose bounding width or height is below this never becomes a polygon candidate.
constexpr int MIN_POLYGON_EXTENT = 10;  // pixels
// A dark region's outer contour spans exactly the region's box, so a region narrower than the contour
// limit can go. A hole's contour runs over the dark pixels around it, at most one pixel further on
// each side, so a hole two pixels narrower than the limit can be filled.
constexpr int PREPASS_MIN_REGION_EXTENT = MIN_POLYGON_EXTENT;
constexpr int PREPASS_MIN_HOLE_EXTENT = MIN_POLYGON_EXTENT - 2;

// Writes into `cleaned` (same size, 8-bit, one channel) the binary image `binary` (nonzero dark) with its
// one-pixel frame cleared, as the contour search clears it, and with every dark region (8-connected)
// and every hole (4-connected) too small to give a contour that passes the extent filter removed
// together with all that lies inside it (on an image with a side above 65535 pixels, only the one-pixel
// regions and holes). Every contour that passes the filter is traced from the
// result exactly as from `binary`, point by point and in the same order. Returns whether `binary` held
// a dark pixel off its frame, that is whether the search over `binary` would have found any contour.
// `cleaned` serves as working space on the way; nothing outside its pixels is written.
bool cleanContourInput(const IplImage* binary, IplImage* cleaned);

#endif  // QUARNEL_DECODER_CONTOUR_PREPASS_H_
