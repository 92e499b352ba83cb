// The finder legs of a candidate fitted again as straight lines through the outer edge of each bar, found
// by scanning across the bar in the binary image. A notch, a scratch or a printing gap in a leg moves the
// outline's corner points by part of a module; the fit leaves the edge points it moved out of the line.
#ifndef QUARNEL_DECODER_SECOND_LOOK_LEG_FIT_H_
#define QUARNEL_DECODER_SECOND_LOOK_LEG_FIT_H_

#include <opencv2/core/core_c.h>

#include "decoder/symbol_decoder.h"

// Fits both legs of `located` (L vertex corners[0], leg ends farA and farB as found on the outline, bar
// thicknesses barA and barB in pixels) in `binary` (255 dark). True, with *fitted holding the fitted leg
// lines, their crossing as the vertex and the leg ends moved onto them, only when both legs fit well
// and the fitted L lies apart from the located one; false when it adds nothing to try.
bool fitFinderLegs(const IplImage* binary, const SymbolCandidate& located, CvPoint2D32f farA, CvPoint2D32f farB,
                   double barA, double barB, SymbolCandidate* fitted);

#endif  // QUARNEL_DECODER_SECOND_LOOK_LEG_FIT_H_
