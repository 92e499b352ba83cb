// The read log of --log: one line per typed read, appended to a file that is opened once at start.
// A line is the local time in ISO 8601 with its offset, a tab, and the text escaped as quarnel-decode
// prints it. A read that was not typed adds a tab and "not typed: " with the reason.
#ifndef QUARNEL_APP_READ_LOG_H_
#define QUARNEL_APP_READ_LOG_H_

#include <sys/types.h>

#include <ctime>
#include <functional>
#include <string>

// Where the wedge hands each logged read; an empty function logs nothing. Each append returns false,
// with the system's reason, when its line could not be written; then no part of it is in the file.
struct ReadLogPort {
  // text holds the read's bytes, without a terminating NUL.
  std::function<bool(const std::string& text, std::string* error)> append;
  // A read that was not typed, and why.
  std::function<bool(const std::string& text, const std::string& reason, std::string* error)> appendNotTyped;
  // Takes back the line the last append wrote, as long as nothing came after it: a read logged ahead of
  // typing that then could not be typed. Empty when the log cannot.
  std::function<void()> withdrawLast;
};

// The open log file. Owns its descriptor.
struct ReadLogFile {
  ReadLogFile() = default;
  ~ReadLogFile();
  ReadLogFile(const ReadLogFile&) = delete;
  ReadLogFile& operator=(const ReadLogFile&) = delete;

  int fd = -1;
  std::string path;
  // Where the last line written begins and ends, for withdrawLastReadLogLine; -1 before any.
  off_t lastLineStart = -1;
  off_t lastLineEnd = -1;
  // Lines that could not be written since the last one that was: how many, the first one's time and the
  // latest reason. The next line written is preceded by one that records the gap.
  int missedLines = 0;
  std::string gapStart;
  std::string gapReason;
};

// Opens path for appending, creating it with mode 0600 when it is missing. False with a message
// (naming the file and the system's reason) when it cannot be opened or is not a regular file.
bool openReadLog(ReadLogFile& log, const std::string& path, std::string* error);

// "2026-12-10T14:03:05.123+01:00": local time with milliseconds and the offset from UTC.
std::string isoLocalTime(const std::tm& localTime, int milliseconds, long utcOffsetSeconds);

// One line of the log, ending in a line feed; with a reason, the line of a read that was not typed.
std::string readLogLine(const std::string& isoTime, const std::string& text, const std::string& notTypedReason = "");

// The line that stands for lines the log could not take: the time it was written, an empty text, and
// "log gap: " with how many, since when and why. Its third field tells it from a read.
std::string readLogGapLine(const std::string& isoTime, int missedLines, const std::string& since,
                           const std::string& reason);

// Writes line whole (retrying partial writes) and flushes it to the file. When it cannot (a full disk,
// the file size limit, an I/O error), the file is cut back to where the line began, so that no part of
// it runs into the next line, and the result is false with the system's reason.
bool appendReadLogLine(ReadLogFile& log, const std::string& line, std::string* error);

// Cuts off the last line appendReadLogLine wrote, when the file still ends with it.
void withdrawLastReadLogLine(ReadLogFile& log);

// The port over an open log: stamps each read with the current local time and appends it. A failed
// write is said on standard error, once until the reason changes or the log is written again, which is
// also said; the first line written after a gap is preceded by the gap's line. The file must outlive
// the port.
ReadLogPort makeReadLogPort(ReadLogFile& log);

#endif  // QUARNEL_APP_READ_LOG_H_
