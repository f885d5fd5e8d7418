// RSA key forms of the key objects, for toolkit code that reads RSA keys
// (the RSA methods, key-pair generation).
#ifndef KVCATOOL_CRYPTOKIT_RSAKEYS_RSA_KEYS_H
#define KVCATOOL_CRYPTOKIT_RSAKEYS_RSA_KEYS_H

#include "cryptokit/core/objects.h"

namespace qk {

// KI_RSAComponents is the internal RSA components form: its info is a
// Q_RSA_PRIVATE_CRT_KEY with the eight components (big-endian, no leading
// zeros). It cannot be set (517) nor built (542); a key holds it when it was
// set as QK_RSAPrivateCRT or QK_RSAPrivateBER.
int KI_RSAComponents(const void** descriptor);

// DER contents octets of rsaEncryption (1.2.840.113549.1.1.1) and of the
// X.500 RSA identifier 2.5.8.1.1, also accepted for public keys.
extern const unsigned char kRsaEncryptionOid[9];
extern const unsigned char kX500RsaOid[4];

}  // namespace qk

#endif
