// The second look: the order in which the leftovers of the two passes are tried, and the guards that
// every read of its own must pass.
#include "decoder/second_look/second_look.h"

#include <cmath>
#include <cstring>

#include <opencv2/imgproc/imgproc_c.h>

#include "decoder/ecc200/ecc200.h"
#include "decoder/second_look/enlarged_grey.h"
#include "decoder/second_look/light_on_dark.h"
#include "decoder/second_look/perspective_read.h"

namespace {

// A finer outline's frame must move by this much before the perspective recovery tries it again.
constexpr double FINER_MIN_FRAME_SHIFT = 1.0;  // pixels

// Twice the signed area of the triangle (a, b, p): which side of a -> b the point p lies on.
double sideOf(CvPoint a, CvPoint b, CvPoint2D32f p) {
  return (static_cast<double>(b.x) - a.x) * (p.y - a.y) - (static_cast<double>(b.y) - a.y) * (p.x - a.x);
}

CvPoint2D32f centreOf(const SymbolCandidate& candidate) {
  CvPoint2D32f centre = {0.0f, 0.0f};
  for (const CvPoint2D32f& corner : candidate.corners) {
    centre.x += 0.25f * corner.x;
    centre.y += 0.25f * corner.y;
  }
  return centre;
}

LocatedCandidate toLocated(const SymbolCandidate& candidate) {
  LocatedCandidate located;
  for (int i = 0; i < 4; ++i) located.corners[i] = candidate.corners[i];
  if (candidate.polygon != nullptr) {
    CvSeqReader reader;
    cvStartReadSeq(candidate.polygon, &reader, 0);
    for (int v = 0; v < candidate.polygon->total; ++v) {
      CvPoint vertex;
      CV_READ_SEQ_ELEM(vertex, reader);
      located.polygon.push_back(vertex);
    }
  }
  return located;
}

// Which of lead 1 and lead 2 a candidate is still worth.
struct LeadsToTry {
  bool retry = true;
  bool perspective = true;
};

// Lead 1, then lead 2 on one candidate. Returns the step that read it, or SCAN_NOTHING_READ.
ScanStep readCandidate(const IplImage* grey, const PassLeftovers& pass, const SymbolCandidate& candidate,
                       ScanStep retryStep, LeadsToTry leads, DecodedSymbol* symbol) {
  MatrixSide side = MatrixSide::Front;
  if (leads.retry && retryCandidate(pass, candidate, symbol, &side)) {
    return side == MatrixSide::Mirrored ? SCAN_READ_BY_MIRRORED_SYMBOL : retryStep;
  }
  if (leads.perspective && readByPerspective(grey, pass.binary, toLocated(candidate), symbol, &side)) {
    return side == MatrixSide::Mirrored ? SCAN_READ_BY_MIRRORED_SYMBOL : SCAN_READ_BY_PERSPECTIVE;
  }
  return SCAN_NOTHING_READ;
}

bool sameLine(const EdgeLine& a, const EdgeLine& b) {
  return a.kind == b.kind && a.slope == b.slope && a.intercept == b.intercept;
}

bool samePoint(CvPoint2D32f a, CvPoint2D32f b) { return a.x == b.x && a.y == b.y; }

// The retry starts from a candidate's L alone: its vertex, leg ends and leg lines.
bool sameFinderL(const SymbolCandidate& a, const SymbolCandidate& b) {
  return samePoint(a.corners[0], b.corners[0]) && samePoint(a.corners[1], b.corners[1]) &&
         samePoint(a.corners[2], b.corners[2]) && sameLine(a.legA, b.legA) && sameLine(a.legB, b.legB);
}

// What a finer outline still offers over the located candidates, every one of which both leads have
// tried on this pass already (those that read keep their finer outlines out through liesInRead). Most
// finer outlines, of decoys above all, find the very same L: the retry would repeat its answer, and the
// perspective recovery too unless the finer polygon moves its frame's corners and seeds by a pixel or more.
LeadsToTry leadsLeftForFinerOutline(const SymbolCandidate& finer, const PassLeftovers& pass) {
  LeadsToTry leads;
  for (const SymbolCandidate& located : pass.located) {
    if (!sameFinderL(finer, located)) continue;
    leads.retry = false;
    leads.perspective = finderFrameShift(toLocated(located), toLocated(finer)) >= FINER_MIN_FRAME_SHIFT;
    if (!leads.perspective) break;
  }
  return leads;
}

// Tries each candidate not inside a read symbol; keeps what reads. Returns false once the results are full.
// A finer outline is tried only with the leads it can still change.
bool readCandidates(const IplImage* grey, const PassLeftovers& pass, const std::vector<SymbolCandidate>& candidates,
                    ScanStep retryStep, std::size_t maxSymbols, std::vector<DecodedSymbol>* symbols,
                    ScanStep* firstStep, bool finerOutlines = false) {
  for (const SymbolCandidate& candidate : candidates) {
    if (symbols->size() >= maxSymbols) return false;
    if (liesInRead(centreOf(candidate), *symbols)) continue;
    const LeadsToTry leads = finerOutlines ? leadsLeftForFinerOutline(candidate, pass) : LeadsToTry{};
    if (!leads.retry && !leads.perspective) continue;
    DecodedSymbol symbol;
    const ScanStep step = readCandidate(grey, pass, candidate, retryStep, leads, &symbol);
    if (step == SCAN_NOTHING_READ) continue;
    if (*firstStep == SCAN_NOTHING_READ) *firstStep = step;
    symbols->push_back(std::move(symbol));
  }
  return symbols->size() < maxSymbols;
}

// The colour a timing module should have: the top row starts dark at the left, the right column dark at
// the bottom; both alternate.
int sampleDark(const IplImage* binary, double x, double y) {
  const int cx = static_cast<int>(std::floor(x + 0.5)), cy = static_cast<int>(std::floor(y + 0.5));
  int dark = 0, seen = 0;
  for (int dy = -1; dy <= 1; ++dy) {
    for (int dx = -1; dx <= 1; ++dx) {
      const int px = cx + dx, py = cy + dy;
      if (px < 0 || py < 0 || px >= binary->width || py >= binary->height) continue;
      ++seen;
      if (static_cast<std::uint8_t>(binary->imageData[py * binary->widthStep + px]) != 0) ++dark;
    }
  }
  return seen > 0 && 2 * dark > seen ? 1 : 0;
}

}  // namespace

bool liesInRead(CvPoint2D32f p, const std::vector<DecodedSymbol>& symbols) {
  for (const DecodedSymbol& symbol : symbols) {
    bool anyPositive = false, anyNegative = false;
    for (int i = 0; i < 4; ++i) {
      const double side = sideOf(symbol.corners[i], symbol.corners[(i + 1) % 4], p);
      anyPositive = anyPositive || side > 0.0;
      anyNegative = anyNegative || side < 0.0;
    }
    if (!(anyPositive && anyNegative)) return true;
  }
  return false;
}

CvPoint2D32f symbolCentre(const DecodedSymbol& symbol) {
  CvPoint2D32f centre = {0.0f, 0.0f};
  for (const CvPoint& corner : symbol.corners) {
    centre.x += 0.25f * static_cast<float>(corner.x);
    centre.y += 0.25f * static_cast<float>(corner.y);
  }
  return centre;
}

double finderDarkShare(const std::uint8_t* matrix, int columns, int rows) {
  const int width = columns - 1, height = rows - 1;
  if (width <= 0 || height <= 0) return 0.0;
  int dark = 0;
  for (int i = 0; i < height; ++i) dark += matrix[i * width] != 0 ? 1 : 0;  // left column
  for (int j = 1; j < width; ++j) dark += matrix[(height - 1) * width + j] != 0 ? 1 : 0;  // bottom row
  return static_cast<double>(dark) / (height + width - 1);
}

TimingScores timingScores(const IplImage* binary, const CvPoint2D32f gridCorners[4], int columns, int rows) {
  const double width = columns - 1, height = rows - 1;  // grid cells across and down
  // The grid's own perspective: module space (s across, t down) to pixels, through its four corners, and
  // on past its edges to the timing row and column.
  CvPoint2D32f moduleCorners[4] = {{0.0f, 0.0f},
                                   {static_cast<float>(width), 0.0f},
                                   {static_cast<float>(width), static_cast<float>(height)},
                                   {0.0f, static_cast<float>(height)}};
  double h[9];
  CvMat homography = cvMat(3, 3, CV_64FC1, h);
  cvGetPerspectiveTransform(moduleCorners, gridCorners, &homography);
  auto at = [&h](double s, double t, double* x, double* y) {
    const double w = h[6] * s + h[7] * t + h[8];
    *x = (h[0] * s + h[1] * t + h[2]) / w;
    *y = (h[3] * s + h[4] * t + h[5]) / w;
  };
  TimingScores scores;
  int matches = 0;
  for (int j = 0; j < columns; ++j) {
    double x, y;
    at(j + 0.5, -0.5, &x, &y);
    matches += sampleDark(binary, x, y) == (j % 2 == 0 ? 1 : 0) ? 1 : 0;
  }
  scores.top = static_cast<double>(matches) / columns;
  matches = 0;
  for (int i = 0; i < rows - 1; ++i) {
    double x, y;
    at(width + 0.5, i + 0.5, &x, &y);
    const int fromBottom = rows - 2 - i;
    matches += sampleDark(binary, x, y) == (fromBottom % 2 == 0 ? 1 : 0) ? 1 : 0;
  }
  scores.right = static_cast<double>(matches) / (rows - 1);
  return scores;
}

bool decodeGuarded(const std::uint8_t* matrix, int columns, int rows, Ecc200Message* message) {
  if (finderDarkShare(matrix, columns, rows) < SECOND_LOOK_MIN_FINDER_DARK) return false;
  Ecc200ReadLimits limits;
  limits.allowDmre = true;
  limits.maxCorrectionShare = SECOND_LOOK_MAX_CORRECTION_SHARE;
  limits.anyPaddingWhenUncorrected = true;
  return decodeEcc200Message(matrix, columns, rows, limits, message);
}

ScanStep readPassLeftovers(const IplImage* grey, PassLeftovers* passes, int passCount,
                           std::vector<DecodedSymbol>* symbols, std::size_t maxSymbols) {
  ScanStep firstStep = SCAN_NOTHING_READ;
  for (int p = 0; p < passCount; ++p) {
    if (passes[p].binary == nullptr) continue;
    if (!readCandidates(grey, passes[p], passes[p].located, SCAN_READ_BY_RETRY, maxSymbols, symbols, &firstStep)) {
      return firstStep;
    }
  }
  for (int p = 0; p < passCount; ++p) {
    if (passes[p].binary == nullptr) continue;
    const std::vector<SymbolCandidate> finer = refineLocatedOutlines(&passes[p]);
    if (!readCandidates(grey, passes[p], finer, SCAN_READ_BY_RETRY, maxSymbols, symbols, &firstStep, true)) {
      return firstStep;
    }
  }
  for (int p = 0; p < passCount; ++p) {
    if (passes[p].binary == nullptr) continue;
    const std::vector<SymbolCandidate> small = findSmallSymbolCandidates(&passes[p]);
    if (!readCandidates(grey, passes[p], small, SCAN_READ_BY_SMALL_SYMBOL, maxSymbols, symbols, &firstStep)) {
      return firstStep;
    }
  }
  for (int p = 0; p < passCount; ++p) {
    if (passes[p].binary == nullptr) continue;
    const std::vector<SymbolCandidate> thin = findThinSymbolCandidates(&passes[p]);
    if (!readCandidates(grey, passes[p], thin, SCAN_READ_BY_THIN_SYMBOL, maxSymbols, symbols, &firstStep)) {
      return firstStep;
    }
  }
  for (int p = 0; p < passCount; ++p) {
    if (passes[p].binary == nullptr) continue;
    const std::vector<SymbolCandidate> mirrored = findMirroredFinderCandidates(&passes[p]);
    if (!readCandidates(grey, passes[p], mirrored, SCAN_READ_BY_MIRRORED_SYMBOL, maxSymbols, symbols, &firstStep)) {
      break;
    }
  }
  return firstStep;
}

ScanStep secondLook(const IplImage* grey, PassLeftovers* passes, int passCount, std::vector<DecodedSymbol>* symbols,
                    std::size_t maxSymbols) {
  ScanStep firstStep = readPassLeftovers(grey, passes, passCount, symbols, maxSymbols);
  if (symbols->size() >= maxSymbols) return firstStep;
  const ScanStep lightOnDark = addReadsOf(
      [&](std::vector<DecodedSymbol>* reads) { return readLightOnDark(grey, passes, passCount, reads, maxSymbols); },
      symbols);
  if (firstStep == SCAN_NOTHING_READ) firstStep = lightOnDark;
  if (symbols->size() >= maxSymbols) return firstStep;
  const ScanStep enlarged = addReadsOf(
      [&](std::vector<DecodedSymbol>* reads) { return readFromEnlargedGrey(grey, passes, passCount, reads, maxSymbols); },
      symbols);
  return firstStep != SCAN_NOTHING_READ ? firstStep : enlarged;
}
