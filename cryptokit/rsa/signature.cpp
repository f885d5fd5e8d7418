// MD2, MD5, SHA-1, SHA-256, SHA-384 and SHA-512 with RSA: the signature
// handler, the plain signature info types and the info types read from and
// written to a DER AlgorithmIdentifier.
#include "cryptokit/der/der.h"
#include "cryptokit/digest/digest_handler.h"
#include "cryptokit/digest/digests.h"
#include "cryptokit/rsa/pkcs1.h"
#include "cryptokit/rsa/rsa_methods.h"

namespace qk {
namespace {

constexpr uint32_t kMaxDigest = kMaxDigestLength;
// Room for a DigestInfo: 64 bytes, the classic size that MD2, MD5 and SHA-1
// keep (a verified block carrying more data than that is refused with 524),
// or for the longer digests the DigestInfo's own length.
constexpr uint32_t kClassicDigestInfoRoom = 64;
constexpr uint32_t kDigestInfoBuffer = 128;  // more than any DigestInfo here (83 for SHA-512)

uint32_t DigestInfoRoom(const DigestDescriptor* d) {
  const uint32_t own = 2 + 2 + 2 + d->oidLength + 2 + 2 + d->digestLength;  // all lengths below 128
  return own > kClassicDigestInfoRoom ? own : kClassicDigestInfoRoom;
}

struct SignatureDescriptor : AlgInfoDescriptor {
  Q_INFO_TYPE digestInfoType;  // QA_MD2 ... QA_SHA512
  const unsigned char* oid;    // the signature algorithm's identifier
  uint32_t oidLength;
  const SignatureDescriptor* plain;  // for the DER forms: the plain info type
  uint32_t maxModulusBits;           // longest key the RSA methods take
};

const DigestDescriptor* DigestOf(const SignatureDescriptor* d) {
  const void* digest = nullptr;
  d->digestInfoType(&digest);
  return static_cast<const DigestDescriptor*>(digest);
}

// Writes SEQUENCE { oid, NULL } to |out| (room |capacity|).
int EncodeIdentifierWithNull(const unsigned char* oid, uint32_t oidLength, unsigned char* out, uint32_t capacity,
                             uint32_t* length) {
  der::BufferSink target{out, capacity, length};
  Q_ITEM algorithm{const_cast<unsigned char*>(oid), oidLength};
  Q_ITEM parameters{const_cast<unsigned char*>(der::kDerNull), sizeof der::kDerNull};
  return der::EncodeAlgorithmIdentifier(algorithm, parameters, der::ToBuffer(&target));
}

// Writes the DigestInfo of |digest| under the digest's identifier.
int EncodeDigestInfo(const DigestDescriptor* d, const unsigned char* digest, uint32_t digestLength,
                     unsigned char* out, uint32_t* length) {
  unsigned char algorithm[32];
  uint32_t algorithmLength = 0;
  int status = EncodeIdentifierWithNull(d->oid, d->oidLength, algorithm, sizeof algorithm, &algorithmLength);
  if (status != 0) return status;
  der::BufferSink target{out, DigestInfoRoom(d), length};
  return der::EncodeDigestInfo(Q_ITEM{algorithm, algorithmLength},
                               Q_ITEM{const_cast<unsigned char*>(digest), digestLength}, der::ToBuffer(&target));
}

// Reads an AlgorithmIdentifier that must name |oid| with NULL parameters:
// 541 for another identifier, 524 for other parameters or bad DER.
int CheckIdentifier(const unsigned char* input, uint32_t length, const unsigned char* oid, uint32_t oidLength) {
  Q_ITEM algorithm{}, parameters{};
  int status = der::DecodeAlgorithmIdentifier(input, length, &algorithm, &parameters);
  if (status != 0) return status;
  if (algorithm.len != oidLength || QMem_Compare(algorithm.data, oid, oidLength) != 0) {
    return Q_ERR_GET_ALGORITHM_INFO;
  }
  if (parameters.len != sizeof der::kDerNull || QMem_Compare(parameters.data, der::kDerNull, 2) != 0) {
    return Q_ERR_INPUT_DATA;
  }
  return 0;
}

class RsaSignatureHandler final : public SignatureHandler {
 public:
  RsaSignatureHandler(const DigestDescriptor* digest, DigestHandler* digester, CipherHandler* signer,
                      CipherHandler* verifier)
      : digest_(digest), digester_(digester), signer_(signer), verifier_(verifier) {}
  ~RsaSignatureHandler() override {
    QDelete(digester_);
    QDelete(signer_);
    QDelete(verifier_);
  }

  // The digest method first, then the RSA method of the side.
  int Init(Q_AlgorithmObj* object, Q_KeyObj* key, Q_CHOOSER chooser, bool sign,
           Q_SURRENDER_CTX* surrender) override {
    int status = digester_->Init(object, nullptr, chooser, surrender);
    if (status != 0) return status;
    return (sign ? signer_ : verifier_)->Init(object, key, chooser, sign, surrender);
  }

  int Update(const unsigned char* data, uint32_t length, Q_SURRENDER_CTX* surrender) override {
    return digester_->Update(data, length, surrender);
  }

  int SignFinal(unsigned char* signature, uint32_t* signatureLen, uint32_t signatureMax, Q_AlgorithmObj* random,
                Q_SURRENDER_CTX* surrender) override {
    unsigned char digest[kMaxDigest];
    unsigned char info[kDigestInfoBuffer];
    uint32_t digestLength = 0, infoLength = 0, none = 0;
    int status = digester_->Final(digest, &digestLength, sizeof digest, surrender);
    if (status == 0) status = EncodeDigestInfo(digest_, digest, digestLength, info, &infoLength);
    if (status == 0) status = signer_->Update(nullptr, &none, 0, info, infoLength, random, surrender);
    if (status == 0) status = signer_->Final(signature, signatureLen, signatureMax, random, surrender);
    QMem_Wipe(digest, sizeof digest);
    QMem_Wipe(info, sizeof info);
    return status;
  }

  int VerifyFinal(const unsigned char* signature, uint32_t signatureLen, Q_AlgorithmObj* random,
                  Q_SURRENDER_CTX* surrender) override {
    unsigned char digest[kMaxDigest];
    unsigned char info[kDigestInfoBuffer];
    unsigned char expected[kDigestInfoBuffer];
    uint32_t digestLength = 0, infoLength = 0, expectedLength = 0, none = 0;
    int status = digester_->Final(digest, &digestLength, sizeof digest, surrender);
    if (status == 0) status = verifier_->Update(nullptr, &none, 0, signature, signatureLen, random, surrender);
    if (status == 0) {
      status = verifier_->Final(info, &infoLength, DigestInfoRoom(digest_), random, surrender);
      if (status == Q_ERR_OUTPUT_LEN) status = Q_ERR_INPUT_DATA;
    }
    Q_ITEM algorithm{}, carried{};
    if (status == 0) status = der::DecodeDigestInfo(info, infoLength, &algorithm, &carried);
    if (status == 0 && (carried.len != digestLength || QMem_Compare(carried.data, digest, digestLength) != 0)) {
      status = Q_ERR_SIGNATURE;
    }
    if (status == 0) {
      status = CheckIdentifier(algorithm.data, algorithm.len, digest_->oid, digest_->oidLength);
      if (status == Q_ERR_GET_ALGORITHM_INFO) status = Q_ERR_SIGNATURE;
    }
    // The block must hold exactly the DER of that DigestInfo and nothing else:
    // a verifier that tolerated other encodings would let signatures be forged
    // for small public exponents.
    if (status == 0) status = EncodeDigestInfo(digest_, digest, digestLength, expected, &expectedLength);
    if (status == 0 && (expectedLength != infoLength || QMem_Compare(expected, info, infoLength) != 0)) {
      status = Q_ERR_SIGNATURE;
    }
    QMem_Wipe(digest, sizeof digest);
    QMem_Wipe(info, sizeof info);
    QMem_Wipe(expected, sizeof expected);
    return status;
  }

 private:
  const DigestDescriptor* digest_;
  DigestHandler* digester_;
  CipherHandler* signer_;
  CipherHandler* verifier_;
};

Handler* CreateSignatureHandler(const AlgInfoDescriptor* self, Q_AlgorithmObj*) {
  const DigestDescriptor* digest = DigestOf(static_cast<const SignatureDescriptor*>(self));
  DigestHandler* digester = CreateDigestHandler(digest->type);
  const uint32_t maxBits = static_cast<const SignatureDescriptor*>(self)->maxModulusBits;
  CipherHandler* signer = CreatePkcs1Handler(Pkcs1Side::Private, maxBits);
  CipherHandler* verifier = CreatePkcs1Handler(Pkcs1Side::Public, maxBits);
  RsaSignatureHandler* handler = nullptr;
  if (digester != nullptr && signer != nullptr && verifier != nullptr) {
    handler = QNew<RsaSignatureHandler>(digest, digester, signer, verifier);
  }
  if (handler == nullptr) {
    QDelete(digester);
    QDelete(signer);
    QDelete(verifier);
  }
  return handler;
}

// Setting a DER form: the identifier must be this info type's, with NULL
// parameters; the object is then set as with the plain info type.
int SetFromDer(const AlgInfoDescriptor* self, Q_AlgorithmObj* object, const void* info) {
  const auto* d = static_cast<const SignatureDescriptor*>(self);
  const auto* der = static_cast<const Q_ITEM*>(info);
  if (der == nullptr || (der->data == nullptr && der->len != 0)) return Q_ERR_INPUT_DATA;
  int status = CheckIdentifier(der->data, der->len, d->oid, d->oidLength);
  if (status != 0) return status;
  return d->plain->ops->setInfo(d->plain, object, nullptr);
}

// Getting a DER form from an object set with the matching plain info type.
int GetAsDer(const AlgInfoDescriptor* self, void** info, Q_AlgorithmObj* object) {
  const auto* d = static_cast<const SignatureDescriptor*>(self);
  if (object->infos.count == 0 || object->infos.pairs[0].descriptor != d->plain) return Q_ERR_GET_ALGORITHM_INFO;
  auto* item = static_cast<Q_ITEM*>(OwnedAllocate(&object->memory, sizeof(Q_ITEM)));
  if (item == nullptr) return Q_ERR_ALLOC;
  der::OwnedSink target{&object->memory, item};
  Q_ITEM algorithm{const_cast<unsigned char*>(d->oid), d->oidLength};
  Q_ITEM parameters{const_cast<unsigned char*>(der::kDerNull), sizeof der::kDerNull};
  int status = der::EncodeAlgorithmIdentifier(algorithm, parameters, der::ToOwnedBlock(&target));
  if (status != 0) return status;
  *info = item;
  return 0;
}

const AlgInfoOps kPlainOps{SetInfoNoParameters, CreateSignatureHandler, nullptr};
const AlgInfoOps kDerOps{SetFromDer, CreateSignatureHandler, GetAsDer};

const unsigned char kMd2WithRsa[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x02};
const unsigned char kMd5WithRsa[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x04};
const unsigned char kSha1WithRsa[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x05};
// sha256WithRSAEncryption, sha384WithRSAEncryption, sha512WithRSAEncryption:
// 1.2.840.113549.1.1.11 to .13 (RFC 8017, appendix C).
const unsigned char kSha256WithRsa[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x0B};
const unsigned char kSha384WithRsa[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x0C};
const unsigned char kSha512WithRsa[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x0D};

// MD2, MD5 and SHA-1 keep the classic limit of 2048-bit keys; the SHA-2
// signatures take keys up to 4096 bits.
constexpr uint32_t kClassic = kClassicMaxModulusBits;
constexpr uint32_t kModern = kModernMaxModulusBits;
const SignatureDescriptor kMd2Plain{{&kPlainOps}, QA_MD2, kMd2WithRsa, sizeof kMd2WithRsa, nullptr, kClassic};
const SignatureDescriptor kMd5Plain{{&kPlainOps}, QA_MD5, kMd5WithRsa, sizeof kMd5WithRsa, nullptr, kClassic};
const SignatureDescriptor kSha1Plain{{&kPlainOps}, QA_SHA1, kSha1WithRsa, sizeof kSha1WithRsa, nullptr, kClassic};
const SignatureDescriptor kMd2Der{{&kDerOps}, QA_MD2, kMd2WithRsa, sizeof kMd2WithRsa, &kMd2Plain, kClassic};
const SignatureDescriptor kMd5Der{{&kDerOps}, QA_MD5, kMd5WithRsa, sizeof kMd5WithRsa, &kMd5Plain, kClassic};
const SignatureDescriptor kSha1Der{{&kDerOps}, QA_SHA1, kSha1WithRsa, sizeof kSha1WithRsa, &kSha1Plain, kClassic};
const SignatureDescriptor kSha256Plain{{&kPlainOps}, QA_SHA256, kSha256WithRsa, sizeof kSha256WithRsa, nullptr,
                                       kModern};
const SignatureDescriptor kSha384Plain{{&kPlainOps}, QA_SHA384, kSha384WithRsa, sizeof kSha384WithRsa, nullptr,
                                       kModern};
const SignatureDescriptor kSha512Plain{{&kPlainOps}, QA_SHA512, kSha512WithRsa, sizeof kSha512WithRsa, nullptr,
                                       kModern};
const SignatureDescriptor kSha256Der{{&kDerOps}, QA_SHA256, kSha256WithRsa, sizeof kSha256WithRsa, &kSha256Plain,
                                     kModern};
const SignatureDescriptor kSha384Der{{&kDerOps}, QA_SHA384, kSha384WithRsa, sizeof kSha384WithRsa, &kSha384Plain,
                                     kModern};
const SignatureDescriptor kSha512Der{{&kDerOps}, QA_SHA512, kSha512WithRsa, sizeof kSha512WithRsa, &kSha512Plain,
                                     kModern};

int Describe(const void** descriptor, const SignatureDescriptor& d) {
  *descriptor = &d;
  return 0;
}

}  // namespace
}  // namespace qk

extern "C" {

int QA_MD2WithRSA(const void** d) { return qk::Describe(d, qk::kMd2Plain); }
int QA_MD5WithRSA(const void** d) { return qk::Describe(d, qk::kMd5Plain); }
int QA_SHA1WithRSA(const void** d) { return qk::Describe(d, qk::kSha1Plain); }
int QA_MD2WithRSABER(const void** d) { return qk::Describe(d, qk::kMd2Der); }
int QA_MD5WithRSABER(const void** d) { return qk::Describe(d, qk::kMd5Der); }
int QA_SHA1WithRSABER(const void** d) { return qk::Describe(d, qk::kSha1Der); }
int QA_SHA256WithRSA(const void** d) { return qk::Describe(d, qk::kSha256Plain); }
int QA_SHA384WithRSA(const void** d) { return qk::Describe(d, qk::kSha384Plain); }
int QA_SHA512WithRSA(const void** d) { return qk::Describe(d, qk::kSha512Plain); }
int QA_SHA256WithRSABER(const void** d) { return qk::Describe(d, qk::kSha256Der); }
int QA_SHA384WithRSABER(const void** d) { return qk::Describe(d, qk::kSha384Der); }
int QA_SHA512WithRSABER(const void** d) { return qk::Describe(d, qk::kSha512Der); }

}  // extern "C"
