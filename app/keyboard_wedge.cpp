// Read confirmation: the characters of a read, typing, beep and hold-off.
#include "app/keyboard_wedge.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "app/text_keysyms.h"
#include "text/aim.h"
#include "text/charset.h"
#include "text/gs1.h"
#include "text/utf8.h"

namespace {

constexpr char32_t TAB_CHARACTER = U'\t';

bool isControlCharacter(char32_t ch) { return ch < 0x20 || (ch >= 0x7F && ch <= 0x9F); }

// Presses the key of a keysymScan answer with the modifiers it needs; false when it has no key. A
// keysym whose modifier state asks for Ctrl or Alt alone has no key that types it.
bool typeKey(const KeyboardPort& keyboard, std::int16_t scan, bool withModifiers) {
  const int key = scan & 0xFF;
  const int state = (scan >> 8) & 0xFF;
  if (key == 0xFF || state == 0xFF) return false;
  const bool shift = withModifiers && (state & KEY_STATE_SHIFT) != 0;
  const bool altGr = withModifiers && (state & KEY_STATE_ALTGR) == KEY_STATE_ALTGR;
  if (withModifiers && ((state & KEY_STATE_ALTGR) != 0 && !altGr)) return false;
  if (withModifiers && (state & ~(KEY_STATE_SHIFT | KEY_STATE_ALTGR)) != 0) return false;

  if (shift) keyboard.keyEvent(KEY_SHIFT, 0);
  if (altGr) keyboard.keyEvent(KEY_ALTGR, 0);
  keyboard.keyEvent(key, 0);
  keyboard.keyEvent(key, KEY_EVENT_UP);
  if (altGr) keyboard.keyEvent(KEY_ALTGR, KEY_EVENT_UP);
  if (shift) keyboard.keyEvent(KEY_SHIFT, KEY_EVENT_UP);
  return true;
}

// Types one character by the first of its keysyms the layout has a key for; false when none has.
bool typeCharacter(const KeyboardPort& keyboard, char32_t ch) {
  const CharacterKeysyms keysyms = keysymsForCharacter(ch);
  for (int k = 0; k < keysyms.count; ++k) {
    const std::int16_t scan = keyboard.keysymScan(keysyms.keysyms[k]);
    if (typeKey(keyboard, scan, true)) return true;
  }
  return false;
}

std::string doubledBackslashes(const std::string& text) {
  std::string doubled;
  for (const char ch : text) {
    doubled += ch;
    if (ch == '\\') doubled += '\\';
  }
  return doubled;
}

// The message as text under the ECI protocol: each stretch between designators converted by its own
// character set, backslashes doubled, each designator written as a backslash and six digits.
std::string eciProtocolText(const std::vector<std::uint8_t>& bytes, const std::vector<Ecc200EciMark>& ecis,
                            std::size_t* unconverted) {
  std::string text;
  std::size_t begin = 0;
  int designator = -1;  // ISO 8859-1 before the first designator
  for (std::size_t m = 0; m <= ecis.size(); ++m) {
    const std::size_t end = m < ecis.size() ? ecis[m].byteOffset : bytes.size();
    const std::vector<std::uint8_t> stretch(bytes.begin() + static_cast<std::ptrdiff_t>(begin),
                                            bytes.begin() + static_cast<std::ptrdiff_t>(end));
    std::vector<Ecc200EciMark> stretchEci;
    if (designator >= 0) stretchEci.push_back(Ecc200EciMark{designator, 0});
    const MessageText converted = messageText(stretch, stretchEci);
    *unconverted += converted.unconverted.size();
    text += doubledBackslashes(converted.utf8);
    if (m == ecis.size()) break;
    char escape[16];
    std::snprintf(escape, sizeof escape, "\\%06u", static_cast<unsigned>(ecis[m].designator) % 1000000u);
    text += escape;
    designator = ecis[m].designator;
    begin = end;
  }
  return text;
}

}  // namespace

WedgeText wedgeText(std::string_view bytes, const Ecc200Meaning& meaning, const WedgeSettings& settings) {
  const std::vector<std::uint8_t> message(bytes.begin(), bytes.end());
  // The typed text ends at the result's NUL: designators past it apply to nothing typed.
  std::vector<Ecc200EciMark> ecis;
  for (const Ecc200EciMark& mark : meaning.ecis) {
    if (mark.byteOffset <= message.size()) ecis.push_back(mark);
  }
  WedgeText wedge;
  std::string text;
  if (settings.aimPrefix && !ecis.empty()) {
    text = eciProtocolText(message, ecis, &wedge.unconvertedBytes);
  } else {
    MessageText converted = messageText(message, ecis);
    wedge.unconvertedBytes = converted.unconverted.size();
    text = std::move(converted.utf8);
  }
  // In UTF-8 byte 29 is always the group separator itself, never part of another character.
  if (settings.groupSeparatorText) text = replaceGroupSeparators(text, *settings.groupSeparatorText);
  if (settings.aimPrefix) {
    Ecc200Meaning typed = meaning;
    typed.ecis = ecis;
    text = aimSymbologyIdentifier(typed) + text;
  }
  wedge.characters = utf8CodePoints(text);
  return wedge;
}

std::size_t typeCharacters(const KeyboardPort& keyboard, std::u32string_view characters, TypedSuffix suffix) {
  std::size_t skipped = 0;
  for (const char32_t ch : characters) {
    // A symbol's text is one line: no control character inside it may act as Return, Escape or the
    // like in the focused application. Tab stays, as it only moves between form fields.
    if (isControlCharacter(ch) && ch != TAB_CHARACTER) {
      ++skipped;
      continue;
    }
    if (!typeCharacter(keyboard, ch)) ++skipped;
  }
  // The suffix is a plain Return or Tab, whatever modifiers the layout lists for it.
  if (suffix == TypedSuffix::Return) typeKey(keyboard, keyboard.keysymScan(TEXT_KEYSYM_RETURN), false);
  if (suffix == TypedSuffix::Tab) typeKey(keyboard, keyboard.keysymScan(TEXT_KEYSYM_TAB), false);
  keyboard.flushKeys();
  return skipped;
}

void typeLine(const KeyboardPort& keyboard, const char* text, TypedSuffix suffix) {
  const std::size_t length = strnlen(text, DECODE_TEXT_SIZE - 1);
  std::u32string characters;
  for (std::size_t at = 0; at < length; ++at) characters += static_cast<char32_t>(static_cast<unsigned char>(text[at]));
  typeCharacters(keyboard, characters, suffix);
}

void confirmRead(KeyboardWedge& wedge, const AppPorts& ports, int i, const DecodeResult& result,
                 const Ecc200Meaning& meaning) {
  const WedgeSettings& settings = wedge.settings;
  const std::string_view bytes(result.text, strnlen(result.text, DECODE_TEXT_SIZE - 1));
  if (i == 0 && wedge.holdOff == 0) {
    if (settings.typeReads) {
      // Keys sent while no window has the focus reach nothing: the read stays unaccepted, so the next
      // frame that sees the symbol types it once the user has clicked into an application.
      if (ports.keyboard.hasFocusTarget && !ports.keyboard.hasFocusTarget()) {
        wedge.unfocusedRead = true;
        wedge.unfocusedTick = ports.clock.tickCount();
        return;
      }
      const WedgeText text = wedgeText(bytes, meaning, settings);
      const std::size_t noKey = typeCharacters(ports.keyboard, text.characters, settings.suffix);
      // Said once per read, so that no character vanishes unnoticed.
      if (noKey + text.unconvertedBytes > 0) {
        std::fprintf(stderr,
                     "quarnel: characters of the read not typed: %zu (no key on the keyboard layout: %zu, "
                     "bytes that are no character of their character set: %zu)\n",
                     noKey + text.unconvertedBytes, noKey, text.unconvertedBytes);
      }
    }
    wedge.unfocusedRead = false;
    wedge.holdOff = settings.holdOffMs;
    wedge.lastTypedTick = ports.clock.tickCount();
    if (ports.readLog.append) ports.readLog.append(std::string(bytes));
    if (settings.beep) ports.sound.beep(WEDGE_BEEP_HZ, WEDGE_BEEP_MS);
  } else if (wedge.holdOff > 0) {
    // Unsigned difference: correct across a wrap of the tick counter.
    const std::uint32_t elapsed = ports.clock.tickCount() - wedge.lastTypedTick;
    if (elapsed >= static_cast<std::uint32_t>(wedge.holdOff)) wedge.holdOff = 0;
  }
}
