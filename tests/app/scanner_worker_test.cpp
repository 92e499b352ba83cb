// Whole worker cycles: a scripted camera behind the real capture manager, a scripted or the real
// decoder, a fake clock and recording keyboard, sound and preview ports.
#include "app/scanner_worker.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "app/text_keysyms.h"
#include "tests/support/fake_camera.h"
#include "tests/capture/scripted_backend.h"
#include "tests/support/symbol_encoder.h"
#include "tests/support/symbol_renderer.h"

namespace {

// The worker's platform: a clock that only moves when the worker sleeps, a decode takes time or a beep
// plays, a keyboard whose key codes are the characters themselves, a beep counter and a preview recorder.
struct FakeHost {
  std::uint32_t now = 0;
  std::vector<std::uint32_t> sleeps;
  std::function<void()> onSleep;  // what the world does while the worker pauses
  std::string typed;
  int beeps = 0;
  PreviewRect clientArea{0, 0, 640, 484};
  std::vector<cv::Mat> previews;

  AppPorts ports() {
    AppPorts p;
    // Printable ASCII, Return and Tab, each on the key of its own code.
    p.keyboard.keysymScan = [](std::uint32_t keysym) {
      if (keysym == TEXT_KEYSYM_RETURN) return static_cast<std::int16_t>('\n');
      if (keysym == TEXT_KEYSYM_TAB) return static_cast<std::int16_t>('\t');
      return keysym >= 0x20 && keysym < 0x7F ? static_cast<std::int16_t>(keysym) : KEY_SCAN_NONE;
    };
    p.keyboard.keyEvent = [this](int key, unsigned flags) {
      if ((flags & KEY_EVENT_UP) == 0 && key < 0x100) typed += static_cast<char>(key);
    };
    p.keyboard.flushKeys = [] {};
    p.sound.beep = [this](std::uint32_t, std::uint32_t ms) {
      ++beeps;
      now += ms;
    };
    p.clock.tickCount = [this] { return now; };
    p.clock.sleepMs = [this](std::uint32_t ms) {
      sleeps.push_back(ms);
      now += ms;
      if (onSleep) onSleep();
    };
    p.preview.previewRect = [this] { return clientArea; };
    p.preview.showPreview = [this](const IplImage* image) { previews.push_back(cv::cvarrToMat(image).clone()); };
    return p;
  }
};

DecodeResult makeResult(const char* text, std::vector<CvPoint> corners) {
  DecodeResult result{};
  for (int c = 0; c < 4; ++c) result.corners[c] = corners[static_cast<std::size_t>(c)];
  std::strncpy(result.text, text, sizeof result.text - 1);
  return result;
}

// Answers the whole read of each frame from a script and records every call; each call takes the
// scripted time. A read scripted to fail returns -1 and, like the decoder, leaves results and count alone.
struct ScriptedDecoder {
  std::vector<DecodeResult> found;
  std::vector<DecodedSymbol> wholeMessages;  // read after `found`: messages no result record can hold
  bool fails = false;
  std::uint32_t readMs = 0;
  int calls = 0;
  std::vector<cv::Mat> greys;

  ScanFunction function(FakeHost& host) {
    return [this, &host](IplImage* grey, std::vector<DecodedSymbol>* symbols) {
      ++calls;
      greys.push_back(cv::cvarrToMat(grey).clone());
      host.now += readMs;
      if (fails) return -1;
      for (const DecodeResult& result : found) {
        DecodedSymbol symbol;
        for (int c = 0; c < 4; ++c) symbol.corners[c] = result.corners[c];
        symbol.message.assign(result.text, result.text + strnlen(result.text, DECODE_TEXT_SIZE));
        symbols->push_back(symbol);
      }
      symbols->insert(symbols->end(), wholeMessages.begin(), wholeMessages.end());
      return 0;
    };
  }
};

cv::Mat uniformFrame(int width, int height, cv::Scalar bgr) { return cv::Mat(height, width, CV_8UC3, bgr); }

// A symbol at 10 px per module, clean, in the renderer's default frame.
testsupport::RenderedSymbol renderLarge(const testsupport::SymbolMatrix& symbol) {
  testsupport::RenderOptions options;
  options.moduleSize = 10.0;
  return testsupport::renderSymbol(symbol, options);
}

// The camera's picture of it: the grey rendering as a BGR frame.
cv::Mat colourFrameOf(const testsupport::RenderedSymbol& rendered) {
  cv::Mat frame;
  cv::cvtColor(rendered.grey, frame, cv::COLOR_GRAY2BGR);
  return frame;
}

class ScannerCycle : public ::testing::Test {
 protected:
  void start(int width = 640, int height = 480) {
    camera = std::make_unique<FakeCamera>(width, height);
    startWith(*camera);
  }
  void startWith(FakeCamera& cam) {
    capture = std::make_unique<CaptureManager>(cam);
    worker.scan = decoder.function(host);
    ports = host.ports();
    startScanner(worker, *capture, ports);
  }
  void cycle() { runScannerCycle(worker, *capture, ports); }
  cv::Mat colour() const { return cv::cvarrToMat(worker.colour); }

  FakeHost host;
  ScriptedDecoder decoder;
  std::unique_ptr<FakeCamera> camera;
  std::unique_ptr<CaptureManager> capture;
  ScannerWorker worker;
  AppPorts ports;
};

// Frame time of 15 frames a second, in the capture component's 100 ns units.
constexpr std::int64_t FRAME_TIME_15_FPS = 10000000 / 15;

std::vector<std::int64_t> frameTimesSet(const FakeCamera& camera) {
  std::vector<std::int64_t> times;
  for (const VideoFormat& format : camera.formatsSet()) times.push_back(format.frameTime);
  return times;
}

TEST_F(ScannerCycle, StartUpListsTheDevicesOpensTheCameraAt15FpsSizesTheColourImageAndPauses) {
  ::testing::internal::CaptureStdout();
  start(320, 240);
  const std::string printed = ::testing::internal::GetCapturedStdout();
  EXPECT_NE(printed.find(std::string("SETUP: 0) ") + FakeCamera::NAME), std::string::npos) << printed;
  EXPECT_NE(printed.find("SETUP: 1 Device(s) found"), std::string::npos) << printed;
  EXPECT_EQ(camera->graphsStarted(), 1);
  EXPECT_EQ(frameTimesSet(*camera), (std::vector<std::int64_t>{FRAME_TIME_15_FPS}));
  ASSERT_NE(worker.colour, nullptr);
  EXPECT_EQ(worker.colour->width, 320);
  EXPECT_EQ(worker.colour->height, 240);
  EXPECT_EQ(host.sleeps, (std::vector<std::uint32_t>{1000}));
}

// The device opens at its default format; 640 x 480 is asked for only when that open failed.
TEST_F(ScannerCycle, OpensAtTheDefaultFormatAndAt640By480OnlyWhenThatFails) {
  struct Case {
    int failingOpens;
    cv::Size colour;
  } cases[] = {{0, {320, 240}}, {1, {640, 480}}};
  for (const Case& c : cases) {
    FakeCamera cam(320, 240);
    cam.setOtherSizes({{640, 480}});
    cam.failNextOpens(c.failingOpens);
    ScannerWorker fresh;
    FakeHost freshHost;
    CaptureManager manager(cam);
    startScanner(fresh, manager, freshHost.ports());
    EXPECT_EQ(cam.graphsStarted(), 1) << c.failingOpens;
    ASSERT_NE(fresh.colour, nullptr) << c.failingOpens;
    EXPECT_EQ(cv::Size(fresh.colour->width, fresh.colour->height), c.colour) << c.failingOpens;
  }
}

TEST_F(ScannerCycle, FrameWithoutSymbolIsReadOnceTypesNothingAndStillUpdatesThePreview) {
  start();
  // A picture that is not the same upside down, so the copy's orientation shows in the grey image.
  cv::Mat frame = uniformFrame(640, 480, cv::Scalar(0, 0, 0));
  frame.rowRange(0, 240).setTo(cv::Scalar(200, 200, 200));
  ASSERT_TRUE(camera->deliverFrame(frame));
  cycle();
  EXPECT_EQ(decoder.calls, 1);
  ASSERT_EQ(decoder.greys.size(), 1u);
  EXPECT_GT(decoder.greys[0].at<std::uint8_t>(0, 0), 150);    // top row bright, as delivered
  EXPECT_LT(decoder.greys[0].at<std::uint8_t>(479, 0), 50);
  EXPECT_EQ(host.typed, "");
  EXPECT_EQ(host.beeps, 0);
  ASSERT_EQ(host.previews.size(), 1u);
  EXPECT_EQ(cv::norm(host.previews[0], frame, cv::NORM_INF), 0.0);  // no overlay drawn
}

TEST_F(ScannerCycle, ReadIsDrawnAndTyped) {
  start();
  decoder.found = {makeResult("SECOND", {{10, 100}, {60, 100}, {60, 150}, {10, 150}})};
  camera->deliverFrame(uniformFrame(640, 480, cv::Scalar(128, 128, 128)));
  cycle();
  EXPECT_EQ(decoder.calls, 1);
  EXPECT_EQ(host.typed, "SECOND\n");
  EXPECT_EQ(host.beeps, 1);
  EXPECT_EQ(colour().at<cv::Vec3b>(100, 30), cv::Vec3b(0, 0, 255));
}

// The wedge gets the whole message of a read, however long and with its NUL bytes; the label shows the
// message as text, cut to what the result record holds.
TEST_F(ScannerCycle, WholeMessagesAreTypedAndLabelled) {
  const struct {
    const char* name;
    std::vector<std::uint8_t> message;
    int eci;
    std::string typed;
    std::string label;
  } cases[] = {
      {"1,700 bytes", std::vector<std::uint8_t>(1700, 'k'), -1, std::string(1700, 'k') + "\n",
       std::string(DECODE_TEXT_SIZE - 1, 'k')},
      {"UTF-16, a NUL in every code unit", {0, 'I', 0, 'D', 0, '-', 0, '7'}, 25, "ID-7\n", "ID-7"},
  };
  worker.settings.wedge.holdOffMs = 0;  // each case is typed on the frame that shows it
  start();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    host.typed.clear();
    host.beeps = 0;
    DecodedSymbol symbol;
    const CvPoint corners[4] = {{10, 100}, {60, 100}, {60, 150}, {10, 150}};
    std::copy(corners, corners + 4, symbol.corners);
    symbol.message = c.message;
    if (c.eci >= 0) symbol.meaning.ecis = {{c.eci, 0}};
    decoder.wholeMessages = {symbol};
    camera->deliverFrame(uniformFrame(640, 480, cv::Scalar(128, 128, 128)));
    cycle();
    EXPECT_EQ(host.typed, c.typed);
    EXPECT_EQ(host.beeps, 1);
    ASSERT_EQ(worker.count, 1);
    EXPECT_EQ(std::string(worker.results[0].text), c.label);
    EXPECT_EQ(colour().at<cv::Vec3b>(100, 30), cv::Vec3b(0, 0, 255));
  }
}

// Result i's outline is drawn before band i + 1 and after band i - 1: an outline through a later band
// is painted over, one through an earlier band stays on top of it.
// A read that fails is a frame without symbols: nothing typed, no overlay, and the count of an earlier
// frame does not carry over.
TEST_F(ScannerCycle, FailedReadShowsTheFrameWithoutOverlay) {
  struct Case {
    const char* name;
    bool fails;
    const char* typed;
  } cases[] = {
      {"read succeeds", false, "FIRST\n"},
      {"read fails", true, ""},
  };
  start();
  for (const Case& c : cases) {
    decoder.calls = 0;
    decoder.found = {makeResult("FIRST", {{10, 100}, {60, 100}, {60, 150}, {10, 150}})};
    decoder.fails = c.fails;
    host.typed.clear();
    host.previews.clear();
    worker.wedge = KeyboardWedge{};
    const cv::Mat frame = uniformFrame(640, 480, cv::Scalar(128, 128, 128));
    camera->deliverFrame(frame);
    cycle();
    EXPECT_EQ(decoder.calls, 1) << c.name;
    EXPECT_EQ(worker.count, c.fails ? 0 : 1) << c.name;
    EXPECT_EQ(host.typed, c.typed) << c.name;
    ASSERT_EQ(host.previews.size(), 1u) << c.name;
    if (c.fails) {
      EXPECT_EQ(cv::norm(host.previews[0], frame, cv::NORM_INF), 0.0) << c.name;  // no overlay
    }
  }
}

TEST_F(ScannerCycle, ThreeResultsAreDrawnInOrderAndOnlyTheFirstIsTyped) {
  start();
  // Bands for a 640-wide frame: rows 0..30, 30..60, 60..90, columns 0..512.
  decoder.found = {
      makeResult("FIRST", {{520, 45}, {600, 45}, {600, 200}, {300, 45}}),    // crosses band 1
      makeResult("SECOND", {{540, 300}, {630, 300}, {630, 400}, {540, 400}}),
      makeResult("THIRD", {{450, 15}, {630, 15}, {630, 250}, {450, 250}}),   // crosses band 0
  };
  camera->deliverFrame(uniformFrame(640, 480, cv::Scalar(128, 128, 128)));
  cycle();
  const cv::Vec3b red(0, 0, 255);
  const cv::Vec3b white(255, 255, 255);
  EXPECT_EQ(colour().at<cv::Vec3b>(45, 505), white);  // result 0's outline under band 1
  EXPECT_EQ(colour().at<cv::Vec3b>(45, 550), red);    // and beside it
  EXPECT_EQ(colour().at<cv::Vec3b>(15, 505), red);    // result 2's outline over band 0
  EXPECT_EQ(colour().at<cv::Vec3b>(350, 630), red);   // result 1's outline
  EXPECT_EQ(host.typed, "FIRST\n");
  EXPECT_EQ(host.beeps, 1);
}

// One result on a 1000 x 750 frame: the band's bottom row is floor(0.047f x 1000) = 46 (not 47, as the
// double 0.047 would give), its right column 800, the text baseline row 31.
TEST_F(ScannerCycle, OverlayOfOneKnownResultHasRedOutlineWhiteBandAndBlackTextInsideIt) {
  start(1000, 750);
  decoder.found = {makeResult("HELLO", {{600, 400}, {800, 400}, {800, 600}, {600, 600}})};
  const cv::Vec3b grey(128, 128, 128);
  camera->deliverFrame(uniformFrame(1000, 750, cv::Scalar(128, 128, 128)));
  cycle();
  const cv::Mat image = colour();
  const cv::Vec3b red(0, 0, 255);
  const cv::Vec3b white(255, 255, 255);
  const cv::Vec3b black(0, 0, 0);
  for (const cv::Point p : {cv::Point(700, 400), cv::Point(800, 500), cv::Point(700, 600), cv::Point(600, 500),
                            cv::Point(600, 400), cv::Point(800, 600)}) {
    EXPECT_EQ(image.at<cv::Vec3b>(p), red) << p;
  }
  EXPECT_EQ(image.at<cv::Vec3b>(500, 700), grey);  // inside the outline
  EXPECT_EQ(image.at<cv::Vec3b>(46, 790), white);
  EXPECT_EQ(image.at<cv::Vec3b>(47, 790), grey);
  EXPECT_EQ(image.at<cv::Vec3b>(10, 800), white);
  EXPECT_EQ(image.at<cv::Vec3b>(10, 801), grey);

  int textPixels = 0;
  cv::Rect textBox;
  for (int y = 0; y < image.rows; ++y) {
    for (int x = 0; x < image.cols; ++x) {
      const cv::Vec3b pixel = image.at<cv::Vec3b>(y, x);
      if (pixel == black) {
        textBox = textPixels++ == 0 ? cv::Rect(x, y, 1, 1) : (textBox | cv::Rect(x, y, 1, 1));
      } else {
        const bool inBand = y <= 46 && x <= 800;
        EXPECT_TRUE(pixel == red || pixel == (inBand ? white : grey)) << "at " << x << "," << y;
        if (HasFailure()) return;
      }
    }
  }
  EXPECT_GT(textPixels, 100);
  EXPECT_GE(textBox.y, 0);
  EXPECT_LE(textBox.br().y, 47);          // all text inside the band
  EXPECT_LE(textBox.br().y, 31 + 3);      // sitting on the baseline
  EXPECT_LT(textBox.x, 10);               // starting at the left edge
  EXPECT_EQ(host.typed, "HELLO\n");

  // The preview is scaled from the frame after the overlay: 1000 x 750 to 640 x 480.
  ASSERT_EQ(host.previews.size(), 1u);
  const cv::Mat preview = host.previews[0];
  EXPECT_EQ(preview.at<cv::Vec3b>(3, 400), white);
  int reddish = 0;
  for (int x = 390; x < 450; ++x) {
    for (int y = 254; y <= 258; ++y) {
      const cv::Vec3b p = preview.at<cv::Vec3b>(y, x);
      reddish += p[2] > p[1] + 100 ? 1 : 0;
    }
  }
  EXPECT_GT(reddish, 50);  // the outline's top side, one row in the frame, at row 256 of the preview
}

// Three labels on a 1000-wide frame. The bands together reach down to floor(3 x 0.047f x 1000) = 140
// (the double 0.047 would give 141); label 2's baseline, floor(3 x 1000 / 32) = 93, is band 2's top,
// so its text lies above its own band, over band 1.
TEST_F(ScannerCycle, LabelsFromTheThirdOnSitAboveTheirBands) {
  start(1000, 750);
  const std::vector<CvPoint> corners{{600, 400}, {800, 400}, {800, 600}, {600, 600}};
  decoder.found = {makeResult("", corners), makeResult("", corners), makeResult("MMMMMMMMMMMM", corners)};
  camera->deliverFrame(uniformFrame(1000, 750, cv::Scalar(128, 128, 128)));
  cycle();
  const cv::Mat image = colour();
  const cv::Vec3b white(255, 255, 255);
  const cv::Vec3b grey(128, 128, 128);
  EXPECT_EQ(image.at<cv::Vec3b>(140, 790), white);
  EXPECT_EQ(image.at<cv::Vec3b>(141, 790), grey);

  // Only label 2 has text: all of it between band 1's top (46) and its baseline, give or take the
  // thickness of the stroke.
  std::vector<cv::Point> black;
  cv::Mat blackMask;
  cv::inRange(image, cv::Scalar(0, 0, 0), cv::Scalar(0, 0, 0), blackMask);
  cv::findNonZero(blackMask, black);
  ASSERT_GT(black.size(), 300u);
  const cv::Rect textBox = cv::boundingRect(black);
  EXPECT_GT(textBox.y, 46);
  EXPECT_LE(textBox.br().y - 1, 93 + 1);
}

TEST_F(ScannerCycle, StalledCameraReconnectsOnTheFifthEmptyPollThenOnEveryPollUntilAFrameArrives) {
  start();
  ASSERT_TRUE(camera->deliverFrame(uniformFrame(640, 480, cv::Scalar(90, 90, 90))));
  cycle();
  ASSERT_EQ(worker.missCount, 0);
  host.sleeps.clear();

  cycle();  // five empty polls
  EXPECT_EQ(worker.missCount, 5);
  EXPECT_EQ(camera->graphsStarted(), 2);
  EXPECT_EQ(camera->graphsStopped(), 1);
  cycle();  // one empty poll
  EXPECT_EQ(worker.missCount, 6);
  EXPECT_EQ(camera->graphsStarted(), 3);
  // Every reopen asks for 15 frames a second again: closing forgets the request.
  EXPECT_EQ(frameTimesSet(*camera), std::vector<std::int64_t>(3, FRAME_TIME_15_FPS));
  // Each reconnect pauses 1000 ms and then still processes the old frame, paced to 100 ms.
  EXPECT_EQ(host.sleeps, (std::vector<std::uint32_t>{1000, 100, 1000, 100}));
  EXPECT_EQ(decoder.calls, 3);

  ASSERT_TRUE(camera->deliverFrame(uniformFrame(640, 480, cv::Scalar(90, 90, 90))));
  cycle();
  EXPECT_EQ(worker.missCount, 0);
  EXPECT_EQ(camera->graphsStarted(), 3);
}

TEST_F(ScannerCycle, ReconnectThatChangesTheFrameSizeRemakesTheImages) {
  start(320, 240);
  camera->deliverFrame(uniformFrame(320, 240, cv::Scalar(10, 20, 30)));
  cycle();
  camera->setFrameSize(640, 480);  // the camera comes back larger
  cycle();  // stalls and reconnects
  ASSERT_EQ(camera->graphsStarted(), 2);
  ASSERT_NE(worker.colour, nullptr);
  EXPECT_EQ(worker.colour->width, 640);
  EXPECT_EQ(worker.colour->height, 480);

  const cv::Mat frame = uniformFrame(640, 480, cv::Scalar(40, 50, 60));
  ASSERT_TRUE(camera->deliverFrame(frame));
  cycle();
  EXPECT_EQ(cv::norm(colour(), frame, cv::NORM_INF), 0.0);
  ASSERT_FALSE(decoder.greys.empty());
  EXPECT_EQ(decoder.greys.back().size(), cv::Size(640, 480));
}

// 322 x 3 bytes is no multiple of 4: rows padded to an aligned stride would shear the picture.
TEST_F(ScannerCycle, FrameWhoseRowsAreNotWordAlignedArrivesUnsheared) {
  start(322, 240);
  cv::Mat frame(240, 322, CV_8UC3);
  cv::randu(frame, cv::Scalar::all(0), cv::Scalar::all(256));
  ASSERT_TRUE(camera->deliverFrame(frame));
  cycle();
  EXPECT_EQ(cv::norm(colour(), frame, cv::NORM_INF), 0.0);
  cv::Mat expectedGrey;
  cv::cvtColor(frame, expectedGrey, cv::COLOR_BGR2GRAY);
  ASSERT_FALSE(decoder.greys.empty());
  EXPECT_EQ(cv::norm(decoder.greys[0], expectedGrey, cv::NORM_INF), 0.0);
}

// A notice picture: the window's face colour around a white band in the middle with dark text on it,
// and no trace of a camera picture.
void expectNotice(const cv::Mat& preview) {
  ASSERT_EQ(preview.type(), CV_8UC3);
  const cv::Vec3b face(240, 240, 240);
  EXPECT_EQ(preview.at<cv::Vec3b>(0, 0), face);
  EXPECT_EQ(preview.at<cv::Vec3b>(preview.rows - 1, preview.cols - 1), face);
  const cv::Mat middle = preview.rowRange(preview.rows / 2 - 20, preview.rows / 2 + 20);
  const int white = cv::countNonZero(cv::Mat(middle == cv::Scalar(255, 255, 255)).reshape(1) > 0);
  int dark = 0;
  for (int y = 0; y < middle.rows; ++y) {
    for (int x = 0; x < middle.cols; ++x) dark += middle.at<cv::Vec3b>(y, x)[0] < 100 ? 1 : 0;
  }
  EXPECT_GT(white, middle.total());
  EXPECT_GT(dark, 200) << "the message's text";
}

TEST_F(ScannerCycle, OpenCameraThatHasSentNothingYetShowsAWaitingNoticeInsteadOfAnEmptyPicture) {
  start(320, 240);
  cycle();  // no frame: five empty polls and a reconnect
  ASSERT_EQ(host.previews.size(), 1u);
  expectNotice(host.previews[0]);
  const cv::Mat waiting = host.previews[0];

  ASSERT_TRUE(camera->deliverFrame(uniformFrame(320, 240, cv::Scalar(10, 20, 30))));
  cycle();
  ASSERT_EQ(host.previews.size(), 2u);
  const cv::Mat picture(host.previews[1].size(), CV_8UC3, cv::Scalar(10, 20, 30));
  EXPECT_EQ(cv::norm(host.previews[1], picture, cv::NORM_INF), 0.0) << "the camera's picture";

  // A camera that stalls later keeps its last picture; the notice is for a camera never seen.
  cycle();
  ASSERT_EQ(host.previews.size(), 3u);
  EXPECT_EQ(cv::norm(host.previews[2], picture, cv::NORM_INF), 0.0);

  // Without any camera the message differs.
  camera->setPresent(false);
  capture->closeDevice(0);
  for (int c = 0; c < 2; ++c) cycle();
  ASSERT_EQ(worker.colour, nullptr);
  expectNotice(host.previews.back());
  EXPECT_GT(cv::norm(host.previews.back(), waiting, cv::NORM_L1), 0.0) << "'no camera' is not 'waiting'";
}

// The warning band at the foot of the preview: white with dark text, over the picture.
bool hasWarningBand(const cv::Mat& preview) {
  const int bandTop = preview.rows - static_cast<int>(0.047 * preview.cols);
  const cv::Mat band = preview.rowRange(bandTop + 1, preview.rows);
  int white = 0;
  int dark = 0;
  for (int y = 0; y < band.rows; ++y) {
    for (int x = 0; x < band.cols; ++x) {
      const cv::Vec3b p = band.at<cv::Vec3b>(y, x);
      white += p == cv::Vec3b(255, 255, 255) ? 1 : 0;
      dark += p[0] < 100 && p[1] < 100 && p[2] < 100 ? 1 : 0;
    }
  }
  return white > static_cast<int>(band.total()) / 2 && dark > 100;
}

TEST_F(ScannerCycle, BandWarnsWhileNothingCanBeTypedOrAReadFoundNoFocusedWindow) {
  const cv::Scalar grey(90, 90, 90);
  struct Case {
    const char* name;
    bool canType;
    bool typeReads;
    bool focused;
    bool warned;
  } cases[] = {
      {"all well", true, true, true, false},
      {"no keyboard", false, true, true, true},
      {"no keyboard, typing off anyway", false, false, true, false},
      {"read with no focused window", true, true, false, true},
  };
  for (const Case& c : cases) {
    capture.reset();
    host = FakeHost{};
    worker.settings.wedge.typeReads = c.typeReads;
    start(320, 240);
    ports.keyboard.canType = c.canType;
    ports.keyboard.hasFocusTarget = [&c] { return c.focused; };
    decoder.found = {makeResult("t", {{10, 10}, {50, 10}, {50, 50}, {10, 50}})};
    ASSERT_TRUE(camera->deliverFrame(uniformFrame(320, 240, grey)));
    cycle();
    ASSERT_EQ(host.previews.size(), 1u) << c.name;
    EXPECT_EQ(hasWarningBand(host.previews[0]), c.warned) << c.name;
    // A keyboard that cannot type is sent no keys: the read is not taken as typed, and no beep says so.
    const bool typed = c.typeReads && c.focused && c.canType;
    EXPECT_EQ(host.typed, typed ? "t\n" : "") << c.name;
    if (c.typeReads) {
      EXPECT_EQ(host.beeps, typed ? 1 : 0) << c.name;
    }
  }
  // The note about a read with no focused window goes after a while.
  host.now += SCANNER_NO_FOCUS_NOTE_MS + 1;
  decoder.found.clear();
  ASSERT_TRUE(camera->deliverFrame(uniformFrame(320, 240, grey)));
  cycle();
  EXPECT_FALSE(hasWarningBand(host.previews.back()));
}

TEST_F(ScannerCycle, SettingsReachTheWedge) {
  worker.settings.wedge.suffix = TypedSuffix::Tab;
  worker.settings.wedge.holdOffMs = 250;
  worker.settings.wedge.beep = false;
  start(320, 240);
  decoder.found = {makeResult("s", {{10, 10}, {50, 10}, {50, 50}, {10, 50}})};
  for (int c = 0; c < 5; ++c) {
    ASSERT_TRUE(camera->deliverFrame(uniformFrame(320, 240, cv::Scalar(0, 0, 0))));
    cycle();  // each cycle takes its 100 ms of pacing
  }
  // Typed; held off 250 ms: two more cycles; cleared by the fourth; typed by the fifth.
  EXPECT_EQ(host.typed, "s\ts\t");
  EXPECT_EQ(host.beeps, 0);
}

TEST_F(ScannerCycle, NoCameraAtStartKeepsReconnectingWithoutImageWorkUntilOneAppears) {
  camera = std::make_unique<FakeCamera>(320, 240);
  camera->setPresent(false);
  startWith(*camera);
  EXPECT_EQ(worker.colour, nullptr);
  for (int c = 0; c < 3; ++c) cycle();
  EXPECT_EQ(decoder.calls, 0);
  EXPECT_EQ(worker.missCount, 7);
  // Each cycle the preview says that there is no camera.
  ASSERT_EQ(host.previews.size(), 3u);
  expectNotice(host.previews[2]);

  camera->setPresent(true);
  cycle();  // reconnects, now with a camera
  ASSERT_NE(worker.colour, nullptr);
  ASSERT_TRUE(camera->deliverFrame(uniformFrame(320, 240, cv::Scalar(1, 2, 3))));
  cycle();
  EXPECT_EQ(worker.missCount, 0);
  EXPECT_GT(decoder.calls, 0);
}

TEST_F(ScannerCycle, PreviewSizeFollowsTheClientArea) {
  struct Case {
    PreviewRect clientArea;
    cv::Size preview;  // empty: no preview this cycle
  } cases[] = {
      {{0, 0, 640, 484}, {640, 480}}, {{0, 0, 640, 500}, {640, 480}},  {{0, 0, 640, 470}, {624, 468}},
      {{0, 0, 400, 400}, {400, 300}}, {{0, 0, 1000, 300}, {400, 300}}, {{0, 0, 15, 100}, {}},
      {{0, 0, 0, 0}, {}},             {{100, 50, 500, 450}, {400, 300}},
  };
  start();
  for (const Case& c : cases) {
    host.clientArea = c.clientArea;
    host.previews.clear();
    camera->deliverFrame(uniformFrame(640, 480, cv::Scalar(128, 128, 128)));
    cycle();
    const int width = c.clientArea.right - c.clientArea.left;
    const int height = c.clientArea.bottom - c.clientArea.top;
    if (c.preview.empty()) {
      EXPECT_TRUE(host.previews.empty()) << width << " x " << height;
    } else {
      ASSERT_EQ(host.previews.size(), 1u) << width << " x " << height;
      EXPECT_EQ(host.previews[0].size(), c.preview) << width << " x " << height;
      EXPECT_EQ(host.previews[0].type(), CV_8UC3);
    }
  }
}

// Typing and the 200 ms beep come on top of the paced step: a 30 ms decode still pauses 70 ms.
TEST_F(ScannerCycle, BeepIsNotCountedInThePacedDecodingStep) {
  start();
  decoder.found = {makeResult("BEEP", {{10, 100}, {60, 100}, {60, 150}, {10, 150}})};
  decoder.readMs = 30;
  host.sleeps.clear();
  camera->deliverFrame(uniformFrame(640, 480, cv::Scalar(128, 128, 128)));
  cycle();
  EXPECT_EQ(host.beeps, 1);
  EXPECT_EQ(host.sleeps, (std::vector<std::uint32_t>{70}));
}

TEST_F(ScannerCycle, DecodingStepIsPacedToOneHundredMilliseconds) {
  struct Case {
    std::uint32_t startTick;
    std::uint32_t decodeMs;
    std::vector<std::uint32_t> pause;
  } cases[] = {
      {0, 30, {70}}, {0, 150, {}}, {0, 99, {1}}, {0, 100, {}}, {0xFFFFFFF0u, 30, {70}},
  };
  start();
  for (const Case& c : cases) {
    host.now = c.startTick;
    decoder.readMs = c.decodeMs;
    host.sleeps.clear();
    camera->deliverFrame(uniformFrame(640, 480, cv::Scalar(128, 128, 128)));
    cycle();
    EXPECT_EQ(host.sleeps, c.pause) << c.decodeMs << " ms from tick " << c.startTick;
  }
}

TEST(ScannerThread, RunsTheGivenNumberOfCyclesAndReleasesTheCamera) {
  FakeCamera camera(640, 480);
  FakeHost host;
  // The camera delivers a frame whenever the worker pauses.
  host.onSleep = [&] { camera.deliverFrame(uniformFrame(640, 480, cv::Scalar(200, 200, 200))); };
  runScannerWorker(camera, host.ports(), 3);
  EXPECT_EQ(host.previews.size(), 3u);
  EXPECT_EQ(camera.graphsStarted(), 1);
  EXPECT_EQ(camera.graphsStopped(), 1);
}

// The real decoder on a symbol made by an independent encoder.
class ScannerWithDecoder : public ScannerCycle {
 protected:
  ScanStep readBy = SCAN_NOTHING_READ;
  void startRecordingRealDecoder() {
    start();
    worker.scan = [this](IplImage* grey, std::vector<DecodedSymbol>* symbols) {
      ++decoder.calls;
      return scanImageMessages(grey, symbols, &readBy);
    };
  }
};

TEST_F(ScannerWithDecoder, BlankFrameTypesNothing) {
  startRecordingRealDecoder();
  camera->deliverFrame(uniformFrame(640, 480, cv::Scalar(180, 180, 180)));
  cycle();
  EXPECT_EQ(decoder.calls, 1);
  EXPECT_EQ(readBy, SCAN_NOTHING_READ);
  EXPECT_EQ(host.typed, "");
  EXPECT_EQ(host.previews.size(), 1u);
}

// A frame whose read fails (memory runs out, a library refuses) is given up; the worker goes on, says
// each new reason once, and the next frame's symbol is typed.
TEST_F(ScannerWithDecoder, FrameWhoseReadFailsIsSkippedAndTheNextIsRead) {
  const std::string message = "AFTER 0042";
  const auto symbol = testsupport::encodeSymbol(message, 0, 0);
  ASSERT_TRUE(symbol.has_value());
  const cv::Mat frame = colourFrameOf(renderLarge(*symbol));
  start();
  int calls = 0;
  worker.scan = [&calls](IplImage* grey, std::vector<DecodedSymbol>* symbols) {
    ++calls;
    if (calls <= 2) throw std::bad_alloc();
    if (calls == 3) cv::error(cv::Error::StsNoMem, "Failed to allocate", "scan", __FILE__, __LINE__);
    return scanImageMessages(grey, symbols);
  };
  testing::internal::CaptureStderr();
  for (int i = 0; i < 4; ++i) {
    camera->deliverFrame(frame);
    cycle();
  }
  const std::string said = testing::internal::GetCapturedStderr();
  EXPECT_EQ(calls, 4);
  EXPECT_EQ(host.typed, message + "\n");
  EXPECT_EQ(host.beeps, 1);
  const std::string badAlloc = "quarnel: a frame was skipped (std::bad_alloc)\n";
  ASSERT_EQ(said.find(badAlloc), 0u) << said;
  EXPECT_EQ(said.find(badAlloc, 1), std::string::npos) << "said once while the reason stays: " << said;
  EXPECT_NE(said.find("quarnel: a frame was skipped (OpenCV"), std::string::npos) << said;
}

// Needs the whole decoder chain down to the data decoding.
TEST_F(ScannerWithDecoder, SymbolIsReadByPassOneOutlinedAndTyped) {
  const std::string message = "QUARNEL 0042";
  const auto symbol = testsupport::encodeSymbol(message, 0, 0);
  ASSERT_TRUE(symbol.has_value());
  const testsupport::RenderedSymbol rendered = renderLarge(*symbol);
  const cv::Mat frame = colourFrameOf(rendered);

  startRecordingRealDecoder();
  camera->deliverFrame(frame);
  cycle();
  EXPECT_EQ(readBy, SCAN_READ_BY_GLOBAL_PASS);
  EXPECT_EQ(host.typed, message + "\n");
  EXPECT_EQ(host.beeps, 1);
  // The outline runs through the symbol's true corners, give or take a couple of pixels.
  const cv::Mat image = colour();
  for (const cv::Point2d corner : {rendered.corners.finderVertex, rendered.corners.timingCorner}) {
    int redNearby = 0;
    for (int dy = -3; dy <= 3; ++dy) {
      for (int dx = -3; dx <= 3; ++dx) {
        const cv::Point p(static_cast<int>(corner.x) + dx, static_cast<int>(corner.y) + dy);
        redNearby += image.at<cv::Vec3b>(p) == cv::Vec3b(0, 0, 255) ? 1 : 0;
      }
    }
    EXPECT_GT(redNearby, 0) << corner;
  }
}

// The meaning of the read travels with it to the wedge: a UTF-8 symbol (ECI 26, made by Zint) is typed as
// its characters, each by its keysym, on a keyboard that has a key for every keysym.
TEST_F(ScannerWithDecoder, Utf8SymbolIsTypedAsItsCharacters) {
  testsupport::ZintFeatures features;
  features.eci = 26;
  const std::string message = "Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC";  // "Grüße €"
  const auto symbol = testsupport::encodeZintSymbol({message.begin(), message.end()}, 0, 0, features);
  ASSERT_TRUE(symbol.has_value());
  const cv::Mat frame = colourFrameOf(renderLarge(*symbol));

  startRecordingRealDecoder();
  std::vector<std::uint32_t> keysOf;  // key code - 1: the keysym it was looked up for
  std::vector<std::uint32_t> pressed;
  ports.keyboard.keysymScan = [&keysOf](std::uint32_t keysym) {
    keysOf.push_back(keysym);
    return static_cast<std::int16_t>(keysOf.size());
  };
  ports.keyboard.keyEvent = [&keysOf, &pressed](int key, unsigned flags) {
    if ((flags & KEY_EVENT_UP) == 0) pressed.push_back(keysOf.at(static_cast<std::size_t>(key - 1)));
  };
  camera->deliverFrame(frame);
  cycle();
  // X11 keysyms: Latin-1 ones are their code, "€" is EuroSign (0x20AC).
  EXPECT_EQ(pressed, (std::vector<std::uint32_t>{'G', 'r', 0xFC, 0xDF, 'e', ' ', 0x20AC, TEXT_KEYSYM_RETURN}));
  EXPECT_EQ(host.beeps, 1);
}

// ---------------------------------------------------------------------------------------------------
// The chosen camera, by index or by node, on a scripted backend with three devices whose keys are nodes
// in a folder of the test's own.
class CameraChoiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "quarnel-worker-nodes-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir = pattern;
    for (const char* node : {"video0", "video1", "video2"}) {
      std::ofstream(dir / node) << "";
      capturetest::ScriptedDevice device = capturetest::namedDevice(node);
      device.entry.moniker = (dir / node).string();
      backend.devices.push_back(device);
    }
    std::filesystem::create_symlink("video2", dir / "by-id-cam");
  }
  void TearDown() override { std::filesystem::remove_all(dir); }

  // The nodes bound, in order, over start-up and `cycles` cycles (each one here ends in a reconnect, as
  // the scripted devices send nothing).
  std::vector<std::string> boundNodes(const CameraChoice& camera, int cycles) {
    ScannerSettings settings;
    settings.camera = camera;
    runScannerWorker(backend, host.ports(), cycles, settings);
    std::vector<std::string> nodes;
    for (const std::string& call : backend.calls) {
      if (call.rfind("bindSource ", 0) == 0) nodes.push_back(std::filesystem::path(call.substr(11)).filename());
    }
    return nodes;
  }

  std::filesystem::path dir;
  capturetest::ScriptedBackend backend;
  FakeHost host;
};

TEST_F(CameraChoiceTest, DefaultIsDeviceZero) {
  EXPECT_EQ(boundNodes(CameraChoice{}, 1), (std::vector<std::string>{"video0", "video0"}));
}

TEST_F(CameraChoiceTest, ByIndex) {
  EXPECT_EQ(boundNodes(CameraChoice{1, ""}, 1), (std::vector<std::string>{"video1", "video1"}));
}

TEST_F(CameraChoiceTest, ByNodeOrLinkAndLookedUpAgainAtEveryOpen) {
  // While the worker pauses after its first open, video0 goes away: the camera is now index 1.
  host.onSleep = [this] {
    if (backend.devices.size() == 3) backend.devices.erase(backend.devices.begin());
  };
  EXPECT_EQ(boundNodes(CameraChoice{0, (dir / "by-id-cam").string()}, 1),
            (std::vector<std::string>{"video2", "video2"}));
}

TEST_F(CameraChoiceTest, MissingNodeOpensNothingAndSaysSo) {
  const std::string missing = (dir / "video9").string();
  testing::internal::CaptureStdout();
  const std::vector<std::string> nodes = boundNodes(CameraChoice{0, missing}, 1);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_TRUE(nodes.empty());
  EXPECT_NE(out.find("SETUP: device " + missing + " not found\n"), std::string::npos) << out;
  EXPECT_FALSE(host.previews.empty()) << "the preview says that there is no camera";
}

}  // namespace
