// The extra looks: searches of the whole frame in a form the two passes cannot see (light flattened,
// dots joined, ...). Each costs about as much as a pass, too much to take all of them on every frame
// where nothing is read, so the scanner takes one a frame in turn and a still label meets every look
// within a few frames; a file takes them all.
#ifndef QUARNEL_DECODER_SECOND_LOOK_EXTRA_LOOKS_H_
#define QUARNEL_DECODER_SECOND_LOOK_EXTRA_LOOKS_H_

#include <cstddef>
#include <vector>

#include <opencv2/core/core_c.h>

#include "decoder/decoder.h"
#include "decoder/second_look/pass_leftovers.h"

// One extra look: reads what it can find in grey (the passes' leftovers at hand, passes[0] the global
// pass, passes[1] the adaptive one; a pass that did not run has no binary image), appends at most
// maxSymbols symbols in all to *symbols, skipping any whose centre lies in one already there, and
// returns the step of its first read, or SCAN_NOTHING_READ. Every read passes the second look's guards.
using ExtraLook = ScanStep (*)(const IplImage* grey, PassLeftovers* passes, int passCount,
                               std::vector<DecodedSymbol>* symbols, std::size_t maxSymbols);

// The looks in the order a file takes them; the scanner's turn k takes look k modulo their count.
const std::vector<ExtraLook>& extraLooks();

// Runs the look of `turn`; any negative turn (SCAN_EVERY_EXTRA_LOOK among them) runs every look in order,
// each adding what lies outside the symbols read before it. Returns the step of the first read, or
// SCAN_NOTHING_READ.
ScanStep runExtraLooks(const IplImage* grey, PassLeftovers* passes, int passCount, std::vector<DecodedSymbol>* symbols,
                       std::size_t maxSymbols, int turn);

#endif  // QUARNEL_DECODER_SECOND_LOOK_EXTRA_LOOKS_H_
