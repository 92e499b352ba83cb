// The worker's side of the frame hand-off: whether a frame waits in a device's slot, and taking it out.
#include <chrono>
#include <cstring>
#include <mutex>

#include "capture/capture_device.h"
#include "capture/capture_manager.h"
#include "capture/frame_slot.h"

namespace {

constexpr std::chrono::milliseconds CAPTURE_FRAME_WAIT{1000};

}  // namespace

void copyPixels(const std::uint8_t* source, std::uint8_t* destination, int width, int height, bool swapRedBlue,
                bool flipVertical) {
  if (width <= 0 || height <= 0) return;
  const size_t rowBytes = static_cast<size_t>(width) * 3;
  for (int row = 0; row < height; ++row) {
    const std::uint8_t* from = source + rowBytes * static_cast<size_t>(flipVertical ? height - 1 - row : row);
    std::uint8_t* to = destination + rowBytes * static_cast<size_t>(row);
    if (!swapRedBlue) {
      std::memcpy(to, from, rowBytes);
      continue;
    }
    for (size_t x = 0; x < rowBytes; x += 3) {
      to[x] = from[x + 2];
      to[x + 1] = from[x + 1];
      to[x + 2] = from[x];
    }
  }
}

bool CaptureManager::hasNewFrame(int device) {
  if (!isReadyDevice(device)) return false;
  SampleGrabberCallback& slot = *devices[device]->callback;
  std::lock_guard<std::recursive_mutex> hold(slot.frameLock);
  return slot.newFrame;
}

bool CaptureManager::copyFrame(int device, std::uint8_t* destination, bool swapRedBlue, bool flipVertical) {
  if (!isReadyDevice(device) || destination == nullptr) return false;
  CaptureDevice& record = *devices[device];
  SampleGrabberCallback& slot = *record.callback;
  if (!slot.frameEvent.waitFor(CAPTURE_FRAME_WAIT)) return false;
  {
    std::lock_guard<std::recursive_mutex> hold(slot.frameLock);
    copyPixels(slot.framePixels.get(), destination, record.width, record.height, swapRedBlue, flipVertical);
    slot.newFrame = false;
  }
  // Reset after leaving the lock: a sample arriving in between still sees the event and is dropped.
  slot.frameEvent.reset();
  return true;
}
