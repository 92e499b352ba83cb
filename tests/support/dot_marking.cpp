// Dots are drawn on a symbol of light modules alone, before the camera's blur and noise.
#include "tests/support/dot_marking.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include <opencv2/imgproc.hpp>

namespace testsupport {

RenderedSymbol renderDotSymbol(const SymbolMatrix& symbol, const RenderOptions& options, double dotShare) {
  constexpr int SHIFT = 4;         // fillPoly's fixed-point fraction bits
  constexpr int OUTLINE_STEPS = 24;  // points around each dot, mapped through the symbol's perspective
  SymbolMatrix blank = symbol;
  std::fill(blank.modules.begin(), blank.modules.end(), std::uint8_t{0});
  RenderOptions clean = options;
  clean.blurSigma = 0.0;
  clean.noiseSigma = 0.0;
  RenderedSymbol rendered = renderSymbol(blank, clean);
  if (rendered.grey.empty() || !(dotShare > 0.0 && dotShare <= 1.0)) return RenderedSymbol{};

  const double radius = dotShare / 2.0;
  std::vector<std::vector<cv::Point>> dots;
  for (int r = 0; r < symbol.rows; ++r) {
    for (int c = 0; c < symbol.cols; ++c) {
      if (symbol.at(r, c) == 0) continue;
      std::vector<cv::Point> outline;
      for (int k = 0; k < OUTLINE_STEPS; ++k) {
        const double a = 2.0 * CV_PI * k / OUTLINE_STEPS;
        const cv::Point2d p = moduleToImage(rendered.corners, symbol.rows, symbol.cols,
                                            {c + 0.5 + radius * std::cos(a), r + 0.5 + radius * std::sin(a)});
        outline.emplace_back(cvRound(p.x * (1 << SHIFT)), cvRound(p.y * (1 << SHIFT)));
      }
      dots.push_back(std::move(outline));
    }
  }
  cv::fillPoly(rendered.grey, dots, cv::Scalar(options.dark), cv::LINE_AA, SHIFT);

  if (options.blurSigma > 0.0) {
    cv::GaussianBlur(rendered.grey, rendered.grey, cv::Size(0, 0), options.blurSigma, options.blurSigma,
                     cv::BORDER_REPLICATE);
  }
  if (options.noiseSigma > 0.0) {
    cv::Mat noise(rendered.grey.size(), CV_32F);
    cv::RNG rng(options.seed * 2654435761u + 7u);
    rng.fill(noise, cv::RNG::NORMAL, 0.0, options.noiseSigma);
    cv::Mat canvas;
    rendered.grey.convertTo(canvas, CV_32F);
    canvas += noise;
    canvas.convertTo(rendered.grey, CV_8U);
  }
  return rendered;
}

}  // namespace testsupport
