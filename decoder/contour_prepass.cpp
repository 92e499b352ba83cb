// Cleaning before the contour search. Why the contours that survive are unchanged: a removed region
// or a filled hole lies wholly inside one border and touches no pixel of any other border; the border
// follower's neighbour search starts in the border's own background and stops at the first dark pixel,
// so it never reaches the changed pixels; and the scan meets the remaining borders in the same order.
//
// Each row is held as bits, 64 pixels to a word, so the 1-pixel filter, the search for run ends and the
// writing of the cleaned rows cost a few word operations per 64 pixels. The runs are labelled row by row
// from the filtered rows, keeping only the components; once every component's fate is known, the rows
// are walked again to give each run its label, the runs of the components that change colour are
// inverted and each row is written out as bytes. Walking twice costs less memory than a label for
// every run of the frame: on camera frames under the adaptive threshold that table alone came to more
// than the binary image. The filtered rows wait for the second walk in the cleaned image's own buffer.
#include "decoder/contour_prepass.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "decoder/stage_timing.h"

namespace {

// Bounding boxes are kept in 16 bits, which keeps a component to 16 bytes; larger images get the
// 1-pixel filter alone.
using Position = std::uint16_t;
constexpr int PREPASS_MAX_SIDE = 65535;

using Word = std::uint64_t;
constexpr int WORD_BITS = 64;

// One connected component (dark region or background area), labelled in raster order of its first run.
// Its colour is the opposite of the component around it, which the labels' order lets the decision
// derive, so it is not stored.
struct Component {
  std::int32_t root;       // union-find link; a root points at itself and is its component's first label
  std::int32_t enclosing;  // label of the run left of the first run: a component that surrounds it
  Position minX, maxX, minY, maxY;
};

// The components of one image. The block grows with realloc, which moves a large block by remapping
// its pages, so the old and the new block are never held at once.
class ComponentList {
 public:
  explicit ComponentList(size_t initialCapacity) : capacity_(initialCapacity) {
    items_ = static_cast<Component*>(std::malloc(capacity_ * sizeof(Component)));
    if (items_ == nullptr) throw std::bad_alloc();
  }
  ~ComponentList() { std::free(items_); }
  ComponentList(const ComponentList&) = delete;
  ComponentList& operator=(const ComponentList&) = delete;

  std::int32_t size() const { return count_; }
  Component& operator[](std::int32_t label) { return items_[label]; }

  std::int32_t add(const Component& component) {
    if (static_cast<size_t>(count_) == capacity_) grow();
    items_[count_] = component;
    return count_++;
  }

 private:
  void grow() {
    const size_t larger = capacity_ + capacity_ / 2;
    auto* moved = static_cast<Component*>(std::realloc(items_, larger * sizeof(Component)));
    if (moved == nullptr) throw std::bad_alloc();
    items_ = moved;
    capacity_ = larger;
  }

  Component* items_ = nullptr;
  size_t capacity_;
  std::int32_t count_ = 0;
};

constexpr std::int32_t OUTSIDE_LABEL = 0;  // the background around everything, the first run of row 0

std::int32_t findRoot(ComponentList& components, std::int32_t label) {
  while (components[label].root != label) {
    const std::int32_t up = components[components[label].root].root;
    components[label].root = up;  // path halving
    label = up;
  }
  return label;
}

// Joins two components; the earlier label stays the root, so a root is always its component's first run.
std::int32_t joinComponents(ComponentList& components, std::int32_t a, std::int32_t b) {
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
#ifdef __SSE2__
  // Sixteen pixels at a time: compare with zero and gather the bytes' top bits.
  const __m128i zero = _mm_setzero_si128();
  for (; x + 16 <= width; x += 16) {
    const __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + x));
    const unsigned dark = ~static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(pixels, zero))) & 0xFFFFu;
    bits[x / WORD_BITS] |= Word{dark} << (x % WORD_BITS);
  }
#endif
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

// The runs of one row and their labels. The frame pixel makes the first run background and colours
// alternate, so run k is dark when k is odd; `starts` ends with the width, so run k always ends where
// entry k + 1 starts.
struct RowRuns {
  std::vector<std::int32_t> starts;  // room for every pixel to start a run, and the closing width
  std::vector<std::int32_t> labels;
  std::int32_t count = 0;  // runs, not counting the closing entry
};

void makeRowRuns(int width, RowRuns* row) {
  row->starts.resize(static_cast<size_t>(width) + 1);
  row->labels.resize(static_cast<size_t>(width));
}

// Finds the runs of a row of bits. A run starts wherever a pixel differs from its left neighbour; the
// frame pixels are light, so no run starts at the last pixel or past it.
void findRowRuns(const Word* bits, int words, int width, RowRuns* row) {
  std::int32_t* starts = row->starts.data();
  std::int32_t count = 0;
  starts[count++] = 0;
  for (int i = 0; i < words; ++i) {
    Word changes = bits[i] ^ leftNeighbours(bits, i);
    const int base = i * WORD_BITS;
    while (changes != 0) {
      starts[count++] = base + __builtin_ctzll(changes);
      changes &= changes - 1;
    }
  }
  starts[count] = width;
  row->count = count;
}

// The row that is all frame (rows 0 and height - 1): one background run.
void setFrameRowRuns(int width, RowRuns* row) {
  row->starts[0] = 0;
  row->starts[1] = width;
  row->count = 1;
}

// The first run of the row above, from `above` on, that may touch run k of the current row: the first
// of k's colour (runs of one colour sit two apart) that ends past the run's reach on the left. Dark runs
// reach one pixel further each way, as they join diagonally (8-connected); background runs join only
// runs that share a column (4-connected).
std::int32_t firstTouching(const RowRuns& aboveRow, std::int32_t* above, std::int32_t k, int low) {
  const std::int32_t* starts = aboveRow.starts.data();
  while (starts[*above + 1] <= low) ++*above;
  return *above + ((*above ^ k) & 1);
}

// Labels the runs of the current row: a run joins every touching run of its colour in the row above,
// and a run that touches none starts a component. Keeps each component's bounding box.
void labelRowRuns(const RowRuns& aboveRow, RowRuns* row, int y, ComponentList* components) {
  const std::int32_t* starts = row->starts.data();
  std::int32_t* labels = row->labels.data();
  const std::int32_t* aboveStarts = aboveRow.starts.data();
  const std::int32_t* aboveLabels = aboveRow.labels.data();
  std::int32_t above = 0;
  for (std::int32_t k = 0; k < row->count; ++k) {
    const int start = starts[k];
    const int end = starts[k + 1];
    const int reach = k & 1;
    const int low = start - reach, high = end + reach;
    std::int32_t label = -1;
    for (std::int32_t j = firstTouching(aboveRow, &above, k, low); j < aboveRow.count && aboveStarts[j] < high;
         j += 2) {
      label = label < 0 ? findRoot(*components, aboveLabels[j]) : joinComponents(*components, label, aboveLabels[j]);
    }
    if (label < 0) {
      // k > 0: run 0 lies on the frame column and always touches run 0 above.
      label = components->add(Component{components->size(), labels[k - 1], static_cast<Position>(start),
                                        static_cast<Position>(end - 1), static_cast<Position>(y),
                                        static_cast<Position>(y)});
    } else {
      Component& component = (*components)[label];
      component.minX = std::min(component.minX, static_cast<Position>(start));
      component.maxX = std::max(component.maxX, static_cast<Position>(end - 1));
      component.maxY = static_cast<Position>(y);
    }
    labels[k] = label;
  }
}

// Gives the runs of the current row the labels of the first walk, with no joining: a run takes the
// label of the first touching run above (one of its own component's labels), and a run that touches
// none takes the next new label, as it did then.
void relabelRowRuns(const RowRuns& aboveRow, RowRuns* row, std::int32_t* nextLabel) {
  const std::int32_t* starts = row->starts.data();
  std::int32_t* labels = row->labels.data();
  const std::int32_t* aboveStarts = aboveRow.starts.data();
  std::int32_t above = 0;
  for (std::int32_t k = 0; k < row->count; ++k) {
    const int reach = k & 1;
    const std::int32_t j = firstTouching(aboveRow, &above, k, starts[k] - reach);
    labels[k] = j < aboveRow.count && aboveStarts[j] < starts[k + 1] + reach ? aboveRow.labels[j] : (*nextLabel)++;
  }
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

// What the decision knows of each label.
constexpr std::uint8_t LABEL_DARK = 1;        // the component is a dark region (else background)
constexpr std::uint8_t LABEL_TURNS_DARK = 2;  // its pixels are dark in the cleaned image
constexpr std::uint8_t LABEL_SETTLED = 4;     // removed or filled: all inside follows it

// The fate of each label. Labels are visited in increasing order, and both a component's root and the
// component around it carry smaller labels, so theirs are known already.
std::vector<std::uint8_t> decideLabels(ComponentList& components) {
  const std::int32_t count = components.size();
  std::vector<std::uint8_t> fates(count, 0);
  for (std::int32_t label = 1; label < count; ++label) {
    const std::int32_t root = findRoot(components, label);
    if (root != label) {
      fates[label] = fates[root];
      continue;
    }
    const Component& component = components[label];
    const std::uint8_t around = fates[findRoot(components, component.enclosing)];
    const std::uint8_t dark = (around & LABEL_DARK) ? 0 : LABEL_DARK;
    if (around & LABEL_SETTLED) {
      fates[label] = dark | (around & LABEL_TURNS_DARK) | LABEL_SETTLED;
      continue;
    }
    const int width = component.maxX - component.minX + 1;
    const int height = component.maxY - component.minY + 1;
    const int limit = dark ? PREPASS_MIN_REGION_EXTENT : PREPASS_MIN_HOLE_EXTENT;
    const bool small = width < limit || height < limit;
    // A small region turns light and a small hole dark; everything else keeps its colour.
    const bool turnsDark = small ? !dark : dark != 0;
    fates[label] = dark | (turnsDark ? LABEL_TURNS_DARK : 0) | (small ? LABEL_SETTLED : 0);
  }
  return fates;
}

// Inverts the runs of the current row whose component changes colour.
void paintRowRuns(const RowRuns& row, const std::vector<std::uint8_t>& fates, Word* bits) {
  for (std::int32_t k = 0; k < row.count; ++k) {
    const bool dark = (k & 1) != 0;
    const bool turnsDark = (fates[row.labels[k]] & LABEL_TURNS_DARK) != 0;
    if (dark != turnsDark) invertBitRange(bits, row.starts[k], row.starts[k + 1]);
  }
}

// The rows of the binary image after the 1-pixel filter, one at a time from row 1 on, computed from a
// window of three source rows.
struct FilteredRows {
  const IplImage* binary;
  int words;
  std::vector<Word> window;  // three source rows, then the filtered row
  Word* above;
  Word* current;
  Word* below;
  Word* filtered;
  int nextRow;
  Word anyDark;  // any dark pixel off the frame among the source rows passed so far
};

void startFilteredRows(const IplImage* binary, int words, FilteredRows* rows) {
  rows->binary = binary;
  rows->words = words;
  rows->window.assign(4 * static_cast<size_t>(words), Word{0});
  rows->above = rows->window.data();
  rows->current = rows->above + words;
  rows->below = rows->current + words;
  rows->filtered = rows->below + words;
  loadRowBits(binary, 0, rows->current, words);
  loadRowBits(binary, 1, rows->below, words);
  rows->nextRow = 1;
  rows->anyDark = 0;
}

// The next filtered row (rows 1 to height - 2 in turn); valid until the next call.
Word* nextFilteredRow(FilteredRows* rows) {
  std::swap(rows->above, rows->current);
  std::swap(rows->current, rows->below);  // current is the row now filtered, above the one before
  loadRowBits(rows->binary, rows->nextRow + 1, rows->below, rows->words);
  for (int i = 0; i < rows->words; ++i) rows->anyDark |= rows->current[i];
  filterRowBits(rows->above, rows->current, rows->below, rows->words, rows->filtered);
  ++rows->nextRow;
  return rows->filtered;
}

std::uint8_t* imageRow(IplImage* image, int y) {
  return reinterpret_cast<std::uint8_t*>(image->imageData + static_cast<size_t>(y) * image->widthStep);
}

// Where the filtered rows are kept between the two walks, `words` words a row, row y at y * words.
// When the cleaned image's rows lie back to back, the rows of bits go to the end of its buffer: the
// second walk writes row y of bytes only after reading row y of bits, and the bytes of a row never
// reach the bits of the rows after it, as a row of bits is an eighth of a row of bytes. Otherwise
// they get a block of their own.
Word* filteredRowStore(IplImage* cleaned, int words, std::vector<Word>* ownBlock) {
  const size_t width = static_cast<size_t>(cleaned->width);
  const size_t height = static_cast<size_t>(cleaned->height);
  const size_t rowBits = static_cast<size_t>(words) * sizeof(Word);
  if (static_cast<size_t>(cleaned->widthStep) == width) {
    const auto end = reinterpret_cast<std::uintptr_t>(cleaned->imageData) + width * height;
    const std::uintptr_t start = (end - height * rowBits) & ~std::uintptr_t{alignof(Word) - 1};
    const std::uintptr_t lastRowEnd = reinterpret_cast<std::uintptr_t>(cleaned->imageData) + (height - 1) * width;
    // Row height - 2 of bytes, the last written, must end before row height - 2 of bits begins.
    if (start >= reinterpret_cast<std::uintptr_t>(cleaned->imageData) &&
        lastRowEnd <= start + (height - 2) * rowBits) {
      return reinterpret_cast<Word*>(start);
    }
  }
  ownBlock->resize(static_cast<size_t>(words) * height);
  return ownBlock->data();
}

// Filters the rows into `filtered`, labels them, and returns the fate of every label; *anyDark tells
// whether the binary image held a dark pixel off its frame.
std::vector<std::uint8_t> labelComponents(const IplImage* binary, int words, Word* filtered, bool* anyDark) {
  const int width = binary->width;
  const int height = binary->height;
  // The list starts small and grows by half when full, so it is never much larger than needed: a frame
  // under the global threshold holds a few hundred components, under the adaptive one tens of thousands.
  ComponentList components(1024);
  RowRuns above, current;
  makeRowRuns(width, &above);
  makeRowRuns(width, &current);
  setFrameRowRuns(width, &above);
  above.labels[0] = components.add(Component{OUTSIDE_LABEL, -1, 0, static_cast<Position>(width - 1), 0, 0});
  FilteredRows rows;
  startFilteredRows(binary, words, &rows);
  // The last row is all frame too; its one run still joins the background runs above it to the outside.
  for (int y = 1; y < height; ++y) {
    if (y < height - 1) {
      Word* row = filtered + static_cast<size_t>(y) * words;
      std::copy_n(nextFilteredRow(&rows), words, row);
      findRowRuns(row, words, width, &current);
    } else {
      setFrameRowRuns(width, &current);
    }
    labelRowRuns(above, &current, y, &components);
    std::swap(above, current);
  }
  *anyDark = rows.anyDark != 0;
  return decideLabels(components);
}

// Walks the filtered rows again with the fates known, inverts the runs that change colour and writes
// each row as bytes.
void paintAndStore(Word* filtered, int words, const std::vector<std::uint8_t>& fates, IplImage* cleaned) {
  const int width = cleaned->width;
  RowRuns above, current;
  makeRowRuns(width, &above);
  makeRowRuns(width, &current);
  setFrameRowRuns(width, &above);
  above.labels[0] = OUTSIDE_LABEL;
  std::int32_t nextLabel = OUTSIDE_LABEL + 1;
  for (int y = 1; y < cleaned->height - 1; ++y) {
    Word* row = filtered + static_cast<size_t>(y) * words;
    findRowRuns(row, words, width, &current);
    relabelRowRuns(above, &current, &nextLabel);
    paintRowRuns(current, fates, row);
    storeRowBytes(row, width, imageRow(cleaned, y));
    std::swap(above, current);
  }
}

// The 1-pixel filter alone, for images too large to label; returns whether any dark pixel was off the frame.
bool filterAndStore(const IplImage* binary, int words, IplImage* cleaned) {
  FilteredRows rows;
  startFilteredRows(binary, words, &rows);
  for (int y = 1; y < binary->height - 1; ++y) storeRowBytes(nextFilteredRow(&rows), binary->width, imageRow(cleaned, y));
  return rows.anyDark != 0;
}

void clearRow(IplImage* image, int y) { std::memset(imageRow(image, y), 0, image->width); }

}  // namespace

bool cleanContourInput(const IplImage* binary, IplImage* cleaned) {
  QUARNEL_STAGE_TIMER(STAGE_CONTOUR_PREPASS);
  const int width = binary->width;
  const int height = binary->height;
  if (width < 3 || height < 3) {
    // Every pixel is on the frame: nothing to trace.
    for (int y = 0; y < height; ++y) clearRow(cleaned, y);
    return false;
  }
  const int words = (width + WORD_BITS - 1) / WORD_BITS;
  bool anyDark = false;
  if (width > PREPASS_MAX_SIDE || height > PREPASS_MAX_SIDE) {
    anyDark = filterAndStore(binary, words, cleaned);
  } else {
    std::vector<Word> ownBlock;
    Word* filtered = filteredRowStore(cleaned, words, &ownBlock);
    const std::vector<std::uint8_t> fates = labelComponents(binary, words, filtered, &anyDark);
    if (anyDark) {
      paintAndStore(filtered, words, fates, cleaned);
    } else {
      for (int y = 1; y < height - 1; ++y) clearRow(cleaned, y);
    }
  }
  // Last: the filtered rows may have been kept in the space of the last row.
  clearRow(cleaned, 0);
  clearRow(cleaned, height - 1);
  return anyDark;
}
