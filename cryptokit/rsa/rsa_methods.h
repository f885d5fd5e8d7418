// The two RSA methods: the public-exponent operation and the private
// operation by the Chinese remainder theorem. Both consume whole k-byte
// blocks (k the modulus's byte length) and keep a partial block between
// calls. Statuses are method statuses (translated by the caller).
#ifndef KVCATOOL_CRYPTOKIT_RSA_RSA_METHODS_H
#define KVCATOOL_CRYPTOKIT_RSA_RSA_METHODS_H

#include <cstdint>

#include "cryptokit/core/objects.h"

namespace qk {

// Method statuses of the RSA methods.
constexpr int kRsaStatusInputData = 5;     // block not below the modulus
constexpr int kRsaStatusPartialBlock = 6;  // Final with a partial block left
constexpr int kRsaStatusModulusSize = 7;   // modulus above the caller's limit
constexpr int kRsaStatusOutputSmall = 10;  // output capacity below k

class RsaBlockMethod {
 public:
  virtual ~RsaBlockMethod() = default;
  // The block length k.
  virtual uint32_t BlockLength() const = 0;
  // Consumes input; writes k bytes for each whole block completed.
  virtual int Update(unsigned char* output, uint32_t* outputLen, uint32_t outputMax, const unsigned char* input,
                     uint32_t inputLen, Q_SURRENDER_CTX* surrender) = 0;
  // Ends the message: 6 when a partial block is left (it is dropped).
  virtual int Final() = 0;
};

// The longest moduli the RSA methods take: the classic signature and PKCS #1
// info types keep 2048 bits; the SHA-2 signature types allow 4096.
constexpr uint32_t kClassicMaxModulusBits = 2048;
constexpr uint32_t kModernMaxModulusBits = 4096;

// The operation table of an RSA method record: makes the method's working
// context from the key form the method asked for, refusing a modulus longer
// than |maxModulusBits| (status 7). Null with |*status| set on failure (128
// for allocation).
struct RsaMethodOps {
  RsaBlockMethod* (*create)(const void* keyForm, uint32_t maxModulusBits, int* status);
};

}  // namespace qk

#endif
