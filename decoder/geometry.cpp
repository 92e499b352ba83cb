#include "decoder/geometry.h"

#include <cmath>

double pointDistance(CvPoint2D32f p, CvPoint2D32f q) {
  const double dx = static_cast<double>(q.x) - p.x;
  const double dy = static_cast<double>(q.y) - p.y;
  return std::sqrt(dx * dx + dy * dy);
}

double pointDistance(CvPoint p, CvPoint q) {
  const double dx = static_cast<double>(q.x) - p.x;
  const double dy = static_cast<double>(q.y) - p.y;
  return std::sqrt(dx * dx + dy * dy);
}

EdgeLine lineThroughPoints(CvPoint2D32f p, CvPoint2D32f q) {
  const float absDx = std::fabs(q.x - p.x);
  const float absDy = std::fabs(q.y - p.y);
  EdgeLine line;
  if (absDy > absDx) {
    line.kind = LINE_X_FROM_Y;
    line.slope = (q.x - p.x) / (q.y - p.y);
    line.intercept = p.x - line.slope * p.y;
  } else {
    line.kind = LINE_Y_FROM_X;
    // A 45-degree or flatter line; when p and q coincide there is no direction, so keep it horizontal.
    line.slope = absDx > 0.0f ? (q.y - p.y) / (q.x - p.x) : 0.0f;
    line.intercept = p.y - line.slope * p.x;
  }
  return line;
}

EdgeLine parallelThrough(int kind, float slope, CvPoint2D32f point) {
  EdgeLine line;
  line.kind = kind;
  line.slope = slope;
  line.intercept = kind == LINE_Y_FROM_X ? point.y - slope * point.x : point.x - slope * point.y;
  return line;
}

bool intersectLines(const EdgeLine& l1, const EdgeLine& l2, CvPoint2D32f* point) {
  const float s1 = l1.slope, s2 = l2.slope;
  const float i1 = l1.intercept, i2 = l2.intercept;
  // The first coordinate is rounded to single precision before the second is derived from it.
  float first, second;
  if (l1.kind == l2.kind) {
    if (std::fabs(static_cast<double>(s1 - s2)) < 0.01) return false;
    first = (i2 - i1) / (s1 - s2);
    second = i1 + s1 * first;
    if (l1.kind == LINE_Y_FROM_X) {
      point->x = first;
      point->y = second;
    } else {
      point->y = first;
      point->x = second;
    }
    return true;
  }
  const float denominator = 1.0f - s1 * s2;
  if (std::fabs(static_cast<double>(denominator)) < 0.01) return false;
  if (l1.kind == LINE_Y_FROM_X) {
    first = (i1 + s1 * i2) / denominator;
    second = i2 + s2 * first;
  } else {
    first = (i2 + s2 * i1) / denominator;
    second = i1 + s1 * first;
  }
  point->y = first;
  point->x = second;
  return true;
}

CvPoint2D32f stepToward(const EdgeLine& line, float distance, CvPoint2D32f point, CvPoint2D32f reference) {
  const float along = distance / std::sqrt(line.slope * line.slope + 1.0f);
  const float across = std::fabs(line.slope * along);
  const float dx = line.kind == LINE_Y_FROM_X ? along : across;
  const float dy = line.kind == LINE_Y_FROM_X ? across : along;
  CvPoint2D32f moved;
  moved.x = point.x < reference.x ? point.x + dx : point.x - dx;
  moved.y = point.y < reference.y ? point.y + dy : point.y - dy;
  return moved;
}
