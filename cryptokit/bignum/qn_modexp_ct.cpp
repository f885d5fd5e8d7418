// Constant-time modular exponentiation for private-key operations, and the
// Chinese-remainder step built on it.
//
// The primes and the private exponents must not show in the time an
// operation takes or in the memory it touches. So, unlike the public path:
// - the input is reduced modulo the prime by Montgomery multiplications over
//   chunks of a fixed length instead of by division, whose steps depend on
//   the divisor's bits;
// - the whole window table is built before the exponent is read, and every
//   look-up reads every entry, keeping the wanted one with a mask;
// - every window costs |width| squarings and one multiplication, also when
//   its bits are 0, and the exponent counts as long as the modulus at least;
// - the recombination's reductions modulo p are Montgomery steps too.
// Branches and indices depend on the lengths of the numbers only. The
// reductions and the recombination work on 64-bit limbs (QN_MONT_CTX keeps
// that form beside the vector form); the exponentiation runs in the
// context's working form.
#include "cryptokit/bignum.h"
#include "cryptokit/bignum/qn_internal.h"
#include "cryptokit/bignum/qn_working.h"
#include "cryptokit/qmemory.h"

namespace {

typedef unsigned __int128 u128;

// Limb arrays of one operation: one allocation, wiped when released.
class LimbBlock {
 public:
  LimbBlock() = default;
  ~LimbBlock() { QMem_SecureRelease(block_); }
  LimbBlock(const LimbBlock&) = delete;
  LimbBlock& operator=(const LimbBlock&) = delete;
  // Allocates |limbs| zeroed limbs; false when that fails or is too large.
  bool Allocate(size_t limbs) {
    if (limbs == 0 || limbs > 0x0FFFFFFF / 8) return false;
    block_ = static_cast<uint64_t*>(QMem_Allocate(static_cast<uint32_t>(limbs * 8)));
    if (block_ != nullptr) QMem_Fill(block_, 0, static_cast<uint32_t>(limbs * 8));
    return block_ != nullptr;
  }
  uint64_t* at(size_t offset) const { return block_ + offset; }

 private:
  uint64_t* block_ = nullptr;
};

// All ones when |a| == |b|, else 0, without a branch.
inline uint64_t EqualMask(uint64_t a, uint64_t b) {
  const uint64_t x = a ^ b;
  return ((x | (0 - x)) >> 63) - 1;
}

// r = a + b over |n| limbs; returns the carry out.
uint64_t AddLimbs(uint64_t* r, const uint64_t* a, const uint64_t* b, size_t n) {
  uint64_t carry = 0;
  for (size_t i = 0; i < n; ++i) {
    const u128 s = static_cast<u128>(a[i]) + b[i] + carry;
    r[i] = static_cast<uint64_t>(s);
    carry = static_cast<uint64_t>(s >> 64);
  }
  return carry;
}

// r = a - b over |n| limbs; returns the borrow out.
uint64_t SubtractLimbs(uint64_t* r, const uint64_t* a, const uint64_t* b, size_t n) {
  uint64_t borrow = 0;
  for (size_t i = 0; i < n; ++i) {
    const u128 d = static_cast<u128>(a[i]) - b[i] - borrow;
    r[i] = static_cast<uint64_t>(d);
    borrow = static_cast<uint64_t>(d >> 64) & 1u;
  }
  return borrow;
}

// r = a where |mask| is all ones; r unchanged where it is 0.
void SelectInto(uint64_t* r, const uint64_t* a, uint64_t mask, size_t n) {
  for (size_t i = 0; i < n; ++i) r[i] = (a[i] & mask) | (r[i] & ~mask);
}

// r = (a + b) mod m for a, b < m. |t| holds n limbs of scratch.
void ModAdd(uint64_t* r, const uint64_t* a, const uint64_t* b, const uint64_t* m, size_t n, uint64_t* t) {
  const uint64_t carry = AddLimbs(r, a, b, n);
  const uint64_t borrow = SubtractLimbs(t, r, m, n);
  SelectInto(r, t, 0 - (carry | (borrow ^ 1u)), n);
}

// r = (a - b) mod m for a, b < m. |t| holds n limbs of scratch.
void ModSub(uint64_t* r, const uint64_t* a, const uint64_t* b, const uint64_t* m, size_t n, uint64_t* t) {
  const uint64_t borrow = SubtractLimbs(r, a, b, n);
  AddLimbs(t, r, m, n);
  SelectInto(r, t, 0 - borrow, n);
}

// Repacks |n64| limbs of 64 bits into |n52| limbs of 52 bits, zero-padded.
void Repack64To52(const uint64_t* in, size_t n64, uint64_t* out, size_t n52) {
  constexpr uint64_t kMask52 = (uint64_t{1} << 52) - 1;
  u128 pending = 0;
  int held = 0;
  size_t next = 0;
  for (size_t i = 0; i < n52; ++i) {
    if (held < 52 && next < n64) {
      pending |= static_cast<u128>(in[next++]) << held;
      held += 64;
    }
    out[i] = static_cast<uint64_t>(pending) & kMask52;
    pending >>= 52;
    held = held > 52 ? held - 52 : 0;
  }
}

// Repacks 52-bit limbs into |n64| limbs of 64 bits; the value must fit.
void Repack52To64(const uint64_t* in, size_t n52, uint64_t* out, size_t n64) {
  u128 pending = 0;
  int held = 0;
  size_t next = 0;
  for (size_t i = 0; i < n64; ++i) {
    while (held < 64 && next < n52) {
      pending |= static_cast<u128>(in[next++]) << held;
      held += 52;
    }
    out[i] = static_cast<uint64_t>(pending);
    pending >>= 64;
    held = held > 64 ? held - 64 : 0;
  }
}

// Sets |out| (ctx->limbs64 limbs) to x mod m, fully reduced. Horner's rule
// over chunks of R = 2^(64n) in Montgomery form: acc = acc * R + chunk. A
// chunk below R times R^2 mod m comes out of the kernel below 2m before its
// final subtraction, so chunks need no reduction first. The steps depend on
// the lengths of x and m only.
int ReduceModulo(const QN_BIGNUM* x, const QN_MONT_CTX* ctx, uint64_t* out) {
  const size_t n = static_cast<size_t>(ctx->limbs64);
  const size_t xLimbs = static_cast<size_t>(qn::Significant(x) + 1) / 2;
  const size_t chunks = xLimbs == 0 ? 1 : (xLimbs + n - 1) / n;
  LimbBlock work;  // the chunks, a product, scratch for the sum and the kernel
  if (!work.Allocate((chunks + 3) * n)) return QN_ERR_ALLOC;
  uint64_t* t = work.at(chunks * n);
  uint64_t* sum = t + n;
  uint64_t* scratch = sum + n;
  qn::ToLimbs(x, work.at(0), chunks * n);
  qn::MontMul(out, work.at((chunks - 1) * n), ctx->rr64, ctx->m64, ctx->k64, n, scratch);
  for (size_t i = chunks - 1; i-- > 0;) {
    qn::MontMul(out, out, ctx->rr64, ctx->m64, ctx->k64, n, scratch);
    qn::MontMul(t, work.at(i * n), ctx->rr64, ctx->m64, ctx->k64, n, scratch);
    ModAdd(out, out, t, ctx->m64, n, sum);
  }
  // Out of Montgomery form: times 1.
  QMem_Fill(t, 0, static_cast<uint32_t>(n * 8));
  t[0] = 1;
  qn::MontMul(out, out, t, ctx->m64, ctx->k64, n, scratch);
  return QN_OK;
}

// Window width of the constant-time path: the table costs 2^width
// multiplications and a scan over 2^width entries a window.
int WindowWidth(int32_t bits) {
  if (bits <= 15) return 2;
  if (bits <= 63) return 3;
  if (bits <= 768) return 4;
  return 5;
}

// out = the entry |v| of |table| (|size| entries of |n| limbs), reading
// every entry and keeping the wanted one with a mask; |Lanes| limbs a step.
template <size_t Lanes>
inline __attribute__((always_inline)) void ScanBody(uint64_t* out, const uint64_t* table, uint32_t size, size_t n,
                                                    uint32_t v) {
  typedef uint64_t Vec __attribute__((vector_size(Lanes * 8)));
  size_t l = 0;
  for (; l + Lanes <= n; l += Lanes) {
    Vec acc = {};
    for (uint32_t j = 0; j < size; ++j) {
      Vec entry;
      __builtin_memcpy(&entry, table + static_cast<size_t>(j) * n + l, sizeof entry);
      acc |= entry & EqualMask(j, v);
    }
    __builtin_memcpy(out + l, &acc, sizeof acc);
  }
  for (; l < n; ++l) {
    uint64_t acc = 0;
    for (uint32_t j = 0; j < size; ++j) acc |= table[static_cast<size_t>(j) * n + l] & EqualMask(j, v);
    out[l] = acc;
  }
}

#if defined(__x86_64__)
__attribute__((target("avx512f"))) void Scan512(uint64_t* out, const uint64_t* table, uint32_t size, size_t n,
                                                uint32_t v) {
  ScanBody<8>(out, table, size, n, v);
}
__attribute__((target("avx2"))) void Scan256(uint64_t* out, const uint64_t* table, uint32_t size, size_t n,
                                             uint32_t v) {
  ScanBody<4>(out, table, size, n, v);
}
// 8 with AVX-512, 4 with AVX2, else 2 (the plain 128-bit registers).
int ScanLanes() {
  static const int lanes = __builtin_cpu_supports("avx512f") ? 8 : __builtin_cpu_supports("avx2") ? 4 : 2;
  return lanes;
}
#endif

void ScanEntry(uint64_t* out, const uint64_t* table, uint32_t size, size_t n, uint32_t v) {
#if defined(__x86_64__)
  const int lanes = ScanLanes();
  if (lanes == 8) return Scan512(out, table, size, n, v);
  if (lanes == 4) return Scan256(out, table, size, n, v);
#endif
  ScanBody<2>(out, table, size, n, v);
}

// out = base^exponent mod m, both in 64-bit limbs (ctx->limbs64), base below
// m; the result fully reduced.
int ExpLimbs(const uint64_t* base, const QN_BIGNUM* exponent, const QN_MONT_CTX* ctx, uint64_t* out,
             const Q_SURRENDER_CTX* surrender) {
  const size_t n = static_cast<size_t>(ctx->limbs);
  const size_t n64 = static_cast<size_t>(ctx->limbs64);
  // Every bit of the exponent's words, and at least as many as the modulus
  // has words: an exponent below the modulus never changes the work.
  int32_t words = qn::Significant(&ctx->modulus);
  if (qn::Significant(exponent) > words) words = qn::Significant(exponent);
  const int32_t bits = 32 * words;
  const int width = WindowWidth(bits);
  const uint32_t size = 1u << width;

  // The table, then accumulator, selected entry, the constant 1, the base in
  // working form and the 64-bit kernels' scratch.
  LimbBlock work;
  if (!work.Allocate((size + 5) * n)) return QN_ERR_ALLOC;
  uint64_t* table = work.at(0);
  uint64_t* acc = work.at(size * n);
  uint64_t* selected = acc + n;
  uint64_t* one = selected + n;
  uint64_t* working = one + n;
  const qn::Engine e{ctx, n, ctx->limbs52 != 0 ? qn::Amm52For(static_cast<size_t>(ctx->limbs52)) : nullptr,
                     working + n};

  // Entry 0 = R mod m, entry 1 = base * R mod m; entry i = entry i/2 squared
  // or entry i-1 times entry 1.
  one[0] = 1;
  e.Mul(table, ctx->rr, one);
  if (ctx->limbs52 != 0) {
    Repack64To52(base, n64, working, n);
  } else {
    QMem_Copy(working, base, static_cast<uint32_t>(n * 8));
  }
  e.Mul(table + n, working, ctx->rr);
  for (uint32_t i = 2; i < size; ++i) {
    uint64_t* entry = table + i * n;
    if (i % 2 == 0) {
      e.Sqr(entry, table + (i / 2) * n);
    } else {
      e.Mul(entry, table + (i - 1) * n, table + n);
    }
  }

  // The first window takes what is left over the whole windows.
  int32_t remaining = bits - (bits - 1) / width * width;
  int32_t low = bits - remaining;
  ScanEntry(acc, table, size, n, qn::ExponentBits(exponent, low, remaining));
  while (low > 0) {
    const int answer = qn::AskSurrender(surrender);
    if (answer != 0) return answer;
    low -= width;
    for (int i = 0; i < width; ++i) e.Sqr(acc, acc);
    ScanEntry(selected, table, size, n, qn::ExponentBits(exponent, low, width));
    e.Mul(acc, acc, selected);
  }

  // Leave Montgomery form; the vector form ends at most at m, which is 0.
  e.Mul(acc, acc, one);
  if (ctx->limbs52 != 0) {
    Repack52To64(acc, n, out, n64);
    const uint64_t borrow = SubtractLimbs(working, out, ctx->m64, n64);
    SelectInto(out, working, borrow - 1, n64);
  } else {
    QMem_Copy(out, acc, static_cast<uint32_t>(n * 8));
  }
  return QN_OK;
}

}  // namespace

int QN_ModExpMontConsttime(const QN_BIGNUM* base, const QN_BIGNUM* exponent, const QN_MONT_CTX* ctx, QN_BIGNUM* r,
                           const Q_SURRENDER_CTX* surrender) {
  int answer = qn::AskSurrender(surrender);
  if (answer != 0) return answer;
  if (ctx->limbs == 0) return QN_ERR_MODULUS;
  const size_t n = static_cast<size_t>(ctx->limbs64);
  LimbBlock work;  // reduced base, result
  if (!work.Allocate(2 * n)) return QN_ERR_ALLOC;
  int status = ReduceModulo(base, ctx, work.at(0));
  if (status == QN_OK) status = ExpLimbs(work.at(0), exponent, ctx, work.at(n), surrender);
  if (status == QN_OK) status = qn::FromLimbs(work.at(n), n, r);
  return status;
}

int QN_CrtPrivateMont(const QN_BIGNUM* x, const QN_MONT_CTX* ctxP, const QN_MONT_CTX* ctxQ, const QN_BIGNUM* dP,
                      const QN_BIGNUM* dQ, const QN_BIGNUM* qInv, QN_BIGNUM* r, const Q_SURRENDER_CTX* surrender) {
  int answer = qn::AskSurrender(surrender);
  if (answer != 0) return answer;
  if (ctxP->limbs == 0 || ctxQ->limbs == 0) return QN_ERR_MODULUS;
  const size_t np = static_cast<size_t>(ctxP->limbs64);
  const size_t nq = static_cast<size_t>(ctxQ->limbs64);
  // x mod p, m1, m2 mod p, qInv mod p, scratch (p side); x mod q, m2.
  LimbBlock work;
  if (!work.Allocate(6 * np + 2 * nq)) return QN_ERR_ALLOC;
  uint64_t* xp = work.at(0);
  uint64_t* m1 = xp + np;
  uint64_t* m2p = m1 + np;
  uint64_t* qi = m2p + np;
  uint64_t* t = qi + np;
  uint64_t* scratch = t + np;
  uint64_t* xq = scratch + np;
  uint64_t* m2 = xq + nq;
  QN_BIGNUM m2n{}, h{};
  // m1 = (x mod p)^dP mod p, m2 = (x mod q)^dQ mod q
  int status = ReduceModulo(x, ctxP, xp);
  if (status == QN_OK) status = ExpLimbs(xp, dP, ctxP, m1, surrender);
  if (status == QN_OK) status = ReduceModulo(x, ctxQ, xq);
  if (status == QN_OK) status = ExpLimbs(xq, dQ, ctxQ, m2, surrender);
  if (status == QN_OK) {
    answer = qn::AskSurrender(surrender);
    if (answer != 0) status = answer;
  }
  // h = (m1 - m2) * qInv mod p: the product in Montgomery form is
  // (m1 - m2) * qInv / R, and times R^2 mod m once more gives h.
  if (status == QN_OK) status = qn::FromLimbs(m2, nq, &m2n);
  if (status == QN_OK) status = ReduceModulo(&m2n, ctxP, m2p);
  if (status == QN_OK) status = ReduceModulo(qInv, ctxP, qi);
  if (status == QN_OK) {
    ModSub(t, m1, m2p, ctxP->m64, np, scratch);
    qn::MontMul(t, t, qi, ctxP->m64, ctxP->k64, np, scratch);
    qn::MontMul(t, t, ctxP->rr64, ctxP->m64, ctxP->k64, np, scratch);
    status = qn::FromLimbs(t, np, &h);
  }
  // r = m2 + h * q
  if (status == QN_OK) status = QN_Multiply(&h, &ctxQ->modulus, &h);
  if (status == QN_OK) status = QN_Add(&m2n, &h, r);
  QN_Release(&m2n);
  QN_Release(&h);
  return status;
}
