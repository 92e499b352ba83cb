// The X11 keyboard layer types into a window of the test's own that holds the focus and records the
// characters it receives. Needs an X server with XTEST (the test script runs one).
#include "app/keyboard_port.h"
#include "app/keyboard_wedge.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
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
