// Whole symbols from independent encoders decode to exactly the encoder's input, in every size and
// with every encodation scheme an encoder can be made to use.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <random>

#include "tests/support/ecc200_matrix.h"

namespace {

using testsupport::EncodeScheme;
using testsupport::EncoderLib;
using Bytes = std::vector<std::uint8_t>;

struct SchemeCase {
  const char* name;
  EncoderLib lib;
  EncodeScheme scheme;
  int bytesPerCodeword;  // upper bound of message bytes per data codeword, for the random lengths
};

const SchemeCase SCHEME_CASES[] = {
    {"dmtx-auto", EncoderLib::Dmtx, EncodeScheme::Auto, 2},
    {"dmtx-ascii", EncoderLib::Dmtx, EncodeScheme::Ascii, 2},
    {"dmtx-c40", EncoderLib::Dmtx, EncodeScheme::C40, 2},
    {"dmtx-text", EncoderLib::Dmtx, EncodeScheme::Text, 2},
    {"dmtx-x12", EncoderLib::Dmtx, EncodeScheme::X12, 2},
    {"dmtx-edifact", EncoderLib::Dmtx, EncodeScheme::Edifact, 2},
    {"dmtx-base256", EncoderLib::Dmtx, EncodeScheme::Base256, 1},
    // Zint picks its own schemes; fed each scheme's alphabet it uses that scheme for most of the data.
    {"zint-binary", EncoderLib::Zint, EncodeScheme::Base256, 2},
    {"zint-upper", EncoderLib::Zint, EncodeScheme::C40, 2},
    {"zint-lower", EncoderLib::Zint, EncodeScheme::Text, 2},
    {"zint-x12", EncoderLib::Zint, EncodeScheme::X12, 2},
    {"zint-edifact", EncoderLib::Zint, EncodeScheme::Edifact, 2},
};

// One message byte from the alphabet a scheme encodes best; the byte-wide schemes also get runs of
// digits (ASCII digit pairs) and bytes above 0x7F (upper shift).
std::uint8_t pickByte(EncodeScheme alphabet, std::mt19937& random) {
  static const std::string X12 = "\r*> 0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  const int roll = static_cast<int>(random() % 100);
  switch (alphabet) {
    case EncodeScheme::X12:
      return static_cast<std::uint8_t>(X12[random() % X12.size()]);
    case EncodeScheme::Edifact:
      return static_cast<std::uint8_t>(32 + random() % 63);
    case EncodeScheme::C40:
    case EncodeScheme::Text: {
      if (roll < 85) {
        const std::string basic = alphabet == EncodeScheme::C40 ? " 0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                                                : " 0123456789abcdefghijklmnopqrstuvwxyz";
        return static_cast<std::uint8_t>(basic[random() % basic.size()]);
      }
      return static_cast<std::uint8_t>(random() % 256);  // shifted sets and upper shift
    }
    default:
      if (roll < 30) return static_cast<std::uint8_t>('0' + random() % 10);
      if (roll < 60) return static_cast<std::uint8_t>(128 + random() % 128);
      return static_cast<std::uint8_t>(random() % 128);
  }
}

Bytes randomMessage(EncodeScheme alphabet, size_t length, std::mt19937& random) {
  Bytes message(length);
  for (std::uint8_t& byte : message) byte = pickByte(alphabet, random);
  return message;
}

std::optional<testsupport::SymbolMatrix> encode(const SchemeCase& c, const Bytes& message, int rows, int cols) {
  if (c.lib == EncoderLib::Zint) return testsupport::encodeSymbol(message, rows, cols, EncodeScheme::Auto, EncoderLib::Zint);
  return testsupport::encodeSymbol(message, rows, cols, c.scheme, EncoderLib::Dmtx);
}

class RoundTripBySize : public ::testing::TestWithParam<int> {};

constexpr int RANDOM_LENGTHS_PER_SCHEME = 3;

// Per scheme: the longest prefix of a random message that the encoder fits into the size (found by
// bisection), then random shorter lengths.
TEST_P(RoundTripBySize, DecodesEncoderSymbolsToTheirInput) {
  const auto [rows, cols] = testsupport::ecc200Sizes()[static_cast<size_t>(GetParam())];
  const Ecc200Symbol* symbol = findEcc200Symbol(cols, rows);
  ASSERT_NE(symbol, nullptr);
  std::mt19937 random(static_cast<std::uint32_t>(rows * 7919 + cols));
  int roundTrips = 0;
  std::map<std::string, int> perScheme;
  for (const SchemeCase& c : SCHEME_CASES) {
    // libdmtx interleaves the 144 x 144 blocks its own way; Zint follows the standard there.
    if (c.lib == EncoderLib::Dmtx && rows == 144) continue;
    const size_t bound = static_cast<size_t>(symbol->dataCodewords * c.bytesPerCodeword);
    const Bytes longest = randomMessage(c.scheme, bound, random);
    std::vector<Bytes> messages;
    size_t fits = 0;
    size_t refused = bound + 1;
    while (refused - fits > 1) {
      const size_t middle = (fits + refused) / 2;
      if (encode(c, Bytes(longest.begin(), longest.begin() + static_cast<long>(middle)), rows, cols)) {
        fits = middle;
      } else {
        refused = middle;
      }
    }
    if (fits == 0) continue;  // the encoder cannot make this size with this alphabet
    messages.emplace_back(longest.begin(), longest.begin() + static_cast<long>(fits));
    for (int k = 0; k < RANDOM_LENGTHS_PER_SCHEME; ++k) {
      messages.push_back(randomMessage(c.scheme, 1 + random() % fits, random));
    }
    for (const Bytes& message : messages) {
      SCOPED_TRACE(std::string(c.name) + " length " + std::to_string(message.size()) + ": " + ecc200test::show(message));
      const auto encoded = encode(c, message, rows, cols);
      if (!encoded) continue;  // a shorter random message may still hold a character the scheme refuses
      const Bytes matrix = ecc200test::moduleMatrixOf(*encoded);
      Bytes decoded;
      ASSERT_TRUE(decodeEcc200(matrix.data(), cols, rows, &decoded));
      ASSERT_EQ(ecc200test::show(decoded), ecc200test::show(message));
      ++roundTrips;
      ++perScheme[c.name];
    }
  }
  std::string summary;
  for (const auto& [name, count] : perScheme) summary += " " + name + "=" + std::to_string(count);
  std::printf("[ round trips ] %dx%d: %d (%s )\n", cols, rows, roundTrips, summary.c_str());
  EXPECT_GT(roundTrips, 0);
}

std::string sizeName(const ::testing::TestParamInfo<int>& info) {
  const auto [rows, cols] = testsupport::ecc200Sizes()[static_cast<size_t>(info.param)];
  return std::to_string(cols) + "x" + std::to_string(rows);
}

INSTANTIATE_TEST_SUITE_P(AllSizes, RoundTripBySize, ::testing::Range(0, 30), sizeName);

// Function codewords Zint writes on request; the expected bytes are the input with the GS1 brackets
// resolved by hand.
TEST(RoundTripFunctions, DecodesZintFunctionCodewords) {
  struct FunctionCase {
    const char* name;
    std::string input;
    testsupport::ZintFeatures features;
    std::string expected;
  };
  testsupport::ZintFeatures gs1;
  gs1.gs1 = true;
  testsupport::ZintFeatures eci;
  eci.eci = 26;
  testsupport::ZintFeatures appended;
  appended.appendIndex = 2;
  appended.appendCount = 3;
  testsupport::ZintFeatures appendedGs1 = appended;
  appendedGs1.gs1 = true;
  testsupport::ZintFeatures programming;
  programming.readerProgramming = true;
  const std::string macro = std::string("[)>\x1E") + "05\x1D" + "ORDER 42" + "\x1E\x04";
  const FunctionCase cases[] = {
      {"gs1 fixed then variable field", "[01]09501101530003[10]AB-123", gs1, "010950110153000310AB-123"},
      {"gs1 variable field inside", "[10]AB-123[17]150119", gs1, "10AB-123\x1D" "17150119"},
      {"eci utf-8 bytes kept", "gr\xC3\xBC\xC3\x9F" "e", eci, "gr\xC3\xBC\xC3\x9F" "e"},
      {"structured append", "SECOND PART", appended, "SECOND PART"},
      {"structured append with gs1", "[10]XYZ[21]12", appendedGs1, "10XYZ\x1D" "2112"},
      {"reader programming", "SETUP", programming, "SETUP"},
      {"macro 05", macro, {}, macro},
  };
  for (const FunctionCase& c : cases) {
    SCOPED_TRACE(c.name);
    const auto encoded = testsupport::encodeZintSymbol(ecc200test::bytesOf(c.input), 0, 0, c.features);
    ASSERT_TRUE(encoded.has_value());
    const Bytes matrix = ecc200test::moduleMatrixOf(*encoded);
    Bytes decoded;
    ASSERT_TRUE(decodeEcc200(matrix.data(), encoded->cols, encoded->rows, &decoded));
    EXPECT_EQ(ecc200test::show(decoded), ecc200test::show(ecc200test::bytesOf(c.expected)));
  }
}

TEST(RoundTripFunctions, RefusesSizesOutsideTheTable) {
  const Bytes matrix(143 * 143, 0);
  Bytes decoded;
  EXPECT_FALSE(decodeEcc200(matrix.data(), 8, 18, &decoded));
  EXPECT_FALSE(decodeEcc200(matrix.data(), 30, 30, &decoded));
  EXPECT_FALSE(decodeEcc200(nullptr, 10, 10, &decoded));
}

}  // namespace
