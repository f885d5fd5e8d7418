// The signed-object core that certificate and request objects share: the
// signed DER encoding, the to-be-signed encoding, the split of the signed
// encoding into its three parts, and the steps that sign it, verify it and
// digest its to-be-signed part through the crypto toolkit.
#ifndef KVCATOOL_CERTKIT_SIGN_SIGNED_OBJECT_H
#define KVCATOOL_CERTKIT_SIGN_SIGNED_OBJECT_H

#include <cstdint>

#include "certkit/asn1/asn1.h"
#include "certkit/certkit.h"
#include "certkit/object.h"
#include "cryptokit/cryptokit.h"

namespace ck {

// The core; certificate (tag 2000) and request (tag 1999) objects begin
// with it.
struct SignedCore {
  ObjectHeader header;       // class descriptor, type tag
  ByteRange signedDer;       // owned: the whole signed DER; null until set or signed
  ByteRange tbsDer;          // owned: made by setting fields; null when set from BER
  uint32_t split;            // 1 once |signedDer| is split into the parts below
  ByteRange tbsElement;      // into |signedDer|: the to-be-signed element
  ByteRange algorithmElement;  // into |signedDer|: the signature AlgorithmIdentifier
  C_BITSTRING signature;     // into |signedDer|: the signature BIT STRING's value
};

// Room for the signature that signing produces: up to a 4096-bit modulus.
// The crypto toolkit decides which key sizes it signs with; a signature that
// does not fit fails signing (C_ERR_SIGN).
constexpr uint32_t kSignatureMax = 512;

// One row of the signature algorithm table.
struct SignatureRow {
  uint32_t identifier;           // C_SIG_*: 6, 7, 8, 11, 12, 13
  const char* name;
  const uint8_t* oid;            // content octets
  uint32_t oidLen;
  Q_INFO_TYPE signatureInfo;     // QA_...WithRSA
  Q_INFO_TYPE identifierInfo;    // QA_...WithRSABER
  Q_INFO_TYPE digestInfo;        // QA_MD2, QA_MD5, QA_SHA1, QA_SHA256, ...
};

// The six rows, in search order (the classic three first).
const SignatureRow* SignatureTable(uint32_t* rowCount);
// The row of |identifier|, or null.
const SignatureRow* FindSignatureRow(uint32_t identifier);

// Finds the row whose AlgorithmIdentifier info type accepts the DER
// AlgorithmIdentifier |element| (tried in table order on an algorithm
// object). Returns 0 with |*row| set; C_ERR_NO_SIG_ALG_ROW when none
// accepts it; C_ERR_ALLOC.
int RowFromAlgorithmIdentifier(ByteRange element, const SignatureRow** row);

// Writes the DER AlgorithmIdentifier of |row| as the crypto toolkit makes it
// into a new block (release with QMem_SecureRelease). 0, C_ERR_ALLOC or
// C_ERR_SIG_ALGORITHM.
int AlgorithmIdentifierOf(const SignatureRow* row, uint8_t** der, uint32_t* derLen);

// Checks that the crypto toolkit accepts |spki| as a public key encoding by
// setting each of its public key forms in turn on a fresh key object.
// 0; C_ERR_NO_KEY_FORM when no form applies; C_ERR_PUBLIC_KEY when the
// encoding is refused; C_ERR_ALLOC.
int CheckPublicKeyEncoding(ByteRange spki);

// Wipes and releases both encodings and forgets the split.
void CoreReleaseEncodings(SignedCore* core);
// Makes |der| (owned, taken over) the signed encoding after splitting it;
// the old encodings are wiped and released. On a failure to split
// (C_ERR_INPUT_DATA) or of memory nothing changes and |der| is released.
int CoreTakeSigned(SignedCore* core, uint8_t* der, uint32_t derLen);
// Reads |ber| as the signed object of |tmpl|: normalises it to DER, makes
// that the signed encoding and lets |decode| fill the object's fields from
// it; when decoding fails the encodings are released again. 0;
// C_ERR_INPUT_DATA for no input; C_ERR_BAD_ENCODING; C_ERR_ALLOC; or
// |decode|'s code.
template <class Object>
int CoreSetBER(SignedCore* core, const AsnEntry* tmpl, const unsigned char* ber, uint32_t berLen,
               int (*decode)(Object*), Object* object) {
  if (ber == nullptr || berLen == 0) return C_ERR_INPUT_DATA;
  uint8_t* der = nullptr;
  uint32_t derLen = 0;
  int status = AsnNormalise(tmpl, ByteRange{ber, berLen}, &der, &derLen);
  if (status != 0) return status == kAsnErrMemory ? C_ERR_ALLOC : C_ERR_BAD_ENCODING;
  status = CoreTakeSigned(core, der, derLen);
  if (status != 0) return status;
  status = decode(object);
  if (status != 0) CoreReleaseEncodings(core);
  return status;
}
// Makes |der| (owned, taken over) the to-be-signed encoding and drops the
// signed encoding: the object is unsigned.
void CoreTakeToBeSigned(SignedCore* core, uint8_t* der, uint32_t derLen);
// Splits the signed encoding if it is not split yet. 0, C_ERR_NOT_SIGNED
// when there is none, C_ERR_INPUT_DATA when it does not split.
int CoreSplit(SignedCore* core);
// The to-be-signed encoding: the one made from fields, else the element of
// the signed encoding. C_ERR_NOTHING_TO_SIGN when there is neither.
int CoreToBeSigned(SignedCore* core, ByteRange* tbs);

// Signs the to-be-signed part with the row of |identifier| and makes the
// signed wrapper the new signed encoding. 0; C_ERR_NOTHING_TO_SIGN;
// C_ERR_SIG_ALGORITHM; C_ERR_SIGN; C_ERR_ALLOC. On failure nothing changes.
int CoreSign(SignedCore* core, uint32_t identifier, Q_KEY_OBJ privateKey, Q_ALGORITHM_OBJ random,
             Q_SURRENDER_CTX* surrender);

// Verifies the signed encoding with |publicKey|. 0; C_ERR_NOT_SIGNED when
// there is no signed encoding; C_ERR_ALLOC; C_ERR_CANCEL;
// C_ERR_CERT_SIGNATURE for every other failure (bad signature, unused bits,
// unknown algorithm, unusable key). Callers map these to their own codes.
int CoreVerify(SignedCore* core, Q_KEY_OBJ publicKey, Q_SURRENDER_CTX* surrender);

// Digests the to-be-signed part with the digest of the row of |identifier|,
// or, for identifier 0, of the row of the signed encoding's algorithm.
// 0; C_ERR_NO_SIG_ALG_SOURCE; C_ERR_SIG_ALGORITHM; C_ERR_DIGEST;
// C_ERR_NOTHING_TO_SIGN; C_ERR_ALLOC; C_ERR_CANCEL.
int CoreDigest(SignedCore* core, uint32_t identifier, uint8_t* out, uint32_t* outLen, uint32_t outMax,
               Q_SURRENDER_CTX* surrender);

}  // namespace ck

#endif
