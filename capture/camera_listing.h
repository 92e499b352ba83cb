// The cameras as a user picks among them: every device of the backend's enumeration with its index,
// node, name, and the formats and frame sizes it offers; and the index of a device given by its node.
#ifndef QUARNEL_CAPTURE_CAMERA_LISTING_H_
#define QUARNEL_CAPTURE_CAMERA_LISTING_H_

#include <string>
#include <vector>

#include "capture/capture_backend.h"

// One format of a camera and its frame sizes: "640x480" for a fixed size, "160x120-1920x1080 step 8x8"
// for a range.
struct CameraFormatSizes {
  std::string format;
  std::vector<std::string> sizes;
};

struct CameraListing {
  int index = 0;              // the index openDevice and --camera take
  std::string path;           // the backend's key for the device: the node's path
  std::string name;           // friendly name, or description; empty when unreadable
  bool opens = false;         // false: the device could not be opened to read its names or formats
  std::vector<CameraFormatSizes> formats;  // only formats whose frames the capture can convert
};

// Lists the devices through the backend alone (no manager, no diagnostics on standard output):
// enumeration, then for each device a graph of its own whose source is bound to read its capability
// list. The backend is started and stopped around the listing.
std::vector<CameraListing> listCameras(CaptureBackend& backend);

// The listing as text, one block per camera; a line saying so when there is none.
std::string formatCameraListing(const std::vector<CameraListing>& cameras);

// The enumeration index of the device whose key names the same node as path (symbolic links such as
// /dev/v4l/by-id names are followed), or -1 when no device has it.
int findCameraIndex(CaptureBackend& backend, const std::string& path);

#endif  // QUARNEL_CAPTURE_CAMERA_LISTING_H_
