// Study, run by hand: the small, soft symbol sets through the whole read, frame by frame, with the outlines
// the two passes left on each symbol.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <opencv2/core/core_c.h>
#include <opencv2/imgproc.hpp>
#include <opencv2/imgproc/imgproc_c.h>
#include <zint.h>

#include "bench/frame_set.h"
#include "decoder/decoder.h"
#include "decoder/decoder_internal.h"
#include "decoder/second_look/enlarged_grey.h"
#include "tests/decoder/second_look/small_soft_sets.h"

namespace {

void outlines(const cv::Mat& grey, const testsupport::SymbolCorners& corners, int threshold, int flags) {
  cv::Mat copy = grey.clone();
  IplImage ipl = cvIplImage(copy);
  PassLeftovers pass;
  if (runDecoder(&ipl, threshold, flags, nullptr, nullptr, nullptr, nullptr, &pass) != 0) return;
  const cv::Point2d pts[4] = {corners.finderVertex, corners.verticalLegEnd, corners.timingCorner,
                              corners.horizontalLegEnd};
  double minX = 1e9, minY = 1e9, maxX = -1e9, maxY = -1e9;
  for (const auto& p : pts) {
    minX = std::min(minX, p.x), minY = std::min(minY, p.y), maxX = std::max(maxX, p.x), maxY = std::max(maxY, p.y);
  }
  std::printf("   pass %d: symbol box %.0f,%.0f %.0fx%.0f, %zu located\n", flags, minX, minY, maxX - minX,
              maxY - minY, pass.located.size());
  CvSeq* contour = pass.contours;
  for (CvSeq* polygon = pass.polygons; contour != nullptr && polygon != nullptr;
       contour = contour->h_next, polygon = polygon->h_next) {
    const CvRect b = cvBoundingRect(contour, 0);
    if (b.x > maxX || b.y > maxY || b.x + b.width < minX || b.y + b.height < minY) continue;
    const CvBox2D box = cvMinAreaRect2(contour, nullptr);
    const double area = std::fabs(cvContourArea(contour, CV_WHOLE_SEQ, 0));
    std::printf("     %s pts %4d v5 %3d box %3d,%3d %3dx%3d rect %.0fx%.0f area %.0f\n",
                CV_IS_SEQ_HOLE(contour) ? "hole " : "outer", contour->total, polygon->total, b.x, b.y, b.width,
                b.height, box.size.width, box.size.height, area);
  }
}

int runSet(const char* title, const std::vector<smallsoft::SoftFrame>& frames, bool detail) {
  int reads = 0, wrong = 0;
  double totalMs = 0.0;
  for (const smallsoft::SoftFrame& frame : frames) {
    const testsupport::RenderedSymbol rendered = testsupport::renderSymbol(frame.symbol, frame.options);
    if (rendered.grey.empty()) {
      std::printf("  %s: render failed\n", frame.name.c_str());
      continue;
    }
    cv::Mat copy = rendered.grey.clone();
    IplImage ipl = cvIplImage(copy);
    std::vector<DecodedSymbol> symbols;
    ScanStep step = SCAN_NOTHING_READ;
    const auto start = std::chrono::steady_clock::now();
    scanImageMessages(&ipl, &symbols, &step);
    totalMs += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    bool right = false;
    for (const DecodedSymbol& symbol : symbols) {
      const std::string text(symbol.message.begin(), symbol.message.end());
      if (text == frame.text) {
        right = true;
      } else {
        ++wrong;
        std::printf("  WRONG %s: '%s'\n", frame.name.c_str(), text.c_str());
      }
    }
    reads += right ? 1 : 0;
    std::printf("  %-60s %s (%d)\n", frame.name.c_str(), right ? "read" : "MISS", static_cast<int>(step));
    if (detail && !right) {
      PassLeftovers passes[2];
      for (int p = 0; p < 2; ++p) {
        cv::Mat c2 = rendered.grey.clone();
        IplImage i2 = cvIplImage(c2);
        const ScanPass pass = p == 0 ? SCAN_GLOBAL_PASS : SCAN_ADAPTIVE_PASS;
        runDecoder(&i2, pass.threshold, pass.flags, nullptr, nullptr, nullptr, nullptr, &passes[p]);
      }
      cv::Mat c0 = rendered.grey.clone();
      IplImage ipl0 = cvIplImage(c0);
      for (const EnlargedRegion& r : findSmallModuleRegions(&ipl0, passes, 2, {})) {
        std::printf("   region %d,%d %dx%d scale %.2f\n", r.area.x, r.area.y, r.area.width, r.area.height, r.scale);
      }
      const cv::Point2d pts[4] = {rendered.corners.finderVertex, rendered.corners.verticalLegEnd,
                                  rendered.corners.timingCorner, rendered.corners.horizontalLegEnd};
      cv::Rect box = cv::boundingRect(std::vector<cv::Point2f>(pts, pts + 4));
      box.x -= 8; box.y -= 8; box.width += 16; box.height += 16;
      box &= cv::Rect(0, 0, 640, 480);
      for (double scale : {2.0, 2.5, 3.0}) {
        for (int interp : {cv::INTER_LINEAR, cv::INTER_CUBIC}) {
          cv::Mat big;
          cv::resize(rendered.grey(box), big, cv::Size(), scale, scale, interp);
          IplImage ib = cvIplImage(big);
          std::vector<DecodedSymbol> got;
          ScanStep st = SCAN_NOTHING_READ;
          scanImageMessages(&ib, &got, &st);
          std::printf("   oracle x%.1f %s: %s (%d)\n", scale, interp == cv::INTER_LINEAR ? "linear" : "cubic",
                      !got.empty() && std::string(got[0].message.begin(), got[0].message.end()) == frame.text ? "read" : "miss", int(st));
        }
      }
      if (std::getenv("OUTLINES")) {
        outlines(rendered.grey, rendered.corners, SCAN_GLOBAL_PASS.threshold, SCAN_GLOBAL_PASS.flags);
        outlines(rendered.grey, rendered.corners, SCAN_ADAPTIVE_PASS.threshold, SCAN_ADAPTIVE_PASS.flags);
      }
    }
  }
  std::printf("%s: %d of %zu read, %d wrong, %.1f ms a frame\n", title, reads, frames.size(), wrong,
              totalMs / frames.size());
  return reads;
}

}  // namespace

// Frames without a symbol: how many regions the passes' leftovers mark, and what reading them costs.
void census(const std::vector<cv::Mat>& frames, const char* title) {
  int marked = 0, regions = 0;
  std::vector<double> millis;
  for (const cv::Mat& grey : frames) {
    PassLeftovers passes[2];
    for (int p = 0; p < 2; ++p) {
      cv::Mat c2 = grey.clone();
      IplImage i2 = cvIplImage(c2);
      const ScanPass pass = p == 0 ? SCAN_GLOBAL_PASS : SCAN_ADAPTIVE_PASS;
      runDecoder(&i2, pass.threshold, pass.flags, nullptr, nullptr, nullptr, nullptr, &passes[p]);
    }
    cv::Mat c0 = grey.clone();
    IplImage ipl0 = cvIplImage(c0);
    const auto found = findSmallModuleRegions(&ipl0, passes, 2, {});
    marked += found.empty() ? 0 : 1;
    regions += static_cast<int>(found.size());
    if (std::getenv("REGIONS")) {
      for (const auto& r : found) {
        std::printf("   %d,%d %dx%d scale %.2f\n", r.area.x, r.area.y, r.area.width, r.area.height, r.scale);
      }
    }
    cv::Mat copy = grey.clone();
    IplImage ipl = cvIplImage(copy);
    std::vector<DecodedSymbol> symbols;
    // Thread CPU time: the machine's other work does not count.
    timespec start, end;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &start);
    readFromEnlargedGrey(&ipl, passes, 2, &symbols, DECODE_MAX_RESULTS);
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &end);
    millis.push_back((end.tv_sec - start.tv_sec) * 1e3 + (end.tv_nsec - start.tv_nsec) * 1e-6);
  }
  std::sort(millis.begin(), millis.end());
  std::printf("%s: %d of %zu frames marked, %d regions, step median %.3f ms, p95 %.3f ms\n", title, marked,
              frames.size(), regions, millis[millis.size() / 2], millis[millis.size() * 95 / 100]);
}

// Another barcode kind from Zint as a module matrix; a one-row code drawn 24 modules high.
testsupport::SymbolMatrix otherBarcode(int symbology, const std::string& text) {
  std::unique_ptr<zint_symbol, void (*)(zint_symbol*)> encoder(ZBarcode_Create(), ZBarcode_Delete);
  encoder->symbology = symbology;
  ZBarcode_Encode(encoder.get(), reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
  testsupport::SymbolMatrix symbol;
  const int repeat = encoder->rows == 1 ? 24 : 1;
  symbol.rows = encoder->rows * repeat;
  symbol.cols = encoder->width;
  for (int r = 0; r < symbol.rows; ++r) {
    for (int c = 0; c < symbol.cols; ++c) {
      symbol.modules.push_back((encoder->encoded_data[r / repeat][c >> 3] & (1 << (c & 7))) != 0 ? 1 : 0);
    }
  }
  return symbol;
}

// Busy scenes without a Data Matrix: other barcodes at 1.5 to 4 pixels a module, printed text of several
// sizes and clutter, each frame its own mix.
std::vector<cv::Mat> busyScenes(int count) {
  std::mt19937 random(77);
  auto uniform = [&random](double low, double high) { return std::uniform_real_distribution<double>(low, high)(random); };
  const int kinds[] = {BARCODE_QRCODE, BARCODE_CODE128, BARCODE_PDF417, BARCODE_AZTEC};
  std::vector<cv::Mat> frames;
  for (int i = 0; i < count; ++i) {
    testsupport::RenderOptions scene;
    scene.clutter = static_cast<int>(uniform(5, 30));
    scene.noiseSigma = uniform(2.0, 4.0);
    scene.blurSigma = uniform(0.3, 1.0);
    scene.seed = static_cast<std::uint32_t>(random());
    testsupport::PlacedSymbol placed;
    placed.symbol = otherBarcode(kinds[i % 4], "Busy scene " + std::to_string(i) + " with another code");
    placed.placement.moduleSize = uniform(1.5, 4.0);
    placed.placement.rotationDeg = uniform(0, 360);
    const double reach = 0.5 * std::hypot(placed.symbol.cols + 4.0, placed.symbol.rows + 4.0) * placed.placement.moduleSize + 4;
    placed.placement.centreX = uniform(std::min(reach, 320.0), std::max(640 - reach, 320.0));
    placed.placement.centreY = uniform(std::min(reach, 240.0), std::max(480 - reach, 240.0));
    testsupport::RenderedScene rendered = testsupport::renderSymbols({placed}, scene);
    if (rendered.grey.empty()) rendered = testsupport::renderSymbols({}, scene);
    cv::Mat grey = rendered.grey;
    // Printed text: lines of words at a few sizes, dark on the paper.
    for (int line = 0; line < 6; ++line) {
      std::string words;
      for (int w = 0; w < 5; ++w) {
        for (int k = 0; k < 2 + static_cast<int>(uniform(0, 6)); ++k) words += static_cast<char>('a' + static_cast<int>(uniform(0, 26)));
        words += ' ';
      }
      cv::putText(grey, words, cv::Point(static_cast<int>(uniform(0, 300)), static_cast<int>(uniform(20, 470))),
                  cv::FONT_HERSHEY_SIMPLEX, uniform(0.3, 0.8), cv::Scalar(uniform(20, 80)), 1, cv::LINE_AA);
    }
    frames.push_back(grey);
  }
  return frames;
}

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--busy") == 0) {
      const std::vector<cv::Mat> frames = busyScenes(120);
      census(frames, "busy");
      return 0;
    }
  }
  bool detail = false, empty = false;
  for (int i = 1; i < argc; ++i) detail = detail || std::strcmp(argv[i], "--detail") == 0;
  for (int i = 1; i < argc; ++i) empty = empty || std::strcmp(argv[i], "--empty") == 0;
  if (empty) {
    std::vector<cv::Mat> frames;
    for (const auto& recipe : benchframes::makeRecipes(4)) {
      if (recipe.set != std::string(benchframes::SET_EMPTY)) continue;
      frames.push_back(benchframes::renderFrame(recipe, benchframes::FRAME_SIZES[0]).grey);
    }
    census(frames, "empty");
    return 0;
  }
  runSet("8 rows at 2 px, tilt 20", smallsoft::eightRowFrames(2.0, 0.0, 20.0, 1000), detail);
  runSet("8 rows at 2-2.5 px, tilt 20", smallsoft::eightRowFrames(2.0, 0.5, 20.0, 2000), detail);
  runSet("40x40 at 2.5 px, blur 1", smallsoft::blurredSquareFrames(40, 2.5, 0.0, 1.0, 3000), detail);
  runSet("40x40 at 2.3-2.75 px, blur 1", smallsoft::blurredSquareFrames(40, 2.3, 0.45, 1.0, 4000), detail);
  return 0;
}
