// The replay camera: a device that offers one format, 640 x 480 RGB24, and streams the scene's frames.
#include "tests/app/replay_backend.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <utility>

#include "capture/media_subtype.h"
#include "capture/sample_hook.h"

namespace {

VideoFormat replayFormat() {
  VideoFormat format;
  format.width = REPLAY_FRAME_WIDTH;
  format.height = REPLAY_FRAME_HEIGHT;
  format.subtype = SUBTYPE_RGB24;
  format.frameTime = 10000000 / REPLAY_FRAMES_PER_SECOND;
  format.sampleSize = std::int64_t{REPLAY_FRAME_WIDTH} * REPLAY_FRAME_HEIGHT * 3;
  return format;
}

class ReplayGraph : public CaptureGraph {
 public:
  explicit ReplayGraph(ReplayFrameSource source) : source(std::move(source)) {}
  ~ReplayGraph() override {
    hook.set(nullptr);
    stopStreaming();
  }

  CaptureResult acquire(GraphObject) override { return CAPTURE_OK; }
  void release(GraphObject) override {}
  CaptureResult setFiltergraph() override { return CAPTURE_OK; }
  CaptureResult bindSource(const DeviceEntry&) override { return CAPTURE_OK; }
  CaptureResult addFilter(GraphObject, const std::string& name) override {
    filters.push_back({nextFilterId++, name});
    return CAPTURE_OK;
  }
  CaptureResult findStreamConfig(PinCategory) override { return CAPTURE_OK; }
  CaptureResult getFormat(VideoFormat& format) override {
    format = replayFormat();
    return CAPTURE_OK;
  }
  CaptureResult setFormat(const VideoFormat& format) override {
    const VideoFormat own = replayFormat();
    return format.width == own.width && format.height == own.height && format.subtype == own.subtype
               ? CAPTURE_OK
               : CAPTURE_FALSE;
  }
  CaptureResult capabilityCount(std::int32_t& count, std::int32_t& recordBytes) override {
    count = 1;
    recordBytes = CAPTURE_CAPS_RECORD_BYTES;
    return CAPTURE_OK;
  }
  CaptureResult streamCaps(std::int32_t index, StreamCaps& caps) override {
    if (index != 0) return CAPTURE_FAIL;
    caps = StreamCaps{REPLAY_FRAME_WIDTH, REPLAY_FRAME_HEIGHT, REPLAY_FRAME_WIDTH, REPLAY_FRAME_HEIGHT, 1, 1,
                      SUBTYPE_RGB24};
    return CAPTURE_OK;
  }
  CaptureResult setCallback(SampleGrabberCallback* callback) override {
    hook.set(callback);
    return CAPTURE_OK;
  }
  CaptureResult renderStream() override { return CAPTURE_OK; }
  CaptureResult disableClock() override { return CAPTURE_OK; }
  CaptureResult setState(GraphState state) override {
    if (state == GraphState::Running) {
      startStreaming();
    } else {
      stopStreaming();
    }
    return CAPTURE_OK;
  }
  void removeDownstream() override {
    if (!filters.empty()) filters.erase(filters.begin() + 1, filters.end());
  }
  CaptureResult nextFilter(int& filterId, std::string& name) override {
    if (filters.empty()) return CAPTURE_FALSE;
    filterId = filters.front().id;
    name = filters.front().name;
    return CAPTURE_OK;
  }
  CaptureResult removeFilter(int filterId) override {
    const auto found = std::find_if(filters.begin(), filters.end(), [filterId](const Filter& f) { return f.id == filterId; });
    if (found == filters.end()) return CAPTURE_FAIL;
    filters.erase(found);
    return CAPTURE_OK;
  }

 private:
  struct Filter {
    int id;
    std::string name;
  };

  void startStreaming() {
    if (streamer.joinable()) return;
    stopRequested = false;
    streamer = std::thread([this] {
      const auto period = std::chrono::microseconds(1000000 / REPLAY_FRAMES_PER_SECOND);
      auto next = std::chrono::steady_clock::now();
      for (double time = 0.0; !stopRequested; time += 1.0 / REPLAY_FRAMES_PER_SECOND) {
        const std::vector<std::uint8_t>& frame = source();
        hook.deliver(time, CaptureSample{frame.data(), static_cast<std::int32_t>(frame.size())});
        next += period;
        std::this_thread::sleep_until(next);
      }
    });
  }
  void stopStreaming() {
    stopRequested = true;
    if (streamer.joinable()) streamer.join();
  }

  ReplayFrameSource source;
  SampleHook hook;
  std::vector<Filter> filters;
  int nextFilterId = 1;
  std::thread streamer;
  std::atomic<bool> stopRequested{false};
};

class ReplayBackend : public CaptureBackend {
 public:
  explicit ReplayBackend(ReplayFrameSource source) : source(std::move(source)) {}

  CaptureResult start() override { return CAPTURE_OK; }
  void stop() override {}
  CaptureResult enumerateDevices(std::vector<DeviceEntry>& devices) override {
    DeviceEntry camera;
    camera.moniker = "replay";
    camera.propertyBagOpens = true;
    camera.friendlyName = "Replay Camera";
    devices = {camera};
    return CAPTURE_OK;
  }
  CaptureResult createCaptureBuilder(std::unique_ptr<CaptureGraph>& graph) override {
    graph = std::make_unique<ReplayGraph>(source);
    return CAPTURE_OK;
  }

 private:
  ReplayFrameSource source;
};

}  // namespace

std::unique_ptr<CaptureBackend> makeReplayBackend(ReplayFrameSource source) {
  return std::make_unique<ReplayBackend>(std::move(source));
}
