// The read log: its time stamps, its lines, and the file it appends to.
#include "app/read_log.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;

std::tm makeTime(int year, int month, int day, int hour, int minute, int second) {
  std::tm time{};
  time.tm_year = year - 1900;
  time.tm_mon = month - 1;
  time.tm_mday = day;
  time.tm_hour = hour;
  time.tm_min = minute;
  time.tm_sec = second;
  return time;
}

TEST(ReadLog, TimeStampsAreIso8601WithMillisecondsAndTheOffset) {
  const struct {
    std::tm time;
    int ms;
    long offset;
    const char* expected;
  } cases[] = {
      {makeTime(2026, 12, 10, 14, 3, 5), 7, 3600, "2026-12-10T14:03:05.007+01:00"},
      {makeTime(2026, 1, 2, 0, 0, 0), 999, 0, "2026-01-02T00:00:00.999+00:00"},
      {makeTime(1999, 7, 31, 23, 59, 60), 0, -(3 * 3600 + 30 * 60), "1999-07-31T23:59:60.000-03:30"},
      {makeTime(2030, 6, 1, 12, 0, 0), 500, 5 * 3600 + 45 * 60, "2030-06-01T12:00:00.500+05:45"},
  };
  for (const auto& c : cases) EXPECT_EQ(isoLocalTime(c.time, c.ms, c.offset), c.expected);
}

TEST(ReadLog, LineIsTimeTabAndTheTextEscapedAsTheDecoderCommandPrintsIt) {
  const struct {
    std::string text;
    const char* expected;
  } cases[] = {
      {"Lot 42/B-7: ok", "T\tLot 42/B-7: ok\n"},
      {"", "T\t\n"},
      {"a\\b", "T\ta\\x5Cb\n"},
      {"tab\there\nline", "T\ttab\\x09here\\x0Aline\n"},
      {std::string("\x1D" "01" "\xC3\xA9\x7F", 6), "T\t\\x1D01\\xC3\\xA9\\x7F\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(readLogLine("T", c.text), c.expected) << c.text;
}

class ReadLogFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "quarnel-read-log-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir = pattern;
  }
  void TearDown() override { fs::remove_all(dir); }

  static std::string contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

  fs::path dir;
};

TEST_F(ReadLogFileTest, MissingFileIsCreatedPrivateAndLinesAreAppended) {
  const fs::path path = dir / "reads.log";
  const mode_t oldMask = umask(0);  // the mode must not depend on a lax umask
  ReadLogFile log;
  std::string error;
  const bool opened = openReadLog(log, path.string(), &error);
  umask(oldMask);
  ASSERT_TRUE(opened) << error;
  struct stat info {};
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);

  ASSERT_TRUE(appendReadLogLine(log, "one\n", &error)) << error;
  ASSERT_TRUE(appendReadLogLine(log, "two\n", &error)) << error;
  EXPECT_EQ(contents(path), "one\ntwo\n") << "each line is in the file as soon as it is written";
}

TEST_F(ReadLogFileTest, ExistingFileKeepsItsContentsAndMode) {
  const fs::path path = dir / "reads.log";
  std::ofstream(path) << "earlier\n";
  fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  ReadLogFile log;
  std::string error;
  ASSERT_TRUE(openReadLog(log, path.string(), &error)) << error;
  ASSERT_TRUE(appendReadLogLine(log, "later\n", &error));
  EXPECT_EQ(contents(path), "earlier\nlater\n");
  EXPECT_EQ(fs::status(path).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST_F(ReadLogFileTest, FileThatCannotBeOpenedIsAnErrorNamingIt) {
  std::ofstream(dir / "plain") << "x";
  // A FIFO with no reader would hold a blocking open for ever; one with a reader is no log file either.
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  ASSERT_EQ(mkfifo((dir / "read-fifo").c_str(), 0600), 0);
  const int reader = open((dir / "read-fifo").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(reader, 0);
  const struct {
    fs::path path;
    const char* reason;
  } cases[] = {
      {dir / "no-such-dir" / "reads.log", "No such file or directory"},
      {dir, "Is a directory"},
      {dir / "plain" / "reads.log", "Not a directory"},
      {"/dev/null", "not a regular file"},
      {dir / "fifo", "not a regular file"},
      {dir / "read-fifo", "not a regular file"},
  };
  for (const auto& c : cases) {
    ReadLogFile log;
    std::string error;
    EXPECT_FALSE(openReadLog(log, c.path.string(), &error)) << c.path;
    EXPECT_EQ(error, c.path.string() + ": " + c.reason);
    EXPECT_EQ(log.fd, -1);
  }
  close(reader);
}

TEST_F(ReadLogFileTest, PortStampsEachReadWithTheLocalTime) {
  const fs::path path = dir / "reads.log";
  ReadLogFile log;
  std::string error;
  ASSERT_TRUE(openReadLog(log, path.string(), &error)) << error;
  const ReadLogPort port = makeReadLogPort(log);
  port.append("A\\1");
  port.append("");
  const std::regex line(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d\t)");
  const std::string text = contents(path);
  const std::size_t firstEnd = text.find('\n');
  ASSERT_NE(firstEnd, std::string::npos) << text;
  const std::string first = text.substr(0, firstEnd);
  const std::string second = text.substr(firstEnd + 1);
  EXPECT_TRUE(std::regex_search(first, line)) << first;
  EXPECT_EQ(first.substr(first.find('\t')), "\tA\\x5C1");
  EXPECT_EQ(second.substr(second.find('\t')), "\t\n");
}

}  // namespace
