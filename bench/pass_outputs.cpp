#include "bench/pass_outputs.h"

#include <cstdio>
#include <sstream>

#include "decoder/decoder.h"
#include "text/hex_byte.h"

namespace passoutputs {
namespace {

constexpr ScanPass SCAN_PASSES[] = {SCAN_GLOBAL_PASS, SCAN_ADAPTIVE_PASS};

std::string quote(const char* text) {
  std::string quoted = "\"";
  for (const char* c = text; *c != '\0'; ++c) {
    const unsigned char byte = static_cast<unsigned char>(*c);
    if (byte < 0x20 || byte > 0x7e || byte == '\\' || byte == '"') {
      appendEscapedByte(&quoted, byte, HexDigits::Lower);
    } else {
      quoted += static_cast<char>(byte);
    }
  }
  return quoted + "\"";
}

}  // namespace

std::uint64_t frameDigest(const cv::Mat& grey) {
  std::uint64_t digest = 0xcbf29ce484222325ULL;
  for (int row = 0; row < grey.rows; ++row) {
    const std::uint8_t* pixels = grey.ptr<std::uint8_t>(row);
    for (size_t i = 0; i < grey.cols * grey.elemSize(); ++i) {
      digest = (digest ^ pixels[i]) * 0x100000001b3ULL;
    }
  }
  return digest;
}

std::string describePasses(const std::string& setName, const std::string& frameName, const cv::Mat& grey) {
  std::ostringstream out;
  char digest[32];
  std::snprintf(digest, sizeof(digest), "%016llx", static_cast<unsigned long long>(frameDigest(grey)));
  out << setName << ' ' << frameName << " frame " << digest << '\n';
  IplImage image = cvIplImage(grey);
  for (int pass = 0; pass < 2; ++pass) {
    DecodeResult results[DECODE_MAX_RESULTS] = {};
    int count = 0;
    const int status = decodeImage(&image, results, &count, SCAN_PASSES[pass].threshold, SCAN_PASSES[pass].flags);
    out << setName << ' ' << frameName << " p" << pass + 1 << ' ' << status << ' ' << count << '\n';
    for (int i = 0; i < count; ++i) {
      out << ' ';
      for (const CvPoint& corner : results[i].corners) out << ' ' << corner.x << ' ' << corner.y;
      out << ' ' << quote(results[i].text) << '\n';
    }
  }
  return out.str();
}

std::map<std::string, std::string> splitByFrame(const std::string& fixture) {
  std::map<std::string, std::string> blocks;
  std::istringstream in(fixture);
  std::string line;
  std::string key;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    if (line[0] != ' ') {
      std::istringstream header(line);
      std::string set, frame;
      header >> set >> frame;
      key = set + ' ' + frame;
    }
    blocks[key] += line + '\n';
  }
  return blocks;
}

}  // namespace passoutputs
