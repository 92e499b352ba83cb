// Test-only: a window of the test's own under the X server that takes the keyboard focus and records
// each line typed into it.
#ifndef QUARNEL_TESTS_APP_KEY_RECORDER_H_
#define QUARNEL_TESTS_APP_KEY_RECORDER_H_

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testx11 {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// A window of the test's own that takes the keyboard focus and records each line typed into it, with
// the time its Return arrived. It reads its events on a connection and a thread of its own.
class KeyRecorder {
 public:
  KeyRecorder() {
    display_ = XOpenDisplay(nullptr);
    if (display_ == nullptr) return;
    const int screen = DefaultScreen(display_);
    window_ = XCreateSimpleWindow(display_, RootWindow(display_, screen), 0, 0, 200, 100, 0,
                                  BlackPixel(display_, screen), WhitePixel(display_, screen));
    XStoreName(display_, window_, "key recorder");
    XSelectInput(display_, window_, KeyPressMask | StructureNotifyMask);
    XMapRaised(display_, window_);
    XEvent event;
    do XNextEvent(display_, &event);
    while (event.type != MapNotify);
    XSetInputFocus(display_, window_, RevertToParent, CurrentTime);
    XSync(display_, False);
    reader_ = std::thread([this] { readKeys(); });
  }
  ~KeyRecorder() {
    stop_ = true;
    if (reader_.joinable()) reader_.join();
    if (display_ != nullptr) {
      XDestroyWindow(display_, window_);
      XCloseDisplay(display_);
    }
  }

  Window window() const { return window_; }

  struct Line {
    std::string text;  // ends with "\n" for Return
    std::vector<KeySym> keysyms;  // of the keys pressed before Return, Shift and AltGr left out
    Clock::time_point at;
  };
  std::vector<Line> lines() {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }
  std::size_t lineCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_.size();
  }
  // The keysyms of the next line not yet taken; or, when none ends within timeout, of the keys typed since.
  std::vector<KeySym> nextKeysyms(milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (taken_ < lines_.size()) return lines_[taken_++].keysyms;
      }
      std::this_thread::sleep_for(milliseconds(1));
    }
    std::lock_guard<std::mutex> lock(mutex_);
    return pendingKeysyms_;
  }

  // Keys typed after the last Return.
  std::string pending() {
    std::lock_guard<std::mutex> lock(mutex_);
    return pending_;
  }
  // The next line not yet taken, with its "\n"; or, when none ends within timeout, the keys typed since.
  std::string nextLine(milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (taken_ < lines_.size()) return lines_[taken_++].text;
      }
      std::this_thread::sleep_for(milliseconds(1));
    }
    return pending();
  }

 private:
  void readKeys() {
    while (!stop_) {
      if (XPending(display_) == 0) {
        std::this_thread::sleep_for(milliseconds(1));
        continue;
      }
      XEvent event;
      XNextEvent(display_, &event);
      if (event.type == MappingNotify) XRefreshKeyboardMapping(&event.xmapping);
      if (event.type != KeyPress) continue;
      char buffer[8];
      KeySym keysym = NoSymbol;
      const int length = XLookupString(&event.xkey, buffer, sizeof buffer, &keysym, nullptr);
      std::lock_guard<std::mutex> lock(mutex_);
      if (keysym == XK_Return) {
        lines_.push_back({pending_ + "\n", std::move(pendingKeysyms_), Clock::now()});
        pending_.clear();
        pendingKeysyms_.clear();
      } else {
        pending_.append(buffer, static_cast<std::size_t>(length));
        if (keysym != XK_Shift_L && keysym != XK_ISO_Level3_Shift) pendingKeysyms_.push_back(keysym);
      }
    }
  }

  Display* display_ = nullptr;
  Window window_ = 0;
  std::thread reader_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<Line> lines_;
  std::size_t taken_ = 0;  // lines nextLine has handed out
  std::string pending_;
  std::vector<KeySym> pendingKeysyms_;
};

}  // namespace testx11

#endif  // QUARNEL_TESTS_APP_KEY_RECORDER_H_
