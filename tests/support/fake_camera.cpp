#include "tests/support/fake_camera.h"

#include <chrono>
#include <string>
#include <thread>

#include "capture/frame_slot.h"
#include "capture/media_subtype.h"
#include "capture/sample_hook.h"

class ReplayGraph : public CaptureGraph {
 public:
  explicit ReplayGraph(ReplayCamera& camera) : camera_(camera) {}
  ~ReplayGraph() override { stopStream(); }

  CaptureResult acquire(GraphObject) override { return CAPTURE_OK; }
  void release(GraphObject) override {}
  CaptureResult setFiltergraph() override { return CAPTURE_OK; }
  CaptureResult bindSource(const DeviceEntry&) override {
    return camera_.present() ? CAPTURE_OK : CAPTURE_NOT_FOUND;
  }
  CaptureResult addFilter(GraphObject, const std::string&) override { return CAPTURE_OK; }
  CaptureResult findStreamConfig(PinCategory) override { return CAPTURE_OK; }
  CaptureResult getFormat(VideoFormat& format) override {
    format.width = camera_.width();
    format.height = camera_.height();
    format.subtype = SUBTYPE_RGB24;
    format.frameTime = 666666;
    format.sampleSize = static_cast<std::int64_t>(format.width) * format.height * 3;
    return CAPTURE_OK;
  }
  // The camera offers its one size only.
  CaptureResult setFormat(const VideoFormat& format) override {
    return format.width == camera_.width() && format.height == camera_.height() ? CAPTURE_OK : CAPTURE_FALSE;
  }
  CaptureResult capabilityCount(std::int32_t& count, std::int32_t& recordBytes) override {
    count = 1;
    recordBytes = CAPTURE_CAPS_RECORD_BYTES;
    return CAPTURE_OK;
  }
  CaptureResult streamCaps(std::int32_t, StreamCaps& caps) override {
    caps.minWidth = caps.maxWidth = camera_.width();
    caps.minHeight = caps.maxHeight = camera_.height();
    caps.subtype = SUBTYPE_RGB24;
    return CAPTURE_OK;
  }
  CaptureResult setCallback(SampleGrabberCallback* callback) override {
    hook_.set(callback);  // returns once no delivery to the old callback runs
    return CAPTURE_OK;
  }
  CaptureResult renderStream() override { return CAPTURE_OK; }
  CaptureResult disableClock() override { return CAPTURE_OK; }
  CaptureResult setState(GraphState state) override {
    if (state == GraphState::Running) {
      startStream();
    } else {
      stopStream();
    }
    return CAPTURE_OK;
  }
  void removeDownstream() override {}
  CaptureResult nextFilter(int&, std::string&) override { return CAPTURE_FALSE; }
  CaptureResult removeFilter(int) override { return CAPTURE_OK; }

  bool deliver(const std::uint8_t* data, std::int32_t length) {
    return hook_.deliver(0.0, CaptureSample{data, length});
  }

 private:
  void startStream() {
    if (streaming_) return;
    streaming_ = true;
    ++camera_.graphsStarted_;
    {
      std::lock_guard<std::mutex> lock(camera_.runningMutex_);
      camera_.running_ = this;
    }
    if (!camera_.source_) return;
    stopRequested_ = false;
    streamer_ = std::thread([this] {
      while (!stopRequested_.load()) {
        if (!camera_.present()) {
          std::this_thread::sleep_for(std::chrono::microseconds(200));
          continue;
        }
        const ReplaySample sample = camera_.source_();
        if (hook_.deliver(0.0, CaptureSample{sample.data, sample.length})) ++camera_.samplesStreamed_;
        if (sample.pauseMicros > 0) std::this_thread::sleep_for(std::chrono::microseconds(sample.pauseMicros));
      }
    });
  }

  void stopStream() {
    if (!streaming_) return;
    streaming_ = false;
    stopRequested_ = true;
    if (streamer_.joinable()) streamer_.join();
    {
      std::lock_guard<std::mutex> lock(camera_.runningMutex_);
      if (camera_.running_ == this) camera_.running_ = nullptr;
    }
    ++camera_.graphsStopped_;
  }

  ReplayCamera& camera_;
  SampleHook hook_;
  bool streaming_ = false;
  std::thread streamer_;
  std::atomic<bool> stopRequested_{false};
};

ReplayCamera::ReplayCamera(int width, int height, ReplaySource source)
    : source_(std::move(source)), width_(width), height_(height) {}

CaptureResult ReplayCamera::enumerateDevices(std::vector<DeviceEntry>& devices) {
  devices.clear();
  if (!present()) return CAPTURE_FALSE;
  devices.push_back(DeviceEntry{"replay0", true, std::string("Replay camera"), std::string("Replay camera")});
  return CAPTURE_OK;
}

CaptureResult ReplayCamera::createCaptureBuilder(std::unique_ptr<CaptureGraph>& graph) {
  graph = std::make_unique<ReplayGraph>(*this);
  return CAPTURE_OK;
}

void ReplayCamera::setFrameSize(int width, int height) {
  std::lock_guard<std::mutex> lock(sizeMutex_);
  width_ = width;
  height_ = height;
}

void ReplayCamera::setPresent(bool present) { present_ = present; }

int ReplayCamera::width() const {
  std::lock_guard<std::mutex> lock(sizeMutex_);
  return width_;
}

int ReplayCamera::height() const {
  std::lock_guard<std::mutex> lock(sizeMutex_);
  return height_;
}

bool ReplayCamera::deliver(const std::uint8_t* data, std::int32_t length) {
  std::lock_guard<std::mutex> lock(runningMutex_);
  return running_ != nullptr && running_->deliver(data, length);
}
