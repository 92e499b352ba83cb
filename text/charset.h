// Message bytes to Unicode text by the character set each ECI designator selects.
#ifndef QUARNEL_TEXT_CHARSET_H_
#define QUARNEL_TEXT_CHARSET_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "decoder/ecc200/ecc200_message.h"

// A message byte that is not a character of its character set (undefined in the set, a broken or cut
// multi-byte sequence, or a designator whose set is unknown or binary). It is reported, never replaced.
struct UnconvertedByte {
  std::size_t byteOffset;  // index into the message bytes
  std::uint8_t value;
  std::size_t textOffset;  // where in MessageText::utf8 it would stand
};

struct MessageText {
  std::string utf8;                          // the converted characters, always valid UTF-8
  std::vector<UnconvertedByte> unconverted;  // in message order
  std::vector<std::string> charsets;         // the sets the message uses, in order, repeats merged
};

// The name of the character set an ECI designator selects ("UTF-8", "ISO-8859-5", "Shift_JIS"), or an
// empty string for a designator with no character set here (unassigned, or 899 for binary data).
std::string eciCharsetName(int designator);

// Converts the bytes, ISO 8859-1 until the first designator and from each designator on in its set.
MessageText messageText(const std::vector<std::uint8_t>& bytes, const std::vector<Ecc200EciMark>& ecis);

// One line of text for a terminal or a log: every character as UTF-8 except a backslash ("\\"), a
// control character ("\u00HH" for U+0000-U+001F and U+007F-U+009F) and an unconverted byte ("\xHH").
// Nothing is lost: the three escapes tell the original apart.
std::string escapedLine(const MessageText& text);

#endif  // QUARNEL_TEXT_CHARSET_H_
