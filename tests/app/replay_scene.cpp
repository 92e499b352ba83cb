#include "tests/app/replay_scene.h"

#include <csignal>

#include <opencv2/imgproc.hpp>

#include "tests/support/symbol_encoder.h"

static_assert(REPLAY_SHOW_EMPTY_SIGNAL == SIGUSR1 && REPLAY_SHOW_SYMBOL_SIGNAL == SIGUSR2);

namespace {

testsupport::RenderOptions replayOptions() {
  testsupport::RenderOptions options;
  options.imageWidth = REPLAY_FRAME_WIDTH;
  options.imageHeight = REPLAY_FRAME_HEIGHT;
  options.moduleSize = 9.0;
  options.quietZone = 2;
  options.centreX = 330.0;
  options.centreY = 270.0;
  options.rotationDeg = 8.0;
  options.background = 170;
  return options;
}

}  // namespace

std::optional<testsupport::RenderedSymbol> renderReplaySymbol(const std::string& text) {
  const auto symbol = testsupport::encodeSymbol(text, 0, 0);
  if (!symbol) return std::nullopt;
  testsupport::RenderedSymbol rendered = testsupport::renderSymbol(*symbol, replayOptions());
  if (rendered.grey.empty()) return std::nullopt;
  return rendered;
}

cv::Mat emptyReplayFrame() {
  const testsupport::RenderOptions options = replayOptions();
  return cv::Mat(options.imageHeight, options.imageWidth, CV_8UC1, cv::Scalar(options.background));
}
