#include "decoder/runs.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

// A walk whose stepping coordinates lie further out than this comes from degenerate geometry; it is
// treated as lying wholly outside the image rather than stepped through pixel by pixel.
constexpr double RUN_WALK_MAX_COORDINATE = 1e12;

}  // namespace

void traceRuns(RunTrace* trace, const IplImage* image, double x0, double y0, double x1, double y1,
               const EdgeLine& line) {
  trace->runCount = 0;
  if (image == nullptr || (line.kind != LINE_Y_FROM_X && line.kind != LINE_X_FROM_Y)) return;
  const bool stepsX = line.kind == LINE_Y_FROM_X;
  const double from = stepsX ? x0 : y0;
  const double to = stepsX ? x1 : y1;
  if (!(std::fabs(from) < RUN_WALK_MAX_COORDINATE && std::fabs(to) < RUN_WALK_MAX_COORDINATE)) return;
  const int dir = from <= to ? 1 : -1;
  const int stepSize = stepsX ? image->width : image->height;
  const int crossSize = stepsX ? image->height : image->width;

  // The walk ends, before reading, at the position trunc(to + dir + 0.5). Positions are compared by
  // order only, so the end may be pinned a few pixels outside the image before it becomes an integer.
  const double endValue = std::min(std::max(to + dir + 0.5, -4.0), stepSize + 4.0);
  const long long endPosition = static_cast<long long>(endValue);

  // Step k starts at -1, one pixel before the start point. Steps that lie wholly before the image are
  // skipped: they read nothing, and the positions (trunc of start + dir*k + 0.5) stay exactly the same.
  double firstStep = dir > 0 ? std::floor(-1.5 - from) - 1.0 : std::floor(from + 0.5 - stepSize) - 1.0;
  firstStep = std::max(firstStep, -1.0);

  // The open run is kept in locals and stored when it ends: the table is written once per run rather
  // than re-read after every pixel.
  const char* pixels = image->imageData;
  const int rowStep = image->widthStep;
  std::int32_t* lengths = trace->runLengths;
  std::uint8_t* colours = trace->runColours;
  int count = 0;
  std::uint8_t openColour = 0;
  std::int32_t openLength = 0;
  for (double step = firstStep;; step += 1.0) {
    const double positionValue = from + dir * step + 0.5;
    if (dir > 0 ? positionValue >= stepSize : positionValue <= -1.0) break;  // past the image
    const long long position = static_cast<long long>(positionValue);        // truncates toward zero
    if ((position - endPosition) * dir >= 0) break;
    if (position < 0 || position >= stepSize) continue;
    // The cross coordinate is evaluated in single precision and then rounded by adding 0.5 and truncating.
    const double crossValue = static_cast<double>(line.slope * static_cast<float>(position) + line.intercept) + 0.5;
    if (!(crossValue > -1.0 && crossValue < crossSize)) continue;
    const int cross = static_cast<int>(crossValue);
    const int x = stepsX ? static_cast<int>(position) : cross;
    const int y = stepsX ? cross : static_cast<int>(position);
    const std::uint8_t colour = pixels[y * rowStep + x] == 0 ? 1 : 0;
    if (openLength > 0 && colour == openColour) {
      ++openLength;
      continue;
    }
    if (openLength > 0) lengths[count - 1] = openLength;
    colours[count] = colour;
    ++count;
    openColour = colour;
    openLength = 1;
    if (count >= RUN_TRACE_CAPACITY) break;  // the table is full: the walk ends on a new run
  }
  if (openLength > 0) lengths[count - 1] = openLength;
  trace->runCount = count;
}

double runVariance(int n, double mean, const std::int32_t* lengths) {
  double sum = 0.0;
  for (int i = 0; i < n; ++i) {
    const double deviation = lengths[i] - mean;
    sum += deviation * deviation;
  }
  return sum / n;
}

int countTimingModules(RunTrace* trace, const IplImage* image, const EdgeLine& line, double x0, double y0, double x1,
                       double y1) {
  traceRuns(trace, image, x0, y0, x1, y1, line);
  int count = trace->runCount;
  if (count > 0 && trace->runColours[0] == 1) --count;                    // light before the first dark module
  if (count > 0 && trace->runColours[trace->runCount - 1] == 1) --count;  // light past the last one
  return count;
}

RunModel fitRunModel(const std::int32_t* lengths, int n) {
  // The sums would fit 32 bits for any trace; the products below need 64 (a 144-module edge of
  // 16-pixel runs already takes sumV * sumI2 past 2^31).
  long long sumI = 0, sumI2 = 0, sumV = 0, sumIV = 0;
  for (int i = 0; i < n; ++i) {
    sumI += i;
    sumI2 += static_cast<long long>(i) * i;
    sumV += lengths[i];
    sumIV += static_cast<long long>(i) * lengths[i];
  }
  const float denominator = static_cast<float>(n * sumI2 - sumI * sumI);
  if (denominator == 0.0f) return RunModel{0, 0.0f, 0.0f};  // fewer than two points: no line
  RunModel model;
  model.valid = 1;
  model.slope = static_cast<float>(n * sumIV - sumI * sumV) / denominator;
  model.intercept = static_cast<float>(sumV * sumI2 - sumIV * sumI) / denominator;
  return model;
}
