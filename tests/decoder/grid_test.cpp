// Corner walks, grid lines, disc sampling and the module threshold.
#include <cmath>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "decoder/grid.h"

namespace {

struct Binary {
  IplImage* image;
  Binary(int width, int height, int fill = 0) : image(cvCreateImage(cvSize(width, height), IPL_DEPTH_8U, 1)) {
    cvSet(image, cvScalar(fill));
  }
  ~Binary() { cvReleaseImage(&image); }
  void set(int x, int y, int value) { image->imageData[y * image->widthStep + x] = static_cast<char>(value); }
};

TEST(WalkToDark, StopsOnTheFirstDarkPixelWithinTheLimit) {
  Binary bin(30, 10);
  bin.set(3, 5, 255);
  bin.set(20, 5, 128);  // the other mark of a dark pixel
  const EdgeLine row5 = {LINE_Y_FROM_X, 0.0f, 5.0f};
  struct Case {
    const char* name;
    EdgeLine line;
    float startX, startY, limitX, limitY;
    CvPoint2D32f expected;
  };
  const Case cases[] = {
      {"leftward", row5, 10, 5, 0, 5, {3, 5}},
      {"unrounded position", row5, 10.3f, 5, 0, 5, {3.3f, 5}},
      {"limit itself is examined", row5, 10, 5, 3, 5, {3, 5}},
      {"limit passed first", row5, 10, 5, 3.5f, 5, {-1, -1}},
      {"start not examined", row5, 3, 5, 0, 5, {-1, -1}},
      {"value 128 is dark", row5, 10, 5, 29, 5, {20, 5}},
      {"pixels outside skipped", row5, 45, 5, 0, 5, {20, 5}},
      // y = 4.5 rounds half to even onto row 4, which is light.
      {"row rounded half to even", {LINE_Y_FROM_X, 0.0f, 4.5f}, 10, 4.5f, 0, 4.5f, {-1, -1}},
      {"x from y", {LINE_X_FROM_Y, 0.0f, 3.0f}, 3, 0, 3, 9, {3, 5}},
      {"start far outside", row5, 1e9f, 5, 0, 5, {-1, -1}},
      {"not a number", {LINE_Y_FROM_X, std::nanf(""), 5.0f}, 10, 5, 0, 5, {-1, -1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const CvPoint2D32f p = walkToDark(bin.image, c.line, c.startX, c.startY, c.limitX, c.limitY);
    EXPECT_FLOAT_EQ(p.x, c.expected.x);
    EXPECT_FLOAT_EQ(p.y, c.expected.y);
  }
}

ModuleGrid squareGrid(int columns, int rows, CvPoint2D32f topLeft, float width, float height) {
  ModuleGrid grid;
  grid.columns = columns;
  grid.rows = rows;
  const CvPoint2D32f corners[4] = {topLeft,
                                   {topLeft.x + width, topLeft.y},
                                   {topLeft.x + width, topLeft.y + height},
                                   {topLeft.x, topLeft.y + height}};
  const RunModel none = {0, 0.0f, 0.0f};
  buildGridLines(corners, &grid, none, none, none, none);
  return grid;
}

TEST(BuildGridLines, LaysColumnsFromTheLeftAndRowsFromTheTopWithBottomCountedModels) {
  ModuleGrid grid;
  grid.columns = 9;  // a 10 x 10 symbol
  grid.rows = 9;
  const CvPoint2D32f corners[4] = {{0, 0}, {90, 0}, {90, 90}, {0, 90}};
  const RunModel columns = {1, 0.0f, 10.0f};
  const RunModel rows = {1, 0.5f, 8.0f};  // module t from the bottom is 8 + t / 2 wide: the top one 12
  buildGridLines(corners, &grid, columns, rows, rows, columns);
  ASSERT_EQ(grid.gridLines.size(), 16u);
  const float rowBoundaries[] = {12.0f, 23.5f, 34.5f, 45.0f, 55.0f, 64.5f, 73.5f, 82.0f};
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(grid.gridLines[i].kind, LINE_X_FROM_Y);
    EXPECT_FLOAT_EQ(grid.gridLines[i].intercept, 10.0f * (i + 1));
    EXPECT_EQ(grid.gridLines[8 + i].kind, LINE_Y_FROM_X);
    EXPECT_FLOAT_EQ(grid.gridLines[8 + i].intercept, rowBoundaries[i]);
  }
  grid.columns = 17;  // an 18 x 8 symbol
  grid.rows = 7;
  buildGridLines(corners, &grid, columns, rows, rows, columns);
  EXPECT_EQ(grid.gridLines.size(), 22u);
}

// One cell whose diagonals are 7 pixels long samples a disc of radius 3.5 around pixel (20, 20).
TEST(SampleModules, ConeWeightsForRadiusThreePointFive) {
  const float side = 7.0f / std::sqrt(2.0f);
  struct Case {
    int x, y;
    float weight;
  };
  const Case cases[] = {{20, 20, 1.0f},         {21, 20, 5.0f / 7.0f}, {21, 21, 3.0f / 7.0f},
                        {22, 21, 1.0f / 7.0f},  {21, 23, -1.0f / 7.0f}, {21, 24, 0.0f}};
  float centreValue = 0.0f;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "(" << c.x << ", " << c.y << ")");
    Binary bin(40, 40);
    bin.set(c.x, c.y, 255);
    ModuleGrid grid = squareGrid(1, 1, {20.0f - side / 2, 20.0f - side / 2}, side, side);
    ASSERT_EQ(sampleModules(&grid, bin.image), SAMPLE_MODULES_OK);
    if (c.x == 20 && c.y == 20) centreValue = grid.moduleValues[0];
    // One dark pixel gives its weight over the weight sum; relative to the centre pixel, its weight.
    EXPECT_NEAR(grid.moduleValues[0] / centreValue, c.weight, 1e-5f);
  }
}

TEST(SampleModules, CellCornersMayReachBackTo300PixelsLeftOfTheImage) {
  Binary bin(400, 400, 255);
  ModuleGrid within = squareGrid(1, 1, {-300.0f, 10.0f}, 330.0f, 20.0f);
  EXPECT_EQ(sampleModules(&within, bin.image), SAMPLE_MODULES_OK);
  EXPECT_FLOAT_EQ(within.moduleValues[0], 1.0f);  // the window is clipped at column 0, not refused
  ModuleGrid beyond = squareGrid(1, 1, {-301.0f, 10.0f}, 331.0f, 20.0f);
  EXPECT_EQ(sampleModules(&beyond, bin.image), SAMPLE_MODULES_OUTSIDE);
  ModuleGrid wide = squareGrid(1, 1, {10.0f, 10.0f}, 600.0f, 600.0f);  // radius beyond the image width
  EXPECT_EQ(sampleModules(&wide, bin.image), SAMPLE_MODULES_TOO_WIDE);
  ModuleGrid pastRight = squareGrid(1, 1, {390.0f, 10.0f}, 20.0f, 20.0f);
  EXPECT_EQ(sampleModules(&pastRight, bin.image), SAMPLE_MODULES_TOO_WIDE);
}

TEST(SampleModules, DegenerateGridsFailWithoutReadingOutsideTheImage) {
  Binary bin(50, 50, 255);
  const float nan = std::numeric_limits<float>::quiet_NaN();
  ModuleGrid point = squareGrid(3, 3, {20.0f, 20.0f}, 0.0f, 0.0f);
  EXPECT_NE(sampleModules(&point, bin.image), SAMPLE_MODULES_OK);
  ModuleGrid notANumber = squareGrid(3, 3, {nan, 20.0f}, 10.0f, 10.0f);
  EXPECT_NE(sampleModules(&notANumber, bin.image), SAMPLE_MODULES_OK);
  ModuleGrid below = squareGrid(2, 2, {10.0f, 5000.0f}, 10.0f, 10.0f);
  EXPECT_EQ(sampleModules(&below, bin.image), SAMPLE_MODULES_OUTSIDE);
  // Parallel cell lines: every grid line lies on the top border, so no corner can be formed from them.
  ModuleGrid flat = squareGrid(3, 3, {10.0f, 10.0f}, 20.0f, 20.0f);
  for (EdgeLine& line : flat.gridLines) line = flat.borders[0];
  const int status = sampleModules(&flat, bin.image);
  EXPECT_TRUE(status == SAMPLE_MODULES_OK || status == SAMPLE_MODULES_OUTSIDE || status == SAMPLE_MODULES_TOO_WIDE);
}

TEST(ThresholdModules, OnlyValuesStrictlyAboveTheLevelAreDark) {
  ModuleGrid grid;
  grid.columns = 5;
  grid.rows = 1;
  grid.moduleValues = {0.5f, 0.49f, 0.5000001f, 1.0f, 0.0f};
  ModuleMatrix matrix;
  thresholdModules(grid, MODULE_LEVEL, &matrix);
  EXPECT_EQ(matrix.columns, 5);
  EXPECT_EQ(matrix.rows, 1);
  const std::vector<std::uint8_t> expected = {0, 0, 1, 1, 0, 0};  // and the byte after the matrix stays 0
  EXPECT_EQ(std::vector<std::uint8_t>(matrix.modules, matrix.modules + 6), expected);
}

}  // namespace
