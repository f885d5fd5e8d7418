// The working form of Montgomery exponentiation, shared by the variable-time
// and the constant-time paths: conversions between numbers and limbs, the
// multiplication engine and exponent bit access.
#ifndef KVCATOOL_CRYPTOKIT_BIGNUM_QN_WORKING_H
#define KVCATOOL_CRYPTOKIT_BIGNUM_QN_WORKING_H

#include <stddef.h>
#include <stdint.h>

#include "cryptokit/bignum.h"
#include "cryptokit/bignum/qn_internal.h"

namespace qn {

// Asks the surrender callback; its answer (0: go on).
inline int AskSurrender(const Q_SURRENDER_CTX* surrender) {
  if (surrender == nullptr || surrender->Surrender == nullptr) return 0;
  return surrender->Surrender(surrender->handle);
}

// Copies the value of |a| into |n| limbs, zero-padded.
inline void ToLimbs(const QN_BIGNUM* a, uint64_t* out, size_t n) {
  size_t words = static_cast<size_t>(qn::Significant(a));
  for (size_t i = 0; i < n; ++i) {
    uint64_t lo = 2 * i < words ? a->words[2 * i] : 0;
    uint64_t hi = 2 * i + 1 < words ? a->words[2 * i + 1] : 0;
    out[i] = lo | (hi << 32);
  }
}

// Sets |r| from |n| 64-bit limbs, normalised.
inline int FromLimbs(const uint64_t* in, size_t n, QN_BIGNUM* r) {
  int status = QN_GrowDiscard(r, static_cast<int32_t>(2 * n));
  if (status != QN_OK) return status;
  for (size_t i = 0; i < n; ++i) {
    r->words[2 * i] = static_cast<uint32_t>(in[i]);
    r->words[2 * i + 1] = static_cast<uint32_t>(in[i] >> 32);
  }
  r->length = static_cast<int32_t>(2 * n);
  qn::Normalise(r);
  return QN_OK;
}

// Bits [low, low + count) of |e| as an integer (count <= 32).
inline uint32_t ExponentBits(const QN_BIGNUM* e, int32_t low, int32_t count) {
  uint32_t v = 0;
  for (int32_t i = count - 1; i >= 0; --i) {
    int32_t bit = low + i;
    int32_t word = bit / 32;
    uint32_t b = word < e->length ? (e->words[word] >> (bit % 32)) & 1u : 0u;
    v = (v << 1) | b;
  }
  return v;
}

// The working form of one exponentiation: values in Montgomery form as
// 64-bit limbs (fully reduced) or 52-bit limbs (below 2m), multiplied by the
// matching kernel.
struct Engine {
  const QN_MONT_CTX* ctx;
  size_t limbs;
  qn::Amm52Kernel amm;  // null for the 64-bit form
  uint64_t* scratch;    // 64-bit kernels' scratch, |limbs| limbs

  void Mul(uint64_t* r, const uint64_t* a, const uint64_t* b) const {
    if (amm != nullptr) {
      amm(r, a, b, ctx->m, ctx->k);
    } else {
      qn::MontMul(r, a, b, ctx->m, ctx->k, limbs, scratch);
    }
  }
  void Sqr(uint64_t* r, const uint64_t* a) const {
    if (amm != nullptr) {
      amm(r, a, a, ctx->m, ctx->k);
    } else {
      qn::MontSqr(r, a, ctx->m, ctx->k, limbs, scratch);
    }
  }
};

// Copies the value of |a| into |n| limbs of 52 bits, zero-padded.
inline void ToLimbs52(const QN_BIGNUM* a, uint64_t* out, size_t n) {
  const size_t words = static_cast<size_t>(qn::Significant(a));
  size_t next = 0;
  unsigned __int128 pending = 0;
  int held = 0;
  for (size_t i = 0; i < n; ++i) {
    while (held < 52 && next < words) {
      pending |= static_cast<unsigned __int128>(a->words[next++]) << held;
      held += 32;
    }
    out[i] = static_cast<uint64_t>(pending) & ((uint64_t{1} << 52) - 1);
    pending >>= 52;
    held = held > 52 ? held - 52 : 0;
  }
}

// Sets |r| from |n| limbs of 52 bits.
inline int FromLimbs52(const uint64_t* in, size_t n, QN_BIGNUM* r) {
  const int32_t words = static_cast<int32_t>((52 * n + 31) / 32);
  int status = QN_GrowDiscard(r, words);
  if (status != QN_OK) return status;
  unsigned __int128 pending = 0;
  int held = 0;
  int32_t w = 0;
  for (size_t i = 0; i < n; ++i) {
    pending |= static_cast<unsigned __int128>(in[i]) << held;
    held += 52;
    while (held >= 32) {
      r->words[w++] = static_cast<uint32_t>(pending);
      pending >>= 32;
      held -= 32;
    }
  }
  if (held > 0) r->words[w++] = static_cast<uint32_t>(pending);
  r->length = w;
  qn::Normalise(r);
  return QN_OK;
}

// Copies |a| into the working form of |ctx| (not yet Montgomery form).
inline void ToWorking(const QN_MONT_CTX* ctx, const QN_BIGNUM* a, uint64_t* out) {
  if (ctx->limbs52 != 0) {
    ToLimbs52(a, out, static_cast<size_t>(ctx->limbs));
  } else {
    ToLimbs(a, out, static_cast<size_t>(ctx->limbs));
  }
}

}  // namespace qn

#endif
