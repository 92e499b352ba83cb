// The symbol size of an oriented candidate: both timing edges counted, the pair checked against the ECC 200
// sizes, and the module-width models fitted to the traced runs.
#include "decoder/symbol_size.h"

#include <cmath>
#include <cstdlib>

#include "decoder/ecc200/ecc200.h"

bool isSymbolSize(int columns, int rows) {
  for (const SymbolSize& size : symbolSizes) {
    if (size.columns == columns && size.rows == rows) return true;
  }
  return false;
}

namespace {

// A count that blur or noise put a few modules off: when the other edge gives a square size and this one
// is within a tenth of it, the symbol is taken as that square, its modules spread evenly over the run
// the miscounted edge traced.
constexpr double SQUARE_SNAP_SHARE = 0.1;

bool isSquareSize(int modules) { return isSymbolSize(modules, modules); }

bool snapsTo(int trusted, int counted) {
  return isSquareSize(trusted) && std::abs(counted - trusted) <= std::max(1.0, SQUARE_SNAP_SHARE * trusted);
}

RunModel evenModel(const RunModel& fitted, int fittedModules, int modules) {
  // The fitted model's widths summed over its modules give the traced extent.
  const float extent = fitted.intercept * fittedModules + fitted.slope * fittedModules * (fittedModules - 1) / 2.0f;
  return RunModel{1, 0.0f, extent / static_cast<float>(modules)};
}

bool snapToSquare(SymbolMeasure* measure) {
  const int columns = measure->columns, rows = measure->rows;
  if (columns < 2 || rows < 2 || measure->columnModel.valid == 0 || measure->rowModel.valid == 0) return false;
  if (snapsTo(columns, rows)) {
    measure->rowModel = evenModel(measure->rowModel, rows - 1, columns - 1);
    measure->rows = columns;
    return true;
  }
  if (snapsTo(rows, columns)) {
    measure->columnModel = evenModel(measure->columnModel, columns - 1, rows - 1);
    measure->columns = rows;
    return true;
  }
  return false;
}

}  // namespace

int measureSymbolSize(SymbolDecoder* ctx, int index, SymbolMeasure* measure) {
  const SymbolCandidate& candidate = ctx->candidates[index];
  const CvPoint2D32f* corners = candidate.corners;

  RunTrace& trace = ctx->runTrace;
  measure->columns = countTimingModules(&trace, ctx->workImage, candidate.oppositeB, corners[0].x, corners[0].y,
                                        corners[1].x, corners[1].y) +
                     1;
  if (measure->columns > SYMBOL_MAX_MODULES) return MEASURE_STATUS_BAD_SIZE;
  // The model is fitted on this very trace, from the first dark run on.
  int firstRun = trace.runCount > 0 && trace.runColours[0] == 1 ? 1 : 0;
  measure->columnModel = fitRunModel(trace.runLengths + firstRun, measure->columns - 1);

  measure->rows = countTimingModules(&trace, ctx->workImage, candidate.oppositeA, corners[2].x, corners[2].y,
                                     corners[1].x, corners[1].y) +
                  1;
  if (measure->rows > SYMBOL_MAX_MODULES) return MEASURE_STATUS_BAD_SIZE;
  firstRun = trace.runCount > 0 && trace.runColours[0] == 1 ? 1 : 0;
  measure->rowModel = fitRunModel(trace.runLengths + firstRun, measure->rows - 1);

  auto isKnown = [ctx](int columns, int rows) {
    return ctx->allowDmre ? findEcc200SymbolIn(columns, rows, true) != nullptr : isSymbolSize(columns, rows);
  };
  if (isKnown(measure->columns, measure->rows)) return MEASURE_STATUS_OK;
  if (ctx->allowExchangedSizes && isKnown(measure->rows, measure->columns)) return MEASURE_STATUS_OK;
  if (ctx->snapSquareSizes && snapToSquare(measure)) return MEASURE_STATUS_OK;
  return MEASURE_STATUS_BAD_SIZE;
}
