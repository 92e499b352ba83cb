// The X11 keyboard layer types into a window of the test's own that holds the focus and records the
// characters it receives. Needs an X server with XTEST (the test script runs one).
#include "app/clock_port.h"
#include "app/keyboard_port.h"
#include "app/keyboard_wedge.h"
#include "app/text_keysyms.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <unistd.h>

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include "tests/app/key_recorder.h"

namespace {

using testx11::KeyRecorder;

// What the focused window received next: a line up to and including Return ("\n"), or what came before
// two seconds passed without one.
std::string readLine(KeyRecorder& receiver) { return receiver.nextLine(std::chrono::seconds(2)); }

// Gives an unused key code four levels of keysyms (plain, Shift, AltGr, Shift+AltGr) for the length of
// a test, so that the characters exist whatever the server's default layout is.
class ExtraKey {
 public:
  ExtraKey(Display* display, const std::array<KeySym, 4>& levels) : display_(display) {
    XkbDescPtr keymap = XkbGetMap(display_, XkbAllClientInfoMask, XkbUseCoreKbd);
    if (keymap == nullptr) return;
    XkbGetNames(display_, XkbKeyTypeNamesMask, keymap);
    int fourLevel = -1;
    for (int t = 0; t < keymap->map->num_types; ++t) {
      char* name = XGetAtomName(display_, keymap->map->types[t].name);
      if (name != nullptr && std::string(name) == "FOUR_LEVEL") fourLevel = t;
      XFree(name);
    }
    for (int code = keymap->max_key_code - 1; code >= keymap->min_key_code && code_ == 0; --code) {
      if (XkbKeyNumGroups(keymap, code) == 0) code_ = code;
    }
    if (fourLevel >= 0 && code_ != 0) {
      XkbMapChangesRec changes{};
      int types[XkbNumKbdGroups] = {fourLevel};
      XkbChangeTypesOfKey(keymap, code_, 1, XkbGroup1Mask, types, &changes);
      KeySym* syms = XkbResizeKeySyms(keymap, code_, 4);
      for (std::size_t level = 0; level < levels.size(); ++level) syms[level] = levels[level];
      changes.changed |= XkbKeySymsMask;
      changes.first_key_sym = static_cast<KeyCode>(code_);
      changes.num_key_syms = 1;
      made_ = XkbChangeMap(display_, keymap, &changes) == True;
      XSync(display_, False);
    }
    XkbFreeKeyboard(keymap, 0, True);
  }
  ~ExtraKey() {
    if (!made_) return;
    KeySym none = NoSymbol;
    XChangeKeyboardMapping(display_, code_, 1, &none, 1);
    XSync(display_, False);
  }
  bool made() const { return made_; }

 private:
  Display* display_;
  int code_ = 0;
  bool made_ = false;
};

class X11Keyboard : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "no X display";
    display_ = XOpenDisplay(nullptr);
    ASSERT_NE(display_, nullptr);
  }
  void TearDown() override {
    if (display_ != nullptr) XCloseDisplay(display_);
  }
  Display* display_ = nullptr;
};

TEST_F(X11Keyboard, TypesALineExactlyIntoTheFocusedWindow) {
  // Latin-1 letters on the plain, Shift, AltGr and Shift+AltGr levels.
  ExtraKey extraKey(display_, {XK_udiaeresis, XK_Udiaeresis, XK_eacute, XK_Eacute});
  ASSERT_TRUE(extraKey.made());
  KeyRecorder receiver;
  const KeyboardPort keyboard = openX11Keyboard();

  struct Case {
    const char* name;
    std::string text;
  } cases[] = {
      {"letters, digits and punctuation", "Hello World 0123456789 !\"#$%&'()*+,-./:;<=>?@[\\]^_`{|}~"},
      {"Latin-1 letters on the plain, Shift, AltGr and Shift+AltGr levels", "\xFC\xDC\xE9\xC9 caf\xE9"},
      {"control bytes stay on one line, Tab kept", "a\tb\rc\nd\x1b"},
  };
  for (const Case& c : cases) {
    typeLine(keyboard, c.text.c_str());
    std::string expected;
    for (char ch : c.text) {
      if (ch == '\t' || static_cast<unsigned char>(ch) >= 0x20) expected += ch;
    }
    EXPECT_EQ(readLine(receiver), expected + "\n") << c.name;
  }
}

// A UTF-8 message types through the display's keymap: a named keysym (EuroSign, Aogonek) where X11 has
// one, a Unicode keysym where the layout carries that instead (Cyrillic here); a character on no key
// is skipped.
TEST_F(X11Keyboard, CharactersBeyondLatin1TypeByTheirKeysyms) {
  constexpr KeySym UNICODE_ZHE = 0x1000416;        // Ж
  constexpr KeySym UNICODE_SMALL_ZHE = 0x1000436;  // ж
  ExtraKey extraKey(display_, {XK_EuroSign, XK_Aogonek, UNICODE_SMALL_ZHE, UNICODE_ZHE});
  ASSERT_TRUE(extraKey.made());
  KeyRecorder receiver;
  const KeyboardPort keyboard = openX11Keyboard();
  Ecc200Meaning utf8;
  utf8.ecis = {{26, 0}};
  // "€ Ąж? Ж" with "?" as U+2603 (snowman), which no key has.
  const std::string bytes = "\xE2\x82\xAC \xC4\x84\xD0\xB6\xE2\x98\x83 \xD0\x96";
  const WedgeText text = wedgeText(bytes, utf8, WedgeSettings{});
  EXPECT_EQ(typeCharacters(keyboard, text.characters), 1u);
  EXPECT_EQ(receiver.nextKeysyms(std::chrono::seconds(2)),
            (std::vector<KeySym>{XK_EuroSign, XK_space, XK_Aogonek, UNICODE_SMALL_ZHE, XK_space, UNICODE_ZHE}));
}

TEST_F(X11Keyboard, CapsLockOnTheKeyboardDoesNotChangeWhatArrives) {
  KeyRecorder receiver;
  const KeyboardPort keyboard = openX11Keyboard();
  XkbLockModifiers(display_, XkbUseCoreKbd, LockMask, LockMask);
  XSync(display_, False);
  typeLine(keyboard, "Hello World 42");
  const std::string received = readLine(receiver);
  XkbLockModifiers(display_, XkbUseCoreKbd, LockMask, 0);
  XSync(display_, False);
  EXPECT_EQ(received, "Hello World 42\n");
}

TEST_F(X11Keyboard, CharactersTheLayoutCannotProduceAreSkipped) {
  KeyRecorder receiver;
  const KeyboardPort keyboard = openX11Keyboard();
  // U+00A4 (currency sign) and 0x85 (a C1 control) are on no key of the default layout.
  for (std::uint32_t keysym : {0xA4u, 0x85u}) EXPECT_EQ(keyboard.keysymScan(keysym), KEY_SCAN_NONE);
  typeLine(keyboard, "a\xA4" "b\x85" "c");
  EXPECT_EQ(readLine(receiver), "abc\n");
}

// The core keymap as any client reads it: each code's keysyms, from the lowest code to the highest.
struct CoreKeymap {
  int firstCode = 0;
  int perCode = 0;
  std::vector<KeySym> keysyms;

  // The keysyms of one code, without the NoSymbol padding.
  std::vector<KeySym> of(int code) const {
    const auto begin = keysyms.begin() + (code - firstCode) * perCode;
    std::vector<KeySym> syms(begin, begin + perCode);
    while (!syms.empty() && syms.back() == NoSymbol) syms.pop_back();
    return syms;
  }
  int lastCode() const { return firstCode + static_cast<int>(keysyms.size()) / perCode - 1; }
};

CoreKeymap coreKeymap(Display* display) {
  CoreKeymap keymap;
  int last = 0;
  XDisplayKeycodes(display, &keymap.firstCode, &last);
  KeySym* syms = XGetKeyboardMapping(display, static_cast<KeyCode>(keymap.firstCode), last - keymap.firstCode + 1,
                                     &keymap.perCode);
  keymap.keysyms.assign(syms, syms + (last - keymap.firstCode + 1) * keymap.perCode);
  XFree(syms);
  return keymap;
}

// The codes whose keysyms differ between two readings.
std::vector<int> changedCodes(const CoreKeymap& before, const CoreKeymap& after) {
  std::vector<int> changed;
  for (int code = before.firstCode; code <= before.lastCode(); ++code) {
    if (before.of(code) != after.of(code)) changed.push_back(code);
  }
  return changed;
}

void expectKeymapIs(Display* display, const CoreKeymap& before) {
  const CoreKeymap now = coreKeymap(display);
  EXPECT_EQ(changedCodes(before, now), std::vector<int>{});
  EXPECT_EQ(now.perCode, before.perCode);
  EXPECT_TRUE(now.keysyms == before.keysyms);
}

// Every keysym of a line's characters, both of a character that has two, and Return: what the wedge
// binds before it types the line.
std::vector<std::uint32_t> lineKeysyms(const std::u32string& text) {
  std::vector<std::uint32_t> keysyms;
  for (const char32_t ch : text) {
    const CharacterKeysyms forCharacter = keysymsForCharacter(ch);
    keysyms.insert(keysyms.end(), forCharacter.keysyms, forCharacter.keysyms + forCharacter.count);
  }
  keysyms.push_back(TEXT_KEYSYM_RETURN);
  return keysyms;
}

// The keysym each character arrives as: the first of its keysyms.
std::vector<KeySym> arrivingKeysyms(const std::u32string& text) {
  std::vector<KeySym> keysyms;
  for (const char32_t ch : text) keysyms.push_back(keysymsForCharacter(ch).keysyms[0]);
  return keysyms;
}

// Counts the keymap changes the server announces to its clients. The server sends a notice to each
// keyboard device, some twice, so the changes are told apart by the range of codes each covers.
class KeymapChangeWatcher {
 public:
  KeymapChangeWatcher() {
    display_ = XOpenDisplay(nullptr);
    int opcode = 0;
    int error = 0;
    int major = XkbMajorVersion;
    int minor = XkbMinorVersion;
    XkbQueryExtension(display_, &opcode, &eventBase_, &error, &major, &minor);
    XkbSelectEvents(display_, XkbUseCoreKbd, XkbMapNotifyMask, XkbMapNotifyMask);
    XSync(display_, False);
  }
  ~KeymapChangeWatcher() { XCloseDisplay(display_); }
  // Changes of key symbols announced since the last call, each covering a different range of codes.
  std::size_t changes() {
    XSync(display_, False);
    std::set<std::pair<int, int>> ranges;
    while (XPending(display_) > 0) {
      XEvent event;
      XNextEvent(display_, &event);
      if (event.type != eventBase_) continue;
      const XkbEvent& notice = reinterpret_cast<XkbEvent&>(event);
      if (notice.any.xkb_type != XkbMapNotify || (notice.map.changed & XkbKeySymsMask) == 0) continue;
      ranges.emplace(notice.map.first_key_sym, notice.map.num_key_syms);
    }
    return ranges.size();
  }

 private:
  Display* display_ = nullptr;
  int eventBase_ = 0;
};

// Characters no key of the server's default US layout gives type through spare codes bound for the
// line, in one keymap change each way, and the keymap is the same afterwards.
TEST_F(X11Keyboard, CharactersWithoutAKeyTypeThroughCodesBoundForTheLine) {
  KeyRecorder receiver;
  const KeyboardPort keyboard = openX11Keyboard();
  ASSERT_TRUE(keyboard.bindKeysyms && keyboard.releaseKeysyms);
  KeymapChangeWatcher watcher;
  struct Case {
    const char* name;
    std::u32string text;
    bool capsLock;
    std::size_t keymapChanges;  // each way
  } cases[] = {
      {"Latin-1 letters and a named keysym", U"Gr\u00FC\u00DFe \u20AC", false, 1},
      {"Cyrillic", U"\u041F\u0440\u0438\u0432\u0435\u0442", false, 1},
      {"CJK, on Unicode keysyms only", U"\u6F22\u5B57", false, 1},
      {"mixed, a character twice", U"\u00FC \u0416\u6F22 \u00FC\u0436", false, 1},
      {"Caps Lock leaves the bound letters' case alone", U"\u00FC\u0436 \u041F", true, 1},
      {"every character on a key: the keymap stays as it is", U"Hello, World!", false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.capsLock) XkbLockModifiers(display_, XkbUseCoreKbd, LockMask, LockMask);
    XSync(display_, False);
    const CoreKeymap before = coreKeymap(display_);
    watcher.changes();
    keyboard.bindKeysyms(lineKeysyms(c.text));
    EXPECT_EQ(watcher.changes(), c.keymapChanges);
    EXPECT_EQ(typeCharacters(keyboard, c.text), 0u);
    keyboard.releaseKeysyms();
    EXPECT_EQ(watcher.changes(), c.keymapChanges);
    EXPECT_EQ(receiver.nextKeysyms(std::chrono::seconds(2)), arrivingKeysyms(c.text));
    if (c.capsLock) XkbLockModifiers(display_, XkbUseCoreKbd, LockMask, 0);
    expectKeymapIs(display_, before);
  }
}

// What bindKeysyms binds: one code for each character no key gives, nothing for the rest.
TEST_F(X11Keyboard, BindsACodeOnlyForACharacterNoKeyGives) {
  constexpr KeySym UNICODE_ZHE = 0x1000416;
  constexpr KeySym UNICODE_SMALL_ZHE = 0x1000436;
  constexpr KeySym UNICODE_EURO = 0x10020AC;
  // The layout carries Ж and ж as Unicode keysyms, not as the named ones.
  ExtraKey extraKey(display_, {UNICODE_SMALL_ZHE, UNICODE_ZHE, XK_VoidSymbol, XK_VoidSymbol});
  ASSERT_TRUE(extraKey.made());
  const KeyboardPort keyboard = openX11Keyboard();
  struct Case {
    const char* name;
    std::vector<std::uint32_t> keysyms;
    std::size_t bound;
  } cases[] = {
      {"nothing", {}, 0},
      {"keysyms on keys of the layout", {'a', 'Z', '1', ' ', TEXT_KEYSYM_TAB, TEXT_KEYSYM_RETURN}, 0},
      {"one keysym many times", {XK_udiaeresis, XK_udiaeresis, 'a', XK_udiaeresis}, 1},
      {"a character's named and Unicode keysyms", {XK_EuroSign, UNICODE_EURO, XK_EuroSign}, 1},
      {"a character the layout gives by its other keysym", {XK_Cyrillic_ZHE, UNICODE_ZHE, XK_Cyrillic_zhe}, 0},
      {"keys that type no character", {XK_F35, XK_Shift_Lock, XK_Pointer_Button1}, 0},
      {"three characters", {XK_udiaeresis, XK_ssharp, XK_EuroSign, UNICODE_EURO}, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const CoreKeymap before = coreKeymap(display_);
    keyboard.bindKeysyms(c.keysyms);
    EXPECT_EQ(changedCodes(before, coreKeymap(display_)).size(), c.bound);
    keyboard.releaseKeysyms();
    expectKeymapIs(display_, before);
  }
}

// Makes code 255 spare for the length of a test, as it may be in other keymaps.
class EmptyLastCode {
 public:
  explicit EmptyLastCode(Display* display) : display_(display) {
    int first = 0;
    XDisplayKeycodes(display_, &first, &last_);
    KeySym* syms = XGetKeyboardMapping(display_, static_cast<KeyCode>(last_), 1, &perCode_);
    saved_.assign(syms, syms + perCode_);
    XFree(syms);
    KeySym none = NoSymbol;
    XChangeKeyboardMapping(display_, last_, 1, &none, 1);
    XSync(display_, False);
  }
  ~EmptyLastCode() {
    XChangeKeyboardMapping(display_, last_, perCode_, saved_.data(), 1);
    XSync(display_, False);
  }
  int code() const { return last_; }

 private:
  Display* display_;
  int last_ = 0;
  int perCode_ = 0;
  std::vector<KeySym> saved_;
};

TEST_F(X11Keyboard, ALineNeedingMoreCodesThanAreSpareBindsWhatFits) {
  const EmptyLastCode lastCode(display_);
  ASSERT_EQ(lastCode.code(), 255);
  const CoreKeymap before = coreKeymap(display_);
  XModifierKeymap* modifiers = XGetModifierMapping(display_);
  std::size_t spare = 0;
  for (int code = before.firstCode; code < 255; ++code) {
    bool modifier = false;
    for (int m = 0; m < 8 * modifiers->max_keypermod; ++m) modifier |= modifiers->modifiermap[m] == code;
    if (before.of(code).empty() && !modifier) ++spare;
  }
  XFreeModifiermap(modifiers);
  ASSERT_GT(spare, 0u);

  // More CJK characters than there are spare codes.
  std::u32string text;
  for (std::size_t n = 0; n < spare + 3; ++n) text += static_cast<char32_t>(0x4E00 + n);
  const KeyboardPort keyboard = openX11Keyboard();
  keyboard.bindKeysyms(lineKeysyms(text));
  const CoreKeymap bound = coreKeymap(display_);
  const std::vector<int> codes = changedCodes(before, bound);
  EXPECT_EQ(codes.size(), spare);
  EXPECT_TRUE(bound.of(255).empty()) << "keysymScan cannot answer with code 255";
  EXPECT_NE(keyboard.keysymScan(keysymsForCharacter(text.front()).keysyms[0]), KEY_SCAN_NONE);
  EXPECT_NE(keyboard.keysymScan(keysymsForCharacter(text[spare - 1]).keysyms[0]), KEY_SCAN_NONE);
  EXPECT_EQ(keyboard.keysymScan(keysymsForCharacter(text.back()).keysyms[0]), KEY_SCAN_NONE);
  keyboard.releaseKeysyms();
  expectKeymapIs(display_, before);
}

// Another client that changes a bound code between bind and release keeps its change, and a code it
// binds between two lines is not taken for the next.
TEST_F(X11Keyboard, ACodeAnotherClientChangedIsLeftAsThatClientSetIt) {
  const KeyboardPort keyboard = openX11Keyboard();
  const CoreKeymap before = coreKeymap(display_);
  keyboard.bindKeysyms({XK_udiaeresis, XK_EuroSign});
  const std::vector<int> bound = changedCodes(before, coreKeymap(display_));
  ASSERT_EQ(bound.size(), 2u);
  KeySym theirs = XK_F20;
  XChangeKeyboardMapping(display_, bound[0], 1, &theirs, 1);
  XSync(display_, False);
  keyboard.releaseKeysyms();
  CoreKeymap after = coreKeymap(display_);
  EXPECT_EQ(changedCodes(before, after), std::vector<int>{bound[0]});
  EXPECT_EQ(after.of(bound[0]).front(), XK_F20);

  keyboard.bindKeysyms({XK_udiaeresis});
  after = coreKeymap(display_);
  EXPECT_EQ(after.of(bound[0]).front(), XK_F20);
  EXPECT_EQ(changedCodes(before, after).size(), 2u);
  EXPECT_NE(keyboard.keysymScan(XK_udiaeresis), KEY_SCAN_NONE);
  keyboard.releaseKeysyms();
  EXPECT_EQ(changedCodes(before, coreKeymap(display_)), std::vector<int>{bound[0]});

  KeySym none = NoSymbol;
  XChangeKeyboardMapping(display_, bound[0], 1, &none, 1);
  XSync(display_, False);
  expectKeymapIs(display_, before);
}

TEST_F(X11Keyboard, ClosingTheKeyboardRestoresTheCodesOfALineNotReleased) {
  const CoreKeymap before = coreKeymap(display_);
  {
    const KeyboardPort keyboard = openX11Keyboard();
    keyboard.bindKeysyms({XK_udiaeresis, XK_EuroSign});
    EXPECT_EQ(changedCodes(before, coreKeymap(display_)).size(), 2u);
  }
  expectKeymapIs(display_, before);
}

// Holds a key down through the test extension for as long as it lives.
class HeldKey {
 public:
  HeldKey(Display* display, KeySym keysym) : display_(display), code_(XKeysymToKeycode(display, keysym)) {
    if (code_ != 0) XTestFakeKeyEvent(display_, code_, True, CurrentTime);
    XSync(display_, False);
  }
  ~HeldKey() {
    if (code_ != 0) XTestFakeKeyEvent(display_, code_, False, CurrentTime);
    XSync(display_, False);
  }
  bool held() const { return code_ != 0; }

 private:
  Display* display_;
  KeyCode code_;
};

TEST_F(X11Keyboard, HeldModifiersAreThePressedAndLatchedModifierKeysNotTheLocks) {
  const KeyboardPort keyboard = openX11Keyboard();
  ASSERT_TRUE(keyboard.heldModifiers);
  struct Case {
    const char* name;
    KeySym key;
    unsigned locks;
    unsigned latches;
    unsigned held;
  } cases[] = {
      {"nothing", NoSymbol, 0, 0, 0},
      {"Control", XK_Control_L, 0, 0, KEY_HELD_CONTROL},
      {"right Control", XK_Control_R, 0, 0, KEY_HELD_CONTROL},
      {"Shift", XK_Shift_L, 0, 0, KEY_HELD_SHIFT},
      {"Alt", XK_Alt_L, 0, 0, KEY_HELD_ALT},
      {"Super", XK_Super_L, 0, 0, KEY_HELD_SUPER},
      {"AltGr", XK_ISO_Level3_Shift, 0, 0, KEY_HELD_ALTGR},
      {"Caps Lock locked", NoSymbol, LockMask, 0, 0},
      {"Shift locked", NoSymbol, ShiftMask, 0, 0},
      {"Caps Lock and Num Lock locked, Control held", XK_Control_L, LockMask | Mod2Mask, 0, KEY_HELD_CONTROL},
      {"Shift latched", NoSymbol, 0, ShiftMask, KEY_HELD_SHIFT},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    XkbLockModifiers(display_, XkbUseCoreKbd, c.locks, c.locks);
    XkbLatchModifiers(display_, XkbUseCoreKbd, c.latches, c.latches);
    XSync(display_, False);
    {
      std::optional<HeldKey> key;
      if (c.key != NoSymbol) {
        key.emplace(display_, c.key);
        ASSERT_TRUE(key->held());
      }
      EXPECT_EQ(keyboard.heldModifiers(), c.held);
    }
    XkbLatchModifiers(display_, XkbUseCoreKbd, c.latches, 0);
    XSync(display_, False);
    EXPECT_EQ(keyboard.heldModifiers(), 0u) << "released";
    XkbLockModifiers(display_, XkbUseCoreKbd, c.locks, 0);
    XSync(display_, False);
  }
}

// Moves the Super keys from Mod4 to Mod3 for the length of a test, leaving Hyper alone on Mod4.
class SuperOnMod3 {
 public:
  explicit SuperOnMod3(Display* display) : display_(display), saved_(XGetModifierMapping(display)) {
    XModifierKeymap* moved = XGetModifierMapping(display_);
    for (const KeySym super : {XK_Super_L, XK_Super_R}) {
      int first = 0;
      int last = 0;
      XDisplayKeycodes(display_, &first, &last);
      for (int code = first; code <= last; ++code) {
        int perCode = 0;
        KeySym* syms = XGetKeyboardMapping(display_, static_cast<KeyCode>(code), 1, &perCode);
        const bool isSuper = std::find(syms, syms + perCode, super) != syms + perCode;
        XFree(syms);
        if (!isSuper) continue;
        moved = XDeleteModifiermapEntry(moved, static_cast<KeyCode>(code), Mod4MapIndex);
        moved = XInsertModifiermapEntry(moved, static_cast<KeyCode>(code), Mod3MapIndex);
      }
    }
    made_ = XSetModifierMapping(display_, moved) == MappingSuccess;
    XFreeModifiermap(moved);
    XSync(display_, False);
  }
  ~SuperOnMod3() {
    XSetModifierMapping(display_, saved_);
    XFreeModifiermap(saved_);
    XSync(display_, False);
  }
  bool made() const { return made_; }

 private:
  Display* display_;
  XModifierKeymap* saved_;
  bool made_ = false;
};

TEST_F(X11Keyboard, HeldModifiersFollowTheModifierMap) {
  const SuperOnMod3 superOnMod3(display_);
  ASSERT_TRUE(superOnMod3.made());
  const KeyboardPort keyboard = openX11Keyboard();
  struct Case {
    KeySym key;
    unsigned held;
  } cases[] = {{XK_Super_L, KEY_HELD_SUPER}, {XK_Hyper_L, 0}, {XK_Alt_L, KEY_HELD_ALT}};
  for (const Case& c : cases) {
    const HeldKey key(display_, c.key);
    ASSERT_TRUE(key.held());
    EXPECT_EQ(keyboard.heldModifiers(), c.held) << XKeysymToString(c.key);
  }
}

// The test plays the window manager: it sets the root's EWMH properties and moves the X focus. The
// properties are removed afterwards, whatever the outcome.
// The wedge on the real layer: a read with characters no key of the US layout gives arrives whole, and a
// read while Control is held on is not typed at all, so no key of it turns into a command.
TEST_F(X11Keyboard, TheWedgeTypesAReadWholeOrNotAtAll) {
  KeyRecorder receiver;
  KeyboardWedge wedge;
  wedge.settings.holdOffMs = 0;
  AppPorts ports;
  ports.keyboard = openX11Keyboard();
  ports.clock = monotonicClock();
  ports.sound.beep = [](std::uint32_t, std::uint32_t) {};
  Ecc200Meaning utf8;
  utf8.ecis = {{26, 0}};
  const std::string message = "Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC \xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82";
  confirmRead(wedge, ports, 0, message, utf8);
  EXPECT_EQ(receiver.nextKeysyms(std::chrono::seconds(2)), arrivingKeysyms(U"Gr\u00FC\u00DFe \u20AC \u041F\u0440\u0438\u0432\u0435\u0442"));

  std::string said;
  {
    HeldKey control(display_, XK_Control_L);
    ASSERT_TRUE(control.held());
    testing::internal::CaptureStderr();
    confirmRead(wedge, ports, 0, std::string("held"), Ecc200Meaning{});
    said = testing::internal::GetCapturedStderr();
  }
  EXPECT_NE(said.find("Ctrl is held down"), std::string::npos) << said;
  // The window saw the test's own Control key, and nothing of the read.
  const auto withoutControl = [](std::vector<KeySym> keysyms) {
    keysyms.erase(std::remove(keysyms.begin(), keysyms.end(), static_cast<KeySym>(XK_Control_L)), keysyms.end());
    return keysyms;
  };
  EXPECT_EQ(withoutControl(receiver.nextKeysyms(std::chrono::milliseconds(300))), std::vector<KeySym>{});
  confirmRead(wedge, ports, 0, std::string("free"), Ecc200Meaning{});
  EXPECT_EQ(withoutControl(receiver.nextKeysyms(std::chrono::seconds(2))), arrivingKeysyms(U"free"));
}

class X11KeyboardFocus : public X11Keyboard {
 protected:
  void SetUp() override {
    X11Keyboard::SetUp();
    if (display_ == nullptr) return;
    root_ = DefaultRootWindow(display_);
    wmCheck_ = XInternAtom(display_, "_NET_SUPPORTING_WM_CHECK", False);
    activeWindow_ = XInternAtom(display_, "_NET_ACTIVE_WINDOW", False);
    wmPid_ = XInternAtom(display_, "_NET_WM_PID", False);
  }
  void TearDown() override {
    if (display_ != nullptr) {
      XDeleteProperty(display_, root_, wmCheck_);
      XDeleteProperty(display_, root_, activeWindow_);
      XSetInputFocus(display_, PointerRoot, RevertToPointerRoot, CurrentTime);
      for (Window window : windows_) XDestroyWindow(display_, window);
      XSync(display_, False);
    }
    X11Keyboard::TearDown();
  }

  Window makeWindow(Window parent, int x, int y, bool mapped) {
    const Window window = XCreateSimpleWindow(display_, parent, x, y, 100, 100, 0, 0, 0);
    if (parent == root_) windows_.push_back(window);
    if (mapped) XMapWindow(display_, window);
    XSync(display_, False);
    return window;
  }
  void setWindowProperty(Window window, Atom property, Window value) {
    const unsigned long data = value;
    XChangeProperty(display_, window, property, XA_WINDOW, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&data), 1);
  }
  void setOwnPid(Window window) {
    const unsigned long pid = static_cast<unsigned long>(getpid());
    XChangeProperty(display_, window, wmPid_, XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&pid), 1);
  }

  Window root_ = None;
  Atom wmCheck_ = None;
  Atom activeWindow_ = None;
  Atom wmPid_ = None;
  std::vector<Window> windows_;
};

TEST_F(X11KeyboardFocus, TheWindowManagerOrTheXFocusTellsWhetherAnApplicationReceivesKeys) {
  KeyRecorder receiver;
  const Window recorder = receiver.window();
  // Windows of this process: one carrying its id and a child of it.
  const Window ours = makeWindow(root_, 400, 0, true);
  setOwnPid(ours);
  const Window oursInside = makeWindow(ours, 10, 10, true);
  // A window of ours inside a frame that carries no process id, as a reparenting window manager makes.
  const Window frame = makeWindow(root_, 600, 0, true);
  setOwnPid(makeWindow(frame, 0, 0, true));
  // The window manager's check window, which names itself.
  const Window check = makeWindow(root_, 0, 0, false);
  setWindowProperty(check, wmCheck_, check);
  const Window notSelf = makeWindow(root_, 0, 0, false);
  const Window gone = XCreateSimpleWindow(display_, root_, 0, 0, 10, 10, 0, 0, 0);
  XDestroyWindow(display_, gone);
  XSync(display_, False);
  const KeyboardPort keyboard = openX11Keyboard();

  enum class Manager { Absent, Ewmh, Gone, NotNamingItself };
  struct Pointer {
    int x;
    int y;
  };
  const Pointer overRecorder{50, 50};
  const Pointer overOurs{450, 50};
  const Pointer overFramedOurs{650, 50};
  const Pointer overNothing{900, 900};
  struct Case {
    const char* name;
    Manager manager;
    std::optional<Window> active;
    Window focus;
    Pointer pointer;
    bool expected;
  } cases[] = {
      {"active window none", Manager::Ewmh, Window{None}, recorder, overRecorder, false},
      {"active window the root", Manager::Ewmh, root_, recorder, overRecorder, false},
      {"active window the recorder", Manager::Ewmh, recorder, None, overNothing, true},
      {"active window ours", Manager::Ewmh, ours, recorder, overRecorder, false},
      {"active window inside ours", Manager::Ewmh, oursInside, recorder, overRecorder, false},
      {"active window gone", Manager::Ewmh, gone, recorder, overRecorder, false},
      {"no active window said: the X focus", Manager::Ewmh, std::nullopt, recorder, overNothing, true},
      {"focus none", Manager::Absent, std::nullopt, None, overRecorder, false},
      {"focus on the root", Manager::Absent, std::nullopt, root_, overRecorder, false},
      {"focus on the recorder", Manager::Absent, std::nullopt, recorder, overNothing, true},
      {"focus on ours", Manager::Absent, std::nullopt, ours, overRecorder, false},
      {"focus inside ours", Manager::Absent, std::nullopt, oursInside, overRecorder, false},
      {"pointer root, over the recorder", Manager::Absent, std::nullopt, PointerRoot, overRecorder, true},
      {"pointer root, over ours", Manager::Absent, std::nullopt, PointerRoot, overOurs, false},
      {"pointer root, over ours in a frame", Manager::Absent, std::nullopt, PointerRoot, overFramedOurs, false},
      {"pointer root, over no window", Manager::Absent, std::nullopt, PointerRoot, overNothing, false},
      {"manager gone: the X focus", Manager::Gone, Window{None}, recorder, overNothing, true},
      {"check window naming another: the X focus", Manager::NotNamingItself, Window{None}, recorder, overNothing, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    XDeleteProperty(display_, root_, wmCheck_);
    XDeleteProperty(display_, root_, activeWindow_);
    if (c.manager == Manager::Ewmh) setWindowProperty(root_, wmCheck_, check);
    if (c.manager == Manager::Gone) setWindowProperty(root_, wmCheck_, gone);
    if (c.manager == Manager::NotNamingItself) {
      setWindowProperty(root_, wmCheck_, notSelf);
      setWindowProperty(notSelf, wmCheck_, check);
    }
    if (c.active) setWindowProperty(root_, activeWindow_, *c.active);
    XSetInputFocus(display_, c.focus, RevertToNone, CurrentTime);
    XWarpPointer(display_, None, root_, 0, 0, 0, 0, c.pointer.x, c.pointer.y);
    XSync(display_, False);
    EXPECT_EQ(keyboard.hasFocusTarget(), c.expected);
  }
}

TEST(X11KeyboardWithoutDisplay, IsSilentAndSaysSoOnce) {
  const char* display = std::getenv("DISPLAY");
  const std::string saved = display != nullptr ? display : "";
  ASSERT_EQ(setenv("DISPLAY", ":9999", 1), 0);  // no server listens there
  ::testing::internal::CaptureStderr();
  const KeyboardPort keyboard = openX11Keyboard();
  if (display != nullptr) setenv("DISPLAY", saved.c_str(), 1);
  else unsetenv("DISPLAY");
  typeLine(keyboard, "abc");
  const std::string said = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(keyboard.keysymScan('a'), KEY_SCAN_NONE);
  EXPECT_NE(said.find("not be typed"), std::string::npos) << said;
  EXPECT_EQ(said.find('\n'), said.size() - 1) << said;
}

}  // namespace
