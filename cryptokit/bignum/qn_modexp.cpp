// Modular exponentiation by Montgomery multiplication with a fixed window,
// and the Chinese-remainder private-key step, for public or unprepared
// operations (the constant-time private path is in qn_modexp_ct.cpp).
//
// The numbers keep their 32-bit words. A Montgomery context (QN_MONT_CTX)
// holds the per-modulus set-up in a working limb form: 64-bit limbs for the
// portable kernels, or 52-bit limbs for the vector kernels where the
// processor has them. An exponentiation converts the base into that form
// once, runs every multiplication on limbs, and converts the result back.
// QN_ModExp makes a context for its one call; the RSA methods keep theirs.
#include "cryptokit/bignum.h"
#include "cryptokit/bignum/qn_internal.h"
#include "cryptokit/bignum/qn_working.h"

#include "cryptokit/qmemory.h"

using qn::AskSurrender;
using qn::Engine;
using qn::ExponentBits;
using qn::FromLimbs;
using qn::FromLimbs52;
using qn::Significant;
using qn::ToWorking;

namespace {

// Window width from the exponent's bit length.
int WindowWidth(int32_t bits) {
  if (bits <= 3) return 1;
  if (bits <= 15) return 2;
  if (bits <= 63) return 3;
  return 4;
}

// The window table: 2^width entries of |limbs| limbs in Montgomery form and
// a parallel array of flags marking the entries computed so far.
struct WindowTable {
  uint64_t* entries = nullptr;
  uint8_t* flags = nullptr;
  uint32_t size = 0;
  size_t limbs = 0;
};

int TableInit(WindowTable* t, int width, size_t limbs) {
  if (t->entries != nullptr || t->flags != nullptr) return QN_ERR_ARGUMENT;
  uint32_t size = 1u << width;
  t->entries = static_cast<uint64_t*>(QMem_Allocate(static_cast<uint32_t>(size * limbs * 8)));
  if (t->entries == nullptr) return QN_ERR_ALLOC;
  t->flags = static_cast<uint8_t*>(QMem_Allocate(size));
  if (t->flags == nullptr) {
    QMem_SecureRelease(t->entries);
    t->entries = nullptr;
    return QN_ERR_ALLOC;
  }
  QMem_Fill(t->flags, 0, size);
  t->size = size;
  t->limbs = limbs;
  return QN_OK;
}

void TableRelease(WindowTable* t) {
  QMem_SecureRelease(t->entries);  // wipes the whole block before freeing
  QMem_SecureRelease(t->flags);
  *t = WindowTable{};
}

uint64_t* Entry(const WindowTable* t, uint32_t index) { return t->entries + static_cast<size_t>(index) * t->limbs; }

// Computes entry |v| when it is not there yet: as the product of two
// computed entries whose indices add up to |v|, or, when there is no such
// pair, from its top bit (a power of two, always present) and the rest,
// computing the rest first.
void EnsureEntry(WindowTable* t, uint32_t v, const Engine& e) {
  if (t->flags[v]) return;
  for (uint32_t i = 1; i <= v / 2; ++i) {
    if (t->flags[i] && t->flags[v - i]) {
      e.Mul(Entry(t, v), Entry(t, i), Entry(t, v - i));
      t->flags[v] = 1;
      return;
    }
  }
  uint32_t top = 1u << (31 - __builtin_clz(v));
  EnsureEntry(t, v - top, e);
  e.Mul(Entry(t, v), Entry(t, top), Entry(t, v - top));
  t->flags[v] = 1;
}

// The 52-bit limb count the vector kernels use for a modulus of |n| 64-bit
// limbs (they need m < 2^(52k) / 4), or 0.
size_t VectorLimbsFor(size_t n) {
  if (!qn::VectorKernelsEnabled()) return 0;
  size_t k = 0;
  switch (n) {
    case 8: k = 10; break;   // 512 bits
    case 16: k = 20; break;  // 1024
    case 24: k = 30; break;  // 1536: the primes of a 3072-bit key
    case 32: k = 40; break;  // 2048
    case 48: k = 60; break;  // 3072
    case 64: k = 80; break;  // 4096
    default: break;
  }
  return k != 0 && qn::Amm52For(k) != nullptr ? k : 0;
}

// 64-bit Montgomery constant, lifted from the 32-bit one: -k32 is the
// inverse of the modulus mod 2^32; one Newton step doubles its precision.
uint64_t Lift64(uint32_t k32, uint64_t m0) {
  uint64_t x = static_cast<uint32_t>(0u - k32);
  x *= 2 - m0 * x;
  return 0 - x;
}

}  // namespace

int QN_MontgomeryConstant(const QN_BIGNUM* m, uint32_t* k) {
  if (Significant(m) == 0 || (m->words[0] & 1u) == 0) return QN_ERR_MODULUS;
  uint32_t w = m->words[0];
  // Start from the two lowest bits (w * k = 3 mod 4), then fix one bit at a
  // time: a set bit i of w * k + 1 is cleared by adding w * 2^i.
  uint32_t kk = (w & 3u) == 3u ? 1u : 3u;
  for (int bit = 2; bit < 32; ++bit) {
    if (((w * kk + 1u) >> bit) & 1u) kk |= 1u << bit;
  }
  *k = kk;
  return QN_OK;
}

void QN_MontInit(QN_MONT_CTX* ctx) { *ctx = QN_MONT_CTX{}; }

void QN_MontRelease(QN_MONT_CTX* ctx) {
  QN_Release(&ctx->modulus);
  QMem_SecureRelease(ctx->block);
  *ctx = QN_MONT_CTX{};
}

int QN_MontSet(const QN_BIGNUM* modulus, QN_MONT_CTX* ctx) {
  uint32_t k32 = 0;
  int status = QN_MontgomeryConstant(modulus, &k32);
  if (status != QN_OK) return status;
  const size_t n = static_cast<size_t>(Significant(modulus) + 1) / 2;
  const size_t limbs52 = VectorLimbsFor(n);
  const size_t limbs = limbs52 != 0 ? (limbs52 + 7) / 8 * 8 : n;
  QN_MONT_CTX made{};
  made.limbs = static_cast<int32_t>(limbs);
  made.limbs52 = static_cast<int32_t>(limbs52);
  QN_BIGNUM rr{};
  status = QN_Copy(modulus, &made.modulus);
  // R^2 mod m for R = 2^(64n), and for the vector form, whose R = 2^(52k)
  // is a little larger, from it: times 2^(104k - 128n), which leaves only a
  // word or two of quotient to divide out.
  QN_BIGNUM rr64{}, shift{};
  if (status == QN_OK) status = QN_SetBit(&rr64, static_cast<int32_t>(128 * n));
  if (status == QN_OK) status = QN_Modulo(&rr64, modulus, &rr64);
  if (status == QN_OK && limbs52 != 0) {
    status = QN_SetBit(&shift, static_cast<int32_t>(104 * limbs52 - 128 * n));
    if (status == QN_OK) status = QN_Multiply(&rr64, &shift, &rr);
    if (status == QN_OK) status = QN_Modulo(&rr, modulus, &rr);
  } else if (status == QN_OK) {
    status = QN_Copy(&rr64, &rr);
  }
  QN_Release(&shift);
  const size_t words = 2 * limbs + (limbs52 != 0 ? 2 * n : 0);
  if (status == QN_OK) {
    made.block = static_cast<uint64_t*>(QMem_Allocate(static_cast<uint32_t>(words * 8)));
    if (made.block == nullptr) status = QN_ERR_ALLOC;
  }
  if (status == QN_OK) {
    made.m = made.block;
    made.rr = made.block + limbs;
    ToWorking(&made, modulus, made.m);
    ToWorking(&made, &rr, made.rr);
    uint64_t m0 = modulus->words[0] | (modulus->length > 1 ? static_cast<uint64_t>(modulus->words[1]) << 32 : 0);
    made.k = Lift64(k32, m0);
    made.limbs64 = static_cast<int32_t>(n);
    made.k64 = made.k;
    if (limbs52 != 0) {
      made.k &= (uint64_t{1} << 52) - 1;
      made.m64 = made.block + 2 * limbs;
      made.rr64 = made.m64 + n;
      qn::ToLimbs(modulus, made.m64, n);
      qn::ToLimbs(&rr64, made.rr64, n);
    } else {
      made.m64 = made.m;
      made.rr64 = made.rr;
    }
    *ctx = made;
  } else {
    QN_MontRelease(&made);
  }
  QN_Release(&rr);
  QN_Release(&rr64);
  return status;
}

namespace {

// The exponentiation proper, after the first surrender call.
int ModExpPrepared(const QN_BIGNUM* base, const QN_BIGNUM* exponent, const QN_MONT_CTX* mont, QN_BIGNUM* r,
                   const Q_SURRENDER_CTX* surrender) {
  if (mont->limbs == 0) return QN_ERR_MODULUS;
  const size_t n = static_cast<size_t>(mont->limbs);
  int32_t bits = QN_BitLength(exponent);
  if (bits == 0) bits = 1;  // a cleared exponent is 0
  const int width = WindowWidth(bits);

  // The base reduced (when it is not below the modulus already).
  QN_BIGNUM reduced{};
  const QN_BIGNUM* b = base;
  WindowTable table;
  uint64_t* work = nullptr;
  int status = QN_OK;
  int answer = 0;
  if (QN_Compare(base, &mont->modulus) >= 0) {
    status = QN_Modulo(base, &mont->modulus, &reduced);
    b = &reduced;
  }
  if (status == QN_OK) {
    // accumulator, the constant 1, kernel scratch
    work = static_cast<uint64_t*>(QMem_Allocate(static_cast<uint32_t>(3 * n * 8)));
    if (work == nullptr) status = QN_ERR_ALLOC;
  }
  if (status == QN_OK) status = TableInit(&table, width, n);
  if (status == QN_OK) {
    uint64_t* acc = work;
    uint64_t* one = work + n;
    const Engine e{mont, n, mont->limbs52 != 0 ? qn::Amm52For(static_cast<size_t>(mont->limbs52)) : nullptr,
                   work + 2 * n};

    // Entry 0 = R mod m (1 in Montgomery form), entry 1 = base * R mod m,
    // then the powers of two by repeated squaring.
    QMem_Fill(one, 0, static_cast<uint32_t>(n * 8));
    one[0] = 1;
    e.Mul(Entry(&table, 0), mont->rr, one);
    ToWorking(mont, b, Entry(&table, 1));
    e.Mul(Entry(&table, 1), Entry(&table, 1), mont->rr);
    table.flags[0] = table.flags[1] = 1;
    for (uint32_t v = 2; v < table.size; v *= 2) {
      e.Sqr(Entry(&table, v), Entry(&table, v / 2));
      table.flags[v] = 1;
    }

    // Windows from the top; the first one seeds the accumulator and only
    // the last one may be shorter than the width.
    int32_t remaining = bits;
    int32_t take = remaining < width ? remaining : width;
    remaining -= take;
    uint32_t v = ExponentBits(exponent, remaining, take);
    EnsureEntry(&table, v, e);
    QMem_Copy(acc, Entry(&table, v), static_cast<uint32_t>(n * 8));
    while (remaining > 0) {
      answer = AskSurrender(surrender);
      if (answer != 0) {
        status = answer;
        break;
      }
      take = remaining < width ? remaining : width;
      remaining -= take;
      v = ExponentBits(exponent, remaining, take);
      for (int32_t i = 0; i < take; ++i) e.Sqr(acc, acc);
      if (v != 0) {
        EnsureEntry(&table, v, e);
        e.Mul(acc, acc, Entry(&table, v));
      }
    }
    if (status == QN_OK) {
      // Leave Montgomery form: multiply by 1. The 52-bit form ends at most
      // at m, which is 0.
      e.Mul(acc, acc, one);
      if (mont->limbs52 != 0) {
        status = FromLimbs52(acc, n, r);
        if (status == QN_OK && QN_Compare(r, &mont->modulus) >= 0) status = QN_Subtract(r, &mont->modulus, r);
      } else {
        status = FromLimbs(acc, n, r);
      }
    }
  }
  TableRelease(&table);
  QMem_SecureRelease(work);
  QN_Release(&reduced);
  return status;
}

}  // namespace

int QN_ModExpMont(const QN_BIGNUM* base, const QN_BIGNUM* exponent, const QN_MONT_CTX* ctx, QN_BIGNUM* r,
                  const Q_SURRENDER_CTX* surrender) {
  int answer = AskSurrender(surrender);
  if (answer != 0) return answer;
  return ModExpPrepared(base, exponent, ctx, r, surrender);
}

int QN_ModExp(const QN_BIGNUM* base, const QN_BIGNUM* exponent, const QN_BIGNUM* modulus, QN_BIGNUM* r,
              const Q_SURRENDER_CTX* surrender) {
  int answer = AskSurrender(surrender);
  if (answer != 0) return answer;
  QN_MONT_CTX ctx{};
  int status = QN_MontSet(modulus, &ctx);
  if (status == QN_OK) status = ModExpPrepared(base, exponent, &ctx, r, surrender);
  QN_MontRelease(&ctx);
  return status;
}

void QN_UseVectorKernels(int use) { qn::SetVectorKernelsWanted(use != 0); }

int QN_VectorKernelsAvailable() { return qn::VectorKernelsAvailable() ? 1 : 0; }

int QN_CrtPrivate(const QN_BIGNUM* x, const QN_BIGNUM* p, const QN_BIGNUM* q, const QN_BIGNUM* dP,
                  const QN_BIGNUM* dQ, const QN_BIGNUM* qInv, QN_BIGNUM* r, const Q_SURRENDER_CTX* surrender) {
  int answer = AskSurrender(surrender);
  if (answer != 0) return answer;
  QN_BIGNUM t{}, m1{}, m2{}, h{};
  // m1 = (x mod p)^dP mod p, m2 = (x mod q)^dQ mod q
  int status = QN_Modulo(x, p, &t);
  if (status == QN_OK) status = QN_ModExp(&t, dP, p, &m1, surrender);
  if (status == QN_OK) status = QN_Modulo(x, q, &t);
  if (status == QN_OK) status = QN_ModExp(&t, dQ, q, &m2, surrender);
  // h = (m1 - m2) * qInv mod p; r = m2 + h * q
  if (status == QN_OK) status = QN_ModSubtract(&m1, &m2, p, &h);
  if (status == QN_OK) {
    answer = AskSurrender(surrender);
    if (answer != 0) status = answer;
  }
  if (status == QN_OK) status = QN_ModMultiply(&h, qInv, p, &h);
  if (status == QN_OK) status = QN_Multiply(&h, q, &h);
  if (status == QN_OK) status = QN_Add(&m2, &h, r);
  QN_Release(&t);
  QN_Release(&m1);
  QN_Release(&m2);
  QN_Release(&h);
  return status;
}
