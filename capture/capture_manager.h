// The capture component: 20 device slots behind index-based operations. Opens a device through its
// backend (default format, or a requested size), hands frames over through a single-slot buffer per
// device and dismantles the device on close. Progress and failures are lines on standard output.
#ifndef QUARNEL_CAPTURE_CAPTURE_MANAGER_H_
#define QUARNEL_CAPTURE_CAPTURE_MANAGER_H_

#include <array>
#include <cstdint>
#include <memory>

#include "capture/backend_use.h"
#include "capture/capture_backend.h"
#include "capture/media_subtype.h"

constexpr int MAX_CAPTURE_DEVICES = 20;
constexpr double CAPTURE_LIBRARY_VERSION = 0.1995;

struct CaptureDevice;

// Every operation runs on the thread that constructed the manager; only the backend's streaming
// thread enters it besides, through each device's frame slot. Device indexes outside 0 .. 19 are
// refused.
class CaptureManager {
 public:
  // Starts the backend (counted, see comUseCount) and prints the banner. The backend must outlive
  // the manager.
  explicit CaptureManager(CaptureBackend& backend);
  // Closes all 20 slots, then releases the backend.
  ~CaptureManager();
  CaptureManager(const CaptureManager&) = delete;
  CaptureManager& operator=(const CaptureManager&) = delete;

  // Prints the device list unless quiet; answers the number of devices whose property bag opens.
  // Needs no manager: it starts and stops the backend around the listing itself.
  static int listDevices(CaptureBackend& backend, bool quiet);
  int listDevices(bool quiet);

  // Frame rate asked of the device at its next open; ignored on a ready device and for fps <= 0.
  void setRequestedFrameRate(int device, int fps);

  // Open at the default format, or try width x height first. False when the device is already ready.
  bool openDevice(int device);
  bool openDevice(int device, int width, int height);

  // Frame size of a ready device, 0 otherwise.
  int frameWidth(int device) const;
  int frameHeight(int device) const;

  // Whether a frame waits; never waits itself and does not take the frame.
  bool hasNewFrame(int device);
  // Takes the waiting frame (width x height x 3 bytes, B, G, R, bottom row first unless flipVertical),
  // waiting at most 1000 ms for one. destination must hold frameWidth x frameHeight x 3 bytes, read
  // again after every reopen.
  bool copyFrame(int device, std::uint8_t* destination, bool swapRedBlue, bool flipVertical);

  // Stops and dismantles the device and leaves a fresh record in its slot.
  void closeDevice(int device);

  // Read-only view of a slot's record, for diagnostics; device must be in 0 .. 19.
  const CaptureDevice& deviceRecord(int device) const;

  // The backend the manager runs on, for lookups that need no device slot.
  CaptureBackend& captureBackend() const { return backend; }

 private:
  int countDevices();
  CaptureResult findDeviceFilter(int device, CaptureDevice& record);
  bool startDevice(int device);
  CaptureResult buildGraph(int device);
  CaptureResult abandonSetup(int device, CaptureResult result, const char* message);
  void releaseDevice(CaptureDevice& record);
  bool isReadyDevice(int device) const;

  CaptureBackend& backend;
  BackendUse backendUse;  // declared before devices, so it goes after every slot is closed
  int deviceCount = 0;
  PinCategory captureCategory = PinCategory::Capture;
  std::array<std::unique_ptr<CaptureDevice>, MAX_CAPTURE_DEVICES> devices;
};

// Users of backend started by this component and not yet stopped: managers alive and listings running.
int comUseCount(const CaptureBackend& backend);

// The pixel copy of copyFrame over width x height packed 3-byte pixels: rows reversed with
// flipVertical, bytes 0 and 2 of each pixel exchanged with swapRedBlue. Nothing for empty sizes.
void copyPixels(const std::uint8_t* source, std::uint8_t* destination, int width, int height, bool swapRedBlue,
                bool flipVertical);

#endif  // QUARNEL_CAPTURE_CAPTURE_MANAGER_H_
