// Read study for the perspective recovery, run by hand (never by the test suite): symbols from an
// independent encoder in pixel-exact, tilted, large, damaged and empty pictures; every candidate of
// both passes goes through readByPerspective as the second look would hand it over. Prints per set
// and size the pictures read, the wrong texts (must be 0) and the time of the perspective reads per
// picture. Time figures are meaningful in a release build.
//
//   perspective_read_study [pictures-per-size]
#include <algorithm>
#include <ctime>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/core/core_c.h>

#include "decoder/decoder.h"
#include "decoder/ecc200/ecc200.h"
#include "tests/decoder/second_look/located_candidates.h"
#include "decoder/second_look/perspective_read.h"
#include "tests/support/symbol_encoder.h"
#include "tests/support/symbol_renderer.h"

namespace {

using testsupport::SymbolMatrix;

// CPU time of this thread in milliseconds: other programs on the machine do not count.
double cpuMilliseconds() {
  timespec now;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return now.tv_sec * 1e3 + now.tv_nsec * 1e-6;
}

struct Picture {
  cv::Mat grey;
  std::vector<std::string> messages;  // texts of the symbols in it; any other read is wrong
  std::string size;                   // "rows x cols" of the first symbol, or "none"
};

struct Outcome {
  bool passesRead = false;
  bool read = false;
  bool wrong = false;
  double milliseconds = 0.0;
  int candidates = 0;  // tried before the read, or all when none read
};

Outcome examine(const Picture& picture) {
  Outcome outcome;
  cv::Mat copy = picture.grey.clone();
  IplImage ipl = cvIplImage(copy);
  DecodeResult results[DECODE_MAX_RESULTS];
  int count = 0;
  decodeImage(&ipl, results, &count, -1, DECODE_GLOBAL_THRESHOLD | DECODE_CROP);
  if (count <= 0) {
    count = 0;
    decodeImage(&ipl, results, &count, 15, DECODE_ADAPTIVE_THRESHOLD | DECODE_CROP);
  }
  outcome.passesRead = count > 0;
  const LocatedPass passes[2] = {locatePass(picture.grey, -1, DECODE_GLOBAL_THRESHOLD | DECODE_CROP),
                                 locatePass(picture.grey, 15, DECODE_ADAPTIVE_THRESHOLD | DECODE_CROP)};
  IplImage grey = cvIplImage(picture.grey);
  const double start = cpuMilliseconds();
  DecodedSymbol symbol;
  for (const LocatedPass& pass : passes) {
    if (pass.binary.empty()) continue;
    IplImage binary = cvIplImage(pass.binary);
    for (const LocatedCandidate& candidate : pass.candidates) {
      ++outcome.candidates;
      if (readByPerspective(&grey, &binary, candidate, &symbol)) {
        outcome.read = true;
        break;
      }
    }
    if (outcome.read) break;
  }
  outcome.milliseconds = cpuMilliseconds() - start;
  if (outcome.read) {
    const std::string text(symbol.message.begin(), symbol.message.end());
    outcome.wrong = std::find(picture.messages.begin(), picture.messages.end(), text) == picture.messages.end();
    if (outcome.wrong) std::printf("  WRONG read in %s: \"%s\"\n", picture.size.c_str(), text.c_str());
  }
  return outcome;
}

struct Tally {
  int pictures = 0, passes = 0, read = 0, wrong = 0, rescued = 0;
  std::vector<double> times;
  double rescuedWorst = 0.0;  // slowest picture among those the perspective read rescued
  void add(const Outcome& o) {
    if (!o.passesRead && o.read && !o.wrong) rescuedWorst = std::max(rescuedWorst, o.milliseconds);
    ++pictures;
    passes += o.passesRead;
    read += o.read && !o.wrong;
    wrong += o.wrong;
    rescued += !o.passesRead && o.read && !o.wrong;
    times.push_back(o.milliseconds);
  }
  double percentile(double p) const {
    if (times.empty()) return 0.0;
    std::vector<double> sorted = times;
    std::sort(sorted.begin(), sorted.end());
    return sorted[std::min(sorted.size() - 1, static_cast<size_t>(p * sorted.size()))];
  }
};

void printTally(const std::string& name, const Tally& t) {
  std::printf("%-24s %4d pictures  passes %5.1f%%  perspective %5.1f%%  wrong %d  rescued %3d  "
              "ms median %.2f p95 %.2f max %.2f, rescued max %.2f\n",
              name.c_str(), t.pictures, 100.0 * t.passes / std::max(1, t.pictures),
              100.0 * t.read / std::max(1, t.pictures), t.wrong, t.rescued, t.percentile(0.5), t.percentile(0.95),
              t.percentile(1.0), t.rescuedWorst);
}

std::string sizeName(int rows, int cols) { return std::to_string(rows) + "x" + std::to_string(cols); }

std::string randomText(std::mt19937& random, int length) {
  static const char ALPHABET[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz -./";
  std::string text;
  for (int k = 0; k < length; ++k) text += ALPHABET[random() % (sizeof ALPHABET - 1)];
  return text;
}

// A symbol of exactly rows x cols holding random text, zint for 144 x 144.
bool makeSymbol(std::mt19937& random, int rows, int cols, SymbolMatrix* symbol, std::string* text) {
  const auto lib = rows == 144 ? testsupport::EncoderLib::Zint : testsupport::EncoderLib::Dmtx;
  for (int length = std::max(1, rows * cols / 16); length > 0; length /= 2) {
    *text = randomText(random, length);
    if (auto made = testsupport::encodeSymbol(*text, rows, cols, testsupport::EncodeScheme::Auto, lib)) {
      *symbol = *made;
      return true;
    }
  }
  return false;
}

// The symbol as encoders write pictures: integer module size, no blur, quiet zone of `quiet` modules.
cv::Mat pixelExact(const SymbolMatrix& symbol, int modulePixels, int quiet) {
  cv::Mat grey((symbol.rows + 2 * quiet) * modulePixels, (symbol.cols + 2 * quiet) * modulePixels, CV_8UC1,
               cv::Scalar(255));
  for (int r = 0; r < symbol.rows; ++r) {
    for (int c = 0; c < symbol.cols; ++c) {
      if (symbol.at(r, c) == 0) continue;
      grey(cv::Rect((c + quiet) * modulePixels, (r + quiet) * modulePixels, modulePixels, modulePixels)) = 0;
    }
  }
  return grey;
}

double uniform(std::mt19937& random, double low, double high) {
  return std::uniform_real_distribution<double>(low, high)(random);
}

testsupport::RenderOptions cameraLook(std::mt19937& random, const SymbolMatrix& symbol, double moduleSize) {
  testsupport::RenderOptions look;
  look.moduleSize = moduleSize;
  look.rotationDeg = uniform(random, 0.0, 360.0);
  look.tiltXDeg = uniform(random, -30.0, 30.0);
  look.tiltYDeg = uniform(random, -30.0, 30.0);
  look.blurSigma = uniform(random, 0.0, 0.8);
  look.noiseSigma = uniform(random, 0.0, 4.0);
  look.unevenLight = uniform(random, 0.0, 0.3);
  look.clutter = static_cast<int>(random() % 8);
  look.seed = random();
  const double side = std::hypot(symbol.rows + 4, symbol.cols + 4) * moduleSize * 1.5;
  look.imageWidth = std::max(640, static_cast<int>(side) + 40);
  look.imageHeight = std::max(480, static_cast<int>(side) + 40);
  return look;
}

// A symbol of up to 52 rows with a random text, as a camera sees it at 3 to 7 px per module; false
// when the size is larger or the encoder or the renderer refused.
bool renderSmallCameraSymbol(std::mt19937& random, const std::pair<int, int>& size, SymbolMatrix* symbol,
                             std::string* text, testsupport::RenderedSymbol* rendered) {
  if (size.first > 52) return false;
  if (!makeSymbol(random, size.first, size.second, symbol, text)) return false;
  *rendered = testsupport::renderSymbol(*symbol, cameraLook(random, *symbol, uniform(random, 3.0, 7.0)));
  return !rendered->grey.empty();
}

void flipBeyond(std::mt19937& random, cv::Mat& grey, const SymbolMatrix& matrix,
                const testsupport::SymbolCorners& corners, double share) {
  const int inner = (matrix.rows - 2) * (matrix.cols - 2);
  const int flips = std::max(1, static_cast<int>(inner * share));
  for (int k = 0; k < flips; ++k) {
    const int row = 1 + static_cast<int>(random() % static_cast<unsigned>(matrix.rows - 2));
    const int col = 1 + static_cast<int>(random() % static_cast<unsigned>(matrix.cols - 2));
    testsupport::occludeModules(grey, corners, matrix.rows, matrix.cols, cv::Rect2d(col, row, 1, 1),
                                matrix.at(row, col) != 0 ? 220 : 30);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const int perSize = argc > 1 ? std::atoi(argv[1]) : 4;
  std::mt19937 random(0x9E5Bu);
  const auto& sizes = testsupport::ecc200Sizes();

  // Pixel-exact pictures, every size at integer module sizes.
  Tally exactAll;
  for (const auto& size : sizes) {
    Tally exact;
    for (int modulePixels : {3, 4, 5, 6, 7, 8, 10, 12, 16, 20}) {
      if ((size.second + 4) * modulePixels > 2400) continue;
      SymbolMatrix symbol;
      std::string text;
      if (!makeSymbol(random, size.first, size.second, &symbol, &text)) continue;
      const Picture picture = {pixelExact(symbol, modulePixels, 2), {text}, sizeName(size.first, size.second)};
      const Outcome o = examine(picture);
      if (!o.read) {
        std::printf("  pixel-exact %s at %d px: not read (%d candidates, passes %s)\n", picture.size.c_str(),
                    modulePixels, o.candidates, o.passesRead ? "read" : "miss");
      }
      exact.add(o);
      exactAll.add(o);
    }
    printTally("pixel-exact " + sizeName(size.first, size.second), exact);
  }
  printTally("pixel-exact all", exactAll);

  // Camera-like pictures with tilt up to 30 degrees, 3 to 8 px per module.
  Tally tiltedAll;
  for (const auto& size : sizes) {
    Tally tilted;
    for (int k = 0; k < perSize; ++k) {
      SymbolMatrix symbol;
      std::string text;
      if (!makeSymbol(random, size.first, size.second, &symbol, &text)) continue;
      const double moduleSize = uniform(random, 3.0, size.first >= 88 ? 5.0 : 8.0);
      const auto rendered = testsupport::renderSymbol(symbol, cameraLook(random, symbol, moduleSize));
      if (rendered.grey.empty()) continue;
      const Outcome o = examine({rendered.grey, {text}, sizeName(size.first, size.second)});
      if (!o.read && !o.passesRead) {
        std::printf("  tilted %s at %.1f px: not read (%d candidates)\n", sizeName(size.first, size.second).c_str(),
                    moduleSize, o.candidates);
      }
      tilted.add(o);
      tiltedAll.add(o);
    }
    printTally("tilted " + sizeName(size.first, size.second), tilted);
  }
  printTally("tilted all", tiltedAll);

  // Module flips beyond what the code mends, and torn or covered areas.
  Tally damaged;
  for (int k = 0; k < perSize * 60; ++k) {
    const auto& size = sizes[random() % sizes.size()];
    SymbolMatrix symbol;
    std::string text;
    testsupport::RenderedSymbol rendered;
    if (!renderSmallCameraSymbol(random, size, &symbol, &text, &rendered)) continue;
    switch (k % 3) {
      case 0: flipBeyond(random, rendered.grey, symbol, rendered.corners, uniform(random, 0.03, 0.3)); break;
      case 1: {
        const double w = symbol.cols * uniform(random, 0.3, 0.8), h = symbol.rows * uniform(random, 0.3, 0.8);
        testsupport::occludeModules(rendered.grey, rendered.corners, symbol.rows, symbol.cols,
                                    cv::Rect2d(uniform(random, 0, symbol.cols - w), uniform(random, 0, symbol.rows - h), w, h),
                                    (random() % 2) ? 30 : 220);
        break;
      }
      default: {
        const double depth = uniform(random, 1.0, std::max(1.5, std::min(symbol.rows, symbol.cols) / 3.0));
        testsupport::occludeModules(rendered.grey, rendered.corners, symbol.rows, symbol.cols,
                                    cv::Rect2d(symbol.cols - depth, -3.0, depth + 3.0, symbol.rows + 6.0), 180);
      }
    }
    damaged.add(examine({rendered.grey, {text}, sizeName(size.first, size.second)}));
  }
  printTally("damaged", damaged);

  // Module flips spread over the data area, up to what the code can mend.
  Tally mendable;
  for (int k = 0; k < perSize * 60; ++k) {
    const auto& size = sizes[random() % sizes.size()];
    SymbolMatrix symbol;
    std::string text;
    testsupport::RenderedSymbol rendered;
    if (!renderSmallCameraSymbol(random, size, &symbol, &text, &rendered)) continue;
    const Ecc200Symbol* table = findEcc200Symbol(size.second, size.first);
    const int capacity = table->eccCodewords / 2;
    const int flips = 1 + static_cast<int>(random() % static_cast<unsigned>(capacity));
    for (int f = 0; f < flips; ++f) {
      const int row = 1 + static_cast<int>(random() % static_cast<unsigned>(symbol.rows - 2));
      const int col = 1 + static_cast<int>(random() % static_cast<unsigned>(symbol.cols - 2));
      testsupport::occludeModules(rendered.grey, rendered.corners, symbol.rows, symbol.cols, cv::Rect2d(col, row, 1, 1),
                                  symbol.at(row, col) != 0 ? 220 : 30);
    }
    mendable.add(examine({rendered.grey, {text}, sizeName(size.first, size.second)}));
  }
  printTally("flips within capacity", mendable);

  // Clutter alone.
  Tally empty;
  for (int k = 0; k < perSize * 30; ++k) {
    testsupport::RenderOptions look;
    look.clutter = 10 + static_cast<int>(random() % 40);
    look.noiseSigma = uniform(random, 0.0, 4.0);
    look.blurSigma = uniform(random, 0.0, 0.8);
    look.seed = random();
    const auto scene = testsupport::renderSymbols({}, look);
    if (scene.grey.empty()) continue;
    empty.add(examine({scene.grey, {}, "none"}));
  }
  printTally("clutter only", empty);
  return 0;
}
