// Study, run by hand: why thin symbols (8 to 16 rows) give the locator no candidate. For each size and
// rotation it renders a clean symbol, runs the global pass's locator and reports, for the contour that
// holds the symbol, the figures each filter in front of the finder test looks at.
#include <cmath>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include <opencv2/core/core_c.h>
#include <opencv2/imgproc/imgproc_c.h>

#include "decoder/decoder.h"
#include "decoder/decoder_internal.h"
#include "decoder/finder.h"
#include "tests/support/symbol_encoder.h"
#include "tests/support/symbol_renderer.h"

namespace {

struct Figures {
  int contourPoints = 0;
  int vertices5 = 0;
  int vertices15 = 0;
  double thinRatio = 0.0;  // max over c2, c3 of (|c0 c| + |c1 c|) / |c0 c1|; the finder test wants >= 1.1
  bool finderAt5 = false;
  bool finderAt15 = false;
  int candidates = 0;
};

double thinRatio(const CvSeq* polygon) {
  CornerQuad quad;
  if (estimateCorners(polygon, &quad) != CORNERS_FOUND) return 0.0;
  auto d = [](CvPoint a, CvPoint b) { return std::hypot(double(a.x - b.x), double(a.y - b.y)); };
  const double diagonal = d(quad.c0, quad.c1);
  return std::max(d(quad.c0, quad.c2) + d(quad.c1, quad.c2), d(quad.c0, quad.c3) + d(quad.c1, quad.c3)) / diagonal;
}

Figures study(const cv::Mat& grey, cv::Point2d centre, int threshold, int flags) {
  Figures figures;
  DecoderInspection inspection;
  inspection.afterLocate = [&](const SymbolDecoder& ctx) {
    figures.candidates = ctx.candidateCount;
    CvSeq* contour = ctx.contours;
    for (CvSeq* polygon = ctx.polygons; contour != nullptr && polygon != nullptr;
         contour = contour->h_next, polygon = polygon->h_next) {
      if (CV_IS_SEQ_HOLE(contour)) continue;
      const CvRect b = cvBoundingRect(contour, 0);
      if (!(centre.x > b.x && centre.x < b.x + b.width && centre.y > b.y && centre.y < b.y + b.height)) continue;
      if (contour->total <= figures.contourPoints) continue;  // the symbol's outline is the largest there
      figures.contourPoints = contour->total;
      figures.vertices5 = polygon->total;
      figures.thinRatio = thinRatio(polygon);
      SymbolDecoder scratch;
      figures.finderAt5 = testPolygon(&scratch, polygon, grey.cols, grey.rows);
      CvMemStorage* storage = cvCreateMemStorage(0);
      CvSeq* finer = cvApproxPoly(contour, sizeof(CvContour), storage, CV_POLY_APPROX_DP, 1.5, 0);
      figures.vertices15 = finer->total;
      scratch.candidateCount = 0;
      figures.finderAt15 = testPolygon(&scratch, finer, grey.cols, grey.rows);
      cvReleaseMemStorage(&storage);
    }
  };
  cv::Mat copy = grey.clone();
  IplImage ipl = cvIplImage(copy);
  runDecoder(&ipl, threshold, flags, &inspection, nullptr, nullptr, nullptr);
  return figures;
}

}  // namespace

int main() {
  using testsupport::EncoderLib;
  const std::vector<std::pair<int, int>> sizes = {{8, 18},  {8, 32},  {8, 48},  {8, 64},  {8, 80},  {8, 96},  {8, 120},
                                                  {8, 144}, {12, 26}, {12, 36}, {12, 64}, {16, 36}, {16, 48}, {16, 64}};
  std::printf("size    ppm rot  pts v5 v1.5 thin  L@5 L@1.5 cand whole\n");
  for (const auto& size : sizes) {
    const bool dmre =
        !(size == std::make_pair(8, 18) || size == std::make_pair(8, 32) || size == std::make_pair(12, 26) ||
          size == std::make_pair(12, 36) || size == std::make_pair(16, 36) || size == std::make_pair(16, 48));
    testsupport::ZintFeatures features;
    features.dmre = dmre;
    const std::string text = "THIN1";
    auto symbol = testsupport::encodeZintSymbol(std::vector<std::uint8_t>(text.begin(), text.end()), size.first,
                                                size.second, features);
    if (!symbol) {
      std::printf("%dx%d: encoder refused\n", size.first, size.second);
      continue;
    }
    for (double ppm : {3.0, 4.0}) {
      for (double rotation : {0.0, 30.0, 90.0}) {
        testsupport::RenderOptions options;
        options.moduleSize = ppm;
        options.rotationDeg = rotation;
        options.imageWidth = 800;
        options.imageHeight = 800;
        const auto rendered = testsupport::renderSymbol(*symbol, options);
        if (rendered.grey.empty()) continue;
        const Figures f =
            study(rendered.grey, cv::Point2d(400, 400), SCAN_GLOBAL_PASS.threshold, SCAN_GLOBAL_PASS.flags);
        cv::Mat copy = rendered.grey.clone();
        IplImage ipl = cvIplImage(copy);
        std::vector<DecodedSymbol> read;
        ScanStep step = SCAN_NOTHING_READ;
        scanImageMessages(&ipl, &read, &step);
        const bool right = !read.empty() && std::string(read[0].message.begin(), read[0].message.end()) == text;
        std::printf("%3dx%-3d %3.0f %3.0f %4d %2d %4d %5.3f %3d %5d %4d %s(%d)\n", size.first, size.second, ppm,
                    rotation, f.contourPoints, f.vertices5, f.vertices15, f.thinRatio, f.finderAt5, f.finderAt15,
                    f.candidates, right ? "read" : "miss", static_cast<int>(step));
      }
    }
  }
  return 0;
}
