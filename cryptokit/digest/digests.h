// The message digests of the crypto toolkit as plain context-based
// functions: MD2 (RFC 1319), MD5 (RFC 1321), SHA-1 (FIPS 180-1, RFC 3174)
// and SHA-256, SHA-384 and SHA-512 (FIPS 180-4). The digest handlers of the
// Q_ layer call these.
//
// Every digest follows the same pattern: Init, Update any number of times
// with any lengths (0 included; data may be null when the length is 0), then
// Final, which writes the digest, wipes whatever of the message is still
// buffered and re-initialises the context, so that the next Update starts a
// new message without another Init.
#ifndef KVCATOOL_CRYPTOKIT_DIGEST_DIGESTS_H
#define KVCATOOL_CRYPTOKIT_DIGEST_DIGESTS_H

#include <cstdint>

namespace qk {

inline constexpr uint32_t kMd2DigestLength = 16;
inline constexpr uint32_t kMd5DigestLength = 16;
inline constexpr uint32_t kSha1DigestLength = 20;
inline constexpr uint32_t kSha256DigestLength = 32;
inline constexpr uint32_t kSha384DigestLength = 48;
inline constexpr uint32_t kSha512DigestLength = 64;
// The longest digest of them all (SHA-512).
inline constexpr uint32_t kMaxDigestLength = kSha512DigestLength;

// MD2: 16-byte state, 16-byte checksum, 16-byte block buffer and the number
// of bytes waiting in the buffer (0 to 15).
struct Md2Context {
  uint8_t state[16];
  uint8_t checksum[16];
  uint8_t buffer[16];
  uint32_t count;
};

// MD5: four chaining words, the message length in bits so far and a 64-byte
// block buffer (bitCount / 8 mod 64 bytes of it are in use).
struct Md5Context {
  uint32_t state[4];
  uint64_t bitCount;
  uint8_t buffer[64];
};

// SHA-1: five chaining words, the message length in bits so far and a
// 64-byte block buffer (bitCount / 8 mod 64 bytes of it are in use).
struct Sha1Context {
  uint32_t state[5];
  uint64_t bitCount;
  uint8_t buffer[64];
};

// SHA-256: eight chaining words, the message length in bits so far and a
// 64-byte block buffer (bitCount / 8 mod 64 bytes of it are in use).
struct Sha256Context {
  uint32_t state[8];
  uint64_t bitCount;
  uint8_t buffer[64];
};

// SHA-512, and SHA-384 (the same compression from other initial words, its
// digest cut to six words): eight 64-bit chaining words, the message length
// in bits so far as a 128-bit number in two halves and a 128-byte block
// buffer (bitCountLow / 8 mod 128 bytes of it are in use).
struct Sha512Context {
  uint64_t state[8];
  uint64_t bitCountHigh;
  uint64_t bitCountLow;
  uint8_t buffer[128];
};
using Sha384Context = Sha512Context;

void Md2Init(Md2Context* c);
void Md2Update(Md2Context* c, const uint8_t* data, uint32_t len);
void Md2Final(Md2Context* c, uint8_t out[16]);

void Md5Init(Md5Context* c);
void Md5Update(Md5Context* c, const uint8_t* data, uint32_t len);
void Md5Final(Md5Context* c, uint8_t out[16]);

void Sha1Init(Sha1Context* c);
void Sha1Update(Sha1Context* c, const uint8_t* data, uint32_t len);
void Sha1Final(Sha1Context* c, uint8_t out[20]);

void Sha256Init(Sha256Context* c);
void Sha256Update(Sha256Context* c, const uint8_t* data, uint32_t len);
void Sha256Final(Sha256Context* c, uint8_t out[32]);

void Sha384Init(Sha384Context* c);
void Sha384Update(Sha384Context* c, const uint8_t* data, uint32_t len);
void Sha384Final(Sha384Context* c, uint8_t out[48]);

void Sha512Init(Sha512Context* c);
void Sha512Update(Sha512Context* c, const uint8_t* data, uint32_t len);
void Sha512Final(Sha512Context* c, uint8_t out[64]);

// Selects the SHA-1 compression function: true (the default) uses the
// processor's SHA instructions when it has them, false always uses the
// portable code. Meant for tests and benchmarks.
void Sha1UseShaInstructions(bool use);
// Whether the processor offers the SHA instructions (and SSE4.1).
bool Sha1HasShaInstructions();

// The same choice for SHA-256, made separately from SHA-1's.
void Sha256UseShaInstructions(bool use);
bool Sha256HasShaInstructions();

// Selects the SHA-384/SHA-512 compression: true (the default) expands the
// message schedules of four blocks at a time in AVX2 vectors, overlapped
// with the rounds of the four before, when the processor has AVX2 and BMI2
// (shorter runs of blocks still take the portable rounds, with the BMI2
// rotations); false always uses the portable code. Meant
// for tests and benchmarks.
void Sha512UseVectorSchedule(bool use);
// Whether the processor offers AVX2 and BMI2 (and the system saves the
// vector registers).
bool Sha512HasVectorSchedule();

}  // namespace qk

#endif
