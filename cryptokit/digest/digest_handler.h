// Digest handlers and the digest method records, for toolkit code that needs
// a digest inside another algorithm (signatures, password-based encryption,
// the random generator).
#ifndef KVCATOOL_CRYPTOKIT_DIGEST_DIGEST_HANDLER_H
#define KVCATOOL_CRYPTOKIT_DIGEST_DIGEST_HANDLER_H

#include "cryptokit/core/objects.h"

namespace qk {

// The operation table of a digest method.
struct DigestMethodOps {
  uint32_t contextSize;
  uint32_t digestLength;
  // MD2 and MD5 report their length even when the output is too small.
  bool reportsLengthWhenRefusing;
  void (*init)(void* context);
  void (*update)(void* context, const uint8_t* data, uint32_t length);
  void (*final)(void* context, uint8_t* digest);
};

// The descriptor of the digest info types (QA_MD2 to QA_SHA512): the
// algorithm type to select and the identifier written in a DigestInfo (DER
// contents octets).
struct DigestDescriptor : AlgInfoDescriptor {
  const AlgorithmType* type;
  const unsigned char* oid;
  uint32_t oidLength;
  uint32_t digestLength;
};

// CreateDigestHandler makes a digest handler for |type| (owned by the caller,
// released with QDelete); null when allocation fails.
DigestHandler* CreateDigestHandler(const AlgorithmType* type);

}  // namespace qk

#endif
