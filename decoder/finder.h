// The finder-pattern test: corner estimation on a polygon and the solid L of a candidate symbol.
#ifndef QUARNEL_DECODER_FINDER_H_
#define QUARNEL_DECODER_FINDER_H_

#include <opencv2/core/core_c.h>

#include "decoder/symbol_decoder.h"

// Status codes of estimateCorners.
enum CornerStatus {
  CORNERS_FOUND = 0,
  CORNERS_NO_DISTINCT_PAIR = 1,  // every extreme vertex is the same point
  CORNERS_EMPTY_SIDE = 2,        // one side of the diagonal holds no extreme vertex
};

// Four polygon vertices: c0 and c1 end the longest diagonal, c2 and c3 lie on its positive and
// negative side.
struct CornerQuad {
  CvPoint c0, c1, c2, c3;
};

int estimateCorners(const CvSeq* polygon, CornerQuad* quad);

// Runs the finder-pattern test on one polygon; appends a candidate and returns true when it passes.
bool testPolygon(SymbolDecoder* ctx, CvSeq* polygon, int imageWidth, int imageHeight);

#endif  // QUARNEL_DECODER_FINDER_H_
