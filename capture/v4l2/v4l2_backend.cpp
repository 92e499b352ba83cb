// The V4L2 capture backend. A device is a video capture node; its "graph" is the open node, the filters
// the manager adds by name, and a streaming thread that converts every frame to bottom-up BGR and hands it
// to the hooked callback. Teardown order: unhook the callback, stop streaming, unmap, close.
#include "capture/v4l2/v4l2_backend.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <thread>
#include <utility>

#include "capture/v4l2/pixel_conversion.h"
#include "capture/sample_hook.h"

namespace {

constexpr unsigned CAPTURE_V4L2_BUFFERS = 4;
constexpr int CAPTURE_POLL_MS = 100;               // how soon the streaming thread notices a stop request
constexpr std::uint32_t CAPTURE_MAX_FORMATS = 64;  // bounds on what a driver's lists may make us walk
constexpr std::uint32_t CAPTURE_MAX_SIZES = 256;
constexpr std::int64_t CAPTURE_TIME_UNITS_PER_SECOND = 10000000;  // frame times are in 100 ns units

int retryIoctl(int fd, unsigned long request, void* argument) {
  int result;
  do {
    result = ioctl(fd, request, argument);
  } while (result < 0 && errno == EINTR);
  return result;
}

// The node's current capture format, or false when the driver will not tell.
bool queryCurrentFormat(int fd, v4l2_format* format) {
  *format = v4l2_format{};
  format->type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  return retryIoctl(fd, VIDIOC_G_FMT, format) >= 0;
}

std::uint32_t deviceCaps(const v4l2_capability& caps) {
  return (caps.capabilities & V4L2_CAP_DEVICE_CAPS) ? caps.device_caps : caps.capabilities;
}

// An open device node, closed once when its owner lets it go.
class NodeFd {
 public:
  NodeFd() = default;
  explicit NodeFd(int fd) : fd_(fd) {}
  ~NodeFd() { reset(); }
  NodeFd(const NodeFd&) = delete;
  NodeFd& operator=(const NodeFd&) = delete;

  int get() const { return fd_; }
  bool isOpen() const { return fd_ >= 0; }
  void reset(int fd = -1) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

// One driver buffer mapped into our memory, unmapped once when its owner lets it go.
class MappedBuffer {
 public:
  MappedBuffer(void* start, std::size_t length) : start_(start), length_(length) {}
  ~MappedBuffer() {
    if (start_ != MAP_FAILED) munmap(start_, length_);
  }
  MappedBuffer(MappedBuffer&& other) noexcept
      : start_(std::exchange(other.start_, MAP_FAILED)), length_(other.length_) {}
  MappedBuffer(const MappedBuffer&) = delete;
  MappedBuffer& operator=(const MappedBuffer&) = delete;
  MappedBuffer& operator=(MappedBuffer&&) = delete;

  bool isMapped() const { return start_ != MAP_FAILED; }
  const std::uint8_t* bytes() const { return static_cast<const std::uint8_t*>(start_); }
  std::size_t length() const { return length_; }

 private:
  void* start_;
  std::size_t length_;
};

struct GraphFilter {
  int id;
  std::string name;
  GraphObject kind;
};

class V4l2Graph : public CaptureGraph {
 public:
  ~V4l2Graph() override {
    hook.set(nullptr);
    closeNode();
  }

  CaptureResult acquire(GraphObject object) override {
    switch (object) {
      case GraphObject::FilterGraph: graphHeld = true; return CAPTURE_OK;
      case GraphObject::MediaControl:
        if (!graphHeld) return CAPTURE_FAIL;
        mediaControlHeld = true;
        return CAPTURE_OK;
      case GraphObject::GrabberFilter: grabberFilterHeld = true; return CAPTURE_OK;
      case GraphObject::Grabber:
        if (!grabberFilterHeld) return CAPTURE_FAIL;
        grabberHeld = true;
        return CAPTURE_OK;
      case GraphObject::NullRenderer: nullRendererHeld = true; return CAPTURE_OK;
      default: return CAPTURE_FAIL;
    }
  }

  void release(GraphObject object) override {
    switch (object) {
      case GraphObject::FilterGraph:
        filters.clear();
        connected = false;
        graphHeld = false;
        break;
      case GraphObject::MediaControl: mediaControlHeld = false; break;
      case GraphObject::SourceFilter: sourceHeld = false; break;
      case GraphObject::StreamConfig: break;
      case GraphObject::GrabberFilter: grabberFilterHeld = false; break;
      case GraphObject::Grabber: grabberHeld = false; break;
      case GraphObject::NullRenderer: nullRendererHeld = false; break;
    }
    closeNodeWhenUnused();
  }

  CaptureResult setFiltergraph() override { return graphHeld ? CAPTURE_OK : CAPTURE_FAIL; }

  CaptureResult bindSource(const DeviceEntry& device) override {
    if (node.isOpen()) return CAPTURE_FAIL;
    node.reset(open(device.moniker.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
    if (!node.isOpen()) return CAPTURE_FAIL;
    v4l2_capability caps{};
    if (retryIoctl(node.get(), VIDIOC_QUERYCAP, &caps) < 0 || !(deviceCaps(caps) & V4L2_CAP_VIDEO_CAPTURE)) {
      closeNode();
      return CAPTURE_FAIL;
    }
    sourceHeld = true;
    return CAPTURE_OK;
  }

  CaptureResult addFilter(GraphObject filter, const std::string& name) override {
    const bool held = (filter == GraphObject::SourceFilter && sourceHeld) ||
                      (filter == GraphObject::GrabberFilter && grabberFilterHeld) ||
                      (filter == GraphObject::NullRenderer && nullRendererHeld);
    if (!graphHeld || !held || inGraph(filter)) return CAPTURE_FAIL;
    filters.push_back(GraphFilter{nextFilterId++, name, filter});
    return CAPTURE_OK;
  }

  // A capture node has one stream, which serves for both preview and capture.
  CaptureResult findStreamConfig(PinCategory /*category*/) override {
    return node.isOpen() ? CAPTURE_OK : CAPTURE_FAIL;
  }

  CaptureResult getFormat(VideoFormat& format) override {
    if (!node.isOpen()) return CAPTURE_FAIL;
    v4l2_format current;
    if (!queryCurrentFormat(node.get(), &current)) return CAPTURE_FAIL;
    format.width = static_cast<std::int32_t>(current.fmt.pix.width);
    format.height = static_cast<std::int32_t>(current.fmt.pix.height);
    format.subtype = subtypeForPixelFormat(current.fmt.pix.pixelformat);
    format.sampleSize = current.fmt.pix.sizeimage;
    format.frameTime = 0;
    v4l2_streamparm parameters{};
    parameters.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (retryIoctl(node.get(), VIDIOC_G_PARM, &parameters) == 0 &&
        (parameters.parm.capture.capability & V4L2_CAP_TIMEPERFRAME) &&
        parameters.parm.capture.timeperframe.denominator > 0) {
      const v4l2_fract& interval = parameters.parm.capture.timeperframe;
      format.frameTime =
          static_cast<std::int64_t>(interval.numerator) * CAPTURE_TIME_UNITS_PER_SECOND / interval.denominator;
    }
    return CAPTURE_OK;
  }

  // Accepted exactly when the driver keeps the size and pixel format as asked.
  CaptureResult setFormat(const VideoFormat& format) override {
    if (!node.isOpen()) return CAPTURE_FAIL;
    if (streaming) return CAPTURE_FAIL;
    const std::uint32_t pixelFormat = v4l2PixelFormat(format.subtype);
    if (pixelFormat == 0 || format.width < 1 || format.height < 1) return CAPTURE_FALSE;

    // A driver answers an unsupported request by switching to something near it; a refusal must leave
    // the device as it was, also when its own format is one no subtype can name again.
    v4l2_format saved;
    if (!queryCurrentFormat(node.get(), &saved)) return CAPTURE_FAIL;

    v4l2_format wanted{};
    wanted.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    wanted.fmt.pix.width = static_cast<std::uint32_t>(format.width);
    wanted.fmt.pix.height = static_cast<std::uint32_t>(format.height);
    wanted.fmt.pix.pixelformat = pixelFormat;
    wanted.fmt.pix.field = V4L2_FIELD_ANY;
    if (retryIoctl(node.get(), VIDIOC_S_FMT, &wanted) < 0) return CAPTURE_FAIL;
    const bool kept = wanted.fmt.pix.width == static_cast<std::uint32_t>(format.width) &&
                      wanted.fmt.pix.height == static_cast<std::uint32_t>(format.height) &&
                      wanted.fmt.pix.pixelformat == pixelFormat;
    if (!kept) {
      retryIoctl(node.get(), VIDIOC_S_FMT, &saved);
      return CAPTURE_FALSE;
    }

    // The frame time goes with an accepted format; a device without frame-rate control keeps its own.
    if (format.frameTime > 0) {
      v4l2_streamparm parameters{};
      parameters.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
      parameters.parm.capture.timeperframe.numerator =
          static_cast<std::uint32_t>(std::min<std::int64_t>(format.frameTime, UINT32_MAX));
      parameters.parm.capture.timeperframe.denominator = CAPTURE_TIME_UNITS_PER_SECOND;
      retryIoctl(node.get(), VIDIOC_S_PARM, &parameters);
    }
    return CAPTURE_OK;
  }

  CaptureResult capabilityCount(std::int32_t& count, std::int32_t& recordBytes) override {
    if (!node.isOpen()) return CAPTURE_FAIL;
    readCapabilities();
    count = static_cast<std::int32_t>(capabilities.size());
    recordBytes = CAPTURE_CAPS_RECORD_BYTES;
    return CAPTURE_OK;
  }

  CaptureResult streamCaps(std::int32_t index, StreamCaps& caps) override {
    if (index < 0 || static_cast<std::size_t>(index) >= capabilities.size()) return CAPTURE_FAIL;
    caps = capabilities[static_cast<std::size_t>(index)];
    return CAPTURE_OK;
  }

  CaptureResult setCallback(SampleGrabberCallback* callback) override {
    if (callback != nullptr && !grabberHeld) return CAPTURE_FAIL;
    hook.set(callback);
    return CAPTURE_OK;
  }

  CaptureResult renderStream() override {
    if (!node.isOpen() || !inGraph(GraphObject::SourceFilter) || !inGraph(GraphObject::GrabberFilter) ||
        !inGraph(GraphObject::NullRenderer)) {
      return CAPTURE_FAIL;
    }
    v4l2_format current;
    if (!queryCurrentFormat(node.get(), &current)) return CAPTURE_FAIL;
    if (!isConvertiblePixelFormat(current.fmt.pix.pixelformat)) return CAPTURE_FAIL;  // no conversion to BGR
    connected = true;
    return CAPTURE_OK;
  }

  // Frames are dequeued as the driver fills them; nothing paces them.
  CaptureResult disableClock() override { return graphHeld ? CAPTURE_OK : CAPTURE_FAIL; }

  CaptureResult setState(GraphState state) override {
    if (!mediaControlHeld) return CAPTURE_FAIL;
    if (state != GraphState::Running) {
      stopStreaming();
      return CAPTURE_OK;
    }
    if (streaming) return CAPTURE_OK;
    if (!connected) return CAPTURE_FAIL;
    return startStreaming();
  }

  void removeDownstream() override {
    if (!connected) return;
    stopStreaming();
    connected = false;
    eraseFilter(GraphObject::GrabberFilter);
    eraseFilter(GraphObject::NullRenderer);
  }

  CaptureResult nextFilter(int& filterId, std::string& name) override {
    if (!graphHeld) return CAPTURE_FAIL;
    if (filters.empty()) return CAPTURE_FALSE;
    filterId = filters.front().id;
    name = filters.front().name;
    return CAPTURE_OK;
  }

  CaptureResult removeFilter(int filterId) override {
    const auto found = std::find_if(filters.begin(), filters.end(),
                                    [filterId](const GraphFilter& filter) { return filter.id == filterId; });
    if (found == filters.end()) return CAPTURE_FAIL;
    if (found->kind != GraphObject::SourceFilter) {
      stopStreaming();
      connected = false;
    }
    filters.erase(found);
    closeNodeWhenUnused();
    return CAPTURE_OK;
  }

 private:
  bool inGraph(GraphObject kind) const {
    return std::any_of(filters.begin(), filters.end(),
                       [kind](const GraphFilter& filter) { return filter.kind == kind; });
  }

  void eraseFilter(GraphObject kind) {
    filters.erase(std::remove_if(filters.begin(), filters.end(),
                                 [kind](const GraphFilter& filter) { return filter.kind == kind; }),
                  filters.end());
  }

  // The node stays open while the manager holds the source or the graph still contains it.
  void closeNodeWhenUnused() {
    if (!sourceHeld && !inGraph(GraphObject::SourceFilter)) closeNode();
  }

  void closeNode() {
    stopStreaming();
    unmapBuffers();
    node.reset();
  }

  void readCapabilities() {
    capabilities.clear();
    for (std::uint32_t formatIndex = 0; formatIndex < CAPTURE_MAX_FORMATS; ++formatIndex) {
      v4l2_fmtdesc description{};
      description.index = formatIndex;
      description.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
      if (retryIoctl(node.get(), VIDIOC_ENUM_FMT, &description) < 0) break;
      if (!isConvertiblePixelFormat(description.pixelformat)) continue;
      const MediaSubtype subtype = subtypeForPixelFormat(description.pixelformat);
      for (std::uint32_t sizeIndex = 0; sizeIndex < CAPTURE_MAX_SIZES; ++sizeIndex) {
        v4l2_frmsizeenum size{};
        size.index = sizeIndex;
        size.pixel_format = description.pixelformat;
        if (retryIoctl(node.get(), VIDIOC_ENUM_FRAMESIZES, &size) < 0) break;
        StreamCaps caps;
        caps.subtype = subtype;
        if (size.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
          caps.minWidth = caps.maxWidth = static_cast<std::int32_t>(size.discrete.width);
          caps.minHeight = caps.maxHeight = static_cast<std::int32_t>(size.discrete.height);
        } else {  // stepwise or continuous: one range, then the list ends
          caps.minWidth = static_cast<std::int32_t>(size.stepwise.min_width);
          caps.maxWidth = static_cast<std::int32_t>(size.stepwise.max_width);
          caps.minHeight = static_cast<std::int32_t>(size.stepwise.min_height);
          caps.maxHeight = static_cast<std::int32_t>(size.stepwise.max_height);
          caps.stepX =
              size.type == V4L2_FRMSIZE_TYPE_CONTINUOUS ? 1 : static_cast<std::int32_t>(size.stepwise.step_width);
          caps.stepY =
              size.type == V4L2_FRMSIZE_TYPE_CONTINUOUS ? 1 : static_cast<std::int32_t>(size.stepwise.step_height);
        }
        capabilities.push_back(caps);
        if (size.type != V4L2_FRMSIZE_TYPE_DISCRETE) break;
      }
    }
  }

  CaptureResult startStreaming() {
    v4l2_format current;
    if (!queryCurrentFormat(node.get(), &current)) return CAPTURE_FAIL;
    frameFormat = current.fmt.pix.pixelformat;
    frameWidth = static_cast<int>(current.fmt.pix.width);
    frameHeight = static_cast<int>(current.fmt.pix.height);
    frameBytesPerLine = static_cast<int>(current.fmt.pix.bytesperline);

    unmapBuffers();
    v4l2_requestbuffers request{};
    request.count = CAPTURE_V4L2_BUFFERS;
    request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    request.memory = V4L2_MEMORY_MMAP;
    if (retryIoctl(node.get(), VIDIOC_REQBUFS, &request) < 0 || request.count < 1) return CAPTURE_FAIL;
    buffersRequested = true;
    for (std::uint32_t index = 0; index < request.count; ++index) {
      v4l2_buffer buffer{};
      buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
      buffer.memory = V4L2_MEMORY_MMAP;
      buffer.index = index;
      if (retryIoctl(node.get(), VIDIOC_QUERYBUF, &buffer) < 0) return failStreaming();
      MappedBuffer mapped(mmap(nullptr, buffer.length, PROT_READ | PROT_WRITE, MAP_SHARED, node.get(), buffer.m.offset),
                          buffer.length);
      if (!mapped.isMapped()) return failStreaming();
      buffers.push_back(std::move(mapped));
      if (retryIoctl(node.get(), VIDIOC_QBUF, &buffer) < 0) return failStreaming();
    }
    v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (retryIoctl(node.get(), VIDIOC_STREAMON, &type) < 0) return failStreaming();

    stopRequested = false;
    streaming = true;
    streamer = std::thread([this] { streamFrames(); });
    return CAPTURE_OK;
  }

  CaptureResult failStreaming() {
    unmapBuffers();
    return CAPTURE_FAIL;
  }

  void stopStreaming() {
    if (!streaming) return;
    stopRequested = true;
    if (streamer.joinable()) streamer.join();
    v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    retryIoctl(node.get(), VIDIOC_STREAMOFF, &type);
    streaming = false;
  }

  void unmapBuffers() {
    buffers.clear();
    if (buffersRequested && node.isOpen()) {
      v4l2_requestbuffers release{};
      release.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
      release.memory = V4L2_MEMORY_MMAP;
      retryIoctl(node.get(), VIDIOC_REQBUFS, &release);
    }
    buffersRequested = false;
  }

  // The streaming thread: dequeue, convert, deliver, queue again, until asked to stop or the device goes.
  void streamFrames() {
    std::vector<std::uint8_t> converted;
    while (!stopRequested) {
      pollfd waiting{node.get(), POLLIN, 0};
      const int ready = poll(&waiting, 1, CAPTURE_POLL_MS);
      if (ready < 0 && errno == EINTR) continue;
      if (ready < 0 || (waiting.revents & (POLLERR | POLLHUP | POLLNVAL))) return;  // gone or not streaming
      if (ready == 0) continue;

      v4l2_buffer buffer{};
      buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
      buffer.memory = V4L2_MEMORY_MMAP;
      if (retryIoctl(node.get(), VIDIOC_DQBUF, &buffer) < 0) {
        if (errno == EAGAIN || errno == EIO) continue;
        return;  // ENODEV: unplugged; the worker's reopen finds out
      }
      if (buffer.index < buffers.size() && !(buffer.flags & V4L2_BUF_FLAG_ERROR)) {
        const MappedBuffer& mapped = buffers[buffer.index];
        const std::size_t used = std::min<std::size_t>(buffer.bytesused, mapped.length());
        if (hook.isSet() && convertFrameToBgr(mapped.bytes(), used, frameFormat, frameWidth, frameHeight,
                                              frameBytesPerLine, converted)) {
          const double seconds = static_cast<double>(buffer.timestamp.tv_sec) + buffer.timestamp.tv_usec / 1e6;
          hook.deliver(seconds, CaptureSample{converted.data(), static_cast<std::int32_t>(converted.size())});
        }
      }
      if (retryIoctl(node.get(), VIDIOC_QBUF, &buffer) < 0) return;
    }
  }

  bool graphHeld = false;
  bool mediaControlHeld = false;
  bool sourceHeld = false;
  bool grabberFilterHeld = false;
  bool grabberHeld = false;
  bool nullRendererHeld = false;
  bool connected = false;
  std::vector<GraphFilter> filters;
  int nextFilterId = 1;
  std::vector<StreamCaps> capabilities;

  NodeFd node;
  std::vector<MappedBuffer> buffers;
  bool buffersRequested = false;
  // Fixed before the streaming thread starts and read only by it while it runs.
  std::uint32_t frameFormat = 0;
  int frameWidth = 0;
  int frameHeight = 0;
  int frameBytesPerLine = 0;
  bool streaming = false;
  std::atomic<bool> stopRequested{false};
  std::thread streamer;
  SampleHook hook;
};

class V4l2Backend : public CaptureBackend {
 public:
  explicit V4l2Backend(std::string directory) : deviceDirectory(std::move(directory)) {}

  CaptureResult start() override { return CAPTURE_OK; }
  void stop() override {}

  CaptureResult enumerateDevices(std::vector<DeviceEntry>& devices) override {
    devices.clear();
    for (const std::string& path : listVideoNodes(deviceDirectory)) {
      struct stat status {};
      if (stat(path.c_str(), &status) != 0 || !S_ISCHR(status.st_mode)) continue;
      DeviceEntry entry;
      entry.moniker = path;
      NodeFd node(open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
      if (!node.isOpen()) {  // listed, but its name cannot be read
        devices.push_back(entry);
        continue;
      }
      v4l2_capability caps{};
      const bool isCapture =
          retryIoctl(node.get(), VIDIOC_QUERYCAP, &caps) == 0 && (deviceCaps(caps) & V4L2_CAP_VIDEO_CAPTURE);
      node.reset();
      if (!isCapture) continue;  // metadata, output or other nodes
      entry.propertyBagOpens = true;
      const char* card = reinterpret_cast<const char*>(caps.card);
      entry.friendlyName = std::string(card, strnlen(card, sizeof caps.card));
      devices.push_back(entry);
    }
    return devices.empty() ? CAPTURE_FALSE : CAPTURE_OK;
  }

  CaptureResult createCaptureBuilder(std::unique_ptr<CaptureGraph>& graph) override {
    graph = std::make_unique<V4l2Graph>();
    return CAPTURE_OK;
  }

 private:
  std::string deviceDirectory;
};

// The number in a node name "video<N>", or -1 when the name is not one.
long nodeNumber(const char* name) {
  constexpr char prefix[] = "video";
  constexpr std::size_t prefixLength = sizeof prefix - 1;
  if (std::strncmp(name, prefix, prefixLength) != 0) return -1;
  const char* digits = name + prefixLength;
  const std::size_t count = std::strlen(digits);
  if (count == 0 || count > 9) return -1;
  long number = 0;
  for (std::size_t index = 0; index < count; ++index) {
    if (digits[index] < '0' || digits[index] > '9') return -1;
    number = number * 10 + (digits[index] - '0');
  }
  return number;
}

}  // namespace

std::vector<std::string> listVideoNodes(const std::string& directory) {
  std::vector<std::pair<long, std::string>> numbered;
  if (DIR* listing = opendir(directory.c_str())) {
    while (const dirent* entry = readdir(listing)) {
      const long number = nodeNumber(entry->d_name);
      if (number >= 0) numbered.emplace_back(number, directory + "/" + entry->d_name);
    }
    closedir(listing);
  }
  std::sort(numbered.begin(), numbered.end());
  std::vector<std::string> paths;
  for (auto& node : numbered) paths.push_back(std::move(node.second));
  return paths;
}

std::unique_ptr<CaptureBackend> makeV4l2Backend(const std::string& deviceDirectory) {
  return std::make_unique<V4l2Backend>(deviceDirectory);
}
