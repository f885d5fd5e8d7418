// SHA-512 compression with the message schedule expanded in AVX2 vectors.
//
// The schedule of a block does not depend on the chaining value, so the
// schedules of four blocks (a group) are expanded together, one block in each
// 64-bit lane, while the rounds, which do depend on it, run one block after
// another on the general registers with the BMI2 rotations.
//
// The two kinds of work use different execution units, so they are
// pipelined: while the rounds of one group run, the schedule of the next is
// expanded two words at a time between every eight rounds. The processor then
// overlaps the vector work with the rounds instead of running it as a
// separate phase, and the whole message goes through one call without any
// per-block setup beyond reloading the chaining value.
#include "cryptokit/digest/sha512_blocks.h"

#if defined(__x86_64__)

#include <cpuid.h>
#include <immintrin.h>

#include "cryptokit/qmemory.h"

#define KVCA_AVX2_TARGET __attribute__((target("avx2,bmi2")))

namespace qk {
namespace {

constexpr size_t kLanes = 4;
constexpr int kRounds = 80;

// Everything about word t of the schedule, laid out so that one pointer
// reaches it all: K[t] + W[t] of the group whose rounds run (kw[cur]) and of
// the group being expanded (kw[cur ^ 1]), W[t] of the group being expanded
// and K[t] itself, in each lane.
struct ScheduleWord {
  __m256i kw[2];
  __m256i w;
  __m256i k;
};
constexpr size_t kWordStride = sizeof(ScheduleWord) / sizeof(uint64_t);

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

// Words 0 to 15 of the four blocks at |p| into |s| (their kw[kTo] and w).
template <int kTo>
KVCA_AVX2_TARGET inline void LoadWords(const uint8_t* p, ScheduleWord* s) {
  // Swaps the bytes of each 64-bit lane: big-endian words to numbers.
  const __m256i reverseWords = _mm256_set_epi8(8, 9, 10, 11, 12, 13, 14, 15, 0, 1, 2, 3, 4, 5, 6, 7,  //
                                               8, 9, 10, 11, 12, 13, 14, 15, 0, 1, 2, 3, 4, 5, 6, 7);
  for (int g = 0; g < 4; ++g) {
    // Words 4g..4g+3 of each block, then a 4 x 4 transpose so that each
    // vector holds one word of all four blocks.
    __m256i v[kLanes];
    for (size_t lane = 0; lane < kLanes; ++lane) {
      v[lane] = _mm256_shuffle_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 128 * lane + 32 * g)),
                                    reverseWords);
    }
    const __m256i t0 = _mm256_unpacklo_epi64(v[0], v[1]);
    const __m256i t1 = _mm256_unpackhi_epi64(v[0], v[1]);
    const __m256i t2 = _mm256_unpacklo_epi64(v[2], v[3]);
    const __m256i t3 = _mm256_unpackhi_epi64(v[2], v[3]);
    const __m256i w[4] = {
        _mm256_permute2x128_si256(t0, t2, 0x20),
        _mm256_permute2x128_si256(t1, t3, 0x20),
        _mm256_permute2x128_si256(t0, t2, 0x31),
        _mm256_permute2x128_si256(t1, t3, 0x31),
    };
    for (int j = 0; j < 4; ++j) {
      ScheduleWord& word = s[4 * g + j];
      word.w = w[j];
      word.kw[kTo] = _mm256_add_epi64(w[j], word.k);
    }
  }
}

// Word t + i (t at least 16) into kw[kTo] and w of |at| + i, |at| = &s[t].
template <int kTo, int i>
KVCA_AVX2_TARGET inline void NextWord(ScheduleWord* at) {
  const __m256i w = _mm256_add_epi64(_mm256_add_epi64(Small1(at[i - 2].w), at[i - 7].w),
                                     _mm256_add_epi64(Small0(at[i - 15].w), at[i - 16].w));
  at[i].w = w;
  at[i].kw[kTo] = _mm256_add_epi64(w, at[i].k);
}

// Words t and t + 1: neither depends on the other, so the two expansions run
// side by side.
template <int kTo>
KVCA_AVX2_TARGET inline void NextTwoWords(ScheduleWord* at) {
  NextWord<kTo, 0>(at);
  NextWord<kTo, 1>(at);
}

// Each block's rounds carry sixteen words of the next group's expansion, two
// after each of the first eight groups of eight rounds: the four blocks of a
// group cover words 16 to 79 of the next.
constexpr int kWordsPerBlock = 16;

// The 80 rounds of one block whose K[t] + W[t] are kw[kWordStride * t]. When
// kExpand, the sixteen words of the next group from |at| on are expanded
// (into their kw[kTo]) in between.
template <bool kExpand, int kTo>
KVCA_AVX2_TARGET inline void Rounds(uint64_t state[8], const uint64_t* kw, ScheduleWord* at) {
  uint64_t a = state[0], b = state[1], c = state[2], d = state[3];
  uint64_t e = state[4], f = state[5], g = state[6], h = state[7];
  uint64_t x = b ^ c, y;
  for (int t = 0; t < kRounds; t += 8) {
#define SHA512_KW_AT(j) kw[kWordStride * (t + (j))]
    SHA512_EIGHT(SHA512_KW_AT);
#undef SHA512_KW_AT
    if constexpr (kExpand) {
      if (t < 4 * kWordsPerBlock) {
        NextTwoWords<kTo>(at);
        at += 2;
      }
    }
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

// The rounds of the four blocks of a group whose schedule is in kw[kFrom],
// while the four blocks at |next| are expanded into kw[kFrom ^ 1].
template <int kFrom>
KVCA_AVX2_TARGET inline void GroupRounds(uint64_t state[8], ScheduleWord* s, const uint8_t* next) {
  constexpr int kTo = kFrom ^ 1;
  LoadWords<kTo>(next, s);
  const auto* kw = reinterpret_cast<const uint64_t*>(&s[0].kw[kFrom]);
  for (size_t lane = 0; lane < kLanes; ++lane) {
    Rounds<true, kTo>(state, kw + lane, s + 16 + kWordsPerBlock * lane);
  }
}

// The expansion of words 16 to 79 of a group whose first sixteen are in place.
template <int kTo>
KVCA_AVX2_TARGET inline void ExpandRest(ScheduleWord* s) {
  for (int t = 16; t < kRounds; t += 2) NextTwoWords<kTo>(s + t);
}

}  // namespace

// Short runs of blocks, and the one to three a run of groups leaves over, go
// through the portable rounds, built here with the BMI2 rotations.
KVCA_AVX2_TARGET static void BlocksBmi2(uint64_t state[8], const uint8_t* p, size_t blocks) {
  Sha512BlocksScalar(state, p, blocks);
}

KVCA_AVX2_TARGET void Sha512BlocksAvx2(uint64_t state[8], const uint8_t* p, size_t blocks) {
  // The pipeline needs two groups to overlap anything, and setting it up and
  // wiping it afterwards cost about a block's rounds.
  if (blocks < 2 * kLanes) {
    BlocksBmi2(state, p, blocks);
    return;
  }
  ScheduleWord s[kRounds];
  for (int t = 0; t < kRounds; ++t) s[t].k = _mm256_set1_epi64x(static_cast<long long>(kSha512RoundConstants[t]));
  // Whole groups of four, alternating between kw[0] and kw[1]; the first
  // group's schedule has nothing to overlap with, the last's rounds nothing
  // to carry.
  LoadWords<0>(p, s);
  ExpandRest<0>(s);
  int from = 0;
  for (;;) {
    p += 128 * kLanes;
    blocks -= kLanes;
    if (blocks < kLanes) break;
    if (from == 0) {
      GroupRounds<0>(state, s, p);
    } else {
      GroupRounds<1>(state, s, p);
    }
    from ^= 1;
  }
  const auto* kw = reinterpret_cast<const uint64_t*>(&s[0].kw[from]);
  for (size_t lane = 0; lane < kLanes; ++lane) Rounds<false, 0>(state, kw + lane, nullptr);
  QMem_Wipe(s, sizeof s);
  if (blocks != 0) BlocksBmi2(state, p, blocks);
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
