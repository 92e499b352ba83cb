// GS1 element strings: Zint's GS1 mode writes bracketed input as GS1 data; the decoded bytes give back
// the same elements, shown with parentheses in place of Zint's brackets.
#include <gtest/gtest.h>

#include <string>

#include "decoder/ecc200/ecc200_message.h"
#include "tests/support/ecc200_matrix.h"
#include "text/gs1.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// Zint's bracket syntax with the brackets turned into parentheses: the human-readable form.
std::string parenthesised(std::string bracketed) {
  for (char& c : bracketed) {
    if (c == '[') c = '(';
    if (c == ']') c = ')';
  }
  return bracketed;
}

Ecc200Message decodeZintGs1(const std::string& bracketed) {
  testsupport::ZintFeatures gs1;
  gs1.gs1 = true;
  const auto encoded = testsupport::encodeZintSymbol(ecc200test::bytesOf(bracketed), 0, 0, gs1);
  EXPECT_TRUE(encoded.has_value()) << "Zint refused " << bracketed;
  Ecc200Message message;
  if (!encoded) return message;
  const Bytes matrix = ecc200test::moduleMatrixOf(*encoded);
  EXPECT_TRUE(decodeEcc200Message(matrix.data(), encoded->cols, encoded->rows, {}, &message));
  return message;
}

const char* const ZINT_GS1_INPUTS[] = {
    "[01]09501101530003[10]AB-123",
    "[10]AB-123[17]150119",
    "[01]09501101530003[17]261231[10]ABC123[21]XYZ",
    "[00]095011015300000003",
    "[3103]000189[15]261231[37]12",
    "[402]95011010000000001[400]PO-99",
    "[02]09501101530003[37]24[400]ORDER/7[90]ABC[91]x+y",
    "[8004]0950110153000ABC[7003]2612311230",
    "[414]9501101000002[254]SHELF-3",
};

TEST(Gs1, ReadsZintElementStrings) {
  for (const char* input : ZINT_GS1_INPUTS) {
    SCOPED_TRACE(input);
    const Ecc200Message message = decodeZintGs1(input);
    EXPECT_TRUE(isGs1(message.meaning));
    std::vector<Gs1Element> elements;
    ASSERT_TRUE(parseGs1Elements(message.bytes, &elements)) << ecc200test::show(message.bytes);
    EXPECT_EQ(gs1HumanReadable(elements), parenthesised(input));
  }
}

TEST(Gs1, SeparatorsBecomeTheChosenText) {
  const Ecc200Message message = decodeZintGs1("[10]AB-123[21]XYZ[17]150119");
  const std::string text(message.bytes.begin(), message.bytes.end());
  EXPECT_EQ(replaceGroupSeparators(text, "|"), "10AB-123|21XYZ|17150119");
  EXPECT_EQ(replaceGroupSeparators(text, ""), "10AB-12321XYZ17150119");
  EXPECT_EQ(replaceGroupSeparators(text, "<GS>"), "10AB-123<GS>21XYZ<GS>17150119");
}

TEST(Gs1, RefusesBytesThatAreNoGs1Data) {
  const struct {
    const char* name;
    std::string bytes;
    const char* readable;  // null: refused
  } cases[] = {
      {"separator after a fixed-length element", "0109501101530003\x1D" "10AB", "(01)09501101530003(10)AB"},
      {"separator ends the data", "10AB\x1D", "(10)AB"},
      {"empty data", "", nullptr},
      {"unknown prefix 05", "05123", nullptr},
      {"single digit", "1", nullptr},
      {"fixed element cut short", "01095011015300", nullptr},
      {"separator inside a fixed element", "0109501101\x1D" "530003", nullptr},
      {"letter in the AI", "1A23", nullptr},
      {"4-digit AI cut short", "310", nullptr},
      {"empty variable element", "10\x1D" "17150119", nullptr},
      {"two separators", "10AB\x1D\x1D" "21X", nullptr},
      {"leading separator", "\x1D" "10AB", nullptr},
      {"space in the data", "10A B", nullptr},
      {"byte above 0x7F", "10A\xE9", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<Gs1Element> elements;
    const bool parsed = parseGs1Elements(ecc200test::bytesOf(c.bytes), &elements);
    if (c.readable != nullptr) {
      ASSERT_TRUE(parsed);
      EXPECT_EQ(gs1HumanReadable(elements), c.readable);
    } else {
      EXPECT_FALSE(parsed) << gs1HumanReadable(elements);
    }
  }
}

}  // namespace
