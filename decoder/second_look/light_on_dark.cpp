// Light-on-dark symbols: each pass's holes traced again as the outer outlines of light regions, and the
// second look's steps run on them with light and dark exchanged.
#include "decoder/second_look/light_on_dark.h"

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

// A hole that may hold a light symbol: as large as the passes' outlines must be.
bool mayHoldSymbol(const CvSeq* contour) {
  if (!CV_IS_SEQ_HOLE(contour)) return false;
  const CvRect bounds = reinterpret_cast<const CvContour*>(contour)->rect;
  return bounds.width >= MIN_POLYGON_EXTENT && bounds.height >= MIN_POLYGON_EXTENT;
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
  for (const CvSeq* contour = pass->contours; contour != nullptr; contour = contour->h_next) {
    if (!mayHoldSymbol(contour)) continue;
    traceLightRegions(binary, reinterpret_cast<const CvContour*>(contour)->rect, storage.get(), &first, &last);
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
