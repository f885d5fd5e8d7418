// Differential target for the big numbers: modular exponentiation, modular
// multiplication and division against a plain reference written here
// (square-and-multiply over double-and-add modular multiplication, and
// bit-by-bit schoolbook division), on operands small enough for the
// reference to stay fast.
//
// Input: byte 0 chooses the operation (low two bits: 0 or 2 division, 1
// modular exponentiation, 3 exponentiation in the Chinese-remainder form);
// then one length byte per operand and the operands, big-endian. Moduli of
// 512, 1024 and 2048 bits reach the vector kernels on processors that have
// them. Exponentiation is checked three ways: QN_ModExp, and QN_ModExpMont
// (QN_CrtPrivate and QN_CrtPrivateMont for the Chinese-remainder form) with
// contexts prepared once with the vector kernels off and once on.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "cryptokit/bignum.h"
#include "fuzz_support.h"

namespace {

// ---------------------------------------------------------------------------
// Reference: little-endian 32-bit words, no leading zero words (0 is empty).

using Words = std::vector<uint32_t>;

void Trim(Words* a) {
  while (!a->empty() && a->back() == 0) a->pop_back();
}

Words FromBytes(const uint8_t* p, size_t n) {
  Words w((n + 3) / 4, 0);
  for (size_t i = 0; i < n; ++i) {
    const size_t bit = 8 * (n - 1 - i);
    w[bit / 32] |= static_cast<uint32_t>(p[i]) << (bit % 32);
  }
  Trim(&w);
  return w;
}

int Compare(const Words& a, const Words& b) {
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  for (size_t i = a.size(); i-- > 0;) {
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
  }
  return 0;
}

// The loops below work on fixed-width numbers of |n| words (no leading-zero
// trimming inside them), for speed.

// a >= b over n words.
bool NotBelow(const uint32_t* a, const uint32_t* b, size_t n) {
  for (size_t i = n; i-- > 0;) {
    if (a[i] != b[i]) return a[i] > b[i];
  }
  return true;
}

// a -= b over n words, for a >= b.
void SubtractN(uint32_t* a, const uint32_t* b, size_t n) {
  uint64_t borrow = 0;
  for (size_t i = 0; i < n; ++i) {
    const uint64_t sub = static_cast<uint64_t>(b[i]) + borrow;
    borrow = a[i] < sub ? 1 : 0;
    a[i] = static_cast<uint32_t>(a[i] - sub);
  }
}

// a += b over n words (no carry out: the callers leave a spare top word).
void AddN(uint32_t* a, const uint32_t* b, size_t n) {
  uint64_t carry = 0;
  for (size_t i = 0; i < n; ++i) {
    const uint64_t sum = static_cast<uint64_t>(a[i]) + b[i] + carry;
    a[i] = static_cast<uint32_t>(sum);
    carry = sum >> 32;
  }
}

// a = 2a + bit over n words.
void ShiftInBitN(uint32_t* a, size_t n, uint32_t bit) {
  uint32_t carry = bit;
  for (size_t i = 0; i < n; ++i) {
    const uint32_t next = a[i] >> 31;
    a[i] = (a[i] << 1) | carry;
    carry = next;
  }
}

size_t BitLength(const Words& a) {
  if (a.empty()) return 0;
  size_t bits = 32 * (a.size() - 1);
  for (uint32_t top = a.back(); top != 0; top >>= 1) ++bits;
  return bits;
}

uint32_t Bit(const Words& a, size_t i) { return (a[i / 32] >> (i % 32)) & 1; }

Words Widened(const Words& a, size_t n) {
  Words w(a);
  w.resize(n, 0);
  return w;
}

// Schoolbook division one bit at a time: q = a / b, r = a mod b (b != 0).
void DivMod(const Words& a, const Words& b, Words* q, Words* r) {
  const size_t n = b.size() + 1;
  const Words wb = Widened(b, n);
  Words rem(n, 0);
  q->assign(a.size(), 0);
  for (size_t i = BitLength(a); i-- > 0;) {
    ShiftInBitN(rem.data(), n, Bit(a, i));
    if (NotBelow(rem.data(), wb.data(), n)) {
      SubtractN(rem.data(), wb.data(), n);
      (*q)[i / 32] |= 1u << (i % 32);
    }
  }
  Trim(q);
  Trim(&rem);
  *r = rem;
}

// a * b mod m by doubling and adding (a, b already below m).
Words MulMod(const Words& a, const Words& b, const Words& m) {
  const size_t n = m.size() + 1;
  const Words wm = Widened(m, n), wa = Widened(a, n);
  Words r(n, 0);
  for (size_t i = BitLength(b); i-- > 0;) {
    ShiftInBitN(r.data(), n, 0);
    if (NotBelow(r.data(), wm.data(), n)) SubtractN(r.data(), wm.data(), n);
    if (Bit(b, i) != 0) {
      AddN(r.data(), wa.data(), n);
      if (NotBelow(r.data(), wm.data(), n)) SubtractN(r.data(), wm.data(), n);
    }
  }
  Trim(&r);
  return r;
}

// a + b.
Words Plus(const Words& a, const Words& b) {
  const size_t n = std::max(a.size(), b.size()) + 1;
  Words r = Widened(a, n);
  AddN(r.data(), Widened(b, n).data(), n);
  Trim(&r);
  return r;
}

// a - b, for a >= b.
Words Minus(const Words& a, const Words& b) {
  Words r(a);
  SubtractN(r.data(), Widened(b, a.size()).data(), a.size());
  Trim(&r);
  return r;
}

// a * b, schoolbook.
Words Times(const Words& a, const Words& b) {
  Words r(a.size() + b.size() + 1, 0);
  for (size_t i = 0; i < a.size(); ++i) {
    uint64_t carry = 0;
    for (size_t j = 0; j < b.size(); ++j) {
      const uint64_t t = static_cast<uint64_t>(a[i]) * b[j] + r[i + j] + carry;
      r[i + j] = static_cast<uint32_t>(t);
      carry = t >> 32;
    }
    for (size_t k = i + b.size(); carry != 0; ++k) {
      const uint64_t t = static_cast<uint64_t>(r[k]) + carry;
      r[k] = static_cast<uint32_t>(t);
      carry = t >> 32;
    }
  }
  Trim(&r);
  return r;
}

Words Mod(const Words& a, const Words& m) {
  Words q, r;
  DivMod(a, m, &q, &r);
  return r;
}

// base^e mod m by left-to-right square-and-multiply (m != 0).
Words ModExp(const Words& base, const Words& e, const Words& m) {
  Words q, b;
  DivMod(base, m, &q, &b);
  Words r{1};
  if (Compare(r, m) >= 0) r.clear();  // m == 1
  for (size_t i = BitLength(e); i-- > 0;) {
    r = MulMod(r, r, m);
    if (Bit(e, i) != 0) r = MulMod(r, b, m);
  }
  return r;
}

// Garner's recombination: m1 = x^dP mod p, m2 = x^dQ mod q,
// h = (m1 - m2) * qInv mod p, r = m2 + h * q (p, q != 0).
Words CrtReference(const Words& x, const Words& p, const Words& q, const Words& dP, const Words& dQ,
                   const Words& qInv) {
  const Words m1 = ModExp(x, dP, p), m2 = ModExp(x, dQ, q);
  const Words m2p = Mod(m2, p);
  const Words diff = Compare(m1, m2p) >= 0 ? Minus(m1, m2p) : Minus(Plus(m1, p), m2p);
  const Words h = MulMod(diff, Mod(qInv, p), p);
  return Plus(m2, Times(h, q));
}

// ---------------------------------------------------------------------------
// The toolkit's numbers.

struct Number {
  QN_BIGNUM n{};
  Number() = default;
  explicit Number(const Words& w) {
    std::vector<uint8_t> bytes;
    for (size_t i = w.size(); i-- > 0;) {
      for (int s = 24; s >= 0; s -= 8) bytes.push_back(static_cast<uint8_t>(w[i] >> s));
    }
    FuzzCheck(QN_FromBytes(bytes.data(), static_cast<uint32_t>(bytes.size()), &n) == QN_OK);
  }
  Number(const Number&) = delete;
  Number& operator=(const Number&) = delete;
  ~Number() { QN_Release(&n); }

  // Checks the normalised form and returns the value.
  Words Value() const {
    FuzzCheck(n.length >= 1 && n.length <= n.capacity && n.words != nullptr);
    FuzzCheck(n.length == 1 || n.words[n.length - 1] != 0);
    Words w(n.words, n.words + n.length);
    Trim(&w);
    // The byte form agrees with the words.
    std::vector<uint8_t> bytes(QN_ByteLength(&n));
    uint32_t length = 0;
    FuzzCheck(QN_ToBytes(&n, static_cast<uint32_t>(bytes.size()), &length, bytes.data()) == QN_OK);
    FuzzCheck(length == bytes.size());
    FuzzCheck(FromBytes(bytes.data(), bytes.size()) == w);
    return w;
  }
};

void CheckDivision(const Words& a, const Words& b) {
  Number na(a), nb(b), q, r;
  if (b.empty()) {
    FuzzCheck(QN_Divide(&na.n, &nb.n, &q.n, &r.n) == QN_ERR_MODULUS);
    FuzzCheck(QN_Modulo(&na.n, &nb.n, &r.n) == QN_ERR_MODULUS);
    return;
  }
  Words refQ, refR;
  DivMod(a, b, &refQ, &refR);
  FuzzCheck(QN_Divide(&na.n, &nb.n, &q.n, &r.n) == QN_OK);
  FuzzCheck(q.Value() == refQ);
  FuzzCheck(r.Value() == refR);
  // Each output alone, and the remainder in place of the dividend.
  Number q2, r2;
  FuzzCheck(QN_Divide(&na.n, &nb.n, &q2.n, nullptr) == QN_OK && q2.Value() == refQ);
  FuzzCheck(QN_Divide(&na.n, &nb.n, nullptr, &r2.n) == QN_OK && r2.Value() == refR);
  Number inPlace(a);
  FuzzCheck(QN_Modulo(&inPlace.n, &nb.n, &inPlace.n) == QN_OK && inPlace.Value() == refR);
  if (b.size() == 1) {
    uint32_t rw = 0;
    FuzzCheck(QN_ModuloWord(&na.n, b[0], &rw) == QN_OK);
    FuzzCheck(rw == (refR.empty() ? 0 : refR[0]));
  }
  // The quotient and remainder put back together give the dividend.
  Number product, sum;
  FuzzCheck(QN_Multiply(&q.n, &nb.n, &product.n) == QN_OK);
  FuzzCheck(QN_Add(&product.n, &r.n, &sum.n) == QN_OK);
  FuzzCheck(sum.Value() == a);
}

void CheckModExp(const Words& base, const Words& e, Words m) {
  Number nbase(base), ne(e), r;
  if (m.empty() || (m[0] & 1) == 0) {
    Number nm(m);
    FuzzCheck(QN_ModExp(&nbase.n, &ne.n, &nm.n, &r.n, nullptr) == QN_ERR_MODULUS);
    // Make it odd and go on.
    if (m.empty()) m.push_back(0);
    m[0] |= 1;
  }
  Number nm(m);
  const Words expected = ModExp(base, e, m);
  FuzzCheck(QN_ModExp(&nbase.n, &ne.n, &nm.n, &r.n, nullptr) == QN_OK);
  FuzzCheck(r.Value() == expected);
  // The result in place of the base.
  Number inPlace(base);
  FuzzCheck(QN_ModExp(&inPlace.n, &ne.n, &nm.n, &inPlace.n, nullptr) == QN_OK);
  FuzzCheck(inPlace.Value() == expected);
  // With a prepared modulus, on both kernel paths.
  for (int vector = 0; vector <= 1; ++vector) {
    QN_UseVectorKernels(vector);
    QN_MONT_CTX ctx;
    QN_MontInit(&ctx);
    FuzzCheck(QN_MontSet(&nm.n, &ctx) == QN_OK);
    Number viaCtx, inPlaceCtx(base);
    FuzzCheck(QN_ModExpMont(&nbase.n, &ne.n, &ctx, &viaCtx.n, nullptr) == QN_OK);
    FuzzCheck(viaCtx.Value() == expected);
    FuzzCheck(QN_ModExpMont(&inPlaceCtx.n, &ne.n, &ctx, &inPlaceCtx.n, nullptr) == QN_OK);
    FuzzCheck(inPlaceCtx.Value() == expected);
    QN_MontRelease(&ctx);
    FuzzCheck(ctx.block == nullptr && ctx.limbs == 0);
  }
  QN_UseVectorKernels(1);
  // One modular multiplication, base times base.
  Words q, b;
  DivMod(base, m, &q, &b);
  Number mm;
  FuzzCheck(QN_ModMultiply(&nbase.n, &nbase.n, &nm.n, &mm.n) == QN_OK);
  FuzzCheck(mm.Value() == MulMod(b, b, m));
}

void CheckCrt(const Words& x, Words p, Words q, const Words& dP, const Words& dQ, const Words& qInv) {
  Number nx(x), ndP(dP), ndQ(dQ), nqInv(qInv);
  if (p.empty() || (p[0] & 1) == 0 || q.empty() || (q[0] & 1) == 0) {
    Number np(p), nq(q), r;
    FuzzCheck(QN_CrtPrivate(&nx.n, &np.n, &nq.n, &ndP.n, &ndQ.n, &nqInv.n, &r.n, nullptr) == QN_ERR_MODULUS);
    for (Words* m : {&p, &q}) {
      if (m->empty()) m->push_back(0);
      (*m)[0] |= 1;
    }
  }
  Number np(p), nq(q), r;
  const Words expected = CrtReference(x, p, q, dP, dQ, qInv);
  FuzzCheck(QN_CrtPrivate(&nx.n, &np.n, &nq.n, &ndP.n, &ndQ.n, &nqInv.n, &r.n, nullptr) == QN_OK);
  FuzzCheck(r.Value() == expected);
  for (int vector = 0; vector <= 1; ++vector) {
    QN_UseVectorKernels(vector);
    QN_MONT_CTX ctxP, ctxQ;
    QN_MontInit(&ctxP);
    QN_MontInit(&ctxQ);
    FuzzCheck(QN_MontSet(&np.n, &ctxP) == QN_OK);
    FuzzCheck(QN_MontSet(&nq.n, &ctxQ) == QN_OK);
    Number viaCtx, inPlace(x);
    FuzzCheck(QN_CrtPrivateMont(&nx.n, &ctxP, &ctxQ, &ndP.n, &ndQ.n, &nqInv.n, &viaCtx.n, nullptr) == QN_OK);
    FuzzCheck(viaCtx.Value() == expected);
    FuzzCheck(QN_CrtPrivateMont(&inPlace.n, &ctxP, &ctxQ, &ndP.n, &ndQ.n, &nqInv.n, &inPlace.n, nullptr) == QN_OK);
    FuzzCheck(inPlace.Value() == expected);
    QN_MontRelease(&ctxP);
    QN_MontRelease(&ctxQ);
  }
  QN_UseVectorKernels(1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Reader in{data, size};
  const uint8_t op = in.Byte();
  size_t got = 0;
  if ((op & 1) == 0) {
    const size_t aLen = in.Byte();
    const size_t bLen = in.Byte() & 0x7F;
    const uint8_t* a = in.Take(aLen, &got);
    const Words wa = FromBytes(a, got);
    const uint8_t* b = in.Take(bLen, &got);
    CheckDivision(wa, FromBytes(b, got));
    return 0;
  }
  if ((op & 3) == 3) {
    // [len x] [len p] [len q] [len dP] [len dQ] [len qInv], then the values.
    size_t lens[6];
    for (size_t& len : lens) len = in.Byte();
    lens[3] &= 0x1F;
    lens[4] &= 0x1F;
    Words v[6];
    for (int i = 0; i < 6; ++i) {
      const uint8_t* p = in.Take(lens[i], &got);
      v[i] = FromBytes(p, got);
    }
    // The same budget as below, for the two half exponentiations together.
    if (BitLength(v[3]) * std::max<size_t>(BitLength(v[1]), 1) +
            BitLength(v[4]) * std::max<size_t>(BitLength(v[2]), 1) >
        8192) {
      return 0;
    }
    CheckCrt(v[0], v[1], v[2], v[3], v[4], v[5]);
    return 0;
  }
  const size_t baseLen = in.Byte();
  const size_t expLen = in.Byte() & 0x1F;
  const size_t modLen = in.Byte();
  const uint8_t* p = in.Take(baseLen, &got);
  const Words base = FromBytes(p, got);
  p = in.Take(expLen, &got);
  const Words e = FromBytes(p, got);
  p = in.Take(modLen, &got);
  const Words m = FromBytes(p, got);
  // Keeps the reference fast: at most 8,192 for exponent bits times modulus
  // bits (a 2048-bit modulus takes a 4-bit exponent, a 512-bit one 16 bits).
  if (BitLength(e) * std::max<size_t>(BitLength(m), 1) > 8192) return 0;
  CheckModExp(base, e, m);
  return 0;
}
