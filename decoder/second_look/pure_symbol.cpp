// A picture that is one symbol and nothing else: the module grid is laid over the picture's dark extent
// for every symbol size whose shape fits it, and each module is sampled at its centre.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

#include "decoder/ecc200/ecc200.h"
#include "decoder/second_look/homography_sampling.h"
#include "decoder/second_look/pure_pictures.h"
#include "decoder/second_look/second_look.h"

namespace {

// A column or row holds part of the symbol when this share of the picture's other side is dark: a finder
// bar is dark all along, a timing edge about half.
constexpr double MIN_DARK_SHARE_OF_EDGE = 0.2;
// A size fits when the extent's width over its height gives its column count within this many modules.
constexpr double MAX_SHAPE_MISFIT = 0.5;
// The light border a picture of one symbol may have, in modules, on each side.
constexpr double MAX_MARGIN_MODULES = 2.0;
// Each outer edge is also tried this far in and out, in modules: the dark extent of a scaled or blurred
// picture may lose or gain a pixel, which on small modules moves the far modules' centres too far.
constexpr double EDGE_STEP = 0.3;
constexpr std::array<int, 3> EDGE_SHIFTS = {0, -1, 1};
// The ink and the paper are the levels this share of the pixels lies below and above. Not the means of
// two classes: where modules of a pixel or two are scaled, most pixels blend both colours, and a level
// between the classes falls among the blends instead of halfway between the colours.
constexpr double LEVEL_SHARE = 0.02;
// Ink and paper closer than this hold no symbol: a blank picture, or one of a single colour.
constexpr int MIN_CONTRAST = 16;

// The outer edges of a grid in pixels, pixel centres on whole numbers.
struct GridBounds {
  double left = 0.0, top = 0.0, right = 0.0, bottom = 0.0;
};

bool isDark(const IplImage* grey, int x, int y, int threshold) {
  return static_cast<std::uint8_t>(grey->imageData[y * grey->widthStep + x]) <= threshold;
}

// The outermost columns and rows that hold part of the symbol. False when none does.
bool darkExtent(const IplImage* grey, int threshold, GridBounds* bounds) {
  std::vector<int> columnDark(grey->width, 0), rowDark(grey->height, 0);
  for (int y = 0; y < grey->height; ++y) {
    for (int x = 0; x < grey->width; ++x) {
      if (!isDark(grey, x, y, threshold)) continue;
      ++columnDark[x];
      ++rowDark[y];
    }
  }
  auto holdsSymbol = [](int dark, int length) { return dark >= MIN_DARK_SHARE_OF_EDGE * length; };
  int left = 0, right = grey->width - 1, top = 0, bottom = grey->height - 1;
  while (left <= right && !holdsSymbol(columnDark[left], grey->height)) ++left;
  while (right >= left && !holdsSymbol(columnDark[right], grey->height)) --right;
  while (top <= bottom && !holdsSymbol(rowDark[top], grey->width)) ++top;
  while (bottom >= top && !holdsSymbol(rowDark[bottom], grey->width)) --bottom;
  if (left > right || top > bottom) return false;
  *bounds = {left - 0.5, top - 0.5, right + 0.5, bottom + 0.5};
  return true;
}

// A grid of columns x rows over bounds fits when its modules are about square and the picture's border
// beyond it is at most a couple of modules wide. A picture scaled by a factor that is not whole rounds
// each side to whole pixels, which on a thin symbol moves the shape by several columns: either side may
// be a pixel off.
bool gridFits(const IplImage* grey, const GridBounds& bounds, int columns, int rows) {
  const double width = bounds.right - bounds.left, height = bounds.bottom - bounds.top;
  const double fewestColumns = (width - 1.0) * rows / (height + 1.0) - MAX_SHAPE_MISFIT;
  const double mostColumns = (width + 1.0) * rows / std::max(1.0, height - 1.0) + MAX_SHAPE_MISFIT;
  if (columns < fewestColumns || columns > mostColumns) return false;
  const double moduleWidth = width / columns, moduleHeight = height / rows;
  const double marginX = MAX_MARGIN_MODULES * moduleWidth, marginY = MAX_MARGIN_MODULES * moduleHeight;
  return bounds.left + 0.5 <= marginX && grey->width - 0.5 - bounds.right <= marginX &&
         bounds.top + 0.5 <= marginY && grey->height - 0.5 - bounds.bottom <= marginY;
}

// Modules sampled in the picture's own orientation: 1 dark, 0 light. Only the cells asked for are sampled.
struct PictureGrid {
  const IplImage* grey = nullptr;
  double threshold = 0.0;
  GridBounds bounds;
  int columns = 0, rows = 0;
  std::vector<std::int8_t> cells;  // -1 not sampled yet

  int at(int row, int column) {
    std::int8_t& cell = cells[static_cast<size_t>(row) * columns + column];
    if (cell < 0) {
      const double x = bounds.left + (column + 0.5) * (bounds.right - bounds.left) / columns;
      const double y = bounds.top + (row + 0.5) * (bounds.bottom - bounds.top) / rows;
      const double value = sampleGrey(grey, {x, y});
      cell = value >= 0.0 && value < threshold ? 1 : 0;
    }
    return cell;
  }
};

// The picture's grid seen as an upright symbol turned by `quarters` quarter turns clockwise: module
// (row, column) of the upright symbol and the picture's cell that holds it.
struct TurnedGrid {
  PictureGrid* grid;
  int quarters;
  int columns, rows;  // of the upright symbol

  void pictureCell(int row, int column, int* pictureRow, int* pictureColumn) const {
    switch (quarters) {
      case 0: *pictureRow = row, *pictureColumn = column; break;
      case 1: *pictureRow = column, *pictureColumn = grid->columns - 1 - row; break;
      case 2: *pictureRow = grid->rows - 1 - row, *pictureColumn = grid->columns - 1 - column; break;
      default: *pictureRow = grid->rows - 1 - column, *pictureColumn = row; break;
    }
  }
  int at(int row, int column) const {
    int r, c;
    pictureCell(row, column, &r, &c);
    return grid->at(r, c);
  }
};

// The timing edges alternate (the top row dark from the left, the right column dark from the bottom) and
// the finder L is dark, as the second look's guards ask.
bool edgesLookLikeSymbol(const TurnedGrid& turned) {
  const int columns = turned.columns, rows = turned.rows;
  int top = 0, right = 0, finder = 0;
  for (int c = 0; c < columns; ++c) top += turned.at(0, c) == (c % 2 == 0 ? 1 : 0) ? 1 : 0;
  for (int r = 0; r < rows; ++r) right += turned.at(r, columns - 1) == ((rows - 1 - r) % 2 == 0 ? 1 : 0) ? 1 : 0;
  for (int r = 0; r < rows; ++r) finder += turned.at(r, 0);
  for (int c = 1; c < columns; ++c) finder += turned.at(rows - 1, c);
  return top >= SECOND_LOOK_MIN_TIMING_SCORE * columns && right >= SECOND_LOOK_MIN_TIMING_SCORE * rows &&
         finder >= SECOND_LOOK_MIN_FINDER_DARK * (rows + columns - 1);
}

// The matrix the ECC 200 decoder reads: rows below the top timing row, columns left of the right one.
std::vector<std::uint8_t> uprightMatrix(const TurnedGrid& turned) {
  const int width = turned.columns - 1, height = turned.rows - 1;
  std::vector<std::uint8_t> matrix(static_cast<size_t>(width) * height);
  for (int i = 0; i < height; ++i) {
    for (int j = 0; j < width; ++j) matrix[static_cast<size_t>(i) * width + j] = turned.at(i + 1, j);
  }
  return matrix;
}

// The outer corner of the upright symbol's corner module (row, column), on the picture.
CvPoint cornerOnPicture(const TurnedGrid& turned, int row, int column) {
  int r, c;
  turned.pictureCell(row, column, &r, &c);
  const GridBounds& b = turned.grid->bounds;
  const double x = c == 0 ? b.left : b.right, y = r == 0 ? b.top : b.bottom;
  const IplImage* grey = turned.grid->grey;
  return cvPoint(std::clamp(cvRound(x), 0, grey->width - 1), std::clamp(cvRound(y), 0, grey->height - 1));
}

bool readTurnedGrid(const TurnedGrid& turned, DecodedSymbol* symbol) {
  if (!edgesLookLikeSymbol(turned)) return false;
  const std::vector<std::uint8_t> matrix = uprightMatrix(turned);
  Ecc200Message message;
  if (!decodeGuarded(matrix.data(), turned.columns, turned.rows, &message)) return false;
  const int last = turned.rows - 1, right = turned.columns - 1;
  symbol->corners[0] = cornerOnPicture(turned, 0, 0);
  symbol->corners[1] = cornerOnPicture(turned, 0, right);
  symbol->corners[2] = cornerOnPicture(turned, last, right);
  symbol->corners[3] = cornerOnPicture(turned, last, 0);
  symbol->message = std::move(message.bytes);
  symbol->meaning = std::move(message.meaning);
  return true;
}

// Every quarter turn that makes the grid an upright symbol of a known size.
bool readGrid(PictureGrid* grid, DecodedSymbol* symbol) {
  for (int quarters = 0; quarters < 4; ++quarters) {
    const bool across = quarters % 2 == 0;
    const int columns = across ? grid->columns : grid->rows, rows = across ? grid->rows : grid->columns;
    if (findEcc200SymbolIn(columns, rows, true) == nullptr) continue;
    if (readTurnedGrid({grid, quarters, columns, rows}, symbol)) return true;
  }
  return false;
}

// The grid of columns x rows over the dark extent, each outer edge also a little in and out.
bool readGridNear(const IplImage* grey, double threshold, const GridBounds& extent, int columns, int rows,
                  DecodedSymbol* symbol) {
  const double stepX = EDGE_STEP * (extent.right - extent.left) / columns;
  const double stepY = EDGE_STEP * (extent.bottom - extent.top) / rows;
  for (int left : EDGE_SHIFTS) {
    for (int right : EDGE_SHIFTS) {
      for (int top : EDGE_SHIFTS) {
        for (int bottom : EDGE_SHIFTS) {
          PictureGrid grid;
          grid.grey = grey;
          grid.threshold = threshold;
          grid.bounds = {extent.left + left * stepX, extent.top + top * stepY, extent.right + right * stepX,
                         extent.bottom + bottom * stepY};
          grid.columns = columns;
          grid.rows = rows;
          grid.cells.assign(static_cast<size_t>(columns) * rows, -1);
          if (readGrid(&grid, symbol)) return true;
        }
      }
    }
  }
  return false;
}

// The grids the sizes make in the picture, across and turned: (columns, rows) of the picture, each once.
std::vector<std::pair<int, int>> pictureGridShapes() {
  std::vector<std::pair<int, int>> shapes;
  auto add = [&shapes](const Ecc200Symbol& size) {
    for (const std::pair<int, int>& shape : {std::make_pair(size.columns, size.rows), std::make_pair(size.rows, size.columns)}) {
      if (std::find(shapes.begin(), shapes.end(), shape) == shapes.end()) shapes.push_back(shape);
    }
  };
  for (int i = 0; i < ECC200_SYMBOL_COUNT; ++i) add(ecc200SymbolAt(i));
  for (int i = 0; i < ECC200_DMRE_SYMBOL_COUNT; ++i) add(ecc200DmreSymbolAt(i));
  return shapes;
}

std::vector<int> greyHistogram(const IplImage* grey) {
  std::vector<int> counts(256, 0);
  for (int y = 0; y < grey->height; ++y) {
    const auto* row = reinterpret_cast<const std::uint8_t*>(grey->imageData + y * grey->widthStep);
    for (int x = 0; x < grey->width; ++x) ++counts[row[x]];
  }
  return counts;
}

// The level below which the given share of the pixels lies.
int levelAtShare(const std::vector<int>& counts, double share) {
  long long total = 0;
  for (const int count : counts) total += count;
  long long seen = 0;
  for (int i = 0; i < 255; ++i) {
    seen += counts[i];
    if (seen > share * total) return i;
  }
  return 255;
}

bool isUsablePicture(const IplImage* grey) {
  return grey != nullptr && grey->nChannels == 1 && grey->depth == IPL_DEPTH_8U && grey->width > 0 &&
         grey->height > 0 && grey->imageData != nullptr;
}

}  // namespace

PictureLevels pictureLevels(const IplImage* grey) {
  PictureLevels levels;
  if (!isUsablePicture(grey)) return levels;
  const std::vector<int> counts = greyHistogram(grey);
  levels.dark = levelAtShare(counts, LEVEL_SHARE);
  levels.light = levelAtShare(counts, 1.0 - LEVEL_SHARE);
  return levels;
}

ScanStep readPureSymbol(const IplImage* grey, std::vector<DecodedSymbol>* symbols) {
  if (!isUsablePicture(grey) || symbols == nullptr) return SCAN_NOTHING_READ;
  const PictureLevels levels = pictureLevels(grey);
  if (levels.light - levels.dark < MIN_CONTRAST) return SCAN_NOTHING_READ;
  const int threshold = (levels.dark + levels.light) / 2;
  GridBounds extent;
  if (!darkExtent(grey, threshold, &extent)) return SCAN_NOTHING_READ;
  for (const auto& [columns, rows] : pictureGridShapes()) {
    if (!gridFits(grey, extent, columns, rows)) continue;
    DecodedSymbol symbol;
    // A sampled value is dark below the level's upper end, as a pixel at the level is.
    if (readGridNear(grey, threshold + 0.5, extent, columns, rows, &symbol)) {
      symbols->push_back(std::move(symbol));
      return SCAN_READ_AS_PURE_SYMBOL;
    }
  }
  return SCAN_NOTHING_READ;
}
