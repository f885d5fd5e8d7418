// Fixed-size Montgomery kernels (see qn_mont_fixed.cpp); same contract as
// qn::MontMul and qn::MontSqr for n = 8, 16 and 32 limbs.
#ifndef KVCATOOL_CRYPTOKIT_BIGNUM_QN_MONT_KERNELS_H
#define KVCATOOL_CRYPTOKIT_BIGNUM_QN_MONT_KERNELS_H

#include <stdint.h>

namespace qn {

void MontMul8(uint64_t* r, const uint64_t* a, const uint64_t* b, const uint64_t* m, uint64_t k, uint64_t* scratch);
void MontSqr8(uint64_t* r, const uint64_t* a, const uint64_t* m, uint64_t k, uint64_t* scratch);
void MontMul16(uint64_t* r, const uint64_t* a, const uint64_t* b, const uint64_t* m, uint64_t k, uint64_t* scratch);
void MontSqr16(uint64_t* r, const uint64_t* a, const uint64_t* m, uint64_t k, uint64_t* scratch);
void MontMul32(uint64_t* r, const uint64_t* a, const uint64_t* b, const uint64_t* m, uint64_t k, uint64_t* scratch);
void MontSqr32(uint64_t* r, const uint64_t* a, const uint64_t* m, uint64_t k, uint64_t* scratch);

}  // namespace qn

#endif
