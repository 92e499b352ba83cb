// Layout names from the keyboard settings, layout compilation, and the keysym-to-key table.
#include "app/uinput/keyboard_layout.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "app/keyboard_port.h"
#include "app/text_keysyms.h"

namespace {

// The layout compiler numbers keys 8 above the kernel's codes.
constexpr int LAYOUT_KEY_CODE_OFFSET = 8;
// Key code 255 cannot be told apart from "no key" in a keysymScan answer, so keys end below it.
constexpr int LAYOUT_MAX_KEY = 254;
// The right Alt key, where every common layout puts AltGr.
constexpr int LAYOUT_RIGHT_ALT_KEY = 100;

constexpr unsigned PRESS_SHIFT = 1;
constexpr unsigned PRESS_ALTGR = 2;
// Modifier combinations to try, fewest keys first.
constexpr unsigned LAYOUT_PRESS_COMBINATIONS[] = {0, PRESS_SHIFT, PRESS_ALTGR, PRESS_SHIFT | PRESS_ALTGR};

// The value of a shell assignment: quoted with " or ', or bare up to blank or comment.
std::string shellValue(const std::string& raw) {
  if (raw.empty()) return raw;
  const char quote = raw[0];
  if (quote == '"' || quote == '\'') {
    const std::size_t end = raw.find(quote, 1);
    return raw.substr(1, end == std::string::npos ? std::string::npos : end - 1);
  }
  return raw.substr(0, raw.find_first_of(" \t#"));
}

XkbStatePtr stateWithLocks(xkb_keymap* keymap, KeyLocks locks) {
  XkbStatePtr state(xkb_state_new(keymap));
  if (!state) return state;
  xkb_mod_mask_t locked = 0;
  const xkb_mod_index_t caps = xkb_keymap_mod_get_index(keymap, XKB_MOD_NAME_CAPS);
  const xkb_mod_index_t num = xkb_keymap_mod_get_index(keymap, XKB_MOD_NAME_NUM);
  if (locks.capsLock && caps != XKB_MOD_INVALID) locked |= 1u << caps;
  if (locks.numLock && num != XKB_MOD_INVALID) locked |= 1u << num;
  xkb_state_update_mask(state.get(), 0, 0, locked, 0, 0, 0);
  return state;
}

// The lowest key whose first level in the first group is the modifier keysym and that really sets a
// modifier when pressed; the preferred key wins when it qualifies.
int findModifierKey(xkb_keymap* keymap, xkb_keysym_t modifierSym, int preferredKey) {
  int found = 0;
  for (int key = 1; key <= LAYOUT_MAX_KEY; ++key) {
    const xkb_keycode_t code = static_cast<xkb_keycode_t>(key + LAYOUT_KEY_CODE_OFFSET);
    const xkb_keysym_t* syms = nullptr;
    if (xkb_keymap_key_get_syms_by_level(keymap, code, 0, 0, &syms) != 1 || syms[0] != modifierSym) continue;
    XkbStatePtr state(xkb_state_new(keymap));
    if (!state) continue;
    xkb_state_update_key(state.get(), code, XKB_KEY_DOWN);
    if (xkb_state_serialize_mods(state.get(), XKB_STATE_MODS_DEPRESSED) == 0) continue;
    if (key == preferredKey) return key;
    if (found == 0) found = key;
  }
  return found;
}

int pressedKeyCount(unsigned press) { return ((press & PRESS_SHIFT) != 0) + ((press & PRESS_ALTGR) != 0); }

}  // namespace

KeyboardLayoutNames parseKeyboardSettings(const std::string& settingsText) {
  KeyboardLayoutNames names;
  std::istringstream lines(settingsText);
  std::string line;
  while (std::getline(lines, line)) {
    std::size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line[start] == '#') continue;
    if (line.compare(start, 7, "export ") == 0) start = line.find_first_not_of(" \t", start + 7);
    const std::size_t equals = line.find('=', start);
    if (equals == std::string::npos) continue;
    const std::string name = line.substr(start, equals - start);
    const std::string value = shellValue(line.substr(equals + 1));
    if (name == "XKBMODEL") names.model = value;
    if (name == "XKBLAYOUT") names.layout = value;
    if (name == "XKBVARIANT") names.variant = value;
    if (name == "XKBOPTIONS") names.options = value;
  }
  return names;
}

KeyboardLayoutNames applyLayoutEnvironment(KeyboardLayoutNames names,
                                           const std::function<const char*(const char*)>& getEnv) {
  auto set = [&getEnv](const char* variable, std::string& field) {
    const char* value = getEnv(variable);
    if (value != nullptr && value[0] != '\0') field = value;
  };
  set("XKB_DEFAULT_RULES", names.rules);
  set("XKB_DEFAULT_MODEL", names.model);
  const char* layout = getEnv("XKB_DEFAULT_LAYOUT");
  if (layout != nullptr && layout[0] != '\0') {
    // A variant belongs to its layout: the file's variant would be wrong for another layout.
    names.layout = layout;
    const char* variant = getEnv("XKB_DEFAULT_VARIANT");
    names.variant = variant != nullptr ? variant : "";
  } else {
    set("XKB_DEFAULT_VARIANT", names.variant);
  }
  set("XKB_DEFAULT_OPTIONS", names.options);
  return names;
}

KeyboardLayoutNames systemLayoutNames() {
  std::ifstream file(KEYBOARD_SETTINGS_PATH);
  std::ostringstream text;
  if (file) text << file.rdbuf();
  return applyLayoutEnvironment(parseKeyboardSettings(text.str()), [](const char* v) { return std::getenv(v); });
}

XkbKeymapPtr compileKeymap(const KeyboardLayoutNames& names) {
  // The environment has been read into the names already; the compiler must not read it again.
  std::unique_ptr<xkb_context, XkbContextRelease> context(xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES));
  if (!context) return nullptr;
  // A failed compilation is reported once by the caller, not line by line by the compiler.
  xkb_context_set_log_level(context.get(), XKB_LOG_LEVEL_CRITICAL);
  auto field = [](const std::string& s) { return s.empty() ? nullptr : s.c_str(); };
  const xkb_rule_names ruleNames{field(names.rules), field(names.model), field(names.layout),
                                 field(names.variant), field(names.options)};
  return XkbKeymapPtr(xkb_keymap_new_from_names(context.get(), &ruleNames, XKB_KEYMAP_COMPILE_NO_FLAGS));
}

KeyLayoutTable buildKeyLayoutTable(xkb_keymap* keymap, KeyLocks locks) {
  KeyLayoutTable table;
  table.shiftKey = findModifierKey(keymap, XKB_KEY_Shift_L, 0);
  table.altGrKey = findModifierKey(keymap, XKB_KEY_ISO_Level3_Shift, LAYOUT_RIGHT_ALT_KEY);

  // symAt[c][key]: the keysym the key gives with combination c held, the locks on and the first group.
  std::array<std::array<xkb_keysym_t, LAYOUT_MAX_KEY + 1>, 4> symAt{};
  for (std::size_t c = 0; c < 4; ++c) {
    const unsigned press = LAYOUT_PRESS_COMBINATIONS[c];
    if ((press & PRESS_SHIFT) != 0 && table.shiftKey == 0) continue;
    if ((press & PRESS_ALTGR) != 0 && table.altGrKey == 0) continue;
    XkbStatePtr state = stateWithLocks(keymap, locks);
    if (!state) continue;
    if ((press & PRESS_SHIFT) != 0) {
      xkb_state_update_key(state.get(), table.shiftKey + LAYOUT_KEY_CODE_OFFSET, XKB_KEY_DOWN);
    }
    if ((press & PRESS_ALTGR) != 0) {
      xkb_state_update_key(state.get(), table.altGrKey + LAYOUT_KEY_CODE_OFFSET, XKB_KEY_DOWN);
    }
    for (int key = 1; key <= LAYOUT_MAX_KEY; ++key) {
      symAt[c][key] = xkb_state_key_get_one_sym(state.get(), key + LAYOUT_KEY_CODE_OFFSET);
    }
  }

  // Combinations in the order of LAYOUT_PRESS_COMBINATIONS (fewest keys first) and keys upward, so
  // the first key found for a keysym needs the fewest modifier keys and, among those, has the lowest
  // code; a later one replaces it only when it needs fewer keys or, with as many, has a lower code (so Shift
  // wins over AltGr on the same key).
  std::unordered_map<std::uint32_t, int> keysNeeded;
  for (std::size_t c = 0; c < 4; ++c) {
    const unsigned press = LAYOUT_PRESS_COMBINATIONS[c];
    const int keys = pressedKeyCount(press);
    int state = 0;
    if ((press & PRESS_SHIFT) != 0) state |= KEY_STATE_SHIFT;
    if ((press & PRESS_ALTGR) != 0) state |= KEY_STATE_ALTGR;
    for (int key = 1; key <= LAYOUT_MAX_KEY; ++key) {
      const xkb_keysym_t sym = symAt[c][key];
      if (!isTextKeysym(sym)) continue;
      const auto found = table.scanByKeysym.find(sym);
      if (found != table.scanByKeysym.end()) {
        const int foundKeys = keysNeeded[sym];
        if (keys > foundKeys || (keys == foundKeys && key >= (found->second & 0xFF))) continue;
      }
      table.scanByKeysym[sym] = static_cast<std::int16_t>((state << 8) | key);
      keysNeeded[sym] = keys;
    }
  }
  return table;
}

std::int16_t layoutKeysymScan(const KeyLayoutTable& table, std::uint32_t keysym) {
  const auto found = table.scanByKeysym.find(keysym);
  return found == table.scanByKeysym.end() ? KEY_SCAN_NONE : found->second;
}

std::string describeLayout(const KeyboardLayoutNames& names) {
  std::string text = names.layout.empty() ? "us" : names.layout;
  if (!names.variant.empty()) text += " (" + names.variant + ")";
  if (!names.options.empty()) text += ", options " + names.options;
  return text;
}
