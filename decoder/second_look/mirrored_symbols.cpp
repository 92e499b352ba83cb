// Mirrored symbols: the sampled module matrix read the other way round when it does not read as it is.
#include "decoder/second_look/mirrored_symbols.h"

#include <memory>
#include <new>
#include <utility>
#include <vector>

#include <opencv2/imgproc/imgproc_c.h>

#include "decoder/contour_prepass.h"
#include "decoder/finder.h"
#include "decoder/second_look/second_look.h"

namespace {

constexpr int TESTED_MIN_POLYGON_VERTICES = 20;  // the passes put polygons of this many vertices through the test

// What the passes' finder test saw and did not take: polygons of enough vertices and extent. Only the
// outer borders of dark areas are worth another test; a symbol's outline is never the border of a light
// hole, and most outlines in a cluttered frame are.
bool wasRejectedByFinderTest(const CvSeq* contour, const CvSeq* polygon, const PassLeftovers& pass) {
  if (CV_IS_SEQ_HOLE(contour) || polygon->total < TESTED_MIN_POLYGON_VERTICES) return false;
  const CvRect bounds = cvBoundingRect(const_cast<CvSeq*>(polygon), 0);
  if (bounds.width < MIN_POLYGON_EXTENT || bounds.height < MIN_POLYGON_EXTENT) return false;
  for (const SymbolCandidate& candidate : pass.located) {
    if (candidate.polygon == polygon) return false;
  }
  return true;
}

// A polygon reflected about the image's vertical centre line (x to right - x), its vertices in reverse
// order so that it runs round its outline the way a traced outline of the mirror image would. The
// vertices live in `vertices`, the sequence header in the record.
struct MirroredPolygon {
  std::vector<CvPoint> vertices;
  CvContour header;
  CvSeqBlock block;
  CvSeq* seq = nullptr;
};

void mirrorPolygon(const CvSeq* polygon, int right, MirroredPolygon* mirrored) {
  mirrored->vertices.resize(static_cast<size_t>(polygon->total));
  for (int v = 0; v < polygon->total; ++v) {
    const CvPoint* vertex = CV_GET_SEQ_ELEM(CvPoint, polygon, v);
    mirrored->vertices[static_cast<size_t>(polygon->total - 1 - v)] = cvPoint(right - vertex->x, vertex->y);
  }
  mirrored->seq = cvMakeSeqHeaderForArray(CV_SEQ_POLYGON, sizeof(CvContour), sizeof(CvPoint),
                                          mirrored->vertices.data(), polygon->total,
                                          reinterpret_cast<CvSeq*>(&mirrored->header), &mirrored->block);
  // The finder test reads the bounding rectangle stored with an outline.
  const CvRect bounds = reinterpret_cast<const CvContour*>(polygon)->rect;
  mirrored->header.rect = cvRect(right + 1 - bounds.x - bounds.width, bounds.y, bounds.width, bounds.height);
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
  MirroredPolygon mirrored;
  // The polygon list was approximated from the contour list in one call, so the two run in step.
  CvSeq* contour = pass->contours;
  for (CvSeq* polygon = pass->polygons; contour != nullptr && polygon != nullptr;
       contour = contour->h_next, polygon = polygon->h_next) {
    if (!wasRejectedByFinderTest(contour, polygon, *pass)) continue;
    mirrorPolygon(polygon, width - 1, &mirrored);
    scratch->candidateCount = 0;
    if (!testPolygon(scratch.get(), mirrored.seq, width, height)) continue;
    SymbolCandidate candidate = mirroredCandidate(scratch->candidates[0], static_cast<float>(width - 1));
    candidate.polygon = polygon;
    found.push_back(candidate);
    if (found.size() >= static_cast<size_t>(DECODE_MAX_CANDIDATES)) break;
  }
  return found;
}
