// Test-only: the finder candidates of one pass as the second look receives them, each with the polygon
// it came from, and a copy of the pass's binary image.
#ifndef QUARNEL_TESTS_DECODER_SECOND_LOOK_LOCATED_CANDIDATES_H_
#define QUARNEL_TESTS_DECODER_SECOND_LOOK_LOCATED_CANDIDATES_H_

#include <vector>

#include <opencv2/core.hpp>

#include "decoder/second_look/pass_leftovers.h"
#include "decoder/second_look/perspective_read.h"

struct LocatedPass {
  cv::Mat binary;  // 255 dark, as the pass thresholded the grey image
  std::vector<LocatedCandidate> candidates;
};

// Runs the locator of one pass (threshold and flags as decodeImage takes them) over grey. The candidates
// are those the pass found, in its order, before the grid stage touched them.
LocatedPass locatePass(const cv::Mat& grey, int threshold, int flags);

// What the global pass over grey leaves behind for the second look. False when the pass could not run.
bool globalPassLeftovers(const cv::Mat& grey, PassLeftovers* pass);

#endif  // QUARNEL_TESTS_DECODER_SECOND_LOOK_LOCATED_CANDIDATES_H_
