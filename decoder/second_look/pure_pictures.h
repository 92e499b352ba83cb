// Pictures that are a symbol alone, as encoders write them or as a symbol is cut out of a document: the
// symbol's dark finder touches the picture's border (or lies within a module of it), so no quiet zone
// sets its outline apart and the passes find no candidate. Only the file read tries them, and only when
// its whole read found nothing.
#ifndef QUARNEL_DECODER_SECOND_LOOK_PURE_PICTURES_H_
#define QUARNEL_DECODER_SECOND_LOOK_PURE_PICTURES_H_

#include <vector>

#include <opencv2/core/core_c.h>

#include "decoder/decoder.h"

// The picture's ink and paper: the levels that a fiftieth of its pixels lie below and above.
struct PictureLevels {
  int dark = 0;
  int light = 255;
};
PictureLevels pictureLevels(const IplImage* grey);

// A whole read of one picture: appends what it reads to *symbols; 0, or -1 when it could not run.
using PictureRead = int (*)(IplImage* grey, std::vector<DecodedSymbol>* symbols);

// The picture framed in a quiet zone of its own light level, wide enough for any symbol that fills the
// picture, and read by `read`; the corners found are taken back into the picture, clamped onto it.
// Appends to *symbols; returns SCAN_READ_IN_ADDED_QUIET_ZONE when something was read.
ScanStep readInAddedQuietZone(const IplImage* grey, PictureRead read, std::vector<DecodedSymbol>* symbols);

// The picture as exactly one symbol, in any quarter turn: the module grid spans the picture's dark extent
// (a light border of up to two modules is allowed) for every size whose shape fits it, each module is
// sampled at its centre against the level halfway between ink and paper, and the matrix goes through the second look's guarded
// decode. Appends the symbol to *symbols; returns SCAN_READ_AS_PURE_SYMBOL when it read one.
ScanStep readPureSymbol(const IplImage* grey, std::vector<DecodedSymbol>* symbols);

#endif  // QUARNEL_DECODER_SECOND_LOOK_PURE_PICTURES_H_
