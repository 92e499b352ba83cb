// Candidate contours and the locator that runs binarisation, contours and the finder test in order.
#ifndef QUARNEL_DECODER_CONTOURS_H_
#define QUARNEL_DECODER_CONTOURS_H_

#include <opencv2/core/core_c.h>

#include "decoder/symbol_decoder.h"

// Traces the contours of `image` (which the search overwrites) into `storage`, dropping those too small
// or too simple to become a candidate polygon, and returns the first of the rest.
CvSeq* traceCandidateContours(IplImage* image, CvMemStorage* storage);

// Traces the contours of ctx->binary and approximates them into ctx->polygons.
void findPolygons(SymbolDecoder* ctx);

// Walks the polygon list through the cheap filters and the finder-pattern test.
void collectCandidates(SymbolDecoder* ctx, int imageWidth, int imageHeight);

// Binarisation, polygons and candidates: the whole locator for one call.
void locateCandidates(SymbolDecoder* ctx, IplImage* grey, int threshold, int flags);

#endif  // QUARNEL_DECODER_CONTOURS_H_
