// The ECC 200 symbol sizes with their data regions and Reed-Solomon block layout: the one table every
// stage that needs a size, a capacity or a region border reads.
#ifndef QUARNEL_DECODER_ECC200_SYMBOL_TABLE_H_
#define QUARNEL_DECODER_ECC200_SYMBOL_TABLE_H_

#include <array>

// One ECC 200 symbol size. Sizes are given as the full symbol, finder and timing patterns included.
struct Ecc200Symbol {
  int columns;
  int rows;
  int regionColumns;  // data modules across one data region
  int regionRows;     // data modules down one data region
  int regionsAcross;
  int regionsDown;
  int dataCodewords;  // whole symbol
  int eccCodewords;   // whole symbol, all blocks together
  int blockCount;     // interleaved Reed-Solomon blocks
};

constexpr int ECC200_SYMBOL_COUNT = 30;
constexpr int ECC200_DMRE_SYMBOL_COUNT = 18;

// clang-format off
// ISO/IEC 16022 Table 7 (ECC 200 symbol attributes), columns x rows.
inline constexpr std::array<Ecc200Symbol, ECC200_SYMBOL_COUNT> ECC200_SYMBOLS = {{
    // columns, rows, region columns, region rows, regions across, regions down, data, ecc, blocks
    {10, 10, 8, 8, 1, 1, 3, 5, 1},
    {12, 12, 10, 10, 1, 1, 5, 7, 1},
    {14, 14, 12, 12, 1, 1, 8, 10, 1},
    {16, 16, 14, 14, 1, 1, 12, 12, 1},
    {18, 18, 16, 16, 1, 1, 18, 14, 1},
    {20, 20, 18, 18, 1, 1, 22, 18, 1},
    {22, 22, 20, 20, 1, 1, 30, 20, 1},
    {24, 24, 22, 22, 1, 1, 36, 24, 1},
    {26, 26, 24, 24, 1, 1, 44, 28, 1},
    {32, 32, 14, 14, 2, 2, 62, 36, 1},
    {36, 36, 16, 16, 2, 2, 86, 42, 1},
    {40, 40, 18, 18, 2, 2, 114, 48, 1},
    {44, 44, 20, 20, 2, 2, 144, 56, 1},
    {48, 48, 22, 22, 2, 2, 174, 68, 1},
    {52, 52, 24, 24, 2, 2, 204, 84, 2},
    {64, 64, 14, 14, 4, 4, 280, 112, 2},
    {72, 72, 16, 16, 4, 4, 368, 144, 4},
    {80, 80, 18, 18, 4, 4, 456, 192, 4},
    {88, 88, 20, 20, 4, 4, 576, 224, 4},
    {96, 96, 22, 22, 4, 4, 696, 272, 4},
    {104, 104, 24, 24, 4, 4, 816, 336, 6},
    {120, 120, 18, 18, 6, 6, 1050, 408, 6},
    {132, 132, 20, 20, 6, 6, 1304, 496, 8},
    {144, 144, 22, 22, 6, 6, 1558, 620, 10},
    {18, 8, 16, 6, 1, 1, 5, 7, 1},
    {32, 8, 14, 6, 2, 1, 10, 11, 1},
    {26, 12, 24, 10, 1, 1, 16, 14, 1},
    {36, 12, 16, 10, 2, 1, 22, 18, 1},
    {36, 16, 16, 14, 2, 1, 32, 24, 1},
    {48, 16, 22, 14, 2, 1, 49, 28, 1},
}};

// ISO/IEC 21471 Table 7 (DMRE symbol attributes), columns x rows; one Reed-Solomon block each.
inline constexpr std::array<Ecc200Symbol, ECC200_DMRE_SYMBOL_COUNT> ECC200_DMRE_SYMBOLS = {{
    // columns, rows, region columns, region rows, regions across, regions down, data, ecc, blocks
    {48, 8, 22, 6, 2, 1, 18, 15, 1},
    {64, 8, 14, 6, 4, 1, 24, 18, 1},
    {80, 8, 18, 6, 4, 1, 32, 22, 1},
    {96, 8, 22, 6, 4, 1, 38, 28, 1},
    {120, 8, 18, 6, 6, 1, 49, 32, 1},
    {144, 8, 22, 6, 6, 1, 63, 36, 1},
    {64, 12, 14, 10, 4, 1, 43, 27, 1},
    {88, 12, 20, 10, 4, 1, 64, 36, 1},
    {64, 16, 14, 14, 4, 1, 62, 36, 1},
    {36, 20, 16, 18, 2, 1, 44, 28, 1},
    {44, 20, 20, 18, 2, 1, 56, 34, 1},
    {64, 20, 14, 18, 4, 1, 84, 42, 1},
    {48, 22, 22, 20, 2, 1, 72, 38, 1},
    {48, 24, 22, 22, 2, 1, 80, 41, 1},
    {64, 24, 14, 22, 4, 1, 108, 46, 1},
    {40, 26, 18, 24, 2, 1, 70, 38, 1},
    {48, 26, 22, 24, 2, 1, 90, 42, 1},
    {64, 26, 14, 24, 4, 1, 118, 50, 1},
}};
// clang-format on

#endif  // QUARNEL_DECODER_ECC200_SYMBOL_TABLE_H_
