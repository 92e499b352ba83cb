#include "tools/pixel_budget.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>

namespace {

// Measured on a noise picture of 100 megapixels: the file's bytes, the colour and grey pictures, the
// thresholded copies and the contour search together peak near 18 bytes a pixel.
constexpr double PEAK_BYTES_PER_PIXEL = 18;

// The share of physical memory the pictures may take; the rest stays for the system and other programs.
constexpr double PHYSICAL_MEMORY_SHARE = 0.5;

}  // namespace

double machinePixelBudget() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long pageSize = sysconf(_SC_PAGESIZE);
  double bytes = pages > 0 && pageSize > 0 ? double(pages) * double(pageSize) * PHYSICAL_MEMORY_SHARE : 0;
  struct rlimit addressSpace;
  if (getrlimit(RLIMIT_AS, &addressSpace) == 0 && addressSpace.rlim_cur != RLIM_INFINITY) {
    const double limit = double(addressSpace.rlim_cur);
    bytes = bytes > 0 ? std::min(bytes, limit) : limit;
  }
  return bytes / PEAK_BYTES_PER_PIXEL;
}

void reservePixels(PixelBudget* budget, double pixels) {
  std::unique_lock<std::mutex> lock(budget->mutex);
  ++budget->waiters;
  budget->released.notify_all();  // wakes awaitPixelWaiters
  budget->released.wait(lock, [&] { return budget->holders == 0 || budget->inFlight + pixels <= budget->capacity; });
  --budget->waiters;
  ++budget->holders;
  budget->inFlight += pixels;
}

void releasePixels(PixelBudget* budget, double pixels) {
  const std::lock_guard<std::mutex> lock(budget->mutex);
  --budget->holders;
  budget->inFlight = budget->holders == 0 ? 0 : budget->inFlight - pixels;
  budget->released.notify_all();
}

void awaitPixelWaiters(PixelBudget* budget, int count) {
  std::unique_lock<std::mutex> lock(budget->mutex);
  budget->released.wait(lock, [&] { return budget->waiters >= count; });
}
