// SHA-512 compression with the message schedule expanded in AVX2 vectors.
//
// The schedule of a block does not depend on the chaining value, so the
// schedules of four blocks can be expanded together, one block in each
// 64-bit lane, while the rounds, which do depend on it, run one block after
// another on the general registers. This takes the schedule's shifts and
// additions off the integer units the rounds need, and BMI2 gives the rounds
// rotations that leave their source alone.
#include "cryptokit/digest/sha512_blocks.h"

#if defined(__x86_64__)

#include <cpuid.h>
#include <immintrin.h>

#include "cryptokit/qmemory.h"

#define KVCA_AVX2_TARGET __attribute__((target("avx2,bmi2")))

namespace qk {
namespace {

constexpr size_t kLanes = 4;

KVCA_AVX2_TARGET inline __m256i Small0(__m256i x) {
  return _mm256_xor_si256(
      _mm256_xor_si256(_mm256_xor_si256(_mm256_srli_epi64(x, 1), _mm256_slli_epi64(x, 63)),
                       _mm256_xor_si256(_mm256_srli_epi64(x, 8), _mm256_slli_epi64(x, 56))),
      _mm256_srli_epi64(x, 7));
}

KVCA_AVX2_TARGET inline __m256i Small1(__m256i x) {
  return _mm256_xor_si256(
      _mm256_xor_si256(_mm256_xor_si256(_mm256_srli_epi64(x, 19), _mm256_slli_epi64(x, 45)),
                       _mm256_xor_si256(_mm256_srli_epi64(x, 61), _mm256_slli_epi64(x, 3))),
      _mm256_srli_epi64(x, 6));
}

// Fills kw[t][lane] with K[t] + W[t] of the block at |block[lane]|.
KVCA_AVX2_TARGET void ExpandFour(const uint8_t* const block[kLanes], __m256i w[80], __m256i kw[80]) {
  // Swaps the bytes of each 64-bit lane: big-endian words to numbers.
  const __m256i reverseWords = _mm256_set_epi8(8, 9, 10, 11, 12, 13, 14, 15, 0, 1, 2, 3, 4, 5, 6, 7,  //
                                               8, 9, 10, 11, 12, 13, 14, 15, 0, 1, 2, 3, 4, 5, 6, 7);
  for (int g = 0; g < 4; ++g) {
    // Words 4g..4g+3 of each block, then a 4 x 4 transpose so that each
    // vector holds one word of all four blocks.
    __m256i v[kLanes];
    for (size_t lane = 0; lane < kLanes; ++lane) {
      v[lane] = _mm256_shuffle_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(block[lane] + 32 * g)),
                                    reverseWords);
    }
    const __m256i t0 = _mm256_unpacklo_epi64(v[0], v[1]);
    const __m256i t1 = _mm256_unpackhi_epi64(v[0], v[1]);
    const __m256i t2 = _mm256_unpacklo_epi64(v[2], v[3]);
    const __m256i t3 = _mm256_unpackhi_epi64(v[2], v[3]);
    w[4 * g + 0] = _mm256_permute2x128_si256(t0, t2, 0x20);
    w[4 * g + 1] = _mm256_permute2x128_si256(t1, t3, 0x20);
    w[4 * g + 2] = _mm256_permute2x128_si256(t0, t2, 0x31);
    w[4 * g + 3] = _mm256_permute2x128_si256(t1, t3, 0x31);
  }
  for (int t = 16; t < 80; ++t) {
    w[t] = _mm256_add_epi64(_mm256_add_epi64(Small1(w[t - 2]), w[t - 7]),
                            _mm256_add_epi64(Small0(w[t - 15]), w[t - 16]));
  }
  for (int t = 0; t < 80; ++t) {
    kw[t] = _mm256_add_epi64(w[t], _mm256_set1_epi64x(static_cast<long long>(kSha512RoundConstants[t])));
  }
}

// The 80 rounds of one block whose K[t] + W[t] are kw[lane + 4t].
KVCA_AVX2_TARGET inline void Rounds(uint64_t state[8], const uint64_t* kw) {
  uint64_t a = state[0], b = state[1], c = state[2], d = state[3];
  uint64_t e = state[4], f = state[5], g = state[6], h = state[7];
  uint64_t x = b ^ c, y;
  for (int t = 0; t < 80; t += 8) {
#define SHA512_KW_AT(j) kw[kLanes * (t + (j))]
    SHA512_EIGHT(SHA512_KW_AT);
#undef SHA512_KW_AT
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

}  // namespace

KVCA_AVX2_TARGET void Sha512BlocksAvx2(uint64_t state[8], const uint8_t* p, size_t blocks) {
  __m256i w[80];
  __m256i kw[80];
  while (blocks != 0) {
    // Fewer than four blocks left: the spare lanes repeat the last one.
    const size_t n = blocks < kLanes ? blocks : kLanes;
    const uint8_t* block[kLanes];
    for (size_t lane = 0; lane < kLanes; ++lane) block[lane] = p + 128 * (lane < n ? lane : n - 1);
    ExpandFour(block, w, kw);
    const auto* kwWords = reinterpret_cast<const uint64_t*>(kw);
    for (size_t lane = 0; lane < n; ++lane) Rounds(state, kwWords + lane);
    p += 128 * n;
    blocks -= n;
  }
  QMem_Wipe(w, sizeof w);
  QMem_Wipe(kw, sizeof kw);
}

bool Sha512CpuHasAvx2() {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
  const bool osxsave = (ecx & (1u << 27)) != 0;
  const bool avx = (ecx & (1u << 28)) != 0;
  if (!osxsave || !avx) return false;
  // The system must save the SSE and AVX register state (XCR0 bits 1, 2).
  unsigned xcr0Low = 0, xcr0High = 0;
  __asm__("xgetbv" : "=a"(xcr0Low), "=d"(xcr0High) : "c"(0));
  if ((xcr0Low & 6u) != 6u) return false;
  if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) return false;
  const bool avx2 = (ebx & (1u << 5)) != 0;
  const bool bmi2 = (ebx & (1u << 8)) != 0;
  return avx2 && bmi2;
}

}  // namespace qk

#else  // not x86-64

namespace qk {

void Sha512BlocksAvx2(uint64_t state[8], const uint8_t* p, size_t blocks) { Sha512BlocksPortable(state, p, blocks); }
bool Sha512CpuHasAvx2() { return false; }

}  // namespace qk

#endif
