// Look-ups in the ECC 200 symbol table and the share of each Reed-Solomon block.
#include "decoder/ecc200/ecc200.h"

#include <array>

const Ecc200Symbol& ecc200SymbolAt(int index) { return ECC200_SYMBOLS.at(static_cast<std::size_t>(index)); }

const Ecc200Symbol* findEcc200Symbol(int columns, int rows) {
  for (const Ecc200Symbol& symbol : ECC200_SYMBOLS) {
    if (symbol.columns == columns && symbol.rows == rows) return &symbol;
  }
  return nullptr;
}

const Ecc200Symbol& ecc200DmreSymbolAt(int index) { return ECC200_DMRE_SYMBOLS.at(static_cast<std::size_t>(index)); }

const Ecc200Symbol* findEcc200SymbolIn(int columns, int rows, bool allowDmre) {
  if (const Ecc200Symbol* symbol = findEcc200Symbol(columns, rows)) return symbol;
  if (!allowDmre) return nullptr;
  for (const Ecc200Symbol& symbol : ECC200_DMRE_SYMBOLS) {
    if (symbol.columns == columns && symbol.rows == rows) return &symbol;
  }
  return nullptr;
}

// Data codeword i belongs to block i mod blockCount, so when the blocks cannot share the data evenly
// (only 144 x 144) the first blocks take the extra codeword.
int ecc200BlockDataLength(const Ecc200Symbol& symbol, int block) {
  return symbol.dataCodewords / symbol.blockCount + (block < symbol.dataCodewords % symbol.blockCount ? 1 : 0);
}

int ecc200BlockEccLength(const Ecc200Symbol& symbol) { return symbol.eccCodewords / symbol.blockCount; }
