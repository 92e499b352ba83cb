// Opening a device: bind its source, settle the format, hook the frame slot, wire and run the graph.
#include <cstdio>

#include "capture/capture_device.h"
#include "capture/capture_manager.h"
#include "capture/format_negotiation.h"

bool CaptureManager::openDevice(int device) {
  if (device < 0 || device >= MAX_CAPTURE_DEVICES || devices[device]->ready) return false;
  return startDevice(device);
}

bool CaptureManager::openDevice(int device, int width, int height) {
  if (device < 0 || device >= MAX_CAPTURE_DEVICES || devices[device]->ready) return false;
  CaptureDevice& record = *devices[device];
  record.requestedWidth = width;
  record.requestedHeight = height;
  record.tryRequestedSize = true;
  return startDevice(device);
}

bool CaptureManager::startDevice(int device) {
  deviceCount = countDevices();
  if (device > deviceCount - 1) {
    std::printf("SETUP: device[%i] not found - you have %i devices available\n", device, deviceCount);
    std::printf("SETUP: this means that the last device you can use is device[%i] \n", deviceCount - 1);
    return false;
  }
  return captureSucceeded(buildGraph(device));
}

CaptureResult CaptureManager::abandonSetup(int device, CaptureResult result, const char* message) {
  std::fputs(message, stdout);
  closeDevice(device);
  return result;
}

CaptureResult CaptureManager::buildGraph(int device) {
  CaptureDevice& record = *devices[device];
  record.deviceIndex = device;
  record.setupStarted = true;
  captureCategory = PinCategory::Capture;
  std::printf("SETUP: Setting up device %i\n", device);

  CaptureResult result = backend.createCaptureBuilder(record.graphObjects);
  if (!captureSucceeded(result) || !record.graphObjects) {
    // The record keeps its requests: a later open tries again on it.
    record.graphObjects.reset();
    std::printf("ERROR - Could not create the Filter Graph Manager\n");
    return captureSucceeded(result) ? CAPTURE_FAIL : result;
  }
  record.captureBuilder = true;
  CaptureGraph& graph = *record.graphObjects;

  if (!captureSucceeded(result = graph.acquire(GraphObject::FilterGraph))) {
    return abandonSetup(device, result, "ERROR - Could not add the graph builder!\n");
  }
  record.graph = true;
  if (!captureSucceeded(result = graph.setFiltergraph())) {
    return abandonSetup(device, result, "ERROR - Could not set filtergraph\n");
  }
  if (!captureSucceeded(result = graph.acquire(GraphObject::MediaControl))) {
    return abandonSetup(device, result, "ERROR - Could not create the Media Control object\n");
  }
  record.mediaControl = true;
  if (!captureSucceeded(result = findDeviceFilter(device, record))) {
    return abandonSetup(device, result, "ERROR - Could not find specified video device\n");
  }

  std::printf("SETUP: %s\n", record.nameNarrow);
  graph.addFilter(GraphObject::SourceFilter, record.nameNarrow);

  if (captureSucceeded(graph.findStreamConfig(PinCategory::Preview))) {
    captureCategory = PinCategory::Preview;
    graph.release(GraphObject::StreamConfig);
  } else {
    std::printf("SETUP: Couldn't find preview pin using SmartTee\n");
  }
  if (!captureSucceeded(result = graph.findStreamConfig(captureCategory))) {
    return abandonSetup(device, result, "ERROR: Couldn't config the stream!\n");
  }
  record.streamConfig = true;
  VideoFormat current;
  if (!captureSucceeded(result = graph.getFormat(current))) {
    return abandonSetup(device, result, "ERROR: Couldn't getFormat for pAmMediaType!\n");
  }
  record.mediaType = current;

  const SizeChoice chosen = chooseCaptureFormat(graph, record);
  allocateFrameBuffer(record, chosen.width, chosen.height);

  if (!captureSucceeded(result = graph.acquire(GraphObject::GrabberFilter))) {
    return abandonSetup(device, result, "Could not Create Sample Grabber - CoCreateInstance()\n");
  }
  record.grabberFilter = true;
  if (!captureSucceeded(result = graph.addFilter(GraphObject::GrabberFilter, "Sample Grabber"))) {
    return abandonSetup(device, result, "Could not add Sample Grabber - AddFilter()\n");
  }
  if (!captureSucceeded(result = graph.acquire(GraphObject::Grabber))) {
    return abandonSetup(device, result, "ERROR: Could not query SampleGrabber\n");
  }
  record.grabber = true;
  if (!captureSucceeded(result = graph.setCallback(record.callback.get()))) {
    return abandonSetup(device, result, "ERROR: problem setting callback\n");
  }
  std::printf("SETUP: Capture callback set\n");

  graph.release(GraphObject::StreamConfig);
  record.streamConfig = false;

  if (!captureSucceeded(result = graph.acquire(GraphObject::NullRenderer))) {
    return abandonSetup(device, result, "ERROR: Could not create filter - NullRenderer\n");
  }
  record.nullRenderer = true;
  if (!captureSucceeded(result = graph.addFilter(GraphObject::NullRenderer, "NullRenderer"))) {
    return abandonSetup(device, result, "ERROR: Could not add filter - NullRenderer\n");
  }
  if (!captureSucceeded(result = graph.renderStream())) {
    return abandonSetup(device, result, "ERROR: Could not connect pins - RenderStream()\n");
  }
  if (!captureSucceeded(graph.disableClock())) {
    std::printf("ERROR: Could not get IID_IMediaFilter interface\n");
  }
  if (!captureSucceeded(result = graph.setState(GraphState::Running))) {
    return abandonSetup(device, result, "ERROR: Could not start graph\n");
  }

  std::printf("SETUP: Device is setup and ready to capture.\n\n");
  record.ready = true;
  // The graph keeps its own references to the filters.
  graph.release(GraphObject::SourceFilter);
  record.sourceFilter = false;
  graph.release(GraphObject::GrabberFilter);
  record.grabberFilter = false;
  graph.release(GraphObject::NullRenderer);
  record.nullRenderer = false;
  return CAPTURE_OK;
}
