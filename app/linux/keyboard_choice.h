// Which keyboard layer types: the uinput virtual keyboard in a Wayland session, XTest otherwise, or
// the one QUARNEL_KEYBOARD names.
#ifndef QUARNEL_APP_LINUX_KEYBOARD_CHOICE_H_
#define QUARNEL_APP_LINUX_KEYBOARD_CHOICE_H_

#include <string>

enum class KeyboardLayer { X11, Uinput, None };

// The environment variables the choice reads; an unset variable is empty.
struct KeyboardEnvironment {
  std::string waylandDisplay;  // WAYLAND_DISPLAY
  std::string sessionType;     // XDG_SESSION_TYPE
  std::string x11Display;      // DISPLAY
  std::string forcedLayer;     // QUARNEL_KEYBOARD: "x11", "uinput" or empty
};

// The layer, and the line (or lines) for standard error that say which layer types, or why none can.
struct KeyboardChoice {
  KeyboardLayer layer = KeyboardLayer::None;
  std::string message;
};

// uinputError is 0 when /dev/uinput opens for writing, otherwise the errno of the attempt.
KeyboardChoice chooseKeyboardLayer(const KeyboardEnvironment& environment, int uinputError);

// The process's own environment.
KeyboardEnvironment currentKeyboardEnvironment();

// 0 when /dev/uinput opens for reading and writing, otherwise the errno of the attempt.
int probeUinput();

#endif  // QUARNEL_APP_LINUX_KEYBOARD_CHOICE_H_
