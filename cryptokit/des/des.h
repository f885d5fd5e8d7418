// Single DES (FIPS 46-3) and the DES-CBC methods (FIPS 81) with the PKCS #5
// padding. Internal to the toolkit.
#ifndef KVCATOOL_CRYPTOKIT_DES_DES_H
#define KVCATOOL_CRYPTOKIT_DES_DES_H

#include <cstdint>

#include "cryptokit/core/objects.h"

namespace qk {

inline constexpr uint32_t kDesBlockLength = 8;
inline constexpr uint32_t kDesKeyLength = 8;

// The 16 round keys of the DES key schedule, in the order they are applied:
// K1..K16 for encryption, K16..K1 for decryption. Each round key is stored as
// its eight 6-bit groups (the inputs of S1..S8), one per byte.
struct DesRoundKeys {
  uint8_t k[16][8];
};

// DesKeySchedule computes the round keys of |key| (8 bytes; the parity bits,
// bit 0 of each byte, are ignored as FIPS 46-3 says). |decrypt| reverses the
// order.
void DesKeySchedule(const uint8_t key[8], bool decrypt, DesRoundKeys* keys);
// DesCryptBlock runs the 16 rounds over one 8-byte block; |in| and |out| may
// be the same. Encrypts or decrypts according to the order of |keys|.
void DesCryptBlock(const DesRoundKeys* keys, const uint8_t in[8], uint8_t out[8]);

// ---------------------------------------------------------------------------
// DES-CBC methods.
//
// The method context: the round keys, the chaining block, the initial vector
// (kept so Final can restart the chain) and up to 16 buffered bytes.
struct DesCbcContext {
  DesRoundKeys keys;
  uint8_t chain[8];
  uint8_t iv[8];
  uint8_t buffer[16];
  uint32_t count;
};

// The operation table of QM_DESCBCEncrypt and QM_DESCBCDecrypt. The functions
// answer method statuses (0; 5 bad padding or null input; 6 cipher text not
// a positive multiple of 8 bytes; 10 output too small), which callers turn
// into toolkit codes with MethodStatusToCode. A failing call changes nothing
// in the context. On status 10, |*outputLen| receives the length needed.
// |output| may be null when |outputMax| is 0; input and output must not
// overlap.
struct DesCbcMethodOps {
  uint32_t contextSize;
  // Sets the key (the 8 bytes of QK_DESKey) and the initial vector.
  int (*init)(void* context, const uint8_t key[8], const uint8_t iv[8]);
  // Encrypting side: writes 8 * floor((buffered + inputLen) / 8) bytes.
  // Decrypting side: writes every complete block but the last one held back.
  int (*update)(void* context, uint8_t* output, uint32_t* outputLen, uint32_t outputMax, const uint8_t* input,
                uint32_t inputLen);
  // Encrypting side: pads with 1..8 bytes of the pad length and writes the
  // last block. Decrypting side: decrypts the held-back block, checks and
  // strips the padding. Both restart the chain from the initial vector.
  int (*final)(void* context, uint8_t* output, uint32_t* outputLen, uint32_t outputMax);
};

// ForceOddParity sets bit 0 of |b| so the byte has an odd number of ones.
inline uint8_t ForceOddParity(uint8_t b) {
  int ones = 0;
  for (int i = 1; i < 8; ++i) ones += (b >> i) & 1;
  return static_cast<uint8_t>((ones & 1) != 0 ? (b & 0xFE) : (b | 0x01));
}
inline bool HasOddParity(uint8_t b) {
  int ones = 0;
  for (int i = 0; i < 8; ++i) ones += (b >> i) & 1;
  return (ones & 1) != 0;
}

}  // namespace qk

#endif
