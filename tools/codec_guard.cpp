#include "tools/codec_guard.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <new>

namespace {

// Whether this thread is inside a guarded codec run, its limit, and whether the limit refused a buffer.
thread_local bool threadInCodec = false;
thread_local double threadMaxBytes = 0;
thread_local bool threadRefused = false;
thread_local const std::function<void(double)>* threadBeforeBuffer = nullptr;

// Refuses, on a thread inside a codec run, any buffer larger than that run's limit, so a file of a few
// hundred bytes claiming a picture of gigabytes is refused before the memory is taken, not after; every
// other request goes on to the allocator it stands in front of.
class CappedImageAllocator : public cv::MatAllocator {
 public:
  // Other threads may be inside allocate while the first codec run of a batch sets this.
  void setNext(const cv::MatAllocator* next) { next_.store(next); }

  cv::UMatData* allocate(int dims, const int* sizes, int type, void* data, size_t* step, cv::AccessFlag flags,
                         cv::UMatUsageFlags usage) const override {
    if (threadInCodec && data == nullptr) {
      double bytes = CV_ELEM_SIZE(type);
      for (int d = 0; d < dims; ++d) bytes *= sizes[d];
      if (bytes > threadMaxBytes) {
        threadRefused = true;
        throw std::bad_alloc();
      }
      if (*threadBeforeBuffer) (*threadBeforeBuffer)(bytes / CV_ELEM_SIZE(type));
    }
    // What the next allocator hands out records it as its owner, so it is freed there even after this
    // one is no longer the default.
    return next_.load()->allocate(dims, sizes, type, data, step, flags, usage);
  }
  bool allocate(cv::UMatData* u, cv::AccessFlag access, cv::UMatUsageFlags usage) const override {
    return next_.load()->allocate(u, access, usage);
  }
  void deallocate(cv::UMatData* u) const override { next_.load()->deallocate(u); }

 private:
  std::atomic<const cv::MatAllocator*> next_{cv::Mat::getStdAllocator()};
};

// The process-wide part of the guard: how many codec runs are under way, how many messages wait, and
// what the first run replaced (standard error's descriptor, the default allocator).
struct SharedGuard {
  std::mutex mutex;
  std::condition_variable changed;
  int codecRuns = 0;
  int messagesWaiting = 0;
  int savedStderr = -1;
  cv::MatAllocator* previousAllocator = nullptr;
  CappedImageAllocator capped;
};

SharedGuard& sharedGuard() {
  static SharedGuard guard;
  return guard;
}

void muteStderr(SharedGuard& guard) {
  std::fflush(stderr);
  guard.savedStderr = dup(STDERR_FILENO);
  const int devNull = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (guard.savedStderr >= 0 && devNull >= 0) dup2(devNull, STDERR_FILENO);
  if (devNull >= 0) close(devNull);
}

void restoreStderr(SharedGuard& guard) {
  std::fflush(stderr);
  if (guard.savedStderr >= 0) {
    dup2(guard.savedStderr, STDERR_FILENO);
    close(guard.savedStderr);
    guard.savedStderr = -1;
  }
}

void enterCodecRun(SharedGuard& guard) {
  std::unique_lock<std::mutex> lock(guard.mutex);
  guard.changed.wait(lock, [&] { return guard.messagesWaiting == 0; });
  if (guard.codecRuns++ == 0) {
    muteStderr(guard);
    guard.previousAllocator = cv::Mat::getDefaultAllocator();
    guard.capped.setNext(guard.previousAllocator);
    cv::Mat::setDefaultAllocator(&guard.capped);
  }
}

void leaveCodecRun(SharedGuard& guard) {
  const std::lock_guard<std::mutex> lock(guard.mutex);
  if (--guard.codecRuns == 0) {
    cv::Mat::setDefaultAllocator(guard.previousAllocator);
    restoreStderr(guard);
    guard.changed.notify_all();
  }
}

// Leaves the codec run however `decode` ends.
class CodecRun {
 public:
  CodecRun(SharedGuard& guard, double maxBytes, const std::function<void(double)>& beforeBuffer) : guard_(guard) {
    enterCodecRun(guard_);
    threadInCodec = true;
    threadMaxBytes = maxBytes;
    threadRefused = false;
    threadBeforeBuffer = &beforeBuffer;
  }
  ~CodecRun() {
    threadInCodec = false;
    threadBeforeBuffer = nullptr;
    leaveCodecRun(guard_);
  }
  CodecRun(const CodecRun&) = delete;
  CodecRun& operator=(const CodecRun&) = delete;

 private:
  SharedGuard& guard_;
};

}  // namespace

cv::Mat runGuardedCodec(double maxBytes, const std::function<cv::Mat()>& decode,
                        const std::function<void(double)>& beforeBuffer, bool* refused) {
  cv::Mat picture;
  {
    const CodecRun run(sharedGuard(), maxBytes, beforeBuffer);
    picture = decode();
    *refused = threadRefused;
  }
  return picture;
}

void writeWhileCodecsQuiet(const std::function<void()>& write) {
  SharedGuard& guard = sharedGuard();
  std::unique_lock<std::mutex> lock(guard.mutex);
  ++guard.messagesWaiting;
  // Lets the waiting codec runs go however `write` ends.
  struct Done {
    SharedGuard& guard;
    ~Done() {
      --guard.messagesWaiting;
      guard.changed.notify_all();
    }
  } done{guard};
  guard.changed.wait(lock, [&] { return guard.codecRuns == 0; });
  write();
}
