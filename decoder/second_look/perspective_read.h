// Perspective recovery for the second look: reads a symbol from a finder candidate whose grid the
// locator's own refinement could not fit (tilt, large symbols, odd module sizes).
#ifndef QUARNEL_DECODER_SECOND_LOOK_PERSPECTIVE_READ_H_
#define QUARNEL_DECODER_SECOND_LOOK_PERSPECTIVE_READ_H_

#include <vector>

#include <opencv2/core/core_c.h>

#include "decoder/decoder.h"
#include "decoder/second_look/mirrored_symbols.h"

// A finder candidate as the locator found it, before the grid stage re-aimed its edges.
struct LocatedCandidate {
  // SymbolCandidate's order: L vertex, far end of leg A, far end of leg B, corner facing the L vertex;
  // the leg ends as the locator placed them (moved inward along the legs).
  CvPoint2D32f corners[4];
  std::vector<CvPoint> polygon;  // the approximated outline the candidate came from, in its own order
};

// Tries to read one symbol from candidate on the grey image. binary is the thresholded image (255 dark)
// the candidate was found in. Returns true and fills *symbol (corners in DecodeResult's order, pixels of
// grey) only for a read that passes every guard against a wrong text; *side (optional) tells whether the
// symbol read as seen or as a mirror image.
bool readByPerspective(const IplImage* grey, const IplImage* binary, const LocatedCandidate& candidate,
                       DecodedSymbol* symbol, MatrixSide* side = nullptr);

// How far the finder frame that readByPerspective builds from `second` (its L vertex, leg ends and the
// two seeds of the timing corner) lies from the one it builds from `first`: the largest shift of any of
// them, in pixels; infinite when either candidate gives no frame.
double finderFrameShift(const LocatedCandidate& first, const LocatedCandidate& second);

#endif  // QUARNEL_DECODER_SECOND_LOOK_PERSPECTIVE_READ_H_
