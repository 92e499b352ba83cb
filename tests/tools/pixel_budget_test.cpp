// The pixel budget's waiting: pictures share it while they fit, a picture that does not fit waits for
// one in flight to finish, and a picture alone always goes through.
#include "tools/pixel_budget.h"

#include <atomic>
#include <thread>

#include <gtest/gtest.h>

namespace {

TEST(PixelBudgetTest, SecondPictureWaitsUntilTheFirstReleasesItsShare) {
  struct Case {
    const char* name;
    double first, second;
  } cases[] = {
      {"two pictures larger together than the budget", 60, 60},
      {"a first picture larger than the budget alone", 250, 10},
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
    awaitPixelWaiters(&budget, 1);
    EXPECT_FALSE(secondReserved) << "went through while the first held its share";
    releasePixels(&budget, c.first);
    second.join();
    EXPECT_TRUE(secondReserved);
    EXPECT_EQ(budget.holders, 0);
    EXPECT_EQ(budget.inFlight, 0);
  }
}

TEST(PixelBudgetTest, PicturesThatFitTogetherDoNotWait) {
  PixelBudget budget(100);
  reservePixels(&budget, 40);
  std::thread second([&] {
    reservePixels(&budget, 60);  // exactly the rest of the budget
    releasePixels(&budget, 60);
  });
  second.join();  // would never end if it waited for the first share
  releasePixels(&budget, 40);
  EXPECT_EQ(budget.holders, 0);
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
