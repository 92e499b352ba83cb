// The pieces of the timing-edge stage: crop window, angle arithmetic, the angular sweep and orientation.
// Shared with the sampling stage and the tests; decoding goes through refineCandidate alone.
#ifndef QUARNEL_DECODER_TIMING_EDGES_INTERNAL_H_
#define QUARNEL_DECODER_TIMING_EDGES_INTERNAL_H_

#include <opencv2/core/core_c.h>

#include "decoder/geometry.h"
#include "decoder/symbol_decoder.h"

// Status codes of refineCandidate; sampling failures come back as REFINE_STATUS_SAMPLING_BASE + status.
enum RefineStatus {
  REFINE_STATUS_OK = 0,
  REFINE_STATUS_NO_SLOT = 1,     // bad index, or every result slot is taken
  REFINE_STATUS_NOT_CONVEX = 2,  // corners run neither way round (or cannot be placed)
  REFINE_STATUS_FIRST_EDGE = 5,  // no angle of the first sweep looked like a timing edge
  REFINE_STATUS_SECOND_EDGE = 6,
  REFINE_STATUS_SAMPLING_BASE = 100,
};

// Edge lines of this kind mean "no edge found".
constexpr int LINE_NOT_FOUND = 100;

// Single-precision angle constants; the sweep and the orientation test compare against exactly these.
constexpr float ANGLE_PI = 3.1415927f;
constexpr float ANGLE_HALF_PI = 1.5707964f;
constexpr float ANGLE_QUARTER_PI = 0.7853982f;
constexpr float ANGLE_THREE_QUARTER_PI = 2.3561945f;
constexpr float ANGLE_THREE_HALF_PI = 4.712389f;

// Half-range of the sweep and steps per side: pi/8 in 40 steps, or pi/16 in 20 on adaptive binaries,
// whose edges are sharper but noisier.
constexpr double SWEEP_RANGE = 0.39269908169872414;
constexpr int SWEEP_STEPS = 40;
constexpr double SWEEP_RANGE_ADAPTIVE = 0.19634954084936207;
constexpr int SWEEP_STEPS_ADAPTIVE = 20;

// A trial angle is acceptable below this run-length variance.
constexpr double SWEEP_MAX_VARIANCE = 15.0;
// Whole-range sweeps add this to every variance they compare (a quarter pixel squared).
constexpr double SWEEP_VARIANCE_FLOOR = 0.25;

// Direction of (dx, dy) in [0, 2*pi), x right and y down; (0, 0) and non-finite input give 0.
float directionAngle(float dx, float dy);

// The line of direction angle a (taken modulo pi) through (x, y).
EdgeLine lineFromAngle(float a, float x, float y);

// The line through (px, py) whose direction is that of line turned by -angle.
EdgeLine rotateLineAbout(const EdgeLine& line, double angle, float px, float py);

// True when every turn from one side of the quadrilateral p[0] p[1] p[2] p[3] to the next is positive
// (clockwise on screen) and at most pi.
bool isPositivelyOrdered(const CvPoint points[4]);

// Crop window around the integer bounding box [minX, maxX] x [minY, maxY]: a margin of a quarter (an
// eighth on adaptive binaries) of the box plus one pixel, clamped to the image, widened or narrowed to
// an even width and height. Width or height may be below 2 when the box lies outside the image.
CvRect cropWindow(int minX, int maxX, int minY, int maxY, int imageWidth, int imageHeight, int adaptiveMode);

// Integer image coordinates of a working-image corner: rounded half to even and, in crop mode, halved
// (toward zero) and moved by the crop origin.
CvPoint resultCorner(CvPoint2D32f corner, int cropMode, CvRect cropRect);

// State of one angular sweep, scored step by step from the run table.
struct SweepState {
  double varianceSeen = 1000.0;
  double bestScore = 0.0;
  int bestCount = 1;
  int bestStep = 0;
  int stopCounter = 0;
  int stopAt = 0;
  bool wholeRange = false;  // score every step and keep the strictly best metric, without penalty
  int plateauEnd = 0;       // whole range: last of the steps right after bestStep that score the same
};

SweepState startSweep(int stepsPerSide, bool wholeRange = false);

// True when the next step of the sweep ends it before its trace is scored.
bool sweepEndsBeforeScoring(const SweepState& state);

// Scores the trace now in `trace` as sweep step `step` along an edge of length edgeLength. Returns
// false when the sweep ends at this step.
bool scoreSweepStep(SweepState* state, const RunTrace& trace, int step, double edgeLength);

// The trial line of sweep step `step`: turned by h - step*h/N before the middle step, not turned at it,
// and by -(step - N)*h/N after it.
EdgeLine sweepLine(const EdgeLine& line, int step, int stepsPerSide, double startAngle, CvPoint2D32f pivot);

// Re-aims a timing edge by sweeping it about pivot (its finder-side corner) from startAngle to
// -startAngle; far is the corner where it meets the other timing edge. Returns a line of kind
// LINE_NOT_FOUND when no angle showed a regular run pattern. With wholeRange the sweep never stops
// early and keeps the angle of the strictly smallest metric.
EdgeLine refineTimingEdge(RunTrace* trace, const IplImage* workImage, const EdgeLine& line, int stepsPerSide,
                          CvPoint2D32f pivot, CvPoint2D32f far, double startAngle, bool wholeRange = false);

// Every step of refineCandidate before sampling: crop, re-aimed timing edges, the result outline and
// the orientation. REFINE_STATUS_OK leaves candidates[index] oriented for sampleSymbol.
int orientCandidate(SymbolDecoder* ctx, int index);

#endif  // QUARNEL_DECODER_TIMING_EDGES_INTERNAL_H_
