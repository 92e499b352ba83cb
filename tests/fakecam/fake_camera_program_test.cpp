// The real quarnel on the emulated camera (libquarnel_fakecam.so preloaded), under the test script's X
// server: the camera shows a symbol made by the independent encoder, and a window of the test's own
// that holds the focus must receive its text and Return once, then again only after the hold-off. A
// second quarnel on the same camera must leave it to the first.
#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <opencv2/core.hpp>
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

// Whether the program's camera streams within 20 s: it has said that the device is ready.
bool streams(ChildProcess& program) {
  return waitUntil([&] { return program.countInOut("SETUP: Device is setup and ready to capture.") > 0; },
                   milliseconds(20000));
}

class ProgramOnFakeCamera : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "no X display";
    waitUntil([this] { return (display_ = XOpenDisplay(nullptr)) != nullptr; }, milliseconds(5000));
    ASSERT_NE(display_, nullptr);
    std::string pattern = (fs::temp_directory_path() / "quarnel-fakecam-program-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    scratch_ = pattern;
    // The camera locks of the programs a test starts go here, away from other tests' and the user's own.
    runtimeDir_ = scratch_ + "/run";
    ASSERT_EQ(mkdir(runtimeDir_.c_str(), 0700), 0);
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
        {"XDG_RUNTIME_DIR", runtimeDir_},
    };
    if (scenario.unplug[0] != '\0') env["QUARNEL_FAKECAM_UNPLUG"] = std::string(scenario.unplug);
    return env;
  }

  Display* display_ = nullptr;
  std::string scratch_;
  std::string runtimeDir_;
};

void expectTypedOnceThenAfterTheHoldOff(Display* display, const Scenario& scenario,
                                        const std::map<std::string, std::optional<std::string>>& env,
                                        const std::vector<std::string>& args = {}) {
  ChildProcess program(QUARNEL_PROGRAM, args, env);
  const Window window = waitForWindow(display, "Quarnel", program.pid(), milliseconds(20000));
  ASSERT_NE(window, 0u) << program.err();
  // The window took the focus when it was shown; once the camera streams, the test's window takes it back,
  // before the empty scene at the start of the stream has passed.
  ASSERT_TRUE(streams(program)) << program.out();
  KeyRecorder keys;
  Window focus = 0;
  int revert = 0;
  XGetInputFocus(display, &focus, &revert);
  ASSERT_EQ(focus, keys.window());

  ASSERT_TRUE(waitUntil([&] { return keys.lineCount() >= 1; }, milliseconds(30000)))
      << "typed: " << keys.pending() << "\n"
      << program.out();
  const KeyRecorder::Line first = keys.lines()[0];
  EXPECT_EQ(first.text, SYMBOL_TEXT + "\n");
  EXPECT_NE(program.out().find("SETUP: 0) Quarnel emulated camera \n"), std::string::npos) << program.out();
  EXPECT_NE(program.out().find("SETUP: Device is setup and ready to capture."), std::string::npos);

  // The symbol stays in view (or comes back after an unplug): typed again only once the hold-off is over.
  ASSERT_TRUE(waitUntil([&] { return keys.lineCount() >= 2; }, milliseconds(40000)))
      << "typed: " << keys.pending() << "\n"
      << program.out();
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
                        {"XDG_RUNTIME_DIR", runtimeDir_},
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

// ---------------------------------------------------------------------------------------------------
// One quarnel per camera.

using Environment = std::map<std::string, std::optional<std::string>>;

const std::string ALREADY_RUNNING_ON_VIDEO0 = "Quarnel is already running for /dev/video0\n";

Environment withoutDisplay(Environment env) {
  env["DISPLAY"] = std::nullopt;
  env["WAYLAND_DISPLAY"] = std::nullopt;
  return env;
}

// Where the window stands among the root's children, bottom first; -1 when it is not one.
int stackingPosition(Display* display, Window window) {
  Window root = 0;
  Window parent = 0;
  Window* children = nullptr;
  unsigned count = 0;
  int position = -1;
  if (XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count) == 0) return -1;
  for (unsigned i = 0; i < count; ++i) {
    if (children[i] == window) position = static_cast<int>(i);
  }
  if (children != nullptr) XFree(children);
  return position;
}

// The first quarnel reads the camera and types; a second one on the same camera, named by its index and
// then by its node, does not open it: it says so on standard error (and, with a display, in the error
// box, after bringing the first one's window to the front) and ends with status 1. The first goes on
// typing each read once.
TEST_F(ProgramOnFakeCamera, SecondStartOnTheSameCameraLeavesItToTheFirst) {
  const Scenario scenario{"YUYV", 640, 480, ""};
  const Environment env = cameraEnvironment(scenario);
  ChildProcess first(QUARNEL_PROGRAM, {}, env);
  const Window window = waitForWindow(display_, "Quarnel", first.pid(), milliseconds(20000));
  ASSERT_NE(window, 0u) << first.err();
  ASSERT_TRUE(streams(first)) << first.out();
  KeyRecorder keys;
  ASSERT_GT(stackingPosition(display_, keys.window()), stackingPosition(display_, window));

  {
    ChildProcess second(QUARNEL_PROGRAM, {"--camera=0"}, withoutDisplay(env));
    const std::optional<int> status = second.waitExit(milliseconds(5000));
    ASSERT_TRUE(status) << "the second start is still running\n" << second.out();
    EXPECT_TRUE(exitedWith(status, 1)) << "status " << *status << "\n" << second.err();
    EXPECT_EQ(second.err(), ALREADY_RUNNING_ON_VIDEO0);
    EXPECT_EQ(second.out(), "") << "the camera was not opened";
  }
  ASSERT_TRUE(waitUntil([&] { return keys.lineCount() >= 1; }, milliseconds(30000)))
      << "typed: " << keys.pending() << "\n"
      << first.out();
  EXPECT_EQ(keys.lines()[0].text, SYMBOL_TEXT + "\n");

  {
    // The box runs in a child process of SDL's own, which ends through exit; leaks of the libraries it
    // loaded are not the program's.
    const char* sanitizer = std::getenv("ASAN_OPTIONS");
    Environment boxEnv = env;
    boxEnv["ASAN_OPTIONS"] = std::string(sanitizer != nullptr ? sanitizer : "") + ":detect_leaks=0";
    ChildProcess second(QUARNEL_PROGRAM, {"--camera=/dev/video0"}, boxEnv);
    const Window box = waitForWindow(display_, "Error", std::nullopt, milliseconds(10000));
    ASSERT_NE(box, 0u) << second.err();
    EXPECT_EQ(findWindow(display_, "Quarnel", second.pid()), 0u) << "no window of its own";
    EXPECT_EQ(second.err(), ALREADY_RUNNING_ON_VIDEO0) << "written before the box shows";
    EXPECT_GT(stackingPosition(display_, window), stackingPosition(display_, keys.window()))
        << "the first one's window is brought to the front";
    // As in a person's hands, a close request the box was not yet listening for is repeated.
    std::optional<int> status;
    for (int attempt = 0; attempt < 10 && !status; ++attempt) {
      requestClose(display_, box);
      status = second.waitExit(milliseconds(1000));
    }
    ASSERT_TRUE(status) << "still running after the box was dismissed";
    EXPECT_TRUE(exitedWith(status, 1)) << "status " << *status;
    EXPECT_EQ(second.err(), ALREADY_RUNNING_ON_VIDEO0) << "said once";
    EXPECT_EQ(second.out(), "");
  }

  // The box may have taken the focus; the recorder takes it back for the next read.
  XSetInputFocus(display_, keys.window(), RevertToParent, CurrentTime);
  XSync(display_, False);
  EXPECT_TRUE(first.running());
  ASSERT_TRUE(waitUntil([&] { return keys.lineCount() >= 2; }, milliseconds(40000)))
      << "typed: " << keys.pending() << "\n"
      << first.out();
  const std::vector<KeyRecorder::Line> lines = keys.lines();
  EXPECT_EQ(lines[1].text, SYMBOL_TEXT + "\n");
  EXPECT_GE(msSince(lines[0].at, lines[1].at), HOLD_OFF_MS) << "typed once per read";
  EXPECT_TRUE(first.running());
  requestClose(display_, window);
  EXPECT_TRUE(first.waitExit(milliseconds(5000))) << "still running after the close request";
}

// A camera that is not there yet is locked by the choice as given: a second start with the same index
// is refused, while one on another camera runs beside the first.
TEST_F(ProgramOnFakeCamera, CameraNotThereYetIsLockedByItsIndexAndOtherCamerasStillStart) {
  const Scenario scenario{"YUYV", 640, 480, ""};
  const Environment env = cameraEnvironment(scenario);
  ChildProcess first(QUARNEL_PROGRAM, {"--camera=3"}, env);
  ASSERT_NE(waitForWindow(display_, "Quarnel", first.pid(), milliseconds(20000)), 0u) << first.err();

  ChildProcess sameIndex(QUARNEL_PROGRAM, {"--camera=3"}, withoutDisplay(env));
  const std::optional<int> status = sameIndex.waitExit(milliseconds(5000));
  ASSERT_TRUE(status) << "the second start is still running";
  EXPECT_TRUE(exitedWith(status, 1)) << "status " << *status;
  EXPECT_EQ(sameIndex.err(), "Quarnel is already running for camera 3\n");

  ChildProcess otherCamera(QUARNEL_PROGRAM, {"--camera=0"}, env);
  const Window other = waitForWindow(display_, "Quarnel", otherCamera.pid(), milliseconds(20000));
  ASSERT_NE(other, 0u) << otherCamera.err();
  EXPECT_TRUE(streams(otherCamera)) << otherCamera.out();
  EXPECT_TRUE(first.running());
  EXPECT_EQ(otherCamera.err().find("already running"), std::string::npos) << otherCamera.err();
}

// A runtime folder no lock can be made in costs the user the check, not the scanner: the program says so
// once and reads the camera.
TEST_F(ProgramOnFakeCamera, RunsWithoutTheLockWhenTheRuntimeFolderIsUnusableAndSaysSoOnce) {
  const Scenario scenario{"YUYV", 640, 480, ""};
  Environment env = cameraEnvironment(scenario);
  const std::string notAFolder = scratch_ + "/not-a-folder";
  std::ofstream(notAFolder).put('\n');
  env["XDG_RUNTIME_DIR"] = notAFolder;
  ChildProcess program(QUARNEL_PROGRAM, {}, env);
  ASSERT_NE(waitForWindow(display_, "Quarnel", program.pid(), milliseconds(20000)), 0u) << program.err();
  EXPECT_TRUE(streams(program)) << program.out();
  const std::string warning = "quarnel: cannot open the lock file " + notAFolder +
                              "/quarnel-dev-video0.lock: Not a directory; running without the lock";
  const std::string err = program.err();
  const std::size_t at = err.find(warning);
  EXPECT_NE(at, std::string::npos) << err;
  EXPECT_EQ(err.find(warning, at + 1), std::string::npos) << "said once: " << err;
}

// A log on a full file system (a small tmpfs, which the test mounts when it runs as root; the file size
// limit cannot stand in here, as the emulated camera's buffers are files too): by default the read is
// typed all the same and standard error says once that the log cannot be written; with --log-required
// nothing is typed and standard error says why. Nothing of a line stays in the file.
TEST_F(ProgramOnFakeCamera, LogWithoutRoomCostsTheLineOrWithItsRequirementTheRead) {
  const std::string full = scratch_ + "/full";
  ASSERT_EQ(mkdir(full.c_str(), 0700), 0);
  if (mount("tmpfs", full.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=64k,mode=0700") != 0) {
    GTEST_SKIP() << "a tmpfs can be mounted only as root; the read log's own tests cover a full disk";
  }
  const std::unique_ptr<const char, void (*)(const char*)> unmount(full.c_str(),
                                                                   [](const char* at) { umount2(at, MNT_DETACH); });
  const Environment env = cameraEnvironment({"YUYV", 640, 480, ""});
  // A whole page of earlier lines, so that any line more needs room the file system no longer has.
  const std::string earlier = std::string(4095, 'e') + "\n";
  for (const bool required : {false, true}) {
    SCOPED_TRACE(required ? "--log-required" : "typed first");
    for (const fs::directory_entry& left : fs::directory_iterator(full)) fs::remove(left.path());
    const std::string logPath = full + "/reads.log";
    ASSERT_TRUE(std::ofstream(logPath) << earlier);
    {
      std::ofstream ballast(full + "/ballast", std::ios::binary);
      const std::string block(4096, 'b');
      while (ballast.write(block.data(), static_cast<std::streamsize>(block.size())) && ballast.flush()) {
      }
    }
    std::vector<std::string> args = {"--log=" + logPath};
    if (required) args.push_back("--log-required");
    ChildProcess program(QUARNEL_PROGRAM, args, env);
    const Window window = waitForWindow(display_, "Quarnel", program.pid(), milliseconds(20000));
    ASSERT_NE(window, 0u) << program.err();
    ASSERT_TRUE(streams(program)) << program.out();
    KeyRecorder keys;
    const std::string cannotWrite = "quarnel: cannot write to the log " + logPath + ": No space left on device\n";
    const std::string notTyped =
        "quarnel: read not typed (the log cannot be written: No space left on device): " + SYMBOL_TEXT + "\n";
    if (required) {
      ASSERT_TRUE(waitUntil([&] { return program.err().find(notTyped) != std::string::npos; }, milliseconds(30000)))
          << program.err();
      EXPECT_EQ(keys.lineCount(), 0u);
      EXPECT_EQ(keys.pending(), "");
    } else {
      ASSERT_TRUE(waitUntil([&] { return keys.lineCount() >= 1; }, milliseconds(30000)))
          << "typed: " << keys.pending() << "\n"
          << program.err();
      EXPECT_EQ(keys.lines()[0].text, SYMBOL_TEXT + "\n");
      EXPECT_TRUE(waitUntil([&] { return program.err().find(cannotWrite) != std::string::npos; }, milliseconds(5000)))
          << program.err();
    }
    EXPECT_TRUE(program.running()) << program.err();
    std::ifstream in(logPath, std::ios::binary);
    EXPECT_TRUE(std::string(std::istreambuf_iterator<char>(in), {}) == earlier) << "nothing of a line is left";
    requestClose(display_, window);
    EXPECT_TRUE(program.waitExit(milliseconds(5000)));
  }
}

// An X server of the test's own, which the test can take away without disturbing the others' display.
class PrivateXServer {
 public:
  PrivateXServer() {
    const char* server = "/usr/bin/Xvfb";
    if (access(server, X_OK) != 0) return;
    // A display number no other server holds: its socket and lock file are both absent.
    for (int number = 300 + getpid() % 200; number < 700 && name_.empty(); ++number) {
      const std::string n = std::to_string(number);
      if (access(("/tmp/.X11-unix/X" + n).c_str(), F_OK) == 0 || access(("/tmp/.X" + n + "-lock").c_str(), F_OK) == 0) {
        continue;
      }
      process_.emplace(server, std::vector<std::string>{":" + n, "-screen", "0", "800x600x24", "-nolisten", "tcp"},
                       Environment{});
      const std::string socket = "/tmp/.X11-unix/X" + n;
      if (waitUntil([&] { return access(socket.c_str(), F_OK) == 0 || !process_->running(); }, milliseconds(10000)) &&
          process_->running()) {
        name_ = ":" + n;
      } else {
        process_.reset();
      }
    }
  }
  const std::string& name() const { return name_; }
  // Ends the server at once, as a crash or a lost session does.
  void kill() {
    if (process_) ::kill(process_->pid(), SIGKILL);
  }

 private:
  std::optional<ChildProcess> process_;
  std::string name_;
};

// The display goes away while the program decodes a busy scene and types: it ends with status 4 and one
// line on standard error, whatever its threads were doing; no exit handler tears down data the worker
// still uses (under AddressSanitizer a use after free would show). The moment of the loss varies, to meet
// the worker in different stages of its cycle.
TEST_F(ProgramOnFakeCamera, EndsInOrderWhenTheDisplayGoesAway) {
  const auto symbol = testsupport::encodeSymbol(SYMBOL_TEXT, 0, 0);
  ASSERT_TRUE(symbol);
  // A label among clutter and sensor noise, and the same clutter without it: the worker always has work.
  testsupport::RenderOptions options;
  options.moduleSize = 6;
  options.rotationDeg = 12;
  options.background = 170;
  options.noiseSigma = 8;
  options.clutter = 40;
  const cv::Mat label = testsupport::renderSymbol(*symbol, options).grey;
  options.moduleSize = 0.01;  // the symbol shrinks to nothing; the clutter stays
  const cv::Mat clutter = testsupport::renderSymbol(*symbol, options).grey;
  ASSERT_FALSE(label.empty());
  ASSERT_FALSE(clutter.empty());
  const std::string labelPicture = scratch_ + "/label-in-clutter.png";
  const std::string noisePicture = scratch_ + "/clutter.png";
  ASSERT_TRUE(cv::imwrite(labelPicture, label));
  ASSERT_TRUE(cv::imwrite(noisePicture, clutter));

  Environment env = cameraEnvironment({"YUYV", 640, 480, ""});
  env["QUARNEL_FAKECAM_PICTURES"] = labelPicture + ":" + noisePicture;
  env["QUARNEL_FAKECAM_REPEAT"] = std::string("4");
  for (const int lossAfterMs : {0, 150, 400, 700, 1100, 1600, 2300, 3100}) {
    SCOPED_TRACE("display lost " + std::to_string(lossAfterMs) + " ms after streaming started");
    PrivateXServer server;
    if (server.name().empty()) GTEST_SKIP() << "no private X server could be started";
    env["DISPLAY"] = server.name();
    ChildProcess program(QUARNEL_PROGRAM, {}, env);
    {
      // The test's own connection must be gone before the server is: Xlib would end the test too.
      Display* own = nullptr;
      ASSERT_TRUE(
          waitUntil([&] { return (own = XOpenDisplay(server.name().c_str())) != nullptr; }, milliseconds(5000)));
      const Window window = waitForWindow(own, "Quarnel", program.pid(), milliseconds(20000));
      XCloseDisplay(own);
      ASSERT_NE(window, 0u) << program.err();
    }
    ASSERT_TRUE(streams(program)) << program.out();
    std::this_thread::sleep_for(milliseconds(lossAfterMs));
    server.kill();
    const std::optional<int> status = program.waitExit(milliseconds(10000));
    ASSERT_TRUE(status) << "still running after the display went away";
    EXPECT_TRUE(exitedWith(status, 4)) << "status " << *status << "\n" << program.err();
    const std::string err = program.err();
    const std::string line = "quarnel: lost the connection to the display " + server.name() + "\n";
    const std::size_t at = err.find(line);
    EXPECT_NE(at, std::string::npos) << err;
    EXPECT_EQ(err.find(line, at + 1), std::string::npos) << "said once: " << err;
    EXPECT_EQ(err.find("Sanitizer"), std::string::npos) << err;
    EXPECT_EQ(err.find("terminate called"), std::string::npos) << err;
  }
}

}  // namespace
}  // namespace programtest
