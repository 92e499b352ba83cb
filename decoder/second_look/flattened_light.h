// Flattened light: a hard shadow edge across a label (a hand, a lamp) leaves part of the symbol at a third
// to a half of the light. The global level then takes the whole shaded side for ink, and the adaptive
// level draws a dark band along the edge that joins the modules on both sides, so neither pass finds
// the symbol's outline. Dividing the frame by a local estimate of its white takes the edge out again.
#ifndef QUARNEL_DECODER_SECOND_LOOK_FLATTENED_LIGHT_H_
#define QUARNEL_DECODER_SECOND_LOOK_FLATTENED_LIGHT_H_

#include <cstddef>
#include <vector>

#include <opencv2/core/core_c.h>

#include "decoder/decoder.h"
#include "decoder/second_look/pass_leftovers.h"

// Where the frame shows a light step of a shadow's depth beside ink. Worked out on a picture reduced
// four times in each direction, whose grey closing is the white estimate; the full frame is flattened
// only when this holds.
bool hasShadowEdgeNearInk(const IplImage* grey);

// The grey image divided by its local white (paper at 255, ink keeping its share of the paper's light),
// as large as the whole cells of the reduced picture cover. The white estimate is the reduced picture's
// closing; a pixel between the lowest and the highest white of the cells around its own is its own
// white, so a light step stays as sharp as it is.
// Null for an image too small to reduce.
IplImage* flattenLight(const IplImage* grey);

// The extra look: on frames with a shadow edge beside ink, the decoder's locator on the flattened
// picture, then the second look's leads on what it found, under the second look's guards. Appends at
// most maxSymbols symbols in all, skipping any whose centre lies in one already read; returns
// SCAN_READ_IN_FLATTENED_LIGHT when it read something.
ScanStep readInFlattenedLight(const IplImage* grey, PassLeftovers* passes, int passCount,
                              std::vector<DecodedSymbol>* symbols, std::size_t maxSymbols);

#endif  // QUARNEL_DECODER_SECOND_LOOK_FLATTENED_LIGHT_H_
