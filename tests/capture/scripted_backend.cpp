#include "tests/capture/scripted_backend.h"

#include <algorithm>
#include <chrono>

#include "capture/frame_slot.h"

namespace capturetest {

namespace {

std::string formatText(const VideoFormat& format) {
  return std::string(subtypeName(format.subtype)) + " " + std::to_string(format.width) + "x" +
         std::to_string(format.height) + " @" + std::to_string(format.frameTime);
}

}  // namespace

const char* graphObjectName(GraphObject object) {
  switch (object) {
    case GraphObject::FilterGraph: return "FilterGraph";
    case GraphObject::MediaControl: return "MediaControl";
    case GraphObject::SourceFilter: return "SourceFilter";
    case GraphObject::StreamConfig: return "StreamConfig";
    case GraphObject::GrabberFilter: return "GrabberFilter";
    case GraphObject::Grabber: return "Grabber";
    case GraphObject::NullRenderer: return "NullRenderer";
  }
  return "?";
}

ScriptedDevice namedDevice(const std::string& friendlyName) {
  ScriptedDevice device;
  device.entry.moniker = friendlyName;
  device.entry.propertyBagOpens = true;
  device.entry.friendlyName = friendlyName;
  return device;
}

ScriptedBackend::~ScriptedBackend() = default;

CaptureResult ScriptedBackend::start() {
  ++starts;
  return startAnswer;
}

void ScriptedBackend::stop() { ++stops; }

CaptureResult ScriptedBackend::enumerateDevices(std::vector<DeviceEntry>& list) {
  useCountsWhileEnumerating.push_back(useCount);
  list.clear();
  if (enumerateFailure) return *enumerateFailure;
  for (const ScriptedDevice& device : devices) list.push_back(device.entry);
  return list.empty() ? CAPTURE_FALSE : CAPTURE_OK;
}

CaptureResult ScriptedBackend::createCaptureBuilder(std::unique_ptr<CaptureGraph>& graph) {
  log("createCaptureBuilder");
  if (auto failure = failureAt(Step::CreateBuilder)) return *failure;
  graph = std::make_unique<ScriptedGraph>(*this);
  return CAPTURE_OK;
}

std::optional<CaptureResult> ScriptedBackend::failureAt(Step step) {
  const int call = ++callCounts[step];
  const auto found = failures.find(step);
  if (found == failures.end() || call < found->second.fromCall) return std::nullopt;
  return found->second.code;
}

int ScriptedBackend::callIndex(const std::string& call) const {
  const auto found = std::find(calls.begin(), calls.end(), call);
  return found == calls.end() ? -1 : static_cast<int>(found - calls.begin());
}

ScriptedGraph::ScriptedGraph(ScriptedBackend& backend) : backend(backend) { backend.graphs.push_back(this); }

ScriptedGraph::~ScriptedGraph() {
  stopContinuousStream();
  hook.set(nullptr);
  backend.graphs.erase(std::remove(backend.graphs.begin(), backend.graphs.end(), this), backend.graphs.end());
}

CaptureResult ScriptedGraph::acquire(GraphObject object) {
  backend.log(std::string("acquire ") + graphObjectName(object));
  static const std::map<GraphObject, Step> steps = {
      {GraphObject::FilterGraph, Step::FilterGraph},     {GraphObject::MediaControl, Step::MediaControl},
      {GraphObject::GrabberFilter, Step::GrabberFilter}, {GraphObject::Grabber, Step::Grabber},
      {GraphObject::NullRenderer, Step::NullRenderer},
  };
  const auto step = steps.find(object);
  if (step == steps.end()) return CAPTURE_FAIL;
  if (auto failure = backend.failureAt(step->second)) return *failure;
  return CAPTURE_OK;
}

void ScriptedGraph::release(GraphObject object) { backend.log(std::string("release ") + graphObjectName(object)); }

CaptureResult ScriptedGraph::setFiltergraph() {
  backend.log("setFiltergraph");
  if (auto failure = backend.failureAt(Step::SetFiltergraph)) return *failure;
  return CAPTURE_OK;
}

CaptureResult ScriptedGraph::bindSource(const DeviceEntry& entry) {
  backend.log("bindSource " + entry.moniker);
  if (auto failure = backend.failureAt(Step::BindSource)) return *failure;
  for (const ScriptedDevice& candidate : backend.devices) {
    if (candidate.entry.moniker == entry.moniker) {
      device = &candidate;
      current = candidate.defaultFormat;
      return CAPTURE_OK;
    }
  }
  return CAPTURE_FAIL;
}

CaptureResult ScriptedGraph::addFilter(GraphObject filter, const std::string& name) {
  backend.log("addFilter " + name);
  // Adding the source cannot fail here; its answer is not looked at.
  if (filter != GraphObject::SourceFilter) {
    const Step step = filter == GraphObject::GrabberFilter ? Step::AddGrabber : Step::AddNullRenderer;
    if (auto failure = backend.failureAt(step)) return *failure;
  }
  filters.push_back(Filter{nextFilterId++, name, filter});
  return CAPTURE_OK;
}

CaptureResult ScriptedGraph::findStreamConfig(PinCategory category) {
  const bool preview = category == PinCategory::Preview;
  backend.log(preview ? "findStreamConfig preview" : "findStreamConfig capture");
  // The first look is the probe for a preview pin; the next one finds the interface to keep.
  if (++streamLookups == 1 && preview) {
    if (auto failure = backend.failureAt(Step::PreviewPin)) return *failure;
    return device != nullptr && device->hasPreviewPin ? CAPTURE_OK : CAPTURE_FAIL;
  }
  if (auto failure = backend.failureAt(Step::StreamConfig)) return *failure;
  return CAPTURE_OK;
}

CaptureResult ScriptedGraph::getFormat(VideoFormat& format) {
  if (auto failure = backend.failureAt(Step::GetFormat)) return *failure;
  format = current;
  return CAPTURE_OK;
}

CaptureResult ScriptedGraph::setFormat(const VideoFormat& format) {
  backend.log("setFormat " + formatText(format));
  const bool taken = device->accepts ? device->accepts(format)
                                     : format.width == device->defaultFormat.width &&
                                           format.height == device->defaultFormat.height &&
                                           format.subtype == device->defaultFormat.subtype;
  if (!taken) return CAPTURE_FALSE;
  current = format;
  return CAPTURE_OK;
}

CaptureResult ScriptedGraph::capabilityCount(std::int32_t& count, std::int32_t& recordBytes) {
  if (auto failure = backend.failureAt(Step::CapabilityCount)) return *failure;
  count = static_cast<std::int32_t>(device->caps.size());
  recordBytes = device->capsRecordBytes;
  return CAPTURE_OK;
}

CaptureResult ScriptedGraph::streamCaps(std::int32_t index, StreamCaps& caps) {
  if (index < 0 || static_cast<size_t>(index) >= device->caps.size() || device->failingCaps.count(index) > 0) {
    return CAPTURE_FAIL;
  }
  caps = device->caps[static_cast<size_t>(index)];
  return CAPTURE_OK;
}

CaptureResult ScriptedGraph::setCallback(SampleGrabberCallback* callback) {
  backend.log(callback != nullptr ? "setCallback hook" : "setCallback unhook");
  if (callback != nullptr) {
    if (auto failure = backend.failureAt(Step::SetCallback)) return *failure;
  }
  hook.set(callback);
  return CAPTURE_OK;
}

CaptureResult ScriptedGraph::renderStream() {
  backend.log("renderStream");
  if (auto failure = backend.failureAt(Step::RenderStream)) return *failure;
  // Like a real graph, a source not already delivering RGB24 gets a converter in front of the grabber.
  if (current.subtype != SUBTYPE_RGB24) filters.push_back(Filter{nextFilterId++, "Converter", GraphObject::GrabberFilter});
  connected = true;
  return CAPTURE_OK;
}

CaptureResult ScriptedGraph::disableClock() {
  backend.log("disableClock");
  if (auto failure = backend.failureAt(Step::DisableClock)) return *failure;
  return CAPTURE_OK;
}

CaptureResult ScriptedGraph::setState(GraphState state) {
  switch (state) {
    case GraphState::Running:
      backend.log("run");
      if (auto failure = backend.failureAt(Step::Run)) return *failure;
      return CAPTURE_OK;
    case GraphState::Paused:
      backend.log("pause");
      stopContinuousStream();
      if (auto failure = backend.failureAt(Step::Pause)) return *failure;
      return CAPTURE_OK;
    case GraphState::Stopped:
      backend.log("stop");
      stopContinuousStream();
      if (auto failure = backend.failureAt(Step::Stop)) return *failure;
      return CAPTURE_OK;
  }
  return CAPTURE_FAIL;
}

void ScriptedGraph::removeDownstream() {
  backend.log("removeDownstream");
  if (!connected) return;
  filters.erase(std::remove_if(filters.begin(), filters.end(),
                               [](const Filter& filter) { return filter.kind != GraphObject::SourceFilter; }),
                filters.end());
  connected = false;
}

CaptureResult ScriptedGraph::nextFilter(int& filterId, std::string& name) {
  if (auto failure = backend.failureAt(Step::EnumFilters)) return *failure;
  if (filters.empty()) return CAPTURE_FALSE;
  filterId = filters.front().id;
  name = filters.front().name;
  return CAPTURE_OK;
}

CaptureResult ScriptedGraph::removeFilter(int filterId) {
  backend.log("removeFilter " + std::to_string(filterId));
  if (auto failure = backend.failureAt(Step::RemoveFilter)) return *failure;
  filters.erase(std::remove_if(filters.begin(), filters.end(),
                               [filterId](const Filter& filter) { return filter.id == filterId; }),
                filters.end());
  return CAPTURE_OK;
}

void ScriptedGraph::deliverFromStreamingThread(const std::vector<std::optional<std::vector<std::uint8_t>>>& samples) {
  std::thread streaming([this, &samples] {
    double time = 0.0;
    for (const auto& sample : samples) {
      const CaptureSample handedOver = sample ? CaptureSample{sample->data(), static_cast<std::int32_t>(sample->size())}
                                              : CaptureSample{nullptr, 0};
      hook.deliver(time, handedOver);
      time += 1.0 / 30.0;
    }
  });
  streaming.join();
}

void ScriptedGraph::startContinuousStream(std::function<std::vector<std::uint8_t>(int)> makeSample) {
  stopContinuousStream();
  stopRequested = false;
  streamer = std::thread([this, makeSample = std::move(makeSample)] {
    for (int index = 0; !stopRequested; ++index) {
      const std::vector<std::uint8_t> sample = makeSample(index);
      hook.deliver(index / 30.0, CaptureSample{sample.data(), static_cast<std::int32_t>(sample.size())});
      handed = index + 1;
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  });
}

void ScriptedGraph::stopContinuousStream() {
  stopRequested = true;
  if (streamer.joinable()) streamer.join();
}

}  // namespace capturetest
