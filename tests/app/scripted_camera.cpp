#include "tests/app/scripted_camera.h"

#include <algorithm>
#include <string>

#include "capture/frame_slot.h"
#include "capture/media_subtype.h"

namespace {

class ScriptedGraph : public CaptureGraph {
 public:
  explicit ScriptedGraph(ScriptedCamera& camera) : camera(camera) {}
  ~ScriptedGraph() override { stopStream(); }

  CaptureResult acquire(GraphObject) override { return CAPTURE_OK; }
  void release(GraphObject) override {}
  CaptureResult setFiltergraph() override { return CAPTURE_OK; }
  CaptureResult bindSource(const DeviceEntry&) override {
    if (!camera.present) return CAPTURE_NOT_FOUND;
    if (camera.failingOpens > 0) {
      --camera.failingOpens;
      return CAPTURE_NOT_FOUND;
    }
    return CAPTURE_OK;
  }
  CaptureResult addFilter(GraphObject, const std::string&) override { return CAPTURE_OK; }
  CaptureResult findStreamConfig(PinCategory) override { return CAPTURE_OK; }
  CaptureResult getFormat(VideoFormat& format) override {
    format.width = camera.width;
    format.height = camera.height;
    format.subtype = SUBTYPE_RGB24;
    format.frameTime = camera.frameTime;
    format.sampleSize = static_cast<std::int64_t>(camera.width) * camera.height * 3;
    return CAPTURE_OK;
  }
  // The camera takes its default size and the other sizes it offers, at any frame time.
  CaptureResult setFormat(const VideoFormat& format) override {
    const cv::Size size(format.width, format.height);
    const bool offered = size == cv::Size(camera.width, camera.height) ||
                         std::find(camera.otherSizes.begin(), camera.otherSizes.end(), size) != camera.otherSizes.end();
    if (!offered) return CAPTURE_FALSE;
    camera.formatsSet.push_back(format);
    return CAPTURE_OK;
  }
  CaptureResult capabilityCount(std::int32_t& count, std::int32_t& recordBytes) override {
    count = 1;
    recordBytes = CAPTURE_CAPS_RECORD_BYTES;
    return CAPTURE_OK;
  }
  CaptureResult streamCaps(std::int32_t, StreamCaps& caps) override {
    caps.minWidth = caps.maxWidth = camera.width;
    caps.minHeight = caps.maxHeight = camera.height;
    caps.stepX = caps.stepY = 1;
    caps.subtype = SUBTYPE_RGB24;
    return CAPTURE_OK;
  }
  CaptureResult setCallback(SampleGrabberCallback* callback) override {
    hooked = callback;
    if (callback == nullptr) stopStream();
    return CAPTURE_OK;
  }
  CaptureResult renderStream() override { return CAPTURE_OK; }
  CaptureResult disableClock() override { return CAPTURE_OK; }
  CaptureResult setState(GraphState state) override {
    if (state == GraphState::Running && !streaming) {
      streaming = true;
      camera.callback = hooked;
      camera.running = true;
      ++camera.graphsStarted;
    } else if (state != GraphState::Running) {
      stopStream();
    }
    return CAPTURE_OK;
  }
  void removeDownstream() override {}
  CaptureResult nextFilter(int&, std::string&) override { return CAPTURE_FALSE; }
  CaptureResult removeFilter(int) override { return CAPTURE_OK; }

 private:
  void stopStream() {
    if (!streaming) return;
    streaming = false;
    camera.callback = nullptr;
    camera.running = false;
    ++camera.graphsStopped;
  }

  ScriptedCamera& camera;
  SampleGrabberCallback* hooked = nullptr;
  bool streaming = false;
};

}  // namespace

CaptureResult ScriptedCamera::enumerateDevices(std::vector<DeviceEntry>& devices) {
  devices.clear();
  if (!present) return CAPTURE_FALSE;
  devices.push_back(DeviceEntry{"scripted0", true, std::string("Scripted camera"), std::string("Scripted camera")});
  return CAPTURE_OK;
}

CaptureResult ScriptedCamera::createCaptureBuilder(std::unique_ptr<CaptureGraph>& graph) {
  graph = std::make_unique<ScriptedGraph>(*this);
  return CAPTURE_OK;
}

bool ScriptedCamera::deliver(const cv::Mat& bgr) {
  if (!running || callback == nullptr) return false;
  cv::Mat bottomUp;
  cv::flip(bgr, bottomUp, 0);
  const cv::Mat packed = bottomUp.isContinuous() ? bottomUp : bottomUp.clone();
  callback->sampleCB(0.0, CaptureSample{packed.data, static_cast<std::int32_t>(packed.total() * packed.elemSize())});
  return true;
}
