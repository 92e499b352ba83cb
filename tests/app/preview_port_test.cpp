// The published client rectangle is written on one thread and read on another: every read must be a
// rectangle that was published, never a mix of two.
#include "app/preview_port.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

TEST(SharedPreviewRect, ReaderNeverSeesAHalfWrittenRectangle) {
  SharedPreviewRect shared;
  const PreviewRect restored{0, 0, 640, 484};
  const PreviewRect minimised{0, 0, 0, 0};
  shared.publish(restored);
  std::atomic<bool> done{false};
  std::thread layout([&] {
    for (int n = 0; n < 20000; ++n) shared.publish(n % 2 == 0 ? minimised : restored);
    done = true;
  });
  int torn = 0;
  while (!done) {
    const PreviewRect rect = shared.load();
    const bool isRestored = rect.right == 640 && rect.bottom == 484;
    const bool isMinimised = rect.right == 0 && rect.bottom == 0;
    torn += isRestored || isMinimised ? 0 : 1;
  }
  layout.join();
  EXPECT_EQ(torn, 0);
}

}  // namespace
