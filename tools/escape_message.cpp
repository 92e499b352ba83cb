#include "tools/escape_message.h"

#include "text/hex_byte.h"

std::string escapeMessage(const std::vector<std::uint8_t>& message) {
  std::string text;
  for (const std::uint8_t b : message) {
    if (b >= 0x20 && b < 0x7F && b != '\\') {
      text += static_cast<char>(b);
    } else {
      appendEscapedByte(&text, b);
    }
  }
  return text;
}
