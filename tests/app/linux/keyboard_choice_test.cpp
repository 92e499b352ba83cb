// Which keyboard layer types, for each kind of session, state of /dev/uinput and override, and what
// standard error says about it.
#include "app/linux/keyboard_choice.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/keyboard_port.h"

namespace {

const KeyboardEnvironment WAYLAND{"wayland-0", "wayland", ":0", ""};
const KeyboardEnvironment WAYLAND_WITHOUT_XWAYLAND{"wayland-0", "wayland", "", ""};
const KeyboardEnvironment WAYLAND_BY_SESSION_TYPE{"", "wayland", ":0", ""};
const KeyboardEnvironment X11_SESSION{"", "x11", ":0", ""};
const KeyboardEnvironment CONSOLE{"", "tty", "", ""};

KeyboardEnvironment forced(KeyboardEnvironment environment, const char* layer) {
  environment.forcedLayer = layer;
  return environment;
}

struct ChoiceCase {
  const char* name;
  KeyboardEnvironment environment;
  int uinputError;
  KeyboardLayer layer;
  std::vector<std::string> said;  // fragments the message holds, in order
};

TEST(KeyboardChoice, LayerAndMessageFollowSessionUinputAndOverride) {
  const ChoiceCase cases[] = {
      {"wayland, uinput writable", WAYLAND, 0, KeyboardLayer::Uinput,
       {"typing through the uinput virtual keyboard", "Wayland"}},
      {"wayland by session type", WAYLAND_BY_SESSION_TYPE, 0, KeyboardLayer::Uinput, {"uinput virtual keyboard"}},
      {"wayland, no permission", WAYLAND, EACCES, KeyboardLayer::X11,
       {"typing through Xwayland", "only X programs", "/dev/uinput cannot be opened for writing (Permission denied)",
        "70-quarnel-uinput.rules", "usermod -aG input"}},
      {"wayland, no module", WAYLAND, ENOENT, KeyboardLayer::X11,
       {"typing through Xwayland", "(No such file or directory)", "modprobe uinput"}},
      {"wayland without xwayland, no permission", WAYLAND_WITHOUT_XWAYLAND, EACCES, KeyboardLayer::None,
       {"will not be typed", "no X display", "Permission denied", "usermod -aG input"}},
      {"x11 session, uinput writable", X11_SESSION, 0, KeyboardLayer::X11, {"typing through the X display (XTEST)"}},
      {"x11 session, no permission", X11_SESSION, EACCES, KeyboardLayer::X11, {"typing through the X display"}},
      {"console, uinput writable", CONSOLE, 0, KeyboardLayer::Uinput, {"uinput virtual keyboard", "no X display"}},
      {"console, no permission", CONSOLE, EACCES, KeyboardLayer::None,
       {"will not be typed", "no X display", "Permission denied"}},
      {"forced uinput in x11", forced(X11_SESSION, "uinput"), 0, KeyboardLayer::Uinput, {"QUARNEL_KEYBOARD=uinput"}},
      {"forced uinput, no permission", forced(X11_SESSION, "uinput"), EACCES, KeyboardLayer::None,
       {"will not be typed", "QUARNEL_KEYBOARD=uinput", "Permission denied", "usermod -aG input"}},
      {"forced x11 in wayland", forced(WAYLAND, "x11"), 0, KeyboardLayer::X11, {"XTEST", "QUARNEL_KEYBOARD=x11"}},
      {"unknown override", forced(WAYLAND, "xtest"), 0, KeyboardLayer::Uinput,
       {"QUARNEL_KEYBOARD=xtest is neither x11 nor uinput; ignored\n", "uinput virtual keyboard"}},
  };
  for (const ChoiceCase& row : cases) {
    const KeyboardChoice choice = chooseKeyboardLayer(row.environment, row.uinputError);
    EXPECT_EQ(choice.layer, row.layer) << row.name;
    std::size_t at = 0;
    for (const std::string& fragment : row.said) {
      const std::size_t found = choice.message.find(fragment, at);
      EXPECT_NE(found, std::string::npos) << row.name << ": \"" << fragment << "\" not in: " << choice.message;
      if (found != std::string::npos) at = found + fragment.size();
    }
    EXPECT_EQ(choice.message.rfind("quarnel: ", 0), 0u) << row.name;
    EXPECT_NE(choice.message.back(), '\n') << row.name;
  }
}

// Environment variables set for one test and put back afterwards.
class ScopedEnvironment {
 public:
  void set(const char* name, const char* value) {
    const char* old = std::getenv(name);
    saved_.push_back({name, old != nullptr, old != nullptr ? old : ""});
    if (value != nullptr) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnvironment() {
    for (auto s = saved_.rbegin(); s != saved_.rend(); ++s) {
      if (s->wasSet) {
        setenv(s->name, s->value.c_str(), 1);
      } else {
        unsetenv(s->name);
      }
    }
  }

 private:
  struct Saved {
    const char* name;
    bool wasSet;
    std::string value;
  };
  std::vector<Saved> saved_;
};

TEST(KeyboardChoice, ProgramSaysOnceWhyNothingTypesAndGetsAKeyboardWithoutKeys) {
  if (probeUinput() == 0) GTEST_SKIP() << "/dev/uinput is writable here; this case needs it closed";
  ScopedEnvironment environment;
  environment.set("QUARNEL_KEYBOARD", "uinput");
  environment.set("WAYLAND_DISPLAY", "wayland-0");
  testing::internal::CaptureStderr();
  const KeyboardPort keyboard = openKeyboard();
  const std::string said = testing::internal::GetCapturedStderr();
  EXPECT_EQ(said.find("quarnel: read symbols will not be typed: QUARNEL_KEYBOARD=uinput, but /dev/uinput cannot"),
            0u) << said;
  EXPECT_EQ(said.find('\n'), said.size() - 1) << said;
  EXPECT_EQ(keyboard.keysymScan('a'), KEY_SCAN_NONE);
}

}  // namespace
