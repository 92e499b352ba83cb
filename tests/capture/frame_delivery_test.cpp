// Frame delivery between the backend's streaming thread and the worker through a device's frame slot.
// These tests run two threads and also run under ThreadSanitizer.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "capture/capture_device.h"
#include "capture/capture_manager.h"
#include "tests/capture/scripted_backend.h"
#include "tests/support/standard_output.h"

namespace capturetest {

using testsupport::stdoutOf;
namespace {

using Bytes = std::vector<std::uint8_t>;
using Samples = std::vector<std::optional<Bytes>>;

const std::string SIZE_MESSAGE = "ERROR: SampleCB() - buffer sizes do not match\n";

// A ready device 0 of width x height, opened on a scripted backend.
struct ReadyDevice {
  ReadyDevice(int width, int height) {
    ScriptedDevice device = namedDevice("Cam A");
    device.defaultFormat.width = width;
    device.defaultFormat.height = height;
    backend.devices = {device};
    stdoutOf([&] {
      capture = std::make_unique<CaptureManager>(backend);
      opened = capture->openDevice(0);
    });
    graph = backend.liveGraph();
  }
  ~ReadyDevice() {
    stdoutOf([&] { capture.reset(); });
  }
  ScriptedBackend backend;
  std::unique_ptr<CaptureManager> capture;
  ScriptedGraph* graph = nullptr;
  bool opened = false;
};

TEST(FrameDelivery, SlotKeepsTheOldestUntakenFrameUntilCopied) {
  ReadyDevice rig(2, 1);
  ASSERT_TRUE(rig.opened);
  CaptureManager& capture = *rig.capture;
  EXPECT_FALSE(capture.hasNewFrame(0));

  rig.graph->deliverFromStreamingThread({Bytes{1, 2, 3, 4, 5, 6}, Bytes{7, 8, 9, 10, 11, 12}});
  EXPECT_TRUE(capture.hasNewFrame(0));
  EXPECT_TRUE(capture.hasNewFrame(0));  // asking does not take the frame

  Bytes frame(6, 0);
  ASSERT_TRUE(capture.copyFrame(0, frame.data(), false, false));
  EXPECT_EQ(frame, (Bytes{1, 2, 3, 4, 5, 6}));
  EXPECT_FALSE(capture.hasNewFrame(0));

  // The next sample after a copy fills the slot again; the copy options apply on the way out.
  rig.graph->deliverFromStreamingThread({Bytes{10, 20, 30, 40, 50, 60}});
  ASSERT_TRUE(capture.copyFrame(0, frame.data(), true, false));
  EXPECT_EQ(frame, (Bytes{30, 20, 10, 60, 50, 40}));
}

TEST(FrameDelivery, WrongLengthSamplesAreReportedAndDroppedMissingDataSilently) {
  ReadyDevice rig(2, 1);
  ASSERT_TRUE(rig.opened);
  const std::string printed = stdoutOf([&] {
    rig.graph->deliverFromStreamingThread({Bytes(5, 1), std::nullopt, Bytes(7, 1)});
  });
  EXPECT_EQ(printed, SIZE_MESSAGE + SIZE_MESSAGE);
  EXPECT_FALSE(rig.capture->hasNewFrame(0));
  EXPECT_EQ(rig.capture->deviceRecord(0).callback->lastSampleBytes, 7);

  rig.graph->deliverFromStreamingThread({Bytes{1, 2, 3, 4, 5, 6}});
  EXPECT_TRUE(rig.capture->hasNewFrame(0));
}

TEST(FrameDelivery, FullSlotDropsSamplesWithoutLookingAtThem) {
  ReadyDevice rig(2, 1);
  ASSERT_TRUE(rig.opened);
  rig.graph->deliverFromStreamingThread({Bytes{1, 2, 3, 4, 5, 6}});
  // While a frame waits even a sample of the wrong length is dropped without a message.
  EXPECT_EQ(stdoutOf([&] { rig.graph->deliverFromStreamingThread({Bytes(5, 1)}); }), "");
}

TEST(FrameDelivery, CopyWaitsForAFrameButNotLongerThanASecond) {
  ReadyDevice rig(2, 1);
  ASSERT_TRUE(rig.opened);
  Bytes frame(6, 0);

  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(rig.capture->copyFrame(0, frame.data(), false, false));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
  EXPECT_EQ(frame, Bytes(6, 0));

  std::thread late([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    rig.graph->deliverFromStreamingThread({Bytes{6, 5, 4, 3, 2, 1}});
  });
  EXPECT_TRUE(rig.capture->copyFrame(0, frame.data(), false, false));
  late.join();
  EXPECT_EQ(frame, (Bytes{6, 5, 4, 3, 2, 1}));
}

TEST(FrameDelivery, FrameSizeWithNoRoomInTheSlotNeverYieldsAFrame) {
  for (const auto& size : {std::pair{0, 0}, std::pair{-640, 480}, std::pair{50000, 50000}}) {
    SCOPED_TRACE(std::to_string(size.first) + "x" + std::to_string(size.second));
    ReadyDevice rig(size.first, size.second);
    ASSERT_TRUE(rig.opened);
    EXPECT_EQ(rig.capture->frameWidth(0), 0);
    EXPECT_EQ(rig.capture->deviceRecord(0).frameBytes, 0);
    EXPECT_EQ(stdoutOf([&] { rig.graph->deliverFromStreamingThread({Bytes(1, 1), Bytes(6, 1)}); }),
              SIZE_MESSAGE + SIZE_MESSAGE);
    EXPECT_FALSE(rig.capture->hasNewFrame(0));
  }
}

// Sample n repeats n as a 32-bit word, so a frame mixed from two samples shows.
Bytes numberedSample(int index, size_t bytes) {
  Bytes sample(bytes);
  for (size_t i = 0; i + 4 <= bytes; i += 4) std::memcpy(sample.data() + i, &index, 4);
  return sample;
}

TEST(FrameDelivery, StreamingThreadAndWorkerHandOverWholeFramesInOrder) {
  constexpr int WIDTH = 64;
  constexpr int HEIGHT = 48;
  constexpr size_t BYTES = WIDTH * HEIGHT * 3;
  ReadyDevice rig(WIDTH, HEIGHT);
  ASSERT_TRUE(rig.opened);
  rig.graph->startContinuousStream([](int index) { return numberedSample(index, BYTES); });

  Bytes frame(BYTES);
  int previous = -1;
  for (int taken = 0; taken < 40; ++taken) {
    while (!rig.capture->hasNewFrame(0)) std::this_thread::yield();
    ASSERT_TRUE(rig.capture->copyFrame(0, frame.data(), false, false));
    int number = 0;
    std::memcpy(&number, frame.data(), 4);
    for (size_t i = 4; i < BYTES; i += 4) ASSERT_EQ(std::memcmp(frame.data() + i, &number, 4), 0) << "torn at " << i;
    EXPECT_GT(number, previous);
    previous = number;
  }

  // Closing while samples still arrive: the slot is destroyed only once no sample can reach it.
  stdoutOf([&] { rig.capture->closeDevice(0); });
  EXPECT_EQ(rig.backend.liveGraph(), nullptr);
  EXPECT_FALSE(rig.capture->hasNewFrame(0));
}

TEST(FrameDelivery, StalledDeviceIsClosedWhileSamplesArriveAndReopened) {
  // The worker's copy gives up on a silent device; samples start just as it closes and reopens it.
  ReadyDevice rig(8, 8);
  ASSERT_TRUE(rig.opened);
  Bytes frame(8 * 8 * 3);
  EXPECT_FALSE(rig.capture->copyFrame(0, frame.data(), false, true));
  rig.graph->startContinuousStream([](int index) { return numberedSample(index, 8 * 8 * 3); });
  while (rig.graph->continuousSamplesHanded() < 5) std::this_thread::yield();
  stdoutOf([&] { rig.capture->closeDevice(0); });
  stdoutOf([&] { EXPECT_TRUE(rig.capture->openDevice(0)); });
  EXPECT_FALSE(rig.capture->hasNewFrame(0));
}

}  // namespace
}  // namespace capturetest
