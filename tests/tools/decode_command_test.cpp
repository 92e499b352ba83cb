// quarnel-decode on real files: output forms, exit statuses and bad input.
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <new>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "text/json_string.h"
#include "tools/decode_command.h"
#include "tests/support/many_scan_jpeg.h"
#include "tests/support/symbol_encoder.h"
#include "tests/support/symbol_renderer.h"

namespace {

// Sanitizer builds reserve terabytes of shadow memory, so they cannot run under an address space limit.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool ADDRESS_SPACE_LIMITS_WORK = false;
#else
constexpr bool ADDRESS_SPACE_LIMITS_WORK = true;
#endif

class DecodeCommandTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    char pattern[] = "/tmp/quarnel-decode-test-XXXXXX";
    dir_ = mkdtemp(pattern);
    ASSERT_FALSE(dir_.empty());
    chmod(dir_.c_str(), 0755);  // a child running as an unprivileged user reads the fixture too
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
    const cv::Mat pfmPicture = symbolPicture("FLOAT-PFM");
    writeFile("symbol.pfm", pfm(pfmPicture, 1));
    writeFile("colour.pfm", pfm(pfmPicture, 3));
    // Floating-point samples behind a name that says PNG: 0, beyond the range, infinite, not a number.
    const float odd[] = {0.0f, 2.5f, -1.0f, INFINITY, -INFINITY, NAN};
    std::string oddSamples = "Pf\n16 16\n-1.0\n";
    for (int s = 0; s < 16 * 16; ++s) oddSamples.append(reinterpret_cast<const char*>(&odd[s % 6]), sizeof(float));
    writeFile("odd-samples-pfm.png", oddSamples);
    const std::vector<std::uint8_t> scans = testsupport::manyScanJpeg(symbolPicture("SCANS"), 501);
    ASSERT_FALSE(scans.empty());
    writeFile("scans.jpg", std::string(scans.begin(), scans.end()));
  }

  static void TearDownTestSuite() { std::system(("rm -rf '" + dir_ + "'").c_str()); }

  static std::string path(const std::string& name) { return dir_ + "/" + name; }

  static void writeFile(const std::string& name, const std::string& bytes) {
    std::ofstream(path(name), std::ios::binary) << bytes;
  }

  static cv::Mat symbolPicture(const std::string& message) {
    const auto symbol = testsupport::encodeSymbol(message, 0, 0);
    EXPECT_TRUE(symbol.has_value());
    if (!symbol) return cv::Mat();
    testsupport::RenderOptions options;
    options.moduleSize = 6;
    options.rotationDeg = 12;
    options.clutter = 6;
    return testsupport::renderSymbol(*symbol, options).grey;
  }

  static void writeSymbolPng(const std::string& name, const std::string& message) {
    ASSERT_TRUE(cv::imwrite(path(name), symbolPicture(message)));
  }

  // A PFM of an 8-bit grey picture, grey (1 channel) or colour (3): samples from 0 to 1 as little-endian
  // floats, the bottom row first.
  static std::string pfm(const cv::Mat& grey, int channels) {
    std::string file = std::string(channels == 1 ? "Pf" : "PF") + "\n" + std::to_string(grey.cols) + " " +
                       std::to_string(grey.rows) + "\n-1.0\n";
    for (int y = grey.rows - 1; y >= 0; --y) {
      for (int x = 0; x < grey.cols; ++x) {
        const float sample = grey.at<std::uint8_t>(y, x) / 255.0f;
        for (int c = 0; c < channels; ++c) file.append(reinterpret_cast<const char*>(&sample), sizeof sample);
      }
    }
    return file;
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

  // What a child running the program is held to.
  struct Limits {
    rlim_t addressSpaceBytes = 0;  // RLIMIT_AS; none when 0
    rlim_t processes = 0;          // RLIMIT_NPROC; none when 0
    bool unprivileged = false;     // the superuser's child runs as nobody, so that permissions bind
  };

  // Runs the built program in a child process under `limits`, standard input empty. A child that has
  // not ended after two minutes is killed and fails the test, so nothing hangs.
  static Run runProgram(const std::vector<std::string>& args, const Limits& limits) {
    std::vector<std::string> arguments = {QUARNEL_DECODE_PROGRAM};
    arguments.insert(arguments.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    std::vector<std::string> environment;
    for (char** variable = environ; *variable != nullptr; ++variable) {
      if (limits.processes == 0 || std::strncmp(*variable, "ASAN_OPTIONS=", 13) != 0) environment.push_back(*variable);
    }
    // Leak checking starts a thread of its own at exit, which a limit of one process refuses.
    if (limits.processes > 0) environment.push_back("ASAN_OPTIONS=detect_leaks=0");
    std::vector<char*> envp;
    for (std::string& variable : environment) envp.push_back(variable.data());
    envp.push_back(nullptr);
    const std::string outPath = path("child-out"), errPath = path("child-err");
    const int outFd = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const int errFd = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const int nullFd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    EXPECT_TRUE(outFd >= 0 && errFd >= 0 && nullFd >= 0);
    const bool dropPrivileges = limits.unprivileged && geteuid() == 0;
    const pid_t child = fork();
    if (child == 0) {
      // Only async-signal-safe calls between fork and exec.
      dup2(nullFd, STDIN_FILENO);
      dup2(outFd, STDOUT_FILENO);
      dup2(errFd, STDERR_FILENO);
      if (dropPrivileges && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)) _exit(126);
      if (limits.addressSpaceBytes > 0) {
        const struct rlimit addressSpace = {limits.addressSpaceBytes, limits.addressSpaceBytes};
        if (setrlimit(RLIMIT_AS, &addressSpace) != 0) _exit(126);
      }
      if (limits.processes > 0) {
        const struct rlimit processes = {limits.processes, limits.processes};
        if (setrlimit(RLIMIT_NPROC, &processes) != 0) _exit(126);
      }
      execve(argv[0], argv.data(), envp.data());
      _exit(127);
    }
    close(outFd);
    close(errFd);
    close(nullFd);
    EXPECT_GT(child, 0);
    int waitStatus = 0;
    for (int tick = 0; waitpid(child, &waitStatus, WNOHANG) == 0; ++tick) {
      if (tick == 120 * 50) {
        kill(child, SIGKILL);
        waitpid(child, &waitStatus, 0);
        ADD_FAILURE() << "the program did not end within two minutes";
        break;
      }
      usleep(20 * 1000);
    }
    const auto contents = [](const std::string& file) {
      std::ifstream in(file, std::ios::binary);
      return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    };
    const int status = WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : 128 + WTERMSIG(waitStatus);
    return {status, contents(outPath), contents(errPath)};
  }

  // A batch of files and what it must give, whatever the number of jobs.
  struct BatchCase {
    const char* name;
    std::vector<std::string> args;
    std::string out, err;
    int status;
    Limits limits;
  };

  // Runs each case with one job and with three: the same output, messages and status, as expected.
  static void expectBatches(const std::vector<BatchCase>& cases) {
    for (const BatchCase& c : cases) {
      for (const char* jobs : {"-j1", "-j3"}) {
        SCOPED_TRACE(std::string(c.name) + " " + jobs);
        std::vector<std::string> args = {jobs};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const Run r = runProgram(args, c.limits);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(r.status, c.status);
      }
    }
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

// A name holding a line feed, an escape sequence or a backslash cannot forge a result line nor act on the
// terminal: it is printed with those bytes escaped, one file one line, in results and in messages.
TEST_F(DecodeCommandTest, FileNamesPrintOnOneLineWithControlBytesEscaped) {
  const std::string source = path("second.png");
  const struct {
    std::string name;
    std::string printed;
  } cases[] = {
      {"a\nfake: line.png", "a\\x0Afake: line.png"},
      {"\x1b[2Jclear.png", "\\x1B[2Jclear.png"},
      {"back\\slash.png", "back\\x5Cslash.png"},
      {"gr\xC3\xB6\xC3\x9F" "e.png", "gr\xC3\xB6\xC3\x9F" "e.png"},  // UTF-8 names stay readable
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.printed);
    const std::string named = dir_ + "/" + c.name;
    std::filesystem::copy_file(source, named, std::filesystem::copy_options::overwrite_existing);
    for (const char* mode : {"--utf8", ""}) {
      std::vector<std::string> args = {named};
      if (*mode != '\0') args.insert(args.begin(), mode);
      const Run r = run(args);
      EXPECT_EQ(r.out, dir_ + "/" + c.printed + ": SECOND-42\n");
    }
    const Run missing = run({named + ".gone"});
    EXPECT_EQ(missing.err, "quarnel-decode: " + dir_ + "/" + c.printed + ".gone: No such file or directory\n");
    std::filesystem::remove(named);
  }
}

// An output that takes nothing, as a full disk or a closed standard output: every write fails.
class RefusingOutput : public std::streambuf {
 protected:
  int_type overflow(int_type) override { return traits_type::eof(); }
  std::streamsize xsputn(const char*, std::streamsize) override { return 0; }
};

TEST_F(DecodeCommandTest, OutputThatCannotBeWrittenIsAFailure) {
  const std::vector<std::vector<std::string>> cases = {
      {path("symbol.png")},
      {"--utf8", path("symbol.png")},
      {"--json", path("symbol.png")},
      {"--raw", path("symbol.png")},
      {"--help"},
      {"--version"},
  };
  for (const auto& args : cases) {
    SCOPED_TRACE(args[0]);
    RefusingOutput refusing;
    std::ostream out(&refusing);
    std::ostringstream err;
    EXPECT_EQ(runDecodeCommand(args, out, err), 2);
    EXPECT_EQ(err.str(), "quarnel-decode: cannot write the output\n");
  }
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
      {"large.jpg", "image too large (more than 100 megapixels)"},
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
  EXPECT_EQ(error, "image too large (more than 100 megapixels)");
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
      {"--utf8", "--json", path("symbol.png")},
      {"--raw", "--utf8", path("symbol.png")},
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
  EXPECT_NE(help.out.find("Usage: quarnel-decode [--raw | --json | --utf8] [--recursive] FILE..."), std::string::npos);
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
  const Run scans = runWithInput(path("scans.jpg"), {"-"});
  EXPECT_EQ(scans.status, 2);
  EXPECT_EQ(scans.err, "quarnel-decode: -: too many JPEG scans (more than 500)\n");
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
  EXPECT_EQ(plain.err, "quarnel-decode: " + tree + ": is a directory (use --recursive to read the pictures inside)\n");

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
    // large.jpg is refused by the size limit while other threads read pictures that must not be.
    for (const char* name :
         {"second.png", "blank.png", "large.jpg", "symbol.png", "notes.txt", "missing.png", "truncated.png"}) {
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

// A file that fails in any way is that file's failure: the files before it keep their output, those
// after it are read, and the status at the end says a file failed. Each batch runs in a child process,
// the built program itself, so that a failure ending the process would show.
TEST_F(DecodeCommandTest, FailureOfOneFileLeavesTheRestOfTheBatch) {
  const std::string hello = path("symbol.png"), second = path("second.png");
  const std::string helloLine = hello + ": Hello, \\x5Cworld\\xE9\\x01\n", secondLine = second + ": SECOND-42\n";
  // A tree with a folder that cannot be read (an unprivileged child: mode 000 does not stop the
  // superuser) and a symbolic link back up the tree.
  const std::string tree = path("locked-tree");
  std::filesystem::create_directories(tree + "/ok");
  std::filesystem::create_directories(tree + "/z");
  std::filesystem::copy_file(second, tree + "/ok/second.png", std::filesystem::copy_options::overwrite_existing);
  std::filesystem::copy_file(hello, tree + "/z/hidden.png", std::filesystem::copy_options::overwrite_existing);
  std::filesystem::copy_file(second, tree + "/zz.png", std::filesystem::copy_options::overwrite_existing);
  std::error_code exists;
  std::filesystem::create_directory_symlink("..", tree + "/ok/loop", exists);
  ASSERT_EQ(chmod((tree + "/z").c_str(), 0), 0);
  const std::vector<BatchCase> cases = {
      {"floating-point samples",
       {hello, path("symbol.pfm"), path("odd-samples-pfm.png"), path("colour.pfm"), second},
       helloLine + path("symbol.pfm") + ": FLOAT-PFM\n" + path("colour.pfm") + ": FLOAT-PFM\n" + secondLine,
       "quarnel-decode: " + path("odd-samples-pfm.png") + ": no symbol found\n", 1, {}},
      // Reading the memory of a process at address 0 fails with EIO, as a disk's bad block does.
      {"read error", {hello, "/proc/self/mem", second}, helloLine + secondLine,
       "quarnel-decode: /proc/self/mem: Input/output error\n", 2, {}},
      // A size of 0 to stat, and more to read than any picture file.
      {"file of unknown size", {hello, "/proc/self/pagemap", second}, helloLine + secondLine,
       "quarnel-decode: /proc/self/pagemap: file too large\n", 2, {}},
      {"scan bomb", {hello, path("scans.jpg"), second}, helloLine + secondLine,
       "quarnel-decode: " + path("scans.jpg") + ": too many JPEG scans (more than 500)\n", 2, {}},
      {"directory without --recursive", {hello, path("folder.png"), second}, helloLine + secondLine,
       "quarnel-decode: " + path("folder.png") + ": is a directory (use --recursive to read the pictures inside)\n",
       2, {}},
      {"unreadable folder", {"--recursive", tree}, tree + "/ok/second.png: SECOND-42\n" + tree + "/zz.png: SECOND-42\n",
       "quarnel-decode: " + tree + "/z: Permission denied\n", 2, {0, 0, true}},
  };
  expectBatches(cases);
  chmod((tree + "/z").c_str(), 0755);
}

// The machine's memory runs out: the picture that does not fit fails alone, and a number of jobs far
// beyond what fits is fewer jobs, not a failure.
TEST_F(DecodeCommandTest, MemoryLimitFailsOnlyThePictureThatDoesNotFit) {
  if (!ADDRESS_SPACE_LIMITS_WORK) GTEST_SKIP() << "a sanitizer build cannot run under an address space limit";
  const std::string hello = path("symbol.png"), second = path("second.png");
  const std::string helloLine = hello + ": Hello, \\x5Cworld\\xE9\\x01\n", secondLine = second + ": SECOND-42\n";
  // 81 megapixels, within the command's limit; its colour picture alone takes 243 MB.
  ASSERT_TRUE(cv::imwrite(path("white-81mp.png"), cv::Mat(9000, 9000, CV_8UC1, cv::Scalar(255))));
  Limits memory;
  memory.addressSpaceBytes = 400u << 20;  // the program itself maps about 200 MB
  std::vector<std::string> many;
  std::string manyLines;
  for (int i = 0; i < 40; ++i) {
    many.push_back(i % 2 ? hello : second);
    manyLines += i % 2 ? helloLine : secondLine;
  }
  const std::vector<BatchCase> cases = {
      {"picture beyond the memory", {hello, path("white-81mp.png"), second}, helloLine + secondLine,
       "quarnel-decode: " + path("white-81mp.png") + ": out of memory\n", 2, memory},
      {"more jobs than the memory has room for", many, manyLines, "", 0, memory},
  };
  expectBatches(cases);
  std::vector<std::string> allJobs = {"-j", "999999"};
  allJobs.insert(allJobs.end(), many.begin(), many.end());
  const Run r = runProgram(allJobs, memory);
  EXPECT_EQ(r.out, manyLines);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
}

// No thread can be started (the user's processes are at their limit): the calling thread reads every
// file itself.
TEST_F(DecodeCommandTest, ThreadsThatCannotStartMeanFewerJobs) {
  const std::string hello = path("symbol.png"), second = path("second.png");
  Limits threads;
  threads.processes = 1;
  threads.unprivileged = true;  // the superuser's processes are not counted against the limit
  for (const char* jobs : {"3", "999999"}) {
    SCOPED_TRACE(jobs);
    const Run r = runProgram({"-j", jobs, hello, path("blank.png"), second}, threads);
    EXPECT_EQ(r.out, hello + ": Hello, \\x5Cworld\\xE9\\x01\n" + second + ": SECOND-42\n");
    EXPECT_EQ(r.err, "quarnel-decode: " + path("blank.png") + ": no symbol found\n");
    EXPECT_EQ(r.status, 1);
  }
}

// Refuses image buffers beyond a size, as an allocator does when memory has run out; `singleChannel`
// limits that to 8-bit grey buffers, which only the conversion after the image codec asks for.
class ExhaustedAllocator : public cv::MatAllocator {
 public:
  ExhaustedAllocator(double maxBytes, bool singleChannel) : maxBytes_(maxBytes), singleChannel_(singleChannel) {}
  cv::UMatData* allocate(int dims, const int* sizes, int type, void* data, size_t* step, cv::AccessFlag flags,
                         cv::UMatUsageFlags usage) const override {
    double bytes = CV_ELEM_SIZE(type);
    for (int d = 0; d < dims; ++d) bytes *= sizes[d];
    if (data == nullptr && bytes > maxBytes_ && (!singleChannel_ || type == CV_8UC1)) throw std::bad_alloc();
    return cv::Mat::getStdAllocator()->allocate(dims, sizes, type, data, step, flags, usage);
  }
  bool allocate(cv::UMatData* u, cv::AccessFlag access, cv::UMatUsageFlags usage) const override {
    return cv::Mat::getStdAllocator()->allocate(u, access, usage);
  }
  void deallocate(cv::UMatData* u) const override { cv::Mat::getStdAllocator()->deallocate(u); }

 private:
  double maxBytes_;
  bool singleChannel_;
};

// Memory that runs out inside the image codec or after it, in this process: the same per-file failure
// as under a real limit, in every build.
TEST_F(DecodeCommandTest, MemoryRunningOutIsThatFilesFailure) {
  cv::imwrite(path("plain-2mp.png"), cv::Mat(1200, 1600, CV_8UC1, cv::Scalar(128)));
  const std::vector<std::string> files = {path("second.png"), path("plain-2mp.png"), path("symbol.png")};
  struct Case {
    const char* name;
    ExhaustedAllocator allocator;
  } cases[] = {
      {"in the image codec", {2e6, false}},      // the colour picture of 5.8 MB
      {"after the image codec", {1e6, true}},    // its grey picture of 1.9 MB
  };
  for (Case& c : cases) {
    for (const char* jobs : {"-j1", "-j3"}) {
      SCOPED_TRACE(std::string(c.name) + " " + jobs);
      cv::MatAllocator* const previous = cv::Mat::getDefaultAllocator();
      cv::Mat::setDefaultAllocator(&c.allocator);
      const Run r = run({jobs, files[0], files[1], files[2]});
      cv::Mat::setDefaultAllocator(previous);
      EXPECT_EQ(r.out, files[0] + ": SECOND-42\n" + files[2] + ": Hello, \\x5Cworld\\xE9\\x01\n");
      EXPECT_EQ(r.err, "quarnel-decode: " + files[1] + ": out of memory\n");
      EXPECT_EQ(r.status, 2);
    }
  }
}

// A picture of one Zint-made symbol, as a camera might take it.
std::string writeZintPng(const std::string& file, const std::string& message,
                         const testsupport::ZintFeatures& features) {
  const auto symbol = testsupport::encodeZintSymbol(std::vector<std::uint8_t>(message.begin(), message.end()), 0,
                                                    0, features);
  EXPECT_TRUE(symbol.has_value()) << file;
  if (!symbol) return "";
  testsupport::RenderOptions options;
  options.moduleSize = 6;
  options.rotationDeg = 8;
  EXPECT_TRUE(cv::imwrite(file, testsupport::renderSymbol(*symbol, options).grey));
  return file;
}

// Texts in several character sets, each written by Zint in the set its ECI selects.
struct EciCase {
  const char* name;
  int eci;
  std::string utf8Text;  // what the symbol says
  const char* charset;
};
const EciCase ECI_CASES[] = {
    {"utf8", 26, "Gr\u00fc\u00dfe \u20ac", "UTF-8"},
    {"latin2", 4, "\u0141\u00f3d\u017a", "ISO-8859-2"},
    {"cyrillic", 7, "\u041f\u0440\u0438\u0432\u0435\u0442", "ISO-8859-5"},
    {"greek", 9, "\u0393\u03b5\u03b9\u03ac", "ISO-8859-7"},
    {"shiftjis", 20, "\u65e5\u672c\u8a9e", "Shift_JIS"},
};

std::string writeEciPng(const std::string& file, const EciCase& c) {
  testsupport::ZintFeatures features;
  features.eci = c.eci;
  features.utf8Input = true;
  return writeZintPng(file, c.utf8Text, features);
}

nlohmann::json parseJson(const std::string& text) {
  nlohmann::json document;
  EXPECT_NO_THROW(document = nlohmann::json::parse(text)) << text;
  return document;
}

TEST_F(DecodeCommandTest, Utf8PrintsTheTextOfEachCharacterSet) {
  for (const EciCase& c : ECI_CASES) {
    SCOPED_TRACE(c.name);
    const std::string file = writeEciPng(path(std::string("eci-") + c.name + ".png"), c);
    const Run utf8 = run({"--utf8", file});
    EXPECT_EQ(utf8.status, 0) << utf8.err;
    EXPECT_EQ(utf8.out, file + ": " + c.utf8Text + "\n");
    const Run json = run({"--json", file});
    const nlohmann::json symbol = parseJson(json.out)["files"][0]["symbols"][0];
    EXPECT_EQ(symbol["text"], c.utf8Text);
    EXPECT_EQ(symbol["charset"], c.charset);
    EXPECT_EQ(symbol["eci"][0]["designator"], c.eci);
    EXPECT_FALSE(symbol.contains("unconverted"));
    // The default output still shows the bytes themselves.
    EXPECT_EQ(run({file}).out.find(c.utf8Text), std::string::npos) << "escaped bytes, not characters";
  }
}

// Bytes that are no character of the symbol's set are shown as bytes, never as other characters.
TEST_F(DecodeCommandTest, BytesThatDoNotConvertStayVisibleAsBytes) {
  testsupport::ZintFeatures features;
  features.eci = 26;
  const std::string file = writeZintPng(path("broken-utf8.png"), std::string("ab\xFF" "c\xC3", 5), features);
  const Run utf8 = run({"--utf8", file});
  EXPECT_EQ(utf8.out, file + ": ab\\xFFc\\xC3\n");
  const nlohmann::json symbol = parseJson(run({"--json", file}).out)["files"][0]["symbols"][0];
  EXPECT_EQ(symbol["text"], "abc");
  EXPECT_EQ(symbol["hex"], "6162ff63c3");
  ASSERT_EQ(symbol["unconverted"].size(), 2u);
  EXPECT_EQ(symbol["unconverted"][0]["byteOffset"], 2);
  EXPECT_EQ(symbol["unconverted"][0]["byte"], "ff");
  EXPECT_EQ(symbol["unconverted"][1]["byteOffset"], 4);
}

TEST_F(DecodeCommandTest, Gs1SymbolGivesItsElementStrings) {
  testsupport::ZintFeatures gs1;
  gs1.gs1 = true;
  const std::string file = writeZintPng(path("gs1.png"), "[01]09501101530008[10]AB-123[17]260101", gs1);
  const nlohmann::json symbol = parseJson(run({"--json", file}).out)["files"][0]["symbols"][0];
  EXPECT_EQ(symbol["gs1"], true);
  EXPECT_EQ(symbol["gs1Elements"], "(01)09501101530008(10)AB-123(17)260101");
  EXPECT_EQ(symbol["text"], "0109501101530008" "10AB-123\x1d" "17260101");
  EXPECT_EQ(symbol["symbologyIdentifier"], "]d2");
  EXPECT_EQ(run({"--utf8", file}).out, file + ": 010950110153000810AB-123\\u001D17260101\n");

  const std::string plain = path("second.png");
  const nlohmann::json other = parseJson(run({"--json", plain}).out)["files"][0]["symbols"][0];
  EXPECT_FALSE(other.contains("gs1"));
  EXPECT_EQ(other["charset"], "ISO-8859-1");
}

TEST_F(DecodeCommandTest, StructuredAppendFieldsArePrinted) {
  testsupport::ZintFeatures append;
  append.appendIndex = 2;
  append.appendCount = 4;
  const std::string file = writeZintPng(path("append.png"), "SECOND OF FOUR", append);
  const nlohmann::json symbol = parseJson(run({"--json", file}).out)["files"][0]["symbols"][0];
  EXPECT_EQ(symbol["text"], "SECOND OF FOUR");
  EXPECT_EQ(symbol["structuredAppend"]["position"], 2);
  EXPECT_EQ(symbol["structuredAppend"]["count"], 4);
  EXPECT_EQ(symbol["structuredAppend"]["fileId"].size(), 2u);
}

// Fourteen labels on one sheet, more than the scanner's ten results, placed in an order unlike the
// reading order, with rows that are not quite level.
TEST_F(DecodeCommandTest, EverySymbolOfAFileInReadingOrder) {
  const int rowSizes[] = {4, 4, 3, 3};
  std::vector<std::string> expected;
  std::vector<testsupport::PlacedSymbol> placed;
  for (int row = 0; row < 4; ++row) {
    for (int column = 0; column < rowSizes[row]; ++column) {
      const std::string text = "ROW " + std::to_string(row + 1) + " COL " + std::to_string(column + 1);
      expected.push_back(text);
      const auto symbol = testsupport::encodeSymbol(text, 16, 16);
      ASSERT_TRUE(symbol.has_value());
      testsupport::PlacedSymbol p;
      p.symbol = *symbol;
      p.placement.moduleSize = 5;
      p.placement.centreX = 90 + 170 * column + (row % 2) * 40;
      p.placement.centreY = 90 + 160 * row + ((column * 7) % 3 - 1) * 12;  // up to 12 px off the row
      p.placement.rotationDeg = 5 * ((row + column) % 3);
      placed.push_back(p);
    }
  }
  // Bottom rows first, each right to left, so candidate order cannot pass for reading order.
  std::reverse(placed.begin(), placed.end());
  testsupport::RenderOptions scene;
  scene.imageWidth = 800;
  scene.imageHeight = 720;
  const testsupport::RenderedScene picture = testsupport::renderSymbols(placed, scene);
  ASSERT_FALSE(picture.grey.empty());
  const std::string file = path("sheet.png");
  ASSERT_TRUE(cv::imwrite(file, picture.grey));

  const Run r = run({file});
  EXPECT_EQ(r.status, 0) << r.err;
  std::string lines;
  for (const std::string& text : expected) lines += file + ": " + text + "\n";
  EXPECT_EQ(r.out, lines);
  EXPECT_EQ(run({"--raw", file}).out, expected.front());
  const nlohmann::json symbols = parseJson(run({"--json", file}).out)["files"][0]["symbols"];
  ASSERT_EQ(symbols.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(symbols[i]["text"], expected[i]) << i;
}

// Every document parses, whatever the files: read ones, failed ones, names that are not UTF-8.
// Corners are named by their role and lie on the picture.
TEST_F(DecodeCommandTest, JsonIsValidAndNamesRoundTrip) {
  const std::string oddName = path("caf\xE9-\x80\\label.png");  // Latin-1 bytes and a backslash
  std::system(("cp '" + path("second.png") + "' '" + oddName + "'").c_str());
  const std::string missingOdd = path("gone-\xFF.png");
  const std::vector<std::string> files = {oddName, missingOdd, path("symbol.png"), path("blank.png"),
                                          path("notes.txt")};
  std::vector<std::string> args = {"--json"};
  args.insert(args.end(), files.begin(), files.end());
  const Run r = run(args);
  EXPECT_EQ(r.status, 2);
  const nlohmann::json document = parseJson(r.out);
  ASSERT_EQ(document["files"].size(), files.size());
  for (size_t f = 0; f < files.size(); ++f) {
    const auto name = fileNameFromJsonValue(document["files"][f]["file"].get<std::string>());
    ASSERT_TRUE(name.has_value()) << f;
    EXPECT_EQ(*name, files[f]);
  }
  EXPECT_EQ(document["files"][0]["symbols"][0]["text"], "SECOND-42");
  EXPECT_TRUE(document["files"][1].contains("error"));
  EXPECT_EQ(document["files"][2]["symbols"][0]["text"], "Hello, \\world\u00e9\u0001");
  EXPECT_EQ(document["files"][2]["symbols"][0]["hex"], "48656c6c6f2c205c776f726c64e901");
  EXPECT_EQ(document["files"][3]["symbols"].size(), 0u);

  // The named corners against the renderer's own corners of the same picture.
  const auto symbol = testsupport::encodeSymbol("CORNERS", 0, 0);
  ASSERT_TRUE(symbol.has_value());
  testsupport::RenderOptions options;
  options.moduleSize = 6;
  options.rotationDeg = 12;
  const testsupport::RenderedSymbol rendered = testsupport::renderSymbol(*symbol, options);
  const std::string file = path("corners.png");
  ASSERT_TRUE(cv::imwrite(file, rendered.grey));
  const Run cornerRun = run({"--json", file});
  const nlohmann::json read = parseJson(cornerRun.out)["files"][0]["symbols"][0];
  ASSERT_TRUE(read.is_object()) << cornerRun.out;
  auto near = [](const nlohmann::json& point, cv::Point2d truth) {
    return std::abs(point[0].get<double>() - truth.x) <= 3 && std::abs(point[1].get<double>() - truth.y) <= 3;
  };
  EXPECT_TRUE(near(read["finderVertex"], rendered.corners.finderVertex)) << read;
  EXPECT_TRUE(near(read["timingCorner"], rendered.corners.timingCorner)) << read;
  EXPECT_TRUE((near(read["legA"], rendered.corners.verticalLegEnd) &&
               near(read["legB"], rendered.corners.horizontalLegEnd)) ||
              (near(read["legA"], rendered.corners.horizontalLegEnd) &&
               near(read["legB"], rendered.corners.verticalLegEnd)))
      << read;
}

// A label whose edge lies on the picture's edge: its outline may be found a pixel beyond the picture,
// but the named corners stay on it.
TEST_F(DecodeCommandTest, NamedCornersLieOnThePicture) {
  const auto symbol = testsupport::encodeSymbol("AT THE EDGE", 16, 16);
  ASSERT_TRUE(symbol.has_value());
  struct Case {
    const char* name;
    double centreX, centreY, rotation;
  } cases[] = {
      {"left and top edges", 47.5, 47.5, 0.0},
      {"right and bottom edges", 640 - 48.5, 480 - 48.5, 0.0},
      {"left edge, turned", 50.0, 240.0, 3.0},
  };
  int outlinesPastTheEdge = 0;  // corners as read, which the plain "corners" field keeps
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testsupport::RenderOptions options;
    options.moduleSize = 6;
    options.centreX = c.centreX;
    options.centreY = c.centreY;
    options.rotationDeg = c.rotation;
    const cv::Mat grey = testsupport::renderSymbol(*symbol, options).grey;
    ASSERT_FALSE(grey.empty());
    const std::string file = path("edge.png");
    ASSERT_TRUE(cv::imwrite(file, grey));
    const Run r = run({"--json", file});
    const nlohmann::json symbols = parseJson(r.out)["files"][0]["symbols"];
    ASSERT_EQ(symbols.size(), 1u) << r.out;
    for (const char* role : {"finderVertex", "legA", "legB", "timingCorner"}) {
      const int x = symbols[0][role][0], y = symbols[0][role][1];
      EXPECT_TRUE(x >= 0 && x < grey.cols && y >= 0 && y < grey.rows) << role << " " << symbols[0];
    }
    for (const nlohmann::json& corner : symbols[0]["corners"]) {
      const int x = corner[0], y = corner[1];
      if (x < 0 || x >= grey.cols || y < 0 || y >= grey.rows) ++outlinesPastTheEdge;
    }
  }
  EXPECT_GT(outlinesPastTheEdge, 0) << "the pictures no longer show an outline found beyond the picture";
}

}  // namespace

// Pictures as encoders write them, with no quiet zone: Zint's bitmap at one and at four pixels a module, an
// extension size, and one scaled by 1.5; each gives the encoder's text.
TEST_F(DecodeCommandTest, EncoderPicturesWithoutQuietZoneRead) {
  struct Case {
    const char* name;
    int rows, cols, modulePixels;
    double scale;
  } cases[] = {
      {"square-1px.png", 24, 24, 1, 1.0},
      {"square-4px.png", 32, 32, 4, 1.0},
      {"dmre-2px.png", 8, 96, 2, 1.0},
      {"scaled.png", 18, 18, 2, 1.5},
  };
  for (const Case& c : cases) {
    const std::string text = "NO MARGIN " + std::to_string(c.rows) + "x" + std::to_string(c.cols);
    const auto symbol = testsupport::encodeZintSymbol(std::vector<std::uint8_t>(text.begin(), text.end()), c.rows,
                                                      c.cols, testsupport::ZintFeatures{});
    ASSERT_TRUE(symbol.has_value()) << c.name;
    cv::Mat bitmap(symbol->rows * c.modulePixels, symbol->cols * c.modulePixels, CV_8UC1, cv::Scalar(255));
    for (int r = 0; r < symbol->rows; ++r) {
      for (int col = 0; col < symbol->cols; ++col) {
        if (symbol->at(r, col) != 0) {
          bitmap(cv::Rect(col * c.modulePixels, r * c.modulePixels, c.modulePixels, c.modulePixels)) = 0;
        }
      }
    }
    if (c.scale != 1.0) cv::resize(bitmap, bitmap, cv::Size(), c.scale, c.scale, cv::INTER_LINEAR);
    ASSERT_TRUE(cv::imwrite(path(c.name), bitmap));
    const Run r = run({path(c.name)});
    EXPECT_EQ(r.status, 0) << c.name << ": " << r.err;
    EXPECT_EQ(r.out, path(c.name) + ": " + text + "\n");
  }
}
