// The message record: what the function codewords say beside the bytes, from hand-assembled streams
// (values by the standard's rules) and from Zint symbols (values as Zint was asked to write them).
#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>

#include "decoder/ecc200/ecc200_message.h"
#include "tests/support/ecc200_matrix.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

std::string describe(const Ecc200Meaning& meaning) {
  std::string text;
  for (const Ecc200EciMark& mark : meaning.ecis) {
    text += "eci " + std::to_string(mark.designator) + "@" + std::to_string(mark.byteOffset) + "; ";
  }
  if (meaning.fnc1 == Ecc200Fnc1::FirstPosition) text += "fnc1 first; ";
  if (meaning.fnc1 == Ecc200Fnc1::SecondPosition) text += "fnc1 second; ";
  if (meaning.structuredAppend) {
    const Ecc200StructuredAppend& append = *meaning.structuredAppend;
    text += "append " + std::to_string(append.position) + "/" + std::to_string(append.count) + " id " +
            std::to_string(append.fileId1) + "," + std::to_string(append.fileId2) + "; ";
  }
  if (meaning.readerProgramming) text += "programming; ";
  if (meaning.macro == Ecc200Macro::Macro05) text += "macro 05; ";
  if (meaning.macro == Ecc200Macro::Macro06) text += "macro 06; ";
  return text;
}

struct MeaningCase {
  const char* name;
  Bytes codewords;
  std::string meaning;  // describe() of the expected record
};

// ECI designators: codeword 1-127 is ECI 0-126; 128-191 with one more codeword reaches 127-16382;
// 192-253 with two more reaches 16383-999999 (each further codeword counts 1-254).
const MeaningCase MEANING_CASES[] = {
    {"plain data", {66, 67}, ""},
    {"eci 26 before the data", {241, 27, 66}, "eci 26@0; "},
    {"eci 3 after two bytes", {66, 67, 241, 4, 68}, "eci 3@2; "},
    {"two designators", {241, 27, 66, 241, 21, 67}, "eci 26@0; eci 20@1; "},
    {"eci 127, first two-codeword value", {241, 128, 1, 66}, "eci 127@0; "},
    {"eci 16382, last two-codeword value", {241, 191, 254, 66}, "eci 16382@0; "},
    {"eci 16383, first three-codeword value", {241, 192, 1, 1, 66}, "eci 16383@0; "},
    {"eci 999999", {241, 207, 63, 129, 66}, "eci 999999@0; "},
    {"eci after a digit pair", {142, 241, 27, 66}, "eci 26@2; "},
    {"leading fnc1 is gs1", {232, 142, 66}, "fnc1 first; "},
    {"fnc1 after a letter is an application indicator", {66, 232, 67}, "fnc1 second; "},
    {"fnc1 after a digit pair is an application indicator", {142, 232, 67}, "fnc1 second; "},
    {"fnc1 after a punctuation mark is a separator", {34, 232, 67}, ""},
    {"fnc1 third is a separator", {66, 67, 232, 68}, ""},
    {"gs1 with separators stays gs1", {232, 142, 232, 143}, "fnc1 first; "},
    {"structured append 2 of 15", {233, 18, 1, 1, 66}, "append 2/15 id 1,1; "},
    {"structured append 1 of 2, file 7 200", {233, 15, 7, 200, 66}, "append 1/2 id 7,200; "},
    {"structured append 16 of 16", {233, 241, 9, 9, 66}, "append 16/16 id 9,9; "},
    {"gs1 after structured append", {233, 18, 1, 1, 232, 66}, "fnc1 first; append 2/15 id 1,1; "},
    {"application indicator after structured append", {233, 18, 1, 1, 66, 232, 67},
     "fnc1 second; append 2/15 id 1,1; "},
    {"reader programming", {234, 66}, "programming; "},
    {"macro 05", {236, 66}, "macro 05; "},
    {"macro 06", {237, 66}, "macro 06; "},
    {"eci offset counts the macro header", {236, 241, 27, 66}, "eci 26@7; macro 05; "},
    {"eci after a c40 segment", {230, 91, 11, 254, 241, 27, 66}, "eci 26@3; "},
};

TEST(MessageMeaning, ReadsFunctionCodewords) {
  for (const MeaningCase& c : MEANING_CASES) {
    SCOPED_TRACE(c.name);
    Ecc200Message message;
    ASSERT_TRUE(decodeEcc200CodewordsWithMeaning(c.codewords.data(), c.codewords.size(), &message));
    EXPECT_EQ(describe(message.meaning), c.meaning);
  }
}

// The record is an addition: every stream is accepted or refused as before, with the same bytes.
TEST(MessageMeaning, KeepsTheBytesAndRefusalsOfThePlainDecoder) {
  std::mt19937 random(18);
  int accepted = 0;
  for (int trial = 0; trial < 20000; ++trial) {
    Bytes stream(random() % 40);
    for (std::uint8_t& codeword : stream) {
      codeword = static_cast<std::uint8_t>(random() % 3 == 0 ? 229 + random() % 27 : random() % 256);
    }
    Bytes plain;
    Ecc200Message withMeaning;
    const bool plainOk = decodeEcc200Codewords(stream.data(), stream.size(), &plain);
    const bool meaningOk = decodeEcc200CodewordsWithMeaning(stream.data(), stream.size(), &withMeaning);
    ASSERT_EQ(plainOk, meaningOk) << "trial " << trial;
    if (plainOk) {
      ++accepted;
      ASSERT_EQ(plain, withMeaning.bytes) << "trial " << trial;
    }
  }
  EXPECT_GT(accepted, 100);
}

TEST(MessageMeaning, RefusedStreamLeavesTheRecordAlone) {
  Ecc200Message message;
  message.bytes = {1, 2, 3};
  message.meaning.readerProgramming = true;
  const Bytes cutShort = {241, 27, 66, 241};
  EXPECT_FALSE(decodeEcc200CodewordsWithMeaning(cutShort.data(), cutShort.size(), &message));
  EXPECT_EQ(message.bytes, (Bytes{1, 2, 3}));
  EXPECT_TRUE(message.meaning.readerProgramming);
  EXPECT_FALSE(decodeEcc200CodewordsWithMeaning(cutShort.data(), cutShort.size(), nullptr));
}

// Zint writes the function codewords it is asked for; the record reads them back from the symbol.
TEST(MessageMeaning, ReadsZintSymbols) {
  struct ZintCase {
    const char* name;
    std::string input;
    testsupport::ZintFeatures features;
    std::string meaning;
  };
  testsupport::ZintFeatures gs1;
  gs1.gs1 = true;
  testsupport::ZintFeatures eci26;
  eci26.eci = 26;
  testsupport::ZintFeatures eci899;
  eci899.eci = 899;
  testsupport::ZintFeatures appended;
  appended.appendIndex = 2;
  appended.appendCount = 3;
  testsupport::ZintFeatures lastOfSixteen;
  lastOfSixteen.appendIndex = 16;
  lastOfSixteen.appendCount = 16;
  testsupport::ZintFeatures appendedGs1 = appended;
  appendedGs1.gs1 = true;
  testsupport::ZintFeatures programming;
  programming.readerProgramming = true;
  const ZintCase cases[] = {
      {"plain", "HELLO", {}, ""},
      {"gs1", "[01]09501101530003[10]AB-123", gs1, "fnc1 first; "},
      {"eci 26", "gr\xC3\xBC\xC3\x9F" "e", eci26, "eci 26@0; "},
      {"eci 899 (three codewords)", "\x01\x02\xFF", eci899, "eci 899@0; "},
      {"structured append 2 of 3", "SECOND PART", appended, "append 2/3 id 1,1; "},
      {"structured append 16 of 16", "LAST", lastOfSixteen, "append 16/16 id 1,1; "},
      {"structured append with gs1", "[10]XYZ[21]12", appendedGs1, "fnc1 first; append 2/3 id 1,1; "},
      {"reader programming", "SETUP", programming, "programming; "},
      {"macro 05", std::string("[)>\x1E") + "05\x1D" "ORDER 42\x1E\x04", {}, "macro 05; "},
      {"macro 06", std::string("[)>\x1E") + "06\x1D" "ORDER 42\x1E\x04", {}, "macro 06; "},
  };
  for (const ZintCase& c : cases) {
    SCOPED_TRACE(c.name);
    const auto encoded = testsupport::encodeZintSymbol(ecc200test::bytesOf(c.input), 0, 0, c.features);
    ASSERT_TRUE(encoded.has_value());
    const Bytes matrix = ecc200test::moduleMatrixOf(*encoded);
    Ecc200Message message;
    Ecc200ReadReport report;
    ASSERT_TRUE(decodeEcc200Message(matrix.data(), encoded->cols, encoded->rows, {}, &message, &report));
    EXPECT_EQ(describe(message.meaning), c.meaning);
    EXPECT_EQ(report.symbol, findEcc200Symbol(encoded->cols, encoded->rows));
    Bytes plain;
    ASSERT_TRUE(decodeEcc200(matrix.data(), encoded->cols, encoded->rows, &plain));
    EXPECT_EQ(message.bytes, plain);
  }
}

// Zint's segments each carry their own designator; the offsets fall where each segment's bytes begin.
TEST(MessageMeaning, PlacesEachDesignatorAtItsSegment) {
  const auto encoded = testsupport::encodeZintSegments({{"ABC", 3}, {"\xD0\x96\xD0\xB8", 7}, {"xy\xE2\x82\xAC", 26}});
  ASSERT_TRUE(encoded.has_value());
  const Bytes matrix = ecc200test::moduleMatrixOf(*encoded);
  Ecc200Message message;
  ASSERT_TRUE(decodeEcc200Message(matrix.data(), encoded->cols, encoded->rows, {}, &message));
  // ISO 8859-5 holds each Cyrillic letter in one byte: 3 + 2 bytes before the UTF-8 segment.
  EXPECT_EQ(describe(message.meaning), "eci 3@0; eci 7@3; eci 26@5; ");
  EXPECT_EQ(ecc200test::show(message.bytes), ecc200test::show(ecc200test::bytesOf("ABC\xB6\xD8xy\xE2\x82\xAC")));
}

TEST(MessageMeaning, HonoursTheReadLimits) {
  const auto encoded = testsupport::encodeZintSymbol(ecc200test::bytesOf("LIMITS"), 0, 0, {});
  ASSERT_TRUE(encoded.has_value());
  Bytes matrix = ecc200test::moduleMatrixOf(*encoded);
  const Ecc200Symbol* symbol = findEcc200Symbol(encoded->cols, encoded->rows);
  ASSERT_NE(symbol, nullptr);
  ecc200test::corruptCodeword(&matrix, ecc200CodewordModules(*symbol), 0, 0xFF);
  Ecc200Message message;
  Ecc200ReadLimits strict;
  strict.maxCorrectionShare = 0.0;
  EXPECT_FALSE(decodeEcc200Message(matrix.data(), encoded->cols, encoded->rows, strict, &message));
  Ecc200ReadReport report;
  ASSERT_TRUE(decodeEcc200Message(matrix.data(), encoded->cols, encoded->rows, {}, &message, &report));
  EXPECT_EQ(report.mostCorrections, 1);
  EXPECT_EQ(ecc200test::show(message.bytes), "LIMITS");
  EXPECT_FALSE(decodeEcc200Message(matrix.data(), 11, 11, {}, &message));
}

}  // namespace
