// Light-on-dark symbols: each pass's holes traced again as the outer outlines of light regions, and the
// second look's steps run on them with light and dark exchanged.
#include "decoder/second_look/light_on_dark.h"

#include <algorithm>
#include <memory>
#include <new>

#include <opencv2/imgproc/imgproc_c.h>

#include "decoder/contour_prepass.h"
#include "decoder/cv_handles.h"
#include "decoder/finder.h"
#include "decoder/second_look/second_look.h"

namespace {

constexpr double POLYGON_ACCURACY = 5.0;  // pixels, as the passes approximate
constexpr int MIN_CONTOUR_POINTS = 20;    // as the passes' trace keeps
constexpr int TESTED_MIN_POLYGON_VERTICES = 20;  // the passes put polygons of this many vertices through the test

// Which holes are worth tracing again: those the passes' finder test took, and those the second look's
// small and thin steps would look at were they outer outlines. Most holes of a busy frame (letters, gaps
// in clutter, the page inside a dark border) are none of these and cost nothing more.
constexpr int SMALL_MIN_CONTOUR_POINTS = 24;
constexpr int SMALL_MIN_POLYGON_VERTICES = 4;  // an L has six corners; the grain of a textured frame two or three
constexpr int SMALL_MIN_EXTENT = 20;           // pixels: 8 modules at 2.5 pixels
constexpr int SMALL_MAX_EXTENT = 160;          // pixels
constexpr int THIN_MIN_CONTOUR_POINTS = 40;
constexpr double THIN_MIN_ELONGATION = 1.8;    // long side over short side
constexpr double THIN_MIN_SHORT_SIDE = 20.0;   // pixels
// Holes nested in holes (rings, a frame within a frame) would each trace nearly the whole box again: all
// the boxes traced in one pass together cover at most this many frames.
constexpr double MAX_TRACED_FRAMES = 1.0;

bool wasLocated(const CvSeq* polygon, const PassLeftovers& pass) {
  for (const SymbolCandidate& candidate : pass.located) {
    if (candidate.polygon == polygon) return true;
  }
  return false;
}

bool mayHoldSymbol(const CvSeq* contour, const CvSeq* polygon, const PassLeftovers& pass) {
  if (!CV_IS_SEQ_HOLE(contour)) return false;
  const CvRect bounds = reinterpret_cast<const CvContour*>(contour)->rect;
  if (bounds.width < MIN_POLYGON_EXTENT || bounds.height < MIN_POLYGON_EXTENT) return false;
  if (wasLocated(polygon, pass)) return true;
  // The adaptive threshold turns the grain of any textured surface into holes by the hundred; there only
  // what the finder test took is worth it. A small or thin light symbol stands out in the global pass.
  if (pass.adaptiveMode != 0) return false;
  if (polygon->total < TESTED_MIN_POLYGON_VERTICES && polygon->total >= SMALL_MIN_POLYGON_VERTICES &&
      contour->total >= SMALL_MIN_CONTOUR_POINTS && bounds.width >= SMALL_MIN_EXTENT &&
      bounds.height >= SMALL_MIN_EXTENT && bounds.width <= SMALL_MAX_EXTENT && bounds.height <= SMALL_MAX_EXTENT) {
    return true;
  }
  if (contour->total < THIN_MIN_CONTOUR_POINTS || polygon->total < 4) return false;
  if (std::max(bounds.width, bounds.height) < THIN_MIN_ELONGATION * THIN_MIN_SHORT_SIDE) return false;
  const CvBox2D rough = cvMinAreaRect2(polygon, nullptr);
  const double shortSide = std::min(rough.size.width, rough.size.height);
  const double longSide = std::max(rough.size.width, rough.size.height);
  return shortSide >= THIN_MIN_SHORT_SIDE - 2.0 && longSide >= THIN_MIN_ELONGATION * shortSide;
}

// The outer outlines of the light regions inside `bounds` (a hole's box, whose edge is the dark border
// around the hole), in frame coordinates, appended to the list that ends at *last.
void traceLightRegions(IplImage* binary, CvRect bounds, CvMemStorage* storage, CvSeq** first, CvSeq** last) {
  ImageHandle region(cvCreateImage(cvSize(bounds.width, bounds.height), IPL_DEPTH_8U, 1));
  {
    const ImageRoiScope roi(binary, bounds);
    cvNot(binary, region.get());
  }
  CvSeq* traced = nullptr;
  cvFindContours(region.get(), storage, &traced, sizeof(CvContour), CV_RETR_EXTERNAL, CV_CHAIN_APPROX_SIMPLE,
                 cvPoint(bounds.x, bounds.y));
  for (CvSeq* contour = traced; contour != nullptr;) {
    CvSeq* next = contour->h_next;
    const CvRect extent = cvBoundingRect(contour, 1);
    if (contour->total >= MIN_CONTOUR_POINTS && extent.width >= MIN_POLYGON_EXTENT &&
        extent.height >= MIN_POLYGON_EXTENT) {
      contour->h_prev = *last;
      contour->h_next = nullptr;
      if (*last != nullptr) (*last)->h_next = contour;
      if (*first == nullptr) *first = contour;
      *last = contour;
    }
    contour = next;
  }
}

}  // namespace

bool negatePassLeftovers(PassLeftovers* pass, PassLeftovers* negative) {
  negative->release();
  if (pass->binary == nullptr) return false;
  IplImage* binary = pass->binary;
  StorageHandle storage(cvCreateMemStorage(0));
  CvSeq* first = nullptr;
  CvSeq* last = nullptr;
  // The polygon list was approximated from the contour list in one call, so the two run in step.
  CvSeq* contour = pass->contours;
  double tracedLeft = MAX_TRACED_FRAMES * binary->width * binary->height;
  for (CvSeq* polygon = pass->polygons; contour != nullptr && polygon != nullptr;
       contour = contour->h_next, polygon = polygon->h_next) {
    if (!mayHoldSymbol(contour, polygon, *pass)) continue;
    const CvRect bounds = reinterpret_cast<const CvContour*>(contour)->rect;
    tracedLeft -= static_cast<double>(bounds.width) * bounds.height;
    if (tracedLeft < 0.0) break;
    traceLightRegions(binary, bounds, storage.get(), &first, &last);
  }
  if (first == nullptr) return false;
  CvSeq* polygons = cvApproxPoly(first, sizeof(CvContour), storage.get(), CV_POLY_APPROX_DP, POLYGON_ACCURACY, 1);
  std::unique_ptr<SymbolDecoder> scratch(new (std::nothrow) SymbolDecoder);
  ImageHandle negated(cvCreateImage(cvGetSize(binary), binary->depth, binary->nChannels));
  if (polygons == nullptr || scratch == nullptr || negated == nullptr) return false;
  cvNot(binary, negated.get());
  // The passes' candidate collection, on the light regions' outlines.
  for (CvSeq* polygon = polygons; polygon != nullptr; polygon = polygon->h_next) {
    if (polygon->total < TESTED_MIN_POLYGON_VERTICES) continue;
    const CvRect bounds = cvBoundingRect(polygon, 0);
    if (bounds.width < MIN_POLYGON_EXTENT || bounds.height < MIN_POLYGON_EXTENT) continue;
    scratch->candidateCount = 0;
    if (testPolygon(scratch.get(), polygon, binary->width, binary->height)) {
      negative->located.push_back(scratch->candidates[0]);
    }
    if (negative->located.size() >= static_cast<size_t>(DECODE_MAX_CANDIDATES)) break;
  }
  negative->binary = negated.release();
  negative->storage = storage.release();
  negative->contours = first;
  negative->polygons = polygons;
  negative->adaptiveMode = pass->adaptiveMode;
  return true;
}

ScanStep readLightOnDark(const IplImage* grey, PassLeftovers* passes, int passCount,
                         std::vector<DecodedSymbol>* symbols, std::size_t maxSymbols) {
  ScanStep firstStep = SCAN_NOTHING_READ;
  ImageHandle negatedGrey;
  for (int p = 0; p < passCount; ++p) {
    if (symbols->size() >= maxSymbols) break;
    PassLeftovers negative;
    if (!negatePassLeftovers(&passes[p], &negative)) continue;
    if (negatedGrey == nullptr) {
      negatedGrey.reset(cvCreateImage(cvGetSize(grey), grey->depth, grey->nChannels));
      if (negatedGrey == nullptr) break;
      cvNot(grey, negatedGrey.get());
    }
    if (readPassLeftovers(negatedGrey.get(), &negative, 1, symbols, maxSymbols) != SCAN_NOTHING_READ) {
      firstStep = SCAN_READ_AS_LIGHT_ON_DARK;
    }
  }
  return firstStep;
}
