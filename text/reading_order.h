// The order in which a person reads the symbols of one picture: row by row from the top, each row from
// the left.
#ifndef QUARNEL_TEXT_READING_ORDER_H_
#define QUARNEL_TEXT_READING_ORDER_H_

#include <array>
#include <cstddef>
#include <vector>

struct OutlinePoint {
  double x;
  double y;  // downward
};

// A symbol's four outline corners, in any order.
using SymbolOutline = std::array<OutlinePoint, 4>;

// Share of a symbol's height by which two centres may differ and still stand in one row.
constexpr double READING_ROW_TOLERANCE = 0.5;

// Indices into outlines in reading order. Each symbol is placed by its centre (the mean of its corners)
// and its height (the vertical extent of its corners). Taken from the top, the highest symbol not yet
// placed opens a row; a later symbol joins that row when its centre lies below the opener's centre by
// no more than READING_ROW_TOLERANCE times the smaller of the two heights, so a row of labels stuck at
// slightly different heights stays one row. Each row is then read by centre from left to right. Equal
// positions keep the input order.
std::vector<std::size_t> readingOrder(const std::vector<SymbolOutline>& outlines);

#endif  // QUARNEL_TEXT_READING_ORDER_H_
