// Module grid and sampling: lays straight grid lines over an oriented candidate, samples each cell with
// a cone-weighted disc and thresholds the values into the module matrix.
#ifndef QUARNEL_DECODER_GRID_H_
#define QUARNEL_DECODER_GRID_H_

#include <cstdint>
#include <vector>

#include <opencv2/core/core_c.h>

#include "decoder/geometry.h"
#include "decoder/runs.h"
#include "decoder/symbol_decoder.h"
#include "decoder/symbol_size.h"

// Status codes of sampleSymbol.
enum SampleStatus {
  SAMPLE_STATUS_OK = 0,
  SAMPLE_STATUS_BAD_SIZE = 3,        // the timing edges give no ECC 200 size
  SAMPLE_STATUS_NO_DARK_CORNER = 4,  // a walk from the timing corner met no dark pixel
  SAMPLE_STATUS_SAMPLING_FAILED = 5,
  SAMPLE_STATUS_UNREADABLE = 6,    // the data decoder could not read the module matrix
  SAMPLE_STATUS_DOES_NOT_FIT = 7,  // decoded, but the message does not fit the text field
};

// Status codes of sampleModules.
enum SampleModulesStatus {
  SAMPLE_MODULES_OK = 0,
  SAMPLE_MODULES_OUTSIDE = 2,   // cell corner off the sane range, or an empty window
  SAMPLE_MODULES_TOO_WIDE = 3,  // disc as wide as the image, or past its right edge
};

// Cell corners must lie within this x range; y is not bounded.
constexpr float GRID_MIN_CORNER_X = -300.0f;
constexpr float GRID_MAX_CORNER_X = 10000.0f;

constexpr float MODULE_LEVEL = 0.5f;

// The symbol without its top timing row and right timing column: columns - 1 by rows - 1 cells.
struct ModuleGrid {
  int columns = 0;                  // W
  int rows = 0;                     // H
  CvPoint2D32f corners[4] = {};     // top-left, top-right, bottom-right, bottom-left
  EdgeLine borders[4] = {};         // top (0 -> 1), right (1 -> 2), bottom (2 -> 3), left (3 -> 0)
  std::vector<EdgeLine> gridLines;  // W - 1 column boundaries left to right, then H - 1 row boundaries top down
  std::vector<float> moduleValues;  // cell (i, j) at i * W + j: share of dark by weight
};

constexpr int MODULE_MATRIX_SIDE = 144;
constexpr int MODULE_MATRIX_CAPACITY = MODULE_MATRIX_SIDE * MODULE_MATRIX_SIDE;

// One byte per module, 1 dark and 0 light, rows x columns with row stride `columns`, upright (finder on
// the left and bottom). Row 0 lies just below the top timing row, column columns - 1 just left of the
// right timing column. Bytes past rows * columns stay 0.
struct ModuleMatrix {
  int columns = 0;
  int rows = 0;
  std::uint8_t modules[MODULE_MATRIX_CAPACITY] = {};
};

// Walks along line from (startX, startY) towards the limit one unit step of its major axis at a time,
// not looking at the start itself, and returns the first point whose pixel (rounded half to even) is
// dark (255 or 128), or (-1, -1) when the walk passes the limit first.
CvPoint2D32f walkToDark(const IplImage* image, const EdgeLine& line, float startX, float startY, float limitX,
                        float limitY);

// Copies corners into grid, builds its borders and lays its inner boundaries: column boundaries spaced
// along the top edge by columnModel and along the bottom edge by bottomModel, row boundaries along the
// right edge by rowModel and the left edge by leftModel (row models count from the bottom).
void buildGridLines(const CvPoint2D32f corners[4], ModuleGrid* grid, const RunModel& columnModel,
                    const RunModel& rowModel, const RunModel& leftModel, const RunModel& bottomModel);

// Fills grid->moduleValues from image. SAMPLE_MODULES_OK, _OUTSIDE or _TOO_WIDE.
int sampleModules(ModuleGrid* grid, const IplImage* image);

// matrix = 1 where the module value is strictly above level.
void thresholdModules(const ModuleGrid& grid, float level, ModuleMatrix* matrix);

// Sizes and samples the oriented candidates[index] in ctx->workImage up to the module matrix; *size gets
// the full symbol size. The candidate's corners are pulled in to the grid corners.
int sampleSymbolMatrix(SymbolDecoder* ctx, int index, ModuleMatrix* matrix, SymbolSize* size);

// The sampling stage of candidates[index]: sampleSymbolMatrix, then the data decoding and the append of
// the result (appendSymbol). SAMPLE_STATUS_OK when a symbol was appended.
int sampleSymbol(SymbolDecoder* ctx, int index);

#endif  // QUARNEL_DECODER_GRID_H_
