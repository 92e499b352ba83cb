// Characters to keysyms, with the layout compiler's table of the named keysyms.
#include "app/text_keysyms.h"

#include <xkbcommon/xkbcommon.h>

namespace {

constexpr char32_t LAST_LATIN1 = 0xFF;
constexpr char32_t FIRST_C1_CONTROL = 0x80;
constexpr char32_t LAST_C1_CONTROL = 0x9F;
constexpr char32_t LAST_CODE_POINT = 0x10FFFF;

bool isCharacterToType(char32_t ch) {
  if (ch >= FIRST_C1_CONTROL && ch <= LAST_C1_CONTROL) return false;
  if (ch >= 0xD800 && ch <= 0xDFFF) return false;              // surrogates
  if ((ch >= 0xFDD0 && ch <= 0xFDEF) || (ch & 0xFFFE) == 0xFFFE) return false;  // non-characters
  return ch <= LAST_CODE_POINT;
}

}  // namespace

CharacterKeysyms keysymsForCharacter(char32_t ch) {
  CharacterKeysyms found;
  if (ch <= LAST_LATIN1) {
    const std::uint32_t keysym = keysymForTextByte(static_cast<unsigned char>(ch));
    if (keysym != TEXT_KEYSYM_NONE) found.keysyms[found.count++] = keysym;
    return found;
  }
  if (!isCharacterToType(ch)) return found;
  const std::uint32_t unicode = TEXT_KEYSYM_UNICODE_BASE + static_cast<std::uint32_t>(ch);
  const xkb_keysym_t named = xkb_utf32_to_keysym(static_cast<std::uint32_t>(ch));
  if (named != XKB_KEY_NoSymbol && named != unicode) found.keysyms[found.count++] = named;
  found.keysyms[found.count++] = unicode;
  return found;
}

bool isTextKeysym(std::uint32_t keysym) {
  if (keysym == TEXT_KEYSYM_NONE) return false;
  if (keysym == TEXT_KEYSYM_RETURN || keysym == TEXT_KEYSYM_TAB) return true;
  if (keysym <= LAST_LATIN1) return keysymForTextByte(static_cast<unsigned char>(keysym)) == keysym;
  const char32_t ch = xkb_keysym_to_utf32(keysym);
  if (ch <= LAST_LATIN1) return false;  // keypad keys, and Latin-1 written as Unicode keysyms
  const CharacterKeysyms forCharacter = keysymsForCharacter(ch);
  for (int k = 0; k < forCharacter.count; ++k) {
    if (forCharacter.keysyms[k] == keysym) return true;
  }
  return false;
}
