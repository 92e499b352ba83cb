// Test-only symbol renderer: exact projective geometry, area-coverage anti-aliasing, then the camera's
// light, blur and noise, all deterministic from the seed.
#include "tests/support/symbol_renderer.h"
#include "tests/support/symbol_renderer_shapes.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <optional>
#include <string>

#include <opencv2/imgproc.hpp>

namespace testsupport {
namespace {

// Sub-pixel samples per pixel side: an edge lands within 1 / (2 * RENDER_SUBSAMPLES) pixel of its place.
constexpr int RENDER_SUBSAMPLES = 6;
// Tries to place one clutter mark clear of the symbols before it is skipped.
constexpr int RENDER_CLUTTER_TRIES = 30;
constexpr int RENDER_MAX_CLUTTER = 10000;
constexpr double RENDER_MAX_BLUR = 50.0;
// Largest symbol side accepted, far above any ECC 200 size; keeps rows * cols from overflowing.
constexpr int RENDER_MAX_SYMBOL_SIDE = 100000;

// Independent random streams, so that, say, adding clutter does not change the noise of a frame.
enum RandomStream : std::uint64_t { STREAM_CLUTTER = 1, STREAM_LIGHT = 2, STREAM_NOISE = 3 };

cv::RNG streamRng(std::uint32_t seed, RandomStream stream) {
  // splitmix64 finaliser: spreads neighbouring seeds apart; cv::RNG treats a zero state specially.
  std::uint64_t z = (static_cast<std::uint64_t>(seed) << 8 | stream) + 0x9E3779B97F4A7C15ULL;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  z ^= z >> 31;
  return cv::RNG(z == 0 ? 1 : z);
}

bool finite(double value) { return std::isfinite(value); }

// Module space (x: columns rightward, y: rows downward, origin at the symbol's top-left outer corner)
// to image pixels and back.
struct SymbolGeometry {
  cv::Matx33d toImage;
  cv::Matx33d toModule;
};

cv::Point2d applyHomography(const cv::Matx33d& h, cv::Point2d p) {
  const cv::Vec3d q = h * cv::Vec3d(p.x, p.y, 1.0);
  return {q[0] / q[2], q[1] / q[2]};
}

double homogeneousScale(const cv::Matx33d& h, cv::Point2d p) { return h(2, 0) * p.x + h(2, 1) * p.y + h(2, 2); }

bool symbolValid(const SymbolMatrix& symbol) {
  return symbol.rows > 0 && symbol.cols > 0 && symbol.rows <= RENDER_MAX_SYMBOL_SIDE &&
         symbol.cols <= RENDER_MAX_SYMBOL_SIDE &&
         symbol.modules.size() == static_cast<std::size_t>(symbol.rows) * static_cast<std::size_t>(symbol.cols);
}

bool sceneValid(const RenderOptions& scene) {
  return scene.imageWidth > 0 && scene.imageHeight > 0 && scene.imageWidth <= RENDER_MAX_IMAGE_SIDE &&
         scene.imageHeight <= RENDER_MAX_IMAGE_SIDE && finite(scene.blurSigma) && scene.blurSigma >= 0.0 &&
         scene.blurSigma <= RENDER_MAX_BLUR && finite(scene.noiseSigma) && scene.noiseSigma >= 0.0 &&
         finite(scene.unevenLight) && scene.unevenLight >= 0.0 && scene.unevenLight <= 1.0 &&
         scene.clutter >= 0 && scene.clutter <= RENDER_MAX_CLUTTER;
}

bool placementValid(const RenderOptions& placement) {
  return finite(placement.moduleSize) && placement.moduleSize > 0.0 && placement.quietZone >= 0 &&
         placement.quietZone <= RENDER_MAX_SYMBOL_SIDE && finite(placement.centreX) && finite(placement.centreY) &&
         finite(placement.rotationDeg) && finite(placement.tiltXDeg) && finite(placement.tiltYDeg) &&
         std::abs(placement.tiltXDeg) <= RENDER_MAX_TILT_DEG && std::abs(placement.tiltYDeg) <= RENDER_MAX_TILT_DEG;
}

std::array<cv::Point2d, 4> cornersOfArea(const SymbolGeometry& geometry, double left, double top, double right,
                                         double bottom) {
  return {applyHomography(geometry.toImage, {left, top}), applyHomography(geometry.toImage, {right, top}),
          applyHomography(geometry.toImage, {right, bottom}), applyHomography(geometry.toImage, {left, bottom})};
}

std::array<cv::Point2d, 4> quietZoneQuad(const SymbolMatrix& symbol, const RenderOptions& placement,
                                         const SymbolGeometry& geometry) {
  const double q = placement.quietZone;
  return cornersOfArea(geometry, -q, -q, symbol.cols + q, symbol.rows + q);
}

// The symbol, centred on the origin, is turned in depth about the vertical axis (tiltX) and then the
// horizontal axis (tiltY), seen by a pinhole camera whose focal length equals its distance, so the centre
// keeps its scale; the camera then turns clockwise on screen and the centre moves into place.
std::optional<SymbolGeometry> placeSymbol(const SymbolMatrix& symbol, const RenderOptions& placement, int width,
                                          int height) {
  if (!symbolValid(symbol) || !placementValid(placement)) return std::nullopt;
  const double m = placement.moduleSize;
  const double halfWidth = (symbol.cols / 2.0 + placement.quietZone) * m;
  const double halfHeight = (symbol.rows / 2.0 + placement.quietZone) * m;
  // A camera about as wide as the image, and always far enough that the whole quiet zone stays in front.
  const double distance = std::max({static_cast<double>(width), static_cast<double>(height),
                                    2.0 * (halfWidth + halfHeight)});
  if (!finite(distance)) return std::nullopt;

  const cv::Matx33d centreOnOrigin(m, 0, -symbol.cols / 2.0 * m, 0, m, -symbol.rows / 2.0 * m, 0, 0, 1);
  const double a = placement.tiltXDeg * CV_PI / 180.0;
  const double b = placement.tiltYDeg * CV_PI / 180.0;
  // Rows of Rx(b) * Ry(a) applied to (x, y, 0); the third row is depth, divided by the distance.
  const cv::Matx33d tilt(std::cos(a), 0, 0, std::sin(a) * std::sin(b), std::cos(b), 0,
                         std::sin(a) * std::cos(b) / distance, -std::sin(b) / distance, 1);
  const double r = placement.rotationDeg * CV_PI / 180.0;
  // With y downward this matrix turns +x toward +y: clockwise as seen on screen.
  const cv::Matx33d rotate(std::cos(r), -std::sin(r), 0, std::sin(r), std::cos(r), 0, 0, 0, 1);
  const double cx = placement.centreX < 0.0 ? (width - 1) / 2.0 : placement.centreX;
  const double cy = placement.centreY < 0.0 ? (height - 1) / 2.0 : placement.centreY;
  const cv::Matx33d moveToCentre(1, 0, cx, 0, 1, cy, 0, 0, 1);

  SymbolGeometry geometry;
  geometry.toImage = moveToCentre * rotate * tilt * centreOnOrigin;
  geometry.toModule = geometry.toImage.inv();

  // The symbol itself must be inside the image; its quiet zone may be cut by the border.
  for (const cv::Point2d& corner : cornersOfArea(geometry, 0, 0, symbol.cols, symbol.rows)) {
    if (!(corner.x >= -0.5 && corner.x <= width - 0.5 && corner.y >= -0.5 && corner.y <= height - 0.5)) {
      return std::nullopt;
    }
  }
  return geometry;
}

SymbolCorners cornersOf(const SymbolMatrix& symbol, const SymbolGeometry& geometry) {
  SymbolCorners corners;
  corners.finderVertex = applyHomography(geometry.toImage, {0.0, static_cast<double>(symbol.rows)});
  corners.verticalLegEnd = applyHomography(geometry.toImage, {0.0, 0.0});
  corners.horizontalLegEnd =
      applyHomography(geometry.toImage, {static_cast<double>(symbol.cols), static_cast<double>(symbol.rows)});
  corners.timingCorner = applyHomography(geometry.toImage, {static_cast<double>(symbol.cols), 0.0});
  return corners;
}

bool quadsOverlap(const std::array<cv::Point2d, 4>& first, const std::array<cv::Point2d, 4>& second) {
  std::vector<cv::Point2f> a(first.begin(), first.end());
  std::vector<cv::Point2f> b(second.begin(), second.end());
  std::vector<cv::Point2f> common;
  return cv::intersectConvexConvex(a, b, common, true) > 0.0f;
}

// Pixels no clutter mark may touch: every quiet zone, widened past the reach of the blur kernel (OpenCV cuts
// float Gaussian kernels at four sigmas) and of anti-aliasing, so the blurred clutter never reaches it.
cv::Mat clutterKeepOut(cv::Size size, const std::vector<std::array<cv::Point2d, 4>>& quads, double blurSigma) {
  constexpr int SHIFT = 4;  // fillConvexPoly's fixed-point fraction bits
  cv::Mat keepOut(size, CV_8UC1, cv::Scalar(0));
  for (const auto& quad : quads) {
    // Clip a quiet zone reaching far past the image, so its corners stay in fixed-point range.
    const std::vector<cv::Point2f> around = {{-1.0f * size.width, -1.0f * size.height},
                                             {2.0f * size.width, -1.0f * size.height},
                                             {2.0f * size.width, 2.0f * size.height},
                                             {-1.0f * size.width, 2.0f * size.height}};
    std::vector<cv::Point2f> clipped;
    cv::intersectConvexConvex(std::vector<cv::Point2f>(quad.begin(), quad.end()), around, clipped, true);
    std::vector<cv::Point> points;
    for (const cv::Point2f& p : clipped) points.emplace_back(cvRound(p.x * (1 << SHIFT)), cvRound(p.y * (1 << SHIFT)));
    if (!points.empty()) cv::fillConvexPoly(keepOut, points, cv::Scalar(255), cv::LINE_8, SHIFT);
  }
  const int margin = 3 + static_cast<int>(std::ceil(4.0 * blurSigma));
  const cv::Mat disc = cv::getStructuringElement(cv::MORPH_ELLIPSE, cv::Size(2 * margin + 1, 2 * margin + 1));
  cv::dilate(keepOut, keepOut, disc);
  return keepOut;
}

// One clutter mark, drawn with anti-aliasing on an 8-bit canvas.
struct ClutterMark {
  enum Kind { Bar, Blob, Text, Rectangle } kind = Bar;
  cv::Point2d centre;
  double length = 0, width = 0, angleDeg = 0;
  int thickness = 1;  // stroke thickness of text and outlined rectangles; negative fills a rectangle
  std::string text;
  int font = cv::FONT_HERSHEY_SIMPLEX;
  double fontScale = 1.0;
  int level = 0;
};

std::vector<cv::Point> rotatedRectPoints(const ClutterMark& mark) {
  cv::Point2f corners[4];
  cv::RotatedRect(mark.centre, cv::Size2f(static_cast<float>(mark.length), static_cast<float>(mark.width)),
                  static_cast<float>(mark.angleDeg))
      .points(corners);
  std::vector<cv::Point> points;
  for (const cv::Point2f& c : corners) points.emplace_back(cvRound(c.x), cvRound(c.y));
  return points;
}

cv::Point textOrigin(const ClutterMark& mark, cv::Size textSize) {
  return {cvRound(mark.centre.x - textSize.width / 2.0), cvRound(mark.centre.y + textSize.height / 2.0)};
}

cv::Rect markBounds(const ClutterMark& mark) {
  constexpr int PAD = 2;
  cv::Rect box;
  switch (mark.kind) {
    case ClutterMark::Bar:
    case ClutterMark::Rectangle:
    case ClutterMark::Blob:
      box = cv::boundingRect(rotatedRectPoints(mark));
      break;
    case ClutterMark::Text: {
      int baseline = 0;
      const cv::Size size = cv::getTextSize(mark.text, mark.font, mark.fontScale, mark.thickness, &baseline);
      const cv::Point origin = textOrigin(mark, size);
      // Hershey glyphs may poke a little past the reported text box; allow a quarter height all round.
      const int slack = size.height / 4 + 1;
      box = cv::Rect(origin.x - slack, origin.y - size.height - slack, size.width + 2 * slack,
                     size.height + baseline + 2 * slack);
      break;
    }
  }
  const int reach = PAD + std::max(mark.thickness, 1);
  return cv::Rect(box.x - reach, box.y - reach, box.width + 2 * reach, box.height + 2 * reach);
}

void drawMark(cv::Mat& canvas, const ClutterMark& mark) {
  const cv::Scalar colour(mark.level);
  switch (mark.kind) {
    case ClutterMark::Bar:
      cv::fillConvexPoly(canvas, rotatedRectPoints(mark), colour, cv::LINE_AA);
      break;
    case ClutterMark::Rectangle:
      if (mark.thickness < 0) {
        cv::fillConvexPoly(canvas, rotatedRectPoints(mark), colour, cv::LINE_AA);
      } else {
        cv::polylines(canvas, rotatedRectPoints(mark), true, colour, mark.thickness, cv::LINE_AA);
      }
      break;
    case ClutterMark::Blob:
      cv::ellipse(canvas,
                  cv::RotatedRect(mark.centre, cv::Size2f(static_cast<float>(mark.length),
                                                          static_cast<float>(mark.width)),
                                  static_cast<float>(mark.angleDeg)),
                  colour, cv::FILLED, cv::LINE_AA);
      break;
    case ClutterMark::Text: {
      int baseline = 0;
      const cv::Size size = cv::getTextSize(mark.text, mark.font, mark.fontScale, mark.thickness, &baseline);
      cv::putText(canvas, mark.text, textOrigin(mark, size), mark.font, mark.fontScale, colour, mark.thickness,
                  cv::LINE_AA);
      break;
    }
  }
}

ClutterMark randomMark(cv::RNG& rng, cv::Size size, int inkLow, int inkHigh) {
  static const char TEXT_CHARACTERS[] = "ABCDEFGHJKLMNPQRSTUVWXYZ0123456789-/.:";
  const double base = std::min(size.width, size.height);
  ClutterMark mark;
  mark.kind = static_cast<ClutterMark::Kind>(rng.uniform(0, 4));
  mark.centre = {rng.uniform(0.0, static_cast<double>(size.width)), rng.uniform(0.0, static_cast<double>(size.height))};
  mark.angleDeg = rng.uniform(0.0, 180.0);
  mark.level = rng.uniform(inkLow, inkHigh + 1);
  switch (mark.kind) {
    case ClutterMark::Bar:
      mark.length = rng.uniform(0.05, 0.35) * base;
      mark.width = rng.uniform(2.0, std::max(3.0, base / 40.0));
      break;
    case ClutterMark::Blob:
      mark.length = rng.uniform(0.02, 0.16) * base;
      mark.width = rng.uniform(0.02, 0.16) * base;
      break;
    case ClutterMark::Text: {
      const int letters = rng.uniform(3, 11);
      for (int i = 0; i < letters; ++i) mark.text += TEXT_CHARACTERS[rng.uniform(0, int(sizeof TEXT_CHARACTERS) - 1)];
      const int fonts[] = {cv::FONT_HERSHEY_SIMPLEX, cv::FONT_HERSHEY_PLAIN, cv::FONT_HERSHEY_DUPLEX,
                           cv::FONT_HERSHEY_COMPLEX};
      mark.font = fonts[rng.uniform(0, 4)];
      mark.fontScale = rng.uniform(0.4, 1.6) * std::max(1.0, base / 480.0);
      mark.thickness = rng.uniform(1, 3);
      break;
    }
    case ClutterMark::Rectangle:
      mark.length = rng.uniform(0.03, 0.2) * base;
      mark.width = rng.uniform(0.03, 0.2) * base;
      mark.thickness = rng.uniform(0, 2) == 0 ? -1 : rng.uniform(1, 4);  // filled or outlined
      break;
  }
  return mark;
}

// Whether a mark's ink stays off every keep-out pixel. Its box is tried first; only a mark whose box
// touches the keep-out is drawn on a scratch mask, so clutter may come right up to the margin.
bool markClear(const ClutterMark& mark, const cv::Mat& keepOut) {
  const cv::Rect visible = markBounds(mark) & cv::Rect(0, 0, keepOut.cols, keepOut.rows);
  if (visible.empty()) return true;
  const cv::Mat nearby = keepOut(visible);
  if (cv::countNonZero(nearby) == 0) return true;
  ClutterMark local = mark;
  local.centre -= cv::Point2d(visible.tl());
  local.level = 255;
  cv::Mat ink(visible.size(), CV_8UC1, cv::Scalar(0));
  drawMark(ink, local);
  cv::Mat overlap;
  cv::bitwise_and(ink, nearby, overlap);
  return cv::countNonZero(overlap) == 0;
}

// Marks of ink between the dark module level and the background, placed at random; a mark that would
// touch a keep-out pixel is moved, and skipped after RENDER_CLUTTER_TRIES tries.
void drawClutter(cv::Mat& canvas, const cv::Mat& keepOut, const RenderOptions& scene) {
  cv::RNG rng = streamRng(scene.seed, STREAM_CLUTTER);
  const int inkLow = std::min<int>(scene.dark, scene.background);
  const int inkHigh = std::max<int>(scene.dark, scene.background);
  for (int i = 0; i < scene.clutter; ++i) {
    for (int attempt = 0; attempt < RENDER_CLUTTER_TRIES; ++attempt) {
      const ClutterMark mark = randomMark(rng, canvas.size(), inkLow, inkHigh);
      if (markClear(mark, keepOut)) {
        drawMark(canvas, mark);
        break;
      }
    }
  }
}

// Area coverage by point sampling: each pixel becomes the mean of its sub-samples, which fall on dark
// modules, light modules or quiet zone, or outside the quiet zone where the scene shows through. A dark
// module is its whole square, or with dotShare > 0 a round dot of that share of the module across.
void compositeSymbol(cv::Mat& canvas, const SymbolMatrix& symbol, const RenderOptions& placement,
                     const SymbolGeometry& geometry, double dotShare) {
  const std::array<cv::Point2d, 4> quad = quietZoneQuad(symbol, placement, geometry);
  double minX = quad[0].x, maxX = quad[0].x, minY = quad[0].y, maxY = quad[0].y;
  for (const cv::Point2d& p : quad) {
    minX = std::min(minX, p.x), maxX = std::max(maxX, p.x), minY = std::min(minY, p.y), maxY = std::max(maxY, p.y);
  }
  const int x0 = static_cast<int>(std::max(0.0, std::floor(minX)));
  const int x1 = static_cast<int>(std::min(canvas.cols - 1.0, std::ceil(maxX)));
  const int y0 = static_cast<int>(std::max(0.0, std::floor(minY)));
  const int y1 = static_cast<int>(std::min(canvas.rows - 1.0, std::ceil(maxY)));

  const double q = placement.quietZone;
  const double right = symbol.cols + q, bottom = symbol.rows + q;
  const cv::Matx33d& h = geometry.toModule;
  // Module-space position of an image point; false when the point lies beyond the symbol plane's horizon.
  auto toModule = [&h](double x, double y, double& u, double& v) {
    const double w = h(2, 0) * x + h(2, 1) * y + h(2, 2);
    u = (h(0, 0) * x + h(0, 1) * y + h(0, 2)) / w;
    v = (h(1, 0) * x + h(1, 1) * y + h(1, 2)) / w;
    return w > 0.0;
  };
  auto inQuietZone = [&](double u, double v) { return u >= -q && u < right && v >= -q && v < bottom; };
  // Range tests come before the casts, which are only defined for values in range.
  auto isDarkSquare = [&symbol](double u, double v) {
    if (!(u >= 0.0 && u < symbol.cols && v >= 0.0 && v < symbol.rows)) return false;
    return symbol.at(std::min(static_cast<int>(v), symbol.rows - 1), std::min(static_cast<int>(u), symbol.cols - 1)) != 0;
  };
  // A dot wider than its module reaches into the neighbouring cells, so they are asked too.
  const double dotRadius = dotShare / 2.0;
  auto isDarkDot = [&symbol, dotRadius](double u, double v) {
    if (!(u >= -1.0 && u < symbol.cols + 1.0 && v >= -1.0 && v < symbol.rows + 1.0)) return false;
    const int column = static_cast<int>(std::floor(u)), row = static_cast<int>(std::floor(v));
    const int reach = dotRadius > 0.5 ? 1 : 0;
    for (int r = std::max(0, row - reach); r <= std::min(symbol.rows - 1, row + reach); ++r) {
      for (int c = std::max(0, column - reach); c <= std::min(symbol.cols - 1, column + reach); ++c) {
        const double du = u - (c + 0.5), dv = v - (r + 0.5);
        if (symbol.at(r, c) != 0 && du * du + dv * dv <= dotRadius * dotRadius) return true;
      }
    }
    return false;
  };
  auto isDark = [&](double u, double v) { return dotShare > 0.0 ? isDarkDot(u, v) : isDarkSquare(u, v); };
  const float darkLevel = placement.dark, lightLevel = placement.light;

  constexpr int SAMPLES = RENDER_SUBSAMPLES * RENDER_SUBSAMPLES;
  for (int py = y0; py <= y1; ++py) {
    float* row = canvas.ptr<float>(py);
    for (int px = x0; px <= x1; ++px) {
      // Fast paths: a projective map keeps the pixel square convex, so when its four corners share one
      // square module's cell, or lie beyond one side of the quiet zone, the whole pixel does.
      double u[4], v[4];
      bool inFront = true;
      for (int k = 0; k < 4; ++k) inFront &= toModule(px - 0.5 + (k & 1), py - 0.5 + (k >> 1), u[k], v[k]);
      if (inFront) {
        auto all = [&](auto test) { return test(0) && test(1) && test(2) && test(3); };
        if (all([&](int k) { return u[k] < -q; }) || all([&](int k) { return u[k] >= right; }) ||
            all([&](int k) { return v[k] < -q; }) || all([&](int k) { return v[k] >= bottom; })) {
          continue;
        }
        if (dotShare <= 0.0 && all([&](int k) {
              return inQuietZone(u[k], v[k]) && std::floor(u[k]) == std::floor(u[0]) &&
                     std::floor(v[k]) == std::floor(v[0]);
            })) {
          row[px] = isDark(u[0], v[0]) ? darkLevel : lightLevel;
          continue;
        }
      }

      int darkCount = 0, lightCount = 0;
      for (int sy = 0; sy < RENDER_SUBSAMPLES; ++sy) {
        const double y = py - 0.5 + (sy + 0.5) / RENDER_SUBSAMPLES;
        for (int sx = 0; sx < RENDER_SUBSAMPLES; ++sx) {
          const double x = px - 0.5 + (sx + 0.5) / RENDER_SUBSAMPLES;
          double su, sv;
          // A sample behind the horizon maps to a point behind the camera, never into the quiet zone.
          toModule(x, y, su, sv);
          if (isDark(su, sv)) {
            ++darkCount;
          } else if (inQuietZone(su, sv)) {
            ++lightCount;
          }
        }
      }
      const int sceneCount = SAMPLES - darkCount - lightCount;
      if (sceneCount == SAMPLES) continue;
      row[px] = static_cast<float>((darkCount * double(placement.dark) + lightCount * double(placement.light) +
                                    sceneCount * double(row[px])) /
                                   SAMPLES);
    }
  }
}

// Light falls linearly across the image, from full at one side to (1 - strength) at the opposite corner.
void applyUnevenLight(cv::Mat& canvas, double strength, std::uint32_t seed) {
  if (strength <= 0.0) return;
  cv::RNG rng = streamRng(seed, STREAM_LIGHT);
  const double angle = rng.uniform(0.0, 2.0 * CV_PI);
  const double dx = std::cos(angle), dy = std::sin(angle);
  const double w = canvas.cols - 1.0, h = canvas.rows - 1.0;
  const double along[] = {0.0, w * dx, h * dy, w * dx + h * dy};
  const double low = *std::min_element(std::begin(along), std::end(along));
  const double span = *std::max_element(std::begin(along), std::end(along)) - low;
  for (int y = 0; y < canvas.rows; ++y) {
    float* row = canvas.ptr<float>(y);
    for (int x = 0; x < canvas.cols; ++x) {
      const double t = span > 0.0 ? (x * dx + y * dy - low) / span : 0.0;
      row[x] = static_cast<float>(row[x] * (1.0 - strength * t));
    }
  }
}

std::array<cv::Point2d, 4> moduleCornerPoints(int rows, int cols) {
  // Same order as SymbolCorners: finder vertex, vertical leg end, horizontal leg end, timing corner.
  return {cv::Point2d(0, rows), cv::Point2d(0, 0), cv::Point2d(cols, rows), cv::Point2d(cols, 0)};
}

// The homography through four point pairs, solved in double precision.
std::optional<cv::Matx33d> homographyFromCorners(const SymbolCorners& corners, int rows, int cols) {
  if (rows <= 0 || cols <= 0) return std::nullopt;
  const std::array<cv::Point2d, 4> from = moduleCornerPoints(rows, cols);
  const std::array<cv::Point2d, 4> to = {corners.finderVertex, corners.verticalLegEnd, corners.horizontalLegEnd,
                                         corners.timingCorner};
  cv::Matx<double, 8, 8> a;
  cv::Matx<double, 8, 1> b;
  for (int i = 0; i < 4; ++i) {
    const double u = from[i].x, v = from[i].y, x = to[i].x, y = to[i].y;
    const double rowX[8] = {u, v, 1, 0, 0, 0, -u * x, -v * x};
    const double rowY[8] = {0, 0, 0, u, v, 1, -u * y, -v * y};
    for (int k = 0; k < 8; ++k) a(2 * i, k) = rowX[k], a(2 * i + 1, k) = rowY[k];
    b(2 * i) = x;
    b(2 * i + 1) = y;
  }
  cv::Matx<double, 8, 1> solution;
  if (!cv::solve(a, b, solution, cv::DECOMP_LU)) return std::nullopt;
  return cv::Matx33d(solution(0), solution(1), solution(2), solution(3), solution(4), solution(5), solution(6),
                     solution(7), 1.0);
}

}  // namespace

RenderedScene renderSymbols(const std::vector<PlacedSymbol>& symbols, const RenderOptions& scene) {
  return renderSymbolsShaped(symbols, scene, 0.0);
}

RenderedScene renderSymbolsShaped(const std::vector<PlacedSymbol>& symbols, const RenderOptions& scene,
                                  double dotShare) {
  RenderedScene failed;
  if (!sceneValid(scene) || !(dotShare >= 0.0 && dotShare <= RENDER_MAX_DOT_SHARE)) return failed;
  const cv::Size size(scene.imageWidth, scene.imageHeight);

  RenderedScene rendered;
  std::vector<SymbolGeometry> geometries;
  std::vector<std::array<cv::Point2d, 4>> quietZones;
  for (const PlacedSymbol& placed : symbols) {
    const std::optional<SymbolGeometry> geometry =
        placeSymbol(placed.symbol, placed.placement, size.width, size.height);
    if (!geometry) return failed;
    const std::array<cv::Point2d, 4> quad = quietZoneQuad(placed.symbol, placed.placement, *geometry);
    for (const auto& other : quietZones) {
      if (quadsOverlap(quad, other)) return failed;
    }
    geometries.push_back(*geometry);
    quietZones.push_back(quad);
    rendered.corners.push_back(cornersOf(placed.symbol, *geometry));
  }

  // Clutter is drawn with anti-aliasing on an 8-bit canvas, the rest in float until the final rounding.
  cv::Mat canvas8(size, CV_8UC1, cv::Scalar(scene.background));
  if (scene.clutter > 0) drawClutter(canvas8, clutterKeepOut(size, quietZones, scene.blurSigma), scene);
  cv::Mat canvas;
  canvas8.convertTo(canvas, CV_32F);
  for (std::size_t i = 0; i < symbols.size(); ++i) {
    compositeSymbol(canvas, symbols[i].symbol, symbols[i].placement, geometries[i], dotShare);
  }

  // The camera: light on the scene, then lens blur, then sensor noise.
  applyUnevenLight(canvas, scene.unevenLight, scene.seed);
  if (scene.blurSigma > 0.0) {
    cv::GaussianBlur(canvas, canvas, cv::Size(0, 0), scene.blurSigma, scene.blurSigma, cv::BORDER_REPLICATE);
  }
  if (scene.noiseSigma > 0.0) {
    cv::Mat noise(size, CV_32F);
    cv::RNG rng = streamRng(scene.seed, STREAM_NOISE);
    rng.fill(noise, cv::RNG::NORMAL, 0.0, scene.noiseSigma);
    canvas += noise;
  }
  canvas.convertTo(rendered.grey, CV_8U);  // rounds and saturates
  return rendered;
}

RenderedSymbol renderSymbol(const SymbolMatrix& symbol, const RenderOptions& options) {
  RenderedScene scene = renderSymbols({PlacedSymbol{symbol, options}}, options);
  RenderedSymbol rendered;
  if (scene.grey.empty()) return rendered;
  rendered.grey = scene.grey;
  rendered.corners = scene.corners.front();
  return rendered;
}

cv::Point2d moduleToImage(const SymbolCorners& corners, int rows, int cols, cv::Point2d modulePoint) {
  const std::optional<cv::Matx33d> h = homographyFromCorners(corners, rows, cols);
  if (!h) return {std::nan(""), std::nan("")};
  return applyHomography(*h, modulePoint);
}

bool occludeModules(cv::Mat& grey, const SymbolCorners& corners, int rows, int cols, cv::Rect2d area,
                    std::uint8_t level) {
  constexpr int SHIFT = 4;  // fillConvexPoly's fixed-point fraction bits
  if (grey.empty() || grey.type() != CV_8UC1 || !(area.width > 0.0) || !(area.height > 0.0)) return false;
  const std::optional<cv::Matx33d> h = homographyFromCorners(corners, rows, cols);
  if (!h) return false;
  const cv::Point2d areaCorners[4] = {area.tl(), {area.x + area.width, area.y}, area.br(),
                                      {area.x, area.y + area.height}};
  // Points behind the camera would come out mirrored; keep well inside a sane coordinate range too.
  const double limit = 4.0 * std::max(grey.cols, grey.rows);
  std::vector<cv::Point> points;
  for (const cv::Point2d& corner : areaCorners) {
    if (!(homogeneousScale(*h, corner) > 0.0)) return false;
    const cv::Point2d p = applyHomography(*h, corner);
    if (!(std::abs(p.x) < limit && std::abs(p.y) < limit)) return false;
    points.emplace_back(cvRound(p.x * (1 << SHIFT)), cvRound(p.y * (1 << SHIFT)));
  }
  cv::fillConvexPoly(grey, points, cv::Scalar(level), cv::LINE_AA, SHIFT);
  return true;
}

}  // namespace testsupport
