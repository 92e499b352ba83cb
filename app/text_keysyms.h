// The keysyms text is typed with, shared by every keyboard layer.
#ifndef QUARNEL_APP_TEXT_KEYSYMS_H_
#define QUARNEL_APP_TEXT_KEYSYMS_H_

#include <cstdint>

constexpr std::uint32_t TEXT_KEYSYM_NONE = 0;
constexpr std::uint32_t TEXT_KEYSYM_RETURN = 0xFF0D;
constexpr std::uint32_t TEXT_KEYSYM_TAB = 0xFF09;
// A character without a keysym of its own is typed as this plus its code point.
constexpr std::uint32_t TEXT_KEYSYM_UNICODE_BASE = 0x01000000;

// Printable ASCII and Latin-1 bytes are their own keysyms; line feed and carriage return are Return,
// tab is Tab, and every other control byte has none.
constexpr std::uint32_t keysymForTextByte(unsigned char ch) {
  if (ch == '\n' || ch == '\r') return TEXT_KEYSYM_RETURN;
  if (ch == '\t') return TEXT_KEYSYM_TAB;
  if ((ch >= 0x20 && ch <= 0x7E) || ch >= 0xA0) return ch;
  return TEXT_KEYSYM_NONE;
}

// The keysyms that type a character, the one layouts use most first; a layout may carry either.
// U+0000..U+00FF as keysymForTextByte; above, the named keysym where X11 has one (EuroSign for "€")
// and the Unicode keysym. Control characters, surrogates and non-characters have none.
struct CharacterKeysyms {
  std::uint32_t keysyms[2] = {TEXT_KEYSYM_NONE, TEXT_KEYSYM_NONE};
  int count = 0;
};
CharacterKeysyms keysymsForCharacter(char32_t ch);

// Whether a keysym is one keysymsForCharacter gives for some character, Return or Tab: the keysyms a
// layout table needs to hold.
bool isTextKeysym(std::uint32_t keysym);

#endif  // QUARNEL_APP_TEXT_KEYSYMS_H_
