// Plane homography from module space to the image, and bilinear grey samples through it.
#include "decoder/second_look/homography_sampling.h"

#include <cmath>

namespace {

constexpr double DEGENERATE_DETERMINANT = 1e-9;
constexpr double MODULE_SPREAD = 0.2;  // offset of the four extra points of a module sample, in modules

double determinant(double a, double b, double c, double d) { return a * d - b * c; }

}  // namespace

bool homographyForQuad(const SymbolQuad& quad, int columns, int rows, ModuleHomography* homography) {
  if (columns <= 0 || rows <= 0) return false;
  // Unit square (0,0) (1,0) (1,1) (0,1) onto the quad's corners in the same order.
  const double x0 = quad.topLeft.x, y0 = quad.topLeft.y;
  const double x1 = quad.topRight.x, y1 = quad.topRight.y;
  const double x2 = quad.bottomRight.x, y2 = quad.bottomRight.y;
  const double x3 = quad.bottomLeft.x, y3 = quad.bottomLeft.y;
  const double sx = x0 - x1 + x2 - x3;
  const double sy = y0 - y1 + y2 - y3;
  const double dx1 = x1 - x2, dx2 = x3 - x2, dy1 = y1 - y2, dy2 = y3 - y2;
  const double denominator = determinant(dx1, dx2, dy1, dy2);
  if (!(std::fabs(denominator) > DEGENERATE_DETERMINANT)) return false;
  ModuleHomography m;
  m.g = determinant(sx, dx2, sy, dy2) / denominator;
  m.h = determinant(dx1, sx, dy1, sy) / denominator;
  m.a = x1 - x0 + m.g * x1;
  m.b = x3 - x0 + m.h * x3;
  m.c = x0;
  m.d = y1 - y0 + m.g * y1;
  m.e = y3 - y0 + m.h * y3;
  m.f = y0;
  m.columnScale = 1.0 / columns;
  m.rowScale = 1.0 / rows;
  // The denominator must keep one sign over the whole square, or the quad is folded through infinity.
  const double corners[4] = {1.0, 1.0 + m.g, 1.0 + m.g + m.h, 1.0 + m.h};
  for (double w : corners) {
    if (!(w > DEGENERATE_DETERMINANT)) return false;
  }
  *homography = m;
  return true;
}

CvPoint2D64f moduleToImage(const ModuleHomography& m, double x, double y) {
  const double u = x * m.columnScale;
  const double v = y * m.rowScale;
  const double w = m.g * u + m.h * v + 1.0;
  return cvPoint2D64f((m.a * u + m.b * v + m.c) / w, (m.d * u + m.e * v + m.f) / w);
}

double sampleGrey(const IplImage* grey, CvPoint2D64f point) {
  // Written so that a non-finite coordinate lands outside too.
  if (!(point.x >= 0.0 && point.y >= 0.0 && point.x <= grey->width - 1 && point.y <= grey->height - 1)) return -1.0;
  const int x = static_cast<int>(point.x);
  const int y = static_cast<int>(point.y);
  const int x1 = x + 1 < grey->width ? x + 1 : x;
  const int y1 = y + 1 < grey->height ? y + 1 : y;
  const double fx = point.x - x, fy = point.y - y;
  const auto* row0 = reinterpret_cast<const unsigned char*>(grey->imageData + static_cast<long>(y) * grey->widthStep);
  const auto* row1 = reinterpret_cast<const unsigned char*>(grey->imageData + static_cast<long>(y1) * grey->widthStep);
  const double top = row0[x] + fx * (row0[x1] - row0[x]);
  const double bottom = row1[x] + fx * (row1[x1] - row1[x]);
  return top + fy * (bottom - top);
}

double sampleModule(const IplImage* grey, const ModuleHomography& homography, double x, double y) {
  static constexpr double OFFSETS[5][2] = {
      {0.0, 0.0}, {-MODULE_SPREAD, -MODULE_SPREAD}, {MODULE_SPREAD, -MODULE_SPREAD},
      {-MODULE_SPREAD, MODULE_SPREAD}, {MODULE_SPREAD, MODULE_SPREAD}};
  double sum = 0.0;
  for (const auto& offset : OFFSETS) {
    const double value = sampleGrey(grey, moduleToImage(homography, x + offset[0], y + offset[1]));
    if (value < 0.0) return -1.0;
    sum += value;
  }
  return sum / 5.0;
}
