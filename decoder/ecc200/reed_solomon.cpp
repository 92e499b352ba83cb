// Reed-Solomon error correction of the interleaved ECC 200 codeword blocks.
#include <algorithm>
#include <array>
#include <cstddef>

#include "decoder/ecc200/ecc200.h"

namespace {

// GF(256) built on the primitive polynomial x^8 + x^5 + x^3 + x^2 + 1 with generator alpha = 2;
// the check codewords of a block make the block polynomial vanish at alpha^1 ... alpha^eccLength.
constexpr int GF_PRIMITIVE_POLYNOMIAL = 0x12D;
constexpr int RS_MAX_ECC = 68;  // largest per-block check count (48 x 48, 96 x 96, 120 x 120)

struct GaloisTables {
  std::uint8_t exp[512];  // doubled so a product needs no modulo
  int log[256];
};

constexpr GaloisTables makeGaloisTables() {
  GaloisTables tables{};
  int value = 1;
  for (int power = 0; power < 255; ++power) {
    tables.exp[power] = static_cast<std::uint8_t>(value);
    tables.exp[power + 255] = static_cast<std::uint8_t>(value);
    tables.log[value] = power;
    value <<= 1;
    if (value & 0x100) value ^= GF_PRIMITIVE_POLYNOMIAL;
  }
  tables.exp[510] = tables.exp[0];
  tables.exp[511] = tables.exp[1];
  return tables;
}

constexpr GaloisTables GF = makeGaloisTables();

std::uint8_t gfMultiply(std::uint8_t a, std::uint8_t b) {
  if (a == 0 || b == 0) return 0;
  return GF.exp[GF.log[a] + GF.log[b]];
}

std::uint8_t gfDivide(std::uint8_t a, std::uint8_t b) {
  if (a == 0) return 0;
  return GF.exp[GF.log[a] + 255 - GF.log[b]];
}

std::uint8_t gfPower(int exponent) { return GF.exp[((exponent % 255) + 255) % 255]; }

// Value of a polynomial given lowest degree first at x.
std::uint8_t evaluateAscending(const std::uint8_t* coefficients, int count, std::uint8_t x) {
  std::uint8_t sum = 0;
  for (int i = count - 1; i >= 0; --i) sum = static_cast<std::uint8_t>(gfMultiply(sum, x) ^ coefficients[i]);
  return sum;
}

// Syndromes S_1 ... S_eccLength of the block read as a polynomial whose first codeword is the highest
// power: S_j = sum of c_i alpha^(j (length - 1 - i)). Returns true when they are all zero.
bool computeSyndromes(const std::uint8_t* block, int length, int eccLength, std::uint8_t* syndromes) {
  std::fill(syndromes, syndromes + eccLength, 0);
  for (int i = 0; i < length; ++i) {
    if (block[i] == 0) continue;
    // Walk the exponent log(c_i) + j * power in the log domain, one step of `power` per syndrome.
    const int power = (length - 1 - i) % 255;
    int exponent = GF.log[block[i]];
    for (int j = 0; j < eccLength; ++j) {
      exponent += power;
      if (exponent >= 255) exponent -= 255;
      syndromes[j] ^= GF.exp[exponent];
    }
  }
  for (int j = 0; j < eccLength; ++j) {
    if (syndromes[j] != 0) return false;
  }
  return true;
}

// Berlekamp-Massey: the shortest error locator Lambda (lowest degree first) that generates the
// syndromes. Returns its degree L.
int findErrorLocator(const std::uint8_t* syndromes, int eccLength, std::uint8_t* locator) {
  std::array<std::uint8_t, RS_MAX_ECC + 2> previous{};
  std::array<std::uint8_t, RS_MAX_ECC + 2> saved{};
  locator[0] = 1;
  for (int i = 1; i <= eccLength; ++i) locator[i] = 0;
  previous[0] = 1;
  int degree = 0;
  int shift = 1;
  std::uint8_t previousDiscrepancy = 1;
  for (int n = 0; n < eccLength; ++n) {
    std::uint8_t discrepancy = syndromes[n];
    for (int i = 1; i <= degree; ++i) discrepancy ^= gfMultiply(locator[i], syndromes[n - i]);
    if (discrepancy == 0) {
      ++shift;
      continue;
    }
    const std::uint8_t scale = gfDivide(discrepancy, previousDiscrepancy);
    const bool lengthens = 2 * degree <= n;
    if (lengthens) std::copy(locator, locator + eccLength + 1, saved.begin());
    for (int i = 0; i + shift <= eccLength; ++i) locator[i + shift] ^= gfMultiply(scale, previous[i]);
    if (lengthens) {
      degree = n + 1 - degree;
      std::copy(saved.begin(), saved.begin() + eccLength + 1, previous.begin());
      previousDiscrepancy = discrepancy;
      shift = 1;
    } else {
      ++shift;
    }
  }
  return degree;
}

}  // namespace

int correctReedSolomonBlock(std::uint8_t* block, int length, int eccLength) {
  if (block == nullptr || eccLength < 1 || eccLength > RS_MAX_ECC || length <= eccLength || length > 255) {
    return -1;
  }
  std::array<std::uint8_t, RS_MAX_ECC> syndromes{};
  if (computeSyndromes(block, length, eccLength, syndromes.data())) return 0;

  std::array<std::uint8_t, RS_MAX_ECC + 2> locator{};
  const int errorCount = findErrorLocator(syndromes.data(), eccLength, locator.data());
  if (errorCount == 0 || 2 * errorCount > eccLength || locator[errorCount] == 0) return -1;

  // Omega = S(x) * Lambda(x) mod x^eccLength, the error evaluator for Forney's formula.
  std::array<std::uint8_t, RS_MAX_ECC> evaluator{};
  for (int i = 0; i < eccLength; ++i) {
    std::uint8_t sum = 0;
    for (int k = 0; k <= i && k <= errorCount; ++k) sum ^= gfMultiply(locator[k], syndromes[i - k]);
    evaluator[i] = sum;
  }
  // Lambda'(x): in characteristic 2 only the odd terms survive differentiation.
  std::array<std::uint8_t, RS_MAX_ECC + 2> derivative{};
  for (int i = 1; i <= errorCount; i += 2) derivative[i - 1] = locator[i];

  // Chien search over the positions of this block only: a root that would lie outside the block
  // means the errors are beyond what the code can locate.
  std::array<int, RS_MAX_ECC> positions{};
  std::array<std::uint8_t, RS_MAX_ECC> magnitudes{};
  int found = 0;
  for (int position = 0; position < length; ++position) {
    const int power = length - 1 - position;  // codeword at position holds x^power
    const std::uint8_t inverse = gfPower(-power);
    if (evaluateAscending(locator.data(), errorCount + 1, inverse) != 0) continue;
    if (found == errorCount) return -1;
    const std::uint8_t slope = evaluateAscending(derivative.data(), errorCount, inverse);
    if (slope == 0) return -1;
    const std::uint8_t magnitude = gfDivide(evaluateAscending(evaluator.data(), eccLength, inverse), slope);
    if (magnitude == 0) return -1;
    positions[found] = position;
    magnitudes[found] = magnitude;
    ++found;
  }
  if (found != errorCount) return -1;

  for (int k = 0; k < found; ++k) block[positions[k]] ^= magnitudes[k];
  // Confirm: the mended block must be a codeword. If not, hand the block back as it came.
  if (!computeSyndromes(block, length, eccLength, syndromes.data())) {
    for (int k = 0; k < found; ++k) block[positions[k]] ^= magnitudes[k];
    return -1;
  }
  return found;
}

bool correctEcc200Codewords(std::vector<std::uint8_t>* codewords, const Ecc200Symbol& symbol,
                            std::vector<int>* correctionsPerBlock) {
  const std::size_t total = static_cast<std::size_t>(symbol.dataCodewords + symbol.eccCodewords);
  if (codewords == nullptr || codewords->size() != total) return false;
  if (correctionsPerBlock != nullptr) correctionsPerBlock->assign(static_cast<std::size_t>(symbol.blockCount), 0);
  const int eccLength = ecc200BlockEccLength(symbol);
  std::array<std::uint8_t, 255> block{};
  // Codeword k of the whole stream, data and check codewords alike, belongs to block k mod blockCount.
  // Where the data does not split evenly (144 x 144) the check codewords therefore start with block
  // dataCodewords mod blockCount, not with block 0.
  for (int b = 0; b < symbol.blockCount; ++b) {
    std::vector<std::size_t> sources;
    sources.reserve(static_cast<std::size_t>(ecc200BlockDataLength(symbol, b) + eccLength));
    for (std::size_t k = static_cast<std::size_t>(b); k < total; k += static_cast<std::size_t>(symbol.blockCount)) {
      sources.push_back(k);
    }
    if (sources.size() > block.size()) return false;
    for (std::size_t k = 0; k < sources.size(); ++k) block[k] = (*codewords)[sources[k]];
    const int length = static_cast<int>(sources.size());
    const int corrected = correctReedSolomonBlock(block.data(), length, eccLength);
    if (corrected < 0) return false;
    if (correctionsPerBlock != nullptr) (*correctionsPerBlock)[static_cast<std::size_t>(b)] = corrected;
    for (std::size_t k = 0; k < sources.size(); ++k) (*codewords)[sources[k]] = block[k];
  }
  return true;
}
