// The keysym each text byte is typed as, shared by every keyboard layer.
#ifndef QUARNEL_APP_TEXT_KEYSYMS_H_
#define QUARNEL_APP_TEXT_KEYSYMS_H_

#include <cstdint>

constexpr std::uint32_t TEXT_KEYSYM_NONE = 0;
constexpr std::uint32_t TEXT_KEYSYM_RETURN = 0xFF0D;
constexpr std::uint32_t TEXT_KEYSYM_TAB = 0xFF09;

// Printable ASCII and Latin-1 bytes are their own keysyms; line feed and carriage return are Return,
// tab is Tab, and every other control byte has none.
constexpr std::uint32_t keysymForTextByte(unsigned char ch) {
  if (ch == '\n' || ch == '\r') return TEXT_KEYSYM_RETURN;
  if (ch == '\t') return TEXT_KEYSYM_TAB;
  if ((ch >= 0x20 && ch <= 0x7E) || ch >= 0xA0) return ch;
  return TEXT_KEYSYM_NONE;
}

#endif  // QUARNEL_APP_TEXT_KEYSYMS_H_
