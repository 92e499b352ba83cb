// Keyboard port on uinput: a virtual keyboard of the kernel's, which every compositor, X server and
// console takes like a keyboard plugged in. Key codes come from the user's layout (keyboard_layout.h).
#ifndef QUARNEL_APP_UINPUT_KEYBOARD_UINPUT_H_
#define QUARNEL_APP_UINPUT_KEYBOARD_UINPUT_H_

#include <chrono>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include <libevdev/libevdev-uinput.h>

#include "app/uinput/keyboard_layout.h"
#include "app/keyboard_port.h"

constexpr const char* UINPUT_DEVICE_PATH = "/dev/uinput";
constexpr const char* UINPUT_KEYBOARD_NAME = "Quarnel keyboard";
// Time a compositor takes to find a new input device and start reading it; keys sent before that are lost.
constexpr std::chrono::milliseconds UINPUT_SETTLE_TIME{1000};
// Pause between two reports (a press or a release and its sync). The kernel keeps only 64 events of
// the device for the compositor; sent back to back, a line longer than about 16 characters would
// overflow it whenever the compositor reads late, and it drops the rest of the report stream.
constexpr std::chrono::milliseconds UINPUT_REPORT_GAP{2};

// Owners of a file descriptor and of a uinput device.
struct FileDescriptor {
  int fd = -1;
  FileDescriptor() = default;
  explicit FileDescriptor(int owned) : fd(owned) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() { reset(); }
  void reset();
};
struct UinputDeviceRelease {
  void operator()(libevdev_uinput* device) const { libevdev_uinput_destroy(device); }
};

// One virtual keyboard: its events go to eventFd (the uinput file descriptor; a socket in tests),
// which also brings back the lock-key lights the compositor sets.
struct UinputKeyboard {
  FileDescriptor eventFd;
  // Destroyed before eventFd is closed.
  std::unique_ptr<libevdev_uinput, UinputDeviceRelease> device;
  XkbKeymapPtr keymap;
  KeyLocks locks;
  KeyLayoutTable table;                          // for keymap with locks
  bool locksStale = true;                        // read the lights again before the next line
  std::chrono::steady_clock::time_point readyAt;  // no report before this time
  std::chrono::steady_clock::duration reportGap = UINPUT_REPORT_GAP;
  bool failed = false;                           // the kernel refused an event; the device is gone
};

// Writes one input event; false when the kernel refused it.
bool writeInputEvent(int fd, unsigned type, unsigned code, int value);

// The lock states after the lock-key light events waiting on fd, read without waiting.
KeyLocks readReportedLocks(int fd, KeyLocks locks);

// The keys the device declares up front, as the kernel drops events of any other: every key and
// modifier the layout table may pick under any lock state, and the keys Escape to D, with which the
// system classes the device as a full keyboard, the kind compositors take key input from.
std::set<int> keysToDeclare(xkb_keymap* keymap);

// The keyboard port over a virtual keyboard: keysymScan looks the keysym up in the layout table, keyEvent
// writes a press or release followed by a sync event.
KeyboardPort uinputKeyboardPort(std::shared_ptr<UinputKeyboard> keyboard);

// Compiles the system's layout and creates the virtual keyboard "Quarnel keyboard", which lives as
// long as the port. note gets the layout's name, or on failure the reason.
std::optional<KeyboardPort> openUinputKeyboard(std::string& note);

#endif  // QUARNEL_APP_UINPUT_KEYBOARD_UINPUT_H_
