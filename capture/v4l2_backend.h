// The Linux capture backend on V4L2: video capture nodes as devices, memory-mapped streaming on a thread
// of its own, every frame converted to packed 24-bit BGR, bottom row first.
#ifndef QUARNEL_CAPTURE_V4L2_BACKEND_H_
#define QUARNEL_CAPTURE_V4L2_BACKEND_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "capture_backend.h"
#include "media_subtype.h"

// A backend over the video<N> nodes of deviceDirectory, in numeric order.
std::unique_ptr<CaptureBackend> makeV4l2Backend(const std::string& deviceDirectory = "/dev");

// The video<N> entries of directory (N all digits), as full paths sorted by N; empty when unreadable.
std::vector<std::string> listVideoNodes(const std::string& directory);

// The V4L2 pixel format a subtype asks for, 0 when it has none that frames can be converted from.
std::uint32_t v4l2PixelFormat(const MediaSubtype& subtype);
// The subtype a V4L2 pixel format is reported as: the preference list's own entry where one exists,
// otherwise the four-character-code subtype of the format.
MediaSubtype subtypeForPixelFormat(std::uint32_t pixelFormat);

#endif  // QUARNEL_CAPTURE_V4L2_BACKEND_H_
