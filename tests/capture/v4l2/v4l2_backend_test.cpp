// The V4L2 backend without a camera: the subtype mapping, the device node walk and the no-device case.
#include <gtest/gtest.h>
#include <linux/videodev2.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "capture/capture_manager.h"
#include "capture/v4l2/pixel_conversion.h"
#include "capture/v4l2/v4l2_backend.h"
#include "tests/support/standard_output.h"

namespace capturetest {

using testsupport::stdoutOf;
namespace {

namespace fs = std::filesystem;

const std::string NO_DEVICE_LISTING = "\nCAPTURE SPY MODE!\n\nSETUP: 0 Device(s) found\n\n";
const std::string NO_DEVICE_OPEN =
    "SETUP: device[0] not found - you have 0 devices available\n"
    "SETUP: this means that the last device you can use is device[-1] \n";

MediaSubtype preference(const char* name) {
  for (const NamedSubtype& entry : SUBTYPE_PREFERENCE) {
    if (std::string(entry.name) == name) return entry.subtype;
  }
  ADD_FAILURE() << name;
  return {};
}

TEST(V4l2Formats, PreferenceSubtypesMapToKernelFormats) {
  struct Case {
    const char* subtype;
    std::uint32_t pixelFormat;
  };
  const std::vector<Case> cases = {
      {"RGB24", V4L2_PIX_FMT_BGR24}, {"RGB32", V4L2_PIX_FMT_BGR32}, {"RGB555", V4L2_PIX_FMT_RGB555},
      {"RGB565", V4L2_PIX_FMT_RGB565}, {"YUY2", V4L2_PIX_FMT_YUYV}, {"YVYU", V4L2_PIX_FMT_YVYU},
      {"YUYV", V4L2_PIX_FMT_YUYV},   {"IYUV", V4L2_PIX_FMT_YUV420}, {"UYVY", V4L2_PIX_FMT_UYVY},
      {"YV12", V4L2_PIX_FMT_YVU420}, {"Y800", V4L2_PIX_FMT_GREY},   {"Y8", V4L2_PIX_FMT_GREY},
      {"GREY", V4L2_PIX_FMT_GREY},
      // No convertible kernel format: asking for them is always refused.
      {"YVU9", 0}, {"Y411", 0}, {"Y41P", 0}, {"Y211", 0}, {"AYUV", 0},
  };
  ASSERT_EQ(cases.size(), SUBTYPE_PREFERENCE.size());
  for (const Case& row : cases) EXPECT_EQ(v4l2PixelFormat(preference(row.subtype)), row.pixelFormat) << row.subtype;
}

TEST(V4l2Formats, OtherSubtypesCarryTheirCodeWhenFramesCanBeConverted) {
  EXPECT_EQ(v4l2PixelFormat(SUBTYPE_MJPG), V4L2_PIX_FMT_MJPEG);
  EXPECT_EQ(v4l2PixelFormat(fourccSubtype(V4L2_PIX_FMT_NV12)), V4L2_PIX_FMT_NV12);
  EXPECT_EQ(v4l2PixelFormat(fourccSubtype(V4L2_PIX_FMT_H264)), 0u);
  EXPECT_EQ(v4l2PixelFormat(rgbSubtype(0xE436EB7F)), 0u);
  EXPECT_EQ(v4l2PixelFormat(fourccSubtype(0x20203859)), 0u);  // 'Y8  ' is not a kernel format
}

TEST(V4l2Formats, KernelFormatsReportTheirSubtypeAndMapBack) {
  struct Case {
    std::uint32_t pixelFormat;
    const char* name;
  };
  const std::vector<Case> cases = {
      {V4L2_PIX_FMT_BGR24, "RGB24"}, {V4L2_PIX_FMT_BGR32, "RGB32"},  {V4L2_PIX_FMT_RGB555, "RGB555"},
      {V4L2_PIX_FMT_RGB565, "RGB565"}, {V4L2_PIX_FMT_YUYV, "YUY2"},  {V4L2_PIX_FMT_YVYU, "YVYU"},
      {V4L2_PIX_FMT_UYVY, "UYVY"},   {V4L2_PIX_FMT_YUV420, "IYUV"}, {V4L2_PIX_FMT_YVU420, "YV12"},
      {V4L2_PIX_FMT_GREY, "GREY"},   {V4L2_PIX_FMT_MJPEG, "OTHER"}, {V4L2_PIX_FMT_NV12, "OTHER"},
      {V4L2_PIX_FMT_XBGR32, "OTHER"}, {V4L2_PIX_FMT_RGB24, "OTHER"},
  };
  for (const Case& row : cases) {
    const MediaSubtype subtype = subtypeForPixelFormat(row.pixelFormat);
    EXPECT_STREQ(subtypeName(subtype), row.name) << std::hex << row.pixelFormat;
    // A device listing this format can be asked for it again under the reported subtype.
    EXPECT_EQ(v4l2PixelFormat(subtype), row.pixelFormat) << std::hex << row.pixelFormat;
    EXPECT_TRUE(isConvertiblePixelFormat(row.pixelFormat));
  }
}

// A directory of its own under the system's temporary directory, removed at the end.
struct ScratchDirectory {
  ScratchDirectory() {
    std::string pattern = (fs::temp_directory_path() / "quarnel-v4l2-XXXXXX").string();
    path = mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
  }
  ~ScratchDirectory() {
    std::error_code ignored;
    if (!path.empty()) fs::remove_all(path, ignored);
  }
  std::string path;
};

TEST(V4l2Devices, NodesAreWalkedInNumericOrder) {
  ScratchDirectory scratch;
  ASSERT_FALSE(scratch.path.empty());
  for (const char* name : {"video10", "video2", "video0", "videoX", "video1a", "video", "media0", "vbi3"}) {
    std::ofstream(scratch.path + "/" + name) << "";
  }
  EXPECT_EQ(listVideoNodes(scratch.path), (std::vector<std::string>{scratch.path + "/video0", scratch.path + "/video2",
                                                                     scratch.path + "/video10"}));
  EXPECT_TRUE(listVideoNodes(scratch.path + "/missing").empty());
}

// Listing and opening device 0 on a backend, with the queries that follow.
void expectNoDevice(CaptureBackend& backend, const std::string& listing) {
  std::unique_ptr<CaptureManager> capture;
  stdoutOf([&] { capture = std::make_unique<CaptureManager>(backend); });
  EXPECT_EQ(stdoutOf([&] { EXPECT_EQ(capture->listDevices(false), 0); }), listing);
  EXPECT_EQ(stdoutOf([&] { EXPECT_FALSE(capture->openDevice(0)); }), NO_DEVICE_OPEN);
  EXPECT_EQ(stdoutOf([&] { EXPECT_FALSE(capture->openDevice(0, 640, 480)); }), NO_DEVICE_OPEN);
  EXPECT_EQ(capture->frameWidth(0), 0);
  EXPECT_EQ(capture->frameHeight(0), 0);
  EXPECT_FALSE(capture->hasNewFrame(0));
  std::vector<std::uint8_t> frame(640 * 480 * 3);
  EXPECT_FALSE(capture->copyFrame(0, frame.data(), false, true));
  EXPECT_EQ(stdoutOf([&] { capture.reset(); }), "");
}

TEST(V4l2Devices, NoVideoNodeMeansNoDevice) {
  ScratchDirectory scratch;
  ASSERT_FALSE(scratch.path.empty());
  // Neither plain files nor directories with a node's name are devices.
  std::ofstream(scratch.path + "/video0") << "not a device";
  fs::create_directory(scratch.path + "/video1");
  auto backend = makeV4l2Backend(scratch.path);
  expectNoDevice(*backend, NO_DEVICE_LISTING);
}

TEST(V4l2Devices, NodesThatAreNotCaptureDevicesOrCannotBeOpened) {
  ScratchDirectory scratch;
  ASSERT_FALSE(scratch.path.empty());
  // video0 answers no capture query (the null device); video1 names a driver that is not there (major 60 is
  // kept for local use and never given out).
  if (mknod((scratch.path + "/video0").c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0 ||
      mknod((scratch.path + "/video1").c_str(), S_IFCHR | 0666, makedev(60, 0)) != 0) {
    GTEST_SKIP() << "device nodes cannot be made here";
  }
  auto backend = makeV4l2Backend(scratch.path);
  // The node that cannot be opened is a device without readable names: walked, not counted.
  expectNoDevice(*backend, "\nCAPTURE SPY MODE!\n\nSETUP: Looking For Capture Devices\nSETUP: 0 Device(s) found\n\n");
}

TEST(V4l2Devices, ThisMachineWithoutCamera) {
  if (!listVideoNodes("/dev").empty()) GTEST_SKIP() << "this machine has video nodes";
  auto backend = makeV4l2Backend();
  expectNoDevice(*backend, NO_DEVICE_LISTING);
}

}  // namespace
}  // namespace capturetest
