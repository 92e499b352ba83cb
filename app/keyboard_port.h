// Keyboard port: the key lookup and key events the wedge types with. The Linux implementations send
// the events through the X server's test extension or a uinput virtual keyboard; tests put a fake
// layout behind it.
#ifndef QUARNEL_APP_KEYBOARD_PORT_H_
#define QUARNEL_APP_KEYBOARD_PORT_H_

#include <cstdint>
#include <functional>
#include <vector>

// keysymScan's answer: the key code in the low byte and the modifier state in the high byte; 0xFF in
// either byte (as in KEY_SCAN_NONE) means that no key of the active layout produces the keysym.
constexpr std::int16_t KEY_SCAN_NONE = -1;
constexpr int KEY_STATE_SHIFT = 1;
constexpr int KEY_STATE_CTRL = 2;
constexpr int KEY_STATE_ALT = 4;
// The third and fourth levels of a key, reached with AltGr, are reported as Ctrl and Alt together.
constexpr int KEY_STATE_ALTGR = KEY_STATE_CTRL | KEY_STATE_ALT;

// Modifier keys for keyEvent, outside the 0..255 range of key codes.
constexpr int KEY_SHIFT = 0x100;
constexpr int KEY_ALTGR = 0x101;

// keyEvent flag: release the key instead of pressing it.
constexpr unsigned KEY_EVENT_UP = 2;

// heldModifiers bits: modifier keys the user is holding down. Locks (Caps Lock, Num Lock) are not held.
constexpr unsigned KEY_HELD_SHIFT = 1;
constexpr unsigned KEY_HELD_CONTROL = 2;
constexpr unsigned KEY_HELD_ALT = 4;
constexpr unsigned KEY_HELD_SUPER = 8;
constexpr unsigned KEY_HELD_ALTGR = 16;

struct KeyboardPort {
  // The key and modifier state that produce the keysym (text_keysyms.h) on the active layout, or
  // KEY_SCAN_NONE.
  std::function<std::int16_t(std::uint32_t keysym)> keysymScan;
  // Presses or releases a key code from keysymScan, KEY_SHIFT or KEY_ALTGR.
  std::function<void(int key, unsigned flags)> keyEvent;
  // Delivers the events sent so far, in order; called once at the end of each typed line.
  std::function<void()> flushKeys;
  // Whether some window would receive typed keys now; unset: assumed so.
  std::function<bool()> hasFocusTarget;
  // Makes the keysyms of one line typeable where the layer can, before the line's first keysymScan: the
  // X11 layer binds spare key codes of its keymap to the keysyms no key gives, in one keymap change.
  // Unset: the layout stays as it is.
  std::function<void(const std::vector<std::uint32_t>& keysyms)> bindKeysyms;
  // Undoes bindKeysyms once the line's keys are flushed. Unset: nothing to undo.
  std::function<void()> releaseKeysyms;
  // The modifier keys held down now (KEY_HELD_* bits). Unset: the layer cannot see them.
  std::function<unsigned()> heldModifiers;
  // False when the keyboard could not be set up and every key is lost; the window says so.
  bool canType = true;
};

// Types through the X display named by DISPLAY on a connection of its own. Without a display or the
// test extension every call is a no-op and one line on standard error says so; *opened tells which.
KeyboardPort openX11Keyboard(bool* opened = nullptr);

// The keyboard the program types with: the uinput virtual keyboard (uinput/keyboard_uinput.h) in a Wayland
// session, the X display otherwise, as linux/keyboard_choice.h decides. One line on standard error says
// which, or why nothing can type.
KeyboardPort openKeyboard();

// A keyboard without keys: every lookup finds none and nothing is sent.
KeyboardPort silentKeyboard();

#endif  // QUARNEL_APP_KEYBOARD_PORT_H_
