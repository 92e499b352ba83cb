// Per-frame report of the whole read: which step read each frame, what it returned, and what the second
// look cost on it. Thread CPU time is used, the best of several runs, so that other work on the machine
// disturbs the figures little; run it under callgrind with --instr-atstart=no --repeat=1 for instruction counts per function
// of the whole read alone.
//
// Options:
//   --frames-per-size=N  as the benchmark; default 4
//   --sets=A,B           frame sets to run (symbols, empty, dmre, exact, flips, decoys); default all
//   --repeat=N           runs per frame, the fastest kept; default 3
//   --frames             print one line per frame as well as the summary
//   --every-look         every frame takes all the extra looks; by default frame k takes the k-th in turn,
//                        as the scanner does
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#else
#define CALLGRIND_START_INSTRUMENTATION
#define CALLGRIND_STOP_INSTRUMENTATION
#endif

#include "bench/frame_set.h"
#include "bench/report_text.h"
#include "decoder/decoder.h"

namespace {

using benchreport::printable;
using benchreport::quantile;

struct ReportOptions {
  int framesPerSize = 4;
  std::string sets;
  int repeat = 3;
  bool frames = false;
  bool everyLook = false;
};

double threadMillis() {
  timespec now;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return now.tv_sec * 1e3 + now.tv_nsec * 1e-6;
}

// The two passes alone, as the scanner runs them.
void readByPasses(IplImage* image) {
  DecodeResult results[DECODE_MAX_RESULTS];
  int count = 0;
  if (decodeImage(image, results, &count, SCAN_GLOBAL_PASS.threshold, SCAN_GLOBAL_PASS.flags) != 0) count = 0;
  if (count == 0) decodeImage(image, results, &count, SCAN_ADAPTIVE_PASS.threshold, SCAN_ADAPTIVE_PASS.flags);
}

struct FrameOutcome {
  ScanStep step = SCAN_NOTHING_READ;
  std::vector<std::string> texts;
  double wholeMillis = 1e300;
  double passesMillis = 1e300;
};

FrameOutcome measureFrame(const cv::Mat& grey, int repeat, int extraLookTurn) {
  FrameOutcome outcome;
  IplImage image = cvIplImage(grey);
  for (int r = 0; r < repeat; ++r) {
    DecodeResult results[DECODE_MAX_RESULTS];
    int count = 0;
    ScanStep step = SCAN_NOTHING_READ;
    const double start = threadMillis();
    // Under callgrind (--instr-atstart=no) only the whole read is counted, not the frame making.
    CALLGRIND_START_INSTRUMENTATION;
    if (scanImage(&image, results, &count, &step, nullptr, extraLookTurn) != 0) count = 0;
    CALLGRIND_STOP_INSTRUMENTATION;
    outcome.wholeMillis = std::min(outcome.wholeMillis, threadMillis() - start);
    outcome.step = step;
    outcome.texts.clear();
    for (int i = 0; i < count; ++i) outcome.texts.emplace_back(results[i].text);
    const double passesStart = threadMillis();
    readByPasses(&image);
    outcome.passesMillis = std::min(outcome.passesMillis, threadMillis() - passesStart);
  }
  return outcome;
}

bool wanted(const std::string& sets, const std::string& set) {
  if (sets.empty()) return true;
  return ("," + sets + ",").find("," + set + ",") != std::string::npos;
}

}  // namespace

int main(int argc, char** argv) {
  ReportOptions options;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--frames-per-size=", 18) == 0) {
      options.framesPerSize = std::atoi(argv[i] + 18);
    } else if (std::strncmp(argv[i], "--sets=", 7) == 0) {
      options.sets = argv[i] + 7;
    } else if (std::strncmp(argv[i], "--repeat=", 9) == 0) {
      options.repeat = std::max(1, std::atoi(argv[i] + 9));
    } else if (std::strcmp(argv[i], "--frames") == 0) {
      options.frames = true;
    } else if (std::strcmp(argv[i], "--every-look") == 0) {
      options.everyLook = true;
    } else {
      std::fprintf(stderr, "unknown option %s\n", argv[i]);
      return 2;
    }
  }
  const std::vector<benchframes::FrameRecipe> recipes = benchframes::makeRecipes(options.framesPerSize);
  const benchframes::FrameSize& size = benchframes::FRAME_SIZES[0];
  struct SetSummary {
    std::string name;
    int frames = 0, reads = 0, misreads = 0;
    std::vector<double> whole, passes, added;
  };
  std::vector<SetSummary> summaries;
  int turn = 0;
  for (const benchframes::FrameRecipe& recipe : recipes) {
    if (!wanted(options.sets, recipe.set)) continue;
    const benchframes::Frame frame = benchframes::renderFrame(recipe, size);
    if (frame.grey.empty()) continue;
    const FrameOutcome outcome = measureFrame(frame.grey, options.repeat, options.everyLook ? SCAN_EVERY_EXTRA_LOOK : turn++);
    const bool read = recipe.hasSymbol &&
                      std::find(outcome.texts.begin(), outcome.texts.end(), recipe.message) != outcome.texts.end();
    const bool misread = !outcome.texts.empty() && !read;
    if (summaries.empty() || summaries.back().name != recipe.set) {
      summaries.emplace_back();
      summaries.back().name = recipe.set;
    }
    SetSummary& summary = summaries.back();
    ++summary.frames;
    summary.reads += read ? 1 : 0;
    summary.misreads += misread ? 1 : 0;
    summary.whole.push_back(outcome.wholeMillis);
    summary.passes.push_back(outcome.passesMillis);
    summary.added.push_back(outcome.wholeMillis - outcome.passesMillis);
    if (options.frames) {
      std::printf("%s %s step=%d %s %.3f %.3f", recipe.set.c_str(), recipe.name.c_str(), outcome.step,
                  read ? "read" : misread ? "MISREAD" : "-", outcome.wholeMillis, outcome.passesMillis);
      for (const std::string& text : outcome.texts) std::printf(" |%s|", printable(text).c_str());
      std::printf("\n");
    }
  }
  std::printf("\n| set | frames | read | misreads | whole median | whole p95 | passes median | passes p95 | "
              "added median | added p95 |\n|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
  for (const SetSummary& s : summaries) {
    std::printf("| %s | %d | %d | %d | %.2f | %.2f | %.2f | %.2f | %.2f | %.2f |\n", s.name.c_str(), s.frames, s.reads,
                s.misreads, quantile(s.whole, 0.5), quantile(s.whole, 0.95), quantile(s.passes, 0.5),
                quantile(s.passes, 0.95), quantile(s.added, 0.5), quantile(s.added, 0.95));
  }
  return 0;
}
