// Binarisation: one global level (fixed or automatic) or the adaptive mean threshold.
#include "decoder/binarize.h"

#include <cstdint>

#include <opencv2/imgproc/imgproc_c.h>

#include "decoder/cv_handles.h"

namespace {

// The library's 4.x headers dropped this accessor; it reads one bin of a one-dimensional histogram.
float cvQueryHistValue_1D(CvHistogram* hist, int index) {
  return static_cast<float>(cvGetReal1D(hist->bins, index));
}

}  // namespace

int autoThreshold(IplImage* grey) {
  int histSize = 256;
  float range[] = {0.0f, 256.0f};
  float* ranges[] = {range};
  HistogramHandle hist(cvCreateHist(1, &histSize, CV_HIST_ARRAY, ranges, 1));
  {
    // The caller's image never leaves with a region of interest, not even when the library throws.
    ImageRoiScope wholeImage(grey, cvRect(0, 0, grey->width, grey->height));
    IplImage* planes[] = {grey};
    cvCalcHist(planes, hist.get(), 0, nullptr);
  }

  // Sums are 64-bit so that no frame size can overflow them; for every frame that fits 32 bits the
  // values, and so the level, are the same.
  std::int64_t counts[256];
  std::int64_t total = 0;
  std::int64_t sumAll = 0;
  for (int i = 0; i < 256; ++i) {
    counts[i] = cvRound(cvQueryHistValue_1D(hist.get(), i));
    total += counts[i];
    sumAll += i * counts[i];
  }
  hist.reset();

  // Each ratio and the variance are rounded to single precision, so near-equal variances compare the
  // same way on every platform.
  float best = -1.0f;
  int level = 0;
  std::int64_t wB = 0;
  std::int64_t sumB = 0;
  for (int i = 0; i < 256; ++i) {
    sumB += i * counts[i];
    wB += counts[i];
    const float w = static_cast<float>(static_cast<double>(wB) / static_cast<double>(total));
    const float mB = wB > 0 ? static_cast<float>(static_cast<double>(sumB) / static_cast<double>(wB)) : 0.0f;
    const float mF = total - wB > 0
                         ? static_cast<float>(static_cast<double>(sumAll - sumB) / static_cast<double>(total - wB))
                         : 0.0f;
    const double meanGap = static_cast<double>(mB) - mF;
    const float v = static_cast<float>(static_cast<double>(w) * (1.0 - w) * meanGap * meanGap);
    if (v > best) {
      best = v;
      level = i;
    }
  }
  return level;
}

void binarizeImage(SymbolDecoder* ctx, IplImage* grey, int threshold, int flags) {
  ctx->binary = cvCreateImage(cvGetSize(grey), IPL_DEPTH_8U, 1);
  if (flags & DECODE_GLOBAL_THRESHOLD) {
    const int level = static_cast<unsigned>(threshold) <= 255u ? threshold : autoThreshold(grey);
    cvThreshold(grey, ctx->binary, level, 255, CV_THRESH_BINARY_INV);
  }
  if (flags & DECODE_ADAPTIVE_THRESHOLD) {
    cvAdaptiveThreshold(grey, ctx->binary, 255, CV_ADAPTIVE_THRESH_MEAN_C, CV_THRESH_BINARY_INV, threshold, 0);
    ctx->adaptiveMode = 1;
  }
  if (flags & DECODE_CROP) ctx->cropMode = 1;
}
