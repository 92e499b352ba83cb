// decodeEcc200 on module matrices of every symbol size, and on sizes that are none.
//
// Input: size selector (1 byte; below 240 it picks one of the 30 sizes, otherwise columns and rows come
// from the next two bytes), module mode (1 byte: bit 0 clear packs eight modules per byte, most
// significant bit first; set takes one byte per module, any nonzero value dark), then the modules row by
// row. Missing modules are light.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "decoder/ecc200/ecc200.h"
#include "tests/fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput input(data, size);
  const std::uint8_t selector = input.takeByte();
  int columns = 0;
  int rows = 0;
  if (selector < 240) {
    const Ecc200Symbol& symbol = ecc200SymbolAt(selector % ECC200_SYMBOL_COUNT);
    columns = symbol.columns;
    rows = symbol.rows;
  } else {
    columns = input.takeByte();
    rows = input.takeByte();
  }
  const bool bytePerModule = (input.takeByte() & 1) != 0;
  const std::vector<std::uint8_t> modules = input.takeRest();

  // Exactly the matrix the decoder may read: rows - 1 rows of columns - 1 modules.
  const std::size_t matrixRows = rows > 1 ? static_cast<std::size_t>(rows - 1) : 0;
  const std::size_t matrixColumns = columns > 1 ? static_cast<std::size_t>(columns - 1) : 0;
  std::vector<std::uint8_t> matrix(matrixRows * matrixColumns);
  for (std::size_t m = 0; m < matrix.size(); ++m) {
    if (bytePerModule) {
      matrix[m] = m < modules.size() ? modules[m] : 0;
    } else {
      const std::size_t byte = m / 8;
      matrix[m] = byte < modules.size() ? (modules[byte] >> (7 - m % 8)) & 1 : 0;
    }
  }

  std::vector<std::uint8_t> message;
  // An empty matrix still needs a valid pointer; the decoder must refuse the size before reading.
  std::uint8_t none = 0;
  const bool decoded = decodeEcc200(matrix.empty() ? &none : matrix.data(), columns, rows, &message);
  const Ecc200Symbol* symbol = findEcc200Symbol(columns, rows);
  fuzzCheck(!decoded || symbol != nullptr);
  if (decoded) {
    // The same matrix decodes the same way again: no state carries over between calls.
    std::vector<std::uint8_t> again;
    fuzzCheck(decodeEcc200(matrix.data(), columns, rows, &again) && again == message);
  }
  return 0;
}
