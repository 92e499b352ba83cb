// The Linux capture backend on the kernel's video capture interface (V4L2).
#ifndef QUARNEL_CAPTURE_V4L2_V4L2_BACKEND_H_
#define QUARNEL_CAPTURE_V4L2_V4L2_BACKEND_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "capture/capture_backend.h"
#include "capture/media_subtype.h"

// Devices are the video<N> character nodes of deviceDirectory, in numeric order, that offer video
// capture; a node that cannot be opened is listed as a device whose names cannot be read.
std::unique_ptr<CaptureBackend> makeV4l2Backend(const std::string& deviceDirectory = "/dev");

// Paths of the entries named video<N> in directory, in increasing N.
std::vector<std::string> listVideoNodes(const std::string& directory);

// V4L2 pixel format asked for a subtype: the preference list's entries map to their kernel formats (0
// where frames of it cannot be converted); any other four-character-code subtype names the kernel
// format of the same code when frames of it can be converted (MJPG, NV12), 0 otherwise.
std::uint32_t v4l2PixelFormat(const MediaSubtype& subtype);

// Subtype reported for a V4L2 pixel format: the preference entry of the blue-first RGB formats, YUY2
// for YUYV, IYUV for YUV420; otherwise the four-character-code subtype of the format's own code.
MediaSubtype subtypeForPixelFormat(std::uint32_t pixelFormat);

#endif  // QUARNEL_CAPTURE_V4L2_V4L2_BACKEND_H_
