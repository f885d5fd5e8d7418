// Word loads and stores in a fixed byte order and the 32-bit rotation, for
// the digests (MD5 reads little-endian words, SHA-1 big-endian ones).
#ifndef KVCATOOL_CRYPTOKIT_DIGEST_BYTE_ORDER_H
#define KVCATOOL_CRYPTOKIT_DIGEST_BYTE_ORDER_H

#include <cstdint>
#include <cstring>

namespace qk {

inline uint32_t Load32Le(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  v = __builtin_bswap32(v);
#endif
  return v;
}

inline void Store32Le(uint8_t* p, uint32_t v) {
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  v = __builtin_bswap32(v);
#endif
  std::memcpy(p, &v, 4);
}

inline uint32_t Load32Be(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  v = __builtin_bswap32(v);
#endif
  return v;
}

inline void Store32Be(uint8_t* p, uint32_t v) {
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  v = __builtin_bswap32(v);
#endif
  std::memcpy(p, &v, 4);
}

inline uint32_t Rotl(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

}  // namespace qk

#endif
