// The pixels being decoded at once, kept within what the machine's memory holds: with several jobs each
// picture costs its own working memory, so a job waits before decoding a picture while those in flight
// would go past the budget. One picture always goes through, however large, so any batch that one job
// reads is read with many.
#ifndef QUARNEL_TOOLS_PIXEL_BUDGET_H_
#define QUARNEL_TOOLS_PIXEL_BUDGET_H_

#include <condition_variable>
#include <cstddef>
#include <mutex>

struct PixelBudget {
  explicit PixelBudget(double pixels) : capacity(pixels) {}
  std::mutex mutex;
  std::condition_variable released;
  double capacity;
  double inFlight = 0;  // pixels reserved by the pictures being decoded
  int holders = 0;      // pictures being decoded
  int waiters = 0;      // pictures waiting for their share
  int requests = 0;     // shares asked for so far
};

// The budget of this machine: half its physical memory, or of the address space limit when that is
// smaller, divided by the peak memory a picture costs per pixel while it is decoded.
double machinePixelBudget();

// The address space limit (ulimit -v) in bytes, or 0 without one.
double addressSpaceLimit();

// How many of `wanted` threads the address space limit leaves room for: their stacks may take a quarter
// of it. At least one; `wanted` itself without a limit.
std::size_t threadsWithinAddressSpace(std::size_t wanted);

// Waits until `pixels` more fit in the budget, or nothing else is in flight, and takes them.
void reservePixels(PixelBudget* budget, double pixels);

// Gives back what reservePixels took.
void releasePixels(PixelBudget* budget, double pixels);

// Returns once `count` shares have been asked for, whether they wait or not (for tests of the waiting).
void awaitPixelRequests(PixelBudget* budget, int count);

// One picture's share of a budget, taken once and given back when the owner goes.
class PixelReservation {
 public:
  explicit PixelReservation(PixelBudget* budget) : budget_(budget) {}
  ~PixelReservation() {
    if (pixels_ > 0) releasePixels(budget_, pixels_);
  }
  PixelReservation(const PixelReservation&) = delete;
  PixelReservation& operator=(const PixelReservation&) = delete;

  // Reserves `pixels` unless this owner already holds a share (or has no budget).
  void reserve(double pixels) {
    if (budget_ == nullptr || pixels_ > 0 || pixels <= 0) return;
    reservePixels(budget_, pixels);
    pixels_ = pixels;
  }

 private:
  PixelBudget* budget_;
  double pixels_ = 0;
};

#endif  // QUARNEL_TOOLS_PIXEL_BUDGET_H_
