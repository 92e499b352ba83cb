// Dot symbols: fields of small round blobs, surveyed in a pass's binary image and measured in the grey
// picture, joined into modules by a grey minimum filter about as wide as the gap between the dots, and
// read in a region image of their own.
#include "decoder/second_look/dot_symbols.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include <opencv2/imgproc/imgproc_c.h>

#include "decoder/cv_handles.h"
#include "decoder/decoder_internal.h"
#include "decoder/second_look/second_look.h"

namespace {

// The cheap survey: dark runs on every third row of the binary image, counted per tile.
constexpr int DOT_TILE = 16;  // pixels a side
constexpr int DOT_ROW_STEP = 3;
constexpr int DOT_MIN_RUN = 2;  // a dot of the smallest marks (4-pixel modules) is 2 to 3 pixels across
constexpr int DOT_MAX_RUN = 16;
constexpr int DOT_HOT_TILE_RUNS = 3;       // short dark runs that make a tile worth a closer look
constexpr int DOT_MIN_TILE_CONTRAST = 48;  // grey levels between a tile's darkest and lightest sample
constexpr int DOT_MIN_FIELD_TILES = 3;
constexpr int DOT_TILE_REACH = 2;  // tiles between two of one group

// The close look: blobs in the field's box, the grey thresholded there.
constexpr int DOT_MIN_WIDTH = 2;  // box sides
constexpr int DOT_MAX_WIDTH = 20;
constexpr double DOT_MAX_ELONGATION = 1.5;  // longer side over shorter, beyond a pixel of rounding
constexpr double DOT_MIN_FILL = 0.5;        // a 3 x 3 plus, the smallest dot's shape, fills half
constexpr double DOT_SIZE_LOW = 0.7;        // of the median dot width: a dot of the field's own size
constexpr double DOT_SIZE_HIGH = 1.4;
constexpr int DOT_MIN_COUNT = 20;                // the smallest symbol (10 x 10) has about fifty dark modules
constexpr double DOT_MIN_SHARE_OF_BLOBS = 0.35;  // dots merged at the level make most of the rest
constexpr int DOT_MAX_COUNT = 2500;              // bounds the nearest-neighbour search
constexpr double DOT_MIN_PITCH = 0.9;            // of the dot width
// Dots of about half their module and wider; square modules alone in a printed code lie two modules or
// more from the next.
constexpr double DOT_MAX_PITCH = 1.9;
// Dots with a neighbour at about the pitch (a dark module beside another along a row or column).
constexpr double DOT_NEIGHBOUR_LOW = 0.8, DOT_NEIGHBOUR_HIGH = 1.25;
constexpr double DOT_MIN_GRID_SHARE = 0.4;
constexpr double DOT_PARTING_LEVEL = 0.3;  // of the way from ink to paper

// The read: room for the quiet zone and the finder's growth under the filter, and how many fields a frame
// may cost.
constexpr double DOT_MARGIN_PITCHES = 3.0;
constexpr int DOT_MAX_GROUP_LOOKS = 2;
constexpr int DOT_MAX_FIELDS = DOT_MAX_GROUP_LOOKS;
constexpr int DOT_SAFE_KERNEL = 3;               // joins a gap of up to two pixels and eats no light module of 4 pixels
constexpr double DOT_MIN_PITCH_FOR_WIDER = 5.0;  // pixels: a 5-pixel kernel leaves a light module a pixel

struct Blob {
  double x, y;  // centre of its box, pixels
  int width, height;
  double fill;    // outline area over the inner box's: a pen stroke fills little of its box
  bool withHole;  // a letter's bowl, a ring
};

struct TileSurvey {
  int columns = 0, rows = 0;
  std::vector<int> dotRuns;
};

// Short dark runs (a dot's chord) per tile; a light stretch is skipped eight bytes at a time.
TileSurvey surveyDotRuns(const IplImage* binary) {
  TileSurvey survey;
  survey.columns = (binary->width + DOT_TILE - 1) / DOT_TILE;
  survey.rows = (binary->height + DOT_TILE - 1) / DOT_TILE;
  survey.dotRuns.assign(static_cast<std::size_t>(survey.columns) * survey.rows, 0);
  const int width = binary->width;
  for (int y = 1; y < binary->height; y += DOT_ROW_STEP) {
    const auto* row = reinterpret_cast<const std::uint8_t*>(binary->imageData + y * binary->widthStep);
    int* tileRow = &survey.dotRuns[static_cast<std::size_t>(y / DOT_TILE) * survey.columns];
    int x = 0;
    while (x < width) {
      std::uint64_t eight;
      while (x + 8 <= width && (std::memcpy(&eight, row + x, 8), eight == 0)) x += 8;
      while (x < width && row[x] == 0) ++x;
      if (x >= width) break;
      const int start = x;
      while (x < width && row[x] != 0) ++x;
      const int length = x - start;
      // A run cut by the frame's edge may be anything.
      if (length >= DOT_MIN_RUN && length <= DOT_MAX_RUN && start > 0 && x < width)
        ++tileRow[(start + x) / 2 / DOT_TILE];
    }
  }
  return survey;
}

// Darkest to lightest grey on two rows of one tile: a field of noise specks has little.
int tileContrast(const IplImage* grey, int column, int row) {
  const int x0 = column * DOT_TILE, x1 = std::min(grey->width, x0 + DOT_TILE);
  const int y0 = row * DOT_TILE, y1 = std::min(grey->height, y0 + DOT_TILE);
  int low = 255, high = 0;
  for (int y = y0 + DOT_TILE / 4; y < y1; y += DOT_TILE / 2) {
    const auto* line = reinterpret_cast<const std::uint8_t*>(grey->imageData + y * grey->widthStep);
    for (int x = x0; x < x1; ++x) {
      low = std::min<int>(low, line[x]);
      high = std::max<int>(high, line[x]);
    }
  }
  return high - low;
}

// Groups of hot tiles, each as its box in pixels with its tile count. A tile joins a group across one
// cold tile: on large dots the sparse survey leaves some tiles of a symbol cold.
struct TileGroup {
  CvRect box;
  int tiles;
};
std::vector<TileGroup> hotTileGroups(const TileSurvey& survey, const IplImage* grey) {
  std::vector<std::uint8_t> hot(survey.dotRuns.size(), 0);
  for (int r = 0; r < survey.rows; ++r) {
    for (int c = 0; c < survey.columns; ++c) {
      const std::size_t i = static_cast<std::size_t>(r) * survey.columns + c;
      hot[i] = survey.dotRuns[i] >= DOT_HOT_TILE_RUNS && tileContrast(grey, c, r) >= DOT_MIN_TILE_CONTRAST ? 1 : 0;
    }
  }
  std::vector<TileGroup> groups;
  std::vector<int> stack;
  for (std::size_t seed = 0; seed < hot.size(); ++seed) {
    if (hot[seed] != 1) continue;
    int left = survey.columns, top = survey.rows, right = -1, bottom = -1, tiles = 0;
    hot[seed] = 2;
    stack.assign(1, static_cast<int>(seed));
    while (!stack.empty()) {
      const int i = stack.back();
      stack.pop_back();
      const int c = i % survey.columns, r = i / survey.columns;
      ++tiles;
      left = std::min(left, c), right = std::max(right, c), top = std::min(top, r), bottom = std::max(bottom, r);
      for (int dr = -DOT_TILE_REACH; dr <= DOT_TILE_REACH; ++dr) {
        for (int dc = -DOT_TILE_REACH; dc <= DOT_TILE_REACH; ++dc) {
          const int nc = c + dc, nr = r + dr;
          if (nc < 0 || nr < 0 || nc >= survey.columns || nr >= survey.rows) continue;
          const int n = nr * survey.columns + nc;
          if (hot[n] != 1) continue;
          hot[n] = 2;
          stack.push_back(n);
        }
      }
    }
    if (tiles < DOT_MIN_FIELD_TILES) continue;
    // One tile of margin: a field's edge tiles hold few runs.
    const int x0 = std::max(0, (left - 1) * DOT_TILE), y0 = std::max(0, (top - 1) * DOT_TILE);
    const int x1 = std::min(grey->width, (right + 2) * DOT_TILE), y1 = std::min(grey->height, (bottom + 2) * DOT_TILE);
    groups.push_back({cvRect(x0, y0, x1 - x0, y1 - y0), tiles});
  }
  std::sort(groups.begin(), groups.end(), [](const TileGroup& a, const TileGroup& b) { return a.tiles > b.tiles; });
  return groups;
}

// The outer dark blobs inside box of the grey picture thresholded at level, in frame pixels.
std::vector<Blob> blobsIn(const IplImage* grey, CvRect box, int level) {
  ImageHandle dark(cvCreateImage(cvSize(box.width, box.height), IPL_DEPTH_8U, 1));
  CvMat stub, part;
  cvGetSubRect(cvGetMat(grey, &stub), &part, box);
  cvThreshold(&part, dark.get(), level, 255, CV_THRESH_BINARY_INV);
  StorageHandle storage(cvCreateMemStorage(0));
  CvSeq* first = nullptr;
  cvFindContours(dark.get(), storage.get(), &first, sizeof(CvContour), CV_RETR_CCOMP, CV_CHAIN_APPROX_SIMPLE,
                 cvPoint(box.x, box.y));
  std::vector<Blob> blobs;
  for (CvSeq* contour = first; contour != nullptr; contour = contour->h_next) {
    const CvRect r = reinterpret_cast<CvContour*>(contour)->rect;
    // The outline runs through the edge pixels' centres, so a filled disc covers about pi / 4 of the
    // box a pixel smaller all round.
    const double inner = static_cast<double>(r.width - 1) * (r.height - 1);
    const double fill = inner > 0.0 ? std::fabs(cvContourArea(contour)) / inner : 0.0;
    blobs.push_back({r.x + r.width / 2.0, r.y + r.height / 2.0, r.width, r.height, fill, contour->v_next != nullptr});
  }
  return blobs;
}

// The grey levels a twentieth of the box's pixels lie below and above: ink and paper. Every other row
// tells them as well as all.
void inkAndPaper(const IplImage* grey, CvRect box, int* ink, int* paper) {
  int histogram[256] = {};
  int counted = 0;
  for (int y = box.y; y < box.y + box.height; y += 2) {
    const auto* line = reinterpret_cast<const std::uint8_t*>(grey->imageData + y * grey->widthStep);
    for (int x = box.x; x < box.x + box.width; ++x) ++histogram[line[x]];
    counted += box.width;
  }
  const int tail = counted / 20;
  int below = 0, level = 0;
  while (level < 255 && below + histogram[level] <= tail) below += histogram[level++];
  *ink = level;
  int above = 0;
  level = 255;
  while (level > 0 && above + histogram[level] <= tail) above += histogram[level--];
  *paper = level;
}

bool roughlyRound(const Blob& blob) {
  const int shorter = std::min(blob.width, blob.height), longer = std::max(blob.width, blob.height);
  return shorter >= DOT_MIN_WIDTH && longer <= DOT_MAX_WIDTH && longer <= DOT_MAX_ELONGATION * shorter + 1.0 &&
         blob.fill >= DOT_MIN_FILL && !blob.withHole;
}

// A dot's box takes in the pixels its edge only grazes: about a pixel wider than the dot.
double widthOf(const Blob& blob) { return 0.5 * (blob.width + blob.height) - 1.0; }

double medianOf(std::vector<double> values) {
  const std::size_t middle = values.size() / 2;
  std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(middle), values.end());
  return values[middle];
}

// The field within one tile group, when its blobs at one level are dots of one size on a grid.
// widthAdded: what the level takes off each dot's width.
bool measureFieldAt(const std::vector<Blob>& blobs, const IplImage* grey, double widthAdded, DotField* field) {
  std::vector<double> widths;
  for (const Blob& blob : blobs) {
    if (roughlyRound(blob)) widths.push_back(widthOf(blob));
  }
  if (static_cast<int>(widths.size()) < DOT_MIN_COUNT) return false;
  const double dotWidth = medianOf(widths);
  std::vector<Blob> dots;
  int blobCount = 0;
  for (const Blob& blob : blobs) {
    if (blob.width * blob.height < DOT_MIN_WIDTH * DOT_MIN_WIDTH) continue;  // specks of noise
    ++blobCount;
    const double width = widthOf(blob);
    if (roughlyRound(blob) && width >= DOT_SIZE_LOW * dotWidth && width <= DOT_SIZE_HIGH * dotWidth)
      dots.push_back(blob);
  }
  const int dotCount = static_cast<int>(dots.size());
  if (dotCount < DOT_MIN_COUNT || dotCount > DOT_MAX_COUNT || dotCount < DOT_MIN_SHARE_OF_BLOBS * blobCount) {
    return false;
  }
  std::vector<double> nearest(dots.size());
  for (std::size_t i = 0; i < dots.size(); ++i) {
    double best = 1e300;
    for (std::size_t j = 0; j < dots.size(); ++j) {
      if (j == i) continue;
      const double dx = dots[j].x - dots[i].x, dy = dots[j].y - dots[i].y;
      best = std::min(best, dx * dx + dy * dy);
    }
    nearest[i] = std::sqrt(best);
  }
  const double pitch = medianOf(nearest);
  const double trueWidth = dotWidth + widthAdded;
  if (pitch < DOT_MIN_PITCH * trueWidth || pitch > DOT_MAX_PITCH * trueWidth) return false;
  const auto onGrid = std::count_if(nearest.begin(), nearest.end(), [pitch](double d) {
    return d >= DOT_NEIGHBOUR_LOW * pitch && d <= DOT_NEIGHBOUR_HIGH * pitch;
  });
  if (onGrid < DOT_MIN_GRID_SHARE * dotCount) return false;

  int left = grey->width, top = grey->height, right = 0, bottom = 0;
  for (const Blob& dot : dots) {
    left = std::min(left, static_cast<int>(dot.x - dot.width / 2.0));
    top = std::min(top, static_cast<int>(dot.y - dot.height / 2.0));
    right = std::max(right, static_cast<int>(std::ceil(dot.x + dot.width / 2.0)));
    bottom = std::max(bottom, static_cast<int>(std::ceil(dot.y + dot.height / 2.0)));
  }
  field->box = cvRect(left, top, right - left, bottom - top);
  field->dotWidth = trueWidth;
  field->pitch = pitch;
  field->dotCount = dotCount;
  return true;
}

// Halfway between ink and paper the dots show at their size; where blur has merged close dots there, a
// level nearer the ink parts them, and the dots, which show a pixel narrower, are taken a pixel wider.
bool measureField(const IplImage* grey, CvRect box, DotField* field) {
  int ink = 0, paper = 0;
  inkAndPaper(grey, box, &ink, &paper);
  if (paper - ink < DOT_MIN_TILE_CONTRAST) return false;
  const std::vector<Blob> halfway = blobsIn(grey, box, (ink + paper) / 2);
  if (measureFieldAt(halfway, grey, 0.0, field)) return true;
  // Merged dots leave some alone (a corner of the finder, a lone data module) or one blob across much
  // of the box; print and clutter seldom either, and the second threshold would double their cost.
  const auto alone = std::count_if(halfway.begin(), halfway.end(), roughlyRound);
  const bool spread = std::any_of(halfway.begin(), halfway.end(), [&box](const Blob& blob) {
    return 2 * blob.width >= box.width && 2 * blob.height >= box.height;
  });
  if (alone < DOT_MIN_COUNT / 2 && !spread) return false;
  const int partingLevel = static_cast<int>(ink + (paper - ink) * DOT_PARTING_LEVEL);
  return measureFieldAt(blobsIn(grey, box, partingLevel), grey, 1.0, field);
}

// The odd square kernel whose half-width closes the gap from both sides. The nearest of a dot's
// neighbours, its centre a box's, tends to look nearer than the pitch, so a gap of two pixels (and not
// only one over two) takes the next kernel.
int kernelFor(const DotField& field) {
  const double gap = std::max(0.0, field.pitch - field.dotWidth);
  return 2 * static_cast<int>(std::floor(gap / 2.0 + 1.0)) + 1;
}

CvRect regionAround(const DotField& field, const IplImage* grey) {
  const int margin = static_cast<int>(std::ceil(DOT_MARGIN_PITCHES * field.pitch)) + kernelFor(field);
  const int x0 = std::max(0, field.box.x - margin), y0 = std::max(0, field.box.y - margin);
  const int x1 = std::min(grey->width, field.box.x + field.box.width + margin);
  const int y1 = std::min(grey->height, field.box.y + field.box.height + margin);
  return cvRect(x0, y0, x1 - x0, y1 - y0);
}

// Both passes' locators on the joined region, then the second look on what they left: the passes' own
// reads are dropped, for only the second look's reads pass its guards.
std::vector<DecodedSymbol> readRegion(IplImage* region, std::size_t maxSymbols) {
  constexpr ScanPass PASSES[] = {SCAN_GLOBAL_PASS, SCAN_ADAPTIVE_PASS};
  constexpr int PASS_COUNT = 2;
  PassLeftovers leftovers[PASS_COUNT];
  for (int p = 0; p < PASS_COUNT; ++p) {
    runDecoder(region, PASSES[p].threshold, PASSES[p].flags, nullptr, nullptr, nullptr, nullptr, &leftovers[p]);
  }
  std::vector<DecodedSymbol> found;
  secondLook(region, leftovers, PASS_COUNT, &found, maxSymbols);
  return found;
}

}  // namespace

std::vector<DotField> findDotFields(const IplImage* binary, const IplImage* grey, int maxFields) {
  std::vector<DotField> fields;
  if (binary == nullptr || grey == nullptr || binary->width != grey->width || binary->height != grey->height) {
    return fields;
  }
  const std::vector<TileGroup> groups = hotTileGroups(surveyDotRuns(binary), grey);
  // The largest groups only: a busy scene (print, clutter) has many, and each close look costs.
  const std::size_t looks = std::min(groups.size(), static_cast<std::size_t>(DOT_MAX_GROUP_LOOKS));

  for (std::size_t g = 0; g < looks && static_cast<int>(fields.size()) < maxFields; ++g) {
    const TileGroup& group = groups[g];
    DotField field;
    if (measureField(grey, group.box, &field)) fields.push_back(field);
  }
  return fields;
}

ScanStep readJoinedDots(const IplImage* grey, PassLeftovers* passes, int passCount, std::vector<DecodedSymbol>* symbols,
                        std::size_t maxSymbols) {
  // The survey takes the first pass's binary image that there is (the global one): the fields are
  // measured in grey, so its level matters little, and a second survey would double the cost.
  const IplImage* binary = nullptr;
  for (int p = 0; p < passCount && binary == nullptr; ++p) binary = passes[p].binary;
  const std::vector<DotField> fields = findDotFields(binary, grey, DOT_MAX_FIELDS);
  ScanStep firstStep = SCAN_NOTHING_READ;
  for (const DotField& field : fields) {
    if (symbols->size() >= maxSymbols) break;
    const CvPoint2D32f centre = {static_cast<float>(field.box.x + field.box.width / 2.0),
                                 static_cast<float>(field.box.y + field.box.height / 2.0)};
    if (liesInRead(centre, *symbols)) continue;
    const CvRect area = regionAround(field, grey);
    CvMat stub, part;
    cvGetSubRect(cvGetMat(grey, &stub), &part, area);
    ImageHandle joined(cvCreateImage(cvSize(area.width, area.height), IPL_DEPTH_8U, 1));
    // The kernel the field's gap asks for, then its smaller neighbour (or the larger one, where the
    // modules are wide enough that it eats no light module) in case the estimate was a step off.
    const int estimated = kernelFor(field);
    const int neighbour = estimated > DOT_SAFE_KERNEL ? estimated - 2 : estimated + 2;
    const int kernels[] = {estimated, neighbour};
    const int kernelCount = estimated > DOT_SAFE_KERNEL || field.pitch >= DOT_MIN_PITCH_FOR_WIDER ? 2 : 1;
    for (int k = 0; k < kernelCount; ++k) {
      // A 3 x 3 minimum taken n times is the minimum over a square 2n + 1 wide.
      cvErode(&part, joined.get(), nullptr, kernels[k] / 2);
      bool read = false;
      for (DecodedSymbol& symbol : readRegion(joined.get(), maxSymbols - symbols->size())) {
        for (CvPoint& corner : symbol.corners) corner = cvPoint(corner.x + area.x, corner.y + area.y);
        if (symbols->size() >= maxSymbols || liesInRead(symbolCentre(symbol), *symbols)) continue;
        symbols->push_back(std::move(symbol));
        read = true;
      }
      if (!read) continue;
      if (firstStep == SCAN_NOTHING_READ) firstStep = SCAN_READ_BY_JOINED_DOTS;
      break;
    }
  }
  return firstStep;
}
