#include "tests/fakecam/camera_config.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "tests/fakecam/frame_source.h"

namespace {

constexpr std::uint32_t FAKECAM_MAX_SIDE = 4096;
constexpr std::uint32_t FAKECAM_MAX_FPS = 10000;
constexpr std::uint32_t FAKECAM_MAX_PADDING = 4096;

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::stringstream stream(text);
  std::string part;
  while (std::getline(stream, part, separator)) {
    if (!part.empty()) parts.push_back(part);
  }
  return parts;
}

bool parseNumber(const std::string& text, std::uint64_t max, std::uint64_t& value) {
  if (text.empty() || text.size() > 19) return false;
  std::uint64_t number = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    number = number * 10 + static_cast<std::uint64_t>(c - '0');
  }
  if (number > max) return false;
  value = number;
  return true;
}

const char* variable(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && value[0] != '\0' ? value : nullptr;
}

void reportBadValue(const char* name, const char* value) {
  std::fprintf(stderr, "quarnel fakecam: %s=%s cannot be read; using the default\n", name, value);
}

}  // namespace

bool parseFrameSize(const std::string& text, FrameSize& size) {
  const std::size_t cross = text.find('x');
  std::uint64_t width = 0;
  std::uint64_t height = 0;
  if (cross == std::string::npos || !parseNumber(text.substr(0, cross), FAKECAM_MAX_SIDE, width) ||
      !parseNumber(text.substr(cross + 1), FAKECAM_MAX_SIDE, height) || width == 0 || height == 0) {
    return false;
  }
  size = FrameSize{static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height)};
  return true;
}

bool parseFourcc(const std::string& text, std::uint32_t& pixelFormat) {
  if (text.empty() || text.size() > 4) return false;
  std::string padded = text;
  padded.resize(4, ' ');
  const std::uint32_t code = static_cast<std::uint32_t>(static_cast<unsigned char>(padded[0])) |
                             static_cast<std::uint32_t>(static_cast<unsigned char>(padded[1])) << 8 |
                             static_cast<std::uint32_t>(static_cast<unsigned char>(padded[2])) << 16 |
                             static_cast<std::uint32_t>(static_cast<unsigned char>(padded[3])) << 24;
  if (!isEmulatedFormat(code)) return false;
  pixelFormat = code;
  return true;
}

bool parseStepwise(const std::string& text, StepwiseSizes& sizes) {
  const std::string prefix = "stepwise:";
  if (text.compare(0, prefix.size(), prefix) != 0) return false;
  const std::string rest = text.substr(prefix.size());
  const std::size_t dash = rest.find('-');
  const std::size_t slash = rest.find('/');
  if (dash == std::string::npos || slash == std::string::npos || slash < dash) return false;
  StepwiseSizes parsed;
  if (!parseFrameSize(rest.substr(0, dash), parsed.min) ||
      !parseFrameSize(rest.substr(dash + 1, slash - dash - 1), parsed.max) ||
      !parseFrameSize(rest.substr(slash + 1), parsed.step)) {
    return false;
  }
  if (parsed.min.width > parsed.max.width || parsed.min.height > parsed.max.height) return false;
  sizes = parsed;
  return true;
}

bool parseUnplug(const std::string& text, std::uint64_t& afterFrames, std::uint32_t& downMs) {
  const std::size_t colon = text.find(':');
  std::uint64_t frames = 0;
  std::uint64_t milliseconds = 0;
  if (colon == std::string::npos || !parseNumber(text.substr(0, colon), UINT32_MAX, frames) ||
      !parseNumber(text.substr(colon + 1), 3600000, milliseconds) || frames == 0) {
    return false;
  }
  afterFrames = frames;
  downMs = static_cast<std::uint32_t>(milliseconds);
  return true;
}

CameraConfig readCameraConfig() {
  CameraConfig config;
  if (const char* value = variable("QUARNEL_FAKECAM_PICTURES")) config.picturePaths = split(value, ':');

  std::uint64_t number = 0;
  if (const char* value = variable("QUARNEL_FAKECAM_REPEAT")) {
    if (parseNumber(value, UINT32_MAX, number) && number > 0) {
      config.repeat = static_cast<std::uint32_t>(number);
    } else {
      reportBadValue("QUARNEL_FAKECAM_REPEAT", value);
    }
  }

  if (const char* value = variable("QUARNEL_FAKECAM_FORMAT")) {
    for (const std::string& code : split(value, ',')) {
      std::uint32_t pixelFormat = 0;
      if (parseFourcc(code, pixelFormat)) {
        config.pixelFormats.push_back(pixelFormat);
      } else {
        reportBadValue("QUARNEL_FAKECAM_FORMAT", code.c_str());
      }
    }
  }
  if (config.pixelFormats.empty()) parseFourcc("YUYV", config.pixelFormats.emplace_back());

  if (const char* value = variable("QUARNEL_FAKECAM_SIZE")) {
    if (!parseFrameSize(value, config.defaultSize)) reportBadValue("QUARNEL_FAKECAM_SIZE", value);
  }
  config.discreteSizes = {config.defaultSize, {320, 240}, {640, 480}, {1280, 720}};
  if (const char* value = variable("QUARNEL_FAKECAM_SIZES")) {
    if (parseStepwise(value, config.stepwiseSizes)) {
      config.stepwise = true;
    } else {
      std::vector<FrameSize> sizes = {config.defaultSize};
      bool readable = true;
      for (const std::string& text : split(value, ',')) readable = parseFrameSize(text, sizes.emplace_back()) && readable;
      if (readable) {
        config.discreteSizes = sizes;
      } else {
        reportBadValue("QUARNEL_FAKECAM_SIZES", value);
      }
    }
  }
  // One size once: the default may also be listed.
  std::vector<FrameSize> unique;
  for (const FrameSize& size : config.discreteSizes) {
    bool seen = false;
    for (const FrameSize& kept : unique) seen = seen || (kept.width == size.width && kept.height == size.height);
    if (!seen) unique.push_back(size);
  }
  config.discreteSizes = unique;

  if (const char* value = variable("QUARNEL_FAKECAM_FPS")) {
    if (parseNumber(value, FAKECAM_MAX_FPS, number) && number > 0) {
      config.defaultFps = static_cast<std::uint32_t>(number);
    } else {
      reportBadValue("QUARNEL_FAKECAM_FPS", value);
    }
  }
  config.offeredFps = {config.defaultFps};
  for (std::uint32_t fps : {30u, 15u, 5u}) {
    if (fps != config.defaultFps) config.offeredFps.push_back(fps);
  }

  if (const char* value = variable("QUARNEL_FAKECAM_PADDING")) {
    if (parseNumber(value, FAKECAM_MAX_PADDING, number)) {
      config.rowPadding = static_cast<std::uint32_t>(number);
    } else {
      reportBadValue("QUARNEL_FAKECAM_PADDING", value);
    }
  }

  if (const char* value = variable("QUARNEL_FAKECAM_UNPLUG")) {
    if (!parseUnplug(value, config.unplugAfterFrames, config.unplugDownMs)) {
      reportBadValue("QUARNEL_FAKECAM_UNPLUG", value);
    }
  }
  return config;
}
