// Small soft modules in the second look. At 2 to 3 pixels a module, and more so under a blur of about a
// pixel, the frame's threshold joins neighbouring modules and splits others: an 8-row symbol's outline is
// too thin for any step and a larger symbol's timing edges count wrong. Doubling the binary image (the
// passes' crop) keeps what the threshold lost; the grey picture still holds it. So the regions the passes'
// leftovers mark as such a symbol are enlarged from the grey picture by cubic interpolation, thresholded
// there as the passes threshold, and read by the second look's own steps under their guards.
#include "decoder/second_look/enlarged_grey.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include <opencv2/imgproc/imgproc_c.h>

#include "decoder/contours.h"
#include "decoder/cv_handles.h"
#include "decoder/decoder_internal.h"
#include "decoder/second_look/second_look.h"

namespace {

// A located candidate is worth enlarging when its finder bars are this thin: modules of up to about 3
// pixels (a blur widens the dark run across a bar little, data modules beside it only lengthen it).
constexpr double ENLARGE_MAX_BAR = 3.5;  // pixels

// Thin outlines below the thin-symbol step's floor: 8 rows at 1.4 to 3 pixels, tilted or turned.
constexpr int ENLARGE_THIN_MIN_CONTOUR_POINTS = 40;
constexpr double ENLARGE_THIN_MIN_SHORT_SIDE = 11.0;  // pixels
constexpr double ENLARGE_THIN_MAX_SHORT_SIDE = 24.0;
constexpr double ENLARGE_THIN_MIN_ELONGATION = 1.8;  // long side over short side; 8 x 18 is 2.25
constexpr int ENLARGE_THIN_ROWS = 8;

// The inside of a symbol of small modules is a dense pattern, about half dark, even where the frame's
// threshold joined modules; the inside of an L or a bar of clutter is plain.
constexpr double ENLARGE_INSIDE_FROM = 0.15;           // of each side: clear of the finder and timing edges
constexpr double ENLARGE_INSIDE_TO = 0.85;
constexpr int ENLARGE_INSIDE_LINES = 7;
constexpr double ENLARGE_MIN_CHANGES_PER_PIXEL = 0.08;  // random modules of 3 pixels change every 6 pixels
constexpr double ENLARGE_MIN_INSIDE_DARK = 0.25;
constexpr double ENLARGE_MAX_INSIDE_DARK = 0.8;
constexpr double ENLARGE_MIN_CONTRAST = 40.0;           // grey levels between ink and paper
constexpr double ENLARGE_MIN_TIMING_CHANGES = 0.3;      // of one a module, along a thin outline's timing edge
// A thin outline's sides, sampled just inside: two adjacent ones solid (the finder L), the others dotted.
constexpr int ENLARGE_SIDE_SAMPLES = 64;
constexpr double ENLARGE_SOLID_SHARE = 0.7;     // at 2 pixels a module the threshold notches the bars
constexpr double ENLARGE_TIMING_MIN_SHARE = 0.2;
constexpr double ENLARGE_TIMING_MAX_SHARE = 0.8;

// The enlargement: modules of about 5 pixels, where the passes read sharp symbols well.
constexpr double ENLARGE_TARGET_MODULE = 5.0;  // pixels
constexpr double ENLARGE_MIN_SCALE = 2.0;
constexpr double ENLARGE_MAX_SCALE = 3.0;
constexpr double ENLARGE_OTHER_SCALES[] = {2.0, 2.5, 3.0};
constexpr double ENLARGE_SCALE_STEP = 0.5;
// Light around the outline: the quiet zone and the reach of the threshold's block.
constexpr double ENLARGE_MARGIN = 6.0;          // pixels
constexpr double ENLARGE_MARGIN_SHARE = 0.08;   // of the region's longer side
constexpr int ENLARGE_MAX_REGIONS = 6;
// A larger candidate holds modules the passes see well, or is a decoy of a large size, and costs like a
// frame. (A thin outline's width is bounded by its own test.)
constexpr int ENLARGE_MAX_CANDIDATE_SIDE = 260;    // pixels of the frame, margin included
constexpr double ENLARGE_MAX_PIXELS = 400000.0;    // of one enlarged image; larger scales are skipped
constexpr double ENLARGE_MIN_JOIN_SHARE = 0.5;     // of the smaller region's area: the same symbol
constexpr int ENLARGE_ADAPTIVE_BLOCK = 15;      // pixels of the enlarged image, as the adaptive pass

CvPoint2D32f quadPoint(const CvPoint2D32f quad[4], double u, double v) {
  // quad[0] -> quad[1] is u, quad[0] -> quad[3] is v; bilinear across the four corners.
  const double x = (1 - u) * (1 - v) * quad[0].x + u * (1 - v) * quad[1].x + u * v * quad[2].x + (1 - u) * v * quad[3].x;
  const double y = (1 - u) * (1 - v) * quad[0].y + u * (1 - v) * quad[1].y + u * v * quad[2].y + (1 - u) * v * quad[3].y;
  return cvPoint2D32f(x, y);
}

double greyAt(const IplImage* grey, double x, double y) {
  const int px = std::min(grey->width - 1, std::max(0, static_cast<int>(std::floor(x + 0.5))));
  const int py = std::min(grey->height - 1, std::max(0, static_cast<int>(std::floor(y + 0.5))));
  return static_cast<std::uint8_t>(grey->imageData[py * grey->widthStep + px]);
}

// Ink and paper of a region, and the band between them that a change of colour must cross: noise on flat
// paper, which the adaptive threshold turns into a dense pattern of its own, never crosses it.
struct InkLevels {
  double dark = 0.0;
  double light = 0.0;
};

// Counts the changes of colour along grey samples that cross the middle third between ink and paper;
// *darkCount (optional) receives how many samples lie below the middle.
template <typename Sample>
int colourChanges(int samples, Sample sample, InkLevels levels, int* darkCount = nullptr) {
  const double low = levels.dark + (levels.light - levels.dark) / 3, high = levels.light - (levels.light - levels.dark) / 3;
  const double middle = 0.5 * (levels.dark + levels.light);
  int changes = 0, dark = 0, state = 0;  // -1 dark, 1 light, 0 not yet known
  for (int i = 0; i < samples; ++i) {
    const double value = sample(i);
    dark += value < middle ? 1 : 0;
    const int now = value <= low ? -1 : (value >= high ? 1 : 0);
    if (now != 0 && state != 0 && now != state) ++changes;
    if (now != 0) state = now;
  }
  if (darkCount != nullptr) *darkCount = dark;
  return changes;
}

// Whether the inside of the quadrilateral (corners in order around it) shows the dense, half dark pattern
// of modules in the grey picture: lines along quad[0] -> quad[1], a pixel a sample. *levels receives its
// ink and paper.
bool denseInside(const IplImage* grey, const CvPoint2D32f quad[4], InkLevels* levels) {
  const double length = 0.5 * (pointDistance(quad[0], quad[1]) + pointDistance(quad[3], quad[2]));
  const int samples = std::max(8, static_cast<int>((ENLARGE_INSIDE_TO - ENLARGE_INSIDE_FROM) * length));
  std::vector<double> values;
  values.reserve(static_cast<std::size_t>(samples) * ENLARGE_INSIDE_LINES);
  for (int line = 0; line < ENLARGE_INSIDE_LINES; ++line) {
    const double v =
        ENLARGE_INSIDE_FROM + (ENLARGE_INSIDE_TO - ENLARGE_INSIDE_FROM) * (line + 0.5) / ENLARGE_INSIDE_LINES;
    for (int i = 0; i < samples; ++i) {
      const double u = ENLARGE_INSIDE_FROM + (ENLARGE_INSIDE_TO - ENLARGE_INSIDE_FROM) * i / (samples - 1);
      const CvPoint2D32f p = quadPoint(quad, u, v);
      values.push_back(greyAt(grey, p.x, p.y));
    }
  }
  std::vector<double> sorted = values;
  const std::size_t lowAt = sorted.size() / 10, highAt = sorted.size() - 1 - sorted.size() / 10;
  std::nth_element(sorted.begin(), sorted.begin() + lowAt, sorted.end());
  levels->dark = sorted[lowAt];
  std::nth_element(sorted.begin(), sorted.begin() + highAt, sorted.end());
  levels->light = sorted[highAt];
  if (levels->light - levels->dark < ENLARGE_MIN_CONTRAST) return false;
  int changes = 0, dark = 0;
  for (int line = 0; line < ENLARGE_INSIDE_LINES; ++line) {
    int lineDark = 0;
    changes += colourChanges(
        samples, [&values, line, samples](int i) { return values[static_cast<std::size_t>(line) * samples + i]; },
        *levels, &lineDark);
    dark += lineDark;
  }
  const double darkShare = static_cast<double>(dark) / values.size();
  const double pixels = ENLARGE_INSIDE_LINES * (ENLARGE_INSIDE_TO - ENLARGE_INSIDE_FROM) * length;
  return darkShare >= ENLARGE_MIN_INSIDE_DARK && darkShare <= ENLARGE_MAX_INSIDE_DARK &&
         changes >= ENLARGE_MIN_CHANGES_PER_PIXEL * pixels;
}

// Whether the side from -> to alternates about as often as a timing edge of modules of `module` pixels
// does, half a module inside (towards centre), in the grey picture.
bool alternatesLikeTiming(const IplImage* grey, CvPoint2D32f from, CvPoint2D32f to, CvPoint2D32f centre,
                          double module, InkLevels levels) {
  const double length = pointDistance(from, to);
  if (length < 1.0 || module <= 0.0) return false;
  double nx = -(to.y - from.y) / length, ny = (to.x - from.x) / length;
  const double midX = 0.5 * (from.x + to.x), midY = 0.5 * (from.y + to.y);
  if (nx * (centre.x - midX) + ny * (centre.y - midY) < 0.0) {
    nx = -nx;
    ny = -ny;
  }
  const double inset = 0.5 * module;
  const int samples = std::max(8, static_cast<int>(2.0 * length));  // half a pixel a sample
  const int changes = colourChanges(
      samples,
      [&](int i) {
        const double share = (i + 0.5) / samples;
        return greyAt(grey, from.x + share * (to.x - from.x) + inset * nx, from.y + share * (to.y - from.y) + inset * ny);
      },
      levels);
  return changes >= ENLARGE_MIN_TIMING_CHANGES * length / module;
}

// When two adjacent sides are solid and the other two dotted, as a finder L and two timing edges: the first
// timing side (side s runs from corner s to corner s + 1); else -1.
int finderTimingSide(const IplImage* binary, const CvPoint2D32f corners[4], double inset) {
  CvPoint2D32f centre = cvPoint2D32f(0.0, 0.0);
  for (int c = 0; c < 4; ++c) {
    centre.x += 0.25f * corners[c].x;
    centre.y += 0.25f * corners[c].y;
  }
  bool solid[4], timing[4];
  for (int s = 0; s < 4; ++s) {
    const double share = darkShareInside(binary, corners[s], corners[(s + 1) % 4], centre, inset, ENLARGE_SIDE_SAMPLES);
    solid[s] = share >= ENLARGE_SOLID_SHARE;
    timing[s] = share >= ENLARGE_TIMING_MIN_SHARE && share <= ENLARGE_TIMING_MAX_SHARE;
  }
  for (int v = 0; v < 4; ++v) {
    if (solid[(v + 3) % 4] && solid[v] && timing[(v + 1) % 4] && timing[(v + 2) % 4]) return (v + 1) % 4;
  }
  return -1;
}

CvRect boundsOf(const CvPoint2D32f* points, int count) {
  float minX = points[0].x, maxX = points[0].x, minY = points[0].y, maxY = points[0].y;
  for (int i = 1; i < count; ++i) {
    minX = std::min(minX, points[i].x);
    maxX = std::max(maxX, points[i].x);
    minY = std::min(minY, points[i].y);
    maxY = std::max(maxY, points[i].y);
  }
  const int x = static_cast<int>(std::floor(minX)), y = static_cast<int>(std::floor(minY));
  return cvRect(x, y, static_cast<int>(std::ceil(maxX)) - x + 1, static_cast<int>(std::ceil(maxY)) - y + 1);
}

CvRect unionOf(CvRect a, CvRect b) {
  const int x = std::min(a.x, b.x), y = std::min(a.y, b.y);
  return cvRect(x, y, std::max(a.x + a.width, b.x + b.width) - x, std::max(a.y + a.height, b.y + b.height) - y);
}

// Whether two regions share most of the smaller one: the same symbol seen by both passes, not two
// neighbours, which joined would make one large region.
bool sameRegion(CvRect a, CvRect b) {
  const int width = std::min(a.x + a.width, b.x + b.width) - std::max(a.x, b.x);
  const int height = std::min(a.y + a.height, b.y + b.height) - std::max(a.y, b.y);
  if (width <= 0 || height <= 0) return false;
  const double smaller = std::min(static_cast<double>(a.width) * a.height, static_cast<double>(b.width) * b.height);
  return static_cast<double>(width) * height >= ENLARGE_MIN_JOIN_SHARE * smaller;
}

// The outline's box widened by the margin on every side and clipped to the frame.
CvRect withMargin(CvRect box, int width, int height) {
  const int margin =
      static_cast<int>(std::ceil(ENLARGE_MARGIN + ENLARGE_MARGIN_SHARE * std::max(box.width, box.height)));
  const int x0 = std::max(0, box.x - margin), y0 = std::max(0, box.y - margin);
  const int x1 = std::min(width, box.x + box.width + margin), y1 = std::min(height, box.y + box.height + margin);
  return cvRect(x0, y0, std::max(0, x1 - x0), std::max(0, y1 - y0));
}

CvPoint2D32f centreOf(CvRect box) {
  return cvPoint2D32f(box.x + 0.5f * box.width, box.y + 0.5f * box.height);
}

double scaleFor(double modulePixels) {
  return std::min(ENLARGE_MAX_SCALE, std::max(ENLARGE_MIN_SCALE, ENLARGE_TARGET_MODULE / modulePixels));
}

// A located candidate whose finder bars are both thin: its box (the polygon's, which holds the whole
// outline) and the module size its thinner bar gives.
bool smallModuleCandidate(const IplImage* grey, const IplImage* binary, const SymbolCandidate& candidate, CvRect* box,
                          double* module) {
  const CvPoint2D32f* corners = candidate.corners;
  const double barA = finderBarThickness(binary, corners[0], corners[1], corners[2]);
  const double barB = finderBarThickness(binary, corners[0], corners[2], corners[1]);
  if (barA <= 0.0 || barB <= 0.0 || std::max(barA, barB) > ENLARGE_MAX_BAR) return false;
  const CvPoint2D32f quad[4] = {corners[0], corners[1], corners[3], corners[2]};
  InkLevels levels;
  if (!denseInside(grey, quad, &levels)) return false;
  *module = std::min(barA, barB);
  *box = candidate.polygon != nullptr ? cvBoundingRect(const_cast<CvSeq*>(candidate.polygon), 0)
                                      : boundsOf(corners, 4);
  return true;
}

// An outer outline as long and thin as 8 rows of 1.5 to 3 pixels. (Its area says nothing: off the axes
// the outline of ragged timing edges folds over itself.)
// scratch holds the hull the enclosing rectangle is found from; without it each call would allocate a
// storage block of its own, for every outline of the frame.
bool thinSmallOutline(const IplImage* grey, const IplImage* binary, CvSeq* contour, CvSeq* polygon,
                      CvMemStorage* scratch, CvRect* box, double* module) {
  if (CV_IS_SEQ_HOLE(contour) || contour->total < ENLARGE_THIN_MIN_CONTOUR_POINTS || polygon->total < 4) return false;
  cvClearMemStorage(scratch);
  const CvBox2D rough = cvMinAreaRect2(polygon, scratch);
  const double shortSide = std::min(rough.size.width, rough.size.height);
  const double longSide = std::max(rough.size.width, rough.size.height);
  if (shortSide < ENLARGE_THIN_MIN_SHORT_SIDE - 2.0 || shortSide > ENLARGE_THIN_MAX_SHORT_SIDE + 2.0 ||
      longSide < ENLARGE_THIN_MIN_ELONGATION * shortSide) {
    return false;
  }
  cvClearMemStorage(scratch);
  const CvBox2D exact = cvMinAreaRect2(contour, scratch);
  const double exactShort = std::min(exact.size.width, exact.size.height);
  const double exactLong = std::max(exact.size.width, exact.size.height);
  if (exactShort < ENLARGE_THIN_MIN_SHORT_SIDE || exactShort > ENLARGE_THIN_MAX_SHORT_SIDE ||
      exactLong < ENLARGE_THIN_MIN_ELONGATION * exactShort) {
    return false;
  }
  *module = exactShort / ENLARGE_THIN_ROWS;
  CvPoint2D32f corners[4];
  cvBoxPoints(exact, corners);
  snapToOutline(contour, corners);
  const int timingSide = finderTimingSide(binary, corners, std::max(0.75, 0.5 * *module));
  if (timingSide < 0) return false;
  // Along the long side, so the lines run through the data rows.
  const int from = pointDistance(corners[0], corners[1]) >= pointDistance(corners[1], corners[2]) ? 0 : 1;
  const CvPoint2D32f quad[4] = {corners[from], corners[from + 1], corners[from + 2], corners[(from + 3) % 4]};
  InkLevels levels;
  if (!denseInside(grey, quad, &levels)) return false;
  // The long timing edge: of the two timing sides, the one along the outline's length.
  const int side = pointDistance(corners[timingSide], corners[(timingSide + 1) % 4]) >=
                           pointDistance(corners[(timingSide + 1) % 4], corners[(timingSide + 2) % 4])
                       ? timingSide
                       : (timingSide + 1) % 4;
  if (!alternatesLikeTiming(grey, corners[side], corners[(side + 1) % 4], quadPoint(quad, 0.5, 0.5), *module,
                            levels)) {
    return false;
  }
  *box = cvBoundingRect(contour, 0);
  return true;
}

// Adds a region no wider or higher than maxSide, joined with any that shares most of it (the same symbol
// often shows in both passes).
void addRegion(CvRect box, double scale, int maxSide, int width, int height, std::vector<EnlargedRegion>* regions) {
  EnlargedRegion region;
  region.area = withMargin(box, width, height);
  region.scale = scale;
  if (region.area.width <= 0 || region.area.height <= 0) return;
  if (region.area.width > maxSide || region.area.height > maxSide) return;
  for (auto it = regions->begin(); it != regions->end();) {
    if (!sameRegion(it->area, region.area)) {
      ++it;
      continue;
    }
    region.area = unionOf(region.area, it->area);
    region.scale = std::max(region.scale, it->scale);
    it = regions->erase(it);
  }
  regions->push_back(region);
}

// A pixel of the enlarged image back in the frame: pixel centres on whole numbers in both.
CvPoint toFrame(CvPoint enlarged, const EnlargedRegion& region) {
  const double x = region.area.x + (enlarged.x + 0.5) / region.scale - 0.5;
  const double y = region.area.y + (enlarged.y + 0.5) / region.scale - 0.5;
  return cvPoint(static_cast<int>(std::lround(x)), static_cast<int>(std::lround(y)));
}

// Reads one region at one scale: the grey picture enlarged, thresholded as the global pass does and, when
// that reads nothing, as the adaptive pass does, each through the second look's steps.
bool readRegionAt(const IplImage* grey, EnlargedRegion region, double scale, std::vector<DecodedSymbol>* symbols,
                  std::size_t maxSymbols) {
  region.scale = scale;
  CvMat source;
  cvGetSubRect(grey, &source, region.area);
  const int width = static_cast<int>(std::lround(region.area.width * region.scale));
  const int height = static_cast<int>(std::lround(region.area.height * region.scale));
  ImageHandle enlarged(cvCreateImage(cvSize(width, height), IPL_DEPTH_8U, 1));
  cvResize(&source, enlarged.get(), CV_INTER_CUBIC);
  const ScanPass thresholds[] = {SCAN_GLOBAL_PASS, {ENLARGE_ADAPTIVE_BLOCK, SCAN_ADAPTIVE_PASS.flags}};
  for (const ScanPass& threshold : thresholds) {
    PassLeftovers pass;
    if (!locateAsPass(enlarged.get(), threshold.threshold, threshold.flags, &pass)) continue;
    std::vector<DecodedSymbol> found;
    readPassLeftovers(enlarged.get(), &pass, 1, &found, maxSymbols - symbols->size());
    bool any = false;
    for (DecodedSymbol& symbol : found) {
      for (CvPoint& corner : symbol.corners) corner = toFrame(corner, region);
      if (symbols->size() >= maxSymbols || liesInRead(symbolCentre(symbol), *symbols)) continue;
      symbols->push_back(std::move(symbol));
      any = true;
    }
    if (any) return true;
  }
  return false;
}

// A region at its own scale first, then at the others: at 2 to 3 pixels a module, where each module
// edge falls on the enlarged grid decides between a read and a miss, and another scale moves them all.
bool readRegion(const IplImage* grey, const EnlargedRegion& region, std::vector<DecodedSymbol>* symbols,
                std::size_t maxSymbols) {
  const double pixels = static_cast<double>(region.area.width) * region.area.height;
  // A long thin outline turned off the axes has a large box; beyond the cap no scale is read at all.
  if (ENLARGE_MIN_SCALE * ENLARGE_MIN_SCALE * pixels > ENLARGE_MAX_PIXELS) return false;
  const double ownScale = std::min(region.scale, std::max(ENLARGE_MIN_SCALE, std::sqrt(ENLARGE_MAX_PIXELS / pixels)));
  if (readRegionAt(grey, region, ownScale, symbols, maxSymbols)) return true;
  for (const double scale : ENLARGE_OTHER_SCALES) {
    if (std::fabs(scale - ownScale) < ENLARGE_SCALE_STEP / 2 || scale * scale * pixels > ENLARGE_MAX_PIXELS) continue;
    if (readRegionAt(grey, region, scale, symbols, maxSymbols)) return true;
  }
  return false;
}

}  // namespace

std::vector<EnlargedRegion> findSmallModuleRegions(const IplImage* grey, const PassLeftovers* passes, int passCount,
                                                   const std::vector<DecodedSymbol>& symbols) {
  const int width = grey->width, height = grey->height;
  StorageHandle scratch(cvCreateMemStorage(0));
  std::vector<EnlargedRegion> regions;
  for (int p = 0; p < passCount; ++p) {
    const PassLeftovers& pass = passes[p];
    if (pass.binary == nullptr) continue;
    for (const SymbolCandidate& candidate : pass.located) {
      CvRect box;
      double module = 0.0;
      if (!smallModuleCandidate(grey, pass.binary, candidate, &box, &module)) continue;
      if (liesInRead(centreOf(box), symbols)) continue;
      addRegion(box, scaleFor(module), ENLARGE_MAX_CANDIDATE_SIDE, width, height, &regions);
    }
    CvSeq* contour = pass.contours;
    for (CvSeq* polygon = pass.polygons; contour != nullptr && polygon != nullptr;
         contour = contour->h_next, polygon = polygon->h_next) {
      CvRect box;
      double module = 0.0;
      if (!thinSmallOutline(grey, pass.binary, contour, polygon, scratch.get(), &box, &module)) continue;
      if (liesInRead(centreOf(box), symbols)) continue;
      addRegion(box, scaleFor(module), std::max(width, height), width, height, &regions);
    }
  }
  if (regions.size() > static_cast<std::size_t>(ENLARGE_MAX_REGIONS)) regions.resize(ENLARGE_MAX_REGIONS);
  return regions;
}

ScanStep readFromEnlargedGrey(const IplImage* grey, const PassLeftovers* passes, int passCount,
                              std::vector<DecodedSymbol>* symbols, std::size_t maxSymbols) {
  bool any = false;
  for (const EnlargedRegion& region : findSmallModuleRegions(grey, passes, passCount, *symbols)) {
    if (symbols->size() >= maxSymbols) break;
    if (liesInRead(centreOf(region.area), *symbols)) continue;
    any = readRegion(grey, region, symbols, maxSymbols) || any;
  }
  return any ? SCAN_READ_FROM_ENLARGED_GREY : SCAN_NOTHING_READ;
}
