// Helpers shared by the fuzz targets.
#ifndef KVCATOOL_FUZZ_FUZZ_SUPPORT_H
#define KVCATOOL_FUZZ_FUZZ_SUPPORT_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// A property every input must keep. A failed check prints where and aborts,
// which libFuzzer reports as a finding and saves the input for.
#define FuzzCheck(condition)                                                                 \
  do {                                                                                       \
    if (!(condition)) {                                                                      \
      std::fprintf(stderr, "fuzz check failed at %s:%d: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                          \
    }                                                                                        \
  } while (0)

namespace fuzz {

inline bool SameBytes(const void* a, size_t aLen, const void* b, size_t bLen) {
  return aLen == bLen && (aLen == 0 || std::memcmp(a, b, aLen) == 0);
}

// Takes bytes off the front of the input, for targets whose input begins
// with a few parameter bytes.
struct Reader {
  const uint8_t* data;
  size_t size;
  uint8_t Byte() {
    if (size == 0) return 0;
    --size;
    return *data++;
  }
  const uint8_t* Take(size_t n, size_t* got) {
    *got = n < size ? n : size;
    const uint8_t* at = data;
    data += *got;
    size -= *got;
    return at;
  }
};

}  // namespace fuzz

#endif
