#include "decoder/inspect.h"

#include <cstring>
#include <memory>

#include "decoder/locator.h"
#include "decoder/timing_edges_internal.h"

namespace {

struct ContextRelease {
  void operator()(SymbolDecoder* ctx) const {
    if (ctx->binary != nullptr) cvReleaseImage(&ctx->binary);
    if (ctx->cropImage != nullptr) cvReleaseImage(&ctx->cropImage);
    if (ctx->storage != nullptr) cvReleaseMemStorage(&ctx->storage);
    delete ctx;
  }
};

}  // namespace

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
  if (grey == nullptr || symbols == nullptr || grey->nChannels != 1 || grey->depth != IPL_DEPTH_8U ||
      (flags & (DECODE_GLOBAL_THRESHOLD | DECODE_ADAPTIVE_THRESHOLD)) == 0) {
    return -1;
  }
  std::vector<SampledSymbol> found;
  try {
    std::unique_ptr<SymbolDecoder, ContextRelease> ctx(new SymbolDecoder);
    std::memset(ctx->results, 0, sizeof(ctx->results));
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
