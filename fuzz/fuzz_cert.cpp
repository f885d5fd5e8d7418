// C_SetCertBER and C_SetCertBERForDisplay on arbitrary bytes, then
// C_GetCertFields, C_GetCertDER and C_VerifyCertSignature with a fixed key
// and with the certificate's own public key; for the display reading also
// the signature algorithm OID, the key description and the extension value
// readers on every extension.
//
// Properties:
// - every status is one the interface names (no success with a broken
//   record, no crash);
// - when the set succeeds, the DER that comes back decodes again to the same
//   fields (every field of C_CERT_FIELDS, the names and extensions through
//   their DER) and to the same DER, and its signature checks come out the
//   same with both keys;
// - a failed set leaves the object without a signed encoding;
// - the display reading takes whatever the classic reading takes, with the
//   same fields, and round-trips its own DER the same way; an opaque
//   algorithm verifies as C_ERR_ALG_UNSUPPORTED, never as good.
#include <cstring>
#include <cstdint>
#include <vector>

#include "certkit/certkit.h"
#include "cryptokit/cryptokit.h"
#include "fixed_key.h"
#include "fuzz_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Of(const unsigned char* data, uint32_t len) {
  FuzzCheck(data != nullptr || len == 0);
  return len == 0 ? Bytes() : Bytes(data, data + len);
}

struct BitString {
  Bytes bytes;
  uint32_t unusedBits;
  bool present;
  bool operator==(const BitString&) const = default;
};

// Every field of the record, names and extensions as their DER.
struct Fields {
  uint32_t version;
  Bytes serialNumber;
  uint32_t signatureAlgorithm;
  Bytes issuer;
  int64_t notBefore;
  int64_t notAfter;
  Bytes subject;
  Bytes publicKey;
  BitString issuerUniqueID;
  BitString subjectUniqueID;
  Bytes extensions;
  bool operator==(const Fields&) const = default;
};

Bytes NameDer(C_NAME_OBJ name) {
  const unsigned char* der = nullptr;
  uint32_t len = 0;
  FuzzCheck(C_GetNameDER(name, &der, &len) == 0);
  return Of(der, len);
}

BitString BitsOf(const C_BITSTRING& b) {
  FuzzCheck(b.unusedBits <= 7);
  FuzzCheck(b.len != 0 || b.unusedBits == 0);
  return BitString{Of(b.data, b.len), b.unusedBits, b.data != nullptr};
}

Fields FieldsOf(C_CERT_OBJ cert, bool forDisplay = false) {
  C_CERT_FIELDS f{};
  FuzzCheck(C_GetCertFields(cert, &f) == 0);
  FuzzCheck(f.version <= C_CERT_VERSION_3);
  FuzzCheck(f.signatureAlgorithm == C_SIG_MD2_WITH_RSA || f.signatureAlgorithm == C_SIG_MD5_WITH_RSA ||
            f.signatureAlgorithm == C_SIG_SHA1_WITH_RSA || f.signatureAlgorithm == C_SIG_SHA256_WITH_RSA ||
            f.signatureAlgorithm == C_SIG_SHA384_WITH_RSA || f.signatureAlgorithm == C_SIG_SHA512_WITH_RSA ||
            (forDisplay && f.signatureAlgorithm == C_SIG_OPAQUE));
  FuzzCheck(f.notBefore <= f.notAfter);
  // A serial number is a magnitude without leading zero octets.
  FuzzCheck(f.serialNumber.len == 0 || f.serialNumber.data[0] != 0 || f.serialNumber.len == 1);
  FuzzCheck(f.publicKey.len != 0);
  const unsigned char* ext = nullptr;
  uint32_t extLen = 0;
  FuzzCheck(C_GetExtensionsDER(f.extensions, &ext, &extLen) == 0);
  Fields out{f.version, Of(f.serialNumber.data, f.serialNumber.len), f.signatureAlgorithm, NameDer(f.issuer),
             f.notBefore, f.notAfter, NameDer(f.subject), Of(f.publicKey.data, f.publicKey.len),
             BitsOf(f.issuerUniqueID), BitsOf(f.subjectUniqueID), Of(ext, extLen)};
  // Unique identifiers need version 2 or 3, extensions version 3.
  if (f.version == C_CERT_VERSION_1) FuzzCheck(!out.issuerUniqueID.present && !out.subjectUniqueID.present);
  if (f.version != C_CERT_VERSION_3) FuzzCheck(out.extensions.empty());
  return out;
}

Bytes DerOf(C_CERT_OBJ cert) {
  const unsigned char* der = nullptr;
  uint32_t len = 0;
  FuzzCheck(C_GetCertDER(cert, &der, &len) == 0);
  FuzzCheck(len != 0);
  return Of(der, len);
}

bool IsSetStatus(int status) {
  switch (status) {
    case C_ERR_INPUT_DATA: case C_ERR_BAD_ENCODING: case C_ERR_VERSION: case C_ERR_VALIDITY:
    case C_ERR_SIG_ALGORITHM: case C_ERR_NO_KEY_FORM: case C_ERR_PUBLIC_KEY: case C_ERR_ISSUER:
    case C_ERR_SUBJECT: case C_ERR_EXTENSIONS: case C_ERR_EXT_NOT_CRITICAL: case C_ERR_EXT_UNHANDLED_CRITICAL:
    case C_ERR_EXT_CRITICALITY: case C_ERR_TRUNCATED: case C_ERR_DER_TOO_LONG: case C_ERR_OVERFLOW:
    case C_ERR_BAD_ARGUMENT: case C_ERR_EXT_KIND: case C_ERR_EXT_SINGLE_VALUE:
    case C_ERR_VALUE_TAG: case C_ERR_VALUE_LENGTH: case C_ERR_VALUE_CHARS:
      return true;
    default:
      return false;
  }
}

// The statuses C_VerifyCertSignature names (no allocation failures here).
bool IsVerifyStatus(int status) {
  return status == 0 || status == C_ERR_CERT_SIGNATURE || status == C_ERR_EXT_UNHANDLED_CRITICAL ||
         status == C_ERR_ALG_UNSUPPORTED;
}

// A key object from a DER SubjectPublicKeyInfo, or null when it does not
// import.
Q_KEY_OBJ ImportKey(const Bytes& spki) {
  Q_KEY_OBJ key = nullptr;
  FuzzCheck(Q_CreateKeyObject(&key) == 0);
  Q_ITEM item{const_cast<unsigned char*>(spki.data()), static_cast<uint32_t>(spki.size())};
  if (spki.empty() || Q_SetKeyInfo(key, QK_RSAPublicBER, &item) != 0) Q_DestroyKeyObject(&key);
  return key;
}

Q_KEY_OBJ FixedKey() {
  static const Bytes spki(fuzz::kFixedPublicKey, fuzz::kFixedPublicKey + sizeof fuzz::kFixedPublicKey);
  Q_KEY_OBJ key = ImportKey(spki);
  FuzzCheck(key != nullptr);
  return key;
}

// Both signature checks: with the fixed key and with the certificate's own.
struct Verdicts {
  int fixed;
  int own;  // -1 when the certificate's key does not import
  bool operator==(const Verdicts&) const = default;
};

Verdicts Verify(C_CERT_OBJ cert, Q_KEY_OBJ fixedKey, const Bytes& ownKey) {
  Verdicts v{C_VerifyCertSignature(cert, fixedKey, nullptr), -1};
  FuzzCheck(IsVerifyStatus(v.fixed));
  Q_KEY_OBJ own = ImportKey(ownKey);
  if (own != nullptr) {
    v.own = C_VerifyCertSignature(cert, own, nullptr);
    FuzzCheck(IsVerifyStatus(v.own));
    Q_DestroyKeyObject(&own);
  }
  return v;
}

// The extension value readers on every extension of a certificate read for
// display, the signature algorithm OID and the key description: any status,
// no crash, and outputs inside the value.
void ReadDisplayParts(C_CERT_OBJ cert) {
  C_CERT_FIELDS f{};
  FuzzCheck(C_GetCertFields(cert, &f) == 0);
  C_ITEM oid{};
  FuzzCheck(C_GetCertSignatureAlgorithmOID(cert, &oid) == 0 && oid.len != 0);
  C_PUBLIC_KEY_INFO key{};
  if (C_ReadPublicKeyInfo(f.publicKey.data, f.publicKey.len, &key) == 0) {
    FuzzCheck(key.algorithm.len != 0);
    FuzzCheck(key.rsaBits <= 8 * f.publicKey.len);
  }
  uint32_t count = 0;
  FuzzCheck(C_GetExtensionCount(f.extensions, &count) == 0);
  for (uint32_t i = 0; i < count; ++i) {
    const unsigned char* value = nullptr;
    uint32_t valueLen = 0, critical = 0;
    FuzzCheck(C_GetExtension(f.extensions, i, nullptr, nullptr, &critical, &value, &valueLen) == 0);
    C_BASIC_CONSTRAINTS bc;
    (void)C_ReadBasicConstraints(value, valueLen, &bc);
    uint32_t usage = 0;
    (void)C_ReadKeyUsage(value, valueLen, &usage);
    C_ITEM items[4];
    uint32_t n = 0;
    (void)C_ReadExtendedKeyUsage(value, valueLen, items, 4, &n);
    C_GENERAL_NAME names[4];
    (void)C_ReadSubjectAltName(value, valueLen, names, 4, &n);
    C_ITEM keyId;
    (void)C_ReadSubjectKeyIdentifier(value, valueLen, &keyId);
    C_AUTHORITY_KEY_ID aki;
    (void)C_ReadAuthorityKeyIdentifier(value, valueLen, &aki);
  }
}

// The display reading of the same input: it must take whatever the
// classic reading took (|classic| is that reading's status), with the same
// fields.
void CheckDisplayReading(const uint8_t* data, size_t size, int classic, const Fields* classicFields,
                         Q_KEY_OBJ fixedKey) {
  C_CERT_OBJ cert = nullptr;
  FuzzCheck(C_CreateCertObject(&cert, nullptr) == 0);
  const int status = C_SetCertBERForDisplay(cert, data, static_cast<uint32_t>(size));
  if (classic == 0) FuzzCheck(status == 0);
  if (status != 0) {
    FuzzCheck(IsSetStatus(status));
    C_DestroyCertObject(&cert);
    return;
  }
  const Fields fields = FieldsOf(cert, true);
  if (classicFields != nullptr) FuzzCheck(fields == *classicFields);
  ReadDisplayParts(cert);
  const Bytes der = DerOf(cert);
  const Verdicts verdicts = Verify(cert, fixedKey, fields.publicKey);
  if (fields.signatureAlgorithm == C_SIG_OPAQUE) {
    FuzzCheck(verdicts.fixed == C_ERR_ALG_UNSUPPORTED || verdicts.fixed == C_ERR_EXT_UNHANDLED_CRITICAL);
  }
  C_CERT_OBJ again = nullptr;
  FuzzCheck(C_CreateCertObject(&again, nullptr) == 0);
  FuzzCheck(C_SetCertBERForDisplay(again, der.data(), static_cast<uint32_t>(der.size())) == 0);
  FuzzCheck(FieldsOf(again, true) == fields);
  FuzzCheck(DerOf(again) == der);
  FuzzCheck(Verify(again, fixedKey, fields.publicKey) == verdicts);
  C_DestroyCertObject(&again);
  C_DestroyCertObject(&cert);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 0xFFFFFFFFu) return 0;
  static Q_KEY_OBJ fixedKey = FixedKey();
  C_CERT_OBJ cert = nullptr;
  FuzzCheck(C_CreateCertObject(&cert, nullptr) == 0);
  const int status = C_SetCertBER(cert, data, static_cast<uint32_t>(size));
  if (status != 0) {
    FuzzCheck(IsSetStatus(status));
    const unsigned char* der = nullptr;
    uint32_t len = 0;
    FuzzCheck(C_GetCertDER(cert, &der, &len) == C_ERR_NOTHING_TO_SIGN);
    FuzzCheck(C_VerifyCertSignature(cert, fixedKey, nullptr) == C_ERR_CERT_SIGNATURE);
    C_DestroyCertObject(&cert);
    FuzzCheck(cert == nullptr);
    CheckDisplayReading(data, size, status, nullptr, fixedKey);
    return 0;
  }

  const Fields fields = FieldsOf(cert);
  CheckDisplayReading(data, size, status, &fields, fixedKey);
  const Bytes der = DerOf(cert);
  const Verdicts verdicts = Verify(cert, fixedKey, fields.publicKey);

  // The DER that came back decodes to the same certificate.
  C_CERT_OBJ again = nullptr;
  FuzzCheck(C_CreateCertObject(&again, nullptr) == 0);
  FuzzCheck(C_SetCertBER(again, der.data(), static_cast<uint32_t>(der.size())) == 0);
  FuzzCheck(FieldsOf(again) == fields);
  FuzzCheck(DerOf(again) == der);
  FuzzCheck(Verify(again, fixedKey, fields.publicKey) == verdicts);
  C_DestroyCertObject(&again);

  // Reading the fields did not change the object.
  FuzzCheck(DerOf(cert) == der);
  C_DestroyCertObject(&cert);
  return 0;
}
