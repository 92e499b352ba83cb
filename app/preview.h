// The preview control's display services: the published client rectangle, the frame bitmap built from
// each scaled frame, and the hand-off of that bitmap from the worker to the user-interface thread.
#ifndef QUARNEL_APP_PREVIEW_H_
#define QUARNEL_APP_PREVIEW_H_

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include <opencv2/core/core_c.h>

#include "app/preview_port.h"

// The fields of a 40-byte device-independent bitmap header, in their file order.
struct BitmapInfoHeader {
  std::uint32_t biSize = 0;
  std::int32_t biWidth = 0;
  std::int32_t biHeight = 0;  // positive: rows stored bottom-up
  std::uint16_t biPlanes = 0;
  std::uint16_t biBitCount = 0;
  std::uint32_t biCompression = 0;
  std::uint32_t biSizeImage = 0;
  std::int32_t biXPelsPerMeter = 0;
  std::int32_t biYPelsPerMeter = 0;
  std::uint32_t biClrUsed = 0;
  std::uint32_t biClrImportant = 0;
};

constexpr std::uint32_t BITMAP_HEADER_SIZE = 40;
constexpr std::uint32_t BITMAP_COMPRESSION_RGB = 0;

// Largest bitmap makePreviewBitmap builds; a larger request fails like a refused allocation.
constexpr std::uint32_t PREVIEW_BITMAP_MAX_BYTES = 256u * 1024u * 1024u;

// A 24-bit bottom-up bitmap: B, G, R bytes per pixel, the picture's last row first, every row padded to
// a multiple of 4 bytes; bits holds biSizeImage bytes.
struct PreviewBitmap {
  BitmapInfoHeader header;
  std::vector<std::uint8_t> bits;
};

// Bytes per stored row of a 24-bit bitmap of the given width.
std::uint32_t bitmapRowStride(std::int32_t width);

// Builds the bitmap of an 8-bit image with 1 channel (grey, expanded to equal B, G, R) or 3 channels
// (B, G, R). The picture shows upright: the image's first row is the bitmap's top row. Another channel
// count gives a bitmap without pixels copied (all black). Null when no bitmap can be made: no image, a
// depth other than 8 bits, an empty size, or a size beyond PREVIEW_BITMAP_MAX_BYTES.
std::unique_ptr<PreviewBitmap> makePreviewBitmap(const IplImage* image);

// The main window's client area as the user-interface thread last saw it, and the rectangle the
// preview was last laid out to. Shared by the user-interface thread and the worker.
struct PreviewLayout {
  std::mutex lock;
  int clientWidth = 0;
  int clientHeight = 0;
  bool minimised = false;
  SharedPreviewRect previewRect;
};

// User-interface side: records the client area after the window was created, resized, minimised or
// restored.
void noteClientArea(PreviewLayout& layout, int clientWidth, int clientHeight, bool minimised);

// Lays the preview control out over the whole client area and publishes that area as previewRect; a
// minimised window publishes an empty rectangle, so the worker shows no preview until it is restored.
// Called by the user-interface thread and the worker.
void layoutPreview(PreviewLayout& layout);

// Hand-off of one bitmap from the worker to the user-interface thread. The worker blocks in
// handOverBitmap until the user-interface thread has taken the bitmap, as a message sent to a window
// returns only once the window has handled it.
struct BitmapHandOff {
  std::mutex lock;
  std::condition_variable takenSignal;
  bool waiting = false;                   // a bitmap (possibly null) was handed over and not taken
  std::unique_ptr<PreviewBitmap> bitmap;  // the waiting bitmap
  std::uint64_t handedCount = 0;          // bitmaps handed over so far
  std::uint64_t takenCount = 0;           // bitmaps taken so far
  // Called on the worker's thread once a bitmap waits, so that a user-interface thread asleep in its
  // message loop wakes and takes it. Set before the worker starts.
  std::function<void()> wake;
};

// Worker side: hands the bitmap over (null clears the preview) and returns once it has been taken.
// Callers from several threads are served one at a time.
void handOverBitmap(BitmapHandOff& handOff, std::unique_ptr<PreviewBitmap> bitmap);

// True when both are null, or both hold the same size and the same pixels.
bool samePicture(const PreviewBitmap* first, const PreviewBitmap* second);

// User-interface side: true when a bitmap was waiting; it is moved into `shown` and the bitmap shown
// before is released; then the waiting worker goes on. When pictureChanged is given it tells whether
// the new bitmap differs from the one shown before, so an unchanged picture need not be painted again.
bool takeHandedBitmap(BitmapHandOff& handOff, std::unique_ptr<PreviewBitmap>& shown,
                      bool* pictureChanged = nullptr);

// The worker's view of the preview: the published rectangle, and showPreview, which builds the
// frame's bitmap, hands it over, waits until the user-interface thread has taken it and lays the
// preview out again. Both records must outlive every call through the port.
PreviewPort makePreviewPort(PreviewLayout& layout, BitmapHandOff& handOff);

#endif  // QUARNEL_APP_PREVIEW_H_
