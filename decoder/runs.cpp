#include "decoder/runs.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

// A walk whose stepping coordinates lie further out than this comes from degenerate geometry; it is
// treated as lying wholly outside the image rather than stepped through pixel by pixel.
constexpr double RUN_WALK_MAX_COORDINATE = 1e12;

// One line walk. Step k reads the pixel at position trunc(from + dir*k + 0.5) along the walking axis and
// trunc(slope*position + intercept + 0.5) across it (the line evaluated in single precision).
struct RunWalk {
  double from;
  int dir;
  long long endPosition;  // the walk ends, before reading, on this position
  int stepSize;           // image extent along the walking axis
  int crossSize;          // and across it
  float slope;
  float intercept;
};

// Pixel offset of step position `position`, or -1 when that step reads nothing (off the image, or the
// line's cross coordinate off the image).
template <bool StepsX>
inline long long stepPixelOffset(const RunWalk& walk, long long position, int rowStep) {
  if (position < 0 || position >= walk.stepSize) return -1;
  const double crossValue = static_cast<double>(walk.slope * static_cast<float>(position) + walk.intercept) + 0.5;
  if (!(crossValue > -1.0 && crossValue < walk.crossSize)) return -1;
  const long long cross = static_cast<int>(crossValue);
  return StepsX ? cross * rowStep + position : position * rowStep + cross;
}

// Walks in direction dir (+1 or -1) along the x axis (StepsX) or the y axis. Positions rise (or fall)
// with the step, and the cross coordinate is a monotone function of the position, so the steps that
// read a pixel form one unbroken stretch: the walk skips to its first step, finds the stretch's last step
// by bisection, and reads the steps between with no tests at all.
//
// With GiveUp the walk also keeps the sums of the runs that are sure to be scored (every finished run but
// a leading light one) and returns -1 as soon as they prove that the scored runs' variance cannot come
// below varianceLimit: adding runs never lowers the sum of squared deviations, and every run still to
// come takes at least one step.
template <bool StepsX, int dir, bool GiveUp>
int walkRuns(const RunWalk& walk, double firstStep, const IplImage* image, RunTrace* trace, int varianceLimit) {
  const double stepEnd = dir > 0 ? walk.stepSize : -1.0;
  // A step is past the walk once its position reaches this bound (the end position or the image edge).
  const long long lastBound =
      dir > 0 ? std::min<long long>(walk.endPosition, walk.stepSize) : std::max<long long>(walk.endPosition, -1);
  const int rowStep = image->widthStep;
  const unsigned char* pixels = reinterpret_cast<const unsigned char*>(image->imageData);

  double offset = dir * firstStep;  // dir * step, a whole number held exactly
  long long pixelOffset = -1;
  long long firstPosition = 0;
  for (;; offset += dir) {
    const double positionValue = walk.from + offset + 0.5;
    if (dir > 0 ? positionValue >= stepEnd : positionValue <= stepEnd) return 0;  // past the image
    firstPosition = static_cast<long long>(positionValue);                        // truncates toward zero
    if ((firstPosition - walk.endPosition) * dir >= 0) return 0;
    pixelOffset = stepPixelOffset<StepsX>(walk, firstPosition, rowStep);
    if (pixelOffset >= 0) break;
  }

  // Whether the step `steps` after the first one still reads a pixel.
  const auto reads = [&](long long steps) {
    const long long position = static_cast<long long>(walk.from + (offset + dir * static_cast<double>(steps)) + 0.5);
    if (dir > 0 ? position >= lastBound : position <= lastBound) return false;
    return stepPixelOffset<StepsX>(walk, position, rowStep) >= 0;
  };
  // Each step moves the position by about one (the position 0, which truncation reaches twice, aside):
  // a few steps past the distance to the bound are past the walk, and the doubling only guards that.
  long long lastStep = 0;
  long long pastStep = (lastBound - firstPosition) * dir + 3;
  while (reads(pastStep)) pastStep *= 2;
  while (pastStep - lastStep > 1) {
    const long long middle = lastStep + (pastStep - lastStep) / 2;
    (reads(middle) ? lastStep : pastStep) = middle;
  }

  // The open run is kept in locals and stored when it ends: the table is written once per run.
  std::int32_t* lengths = trace->runLengths;
  std::uint8_t* colours = trace->runColours;
  std::uint8_t openColour = pixels[pixelOffset] == 0 ? 1 : 0;
  std::int32_t openLength = 1;
  int count = 1;
  colours[0] = openColour;
  const int leadingLight = openColour == 1 ? 1 : 0;
  long long scoredCount = 0, scoredSum = 0, scoredSquares = 0;
  for (long long steps = 1; steps <= lastStep; ++steps) {
    offset += dir;
    const long long position = static_cast<long long>(walk.from + offset + 0.5);
    const int cross =
        static_cast<int>(static_cast<double>(walk.slope * static_cast<float>(position) + walk.intercept) + 0.5);
    pixelOffset = StepsX ? static_cast<long long>(cross) * rowStep + position : position * rowStep + cross;
    const std::uint8_t colour = pixels[pixelOffset] == 0 ? 1 : 0;
    if (colour == openColour) {
      ++openLength;
      continue;
    }
    lengths[count - 1] = openLength;
    if (GiveUp && count > leadingLight) {
      ++scoredCount;
      scoredSum += openLength;
      scoredSquares += static_cast<long long>(openLength) * openLength;
      // At most this many runs can be scored: those so far, the one opening now, one per step left.
      const long long maxScored = scoredCount + 1 + (lastStep - steps);
      // scoredCount * (sum of squared deviations) against the limit's share, in whole numbers. The margin
      // of one keeps the floating-point variance of the full trace clear of the limit.
      if (scoredCount * scoredSquares - scoredSum * scoredSum >= (varianceLimit + 1LL) * scoredCount * maxScored) {
        return -1;
      }
    }
    colours[count] = colour;
    ++count;
    openColour = colour;
    openLength = 1;
    if (count >= RUN_TRACE_CAPACITY) break;  // the table is full: the walk ends on a new run
  }
  lengths[count - 1] = openLength;
  return count;
}

}  // namespace

namespace {

// Sets up the walk of traceRuns and runs it; returns the run count, or -1 when GiveUp gave up.
template <bool GiveUp>
int traceLine(RunTrace* trace, const IplImage* image, double x0, double y0, double x1, double y1, const EdgeLine& line,
              int varianceLimit) {
  trace->runCount = 0;
  if (image == nullptr || (line.kind != LINE_Y_FROM_X && line.kind != LINE_X_FROM_Y)) return 0;
  const bool stepsX = line.kind == LINE_Y_FROM_X;
  const double from = stepsX ? x0 : y0;
  const double to = stepsX ? x1 : y1;
  if (!(std::fabs(from) < RUN_WALK_MAX_COORDINATE && std::fabs(to) < RUN_WALK_MAX_COORDINATE)) return 0;
  RunWalk walk;
  walk.from = from;
  walk.dir = from <= to ? 1 : -1;
  walk.stepSize = stepsX ? image->width : image->height;
  walk.crossSize = stepsX ? image->height : image->width;
  walk.slope = line.slope;
  walk.intercept = line.intercept;

  // The walk ends, before reading, at the position trunc(to + dir + 0.5). Positions are compared by
  // order only, so the end may be pinned a few pixels outside the image before it becomes an integer.
  const double endValue = std::min(std::max(to + walk.dir + 0.5, -4.0), walk.stepSize + 4.0);
  walk.endPosition = static_cast<long long>(endValue);

  // Step k starts at -1, one pixel before the start point. Steps that lie wholly before the image are
  // skipped: they read nothing, and the positions (trunc of start + dir*k + 0.5) stay exactly the same.
  double firstStep = walk.dir > 0 ? std::floor(-1.5 - from) - 1.0 : std::floor(from + 0.5 - walk.stepSize) - 1.0;
  firstStep = std::max(firstStep, -1.0);

  if (stepsX) {
    return walk.dir > 0 ? walkRuns<true, 1, GiveUp>(walk, firstStep, image, trace, varianceLimit)
                        : walkRuns<true, -1, GiveUp>(walk, firstStep, image, trace, varianceLimit);
  }
  return walk.dir > 0 ? walkRuns<false, 1, GiveUp>(walk, firstStep, image, trace, varianceLimit)
                      : walkRuns<false, -1, GiveUp>(walk, firstStep, image, trace, varianceLimit);
}

}  // namespace

void traceRuns(RunTrace* trace, const IplImage* image, double x0, double y0, double x1, double y1,
               const EdgeLine& line) {
  trace->runCount = traceLine<false>(trace, image, x0, y0, x1, y1, line, 0);
}

bool traceRegularRuns(RunTrace* trace, const IplImage* image, double x0, double y0, double x1, double y1,
                      const EdgeLine& line, int varianceLimit) {
  const int count = traceLine<true>(trace, image, x0, y0, x1, y1, line, varianceLimit);
  trace->runCount = count < 0 ? 0 : count;
  return count >= 0;
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
