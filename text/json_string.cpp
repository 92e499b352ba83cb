// JSON strings. RFC 8259 requires UTF-8 text and escapes for the quote, the backslash and U+0000-U+001F.
#include "text/json_string.h"

#include <cstddef>
#include <cstdint>

#include "text/hex_byte.h"
#include "text/utf8.h"

namespace {

int hexValue(char digit) {
  if (digit >= '0' && digit <= '9') return digit - '0';
  if (digit >= 'A' && digit <= 'F') return digit - 'A' + 10;
  if (digit >= 'a' && digit <= 'f') return digit - 'a' + 10;
  return -1;
}

}  // namespace

std::string jsonString(std::string_view utf8Text) {
  std::string literal = "\"";
  for (std::size_t at = 0; at < utf8Text.size();) {
    const std::size_t length = utf8SequenceLength(utf8Text, at);
    const char character = utf8Text[at];
    if (length == 0) {
      literal += "\\uFFFD";
      ++at;
      continue;
    }
    if (character == '"' || character == '\\') {
      literal += '\\';
      literal += character;
    } else if (character == '\n') {
      literal += "\\n";
    } else if (character == '\t') {
      literal += "\\t";
    } else if (character == '\r') {
      literal += "\\r";
    } else if (length == 1 && (static_cast<std::uint8_t>(character) < 0x20 || character == 0x7F)) {
      literal += "\\u00";
      appendHexByte(&literal, static_cast<std::uint8_t>(character));
    } else {
      literal.append(utf8Text.substr(at, length));
    }
    at += length;
  }
  return literal + "\"";
}

std::string jsonFileName(std::string_view name) {
  std::string value;
  for (std::size_t at = 0; at < name.size();) {
    const std::size_t length = utf8SequenceLength(name, at);
    if (length == 0 || name[at] == '\\') {
      appendEscapedByte(&value, static_cast<std::uint8_t>(name[at]));
      ++at;
    } else {
      value.append(name.substr(at, length));
      at += length;
    }
  }
  return jsonString(value);
}

std::optional<std::string> fileNameFromJsonValue(std::string_view value) {
  std::string name;
  for (std::size_t at = 0; at < value.size(); ++at) {
    if (value[at] != '\\') {
      name += value[at];
      continue;
    }
    if (value.size() - at < 4 || value[at + 1] != 'x') return std::nullopt;
    const int high = hexValue(value[at + 2]);
    const int low = hexValue(value[at + 3]);
    if (high < 0 || low < 0) return std::nullopt;
    name += static_cast<char>(high * 16 + low);
    at += 3;
  }
  return name;
}
