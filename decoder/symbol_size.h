// The symbol size: module counts along the two timing edges, checked against the ECC 200 sizes, and the
// module-width models the grid is laid with.
#ifndef QUARNEL_DECODER_SYMBOL_SIZE_H_
#define QUARNEL_DECODER_SYMBOL_SIZE_H_

#include <array>
#include <cstddef>

#include "decoder/ecc200/symbol_table.h"
#include "decoder/runs.h"
#include "decoder/symbol_decoder.h"

struct SymbolSize {
  int columns;
  int rows;
};

// The 30 ECC 200 sizes (24 squares, then 6 rectangles) as (columns, rows), read from the symbol table; a
// rectangle is only accepted with its longer side as the column count.
constexpr int SYMBOL_SIZE_COUNT = ECC200_SYMBOL_COUNT;
constexpr std::array<SymbolSize, SYMBOL_SIZE_COUNT> listSymbolSizes() {
  std::array<SymbolSize, SYMBOL_SIZE_COUNT> sizes{};
  for (std::size_t i = 0; i < sizes.size(); ++i) sizes[i] = {ECC200_SYMBOLS[i].columns, ECC200_SYMBOLS[i].rows};
  return sizes;
}
inline constexpr std::array<SymbolSize, SYMBOL_SIZE_COUNT> symbolSizes = listSymbolSizes();

constexpr int SYMBOL_MAX_MODULES = 144;

// Status codes of measureSymbolSize.
enum MeasureStatus {
  MEASURE_STATUS_OK = 0,
  MEASURE_STATUS_BAD_SIZE = 3,
};

bool isSymbolSize(int columns, int rows);

// The symbol size and the module-width models along the top edge (from corners[0]) and the right edge
// (from corners[2]) of an oriented candidate, measured in ctx->workImage.
struct SymbolMeasure {
  int columns = 0;
  int rows = 0;
  RunModel columnModel = {0, 0.0f, 0.0f};
  RunModel rowModel = {0, 0.0f, 0.0f};
};

// MEASURE_STATUS_OK, or MEASURE_STATUS_BAD_SIZE when a count exceeds 144 or the pair is no ECC 200 size.
int measureSymbolSize(SymbolDecoder* ctx, int index, SymbolMeasure* measure);

#endif  // QUARNEL_DECODER_SYMBOL_SIZE_H_
