// Reading order: hand-laid outlines whose order a reader sees at a glance, and a rendered picture of
// symbols that name their own row and column.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>

#include "decoder/decoder.h"
#include "text/reading_order.h"
#include "tests/support/symbol_encoder.h"
#include "tests/support/symbol_renderer.h"

namespace {

// An upright square outline around a centre.
SymbolOutline square(double centreX, double centreY, double side) {
  const double half = side / 2.0;
  return {{{centreX - half, centreY - half},
           {centreX + half, centreY - half},
           {centreX + half, centreY + half},
           {centreX - half, centreY + half}}};
}

// The same square turned by 45 degrees: its height is its diagonal.
SymbolOutline diamond(double centreX, double centreY, double halfDiagonal) {
  return {{{centreX, centreY - halfDiagonal},
           {centreX + halfDiagonal, centreY},
           {centreX, centreY + halfDiagonal},
           {centreX - halfDiagonal, centreY}}};
}

TEST(ReadingOrder, ReadsRowsFromTheTopAndEachRowFromTheLeft) {
  const struct {
    const char* name;
    std::vector<SymbolOutline> outlines;
    std::vector<std::size_t> order;
  } cases[] = {
      {"nothing", {}, {}},
      {"one symbol", {square(10, 10, 5)}, {0}},
      {"grid given bottom right first",
       {square(300, 300, 80), square(100, 300, 80), square(300, 100, 80), square(100, 100, 80)},
       {3, 2, 1, 0}},
      {"row at uneven heights stays a row",
       {square(400, 110, 80), square(100, 100, 80), square(250, 115, 80), square(550, 85, 80)},
       {1, 2, 0, 3}},
      {"centres more than half a height apart are two rows",
       {square(400, 100, 80), square(100, 141, 80)},
       {0, 1}},
      {"exactly half a height apart is one row", {square(400, 100, 80), square(100, 140, 80)}, {1, 0}},
      {"small label beside a large one: the smaller height decides",
       {square(100, 200, 200), square(300, 220, 30)},
       {0, 1}},
      {"small label level with a large one", {square(100, 200, 200), square(300, 210, 30)}, {0, 1}},
      {"small label above the large one's centre", {square(400, 200, 200), square(100, 150, 30)}, {1, 0}},
      {"turned symbols are measured by their corners",
       {diamond(300, 130, 60), diamond(100, 100, 60)},
       {1, 0}},
      {"equal places keep the input order", {square(50, 50, 20), square(50, 50, 20)}, {0, 1}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(readingOrder(c.outlines), c.order);
  }
}

// Each step down is within the tolerance of the one before, but a row is measured from its top symbol:
// the third, 75 pixels below the first, opens the next row.
TEST(ReadingOrder, ChainOfStepsStartsANewRow) {
  const std::vector<SymbolOutline> outlines = {square(300, 100, 80), square(200, 135, 80), square(100, 175, 80)};
  EXPECT_EQ(readingOrder(outlines), (std::vector<std::size_t>{1, 0, 2}));
}

// Fourteen labels in two rows, each a little off its line, given in shuffled order.
TEST(ReadingOrder, FourteenLabelsInTwoRows) {
  std::vector<SymbolOutline> outlines;
  std::vector<std::string> names;
  std::mt19937 random(14);
  for (int row = 0; row < 2; ++row) {
    for (int column = 0; column < 7; ++column) {
      const double jitter = static_cast<double>(random() % 31) - 15.0;
      outlines.push_back(square(60.0 + 90.0 * column, 80.0 + 160.0 * row + jitter, 70.0));
      names.push_back("R" + std::to_string(row) + "C" + std::to_string(column));
    }
  }
  std::vector<std::size_t> shuffle(outlines.size());
  for (std::size_t i = 0; i < shuffle.size(); ++i) shuffle[i] = i;
  std::shuffle(shuffle.begin(), shuffle.end(), random);
  std::vector<SymbolOutline> given;
  for (std::size_t i : shuffle) given.push_back(outlines[i]);
  std::vector<std::string> read;
  for (std::size_t i : readingOrder(given)) read.push_back(names[shuffle[i]]);
  EXPECT_EQ(read, names);
}

// A picture of nine symbols at uneven heights, each turned a little more, read by the decoder in its own
// candidate order, comes out row by row once sorted by the corners it reports.
TEST(ReadingOrder, SortsDecodedSymbolsOfAPicture) {
  std::vector<testsupport::PlacedSymbol> placed;
  std::vector<std::string> expected;
  const double rowHeights[3][3] = {{110, 130, 95}, {330, 310, 345}, {540, 560, 530}};
  for (int row = 0; row < 3; ++row) {
    for (int column = 0; column < 3; ++column) {
      const std::string text = "ROW" + std::to_string(row) + "COL" + std::to_string(column);
      const auto symbol = testsupport::encodeSymbol(text, 0, 0);
      ASSERT_TRUE(symbol.has_value());
      testsupport::RenderOptions placement;
      placement.moduleSize = 8.0;
      placement.centreX = 140.0 + 260.0 * column;
      placement.centreY = rowHeights[row][column];
      placement.rotationDeg = 3.0 * (row * 3 + column);
      placed.push_back({*symbol, placement});
      expected.push_back(text);
    }
  }
  testsupport::RenderOptions scene;
  scene.imageWidth = 800;
  scene.imageHeight = 660;
  const testsupport::RenderedScene rendered = testsupport::renderSymbols(placed, scene);
  ASSERT_FALSE(rendered.grey.empty());
  cv::Mat grey = rendered.grey.clone();
  IplImage ipl = cvIplImage(grey);
  DecodeResult results[DECODE_MAX_RESULTS];
  int count = 0;
  ASSERT_EQ(decodeImage(&ipl, results, &count, -1, DECODE_GLOBAL_THRESHOLD), 0);
  ASSERT_EQ(count, 9);
  std::vector<SymbolOutline> outlines;
  for (int i = 0; i < count; ++i) {
    SymbolOutline outline;
    for (int k = 0; k < 4; ++k) outline[k] = {double(results[i].corners[k].x), double(results[i].corners[k].y)};
    outlines.push_back(outline);
  }
  std::vector<std::string> read;
  for (std::size_t i : readingOrder(outlines)) read.push_back(results[i].text);
  EXPECT_EQ(read, expected);
}

}  // namespace
