// Probable primes for the modern RSA key generation.
#include "cryptokit/keygen/probable_prime.h"

#include "cryptokit/keygen/prime_search.h"
#include "cryptokit/qmemory.h"

namespace qk {
namespace {

// Odd candidates sieved from one random starting point: 4096 numbers, about
// three times the average gap between primes of 2048 bits. When the interval
// holds no prime a new starting point is drawn.
constexpr int kPositions = 2048;

int ToCode(int bignumStatus) { return MethodStatusToCode(BignumStatusToMethodStatus(bignumStatus)); }

bool IsOne(const QN_BIGNUM& a) { return QN_BitLength(&a) == 1 && a.words[0] == 1; }

// Sets |out| to |bits| random bits from |random|. A toolkit code.
int DrawBits(Q_AlgorithmObj* random, uint32_t bits, QN_BIGNUM* out) {
  const uint32_t length = (bits + 7) / 8;
  auto* bytes = static_cast<unsigned char*>(QMem_Allocate(length));
  if (bytes == nullptr) return Q_ERR_ALLOC;
  int code = Q_RandomGenerate(random, bytes, length, nullptr);
  int status = code == 0 ? QN_FromBytes(bytes, length, out) : QN_OK;
  QMem_SecureRelease(bytes);
  for (int32_t b = QN_BitLength(out) - 1; code == 0 && status == QN_OK && b >= static_cast<int32_t>(bits); --b) {
    status = QN_ClearBit(out, b);
  }
  return code != 0 ? code : ToCode(status);
}

// The numbers of one Miller-Rabin test, released wiped on every path.
struct MillerRabinState {
  QN_BIGNUM wMinus1{}, m{}, power{}, b{}, z{}, two{};
  QN_MONT_CTX ctx{};
  ~MillerRabinState() {
    for (QN_BIGNUM* n : {&wMinus1, &m, &power, &b, &z, &two}) QN_Release(n);
    QN_MontRelease(&ctx);
  }
};

// One round with base |s.b|: sets |*passes| unless the base proves w
// composite. A big-number status.
int Round(MillerRabinState& s, int32_t a, bool* passes) {
  *passes = true;
  // z = b^m mod w, m odd and secret: the constant-time path.
  int status = QN_ModExpMontConsttime(&s.b, &s.m, &s.ctx, &s.z, nullptr);
  if (status != QN_OK || IsOne(s.z) || QN_Compare(&s.z, &s.wMinus1) == 0) return status;
  for (int32_t j = 1; j < a; ++j) {
    status = QN_ModExpMont(&s.z, &s.two, &s.ctx, &s.z, nullptr);
    if (status != QN_OK || QN_Compare(&s.z, &s.wMinus1) == 0) return status;
    if (IsOne(s.z)) break;  // 1 reached without passing w - 1
  }
  *passes = false;
  return QN_OK;
}

}  // namespace

int MillerRabin(const QN_BIGNUM* w, int rounds, Q_AlgorithmObj* random, Q_SURRENDER_CTX* surrender,
                bool* probablyPrime) {
  *probablyPrime = false;
  const int32_t wlen = QN_BitLength(w);
  if (wlen < 3 || (w->words[0] & 1u) == 0) return Q_ERR_INPUT_DATA;
  MillerRabinState s;
  // w - 1 = 2^a * m with m odd
  int status = QN_Copy(w, &s.wMinus1);
  if (status == QN_OK) status = QN_SubtractWord(1, &s.wMinus1);
  int32_t a = 0;
  int bit = 0;
  while (status == QN_OK && a < wlen) {
    status = QN_TestBit(&s.wMinus1, a, &bit);
    if (bit != 0) break;
    ++a;
  }
  if (status == QN_OK) status = QN_SetBit(&s.power, a);
  if (status == QN_OK) status = QN_Divide(&s.wMinus1, &s.power, &s.m, nullptr);
  if (status == QN_OK) status = QN_SetWord(2, &s.two);
  if (status == QN_OK) status = QN_MontSet(w, &s.ctx);
  if (status != QN_OK) return ToCode(status);
  for (int i = 0; i < rounds; ++i) {
    if (Surrendered(surrender)) return Q_ERR_CANCEL;
    // A base of wlen random bits, drawn again until 1 < b < w - 1.
    do {
      int code = DrawBits(random, static_cast<uint32_t>(wlen), &s.b);
      if (code != 0) return code;
    } while (QN_BitLength(&s.b) <= 1 || QN_Compare(&s.b, &s.wMinus1) >= 0);
    bool passes = false;
    status = Round(s, a, &passes);
    if (status != QN_OK) return ToCode(status);
    if (!passes) return 0;
  }
  *probablyPrime = true;
  return 0;
}

int FindProbablePrime(uint32_t bits, const QN_BIGNUM* e, Q_AlgorithmObj* random, Q_SURRENDER_CTX* surrender,
                      QN_BIGNUM* prime) {
  if (bits < 64) return Q_ERR_MODULUS_LEN;
  QN_BIGNUM x{}, minusOne{}, g{};
  bool marked[kPositions];
  int code = 0;
  bool found = false;
  while (code == 0 && !found) {
    if (Surrendered(surrender)) {
      code = Q_ERR_CANCEL;
      break;
    }
    // A random start of exactly |bits| bits, the top two set (so that the
    // product of two such primes has the full length), made odd.
    code = DrawBits(random, bits, &x);
    int status = QN_OK;
    if (code == 0) status = QN_SetBit(&x, static_cast<int32_t>(bits) - 1);
    if (code == 0 && status == QN_OK) status = QN_SetBit(&x, static_cast<int32_t>(bits) - 2);
    if (code == 0 && status == QN_OK) status = QN_SetBit(&x, 0);
    if (code == 0 && status == QN_OK) {
      QMem_Fill(marked, 0, sizeof marked);
      SieveOddPositions(x, marked, kPositions);
    }
    for (int pos = 0; code == 0 && status == QN_OK && pos < kPositions; ++pos) {
      if (!marked[pos]) {
        // Stepping past the top of the range ends this interval.
        if (QN_BitLength(&x) != static_cast<int32_t>(bits)) break;
        status = QN_Copy(&x, &minusOne);
        if (status == QN_OK) status = QN_SubtractWord(1, &minusOne);
        if (status == QN_OK) status = QN_Gcd(e, &minusOne, &g);
        if (status == QN_OK && IsOne(g)) {
          code = MillerRabin(&x, kMillerRabinRounds, random, surrender, &found);
          if (found) break;
        }
      }
      if (code == 0 && status == QN_OK) status = QN_AddWord(2, &x);
    }
    if (code == 0 && status != QN_OK) code = ToCode(status);
  }
  if (code == 0) code = ToCode(QN_Copy(&x, prime));
  QMem_Wipe(marked, sizeof marked);
  QN_Release(&x);
  QN_Release(&minusOne);
  QN_Release(&g);
  return code;
}

}  // namespace qk
