// Character sets: Zint converts a UTF-8 text to the set of an ECI and writes the symbol; the decoder and
// the conversion must give back the very text Zint was given. Byte-level cases come from the sets' tables.
#include <gtest/gtest.h>

#include <string>

#include "text/charset.h"
#include "decoder/ecc200/ecc200_message.h"
#include "tests/support/ecc200_matrix.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct EciCase {
  int eci;
  const char* utf8Text;
  const char* charset;
};

const EciCase ECI_CASES[] = {
    {3, "Grüße, Ærø ÿ", "ISO-8859-1"},
    {4, "Łódź Žluťoučký kůň", "ISO-8859-2"},
    {5, "Ĉu ĝi ŝanĝiĝas? Ħ ġ", "ISO-8859-3"},
    {6, "Ģirts Ķīla ŗūķ", "ISO-8859-4"},
    {7, "Привет, мир", "ISO-8859-5"},
    {8, "مرحبا", "ISO-8859-6"},
    {9, "Καλημέρα κόσμε", "ISO-8859-7"},
    {10, "שלום עולם", "ISO-8859-8"},
    {11, "İstanbul ğüşı", "ISO-8859-9"},
    {12, "Þórður ŋ ĸ", "ISO-8859-10"},
    {13, "สวัสดี", "ISO-8859-11"},
    {15, "Šiauliai ąčęėįšųūž", "ISO-8859-13"},
    {16, "Ŵŷ ḃ ẁ", "ISO-8859-14"},
    {17, "€ Œœ Ÿ Šš Žž", "ISO-8859-15"},
    {18, "țară științe", "ISO-8859-16"},
    {20, "こんにちは 日本 ｱ", "Shift_JIS"},
    {21, "Łódź €", "windows-1250"},
    {22, "Привет €", "windows-1251"},
    {23, "€ “quotes” Œ", "windows-1252"},
    {24, "مرحبا €", "windows-1256"},
    {25, "Grüße 😀", "UTF-16BE"},
    {26, "Grüße € 😀", "UTF-8"},
    {27, "PLAIN ascii ~", "US-ASCII"},
    {28, "中文測試", "Big5"},
    {29, "中文测试", "GB2312"},
    {30, "안녕하세요", "EUC-KR"},
    {31, "中文测试 纟", "GBK"},
    {32, "中文 😀", "GB18030"},
    {33, "Grüße 😀", "UTF-16LE"},
    {34, "Grüße 😀", "UTF-32BE"},
    {35, "Grüße 😀", "UTF-32LE"},
    {170, "HELLO 646", "ISO-646-INV"},
};

TEST(Charset, ReadsZintSymbolsInEveryCharset) {
  for (const EciCase& c : ECI_CASES) {
    SCOPED_TRACE("ECI " + std::to_string(c.eci));
    testsupport::ZintFeatures features;
    features.eci = c.eci;
    features.utf8Input = true;
    const auto encoded = testsupport::encodeZintSymbol(ecc200test::bytesOf(c.utf8Text), 0, 0, features);
    ASSERT_TRUE(encoded.has_value()) << "Zint refused the text";
    const Bytes matrix = ecc200test::moduleMatrixOf(*encoded);
    Ecc200Message message;
    ASSERT_TRUE(decodeEcc200Message(matrix.data(), encoded->cols, encoded->rows, {}, &message));
    const MessageText text = messageText(message.bytes, message.meaning.ecis);
    EXPECT_EQ(text.utf8, c.utf8Text);
    EXPECT_TRUE(text.unconverted.empty());
    EXPECT_EQ(text.charsets, std::vector<std::string>{c.charset});
    EXPECT_EQ(eciCharsetName(c.eci), c.charset);
  }
}

TEST(Charset, ReadsEachSegmentInItsOwnCharset) {
  const auto encoded = testsupport::encodeZintSegments({{"Grüße ", 3}, {"Привет ", 7}, {"日本 😀", 26}});
  ASSERT_TRUE(encoded.has_value());
  const Bytes matrix = ecc200test::moduleMatrixOf(*encoded);
  Ecc200Message message;
  ASSERT_TRUE(decodeEcc200Message(matrix.data(), encoded->cols, encoded->rows, {}, &message));
  const MessageText text = messageText(message.bytes, message.meaning.ecis);
  EXPECT_EQ(text.utf8, "Grüße Привет 日本 😀");
  EXPECT_TRUE(text.unconverted.empty());
  EXPECT_EQ(text.charsets, (std::vector<std::string>{"ISO-8859-1", "ISO-8859-5", "UTF-8"}));
}

// Without a designator the bytes are ISO 8859-1, as for every symbol made before ECI existed.
TEST(Charset, ReadsUndesignatedBytesAsLatin1) {
  const auto encoded = testsupport::encodeZintSymbol(Bytes{'G', 0xE9, 'a', 0xFF}, 0, 0, {});
  ASSERT_TRUE(encoded.has_value());
  const Bytes matrix = ecc200test::moduleMatrixOf(*encoded);
  Ecc200Message message;
  ASSERT_TRUE(decodeEcc200Message(matrix.data(), encoded->cols, encoded->rows, {}, &message));
  const MessageText text = messageText(message.bytes, message.meaning.ecis);
  EXPECT_EQ(text.utf8, "Géaÿ");
  EXPECT_EQ(text.charsets, std::vector<std::string>{"ISO-8859-1"});
}

struct ByteCase {
  const char* name;
  Bytes bytes;
  std::vector<Ecc200EciMark> ecis;
  std::string utf8;
  std::vector<std::size_t> unconvertedOffsets;  // byte offsets
  std::vector<std::size_t> unconvertedAt;       // their places in the text
};

// Undefined positions and broken sequences, by the tables of each set.
const ByteCase BYTE_CASES[] = {
    {"empty message", {}, {}, "", {}, {}},
    {"latin-1 c1 control", {0x85}, {}, "\xC2\x85", {}, {}},
    {"utf-8 invalid byte", {'A', 0xFF, 'B'}, {{26, 0}}, "AB", {1}, {1}},
    {"utf-8 cut at the end", {'A', 0xE2, 0x82}, {{26, 0}}, "A", {1, 2}, {1, 1}},
    {"utf-8 overlong slash", {0xC0, 0xAF, 'x'}, {{26, 0}}, "x", {0, 1}, {0, 0}},
    {"utf-8 encoded surrogate", {0xED, 0xA0, 0x80, 'x'}, {{26, 0}}, "x", {0, 1, 2}, {0, 0, 0}},
    {"utf-8 above U+10FFFF", {0xF4, 0x90, 0x80, 0x80, 'x'}, {{26, 0}}, "x", {0, 1, 2, 3}, {0, 0, 0, 0}},
    {"utf-8 lead byte F7", {'a', 0xF7, 0xA0, 0x9E, 0x9E}, {{26, 0}}, "a", {1, 2, 3, 4}, {1, 1, 1, 1}},
    {"utf-8 five-byte form", {0xF8, 0x88, 0x80, 0x80, 0x80}, {{26, 0}}, "", {0, 1, 2, 3, 4}, {0, 0, 0, 0, 0}},
    {"utf-8 largest character", {0xF4, 0x8F, 0xBF, 0xBF}, {{26, 0}}, "\xF4\x8F\xBF\xBF", {}, {}},
    {"utf-16be odd length", {0x00, 'A', 0x00}, {{25, 0}}, "A", {2}, {1}},
    {"utf-16be lone high surrogate", {0xD8, 0x3D, 0x00, 'A'}, {{25, 0}}, "A", {0, 1}, {0, 0}},
    {"windows-1252 0x80 is the euro", {0x80}, {{23, 0}}, "€", {}, {}},
    {"windows-1252 0x81 is undefined", {'a', 0x81, 'b'}, {{23, 0}}, "ab", {1}, {1}},
    {"iso-8859-3 0xA5 is undefined", {0xA5, 0xA6}, {{5, 0}}, "Ĥ", {0}, {0}},
    {"iso-8859-6 0xB0 is undefined", {0xB0}, {{8, 0}}, "", {0}, {0}},
    {"ascii above 0x7F", {'a', 0x80}, {{27, 0}}, "a", {1}, {1}},
    {"iso 646 invariant leaves the national positions undefined", {'A', '#', 'b', '\\', '~', '%'}, {{170, 0}},
     "Ab%", {1, 3, 4}, {1, 2, 2}},
    {"ascii defines them", {'#', '\\', '~'}, {{27, 0}}, "#\\~", {}, {}},
    {"ibm437 by eci 0", {0x81, 0x9B}, {{0, 0}}, "ü¢", {}, {}},
    {"ibm437 by eci 2", {0xE1}, {{2, 0}}, "ß", {}, {}},
    {"latin-1 by eci 1", {0xE9}, {{1, 0}}, "é", {}, {}},
    {"shift jis two-byte and single-byte", {0x82, 0xA0, 0x41, 0xB1}, {{20, 0}}, "あAｱ", {}, {}},
    {"shift jis lead byte at the end", {0x41, 0x82}, {{20, 0}}, "A", {1}, {1}},
    {"unassigned eci 14", {'A', 'B'}, {{14, 0}}, "", {0, 1}, {0, 0}},
    {"binary eci 899", {0x00, 0xFF}, {{899, 0}}, "", {0, 1}, {0, 0}},
    {"latin-1 before the first designator", {0xE9, 0xC3, 0xA9}, {{26, 1}}, "éé", {}, {}},
    {"designator at the very end", {'A', 'B'}, {{26, 2}}, "AB", {}, {}},
    {"utf-8 sequence split by a designator", {0xC3, 0xA9}, {{26, 0}, {26, 1}}, "", {0, 1}, {0, 0}},
};

TEST(Charset, ReportsBytesThatAreNoCharacter) {
  for (const ByteCase& c : BYTE_CASES) {
    SCOPED_TRACE(c.name);
    const MessageText text = messageText(c.bytes, c.ecis);
    EXPECT_EQ(text.utf8, c.utf8);
    std::vector<std::size_t> offsets;
    std::vector<std::size_t> places;
    for (const UnconvertedByte& byte : text.unconverted) {
      offsets.push_back(byte.byteOffset);
      places.push_back(byte.textOffset);
      EXPECT_EQ(byte.value, c.bytes[byte.byteOffset]);
    }
    EXPECT_EQ(offsets, c.unconvertedOffsets);
    EXPECT_EQ(places, c.unconvertedAt);
  }
}

TEST(Charset, NamesTheCharsetsInOrder) {
  EXPECT_EQ(messageText({'A'}, {{14, 0}}).charsets, std::vector<std::string>{"ECI 14"});
  EXPECT_EQ(messageText({}, {{26, 0}}).charsets, std::vector<std::string>{"UTF-8"});
  EXPECT_EQ(messageText({'A', 'B', 'C'}, {{26, 1}, {26, 2}}).charsets,
            (std::vector<std::string>{"ISO-8859-1", "UTF-8"}));
  EXPECT_EQ(eciCharsetName(899), "");
  EXPECT_EQ(eciCharsetName(19), "");
}

TEST(Charset, EscapesALineSoNothingIsLost) {
  const struct {
    const char* name;
    Bytes bytes;
    std::vector<Ecc200EciMark> ecis;
    std::string line;
  } cases[] = {
      {"characters as written", {0xC3, 0xBC, ' ', 0xE2, 0x82, 0xAC}, {{26, 0}}, "ü €"},
      {"backslash doubled", {'a', '\\', 'x', '4', '1'}, {}, "a\\\\x41"},
      {"line feed and tab", {'a', '\n', '\t'}, {}, "a\\u000A\\u0009"},
      {"group separator and delete", {0x1D, 0x7F}, {}, "\\u001D\\u007F"},
      {"c1 control", {0x85, 'a'}, {}, "\\u0085a"},
      {"unconverted bytes in place", {'A', 0xFF, 'B', 0xE2}, {{26, 0}}, "A\\xFFB\\xE2"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(escapedLine(messageText(c.bytes, c.ecis)), c.line);
  }
}

}  // namespace
