// Camera faults with a real streaming thread: the worker runs against a camera that vanishes mid-stream,
// comes back with another frame size, sends samples of the wrong length or without data, and keeps
// streaming while the worker closes and reopens it. Nothing may crash, race or write past a buffer,
// every picture the decoder sees must be a whole frame the camera sent, and the worker must read again
// once proper frames return. Also runs under ThreadSanitizer.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "app/scanner_worker.h"
#include "tests/support/fake_camera.h"
#include "tests/reliability/worker_setup.h"
#include "tests/support/standard_output.h"

namespace {

// One picture as the camera sends it and as the worker's decoder must then see it.
struct CameraFrame {
  std::string text;  // the symbol's message; empty for a picture without symbol
  cv::Mat grey;
  std::vector<std::uint8_t> sample;  // B, G, R, bottom row first
};

// A picture without symbol, or of the symbol in a pose that the first decoding pass reads (the faults are
// the test's subject, not the decoder's reach); an empty picture when none reads.
cv::Mat framePicture(const std::string& text, int width, int height) {
  if (text.empty()) return cv::Mat(height, width, CV_8UC1, cv::Scalar(160));
  return reliability::firstPassPicture(text, width, height, {10.0, 20.0, 190.0, 30.0, 0.0});
}

CameraFrame makeFrame(const std::string& text, int width, int height) {
  CameraFrame frame{text, framePicture(text, width, height), {}};
  if (!frame.grey.empty()) frame.sample = cameraSampleOf(frame.grey);
  return frame;
}

// What the streaming thread plays; the test switches between them while the stream runs.
enum class Stream {
  Proper,            // whole frames of the current picture, a little apart
  Flood,             // whole frames back to back
  MostlyWrongLength, // samples one byte short or long, empty, twice as long, without data; now and then a
                     // whole frame while the test lets them through
};

// The sample source of the streaming thread. Everything it reads is fixed before the stream starts,
// except the atomics.
class FaultySource {
 public:
  explicit FaultySource(std::vector<CameraFrame> frames) : frames_(std::move(frames)) {
    std::size_t longest = 0;
    for (const CameraFrame& frame : frames_) longest = std::max(longest, frame.sample.size());
    // A pattern no frame contains, so that any byte of a wrong sample that reached a frame would show.
    junk_.assign(2 * longest + 2, 0x5A);
  }

  void play(int frameIndex, Stream stream) {
    frame_ = frameIndex;
    stream_ = static_cast<int>(stream);
  }
  // Whether the wrong-length stream lets its occasional whole frames through.
  void letWholeFramesThrough(bool through) { wholeFrames_ = through; }

  FakeSample next() {
    const CameraFrame& frame = frames_[static_cast<std::size_t>(frame_.load())];
    const auto whole = static_cast<std::int32_t>(frame.sample.size());
    const unsigned n = counter_++;
    switch (static_cast<Stream>(stream_.load())) {
      case Stream::Proper:
        return {frame.sample.data(), whole, 300};
      case Stream::Flood:
        return {frame.sample.data(), whole, n % 64 == 0 ? 50 : 0};
      case Stream::MostlyWrongLength:
        switch (n % 7) {
          case 0: return {junk_.data(), whole - 1, 20};
          case 1: return {junk_.data(), whole + 1, 20};
          case 2: return {junk_.data(), 0, 20};
          case 3: return {junk_.data(), 2 * whole, 20};
          case 4: return {nullptr, whole, 20};
          case 5: return {junk_.data(), whole / 2, 20};
          default:
            return wholeFrames_.load() && n % 5 == 0 ? FakeSample{frame.sample.data(), whole, 20}
                                                     : FakeSample{junk_.data(), 3, 20};
        }
    }
    return {};
  }

  const std::vector<CameraFrame>& frames() const { return frames_; }

 private:
  std::vector<CameraFrame> frames_;
  std::vector<std::uint8_t> junk_;
  std::atomic<int> frame_{0};
  std::atomic<int> stream_{static_cast<int>(Stream::Proper)};
  std::atomic<unsigned> counter_{0};
  std::atomic<bool> wholeFrames_{true};
};

struct FaultHost {
  reliability::TypingHost typing;
  std::vector<std::string> typedLines;

  AppPorts ports() {
    typing.lineTyped = [this](std::string line) { typedLines.push_back(std::move(line)); };
    AppPorts p = typing.ports();
    p.preview.previewRect = [] { return PreviewRect{0, 0, 320, 244}; };
    p.preview.showPreview = [](const IplImage* preview) {
      // The window copies the picture; touching every byte catches a preview that is not what it says.
      volatile std::uint8_t sum = 0;
      for (int y = 0; y < preview->height; ++y) {
        for (int x = 0; x < preview->width * 3; ++x) sum += static_cast<std::uint8_t>(preview->imageData[y * preview->widthStep + x]);
      }
    };
    return p;
  }
};

class CameraFaults : public ::testing::Test {
 protected:
  // Frames: 0 and 1 at the first size, 2 and 3 at a size whose rows are no multiple of four bytes.
  CameraFaults()
      : source({makeFrame("FAULT-A 01", 160, 120), makeFrame("", 160, 120), makeFrame("fault-b 02", 170, 130),
                makeFrame("", 170, 130)}),
        camera(160, 120, [this] { return source.next(); }) {}

  void SetUp() override {
    camera.setFrameTime(reliability::FRAME_TIME_15_FPS);
    for (const CameraFrame& frame : source.frames()) {
      ASSERT_FALSE(frame.grey.empty()) << "no picture of \"" << frame.text << "\" reads";
    }
    ports = host.ports();
    // Every picture handed to the decoder is checked against the frames of the camera's current size.
    worker.scan = [this](IplImage* grey, std::vector<DecodedSymbol>* symbols) {
      checkWholeFrame(grey);
      return scanImageMessages(grey, symbols);
    };
  }

  // A picture just copied from the camera is one whole frame it sent (or the blank start of the colour
  // image), never a mix. After a reconnect the worker decodes its old picture again, with the outlines
  // and labels of earlier reads drawn over it; those pictures are not checked.
  void checkWholeFrame(IplImage* grey) {
    if (worker.missCount != 0) return;
    const cv::Mat seen = cv::cvarrToMat(grey);
    if (cv::countNonZero(seen) == 0) return;
    for (const CameraFrame& frame : source.frames()) {
      if (frame.grey.size() == seen.size() && cv::norm(frame.grey, seen, cv::NORM_INF) == 0.0) return;
    }
    ++tornPictures;
  }

  // The capture component reports every open, close and dropped sample on standard output, where the
  // test's own failures go too: it is silenced around the worker's steps only.
  void cycle() {
    testsupport::StdoutSilencer silence;
    runScannerCycle(worker, *capture, ports);
  }

  // Runs cycles until the worker has typed text, or the limit; true when it did.
  bool runUntilTyped(const std::string& text, int limit) {
    const std::size_t before = host.typedLines.size();
    for (int c = 0; c < limit; ++c) {
      cycle();
      for (std::size_t k = before; k < host.typedLines.size(); ++k) {
        if (host.typedLines[k] == text) return true;
      }
    }
    return false;
  }

  void runCycles(int cycles) {
    for (int c = 0; c < cycles; ++c) cycle();
  }

  FaultySource source;
  FakeCamera camera;
  FaultHost host;
  AppPorts ports;
  ScannerWorker worker;
  std::unique_ptr<CaptureManager> capture;
  int tornPictures = 0;
};

TEST_F(CameraFaults, WorkerSurvivesAVanishingResizedMisbehavingCameraAndReadsAgain) {
  source.play(0, Stream::Proper);
  {
    testsupport::StdoutSilencer silence;
    capture = std::make_unique<CaptureManager>(camera);
    startScanner(worker, *capture, ports);
  }
  ASSERT_TRUE(runUntilTyped("FAULT-A 01", 60)) << "no read from a camera that works";

  // The camera vanishes mid-stream: no frame, every reopen fails, the images go.
  camera.setPresent(false);
  runCycles(20);
  EXPECT_EQ(worker.colour, nullptr);

  // It comes back with another frame size and a picture of another symbol.
  source.play(2, Stream::Proper);
  camera.setFrameSize(170, 130);
  camera.setPresent(true);
  ASSERT_TRUE(runUntilTyped("fault-b 02", 200)) << "no read after the camera came back larger";
  ASSERT_NE(worker.colour, nullptr);
  EXPECT_EQ(worker.colour->width, 170);
  EXPECT_EQ(worker.colour->height, 130);

  // Samples of every wrong length, and none with data, between rare whole frames of a blank picture.
  // Now and then the whole frames stop: the worker then finds no frame, and closes and reopens the
  // device while the stream goes on.
  source.play(3, Stream::MostlyWrongLength);
  const int startsBefore = camera.graphsStarted();
  constexpr int STALLS = 25;
  for (int stall = 0; stall < STALLS; ++stall) {
    source.letWholeFramesThrough(true);
    runCycles(4);
    source.letWholeFramesThrough(false);
    runCycles(3);  // the first may still take one frame handed over before the stop
  }
  source.letWholeFramesThrough(true);
  EXPECT_GE(camera.graphsStarted() - startsBefore, STALLS);

  // Whole frames back to back while the worker keeps reconnecting now and then.
  source.play(1, Stream::Flood);
  camera.setFrameSize(160, 120);
  runCycles(20);
  ASSERT_EQ(worker.colour->width, 160) << "the device was never reopened at the new size";

  // Proper frames again: the worker reads once the hold-off has run out.
  source.play(0, Stream::Proper);
  EXPECT_TRUE(runUntilTyped("FAULT-A 01", 200)) << "the worker did not resume reading";

  {
    testsupport::StdoutSilencer silence;
    capture.reset();  // closes the device while the stream still runs
  }
  EXPECT_EQ(camera.graphsStarted(), camera.graphsStopped());
  EXPECT_EQ(tornPictures, 0) << "the decoder saw pictures that no frame of the camera shows";
  for (const std::string& typed : host.typedLines) {
    EXPECT_TRUE(typed == "FAULT-A 01" || typed == "fault-b 02") << "typed \"" << typed << "\"";
  }
  EXPECT_GT(camera.samplesStreamed(), 0);
}

}  // namespace
