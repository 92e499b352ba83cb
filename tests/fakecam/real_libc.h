// Test-only: the C library's own functions behind the emulated camera's replacements.
#ifndef QUARNEL_TESTS_FAKECAM_REAL_LIBC_H_
#define QUARNEL_TESTS_FAKECAM_REAL_LIBC_H_

#include <sys/types.h>

#include <cstddef>

void* realMmap(void* address, std::size_t length, int protection, int flags, int fd, off_t offset);
int realMunmap(void* address, std::size_t length);
int realClose(int fd);

#endif  // QUARNEL_TESTS_FAKECAM_REAL_LIBC_H_
