// The locator's candidates paired with their polygons: every polygon that passes the cheap filters is
// put through the finder test once more on a scratch context, which accepts exactly the polygons the
// pass accepted, in the same order, so each accepted one is known with its outline.
#include "tests/decoder/second_look/located_candidates.h"

#include <memory>

#include <opencv2/core/core_c.h>
#include <opencv2/imgproc/imgproc_c.h>

#include "decoder/decoder_internal.h"
#include "decoder/finder.h"

LocatedPass locatePass(const cv::Mat& grey, int threshold, int flags) {
  LocatedPass pass;
  DecoderInspection inspection;
  inspection.afterLocate = [&pass, &grey](const SymbolDecoder& ctx) {
    pass.binary = cv::cvarrToMat(ctx.binary).clone();
    auto scratch = std::make_unique<SymbolDecoder>();
    for (CvSeq* polygon = ctx.polygons; polygon != nullptr; polygon = polygon->h_next) {
      if (scratch->candidateCount >= ctx.candidateCount) break;
      if (polygon->total < 20) continue;
      const CvRect bounds = cvBoundingRect(polygon, 0);
      if (bounds.width < 10 || bounds.height < 10) continue;
      const int before = scratch->candidateCount;
      if (!testPolygon(scratch.get(), polygon, grey.cols, grey.rows)) continue;
      LocatedCandidate located;
      for (int c = 0; c < 4; ++c) located.corners[c] = scratch->candidates[before].corners[c];
      for (int v = 0; v < polygon->total; ++v) located.polygon.push_back(*CV_GET_SEQ_ELEM(CvPoint, polygon, v));
      pass.candidates.push_back(located);
    }
  };
  cv::Mat copy = grey.clone();
  IplImage ipl = cvIplImage(copy);
  runDecoder(&ipl, threshold, flags, &inspection, nullptr, nullptr, nullptr);
  return pass;
}

bool globalPassLeftovers(const cv::Mat& grey, PassLeftovers* pass) {
  cv::Mat copy = grey.clone();
  IplImage ipl = cvIplImage(copy);
  return runDecoder(&ipl, SCAN_GLOBAL_PASS.threshold, SCAN_GLOBAL_PASS.flags, nullptr, nullptr, nullptr, nullptr,
                    pass) == 0;
}
