// Probable primes for the modern RSA key generation (FIPS 186-5, A.1.3 and
// B.3.1): random odd candidates with the top two bits set, a sieve over small
// primes, gcd(e, p - 1) = 1, then Miller-Rabin with random bases.
#ifndef KVCATOOL_CRYPTOKIT_KEYGEN_PROBABLE_PRIME_H
#define KVCATOOL_CRYPTOKIT_KEYGEN_PROBABLE_PRIME_H

#include <cstdint>

#include "cryptokit/bignum.h"
#include "cryptokit/core/objects.h"

namespace qk {

// Miller-Rabin rounds for every prime the modern generation makes. FIPS
// 186-5 Table B.1 asks for 5 rounds for 1024-bit primes and 4 for 1536- and
// 2048-bit ones (error probability at most 2^-100); 5 throughout is at least
// that and costs one exponentiation per prime found.
constexpr int kMillerRabinRounds = 5;

// MillerRabin runs |rounds| rounds on the odd number |w| (at least 5), each
// with a base drawn uniformly from [2, w - 2] out of |random| by rejection.
// |*probablyPrime| is false when a round proves |w| composite. Returns 0, a
// random object code (538, 539), 518 or 519 (surrender, asked once a round).
// The exponentiation b^m mod w runs on the constant-time path.
int MillerRabin(const QN_BIGNUM* w, int rounds, Q_AlgorithmObj* random, Q_SURRENDER_CTX* surrender,
                bool* probablyPrime);

// FindProbablePrime sets |prime| to a probable prime of exactly |bits| bits
// (at least 64) with its top two bits set and gcd(|e|, prime - 1) = 1, from
// random starting points drawn from |random|, sieved over an interval and
// tested with kMillerRabinRounds rounds. Returns 0 or a toolkit code as
// MillerRabin.
int FindProbablePrime(uint32_t bits, const QN_BIGNUM* e, Q_AlgorithmObj* random, Q_SURRENDER_CTX* surrender,
                      QN_BIGNUM* prime);

}  // namespace qk

#endif
