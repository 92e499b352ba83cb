// For backends: where a graph keeps its frame callback. The streaming thread delivers through it; setting
// a new callback (or none) returns only once no delivery to the old one is running, so the manager may
// destroy the old callback's frame slot right after unhooking it.
#ifndef QUARNEL_CAPTURE_SAMPLE_HOOK_H_
#define QUARNEL_CAPTURE_SAMPLE_HOOK_H_

#include <mutex>

#include "capture/capture_backend.h"
#include "capture/frame_slot.h"

class SampleHook {
 public:
  void set(SampleGrabberCallback* newCallback) {
    std::lock_guard<std::mutex> guard(mutex);
    callback = newCallback;
  }

  bool isSet() {
    std::lock_guard<std::mutex> guard(mutex);
    return callback != nullptr;
  }

  // Hands one sample to the callback, if one is hooked; true when one was.
  bool deliver(double sampleTime, const CaptureSample& sample) {
    std::lock_guard<std::mutex> guard(mutex);
    if (callback == nullptr) return false;
    callback->sampleCB(sampleTime, sample);
    return true;
  }

 private:
  std::mutex mutex;
  SampleGrabberCallback* callback = nullptr;
};

#endif  // QUARNEL_CAPTURE_SAMPLE_HOOK_H_
