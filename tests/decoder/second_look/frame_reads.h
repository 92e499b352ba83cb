// Test-only: what the second look's frame-set tests share: the encoder's symbol with a full data area,
// decoys that look like symbols, the whole read of a frame and the check of its outline.
#ifndef QUARNEL_TESTS_DECODER_SECOND_LOOK_FRAME_READS_H_
#define QUARNEL_TESTS_DECODER_SECOND_LOOK_FRAME_READS_H_

#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <opencv2/core.hpp>

#include "decoder/decoder.h"
#include "tests/support/symbol_encoder.h"
#include "tests/support/symbol_renderer.h"

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
