// Test-only: camera frames of symbols with small, soft modules. Thin symbols of 8 rows (8 x 18, 8 x 32 and
// the 8-row extension sizes, from Zint) at 2 to 2.5 pixels a module, turned any way and tilted; and 40 x 40
// symbols at 2.3 to 2.75 pixels a module under a blur of about a pixel, as a webcam shows them from afar.
#ifndef QUARNEL_TESTS_DECODER_SECOND_LOOK_SMALL_SOFT_SETS_H_
#define QUARNEL_TESTS_DECODER_SECOND_LOOK_SMALL_SOFT_SETS_H_

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/symbol_encoder.h"
#include "tests/support/symbol_renderer.h"

namespace smallsoft {

struct SoftFrame {
  std::string name;  // size, module size, angle: what a failure message shows
  std::string text;  // the encoder's input
  testsupport::SymbolMatrix symbol;
  testsupport::RenderOptions options;
};

// Thirty 640 x 480 frames of 8-row symbols, the sizes in turn, at modulePixels (plus up to modulePixelsSpread
// more), any angle, tilts up to maxTiltDeg, light blur and mild noise; all drawn from seed.
std::vector<SoftFrame> eightRowFrames(double modulePixels, double modulePixelsSpread, double maxTiltDeg,
                                      std::uint32_t seed, int count = 30);

// Thirty 640 x 480 frames of one square size at modulePixels (plus up to modulePixelsSpread more), any angle,
// tilts up to 8 degrees, the given blur and mild noise; all drawn from seed.
std::vector<SoftFrame> blurredSquareFrames(int side, double modulePixels, double modulePixelsSpread,
                                           double blurSigma, std::uint32_t seed, int count = 30);

}  // namespace smallsoft

#endif  // QUARNEL_TESTS_DECODER_SECOND_LOOK_SMALL_SOFT_SETS_H_
