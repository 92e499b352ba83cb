// Encodation: hand-assembled data codeword streams with the bytes the standard's tables give for them.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "tests/support/ecc200_matrix.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct StreamCase {
  const char* name;
  Bytes codewords;
  std::optional<std::string> expected;  // nullopt: the stream must be refused
};

const std::string MACRO05 = std::string("[)>\x1E") + "05\x1D";
const std::string MACRO06 = std::string("[)>\x1E") + "06\x1D";
const std::string MACRO_END = "\x1E\x04";

// C40/Text/X12 pairs are 1600 a + 40 b + c + 1 split into two bytes; values below are worked out by hand
// from the character sets. Pads after the first are 129 + ((149 p) mod 253) + 1 (minus 254 above 254).
const StreamCase STREAM_CASES[] = {
    // ASCII
    {"ascii character", {66}, "A"},
    {"ascii value 1 is NUL", {1, 66}, std::string("\0A", 2)},
    {"digit pairs 00 12 99", {130, 142, 229}, "001299"},
    {"upper shift", {235, 66}, "\xC1"},
    {"upper shift of value 128", {235, 128}, "\xFF"},
    {"empty message is only padding", {129, 175, 70}, ""},
    {"first pad ends the message", {66, 129}, "A"},
    {"later pads are randomised", {66, 129, 70, 220}, "A"},
    {"unrandomised second pad", {66, 129, 129}, std::nullopt},
    {"data after pad", {66, 129, 66}, std::nullopt},
    {"codeword 0", {66, 0}, std::nullopt},
    {"unused codeword 242", {242}, std::nullopt},
    {"unused codeword 255", {66, 255}, std::nullopt},
    {"unlatch in ascii", {254, 66}, std::nullopt},
    {"upper shift at end of data", {66, 235}, std::nullopt},
    {"upper shift of a digit pair", {235, 142}, std::nullopt},
    {"upper shift of a pad", {235, 129}, std::nullopt},
    // C40
    {"c40 triple", {230, 91, 11}, "AIM"},
    {"c40 unlatch to ascii", {230, 91, 11, 254, 66}, "AIMA"},
    {"c40 last codeword is ascii", {230, 91, 11, 66}, "AIMA"},
    {"c40 unlatch as last codeword", {230, 91, 11, 254}, "AIM"},
    {"c40 unlatch then pad", {230, 91, 11, 254, 129}, "AIM"},
    {"c40 shift 1 filler at the end", {230, 89, 217}, "AB"},
    {"c40 shift 1 control character", {230, 1, 108}, "\t "},
    {"c40 shift 2 punctuation", {230, 6, 68}, "! "},
    {"c40 shift 2 FNC1", {230, 10, 135}, "\x1D" "A"},
    {"c40 shift 3 lower case", {230, 12, 172}, "a "},
    {"c40 shift 3 value 0", {230, 12, 132}, "` "},
    {"c40 upper shift", {230, 10, 255}, "\xC1"},
    {"c40 upper shift over a pair boundary", {230, 10, 241, 31, 188}, "\x85  "},
    {"c40 largest pair", {230, 250, 0}, "ZZZ"},
    {"c40 pair above 64000", {230, 250, 1}, std::nullopt},
    {"c40 shift 2 value 28", {230, 10, 164}, std::nullopt},
    {"c40 shift 3 value 32", {230, 17, 132}, std::nullopt},
    {"c40 shift 2 left at the end", {230, 89, 218}, std::nullopt},
    {"c40 upper shift left at the end", {230, 87, 199}, std::nullopt},
    {"c40 shift 3 left at the end", {230, 89, 219}, std::nullopt},
    {"c40 upper shift abandoned at an unlatch", {230, 10, 242, 254, 235, 44}, "\xAB"},
    {"c40 shift 2 abandoned before a last ascii codeword", {230, 89, 218, 67}, "ABB"},
    // Text
    {"text triple", {239, 91, 11}, "aim"},
    {"text shift 3 upper case", {239, 12, 172}, "A "},
    {"text shift 3 value 0", {239, 12, 132}, "` "},
    {"text shift 3 brace", {239, 16, 188}, "{ "},
    {"text shift 3 DEL", {239, 17, 92}, "\x7F "},
    {"text shift 3 value 32", {239, 17, 132}, std::nullopt},
    {"text unlatch to ascii", {239, 91, 11, 254, 66}, "aimA"},
    // X12
    {"x12 terminators", {238, 0, 43}, "\r*>"},
    {"x12 letters then unlatch", {238, 89, 233, 254, 66}, "ABCA"},
    {"x12 last codeword is ascii", {238, 89, 233, 66}, "ABCA"},
    {"x12 pair above 64000", {238, 255, 255}, std::nullopt},
    // EDIFACT: 6-bit values, 31 unlatches, the rest of the unlatch codeword is filler.
    {"edifact three values and unlatch", {240, 4, 32, 223}, "ABC"},
    {"edifact then ascii", {240, 4, 32, 223, 66}, "ABCA"},
    {"edifact unlatch first", {240, 124, 66, 67}, "AB"},
    {"edifact unlatch second", {240, 5, 240, 66}, "AA"},
    {"edifact values from 32 stand for themselves", {240, 193, 240, 66}, "0A"},
    {"edifact two codewords left are ascii", {240, 66, 67}, "AB"},
    // Base256: every codeword scrambled by 149 p mod 255 + 1 of its 1-based position p.
    {"base256 length 2", {231, 46, 193, 86}, std::string("\0\xFF", 2)},
    {"base256 length 0 runs to the end", {231, 44, 193, 86}, std::string("\0\xFF", 2)},
    {"base256 then ascii", {231, 45, 193, 66}, std::string("\0A", 2)},
    {"base256 longer than the data", {231, 46, 193}, std::nullopt},
    {"base256 without length", {231}, std::nullopt},
    // FNC1
    {"leading fnc1 marks gs1 data", {232, 142, 66}, "12A"},
    {"fnc1 inside separates", {66, 232, 67}, "A\x1D" "B"},
    {"fnc1 twice at the start", {232, 232, 66}, "\x1D" "A"},
    {"fnc1 after structured append", {233, 18, 1, 1, 232, 66}, "A"},
    // Structured append and reader programming
    {"structured append header", {233, 18, 1, 1, 66}, "A"},
    {"structured append cut short", {233, 18, 1}, std::nullopt},
    {"structured append not first", {66, 233, 18, 1, 1}, std::nullopt},
    {"reader programming", {234, 66}, "A"},
    {"reader programming not first", {66, 234}, std::nullopt},
    // Macros
    {"macro 05", {236, 66}, MACRO05 + "A" + MACRO_END},
    {"macro 06 trailer precedes padding", {237, 66, 129}, MACRO06 + "A" + MACRO_END},
    {"macro after structured append", {233, 18, 1, 1, 236, 66}, MACRO05 + "A" + MACRO_END},
    {"macro not first", {66, 236}, std::nullopt},
    // ECI: designator consumed, the bytes that follow left as they are.
    {"eci one codeword", {241, 27, 66}, "A"},
    {"eci two codewords", {241, 128, 1, 66}, "A"},
    {"eci three codewords", {241, 192, 1, 1, 66}, "A"},
    {"eci keeps high bytes", {241, 4, 235, 68}, "\xC3"},
    {"eci beyond 999999", {241, 254, 254, 254}, std::nullopt},
    {"eci without designator", {66, 241}, std::nullopt},
    {"eci cut short", {241, 130}, std::nullopt},
    {"eci codeword 0", {241, 0, 66}, std::nullopt},
};

TEST(Encodation, DecodesHandAssembledStreams) {
  for (const StreamCase& c : STREAM_CASES) {
    SCOPED_TRACE(c.name);
    Bytes message;
    const bool decoded = decodeEcc200Codewords(c.codewords.data(), c.codewords.size(), &message);
    if (c.expected) {
      ASSERT_TRUE(decoded);
      EXPECT_EQ(ecc200test::show(message), ecc200test::show(ecc200test::bytesOf(*c.expected)));
    } else {
      EXPECT_FALSE(decoded) << "decoded as " << ecc200test::show(message);
    }
  }
}

// A Base256 field as the standard lays it out: the latch as the first codeword, then the scrambled
// length field and payload.
Bytes base256Stream(const Bytes& payload, bool twoByteLength) {
  Bytes plain;
  if (twoByteLength) {
    plain.push_back(static_cast<std::uint8_t>(payload.size() / 250 + 249));
    plain.push_back(static_cast<std::uint8_t>(payload.size() % 250));
  } else {
    plain.push_back(static_cast<std::uint8_t>(payload.size()));
  }
  plain.insert(plain.end(), payload.begin(), payload.end());
  Bytes stream = {231};
  for (std::uint8_t byte : plain) {
    const size_t position = stream.size() + 1;
    stream.push_back(static_cast<std::uint8_t>((byte + (149 * position) % 255 + 1) % 256));
  }
  return stream;
}

TEST(Encodation, ReadsBothBase256LengthForms) {
  const struct {
    size_t length;
    bool twoByteLength;
  } forms[] = {{1, false}, {249, false}, {250, true}, {251, true}, {555, true}, {1555, true}};
  for (const auto& form : forms) {
    SCOPED_TRACE(form.length);
    Bytes payload(form.length);
    for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<std::uint8_t>(i * 7 + 3);
    Bytes stream = base256Stream(payload, form.twoByteLength);
    stream.push_back(66);  // ASCII resumes after the field
    Bytes message;
    ASSERT_TRUE(decodeEcc200Codewords(stream.data(), stream.size(), &message));
    payload.push_back('A');
    EXPECT_EQ(message, payload);
  }
}

// Arbitrary streams never crash and never read outside the data (the sanitizers watch this).
TEST(Encodation, SurvivesArbitraryStreams) {
  std::mt19937 random(5);
  int accepted = 0;
  for (int trial = 0; trial < 20000; ++trial) {
    Bytes stream(random() % 40);
    for (std::uint8_t& codeword : stream) {
      // Favour the latches and function codewords so every scheme is entered often.
      codeword = static_cast<std::uint8_t>(random() % 3 == 0 ? 229 + random() % 27 : random() % 256);
    }
    Bytes message;
    if (decodeEcc200Codewords(stream.data(), stream.size(), &message)) ++accepted;
  }
  EXPECT_GT(accepted, 0);
}

}  // namespace
