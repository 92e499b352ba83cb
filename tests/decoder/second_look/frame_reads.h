// Test-only: what the second look's frame-set tests share: the encoder's symbol with a full data area, the
// camera's view and where the symbol sits in it, decoys that look like symbols, the whole read of a frame
// and the check of its outline.
#ifndef QUARNEL_TESTS_DECODER_SECOND_LOOK_FRAME_READS_H_
#define QUARNEL_TESTS_DECODER_SECOND_LOOK_FRAME_READS_H_

#include <cstdint>
#include <optional>
#include <ostream>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <opencv2/core.hpp>

#include "decoder/decoder.h"
#include "tests/support/symbol_encoder.h"
#include "tests/support/symbol_renderer.h"

// A kind of symbol a frame set draws: one encoder and the sizes it writes.
struct SymbolKind {
  const char* name;  // a test name's part
  testsupport::EncoderLib lib;
  std::vector<std::pair<int, int>> sizes;  // (rows, cols)
  bool dmre;                               // the sizes include rectangular extensions (Zint only)
};

// Test names and failure messages show a kind by its name.
void PrintTo(const SymbolKind& kind, std::ostream* out);

// The text encoded at exactly rows x cols by the encoder named; dmre lets Zint take the rectangular
// extension sizes. Empty when the text does not fit.
std::optional<testsupport::SymbolMatrix> encodeAt(const std::string& text, testsupport::EncoderLib lib, int rows,
                                                  int cols, bool dmre = false);

// The longest text of source repeated, up to maxLength characters, that the encoder fits at rows x cols,
// so that the data area is full rather than padded; with its symbol.
std::optional<std::pair<std::string, testsupport::SymbolMatrix>> fillSize(const std::string& source, int maxLength,
                                                                          testsupport::EncoderLib lib, int rows,
                                                                          int cols, bool dmre = false);

// Random modules framed by a solid finder L and dotted timing edges, as an upright symbol has them; each
// module draws once from random, row by row.
testsupport::SymbolMatrix decoyMatrix(int rows, int cols, std::mt19937& random);

// A camera-like 640 x 480 frame of a symbol span modules across with its quiet zone, turned rotationDeg: 4 to
// 7 pixels a module where that fits, tilts of up to 8 degrees, light blur and mild noise; the module size
// and the two tilts drawn from random in that order. The symbol is still to be placed.
testsupport::RenderOptions cameraView(double span, double rotationDeg, std::uint32_t seed, std::mt19937& random);

// The symbol's centre anywhere in a camera frame that keeps the symbol, span modules across with its quiet
// zone at options->moduleSize pixels, inside at any angle and a slight tilt; centreX drawn first.
void placeAnywhere(testsupport::RenderOptions* options, double span, std::mt19937& random);

struct WholeRead {
  std::vector<DecodedSymbol> symbols;
  std::vector<std::string> texts;  // the symbols' messages, in their order
  ScanStep readBy = SCAN_NOTHING_READ;
};

// The whole read of a copy of grey; a failing status fails the test.
WholeRead readWhole(const cv::Mat& grey, int extraLookTurn = SCAN_EVERY_EXTRA_LOOK);

// The read outline lies on the symbol's own corners: the timing corner second and the L vertex last, the
// two leg ends first and third in either order (DecodeResult names them by the locator's legs A and B).
bool outlineFits(const CvPoint read[4], const testsupport::SymbolCorners& corners, double tolerance);

#endif  // QUARNEL_TESTS_DECODER_SECOND_LOOK_FRAME_READS_H_
