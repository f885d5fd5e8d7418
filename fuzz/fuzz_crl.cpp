// C_SetCRLBER on arbitrary bytes over an object that already holds a good
// list, then C_GetCRLFields, C_GetCRLEntry, C_GetCRLDER,
// C_VerifyCRLSignature with a fixed key, and C_SetCRLFields with the fields
// read.
//
// Properties:
// - every status is one the interface names (no crash, no success with a
//   broken record);
// - a failed set leaves the object as it was: the good list's DER, fields
//   and entries;
// - when the set succeeds, the DER that comes back decodes again to the same
//   fields, entries and DER, with the same signature verdict;
// - the fields read can be set again (for the signature algorithms a list is
//   signed with here), and that keeps the entries.
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

struct Entry {
  Bytes serial;
  int64_t date;
  int32_t reason;
  bool operator==(const Entry&) const = default;
};

// Every field of the record (issuer and extensions as their DER) and every
// entry.
struct Fields {
  uint32_t version;
  uint32_t signatureAlgorithm;
  Bytes issuer;
  int64_t thisUpdate;
  int64_t nextUpdate;
  uint32_t hasNextUpdate;
  Bytes extensions;
  std::vector<Entry> entries;
  bool operator==(const Fields&) const = default;
};

Fields FieldsOf(C_CRL_OBJ crl) {
  C_CRL_FIELDS f{};
  FuzzCheck(C_GetCRLFields(crl, &f) == 0);
  FuzzCheck(f.version <= C_CRL_VERSION_2);
  FuzzCheck(f.hasNextUpdate <= 1);
  if (f.hasNextUpdate) FuzzCheck(f.nextUpdate >= f.thisUpdate);
  const unsigned char* issuer = nullptr;
  uint32_t issuerLen = 0;
  FuzzCheck(C_GetNameDER(f.issuer, &issuer, &issuerLen) == 0);
  FuzzCheck(issuerLen != 0);
  const unsigned char* ext = nullptr;
  uint32_t extLen = 0;
  FuzzCheck(C_GetExtensionsDER(f.extensions, &ext, &extLen) == 0);
  if (f.version == C_CRL_VERSION_1) FuzzCheck(extLen == 0);
  Fields out{f.version, f.signatureAlgorithm, Of(issuer, issuerLen), f.thisUpdate,
             f.hasNextUpdate ? f.nextUpdate : 0, f.hasNextUpdate, Of(ext, extLen), {}};
  for (uint32_t i = 0; i < f.entryCount; ++i) {
    const unsigned char* serial = nullptr;
    uint32_t serialLen = 0;
    Entry e{};
    FuzzCheck(C_GetCRLEntry(crl, i, &serial, &serialLen, &e.date, &e.reason) == 0);
    FuzzCheck(serialLen != 0 && (serial[0] != 0 || serialLen == 1));
    FuzzCheck(e.reason >= C_REASON_NONE && e.reason <= C_REASON_AA_COMPROMISE && e.reason != 7);
    if (f.version == C_CRL_VERSION_1) FuzzCheck(e.reason == C_REASON_NONE);
    e.serial = Of(serial, serialLen);
    out.entries.push_back(e);
  }
  FuzzCheck(C_GetCRLEntry(crl, f.entryCount, nullptr, nullptr, nullptr, nullptr) == C_ERR_INDEX);
  return out;
}

Bytes DerOf(C_CRL_OBJ crl) {
  const unsigned char* der = nullptr;
  uint32_t len = 0;
  FuzzCheck(C_GetCRLDER(crl, &der, &len) == 0);
  FuzzCheck(len != 0);
  return Of(der, len);
}

bool IsSetStatus(int status) {
  switch (status) {
    case C_ERR_INPUT_DATA: case C_ERR_BAD_ENCODING: case C_ERR_VERSION: case C_ERR_CRL_UPDATE:
    case C_ERR_SIG_ALGORITHM: case C_ERR_ISSUER: case C_ERR_CRL_ENTRY: case C_ERR_EXTENSIONS:
    case C_ERR_EXT_NOT_CRITICAL: case C_ERR_EXT_UNHANDLED_CRITICAL: case C_ERR_EXT_CRITICALITY:
    case C_ERR_TRUNCATED: case C_ERR_DER_TOO_LONG: case C_ERR_OVERFLOW: case C_ERR_BAD_ARGUMENT:
      return true;
    default:
      return false;
  }
}

bool IsVerifyStatus(int status) {
  return status == 0 || status == C_ERR_CRL_SIGNATURE || status == C_ERR_EXT_UNHANDLED_CRITICAL;
}

Q_KEY_OBJ Key(const unsigned char* der, uint32_t len, Q_INFO_TYPE form) {
  Q_KEY_OBJ key = nullptr;
  FuzzCheck(Q_CreateKeyObject(&key) == 0);
  Q_ITEM item{const_cast<unsigned char*>(der), len};
  FuzzCheck(Q_SetKeyInfo(key, form, &item) == 0);
  return key;
}

// A version 2 list with one revoked entry, signed with the fixed key: what
// the object holds before each input.
Bytes GoodList() {
  Q_KEY_OBJ key = Key(fuzz::kFixedPrivateKey, sizeof fuzz::kFixedPrivateKey, QK_RSAPrivateBER);
  C_CRL_OBJ crl = nullptr;
  FuzzCheck(C_CreateCRLObject(&crl, nullptr) == 0);
  C_CRL_FIELDS f{};
  FuzzCheck(C_GetCRLFields(crl, &f) == 0);
  static const unsigned char kCn[] = {0x55, 0x04, 0x03};
  FuzzCheck(C_AddNameAVA(f.issuer, kCn, 3, C_TAG_PRINTABLE_STRING, reinterpret_cast<const unsigned char*>("Fuzz Root"),
                         9, 1, nullptr) == 0);
  const unsigned char serial = 0x2A;
  FuzzCheck(C_AddCRLEntry(crl, &serial, 1, 1700000000, C_REASON_KEY_COMPROMISE) == 0);
  f.thisUpdate = 1700000000;
  f.nextUpdate = 1702592000;
  f.hasNextUpdate = 1;
  FuzzCheck(C_SetCRLFields(crl, &f) == 0);
  FuzzCheck(C_SignCRL(crl, key, nullptr, nullptr) == 0);
  const Bytes der = DerOf(crl);
  C_DestroyCRLObject(&crl);
  Q_DestroyKeyObject(&key);
  return der;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 0xFFFFFFFFu) return 0;
  static Q_KEY_OBJ fixedKey = Key(fuzz::kFixedPublicKey, sizeof fuzz::kFixedPublicKey, QK_RSAPublicBER);
  static const Bytes good = GoodList();
  C_CRL_OBJ crl = nullptr;
  FuzzCheck(C_CreateCRLObject(&crl, nullptr) == 0);
  FuzzCheck(C_SetCRLBER(crl, good.data(), static_cast<uint32_t>(good.size())) == 0);
  static const Fields goodFields = FieldsOf(crl);

  const int status = C_SetCRLBER(crl, data, static_cast<uint32_t>(size));
  if (status != 0) {
    FuzzCheck(IsSetStatus(status));
    FuzzCheck(DerOf(crl) == good);
    FuzzCheck(FieldsOf(crl) == goodFields);
    FuzzCheck(C_VerifyCRLSignature(crl, fixedKey, nullptr) == 0);
    C_DestroyCRLObject(&crl);
    FuzzCheck(crl == nullptr);
    return 0;
  }

  const Fields fields = FieldsOf(crl);
  const Bytes der = DerOf(crl);
  const int verdict = C_VerifyCRLSignature(crl, fixedKey, nullptr);
  FuzzCheck(IsVerifyStatus(verdict));

  // The DER that came back decodes to the same list.
  C_CRL_OBJ again = nullptr;
  FuzzCheck(C_CreateCRLObject(&again, nullptr) == 0);
  FuzzCheck(C_SetCRLBER(again, der.data(), static_cast<uint32_t>(der.size())) == 0);
  FuzzCheck(FieldsOf(again) == fields);
  FuzzCheck(DerOf(again) == der);
  FuzzCheck(C_VerifyCRLSignature(again, fixedKey, nullptr) == verdict);
  C_DestroyCRLObject(&again);

  // The fields read set again: the list is then unsigned and keeps its
  // entries. Other algorithms are refused; times past year 9999 cannot come
  // from a Time.
  C_CRL_FIELDS f{};
  FuzzCheck(C_GetCRLFields(crl, &f) == 0);
  const int setStatus = C_SetCRLFields(crl, &f);
  const uint32_t a = fields.signatureAlgorithm;
  if (a == C_SIG_SHA1_WITH_RSA || a == C_SIG_SHA256_WITH_RSA || a == C_SIG_SHA384_WITH_RSA ||
      a == C_SIG_SHA512_WITH_RSA) {
    FuzzCheck(setStatus == 0);
    const unsigned char* none = nullptr;
    uint32_t noneLen = 0;
    FuzzCheck(C_GetCRLDER(crl, &none, &noneLen) == C_ERR_NOTHING_TO_SIGN);
    FuzzCheck(FieldsOf(crl).entries == fields.entries);
  } else {
    FuzzCheck(setStatus == C_ERR_SIG_ALGORITHM);
    FuzzCheck(DerOf(crl) == der);
  }
  C_DestroyCRLObject(&crl);
  return 0;
}
