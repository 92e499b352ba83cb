// Virtual keyboard through uinput: device creation, layout lookup and the key event stream.
#include "app/uinput/keyboard_uinput.h"

#include <fcntl.h>
#include <linux/input.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>
#include <thread>

namespace {

struct LibevdevRelease {
  void operator()(libevdev* description) const { libevdev_free(description); }
};

// Keys Escape to D: with all of them the system classes the device as a full keyboard, which is what
// compositors take key input from.
constexpr int UINPUT_FULL_KEYBOARD_LAST_KEY = KEY_D;

void refreshLayoutTable(UinputKeyboard& keyboard) {
  if (!keyboard.locksStale) return;
  const KeyLocks locks = readReportedLocks(keyboard.eventFd.fd, keyboard.locks);
  if (locks.capsLock != keyboard.locks.capsLock || locks.numLock != keyboard.locks.numLock) {
    keyboard.locks = locks;
    keyboard.table = buildKeyLayoutTable(keyboard.keymap.get(), locks);
  }
  keyboard.locksStale = false;
}

std::int16_t keysymScanUinput(UinputKeyboard& keyboard, std::uint32_t keysym) {
  refreshLayoutTable(keyboard);
  return layoutKeysymScan(keyboard.table, keysym);
}

void keyEventUinput(UinputKeyboard& keyboard, int key, unsigned flags) {
  if (keyboard.failed) return;
  int code = 0;
  if (key == KEY_SHIFT) {
    code = keyboard.table.shiftKey;
  } else if (key == KEY_ALTGR) {
    code = keyboard.table.altGrKey;
  } else if (key > 0 && key < 0xFF) {
    code = key;
  }
  if (code == 0) return;
  const auto wait = keyboard.readyAt - std::chrono::steady_clock::now();
  if (wait > std::chrono::steady_clock::duration::zero()) std::this_thread::sleep_for(wait);

  // Each press and release is a report of its own, so the compositor sees them one by one in order.
  const int value = (flags & KEY_EVENT_UP) != 0 ? 0 : 1;
  if (writeInputEvent(keyboard.eventFd.fd, EV_KEY, static_cast<unsigned>(code), value) &&
      writeInputEvent(keyboard.eventFd.fd, EV_SYN, SYN_REPORT, 0)) {
    keyboard.readyAt = std::chrono::steady_clock::now() + keyboard.reportGap;
    return;
  }
  std::fprintf(stderr, "quarnel: the virtual keyboard refused a key event (%s); read symbols will not be typed\n",
               std::strerror(errno));
  keyboard.failed = true;
  // Gone, the device can hold no key down: the kernel releases what it had pressed, a Shift too.
  keyboard.device.reset();
  keyboard.eventFd.reset();
}

}  // namespace

void FileDescriptor::reset() {
  if (fd >= 0) close(fd);
  fd = -1;
}

bool writeInputEvent(int fd, unsigned type, unsigned code, int value) {
  input_event event{};
  event.type = static_cast<__u16>(type);
  event.code = static_cast<__u16>(code);
  event.value = value;
  // The kernel takes an event whole or not at all; a signal may interrupt the call before it does.
  ssize_t written = 0;
  do written = write(fd, &event, sizeof event);
  while (written < 0 && errno == EINTR);
  if (written >= 0 && written != static_cast<ssize_t>(sizeof event)) errno = EIO;
  return written == static_cast<ssize_t>(sizeof event);
}

KeyLocks readReportedLocks(int fd, KeyLocks locks) {
  pollfd ready{fd, POLLIN, 0};
  while (poll(&ready, 1, 0) == 1 && (ready.revents & POLLIN) != 0) {
    input_event event{};
    const ssize_t got = read(fd, &event, sizeof event);
    if (got != static_cast<ssize_t>(sizeof event)) break;
    if (event.type != EV_LED) continue;
    if (event.code == LED_CAPSL) locks.capsLock = event.value != 0;
    if (event.code == LED_NUML) locks.numLock = event.value != 0;
  }
  return locks;
}

std::set<int> keysToDeclare(xkb_keymap* keymap) {
  std::set<int> keys;
  for (int key = KEY_ESC; key <= UINPUT_FULL_KEYBOARD_LAST_KEY; ++key) keys.insert(key);
  for (bool capsLock : {false, true}) {
    for (bool numLock : {false, true}) {
      const KeyLayoutTable table = buildKeyLayoutTable(keymap, KeyLocks{capsLock, numLock});
      for (const auto& [keysym, scan] : table.scanByKeysym) keys.insert(scan & 0xFF);
      if (table.shiftKey != 0) keys.insert(table.shiftKey);
      if (table.altGrKey != 0) keys.insert(table.altGrKey);
    }
  }
  return keys;
}

KeyboardPort uinputKeyboardPort(std::shared_ptr<UinputKeyboard> keyboard) {
  keyboard->table = buildKeyLayoutTable(keyboard->keymap.get(), keyboard->locks);
  KeyboardPort port;
  port.keysymScan = [keyboard](std::uint32_t keysym) { return keysymScanUinput(*keyboard, keysym); };
  port.keyEvent = [keyboard](int key, unsigned flags) { keyEventUinput(*keyboard, key, flags); };
  // Writes reach the kernel at once; the lights are read again before the next line, so a Caps Lock
  // switched meanwhile is seen.
  port.flushKeys = [keyboard] { keyboard->locksStale = true; };
  // A virtual keyboard cannot see which window has the focus; the compositor delivers the keys to
  // whichever has it.
  port.hasFocusTarget = [] { return true; };
  // heldModifiers stays unset: the device sees none of the physical keyboard's keys. Only reading the
  // keyboards' own event devices would, which takes the input group's rights.
  return port;
}

std::optional<KeyboardPort> openUinputKeyboard(std::string& note) {
  const KeyboardLayoutNames names = systemLayoutNames();
  auto keyboard = std::make_shared<UinputKeyboard>();
  keyboard->keymap = compileKeymap(names);
  if (!keyboard->keymap) {
    note = "the keyboard layout " + describeLayout(names) + " cannot be compiled";
    return std::nullopt;
  }

  keyboard->eventFd.fd = open(UINPUT_DEVICE_PATH, O_RDWR | O_CLOEXEC);
  if (keyboard->eventFd.fd < 0) {
    note = std::string(UINPUT_DEVICE_PATH) + ": " + std::strerror(errno);
    return std::nullopt;
  }
  const std::unique_ptr<libevdev, LibevdevRelease> description(libevdev_new());
  if (!description) {
    note = "out of memory";
    return std::nullopt;
  }
  libevdev_set_name(description.get(), UINPUT_KEYBOARD_NAME);
  libevdev_set_id_bustype(description.get(), BUS_VIRTUAL);
  libevdev_enable_event_type(description.get(), EV_KEY);
  for (int key : keysToDeclare(keyboard->keymap.get())) {
    libevdev_enable_event_code(description.get(), EV_KEY, static_cast<unsigned>(key), nullptr);
  }
  // With lights, the compositor tells the device when Caps Lock or Num Lock changes.
  libevdev_enable_event_type(description.get(), EV_LED);
  libevdev_enable_event_code(description.get(), EV_LED, LED_NUML, nullptr);
  libevdev_enable_event_code(description.get(), EV_LED, LED_CAPSL, nullptr);
  libevdev_uinput* device = nullptr;
  const int created = libevdev_uinput_create_from_device(description.get(), keyboard->eventFd.fd, &device);
  if (created != 0) {
    note = std::string("cannot create the virtual keyboard: ") + std::strerror(-created);
    return std::nullopt;
  }
  keyboard->device.reset(device);
  keyboard->readyAt = std::chrono::steady_clock::now() + UINPUT_SETTLE_TIME;
  note = describeLayout(names);
  return uinputKeyboardPort(keyboard);
}
