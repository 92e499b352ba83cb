// The ECC 200 codeword stages on streams straight from the input: the encodation schemes, the
// Reed-Solomon correction of one block, and the correction of a whole interleaved symbol stream.
//
// Input: mode (1 byte), a parameter byte (mode 1: check codewords of the block; mode 2: the symbol size
// index), then the codewords.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "decoder/ecc200/ecc200.h"
#include "tests/fuzz/fuzz_input.h"

namespace {

void fuzzEncodation(const std::vector<std::uint8_t>& codewords) {
  std::vector<std::uint8_t> message;
  const bool decoded = decodeEcc200Codewords(codewords.empty() ? nullptr : codewords.data(), codewords.size(), &message);
  if (decoded) {
    std::vector<std::uint8_t> again;
    fuzzCheck(decodeEcc200Codewords(codewords.data(), codewords.size(), &again) && again == message);
  }
}

// A corrected block is a codeword: a second correction finds nothing to mend. A refused block is left
// as it was, and no more codewords are changed than the count reported.
void fuzzBlock(std::vector<std::uint8_t> block, int eccLength) {
  if (block.empty()) return;
  const std::vector<std::uint8_t> received = block;
  const int corrected = correctReedSolomonBlock(block.data(), static_cast<int>(block.size()), eccLength);
  if (corrected < 0) {
    fuzzCheck(block == received);
    return;
  }
  fuzzCheck(2 * corrected <= eccLength);
  int changed = 0;
  for (std::size_t k = 0; k < block.size(); ++k) changed += block[k] != received[k] ? 1 : 0;
  fuzzCheck(changed == corrected);
  const std::vector<std::uint8_t> mended = block;
  fuzzCheck(correctReedSolomonBlock(block.data(), static_cast<int>(block.size()), eccLength) == 0);
  fuzzCheck(block == mended);
}

// The interleaved stream of one symbol size (or of a wrong length, which must be refused).
void fuzzSymbolStream(std::vector<std::uint8_t> codewords, int sizeIndex) {
  const Ecc200Symbol& symbol = ecc200SymbolAt(sizeIndex);
  const std::size_t total = static_cast<std::size_t>(symbol.dataCodewords + symbol.eccCodewords);
  const bool corrected = correctEcc200Codewords(&codewords, symbol);
  fuzzCheck(!corrected || codewords.size() == total);
  if (!corrected) return;
  const std::vector<std::uint8_t> mended = codewords;
  fuzzCheck(correctEcc200Codewords(&codewords, symbol) && codewords == mended);
  std::vector<std::uint8_t> message;
  decodeEcc200Codewords(codewords.data(), static_cast<std::size_t>(symbol.dataCodewords), &message);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput input(data, size);
  const std::uint8_t mode = input.takeByte() % 3;
  const std::uint8_t parameter = input.takeByte();
  const std::vector<std::uint8_t> codewords = input.takeRest();
  if (mode == 0) {
    fuzzEncodation(codewords);
  } else if (mode == 1) {
    fuzzBlock(codewords, parameter % 70);
  } else {
    fuzzSymbolStream(codewords, parameter % ECC200_SYMBOL_COUNT);
  }
  return 0;
}
