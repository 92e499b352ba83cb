// The benchmark's frames: grey frames made deterministically by the test-support encoder and renderer, one
// symbol each or clutter alone, at three frame sizes. Camera-like frames of the 30 ECC 200 sizes and
// clutter alone come first; then camera-like frames of the rectangular extension sizes, pixel-exact
// pictures as encoders write them, symbols with flipped modules, and decoys (finder and timing pattern
// around random modules, which no reader may return a text for).
#ifndef QUARNEL_BENCH_FRAME_SET_H_
#define QUARNEL_BENCH_FRAME_SET_H_

#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "tests/support/symbol_encoder.h"
#include "tests/support/symbol_renderer.h"

namespace benchframes {

struct FrameSize {
  int width;
  int height;
  const char* name;
};

// The same scenes at every size: the symbol keeps its module size and its place relative to the frame,
// the clutter keeps its density, so a larger frame only adds pixels.
constexpr FrameSize FRAME_SIZES[] = {{640, 480, "640x480"}, {1280, 720, "1280x720"}, {1920, 1080, "1920x1080"}};
constexpr int FRAME_SIZE_COUNT = 3;

// The frame sets, in the order makeRecipes lists them.
constexpr const char* SET_SYMBOLS = "symbols";  // camera-like, the 30 ECC 200 sizes
constexpr const char* SET_EMPTY = "empty";      // clutter alone
constexpr const char* SET_DMRE = "dmre";        // camera-like, the 18 rectangular extension sizes
constexpr const char* SET_EXACT = "exact";      // black on white, axis-aligned, integer module size, no blur
constexpr const char* SET_FLIPS = "flips";      // mild camera, modules flipped up to the correction capacity
constexpr const char* SET_DECOYS = "decoys";    // finder and timing around random modules, every size; no text

// What one frame shows, chosen at the base size of 640 x 480.
struct FrameRecipe {
  std::string name;     // e.g. "s12x12-0" or "empty-3"
  std::string set = SET_SYMBOLS;
  bool hasSymbol = false;
  // Drawn as encoders write pictures: the symbol's module edges on pixel edges at every frame size, the
  // module size shrunk to the largest whole number that fits where the frame is too small.
  bool pixelExact = false;
  int rows = 0;         // symbol size, rows x columns; 0 without a symbol
  int cols = 0;
  std::string message;  // the encoder's input: what a reader must return
  testsupport::SymbolMatrix symbol;  // also a decoy's modules, which hasSymbol leaves false
  testsupport::RenderOptions options;
};

struct Frame {
  const FrameRecipe* recipe = nullptr;
  cv::Mat grey;               // CV_8UC1
  double modulePixels = 0.0;  // module size as drawn: a pixel-exact picture may have shrunk to fit
};

// framesPerSize frames for each of the 30 ECC 200 sizes, then as many frames of clutter alone; then per
// round the extension sizes, the pixel-exact pictures (every size, plus the encoder pictures users
// tried, in the first round only), the flipped modules and the decoys. The same arguments always give
// the same recipes, and a set added later never changes the frames before it.
std::vector<FrameRecipe> makeRecipes(int framesPerSize);

// The recipe drawn at `size`. Empty grey image when the renderer refuses it (never for makeRecipes').
Frame renderFrame(const FrameRecipe& recipe, const FrameSize& size);

}  // namespace benchframes

#endif  // QUARNEL_BENCH_FRAME_SET_H_
