// Our decoder's outputs on a frame, both scanner passes, written as text lines: the form of the
// regression fixture that pins what the decoder returns.
#ifndef QUARNEL_BENCH_PASS_OUTPUTS_H_
#define QUARNEL_BENCH_PASS_OUTPUTS_H_

#include <cstdint>
#include <map>
#include <string>

#include <opencv2/core.hpp>

namespace passoutputs {

// FNV-1a of the frame's pixels, row by row: tells a changed frame (encoder or renderer) from a changed
// decoder result.
std::uint64_t frameDigest(const cv::Mat& grey);

// A line "<set> <frame> frame <digest in hex>", then both passes, run on every frame whatever the first
// one found. Per pass a header line
// "<set> <frame> p<pass> <status> <count>", then per result its four corners and its text, quoted,
// with backslash, quote and bytes outside printable ASCII written as \xHH.
std::string describePasses(const std::string& setName, const std::string& frameName, const cv::Mat& grey);

// Fixture text split into blocks keyed by "<set> <frame>", each holding the lines describePasses wrote.
std::map<std::string, std::string> splitByFrame(const std::string& fixture);

}  // namespace passoutputs

#endif  // QUARNEL_BENCH_PASS_OUTPUTS_H_
