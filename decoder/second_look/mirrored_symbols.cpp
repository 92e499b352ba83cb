// Mirrored symbols: the sampled module matrix read the other way round when it does not read as it is.
#include "decoder/second_look/mirrored_symbols.h"

#include <utility>

#include "decoder/second_look/second_look.h"

void mirrorModuleMatrix(const std::uint8_t* matrix, int columns, int rows, std::uint8_t* mirrored) {
  const int width = columns - 1, height = rows - 1;
  // The mirror image has `width` rows of `height` modules. The reflection keeps the L vertex (bottom
  // left) and the timing corner (top right) where they are.
  for (int i = 0; i < width; ++i) {
    for (int j = 0; j < height; ++j) mirrored[i * height + j] = matrix[(height - 1 - j) * width + (width - 1 - i)];
  }
}

Ecc200Symbol mirroredSize(const Ecc200Symbol& size) {
  Ecc200Symbol mirrored = size;
  std::swap(mirrored.columns, mirrored.rows);
  std::swap(mirrored.regionColumns, mirrored.regionRows);
  std::swap(mirrored.regionsAcross, mirrored.regionsDown);
  return mirrored;
}

bool decodeEitherSide(const std::uint8_t* matrix, int columns, int rows, Ecc200Message* message, MatrixSide* side) {
  auto guarded = [message](const std::uint8_t* m, int c, int r) { return decodeGuarded(m, c, r, message); };
  return readEitherSide(matrix, columns, rows, guarded, side);
}
