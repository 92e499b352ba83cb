// A byte as two hexadecimal digits, and the \xHH escape written with them: the one hex table every text
// output uses.
#ifndef QUARNEL_TEXT_HEX_BYTE_H_
#define QUARNEL_TEXT_HEX_BYTE_H_

#include <cstdint>
#include <string>

enum class HexDigits { Upper, Lower };

inline void appendHexByte(std::string* out, std::uint8_t value, HexDigits digits = HexDigits::Upper) {
  const char* table = digits == HexDigits::Upper ? "0123456789ABCDEF" : "0123456789abcdef";
  *out += table[value >> 4];
  *out += table[value & 15];
}

inline std::string hexByte(std::uint8_t value, HexDigits digits = HexDigits::Upper) {
  std::string text;
  appendHexByte(&text, value, digits);
  return text;
}

// "\x" and the byte's two digits, so that a byte which cannot stand for itself in a line still shows.
inline void appendEscapedByte(std::string* out, std::uint8_t value, HexDigits digits = HexDigits::Upper) {
  *out += "\\x";
  appendHexByte(out, value, digits);
}

#endif  // QUARNEL_TEXT_HEX_BYTE_H_
