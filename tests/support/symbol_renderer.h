// Test-only: draws module matrices into camera-like 8-bit grey images and reports the true corners.
#ifndef QUARNEL_TESTS_SUPPORT_SYMBOL_RENDERER_H_
#define QUARNEL_TESTS_SUPPORT_SYMBOL_RENDERER_H_

#include <cstdint>

#include <opencv2/core.hpp>

#include "symbol_encoder.h"

namespace testsupport {

struct RenderOptions {
  int imageWidth = 640;
  int imageHeight = 480;
  double moduleSize = 6.0;    // pixels per module before tilt
  int quietZone = 2;          // light modules drawn around the symbol
  double centreX = -1.0;      // symbol centre in pixels; negative means the image centre
  double centreY = -1.0;
  double rotationDeg = 0.0;   // clockwise on screen (y grows downward)
  double tiltXDeg = 0.0;      // perspective tilt about the image's vertical axis
  double tiltYDeg = 0.0;      // perspective tilt about the image's horizontal axis
  double blurSigma = 0.0;     // Gaussian blur, pixels
  double noiseSigma = 0.0;    // Gaussian noise, grey levels
  std::uint8_t dark = 30;     // module grey levels
  std::uint8_t light = 220;
  std::uint8_t background = 180;
  double unevenLight = 0.0;   // 0..1: strength of a smooth illumination gradient
  int clutter = 0;            // number of clutter marks (bars, blobs, text-like strokes) off the symbol
  std::uint32_t seed = 1;     // all randomness is drawn from this seed
};

// Outer corners of the symbol (module edges, not centres) in image pixels, named for the upright symbol.
struct SymbolCorners {
  cv::Point2d finderVertex;     // bottom-left: where the two solid legs meet
  cv::Point2d verticalLegEnd;   // top-left: far end of the left (column) finder leg
  cv::Point2d horizontalLegEnd; // bottom-right: far end of the bottom (row) finder leg
  cv::Point2d timingCorner;     // top-right: where the two dotted timing edges meet
};

struct RenderedSymbol {
  cv::Mat grey;  // CV_8UC1, imageWidth x imageHeight
  SymbolCorners corners;
};

RenderedSymbol renderSymbol(const SymbolMatrix& symbol, const RenderOptions& options);

}  // namespace testsupport

#endif  // QUARNEL_TESTS_SUPPORT_SYMBOL_RENDERER_H_
