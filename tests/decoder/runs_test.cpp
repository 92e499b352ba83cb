// Run tracing, module counting, run models and the symbol-size check.
#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "decoder/runs.h"
#include "decoder/symbol_size.h"

namespace {

// An 8-bit binary image (255 dark, 0 light) that frees itself.
struct Binary {
  IplImage* image;
  Binary(int width, int height) : image(cvCreateImage(cvSize(width, height), IPL_DEPTH_8U, 1)) { cvZero(image); }
  ~Binary() { cvReleaseImage(&image); }
  void setDark(int x, int y) { image->imageData[y * image->widthStep + x] = static_cast<char>(255); }
};

// The run table the trace tests fill.
RunTrace runTrace;

std::vector<int> tracedLengths() { return {runTrace.runLengths, runTrace.runLengths + runTrace.runCount}; }
std::vector<int> tracedColours() { return {runTrace.runColours, runTrace.runColours + runTrace.runCount}; }

struct TraceCase {
  const char* name;
  double x0, y0, x1, y1;
  EdgeLine line;
  std::vector<int> lengths;
  std::vector<int> colours;  // 1 light, 0 dark
};

// 20 x 6 image: row 2 dark at x = 3, 4, 5; row 3 wholly dark; column 12 dark at y = 0, 1.
TEST(TraceRuns, FollowsTheRulesForDirectionRoundingAndTheImageBorder) {
  Binary bin(20, 6);
  for (int x : {3, 4, 5}) bin.setDark(x, 2);
  for (int x = 0; x < 20; ++x) bin.setDark(x, 3);
  bin.setDark(12, 0);
  bin.setDark(12, 1);
  const EdgeLine row2 = {LINE_Y_FROM_X, 0.0f, 2.0f};
  const TraceCase cases[] = {
      // From one pixel before the start up to and including the end pixel: x = 1 ... 7.
      {"forward", 2, 2, 7, 2, row2, {2, 3, 2}, {1, 0, 1}},
      // Backwards the walk starts one pixel past x0 and ends at x1: x = 8 ... 2.
      {"backward", 7, 2, 2, 2, row2, {3, 3, 1}, {1, 0, 1}},
      // trunc(2.6 - 1 + 0.5) = 2: the walk starts on x = 2 instead of x = 1.
      {"start rounds up", 2.6, 2, 7, 2, row2, {1, 3, 2}, {1, 0, 1}},
      // y = trunc(2.4 + 0.5) = 2, but trunc(2.5 + 0.5) = 3, the dark row.
      {"cross coordinate below half", 2, 2, 7, 2, {LINE_Y_FROM_X, 0.0f, 2.4f}, {2, 3, 2}, {1, 0, 1}},
      {"cross coordinate at half", 2, 2, 7, 2, {LINE_Y_FROM_X, 0.0f, 2.5f}, {7}, {0}},
      // Pixels left of the image are skipped; truncation toward zero reads x = 0 twice on the way in.
      {"enters from the left", -5, 2, 3, 2, row2, {4, 1}, {1, 0}},
      // y = x - 10 is inside the image for x = 9 ... 15 only (trunc(-0.5) is row 0; row 3 dark at x = 13).
      {"crosses the image corner", 0, -10, 19, 9, {LINE_Y_FROM_X, 1.0f, -10.0f}, {4, 1, 2}, {1, 0, 1}},
      // Column 12 from y = 0 to y = 5 (dark at 0, 1 and 3); the walk's y = trunc(-0.5) reads row 0 twice.
      {"x from y", 12, 0, 12, 5, {LINE_X_FROM_Y, 0.0f, 12.0f}, {3, 1, 1, 2}, {0, 1, 0, 1}},
      {"wholly outside", 25, 2, 40, 2, row2, {}, {}},
      {"not a number", 2, 2, std::nan(""), 2, row2, {}, {}},
  };
  for (const TraceCase& c : cases) {
    SCOPED_TRACE(c.name);
    traceRuns(&runTrace, bin.image, c.x0, c.y0, c.x1, c.y1, c.line);
    EXPECT_EQ(tracedLengths(), c.lengths);
    EXPECT_EQ(tracedColours(), c.colours);
  }
}

TEST(TraceRuns, StopsAtTheTableCapacity) {
  Binary bin(3000, 1);
  for (int x = 0; x < 3000; x += 2) bin.setDark(x, 0);
  traceRuns(&runTrace, bin.image, 0, 0, 2999, 0, {LINE_Y_FROM_X, 0.0f, 0.0f});
  ASSERT_EQ(runTrace.runCount, RUN_TRACE_CAPACITY);
  // The walk ends as the 1280th run opens: it is never extended.
  EXPECT_EQ(runTrace.runLengths[RUN_TRACE_CAPACITY - 1], 1);
}

TEST(TraceRuns, DegenerateLinesStayInsideTheImage) {
  Binary bin(50, 40);
  const EdgeLine lines[] = {{LINE_Y_FROM_X, 1e30f, 0.0f},
                            {LINE_X_FROM_Y, -1e30f, 1e30f},
                            {LINE_Y_FROM_X, std::nanf(""), 0.0f},
                            {LINE_X_FROM_Y, 0.0f, std::numeric_limits<float>::infinity()},
                            {100, 0.0f, 0.0f}};
  for (const EdgeLine& line : lines) {
    traceRuns(&runTrace, bin.image, -1e11, -1e11, 1e11, 1e11, line);
    EXPECT_LE(runTrace.runCount, 1);
  }
}

// The pixel walk written step by step, every step testing every rule: the walker must give the very
// same runs however it skips the steps that read nothing.
RunTrace referenceTraceRuns(const IplImage* image, double x0, double y0, double x1, double y1, const EdgeLine& line) {
  RunTrace trace;
  trace.runCount = 0;
  const bool stepsX = line.kind == LINE_Y_FROM_X;
  const double from = stepsX ? x0 : y0;
  const double to = stepsX ? x1 : y1;
  if (!(std::fabs(from) < 1e12 && std::fabs(to) < 1e12)) return trace;
  const int dir = from <= to ? 1 : -1;
  const int stepSize = stepsX ? image->width : image->height;
  const int crossSize = stepsX ? image->height : image->width;
  const long long endPosition = static_cast<long long>(std::min(std::max(to + dir + 0.5, -4.0), stepSize + 4.0));
  for (double step = -1.0;; step += 1.0) {
    const double positionValue = from + dir * step + 0.5;
    if (dir > 0 ? positionValue >= stepSize : positionValue <= -1.0) break;
    const long long position = static_cast<long long>(positionValue);
    if ((position - endPosition) * dir >= 0) break;
    if (position < 0 || position >= stepSize) continue;
    const double crossValue = static_cast<double>(line.slope * static_cast<float>(position) + line.intercept) + 0.5;
    if (!(crossValue > -1.0 && crossValue < crossSize)) continue;
    const int cross = static_cast<int>(crossValue);
    const int x = stepsX ? static_cast<int>(position) : cross;
    const int y = stepsX ? cross : static_cast<int>(position);
    const std::uint8_t colour = image->imageData[y * image->widthStep + x] == 0 ? 1 : 0;
    if (trace.runCount > 0 && trace.runColours[trace.runCount - 1] == colour) {
      ++trace.runLengths[trace.runCount - 1];
      continue;
    }
    trace.runColours[trace.runCount] = colour;
    trace.runLengths[trace.runCount] = 1;
    if (++trace.runCount >= RUN_TRACE_CAPACITY) break;
  }
  return trace;
}

// Variance of the runs a sweep scores: all but a leading light run and the last run.
double scoredVariance(const RunTrace& trace) {
  const int first = trace.runCount > 0 && trace.runColours[0] == 1 ? 1 : 0;
  const int count = trace.runCount - first - 1;
  if (count <= 0) return 0.0;
  double sum = 0.0;
  for (int i = 0; i < count; ++i) sum += trace.runLengths[first + i];
  return runVariance(count, sum / count, trace.runLengths + first);
}

// Random lines of both kinds and directions over noise of several densities: steep and flat slopes,
// ends inside and far outside the image, half-pixel coordinates, lines that graze a corner.
TEST(TraceRuns, MatchesTheStepByStepWalkOnRandomLines) {
  std::mt19937 random(13);
  const int sizes[][2] = {{1, 1}, {2, 7}, {37, 23}, {160, 120}};
  for (const auto& size : sizes) {
    Binary bin(size[0], size[1]);
    for (const double density : {0.02, 0.5, 0.97}) {
      std::bernoulli_distribution dark(density);
      for (int y = 0; y < size[1]; ++y) {
        for (int x = 0; x < size[0]; ++x) {
          bin.image->imageData[y * bin.image->widthStep + x] = dark(random) ? static_cast<char>(255) : 0;
        }
      }
      const double reach = 1.5 * std::max(size[0], size[1]) + 4;
      std::uniform_real_distribution<double> coordinate(-reach, reach);
      std::uniform_real_distribution<float> slope(-3.0f, 3.0f);
      std::uniform_int_distribution<int> pick(0, 5);
      for (int i = 0; i < 3000; ++i) {
        EdgeLine line{pick(random) % 2 == 0 ? LINE_Y_FROM_X : LINE_X_FROM_Y, slope(random),
                      static_cast<float>(coordinate(random))};
        double ends[4] = {coordinate(random), coordinate(random), coordinate(random), coordinate(random)};
        switch (pick(random)) {
          case 0:  // whole and half pixels, where the rounding of positions turns
            for (double& end : ends) end = std::round(end * 2.0) / 2.0;
            line.intercept = std::round(line.intercept * 2.0f) / 2.0f;
            break;
          case 1:  // level and upright lines
            line.slope = 0.0f;
            break;
          case 2:  // single-precision ends, as the sweep passes them
            for (double& end : ends) end = static_cast<float>(end);
            break;
          default: break;
        }
        SCOPED_TRACE(testing::Message() << size[0] << "x" << size[1] << " kind " << line.kind << " slope " << line.slope
                                        << " intercept " << line.intercept << " from " << ends[0] << "," << ends[1]
                                        << " to " << ends[2] << "," << ends[3]);
        const RunTrace expected = referenceTraceRuns(bin.image, ends[0], ends[1], ends[2], ends[3], line);
        traceRuns(&runTrace, bin.image, ends[0], ends[1], ends[2], ends[3], line);
        ASSERT_EQ(runTrace.runCount, expected.runCount);
        ASSERT_EQ(tracedLengths(), std::vector<int>(expected.runLengths, expected.runLengths + expected.runCount));
        ASSERT_EQ(tracedColours(), std::vector<int>(expected.runColours, expected.runColours + expected.runCount));

        // The sweep's trace gives up only on runs whose scored part cannot pass the variance limit.
        if (traceRegularRuns(&runTrace, bin.image, ends[0], ends[1], ends[2], ends[3], line, 15)) {
          ASSERT_EQ(tracedLengths(), std::vector<int>(expected.runLengths, expected.runLengths + expected.runCount));
        } else {
          ASSERT_EQ(runTrace.runCount, 0);
          ASSERT_GE(scoredVariance(expected), 15.0);
        }
      }
    }
  }
}

// One row of runs: a long dark run among even ones spoils the variance at once, an even row never does,
// and a long run at the very end is the unscored last run.
TEST(TraceRegularRuns, GivesUpOnlyWhenTheScoredRunsCannotBeEven) {
  struct Case {
    const char* name;
    std::vector<int> runs;  // alternating dark, light, ... from x = 0
    bool kept;
  };
  const Case cases[] = {
      {"even runs", {6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6}, true},
      {"one long run early", {6, 6, 90, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6}, false},
      {"long last run", {6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 90}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Binary bin(400, 1);
    int x = 0;
    for (size_t i = 0; i < c.runs.size(); ++i) {
      for (int j = 0; j < c.runs[i]; ++j, ++x) {
        if (i % 2 == 0) bin.setDark(x, 0);
      }
    }
    const EdgeLine row = {LINE_Y_FROM_X, 0.0f, 0.0f};
    traceRuns(&runTrace, bin.image, 1, 0, x - 1, 0, row);
    const std::vector<int> full = tracedLengths();
    EXPECT_EQ(full, c.runs);
    EXPECT_EQ(traceRegularRuns(&runTrace, bin.image, 1, 0, x - 1, 0, row, 15), c.kept);
    EXPECT_EQ(tracedLengths(), c.kept ? full : std::vector<int>());
  }
}

TEST(CountTimingModules, DropsALeadingAndATrailingLightRun) {
  struct Case {
    const char* pattern;  // one character per pixel of row 0: '#' dark, '.' light
    int expected;
  };
  const Case cases[] = {
      {"..##..##..", 3}, {"##..##", 3}, {"..##..##", 3}, {"##..##..", 3}, {"......", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pattern);
    const int width = static_cast<int>(std::string(c.pattern).size());
    Binary bin(width, 1);
    for (int x = 0; x < width; ++x) {
      if (c.pattern[x] == '#') bin.setDark(x, 0);
    }
    // From x = 1 so that the walk's first pixel (one before the start) is x = 0.
    EXPECT_EQ(countTimingModules(&runTrace, bin.image, {LINE_Y_FROM_X, 0.0f, 0.0f}, 1, 0, width - 1, 0), c.expected);
  }
}

TEST(FitRunModel, LeastSquaresLineOverTheRunIndex) {
  const std::vector<int> linear = {3, 5, 7, 9, 11, 13, 15};
  RunModel model = fitRunModel(linear.data(), 7);
  EXPECT_EQ(model.valid, 1);
  EXPECT_FLOAT_EQ(model.slope, 2.0f);
  EXPECT_FLOAT_EQ(model.intercept, 3.0f);

  // sums: n 6, i 15, i^2 55, v 54, iv 143; d = 105.
  const std::vector<int> noisy = {8, 8, 9, 9, 10, 10};
  model = fitRunModel(noisy.data(), 6);
  EXPECT_FLOAT_EQ(model.slope, 48.0f / 105.0f);
  EXPECT_FLOAT_EQ(model.intercept, 825.0f / 105.0f);

  // 143 runs of 16 pixels: sum(v) * sum(i^2) passes 2^31, the fit must not.
  const std::vector<int> longEdge(143, 16);
  model = fitRunModel(longEdge.data(), 143);
  EXPECT_NEAR(model.slope, 0.0f, 1e-6f);
  EXPECT_NEAR(model.intercept, 16.0f, 1e-3f);

  EXPECT_EQ(fitRunModel(linear.data(), 1).valid, 0);  // one point makes no line
}

TEST(SymbolSizes, HoldTheThirtyEcc200SizesWithTheLongSideAsColumns) {
  int squares = 0;
  for (const SymbolSize& size : symbolSizes) squares += size.columns == size.rows;
  EXPECT_EQ(squares, 24);
  EXPECT_TRUE(isSymbolSize(18, 8));
  EXPECT_FALSE(isSymbolSize(8, 18));
  EXPECT_TRUE(isSymbolSize(144, 144));
  EXPECT_FALSE(isSymbolSize(146, 146));
  EXPECT_FALSE(isSymbolSize(28, 28));
}

// An upright timing pattern of `columns` x `rows` 3-pixel modules, top row at y = 0..2 and right column
// at x = 3 * (columns - 1) ..: top row dark at even columns, right column dark at the bottom and then
// every second row upward. The candidate's corners sit one pixel inside the outer corners.
struct TimingFixture {
  Binary bin;
  SymbolDecoder ctx;
  TimingFixture(int columns, int rows) : bin(3 * columns + 4, 3 * rows + 4) {
    for (int x = 0; x < 3 * columns; ++x) {
      if ((x / 3) % 2 == 0) bin.setDark(x, 1);
    }
    const int column = 3 * columns - 2;
    for (int y = 0; y < 3 * rows; ++y) {
      if ((rows - 1 - y / 3) % 2 == 0) bin.setDark(column, y);
    }
    ctx.workImage = bin.image;
    ctx.candidateCount = 1;
    SymbolCandidate& c = ctx.candidates[0];
    c.corners[0] = {1.0f, 1.0f};
    c.corners[1] = {static_cast<float>(column), 1.0f};
    c.corners[2] = {static_cast<float>(column), static_cast<float>(3 * rows - 2)};
    c.oppositeB = {LINE_Y_FROM_X, 0.0f, 1.0f};
    c.oppositeA = {LINE_X_FROM_Y, 0.0f, static_cast<float>(column)};
  }
};

TEST(MeasureSymbolSize, AcceptsOnlyTheTableSizesWithColumnsCountedFirst) {
  struct Case {
    int columns, rows, status;
  };
  const Case cases[] = {{18, 8, MEASURE_STATUS_OK},
                        {8, 18, MEASURE_STATUS_BAD_SIZE},
                        {10, 10, MEASURE_STATUS_OK},
                        {12, 10, MEASURE_STATUS_BAD_SIZE},
                        {144, 144, MEASURE_STATUS_OK}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.columns) + "x" + std::to_string(c.rows));
    TimingFixture fixture(c.columns, c.rows);
    SymbolMeasure measure;
    EXPECT_EQ(measureSymbolSize(&fixture.ctx, 0, &measure), c.status);
    EXPECT_EQ(measure.columns, c.columns);
    EXPECT_EQ(measure.rows, c.rows);
    if (c.status == MEASURE_STATUS_OK) {
      EXPECT_NEAR(measure.columnModel.intercept, 3.0f, 0.5f);  // 3-pixel modules along both edges
      EXPECT_NEAR(measure.rowModel.intercept, 3.0f, 0.5f);
    }
  }
}

TEST(MeasureSymbolSize, RefusesMoreThan144ColumnsBeforeTracingTheRows) {
  TimingFixture fixture(146, 10);  // 145 dark-light alternations along the top edge
  SymbolMeasure measure;
  EXPECT_EQ(measureSymbolSize(&fixture.ctx, 0, &measure), MEASURE_STATUS_BAD_SIZE);
  EXPECT_EQ(measure.columns, 146);
  EXPECT_EQ(measure.rows, 0);
  EXPECT_GT(fixture.ctx.runTrace.runCount, 144);  // the run table still holds the top edge
}

}  // namespace
