// Big-number arithmetic of the crypto toolkit (internal to the toolkit).
//
// A QN_BIGNUM is a non-negative integer held in a growable array of 32-bit
// words, least significant word first. A normalised value has a non-zero top
// word, except the value 0, which has length 1 and a zero word. A cleared
// number (capacity 0, length 0, no words) reads as 0 wherever an operation
// takes it as input.
//
// Ownership: every number owns its word array. Declare numbers with
// QN_Init (or `QN_BIGNUM n{};`) and pass each one to QN_Release on every path
// once done; release wipes the whole array before freeing it. All arrays come
// from QMem_Allocate.
//
// Every operation returns a QN_ status (0 on success) and leaves its outputs
// unspecified on failure (still valid to release). Unless a comment says
// otherwise, an output may be the same object as any of the inputs; if an
// aliased operation fails, the aliased input is unspecified too.
#ifndef KVCATOOL_CRYPTOKIT_BIGNUM_H
#define KVCATOOL_CRYPTOKIT_BIGNUM_H

#include <stdint.h>

#include "cryptokit/cryptokit.h"

// Statuses of the big-number layer.
constexpr int QN_OK = 0;
constexpr int QN_ERR_ALLOC = 256;             // an allocation failed
constexpr int QN_ERR_ARGUMENT = 260;          // negative bit index; window table not empty
constexpr int QN_ERR_OUTPUT_SHORT = 261;      // output buffer too short for QN_ToBytes
constexpr int QN_ERR_MODULUS = 263;           // division by zero, or even Montgomery modulus
constexpr int QN_ERR_INVERSE_RANGE = 264;     // modular inverse of a value not below the modulus
constexpr int QN_ERR_NEGATIVE = 265;          // subtraction would go below zero
constexpr int QN_ERR_GCD_ZEROS = 266;         // gcd of two zeros
constexpr int QN_ERR_NOT_INVERTIBLE = 267;    // value and modulus are not coprime
constexpr int QN_ERR_FIXED_SHORT = 268;       // fixed-length output shorter than the value

struct QN_BIGNUM {
  int32_t capacity;  // words allocated
  int32_t length;    // words in use
  uint32_t* words;   // least significant first; null when cleared
};

// --- Life cycle ---------------------------------------------------------

// QN_Init makes |a| a cleared number (0/0/null) without releasing anything.
void QN_Init(QN_BIGNUM* a);
// QN_Release wipes all capacity words of |a|, frees them and clears |a|.
// A cleared number is left as it is.
void QN_Release(QN_BIGNUM* a);
// QN_Grow makes room for |words| words keeping the value. On allocation
// failure the old array is wiped and freed, |a| is cleared and 256 returned.
int QN_Grow(QN_BIGNUM* a, int32_t words);
// QN_GrowDiscard makes room for |words| words without keeping the value; the
// length becomes 0 (the caller writes the whole result). Failure as QN_Grow.
int QN_GrowDiscard(QN_BIGNUM* a, int32_t words);

// --- Conversions --------------------------------------------------------

// QN_FromBytes reads the big-endian unsigned string |bytes|[0..|length|) into
// |a|, normalised. Leading zero bytes and the empty string are allowed.
int QN_FromBytes(const uint8_t* bytes, uint32_t length, QN_BIGNUM* a);
// QN_ToBytes writes the minimal big-endian form of |a| (0 is the single byte
// 0) to |out| and its size to |*length|; 261 when |capacity| is too small, with
// |*length| set to the size needed.
int QN_ToBytes(const QN_BIGNUM* a, uint32_t capacity, uint32_t* length, uint8_t* out);
// QN_ToFixedBytes writes |a| left-padded with zeros to exactly |fixedLength|
// bytes and sets |*length| to it; 268 when the value needs more bytes than
// |fixedLength| or |capacity| is below |fixedLength|.
int QN_ToFixedBytes(const QN_BIGNUM* a, uint32_t fixedLength, uint32_t capacity, uint32_t* length,
                    uint8_t* out);
// QN_SetWord makes |a| the single-word value |value|.
int QN_SetWord(uint32_t value, QN_BIGNUM* a);
// QN_ByteLength returns the bytes of the minimal big-endian form of |a|
// (1 for the value 0, 0 for a cleared number).
uint32_t QN_ByteLength(const QN_BIGNUM* a);

// --- Bit access ---------------------------------------------------------

// QN_BitLength returns the index of the top set bit plus one; 1 for the
// value 0 and 0 for a cleared number.
int32_t QN_BitLength(const QN_BIGNUM* a);
// QN_TestBit sets |*isSet| to bit |bit| of |a| (bits above the length read
// as 0); 260 for a negative index.
int QN_TestBit(const QN_BIGNUM* a, int32_t bit, int* isSet);
// QN_SetBit sets bit |bit| of |a|, growing it when needed; 260 for a
// negative index.
int QN_SetBit(QN_BIGNUM* a, int32_t bit);
// QN_ClearBit clears bit |bit| of |a| and renormalises; 260 for a negative
// index.
int QN_ClearBit(QN_BIGNUM* a, int32_t bit);

// --- Arithmetic ---------------------------------------------------------

// QN_Compare returns -1, 0 or 1 as |a| is below, equal to or above |b|.
int QN_Compare(const QN_BIGNUM* a, const QN_BIGNUM* b);
// QN_IsZero returns 1 when |a| is 0 (or cleared), else 0.
int QN_IsZero(const QN_BIGNUM* a);
// QN_Copy sets |r| = |a| (|r| == |a| does nothing).
int QN_Copy(const QN_BIGNUM* a, QN_BIGNUM* r);
// QN_Add sets |r| = |a| + |b|.
int QN_Add(const QN_BIGNUM* a, const QN_BIGNUM* b, QN_BIGNUM* r);
// QN_AddWord sets |a| = |a| + |w| in place.
int QN_AddWord(uint32_t w, QN_BIGNUM* a);
// QN_Subtract sets |r| = |a| - |b|; 265 when |a| < |b|.
int QN_Subtract(const QN_BIGNUM* a, const QN_BIGNUM* b, QN_BIGNUM* r);
// QN_SubtractWord sets |a| = |a| - |w| in place; 265 when that would go
// below zero (|a| is then unchanged).
int QN_SubtractWord(uint32_t w, QN_BIGNUM* a);
// QN_Multiply sets |r| = |a| * |b| (|r| may alias either input; a temporary
// is used then).
int QN_Multiply(const QN_BIGNUM* a, const QN_BIGNUM* b, QN_BIGNUM* r);
// QN_Divide sets |q| = |a| / |b| and |r| = |a| mod |b|; either output may be
// null when not wanted, and they must not be the same object. 263 when |b|
// is 0.
int QN_Divide(const QN_BIGNUM* a, const QN_BIGNUM* b, QN_BIGNUM* q, QN_BIGNUM* r);
// QN_Modulo sets |r| = |a| mod |m|; 263 when |m| is 0.
int QN_Modulo(const QN_BIGNUM* a, const QN_BIGNUM* m, QN_BIGNUM* r);
// QN_ModuloWord sets |*r| = |a| mod |w|; 263 when |w| is 0.
int QN_ModuloWord(const QN_BIGNUM* a, uint32_t w, uint32_t* r);
// QN_ModSubtract sets |r| = (|a| - |b|) mod |m|; |a| and |b| may exceed |m|.
// 263 when |m| is 0.
int QN_ModSubtract(const QN_BIGNUM* a, const QN_BIGNUM* b, const QN_BIGNUM* m, QN_BIGNUM* r);
// QN_ModMultiply sets |r| = |a| * |b| mod |m|; 263 when |m| is 0.
int QN_ModMultiply(const QN_BIGNUM* a, const QN_BIGNUM* b, const QN_BIGNUM* m, QN_BIGNUM* r);
// QN_Gcd sets |r| = gcd(|a|, |b|); 266 when both are 0.
int QN_Gcd(const QN_BIGNUM* a, const QN_BIGNUM* b, QN_BIGNUM* r);
// QN_ModInverse sets |r| with |a| * |r| = 1 mod |m|. 263 when |m| is 0,
// 264 when |a| >= |m|, 267 when gcd(|a|, |m|) != 1.
int QN_ModInverse(const QN_BIGNUM* a, const QN_BIGNUM* m, QN_BIGNUM* r);

// --- Montgomery exponentiation -----------------------------------------

// QN_MontgomeryConstant sets |*k| so that w * k = -1 mod 2^32, w being the
// lowest word of the odd modulus |m|; 263 when |m| is even (or 0).
int QN_MontgomeryConstant(const QN_BIGNUM* m, uint32_t* k);
// QN_ModExp sets |r| = |base|^|exponent| mod |modulus| by Montgomery
// multiplication with a fixed window. |modulus| must be odd (263 otherwise);
// |base| may exceed it. |surrender| may be null; when its callback answers
// non-zero the operation stops and returns that answer. All temporaries are
// wiped before release.
int QN_ModExp(const QN_BIGNUM* base, const QN_BIGNUM* exponent, const QN_BIGNUM* modulus, QN_BIGNUM* r,
              const Q_SURRENDER_CTX* surrender);
// QN_CrtPrivate sets |r| = |x|^d mod p*q from the Chinese-remainder form of
// d: |dP| = d mod (p-1), |dQ| = d mod (q-1), |qInv| = q^-1 mod p. Both primes
// must be odd (263). Surrender as QN_ModExp.
int QN_CrtPrivate(const QN_BIGNUM* x, const QN_BIGNUM* p, const QN_BIGNUM* q, const QN_BIGNUM* dP,
                  const QN_BIGNUM* dQ, const QN_BIGNUM* qInv, QN_BIGNUM* r, const Q_SURRENDER_CTX* surrender);

// --- Prepared Montgomery contexts --------------------------------------

// The per-modulus set-up of Montgomery exponentiation, made once and used for
// any number of exponentiations: the modulus in the working limb form, the
// Montgomery constant and R^2 mod m. The form is 64-bit limbs, or 52-bit
// limbs for the vector kernels when the processor has them and the modulus
// has 512, 1024, 1536, 2048, 3072 or 4096 bits (less a few). Holds the modulus, which may be
// secret (a prime of a private key): released wiped.
struct QN_MONT_CTX {
  QN_BIGNUM modulus;  // a copy of the modulus
  int32_t limbs;      // limbs of one value in the working form (0: empty)
  int32_t limbs52;    // 52-bit limbs the vector kernel works on (0: 64-bit form)
  uint64_t k;         // -m^-1 mod 2^64 (2^52 for the 52-bit form)
  uint64_t* m;        // the modulus in the working form (in |block|)
  uint64_t* rr;       // R^2 mod m in the working form (in |block|)
  uint64_t* block;    // the one allocation behind the limb arrays
  // The 64-bit form as well, whatever the working form: the constant-time
  // private path reduces its input and recombines in it. With 64-bit limbs
  // as the working form these point at |m| and |rr|.
  int32_t limbs64;    // 64-bit limbs of the modulus
  uint64_t k64;       // -m^-1 mod 2^64
  uint64_t* m64;      // the modulus in 64-bit limbs
  uint64_t* rr64;     // 2^(128 * limbs64) mod m in 64-bit limbs
};

// QN_MontInit makes |ctx| an empty context (nothing to release).
void QN_MontInit(QN_MONT_CTX* ctx);
// QN_MontSet prepares |ctx| for the odd modulus |modulus| (263 when it is
// even or 0; 256 on allocation failure). |ctx| must be empty or released.
int QN_MontSet(const QN_BIGNUM* modulus, QN_MONT_CTX* ctx);
// QN_MontRelease wipes and frees what |ctx| holds and empties it.
void QN_MontRelease(QN_MONT_CTX* ctx);
// QN_ModExpMont is QN_ModExp with a prepared modulus: same results, statuses
// and surrender calls.
int QN_ModExpMont(const QN_BIGNUM* base, const QN_BIGNUM* exponent, const QN_MONT_CTX* ctx, QN_BIGNUM* r,
                  const Q_SURRENDER_CTX* surrender);
// QN_ModExpMontConsttime is QN_ModExpMont for a secret exponent or modulus:
// the base is reduced by Montgomery steps over fixed-length chunks, the whole
// window table is built first and read by a scan over every entry, and every
// window costs the same squarings and one multiplication; the exponent is
// taken to have at least as many words as the modulus. Timing and memory
// access depend on the lengths of the numbers only. Same results and
// statuses; the surrender callback is asked first and then once a window.
int QN_ModExpMontConsttime(const QN_BIGNUM* base, const QN_BIGNUM* exponent, const QN_MONT_CTX* ctx, QN_BIGNUM* r,
                           const Q_SURRENDER_CTX* surrender);
// QN_CrtPrivateMont is QN_CrtPrivate with both primes prepared: |ctxP| for
// p and |ctxQ| for q, computed in constant time: both exponentiations as
// QN_ModExpMontConsttime, and the recombination's reductions modulo p by
// Montgomery steps instead of division. Same results and statuses; the
// surrender callback is asked first, once a window of each exponentiation
// and once after both.
int QN_CrtPrivateMont(const QN_BIGNUM* x, const QN_MONT_CTX* ctxP, const QN_MONT_CTX* ctxQ, const QN_BIGNUM* dP,
                      const QN_BIGNUM* dQ, const QN_BIGNUM* qInv, QN_BIGNUM* r, const Q_SURRENDER_CTX* surrender);

// QN_UseVectorKernels switches the radix-2^52 vector kernels on (the
// default) or off for contexts prepared afterwards; for tests and
// benchmarks. Without processor support they are never used.
void QN_UseVectorKernels(int use);
// QN_VectorKernelsAvailable returns 1 when the processor has them.
int QN_VectorKernelsAvailable();

#endif
