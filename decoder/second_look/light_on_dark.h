// Light-on-dark symbols: laser-marked metal, labels printed in negative. Their modules and finder L are
// light on a dark ground, so what the passes trace of them are the borders of light holes in dark areas,
// and every lead samples them in the wrong polarity.
#ifndef QUARNEL_DECODER_SECOND_LOOK_LIGHT_ON_DARK_H_
#define QUARNEL_DECODER_SECOND_LOOK_LIGHT_ON_DARK_H_

#include <cstddef>
#include <vector>

#include <opencv2/core/core_c.h>

#include "decoder/decoder.h"
#include "decoder/second_look/pass_leftovers.h"

// What a pass would have left had it run on the negated frame, made from its own leftovers: its binary
// image negated, and the light regions inside the holes it traced, traced again as outer outlines (a
// hole's border lies on the dark pixels around it, a pixel outside the light region) with their polygons
// and the finder test's candidates. False, with *negative empty, when the pass traced no hole that could
// hold a symbol.
bool negatePassLeftovers(PassLeftovers* pass, PassLeftovers* negative);

// The second look's steps on each pass negated, reading on the negated grey image, under the same guards.
// Appends at most maxSymbols symbols in all to *symbols, skipping candidates inside symbols already
// there; returns SCAN_READ_AS_LIGHT_ON_DARK after a read, else SCAN_NOTHING_READ.
ScanStep readLightOnDark(const IplImage* grey, PassLeftovers* passes, int passCount,
                         std::vector<DecodedSymbol>* symbols, std::size_t maxSymbols);

#endif  // QUARNEL_DECODER_SECOND_LOOK_LIGHT_ON_DARK_H_
