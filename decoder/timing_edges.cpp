#include "decoder/timing_edges.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "decoder/grid.h"
#include "decoder/runs.h"
#include "decoder/stage_timing.h"
#include "decoder/timing_edges_internal.h"

namespace {

// The whole-number variance above which a sweep trace is given up: at or above SWEEP_MAX_VARIANCE.
constexpr int SWEEP_VARIANCE_TRACE_LIMIT = static_cast<int>(SWEEP_MAX_VARIANCE + 0.999);
static_assert(SWEEP_VARIANCE_TRACE_LIMIT >= SWEEP_MAX_VARIANCE, "a given-up trace must fail the variance test");

// Corners further out than this cannot come from an image; such a candidate is not refined.
constexpr float CORNER_COORDINATE_LIMIT = 1e7f;

// Rounds half to even like every result coordinate; values beyond any image are pinned first so that
// the conversion to int stays defined.
int roundCoordinate(float value) {
  if (std::isnan(value)) return 0;
  if (value < -1e9f) return -1000000000;
  if (value > 1e9f) return 1000000000;
  return cvRound(value);
}

bool isUsableCorner(CvPoint2D32f corner) {
  return std::fabs(corner.x) < CORNER_COORDINATE_LIMIT && std::fabs(corner.y) < CORNER_COORDINATE_LIMIT;
}

// Cuts the candidate out of the binary image, doubles every pixel, and moves the corners and lines
// into the crop. The doubling gives the sweep's one-pixel line steps half-pixel resolution.
int cropCandidate(SymbolDecoder* ctx, SymbolCandidate* candidate) {
  QUARNEL_STAGE_TIMER(STAGE_CROP);
  CvPoint2D32f* corners = candidate->corners;
  int minX = static_cast<int>(corners[0].x), maxX = minX;
  int minY = static_cast<int>(corners[0].y), maxY = minY;
  for (int i = 1; i < 4; ++i) {
    minX = std::min(minX, static_cast<int>(corners[i].x));
    maxX = std::max(maxX, static_cast<int>(corners[i].x));
    minY = std::min(minY, static_cast<int>(corners[i].y));
    maxY = std::max(maxY, static_cast<int>(corners[i].y));
  }
  const IplImage* binary = ctx->binary;
  const CvRect window = cropWindow(minX, maxX, minY, maxY, binary->width, binary->height, ctx->adaptiveMode);
  if (window.width < 2 || window.height < 2) return REFINE_STATUS_NOT_CONVEX;  // box outside the image
  ctx->cropRect = window;

  if (ctx->cropImage != nullptr) cvReleaseImage(&ctx->cropImage);
  ctx->cropImage = cvCreateImage(cvSize(2 * window.width, 2 * window.height), IPL_DEPTH_8U, 1);
  IplImage* crop = ctx->cropImage;
  // Every source row is doubled once into an even crop row; the odd row below is a copy of it.
  for (int row = 0; row < crop->height; row += 2) {
    const char* source = binary->imageData + (row / 2 + window.y) * binary->widthStep + window.x;
    char* target = crop->imageData + row * crop->widthStep;
    for (int column = 0; column < window.width; ++column) {
      target[2 * column] = source[column];
      target[2 * column + 1] = source[column];
    }
    std::memcpy(target + crop->widthStep, target, static_cast<size_t>(crop->width));
  }

  for (int i = 0; i < 4; ++i) {
    corners[i].x = (corners[i].x - static_cast<float>(window.x)) * 2.0f;
    corners[i].y = (corners[i].y - static_cast<float>(window.y)) * 2.0f;
  }
  const CvPoint2D32f vertex = corners[0], endA = corners[1], endB = corners[2];
  candidate->legA = lineThroughPoints(vertex, endA);
  candidate->legB = lineThroughPoints(vertex, endB);
  candidate->oppositeA = parallelThrough(candidate->legA.kind, candidate->legA.slope, endB);
  candidate->oppositeB = parallelThrough(candidate->legB.kind, candidate->legB.slope, endA);
  intersectLines(candidate->oppositeA, candidate->oppositeB, &corners[3]);  // keeps the mapped corner if parallel
  ctx->workImage = crop;
  return REFINE_STATUS_OK;
}

// Which way to start the sweep of `edge` about pivot: towards +range when the edge turned by +range
// meets `other` farther from `reference` than turned by -range. When either turned edge runs
// (nearly) parallel to `other` there is no crossing to compare, and the sweep starts at -range.
double chooseStartAngle(const EdgeLine& edge, CvPoint2D32f pivot, const EdgeLine& other, CvPoint2D32f reference,
                        double range) {
  const EdgeLine turnedMinus = rotateLineAbout(edge, -range, pivot.x, pivot.y);
  const EdgeLine turnedPlus = rotateLineAbout(edge, range, pivot.x, pivot.y);
  CvPoint2D32f crossingMinus = {0.0f, 0.0f}, crossingPlus = {0.0f, 0.0f};
  if (!intersectLines(turnedMinus, other, &crossingMinus) || !intersectLines(turnedPlus, other, &crossingPlus)) {
    return -range;
  }
  return pointDistance(crossingPlus, reference) > pointDistance(crossingMinus, reference) ? range : -range;
}

}  // namespace

float directionAngle(float dx, float dy) {
  // Each arctangent is rounded to single precision before its quadrant offset is added.
  if (dx > 0.0f && dy >= 0.0f) return static_cast<float>(std::atan(dy / dx));
  if (dx <= 0.0f && dy > 0.0f) return static_cast<float>(std::atan(-dx / dy)) + ANGLE_HALF_PI;
  if (dx < 0.0f && dy <= 0.0f) return static_cast<float>(std::atan(dy / dx)) + ANGLE_PI;
  if (dx >= 0.0f && dy < 0.0f) return static_cast<float>(std::atan(-dx / dy)) + ANGLE_THREE_HALF_PI;
  return 0.0f;  // (0, 0), or a NaN component: no direction
}

EdgeLine lineFromAngle(float a, float x, float y) {
  if (!std::isfinite(a)) a = 0.0f;
  if (a >= ANGLE_PI) a -= ANGLE_PI;
  if (a < 0.0f) a += ANGLE_PI;
  if (a < 0.0f || a >= ANGLE_PI) {
    // Only angles outside [-pi, 2*pi) get here, or a tiny negative angle that rounds up to pi when pi
    // is added: both are folded into [0, pi), pi itself being the direction 0.
    a = std::fmod(a, ANGLE_PI);
    if (a < 0.0f) a += ANGLE_PI;
    if (a >= ANGLE_PI) a = 0.0f;
  }
  EdgeLine line;
  if (a < ANGLE_QUARTER_PI) {
    line.kind = LINE_Y_FROM_X;
    line.slope = std::tan(a);
  } else if (a < ANGLE_HALF_PI) {
    line.kind = LINE_X_FROM_Y;
    line.slope = std::tan(ANGLE_HALF_PI - a);
  } else if (a < ANGLE_THREE_QUARTER_PI) {
    line.kind = LINE_X_FROM_Y;
    line.slope = -std::tan(a - ANGLE_HALF_PI);
  } else {
    line.kind = LINE_Y_FROM_X;
    line.slope = -std::tan(ANGLE_PI - a);
  }
  line.intercept = line.kind == LINE_Y_FROM_X ? y - line.slope * x : x - line.slope * y;
  return line;
}

EdgeLine rotateLineAbout(const EdgeLine& line, double angle, float px, float py) {
  float direction = line.kind == LINE_Y_FROM_X ? directionAngle(1.0f, line.slope) : directionAngle(line.slope, 1.0f);
  if (direction >= ANGLE_PI) direction -= ANGLE_PI;
  direction -= static_cast<float>(angle);
  return lineFromAngle(direction, px, py);
}

bool isPositivelyOrdered(const CvPoint points[4]) {
  float angles[4];
  for (int i = 0; i < 4; ++i) {
    const CvPoint& from = points[i];
    const CvPoint& to = points[(i + 1) % 4];
    // Differences in 64 bits: corners far outside the image must not overflow.
    angles[i] = directionAngle(static_cast<float>(static_cast<long long>(to.x) - from.x),
                               static_cast<float>(static_cast<long long>(to.y) - from.y));
  }
  for (int i = 0; i < 4; ++i) {
    const float a = angles[i];
    const float b = angles[(i + 1) % 4];
    const bool turnsPositively = (a < b && b - a <= ANGLE_PI) || (a > b && a - b > ANGLE_PI);
    if (!turnsPositively) return false;
  }
  return true;
}

CvRect cropWindow(int minX, int maxX, int minY, int maxY, int imageWidth, int imageHeight, int adaptiveMode) {
  const double marginFactor = adaptiveMode ? 0.125 : 0.25;
  const int marginX = static_cast<int>((maxX - minX) * marginFactor);
  const int marginY = static_cast<int>(marginFactor * (maxY - minY));
  int x0 = std::max(minX - marginX - 1, 0);
  int x1 = std::min(maxX + marginX + 1, imageWidth - 1);
  int y0 = std::max(minY - marginY - 1, 0);
  int y1 = std::min(maxY + marginY + 1, imageHeight - 1);
  // An even size keeps the halving of crop coordinates exact at the window's far side.
  if ((x1 - x0 + 1) % 2 != 0) {
    if (x1 < imageWidth - 1) {
      ++x1;
    } else if (x0 == 0) {
      --x1;
    } else {
      --x0;
    }
  }
  if ((y1 - y0 + 1) % 2 != 0) {
    if (y1 < imageHeight - 1) {
      ++y1;
    } else if (y0 == 0) {
      --y1;
    } else {
      --y0;
    }
  }
  return cvRect(x0, y0, x1 - x0 + 1, y1 - y0 + 1);
}

CvPoint resultCorner(CvPoint2D32f corner, int cropMode, CvRect cropRect) {
  CvPoint point = cvPoint(roundCoordinate(corner.x), roundCoordinate(corner.y));
  if (cropMode) {
    // Integer halving truncates toward zero, as the crop's pixel doubling does.
    point.x = point.x / 2 + cropRect.x;
    point.y = point.y / 2 + cropRect.y;
  }
  return point;
}

SweepState startSweep(int stepsPerSide, bool wholeRange) {
  SweepState state;
  state.wholeRange = wholeRange;
  state.bestStep = stepsPerSide;
  state.stopAt = stepsPerSide / 3;
  return state;
}

bool sweepEndsBeforeScoring(const SweepState& state) {
  return !state.wholeRange && state.stopCounter > 0 && state.stopCounter + 1 >= state.stopAt;
}

bool scoreSweepStep(SweepState* state, const RunTrace& trace, int step, double edgeLength) {
  if (state->stopCounter > 0 && !state->wholeRange) {
    ++state->stopCounter;
    if (state->stopCounter >= state->stopAt) return false;  // traced, not scored
  }
  if (trace.runCount == 0) return true;
  const int leadingLight = trace.runColours[0] == 1 ? 1 : 0;
  if (trace.runCount <= (leadingLight ? 7 : 6)) return true;

  // The last run leaves the symbol and a leading light run lies before it: neither is a module.
  const int count = trace.runCount - leadingLight - 1;
  const std::int32_t* lengths = trace.runLengths + leadingLight;
  long long total = 0;
  int longest = 0;
  for (int i = 0; i < count; ++i) {
    total += lengths[i];
    longest = std::max(longest, static_cast<int>(lengths[i]));
  }
  const double mean = static_cast<double>(total) / count;
  const double variance = runVariance(count, mean, lengths);
  if (!(variance < SWEEP_MAX_VARIANCE)) return true;
  state->varianceSeen = variance;
  if (!(total > 0.6 * edgeLength && 2.0 * mean > longest)) return true;

  if (state->wholeRange) {
    // Run lengths are whole pixels: on a sharp picture many angles show no variance at all, and the floor
    // lets the one that crosses the most modules win among them. Neighbouring angles that score exactly
    // alike trace the same pixels; the middle of such a run of angles is kept.
    const double metric = std::sqrt(variance + SWEEP_VARIANCE_FLOOR) / std::pow(count, 1.7);
    const double bestMetric = std::sqrt(state->bestScore + SWEEP_VARIANCE_FLOOR) / std::pow(state->bestCount, 1.7);
    if (state->stopCounter == 0 || metric < bestMetric) {
      state->bestCount = count;
      state->bestStep = step;
      state->bestScore = variance;
      state->plateauEnd = step;
    } else if (metric == bestMetric && state->plateauEnd == step - 1) {
      state->plateauEnd = step;
    }
    state->stopCounter = 1;  // marks that an angle was accepted; never ends the sweep
    return true;
  }

  // Each later acceptance pays for its distance from the first one.
  const int penalty = std::max(state->stopCounter - state->stopAt / 10 - 1, 0);
  const double score = variance + penalty;
  const double metric = std::sqrt(score) / std::pow(count, 1.7);
  const double bestMetric = std::sqrt(state->bestScore) / std::pow(state->bestCount, 1.7);
  if (state->stopCounter <= 2 || metric < bestMetric) {
    state->bestCount = count;
    state->bestStep = step;
    state->bestScore = score;
  }
  if (state->stopCounter >= state->stopAt) return false;
  if (state->stopCounter == 0) state->stopCounter = 1;
  return true;
}

EdgeLine sweepLine(const EdgeLine& line, int step, int stepsPerSide, double startAngle, CvPoint2D32f pivot) {
  if (step == stepsPerSide) return line;
  const double angle = step < stepsPerSide ? startAngle - step * startAngle / stepsPerSide
                                           : -(step - stepsPerSide) * startAngle / stepsPerSide;
  return rotateLineAbout(line, angle, pivot.x, pivot.y);
}

EdgeLine refineTimingEdge(RunTrace* trace, const IplImage* workImage, const EdgeLine& line, int stepsPerSide,
                          CvPoint2D32f pivot, CvPoint2D32f far, double startAngle, bool wholeRange) {
  const double edgeLength = pointDistance(pivot, far);
  const float length = static_cast<float>(edgeLength);
  SweepState state = startSweep(stepsPerSide, wholeRange);
  for (int step = 0; step <= 2 * stepsPerSide; ++step) {
    if (sweepEndsBeforeScoring(state)) break;  // scoreSweepStep would end the sweep without reading the trace
    const EdgeLine trial = sweepLine(line, step, stepsPerSide, startAngle, pivot);
    // A segment of the edge's length from the pivot, along the trial line, towards the far corner.
    const float reach = length / std::sqrt(1.0f + trial.slope * trial.slope);
    float x0, y0, x1, y1;
    if (trial.kind == LINE_Y_FROM_X) {
      x0 = pivot.x;
      y0 = trial.slope * x0 + trial.intercept;
      x1 = pivot.x < far.x ? pivot.x + reach : pivot.x - reach;
      y1 = trial.slope * x1 + trial.intercept;
    } else {
      y0 = pivot.y;
      x0 = trial.slope * y0 + trial.intercept;
      y1 = pivot.y < far.y ? pivot.y + reach : pivot.y - reach;
      x1 = trial.slope * y1 + trial.intercept;
    }
    // A trace whose runs can no longer pass the variance test stops early and leaves an empty table,
    // which scores as a failed step just as the full trace would.
    traceRegularRuns(trace, workImage, x0, y0, x1, y1, trial, SWEEP_VARIANCE_TRACE_LIMIT);
    if (!scoreSweepStep(&state, *trace, step, edgeLength)) break;
  }
  if (state.varianceSeen > SWEEP_MAX_VARIANCE) return EdgeLine{LINE_NOT_FOUND, 0.0f, 0.0f};
  const int chosenStep = wholeRange ? (state.bestStep + state.plateauEnd) / 2 : state.bestStep;
  return sweepLine(line, chosenStep, stepsPerSide, startAngle, pivot);
}

int orientCandidate(SymbolDecoder* ctx, int index) {
  QUARNEL_STAGE_TIMER(STAGE_EDGE_SWEEPS);
  if (index < 0 || index >= ctx->candidateCount || ctx->resultCount < 0 || ctx->resultCount >= DECODE_MAX_RESULTS) {
    return REFINE_STATUS_NO_SLOT;
  }
  SymbolCandidate* candidate = &ctx->candidates[index];
  CvPoint2D32f* corners = candidate->corners;
  for (int i = 0; i < 4; ++i) {
    if (!isUsableCorner(corners[i])) return REFINE_STATUS_NOT_CONVEX;
  }

  ctx->workImage = ctx->binary;
  if (ctx->cropMode) {
    const int status = cropCandidate(ctx, candidate);
    if (status != REFINE_STATUS_OK) return status;
  }
  const IplImage* workImage = ctx->workImage;

  const double range = ctx->adaptiveMode ? SWEEP_RANGE_ADAPTIVE : SWEEP_RANGE;
  const int stepsPerSide = ctx->adaptiveMode ? SWEEP_STEPS_ADAPTIVE : SWEEP_STEPS;
  const CvPoint2D32f vertex = corners[0], endA = corners[1], endB = corners[2];

  // First timing edge: the side facing leg A, turned about the end of leg B.
  double startAngle = chooseStartAngle(candidate->oppositeA, endB, candidate->oppositeB, endA, range);
  candidate->oppositeA = refineTimingEdge(&ctx->runTrace, workImage, candidate->oppositeA, stepsPerSide, endB,
                                           corners[3], startAngle, ctx->sweepWholeRange);
  if (candidate->oppositeA.kind == LINE_NOT_FOUND) return REFINE_STATUS_FIRST_EDGE;

  // Second timing edge about the end of leg A, against the first one as already re-aimed.
  startAngle = chooseStartAngle(candidate->oppositeB, endA, candidate->oppositeA, endB, range);
  candidate->oppositeB = refineTimingEdge(&ctx->runTrace, workImage, candidate->oppositeB, stepsPerSide, endA,
                                           corners[3], startAngle, ctx->sweepWholeRange);
  if (candidate->oppositeB.kind == LINE_NOT_FOUND) return REFINE_STATUS_SECOND_EDGE;

  intersectLines(candidate->oppositeA, candidate->oppositeB, &corners[3]);
  const CvPoint2D32f opposite = corners[3];

  // The outline goes into the next free result slot now; only a decoded symbol makes the slot count.
  DecodeResult& slot = ctx->results[ctx->resultCount];
  slot.corners[0] = resultCorner(endA, ctx->cropMode, ctx->cropRect);
  slot.corners[1] = resultCorner(opposite, ctx->cropMode, ctx->cropRect);
  slot.corners[2] = resultCorner(endB, ctx->cropMode, ctx->cropRect);
  slot.corners[3] = resultCorner(vertex, ctx->cropMode, ctx->cropRect);

  // Orient: clockwise on screen the corners must run top-left, top-right, bottom-right, finder vertex.
  CvPoint2D32f ordered[4] = {endA, opposite, endB, vertex};
  CvPoint rounded[4];
  for (int i = 0; i < 4; ++i) rounded[i] = resultCorner(ordered[i], 0, ctx->cropRect);
  if (!isPositivelyOrdered(rounded)) {
    std::swap(ordered[0], ordered[2]);
    std::swap(rounded[0], rounded[2]);
    std::swap(candidate->legA, candidate->legB);
    std::swap(candidate->oppositeA, candidate->oppositeB);
    if (!isPositivelyOrdered(rounded)) return REFINE_STATUS_NOT_CONVEX;
  }
  for (int i = 0; i < 4; ++i) corners[i] = ordered[i];
  return REFINE_STATUS_OK;
}

int refineCandidate(SymbolDecoder* ctx, int index) {
  const int status = orientCandidate(ctx, index);
  if (status != REFINE_STATUS_OK) return status;
  const int sampleStatus = sampleSymbol(ctx, index);
  return sampleStatus == SAMPLE_STATUS_OK ? REFINE_STATUS_OK : REFINE_STATUS_SAMPLING_BASE + sampleStatus;
}
