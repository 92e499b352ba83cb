// Test-only: what an action writes to standard output, and a silencer for output nobody reads.
#ifndef QUARNEL_TESTS_SUPPORT_STANDARD_OUTPUT_H_
#define QUARNEL_TESTS_SUPPORT_STANDARD_OUTPUT_H_

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace testsupport {

template <typename Action>
std::string stdoutOf(Action&& action) {
  testing::internal::CaptureStdout();
  action();
  return testing::internal::GetCapturedStdout();
}

// Sends standard output to /dev/null while alive: the capture component reports every open, close and
// dropped sample there, which in a long run would fill the test log.
class StdoutSilencer {
 public:
  StdoutSilencer() {
    std::fflush(stdout);
    saved_ = dup(STDOUT_FILENO);
    const int devNull = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (saved_ >= 0 && devNull >= 0) dup2(devNull, STDOUT_FILENO);
    if (devNull >= 0) close(devNull);
  }
  ~StdoutSilencer() {
    std::fflush(stdout);
    if (saved_ >= 0) {
      dup2(saved_, STDOUT_FILENO);
      close(saved_);
    }
  }
  StdoutSilencer(const StdoutSilencer&) = delete;
  StdoutSilencer& operator=(const StdoutSilencer&) = delete;

 private:
  int saved_ = -1;
};

}  // namespace testsupport

#endif  // QUARNEL_TESTS_SUPPORT_STANDARD_OUTPUT_H_
