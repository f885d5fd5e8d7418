// The SHA-512 compression functions behind Sha512Update, Sha384Update and
// their Finals. Each runs the FIPS 180-4 compression over |blocks|
// consecutive 128-byte blocks at |p|. The rounds themselves are written once,
// below, and shared by both.
#ifndef KVCATOOL_CRYPTOKIT_DIGEST_SHA512_BLOCKS_H
#define KVCATOOL_CRYPTOKIT_DIGEST_SHA512_BLOCKS_H

#include <cstddef>
#include <cstdint>

#include "cryptokit/digest/byte_order.h"
#include "cryptokit/qmemory.h"

namespace qk {

// The 80 round constants of FIPS 180-4, 4.2.3.
extern const uint64_t kSha512RoundConstants[80];

// Plain C++; runs anywhere.
void Sha512BlocksPortable(uint64_t state[8], const uint8_t* p, size_t blocks);

// Expands the message schedules of four blocks at once in AVX2 vectors (one
// block a lane), the next four while the rounds of the present four run with
// the BMI2 rotations; runs of fewer than eight blocks, and the one to three
// left after the groups of four, take the portable rounds. Only call it when
// Sha512CpuHasAvx2() is true.
void Sha512BlocksAvx2(uint64_t state[8], const uint8_t* p, size_t blocks);
bool Sha512CpuHasAvx2();

// The compression Sha512Update and Sha384Update use at present (as
// Sha512UseVectorSchedule and the processor decide), for code that runs the
// compression itself (HMAC).
using Sha512BlocksFn = void (*)(uint64_t*, const uint8_t*, size_t);
Sha512BlocksFn Sha512SelectedBlocks();

// The functions of FIPS 180-4, 4.1.3.
#define SHA512_CH(e, f, g) ((((f) ^ (g)) & (e)) ^ (g))
#define SHA512_BIG0(x) (Rotr64(x, 28) ^ Rotr64(x, 34) ^ Rotr64(x, 39))
#define SHA512_BIG1(x) (Rotr64(x, 14) ^ Rotr64(x, 18) ^ Rotr64(x, 41))
#define SHA512_SMALL0(x) (Rotr64(x, 1) ^ Rotr64(x, 8) ^ ((x) >> 7))
#define SHA512_SMALL1(x) (Rotr64(x, 19) ^ Rotr64(x, 61) ^ ((x) >> 6))

// One round with the working variables named by role; the caller rotates
// the names instead of moving values. |kw| is K[t] + W[t]. Maj(a, b, c) is
// taken as b ^ ((a ^ b) & (b ^ c)): |x| holds b ^ c, which the round before
// computed as its own a ^ b, and |y| receives this round's a ^ b.
#define SHA512_ROUND(a, b, c, d, e, f, g, h, kw, x, y) \
  h += (kw);                                           \
  h += SHA512_BIG1(e) + SHA512_CH(e, f, g);            \
  y = (a) ^ (b);                                       \
  d += h;                                              \
  h += SHA512_BIG0(a) + ((b) ^ (y & x))

// Eight rounds bring the roles back to where they started; KW(j) gives
// K[t] + W[t] for the j-th of them. The working variables are a..h, and x
// and y the Maj helpers (x must hold b ^ c on entry, and does again on exit).
#define SHA512_EIGHT(KW)                                  \
  SHA512_ROUND(a, b, c, d, e, f, g, h, KW(0), x, y);      \
  SHA512_ROUND(h, a, b, c, d, e, f, g, KW(1), y, x);      \
  SHA512_ROUND(g, h, a, b, c, d, e, f, KW(2), x, y);      \
  SHA512_ROUND(f, g, h, a, b, c, d, e, KW(3), y, x);      \
  SHA512_ROUND(e, f, g, h, a, b, c, d, KW(4), x, y);      \
  SHA512_ROUND(d, e, f, g, h, a, b, c, KW(5), y, x);      \
  SHA512_ROUND(c, d, e, f, g, h, a, b, KW(6), x, y);      \
  SHA512_ROUND(b, c, d, e, f, g, h, a, KW(7), y, x)

// The portable compression itself, inline so that a kernel built for a newer
// processor can run it with that processor's instructions (the BMI2
// rotations) on the blocks it leaves over. The message schedule lives in a
// 16-word ring: W[t] for t >= 16 replaces W[t-16]; |i| is t mod 16, a
// constant in the unrolled rounds.
#define SHA512_W_LOAD(i) (w[i] = Load64Be(p + 8 * (i)))
#define SHA512_W_NEXT(i) \
  (w[i] += SHA512_SMALL1(w[((i) + 14) & 15]) + w[((i) + 9) & 15] + SHA512_SMALL0(w[((i) + 1) & 15]))
#define SHA512_KW_LOAD_0(j) (kSha512RoundConstants[(j)] + SHA512_W_LOAD(j))
#define SHA512_KW_LOAD_8(j) (kSha512RoundConstants[8 + (j)] + SHA512_W_LOAD(8 + (j)))
#define SHA512_KW_NEXT_0(j) (kSha512RoundConstants[t + (j)] + SHA512_W_NEXT(j))
#define SHA512_KW_NEXT_8(j) (kSha512RoundConstants[t + 8 + (j)] + SHA512_W_NEXT(8 + (j)))

__attribute__((always_inline)) inline void Sha512BlocksScalar(uint64_t state[8], const uint8_t* p, size_t blocks) {
  uint64_t w[16];
  for (; blocks != 0; --blocks, p += 128) {
    uint64_t a = state[0], b = state[1], c = state[2], d = state[3];
    uint64_t e = state[4], f = state[5], g = state[6], h = state[7];
    uint64_t x = b ^ c, y;
    SHA512_EIGHT(SHA512_KW_LOAD_0);
    SHA512_EIGHT(SHA512_KW_LOAD_8);
    for (int t = 16; t < 80; t += 16) {
      SHA512_EIGHT(SHA512_KW_NEXT_0);
      SHA512_EIGHT(SHA512_KW_NEXT_8);
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
    state[5] += f;
    state[6] += g;
    state[7] += h;
  }
  QMem_Wipe(w, sizeof w);
}

#undef SHA512_KW_NEXT_8
#undef SHA512_KW_NEXT_0
#undef SHA512_KW_LOAD_8
#undef SHA512_KW_LOAD_0
#undef SHA512_W_NEXT
#undef SHA512_W_LOAD

}  // namespace qk

#endif
