// Flattened light: a local white estimate divided out of the frame, then the locator and the second
// look's leads on the flattened picture.
#include "decoder/second_look/flattened_light.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include <opencv2/imgproc/imgproc_c.h>

#include "decoder/contours.h"
#include "decoder/cv_handles.h"
#include "decoder/decoder_internal.h"
#include "decoder/second_look/second_look.h"

namespace {

constexpr int REDUCTION = 4;  // the white estimate's cells: this many pixels on a side
constexpr int MIN_CELLS = 8;  // a reduced picture narrower than this holds no symbol with its quiet zone
// The closing's reach in cells (each step of a 3 x 3 closing widens it by two cells): 36 pixels fill the
// finder bars and the densest clumps of dark modules of symbols up to about 8 pixels a module.
constexpr int CLOSING_STEPS = 4;
// A shadow keeps a third to two thirds of the light; a black object beside paper is darker than the
// deepest shadow, and a gentle fall of light shallower than the shallowest.
constexpr double DEEPEST_SHADOW = 0.25;
constexpr double SHALLOWEST_SHADOW = 0.72;
constexpr int MIN_LIGHT_LEVEL = 40;  // white estimates below this are dark objects, not lit paper
// A cell holds ink when its middle lies this far below its white.
constexpr double INK_SHARE = 0.7;
constexpr int INK_REACH = 3;         // cells between a light step and the ink beside it
constexpr int MIN_INK_CELLS = 4;     // on each side of the step, within reach
constexpr int MIN_STEP_CELLS = 8;    // a shadow edge crosses a symbol for at least this many cells
// The cells of a straight edge, a band two or three cells wide, spread about one cell across its line.
constexpr double MAX_EDGE_SPREAD = 1.2;
// A symbol of 10 x 10 modules of 3.5 pixels has ten cells of edge across it and the ink beside it.
constexpr int MIN_EDGE_LENGTH = 8;
constexpr int REGION_REACH = 4;      // how far a symbol may reach from the edge, in lengths of the edge across ink
constexpr int MIN_REGION_MARGIN = 8;  // cells of light around the region flattened, beyond the symbol's reach
// Cells whose neighbours' whites differ by less than this lie in even light.
constexpr double EVEN_LIGHT_SHARE = 0.85;

struct WhiteEstimate {
  ImageHandle reduced;  // the grey picture at each cell's middle (two by two pixels averaged)
  ImageHandle white;    // the reduced picture's closing
  ImageHandle lowest;   // its 3 x 3 minimum
  ImageHandle highest;  // its 3 x 3 maximum
};

std::uint8_t at(const IplImage* image, int x, int y) {
  return static_cast<std::uint8_t>(image->imageData[y * image->widthStep + x]);
}

ImageHandle newLike(const IplImage* image) {
  return ImageHandle(cvCreateImage(cvGetSize(image), IPL_DEPTH_8U, 1));
}

// False for an image too small to reduce.
bool estimateWhite(const IplImage* grey, WhiteEstimate* estimate) {
  const int columns = grey->width / REDUCTION, rows = grey->height / REDUCTION;
  if (columns < MIN_CELLS || rows < MIN_CELLS) return false;
  CvMat whole;
  cvGetSubRect(grey, &whole, cvRect(0, 0, columns * REDUCTION, rows * REDUCTION));
  estimate->reduced.reset(cvCreateImage(cvSize(columns, rows), IPL_DEPTH_8U, 1));
  const IplImage* reduced = estimate->reduced.get();
  // Sampling the cells' middles costs a sixth of averaging them whole; the closing takes the light it
  // needs from the neighbouring cells, and the ink of a symbol shows in every other cell or more.
  cvResize(&whole, estimate->reduced.get(), CV_INTER_LINEAR);
  // The closing runs on a copy whose border cells are repeated outwards: clipped at the frame's edge it
  // would fill the narrow end of a shade that meets the edge at a slant with the light beside it.
  const int margin = 2 * CLOSING_STEPS;
  ImageHandle padded(cvCreateImage(cvSize(columns + 2 * margin, rows + 2 * margin), IPL_DEPTH_8U, 1));
  cvCopyMakeBorder(reduced, padded.get(), cvPoint(margin, margin), IPL_BORDER_REPLICATE);
  cvDilate(padded.get(), padded.get(), nullptr, CLOSING_STEPS);
  cvErode(padded.get(), padded.get(), nullptr, CLOSING_STEPS);
  estimate->white = newLike(reduced);
  CvMat inside;
  cvGetSubRect(padded.get(), &inside, cvRect(margin, margin, columns, rows));
  cvCopy(&inside, estimate->white.get());
  estimate->lowest = newLike(reduced);
  estimate->highest = newLike(reduced);
  cvErode(estimate->white.get(), estimate->lowest.get(), nullptr, 1);
  cvDilate(estimate->white.get(), estimate->highest.get(), nullptr, 1);
  return true;
}

bool isShadowStep(const WhiteEstimate& estimate, int x, int y) {
  const int high = at(estimate.highest.get(), x, y), low = at(estimate.lowest.get(), x, y);
  return high >= MIN_LIGHT_LEVEL && low >= DEEPEST_SHADOW * high && low <= SHALLOWEST_SHADOW * high;
}

// A cell of ink in even light: well below its white, away from any light step.
bool isInk(const WhiteEstimate& estimate, int x, int y) {
  const int white = at(estimate.white.get(), x, y);
  return at(estimate.reduced.get(), x, y) < INK_SHARE * white &&
         at(estimate.lowest.get(), x, y) >= EVEN_LIGHT_SHARE * at(estimate.highest.get(), x, y);
}

// A shadow edge through a symbol has the symbol's modules on both sides of it, a good many cells of ink
// in the shade and in the light within reach. The edge of a grey object, or a shadow on bare paper, has
// not, nor mostly that of a grey object with a stroke or two across it.
bool hasInkOnBothSides(const WhiteEstimate& estimate, int x, int y) {
  const IplImage* white = estimate.white.get();
  const double middle = 0.5 * (at(estimate.lowest.get(), x, y) + at(estimate.highest.get(), x, y));
  int shaded = 0, lit = 0;
  for (int cy = std::max(0, y - INK_REACH); cy <= std::min(white->height - 1, y + INK_REACH); ++cy) {
    for (int cx = std::max(0, x - INK_REACH); cx <= std::min(white->width - 1, x + INK_REACH); ++cx) {
      if (!isInk(estimate, cx, cy)) continue;
      ++(at(white, cx, cy) < middle ? shaded : lit);
      if (shaded >= MIN_INK_CELLS && lit >= MIN_INK_CELLS) return true;
    }
  }
  return false;
}

// The cells of a shadow edge with ink on both sides, as a box in cells; empty when fewer than
// MIN_STEP_CELLS such cells are found or when they do not lie along one straight line, as a shadow's edge
// across a label does (the rim of a grey blob with strokes on it curves round, clutter lies scattered).
CvRect shadowEdgeCells(const WhiteEstimate& estimate) {
  const IplImage* white = estimate.white.get();
  int edgeCells = 0, left = white->width, top = white->height, right = -1, bottom = -1;
  double sumX = 0.0, sumY = 0.0, sumXX = 0.0, sumYY = 0.0, sumXY = 0.0;
  for (int y = 0; y < white->height; ++y) {
    for (int x = 0; x < white->width; ++x) {
      if (!isShadowStep(estimate, x, y) || !hasInkOnBothSides(estimate, x, y)) continue;
      ++edgeCells;
      left = std::min(left, x);
      right = std::max(right, x);
      top = std::min(top, y);
      bottom = std::max(bottom, y);
      sumX += x;
      sumY += y;
      sumXX += static_cast<double>(x) * x;
      sumYY += static_cast<double>(y) * y;
      sumXY += static_cast<double>(x) * y;
    }
  }
  if (edgeCells < MIN_STEP_CELLS || std::max(right - left, bottom - top) + 1 < MIN_EDGE_LENGTH) {
    return cvRect(0, 0, 0, 0);
  }
  // The spread of the cells across their main direction: the smaller eigenvalue of their covariance.
  const double n = edgeCells, meanX = sumX / n, meanY = sumY / n;
  const double varX = sumXX / n - meanX * meanX, varY = sumYY / n - meanY * meanY, cov = sumXY / n - meanX * meanY;
  const double across = 0.5 * (varX + varY) - std::sqrt(0.25 * (varX - varY) * (varX - varY) + cov * cov);
  if (across > MAX_EDGE_SPREAD * MAX_EDGE_SPREAD) return cvRect(0, 0, 0, 0);
  return cvRect(left, top, right - left + 1, bottom - top + 1);
}

// The part of the frame to flatten, in pixels: the shadow edge's stretch across ink, widened on every
// side by REGION_REACH times its length (an edge across a rectangle's narrow side runs for a quarter of
// the length the symbol reaches, for every size up to 8 x 32) and by MIN_REGION_MARGIN cells for a
// quiet zone.
CvRect regionAround(CvRect cells, const WhiteEstimate& estimate) {
  const IplImage* white = estimate.white.get();
  const int margin = REGION_REACH * std::max(cells.width, cells.height) + MIN_REGION_MARGIN;
  const int left = std::max(0, cells.x - margin), top = std::max(0, cells.y - margin);
  const int right = std::min(white->width, cells.x + cells.width + margin);
  const int bottom = std::min(white->height, cells.y + cells.height + margin);
  return cvRect(left * REDUCTION, top * REDUCTION, (right - left) * REDUCTION, (bottom - top) * REDUCTION);
}

// The region of grey (whole cells) divided by its white, as an image of the region's size. Each pixel's
// white is its own level held between the lowest and the highest white of the cells around its own:
// paper on either side of a light step, and the blended pixels on the step, are their own white, so the
// step stays as sharp as it is; ink takes the lowest, so that ink in the light stays darker than the
// shade's paper. Image-library operations on region-sized images only: fresh full frames would cost more
// in the memory they touch than in the arithmetic.
IplImage* flattenWith(const IplImage* grey, const WhiteEstimate& estimate, CvRect region) {
  const CvRect cells = cvRect(region.x / REDUCTION, region.y / REDUCTION, region.width / REDUCTION,
                              region.height / REDUCTION);
  const CvSize size = cvSize(region.width, region.height);
  ImageHandle paper(cvCreateImage(size, IPL_DEPTH_8U, 1)), lowest(cvCreateImage(size, IPL_DEPTH_8U, 1));
  CvMat cellPart, greyPart;
  cvGetSubRect(estimate.highest.get(), &cellPart, cells);
  cvResize(&cellPart, paper.get(), CV_INTER_NN);
  cvGetSubRect(estimate.lowest.get(), &cellPart, cells);
  cvResize(&cellPart, lowest.get(), CV_INTER_NN);
  cvGetSubRect(grey, &greyPart, region);
  cvMin(&greyPart, paper.get(), paper.get());
  cvMax(paper.get(), lowest.get(), paper.get());
  cvMaxS(paper.get(), 1.0, paper.get());
  ImageHandle flat(cvCreateImage(size, IPL_DEPTH_8U, 1));
  cvDiv(&greyPart, paper.get(), flat.get(), 255.0);
  return flat.release();
}

}  // namespace

bool hasShadowEdgeNearInk(const IplImage* grey) {
  WhiteEstimate estimate;
  return estimateWhite(grey, &estimate) && shadowEdgeCells(estimate).width > 0;
}

IplImage* flattenLight(const IplImage* grey) {
  WhiteEstimate estimate;
  if (!estimateWhite(grey, &estimate)) return nullptr;
  const IplImage* white = estimate.white.get();
  return flattenWith(grey, estimate, cvRect(0, 0, white->width * REDUCTION, white->height * REDUCTION));
}

ScanStep readInFlattenedLight(const IplImage* grey, PassLeftovers* /*passes*/, int /*passCount*/,
                              std::vector<DecodedSymbol>* symbols, std::size_t maxSymbols) {
  if (symbols->size() >= maxSymbols) return SCAN_NOTHING_READ;
  WhiteEstimate estimate;
  if (!estimateWhite(grey, &estimate)) return SCAN_NOTHING_READ;
  const CvRect cells = shadowEdgeCells(estimate);
  if (cells.width == 0) return SCAN_NOTHING_READ;  // most frames end here
  const CvRect region = regionAround(cells, estimate);
  const ImageHandle flat(flattenWith(grey, estimate, region));
  PassLeftovers pass;
  // The global pass's level; nothing is decoded here, the second look's leads decode under their guards.
  if (!locateAsPass(flat.get(), SCAN_GLOBAL_PASS.threshold, SCAN_GLOBAL_PASS.flags, &pass)) return SCAN_NOTHING_READ;
  std::vector<DecodedSymbol> found;
  if (secondLook(flat.get(), &pass, 1, &found, maxSymbols - symbols->size()) == SCAN_NOTHING_READ) {
    return SCAN_NOTHING_READ;
  }
  ScanStep step = SCAN_NOTHING_READ;
  for (DecodedSymbol& symbol : found) {
    CvPoint2D32f centre = {0.0f, 0.0f};
    for (CvPoint& corner : symbol.corners) {
      corner.x += region.x;
      corner.y += region.y;
      centre.x += 0.25f * static_cast<float>(corner.x);
      centre.y += 0.25f * static_cast<float>(corner.y);
    }
    if (liesInRead(centre, *symbols)) continue;
    symbols->push_back(std::move(symbol));
    step = SCAN_READ_IN_FLATTENED_LIGHT;
  }
  return step;
}
