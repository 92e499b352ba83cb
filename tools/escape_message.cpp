#include "tools/escape_message.h"

std::string escapeMessage(const std::vector<std::uint8_t>& message) {
  static const char HEX[] = "0123456789ABCDEF";
  std::string text;
  for (const std::uint8_t b : message) {
    if (b >= 0x20 && b < 0x7F && b != '\\') {
      text += static_cast<char>(b);
    } else {
      text += "\\x";
      text += HEX[b >> 4];
      text += HEX[b & 15];
    }
  }
  return text;
}
