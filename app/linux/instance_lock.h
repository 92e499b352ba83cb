// One quarnel per camera: a lock file per camera node, held with flock for the life of the process, so
// that a second start on the same camera finds it taken and leaves the camera to the first. The kernel
// drops the lock with the last descriptor, so a process that crashed leaves nothing stale behind.
#ifndef QUARNEL_APP_LINUX_INSTANCE_LOCK_H_
#define QUARNEL_APP_LINUX_INSTANCE_LOCK_H_

#include <sys/types.h>

#include <string>

// Exit status of a start that found the camera taken by another quarnel.
constexpr int INSTANCE_EXIT_ALREADY_RUNNING = 1;

// The camera an instance runs for, as the lock knows it.
struct InstanceKey {
  std::string camera;    // what the user reads: "/dev/video0", or "camera 0" for an index not yet resolved
  std::string fileName;  // the lock file's name in the lock folder, "quarnel-dev-video0.lock"
};

// The key of a camera node: the path with every symbolic link followed, so that a /dev/v4l/by-id name and
// /dev/videoN are one camera. A path that cannot be resolved (no such node yet) keys by the path as
// given, made absolute, so that two starts with the same path still exclude each other.
InstanceKey nodeInstanceKey(const std::string& path);

// The key of a camera chosen by its index when no device has that index yet. Its file name cannot be
// made from any path, so it never collides with a node's.
InstanceKey indexInstanceKey(int index);

// The folder the lock files go in, or why there is none.
struct LockFolder {
  std::string path;   // empty when error is set
  std::string error;  // one line for standard error
};

// runtimeDir is $XDG_RUNTIME_DIR (null when unset), used when it is an absolute path. Otherwise the
// folder is <tmpRoot>/quarnel-<uid>, made with mode 0700 when missing; one that is not a plain folder,
// belongs to another user or is open to other users is refused, as anyone can make names under /tmp.
LockFolder instanceLockFolder(const char* runtimeDir, const std::string& tmpRoot, uid_t uid);

// The lock file's descriptor; closing it, once, drops the lock.
class LockFileHandle {
 public:
  LockFileHandle() = default;
  explicit LockFileHandle(int fd) : fd_(fd) {}
  ~LockFileHandle();
  LockFileHandle(LockFileHandle&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  LockFileHandle& operator=(LockFileHandle&& other) noexcept;
  LockFileHandle(const LockFileHandle&) = delete;
  LockFileHandle& operator=(const LockFileHandle&) = delete;

  bool isOpen() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

enum class InstanceLockState {
  Held,         // this process holds the camera
  Taken,        // another process holds it
  Unavailable,  // no lock could be made; the program runs without one
};

struct InstanceLock {
  InstanceLockState state = InstanceLockState::Unavailable;
  LockFileHandle file;  // Held: keep it open for as long as the camera is in use
  pid_t holder = 0;     // Taken: the pid the holder wrote in the file; 0 when it could not be read
  std::string error;    // Unavailable: one line for standard error, naming the file and the cause
};

// Opens or makes <folder>/<key.fileName> and tries to lock it without waiting. Held: the file now holds
// this process's pid, for a later start to find the running instance by.
InstanceLock lockInstance(const std::string& folder, const InstanceKey& key);

// The line a start that found its camera taken shows: "Quarnel is already running for /dev/video0".
std::string alreadyRunningText(const InstanceKey& key);

#endif  // QUARNEL_APP_LINUX_INSTANCE_LOCK_H_
