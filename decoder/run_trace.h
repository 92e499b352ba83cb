// The table of runs one line trace fills, kept in the per-call decoder context.
#ifndef QUARNEL_DECODER_RUN_TRACE_H_
#define QUARNEL_DECODER_RUN_TRACE_H_

#include <cstdint>

constexpr int RUN_TRACE_CAPACITY = 1280;

// The runs of equal pixels met by the most recent traceRuns call into this table. The timing-edge
// sweep traces up to 81 lines per edge and scores each from the table, so it is a fixed array that every
// trace reuses; each decoder call has its own, so calls on different images may run at once.
struct RunTrace {
  std::int32_t runLengths[RUN_TRACE_CAPACITY];
  std::uint8_t runColours[RUN_TRACE_CAPACITY];  // 1: a run of light (0) pixels, 0: a run of dark pixels
  std::int32_t runCount;
};

#endif  // QUARNEL_DECODER_RUN_TRACE_H_
