// Test-only capture backend: one camera whose frame size, presence and frames the test scripts. Frames
// go to the frame slot synchronously, on the test's own thread.
#ifndef QUARNEL_TESTS_APP_SCRIPTED_CAMERA_H_
#define QUARNEL_TESTS_APP_SCRIPTED_CAMERA_H_

#include <cstdint>
#include <memory>
#include <vector>

#include <opencv2/core.hpp>

#include "capture/capture_backend.h"

class ScriptedCamera : public CaptureBackend {
 public:
  ScriptedCamera(int width, int height) : width(width), height(height) {}

  CaptureResult start() override { return CAPTURE_OK; }
  void stop() override {}
  CaptureResult enumerateDevices(std::vector<DeviceEntry>& devices) override;
  CaptureResult createCaptureBuilder(std::unique_ptr<CaptureGraph>& graph) override;

  // Hands a top-down B, G, R frame to the running graph, bottom row first as a camera sample comes.
  // False when no graph runs.
  bool deliver(const cv::Mat& bgr);

  int width;                // the default format's size
  int height;
  std::int64_t frameTime = 333333;  // the default format's frame time: 30 frames a second
  std::vector<cv::Size> otherSizes;  // sizes the camera also accepts when asked for them
  bool present = true;      // false: no device is listed and none can be opened
  int failingOpens = 0;     // the next this many opens fail to find the device
  int graphsStarted = 0;    // opens that reached a running graph
  int graphsStopped = 0;
  std::vector<VideoFormat> formatsSet;  // every format the camera accepted, in order

  // Set by the graph: the running graph's frame callback, or null.
  SampleGrabberCallback* callback = nullptr;
  bool running = false;
};

#endif  // QUARNEL_TESTS_APP_SCRIPTED_CAMERA_H_
