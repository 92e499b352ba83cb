// The camera listing of quarnel --list-cameras and the lookup of a camera by its node.
#include "capture/camera_listing.h"

#include <climits>
#include <cstdlib>
#include <memory>

#include "capture/backend_use.h"

namespace {

// The short name of a stream format: the preference list's name, else the four-character code.
std::string formatName(const MediaSubtype& subtype) {
  const std::string listed = subtypeName(subtype);
  if (listed != "OTHER" || !isFourccSubtype(subtype)) return listed;
  std::string code;
  for (int shift = 0; shift < 32; shift += 8) {
    const char letter = static_cast<char>((subtype.data1 >> shift) & 0xFF);
    if (letter > ' ' && letter < 0x7F) code += letter;
  }
  return code;
}

std::string sizeText(const StreamCaps& caps) {
  const std::string smallest = std::to_string(caps.minWidth) + "x" + std::to_string(caps.minHeight);
  if (caps.minWidth == caps.maxWidth && caps.minHeight == caps.maxHeight) return smallest;
  return smallest + "-" + std::to_string(caps.maxWidth) + "x" + std::to_string(caps.maxHeight) + " step " +
         std::to_string(caps.stepX) + "x" + std::to_string(caps.stepY);
}

// Binds a graph of its own to the device and reads its capability list, grouped by format in the
// order the device lists them. False when the device cannot be bound.
bool readFormats(CaptureBackend& backend, const DeviceEntry& device, std::vector<CameraFormatSizes>& formats) {
  std::unique_ptr<CaptureGraph> graph;
  if (!captureSucceeded(backend.createCaptureBuilder(graph)) || !graph) return false;
  if (!captureSucceeded(graph->bindSource(device))) return false;
  std::int32_t count = 0;
  std::int32_t recordBytes = 0;
  const bool listed = captureSucceeded(graph->findStreamConfig(PinCategory::Capture)) &&
                      captureSucceeded(graph->capabilityCount(count, recordBytes));
  for (std::int32_t index = 0; listed && index < count; ++index) {
    StreamCaps caps;
    if (!captureSucceeded(graph->streamCaps(index, caps))) continue;
    const std::string name = formatName(caps.subtype);
    if (formats.empty() || formats.back().format != name) formats.push_back(CameraFormatSizes{name, {}});
    formats.back().sizes.push_back(sizeText(caps));
  }
  graph->release(GraphObject::StreamConfig);
  graph->release(GraphObject::SourceFilter);
  return true;
}

// The node a path names after following every symbolic link; the path itself when it cannot be
// resolved (the device is gone, or the backend's keys are not paths).
std::string resolvedNode(const std::string& path) {
  char resolved[PATH_MAX];
  return realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : path;
}

}  // namespace

std::vector<CameraListing> listCameras(CaptureBackend& backend) {
  std::vector<CameraListing> cameras;
  const BackendUse use(backend);
  std::vector<DeviceEntry> devices;
  if (backend.enumerateDevices(devices) == CAPTURE_OK) {
    for (std::size_t index = 0; index < devices.size(); ++index) {
      const DeviceEntry& device = devices[index];
      CameraListing camera;
      camera.index = static_cast<int>(index);
      camera.path = device.moniker;
      if (device.propertyBagOpens) {
        const std::optional<std::string>& name = device.friendlyName ? device.friendlyName : device.description;
        camera.name = name.value_or("");
        camera.opens = readFormats(backend, device, camera.formats);
      }
      cameras.push_back(std::move(camera));
    }
  }
  return cameras;
}

std::string formatCameraListing(const std::vector<CameraListing>& cameras) {
  if (cameras.empty()) return "No camera found.\n";
  std::string text;
  for (const CameraListing& camera : cameras) {
    if (!text.empty()) text += '\n';
    text += std::to_string(camera.index) + ": " + camera.path + "\n";
    if (!camera.name.empty()) text += "   name: " + camera.name + "\n";
    if (!camera.opens) {
      text += "   cannot be opened (no permission, or in use in a way that bars others)\n";
      continue;
    }
    if (camera.formats.empty()) text += "   formats: none that can be used\n";
    for (const CameraFormatSizes& format : camera.formats) {
      text += "   " + format.format + ":";
      for (const std::string& size : format.sizes) text += " " + size;
      text += "\n";
    }
  }
  return text;
}

int findCameraIndex(CaptureBackend& backend, const std::string& path) {
  const BackendUse use(backend);
  std::vector<DeviceEntry> devices;
  int found = -1;
  if (backend.enumerateDevices(devices) == CAPTURE_OK) {
    const std::string wanted = resolvedNode(path);
    for (std::size_t index = 0; index < devices.size() && found < 0; ++index) {
      if (resolvedNode(devices[index].moniker) == wanted) found = static_cast<int>(index);
    }
  }
  return found;
}
