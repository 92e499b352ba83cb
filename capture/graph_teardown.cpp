// Closing a device: unhook the frame slot, stop the graph, remove its filters, release every handle in a
// fixed order; and the component's own end.
#include <cstdio>
#include <string>

#include "capture/capture_device.h"
#include "capture/capture_manager.h"

namespace {

// Removes every filter still in the graph, one fresh walk per removal.
void removeAllFilters(CaptureGraph& graph) {
  for (;;) {
    int filterId = 0;
    std::string name;
    const CaptureResult found = graph.nextFilter(filterId, name);
    if (!captureSucceeded(found)) {
      std::printf("SETUP: pGraph->EnumFilters() failed. \n");
      return;
    }
    if (found != CAPTURE_OK) return;
    std::printf("SETUP: removing filter %s...\n", name.c_str());
    const CaptureResult removed = graph.removeFilter(filterId);
    if (!captureSucceeded(removed)) {
      std::printf("SETUP: pGraph->RemoveFilter() failed. \n");
      return;
    }
    std::printf("SETUP: filter removed %s  \n", name.c_str());
    if (removed != CAPTURE_OK) return;
  }
}

void releaseHeld(CaptureGraph* graph, bool& held, GraphObject object, const char* message) {
  if (!held) return;
  std::fputs(message, stdout);
  if (graph != nullptr) graph->release(object);
  held = false;
}

}  // namespace

void CaptureManager::releaseDevice(CaptureDevice& record) {
  if (!record.setupStarted) {
    record.callback.reset();
    return;
  }
  CaptureGraph* graph = record.graphObjects.get();
  std::printf("\nSETUP: Disconnecting device %i\n", record.deviceIndex);

  // Unhook first: once setCallback(null) returns no sample can reach the slot, so it may go.
  if (record.grabber && graph != nullptr) {
    graph->setCallback(nullptr);
    std::printf("SETUP: freeing Grabber Callback\n");
  }
  record.callback.reset();

  if (record.mediaControl && graph != nullptr) {
    if (!captureSucceeded(graph->setState(GraphState::Paused))) std::printf("ERROR - Could not pause pControl\n");
    if (!captureSucceeded(graph->setState(GraphState::Stopped))) std::printf("ERROR - Could not stop pControl\n");
  }
  if (record.sourceFilter && graph != nullptr) graph->removeDownstream();

  releaseHeld(graph, record.nullRenderer, GraphObject::NullRenderer, "SETUP: freeing Renderer \n");
  releaseHeld(graph, record.sourceFilter, GraphObject::SourceFilter, "SETUP: freeing Capture Source \n");
  releaseHeld(graph, record.grabberFilter, GraphObject::GrabberFilter, "SETUP: freeing Grabber Filter  \n");
  releaseHeld(graph, record.grabber, GraphObject::Grabber, "SETUP: freeing Grabber  \n");
  releaseHeld(graph, record.mediaControl, GraphObject::MediaControl, "SETUP: freeing Control   \n");
  releaseHeld(graph, record.streamConfig, GraphObject::StreamConfig, "SETUP: freeing Stream  \n");
  if (record.mediaType) {
    std::printf("SETUP: freeing Media Type  \n");
    record.mediaType.reset();
  }

  if (record.graph && graph != nullptr) removeAllFilters(*graph);
  if (record.captureBuilder) {
    std::printf("SETUP: freeing Capture Graph \n");
    record.captureBuilder = false;
  }
  releaseHeld(graph, record.graph, GraphObject::FilterGraph, "SETUP: freeing Main Graph \n");
  // The builder and the graph are gone; whatever the backend still holds for this device goes with them.
  record.graphObjects.reset();
  std::printf("SETUP: Device %i disconnected and freed\n\n", record.deviceIndex);
}

void CaptureManager::closeDevice(int device) {
  if (device < 0 || device >= MAX_CAPTURE_DEVICES) return;
  releaseDevice(*devices[device]);
  devices[device] = std::make_unique<CaptureDevice>();
}

CaptureManager::~CaptureManager() {
  for (auto& record : devices) {
    releaseDevice(*record);
    record.reset();
  }
  // backendUse, the last member to go, then releases the backend.
}
