// The real quarnel on the emulated camera (libquarnel_fakecam.so preloaded), under the test script's X
// server: the camera shows a symbol made by the independent encoder, and a window of the test's own
// that holds the focus must receive its text and Return once, then again only after the hold-off.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>

#include "tests/app/program_harness.h"
#include "tests/support/symbol_encoder.h"
#include "tests/support/symbol_renderer.h"

namespace programtest {
namespace {

namespace fs = std::filesystem;

const std::string SYMBOL_TEXT = "Batch 7731-Q/2";
constexpr int HOLD_OFF_MS = 5000;
// At the camera's 30 frames a second: three seconds of an empty scene after streaming starts, so the
// test's window has the focus before the symbol comes into view, then the symbol for a minute.
constexpr int PICTURE_FRAMES = 90;
constexpr int SYMBOL_PICTURES = 20;

struct Scenario {
  const char* format;
  int width;
  int height;
  const char* unplug;  // empty: never unplugged
};

class ProgramOnFakeCamera : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "no X display";
    waitUntil([this] { return (display_ = XOpenDisplay(nullptr)) != nullptr; }, milliseconds(5000));
    ASSERT_NE(display_, nullptr);
    std::string pattern = (fs::temp_directory_path() / "quarnel-fakecam-program-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    scratch_ = pattern;
  }
  void TearDown() override {
    if (display_ != nullptr) XCloseDisplay(display_);
    std::error_code ignored;
    if (!scratch_.empty()) fs::remove_all(scratch_, ignored);
  }

  // The picture list: the empty scene, then the symbol, drawn at the frame size.
  std::string writePictures(int width, int height) {
    const auto symbol = testsupport::encodeSymbol(SYMBOL_TEXT, 0, 0);
    if (!symbol) return {};
    testsupport::RenderOptions options;
    options.imageWidth = width;
    options.imageHeight = height;
    options.moduleSize = height / 60.0;
    options.rotationDeg = 6.0;
    options.background = 170;
    const testsupport::RenderedSymbol rendered = testsupport::renderSymbol(*symbol, options);
    if (rendered.grey.empty()) return {};
    const std::string empty = scratch_ + "/empty.png";
    const std::string withSymbol = scratch_ + "/symbol.png";
    cv::imwrite(empty, cv::Mat(height, width, CV_8UC1, cv::Scalar(170)));
    cv::imwrite(withSymbol, rendered.grey);
    std::string pictures = empty;
    for (int i = 0; i < SYMBOL_PICTURES; ++i) pictures += ":" + withSymbol;
    return pictures;
  }

  std::map<std::string, std::optional<std::string>> cameraEnvironment(const Scenario& scenario) {
    std::map<std::string, std::optional<std::string>> env = {
        {"LD_PRELOAD", QUARNEL_FAKECAM_PRELOAD},
        {"QUARNEL_FAKECAM_PICTURES", writePictures(scenario.width, scenario.height)},
        {"QUARNEL_FAKECAM_REPEAT", std::to_string(PICTURE_FRAMES)},
        {"QUARNEL_FAKECAM_FORMAT", std::string(scenario.format)},
        {"QUARNEL_FAKECAM_SIZE", std::to_string(scenario.width) + "x" + std::to_string(scenario.height)},
        {"QUARNEL_FAKECAM_UNPLUG", std::nullopt},
        {"SDL_AUDIODRIVER", std::string("dummy")},
    };
    if (scenario.unplug[0] != '\0') env["QUARNEL_FAKECAM_UNPLUG"] = std::string(scenario.unplug);
    return env;
  }

  Display* display_ = nullptr;
  std::string scratch_;
};

void expectTypedOnceThenAfterTheHoldOff(Display* display, const Scenario& scenario,
                                        const std::map<std::string, std::optional<std::string>>& env,
                                        const std::vector<std::string>& args = {}) {
  ChildProcess program(QUARNEL_PROGRAM, args, env);
  const Window window = waitForWindow(display, "Quarnel", program.pid(), milliseconds(20000));
  ASSERT_NE(window, 0u) << program.err();
  // The window took the focus when it was shown; once the camera streams, the test's window takes it back,
  // before the empty scene at the start of the stream has passed.
  ASSERT_TRUE(waitUntil([&] { return program.countInOut("SETUP: Device is setup and ready to capture.") > 0; },
                        milliseconds(20000)))
      << program.out();
  KeyRecorder keys;
  Window focus = 0;
  int revert = 0;
  XGetInputFocus(display, &focus, &revert);
  ASSERT_EQ(focus, keys.window());

  ASSERT_TRUE(waitUntil([&] { return keys.lineCount() >= 1; }, milliseconds(30000)))
      << "typed: " << keys.pending() << "\n" << program.out();
  const KeyRecorder::Line first = keys.lines()[0];
  EXPECT_EQ(first.text, SYMBOL_TEXT + "\n");
  EXPECT_NE(program.out().find("SETUP: 0) Quarnel emulated camera \n"), std::string::npos) << program.out();
  EXPECT_NE(program.out().find("SETUP: Device is setup and ready to capture."), std::string::npos);

  // The symbol stays in view (or comes back after an unplug): typed again only once the hold-off is over.
  ASSERT_TRUE(waitUntil([&] { return keys.lineCount() >= 2; }, milliseconds(40000)))
      << "typed: " << keys.pending() << "\n" << program.out();
  const KeyRecorder::Line second = keys.lines()[1];
  EXPECT_EQ(second.text, SYMBOL_TEXT + "\n");
  EXPECT_GE(msSince(first.at, second.at), HOLD_OFF_MS);
  EXPECT_EQ(keys.pending(), "");

  if (scenario.unplug[0] != '\0') {
    const std::string out = program.out();
    EXPECT_NE(out.find("SETUP: device[0] not found - you have 0 devices available\n"), std::string::npos) << out;
    const std::size_t returned = out.rfind("SETUP: Device is setup and ready to capture.");
    EXPECT_GT(returned, out.find("SETUP: device[0] not found")) << "opened again after the camera came back";
  }
  EXPECT_TRUE(program.running());
  requestClose(display, window);
  EXPECT_TRUE(program.waitExit(milliseconds(5000))) << "still running after the close request";
}

TEST_F(ProgramOnFakeCamera, TypesTheSymbolOnceThenAgainAfterTheHoldOffFromYuyvFrames) {
  const Scenario scenario{"YUYV", 640, 480, ""};
  expectTypedOnceThenAfterTheHoldOff(display_, scenario, cameraEnvironment(scenario));
}

TEST_F(ProgramOnFakeCamera, TypesTheSymbolOnceThenAgainAfterTheHoldOffFromMjpegFramesAt1280x720) {
  const Scenario scenario{"MJPG", 1280, 720, ""};
  expectTypedOnceThenAfterTheHoldOff(display_, scenario, cameraEnvironment(scenario));
}

TEST_F(ProgramOnFakeCamera, ReconnectsAfterTheCameraIsUnpluggedAndTypesAgain) {
  // Unplugged two seconds after the symbol came into view, for two seconds.
  const Scenario scenario{"YUYV", 640, 480, "150:2000"};
  expectTypedOnceThenAfterTheHoldOff(display_, scenario, cameraEnvironment(scenario));
}

TEST_F(ProgramOnFakeCamera, CameraNamedByItsNodeTypesTheSymbol) {
  const Scenario scenario{"YUYV", 640, 480, ""};
  expectTypedOnceThenAfterTheHoldOff(display_, scenario, cameraEnvironment(scenario), {"--camera=/dev/video0"});
}

// The listing shows the capture node with the formats and sizes the camera was set up to offer, and
// leaves out its metadata node (/dev/video1), which delivers no pictures. It needs no display.
TEST_F(ProgramOnFakeCamera, ListsTheCaptureNodeAndSkipsTheMetadataNode) {
  ChildProcess program(QUARNEL_PROGRAM, {"--list-cameras"},
                       {{"LD_PRELOAD", QUARNEL_FAKECAM_PRELOAD},
                        {"QUARNEL_FAKECAM_FORMAT", std::string("YUYV,MJPG")},
                        {"QUARNEL_FAKECAM_SIZE", std::string("640x480")},
                        {"QUARNEL_FAKECAM_SIZES", std::string("640x480,1280x720")},
                        {"QUARNEL_FAKECAM_UNPLUG", std::nullopt},
                        {"DISPLAY", std::nullopt},
                        {"WAYLAND_DISPLAY", std::nullopt}});
  const std::optional<int> status = program.waitExit(milliseconds(10000));
  ASSERT_TRUE(status) << "still running";
  EXPECT_TRUE(exitedWith(status, 0)) << "status " << *status << "\n" << program.err();
  EXPECT_EQ(program.out(),
            "0: /dev/video0\n"
            "   name: Quarnel emulated camera\n"
            "   YUY2: 640x480 1280x720\n"
            "   MJPG: 640x480 1280x720\n");
  EXPECT_EQ(program.err(), "");
}

}  // namespace
}  // namespace programtest
