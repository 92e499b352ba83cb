// Small soft modules: symbols of 2 to 3 pixels a module, sharp or under a blur of about a pixel. The
// frame's threshold merges and breaks such modules before any step sees them, and no enlargement of the
// binary image brings them back. Around the outlines that mark such a symbol, the grey picture is enlarged
// by interpolation first and thresholded there, and the region is read by the second look's own steps.
#ifndef QUARNEL_DECODER_SECOND_LOOK_ENLARGED_GREY_H_
#define QUARNEL_DECODER_SECOND_LOOK_ENLARGED_GREY_H_

#include <cstddef>
#include <vector>

#include <opencv2/core/core_c.h>

#include "decoder/decoder.h"
#include "decoder/second_look/pass_leftovers.h"

// A part of the frame worth reading again enlarged, and by how much.
struct EnlargedRegion {
  CvRect area;        // pixels of the frame, quiet zone included, inside the frame
  double scale = 2.0;  // enlarged pixels per pixel of the frame
};

// The regions of the passes' leftovers that mark a symbol of small modules: candidates the passes located
// and no step read whose finder bars are a few pixels thick, and outer outlines a few pixels thicker than 8
// modules of 2 pixels and several times as long (thin symbols below the floor of the thin-symbol step).
// Regions whose centre lies in a symbol of `symbols` are left out; overlapping ones are joined.
std::vector<EnlargedRegion> findSmallModuleRegions(const IplImage* grey, const PassLeftovers* passes, int passCount,
                                                   const std::vector<DecodedSymbol>& symbols);

// Reads each region of findSmallModuleRegions from the grey picture enlarged by cubic interpolation,
// thresholded as the passes threshold, through the second look's steps (every read under their guards).
// Appends at most maxSymbols symbols in all to *symbols, corners in pixels of grey; returns
// SCAN_READ_FROM_ENLARGED_GREY on a read, else SCAN_NOTHING_READ.
ScanStep readFromEnlargedGrey(const IplImage* grey, const PassLeftovers* passes, int passCount,
                              std::vector<DecodedSymbol>* symbols, std::size_t maxSymbols);

#endif  // QUARNEL_DECODER_SECOND_LOOK_ENLARGED_GREY_H_
