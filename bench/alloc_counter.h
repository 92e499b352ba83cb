// Heap use of a stretch of code, counted by the benchmark's own malloc family (alloc_counter.cpp
// replaces the C library's in the benchmark executable, passing every call on to it).
#ifndef QUARNEL_BENCH_ALLOC_COUNTER_H_
#define QUARNEL_BENCH_ALLOC_COUNTER_H_

#include <cstddef>
#include <cstdint>

namespace alloccounter {

struct HeapUse {
  std::int64_t allocations = 0;  // calls that returned a block
  std::int64_t peakBytes = 0;    // most bytes held at once above the level at start, usable sizes
  std::int64_t finalBytes = 0;   // bytes held at the end above the level at start
};

// Starts counting from zero; only one stretch is counted at a time.
void startCounting();
HeapUse stopCounting();

// Resident set size of the process, in bytes.
std::int64_t residentBytes();

}  // namespace alloccounter

#endif  // QUARNEL_BENCH_ALLOC_COUNTER_H_
