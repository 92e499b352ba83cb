// Keyboard port on uinput: a virtual keyboard of the kernel's, which every compositor, X server and
// console takes like a keyboard plugged in. Key codes come from the user's layout (keyboard_layout.h).
#ifndef QUARNEL_APP_KEYBOARD_UINPUT_H_
#define QUARNEL_APP_KEYBOARD_UINPUT_H_

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include <libevdev/libevdev-uinput.h>

#include "keyboard_layout.h"
#include "keyboard_port.h"

constexpr const char* UINPUT_DEVICE_PATH = "/dev/uinput";
constexpr const char* UINPUT_KEYBOARD_NAME = "Quarnel keyboard";
// Time a compositor takes to find a new input device and start reading it; keys sent before that are lost.
constexpr std::chrono::milliseconds UINPUT_SETTLE_TIME{1000};

// Owners of a file descriptor and of a uinput device.
struct FileDescriptor {
  int fd = -1;
  FileDescriptor() = default;
  explicit FileDescriptor(int owned) : fd(owned) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor();
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
  std::chrono::steady_clock::time_point readyAt;  // no key before this time
  bool failed = false;                           // the kernel refused an event; nothing more is sent
};

// Writes one input event; false when the kernel refused it.
bool writeInputEvent(int fd, unsigned type, unsigned code, int value);

// The lock states after the lock-key light events waiting on fd, read without waiting.
KeyLocks readReportedLocks(int fd, KeyLocks locks);

// The keyboard port over a virtual keyboard: keyScan looks the byte up in the layout table, keyEvent
// writes a press or release followed by a sync event.
KeyboardPort uinputKeyboardPort(std::shared_ptr<UinputKeyboard> keyboard);

// Compiles the system's layout and creates the virtual keyboard "Quarnel keyboard", which lives as
// long as the port. note gets the layout's name, or on failure the reason.
std::optional<KeyboardPort> openUinputKeyboard(std::string& note);

#endif  // QUARNEL_APP_KEYBOARD_UINPUT_H_
