// C_SetCertRequestBER on arbitrary bytes, with C_VerifyCertRequestSignature
// and the C_GetCertRequestDER round trip.
//
// Properties:
// - every status is one the interface names;
// - a request that decodes verifies (or not) with its own key, and the
//   digest written has the length of a digest the signature algorithms use;
// - the DER that comes back decodes again to the same fields (version,
//   subject DER, public key, attributes DER), the same DER and the same
//   verification result and digest;
// - a failed set leaves the object without a signed encoding.
#include <cstdint>
#include <vector>

#include "certkit/certkit.h"
#include "fuzz_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Of(const unsigned char* data, uint32_t len) {
  FuzzCheck(data != nullptr || len == 0);
  return len == 0 ? Bytes() : Bytes(data, data + len);
}

struct Fields {
  uint32_t version;
  Bytes subject;
  Bytes publicKey;
  Bytes attributes;
  bool operator==(const Fields&) const = default;
};

Fields FieldsOf(C_CERT_REQUEST_OBJ request) {
  C_CERT_REQUEST_FIELDS f{};
  FuzzCheck(C_GetCertRequestFields(request, &f) == 0);
  FuzzCheck(f.version == 0);
  FuzzCheck(f.publicKey.len != 0);
  const unsigned char* p = nullptr;
  uint32_t n = 0;
  Fields out{f.version, {}, Of(f.publicKey.data, f.publicKey.len), {}};
  FuzzCheck(C_GetNameDER(f.subject, &p, &n) == 0);
  out.subject = Of(p, n);
  if (f.attributes != nullptr) {
    FuzzCheck(C_GetAttributesDER(f.attributes, &p, &n) == 0);
    out.attributes = Of(p, n);
  }
  return out;
}

Bytes DerOf(C_CERT_REQUEST_OBJ request) {
  const unsigned char* der = nullptr;
  uint32_t len = 0;
  FuzzCheck(C_GetCertRequestDER(request, &der, &len) == 0);
  FuzzCheck(len != 0);
  return Of(der, len);
}

bool IsSetStatus(int status) {
  switch (status) {
    case C_ERR_INPUT_DATA: case C_ERR_BAD_ENCODING: case C_ERR_REQUEST_VERSION: case C_ERR_NO_KEY_FORM:
    case C_ERR_PUBLIC_KEY: case C_ERR_REQUEST_ATTRIBUTES: case C_ERR_REQUEST_SUBJECT: case C_ERR_TRUNCATED:
    case C_ERR_DER_TOO_LONG: case C_ERR_OVERFLOW: case C_ERR_BAD_ARGUMENT:
      return true;
    default:
      return false;
  }
}

struct Verdict {
  int status;
  Bytes digest;
  bool operator==(const Verdict&) const = default;
};

Verdict Verify(C_CERT_REQUEST_OBJ request) {
  unsigned char digest[C_REQUEST_DIGEST_MAX + 8] = {};
  uint32_t digestLen = 0xFFFFFFFFu;
  Verdict v{C_VerifyCertRequestSignature(request, digest, &digestLen, C_REQUEST_DIGEST_MAX, nullptr), {}};
  FuzzCheck(v.status == 0 || v.status == C_ERR_PUBLIC_KEY || v.status == C_ERR_REQUEST_SIGNATURE ||
            v.status == C_ERR_SIG_ALGORITHM || v.status == C_ERR_NO_SIG_ALG_SOURCE || v.status == C_ERR_DIGEST);
  if (v.status == 0) {
    // MD5, SHA-1, SHA-256, SHA-384 or SHA-512.
    FuzzCheck(digestLen == 16 || digestLen == 20 || digestLen == 32 || digestLen == 48 || digestLen == 64);
    v.digest.assign(digest, digest + digestLen);
  }
  // Nothing written past the capacity.
  for (size_t i = C_REQUEST_DIGEST_MAX; i < sizeof digest; ++i) FuzzCheck(digest[i] == 0);
  // Without a digest the verdict is the same.
  FuzzCheck(C_VerifyCertRequestSignature(request, nullptr, nullptr, 0, nullptr) == v.status);
  return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 0xFFFFFFFFu) return 0;
  C_CERT_REQUEST_OBJ request = nullptr;
  FuzzCheck(C_CreateCertRequestObject(&request) == 0);
  const int status = C_SetCertRequestBER(request, data, static_cast<uint32_t>(size));
  if (status != 0) {
    FuzzCheck(IsSetStatus(status));
    const unsigned char* der = nullptr;
    uint32_t len = 0;
    FuzzCheck(C_GetCertRequestDER(request, &der, &len) == C_ERR_NOT_SIGNED);
    // A new object has no key to check with either.
    const int verify = C_VerifyCertRequestSignature(request, nullptr, nullptr, 0, nullptr);
    FuzzCheck(verify == C_ERR_NOT_SIGNED || verify == C_ERR_PUBLIC_KEY);
    C_DestroyCertRequestObject(&request);
    FuzzCheck(request == nullptr);
    return 0;
  }

  const Fields fields = FieldsOf(request);
  const Bytes der = DerOf(request);
  const Verdict verdict = Verify(request);

  C_CERT_REQUEST_OBJ again = nullptr;
  FuzzCheck(C_CreateCertRequestObject(&again) == 0);
  FuzzCheck(C_SetCertRequestBER(again, der.data(), static_cast<uint32_t>(der.size())) == 0);
  FuzzCheck(FieldsOf(again) == fields);
  FuzzCheck(DerOf(again) == der);
  FuzzCheck(Verify(again) == verdict);
  C_DestroyCertRequestObject(&again);

  FuzzCheck(DerOf(request) == der);
  C_DestroyCertRequestObject(&request);
  return 0;
}
