// Run tracing along straight lines through the binary image, module counting along the timing edges,
// module-width models and the ECC 200 size check.
#ifndef QUARNEL_DECODER_RUNS_H_
#define QUARNEL_DECODER_RUNS_H_

#include <array>
#include <cstddef>
#include <cstdint>

#include <opencv2/core/core_c.h>

#include "decoder/ecc200/symbol_table.h"
#include "decoder/geometry.h"
#include "decoder/run_trace.h"
#include "decoder/symbol_decoder.h"


// Width of the module with index i along an edge: intercept + slope * i.
struct RunModel {
  std::int32_t valid;
  float slope;
  float intercept;
};

struct SymbolSize {
  int columns;
  int rows;
};

// The 30 ECC 200 sizes (24 squares, then 6 rectangles) as (columns, rows), read from the symbol table; a
// rectangle is only accepted with its longer side as the column count.
constexpr int SYMBOL_SIZE_COUNT = ECC200_SYMBOL_COUNT;
constexpr std::array<SymbolSize, SYMBOL_SIZE_COUNT> listSymbolSizes() {
  std::array<SymbolSize, SYMBOL_SIZE_COUNT> sizes{};
  for (std::size_t i = 0; i < sizes.size(); ++i) sizes[i] = {ECC200_SYMBOLS[i].columns, ECC200_SYMBOLS[i].rows};
  return sizes;
}
inline constexpr std::array<SymbolSize, SYMBOL_SIZE_COUNT> symbolSizes = listSymbolSizes();

constexpr int SYMBOL_MAX_MODULES = 144;
constexpr int MEASURE_STATUS_OK = 0;
constexpr int MEASURE_STATUS_BAD_SIZE = 3;

// Records in `trace` the runs of pixels along `line` from (x0, y0) to (x1, y1). A y-from-x line steps
// x and takes y from the line, an x-from-y line the other way round. The walk starts one pixel before
// the start point, skips pixels outside the image and stops after RUN_TRACE_CAPACITY runs.
void traceRuns(RunTrace* trace, const IplImage* image, double x0, double y0, double x1, double y1, const EdgeLine& line);

// (1/n) * sum of (lengths[i] - mean)^2 over i < n.
double runVariance(int n, double mean, const std::int32_t* lengths);

// Number of dark-light alternations along the segment: the runs of one trace without a leading and a
// trailing light run. The runs stay in `trace`.
int countTimingModules(RunTrace* trace, const IplImage* image, const EdgeLine& line, double x0, double y0, double x1, double y1);

// Least-squares line through (i, lengths[i]) for i < n; valid is 0 when n is too small for a line.
RunModel fitRunModel(const std::int32_t* lengths, int n);

bool isSymbolSize(int columns, int rows);

// The symbol size and the module-width models along the top edge (from corners[0]) and the right edge
// (from corners[2]) of an oriented candidate, measured in ctx->workImage.
struct SymbolMeasure {
  int columns = 0;
  int rows = 0;
  RunModel columnModel = {0, 0.0f, 0.0f};
  RunModel rowModel = {0, 0.0f, 0.0f};
};

// MEASURE_STATUS_OK, or MEASURE_STATUS_BAD_SIZE when a count exceeds 144 or the pair is no ECC 200 size.
int measureSymbolSize(SymbolDecoder* ctx, int index, SymbolMeasure* measure);

#endif  // QUARNEL_DECODER_RUNS_H_
