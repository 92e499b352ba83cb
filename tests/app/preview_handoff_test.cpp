// The preview's layout and the hand-off of frames from the worker to the user-interface thread through
// the preview port.
#include "app/preview.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#include <opencv2/core/core_c.h>

namespace {

bool sameRect(const PreviewRect& a, const PreviewRect& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

TEST(LayoutPreview, PublishesTheClientAreaAndAnEmptyRectangleWhileMinimised) {
  PreviewLayout layout;
  EXPECT_TRUE(sameRect(layout.previewRect.load(), PreviewRect{0, 0, 0, 0})) << "nothing laid out yet";

  struct Step {
    const char* name;
    int width;
    int height;
    bool minimised;
    PreviewRect published;
  } steps[] = {
      {"created", 640, 484, false, {0, 0, 640, 484}},
      {"minimised", 640, 484, true, {0, 0, 0, 0}},
      {"restored at the same size", 640, 484, false, {0, 0, 640, 484}},
      {"resized", 400, 300, false, {0, 0, 400, 300}},
      {"a negative size is no area", -5, 300, false, {0, 0, 0, 300}},
  };
  for (const Step& step : steps) {
    noteClientArea(layout, step.width, step.height, step.minimised);
    layoutPreview(layout);
    EXPECT_TRUE(sameRect(layout.previewRect.load(), step.published)) << step.name;
  }
}

struct ImageDeleter {
  void operator()(IplImage* image) const { cvReleaseImage(&image); }
};
using ImagePtr = std::unique_ptr<IplImage, ImageDeleter>;

// A 16 x 12 colour frame filled with one byte value, the frame's serial number.
ImagePtr numberedFrame(int number) {
  ImagePtr image(cvCreateImage(cvSize(16, 12), IPL_DEPTH_8U, 3));
  std::memset(image->imageData, number, static_cast<std::size_t>(image->imageSize));
  return image;
}

TEST(PreviewHandOff, ShowPreviewReturnsOnlyOnceTheWindowHasTakenTheFrame) {
  PreviewLayout layout;
  BitmapHandOff handOff;
  const PreviewPort port = makePreviewPort(layout, handOff);
  noteClientArea(layout, 640, 484, false);

  std::unique_ptr<PreviewBitmap> shown;
  std::atomic<bool> returned{false};
  std::thread worker([&] {
    ImagePtr frame = numberedFrame(7);
    port.showPreview(frame.get());
    returned = true;
  });
  // Until the window takes it, the worker stays inside showPreview.
  while (!takeHandedBitmap(handOff, shown)) {
    EXPECT_FALSE(returned);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  // Taking it is enough to release the worker: no further frame is needed.
  worker.join();
  EXPECT_TRUE(returned);

  // The window keeps its own copy: the worker's frame is gone, the bitmap is intact.
  ASSERT_NE(shown, nullptr);
  EXPECT_EQ(shown->header.biWidth, 16);
  EXPECT_EQ(shown->bits[0], 7);
  // showPreview lays the preview out again before it returns.
  EXPECT_TRUE(sameRect(port.previewRect(), PreviewRect{0, 0, 640, 484}));
}

TEST(PreviewHandOff, NothingWaitingLeavesTheShownBitmap) {
  BitmapHandOff handOff;
  std::unique_ptr<PreviewBitmap> shown = std::make_unique<PreviewBitmap>();
  const PreviewBitmap* before = shown.get();
  EXPECT_FALSE(takeHandedBitmap(handOff, shown));
  EXPECT_EQ(shown.get(), before);
}

TEST(PreviewHandOff, AFrameThatMakesNoBitmapClearsThePreview) {
  PreviewLayout layout;
  BitmapHandOff handOff;
  const PreviewPort port = makePreviewPort(layout, handOff);
  std::unique_ptr<PreviewBitmap> shown = std::make_unique<PreviewBitmap>();
  std::thread worker([&] { port.showPreview(nullptr); });
  while (!takeHandedBitmap(handOff, shown)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  worker.join();
  EXPECT_EQ(shown, nullptr);
}

// Every frame is shown, in order, each one replacing (and releasing) the one before; the sanitizers
// catch a bitmap released twice, used after release or never released.
TEST(PreviewHandOff, EveryFrameIsShownInOrderAndReplacesThePreviousOne) {
  PreviewLayout layout;
  BitmapHandOff handOff;
  const PreviewPort port = makePreviewPort(layout, handOff);
  constexpr int FRAME_COUNT = 60;

  std::atomic<int> returnedCount{0};
  std::thread worker([&] {
    for (int n = 1; n <= FRAME_COUNT; ++n) {
      ImagePtr frame = numberedFrame(n);
      port.showPreview(frame.get());
      returnedCount = n;
    }
  });
  std::unique_ptr<PreviewBitmap> shown;
  std::vector<int> seen;
  while (static_cast<int>(seen.size()) < FRAME_COUNT) {
    const int returnedBefore = returnedCount;
    if (!takeHandedBitmap(handOff, shown)) {
      std::this_thread::yield();
      continue;
    }
    ASSERT_NE(shown, nullptr);
    seen.push_back(shown->bits[0]);
    // The frame just taken had not been returned from before it was taken.
    EXPECT_LT(returnedBefore, seen.back());
  }
  worker.join();
  std::vector<int> expected;
  for (int n = 1; n <= FRAME_COUNT; ++n) expected.push_back(n);
  EXPECT_EQ(seen, expected);
}

}  // namespace

// The window repaints only when a taken picture differs from the one it shows: the same notice handed
// every cycle is not painted again, but any change of size or pixel, or a cleared preview, is.
TEST(PreviewHandOff, TellsWhetherTheTakenPictureDiffersFromTheShownOne) {
  auto bitmapOf = [](int width, int height, int value) {
    ImagePtr image(cvCreateImage(cvSize(width, height), IPL_DEPTH_8U, 3));
    std::memset(image->imageData, value, static_cast<std::size_t>(image->imageSize));
    return makePreviewBitmap(image.get());
  };
  auto withOnePixelChanged = [&] {
    std::unique_ptr<PreviewBitmap> bitmap = bitmapOf(16, 12, 7);
    bitmap->bits.back() ^= 1;
    return bitmap;
  };
  struct Case {
    const char* name;
    std::unique_ptr<PreviewBitmap> shown;
    std::unique_ptr<PreviewBitmap> handed;
    bool changed;
  } cases[] = {
      {"the same picture again", bitmapOf(16, 12, 7), bitmapOf(16, 12, 7), false},
      {"the first picture", nullptr, bitmapOf(16, 12, 7), true},
      {"one byte differs", bitmapOf(16, 12, 7), withOnePixelChanged(), true},
      {"same bytes, other shape", bitmapOf(16, 12, 7), bitmapOf(12, 16, 7), true},
      {"the preview cleared", bitmapOf(16, 12, 7), nullptr, true},
      {"still cleared", nullptr, nullptr, false},
  };
  for (Case& c : cases) {
    BitmapHandOff handOff;
    std::unique_ptr<PreviewBitmap> shown = std::move(c.shown);
    std::thread worker([&] { handOverBitmap(handOff, std::move(c.handed)); });
    bool changed = !c.changed;
    while (!takeHandedBitmap(handOff, shown, &changed)) std::this_thread::yield();
    worker.join();
    EXPECT_EQ(changed, c.changed) << c.name;
  }
}
