// The capture component's objects: counted backend start-up, the device list, device binding and the
// simple per-device queries.
#include "capture/capture_manager.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "capture/backend_use.h"
#include "capture/capture_device.h"

namespace {

// Listing shows at most this many bytes of a name; binding keeps one more.
constexpr size_t CAPTURE_LISTED_NAME_BYTES = 253;
constexpr size_t CAPTURE_BOUND_NAME_BYTES = CAPTURE_NAME_SIZE - 1;

// The first maxBytes bytes of a UTF-8 name, cut back to a whole character.
std::string shortenedName(const std::string& name, size_t maxBytes) {
  if (name.size() <= maxBytes) return name;
  size_t end = maxBytes;
  while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80) --end;
  return name.substr(0, end);
}

// The name a listing shows: the friendly name when the device has one, its description otherwise.
const std::optional<std::string>& listedName(const DeviceEntry& device) {
  return device.friendlyName ? device.friendlyName : device.description;
}

}  // namespace

void comAcquire(CaptureBackend& backend) {
  if (backend.useCount == 0 && backend.start() == CAPTURE_CHANGED_MODE) {
    std::printf("SETUP - COM already setup - threaded VI might not be possible\n");
  }
  ++backend.useCount;
}

// Stops the backend only on the release that ends the last use, so an unbalanced release never stops
// a backend that is not running.
void comRelease(CaptureBackend& backend) {
  if (backend.useCount <= 0) return;
  if (--backend.useCount == 0) backend.stop();
}

int comUseCount(const CaptureBackend& backend) { return backend.useCount; }

CaptureManager::CaptureManager(CaptureBackend& backend) : backend(backend), backendUse(backend) {
  for (auto& record : devices) record = std::make_unique<CaptureDevice>();
  std::printf("\n***** CAPTURE LIBRARY - %2.04f - QAVIM *****\n\n", CAPTURE_LIBRARY_VERSION);
}

int CaptureManager::listDevices(CaptureBackend& backend, bool quiet) {
  const BackendUse use(backend);
  if (!quiet) std::printf("\nCAPTURE SPY MODE!\n\n");
  int listed = 0;
  std::vector<DeviceEntry> entries;
  const CaptureResult found = backend.enumerateDevices(entries);
  if (captureSucceeded(found)) {
    if (found != CAPTURE_OK) {
      if (!quiet) std::printf("SETUP: %i Device(s) found\n\n", 0);
    } else {
      if (!quiet) std::printf("SETUP: Looking For Capture Devices\n");
      for (const DeviceEntry& device : entries) {
        if (!device.propertyBagOpens) continue;
        const std::optional<std::string>& name = listedName(device);
        if (name && !quiet) {
          std::printf("SETUP: %i) %s \n", listed, shortenedName(*name, CAPTURE_LISTED_NAME_BYTES).c_str());
        }
        ++listed;
      }
      if (!quiet) std::printf("SETUP: %i Device(s) found\n\n", listed);
    }
  }
  return listed;
}

int CaptureManager::listDevices(bool quiet) { return listDevices(backend, quiet); }

int CaptureManager::countDevices() {
  std::vector<DeviceEntry> entries;
  if (backend.enumerateDevices(entries) != CAPTURE_OK) return 0;
  int counted = 0;
  for (const DeviceEntry& device : entries) counted += device.propertyBagOpens ? 1 : 0;
  return counted;
}

CaptureResult CaptureManager::findDeviceFilter(int device, CaptureDevice& record) {
  std::vector<DeviceEntry> entries;
  const CaptureResult listed = backend.enumerateDevices(entries);
  if (!captureSucceeded(listed)) return listed;
  if (listed != CAPTURE_OK) return CAPTURE_NOT_FOUND;
  // The index counts every device, also those whose property bag does not open.
  if (device < 0 || static_cast<size_t>(device) >= entries.size()) return CAPTURE_NOT_FOUND;
  const DeviceEntry& entry = entries[static_cast<size_t>(device)];
  if (!entry.propertyBagOpens || !entry.friendlyName) return CAPTURE_NOT_FOUND;

  const std::string name = shortenedName(*entry.friendlyName, CAPTURE_BOUND_NAME_BYTES);
  std::fill(std::begin(record.nameNarrow), std::end(record.nameNarrow), '\0');
  name.copy(record.nameNarrow, CAPTURE_BOUND_NAME_BYTES);
  const CaptureResult bound = record.graphObjects->bindSource(entry);
  record.sourceFilter = captureSucceeded(bound);
  return bound;
}

void CaptureManager::setRequestedFrameRate(int device, int fps) {
  if (device < 0 || device >= MAX_CAPTURE_DEVICES) return;
  CaptureDevice& record = *devices[device];
  if (record.ready || fps <= 0) return;
  record.requestedFrameTime = 10000000 / fps;
}

bool CaptureManager::isReadyDevice(int device) const {
  return device >= 0 && device < MAX_CAPTURE_DEVICES && device < deviceCount && devices[device]->ready;
}

int CaptureManager::frameWidth(int device) const { return isReadyDevice(device) ? devices[device]->width : 0; }

int CaptureManager::frameHeight(int device) const { return isReadyDevice(device) ? devices[device]->height : 0; }

const CaptureDevice& CaptureManager::deviceRecord(int device) const { return *devices.at(device); }
