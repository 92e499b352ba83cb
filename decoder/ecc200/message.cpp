// decodeEcc200Message: module matrix to message and meaning, through placement, error correction and
// encodation, under the same read limits as decodeEcc200WithLimits.
#include <algorithm>
#include <utility>

#include "decoder/ecc200/ecc200_message.h"

bool decodeEcc200Message(const std::uint8_t* matrix, int columns, int rows, const Ecc200ReadLimits& limits,
                         Ecc200Message* message, Ecc200ReadReport* report) {
  if (matrix == nullptr || message == nullptr) return false;
  const Ecc200Symbol* symbol = findEcc200SymbolIn(columns, rows, limits.allowDmre);
  if (symbol == nullptr) return false;
  std::vector<std::uint8_t> codewords = readEcc200Codewords(matrix, *symbol);
  std::vector<int> corrections;
  if (!correctEcc200Codewords(&codewords, *symbol, &corrections)) return false;
  const int capacity = ecc200BlockEccLength(*symbol) / 2;
  const int mostCorrections = corrections.empty() ? 0 : *std::max_element(corrections.begin(), corrections.end());
  const double mostShare = capacity > 0 ? static_cast<double>(mostCorrections) / capacity : 0.0;
  if (mostCorrections > static_cast<int>(limits.maxCorrectionShare * capacity)) return false;
  Ecc200Message decoded;
  const std::size_t dataCount = static_cast<std::size_t>(symbol->dataCodewords);
  if (!decodeEcc200CodewordsWithMeaning(codewords.data(), dataCount, &decoded) &&
      !(limits.anyPaddingWhenUncorrected && mostCorrections == 0 &&
        decodeEcc200CodewordsWithMeaning(codewords.data(), dataCount, &decoded, Ecc200Padding::EndsAtFirstPad))) {
    return false;
  }
  *message = std::move(decoded);
  if (report != nullptr) *report = {symbol, mostCorrections, mostShare};
  return true;
}
