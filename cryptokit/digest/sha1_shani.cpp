// SHA-1 compression with the x86 SHA extensions.
//
// The instructions keep the working variables A, B, C, D in one vector with
// A in the highest 32-bit lane, and E (added to the message words) in the
// highest lane of another. SHA1RNDS4 runs four rounds with the round function
// and constant chosen by its immediate (0 to 3 for rounds 0-19, 20-39, 40-59,
// 60-79); SHA1NEXTE derives the next E (A of four rounds back rotated left
// by 30) and adds it to the next four message words; SHA1MSG1 and SHA1MSG2,
// with one XOR between them, expand the message schedule four words at a
// time: W[t] = rotl1(W[t-3] ^ W[t-8] ^ W[t-14] ^ W[t-16]).
#include "cryptokit/digest/sha1_blocks.h"

#if defined(__x86_64__) || defined(__i386__)

#include <cpuid.h>
#include <immintrin.h>

#include <utility>

#define KVCA_SHA_TARGET __attribute__((target("sha,sse4.1,ssse3")))

namespace qk {
namespace {

// One group of four rounds, 4j to 4j+3. m[j % 4] holds W[4j..4j+3] (W[4j]
// in the highest lane). While the rounds run, the schedule words of later
// groups are prepared: the register of group j-1 starts on W[4j+12..] with
// SHA1MSG1, that of group j-2 takes its XOR with W[4j..], and that of group
// j-3 is finished by SHA1MSG2, just in time for group j+1.
template <int J>
KVCA_SHA_TARGET inline void Sha1Group(__m128i& abcd, __m128i& e, __m128i& prev, __m128i (&m)[4]) {
  if constexpr (J == 0) {
    e = _mm_add_epi32(e, m[0]);
  } else {
    e = _mm_sha1nexte_epu32(prev, m[J % 4]);
  }
  prev = abcd;
  abcd = _mm_sha1rnds4_epu32(abcd, e, J / 5);
  if constexpr (J >= 3 && J - 3 <= 15) m[(J - 3) % 4] = _mm_sha1msg2_epu32(m[(J - 3) % 4], m[J % 4]);
  if constexpr (J >= 2 && J - 2 <= 15) m[(J - 2) % 4] = _mm_xor_si128(m[(J - 2) % 4], m[J % 4]);
  if constexpr (J >= 1 && J - 1 <= 15) m[(J - 1) % 4] = _mm_sha1msg1_epu32(m[(J - 1) % 4], m[J % 4]);
}

template <int... J>
KVCA_SHA_TARGET inline void Sha1AllGroups(__m128i& abcd, __m128i& e, __m128i& prev, __m128i (&m)[4],
                                          std::integer_sequence<int, J...>) {
  (Sha1Group<J>(abcd, e, prev, m), ...);
}

}  // namespace

KVCA_SHA_TARGET void Sha1BlocksShaNi(uint32_t state[5], const uint8_t* p, size_t blocks) {
  // Reversing all 16 bytes turns four big-endian words into lanes with the
  // first word highest.
  const __m128i reverseBytes = _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
  __m128i abcd = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state));
  abcd = _mm_shuffle_epi32(abcd, 0x1b);  // A into the highest lane
  __m128i e0 = _mm_set_epi32(static_cast<int>(state[4]), 0, 0, 0);

  for (; blocks != 0; --blocks, p += 64) {
    const __m128i abcdSaved = abcd;
    const __m128i eSaved = e0;
    __m128i m[4];
    for (int i = 0; i < 4; ++i) {
      m[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i)), reverseBytes);
    }
    __m128i e = e0, prev = abcd;
    Sha1AllGroups(abcd, e, prev, m, std::make_integer_sequence<int, 20>{});
    // E after round 79 is A before round 76, rotated; add the saved E to it.
    e0 = _mm_sha1nexte_epu32(prev, eSaved);
    abcd = _mm_add_epi32(abcd, abcdSaved);
  }

  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_shuffle_epi32(abcd, 0x1b));
  state[4] = static_cast<uint32_t>(_mm_extract_epi32(e0, 3));
}

bool Sha1CpuHasShaInstructions() {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
  const bool ssse3 = (ecx & (1u << 9)) != 0;
  const bool sse41 = (ecx & (1u << 19)) != 0;
  if (!ssse3 || !sse41) return false;
  if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) return false;
  return (ebx & (1u << 29)) != 0;
}

}  // namespace qk

#else  // not x86

namespace qk {

void Sha1BlocksShaNi(uint32_t state[5], const uint8_t* p, size_t blocks) { Sha1BlocksPortable(state, p, blocks); }
bool Sha1CpuHasShaInstructions() { return false; }

}  // namespace qk

#endif
