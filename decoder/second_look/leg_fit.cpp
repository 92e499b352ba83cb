// Finder legs fitted through their outer edge points. Each leg is scanned across at evenly spaced places
// from outside the symbol inwards; the first dark pixel is the bar's outer edge. A notch puts its points
// part of a module inside the edge, so the line is the one most points agree with (a search over pairs of
// points), then fitted by least squares through those points alone.
#include "decoder/second_look/leg_fit.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "decoder/geometry.h"
#include "decoder/second_look/second_look.h"

namespace {

constexpr int FIT_SAMPLES = 32;               // scans across each leg
constexpr double FIT_FIRST_SHARE = 0.04;      // of the leg from the vertex: the scans keep off both ends
constexpr double FIT_LAST_SHARE = 0.96;
constexpr double FIT_WALK_STEP = 0.5;         // pixels
constexpr double FIT_REACH_BARS = 1.5;        // each scan reaches this many bar thicknesses either side ...
constexpr double FIT_REACH_EXTRA = 2.0;       // ... and this many pixels more
constexpr double FIT_INLIER_DISTANCE = 1.0;   // pixels: a pixel edge's staircase stays within it
constexpr double FIT_MIN_INLIER_SHARE = 0.6;  // of the scans: a leg that few agree on is no straight leg
constexpr int FIT_MIN_INLIERS = 8;
constexpr double FIT_MIN_SHIFT_BARS = 0.25;   // the fitted L must move a corner by this share of a bar ...
constexpr double FIT_MIN_SHIFT = 1.0;         // ... and by at least a pixel, or the retry would repeat itself

struct Point {
  double x;
  double y;
};

// A line through `centre` along the unit vector (dx, dy).
struct FittedLine {
  Point centre;
  double dx;
  double dy;
};

double distanceTo(const FittedLine& line, Point p) {
  return std::fabs((p.x - line.centre.x) * line.dy - (p.y - line.centre.y) * line.dx);
}

// The outer edge points of the leg vertex -> farEnd: on each scan across it, from outside (away from
// `inside`) inwards, the first dark pixel.
std::vector<Point> legEdgePoints(const IplImage* binary, CvPoint2D32f vertex, CvPoint2D32f farEnd,
                                 CvPoint2D32f inside, double bar) {
  std::vector<Point> points;
  const double length = pointDistance(vertex, farEnd);
  if (length < 1.0) return points;
  const double ux = (farEnd.x - vertex.x) / length, uy = (farEnd.y - vertex.y) / length;
  double nx = -uy, ny = ux;  // outward
  if (nx * (inside.x - vertex.x) + ny * (inside.y - vertex.y) > 0.0) {
    nx = -nx;
    ny = -ny;
  }
  const double reach = FIT_REACH_BARS * bar + FIT_REACH_EXTRA;
  points.reserve(FIT_SAMPLES);
  for (int i = 0; i < FIT_SAMPLES; ++i) {
    const double share = FIT_FIRST_SHARE + (FIT_LAST_SHARE - FIT_FIRST_SHARE) * i / (FIT_SAMPLES - 1);
    const double bx = vertex.x + share * length * ux, by = vertex.y + share * length * uy;
    for (double t = reach; t >= -reach; t -= FIT_WALK_STEP) {
      if (isDarkPixel(binary, bx + t * nx, by + t * ny)) {
        points.push_back({bx + t * nx, by + t * ny});
        break;
      }
    }
  }
  return points;
}

// Orthogonal least squares through the points within FIT_INLIER_DISTANCE of `guess`.
bool refitInliers(const std::vector<Point>& points, const FittedLine& guess, FittedLine* line, int* inliers) {
  double sx = 0.0, sy = 0.0;
  int count = 0;
  for (const Point& p : points) {
    if (distanceTo(guess, p) > FIT_INLIER_DISTANCE) continue;
    sx += p.x;
    sy += p.y;
    ++count;
  }
  if (count < 2) return false;
  const Point centre = {sx / count, sy / count};
  double xx = 0.0, xy = 0.0, yy = 0.0;
  for (const Point& p : points) {
    if (distanceTo(guess, p) > FIT_INLIER_DISTANCE) continue;
    const double x = p.x - centre.x, y = p.y - centre.y;
    xx += x * x;
    xy += x * y;
    yy += y * y;
  }
  const double angle = 0.5 * std::atan2(2.0 * xy, xx - yy);  // the direction of largest spread
  line->centre = centre;
  line->dx = std::cos(angle);
  line->dy = std::sin(angle);
  *inliers = 0;
  for (const Point& p : points) *inliers += distanceTo(*line, p) <= FIT_INLIER_DISTANCE ? 1 : 0;
  return true;
}

// The line most edge points agree with: each point and the one half the scans further along propose one
// (a notch covers less than half a leg, so some pair lies wholly on the edge), the most points within
// reach (then the smallest summed distance) wins, and is refitted through them.
bool fitLeg(const std::vector<Point>& points, FittedLine* line) {
  const int count = static_cast<int>(points.size());
  if (count < FIT_MIN_INLIERS) return false;
  const int gap = count / 2;
  FittedLine best = {{0.0, 0.0}, 1.0, 0.0};
  int bestInliers = -1;
  double bestSpread = 0.0;
  for (int i = 0; i + gap < count; ++i) {
    const int j = i + gap;
    const double dx = points[j].x - points[i].x, dy = points[j].y - points[i].y;
    const double length = std::hypot(dx, dy);
    if (length < 1.0) continue;
    const FittedLine proposal = {points[i], dx / length, dy / length};
    int inliers = 0;
    double spread = 0.0;
    for (const Point& p : points) {
      const double d = distanceTo(proposal, p);
      if (d > FIT_INLIER_DISTANCE) continue;
      ++inliers;
      spread += d;
    }
    if (inliers > bestInliers || (inliers == bestInliers && spread < bestSpread)) {
      best = proposal;
      bestInliers = inliers;
      bestSpread = spread;
    }
  }
  if (bestInliers < 0) return false;
  int inliers = 0;
  if (!refitInliers(points, best, line, &inliers)) return false;
  return inliers >= FIT_MIN_INLIERS && inliers >= FIT_MIN_INLIER_SHARE * FIT_SAMPLES;
}

EdgeLine toEdgeLine(const FittedLine& line) {
  const CvPoint2D32f a = cvPoint2D32f(line.centre.x - 50.0 * line.dx, line.centre.y - 50.0 * line.dy);
  const CvPoint2D32f b = cvPoint2D32f(line.centre.x + 50.0 * line.dx, line.centre.y + 50.0 * line.dy);
  return lineThroughPoints(a, b);
}

CvPoint2D32f projectOnto(const FittedLine& line, CvPoint2D32f p) {
  const double along = (p.x - line.centre.x) * line.dx + (p.y - line.centre.y) * line.dy;
  return cvPoint2D32f(line.centre.x + along * line.dx, line.centre.y + along * line.dy);
}

}  // namespace

bool fitFinderLegs(const IplImage* binary, const SymbolCandidate& located, CvPoint2D32f farA, CvPoint2D32f farB,
                   double barA, double barB, SymbolCandidate* fitted) {
  const CvPoint2D32f vertex = located.corners[0];
  FittedLine lineA, lineB;
  if (!fitLeg(legEdgePoints(binary, vertex, farA, farB, barA), &lineA)) return false;
  if (!fitLeg(legEdgePoints(binary, vertex, farB, farA, barB), &lineB)) return false;
  const EdgeLine legA = toEdgeLine(lineA), legB = toEdgeLine(lineB);
  CvPoint2D32f crossing;
  if (!intersectLines(legA, legB, &crossing)) return false;
  // Written so that a non-finite coordinate is refused too.
  if (!(crossing.x >= 0.0f && crossing.y >= 0.0f && crossing.x < binary->width && crossing.y < binary->height)) {
    return false;
  }
  const CvPoint2D32f endA = projectOnto(lineA, farA), endB = projectOnto(lineB, farB);
  const double shift = std::max({pointDistance(crossing, vertex), pointDistance(endA, farA), pointDistance(endB, farB)});
  if (shift < std::max(FIT_MIN_SHIFT, FIT_MIN_SHIFT_BARS * std::min(barA, barB))) return false;
  *fitted = located;
  fitted->legA = legA;
  fitted->legB = legB;
  fitted->corners[0] = crossing;
  fitted->corners[1] = endA;
  fitted->corners[2] = endB;
  return true;
}
