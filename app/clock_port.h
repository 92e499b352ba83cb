// Clock port: the millisecond tick counter and the pause the worker paces itself with.
#ifndef QUARNEL_APP_CLOCK_PORT_H_
#define QUARNEL_APP_CLOCK_PORT_H_

#include <cstdint>
#include <functional>

struct ClockPort {
  // Milliseconds since an arbitrary start, wrapping at 2^32 (about 49.7 days).
  std::function<std::uint32_t()> tickCount;
  std::function<void(std::uint32_t ms)> sleepMs;
};

// The tick counter taken from the monotonic clock, so that setting the wall clock never moves it.
std::uint32_t monotonicTickCount();
void sleepMilliseconds(std::uint32_t ms);
ClockPort monotonicClock();

#endif  // QUARNEL_APP_CLOCK_PORT_H_
