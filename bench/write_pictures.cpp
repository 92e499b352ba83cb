// Writes the benchmark's 640 x 480 frames as PNG files, for timing quarnel-decode on a batch of pictures.
// Usage: quarnel_write_pictures DIR COUNT
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>

#include "bench/frame_set.h"

int main(int argc, char** argv) {
  if (argc != 3 || std::atoi(argv[2]) < 1) {
    std::fprintf(stderr, "usage: %s DIR COUNT\n", argv[0]);
    return 2;
  }
  const std::string dir = argv[1];
  const int count = std::atoi(argv[2]);
  // Enough recipes that no picture repeats.
  const int framesPerSize = (count + 59) / 60;
  const std::vector<benchframes::FrameRecipe> recipes = benchframes::makeRecipes(framesPerSize);
  for (int i = 0; i < count; ++i) {
    // Pictures take turns from the two halves of the recipe list, each half in its own order, so a
    // batch mixes the sets from the front of the list (camera-like symbols, clutter alone) with those
    // from its middle (pixel-exact symbols first); bench/frame_set.h lists the sets in order.
    const size_t half = recipes.size() / 2;
    const benchframes::FrameRecipe& recipe = recipes[(i % 2) * half + (i / 2) % half];
    const benchframes::Frame frame = benchframes::renderFrame(recipe, benchframes::FRAME_SIZES[0]);
    char name[32];
    std::snprintf(name, sizeof(name), "/%04d.png", i);
    if (frame.grey.empty() || !cv::imwrite(dir + name, frame.grey)) {
      std::fprintf(stderr, "cannot write %s%s\n", dir.c_str(), name);
      return 1;
    }
  }
  return 0;
}
