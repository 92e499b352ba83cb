// The three readers the benchmark compares, each called in-process on the same grey frame.
#ifndef QUARNEL_BENCH_READERS_H_
#define QUARNEL_BENCH_READERS_H_

#include <string>
#include <vector>

#include <opencv2/core.hpp>

namespace benchreaders {

enum class Reader { Quarnel, ZxingCpp, Libdmtx };
constexpr Reader ALL_READERS[] = {Reader::Quarnel, Reader::ZxingCpp, Reader::Libdmtx};

const char* readerName(Reader reader);

// Texts the reader found in the frame (at most one for the peers, which are asked for one symbol).
std::vector<std::string> readFrame(Reader reader, const cv::Mat& grey);

// Our scanner's pattern: the automatic global threshold with crop, then, only when that found nothing,
// the adaptive threshold of block size 15 with crop.
std::vector<std::string> readWithQuarnel(const cv::Mat& grey);

}  // namespace benchreaders

#endif  // QUARNEL_BENCH_READERS_H_
