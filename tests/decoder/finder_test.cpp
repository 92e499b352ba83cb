// The finder-pattern test on hand-made polygons: which sides are straight decides the L.
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/imgproc/imgproc_c.h>

#include "decoder/finder.h"

namespace {

constexpr int IMAGE_SIZE = 200;

// A ragged side zig-zags inward, as the alternating timing modules do; a straight side is one edge.
void appendSide(std::vector<CvPoint>* points, CvPoint from, CvPoint to, bool straight) {
  points->push_back(from);
  if (straight) return;
  const int steps = 10;
  const double length = std::hypot(to.x - from.x, to.y - from.y);
  // Inward normal for a clockwise outline in image coordinates (y down).
  const double nx = -(to.y - from.y) / length, ny = (to.x - from.x) / length;
  for (int k = 1; k < steps; ++k) {
    const double t = static_cast<double>(k) / steps;
    const double depth = (k % 2 == 1) ? 4.0 : 0.0;
    points->push_back(cvPoint(static_cast<int>(std::lround(from.x + t * (to.x - from.x) + depth * nx)),
                              static_cast<int>(std::lround(from.y + t * (to.y - from.y) + depth * ny))));
  }
}

struct Outline {
  CvPoint topLeft, topRight, bottomRight, bottomLeft;
  bool straightTop, straightRight, straightBottom, straightLeft;
};

CvSeq* makePolygon(CvMemStorage* storage, const Outline& o) {
  std::vector<CvPoint> points;
  appendSide(&points, o.topLeft, o.topRight, o.straightTop);
  appendSide(&points, o.topRight, o.bottomRight, o.straightRight);
  appendSide(&points, o.bottomRight, o.bottomLeft, o.straightBottom);
  appendSide(&points, o.bottomLeft, o.topLeft, o.straightLeft);
  CvSeq* polygon = cvCreateSeq(CV_SEQ_POLYGON, sizeof(CvContour), sizeof(CvPoint), storage);
  for (CvPoint& p : points) cvSeqPush(polygon, &p);
  cvBoundingRect(polygon, 1);  // store the bounding rectangle, as the polygon step does
  return polygon;
}

struct LCase {
  const char* name;
  bool top, right, bottom, left;
  bool accepted;
  CvPoint vertex;  // expected L vertex when accepted
};

TEST(FinderTest, AdjacentStraightSidesMakeTheLAndFacingSidesDoNot) {
  const CvPoint tl = cvPoint(10, 10), tr = cvPoint(110, 10), br = cvPoint(110, 110), bl = cvPoint(10, 110);
  const LCase cases[] = {
      {"left and bottom", false, false, true, true, true, bl},
      {"top and left", true, false, false, true, true, tl},
      {"top and right", true, true, false, false, true, tr},
      {"right and bottom", false, true, true, false, true, br},
      {"left and right face each other", false, true, false, true, false, {}},
      {"top and bottom face each other", true, false, true, false, false, {}},
      {"one straight side", false, false, true, false, false, {}},
      {"no straight side", false, false, false, false, false, {}},
  };
  for (const LCase& c : cases) {
    SCOPED_TRACE(c.name);
    CvMemStorage* storage = cvCreateMemStorage(0);
    SymbolDecoder ctx;
    CvSeq* polygon = makePolygon(storage, {tl, tr, br, bl, c.top, c.right, c.bottom, c.left});
    EXPECT_EQ(testPolygon(&ctx, polygon, IMAGE_SIZE, IMAGE_SIZE), c.accepted);
    ASSERT_EQ(ctx.candidateCount, c.accepted ? 1 : 0);
    if (c.accepted) {
      const SymbolCandidate& cand = ctx.candidates[0];
      EXPECT_FLOAT_EQ(cand.corners[0].x, static_cast<float>(c.vertex.x));
      EXPECT_FLOAT_EQ(cand.corners[0].y, static_cast<float>(c.vertex.y));
      // Legs of 100 px move their far ends 2 px inward; the fourth corner faces the vertex.
      for (int k = 1; k <= 2; ++k) {
        const double fromVertex = pointDistance(cand.corners[k], cand.corners[0]);
        EXPECT_NEAR(fromVertex, 98.0, 1e-4);
      }
      EXPECT_NEAR(cand.corners[3].x, 120.0f - c.vertex.x + (c.vertex.x == 10 ? -2 : 2), 1e-3);
      EXPECT_NEAR(cand.corners[3].y, 120.0f - c.vertex.y + (c.vertex.y == 10 ? -2 : 2), 1e-3);
    }
    cvReleaseMemStorage(&storage);
  }
}

TEST(FinderTest, ShortThirdSolidSideIsIgnoredOnlyBelowHalfTheLongest) {
  // Straight left and bottom legs of 100 px and a straight top side of exactly 50 px (48, -14) or of
  // 49.7 px (48, -13): a third solid side is dropped only when shorter than half the longest.
  struct Case {
    int topRightY;
    bool accepted;
  } cases[] = {{17, true}, {16, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.topRightY);
    CvMemStorage* storage = cvCreateMemStorage(0);
    SymbolDecoder ctx;
    const Outline outline = {cvPoint(10, 30), cvPoint(58, c.topRightY), cvPoint(110, 130), cvPoint(10, 130),
                             true, false, true, true};
    EXPECT_EQ(testPolygon(&ctx, makePolygon(storage, outline), IMAGE_SIZE, IMAGE_SIZE), c.accepted);
    if (c.accepted) {
      EXPECT_FLOAT_EQ(ctx.candidates[0].corners[0].x, 10.0f);
      EXPECT_FLOAT_EQ(ctx.candidates[0].corners[0].y, 130.0f);
    }
    cvReleaseMemStorage(&storage);
  }
}

TEST(FinderTest, LegEndsStepInwardByOnePlusHundredths) {
  // Legs of 99, 100 and 199 pixels move their far ends by 1, 2 and 2 pixels.
  for (const int leg : {99, 100, 199}) {
    SCOPED_TRACE(leg);
    CvMemStorage* storage = cvCreateMemStorage(0);
    SymbolDecoder ctx;
    const Outline outline = {cvPoint(0, 0), cvPoint(leg, 0), cvPoint(leg, leg), cvPoint(0, leg),
                             false, false, true, true};
    ASSERT_TRUE(testPolygon(&ctx, makePolygon(storage, outline), 400, 400));
    const float expectedStep = leg < 100 ? 1.0f : 2.0f;
    const SymbolCandidate& cand = ctx.candidates[0];
    EXPECT_NEAR(pointDistance(cand.corners[0], cand.corners[1]), leg - expectedStep, 1e-4);
    EXPECT_NEAR(pointDistance(cand.corners[0], cand.corners[2]), leg - expectedStep, 1e-4);
    cvReleaseMemStorage(&storage);
  }
}

TEST(FinderTest, ThinBarIsDropped) {
  CvMemStorage* storage = cvCreateMemStorage(0);
  SymbolDecoder ctx;
  const Outline bar = {cvPoint(10, 50), cvPoint(190, 50), cvPoint(190, 56), cvPoint(10, 56), false, true, true, false};
  EXPECT_FALSE(testPolygon(&ctx, makePolygon(storage, bar), IMAGE_SIZE, IMAGE_SIZE));
  EXPECT_EQ(ctx.candidateCount, 0);
  cvReleaseMemStorage(&storage);
}

TEST(FinderTest, FourthCornerMustLieInsideTheImage) {
  // The facing corner lands at x = 108: accepted in an image 109 wide, dropped in one 108 wide.
  const Outline outline = {cvPoint(10, 10), cvPoint(110, 10), cvPoint(110, 110), cvPoint(10, 110),
                           false, false, true, true};
  for (const auto& [width, accepted] : {std::pair{109, true}, std::pair{108, false}}) {
    SCOPED_TRACE(width);
    CvMemStorage* storage = cvCreateMemStorage(0);
    SymbolDecoder ctx;
    EXPECT_EQ(testPolygon(&ctx, makePolygon(storage, outline), width, IMAGE_SIZE), accepted);
    cvReleaseMemStorage(&storage);
  }
}

TEST(EstimateCorners, SquareGivesItsCornersAndDegeneratePolygonsFail) {
  CvMemStorage* storage = cvCreateMemStorage(0);
  const Outline square = {cvPoint(10, 10), cvPoint(110, 10), cvPoint(110, 110), cvPoint(10, 110),
                          true, true, true, true};
  CornerQuad quad;
  ASSERT_EQ(estimateCorners(makePolygon(storage, square), &quad), CORNERS_FOUND);
  const double diagonal = pointDistance(quad.c0, quad.c1);
  EXPECT_NEAR(diagonal, 100.0 * std::sqrt(2.0), 1e-9);
  EXPECT_NEAR(pointDistance(quad.c0, quad.c2) + pointDistance(quad.c1, quad.c2), std::sqrt(2.0) * diagonal, 1e-9);

  CvSeq* single = cvCreateSeq(CV_SEQ_POLYGON, sizeof(CvContour), sizeof(CvPoint), storage);
  CvPoint p = cvPoint(5, 5);
  cvSeqPush(single, &p);
  cvSeqPush(single, &p);
  cvBoundingRect(single, 1);
  EXPECT_EQ(estimateCorners(single, &quad), CORNERS_NO_DISTINCT_PAIR);

  CvSeq* segment = cvCreateSeq(CV_SEQ_POLYGON, sizeof(CvContour), sizeof(CvPoint), storage);
  for (CvPoint q : {cvPoint(0, 0), cvPoint(5, 5), cvPoint(10, 10)}) cvSeqPush(segment, &q);
  cvBoundingRect(segment, 1);
  EXPECT_EQ(estimateCorners(segment, &quad), CORNERS_EMPTY_SIDE);
  cvReleaseMemStorage(&storage);
}

}  // namespace
