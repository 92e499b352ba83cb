// Inspection entries for tests and tools: the stages of a decoding pass up to the module matrix, with
// nothing decoded and nothing appended.
#ifndef QUARNEL_DECODER_INSPECT_H_
#define QUARNEL_DECODER_INSPECT_H_

#include <vector>

#include <opencv2/core/core_c.h>

#include "decoder/grid.h"
#include "decoder/symbol_decoder.h"

// What the grid stage made of one candidate.
struct SampledSymbol {
  int status = 0;            // 0 when a matrix was sampled, else refineCandidate's status for this candidate
  SymbolSize size = {0, 0};  // full symbol size (columns, rows), once measured
  CvPoint outline[4] = {};   // the result outline the candidate wrote, in grey-image pixels
  SymbolCandidate located = {};  // the candidate as the locator handed it over
  SymbolCandidate oriented = {};  // after the timing-edge sweep and orientation, in working-image pixels
  int cropMode = 0;               // the working image is the crop cropRect, enlarged twice
  CvRect cropRect = {0, 0, 0, 0};
  ModuleMatrix matrix;       // valid when status is 0
};

// Crop, timing edges, orientation, size and sampling of candidates[index], exactly as refineCandidate
// runs them, stopping before the data decoding. In crop mode ctx->cropImage is left for the caller.
int sampleCandidate(SymbolDecoder* ctx, int index, SampledSymbol* sampled);

// A whole pass over grey: binarisation and locator as decodeImage runs them, then sampleCandidate on
// every candidate in order. Appends one entry per candidate to *symbols. Returns 0, or -1 (with
// *symbols untouched) when decodeImage would fail.
int sampleImage(IplImage* grey, int threshold, int flags, std::vector<SampledSymbol>* symbols);

#endif  // QUARNEL_DECODER_INSPECT_H_
