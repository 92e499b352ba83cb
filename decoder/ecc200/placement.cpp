// Module placement: where each codeword bit sits in the symbol, and reading the codewords back.
#include <array>
#include <cstddef>

#include "decoder/ecc200/ecc200.h"

namespace {

// The mapping matrix is the symbol with every data region's finder and timing modules removed: the
// regions butted together into one nrow x ncol grid. Codewords are placed in it by the diagonal "utah"
// walk of ISO/IEC 16022 Annex F, with its four corner shapes and wrap rules.
struct Placement {
  const Ecc200Symbol& symbol;
  int nrow;
  int ncol;
  std::vector<char> used;    // mapping matrix cells already given a bit
  std::vector<int> modules;  // codeword * 8 + bit (0 = most significant) -> module matrix index

  // Module matrix index of a mapping-matrix cell: skip the finder column and the finder and timing
  // rows and columns between regions; the top timing row is not in the module matrix.
  int matrixIndex(int row, int col) const {
    const int regionRow = row / symbol.regionRows;
    const int regionCol = col / symbol.regionColumns;
    const int matrixRow = regionRow * (symbol.regionRows + 2) + row % symbol.regionRows;
    const int matrixCol = regionCol * (symbol.regionColumns + 2) + 1 + col % symbol.regionColumns;
    return matrixRow * (symbol.columns - 1) + matrixCol;
  }

  void module(int row, int col, int codeword, int bit) {
    if (row < 0) {
      row += nrow;
      col += 4 - ((nrow + 4) % 8);
    }
    if (col < 0) {
      col += ncol;
      row += 4 - ((ncol + 4) % 8);
    }
    // Some rectangular extension sizes (24 mapping rows, 36 or 44 columns) wrap past the bottom here;
    // no ECC 200 size of the 30 ever does.
    if (row >= nrow) row -= nrow;
    used[static_cast<std::size_t>(row) * ncol + col] = 1;
    const std::size_t slot = static_cast<std::size_t>(codeword) * 8 + bit;
    if (slot < modules.size()) modules[slot] = matrixIndex(row, col);
  }

  bool isUsed(int row, int col) const { return used[static_cast<std::size_t>(row) * ncol + col] != 0; }

  // The standard shape: an L of 8 modules whose last (least significant) bit is at (row, col).
  void utah(int row, int col, int codeword) {
    module(row - 2, col - 2, codeword, 0);
    module(row - 2, col - 1, codeword, 1);
    module(row - 1, col - 2, codeword, 2);
    module(row - 1, col - 1, codeword, 3);
    module(row - 1, col, codeword, 4);
    module(row, col - 2, codeword, 5);
    module(row, col - 1, codeword, 6);
    module(row, col, codeword, 7);
  }

  void corner1(int codeword) {
    module(nrow - 1, 0, codeword, 0);
    module(nrow - 1, 1, codeword, 1);
    module(nrow - 1, 2, codeword, 2);
    module(0, ncol - 2, codeword, 3);
    module(0, ncol - 1, codeword, 4);
    module(1, ncol - 1, codeword, 5);
    module(2, ncol - 1, codeword, 6);
    module(3, ncol - 1, codeword, 7);
  }

  void corner2(int codeword) {
    module(nrow - 3, 0, codeword, 0);
    module(nrow - 2, 0, codeword, 1);
    module(nrow - 1, 0, codeword, 2);
    module(0, ncol - 4, codeword, 3);
    module(0, ncol - 3, codeword, 4);
    module(0, ncol - 2, codeword, 5);
    module(0, ncol - 1, codeword, 6);
    module(1, ncol - 1, codeword, 7);
  }

  void corner3(int codeword) {
    module(nrow - 3, 0, codeword, 0);
    module(nrow - 2, 0, codeword, 1);
    module(nrow - 1, 0, codeword, 2);
    module(0, ncol - 2, codeword, 3);
    module(0, ncol - 1, codeword, 4);
    module(1, ncol - 1, codeword, 5);
    module(2, ncol - 1, codeword, 6);
    module(3, ncol - 1, codeword, 7);
  }

  void corner4(int codeword) {
    module(nrow - 1, 0, codeword, 0);
    module(nrow - 1, ncol - 1, codeword, 1);
    module(0, ncol - 3, codeword, 2);
    module(0, ncol - 2, codeword, 3);
    module(0, ncol - 1, codeword, 4);
    module(1, ncol - 3, codeword, 5);
    module(1, ncol - 2, codeword, 6);
    module(1, ncol - 1, codeword, 7);
  }

  // Places codewords until the mapping matrix is full. The cells left over in some sizes hold a fixed
  // pattern and carry no data; they are simply not listed.
  void placeAll() {
    int codeword = 0;
    int row = 4;
    int col = 0;
    do {
      if (row == nrow && col == 0) corner1(codeword++);
      if (row == nrow - 2 && col == 0 && ncol % 4 != 0) corner2(codeword++);
      if (row == nrow - 2 && col == 0 && ncol % 8 == 4) corner3(codeword++);
      if (row == nrow + 4 && col == 2 && ncol % 8 == 0) corner4(codeword++);
      // Sweep up and to the right, then down and to the left.
      do {
        if (row < nrow && col >= 0 && !isUsed(row, col)) utah(row, col, codeword++);
        row -= 2;
        col += 2;
      } while (row >= 0 && col < ncol);
      row += 1;
      col += 3;
      do {
        if (row >= 0 && col < ncol && !isUsed(row, col)) utah(row, col, codeword++);
        row += 2;
        col -= 2;
      } while (row < nrow && col >= 0);
      row += 3;
      col += 1;
    } while (row < nrow || col < ncol);
  }
};

std::vector<int> placeCodewords(const Ecc200Symbol& symbol) {
  const int nrow = symbol.regionRows * symbol.regionsDown;
  const int ncol = symbol.regionColumns * symbol.regionsAcross;
  const int codewordCount = symbol.dataCodewords + symbol.eccCodewords;
  Placement placement{symbol, nrow, ncol, std::vector<char>(static_cast<std::size_t>(nrow) * ncol, 0),
                      std::vector<int>(static_cast<std::size_t>(codewordCount) * 8, -1)};
  placement.placeAll();
  return placement.modules;
}

}  // namespace

// Placement depends on the size alone, so each size's list is built once, on first use, and then only
// read (the initialisation of a function-local static is thread-safe).
const std::vector<int>& ecc200CodewordModules(const Ecc200Symbol& symbol) {
  constexpr int SIZE_COUNT = ECC200_SYMBOL_COUNT + ECC200_DMRE_SYMBOL_COUNT;
  static const auto sizeAt = [](int i) -> const Ecc200Symbol& {
    return i < ECC200_SYMBOL_COUNT ? ecc200SymbolAt(i) : ecc200DmreSymbolAt(i - ECC200_SYMBOL_COUNT);
  };
  static const std::array<std::vector<int>, SIZE_COUNT> placements = [] {
    std::array<std::vector<int>, SIZE_COUNT> lists;
    for (int i = 0; i < SIZE_COUNT; ++i) lists[static_cast<std::size_t>(i)] = placeCodewords(sizeAt(i));
    return lists;
  }();
  for (int i = 0; i < SIZE_COUNT; ++i) {
    const Ecc200Symbol& known = sizeAt(i);
    if (known.columns == symbol.columns && known.rows == symbol.rows) return placements[static_cast<std::size_t>(i)];
  }
  static const std::vector<int> none;
  return none;
}

std::vector<std::uint8_t> readEcc200Codewords(const std::uint8_t* matrix, const Ecc200Symbol& symbol) {
  const std::vector<int>& modules = ecc200CodewordModules(symbol);
  std::vector<std::uint8_t> codewords(modules.size() / 8, 0);
  for (std::size_t i = 0; i < modules.size(); ++i) {
    if (matrix[modules[i]] != 0) codewords[i / 8] |= static_cast<std::uint8_t>(0x80 >> (i % 8));
  }
  return codewords;
}
