// Mirrored symbols: the sampled module matrix read the other way round when it does not read as it is.
#include "decoder/second_look/mirrored_symbols.h"

#include <memory>
#include <new>
#include <utility>

#include <opencv2/imgproc/imgproc_c.h>

#include "decoder/contour_prepass.h"
#include "decoder/finder.h"
#include "decoder/second_look/second_look.h"

namespace {

constexpr int TESTED_MIN_POLYGON_VERTICES = 20;  // the passes put polygons of this many vertices through the test

// What the passes' finder test saw: polygons of enough vertices and extent that it did not take.
bool wasRejectedByFinderTest(const CvSeq* polygon, const PassLeftovers& pass) {
  if (polygon->total < TESTED_MIN_POLYGON_VERTICES) return false;
  const CvRect bounds = cvBoundingRect(const_cast<CvSeq*>(polygon), 0);
  if (bounds.width < MIN_POLYGON_EXTENT || bounds.height < MIN_POLYGON_EXTENT) return false;
  for (const SymbolCandidate& candidate : pass.located) {
    if (candidate.polygon == polygon) return false;
  }
  return true;
}

// The polygon reflected about the image's vertical centre line (x to right - x), its vertices in reverse
// order so that it runs round its outline the way a traced outline of the mirror image would.
CvSeq* mirroredPolygon(const CvSeq* polygon, int right, CvMemStorage* storage) {
  CvSeq* mirrored = cvCreateSeq(CV_SEQ_POLYGON, sizeof(CvContour), sizeof(CvPoint), storage);
  for (int v = polygon->total - 1; v >= 0; --v) {
    const CvPoint* vertex = CV_GET_SEQ_ELEM(CvPoint, polygon, v);
    const CvPoint reflected = cvPoint(right - vertex->x, vertex->y);
    cvSeqPush(mirrored, &reflected);
  }
  cvBoundingRect(mirrored, 1);  // stored with the outline, as the finder test reads it
  return mirrored;
}

EdgeLine mirroredLine(const EdgeLine& line, float right) {
  // y = s x + b becomes y = -s x' + (b + s right); x = s y + b becomes x' = -s y + (right - b).
  if (line.kind == LINE_Y_FROM_X) return {line.kind, -line.slope, line.intercept + line.slope * right};
  return {line.kind, -line.slope, right - line.intercept};
}

SymbolCandidate mirroredCandidate(const SymbolCandidate& candidate, float right) {
  SymbolCandidate mirrored = candidate;
  mirrored.legA = mirroredLine(candidate.legA, right);
  mirrored.legB = mirroredLine(candidate.legB, right);
  mirrored.oppositeA = mirroredLine(candidate.oppositeA, right);
  mirrored.oppositeB = mirroredLine(candidate.oppositeB, right);
  for (CvPoint2D32f& corner : mirrored.corners) corner.x = right - corner.x;
  return mirrored;
}

}  // namespace

void mirrorModuleMatrix(const std::uint8_t* matrix, int columns, int rows, std::uint8_t* mirrored) {
  const int width = columns - 1, height = rows - 1;
  // The mirror image has `width` rows of `height` modules. The reflection keeps the L vertex (bottom
  // left) and the timing corner (top right) where they are.
  for (int i = 0; i < width; ++i) {
    for (int j = 0; j < height; ++j) mirrored[i * height + j] = matrix[(height - 1 - j) * width + (width - 1 - i)];
  }
}

Ecc200Symbol mirroredSize(const Ecc200Symbol& size) {
  Ecc200Symbol mirrored = size;
  std::swap(mirrored.columns, mirrored.rows);
  std::swap(mirrored.regionColumns, mirrored.regionRows);
  std::swap(mirrored.regionsAcross, mirrored.regionsDown);
  return mirrored;
}

bool decodeEitherSide(const std::uint8_t* matrix, int columns, int rows, Ecc200Message* message, MatrixSide* side) {
  auto guarded = [message](const std::uint8_t* m, int c, int r) { return decodeGuarded(m, c, r, message); };
  return readEitherSide(matrix, columns, rows, guarded, side);
}

std::vector<SymbolCandidate> findMirroredFinderCandidates(PassLeftovers* pass) {
  std::vector<SymbolCandidate> found;
  if (pass->binary == nullptr || pass->storage == nullptr) return found;
  std::unique_ptr<SymbolDecoder> scratch(new (std::nothrow) SymbolDecoder);
  if (scratch == nullptr) return found;
  const int width = pass->binary->width, height = pass->binary->height;
  for (CvSeq* polygon = pass->polygons; polygon != nullptr; polygon = polygon->h_next) {
    if (!wasRejectedByFinderTest(polygon, *pass)) continue;
    scratch->candidateCount = 0;
    if (!testPolygon(scratch.get(), mirroredPolygon(polygon, width - 1, pass->storage), width, height)) continue;
    SymbolCandidate candidate = mirroredCandidate(scratch->candidates[0], static_cast<float>(width - 1));
    candidate.polygon = polygon;
    found.push_back(candidate);
    if (found.size() >= static_cast<size_t>(DECODE_MAX_CANDIDATES)) break;
  }
  return found;
}
