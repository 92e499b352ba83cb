// Capture format negotiation: requested size over the subtype preference list, closest supported
// size, default format.
#include "capture/format_negotiation.h"

#include <cstdio>
#include <cstdlib>

namespace {

// Starting points of the size search: far enough that any real size beats them.
constexpr std::int64_t CAPTURE_CLOSE_SIZE_START = 999999;
constexpr std::int64_t CAPTURE_BEST_SIZE_START = 9999999;

struct AxisScan {
  std::int64_t close = CAPTURE_CLOSE_SIZE_START;
  bool exact = false;
};

// The result of walking low, low + step, ... up to high and keeping the first size strictly nearer to
// want than the one kept so far, computed directly so that a wide range costs nothing. Ties go to the
// smaller size, as the walk meets it first.
AxisScan scanAxis(std::int64_t low, std::int64_t high, std::int64_t step, std::int64_t want) {
  AxisScan scan;
  if (low > high) return scan;
  const std::int64_t last = low + (high - low) / step * step;
  std::int64_t nearest = low;
  if (want >= last) {
    nearest = last;
  } else if (want > low) {
    const std::int64_t below = low + (want - low) / step * step;
    const std::int64_t above = below + step;
    nearest = want - below <= above - want ? below : above;
  }
  if (nearest == want) return AxisScan{want, true};
  if (std::llabs(want - nearest) < std::llabs(want - scan.close)) scan.close = nearest;
  return scan;
}

std::int64_t sizeDistance(std::int64_t wantWidth, std::int64_t wantHeight, std::int64_t width, std::int64_t height) {
  return std::llabs(wantHeight - height) + std::llabs(wantWidth - width);
}

}  // namespace

bool trySizeAndSubtype(CaptureGraph& graph, const CaptureDevice& record, std::int32_t width,
                       std::int32_t height, const MediaSubtype& subtype) {
  VideoFormat previous;
  if (graph.getFormat(previous) != CAPTURE_OK || !record.mediaType) return false;

  // The candidate starts from the format read at set-up, which itself stays untouched.
  VideoFormat candidate = *record.mediaType;
  candidate.width = width;
  candidate.height = height;
  if (record.requestedFrameTime != -1) candidate.frameTime = record.requestedFrameTime;
  candidate.subtype = subtype;
  candidate.sampleSize = static_cast<std::int64_t>(width) * height * 3;
  if (graph.setFormat(candidate) == CAPTURE_OK) return true;

  graph.setFormat(previous);
  return false;
}

std::optional<SizeChoice> findClosestFormat(CaptureGraph& graph, std::int32_t wantWidth, std::int32_t wantHeight) {
  std::int32_t count = 0;
  std::int32_t recordBytes = 0;
  if (!captureSucceeded(graph.capabilityCount(count, recordBytes)) || recordBytes != CAPTURE_CAPS_RECORD_BYTES) {
    return std::nullopt;
  }
  std::int64_t bestWidth = CAPTURE_BEST_SIZE_START;
  std::int64_t bestHeight = CAPTURE_BEST_SIZE_START;
  std::optional<SizeChoice> result;
  for (std::int32_t index = 0; index < count; ++index) {
    StreamCaps caps;
    if (!captureSucceeded(graph.streamCaps(index, caps))) continue;
    if (caps.stepX < 1 || caps.stepY < 1) continue;
    const AxisScan across = scanAxis(caps.minWidth, caps.maxWidth, caps.stepX, wantWidth);
    const AxisScan down = scanAxis(caps.minHeight, caps.maxHeight, caps.stepY, wantHeight);
    if (across.exact && down.exact) return SizeChoice{wantWidth, wantHeight, caps.subtype};
    if (sizeDistance(wantWidth, wantHeight, across.close, down.close) <
        sizeDistance(wantWidth, wantHeight, bestWidth, bestHeight)) {
      bestWidth = across.close;
      bestHeight = down.close;
      result = SizeChoice{static_cast<std::int32_t>(bestWidth), static_cast<std::int32_t>(bestHeight), caps.subtype};
    }
  }
  return result;
}

SizeChoice chooseCaptureFormat(CaptureGraph& graph, CaptureDevice& record) {
  VideoFormat& current = *record.mediaType;
  if (record.tryRequestedSize) {
    const std::int32_t width = record.requestedWidth;
    const std::int32_t height = record.requestedHeight;
    std::printf("SETUP: Default Format is set to %i by %i \n", current.width, current.height);
    for (const NamedSubtype& entry : SUBTYPE_PREFERENCE) {
      std::printf("SETUP: trying format %s @ %i by %i\n", entry.name, width, height);
      if (trySizeAndSubtype(graph, record, width, height, entry.subtype)) return SizeChoice{width, height, entry.subtype};
    }
    std::printf("SETUP: couldn't find requested size - searching for closest matching size\n");
    const std::optional<SizeChoice> closest = findClosestFormat(graph, width, height);
    if (closest) {
      std::printf("SETUP: closest supported size is %s @ %i %i\n", subtypeName(closest->subtype), closest->width,
                  closest->height);
      if (trySizeAndSubtype(graph, record, closest->width, closest->height, closest->subtype)) return *closest;
    }
  }
  // Default format; a device that refuses the frame time keeps its own rate.
  if (record.requestedFrameTime != -1) {
    current.frameTime = record.requestedFrameTime;
    graph.setFormat(current);
  }
  return SizeChoice{current.width, current.height, current.subtype};
}
