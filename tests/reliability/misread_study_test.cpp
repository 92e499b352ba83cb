// Misread study: 1,000 scenes of symbols made by an independent encoder, rendered and each damaged ten
// ways (some damage stays within what the error correction mends, some goes past it), go through the scanner's whole read (the global pass, the adaptive pass when the first found nothing,
// the second look when neither did). A read may be missed; a wrong text must never come out. Every text decoded must
// be the encoder's input of a symbol that is in the picture.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/core/core_c.h>
#include <opencv2/imgproc.hpp>

#include "decoder/decoder.h"
#include "tests/support/symbol_encoder.h"
#include "tests/support/symbol_renderer.h"

namespace {

using testsupport::PlacedSymbol;
using testsupport::RenderOptions;
using testsupport::SymbolMatrix;

constexpr std::uint32_t STUDY_SEED = 0x51A7D00Du;
// Rendering costs far more than decoding, so each rendered scene is damaged in several ways, each one
// a case of its own.
constexpr int STUDY_SCENES_PER_DAMAGE = 200;
constexpr int STUDY_DAMAGES_PER_SCENE = 10;

enum class Damage { ModuleFlips, Occlusion, TornEdge, WrongSizeNeighbour, OverlappingSymbols, Count };

const char* damageName(Damage damage) {
  switch (damage) {
    case Damage::ModuleFlips: return "module flips";
    case Damage::Occlusion: return "occluded area";
    case Damage::TornEdge: return "torn edge";
    case Damage::WrongSizeNeighbour: return "wrong-size neighbour";
    case Damage::OverlappingSymbols: return "overlapping symbols";
    case Damage::Count: break;
  }
  return "?";
}

// The sizes studied (rows, columns): every size up to 48 x 48 and the rectangles; larger symbols only
// slow the study down without reaching other code.
std::vector<std::pair<int, int>> studiedSizes() {
  std::vector<std::pair<int, int>> sizes;
  for (const auto& size : testsupport::ecc200Sizes()) {
    if (size.first <= 48 && size.second <= 48) sizes.push_back(size);
  }
  return sizes;
}

// A message of printable ASCII with now and then a byte above 0x7F; never a NUL, which the text field
// of a result cannot carry.
std::string randomMessage(std::mt19937& random, int maxLength) {
  static const std::string ALPHABET =
      "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz -./:+*#%&()<>=?!_\xC4\xE9\xFC";
  const int length = 1 + static_cast<int>(random() % static_cast<unsigned>(maxLength));
  std::string message;
  for (int k = 0; k < length; ++k) message += ALPHABET[random() % ALPHABET.size()];
  return message;
}

struct StudySymbol {
  SymbolMatrix matrix;
  std::string message;
};

// A symbol of a random studied size holding a random message that fits it.
StudySymbol randomSymbol(std::mt19937& random) {
  static const std::vector<std::pair<int, int>> sizes = studiedSizes();
  static const testsupport::EncodeScheme schemes[] = {
      testsupport::EncodeScheme::Auto, testsupport::EncodeScheme::Ascii, testsupport::EncodeScheme::C40,
      testsupport::EncodeScheme::Text, testsupport::EncodeScheme::Base256};
  for (;;) {
    const auto size = sizes[random() % sizes.size()];
    const auto scheme = schemes[random() % (sizeof schemes / sizeof schemes[0])];
    // Upper bound on the message: a few characters per row, halved until it fits.
    std::string message = randomMessage(random, std::max(2, size.first * size.second / 40));
    while (!message.empty()) {
      if (auto matrix = testsupport::encodeSymbol(message, size.first, size.second, scheme)) {
        return {*matrix, message};
      }
      message.resize(message.size() / 2);
    }
  }
}

double uniform(std::mt19937& random, double low, double high) {
  return std::uniform_real_distribution<double>(low, high)(random);
}

// A symbol as drawn in a scene: where its modules landed and what it says.
struct DrawnSymbol {
  StudySymbol symbol;
  testsupport::SymbolCorners corners;
};

// One rendered picture and the symbols in it. The first symbol is the one the damage is aimed at.
struct Scene {
  cv::Mat grey;
  std::vector<DrawnSymbol> drawn;
  std::uint8_t dark = 30;
  std::uint8_t light = 220;
  std::uint8_t background = 180;
};

// Camera-like look: any rotation, a little tilt, blur and noise, and room for the symbol at any angle.
RenderOptions randomLook(std::mt19937& random, const SymbolMatrix& matrix) {
  RenderOptions options;
  options.moduleSize = uniform(random, 4.0, 7.0);
  options.rotationDeg = uniform(random, 0.0, 360.0);
  options.tiltXDeg = uniform(random, -15.0, 15.0);
  options.tiltYDeg = uniform(random, -15.0, 15.0);
  options.blurSigma = uniform(random, 0.0, 0.8);
  options.noiseSigma = uniform(random, 0.0, 4.0);
  options.seed = random();
  const double side = std::hypot(matrix.rows + 4, matrix.cols + 4) * options.moduleSize * 1.35;
  options.imageWidth = static_cast<int>(side) + 24;
  options.imageHeight = static_cast<int>(side) + 24;
  return options;
}

Scene singleSymbolScene(std::mt19937& random) {
  StudySymbol symbol = randomSymbol(random);
  const RenderOptions look = randomLook(random, symbol.matrix);
  testsupport::RenderedSymbol rendered = testsupport::renderSymbol(symbol.matrix, look);
  Scene scene;
  scene.grey = rendered.grey;
  scene.drawn.push_back({std::move(symbol), rendered.corners});
  return scene;
}

// Two symbols of different sizes side by side with hardly a gap, so that the finder or timing edges of
// one run on into the other.
Scene neighbourScene(std::mt19937& random) {
  const StudySymbol first = randomSymbol(random);
  StudySymbol second = randomSymbol(random);
  while (second.matrix.rows == first.matrix.rows && second.matrix.cols == first.matrix.cols) {
    second = randomSymbol(random);
  }
  const double moduleSize = uniform(random, 4.0, 6.0);
  const double rotation = uniform(random, 0.0, 360.0);
  const double firstWidth = first.matrix.cols * moduleSize;
  const double secondWidth = second.matrix.cols * moduleSize;
  const double span = firstWidth + uniform(random, 0.25, 1.0) * moduleSize + secondWidth;
  const double tallest = std::max(first.matrix.rows, second.matrix.rows) * moduleSize;
  const int side = static_cast<int>(std::hypot(span, tallest) * 1.1) + 40;

  RenderOptions look;
  look.imageWidth = side;
  look.imageHeight = side;
  look.noiseSigma = uniform(random, 0.0, 4.0);
  look.blurSigma = uniform(random, 0.0, 0.8);
  look.seed = random();
  // Centres on a line through the image centre, turned with the symbols.
  const double angle = rotation * CV_PI / 180.0;
  const double offsets[] = {-span / 2 + firstWidth / 2, span / 2 - secondWidth / 2};
  std::vector<PlacedSymbol> placed(2);
  placed[0].symbol = first.matrix;
  placed[1].symbol = second.matrix;
  for (std::size_t s = 0; s < 2; ++s) {
    RenderOptions& placement = placed[s].placement;
    placement.moduleSize = moduleSize;
    placement.quietZone = 0;
    placement.rotationDeg = rotation;
    placement.centreX = side / 2.0 + offsets[s] * std::cos(angle);
    placement.centreY = side / 2.0 + offsets[s] * std::sin(angle);
  }
  const testsupport::RenderedScene rendered = testsupport::renderSymbols(placed, look);
  Scene scene;
  scene.grey = rendered.grey;
  if (rendered.corners.size() == 2) {
    scene.drawn.push_back({first, rendered.corners[0]});
    scene.drawn.push_back({second, rendered.corners[1]});
  }
  return scene;
}

// The lower symbol of an overlap, and the upper one drawn on a picture of its own; each damage pastes
// the upper one somewhere across the lower one's outline, as a label stuck over a label.
struct OverlapScene {
  Scene below;
  DrawnSymbol above;
  cv::Mat aboveGrey;
  cv::Mat aboveMask;  // the upper symbol with one module of quiet zone
};

OverlapScene overlapScene(std::mt19937& random) {
  OverlapScene overlap;
  const StudySymbol under = randomSymbol(random);
  const StudySymbol over = randomSymbol(random);
  RenderOptions look = randomLook(random, under.matrix);
  const int side = std::max(look.imageWidth, randomLook(random, over.matrix).imageWidth) + 40;
  look.imageWidth = side;
  look.imageHeight = side;
  const testsupport::RenderedSymbol lower = testsupport::renderSymbol(under.matrix, look);
  overlap.below.grey = lower.grey;
  overlap.below.drawn.push_back({under, lower.corners});

  RenderOptions upperLook = look;
  const double roomy = side / (1.5 * std::hypot(over.matrix.rows + 4, over.matrix.cols + 4));
  upperLook.moduleSize = uniform(random, 4.0, std::max(4.0, std::min(7.0, roomy)));
  upperLook.rotationDeg = uniform(random, 0.0, 360.0);
  upperLook.quietZone = 1;
  const testsupport::RenderedSymbol upper = testsupport::renderSymbol(over.matrix, upperLook);
  overlap.above = {over, upper.corners};
  overlap.aboveGrey = upper.grey;
  overlap.aboveMask = cv::Mat::zeros(upper.grey.size(), CV_8UC1);
  std::vector<cv::Point> outline;
  for (const cv::Point2d corner : {cv::Point2d(-1, -1), cv::Point2d(over.matrix.cols + 1, -1),
                                   cv::Point2d(over.matrix.cols + 1, over.matrix.rows + 1),
                                   cv::Point2d(-1, over.matrix.rows + 1)}) {
    const cv::Point2d p = testsupport::moduleToImage(upper.corners, over.matrix.rows, over.matrix.cols, corner);
    outline.emplace_back(cvRound(p.x), cvRound(p.y));
  }
  cv::fillConvexPoly(overlap.aboveMask, outline, cv::Scalar(255));
  return overlap;
}

// Inverts a share of the symbol's modules inside its finder and timing border, painted over the picture
// in the symbol's own levels, so that the symbol is still found and the damage reaches the error
// correction. Between 3 % and 30 % of the inner modules: mostly more than the code can mend.
void flipModules(std::mt19937& random, cv::Mat& grey, const Scene& scene, const DrawnSymbol& target) {
  const SymbolMatrix& matrix = target.symbol.matrix;
  const int inner = (matrix.rows - 2) * (matrix.cols - 2);
  const int flips = std::max(1, static_cast<int>(inner * uniform(random, 0.03, 0.30)));
  for (int k = 0; k < flips; ++k) {
    const int row = 1 + static_cast<int>(random() % static_cast<unsigned>(matrix.rows - 2));
    const int col = 1 + static_cast<int>(random() % static_cast<unsigned>(matrix.cols - 2));
    const bool dark = matrix.at(row, col) != 0;
    testsupport::occludeModules(grey, target.corners, matrix.rows, matrix.cols, cv::Rect2d(col, row, 1, 1),
                                dark ? scene.light : scene.dark);
  }
}

std::uint8_t randomLevel(std::mt19937& random) {
  static const std::uint8_t LEVELS[] = {30, 220, 128, 180};
  return LEVELS[random() % 4];
}

// A rectangle of a third to four fifths of the symbol's width and height painted over in one level.
void occludeArea(std::mt19937& random, cv::Mat& grey, const DrawnSymbol& target) {
  const SymbolMatrix& matrix = target.symbol.matrix;
  const double width = matrix.cols * uniform(random, 0.3, 0.8);
  const double height = matrix.rows * uniform(random, 0.3, 0.8);
  const cv::Rect2d area(uniform(random, 0.0, matrix.cols - width), uniform(random, 0.0, matrix.rows - height),
                        width, height);
  testsupport::occludeModules(grey, target.corners, matrix.rows, matrix.cols, area, randomLevel(random));
}

// One side torn off: a strip of one module to a third of the symbol along an edge, reaching past it,
// in the background's level.
void tearEdge(std::mt19937& random, cv::Mat& grey, const Scene& scene, const DrawnSymbol& target) {
  const int rows = target.symbol.matrix.rows;
  const int cols = target.symbol.matrix.cols;
  const double depth = uniform(random, 1.0, std::max(1.5, std::min(rows, cols) / 3.0));
  cv::Rect2d strip;
  switch (random() % 4) {
    case 0: strip = cv::Rect2d(-3.0, -3.0, cols + 6.0, depth + 3.0); break;          // top
    case 1: strip = cv::Rect2d(-3.0, rows - depth, cols + 6.0, depth + 3.0); break;  // bottom
    case 2: strip = cv::Rect2d(-3.0, -3.0, depth + 3.0, rows + 6.0); break;          // left
    default: strip = cv::Rect2d(cols - depth, -3.0, depth + 3.0, rows + 6.0); break; // right
  }
  testsupport::occludeModules(grey, target.corners, rows, cols, strip, scene.background);
}

// The upper symbol pasted with its centre moved to a random point of the lower symbol's outline box.
cv::Mat pasteOver(std::mt19937& random, const OverlapScene& overlap) {
  cv::Mat grey = overlap.below.grey.clone();
  const DrawnSymbol& lower = overlap.below.drawn[0];
  const cv::Point2d target = testsupport::moduleToImage(
      lower.corners, lower.symbol.matrix.rows, lower.symbol.matrix.cols,
      cv::Point2d(uniform(random, 0.0, lower.symbol.matrix.cols), uniform(random, 0.0, lower.symbol.matrix.rows)));
  const cv::Point2d centre((overlap.above.corners.finderVertex + overlap.above.corners.timingCorner) * 0.5);
  const int dx = cvRound(target.x - centre.x);
  const int dy = cvRound(target.y - centre.y);
  // Shift the upper picture and its mask by (dx, dy), clipped to the frame.
  const cv::Rect frame(0, 0, grey.cols, grey.rows);
  const cv::Rect moved = cv::Rect(dx, dy, overlap.aboveGrey.cols, overlap.aboveGrey.rows) & frame;
  if (moved.empty()) return grey;
  const cv::Rect source(moved.x - dx, moved.y - dy, moved.width, moved.height);
  overlap.aboveGrey(source).copyTo(grey(moved), overlap.aboveMask(source));
  return grey;
}

struct StudyCase {
  cv::Mat grey;
  std::set<std::string> messages;  // texts of the symbols in the picture; any other read is wrong
};

// The damaged pictures of one scene, and the scene as drawn.
struct SceneCases {
  StudyCase undamaged;
  std::vector<StudyCase> damaged;
};

std::set<std::string> messagesOf(const Scene& scene) {
  std::set<std::string> messages;
  for (const DrawnSymbol& drawn : scene.drawn) messages.insert(drawn.symbol.message);
  return messages;
}

SceneCases makeCases(Damage damage, std::mt19937& random) {
  SceneCases cases;
  if (damage == Damage::OverlappingSymbols) {
    const OverlapScene overlap = overlapScene(random);
    if (overlap.below.grey.empty() || overlap.aboveGrey.empty()) return cases;
    const std::set<std::string> messages = {overlap.below.drawn[0].symbol.message, overlap.above.symbol.message};
    cases.undamaged = {overlap.below.grey, messagesOf(overlap.below)};
    for (int v = 0; v < STUDY_DAMAGES_PER_SCENE; ++v) cases.damaged.push_back({pasteOver(random, overlap), messages});
    return cases;
  }
  const Scene scene = damage == Damage::WrongSizeNeighbour ? neighbourScene(random) : singleSymbolScene(random);
  if (scene.grey.empty() || scene.drawn.empty()) return cases;
  cases.undamaged = {scene.grey, messagesOf(scene)};
  for (int v = 0; v < STUDY_DAMAGES_PER_SCENE; ++v) {
    cv::Mat grey = scene.grey.clone();
    switch (damage) {
      case Damage::ModuleFlips: flipModules(random, grey, scene, scene.drawn[0]); break;
      case Damage::Occlusion: occludeArea(random, grey, scene.drawn[0]); break;
      case Damage::TornEdge: tearEdge(random, grey, scene, scene.drawn[0]); break;
      case Damage::WrongSizeNeighbour:
        // Either neighbour, or both, damaged beyond reading.
        if (v % 3 != 1) flipModules(random, grey, scene, scene.drawn[0]);
        if (v % 3 != 0) flipModules(random, grey, scene, scene.drawn[1]);
        break;
      default: break;
    }
    cases.damaged.push_back({grey, messagesOf(scene)});
  }
  return cases;
}

// The texts of one frame as the scanner reads it.
std::vector<std::string> scannerReads(cv::Mat& grey) {
  IplImage image = cvIplImage(grey);
  DecodeResult results[DECODE_MAX_RESULTS];
  int count = 0;
  if (scanImage(&image, results, &count) != 0) count = 0;
  std::vector<std::string> texts;
  for (int r = 0; r < count; ++r) texts.emplace_back(results[r].text, strnlen(results[r].text, DECODE_TEXT_SIZE));
  return texts;
}

struct Tally {
  int cases = 0;
  int correct = 0;
  int missed = 0;
  int wrong = 0;
  int scenes = 0;
  int scenesRead = 0;  // scenes whose undamaged picture reads: the control
};

std::string escaped(const std::string& text) {
  std::string out;
  char hex[8];
  for (const unsigned char ch : text) {
    if (ch >= 0x20 && ch < 0x7F && ch != '\\') {
      out += static_cast<char>(ch);
    } else {
      std::snprintf(hex, sizeof hex, "\\x%02X", ch);
      out += hex;
    }
  }
  return out;
}

// Whether every text read is one of the picture's; failures name the scene to replay.
bool readsOnlyItsOwnTexts(StudyCase& study, Damage damage, std::uint32_t sceneSeed, const char* what,
                          std::vector<std::string>* reads) {
  *reads = scannerReads(study.grey);
  bool right = true;
  for (const std::string& text : *reads) {
    if (study.messages.count(text) == 0) {
      right = false;
      ADD_FAILURE() << damageName(damage) << ", scene seed " << sceneSeed << ", " << what << ": read \""
                    << escaped(text) << "\", which is in no symbol of the picture";
    }
  }
  return right;
}

// Undamaged scenes of STUDY_SCENES_PER_DAMAGE the scanner's read must get right: today's count less two
// (the scenes are seeded, so the count only moves when the scenes or the read change).
int undamagedScenesReadAtLeast(Damage damage) {
  constexpr int MARGIN = 2;
  switch (damage) {
    case Damage::ModuleFlips: return 198 - MARGIN;
    case Damage::Occlusion: return 200 - MARGIN;
    case Damage::TornEdge: return 198 - MARGIN;
    case Damage::WrongSizeNeighbour: return 195 - MARGIN;
    case Damage::OverlappingSymbols: return 197 - MARGIN;
    case Damage::Count: break;
  }
  return STUDY_SCENES_PER_DAMAGE;
}

class MisreadStudy : public ::testing::TestWithParam<Damage> {};

TEST_P(MisreadStudy, DamagedSymbolsAreReadCorrectlyOrNotAtAllNeverWrongly) {
  const Damage damage = GetParam();
  Tally tally;
  for (int s = 0; s < STUDY_SCENES_PER_DAMAGE; ++s) {
    const std::uint32_t sceneSeed = STUDY_SEED + static_cast<std::uint32_t>(static_cast<int>(damage) * 1000003 + s);
    std::mt19937 random(sceneSeed);
    SceneCases cases = makeCases(damage, random);
    ASSERT_EQ(cases.damaged.size(), static_cast<std::size_t>(STUDY_DAMAGES_PER_SCENE))
        << damageName(damage) << ": scene seed " << sceneSeed << " could not be drawn";
    std::vector<std::string> reads;
    ++tally.scenes;
    if (readsOnlyItsOwnTexts(cases.undamaged, damage, sceneSeed, "undamaged", &reads) && !reads.empty()) {
      ++tally.scenesRead;
    }
    for (std::size_t c = 0; c < cases.damaged.size(); ++c) {
      ++tally.cases;
      const std::string what = "damage " + std::to_string(c);
      if (!readsOnlyItsOwnTexts(cases.damaged[c], damage, sceneSeed, what.c_str(), &reads)) {
        ++tally.wrong;
      } else if (reads.empty()) {
        ++tally.missed;
      } else {
        ++tally.correct;
      }
    }
  }

  std::printf("%-22s %7s %8s %8s %7s   %s\n", "damage", "cases", "correct", "missed", "wrong", "undamaged scenes read");
  std::printf("%-22s %7d %8d %8d %7d   %d of %d\n", damageName(damage), tally.cases, tally.correct, tally.missed,
              tally.wrong, tally.scenesRead, tally.scenes);
  RecordProperty("cases", tally.cases);
  RecordProperty("correct", tally.correct);
  RecordProperty("missed", tally.missed);
  RecordProperty("wrong", tally.wrong);
  EXPECT_EQ(tally.wrong, 0);
  // The control: the scenes must read before the damage, or a miss after it would prove nothing. The two
  // passes read nearly all of them; a fall of more than a scene or two means the scenes or the read broke.
  EXPECT_GE(tally.scenesRead, undamagedScenesReadAtLeast(damage));
}

std::string damageTestName(const ::testing::TestParamInfo<Damage>& info) {
  std::string name;
  bool upper = true;
  for (const char ch : std::string(damageName(info.param))) {
    if (ch == ' ' || ch == '-') {
      upper = true;
    } else {
      name += upper ? static_cast<char>(std::toupper(static_cast<unsigned char>(ch))) : ch;
      upper = false;
    }
  }
  return name;
}

// 2000 cases for each kind of damage, 10,000 in all.
INSTANTIATE_TEST_SUITE_P(EveryDamage, MisreadStudy,
                         ::testing::Values(Damage::ModuleFlips, Damage::Occlusion, Damage::TornEdge,
                                           Damage::WrongSizeNeighbour, Damage::OverlappingSymbols),
                         damageTestName);

}  // namespace
