// The virtual keyboard's layout table: every key and modifier it picks, pressed on a state of the
// layout compiler for the same layout, must give exactly the character; characters a layout lacks, or
// reaches only through a dead key, have no key.
#include "app/uinput/keyboard_layout.h"

#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include <cstdint>
#include <map>
#include <string>

#include "app/keyboard_port.h"
#include "app/text_keysyms.h"

namespace {

// The table's answer for a text byte, by the keysym the byte is typed with.
std::int16_t byteScan(const KeyLayoutTable& table, int byte) {
  return layoutKeysymScan(table, keysymForTextByte(static_cast<unsigned char>(byte)));
}

constexpr int LAYOUT_CODE_OFFSET = 8;

XkbKeymapPtr layoutFor(const std::string& layout, const std::string& variant = "") {
  KeyboardLayoutNames names;
  names.layout = layout;
  names.variant = variant;
  return compileKeymap(names);
}

// The character a user of the layout gets when the keysymScan answer's keys are pressed with the locks
// on: modifier keys down first, then the key; 0 when it types nothing.
std::uint32_t typedCharacter(xkb_keymap* keymap, const KeyLayoutTable& table, std::int16_t scan,
                             KeyLocks locks) {
  XkbStatePtr state(xkb_state_new(keymap));
  xkb_mod_mask_t locked = 0;
  if (locks.capsLock) locked |= 1u << xkb_keymap_mod_get_index(keymap, XKB_MOD_NAME_CAPS);
  if (locks.numLock) locked |= 1u << xkb_keymap_mod_get_index(keymap, XKB_MOD_NAME_NUM);
  xkb_state_update_mask(state.get(), 0, 0, locked, 0, 0, 0);
  const int modifiers = (scan >> 8) & 0xFF;
  if ((modifiers & KEY_STATE_SHIFT) != 0) {
    xkb_state_update_key(state.get(), table.shiftKey + LAYOUT_CODE_OFFSET, XKB_KEY_DOWN);
  }
  if ((modifiers & KEY_STATE_ALTGR) == KEY_STATE_ALTGR) {
    xkb_state_update_key(state.get(), table.altGrKey + LAYOUT_CODE_OFFSET, XKB_KEY_DOWN);
  }
  return xkb_state_key_get_utf32(state.get(), (scan & 0xFF) + LAYOUT_CODE_OFFSET);
}

std::string printableAscii() {
  std::string text;
  for (int c = 0x20; c <= 0x7E; ++c) text += static_cast<char>(c);
  return text;
}

std::string without(std::string text, const std::string& removed) {
  for (char c : removed) text.erase(text.find(c), 1);
  return text;
}

// Latin-1 text written as UTF-8 in the source, turned into the bytes a symbol carries.
std::string latin1(const std::string& utf8) {
  std::string bytes;
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    if (lead < 0x80) {
      bytes += static_cast<char>(lead);
    } else {
      bytes += static_cast<char>(((lead & 0x03) << 6) | (static_cast<unsigned char>(utf8[++i]) & 0x3F));
    }
  }
  return bytes;
}

struct LayoutCase {
  const char* layout;
  const char* variant;
  std::string typed;     // bytes that must have a key
  std::string untyped;   // bytes that must have none
};

void PrintTo(const LayoutCase& row, std::ostream* out) { *out << row.layout << "(" << row.variant << ")"; }

class LayoutTableTest : public testing::TestWithParam<LayoutCase> {};

TEST_P(LayoutTableTest, EveryKeyFoundTypesItsCharacterAndTheLayoutsCharactersAreFound) {
  const LayoutCase& row = GetParam();
  const XkbKeymapPtr keymap = layoutFor(row.layout, row.variant);
  ASSERT_TRUE(keymap) << row.layout;
  for (const KeyLocks locks : {KeyLocks{false, false}, KeyLocks{true, false}, KeyLocks{false, true}}) {
    SCOPED_TRACE(std::string("caps lock ") + (locks.capsLock ? "on" : "off") + ", num lock " +
                 (locks.numLock ? "on" : "off"));
    const KeyLayoutTable table = buildKeyLayoutTable(keymap.get(), locks);
    EXPECT_NE(table.shiftKey, 0);
    for (int byte = 0x20; byte <= 0xFF; ++byte) {
      if (byte >= 0x7F && byte < 0xA0) continue;
      const std::int16_t scan = byteScan(table, byte);
      if (scan == KEY_SCAN_NONE) continue;
      EXPECT_EQ(typedCharacter(keymap.get(), table, scan, locks), static_cast<std::uint32_t>(byte))
          << "byte 0x" << std::hex << byte << " scan 0x" << scan;
    }
    // Every keysym in the table, beyond Latin-1 too, types the character of that keysym.
    for (const auto& [keysym, scan] : table.scanByKeysym) {
      EXPECT_EQ(typedCharacter(keymap.get(), table, scan, locks), xkb_keysym_to_utf32(keysym))
          << "keysym 0x" << std::hex << keysym << " scan 0x" << scan;
    }
    // Caps Lock capitalises some keys past reach (ß, é on fr's digit row); the lists hold without locks.
    if (locks.capsLock || locks.numLock) continue;
    for (char c : row.typed) {
      EXPECT_NE(byteScan(table, static_cast<unsigned char>(c)), KEY_SCAN_NONE)
          << "no key for 0x" << std::hex << int(static_cast<unsigned char>(c));
    }
    for (char c : row.untyped) {
      EXPECT_EQ(byteScan(table, static_cast<unsigned char>(c)), KEY_SCAN_NONE)
          << "a key for 0x" << std::hex << int(static_cast<unsigned char>(c));
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, LayoutTableTest,
    testing::Values(
        LayoutCase{"us", "", printableAscii(), latin1("äöüßéèàç£§°µ")},
        LayoutCase{"gb", "", printableAscii() + latin1("£¬¦ß"), latin1("äöü")},
        // '^', '`' and '´' sit only on dead keys.
        LayoutCase{"de", "", without(printableAscii(), "^`") + latin1("äöüÄÖÜß§°µ²³"), latin1("^`´âê")},
        LayoutCase{"de", "nodeadkeys", printableAscii() + latin1("äöüÄÖÜß´"), latin1("âê")},
        // Circumflex letters only through the dead circumflex.
        LayoutCase{"fr", "", printableAscii() + latin1("éèàçù²µ§"), latin1("âêîôûÂÊ")}),
    [](const testing::TestParamInfo<LayoutCase>& info) {
      return std::string(info.param.layout) + (info.param.variant[0] ? std::string("_") + info.param.variant : "");
    });

// Single facts of the layouts, with key codes as the kernel numbers the keys.
struct KeyCase {
  const char* layout;
  unsigned char byte;
  int key;
  int modifiers;
};

TEST(LayoutTable, PicksTheKeyAndModifiersAUserOfTheLayoutPresses) {
  const KeyCase cases[] = {
      {"us", 'a', KEY_A, 0},
      {"us", 'A', KEY_A, KEY_STATE_SHIFT},
      {"us", ' ', KEY_SPACE, 0},
      {"us", '\n', KEY_ENTER, 0},
      {"us", '\r', KEY_ENTER, 0},
      {"us", '\t', KEY_TAB, 0},
      {"us", '1', KEY_1, 0},  // the main row, not the keypad
      {"de", 'z', KEY_Y, 0},
      {"de", '@', KEY_Q, KEY_STATE_ALTGR},
      {"de", 0xE4, KEY_APOSTROPHE, 0},                 // ä
      {"de", 0xC4, KEY_APOSTROPHE, KEY_STATE_SHIFT},   // Ä
      {"fr", 'a', KEY_Q, 0},
      {"fr", '1', KEY_1, KEY_STATE_SHIFT},
      {"fr", '~', KEY_2, KEY_STATE_ALTGR},
      {"gb", '\\', KEY_102ND, 0},
      {"gb", 0xA3, KEY_3, KEY_STATE_SHIFT},            // £
  };
  std::map<std::string, KeyLayoutTable> tables;
  for (const KeyCase& row : cases) {
    if (tables.count(row.layout) == 0) {
      const XkbKeymapPtr keymap = layoutFor(row.layout);
      ASSERT_TRUE(keymap) << row.layout;
      tables[row.layout] = buildKeyLayoutTable(keymap.get(), KeyLocks{});
      EXPECT_EQ(tables[row.layout].shiftKey, KEY_LEFTSHIFT);
    }
    EXPECT_EQ(byteScan(tables[row.layout], row.byte), (row.modifiers << 8) | row.key)
        << row.layout << " byte 0x" << std::hex << int(row.byte);
  }
  EXPECT_EQ(tables["de"].altGrKey, KEY_RIGHTALT);
}

// Characters beyond Latin-1 by the keysyms they are typed with: named ones where X11 has them, or
// Unicode keysyms, whichever the layout carries.
TEST(LayoutTable, CharactersBeyondLatin1HaveTheirKeys) {
  const struct {
    const char* layout;
    char32_t character;
    int key;  // 0: no key
    int modifiers;
  } cases[] = {
      {"de", U'\u20AC', KEY_E, KEY_STATE_ALTGR},           // €
      {"us", U'\u20AC', 0, 0},
      {"ru", U'\u0436', KEY_SEMICOLON, 0},                  // ж
      {"ru", U'\u0416', KEY_SEMICOLON, KEY_STATE_SHIFT},    // Ж
      {"pl", U'\u0105', KEY_A, KEY_STATE_ALTGR},            // ą
      {"pl", U'\u0104', KEY_A, KEY_STATE_SHIFT | KEY_STATE_ALTGR},  // Ą
      {"us", U'\u0436', 0, 0},
  };
  std::map<std::string, KeyLayoutTable> tables;
  for (const auto& row : cases) {
    if (tables.count(row.layout) == 0) {
      const XkbKeymapPtr keymap = layoutFor(row.layout);
      ASSERT_TRUE(keymap) << row.layout;
      tables[row.layout] = buildKeyLayoutTable(keymap.get(), KeyLocks{});
    }
    const CharacterKeysyms keysyms = keysymsForCharacter(row.character);
    std::int16_t found = KEY_SCAN_NONE;
    for (int k = 0; k < keysyms.count && found == KEY_SCAN_NONE; ++k) {
      found = layoutKeysymScan(tables[row.layout], keysyms.keysyms[k]);
    }
    const std::int16_t expected =
        row.key == 0 ? KEY_SCAN_NONE : static_cast<std::int16_t>((row.modifiers << 8) | row.key);
    EXPECT_EQ(found, expected) << row.layout << " U+" << std::hex << static_cast<std::uint32_t>(row.character);
  }
}

TEST(LayoutTable, CapsLockIsUndoneWithShiftSoCaseStaysAsWritten) {
  const XkbKeymapPtr keymap = layoutFor("de");
  ASSERT_TRUE(keymap);
  const KeyLayoutTable table = buildKeyLayoutTable(keymap.get(), KeyLocks{true, false});
  EXPECT_EQ(byteScan(table, 'a'), (KEY_STATE_SHIFT << 8) | KEY_A);
  EXPECT_EQ(byteScan(table, 'A'), KEY_A);
  EXPECT_EQ(byteScan(table, 0xFC), (KEY_STATE_SHIFT << 8) | KEY_LEFTBRACE);  // ü
  EXPECT_EQ(byteScan(table, '1'), KEY_1);
  // Capitalised by Caps Lock and on no other key: skipped rather than typed as another letter.
  EXPECT_EQ(byteScan(table, 0xDF), KEY_SCAN_NONE);  // ß
}

TEST(LayoutTable, FirstLayoutOfSeveralIsTheOneUsed) {
  const XkbKeymapPtr keymap = layoutFor("de,us");
  ASSERT_TRUE(keymap);
  const KeyLayoutTable table = buildKeyLayoutTable(keymap.get(), KeyLocks{});
  EXPECT_EQ(byteScan(table, 'z'), KEY_Y);
}

TEST(LayoutTable, ControlBytesOtherThanLineEndsAndTabHaveNoKey) {
  const XkbKeymapPtr keymap = layoutFor("us");
  ASSERT_TRUE(keymap);
  const KeyLayoutTable table = buildKeyLayoutTable(keymap.get(), KeyLocks{});
  for (int byte = 0; byte < 0xA0; ++byte) {
    if ((byte >= 0x20 && byte < 0x7F) || byte == '\n' || byte == '\r' || byte == '\t') continue;
    EXPECT_EQ(byteScan(table, byte), KEY_SCAN_NONE) << "byte 0x" << std::hex << byte;
  }
}

TEST(LayoutTable, UnknownLayoutDoesNotCompile) {
  EXPECT_FALSE(layoutFor("no-such-layout"));
  EXPECT_FALSE(layoutFor("de", "no-such-variant"));
}

TEST(KeyboardSettings, ReadsTheLayoutNamesOfTheSettingsFile) {
  const std::string file =
      "# KEYBOARD CONFIGURATION FILE\n"
      "\n"
      "# Consult the keyboard(5) manual page.\n"
      "XKBMODEL=\"pc105\"\n"
      "  XKBLAYOUT='de,us'   # two layouts\n"
      "XKBVARIANT=nodeadkeys,\n"
      "XKBOPTIONS=\"grp:alt_shift_toggle,lv3:ralt_switch\"\n"
      "BACKSPACE=\"guess\"\n"
      "export XKBRULES=ignored\n";
  const KeyboardLayoutNames names = parseKeyboardSettings(file);
  EXPECT_EQ(names.rules, "");
  EXPECT_EQ(names.model, "pc105");
  EXPECT_EQ(names.layout, "de,us");
  EXPECT_EQ(names.variant, "nodeadkeys,");
  EXPECT_EQ(names.options, "grp:alt_shift_toggle,lv3:ralt_switch");
  EXPECT_EQ(describeLayout(names), "de,us (nodeadkeys,), options grp:alt_shift_toggle,lv3:ralt_switch");
  EXPECT_EQ(describeLayout(parseKeyboardSettings("")), "us");
}

TEST(KeyboardSettings, EnvironmentOverridesTheFile) {
  KeyboardLayoutNames file;
  file.model = "pc105";
  file.layout = "de";
  file.variant = "nodeadkeys";
  file.options = "ctrl:nocaps";
  struct Row {
    std::map<std::string, std::string> environment;
    const char* layout;
    const char* variant;
    const char* options;
  };
  const Row rows[] = {
      {{}, "de", "nodeadkeys", "ctrl:nocaps"},
      // The file's variant belongs to the file's layout.
      {{{"XKB_DEFAULT_LAYOUT", "fr"}}, "fr", "", "ctrl:nocaps"},
      {{{"XKB_DEFAULT_LAYOUT", "fr"}, {"XKB_DEFAULT_VARIANT", "oss"}}, "fr", "oss", "ctrl:nocaps"},
      {{{"XKB_DEFAULT_VARIANT", "deadacute"}}, "de", "deadacute", "ctrl:nocaps"},
      {{{"XKB_DEFAULT_OPTIONS", "lv3:ralt_switch"}}, "de", "nodeadkeys", "lv3:ralt_switch"},
      // An empty variable is as good as none.
      {{{"XKB_DEFAULT_LAYOUT", ""}}, "de", "nodeadkeys", "ctrl:nocaps"},
  };
  for (const Row& row : rows) {
    const KeyboardLayoutNames names = applyLayoutEnvironment(file, [&row](const char* name) -> const char* {
      const auto found = row.environment.find(name);
      return found == row.environment.end() ? nullptr : found->second.c_str();
    });
    EXPECT_EQ(names.layout, row.layout);
    EXPECT_EQ(names.variant, row.variant);
    EXPECT_EQ(names.options, row.options);
    EXPECT_EQ(names.model, "pc105");
  }
}

}  // namespace
