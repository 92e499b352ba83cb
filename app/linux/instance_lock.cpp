// The per-camera lock files of quarnel: their folder, their names, and the lock itself.
#include "app/linux/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>
#include <utility>

#include "text/hex_byte.h"

namespace {

constexpr const char* LOCK_NAME_PREFIX = "quarnel";
constexpr const char* LOCK_NAME_SUFFIX = ".lock";
// Well under the 255 bytes a file name may have, with room for the prefix, the hash and the suffix.
constexpr std::size_t LOCK_NAME_KEPT = 180;
// A holder writes its pid right after taking the lock; a start that comes in between waits this long
// for it.
constexpr int LOCK_PID_WAIT_TRIES = 50;
constexpr auto LOCK_PID_WAIT_STEP = std::chrono::milliseconds(2);

std::string errnoText(int error) { return std::strerror(error); }

bool isKeptByte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '_';
}

// The path as a file name: '/' becomes '-', letters, digits, '.' and '_' stay, every other byte is
// written %XX. Distinct paths give distinct names, and no name holds a '/'.
std::string escapedPath(const std::string& path) {
  std::string name;
  for (const char c : path) {
    if (c == '/') {
      name += '-';
    } else if (isKeptByte(c)) {
      name += c;
    } else {
      name += '%';
      appendHexByte(&name, static_cast<std::uint8_t>(c));
    }
  }
  return name;
}

// FNV-1a: stable across runs and builds, which std::hash need not be.
std::string pathHash(const std::string& path) {
  std::uint64_t hash = 14695981039346656037ull;
  for (const char c : path) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ull;
  }
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
  return text;
}

std::string resolvedPath(const std::string& path) {
  char resolved[PATH_MAX];
  if (realpath(path.c_str(), resolved) != nullptr) return resolved;
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(path, error);
  return error ? path : absolute.lexically_normal().string();
}

// The pid in the holder's file; 0 when the file holds none (yet).
pid_t readHolder(int fd) {
  for (int attempt = 0; attempt < LOCK_PID_WAIT_TRIES; ++attempt) {
    char text[32] = {};
    const ssize_t got = pread(fd, text, sizeof text - 1, 0);
    if (got > 0) {
      char* end = nullptr;
      const long pid = std::strtol(text, &end, 10);
      if (end != text && (*end == '\n' || *end == '\0') && pid > 0 && pid <= INT_MAX) return static_cast<pid_t>(pid);
    }
    std::this_thread::sleep_for(LOCK_PID_WAIT_STEP);
  }
  return 0;
}

}  // namespace

InstanceKey nodeInstanceKey(const std::string& path) {
  const std::string node = resolvedPath(path);
  std::string name = escapedPath(node);
  // A name too long for the file system keeps its start and gets the whole path's hash; '~' is never
  // written by the escape, so such a name cannot equal a plain one.
  if (name.size() > LOCK_NAME_KEPT) name = name.substr(0, LOCK_NAME_KEPT) + "~" + pathHash(node);
  return {node, LOCK_NAME_PREFIX + name + LOCK_NAME_SUFFIX};
}

InstanceKey indexInstanceKey(int index) {
  // '=' is never written by the escape of a path.
  return {"camera " + std::to_string(index),
          std::string(LOCK_NAME_PREFIX) + "-index=" + std::to_string(index) + LOCK_NAME_SUFFIX};
}

LockFolder instanceLockFolder(const char* runtimeDir, const std::string& tmpRoot, uid_t uid) {
  if (runtimeDir != nullptr && runtimeDir[0] == '/') return {runtimeDir, ""};
  const std::string path = tmpRoot + "/quarnel-" + std::to_string(uid);
  if (mkdir(path.c_str(), 0700) == 0) {
    // The file mode mask may have taken bits the owner needs.
    if (chmod(path.c_str(), 0700) != 0) return {"", "cannot set up the lock folder " + path + ": " + errnoText(errno)};
    return {path, ""};
  }
  if (errno != EEXIST) return {"", "cannot make the lock folder " + path + ": " + errnoText(errno)};
  struct stat status {};
  if (lstat(path.c_str(), &status) != 0) return {"", "cannot read the lock folder " + path + ": " + errnoText(errno)};
  if (!S_ISDIR(status.st_mode)) return {"", "the lock folder " + path + " is not a folder"};
  if (status.st_uid != uid) return {"", "the lock folder " + path + " belongs to another user"};
  if ((status.st_mode & 077) != 0) return {"", "the lock folder " + path + " is open to other users"};
  return {path, ""};
}

LockFileHandle::~LockFileHandle() {
  if (fd_ >= 0) close(fd_);
}

LockFileHandle& LockFileHandle::operator=(LockFileHandle&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) close(fd_);
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

InstanceLock lockInstance(const std::string& folder, const InstanceKey& key) {
  InstanceLock lock;
  const std::string path = folder + "/" + key.fileName;
  // No link is followed: in a folder others could once write to, a link might point anywhere.
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    lock.error = "cannot open the lock file " + path + ": " + errnoText(errno);
    return lock;
  }
  LockFileHandle file(fd);
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) {
      lock.state = InstanceLockState::Taken;
      lock.holder = readHolder(fd);
    } else {
      lock.error = "cannot lock " + path + ": " + errnoText(errno);
    }
    return lock;
  }
  // Without the pid the lock still holds; only finding the running window needs it.
  const std::string pid = std::to_string(getpid()) + "\n";
  if (ftruncate(fd, 0) == 0) {
    const ssize_t written = pwrite(fd, pid.data(), pid.size(), 0);
    static_cast<void>(written);
  }
  lock.state = InstanceLockState::Held;
  lock.file = std::move(file);
  return lock;
}

std::string alreadyRunningText(const InstanceKey& key) { return "Quarnel is already running for " + key.camera; }
