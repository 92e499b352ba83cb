// The benchmark's frames: camera-like grey frames made deterministically by the test-support encoder and
// renderer, one symbol each or clutter alone, at three frame sizes.
#ifndef QUARNEL_BENCH_FRAME_SET_H_
#define QUARNEL_BENCH_FRAME_SET_H_

#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "symbol_encoder.h"
#include "symbol_renderer.h"

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

// What one frame shows, chosen at the base size of 640 x 480.
struct FrameRecipe {
  std::string name;     // e.g. "s12x12-0" or "empty-3"
  bool hasSymbol = false;
  int rows = 0;         // symbol size, rows x columns; 0 without a symbol
  int cols = 0;
  std::string message;  // the encoder's input: what a reader must return
  testsupport::SymbolMatrix symbol;
  testsupport::RenderOptions options;
};

struct Frame {
  const FrameRecipe* recipe = nullptr;
  cv::Mat grey;  // CV_8UC1
};

// framesPerSize frames for each of the 30 ECC 200 sizes, then as many frames of clutter alone. The same
// arguments always give the same recipes.
std::vector<FrameRecipe> makeRecipes(int framesPerSize);

// The recipe drawn at `size`. Empty grey image when the renderer refuses it (never for makeRecipes').
Frame renderFrame(const FrameRecipe& recipe, const FrameSize& size);

}  // namespace benchframes

#endif  // QUARNEL_BENCH_FRAME_SET_H_
