// quarnel-decode on real files: output forms, exit statuses and bad input.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "tools/decode_command.h"
#include "tests/support/symbol_encoder.h"
#include "tests/support/symbol_renderer.h"

namespace {

class DecodeCommandTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    char pattern[] = "/tmp/quarnel-decode-test-XXXXXX";
    dir_ = mkdtemp(pattern);
    ASSERT_FALSE(dir_.empty());
    writeSymbolPng("symbol.png", std::string("Hello, \\world\xE9\x01", 15));
    writeSymbolPng("second.png", "SECOND-42");
    cv::Mat blank(240, 320, CV_8UC1, cv::Scalar(200));
    cv::circle(blank, {100, 100}, 30, cv::Scalar(20), cv::FILLED);
    cv::imwrite(path("blank.png"), blank);
    writeFile("empty.png", "");
    writeFile("notes.txt", "this is not an image\n");
    std::ifstream png(path("symbol.png"), std::ios::binary);
    const std::string whole((std::istreambuf_iterator<char>(png)), std::istreambuf_iterator<char>());
    writeFile("truncated.png", whole.substr(0, whole.size() / 2));
    writeFile("huge.png", hugePngHeader(100000, 100000));
    // Within the image library's own limit, but far beyond the command's: refused before it is allocated.
    writeFile("large.jpg", jpegClaiming(30000, 30000));
    mkdir(path("folder.png").c_str(), 0755);
  }

  static void TearDownTestSuite() { std::system(("rm -rf '" + dir_ + "'").c_str()); }

  static std::string path(const std::string& name) { return dir_ + "/" + name; }

  static void writeFile(const std::string& name, const std::string& bytes) {
    std::ofstream(path(name), std::ios::binary) << bytes;
  }

  static void writeSymbolPng(const std::string& name, const std::string& message) {
    const auto symbol = testsupport::encodeSymbol(message, 0, 0);
    ASSERT_TRUE(symbol.has_value());
    testsupport::RenderOptions options;
    options.moduleSize = 6;
    options.rotationDeg = 12;
    options.clutter = 6;
    ASSERT_TRUE(cv::imwrite(path(name), testsupport::renderSymbol(*symbol, options).grey));
  }

  // A PNG whose header claims width x height and which holds no image data.
  static std::string hugePngHeader(std::uint32_t width, std::uint32_t height) {
    std::string ihdr = "IHDR";
    for (std::uint32_t v : {width, height}) {
      for (int shift = 24; shift >= 0; shift -= 8) ihdr += static_cast<char>((v >> shift) & 0xFF);
    }
    ihdr += std::string("\x08\x00\x00\x00\x00", 5);
    std::uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char byte : ihdr) {
      crc ^= byte;
      for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    crc ^= 0xFFFFFFFFu;
    std::string png = "\x89PNG\r\n\x1a\n";
    png += std::string("\x00\x00\x00\x0d", 4) + ihdr;
    for (int shift = 24; shift >= 0; shift -= 8) png += static_cast<char>((crc >> shift) & 0xFF);
    return png;
  }

  // A small JPEG whose frame header is rewritten to claim width x height; its data ends long before that.
  static std::string jpegClaiming(int width, int height) {
    std::vector<std::uint8_t> jpeg;
    EXPECT_TRUE(cv::imencode(".jpg", cv::Mat(8, 8, CV_8UC1, cv::Scalar(90)), jpeg));
    for (std::size_t at = 0; at + 8 < jpeg.size(); ++at) {
      if (jpeg[at] == 0xFF && jpeg[at + 1] == 0xC0) {
        jpeg[at + 5] = static_cast<std::uint8_t>(height >> 8);
        jpeg[at + 6] = static_cast<std::uint8_t>(height & 0xFF);
        jpeg[at + 7] = static_cast<std::uint8_t>(width >> 8);
        jpeg[at + 8] = static_cast<std::uint8_t>(width & 0xFF);
        break;
      }
    }
    return std::string(jpeg.begin(), jpeg.end());
  }
  struct Run {
    int status;
    std::string out, err;
  };
  static Run run(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    const int status = runDecodeCommand(args, out, err);
    return {status, out.str(), err.str()};
  }
  // Runs the command with standard input read from a file of the fixture.
  static Run runWithInput(const std::string& inputPath, const std::vector<std::string>& args) {
    const int saved = dup(STDIN_FILENO);
    const int input = open(inputPath.c_str(), O_RDONLY);
    EXPECT_GE(input, 0);
    dup2(input, STDIN_FILENO);
    close(input);
    std::ostringstream out, err;
    const int status = runDecodeCommand(args, out, err);
    dup2(saved, STDIN_FILENO);
    close(saved);
    return {status, out.str(), err.str()};
  }

  static std::string dir_;
};
std::string DecodeCommandTest::dir_;

TEST_F(DecodeCommandTest, PrintsOneEscapedLinePerSymbol) {
  const Run r = run({path("symbol.png"), path("second.png")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, path("symbol.png") + ": Hello, \\x5Cworld\\xE9\\x01\n" + path("second.png") + ": SECOND-42\n");
}

TEST_F(DecodeCommandTest, RawWritesExactlyTheMessageBytes) {
  const Run r = run({"--raw", path("symbol.png")});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, std::string("Hello, \\world\xE9\x01", 15));
}

TEST_F(DecodeCommandTest, JsonListsSymbolsAndErrorsPerFile) {
  const Run r = run({"--json", path("second.png"), path("blank.png"), path("missing.png")});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.out.find("\"text\": \"SECOND-42\""), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"hex\": \"5345434f4e442d3432\""), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"corners\": [["), std::string::npos);
  EXPECT_NE(r.out.find("\"file\": \"" + path("blank.png") + "\", \"symbols\": []"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"error\": \"No such file or directory\""), std::string::npos) << r.out;
}

TEST_F(DecodeCommandTest, ExitStatusTellsWhetherEveryFileGaveASymbol) {
  EXPECT_EQ(run({path("blank.png")}).status, 1);
  EXPECT_EQ(run({path("symbol.png"), path("blank.png")}).status, 1);
  EXPECT_EQ(run({path("symbol.png"), path("blank.png"), path("notes.txt")}).status, 2);
}

TEST_F(DecodeCommandTest, BadFilesGiveAMessageNamingTheFileAndExit2) {
  struct Case {
    const char* name;
    const char* reason;
  } cases[] = {
      {"missing.png", "No such file or directory"},
      {"empty.png", "empty file"},
      {"notes.txt", "not an image"},
      {"truncated.png", "not an image"},
      {"huge.png", "not an image"},
      {"large.jpg", "image too large"},
      {"folder.png", "is a directory"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Run r = run({path(c.name)});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("quarnel-decode: " + path(c.name) + ": " + c.reason), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  }
}

// Records the largest image buffer asked of the image library while it is the default allocator.
class LargestAllocation : public cv::MatAllocator {
 public:
  cv::UMatData* allocate(int dims, const int* sizes, int type, void* data, size_t* step, cv::AccessFlag flags,
                         cv::UMatUsageFlags usage) const override {
    double bytes = CV_ELEM_SIZE(type);
    for (int d = 0; d < dims; ++d) bytes *= sizes[d];
    largest = std::max(largest, bytes);
    return cv::Mat::getStdAllocator()->allocate(dims, sizes, type, data, step, flags, usage);
  }
  bool allocate(cv::UMatData* u, cv::AccessFlag access, cv::UMatUsageFlags usage) const override {
    return cv::Mat::getStdAllocator()->allocate(u, access, usage);
  }
  void deallocate(cv::UMatData* u) const override { cv::Mat::getStdAllocator()->deallocate(u); }
  mutable double largest = 0;
};

// A few hundred bytes claiming 30000 x 30000 pixels must not cost the 2.7 GB the header asks for.
TEST_F(DecodeCommandTest, PictureClaimedBeyondTheLimitIsRefusedBeforeItIsAllocated) {
  const std::string file = jpegClaiming(30000, 30000);
  LargestAllocation recorder;
  cv::MatAllocator* const previous = cv::Mat::getDefaultAllocator();
  cv::Mat::setDefaultAllocator(&recorder);
  std::string error;
  const cv::Mat grey = decodeGreyImage(std::vector<std::uint8_t>(file.begin(), file.end()), &error);
  cv::Mat::setDefaultAllocator(previous);
  EXPECT_TRUE(grey.empty());
  EXPECT_EQ(error, "image too large");
  EXPECT_LE(recorder.largest, 100e6 * 3);  // the command's limit: 100 million pixels of three bytes
}

TEST_F(DecodeCommandTest, UnreadableFileIsReportedNotSkipped) {
  if (geteuid() == 0) {
    // Permissions do not bind the superuser; a FIFO stands in for a file that cannot be read.
    ASSERT_EQ(mkfifo(path("pipe.png").c_str(), 0600), 0);
    const Run r = run({path("pipe.png")});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find(path("pipe.png") + ": not a regular file"), std::string::npos) << r.err;
    return;
  }
  writeFile("locked.png", "x");
  chmod(path("locked.png").c_str(), 0);
  const Run r = run({path("locked.png")});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find(path("locked.png") + ": Permission denied"), std::string::npos) << r.err;
}

TEST_F(DecodeCommandTest, UsageErrors) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"--raw"},
      {"--raw", path("symbol.png"), path("second.png")},
      {"--raw", "--json", path("symbol.png")},
      {"--verbose", path("symbol.png")},
      {path("symbol.png"), "-j"},
      {"-j", "0", path("symbol.png")},
      {"-j", "two", path("symbol.png")},
      {"-j", "-3", path("symbol.png")},
      {"-j0", path("symbol.png")},
      {"-j", "99999999", path("symbol.png")},
  };
  for (const auto& args : cases) {
    const Run r = run(args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("quarnel-decode: "), std::string::npos);
  }
  const Run help = run({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("Usage: quarnel-decode [--raw | --json] [--recursive] FILE..."), std::string::npos);
  const Run version = run({"--version", "--bogus"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, std::string("quarnel-decode ") + QUARNEL_VERSION + "\n");
}

TEST_F(DecodeCommandTest, DashReadsThePictureFromStandardInput) {
  const Run text = runWithInput(path("symbol.png"), {"-"});
  EXPECT_EQ(text.status, 0) << text.err;
  EXPECT_EQ(text.out, "-: Hello, \\x5Cworld\\xE9\\x01\n");
  const Run raw = runWithInput(path("second.png"), {"--raw", "-"});
  EXPECT_EQ(raw.out, "SECOND-42");
  const Run empty = runWithInput(path("empty.png"), {"-", path("second.png")});
  EXPECT_EQ(empty.status, 2);
  EXPECT_EQ(empty.err, "quarnel-decode: -: empty file\n");
  EXPECT_EQ(empty.out, path("second.png") + ": SECOND-42\n");
}

TEST_F(DecodeCommandTest, RecursiveDirectoryDecodesThePicturesInsideInSortedOrder) {
  const std::string tree = path("tree");
  mkdir(tree.c_str(), 0755);
  mkdir((tree + "/a").c_str(), 0755);
  mkdir((tree + "/z").c_str(), 0755);
  mkdir((tree + "/z/empty").c_str(), 0755);
  std::system(("cp '" + path("second.png") + "' '" + tree + "/b.png'").c_str());
  std::system(("cp '" + path("symbol.png") + "' '" + tree + "/a/sym.PNG'").c_str());
  std::system(("cp '" + path("blank.png") + "' '" + tree + "/z/c.tiff.png'").c_str());
  writeFile("tree/notes.txt", "not a picture, not read\n");

  const Run r = run({"--recursive", tree});
  EXPECT_EQ(r.status, 1) << "the blank picture has no symbol";
  EXPECT_EQ(r.out, tree + "/a/sym.PNG: Hello, \\x5Cworld\\xE9\\x01\n" + tree + "/b.png: SECOND-42\n");
  EXPECT_EQ(r.err, "quarnel-decode: " + tree + "/z/c.tiff.png: no symbol found\n");

  const Run plain = run({tree});
  EXPECT_EQ(plain.status, 2);
  EXPECT_EQ(plain.err, "quarnel-decode: " + tree + ": is a directory\n");

  const Run empty = run({"--recursive", tree + "/z/empty", path("second.png")});
  EXPECT_EQ(empty.status, 1);
  EXPECT_EQ(empty.err, "quarnel-decode: " + tree + "/z/empty: no pictures found\n");
  EXPECT_EQ(empty.out, path("second.png") + ": SECOND-42\n");

  const Run raw = run({"--raw", "--recursive", tree + "/a"});
  EXPECT_EQ(raw.status, 0) << "one picture inside";
  EXPECT_EQ(raw.out, std::string("Hello, \\world\xE9\x01", 15));
  EXPECT_EQ(run({"--raw", "--recursive", tree}).status, 2) << "several pictures";
}

// Files read on several threads are reported exactly as on one: same lines, same order, same status.
TEST_F(DecodeCommandTest, ManyJobsGiveTheOutputAndStatusOfOne) {
  std::vector<std::string> mixed;
  for (int i = 0; i < 4; ++i) {
    for (const char* name : {"second.png", "blank.png", "symbol.png", "notes.txt", "missing.png", "truncated.png"}) {
      mixed.push_back(path(name));
    }
  }
  const std::vector<std::string> readable = {path("symbol.png"), path("second.png"), path("symbol.png"),
                                             path("second.png"), path("symbol.png")};
  struct Case {
    const char* name;
    std::vector<std::string> modeArgs;
    std::vector<std::string> files;
  };
  const Case cases[] = {
      {"text, mixed files", {}, mixed},
      {"json, mixed files", {"--json"}, mixed},
      {"text, every file read", {}, readable},
      {"one file", {}, {path("second.png")}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> single = c.modeArgs;
    single.insert(single.end(), {"-j", "1"});
    single.insert(single.end(), c.files.begin(), c.files.end());
    const Run alone = run(single);
    for (const std::string jobs : {"-j2", "-j3", "-j16"}) {
      SCOPED_TRACE(std::string(c.name) + " " + jobs);
      std::vector<std::string> args = c.modeArgs;
      args.push_back(jobs);
      args.insert(args.end(), c.files.begin(), c.files.end());
      const Run together = run(args);
      EXPECT_EQ(together.status, alone.status);
      EXPECT_EQ(together.out, alone.out);
      EXPECT_EQ(together.err, alone.err);
    }
  }
  // The single-thread run itself names every encoded text in file order.
  const Run alone = run({"-j", "1", path("second.png"), path("symbol.png"), path("second.png")});
  EXPECT_EQ(alone.status, 0);
  EXPECT_EQ(alone.out, path("second.png") + ": SECOND-42\n" + path("symbol.png") + ": Hello, \\x5Cworld\\xE9\\x01\n" +
                           path("second.png") + ": SECOND-42\n");
}

}  // namespace
