// Locator: binarisation, candidate contours and the finder-pattern test.
#ifndef QUARNEL_DECODER_LOCATOR_H_
#define QUARNEL_DECODER_LOCATOR_H_

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

// Otsu's level over the grey histogram: the lowest level with the largest between-class variance.
int autoThreshold(IplImage* grey);

// Creates ctx->binary from grey as threshold and flags ask, and sets adaptiveMode and cropMode.
void binarizeImage(SymbolDecoder* ctx, IplImage* grey, int threshold, int flags);

// Traces the contours of `image` (which the search overwrites) into `storage`, dropping those too small
// or too simple to become a candidate polygon, and returns the first of the rest.
CvSeq* traceCandidateContours(IplImage* image, CvMemStorage* storage);

// Traces the contours of ctx->binary and approximates them into ctx->polygons.
void findPolygons(SymbolDecoder* ctx);

int estimateCorners(const CvSeq* polygon, CornerQuad* quad);

// Runs the finder-pattern test on one polygon; appends a candidate and returns true when it passes.
bool testPolygon(SymbolDecoder* ctx, CvSeq* polygon, int imageWidth, int imageHeight);

// Walks the polygon list through the cheap filters and the finder-pattern test.
void collectCandidates(SymbolDecoder* ctx, int imageWidth, int imageHeight);

// Binarisation, polygons and candidates: the whole locator for one call.
void locateCandidates(SymbolDecoder* ctx, IplImage* grey, int threshold, int flags);

#endif  // QUARNEL_DECODER_LOCATOR_H_
