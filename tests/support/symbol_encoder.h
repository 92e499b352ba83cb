// Test-only: module matrices of ECC 200 symbols made by independent encoders (libdmtx, libzint).
#ifndef QUARNEL_TESTS_SUPPORT_SYMBOL_ENCODER_H_
#define QUARNEL_TESTS_SUPPORT_SYMBOL_ENCODER_H_

#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

namespace testsupport {

enum class EncoderLib { Dmtx, Zint };
enum class EncodeScheme { Auto, Ascii, C40, Text, X12, Edifact, Base256 };

// A whole symbol, finder and timing included: row-major, top row first, 1 dark and 0 light.
// Upright, the solid finder is the left column and the bottom row; the dotted timing edges are the
// top row and the right column.
struct SymbolMatrix {
  int rows = 0;
  int cols = 0;
  std::vector<std::uint8_t> modules;
  std::uint8_t at(int row, int col) const { return modules[static_cast<size_t>(row) * cols + col]; }
};

// The 30 ECC 200 sizes as (rows, cols), squares 10x10..144x144 then the six rectangles.
const std::vector<std::pair<int, int>>& ecc200Sizes();
// The 18 rectangular extension (DMRE) sizes as (rows, cols), 8x48 ... 26x64 in the encoders' order.
// Only Zint makes them; libdmtx 0.7 knows none of them.
const std::vector<std::pair<int, int>>& dmreSizes();

// Encodes message bytes at exactly rows x cols (0, 0: the encoder's smallest fitting size).
// Dmtx honours the scheme; Zint chooses its own schemes (scheme must be Auto) and is the one to use for
// 144 x 144 and the extension sizes. Empty when the message does not fit or the encoder refuses it.
std::optional<SymbolMatrix> encodeSymbol(const std::vector<std::uint8_t>& message, int rows, int cols,
                                         EncodeScheme scheme = EncodeScheme::Auto,
                                         EncoderLib lib = EncoderLib::Dmtx);
std::optional<SymbolMatrix> encodeSymbol(std::string_view message, int rows, int cols,
                                         EncodeScheme scheme = EncodeScheme::Auto,
                                         EncoderLib lib = EncoderLib::Dmtx);

// A libdmtx symbol together with the codewords libdmtx placed in it (data, then error correction, in the
// order of the module placement). Same arguments and refusals as encodeSymbol with EncoderLib::Dmtx.
struct SymbolWithCodewords {
  SymbolMatrix symbol;
  std::vector<std::uint8_t> codewords;
};
std::optional<SymbolWithCodewords> encodeDmtxWithCodewords(const std::vector<std::uint8_t>& message, int rows,
                                                           int cols, EncodeScheme scheme = EncodeScheme::Auto);

// Function codewords that only Zint writes on request. The message bytes are otherwise encoded as given.
struct ZintFeatures {
  bool gs1 = false;          // message in GS1 bracket syntax ("[01]...[10]..."): leading FNC1, FNC1 separators
  int eci = 0;               // ECI designator written before the data; 0 for none
  int appendIndex = 0;       // structured append: 1-based position in a sequence of appendCount symbols;
  int appendCount = 0;       // appendCount 0 for none
  bool readerProgramming = false;
  bool dmre = false;         // with rows = cols = 0: the extension sizes compete for the smallest fitting size
};

// Zint at exactly rows x cols (0, 0: smallest fitting) with the features above. Empty when refused.
std::optional<SymbolMatrix> encodeZintSymbol(const std::vector<std::uint8_t>& message, int rows, int cols,
                                             const ZintFeatures& features);

}  // namespace testsupport

#endif  // QUARNEL_TESTS_SUPPORT_SYMBOL_ENCODER_H_
