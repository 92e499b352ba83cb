// Where the scanner worker's preview goes: the window's published client rectangle and the hand-off of
// each scaled frame. The window implements it in the program; tests put a recorder behind it.
#ifndef QUARNEL_APP_PREVIEW_PORT_H_
#define QUARNEL_APP_PREVIEW_PORT_H_

#include <cstdint>
#include <functional>
#include <mutex>

#include <opencv2/core/core_c.h>

// The main window's client rectangle as last laid out. A minimised window publishes an empty one.
struct PreviewRect {
  std::int32_t left = 0;
  std::int32_t top = 0;
  std::int32_t right = 0;
  std::int32_t bottom = 0;
};

// previewRect is written by the window's layout (user-interface thread, and through showPreview also the
// worker) and read by the worker every cycle; this cell keeps the four values consistent across threads.
class SharedPreviewRect {
 public:
  void publish(const PreviewRect& rect) {
    std::lock_guard<std::mutex> lock(mutex_);
    rect_ = rect;
  }
  PreviewRect load() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return rect_;
  }

 private:
  mutable std::mutex mutex_;
  PreviewRect rect_;
};

struct PreviewPort {
  // The published client rectangle the preview is scaled to.
  std::function<PreviewRect()> previewRect;
  // Shows one scaled frame: 8-bit, 3 channels, B, G, R, rows top-down, width a multiple of 16 and
  // height 3/4 of it. The image belongs to the caller and is released after the call, so the window
  // copies what it keeps; the call returns once the window has taken the frame and laid itself out again.
  std::function<void(const IplImage* preview)> showPreview;
};

#endif  // QUARNEL_APP_PREVIEW_PORT_H_
