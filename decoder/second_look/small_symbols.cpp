// Lead 3 of the second look: small symbols. At 5 pixels of accuracy the ragged timing sides of a small
// symbol flatten out, its polygon keeps fewer than 20 vertices and the passes never test it. Outlines of
// that kind which look like a symbol are approximated again, more finely, and put through the finder test.
#include <algorithm>
#include <cmath>
#include <memory>
#include <new>

#include <opencv2/imgproc/imgproc_c.h>

#include "decoder/finder.h"
#include "decoder/second_look/second_look.h"

namespace {

constexpr int SMALL_MAX_POLYGON_VERTICES = 20;  // at or above this the passes tested the polygon already
constexpr int SMALL_MIN_EXTENT = 10;            // pixels, bounding width and height
constexpr int SMALL_MAX_EXTENT = 160;
constexpr int SMALL_MIN_CONTOUR_POINTS = 24;    // a symbol's ragged sides leave many turns in the trace
constexpr double SMALL_MIN_FILL = 0.2;          // polygon area over bounding area: a blob, not a stroke
constexpr double SMALL_ACCURACY = 1.5;          // pixels
// A bare finder L (few data modules touch it) fills little of its bounding box, the less the more it is
// turned, so a thin outline is kept when two long sides of its polygon meet at a corner: the legs.
constexpr double SMALL_MIN_LEG_SHARE = 0.4;     // of the bounding box's longer side
constexpr double SMALL_MIN_LEG_SINE = 0.5;      // the legs meet at 30 to 150 degrees
constexpr int SMALL_MAX_CORNER_EDGES = 2;       // a corner cut off by the approximation: one short edge between

// True when two sides of at least minLength meet at a corner of the polygon, directly or across one
// short edge where the approximation cut the corner off.
bool hasLegPair(const CvSeq* polygon, double minLength) {
  const int n = polygon->total;
  for (int i = 0; i < n; ++i) {
    const CvPoint* a0 = CV_GET_SEQ_ELEM(CvPoint, polygon, i);
    const CvPoint* a1 = CV_GET_SEQ_ELEM(CvPoint, polygon, (i + 1) % n);
    const double ax = a1->x - a0->x, ay = a1->y - a0->y;
    const double aLength = std::hypot(ax, ay);
    if (aLength < minLength) continue;
    for (int skip = 1; skip <= SMALL_MAX_CORNER_EDGES; ++skip) {
      const CvPoint* b0 = CV_GET_SEQ_ELEM(CvPoint, polygon, (i + skip) % n);
      const CvPoint* b1 = CV_GET_SEQ_ELEM(CvPoint, polygon, (i + skip + 1) % n);
      const double bx = b1->x - b0->x, by = b1->y - b0->y;
      const double bLength = std::hypot(bx, by);
      if (bLength < minLength) continue;
      if (std::fabs(ax * by - ay * bx) >= SMALL_MIN_LEG_SINE * aLength * bLength) return true;
    }
  }
  return false;
}

// The cheap test in front of the re-approximation, so that frames without symbols pay little. A symbol's
// outline is the outer border of its dark modules; the borders of light holes inside dark areas (most
// of the plain small outlines in a cluttered frame) never are.
bool looksLikeSmallSymbol(CvSeq* contour, const CvSeq* polygon) {
  if (CV_IS_SEQ_HOLE(contour)) return false;
  if (polygon->total >= SMALL_MAX_POLYGON_VERTICES || contour->total < SMALL_MIN_CONTOUR_POINTS) return false;
  const CvRect bounds = cvBoundingRect(contour, 0);
  if (bounds.width < SMALL_MIN_EXTENT || bounds.height < SMALL_MIN_EXTENT || bounds.width > SMALL_MAX_EXTENT ||
      bounds.height > SMALL_MAX_EXTENT) {
    return false;
  }
  const double area = std::fabs(cvContourArea(polygon, CV_WHOLE_SEQ, 0));
  if (area >= SMALL_MIN_FILL * bounds.width * bounds.height) return true;
  return hasLegPair(polygon, SMALL_MIN_LEG_SHARE * std::max(bounds.width, bounds.height));
}

}  // namespace

std::vector<SymbolCandidate> refineLocatedOutlines(PassLeftovers* pass) {
  std::vector<SymbolCandidate> found;
  if (pass->binary == nullptr || pass->storage == nullptr || pass->located.empty()) return found;
  std::unique_ptr<SymbolDecoder> scratch(new (std::nothrow) SymbolDecoder);
  if (scratch == nullptr) return found;
  CvSeq* contour = pass->contours;
  for (CvSeq* polygon = pass->polygons; contour != nullptr && polygon != nullptr;
       contour = contour->h_next, polygon = polygon->h_next) {
    bool located = false;
    for (const SymbolCandidate& candidate : pass->located) located = located || candidate.polygon == polygon;
    if (!located) continue;
    CvSeq* finer = cvApproxPoly(contour, sizeof(CvContour), pass->storage, CV_POLY_APPROX_DP, SMALL_ACCURACY, 0);
    if (finer == nullptr || finer->total < 4) continue;
    scratch->candidateCount = 0;
    if (testPolygon(scratch.get(), finer, pass->binary->width, pass->binary->height)) {
      found.push_back(scratch->candidates[0]);
    }
  }
  return found;
}

std::vector<SymbolCandidate> findSmallSymbolCandidates(PassLeftovers* pass) {
  std::vector<SymbolCandidate> found;
  if (pass->binary == nullptr || pass->storage == nullptr) return found;
  std::unique_ptr<SymbolDecoder> scratch(new (std::nothrow) SymbolDecoder);
  if (scratch == nullptr) return found;
  // The polygon list was approximated from the contour list in one call, so the two run in step.
  CvSeq* contour = pass->contours;
  for (CvSeq* polygon = pass->polygons; contour != nullptr && polygon != nullptr;
       contour = contour->h_next, polygon = polygon->h_next) {
    if (!looksLikeSmallSymbol(contour, polygon)) continue;
    CvSeq* finer = cvApproxPoly(contour, sizeof(CvContour), pass->storage, CV_POLY_APPROX_DP, SMALL_ACCURACY, 0);
    if (finer == nullptr || finer->total < 4) continue;
    scratch->candidateCount = 0;
    if (testPolygon(scratch.get(), finer, pass->binary->width, pass->binary->height)) {
      found.push_back(scratch->candidates[0]);
    }
    if (found.size() >= static_cast<size_t>(DECODE_MAX_CANDIDATES)) break;
  }
  return found;
}
