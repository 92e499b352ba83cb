// Each condition draws its frames from a random stream seeded by its name and the frame's index, so a
// frame is the same on every run and adding frames to one condition leaves the others as they were.
#include "bench/label_condition_sets.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <utility>

#include <opencv2/imgproc.hpp>
#include <zint.h>

#include "tests/support/dot_marking.h"
#include "tests/support/shadow_edge.h"
#include "tests/support/symbol_encoder.h"
#include "tests/support/symbol_renderer.h"

namespace labelconditions {
namespace {

using testsupport::EncoderLib;
using testsupport::RenderOptions;
using testsupport::SymbolMatrix;

constexpr int FRAME_WIDTH = 640;
constexpr int FRAME_HEIGHT = 480;
constexpr double FRAME_SPARE = 6.0;  // pixels kept between the symbol and the frame's edge

cv::RNG frameRng(const std::string& condition, int index) {
  // FNV-1a over the name, then the index: the same stream on every platform.
  std::uint64_t hash = 1469598103934665603ULL;
  for (const char c : condition) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
  hash = (hash ^ static_cast<std::uint64_t>(index + 1)) * 1099511628211ULL;
  return cv::RNG(hash == 0 ? 1 : hash);
}

std::string format(const char* pattern, double a, double b = 0.0, double c = 0.0) {
  char text[96];
  std::snprintf(text, sizeof(text), pattern, a, b, c);
  return text;
}

std::string randomText(cv::RNG& rng, int length) {
  static const char WORDS[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789 -./:+#";
  static const char DIGITS[] = "0123456789";
  const bool digitsOnly = rng.uniform(0, 4) == 0;
  std::string text;
  for (int i = 0; i < length; ++i) {
    text += digitsOnly ? DIGITS[rng.uniform(0, 10)] : WORDS[rng.uniform(0, static_cast<int>(sizeof(WORDS)) - 1)];
  }
  return text;
}

struct EncodedSymbol {
  SymbolMatrix matrix;
  std::string message;
  const char* encoder;
};

bool isExtensionSize(int rows, int cols) {
  const auto& sizes = testsupport::dmreSizes();
  return std::find(sizes.begin(), sizes.end(), std::make_pair(rows, cols)) != sizes.end();
}

// A text of random length up to about half of what the size holds, encoded at exactly rows x cols.
// Zint writes 144 x 144 and the extension sizes, which libdmtx does not.
std::optional<EncodedSymbol> encodeAt(cv::RNG& rng, int rows, int cols, EncoderLib lib) {
  if (rows == 144 || isExtensionSize(rows, cols)) lib = EncoderLib::Zint;
  const int most = rows * cols / 16 + 2;
  const std::string text = randomText(rng, rng.uniform(std::max(1, most / 3), most + 1));
  for (std::size_t length = text.size(); length >= 1; --length) {
    const std::string message = text.substr(0, length);
    std::optional<SymbolMatrix> matrix =
        testsupport::encodeSymbol(message, rows, cols, testsupport::EncodeScheme::Auto, lib);
    if (matrix && matrix->rows == rows && matrix->cols == cols) {
      return EncodedSymbol{std::move(*matrix), message, lib == EncoderLib::Zint ? "zint" : "dmtx"};
    }
  }
  return std::nullopt;
}

std::pair<int, int> pickSize(cv::RNG& rng, int largestSide, bool squares, bool rectangles) {
  std::vector<std::pair<int, int>> sizes;
  for (const auto& size : testsupport::ecc200Sizes()) {
    const bool square = size.first == size.second;
    if (std::max(size.first, size.second) <= largestSide && (square ? squares : rectangles)) sizes.push_back(size);
  }
  return sizes[rng.uniform(0, static_cast<int>(sizes.size()))];
}

EncoderLib pickLib(int index) { return index % 2 == 0 ? EncoderLib::Dmtx : EncoderLib::Zint; }

// Module size cut to what lets the symbol fit the frame at its angle, then a centre anywhere the
// symbol (not its quiet zone, which the frame may cut) stays inside with room for the tilt.
void placeAnywhere(cv::RNG& rng, const SymbolMatrix& symbol, RenderOptions* options) {
  const double tiltSlack = 1.0 + std::max(std::abs(options->tiltXDeg), std::abs(options->tiltYDeg)) / 60.0;
  const double a = options->rotationDeg * CV_PI / 180.0;
  auto span = [&](double module) {
    const double w = (symbol.cols + 1) * module * tiltSlack, h = (symbol.rows + 1) * module * tiltSlack;
    return cv::Point2d(std::abs(w * std::cos(a)) + std::abs(h * std::sin(a)),
                       std::abs(w * std::sin(a)) + std::abs(h * std::cos(a)));
  };
  const cv::Point2d full = span(options->moduleSize);
  const double room = std::min((FRAME_WIDTH - 2 * FRAME_SPARE) / full.x, (FRAME_HEIGHT - 2 * FRAME_SPARE) / full.y);
  if (room < 1.0) options->moduleSize *= room;
  const cv::Point2d half = span(options->moduleSize) * 0.5;
  options->centreX = rng.uniform(half.x + FRAME_SPARE, std::max(half.x + FRAME_SPARE + 1.0, FRAME_WIDTH - half.x - FRAME_SPARE));
  options->centreY = rng.uniform(half.y + FRAME_SPARE, std::max(half.y + FRAME_SPARE + 1.0, FRAME_HEIGHT - half.y - FRAME_SPARE));
}

// A mild camera: some blur, sensor noise, a little uneven light.
void mildCamera(cv::RNG& rng, RenderOptions* options) {
  options->blurSigma = rng.uniform(0.4, 0.9);
  options->noiseSigma = rng.uniform(1.5, 4.0);
  options->unevenLight = rng.uniform(0.0, 0.25);
  options->seed = static_cast<std::uint32_t>(rng.next());
}

void anyAngle(cv::RNG& rng, RenderOptions* options, double maxTiltDeg) {
  options->rotationDeg = rng.uniform(0.0, 360.0);
  const double tilt = rng.uniform(0.0, maxTiltDeg), direction = rng.uniform(0.0, 2.0 * CV_PI);
  options->tiltXDeg = tilt * std::cos(direction);
  options->tiltYDeg = tilt * std::sin(direction);
}

// Blur and noise for frames painted on after rendering (damage, shadow), which the lens and sensor
// see as a whole.
void applyCamera(cv::Mat& grey, double blurSigma, double noiseSigma, cv::RNG& rng) {
  if (blurSigma > 0.0) cv::GaussianBlur(grey, grey, cv::Size(0, 0), blurSigma, blurSigma, cv::BORDER_REPLICATE);
  cv::Mat canvas, noise(grey.size(), CV_32F);
  grey.convertTo(canvas, CV_32F);
  rng.fill(noise, cv::RNG::NORMAL, 0.0, noiseSigma);
  canvas += noise;
  canvas.convertTo(grey, CV_8U);
}

std::string describe(const EncodedSymbol& symbol, const RenderOptions& options) {
  return std::to_string(symbol.matrix.rows) + "x" + std::to_string(symbol.matrix.cols) + " " + symbol.encoder +
         format(" %.1fpx %.0fdeg tilt%.0f", options.moduleSize, options.rotationDeg,
                std::hypot(options.tiltXDeg, options.tiltYDeg));
}

// A symbol of a random size with normal polarity, placed anywhere under a mild camera.
struct Staged {
  EncodedSymbol symbol;
  RenderOptions options;
};

std::optional<Staged> stage(cv::RNG& rng, int index, std::pair<int, int> size, double moduleLow, double moduleHigh,
                            double maxTiltDeg) {
  std::optional<EncodedSymbol> symbol = encodeAt(rng, size.first, size.second, pickLib(index));
  if (!symbol) return std::nullopt;
  RenderOptions options;
  options.moduleSize = rng.uniform(moduleLow, moduleHigh);
  options.quietZone = rng.uniform(2, 5);
  options.dark = static_cast<std::uint8_t>(rng.uniform(15, 70));
  options.light = static_cast<std::uint8_t>(rng.uniform(170, 235));
  options.background = static_cast<std::uint8_t>(rng.uniform(110, 220));
  options.clutter = rng.uniform(0, 12);
  anyAngle(rng, &options, maxTiltDeg);
  mildCamera(rng, &options);
  placeAnywhere(rng, symbol->matrix, &options);
  return Staged{std::move(*symbol), options};
}

ConditionFrame finished(const Staged& staged, cv::Mat grey, const std::string& extra) {
  ConditionFrame frame;
  frame.name = describe(staged.symbol, staged.options) + (extra.empty() ? "" : " " + extra);
  frame.grey = std::move(grey);
  frame.message = staged.symbol.message;
  return frame;
}

// Light modules on a dark ground: half laser-marked metal (the whole surround dark), half a negative
// label (a dark patch around the symbol on a light page).
ConditionFrame lightOnDark(cv::RNG& rng, int index) {
  std::optional<Staged> staged = stage(rng, index, pickSize(rng, 48, true, true), 3.0, 8.0, 12.0);
  if (!staged) return {};
  RenderOptions& options = staged->options;
  const bool metal = index % 2 == 0;
  options.dark = static_cast<std::uint8_t>(rng.uniform(150, 230));
  options.light = static_cast<std::uint8_t>(rng.uniform(20, 65));
  options.background = metal ? static_cast<std::uint8_t>(std::clamp(options.light + rng.uniform(-10, 20), 0, 255))
                             : static_cast<std::uint8_t>(rng.uniform(170, 230));
  options.clutter = metal ? 0 : options.clutter;
  return finished(*staged, testsupport::renderSymbol(staged->symbol.matrix, options).grey, metal ? "metal" : "negative");
}

ConditionFrame mirrored(cv::RNG& rng, int index) {
  const bool squares = index % 2 == 0;
  std::optional<Staged> staged = stage(rng, index, pickSize(rng, 52, squares, !squares), 3.0, 8.0, 12.0);
  if (!staged) return {};
  cv::Mat grey = testsupport::renderSymbol(staged->symbol.matrix, staged->options).grey;
  const bool leftRight = index % 4 < 2;
  if (!grey.empty()) cv::flip(grey, grey, leftRight ? 1 : 0);
  return finished(*staged, grey, leftRight ? "left-right" : "upside-down");
}

ConditionFrame dots(cv::RNG& rng, int index) {
  std::optional<Staged> staged = stage(rng, index, pickSize(rng, 32, true, true), 4.0, 10.0, 10.0);
  if (!staged) return {};
  RenderOptions& options = staged->options;
  // Dot peening on metal: the surround is the same surface as the gaps between the dots.
  options.background = static_cast<std::uint8_t>(std::clamp(options.light + rng.uniform(-25, 10), 0, 255));
  options.clutter = 0;
  const double dotShare = rng.uniform(0.6, 0.85);
  return finished(*staged, testsupport::renderDotSymbol(staged->symbol.matrix, options, dotShare).grey,
                  format("dots%.2f", dotShare));
}

ConditionFrame eightRows(cv::RNG& rng, int index) {
  static const std::pair<int, int> SIZES[] = {{8, 18}, {8, 32}, {8, 48}, {8, 64}, {8, 80}, {8, 96}, {8, 120}, {8, 144}};
  const std::pair<int, int> size = SIZES[index % (sizeof(SIZES) / sizeof(SIZES[0]))];
  std::optional<Staged> staged = stage(rng, index / 8, size, 2.0, 2.0, 20.0);
  if (!staged) return {};
  staged->options.blurSigma = rng.uniform(0.4, 0.7);
  staged->options.noiseSigma = rng.uniform(1.5, 3.0);
  return finished(*staged, testsupport::renderSymbol(staged->symbol.matrix, staged->options).grey, "");
}

ConditionFrame soft40(cv::RNG& rng, int index) {
  std::optional<Staged> staged = stage(rng, index, {40, 40}, 2.5, 2.5, 10.0);
  if (!staged) return {};
  staged->options.blurSigma = rng.uniform(0.85, 1.15);
  return finished(*staged, testsupport::renderSymbol(staged->symbol.matrix, staged->options).grey,
                  format("blur%.2f", staged->options.blurSigma));
}

// Drawn sharp and clean, so the shadow or the damage lies under the camera's blur and noise as it would.
testsupport::RenderedSymbol renderSharp(const Staged& staged) {
  RenderOptions sharp = staged.options;
  sharp.blurSigma = 0.0;
  sharp.noiseSigma = 0.0;
  return testsupport::renderSymbol(staged.symbol.matrix, sharp);
}

ConditionFrame shadowEdge(cv::RNG& rng, int index) {
  std::optional<Staged> staged = stage(rng, index, pickSize(rng, 40, true, true), 3.0, 8.0, 12.0);
  if (!staged) return {};
  testsupport::RenderedSymbol rendered = renderSharp(*staged);
  if (rendered.grey.empty()) return {};
  const SymbolMatrix& matrix = staged->symbol.matrix;
  const cv::Point2d through = testsupport::moduleToImage(
      rendered.corners, matrix.rows, matrix.cols,
      {rng.uniform(0.2, 0.8) * matrix.cols, rng.uniform(0.2, 0.8) * matrix.rows});
  const double angle = rng.uniform(0.0, 360.0), shade = rng.uniform(0.35, 0.6), softness = rng.uniform(0.0, 3.0);
  testsupport::castShadowEdge(rendered.grey, through, angle, shade, softness);
  applyCamera(rendered.grey, staged->options.blurSigma, staged->options.noiseSigma, rng);
  return finished(*staged, rendered.grey, format("shade%.2f soft%.1f edge%.0fdeg", shade, softness, angle));
}

ConditionFrame notchedLeg(cv::RNG& rng, int index) {
  std::optional<Staged> staged = stage(rng, index, pickSize(rng, 40, true, true), 4.0, 8.0, 12.0);
  if (!staged) return {};
  testsupport::RenderedSymbol rendered = renderSharp(*staged);
  if (rendered.grey.empty()) return {};
  const SymbolMatrix& matrix = staged->symbol.matrix;
  const double depth = rng.uniform(0.4, 0.6), length = rng.uniform(1.0, 3.0);
  const bool columnLeg = index % 2 == 0;  // the left column or the bottom row
  const bool outer = index % 3 != 2;       // bitten from the outside edge or from the data side
  const int legModules = columnLeg ? matrix.rows : matrix.cols;
  const double along = rng.uniform(1.0, std::max(1.5, legModules - 1.0 - length));
  cv::Rect2d notch;
  if (columnLeg) {
    notch = cv::Rect2d(outer ? 0.0 : 1.0 - depth, along, depth, length);
  } else {
    notch = cv::Rect2d(along, outer ? matrix.rows - depth : matrix.rows - 1.0, length, depth);
  }
  testsupport::occludeModules(rendered.grey, rendered.corners, matrix.rows, matrix.cols, notch, staged->options.light);
  applyCamera(rendered.grey, staged->options.blurSigma, staged->options.noiseSigma, rng);
  return finished(*staged, rendered.grey,
                  format("notch%.2fx%.1f at%.1f", depth, length, along) + (columnLeg ? " column" : " row") +
                      (outer ? " outer" : " inner"));
}

// A GS1 element string whose only variable-length field comes last, so its text needs no separator.
std::pair<std::string, std::string> gs1Message(cv::RNG& rng) {
  std::string gtin;
  int sum = 0;
  for (int i = 0; i < 13; ++i) {
    const int digit = rng.uniform(0, 10);
    gtin += static_cast<char>('0' + digit);
    sum += digit * (i % 2 == 0 ? 3 : 1);
  }
  gtin += static_cast<char>('0' + (10 - sum % 10) % 10);
  char date[8];
  std::snprintf(date, sizeof(date), "%02d%02d%02d", rng.uniform(20, 35), rng.uniform(1, 13), rng.uniform(1, 29));
  static const char BATCH[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::string batch;
  for (int i = rng.uniform(1, 21); i > 0; --i) batch += BATCH[rng.uniform(0, 36)];
  return {"[01]" + gtin + "[17]" + date + "[10]" + batch, "01" + gtin + "17" + date + "10" + batch};
}

// Zint's own raster: each module a square of whole black or white pixels, no margin at all.
ConditionFrame noMarginFile(cv::RNG& rng, int index) {
  static const char* const KINDS[] = {"square", "rectangle", "dmre", "gs1"};
  const char* kind = KINDS[index % 4];
  std::optional<SymbolMatrix> matrix;
  std::string message;
  if (index % 4 == 3) {
    const auto [input, elementString] = gs1Message(rng);
    testsupport::ZintFeatures features;
    features.gs1 = true;
    matrix = testsupport::encodeZintSymbol(std::vector<std::uint8_t>(input.begin(), input.end()), 0, 0, features);
    message = elementString;
  } else {
    std::pair<int, int> size;
    if (index % 4 == 2) {
      size = testsupport::dmreSizes()[rng.uniform(0, static_cast<int>(testsupport::dmreSizes().size()))];
    } else {
      size = pickSize(rng, 64, index % 4 == 0, index % 4 == 1);
    }
    std::optional<EncodedSymbol> symbol = encodeAt(rng, size.first, size.second, EncoderLib::Zint);
    if (symbol) matrix = symbol->matrix, message = symbol->message;
  }
  if (!matrix) return {};
  const int pixels = rng.uniform(1, 11);
  cv::Mat grey(matrix->rows * pixels, matrix->cols * pixels, CV_8UC1, cv::Scalar(255));
  for (int r = 0; r < matrix->rows; ++r) {
    for (int c = 0; c < matrix->cols; ++c) {
      if (matrix->at(r, c) != 0) grey(cv::Rect(c * pixels, r * pixels, pixels, pixels)).setTo(0);
    }
  }
  ConditionFrame frame;
  frame.name = std::to_string(matrix->rows) + "x" + std::to_string(matrix->cols) + " zint " + kind + " " +
               std::to_string(pixels) + "px";
  frame.grey = grey;
  frame.message = message;
  return frame;
}

// Another kind of barcode as rows of modules; one-row (linear) codes are stretched into bars.
std::optional<SymbolMatrix> otherBarcode(int symbology, const std::string& data, int barRows) {
  std::unique_ptr<zint_symbol, void (*)(zint_symbol*)> encoder(ZBarcode_Create(), ZBarcode_Delete);
  if (!encoder) return std::nullopt;
  encoder->symbology = symbology;
  if (ZBarcode_Encode(encoder.get(), reinterpret_cast<const unsigned char*>(data.data()),
                      static_cast<int>(data.size())) >= ZINT_ERROR) {
    return std::nullopt;
  }
  // PDF417 rows are three modules high; a linear code's one row becomes bars.
  const int repeat = encoder->rows == 1 ? barRows : symbology == BARCODE_PDF417 ? 3 : 1;
  SymbolMatrix matrix;
  matrix.rows = encoder->rows * repeat;
  matrix.cols = encoder->width;
  for (int r = 0; r < encoder->rows; ++r) {
    for (int k = 0; k < repeat; ++k) {
      for (int c = 0; c < matrix.cols; ++c) {
        matrix.modules.push_back((encoder->encoded_data[r][c >> 3] & (1 << (c & 7))) != 0 ? 1 : 0);
      }
    }
  }
  return matrix;
}

// Printed text lines, other kinds of barcode, clutter and uneven light, and no Data Matrix anywhere.
ConditionFrame busyNoSymbol(cv::RNG& rng, int /*index*/) {
  struct Kind {
    int symbology;
    const char* name;
  };
  static const Kind KINDS[] = {{BARCODE_QRCODE, "qr"},     {BARCODE_CODE128, "code128"}, {BARCODE_PDF417, "pdf417"},
                               {BARCODE_AZTEC, "aztec"},   {BARCODE_EANX, "ean13"}};
  RenderOptions scene;
  scene.background = static_cast<std::uint8_t>(rng.uniform(150, 225));
  scene.dark = static_cast<std::uint8_t>(rng.uniform(15, 60));
  scene.clutter = rng.uniform(10, 40);
  mildCamera(rng, &scene);
  scene.unevenLight = rng.uniform(0.0, 0.5);
  const double blurSigma = scene.blurSigma, noiseSigma = scene.noiseSigma;
  scene.blurSigma = 0.0;
  scene.noiseSigma = 0.0;

  std::vector<testsupport::PlacedSymbol> codes;
  std::vector<std::pair<cv::Point2d, double>> taken;  // centre and radius of each code with its quiet zone
  std::string name;
  const int wanted = rng.uniform(1, 5);
  for (int i = 0; i < wanted; ++i) {
    const Kind& kind = KINDS[rng.uniform(0, 5)];
    std::string data = kind.symbology == BARCODE_EANX ? randomText(rng, 12) : randomText(rng, rng.uniform(5, 60));
    if (kind.symbology == BARCODE_EANX) {
      for (char& c : data) c = static_cast<char>('0' + static_cast<unsigned char>(c) % 10);
    }
    std::optional<SymbolMatrix> matrix = otherBarcode(kind.symbology, data, rng.uniform(20, 40));
    if (!matrix) continue;
    RenderOptions placement = scene;
    placement.moduleSize = rng.uniform(1.5, 4.0);
    placement.quietZone = matrix->rows > 1 && kind.symbology != BARCODE_CODE128 && kind.symbology != BARCODE_EANX ? 2 : 8;
    placement.rotationDeg = rng.uniform(0.0, 360.0);
    placement.tiltXDeg = rng.uniform(-10.0, 10.0);
    placement.light = static_cast<std::uint8_t>(std::min(255, scene.background + rng.uniform(0, 30)));
    const double radius =
        0.5 * std::hypot(matrix->cols + 2.0 * placement.quietZone, matrix->rows + 2.0 * placement.quietZone) *
        placement.moduleSize * 1.2;
    if (2.0 * radius > FRAME_HEIGHT - 10.0) placement.moduleSize *= (FRAME_HEIGHT - 10.0) / (2.0 * radius);
    const double fitted = std::min(radius, (FRAME_HEIGHT - 10.0) / 2.0);
    for (int attempt = 0; attempt < 20; ++attempt) {
      const cv::Point2d centre(rng.uniform(fitted, FRAME_WIDTH - fitted), rng.uniform(fitted, FRAME_HEIGHT - fitted));
      const bool clear = std::all_of(taken.begin(), taken.end(), [&](const auto& other) {
        return cv::norm(centre - other.first) > fitted + other.second;
      });
      if (!clear) continue;
      placement.centreX = centre.x;
      placement.centreY = centre.y;
      taken.emplace_back(centre, fitted);
      codes.push_back({std::move(*matrix), placement});
      name += std::string(name.empty() ? "" : "+") + kind.name;
      break;
    }
  }
  cv::Mat grey = testsupport::renderSymbols(codes, scene).grey;
  if (grey.empty()) return {};

  static const int FONTS[] = {cv::FONT_HERSHEY_SIMPLEX, cv::FONT_HERSHEY_PLAIN,   cv::FONT_HERSHEY_DUPLEX,
                              cv::FONT_HERSHEY_COMPLEX, cv::FONT_HERSHEY_TRIPLEX, cv::FONT_HERSHEY_COMPLEX_SMALL,
                              cv::FONT_HERSHEY_SCRIPT_SIMPLEX};
  const int lines = rng.uniform(3, 12);
  for (int i = 0; i < lines; ++i) {
    const int font = FONTS[rng.uniform(0, 7)] | (rng.uniform(0, 4) == 0 ? cv::FONT_ITALIC : 0);
    const cv::Point origin(rng.uniform(-40, FRAME_WIDTH - 60), rng.uniform(15, FRAME_HEIGHT - 5));
    cv::putText(grey, randomText(rng, rng.uniform(6, 40)), origin, font, rng.uniform(0.4, 1.5),
                cv::Scalar(rng.uniform(10, 90)), rng.uniform(1, 3), cv::LINE_AA);
  }
  applyCamera(grey, blurSigma, noiseSigma, rng);

  ConditionFrame frame;
  frame.name = (name.empty() ? std::string("no-codes") : name) + " text" + std::to_string(lines) + " clutter" +
               std::to_string(scene.clutter);
  frame.grey = grey;
  frame.hasSymbol = false;
  return frame;
}

using Maker = ConditionFrame (*)(cv::RNG&, int);
struct Condition {
  const char* name;
  Maker maker;
  bool file;
};
constexpr Condition CONDITIONS[] = {
    {"light-on-dark", lightOnDark, false}, {"mirrored", mirrored, false},
    {"dots", dots, false},                 {"eight-rows-2px", eightRows, false},
    {"soft-40x40", soft40, false},         {"shadow-edge", shadowEdge, false},
    {"no-margin files", noMarginFile, true}, {"notched-leg", notchedLeg, false},
    {"busy-no-symbol", busyNoSymbol, false}};

}  // namespace

const std::vector<std::string>& conditionNames() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> list;
    for (const Condition& condition : CONDITIONS) list.emplace_back(condition.name);
    return list;
  }();
  return names;
}

bool conditionIsFile(const std::string& condition) {
  return std::any_of(std::begin(CONDITIONS), std::end(CONDITIONS),
                     [&](const Condition& c) { return c.file && condition == c.name; });
}

ConditionFrame makeConditionFrame(const std::string& condition, int index) {
  for (const Condition& c : CONDITIONS) {
    if (condition == c.name) {
      cv::RNG rng = frameRng(condition, index);
      return c.maker(rng, index);
    }
  }
  return {};
}

}  // namespace labelconditions
