// Reads a fuzz input front to back: fixed-size header fields first, the rest as payload. Reading past the
// end yields zeros, so every input, however short, selects some case.
#ifndef QUARNEL_TESTS_FUZZ_FUZZ_INPUT_H_
#define QUARNEL_TESTS_FUZZ_FUZZ_INPUT_H_

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

class FuzzInput {
 public:
  FuzzInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  std::uint8_t takeByte() { return at_ < size_ ? data_[at_++] : 0; }
  std::uint16_t takeU16() {
    const std::uint16_t low = takeByte();
    return static_cast<std::uint16_t>(low | (takeByte() << 8));
  }
  std::uint32_t takeU32() {
    const std::uint32_t low = takeU16();
    return low | (static_cast<std::uint32_t>(takeU16()) << 16);
  }
  std::int32_t takeI32() { return static_cast<std::int32_t>(takeU32()); }

  // Everything not yet taken, as its own exactly-sized buffer so that any read past it is caught.
  std::vector<std::uint8_t> takeRest() {
    std::vector<std::uint8_t> rest(data_ + at_, data_ + size_);
    at_ = size_;
    return rest;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

// A property of the code under test does not hold: abort, so the fuzzer keeps the input as a crash.
inline void fuzzCheck(bool holds) {
  if (!holds) std::abort();
}

#endif  // QUARNEL_TESTS_FUZZ_FUZZ_INPUT_H_
