// The locator on rendered symbols: some candidate's corners land within a module of the true corners.
#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "decoder_internal.h"
#include "symbol_encoder.h"
#include "symbol_renderer.h"

namespace {

struct ModeCase {
  const char* name;
  int threshold;
  int flags;
};
constexpr ModeCase MODES[] = {
    {"automatic global", -1, DECODE_GLOBAL_THRESHOLD | DECODE_CROP},
    {"adaptive 15", 15, DECODE_ADAPTIVE_THRESHOLD | DECODE_CROP},
};

struct SizeCase {
  int rows, cols;
  double moduleSize;
};
constexpr SizeCase SIZES[] = {
    {10, 10, 10.0}, {24, 24, 5.0}, {44, 44, 3.0}, {8, 18, 7.0}, {16, 36, 4.0}, {12, 26, 6.0},
};

double distanceTo(const CvPoint2D32f& p, const cv::Point2d& q) { return std::hypot(p.x - q.x, p.y - q.y); }

// Largest corner error of a candidate against the truth; leg A may run along either finder leg.
double cornerError(const SymbolCandidate& c, const testsupport::SymbolCorners& truth) {
  const double vertex = distanceTo(c.corners[0], truth.finderVertex);
  const double facing = distanceTo(c.corners[3], truth.timingCorner);
  const double legsOneWay =
      std::max(distanceTo(c.corners[1], truth.verticalLegEnd), distanceTo(c.corners[2], truth.horizontalLegEnd));
  const double legsOtherWay =
      std::max(distanceTo(c.corners[1], truth.horizontalLegEnd), distanceTo(c.corners[2], truth.verticalLegEnd));
  return std::max({vertex, facing, std::min(legsOneWay, legsOtherWay)});
}

TEST(LocatorOnRenderedSymbols, SomeCandidateMatchesTheTrueCornersWithinAModule) {
  int caseIndex = 0;
  for (const SizeCase& size : SIZES) {
    const std::string message = "LOC" + std::to_string(size.rows) + "x" + std::to_string(size.cols);
    const auto symbol = testsupport::encodeSymbol(message, size.rows, size.cols);
    ASSERT_TRUE(symbol.has_value()) << message;
    for (int step = 0; step < 12; ++step) {
      ++caseIndex;
      testsupport::RenderOptions options;
      options.moduleSize = size.moduleSize;
      options.rotationDeg = step * 30.0 + 7.0;
      options.tiltXDeg = (step % 3 == 0) ? 15.0 : 0.0;
      options.tiltYDeg = (step % 3 == 1) ? -12.0 : 0.0;
      options.clutter = 12;
      options.noiseSigma = 3.0;
      options.seed = static_cast<std::uint32_t>(caseIndex);
      const testsupport::RenderedSymbol rendered = testsupport::renderSymbol(*symbol, options);
      ASSERT_FALSE(rendered.grey.empty());
      for (const ModeCase& mode : MODES) {
        SCOPED_TRACE(message + " rotation " + std::to_string(options.rotationDeg) + " " + mode.name);
        std::vector<SymbolCandidate> candidates;
        DecoderInspection inspection;
        inspection.afterLocate = [&candidates](const SymbolDecoder& ctx) {
          candidates.assign(ctx.candidates, ctx.candidates + ctx.candidateCount);
        };
        cv::Mat grey = rendered.grey.clone();
        IplImage ipl = cvIplImage(grey);
        ASSERT_EQ(runDecoder(&ipl, mode.threshold, mode.flags, &inspection, nullptr, nullptr, nullptr), 0);
        double best = 1e9;
        for (const SymbolCandidate& c : candidates) best = std::min(best, cornerError(c, rendered.corners));
        EXPECT_LE(best, size.moduleSize) << candidates.size() << " candidates";
      }
    }
  }
}

}  // namespace
