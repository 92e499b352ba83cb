// The rectangular extension sizes: the size table agrees with Zint's symbols, every size reads back
// as Zint's input when a read allows them (and only then), and reads under a cap on the share of each
// block's correction capacity spend no more than the cap.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>

#include "tests/support/ecc200_matrix.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

const Ecc200ReadLimits WITH_DMRE{true, 1.0};

std::optional<testsupport::SymbolMatrix> zintSymbol(const Bytes& message, int rows, int cols) {
  return testsupport::encodeSymbol(message, rows, cols, testsupport::EncodeScheme::Auto,
                                   testsupport::EncoderLib::Zint);
}

Bytes randomText(size_t length, std::mt19937& random) {
  Bytes message(length);
  for (std::uint8_t& byte : message) byte = static_cast<std::uint8_t>(' ' + random() % 95);
  return message;
}

Bytes randomBytes(size_t length, std::mt19937& random) {
  Bytes message(length);
  for (std::uint8_t& byte : message) byte = static_cast<std::uint8_t>(random() % 256);
  return message;
}

// The longest prefix of `longest` that Zint fits into rows x cols, found by bisection.
Bytes longestFitting(const Bytes& longest, int rows, int cols) {
  size_t fits = 0;
  size_t refused = longest.size() + 1;
  while (refused - fits > 1) {
    const size_t middle = (fits + refused) / 2;
    if (zintSymbol(Bytes(longest.begin(), longest.begin() + static_cast<long>(middle)), rows, cols)) {
      fits = middle;
    } else {
      refused = middle;
    }
  }
  return Bytes(longest.begin(), longest.begin() + static_cast<long>(fits));
}

class DmreBySize : public ::testing::TestWithParam<int> {
 protected:
  int rows() const { return testsupport::dmreSizes()[static_cast<size_t>(GetParam())].first; }
  int cols() const { return testsupport::dmreSizes()[static_cast<size_t>(GetParam())].second; }
  const Ecc200Symbol* symbol() const { return findEcc200SymbolIn(cols(), rows(), true); }
};

std::string sizeName(const ::testing::TestParamInfo<int>& info) {
  const auto [rows, cols] = testsupport::dmreSizes()[static_cast<size_t>(info.param)];
  return std::to_string(cols) + "x" + std::to_string(rows);
}

// Every data region of a Zint symbol has its own solid finder (left column, bottom row) and dotted
// timing edges (top row dark at even offsets, right column dark at the bottom and every second row up)
// exactly where the table's region layout puts them.
TEST_P(DmreBySize, RegionLayoutMatchesZintSymbols) {
  const Ecc200Symbol* size = symbol();
  ASSERT_NE(size, nullptr);
  const auto encoded = zintSymbol(ecc200test::bytesOf("DMRE 0123456789"), rows(), cols());
  ASSERT_TRUE(encoded.has_value());
  const int regionWidth = size->regionColumns + 2;
  const int regionHeight = size->regionRows + 2;
  ASSERT_EQ(regionWidth * size->regionsAcross, cols());
  ASSERT_EQ(regionHeight * size->regionsDown, rows());
  for (int down = 0; down < size->regionsDown; ++down) {
    for (int across = 0; across < size->regionsAcross; ++across) {
      SCOPED_TRACE("region " + std::to_string(down) + "," + std::to_string(across));
      const int top = down * regionHeight;
      const int left = across * regionWidth;
      for (int r = 0; r < regionHeight; ++r) {
        EXPECT_EQ(encoded->at(top + r, left), 1) << "finder column, row " << r;
        EXPECT_EQ(encoded->at(top + r, left + regionWidth - 1), (regionHeight - 1 - r) % 2 == 0 ? 1 : 0)
            << "timing column, row " << r;
      }
      for (int c = 0; c < regionWidth; ++c) {
        EXPECT_EQ(encoded->at(top + regionHeight - 1, left + c), 1) << "finder row, column " << c;
        EXPECT_EQ(encoded->at(top, left + c), c % 2 == 0 ? 1 : 0) << "timing row, column " << c;
      }
    }
  }
}

// Digits take exactly one data codeword per pair, so Zint fits 2 x data digits into the size and not
// one more; the check codewords are what the data regions hold beyond that.
TEST_P(DmreBySize, CodewordCountsMatchZintCapacity) {
  const Ecc200Symbol* size = symbol();
  ASSERT_NE(size, nullptr);
  const std::string digits(static_cast<size_t>(2 * size->dataCodewords + 1), '7');
  EXPECT_TRUE(zintSymbol(ecc200test::bytesOf(digits.substr(1)), rows(), cols()).has_value());
  EXPECT_FALSE(zintSymbol(ecc200test::bytesOf(digits), rows(), cols()).has_value());
  const int regionModules = size->regionColumns * size->regionRows * size->regionsAcross * size->regionsDown;
  EXPECT_EQ(size->dataCodewords + size->eccCodewords, regionModules / 8);
}

// Zint symbols of the full capacity and of random shorter lengths, text and binary, read back as
// their input when extension sizes are allowed, and are refused by reads that keep to the 30 sizes.
TEST_P(DmreBySize, ReadsZintSymbolsOnlyWhenAllowed) {
  const Ecc200Symbol* size = symbol();
  ASSERT_NE(size, nullptr);
  std::mt19937 random(static_cast<std::uint32_t>(rows() * 7919 + cols()));
  std::vector<Bytes> messages;
  for (const Bytes& longest : {randomText(static_cast<size_t>(2 * size->dataCodewords), random),
                               randomBytes(static_cast<size_t>(size->dataCodewords), random)}) {
    const Bytes fitting = longestFitting(longest, rows(), cols());
    ASSERT_FALSE(fitting.empty());
    messages.push_back(fitting);
    for (int k = 0; k < 3; ++k) messages.push_back(Bytes(fitting.begin(), fitting.begin() + 1 + random() % fitting.size()));
  }
  for (const Bytes& message : messages) {
    SCOPED_TRACE("length " + std::to_string(message.size()) + ": " + ecc200test::show(message));
    const auto encoded = zintSymbol(message, rows(), cols());
    ASSERT_TRUE(encoded.has_value());
    const Bytes matrix = ecc200test::moduleMatrixOf(*encoded);
    Bytes decoded;
    Ecc200ReadReport report;
    ASSERT_TRUE(decodeEcc200WithLimits(matrix.data(), cols(), rows(), WITH_DMRE, &decoded, &report));
    EXPECT_EQ(ecc200test::show(decoded), ecc200test::show(message));
    EXPECT_EQ(report.symbol, size);
    EXPECT_EQ(report.mostCorrections, 0);
    Bytes refused;
    EXPECT_FALSE(decodeEcc200(matrix.data(), cols(), rows(), &refused));
    EXPECT_FALSE(decodeEcc200WithLimits(matrix.data(), cols(), rows(), Ecc200ReadLimits{}, &refused));
  }
}

// Zint picks an extension size for a message when asked to consider them; the read follows.
TEST(DmreAutomaticSize, ZintsOwnChoiceReadsBack) {
  testsupport::ZintFeatures features;
  features.dmre = true;
  const Bytes message = ecc200test::bytesOf("0123456789012345678901234567890123456789");
  const auto encoded = testsupport::encodeZintSymbol(message, 0, 0, features);
  ASSERT_TRUE(encoded.has_value());
  ASSERT_NE(findEcc200SymbolIn(encoded->cols, encoded->rows, true), nullptr);
  const Bytes matrix = ecc200test::moduleMatrixOf(*encoded);
  Bytes decoded;
  ASSERT_TRUE(decodeEcc200WithLimits(matrix.data(), encoded->cols, encoded->rows, WITH_DMRE, &decoded));
  EXPECT_EQ(decoded, message);
}

// Errors spread over whole codewords up to the block's capacity are mended; the report tells how many.
TEST_P(DmreBySize, MendsErrorsUpToCapacity) {
  const Ecc200Symbol* size = symbol();
  ASSERT_NE(size, nullptr);
  std::mt19937 random(static_cast<std::uint32_t>(500 + GetParam()));
  const Bytes message = randomText(static_cast<size_t>(size->dataCodewords / 2), random);
  const auto encoded = zintSymbol(message, rows(), cols());
  ASSERT_TRUE(encoded.has_value());
  const std::vector<int>& modules = ecc200CodewordModules(*size);
  const int capacity = ecc200BlockEccLength(*size) / 2;
  std::vector<int> positions = ecc200test::blockPositions(*size, 0);
  for (int trial = 0; trial < 3; ++trial) {
    Bytes matrix = ecc200test::moduleMatrixOf(*encoded);
    std::shuffle(positions.begin(), positions.end(), random);
    for (int k = 0; k < capacity; ++k) {
      ecc200test::corruptCodeword(&matrix, modules, positions[static_cast<size_t>(k)],
                                  static_cast<std::uint8_t>(1 + random() % 255));
    }
    Bytes decoded;
    Ecc200ReadReport report;
    ASSERT_TRUE(decodeEcc200WithLimits(matrix.data(), cols(), rows(), WITH_DMRE, &decoded, &report)) << trial;
    EXPECT_EQ(decoded, message);
    EXPECT_EQ(report.mostCorrections, capacity);
    EXPECT_DOUBLE_EQ(report.mostCorrectionShare, 1.0);
  }
}

// Random modules are not a symbol of an extension size either.
TEST_P(DmreBySize, RefusesRandomModules) {
  std::mt19937 random(static_cast<std::uint32_t>(700 + GetParam()));
  for (int trial = 0; trial < 20; ++trial) {
    Bytes matrix(static_cast<size_t>(rows() - 1) * (cols() - 1));
    for (std::uint8_t& module : matrix) module = static_cast<std::uint8_t>(random() & 1);
    Bytes decoded;
    EXPECT_FALSE(decodeEcc200WithLimits(matrix.data(), cols(), rows(), WITH_DMRE, &decoded))
        << ecc200test::show(decoded);
  }
}

INSTANTIATE_TEST_SUITE_P(AllDmreSizes, DmreBySize, ::testing::Range(0, ECC200_DMRE_SYMBOL_COUNT), sizeName);

// Every row of the extension table is one of Zint's sizes and no size is listed twice; the 30 sizes stay
// reachable with extension sizes allowed, and a rectangle is only known with its long side across.
TEST(DmreTable, SizeLookup) {
  ASSERT_EQ(testsupport::dmreSizes().size(), static_cast<size_t>(ECC200_DMRE_SYMBOL_COUNT));
  for (int i = 0; i < ECC200_DMRE_SYMBOL_COUNT; ++i) {
    const Ecc200Symbol& size = ecc200DmreSymbolAt(i);
    EXPECT_EQ(std::make_pair(size.rows, size.columns), testsupport::dmreSizes()[static_cast<size_t>(i)]);
    EXPECT_EQ(findEcc200SymbolIn(size.columns, size.rows, true), &size);
    EXPECT_EQ(findEcc200SymbolIn(size.columns, size.rows, false), nullptr);
    EXPECT_EQ(findEcc200Symbol(size.columns, size.rows), nullptr);
    EXPECT_EQ(findEcc200SymbolIn(size.rows, size.columns, true), nullptr) << "long side down";
  }
  for (int i = 0; i < ECC200_SYMBOL_COUNT; ++i) {
    const Ecc200Symbol& size = ecc200SymbolAt(i);
    EXPECT_EQ(findEcc200SymbolIn(size.columns, size.rows, true), &size);
    EXPECT_EQ(findEcc200SymbolIn(size.columns, size.rows, false), &size);
  }
}

// The cap on the correction share holds per block: the block that needed the most corrections decides.
// 64 x 64 has 2 blocks of capacity 28, 144 x 144 has 10 of capacity 31, 48 x 8 one of capacity 7.
TEST(CorrectionLimits, MostCorrectedBlockDecides) {
  struct LimitCase {
    int cols;
    int rows;
    int errorsInBlock0;
    int errorsInOtherBlocks;
    double maxShare;
    bool reads;
  };
  const LimitCase CASES[] = {
      {64, 64, 14, 0, 0.5, true},      // exactly half the capacity
      {64, 64, 15, 0, 0.5, false},     // one over half
      {64, 64, 0, 15, 0.5, false},     // the other block decides as well
      {64, 64, 10, 14, 0.5, true},
      {64, 64, 28, 0, 1.0, true},      // the whole capacity
      {64, 64, 1, 0, 0.0, false},      // no correction allowed at all
      {64, 64, 0, 0, 0.0, true},
      {144, 144, 15, 3, 0.5, true},    // floor(0.5 x 31) = 15
      {144, 144, 16, 3, 0.5, false},
      {144, 144, 3, 16, 0.5, false},
      {48, 8, 3, 0, 0.5, true},        // floor(0.5 x 7) = 3
      {48, 8, 4, 0, 0.5, false},
      {48, 8, 7, 0, 1.0, true},
  };
  std::mt19937 random(77);
  for (const LimitCase& c : CASES) {
    SCOPED_TRACE(std::to_string(c.cols) + "x" + std::to_string(c.rows) + " errors " +
                 std::to_string(c.errorsInBlock0) + "/" + std::to_string(c.errorsInOtherBlocks) + " share " +
                 std::to_string(c.maxShare));
    const Ecc200Symbol* size = findEcc200SymbolIn(c.cols, c.rows, true);
    ASSERT_NE(size, nullptr);
    const Bytes message = randomText(static_cast<size_t>(size->dataCodewords / 2), random);
    const auto encoded = zintSymbol(message, c.rows, c.cols);
    ASSERT_TRUE(encoded.has_value());
    Bytes matrix = ecc200test::moduleMatrixOf(*encoded);
    const std::vector<int>& modules = ecc200CodewordModules(*size);
    for (int b = 0; b < size->blockCount; ++b) {
      std::vector<int> positions = ecc200test::blockPositions(*size, b);
      std::shuffle(positions.begin(), positions.end(), random);
      const int errors = b == 0 ? c.errorsInBlock0 : c.errorsInOtherBlocks;
      for (int k = 0; k < errors; ++k) {
        ecc200test::corruptCodeword(&matrix, modules, positions[static_cast<size_t>(k)],
                                    static_cast<std::uint8_t>(1 + random() % 255));
      }
    }
    const int most = std::max(c.errorsInBlock0, size->blockCount > 1 ? c.errorsInOtherBlocks : 0);
    Bytes decoded;
    Ecc200ReadReport report;
    const bool read = decodeEcc200WithLimits(matrix.data(), c.cols, c.rows, Ecc200ReadLimits{true, c.maxShare},
                                             &decoded, &report);
    ASSERT_EQ(read, c.reads);
    if (!read) continue;
    EXPECT_EQ(decoded, message);
    EXPECT_EQ(report.mostCorrections, most);
    EXPECT_DOUBLE_EQ(report.mostCorrectionShare, static_cast<double>(most) / (ecc200BlockEccLength(*size) / 2));
  }
}

// Extension symbols with one to three errors more than the block can mend are refused, never read as
// another text, whatever share of capacity the read allows.
TEST(DmreBeyondCapacity, NeverYieldAWrongText) {
  std::mt19937 random(4242);
  int refused = 0;
  int wrong = 0;
  const int trialsPerSize = 200;
  for (int i = 0; i < ECC200_DMRE_SYMBOL_COUNT; ++i) {
    const Ecc200Symbol& size = ecc200DmreSymbolAt(i);
    const Bytes message = randomText(static_cast<size_t>(size.dataCodewords / 2), random);
    const auto encoded = zintSymbol(message, size.rows, size.columns);
    ASSERT_TRUE(encoded.has_value());
    const Bytes clean = ecc200test::moduleMatrixOf(*encoded);
    const std::vector<int>& modules = ecc200CodewordModules(size);
    const int capacity = ecc200BlockEccLength(size) / 2;
    std::vector<int> positions = ecc200test::blockPositions(size, 0);
    for (int trial = 0; trial < trialsPerSize; ++trial) {
      Bytes matrix = clean;
      std::shuffle(positions.begin(), positions.end(), random);
      const int errors = capacity + 1 + static_cast<int>(random() % 3);
      for (int k = 0; k < errors; ++k) {
        ecc200test::corruptCodeword(&matrix, modules, positions[static_cast<size_t>(k)],
                                    static_cast<std::uint8_t>(1 + random() % 255));
      }
      Bytes decoded;
      if (!decodeEcc200WithLimits(matrix.data(), size.columns, size.rows, WITH_DMRE, &decoded)) {
        ++refused;
      } else if (decoded != message) {
        ++wrong;
        ADD_FAILURE() << size.columns << "x" << size.rows << " trial " << trial << " read as "
                      << ecc200test::show(decoded);
      }
    }
  }
  std::printf("[ beyond capacity ] %d extension symbols: %d refused, %d wrong\n",
              trialsPerSize * ECC200_DMRE_SYMBOL_COUNT, refused, wrong);
  EXPECT_EQ(wrong, 0);
}

}  // namespace
