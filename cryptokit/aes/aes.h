// AES-128 and AES-256 (FIPS 197) and the AES-CBC methods (SP 800-38A) with
// the PKCS #7 padding. Internal to the toolkit.
//
// Two block implementations sit behind one interface: the processor's AES
// instructions (AESENC, AESDEC, AESKEYGENASSIST), chosen at run time when
// cpuid reports them, and a portable one that computes the S-box by
// arithmetic in GF(2^8) on eight bytes at a time, so no table is ever indexed
// by a secret. Both give the same round keys; they differ only in how the
// decryption keys are kept, so a key schedule is always used with the
// implementation that made it.
#ifndef KVCATOOL_CRYPTOKIT_AES_AES_H
#define KVCATOOL_CRYPTOKIT_AES_AES_H

#include <cstddef>
#include <cstdint>

#include "cryptokit/core/objects.h"

namespace qk {

inline constexpr uint32_t kAesBlockLength = 16;
inline constexpr uint32_t kAes128KeyLength = 16;
inline constexpr uint32_t kAes256KeyLength = 32;

// An expanded key: Nr + 1 round keys of 16 bytes in the byte order of
// FIPS 197 (10 rounds for AES-128, 14 for AES-256). For the decrypting side
// of the AES instructions the round keys are those of the equivalent inverse
// cipher (FIPS 197, 5.3.5), in the order they are applied.
struct AesKeySchedule {
  alignas(16) uint8_t rk[15][16];
  uint32_t rounds;
};

// One implementation: key expansion for each side and CBC over whole blocks.
// |iv| is the chaining block, updated in place to the last cipher block.
// |in| and |out| may be the same buffer but must not otherwise overlap.
struct AesImplementation {
  // |keyLength| is 16 or 32.
  void (*expandEncrypt)(const uint8_t* key, uint32_t keyLength, AesKeySchedule* ks);
  void (*expandDecrypt)(const uint8_t* key, uint32_t keyLength, AesKeySchedule* ks);
  void (*cbcEncrypt)(const AesKeySchedule* ks, uint8_t iv[16], const uint8_t* in, uint8_t* out, size_t blocks);
  void (*cbcDecrypt)(const AesKeySchedule* ks, uint8_t iv[16], const uint8_t* in, uint8_t* out, size_t blocks);
};

extern const AesImplementation kAesPortable;
// Only usable when AesCpuHasAesInstructions() is true.
extern const AesImplementation kAesInstructions;
bool AesCpuHasAesInstructions();

// The implementation new contexts use: the AES instructions when present and
// wanted, the portable code otherwise.
const AesImplementation* AesChosenImplementation();
// true (the default) lets AesChosenImplementation pick the AES instructions;
// false always picks the portable code. Meant for tests and benchmarks.
void AesUseAesInstructions(bool use);

// ---------------------------------------------------------------------------
// AES-CBC methods.
//
// The method context: the implementation chosen at init, the key schedule,
// the chaining block, the initial vector (kept so Final can restart the
// chain) and up to 16 buffered bytes.
struct AesCbcContext {
  const AesImplementation* impl;
  AesKeySchedule ks;
  uint8_t chain[16];
  uint8_t iv[16];
  uint8_t buffer[16];
  uint32_t count;
};

// The operation table of QM_AES128CBCEncrypt and its siblings. The functions
// answer method statuses (0; 5 bad padding or null input; 6 cipher text not
// a positive multiple of 16 bytes; 10 output too small), which callers turn
// into toolkit codes with MethodStatusToCode. A failing call changes nothing
// in the context. On status 10, |*outputLen| receives the length needed.
// |output| may be null when |outputMax| is 0; input and output must not
// overlap.
struct AesCbcMethodOps {
  uint32_t contextSize;
  uint32_t keyLength;
  // Sets the key (|keyLength| bytes) and the 16-byte initial vector.
  int (*init)(void* context, const uint8_t* key, const uint8_t iv[16]);
  // Encrypting side: writes 16 * floor((buffered + inputLen) / 16) bytes.
  // Decrypting side: writes every complete block but the last one, which is
  // held back for Final.
  int (*update)(void* context, uint8_t* output, uint32_t* outputLen, uint32_t outputMax, const uint8_t* input,
                uint32_t inputLen);
  // Encrypting side: pads with 1..16 bytes of the pad length and writes the
  // last block. Decrypting side: decrypts the held-back block, checks the
  // padding without branching on its bytes and strips it. Both restart the
  // chain from the initial vector.
  int (*final)(void* context, uint8_t* output, uint32_t* outputLen, uint32_t outputMax);
};

// The cipher side shared by the AES-CBC info types and PBES2: selects an
// AES-CBC method from a chooser, owns its context and runs it. The context
// is wiped when the runner goes.
class AesCbcRunner {
 public:
  AesCbcRunner() = default;
  ~AesCbcRunner();
  AesCbcRunner(const AesCbcRunner&) = delete;
  AesCbcRunner& operator=(const AesCbcRunner&) = delete;

  // Takes the first method of |type| and the side in |chooser| whose key
  // form |key| gives, and starts it with |iv|. A toolkit code.
  int Select(const AlgorithmType* type, bool encrypt, Q_KeyObj* key, Q_CHOOSER chooser, const uint8_t iv[16]);
  // The method's update and final, their statuses turned into toolkit codes.
  int Update(unsigned char* output, uint32_t* outputLen, uint32_t outputMax, const unsigned char* input,
             uint32_t inputLen);
  int Final(unsigned char* output, uint32_t* outputLen, uint32_t outputMax);

 private:
  int Adopt(const Q_ALGORITHM_METHOD* method, void* keyForm, const uint8_t iv[16]);

  const AesCbcMethodOps* ops_ = nullptr;
  void* context_ = nullptr;
};

}  // namespace qk

#endif
