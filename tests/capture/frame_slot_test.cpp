// The pixel copy that takes frames out of the slot.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "capture/capture_manager.h"

namespace capturetest {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(CopyPixels, FourModesOnOneColumnOfTwoRows) {
  const Bytes source = {1, 2, 3, 4, 5, 6};  // bottom row 1 2 3, top row 4 5 6
  struct Case {
    bool swapRedBlue;
    bool flipVertical;
    Bytes expected;
  };
  for (const Case& row : {Case{false, false, {1, 2, 3, 4, 5, 6}}, Case{false, true, {4, 5, 6, 1, 2, 3}},
                          Case{true, false, {3, 2, 1, 6, 5, 4}}, Case{true, true, {6, 5, 4, 3, 2, 1}}}) {
    Bytes destination(6, 0);
    copyPixels(source.data(), destination.data(), 1, 2, row.swapRedBlue, row.flipVertical);
    EXPECT_EQ(destination, row.expected) << "swap " << row.swapRedBlue << " flip " << row.flipVertical;
  }
}

TEST(CopyPixels, RowsOfSeveralPixelsKeepTheirPixelOrder) {
  // Two rows of two pixels, 12 bytes: only whole rows move, only bytes 0 and 2 of a pixel trade places.
  const Bytes source = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  Bytes destination(12, 0);
  copyPixels(source.data(), destination.data(), 2, 2, true, true);
  EXPECT_EQ(destination, (Bytes{9, 8, 7, 12, 11, 10, 3, 2, 1, 6, 5, 4}));
}

TEST(CopyPixels, EmptySizesWriteNothing) {
  const Bytes source = {1, 2, 3};
  for (const auto& size : {std::pair{0, 1}, std::pair{1, 0}, std::pair{-1, 2}, std::pair{2, -1}}) {
    for (int mode = 0; mode < 4; ++mode) {
      Bytes destination = {9, 9, 9};
      copyPixels(source.data(), destination.data(), size.first, size.second, mode & 1, mode & 2);
      EXPECT_EQ(destination, (Bytes{9, 9, 9}));
    }
  }
}

}  // namespace
}  // namespace capturetest
