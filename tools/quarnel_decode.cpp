#include <malloc.h>

#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include <opencv2/core/utility.hpp>

#include "tools/decode_command.h"
#include "tools/pixel_budget.h"

namespace {

// Every picture's buffers are large blocks that the allocator would otherwise map and unmap from the
// system for each file; with several jobs in one process each unmapping stalls the other threads (the
// address space is shared), which cost about a tenth of `-j 2`'s time. Kept in the heap, they are reused
// from file to file. Blocks larger than this (a colour picture of over ten megapixels) are still mapped.
constexpr int MAPPED_BLOCK_MIN_BYTES = 32 * 1024 * 1024;
constexpr int HEAP_TRIM_MIN_BYTES = 64 * 1024 * 1024;

void keepPictureBuffersInTheHeap() {
  mallopt(M_MMAP_THRESHOLD, MAPPED_BLOCK_MIN_BYTES);
  mallopt(M_TRIM_THRESHOLD, HEAP_TRIM_MIN_BYTES);
}

// Under an address space limit every thread's share counts: a heap arena of its own reserves 64 MiB, and
// the image library's thread pool, once it fails to start a thread, waits for it for ever. So the
// threads share one heap and the image library works on the thread that calls it; -j still decodes
// several files at once.
void keepWithinTheAddressSpaceLimit() {
  if (addressSpaceLimit() <= 0) return;
  mallopt(M_ARENA_MAX, 1);
  cv::setNumThreads(0);
}

}  // namespace

int main(int argc, char** argv) {
  keepPictureBuffersInTheHeap();
  keepWithinTheAddressSpaceLimit();
  try {
    std::vector<std::string> args(argv + 1, argv + argc);
    const int status = runDecodeCommand(args, std::cout, std::cerr);
    std::cout.flush();
    return status;
  } catch (const std::exception& failure) {
    // Each file's failures are that file's; what is left (memory for the output itself) ends the batch
    // with what was written so far kept.
    std::cout.flush();
    std::cerr << "quarnel-decode: " << failure.what() << "\n";
    return DECODE_COMMAND_FAILED;
  }
}
