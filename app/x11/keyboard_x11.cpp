// Keyboard port on X11: key lookup in the live keymap and key events through the XTest extension, on
// a display connection of the keyboard's own.
#include "app/keyboard_port.h"
#include "app/text_keysyms.h"

#include <cstdio>
#include <memory>

#include <unistd.h>

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace {

struct X11Keyboard {
  Display* display = nullptr;
  XkbDescPtr keymap = nullptr;
  bool keymapStale = true;   // re-read before the next lookup, so each line sees the layout in use
  KeyCode shiftKey = 0;
  KeyCode altGrKey = 0;
  unsigned altGrMask = 0;    // the real modifier that selects a key's third level

  ~X11Keyboard() {
    if (keymap != nullptr) XkbFreeKeyboard(keymap, 0, True);
    if (display != nullptr) XCloseDisplay(display);
  }
};

// The group a key uses when the keyboard is in group, following the key's out-of-range rule.
int effectiveGroup(XkbDescPtr keymap, KeyCode key, int group) {
  const int groups = XkbKeyNumGroups(keymap, key);
  if (groups == 0) return -1;
  if (group < groups) return group;
  const unsigned char info = XkbKeyGroupInfo(keymap, key);
  switch (XkbOutOfRangeGroupAction(info)) {
    case XkbClampIntoRange:
      return groups - 1;
    case XkbRedirectIntoRange: {
      const int redirected = XkbOutOfRangeGroupNumber(info);
      return redirected < groups ? redirected : 0;
    }
    default:
      return group % groups;
  }
}

// The level a key type gives for a modifier state.
int levelFor(const XkbKeyTypeRec& type, unsigned modifiers) {
  const unsigned relevant = modifiers & type.mods.mask;
  for (int e = 0; e < type.map_count; ++e) {
    const XkbKTMapEntryRec& entry = type.map[e];
    if (entry.active && entry.mods.mask == relevant) return entry.level;
  }
  return 0;
}

// The fewest of Shift and AltGr that, together with the modifiers locked on the keyboard (Caps Lock,
// Num Lock), select level of a key type; -1 when no combination does.
int pressedMaskForLevel(const XkbKeyTypeRec& type, int level, unsigned shiftMask, unsigned altGrMask,
                        unsigned lockedMask) {
  // A modifier the keyboard has no key for is 0 here, which only repeats a cheaper candidate.
  const unsigned candidates[] = {0, shiftMask, altGrMask, shiftMask | altGrMask};
  for (unsigned pressed : candidates) {
    if (levelFor(type, pressed | lockedMask) == level) return static_cast<int>(pressed);
  }
  return -1;
}

// Finds the keys that press Shift and AltGr (the key whose first level is ISO_Level3_Shift).
void findModifierKeys(X11Keyboard& keyboard) {
  XkbDescPtr keymap = keyboard.keymap;
  keyboard.shiftKey = 0;
  keyboard.altGrKey = 0;
  keyboard.altGrMask = 0;
  for (int code = keymap->min_key_code; code <= keymap->max_key_code; ++code) {
    const auto key = static_cast<KeyCode>(code);
    if (XkbKeyNumGroups(keymap, key) == 0) continue;
    const KeySym first = XkbKeySymEntry(keymap, key, 0, 0);
    const unsigned modifiers = keymap->map->modmap[key];
    if (first == XK_Shift_L && (modifiers & ShiftMask) != 0 && keyboard.shiftKey == 0) {
      keyboard.shiftKey = key;
    } else if (first == XK_ISO_Level3_Shift && modifiers != 0 && keyboard.altGrKey == 0) {
      keyboard.altGrKey = key;
      keyboard.altGrMask = modifiers;
    }
  }
}

bool refreshKeymap(X11Keyboard& keyboard) {
  if (!keyboard.keymapStale && keyboard.keymap != nullptr) return true;
  if (keyboard.keymap != nullptr) XkbFreeKeyboard(keyboard.keymap, 0, True);
  keyboard.keymap =
      XkbGetMap(keyboard.display, XkbKeyTypesMask | XkbKeySymsMask | XkbModifierMapMask, XkbUseCoreKbd);
  if (keyboard.keymap == nullptr) return false;
  findModifierKeys(keyboard);
  keyboard.keymapStale = false;
  return true;
}

std::int16_t keysymScanX11(X11Keyboard& keyboard, std::uint32_t keysym) {
  const KeySym wanted = keysym;
  if (wanted == NoSymbol || !refreshKeymap(keyboard)) return KEY_SCAN_NONE;
  XkbStateRec state{};
  if (XkbGetState(keyboard.display, XkbUseCoreKbd, &state) != Success) return KEY_SCAN_NONE;

  XkbDescPtr keymap = keyboard.keymap;
  const unsigned shiftMask = keyboard.shiftKey != 0 ? ShiftMask : 0;
  const unsigned altGrMask = keyboard.altGrKey != 0 ? keyboard.altGrMask : 0;
  int bestKey = -1;
  int bestMask = 0;
  // Key code 255 cannot be told apart from "no key" in a keysymScan answer, so it is never used.
  for (int code = keymap->min_key_code; code <= keymap->max_key_code && code < 0xFF; ++code) {
    const auto key = static_cast<KeyCode>(code);
    const int group = effectiveGroup(keymap, key, state.group);
    if (group < 0) continue;
    const XkbKeyTypeRec& type = *XkbKeyKeyType(keymap, key, group);
    for (int level = 0; level < type.num_levels; ++level) {
      if (XkbKeySymEntry(keymap, key, level, group) != wanted) continue;
      const int mask = pressedMaskForLevel(type, level, shiftMask, altGrMask, state.locked_mods);
      if (mask < 0) continue;
      // The key that needs the fewest modifiers wins; among equals the lowest key code.
      if (bestKey < 0 || __builtin_popcount(static_cast<unsigned>(mask)) <
                             __builtin_popcount(static_cast<unsigned>(bestMask))) {
        bestKey = code;
        bestMask = mask;
      }
    }
  }
  if (bestKey < 0) return KEY_SCAN_NONE;
  int modifiers = 0;
  if ((bestMask & ShiftMask) != 0) modifiers |= KEY_STATE_SHIFT;
  if ((bestMask & static_cast<int>(keyboard.altGrMask)) != 0) modifiers |= KEY_STATE_ALTGR;
  return static_cast<std::int16_t>((modifiers << 8) | bestKey);
}

void keyEventX11(X11Keyboard& keyboard, int key, unsigned flags) {
  unsigned code = 0;
  if (key == KEY_SHIFT) {
    code = keyboard.shiftKey;
  } else if (key == KEY_ALTGR) {
    code = keyboard.altGrKey;
  } else if (key >= 8 && key < 0xFF) {
    code = static_cast<unsigned>(key);
  }
  if (code == 0) return;
  XTestFakeKeyEvent(keyboard.display, code, (flags & KEY_EVENT_UP) != 0 ? False : True, CurrentTime);
}

void flushKeysX11(X11Keyboard& keyboard) {
  // A round trip makes sure the server has taken every event of the line before the beep.
  XSync(keyboard.display, False);
  keyboard.keymapStale = true;
}

// The process id a window's _NET_WM_PID names, or 0.
unsigned long windowPid(Display* display, Window window) {
  const Atom pidAtom = XInternAtom(display, "_NET_WM_PID", True);
  if (pidAtom == None) return 0;
  Atom type = None;
  int format = 0;
  unsigned long count = 0;
  unsigned long after = 0;
  unsigned char* data = nullptr;
  unsigned long pid = 0;
  if (XGetWindowProperty(display, window, pidAtom, 0, 1, False, XA_CARDINAL, &type, &format, &count, &after,
                         &data) == Success &&
      data != nullptr && format == 32 && count == 1) {
    pid = *reinterpret_cast<unsigned long*>(data);
  }
  if (data != nullptr) XFree(data);
  return pid;
}

// Whether typed keys reach a window other than our own: the focus is set, and neither the focused
// window nor any of its ancestors belongs to this process.
bool hasFocusTargetX11(X11Keyboard& keyboard) {
  Window focus = None;
  int revert = 0;
  XGetInputFocus(keyboard.display, &focus, &revert);
  if (focus == None) return false;
  if (focus == PointerRoot) return true;
  const auto self = static_cast<unsigned long>(getpid());
  for (Window window = focus; window != None;) {
    if (windowPid(keyboard.display, window) == self) return false;
    Window root = None;
    Window parent = None;
    Window* children = nullptr;
    unsigned childCount = 0;
    if (XQueryTree(keyboard.display, window, &root, &parent, &children, &childCount) == 0) break;
    if (children != nullptr) XFree(children);
    if (parent == root) break;
    window = parent;
  }
  return true;
}

}  // namespace

KeyboardPort openX11Keyboard(bool* opened) {
  if (opened != nullptr) *opened = false;
  auto keyboard = std::make_shared<X11Keyboard>();
  int xkbMajor = XkbMajorVersion;
  int xkbMinor = XkbMinorVersion;
  int reason = 0;
  keyboard->display = XkbOpenDisplay(nullptr, nullptr, nullptr, &xkbMajor, &xkbMinor, &reason);
  if (keyboard->display == nullptr) {
    std::fprintf(stderr, "quarnel: cannot open the X display (%s); read symbols will not be typed\n",
                 reason == XkbOD_ConnectionRefused ? "no display" : "no keyboard extension");
    return silentKeyboard();
  }
  int event = 0;
  int error = 0;
  int major = 0;
  int minor = 0;
  if (!XTestQueryExtension(keyboard->display, &event, &error, &major, &minor)) {
    std::fprintf(stderr, "quarnel: the X display lacks the XTEST extension; read symbols will not be typed\n");
    return silentKeyboard();
  }
  if (opened != nullptr) *opened = true;
  KeyboardPort port;
  port.keysymScan = [keyboard](std::uint32_t keysym) { return keysymScanX11(*keyboard, keysym); };
  port.keyEvent = [keyboard](int key, unsigned flags) { keyEventX11(*keyboard, key, flags); };
  port.flushKeys = [keyboard] { flushKeysX11(*keyboard); };
  port.hasFocusTarget = [keyboard] { return hasFocusTargetX11(*keyboard); };
  return port;
}
