// Test-only: driving a program under the test X server: a child process with its output collected, the
// windows the window system knows, screenshots, and a window that holds the keyboard focus and records
// what is typed into it.
#ifndef QUARNEL_TESTS_APP_PROGRAM_HARNESS_H_
#define QUARNEL_TESTS_APP_PROGRAM_HARNESS_H_

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <opencv2/core.hpp>

#include "tests/app/key_recorder.h"

extern char** environ;

namespace programtest {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

inline double msSince(Clock::time_point start, Clock::time_point end) {
  return std::chrono::duration<double, std::milli>(end - start).count();
}

inline bool waitUntil(const std::function<bool()>& done, milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (!done()) {
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(milliseconds(5));
  }
  return true;
}

// ---------------------------------------------------------------------------------------------------
// A child process with its standard output and error collected as they come.
class ChildProcess {
 public:
  // Starts path with args; env holds variables to set, a value of nullopt removes the variable.
  ChildProcess(const std::string& path, const std::vector<std::string>& args,
               const std::map<std::string, std::optional<std::string>>& env) {
    std::vector<std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
      const std::string text = *entry;
      if (env.count(text.substr(0, text.find('='))) == 0) environment.push_back(text);
    }
    for (const auto& [name, value] : env) {
      if (value) environment.push_back(name + "=" + *value);
    }
    std::vector<char*> envp;
    for (std::string& entry : environment) envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::vector<std::string> argStore = {path};
    argStore.insert(argStore.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : argStore) argv.push_back(arg.data());
    argv.push_back(nullptr);

    int outPipe[2];
    int errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      // A group of its own, so that processes it starts end with it.
      setpgid(0, 0);
      dup2(outPipe[1], STDOUT_FILENO);
      dup2(errPipe[1], STDERR_FILENO);
      execve(path.c_str(), argv.data(), envp.data());
      _exit(127);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    outReader_ = std::thread([this, fd = outPipe[0]] { collect(fd, out_); });
    errReader_ = std::thread([this, fd = errPipe[0]] { collect(fd, err_); });
  }

  ~ChildProcess() {
    if (pid_ > 0) {
      // Whatever the program started (an error box runs in a process of its own) holds the pipes open.
      kill(-pid_, SIGKILL);
      if (!status_) {
        int status = 0;
        waitpid(pid_, &status, 0);
      }
    }
    if (outReader_.joinable()) outReader_.join();
    if (errReader_.joinable()) errReader_.join();
  }

  pid_t pid() const { return pid_; }

  // The exit status once the process has ended within timeout.
  std::optional<int> waitExit(milliseconds timeout) {
    waitUntil([this] { return poll(); }, timeout);
    return status_;
  }
  bool running() { return pid_ > 0 && !poll(); }

  std::string out() {
    std::lock_guard<std::mutex> lock(mutex_);
    return out_;
  }
  std::string err() {
    std::lock_guard<std::mutex> lock(mutex_);
    return err_;
  }
  int countInOut(const std::string& needle) {
    const std::string text = out();
    int count = 0;
    for (std::size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++count;
    return count;
  }

 private:
  bool poll() {
    if (status_) return true;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) != pid_) return false;
    status_ = status;
    return true;
  }
  void collect(int fd, std::string& into) {
    char buffer[4096];
    for (;;) {
      const ssize_t got = read(fd, buffer, sizeof buffer);
      if (got <= 0) break;
      std::lock_guard<std::mutex> lock(mutex_);
      into.append(buffer, static_cast<std::size_t>(got));
    }
    close(fd);
  }

  pid_t pid_ = -1;
  std::optional<int> status_;
  std::mutex mutex_;
  std::string out_;
  std::string err_;
  std::thread outReader_;
  std::thread errReader_;
};

inline bool exitedWith(const std::optional<int>& status, int code) {
  return status && WIFEXITED(*status) && WEXITSTATUS(*status) == code;
}

// ---------------------------------------------------------------------------------------------------
// What the window system knows about a window.
// The title as it is stored, whatever its text type (the error box stores UTF-8).
inline std::string windowName(Display* display, Window window) {
  Atom actualType = None;
  int format = 0;
  unsigned long count = 0;
  unsigned long remaining = 0;
  unsigned char* data = nullptr;
  std::string name;
  if (XGetWindowProperty(display, window, XA_WM_NAME, 0, 1024, False, AnyPropertyType, &actualType, &format, &count,
                         &remaining, &data) == Success &&
      data != nullptr) {
    if (format == 8) name.assign(reinterpret_cast<const char*>(data), count);
    XFree(data);
  }
  return name;
}

inline std::vector<unsigned long> windowProperty(Display* display, Window window, const char* name, Atom type) {
  Atom actualType = None;
  int format = 0;
  unsigned long count = 0;
  unsigned long remaining = 0;
  unsigned char* data = nullptr;
  std::vector<unsigned long> values;
  if (XGetWindowProperty(display, window, XInternAtom(display, name, False), 0, 1 << 16, False, type, &actualType,
                         &format, &count, &remaining, &data) == Success &&
      data != nullptr) {
    if (format == 32) {
      const auto* longs = reinterpret_cast<const unsigned long*>(data);
      values.assign(longs, longs + count);
    }
    XFree(data);
  }
  return values;
}

// A viewable top-level window with the title, belonging to pid when pid is given.
inline Window findWindow(Display* display, const std::string& title, std::optional<pid_t> pid) {
  Window root = 0;
  Window parent = 0;
  Window* children = nullptr;
  unsigned count = 0;
  Window found = 0;
  if (XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count) == 0) return 0;
  for (unsigned i = 0; i < count && found == 0; ++i) {
    XWindowAttributes attributes;
    if (XGetWindowAttributes(display, children[i], &attributes) == 0 || attributes.map_state != IsViewable) continue;
    if (windowName(display, children[i]) != title) continue;
    if (pid) {
      const auto owner = windowProperty(display, children[i], "_NET_WM_PID", XA_CARDINAL);
      if (owner.empty() || static_cast<pid_t>(owner[0]) != *pid) continue;
    }
    found = children[i];
  }
  if (children != nullptr) XFree(children);
  return found;
}

inline Window waitForWindow(Display* display, const std::string& title, std::optional<pid_t> pid, milliseconds timeout) {
  Window window = 0;
  waitUntil([&] { return (window = findWindow(display, title, pid)) != 0; }, timeout);
  return window;
}

// Asks the window to close, as a window manager's close button does.
inline void requestClose(Display* display, Window window) {
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
  event.xclient.data.l[1] = CurrentTime;
  XSendEvent(display, window, False, NoEventMask, &event);
  XFlush(display);
}

// The window's contents as B, G, R pixels.
inline cv::Mat screenshot(Display* display, Window window) {
  XWindowAttributes attributes;
  if (XGetWindowAttributes(display, window, &attributes) == 0) return {};
  XImage* image = XGetImage(display, window, 0, 0, attributes.width, attributes.height, AllPlanes, ZPixmap);
  if (image == nullptr) return {};
  cv::Mat picture(attributes.height, attributes.width, CV_8UC3);
  auto channel = [](unsigned long pixel, unsigned long mask) {
    int shift = 0;
    while (mask != 0 && (mask & 1) == 0) {
      mask >>= 1;
      ++shift;
    }
    return static_cast<std::uint8_t>(((pixel >> shift) & mask) * 255 / (mask == 0 ? 1 : mask));
  };
  for (int y = 0; y < attributes.height; ++y) {
    for (int x = 0; x < attributes.width; ++x) {
      const unsigned long pixel = XGetPixel(image, x, y);
      picture.at<cv::Vec3b>(y, x) = {channel(pixel, image->blue_mask), channel(pixel, image->green_mask),
                                     channel(pixel, image->red_mask)};
    }
  }
  XDestroyImage(image);
  return picture;
}

using KeyRecorder = testx11::KeyRecorder;

}  // namespace programtest

#endif  // QUARNEL_TESTS_APP_PROGRAM_HARNESS_H_
