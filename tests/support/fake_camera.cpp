#include "tests/support/fake_camera.h"

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <utility>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "capture/frame_slot.h"
#include "capture/media_subtype.h"
#include "capture/sample_hook.h"

class FakeCameraGraph : public CaptureGraph {
 public:
  explicit FakeCameraGraph(FakeCamera& camera) : camera_(camera) {}
  ~FakeCameraGraph() override {
    hook_.set(nullptr);
    stopStream();
  }

  CaptureResult acquire(GraphObject) override { return CAPTURE_OK; }
  void release(GraphObject) override {}
  CaptureResult setFiltergraph() override { return CAPTURE_OK; }
  CaptureResult bindSource(const DeviceEntry&) override {
    return camera_.bindSource() ? CAPTURE_OK : CAPTURE_NOT_FOUND;
  }
  CaptureResult addFilter(GraphObject, const std::string& name) override {
    filters_.push_back({nextFilterId_++, name});
    return CAPTURE_OK;
  }
  CaptureResult findStreamConfig(PinCategory) override { return CAPTURE_OK; }
  CaptureResult getFormat(VideoFormat& format) override {
    format.width = camera_.width();
    format.height = camera_.height();
    format.subtype = SUBTYPE_RGB24;
    format.frameTime = camera_.frameTime();
    format.sampleSize = static_cast<std::int64_t>(format.width) * format.height * 3;
    return CAPTURE_OK;
  }
  // The camera takes RGB24 at its default size and the other sizes it offers, at any frame time.
  CaptureResult setFormat(const VideoFormat& format) override {
    if (format.subtype != SUBTYPE_RGB24 || !camera_.offers(format.width, format.height)) return CAPTURE_FALSE;
    camera_.recordFormat(format);
    return CAPTURE_OK;
  }
  CaptureResult capabilityCount(std::int32_t& count, std::int32_t& recordBytes) override {
    count = 1;
    recordBytes = CAPTURE_CAPS_RECORD_BYTES;
    return CAPTURE_OK;
  }
  CaptureResult streamCaps(std::int32_t index, StreamCaps& caps) override {
    if (index != 0) return CAPTURE_FAIL;
    caps.minWidth = caps.maxWidth = camera_.width();
    caps.minHeight = caps.maxHeight = camera_.height();
    caps.stepX = caps.stepY = 1;
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
  // Everything after the source filter goes; the source stays until removed by id.
  void removeDownstream() override {
    if (!filters_.empty()) filters_.erase(filters_.begin() + 1, filters_.end());
  }
  CaptureResult nextFilter(int& filterId, std::string& name) override {
    if (filters_.empty()) return CAPTURE_FALSE;
    filterId = filters_.front().id;
    name = filters_.front().name;
    return CAPTURE_OK;
  }
  CaptureResult removeFilter(int filterId) override {
    const auto found =
        std::find_if(filters_.begin(), filters_.end(), [filterId](const Filter& f) { return f.id == filterId; });
    if (found == filters_.end()) return CAPTURE_FAIL;
    filters_.erase(found);
    return CAPTURE_OK;
  }

  bool deliver(const std::uint8_t* data, std::int32_t length) {
    return hook_.deliver(0.0, CaptureSample{data, length});
  }

 private:
  struct Filter {
    int id;
    std::string name;
  };

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
    const double secondsPerFrame = static_cast<double>(camera_.frameTime()) / 1e7;
    streamer_ = std::thread([this, secondsPerFrame] {
      double sampleTime = 0.0;
      while (!stopRequested_.load()) {
        if (!camera_.present()) {
          std::this_thread::sleep_for(std::chrono::microseconds(200));
          continue;
        }
        const FakeSample sample = camera_.source_();
        if (hook_.deliver(sampleTime, CaptureSample{sample.data, sample.length})) ++camera_.samplesStreamed_;
        sampleTime += secondsPerFrame;
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

  FakeCamera& camera_;
  SampleHook hook_;
  std::vector<Filter> filters_;
  int nextFilterId_ = 1;
  bool streaming_ = false;
  std::thread streamer_;
  std::atomic<bool> stopRequested_{false};
};

FakeCamera::FakeCamera(int width, int height, FakeSampleSource source)
    : source_(std::move(source)), width_(width), height_(height) {}

CaptureResult FakeCamera::enumerateDevices(std::vector<DeviceEntry>& devices) {
  devices.clear();
  if (!present()) return CAPTURE_FALSE;
  devices.push_back(DeviceEntry{"fake0", true, std::string(NAME), std::string(NAME)});
  return CAPTURE_OK;
}

CaptureResult FakeCamera::createCaptureBuilder(std::unique_ptr<CaptureGraph>& graph) {
  graph = std::make_unique<FakeCameraGraph>(*this);
  return CAPTURE_OK;
}

void FakeCamera::setFrameSize(int width, int height) {
  std::lock_guard<std::mutex> lock(settingsMutex_);
  width_ = width;
  height_ = height;
}

void FakeCamera::setFrameTime(std::int64_t frameTime) {
  std::lock_guard<std::mutex> lock(settingsMutex_);
  frameTime_ = frameTime;
}

void FakeCamera::setOtherSizes(std::vector<cv::Size> sizes) {
  std::lock_guard<std::mutex> lock(settingsMutex_);
  otherSizes_ = std::move(sizes);
}

void FakeCamera::failNextOpens(int count) {
  std::lock_guard<std::mutex> lock(settingsMutex_);
  failingOpens_ = count;
}

void FakeCamera::setPresent(bool present) { present_ = present; }

int FakeCamera::width() const {
  std::lock_guard<std::mutex> lock(settingsMutex_);
  return width_;
}

int FakeCamera::height() const {
  std::lock_guard<std::mutex> lock(settingsMutex_);
  return height_;
}

std::int64_t FakeCamera::frameTime() const {
  std::lock_guard<std::mutex> lock(settingsMutex_);
  return frameTime_;
}

std::vector<VideoFormat> FakeCamera::formatsSet() const {
  std::lock_guard<std::mutex> lock(settingsMutex_);
  return formatsSet_;
}

bool FakeCamera::deliver(const std::uint8_t* data, std::int32_t length) {
  std::lock_guard<std::mutex> lock(runningMutex_);
  return running_ != nullptr && running_->deliver(data, length);
}

bool FakeCamera::deliverFrame(const cv::Mat& bgr) {
  cv::Mat bottomUp;
  cv::flip(bgr, bottomUp, 0);
  return deliver(bottomUp.data, static_cast<std::int32_t>(bottomUp.total() * bottomUp.elemSize()));
}

bool FakeCamera::bindSource() {
  if (!present()) return false;
  std::lock_guard<std::mutex> lock(settingsMutex_);
  if (failingOpens_ > 0) {
    --failingOpens_;
    return false;
  }
  return true;
}

bool FakeCamera::offers(int width, int height) const {
  std::lock_guard<std::mutex> lock(settingsMutex_);
  const cv::Size size(width, height);
  return size == cv::Size(width_, height_) ||
         std::find(otherSizes_.begin(), otherSizes_.end(), size) != otherSizes_.end();
}

void FakeCamera::recordFormat(const VideoFormat& format) {
  std::lock_guard<std::mutex> lock(settingsMutex_);
  formatsSet_.push_back(format);
}

std::vector<std::uint8_t> cameraSampleOf(const cv::Mat& grey) {
  cv::Mat colour;
  cv::cvtColor(grey, colour, cv::COLOR_GRAY2BGR);
  cv::Mat bottomUp;
  cv::flip(colour, bottomUp, 0);
  return std::vector<std::uint8_t>(bottomUp.data, bottomUp.data + bottomUp.total() * bottomUp.elemSize());
}
