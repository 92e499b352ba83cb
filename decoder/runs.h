// Run tracing along straight lines through the binary image, module counting along the timing edges
// and module-width models.
#ifndef QUARNEL_DECODER_RUNS_H_
#define QUARNEL_DECODER_RUNS_H_

#include <cstdint>

#include <opencv2/core/core_c.h>

#include "decoder/geometry.h"
#include "decoder/run_trace.h"
#include "decoder/symbol_decoder.h"

// Width of the module with index i along an edge: intercept + slope * i.
struct RunModel {
  std::int32_t valid;
  float slope;
  float intercept;
};

// Records in `trace` the runs of pixels along `line` from (x0, y0) to (x1, y1). A y-from-x line steps
// x and takes y from the line, an x-from-y line the other way round. The walk starts one pixel before
// the start point, skips pixels outside the image and stops after RUN_TRACE_CAPACITY runs.
void traceRuns(RunTrace* trace, const IplImage* image, double x0, double y0, double x1, double y1,
               const EdgeLine& line);

// traceRuns for a trace that is only of use if the runs a sweep scores (all but a leading light run and
// the last run) have a variance below varianceLimit. Returns false, with an empty table, once the runs
// met so far prove that they cannot; otherwise fills the table exactly as traceRuns does.
bool traceRegularRuns(RunTrace* trace, const IplImage* image, double x0, double y0, double x1, double y1,
                      const EdgeLine& line, int varianceLimit);

// (1/n) * sum of (lengths[i] - mean)^2 over i < n.
double runVariance(int n, double mean, const std::int32_t* lengths);

// Number of dark-light alternations along the segment: the runs of one trace without a leading and a
// trailing light run. The runs stay in `trace`.
int countTimingModules(RunTrace* trace, const IplImage* image, const EdgeLine& line, double x0, double y0, double x1,
                       double y1);

// Least-squares line through (i, lengths[i]) for i < n; valid is 0 when n is too small for a line.
RunModel fitRunModel(const std::int32_t* lengths, int n);

#endif  // QUARNEL_DECODER_RUNS_H_
