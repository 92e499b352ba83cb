// The per-call decoder context and the candidate record that the decoder stages share.
#ifndef QUARNEL_DECODER_SYMBOL_DECODER_H_
#define QUARNEL_DECODER_SYMBOL_DECODER_H_

#include <cstdint>
#include <vector>

#include <opencv2/core/core_c.h>

#include "decoder/decoder.h"
#include "decoder/geometry.h"
#include "decoder/run_trace.h"

// A polygon accepted as a possible symbol: the two solid finder legs, the sides facing them, and the
// corners [0] L vertex, [1] far end of leg A, [2] far end of leg B, [3] corner facing the L vertex.
struct SymbolCandidate {
  EdgeLine legA;
  EdgeLine legB;
  EdgeLine oppositeA;
  EdgeLine oppositeB;
  CvPoint2D32f corners[4];
  const CvSeq* polygon = nullptr;  // the approximated outline it came from, in the call's storage
};

// Everything one decodeImage call works on. Created at entry, released on every exit path.
struct SymbolDecoder {
  IplImage* binary = nullptr;     // owned: 255 dark, 0 light
  IplImage* cropImage = nullptr;  // owned: per-candidate enlarged crop in crop mode
  IplImage* workImage = nullptr;  // borrowed: binary, or cropImage in crop mode
  CvMemStorage* storage = nullptr;
  CvRect cropRect = {0, 0, 0, 0};
  CvSeq* contours = nullptr;  // the traced contours the polygons were approximated from, in storage
  CvSeq* polygons = nullptr;
  SymbolCandidate candidates[DECODE_MAX_CANDIDATES];
  int candidateCount = 0;
  DecodeResult results[DECODE_MAX_RESULTS];
  int resultCount = 0;
  int adaptiveMode = 0;
  int cropMode = 0;
  RunTrace runTrace;  // the grid stage's line traces
  // When set, every decoded symbol is also recorded here with its complete message.
  std::vector<DecodedSymbol>* fullMessages = nullptr;
  // Second look only (the two passes leave these off): every timing-edge sweep runs its whole range and
  // keeps the strictly best angle; the size check also accepts the rectangular extension sizes, and
  // takes a square symbol whose one edge was counted a few modules off as the square the other gives.
  bool sweepWholeRange = false;
  // Files: examining goes on past the ten result slots through every candidate. The full-message list is
  // then the output; the slots only carry each read's corners to it and are reused once full.
  bool readEveryCandidate = false;
  bool allowDmre = false;
  bool snapSquareSizes = false;
  // Second look only: counts that make a size once exchanged are taken as they were counted. A mirrored
  // rectangle shows its legs swapped, its rows along the top edge; the mirrored read exchanges them back.
  bool allowExchangedSizes = false;
};

#endif  // QUARNEL_DECODER_SYMBOL_DECODER_H_
