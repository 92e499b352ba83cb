// Run tracing, module counting, run models and the symbol-size check.
#include <cmath>
#include <limits>
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
  const Case cases[] = {{18, 8, MEASURE_STATUS_OK}, {8, 18, MEASURE_STATUS_BAD_SIZE}, {10, 10, MEASURE_STATUS_OK},
                        {12, 10, MEASURE_STATUS_BAD_SIZE}, {144, 144, MEASURE_STATUS_OK}};
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
