#include "frame_set.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <random>

namespace benchframes {
namespace {

constexpr int BASE_WIDTH = 640;
constexpr int BASE_HEIGHT = 480;
constexpr double MIN_MODULE = 3.0;
constexpr double MAX_MODULE = 12.0;
constexpr double MAX_TILT_DEG = 30.0;
constexpr int MAX_MESSAGE_BYTES = 1500;  // well inside a result's text field

// Data codewords of each ECC 200 size (ISO/IEC 16022 symbol attributes), as (rows, cols, codewords).
struct SizeCapacity {
  int rows;
  int cols;
  int dataCodewords;
};
constexpr SizeCapacity CAPACITIES[] = {
    {10, 10, 3},      {12, 12, 5},      {14, 14, 8},      {16, 16, 12},   {18, 18, 18},   {20, 20, 22},
    {22, 22, 30},     {24, 24, 36},     {26, 26, 44},     {32, 32, 62},   {36, 36, 86},   {40, 40, 114},
    {44, 44, 144},    {48, 48, 174},    {52, 52, 204},    {64, 64, 280},  {72, 72, 368},  {80, 80, 456},
    {88, 88, 576},    {96, 96, 696},    {104, 104, 816},  {120, 120, 1050}, {132, 132, 1304}, {144, 144, 1558},
    {8, 18, 5},       {8, 32, 10},      {12, 26, 16},     {12, 36, 22},   {16, 36, 32},   {16, 48, 49},
};

// The standard library's distributions differ between implementations; the engine does not, so every
// draw is made from its raw output.
class Draw {
 public:
  explicit Draw(std::uint32_t seed) : engine_(seed) {}
  double uniform(double low, double high) { return low + (high - low) * (engine_() / 4294967296.0); }
  int integer(int low, int high) {  // both ends included
    return low + static_cast<int>(engine_() % static_cast<std::uint32_t>(high - low + 1));
  }
  bool chance(double p) { return uniform(0.0, 1.0) < p; }

 private:
  std::mt19937 engine_;
};

std::string randomText(Draw& draw, int length) {
  static constexpr char ALPHABET[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789 -./:+*#()";
  std::string text;
  for (int i = 0; i < length; ++i) text += ALPHABET[draw.integer(0, static_cast<int>(sizeof(ALPHABET)) - 2)];
  return text;
}

// A message that fills a random share of the symbol, shortened until the encoder takes it.
bool encodeMessage(Draw& draw, const SizeCapacity& size, FrameRecipe* recipe) {
  // libdmtx lays out the 144 x 144 symbol's blocks its own way; zint follows the standard there.
  const testsupport::EncoderLib encoder =
      size.rows == 144 ? testsupport::EncoderLib::Zint : testsupport::EncoderLib::Dmtx;
  int length = std::min(MAX_MESSAGE_BYTES,
                        std::max(1, static_cast<int>(size.dataCodewords * draw.uniform(0.4, 1.0))));
  const std::string full = randomText(draw, length);
  while (length >= 1) {
    const std::string message = full.substr(0, static_cast<size_t>(length));
    std::optional<testsupport::SymbolMatrix> symbol =
        testsupport::encodeSymbol(message, size.rows, size.cols, testsupport::EncodeScheme::Auto, encoder);
    if (symbol) {
      recipe->message = message;
      recipe->symbol = std::move(*symbol);
      return true;
    }
    length = length * 9 / 10;
  }
  return false;
}

// Camera and scene: light, blur, noise, contrast and clutter, the same for frames with and without symbol.
void drawCamera(Draw& draw, double moduleSize, testsupport::RenderOptions* options) {
  options->imageWidth = BASE_WIDTH;
  options->imageHeight = BASE_HEIGHT;
  options->seed = static_cast<std::uint32_t>(draw.integer(1, 1 << 30));
  options->blurSigma = draw.chance(0.6) ? std::min(2.0, draw.uniform(0.2, 0.35) * moduleSize) : 0.0;
  options->noiseSigma = draw.uniform(0.0, 8.0);
  options->unevenLight = draw.uniform(0.0, 0.6);
  if (draw.chance(0.25)) {  // low contrast
    options->dark = static_cast<std::uint8_t>(draw.integer(80, 100));
    options->light = static_cast<std::uint8_t>(draw.integer(140, 160));
  } else {
    options->dark = static_cast<std::uint8_t>(draw.integer(15, 60));
    options->light = static_cast<std::uint8_t>(draw.integer(180, 235));
  }
  options->background =
      static_cast<std::uint8_t>(draw.integer((options->dark + 2 * options->light) / 3, options->light));
  options->clutter = draw.integer(0, 15);
}

// Size of the symbol's outline on screen per pixel of module size, a little generous for the tilt.
double footprintPerModule(int rows, int cols, double rotationDeg, double tiltDeg, bool vertical) {
  const double r = rotationDeg * CV_PI / 180.0;
  const double c = std::abs(std::cos(r));
  const double s = std::abs(std::sin(r));
  const double perspective = 1.0 / (1.0 - 0.5 * std::sin(tiltDeg * CV_PI / 180.0));
  return perspective * (vertical ? cols * s + rows * c : cols * c + rows * s);
}

// Rotation, tilt, module size and place, drawn so that the symbol fits a 640 x 480 frame.
void drawPlacement(Draw& draw, int rows, int cols, testsupport::RenderOptions* options) {
  double rotation = draw.uniform(0.0, 360.0);
  double tilt = draw.uniform(0.0, MAX_TILT_DEG);
  const double tiltDirection = draw.uniform(0.0, 2.0 * CV_PI);
  const double usableWidth = BASE_WIDTH - 8.0;
  const double usableHeight = BASE_HEIGHT - 8.0;
  auto largestModule = [&]() {
    return std::min(usableWidth / footprintPerModule(rows, cols, rotation, tilt, false),
                    usableHeight / footprintPerModule(rows, cols, rotation, tilt, true));
  };
  // The largest symbols fit at three pixels a module only when nearly upright and seen straight on.
  if (largestModule() < MIN_MODULE) {
    rotation = 90.0 * std::round(rotation / 90.0) + draw.uniform(-2.0, 2.0);
    tilt = std::min(tilt, 5.0);
  }
  if (largestModule() < MIN_MODULE) {
    rotation = 90.0 * std::round(rotation / 90.0);
    tilt = 0.0;
  }
  const double moduleSize = draw.uniform(MIN_MODULE, std::max(MIN_MODULE, std::min(MAX_MODULE, largestModule())));
  options->moduleSize = moduleSize;
  options->rotationDeg = rotation;
  options->tiltXDeg = tilt * std::cos(tiltDirection);
  options->tiltYDeg = tilt * std::sin(tiltDirection);
  options->quietZone = draw.integer(1, 3);
  const double slackX = std::max(0.0, usableWidth - moduleSize * footprintPerModule(rows, cols, rotation, tilt, false));
  const double slackY = std::max(0.0, usableHeight - moduleSize * footprintPerModule(rows, cols, rotation, tilt, true));
  options->centreX = (BASE_WIDTH - 1) / 2.0 + draw.uniform(-0.5, 0.5) * slackX;
  options->centreY = (BASE_HEIGHT - 1) / 2.0 + draw.uniform(-0.5, 0.5) * slackY;
}

bool fitsFrame(const FrameRecipe& recipe) {
  testsupport::RenderOptions bare = recipe.options;
  bare.clutter = 0;
  bare.blurSigma = 0.0;
  bare.noiseSigma = 0.0;
  return !testsupport::renderSymbol(recipe.symbol, bare).grey.empty();
}

// Brings a symbol that the estimate let stick out back into the frame: first towards the centre, then
// smaller, finally upright and flat.
void makeFit(FrameRecipe* recipe) {
  testsupport::RenderOptions& options = recipe->options;
  for (int attempt = 0; attempt < 40 && !fitsFrame(*recipe); ++attempt) {
    options.centreX = (options.centreX + (BASE_WIDTH - 1) / 2.0) / 2.0;
    options.centreY = (options.centreY + (BASE_HEIGHT - 1) / 2.0) / 2.0;
    if (attempt % 4 == 3) options.moduleSize = std::max(MIN_MODULE, options.moduleSize * 0.9);
    if (attempt >= 20) {
      options.tiltXDeg *= 0.5;
      options.tiltYDeg *= 0.5;
      options.rotationDeg = 90.0 * std::round(options.rotationDeg / 90.0);
    }
  }
}

}  // namespace

std::vector<FrameRecipe> makeRecipes(int framesPerSize) {
  std::vector<FrameRecipe> recipes;
  int index = 0;
  for (int round = 0; round < framesPerSize; ++round) {
    for (const SizeCapacity& size : CAPACITIES) {
      Draw draw(0x5EED0000u + static_cast<std::uint32_t>(index++));
      FrameRecipe recipe;
      recipe.name = "s" + std::to_string(size.rows) + "x" + std::to_string(size.cols) + "-" + std::to_string(round);
      recipe.hasSymbol = true;
      recipe.rows = size.rows;
      recipe.cols = size.cols;
      if (!encodeMessage(draw, size, &recipe)) continue;
      drawPlacement(draw, size.rows, size.cols, &recipe.options);
      drawCamera(draw, recipe.options.moduleSize, &recipe.options);
      makeFit(&recipe);
      recipes.push_back(std::move(recipe));
    }
  }
  const int symbolFrames = static_cast<int>(recipes.size());
  for (int i = 0; i < symbolFrames; ++i) {
    Draw draw(0xC1A77E00u + static_cast<std::uint32_t>(i));
    FrameRecipe recipe;
    recipe.name = "empty-" + std::to_string(i);
    drawCamera(draw, draw.uniform(MIN_MODULE, MAX_MODULE), &recipe.options);
    recipe.options.clutter = draw.integer(5, 25);
    recipes.push_back(std::move(recipe));
  }
  return recipes;
}

Frame renderFrame(const FrameRecipe& recipe, const FrameSize& size) {
  testsupport::RenderOptions options = recipe.options;
  const double scaleX = static_cast<double>(size.width) / BASE_WIDTH;
  const double scaleY = static_cast<double>(size.height) / BASE_HEIGHT;
  options.imageWidth = size.width;
  options.imageHeight = size.height;
  options.centreX = (recipe.options.centreX + 0.5) * scaleX - 0.5;
  options.centreY = (recipe.options.centreY + 0.5) * scaleY - 0.5;
  options.clutter = static_cast<int>(std::lround(recipe.options.clutter * scaleX * scaleY));

  Frame frame;
  frame.recipe = &recipe;
  if (recipe.hasSymbol) {
    frame.grey = testsupport::renderSymbol(recipe.symbol, options).grey;
  } else {
    frame.grey = testsupport::renderSymbols({}, options).grey;
  }
  return frame;
}

}  // namespace benchframes
