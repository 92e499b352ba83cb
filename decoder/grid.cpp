#include "decoder/grid.h"

#include <algorithm>
#include <cmath>
#include <iterator>

#include "decoder/append.h"
#include "decoder/stage_timing.h"

namespace {

// A corner walk starting further out than this comes from degenerate geometry and finds nothing.
constexpr float WALK_MAX_START = 4.0e6f;

std::uint8_t pixelAt(const IplImage* image, int x, int y) {
  return static_cast<std::uint8_t>(image->imageData[y * image->widthStep + x]);
}

// Extent of the segment p-q along the major axis of line: x for y-from-x lines, y for x-from-y lines.
float axisExtent(const EdgeLine& line, CvPoint2D32f p, CvPoint2D32f q) {
  return std::fabs(line.kind == LINE_Y_FROM_X ? q.x - p.x : q.y - p.y);
}

RunModel scaleModel(const RunModel& model, float factor) {
  return RunModel{model.valid, model.slope * factor, model.intercept * factor};
}

// The point `distance` along border's major axis from `from`, heading for `toward`.
CvPoint2D32f pointAlongBorder(const EdgeLine& border, CvPoint2D32f from, CvPoint2D32f toward, float distance) {
  CvPoint2D32f point;
  if (border.kind == LINE_Y_FROM_X) {
    const float sign = toward.x - from.x > 0.0f ? 1.0f : -1.0f;
    point.x = from.x + sign * distance;
    point.y = border.slope * point.x + border.intercept;
  } else {
    const float sign = toward.y - from.y > 0.0f ? 1.0f : -1.0f;
    point.y = from.y + sign * distance;
    point.x = border.slope * point.y + border.intercept;
  }
  return point;
}

bool isSaneCornerX(float x) { return x >= GRID_MIN_CORNER_X && x <= GRID_MAX_CORNER_X; }

}  // namespace

CvPoint2D32f walkToDark(const IplImage* image, const EdgeLine& line, float startX, float startY, float limitX,
                        float limitY) {
  const CvPoint2D32f notFound = {-1.0f, -1.0f};
  if (line.kind != LINE_Y_FROM_X && line.kind != LINE_X_FROM_Y) return notFound;
  const bool stepsX = line.kind == LINE_Y_FROM_X;
  const float start = stepsX ? startX : startY;
  const float limit = stepsX ? limitX : limitY;
  if (!(std::fabs(start) < WALK_MAX_START) || std::isnan(limit)) return notFound;
  const float dir = limit > start ? 1.0f : -1.0f;
  const int stepSize = stepsX ? image->width : image->height;
  const int crossSize = stepsX ? image->height : image->width;

  // Steps that lie wholly before the image read nothing and are skipped; the positions stay the same.
  long long firstStep = 1;
  if (dir > 0.0f && start < -4.0f) firstStep = std::max(1LL, static_cast<long long>(-start) - 3);
  if (dir < 0.0f && start > stepSize + 4.0f) firstStep = std::max(1LL, static_cast<long long>(start - stepSize) - 3);

  for (long long step = firstStep;; ++step) {
    const float along = start + dir * static_cast<float>(step);
    if (dir > 0.0f ? along > limit : along < limit) return notFound;
    if (dir > 0.0f ? along > stepSize + 1.0f : along < -2.0f) return notFound;  // no later pixel is inside
    const float across = line.slope * along + line.intercept;
    if (!(across > -2.0f && across < crossSize + 1.0f)) continue;
    const int alongPixel = cvRound(along);
    const int acrossPixel = cvRound(across);
    if (alongPixel < 0 || alongPixel >= stepSize || acrossPixel < 0 || acrossPixel >= crossSize) continue;
    const std::uint8_t pixel =
        stepsX ? pixelAt(image, alongPixel, acrossPixel) : pixelAt(image, acrossPixel, alongPixel);
    if (pixel == 255 || pixel == 128) return stepsX ? cvPoint2D32f(along, across) : cvPoint2D32f(across, along);
  }
}

void buildGridLines(const CvPoint2D32f corners[4], ModuleGrid* grid, const RunModel& columnModel,
                    const RunModel& rowModel, const RunModel& leftModel, const RunModel& bottomModel) {
  for (int i = 0; i < 4; ++i) grid->corners[i] = corners[i];
  const CvPoint2D32f* c = grid->corners;
  grid->borders[0] = lineThroughPoints(c[0], c[1]);
  grid->borders[1] = lineThroughPoints(c[1], c[2]);
  grid->borders[2] = lineThroughPoints(c[2], c[3]);
  grid->borders[3] = lineThroughPoints(c[3], c[0]);
  const int columns = grid->columns, rows = grid->rows;
  grid->gridLines.assign(static_cast<size_t>(std::max(columns - 1, 0) + std::max(rows - 1, 0)), EdgeLine{});

  // Boundary i lies after module i: the running sum of the modelled widths of modules 0..i.
  float topDistance = 0.0f, bottomDistance = 0.0f;
  for (int i = 0; i + 1 < columns; ++i) {
    topDistance += columnModel.slope * static_cast<float>(i) + columnModel.intercept;
    bottomDistance += bottomModel.slope * static_cast<float>(i) + bottomModel.intercept;
    const CvPoint2D32f topPoint = pointAlongBorder(grid->borders[0], c[0], c[1], topDistance);
    const CvPoint2D32f bottomPoint = pointAlongBorder(grid->borders[2], c[3], c[2], bottomDistance);
    grid->gridLines[i] = lineThroughPoints(topPoint, bottomPoint);
  }
  // The row models count from the bottom, so the rows are laid from the top with their top-end entries.
  float rightDistance = 0.0f, leftDistance = 0.0f;
  for (int i = 0; i + 1 < rows; ++i) {
    const float moduleIndex = static_cast<float>(rows - 1 - i);
    rightDistance += rowModel.slope * moduleIndex + rowModel.intercept;
    leftDistance += leftModel.slope * moduleIndex + leftModel.intercept;
    const CvPoint2D32f rightPoint = pointAlongBorder(grid->borders[1], c[1], c[2], rightDistance);
    const CvPoint2D32f leftPoint = pointAlongBorder(grid->borders[3], c[0], c[3], leftDistance);
    grid->gridLines[columns - 1 + i] = lineThroughPoints(rightPoint, leftPoint);
  }
}

int sampleModules(ModuleGrid* grid, const IplImage* image) {
  const int columns = grid->columns, rows = grid->rows;
  const int width = image->width, height = image->height;
  grid->moduleValues.assign(static_cast<size_t>(columns) * rows, 0.0f);
  // Kernel weights by city-block distance; the radius stays below the image width, so this table,
  // made once per call and refilled per cell, holds every weighted distance.
  std::vector<float> weights(static_cast<size_t>(width) + 2, 0.0f);

  // A cell corner whose two lines are nearly parallel keeps the value it had in the previous cell,
  // starting from the grid corner of the same role.
  CvPoint2D32f topLeft = grid->corners[0], bottomRight = grid->corners[2];
  CvPoint2D32f topRight = grid->corners[1], bottomLeft = grid->corners[3];
  for (int i = 0; i < rows; ++i) {
    const EdgeLine& top = i == 0 ? grid->borders[0] : grid->gridLines[columns - 1 + i - 1];
    const EdgeLine& bottom = i == rows - 1 ? grid->borders[2] : grid->gridLines[columns - 1 + i];
    for (int j = 0; j < columns; ++j) {
      const EdgeLine& left = j == 0 ? grid->borders[3] : grid->gridLines[j - 1];
      const EdgeLine& right = j == columns - 1 ? grid->borders[1] : grid->gridLines[j];
      intersectLines(top, left, &topLeft);
      intersectLines(right, bottom, &bottomRight);
      intersectLines(top, right, &topRight);
      intersectLines(bottom, left, &bottomLeft);
      if (!isSaneCornerX(topLeft.x) || !isSaneCornerX(bottomRight.x) || !isSaneCornerX(topRight.x) ||
          !isSaneCornerX(bottomLeft.x)) {
        return SAMPLE_MODULES_OUTSIDE;
      }

      // The disc's diameter is the shorter diagonal; its centre is where the diagonals cross.
      const EdgeLine diagonal1 = lineThroughPoints(topLeft, bottomRight);
      const EdgeLine diagonal2 = lineThroughPoints(topRight, bottomLeft);
      const float radius =
          static_cast<float>(0.5 * std::min(pointDistance(topLeft, bottomRight), pointDistance(topRight, bottomLeft)));
      if (!(radius < width)) return SAMPLE_MODULES_TOO_WIDE;
      if (!(radius > 0.0f)) return SAMPLE_MODULES_OUTSIDE;  // a cell of no extent has no kernel
      CvPoint2D32f centre = {(topLeft.x + bottomRight.x) / 2.0f, (topLeft.y + bottomRight.y) / 2.0f};
      intersectLines(diagonal1, diagonal2, &centre);  // diagonals nearly parallel: the midpoint of one
      if (!std::isfinite(centre.x) || !std::isfinite(centre.y)) return SAMPLE_MODULES_OUTSIDE;

      const double firstRowValue = centre.y + 0.5 - radius;
      const double lastRowValue = centre.y + 0.5 + radius;
      const int firstRow = firstRowValue < 0.0 ? 0 : static_cast<int>(std::min(firstRowValue, double(height)));
      const int lastRow =
          lastRowValue <= -1.0 ? -1 : static_cast<int>(std::min(lastRowValue, static_cast<double>(height - 1)));
      if (firstRow > lastRow) return SAMPLE_MODULES_OUTSIDE;
      // The rows are inside the image now, so the centre lies within a radius of it; a centre far
      // beyond the left or right edge is pinned where it gives the same outcome (no pixel, or a window
      // past the right edge).
      const double centreXLimit = width + radius + 8.0;
      const int centreX = static_cast<int>(std::min(std::max(centre.x + 0.5, -centreXLimit), centreXLimit));
      const int centreY = static_cast<int>(centre.y + 0.5);

      const int lastWeighted = static_cast<int>(std::floor(radius)) + 1;
      for (int k = 0; k <= lastWeighted; ++k) weights[k] = 1.0f - static_cast<float>(k) / radius;

      float weightSum = 0.0f, darkSum = 0.0f;
      for (int y = firstRow; y <= lastRow; ++y) {
        const float rowOffset = static_cast<float>(y - centreY);
        const float halfWidth = std::sqrt(std::fabs(radius * radius - rowOffset * rowOffset));
        int firstColumn = static_cast<int>(static_cast<float>(centreX) - halfWidth);
        int lastColumn = static_cast<int>(static_cast<float>(centreX) + halfWidth);
        if (lastColumn > width - 1) return SAMPLE_MODULES_TOO_WIDE;
        firstColumn = std::max(firstColumn, 0);  // windows reaching left of column 0 are clipped
        // Pixels past the last weighted city-block distance add zero to both sums, which leaves them
        // exactly as they are; only the weighted middle of the row is visited, in the same order.
        const int rowDistance = std::abs(y - centreY);
        if (rowDistance > lastWeighted) continue;
        const int reach = lastWeighted - rowDistance;
        firstColumn = static_cast<int>(std::max<long long>(firstColumn, static_cast<long long>(centreX) - reach));
        lastColumn = static_cast<int>(std::min<long long>(lastColumn, static_cast<long long>(centreX) + reach));
        const char* pixels = image->imageData + y * image->widthStep;
        for (int x = firstColumn; x <= lastColumn; ++x) {
          const float weight = weights[std::abs(x - centreX) + rowDistance];
          weightSum += weight;
          if (static_cast<std::uint8_t>(pixels[x]) == 255) darkSum += weight;
        }
      }
      if (weightSum == 0.0f) return SAMPLE_MODULES_OUTSIDE;
      grid->moduleValues[static_cast<size_t>(i) * columns + j] = darkSum / weightSum;
    }
  }
  return SAMPLE_MODULES_OK;
}

void thresholdModules(const ModuleGrid& grid, float level, ModuleMatrix* matrix) {
  const int columns = grid.columns, rows = grid.rows;
  matrix->columns = columns;
  matrix->rows = rows;
  if (columns <= 0 || rows <= 0 || columns > MODULE_MATRIX_SIDE || rows > MODULE_MATRIX_SIDE ||
      grid.moduleValues.size() < static_cast<size_t>(columns) * rows) {
    return;
  }
  for (int i = 0; i < rows; ++i) {
    for (int j = 0; j < columns; ++j) {
      const size_t cell = static_cast<size_t>(i) * columns + j;
      matrix->modules[cell] = grid.moduleValues[cell] > level ? 1 : 0;  // exactly level reads as light
    }
  }
}

int sampleSymbolMatrix(SymbolDecoder* ctx, int index, ModuleMatrix* matrix, SymbolSize* size) {
  SymbolMeasure measure;
  if (measureSymbolSize(ctx, index, &measure) != MEASURE_STATUS_OK) return SAMPLE_STATUS_BAD_SIZE;
  size->columns = measure.columns;
  size->rows = measure.rows;

  SymbolCandidate& candidate = ctx->candidates[index];
  CvPoint2D32f* corners = candidate.corners;
  const IplImage* image = ctx->workImage;

  // Pull the timing corner in by one module: the walks stop where the last dark module of the top row
  // and the top dark module of the right column begin.
  const CvPoint2D32f alongTop =
      walkToDark(image, candidate.oppositeB, corners[1].x, corners[1].y, corners[0].x, corners[0].y);
  if (alongTop.x < 0.0f) return SAMPLE_STATUS_NO_DARK_CORNER;
  const CvPoint2D32f alongRight =
      walkToDark(image, candidate.oppositeA, corners[1].x, corners[1].y, corners[2].x, corners[2].y);
  if (alongRight.x < 0.0f) return SAMPLE_STATUS_NO_DARK_CORNER;
  const EdgeLine innerTop = parallelThrough(candidate.oppositeB.kind, candidate.oppositeB.slope, alongRight);
  const EdgeLine innerRight = parallelThrough(candidate.oppositeA.kind, candidate.oppositeA.slope, alongTop);
  intersectLines(innerTop, innerRight, &corners[1]);
  intersectLines(innerTop, candidate.legA, &corners[0]);
  intersectLines(innerRight, candidate.legB, &corners[2]);

  // The left and bottom edges may be foreshortened differently from the right and top edges on which
  // the models were measured: scale the models by the ratio of the edge extents.
  const float rightExtent = axisExtent(candidate.oppositeA, corners[1], corners[2]);
  const float leftExtent = axisExtent(candidate.legA, corners[0], corners[3]);
  const float topExtent = axisExtent(candidate.oppositeB, corners[0], corners[1]);
  const float bottomExtent = axisExtent(candidate.legB, corners[2], corners[3]);
  const RunModel leftModel = scaleModel(measure.rowModel, leftExtent / rightExtent);
  const RunModel bottomModel = scaleModel(measure.columnModel, bottomExtent / topExtent);

  ModuleGrid grid;
  grid.columns = measure.columns - 1;
  grid.rows = measure.rows - 1;
  matrix->columns = 0;
  matrix->rows = 0;
  std::fill(std::begin(matrix->modules), std::end(matrix->modules), 0);
  buildGridLines(corners, &grid, measure.columnModel, measure.rowModel, leftModel, bottomModel);
  if (sampleModules(&grid, image) != SAMPLE_MODULES_OK) return SAMPLE_STATUS_SAMPLING_FAILED;
  thresholdModules(grid, MODULE_LEVEL, matrix);
  return SAMPLE_STATUS_OK;
}

int sampleSymbol(SymbolDecoder* ctx, int index) {
  QUARNEL_STAGE_TIMER(STAGE_SAMPLING);
  // The matrix is large (144 x 144 bytes), so it lives on the heap for the call.
  std::vector<ModuleMatrix> matrix(1);
  SymbolSize size = {0, 0};
  const int status = sampleSymbolMatrix(ctx, index, &matrix[0], &size);
  if (status != SAMPLE_STATUS_OK) return status;
  switch (appendSymbol(ctx, matrix[0].modules, size.columns, size.rows)) {
    case APPEND_DONE:
      return SAMPLE_STATUS_OK;
    case APPEND_DOES_NOT_FIT:
      return SAMPLE_STATUS_DOES_NOT_FIT;
    default:
      return SAMPLE_STATUS_UNREADABLE;
  }
}
