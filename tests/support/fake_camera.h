// Test-only capture backend: one camera whose presence and frame size the test changes at will. Samples
// reach the running graph's frame callback either at once on the test's own thread (deliver) or from a
// streaming thread of the graph's own, which plays a sample source as fast as it goes until the graph
// is stopped or the callback is unhooked.
#ifndef QUARNEL_TESTS_SUPPORT_FAKE_CAMERA_H_
#define QUARNEL_TESTS_SUPPORT_FAKE_CAMERA_H_

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "capture/capture_backend.h"

// One sample as the streaming thread hands it over: data may be null (the sample's data cannot be had)
// and length need not match the frame size. The bytes belong to the source and must outlive the camera.
struct ReplaySample {
  const std::uint8_t* data = nullptr;
  std::int32_t length = 0;
  int pauseMicros = 0;  // real time the streaming thread waits after handing it over
};

// Called on the streaming thread only, once per sample.
using ReplaySource = std::function<ReplaySample()>;

class ReplayGraph;

class ReplayCamera : public CaptureBackend {
 public:
  ReplayCamera(int width, int height, ReplaySource source = nullptr);

  CaptureResult start() override { return CAPTURE_OK; }
  void stop() override {}
  CaptureResult enumerateDevices(std::vector<DeviceEntry>& devices) override;
  CaptureResult createCaptureBuilder(std::unique_ptr<CaptureGraph>& graph) override;

  // Takes effect at the next open.
  void setFrameSize(int width, int height);
  // An absent camera is neither listed nor opened; a running stream stops delivering.
  void setPresent(bool present);
  bool present() const { return present_.load(); }
  int width() const;
  int height() const;

  // Hands one sample to the running graph's callback on the caller's thread; false when none runs.
  bool deliver(const std::uint8_t* data, std::int32_t length);

  int graphsStarted() const { return graphsStarted_.load(); }
  int graphsStopped() const { return graphsStopped_.load(); }
  long samplesStreamed() const { return samplesStreamed_.load(); }

 private:
  friend class ReplayGraph;

  ReplaySource source_;
  mutable std::mutex sizeMutex_;
  int width_;
  int height_;
  std::atomic<bool> present_{true};
  std::atomic<int> graphsStarted_{0};
  std::atomic<int> graphsStopped_{0};
  std::atomic<long> samplesStreamed_{0};
  std::mutex runningMutex_;
  ReplayGraph* running_ = nullptr;  // the graph whose stream runs, under runningMutex_
};

#endif  // QUARNEL_TESTS_SUPPORT_FAKE_CAMERA_H_
