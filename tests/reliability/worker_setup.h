// The reliability tests' scanner set-up: pictures that the first decoding pass reads, and a fake
// platform whose clock moves only when the worker pauses and whose keyboard records whole lines.
#ifndef QUARNEL_TESTS_RELIABILITY_WORKER_SETUP_H_
#define QUARNEL_TESTS_RELIABILITY_WORKER_SETUP_H_

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <utility>

#include <opencv2/core.hpp>

#include "app/scanner_worker.h"
#include "app/text_keysyms.h"
#include "tests/support/symbol_encoder.h"
#include "tests/support/symbol_renderer.h"

namespace reliability {

// The worker asks the camera for 15 frames a second; the fake camera reports that rate too.
constexpr std::int64_t FRAME_TIME_15_FPS = 10000000 / 15;

// The first decoding pass reads exactly one symbol in picture, and its text is text.
inline bool readsOnFirstPass(const cv::Mat& picture, const std::string& text) {
  cv::Mat grey = picture.clone();
  IplImage image = cvIplImage(grey);
  DecodeResult results[DECODE_MAX_RESULTS];
  int count = 0;
  return decodeImage(&image, results, &count, SCAN_GLOBAL_PASS.threshold, SCAN_GLOBAL_PASS.flags) == 0 &&
         count == 1 && std::string(results[0].text) == text;
}

// A width x height picture of a 16 x 16 symbol of text in the first of the rotations that the first
// pass reads: these tests are about the worker, not the decoder's reach. Empty when none reads.
inline cv::Mat firstPassPicture(const std::string& text, int width, int height,
                                std::initializer_list<double> rotations) {
  const auto symbol = testsupport::encodeSymbol(text, 16, 16);
  if (!symbol) return cv::Mat();
  for (const double rotation : rotations) {
    testsupport::RenderOptions options;
    options.imageWidth = width;
    options.imageHeight = height;
    options.moduleSize = 4.0;
    options.rotationDeg = rotation;
    options.noiseSigma = 2.0;
    const cv::Mat picture = testsupport::renderSymbol(*symbol, options).grey;
    if (!picture.empty() && readsOnFirstPass(picture, text)) return picture;
  }
  return cv::Mat();
}

// Keyboard, sound and clock ports of a fake platform: each typed line goes whole to lineTyped, beeps to
// beeped; the clock moves only when the worker sleeps. The caller adds the preview port.
struct TypingHost {
  std::uint32_t now = 0;
  std::string line;
  std::function<void(std::string)> lineTyped = [](std::string) {};
  std::function<void()> beeped = [] {};

  AppPorts ports() {
    AppPorts p;
    // Every byte on the key of its own code, Return on '\n' and Tab on '\t'.
    p.keyboard.keysymScan = [](std::uint32_t keysym) {
      if (keysym == TEXT_KEYSYM_RETURN) return static_cast<std::int16_t>('\n');
      if (keysym == TEXT_KEYSYM_TAB) return static_cast<std::int16_t>('\t');
      return keysym <= 0xFF ? static_cast<std::int16_t>(keysym) : KEY_SCAN_NONE;
    };
    p.keyboard.keyEvent = [this](int key, unsigned flags) {
      if ((flags & KEY_EVENT_UP) != 0 || key >= 0x100) return;
      if (key == '\n') {
        lineTyped(std::move(line));
        line.clear();
      } else {
        line += static_cast<char>(key);
      }
    };
    p.keyboard.flushKeys = [] {};
    p.sound.beep = [this](std::uint32_t, std::uint32_t) { beeped(); };
    p.clock.tickCount = [this] { return now; };
    p.clock.sleepMs = [this](std::uint32_t ms) { now += ms; };
    return p;
  }
};

}  // namespace reliability

#endif  // QUARNEL_TESTS_RELIABILITY_WORKER_SETUP_H_
