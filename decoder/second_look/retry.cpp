// Lead 1 of the second look: a rejected candidate tried again. The locator steps the leg ends in by a
// pixel per hundred pixels of leg, which on large symbols skips whole modules; the retry steps them in
// by half a finder module instead, sweeps each timing edge over its whole range and keeps the best angle.
// A candidate that still does not read is tried once more with its legs fitted through their edge points.
#include <algorithm>
#include <cmath>
#include <memory>
#include <new>
#include <vector>

#include "decoder/decoder_internal.h"
#include "decoder/grid.h"
#include "decoder/second_look/leg_fit.h"
#include "decoder/second_look/mirrored_symbols.h"
#include "decoder/second_look/second_look.h"
#include "decoder/timing_edges_internal.h"

namespace {

// Where along a leg the bar is measured. Data modules beside the bar can only lengthen a dark run across
// it, so the thinnest of several runs is the bar.
constexpr double THICKNESS_SAMPLES[] = {0.2, 0.3, 0.4, 0.5, 0.6, 0.7, 0.8};
constexpr double THICKNESS_WALK_STEP = 0.5;              // pixels
constexpr double THICKNESS_START = -2.0;                 // start just outside the outline
constexpr double THICKNESS_MAX_SHARE = 0.25;             // of the leg: no bar is thicker

CvPoint2D32f along(CvPoint2D32f from, CvPoint2D32f to, double share) {
  return cvPoint2D32f(from.x + share * (to.x - from.x), from.y + share * (to.y - from.y));
}

// The far end of a leg as found on the polygon: the locator moved it towards the vertex by
// 1 + floor(length / 100) pixels of the unmoved length, which is solved for here.
CvPoint2D32f undoInwardStep(CvPoint2D32f stepped, CvPoint2D32f vertex) {
  const double moved = pointDistance(stepped, vertex);
  if (moved <= 0.0) return stepped;
  int step = 1;
  while (1 + static_cast<int>(std::floor((moved + step) / 100.0)) > step) ++step;
  const double scale = (moved + step) / moved;
  return along(vertex, stepped, scale);
}

}  // namespace

bool isDarkPixel(const IplImage* binary, double x, double y) {
  const int px = static_cast<int>(std::floor(x + 0.5)), py = static_cast<int>(std::floor(y + 0.5));
  if (px < 0 || py < 0 || px >= binary->width || py >= binary->height) return false;
  return static_cast<std::uint8_t>(binary->imageData[py * binary->widthStep + px]) != 0;
}

// Thickness of the dark bar along the leg vertex -> farEnd, measured across it towards `inside` (a
// point on the symbol's side of the leg); the thinnest of a few places, or 0 when none shows a bar.
double finderBarThickness(const IplImage* binary, CvPoint2D32f vertex, CvPoint2D32f farEnd, CvPoint2D32f inside) {
  const double length = pointDistance(vertex, farEnd);
  if (length < 1.0) return 0.0;
  const double ux = (farEnd.x - vertex.x) / length, uy = (farEnd.y - vertex.y) / length;
  double nx = -uy, ny = ux;
  if (nx * (inside.x - vertex.x) + ny * (inside.y - vertex.y) < 0.0) {
    nx = -nx;
    ny = -ny;
  }
  const double reach = THICKNESS_MAX_SHARE * length;
  std::vector<double> widths;
  for (const double share : THICKNESS_SAMPLES) {
    const CvPoint2D32f start = along(vertex, farEnd, share);
    double darkFrom = -1.0e9;
    for (double t = THICKNESS_START; t <= reach; t += THICKNESS_WALK_STEP) {
      const bool dark = isDarkPixel(binary, start.x + t * nx, start.y + t * ny);
      if (dark && darkFrom < -1.0e8) darkFrom = t;
      if (!dark && darkFrom > -1.0e8) {
        widths.push_back(t - darkFrom);
        break;
      }
    }
  }
  if (widths.empty()) return 0.0;
  return *std::min_element(widths.begin(), widths.end());
}

namespace {

// The located candidate with its leg ends stepped in by `step` pixels; false when the new outline
// leaves the image or collapses, as the locator would judge it.
bool restepCandidate(const SymbolCandidate& located, CvPoint2D32f farA, CvPoint2D32f farB, float step, int width,
                     int height, SymbolCandidate* candidate) {
  *candidate = located;
  const CvPoint2D32f vertex = located.corners[0];
  candidate->corners[1] = stepToward(located.legA, step, farA, vertex);
  candidate->corners[2] = stepToward(located.legB, step, farB, vertex);
  candidate->oppositeA = parallelThrough(located.legA.kind, located.legA.slope, candidate->corners[2]);
  candidate->oppositeB = parallelThrough(located.legB.kind, located.legB.slope, candidate->corners[1]);
  CvPoint2D32f facing;
  if (!intersectLines(candidate->oppositeA, candidate->oppositeB, &facing)) return false;
  if (!(facing.x >= 0.0f && facing.y >= 0.0f && facing.x < width && facing.y < height)) return false;
  candidate->corners[3] = facing;
  for (int i = 0; i < 3; ++i) {
    for (int j = i + 1; j < 4; ++j) {
      if (static_cast<int>(candidate->corners[i].x) == static_cast<int>(candidate->corners[j].x) &&
          static_cast<int>(candidate->corners[i].y) == static_cast<int>(candidate->corners[j].y)) {
        return false;
      }
    }
  }
  return true;
}

// A retry's context works on the pass's binary image, which it borrows: releasing it frees what the retry
// made (the crop), never that image.
struct RetryContextRelease {
  void operator()(SymbolDecoder* ctx) const {
    ctx->binary = nullptr;
    SymbolDecoderRelease()(ctx);
  }
};
using RetryContextHandle = std::unique_ptr<SymbolDecoder, RetryContextRelease>;

// A context for one candidate over the pass's binary image, or null when memory runs out.
RetryContextHandle newRetryContext(const PassLeftovers& pass) {
  RetryContextHandle ctx(new (std::nothrow) SymbolDecoder);
  if (ctx == nullptr) return ctx;
  ctx->binary = pass.binary;
  ctx->cropMode = 1;
  ctx->adaptiveMode = pass.adaptiveMode;
  ctx->sweepWholeRange = true;
  ctx->allowDmre = true;
  ctx->snapSquareSizes = true;
  ctx->allowExchangedSizes = true;
  return ctx;
}

// One finder L (vertex, leg lines and the leg ends as found) read with its leg ends stepped in by `step`.
bool readFinderL(const PassLeftovers& pass, const SymbolCandidate& located, CvPoint2D32f farA, CvPoint2D32f farB,
                 float step, DecodedSymbol* symbol, MatrixSide* side) {
  const IplImage* binary = pass.binary;
  const RetryContextHandle retry = newRetryContext(pass);
  SymbolDecoder* ctx = retry.get();
  if (ctx == nullptr) return false;
  if (!restepCandidate(located, farA, farB, step, binary->width, binary->height, &ctx->candidates[0])) return false;
  ctx->candidateCount = 1;
  if (orientCandidate(ctx, 0) != REFINE_STATUS_OK) return false;
  std::vector<ModuleMatrix> matrix(1);  // 144 x 144 bytes: kept off the stack
  SymbolSize size = {0, 0};
  if (sampleSymbolMatrix(ctx, 0, &matrix[0], &size) != SAMPLE_STATUS_OK) return false;

  const TimingScores timing = timingScores(ctx->workImage, ctx->candidates[0].corners, size.columns, size.rows);
  if (timing.top < SECOND_LOOK_MIN_TIMING_SCORE || timing.right < SECOND_LOOK_MIN_TIMING_SCORE) return false;
  Ecc200Message message;
  MatrixSide readSide = MatrixSide::Front;
  if (!decodeEitherSide(matrix[0].modules, size.columns, size.rows, &message, &readSide)) return false;
  for (int i = 0; i < 4; ++i) symbol->corners[i] = ctx->results[0].corners[i];
  if (side != nullptr) *side = readSide;
  symbol->message = std::move(message.bytes);
  symbol->meaning = std::move(message.meaning);
  return true;
}

}  // namespace

bool retryCandidate(const PassLeftovers& pass, const SymbolCandidate& located, DecodedSymbol* symbol,
                    MatrixSide* side) {
  const IplImage* binary = pass.binary;
  const CvPoint2D32f vertex = located.corners[0];
  const CvPoint2D32f farA = undoInwardStep(located.corners[1], vertex);
  const CvPoint2D32f farB = undoInwardStep(located.corners[2], vertex);
  const double barA = finderBarThickness(binary, vertex, farA, farB);
  const double barB = finderBarThickness(binary, vertex, farB, farA);
  if (barA <= 0.0 || barB <= 0.0) return false;
  const float step = static_cast<float>(std::max(1.0, 0.5 * std::min(barA, barB)));
  if (readFinderL(pass, located, farA, farB, step, symbol, side)) return true;
  // A notch in a leg moves the outline's corners off the leg's edge; the legs fitted through it do not.
  SymbolCandidate fitted;
  if (!fitFinderLegs(binary, located, farA, farB, barA, barB, &fitted)) return false;
  return readFinderL(pass, fitted, fitted.corners[1], fitted.corners[2], step, symbol, side);
}
