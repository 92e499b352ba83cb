// The label-conditions table: per condition, how many frames each reader read, how many it misread and
// its median time per frame. Our reader is the whole read (scanImage, every extra look); on conditions
// whose frames are files it is the file read (scanImageEveryMessage). The peers get the same pictures.
// Times are thread CPU time, one run per frame. scanImage is called with no extra-look argument, so
// the tool builds on a decoder that predates it as well.
//
// Options:
//   --conditions=A,B  conditions to run (names as printed); default all
//   --frames=N        frames per condition; default 30
//   --jobs=N          frames read at once; default 1
//   --list            one line per frame: condition, frame, each reader's outcome
//   --write=DIR       also write every frame as DIR/<condition>-<index>.png
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <opencv2/core/core_c.h>
#include <opencv2/imgcodecs.hpp>

#include "bench/label_condition_sets.h"
#include "bench/readers.h"
#include "bench/report_text.h"
#include "decoder/decoder.h"

namespace {

using benchreport::printable;
using benchreport::quantile;

struct ToolOptions {
  std::vector<std::string> conditions;
  int frames = 30;
  int jobs = 1;
  bool list = false;
  std::string writeFolder;
};

enum Column { COLUMN_OURS, COLUMN_DMTX, COLUMN_ZXING, COLUMN_COUNT };
constexpr const char* COLUMN_NAMES[COLUMN_COUNT] = {"ours", "libdmtx", "zxing-cpp"};

struct Outcome {
  bool read = false;
  bool wrong = false;
  double millis = 0.0;
  std::vector<std::string> texts;
};

struct FrameResult {
  std::string condition;
  std::string name;
  bool made = false;
  Outcome outcomes[COLUMN_COUNT];
  Outcome whole;   // the whole read, also on file conditions, where the ours column is the file read
  double passesMillis = 0.0;
};

double threadMillis() {
  timespec now;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return now.tv_sec * 1e3 + now.tv_nsec * 1e-6;
}

template <typename Read>
Outcome timed(const labelconditions::ConditionFrame& frame, Read read) {
  Outcome outcome;
  const double start = threadMillis();
  outcome.texts = read();
  outcome.millis = threadMillis() - start;
  for (const std::string& text : outcome.texts) {
    if (frame.hasSymbol && text == frame.message) {
      outcome.read = true;
    } else {
      outcome.wrong = true;
    }
  }
  return outcome;
}

std::vector<std::string> wholeRead(const cv::Mat& grey) {
  IplImage image = cvIplImage(grey);
  DecodeResult results[DECODE_MAX_RESULTS];
  int count = 0;
  ScanStep step = SCAN_NOTHING_READ;
  if (scanImage(&image, results, &count, &step) != 0) count = 0;
  std::vector<std::string> texts;
  for (int i = 0; i < count; ++i) texts.emplace_back(results[i].text);
  return texts;
}

std::vector<std::string> fileRead(const cv::Mat& grey) {
  IplImage image = cvIplImage(grey);
  std::vector<DecodedSymbol> symbols;
  if (scanImageEveryMessage(&image, &symbols) != 0) return {};
  std::vector<std::string> texts;
  for (const DecodedSymbol& symbol : symbols) texts.emplace_back(symbol.message.begin(), symbol.message.end());
  return texts;
}

FrameResult readFrame(const std::string& condition, int index, const std::string& writeFolder) {
  FrameResult result;
  result.condition = condition;
  const labelconditions::ConditionFrame frame = labelconditions::makeConditionFrame(condition, index);
  result.name = frame.name;
  if (frame.grey.empty() || (frame.hasSymbol && frame.message.empty())) return result;
  result.made = true;
  if (!writeFolder.empty()) {
    std::string file = condition + "-" + std::to_string(index) + ".png";
    std::replace(file.begin(), file.end(), ' ', '-');
    cv::imwrite(writeFolder + "/" + file, frame.grey);
  }
  result.whole = timed(frame, [&] { return wholeRead(frame.grey); });
  result.outcomes[COLUMN_OURS] =
      labelconditions::conditionIsFile(condition) ? timed(frame, [&] { return fileRead(frame.grey); }) : result.whole;
  result.outcomes[COLUMN_DMTX] =
      timed(frame, [&] { return benchreaders::readFrame(benchreaders::Reader::Libdmtx, frame.grey); });
  result.outcomes[COLUMN_ZXING] =
      timed(frame, [&] { return benchreaders::readFrame(benchreaders::Reader::ZxingCpp, frame.grey); });
  if (!frame.hasSymbol) {
    result.passesMillis = timed(frame, [&] { return benchreaders::readWithQuarnelPasses(frame.grey); }).millis;
  }
  return result;
}

// "read", "-" or "WRONG"; a frame with a wrong text lists what came back.
std::string outcomeWord(const Outcome& outcome) {
  if (!outcome.wrong) return outcome.read ? "read" : "-";
  std::string word = outcome.read ? "read+WRONG" : "WRONG";
  for (const std::string& text : outcome.texts) word += " |" + printable(text) + "|";
  return word;
}

bool parseOptions(int argc, char** argv, ToolOptions* options) {
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--conditions=", 13) == 0) {
      std::stringstream stream(argv[i] + 13);
      std::string item;
      while (std::getline(stream, item, ',')) options->conditions.push_back(item);
    } else if (std::strncmp(argv[i], "--frames=", 9) == 0) {
      options->frames = std::max(1, std::atoi(argv[i] + 9));
    } else if (std::strncmp(argv[i], "--jobs=", 7) == 0) {
      options->jobs = std::max(1, std::atoi(argv[i] + 7));
    } else if (std::strncmp(argv[i], "--write=", 8) == 0) {
      options->writeFolder = argv[i] + 8;
    } else if (std::strcmp(argv[i], "--list") == 0) {
      options->list = true;
    } else {
      std::fprintf(stderr, "unknown option %s\n", argv[i]);
      return false;
    }
  }
  const std::vector<std::string>& known = labelconditions::conditionNames();
  for (const std::string& condition : options->conditions) {
    if (std::find(known.begin(), known.end(), condition) == known.end()) {
      std::fprintf(stderr, "unknown condition %s\n", condition.c_str());
      return false;
    }
  }
  if (options->conditions.empty()) options->conditions = known;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  ToolOptions options;
  if (!parseOptions(argc, argv, &options)) return 2;
  const auto started = std::chrono::steady_clock::now();

  std::vector<std::pair<std::string, int>> work;
  for (const std::string& condition : labelconditions::conditionNames()) {
    if (std::find(options.conditions.begin(), options.conditions.end(), condition) == options.conditions.end()) continue;
    for (int i = 0; i < options.frames; ++i) work.emplace_back(condition, i);
  }
  std::vector<FrameResult> results(work.size());
  std::atomic<std::size_t> next{0};
  auto worker = [&]() {
    for (std::size_t i = next++; i < work.size(); i = next++) results[i] = readFrame(work[i].first, work[i].second, options.writeFolder);
  };
  std::vector<std::thread> threads;
  for (int j = 1; j < options.jobs; ++j) threads.emplace_back(worker);
  worker();
  for (std::thread& thread : threads) thread.join();

  // A frame that could not be made would quietly shrink its condition's count; it is an error instead.
  int unmade = 0;
  for (const FrameResult& result : results) {
    if (!result.made) {
      std::fprintf(stderr, "frame not made: %s %s\n", result.condition.c_str(), result.name.c_str());
      ++unmade;
    }
  }
  if (options.list) {
    for (const FrameResult& result : results) {
      if (!result.made) continue;
      std::printf("%s | %s", result.condition.c_str(), result.name.c_str());
      for (int c = 0; c < COLUMN_COUNT; ++c) {
        std::printf(" | %s %s", COLUMN_NAMES[c], outcomeWord(result.outcomes[c]).c_str());
      }
      if (labelconditions::conditionIsFile(result.condition)) {
        std::printf(" | ours-whole %s", outcomeWord(result.whole).c_str());
      }
      std::printf("\n");
    }
    std::printf("\n");
  }

  std::printf("| condition | frames | ours read | ours wrong | ours median ms | libdmtx read | libdmtx wrong | "
              "libdmtx median ms | zxing-cpp read | zxing-cpp wrong | zxing-cpp median ms |\n"
              "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
  std::vector<std::string> notes;
  for (const std::string& condition : labelconditions::conditionNames()) {
    int frames = 0, reads[COLUMN_COUNT] = {}, wrongs[COLUMN_COUNT] = {}, wholeReads = 0;
    std::vector<double> millis[COLUMN_COUNT], whole, passes;
    for (const FrameResult& result : results) {
      if (result.condition != condition || !result.made) continue;
      ++frames;
      for (int c = 0; c < COLUMN_COUNT; ++c) {
        reads[c] += result.outcomes[c].read ? 1 : 0;
        wrongs[c] += result.outcomes[c].wrong ? 1 : 0;
        millis[c].push_back(result.outcomes[c].millis);
      }
      wholeReads += result.whole.read ? 1 : 0;
      whole.push_back(result.whole.millis);
      passes.push_back(result.passesMillis);
    }
    if (frames == 0) continue;
    std::printf("| %s | %d", condition.c_str(), frames);
    for (int c = 0; c < COLUMN_COUNT; ++c) std::printf(" | %d | %d | %.1f", reads[c], wrongs[c], quantile(millis[c], 0.5));
    std::printf(" |\n");
    char note[200];
    if (labelconditions::conditionIsFile(condition)) {
      std::snprintf(note, sizeof(note), "%s: ours is the file read; the whole read alone read %d of %d (median %.1f ms).",
                    condition.c_str(), wholeReads, frames, quantile(whole, 0.5));
      notes.push_back(note);
    }
    if (condition == "busy-no-symbol") {
      std::snprintf(note, sizeof(note),
                    "%s: whole read median %.1f ms, p95 %.1f ms; the two passes alone median %.1f ms, p95 %.1f ms.",
                    condition.c_str(), quantile(whole, 0.5), quantile(whole, 0.95), quantile(passes, 0.5),
                    quantile(passes, 0.95));
      notes.push_back(note);
    }
  }
  std::printf("\n");
  for (const std::string& note : notes) std::printf("%s\n", note.c_str());
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::printf("%zu frames made and read in %.0f s with %d job%s.\n", results.size(), seconds, options.jobs,
              options.jobs == 1 ? "" : "s");
  return unmade == 0 ? 0 : 1;
}
