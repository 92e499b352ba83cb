// Finder-pattern test: the four corners of a polygon, its straight sides, and the solid L they form.
#include "decoder/finder.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include <opencv2/imgproc/imgproc_c.h>

namespace {

constexpr double THIN_SHAPE_FACTOR = 1.1;  // ellipse through the diagonal's ends, major axis 1.1 * diagonal
constexpr int SOLID_SIDE_MAX_GAP = 3;      // corners at most one vertex apart on the polygon
constexpr int SIDE_COUNT = 4;

// Vertices are read with a reverse-opened reader advanced forward: the last vertex first, then 0, 1, ...
// Every tie below is decided in this order.
void startVertexWalk(const CvSeq* polygon, CvSeqReader* reader) { cvStartReadSeq(polygon, reader, 1); }

CvPoint readVertex(CvSeqReader* reader) {
  CvPoint vertex;
  CV_READ_SEQ_ELEM(vertex, *reader);
  return vertex;
}

bool samePoint(CvPoint a, CvPoint b) { return a.x == b.x && a.y == b.y; }

CvPoint2D32f toFloat(CvPoint p) { return cvPoint2D32f(static_cast<float>(p.x), static_cast<float>(p.y)); }

// One side of the corner quadrilateral, from corner `from` to corner `to` (indices into the quad).
struct QuadSide {
  int from;
  int to;
};
constexpr QuadSide QUAD_SIDES[SIDE_COUNT] = {{0, 2}, {0, 3}, {1, 2}, {1, 3}};

struct SideInfo {
  bool solid = false;
  double length = 0.0;
  EdgeLine line = {LINE_Y_FROM_X, 0.0f, 0.0f};
};

// The four ways two adjacent solid sides make an L: the L vertex, then per leg its side and far end.
struct LShape {
  int sideA, sideB;
  int vertex, farA, farB;
};
constexpr LShape L_SHAPES[4] = {
    {0, 1, 0, 2, 3},
    {2, 3, 1, 2, 3},
    {1, 3, 3, 0, 1},
    {0, 2, 2, 0, 1},
};

void classifySides(const CvSeq* polygon, const CvPoint quad[4], SideInfo sides[SIDE_COUNT]) {
  const int n = polygon->total;
  int position[4] = {0, 0, 0, 0};
  CvSeqReader reader;
  startVertexWalk(polygon, &reader);
  for (int v = 0; v < n; ++v) {
    const CvPoint vertex = readVertex(&reader);
    for (int c = 0; c < 4; ++c) {
      if (samePoint(vertex, quad[c])) position[c] = v;  // a later equal vertex overwrites an earlier one
    }
  }
  for (int s = 0; s < SIDE_COUNT; ++s) {
    int first = QUAD_SIDES[s].from, second = QUAD_SIDES[s].to;
    if (position[second] < position[first]) std::swap(first, second);
    const int gap = position[second] - position[first];
    const int cyclicGap = std::min(gap, n - gap);
    if (cyclicGap >= SOLID_SIDE_MAX_GAP) continue;
    sides[s].solid = true;
    sides[s].length = pointDistance(quad[first], quad[second]);
    sides[s].line = lineThroughPoints(toFloat(quad[first]), toFloat(quad[second]));
  }
}

// With more than two solid sides, a side shorter than half the longest is not a finder leg.
void dropShortSolidSides(SideInfo sides[SIDE_COUNT]) {
  int solidCount = 0;
  int longest = -1;
  for (int s = 0; s < SIDE_COUNT; ++s) {
    if (!sides[s].solid) continue;
    ++solidCount;
    if (longest < 0 || sides[s].length > sides[longest].length) longest = s;
  }
  if (solidCount <= 2) return;
  for (int s = 0; s < SIDE_COUNT; ++s) {
    if (s != longest && sides[s].solid && 0.5 * sides[longest].length > sides[s].length) sides[s].solid = false;
  }
}

float inwardStep(CvPoint2D32f farEnd, CvPoint2D32f vertex) {
  return static_cast<float>(1 + static_cast<int>(std::floor(pointDistance(farEnd, vertex) / 100.0)));
}

}  // namespace

int estimateCorners(const CvSeq* polygon, CornerQuad* quad) {
  const CvRect bounds = cvBoundingRect(const_cast<CvSeq*>(polygon), 0);
  const int right = bounds.x + bounds.width;
  const int bottom = bounds.y + bounds.height;
  // Anchors of the four corner extremes; the left and top anchors are the image's own edges.
  const CvPoint anchors[4] = {{0, 0}, {right, 0}, {0, bottom}, {right, bottom}};

  CvSeqReader reader;
  startVertexWalk(polygon, &reader);
  CvPoint extreme[8];
  const CvPoint first = readVertex(&reader);
  for (CvPoint& e : extreme) e = first;
  for (int v = 1; v < polygon->total; ++v) {
    const CvPoint p = readVertex(&reader);
    if (p.x < extreme[0].x) extreme[0] = p;
    if (p.x > extreme[1].x) extreme[1] = p;
    if (p.y < extreme[2].y) extreme[2] = p;
    if (p.y > extreme[3].y) extreme[3] = p;
    for (int k = 0; k < 4; ++k) {
      if (pointDistance(p, anchors[k]) < pointDistance(extreme[4 + k], anchors[k])) extreme[4 + k] = p;
    }
  }

  int a = -1, b = -1;
  double longest = 0.0;
  for (int i = 0; i < 7; ++i) {
    for (int j = i + 1; j < 8; ++j) {
      if (samePoint(extreme[i], extreme[j])) continue;
      const double d = pointDistance(extreme[i], extreme[j]);
      if (a < 0 || d > longest) {
        a = i;
        b = j;
        longest = d;
      }
    }
  }
  if (a < 0) return CORNERS_NO_DISTINCT_PAIR;

  const EdgeLine diagonal = lineThroughPoints(toFloat(extreme[b]), toFloat(extreme[a]));
  int positive = -1, negative = -1;
  double bestPositive = 0.0, bestNegative = 0.0;
  for (int k = 0; k < 8; ++k) {
    if (k == a || k == b || samePoint(extreme[k], extreme[a]) || samePoint(extreme[k], extreme[b])) continue;
    const double s = pointDistance(extreme[k], extreme[a]) + pointDistance(extreme[k], extreme[b]);
    const float r = diagonal.kind == LINE_Y_FROM_X ? extreme[k].y - diagonal.slope * extreme[k].x
                                                   : extreme[k].x - diagonal.slope * extreme[k].y;
    if (diagonal.intercept < r) {
      if (s > bestPositive) {
        bestPositive = s;
        positive = k;
      }
    } else if (r < diagonal.intercept) {
      if (s > bestNegative) {
        bestNegative = s;
        negative = k;
      }
    }
  }
  if (positive < 0 || negative < 0) return CORNERS_EMPTY_SIDE;

  quad->c0 = extreme[a];
  quad->c1 = extreme[b];
  quad->c2 = extreme[positive];
  quad->c3 = extreme[negative];
  return CORNERS_FOUND;
}

bool testPolygon(SymbolDecoder* ctx, CvSeq* polygon, int imageWidth, int imageHeight) {
  CornerQuad found;
  if (estimateCorners(polygon, &found) != CORNERS_FOUND) return false;
  const CvPoint quad[4] = {found.c0, found.c1, found.c2, found.c3};

  const double diagonal = pointDistance(quad[0], quad[1]);
  const double limit = THIN_SHAPE_FACTOR * diagonal;
  if (pointDistance(quad[0], quad[2]) + pointDistance(quad[1], quad[2]) < limit &&
      pointDistance(quad[0], quad[3]) + pointDistance(quad[1], quad[3]) < limit) {
    return false;
  }

  SideInfo sides[SIDE_COUNT];
  classifySides(polygon, quad, sides);
  dropShortSolidSides(sides);
  int solidCount = 0;
  for (const SideInfo& side : sides) solidCount += side.solid ? 1 : 0;
  if (solidCount != 2) return false;

  // Opposite sides (0 and 3, 1 and 2) make no L; each other pair makes exactly one.
  const LShape* shape = nullptr;
  for (const LShape& candidateShape : L_SHAPES) {
    if (sides[candidateShape.sideA].solid && sides[candidateShape.sideB].solid) {
      shape = &candidateShape;
      break;
    }
  }
  if (shape == nullptr) return false;

  SymbolCandidate candidate;
  candidate.legA = sides[shape->sideA].line;
  candidate.legB = sides[shape->sideB].line;
  const CvPoint2D32f vertex = toFloat(quad[shape->vertex]);
  const CvPoint2D32f farA = toFloat(quad[shape->farA]);
  const CvPoint2D32f farB = toFloat(quad[shape->farB]);
  candidate.corners[0] = vertex;
  candidate.corners[1] = stepToward(candidate.legA, inwardStep(farA, vertex), farA, vertex);
  candidate.corners[2] = stepToward(candidate.legB, inwardStep(farB, vertex), farB, vertex);
  candidate.oppositeA = parallelThrough(candidate.legA.kind, candidate.legA.slope, candidate.corners[2]);
  candidate.oppositeB = parallelThrough(candidate.legB.kind, candidate.legB.slope, candidate.corners[1]);

  CvPoint2D32f facing;
  if (!intersectLines(candidate.oppositeA, candidate.oppositeB, &facing)) return false;
  // Written so that a non-finite coordinate is rejected too.
  if (!(facing.x >= 0.0f && facing.y >= 0.0f && facing.x < imageWidth && facing.y < imageHeight)) return false;
  candidate.corners[3] = facing;

  int truncated[4][2];
  for (int c = 0; c < 4; ++c) {
    truncated[c][0] = static_cast<int>(candidate.corners[c].x);
    truncated[c][1] = static_cast<int>(candidate.corners[c].y);
  }
  for (int i = 0; i < 3; ++i) {
    for (int j = i + 1; j < 4; ++j) {
      if (truncated[i][0] == truncated[j][0] && truncated[i][1] == truncated[j][1]) return false;
    }
  }

  candidate.polygon = polygon;
  ctx->candidates[ctx->candidateCount++] = candidate;
  return true;
}
