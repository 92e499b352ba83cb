// A pass's leftovers made from another picture (a region enlarged, a frame flattened): the decoder's own
// locator, nothing decoded.
#include <opencv2/core/core_c.h>

#include "decoder/contours.h"
#include "decoder/decoder_internal.h"
#include "decoder/second_look/pass_leftovers.h"

bool locateAsPass(IplImage* grey, int threshold, int flags, PassLeftovers* pass) {
  SymbolDecoderHandle ctx = newSymbolDecoder();
  if (ctx == nullptr) return false;
  try {
    ctx->storage = cvCreateMemStorage(0);
    locateCandidates(ctx.get(), grey, threshold, flags);
  } catch (...) {
    // A picture with no outline at all is refused by the polygon search: nothing to read there.
    return false;
  }
  pass->release();
  pass->binary = ctx->binary;
  pass->storage = ctx->storage;
  pass->contours = ctx->contours;
  pass->polygons = ctx->polygons;
  pass->located.assign(ctx->candidates, ctx->candidates + ctx->candidateCount);
  pass->adaptiveMode = ctx->adaptiveMode;
  ctx->binary = nullptr;
  ctx->storage = nullptr;
  return true;
}
