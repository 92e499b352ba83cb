// Dot marking: each dark module a round dot of the asked share of the module, light between, the symbol
// placed exactly where the plain renderer places it; shares out of range fail as options out of range do.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "tests/support/dot_marking.h"
#include "tests/support/symbol_renderer.h"

namespace {

using testsupport::moduleToImage;
using testsupport::renderDotSymbol;
using testsupport::RenderedSymbol;
using testsupport::RenderOptions;
using testsupport::SymbolMatrix;

// Two dark modules side by side in the middle row of a 5 x 5 matrix, all else light.
SymbolMatrix twoDarkModules() {
  SymbolMatrix symbol{5, 5, std::vector<std::uint8_t>(25, 0)};
  symbol.modules[2 * 5 + 1] = 1;
  symbol.modules[2 * 5 + 2] = 1;
  return symbol;
}

RenderOptions largeModules() {
  RenderOptions options;
  options.imageWidth = 200;
  options.imageHeight = 200;
  options.moduleSize = 20.0;
  options.rotationDeg = 30.0;
  return options;
}

int greyAt(const RenderedSymbol& rendered, double column, double row) {
  const cv::Point2d p = moduleToImage(rendered.corners, 5, 5, {column, row});
  return rendered.grey.at<std::uint8_t>(static_cast<int>(std::lround(p.y)), static_cast<int>(std::lround(p.x)));
}

TEST(DotMarking, DotsAreRoundAndTouchOnlyWhenWiderThanTheirModule) {
  struct Case {
    double dotShare;
    bool midpointDark;  // halfway between the two dark modules' centres
    bool cornerDark;    // a dark module's cell corner, 0.71 module from its centre
  };
  const Case CASES[] = {{0.6, false, false}, {0.85, false, false}, {1.05, true, false}, {1.2, true, false}};
  const RenderOptions options = largeModules();
  for (const Case& c : CASES) {
    const RenderedSymbol rendered = renderDotSymbol(twoDarkModules(), options, c.dotShare);
    ASSERT_FALSE(rendered.grey.empty()) << c.dotShare;
    const int middle = (options.dark + options.light) / 2;
    EXPECT_LT(greyAt(rendered, 1.5, 2.5), middle) << "dot centre at " << c.dotShare;
    EXPECT_EQ(greyAt(rendered, 2.0, 2.5) < middle, c.midpointDark) << c.dotShare;
    EXPECT_EQ(greyAt(rendered, 1.0, 2.0) < middle, c.cornerDark) << c.dotShare;
    EXPECT_GT(greyAt(rendered, 3.5, 2.5), middle) << "light module at " << c.dotShare;
  }
}

TEST(DotMarking, PlacesTheSymbolAsThePlainRendererDoes) {
  RenderOptions options = largeModules();
  options.tiltXDeg = 20.0;
  options.centreX = 90.0;
  const RenderedSymbol plain = testsupport::renderSymbol(twoDarkModules(), options);
  const RenderedSymbol dotted = renderDotSymbol(twoDarkModules(), options, 0.7);
  ASSERT_FALSE(dotted.grey.empty());
  EXPECT_EQ(dotted.corners.finderVertex, plain.corners.finderVertex);
  EXPECT_EQ(dotted.corners.verticalLegEnd, plain.corners.verticalLegEnd);
  EXPECT_EQ(dotted.corners.horizontalLegEnd, plain.corners.horizontalLegEnd);
  EXPECT_EQ(dotted.corners.timingCorner, plain.corners.timingCorner);
}

TEST(DotMarking, SharesOutOfRangeAndBadOptionsGiveAnEmptyImage) {
  const double BAD_SHARES[] = {0.0, -0.3, 1.21, std::numeric_limits<double>::quiet_NaN(),
                               std::numeric_limits<double>::infinity()};
  for (const double share : BAD_SHARES) {
    EXPECT_TRUE(renderDotSymbol(twoDarkModules(), largeModules(), share).grey.empty()) << share;
  }
  RenderOptions tooLarge = largeModules();
  tooLarge.moduleSize = 100.0;  // the symbol no longer fits the image
  EXPECT_TRUE(renderDotSymbol(twoDarkModules(), tooLarge, 0.7).grey.empty());
  EXPECT_FALSE(renderDotSymbol(twoDarkModules(), largeModules(), 1.2).grey.empty());
}

}  // namespace
