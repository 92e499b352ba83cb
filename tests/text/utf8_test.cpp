// UTF-8 to characters, by the encoding table of RFC 3629.
#include <gtest/gtest.h>

#include <string>

#include "text/utf8.h"

namespace {

TEST(Utf8, DecodesCharactersOfEveryLength) {
  const struct {
    const char* name;
    std::string text;
    std::u32string characters;
  } cases[] = {
      {"empty", "", U""},
      {"ascii and NUL", std::string("A\0", 2), std::u32string(U"A\0", 2)},
      {"two bytes, first and last", "\xC2\x80\xDF\xBF", U"\u0080\u07FF"},
      {"three bytes, first and last", "\xE0\xA0\x80\xEF\xBF\xBF", U"\u0800\uFFFF"},
      {"four bytes, first and last", "\xF0\x90\x80\x80\xF4\x8F\xBF\xBF", U"\U00010000\U0010FFFF"},
      {"mixed text", "Grüße € 😀", U"Grüße € 😀"},
      {"lone continuation byte", "a\x80" "b", U"a\uFFFDb"},
      {"overlong two bytes", "\xC1\xBF", U"\uFFFD\uFFFD"},
      {"encoded surrogate", "\xED\xA0\x80", U"\uFFFD\uFFFD\uFFFD"},
      {"above U+10FFFF", "\xF4\x90\x80\x80", U"\uFFFD\uFFFD\uFFFD\uFFFD"},
      {"cut at the end", "a\xF0\x9F\x98", U"a\uFFFD\uFFFD\uFFFD"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(utf8CodePoints(c.text), c.characters);
    EXPECT_EQ(isValidUtf8(c.text), c.characters.find(U'\uFFFD') == std::u32string::npos);
  }
}

}  // namespace
