// Angle arithmetic, orientation, crop window, result corners and the sweep's acceptance rules.
#include <cmath>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "decoder/runs.h"
#include "decoder/timing_edges.h"
#include "decoder/timing_edges_internal.h"

namespace {

TEST(DirectionAngle, CoversEachQuadrantAndAxis) {
  struct Case {
    float dx, dy, expected;
  };
  const Case cases[] = {
      {1, 0, 0.0f},         {1, 1, 0.78539816f}, {0, 1, 1.5707964f}, {-1, 1, 2.3561945f}, {-1, 0, 3.1415927f},
      {-1, -1, 3.9269908f}, {0, -1, 4.712389f},  {1, -1, 5.497787f}, {0, 0, 0.0f},        {2, 1, 0.4636476f},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "(" << c.dx << ", " << c.dy << ")");
    EXPECT_FLOAT_EQ(directionAngle(c.dx, c.dy), c.expected);
  }
  EXPECT_EQ(directionAngle(std::nanf(""), 1.0f), 0.0f);
}

TEST(LineFromAngle, ChoosesKindAndSlopeByInterval) {
  struct Case {
    float angle;
    int kind;
    float slope;
  };
  const Case cases[] = {
      {0.0f, LINE_Y_FROM_X, 0.0f},
      {std::nextafter(0.7853982f, 0.0f), LINE_Y_FROM_X, 1.0f},  // just below pi/4
      {0.7853982f, LINE_X_FROM_Y, 1.0f},                        // pi/4 starts the steep interval
      {1.5707964f, LINE_X_FROM_Y, 0.0f},                        // pi/2: vertical
      {2.3561945f, LINE_Y_FROM_X, -1.0f},                       // 3pi/4
      {3.1415927f, LINE_Y_FROM_X, 0.0f},                        // pi folds onto 0
      {-0.1f, LINE_Y_FROM_X, -0.10033467f},                     // negative angles fold up by pi
      {3.2415927f, LINE_Y_FROM_X, 0.10033467f},                 // beyond pi folds down
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.angle);
    const EdgeLine line = lineFromAngle(c.angle, 4.0f, 6.0f);
    EXPECT_EQ(line.kind, c.kind);
    EXPECT_NEAR(line.slope, c.slope, 2e-6f);
    // Through (4, 6) either way round.
    const float through = line.kind == LINE_Y_FROM_X ? line.slope * 4.0f + line.intercept - 6.0f
                                                     : line.slope * 6.0f + line.intercept - 4.0f;
    EXPECT_NEAR(through, 0.0f, 1e-5f);
  }
}

TEST(RotateLineAbout, TurnsTheDirectionByMinusTheAngleThroughThePoint) {
  // A horizontal line turned by -pi/8 has direction pi/8 (x right, y down).
  const EdgeLine turned = rotateLineAbout({LINE_Y_FROM_X, 0.0f, 3.0f}, -SWEEP_RANGE, 10.0f, 20.0f);
  EXPECT_EQ(turned.kind, LINE_Y_FROM_X);
  EXPECT_NEAR(turned.slope, std::tan(SWEEP_RANGE), 1e-6);
  EXPECT_NEAR(turned.slope * 10.0f + turned.intercept, 20.0f, 1e-4f);
}

TEST(IsPositivelyOrdered, AcceptsOnlyQuadrilateralsRunningClockwiseOnScreen) {
  struct Case {
    const char* name;
    CvPoint points[4];
    bool expected;
  };
  const Case cases[] = {
      {"clockwise square", {{0, 0}, {10, 0}, {10, 10}, {0, 10}}, true},
      {"counter-clockwise square", {{0, 0}, {0, 10}, {10, 10}, {10, 0}}, false},
      {"clockwise, edges across angle 0", {{5, 0}, {10, 5}, {5, 10}, {0, 5}}, true},
      {"self-crossing", {{0, 0}, {10, 10}, {10, 0}, {0, 10}}, false},
      {"concave arrow", {{0, 0}, {10, 5}, {0, 10}, {3, 5}}, false},
      {"repeated corner", {{0, 0}, {10, 0}, {10, 0}, {0, 10}}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(isPositivelyOrdered(c.points), c.expected);
  }
}

TEST(CropWindow, KeepsEvenSizesAtTheImageBorders) {
  struct Case {
    const char* name;
    int minX, maxX, minY, maxY, width, height, adaptive;
    CvRect expected;
  };
  const Case cases[] = {
      // Margin trunc(40 * 0.25) = 10 and one pixel: 89 ... 151 is odd, so the far side grows.
      {"inside", 100, 140, 100, 140, 640, 480, 0, {89, 89, 64, 64}},
      {"adaptive eighth", 100, 140, 100, 140, 640, 480, 1, {94, 94, 54, 54}},
      // Clamped to x = 159 at the right border: the window grows to the left instead.
      {"right border", 100, 150, 100, 140, 160, 480, 0, {86, 89, 74, 64}},
      // Touching both borders: the far side gives way.
      {"both borders", 0, 20, 0, 20, 21, 21, 0, {0, 0, 20, 20}},
      {"top-left corner", 2, 41, 3, 40, 640, 480, 0, {0, 0, 52, 52}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const CvRect window = cropWindow(c.minX, c.maxX, c.minY, c.maxY, c.width, c.height, c.adaptive);
    EXPECT_EQ(window.x, c.expected.x);
    EXPECT_EQ(window.y, c.expected.y);
    EXPECT_EQ(window.width, c.expected.width);
    EXPECT_EQ(window.height, c.expected.height);
  }
}

TEST(ResultCorner, RoundsHalfToEvenThenHalvesTowardZeroInCropMode) {
  const CvRect crop = cvRect(100, 50, 64, 64);
  struct Case {
    float x, y;
    int cropMode;
    CvPoint expected;
  };
  const Case cases[] = {
      {10.5f, 11.5f, 0, {10, 12}}, {7.0f, 9.0f, 1, {103, 54}}, {7.5f, 6.5f, 1, {104, 53}},
      {-3.0f, -0.5f, 1, {99, 50}}, {2.5f, -2.5f, 0, {2, -2}},  {3e12f, -3e12f, 0, {1000000000, -1000000000}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.x << ", " << c.y << " crop " << c.cropMode);
    const CvPoint p = resultCorner({c.x, c.y}, c.cropMode, crop);
    EXPECT_EQ(p.x, c.expected.x);
    EXPECT_EQ(p.y, c.expected.y);
  }
}

// The run table the sweep tests trace into and score from.
RunTrace runTrace;

// Puts runs into the run table as if a trace had found them.
void setRuns(int firstColour, const std::vector<int>& lengths) {
  runTrace.runCount = static_cast<int>(lengths.size());
  for (size_t i = 0; i < lengths.size(); ++i) {
    runTrace.runLengths[i] = lengths[i];
    runTrace.runColours[i] = static_cast<std::uint8_t>((firstColour + i) % 2);
  }
}

constexpr double EDGE_LENGTH = 50.0;
const std::vector<int> REGULAR = {5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 30};  // ten modules and the way out

TEST(SweepScoring, ScoresOnlyLongEnoughTraces) {
  SweepState state = startSweep(SWEEP_STEPS);
  setRuns(0, {5, 5, 5, 5, 5, 5});  // six runs from a dark one: never scored
  EXPECT_TRUE(scoreSweepStep(&state, runTrace, 0, EDGE_LENGTH));
  setRuns(1, {5, 5, 5, 5, 5, 5, 5});  // seven from a light one: never scored
  EXPECT_TRUE(scoreSweepStep(&state, runTrace, 1, EDGE_LENGTH));
  EXPECT_EQ(state.varianceSeen, 1000.0);
  setRuns(0, {5, 5, 15, 5, 5, 15, 5, 30});  // variance 20.4: seen but not accepted
  EXPECT_TRUE(scoreSweepStep(&state, runTrace, 2, EDGE_LENGTH));
  EXPECT_EQ(state.varianceSeen, 1000.0);
  EXPECT_EQ(state.stopCounter, 0);
}

TEST(SweepScoring, LengthTestsFailWithoutStartingTheStopCount) {
  SweepState state = startSweep(SWEEP_STEPS);
  setRuns(0, {4, 4, 4, 4, 4, 4, 4, 30});  // variance 0 but 28 pixels, not above 0.6 * 50
  EXPECT_TRUE(scoreSweepStep(&state, runTrace, 3, EDGE_LENGTH));
  EXPECT_EQ(state.varianceSeen, 0.0);
  setRuns(0, {5, 5, 5, 5, 5, 5, 5, 5, 11, 30});  // a run of twice the mean or more: 2 * 5.67 > 11 holds
  EXPECT_TRUE(scoreSweepStep(&state, runTrace, 4, EDGE_LENGTH));
  EXPECT_EQ(state.bestStep, 4);
  state = startSweep(SWEEP_STEPS);
  setRuns(0, {4, 4, 4, 4, 4, 4, 4, 4, 10, 30});  // 2 * mean (8.9) is not above the longest run (10)
  EXPECT_TRUE(scoreSweepStep(&state, runTrace, 5, EDGE_LENGTH));
  EXPECT_EQ(state.bestStep, SWEEP_STEPS);
  EXPECT_EQ(state.stopCounter, 0);
}

TEST(SweepScoring, TheFirstTwoAcceptancesReplaceLaterOnesMustScoreBetter) {
  SweepState state = startSweep(SWEEP_STEPS);
  setRuns(0, REGULAR);
  EXPECT_TRUE(scoreSweepStep(&state, runTrace, 10, EDGE_LENGTH));
  EXPECT_EQ(state.bestStep, 10);
  setRuns(0, {4, 6, 4, 6, 4, 6, 4, 6, 4, 6, 30});  // worse (variance 1) yet replaces: stop count 2
  EXPECT_TRUE(scoreSweepStep(&state, runTrace, 11, EDGE_LENGTH));
  EXPECT_EQ(state.bestStep, 11);
  setRuns(0, {4, 6, 4, 6, 4, 6, 4, 6, 4, 6, 30});  // same runs now pay a penalty of 1: kept out
  EXPECT_TRUE(scoreSweepStep(&state, runTrace, 12, EDGE_LENGTH));
  EXPECT_EQ(state.bestStep, 11);
  setRuns(0, REGULAR);  // variance 0 but penalty 2: sqrt(2) does not beat sqrt(1)
  EXPECT_TRUE(scoreSweepStep(&state, runTrace, 13, EDGE_LENGTH));
  EXPECT_EQ(state.bestStep, 11);
  setRuns(0, {5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 30});  // twice the runs wins
  EXPECT_TRUE(scoreSweepStep(&state, runTrace, 14, EDGE_LENGTH * 2));
  EXPECT_EQ(state.bestStep, 14);
}

TEST(SweepScoring, EndsTheSweepWhenTheStopCountReachesAThirdOfTheSteps) {
  SweepState state = startSweep(SWEEP_STEPS);  // stopAt 13
  setRuns(0, REGULAR);
  ASSERT_TRUE(scoreSweepStep(&state, runTrace, 0, EDGE_LENGTH));
  int scored = 0;
  while (scoreSweepStep(&state, runTrace, 1 + scored, EDGE_LENGTH)) ++scored;
  EXPECT_EQ(scored, 11);  // stopAt - 2 further angles, then one traced and not scored
}

// The sweep skips the trace of a step exactly when scoring that step would end the sweep unread.
TEST(SweepScoring, KnowsBeforeTracingWhichStepEndsTheSweep) {
  for (const int steps : {SWEEP_STEPS, SWEEP_STEPS_ADAPTIVE}) {
    for (const bool wholeRange : {false, true}) {
      SweepState state = startSweep(steps, wholeRange);
      setRuns(0, REGULAR);
      for (int step = 0; step <= 2 * steps; ++step) {
        SCOPED_TRACE(testing::Message() << steps << " steps, whole range " << wholeRange << ", step " << step);
        SweepState scored = state;
        RunTrace empty = {};
        const bool ends = !scoreSweepStep(&scored, empty, step, EDGE_LENGTH);
        ASSERT_EQ(sweepEndsBeforeScoring(state), ends);
        if (!scoreSweepStep(&state, runTrace, step, EDGE_LENGTH)) break;
      }
    }
  }
}

// 200 x 50 light image with vertical 2-pixel stripes over x = 12 ... 29 only.
struct StripedImage {
  IplImage* image = cvCreateImage(cvSize(200, 50), IPL_DEPTH_8U, 1);
  explicit StripedImage(int stripesEnd) {
    cvZero(image);
    for (int y = 0; y < 50; ++y) {
      for (int x = 12; x < stripesEnd; ++x) {
        if ((x / 2) % 2 == 0) image->imageData[y * image->widthStep + x] = static_cast<char>(255);
      }
    }
  }
  ~StripedImage() { cvReleaseImage(&image); }
};

TEST(RefineTimingEdge, NotFoundWithoutLowVarianceAndUnchangedWhenOnlyTheLengthTestsFail) {
  const EdgeLine edge = {LINE_Y_FROM_X, 0.0f, 25.0f};
  const CvPoint2D32f pivot = {10.0f, 25.0f}, far = {150.0f, 25.0f};
  StripedImage blank(12);
  EXPECT_EQ(refineTimingEdge(&runTrace, blank.image, edge, SWEEP_STEPS, pivot, far, SWEEP_RANGE).kind, LINE_NOT_FOUND);

  StripedImage shortStripes(30);  // regular runs, but over 18 of 140 pixels
  const EdgeLine kept = refineTimingEdge(&runTrace, shortStripes.image, edge, SWEEP_STEPS, pivot, far, SWEEP_RANGE);
  EXPECT_EQ(kept.kind, edge.kind);
  EXPECT_EQ(kept.slope, edge.slope);
  EXPECT_EQ(kept.intercept, edge.intercept);

  StripedImage longStripes(200);  // stripes all along: some angle is accepted
  EXPECT_NE(refineTimingEdge(&runTrace, longStripes.image, edge, SWEEP_STEPS, pivot, far, SWEEP_RANGE).kind,
            LINE_NOT_FOUND);
}

// Candidates no locator would hand over must still come back with a status, touching nothing outside
// the image or the result slots (the sanitizers watch the rest).
TEST(RefineCandidate, DegenerateCandidatesFailCleanly) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  const CvPoint2D32f cornerSets[][4] = {
      {{50, 50}, {50, 50}, {50, 50}, {50, 50}},     {{-1e6f, -1e6f}, {1e6f, -1e6f}, {1e6f, 1e6f}, {-1e6f, 1e6f}},
      {{nan, 10}, {20, nan}, {30, 30}, {10, 30}},   {{inf, 0}, {0, inf}, {-inf, 0}, {0, -inf}},
      {{10, 10}, {90, 12}, {12, 90}, {5000, 5000}}, {{-50, -50}, {-10, -50}, {-50, -10}, {-10, -10}},
  };
  IplImage* binary = cvCreateImage(cvSize(100, 100), IPL_DEPTH_8U, 1);
  cvSet(binary, cvScalar(255));
  for (int cropMode = 0; cropMode <= 1; ++cropMode) {
    for (int adaptive = 0; adaptive <= 1; ++adaptive) {
      for (const auto& corners : cornerSets) {
        SymbolDecoder ctx;
        ctx.binary = binary;
        ctx.cropMode = cropMode;
        ctx.adaptiveMode = adaptive;
        ctx.candidateCount = 1;
        SymbolCandidate& c = ctx.candidates[0];
        for (int i = 0; i < 4; ++i) c.corners[i] = corners[i];
        c.legA = lineThroughPoints(corners[0], corners[1]);
        c.legB = lineThroughPoints(corners[0], corners[2]);
        c.oppositeA = parallelThrough(c.legA.kind, c.legA.slope, corners[2]);
        c.oppositeB = parallelThrough(c.legB.kind, c.legB.slope, corners[1]);
        EXPECT_NE(refineCandidate(&ctx, 0), REFINE_STATUS_OK);
        EXPECT_EQ(ctx.resultCount, 0);
        if (ctx.cropImage != nullptr) cvReleaseImage(&ctx.cropImage);
      }
    }
  }
  SymbolDecoder full;
  full.binary = binary;
  full.candidateCount = 1;
  full.resultCount = DECODE_MAX_RESULTS;
  EXPECT_EQ(refineCandidate(&full, 0), REFINE_STATUS_NO_SLOT);
  EXPECT_EQ(refineCandidate(&full, 5), REFINE_STATUS_NO_SLOT);
  cvReleaseImage(&binary);
}

}  // namespace
