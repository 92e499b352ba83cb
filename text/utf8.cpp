// Well-formed UTF-8 by the table of RFC 3629: the second byte's range narrows after E0, ED, F0 and F4.
#include "text/utf8.h"

#include <cstdint>

std::size_t utf8SequenceLength(std::string_view text, std::size_t at) {
  const auto byte = [&text](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
  const std::uint8_t lead = byte(at);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  std::uint8_t low = 0x80;  // second byte's range, narrowed against overlongs, surrogates and > U+10FFFF
  std::uint8_t high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() - at < length) return 0;
  if (byte(at + 1) < low || byte(at + 1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) return 0;
  }
  return length;
}

bool isValidUtf8(std::string_view text) {
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t length = utf8SequenceLength(text, at);
    if (length == 0) return false;
    at += length;
  }
  return true;
}

std::u32string utf8CodePoints(std::string_view text) {
  static constexpr std::uint8_t LEAD_MASKS[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
  std::u32string characters;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t length = utf8SequenceLength(text, at);
    if (length == 0) {
      characters += U'\uFFFD';
      ++at;
      continue;
    }
    char32_t character = static_cast<std::uint8_t>(text[at]) & LEAD_MASKS[length];
    for (std::size_t i = 1; i < length; ++i) {
      character = (character << 6) | (static_cast<std::uint8_t>(text[at + i]) & 0x3F);
    }
    characters += character;
    at += length;
  }
  return characters;
}
