// Frame hand-off between the backend's streaming thread and the worker: one slot per device.
#include "capture/frame_slot.h"

#include <cstdio>
#include <cstring>
#include <limits>

#include "capture/capture_device.h"
#include "capture/capture_manager.h"

namespace {

constexpr std::chrono::milliseconds CAPTURE_FRAME_WAIT{1000};

}  // namespace

void ManualResetEvent::signal() {
  {
    std::lock_guard<std::mutex> hold(mutex);
    signalled = true;
  }
  changed.notify_all();
}

void ManualResetEvent::reset() {
  std::lock_guard<std::mutex> hold(mutex);
  signalled = false;
}

bool ManualResetEvent::isSignalled() {
  std::lock_guard<std::mutex> hold(mutex);
  return signalled;
}

bool ManualResetEvent::waitFor(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> hold(mutex);
  return changed.wait_for(hold, timeout, [this] { return signalled; });
}

CaptureResult SampleGrabberCallback::sampleCB(double /*sampleTime*/, const CaptureSample& sample) {
  // A frame still waits to be taken: keep it, drop this one.
  if (frameEvent.isSignalled()) return CAPTURE_OK;
  if (sample.data == nullptr) return CAPTURE_OK;
  lastSampleBytes = sample.length;
  if (bufferReady && lastSampleBytes == expectedBytes) {
    {
      std::lock_guard<std::recursive_mutex> hold(frameLock);
      std::memcpy(framePixels.get(), sample.data, static_cast<size_t>(lastSampleBytes));
      newFrame = true;
    }
    frameEvent.signal();
  } else {
    std::printf("ERROR: SampleCB() - buffer sizes do not match\n");
  }
  return CAPTURE_OK;
}

void allocateFrameBuffer(CaptureDevice& record, int width, int height) {
  // A size whose frame cannot be held in the slot yields no frame at all rather than a short buffer.
  const bool usable = width > 0 && height > 0 &&
                      static_cast<long long>(width) * height * 3 <= std::numeric_limits<std::int32_t>::max();
  record.width = usable ? width : 0;
  record.height = usable ? height : 0;
  record.frameBytes = record.width * record.height * 3;

  SampleGrabberCallback& slot = *record.callback;
  if (slot.bufferReady && slot.expectedBytes == record.frameBytes) return;
  slot.framePixels.reset();
  slot.bufferReady = false;
  if (usable) {
    slot.framePixels = std::make_unique<std::uint8_t[]>(static_cast<size_t>(record.frameBytes));
    slot.bufferReady = true;
  }
  slot.expectedBytes = record.frameBytes;
  slot.newFrame = false;
  slot.lastSampleBytes = 0;
}

void copyPixels(const std::uint8_t* source, std::uint8_t* destination, int width, int height,
                bool swapRedBlue, bool flipVertical) {
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
