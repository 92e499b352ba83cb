// Reading order: rows by the centres' heights, then left to right within each row.
#include "text/reading_order.h"

#include <algorithm>

namespace {

struct Place {
  std::size_t index;
  double centreX;
  double centreY;
  double height;
};

Place placeOf(const SymbolOutline& outline, std::size_t index) {
  Place place{index, 0.0, 0.0, 0.0};
  double top = outline[0].y;
  double bottom = outline[0].y;
  for (const OutlinePoint& corner : outline) {
    place.centreX += corner.x / 4.0;
    place.centreY += corner.y / 4.0;
    top = std::min(top, corner.y);
    bottom = std::max(bottom, corner.y);
  }
  place.height = bottom - top;
  return place;
}

}  // namespace

std::vector<std::size_t> readingOrder(const std::vector<SymbolOutline>& outlines) {
  std::vector<Place> places;
  for (std::size_t i = 0; i < outlines.size(); ++i) places.push_back(placeOf(outlines[i], i));
  std::stable_sort(places.begin(), places.end(),
                   [](const Place& a, const Place& b) { return a.centreY < b.centreY; });
  std::vector<std::size_t> order;
  for (std::size_t rowStart = 0; rowStart < places.size();) {
    const Place& opener = places[rowStart];
    std::size_t rowEnd = rowStart + 1;
    while (rowEnd < places.size() &&
           places[rowEnd].centreY - opener.centreY <=
               READING_ROW_TOLERANCE * std::min(opener.height, places[rowEnd].height)) {
      ++rowEnd;
    }
    std::vector<Place> row(places.begin() + static_cast<std::ptrdiff_t>(rowStart),
                           places.begin() + static_cast<std::ptrdiff_t>(rowEnd));
    std::stable_sort(row.begin(), row.end(), [](const Place& a, const Place& b) {
      return a.centreX < b.centreX || (a.centreX == b.centreX && a.index < b.index);
    });
    for (const Place& place : row) order.push_back(place.index);
    rowStart = rowEnd;
  }
  return order;
}
