// JSON string literals that are always valid UTF-8 JSON, for message texts and for file names, which on
// Linux are bytes and need not be UTF-8.
#ifndef QUARNEL_TEXT_JSON_STRING_H_
#define QUARNEL_TEXT_JSON_STRING_H_

#include <optional>
#include <string>
#include <string_view>

// The JSON string literal, quotes included, of a UTF-8 text. Quote, backslash and the control characters
// (U+0000-U+001F, U+007F) are escaped; every other character is written as it is. Text should be UTF-8
// (MessageText::utf8 always is); a byte that is not part of a well-formed sequence is written as U+FFFD
// so the document stays valid.
std::string jsonString(std::string_view utf8Text);

// The JSON string literal of a file name, reversible for any bytes. The string's value is the name with
// each backslash and each byte that is not part of well-formed UTF-8 written as "\xHH" (two upper-case
// hex digits), the escape the plain output uses for bytes; a UTF-8 name without backslashes is its own
// value. fileNameFromJsonValue turns the value back into the bytes.
std::string jsonFileName(std::string_view name);

// The bytes of a file name from the value of a jsonFileName string; empty when the value holds a
// backslash that does not begin "\xHH".
std::optional<std::string> fileNameFromJsonValue(std::string_view value);

#endif  // QUARNEL_TEXT_JSON_STRING_H_
