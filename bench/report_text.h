// What the benchmark reports print: a quantile of timings, and a read text shown safely between bars.
#ifndef QUARNEL_BENCH_REPORT_TEXT_H_
#define QUARNEL_BENCH_REPORT_TEXT_H_

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace benchreport {

// The value share of the way up the sorted values (0.5 the median); 0 for none.
inline double quantile(std::vector<double> values, double share) {
  if (values.empty()) return 0.0;
  std::sort(values.begin(), values.end());
  return values[static_cast<size_t>(share * (values.size() - 1) + 0.5)];
}

// The text with every byte outside printable ASCII, and the bar that frames it, written as \xNN.
inline std::string printable(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c >= 32 && c < 127 && c != '|') {
      out += c;
    } else {
      char hex[8];
      std::snprintf(hex, sizeof(hex), "\\x%02x", static_cast<unsigned char>(c));
      out += hex;
    }
  }
  return out;
}

}  // namespace benchreport

#endif  // QUARNEL_BENCH_REPORT_TEXT_H_
