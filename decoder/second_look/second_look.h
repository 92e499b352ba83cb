// The second look: runs only when the global and the adaptive pass read nothing, on what they left
// behind. Every read it returns has passed guards that keep wrong texts out.
#ifndef QUARNEL_DECODER_SECOND_LOOK_SECOND_LOOK_H_
#define QUARNEL_DECODER_SECOND_LOOK_SECOND_LOOK_H_

#include <cstddef>
#include <cstdint>
#include <exception>
#include <vector>

#include <opencv2/core/core_c.h>

#include "decoder/decoder.h"
#include "decoder/ecc200/ecc200_message.h"
#include "decoder/second_look/mirrored_symbols.h"
#include "decoder/second_look/pass_leftovers.h"
#include "decoder/runs.h"
#include "decoder/symbol_decoder.h"

// Guards of every read the second look makes itself.
constexpr double SECOND_LOOK_MIN_TIMING_SCORE = 0.8;      // share of timing modules that alternate, each edge
constexpr double SECOND_LOOK_MIN_FINDER_DARK = 0.9;       // share of the finder L's modules that are dark
constexpr double SECOND_LOOK_MAX_CORRECTION_SHARE = 0.5;  // of each block's correction capacity

// Reads what the passes left (passes[0] the global pass, passes[1] the adaptive one; a pass that did not
// run has no binary image). Appends at most maxSymbols symbols to *symbols, corners in DecodeResult's
// order in pixels of grey; returns the step of the first read, or SCAN_NOTHING_READ.
ScanStep secondLook(const IplImage* grey, PassLeftovers* passes, int passCount, std::vector<DecodedSymbol>* symbols,
                    std::size_t maxSymbols = DECODE_MAX_RESULTS);

// The second look's steps for dark-on-light symbols at the picture's own scale, on the passes given: what
// secondLook runs first, and what it runs again on the passes negated for light-on-dark symbols and on
// each enlarged region of small modules.
ScanStep readPassLeftovers(const IplImage* grey, PassLeftovers* passes, int passCount,
                           std::vector<DecodedSymbol>* symbols, std::size_t maxSymbols);

// True when p lies inside (or on) the outline of a symbol already read: the same symbol often yields a
// candidate in both passes, and it is read once. Candidates are judged by their centre.
bool liesInRead(CvPoint2D32f p, const std::vector<DecodedSymbol>& symbols);

// The mean of a read symbol's four corners.
CvPoint2D32f symbolCentre(const DecodedSymbol& symbol);

// Share of the finder L's modules (left column and bottom row) that are dark in an upright module matrix
// of a columns x rows symbol (rows - 1 by columns - 1, as decodeEcc200 takes it).
double finderDarkShare(const std::uint8_t* matrix, int columns, int rows);

// How well the top timing row and the right timing column of a columns x rows symbol alternate in the
// binary image. gridCorners are the corners of the module grid without those two edges: top-left,
// top-right, bottom-right, bottom-left. Each score is the share of timing modules of the right colour.
struct TimingScores {
  double top = 0.0;
  double right = 0.0;
};
TimingScores timingScores(const IplImage* binary, const CvPoint2D32f gridCorners[4], int columns, int rows);

// Whether the pixel nearest (x, y) of a binary image (255 dark) is dark; false outside the image.
bool isDarkPixel(const IplImage* binary, double x, double y);

// Thickness in pixels of the dark bar along the finder leg vertex -> farEnd, measured across it towards
// `inside` (a point on the symbol's side of the leg): the thinnest of several places, or 0 when none shows
// a bar.
double finderBarThickness(const IplImage* binary, CvPoint2D32f vertex, CvPoint2D32f farEnd, CvPoint2D32f inside);

// Dark share of `samples` pixels just inside the side from -> to of a quadrilateral around centre, `inset`
// pixels in, clear of the corners (where a timing edge meets a leg).
double darkShareInside(const IplImage* binary, CvPoint2D32f from, CvPoint2D32f to, CvPoint2D32f centre, double inset,
                       int samples);

// Moves each corner of a rectangle enclosing `contour` to the contour's point nearest it: under tilt an
// outline is a quadrilateral, not a rectangle, and its nearest points are the symbol's own corners.
void snapToOutline(CvSeq* contour, CvPoint2D32f corners[4]);

// Decodes an upright module matrix under the second look's limits (extension sizes allowed, at most half
// of each block's correction capacity) and checks the finder L. False for anything doubtful.
bool decodeGuarded(const std::uint8_t* matrix, int columns, int rows, Ecc200Message* message);

// Runs step(&reads) on a copy of the reads so far and keeps what it adds: an image-library error or a
// failed allocation inside one step costs that step's reads, never those made before it.
template <typename Step>
ScanStep addReadsOf(Step step, std::vector<DecodedSymbol>* symbols) {
  std::vector<DecodedSymbol> reads = *symbols;
  try {
    const ScanStep readBy = step(&reads);
    *symbols = std::move(reads);
    return readBy;
  } catch (const std::exception&) {
    return SCAN_NOTHING_READ;
  }
}

// Lead 1: one located candidate tried again on its pass's binary image, with the leg ends stepped in by
// half the measured finder-bar thickness and timing-edge sweeps that keep the best angle of their whole
// range. True and *symbol filled only for a guarded read; *side (optional) tells whether the matrix read
// as sampled or as a mirrored symbol.
bool retryCandidate(const PassLeftovers& pass, const SymbolCandidate& located, DecodedSymbol* symbol,
                    MatrixSide* side = nullptr);

// The located candidates' outlines approximated again at the finer accuracy of lead 3 and put through the
// finder test: a 5-pixel polygon may put a corner a module off, which the finer one places better.
// New polygons live in pass.storage.
std::vector<SymbolCandidate> refineLocatedOutlines(PassLeftovers* pass);

// Lead 3: candidates from outlines whose 5-pixel polygon was too plain for the passes (fewer than 20
// vertices) but which look like small symbols; each is approximated more finely and put through the
// finder test. New polygons live in pass.storage.
std::vector<SymbolCandidate> findSmallSymbolCandidates(PassLeftovers* pass);

// Thin symbols (8 to 16 rows): candidates from long, narrow outlines whose corners the finder test could
// not place, cornered by their smallest enclosing rectangle, the finder L told by the sides' dark share.
// New polygons live in pass.storage.
std::vector<SymbolCandidate> findThinSymbolCandidates(PassLeftovers* pass);

#endif  // QUARNEL_DECODER_SECOND_LOOK_SECOND_LOOK_H_
