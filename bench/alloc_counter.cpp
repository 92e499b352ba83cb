#include "bench/alloc_counter.h"

#include <malloc.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>

// The C library's own allocator entry points, which the replacements below pass every call on to.
extern "C" {
void* __libc_malloc(size_t size);
void __libc_free(void* block);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* block, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
}

namespace alloccounter {
namespace {

std::atomic<bool> counting{false};
std::atomic<std::int64_t> allocationCount{0};
std::atomic<std::int64_t> heldBytes{0};
std::atomic<std::int64_t> peakHeldBytes{0};

void noteAllocated(void* block) {
  if (block == nullptr || !counting.load(std::memory_order_relaxed)) return;
  allocationCount.fetch_add(1, std::memory_order_relaxed);
  const std::int64_t held =
      heldBytes.fetch_add(static_cast<std::int64_t>(malloc_usable_size(block)), std::memory_order_relaxed) +
      static_cast<std::int64_t>(malloc_usable_size(block));
  std::int64_t peak = peakHeldBytes.load(std::memory_order_relaxed);
  while (held > peak && !peakHeldBytes.compare_exchange_weak(peak, held, std::memory_order_relaxed)) {
  }
}

void noteFreed(void* block) {
  if (block == nullptr || !counting.load(std::memory_order_relaxed)) return;
  heldBytes.fetch_sub(static_cast<std::int64_t>(malloc_usable_size(block)), std::memory_order_relaxed);
}

}  // namespace

void startCounting() {
  allocationCount = 0;
  heldBytes = 0;
  peakHeldBytes = 0;
  counting = true;
}

HeapUse stopCounting() {
  counting = false;
  HeapUse use;
  use.allocations = allocationCount;
  use.peakBytes = peakHeldBytes;
  use.finalBytes = heldBytes;
  return use;
}

std::int64_t residentBytes() {
  long totalPages = 0;
  long residentPages = 0;
  std::FILE* statm = std::fopen("/proc/self/statm", "r");
  if (statm == nullptr) return -1;
  const int read = std::fscanf(statm, "%ld %ld", &totalPages, &residentPages);
  std::fclose(statm);
  return read == 2 ? static_cast<std::int64_t>(residentPages) * sysconf(_SC_PAGESIZE) : -1;
}

}  // namespace alloccounter

// The replacements. A block is counted with its usable size both ways, so frees balance allocations.
extern "C" {

void* malloc(size_t size) {
  void* block = __libc_malloc(size);
  alloccounter::noteAllocated(block);
  return block;
}

void free(void* block) {
  alloccounter::noteFreed(block);
  __libc_free(block);
}

void* calloc(size_t count, size_t size) {
  void* block = __libc_calloc(count, size);
  alloccounter::noteAllocated(block);
  return block;
}

void* realloc(void* block, size_t size) {
  alloccounter::noteFreed(block);
  void* moved = __libc_realloc(block, size);
  // A failed realloc keeps the old block, which is still held.
  alloccounter::noteAllocated(moved != nullptr || size == 0 ? moved : block);
  return moved;
}

void* memalign(size_t alignment, size_t size) {
  void* block = __libc_memalign(alignment, size);
  alloccounter::noteAllocated(block);
  return block;
}

void* aligned_alloc(size_t alignment, size_t size) { return memalign(alignment, size); }

int posix_memalign(void** result, size_t alignment, size_t size) {
  if (alignment % sizeof(void*) != 0 || (alignment & (alignment - 1)) != 0) return EINVAL;
  void* block = memalign(alignment, size);
  if (block == nullptr) return ENOMEM;
  *result = block;
  return 0;
}

void* valloc(size_t size) { return memalign(static_cast<size_t>(sysconf(_SC_PAGESIZE)), size); }

}  // extern "C"
