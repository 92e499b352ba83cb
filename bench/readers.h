// The readers the benchmark compares, each called in-process on the same grey frame: our whole read,
// our two passes alone (what the whole read adds shows against it), and the two peers.
#ifndef QUARNEL_BENCH_READERS_H_
#define QUARNEL_BENCH_READERS_H_

#include <string>
#include <vector>

#include <opencv2/core.hpp>

namespace benchreaders {

enum class Reader { Quarnel, QuarnelPasses, ZxingCpp, Libdmtx };
constexpr Reader ALL_READERS[] = {Reader::Quarnel, Reader::QuarnelPasses, Reader::ZxingCpp, Reader::Libdmtx};

const char* readerName(Reader reader);

// Texts the reader found in the frame (at most one for the peers, which are asked for one symbol).
std::vector<std::string> readFrame(Reader reader, const cv::Mat& grey);

// Our scanner's whole read (scanImage): the global pass, the adaptive pass when that read nothing, the
// second look when neither did. *readBy (optional) receives the step that read.
std::vector<std::string> readWithQuarnel(const cv::Mat& grey, int* readBy = nullptr);

// The global pass and, only when it read nothing, the adaptive pass: the whole read without its second look.
std::vector<std::string> readWithQuarnelPasses(const cv::Mat& grey);

}  // namespace benchreaders

#endif  // QUARNEL_BENCH_READERS_H_
