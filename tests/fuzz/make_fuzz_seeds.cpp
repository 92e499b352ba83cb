// Writes the seed corpus of every fuzz target: symbols made by the independent encoders and rendered by
// the test-support renderer, each also truncated and corrupted. Run once to (re)make corpus/:
//   make_fuzz_seeds OUTPUT_DIRECTORY
// The seeds are deterministic, so a rerun reproduces the committed files.
#include <linux/videodev2.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "decoder/decoder.h"
#include "decoder/ecc200/ecc200.h"
#include "tests/support/many_scan_jpeg.h"
#include "tests/support/symbol_encoder.h"
#include "tests/support/symbol_renderer.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

fs::path outputRoot;

void writeSeed(const std::string& target, const std::string& name, const Bytes& bytes) {
  const fs::path dir = outputRoot / target;
  fs::create_directories(dir);
  std::ofstream out(dir / name, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void putU16(Bytes& bytes, unsigned value) {
  bytes.push_back(static_cast<std::uint8_t>(value & 0xFF));
  bytes.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
}

void putI32(Bytes& bytes, std::int32_t value) {
  const auto bits = static_cast<std::uint32_t>(value);
  putU16(bytes, bits & 0xFFFF);
  putU16(bytes, bits >> 16);
}

// The seed itself, its first half, and a copy with a few bytes of its payload changed.
void writeWithDamage(const std::string& target, const std::string& name, const Bytes& seed, std::size_t header,
                     std::uint32_t randomSeed) {
  writeSeed(target, name, seed);
  writeSeed(target, name + "-truncated", Bytes(seed.begin(), seed.begin() + static_cast<long>(seed.size() / 2)));
  Bytes corrupted = seed;
  std::mt19937 random(randomSeed);
  if (corrupted.size() > header) {
    std::uniform_int_distribution<std::size_t> position(header, corrupted.size() - 1);
    for (int k = 0; k < 6; ++k) corrupted[position(random)] ^= static_cast<std::uint8_t>(1 + random() % 255);
  }
  writeSeed(target, name + "-corrupted", corrupted);
}

testsupport::SymbolMatrix encode(const std::string& message, int rows, int cols,
                                 testsupport::EncodeScheme scheme = testsupport::EncodeScheme::Auto,
                                 testsupport::EncoderLib lib = testsupport::EncoderLib::Dmtx) {
  auto symbol = testsupport::encodeSymbol(message, rows, cols, scheme, lib);
  if (!symbol) {
    std::fprintf(stderr, "cannot encode '%s' at %d x %d\n", message.c_str(), rows, cols);
    std::exit(1);
  }
  return *symbol;
}

cv::Mat render(const testsupport::SymbolMatrix& symbol, int width, int height, double moduleSize, double rotation) {
  testsupport::RenderOptions options;
  options.imageWidth = width;
  options.imageHeight = height;
  options.moduleSize = moduleSize;
  options.rotationDeg = rotation;
  options.noiseSigma = 2.0;
  const testsupport::RenderedSymbol rendered = testsupport::renderSymbol(symbol, options);
  if (rendered.grey.empty()) {
    std::fprintf(stderr, "cannot render a %d x %d symbol into %d x %d\n", symbol.rows, symbol.cols, width, height);
    std::exit(1);
  }
  return rendered.grey;
}

// Header of decode_image_fuzz.cpp: mode, width - 1, height - 1, threshold, flags, then the pixels.
void decodeImageSeeds() {
  struct Seed {
    const char* name;
    std::uint8_t mode;
    std::int32_t threshold;
    std::int32_t flags;
    std::string message;
    int rows, cols;
    int width, height;
    double moduleSize, rotation;
  } seeds[] = {
      {"global-pass-10x10", 0, 0, 0, "123456", 10, 10, 140, 140, 8.0, 20.0},
      {"adaptive-pass-14x14", 1, 0, 0, "LOT 4711-A", 14, 14, 120, 120, 5.0, 20.0},
      {"global-pass-18x8", 0, 0, 0, "AB12", 8, 18, 120, 64, 4.0, -8.0},
      {"free-fixed-level-16x16", 2, 110, 1, "fixed level", 16, 16, 100, 100, 4.0, 25.0},
      {"free-no-crop-12x26", 2, 2000, 1, "rect26", 12, 26, 130, 130, 4.0, 110.0},
      {"messages-adaptive-22x22", 3, 21, 2 | 4, "https://example.org/q?id=42", 22, 22, 170, 170, 5.0, 200.0},
  };
  for (const Seed& seed : seeds) {
    const cv::Mat grey = render(encode(seed.message, seed.rows, seed.cols), seed.width, seed.height,
                                seed.moduleSize, seed.rotation);
    Bytes bytes{seed.mode};
    putU16(bytes, static_cast<unsigned>(seed.width - 1));
    putU16(bytes, static_cast<unsigned>(seed.height - 1));
    putI32(bytes, seed.threshold);
    putI32(bytes, seed.flags);
    const std::size_t header = bytes.size();
    for (int y = 0; y < grey.rows; ++y) bytes.insert(bytes.end(), grey.ptr(y), grey.ptr(y) + grey.cols);
    writeWithDamage("decode_image", seed.name, bytes, header, 11);
    // A seed the decoder reads leads the fuzzer through every stage; say which ones do.
    cv::Mat copy = grey.clone();
    IplImage image = cvIplImage(copy);
    std::vector<DecodedSymbol> symbols;
    const int threshold = seed.mode == 0 ? SCAN_GLOBAL_PASS.threshold
                          : seed.mode == 1 ? SCAN_ADAPTIVE_PASS.threshold : seed.threshold;
    const int flags = seed.mode == 0 ? SCAN_GLOBAL_PASS.flags : seed.mode == 1 ? SCAN_ADAPTIVE_PASS.flags : seed.flags;
    decodeImageMessages(&image, threshold, flags, &symbols);
    std::printf("decode_image/%s: %s\n", seed.name, symbols.empty() ? "not read" : "read");
  }
  // Odd arguments on a plain image: an even adaptive block, both threshold flags, no threshold flag.
  const std::int32_t oddArguments[][2] = {{14, 2}, {-1, 3}, {128, 4}, {1, 2}, {-2147483647 - 1, 1}};
  int index = 0;
  for (const auto& arguments : oddArguments) {
    Bytes bytes{2};
    putU16(bytes, 31);
    putU16(bytes, 23);
    putI32(bytes, arguments[0]);
    putI32(bytes, arguments[1]);
    for (int p = 0; p < 32 * 24; ++p) bytes.push_back(static_cast<std::uint8_t>((p * 37) % 251));
    writeSeed("decode_image", "odd-arguments-" + std::to_string(index++), bytes);
  }
}

int sizeIndexOf(int rows, int cols) {
  for (int i = 0; i < ECC200_SYMBOL_COUNT; ++i) {
    if (ecc200SymbolAt(i).rows == rows && ecc200SymbolAt(i).columns == cols) return i;
  }
  std::fprintf(stderr, "no size %d x %d\n", rows, cols);
  std::exit(1);
}

// The decoder's module matrix of a whole symbol: the top timing row and the right timing column left
// out, eight modules to a byte, most significant bit first.
Bytes packedMatrix(const testsupport::SymbolMatrix& symbol) {
  Bytes bits;
  int filled = 0;
  for (int r = 1; r < symbol.rows; ++r) {
    for (int c = 0; c + 1 < symbol.cols; ++c) {
      if (filled % 8 == 0) bits.push_back(0);
      if (symbol.at(r, c) != 0) bits.back() |= static_cast<std::uint8_t>(0x80 >> (filled % 8));
      ++filled;
    }
  }
  return bits;
}

// Header of ecc200_matrix_fuzz.cpp: size selector, module mode, then the modules.
void ecc200MatrixSeeds() {
  using testsupport::EncodeScheme;
  using testsupport::EncoderLib;
  struct Seed {
    const char* name;
    std::string message;
    int rows, cols;
    EncodeScheme scheme;
    EncoderLib lib;
  } seeds[] = {
      {"ascii-10x10", "12345", 10, 10, EncodeScheme::Ascii, EncoderLib::Dmtx},
      {"c40-18x18", "QUARNEL C40 TEST", 18, 18, EncodeScheme::C40, EncoderLib::Dmtx},
      {"text-22x22", "lower case text here", 22, 22, EncodeScheme::Text, EncoderLib::Dmtx},
      {"x12-16x36", "X12*SEGMENT>A", 16, 36, EncodeScheme::X12, EncoderLib::Dmtx},
      {"edifact-20x20", "EDIFACT:+?'", 20, 20, EncodeScheme::Edifact, EncoderLib::Dmtx},
      {"base256-24x24", std::string("\x01\x02\xff\xfe binary", 11), 24, 24, EncodeScheme::Base256,
       EncoderLib::Dmtx},
      {"regions-32x32", "four data regions in one symbol", 32, 32, EncodeScheme::Auto, EncoderLib::Dmtx},
      {"rect-8x32", "RECT", 8, 32, EncodeScheme::Auto, EncoderLib::Dmtx},
      {"zint-144x144", "the largest symbol, with ten interleaved blocks", 144, 144, EncodeScheme::Auto,
       EncoderLib::Zint},
  };
  for (const Seed& seed : seeds) {
    const testsupport::SymbolMatrix symbol = encode(seed.message, seed.rows, seed.cols, seed.scheme, seed.lib);
    Bytes bytes{static_cast<std::uint8_t>(sizeIndexOf(seed.rows, seed.cols)), 0};
    const Bytes modules = packedMatrix(symbol);
    bytes.insert(bytes.end(), modules.begin(), modules.end());
    writeWithDamage("ecc200_matrix", seed.name, bytes, 2, 23);
  }
  // One byte per module, and a size that is none of the 30.
  const testsupport::SymbolMatrix small = encode("byte", 12, 12);
  Bytes perModule{static_cast<std::uint8_t>(sizeIndexOf(12, 12)), 1};
  for (int r = 1; r < small.rows; ++r) {
    for (int c = 0; c + 1 < small.cols; ++c) perModule.push_back(small.at(r, c) != 0 ? 0xA5 : 0);
  }
  writeSeed("ecc200_matrix", "byte-per-module-12x12", perModule);
  writeSeed("ecc200_matrix", "unknown-size-11x11", Bytes{250, 11, 11, 0, 0xFF, 0x00, 0xAA, 0x55});
}

// Header of ecc200_codewords_fuzz.cpp: mode, parameter, then the codewords.
void ecc200CodewordSeeds() {
  using testsupport::EncodeScheme;
  struct Seed {
    const char* name;
    std::string message;
    int rows, cols;
    EncodeScheme scheme;
  } seeds[] = {
      {"ascii-digits", "0123456789012", 14, 14, EncodeScheme::Ascii},
      {"c40", "C40 UPPER 123", 16, 16, EncodeScheme::C40},
      {"text", "text low 45", 16, 16, EncodeScheme::Text},
      {"x12", "X12*ABC>123", 16, 16, EncodeScheme::X12},
      {"edifact", "EDIFACT=ABC", 16, 16, EncodeScheme::Edifact},
      {"base256", std::string("\x00\x80\xff raw", 7), 16, 16, EncodeScheme::Base256},
      {"two-blocks-36x36", "two interleaved blocks of data and checks", 36, 36, EncodeScheme::Auto},
  };
  for (const Seed& seed : seeds) {
    const std::vector<std::uint8_t> message(seed.message.begin(), seed.message.end());
    const auto encoded = testsupport::encodeDmtxWithCodewords(message, seed.rows, seed.cols, seed.scheme);
    if (!encoded) {
      std::fprintf(stderr, "cannot encode codewords of %s\n", seed.name);
      std::exit(1);
    }
    const int index = sizeIndexOf(seed.rows, seed.cols);
    const Ecc200Symbol& symbol = ecc200SymbolAt(index);
    const Bytes& all = encoded->codewords;
    const Bytes dataOnly(all.begin(), all.begin() + symbol.dataCodewords);

    Bytes encodation{0, 0};
    encodation.insert(encodation.end(), dataOnly.begin(), dataOnly.end());
    writeWithDamage("ecc200_codewords", std::string("encodation-") + seed.name, encodation, 2, 31);

    Bytes stream{2, static_cast<std::uint8_t>(index)};
    stream.insert(stream.end(), all.begin(), all.end());
    writeWithDamage("ecc200_codewords", std::string("stream-") + seed.name, stream, 2, 37);

    if (symbol.blockCount == 1) {
      Bytes block{1, static_cast<std::uint8_t>(symbol.eccCodewords)};
      block.insert(block.end(), all.begin(), all.end());
      writeWithDamage("ecc200_codewords", std::string("block-") + seed.name, block, 2, 41);
    }
  }
}

// Header of pixel_conversion_fuzz.cpp: format selector, width, height, bytes per line, then the buffer.
// The selector is the format's position in that file's list.
void pixelConversionSeeds() {
  struct Seed {
    const char* name;
    std::uint8_t selector;
    int bytesPerPixelTimes2;  // per pixel of the first plane, times 2 (4:2:0 frames add half a plane)
    int planeFactorTimes2;    // frame bytes = width x height x this / 2
  } seeds[] = {
      {"bgr24", 0, 6, 6},   {"rgb24", 1, 6, 6},     {"bgr32", 2, 8, 8},     {"xbgr32", 3, 8, 8},
      {"abgr32", 4, 8, 8},  {"rgb565", 5, 4, 4},    {"rgb555", 6, 4, 4},    {"xrgb555", 7, 4, 4},
      {"argb555", 8, 4, 4}, {"grey", 9, 2, 2},      {"yuyv", 10, 4, 4},     {"yvyu", 11, 4, 4},
      {"uyvy", 12, 4, 4},   {"yuv420", 13, 2, 3},   {"yvu420", 14, 2, 3},   {"nv12", 15, 2, 3},
      {"nv21", 16, 2, 3},
  };
  const int width = 8;
  const int height = 6;
  for (const Seed& seed : seeds) {
    Bytes bytes{seed.selector};
    putU16(bytes, width);
    putU16(bytes, height);
    putU16(bytes, 0);
    const std::size_t header = bytes.size();
    const int frameBytes = width * height * seed.planeFactorTimes2 / 2;
    for (int b = 0; b < frameBytes; ++b) bytes.push_back(static_cast<std::uint8_t>((b * 29 + 7) % 256));
    writeWithDamage("pixel_conversion", seed.name, bytes, header, 43);
  }
  // Padded rows: 8 pixels of BGR24 in rows of 28 bytes.
  Bytes padded{0};
  putU16(padded, width);
  putU16(padded, height);
  putU16(padded, 28);
  for (int b = 0; b < 28 * height; ++b) padded.push_back(static_cast<std::uint8_t>(b % 256));
  writeSeed("pixel_conversion", "bgr24-padded-rows", padded);

  // A JPEG frame of the declared size.
  cv::Mat picture(24, 32, CV_8UC3);
  cv::randu(picture, cv::Scalar::all(0), cv::Scalar::all(256));
  std::vector<std::uint8_t> jpeg;
  cv::imencode(".jpg", picture, jpeg);
  Bytes mjpeg{17};
  putU16(mjpeg, 32);
  putU16(mjpeg, 24);
  putU16(mjpeg, 0);
  const std::size_t header = mjpeg.size();
  mjpeg.insert(mjpeg.end(), jpeg.begin(), jpeg.end());
  writeWithDamage("pixel_conversion", "mjpeg", mjpeg, header, 47);
}

void loadImageSeeds() {
  const cv::Mat grey = render(encode("QUARNEL-FILE", 16, 16), 96, 96, 4.0, 10.0);
  const char* extensions[] = {".png", ".jpg", ".bmp", ".webp", ".tiff", ".pgm"};
  for (const char* extension : extensions) {
    std::vector<std::uint8_t> encoded;
    if (!cv::imencode(extension, grey, encoded)) {
      std::fprintf(stderr, "cannot encode %s\n", extension);
      std::exit(1);
    }
    writeWithDamage("load_image", std::string(extension + 1) + "-symbol", encoded, 16, 53);
  }
  writeSeed("load_image", "not-an-image.txt", Bytes{'h', 'e', 'l', 'l', 'o', '\n'});
  // Floating-point samples, which the codec returns as they are, and a JPEG of more scans than allowed.
  cv::Mat samples;
  cv::resize(grey, samples, {24, 24}, 0, 0, cv::INTER_AREA);
  samples.convertTo(samples, CV_32F, 1.0 / 255);
  Bytes pfm;
  if (!cv::imencode(".pfm", samples, pfm)) {
    std::fprintf(stderr, "cannot encode .pfm\n");
    std::exit(1);
  }
  writeSeed("load_image", "pfm-grey", pfm);
  // One flat block, so that each scan takes a dozen bytes.
  writeSeed("load_image", "jpg-501-scans", testsupport::manyScanJpeg(cv::Mat(8, 8, CV_8UC1, cv::Scalar(200)), 501));
  // Headers alone that claim the largest picture allowed: the codec takes the whole buffer before it
  // finds no pixels, the slowest input the loader has to meet.
  const std::string largest = "10000 9999\n";
  for (const std::string& header : {"P5\n" + largest + "255\n", "P6\n" + largest + "255\n", "Pf\n" + largest + "-1.0\n"}) {
    const std::string name = header[1] == '5' ? "pgm" : header[1] == '6' ? "ppm" : "pfm";
    writeSeed("load_image", name + "-largest-claimed", Bytes(header.begin(), header.end()));
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_fuzz_seeds OUTPUT_DIRECTORY\n");
    return 2;
  }
  outputRoot = argv[1];
  decodeImageSeeds();
  ecc200MatrixSeeds();
  ecc200CodewordSeeds();
  pixelConversionSeeds();
  loadImageSeeds();
  return 0;
}
