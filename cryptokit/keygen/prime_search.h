// The prime search of RSA key-pair generation: a sieve over a fixed interval
// of 500 odd numbers followed by a gcd check and a four-base Fermat test.
#ifndef KVCATOOL_CRYPTOKIT_KEYGEN_PRIME_SEARCH_H
#define KVCATOOL_CRYPTOKIT_KEYGEN_PRIME_SEARCH_H

#include <cstdint>

#include "cryptokit/bignum.h"

namespace qk {

// Method status for "no prime here; draw fresh random bytes and start again".
constexpr int kRetryWithNewRandom = 8;

// SmallSievePrimes returns the odd primes below 64,515 in ascending order and
// their number in |*count|. They are made once, by a segmented sieve over
// segments of 512 numbers whose sieving primes are the odd primes 3 to 251.
const uint16_t* SmallSievePrimes(int* count);

// SieveOddPositions marks in |marked| (|positions| entries, cleared by the
// caller) each position g whose candidate |x| + 2g has a sieve prime as a
// factor. |x| must be odd and above the sieve primes.
void SieveOddPositions(const QN_BIGNUM& x, bool* marked, int positions);

// BytesForPrime returns how many random bytes a prime of |bits| bits takes.
inline uint32_t BytesForPrime(uint32_t bits) { return (bits + 15) / 16 * 2; }

// FindPrime searches a prime of |bits| bits (at least 16) from the random
// bytes at |random| (BytesForPrime(bits) of them) and stores it in |prime|.
// Returns 0, method status 8 when the interval holds no prime that passes,
// or another method status (128 for allocation failure).
int FindPrime(uint32_t bits, const QN_BIGNUM* publicExponent, const unsigned char* random, QN_BIGNUM* prime);

}  // namespace qk

#endif
