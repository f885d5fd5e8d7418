// The operating system's random source (getrandom). Tests can replace it,
// for instance to make it fail.
#ifndef KVCATOOL_PLATFORM_OS_RANDOM_H
#define KVCATOOL_PLATFORM_OS_RANDOM_H

#include <cstddef>

namespace kvplatform {

// Fills |n| bytes at |out| from the OS random source. Returns 0 on success or
// the errno value of the failure (the buffer is then unspecified).
int OsRandomBytes(unsigned char* out, size_t n);

using OsRandomFunction = int (*)(unsigned char* out, size_t n);
// Replaces the source with |source| (null restores getrandom).
void SetOsRandomForTest(OsRandomFunction source);

}  // namespace kvplatform

#endif
