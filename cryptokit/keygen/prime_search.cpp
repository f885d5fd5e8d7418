// Prime search for RSA key generation.
#include "cryptokit/keygen/prime_search.h"

#include <array>

#include "cryptokit/core/objects.h"
#include "cryptokit/qmemory.h"

namespace qk {
namespace {

constexpr uint32_t kSieveLimit = 64515;  // sieve primes lie below this
constexpr int kSegment = 512;            // numbers per sieve segment
constexpr int kSegments = 126;           // 3 .. 64514
constexpr int kInterval = 500;           // odd candidates sieved at once

// The 53 odd primes from 3 to 251: every composite below 64,515 has one of
// them as a factor, since 257 * 257 > 64,515.
constexpr std::array<uint16_t, 53> kSievingPrimes = {
    3,   5,   7,   11,  13,  17,  19,  23,  29,  31,  37,  41,  43,  47,  53,  59,  61,  67,
    71,  73,  79,  83,  89,  97,  101, 103, 107, 109, 113, 127, 131, 137, 139, 149, 151, 157,
    163, 167, 173, 179, 181, 191, 193, 197, 199, 211, 223, 227, 229, 233, 239, 241, 251};

struct SievePrimes {
  uint16_t primes[6600];
  // Per prime, the multiplier of the fast remainder: ceil(2^64 / f).
  uint64_t multipliers[6600];
  int count = 0;
};

SievePrimes BuildSievePrimes() {
  SievePrimes table{};
  // The next multiple of each sieving prime still to be struck out, carried
  // from one segment to the next; starting at p*p leaves the prime itself.
  std::array<uint32_t, kSievingPrimes.size()> next{};
  for (size_t i = 0; i < kSievingPrimes.size(); ++i) next[i] = kSievingPrimes[i] * kSievingPrimes[i];
  for (int s = 0; s < kSegments; ++s) {
    const uint32_t low = 3 + static_cast<uint32_t>(s) * kSegment;  // segment covers low .. low + 511
    bool composite[kSegment] = {};
    for (size_t i = 0; i < kSievingPrimes.size(); ++i) {
      for (; next[i] < low + kSegment; next[i] += 2u * kSievingPrimes[i]) composite[next[i] - low] = true;
    }
    for (int j = 0; j < kSegment; ++j) {
      uint32_t v = low + static_cast<uint32_t>(j);
      if ((v & 1u) != 0 && !composite[j] && v < kSieveLimit) table.primes[table.count++] = static_cast<uint16_t>(v);
    }
  }
  for (int i = 0; i < table.count; ++i) table.multipliers[i] = UINT64_MAX / table.primes[i] + 1;
  return table;
}

const SievePrimes& Table() {
  static const SievePrimes table = BuildSievePrimes();
  return table;
}

// n mod f for n below 2^32 with the precomputed multiplier (Lemire's method).
inline uint32_t FastMod(uint32_t n, uint64_t multiplier, uint32_t f) {
  uint64_t low = multiplier * n;
  return static_cast<uint32_t>((static_cast<unsigned __int128>(low) * f) >> 64);
}

// x mod f, word by word in 16-bit halves so every step stays below 2^32.
uint32_t Remainder(const uint32_t* words, int32_t length, uint32_t f, uint64_t multiplier) {
  uint32_t rem = 0;
  for (int32_t i = length - 1; i >= 0; --i) {
    rem = FastMod((rem << 16) | (words[i] >> 16), multiplier, f);
    rem = FastMod((rem << 16) | (words[i] & 0xFFFFu), multiplier, f);
  }
  return rem;
}

}  // namespace

void SieveOddPositions(const QN_BIGNUM& x, bool* marked, int positions) {
  const SievePrimes& t = Table();
  for (int i = 0; i < t.count; ++i) {
    const uint32_t f = t.primes[i];
    const uint32_t r = Remainder(x.words, x.length, f, t.multipliers[i]);
    uint32_t g;
    if (r == 0) {
      g = 0;
    } else if ((r & 1u) != 0) {
      g = (f - r) / 2;
    } else {
      g = f - r / 2;
    }
    for (; g < static_cast<uint32_t>(positions); g += f) marked[g] = true;
  }
}

namespace {

// Builds the starting candidate: the random bytes with their 2-byte units in
// reverse order, read big-endian, then the top two bits set, everything above
// cleared and the number made odd.
int StartingCandidate(uint32_t bits, const unsigned char* random, QN_BIGNUM* x) {
  const uint32_t n = BytesForPrime(bits);
  auto* reordered = static_cast<unsigned char*>(QMem_Allocate(n));
  if (reordered == nullptr) return QN_ERR_ALLOC;
  for (uint32_t unit = 0; unit < n / 2; ++unit) {
    reordered[2 * unit] = random[n - 2 - 2 * unit];
    reordered[2 * unit + 1] = random[n - 1 - 2 * unit];
  }
  int status = QN_FromBytes(reordered, n, x);
  QMem_SecureRelease(reordered);
  const int32_t top = static_cast<int32_t>(bits);
  for (int32_t b = QN_BitLength(x) - 1; status == QN_OK && b >= top; --b) status = QN_ClearBit(x, b);
  if (status == QN_OK) status = QN_SetBit(x, top - 1);
  if (status == QN_OK) status = QN_SetBit(x, top - 2);
  if (status == QN_OK) status = QN_SetBit(x, 0);
  return status;
}

// The gcd check and the Fermat test with bases 3, 5, 7 and 11. Sets
// |*passes|; returns a big-number status.
int Accept(const QN_BIGNUM& candidate, const QN_BIGNUM* e, bool* passes) {
  *passes = false;
  QN_BIGNUM minusOne{}, g{}, base{}, power{};
  int status = QN_Copy(&candidate, &minusOne);
  if (status == QN_OK) status = QN_SubtractWord(1, &minusOne);
  if (status == QN_OK) status = QN_Gcd(e, &minusOne, &g);
  bool coprime = status == QN_OK && g.length == 1 && g.words[0] == 1;
  if (coprime) {
    *passes = true;
    for (uint32_t b : {3u, 5u, 7u, 11u}) {
      status = QN_SetWord(b, &base);
      if (status == QN_OK) status = QN_ModExp(&base, &candidate, &candidate, &power, nullptr);
      if (status != QN_OK || QN_Compare(&power, &base) != 0) {
        *passes = false;
        break;
      }
    }
  }
  QN_Release(&minusOne);
  QN_Release(&g);
  QN_Release(&base);
  QN_Release(&power);
  return status;
}

}  // namespace

const uint16_t* SmallSievePrimes(int* count) {
  *count = Table().count;
  return Table().primes;
}

int FindPrime(uint32_t bits, const QN_BIGNUM* publicExponent, const unsigned char* random, QN_BIGNUM* prime) {
  QN_BIGNUM candidate{};
  int status = StartingCandidate(bits, random, &candidate);
  if (status != QN_OK) {
    QN_Release(&candidate);
    return BignumStatusToMethodStatus(status);
  }
  bool marked[kInterval] = {};
  SieveOddPositions(candidate, marked, kInterval);
  int result = kRetryWithNewRandom;
  for (int pos = 0; pos < kInterval;) {
    if (marked[pos]) {
      // Step over the whole run of marked positions.
      while (pos < kInterval && marked[pos]) {
        status = QN_AddWord(2, &candidate);
        if (status != QN_OK) break;
        ++pos;
      }
      if (status != QN_OK || pos == kInterval) break;
      continue;
    }
    bool passes = false;
    status = Accept(candidate, publicExponent, &passes);
    if (status != QN_OK) break;
    if (passes) {
      result = 0;
      break;
    }
    status = QN_AddWord(2, &candidate);
    if (status != QN_OK) break;
    ++pos;
  }
  if (status != QN_OK) {
    result = BignumStatusToMethodStatus(status);
  } else if (result == 0) {
    status = QN_Copy(&candidate, prime);
    if (status != QN_OK) result = BignumStatusToMethodStatus(status);
  }
  QN_Release(&candidate);
  return result;
}

}  // namespace qk
