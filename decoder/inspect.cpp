#include "decoder/inspect.h"

#include <cstring>

#include "decoder/contours.h"
#include "decoder/decoder_internal.h"
#include "decoder/timing_edges_internal.h"

int sampleCandidate(SymbolDecoder* ctx, int index, SampledSymbol* sampled) {
  if (index >= 0 && index < ctx->candidateCount) sampled->located = ctx->candidates[index];
  sampled->status = orientCandidate(ctx, index);
  if (sampled->status != REFINE_STATUS_OK) return sampled->status;
  sampled->oriented = ctx->candidates[index];
  sampled->cropMode = ctx->cropMode;
  sampled->cropRect = ctx->cropRect;
  std::memcpy(sampled->outline, ctx->results[ctx->resultCount].corners, sizeof(sampled->outline));
  const int sampleStatus = sampleSymbolMatrix(ctx, index, &sampled->matrix, &sampled->size);
  sampled->status = sampleStatus == SAMPLE_STATUS_OK ? REFINE_STATUS_OK : REFINE_STATUS_SAMPLING_BASE + sampleStatus;
  return sampled->status;
}

int sampleImage(IplImage* grey, int threshold, int flags, std::vector<SampledSymbol>* symbols) {
  if (symbols == nullptr || !isUsableDecodeCall(grey, threshold, flags)) return -1;
  SymbolDecoderHandle ctx = newSymbolDecoder();
  if (ctx == nullptr) return -1;
  std::vector<SampledSymbol> found;
  try {
    ctx->storage = cvCreateMemStorage(0);
    locateCandidates(ctx.get(), grey, threshold, flags);
    found.resize(static_cast<size_t>(ctx->candidateCount));
    for (int i = 0; i < ctx->candidateCount; ++i) {
      sampleCandidate(ctx.get(), i, &found[static_cast<size_t>(i)]);
      if (ctx->cropImage != nullptr) cvReleaseImage(&ctx->cropImage);
    }
  } catch (...) {
    return -1;  // an image-library error, as decodeImage reports it
  }
  symbols->insert(symbols->end(), found.begin(), found.end());
  return 0;
}
