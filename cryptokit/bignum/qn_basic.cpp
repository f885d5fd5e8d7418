// Big numbers: life cycle, conversions, bit access and plain arithmetic over
// 32-bit words.
#include "cryptokit/bignum.h"
#include "cryptokit/bignum/qn_internal.h"

#include "cryptokit/qmemory.h"

namespace qn {

int32_t Significant(const QN_BIGNUM* a) {
  int32_t n = a->length;
  while (n > 0 && a->words[n - 1] == 0) --n;
  return n;
}

void Normalise(QN_BIGNUM* a) {
  int32_t n = Significant(a);
  if (n == 0) {
    a->words[0] = 0;
    n = 1;
  }
  a->length = n;
}

void Swap(QN_BIGNUM* a, QN_BIGNUM* b) {
  QN_BIGNUM t = *a;
  *a = *b;
  *b = t;
}

}  // namespace qn

using qn::Normalise;
using qn::Significant;

namespace {

int GrowImpl(QN_BIGNUM* a, int32_t words, bool keep) {
  if (words < 1) words = 1;
  if (a->capacity >= words) {
    if (!keep) a->length = 0;
    return QN_OK;
  }
  uint32_t* fresh = static_cast<uint32_t*>(QMem_Allocate(static_cast<uint32_t>(words) * 4u));
  if (fresh == nullptr) {
    QN_Release(a);
    return QN_ERR_ALLOC;
  }
  if (keep && a->length > 0) QMem_Copy(fresh, a->words, static_cast<uint32_t>(a->length) * 4u);
  if (a->words != nullptr) {
    QMem_Wipe(a->words, static_cast<size_t>(a->capacity) * 4u);
    QMem_SecureRelease(a->words);
  }
  a->words = fresh;
  a->capacity = words;
  if (!keep) a->length = 0;
  return QN_OK;
}

}  // namespace

void QN_Init(QN_BIGNUM* a) {
  a->capacity = 0;
  a->length = 0;
  a->words = nullptr;
}

void QN_Release(QN_BIGNUM* a) {
  if (a->words != nullptr) {
    QMem_Wipe(a->words, static_cast<size_t>(a->capacity) * 4u);
    QMem_SecureRelease(a->words);
  }
  QN_Init(a);
}

int QN_Grow(QN_BIGNUM* a, int32_t words) { return GrowImpl(a, words, true); }

int QN_GrowDiscard(QN_BIGNUM* a, int32_t words) { return GrowImpl(a, words, false); }

int QN_FromBytes(const uint8_t* bytes, uint32_t length, QN_BIGNUM* a) {
  while (length > 0 && *bytes == 0) {
    ++bytes;
    --length;
  }
  int32_t words = static_cast<int32_t>((length + 3u) / 4u);
  int status = QN_GrowDiscard(a, words);
  if (status != QN_OK) return status;
  a->words[0] = 0;
  for (int32_t i = 0; i < words; ++i) {
    uint32_t w = 0;
    for (uint32_t b = 0; b < 4; ++b) {
      uint32_t index = static_cast<uint32_t>(i) * 4u + b;  // byte index from the end
      if (index < length) w |= static_cast<uint32_t>(bytes[length - 1 - index]) << (8 * b);
    }
    a->words[i] = w;
  }
  a->length = words;
  Normalise(a);
  return QN_OK;
}

namespace {

// Bytes of the minimal form of a value, 0 for the value 0.
uint32_t ValueBytes(const QN_BIGNUM* a) {
  int32_t n = Significant(a);
  if (n == 0) return 0;
  uint32_t top = a->words[n - 1];
  uint32_t bytes = static_cast<uint32_t>(n - 1) * 4u;
  while (top != 0) {
    ++bytes;
    top >>= 8;
  }
  return bytes;
}

// Writes the low |count| bytes of the value big-endian into |out|.
void WriteBytes(const QN_BIGNUM* a, uint32_t count, uint8_t* out) {
  int32_t n = Significant(a);
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t word = i / 4u;
    uint8_t b = 0;
    if (static_cast<int32_t>(word) < n) b = static_cast<uint8_t>(a->words[word] >> (8 * (i % 4u)));
    out[count - 1 - i] = b;
  }
}

}  // namespace

uint32_t QN_ByteLength(const QN_BIGNUM* a) {
  if (a->length == 0) return 0;
  uint32_t n = ValueBytes(a);
  return n == 0 ? 1 : n;
}

int QN_ToBytes(const QN_BIGNUM* a, uint32_t capacity, uint32_t* length, uint8_t* out) {
  uint32_t needed = ValueBytes(a);
  if (needed == 0) needed = 1;
  if (capacity < needed) {
    *length = needed;
    return QN_ERR_OUTPUT_SHORT;
  }
  WriteBytes(a, needed, out);
  *length = needed;
  return QN_OK;
}

int QN_ToFixedBytes(const QN_BIGNUM* a, uint32_t fixedLength, uint32_t capacity, uint32_t* length,
                    uint8_t* out) {
  if (ValueBytes(a) > fixedLength || capacity < fixedLength) return QN_ERR_FIXED_SHORT;
  WriteBytes(a, fixedLength, out);
  *length = fixedLength;
  return QN_OK;
}

int QN_SetWord(uint32_t value, QN_BIGNUM* a) {
  int status = QN_GrowDiscard(a, 1);
  if (status != QN_OK) return status;
  a->words[0] = value;
  a->length = 1;
  return QN_OK;
}

int32_t QN_BitLength(const QN_BIGNUM* a) {
  if (a->length == 0) return 0;
  int32_t n = Significant(a);
  if (n == 0) return 1;
  return (n - 1) * 32 + (32 - __builtin_clz(a->words[n - 1]));
}

int QN_TestBit(const QN_BIGNUM* a, int32_t bit, int* isSet) {
  if (bit < 0) return QN_ERR_ARGUMENT;
  int32_t word = bit / 32;
  *isSet = word < a->length ? static_cast<int>((a->words[word] >> (bit % 32)) & 1u) : 0;
  return QN_OK;
}

int QN_SetBit(QN_BIGNUM* a, int32_t bit) {
  if (bit < 0) return QN_ERR_ARGUMENT;
  int32_t word = bit / 32;
  if (word >= a->length) {
    int status = QN_Grow(a, word + 1);
    if (status != QN_OK) return status;
    for (int32_t i = a->length; i <= word; ++i) a->words[i] = 0;
    a->length = word + 1;
  }
  a->words[word] |= 1u << (bit % 32);
  return QN_OK;
}

int QN_ClearBit(QN_BIGNUM* a, int32_t bit) {
  if (bit < 0) return QN_ERR_ARGUMENT;
  int32_t word = bit / 32;
  if (word < a->length) {
    a->words[word] &= ~(1u << (bit % 32));
    Normalise(a);
  }
  return QN_OK;
}

int QN_Compare(const QN_BIGNUM* a, const QN_BIGNUM* b) {
  int32_t na = Significant(a), nb = Significant(b);
  if (na != nb) return na < nb ? -1 : 1;
  for (int32_t i = na - 1; i >= 0; --i) {
    if (a->words[i] != b->words[i]) return a->words[i] < b->words[i] ? -1 : 1;
  }
  return 0;
}

int QN_IsZero(const QN_BIGNUM* a) { return Significant(a) == 0 ? 1 : 0; }

int QN_Copy(const QN_BIGNUM* a, QN_BIGNUM* r) {
  if (a == r) {
    if (r->length == 0) return QN_SetWord(0, r);
    return QN_OK;
  }
  int32_t n = Significant(a);
  int status = QN_GrowDiscard(r, n);
  if (status != QN_OK) return status;
  if (n > 0) QMem_Copy(r->words, a->words, static_cast<uint32_t>(n) * 4u);
  r->length = n;
  Normalise(r);
  return QN_OK;
}

namespace {

// Prepares |r| to receive |words| words of result. Aliased outputs keep
// their value (they are still read); others are discarded.
int PrepareOutput(QN_BIGNUM* r, const QN_BIGNUM* a, const QN_BIGNUM* b, int32_t words) {
  if (r == a || r == b) return QN_Grow(r, words);
  return QN_GrowDiscard(r, words);
}

}  // namespace

int QN_Add(const QN_BIGNUM* a, const QN_BIGNUM* b, QN_BIGNUM* r) {
  int32_t na = Significant(a), nb = Significant(b);
  if (na < nb) {
    const QN_BIGNUM* t = a;
    a = b;
    b = t;
    int32_t tn = na;
    na = nb;
    nb = tn;
  }
  int status = PrepareOutput(r, a, b, na + 1);
  if (status != QN_OK) return status;
  // The arrays are read after growing: |r| may be |a| or |b|.
  const uint32_t* aw = a->words;
  const uint32_t* bw = b->words;
  uint32_t* rw = r->words;
  uint64_t carry = 0;
  for (int32_t i = 0; i < na; ++i) {
    uint64_t s = static_cast<uint64_t>(aw[i]) + (i < nb ? bw[i] : 0u) + carry;
    rw[i] = static_cast<uint32_t>(s);
    carry = s >> 32;
  }
  rw[na] = static_cast<uint32_t>(carry);
  r->length = na + 1;
  Normalise(r);
  return QN_OK;
}

int QN_AddWord(uint32_t w, QN_BIGNUM* a) {
  int32_t n = Significant(a);
  int status = QN_Grow(a, n + 1);
  if (status != QN_OK) return status;
  uint64_t carry = w;
  for (int32_t i = 0; i < n && carry != 0; ++i) {
    uint64_t s = static_cast<uint64_t>(a->words[i]) + carry;
    a->words[i] = static_cast<uint32_t>(s);
    carry = s >> 32;
  }
  a->words[n] = static_cast<uint32_t>(carry);
  a->length = n + 1;
  Normalise(a);
  return QN_OK;
}

int QN_Subtract(const QN_BIGNUM* a, const QN_BIGNUM* b, QN_BIGNUM* r) {
  if (QN_Compare(a, b) < 0) return QN_ERR_NEGATIVE;
  int32_t na = Significant(a), nb = Significant(b);
  int status = PrepareOutput(r, a, b, na);
  if (status != QN_OK) return status;
  const uint32_t* aw = a->words;
  const uint32_t* bw = b->words;
  uint32_t* rw = r->words;
  uint32_t borrow = 0;
  for (int32_t i = 0; i < na; ++i) {
    uint64_t d = static_cast<uint64_t>(aw[i]) - (i < nb ? bw[i] : 0u) - borrow;
    rw[i] = static_cast<uint32_t>(d);
    borrow = static_cast<uint32_t>(d >> 63);
  }
  r->length = na;
  Normalise(r);
  return QN_OK;
}

int QN_SubtractWord(uint32_t w, QN_BIGNUM* a) {
  int32_t n = Significant(a);
  if (n == 0 || (n == 1 && a->words[0] < w)) {
    if (w == 0) return a->length == 0 ? QN_SetWord(0, a) : QN_OK;
    return QN_ERR_NEGATIVE;
  }
  uint32_t borrow = w;
  for (int32_t i = 0; i < n && borrow != 0; ++i) {
    uint64_t d = static_cast<uint64_t>(a->words[i]) - borrow;
    a->words[i] = static_cast<uint32_t>(d);
    borrow = static_cast<uint32_t>(d >> 63);
  }
  Normalise(a);
  return QN_OK;
}

namespace {

// r = a * b into a distinct number.
int MultiplyInto(const QN_BIGNUM* a, const QN_BIGNUM* b, QN_BIGNUM* r) {
  int32_t na = Significant(a), nb = Significant(b);
  if (na == 0 || nb == 0) return QN_SetWord(0, r);
  int status = QN_GrowDiscard(r, na + nb);
  if (status != QN_OK) return status;
  uint32_t* rw = r->words;
  for (int32_t i = 0; i < na + nb; ++i) rw[i] = 0;
  // One multiply-and-accumulate row per word of b.
  for (int32_t j = 0; j < nb; ++j) {
    uint64_t bj = b->words[j];
    uint64_t carry = 0;
    for (int32_t i = 0; i < na; ++i) {
      uint64_t t = static_cast<uint64_t>(a->words[i]) * bj + rw[i + j] + carry;
      rw[i + j] = static_cast<uint32_t>(t);
      carry = t >> 32;
    }
    rw[na + j] = static_cast<uint32_t>(carry);
  }
  r->length = na + nb;
  Normalise(r);
  return QN_OK;
}

}  // namespace

int QN_Multiply(const QN_BIGNUM* a, const QN_BIGNUM* b, QN_BIGNUM* r) {
  if (r != a && r != b) return MultiplyInto(a, b, r);
  QN_BIGNUM t{};
  int status = MultiplyInto(a, b, &t);
  if (status == QN_OK) qn::Swap(&t, r);
  QN_Release(&t);
  return status;
}

int QN_Divide(const QN_BIGNUM* a, const QN_BIGNUM* b, QN_BIGNUM* q, QN_BIGNUM* r) {
  int32_t n = Significant(b);
  if (n == 0) return QN_ERR_MODULUS;
  int32_t na = Significant(a);
  if (QN_Compare(a, b) < 0) {
    // The remainder is written first: |q| may alias |a|.
    if (r != nullptr) {
      int status = QN_Copy(a, r);
      if (status != QN_OK) return status;
    }
    return q != nullptr ? QN_SetWord(0, q) : QN_OK;
  }
  if (n == 1) {
    // Single-word divisor: one 64-by-32 division per word.
    uint64_t d = b->words[0];
    QN_BIGNUM qt{};
    if (q != nullptr) {
      int status = QN_GrowDiscard(&qt, na);
      if (status != QN_OK) return status;
    }
    uint64_t rem = 0;
    for (int32_t i = na - 1; i >= 0; --i) {
      uint64_t cur = (rem << 32) | a->words[i];
      if (q != nullptr) qt.words[i] = static_cast<uint32_t>(cur / d);
      rem = cur % d;
    }
    int status = QN_OK;
    if (r != nullptr) status = QN_SetWord(static_cast<uint32_t>(rem), r);
    if (status == QN_OK && q != nullptr) {
      qt.length = na;
      Normalise(&qt);
      qn::Swap(&qt, q);
    }
    QN_Release(&qt);
    return status;
  }
  // Normalising long division: shift so the divisor's top word has its top
  // bit set, then estimate each quotient word from the top two words of the
  // running remainder and the top word of the divisor (corrected at most
  // twice, then once more by an add-back).
  int32_t m = na - n;
  uint32_t* un = static_cast<uint32_t*>(QMem_Allocate(static_cast<uint32_t>(na + 1 + n) * 4u));
  if (un == nullptr) return QN_ERR_ALLOC;
  uint32_t* vn = un + na + 1;
  QN_BIGNUM qt{};
  int status = QN_OK;
  if (q != nullptr) status = QN_GrowDiscard(&qt, m + 1);
  if (status != QN_OK) {
    QMem_SecureRelease(un);
    return status;
  }
  int s = __builtin_clz(b->words[n - 1]);
  const uint32_t* aw = a->words;
  const uint32_t* bw = b->words;
  if (s == 0) {
    for (int32_t i = 0; i < n; ++i) vn[i] = bw[i];
    for (int32_t i = 0; i < na; ++i) un[i] = aw[i];
    un[na] = 0;
  } else {
    for (int32_t i = n - 1; i > 0; --i) vn[i] = (bw[i] << s) | (bw[i - 1] >> (32 - s));
    vn[0] = bw[0] << s;
    un[na] = aw[na - 1] >> (32 - s);
    for (int32_t i = na - 1; i > 0; --i) un[i] = (aw[i] << s) | (aw[i - 1] >> (32 - s));
    un[0] = aw[0] << s;
  }
  const uint64_t base = 1ull << 32;
  for (int32_t j = m; j >= 0; --j) {
    uint64_t num = (static_cast<uint64_t>(un[j + n]) << 32) | un[j + n - 1];
    uint64_t qhat = num / vn[n - 1];
    uint64_t rhat = num % vn[n - 1];
    while (qhat >= base || qhat * vn[n - 2] > ((rhat << 32) | un[j + n - 2])) {
      --qhat;
      rhat += vn[n - 1];
      if (rhat >= base) break;
    }
    // Multiply and subtract.
    int64_t k = 0;
    int64_t t = 0;
    for (int32_t i = 0; i < n; ++i) {
      uint64_t p = qhat * vn[i];
      t = static_cast<int64_t>(un[i + j]) - k - static_cast<int64_t>(p & 0xFFFFFFFFu);
      un[i + j] = static_cast<uint32_t>(t);
      k = static_cast<int64_t>(p >> 32) - (t >> 32);
    }
    t = static_cast<int64_t>(un[j + n]) - k;
    un[j + n] = static_cast<uint32_t>(t);
    if (t < 0) {
      // The estimate was one too large: add the divisor back.
      --qhat;
      uint64_t c = 0;
      for (int32_t i = 0; i < n; ++i) {
        uint64_t sum = static_cast<uint64_t>(un[i + j]) + vn[i] + c;
        un[i + j] = static_cast<uint32_t>(sum);
        c = sum >> 32;
      }
      un[j + n] = static_cast<uint32_t>(un[j + n] + c);
    }
    if (q != nullptr) qt.words[j] = static_cast<uint32_t>(qhat);
  }
  if (r != nullptr) {
    status = QN_GrowDiscard(r, n);
    if (status == QN_OK) {
      for (int32_t i = 0; i < n; ++i) {
        r->words[i] = s == 0 ? un[i] : (un[i] >> s) | (un[i + 1] << (32 - s));
      }
      r->length = n;
      Normalise(r);
    }
  }
  if (status == QN_OK && q != nullptr) {
    qt.length = m + 1;
    Normalise(&qt);
    qn::Swap(&qt, q);
  }
  QN_Release(&qt);
  QMem_SecureRelease(un);
  return status;
}

int QN_Modulo(const QN_BIGNUM* a, const QN_BIGNUM* m, QN_BIGNUM* r) { return QN_Divide(a, m, nullptr, r); }

int QN_ModuloWord(const QN_BIGNUM* a, uint32_t w, uint32_t* r) {
  if (w == 0) return QN_ERR_MODULUS;
  int32_t n = Significant(a);
  uint32_t rem = 0;
  if (w <= 0xFFFFu) {
    // The remainder stays below 2^16, so each 16-bit half fits one 32-bit
    // division.
    for (int32_t i = n - 1; i >= 0; --i) {
      rem = ((rem << 16) | (a->words[i] >> 16)) % w;
      rem = ((rem << 16) | (a->words[i] & 0xFFFFu)) % w;
    }
  } else {
    for (int32_t i = n - 1; i >= 0; --i) {
      rem = static_cast<uint32_t>(((static_cast<uint64_t>(rem) << 32) | a->words[i]) % w);
    }
  }
  *r = rem;
  return QN_OK;
}

int QN_ModSubtract(const QN_BIGNUM* a, const QN_BIGNUM* b, const QN_BIGNUM* m, QN_BIGNUM* r) {
  if (Significant(m) == 0) return QN_ERR_MODULUS;
  QN_BIGNUM x{}, y{};
  int status = QN_Modulo(a, m, &x);
  if (status == QN_OK) status = QN_Modulo(b, m, &y);
  if (status == QN_OK && QN_Compare(&x, &y) < 0) status = QN_Add(&x, m, &x);
  if (status == QN_OK) status = QN_Subtract(&x, &y, &x);
  if (status == QN_OK) qn::Swap(&x, r);
  QN_Release(&x);
  QN_Release(&y);
  return status;
}

int QN_ModMultiply(const QN_BIGNUM* a, const QN_BIGNUM* b, const QN_BIGNUM* m, QN_BIGNUM* r) {
  if (Significant(m) == 0) return QN_ERR_MODULUS;
  QN_BIGNUM t{};
  int status = MultiplyInto(a, b, &t);
  if (status == QN_OK) status = QN_Modulo(&t, m, r);
  QN_Release(&t);
  return status;
}

int QN_Gcd(const QN_BIGNUM* a, const QN_BIGNUM* b, QN_BIGNUM* r) {
  if (Significant(a) == 0 && Significant(b) == 0) return QN_ERR_GCD_ZEROS;
  QN_BIGNUM x{}, y{}, t{};
  int status = QN_Copy(a, &x);
  if (status == QN_OK) status = QN_Copy(b, &y);
  // Euclid by repeated remainders: (x, y) <- (y, x mod y) until y is 0.
  while (status == QN_OK && Significant(&y) != 0) {
    status = QN_Modulo(&x, &y, &t);
    qn::Swap(&x, &y);
    qn::Swap(&y, &t);
  }
  if (status == QN_OK) qn::Swap(&x, r);
  QN_Release(&x);
  QN_Release(&y);
  QN_Release(&t);
  return status;
}

int QN_ModInverse(const QN_BIGNUM* a, const QN_BIGNUM* m, QN_BIGNUM* r) {
  if (Significant(m) == 0) return QN_ERR_MODULUS;
  if (QN_Compare(a, m) >= 0) return QN_ERR_INVERSE_RANGE;
  // Extended Euclid keeping only the coefficients of |a|, reduced mod m so
  // they stay non-negative: r0 = t0 * a and r1 = t1 * a (mod m) throughout.
  QN_BIGNUM r0{}, r1{}, t0{}, t1{}, quot{}, rem{}, prod{};
  int status = QN_Copy(m, &r0);
  if (status == QN_OK) status = QN_Copy(a, &r1);
  if (status == QN_OK) status = QN_SetWord(0, &t0);
  if (status == QN_OK) status = QN_SetWord(1, &t1);
  while (status == QN_OK && Significant(&r1) != 0) {
    status = QN_Divide(&r0, &r1, &quot, &rem);
    if (status == QN_OK) status = QN_ModMultiply(&quot, &t1, m, &prod);
    if (status == QN_OK) status = QN_ModSubtract(&t0, &prod, m, &t0);
    if (status == QN_OK) {
      qn::Swap(&r0, &r1);  // r0 <- r1
      qn::Swap(&r1, &rem);  // r1 <- remainder
      qn::Swap(&t0, &t1);  // t0 <- t1, t1 <- t0 - q * t1
    }
  }
  if (status == QN_OK && !(Significant(&r0) == 1 && r0.words[0] == 1)) status = QN_ERR_NOT_INVERTIBLE;
  if (status == QN_OK) status = QN_Modulo(&t0, m, r);
  QN_Release(&r0);
  QN_Release(&r1);
  QN_Release(&t0);
  QN_Release(&t1);
  QN_Release(&quot);
  QN_Release(&rem);
  QN_Release(&prod);
  return status;
}
