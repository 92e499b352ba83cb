// The record of one device slot: the handles of its graph, its requests, its frame slot and its state.
#ifndef QUARNEL_CAPTURE_CAPTURE_DEVICE_H_
#define QUARNEL_CAPTURE_CAPTURE_DEVICE_H_

#include <cstdint>
#include <memory>
#include <optional>

#include "capture/capture_backend.h"
#include "capture/frame_slot.h"

constexpr int CAPTURE_NAME_SIZE = 255;

// States: fresh (deviceIndex -1, nothing held) -> set-up started -> ready. Closing replaces the record.
struct CaptureDevice {
  std::int32_t frameBytes = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::int32_t requestedWidth = 0;
  std::int32_t requestedHeight = 0;

  // The backend's graph for this device; present once its graph builder was made.
  std::unique_ptr<CaptureGraph> graphObjects;
  // Which handles the record holds; each is released once, in the teardown's order.
  bool captureBuilder = false;
  bool graph = false;
  bool mediaControl = false;
  bool sourceFilter = false;
  bool grabberFilter = false;
  bool nullRenderer = false;
  bool streamConfig = false;
  bool grabber = false;
  std::optional<VideoFormat> mediaType;  // format read from the stream at set-up

  std::unique_ptr<SampleGrabberCallback> callback = std::make_unique<SampleGrabberCallback>();

  bool tryRequestedSize = false;
  bool ready = false;
  bool setupStarted = false;
  std::int32_t deviceIndex = -1;
  std::int32_t requestedFrameTime = -1;  // 100 ns units, -1: none requested
  char nameNarrow[CAPTURE_NAME_SIZE] = {};
};

#endif  // QUARNEL_CAPTURE_CAPTURE_DEVICE_H_
