// PKCS #1 version 1.5 block formats over the RSA methods: block type 1 for
// signatures, block type 2 for encryption, one handler per key side.
#ifndef KVCATOOL_CRYPTOKIT_RSA_PKCS1_H
#define KVCATOOL_CRYPTOKIT_RSA_PKCS1_H

#include "cryptokit/core/objects.h"

namespace qk {

enum class Pkcs1Side {
  Private,  // RSA private method; pads with block type 1, unpads block type 2
  Public,   // RSA public method; pads with block type 2, unpads block type 1
};

// CreatePkcs1Handler makes the cipher handler of one side (released with
// QDelete), whose Init refuses keys with more than |maxModulusBits| bits
// (533); null when allocation fails.
CipherHandler* CreatePkcs1Handler(Pkcs1Side side, uint32_t maxModulusBits);

}  // namespace qk

#endif
