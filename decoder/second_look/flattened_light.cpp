// Flattened light: a local white estimate divided out of the frame, then the locator and the second
// look's leads on the flattened picture.
#include "decoder/second_look/flattened_light.h"

#include <algorithm>
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
// A cell holds ink when it lies this far below its white (a module of three pixels in a cell of four
// brings an area-averaged cell well below it).
constexpr double INK_SHARE = 0.7;
constexpr int INK_REACH_STEPS = 2;   // cells between a light step and the ink beside it
constexpr int MIN_STEP_CELLS = 4;    // a shadow edge crosses a symbol for at least this many cells
// Cells whose neighbours' whites differ by more than this take their white per pixel from a neighbour.
constexpr double EVEN_LIGHT_SHARE = 0.85;
// A pixel's white is the lowest neighbouring white that its own level does not exceed by more than noise.
constexpr double WHITE_FIT_SHARE = 0.9;

struct WhiteEstimate {
  ImageHandle reduced;  // the grey picture averaged over each cell
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
  cvResize(&whole, estimate->reduced.get(), CV_INTER_AREA);
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

// Cells holding ink, widened by INK_REACH_STEPS: 255 where ink lies near.
ImageHandle inkNearby(const WhiteEstimate& estimate) {
  const IplImage* white = estimate.white.get();
  const IplImage* reduced = estimate.reduced.get();
  const int columns = white->width, rows = white->height;
  ImageHandle ink = newLike(white);
  for (int y = 0; y < rows; ++y) {
    for (int x = 0; x < columns; ++x) {
      const bool dark = at(reduced, x, y) < INK_SHARE * at(white, x, y);
      ink->imageData[y * ink->widthStep + x] = static_cast<char>(dark ? 255 : 0);
    }
  }
  cvDilate(ink.get(), ink.get(), nullptr, INK_REACH_STEPS);
  return ink;
}

bool isShadowStep(const WhiteEstimate& estimate, int x, int y) {
  const int high = at(estimate.highest.get(), x, y), low = at(estimate.lowest.get(), x, y);
  return high >= MIN_LIGHT_LEVEL && low >= DEEPEST_SHADOW * high && low <= SHALLOWEST_SHADOW * high;
}

bool shadowEdgeNearInk(const WhiteEstimate& estimate) {
  const IplImage* white = estimate.white.get();
  int stepCells = 0;
  for (int y = 0; y < white->height; ++y) {
    for (int x = 0; x < white->width; ++x) stepCells += isShadowStep(estimate, x, y) ? 1 : 0;
  }
  if (stepCells < MIN_STEP_CELLS) return false;  // most frames end here, before the ink test
  const ImageHandle ink = inkNearby(estimate);
  int nearInk = 0;
  for (int y = 0; y < white->height; ++y) {
    for (int x = 0; x < white->width; ++x) {
      if (at(ink.get(), x, y) != 0 && isShadowStep(estimate, x, y)) ++nearInk;
    }
  }
  return nearInk >= MIN_STEP_CELLS;
}

// The white of one pixel of level `level` in cell (cx, cy) whose neighbours' whites differ: the lowest
// neighbouring white that fits the level, so paper just inside the shade takes the shade's white and
// paper just outside it the light's; ink, which fits every white, takes the lowest.
int whiteNearStep(const IplImage* white, int cx, int cy, int level) {
  int fitting = 256, highest = 0;
  for (int dy = -1; dy <= 1; ++dy) {
    for (int dx = -1; dx <= 1; ++dx) {
      const int x = cx + dx, y = cy + dy;
      if (x < 0 || y < 0 || x >= white->width || y >= white->height) continue;
      const int candidate = at(white, x, y);
      highest = std::max(highest, candidate);
      if (candidate >= WHITE_FIT_SHARE * level) fitting = std::min(fitting, candidate);
    }
  }
  return fitting <= 255 ? fitting : highest;
}

IplImage* flattenWith(const IplImage* grey, const WhiteEstimate& estimate) {
  const IplImage* white = estimate.white.get();
  ImageHandle spread(cvCreateImage(cvGetSize(grey), IPL_DEPTH_8U, 1));
  cvResize(white, spread.get(), CV_INTER_LINEAR);
  ImageHandle flat(cvCreateImage(cvGetSize(grey), IPL_DEPTH_8U, 1));
  for (int y = 0; y < grey->height; ++y) {
    const int cy = std::min(y / REDUCTION, white->height - 1);
    for (int x = 0; x < grey->width; ++x) {
      const int cx = std::min(x / REDUCTION, white->width - 1);
      const int level = at(grey, x, y);
      const bool evenLight = at(estimate.lowest.get(), cx, cy) >= EVEN_LIGHT_SHARE * at(estimate.highest.get(), cx, cy);
      const int paper = std::max(1, evenLight ? at(spread.get(), x, y) : whiteNearStep(white, cx, cy, level));
      flat->imageData[y * flat->widthStep + x] = static_cast<char>(std::min(255, 255 * level / paper));
    }
  }
  return flat.release();
}

// The decoder's own locator on the flattened picture at the global pass's level, its leftovers kept as
// a pass keeps them; nothing is decoded here, the second look's leads decode under their guards.
bool locateIn(IplImage* flat, PassLeftovers* pass) {
  SymbolDecoderHandle ctx = newSymbolDecoder();
  if (ctx == nullptr) return false;
  ctx->storage = cvCreateMemStorage(0);
  locateCandidates(ctx.get(), flat, SCAN_GLOBAL_PASS.threshold, SCAN_GLOBAL_PASS.flags);
  pass->release();
  pass->binary = ctx->binary;
  pass->storage = ctx->storage;
  pass->contours = ctx->contours;
  pass->polygons = ctx->polygons;
  pass->located.assign(ctx->candidates, ctx->candidates + ctx->candidateCount);
  pass->adaptiveMode = ctx->adaptiveMode;
  ctx->binary = nullptr;
  ctx->storage = nullptr;
  return true;
}

}  // namespace

bool hasShadowEdgeNearInk(const IplImage* grey) {
  WhiteEstimate estimate;
  return estimateWhite(grey, &estimate) && shadowEdgeNearInk(estimate);
}

IplImage* flattenLight(const IplImage* grey) {
  WhiteEstimate estimate;
  if (!estimateWhite(grey, &estimate)) return nullptr;
  return flattenWith(grey, estimate);
}

ScanStep readInFlattenedLight(const IplImage* grey, PassLeftovers* /*passes*/, int /*passCount*/,
                              std::vector<DecodedSymbol>* symbols, std::size_t maxSymbols) {
  if (symbols->size() >= maxSymbols) return SCAN_NOTHING_READ;
  WhiteEstimate estimate;
  if (!estimateWhite(grey, &estimate) || !shadowEdgeNearInk(estimate)) return SCAN_NOTHING_READ;
  const ImageHandle flat(flattenWith(grey, estimate));
  PassLeftovers pass;
  if (!locateIn(flat.get(), &pass)) return SCAN_NOTHING_READ;
  // The second look skips what lies in the symbols handed in, so it sees those read before this look.
  std::vector<DecodedSymbol> found = *symbols;
  if (secondLook(flat.get(), &pass, 1, &found, maxSymbols) == SCAN_NOTHING_READ) return SCAN_NOTHING_READ;
  symbols->swap(found);
  return SCAN_READ_IN_FLATTENED_LIGHT;
}
