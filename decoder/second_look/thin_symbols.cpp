// Thin symbols in the second look: rectangles of 8 to 16 rows whose outline the finder test cannot take.
// Its corner estimate looks for the corners among the outline's extreme points; on a thin rectangle turned
// off the axes all of them gather at the two short ends, one side of the long diagonal gets none and the
// outline is dropped. Axis-aligned, a symbol longer than about nine times its height is too flat for the
// test's thin-shape ellipse. Here the outline's corners come from its smallest enclosing rectangle instead,
// and the finder L is told from the timing edges by sampling just inside each side.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include <opencv2/imgproc/imgproc_c.h>

#include "decoder/second_look/second_look.h"

namespace {

constexpr int THIN_MIN_CONTOUR_POINTS = 40;    // ragged timing edges of 8 x 18 at 3 px leave about 80 points
constexpr double THIN_MIN_ELONGATION = 1.8;    // long side over short side; 8 x 18 is 2.25, 16 x 36 too
constexpr double THIN_MIN_SHORT_SIDE = 20.0;   // pixels: 8 rows at 3 px per module
constexpr double THIN_SIDE_INSET = 1.0 / 24;   // of the short side: within the edge row of 8 to 16 rows
constexpr double THIN_SOLID_SHARE = 0.9;       // dark share just inside a finder leg
constexpr double THIN_TIMING_MIN_SHARE = 0.3;  // a timing edge is about half dark
constexpr double THIN_TIMING_MAX_SHARE = 0.7;
constexpr int THIN_SIDE_SAMPLES = 64;
constexpr double THIN_POLYGON_ACCURACY = 1.5;  // pixels, as for small symbols

// The cheap test, on the 5-pixel polygon the pass already made: an outer outline, long and thin. (Its
// area says nothing: off the axes the polygon of a ragged outline folds over itself.)
bool looksThin(CvSeq* contour, CvSeq* polygon, CvBox2D* box) {
  if (CV_IS_SEQ_HOLE(contour) || contour->total < THIN_MIN_CONTOUR_POINTS || polygon->total < 4) return false;
  const CvRect bounds = cvBoundingRect(contour, 0);
  if (std::max(bounds.width, bounds.height) < THIN_MIN_ELONGATION * THIN_MIN_SHORT_SIDE) return false;
  const CvBox2D rough = cvMinAreaRect2(polygon, nullptr);
  const double shortSide = std::min(rough.size.width, rough.size.height);
  const double longSide = std::max(rough.size.width, rough.size.height);
  if (shortSide < THIN_MIN_SHORT_SIDE || longSide < THIN_MIN_ELONGATION * shortSide) return false;
  *box = cvMinAreaRect2(contour, nullptr);  // the outline itself: the polygon may cut a corner
  return std::min(box->size.width, box->size.height) >= THIN_MIN_SHORT_SIDE;
}

// The rectangle's corner where the two solid legs meet, or -1 when its sides do not show one finder L
// (two adjacent solid sides) and two timing edges.
int finderVertexOf(const IplImage* binary, const CvPoint2D32f corners[4], CvPoint2D32f centre, double inset) {
  bool solid[4], timing[4];
  for (int s = 0; s < 4; ++s) {
    const double share = darkShareInside(binary, corners[s], corners[(s + 1) % 4], centre, inset, THIN_SIDE_SAMPLES);
    solid[s] = share >= THIN_SOLID_SHARE;
    timing[s] = share >= THIN_TIMING_MIN_SHARE && share <= THIN_TIMING_MAX_SHARE;
  }
  // Side s runs from corner s to corner s + 1, so corner v joins sides v - 1 and v.
  for (int v = 0; v < 4; ++v) {
    const int before = (v + 3) % 4, after = v, oppositeBefore = (v + 1) % 4, oppositeAfter = (v + 2) % 4;
    if (solid[before] && solid[after] && timing[oppositeBefore] && timing[oppositeAfter]) return v;
  }
  return -1;
}

// The candidate as the locator would have made it from these corners: leg ends stepped in by a pixel per
// hundred pixels of leg, so that the second look's steps, which undo that step, find the true ends.
bool candidateFromCorners(CvPoint2D32f vertex, CvPoint2D32f farA, CvPoint2D32f farB, int width, int height,
                          SymbolCandidate* candidate) {
  candidate->legA = lineThroughPoints(vertex, farA);
  candidate->legB = lineThroughPoints(vertex, farB);
  candidate->corners[0] = vertex;
  const float stepA = static_cast<float>(1 + static_cast<int>(std::floor(pointDistance(farA, vertex) / 100.0)));
  const float stepB = static_cast<float>(1 + static_cast<int>(std::floor(pointDistance(farB, vertex) / 100.0)));
  candidate->corners[1] = stepToward(candidate->legA, stepA, farA, vertex);
  candidate->corners[2] = stepToward(candidate->legB, stepB, farB, vertex);
  candidate->oppositeA = parallelThrough(candidate->legA.kind, candidate->legA.slope, candidate->corners[2]);
  candidate->oppositeB = parallelThrough(candidate->legB.kind, candidate->legB.slope, candidate->corners[1]);
  CvPoint2D32f facing;
  if (!intersectLines(candidate->oppositeA, candidate->oppositeB, &facing)) return false;
  if (!(facing.x >= 0.0f && facing.y >= 0.0f && facing.x < width && facing.y < height)) return false;
  candidate->corners[3] = facing;
  return true;
}

}  // namespace

double darkShareInside(const IplImage* binary, CvPoint2D32f from, CvPoint2D32f to, CvPoint2D32f centre, double inset,
                       int samples) {
  const double length = pointDistance(from, to);
  if (length < 1.0) return 0.0;
  double nx = -(to.y - from.y) / length, ny = (to.x - from.x) / length;
  const double midX = 0.5 * (from.x + to.x), midY = 0.5 * (from.y + to.y);
  if (nx * (centre.x - midX) + ny * (centre.y - midY) < 0.0) {
    nx = -nx;
    ny = -ny;
  }
  if (samples <= 0) return 0.0;
  int dark = 0;
  for (int i = 0; i < samples; ++i) {
    // Clear of the corners, where a timing edge meets a leg.
    const double share = 0.05 + 0.9 * (i + 0.5) / samples;
    dark += isDarkPixel(binary, from.x + share * (to.x - from.x) + inset * nx, from.y + share * (to.y - from.y) + inset * ny)
                ? 1
                : 0;
  }
  return static_cast<double>(dark) / samples;
}

// Under tilt the outline is a quadrilateral, not a rectangle: each corner of the enclosing rectangle
// moves to the outline's point nearest it, which is the symbol's own corner.
void snapToOutline(CvSeq* contour, CvPoint2D32f corners[4]) {
  CvPoint2D32f nearest[4];
  double nearestDistance[4] = {1e30, 1e30, 1e30, 1e30};
  CvSeqReader reader;
  cvStartReadSeq(contour, &reader, 0);
  for (int i = 0; i < contour->total; ++i) {
    CvPoint point;
    CV_READ_SEQ_ELEM(point, reader);
    const CvPoint2D32f p = cvPoint2D32f(static_cast<float>(point.x), static_cast<float>(point.y));
    for (int c = 0; c < 4; ++c) {
      const double d = pointDistance(p, corners[c]);
      if (d < nearestDistance[c]) {
        nearestDistance[c] = d;
        nearest[c] = p;
      }
    }
  }
  for (int c = 0; c < 4; ++c) corners[c] = nearest[c];
}

std::vector<SymbolCandidate> findThinSymbolCandidates(PassLeftovers* pass) {
  std::vector<SymbolCandidate> found;
  if (pass->binary == nullptr || pass->storage == nullptr) return found;
  const IplImage* binary = pass->binary;
  CvSeq* contour = pass->contours;
  for (CvSeq* polygon = pass->polygons; contour != nullptr && polygon != nullptr;
       contour = contour->h_next, polygon = polygon->h_next) {
    CvBox2D box;
    if (!looksThin(contour, polygon, &box)) continue;
    CvPoint2D32f boxCorners[4], corners[4];
    cvBoxPoints(box, boxCorners);
    std::copy(boxCorners, boxCorners + 4, corners);
    snapToOutline(contour, corners);
    const double inset = std::max(1.0, THIN_SIDE_INSET * std::min(box.size.width, box.size.height));
    // The outline's corners fit a tilted symbol; but where the timing corner's module is light, that
    // corner snaps a module off and skews two sides, which the rectangle's own corners do not.
    int vertex = finderVertexOf(binary, corners, box.center, inset);
    if (vertex < 0) vertex = finderVertexOf(binary, boxCorners, box.center, inset);
    if (vertex < 0) continue;
    SymbolCandidate candidate;
    if (!candidateFromCorners(corners[vertex], corners[(vertex + 3) % 4], corners[(vertex + 1) % 4], binary->width,
                              binary->height, &candidate)) {
      continue;
    }
    // The perspective read takes the timing corner from the outline's own vertices.
    CvSeq* finer = cvApproxPoly(contour, sizeof(CvContour), pass->storage, CV_POLY_APPROX_DP, THIN_POLYGON_ACCURACY, 0);
    if (finer == nullptr || finer->total < 4) continue;
    candidate.polygon = finer;
    found.push_back(candidate);
    if (found.size() >= static_cast<size_t>(DECODE_MAX_CANDIDATES)) break;
  }
  return found;
}
