// Internal entry shared by decodeImage, the full-message entry and the tests.
#ifndef QUARNEL_DECODER_DECODER_INTERNAL_H_
#define QUARNEL_DECODER_DECODER_INTERNAL_H_

#include <functional>
#include <memory>
#include <vector>

#include "decoder/second_look/pass_leftovers.h"
#include "decoder/symbol_decoder.h"

// Lets tests look at a call's context between the locator and the grid stage.
struct DecoderInspection {
  std::function<void(const SymbolDecoder&)> afterLocate;
};

// Whether decodeImage accepts grey, threshold and flags: an 8-bit one-channel image with pixels, a
// threshold flag, and an adaptive block no wider than the image can use.
bool isUsableDecodeCall(const IplImage* grey, int threshold, int flags);

// Releases a context with the images and the storage it still owns.
struct SymbolDecoderRelease {
  void operator()(SymbolDecoder* ctx) const;
};
using SymbolDecoderHandle = std::unique_ptr<SymbolDecoder, SymbolDecoderRelease>;

// A fresh context with cleared result slots, or null when memory runs out.
SymbolDecoderHandle newSymbolDecoder();

// One decoding pass. results/count as decodeImage; fullMessages, when given, receives every decoded
// symbol with its complete message; leftovers, when given, receives what the pass made once it ran to
// its end (it is left empty on -1). readEveryCandidate (with fullMessages): every candidate is examined
// rather than stopping at DECODE_MAX_RESULTS results; results then hold nothing of use.
int runDecoder(IplImage* grey, int threshold, int flags, DecoderInspection* inspection,
               std::vector<DecodedSymbol>* fullMessages, DecodeResult* results, int* count,
               PassLeftovers* leftovers = nullptr, bool readEveryCandidate = false);

#endif  // QUARNEL_DECODER_DECODER_INTERNAL_H_
