// PKCS #12 (RFC 7292) export: a PFX with the private key in a
// pkcs8ShroudedKeyBag and the certificates in certBags, both encrypted with
// PBES2 (PBKDF2-HMAC-SHA256, AES-256-CBC), and integrity by an HMAC-SHA256
// MAC whose key comes from the PKCS #12 key derivation over the password.
//
// A C++ interface beside kvservices.h: its input is a list of certificates
// and names and its output a wiping byte vector (kv_der.h) whose size the
// caller cannot know ahead, which a flat entry with caller-sized buffers
// would only make the caller guess.
#ifndef KVCATOOL_SERVICES_KV_PKCS12_H
#define KVCATOOL_SERVICES_KV_PKCS12_H

#include <cstdint>
#include <string>
#include <vector>

#include "services/kv_der.h"

namespace kvpkcs12 {

// Iterations of the MAC key derivation.
constexpr uint32_t kPkcs12MacIterations = 2048;

// The PKCS #12 key derivation (RFC 7292, appendix B.2) with SHA-256: |n|
// bytes of key material of purpose |id| (1 key, 2 IV, 3 MAC key) from the
// BMPString form of |password| (with its two zero bytes at the end), |salt|
// and |iterations|. 0 or the toolkit's code.
int Pkcs12Kdf(unsigned char id, const kvder::Bytes& bmpPassword, const kvder::Bytes& salt, uint32_t iterations,
              size_t n, kvder::Bytes* out);

// The UTF-8 text |utf8| as a big-endian BMPString (UTF-16, characters beyond
// the BMP as surrogate pairs). False for text that is not UTF-8.
bool Utf8ToBmp(const std::string& utf8, kvder::Bytes* out);

// What goes into one PFX.
struct Pkcs12Contents {
  const unsigned char* privateKey = nullptr;  // DER PrivateKeyInfo
  size_t privateKeyLength = 0;
  std::vector<std::string> certificates;  // DER; the first is the key's own, the rest its chain
  std::string friendlyName;               // UTF-8; on the key's bag and its certificate's
  std::vector<std::string> chainNames;    // UTF-8 friendly names of the chain's certificates (may be fewer)
};

// The DER PFX of |contents| under |password| (UTF-8) into |out|: 0, the
// services' or toolkit's code, or Q_ERR_INPUT_DATA for a password or
// friendly name that is not UTF-8.
int BuildPkcs12(const Pkcs12Contents& contents, const std::string& password, kvder::Bytes* out);

}  // namespace kvpkcs12

#endif
