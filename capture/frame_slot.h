// The frame slot of one device: the callback the backend's streaming thread calls with each sample, and
// the single buffer the worker takes frames from. It keeps the oldest untaken frame and drops the rest.
#ifndef QUARNEL_CAPTURE_FRAME_SLOT_H_
#define QUARNEL_CAPTURE_FRAME_SLOT_H_

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

#include "capture/capture_backend.h"

// A manual-reset event: stays signalled until reset, whoever waits.
class ManualResetEvent {
 public:
  void signal();
  void reset();
  bool isSignalled();
  // True when the event is (or becomes) signalled within timeout.
  bool waitFor(std::chrono::milliseconds timeout);

 private:
  std::mutex mutex;
  std::condition_variable changed;
  bool signalled = false;
};

class SampleGrabberCallback {
 public:
  // Called on the backend's streaming thread for every sample; never waits and always answers
  // CAPTURE_OK, so the stream never stops because of the slot. The sample time is unused.
  CaptureResult sampleCB(double sampleTime, const CaptureSample& sample);

  std::int32_t lastSampleBytes = 0;  // streaming thread only
  std::int32_t expectedBytes = 0;    // fixed before the callback is hooked
  bool newFrame = false;             // under frameLock
  bool bufferReady = false;          // fixed before the callback is hooked
  std::unique_ptr<std::uint8_t[]> framePixels;  // contents under frameLock
  std::recursive_mutex frameLock;
  ManualResetEvent frameEvent;  // signalled while a frame waits to be taken
};

// Fixes a record's frame size and gives its callback the buffer; see capture_device.h.
struct CaptureDevice;
void allocateFrameBuffer(CaptureDevice& record, int width, int height);

#endif  // QUARNEL_CAPTURE_FRAME_SLOT_H_
