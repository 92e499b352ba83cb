// Binarisation: one global level (fixed or automatic) or the adaptive mean threshold.
#ifndef QUARNEL_DECODER_BINARIZE_H_
#define QUARNEL_DECODER_BINARIZE_H_

#include <opencv2/core/core_c.h>

#include "decoder/symbol_decoder.h"

// Otsu's level over the grey histogram: the lowest level with the largest between-class variance.
int autoThreshold(IplImage* grey);

// Creates ctx->binary from grey as threshold and flags ask, and sets adaptiveMode and cropMode.
void binarizeImage(SymbolDecoder* ctx, IplImage* grey, int threshold, int flags);

#endif  // QUARNEL_DECODER_BINARIZE_H_
