// Test-only: what an action writes to standard output.
#ifndef QUARNEL_TESTS_SUPPORT_STANDARD_OUTPUT_H_
#define QUARNEL_TESTS_SUPPORT_STANDARD_OUTPUT_H_

#include <gtest/gtest.h>

#include <string>

namespace capturetest {

template <typename Action>
std::string stdoutOf(Action&& action) {
  testing::internal::CaptureStdout();
  action();
  return testing::internal::GetCapturedStdout();
}

}  // namespace capturetest

#endif  // QUARNEL_TESTS_SUPPORT_STANDARD_OUTPUT_H_
