// Helpers shared by the big-number sources.
#ifndef KVCATOOL_CRYPTOKIT_BIGNUM_QN_INTERNAL_H
#define KVCATOOL_CRYPTOKIT_BIGNUM_QN_INTERNAL_H

#include <stddef.h>
#include <stdint.h>

#include "cryptokit/bignum.h"

namespace qn {

// Significant returns the number of words up to the top non-zero one (0 for
// the value 0 and for a cleared number).
int32_t Significant(const QN_BIGNUM* a);
// Normalise drops zero top words down to length 1; |a| must have capacity.
void Normalise(QN_BIGNUM* a);
// Swap exchanges two numbers' arrays and fields.
void Swap(QN_BIGNUM* a, QN_BIGNUM* b);

// Montgomery arithmetic over 64-bit limbs, least significant first, for a
// modulus |m| of |n| limbs with k = -m^-1 mod 2^64. Inputs must be below m;
// the result is a*b/2^(64n) mod m, fully reduced. |r| may alias |a| or |b|.
// |scratch| holds |n| limbs and is overwritten.
void MontMul(uint64_t* r, const uint64_t* a, const uint64_t* b, const uint64_t* m, uint64_t k, size_t n,
             uint64_t* scratch);
// MontSqr is MontMul(r, a, a, ...) with the cheaper squaring.
void MontSqr(uint64_t* r, const uint64_t* a, const uint64_t* m, uint64_t k, size_t n, uint64_t* scratch);

// Almost-Montgomery multiplication in radix 2^52 (see qn_mont_ifma.cpp):
// |a|, |b| and |m| hold 52-bit limbs, |a| and |m| zero-padded to a multiple
// of 8 limbs; with R = 2^(52n) and m < R/4, inputs below 2m give
// r = a*b/R mod m below 2m, in normalised limbs (|r| padded like |a|).
// |r| may alias |a| or |b|. k0 = -m^-1 mod 2^52.
typedef void (*Amm52Kernel)(uint64_t* r, const uint64_t* a, const uint64_t* b, const uint64_t* m, uint64_t k0);
// The kernel for |limbs52| limbs (10, 20, 30, 40, 60 or 80), or null.
Amm52Kernel Amm52For(size_t limbs52);
// Whether this processor has the instructions the radix-2^52 kernels use.
bool VectorKernelsAvailable();
// Available and not switched off by QN_UseVectorKernels.
bool VectorKernelsEnabled();
void SetVectorKernelsWanted(bool wanted);

}  // namespace qn

#endif
