// JSON strings. RFC 8259 requires UTF-8 text and escapes for the quote, the backslash and U+0000-U+001F.
#include "json_string.h"

#include <cstddef>
#include <cstdint>

namespace {

const char HEX_DIGITS[] = "0123456789ABCDEF";

// Length of the well-formed UTF-8 sequence at text[at], or 0 when the byte there does not begin one.
std::size_t utf8SequenceLength(std::string_view text, std::size_t at) {
  const auto byte = [&text](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
  const std::uint8_t lead = byte(at);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  std::uint8_t low = 0x80;  // the second byte's range narrows to exclude overlongs, surrogates and > U+10FFFF
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

void appendHexByte(std::string* out, std::uint8_t value) {
  *out += HEX_DIGITS[value >> 4];
  *out += HEX_DIGITS[value & 15];
}

int hexValue(char digit) {
  if (digit >= '0' && digit <= '9') return digit - '0';
  if (digit >= 'A' && digit <= 'F') return digit - 'A' + 10;
  if (digit >= 'a' && digit <= 'f') return digit - 'a' + 10;
  return -1;
}

}  // namespace

bool isValidUtf8(std::string_view text) {
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t length = utf8SequenceLength(text, at);
    if (length == 0) return false;
    at += length;
  }
  return true;
}

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
      value += "\\x";
      appendHexByte(&value, static_cast<std::uint8_t>(name[at]));
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
