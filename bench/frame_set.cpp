#include "bench/frame_set.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <optional>
#include <random>

#include "decoder/ecc200/symbol_table.h"

namespace benchframes {
namespace {

constexpr int BASE_WIDTH = 640;
constexpr int BASE_HEIGHT = 480;
constexpr double MIN_MODULE = 3.0;
constexpr double MAX_MODULE = 12.0;
constexpr double MAX_TILT_DEG = 30.0;
constexpr int MAX_MESSAGE_BYTES = 1500;  // well inside a result's text field

// Each size's codewords and data regions, read from the decoder's symbol table as rows x cols: the message
// length, the flips a symbol can bear and the decoys' region borders.
struct SizeCapacity {
  int rows;
  int cols;
  int dataCodewords;
  int eccCodewords;   // all blocks together
  int blocks;
  int regionRows;     // data modules down one data region
  int regionCols;     // data modules across one data region
};
template <std::size_t N>
constexpr std::array<SizeCapacity, N> capacitiesOf(const std::array<Ecc200Symbol, N>& symbols) {
  std::array<SizeCapacity, N> capacities{};
  for (std::size_t i = 0; i < N; ++i) {
    const Ecc200Symbol& symbol = symbols[i];
    capacities[i] = {symbol.rows,       symbol.columns,    symbol.dataCodewords, symbol.eccCodewords,
                     symbol.blockCount, symbol.regionRows, symbol.regionColumns};
  }
  return capacities;
}
constexpr auto CAPACITIES = capacitiesOf(ECC200_SYMBOLS);
constexpr auto DMRE_CAPACITIES = capacitiesOf(ECC200_DMRE_SYMBOLS);

// Pictures users made with encoders at their usual settings and found unread: rows x cols at a module
// size in pixels, quiet zone of two modules.
struct ExactCase {
  int rows;
  int cols;
  int modulePixels;
};
constexpr ExactCase USER_PICTURES[] = {
    {16, 16, 7}, {18, 18, 6}, {26, 26, 4}, {16, 48, 16}, {14, 14, 8},
    {104, 104, 5}, {120, 120, 5}, {132, 132, 5}, {144, 144, 5},
};
// Everyday texts written by libdmtx at its own choice of size, 5 pixels a module and a 10-pixel margin.
constexpr const char* EVERYDAY_TEXTS[] = {
    "https://example.com/track?id=12345", "SN: 4711-0815-AB", "Hello, world!", "2026-12-10",
    "ORDER 000123456789",                 "Lot A17/B",        "user@example.org", "+49 30 1234567",
};
constexpr int EXACT_MIN_MODULE = 3;
constexpr int EXACT_MAX_MODULE = 8;

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
bool encodeMessageWith(Draw& draw, const SizeCapacity& size, testsupport::EncoderLib encoder, FrameRecipe* recipe) {
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

bool encodeMessage(Draw& draw, const SizeCapacity& size, FrameRecipe* recipe) {
  // libdmtx lays out the 144 x 144 symbol's blocks its own way; zint follows the standard there.
  const testsupport::EncoderLib encoder =
      size.rows == 144 ? testsupport::EncoderLib::Zint : testsupport::EncoderLib::Dmtx;
  return encodeMessageWith(draw, size, encoder, recipe);
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

// Where module (row, col) sits in its data region: on the region's finder or timing pattern, or inside.
bool onRegionBorder(const SizeCapacity& size, int row, int col) {
  const int regionRow = row % (size.regionRows + 2);
  const int regionCol = col % (size.regionCols + 2);
  return regionRow == 0 || regionRow == size.regionRows + 1 || regionCol == 0 || regionCol == size.regionCols + 1;
}

// Flips distinct data-region modules. A flipped module spoils at most one codeword, so up to one
// block's capacity of flips never takes any block past what Reed-Solomon mends.
void flipDataModules(Draw& draw, const SizeCapacity& size, testsupport::SymbolMatrix* symbol) {
  const int capacity = size.eccCodewords / size.blocks / 2;
  const int flips = draw.integer(std::max(1, capacity / 2), capacity);
  std::vector<std::uint8_t> flipped(symbol->modules.size(), 0);
  for (int done = 0; done < flips;) {
    const int row = draw.integer(0, symbol->rows - 1);
    const int col = draw.integer(0, symbol->cols - 1);
    const size_t at = static_cast<size_t>(row) * symbol->cols + col;
    if (onRegionBorder(size, row, col) || flipped[at]) continue;
    flipped[at] = 1;
    symbol->modules[at] ^= 1;
    ++done;
  }
}

// Every data region's solid finder (left column, bottom row) and dotted timing edges around random
// modules: a symbol of that size to every test but Reed-Solomon.
testsupport::SymbolMatrix decoyModules(Draw& draw, const SizeCapacity& size) {
  testsupport::SymbolMatrix decoy;
  decoy.rows = size.rows;
  decoy.cols = size.cols;
  decoy.modules.resize(static_cast<size_t>(size.rows) * size.cols);
  for (int row = 0; row < size.rows; ++row) {
    for (int col = 0; col < size.cols; ++col) {
      const int regionRow = row % (size.regionRows + 2);
      const int regionCol = col % (size.regionCols + 2);
      bool dark;
      if (regionCol == 0 || regionRow == size.regionRows + 1) {
        dark = true;
      } else if (regionRow == 0) {
        dark = regionCol % 2 == 0;
      } else if (regionCol == size.regionCols + 1) {
        dark = (size.regionRows + 1 - regionRow) % 2 == 0;
      } else {
        dark = draw.chance(0.5);
      }
      decoy.modules[static_cast<size_t>(row) * size.cols + col] = dark ? 1 : 0;
    }
  }
  return decoy;
}

// Black on white, upright or turned by a right angle, nothing but the picture: renderFrame puts the
// module edges on pixel edges.
void drawExactPicture(int modulePixels, int quietZone, double rotationDeg, testsupport::RenderOptions* options) {
  options->imageWidth = BASE_WIDTH;
  options->imageHeight = BASE_HEIGHT;
  options->moduleSize = modulePixels;
  options->quietZone = quietZone;
  options->rotationDeg = rotationDeg;
  options->centreX = (BASE_WIDTH - 1) / 2.0;
  options->centreY = (BASE_HEIGHT - 1) / 2.0;
  options->dark = 0;
  options->light = 255;
  options->background = 255;
}

// A recipe of `set` for a symbol (or, without hasSymbol, a decoy) of one size, named prefix, rows x cols and
// the round.
FrameRecipe sizedRecipe(const std::string& prefix, const char* set, const SizeCapacity& size, int round,
                        bool hasSymbol = true) {
  FrameRecipe recipe;
  recipe.name = prefix + std::to_string(size.rows) + "x" + std::to_string(size.cols) + "-" + std::to_string(round);
  recipe.set = set;
  recipe.hasSymbol = hasSymbol;
  recipe.rows = size.rows;
  recipe.cols = size.cols;
  return recipe;
}

// Camera-like frames of the extension sizes, made like the frames of the 30 sizes.
void addDmreRecipes(int round, int* index, std::vector<FrameRecipe>* recipes) {
  for (const SizeCapacity& size : DMRE_CAPACITIES) {
    Draw draw(0xD3E00000u + static_cast<std::uint32_t>((*index)++));
    FrameRecipe recipe = sizedRecipe("dmre", SET_DMRE, size, round);
    if (!encodeMessageWith(draw, size, testsupport::EncoderLib::Zint, &recipe)) continue;
    drawPlacement(draw, size.rows, size.cols, &recipe.options);
    drawCamera(draw, recipe.options.moduleSize, &recipe.options);
    makeFit(&recipe);
    recipes->push_back(std::move(recipe));
  }
}

FrameRecipe exactRecipe(const std::string& name, testsupport::SymbolMatrix symbol, std::string message) {
  FrameRecipe recipe;
  recipe.name = name;
  recipe.set = SET_EXACT;
  recipe.hasSymbol = true;
  recipe.pixelExact = true;
  recipe.rows = symbol.rows;
  recipe.cols = symbol.cols;
  recipe.symbol = std::move(symbol);
  recipe.message = std::move(message);
  return recipe;
}

// Pixel-exact pictures: in the first round the pictures users tried, then every size of both tables at
// a random whole module size and right angle.
void addExactRecipes(int round, int* index, std::vector<FrameRecipe>* recipes) {
  auto findSize = [](int rows, int cols) -> const SizeCapacity* {
    for (const SizeCapacity& size : CAPACITIES) {
      if (size.rows == rows && size.cols == cols) return &size;
    }
    return nullptr;
  };
  if (round == 0) {
    for (const ExactCase& picture : USER_PICTURES) {
      Draw draw(0xE8AC0000u + static_cast<std::uint32_t>((*index)++));
      const SizeCapacity* size = findSize(picture.rows, picture.cols);
      FrameRecipe recipe;
      if (size == nullptr || !encodeMessageWith(draw, *size, testsupport::EncoderLib::Zint, &recipe)) continue;
      recipe = exactRecipe("exact" + std::to_string(picture.rows) + "x" + std::to_string(picture.cols) + "-" +
                               std::to_string(picture.modulePixels) + "px",
                           std::move(recipe.symbol), std::move(recipe.message));
      drawExactPicture(picture.modulePixels, 2, 0.0, &recipe.options);
      recipes->push_back(std::move(recipe));
    }
    int text = 0;
    for (const char* everyday : EVERYDAY_TEXTS) {
      std::optional<testsupport::SymbolMatrix> symbol = testsupport::encodeSymbol(everyday, 0, 0);
      const std::string name = "exactdmtx-" + std::to_string(text++);
      if (!symbol) continue;
      FrameRecipe recipe = exactRecipe(name, std::move(*symbol), everyday);
      drawExactPicture(5, 2, 0.0, &recipe.options);
      recipes->push_back(std::move(recipe));
    }
  }
  std::vector<SizeCapacity> sizes(std::begin(CAPACITIES), std::end(CAPACITIES));
  sizes.insert(sizes.end(), std::begin(DMRE_CAPACITIES), std::end(DMRE_CAPACITIES));
  for (const SizeCapacity& size : sizes) {
    Draw draw(0xE8AC0000u + static_cast<std::uint32_t>((*index)++));
    FrameRecipe recipe;
    if (!encodeMessageWith(draw, size, testsupport::EncoderLib::Zint, &recipe)) continue;
    recipe = exactRecipe("exact" + std::to_string(size.rows) + "x" + std::to_string(size.cols) + "-" +
                             std::to_string(round),
                         std::move(recipe.symbol), std::move(recipe.message));
    const int modulePixels = draw.integer(EXACT_MIN_MODULE, EXACT_MAX_MODULE);
    const int quietZone = draw.integer(1, 4);
    drawExactPicture(modulePixels, quietZone, 90.0 * draw.integer(0, 3), &recipe.options);
    recipes->push_back(std::move(recipe));
  }
}

// A mild camera: any rotation, little tilt, light blur and noise, good contrast, a few marks.
void drawMildCamera(Draw& draw, int rows, int cols, testsupport::RenderOptions* options) {
  drawPlacement(draw, rows, cols, options);
  options->tiltXDeg *= 1.0 / 3.0;
  options->tiltYDeg *= 1.0 / 3.0;
  options->imageWidth = BASE_WIDTH;
  options->imageHeight = BASE_HEIGHT;
  options->seed = static_cast<std::uint32_t>(draw.integer(1, 1 << 30));
  options->blurSigma = draw.chance(0.5) ? std::min(1.0, draw.uniform(0.1, 0.2) * options->moduleSize) : 0.0;
  options->noiseSigma = draw.uniform(0.0, 4.0);
  options->unevenLight = draw.uniform(0.0, 0.3);
  options->dark = static_cast<std::uint8_t>(draw.integer(15, 60));
  options->light = static_cast<std::uint8_t>(draw.integer(180, 235));
  options->background = static_cast<std::uint8_t>(draw.integer((options->dark + 2 * options->light) / 3, options->light));
  options->clutter = draw.integer(0, 8);
}

// Symbols of the 30 sizes with data modules flipped, up to what Reed-Solomon mends, in a mild camera.
void addFlipRecipes(int round, int* index, std::vector<FrameRecipe>* recipes) {
  for (const SizeCapacity& size : CAPACITIES) {
    Draw draw(0xF1100000u + static_cast<std::uint32_t>((*index)++));
    FrameRecipe recipe = sizedRecipe("flips", SET_FLIPS, size, round);
    if (!encodeMessageWith(draw, size, testsupport::EncoderLib::Zint, &recipe)) continue;
    flipDataModules(draw, size, &recipe.symbol);
    drawMildCamera(draw, size.rows, size.cols, &recipe.options);
    makeFit(&recipe);
    recipes->push_back(std::move(recipe));
  }
}

// Decoys of every size of both tables in camera-like frames with clutter: any text is a misread.
void addDecoyRecipes(int round, int* index, std::vector<FrameRecipe>* recipes) {
  std::vector<SizeCapacity> sizes(std::begin(CAPACITIES), std::end(CAPACITIES));
  sizes.insert(sizes.end(), std::begin(DMRE_CAPACITIES), std::end(DMRE_CAPACITIES));
  for (const SizeCapacity& size : sizes) {
    Draw draw(0xDEC00000u + static_cast<std::uint32_t>((*index)++));
    FrameRecipe recipe = sizedRecipe("decoy", SET_DECOYS, size, round, false);
    recipe.symbol = decoyModules(draw, size);
    drawPlacement(draw, size.rows, size.cols, &recipe.options);
    drawCamera(draw, recipe.options.moduleSize, &recipe.options);
    recipe.options.clutter = draw.integer(5, 25);
    makeFit(&recipe);
    recipes->push_back(std::move(recipe));
  }
}

// Puts the symbol's outer module edges on pixel edges (pixel x covers x - 0.5 .. x + 0.5) near where the
// recipe asked, shrinking the module size to the largest whole number at which the symbol and its quiet
// zone fit the frame.
void placeOnPixelEdges(const FrameRecipe& recipe, const FrameSize& size, testsupport::RenderOptions* options) {
  const bool turned = std::lround(options->rotationDeg / 90.0) % 2 != 0;
  const int across = (turned ? recipe.symbol.rows : recipe.symbol.cols) + 2 * options->quietZone;
  const int down = (turned ? recipe.symbol.cols : recipe.symbol.rows) + 2 * options->quietZone;
  int module = static_cast<int>(std::lround(options->moduleSize));
  while (module > 1 && (across * module > size.width || down * module > size.height)) --module;
  options->moduleSize = module;
  const auto snap = [module](double centre, int extent, int room) {
    const long first = std::lround(centre - extent * module / 2.0 + 0.5);  // first pixel of the quiet zone
    const long clamped = std::max(0L, std::min(first, static_cast<long>(room - extent * module)));
    return clamped - 0.5 + extent * module / 2.0;
  };
  options->centreX = snap(options->centreX, across, size.width);
  options->centreY = snap(options->centreY, down, size.height);
}

}  // namespace

std::vector<FrameRecipe> makeRecipes(int framesPerSize) {
  std::vector<FrameRecipe> recipes;
  int index = 0;
  for (int round = 0; round < framesPerSize; ++round) {
    for (const SizeCapacity& size : CAPACITIES) {
      Draw draw(0x5EED0000u + static_cast<std::uint32_t>(index++));
      FrameRecipe recipe = sizedRecipe("s", SET_SYMBOLS, size, round);
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
    recipe.set = SET_EMPTY;
    drawCamera(draw, draw.uniform(MIN_MODULE, MAX_MODULE), &recipe.options);
    recipe.options.clutter = draw.integer(5, 25);
    recipes.push_back(std::move(recipe));
  }
  int dmreIndex = 0, exactIndex = 0, flipIndex = 0, decoyIndex = 0;
  for (int round = 0; round < framesPerSize; ++round) addDmreRecipes(round, &dmreIndex, &recipes);
  for (int round = 0; round < framesPerSize; ++round) addExactRecipes(round, &exactIndex, &recipes);
  for (int round = 0; round < framesPerSize; ++round) addFlipRecipes(round, &flipIndex, &recipes);
  for (int round = 0; round < framesPerSize; ++round) addDecoyRecipes(round, &decoyIndex, &recipes);
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
  if (recipe.pixelExact) placeOnPixelEdges(recipe, size, &options);

  Frame frame;
  frame.recipe = &recipe;
  frame.modulePixels = options.moduleSize;
  if (!recipe.symbol.modules.empty()) {
    frame.grey = testsupport::renderSymbol(recipe.symbol, options).grey;
  } else {
    frame.grey = testsupport::renderSymbols({}, options).grey;
  }
  return frame;
}

}  // namespace benchframes
