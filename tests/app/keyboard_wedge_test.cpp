// The keyboard wedge against a fake layout: what is typed, with which modifiers, and when.
#include "app/keyboard_wedge.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/text_keysyms.h"
#include "decoder/ecc200/ecc200_message.h"
#include "tests/support/ecc200_matrix.h"
#include "tests/support/symbol_encoder.h"

namespace {

constexpr int KEY_RETURN = 36;
constexpr int KEY_TAB = 23;

std::int16_t scan(int key, int state = 0) { return static_cast<std::int16_t>((state << 8) | key); }

// Keysyms of the fake layouts that are not characters of their own code (X11's keysymdef.h).
constexpr std::uint32_t KEYSYM_ESCAPE = 0xFF1B;
constexpr std::uint32_t KEYSYM_EURO_SIGN = 0x20AC;
constexpr std::uint32_t KEYSYM_OE = 0x13BD;       // œ
constexpr std::uint32_t KEYSYM_AOGONEK = 0x1A1;   // Ą
constexpr std::uint32_t KEYSYM_UNICODE = 0x01000000;

// The character a fake layout's keysym types: Latin-1 keysyms are their code, Unicode keysyms their
// code above 0x01000000, and the named ones as X11 defines them.
char32_t characterOfKeysym(std::uint32_t keysym) {
  switch (keysym) {
    case TEXT_KEYSYM_RETURN: return U'\n';
    case TEXT_KEYSYM_TAB: return U'\t';
    case KEYSYM_ESCAPE: return 0x1B;
    case KEYSYM_EURO_SIGN: return U'\u20AC';
    case KEYSYM_OE: return U'\u0153';
    case KEYSYM_AOGONEK: return U'\u0104';
    default: break;
  }
  if (keysym <= 0xFF) return keysym;
  if (keysym >= KEYSYM_UNICODE) return keysym - KEYSYM_UNICODE;
  return 0;
}

// A layout in the manner of a German keyboard: letters plain and with Shift, '@' on AltGr+Q, 'É' on
// Shift+AltGr, '~' on no key at all.
std::map<std::uint32_t, std::int16_t> germanLikeLayout() {
  std::map<std::uint32_t, std::int16_t> layout;
  for (char c = 'a'; c <= 'z'; ++c) {
    layout[static_cast<unsigned char>(c)] = scan(38 + (c - 'a'));
    layout[static_cast<unsigned char>(c - 'a' + 'A')] = scan(38 + (c - 'a'), KEY_STATE_SHIFT);
  }
  for (char c = '0'; c <= '9'; ++c) layout[static_cast<unsigned char>(c)] = scan(10 + (c - '0'));
  layout[' '] = scan(65);
  layout['@'] = layout['q'] | (KEY_STATE_ALTGR << 8);
  layout[0xC9] = scan(26, KEY_STATE_SHIFT | KEY_STATE_ALTGR);  // 'É'
  layout[TEXT_KEYSYM_RETURN] = scan(KEY_RETURN);
  layout[TEXT_KEYSYM_TAB] = scan(KEY_TAB);
  layout[KEYSYM_ESCAPE] = scan(9);  // an Escape key that a careless wedge would press
  return layout;
}

// Records the wedge's platform calls and replays the key events into the text a focused
// application would receive.
struct FakeDesk {
  std::map<std::uint32_t, std::int16_t> layout = germanLikeLayout();
  std::vector<std::string> events;
  std::vector<std::uint32_t> askedKeysyms;
  std::uint32_t now = 0;
  int beeps = 0;

  AppPorts ports() {
    AppPorts p;
    p.keyboard.keysymScan = [this](std::uint32_t keysym) {
      askedKeysyms.push_back(keysym);
      const auto found = layout.find(keysym);
      return found == layout.end() ? KEY_SCAN_NONE : found->second;
    };
    p.keyboard.keyEvent = [this](int key, unsigned flags) {
      std::string name = key == KEY_SHIFT ? "Shift" : key == KEY_ALTGR ? "AltGr" : std::to_string(key);
      events.push_back(((flags & KEY_EVENT_UP) != 0 ? "-" : "+") + name);
    };
    p.keyboard.flushKeys = [this] { events.push_back("flush"); };
    // The beep takes its time, as the real one does, so the tick taken after the typing shows
    // whether it was read before the beep or after.
    p.sound.beep = [this](std::uint32_t hz, std::uint32_t ms) {
      EXPECT_EQ(hz, 750u);
      EXPECT_EQ(ms, 200u);
      events.push_back("beep");
      ++beeps;
      now += ms;
    };
    p.clock.tickCount = [this] { return now; };
    p.clock.sleepMs = [](std::uint32_t) { FAIL() << "the wedge never sleeps"; };
    return p;
  }

  // The characters the focused application gets: each key press read with the modifiers held; a key
  // the layout does not list as "<key/state>".
  std::u32string receivedCharacters() const {
    std::u32string text;
    int state = 0;
    for (const std::string& e : events) {
      const bool down = e[0] == '+';
      const std::string key = e.substr(1);
      if (key == "Shift") {
        state = down ? state | KEY_STATE_SHIFT : state & ~KEY_STATE_SHIFT;
      } else if (key == "AltGr") {
        state = down ? state | KEY_STATE_ALTGR : state & ~KEY_STATE_ALTGR;
      } else if (down && e != "flush" && e != "beep") {
        bool found = false;
        for (const auto& [keysym, k] : layout) {
          if ((k & 0xFF) == std::stoi(key) && ((k >> 8) & 0xFF) == state) {
            text += characterOfKeysym(keysym);
            found = true;
            break;
          }
        }
        if (!found) {
          for (const char ch : "<" + key + "/" + std::to_string(state) + ">") text += static_cast<char32_t>(ch);
        }
      }
    }
    return text;
  }

  // As receivedCharacters, each character below U+0100 as the byte of its code (ISO 8859-1).
  std::string received() const {
    std::string text;
    for (const char32_t ch : receivedCharacters()) {
      text += ch <= 0xFF ? std::string(1, static_cast<char>(ch)) : "<U+" + std::to_string(ch) + ">";
    }
    return text;
  }

  // As receivedCharacters, in UTF-8.
  std::string receivedUtf8() const {
    std::string text;
    for (const char32_t ch : receivedCharacters()) {
      if (ch < 0x80) {
        text += static_cast<char>(ch);
      } else if (ch < 0x800) {
        text += static_cast<char>(0xC0 | (ch >> 6));
        text += static_cast<char>(0x80 | (ch & 0x3F));
      } else if (ch < 0x10000) {
        text += static_cast<char>(0xE0 | (ch >> 12));
        text += static_cast<char>(0x80 | ((ch >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (ch & 0x3F));
      } else {
        text += static_cast<char>(0xF0 | (ch >> 18));
        text += static_cast<char>(0x80 | ((ch >> 12) & 0x3F));
        text += static_cast<char>(0x80 | ((ch >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (ch & 0x3F));
      }
    }
    return text;
  }
};

DecodeResult resultWithText(const char* text) {
  DecodeResult result{};
  std::strncpy(result.text, text, sizeof result.text - 1);
  return result;
}

TEST(KeyboardWedge, TypesResultZeroThenBeepsAndHoldsOff) {
  FakeDesk desk;
  KeyboardWedge wedge;
  desk.now = 1234;
  confirmRead(wedge, desk.ports(), 0, resultWithText("ab 12"));
  EXPECT_EQ(desk.received(), "ab 12\n");
  ASSERT_GE(desk.events.size(), 2u);
  EXPECT_EQ(desk.events[desk.events.size() - 2], "flush");
  EXPECT_EQ(desk.events.back(), "beep");
  EXPECT_EQ(wedge.holdOff, 5000);
  EXPECT_EQ(wedge.lastTypedTick, 1234u);
}

TEST(KeyboardWedge, OnlyResultZeroOfAFrameIsTyped) {
  FakeDesk desk;
  KeyboardWedge wedge;
  for (int i : {1, 2}) confirmRead(wedge, desk.ports(), i, resultWithText("later"));
  EXPECT_TRUE(desk.events.empty());
  EXPECT_EQ(wedge.holdOff, 0);
}

// The hold-off from a typing at tick `start`, with every time relative to it: before 5000 ms nothing
// changes; the first call at or after 5000 ms clears it without typing; the next call types again.
// The second start tick makes the counter wrap through zero in the middle of the hold-off.
class HoldOffTimeline : public ::testing::TestWithParam<std::uint32_t> {};

TEST_P(HoldOffTimeline, ClearsOnlyOnALaterCallAndThenTypesAgain) {
  const std::uint32_t start = GetParam();
  FakeDesk desk;
  KeyboardWedge wedge;
  struct Step {
    std::uint32_t at;
    int i;
    int holdOffAfter;
    int beepsAfter;
  };
  const Step steps[] = {
      {0, 0, 5000, 1},     // typed
      {100, 0, 5000, 1},   // held off
      {2500, 1, 5000, 1},  // another result of a frame: held off too
      {4999, 0, 5000, 1},  // one millisecond short
      {5000, 0, 0, 1},     // cleared, nothing typed
      {5001, 0, 5000, 2},  // typed again
      {5002, 0, 5000, 2},
  };
  for (const Step& step : steps) {
    desk.now = start + step.at;
    confirmRead(wedge, desk.ports(), step.i, resultWithText("x"));
    EXPECT_EQ(wedge.holdOff, step.holdOffAfter) << "at +" << step.at;
    EXPECT_EQ(desk.beeps, step.beepsAfter) << "at +" << step.at;
  }
  EXPECT_EQ(desk.received(), "x\nx\n");
  EXPECT_EQ(wedge.lastTypedTick, start + 5001);
}

INSTANTIATE_TEST_SUITE_P(StartTicks, HoldOffTimeline, ::testing::Values(0u, 0xFFFFF000u));

TEST(KeyboardWedge, EmptyTextTypesOnlyReturnAndStillBeepsAndHoldsOff) {
  FakeDesk desk;
  KeyboardWedge wedge;
  confirmRead(wedge, desk.ports(), 0, resultWithText(""));
  EXPECT_EQ(desk.events, (std::vector<std::string>{"+36", "-36", "flush", "beep"}));
  EXPECT_EQ(wedge.holdOff, 5000);
}

TEST(KeyboardWedge, ModifiersWrapTheKeyInOrder) {
  struct Case {
    const char* text;
    std::vector<std::string> events;  // without the final Return
  } cases[] = {
      {"B", {"+Shift", "+39", "-39", "-Shift"}},
      {"@", {"+AltGr", "+54", "-54", "-AltGr"}},
      {"\xC9", {"+Shift", "+AltGr", "+26", "-26", "-AltGr", "-Shift"}},
  };
  for (const Case& c : cases) {
    FakeDesk desk;
    typeLine(desk.ports().keyboard, c.text);
    std::vector<std::string> expected = c.events;
    for (const char* tail : {"+36", "-36", "flush"}) expected.push_back(tail);
    EXPECT_EQ(desk.events, expected) << c.text;
    EXPECT_EQ(desk.received(), std::string(c.text) + "\n");
  }
}

TEST(KeyboardWedge, WhatTheFocusedApplicationReceives) {
  struct Case {
    const char* name;
    const char* text;
    const char* received;
  } cases[] = {
      {"mixed case", "Hello World", "Hello World\n"},
      {"a character with no key is skipped", "a~b~", "ab\n"},
      {"control bytes make no second line", "a\rb\nc\x1b" "d\te\x7f" "f", "abcd\tef\n"},
      {"only control bytes", "\r\n\r\n", "\n"},
  };
  for (const Case& c : cases) {
    FakeDesk desk;
    typeLine(desk.ports().keyboard, c.text);
    EXPECT_EQ(desk.received(), c.received) << c.name;
  }
}

// A layout that lists a modifier for a character but no key types it with that modifier (Ctrl or Alt
// alone) skips the character; the line feed that ends the line is a plain Return whatever is listed.
TEST(KeyboardWedge, CtrlOrAltAloneIsNoKeyAndTheLineEndsInPlainReturn) {
  FakeDesk desk;
  desk.layout[TEXT_KEYSYM_RETURN] = scan(KEY_RETURN, KEY_STATE_CTRL);
  desk.layout['x'] = scan(53, KEY_STATE_CTRL);
  desk.layout['y'] = scan(29, KEY_STATE_ALT);
  typeLine(desk.ports().keyboard, "axyb");
  EXPECT_EQ(desk.events, (std::vector<std::string>{"+38", "-38", "+39", "-39", "+36", "-36", "flush"}));
}

TEST(KeyboardWedge, TextFillingTheWholeFieldIsBoundedAtItsLastByte) {
  FakeDesk desk;
  KeyboardWedge wedge;
  DecodeResult result;
  std::memset(result.text, 'a', sizeof result.text);  // no terminating NUL anywhere
  confirmRead(wedge, desk.ports(), 0, result);
  EXPECT_EQ(desk.received(), std::string(DECODE_TEXT_SIZE - 1, 'a') + "\n");
}

// ---------------------------------------------------------------------------------------------------
// The user's settings: suffix, hold-off, beep, typing, the log, and a read with no window focused.

TEST(WedgeSettings, SuffixKeyEndsTheTextAsAPlainKey) {
  const struct {
    TypedSuffix suffix;
    std::vector<std::string> tail;  // after the text's keys
    const char* received;
  } cases[] = {
      {TypedSuffix::Return, {"+36", "-36", "flush"}, "a\n"},
      {TypedSuffix::Tab, {"+23", "-23", "flush"}, "a\t"},
      {TypedSuffix::None, {"flush"}, "a"},
  };
  for (const auto& c : cases) {
    FakeDesk desk;
    // A layout that lists Shift for Tab (as Shift+Tab moves back) must still get a plain Tab.
    desk.layout[TEXT_KEYSYM_TAB] = scan(KEY_TAB, KEY_STATE_SHIFT);
    KeyboardWedge wedge;
    wedge.settings.suffix = c.suffix;
    confirmRead(wedge, desk.ports(), 0, resultWithText("a"));
    std::vector<std::string> expected = {"+38", "-38"};
    expected.insert(expected.end(), c.tail.begin(), c.tail.end());
    expected.push_back("beep");
    EXPECT_EQ(desk.events, expected) << c.received;
  }
}

TEST(WedgeSettings, HoldOffLastsTheSetTime) {
  for (const std::int32_t holdOff : {1, 1000, 600000}) {
    FakeDesk desk;
    KeyboardWedge wedge;
    wedge.settings.holdOffMs = holdOff;
    const std::uint32_t length = static_cast<std::uint32_t>(holdOff);
    const struct {
      std::uint32_t at;
      int typedLines;
    } steps[] = {{0, 1}, {length - 1, 1}, {length, 1}, {length + 1, 2}};
    for (const auto& step : steps) {
      desk.now = step.at;
      confirmRead(wedge, desk.ports(), 0, resultWithText("x"));
      EXPECT_EQ(desk.received(), step.typedLines == 1 ? "x\n" : "x\nx\n") << holdOff << " ms, at +" << step.at;
    }
  }
}

TEST(WedgeSettings, ZeroHoldOffTypesEveryFrame) {
  FakeDesk desk;
  KeyboardWedge wedge;
  wedge.settings.holdOffMs = 0;
  for (int frame = 0; frame < 3; ++frame) confirmRead(wedge, desk.ports(), 0, resultWithText("z"));
  EXPECT_EQ(desk.received(), "z\nz\nz\n");
  EXPECT_EQ(desk.beeps, 3);
}

TEST(WedgeSettings, NoBeepStillTypesAndHoldsOff) {
  FakeDesk desk;
  KeyboardWedge wedge;
  wedge.settings.beep = false;
  desk.now = 10;
  confirmRead(wedge, desk.ports(), 0, resultWithText("q"));
  EXPECT_EQ(desk.received(), "q\n");
  EXPECT_EQ(desk.beeps, 0);
  EXPECT_EQ(wedge.holdOff, 5000);
  EXPECT_EQ(wedge.lastTypedTick, 10u);
}

// Records what the wedge hands to the log.
// What a read that is not typed says on standard error, for a reason that contains `why`.
bool saysNotTyped(const std::string& said, const std::string& why) {
  return said.rfind("quarnel: read not typed (", 0) == 0 && said.find(why) != std::string::npos &&
         said.find('\n') == said.size() - 1;
}

struct LogRecorder {
  std::vector<std::string> lines;
  std::vector<std::string> notTyped;  // "text: reason"
  std::string failure;                // set: every line is refused with this reason, as by a full disk
  std::vector<std::string>* events = nullptr;  // set: each written line also goes there, as "log <text>"
  ReadLogPort port() {
    ReadLogPort port;
    port.append = [this](const std::string& text, std::string* error) {
      if (!failure.empty()) return *error = failure, false;
      lines.push_back(text);
      if (events != nullptr) events->push_back("log " + text);
      return true;
    };
    port.appendNotTyped = [this](const std::string& text, const std::string& reason, std::string* error) {
      if (!failure.empty()) return *error = failure, false;
      notTyped.push_back(text + ": " + reason);
      return true;
    };
    port.withdrawLast = [this] {
      if (!lines.empty()) lines.pop_back();
      if (events != nullptr) events->push_back("withdrawn");
    };
    return port;
  }
};

TEST(WedgeSettings, NoTypeTypesNothingButLogsBeepsAndHoldsOff) {
  FakeDesk desk;
  LogRecorder log;
  KeyboardWedge wedge;
  wedge.settings.typeReads = false;
  AppPorts ports = desk.ports();
  ports.readLog = log.port();
  // Not even asked whether a window has the focus: nothing is typed anyway.
  ports.keyboard.hasFocusTarget = [] { return false; };
  confirmRead(wedge, ports, 0, resultWithText("Lot 7"));
  EXPECT_EQ(desk.events, (std::vector<std::string>{"beep"}));
  EXPECT_EQ(log.lines, (std::vector<std::string>{"Lot 7"}));
  EXPECT_EQ(wedge.holdOff, 5000);
  desk.now += 100;
  confirmRead(wedge, ports, 0, resultWithText("Lot 7"));  // held off: not logged again
  EXPECT_EQ(log.lines.size(), 1u);
}

TEST(WedgeSettings, EveryTypedReadIsLoggedWithItsWholeText) {
  FakeDesk desk;
  desk.layout['\\'] = scan(51);  // the backslash: a read is typed only when every character has a key
  LogRecorder log;
  KeyboardWedge wedge;
  wedge.settings.holdOffMs = 0;
  AppPorts ports = desk.ports();
  ports.readLog = log.port();
  confirmRead(wedge, ports, 0, resultWithText("a\\b\x01"));
  confirmRead(wedge, ports, 1, resultWithText("second symbol"));  // not typed, not logged
  confirmRead(wedge, ports, 0, resultWithText(""));
  DecodeResult full;
  std::memset(full.text, 'f', sizeof full.text);
  confirmRead(wedge, ports, 0, full);
  ASSERT_EQ(log.lines.size(), 3u);
  EXPECT_EQ(log.lines[0], "a\\b\x01");
  EXPECT_EQ(log.lines[1], "");
  EXPECT_EQ(log.lines[2], std::string(DECODE_TEXT_SIZE - 1, 'f'));
}

// A log that cannot take the read's line (a full disk): by default the read is typed all the same and
// the band says the line is missing; with --log-required it is not typed. A required line is written
// before the keys and taken back when the read then cannot be typed.
TEST(WedgeLog, ALineTheLogCannotTakeCostsTheLineOrWithItsRequirementTheRead) {
  const struct {
    const char* name;
    bool required;
    const char* failure;  // empty: the log takes every line
    bool ctrlHeld;        // the read cannot be typed for a held modifier
    bool typed;
    std::vector<std::string> lines;
    const char* band;
  } cases[] = {
      {"full disk", false, "No space left on device", false, true, {}, "Log not written: No space left on device"},
      {"full disk, required", true, "No space left on device", false, false, {},
       "Not typed: log not written (No space left on device)"},
      {"written, required", true, "", false, true, {"Lot 7"}, ""},
      {"written, required, then not typed", true, "", true, false, {}, "Not typed: Ctrl is held down"},
      {"written", false, "", false, true, {"Lot 7"}, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeDesk desk;
    LogRecorder log;
    log.failure = c.failure;
    log.events = &desk.events;
    KeyboardWedge wedge;
    wedge.settings.logRequired = c.required;
    AppPorts ports = desk.ports();
    ports.readLog = log.port();
    if (c.ctrlHeld) ports.keyboard.heldModifiers = [] { return unsigned{KEY_HELD_CONTROL}; };
    ports.clock.sleepMs = [&desk](std::uint32_t ms) { desk.now += ms; };
    testing::internal::CaptureStderr();
    confirmRead(wedge, ports, 0, resultWithText("Lot 7"));
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(desk.received(), c.typed ? "Lot 7\n" : "");
    EXPECT_EQ(desk.beeps, c.typed ? 1 : 0);
    EXPECT_EQ(wedge.holdOff, c.typed ? 5000 : 0);
    EXPECT_EQ(log.lines, c.lines);
    EXPECT_NE(wedgeBandText(wedge, desk.now, 3000).find(c.band), std::string::npos) << wedgeBandText(wedge, desk.now, 3000);
    if (c.band[0] == '\0') {
      EXPECT_EQ(wedgeBandText(wedge, desk.now, 3000), "");
    }
    if (c.required && c.typed) {
      ASSERT_FALSE(desk.events.empty());
      EXPECT_EQ(desk.events.front(), "log Lot 7") << "the line is written before the first key";
    }
    if (c.required && c.ctrlHeld) {
      EXPECT_EQ(desk.events.front(), "log Lot 7");
      EXPECT_NE(std::find(desk.events.begin(), desk.events.end(), "withdrawn"), desk.events.end());
    }
    if (c.required && c.failure[0] != '\0') {
      EXPECT_TRUE(saysNotTyped(said, "the log cannot be written: No space left on device")) << said;
    }
  }
}

TEST(WedgeSettings, ReadWithoutAFocusedWindowIsNotTypedUntilOneHasTheFocus) {
  FakeDesk desk;
  LogRecorder log;
  KeyboardWedge wedge;
  bool focused = false;
  AppPorts ports = desk.ports();
  ports.readLog = log.port();
  ports.keyboard.hasFocusTarget = [&focused] { return focused; };
  desk.now = 500;
  testing::internal::CaptureStderr();
  confirmRead(wedge, ports, 0, resultWithText("id"));
  desk.now = 550;
  confirmRead(wedge, ports, 0, resultWithText("id"));  // the same label still in view: said once
  EXPECT_TRUE(saysNotTyped(testing::internal::GetCapturedStderr(), "no other window has the keyboard focus"));
  EXPECT_TRUE(desk.events.empty()) << "no keys, no beep";
  EXPECT_TRUE(log.lines.empty());
  EXPECT_EQ(log.notTyped, (std::vector<std::string>{"id: no other window has the keyboard focus"}));
  EXPECT_EQ(wedgeBandText(wedge, 600, 3000), "Not typed: no other window has the keyboard focus.");
  EXPECT_EQ(wedge.holdOff, 0);
  EXPECT_TRUE(wedge.unfocusedRead);
  EXPECT_EQ(wedge.unfocusedTick, 550u);

  focused = true;
  desk.now = 600;
  confirmRead(wedge, ports, 0, resultWithText("id"));
  EXPECT_EQ(desk.received(), "id\n");
  EXPECT_EQ(desk.beeps, 1);
  EXPECT_EQ(log.lines, (std::vector<std::string>{"id"}));
  EXPECT_FALSE(wedge.unfocusedRead);
}

// ---------------------------------------------------------------------------------------------------
// The characters of a message: character sets by ECI, group separators, the AIM identifier, and the
// characters that cannot be typed.

// The events one key of a layout table gives, pressed with its modifiers as a user would.
std::vector<std::string> pressEvents(std::int16_t entry) {
  const std::string key = std::to_string(entry & 0xFF);
  const int state = (entry >> 8) & 0xFF;
  std::vector<std::string> events;
  if ((state & KEY_STATE_SHIFT) != 0) events.push_back("+Shift");
  if ((state & KEY_STATE_ALTGR) != 0) events.push_back("+AltGr");
  events.push_back("+" + key);
  events.push_back("-" + key);
  if ((state & KEY_STATE_ALTGR) != 0) events.push_back("-AltGr");
  if ((state & KEY_STATE_SHIFT) != 0) events.push_back("-Shift");
  return events;
}

// Without --gs and --aim a symbol without ECI types, byte for byte, the key its Latin-1 keysym has on
// the layout: every printable byte on a key of its own, Tab on the Tab key, no other control byte
// (C0, DEL, C1) at all. A layout that lacks every fifth printable byte types nothing of such a read, not
// even its Return, and says so.
TEST(WedgeCharacters, WithoutOptionsEachByteTypesTheKeyOfItsLatin1Keysym) {
  std::map<std::uint32_t, std::int16_t> layout;
  const int states[] = {0, KEY_STATE_SHIFT, KEY_STATE_ALTGR, KEY_STATE_SHIFT | KEY_STATE_ALTGR};
  for (int byte = 0x20; byte <= 0xFF; ++byte) {
    if ((byte >= 0x7F && byte < 0xA0) || byte % 5 == 0) continue;
    layout[static_cast<std::uint32_t>(byte)] = scan(8 + byte % 200, states[byte % 4]);
  }
  layout[TEXT_KEYSYM_RETURN] = scan(KEY_RETURN);
  layout[TEXT_KEYSYM_TAB] = scan(KEY_TAB, KEY_STATE_SHIFT);  // a Tab typed within the text keeps its Shift
  layout[KEYSYM_ESCAPE] = scan(9);
  for (int byte = 0x01; byte <= 0xFF; ++byte) {
    FakeDesk desk;
    desk.layout = layout;
    KeyboardWedge wedge;
    const char text[] = {static_cast<char>(byte), '\0'};
    testing::internal::CaptureStderr();
    confirmRead(wedge, desk.ports(), 0, resultWithText(text));
    const std::string said = testing::internal::GetCapturedStderr();

    std::vector<std::string> expected;
    const bool control = byte < 0x20 || (byte >= 0x7F && byte < 0xA0);
    const bool noKey = !control && layout.count(static_cast<std::uint32_t>(byte)) == 0;
    if (byte == '\t') {
      expected = pressEvents(layout[TEXT_KEYSYM_TAB]);
    } else if (!control && !noKey) {
      expected = pressEvents(layout[static_cast<std::uint32_t>(byte)]);
    }
    if (!noKey) {
      for (const char* tail : {"+36", "-36", "flush", "beep"}) expected.push_back(tail);
    }
    EXPECT_EQ(desk.events, expected) << "byte 0x" << std::hex << byte;
    EXPECT_EQ(said.empty(), !noKey) << "byte 0x" << std::hex << byte << ": " << said;
    EXPECT_EQ(wedge.holdOff, noKey ? 0 : 5000) << "byte 0x" << std::hex << byte;
  }
}

// The fake desk's German-like layout with every printable ASCII character, the Latin-1 letters of
// the tests, named keysyms (€, œ, Ą) and, as some layouts carry them, Unicode keysyms for Cyrillic.
std::map<std::uint32_t, std::int16_t> richLayout() {
  std::map<std::uint32_t, std::int16_t> layout = germanLikeLayout();
  for (std::uint32_t c = 0x21; c <= 0x7E; ++c) {
    if (layout.count(c) == 0) layout[c] = scan(100 + static_cast<int>(c - 0x21));
  }
  const std::uint32_t extra[] = {0xFC, 0xDF, 0xE4, 0xF6, KEYSYM_EURO_SIGN, KEYSYM_OE, KEYSYM_AOGONEK,
                                 KEYSYM_UNICODE + 0x416, KEYSYM_UNICODE + 0x443, KEYSYM_UNICODE + 0x43A};
  int key = 200;
  for (const std::uint32_t keysym : extra) layout[keysym] = scan(key++);
  return layout;
}

// A Zint symbol's message, read back by the ECC 200 decoder with its meaning.
std::optional<Ecc200Message> zintMessage(const std::string& input, const testsupport::ZintFeatures& features) {
  const auto encoded = testsupport::encodeZintSymbol(ecc200test::bytesOf(input), 0, 0, features);
  if (!encoded) return std::nullopt;
  const std::vector<std::uint8_t> matrix = ecc200test::moduleMatrixOf(*encoded);
  Ecc200Message message;
  if (!decodeEcc200Message(matrix.data(), encoded->cols, encoded->rows, {}, &message)) return std::nullopt;
  return message;
}

DecodeResult resultWithBytes(const std::vector<std::uint8_t>& bytes) {
  DecodeResult result{};
  std::copy(bytes.begin(), bytes.end(), result.text);
  return result;
}

struct TypedRead {
  std::string received;  // UTF-8
  std::string said;      // standard error
};

// Confirms the read of message with the settings on the rich layout.
TypedRead typeRead(const std::vector<std::uint8_t>& bytes, const Ecc200Meaning& meaning,
                   const WedgeSettings& settings = WedgeSettings{}) {
  FakeDesk desk;
  desk.layout = richLayout();
  KeyboardWedge wedge;
  wedge.settings = settings;
  testing::internal::CaptureStderr();
  confirmRead(wedge, desk.ports(), 0, resultWithBytes(bytes), meaning);
  TypedRead read;
  read.said = testing::internal::GetCapturedStderr();
  read.received = desk.receivedUtf8();
  return read;
}

// A read typed as `received` (and a Return), or, when `why` is given, not typed at all and said why.
void expectTypedOrRefused(const TypedRead& read, const std::string& received, const char* why) {
  if (why == nullptr) {
    EXPECT_EQ(read.received, received + "\n");
    EXPECT_EQ(read.said, "");
  } else {
    EXPECT_EQ(read.received, "");
    EXPECT_TRUE(saysNotTyped(read.said, why)) << read.said;
  }
}

// Zint converts each UTF-8 text to the character set of the ECI and writes the designator; the wedge
// types the text as written where the layout has a key for every character, and otherwise nothing, and
// says which character had none.
TEST(WedgeCharacters, EciSymbolsTypeTheirCharacters) {
  const struct {
    int eci;
    const char* input;     // UTF-8
    const char* received;  // UTF-8, before the Return
    std::size_t noKey;
  } cases[] = {
      {26, "Grüße €", "Grüße €", 0},                 // UTF-8; "€" by its named keysym EuroSign
      {3, "Grüße", "Grüße", 0},                      // ISO 8859-1
      {4, "Ąa", "Ąa", 0},                            // ISO 8859-2, Ą by its named keysym
      {17, "€ œ", "€ œ", 0},                         // ISO 8859-15: 0xA4 is "€" there, not "¤"
      {7, "Жук", "Жук", 0},                          // ISO 8859-5; the layout has Unicode keysyms only
      {26, "Жёлтый", "", 5},                         // ё л т ы й on no key: nothing typed
      {20, "テスト", "", 3},                          // Shift JIS, no key for any of them
      {23, "Grüße €", "Grüße €", 0},                 // Windows-1252: "€" is 0x80 there
      {26, "a\\b", "a\\b", 0},                       // a backslash stays single without --aim
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.eci) + " " + c.input);
    testsupport::ZintFeatures features;
    features.eci = c.eci;
    features.utf8Input = true;
    const std::optional<Ecc200Message> message = zintMessage(c.input, features);
    ASSERT_TRUE(message.has_value());
    const TypedRead read = typeRead(message->bytes, message->meaning);
    expectTypedOrRefused(read, c.received, c.noKey == 0 ? nullptr : "has no key on the keyboard layout");
  }
}

// Bytes that are no character of their set are not typed as some other character, and the read is not
// typed at all: standard error says why. Control bytes are left out of the line and the rest is typed.
TEST(WedgeCharacters, BytesThatDoNotConvertStopTheRead) {
  const struct {
    const char* name;
    std::vector<std::uint8_t> bytes;
    std::vector<Ecc200EciMark> ecis;
    const char* received;
    std::size_t noKey;
    std::size_t unconverted;
  } cases[] = {
      {"broken UTF-8", {'a', 0xFF, 'b', 0xC3}, {{26, 0}}, "", 0, 2},
      {"binary data", {'a', 'b'}, {{899, 0}}, "", 0, 2},
      {"ECI after plain Latin-1", {0xFC, 0xC3, 0xBC}, {{26, 1}}, "üü", 0, 0},
      {"a designator past the text is ignored", {0xFC}, {{26, 5}}, "ü", 0, 0},
      {"control bytes are left out of the line", {'a', 0x1D, 'b', '\r'}, {}, "ab", 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Ecc200Meaning meaning;
    meaning.ecis = c.ecis;
    const TypedRead read = typeRead(c.bytes, meaning);
    expectTypedOrRefused(read, c.received, c.unconverted == 0 ? nullptr : "no character of its character set");
  }
}

// GS1 data from Zint's GS1 mode: the separator after a variable-length element is byte 29, typed as
// the --gs text; without it, not typed (and counted).
TEST(WedgeCharacters, GroupSeparatorsTypeTheGsText) {
  const char* input = "[01]09501101530003[10]AB-123[21]XY";
  const struct {
    std::optional<std::string> gs;
    const char* received;
    std::size_t noKey;
  } cases[] = {
      {std::nullopt, "0109501101530003" "10AB-123" "21XY", 0},  // left out, as every control character
      {std::string("\t"), "0109501101530003" "10AB-123\t" "21XY", 0},
      {std::string("<GS>"), "0109501101530003" "10AB-123<GS>" "21XY", 0},
      {std::string(""), "0109501101530003" "10AB-123" "21XY", 0},
      {std::string("€"), "0109501101530003" "10AB-123€" "21XY", 0},
      {std::string("ё"), "", 1},  // no key: nothing of the read is typed
  };
  testsupport::ZintFeatures features;
  features.gs1 = true;
  const std::optional<Ecc200Message> message = zintMessage(input, features);
  ASSERT_TRUE(message.has_value());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.gs ? "--gs=" + *c.gs : "no --gs");
    WedgeSettings settings;
    settings.groupSeparatorText = c.gs;
    const TypedRead read = typeRead(message->bytes, message->meaning, settings);
    expectTypedOrRefused(read, c.received, c.noKey == 0 ? nullptr : "has no key on the keyboard layout");
  }
}

// --aim types the symbology identifier first; under an ECI identifier the text follows the ECI
// protocol: the designator as a backslash and six digits, backslashes of the data doubled.
TEST(WedgeCharacters, AimTypesTheSymbologyIdentifierFirst) {
  testsupport::ZintFeatures plain;
  testsupport::ZintFeatures gs1;
  gs1.gs1 = true;
  testsupport::ZintFeatures utf8;
  utf8.eci = 26;
  utf8.utf8Input = true;
  testsupport::ZintFeatures latin2;
  latin2.eci = 4;
  latin2.utf8Input = true;
  const struct {
    const char* input;
    testsupport::ZintFeatures features;
    std::optional<std::string> gs;
    const char* received;
  } cases[] = {
      {"ABC", plain, std::nullopt, "]d1ABC"},
      {"a\\b", plain, std::nullopt, "]d1a\\b"},
      {"[01]09501101530003[10]AB[21]XY", gs1, std::string("|"), "]d20109501101530003" "10AB|21XY"},
      {"Grüße €", utf8, std::nullopt, "]d4\\000026Grüße €"},
      {"a\\Ą", latin2, std::nullopt, "]d4\\000004a\\\\Ą"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input);
    const std::optional<Ecc200Message> message = zintMessage(c.input, c.features);
    ASSERT_TRUE(message.has_value());
    WedgeSettings settings;
    settings.aimPrefix = true;
    settings.groupSeparatorText = c.gs;
    const TypedRead read = typeRead(message->bytes, message->meaning, settings);
    EXPECT_EQ(read.received, std::string(c.received) + "\n");
    EXPECT_EQ(read.said, "");
  }
}

// A designator in the middle of the data: each stretch in its own set, the escape where it applies.
TEST(WedgeCharacters, AimWritesEachDesignatorWhereItApplies) {
  Ecc200Meaning meaning;
  meaning.ecis = {{3, 0}, {26, 2}};
  WedgeSettings settings;
  settings.aimPrefix = true;
  const TypedRead read = typeRead({0xFC, '\\', 0xC3, 0xBC}, meaning, settings);
  EXPECT_EQ(read.received, "]d4\\000003ü\\\\\\000026ü\n");
}

// The read log keeps the message's bytes, whatever is typed for them.
TEST(WedgeCharacters, LogKeepsTheBytesWhileTheKeysTypeCharacters) {
  FakeDesk desk;
  desk.layout = richLayout();
  LogRecorder log;
  KeyboardWedge wedge;
  wedge.settings.aimPrefix = true;
  wedge.settings.groupSeparatorText = "|";
  AppPorts ports = desk.ports();
  ports.readLog = log.port();
  Ecc200Meaning meaning;
  meaning.ecis = {{26, 0}};
  confirmRead(wedge, ports, 0, resultWithBytes({'a', 0x1D, 0xC3, 0xBC}), meaning);
  EXPECT_EQ(desk.receivedUtf8(), "]d4\\000026a|ü\n");
  EXPECT_EQ(log.lines, (std::vector<std::string>{"a\x1D\xC3\xBC"}));
}

// ---------------------------------------------------------------------------------------------------
// Exactly the symbol's text or nothing: characters the layer binds for the line, held modifiers, a
// keyboard that cannot type, and what the hold-off keeps back.

// The fake desk with a layer that binds the keysyms it is asked for to spare keys 150, 151, ... for the
// length of a line, and records the binding calls among the key events.
struct BindingDesk : FakeDesk {
  int spareKeys = 8;
  std::vector<std::uint32_t> boundKeysyms;

  AppPorts bindingPorts() {
    AppPorts p = ports();
    p.keyboard.bindKeysyms = [this](const std::vector<std::uint32_t>& keysyms) {
      events.push_back("bind " + std::to_string(keysyms.size()));
      for (const std::uint32_t keysym : keysyms) {
        if (layout.count(keysym) != 0 || static_cast<int>(boundKeysyms.size()) >= spareKeys) continue;
        layout[keysym] = scan(150 + static_cast<int>(boundKeysyms.size()));
        boundKeysyms.push_back(keysym);
      }
    };
    p.keyboard.releaseKeysyms = [this] {
      events.push_back("release");
      for (const std::uint32_t keysym : boundKeysyms) layout.erase(keysym);
      boundKeysyms.clear();
    };
    return p;
  }
};

TEST(WedgeExactly, CharactersWithoutAKeyAreBoundForTheLineAndReleasedAfterIt) {
  BindingDesk desk;
  KeyboardWedge wedge;
  AppPorts ports = desk.bindingPorts();
  const std::string message = "Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC \xD0\x96 \xE6\xBC\xA2";  // "Grüße € Ж 漢"
  Ecc200Meaning meaning;
  meaning.ecis = {{26, 0}};
  confirmRead(wedge, ports, 0, message, meaning);
  // Received while bound; the events show one binding before the first key and its release after the
  // flush.
  ASSERT_FALSE(desk.events.empty());
  EXPECT_EQ(desk.events.front(), "bind 5");  // ü ß € Ж 漢: nothing else lacks a key
  const auto flush = std::find(desk.events.begin(), desk.events.end(), "flush");
  ASSERT_NE(flush, desk.events.end());
  EXPECT_EQ(*(flush + 1), "release");
  EXPECT_EQ(desk.beeps, 1);
  EXPECT_TRUE(desk.layout.count(0xFC) == 0) << "the binding outlives its line";
}

TEST(WedgeExactly, ALineThatCannotBeTypedWholeSendsNoKeyAndSaysWhichCharacter) {
  const struct {
    const char* name;
    int spareKeys;
    bool withBinding;
    const char* said;
    const char* band;
  } cases[] = {
      {"no layer binding", 0, false, "'\xE2\x98\x83' (U+2603) has no key", "Not typed: U+2603 has no key on the keyboard layout"},
      {"too few spare keys", 1, true, "has no key on the keyboard layout", "has no key on the keyboard layout"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    BindingDesk desk;
    desk.spareKeys = c.spareKeys;
    LogRecorder log;
    KeyboardWedge wedge;
    AppPorts ports = c.withBinding ? desk.bindingPorts() : desk.ports();
    ports.readLog = log.port();
    Ecc200Meaning meaning;
    meaning.ecis = {{26, 0}};
    desk.now = 700;
    testing::internal::CaptureStderr();
    confirmRead(wedge, ports, 0, std::string("ab\xE2\x98\x83\xE2\x98\x82"), meaning);  // "ab☃☂"
    const std::string said = testing::internal::GetCapturedStderr();
    for (const std::string& e : desk.events) EXPECT_TRUE(e.rfind("bind", 0) == 0 || e == "release") << e;
    EXPECT_EQ(desk.beeps, 0);
    EXPECT_EQ(wedge.holdOff, 0);
    EXPECT_TRUE(saysNotTyped(said, c.said)) << said;
    EXPECT_TRUE(log.lines.empty());
    ASSERT_EQ(log.notTyped.size(), 1u);
    EXPECT_NE(log.notTyped[0].find("has no key on the keyboard layout"), std::string::npos);
    EXPECT_NE(wedgeBandText(wedge, 800, 3000).find(c.band), std::string::npos) << wedgeBandText(wedge, 800, 3000);
    EXPECT_EQ(wedgeBandText(wedge, 3700, 3000), "") << "the band says it for three seconds";
  }
}

// A user holding Ctrl (or Alt, Super, AltGr, Shift) would turn typed keys into commands: the wedge waits
// for the keys to be let go, up to a second, and types nothing while they are held.
TEST(WedgeExactly, HeldModifiersAreWaitedForAndStillHeldStopTheRead) {
  const struct {
    const char* name;
    int heldPolls;  // polls that still see the modifier held
    unsigned held;
    bool typed;
    const char* reason;
  } cases[] = {
      {"none held", 0, KEY_HELD_CONTROL, true, ""},
      {"Ctrl let go within the second", 10, KEY_HELD_CONTROL, true, ""},
      {"Ctrl held on", 1000, KEY_HELD_CONTROL, false, "Ctrl is held down"},
      {"Shift and Alt held on", 1000, KEY_HELD_SHIFT | KEY_HELD_ALT, false, "Shift+Alt is held down"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeDesk desk;
    LogRecorder log;
    KeyboardWedge wedge;
    AppPorts ports = desk.ports();
    ports.readLog = log.port();
    int polls = 0;
    std::uint32_t slept = 0;
    ports.keyboard.heldModifiers = [&polls, &c] { return polls++ < c.heldPolls ? c.held : 0u; };
    ports.clock.sleepMs = [&slept, &desk](std::uint32_t ms) {
      slept += ms;
      desk.now += ms;
    };
    testing::internal::CaptureStderr();
    confirmRead(wedge, ports, 0, resultWithText("Lot 9"));
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(desk.received(), c.typed ? "Lot 9\n" : "");
    EXPECT_EQ(desk.beeps, c.typed ? 1 : 0);
    EXPECT_LE(slept, WEDGE_MODIFIER_WAIT_MS);
    if (!c.typed) {
      EXPECT_TRUE(saysNotTyped(said, c.reason)) << said;
      EXPECT_EQ(log.notTyped, (std::vector<std::string>{std::string("Lot 9: ") + c.reason}));
      EXPECT_EQ(wedge.holdOff, 0);
    }
  }
}

TEST(WedgeExactly, AKeyboardThatCannotTypeNeverReportsAReadAsTyped) {
  FakeDesk desk;
  LogRecorder log;
  KeyboardWedge wedge;
  AppPorts ports = desk.ports();
  ports.readLog = log.port();
  ports.keyboard.canType = false;
  testing::internal::CaptureStderr();
  confirmRead(wedge, ports, 0, resultWithText("Lot 7"));
  EXPECT_TRUE(saysNotTyped(testing::internal::GetCapturedStderr(), "no keyboard can type"));
  EXPECT_TRUE(desk.events.empty()) << "no keys, no beep";
  EXPECT_EQ(wedge.holdOff, 0);
  EXPECT_TRUE(log.lines.empty());
  EXPECT_EQ(log.notTyped, (std::vector<std::string>{"Lot 7: no keyboard can type on this desktop"}));
}

// Messages of any length, NUL bytes in a multi-byte character set included, are typed whole: Zint's
// symbols, read back by the ECC 200 decoder, type Zint's input.
TEST(WedgeExactly, WholeMessagesAreTypedAsTheirCharacters) {
  std::string longText;
  for (int i = 0; i < 1700; ++i) longText += "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"[i % 36];
  const struct {
    const char* name;
    std::string input;  // UTF-8
    int eci;
  } cases[] = {
      {"UTF-16 (ECI 25): a NUL byte in every code unit", "AB\xC3\xBC 42", 25},
      {"UTF-32 (ECI 34)", "Gr\xC3\xBC\xC3\x9F" "e", 34},
      {"1,700 characters", longText, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testsupport::ZintFeatures features;
    features.eci = c.eci;
    features.utf8Input = c.eci != 0;
    const std::optional<Ecc200Message> message = zintMessage(c.input, features);
    ASSERT_TRUE(message.has_value());
    if (c.eci == 25) {
      ASSERT_NE(std::count(message->bytes.begin(), message->bytes.end(), 0), 0);
    }
    FakeDesk desk;
    desk.layout = richLayout();
    LogRecorder log;
    KeyboardWedge wedge;
    AppPorts ports = desk.ports();
    ports.readLog = log.port();
    const std::string bytes(message->bytes.begin(), message->bytes.end());
    confirmRead(wedge, ports, 0, bytes, message->meaning);
    EXPECT_EQ(desk.receivedUtf8(), c.input + "\n");
    EXPECT_EQ(log.lines, (std::vector<std::string>{bytes}));
  }
}

// By default the hold-off keeps every read back, and says so for a different label; with the scope
// "same" it keeps back only the text just typed.
TEST(WedgeHoldOffScope, ADifferentLabelIsHeldOffVisiblyOrTypedAtOnce) {
  const struct {
    HoldOffScope scope;
    const char* received;
    int beeps;
    std::vector<std::string> notTyped;
  } cases[] = {
      {HoldOffScope::Any, "first\n", 1, {"second: hold-off"}},
      {HoldOffScope::Same, "first\nsecond\n", 2, {}},
  };
  for (const auto& c : cases) {
    FakeDesk desk;
    LogRecorder log;
    KeyboardWedge wedge;
    wedge.settings.holdOffScope = c.scope;
    AppPorts ports = desk.ports();
    ports.readLog = log.port();
    desk.now = 1000;
    confirmRead(wedge, ports, 0, resultWithText("first"));
    desk.now = 2000;
    confirmRead(wedge, ports, 0, resultWithText("first"));  // the same label: held off either way
    testing::internal::CaptureStderr();
    for (std::uint32_t at : {2600u, 2700u, 2800u}) {
      desk.now = at;
      confirmRead(wedge, ports, 0, resultWithText("second"));
    }
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(desk.received(), c.received);
    EXPECT_EQ(desk.beeps, c.beeps);
    EXPECT_EQ(log.notTyped, c.notTyped) << "said once for the label in view";
    if (c.scope == HoldOffScope::Any) {
      EXPECT_TRUE(saysNotTyped(said, "hold-off")) << said;
      // Typed at 1000: at 2800 there are 3.2 s of the 5000 ms left.
      EXPECT_EQ(wedgeBandText(wedge, 2800, 3000), "Not typed: wait 3.2 s (hold-off)");
    } else {
      EXPECT_EQ(said, "");
      desk.now = 3000;
      confirmRead(wedge, ports, 0, resultWithText("second"));  // the label just typed stays held off
      EXPECT_EQ(desk.beeps, 2);
    }
  }
}

}  // namespace
