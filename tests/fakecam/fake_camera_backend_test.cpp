// The V4L2 backend, unchanged, on the emulated camera (libquarnel_fakecam.so preloaded): listing, the
// opens and their format requests, every pixel format and padded rows, buffer rotation over thousands of
// frames, a second user of the camera, unplugging and closing while streaming.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "capture/capture_manager.h"
#include "capture/v4l2/v4l2_backend.h"
#include "tests/fakecam/fake_camera.h"
#include "tests/support/standard_output.h"

#if defined(__SANITIZE_THREAD__)
// Reading and writing the test pictures registers the image library's codecs, which take two locks of
// that library's own in both orders on the one test thread; nothing of ours is involved.
extern "C" __attribute__((visibility("default"))) const char* __tsan_default_suppressions() {
  return "deadlock:libgdal.so\n";
}
#endif

namespace {

namespace fs = std::filesystem;
using testsupport::stdoutOf;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

const char* const FAKECAM_VARIABLES[] = {
    "QUARNEL_FAKECAM_PICTURES", "QUARNEL_FAKECAM_REPEAT",  "QUARNEL_FAKECAM_FORMAT", "QUARNEL_FAKECAM_SIZE",
    "QUARNEL_FAKECAM_SIZES",    "QUARNEL_FAKECAM_FPS",     "QUARNEL_FAKECAM_PADDING", "QUARNEL_FAKECAM_UNPLUG",
};

bool waitUntil(const std::function<bool()>& done, milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (!done()) {
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(milliseconds(2));
  }
  return true;
}

// Colour bars over the top half, each a colour whose channels differ, so that any exchange of channels
// shows; a grey ramp below.
const std::vector<cv::Vec3b> BAR_COLOURS = {
    {0, 0, 255}, {0, 255, 0}, {255, 0, 0}, {0, 255, 255}, {255, 0, 255}, {255, 255, 0}, {40, 110, 220}, {200, 150, 30},
};

cv::Mat colourBars(int width, int height) {
  cv::Mat picture(height, width, CV_8UC3);
  const int barWidth = width / static_cast<int>(BAR_COLOURS.size());
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const int bar = std::min(x / barWidth, static_cast<int>(BAR_COLOURS.size()) - 1);
      const auto level = static_cast<std::uint8_t>(x * 255 / (width - 1));
      picture.at<cv::Vec3b>(y, x) = y < height / 2 ? BAR_COLOURS[static_cast<std::size_t>(bar)] : cv::Vec3b(level, level, level);
    }
  }
  return picture;
}

// How far a frame is from the expected picture: the mean difference over all bytes, and the largest
// difference of a bar's mean colour (away from its edges, where subsampled chroma blurs).
struct FrameError {
  double mean = 0;
  double worstBar = 0;
};

FrameError frameError(const cv::Mat& frame, const cv::Mat& expected) {
  FrameError error;
  cv::Mat difference;
  cv::absdiff(frame, expected, difference);
  const cv::Scalar perChannel = cv::mean(difference);
  error.mean = (perChannel[0] + perChannel[1] + perChannel[2]) / 3;
  const int barWidth = expected.cols / static_cast<int>(BAR_COLOURS.size());
  for (std::size_t bar = 0; bar < BAR_COLOURS.size(); ++bar) {
    const cv::Rect middle(static_cast<int>(bar) * barWidth + barWidth / 4, expected.rows / 8, barWidth / 2, expected.rows / 4);
    const cv::Scalar got = cv::mean(frame(middle));
    const cv::Scalar want = cv::mean(expected(middle));
    for (int c = 0; c < 3; ++c) error.worstBar = std::max(error.worstBar, std::abs(got[c] - want[c]));
  }
  return error;
}

// A directory of its own under the system's temporary directory, removed at the end.
struct ScratchDirectory {
  ScratchDirectory() {
    std::string pattern = (fs::temp_directory_path() / "quarnel-fakecam-XXXXXX").string();
    path = mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
  }
  ~ScratchDirectory() {
    std::error_code ignored;
    if (!path.empty()) fs::remove_all(path, ignored);
  }
  std::string write(const std::string& name, const cv::Mat& picture) const {
    const std::string file = path + "/" + name;
    cv::imwrite(file, picture);
    return file;
  }
  std::string path;
};

class FakeCamera : public ::testing::Test {
 protected:
  void SetUp() override {
    reconfigure_ = reinterpret_cast<int (*)()>(dlsym(RTLD_DEFAULT, "fakecamReconfigure"));
    readStats_ = reinterpret_cast<void (*)(FakecamStats*)>(dlsym(RTLD_DEFAULT, "fakecamStats"));
    ASSERT_TRUE(reconfigure_ != nullptr && readStats_ != nullptr) << "run with libquarnel_fakecam.so in LD_PRELOAD";
    ASSERT_FALSE(scratch_.path.empty());
  }
  void TearDown() override {
    if (reconfigure_ == nullptr) return;
    for (const char* name : FAKECAM_VARIABLES) unsetenv(name);
    reconfigure_();
  }

  // Sets the camera up from these variables alone.
  void useCamera(const std::map<std::string, std::string>& settings) {
    for (const char* name : FAKECAM_VARIABLES) unsetenv(name);
    for (const auto& [name, value] : settings) setenv(name.c_str(), value.c_str(), 1);
    ASSERT_EQ(reconfigure_(), 0) << "a node of the camera is still open";
  }

  FakecamStats stats() {
    FakecamStats current;
    readStats_(&current);
    return current;
  }

  // Every descriptor, mapping and buffer of the camera given back.
  void expectCameraReleased() {
    const FakecamStats now = stats();
    EXPECT_EQ(now.openHandles, 0u);
    EXPECT_EQ(now.liveMappings, 0u);
    EXPECT_EQ(now.buffersAllocated, 0u);
    EXPECT_FALSE(now.streaming);
  }

  std::unique_ptr<CaptureManager> makeCapture() {
    std::unique_ptr<CaptureManager> capture;
    stdoutOf([&] { capture = std::make_unique<CaptureManager>(*backend_); });
    return capture;
  }

  // The next frame of device 0, top row first, B, G, R; empty when none came within the timeout.
  static cv::Mat grabFrame(CaptureManager& capture, milliseconds timeout = milliseconds(5000)) {
    const int width = capture.frameWidth(0);
    const int height = capture.frameHeight(0);
    if (width == 0 || height == 0) return {};
    cv::Mat frame(height, width, CV_8UC3);
    if (!waitUntil([&] { return capture.hasNewFrame(0); }, timeout)) return {};
    if (!capture.copyFrame(0, frame.data, false, true)) return {};
    return frame;
  }

  ScratchDirectory scratch_;
  std::unique_ptr<CaptureBackend> backend_ = makeV4l2Backend();
  int (*reconfigure_)() = nullptr;
  void (*readStats_)(FakecamStats*) = nullptr;
};

TEST_F(FakeCamera, ListingShowsTheCaptureNodeWithItsCardNameAndSkipsTheMetadataNode) {
  useCamera({});
  const std::vector<std::string> nodes = listVideoNodes("/dev");
  EXPECT_EQ(nodes, (std::vector<std::string>{"/dev/video0", "/dev/video1"}));
  auto capture = makeCapture();
  EXPECT_EQ(stdoutOf([&] { EXPECT_EQ(capture->listDevices(false), 1); }),
            "\nCAPTURE SPY MODE!\n\nSETUP: Looking For Capture Devices\nSETUP: 0) Quarnel emulated camera \n"
            "SETUP: 1 Device(s) found\n\n");
  capture.reset();
  expectCameraReleased();
}

TEST_F(FakeCamera, EveryConvertedPixelFormatGivesTheSourcePictureAlsoWithPaddedRows) {
  struct Case {
    const char* format;
    double meanError;      // over all bytes
    double barError;       // a bar's mean colour
    bool grey;             // the frame carries luma only
  };
  // Exact formats must be exact; quantised ones lose the low bits; YUV and JPEG lose chroma detail.
  const std::vector<Case> cases = {
      {"BGR3", 0, 0, false},   {"RGB3", 0, 0, false},   {"BGR4", 0, 0, false},   {"XR24", 0, 0, false},
      {"AR24", 0, 0, false},   {"RGBP", 4, 7, false},   {"RGBO", 4, 7, false},   {"XR15", 4, 7, false},
      {"AR15", 4, 7, false},   {"GREY", 1, 1, true},    {"YUYV", 4, 4, false},   {"YVYU", 4, 4, false},
      {"UYVY", 4, 4, false},   {"YU12", 5, 4, false},   {"YV12", 5, 4, false},   {"NV12", 5, 4, false},
      {"NV21", 5, 4, false},   {"MJPG", 6, 6, false},   {"JPEG", 6, 6, false},
  };
  const cv::Mat picture = colourBars(320, 240);
  cv::Mat greyPicture;
  cv::cvtColor(picture, greyPicture, cv::COLOR_BGR2GRAY);
  cv::cvtColor(greyPicture, greyPicture, cv::COLOR_GRAY2BGR);
  const std::string file = scratch_.write("bars.png", picture);
  for (const Case& row : cases) {
    for (const char* padding : {"0", "40"}) {
      SCOPED_TRACE(std::string(row.format) + " padding " + padding);
      useCamera({{"QUARNEL_FAKECAM_PICTURES", file}, {"QUARNEL_FAKECAM_FORMAT", row.format},
                 {"QUARNEL_FAKECAM_SIZE", "320x240"}, {"QUARNEL_FAKECAM_PADDING", padding}});
      auto capture = makeCapture();
      stdoutOf([&] { EXPECT_TRUE(capture->openDevice(0)); });
      ASSERT_EQ(capture->frameWidth(0), 320);
      ASSERT_EQ(capture->frameHeight(0), 240);
      const cv::Mat frame = grabFrame(*capture);
      ASSERT_FALSE(frame.empty()) << "no frame";
      const FrameError error = frameError(frame, row.grey ? greyPicture : picture);
      EXPECT_LE(error.mean, row.meanError);
      EXPECT_LE(error.worstBar, row.barError);
      stdoutOf([&] { capture.reset(); });
      expectCameraReleased();
    }
  }
}

TEST_F(FakeCamera, OpenAtTheDefaultFormatAsksForTheRequestedFrameRate) {
  struct Case {
    int requestedFps;  // 0: none requested
    std::uint32_t expectedDenominator;
  };
  for (const Case& row : std::vector<Case>{{0, 30}, {15, 15}, {5, 5}, {12, 15}}) {
    SCOPED_TRACE(row.requestedFps);
    useCamera({});
    auto capture = makeCapture();
    if (row.requestedFps > 0) capture->setRequestedFrameRate(0, row.requestedFps);
    const std::string out = stdoutOf([&] { EXPECT_TRUE(capture->openDevice(0)); });
    EXPECT_EQ(out.find("SETUP: trying format"), std::string::npos) << "the default format needs no format lines";
    EXPECT_EQ(capture->frameWidth(0), 640);
    EXPECT_EQ(capture->frameHeight(0), 480);
    EXPECT_EQ(stats().frameIntervalDenominator, row.expectedDenominator);
    stdoutOf([&] { capture.reset(); });
  }
}

TEST_F(FakeCamera, DefaultFormatThatCannotBeConvertedFallsBackToTheRequestedSize) {
  const cv::Mat picture = colourBars(640, 480);
  useCamera({{"QUARNEL_FAKECAM_PICTURES", scratch_.write("bars.png", picture)},
             {"QUARNEL_FAKECAM_FORMAT", "Y16,YUYV"}, {"QUARNEL_FAKECAM_SIZE", "1280x720"}});
  auto capture = makeCapture();
  capture->setRequestedFrameRate(0, 15);
  const std::string first = stdoutOf([&] { EXPECT_FALSE(capture->openDevice(0)); });
  EXPECT_NE(first.find("ERROR: Could not connect pins - RenderStream()"), std::string::npos) << first;
  expectCameraReleased();
  capture->setRequestedFrameRate(0, 15);
  const std::string sized = stdoutOf([&] { EXPECT_TRUE(capture->openDevice(0, 640, 480)); });
  EXPECT_NE(sized.find("SETUP: Default Format is set to 1280 by 720 \n"), std::string::npos) << sized;
  EXPECT_NE(sized.find("SETUP: trying format YUY2 @ 640 by 480\n"), std::string::npos) << sized;
  EXPECT_EQ(sized.find("SETUP: trying format YVYU"), std::string::npos) << "YUY2 was taken";
  ASSERT_EQ(capture->frameWidth(0), 640);
  ASSERT_EQ(capture->frameHeight(0), 480);
  EXPECT_EQ(stats().frameIntervalDenominator, 15u);
  const cv::Mat frame = grabFrame(*capture);
  ASSERT_FALSE(frame.empty());
  EXPECT_LE(frameError(frame, picture).worstBar, 4);
  stdoutOf([&] { capture.reset(); });
  expectCameraReleased();
}

TEST_F(FakeCamera, SizeTheDriverAdjustsIsFoundThroughItsFrameSizes) {
  struct Case {
    const char* sizes;
    int wantWidth;
    int wantHeight;
    int width;
    int height;
    bool closestSearched;
  };
  const std::vector<Case> cases = {
      {"320x240,640x480,1280x720", 700, 500, 640, 480, true},
      {"stepwise:160x120-1280x960/160x120", 720, 500, 640, 480, true},  // 640 and 800 equally near: the smaller
      {"stepwise:160x120-1280x960/160x120", 800, 600, 800, 600, false},
      {"stepwise:160x120-1280x960/160x120", 2000, 2000, 1280, 960, true},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.sizes + std::string(" ") + std::to_string(row.wantWidth) + "x" + std::to_string(row.wantHeight));
    useCamera({{"QUARNEL_FAKECAM_FORMAT", "Y16,YUYV"}, {"QUARNEL_FAKECAM_SIZE", "160x120"},
               {"QUARNEL_FAKECAM_SIZES", row.sizes}});
    auto capture = makeCapture();
    const std::string out = stdoutOf([&] { EXPECT_TRUE(capture->openDevice(0, row.wantWidth, row.wantHeight)); });
    EXPECT_EQ(capture->frameWidth(0), row.width) << out;
    EXPECT_EQ(capture->frameHeight(0), row.height);
    const std::string closest = "SETUP: closest supported size is YUY2 @ " + std::to_string(row.width) + " " +
                                std::to_string(row.height) + "\n";
    EXPECT_EQ(out.find(closest) != std::string::npos, row.closestSearched) << out;
    EXPECT_FALSE(grabFrame(*capture).empty());
    stdoutOf([&] { capture.reset(); });
    expectCameraReleased();
  }
}

TEST_F(FakeCamera, StreamingRotatesTheBuffersOverThousandsOfFrames) {
  // Two pictures in turn, one frame each: every frame taken must be one of them, whole.
  cv::Mat dark(120, 160, CV_8UC3, cv::Scalar(40, 40, 40));
  cv::Mat light(120, 160, CV_8UC3, cv::Scalar(210, 210, 210));
  cv::rectangle(dark, cv::Rect(10, 10, 50, 30), cv::Scalar(200, 200, 200), cv::FILLED);
  cv::rectangle(light, cv::Rect(90, 60, 50, 50), cv::Scalar(20, 20, 20), cv::FILLED);
  useCamera({{"QUARNEL_FAKECAM_PICTURES", scratch_.write("dark.png", dark) + ":" + scratch_.write("light.png", light)},
             {"QUARNEL_FAKECAM_REPEAT", "1"}, {"QUARNEL_FAKECAM_FORMAT", "GREY"},
             {"QUARNEL_FAKECAM_SIZE", "160x120"}, {"QUARNEL_FAKECAM_FPS", "2000"}});
  auto capture = makeCapture();
  stdoutOf([&] { ASSERT_TRUE(capture->openDevice(0)); });
  int darkFrames = 0;
  int lightFrames = 0;
  int otherFrames = 0;
  const auto deadline = Clock::now() + std::chrono::seconds(120);
  while (stats().framesDelivered < 3000 && Clock::now() < deadline) {
    const cv::Mat frame = grabFrame(*capture);
    ASSERT_FALSE(frame.empty()) << "frames stopped after " << stats().framesDelivered;
    if (cv::norm(frame, dark, cv::NORM_INF) == 0) {
      ++darkFrames;
    } else if (cv::norm(frame, light, cv::NORM_INF) == 0) {
      ++lightFrames;
    } else {
      ++otherFrames;
    }
  }
  const FakecamStats streamed = stats();
  EXPECT_GE(streamed.framesDelivered, 3000u);
  EXPECT_EQ(streamed.distinctBuffersDequeued, streamed.buffersAllocated);
  EXPECT_GE(streamed.buffersAllocated, 2u);
  EXPECT_EQ(streamed.misuses, 0u);
  EXPECT_GT(darkFrames, 0);
  EXPECT_GT(lightFrames, 0);
  EXPECT_EQ(otherFrames, 0);
  stdoutOf([&] { capture.reset(); });
  expectCameraReleased();
}

// The test's own V4L2 client: holds the camera's buffers and streams, as another program would.
struct CameraHolder {
  CameraHolder() {
    fd = open("/dev/video0", O_RDWR | O_NONBLOCK | O_CLOEXEC);
    v4l2_requestbuffers request{};
    request.count = 2;
    request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    request.memory = V4L2_MEMORY_MMAP;
    requested = fd >= 0 && ioctl(fd, VIDIOC_REQBUFS, &request) == 0;
    for (std::uint32_t index = 0; requested && index < request.count; ++index) {
      v4l2_buffer buffer{};
      buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
      buffer.memory = V4L2_MEMORY_MMAP;
      buffer.index = index;
      requested = ioctl(fd, VIDIOC_QBUF, &buffer) == 0;
    }
    int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    streaming = requested && ioctl(fd, VIDIOC_STREAMON, &type) == 0;
  }
  ~CameraHolder() {
    if (fd >= 0) close(fd);
  }
  int fd = -1;
  bool requested = false;
  bool streaming = false;
};

TEST_F(FakeCamera, CameraStreamingForAnotherProgramIsBusyUntilItLetsGo) {
  useCamera({});
  auto capture = makeCapture();
  {
    CameraHolder other;
    ASSERT_TRUE(other.streaming);
    const std::string out = stdoutOf([&] {
      EXPECT_FALSE(capture->openDevice(0));
      EXPECT_FALSE(capture->openDevice(0, 640, 480));
    });
    EXPECT_EQ(capture->frameWidth(0), 0) << out;
    EXPECT_GT(stats().busyAnswers, 0u);
    // Listed all the same: opening the node is allowed, only streaming is taken.
    EXPECT_EQ(stdoutOf([&] { EXPECT_EQ(capture->listDevices(true), 1); }), "");
    EXPECT_EQ(stats().openHandles, 1u) << "only the other program's descriptor is left";
  }
  stdoutOf([&] { EXPECT_TRUE(capture->openDevice(0)); });
  EXPECT_FALSE(grabFrame(*capture).empty());

  // And the other way round: the program streams, the other one is refused.
  CameraHolder late;
  EXPECT_GE(late.fd, 0);
  EXPECT_FALSE(late.requested);
  EXPECT_EQ(errno, EBUSY);
  EXPECT_FALSE(grabFrame(*capture).empty()) << "the refusal does not disturb the stream";
}

TEST_F(FakeCamera, UnpluggedCameraStopsItsFramesAndIsOpenedAgainWhenBack) {
  useCamera({{"QUARNEL_FAKECAM_UNPLUG", "20:1500"}, {"QUARNEL_FAKECAM_SIZE", "320x240"}, {"QUARNEL_FAKECAM_FPS", "60"}});
  auto capture = makeCapture();
  stdoutOf([&] { ASSERT_TRUE(capture->openDevice(0)); });
  ASSERT_FALSE(grabFrame(*capture).empty());
  ASSERT_TRUE(waitUntil([&] { return stats().unplugs == 1; }, milliseconds(5000)));

  // Gone: no more frames, not listed, and a reopen finds no device.
  bool copied = true;
  stdoutOf([&] { copied = !grabFrame(*capture, milliseconds(300)).empty() && !grabFrame(*capture, milliseconds(300)).empty(); });
  EXPECT_FALSE(copied) << "frames after the unplug";
  EXPECT_EQ(stdoutOf([&] { EXPECT_EQ(capture->listDevices(true), 0); }), "");
  const std::string gone = stdoutOf([&] {
    capture->closeDevice(0);
    EXPECT_FALSE(capture->openDevice(0));
  });
  EXPECT_NE(gone.find("SETUP: device[0] not found - you have 0 devices available\n"), std::string::npos) << gone;
  EXPECT_EQ(stats().openHandles, 0u) << "the dead descriptor was closed";
  EXPECT_EQ(stats().liveMappings, 0u);

  // Back: opened again and streaming.
  bool reopened = false;
  ASSERT_TRUE(waitUntil([&] {
    stdoutOf([&] { reopened = capture->openDevice(0); });
    return reopened;
  }, milliseconds(5000)));
  EXPECT_FALSE(grabFrame(*capture).empty());
  stdoutOf([&] { capture.reset(); });
  expectCameraReleased();
}

TEST_F(FakeCamera, ClosingWhileFramesArriveReleasesEverything) {
  useCamera({{"QUARNEL_FAKECAM_SIZE", "320x240"}, {"QUARNEL_FAKECAM_FPS", "1000"}});
  auto capture = makeCapture();
  for (int round = 0; round < 20; ++round) {
    SCOPED_TRACE(round);
    stdoutOf([&] { ASSERT_TRUE(capture->openDevice(0)); });
    // Half the rounds close with a frame waiting in the slot, half right after one was taken.
    ASSERT_TRUE(waitUntil([&] { return capture->hasNewFrame(0); }, milliseconds(5000)));
    if (round % 2 == 1) {
      ASSERT_FALSE(grabFrame(*capture).empty());
    }
    stdoutOf([&] { capture->closeDevice(0); });
    expectCameraReleased();
  }
}

TEST_F(FakeCamera, PictureOfAnotherSizeIsFittedOnMidGrey) {
  struct Case {
    int pictureWidth;
    int pictureHeight;
    cv::Rect inside;  // where the picture lands in the 320 x 240 frame
  };
  const std::vector<Case> cases = {
      {100, 100, cv::Rect(40, 0, 240, 240)},   // taller: grey left and right
      {640, 120, cv::Rect(0, 90, 320, 60)},    // wider, shrunk: grey above and below
      {320, 240, cv::Rect(0, 0, 320, 240)},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(std::to_string(row.pictureWidth) + "x" + std::to_string(row.pictureHeight));
    const cv::Mat white(row.pictureHeight, row.pictureWidth, CV_8UC3, cv::Scalar(255, 255, 255));
    useCamera({{"QUARNEL_FAKECAM_PICTURES", scratch_.write("white.png", white)}, {"QUARNEL_FAKECAM_FORMAT", "BGR3"},
               {"QUARNEL_FAKECAM_SIZE", "320x240"}});
    auto capture = makeCapture();
    stdoutOf([&] { ASSERT_TRUE(capture->openDevice(0)); });
    const cv::Mat frame = grabFrame(*capture);
    ASSERT_FALSE(frame.empty());
    cv::Mat expected(240, 320, CV_8UC3, cv::Scalar(128, 128, 128));
    expected(row.inside).setTo(cv::Scalar(255, 255, 255));
    EXPECT_EQ(cv::norm(frame, expected, cv::NORM_INF), 0);
    stdoutOf([&] { capture.reset(); });
  }
}

TEST_F(FakeCamera, JpegFramesComeWithoutHuffmanTables) {
  useCamera({{"QUARNEL_FAKECAM_FORMAT", "MJPG"}, {"QUARNEL_FAKECAM_SIZE", "320x240"}});
  CameraHolder holder;
  ASSERT_TRUE(holder.streaming);
  v4l2_buffer buffer{};
  buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  buffer.memory = V4L2_MEMORY_MMAP;
  ASSERT_TRUE(waitUntil([&] { return ioctl(holder.fd, VIDIOC_DQBUF, &buffer) == 0; }, milliseconds(5000)));
  v4l2_buffer query{};
  query.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  query.memory = V4L2_MEMORY_MMAP;
  query.index = buffer.index;
  ASSERT_EQ(ioctl(holder.fd, VIDIOC_QUERYBUF, &query), 0);
  void* mapped = mmap(nullptr, query.length, PROT_READ, MAP_SHARED, holder.fd, query.m.offset);
  ASSERT_NE(mapped, MAP_FAILED);
  const auto* data = static_cast<const std::uint8_t*>(mapped);
  ASSERT_GT(buffer.bytesused, 4u);
  EXPECT_EQ(data[0], 0xFF);
  EXPECT_EQ(data[1], 0xD8);
  // Walk the segments up to the scan: quantisation tables and the frame header, no DHT.
  std::vector<int> markers;
  for (std::size_t pos = 2; pos + 4 <= buffer.bytesused && data[pos] == 0xFF;) {
    markers.push_back(data[pos + 1]);
    if (data[pos + 1] == 0xDA) break;
    pos += 2 + (static_cast<std::size_t>(data[pos + 2]) << 8 | data[pos + 3]);
  }
  EXPECT_EQ(std::count(markers.begin(), markers.end(), 0xC4), 0);
  EXPECT_EQ(std::count(markers.begin(), markers.end(), 0xC0), 1) << "baseline frame header";
  EXPECT_EQ(markers.back(), 0xDA);
  munmap(mapped, query.length);
}

}  // namespace
