// Keyboard port on X11: key lookup in the live keymap and key events through the XTest extension, on
// a display connection of the keyboard's own.
#include "app/keyboard_port.h"
#include "app/text_keysyms.h"
#include "app/x11/window_properties.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include <unistd.h>

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <xkbcommon/xkbcommon.h>

namespace {

// How long the codes bound for a line keep their keysyms after its last key. An application translates
// a key code when it reads the event, with the keymap it fetches then; unbound too early, the line's
// last characters would reach it as nothing.
constexpr std::chrono::milliseconds X11_BOUND_KEYS_SETTLE_TIME{200};

// A spare key code bound to a keysym for the current line.
struct BoundKey {
  KeyCode code = 0;
  KeySym keysym = NoSymbol;
  XkbSymMapRec before{};  // the code's entry before binding: no keysyms
};

struct X11Keyboard;
void releaseKeysymsX11(X11Keyboard& keyboard);

struct X11Keyboard {
  Display* display = nullptr;
  XkbDescPtr keymap = nullptr;
  bool keymapStale = true;  // re-read before the next lookup, so each line sees the layout in use
  KeyCode shiftKey = 0;
  KeyCode altGrKey = 0;
  unsigned altGrMask = 0;  // the real modifier that selects a key's third level
  unsigned altMask = 0;    // the real modifiers of the Alt and Meta keys
  unsigned superMask = 0;  // the real modifiers of the Super keys
  std::vector<BoundKey> bound;
  bool typedSinceBind = false;
  Atom wmPidAtom = None;
  Atom wmCheckAtom = None;
  Atom activeWindowAtom = None;

  // A process killed between bindKeysyms and releaseKeysyms (a crash, SIGKILL) cannot restore the
  // codes: they keep their keysyms until the keymap is next loaded (a layout switch, the next login).
  // They were spare, so no key of the layout changes; only a key that sends one of those codes, if the
  // keyboard has such a key, types the character bound to it.
  ~X11Keyboard() {
    if (display != nullptr) releaseKeysymsX11(*this);
    if (keymap != nullptr) XkbFreeKeyboard(keymap, 0, True);
    if (display != nullptr) XCloseDisplay(display);
  }
};

// Xlib's default error handler ends the program. While the keyboard asks about windows that may be
// gone, or changes the keymap, the errors of its own connection are counted instead; those of other
// connections (the window's) still go to the handler installed before. One trap at a time.
std::mutex errorTrapMutex;
std::atomic<Display*> trappedDisplay{nullptr};
std::atomic<int> trappedErrors{0};
std::atomic<XErrorHandler> handlerBeforeTrap{nullptr};

int countTrappedError(Display* display, XErrorEvent* error) {
  if (display == trappedDisplay.load()) {
    ++trappedErrors;
    return 0;
  }
  const XErrorHandler before = handlerBeforeTrap.load();
  return before != nullptr ? before(display, error) : 0;
}

struct XErrorTrap {
  explicit XErrorTrap(Display* trapped) : display(trapped), lock(errorTrapMutex) {
    XSync(display, False);
    trappedErrors = 0;
    trappedDisplay = display;
    handlerBeforeTrap = XSetErrorHandler(countTrappedError);
  }
  ~XErrorTrap() {
    XSync(display, False);
    XSetErrorHandler(handlerBeforeTrap.load());
    trappedDisplay = nullptr;
  }
  XErrorTrap(const XErrorTrap&) = delete;
  XErrorTrap& operator=(const XErrorTrap&) = delete;
  // Whether a request sent since the trap was set failed.
  bool caught() {
    XSync(display, False);
    return trappedErrors != 0;
  }

  Display* display;
  std::lock_guard<std::mutex> lock;
};

// The group a key uses when the keyboard is in group, following the key's out-of-range rule.
int effectiveGroup(XkbDescPtr keymap, KeyCode key, int group) {
  const int groups = XkbKeyNumGroups(keymap, key);
  if (groups == 0) return -1;
  if (group < groups) return group;
  const unsigned char info = XkbKeyGroupInfo(keymap, key);
  switch (XkbOutOfRangeGroupAction(info)) {
    case XkbClampIntoRange: return groups - 1;
    case XkbRedirectIntoRange: {
      const int redirected = XkbOutOfRangeGroupNumber(info);
      return redirected < groups ? redirected : 0;
    }
    default: return group % groups;
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

// Finds the keys that press Shift and AltGr (the key whose first level is ISO_Level3_Shift), and the
// real modifiers the Alt and Super keys set, which differ between keymaps.
void findModifierKeys(X11Keyboard& keyboard) {
  XkbDescPtr keymap = keyboard.keymap;
  keyboard.shiftKey = 0;
  keyboard.altGrKey = 0;
  keyboard.altGrMask = 0;
  keyboard.altMask = 0;
  keyboard.superMask = 0;
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
    const KeySym* syms = XkbKeySymsPtr(keymap, key);
    for (int s = 0; s < XkbKeyNumSyms(keymap, key); ++s) {
      if (syms[s] == XK_Alt_L || syms[s] == XK_Alt_R || syms[s] == XK_Meta_L || syms[s] == XK_Meta_R) {
        keyboard.altMask |= modifiers;
      } else if (syms[s] == XK_Super_L || syms[s] == XK_Super_R) {
        keyboard.superMask |= modifiers;
      }
    }
  }
}

bool refreshKeymap(X11Keyboard& keyboard) {
  if (!keyboard.keymapStale && keyboard.keymap != nullptr) return true;
  if (keyboard.keymap != nullptr) XkbFreeKeyboard(keyboard.keymap, 0, True);
  keyboard.keymap = XkbGetMap(keyboard.display, XkbKeyTypesMask | XkbKeySymsMask | XkbModifierMapMask, XkbUseCoreKbd);
  if (keyboard.keymap == nullptr) return false;
  findModifierKeys(keyboard);
  keyboard.keymapStale = false;
  return true;
}

// keysymScan's answer for the keysym in the keymap read last, with the keyboard in state.
std::int16_t scanKeymap(const X11Keyboard& keyboard, KeySym wanted, const XkbStateRec& state) {
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
      if (bestKey < 0 ||
          __builtin_popcount(static_cast<unsigned>(mask)) < __builtin_popcount(static_cast<unsigned>(bestMask))) {
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

std::int16_t keysymScanX11(X11Keyboard& keyboard, std::uint32_t keysym) {
  const KeySym wanted = keysym;
  if (wanted == NoSymbol || !refreshKeymap(keyboard)) return KEY_SCAN_NONE;
  XkbStateRec state{};
  if (XkbGetState(keyboard.display, XkbUseCoreKbd, &state) != Success) return KEY_SCAN_NONE;
  return scanKeymap(keyboard, wanted, state);
}

// The keysyms of a line that no key gives, each once. A character has up to two keysyms (a named one
// and its Unicode one): when a key gives either, the character needs no binding, and else only the first
// of them in the line is bound. Keysyms of no character are left out: the server would give a code bound
// to one such as Caps_Lock its action too.
std::vector<KeySym> keysymsWithoutKey(const X11Keyboard& keyboard, const std::vector<std::uint32_t>& keysyms,
                                      const XkbStateRec& state) {
  std::vector<KeySym> missing;
  std::vector<char32_t> missingCharacters;
  for (const std::uint32_t keysym : keysyms) {
    if (!isTextKeysym(keysym)) continue;
    if (std::find(missing.begin(), missing.end(), keysym) != missing.end()) continue;
    const char32_t ch = xkb_keysym_to_utf32(keysym);
    if (ch != 0 && std::find(missingCharacters.begin(), missingCharacters.end(), ch) != missingCharacters.end()) {
      continue;
    }
    bool onKey = scanKeymap(keyboard, keysym, state) != KEY_SCAN_NONE;
    const CharacterKeysyms twins = keysymsForCharacter(ch);
    for (int k = 0; k < twins.count && ch != 0 && !onKey; ++k) {
      onKey = scanKeymap(keyboard, twins.keysyms[k], state) != KEY_SCAN_NONE;
    }
    if (onKey) continue;
    missing.push_back(keysym);
    if (ch != 0) missingCharacters.push_back(ch);
  }
  return missing;
}

// Key codes without any keysym and outside the modifier map, in ascending order. Code 255 is left out:
// keysymScan's answer cannot carry it.
std::vector<KeyCode> spareCodes(XkbDescPtr keymap) {
  std::vector<KeyCode> spare;
  for (int code = keymap->min_key_code; code <= keymap->max_key_code && code < 0xFF; ++code) {
    const auto key = static_cast<KeyCode>(code);
    if (keymap->map->modmap[key] != 0) continue;
    const KeySym* syms = XkbKeySymsPtr(keymap, key);
    const int count = XkbKeyNumSyms(keymap, key);
    if (std::all_of(syms, syms + count, [](KeySym sym) { return sym == NoSymbol; })) spare.push_back(key);
  }
  return spare;
}

// Whether a code's entry is still the binding made for keysym.
bool holdsBinding(XkbDescPtr keymap, KeyCode code, KeySym keysym) {
  if (XkbKeyNumGroups(keymap, code) != 1 || XkbKeyGroupsWidth(keymap, code) != 2) return false;
  if (XkbKeyKeyTypeIndex(keymap, code, 0) != XkbAlphabeticIndex) return false;
  const KeySym* syms = XkbKeySymsPtr(keymap, code);
  return syms[0] == keysym && syms[1] == keysym;
}

// Sends the key symbol entries of codes first..last of the keymap in one request. The entries between
// that are not ours go back as they were read, under the same server grab.
void sendKeySyms(Display* display, XkbDescPtr keymap, KeyCode first, KeyCode last) {
  XkbMapChangesRec changes{};
  changes.changed = XkbKeySymsMask;
  changes.first_key_sym = first;
  changes.num_key_syms = static_cast<unsigned char>(last - first + 1);
  XkbChangeMap(display, keymap, &changes);
}

// The keysyms of a line that no key of the keymap, read afresh, gives now.
std::vector<KeySym> keysymsWithoutKeyNow(X11Keyboard& keyboard, const std::vector<std::uint32_t>& keysyms) {
  keyboard.keymapStale = true;
  XkbStateRec state{};
  if (!refreshKeymap(keyboard) || XkbGetState(keyboard.display, XkbUseCoreKbd, &state) != Success) return {};
  return keysymsWithoutKey(keyboard, keysyms, state);
}

// Binds spare codes of the keymap read last to the missing keysyms, as many as there are codes, in one
// request.
void bindSpareCodes(X11Keyboard& keyboard, const std::vector<KeySym>& missing) {
  XkbDescPtr keymap = keyboard.keymap;
  const std::vector<KeyCode> spare = spareCodes(keymap);
  const std::size_t count = std::min(missing.size(), spare.size());
  if (count == 0) return;
  // The closest run of spare codes keeps the request's range, and the entries resent in it, small.
  std::size_t start = 0;
  for (std::size_t s = 1; s + count <= spare.size(); ++s) {
    if (spare[s + count - 1] - spare[s] < spare[start + count - 1] - spare[start]) start = s;
  }
  for (std::size_t b = 0; b < count; ++b) {
    const KeyCode code = spare[start + b];
    BoundKey bound{code, missing[b], keymap->map->key_sym_map[code]};
    // Both levels of the alphabetic type carry the keysym: Shift and Caps Lock are consumed, so no
    // application changes the character's case.
    KeySym* syms = XkbResizeKeySyms(keymap, code, 2);
    if (syms == nullptr) break;
    syms[0] = syms[1] = bound.keysym;
    XkbSymMapRec& entry = keymap->map->key_sym_map[code];
    entry.kt_index[0] = XkbAlphabeticIndex;
    entry.group_info = XkbSetGroupInfo(1, XkbWrapIntoRange, 0);
    entry.width = 2;
    keyboard.bound.push_back(bound);
  }
  if (!keyboard.bound.empty()) {
    sendKeySyms(keyboard.display, keymap, keyboard.bound.front().code, keyboard.bound.back().code);
  }
}

// A line that needs no binding is settled without holding the server. Otherwise the change happens
// under a server grab: no other client can bind a code between our reading of the keymap and our
// change, nor change one back between our check and our restore.
void bindKeysymsX11(X11Keyboard& keyboard, const std::vector<std::uint32_t>& keysyms) {
  releaseKeysymsX11(keyboard);
  keyboard.typedSinceBind = false;
  if (keysymsWithoutKeyNow(keyboard, keysyms).empty()) return;
  XErrorTrap trap(keyboard.display);
  XGrabServer(keyboard.display);
  const std::vector<KeySym> missing = keysymsWithoutKeyNow(keyboard, keysyms);
  if (!missing.empty()) bindSpareCodes(keyboard, missing);
  XUngrabServer(keyboard.display);
  if (trap.caught()) keyboard.bound.clear();
  keyboard.keymapStale = true;
}

// Gives the bound codes back their empty entries, except a code another client has changed since.
void releaseKeysymsX11(X11Keyboard& keyboard) {
  if (keyboard.bound.empty()) return;
  if (keyboard.typedSinceBind) std::this_thread::sleep_for(X11_BOUND_KEYS_SETTLE_TIME);
  XErrorTrap trap(keyboard.display);
  XGrabServer(keyboard.display);
  keyboard.keymapStale = true;
  if (refreshKeymap(keyboard)) {
    XkbDescPtr keymap = keyboard.keymap;
    int first = -1;
    int last = -1;
    for (const BoundKey& bound : keyboard.bound) {
      if (bound.code < keymap->min_key_code || bound.code > keymap->max_key_code) continue;
      if (!holdsBinding(keymap, bound.code, bound.keysym)) continue;
      XkbResizeKeySyms(keymap, bound.code, 0);
      XkbSymMapRec& entry = keymap->map->key_sym_map[bound.code];
      std::copy(std::begin(bound.before.kt_index), std::end(bound.before.kt_index), std::begin(entry.kt_index));
      entry.group_info = bound.before.group_info;
      entry.width = bound.before.width;
      if (first < 0) first = bound.code;
      last = bound.code;
    }
    if (first >= 0) sendKeySyms(keyboard.display, keymap, static_cast<KeyCode>(first), static_cast<KeyCode>(last));
  }
  XUngrabServer(keyboard.display);
  keyboard.bound.clear();
  keyboard.typedSinceBind = false;
  keyboard.keymapStale = true;
}

// The modifier keys held down: the pressed and latched modifiers of the core keyboard. Locks are not
// held, so Caps Lock and Num Lock do not count.
unsigned heldModifiersX11(X11Keyboard& keyboard) {
  if (!refreshKeymap(keyboard)) return 0;
  XkbStateRec state{};
  if (XkbGetState(keyboard.display, XkbUseCoreKbd, &state) != Success) return 0;
  const unsigned held = static_cast<unsigned>(state.base_mods | state.latched_mods);
  unsigned bits = 0;
  if ((held & ShiftMask) != 0) bits |= KEY_HELD_SHIFT;
  if ((held & ControlMask) != 0) bits |= KEY_HELD_CONTROL;
  if ((held & keyboard.altMask) != 0) bits |= KEY_HELD_ALT;
  if ((held & keyboard.superMask) != 0) bits |= KEY_HELD_SUPER;
  if ((held & keyboard.altGrMask) != 0) bits |= KEY_HELD_ALTGR;
  return bits;
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
  keyboard.typedSinceBind = true;
}

void flushKeysX11(X11Keyboard& keyboard) {
  // A round trip makes sure the server has taken every event of the line before the beep.
  XSync(keyboard.display, False);
  keyboard.keymapStale = true;
}

// The one 32-bit value of a window's property of the given type; nothing when the window has no such
// property or is gone (under an error trap).
std::optional<unsigned long> propertyValue(Display* display, Window window, Atom property, Atom type) {
  const std::vector<unsigned long> items = windowLongProperty(display, window, property, type, 1);
  if (items.size() != 1) return std::nullopt;
  return items[0];
}

// Whether typed keys sent to window reach an application other than this one: it exists, is not the
// root, and neither it nor any of its ancestors carries this process's id.
bool isOtherApplication(const X11Keyboard& keyboard, Window window) {
  Display* display = keyboard.display;
  if (window == None || window == DefaultRootWindow(display)) return false;
  const auto self = static_cast<unsigned long>(getpid());
  while (true) {
    if (propertyValue(display, window, keyboard.wmPidAtom, XA_CARDINAL) == self) return false;
    Window root = None;
    Window parent = None;
    Window* children = nullptr;
    unsigned childCount = 0;
    if (XQueryTree(display, window, &root, &parent, &children, &childCount) == 0) return false;  // gone
    if (children != nullptr) XFree(children);
    if (parent == root || parent == None) return true;
    window = parent;
  }
}

// Whether an EWMH window manager runs: the root names a check window, and that window, still alive,
// names itself. A window manager that died leaves the root's property naming a window that is gone.
bool hasEwmhWindowManager(const X11Keyboard& keyboard, Window root) {
  const auto check = propertyValue(keyboard.display, root, keyboard.wmCheckAtom, XA_WINDOW);
  if (!check || *check == None) return false;
  return propertyValue(keyboard.display, *check, keyboard.wmCheckAtom, XA_WINDOW) == check;
}

// The deepest window under the pointer, or None when it is over no window.
Window windowUnderPointer(Display* display, Window root) {
  Window under = None;
  for (Window window = root;;) {
    Window pointerRoot = None;
    Window child = None;
    int rootX = 0;
    int rootY = 0;
    int x = 0;
    int y = 0;
    unsigned mask = 0;
    if (!XQueryPointer(display, window, &pointerRoot, &child, &rootX, &rootY, &x, &y, &mask)) return None;
    if (child == None) return under;
    under = child;
    window = child;
  }
}

// Whether some application other than this one would receive typed keys now. An EWMH window manager
// says which window is active; without one, the X focus tells, and under PointerRoot the window under
// the pointer.
bool hasFocusTargetX11(X11Keyboard& keyboard) {
  Display* display = keyboard.display;
  XErrorTrap trap(display);
  const Window root = DefaultRootWindow(display);
  if (hasEwmhWindowManager(keyboard, root)) {
    const auto active = propertyValue(display, root, keyboard.activeWindowAtom, XA_WINDOW);
    if (active) return isOtherApplication(keyboard, *active);
  }
  Window focus = None;
  int revert = 0;
  XGetInputFocus(display, &focus, &revert);
  if (focus == PointerRoot) focus = windowUnderPointer(display, root);
  return isOtherApplication(keyboard, focus);
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
  keyboard->wmPidAtom = XInternAtom(keyboard->display, "_NET_WM_PID", False);
  keyboard->wmCheckAtom = XInternAtom(keyboard->display, "_NET_SUPPORTING_WM_CHECK", False);
  keyboard->activeWindowAtom = XInternAtom(keyboard->display, "_NET_ACTIVE_WINDOW", False);
  if (opened != nullptr) *opened = true;
  KeyboardPort port;
  port.keysymScan = [keyboard](std::uint32_t keysym) { return keysymScanX11(*keyboard, keysym); };
  port.keyEvent = [keyboard](int key, unsigned flags) { keyEventX11(*keyboard, key, flags); };
  port.flushKeys = [keyboard] { flushKeysX11(*keyboard); };
  port.hasFocusTarget = [keyboard] { return hasFocusTargetX11(*keyboard); };
  port.bindKeysyms = [keyboard](const std::vector<std::uint32_t>& keysyms) { bindKeysymsX11(*keyboard, keysyms); };
  port.releaseKeysyms = [keyboard] { releaseKeysymsX11(*keyboard); };
  port.heldModifiers = [keyboard] { return heldModifiersX11(*keyboard); };
  return port;
}
