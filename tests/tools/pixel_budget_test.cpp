// The pixel budget's waiting: pictures share it while they fit, a picture that does not fit waits for
// one in flight to finish, and a picture alone always goes through.
#include "tools/pixel_budget.h"

#include <atomic>
#include <thread>

#include <gtest/gtest.h>

namespace {

// A second picture asks for its share while the first holds one; it waits exactly when both do not fit,
// and goes on once the first gives its share back.
TEST(PixelBudgetTest, SecondPictureWaitsWhileBothDoNotFit) {
  struct Case {
    const char* name;
    double first, second;
    bool waits;
  } cases[] = {
      {"two pictures larger together than the budget", 60, 60, true},
      {"a first picture larger than the budget alone", 250, 10, true},
      {"a second picture larger than the budget", 10, 250, true},
      {"two pictures that fill the budget exactly", 40, 60, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PixelBudget budget(100);
    reservePixels(&budget, c.first);  // nothing else in flight: never waits
    std::atomic<bool> secondReserved{false};
    std::thread second([&] {
      reservePixels(&budget, c.second);
      secondReserved = true;
      releasePixels(&budget, c.second);
    });
    awaitPixelRequests(&budget, 2);
    {
      // A request either waits or takes its share at once, in one step under the lock.
      const std::lock_guard<std::mutex> lock(budget.mutex);
      EXPECT_EQ(budget.waiters, c.waits ? 1 : 0);
    }
    if (c.waits) {
      EXPECT_FALSE(secondReserved);
    }
    releasePixels(&budget, c.first);
    second.join();
    EXPECT_TRUE(secondReserved);
    EXPECT_EQ(budget.holders, 0);
    EXPECT_EQ(budget.inFlight, 0);
  }
}

TEST(PixelBudgetTest, ReservationTakesItsShareOnceAndGivesItBack) {
  PixelBudget budget(100);
  {
    PixelReservation alone(&budget);
    alone.reserve(1000);  // larger than the budget, nothing else in flight
    alone.reserve(30);    // a second buffer of the same picture takes nothing more
    EXPECT_EQ(budget.holders, 1);
    EXPECT_EQ(budget.inFlight, 1000);
  }
  EXPECT_EQ(budget.holders, 0);
  EXPECT_EQ(budget.inFlight, 0);
  PixelReservation unbudgeted(nullptr);
  unbudgeted.reserve(50);  // a picture decoded outside any batch
}

}  // namespace
