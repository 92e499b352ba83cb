// Monotonic tick counter and pause.
#include "app/clock_port.h"

#include <chrono>
#include <thread>

std::uint32_t monotonicTickCount() {
  const auto sinceStart = std::chrono::steady_clock::now().time_since_epoch();
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(sinceStart).count();
  // Keeping the low 32 bits gives the wrapping counter the hold-off and pacing arithmetic expects.
  return static_cast<std::uint32_t>(static_cast<std::uint64_t>(ms));
}

void sleepMilliseconds(std::uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

ClockPort monotonicClock() { return ClockPort{monotonicTickCount, sleepMilliseconds}; }
