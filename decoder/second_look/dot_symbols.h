// Dot-peened and ink-jet symbols: each dark module a round dot with light between neighbouring dots, so
// no outline runs around the finder L and the passes see only a field of small blobs.
#ifndef QUARNEL_DECODER_SECOND_LOOK_DOT_SYMBOLS_H_
#define QUARNEL_DECODER_SECOND_LOOK_DOT_SYMBOLS_H_

#include <cstddef>
#include <vector>

#include <opencv2/core/core_c.h>

#include "decoder/decoder.h"
#include "decoder/second_look/pass_leftovers.h"

// What a field of dots tells: where it lies in the frame, how wide its dots are and how far apart.
struct DotField {
  CvRect box = {0, 0, 0, 0};  // the dots' extent, frame pixels
  double dotWidth = 0.0;      // median dot width across, pixels
  double pitch = 0.0;         // median distance to the nearest dot: the module size
  int dotCount = 0;
};

// Fields of many small, roughly round dark blobs of one size on a grid, at most maxFields, from the largest
// places first. A cheap count of short dark runs on every third row of a pass's binary image (255 dark)
// picks the places worth a close look, in grey (at most two); a frame without such places costs about one
// look at a third of its rows.
std::vector<DotField> findDotFields(const IplImage* binary, const IplImage* grey, int maxFields);

// The extra look for dot symbols: in each dot field, the grey picture around it (with room for the quiet
// zone) is put through a minimum filter about as wide as the gap between dots, which joins them into
// plain modules, and read there by both passes' locators and the second look; only the second look's
// guarded reads count. An ExtraLook.
ScanStep readJoinedDots(const IplImage* grey, PassLeftovers* passes, int passCount, std::vector<DecodedSymbol>* symbols,
                        std::size_t maxSymbols);

#endif  // QUARNEL_DECODER_SECOND_LOOK_DOT_SYMBOLS_H_
