#include <algorithm>
#include <cmath>

#include <gtest/gtest.h>

#include "decoder/geometry.h"

namespace {

CvPoint2D32f pt(float x, float y) { return cvPoint2D32f(x, y); }

struct LineCase {
  const char* name;
  CvPoint2D32f p, q;
  int kind;
  float slope, intercept;
};

TEST(LineThroughPoints, KindSlopeAndIntercept) {
  const LineCase cases[] = {
      {"horizontal", pt(0, 5), pt(10, 5), LINE_Y_FROM_X, 0.0f, 5.0f},
      {"gentle rise", pt(2, 1), pt(12, 6), LINE_Y_FROM_X, 0.5f, 0.0f},
      {"45 degrees is y of x", pt(0, 0), pt(7, 7), LINE_Y_FROM_X, 1.0f, 0.0f},
      {"steep is x of y", pt(3, 0), pt(4, 10), LINE_X_FROM_Y, 0.1f, 3.0f},
      {"vertical", pt(4, 2), pt(4, 9), LINE_X_FROM_Y, 0.0f, 4.0f},
      {"falling, reversed points", pt(10, 0), pt(0, 10), LINE_Y_FROM_X, -1.0f, 10.0f},
      {"coincident points stay defined", pt(3, 3), pt(3, 3), LINE_Y_FROM_X, 0.0f, 3.0f},
  };
  for (const LineCase& c : cases) {
    SCOPED_TRACE(c.name);
    const EdgeLine line = lineThroughPoints(c.p, c.q);
    EXPECT_EQ(line.kind, c.kind);
    EXPECT_FLOAT_EQ(line.slope, c.slope);
    EXPECT_FLOAT_EQ(line.intercept, c.intercept);
  }
}

TEST(ParallelThrough, InterceptPerKind) {
  EXPECT_FLOAT_EQ(parallelThrough(LINE_Y_FROM_X, 0.5f, pt(4, 10)).intercept, 8.0f);
  EXPECT_FLOAT_EQ(parallelThrough(LINE_X_FROM_Y, 0.5f, pt(4, 10)).intercept, -1.0f);
}

struct IntersectCase {
  const char* name;
  EdgeLine l1, l2;
  bool ok;
  float x, y;
};

TEST(IntersectLines, AllKindPairsAndNearParallelFailures) {
  const IntersectCase cases[] = {
      {"y-of-x pair", {LINE_Y_FROM_X, 1.0f, 0.0f}, {LINE_Y_FROM_X, -1.0f, 10.0f}, true, 5.0f, 5.0f},
      {"x-of-y pair", {LINE_X_FROM_Y, 0.5f, 0.0f}, {LINE_X_FROM_Y, -0.5f, 4.0f}, true, 2.0f, 4.0f},
      {"y-of-x with x-of-y", {LINE_Y_FROM_X, 0.0f, 7.0f}, {LINE_X_FROM_Y, 0.0f, 3.0f}, true, 3.0f, 7.0f},
      {"x-of-y with y-of-x", {LINE_X_FROM_Y, 0.0f, 3.0f}, {LINE_Y_FROM_X, 0.0f, 7.0f}, true, 3.0f, 7.0f},
      {"slopes 0.009 apart", {LINE_Y_FROM_X, 0.2f, 0.0f}, {LINE_Y_FROM_X, 0.209f, 5.0f}, false, 0, 0},
      {"slopes 0.011 apart", {LINE_Y_FROM_X, 0.2f, 0.0f}, {LINE_Y_FROM_X, 0.211f, 5.0f}, true, -454.54545f, -90.90909f},
      {"x-of-y identical slopes", {LINE_X_FROM_Y, 0.3f, 1.0f}, {LINE_X_FROM_Y, 0.3f, 9.0f}, false, 0, 0},
      {"mixed kinds, 1 - s1 s2 near 0", {LINE_Y_FROM_X, 0.999f, 0.0f}, {LINE_X_FROM_Y, 1.0f, 2.0f}, false, 0, 0},
      {"mixed kinds, reversed", {LINE_X_FROM_Y, 1.0f, 2.0f}, {LINE_Y_FROM_X, 0.995f, 0.0f}, false, 0, 0},
  };
  for (const IntersectCase& c : cases) {
    SCOPED_TRACE(c.name);
    CvPoint2D32f point = pt(-1234.0f, -5678.0f);
    ASSERT_EQ(intersectLines(c.l1, c.l2, &point), c.ok);
    if (c.ok) {
      EXPECT_NEAR(point.x, c.x, 1e-4 * std::max(1.0f, std::fabs(c.x)));
      EXPECT_NEAR(point.y, c.y, 1e-4 * std::max(1.0f, std::fabs(c.y)));
    } else {
      EXPECT_EQ(point.x, -1234.0f);  // nothing written on failure
      EXPECT_EQ(point.y, -5678.0f);
    }
  }
}

TEST(StepToward, MovesAlongTheLineTowardTheReference) {
  struct Case {
    EdgeLine line;
    float distance;
    CvPoint2D32f from, reference, expected;
  } cases[] = {
      {{LINE_Y_FROM_X, 0.0f, 5.0f}, 2.0f, pt(10, 5), pt(0, 5), pt(8, 5)},
      {{LINE_Y_FROM_X, 0.0f, 5.0f}, 2.0f, pt(0, 5), pt(10, 5), pt(2, 5)},
      {{LINE_X_FROM_Y, 0.0f, 3.0f}, 1.0f, pt(3, 0), pt(3, 50), pt(3, 1)},
      {{LINE_Y_FROM_X, 0.75f, 0.0f}, 5.0f, pt(8, 6), pt(0, 0), pt(4, 3)},
      {{LINE_X_FROM_Y, -0.75f, 0.0f}, 5.0f, pt(-6, 8), pt(0, 0), pt(-3, 4)},
  };
  for (const Case& c : cases) {
    const CvPoint2D32f moved = stepToward(c.line, c.distance, c.from, c.reference);
    EXPECT_NEAR(moved.x, c.expected.x, 1e-5);
    EXPECT_NEAR(moved.y, c.expected.y, 1e-5);
  }
}

TEST(PointDistance, DoublePrecision) {
  EXPECT_DOUBLE_EQ(pointDistance(pt(0, 0), pt(3, 4)), 5.0);
  EXPECT_DOUBLE_EQ(pointDistance(cvPoint(1, 1), cvPoint(1, 1)), 0.0);
  EXPECT_DOUBLE_EQ(pointDistance(cvPoint(0, 0), cvPoint(1, 1)), std::sqrt(2.0));
}

}  // namespace
