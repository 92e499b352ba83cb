// AIM symbology identifiers for Data Matrix by the modifier table of ISO/IEC 16022, on hand-made records
// and on Zint symbols; the ECI protocol's escapes on hand-made messages.
#include <gtest/gtest.h>

#include <string>

#include "text/aim.h"
#include "decoder/ecc200/ecc200_message.h"
#include "tests/support/ecc200_matrix.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(Aim, ModifierFollowsFnc1AndEci) {
  const struct {
    Ecc200Fnc1 fnc1;
    bool eci;
    const char* identifier;
  } cases[] = {
      {Ecc200Fnc1::None, false, "]d1"},          {Ecc200Fnc1::FirstPosition, false, "]d2"},
      {Ecc200Fnc1::SecondPosition, false, "]d3"}, {Ecc200Fnc1::None, true, "]d4"},
      {Ecc200Fnc1::FirstPosition, true, "]d5"},  {Ecc200Fnc1::SecondPosition, true, "]d6"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.identifier);
    Ecc200Meaning meaning;
    meaning.fnc1 = c.fnc1;
    if (c.eci) meaning.ecis.push_back({26, 0});
    EXPECT_EQ(aimSymbologyIdentifier(meaning), c.identifier);
    // Structured append, reader programming and the macros do not change the identifier.
    meaning.structuredAppend = Ecc200StructuredAppend{1, 2, 1, 1};
    meaning.readerProgramming = true;
    meaning.macro = Ecc200Macro::Macro05;
    EXPECT_EQ(aimSymbologyIdentifier(meaning), c.identifier);
  }
}

TEST(Aim, IdentifiesZintSymbols) {
  testsupport::ZintFeatures gs1;
  gs1.gs1 = true;
  testsupport::ZintFeatures eci;
  eci.eci = 26;
  testsupport::ZintFeatures appendedGs1;
  appendedGs1.gs1 = true;
  appendedGs1.appendIndex = 1;
  appendedGs1.appendCount = 2;
  const struct {
    const char* input;
    testsupport::ZintFeatures features;
    const char* identifier;
  } cases[] = {
      {"PLAIN", {}, "]d1"},
      {"[01]09501101530003[10]AB-123", gs1, "]d2"},
      {"[10]AB[21]CD", appendedGs1, "]d2"},
      {"gr\xC3\xBC\xC3\x9F" "e", eci, "]d4"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input);
    const auto encoded = testsupport::encodeZintSymbol(ecc200test::bytesOf(c.input), 0, 0, c.features);
    ASSERT_TRUE(encoded.has_value());
    const Bytes matrix = ecc200test::moduleMatrixOf(*encoded);
    Ecc200Message message;
    ASSERT_TRUE(decodeEcc200Message(matrix.data(), encoded->cols, encoded->rows, {}, &message));
    EXPECT_EQ(aimSymbologyIdentifier(message.meaning), c.identifier);
  }
}

TEST(Aim, EciProtocolEscapesDesignatorsAndBackslashes) {
  const struct {
    const char* name;
    std::string bytes;
    std::vector<Ecc200EciMark> ecis;
    std::string sent;
  } cases[] = {
      {"no designator leaves the bytes alone", "A\\B", {}, "A\\B"},
      {"designator first", "AB", {{26, 0}}, "\\000026AB"},
      {"designator inside, backslash doubled", "A\\B", {{26, 0}, {3, 2}}, "\\000026A\\\\\\000003B"},
      {"six digits for a large designator", "x", {{123456, 0}}, "\\123456x"},
      {"designator after the last byte", "AB", {{26, 2}}, "AB\\000026"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Ecc200Message message;
    message.bytes = ecc200test::bytesOf(c.bytes);
    message.meaning.ecis = c.ecis;
    EXPECT_EQ(ecc200test::show(eciProtocolBytes(message)), ecc200test::show(ecc200test::bytesOf(c.sent)));
  }
}

}  // namespace
