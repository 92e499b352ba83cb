// The whole read: which pass's results come back, when the second look runs, what it reads and what its
// guards refuse. Symbols come from an independent encoder; expected texts are the encoder's input.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/ecc200_matrix.h"
#include "tests/support/rewritten_padding.h"
#include "decoder/decoder.h"
#include "decoder/ecc200/ecc200.h"
#include "decoder/second_look/second_look.h"
#include "tests/support/symbol_encoder.h"
#include "tests/support/symbol_renderer.h"

namespace {

struct PassOutput {
  int status = 0;
  int count = 0;
  DecodeResult results[DECODE_MAX_RESULTS];
};

PassOutput runPass(cv::Mat& grey, const ScanPass& pass) {
  PassOutput out;
  std::memset(out.results, 0, sizeof(out.results));
  IplImage ipl = cvIplImage(grey);
  out.status = decodeImage(&ipl, out.results, &out.count, pass.threshold, pass.flags);
  return out;
}

struct ScanOutput {
  int status = 0;
  int count = -7;
  ScanStep readBy = SCAN_NOTHING_READ;
  DecodeResult results[DECODE_MAX_RESULTS];
};

ScanOutput scan(cv::Mat& grey) {
  ScanOutput out;
  std::memset(out.results, 0, sizeof(out.results));
  IplImage ipl = cvIplImage(grey);
  out.status = scanImage(&ipl, out.results, &out.count, &out.readBy);
  return out;
}

cv::Mat renderText(const std::string& text, int rows, int cols, const testsupport::RenderOptions& options) {
  const auto symbol = testsupport::encodeSymbol(text, rows, cols);
  EXPECT_TRUE(symbol.has_value()) << text;
  if (!symbol) return {};
  return testsupport::renderSymbol(*symbol, options).grey;
}

// An encoder's picture: axis-aligned, whole pixels per module, no blur, edges on pixel boundaries.
testsupport::RenderOptions pixelExact(int moduleSize) {
  testsupport::RenderOptions options;
  options.imageWidth = 1280;
  options.imageHeight = 1024;
  options.moduleSize = moduleSize;
  options.centreX = 639.5;  // an even number of modules puts every module edge between two pixels
  options.centreY = 511.5;
  return options;
}

// When the global pass reads, the whole read returns exactly its results; when only the adaptive pass
// reads, exactly the adaptive pass's results. The second look never runs on such frames.
TEST(WholeRead, ReturnsThePassThatReadExactlyAsDecodeImageGivesIt) {
  testsupport::RenderOptions clean;
  clean.moduleSize = 6;
  clean.rotationDeg = 17;
  clean.clutter = 8;
  cv::Mat globalFrame = renderText("GLOBAL PASS", 16, 16, clean);
  const PassOutput global = runPass(globalFrame, SCAN_GLOBAL_PASS);
  ASSERT_GT(global.count, 0);
  ScanOutput whole = scan(globalFrame);
  EXPECT_EQ(whole.status, 0);
  EXPECT_EQ(whole.readBy, SCAN_READ_BY_GLOBAL_PASS);
  ASSERT_EQ(whole.count, global.count);
  EXPECT_EQ(std::memcmp(whole.results, global.results, sizeof(whole.results)), 0);

  // A shadow over the right half of the picture defeats the one global level, not the adaptive one.
  testsupport::RenderOptions shadowed;
  shadowed.moduleSize = 6;
  shadowed.rotationDeg = 10;
  cv::Mat adaptiveFrame = renderText("ADAPTIVE", 18, 18, shadowed);
  adaptiveFrame.colRange(320, adaptiveFrame.cols) *= 0.6;
  ASSERT_EQ(runPass(adaptiveFrame, SCAN_GLOBAL_PASS).count, 0);
  const PassOutput adaptive = runPass(adaptiveFrame, SCAN_ADAPTIVE_PASS);
  ASSERT_GT(adaptive.count, 0);
  whole = scan(adaptiveFrame);
  EXPECT_EQ(whole.readBy, SCAN_READ_BY_ADAPTIVE_PASS);
  ASSERT_EQ(whole.count, adaptive.count);
  EXPECT_EQ(std::memcmp(whole.results, adaptive.results, sizeof(whole.results)), 0);
}

// A uniform frame fails the global pass (no contour at all) and gives the adaptive pass nothing: the
// whole read has run and found nothing.
TEST(WholeRead, UniformFrameReadsNothingAfterTheGlobalPassFails) {
  cv::Mat grey(120, 160, CV_8UC1, cv::Scalar(140));
  ASSERT_EQ(runPass(grey, SCAN_GLOBAL_PASS).status, -1);
  const ScanOutput whole = scan(grey);
  EXPECT_EQ(whole.status, 0);
  EXPECT_EQ(whole.count, 0);
  EXPECT_EQ(whole.readBy, SCAN_NOTHING_READ);
  std::vector<DecodedSymbol> symbols;
  IplImage ipl = cvIplImage(grey);
  EXPECT_EQ(scanImageMessages(&ipl, &symbols), 0);
  EXPECT_TRUE(symbols.empty());
}

TEST(WholeRead, RefusesUnusableImagesWithoutTouchingOutputs) {
  cv::Mat colour(40, 40, CV_8UC3, cv::Scalar(1, 2, 3));
  IplImage colourIpl = cvIplImage(colour);
  IplImage* images[] = {nullptr, &colourIpl};
  for (IplImage* image : images) {
    DecodeResult results[DECODE_MAX_RESULTS];
    std::memset(results, 0x5a, sizeof(results));
    int count = -7;
    ScanStep readBy = SCAN_READ_BY_RETRY;
    EXPECT_EQ(scanImage(image, results, &count, &readBy), -1);
    EXPECT_EQ(count, -7);
    EXPECT_EQ(readBy, SCAN_READ_BY_RETRY);
    EXPECT_EQ(static_cast<unsigned char>(results[0].text[0]), 0x5a);
    std::vector<DecodedSymbol> symbols(1);
    EXPECT_EQ(scanImageMessages(image, &symbols), -1);
    EXPECT_EQ(symbols.size(), 1u);
  }
}

// Encoder-style pictures that both passes miss: the leg-end step of the passes lands between modules,
// or the 5-pixel outline of a small symbol is too plain for the finder test.
TEST(SecondLook, ReadsEncoderPicturesBothPassesMiss) {
  struct Case {
    int rows, cols, moduleSize;
  } cases[] = {{14, 14, 3}, {16, 16, 7}, {18, 18, 6}, {26, 26, 4}, {52, 52, 4}};
  for (const Case& c : cases) {
    const std::string text = "LOOK " + std::to_string(c.rows) + "@" + std::to_string(c.moduleSize);
    const std::string name = std::to_string(c.rows) + "x" + std::to_string(c.cols) + " at " +
                             std::to_string(c.moduleSize) + " px";
    cv::Mat grey = renderText(text, c.rows, c.cols, pixelExact(c.moduleSize));
    ASSERT_FALSE(grey.empty()) << name;
    ASSERT_EQ(runPass(grey, SCAN_GLOBAL_PASS).count, 0) << name;
    ASSERT_EQ(runPass(grey, SCAN_ADAPTIVE_PASS).count, 0) << name;
    const ScanOutput whole = scan(grey);
    ASSERT_EQ(whole.count, 1) << name;
    EXPECT_EQ(std::string(whole.results[0].text), text) << name;
    EXPECT_GE(whole.readBy, SCAN_READ_BY_RETRY) << name;

    std::vector<DecodedSymbol> symbols;
    IplImage ipl = cvIplImage(grey);
    ASSERT_EQ(scanImageMessages(&ipl, &symbols), 0) << name;
    ASSERT_EQ(symbols.size(), 1u) << name;
    EXPECT_EQ(std::string(symbols[0].message.begin(), symbols[0].message.end()), text) << name;
  }
}

// A symbol whose encoder wrote plain bytes after its first pad: the passes refuse it by the standard's
// padding rule and read nothing; the second look reads it, its codewords being exactly as encoded.
TEST(SecondLook, ReadsASymbolWhosePadsAreNotRandomisedWhenNothingNeedsCorrecting) {
  const struct {
    const char* text;
    int rows, cols;
    double moduleSize, rotationDeg;
  } cases[] = {{"PAD 1", 16, 16, 6, 0}, {"PAD 2", 22, 22, 5, 17}, {"P3", 12, 26, 6, -8}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const ecc200test::PaddedSymbol made = ecc200test::symbolWithPadding(c.text, c.rows, c.cols, 129);
    ASSERT_NE(made.symbol, nullptr);
    testsupport::RenderOptions options;
    options.moduleSize = c.moduleSize;
    options.rotationDeg = c.rotationDeg;
    options.noiseSigma = 3;
    cv::Mat grey = testsupport::renderSymbol(made.whole, options).grey;
    ASSERT_FALSE(grey.empty());
    EXPECT_EQ(runPass(grey, SCAN_GLOBAL_PASS).count, 0);
    EXPECT_EQ(runPass(grey, SCAN_ADAPTIVE_PASS).count, 0);
    const ScanOutput whole = scan(grey);
    ASSERT_EQ(whole.count, 1);
    EXPECT_EQ(std::string(whole.results[0].text), c.text);
    EXPECT_GE(whole.readBy, SCAN_READ_BY_RETRY);
  }
}

// A small symbol turned off the axes whose data leaves its finder L nearly bare: its outline fills little of
// its bounding box, and the more so the more it is turned. Clean frames, no blur, no noise.
TEST(SecondLook, ReadsTurnedSmallSymbolsWhoseOutlineIsLittleMoreThanTheL) {
  const std::string text = "CORNERS";
  const double angles[] = {30.0, 45.0, 55.0, 60.0, 65.0, 210.0, 235.0};
  for (const double angle : angles) {
    testsupport::RenderOptions options;
    options.moduleSize = 6.0;
    options.rotationDeg = angle;
    cv::Mat grey = renderText(text, 14, 14, options);
    ASSERT_FALSE(grey.empty()) << angle;
    const ScanOutput whole = scan(grey);
    ASSERT_EQ(whole.count, 1) << angle << " degrees";
    EXPECT_EQ(std::string(whole.results[0].text), text) << angle << " degrees";
  }
}

// Camera pictures of large symbols: the passes step the leg ends in by a pixel per hundred pixels of leg,
// which at 3 to 4 pixels per module skips a whole module; the retry steps in by half the finder bar.
TEST(SecondLook, ReadsLargeSymbolsAtFewPixelsPerModule) {
  struct Case {
    int size;
    double moduleSize, rotation, tilt, blur;
  } cases[] = {{88, 3.4, 295.0, -10.0, 0.8}};
  for (const Case& c : cases) {
    const std::string text = "LARGE " + std::to_string(c.size);
    testsupport::RenderOptions options;
    options.moduleSize = c.moduleSize;
    options.rotationDeg = c.rotation;
    options.tiltYDeg = c.tilt;
    options.blurSigma = c.blur;
    options.noiseSigma = 2.0;
    cv::Mat grey = renderText(text, c.size, c.size, options);
    ASSERT_FALSE(grey.empty()) << c.size;
    ASSERT_EQ(runPass(grey, SCAN_GLOBAL_PASS).count, 0) << c.size;
    ASSERT_EQ(runPass(grey, SCAN_ADAPTIVE_PASS).count, 0) << c.size;
    const ScanOutput whole = scan(grey);
    ASSERT_EQ(whole.count, 1) << c.size;
    EXPECT_EQ(std::string(whole.results[0].text), text) << c.size;
    EXPECT_EQ(whole.readBy, SCAN_READ_BY_RETRY) << c.size;
  }
}

// Camera pictures where the located candidate's 5-pixel polygon puts a corner off the symbol's: the
// retry and the perspective read fail from it, and read once the same outline is approximated finely.
TEST(SecondLook, ReadsFromTheFinerOutlineOfALocatedCandidate) {
  struct Case {
    const char* text;
    int rows, cols, quietZone;
    double moduleSize, centreX, centreY, rotation, tiltX, tiltY, blur, noise;
    int dark, light, background;
    double unevenLight;
    int clutter;
    std::uint32_t seed;
  } cases[] = {
      {"lTQHLg4)SndU0i3b9r", 24, 24, 3, 3.0135, 566.35, 250.26, 169.58, 17.54, 1.83, 0.97, 2.08, 28, 204, 158, 0.50, 15,
       1070877971u},
      {"t4IG:CQz#", 8, 32, 2, 11.5903, 269.49, 244.06, 350.92, -4.07, -15.54, 0.0, 1.59, 83, 140, 140, 0.59, 0,
       988960129u},
  };
  for (const Case& c : cases) {
    testsupport::RenderOptions options;
    options.moduleSize = c.moduleSize;
    options.quietZone = c.quietZone;
    options.centreX = c.centreX;
    options.centreY = c.centreY;
    options.rotationDeg = c.rotation;
    options.tiltXDeg = c.tiltX;
    options.tiltYDeg = c.tiltY;
    options.blurSigma = c.blur;
    options.noiseSigma = c.noise;
    options.dark = static_cast<std::uint8_t>(c.dark);
    options.light = static_cast<std::uint8_t>(c.light);
    options.background = static_cast<std::uint8_t>(c.background);
    options.unevenLight = c.unevenLight;
    options.clutter = c.clutter;
    options.seed = c.seed;
    cv::Mat grey = renderText(c.text, c.rows, c.cols, options);
    ASSERT_FALSE(grey.empty()) << c.text;
    ASSERT_EQ(runPass(grey, SCAN_GLOBAL_PASS).count, 0) << c.text;
    ASSERT_EQ(runPass(grey, SCAN_ADAPTIVE_PASS).count, 0) << c.text;
    const ScanOutput whole = scan(grey);
    ASSERT_EQ(whole.count, 1) << c.text;
    EXPECT_EQ(std::string(whole.results[0].text), c.text);
  }
}

// Frames of clutter alone (bars, blobs, text-like strokes), at the benchmark's sizes: no text at all.
TEST(SecondLook, ClutterAloneGivesNoText) {
  const cv::Size sizes[] = {{640, 480}, {1280, 720}};
  for (const cv::Size size : sizes) {
    for (std::uint32_t seed = 1; seed <= 15; ++seed) {
      testsupport::RenderOptions scene;
      scene.imageWidth = size.width;
      scene.imageHeight = size.height;
      scene.clutter = 40;
      scene.noiseSigma = 3;
      scene.seed = seed;
      cv::Mat grey = testsupport::renderSymbols({}, scene).grey;
      ASSERT_FALSE(grey.empty());
      const ScanOutput whole = scan(grey);
      EXPECT_EQ(whole.count, 0) << size << " seed " << seed << ": " << whole.results[0].text;
    }
  }
}

// The guards on the data: a matrix Reed-Solomon can still mend but only with more than half of a block's
// capacity is refused, and so is one whose finder L is not dark.
TEST(SecondLookGuards, RefuseCostlyCorrectionsAndALightFinder) {
  const std::string text = "GUARDED READ 2024";
  const auto symbol = testsupport::encodeSymbol(text, 24, 24);
  ASSERT_TRUE(symbol.has_value());
  const std::vector<std::uint8_t> clean = ecc200test::moduleMatrixOf(*symbol);
  const Ecc200Symbol& size = *findEcc200Symbol(24, 24);
  const std::vector<int>& modules = ecc200CodewordModules(size);
  const int capacity = ecc200BlockEccLength(size) / 2;
  const std::vector<int> positions = ecc200test::blockPositions(size, 0);

  struct Case {
    const char* name;
    int corruptedCodewords;
    bool lightFinder;
    bool reads;
  } cases[] = {
      {"clean", 0, false, true},
      {"half the capacity", capacity / 2, false, true},
      {"over half the capacity", capacity / 2 + 1, false, false},
      {"full capacity", capacity, false, false},
      {"light finder column", 0, true, false},
  };
  for (const Case& c : cases) {
    std::vector<std::uint8_t> matrix = clean;
    for (int k = 0; k < c.corruptedCodewords; ++k) {
      ecc200test::corruptCodeword(&matrix, modules, positions[static_cast<size_t>(k)], 0x5a);
    }
    if (c.lightFinder) {
      for (int row = 0; row < 23; row += 3) matrix[static_cast<size_t>(row) * 23] = 0;  // 8 of 23 light
    }
    std::vector<std::uint8_t> plain;
    EXPECT_EQ(decodeEcc200(matrix.data(), 24, 24, &plain), c.corruptedCodewords <= capacity) << c.name;
    Ecc200Message message;
    EXPECT_EQ(decodeGuarded(matrix.data(), 24, 24, &message), c.reads) << c.name;
    if (c.reads) {
      EXPECT_EQ(std::string(message.bytes.begin(), message.bytes.end()), text) << c.name;
    }
  }
}

}  // namespace

namespace {

// A symbol whose message carries function codewords, as Zint writes them on request, and what the
// whole read must report beside the bytes.
struct MeaningCase {
  const char* name;
  std::string message;  // as given to the encoder (UTF-8 text for the ECI case)
  testsupport::ZintFeatures features;
  std::string expectedBytes;
  std::vector<Ecc200EciMark> expectedEcis;
  Ecc200Fnc1 expectedFnc1;
  int expectedAppendPosition;  // 0: no structured append header
  int expectedAppendCount;
};

std::vector<MeaningCase> meaningCases() {
  testsupport::ZintFeatures utf8;
  utf8.eci = 26;
  utf8.utf8Input = true;
  testsupport::ZintFeatures latin2;
  latin2.eci = 4;
  latin2.utf8Input = true;
  testsupport::ZintFeatures gs1;
  gs1.gs1 = true;
  testsupport::ZintFeatures append;
  append.appendIndex = 2;
  append.appendCount = 3;
  return {
      {"UTF-8 by ECI 26", "Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC", utf8, "Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC",
       {{26, 0}}, Ecc200Fnc1::None, 0, 0},
      {"ISO 8859-2 by ECI 4", "\xC5\x81\xC3\xB3" "d\xC5\xBA", latin2, "\xA3\xF3" "d\xBC", {{4, 0}},
       Ecc200Fnc1::None, 0, 0},
      {"GS1", "[01]09501101530008[17]260101", gs1, "010950110153000817260101", {}, Ecc200Fnc1::FirstPosition,
       0, 0},
      {"structured append 2 of 3", "PART TWO", append, "PART TWO", {}, Ecc200Fnc1::None, 2, 3},
  };
}

void expectMeaning(const MeaningCase& c, const std::string& how, const Ecc200Meaning& meaning) {
  ASSERT_EQ(meaning.ecis.size(), c.expectedEcis.size()) << c.name << how;
  for (size_t i = 0; i < c.expectedEcis.size(); ++i) {
    EXPECT_EQ(meaning.ecis[i].designator, c.expectedEcis[i].designator) << c.name << how;
    EXPECT_EQ(meaning.ecis[i].byteOffset, c.expectedEcis[i].byteOffset) << c.name << how;
  }
  EXPECT_EQ(meaning.fnc1, c.expectedFnc1) << c.name << how;
  EXPECT_EQ(meaning.structuredAppend.has_value(), c.expectedAppendPosition != 0) << c.name << how;
  if (meaning.structuredAppend && c.expectedAppendPosition != 0) {
    EXPECT_EQ(meaning.structuredAppend->position, c.expectedAppendPosition) << c.name << how;
    EXPECT_EQ(meaning.structuredAppend->count, c.expectedAppendCount) << c.name << how;
  }
}

// Reads the picture both ways and checks bytes, meaning and the step that read.
void expectMeaningsComeBack(const MeaningCase& c, cv::Mat& grey, bool bySecondLook) {
  const std::string how = bySecondLook ? " (second look)" : " (passes)";
  DecodeResult results[DECODE_MAX_RESULTS];
  Ecc200Meaning meanings[DECODE_MAX_RESULTS];
  int count = 0;
  ScanStep readBy = SCAN_NOTHING_READ;
  IplImage ipl = cvIplImage(grey);
  ASSERT_EQ(scanImage(&ipl, results, &count, &readBy, meanings), 0) << c.name << how;
  ASSERT_EQ(count, 1) << c.name << how;
  EXPECT_EQ(std::string(results[0].text), c.expectedBytes) << c.name << how;
  EXPECT_EQ(readBy >= SCAN_READ_BY_RETRY, bySecondLook) << c.name << how << " read by " << readBy;
  expectMeaning(c, how, meanings[0]);

  std::vector<DecodedSymbol> symbols;
  ASSERT_EQ(scanImageMessages(&ipl, &symbols), 0) << c.name << how;
  ASSERT_EQ(symbols.size(), 1u) << c.name << how;
  EXPECT_EQ(std::string(symbols[0].message.begin(), symbols[0].message.end()), c.expectedBytes) << c.name << how;
  expectMeaning(c, how, symbols[0].meaning);
}

// The character set, GS1 and structured-append codewords reach the caller from every step that reads:
// a camera-like picture the global pass reads, and an encoder's pixel-exact picture only the second
// look reads.
TEST(WholeReadMeaning, EachStepKeepsWhatTheMessageMeans) {
  for (const MeaningCase& c : meaningCases()) {
    const auto symbol = testsupport::encodeZintSymbol(
        std::vector<std::uint8_t>(c.message.begin(), c.message.end()), 18, 18, c.features);
    ASSERT_TRUE(symbol.has_value()) << c.name;

    testsupport::RenderOptions camera;
    camera.moduleSize = 6;
    camera.rotationDeg = 17;
    camera.clutter = 4;
    cv::Mat cameraPicture = testsupport::renderSymbol(*symbol, camera).grey;
    expectMeaningsComeBack(c, cameraPicture, false);

    cv::Mat encoderPicture = testsupport::renderSymbol(*symbol, pixelExact(6)).grey;
    expectMeaningsComeBack(c, encoderPicture, true);
  }
}

// A meaning slot stays as it was when the image cannot be read at all, and only the valid results'
// slots are written.
TEST(WholeReadMeaning, LeavesMeaningsAloneOnRefusalAndPastTheCount) {
  Ecc200Meaning meanings[DECODE_MAX_RESULTS];
  for (Ecc200Meaning& m : meanings) m.readerProgramming = true;  // a marker no read here sets
  DecodeResult results[DECODE_MAX_RESULTS];
  int count = -7;
  EXPECT_EQ(scanImage(nullptr, results, &count, nullptr, meanings), -1);
  EXPECT_EQ(count, -7);
  for (const Ecc200Meaning& m : meanings) EXPECT_TRUE(m.readerProgramming);

  cv::Mat grey = renderText("ONE SYMBOL", 16, 16, testsupport::RenderOptions{});
  IplImage ipl = cvIplImage(grey);
  ASSERT_EQ(scanImage(&ipl, results, &count, nullptr, meanings), 0);
  ASSERT_EQ(count, 1);
  EXPECT_FALSE(meanings[0].readerProgramming);
  for (int i = 1; i < DECODE_MAX_RESULTS; ++i) EXPECT_TRUE(meanings[i].readerProgramming) << i;
}

// A file's whole read: a picture where the global pass reads one label and misses the other, an
// encoder's pixel-exact picture that a later step reads. The scanner's read stops at the first step; the file's read runs every step and keeps both,
// each once.
TEST(WholeReadEveryMessage, EveryStepAddsTheSymbolsTheOthersMissed) {
  const auto camera = testsupport::encodeSymbol("CAMERA LABEL", 16, 16);
  const auto exact = testsupport::encodeSymbol("LOOK 18@6", 18, 18);
  ASSERT_TRUE(camera.has_value() && exact.has_value());
  testsupport::PlacedSymbol cameraLike{*camera, testsupport::RenderOptions{}};
  cameraLike.placement.moduleSize = 6;
  cameraLike.placement.rotationDeg = 17;
  cameraLike.placement.centreX = 300;
  cameraLike.placement.centreY = 260;
  testsupport::PlacedSymbol encoderLike{*exact, pixelExact(6)};
  encoderLike.placement.centreX = 899.5;  // whole pixels per module, edges between pixels
  encoderLike.placement.centreY = 599.5;
  testsupport::RenderOptions scene = pixelExact(6);
  cv::Mat grey = testsupport::renderSymbols({cameraLike, encoderLike}, scene).grey;
  ASSERT_FALSE(grey.empty());
  IplImage ipl = cvIplImage(grey);

  std::vector<DecodedSymbol> scanner;
  ScanStep scannerStep = SCAN_NOTHING_READ;
  ASSERT_EQ(scanImageMessages(&ipl, &scanner, &scannerStep), 0);
  ASSERT_EQ(scanner.size(), 1u);
  EXPECT_EQ(scannerStep, SCAN_READ_BY_GLOBAL_PASS);

  std::vector<DecodedSymbol> every;
  ScanStep firstStep = SCAN_NOTHING_READ;
  ASSERT_EQ(scanImageEveryMessage(&ipl, &every, &firstStep), 0);
  EXPECT_EQ(firstStep, SCAN_READ_BY_GLOBAL_PASS);
  std::vector<std::string> texts;
  for (const DecodedSymbol& symbol : every) texts.emplace_back(symbol.message.begin(), symbol.message.end());
  std::sort(texts.begin(), texts.end());
  EXPECT_EQ(texts, (std::vector<std::string>{"CAMERA LABEL", "LOOK 18@6"}));
}

}  // namespace
