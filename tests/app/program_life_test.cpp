// The program's whole life on the test script's X server: the replayed program (quarnel on a replay
// camera) and the real quarnel are started as processes and watched from outside through Xlib, the way a
// user and the window system see them. A window of the test's own holds the keyboard focus and records
// what is typed.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include "tests/app/disk_audio.h"
#include "tests/app/program_harness.h"
#include "tests/app/replay_scene.h"

// After the image library: the extension's header leaves macros behind that clash with its names.
#include <X11/extensions/XTest.h>

namespace programtest {
namespace {

// The replayed text: capitals, digits, punctuation and a space, all on the default layout.
const std::string REPLAY_TEXT = "Lot 42/B-7: ok";
// The beep's samples as the sound layer asks the disk audio driver for them: signed 16-bit, one channel.
constexpr int BEEP_SAMPLE_RATE = 48000;

// ---------------------------------------------------------------------------------------------------
// The tone in a file of the disk audio driver: signed 16-bit little-endian samples, one channel.
struct Tone {
  double seconds = 0;
  double hertz = 0;
};

std::optional<Tone> toneInFile(const std::string& path) {
  const std::vector<std::int16_t> samples = readDiskAudioSamples(path);
  std::size_t first = samples.size();
  std::size_t last = 0;
  for (std::size_t n = 0; n < samples.size(); ++n) {
    if (std::abs(samples[n]) > 64) {
      if (first == samples.size()) first = n;
      last = n;
    }
  }
  if (first == samples.size()) return std::nullopt;
  Tone tone;
  // The audible span lies one zero sample inside each end of the sine.
  tone.seconds = static_cast<double>(last - first + 2) / BEEP_SAMPLE_RATE;
  int upwardCrossings = 0;
  for (std::size_t n = first + 1; n <= last; ++n) {
    if (samples[n - 1] < 0 && samples[n] >= 0) ++upwardCrossings;
  }
  tone.hertz = upwardCrossings / tone.seconds;
  return tone;
}

// ---------------------------------------------------------------------------------------------------
// What the preview shows, in window pixels. The 640 x 480 preview of a 640 x 484 client area sits centred.
constexpr int PREVIEW_OFFSET_X = (640 - 640) / 2;
constexpr int PREVIEW_OFFSET_Y = (484 - 480) / 2;

bool isRed(const cv::Vec3b& px) { return px[2] >= 200 && px[1] <= 60 && px[0] <= 60; }
bool isWhite(const cv::Vec3b& px) { return px[0] >= 250 && px[1] >= 250 && px[2] >= 250; }
bool isBlack(const cv::Vec3b& px) { return px[0] <= 60 && px[1] <= 60 && px[2] <= 60; }

cv::Point2d toWindow(const cv::Point2d& framePoint) {
  return {framePoint.x + PREVIEW_OFFSET_X, framePoint.y + PREVIEW_OFFSET_Y};
}

double distanceToSegment(const cv::Point2d& p, const cv::Point2d& a, const cv::Point2d& b) {
  const cv::Point2d ab = b - a;
  const double t = std::clamp((p - a).dot(ab) / ab.dot(ab), 0.0, 1.0);
  const cv::Point2d nearest = a + t * ab;
  return std::hypot(p.x - nearest.x, p.y - nearest.y);
}

std::vector<cv::Point2d> outlineOf(const testsupport::SymbolCorners& corners) {
  return {toWindow(corners.verticalLegEnd), toWindow(corners.timingCorner), toWindow(corners.horizontalLegEnd),
          toWindow(corners.finderVertex)};
}

int countRed(const cv::Mat& picture) {
  int count = 0;
  picture.forEach<cv::Vec3b>([&](const cv::Vec3b& px, const int*) { count += isRed(px) ? 1 : 0; });
  return count;
}

double fractionIn(const cv::Mat& picture, const cv::Rect& area, bool (*test)(const cv::Vec3b&)) {
  int hits = 0;
  for (int y = area.y; y < area.y + area.height; ++y) {
    for (int x = area.x; x < area.x + area.width; ++x) hits += test(picture.at<cv::Vec3b>(y, x)) ? 1 : 0;
  }
  return static_cast<double>(hits) / area.area();
}

// Every side of the symbol's outline is traced in red, and nothing red lies away from it.
void expectRedOutline(const cv::Mat& picture, const std::vector<cv::Point2d>& outline) {
  for (int side = 0; side < 4; ++side) {
    const cv::Point2d a = outline[side];
    const cv::Point2d b = outline[(side + 1) % 4];
    for (double t = 0.1; t < 0.95; t += 0.1) {
      const cv::Point2d p = a + t * (b - a);
      bool redNearby = false;
      for (int dy = -3; dy <= 3 && !redNearby; ++dy) {
        for (int dx = -3; dx <= 3 && !redNearby; ++dx) {
          const int x = static_cast<int>(std::lround(p.x)) + dx;
          const int y = static_cast<int>(std::lround(p.y)) + dy;
          redNearby = x >= 0 && y >= 0 && x < picture.cols && y < picture.rows && isRed(picture.at<cv::Vec3b>(y, x));
        }
      }
      EXPECT_TRUE(redNearby) << "side " << side << " at " << p;
    }
  }
  int strayRed = 0;
  for (int y = 0; y < picture.rows; ++y) {
    for (int x = 0; x < picture.cols; ++x) {
      if (!isRed(picture.at<cv::Vec3b>(y, x))) continue;
      double nearest = 1e9;
      for (int side = 0; side < 4; ++side) {
        nearest = std::min(nearest, distanceToSegment({double(x), double(y)}, outline[side], outline[(side + 1) % 4]));
      }
      strayRed += nearest > 4.0 ? 1 : 0;
    }
  }
  EXPECT_EQ(strayRed, 0) << "red pixels away from the symbol's outline";
}

// The label band of the first result: white, from the frame's top-left corner to 0.8 of its width and
// 0.047 of its width down, with the text in black on it; the frame around it keeps its grey.
void expectLabelBand(const cv::Mat& picture) {
  const int bandRight = static_cast<int>(0.8 * 640);
  const int bandBottom = static_cast<int>(0.047 * 640);
  const cv::Rect band(4, PREVIEW_OFFSET_Y + 2, bandRight - 8, bandBottom - 4);
  EXPECT_GT(fractionIn(picture, band, isWhite), 0.6) << "the band is white";
  EXPECT_GT(fractionIn(picture, band, isBlack), 0.005) << "the band carries black text";
  const cv::Rect below(4, PREVIEW_OFFSET_Y + bandBottom + 8, bandRight - 8, 20);
  EXPECT_LT(fractionIn(picture, below, isWhite), 0.01) << "below the band";
  const cv::Rect right(bandRight + 8, PREVIEW_OFFSET_Y + 2, 640 - bandRight - 16, bandBottom - 4);
  EXPECT_LT(fractionIn(picture, right, isWhite), 0.01) << "right of the band";
}

// ---------------------------------------------------------------------------------------------------
// Another client's window can go at any moment between two requests about it (a program that ended
// leaves its windows to the server to remove): such a request fails and is simply not answered.
XErrorHandler defaultXErrorHandler = nullptr;
int ignoreVanishedWindows(Display* display, XErrorEvent* error) {
  if (error->error_code == BadWindow) return 0;
  return defaultXErrorHandler != nullptr ? defaultXErrorHandler(display, error) : 0;
}

class ProgramLife : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "no X display";
    XErrorHandler previous = XSetErrorHandler(ignoreVanishedWindows);
    if (previous != ignoreVanishedWindows) defaultXErrorHandler = previous;
    // The server resets when its last client leaves and refuses connections for that moment.
    waitUntil([this] { return (display_ = XOpenDisplay(nullptr)) != nullptr; }, milliseconds(5000));
    ASSERT_NE(display_, nullptr);
    // The programs inherit it: their camera locks stay away from other tests' and the user's own quarnel.
    std::string pattern = (std::filesystem::temp_directory_path() / "quarnel-life-run-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    runtimeDir_ = pattern;
    const char* userRuntimeDir = std::getenv("XDG_RUNTIME_DIR");
    if (userRuntimeDir != nullptr) previousRuntimeDir_ = userRuntimeDir;
    setenv("XDG_RUNTIME_DIR", runtimeDir_.c_str(), 1);
  }
  void TearDown() override {
    if (display_ != nullptr) XCloseDisplay(display_);
    if (runtimeDir_.empty()) return;
    if (previousRuntimeDir_) {
      setenv("XDG_RUNTIME_DIR", previousRuntimeDir_->c_str(), 1);
    } else {
      unsetenv("XDG_RUNTIME_DIR");
    }
    std::error_code ignored;
    std::filesystem::remove_all(runtimeDir_, ignored);
  }

  // The child's windows must be looked for with the child's pid; the program names itself "Quarnel".
  Window waitForMainWindow(ChildProcess& child) {
    return waitForWindow(display_, "Quarnel", child.pid(), milliseconds(20000));
  }

  void expectClosesWithExitCode1(ChildProcess& child, Window window) {
    const auto asked = Clock::now();
    requestClose(display_, window);
    const std::optional<int> status = child.waitExit(milliseconds(1000));
    ASSERT_TRUE(status) << "still running 1 s after the close request";
    EXPECT_TRUE(exitedWith(status, 1)) << "status " << *status;
    EXPECT_LT(msSince(asked, Clock::now()), 1000.0);
    // The server removes the window once it has seen the program's connection close.
    EXPECT_TRUE(waitUntil([&] { return findWindow(display_, "Quarnel", child.pid()) == 0; }, milliseconds(1000)));
  }

  Display* display_ = nullptr;
  std::string runtimeDir_;
  std::optional<std::string> previousRuntimeDir_;
};

std::string temporaryPath(const char* stem) {
  std::string path = (std::filesystem::temp_directory_path() / (std::string(stem) + "-XXXXXX")).string();
  const int fd = mkstemp(path.data());
  if (fd >= 0) close(fd);
  return path;
}

TEST_F(ProgramLife, ReplayedCameraTypesOncePerHoldOffShowsTheReadAndClosesOnRequest) {
  const auto symbol = renderReplaySymbol(REPLAY_TEXT);
  ASSERT_TRUE(symbol);
  const std::string audioPath = temporaryPath("quarnel-life-beep");
  ChildProcess program(QUARNEL_REPLAY_PROGRAM, {REPLAY_TEXT},
                       {{"SDL_AUDIODRIVER", "disk"}, {"SDL_DISKAUDIOFILE", audioPath}});

  // The window: title, client area, always on top, fixed size, icon.
  const Window window = waitForMainWindow(program);
  ASSERT_NE(window, 0u) << program.err();
  XWindowAttributes attributes;
  ASSERT_NE(XGetWindowAttributes(display_, window, &attributes), 0);
  EXPECT_EQ(attributes.width, 640);
  EXPECT_EQ(attributes.height, 484);
  const auto states = windowProperty(display_, window, "_NET_WM_STATE", XA_ATOM);
  EXPECT_NE(std::find(states.begin(), states.end(), XInternAtom(display_, "_NET_WM_STATE_ABOVE", False)), states.end())
      << "always on top";
  XSizeHints hints{};
  long supplied = 0;
  ASSERT_NE(XGetWMNormalHints(display_, window, &hints, &supplied), 0);
  EXPECT_TRUE((hints.flags & PMinSize) && (hints.flags & PMaxSize));
  EXPECT_EQ(hints.min_width, 640);
  EXPECT_EQ(hints.max_width, 640);
  EXPECT_EQ(hints.min_height, 484);
  EXPECT_EQ(hints.max_height, 484);
  const auto icon = windowProperty(display_, window, "_NET_WM_ICON", XA_CARDINAL);
  ASSERT_EQ(icon.size(), 2u + 32 * 32) << "one 32 x 32 image";
  EXPECT_EQ(icon[0], 32u);
  EXPECT_EQ(icon[1], 32u);
  std::vector<unsigned long> colours(icon.begin() + 2, icon.end());
  std::sort(colours.begin(), colours.end());
  colours.erase(std::unique(colours.begin(), colours.end()), colours.end());
  EXPECT_LE(colours.size(), 16u) << "a 16-colour icon";
  EXPECT_GE(colours.size(), 2u);

  // With no window manager the program took the focus when it showed its window; take it back.
  ASSERT_TRUE(waitUntil([&] { return program.countInOut("preview 640x480") > 0; }, milliseconds(20000)))
      << "no preview: " << program.out();
  KeyRecorder keys;
  Window focus = 0;
  int revert = 0;
  XGetInputFocus(display_, &focus, &revert);
  ASSERT_EQ(focus, keys.window());

  // The symbol comes into view: its text is typed once, ending in Return.
  const auto shown = Clock::now();
  kill(program.pid(), REPLAY_SHOW_SYMBOL_SIGNAL);
  ASSERT_TRUE(waitUntil([&] { return keys.lineCount() >= 1; }, milliseconds(20000))) << "typed: " << keys.pending();
  const KeyRecorder::Line first = keys.lines()[0];
  EXPECT_EQ(first.text, REPLAY_TEXT + "\n");

  // The preview shows the read: the symbol outlined in red and the white label band.
  cv::Mat picture;
  waitUntil([&] { return countRed(picture = screenshot(display_, window)) > 100; }, milliseconds(5000));
  ASSERT_FALSE(picture.empty());
  if (const char* keep = std::getenv("QUARNEL_LIFE_SCREENSHOT")) cv::imwrite(keep, picture);
  expectRedOutline(picture, outlineOf(symbol->corners));
  expectLabelBand(picture);

  // The read was confirmed by a 200 ms beep of 750 Hz.
  std::optional<Tone> tone;
  waitUntil([&] { return (tone = toneInFile(audioPath)) && tone->seconds >= 0.199; }, milliseconds(3000));
  ASSERT_TRUE(tone) << "no beep";
  EXPECT_NEAR(tone->seconds, 0.200, 0.001);
  EXPECT_NEAR(tone->hertz, 750.0, 7.5);

  // The symbol leaves and the hold-off runs out with no frame to clear it: nothing more is typed.
  kill(program.pid(), REPLAY_SHOW_EMPTY_SIGNAL);
  std::this_thread::sleep_until(first.at + milliseconds(6500));
  EXPECT_EQ(keys.lineCount(), 1u);
  EXPECT_EQ(keys.pending(), "");

  // Back in view: the first frame with a result ends the hold-off, the next one types.
  const auto again = Clock::now();
  kill(program.pid(), REPLAY_SHOW_SYMBOL_SIGNAL);
  ASSERT_TRUE(waitUntil([&] { return keys.lineCount() >= 2; }, milliseconds(20000)));
  const KeyRecorder::Line second = keys.lines()[1];
  EXPECT_EQ(second.text, REPLAY_TEXT + "\n");
  EXPECT_GE(msSince(first.at, second.at), 5000.0);
  EXPECT_GE(msSince(again, second.at), 100.0) << "typed by the frame that ended the hold-off";
  EXPECT_GT(first.at, shown);

  // Still in view, but held off again.
  std::this_thread::sleep_for(milliseconds(1500));
  EXPECT_EQ(keys.lineCount(), 2u);

  // Closing the window ends the process at once, while the worker is in the middle of its cycles.
  expectClosesWithExitCode1(program, window);
  std::filesystem::remove(audioPath);
}

TEST_F(ProgramLife, WindowTakesNoKeyboardFocusAndAReadWithNoFocusedWindowWaitsForOne) {
  KeyRecorder keys;
  ChildProcess program(QUARNEL_REPLAY_PROGRAM, {REPLAY_TEXT}, {{"SDL_AUDIODRIVER", "dummy"}});
  const Window window = waitForMainWindow(program);
  ASSERT_NE(window, 0u) << program.err();
  ASSERT_TRUE(waitUntil([&] { return program.countInOut("preview 640x480") > 0; }, milliseconds(20000)));

  // The window manager is told that the window takes no input, and is offered no focus protocol.
  XWMHints* hints = XGetWMHints(display_, window);
  ASSERT_NE(hints, nullptr);
  EXPECT_TRUE((hints->flags & InputHint) && !hints->input) << "input hint off";
  XFree(hints);
  Atom* protocols = nullptr;
  int protocolCount = 0;
  ASSERT_NE(XGetWMProtocols(display_, window, &protocols, &protocolCount), 0);
  const std::vector<Atom> listed(protocols, protocols + protocolCount);
  XFree(protocols);
  EXPECT_EQ(std::count(listed.begin(), listed.end(), XInternAtom(display_, "WM_TAKE_FOCUS", False)), 0);
  EXPECT_EQ(std::count(listed.begin(), listed.end(), XInternAtom(display_, "WM_DELETE_WINDOW", False)), 1)
      << "it can still be closed";

  // Showing the window and clicking into it leave the focus where it was.
  const auto focused = [this] {
    Window focus = 0;
    int revert = 0;
    XGetInputFocus(display_, &focus, &revert);
    return focus;
  };
  EXPECT_EQ(focused(), keys.window());
  int x = 0;
  int y = 0;
  Window child = 0;
  XTranslateCoordinates(display_, window, DefaultRootWindow(display_), 320, 240, &x, &y, &child);
  XTestFakeMotionEvent(display_, -1, x, y, CurrentTime);
  XTestFakeButtonEvent(display_, 1, True, CurrentTime);
  XTestFakeButtonEvent(display_, 1, False, CurrentTime);
  XSync(display_, False);
  std::this_thread::sleep_for(milliseconds(500));
  EXPECT_EQ(focused(), keys.window()) << "a click does not take the focus";

  // No window has the focus: the read is not typed, and the band at the foot of the picture says so.
  XSetInputFocus(display_, None, RevertToNone, CurrentTime);
  XSync(display_, False);
  kill(program.pid(), REPLAY_SHOW_SYMBOL_SIGNAL);
  cv::Mat picture;
  const auto bandIsWhite = [&] {
    picture = screenshot(display_, window);
    if (picture.empty()) return false;
    const cv::Rect band(20, picture.rows - 2 - 24, picture.cols - 40, 20);
    return fractionIn(picture, band, isWhite) > 0.5;
  };
  EXPECT_TRUE(waitUntil(bandIsWhite, milliseconds(10000))) << "no warning band";
  std::this_thread::sleep_for(milliseconds(1000));
  EXPECT_EQ(keys.lineCount(), 0u);
  EXPECT_EQ(keys.pending(), "");

  // Once a window has the focus again, the symbol still in view is typed by one of the next frames: the
  // read that found no focus started no hold-off.
  XSetInputFocus(display_, keys.window(), RevertToParent, CurrentTime);
  XSync(display_, False);
  ASSERT_TRUE(waitUntil([&] { return keys.lineCount() >= 1; }, milliseconds(3000))) << keys.pending();
  EXPECT_EQ(keys.lines()[0].text, REPLAY_TEXT + "\n");
  expectClosesWithExitCode1(program, window);
}

TEST_F(ProgramLife, MinimisedWindowShowsNoPreviewUntilRestoredAtTheSameSize) {
  ChildProcess program(QUARNEL_REPLAY_PROGRAM, {REPLAY_TEXT}, {{"SDL_AUDIODRIVER", "dummy"}});
  const Window window = waitForMainWindow(program);
  ASSERT_NE(window, 0u) << program.err();
  ASSERT_TRUE(waitUntil([&] { return program.countInOut("preview ") > 0; }, milliseconds(20000)));

  // Unmapping is what a window manager does when it iconifies a window.
  XUnmapWindow(display_, window);
  XFlush(display_);
  // A cycle already past its layout check may still hand one preview over.
  std::this_thread::sleep_for(milliseconds(1500));
  const int whileMinimised = program.countInOut("preview ");
  std::this_thread::sleep_for(milliseconds(2000));
  EXPECT_EQ(program.countInOut("preview "), whileMinimised) << "previews while minimised";

  XMapWindow(display_, window);
  XFlush(display_);
  ASSERT_TRUE(waitUntil([&] { return program.countInOut("preview ") > whileMinimised + 2; }, milliseconds(10000)))
      << "no preview after restoring";
  EXPECT_EQ(program.countInOut("preview "), program.countInOut("preview 640x480")) << "all at the same size";
  expectClosesWithExitCode1(program, findWindow(display_, "Quarnel", program.pid()));
}

TEST_F(ProgramLife, RealProgramWithoutACameraKeepsItsWindowAndReportsTheMissingDevice) {
  ChildProcess program(QUARNEL_PROGRAM, {}, {{"SDL_AUDIODRIVER", "dummy"}});
  const Window window = waitForMainWindow(program);
  ASSERT_NE(window, 0u) << program.err();
  // Start-up tries the default open and the sized one; every reconnect tries both again.
  ASSERT_TRUE(waitUntil([&] { return program.countInOut("SETUP: device[0] not found - you have 0 devices available") >= 4; },
                        milliseconds(20000)))
      << program.out();
  const std::string out = program.out();
  const std::string banner = out.substr(out.find_first_not_of('\n'), out.find('\n', out.find_first_not_of('\n')));
  EXPECT_EQ(banner.rfind("***** ", 0), 0u) << "the capture banner comes first: " << out;
  EXPECT_NE(out.find("SETUP: 0 Device(s) found"), std::string::npos) << out;
  EXPECT_TRUE(program.running());
  EXPECT_EQ(findWindow(display_, "Quarnel", program.pid()), window);
  expectClosesWithExitCode1(program, window);
}

// A machine without a sound card: the audio driver may start although no device opens. Standard error
// says so once, at start; with a device (SDL's dummy output) it says nothing about sound.
TEST_F(ProgramLife, RealProgramSaysOnceWhenThereIsNoAudioDevice) {
  const std::string emptyConfig = temporaryPath("quarnel-no-sound");
  struct Case {
    const char* name;
    std::map<std::string, std::optional<std::string>> env;
    size_t notices;
  };
  const Case cases[] = {
      // ALSA with an empty configuration knows no device, as on a machine without a sound card.
      {"no device", {{"SDL_AUDIODRIVER", "alsa"}, {"ALSA_CONFIG_PATH", emptyConfig}}, 1},
      {"a device", {{"SDL_AUDIODRIVER", "dummy"}}, 0},
  };
  for (const Case& c : cases) {
    ChildProcess program(QUARNEL_PROGRAM, {}, c.env);
    const Window window = waitForMainWindow(program);
    ASSERT_NE(window, 0u) << c.name << ": " << program.err();
    std::this_thread::sleep_for(milliseconds(1500));
    const std::string err = program.err();
    size_t notices = 0;
    for (size_t at = err.find("quarnel: no audio device"); at != std::string::npos;
         at = err.find("quarnel: no audio device", at + 1)) {
      ++notices;
    }
    EXPECT_EQ(notices, c.notices) << c.name << ": " << err;
    if (c.notices > 0) {
      EXPECT_NE(err.find("reads are confirmed without a beep\n"), std::string::npos) << c.name << ": " << err;
    }
    expectClosesWithExitCode1(program, window);
  }
  unlink(emptyConfig.c_str());
}

// The documented exit status of a start whose window cannot be shown.
constexpr int PROGRAM_EXIT_NO_WINDOW = 3;

TEST_F(ProgramLife, RealProgramWithoutADisplayReportsTheClassRegistrationFailure) {
  ChildProcess program(QUARNEL_PROGRAM, {}, {{"DISPLAY", std::nullopt}, {"WAYLAND_DISPLAY", std::nullopt}});
  const std::optional<int> status = program.waitExit(milliseconds(10000));
  ASSERT_TRUE(status) << "still running without a display";
  EXPECT_TRUE(exitedWith(status, PROGRAM_EXIT_NO_WINDOW)) << *status << ": a failure is not reported as success";
  EXPECT_NE(program.err().find("Cannot register class\n"), std::string::npos) << program.err();
  EXPECT_EQ(program.out(), "") << "no worker was started";
}

TEST_F(ProgramLife, RealProgramWhoseWindowCannotBeMadeShowsTheErrorBoxUntilDismissed) {
  // A visual the server does not have makes window creation fail. The box runs in a child process of
  // SDL's own, which ends through exit; leaks of the libraries it loaded are not the program's.
  const char* sanitizer = std::getenv("ASAN_OPTIONS");
  const std::string asanOptions = std::string(sanitizer != nullptr ? sanitizer : "") + ":detect_leaks=0";
  ChildProcess program(QUARNEL_PROGRAM, {},
                       {{"SDL_VIDEO_X11_WINDOW_VISUALID", "0x7ffffff0"}, {"ASAN_OPTIONS", asanOptions},
                        {"SDL_AUDIODRIVER", "dummy"}});
  const Window box = waitForWindow(display_, "Error", std::nullopt, milliseconds(20000));
  ASSERT_NE(box, 0u) << program.err();
  std::this_thread::sleep_for(milliseconds(500));
  EXPECT_TRUE(program.running()) << "the box waits for the user";
  EXPECT_EQ(findWindow(display_, "Quarnel", program.pid()), 0u);

  // The box may be mapped before it listens for the close request; on a busy machine the first request
  // can be lost, so it is repeated until the box goes (a person would click again too).
  std::optional<int> status;
  for (int attempt = 0; attempt < 10 && !status; ++attempt) {
    requestClose(display_, box);
    status = program.waitExit(milliseconds(1000));
  }
  ASSERT_TRUE(status) << "still running after the box was dismissed";
  EXPECT_TRUE(exitedWith(status, PROGRAM_EXIT_NO_WINDOW)) << *status;
  EXPECT_EQ(program.err().find("Cannot create window"), std::string::npos) << "shown in the box, not on stderr";
  EXPECT_EQ(program.out(), "");
}

// The command line of the real program: what ends at once, and what is refused before anything starts.
// Run without a display, so that a line that wrongly went on to start shows as the display failure.
TEST_F(ProgramLife, RealProgramCommandLine) {
  const std::string unwritable =
      (std::filesystem::temp_directory_path() / "quarnel-no-such-dir" / "reads.log").string();
  const struct {
    std::vector<std::string> args;
    int status;
    const char* out;  // the start of standard output
    std::string err;  // standard error, exactly
  } cases[] = {
      {{"--help"}, 0, "Usage: quarnel [OPTION]...\n", ""},
      {{"--version"}, 0, "quarnel ", ""},
      {{"--bogus"}, 2, "", "quarnel: unknown option '--bogus'\nUsage: quarnel [OPTION]...\n"},
      {{"--hold-off", "-1"}, 2, "",
       "quarnel: invalid hold-off '-1' for '--hold-off': give 0 to 600000 milliseconds\nUsage: quarnel [OPTION]...\n"},
      {{"--gs", "a\nb"}, 2, "",
       "quarnel: invalid text for '--gs': it may hold no control character but Tab\nUsage: quarnel [OPTION]...\n"},
      {{"--aim=on"}, 2, "", "quarnel: option '--aim' takes no value\nUsage: quarnel [OPTION]...\n"},
      {{"--log=" + unwritable}, 2, "",
       "quarnel: cannot open the log " + unwritable + ": No such file or directory\n"},
  };
  for (const auto& c : cases) {
    ChildProcess program(QUARNEL_PROGRAM, c.args, {{"DISPLAY", std::nullopt}, {"WAYLAND_DISPLAY", std::nullopt}});
    const std::optional<int> status = program.waitExit(milliseconds(10000));
    ASSERT_TRUE(status) << c.args[0];
    EXPECT_TRUE(exitedWith(status, c.status)) << c.args[0] << ": " << *status;
    EXPECT_EQ(program.out().rfind(c.out, 0), 0u) << c.args[0] << ": " << program.out();
    EXPECT_EQ(program.err(), c.err) << c.args[0];
  }
}

TEST_F(ProgramLife, RealProgramListsCamerasAndExits) {
  ChildProcess program(QUARNEL_PROGRAM, {"--list-cameras"}, {{"DISPLAY", std::nullopt}});
  const std::optional<int> status = program.waitExit(milliseconds(10000));
  ASSERT_TRUE(status);
  EXPECT_TRUE(exitedWith(status, 0)) << *status;
  EXPECT_EQ(program.err(), "");
  // This machine's cameras are unknown; with none the listing says so, else it starts at index 0.
  const std::string out = program.out();
  EXPECT_TRUE(out == "No camera found.\n" || out.rfind("0: ", 0) == 0) << out;
  EXPECT_EQ(out.find("SETUP"), std::string::npos) << "no capture diagnostics";
}

}  // namespace
}  // namespace programtest
