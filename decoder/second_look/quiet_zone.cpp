// A picture whose symbol touches its border, read again inside a quiet zone of its own light level.
#include <algorithm>
#include <vector>

#include <opencv2/imgproc/imgproc_c.h>

#include "decoder/cv_handles.h"
#include "decoder/second_look/pure_pictures.h"

namespace {

// Every symbol has at least this many modules across its narrower side (8 x 18 and the 8-row extension
// sizes), so a symbol that fills the picture has modules no larger than the narrower side over this.
constexpr int FEWEST_MODULES_ACROSS = 8;
constexpr int BORDER_MODULES = 2;  // the quiet zone the passes need to tell a symbol's outline apart
constexpr int MIN_BORDER_PIXELS = 4;
// A framed copy larger than this is not made: the passes over it would take several times its size in
// memory for every file decoded at once, and a symbol that fills so large a picture is rare.
constexpr double MAX_FRAMED_PIXELS = 64e6;

// Two of the largest modules a symbol filling the picture can have, and never less than a few pixels.
int quietZoneWidth(const IplImage* grey) {
  const int narrower = std::min(grey->width, grey->height);
  const int largestModule = (narrower + FEWEST_MODULES_ACROSS - 1) / FEWEST_MODULES_ACROSS;
  return std::max(MIN_BORDER_PIXELS, BORDER_MODULES * largestModule);
}

CvPoint backIntoPicture(CvPoint p, int border, const IplImage* grey) {
  return cvPoint(std::clamp(p.x - border, 0, grey->width - 1), std::clamp(p.y - border, 0, grey->height - 1));
}

}  // namespace

ScanStep readInAddedQuietZone(const IplImage* grey, PictureRead read, std::vector<DecodedSymbol>* symbols) {
  if (grey == nullptr || grey->width <= 0 || grey->height <= 0 || symbols == nullptr) return SCAN_NOTHING_READ;
  const int border = quietZoneWidth(grey);
  if (static_cast<double>(grey->width + 2 * border) * (grey->height + 2 * border) > MAX_FRAMED_PIXELS) {
    return SCAN_NOTHING_READ;
  }
  ImageHandle framed(cvCreateImage(cvSize(grey->width + 2 * border, grey->height + 2 * border), IPL_DEPTH_8U, 1));
  cvCopyMakeBorder(grey, framed.get(), cvPoint(border, border), IPL_BORDER_CONSTANT,
                   cvScalarAll(pictureLevels(grey).light));
  std::vector<DecodedSymbol> found;
  if (read(framed.get(), &found) != 0 || found.empty()) return SCAN_NOTHING_READ;
  for (DecodedSymbol& symbol : found) {
    for (CvPoint& corner : symbol.corners) corner = backIntoPicture(corner, border, grey);
    symbols->push_back(std::move(symbol));
  }
  return SCAN_READ_IN_ADDED_QUIET_ZONE;
}
