// Decoder benchmark: our reader against zxing-cpp and libdmtx on the same camera-like frames, with decode
// rate, misreads, time per frame, our time per stage, and our heap and resident memory.
//
// Own options (the Google Benchmark ones pass through):
//   --frames-per-size=N     symbol frames per ECC 200 size (and as many frames without symbol); default 1
//   --sizes=A,B             frame sizes to make, e.g. 640x480; default all three
//   --long-run=N            decodeImage calls of the resident-memory run; default 3000, 0 skips it
//   --write-fixture=FILE    write our outputs on every frame (both passes) and exit
//   --check-fixture=FILE    compare our outputs with FILE and exit non-zero on any difference
//   --frame-report          list every frame of the first size with its look and which readers read it, and exit
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "bench/alloc_counter.h"
#include "decoder/decoder.h"
#include "bench/frame_set.h"
#include "bench/pass_outputs.h"
#include "bench/readers.h"
#include "decoder/stage_timing.h"

namespace {

using benchframes::Frame;
using benchframes::FrameRecipe;
using benchreaders::Reader;

struct BenchOptions {
  int framesPerSize = 1;
  int longRunCalls = 3000;
  std::string writeFixture;
  std::string checkFixture;
  bool frameReport = false;
  std::string sizes;  // empty: all
};

// The frames of one size, split into those with a symbol and those without.
struct FrameSet {
  std::string name;  // "640x480 symbols", "640x480 empty", "640x480 dmre", ...
  std::string sizeName;
  bool withSymbols = false;
  std::vector<Frame> frames;
};

// What one reader did on one frame set.
struct SetResult {
  int frames = 0;
  int reads = 0;     // a returned text equals the encoded message
  int misreads = 0;  // a text was returned that is not the message (any text, on frames without symbol)
  std::vector<double> millis;      // process CPU time per frame
  std::vector<double> wallMillis;  // elapsed time per frame
  StageTotals stages;
  int readsByStep[SCAN_STEP_COUNT] = {};  // our whole read: correct reads by the step that read
};

std::map<std::pair<std::string, std::string>, SetResult> collected;  // (reader, set) -> result

bool readOption(const char* arg, const char* name, std::string* value) {
  const size_t length = std::strlen(name);
  if (std::strncmp(arg, name, length) != 0 || arg[length] != '=') return false;
  *value = arg + length + 1;
  return true;
}

// Takes our own options out of argv, leaving Google Benchmark's.
BenchOptions parseOptions(int* argc, char** argv) {
  BenchOptions options;
  int kept = 1;
  for (int i = 1; i < *argc; ++i) {
    std::string value;
    if (readOption(argv[i], "--frames-per-size", &value)) {
      options.framesPerSize = std::max(1, std::stoi(value));
    } else if (readOption(argv[i], "--long-run", &value)) {
      options.longRunCalls = std::max(0, std::stoi(value));
    } else if (readOption(argv[i], "--write-fixture", &value)) {
      options.writeFixture = value;
    } else if (readOption(argv[i], "--check-fixture", &value)) {
      options.checkFixture = value;
    } else if (readOption(argv[i], "--sizes", &value)) {
      options.sizes = value;
    } else if (std::strcmp(argv[i], "--frame-report") == 0) {
      options.frameReport = true;
    } else {
      argv[kept++] = argv[i];
    }
  }
  *argc = kept;
  return options;
}

// One frame set per recipe set and frame size: the camera-like sets (symbols, empty) of every size first,
// then the later sets of every size, so that the fixture written from them only grows at its end.
std::vector<FrameSet> renderFrameSets(const std::vector<FrameRecipe>& recipes, const std::string& sizes) {
  const std::vector<std::vector<const char*>> setGroups = {
      {benchframes::SET_SYMBOLS, benchframes::SET_EMPTY},
      {benchframes::SET_DMRE, benchframes::SET_EXACT, benchframes::SET_FLIPS, benchframes::SET_DECOYS}};
  std::vector<FrameSet> sets;
  for (const std::vector<const char*>& group : setGroups) {
    for (const benchframes::FrameSize& size : benchframes::FRAME_SIZES) {
      if (!sizes.empty() && ("," + sizes + ",").find(std::string(",") + size.name + ",") == std::string::npos) continue;
      for (const char* setName : group) {
        FrameSet set{std::string(size.name) + " " + setName, size.name, false, {}};
        for (const FrameRecipe& recipe : recipes) {
          if (recipe.set != setName) continue;
          Frame frame = benchframes::renderFrame(recipe, size);
          if (frame.grey.empty()) {
            std::fprintf(stderr, "frame %s does not render at %s\n", recipe.name.c_str(), size.name);
            continue;
          }
          set.withSymbols = recipe.hasSymbol;
          set.frames.push_back(std::move(frame));
        }
        if (!set.frames.empty()) sets.push_back(std::move(set));
      }
    }
  }
  return sets;
}

double percentile(std::vector<double> values, double share) {
  if (values.empty()) return 0.0;
  std::sort(values.begin(), values.end());
  const size_t index = std::min(values.size() - 1, static_cast<size_t>(share * (values.size() - 1) + 0.5));
  return values[index];
}

// CPU time of the whole process, so that work a reader hands to helper threads counts, and other
// programs on the machine do not.
double processCpuSeconds() {
  timespec now;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + now.tv_nsec * 1e-9;
}

void readFrameSet(benchmark::State& state, Reader reader, const FrameSet& set) {
  SetResult& result = collected[{benchreaders::readerName(reader), set.name}];
  for (auto _ : state) {
    resetStageTotals();
    double totalSeconds = 0.0;
    for (const Frame& frame : set.frames) {
      const double cpuStart = processCpuSeconds();
      const auto start = std::chrono::steady_clock::now();
      int readBy = SCAN_NOTHING_READ;
      const std::vector<std::string> texts = reader == Reader::Quarnel
                                                 ? benchreaders::readWithQuarnel(frame.grey, &readBy)
                                                 : benchreaders::readFrame(reader, frame.grey);
      const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
      const double cpuSeconds = processCpuSeconds() - cpuStart;
      totalSeconds += cpuSeconds;
      result.millis.push_back(cpuSeconds * 1000.0);
      result.wallMillis.push_back(elapsed.count() * 1000.0);
      ++result.frames;
      const std::string& expected = frame.recipe->message;
      const bool read = frame.recipe->hasSymbol && std::find(texts.begin(), texts.end(), expected) != texts.end();
      const bool misread = std::any_of(texts.begin(), texts.end(), [&](const std::string& text) {
        return !frame.recipe->hasSymbol || text != expected;
      });
      result.reads += read ? 1 : 0;
      result.misreads += misread ? 1 : 0;
      if (read) ++result.readsByStep[readBy];
    }
    const StageTotals stages = stageTotals();
    for (int s = 0; s < STAGE_COUNT; ++s) result.stages.nanoseconds[s] += stages.nanoseconds[s];
    state.SetIterationTime(totalSeconds);
  }
  state.counters["frames"] = result.frames;
  state.counters["rate%"] = set.withSymbols && result.frames > 0 ? 100.0 * result.reads / result.frames : 0.0;
  state.counters["misreads"] = result.misreads;
  state.counters["median_ms"] = percentile(result.millis, 0.5);
  state.counters["p95_ms"] = percentile(result.millis, 0.95);
  state.counters["median_wall_ms"] = percentile(result.wallMillis, 0.5);
}

void registerBenchmarks(const std::vector<FrameSet>& sets) {
  for (Reader reader : benchreaders::ALL_READERS) {
    for (const FrameSet& set : sets) {
      std::string name = std::string("read/") + benchreaders::readerName(reader) + "/" + set.sizeName + "/" +
                         set.name.substr(set.sizeName.size() + 1);
      benchmark::RegisterBenchmark(name.c_str(), readFrameSet, reader, std::cref(set))
          ->Iterations(1)
          ->UseManualTime()
          ->Unit(benchmark::kMillisecond);
    }
  }
}

void printReadTable(const std::vector<FrameSet>& sets) {
  std::printf("\nTimes per frame are CPU time of the process, in ms; the last column is elapsed time.\n\n");
  std::printf("| reader | frame set | frames | decode rate | misreads | median | p95 | median elapsed |\n");
  std::printf("|---|---|---:|---:|---:|---:|---:|---:|\n");
  for (const FrameSet& set : sets) {
    for (Reader reader : benchreaders::ALL_READERS) {
      const auto found = collected.find({benchreaders::readerName(reader), set.name});
      if (found == collected.end() || found->second.frames == 0) continue;
      const SetResult& r = found->second;
      char rate[32] = "-";
      if (set.withSymbols) std::snprintf(rate, sizeof(rate), "%.1f%%", 100.0 * r.reads / r.frames);
      std::printf("| %s | %s | %d | %s | %d | %.2f | %.2f | %.2f |\n", benchreaders::readerName(reader),
                  set.name.c_str(), r.frames, rate, r.misreads, percentile(r.millis, 0.5), percentile(r.millis, 0.95),
                  percentile(r.wallMillis, 0.5));
    }
  }
}

// Which step of our whole read made each correct read: the two passes, or the second look and how.
void printStepTable(const std::vector<FrameSet>& sets) {
  std::printf("\nOur correct reads by the step that made them:\n\n");
  std::printf(
      "| frame set | reads | global pass | adaptive pass | retry | perspective | small symbol | thin symbol | mirrored "
      "symbol | light on dark | flattened light | joined dots | enlarged grey |\n");
  std::printf("|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
  for (const FrameSet& set : sets) {
    const auto found = collected.find({benchreaders::readerName(Reader::Quarnel), set.name});
    if (!set.withSymbols || found == collected.end() || found->second.frames == 0) continue;
    const SetResult& r = found->second;
    std::printf("| %s | %d |", set.name.c_str(), r.reads);
    // The scanner's steps; the two that only the file read takes never come up here.
    for (int step = SCAN_READ_BY_GLOBAL_PASS; step < SCAN_STEP_COUNT; ++step) {
      if (step == SCAN_READ_IN_ADDED_QUIET_ZONE || step == SCAN_READ_AS_PURE_SYMBOL) continue;
      std::printf(" %d |", r.readsByStep[step]);
    }
    std::printf("\n");
  }
}

void printStageTable(const std::vector<FrameSet>& sets) {
  if (!STAGE_TIMING_ENABLED) {
    std::printf("\n(stage split not measured: build with -DQUARNEL_STAGE_TIMING=ON)\n");
    return;
  }
  std::printf("\nOur mean time per frame by stage, elapsed ms (both passes where the second ran):\n\n| frame set |");
  for (const char* stage : STAGE_NAMES) std::printf(" %s |", stage);
  std::printf(" outside stages | total |\n|---|");
  for (int s = 0; s <= STAGE_COUNT + 1; ++s) std::printf("---:|");
  std::printf("\n");
  for (const FrameSet& set : sets) {
    const auto found = collected.find({benchreaders::readerName(Reader::Quarnel), set.name});
    if (found == collected.end() || found->second.frames == 0) continue;
    const SetResult& r = found->second;
    double total = 0.0;
    for (double ms : r.wallMillis) total += ms;
    double staged = 0.0;
    std::printf("| %s |", set.name.c_str());
    for (int s = 0; s < STAGE_COUNT; ++s) {
      const double ms = r.stages.nanoseconds[s] / 1e6 / r.frames;
      staged += ms;
      std::printf(" %.3f |", ms);
    }
    std::printf(" %.3f | %.3f |\n", total / r.frames - staged, total / r.frames);
  }
}

// Heap held at most during one decodeImage call and the blocks it allocates, over both passes of every
// frame of a set; then the process's resident size over a long run of calls.
void printMemory(const std::vector<FrameSet>& sets, int longRunCalls) {
  std::printf("\nHeap per decodeImage call (both passes, every frame):\n\n");
  std::printf("| frame set | calls | peak bytes, max | peak bytes, median | allocations, median | allocations, max | "
              "bytes left after the call, max |\n|---|---:|---:|---:|---:|---:|---:|\n");
  for (const FrameSet& set : sets) {
    std::vector<double> peaks, allocations;
    std::int64_t leftOver = 0;
    for (const Frame& frame : set.frames) {
      IplImage image = cvIplImage(frame.grey);
      DecodeResult results[DECODE_MAX_RESULTS];
      int count = 0;
      for (const ScanPass& pass : {SCAN_GLOBAL_PASS, SCAN_ADAPTIVE_PASS}) {
        alloccounter::startCounting();
        decodeImage(&image, results, &count, pass.threshold, pass.flags);
        const alloccounter::HeapUse use = alloccounter::stopCounting();
        peaks.push_back(static_cast<double>(use.peakBytes));
        allocations.push_back(static_cast<double>(use.allocations));
        leftOver = std::max(leftOver, use.finalBytes);
      }
    }
    if (peaks.empty()) continue;
    std::printf("| %s | %zu | %.0f | %.0f | %.0f | %.0f | %lld |\n", set.name.c_str(), peaks.size(),
                percentile(peaks, 1.0), percentile(peaks, 0.5), percentile(allocations, 0.5),
                percentile(allocations, 1.0), static_cast<long long>(leftOver));
  }

  if (longRunCalls <= 0 || sets.empty() || sets[0].frames.empty()) return;
  // The scanner's pattern over and over on the first frame set; the resident size must not creep.
  const FrameSet& set = sets[0];
  std::printf("\nResident memory over %d scanner cycles on %s frames:\n\n| cycles | resident KiB |\n|---:|---:|\n",
              longRunCalls, set.name.c_str());
  const int report = std::max(1, longRunCalls / 5);
  for (int call = 0; call < longRunCalls; ++call) {
    benchreaders::readWithQuarnel(set.frames[call % set.frames.size()].grey);
    if (call == 0 || (call + 1) % report == 0) {
      std::printf("| %d | %lld |\n", call + 1, static_cast<long long>(alloccounter::residentBytes() / 1024));
    }
  }
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string describeAll(const std::vector<FrameSet>& sets) {
  std::string text = "# Decoder outputs on the benchmark frames: per frame \"<set> <frame> frame <pixel digest>\", per pass\n"
                     "# \"<set> <frame> p<pass> <status> <count>\",\n"
                     "# then per result its corners (x y, four times) and its text.\n";
  for (const FrameSet& set : sets) {
    for (const Frame& frame : set.frames) {
      text += passoutputs::describePasses(set.sizeName, frame.recipe->name, frame.grey);
    }
  }
  return text;
}

int checkFixture(const std::vector<FrameSet>& sets, const std::string& path) {
  const std::map<std::string, std::string> expected = passoutputs::splitByFrame(readFile(path));
  int differences = 0, frames = 0;
  for (const FrameSet& set : sets) {
    for (const Frame& frame : set.frames) {
      ++frames;
      const std::string actual = passoutputs::describePasses(set.sizeName, frame.recipe->name, frame.grey);
      const auto found = expected.find(set.sizeName + " " + frame.recipe->name);
      if (found == expected.end() || found->second != actual) {
        ++differences;
        std::printf("differs: %s %s\n  expected:\n%s  actual:\n%s", set.sizeName.c_str(), frame.recipe->name.c_str(),
                    found == expected.end() ? "(none)\n" : found->second.c_str(), actual.c_str());
      }
    }
  }
  std::printf("%d of %d frames differ from %s\n", differences, frames, path.c_str());
  return differences == 0 ? 0 : 1;
}

void printFrameReport(const FrameSet& set) {
  std::printf("\n%s:\n\n", set.name.c_str());
  std::printf("| frame | module px | rotation | tilt x | tilt y | blur | noise | dark/light | clutter |");
  for (Reader reader : benchreaders::ALL_READERS) std::printf(" %s |", benchreaders::readerName(reader));
  std::printf("\n");
  for (const Frame& frame : set.frames) {
    const testsupport::RenderOptions& o = frame.recipe->options;
    std::printf("| %s | %.1f | %.0f | %.0f | %.0f | %.2f | %.1f | %d/%d | %d |", frame.recipe->name.c_str(), frame.modulePixels,
                o.rotationDeg, o.tiltXDeg, o.tiltYDeg, o.blurSigma, o.noiseSigma, o.dark, o.light, o.clutter);
    for (Reader reader : benchreaders::ALL_READERS) {
      int readBy = SCAN_NOTHING_READ;
      const std::vector<std::string> texts = reader == Reader::Quarnel
                                                 ? benchreaders::readWithQuarnel(frame.grey, &readBy)
                                                 : benchreaders::readFrame(reader, frame.grey);
      const bool read = std::find(texts.begin(), texts.end(), frame.recipe->message) != texts.end();
      std::printf(" %s |", read ? "read" : texts.empty() ? "-" : "MISREAD");
    }
    std::printf("\n");
  }
}

}  // namespace

int main(int argc, char** argv) {
  const BenchOptions options = parseOptions(&argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 2;

  const std::vector<FrameRecipe> recipes = benchframes::makeRecipes(options.framesPerSize);
  const std::vector<FrameSet> sets = renderFrameSets(recipes, options.sizes);
  if (sets.empty()) {
    std::fprintf(stderr, "no frame size matches --sizes=%s\n", options.sizes.c_str());
    return 2;
  }

  if (!options.writeFixture.empty()) {
    std::ofstream out(options.writeFixture, std::ios::binary);
    out << describeAll(sets);
    return out.good() ? 0 : 1;
  }
  if (!options.checkFixture.empty()) return checkFixture(sets, options.checkFixture);
  if (options.frameReport) {
    for (const FrameSet& set : sets) {
      if (set.sizeName == sets[0].sizeName) printFrameReport(set);
    }
    return 0;
  }

  registerBenchmarks(sets);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  printReadTable(sets);
  printStepTable(sets);
  printStageTable(sets);
  printMemory(sets, options.longRunCalls);
  return 0;
}
