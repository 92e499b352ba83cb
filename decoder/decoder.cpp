// Decoder entry: a fresh context per call, the stages in order, and error containment.
#include "decoder/decoder.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

#include "decoder/contours.h"
#include "decoder/decoder_internal.h"
#include "decoder/timing_edges.h"

namespace {

bool isUsableGrey(const IplImage* grey) {
  return grey != nullptr && grey->nSize == static_cast<int>(sizeof(IplImage)) && grey->nChannels == 1 &&
         grey->depth == IPL_DEPTH_8U && grey->width > 0 && grey->height > 0 && grey->imageData != nullptr;
}

// An adaptive block wider than twice the image's larger side reaches past the image from every pixel.
// The library spends time and memory in proportion to the block (a block of 2^31 - 1 takes gigabytes),
// so such a size is refused like an even one.
bool isUsableBlockSize(const IplImage* grey, int threshold, int flags) {
  if ((flags & DECODE_ADAPTIVE_THRESHOLD) == 0) return true;
  return threshold <= 2 * std::int64_t{std::max(grey->width, grey->height)} + 1;
}

// Hands every candidate, in order, to the grid stage until the results are full.
void examineCandidates(SymbolDecoder* ctx) {
  for (int i = 0; i < ctx->candidateCount; ++i) {
    refineCandidate(ctx, i);
    if (ctx->cropMode == 1 && ctx->cropImage != nullptr) cvReleaseImage(&ctx->cropImage);
    if (ctx->resultCount >= DECODE_MAX_RESULTS) {
      if (!ctx->readEveryCandidate || ctx->fullMessages == nullptr) break;
      ctx->resultCount = 0;
    }
  }
}

// Moves the binary image and the storage into leftovers, with the candidates as located.
void keepLeftovers(SymbolDecoder* ctx, const std::vector<SymbolCandidate>& located, PassLeftovers* leftovers) {
  leftovers->release();
  leftovers->binary = ctx->binary;
  leftovers->storage = ctx->storage;
  leftovers->contours = ctx->contours;
  leftovers->polygons = ctx->polygons;
  leftovers->located = located;
  leftovers->adaptiveMode = ctx->adaptiveMode;
  ctx->binary = nullptr;
  ctx->storage = nullptr;
}

}  // namespace

bool isUsableDecodeCall(const IplImage* grey, int threshold, int flags) {
  // Without a threshold flag the binary image would never be filled; such a call is refused up front.
  return isUsableGrey(grey) && (flags & (DECODE_GLOBAL_THRESHOLD | DECODE_ADAPTIVE_THRESHOLD)) != 0 &&
         isUsableBlockSize(grey, threshold, flags);
}

void SymbolDecoderRelease::operator()(SymbolDecoder* ctx) const {
  if (ctx->binary != nullptr) cvReleaseImage(&ctx->binary);
  if (ctx->cropImage != nullptr) cvReleaseImage(&ctx->cropImage);
  if (ctx->storage != nullptr) cvReleaseMemStorage(&ctx->storage);
  delete ctx;
}

SymbolDecoderHandle newSymbolDecoder() {
  SymbolDecoderHandle ctx(new (std::nothrow) SymbolDecoder);
  // Slots beyond the count are copied out too; clearing them keeps stale memory from reaching the caller.
  if (ctx != nullptr) std::memset(ctx->results, 0, sizeof(ctx->results));
  return ctx;
}

int runDecoder(IplImage* grey, int threshold, int flags, DecoderInspection* inspection,
               std::vector<DecodedSymbol>* fullMessages, DecodeResult* results, int* count,
               PassLeftovers* leftovers, bool readEveryCandidate) {
  if (!isUsableDecodeCall(grey, threshold, flags)) return -1;
  SymbolDecoderHandle ctx = newSymbolDecoder();
  if (ctx == nullptr) return -1;
  ctx->fullMessages = fullMessages;
  ctx->readEveryCandidate = readEveryCandidate;
  std::vector<SymbolCandidate> located;
  try {
    ctx->storage = cvCreateMemStorage(0);
    locateCandidates(ctx.get(), grey, threshold, flags);
    if (inspection != nullptr) inspection->afterLocate(*ctx);
    if (leftovers != nullptr) located.assign(ctx->candidates, ctx->candidates + ctx->candidateCount);
    examineCandidates(ctx.get());
    if (results != nullptr && count != nullptr) {
      std::memcpy(results, ctx->results, sizeof(ctx->results));
      *count = ctx->resultCount;
    }
  } catch (...) {
    // Image-library errors (and anything else) end the pass; nothing is handed to the caller.
    return -1;
  }
  if (leftovers != nullptr) keepLeftovers(ctx.get(), located, leftovers);
  return 0;
}

int decodeImage(IplImage* grey, DecodeResult* results, int* count, int threshold, int flags) {
  return runDecoder(grey, threshold, flags, nullptr, nullptr, results, count);
}

int decodeImageMessages(IplImage* grey, int threshold, int flags, std::vector<DecodedSymbol>* symbols) {
  if (symbols == nullptr) return -1;
  std::vector<DecodedSymbol> found;
  const int status = runDecoder(grey, threshold, flags, nullptr, &found, nullptr, nullptr);
  if (status == 0) symbols->insert(symbols->end(), found.begin(), found.end());
  return status;
}
