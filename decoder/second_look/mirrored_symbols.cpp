// Mirrored symbols: the sampled module matrix read the other way round when it does not read as it is.
#include "decoder/second_look/mirrored_symbols.h"

#include <vector>

#include "decoder/second_look/second_look.h"

void mirrorModuleMatrix(const std::uint8_t* matrix, int columns, int rows, std::uint8_t* mirrored) {
  const int width = columns - 1, height = rows - 1;
  // The mirror image has `width` rows of `height` modules. The reflection keeps the L vertex (bottom
  // left) and the timing corner (top right) where they are.
  for (int i = 0; i < width; ++i) {
    for (int j = 0; j < height; ++j) mirrored[i * height + j] = matrix[(height - 1 - j) * width + (width - 1 - i)];
  }
}

bool decodeEitherSide(const std::uint8_t* matrix, int columns, int rows, Ecc200Message* message, MatrixSide* side) {
  if (decodeGuarded(matrix, columns, rows, message)) {
    *side = MatrixSide::Front;
    return true;
  }
  if (columns < 2 || rows < 2) return false;
  std::vector<std::uint8_t> mirrored(static_cast<size_t>(columns - 1) * (rows - 1));
  mirrorModuleMatrix(matrix, columns, rows, mirrored.data());
  if (!decodeGuarded(mirrored.data(), rows, columns, message)) return false;
  *side = MatrixSide::Mirrored;
  return true;
}
