// Montgomery multiplication for any limb count, dispatching to the unrolled
// kernels for the common sizes.
#include "cryptokit/bignum/qn_internal.h"
#include "cryptokit/bignum/qn_mont_kernels.h"

#define QN_LOOP_HINT
#include "cryptokit/bignum/qn_mont_body.inc"

namespace qn {

void MontMul(uint64_t* r, const uint64_t* a, const uint64_t* b, const uint64_t* m, uint64_t k, size_t n,
             uint64_t* scratch) {
  switch (n) {
    case 8: return MontMul8(r, a, b, m, k, scratch);
    case 16: return MontMul16(r, a, b, m, k, scratch);
    case 32: return MontMul32(r, a, b, m, k, scratch);
    default: return qn_kernel::MulBody(r, a, b, m, k, n, scratch);
  }
}

void MontSqr(uint64_t* r, const uint64_t* a, const uint64_t* m, uint64_t k, size_t n, uint64_t* scratch) {
  switch (n) {
    case 8: return MontSqr8(r, a, m, k, scratch);
    case 16: return MontSqr16(r, a, m, k, scratch);
    case 32: return MontSqr32(r, a, m, k, scratch);
    default: return qn_kernel::SqrBody(r, a, m, k, n, scratch);
  }
}

}  // namespace qn
