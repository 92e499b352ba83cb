// makePreviewBitmap: the header it writes, the row order and grey expansion of the pixels, and the row
// padding of widths that are not a multiple of 4.
#include "app/preview.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include <opencv2/core/core_c.h>

namespace {

struct ImageDeleter {
  void operator()(IplImage* image) const { cvReleaseImage(&image); }
};
using ImagePtr = std::unique_ptr<IplImage, ImageDeleter>;

// An image whose every byte says where it is: byte c of pixel (x, r) is 16 * r + 3 * x + c (mod 256),
// so a row that lands in the wrong place or a shifted column shows at once.
ImagePtr patternImage(int width, int height, int channels) {
  ImagePtr image(cvCreateImage(cvSize(width, height), IPL_DEPTH_8U, channels));
  for (int r = 0; r < height; ++r) {
    auto* row = reinterpret_cast<std::uint8_t*>(image->imageData + r * image->widthStep);
    for (int x = 0; x < width; ++x) {
      for (int c = 0; c < channels; ++c) row[x * channels + c] = static_cast<std::uint8_t>(16 * r + 3 * x + c);
    }
  }
  return image;
}

const std::uint8_t* bitmapPixel(const PreviewBitmap& bitmap, int memoryRow, int x) {
  return bitmap.bits.data() + static_cast<std::size_t>(memoryRow) * bitmapRowStride(bitmap.header.biWidth) + 3 * x;
}

TEST(MakePreviewBitmap, WritesA24BitBottomUpHeader) {
  struct Case {
    int width;
    int height;
    std::uint32_t sizeImage;  // padded row bytes times rows
  } cases[] = {
      {640, 480, 921600}, {16, 12, 576}, {1, 1, 4}, {5, 3, 48}, {3, 2, 24}, {7, 1, 24},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << " x " << c.height);
    ImagePtr image = patternImage(c.width, c.height, 3);
    const auto bitmap = makePreviewBitmap(image.get());
    ASSERT_NE(bitmap, nullptr);
    const BitmapInfoHeader& h = bitmap->header;
    EXPECT_EQ(h.biSize, 40u);
    EXPECT_EQ(h.biWidth, c.width);
    EXPECT_EQ(h.biHeight, c.height);
    EXPECT_EQ(h.biPlanes, 1);
    EXPECT_EQ(h.biBitCount, 24);
    EXPECT_EQ(h.biCompression, 0u);
    EXPECT_EQ(h.biSizeImage, c.sizeImage);
    EXPECT_EQ(h.biXPelsPerMeter, 0);
    EXPECT_EQ(h.biYPelsPerMeter, 0);
    EXPECT_EQ(h.biClrUsed, 0u);
    EXPECT_EQ(h.biClrImportant, 0u);
    EXPECT_EQ(bitmap->bits.size(), c.sizeImage);
  }
}

TEST(MakePreviewBitmap, ColourImageShowsUprightWithItsFirstRowAtTheTop) {
  // Widths that fill whole 32-bit words and widths whose rows are padded, in the image and the bitmap.
  for (int width : {16, 5, 6, 7, 13}) {
    SCOPED_TRACE(testing::Message() << "width " << width);
    const int height = 12;
    ImagePtr image = patternImage(width, height, 3);
    const auto bitmap = makePreviewBitmap(image.get());
    ASSERT_NE(bitmap, nullptr);
    const std::uint32_t stride = bitmapRowStride(width);
    for (int r = 0; r < height; ++r) {
      // Memory row h - 1 - r of a bottom-up bitmap is picture row r.
      const std::uint8_t* expected = reinterpret_cast<const std::uint8_t*>(image->imageData + r * image->widthStep);
      EXPECT_EQ(std::memcmp(bitmapPixel(*bitmap, height - 1 - r, 0), expected, 3 * width), 0) << "row " << r;
      for (std::uint32_t pad = 3 * width; pad < stride; ++pad) {
        EXPECT_EQ(bitmap->bits[(height - 1 - r) * stride + pad], 0) << "padding of row " << r;
      }
    }
  }
}

TEST(MakePreviewBitmap, GreyImageBecomesEqualBlueGreenAndRed) {
  for (int width : {16, 7}) {
    SCOPED_TRACE(testing::Message() << "width " << width);
    const int height = 5;
    ImagePtr image = patternImage(width, height, 1);
    const auto bitmap = makePreviewBitmap(image.get());
    ASSERT_NE(bitmap, nullptr);
    for (int r = 0; r < height; ++r) {
      for (int x = 0; x < width; ++x) {
        const std::uint8_t grey = static_cast<std::uint8_t>(image->imageData[r * image->widthStep + x]);
        const std::uint8_t* px = bitmapPixel(*bitmap, height - 1 - r, x);
        EXPECT_EQ(px[0], grey);
        EXPECT_EQ(px[1], grey);
        EXPECT_EQ(px[2], grey);
      }
    }
  }
}

TEST(MakePreviewBitmap, OtherChannelCountsGiveABlackBitmapOfTheImageSize) {
  for (int channels : {2, 4}) {
    ImagePtr image = patternImage(8, 4, channels);
    const auto bitmap = makePreviewBitmap(image.get());
    ASSERT_NE(bitmap, nullptr) << channels;
    EXPECT_EQ(bitmap->header.biWidth, 8);
    EXPECT_EQ(bitmap->header.biHeight, 4);
    for (std::uint8_t byte : bitmap->bits) ASSERT_EQ(byte, 0) << channels;
  }
}

TEST(MakePreviewBitmap, RefusesWhatCannotBeMadeIntoABitmap) {
  EXPECT_EQ(makePreviewBitmap(nullptr), nullptr) << "no image";

  ImagePtr deep(cvCreateImage(cvSize(8, 8), IPL_DEPTH_16U, 3));
  EXPECT_EQ(makePreviewBitmap(deep.get()), nullptr) << "16-bit depth";

  // Headers without usable pixels are refused before any pixel is read.
  IplImage header;
  cvInitImageHeader(&header, cvSize(8, 8), IPL_DEPTH_8U, 3);
  EXPECT_EQ(makePreviewBitmap(&header), nullptr) << "no pixel data";

  std::uint8_t pixels[8 * 8 * 3] = {};
  cvSetData(&header, pixels, 8 * 3);
  header.width = 0;
  EXPECT_EQ(makePreviewBitmap(&header), nullptr) << "zero width";
  header.width = 8;
  header.height = 0;
  EXPECT_EQ(makePreviewBitmap(&header), nullptr) << "zero height";
  header.height = 9;  // one row more than the data holds
  EXPECT_EQ(makePreviewBitmap(&header), nullptr) << "rows beyond the data";
  header.height = 8;
  header.widthStep = 8;  // rows shorter than width x channels
  EXPECT_EQ(makePreviewBitmap(&header), nullptr) << "row step below the row length";

  // A size whose bitmap would exceed the limit fails like a refused allocation.
  IplImage huge;
  cvInitImageHeader(&huge, cvSize(20000, 20000), IPL_DEPTH_8U, 3);
  cvSetData(&huge, pixels, 20000 * 3);
  EXPECT_EQ(makePreviewBitmap(&huge), nullptr) << "too large";
}

}  // namespace
