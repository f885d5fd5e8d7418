// HMAC (RFC 2104) over SHA-1, SHA-256, SHA-384 and SHA-512, and PBKDF2
// (RFC 8018, 5.2) over them. Internal to the toolkit.
//
// A keyed HMAC context holds the chaining states after the key's inner and
// outer pad blocks, computed once per key; a message then costs what the
// digest of the message costs plus one compression, and an iteration of
// PBKDF2 exactly two compressions.
#ifndef KVCATOOL_CRYPTOKIT_HMAC_HMAC_H
#define KVCATOOL_CRYPTOKIT_HMAC_HMAC_H

#include <cstdint>

#include "cryptokit/core/objects.h"

namespace qk {

// The operation table of QM_HMACSHA1 and its siblings. The context is a
// block of |contextSize| bytes owned by the caller, who wipes it.
struct HmacMethodOps {
  uint32_t contextSize;
  uint32_t macLength;    // the digest's length
  uint32_t blockLength;  // the digest's block length
  // Keys |context| with |key| (any length; a key longer than a block is
  // digested first) and starts a message.
  void (*init)(void* context, const uint8_t* key, uint32_t keyLength);
  void (*update)(void* context, const uint8_t* data, uint32_t length);
  // Writes the |macLength|-byte MAC and starts a new message under the same
  // key.
  void (*final)(void* context, uint8_t* mac);
  // PBKDF2's F(P, S, c, i) (RFC 8018, 5.2, step 3) with P the key of the
  // keyed |context| (left unchanged): writes |macLength| bytes to |out|.
  // |iterations| is at least 1. 0, or 519 when |surrender| says stop (asked
  // every 4096 iterations).
  int (*pbkdf2Block)(const void* context, const uint8_t* salt, uint32_t saltLength, uint32_t index,
                     uint32_t iterations, uint8_t* out, Q_SURRENDER_CTX* surrender);
};

// The operation tables of the four methods.
extern const HmacMethodOps kHmacSha1Ops;
extern const HmacMethodOps kHmacSha256Ops;
extern const HmacMethodOps kHmacSha384Ops;
extern const HmacMethodOps kHmacSha512Ops;

// The descriptor of QA_HMACSHA1 to QA_HMACSHA512: the algorithm type whose
// method is selected, and the PRF's identifier for PBES2 (hmacWithSHA1 etc.,
// RFC 8018, B.1; DER contents octets).
struct HmacDescriptor : AlgInfoDescriptor {
  const AlgorithmType* type;
  const unsigned char* oid;
  uint32_t oidLength;
  uint32_t macLength;
};

// The HMAC descriptor behind |descriptor| (an info type's descriptor), or
// null when it is not one of the HMAC info types.
const HmacDescriptor* FindHmac(const void* descriptor);
// The HMAC descriptor whose PRF identifier is |oid|, or null.
const HmacDescriptor* FindHmacByOid(const unsigned char* oid, uint32_t oidLength);
// The info type of an HMAC descriptor (for the one FindHmac gives).
Q_INFO_TYPE HmacInfoType(const HmacDescriptor* descriptor);

// SelectHmac picks from |chooser| the HMAC method of |type| whose key form
// (QK_Item) |key| gives. 0 and |*ops| set, or the selection's code.
int SelectHmac(const AlgorithmType* type, Q_KeyObj* key, Q_CHOOSER chooser, const HmacMethodOps** ops,
               const Q_ITEM** keyItem);

// Pbkdf2 derives |outputLength| bytes into |output| from |password| and
// |salt| with |iterations| (at least 1) of the HMAC |ops|. 0, 518 or 519.
int Pbkdf2(const HmacMethodOps* ops, const Q_ITEM& password, const uint8_t* salt, uint32_t saltLength,
           uint32_t iterations, uint8_t* output, uint32_t outputLength, Q_SURRENDER_CTX* surrender);

}  // namespace qk

#endif
