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

bool appendReadLogLine(const ReadLogFile& log, const std::string& line, std::string* error) {
  std::size_t written = 0;
  while (written < line.size()) {
    const ssize_t step = write(log.fd, line.data() + written, line.size() - written);
    if (step < 0 && errno == EINTR) continue;
    if (step <= 0) {
      *error = step < 0 ? std::strerror(errno) : "nothing written";
      return false;
    }
    written += static_cast<std::size_t>(step);
  }
  // The line is on the disk before the next read is typed, so a crash or a power cut loses none.
  if (fdatasync(log.fd) != 0 && errno != EINVAL && errno != EROFS) {
    *error = std::strerror(errno);
    return false;
  }
  return true;
}

namespace {

// Stamps a read with the current local time and appends its line; a failed write is said on standard
// error.
void appendStamped(const ReadLogFile& log, const std::string& text, const std::string& notTypedReason) {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto sinceEpoch = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch());
  std::tm local{};
  localtime_r(&seconds, &local);
  const int milliseconds = static_cast<int>(sinceEpoch.count() % 1000);
  const std::string line = readLogLine(isoLocalTime(local, milliseconds, local.tm_gmtoff), text, notTypedReason);
  std::string error;
  if (!appendReadLogLine(log, line, &error)) {
    std::fprintf(stderr, "quarnel: cannot write to the log %s: %s\n", log.path.c_str(), error.c_str());
  }
}

}  // namespace

ReadLogPort makeReadLogPort(const ReadLogFile& log) {
  ReadLogPort port;
  port.append = [&log](const std::string& text) { appendStamped(log, text, ""); };
  port.appendNotTyped = [&log](const std::string& text, const std::string& reason) {
    appendStamped(log, text, reason);
  };
  return port;
}
