// decodeEcc200: module matrix to message, through placement, error correction and encodation.
#include "decoder/ecc200/ecc200.h"
#include "decoder/ecc200/ecc200_message.h"

#include <utility>

bool decodeEcc200(const std::uint8_t* matrix, int columns, int rows, std::vector<std::uint8_t>* message) {
  if (matrix == nullptr || message == nullptr) return false;
  const Ecc200Symbol* symbol = findEcc200Symbol(columns, rows);
  if (symbol == nullptr) return false;
  std::vector<std::uint8_t> codewords = readEcc200Codewords(matrix, *symbol);
  if (!correctEcc200Codewords(&codewords, *symbol)) return false;
  std::vector<std::uint8_t> decoded;
  if (!decodeEcc200Codewords(codewords.data(), static_cast<std::size_t>(symbol->dataCodewords), &decoded)) {
    return false;
  }
  *message = std::move(decoded);
  return true;
}

bool decodeEcc200WithLimits(const std::uint8_t* matrix, int columns, int rows, const Ecc200ReadLimits& limits,
                            std::vector<std::uint8_t>* message, Ecc200ReadReport* report) {
  if (message == nullptr) return false;
  Ecc200Message decoded;
  if (!decodeEcc200Message(matrix, columns, rows, limits, &decoded, report)) return false;
  *message = std::move(decoded.bytes);
  return true;
}
