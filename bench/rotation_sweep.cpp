// Every symbol size at every rotation in clean frames: no blur, no noise, quiet zone present. For each
// size, module size and angle the whole read runs once on a frame with one symbol in it; the misses are
// listed by size, module size and angle, then the reads per size and the totals.
//
// Options:
//   --sizes=RxC,RxC      only these sizes (rows x columns); default every size but the 8-row ones
//   --modules=A,B        pixels per module; default 3,4,6,8
//   --angle-step=N       degrees between rotations; default 5
//   --with-8-rows        include 8x18, 8x32 and the 8-row extension sizes
//   --jobs=N             frames read at once; default 1
//   --steps              print how many frames each step read
//   --text=T             encode T in every size it fits (libdmtx where it writes the size), not a text per size
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <opencv2/core/core_c.h>

#include "decoder/decoder.h"
#include "tests/support/symbol_encoder.h"
#include "tests/support/symbol_renderer.h"

namespace {

struct SweepOptions {
  std::vector<std::pair<int, int>> sizes;
  std::vector<int> modules = {3, 4, 6, 8};
  int angleStep = 5;
  bool withEightRows = false;
  int jobs = 1;
  bool steps = false;
  std::string text;  // empty: a text of its own for each size
};

struct FrameShape {
  int width;
  int height;
};
// The frame a symbol is drawn in: the smallest of these it fits at the angle.
constexpr FrameShape FRAME_SHAPES[] = {{640, 480}, {1920, 1080}};
constexpr int QUIET_ZONE = 2;  // modules

// A text of its own for each size, as long as the size holds of it (libdmtx for the sizes it writes
// in the standard's way, Zint for 144 x 144 and the extension sizes).
constexpr const char* BASE_TEXT = "Quarnel rotation sweep 0123456789 ABCDEFGHIJKLMNOPQRSTUVWXYZ abcdefghijklmnop";

struct SweepSymbol {
  int rows;
  int cols;
  bool extension;
  std::string message;
  testsupport::SymbolMatrix matrix;
};

std::optional<SweepSymbol> encodeFor(int rows, int cols, bool extension, const std::string& fixedText) {
  const bool useZint = extension || rows == 144;
  if (!fixedText.empty()) {
    std::optional<testsupport::SymbolMatrix> matrix;
    if (useZint) {
      testsupport::ZintFeatures features;
      features.dmre = extension;
      matrix = testsupport::encodeZintSymbol(std::vector<std::uint8_t>(fixedText.begin(), fixedText.end()), rows,
                                             cols, features);
    } else {
      matrix = testsupport::encodeSymbol(fixedText, rows, cols);
    }
    if (!matrix || matrix->rows != rows || matrix->cols != cols) return std::nullopt;
    return SweepSymbol{rows, cols, extension, fixedText, *matrix};
  }
  std::string base = std::to_string(rows) + "x" + std::to_string(cols) + " " + BASE_TEXT;
  while (base.size() < 1200) base += " " + std::string(BASE_TEXT);
  // Half the capacity or less: longest text the encoder takes, capped well below the symbol's limit.
  for (std::size_t length = std::min<std::size_t>(base.size(), rows * cols / 16 + 2); length >= 1; --length) {
    const std::string text = base.substr(0, length);
    std::optional<testsupport::SymbolMatrix> matrix;
    if (useZint) {
      testsupport::ZintFeatures features;
      features.dmre = extension;
      matrix = testsupport::encodeZintSymbol(std::vector<std::uint8_t>(text.begin(), text.end()), rows, cols,
                                             features);
    } else {
      matrix = testsupport::encodeSymbol(text, rows, cols);
    }
    if (matrix && matrix->rows == rows && matrix->cols == cols) {
      return SweepSymbol{rows, cols, extension, text, *matrix};
    }
  }
  return std::nullopt;
}

// Whether the symbol with its quiet zone fits inside the frame at the angle, with a pixel to spare.
bool fits(const SweepSymbol& symbol, double modulePixels, double angleDeg, const FrameShape& frame) {
  const double w = (symbol.cols + 2 * QUIET_ZONE) * modulePixels, h = (symbol.rows + 2 * QUIET_ZONE) * modulePixels;
  const double a = angleDeg * M_PI / 180.0;
  const double spanX = std::fabs(w * std::cos(a)) + std::fabs(h * std::sin(a));
  const double spanY = std::fabs(w * std::sin(a)) + std::fabs(h * std::cos(a));
  return spanX + 2.0 < frame.width && spanY + 2.0 < frame.height;
}

struct SweepCase {
  const SweepSymbol* symbol;
  int modulePixels;
  int angle;
  FrameShape frame;
};

struct CaseOutcome {
  bool read = false;
  bool wrong = false;  // a text came back that is not the encoder's input
  ScanStep step = SCAN_NOTHING_READ;
};

CaseOutcome readCase(const SweepCase& sweepCase) {
  testsupport::RenderOptions options;
  options.imageWidth = sweepCase.frame.width;
  options.imageHeight = sweepCase.frame.height;
  options.moduleSize = sweepCase.modulePixels;
  options.quietZone = QUIET_ZONE;
  options.rotationDeg = sweepCase.angle;
  const testsupport::RenderedSymbol rendered = testsupport::renderSymbol(sweepCase.symbol->matrix, options);
  CaseOutcome outcome;
  if (rendered.grey.empty()) return outcome;
  IplImage image = cvIplImage(rendered.grey);
  DecodeResult results[DECODE_MAX_RESULTS];
  int count = 0;
  if (scanImage(&image, results, &count, &outcome.step) != 0) count = 0;
  for (int i = 0; i < count; ++i) {
    if (sweepCase.symbol->message == results[i].text) {
      outcome.read = true;
    } else {
      outcome.wrong = true;
    }
  }
  return outcome;
}

std::vector<std::pair<int, int>> parseSizes(const char* list) {
  std::vector<std::pair<int, int>> sizes;
  std::stringstream stream(list);
  std::string item;
  while (std::getline(stream, item, ',')) {
    int rows = 0, cols = 0;
    if (std::sscanf(item.c_str(), "%dx%d", &rows, &cols) == 2) sizes.emplace_back(rows, cols);
  }
  return sizes;
}

std::vector<int> parseNumbers(const char* list) {
  std::vector<int> numbers;
  std::stringstream stream(list);
  std::string item;
  while (std::getline(stream, item, ',')) numbers.push_back(std::atoi(item.c_str()));
  return numbers;
}

bool parseOptions(int argc, char** argv, SweepOptions* options) {
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--sizes=", 8) == 0) {
      options->sizes = parseSizes(argv[i] + 8);
    } else if (std::strncmp(argv[i], "--modules=", 10) == 0) {
      options->modules = parseNumbers(argv[i] + 10);
    } else if (std::strncmp(argv[i], "--angle-step=", 13) == 0) {
      options->angleStep = std::max(1, std::atoi(argv[i] + 13));
    } else if (std::strcmp(argv[i], "--with-8-rows") == 0) {
      options->withEightRows = true;
    } else if (std::strncmp(argv[i], "--jobs=", 7) == 0) {
      options->jobs = std::max(1, std::atoi(argv[i] + 7));
    } else if (std::strncmp(argv[i], "--text=", 7) == 0) {
      options->text = argv[i] + 7;
    } else if (std::strcmp(argv[i], "--steps") == 0) {
      options->steps = true;
    } else {
      std::fprintf(stderr, "unknown option %s\n", argv[i]);
      return false;
    }
  }
  return true;
}

bool chosen(const SweepOptions& options, int rows, int cols) {
  if (!options.sizes.empty()) {
    return std::find(options.sizes.begin(), options.sizes.end(), std::make_pair(rows, cols)) != options.sizes.end();
  }
  return options.withEightRows || rows != 8;
}

}  // namespace

int main(int argc, char** argv) {
  SweepOptions options;
  if (!parseOptions(argc, argv, &options)) return 2;

  std::vector<SweepSymbol> symbols;
  for (const auto& [rows, cols] : testsupport::ecc200Sizes()) {
    if (!chosen(options, rows, cols)) continue;
    if (std::optional<SweepSymbol> symbol = encodeFor(rows, cols, false, options.text)) symbols.push_back(std::move(*symbol));
  }
  for (const auto& [rows, cols] : testsupport::dmreSizes()) {
    if (!chosen(options, rows, cols)) continue;
    if (std::optional<SweepSymbol> symbol = encodeFor(rows, cols, true, options.text)) symbols.push_back(std::move(*symbol));
  }

  std::vector<SweepCase> cases;
  for (const SweepSymbol& symbol : symbols) {
    for (const int modulePixels : options.modules) {
      for (int angle = 0; angle < 360; angle += options.angleStep) {
        for (const FrameShape& frame : FRAME_SHAPES) {
          if (!fits(symbol, modulePixels, angle, frame)) continue;
          cases.push_back({&symbol, modulePixels, angle, frame});
          break;
        }
      }
    }
  }

  std::vector<CaseOutcome> outcomes(cases.size());
  std::atomic<std::size_t> next{0};
  auto worker = [&]() {
    for (std::size_t i = next++; i < cases.size(); i = next++) outcomes[i] = readCase(cases[i]);
  };
  std::vector<std::thread> threads;
  for (int j = 1; j < options.jobs; ++j) threads.emplace_back(worker);
  worker();
  for (std::thread& thread : threads) thread.join();

  // Misses, one line per size and module size with the angles missed.
  std::map<const SweepSymbol*, std::pair<int, int>> perSize;  // read, tried
  std::map<std::pair<const SweepSymbol*, int>, std::string> missedAngles;
  std::map<int, int> stepCounts;
  int read = 0, wrong = 0;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const SweepCase& c = cases[i];
    const CaseOutcome& outcome = outcomes[i];
    perSize[c.symbol].second += 1;
    perSize[c.symbol].first += outcome.read ? 1 : 0;
    read += outcome.read ? 1 : 0;
    wrong += outcome.wrong ? 1 : 0;
    if (outcome.read) stepCounts[outcome.step] += 1;
    if (!outcome.read) missedAngles[{c.symbol, c.modulePixels}] += " " + std::to_string(c.angle);
    if (outcome.wrong) {
      std::printf("WRONG TEXT %dx%d %d px %d deg\n", c.symbol->rows, c.symbol->cols, c.modulePixels, c.angle);
    }
  }
  std::printf("misses (size, px per module: angles)\n");
  for (const auto& [key, angles] : missedAngles) {
    std::printf("  %dx%d%s %d px:%s\n", key.first->rows, key.first->cols, key.first->extension ? " dmre" : "",
                key.second, angles.c_str());
  }
  std::printf("\n| size | read | tried |\n|---|---:|---:|\n");
  for (const SweepSymbol& symbol : symbols) {
    const auto& counts = perSize[&symbol];
    std::printf("| %dx%d%s | %d | %d |\n", symbol.rows, symbol.cols, symbol.extension ? " dmre" : "", counts.first,
                counts.second);
  }
  std::printf("\ntotal: %d of %zu read, %d with a wrong text\n", read, cases.size(), wrong);
  if (options.steps) {
    for (const auto& [step, count] : stepCounts) std::printf("  read by step %d: %d\n", step, count);
  }
  return 0;
}
