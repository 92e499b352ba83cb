// Decoder calls on several threads at once, each on its own image: every call reads what it reads
// alone. Built into the ThreadSanitizer run too, which reports any state the calls still share.
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "decoder/decoder.h"
#include "tests/support/symbol_encoder.h"
#include "tests/support/symbol_renderer.h"

namespace {

// The scanner's two passes.
struct Pass {
  int threshold;
  int flags;
};
constexpr Pass PASSES[] = {
    {-1, DECODE_GLOBAL_THRESHOLD | DECODE_CROP},
    {15, DECODE_ADAPTIVE_THRESHOLD | DECODE_CROP},
};

struct Scene {
  std::string text;  // what the encoder was given; empty for a frame of clutter alone
  cv::Mat grey;
};

// One frame per thread, each with a symbol of another size, turn and text, and one without.
std::vector<Scene> makeScenes() {
  struct Look {
    int rows, cols;
    double moduleSize, rotation, noise;
  };
  const Look looks[] = {{16, 16, 6.0, 15.0, 2.0}, {24, 24, 5.0, 200.0, 0.0}, {12, 26, 7.0, 95.0, 4.0},
                        {32, 32, 4.0, 310.0, 3.0}, {20, 20, 6.0, 45.0, 1.0}};
  std::vector<Scene> scenes;
  for (size_t i = 0; i < std::size(looks); ++i) {
    const Look& look = looks[i];
    Scene scene;
    scene.text = "THREAD " + std::to_string(i);
    const auto symbol = testsupport::encodeSymbol(scene.text, look.rows, look.cols);
    EXPECT_TRUE(symbol.has_value());
    if (!symbol) continue;
    testsupport::RenderOptions options;
    options.imageWidth = 320;
    options.imageHeight = 240;
    options.moduleSize = look.moduleSize;
    options.rotationDeg = look.rotation;
    options.noiseSigma = look.noise;
    options.clutter = 8;
    options.seed = static_cast<std::uint32_t>(i + 1);
    scene.grey = testsupport::renderSymbol(*symbol, options).grey;
    scenes.push_back(scene);
  }
  // Bars, boxes and noise without a symbol: both passes run on it, as on most camera frames.
  cv::Mat clutter(240, 320, CV_8UC1, cv::Scalar(180));
  cv::RNG rng(13);
  for (int i = 0; i < 40; ++i) {
    const cv::Point a(rng.uniform(0, 320), rng.uniform(0, 240));
    const cv::Point b(a.x + rng.uniform(-60, 60), a.y + rng.uniform(-60, 60));
    if (i % 2 == 0) {
      cv::rectangle(clutter, a, b, cv::Scalar(rng.uniform(0, 120)), rng.uniform(-1, 4));
    } else {
      cv::line(clutter, a, b, cv::Scalar(rng.uniform(0, 120)), rng.uniform(1, 5));
    }
  }
  cv::Mat noise(clutter.size(), CV_8SC1);
  rng.fill(noise, cv::RNG::NORMAL, 0, 8);
  cv::add(clutter, noise, clutter, cv::noArray(), CV_8UC1);
  scenes.push_back(Scene{"", clutter});
  return scenes;
}

// What the scanner gets from one frame: the first pass, and the second only when the first read nothing.
struct FrameRead {
  int status = 0;
  int count = 0;
  std::vector<DecodeResult> results;
};

FrameRead readFrame(const cv::Mat& source) {
  cv::Mat grey = source.clone();  // each call has its own image, as each worker has
  IplImage ipl = cvIplImage(grey);
  FrameRead read;
  DecodeResult results[DECODE_MAX_RESULTS];
  for (const Pass& pass : PASSES) {
    read.count = 0;
    read.status = decodeImage(&ipl, results, &read.count, pass.threshold, pass.flags);
    if (read.status == 0 && read.count > 0) break;
  }
  read.results.assign(results, results + read.count);
  return read;
}

bool sameRead(const FrameRead& a, const FrameRead& b) {
  if (a.status != b.status || a.count != b.count) return false;
  for (int i = 0; i < a.count; ++i) {
    if (std::memcmp(&a.results[i], &b.results[i], sizeof(DecodeResult)) != 0) return false;
  }
  return true;
}

TEST(ConcurrentDecode, CallsOnDifferentImagesAtOnceReadAsAlone) {
  const std::vector<Scene> scenes = makeScenes();
  ASSERT_GE(scenes.size(), 4u);

  // Alone, one call after the other: every symbol reads as its encoder text, the clutter reads nothing.
  std::vector<FrameRead> alone;
  for (const Scene& scene : scenes) {
    alone.push_back(readFrame(scene.grey));
    SCOPED_TRACE(scene.text);
    if (scene.text.empty()) {
      EXPECT_EQ(alone.back().count, 0);
    } else {
      ASSERT_GE(alone.back().count, 1);
      EXPECT_STREQ(alone.back().results[0].text, scene.text.c_str());
    }
  }

  // Together: one thread per frame, each reading its frame over and over while the others do theirs.
  constexpr int ROUNDS = 6;
  std::vector<std::vector<FrameRead>> together(scenes.size());
  std::vector<std::thread> threads;
  for (size_t t = 0; t < scenes.size(); ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < ROUNDS; ++round) together[t].push_back(readFrame(scenes[t].grey));
    });
  }
  for (std::thread& thread : threads) thread.join();

  for (size_t t = 0; t < scenes.size(); ++t) {
    for (int round = 0; round < ROUNDS; ++round) {
      EXPECT_TRUE(sameRead(together[t][round], alone[t])) << "frame " << t << " round " << round;
    }
  }
}

}  // namespace
