// The grid stage on rendered symbols of every ECC 200 size: sized right and sampled module for module.
//
// Every case either samples exactly or fails for a reason the test can show from the geometry: the
// locator found no candidate on the symbol, the finder legs' inward step put a sweep pivot outside the
// timing edge, the sweep's trial angles lie too far apart for any of them to hold a line from that pivot
// in the middle of the timing row or column, or the sweep kept an angle whose line leaves that middle.
// Any other failure fails the test, and so does any size sampling fewer cases exactly than it does today.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include "decoder/inspect.h"
#include "decoder/timing_edges_internal.h"
#include "tests/support/symbol_encoder.h"
#include "tests/support/symbol_renderer.h"

namespace {

using testsupport::EncoderLib;
using testsupport::EncodeScheme;
using testsupport::SymbolCorners;
using testsupport::SymbolMatrix;

struct ModeCase {
  const char* name;
  int threshold;
  int flags;
};
constexpr ModeCase MODES[] = {
    {"global", SCAN_GLOBAL_PASS.threshold, SCAN_GLOBAL_PASS.flags},
    {"adaptive", SCAN_ADAPTIVE_PASS.threshold, SCAN_ADAPTIVE_PASS.flags},
};
constexpr double ROTATIONS[] = {0.0, 90.0, 180.0, 270.0, 23.0, 142.0};
constexpr double TILT_DEG = 12.0;

// A timing-edge line this far (in modules) from the border of its timing row or column is taken as
// running through the middle of it.
constexpr double EDGE_MARGIN = 0.2;
constexpr double EDGE_DRIFT = 0.3;

// A printable message as long as the size holds.
std::optional<SymbolMatrix> encodeFull(int rows, int cols) {
  const EncoderLib lib = rows == 144 ? EncoderLib::Zint : EncoderLib::Dmtx;  // libdmtx's 144 x 144 is off-standard
  std::mt19937 random(static_cast<unsigned>(rows * 1000 + cols));
  std::string text(1600, ' ');
  for (char& c : text) c = static_cast<char>('!' + random() % 90);
  for (size_t length = text.size(); length >= 1; length = length * 4 / 5) {
    auto symbol = testsupport::encodeSymbol(std::string_view(text).substr(0, length), rows, cols,
                                            EncodeScheme::Auto, lib);
    if (symbol) return symbol;
    if (length == 1) break;
  }
  return std::nullopt;
}

// Where image points lie in the symbol's module space: (0, 0) its top-left outer corner, x in columns
// to the right and y in rows downward. The renderer's perspective is a homography, so four corners fix it.
struct ModuleSpace {
  cv::Matx33d imageToModule;
  int rows = 0, cols = 0;
  double moduleSize = 0.0;
  SymbolCorners corners;

  ModuleSpace(const SymbolCorners& c, int symbolRows, int symbolCols, double size)
      : rows(symbolRows), cols(symbolCols), moduleSize(size), corners(c) {
    const std::vector<cv::Point2f> image = {c.verticalLegEnd, c.timingCorner, c.horizontalLegEnd, c.finderVertex};
    const std::vector<cv::Point2f> module = {{0.0f, 0.0f}, {float(cols), 0.0f}, {float(cols), float(rows)},
                                             {0.0f, float(rows)}};
    imageToModule = cv::getPerspectiveTransform(image, module);
  }
  cv::Point2d toModule(cv::Point2d p) const {
    const cv::Vec3d m = imageToModule * cv::Vec3d(p.x, p.y, 1.0);
    return {m[0] / m[2], m[1] / m[2]};
  }
};

cv::Point2d workingToImage(const SampledSymbol& s, CvPoint2D32f p) {
  // Crop pixel c doubles image pixel c / 2 + origin, whose centre lies a quarter pixel further on.
  if (!s.cropMode) return {p.x, p.y};
  return {p.x / 2.0 + s.cropRect.x - 0.25, p.y / 2.0 + s.cropRect.y - 0.25};
}

double distance(CvPoint2D32f p, cv::Point2d q) { return std::hypot(p.x - q.x, p.y - q.y); }

// The located candidate lies on the symbol: its finder vertex and both leg ends within two modules of
// the true ones (the leg ends either way round).
bool isOnSymbol(const SymbolCandidate& c, const ModuleSpace& space) {
  const double tolerance = 2.0 * space.moduleSize;
  const SymbolCorners& t = space.corners;
  const bool legsOneWay = distance(c.corners[1], t.verticalLegEnd) < tolerance &&
                          distance(c.corners[2], t.horizontalLegEnd) < tolerance;
  const bool legsOtherWay = distance(c.corners[1], t.horizontalLegEnd) < tolerance &&
                            distance(c.corners[2], t.verticalLegEnd) < tolerance;
  return distance(c.corners[0], t.finderVertex) < tolerance && (legsOneWay || legsOtherWay);
}

// The sweep turns each timing edge about the end of the other finder leg, so that end must lie in
// the timing row (top-left leg end) or the timing column (bottom-right leg end).
bool pivotsLieOnTimingEdges(const SymbolCandidate& c, const ModuleSpace& space) {
  for (int i = 1; i <= 2; ++i) {
    const cv::Point2d m = space.toModule({c.corners[i].x, c.corners[i].y});
    const bool topLeft = m.y < space.rows / 2.0;
    if (topLeft ? !(m.y > 0.0 && m.y < 1.0) : !(m.x > space.cols - 1.0 && m.x < space.cols)) return false;
  }
  return true;
}

// The re-aimed timing edges, between the corners they join, keep EDGE_MARGIN modules inside their row
// (top edge) and column (right edge), and drift across it by at most EDGE_DRIFT modules: the grid's
// inner top and right borders are laid parallel to them.
bool edgesRunMidTiming(const SampledSymbol& s, const ModuleSpace& space) {
  const SymbolCandidate& c = s.oriented;
  struct Span {
    const EdgeLine& line;
    CvPoint2D32f from, to;
    bool isTop;
  };
  const Span spans[] = {{c.oppositeB, c.corners[0], c.corners[1], true}, {c.oppositeA, c.corners[2], c.corners[1], false}};
  for (const Span& span : spans) {
    double first = 0.0;
    for (int k = 0; k <= 20; ++k) {
      const double t = k / 20.0;
      CvPoint2D32f p;
      if (span.line.kind == LINE_Y_FROM_X) {
        p.x = static_cast<float>(span.from.x + t * (span.to.x - span.from.x));
        p.y = span.line.slope * p.x + span.line.intercept;
      } else {
        p.y = static_cast<float>(span.from.y + t * (span.to.y - span.from.y));
        p.x = span.line.slope * p.y + span.line.intercept;
      }
      const cv::Point2d m = space.toModule(workingToImage(s, p));
      const double across = span.isTop ? m.y : m.x - (space.cols - 1);
      if (!(across > EDGE_MARGIN && across < 1.0 - EDGE_MARGIN)) return false;
      if (k == 0) first = across;
      if (std::fabs(across - first) > EDGE_DRIFT) return false;
    }
  }
  return true;
}

// The sweep turns a line about the pivot in steps of at most range / steps, so the nearest trial angle
// can miss the edge's direction by half a step: over an edge of L modules the line's far end then lands
// up to L * step / 2 modules off where it started across the row. When that, added to the pivot's own
// distance from the middle of the row, takes the line out of the row's middle (EDGE_MARGIN from each
// border), no trial angle traces even timing runs and the sweep finds none: true when that holds for the
// pivot of the failed sweep (leg end B for the first, leg end A for the second).
bool sweepCannotHoldTheMiddle(const SampledSymbol& s, const ModuleSpace& space, const ModeCase& mode) {
  const bool adaptive = (mode.flags & DECODE_ADAPTIVE_THRESHOLD) != 0;
  const double step = adaptive ? SWEEP_RANGE_ADAPTIVE / SWEEP_STEPS_ADAPTIVE : SWEEP_RANGE / SWEEP_STEPS;
  const CvPoint2D32f pivot = s.located.corners[s.status == REFINE_STATUS_FIRST_EDGE ? 2 : 1];
  const cv::Point2d m = space.toModule({pivot.x, pivot.y});
  const bool inTimingRow = m.y < space.rows / 2.0;
  const double across = inTimingRow ? m.y : m.x - (space.cols - 1);
  const double edgeModules = inTimingRow ? space.cols : space.rows;
  const double worstOffMiddle = std::fabs(across - 0.5) + edgeModules * step / 2.0;
  return worstOffMiddle > 0.5 - EDGE_MARGIN;
}

// The adaptive threshold marks a pixel at its block mean as dark, so a pixel whose whole 15 x 15 block
// lies on light modules turns dark. True when that holds for the centre of module (row, column).
bool isInFloodedLightArea(const SymbolMatrix& symbol, const ModuleSpace& space, int row, int column) {
  const cv::Point2d centre = testsupport::moduleToImage(space.corners, symbol.rows, symbol.cols, {column + 0.5, row + 0.5});
  for (int dy = -7; dy <= 7; ++dy) {
    for (int dx = -7; dx <= 7; ++dx) {
      const cv::Point2d m = space.toModule({std::round(centre.x) + dx, std::round(centre.y) + dy});
      const int r = static_cast<int>(std::floor(m.y)), c = static_cast<int>(std::floor(m.x));
      if (r < 0 || c < 0 || r >= symbol.rows || c >= symbol.cols || symbol.at(r, c) != 0) return false;
    }
  }
  return true;
}

// The expected module matrix: the symbol without its top timing row and right timing column.
std::vector<std::uint8_t> expectedMatrix(const SymbolMatrix& symbol) {
  std::vector<std::uint8_t> modules;
  for (int r = 1; r < symbol.rows; ++r) {
    for (int c = 0; c + 1 < symbol.cols; ++c) modules.push_back(symbol.at(r, c));
  }
  return modules;
}

// Cases whose one wrong module is a light module read at just above 0.5: the disc, whose diameter is
// the cell's shorter diagonal, reaches into its dark neighbours on the adaptive binary of a tilted symbol.
struct KnownCase {
  const char* size;
  double rotation;
  bool tilted;
  const char* mode;
};
constexpr KnownCase KNOWN_DISC_SPILLS[] = {{"26x26", 142.0, true, "adaptive"}};
// Cases whose second sweep finds no even angle although the angles could hold the middle: the timing
// column is 8 modules long and the pivot lies 0.29 of a module from its border, so few runs are traced
// and one clipped run outweighs them.
constexpr KnownCase KNOWN_SHORT_EDGE_MISSES[] = {{"18x8", 270.0, true, "adaptive"}};

template <size_t N>
bool isKnownCase(const KnownCase (&table)[N], const std::string& size, double rotation, bool tilted,
                 const ModeCase& mode) {
  for (const KnownCase& known : table) {
    if (size == known.size && rotation == known.rotation && tilted == known.tilted &&
        std::string(mode.name) == known.mode) {
      return true;
    }
  }
  return false;
}

// Cases of each size (six poses, two passes) that sample exactly today; fewer means a stage got worse.
struct ExactCount {
  const char* size;
  int exact;
};
constexpr ExactCount EXACT_CASES_TODAY[] = {
    {"10x10", 8}, {"12x12", 7}, {"14x14", 10}, {"16x16", 12}, {"18x18", 5}, {"20x20", 11},
    {"22x22", 12}, {"24x24", 7}, {"26x26", 10}, {"32x32", 6}, {"36x36", 6}, {"40x40", 6},
    {"44x44", 6}, {"48x48", 7}, {"52x52", 3}, {"64x64", 0}, {"72x72", 0}, {"80x80", 0},
    {"88x88", 0}, {"96x96", 0}, {"104x104", 0}, {"120x120", 0}, {"132x132", 0}, {"144x144", 0},
    {"18x8", 7}, {"32x8", 9}, {"26x12", 11}, {"36x12", 6}, {"36x16", 8}, {"48x16", 6},
};

int exactCasesToday(const std::string& size) {
  for (const ExactCount& row : EXACT_CASES_TODAY) {
    if (size == row.size) return row.exact;
  }
  return 12;
}

enum class Outcome { Exact, NotLocated, PivotOffEdge, SweepTooCoarse, EdgeOffMiddle, LightAreaFlooded, Unexplained };
const char* outcomeName(Outcome o) {
  switch (o) {
    case Outcome::Exact: return "exact";
    case Outcome::NotLocated: return "no candidate on the symbol (locator filters)";
    case Outcome::PivotOffEdge: return "inward step of a finder leg end leaves the timing edge (sweep pivot)";
    case Outcome::SweepTooCoarse:
      return "no trial angle of the sweep can hold a line from the pivot mid-timing along the whole edge";
    case Outcome::EdgeOffMiddle: return "sweep kept an angle that leaves or slants across the timing edge";
    case Outcome::LightAreaFlooded:
      return "adaptive binarisation darkens light modules amid light neighbours (pixel at its block mean)";
    case Outcome::Unexplained: return "UNEXPLAINED";
  }
  return "";
}

struct CaseResult {
  Outcome outcome = Outcome::Unexplained;
  std::string detail;
};

CaseResult runCase(const SymbolMatrix& symbol, const testsupport::RenderedSymbol& rendered, const ModuleSpace& space,
                   const ModeCase& mode) {
  cv::Mat grey = rendered.grey.clone();
  IplImage ipl = cvIplImage(grey);
  std::vector<SampledSymbol> sampled;
  if (sampleImage(&ipl, mode.threshold, mode.flags, &sampled) != 0) return {Outcome::Unexplained, "pass failed"};
  const std::vector<std::uint8_t> expected = expectedMatrix(symbol);
  CaseResult result{Outcome::NotLocated, ""};
  for (const SampledSymbol& s : sampled) {
    if (!isOnSymbol(s.located, space)) continue;
    std::string detail = "status " + std::to_string(s.status);
    bool onlyFloodedLightWrong = false;
    if (s.status == 0) {
      int wrong = 0;
      onlyFloodedLightWrong = (mode.flags & DECODE_ADAPTIVE_THRESHOLD) != 0;
      for (size_t i = 0; i < expected.size(); ++i) {
        if (s.matrix.modules[i] == expected[i]) continue;
        ++wrong;
        const int row = static_cast<int>(i) / (symbol.cols - 1) + 1, column = static_cast<int>(i) % (symbol.cols - 1);
        onlyFloodedLightWrong = onlyFloodedLightWrong && isInFloodedLightArea(symbol, space, row, column);
        if (wrong <= 4) {
          detail += " (" + std::to_string(row - 1) + "," + std::to_string(column) + ")=" + std::to_string(expected[i]);
        }
      }
      const bool sized = s.size.columns == symbol.cols && s.size.rows == symbol.rows &&
                         s.matrix.columns == symbol.cols - 1 && s.matrix.rows == symbol.rows - 1;
      if (sized && wrong == 0) return {Outcome::Exact, ""};
      detail += sized ? ", " + std::to_string(wrong) + " wrong modules"
                      : ", sized " + std::to_string(s.size.columns) + "x" + std::to_string(s.size.rows);
    }
    Outcome why = Outcome::Unexplained;
    if (!pivotsLieOnTimingEdges(s.located, space)) {
      why = Outcome::PivotOffEdge;
    } else if (s.status == REFINE_STATUS_FIRST_EDGE || s.status == REFINE_STATUS_SECOND_EDGE) {
      // No trial angle traced runs even enough to accept: excused only where the angles cannot.
      if (sweepCannotHoldTheMiddle(s, space, mode)) why = Outcome::SweepTooCoarse;
    } else if ((s.status == REFINE_STATUS_OK || s.status >= REFINE_STATUS_SAMPLING_BASE) &&
               !edgesRunMidTiming(s, space)) {
      // Only a sweep that went through leaves its lines to look at.
      why = Outcome::EdgeOffMiddle;
    } else if (onlyFloodedLightWrong) {
      why = Outcome::LightAreaFlooded;
    }
    if (result.outcome == Outcome::NotLocated || why == Outcome::Unexplained) result = {why, detail};
  }
  return result;
}

class SamplingOnRenderedSymbols : public testing::TestWithParam<int> {};

TEST_P(SamplingOnRenderedSymbols, SamplesExactlyUnlessARuleOfTheStagesPreventsIt) {
  const int sizeIndex = GetParam();
  const auto [rows, cols] = testsupport::ecc200Sizes()[static_cast<size_t>(sizeIndex)];
  std::map<std::string, std::pair<int, int>> tally;  // size -> (exact, cases)
  std::map<Outcome, int> outcomes;
  int caseIndex = sizeIndex * 6;
  {
    const std::string sizeName = std::to_string(cols) + "x" + std::to_string(rows);
    const std::optional<SymbolMatrix> symbol = encodeFull(rows, cols);
    ASSERT_TRUE(symbol.has_value()) << sizeName;
    const int longSide = std::max(rows, cols);
    for (int r = 0; r < 6; ++r) {
      ++caseIndex;
      // Each size meets every rotation, and the tilt alternates so that every rotation is seen both
      // flat and tilted across neighbouring sizes.
      const bool tilted = (r + sizeIndex) % 2 == 1;
      testsupport::RenderOptions options;
      // Module sizes 4 to 8 pixels; the largest symbols keep to 4 so that frames stay camera-sized.
      options.moduleSize = longSide >= 88 ? 4 : 4 + (caseIndex % 5);
      const int side = static_cast<int>((longSide + 4) * options.moduleSize * 1.45) + 100;
      options.imageWidth = std::max(400, side);
      options.imageHeight = std::max(360, side);
      options.rotationDeg = ROTATIONS[r];
      options.tiltXDeg = tilted ? TILT_DEG : 0.0;
      options.tiltYDeg = tilted ? -TILT_DEG / 2 : 0.0;
      options.clutter = 8;
      options.seed = static_cast<std::uint32_t>(caseIndex);
      const testsupport::RenderedSymbol rendered = testsupport::renderSymbol(*symbol, options);
      ASSERT_FALSE(rendered.grey.empty()) << sizeName;
      const ModuleSpace space(rendered.corners, rows, cols, options.moduleSize);
      for (const ModeCase& mode : MODES) {
        const CaseResult result = runCase(*symbol, rendered, space, mode);
        auto& [exact, total] = tally[sizeName];
        ++total;
        exact += result.outcome == Outcome::Exact;
        ++outcomes[result.outcome];
        if (result.outcome == Outcome::Exact) continue;
        char name[200];
        std::snprintf(name, sizeof(name), "%-8s rotation %3.0f %-6s %-8s module %.0f: %s (%s)", sizeName.c_str(),
                      ROTATIONS[r], tilted ? "tilted" : "flat", mode.name, options.moduleSize,
                      outcomeName(result.outcome), result.detail.c_str());
        const bool unexplained = result.outcome == Outcome::Unexplained;
        if (unexplained && isKnownCase(KNOWN_DISC_SPILLS, sizeName, ROTATIONS[r], tilted, mode) &&
            result.detail.rfind("status 0", 0) == 0) {
          std::printf("expected failure: %s: the sampling disc reaches the dark neighbours of a light module\n", name);
        } else if (unexplained && isKnownCase(KNOWN_SHORT_EDGE_MISSES, sizeName, ROTATIONS[r], tilted, mode) &&
                   result.detail == "status " + std::to_string(REFINE_STATUS_SECOND_EDGE)) {
          std::printf("expected failure: %s: few timing runs on a short edge from a pivot near its border\n", name);
        } else if (result.outcome == Outcome::Unexplained) {
          ADD_FAILURE() << name;
        } else {
          std::printf("expected failure: %s\n", name);
        }
      }
    }
  }
  for (const auto& [size, counts] : tally) {
    std::printf("%-8s %2d of %2d exact\n", size.c_str(), counts.first, counts.second);
    EXPECT_GE(counts.first, exactCasesToday(size)) << size << ": fewer cases sampled exactly than today";
  }
  for (const auto& [outcome, count] : outcomes) std::printf("%4d %s\n", count, outcomeName(outcome));
}

std::string sizeName(const testing::TestParamInfo<int>& info) {
  const std::pair<int, int> size = testsupport::ecc200Sizes()[static_cast<size_t>(info.param)];
  return std::to_string(size.second) + "x" + std::to_string(size.first);
}

INSTANTIATE_TEST_SUITE_P(AllEcc200Sizes, SamplingOnRenderedSymbols, testing::Range(0, 30), sizeName);

// The inspection entry takes the decoder entry's checks: what decodeImage refuses, or ends with an image
// library error, it refuses too, and the caller's list stays as it was.
TEST(SampleImage, RefusesWhatDecodeImageRefuses) {
  cv::Mat grey(48, 64, CV_8UC1, cv::Scalar(128));  // one level: the global pass finds no contour and fails
  cv::Mat colour(48, 64, CV_8UC3, cv::Scalar(1, 2, 3));
  IplImage greyIpl = cvIplImage(grey), colourIpl = cvIplImage(colour);
  IplImage emptyIpl = greyIpl;
  emptyIpl.imageData = nullptr;
  struct Case {
    const char* name;
    IplImage* image;
    int threshold, flags;
  } cases[] = {
      {"null image", nullptr, -1, DECODE_GLOBAL_THRESHOLD},
      {"three channels", &colourIpl, -1, DECODE_GLOBAL_THRESHOLD},
      {"no pixels", &emptyIpl, -1, DECODE_GLOBAL_THRESHOLD},
      {"no threshold flag", &greyIpl, -1, DECODE_CROP},
      {"even block size", &greyIpl, 14, DECODE_ADAPTIVE_THRESHOLD},
      {"block size beyond the image", &greyIpl, 131, DECODE_ADAPTIVE_THRESHOLD},  // 64 x 48 takes up to 129
      {"image-library error", &greyIpl, -1, DECODE_GLOBAL_THRESHOLD},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DecodeResult results[DECODE_MAX_RESULTS];
    int count = 0;
    ASSERT_EQ(decodeImage(c.image, results, &count, c.threshold, c.flags), -1);
    std::vector<SampledSymbol> sampled(1);
    sampled[0].status = 42;
    EXPECT_EQ(sampleImage(c.image, c.threshold, c.flags, &sampled), -1);
    ASSERT_EQ(sampled.size(), 1u);
    EXPECT_EQ(sampled[0].status, 42);
  }
  EXPECT_EQ(sampleImage(&greyIpl, -1, DECODE_GLOBAL_THRESHOLD, nullptr), -1);
}

}  // namespace
