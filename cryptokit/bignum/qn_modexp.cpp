// Modular exponentiation by Montgomery multiplication with a fixed window,
// and the Chinese-remainder private-key step.
//
// The numbers keep their 32-bit words; an exponentiation converts the
// modulus, the base and the table entries to 64-bit limbs once, runs every
// multiplication on limbs, and converts the result back.
#include "cryptokit/bignum.h"
#include "cryptokit/bignum/qn_internal.h"

#include "cryptokit/qmemory.h"

using qn::Significant;

namespace {

int AskSurrender(const Q_SURRENDER_CTX* surrender) {
  if (surrender == nullptr || surrender->Surrender == nullptr) return 0;
  return surrender->Surrender(surrender->handle);
}

// Copies the value of |a| into |n| limbs, zero-padded.
void ToLimbs(const QN_BIGNUM* a, uint64_t* out, size_t n) {
  size_t words = static_cast<size_t>(Significant(a));
  for (size_t i = 0; i < n; ++i) {
    uint64_t lo = 2 * i < words ? a->words[2 * i] : 0;
    uint64_t hi = 2 * i + 1 < words ? a->words[2 * i + 1] : 0;
    out[i] = lo | (hi << 32);
  }
}

int FromLimbs(const uint64_t* in, size_t n, QN_BIGNUM* r) {
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
uint32_t ExponentBits(const QN_BIGNUM* e, int32_t low, int32_t count) {
  uint32_t v = 0;
  for (int32_t i = count - 1; i >= 0; --i) {
    int32_t bit = low + i;
    int32_t word = bit / 32;
    uint32_t b = word < e->length ? (e->words[word] >> (bit % 32)) & 1u : 0u;
    v = (v << 1) | b;
  }
  return v;
}

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

// Montgomery context of one exponentiation.
struct Mont {
  const uint64_t* m;
  uint64_t k;
  size_t n;
  uint64_t* scratch;
};

// Computes entry |v| when it is not there yet: as the product of two
// computed entries whose indices add up to |v|, or, when there is no such
// pair, from its top bit (a power of two, always present) and the rest,
// computing the rest first.
void EnsureEntry(WindowTable* t, uint32_t v, const Mont& ctx) {
  if (t->flags[v]) return;
  for (uint32_t i = 1; i <= v / 2; ++i) {
    if (t->flags[i] && t->flags[v - i]) {
      qn::MontMul(Entry(t, v), Entry(t, i), Entry(t, v - i), ctx.m, ctx.k, ctx.n, ctx.scratch);
      t->flags[v] = 1;
      return;
    }
  }
  uint32_t top = 1u << (31 - __builtin_clz(v));
  EnsureEntry(t, v - top, ctx);
  qn::MontMul(Entry(t, v), Entry(t, top), Entry(t, v - top), ctx.m, ctx.k, ctx.n, ctx.scratch);
  t->flags[v] = 1;
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

int QN_ModExp(const QN_BIGNUM* base, const QN_BIGNUM* exponent, const QN_BIGNUM* modulus, QN_BIGNUM* r,
              const Q_SURRENDER_CTX* surrender) {
  int answer = AskSurrender(surrender);
  if (answer != 0) return answer;
  uint32_t k32 = 0;
  int status = QN_MontgomeryConstant(modulus, &k32);
  if (status != QN_OK) return status;

  const size_t n = static_cast<size_t>(Significant(modulus) + 1) / 2;
  int32_t bits = QN_BitLength(exponent);
  if (bits == 0) bits = 1;  // a cleared exponent is 0
  const int width = WindowWidth(bits);

  // The base reduced, and R^2 mod m with R = 2^(64n) to enter Montgomery form.
  QN_BIGNUM reduced{}, rr{};
  WindowTable table;
  uint64_t* work = nullptr;
  status = QN_Modulo(base, modulus, &reduced);
  if (status == QN_OK) status = QN_SetBit(&rr, static_cast<int32_t>(128 * n));
  if (status == QN_OK) status = QN_Modulo(&rr, modulus, &rr);
  if (status == QN_OK) {
    // modulus, accumulator, kernel scratch, R^2 / the constant 1
    work = static_cast<uint64_t*>(QMem_Allocate(static_cast<uint32_t>(4 * n * 8)));
    if (work == nullptr) status = QN_ERR_ALLOC;
  }
  if (status == QN_OK) status = TableInit(&table, width, n);
  if (status == QN_OK) {
    uint64_t* mod = work;
    uint64_t* acc = work + n;
    uint64_t* scratch = work + 2 * n;
    uint64_t* aux = work + 3 * n;
    ToLimbs(modulus, mod, n);
    const Mont ctx{mod, Lift64(k32, mod[0]), n, scratch};

    // Entry 0 = R mod m (1 in Montgomery form), entry 1 = base * R mod m,
    // then the powers of two by repeated squaring.
    ToLimbs(&rr, aux, n);
    QMem_Fill(acc, 0, static_cast<uint32_t>(n * 8));
    acc[0] = 1;
    qn::MontMul(Entry(&table, 0), aux, acc, mod, ctx.k, n, scratch);
    ToLimbs(&reduced, Entry(&table, 1), n);
    qn::MontMul(Entry(&table, 1), Entry(&table, 1), aux, mod, ctx.k, n, scratch);
    table.flags[0] = table.flags[1] = 1;
    for (uint32_t e = 2; e < table.size; e *= 2) {
      qn::MontSqr(Entry(&table, e), Entry(&table, e / 2), mod, ctx.k, n, scratch);
      table.flags[e] = 1;
    }

    // Windows from the top; the first one seeds the accumulator and only
    // the last one may be shorter than the width.
    int32_t remaining = bits;
    int32_t take = remaining < width ? remaining : width;
    remaining -= take;
    uint32_t v = ExponentBits(exponent, remaining, take);
    EnsureEntry(&table, v, ctx);
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
      for (int32_t i = 0; i < take; ++i) qn::MontSqr(acc, acc, mod, ctx.k, n, scratch);
      if (v != 0) {
        EnsureEntry(&table, v, ctx);
        qn::MontMul(acc, acc, Entry(&table, v), mod, ctx.k, n, scratch);
      }
    }
    if (status == QN_OK) {
      // Leave Montgomery form: multiply by 1.
      QMem_Fill(aux, 0, static_cast<uint32_t>(n * 8));
      aux[0] = 1;
      qn::MontMul(acc, acc, aux, mod, ctx.k, n, scratch);
      status = FromLimbs(acc, n, r);
    }
  }
  TableRelease(&table);
  QMem_SecureRelease(work);
  QN_Release(&reduced);
  QN_Release(&rr);
  return status;
}

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
