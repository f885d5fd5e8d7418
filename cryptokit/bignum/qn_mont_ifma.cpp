// Montgomery multiplication in radix 2^52 with the AVX-512 integer fused
// multiply-add instructions (VPMADD52LUQ / VPMADD52HUQ), for moduli of 10,
// 20, 30, 40, 60 and 80 limbs of 52 bits (512-, 1024-, 1536-, 2048-, 3072-
// and 4096-bit moduli).
//
// The method is the operand-scanning "almost Montgomery multiplication":
// with R = 2^(52n) and a modulus m < R/4, inputs below 2m give a result below
// 2m without a final subtraction, so values stay in [0, 2m) through a whole
// exponentiation and are reduced once at the end.
//
// Each of the n steps adds a * b[i] and q * m to an accumulator held in
// 64-bit lanes (8 per register), one 52-bit limb per lane, then drops the
// lowest lane (which q makes divisible by 2^52). The products' low halves go
// to their own lane and the high halves to the lane above, so the high halves
// are added after the one-lane shift. Lanes collect up to 4n terms below
// 2^52, below 2^61 for n <= 80; carries are propagated once at the end.
//
// The step-to-step dependency is the computation of q from the lowest lane.
// Going through the vector unit for it (extract, multiply, broadcast) would
// serialise every step on the vector latencies, so the exact value of the
// two lowest lanes are tracked in general registers instead: the next second
// lane is the current third lane (read from the accumulator before the
// step's products land) plus the step's contributions to it, and likewise
// for the lowest lane, which are a few scalar multiplications. The vector's
// own lowest lane misses the carry out of the dropped lane; it is never
// read, and is replaced by the scalar value at the end.
#include "cryptokit/bignum/qn_internal.h"

#include <type_traits>

#if defined(__x86_64__)
// GCC 12's AVX-512 headers start some intrinsics from a deliberately
// undefined register, which its flow analysis reports once inlined.
#pragma GCC diagnostic ignored "-Wuninitialized"
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>
#endif

namespace qn {

#if defined(__x86_64__)

namespace {

#define QN_IFMA_TARGET __attribute__((target("avx512f,avx512ifma,avx512vl")))

typedef unsigned __int128 u128;
constexpr uint64_t kMask52 = (uint64_t{1} << 52) - 1;

template <int NL>
QN_IFMA_TARGET inline __attribute__((always_inline)) void Amm52(uint64_t* r, const uint64_t* a, const uint64_t* b,
                                                                 const uint64_t* m, uint64_t k0) {
  constexpr int NV = (NL + 7) / 8;
  const __m512i zero = _mm512_setzero_si512();
  __m512i A[NV], M[NV], X[NV];
  for (int v = 0; v < NV; ++v) {
    A[v] = _mm512_loadu_si512(a + 8 * v);
    M[v] = _mm512_loadu_si512(m + 8 * v);
    X[v] = zero;
  }
  // Limbs shifted to the top of a word (x * 2^12): the high word of a
  // product with a 52-bit value is then exactly the product's high half
  // (bits 52..103), and the low word shifted down by 12 its low half, so the
  // scalar side needs no 128-bit shifts. q is kept shifted the same way.
  const uint64_t a0 = a[0] << 12, a1 = a[1] << 12, a2 = a[2] << 12;
  const uint64_t m0 = m[0], m1 = m[1], m2 = m[2];
  const uint64_t k0Shifted = k0 << 12;
  // Exact values of the two lowest lanes. The vector's lane 1 is exact too
  // but only known late; the scalar side reads lane 2 at the start of a step
  // and so has two steps to wait for it.
  uint64_t z0 = 0, z1 = 0;
#pragma GCC unroll 4
  for (int i = 0; i < NL; ++i) {
    const uint64_t bi = b[i];
    const __m512i B = _mm512_set1_epi64(static_cast<long long>(bi));
    const uint64_t third =
        static_cast<uint64_t>(_mm_cvtsi128_si64(_mm256_extracti128_si256(_mm512_castsi512_si256(X[0]), 1)));
    const u128 ab0 = static_cast<u128>(a0) * bi;
    const u128 ab1 = static_cast<u128>(a1) * bi;
    const uint64_t ab2Low = (a2 * bi) >> 12;
    const uint64_t u = z0 + (static_cast<uint64_t>(ab0) >> 12);
    const uint64_t qShifted = u * k0Shifted;
    const __m512i Q = _mm512_set1_epi64(static_cast<long long>(qShifted >> 12));
    const uint64_t mq0High = static_cast<uint64_t>((static_cast<u128>(qShifted) * m0) >> 64);
    const u128 mq1 = static_cast<u128>(qShifted) * m1;
    const uint64_t mq2Low = (qShifted * m2) >> 12;
    // u + lo(m0 q) is a multiple of 2^52 and lo(m0 q) < 2^52, so the carry
    // out of the lowest lane is u's own high part plus one unless u's low
    // 52 bits are zero (then q and lo(m0 q) are zero too).
    const uint64_t carry = (u >> 52) + ((u & kMask52) != 0 ? 1 : 0);
    const uint64_t next0 = z1 + (static_cast<uint64_t>(ab1) >> 12) + static_cast<uint64_t>(ab0 >> 64) + carry +
                           (static_cast<uint64_t>(mq1) >> 12) + mq0High;
    z1 = third + ab2Low + static_cast<uint64_t>(ab1 >> 64) + mq2Low + static_cast<uint64_t>(mq1 >> 64);
    z0 = next0;

    __m512i L[NV], H[NV];
    for (int v = 0; v < NV; ++v) {
      L[v] = _mm512_add_epi64(_mm512_madd52lo_epu64(X[v], A[v], B), _mm512_madd52lo_epu64(zero, M[v], Q));
      H[v] = _mm512_add_epi64(_mm512_madd52hi_epu64(zero, A[v], B), _mm512_madd52hi_epu64(zero, M[v], Q));
    }
    for (int v = 0; v < NV; ++v) {
      const __m512i next = v + 1 < NV ? L[v + 1] : zero;
      X[v] = _mm512_add_epi64(_mm512_alignr_epi64(next, L[v], 1), H[v]);
    }
  }
  X[0] = _mm512_mask_set1_epi64(X[0], 1, static_cast<long long>(z0));

  // Carries: one pass leaves every lane at most 2^52 - 1 + 2^12, so what is
  // left are single carries, which ripple through lanes equal to 2^52 - 1.
  // Those are resolved at once with one addition on lane bit masks.
  const __m512i mask = _mm512_set1_epi64(static_cast<long long>(kMask52));
  __m512i C[NV];
  for (int v = 0; v < NV; ++v) {
    C[v] = _mm512_srli_epi64(X[v], 52);
    X[v] = _mm512_and_si512(X[v], mask);
  }
  for (int v = 0; v < NV; ++v) {
    X[v] = _mm512_add_epi64(X[v], _mm512_alignr_epi64(C[v], v == 0 ? zero : C[v - 1], 7));
  }
  // One mask bit a lane: 64 bits hold up to 8 registers, 80 limbs need 128.
  typedef std::conditional_t<(NV > 8), u128, uint64_t> LaneMask;
  LaneMask generate = 0, propagate = 0;
  for (int v = 0; v < NV; ++v) {
    generate |= static_cast<LaneMask>(_mm512_cmpgt_epu64_mask(X[v], mask)) << (8 * v);
    propagate |= static_cast<LaneMask>(_mm512_cmpeq_epu64_mask(X[v], mask)) << (8 * v);
  }
  const LaneMask carries = ((generate << 1) + propagate) ^ propagate;
  const __m512i one = _mm512_set1_epi64(1);
  for (int v = 0; v < NV; ++v) {
    const __mmask8 k = static_cast<__mmask8>(carries >> (8 * v));
    X[v] = _mm512_and_si512(_mm512_mask_add_epi64(X[v], k, X[v], one), mask);
    _mm512_storeu_si512(r + 8 * v, X[v]);
  }
}

QN_IFMA_TARGET __attribute__((noinline)) void Amm52x10(uint64_t* r, const uint64_t* a, const uint64_t* b,
                                                        const uint64_t* m, uint64_t k0) {
  Amm52<10>(r, a, b, m, k0);
}
QN_IFMA_TARGET __attribute__((noinline)) void Amm52x20(uint64_t* r, const uint64_t* a, const uint64_t* b,
                                                        const uint64_t* m, uint64_t k0) {
  Amm52<20>(r, a, b, m, k0);
}
QN_IFMA_TARGET __attribute__((noinline)) void Amm52x30(uint64_t* r, const uint64_t* a, const uint64_t* b,
                                                        const uint64_t* m, uint64_t k0) {
  Amm52<30>(r, a, b, m, k0);
}
QN_IFMA_TARGET __attribute__((noinline)) void Amm52x40(uint64_t* r, const uint64_t* a, const uint64_t* b,
                                                        const uint64_t* m, uint64_t k0) {
  Amm52<40>(r, a, b, m, k0);
}
QN_IFMA_TARGET __attribute__((noinline)) void Amm52x60(uint64_t* r, const uint64_t* a, const uint64_t* b,
                                                        const uint64_t* m, uint64_t k0) {
  Amm52<60>(r, a, b, m, k0);
}
QN_IFMA_TARGET __attribute__((noinline)) void Amm52x80(uint64_t* r, const uint64_t* a, const uint64_t* b,
                                                        const uint64_t* m, uint64_t k0) {
  Amm52<80>(r, a, b, m, k0);
}

bool CpuHasIfma() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl") &&
         __builtin_cpu_supports("avx512ifma");
}

bool g_vectorWanted = true;

}  // namespace

bool VectorKernelsAvailable() {
  static const bool available = CpuHasIfma();
  return available;
}

bool VectorKernelsEnabled() { return g_vectorWanted && VectorKernelsAvailable(); }

void SetVectorKernelsWanted(bool wanted) { g_vectorWanted = wanted; }

Amm52Kernel Amm52For(size_t limbs52) {
  switch (limbs52) {
    case 10: return Amm52x10;
    case 20: return Amm52x20;
    case 30: return Amm52x30;
    case 40: return Amm52x40;
    case 60: return Amm52x60;
    case 80: return Amm52x80;
    default: return nullptr;
  }
}

#else

bool VectorKernelsAvailable() { return false; }
bool VectorKernelsEnabled() { return false; }
void SetVectorKernelsWanted(bool) {}
Amm52Kernel Amm52For(size_t) { return nullptr; }

#endif

}  // namespace qn
