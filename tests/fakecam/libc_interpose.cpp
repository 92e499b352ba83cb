// The C library entry points the emulated camera answers for its nodes; everything else goes on to the
// next definition (the C library, or a sanitizer's interceptor in front of it).
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "tests/fakecam/fake_driver.h"
#include "tests/fakecam/real_libc.h"

namespace {

template <typename Function>
Function nextDefinition(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

// Each replacement looks its next definition up once.
#define FAKECAM_NEXT(name) \
  static const auto next = nextDefinition<decltype(&name)>(#name)

// Directory listings of /dev, with the nodes to add once the real entries are done.
struct DevListing {
  std::vector<int> nodesLeft;
  dirent entry{};
  dirent64 entry64{};
};

std::mutex& listingLock() {
  static std::mutex* lock = new std::mutex;
  return *lock;
}

std::map<DIR*, DevListing>& listings() {
  static auto* open = new std::map<DIR*, DevListing>;
  return *open;
}

bool isDevDirectory(const char* path) {
  return path != nullptr && (std::strcmp(path, "/dev") == 0 || std::strcmp(path, "/dev/") == 0);
}

bool isFakeName(const char* name) {
  for (int node = 0; node < FAKECAM_NODE_COUNT; ++node) {
    if (fakeNodeName(node) == name) return true;
  }
  return false;
}

// The next entry of a /dev listing after the real ones run out: a present node, or null at the end. The
// listing lock is not held while the camera is asked, since the camera's first use reads pictures.
template <typename Entry>
Entry* nextFakeEntry(DIR* directory, Entry DevListing::*slot) {
  for (;;) {
    int node = 0;
    {
      std::lock_guard<std::mutex> guard(listingLock());
      DevListing& listing = listings()[directory];
      if (listing.nodesLeft.empty()) return nullptr;
      node = listing.nodesLeft.front();
      listing.nodesLeft.erase(listing.nodesLeft.begin());
    }
    if (!fakeNodePresent(node)) continue;
    std::lock_guard<std::mutex> guard(listingLock());
    Entry& entry = listings()[directory].*slot;
    entry = Entry{};
    entry.d_ino = 0x51A00000u + static_cast<unsigned>(node);
    entry.d_type = DT_CHR;
    entry.d_reclen = sizeof entry;
    std::snprintf(entry.d_name, sizeof entry.d_name, "%s", fakeNodeName(node).c_str());
    return &entry;
  }
}

template <typename Entry, typename Next>
Entry* readListing(DIR* directory, Next next, Entry DevListing::*slot) {
  {
    std::lock_guard<std::mutex> guard(listingLock());
    if (listings().count(directory) == 0) return next(directory);
  }
  // Real entries first, hiding any real node with one of the camera's names.
  for (;;) {
    const int savedErrno = errno;
    Entry* entry = next(directory);
    if (entry == nullptr) {
      errno = savedErrno;
      break;
    }
    if (!isFakeName(entry->d_name)) return entry;
  }
  return nextFakeEntry(directory, slot);
}

void fillStat(int node, struct stat& status) {
  status = {};
  status.st_mode = S_IFCHR | 0660;
  status.st_rdev = fakeNodeDevice(node);
  status.st_dev = 5;
  status.st_ino = 0x51A00000u + static_cast<unsigned>(node);
  status.st_nlink = 1;
  status.st_blksize = 4096;
}

void fillStat64(int node, struct stat64& status) {
  struct stat plain {};
  fillStat(node, plain);
  status = {};
  status.st_mode = plain.st_mode;
  status.st_rdev = plain.st_rdev;
  status.st_dev = plain.st_dev;
  status.st_ino = plain.st_ino;
  status.st_nlink = plain.st_nlink;
  status.st_blksize = plain.st_blksize;
}

// stat of a path: 1 when the camera answered (result set), 0 when the path is not the camera's.
template <typename Status, typename Fill>
int statFakePath(const char* path, Status* status, Fill fill, int& result) {
  const int node = fakeNodeForPath(path);
  if (node < 0) return 0;
  if (!fakeNodePresent(node)) {
    errno = ENOENT;
    result = -1;
  } else {
    fill(node, *status);
    result = 0;
  }
  return 1;
}

template <typename Status, typename Fill>
int statFakeHandle(int fd, Status* status, Fill fill, int& result) {
  if (!fakeHasHandles()) return 0;
  const int node = fakeHandleNode(fd);
  if (node < 0) return 0;
  fill(node, *status);
  result = 0;
  return 1;
}

// Opens a node: a placeholder descriptor the driver answers for. -1 with errno when it is not there.
int openFakeNode(int node, int flags) {
  if (!fakeNodePresent(node)) {
    errno = ENOENT;
    return -1;
  }
  if ((flags & O_ACCMODE) == O_WRONLY || (flags & O_DIRECTORY)) {
    errno = (flags & O_DIRECTORY) ? ENOTDIR : EINVAL;
    return -1;
  }
  const int fd = eventfd(0, (flags & O_CLOEXEC) ? EFD_CLOEXEC : 0);
  if (fd < 0) return -1;
  fakeAttachHandle(fd, node, (flags & O_NONBLOCK) != 0);
  return fd;
}

int answer(int result) {
  if (result < 0) {
    errno = -result;
    return -1;
  }
  return result;
}

// poll over the caller's descriptors, some of them the camera's: the real poll waits on the others in
// slices no longer than the camera's next change.
int pollWithFakes(pollfd* fds, nfds_t count, int timeoutMs, int (*realPoll)(pollfd*, nfds_t, int)) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  std::vector<pollfd> others(fds, fds + count);
  for (;;) {
    int ready = 0;
    std::chrono::milliseconds wait(timeoutMs < 0 ? 1000 : timeoutMs);
    for (nfds_t i = 0; i < count; ++i) {
      others[i] = fds[i];
      fds[i].revents = 0;
      if (fds[i].fd < 0 || !fakeIsHandle(fds[i].fd)) continue;
      others[i].fd = -1;  // the real poll skips it
      std::chrono::milliseconds untilChange(0);
      fds[i].revents = fakePollEvents(fds[i].fd, fds[i].events, untilChange);
      if (fds[i].revents != 0) ++ready;
      wait = std::min(wait, untilChange);
    }
    const auto now = std::chrono::steady_clock::now();
    if (timeoutMs >= 0) {
      wait = std::min(wait, std::chrono::duration_cast<std::chrono::milliseconds>(std::max(deadline - now, std::chrono::steady_clock::duration::zero())));
    }
    const int realReady = realPoll(others.data(), count, ready > 0 ? 0 : static_cast<int>(wait.count()));
    if (realReady < 0) return -1;
    for (nfds_t i = 0; i < count; ++i) {
      if (others[i].fd >= 0) fds[i].revents = others[i].revents;
    }
    ready += realReady;
    if (ready > 0 || (timeoutMs >= 0 && std::chrono::steady_clock::now() >= deadline)) return ready;
  }
}

bool hasFakeDescriptor(const pollfd* fds, nfds_t count) {
  if (!fakeHasHandles()) return false;
  for (nfds_t i = 0; i < count; ++i) {
    if (fds[i].fd >= 0 && fakeIsHandle(fds[i].fd)) return true;
  }
  return false;
}

}  // namespace

void* realMmap(void* address, std::size_t length, int protection, int flags, int fd, off_t offset) {
  FAKECAM_NEXT(mmap);
  return next(address, length, protection, flags, fd, offset);
}

int realMunmap(void* address, std::size_t length) {
  FAKECAM_NEXT(munmap);
  return next(address, length);
}

int realClose(int fd) {
  FAKECAM_NEXT(close);
  return next(fd);
}

extern "C" {

__attribute__((visibility("default"))) int fakecamReconfigure() { return fakeReconfigure(); }
__attribute__((visibility("default"))) void fakecamStats(FakecamStats* stats) {
  if (stats != nullptr) fakeReadStats(*stats);
}

// ---- directories ----
DIR* opendir(const char* path) {
  FAKECAM_NEXT(opendir);
  DIR* directory = next(path);
  if (directory != nullptr && isDevDirectory(path)) {
    std::lock_guard<std::mutex> guard(listingLock());
    DevListing& listing = listings()[directory];
    listing = DevListing{};
    for (int node = 0; node < FAKECAM_NODE_COUNT; ++node) listing.nodesLeft.push_back(node);
  }
  return directory;
}

dirent* readdir(DIR* directory) {
  FAKECAM_NEXT(readdir);
  return readListing<dirent>(directory, next, &DevListing::entry);
}

dirent64* readdir64(DIR* directory) {
  FAKECAM_NEXT(readdir64);
  return readListing<dirent64>(directory, next, &DevListing::entry64);
}

int closedir(DIR* directory) {
  FAKECAM_NEXT(closedir);
  {
    std::lock_guard<std::mutex> guard(listingLock());
    listings().erase(directory);
  }
  return next(directory);
}

// ---- status ----
int stat(const char* path, struct stat* status) noexcept {
  FAKECAM_NEXT(stat);
  int result = 0;
  return statFakePath(path, status, fillStat, result) ? result : next(path, status);
}

int lstat(const char* path, struct stat* status) noexcept {
  FAKECAM_NEXT(lstat);
  int result = 0;
  return statFakePath(path, status, fillStat, result) ? result : next(path, status);
}

int stat64(const char* path, struct stat64* status) noexcept {
  FAKECAM_NEXT(stat64);
  int result = 0;
  return statFakePath(path, status, fillStat64, result) ? result : next(path, status);
}

int lstat64(const char* path, struct stat64* status) noexcept {
  FAKECAM_NEXT(lstat64);
  int result = 0;
  return statFakePath(path, status, fillStat64, result) ? result : next(path, status);
}

int fstat(int fd, struct stat* status) noexcept {
  FAKECAM_NEXT(fstat);
  int result = 0;
  return statFakeHandle(fd, status, fillStat, result) ? result : next(fd, status);
}

int fstat64(int fd, struct stat64* status) noexcept {
  FAKECAM_NEXT(fstat64);
  int result = 0;
  return statFakeHandle(fd, status, fillStat64, result) ? result : next(fd, status);
}

int fstatat(int directoryFd, const char* path, struct stat* status, int flags) noexcept {
  FAKECAM_NEXT(fstatat);
  int result = 0;
  if (path[0] == '\0' && (flags & AT_EMPTY_PATH) && statFakeHandle(directoryFd, status, fillStat, result)) {
    return result;
  }
  return statFakePath(path, status, fillStat, result) ? result : next(directoryFd, path, status, flags);
}

int fstatat64(int directoryFd, const char* path, struct stat64* status, int flags) noexcept {
  FAKECAM_NEXT(fstatat64);
  int result = 0;
  if (path[0] == '\0' && (flags & AT_EMPTY_PATH) &&
      statFakeHandle(directoryFd, status, fillStat64, result)) {
    return result;
  }
  return statFakePath(path, status, fillStat64, result) ? result : next(directoryFd, path, status, flags);
}

// The versioned forms older programs call.
int __xstat(int version, const char* path, struct stat* status) {
  using Function = int (*)(int, const char*, struct stat*);
  static const auto next = nextDefinition<Function>("__xstat");
  int result = 0;
  return statFakePath(path, status, fillStat, result) ? result : next(version, path, status);
}

int __xstat64(int version, const char* path, struct stat64* status) {
  using Function = int (*)(int, const char*, struct stat64*);
  static const auto next = nextDefinition<Function>("__xstat64");
  int result = 0;
  return statFakePath(path, status, fillStat64, result) ? result : next(version, path, status);
}

int __lxstat(int version, const char* path, struct stat* status) {
  using Function = int (*)(int, const char*, struct stat*);
  static const auto next = nextDefinition<Function>("__lxstat");
  int result = 0;
  return statFakePath(path, status, fillStat, result) ? result : next(version, path, status);
}

int __fxstat(int version, int fd, struct stat* status) {
  using Function = int (*)(int, int, struct stat*);
  static const auto next = nextDefinition<Function>("__fxstat");
  int result = 0;
  return statFakeHandle(fd, status, fillStat, result) ? result : next(version, fd, status);
}

// ---- open and close ----
int open(const char* path, int flags, ...) {
  FAKECAM_NEXT(open);
  const int node = fakeNodeForPath(path);
  if (node >= 0) return openFakeNode(node, flags);
  va_list arguments;
  va_start(arguments, flags);
  const mode_t mode = static_cast<mode_t>(va_arg(arguments, int));
  va_end(arguments);
  return next(path, flags, mode);
}

int open64(const char* path, int flags, ...) {
  FAKECAM_NEXT(open64);
  const int node = fakeNodeForPath(path);
  if (node >= 0) return openFakeNode(node, flags);
  va_list arguments;
  va_start(arguments, flags);
  const mode_t mode = static_cast<mode_t>(va_arg(arguments, int));
  va_end(arguments);
  return next(path, flags, mode);
}

int openat(int directoryFd, const char* path, int flags, ...) {
  FAKECAM_NEXT(openat);
  const int node = fakeNodeForPath(path);
  if (node >= 0) return openFakeNode(node, flags);
  va_list arguments;
  va_start(arguments, flags);
  const mode_t mode = static_cast<mode_t>(va_arg(arguments, int));
  va_end(arguments);
  return next(directoryFd, path, flags, mode);
}

int openat64(int directoryFd, const char* path, int flags, ...) {
  FAKECAM_NEXT(openat64);
  const int node = fakeNodeForPath(path);
  if (node >= 0) return openFakeNode(node, flags);
  va_list arguments;
  va_start(arguments, flags);
  const mode_t mode = static_cast<mode_t>(va_arg(arguments, int));
  va_end(arguments);
  return next(directoryFd, path, flags, mode);
}

// The checked forms a fortified build calls when no mode is passed.
int __open_2(const char* path, int flags) {
  using Function = int (*)(const char*, int);
  static const auto next = nextDefinition<Function>("__open_2");
  const int node = fakeNodeForPath(path);
  return node >= 0 ? openFakeNode(node, flags) : next(path, flags);
}

int __open64_2(const char* path, int flags) {
  using Function = int (*)(const char*, int);
  static const auto next = nextDefinition<Function>("__open64_2");
  const int node = fakeNodeForPath(path);
  return node >= 0 ? openFakeNode(node, flags) : next(path, flags);
}

int __openat_2(int directoryFd, const char* path, int flags) {
  using Function = int (*)(int, const char*, int);
  static const auto next = nextDefinition<Function>("__openat_2");
  const int node = fakeNodeForPath(path);
  return node >= 0 ? openFakeNode(node, flags) : next(directoryFd, path, flags);
}

int __openat64_2(int directoryFd, const char* path, int flags) {
  using Function = int (*)(int, const char*, int);
  static const auto next = nextDefinition<Function>("__openat64_2");
  const int node = fakeNodeForPath(path);
  return node >= 0 ? openFakeNode(node, flags) : next(directoryFd, path, flags);
}

int close(int fd) {
  FAKECAM_NEXT(close);
  if (fakeIsHandle(fd)) fakeDetachHandle(fd);
  return next(fd);
}

// ---- the device's own calls ----
int ioctl(int fd, unsigned long request, ...) noexcept {
  FAKECAM_NEXT(ioctl);
  va_list arguments;
  va_start(arguments, request);
  void* argument = va_arg(arguments, void*);
  va_end(arguments);
  if (fakeIsHandle(fd)) return answer(fakeIoctl(fd, request, argument));
  return next(fd, request, argument);
}

ssize_t read(int fd, void* buffer, size_t length) {
  FAKECAM_NEXT(read);
  if (fakeIsHandle(fd)) {
    errno = EINVAL;  // streaming I/O only, as the capabilities say
    return -1;
  }
  return next(fd, buffer, length);
}

ssize_t __read_chk(int fd, void* buffer, size_t length, size_t bufferLength) {
  using Function = ssize_t (*)(int, void*, size_t, size_t);
  static const auto next = nextDefinition<Function>("__read_chk");
  if (fakeIsHandle(fd)) {
    errno = EINVAL;
    return -1;
  }
  return next(fd, buffer, length, bufferLength);
}

void* mmap(void* address, size_t length, int protection, int flags, int fd, off_t offset) noexcept {
  FAKECAM_NEXT(mmap);
  if (fakeIsHandle(fd)) {
    int error = 0;
    void* mapped = fakeMapBuffer(fd, address, length, protection, flags, offset, error);
    if (mapped == MAP_FAILED) errno = error;
    return mapped;
  }
  return next(address, length, protection, flags, fd, offset);
}

void* mmap64(void* address, size_t length, int protection, int flags, int fd, off64_t offset) noexcept {
  return mmap(address, length, protection, flags, fd, static_cast<off_t>(offset));
}

int munmap(void* address, size_t length) noexcept {
  FAKECAM_NEXT(munmap);
  if (fakeHasMappings()) fakeForgetMapping(address, length);
  return next(address, length);
}

int poll(pollfd* fds, nfds_t count, int timeoutMs) {
  FAKECAM_NEXT(poll);
  if (fds != nullptr && hasFakeDescriptor(fds, count)) return pollWithFakes(fds, count, timeoutMs, next);
  return next(fds, count, timeoutMs);
}

int __poll_chk(pollfd* fds, nfds_t count, int timeoutMs, size_t fdsLength) {
  using Function = int (*)(pollfd*, nfds_t, int, size_t);
  static const auto nextChecked = nextDefinition<Function>("__poll_chk");
  static const auto nextPoll = nextDefinition<decltype(&poll)>("poll");
  if (fds != nullptr && hasFakeDescriptor(fds, count)) return pollWithFakes(fds, count, timeoutMs, nextPoll);
  return nextChecked(fds, count, timeoutMs, fdsLength);
}

}  // extern "C"
