// What one decoding pass leaves behind for the second look: its binary image, the contours and polygons
// it traced, and its candidates as the locator found them, before the grid stage rewrote them.
#ifndef QUARNEL_DECODER_SECOND_LOOK_PASS_LEFTOVERS_H_
#define QUARNEL_DECODER_SECOND_LOOK_PASS_LEFTOVERS_H_

#include <vector>

#include <opencv2/core/core_c.h>

#include "decoder/symbol_decoder.h"

struct PassLeftovers {
  PassLeftovers() = default;
  ~PassLeftovers() { release(); }
  PassLeftovers(const PassLeftovers&) = delete;
  PassLeftovers& operator=(const PassLeftovers&) = delete;

  // Hands the images and the storage back; the record is then empty again.
  void release() {
    if (binary != nullptr) cvReleaseImage(&binary);
    if (storage != nullptr) cvReleaseMemStorage(&storage);
    contours = nullptr;
    polygons = nullptr;
    located.clear();
  }

  IplImage* binary = nullptr;        // owned: 255 dark, 0 light, the grey image's size
  CvMemStorage* storage = nullptr;   // owned: holds contours, polygons and the candidates' polygons
  CvSeq* contours = nullptr;         // the traced contours, in storage
  CvSeq* polygons = nullptr;         // their 5-pixel polygons, in the same order
  std::vector<SymbolCandidate> located;
  int adaptiveMode = 0;
};

// Runs the decoder's own locator (threshold, contours, finder test; nothing decoded) over grey and keeps
// what it makes in *pass, as a pass keeps it. False when the locator could not run (no memory, or a
// picture with no outline at all, which the polygon search refuses).
bool locateAsPass(IplImage* grey, int threshold, int flags, PassLeftovers* pass);

#endif  // QUARNEL_DECODER_SECOND_LOOK_PASS_LEFTOVERS_H_
