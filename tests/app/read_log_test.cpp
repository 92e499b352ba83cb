// The read log: its time stamps, its lines, and the file it appends to.
#include "app/read_log.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

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
  ASSERT_TRUE(port.append("A\\1", &error)) << error;
  ASSERT_TRUE(port.append("", &error)) << error;
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

TEST_F(ReadLogFileTest, LastLineIsTakenBackOnlyWhileTheFileStillEndsWithIt) {
  const fs::path path = dir / "reads.log";
  ReadLogFile log;
  std::string error;
  ASSERT_TRUE(openReadLog(log, path.string(), &error)) << error;
  ASSERT_TRUE(appendReadLogLine(log, "kept\n", &error)) << error;
  ASSERT_TRUE(appendReadLogLine(log, "taken back\n", &error)) << error;
  withdrawLastReadLogLine(log);
  EXPECT_EQ(contents(path), "kept\n");
  withdrawLastReadLogLine(log);
  EXPECT_EQ(contents(path), "kept\n") << "only the last line, once";

  ASSERT_TRUE(appendReadLogLine(log, "mine\n", &error)) << error;
  std::ofstream(path, std::ios::app) << "another writer's\n";
  withdrawLastReadLogLine(log);
  EXPECT_EQ(contents(path), "kept\nmine\nanother writer's\n") << "a line written after it is never cut";
}

// The whole of a log's lines: each ends in a line feed, and each is a read's line or a gap's line.
void expectWholeLines(const std::string& text, const std::string& readText) {
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.back(), '\n') << "no line is left without its end";
  const std::regex readLine(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d\t)" + readText);
  const std::regex gapLine(R"(\d{4}-\d\d-\d\dT[0-9:.+-]+\t\tlog gap: \d+ line\(s\) not written from \S+ on \(.+\))");
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    EXPECT_TRUE(std::regex_match(line, readLine) || std::regex_match(line, gapLine)) << line.substr(0, 80);
  }
}

// A log that runs out of room: on a full file system (a 64 KiB tmpfs, mounted where the test may, as root)
// and at the file size limit (RLIMIT_FSIZE, everywhere). Every line in the file stays whole; a line that
// does not fit is cut back off, said once on standard error, and recorded as a gap once room comes back.
TEST_F(ReadLogFileTest, LogWithoutRoomKeepsWholeLinesAndRecordsTheGapWhenRoomComesBack) {
  const std::string readText(1500, 'R');
  struct Room {
    const char* name;
    std::function<bool(const fs::path& folder)> make;  // false: cannot be made here
    std::function<void(const fs::path& folder)> free;  // gives room back
    std::function<void(const fs::path& folder)> end;
    const char* reason;
  };
  struct rlimit before {};
  getrlimit(RLIMIT_FSIZE, &before);
  const std::vector<Room> rooms = {
      {"full tmpfs",
       [](const fs::path& folder) {
         fs::create_directory(folder);
         if (mount("tmpfs", folder.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=64k,mode=0700") != 0) return false;
         // Ballast, to be deleted when room is to come back.
         std::ofstream(folder / "ballast", std::ios::binary) << std::string(16384, 'b');
         return true;
       },
       [](const fs::path& folder) { fs::remove(folder / "ballast"); },
       [](const fs::path& folder) { umount2(folder.c_str(), MNT_DETACH); }, "No space left on device"},
      {"file size limit",
       [&before](const fs::path& folder) {
         fs::create_directory(folder);
         struct rlimit small = before;
         small.rlim_cur = 20000;
         return setrlimit(RLIMIT_FSIZE, &small) == 0;
       },
       [&before](const fs::path&) { setrlimit(RLIMIT_FSIZE, &before); },
       [&before](const fs::path&) { setrlimit(RLIMIT_FSIZE, &before); }, "File too large"},
  };
  // As the program does: past the limit a write fails rather than the signal ending the process.
  const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
  for (const Room& room : rooms) {
    SCOPED_TRACE(room.name);
    const fs::path folder = dir / "room";
    if (!room.make(folder)) {
      std::cout << "[ NOTE     ] " << room.name << " cannot be made here; not checked\n";
      continue;
    }
    // The room is put away however the checks end.
    const std::unique_ptr<const Room, std::function<void(const Room*)>> ending(
        &room, [&folder](const Room* r) { r->end(folder); });
    {
      ReadLogFile log;
      std::string error;
      ASSERT_TRUE(openReadLog(log, (folder / "reads.log").string(), &error)) << error;
      const ReadLogPort port = makeReadLogPort(log);
      testing::internal::CaptureStderr();
      int written = 0;
      while (written < 100 && port.append(readText, &error)) ++written;
      ASSERT_LT(written, 100) << "the room never ran out";
      EXPECT_EQ(error, room.reason);
      EXPECT_FALSE(port.append(readText, &error)) << "still no room";
      expectWholeLines(contents(log.path), readText);
      room.free(folder);
      ASSERT_TRUE(port.append(readText, &error)) << error;
      const std::string said = testing::internal::GetCapturedStderr();
      EXPECT_EQ(said, "quarnel: cannot write to the log " + log.path + ": " + room.reason + "\n" +
                          "quarnel: the log " + log.path + " is written again; 2 line(s) were lost\n");
      const std::string text = contents(log.path);
      expectWholeLines(text, readText);
      const std::size_t gap = text.find("\t\tlog gap: 2 line(s) not written from ");
      ASSERT_NE(gap, std::string::npos);
      EXPECT_NE(text.find(std::string(" on (") + room.reason + ")\n", gap), std::string::npos);
      EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), written + 2) << "the reads before, the gap, the read after";
    }
  }
  std::signal(SIGXFSZ, previousHandler);
}

}  // namespace
