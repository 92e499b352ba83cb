// The virtual keyboard's event stream, read back from a socket pair in place of /dev/uinput: the exact
// presses, releases and sync reports a typed line makes, the lock lights the compositor sends back,
// the wait for a new device, and a device that refuses events.
#include "app/uinput/keyboard_uinput.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/input.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <set>
#include <string>
#include <vector>

#include "app/keyboard_wedge.h"

namespace {

struct Event {
  unsigned type;
  unsigned code;
  int value;
  bool operator==(const Event& other) const {
    return type == other.type && code == other.code && value == other.value;
  }
};

std::ostream& operator<<(std::ostream& out, const Event& e) {
  return out << "{" << e.type << "," << e.code << "," << e.value << "}";
}

// A press or release and the sync report after it.
std::vector<Event> keyStroke(unsigned code, int value) { return {{EV_KEY, code, value}, {EV_SYN, SYN_REPORT, 0}}; }

// Press and release of key, held inside the given modifier keys.
std::vector<Event> typed(unsigned key, std::vector<unsigned> modifiers = {}) {
  std::vector<Event> events;
  auto add = [&events](const std::vector<Event>& more) { events.insert(events.end(), more.begin(), more.end()); };
  for (unsigned modifier : modifiers) add(keyStroke(modifier, 1));
  add(keyStroke(key, 1));
  add(keyStroke(key, 0));
  for (auto m = modifiers.rbegin(); m != modifiers.rend(); ++m) add(keyStroke(*m, 0));
  return events;
}

std::vector<Event> joined(std::initializer_list<std::vector<Event>> parts) {
  std::vector<Event> all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// A virtual keyboard whose device end is one socket of a pair; the test holds the other, as the
// kernel would.
struct SocketKeyboard {
  int kernelEnd = -1;
  std::shared_ptr<UinputKeyboard> keyboard = std::make_shared<UinputKeyboard>();
  KeyboardPort port;

  explicit SocketKeyboard(const std::string& layout) {
    int ends[2];
    EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends), 0);
    keyboard->eventFd.fd = ends[0];
    kernelEnd = ends[1];
    KeyboardLayoutNames names;
    names.layout = layout;
    keyboard->keymap = compileKeymap(names);
    EXPECT_TRUE(keyboard->keymap);
    keyboard->readyAt = std::chrono::steady_clock::now();
    keyboard->reportGap = std::chrono::steady_clock::duration::zero();
    port = uinputKeyboardPort(keyboard);
  }
  ~SocketKeyboard() { close(kernelEnd); }

  // Every event written so far.
  std::vector<Event> events() const {
    std::vector<Event> got;
    input_event event{};
    while (recv(kernelEnd, &event, sizeof event, MSG_DONTWAIT) == static_cast<ssize_t>(sizeof event)) {
      got.push_back({event.type, event.code, event.value});
    }
    return got;
  }

  // What the compositor does when a lock key changes: the light's new state, written to the device.
  void setLight(unsigned led, bool on) const {
    input_event event{};
    event.type = EV_LED;
    event.code = static_cast<__u16>(led);
    event.value = on ? 1 : 0;
    ASSERT_EQ(write(kernelEnd, &event, sizeof event), static_cast<ssize_t>(sizeof event));
  }
};

TEST(UinputKeyboard, LineIsPressReleaseAndSyncPerKeyWithModifiersAroundAndReturnAtTheEnd) {
  struct Row {
    const char* layout;
    std::string text;
    std::vector<Event> expected;
  };
  const Row rows[] = {
      {"us", "aB 1", joined({typed(KEY_A), typed(KEY_B, {KEY_LEFTSHIFT}), typed(KEY_SPACE), typed(KEY_1),
                             typed(KEY_ENTER)})},
      {"us", "", typed(KEY_ENTER)},
      // Tab stays; a line feed or Escape inside the text has no key; ä has none on this layout.
      {"us", "a\tb\nc\x1b\xe4!", joined({typed(KEY_A), typed(KEY_TAB), typed(KEY_B), typed(KEY_C),
                                        typed(KEY_1, {KEY_LEFTSHIFT}), typed(KEY_ENTER)})},
      {"de", "@z\xc4", joined({typed(KEY_Q, {KEY_RIGHTALT}), typed(KEY_Y), typed(KEY_APOSTROPHE, {KEY_LEFTSHIFT}),
                               typed(KEY_ENTER)})},
      // fr: '~' on AltGr, the digits on Shift, ')' plain on the key right of 0.
      {"fr", "~1)", joined({typed(KEY_2, {KEY_RIGHTALT}), typed(KEY_1, {KEY_LEFTSHIFT}), typed(KEY_MINUS),
                            typed(KEY_ENTER)})},
  };
  for (const Row& row : rows) {
    SocketKeyboard device(row.layout);
    typeLine(device.port, row.text.c_str());
    EXPECT_EQ(device.events(), row.expected) << row.layout << " \"" << row.text << "\"";
  }
}

// The compositor owns the virtual keyboard's layout, so nothing can be bound for a character it lacks: the
// wedge sends not a single event of such a read, and types the next one that the layout can.
TEST(UinputKeyboard, AReadWithACharacterTheLayoutLacksSendsNoEventAtAll) {
  SocketKeyboard device("us");
  int beeps = 0;
  AppPorts ports;
  ports.keyboard = device.port;
  ports.clock.tickCount = [] { return 0u; };
  ports.clock.sleepMs = [](std::uint32_t) {};
  ports.sound.beep = [&beeps](std::uint32_t, std::uint32_t) { ++beeps; };
  KeyboardWedge wedge;
  testing::internal::CaptureStderr();
  confirmRead(wedge, ports, 0, std::string("ab\xe4"));  // "abä" in ISO 8859-1
  const std::string said = testing::internal::GetCapturedStderr();
  EXPECT_EQ(device.events(), std::vector<Event>{});
  EXPECT_EQ(beeps, 0);
  EXPECT_EQ(wedge.holdOff, 0);
  EXPECT_NE(said.find("(U+00E4) has no key on the keyboard layout"), std::string::npos) << said;
  confirmRead(wedge, ports, 0, std::string("ab"));
  EXPECT_EQ(device.events(), joined({typed(KEY_A), typed(KEY_B), typed(KEY_ENTER)}));
  EXPECT_EQ(beeps, 1);
}

TEST(UinputKeyboard, CapsLockLightFromTheCompositorKeepsTheCaseOfTheText) {
  SocketKeyboard device("us");
  device.setLight(LED_CAPSL, true);
  typeLine(device.port, "aA");
  EXPECT_EQ(device.events(), joined({typed(KEY_A, {KEY_LEFTSHIFT}), typed(KEY_A), typed(KEY_ENTER)}));

  // Switched off between two lines: the next line sees it.
  device.setLight(LED_CAPSL, false);
  typeLine(device.port, "aA");
  EXPECT_EQ(device.events(), joined({typed(KEY_A), typed(KEY_A, {KEY_LEFTSHIFT}), typed(KEY_ENTER)}));

  // Num Lock alone changes nothing for text.
  device.setLight(LED_NUML, true);
  typeLine(device.port, "1a");
  EXPECT_EQ(device.events(), joined({typed(KEY_1), typed(KEY_A), typed(KEY_ENTER)}));
}

TEST(UinputKeyboard, EveryKeyTheDeviceWritesIsDeclaredSoTheKernelPassesIt) {
  for (const char* layout : {"us", "de", "fr", "gb"}) {
    SocketKeyboard device(layout);
    const std::set<int> declared = keysToDeclare(device.keyboard->keymap.get());
    // The system classes a device as a full keyboard only with all of Escape to D.
    for (int key = KEY_ESC; key <= KEY_D; ++key) EXPECT_EQ(declared.count(key), 1u) << layout << " key " << key;

    std::vector<Event> written;
    for (bool capsLock : {false, true}) {
      for (bool numLock : {false, true}) {
        device.setLight(LED_CAPSL, capsLock);
        device.setLight(LED_NUML, numLock);
        // Every byte, a few per line so that the socket never fills while nobody reads it.
        for (int first = 1; first < 256; first += 8) {
          std::string bytes;
          for (int byte = first; byte < first + 8 && byte < 256; ++byte) bytes += static_cast<char>(byte);
          typeLine(device.port, bytes.c_str());
          const std::vector<Event> line = device.events();
          written.insert(written.end(), line.begin(), line.end());
        }
      }
    }
    EXPECT_GT(written.size(), 4u * 2 * 2 * 95) << layout;
    for (const Event& event : written) {
      if (event.type == EV_KEY) {
        EXPECT_EQ(declared.count(static_cast<int>(event.code)), 1u) << layout << " " << event;
      }
    }
  }
}

TEST(UinputKeyboard, FirstKeyWaitsForTheCompositorAndReportsArePacedSoItsQueueNeverOverflows) {
  SocketKeyboard device("us");
  const auto start = std::chrono::steady_clock::now();
  device.keyboard->readyAt = start + std::chrono::milliseconds(300);
  device.keyboard->reportGap = std::chrono::milliseconds(20);
  typeLine(device.port, "aB");
  // Eight reports: the first at the ready time, each further one a gap after the one before.
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300 + 7 * 20));
  EXPECT_EQ(device.events(), joined({typed(KEY_A), typed(KEY_B, {KEY_LEFTSHIFT}), typed(KEY_ENTER)}));
}

TEST(UinputKeyboard, RefusedEventStopsTypingWithOneLineOnStandardError) {
  SocketKeyboard device("us");
  // A descriptor that cannot be written to, as a device gone from under the program.
  close(device.keyboard->eventFd.fd);
  device.keyboard->eventFd.fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
  ASSERT_GE(device.keyboard->eventFd.fd, 0);
  testing::internal::CaptureStderr();
  typeLine(device.port, "ab");
  typeLine(device.port, "cd");
  const std::string error = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(device.keyboard->failed);
  // The device is destroyed, so that no key it pressed stays down.
  EXPECT_EQ(device.keyboard->eventFd.fd, -1);
  EXPECT_EQ(error, "quarnel: the virtual keyboard refused a key event (Bad file descriptor); read symbols will "
                   "not be typed\n");
}

}  // namespace
