// Perspective recovery: from a finder candidate's polygon to a read through a plane homography.
//
// The L vertex and the two leg ends come from the polygon itself (the locator's inward step undone).
// The thicknesses of the two finder bars and the dark runs along the two timing edges give a short
// list of symbol sizes. For each size the corner facing the L vertex is searched, coarse to fine, by
// how well the top row and the right column follow the alternating timing pattern, starting where the
// outer edges of the timing modules cross, at the parallelogram point and at the polygon's own far
// vertex. The best sizes are refined (leg ends and vertex too), sampled on the grey image, and
// Reed-Solomon decides among them. Every read passes three guards before it is handed out: both
// timing edges alternate, the finder L is dark, and no block spent more corrections than its size
// can bear without garbled blocks decoding too often.
#include "decoder/second_look/perspective_read.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "decoder/ecc200/ecc200_message.h"
#include "decoder/second_look/homography_sampling.h"
#include "decoder/second_look/mirrored_symbols.h"

namespace {

// Share of each timing edge's modules, and of the finder L's modules, that must show the expected
// shade. The read study (tests/decoder/second_look/perspective_study.cpp) gives the data behind these figures.
constexpr double MIN_TIMING_SHARE = 0.8;
constexpr double MIN_FINDER_SHARE = 0.9;
// A block with few check codewords would decode many garbled blocks at its full capacity: it may spend
// only as many corrections as keep the chance that random codewords decode below this.
constexpr double MAX_MISCORRECTION_CHANCE = 1e-8;

constexpr double SIZE_TOLERANCE = 0.25;     // module counts within +-25 % of the bar-thickness estimate
constexpr size_t MAX_SIZES_DECODED = 3;     // sizes refined, sampled and handed to Reed-Solomon, best timing first
// A placed size whose timing edges alternate this little (mean contrast step over both edges, at most
// 1) is not worth refining; the timing guard below would refuse it anyway.
constexpr double MIN_PLACED_SCORE = 0.25;
// Finder bars whose thicknesses differ by more than this are taken to hold a doubled one (see below).
constexpr double MAX_BAR_THICKNESS_RATIO = 1.6;
constexpr double MIN_CONTRAST = 24.0;       // grey levels between finder and quiet zone
constexpr double MIN_LEG_LENGTH = 8.0;      // pixels
constexpr double MIN_MODULE_PIXELS = 1.5;   // finer grids cannot be sampled on the grey image
constexpr int BAR_SAMPLES = 15;             // positions along each finder bar where its thickness is measured
constexpr double BAR_WALK_STEP = 0.25;      // pixels

double distance(CvPoint2D64f p, CvPoint2D64f q) { return std::hypot(q.x - p.x, q.y - p.y); }
CvPoint2D64f toDouble(CvPoint2D32f p) { return cvPoint2D64f(p.x, p.y); }
CvPoint2D64f toDouble(CvPoint p) { return cvPoint2D64f(p.x, p.y); }
CvPoint2D64f add(CvPoint2D64f p, CvPoint2D64f q) { return cvPoint2D64f(p.x + q.x, p.y + q.y); }
CvPoint2D64f sub(CvPoint2D64f p, CvPoint2D64f q) { return cvPoint2D64f(p.x - q.x, p.y - q.y); }
CvPoint2D64f scale(CvPoint2D64f p, double s) { return cvPoint2D64f(p.x * s, p.y * s); }
CvPoint2D64f unit(CvPoint2D64f p) {
  const double length = std::hypot(p.x, p.y);
  return length > 0.0 ? scale(p, 1.0 / length) : cvPoint2D64f(0.0, 0.0);
}
double cross(CvPoint2D64f p, CvPoint2D64f q) { return p.x * q.y - p.y * q.x; }

// The finder as found on the polygon, named for the upright symbol.
struct FinderFrame {
  CvPoint2D64f vertex;         // bottom-left outer corner
  CvPoint2D64f verticalEnd;    // top-left outer corner
  CvPoint2D64f horizontalEnd;  // bottom-right outer corner
  CvPoint2D64f polygonFourth;  // the polygon's own vertex farthest out towards the timing corner
  CvPoint2D64f edgeCorner;     // where the outer supporting lines of the two timing edges meet
};

// In the leg frame a point is vertex + u * (verticalEnd - vertex) + v * (horizontalEnd - vertex): the
// vertical leg end is (1, 0), the horizontal one (0, 1) and the timing corner near (1, 1).
struct LegCoordinates {
  double u, v;
};

LegCoordinates legCoordinates(const FinderFrame& frame, CvPoint2D64f p) {
  const CvPoint2D64f up = sub(frame.verticalEnd, frame.vertex), right = sub(frame.horizontalEnd, frame.vertex);
  const CvPoint2D64f rel = sub(p, frame.vertex);
  const double det = cross(up, right);
  return {cross(rel, right) / det, cross(up, rel) / det};
}

CvPoint2D64f fromLegCoordinates(const FinderFrame& frame, double u, double v) {
  return add(frame.vertex, add(scale(sub(frame.verticalEnd, frame.vertex), u),
                               scale(sub(frame.horizontalEnd, frame.vertex), v)));
}

// Two seeds for the timing corner from the polygon. The dark timing modules' outer edges lie on the
// symbol's true top and right edges, straight under any perspective, so the outermost polygon
// vertices seen from each leg end give those edges and their crossing is the corner. The polygon
// vertex farthest out towards the corner is the other seed.
void findPolygonCorners(const std::vector<CvPoint>& polygon, FinderFrame* frame) {
  double farthest = -1.0;
  double topSlope = -1e9, rightSlope = -1e9;  // du/dv of the top edge from (1, 0), dv/du of the right edge from (0, 1)
  for (const CvPoint& p : polygon) {
    const LegCoordinates c = legCoordinates(*frame, toDouble(p));
    if (c.u + c.v > farthest) {
      farthest = c.u + c.v;
      frame->polygonFourth = toDouble(p);
    }
    if (c.v > 0.25 && c.u > 0.5) topSlope = std::max(topSlope, (c.u - 1.0) / c.v);
    if (c.u > 0.25 && c.v > 0.5) rightSlope = std::max(rightSlope, (c.v - 1.0) / c.u);
  }
  if (topSlope < -0.5 || rightSlope < -0.5) return;
  // u = 1 + topSlope * v and v = 1 + rightSlope * u.
  const double denominator = 1.0 - topSlope * rightSlope;
  if (denominator < 0.2) return;
  const double u = (1.0 + topSlope) / denominator;
  const double v = 1.0 + rightSlope * u;
  frame->edgeCorner = fromLegCoordinates(*frame, u, v);
}

// The locator moved each leg end inward by 1 + floor(length / 100) pixels along its leg. The end itself
// is a polygon vertex; one within reach of that step is taken, else the step is undone by arithmetic.
CvPoint2D64f originalLegEnd(const std::vector<CvPoint>& polygon, CvPoint2D64f stepped, CvPoint2D64f vertex) {
  const CvPoint2D64f outward = unit(sub(stepped, vertex));
  const double step = 1.0 + std::floor((distance(stepped, vertex) + 1.0) / 100.0);
  const CvPoint2D64f undone = add(stepped, scale(outward, step));
  const CvPoint* nearest = nullptr;
  double nearestDistance = 1.5;
  for (const CvPoint& p : polygon) {
    const double d = distance(toDouble(p), undone);
    if (d <= nearestDistance) {
      nearestDistance = d;
      nearest = &p;
    }
  }
  return nearest != nullptr ? toDouble(*nearest) : undone;
}

// Polygon vertices are centres of the outermost dark pixels; the symbol's outer edge lies half a pixel
// beyond them. Each corner moves out by half a pixel along both legs that meet there.
void moveToOuterEdges(FinderFrame* frame) {
  const CvPoint2D64f up = unit(sub(frame->verticalEnd, frame->vertex));
  const CvPoint2D64f right = unit(sub(frame->horizontalEnd, frame->vertex));
  frame->vertex = sub(frame->vertex, scale(add(up, right), 0.5));
  frame->verticalEnd = add(frame->verticalEnd, scale(sub(up, right), 0.5));
  frame->horizontalEnd = add(frame->horizontalEnd, scale(sub(right, up), 0.5));
  frame->edgeCorner = add(frame->edgeCorner, scale(add(up, right), 0.5));
}

bool buildFinderFrame(const LocatedCandidate& candidate, FinderFrame* frame) {
  const CvPoint2D64f vertex = toDouble(candidate.corners[0]);
  CvPoint2D64f endA = originalLegEnd(candidate.polygon, toDouble(candidate.corners[1]), vertex);
  CvPoint2D64f endB = originalLegEnd(candidate.polygon, toDouble(candidate.corners[2]), vertex);
  // Seen from the front, the vertical leg turns clockwise onto the horizontal one (y grows downward).
  const double turn = cross(sub(endA, vertex), sub(endB, vertex));
  if (turn == 0.0 || !std::isfinite(turn)) return false;
  if (turn < 0.0) std::swap(endA, endB);
  frame->vertex = vertex;
  frame->verticalEnd = endA;
  frame->horizontalEnd = endB;
  if (distance(vertex, endA) < MIN_LEG_LENGTH || distance(vertex, endB) < MIN_LEG_LENGTH) return false;

  frame->polygonFourth = add(endA, sub(endB, vertex));
  frame->edgeCorner = frame->polygonFourth;
  findPolygonCorners(candidate.polygon, frame);
  moveToOuterEdges(frame);
  return true;
}

bool isDark(const IplImage* binary, CvPoint2D64f p) {
  // Written so that a non-finite coordinate counts as off the image too.
  if (!(p.x >= -0.5 && p.y >= -0.5 && p.x < binary->width - 0.5 && p.y < binary->height - 0.5)) return false;
  const int x = static_cast<int>(p.x + 0.5);
  const int y = static_cast<int>(p.y + 0.5);
  return reinterpret_cast<const unsigned char*>(binary->imageData + static_cast<long>(y) * binary->widthStep)[x] != 0;
}

// Thickness of the finder bar along the leg from `from` to `to`, measured in direction `across`
// (towards the symbol's inside). Next to the bar lie data modules, dark about half the time, so a walk
// may cross two or more modules: the thinnest run that a quarter of the walks agree with is the bar.
double barThickness(const IplImage* binary, CvPoint2D64f from, CvPoint2D64f to, CvPoint2D64f across,
                    double maxLength) {
  std::vector<double> runs;
  for (int k = 0; k < BAR_SAMPLES; ++k) {
    const double t = 0.15 + 0.7 * k / (BAR_SAMPLES - 1);
    const CvPoint2D64f start = add(add(from, scale(sub(to, from), t)), scale(across, -1.0));
    double darkStart = -1.0;
    for (double s = 0.0; s < maxLength; s += BAR_WALK_STEP) {
      const bool dark = isDark(binary, add(start, scale(across, s)));
      if (darkStart < 0.0) {
        if (dark) darkStart = s;
        else if (s > 3.0) break;  // the bar starts at the leg line, not further in
      } else if (!dark) {
        runs.push_back(s - darkStart);
        break;
      }
    }
  }
  if (runs.size() < 4) return -1.0;
  std::sort(runs.begin(), runs.end());
  const size_t quorum = (runs.size() + 3) / 4;
  for (size_t i = 0; i < runs.size(); ++i) {
    size_t agree = i;
    double sum = 0.0;
    while (agree < runs.size() && runs[agree] <= runs[i] * 1.35) sum += runs[agree++];
    if (agree - i >= quorum) return sum / static_cast<double>(agree - i);
  }
  return -1.0;
}

// Dark runs met on the binary image along the segment from `from` to `to`, moved by `offset` pixels in
// direction `inward`. Along a timing edge every second module is dark, so twice the runs is the
// module count of that edge.
int countDarkRuns(const IplImage* binary, CvPoint2D64f from, CvPoint2D64f to, CvPoint2D64f inward, double offset) {
  const CvPoint2D64f start = add(from, scale(inward, offset));
  const double length = distance(from, to);
  const CvPoint2D64f along = unit(sub(to, from));
  int runs = 0;
  bool inDark = false;
  for (double s = 0.0; s <= length; s += 0.5) {
    const bool dark = isDark(binary, add(start, scale(along, s)));
    if (dark && !inDark) ++runs;
    inDark = dark;
  }
  return runs;
}

struct GreyLevels {
  double dark = 0.0;
  double light = 0.0;
  double contrast() const { return light - dark; }
};

double median(std::vector<double> values) {
  std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
  return values[values.size() / 2];
}

// Dark from the middle of the finder bars, light from the quiet zone just outside them.
bool measureLevels(const IplImage* grey, const FinderFrame& frame, double columnWidth, double rowHeight,
                   GreyLevels* levels) {
  const CvPoint2D64f up = unit(sub(frame.verticalEnd, frame.vertex));
  const CvPoint2D64f right = unit(sub(frame.horizontalEnd, frame.vertex));
  std::vector<double> dark, light;
  for (int k = 0; k < BAR_SAMPLES; ++k) {
    const double t = 0.1 + 0.8 * k / (BAR_SAMPLES - 1);
    const CvPoint2D64f onVertical = add(frame.vertex, scale(sub(frame.verticalEnd, frame.vertex), t));
    const CvPoint2D64f onHorizontal = add(frame.vertex, scale(sub(frame.horizontalEnd, frame.vertex), t));
    const double samples[4] = {
        sampleGrey(grey, add(onVertical, scale(right, 0.5 * columnWidth))),
        sampleGrey(grey, add(onHorizontal, scale(up, 0.5 * rowHeight))),
        sampleGrey(grey, add(onVertical, scale(right, -0.7 * columnWidth))),
        sampleGrey(grey, add(onHorizontal, scale(up, -0.7 * rowHeight)))};
    if (samples[0] >= 0.0) dark.push_back(samples[0]);
    if (samples[1] >= 0.0) dark.push_back(samples[1]);
    if (samples[2] >= 0.0) light.push_back(samples[2]);
    if (samples[3] >= 0.0) light.push_back(samples[3]);
  }
  if (dark.size() < BAR_SAMPLES || light.size() < BAR_SAMPLES) return false;
  levels->dark = median(dark);
  levels->light = median(light);
  return levels->contrast() >= MIN_CONTRAST;
}

// One size under trial, as the legs show it, and the quad that fits it best.
struct SizeFit {
  const Ecc200Symbol* symbol = nullptr;
  SymbolQuad quad = {};
  double score = -1e9;
};

bool isTimingDark(int index) { return index % 2 == 0; }

// How well the top row and the right column alternate: for each neighbouring pair, how much lighter
// the light module is than the dark one, in units of the contrast and clipped to [-1, 1]. Summed over
// both edges; a pair off the image counts -1.
double timingScore(const IplImage* grey, const SymbolQuad& quad, int columns, int rows, double contrast) {
  ModuleHomography h;
  if (!homographyForQuad(quad, columns, rows, &h)) return -1e9;
  double score = 0.0;
  double previous = sampleGrey(grey, moduleToImage(h, 0.5, 0.5));
  for (int c = 1; c < columns; ++c) {
    const double value = sampleGrey(grey, moduleToImage(h, c + 0.5, 0.5));
    if (value < 0.0 || previous < 0.0) {
      score -= 1.0;
    } else {
      const double lighterBy = isTimingDark(c) ? previous - value : value - previous;
      score += std::clamp(lighterBy / contrast, -1.0, 1.0);
    }
    previous = value;
  }
  // Right column counted from the bottom row, which is dark.
  previous = sampleGrey(grey, moduleToImage(h, columns - 0.5, rows - 0.5));
  for (int r = 1; r < rows; ++r) {
    const double value = sampleGrey(grey, moduleToImage(h, columns - 0.5, rows - 0.5 - r));
    if (value < 0.0 || previous < 0.0) {
      score -= 1.0;
    } else {
      const double lighterBy = isTimingDark(r) ? previous - value : value - previous;
      score += std::clamp(lighterBy / contrast, -1.0, 1.0);
    }
    previous = value;
  }
  return score;
}

// The timing score plus how dark the finder L is; used when a leg end moves, which shifts the L too.
double outlineScore(const IplImage* grey, const SymbolQuad& quad, int columns, int rows, const GreyLevels& levels) {
  double score = timingScore(grey, quad, columns, rows, levels.contrast());
  if (score < -1e8) return score;
  ModuleHomography h;
  homographyForQuad(quad, columns, rows, &h);
  const double middle = 0.5 * (levels.dark + levels.light);
  const double halfContrast = 0.5 * levels.contrast();
  for (int r = 0; r < rows; ++r) {
    const double value = sampleGrey(grey, moduleToImage(h, 0.5, r + 0.5));
    score += value < 0.0 ? -1.0 : std::clamp((middle - value) / halfContrast, -1.0, 1.0);
  }
  for (int c = 1; c < columns; ++c) {
    const double value = sampleGrey(grey, moduleToImage(h, c + 0.5, rows - 0.5));
    score += value < 0.0 ? -1.0 : std::clamp((middle - value) / halfContrast, -1.0, 1.0);
  }
  return score;
}

// Moves one corner over a square grid of offsets (in module steps along the two module directions)
// and keeps the strictly best score.
template <typename Score>
void searchCorner(CvPoint2D64f* corner, CvPoint2D64f columnStep, CvPoint2D64f rowStep, double reach, double step,
                  double* bestScore, Score score) {
  const CvPoint2D64f centre = *corner;
  const int reachSteps = static_cast<int>(std::lround(reach / step));
  for (int i = -reachSteps; i <= reachSteps; ++i) {
    for (int j = -reachSteps; j <= reachSteps; ++j) {
      if (i == 0 && j == 0) continue;
      const CvPoint2D64f saved = *corner;
      *corner = add(centre, add(scale(columnStep, i * step), scale(rowStep, j * step)));
      const double value = score();
      if (value > *bestScore) {
        *bestScore = value;
      } else {
        *corner = saved;
      }
    }
  }
}

// Directions of one module step at the timing corner, for the searches below.
struct ModuleSteps {
  CvPoint2D64f column, row;  // row points upward, from the bottom row towards the top
};

ModuleSteps moduleSteps(const FinderFrame& frame, const Ecc200Symbol& symbol) {
  return {scale(sub(frame.horizontalEnd, frame.vertex), 1.0 / symbol.columns),
          scale(sub(frame.verticalEnd, frame.vertex), 1.0 / symbol.rows)};
}

// Places the timing corner of one size: from each seed within +-2 modules in half-module steps.
SizeFit placeTimingCorner(const IplImage* grey, const FinderFrame& frame, const Ecc200Symbol& symbol,
                          const GreyLevels& levels) {
  const ModuleSteps steps = moduleSteps(frame, symbol);
  SymbolQuad quad = {frame.verticalEnd, add(frame.verticalEnd, sub(frame.horizontalEnd, frame.vertex)),
                     frame.horizontalEnd, frame.vertex};
  const CvPoint2D64f seeds[3] = {frame.edgeCorner, quad.topRight, frame.polygonFourth};
  auto timing = [&]() { return timingScore(grey, quad, symbol.columns, symbol.rows, levels.contrast()); };
  SizeFit fit;
  fit.symbol = &symbol;
  for (const CvPoint2D64f& seed : seeds) {
    quad.topRight = seed;
    double score = timing();
    searchCorner(&quad.topRight, steps.column, steps.row, 2.0, 0.5, &score, timing);
    if (score > fit.score) {
      fit.score = score;
      fit.quad = quad;
    }
  }
  fit.score /= symbol.columns + symbol.rows - 2;
  return fit;
}

// Refines a placed quad: the timing corner to an eighth of a module, then each leg end and the vertex
// by how well the timing edges and the finder L together fit, then the timing corner once more.
void refineFit(const IplImage* grey, const FinderFrame& frame, const GreyLevels& levels, SizeFit* fit) {
  const Ecc200Symbol& symbol = *fit->symbol;
  const ModuleSteps steps = moduleSteps(frame, symbol);
  SymbolQuad quad = fit->quad;
  auto timing = [&]() { return timingScore(grey, quad, symbol.columns, symbol.rows, levels.contrast()); };
  double score = timing();
  searchCorner(&quad.topRight, steps.column, steps.row, 0.5, 0.25, &score, timing);
  searchCorner(&quad.topRight, steps.column, steps.row, 0.125, 0.125, &score, timing);

  auto outline = [&]() { return outlineScore(grey, quad, symbol.columns, symbol.rows, levels); };
  score = outline();
  searchCorner(&quad.topLeft, steps.column, steps.row, 0.5, 0.25, &score, outline);
  searchCorner(&quad.bottomRight, steps.column, steps.row, 0.5, 0.25, &score, outline);
  searchCorner(&quad.bottomLeft, steps.column, steps.row, 0.25, 0.25, &score, outline);
  searchCorner(&quad.topRight, steps.column, steps.row, 0.125, 0.125, &score, outline);

  fit->quad = quad;
  fit->score = timing() / (symbol.columns + symbol.rows - 2);
}

// Module values of a whole symbol and the shade each one is read as.
struct SampledGrid {
  int columns = 0, rows = 0;
  std::vector<double> values;  // row-major, top row first, columns x rows
  double at(int row, int column) const { return values[static_cast<size_t>(row) * columns + column]; }
};

bool sampleGrid(const IplImage* grey, const SymbolQuad& quad, int columns, int rows, SampledGrid* grid) {
  ModuleHomography h;
  if (!homographyForQuad(quad, columns, rows, &h)) return false;
  grid->columns = columns;
  grid->rows = rows;
  grid->values.assign(static_cast<size_t>(columns) * rows, 0.0);
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < columns; ++c) {
      const double value = sampleModule(grey, h, c + 0.5, r + 0.5);
      if (value < 0.0) return false;
      grid->values[static_cast<size_t>(r) * columns + c] = value;
    }
  }
  return true;
}

// A grey level that varies linearly over the symbol: level = p0 + p1 * column + p2 * row.
struct LevelPlane {
  double p[3] = {0.0, 0.0, 0.0};
  double at(double column, double row) const { return p[0] + p[1] * column + p[2] * row; }
};

struct PlaneSums {
  double n = 0, x = 0, y = 0, xx = 0, xy = 0, yy = 0, v = 0, xv = 0, yv = 0;
  void add(double column, double row, double value) {
    n += 1;
    x += column;
    y += row;
    xx += column * column;
    xy += column * row;
    yy += row * row;
    v += value;
    xv += column * value;
    yv += row * value;
  }
  // Least squares by Cramer's rule; a flat plane at the mean when the points do not span a plane.
  LevelPlane solve() const {
    LevelPlane plane;
    const double m[3][3] = {{n, x, y}, {x, xx, xy}, {y, xy, yy}};
    const double r[3] = {v, xv, yv};
    auto det3 = [](const double a[3][3]) {
      return a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) - a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
             a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
    };
    const double d = det3(m);
    if (std::fabs(d) < 1e-9 * (n * xx * yy + 1.0)) {
      plane.p[0] = n > 0 ? v / n : 0.0;
      return plane;
    }
    for (int k = 0; k < 3; ++k) {
      double mk[3][3];
      for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) mk[i][j] = j == k ? r[i] : m[i][j];
      }
      plane.p[k] = det3(mk) / d;
    }
    return plane;
  }
};

// The threshold between a dark plane fitted to the finder and the dark timing modules and a light
// plane fitted to the light timing modules, so that light falling off across the symbol is followed.
struct ShadeModel {
  LevelPlane dark, light;
  double threshold(int row, int column) const { return 0.5 * (dark.at(column, row) + light.at(column, row)); }
};

ShadeModel fitShades(const SampledGrid& grid) {
  PlaneSums dark, light;
  const int columns = grid.columns, rows = grid.rows;
  for (int r = 0; r < rows; ++r) dark.add(0, r, grid.at(r, 0));
  for (int c = 1; c < columns; ++c) dark.add(c, rows - 1, grid.at(rows - 1, c));
  for (int c = 1; c < columns; ++c) (isTimingDark(c) ? dark : light).add(c, 0, grid.at(0, c));
  for (int r = 1; r < rows - 1; ++r) {
    (isTimingDark(rows - 1 - r) ? dark : light).add(columns - 1, r, grid.at(r, columns - 1));
  }
  return {dark.solve(), light.solve()};
}

struct EdgeShares {
  double top = 0.0, right = 0.0, finder = 0.0;
};

EdgeShares measureEdges(const SampledGrid& grid, const ShadeModel& shades) {
  const int columns = grid.columns, rows = grid.rows;
  auto dark = [&](int r, int c) { return grid.at(r, c) < shades.threshold(r, c); };
  int top = 0, right = 0, finder = 0;
  for (int c = 0; c < columns; ++c) top += dark(0, c) == isTimingDark(c) ? 1 : 0;
  for (int r = 0; r < rows; ++r) right += dark(r, columns - 1) == isTimingDark(rows - 1 - r) ? 1 : 0;
  for (int r = 0; r < rows; ++r) finder += dark(r, 0) ? 1 : 0;
  for (int c = 1; c < columns; ++c) finder += dark(rows - 1, c) ? 1 : 0;
  EdgeShares shares;
  shares.top = static_cast<double>(top) / columns;
  shares.right = static_cast<double>(right) / rows;
  shares.finder = static_cast<double>(finder) / (rows + columns - 1);
  return shares;
}

// The matrix the ECC 200 decoder reads: rows below the top timing row, columns left of the right one.
std::vector<std::uint8_t> thresholdMatrix(const SampledGrid& grid, const ShadeModel& shades) {
  const int width = grid.columns - 1, height = grid.rows - 1;
  std::vector<std::uint8_t> matrix(static_cast<size_t>(width) * height);
  for (int i = 0; i < height; ++i) {
    for (int j = 0; j < width; ++j) {
      matrix[static_cast<size_t>(i) * width + j] = grid.at(i + 1, j) < shades.threshold(i + 1, j) ? 1 : 0;
    }
  }
  return matrix;
}

// Corrections per block a read may spend: the code's capacity floor(check / 2), lowered while the
// share of all possible blocks within that many codeword errors of some code block,
// V(n, c) / 256^check with V(n, c) the number of words within c errors of one block, exceeds
// MAX_MISCORRECTION_CHANCE. Only the smallest sizes (10 x 10, 12 x 12, 18 x 8) are lowered.
int correctionAllowance(const Ecc200Symbol& symbol) {
  const int check = ecc200BlockEccLength(symbol);
  const int length = ecc200BlockDataLength(symbol, 0) + check;
  int allowance = check / 2;
  for (; allowance > 0; --allowance) {
    double words = 0.0, term = 1.0;  // term = C(length, i) * 255^i
    for (int i = 0; i <= allowance; ++i) {
      words += term;
      term *= 255.0 * (length - i) / (i + 1);
    }
    if (std::log(words) - check * std::log(256.0) <= std::log(MAX_MISCORRECTION_CHANCE)) break;
  }
  return allowance;
}

// The fit's matrix read as it is or, when it does not read, as a mirror image.
bool decodeFit(const IplImage* grey, const SizeFit& fit, Ecc200Message* message, MatrixSide* side) {
  const int columns = fit.symbol->columns, rows = fit.symbol->rows;
  SampledGrid grid;
  if (!sampleGrid(grey, fit.quad, columns, rows, &grid)) return false;
  const ShadeModel shades = fitShades(grid);
  const EdgeShares shares = measureEdges(grid, shades);
  if (shares.top < MIN_TIMING_SHARE || shares.right < MIN_TIMING_SHARE || shares.finder < MIN_FINDER_SHARE) {
    return false;
  }
  const std::vector<std::uint8_t> matrix = thresholdMatrix(grid, shades);
  Ecc200ReadLimits limits;
  limits.allowDmre = true;
  limits.anyPaddingWhenUncorrected = true;
  auto decode = [&limits, message](const std::uint8_t* m, int c, int r) {
    Ecc200ReadReport report;
    return decodeEcc200Message(m, c, r, limits, message, &report) &&
           report.mostCorrections <= correctionAllowance(*report.symbol);
  };
  return readEitherSide(matrix.data(), columns, rows, decode, side);
}

// Module counts of the two legs, from their lengths over a module's width and height.
struct ModuleCountEstimate {
  double columns = 0.0, rows = 0.0;
};

bool fitsEstimate(const Ecc200Symbol& size, const ModuleCountEstimate& estimate) {
  return std::fabs(size.columns - estimate.columns) <= SIZE_TOLERANCE * estimate.columns &&
         std::fabs(size.rows - estimate.rows) <= SIZE_TOLERANCE * estimate.rows;
}

// Sizes whose module counts lie within the tolerance of the bar-thickness estimate or of the square-module
// one when there is one (its counts are zero otherwise), or close to the counts of the timing runs: the
// 30 sizes and the extensions, and the rectangles as their mirror images show them.
std::vector<Ecc200Symbol> plausibleSizes(const ModuleCountEstimate& fromBars,
                                         const ModuleCountEstimate& fromSquareModules, int countedColumns,
                                         int countedRows) {
  std::vector<Ecc200Symbol> sizes;
  auto near = [](int size, int counted) { return std::abs(size - counted) <= std::max(2, counted / 10); };
  auto fits = [&](const Ecc200Symbol& s) {
    return fitsEstimate(s, fromBars) || (fromSquareModules.columns > 0.0 && fitsEstimate(s, fromSquareModules)) ||
           (near(s.columns, countedColumns) && near(s.rows, countedRows));
  };
  auto consider = [&](const Ecc200Symbol& s) {
    if (fits(s)) sizes.push_back(s);
    const Ecc200Symbol mirrored = mirroredSize(s);
    if (mirrored.columns != s.columns && fits(mirrored)) sizes.push_back(mirrored);
  };
  for (int i = 0; i < ECC200_SYMBOL_COUNT; ++i) consider(ecc200SymbolAt(i));
  for (int i = 0; i < ECC200_DMRE_SYMBOL_COUNT; ++i) consider(ecc200DmreSymbolAt(i));
  return sizes;
}

CvPoint roundPoint(CvPoint2D64f p) { return cvPoint(cvRound(p.x), cvRound(p.y)); }

bool isUsableImage(const IplImage* image) {
  return image != nullptr && image->nChannels == 1 && image->depth == IPL_DEPTH_8U && image->width > 0 &&
         image->height > 0 && image->imageData != nullptr;
}

}  // namespace

bool readByPerspective(const IplImage* grey, const IplImage* binary, const LocatedCandidate& candidate,
                       DecodedSymbol* symbol, MatrixSide* side) {
  if (!isUsableImage(grey) || !isUsableImage(binary) || symbol == nullptr) return false;
  if (grey->width != binary->width || grey->height != binary->height || candidate.polygon.size() < 4) return false;
  for (const CvPoint2D32f& corner : candidate.corners) {
    if (!std::isfinite(corner.x) || !std::isfinite(corner.y)) return false;
  }

  FinderFrame frame;
  if (!buildFinderFrame(candidate, &frame)) return false;
  const double verticalLength = distance(frame.vertex, frame.verticalEnd);
  const double horizontalLength = distance(frame.vertex, frame.horizontalEnd);
  const CvPoint2D64f up = unit(sub(frame.verticalEnd, frame.vertex));
  const CvPoint2D64f right = unit(sub(frame.horizontalEnd, frame.vertex));
  // The vertical bar is one module wide across the columns, the horizontal bar one module high.
  const double columnWidth = barThickness(binary, frame.vertex, frame.verticalEnd, right, 0.5 * horizontalLength);
  const double rowHeight = barThickness(binary, frame.vertex, frame.horizontalEnd, up, 0.5 * verticalLength);
  if (columnWidth < MIN_MODULE_PIXELS || rowHeight < MIN_MODULE_PIXELS) return false;

  GreyLevels levels;
  if (!measureLevels(grey, frame, columnWidth, rowHeight, &levels)) return false;

  std::vector<SizeFit> fits;
  const double moduleScale = std::min(columnWidth, rowHeight);
  const int countedColumns = 2 * countDarkRuns(binary, frame.verticalEnd, frame.edgeCorner,
                                               unit(sub(frame.vertex, frame.verticalEnd)), 0.5 * moduleScale);
  const int countedRows = 2 * countDarkRuns(binary, frame.horizontalEnd, frame.edgeCorner,
                                            unit(sub(frame.vertex, frame.horizontalEnd)), 0.5 * moduleScale);
  const ModuleCountEstimate fromBars = {horizontalLength / columnWidth, verticalLength / rowHeight};
  // A bar measures two modules thick where the data module beside it is dark along most of the bar, as
  // happens on the six inner modules of an 8-row symbol's short leg. When one bar is far thicker than the
  // other, the thinner one's module gives counts too, as if the modules were square.
  ModuleCountEstimate fromSquareModules;
  if (std::max(columnWidth, rowHeight) > MAX_BAR_THICKNESS_RATIO * moduleScale) {
    fromSquareModules = {horizontalLength / moduleScale, verticalLength / moduleScale};
  }
  // The fits point into this list.
  const std::vector<Ecc200Symbol> sizes = plausibleSizes(fromBars, fromSquareModules, countedColumns, countedRows);
  for (const Ecc200Symbol& size : sizes) {
    if (horizontalLength / size.columns < MIN_MODULE_PIXELS || verticalLength / size.rows < MIN_MODULE_PIXELS) {
      continue;
    }
    const SizeFit fit = placeTimingCorner(grey, frame, size, levels);
    if (fit.score >= MIN_PLACED_SCORE) fits.push_back(fit);
  }
  // Only the best placed sizes are refined and decoded.
  auto better = [](const SizeFit& a, const SizeFit& b) { return a.score > b.score; };
  std::stable_sort(fits.begin(), fits.end(), better);
  if (fits.size() > MAX_SIZES_DECODED) fits.resize(MAX_SIZES_DECODED);
  for (SizeFit& fit : fits) refineFit(grey, frame, levels, &fit);
  std::stable_sort(fits.begin(), fits.end(), better);

  const int tries = static_cast<int>(fits.size());
  for (int k = 0; k < tries; ++k) {
    Ecc200Message message;
    MatrixSide readSide = MatrixSide::Front;
    if (!decodeFit(grey, fits[k], &message, &readSide)) continue;
    const SymbolQuad& quad = fits[k].quad;
    // A mirror image's vertical leg is the one the frame took for the horizontal one.
    const bool mirrored = readSide == MatrixSide::Mirrored;
    symbol->corners[0] = roundPoint(mirrored ? quad.bottomRight : quad.topLeft);
    symbol->corners[1] = roundPoint(quad.topRight);
    symbol->corners[2] = roundPoint(mirrored ? quad.topLeft : quad.bottomRight);
    symbol->corners[3] = roundPoint(quad.bottomLeft);
    if (side != nullptr) *side = readSide;
    symbol->message = std::move(message.bytes);
    symbol->meaning = std::move(message.meaning);
    return true;
  }
  return false;
}

double finderFrameShift(const LocatedCandidate& first, const LocatedCandidate& second) {
  FinderFrame a, b;
  if (first.polygon.size() < 4 || second.polygon.size() < 4 || !buildFinderFrame(first, &a) ||
      !buildFinderFrame(second, &b)) {
    return std::numeric_limits<double>::infinity();
  }
  return std::max({distance(a.vertex, b.vertex), distance(a.verticalEnd, b.verticalEnd),
                   distance(a.horizontalEnd, b.horizontalEnd), distance(a.polygonFourth, b.polygonFourth),
                   distance(a.edgeCorner, b.edgeCorner)});
}
