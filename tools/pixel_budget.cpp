#include "tools/pixel_budget.h"

#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>

namespace {

// Measured on a noise picture of 100 megapixels: the file's bytes, the colour and grey pictures, the
// thresholded copies and the contour search together peak near 18 bytes a pixel.
constexpr double PEAK_BYTES_PER_PIXEL = 18;

// The share of the memory the pictures may take; the rest stays for the program itself, the threads'
// stacks, the system and other programs.
constexpr double PICTURES_MEMORY_SHARE = 0.5;
// The share of the address space limit the threads' stacks may take.
constexpr double STACKS_ADDRESS_SPACE_SHARE = 0.25;

// The stack a new thread gets, in bytes.
double threadStackBytes() {
  pthread_attr_t defaults;
  std::size_t bytes = 0;
  if (pthread_getattr_default_np(&defaults) == 0) {
    pthread_attr_getstacksize(&defaults, &bytes);
    pthread_attr_destroy(&defaults);
  }
  return double(bytes);
}

}  // namespace

double addressSpaceLimit() {
  struct rlimit addressSpace;
  if (getrlimit(RLIMIT_AS, &addressSpace) != 0 || addressSpace.rlim_cur == RLIM_INFINITY) return 0;
  return double(addressSpace.rlim_cur);
}

double machinePixelBudget() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long pageSize = sysconf(_SC_PAGESIZE);
  double bytes = pages > 0 && pageSize > 0 ? double(pages) * double(pageSize) : 0;
  const double limit = addressSpaceLimit();
  if (limit > 0) bytes = bytes > 0 ? std::min(bytes, limit) : limit;
  return bytes * PICTURES_MEMORY_SHARE / PEAK_BYTES_PER_PIXEL;
}

std::size_t threadsWithinAddressSpace(std::size_t wanted) {
  const double limit = addressSpaceLimit();
  const double stack = threadStackBytes();
  if (limit <= 0 || stack <= 0) return wanted;
  const double affordable = limit * STACKS_ADDRESS_SPACE_SHARE / stack;
  return std::max<std::size_t>(1, std::min<double>(double(wanted), affordable));
}

void reservePixels(PixelBudget* budget, double pixels) {
  std::unique_lock<std::mutex> lock(budget->mutex);
  ++budget->waiters;
  ++budget->requests;
  budget->released.notify_all();  // wakes awaitPixelRequests
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

void awaitPixelRequests(PixelBudget* budget, int count) {
  std::unique_lock<std::mutex> lock(budget->mutex);
  budget->released.wait(lock, [&] { return budget->requests >= count; });
}
