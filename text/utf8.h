// Well-formed UTF-8: the one rule every text function here checks against.
#ifndef QUARNEL_TEXT_UTF8_H_
#define QUARNEL_TEXT_UTF8_H_

#include <cstddef>
#include <string>
#include <string_view>

// Length of the well-formed UTF-8 sequence that begins at text[at] (1-4), or 0 when none begins there:
// shortest forms only, no surrogates, nothing above U+10FFFF.
std::size_t utf8SequenceLength(std::string_view text, std::size_t at);

// True when the whole text is well-formed UTF-8.
bool isValidUtf8(std::string_view text);

// The characters of a UTF-8 text, for a caller that works character by character (a keyboard types
// one key per character). A byte that begins no well-formed sequence gives U+FFFD.
std::u32string utf8CodePoints(std::string_view text);

#endif  // QUARNEL_TEXT_UTF8_H_
