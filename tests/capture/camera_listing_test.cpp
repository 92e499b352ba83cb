// The camera listing and the lookup of a camera by its node, on the scripted backend.
#include "capture/camera_listing.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "tests/capture/scripted_backend.h"
#include "tests/support/standard_output.h"

namespace capturetest {

using testsupport::stdoutOf;
namespace {

namespace fs = std::filesystem;

StreamCaps fixedSize(int width, int height, const MediaSubtype& subtype) {
  StreamCaps caps;
  caps.minWidth = caps.maxWidth = width;
  caps.minHeight = caps.maxHeight = height;
  caps.subtype = subtype;
  return caps;
}

TEST(CameraListing, EveryCameraIsABlockWithItsIndexNodeNameFormatsAndSizes) {
  ScriptedBackend backend;
  ScriptedDevice first = namedDevice("Integrated Camera");
  first.entry.moniker = "/dev/video0";
  const MediaSubtype yuy2 = SUBTYPE_PREFERENCE[4].subtype;
  StreamCaps range = fixedSize(160, 120, yuy2);
  range.maxWidth = 1920;
  range.maxHeight = 1080;
  range.stepX = 8;
  range.stepY = 2;
  first.caps = {fixedSize(640, 480, yuy2), fixedSize(1280, 720, yuy2), fixedSize(640, 480, SUBTYPE_MJPG),
                fixedSize(320, 240, SUBTYPE_RGB24), range};
  first.failingCaps = {3};  // a record that cannot be read is left out
  ScriptedDevice locked;    // listed, but its names cannot be read
  locked.entry.moniker = "/dev/video1";
  ScriptedDevice described;  // a description and no friendly name; no usable format
  described.entry.moniker = "/dev/video2";
  described.entry.propertyBagOpens = true;
  described.entry.description = "Capture card";
  backend.devices = {first, locked, described};

  std::vector<CameraListing> cameras;
  const std::string printed = stdoutOf([&] { cameras = listCameras(backend); });
  EXPECT_EQ(printed, "") << "the listing prints no capture diagnostics";
  EXPECT_EQ(formatCameraListing(cameras),
            "0: /dev/video0\n"
            "   name: Integrated Camera\n"
            "   YUY2: 640x480 1280x720\n"
            "   MJPG: 640x480\n"
            "   YUY2: 160x120-1920x1080 step 8x2\n"
            "\n"
            "1: /dev/video1\n"
            "   cannot be opened (no permission, or in use in a way that bars others)\n"
            "\n"
            "2: /dev/video2\n"
            "   name: Capture card\n"
            "   formats: none that can be used\n");
  EXPECT_EQ(backend.useCount, 0);
  EXPECT_EQ(backend.starts, backend.stops);
  EXPECT_TRUE(backend.graphs.empty()) << "every graph made for the listing is gone";
}

TEST(CameraListing, NoCameraOrAFailingEnumerationSaysSo) {
  ScriptedBackend none;
  EXPECT_EQ(formatCameraListing(listCameras(none)), "No camera found.\n");
  ScriptedBackend failing;
  failing.devices = {namedDevice("cam")};
  failing.enumerateFailure = CAPTURE_FAIL;
  EXPECT_EQ(formatCameraListing(listCameras(failing)), "No camera found.\n");
}

TEST(CameraListing, CameraThatCannotBeBoundIsListedAsSuch) {
  ScriptedBackend backend;
  backend.devices = {namedDevice("busy")};
  backend.failures[Step::BindSource] = Failure{};
  const std::vector<CameraListing> cameras = listCameras(backend);
  ASSERT_EQ(cameras.size(), 1u);
  EXPECT_FALSE(cameras[0].opens);
  EXPECT_EQ(cameras[0].name, "busy");
}

// Nodes as files in a folder of the test's own, with a by-id link to one of them.
class CameraByPath : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "quarnel-nodes-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir = pattern;
    for (const char* node : {"video0", "video1", "video2"}) std::ofstream(dir / node) << "";
    fs::create_directories(dir / "by-id");
    fs::create_symlink("../video2", dir / "by-id" / "usb-Maker_Cam_42-video-index0");
    for (const char* node : {"video0", "video1", "video2"}) {
      ScriptedDevice device = namedDevice(node);
      device.entry.moniker = (dir / node).string();
      backend.devices.push_back(device);
    }
  }
  void TearDown() override { fs::remove_all(dir); }

  fs::path dir;
  ScriptedBackend backend;
};

TEST_F(CameraByPath, NodeOrLinkGivesTheIndexOfTheSameNode) {
  const struct {
    fs::path path;
    int index;
  } cases[] = {
      {"video1", 1},
      {"by-id/usb-Maker_Cam_42-video-index0", 2},
      {"by-id/../video0", 0},
      {"video7", -1},
      {"by-id", -1},
  };
  for (const auto& c : cases) EXPECT_EQ(findCameraIndex(backend, (dir / c.path).string()), c.index) << c.path;
  EXPECT_EQ(backend.useCount, 0);
}

TEST_F(CameraByPath, IndexFollowsTheNodeWhenDevicesAreRenumbered) {
  const std::string link = (dir / "by-id" / "usb-Maker_Cam_42-video-index0").string();
  EXPECT_EQ(findCameraIndex(backend, link), 2);
  backend.devices.erase(backend.devices.begin());  // video0 unplugged
  EXPECT_EQ(findCameraIndex(backend, link), 1);
  fs::remove(dir / "video2");  // the camera itself unplugged: the link dangles
  backend.devices.pop_back();
  EXPECT_EQ(findCameraIndex(backend, link), -1);
}

}  // namespace
}  // namespace capturetest
