// Test-only capture backend that plays any device behaviour: device lists, names, formats accepted per
// subtype and size, capability lists, a failure at any step, and samples from a streaming thread of its own.
// Every role it is asked to play is written to a call log, so tests can check the order of steps.
#ifndef QUARNEL_TESTS_CAPTURE_SCRIPTED_BACKEND_H_
#define QUARNEL_TESTS_CAPTURE_SCRIPTED_BACKEND_H_

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "capture/capture_backend.h"
#include "capture/sample_hook.h"

namespace capturetest {

// Roles that a script can make fail.
enum class Step {
  CreateBuilder,
  FilterGraph,
  SetFiltergraph,
  MediaControl,
  BindSource,
  PreviewPin,
  StreamConfig,
  GetFormat,
  CapabilityCount,
  GrabberFilter,
  AddGrabber,
  Grabber,
  SetCallback,
  NullRenderer,
  AddNullRenderer,
  RenderStream,
  DisableClock,
  Run,
  Pause,
  Stop,
  EnumFilters,
  RemoveFilter,
};

struct Failure {
  CaptureResult code = CAPTURE_FAIL;
  int fromCall = 1;  // the step answers normally before its fromCall-th call
};

struct ScriptedDevice {
  DeviceEntry entry;
  VideoFormat defaultFormat{640, 480, SUBTYPE_RGB24, 333333, 0};
  // Whether the device takes a format as asked; unset: only formats of its default size and subtype.
  std::function<bool(const VideoFormat&)> accepts;
  std::vector<StreamCaps> caps;
  std::set<int> failingCaps;  // indexes whose record cannot be read
  std::int32_t capsRecordBytes = CAPTURE_CAPS_RECORD_BYTES;
  bool hasPreviewPin = true;
};

// A device with a friendly name (also its moniker) and the default format.
ScriptedDevice namedDevice(const std::string& friendlyName);

class ScriptedGraph;

class ScriptedBackend : public CaptureBackend {
 public:
  ~ScriptedBackend() override;

  CaptureResult start() override;
  void stop() override;
  CaptureResult enumerateDevices(std::vector<DeviceEntry>& list) override;
  CaptureResult createCaptureBuilder(std::unique_ptr<CaptureGraph>& graph) override;

  // A failing step answers its code; every other answer follows the devices.
  std::optional<CaptureResult> failureAt(Step step);
  void log(const std::string& call) { calls.push_back(call); }
  // Index of the first logged call equal to call, -1 when there is none.
  int callIndex(const std::string& call) const;
  // The one graph alive (the test opened one device); null when there is none.
  ScriptedGraph* liveGraph() const { return graphs.size() == 1 ? graphs.front() : nullptr; }

  std::vector<ScriptedDevice> devices;
  std::optional<CaptureResult> enumerateFailure;  // a failing answer of enumerateDevices
  CaptureResult startAnswer = CAPTURE_OK;
  std::map<Step, Failure> failures;
  std::map<Step, int> callCounts;
  std::vector<std::string> calls;
  std::vector<int> useCountsWhileEnumerating;
  int starts = 0;
  int stops = 0;
  std::vector<ScriptedGraph*> graphs;  // alive, in creation order
};

class ScriptedGraph : public CaptureGraph {
 public:
  explicit ScriptedGraph(ScriptedBackend& backend);
  ~ScriptedGraph() override;

  CaptureResult acquire(GraphObject object) override;
  void release(GraphObject object) override;
  CaptureResult setFiltergraph() override;
  CaptureResult bindSource(const DeviceEntry& device) override;
  CaptureResult addFilter(GraphObject filter, const std::string& name) override;
  CaptureResult findStreamConfig(PinCategory category) override;
  CaptureResult getFormat(VideoFormat& format) override;
  CaptureResult setFormat(const VideoFormat& format) override;
  CaptureResult capabilityCount(std::int32_t& count, std::int32_t& recordBytes) override;
  CaptureResult streamCaps(std::int32_t index, StreamCaps& caps) override;
  CaptureResult setCallback(SampleGrabberCallback* callback) override;
  CaptureResult renderStream() override;
  CaptureResult disableClock() override;
  CaptureResult setState(GraphState state) override;
  void removeDownstream() override;
  CaptureResult nextFilter(int& filterId, std::string& name) override;
  CaptureResult removeFilter(int filterId) override;

  // Hands each sample (a missing one as a sample whose data cannot be had) to the hooked callback from a
  // streaming thread of the graph's own; returns once all are handed.
  void deliverFromStreamingThread(const std::vector<std::optional<std::vector<std::uint8_t>>>& samples);
  // Starts handing makeSample(0), makeSample(1), ... to the callback as fast as it goes, until the graph
  // is paused, stopped or destroyed.
  void startContinuousStream(std::function<std::vector<std::uint8_t>(int)> makeSample);
  int continuousSamplesHanded() const { return handed.load(); }

  const ScriptedDevice* device = nullptr;
  VideoFormat current;

 private:
  struct Filter {
    int id;
    std::string name;
    GraphObject kind;
  };
  void stopContinuousStream();

  ScriptedBackend& backend;
  std::vector<Filter> filters;
  int nextFilterId = 1;
  bool connected = false;
  int streamLookups = 0;
  SampleHook hook;
  std::thread streamer;
  std::atomic<bool> stopRequested{false};
  std::atomic<int> handed{0};
};

const char* graphObjectName(GraphObject object);

}  // namespace capturetest

#endif  // QUARNEL_TESTS_CAPTURE_SCRIPTED_BACKEND_H_
