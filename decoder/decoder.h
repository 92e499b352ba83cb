// Public interface of the Data Matrix (ECC 200) symbol decoder.
#ifndef QUARNEL_DECODER_DECODER_H_
#define QUARNEL_DECODER_DECODER_H_

#include <cstdint>
#include <vector>

#include <opencv2/core/core_c.h>

#include "decoder/ecc200/ecc200_message.h"

// Bits of decodeImage's flags argument.
enum DecodeFlag {
  DECODE_GLOBAL_THRESHOLD = 1,    // one global level; threshold > 255 (as unsigned) asks for the automatic level
  DECODE_ADAPTIVE_THRESHOLD = 2,  // adaptive mean threshold; threshold is the odd block size (>= 3)
  DECODE_CROP = 4,                // examine each candidate in a twice-enlarged crop of the binary image
  DECODE_IGNORED_FLAG = 8,        // accepted and ignored; the scanner's passes have always set it
};

constexpr int DECODE_MAX_CANDIDATES = 100;
constexpr int DECODE_MAX_RESULTS = 10;
constexpr int DECODE_TEXT_SIZE = 1600;  // 1599 bytes of text and a NUL

// One found symbol. Corners run around the outline: far end of finder leg A, the corner opposite the
// finder vertex, far end of finder leg B, the finder vertex. Pixels of the image given to decodeImage.
struct DecodeResult {
  CvPoint corners[4];
  char text[DECODE_TEXT_SIZE];
};

// Finds and decodes the symbols of an 8-bit, one-channel image. Returns 0 when the pass ran to its end
// and -1 when it failed (bad image or arguments); on -1 neither results nor *count is touched. When both
// results (room for DECODE_MAX_RESULTS records) and count are given, all ten slots are written and
// *count receives the number of valid ones. Each call keeps all it needs in its own context, so calls on
// different images may overlap.
int decodeImage(IplImage* grey, DecodeResult* results, int* count, int threshold, int flags);

// A decoded symbol with its complete message, however long, NUL bytes included, and what the message
// means beside its bytes (character sets, GS1, structured append).
struct DecodedSymbol {
  CvPoint corners[4];  // in DecodeResult's order
  std::vector<std::uint8_t> message;
  Ecc200Meaning meaning;
};

// The same pass as decodeImage, for callers that need whole messages (decodeImage leaves out a message
// that does not fit its text field rather than cut it). Every readable symbol is appended to *symbols
// in candidate order. Returns 0 or -1 as decodeImage; on -1 *symbols is left as it was.
int decodeImageMessages(IplImage* grey, int threshold, int flags, std::vector<DecodedSymbol>* symbols);

// The scanner's two passes, each one decodeImage call. The global pass comes first; the adaptive pass
// runs only when the global pass read nothing. Both examine candidates in a crop; DECODE_IGNORED_FLAG
// changes nothing and stays so that the passes' flag values (13 and 14) stay as they always were.
struct ScanPass {
  int threshold;
  int flags;
};
// The global pass takes the automatic level, the adaptive pass a block of 15 pixels.
constexpr ScanPass SCAN_GLOBAL_PASS = {-1, DECODE_GLOBAL_THRESHOLD | DECODE_CROP | DECODE_IGNORED_FLAG};
constexpr ScanPass SCAN_ADAPTIVE_PASS = {15, DECODE_ADAPTIVE_THRESHOLD | DECODE_CROP | DECODE_IGNORED_FLAG};

// Which step of the whole read found the symbols it returns.
enum ScanStep {
  SCAN_NOTHING_READ = 0,
  SCAN_READ_BY_GLOBAL_PASS = 1,
  SCAN_READ_BY_ADAPTIVE_PASS = 2,
  SCAN_READ_BY_RETRY = 3,             // second look: a rejected candidate tried again with finer edge steps
  SCAN_READ_BY_PERSPECTIVE = 4,       // second look: a candidate read through its perspective
  SCAN_READ_BY_SMALL_SYMBOL = 5,      // second look: a small outline approximated more finely
  SCAN_READ_BY_THIN_SYMBOL = 6,       // second look: a thin outline cornered by its enclosing rectangle
  SCAN_READ_IN_ADDED_QUIET_ZONE = 7,  // files only: the picture framed in a light border and read again
  SCAN_READ_AS_PURE_SYMBOL = 8,       // files only: the whole picture sampled as one symbol's module grid
  SCAN_READ_BY_MIRRORED_SYMBOL = 9,   // second look: a candidate's matrix read as a mirror image
  SCAN_READ_AS_LIGHT_ON_DARK = 10,    // second look: a light finder L read with light and dark exchanged
  SCAN_READ_IN_FLATTENED_LIGHT = 11,  // extra look: the frame divided by its local white, then located again
  SCAN_READ_BY_JOINED_DOTS = 12,      // extra look: a field of dots joined into modules by a minimum filter
  SCAN_READ_FROM_ENLARGED_GREY = 13,  // second look: a small-module region read from its grey interpolated larger
};
constexpr int SCAN_STEP_COUNT = SCAN_READ_FROM_ENLARGED_GREY + 1;  // one past the last step

// The scanner's whole read of one grey image: the global pass; the adaptive pass only when the global
// pass read nothing; the second look only when neither read anything. The second look re-examines what
// the two passes left behind (their binary images and candidates) and returns only reads that pass its
// guards against a wrong text. Results, count and the return value as decodeImage, except that -1
// means neither pass could run on the image; *readBy (optional) receives the step that read. meanings
// (optional, room for DECODE_MAX_RESULTS records): meanings[i] is the meaning of results[i], written for
// the *count valid results and left untouched on -1.
//
// The second look ends with extra looks that search the whole frame again in forms the passes cannot
// see; each costs about a pass. extraLookTurn picks one of them (a scanner counts its frames through
// them, so a label held still meets each within a few frames); SCAN_EVERY_EXTRA_LOOK takes them all.
constexpr int SCAN_EVERY_EXTRA_LOOK = -1;
int scanImage(IplImage* grey, DecodeResult* results, int* count, ScanStep* readBy = nullptr,
              Ecc200Meaning* meanings = nullptr, int extraLookTurn = SCAN_EVERY_EXTRA_LOOK);

// The whole read for callers that need whole messages: a step counts as having read something when it
// gave any symbol, whether or not its message fits DecodeResult's text. Appends to *symbols; returns 0,
// or -1 (with *symbols untouched) when neither pass could run. extraLookTurn as scanImage.
int scanImageMessages(IplImage* grey, std::vector<DecodedSymbol>* symbols, ScanStep* readBy = nullptr,
                      int extraLookTurn = SCAN_EVERY_EXTRA_LOOK);

// The whole read for a file, which may hold many labels: every step runs (both passes and the second
// look), each through every candidate (up to DECODE_MAX_CANDIDATES) instead of stopping at
// DECODE_MAX_RESULTS symbols, and each adds the symbols whose centre lies outside those already read.
// Symbols in the order found; *readBy the first step that read. When all of that reads nothing, the
// picture may be a symbol alone, as encoders write it, with no quiet zone: it is read again framed in a
// light border of its own, and failing that sampled whole as one symbol's module grid. Slower than
// scanImageMessages, so the scanner's frames keep to the two entries above.
int scanImageEveryMessage(IplImage* grey, std::vector<DecodedSymbol>* symbols, ScanStep* readBy = nullptr);

#endif  // QUARNEL_DECODER_DECODER_H_
