// Montgomery kernels fully unrolled for 8, 16 and 32 limbs (512-, 1024- and
// 2048-bit moduli: RSA CRT halves and public operations). They are kept out
// of line so each is one compact block of straight-line code; this file is
// built at -O2 for the generic target (see group.cmake), which measured
// faster than higher levels or host-specific tuning for these kernels.
#include "cryptokit/bignum/qn_mont_kernels.h"

#define QN_LOOP_HINT _Pragma("GCC unroll 64")
#include "cryptokit/bignum/qn_mont_body.inc"

namespace qn {

#define QN_DEFINE_FIXED(N)                                                                                  \
  __attribute__((noinline)) void MontMul##N(uint64_t* r, const uint64_t* a, const uint64_t* b,              \
                                            const uint64_t* m, uint64_t k, uint64_t* scratch) {             \
    qn_kernel::MulBody(r, a, b, m, k, N, scratch);                                                          \
  }                                                                                                         \
  __attribute__((noinline)) void MontSqr##N(uint64_t* r, const uint64_t* a, const uint64_t* m, uint64_t k, \
                                            uint64_t* scratch) {                                            \
    qn_kernel::SqrBody(r, a, m, k, N, scratch);                                                             \
  }

QN_DEFINE_FIXED(8)
QN_DEFINE_FIXED(16)
QN_DEFINE_FIXED(32)

}  // namespace qn
