// The frame slot of one device: the streaming thread's side of the hand-off (the sample callback and the
// slot's buffer). The worker's side, CaptureManager::hasNewFrame and copyFrame, is in frame_copy.cpp.
#include "capture/frame_slot.h"

#include <cstdio>
#include <cstring>
#include <limits>

#include "capture/capture_device.h"

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
  const bool usable =
      width > 0 && height > 0 && static_cast<long long>(width) * height * 3 <= std::numeric_limits<std::int32_t>::max();
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
