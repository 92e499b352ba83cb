// The user's keyboard layout for the virtual keyboard: the layout names from the system's keyboard
// settings, the compiled layout, and for each text keysym the key code and modifiers that type it.
// Key codes here are the kernel's (evdev) codes, which a compositor turns into characters with the
// same layout.
#ifndef QUARNEL_APP_UINPUT_KEYBOARD_LAYOUT_H_
#define QUARNEL_APP_UINPUT_KEYBOARD_LAYOUT_H_

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>

#include <xkbcommon/xkbcommon.h>

// The file where Debian keeps the system's keyboard settings.
constexpr const char* KEYBOARD_SETTINGS_PATH = "/etc/default/keyboard";

// Rules, model, layout, variant and options; an empty field takes the layout compiler's default.
struct KeyboardLayoutNames {
  std::string rules;
  std::string model;
  std::string layout;
  std::string variant;
  std::string options;
};

// Reads XKBMODEL, XKBLAYOUT, XKBVARIANT and XKBOPTIONS from the shell assignments of a keyboard
// settings file; comments and other lines are ignored.
KeyboardLayoutNames parseKeyboardSettings(const std::string& settingsText);

// Lets the XKB_DEFAULT_RULES, _MODEL, _LAYOUT, _VARIANT and _OPTIONS variables override the names. A
// layout from the environment takes its variant from the environment too.
KeyboardLayoutNames applyLayoutEnvironment(KeyboardLayoutNames names,
                                           const std::function<const char*(const char*)>& getEnv);

// The system's layout names: the settings file, then the environment.
KeyboardLayoutNames systemLayoutNames();

// Owners of the layout compiler's objects.
struct XkbContextRelease {
  void operator()(xkb_context* context) const { xkb_context_unref(context); }
};
struct XkbKeymapRelease {
  void operator()(xkb_keymap* keymap) const { xkb_keymap_unref(keymap); }
};
struct XkbStateRelease {
  void operator()(xkb_state* state) const { xkb_state_unref(state); }
};
using XkbKeymapPtr = std::unique_ptr<xkb_keymap, XkbKeymapRelease>;
using XkbStatePtr = std::unique_ptr<xkb_state, XkbStateRelease>;

// Compiles the layout from the system's layout files; null when a name is unknown.
XkbKeymapPtr compileKeymap(const KeyboardLayoutNames& names);

// The lock keys the compositor reports as on; they change what a key types.
struct KeyLocks {
  bool capsLock = false;
  bool numLock = false;
};

// What the virtual keyboard presses on one layout: the keysymScan answer (evdev key code in the low
// byte, KEY_STATE_* in the high byte) of every text keysym (isTextKeysym) the layout has, and the keys
// that give Shift and AltGr (0 when the layout has none).
struct KeyLayoutTable {
  std::unordered_map<std::uint32_t, std::int16_t> scanByKeysym;
  int shiftKey = 0;
  int altGrKey = 0;
};

// Finds, in the first group of the layout and with the given locks on, the key and the fewest of Shift
// and AltGr that type each text keysym; among equals the lowest key code wins. Characters reached
// only through a dead key have no key.
KeyLayoutTable buildKeyLayoutTable(xkb_keymap* keymap, KeyLocks locks);

// The table's answer for a keysym, KEY_SCAN_NONE when no key types it.
std::int16_t layoutKeysymScan(const KeyLayoutTable& table, std::uint32_t keysym);

// The names as one line for messages, e.g. "de (nodeadkeys)".
std::string describeLayout(const KeyboardLayoutNames& names);

#endif  // QUARNEL_APP_UINPUT_KEYBOARD_LAYOUT_H_
