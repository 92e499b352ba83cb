// The Linux capture backend on the kernel's video capture interface (V4L2).
#ifndef QUARNEL_CAPTURE_V4L2_BACKEND_H_
#define QUARNEL_CAPTURE_V4L2_BACKEND_H_

#include <cstdint>
#include <memory>
#include <string>

#include "capture/capture_backend.h"
#include "capture/media_subtype.h"

// Devices are the video<N> nodes of deviceDirectory, in numeric order, that offer video capture.
std::unique_ptr<CaptureBackend> makeV4l2Backend(const std::string& deviceDirectory = "/dev");

// V4L2 pixel format of a subtype: the preference list's entries map to their kernel formats (0 where
// the kernel has none); any other four-character-code subtype carries its code unchanged.
std::uint32_t v4l2PixelFormatForSubtype(const MediaSubtype& subtype);

// Subtype reported for a V4L2 pixel format: the first preference entry mapping to it, otherwise the
// four-character-code subtype of the format's own code.
MediaSubtype subtypeForV4l2PixelFormat(std::uint32_t pixelFormat);

#endif  // QUARNEL_CAPTURE_V4L2_BACKEND_H_
