// Preview bitmap, client rectangle and the bitmap hand-off between the worker and the window.
#include "app/preview.h"

#include <algorithm>
#include <cstring>
#include <utility>

std::uint32_t bitmapRowStride(std::int32_t width) {
  // 24 bits per pixel, each row rounded up to whole 32-bit words.
  const std::uint64_t bits = static_cast<std::uint64_t>(std::max(width, 0)) * 24u;
  return static_cast<std::uint32_t>((bits + 31u) / 32u * 4u);
}

namespace {

// The image's header must describe pixel data that holds all its rows; anything else is refused
// rather than read past its end.
bool hasReadablePixels(const IplImage& image) {
  if (image.imageData == nullptr || image.nChannels < 1) return false;
  const std::int64_t rowBytes = static_cast<std::int64_t>(image.width) * image.nChannels;
  if (image.widthStep < rowBytes) return false;
  return static_cast<std::int64_t>(image.widthStep) * image.height <= image.imageSize;
}

void copyGreyRows(const IplImage& image, PreviewBitmap& bitmap, std::uint32_t stride) {
  const int w = image.width;
  const int h = image.height;
  for (int r = 0; r < h; ++r) {
    const auto* src =
        reinterpret_cast<const std::uint8_t*>(image.imageData) + static_cast<std::size_t>(r) * image.widthStep;
    std::uint8_t* dst = bitmap.bits.data() + static_cast<std::size_t>(h - 1 - r) * stride;
    for (int x = 0; x < w; ++x) {
      dst[3 * x] = src[x];
      dst[3 * x + 1] = src[x];
      dst[3 * x + 2] = src[x];
    }
  }
}

void copyColourRows(const IplImage& image, PreviewBitmap& bitmap, std::uint32_t stride) {
  const int h = image.height;
  const std::size_t rowBytes = static_cast<std::size_t>(image.width) * 3;
  for (int r = 0; r < h; ++r) {
    // Both row strides are honoured: the image's widthStep and the bitmap's padding to 4 bytes.
    std::memcpy(bitmap.bits.data() + static_cast<std::size_t>(h - 1 - r) * stride,
                image.imageData + static_cast<std::size_t>(r) * image.widthStep, rowBytes);
  }
}

}  // namespace

std::unique_ptr<PreviewBitmap> makePreviewBitmap(const IplImage* image) {
  if (image == nullptr || image->depth != IPL_DEPTH_8U) return nullptr;
  const int w = image->width;
  const int h = image->height;
  if (w <= 0 || h <= 0) return nullptr;
  const std::uint32_t stride = bitmapRowStride(w);
  const std::uint64_t sizeImage = static_cast<std::uint64_t>(stride) * static_cast<std::uint64_t>(h);
  if (sizeImage > PREVIEW_BITMAP_MAX_BYTES) return nullptr;
  const bool copyable = image->nChannels == 1 || image->nChannels == 3;
  if (copyable && !hasReadablePixels(*image)) return nullptr;

  auto bitmap = std::make_unique<PreviewBitmap>();
  BitmapInfoHeader& header = bitmap->header;
  header.biSize = BITMAP_HEADER_SIZE;
  header.biWidth = w;
  header.biHeight = h;
  header.biPlanes = 1;
  header.biBitCount = 24;
  header.biCompression = BITMAP_COMPRESSION_RGB;
  header.biSizeImage = static_cast<std::uint32_t>(sizeImage);
  bitmap->bits.assign(static_cast<std::size_t>(sizeImage), 0);

  if (image->nChannels == 1) {
    copyGreyRows(*image, *bitmap, stride);
  } else if (image->nChannels == 3) {
    copyColourRows(*image, *bitmap, stride);
  }
  return bitmap;
}

void noteClientArea(PreviewLayout& layout, int clientWidth, int clientHeight, bool minimised) {
  std::lock_guard<std::mutex> lock(layout.lock);
  layout.clientWidth = std::max(clientWidth, 0);
  layout.clientHeight = std::max(clientHeight, 0);
  layout.minimised = minimised;
}

void layoutPreview(PreviewLayout& layout) {
  // The control is painted over the whole client area, so laying it out is publishing that area.
  PreviewRect rect;
  {
    std::lock_guard<std::mutex> lock(layout.lock);
    if (!layout.minimised) {
      rect.right = layout.clientWidth;
      rect.bottom = layout.clientHeight;
    }
  }
  layout.previewRect.publish(rect);
}

void handOverBitmap(BitmapHandOff& handOff, std::unique_ptr<PreviewBitmap> bitmap) {
  std::unique_lock<std::mutex> lock(handOff.lock);
  // One bitmap waits at a time: a second sender queues behind the first.
  handOff.takenSignal.wait(lock, [&] { return !handOff.waiting; });
  handOff.bitmap = std::move(bitmap);
  handOff.waiting = true;
  const std::uint64_t ticket = ++handOff.handedCount;
  if (handOff.wake) handOff.wake();
  handOff.takenSignal.wait(lock, [&] { return handOff.takenCount >= ticket; });
}

bool samePicture(const PreviewBitmap* first, const PreviewBitmap* second) {
  if (first == nullptr || second == nullptr) return first == second;
  return first->header.biWidth == second->header.biWidth && first->header.biHeight == second->header.biHeight &&
         first->bits == second->bits;
}

bool takeHandedBitmap(BitmapHandOff& handOff, std::unique_ptr<PreviewBitmap>& shown, bool* pictureChanged) {
  {
    std::lock_guard<std::mutex> lock(handOff.lock);
    if (!handOff.waiting) return false;
    if (pictureChanged != nullptr) *pictureChanged = !samePicture(shown.get(), handOff.bitmap.get());
    // The bitmap shown until now is released as the new one is set, before the worker goes on.
    shown = std::move(handOff.bitmap);
    handOff.waiting = false;
    ++handOff.takenCount;
  }
  handOff.takenSignal.notify_all();
  return true;
}

PreviewPort makePreviewPort(PreviewLayout& layout, BitmapHandOff& handOff) {
  PreviewPort port;
  port.previewRect = [&layout] { return layout.previewRect.load(); };
  port.showPreview = [&layout, &handOff](const IplImage* preview) {
    handOverBitmap(handOff, makePreviewBitmap(preview));
    layoutPreview(layout);
  };
  return port;
}
