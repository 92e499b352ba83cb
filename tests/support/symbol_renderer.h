// Test-only: draws module matrices into camera-like 8-bit grey images and reports the true corners.
//
// Image coordinates put pixel centres on whole numbers: pixel (x, y) covers [x - 0.5, x + 0.5] x
// [y - 0.5, y + 0.5], as in OpenCV's own warps. A symbol is drawn by mapping every output pixel back to
// module space at several sub-pixel positions, so its reported corners are exactly where its outer
// module edges land and its edges are anti-aliased by true area coverage.
#ifndef QUARNEL_TESTS_SUPPORT_SYMBOL_RENDERER_H_
#define QUARNEL_TESTS_SUPPORT_SYMBOL_RENDERER_H_

#include <cstdint>
#include <vector>

#include <opencv2/core.hpp>

#include "tests/support/symbol_encoder.h"

namespace testsupport {

// Options out of range (listed per field) make the render fail with an empty grey image.
struct RenderOptions {
  int imageWidth = 640;
  int imageHeight = 480;
  double moduleSize = 6.0;    // pixels per module before tilt; > 0
  int quietZone = 2;          // light modules drawn around the symbol; >= 0
  double centreX = -1.0;      // symbol centre in pixels; negative means the image centre
  double centreY = -1.0;
  double rotationDeg = 0.0;   // clockwise on screen (y grows downward); any angle
  double tiltXDeg = 0.0;      // perspective tilt about the image's vertical axis; positive: right edge farther
  double tiltYDeg = 0.0;      // perspective tilt about the image's horizontal axis; positive: top edge farther
  double blurSigma = 0.0;     // Gaussian blur, pixels; 0..50
  double noiseSigma = 0.0;    // Gaussian noise, grey levels; >= 0
  std::uint8_t dark = 30;     // module grey levels
  std::uint8_t light = 220;
  std::uint8_t background = 180;
  double unevenLight = 0.0;   // 0..1: light falls linearly by this fraction across the image, direction from seed
  int clutter = 0;            // number of clutter marks (bars, blobs, text-like strokes) off the symbol
  std::uint32_t seed = 1;     // all randomness is drawn from this seed
};

// Limits of the options above: tilts beyond this, or images larger than this on a side, fail.
constexpr double RENDER_MAX_TILT_DEG = 60.0;
constexpr int RENDER_MAX_IMAGE_SIDE = 16384;

// Outer corners of the symbol (module edges, not centres) in image pixels, named for the upright symbol.
struct SymbolCorners {
  cv::Point2d finderVertex;     // bottom-left: where the two solid legs meet
  cv::Point2d verticalLegEnd;   // top-left: far end of the left (column) finder leg
  cv::Point2d horizontalLegEnd; // bottom-right: far end of the bottom (row) finder leg
  cv::Point2d timingCorner;     // top-right: where the two dotted timing edges meet
};

struct RenderedSymbol {
  cv::Mat grey;  // CV_8UC1, imageWidth x imageHeight; empty when the options are out of range
  SymbolCorners corners;
};

// The symbol must lie wholly inside the image; its quiet zone may be cut by the image border. Clutter keeps
// off the symbol, its quiet zone and a margin around them.
RenderedSymbol renderSymbol(const SymbolMatrix& symbol, const RenderOptions& options);

// Several symbols in one frame. Each symbol's own options give its placement and look (moduleSize,
// quietZone, centre, rotation, tilts, dark, light); every other option comes from `scene`. Symbols whose
// quiet zones overlap fail like out-of-range options. An empty list gives a frame with no symbol in it.
struct PlacedSymbol {
  SymbolMatrix symbol;
  RenderOptions placement;
};
struct RenderedScene {
  cv::Mat grey;                        // CV_8UC1; empty on failure
  std::vector<SymbolCorners> corners;  // one per placed symbol, in order
};
RenderedScene renderSymbols(const std::vector<PlacedSymbol>& symbols, const RenderOptions& scene);

// Image position of a point in module space of a rows x cols symbol drawn at `corners`: (0, 0) is the
// top-left outer corner of the upright symbol, x counts columns rightward and y rows downward, so the
// centre of module (row r, column c) is (c + 0.5, r + 0.5).
cv::Point2d moduleToImage(const SymbolCorners& corners, int rows, int cols, cv::Point2d modulePoint);

// Damage: paints the module-space rectangle `area` (same coordinates as moduleToImage; it may reach past
// the symbol's edge, as a torn or covered border would) with one grey level, anti-aliased, on top of
// everything already in the image. False, with the image untouched, when grey is not a CV_8UC1 image,
// the size is not positive or the area is empty or reaches behind the camera.
bool occludeModules(cv::Mat& grey, const SymbolCorners& corners, int rows, int cols, cv::Rect2d area,
                    std::uint8_t level);

}  // namespace testsupport

#endif  // QUARNEL_TESTS_SUPPORT_SYMBOL_RENDERER_H_
