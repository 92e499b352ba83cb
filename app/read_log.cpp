// The read log file.
#include "app/read_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "tools/escape_message.h"

ReadLogFile::~ReadLogFile() {
  if (fd >= 0) close(fd);
}

bool openReadLog(ReadLogFile& log, const std::string& path, std::string* error) {
  // O_APPEND makes every write land at the end as one piece, also beside another writer. O_NONBLOCK keeps
  // the open of a FIFO or a device from waiting for a reader: such a file is refused below anyway.
  const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0600);
  if (fd < 0) {
    // A FIFO without a reader refuses a non-blocking open for writing with ENXIO.
    *error = path + ": " + (errno == ENXIO ? "not a regular file" : std::strerror(errno));
    return false;
  }
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    *error = path + ": not a regular file";
    return false;
  }
  // Writes to the regular file block as usual, so a line is never left half written for EAGAIN.
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  if (log.fd >= 0) close(log.fd);
  log.fd = fd;
  log.path = path;
  return true;
}

std::string isoLocalTime(const std::tm& localTime, int milliseconds, long utcOffsetSeconds) {
  const char sign = utcOffsetSeconds < 0 ? '-' : '+';
  const long offsetMinutes = std::labs(utcOffsetSeconds) / 60;
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02ld:%02ld", localTime.tm_year + 1900,
                localTime.tm_mon + 1, localTime.tm_mday, localTime.tm_hour, localTime.tm_min, localTime.tm_sec,
                milliseconds, sign, offsetMinutes / 60, offsetMinutes % 60);
  return text;
}

std::string readLogLine(const std::string& isoTime, const std::string& text, const std::string& notTypedReason) {
  std::string line = isoTime + '\t' + escapeMessage(std::vector<std::uint8_t>(text.begin(), text.end()));
  if (!notTypedReason.empty()) line += "\tnot typed: " + notTypedReason;
  return line + '\n';
}

std::string readLogGapLine(const std::string& isoTime, int missedLines, const std::string& since,
                           const std::string& reason) {
  return isoTime + "\t\tlog gap: " + std::to_string(missedLines) + " line(s) not written from " + since + " on (" +
         reason + ")\n";
}

namespace {

// The file's end, where an O_APPEND write puts its line; -1 when it cannot be told.
off_t fileEnd(int fd) {
  struct stat info {};
  return fstat(fd, &info) == 0 ? info.st_size : -1;
}

// Writes the line at the file's end in as many steps as the system takes; false with the reason.
bool writeWhole(int fd, const std::string& line, std::string* error) {
  std::size_t written = 0;
  while (written < line.size()) {
    const ssize_t step = write(fd, line.data() + written, line.size() - written);
    if (step < 0 && errno == EINTR) continue;
    if (step <= 0) {
      *error = step < 0 ? std::strerror(errno) : "nothing written";
      return false;
    }
    written += static_cast<std::size_t>(step);
  }
  // The line is on the disk before the next read is typed, so a crash or a power cut loses none. Some
  // file systems only find out here that the disk is full.
  if (fdatasync(fd) != 0 && errno != EINVAL && errno != EROFS) {
    *error = std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace

bool appendReadLogLine(ReadLogFile& log, const std::string& line, std::string* error) {
  const off_t start = fileEnd(log.fd);
  if (writeWhole(log.fd, line, error)) {
    log.lastLineStart = start;
    log.lastLineEnd = start < 0 ? -1 : start + static_cast<off_t>(line.size());
    return true;
  }
  // Part of the line may have reached the file: cut it off, or the next line would run on from it.
  if (start >= 0 && fileEnd(log.fd) > start && ftruncate(log.fd, start) == 0) fdatasync(log.fd);
  log.lastLineStart = log.lastLineEnd = -1;
  return false;
}

void withdrawLastReadLogLine(ReadLogFile& log) {
  if (log.lastLineStart < 0 || fileEnd(log.fd) != log.lastLineEnd) return;
  if (ftruncate(log.fd, log.lastLineStart) == 0) fdatasync(log.fd);
  log.lastLineStart = log.lastLineEnd = -1;
}

namespace {

std::string isoTimeNow() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto sinceEpoch = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch());
  std::tm local{};
  localtime_r(&seconds, &local);
  return isoLocalTime(local, static_cast<int>(sinceEpoch.count() % 1000), local.tm_gmtoff);
}

// Notes a line the log could not take; says so on standard error when the fault is new.
void noteMissedLine(ReadLogFile& log, const std::string& isoTime, const std::string& reason) {
  if (log.missedLines == 0) log.gapStart = isoTime;
  ++log.missedLines;
  if (reason != log.gapReason) {
    std::fprintf(stderr, "quarnel: cannot write to the log %s: %s\n", log.path.c_str(), reason.c_str());
    log.gapReason = reason;
  }
}

// Stamps a read with the current local time and appends its line. After a gap the gap's line goes
// first, in the same write: the two are in the file together or not at all, so a little room cannot
// take the gap's line and leave the read's out again and again.
bool appendStamped(ReadLogFile& log, const std::string& text, const std::string& notTypedReason, std::string* error) {
  const std::string isoTime = isoTimeNow();
  const std::string gapLine =
      log.missedLines > 0 ? readLogGapLine(isoTime, log.missedLines, log.gapStart, log.gapReason) : "";
  const std::string lines = gapLine + readLogLine(isoTime, text, notTypedReason);
  if (!appendReadLogLine(log, lines, error)) {
    noteMissedLine(log, isoTime, *error);
    return false;
  }
  if (log.missedLines > 0) {
    std::fprintf(stderr, "quarnel: the log %s is written again; %d line(s) were lost\n", log.path.c_str(),
                 log.missedLines);
    log.missedLines = 0;
    log.gapReason.clear();
    // Only the read's own line is taken back should it not be typed; the gap stays recorded.
    if (log.lastLineStart >= 0) log.lastLineStart += static_cast<off_t>(gapLine.size());
  }
  return true;
}

}  // namespace

ReadLogPort makeReadLogPort(ReadLogFile& log) {
  ReadLogPort port;
  port.append = [&log](const std::string& text, std::string* error) { return appendStamped(log, text, "", error); };
  port.appendNotTyped = [&log](const std::string& text, const std::string& reason, std::string* error) {
    return appendStamped(log, text, reason, error);
  };
  port.withdrawLast = [&log] { withdrawLastReadLogLine(log); };
  return port;
}
