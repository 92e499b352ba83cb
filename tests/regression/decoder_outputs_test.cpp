// The decoder's outputs (status, count, corners and texts of both scanner passes) on the benchmark's
// frames must stay exactly as recorded in decoder_outputs.txt. The benchmark writes that file
// (--write-fixture) and checks it too (--check-fixture); this test regenerates the frames and checks every
// size: the smallest, which covers every symbol size and every kind of frame, in every build, and the two
// larger ones as a study.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "bench/frame_set.h"
#include "bench/pass_outputs.h"

namespace {

constexpr int FIXTURE_FRAMES_PER_SIZE = 1;  // as recorded; the benchmark's default

std::string readFixture() {
  std::ifstream in(QUARNEL_DECODER_OUTPUTS_FIXTURE, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class DecoderOutputs : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    recipes_ = new std::vector<benchframes::FrameRecipe>(benchframes::makeRecipes(FIXTURE_FRAMES_PER_SIZE));
    blocks_ = new std::map<std::string, std::string>(passoutputs::splitByFrame(readFixture()));
  }
  static void TearDownTestSuite() {
    delete recipes_;
    delete blocks_;
  }
  static const std::vector<benchframes::FrameRecipe>& recipes() { return *recipes_; }
  static const std::map<std::string, std::string>& blocks() { return *blocks_; }

 private:
  static std::vector<benchframes::FrameRecipe>* recipes_;
  static std::map<std::string, std::string>* blocks_;
};

std::vector<benchframes::FrameRecipe>* DecoderOutputs::recipes_ = nullptr;
std::map<std::string, std::string>* DecoderOutputs::blocks_ = nullptr;

// Pulls the quoted texts out of one frame's recorded block.
std::vector<std::string> recordedTexts(const std::string& block) {
  std::vector<std::string> texts;
  std::istringstream lines(block);
  std::string line;
  while (std::getline(lines, line)) {
    const size_t open = line.find('"');
    if (!line.empty() && line[0] == ' ' && open != std::string::npos) {
      texts.push_back(line.substr(open + 1, line.size() - open - 2));
    }
  }
  return texts;
}

std::string firstLine(const std::string& block) { return block.substr(0, block.find('\n')); }

// The fixture holds every frame of every size, and what it pins was right in the first place: every
// recorded text is the message the independent encoder was given (the generated messages need no
// escaping), and frames without a symbol recorded none.
TEST_F(DecoderOutputs, FixtureHoldsEveryFrameAndOnlyTheEncodedMessages) {
  int textsSeen = 0;
  for (const benchframes::FrameSize& size : benchframes::FRAME_SIZES) {
    for (const benchframes::FrameRecipe& recipe : recipes()) {
      const auto found = blocks().find(std::string(size.name) + " " + recipe.name);
      if (found == blocks().end()) {
        ADD_FAILURE() << size.name << " " << recipe.name << " is not recorded";
        continue;
      }
      for (const std::string& text : recordedTexts(found->second)) {
        ++textsSeen;
        EXPECT_TRUE(recipe.hasSymbol) << size.name << " " << recipe.name << " read \"" << text << "\"";
        EXPECT_EQ(text, recipe.message) << size.name << " " << recipe.name;
      }
    }
  }
  EXPECT_GT(textsSeen, 0);
}

// Pixel-exact frames are what an encoder writes: two grey levels only, the dark pixels cover exactly the
// dark modules at a whole module size of at least three pixels, axis-aligned, and the quiet zone fits.
TEST_F(DecoderOutputs, PixelExactFramesHoldWholeModulesOfTwoLevels) {
  int exactFrames = 0;
  for (const benchframes::FrameRecipe& recipe : recipes()) {
    if (!recipe.pixelExact) continue;
    ++exactFrames;
    SCOPED_TRACE(recipe.name);
    const benchframes::Frame frame = benchframes::renderFrame(recipe, benchframes::FRAME_SIZES[0]);
    ASSERT_FALSE(frame.grey.empty());
    EXPECT_EQ(cv::countNonZero((frame.grey != 0) & (frame.grey != 255)), 0);
    const cv::Mat dark = frame.grey == 0;
    const cv::Rect box = cv::boundingRect(dark);
    const long darkModules = std::count(recipe.symbol.modules.begin(), recipe.symbol.modules.end(), 1);
    const bool turned = box.width < box.height;  // rectangles lie with their long side across
    const int module = static_cast<int>(frame.modulePixels);
    EXPECT_EQ(module, frame.modulePixels);
    EXPECT_GE(module, 3);
    EXPECT_EQ(box.width, module * (turned ? recipe.rows : recipe.cols));
    EXPECT_EQ(box.height, module * (turned ? recipe.cols : recipe.rows));
    EXPECT_EQ(cv::countNonZero(dark), darkModules * module * module);
    const int quietZone = recipe.options.quietZone * module;  // light all round, inside the frame
    EXPECT_GE(std::min(box.x, box.y), quietZone);
    EXPECT_LE(box.x + box.width + quietZone, frame.grey.cols);
    EXPECT_LE(box.y + box.height + quietZone, frame.grey.rows);
  }
  EXPECT_GT(exactFrames, 0);
}

// Both passes on every frame of one size against its recorded blocks.
void expectFramesOfSizeMatchTheFixture(const benchframes::FrameSize& size,
                                       const std::vector<benchframes::FrameRecipe>& recipes,
                                       const std::map<std::string, std::string>& blocks) {
  for (const benchframes::FrameRecipe& recipe : recipes) {
    const benchframes::Frame frame = benchframes::renderFrame(recipe, size);
    ASSERT_FALSE(frame.grey.empty()) << size.name << " " << recipe.name;
    const std::string actual = passoutputs::describePasses(size.name, recipe.name, frame.grey);
    const auto found = blocks.find(std::string(size.name) + " " + recipe.name);
    const std::string expected = found == blocks.end() ? "(not recorded)\n" : found->second;
    // The first line is the frame's pixel digest: when it differs, the frames moved under the fixture.
    EXPECT_EQ(expected, actual) << size.name << " " << recipe.name
                                << (firstLine(expected) == firstLine(actual)
                                        ? ""
                                        : ": the frame itself changed (encoder or renderer), not the decoder");
  }
}

TEST_F(DecoderOutputs, BothPassesOnEverySmallFrameMatchTheFixture) {
  expectFramesOfSizeMatchTheFixture(benchframes::FRAME_SIZES[0], recipes(), blocks());
}

// The larger sizes take the decoder through longer contours and wider crops; they are a study, run by the
// test command in its optimized build.
TEST_F(DecoderOutputs, BothPassesOnEveryLargerFrameMatchTheFixture) {
  for (int s = 1; s < benchframes::FRAME_SIZE_COUNT; ++s) {
    expectFramesOfSizeMatchTheFixture(benchframes::FRAME_SIZES[s], recipes(), blocks());
  }
}

}  // namespace
