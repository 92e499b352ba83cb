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

// One connected component (dark region or background area), labelled in raster order of its first run.
struct Component {
  std::int32_t root;       // union-find link; a root points at itself and is its component's first label
  std::int32_t enclosing;  // label of the component left of the first run: the one that surrounds it
  std::int32_t minX, maxX, minY, maxY;
  bool dark;
};

// The runs of one image, row by row. In every row the frame pixel makes the first run background, and
// colours alternate, so run k of a row is dark when k is odd.
struct RunTable {
  std::vector<std::int32_t> starts;
  std::vector<std::int32_t> labels;
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
// Returns whether the binary image has a dark pixel off its frame.
bool filterSinglePixels(const IplImage* binary, IplImage* cleaned) {
  const int width = binary->width;
  const int height = binary->height;
  std::vector<std::uint8_t> rows(3 * static_cast<size_t>(width));
  std::uint8_t* above = rows.data();
  std::uint8_t* current = above + width;
  std::uint8_t* below = current + width;
  loadRow(binary, 0, current);
  loadRow(binary, 1, below);
  std::uint8_t anyDark = 0;
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
  }
  return anyDark != 0;
}

// Labels the runs of the cleaned image in one forward pass: dark runs join dark runs of the row above
// that touch them at a corner or side (8-connected), background runs join background runs above that
// share a column (4-connected).
void labelRuns(const IplImage* image, RunTable* table, std::vector<Component>* components) {
  const int width = image->width;
  const int height = image->height;
  table->rowFirst.assign(1, 0);
  // Row 0 is all frame: one background run, the outside.
  table->starts.push_back(0);
  table->labels.push_back(OUTSIDE_LABEL);
  components->push_back(Component{OUTSIDE_LABEL, -1, 0, width - 1, 0, 0, false});
  table->rowFirst.push_back(1);

  for (int y = 1; y < height; ++y) {
    const auto* row = reinterpret_cast<const std::uint8_t*>(image->imageData + y * image->widthStep);
    const std::int32_t previousFirst = table->rowFirst[y - 1];
    const std::int32_t previousEnd = table->rowFirst[y];
    std::int32_t above = previousFirst;  // first run of the row above that may still touch
    const std::int32_t rowStart = static_cast<std::int32_t>(table->starts.size());
    int x = 0;
    for (std::int32_t k = 0; x < width; ++k) {
      const std::uint8_t colour = row[x];
      const int start = x;
      while (x < width && row[x] == colour) ++x;
      const int end = x;
      const int reach = colour != 0 ? 1 : 0;  // dark runs also touch diagonally
      const int low = start - reach, high = end + reach;
      auto aboveEnd = [&](std::int32_t j) { return j + 1 < previousEnd ? table->starts[j + 1] : width; };
      while (above < previousEnd && aboveEnd(above) <= low) ++above;
      std::int32_t label = -1;
      // Runs of the same colour sit two apart; start from the first of this run's colour.
      std::int32_t j = above;
      if (((j - previousFirst) & 1) != (k & 1)) ++j;
      for (; j < previousEnd && table->starts[j] < high; j += 2) {
        label = label < 0 ? findRoot(*components, table->labels[j])
                          : joinComponents(*components, label, table->labels[j]);
      }
      if (label < 0) {
        label = static_cast<std::int32_t>(components->size());
        const std::int32_t enclosing = table->labels[rowStart + k - 1];  // k > 0: run 0 always joins above
        components->push_back(Component{label, enclosing, start, end - 1, y, y, colour != 0});
      } else {
        Component& component = (*components)[label];
        component.minX = std::min(component.minX, start);
        component.maxX = std::max(component.maxX, end - 1);
        component.maxY = y;
      }
      table->starts.push_back(start);
      table->labels.push_back(label);
    }
    table->rowFirst.push_back(static_cast<std::int32_t>(table->starts.size()));
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
  const int width = image->width;
  const int height = image->height;
  for (int y = 1; y < height - 1; ++y) {
    auto* row = reinterpret_cast<std::uint8_t*>(image->imageData + y * image->widthStep);
    const std::int32_t first = table.rowFirst[y];
    const std::int32_t end = table.rowFirst[y + 1];
    for (std::int32_t k = first; k < end; ++k) {
      const std::uint8_t value = values[table.labels[k]];
      const std::uint8_t colour = ((k - first) & 1) ? 255 : 0;
      if (value == colour) continue;
      const std::int32_t runEnd = k + 1 < end ? table.starts[k + 1] : width;
      std::memset(row + table.starts[k], value, runEnd - table.starts[k]);
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
  const bool anyDark = filterSinglePixels(binary, cleaned);
  if (!anyDark) return false;
  RunTable table;
  std::vector<Component> components;
  labelRuns(cleaned, &table, &components);
  const std::vector<std::uint8_t> values = decideValues(components);
  paintRuns(table, values, cleaned);
  return true;
}
