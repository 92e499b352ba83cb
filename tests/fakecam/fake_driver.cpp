#include "tests/fakecam/fake_driver.h"

#include <linux/videodev2.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include <opencv2/imgcodecs.hpp>

#include "tests/fakecam/camera_config.h"
#include "tests/fakecam/frame_source.h"
#include "tests/fakecam/real_libc.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint32_t FAKECAM_MAX_BUFFERS = 8;
constexpr std::uint32_t FAKECAM_VIDEO_MAJOR = 81;
constexpr char FAKECAM_CARD[] = "Quarnel emulated camera";
constexpr char FAKECAM_DRIVER[] = "quarnel_fakecam";
constexpr char FAKECAM_BUS[] = "usb-0000:00:14.0-1";
constexpr std::uint32_t FAKECAM_CAPTURE_CAPS = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING | V4L2_CAP_EXT_PIX_FORMAT;
constexpr std::uint32_t FAKECAM_META_CAPS = V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING | V4L2_CAP_EXT_PIX_FORMAT;
// How long a blocking DQBUF sleeps between looks at the frame clock.
constexpr auto FAKECAM_BLOCKING_STEP = std::chrono::milliseconds(2);

struct Handle {
  int node = 0;
  std::uint64_t generation = 0;  // the plug-in the descriptor was opened on
  bool nonBlocking = false;
};

enum class BufferPlace { User, Queued, Done };

struct BufferQueue {
  int owner = -1;  // descriptor that allocated the buffers
  int memoryFd = -1;
  std::uint8_t* driverView = nullptr;
  std::size_t stride = 0;  // bytes between buffers, a whole number of pages
  std::uint32_t bufferBytes = 0;
  std::vector<BufferPlace> places;
  std::vector<v4l2_buffer> done;  // filled buffers in the order they were filled
  std::deque<std::uint32_t> queued;
  std::vector<bool> everDequeued;
};

struct Mapping {
  void* address;
  std::size_t length;
};

struct Device {
  CameraConfig config;
  std::vector<cv::Mat> pictures;
  bool configured = false;

  bool present = true;
  Clock::time_point backAt;
  std::uint64_t generation = 1;
  std::uint64_t framesSincePlug = 0;

  std::uint32_t pixelFormat = 0;
  FrameSize size;
  std::uint32_t fps = 30;

  BufferQueue queue;
  bool streaming = false;
  Clock::time_point streamStart;
  std::uint64_t framesDue = 0;  // frame times passed since STREAMON that have been served or dropped

  // Frames of the current format and size, one per picture, made when first needed.
  std::uint32_t cachedFormat = 0;
  FrameSize cachedSize;
  std::vector<std::vector<std::uint8_t>> cachedFrames;

  std::map<int, Handle> handles;
  std::vector<Mapping> mappings;
  FakecamStats stats;
};

// Counts readable without the lock: the C library replacements skip the camera when both are 0, and a
// sanitizer's own calls (mmap while it symbolises a report) must not wait for a lock its thread holds.
std::atomic<std::size_t> handlesOpen{0};
std::atomic<std::size_t> mappingsLive{0};
// Which descriptors are the camera's, also readable without the lock.
constexpr int FAKECAM_MAX_FD = 65536;
std::atomic<bool> cameraDescriptors[FAKECAM_MAX_FD];

std::mutex& deviceLock() {
  static std::mutex* lock = new std::mutex;  // never destroyed: calls may come during exit
  return *lock;
}

// Set while this thread holds the device lock: calls the camera itself makes then (or a sanitizer makes
// while it reports on the camera's code) go straight to the C library.
thread_local bool insideDriver = false;

class DriverLock {
 public:
  DriverLock() : guard(deviceLock()) { insideDriver = true; }
  ~DriverLock() { insideDriver = false; }
  DriverLock(const DriverLock&) = delete;
  DriverLock& operator=(const DriverLock&) = delete;

 private:
  std::lock_guard<std::mutex> guard;
};

Device& device() {
  static Device* instance = new Device;
  return *instance;
}

void resetFormat(Device& camera) {
  camera.pixelFormat = camera.config.pixelFormats.front();
  camera.size = camera.config.defaultSize;
  camera.fps = camera.config.defaultFps;
}

// The settings and pictures, read without holding the device lock: reading a picture goes through the
// C library calls this camera answers (a codec may list directories or open files).
struct LoadedSettings {
  CameraConfig config;
  std::vector<cv::Mat> pictures;
};

LoadedSettings loadSettings() {
  LoadedSettings loaded;
  loaded.config = readCameraConfig();
  for (const std::string& path : loaded.config.picturePaths) {
    cv::Mat picture = cv::imread(path, cv::IMREAD_COLOR);
    if (picture.empty()) std::fprintf(stderr, "quarnel fakecam: cannot read picture %s\n", path.c_str());
    loaded.pictures.push_back(picture);
  }
  if (loaded.pictures.empty()) loaded.pictures.emplace_back();
  return loaded;
}

void install(Device& camera, LoadedSettings loaded) {
  camera.config = std::move(loaded.config);
  camera.pictures = std::move(loaded.pictures);
  camera.cachedFrames.clear();
  camera.present = true;
  camera.framesSincePlug = 0;
  resetFormat(camera);
  camera.configured = true;
}

// Reads the settings at the first use of the camera; called before the device lock is taken.
void ensureConfigured() {
  static std::once_flag once;
  std::call_once(once, [] {
    LoadedSettings loaded = loadSettings();
    DriverLock guard;
    if (!device().configured) install(device(), std::move(loaded));
  });
}

// The device with its settings read and its presence brought up to date; the lock must be held.
Device& camera() {
  Device& camera = device();
  if (!camera.present && Clock::now() >= camera.backAt) {
    camera.present = true;
    camera.framesSincePlug = 0;
    resetFormat(camera);
  }
  return camera;
}

FrameLayout currentLayout(const Device& camera) {
  return frameLayout(camera.pixelFormat, camera.size.width, camera.size.height, camera.config.rowPadding);
}

bool isOffered(const Device& camera, std::uint32_t pixelFormat) {
  const auto& formats = camera.config.pixelFormats;
  return std::find(formats.begin(), formats.end(), pixelFormat) != formats.end();
}

std::uint32_t nearestStep(std::uint32_t wanted, std::uint32_t min, std::uint32_t max, std::uint32_t step) {
  const std::uint32_t clamped = std::clamp(wanted, min, max);
  const std::uint32_t below = min + (clamped - min) / step * step;
  const std::uint32_t above = below + step;
  return above <= max && above - clamped < clamped - below ? above : below;
}

// The offered size nearest to the wanted one: drivers answer an unsupported size this way.
FrameSize nearestSize(const Device& camera, FrameSize wanted) {
  const CameraConfig& config = camera.config;
  if (config.stepwise) {
    const StepwiseSizes& range = config.stepwiseSizes;
    return {nearestStep(wanted.width, range.min.width, range.max.width, range.step.width),
            nearestStep(wanted.height, range.min.height, range.max.height, range.step.height)};
  }
  FrameSize best = config.discreteSizes.front();
  long bestDistance = -1;
  for (const FrameSize& size : config.discreteSizes) {
    const long distance = std::labs(static_cast<long>(size.width) - static_cast<long>(wanted.width)) +
                          std::labs(static_cast<long>(size.height) - static_cast<long>(wanted.height));
    if (bestDistance < 0 || distance < bestDistance) {
      best = size;
      bestDistance = distance;
    }
  }
  return best;
}

bool isOfferedSize(const Device& camera, FrameSize size) {
  const FrameSize nearest = nearestSize(camera, size);
  return nearest.width == size.width && nearest.height == size.height;
}

std::uint32_t nearestFps(const Device& camera, const v4l2_fract& interval) {
  if (interval.numerator == 0 || interval.denominator == 0) return camera.config.defaultFps;
  const double seconds = static_cast<double>(interval.numerator) / interval.denominator;
  std::uint32_t best = camera.config.offeredFps.front();
  for (std::uint32_t fps : camera.config.offeredFps) {
    if (std::abs(1.0 / fps - seconds) < std::abs(1.0 / best - seconds)) best = fps;
  }
  return best;
}

void fillPixFormat(const Device& camera, v4l2_pix_format& pix) {
  const FrameLayout layout = currentLayout(camera);
  pix = v4l2_pix_format{};
  pix.width = camera.size.width;
  pix.height = camera.size.height;
  pix.pixelformat = camera.pixelFormat;
  pix.field = V4L2_FIELD_NONE;
  pix.bytesperline = layout.bytesPerLine;
  pix.sizeimage = layout.sizeImage;
  pix.colorspace = isCompressedFormat(camera.pixelFormat) ? V4L2_COLORSPACE_JPEG : V4L2_COLORSPACE_SRGB;
}

void freeQueue(Device& camera) {
  BufferQueue& queue = camera.queue;
  if (queue.driverView != nullptr) realMunmap(queue.driverView, queue.stride * queue.places.size());
  if (queue.memoryFd >= 0) realClose(queue.memoryFd);  // the caller's mappings keep their memory
  queue = BufferQueue{};
  camera.stats.buffersAllocated = 0;
}

void stopStreaming(Device& camera) {
  camera.streaming = false;
  BufferQueue& queue = camera.queue;
  queue.queued.clear();
  queue.done.clear();
  std::fill(queue.places.begin(), queue.places.end(), BufferPlace::User);
}

void unplug(Device& camera) {
  camera.present = false;
  camera.backAt = Clock::now() + std::chrono::milliseconds(camera.config.unplugDownMs);
  ++camera.generation;
  ++camera.stats.unplugs;
  stopStreaming(camera);
  freeQueue(camera);
}

const std::vector<std::uint8_t>& frameFor(Device& camera, std::uint64_t sequence) {
  if (camera.cachedFormat != camera.pixelFormat || camera.cachedSize.width != camera.size.width ||
      camera.cachedSize.height != camera.size.height || camera.cachedFrames.size() != camera.pictures.size()) {
    camera.cachedFrames.assign(camera.pictures.size(), {});
    camera.cachedFormat = camera.pixelFormat;
    camera.cachedSize = camera.size;
  }
  const std::size_t index = static_cast<std::size_t>(sequence / camera.config.repeat % camera.pictures.size());
  std::vector<std::uint8_t>& frame = camera.cachedFrames[index];
  if (frame.empty()) {
    const cv::Mat fitted = fitPicture(camera.pictures[index], static_cast<int>(camera.size.width),
                                      static_cast<int>(camera.size.height));
    frame = encodeFrame(fitted, camera.pixelFormat, currentLayout(camera));
  }
  return frame;
}

Clock::duration frameInterval(const Device& camera) { return std::chrono::microseconds(1000000 / camera.fps); }

// Serves the frame times that have passed: the newest one fills the oldest queued buffer, older ones
// with no buffer to go to are dropped, as a driver does. Unplugs the camera when its time has come.
void advanceFrames(Device& camera) {
  if (!camera.streaming) return;
  const std::uint64_t due =
      static_cast<std::uint64_t>((Clock::now() - camera.streamStart) / frameInterval(camera)) + 1;
  if (due <= camera.framesDue) return;
  BufferQueue& queue = camera.queue;
  if (queue.queued.empty()) return;  // the frame waits for a buffer until the next frame time
  if (camera.config.unplugAfterFrames > 0 && camera.framesSincePlug >= camera.config.unplugAfterFrames) {
    unplug(camera);
    return;
  }
  camera.stats.framesDropped += due - camera.framesDue - 1;
  camera.framesDue = due;
  const std::uint64_t sequence = due - 1;
  const std::uint32_t index = queue.queued.front();
  queue.queued.pop_front();
  const std::vector<std::uint8_t>& frame = frameFor(camera, sequence);
  const std::size_t used = std::min<std::size_t>(frame.size(), queue.bufferBytes);
  std::memcpy(queue.driverView + index * queue.stride, frame.data(), used);
  v4l2_buffer filled{};
  filled.index = index;
  filled.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  filled.memory = V4L2_MEMORY_MMAP;
  filled.bytesused = static_cast<std::uint32_t>(used);
  filled.field = V4L2_FIELD_NONE;
  filled.sequence = static_cast<std::uint32_t>(sequence);
  filled.flags = V4L2_BUF_FLAG_MAPPED | V4L2_BUF_FLAG_DONE | V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC;
  const auto sinceEpoch = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch());
  filled.timestamp.tv_sec = sinceEpoch.count() / 1000000;
  filled.timestamp.tv_usec = sinceEpoch.count() % 1000000;
  filled.length = queue.bufferBytes;
  filled.m.offset = static_cast<std::uint32_t>(index * queue.stride);
  queue.places[index] = BufferPlace::Done;
  queue.done.push_back(filled);
  ++camera.framesSincePlug;
}

std::chrono::milliseconds untilNextFrame(const Device& camera) {
  const Clock::duration interval = frameInterval(camera);
  const Clock::time_point next = camera.streamStart + interval * static_cast<long>(camera.framesDue);
  const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(next - Clock::now());
  return std::max(wait, std::chrono::milliseconds(0)) + std::chrono::milliseconds(1);
}

int refuse(Device& camera, int error) {
  if (error == EINVAL) ++camera.stats.misuses;
  if (error == EBUSY) ++camera.stats.busyAnswers;
  return -error;
}

// ---- the ioctls -----------------------------------------------------------------------------------

int queryCapabilities(const Handle& handle, v4l2_capability& caps) {
  caps = v4l2_capability{};
  std::snprintf(reinterpret_cast<char*>(caps.driver), sizeof caps.driver, "%s", FAKECAM_DRIVER);
  std::snprintf(reinterpret_cast<char*>(caps.card), sizeof caps.card, "%s", FAKECAM_CARD);
  std::snprintf(reinterpret_cast<char*>(caps.bus_info), sizeof caps.bus_info, "%s", FAKECAM_BUS);
  caps.version = 0x060100;
  caps.capabilities = FAKECAM_CAPTURE_CAPS | FAKECAM_META_CAPS | V4L2_CAP_DEVICE_CAPS;
  caps.device_caps = handle.node == 0 ? FAKECAM_CAPTURE_CAPS : FAKECAM_META_CAPS;
  return 0;
}

int enumerateFormat(Device& camera, v4l2_fmtdesc& description) {
  if (description.type != V4L2_BUF_TYPE_VIDEO_CAPTURE || description.index >= camera.config.pixelFormats.size()) {
    return -EINVAL;  // the end of the list: not counted as a misuse
  }
  const std::uint32_t pixelFormat = camera.config.pixelFormats[description.index];
  const std::uint32_t index = description.index;
  description = v4l2_fmtdesc{};
  description.index = index;
  description.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  description.pixelformat = pixelFormat;
  description.flags = isCompressedFormat(pixelFormat) ? V4L2_FMT_FLAG_COMPRESSED : 0;
  std::snprintf(reinterpret_cast<char*>(description.description), sizeof description.description, "%s",
                formatDescription(pixelFormat));
  return 0;
}

int enumerateFrameSizes(Device& camera, v4l2_frmsizeenum& sizes) {
  if (!isOffered(camera, sizes.pixel_format)) return -EINVAL;
  const CameraConfig& config = camera.config;
  if (config.stepwise) {
    if (sizes.index != 0) return -EINVAL;
    sizes.type = V4L2_FRMSIZE_TYPE_STEPWISE;
    sizes.stepwise = {config.stepwiseSizes.min.width, config.stepwiseSizes.max.width, config.stepwiseSizes.step.width,
                      config.stepwiseSizes.min.height, config.stepwiseSizes.max.height,
                      config.stepwiseSizes.step.height};
    return 0;
  }
  if (sizes.index >= config.discreteSizes.size()) return -EINVAL;
  sizes.type = V4L2_FRMSIZE_TYPE_DISCRETE;
  sizes.discrete = {config.discreteSizes[sizes.index].width, config.discreteSizes[sizes.index].height};
  return 0;
}

int enumerateFrameIntervals(Device& camera, v4l2_frmivalenum& intervals) {
  if (!isOffered(camera, intervals.pixel_format) || !isOfferedSize(camera, {intervals.width, intervals.height}) ||
      intervals.index >= camera.config.offeredFps.size()) {
    return -EINVAL;
  }
  intervals.type = V4L2_FRMIVAL_TYPE_DISCRETE;
  intervals.discrete = {1, camera.config.offeredFps[intervals.index]};
  return 0;
}

int getFormat(Device& camera, v4l2_format& format) {
  if (format.type != V4L2_BUF_TYPE_VIDEO_CAPTURE) return refuse(camera, EINVAL);
  fillPixFormat(camera, format.fmt.pix);
  return 0;
}

// TRY_FMT and S_FMT: the request adjusted to what the device offers.
int setFormat(Device& camera, v4l2_format& format, bool apply) {
  if (format.type != V4L2_BUF_TYPE_VIDEO_CAPTURE) return refuse(camera, EINVAL);
  if (apply && (camera.streaming || (camera.queue.owner >= 0 && !camera.queue.places.empty()))) {
    return refuse(camera, EBUSY);  // the format cannot change under allocated buffers, also not the owner's
  }
  Device adjusted;
  adjusted.config = camera.config;
  adjusted.pixelFormat = isOffered(camera, format.fmt.pix.pixelformat) ? format.fmt.pix.pixelformat
                                                                       : camera.config.pixelFormats.front();
  adjusted.size = nearestSize(camera, {format.fmt.pix.width, format.fmt.pix.height});
  fillPixFormat(adjusted, format.fmt.pix);
  if (apply) {
    camera.pixelFormat = adjusted.pixelFormat;
    camera.size = adjusted.size;
  }
  return 0;
}

int getParameters(Device& camera, v4l2_streamparm& parameters) {
  if (parameters.type != V4L2_BUF_TYPE_VIDEO_CAPTURE) return refuse(camera, EINVAL);
  parameters.parm.capture = v4l2_captureparm{};
  parameters.parm.capture.capability = V4L2_CAP_TIMEPERFRAME;
  parameters.parm.capture.timeperframe = {1, camera.fps};
  return 0;
}

int setParameters(Device& camera, v4l2_streamparm& parameters) {
  if (parameters.type != V4L2_BUF_TYPE_VIDEO_CAPTURE) return refuse(camera, EINVAL);
  if (camera.streaming) return refuse(camera, EBUSY);  // the interval cannot change mid-stream
  camera.fps = nearestFps(camera, parameters.parm.capture.timeperframe);
  return getParameters(camera, parameters);
}

int requestBuffers(Device& camera, int fd, v4l2_requestbuffers& request) {
  if (request.type != V4L2_BUF_TYPE_VIDEO_CAPTURE || request.memory != V4L2_MEMORY_MMAP) {
    return refuse(camera, EINVAL);
  }
  BufferQueue& queue = camera.queue;
  if (queue.owner >= 0 && queue.owner != fd) return refuse(camera, EBUSY);
  if (camera.streaming) return refuse(camera, EBUSY);
  freeQueue(camera);
  if (request.count == 0) return 0;

  const FrameLayout layout = currentLayout(camera);
  const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  const std::uint32_t count = std::min(request.count, FAKECAM_MAX_BUFFERS);
  queue.bufferBytes = layout.sizeImage;
  queue.stride = (layout.sizeImage + page - 1) / page * page;
  queue.memoryFd = memfd_create("quarnel-fakecam-buffers", MFD_CLOEXEC);
  if (queue.memoryFd < 0 || ftruncate(queue.memoryFd, static_cast<off_t>(queue.stride * count)) != 0) {
    freeQueue(camera);
    return -ENOMEM;
  }
  void* view = realMmap(nullptr, queue.stride * count, PROT_READ | PROT_WRITE, MAP_SHARED, queue.memoryFd, 0);
  if (view == MAP_FAILED) {
    freeQueue(camera);
    return -ENOMEM;
  }
  queue.driverView = static_cast<std::uint8_t*>(view);
  queue.places.assign(count, BufferPlace::User);
  queue.everDequeued.assign(count, false);
  queue.owner = fd;
  request.count = count;
  request.capabilities = V4L2_BUF_CAP_SUPPORTS_MMAP;
  camera.stats.buffersAllocated = count;
  return 0;
}

int checkBuffer(Device& camera, int fd, const v4l2_buffer& buffer) {
  const BufferQueue& queue = camera.queue;
  if (queue.owner >= 0 && queue.owner != fd) return refuse(camera, EBUSY);
  if (buffer.type != V4L2_BUF_TYPE_VIDEO_CAPTURE || buffer.memory != V4L2_MEMORY_MMAP ||
      buffer.index >= queue.places.size()) {
    return refuse(camera, EINVAL);
  }
  return 0;
}

void describeBuffer(const Device& camera, std::uint32_t index, v4l2_buffer& buffer) {
  const BufferQueue& queue = camera.queue;
  buffer = v4l2_buffer{};
  buffer.index = index;
  buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  buffer.memory = V4L2_MEMORY_MMAP;
  buffer.length = queue.bufferBytes;
  buffer.m.offset = static_cast<std::uint32_t>(index * queue.stride);
  buffer.flags = V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC;
  if (queue.places[index] == BufferPlace::Queued) buffer.flags |= V4L2_BUF_FLAG_QUEUED;
  if (queue.places[index] == BufferPlace::Done) buffer.flags |= V4L2_BUF_FLAG_DONE;
}

int queryBuffer(Device& camera, int fd, v4l2_buffer& buffer) {
  if (const int refused = checkBuffer(camera, fd, buffer)) return refused;
  describeBuffer(camera, buffer.index, buffer);
  return 0;
}

int queueBuffer(Device& camera, int fd, v4l2_buffer& buffer) {
  if (const int refused = checkBuffer(camera, fd, buffer)) return refused;
  BufferQueue& queue = camera.queue;
  if (queue.places[buffer.index] != BufferPlace::User) return refuse(camera, EINVAL);  // the driver has it
  queue.places[buffer.index] = BufferPlace::Queued;
  queue.queued.push_back(buffer.index);
  describeBuffer(camera, buffer.index, buffer);
  return 0;
}

int dequeueBuffer(Device& camera, int fd, v4l2_buffer& buffer) {
  if (const int refused = checkBuffer(camera, fd, buffer)) return refused;
  if (!camera.streaming) return refuse(camera, EINVAL);
  advanceFrames(camera);
  BufferQueue& queue = camera.queue;
  if (queue.done.empty()) return -EAGAIN;
  buffer = queue.done.front();
  queue.done.erase(queue.done.begin());
  queue.places[buffer.index] = BufferPlace::User;
  queue.everDequeued[buffer.index] = true;
  ++camera.stats.framesDelivered;
  return 0;
}

int streamOn(Device& camera, int fd, const int& type) {
  if (type != V4L2_BUF_TYPE_VIDEO_CAPTURE) return refuse(camera, EINVAL);
  if (camera.queue.owner >= 0 && camera.queue.owner != fd) return refuse(camera, EBUSY);
  if (camera.queue.places.empty()) return refuse(camera, EINVAL);
  if (camera.streaming) return 0;
  camera.streaming = true;
  camera.streamStart = Clock::now();
  camera.framesDue = 0;
  return 0;
}

int streamOff(Device& camera, int fd, const int& type) {
  if (type != V4L2_BUF_TYPE_VIDEO_CAPTURE) return refuse(camera, EINVAL);
  if (camera.queue.owner >= 0 && camera.queue.owner != fd) return refuse(camera, EBUSY);
  stopStreaming(camera);
  return 0;
}

int captureIoctl(Device& camera, int fd, unsigned long request, void* argument) {
  switch (request) {
    case VIDIOC_ENUM_FMT: return enumerateFormat(camera, *static_cast<v4l2_fmtdesc*>(argument));
    case VIDIOC_ENUM_FRAMESIZES: return enumerateFrameSizes(camera, *static_cast<v4l2_frmsizeenum*>(argument));
    case VIDIOC_ENUM_FRAMEINTERVALS: return enumerateFrameIntervals(camera, *static_cast<v4l2_frmivalenum*>(argument));
    case VIDIOC_G_FMT: return getFormat(camera, *static_cast<v4l2_format*>(argument));
    case VIDIOC_TRY_FMT: return setFormat(camera, *static_cast<v4l2_format*>(argument), false);
    case VIDIOC_S_FMT: return setFormat(camera, *static_cast<v4l2_format*>(argument), true);
    case VIDIOC_G_PARM: return getParameters(camera, *static_cast<v4l2_streamparm*>(argument));
    case VIDIOC_S_PARM: return setParameters(camera, *static_cast<v4l2_streamparm*>(argument));
    case VIDIOC_REQBUFS: return requestBuffers(camera, fd, *static_cast<v4l2_requestbuffers*>(argument));
    case VIDIOC_QUERYBUF: return queryBuffer(camera, fd, *static_cast<v4l2_buffer*>(argument));
    case VIDIOC_QBUF: return queueBuffer(camera, fd, *static_cast<v4l2_buffer*>(argument));
    case VIDIOC_DQBUF: return dequeueBuffer(camera, fd, *static_cast<v4l2_buffer*>(argument));
    case VIDIOC_STREAMON: return streamOn(camera, fd, *static_cast<int*>(argument));
    case VIDIOC_STREAMOFF: return streamOff(camera, fd, *static_cast<int*>(argument));
    default: return -ENOTTY;
  }
}

}  // namespace

int fakeNodeForPath(const char* path) {
  if (path == nullptr) return -1;
  for (int node = 0; node < FAKECAM_NODE_COUNT; ++node) {
    if (std::strcmp(path, ("/dev/" + fakeNodeName(node)).c_str()) == 0) return node;
  }
  return -1;
}

std::string fakeNodeName(int node) {
  return node >= 0 && node < FAKECAM_NODE_COUNT ? "video" + std::to_string(node) : std::string();
}

bool fakeNodePresent(int node) {
  ensureConfigured();
  DriverLock guard;
  return node >= 0 && node < FAKECAM_NODE_COUNT && camera().present;
}

dev_t fakeNodeDevice(int node) { return makedev(FAKECAM_VIDEO_MAJOR, static_cast<unsigned>(node)); }

void fakeAttachHandle(int fd, int node, bool nonBlocking) {
  ensureConfigured();
  DriverLock guard;
  Device& camera = ::camera();
  camera.handles[fd] = Handle{node, camera.generation, nonBlocking};
  if (fd < FAKECAM_MAX_FD) cameraDescriptors[fd] = true;
  camera.stats.openHandles = static_cast<std::uint32_t>(camera.handles.size());
  handlesOpen = camera.handles.size();
}

bool fakeIsHandle(int fd) { return fd >= 0 && fd < FAKECAM_MAX_FD && cameraDescriptors[fd].load(); }

int fakeHandleNode(int fd) {
  if (!fakeIsHandle(fd)) return -1;
  DriverLock guard;
  const Device& camera = device();
  const auto found = camera.handles.find(fd);
  return found == camera.handles.end() ? -1 : found->second.node;
}

void fakeDetachHandle(int fd) {
  DriverLock guard;
  Device& camera = device();
  const auto found = camera.handles.find(fd);
  if (found == camera.handles.end()) return;
  // Closing the descriptor that owns the buffers stops streaming and frees them, as release() does.
  if (found->second.generation == camera.generation && camera.queue.owner == fd) {
    stopStreaming(camera);
    freeQueue(camera);
  }
  camera.handles.erase(found);
  if (fd < FAKECAM_MAX_FD) cameraDescriptors[fd] = false;
  camera.stats.openHandles = static_cast<std::uint32_t>(camera.handles.size());
  handlesOpen = camera.handles.size();
}

bool fakeHasHandles() { return handlesOpen.load() > 0; }

bool fakeHasMappings() { return mappingsLive.load() > 0 && !insideDriver; }

int fakeIoctl(int fd, unsigned long request, void* argument) {
  ensureConfigured();
  if (request == VIDIOC_DQBUF) {
    // A blocking DQBUF waits for the frame clock without holding the lock.
    for (;;) {
      std::chrono::milliseconds wait(0);
      {
        DriverLock guard;
        Device& camera = ::camera();
        const auto found = camera.handles.find(fd);
        if (found == camera.handles.end()) return -EBADF;
        if (found->second.generation != camera.generation) return -ENODEV;
        if (found->second.node != 0) return -ENOTTY;
        const int result = dequeueBuffer(camera, fd, *static_cast<v4l2_buffer*>(argument));
        if (result != -EAGAIN || found->second.nonBlocking) return result;
        if (camera.queue.queued.empty()) return -EINVAL;  // nothing could ever be filled
        wait = untilNextFrame(camera);
      }
      std::this_thread::sleep_for(std::min<std::chrono::milliseconds>(wait, FAKECAM_BLOCKING_STEP));
    }
  }
  DriverLock guard;
  Device& camera = ::camera();
  const auto found = camera.handles.find(fd);
  if (found == camera.handles.end()) return -EBADF;
  if (found->second.generation != camera.generation) return -ENODEV;
  if (argument == nullptr) return -EFAULT;
  if (request == VIDIOC_QUERYCAP) return queryCapabilities(found->second, *static_cast<v4l2_capability*>(argument));
  if (found->second.node != 0) return -ENOTTY;  // the metadata node streams nothing the program asks for
  return captureIoctl(camera, fd, request, argument);
}

short fakePollEvents(int fd, short requested, std::chrono::milliseconds& untilChange) {
  ensureConfigured();
  DriverLock guard;
  Device& camera = ::camera();
  untilChange = std::chrono::milliseconds(1000);
  const auto found = camera.handles.find(fd);
  if (found == camera.handles.end()) return POLLNVAL;
  if (found->second.generation != camera.generation) return POLLERR | POLLHUP;
  if (found->second.node != 0 || !camera.streaming || camera.queue.owner != fd) return POLLERR;
  advanceFrames(camera);
  if (!camera.present) return POLLERR | POLLHUP;  // unplugged just now
  if (!camera.queue.done.empty()) return static_cast<short>(requested & (POLLIN | POLLRDNORM));
  if (camera.queue.queued.empty()) return POLLERR;  // nothing queued: vb2 reports an error
  untilChange = untilNextFrame(camera);
  return 0;
}

void* fakeMapBuffer(int fd, void* address, std::size_t length, int protection, int flags, off_t offset, int& error) {
  ensureConfigured();
  DriverLock guard;
  Device& camera = ::camera();
  const auto found = camera.handles.find(fd);
  error = 0;
  if (found == camera.handles.end()) error = EBADF;
  else if (found->second.generation != camera.generation) error = ENODEV;
  else if (!(flags & MAP_SHARED) || camera.queue.places.empty() || offset < 0 ||
           static_cast<std::size_t>(offset) % camera.queue.stride != 0 ||
           static_cast<std::size_t>(offset) / camera.queue.stride >= camera.queue.places.size() ||
           length == 0 || length > camera.queue.stride) {
    error = EINVAL;
    ++camera.stats.misuses;
  }
  if (error != 0) return MAP_FAILED;
  void* mapped = realMmap(address, length, protection, flags, camera.queue.memoryFd, offset);
  if (mapped == MAP_FAILED) {
    error = errno;
    return MAP_FAILED;
  }
  camera.mappings.push_back(Mapping{mapped, length});
  camera.stats.liveMappings = static_cast<std::uint32_t>(camera.mappings.size());
  mappingsLive = camera.mappings.size();
  return mapped;
}

void fakeForgetMapping(void* address, std::size_t length) {
  DriverLock guard;
  Device& camera = device();
  auto& mappings = camera.mappings;
  mappings.erase(std::remove_if(mappings.begin(), mappings.end(),
                                [&](const Mapping& mapping) {
                                  const auto* start = static_cast<const std::uint8_t*>(address);
                                  const auto* begin = static_cast<const std::uint8_t*>(mapping.address);
                                  return begin >= start && begin < start + length;
                                }),
                 mappings.end());
  camera.stats.liveMappings = static_cast<std::uint32_t>(mappings.size());
  mappingsLive = mappings.size();
}

int fakeReconfigure() {
  ensureConfigured();
  LoadedSettings loaded = loadSettings();
  DriverLock guard;
  Device& camera = device();
  if (!camera.handles.empty()) return -1;
  stopStreaming(camera);
  freeQueue(camera);
  camera.stats = FakecamStats{};
  ++camera.generation;
  install(camera, std::move(loaded));
  return 0;
}

void fakeReadStats(FakecamStats& stats) {
  ensureConfigured();
  DriverLock guard;
  Device& camera = ::camera();
  stats = camera.stats;
  stats.openHandles = static_cast<std::uint32_t>(camera.handles.size());
  stats.liveMappings = static_cast<std::uint32_t>(camera.mappings.size());
  stats.streaming = camera.streaming;
  stats.distinctBuffersDequeued = static_cast<std::uint32_t>(
      std::count(camera.queue.everDequeued.begin(), camera.queue.everDequeued.end(), true));
  stats.frameIntervalNumerator = 1;
  stats.frameIntervalDenominator = camera.fps;
}
