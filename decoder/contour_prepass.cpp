// Cleaning before the contour search. Why the contours that survive are unchanged: a removed region
// or a filled hole lies wholly inside one border and touches no pixel of any other border; the border
// follower's neighbour search starts in the border's own background and stops at the first dark pixel,
// so it never reaches the changed pixels; and the scan meets the remaining borders in the same order.
#include "contour_prepass.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "stage_timing.h"

namespace {

// Positions are kept in 16 bits, which halves the tables on frames of a hundred thousand runs; larger
// images get the 1-pixel filter alone.
using Position = std::uint16_t;
constexpr int PREPASS_MAX_SIDE = 65535;

// One connected component (dark region or background area), labelled in raster order of its first run.
struct Component {
  std::int32_t root;       // union-find link; a root points at itself and is its component's first label
  std::int32_t enclosing;  // label of the component left of the first run: the one that surrounds it
  Position minX, maxX, minY, maxY;
  bool dark;
};

// The runs of one image, row by row. In every row the frame pixel makes the first run background, and
// colours alternate, so run k of a row is dark when k is odd. Each row's starts end with the width, so
// run k always ends where entry k + 1 starts.
struct RunTable {
  std::vector<Position> starts;
  std::vector<std::int32_t> labels;    // label of each run when it was met; the closing entry has none
  std::vector<std::int32_t> rowFirst;  // index of each row's first run; one entry more than rows
};

constexpr std::int32_t OUTSIDE_LABEL = 0;  // the background around everything, the first run of row 0

std::int32_t findRoot(std::vector<Component>& components, std::int32_t label) {
  while (components[label].root != label) {
    const std::int32_t up = components[components[label].root].root;
    components[label].root = up;  // path halving
    label = up;
  }
  return label;
}

// Joins two components; the earlier label stays the root, so a root is always its component's first run.
std::int32_t joinComponents(std::vector<Component>& components, std::int32_t a, std::int32_t b) {
  a = findRoot(components, a);
  b = findRoot(components, b);
  if (a == b) return a;
  if (b < a) std::swap(a, b);
  Component& kept = components[a];
  const Component& merged = components[b];
  kept.minX = std::min(kept.minX, merged.minX);
  kept.maxX = std::max(kept.maxX, merged.maxX);
  kept.minY = std::min(kept.minY, merged.minY);
  kept.maxY = std::max(kept.maxY, merged.maxY);
  components[b].root = a;
  return a;
}

// Copies row y of the binary image as 0/1 with the frame cleared.
void loadRow(const IplImage* binary, int y, std::uint8_t* row) {
  const int width = binary->width;
  if (y <= 0 || y >= binary->height - 1) {
    std::memset(row, 0, width);
    return;
  }
  const auto* source = reinterpret_cast<const std::uint8_t*>(binary->imageData + y * binary->widthStep);
  for (int x = 0; x < width; ++x) row[x] = source[x] != 0;
  row[0] = 0;
  row[width - 1] = 0;
}

// The 1-pixel filter: fills background pixels whose four side neighbours are dark, clears dark pixels
// with no dark pixel among their eight neighbours. Both are a one-pixel hole or region, which the
// region pass below would remove too; doing it here first spares that pass most of its runs.
struct FilterSummary {
  bool anyDark = false;    // the binary image has a dark pixel off its frame
  size_t runEntries = 0;   // runs of the cleaned image plus one closing entry per row
};

FilterSummary filterSinglePixels(const IplImage* binary, IplImage* cleaned) {
  const int width = binary->width;
  const int height = binary->height;
  std::vector<std::uint8_t> rows(3 * static_cast<size_t>(width));
  std::uint8_t* above = rows.data();
  std::uint8_t* current = above + width;
  std::uint8_t* below = current + width;
  loadRow(binary, 0, current);
  loadRow(binary, 1, below);
  std::uint8_t anyDark = 0;
  size_t changes = 0;
  for (int y = 0; y < height; ++y) {
    std::swap(above, current);
    std::swap(current, below);  // current is row y, above row y - 1
    loadRow(binary, y + 1, below);
    auto* out = reinterpret_cast<std::uint8_t*>(cleaned->imageData + y * cleaned->widthStep);
    if (y == 0 || y == height - 1) {
      std::memset(out, 0, width);
      continue;
    }
    out[0] = 0;
    out[width - 1] = 0;
    for (int x = 1; x < width - 1; ++x) {
      const unsigned centre = current[x];
      const unsigned sides = above[x] & below[x] & current[x - 1] & current[x + 1];
      const unsigned around = above[x - 1] | above[x] | above[x + 1] | current[x - 1] | current[x + 1] |
                              below[x - 1] | below[x] | below[x + 1];
      anyDark |= static_cast<std::uint8_t>(centre);
      const unsigned dark = (centre & around) | (sides & (centre ^ 1u));
      out[x] = static_cast<std::uint8_t>(0u - dark);  // 1 -> 255
    }
    unsigned rowChanges = 0;
    for (int x = 1; x < width; ++x) rowChanges += out[x] != out[x - 1];
    changes += rowChanges;
  }
  FilterSummary summary;
  summary.anyDark = anyDark != 0;
  summary.runEntries = changes + 2 * static_cast<size_t>(height);
  return summary;
}

// Writes the starts of the runs of one row, then the width, from `starts` on; returns the entries written.
// Runs are found eight pixels at a time: the first byte that differs from the run's colour ends it.
std::int32_t findRowRuns(const std::uint8_t* row, int width, Position* starts) {
  std::int32_t count = 0;
  std::uint64_t colour = 0;  // the frame pixel makes every row start light
  starts[count++] = 0;
  int x = 1;
  for (;;) {
    while (x + 8 <= width) {
      std::uint64_t word;
      std::memcpy(&word, row + x, sizeof(word));
      word ^= colour;
      if (word != 0) {
        x += __builtin_ctzll(word) >> 3;  // little-endian: the lowest set byte is the first pixel
        break;
      }
      x += 8;
    }
    while (x < width && row[x] == static_cast<std::uint8_t>(colour)) ++x;
    if (x >= width) break;
    starts[count++] = static_cast<Position>(x);
    colour = ~colour;
    ++x;
  }
  starts[count++] = static_cast<Position>(width);
  return count;
}

// Labels the runs of the cleaned image in one forward pass: dark runs join dark runs of the row above
// that touch them at a corner or side (8-connected), background runs join background runs above that
// share a column (4-connected).
void labelRuns(const IplImage* image, size_t runEntries, RunTable* table, std::vector<Component>* components) {
  const int width = image->width;
  const int height = image->height;
  table->starts.resize(runEntries);
  table->labels.resize(runEntries);
  table->rowFirst.resize(static_cast<size_t>(height) + 1);
  Position* starts = table->starts.data();
  std::int32_t* labels = table->labels.data();
  std::int32_t* rowFirst = table->rowFirst.data();
  // Row 0 is all frame: one background run, the outside.
  rowFirst[0] = 0;
  starts[0] = 0;
  starts[1] = static_cast<Position>(width);
  labels[0] = OUTSIDE_LABEL;
  rowFirst[1] = 2;
  // About one component for every six runs on camera frames: reserved so the table is not doubled past need.
  components->reserve(runEntries / 5 + 1);
  components->push_back(Component{OUTSIDE_LABEL, -1, 0, static_cast<Position>(width - 1), 0, 0, false});

  for (int y = 1; y < height; ++y) {
    const auto* row = reinterpret_cast<const std::uint8_t*>(image->imageData + y * image->widthStep);
    const std::int32_t aboveFirst = rowFirst[y - 1];
    const std::int32_t aboveLast = rowFirst[y] - 1;  // the closing entry of the row above
    const std::int32_t first = rowFirst[y];
    const std::int32_t entries = findRowRuns(row, width, starts + first);
    rowFirst[y + 1] = first + entries;
    std::int32_t above = aboveFirst;  // first run of the row above that may still touch
    for (std::int32_t k = 0; k + 1 < entries; ++k) {
      const int start = starts[first + k];
      const int end = starts[first + k + 1];
      const std::int32_t reach = k & 1;  // dark runs also touch diagonally
      const int low = start - reach, high = end + reach;
      while (starts[above + 1] <= low) ++above;
      // Runs of the same colour sit two apart; start from the first of this run's colour.
      std::int32_t j = above + (((above - aboveFirst) ^ k) & 1);
      std::int32_t label = -1;
      for (; j < aboveLast && starts[j] < high; j += 2) {
        label = label < 0 ? findRoot(*components, labels[j]) : joinComponents(*components, label, labels[j]);
      }
      if (label < 0) {
        label = static_cast<std::int32_t>(components->size());
        const std::int32_t enclosing = labels[first + k - 1];  // k > 0: run 0 always joins the row above
        components->push_back(Component{label, enclosing, static_cast<Position>(start), static_cast<Position>(end - 1),
                                        static_cast<Position>(y), static_cast<Position>(y), reach != 0});
      } else {
        Component& component = (*components)[label];
        component.minX = std::min(component.minX, static_cast<Position>(start));
        component.maxX = std::max(component.maxX, static_cast<Position>(end - 1));
        component.maxY = static_cast<Position>(y);
      }
      labels[first + k] = label;
    }
  }
}

// The value (0 or 255) each label's pixels get. Labels are visited in increasing order, and both a
// component's root and the component around it carry smaller labels, so theirs are known already.
std::vector<std::uint8_t> decideValues(std::vector<Component>& components) {
  const std::int32_t count = static_cast<std::int32_t>(components.size());
  std::vector<std::uint8_t> values(count, 0);
  std::vector<std::uint8_t> settled(count, 0);  // removed or filled: all inside follows it
  for (std::int32_t label = 0; label < count; ++label) {
    const std::int32_t root = findRoot(components, label);
    if (root != label) {
      values[label] = values[root];
      continue;
    }
    if (label == OUTSIDE_LABEL) continue;
    const Component& component = components[label];
    const std::int32_t around = findRoot(components, component.enclosing);
    if (settled[around]) {
      values[label] = values[around];
      settled[label] = 1;
      continue;
    }
    const int width = component.maxX - component.minX + 1;
    const int height = component.maxY - component.minY + 1;
    if (component.dark) {
      const bool small = width < PREPASS_MIN_REGION_EXTENT || height < PREPASS_MIN_REGION_EXTENT;
      values[label] = small ? 0 : 255;
      settled[label] = small;
    } else {
      const bool small = width < PREPASS_MIN_HOLE_EXTENT || height < PREPASS_MIN_HOLE_EXTENT;
      values[label] = small ? 255 : 0;
      settled[label] = small;
    }
  }
  return values;
}

// Rewrites every run whose component changes colour.
void paintRuns(const RunTable& table, const std::vector<std::uint8_t>& values, IplImage* image) {
  const int height = image->height;
  for (int y = 1; y < height - 1; ++y) {
    auto* row = reinterpret_cast<std::uint8_t*>(image->imageData + y * image->widthStep);
    const std::int32_t first = table.rowFirst[y];
    const std::int32_t last = table.rowFirst[y + 1] - 1;
    for (std::int32_t k = first; k < last; ++k) {
      const std::uint8_t value = values[table.labels[k]];
      const std::uint8_t colour = ((k - first) & 1) ? 255 : 0;
      if (value == colour) continue;
      std::memset(row + table.starts[k], value, table.starts[k + 1] - table.starts[k]);
    }
  }
}

}  // namespace

bool cleanContourInput(const IplImage* binary, IplImage* cleaned) {
  QUARNEL_STAGE_TIMER(STAGE_CONTOUR_PREPASS);
  const int width = binary->width;
  const int height = binary->height;
  if (width < 3 || height < 3) {
    // Every pixel is on the frame: nothing to trace.
    for (int y = 0; y < height; ++y) std::memset(cleaned->imageData + y * cleaned->widthStep, 0, width);
    return false;
  }
  const FilterSummary summary = filterSinglePixels(binary, cleaned);
  if (!summary.anyDark) return false;
  if (width > PREPASS_MAX_SIDE || height > PREPASS_MAX_SIDE) return true;
  RunTable table;
  std::vector<Component> components;
  labelRuns(cleaned, summary.runEntries, &table, &components);
  const std::vector<std::uint8_t> values = decideValues(components);
  paintRuns(table, values, cleaned);
  return true;
}
