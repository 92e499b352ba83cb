// The read log of --log: one line per typed read, appended to a file that is opened once at start.
// A line is the local time in ISO 8601 with its offset, a tab, and the text escaped as quarnel-decode
// prints it. A read that was not typed adds a tab and "not typed: " with the reason.
#ifndef QUARNEL_APP_READ_LOG_H_
#define QUARNEL_APP_READ_LOG_H_

#include <ctime>
#include <functional>
#include <string>

// Where the wedge hands each logged read; an empty function logs nothing.
struct ReadLogPort {
  // text holds the read's bytes, without a terminating NUL.
  std::function<void(const std::string& text)> append;
  // A read that was not typed, and why.
  std::function<void(const std::string& text, const std::string& reason)> appendNotTyped;
};

// The open log file. Owns its descriptor.
struct ReadLogFile {
  ReadLogFile() = default;
  ~ReadLogFile();
  ReadLogFile(const ReadLogFile&) = delete;
  ReadLogFile& operator=(const ReadLogFile&) = delete;

  int fd = -1;
  std::string path;
};

// Opens path for appending, creating it with mode 0600 when it is missing. False with a message
// (naming the file and the system's reason) when it cannot be opened or is not a regular file.
bool openReadLog(ReadLogFile& log, const std::string& path, std::string* error);

// "2026-12-10T14:03:05.123+01:00": local time with milliseconds and the offset from UTC.
std::string isoLocalTime(const std::tm& localTime, int milliseconds, long utcOffsetSeconds);

// One line of the log, ending in a line feed; with a reason, the line of a read that was not typed.
std::string readLogLine(const std::string& isoTime, const std::string& text, const std::string& notTypedReason = "");

// Writes line whole (retrying partial writes) and flushes it to the file; false with the system's
// reason when it could not be written.
bool appendReadLogLine(const ReadLogFile& log, const std::string& line, std::string* error);

// The port over an open log: stamps each read with the current local time and appends it; a failed
// write is reported on standard error. The file must outlive the port.
ReadLogPort makeReadLogPort(const ReadLogFile& log);

#endif  // QUARNEL_APP_READ_LOG_H_
