// Time spent in each decoder stage, for the benchmark. Compiled in only when QUARNEL_STAGE_TIMING is
// defined; otherwise QUARNEL_STAGE_TIMER expands to nothing and the decoder carries no trace of it.
//
// A timer covers its scope minus the scopes of the timers nested inside it: entering a stage pauses the
// enclosing one and leaving it resumes that one, so the totals never count a nanosecond twice and add
// up to the time spent inside timed scopes.
#ifndef QUARNEL_DECODER_STAGE_TIMING_H_
#define QUARNEL_DECODER_STAGE_TIMING_H_

#include <cstdint>

enum DecoderStage {
  STAGE_BINARISATION,
  STAGE_CONTOUR_PREPASS,  // removal of regions and holes too small for a candidate
  STAGE_POLYGONS,     // contour search and polygon approximation
  STAGE_CANDIDATES,   // polygon filters, corner estimation and finder test
  STAGE_CROP,         // per-candidate crop and pixel doubling
  STAGE_EDGE_SWEEPS,  // timing-edge sweeps and orientation
  STAGE_SAMPLING,     // symbol size, grid and module sampling
  STAGE_DATA_DECODING,
  STAGE_COUNT,
};

constexpr const char* STAGE_NAMES[STAGE_COUNT] = {
    "binarisation", "contour pre-pass", "contours and polygons", "candidates", "crop", "edge sweeps", "sampling", "data decoding",
};

// Accumulated exclusive time per stage since the last reset.
struct StageTotals {
  std::int64_t nanoseconds[STAGE_COUNT] = {};
};

#ifdef QUARNEL_STAGE_TIMING

#include <ctime>

namespace stagetiming {

struct StageClock {
  StageTotals totals;
  int current = -1;          // stage whose time runs now, -1 outside every timer
  std::int64_t mark = 0;     // when the running stage last started or resumed
};

// One clock per thread: decoder calls on several threads each time their own stages.
inline thread_local StageClock stageClock;

inline std::int64_t nowNanoseconds() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// Charges the time since the last mark to the running stage and hands the clock to `next`.
inline void switchStage(int next) {
  const std::int64_t now = nowNanoseconds();
  if (stageClock.current >= 0) stageClock.totals.nanoseconds[stageClock.current] += now - stageClock.mark;
  stageClock.current = next;
  stageClock.mark = now;
}

class ScopedStage {
 public:
  explicit ScopedStage(DecoderStage stage) : enclosing_(stageClock.current) { switchStage(stage); }
  ~ScopedStage() { switchStage(enclosing_); }
  ScopedStage(const ScopedStage&) = delete;
  ScopedStage& operator=(const ScopedStage&) = delete;

 private:
  int enclosing_;
};

}  // namespace stagetiming

inline StageTotals stageTotals() { return stagetiming::stageClock.totals; }
inline void resetStageTotals() { stagetiming::stageClock.totals = StageTotals{}; }
constexpr bool STAGE_TIMING_ENABLED = true;

#define QUARNEL_STAGE_TIMER(stage) const ::stagetiming::ScopedStage quarnelStageTimer(stage)

#else

inline StageTotals stageTotals() { return StageTotals{}; }
inline void resetStageTotals() {}
constexpr bool STAGE_TIMING_ENABLED = false;

#define QUARNEL_STAGE_TIMER(stage) static_cast<void>(0)

#endif  // QUARNEL_STAGE_TIMING

#endif  // QUARNEL_DECODER_STAGE_TIMING_H_
