// Test-only: the emulated camera's settings, read from its environment variables (see fake_camera.h).
#ifndef QUARNEL_TESTS_FAKECAM_CAMERA_CONFIG_H_
#define QUARNEL_TESTS_FAKECAM_CAMERA_CONFIG_H_

#include <cstdint>
#include <string>
#include <vector>

struct FrameSize {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
};

struct StepwiseSizes {
  FrameSize min;
  FrameSize max;
  FrameSize step;
};

struct CameraConfig {
  std::vector<std::string> picturePaths;
  std::uint32_t repeat = 30;
  std::vector<std::uint32_t> pixelFormats;  // offered; the first is the default
  FrameSize defaultSize{640, 480};
  bool stepwise = false;
  std::vector<FrameSize> discreteSizes;     // offered when not stepwise; the default size first
  StepwiseSizes stepwiseSizes;
  std::uint32_t defaultFps = 30;
  std::vector<std::uint32_t> offeredFps;    // the default first
  std::uint32_t rowPadding = 0;
  std::uint64_t unplugAfterFrames = 0;      // 0: never
  std::uint32_t unplugDownMs = 0;
};

// The settings from the environment; a value that cannot be read is reported on standard error and the
// default used instead, so a mistyped variable is seen rather than silently ignored.
CameraConfig readCameraConfig();

// Parsers of the single values, for the settings above and their tests; false when text is not one.
bool parseFrameSize(const std::string& text, FrameSize& size);
bool parseFourcc(const std::string& text, std::uint32_t& pixelFormat);
bool parseStepwise(const std::string& text, StepwiseSizes& sizes);
bool parseUnplug(const std::string& text, std::uint64_t& afterFrames, std::uint32_t& downMs);

#endif  // QUARNEL_TESTS_FAKECAM_CAMERA_CONFIG_H_
