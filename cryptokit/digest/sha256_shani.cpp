// SHA-256 compression with the x86 SHA extensions.
//
// SHA256RNDS2 runs two rounds. It keeps the working variables in two vectors,
// A, B, E, F in one (A in the highest 32-bit lane) and C, D, G, H in the
// other, takes the two message words with their round constants already
// added from the low lanes of a third, and returns the new A, B, E, F; the
// old A, B, E, F are then the new C, D, G, H, so two calls with the vectors'
// roles swapped make four rounds. SHA256MSG1 and SHA256MSG2, with the
// W[t-7] terms added between them, expand the message schedule four words at
// a time: W[t] = s1(W[t-2]) + W[t-7] + s0(W[t-15]) + W[t-16].
#include "cryptokit/digest/sha256_blocks.h"

#if defined(__x86_64__) || defined(__i386__)

#include <immintrin.h>

#include <utility>

#include "cryptokit/digest/sha1_blocks.h"

#define KVCA_SHA_TARGET __attribute__((target("sha,sse4.1,ssse3")))

namespace qk {
namespace {

// One group of four rounds, 4j to 4j+3. m[j % 4] holds W[4j..4j+3] (W[4j]
// in the lowest lane). Groups 0 to 3 load their words from the block; after
// the rounds of group j the words of group j+1 are derived, in place of
// those of group j-3, which are no longer needed.
template <int J>
KVCA_SHA_TARGET inline void Sha256Group(__m128i& abef, __m128i& cdgh, __m128i (&m)[4], const uint8_t* p,
                                        __m128i reverseWords) {
  if constexpr (J < 4) {
    m[J] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * J)), reverseWords);
  }
  __m128i wk = _mm_add_epi32(m[J % 4],
                             _mm_loadu_si128(reinterpret_cast<const __m128i*>(kSha256RoundConstants + 4 * J)));
  cdgh = _mm_sha256rnds2_epu32(cdgh, abef, wk);
  wk = _mm_shuffle_epi32(wk, 0x0e);  // the upper two words down
  abef = _mm_sha256rnds2_epu32(abef, cdgh, wk);
  if constexpr (J >= 3 && J <= 14) {
    // W[t-16..] is in m[(J+1) % 4], W[t-12..] in m[(J+2) % 4], W[t-8..] in
    // m[(J+3) % 4] and W[t-4..] in m[J % 4], for t = 4(J+1).
    __m128i next = _mm_sha256msg1_epu32(m[(J + 1) % 4], m[(J + 2) % 4]);
    next = _mm_add_epi32(next, _mm_alignr_epi8(m[J % 4], m[(J + 3) % 4], 4));  // W[t-7..t-4]
    m[(J + 1) % 4] = _mm_sha256msg2_epu32(next, m[J % 4]);
  }
}

template <int... J>
KVCA_SHA_TARGET inline void Sha256AllGroups(__m128i& abef, __m128i& cdgh, __m128i (&m)[4], const uint8_t* p,
                                            __m128i reverseWords, std::integer_sequence<int, J...>) {
  (Sha256Group<J>(abef, cdgh, m, p, reverseWords), ...);
}

}  // namespace

KVCA_SHA_TARGET void Sha256BlocksShaNi(uint32_t state[8], const uint8_t* p, size_t blocks) {
  // Byte-swapping each 32-bit lane turns big-endian words into numbers.
  const __m128i reverseWords = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);

  // From A..D and E..H in memory order to A B E F and C D G H. Vectors are
  // named by their lanes from the highest down.
  __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state));
  __m128i hgfe = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4));
  const __m128i cdab = _mm_shuffle_epi32(dcba, 0xb1);
  const __m128i efgh = _mm_shuffle_epi32(hgfe, 0x1b);
  __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
  __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xf0);

  for (; blocks != 0; --blocks, p += 64) {
    const __m128i abefSaved = abef;
    const __m128i cdghSaved = cdgh;
    __m128i m[4];
    Sha256AllGroups(abef, cdgh, m, p, reverseWords, std::make_integer_sequence<int, 16>{});
    abef = _mm_add_epi32(abef, abefSaved);
    cdgh = _mm_add_epi32(cdgh, cdghSaved);
  }

  // And back to memory order.
  const __m128i feba = _mm_shuffle_epi32(abef, 0x1b);
  const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xb1);
  dcba = _mm_blend_epi16(feba, dchg, 0xf0);
  hgfe = _mm_alignr_epi8(dchg, feba, 8);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), dcba);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), hgfe);
}

// The processor announces the SHA-1 and SHA-256 instructions with one
// feature bit, so the SHA-1 check answers for both.
bool Sha256CpuHasShaInstructions() { return Sha1CpuHasShaInstructions(); }

}  // namespace qk

#else  // not x86

namespace qk {

void Sha256BlocksShaNi(uint32_t state[8], const uint8_t* p, size_t blocks) {
  Sha256BlocksPortable(state, p, blocks);
}
bool Sha256CpuHasShaInstructions() { return false; }

}  // namespace qk

#endif
