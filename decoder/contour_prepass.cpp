// Cleaning before the contour search. Why the contours that survive are unchanged: a removed region
// or a filled hole lies wholly inside one border and touches no pixel of any other border; the border
// follower's neighbour search starts in the border's own background and stops at the first dark pixel,
// so it never reaches the changed pixels; and the scan meets the remaining borders in the same order.
//
// Each row is held as bits, 64 pixels to a word, so the 1-pixel filter, the search for run ends and the
// writing of the cleaned rows cost a few word operations per 64 pixels. The runs are then found and labelled from the rows of bits, the runs of the components
// that change colour are inverted there, and the bits are written out as bytes once.
#include "decoder/contour_prepass.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "decoder/stage_timing.h"

namespace {

// Positions are kept in 16 bits, which halves the tables on frames of a hundred thousand runs; larger
// images get the 1-pixel filter alone.
using Position = std::uint16_t;
constexpr int PREPASS_MAX_SIDE = 65535;

using Word = std::uint64_t;
constexpr int WORD_BITS = 64;

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
// The tables are left uninitialised: every entry read was written first, and filling a hundred
// thousand entries costs more than labelling them.
struct RunTable {
  std::unique_ptr<Position[]> starts;
  std::unique_ptr<std::int32_t[]> labels;    // label of each run when it was met; the closing entry has none
  std::unique_ptr<std::int32_t[]> rowFirst;  // index of each row's first run; one entry more than rows
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

// Eight bytes to eight bits, bit i set when byte i is nonzero.
unsigned packNonzeroBytes(Word bytes) {
  constexpr Word LOW7 = 0x7F7F7F7F7F7F7F7FULL;
  const Word high = (((bytes & LOW7) + LOW7) | bytes) & ~LOW7;  // each byte's top bit: the byte is nonzero
  return static_cast<unsigned>(((high >> 7) * 0x0102040810204080ULL) >> 56);
}

// Row y of the binary image as bits (nonzero dark), with the frame cleared and the bits past the width
// zero. Rows 0 and height - 1 are all frame.
void loadRowBits(const IplImage* binary, int y, Word* bits, int words) {
  std::fill(bits, bits + words, Word{0});
  const int width = binary->width;
  if (y <= 0 || y >= binary->height - 1) return;
  const auto* source = reinterpret_cast<const std::uint8_t*>(binary->imageData + y * binary->widthStep);
  int x = 0;
  for (; x + 8 <= width; x += 8) {
    Word bytes;
    std::memcpy(&bytes, source + x, sizeof(bytes));
    bits[x / WORD_BITS] |= Word{packNonzeroBytes(bytes)} << (x % WORD_BITS);
  }
  for (; x < width; ++x) bits[x / WORD_BITS] |= Word{source[x] != 0} << (x % WORD_BITS);
  bits[0] &= ~Word{1};
  bits[(width - 1) / WORD_BITS] &= ~(Word{1} << ((width - 1) % WORD_BITS));
}

// Bit i of the result is pixel i - 1 (left neighbour) or i + 1 (right neighbour) of the row.
Word leftNeighbours(const Word* bits, int i) { return (bits[i] << 1) | (i > 0 ? bits[i - 1] >> 63 : 0); }
Word rightNeighbours(const Word* bits, int i, int words) {
  return (bits[i] >> 1) | (i + 1 < words ? bits[i + 1] << 63 : 0);
}

// The 1-pixel filter on one row: fills background pixels whose four side neighbours are dark, clears
// dark pixels with no dark pixel among their eight neighbours. Both are a one-pixel hole or region,
// which the region pass would remove too; doing it here first spares that pass most of its runs.
void filterRowBits(const Word* above, const Word* current, const Word* below, int words, Word* out) {
  for (int i = 0; i < words; ++i) {
    const Word left = leftNeighbours(current, i);
    const Word right = rightNeighbours(current, i, words);
    const Word sides = above[i] & below[i] & left & right;
    const Word around = leftNeighbours(above, i) | above[i] | rightNeighbours(above, i, words) | left | right |
                        leftNeighbours(below, i) | below[i] | rightNeighbours(below, i, words);
    out[i] = (current[i] & around) | (sides & ~current[i]);
  }
}

// Eight bits to eight bytes of 0 or 255.
struct ByteSpread {
  Word bytes[256];
  constexpr ByteSpread() : bytes() {
    for (unsigned v = 0; v < 256; ++v) {
      for (unsigned b = 0; b < 8; ++b) {
        if (v & (1u << b)) bytes[v] |= Word{0xFF} << (8 * b);
      }
    }
  }
};
constexpr ByteSpread BYTE_SPREAD;

void storeRowBytes(const Word* bits, int width, std::uint8_t* row) {
  int x = 0;
  for (; x + 8 <= width; x += 8) {
    const unsigned octet = static_cast<unsigned>(bits[x / WORD_BITS] >> (x % WORD_BITS)) & 0xFF;
    std::memcpy(row + x, &BYTE_SPREAD.bytes[octet], 8);
  }
  for (; x < width; ++x) row[x] = ((bits[x / WORD_BITS] >> (x % WORD_BITS)) & 1) ? 255 : 0;
}

// Writes the starts of the runs of one row, then the width, from `starts` on; returns the entries
// written. A run starts wherever a pixel differs from its left neighbour; the frame pixels are light,
// so the first run is background and no run starts past the width.
std::int32_t findRowRuns(const Word* bits, int words, int width, Position* starts) {
  std::int32_t count = 0;
  starts[count++] = 0;
  for (int i = 0; i < words; ++i) {
    Word changes = bits[i] ^ leftNeighbours(bits, i);
    const int base = i * WORD_BITS;
    while (changes != 0) {
      starts[count++] = static_cast<Position>(base + __builtin_ctzll(changes));
      changes &= changes - 1;
    }
  }
  starts[count++] = static_cast<Position>(width);
  return count;
}

// Labels the runs of row y (already in the table from `first` on, `entries` of them with the closing
// one): dark runs join dark runs of the row above that touch them at a corner or side (8-connected),
// background runs join background runs above that share a column (4-connected).
void labelRowRuns(RunTable* table, int y, std::vector<Component>* components) {
  Position* starts = table->starts.get();
  std::int32_t* labels = table->labels.get();
  const std::int32_t aboveFirst = table->rowFirst[y - 1];
  const std::int32_t aboveLast = table->rowFirst[y] - 1;  // the closing entry of the row above
  const std::int32_t first = table->rowFirst[y];
  const std::int32_t entries = table->rowFirst[y + 1] - first;
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

// The entries one row adds to the run table: a start for each run and the closing width.
size_t countRowEntries(const Word* bits, int words) {
  size_t changes = 0;
  for (int i = 0; i < words; ++i) changes += __builtin_popcountll(bits[i] ^ leftNeighbours(bits, i));
  return changes + 2;
}

// Inverts pixels [start, end) of a row of bits: a run of one colour takes the other.
void invertBitRange(Word* bits, int start, int end) {
  const int firstWord = start / WORD_BITS;
  const int lastWord = (end - 1) / WORD_BITS;
  const Word firstMask = ~Word{0} << (start % WORD_BITS);
  const Word lastMask = ~Word{0} >> (WORD_BITS - 1 - (end - 1) % WORD_BITS);
  if (firstWord == lastWord) {
    bits[firstWord] ^= firstMask & lastMask;
    return;
  }
  bits[firstWord] ^= firstMask;
  for (int i = firstWord + 1; i < lastWord; ++i) bits[i] = ~bits[i];
  bits[lastWord] ^= lastMask;
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

// Inverts every run whose component changes colour, in the image of bits.
void paintRuns(const RunTable& table, const std::vector<std::uint8_t>& values, int height, int words, Word* image) {
  for (int y = 1; y < height - 1; ++y) {
    Word* row = image + static_cast<size_t>(y) * words;
    const std::int32_t first = table.rowFirst[y];
    const std::int32_t last = table.rowFirst[y + 1] - 1;
    for (std::int32_t k = first; k < last; ++k) {
      const std::uint8_t colour = ((k - first) & 1) ? 255 : 0;
      if (values[table.labels[k]] != colour) invertBitRange(row, table.starts[k], table.starts[k + 1]);
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
  // The cleaned image is built as bits, `words` words a row, and written out as bytes once at the end;
  // rows 0 and height - 1 are frame and stay zero.
  const int words = (width + WORD_BITS - 1) / WORD_BITS;
  std::vector<Word> image(static_cast<size_t>(words) * height, Word{0});
  Word anyDark = 0;
  size_t runEntries = 4;  // rows 0 and height - 1: one run and the closing width each
  {
    std::vector<Word> sourceRows(3 * static_cast<size_t>(words));
    Word* above = sourceRows.data();
    Word* current = above + words;
    Word* below = current + words;
    loadRowBits(binary, 0, current, words);
    loadRowBits(binary, 1, below, words);
    for (int y = 1; y < height - 1; ++y) {
      std::swap(above, current);
      std::swap(current, below);  // current is row y, above row y - 1
      loadRowBits(binary, y + 1, below, words);
      for (int i = 0; i < words; ++i) anyDark |= current[i];
      Word* filtered = image.data() + static_cast<size_t>(y) * words;
      filterRowBits(above, current, below, words, filtered);
      runEntries += countRowEntries(filtered, words);
    }
  }
  const bool labelled = anyDark != 0 && width <= PREPASS_MAX_SIDE && height <= PREPASS_MAX_SIDE;
  if (labelled) {
    RunTable table;
    table.starts.reset(new Position[runEntries]);
    table.labels.reset(new std::int32_t[runEntries]);
    table.rowFirst.reset(new std::int32_t[static_cast<size_t>(height) + 1]);
    // Row 0 is all frame: one background run, the outside.
    table.starts[0] = 0;
    table.starts[1] = static_cast<Position>(width);
    table.labels[0] = OUTSIDE_LABEL;
    table.rowFirst[0] = 0;
    table.rowFirst[1] = 2;
    std::vector<Component> components;
    // About one component for every six runs on camera frames: reserved so the table is not doubled past need.
    components.reserve(runEntries / 5 + 1);
    components.push_back(Component{OUTSIDE_LABEL, -1, 0, static_cast<Position>(width - 1), 0, 0, false});
    // The last row is all frame too; its one run still joins the background runs above it to the outside.
    for (int y = 1; y < height; ++y) {
      const std::int32_t first = table.rowFirst[y];
      const Word* row = image.data() + static_cast<size_t>(y) * words;
      table.rowFirst[y + 1] = first + findRowRuns(row, words, width, table.starts.get() + first);
      labelRowRuns(&table, y, &components);
    }
    const std::vector<std::uint8_t> values = decideValues(components);
    paintRuns(table, values, height, words, image.data());
  }
  for (int y = 0; y < height; ++y) {
    storeRowBytes(image.data() + static_cast<size_t>(y) * words, width,
                  reinterpret_cast<std::uint8_t*>(cleaned->imageData + y * cleaned->widthStep));
  }
  return anyDark != 0;
}
