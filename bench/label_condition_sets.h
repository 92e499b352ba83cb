// Frames of the label conditions the scanner meets in use (light on dark, mirrored, dot-marked, thin
// 8-row symbols, soft small modules, shadows, encoder files without margin, damaged finders, busy
// scenes without a symbol), each frame made from its condition, its index and nothing else.
#ifndef QUARNEL_BENCH_LABEL_CONDITION_SETS_H_
#define QUARNEL_BENCH_LABEL_CONDITION_SETS_H_

#include <string>
#include <vector>

#include <opencv2/core.hpp>

namespace labelconditions {

struct ConditionFrame {
  std::string name;     // what the frame shows: size, encoder, module size, angle, the condition's own choice
  cv::Mat grey;         // CV_8UC1; 640 x 480 but for files, which are the symbol alone; empty when not made
  bool hasSymbol = true;
  std::string message;  // the text the encoder was given (GS1 as its element string)
};

// The conditions in table order.
const std::vector<std::string>& conditionNames();

// Whether the condition's frames are files (read with the file read) rather than camera frames.
bool conditionIsFile(const std::string& condition);

// Frame `index` of the condition; the same on every run.
ConditionFrame makeConditionFrame(const std::string& condition, int index);

}  // namespace labelconditions

#endif  // QUARNEL_BENCH_LABEL_CONDITION_SETS_H_
