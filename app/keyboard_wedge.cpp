// Read confirmation: the characters of a read, typing, beep and hold-off.
#include "app/keyboard_wedge.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "app/text_keysyms.h"
#include "text/aim.h"
#include "text/charset.h"
#include "text/gs1.h"
#include "text/utf8.h"
#include "tools/escape_message.h"

namespace {

constexpr char32_t TAB_CHARACTER = U'\t';

bool isControlCharacter(char32_t ch) { return ch < 0x20 || (ch >= 0x7F && ch <= 0x9F); }

// A key and the modifiers it is pressed with.
struct PlannedKey {
  int key = 0;
  bool shift = false;
  bool altGr = false;
};

// The key of a keysymScan answer with the modifiers it needs; false when it has no key. A keysym whose
// modifier state asks for Ctrl or Alt alone has no key that types it.
bool planKey(std::int16_t scan, bool withModifiers, PlannedKey* planned) {
  const int key = scan & 0xFF;
  const int state = (scan >> 8) & 0xFF;
  if (key == 0xFF || state == 0xFF) return false;
  const bool shift = withModifiers && (state & KEY_STATE_SHIFT) != 0;
  const bool altGr = withModifiers && (state & KEY_STATE_ALTGR) == KEY_STATE_ALTGR;
  if (withModifiers && ((state & KEY_STATE_ALTGR) != 0 && !altGr)) return false;
  if (withModifiers && (state & ~(KEY_STATE_SHIFT | KEY_STATE_ALTGR)) != 0) return false;
  *planned = PlannedKey{key, shift, altGr};
  return true;
}

void pressKey(const KeyboardPort& keyboard, const PlannedKey& planned) {
  if (planned.shift) keyboard.keyEvent(KEY_SHIFT, 0);
  if (planned.altGr) keyboard.keyEvent(KEY_ALTGR, 0);
  keyboard.keyEvent(planned.key, 0);
  keyboard.keyEvent(planned.key, KEY_EVENT_UP);
  if (planned.altGr) keyboard.keyEvent(KEY_ALTGR, KEY_EVENT_UP);
  if (planned.shift) keyboard.keyEvent(KEY_SHIFT, KEY_EVENT_UP);
}

// Presses the key of a keysymScan answer with the modifiers it needs; false when it has no key.
bool typeKey(const KeyboardPort& keyboard, std::int16_t scan, bool withModifiers) {
  PlannedKey planned;
  if (!planKey(scan, withModifiers, &planned)) return false;
  pressKey(keyboard, planned);
  return true;
}

// The key of the first of a character's keysyms the layout has a key for; false when none has.
bool planCharacter(const KeyboardPort& keyboard, char32_t ch, PlannedKey* planned) {
  const CharacterKeysyms keysyms = keysymsForCharacter(ch);
  for (int k = 0; k < keysyms.count; ++k) {
    if (planKey(keyboard.keysymScan(keysyms.keysyms[k]), true, planned)) return true;
  }
  return false;
}

// Types one character by the first of its keysyms the layout has a key for; false when none has.
bool typeCharacter(const KeyboardPort& keyboard, char32_t ch) {
  PlannedKey planned;
  if (!planCharacter(keyboard, ch, &planned)) return false;
  pressKey(keyboard, planned);
  return true;
}

// The suffix is a plain Return or Tab, whatever modifiers the layout lists for it.
std::uint32_t suffixKeysym(TypedSuffix suffix) {
  if (suffix == TypedSuffix::Return) return TEXT_KEYSYM_RETURN;
  if (suffix == TypedSuffix::Tab) return TEXT_KEYSYM_TAB;
  return TEXT_KEYSYM_NONE;
}

// The UTF-8 bytes of one character (a code point below U+110000, not a surrogate).
std::string utf8Of(char32_t ch) {
  std::string bytes;
  if (ch < 0x80) {
    bytes += static_cast<char>(ch);
  } else if (ch < 0x800) {
    bytes += static_cast<char>(0xC0 | (ch >> 6));
    bytes += static_cast<char>(0x80 | (ch & 0x3F));
  } else if (ch < 0x10000) {
    bytes += static_cast<char>(0xE0 | (ch >> 12));
    bytes += static_cast<char>(0x80 | ((ch >> 6) & 0x3F));
    bytes += static_cast<char>(0x80 | (ch & 0x3F));
  } else {
    bytes += static_cast<char>(0xF0 | (ch >> 18));
    bytes += static_cast<char>(0x80 | ((ch >> 12) & 0x3F));
    bytes += static_cast<char>(0x80 | ((ch >> 6) & 0x3F));
    bytes += static_cast<char>(0x80 | (ch & 0x3F));
  }
  return bytes;
}

// A character as the band can write it: itself when printable ASCII, else its code point.
std::string bandCharacter(char32_t ch) {
  char text[16];
  if (ch >= 0x20 && ch < 0x7F) {
    std::snprintf(text, sizeof text, "'%c'", static_cast<char>(ch));
  } else {
    std::snprintf(text, sizeof text, "U+%04X", static_cast<unsigned>(ch));
  }
  return text;
}

std::string heldModifierNames(unsigned held) {
  static const struct {
    unsigned bit;
    const char* name;
  } NAMES[] = {{KEY_HELD_SHIFT, "Shift"},
               {KEY_HELD_CONTROL, "Ctrl"},
               {KEY_HELD_ALT, "Alt"},
               {KEY_HELD_SUPER, "Super"},
               {KEY_HELD_ALTGR, "AltGr"}};
  std::string names;
  for (const auto& entry : NAMES) {
    if ((held & entry.bit) != 0) names += (names.empty() ? "" : "+") + std::string(entry.name);
  }
  return names;
}

// The modifier keys still held after waiting up to WEDGE_MODIFIER_WAIT_MS for them to be let go; 0 when
// none is held or the layer cannot see them. Keys typed under a held Ctrl or Alt would act as commands
// in the focused application.
unsigned modifiersStillHeld(const KeyboardPort& keyboard, const ClockPort& clock) {
  if (!keyboard.heldModifiers) return 0;
  unsigned held = keyboard.heldModifiers();
  for (std::uint32_t waited = 0; held != 0 && waited < WEDGE_MODIFIER_WAIT_MS; waited += WEDGE_MODIFIER_POLL_MS) {
    clock.sleepMs(WEDGE_MODIFIER_POLL_MS);
    held = keyboard.heldModifiers();
  }
  return held;
}

TypingOutcome notTyped(std::string reason, std::string bandReason) {
  return TypingOutcome{false, std::move(reason), std::move(bandReason)};
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

TypingOutcome typeExactly(const KeyboardPort& keyboard, const ClockPort& clock, std::u32string_view characters,
                          TypedSuffix suffix) {
  std::u32string line;
  for (const char32_t ch : characters) {
    // A symbol's text is one line: no control character inside it may act as Return, Escape or the
    // like in the focused application. Tab stays, as it only moves between form fields.
    if (!isControlCharacter(ch) || ch == TAB_CHARACTER) line += ch;
  }
  const unsigned held = modifiersStillHeld(keyboard, clock);
  if (held != 0) {
    const std::string names = heldModifierNames(held);
    return notTyped(names + " is held down", names + " is held down");
  }

  // Every key of the line is known before the first is pressed, so that a line is typed whole or not at
  // all. Characters without a key are offered to the layer to bind first.
  std::vector<PlannedKey> keys(line.size());
  std::vector<std::size_t> missing;  // the characters no key gives yet
  std::vector<std::uint32_t> toBind;
  for (std::size_t c = 0; c < line.size(); ++c) {
    if (planCharacter(keyboard, line[c], &keys[c])) continue;
    missing.push_back(c);
    // A character without any keysym (a surrogate, a non-character) has nothing to bind and stops the line.
    const CharacterKeysyms keysyms = keysymsForCharacter(line[c]);
    if (keysyms.count > 0) toBind.push_back(keysyms.keysyms[0]);
  }
  const bool bound = !toBind.empty() && keyboard.bindKeysyms;
  if (bound) keyboard.bindKeysyms(toBind);
  const auto release = [&keyboard, bound] {
    if (bound && keyboard.releaseKeysyms) keyboard.releaseKeysyms();
  };
  // Binding adds keys and changes none, so only the characters that had none are looked up again.
  for (const std::size_t c : missing) {
    if (!planCharacter(keyboard, line[c], &keys[c])) {
      release();
      char codePoint[16];
      std::snprintf(codePoint, sizeof codePoint, "U+%04X", static_cast<unsigned>(line[c]));
      return notTyped("'" + utf8Of(line[c]) + "' (" + codePoint + ") has no key on the keyboard layout",
                      bandCharacter(line[c]) + " has no key on the keyboard layout");
    }
  }
  PlannedKey suffixKey;
  const std::uint32_t suffixSym = suffixKeysym(suffix);
  if (suffixSym != TEXT_KEYSYM_NONE && !planKey(keyboard.keysymScan(suffixSym), false, &suffixKey)) {
    release();
    const char* name = suffix == TypedSuffix::Tab ? "Tab" : "Return";
    return notTyped(std::string(name) + " has no key on the keyboard layout",
                    std::string(name) + " has no key on the keyboard layout");
  }

  for (const PlannedKey& key : keys) pressKey(keyboard, key);
  if (suffixSym != TEXT_KEYSYM_NONE) pressKey(keyboard, suffixKey);
  keyboard.flushKeys();
  release();
  return TypingOutcome{true, "", ""};
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

namespace {

// Whether the read can be typed now, and types it when it can.
TypingOutcome typeRead(KeyboardWedge& wedge, const AppPorts& ports, std::string_view message,
                       const Ecc200Meaning& meaning) {
  const WedgeSettings& settings = wedge.settings;
  if (!ports.keyboard.canType) return notTyped("no keyboard can type on this desktop", "no keyboard can type");
  // Keys sent while no window has the focus reach nothing: the read stays unaccepted, so the next frame
  // that sees the symbol types it once the user has clicked into an application.
  if (ports.keyboard.hasFocusTarget && !ports.keyboard.hasFocusTarget()) {
    wedge.unfocusedRead = true;
    wedge.unfocusedTick = ports.clock.tickCount();
    return notTyped("no other window has the keyboard focus", "no other window has the keyboard focus.");
  }
  const WedgeText text = wedgeText(message, meaning, settings);
  if (text.unconvertedBytes > 0) {
    const std::string count = std::to_string(text.unconvertedBytes);
    return notTyped(count + " byte(s) of the message are no character of its character set",
                    count + " byte(s) are no character of the character set");
  }
  if (settings.logRequired && ports.readLog.append) {
    std::string error;
    if (!ports.readLog.append(std::string(message), &error)) {
      return notTyped("the log cannot be written: " + error, "log not written (" + error + ")");
    }
    const TypingOutcome outcome = typeExactly(ports.keyboard, ports.clock, text.characters, settings.suffix);
    if (!outcome.typed && ports.readLog.withdrawLast) ports.readLog.withdrawLast();
    return outcome;
  }
  return typeExactly(ports.keyboard, ports.clock, text.characters, settings.suffix);
}

// Says once per label in view, on standard error and in the log, that a read was not typed and why.
void reportNotTyped(KeyboardWedge& wedge, const AppPorts& ports, std::string_view message, const std::string& reason) {
  const std::uint32_t now = ports.clock.tickCount();
  if (wedge.reported && wedge.reportedMessage == message && wedge.reportedReason == reason &&
      now - wedge.reportedTick < WEDGE_REPORT_REPEAT_MS) {
    return;
  }
  wedge.reported = true;
  wedge.reportedMessage = std::string(message);
  wedge.reportedReason = reason;
  wedge.reportedTick = now;
  const std::string escaped = escapeMessage(std::vector<std::uint8_t>(message.begin(), message.end()));
  std::fprintf(stderr, "quarnel: read not typed (%s): %s\n", reason.c_str(), escaped.c_str());
  std::string error;
  if (ports.readLog.appendNotTyped) ports.readLog.appendNotTyped(std::string(message), reason, &error);
}

void noteNotTyped(KeyboardWedge& wedge, const AppPorts& ports, std::string_view message, const TypingOutcome& outcome) {
  wedge.notTypedBand = "Not typed: " + outcome.bandReason;
  wedge.notTypedTick = ports.clock.tickCount();
  reportNotTyped(wedge, ports, message, outcome.reason);
}

void acceptRead(KeyboardWedge& wedge, const AppPorts& ports, std::string_view message) {
  const WedgeSettings& settings = wedge.settings;
  wedge.unfocusedRead = false;
  wedge.notTypedBand.clear();
  wedge.heldOffRead = false;
  wedge.reported = false;
  wedge.holdOff = settings.holdOffMs;
  wedge.lastTypedTick = ports.clock.tickCount();
  wedge.lastTypedMessage = std::string(message);
  // With a required log the line was written before typing.
  const bool loggedAhead = settings.logRequired && settings.typeReads;
  std::string error;
  if (ports.readLog.append && !loggedAhead && !ports.readLog.append(std::string(message), &error)) {
    wedge.logBand = "Log not written: " + error;
    wedge.logTick = ports.clock.tickCount();
  }
  if (settings.beep) ports.sound.beep(WEDGE_BEEP_HZ, WEDGE_BEEP_MS);
}

}  // namespace

void confirmRead(KeyboardWedge& wedge, const AppPorts& ports, int i, std::string_view message,
                 const Ecc200Meaning& meaning) {
  const WedgeSettings& settings = wedge.settings;
  const bool otherText = wedge.holdOff > 0 && message != wedge.lastTypedMessage;
  const bool allowed = wedge.holdOff == 0 || (otherText && settings.holdOffScope == HoldOffScope::Same);
  if (i == 0 && allowed) {
    if (settings.typeReads) {
      const TypingOutcome outcome = typeRead(wedge, ports, message, meaning);
      if (!outcome.typed) {
        noteNotTyped(wedge, ports, message, outcome);
        return;
      }
    }
    acceptRead(wedge, ports, message);
  } else if (wedge.holdOff > 0) {
    // Unsigned difference: correct across a wrap of the tick counter.
    const std::uint32_t elapsed = ports.clock.tickCount() - wedge.lastTypedTick;
    if (elapsed >= static_cast<std::uint32_t>(wedge.holdOff)) {
      wedge.holdOff = 0;
    } else if (i == 0 && otherText && settings.typeReads) {
      // The hold-off keeps a different label from being typed: the band counts it down.
      wedge.heldOffRead = true;
      wedge.heldOffTick = ports.clock.tickCount();
      reportNotTyped(wedge, ports, message, "hold-off");
    }
  }
}

void confirmRead(KeyboardWedge& wedge, const AppPorts& ports, int i, const DecodeResult& result,
                 const Ecc200Meaning& meaning) {
  confirmRead(wedge, ports, i, std::string_view(result.text, strnlen(result.text, DECODE_TEXT_SIZE - 1)), meaning);
}

std::string wedgeBandText(const KeyboardWedge& wedge, std::uint32_t now, std::uint32_t bandMs) {
  if (wedge.heldOffRead && wedge.holdOff > 0 && now - wedge.heldOffTick < bandMs) {
    const std::uint32_t elapsed = now - wedge.lastTypedTick;
    const std::uint32_t holdOff = static_cast<std::uint32_t>(wedge.holdOff);
    if (elapsed < holdOff) {
      char text[64];
      std::snprintf(text, sizeof text, "Not typed: wait %.1f s (hold-off)", (holdOff - elapsed) / 1000.0);
      return text;
    }
  }
  if (!wedge.notTypedBand.empty() && now - wedge.notTypedTick < bandMs) return wedge.notTypedBand;
  if (!wedge.logBand.empty() && now - wedge.logTick < bandMs) return wedge.logBand;
  return "";
}
