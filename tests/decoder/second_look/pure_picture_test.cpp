// Pictures that are a symbol alone, as encoders write them: no quiet zone, or a margin of one module.
// The file read frames them in a light border and reads them again, or samples the whole picture as one
// symbol. Symbols come from libdmtx and Zint; expected texts are the encoders' input.
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include "decoder/decoder.h"
#include "decoder/second_look/pure_pictures.h"
#include "tests/support/symbol_encoder.h"
#include "tests/support/symbol_renderer.h"

namespace {

using testsupport::EncoderLib;
using testsupport::SymbolMatrix;

// A bitmap as an encoder writes it: each module a square of modulePixels, black on white, with
// marginModules light modules around the symbol (none by default).
cv::Mat encoderBitmap(const SymbolMatrix& symbol, int modulePixels, int marginModules = 0) {
  const int margin = marginModules * modulePixels;
  cv::Mat picture((symbol.rows * modulePixels) + 2 * margin, (symbol.cols * modulePixels) + 2 * margin, CV_8UC1,
                  cv::Scalar(255));
  for (int r = 0; r < symbol.rows; ++r) {
    for (int c = 0; c < symbol.cols; ++c) {
      if (symbol.at(r, c) == 0) continue;
      picture(cv::Rect(margin + c * modulePixels, margin + r * modulePixels, modulePixels, modulePixels)) = 0;
    }
  }
  return picture;
}

// The bitmap scaled by a factor that is not whole, interpolated as image programs scale pictures.
cv::Mat scaled(const cv::Mat& picture, double factor) {
  cv::Mat out;
  cv::resize(picture, out, cv::Size(), factor, factor, cv::INTER_LINEAR);
  return out;
}

struct FileRead {
  int status = -7;
  ScanStep readBy = SCAN_NOTHING_READ;
  std::vector<DecodedSymbol> symbols;
};

FileRead readFile(cv::Mat& grey) {
  FileRead read;
  IplImage ipl = cvIplImage(grey);
  read.status = scanImageEveryMessage(&ipl, &read.symbols, &read.readBy);
  return read;
}

// The symbol's outer corners in the picture, clamped onto it as the read reports them, named upright.
struct TrueCorners {
  cv::Point2d topLeft, topRight, bottomRight, bottomLeft;
};

TrueCorners bitmapCorners(const SymbolMatrix& symbol, int modulePixels, int marginModules, double scale) {
  const double margin = marginModules * modulePixels * scale;
  const double right = margin + symbol.cols * modulePixels * scale - 1.0;
  const double bottom = margin + symbol.rows * modulePixels * scale - 1.0;
  return {{margin, margin}, {right, margin}, {right, bottom}, {margin, bottom}};
}

bool near(CvPoint found, cv::Point2d expected, double tolerance) {
  return std::abs(found.x - expected.x) <= tolerance && std::abs(found.y - expected.y) <= tolerance;
}

// The finder vertex and the corner opposite it where they are; the leg ends, in either order, at the two
// other corners.
bool cornersMatch(const DecodedSymbol& found, const TrueCorners& expected, double tolerance) {
  const bool legsOneWay = near(found.corners[0], expected.topLeft, tolerance) &&
                          near(found.corners[2], expected.bottomRight, tolerance);
  const bool legsOtherWay = near(found.corners[0], expected.bottomRight, tolerance) &&
                            near(found.corners[2], expected.topLeft, tolerance);
  return near(found.corners[3], expected.bottomLeft, tolerance) &&
         near(found.corners[1], expected.topRight, tolerance) && (legsOneWay || legsOtherWay);
}

std::string cornersText(const DecodedSymbol& symbol) {
  std::string text;
  for (const CvPoint& corner : symbol.corners) text += " (" + std::to_string(corner.x) + ", " + std::to_string(corner.y) + ")";
  return text;
}

std::string textOf(const DecodedSymbol& symbol) { return std::string(symbol.message.begin(), symbol.message.end()); }

std::string sizeName(int rows, int cols) { return std::to_string(rows) + "x" + std::to_string(cols); }

// One kind of encoder picture: every listed size at every listed module size.
struct PictureKind {
  const char* name;
  EncoderLib encoder;
  std::vector<std::pair<int, int>> sizes;  // (rows, cols)
  std::vector<int> modulePixels;
  int marginModules;
  double scale;  // 1: the bitmap itself
  bool gs1;
};

std::vector<std::pair<int, int>> squareSizes(int largest) {
  std::vector<std::pair<int, int>> squares;
  for (const auto& size : testsupport::ecc200Sizes()) {
    if (size.first == size.second && size.first <= largest) squares.push_back(size);
  }
  return squares;
}

std::vector<std::pair<int, int>> rectangleSizes() {
  std::vector<std::pair<int, int>> rectangles;
  for (const auto& size : testsupport::ecc200Sizes()) {
    if (size.first != size.second) rectangles.push_back(size);
  }
  return rectangles;
}

std::vector<std::pair<int, int>> someSizes() {
  return {{10, 10}, {16, 16}, {26, 26}, {40, 40}, {64, 64}, {8, 18}, {12, 26}, {16, 48}, {8, 48}, {20, 44}};
}

// Sizes that hold a GTIN and a short batch number.
std::vector<std::pair<int, int>> gs1Sizes() { return {{22, 22}, {32, 32}, {52, 52}, {12, 36}, {8, 64}, {24, 48}}; }

const std::vector<int> EVERY_MODULE_SIZE = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};

std::vector<PictureKind> pictureKinds() {
  return {
      {"ZintSquares", EncoderLib::Zint, squareSizes(144), EVERY_MODULE_SIZE, 0, 1.0, false},
      {"ZintRectangles", EncoderLib::Zint, rectangleSizes(), EVERY_MODULE_SIZE, 0, 1.0, false},
      {"ZintDmre", EncoderLib::Zint, testsupport::dmreSizes(), EVERY_MODULE_SIZE, 0, 1.0, false},
      {"ZintGs1", EncoderLib::Zint, gs1Sizes(), {1, 2, 3, 5, 8}, 0, 1.0, true},
      // libdmtx writes 5-pixel modules by default; its margin cut off.
      {"DmtxMarginRemoved", EncoderLib::Dmtx, squareSizes(132), {1, 2, 5}, 0, 1.0, false},
      {"DmtxRectanglesMarginRemoved", EncoderLib::Dmtx, rectangleSizes(), {1, 2, 5}, 0, 1.0, false},
      {"OneModuleMargin", EncoderLib::Zint, someSizes(), {1, 2, 4, 7}, 1, 1.0, false},
      {"ScaledBy1_5", EncoderLib::Zint, someSizes(), {1, 2, 3, 4}, 0, 1.5, false},
      {"ScaledBy2_7", EncoderLib::Zint, someSizes(), {1, 2, 3}, 0, 2.7, false},
      {"DmreScaledBy2_7", EncoderLib::Zint, testsupport::dmreSizes(), {1}, 0, 2.7, false},
  };
}

void PrintTo(const PictureKind& kind, std::ostream* out) { *out << kind.name; }

std::optional<SymbolMatrix> encode(const PictureKind& kind, const std::string& text, int rows, int cols) {
  if (kind.encoder == EncoderLib::Dmtx) return testsupport::encodeSymbol(text, rows, cols);
  testsupport::ZintFeatures features;
  features.gs1 = kind.gs1;
  return testsupport::encodeZintSymbol(std::vector<std::uint8_t>(text.begin(), text.end()), rows, cols, features);
}

// The symbol's text: its size and module size, or where that does not fit (10 x 10, 8 x 18), its size in
// six digits; GS1 data carries its size in a batch number.
std::string inputFor(const PictureKind& kind, int rows, int cols, int modulePixels) {
  if (kind.gs1) return "[01]09501101530008[10]" + sizeName(rows, cols);
  const std::string label = "PURE " + sizeName(rows, cols) + " " + std::to_string(modulePixels) + "PX";
  if (encode(kind, label, rows, cols).has_value()) return label;
  char digits[8];
  std::snprintf(digits, sizeof(digits), "%03d%03d", rows, cols);
  return digits;
}

// What the symbol says: GS1 bracket syntax becomes element strings, the last one not closed.
std::string expectedText(const PictureKind& kind, const std::string& input) {
  if (!kind.gs1) return input;
  return "0109501101530008" "10" + input.substr(input.find("[10]") + 4);
}

class EncoderPictures : public ::testing::TestWithParam<PictureKind> {};

// Every picture of the kind reads, once, with the encoder's input, and never with another text.
TEST_P(EncoderPictures, EveryPictureReadsWithTheEncodersText) {
  const PictureKind& kind = GetParam();
  int pictures = 0, reads = 0, wrong = 0, readByEarlierSteps = 0, inQuietZone = 0, asPureSymbol = 0;
  int pureSymbolAlone = 0;  // what the sampling of the whole picture reads by itself
  for (const auto& [rows, cols] : kind.sizes) {
    for (const int modulePixels : kind.modulePixels) {
      const std::string label = sizeName(rows, cols) + " " + std::to_string(modulePixels) + "px";
      const std::string input = inputFor(kind, rows, cols, modulePixels);
      const auto symbol = encode(kind, input, rows, cols);
      ASSERT_TRUE(symbol.has_value()) << label;
      ASSERT_EQ(symbol->rows, rows);
      ASSERT_EQ(symbol->cols, cols);
      cv::Mat picture = encoderBitmap(*symbol, modulePixels, kind.marginModules);
      if (kind.scale != 1.0) picture = scaled(picture, kind.scale);
      const FileRead read = readFile(picture);
      ++pictures;
      ASSERT_EQ(read.status, 0) << label;
      for (const DecodedSymbol& found : read.symbols) {
        ++(textOf(found) == expectedText(kind, input) ? reads : wrong);
      }
      if (read.readBy == SCAN_READ_IN_ADDED_QUIET_ZONE) {
        ++inQuietZone;
      } else if (read.readBy == SCAN_READ_AS_PURE_SYMBOL) {
        ++asPureSymbol;
      } else if (read.readBy != SCAN_NOTHING_READ) {
        ++readByEarlierSteps;
      }
      EXPECT_EQ(read.symbols.size(), 1u) << label;
      IplImage ipl = cvIplImage(picture);
      std::vector<DecodedSymbol> alone;
      readPureSymbol(&ipl, &alone);
      for (const DecodedSymbol& found : alone) {
        ++(textOf(found) == expectedText(kind, input) ? pureSymbolAlone : wrong);
      }
      EXPECT_EQ(alone.size(), 1u) << label << " as a pure symbol";
      if (read.symbols.size() == 1) {
        EXPECT_EQ(textOf(read.symbols[0]), expectedText(kind, input)) << label;
        // Within a module (and a pixel of rounding) of where the symbol lies.
        const double tolerance = modulePixels * kind.scale + 1.0;
        EXPECT_TRUE(cornersMatch(read.symbols[0], bitmapCorners(*symbol, modulePixels, kind.marginModules, kind.scale),
                                 tolerance))
            << label << ":" << cornersText(read.symbols[0]);
      }
    }
  }
  // The earlier steps' reads are what the file read gave before it tried pictures without a quiet zone.
  std::printf("%-28s pictures %4d  read %4d (earlier steps %4d, quiet zone %4d, pure symbol %4d)  "
              "pure symbol alone %4d  wrong %d\n",
              kind.name, pictures, reads, readByEarlierSteps, inQuietZone, asPureSymbol, pureSymbolAlone, wrong);
  EXPECT_EQ(wrong, 0);
}

INSTANTIATE_TEST_SUITE_P(Kinds, EncoderPictures, ::testing::ValuesIn(pictureKinds()),
                         [](const ::testing::TestParamInfo<PictureKind>& info) { return info.param.name; });

// Framed in a quiet zone of its own, an encoder's picture without one is read by the scanner's read, and
// the corners come back onto the picture, at its corners.
TEST(PurePictures, AddedQuietZoneLetsTheScannersReadFindTheSymbol) {
  const PictureRead scannersRead = [](IplImage* grey, std::vector<DecodedSymbol>* symbols) {
    return scanImageMessages(grey, symbols);
  };
  // Pictures without a quiet zone, most of which the scanner's read misses as they are: small modules (the
  // enlarged grey picture reads some of them now, and then with the encoder's text).
  struct Case {
    int rows, cols, modulePixels;
  } cases[] = {{10, 10, 3}, {20, 20, 3}, {20, 20, 4}, {88, 88, 3}, {88, 88, 4}, {144, 144, 3},
               {12, 36, 3}, {8, 48, 3},   {8, 48, 4},   {8, 120, 3}, {20, 64, 4}, {20, 64, 7}};
  for (const auto& [rows, cols, modulePixels] : cases) {
    const std::string label = sizeName(rows, cols) + " " + std::to_string(modulePixels) + "px";
    const std::string text = "Q" + std::to_string(rows) + std::to_string(cols);
    const auto symbol = testsupport::encodeZintSymbol(std::vector<std::uint8_t>(text.begin(), text.end()), rows,
                                                      cols, testsupport::ZintFeatures{});
    ASSERT_TRUE(symbol.has_value()) << label;
    cv::Mat picture = encoderBitmap(*symbol, modulePixels);
    IplImage ipl = cvIplImage(picture);
    std::vector<DecodedSymbol> plain;
    ASSERT_EQ(scanImageMessages(&ipl, &plain), 0);
    for (const DecodedSymbol& read : plain) EXPECT_EQ(textOf(read), text) << label << ": read without a quiet zone";
    std::vector<DecodedSymbol> framed;
    ASSERT_EQ(readInAddedQuietZone(&ipl, scannersRead, &framed), SCAN_READ_IN_ADDED_QUIET_ZONE) << label;
    ASSERT_EQ(framed.size(), 1u) << label;
    EXPECT_EQ(textOf(framed[0]), text) << label;
    EXPECT_TRUE(cornersMatch(framed[0], bitmapCorners(*symbol, modulePixels, 0, 1.0), modulePixels))
        << label << ":" << cornersText(framed[0]);
  }
}

// A symbol cut out of a scanned document: grey paper, blurred edges, noise, the cut along its outline or a
// little outside it, where a sliver of paper stays on some sides and none on others.
TEST(PurePictures, SymbolsCutOutOfADocumentRead) {
  struct Cut {
    int rows, cols;
    double moduleSize;
    int left, top, right, bottom;  // paper kept beyond the outline, pixels
  } cuts[] = {
      {12, 12, 3, 0, 0, 0, 0},  {16, 16, 4, 2, 0, 1, 3},  {24, 24, 2, 0, 1, 0, 2}, {32, 32, 5, 5, 5, 0, 0},
      {12, 36, 3, 0, 0, 3, 1},  {16, 48, 2, 1, 1, 1, 1},  {20, 20, 1, 0, 0, 0, 0},
  };
  for (const Cut& cut : cuts) {
    const std::string label = sizeName(cut.rows, cut.cols) + " at " + std::to_string(cut.moduleSize);
    const std::string text = "C" + std::to_string(cut.rows) + std::to_string(cut.cols);
    const auto symbol = testsupport::encodeSymbol(text, cut.rows, cut.cols);
    ASSERT_TRUE(symbol.has_value()) << label;
    testsupport::RenderOptions scan;
    scan.moduleSize = cut.moduleSize;
    scan.centreX = 319.5;  // module edges between pixels
    scan.centreY = 239.5;
    scan.dark = 45;
    scan.light = 205;
    scan.background = 205;
    scan.blurSigma = 0.5;
    scan.noiseSigma = 4.0;
    scan.seed = static_cast<std::uint32_t>(cut.rows * 1000 + cut.cols);
    const testsupport::RenderedSymbol page = testsupport::renderSymbol(*symbol, scan);
    ASSERT_FALSE(page.grey.empty()) << label;
    const int x0 = static_cast<int>(std::lround(page.corners.verticalLegEnd.x + 0.5)) - cut.left;
    const int y0 = static_cast<int>(std::lround(page.corners.verticalLegEnd.y + 0.5)) - cut.top;
    const int x1 = static_cast<int>(std::lround(page.corners.horizontalLegEnd.x - 0.5)) + cut.right;
    const int y1 = static_cast<int>(std::lround(page.corners.horizontalLegEnd.y - 0.5)) + cut.bottom;
    cv::Mat picture = page.grey(cv::Rect(x0, y0, x1 - x0 + 1, y1 - y0 + 1)).clone();
    const FileRead read = readFile(picture);
    ASSERT_EQ(read.symbols.size(), 1u) << label;
    EXPECT_EQ(textOf(read.symbols[0]), text) << label;
  }
}

// Each quarter turn of a picture of one symbol reads, the finder vertex on the corner the turn took it to.
TEST(PurePictures, EveryQuarterTurnReadsWithTheFinderWhereItWent) {
  for (const auto& [rows, cols] : std::vector<std::pair<int, int>>{{14, 14}, {12, 26}, {8, 64}}) {
    const std::string text = "TURN " + sizeName(rows, cols);
    const auto symbol = testsupport::encodeZintSymbol(std::vector<std::uint8_t>(text.begin(), text.end()), rows,
                                                      cols, testsupport::ZintFeatures{});
    ASSERT_TRUE(symbol.has_value());
    const cv::Mat upright = encoderBitmap(*symbol, 1);
    const std::pair<int, cv::Point> turns[] = {
        {-1, {0, upright.rows - 1}},
        {cv::ROTATE_90_CLOCKWISE, {0, 0}},
        {cv::ROTATE_180, {upright.cols - 1, 0}},
        {cv::ROTATE_90_COUNTERCLOCKWISE, {upright.rows - 1, upright.cols - 1}},
    };
    for (const auto& [turn, vertex] : turns) {
      const std::string label = sizeName(rows, cols) + " turn " + std::to_string(turn);
      cv::Mat picture = upright.clone();
      if (turn >= 0) cv::rotate(upright, picture, turn);
      IplImage ipl = cvIplImage(picture);
      std::vector<DecodedSymbol> symbols;
      ASSERT_EQ(readPureSymbol(&ipl, &symbols), SCAN_READ_AS_PURE_SYMBOL) << label;
      ASSERT_EQ(symbols.size(), 1u) << label;
      EXPECT_EQ(textOf(symbols[0]), text) << label;
      EXPECT_EQ(symbols[0].corners[3].x, vertex.x) << label;
      EXPECT_EQ(symbols[0].corners[3].y, vertex.y) << label;
    }
  }
}

// Pictures that hold no symbol give nothing, whatever their size: noise, strokes like text, checks and
// stripes that alternate as timing edges do, crops of the renderer's clutter, a finder L and timing edges
// around modules that are no code, and a symbol whose every data module is flipped.
TEST(PurePictures, PicturesWithoutASymbolGiveNothing) {
  std::mt19937 random(20261211);
  std::vector<std::pair<std::string, cv::Mat>> pictures;
  for (const int side : {1, 2, 7, 10, 12, 18, 24, 40, 80, 144, 201}) {
    cv::Mat noise(side, side + (side % 3), CV_8UC1);
    cv::randu(noise, 0, 256);
    pictures.emplace_back("noise " + std::to_string(side), noise);
    cv::Mat coarse;
    cv::resize(noise, coarse, cv::Size(), 4, 4, cv::INTER_NEAREST);
    cv::threshold(coarse, coarse, 127, 255, cv::THRESH_BINARY);
    pictures.emplace_back("binary noise blocks " + std::to_string(side), coarse);
  }
  for (const int cell : {1, 2, 5}) {
    cv::Mat checks(20 * cell, 20 * cell, CV_8UC1), stripes(16 * cell, 48 * cell, CV_8UC1);
    for (int y = 0; y < checks.rows; ++y) {
      for (int x = 0; x < checks.cols; ++x) checks.at<std::uint8_t>(y, x) = ((x / cell + y / cell) % 2) * 255;
    }
    for (int y = 0; y < stripes.rows; ++y) {
      for (int x = 0; x < stripes.cols; ++x) stripes.at<std::uint8_t>(y, x) = ((x / cell) % 2) * 255;
    }
    pictures.emplace_back("checks " + std::to_string(cell), checks);
    pictures.emplace_back("stripes " + std::to_string(cell), stripes);
  }
  for (const double scale : {0.4, 0.8, 1.5}) {
    cv::Mat text(static_cast<int>(60 * scale) + 1, static_cast<int>(300 * scale) + 1, CV_8UC1, cv::Scalar(250));
    cv::putText(text, "Lot 4711 exp 2027", {0, text.rows - 2}, cv::FONT_HERSHEY_SIMPLEX, scale, cv::Scalar(10), 2);
    pictures.emplace_back("text " + std::to_string(scale), text);
    cv::Mat square(static_cast<int>(100 * scale), static_cast<int>(100 * scale), CV_8UC1, cv::Scalar(250));
    cv::putText(square, "L", {0, square.rows - 1}, cv::FONT_HERSHEY_SIMPLEX, 3.2 * scale, cv::Scalar(10), 6);
    pictures.emplace_back("letter L " + std::to_string(scale), square);
  }
  for (std::uint32_t seed = 1; seed <= 6; ++seed) {
    testsupport::RenderOptions scene;
    scene.clutter = 40;
    scene.seed = seed;
    scene.noiseSigma = 3.0;
    const cv::Mat photo = testsupport::renderSymbols({}, scene).grey;
    ASSERT_FALSE(photo.empty());
    const int side = 40 + static_cast<int>(seed) * 30;
    const int x = static_cast<int>(random() % static_cast<unsigned>(photo.cols - side));
    const int y = static_cast<int>(random() % static_cast<unsigned>(photo.rows - side));
    pictures.emplace_back("clutter " + std::to_string(seed), photo(cv::Rect(x, y, side, side)).clone());
    pictures.emplace_back("whole clutter " + std::to_string(seed), photo);
  }
  for (const auto& [rows, cols] : std::vector<std::pair<int, int>>{{10, 10}, {24, 24}, {8, 32}, {16, 64}}) {
    SymbolMatrix frame;
    frame.rows = rows;
    frame.cols = cols;
    frame.modules.assign(static_cast<size_t>(rows) * cols, 0);
    const auto real = testsupport::encodeZintSymbol({'N', 'O'}, rows, cols, testsupport::ZintFeatures{});
    ASSERT_TRUE(real.has_value());
    SymbolMatrix flipped = *real;
    for (int r = 0; r < rows; ++r) {
      for (int c = 0; c < cols; ++c) {
        const bool edge = r == 0 || c == 0 || r == rows - 1 || c == cols - 1;
        const size_t at = static_cast<size_t>(r) * cols + c;
        frame.modules[at] = edge ? real->modules[at] : static_cast<std::uint8_t>(random() % 2);
        if (!edge) flipped.modules[at] ^= 1;
      }
    }
    for (const int modulePixels : {1, 3}) {
      pictures.emplace_back("frame without code " + sizeName(rows, cols), encoderBitmap(frame, modulePixels));
      pictures.emplace_back("data flipped " + sizeName(rows, cols), encoderBitmap(flipped, modulePixels));
    }
  }
  for (auto& [name, picture] : pictures) {
    const FileRead read = readFile(picture);  // a picture of a pixel or two is refused (-1)
    EXPECT_EQ(read.readBy, SCAN_NOTHING_READ) << name;
    for (const DecodedSymbol& symbol : read.symbols) ADD_FAILURE() << name << " read " << textOf(symbol);
  }
}

// Pictures the earlier steps read give what they gave before: the same step, symbols, corners and texts.
// The values were taken from the file read as it was before it tried pictures without a quiet zone.
TEST(PurePictures, PicturesTheEarlierStepsReadGiveWhatTheyGaveBefore) {
  const auto camera = testsupport::encodeSymbol("CAMERA 16", 16, 16);
  const auto exact = testsupport::encodeSymbol("EXACT 18", 18, 18);
  const auto wide = testsupport::encodeZintSymbol({'W', 'I', 'D', 'E'}, 12, 36, testsupport::ZintFeatures{});
  ASSERT_TRUE(camera.has_value() && exact.has_value() && wide.has_value());
  testsupport::RenderOptions cameraLike;
  cameraLike.moduleSize = 6;
  cameraLike.rotationDeg = 12;
  cameraLike.clutter = 6;
  testsupport::PlacedSymbol first{*exact, cameraLike}, second{*wide, cameraLike};
  first.placement.centreX = 160;
  first.placement.centreY = 200;
  second.placement.rotationDeg = -7;
  second.placement.centreX = 430;
  second.placement.centreY = 300;
  struct Expected {
    std::string text;
    std::array<CvPoint, 4> corners;
  };
  struct Case {
    const char* name;
    cv::Mat picture;
    ScanStep readBy;
    std::vector<Expected> symbols;
  } cases[] = {
      {"camera picture", testsupport::renderSymbol(*camera, cameraLike).grey, SCAN_READ_BY_GLOBAL_PASS,
       {{"CAMERA 16", {{{283, 184}, {375, 204}, {355, 296}, {263, 276}}}}}},
      {"encoder picture with its margin", encoderBitmap(*exact, 4, 2), SCAN_READ_BY_SMALL_SYMBOL,
       {{"EXACT 18", {{{8, 10}, {78, 9}, {77, 79}, {8, 79}}}}}},
      {"two symbols", testsupport::renderSymbols({first, second}, cameraLike).grey, SCAN_READ_BY_GLOBAL_PASS,
       {{"WIDE", {{{319, 279}, {533, 255}, {538, 322}, {327, 346}}}},
        {"EXACT 18", {{{118, 139}, {223, 160}, {199, 262}, {97, 241}}}}}},
  };
  for (Case& c : cases) {
    ASSERT_FALSE(c.picture.empty()) << c.name;
    const FileRead read = readFile(c.picture);
    EXPECT_EQ(read.readBy, c.readBy) << c.name;
    ASSERT_EQ(read.symbols.size(), c.symbols.size()) << c.name;
    for (size_t i = 0; i < c.symbols.size(); ++i) {
      EXPECT_EQ(textOf(read.symbols[i]), c.symbols[i].text) << c.name;
      for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(read.symbols[i].corners[k].x, c.symbols[i].corners[k].x) << c.name << " corner " << k;
        EXPECT_EQ(read.symbols[i].corners[k].y, c.symbols[i].corners[k].y) << c.name << " corner " << k;
      }
    }
  }
}

}  // namespace
