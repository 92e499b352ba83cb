// Contours of the binary image, their polygons, and the cheap filters in front of the finder test.
#include "decoder/contours.h"

#include <opencv2/imgproc/imgproc_c.h>

#include "decoder/binarize.h"
#include "decoder/contour_prepass.h"
#include "decoder/cv_handles.h"
#include "decoder/finder.h"
#include "decoder/stage_timing.h"

namespace {

constexpr double POLYGON_ACCURACY = 5.0;  // pixels
constexpr int MIN_POLYGON_VERTICES = 20;   // a symbol's ragged timing sides keep many vertices

}  // namespace

CvSeq* traceCandidateContours(IplImage* image, CvMemStorage* storage) {
  ContourScanHandle scan(
      cvStartFindContours(image, storage, sizeof(CvContour), CV_RETR_LIST, CV_CHAIN_APPROX_SIMPLE, cvPoint(0, 0)));
  // The approximation keeps a subset of a contour's points, so its polygon has no more vertices and
  // no larger bounding rectangle (which the tracing stores with the contour). A contour that fails
  // the filters below on either count can never become a candidate: dropping it as the scanner meets
  // it hands its storage back at once, spares it the approximation, and leaves the order of the
  // others as it was.
  while (CvSeq* contour = cvFindNextContour(scan.get())) {
    const CvRect bounds = cvBoundingRect(contour, 0);
    if (contour->total < MIN_POLYGON_VERTICES || bounds.width < MIN_POLYGON_EXTENT ||
        bounds.height < MIN_POLYGON_EXTENT) {
      cvSubstituteContour(scan.get(), nullptr);
    }
  }
  CvContourScanner scanner = scan.release();
  return cvEndFindContours(&scanner);
}

void findPolygons(SymbolDecoder* ctx) {
  QUARNEL_STAGE_TIMER(STAGE_POLYGONS);
  // The contour search overwrites its input; the grid stage still needs the binary image intact.
  ImageHandle scratch(cvCreateImage(cvGetSize(ctx->binary), ctx->binary->depth, ctx->binary->nChannels));
  // The pre-pass writes the scratch image in place of a plain copy. A frame whose contours were all
  // too small still had contours, and yields an empty list rather than the error of none at all.
  const bool anyContour = cleanContourInput(ctx->binary, scratch.get());
  CvSeq* contours = traceCandidateContours(scratch.get(), ctx->storage);
  ctx->contours = contours;
  if (anyContour && contours == nullptr) {
    ctx->polygons = nullptr;
  } else {
    // An empty contour list is refused here with an error, which ends the call with -1.
    ctx->polygons = cvApproxPoly(contours, sizeof(CvContour), ctx->storage, CV_POLY_APPROX_DP, POLYGON_ACCURACY, 1);
  }
}

void collectCandidates(SymbolDecoder* ctx, int imageWidth, int imageHeight) {
  QUARNEL_STAGE_TIMER(STAGE_CANDIDATES);
  for (CvSeq* polygon = ctx->polygons; polygon != nullptr; polygon = polygon->h_next) {
    if (polygon->total < MIN_POLYGON_VERTICES) continue;
    const CvRect bounds = cvBoundingRect(polygon, 0);
    if (bounds.width < MIN_POLYGON_EXTENT || bounds.height < MIN_POLYGON_EXTENT) continue;
    testPolygon(ctx, polygon, imageWidth, imageHeight);
    if (ctx->candidateCount >= DECODE_MAX_CANDIDATES) break;
  }
}

void locateCandidates(SymbolDecoder* ctx, IplImage* grey, int threshold, int flags) {
  QUARNEL_STAGE_TIMER(STAGE_BINARISATION);  // the two stages below pause it with timers of their own
  binarizeImage(ctx, grey, threshold, flags);
  findPolygons(ctx);
  collectCandidates(ctx, grey->width, grey->height);
}
