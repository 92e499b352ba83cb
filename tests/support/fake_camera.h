// Test-only capture backend: one camera whose frame size, presence, offered sizes and frame time the test
// sets at will. Samples reach the running graph's frame callback either at once on the test's own thread
// (deliver, deliverFrame) or from a streaming thread of the graph's own, which plays a sample source
// until the graph is stopped. Safe to drive from any thread.
//
// For step-by-step scripting of every graph call and result, tests/capture/scripted_backend is the tool;
// tests/fakecam emulates a whole V4L2 device below the real backend.
#ifndef QUARNEL_TESTS_SUPPORT_FAKE_CAMERA_H_
#define QUARNEL_TESTS_SUPPORT_FAKE_CAMERA_H_

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "capture/capture_backend.h"

// One sample as the streaming thread hands it over: data may be null (the sample's data cannot be had)
// and length need not match the frame size. The bytes belong to the source and must stay valid until
// the source is called again.
struct FakeSample {
  const std::uint8_t* data = nullptr;
  std::int32_t length = 0;
  int pauseMicros = 0;  // real time the streaming thread waits after handing it over
};

// Called on the streaming thread only, once per sample.
using FakeSampleSource = std::function<FakeSample()>;

class FakeCameraGraph;

class FakeCamera : public CaptureBackend {
 public:
  // Without a source no streaming thread runs: samples come from deliver and deliverFrame only.
  FakeCamera(int width, int height, FakeSampleSource source = nullptr);

  CaptureResult start() override { return CAPTURE_OK; }
  void stop() override {}
  CaptureResult enumerateDevices(std::vector<DeviceEntry>& devices) override;
  CaptureResult createCaptureBuilder(std::unique_ptr<CaptureGraph>& graph) override;

  // Settings; each takes effect at the next open.
  void setFrameSize(int width, int height);  // the default format's size
  void setFrameTime(std::int64_t frameTime);  // the default format's frame time, 100 ns units
  void setOtherSizes(std::vector<cv::Size> sizes);  // sizes the camera also accepts when asked for them
  void failNextOpens(int count);  // the next count opens fail to find the device
  // An absent camera is neither listed nor opened; a running stream stops delivering.
  void setPresent(bool present);

  bool present() const { return present_.load(); }
  int width() const;
  int height() const;
  std::int64_t frameTime() const;

  // Hands one sample to the running graph's callback on the caller's thread; false when none is hooked.
  bool deliver(const std::uint8_t* data, std::int32_t length);
  // Hands a top-down B, G, R frame over, bottom row first as a camera sample comes.
  bool deliverFrame(const cv::Mat& bgr);

  int graphsStarted() const { return graphsStarted_.load(); }
  int graphsStopped() const { return graphsStopped_.load(); }
  long samplesStreamed() const { return samplesStreamed_.load(); }
  std::vector<VideoFormat> formatsSet() const;  // every format the camera accepted, in order

  static constexpr const char* NAME = "Fake camera";

 private:
  friend class FakeCameraGraph;

  bool bindSource();
  bool offers(int width, int height) const;
  void recordFormat(const VideoFormat& format);

  FakeSampleSource source_;
  mutable std::mutex settingsMutex_;  // guards the settings and formatsSet_
  int width_;
  int height_;
  std::int64_t frameTime_ = 333333;  // 30 frames a second
  std::vector<cv::Size> otherSizes_;
  int failingOpens_ = 0;
  std::vector<VideoFormat> formatsSet_;
  std::atomic<bool> present_{true};
  std::atomic<int> graphsStarted_{0};
  std::atomic<int> graphsStopped_{0};
  std::atomic<long> samplesStreamed_{0};
  std::mutex runningMutex_;
  FakeCameraGraph* running_ = nullptr;  // the graph whose stream runs, under runningMutex_
};

// A grey picture as a camera sample: packed B, G, R bytes, bottom row first.
std::vector<std::uint8_t> cameraSampleOf(const cv::Mat& grey);

#endif  // QUARNEL_TESTS_SUPPORT_FAKE_CAMERA_H_
