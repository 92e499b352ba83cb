// The capture backend: the platform's video devices as seen by CaptureManager.
//
// CaptureManager keeps every decision (order of steps, format preference, size search, messages) and asks
// the backend only for single platform steps. A backend is two ports: CaptureBackend for the process-wide
// steps (counted start and stop, device enumeration, a new graph per opened device) and CaptureGraph for
// the steps on one device's graph. Every step answers with a CaptureResult: negative is failure, and
// where the manager needs a plain yes, only CAPTURE_OK counts.
//
// All calls come from the thread that owns the CaptureManager. The one exception runs the other way: once
// a graph runs, the backend's own streaming thread calls SampleGrabberCallback::sampleCB.
#ifndef QUARNEL_CAPTURE_CAPTURE_BACKEND_H_
#define QUARNEL_CAPTURE_CAPTURE_BACKEND_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "capture/media_subtype.h"

// Result codes; the values are the platform codes the messages and logs have always used.
using CaptureResult = std::int32_t;
constexpr CaptureResult CAPTURE_OK = 0;
constexpr CaptureResult CAPTURE_FALSE = 1;  // succeeded, but "no" (an empty list, a refused format)
constexpr CaptureResult CAPTURE_FAIL = static_cast<CaptureResult>(0x80004005u);
constexpr CaptureResult CAPTURE_NOT_FOUND = static_cast<CaptureResult>(0x80040216u);
// start() answers this when the platform was already started on this thread in another mode.
constexpr CaptureResult CAPTURE_CHANGED_MODE = static_cast<CaptureResult>(0x80010106u);

inline bool captureSucceeded(CaptureResult result) { return result >= 0; }

// A stream format: what the source produces or is asked to produce.
struct VideoFormat {
  std::int32_t width = 0;
  std::int32_t height = 0;
  MediaSubtype subtype{};
  std::int64_t frameTime = 0;   // average time per frame in 100 ns units; 0 when unknown
  std::int64_t sampleSize = 0;  // bytes per sample the manager expects; a hint only
};

// One entry of the device's capability list: the output sizes it offers for one subtype.
struct StreamCaps {
  std::int32_t minWidth = 0;
  std::int32_t minHeight = 0;
  std::int32_t maxWidth = 0;
  std::int32_t maxHeight = 0;
  std::int32_t stepX = 1;  // size granularity; a step below 1 makes the entry unusable
  std::int32_t stepY = 1;
  MediaSubtype subtype{};
};

// Size in bytes of a well-formed capability record; capabilityCount reports the size of the backend's.
constexpr std::int32_t CAPTURE_CAPS_RECORD_BYTES = 128;

// One video input device of the enumeration, in the backend's stable order.
struct DeviceEntry {
  std::string moniker;            // backend's own key for bindSource
  bool propertyBagOpens = false;  // false: the device's names cannot be read at all
  std::optional<std::string> description;
  std::optional<std::string> friendlyName;
};

// One sample handed to the frame callback: packed 24-bit B, G, R, bottom row first.
struct CaptureSample {
  const unsigned char* data = nullptr;  // null when the sample's data cannot be had
  std::int32_t length = 0;              // valid bytes at data
};

class SampleGrabberCallback;

// The objects of one device's graph whose handles the manager holds and releases one by one.
enum class GraphObject {
  FilterGraph,    // the graph itself
  MediaControl,   // run, pause and stop of the graph
  SourceFilter,   // the bound device (bindSource)
  StreamConfig,   // the source's format interface (findStreamConfig)
  GrabberFilter,  // the sink that calls the frame callback
  Grabber,        // the sink's callback and type settings
  NullRenderer,   // the end of the chain
};

enum class PinCategory { Capture, Preview };
enum class GraphState { Running, Paused, Stopped };

// One device's graph. Created by CaptureBackend::createCaptureBuilder, which also makes the graph builder;
// destroying it releases whatever is still held (the manager releases everything first).
class CaptureGraph {
 public:
  virtual ~CaptureGraph() = default;

  // Creates or queries an object and holds its handle (FilterGraph, MediaControl, GrabberFilter, Grabber,
  // NullRenderer). SourceFilter and StreamConfig come from bindSource and findStreamConfig instead.
  virtual CaptureResult acquire(GraphObject object) = 0;
  // Drops the manager's handle; an object still in the graph lives on there.
  virtual void release(GraphObject object) = 0;

  // Gives the graph builder its graph.
  virtual CaptureResult setFiltergraph() = 0;
  // Binds the enumerated device to the source filter.
  virtual CaptureResult bindSource(const DeviceEntry& device) = 0;
  // Adds a held filter (SourceFilter, GrabberFilter, NullRenderer) to the graph under name.
  virtual CaptureResult addFilter(GraphObject filter, const std::string& name) = 0;

  // Finds the source's stream interface on a pin of the category and holds it as StreamConfig.
  virtual CaptureResult findStreamConfig(PinCategory category) = 0;
  virtual CaptureResult getFormat(VideoFormat& format) = 0;
  // CAPTURE_OK exactly when the device took the format (size and subtype) as given.
  virtual CaptureResult setFormat(const VideoFormat& format) = 0;
  virtual CaptureResult capabilityCount(std::int32_t& count, std::int32_t& recordBytes) = 0;
  virtual CaptureResult streamCaps(std::int32_t index, StreamCaps& caps) = 0;

  // Hooks the frame callback to the grabber; null unhooks it and returns only when no call into the old
  // callback is running or can start.
  virtual CaptureResult setCallback(SampleGrabberCallback* callback) = 0;
  // Wires source -> grabber -> null renderer through whatever conversion gives packed 24-bit BGR.
  virtual CaptureResult renderStream() = 0;
  // Lets samples through as soon as they arrive, with no clock pacing.
  virtual CaptureResult disableClock() = 0;
  virtual CaptureResult setState(GraphState state) = 0;

  // Disconnects and removes, recursively, every filter fed by the source; the source stays.
  virtual void removeDownstream() = 0;
  // The first filter still in the graph: CAPTURE_OK with its id and name, any other success when the graph
  // is empty, a failure when the graph cannot be enumerated.
  virtual CaptureResult nextFilter(int& filterId, std::string& name) = 0;
  virtual CaptureResult removeFilter(int filterId) = 0;
};

// The process-wide port of a backend.
class CaptureBackend {
 public:
  virtual ~CaptureBackend() = default;

  // Counted by the manager: start() with the first user, stop() when the last one leaves.
  virtual CaptureResult start() = 0;
  virtual void stop() = 0;

  // The video input devices. CAPTURE_OK with the list; another success code when there is no device at
  // all; a failure when the devices cannot be enumerated.
  virtual CaptureResult enumerateDevices(std::vector<DeviceEntry>& devices) = 0;

  // A new graph for one device, holding its graph builder.
  virtual CaptureResult createCaptureBuilder(std::unique_ptr<CaptureGraph>& graph) = 0;

  // Users of this backend started through the manager; changed only by the manager's counted start/stop.
  int useCount = 0;
};

#endif  // QUARNEL_CAPTURE_CAPTURE_BACKEND_H_
