// Keyboard layer choice and the keyboard port the program types with.
#include "app/linux/keyboard_choice.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/keyboard_port.h"
#include "app/uinput/keyboard_uinput.h"

namespace {

bool isWaylandSession(const KeyboardEnvironment& environment) {
  return !environment.waylandDisplay.empty() || environment.sessionType == "wayland";
}

// Why /dev/uinput cannot be used, and what gives access to it.
std::string uinputTrouble(int uinputError) {
  std::string text = std::string(UINPUT_DEVICE_PATH) + " cannot be opened for writing (" +
                     std::strerror(uinputError) + ")";
  if (uinputError == EACCES || uinputError == EPERM) {
    text += "; to allow it, install the udev rule 70-quarnel-uinput.rules and join the input group "
            "(sudo usermod -aG input $USER, then log in again)";
  } else if (uinputError == ENOENT || uinputError == ENODEV || uinputError == ENXIO) {
    text += "; the uinput module is not loaded (sudo modprobe uinput)";
  }
  return text;
}

const char* environmentText(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

void printLine(const std::string& message) { std::fprintf(stderr, "%s\n", message.c_str()); }

}  // namespace

KeyboardChoice chooseKeyboardLayer(const KeyboardEnvironment& environment, int uinputError) {
  const bool uinputWritable = uinputError == 0;
  const bool hasX11Display = !environment.x11Display.empty();
  std::string note;
  if (environment.forcedLayer == "uinput") {
    if (uinputWritable) {
      return {KeyboardLayer::Uinput, "quarnel: typing through the uinput virtual keyboard (QUARNEL_KEYBOARD=uinput)"};
    }
    return {KeyboardLayer::None, "quarnel: read symbols will not be typed: QUARNEL_KEYBOARD=uinput, but " +
                                     uinputTrouble(uinputError)};
  }
  if (environment.forcedLayer == "x11") {
    return {KeyboardLayer::X11, "quarnel: typing through the X display (XTEST, QUARNEL_KEYBOARD=x11)"};
  }
  if (!environment.forcedLayer.empty()) {
    note = "quarnel: QUARNEL_KEYBOARD=" + environment.forcedLayer + " is neither x11 nor uinput; ignored\n";
  }

  if (isWaylandSession(environment)) {
    if (uinputWritable) {
      return {KeyboardLayer::Uinput, note + "quarnel: typing through the uinput virtual keyboard (Wayland session)"};
    }
    if (hasX11Display) {
      return {KeyboardLayer::X11, note + "quarnel: typing through Xwayland (XTEST), which only X programs receive: " +
                                      uinputTrouble(uinputError)};
    }
  } else if (hasX11Display) {
    return {KeyboardLayer::X11, note + "quarnel: typing through the X display (XTEST)"};
  } else if (uinputWritable) {
    // Neither Wayland nor X: a virtual keyboard still reaches the console.
    return {KeyboardLayer::Uinput, note + "quarnel: typing through the uinput virtual keyboard (no X display)"};
  }
  return {KeyboardLayer::None,
          note + "quarnel: read symbols will not be typed: no X display, and " + uinputTrouble(uinputError)};
}

KeyboardEnvironment currentKeyboardEnvironment() {
  return KeyboardEnvironment{environmentText("WAYLAND_DISPLAY"), environmentText("XDG_SESSION_TYPE"),
                             environmentText("DISPLAY"), environmentText("QUARNEL_KEYBOARD")};
}

int probeUinput() {
  const int fd = open(UINPUT_DEVICE_PATH, O_RDWR | O_CLOEXEC);
  if (fd < 0) return errno;
  close(fd);
  return 0;
}

// Reports that it cannot type, so the window can tell the user that reads are not typed.
KeyboardPort silentKeyboard() {
  KeyboardPort port;
  port.keysymScan = [](std::uint32_t) { return KEY_SCAN_NONE; };
  port.keyEvent = [](int, unsigned) {};
  port.flushKeys = [] {};
  port.canType = false;
  return port;
}

KeyboardPort openKeyboard() {
  const KeyboardEnvironment environment = currentKeyboardEnvironment();
  const KeyboardChoice choice = chooseKeyboardLayer(environment, probeUinput());
  if (choice.layer == KeyboardLayer::Uinput) {
    std::string note;
    if (std::optional<KeyboardPort> port = openUinputKeyboard(note)) {
      printLine(choice.message + ", layout " + note);
      return *port;
    }
    // The virtual keyboard failed after the device opened: X still types when there is a display and
    // the user did not ask for uinput.
    if (environment.forcedLayer == "uinput" || environment.x11Display.empty()) {
      printLine("quarnel: read symbols will not be typed: " + note);
      return silentKeyboard();
    }
    printLine("quarnel: " + note + "; typing through the X display (XTEST) instead");
    return openX11Keyboard();
  }
  if (choice.layer == KeyboardLayer::X11) {
    bool opened = false;
    KeyboardPort port = openX11Keyboard(&opened);
    if (opened) printLine(choice.message);
    return port;
  }
  printLine(choice.message);
  return silentKeyboard();
}
