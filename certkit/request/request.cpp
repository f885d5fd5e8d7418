// Certificate request objects (PKCS #10, RFC 2986): reading a request into
// its fields, making the information part from fields, signing and
// verifying it through the signed-object core, and setting a certificate's
// fields from a signed request.
#include "certkit/cert/cert.h"
#include "certkit/errors.h"
#include "certkit/name/name.h"
#include "certkit/request/request.h"
#include "cryptokit/qmemory.h"

namespace ck {

namespace {

// ---------------------------------------------------------------------------
// Template.
//
//   CertificationRequest ::= SEQUENCE {
//     certificationRequestInfo  CertificationRequestInfo,
//     signatureAlgorithm        AlgorithmIdentifier,
//     signature                 BIT STRING }
//   CertificationRequestInfo ::= SEQUENCE {
//     version        INTEGER,                                   -- 0
//     subject        Name,
//     subjectPKInfo  SEQUENCE { AlgorithmIdentifier, BIT STRING },
//     attributes     [0] IMPLICIT SET OF SEQUENCE {
//                          type OBJECT IDENTIFIER, values SET OF ANY } }
//                                            -- OPTIONAL when decoding
//   AlgorithmIdentifier ::= SEQUENCE { OBJECT IDENTIFIER, ANY OPTIONAL }
//   Name ::= SEQUENCE OF SET OF SEQUENCE { OBJECT IDENTIFIER, ANY }
//
// Elements with a slot and no handler are taken whole (raw ranges). The
// attributes are taken whole too: A0 00 when there are none.

constexpr uint32_t kSlotInfo = 1;
constexpr uint32_t kSlotVersion = 2;      // uint16_t
constexpr uint32_t kSlotSubject = 3;      // ByteRange, raw
constexpr uint32_t kSlotPublicKey = 4;    // ByteRange, raw
constexpr uint32_t kSlotAttributes = 5;   // ByteRange, raw [0] element
constexpr uint32_t kSlotAlgorithm = 6;    // ByteRange, raw
constexpr uint32_t kSlotSignature = 7;    // C_BITSTRING
constexpr uint32_t kSlotCount = 8;

constexpr uint32_t kAttributesTag = 0xA0;

const AsnEntry kRequest[] = {
    {kAsnSequence, nullptr, nullptr, 0},
    {kAsnSequence, nullptr, nullptr, kSlotInfo},
    {kAsnInteger, AsnDecodeSmallInt, AsnEncodeSmallInt, kSlotVersion},
    {kAsnSequence | kAsnOf, nullptr, nullptr, kSlotSubject},
    {kAsnSet | kAsnOf, nullptr, nullptr, 0},
    {kAsnSequence, nullptr, nullptr, 0},
    {kAsnOid, nullptr, nullptr, 0},
    {kAsnAny, nullptr, nullptr, 0},
    {kAsnEnd, nullptr, nullptr, 0},
    {kAsnEnd, nullptr, nullptr, 0},
    {kAsnEnd, nullptr, nullptr, 0},
    {kAsnSequence, nullptr, nullptr, kSlotPublicKey},
    {kAsnSequence, nullptr, nullptr, 0},
    {kAsnOid, nullptr, nullptr, 0},
    {kAsnAny | kAsnOptional, nullptr, nullptr, 0},
    {kAsnEnd, nullptr, nullptr, 0},
    {kAsnBitString, nullptr, nullptr, 0},
    {kAsnEnd, nullptr, nullptr, 0},
    {kAttributesTag | kAsnTaggedBody | kAsnSetBody | kAsnOf | kAsnOptional, nullptr, nullptr, kSlotAttributes},
    {kAsnSequence, nullptr, nullptr, 0},
    {kAsnOid, nullptr, nullptr, 0},
    {kAsnSet | kAsnOf, nullptr, nullptr, 0},
    {kAsnAny, nullptr, nullptr, 0},
    {kAsnEnd, nullptr, nullptr, 0},
    {kAsnEnd, nullptr, nullptr, 0},
    {kAsnEnd, nullptr, nullptr, 0},
    {kAsnEnd, nullptr, nullptr, 0},
    {kAsnSequence, nullptr, nullptr, kSlotAlgorithm},
    {kAsnOid, nullptr, nullptr, 0},
    {kAsnAny | kAsnOptional, nullptr, nullptr, 0},
    {kAsnEnd, nullptr, nullptr, 0},
    {kAsnBitString, AsnDecodeBitString, AsnEncodeBitString, kSlotSignature},
    {kAsnEnd, nullptr, nullptr, 0},
};

const uint8_t kEmptyName[] = {0x30, 0x00};
const uint8_t kNoAttributes[] = {kAttributesTag, 0x00};

// The values of one CertificationRequestInfo, as decoded or to be encoded.
struct InfoValues {
  uint16_t version = 0;
  ByteRange subject{};
  ByteRange publicKey{};
  ByteRange attributes{};  // the whole [0] element; empty when absent
};

const AsnEntry* InfoTemplate() { return AsnFindSubTemplate(kRequest, kSlotInfo); }

int DecodeInfo(ByteRange info, InfoValues* v) {
  void* slots[kSlotCount] = {nullptr, nullptr, &v->version, &v->subject, &v->publicKey, &v->attributes,
                             nullptr, nullptr};
  uint32_t used = 0;
  int status = AsnDecode(InfoTemplate(), AsnSlots{slots, kSlotCount}, 0, info, &used);
  if (status == kAsnErrMemory) return C_ERR_ALLOC;
  return status == 0 ? 0 : C_ERR_BAD_ENCODING;
}

int EncodeInfo(InfoValues* v, uint8_t** out, uint32_t* outLen) {
  void* slots[kSlotCount] = {nullptr, nullptr, &v->version, &v->subject, &v->publicKey, &v->attributes,
                             nullptr, nullptr};
  return FromCodecCode(AsnEncode(InfoTemplate(), AsnSlots{slots, kSlotCount}, 0, out, outLen));
}

// The contents of the [0] element |element| as a DER SET OF Attribute in a
// new block (the identifier octet changed to SET's); null for no contents.
int AttributesSetFromElement(ByteRange element, uint8_t** set, uint32_t* setLen) {
  *set = nullptr;
  *setLen = 0;
  ByteRange contents{};
  if (element.len == 0 || AsnParseExpected(element, kAttributesTag, &contents) != 0) return 0;
  if (contents.len == 0) return 0;
  auto* copy = static_cast<uint8_t*>(QMem_Allocate(element.len));
  if (copy == nullptr) return C_ERR_ALLOC;
  QMem_Copy(copy, element.data, element.len);
  copy[0] = kAsnSet;
  *set = copy;
  *setLen = element.len;
  return 0;
}

// The [0] element for the attributes of |attributes| in a new block, or the
// constant A0 00 (|*owned| false) when it holds none.
int AttributesElement(const C_AttributesObj* attributes, ByteRange* element, bool* owned) {
  *owned = false;
  *element = ByteRange{kNoAttributes, sizeof kNoAttributes};
  if (attributes == nullptr || attributes->entries.count == 0 || attributes->der.len == 0) return 0;
  auto* copy = static_cast<uint8_t*>(QMem_Allocate(attributes->der.len));
  if (copy == nullptr) return C_ERR_ALLOC;
  QMem_Copy(copy, attributes->der.data, attributes->der.len);
  copy[0] = static_cast<uint8_t>(kAttributesTag);
  *element = ByteRange{copy, attributes->der.len};
  *owned = true;
  return 0;
}

void ReplacePublicKey(C_CertRequestObj* request, uint8_t* key, uint32_t keyLen) {
  QMem_SecureRelease(const_cast<unsigned char*>(request->fields.publicKey.data));
  request->fields.publicKey = C_ITEM{key, keyLen};
}

// The steps of C_SetCertRequestBER after the split: decode, check, take
// over. The fields change only once every check has passed.
int DecodeSigned(C_CertRequestObj* request) {
  InfoValues v;
  int status = DecodeInfo(request->core.tbsElement, &v);
  if (status != 0) return status;
  if (v.version != 0) return C_ERR_REQUEST_VERSION;
  status = CheckPublicKeyEncoding(v.publicKey);
  if (status != 0) return status;

  C_AttributesObj fresh{};
  uint8_t* set = nullptr;
  uint32_t setLen = 0;
  status = AttributesSetFromElement(v.attributes, &set, &setLen);
  if (status == 0 && set != nullptr) {
    status = AttributesSetFromDER(&fresh, set, setLen);
    if (status != 0 && status != C_ERR_ALLOC) status = C_ERR_REQUEST_ATTRIBUTES;
  }
  QMem_SecureRelease(set);
  uint8_t* key = nullptr;
  if (status == 0 && !CopyBlock(v.publicKey.data, v.publicKey.len, &key)) status = C_ERR_ALLOC;
  if (status == 0) {
    // Atomic: on failure the subject keeps its AVAs.
    status = ReplaceInContext(NameSetFromDER(request->fields.subject, v.subject.data, v.subject.len),
                              C_ERR_REQUEST_SUBJECT);
  }
  if (status == 0) {
    AttributesSwap(request->fields.attributes, &fresh);
    ReplacePublicKey(request, key, v.publicKey.len);
    key = nullptr;
    request->fields.version = 0;
  }
  QMem_SecureRelease(key);
  AttributesEmpty(&fresh);
  return status;
}

void ReleaseRequest(ObjectHeader* object) {
  auto* request = reinterpret_cast<C_CertRequestObj*>(object);
  CoreReleaseEncodings(&request->core);
  QMem_SecureRelease(const_cast<unsigned char*>(request->fields.publicKey.data));
  C_DestroyNameObject(&request->fields.subject);
  C_DestroyAttributesObject(&request->fields.attributes);
  QMem_Wipe(request, sizeof(C_CertRequestObj));
  QMem_SecureRelease(request);
}

const ObjectClass kRequestClass = {ReleaseRequest};

C_CertRequestObj* AsRequest(C_CERT_REQUEST_OBJ handle) {
  return HasTypeTag(handle, C_TAG_REQUEST_OBJ) ? handle : nullptr;
}

// Verifies the request's signature with its own public key; see
// C_VerifyCertRequestSignature.
int VerifyWithOwnKey(C_CertRequestObj* request, Q_SURRENDER_CTX* surrender) {
  Q_KEY_OBJ key = nullptr;
  int status = Q_CreateKeyObject(&key);
  if (status != 0) return ReplaceInContext(FromCryptoCode(status), C_ERR_ALLOC);
  Q_ITEM item{const_cast<unsigned char*>(request->fields.publicKey.data), request->fields.publicKey.len};
  status = Q_SetKeyInfo(key, QK_RSAPublicBER, &item);
  if (status != 0) {
    status = ReplaceInContext(FromCryptoCode(status), C_ERR_PUBLIC_KEY);
  } else {
    status = CoreVerify(&request->core, key, surrender);
    if (status == C_ERR_CERT_SIGNATURE) status = C_ERR_REQUEST_SIGNATURE;
  }
  Q_DestroyKeyObject(&key);
  return status;
}

}  // namespace

const AsnEntry* CertificationRequestTemplate() { return kRequest; }

}  // namespace ck

using ck::AsRequest;

extern "C" {

int C_CreateCertRequestObject(C_CERT_REQUEST_OBJ* request) {
  if (request == nullptr) return C_ERR_NOT_REQUEST_OBJ;
  *request = nullptr;
  auto* object = static_cast<C_CertRequestObj*>(QMem_Allocate(sizeof(C_CertRequestObj)));
  if (object == nullptr) return C_ERR_ALLOC;
  *object = C_CertRequestObj{};
  object->core.header = ck::ObjectHeader{&ck::kRequestClass, C_TAG_REQUEST_OBJ};
  int status = C_CreateNameObject(&object->fields.subject);
  if (status == 0) status = C_CreateAttributesObject(&object->fields.attributes);
  if (status != 0) {
    ck::ReleaseRequest(&object->core.header);
    return C_ERR_ALLOC;
  }
  *request = object;
  return 0;
}

void C_DestroyCertRequestObject(C_CERT_REQUEST_OBJ* request) {
  if (request == nullptr || AsRequest(*request) == nullptr) return;
  (*request)->core.header.cls->release(&(*request)->core.header);
  *request = nullptr;
}

int C_SetCertRequestBER(C_CERT_REQUEST_OBJ handle, const unsigned char* ber, uint32_t berLen) {
  C_CertRequestObj* request = AsRequest(handle);
  if (request == nullptr) return C_ERR_NOT_REQUEST_OBJ;
  return ck::CoreSetBER(&request->core, ck::kRequest, ber, berLen, &ck::DecodeSigned, request);
}

int C_GetCertRequestFields(C_CERT_REQUEST_OBJ handle, C_CERT_REQUEST_FIELDS* fields) {
  C_CertRequestObj* request = AsRequest(handle);
  if (request == nullptr) return C_ERR_NOT_REQUEST_OBJ;
  if (fields == nullptr) return C_ERR_NULL_REQUEST_FIELDS;
  *fields = request->fields;
  return 0;
}

int C_SetCertRequestFields(C_CERT_REQUEST_OBJ handle, const C_CERT_REQUEST_FIELDS* fields) {
  C_CertRequestObj* request = AsRequest(handle);
  if (request == nullptr) return C_ERR_NOT_REQUEST_OBJ;
  if (fields == nullptr) return C_ERR_NULL_REQUEST_FIELDS;
  const C_CERT_REQUEST_FIELDS f = *fields;
  C_CERT_REQUEST_FIELDS& own = request->fields;

  // 1. Version.
  if (f.version != 0) return C_ERR_REQUEST_VERSION;
  // The public key is checked before anything changes.
  if (f.publicKey.data == nullptr && f.publicKey.len != 0) return C_ERR_PUBLIC_KEY;
  const ck::ByteRange publicKey{f.publicKey.data, f.publicKey.len};
  int status = ck::CheckPublicKeyEncoding(publicKey);
  if (status != 0) return status;
  if (f.attributes != nullptr && f.attributes != own.attributes &&
      !ck::HasTypeTag(f.attributes, C_TAG_ATTRIBUTES_OBJ)) {
    return C_ERR_NOT_ATTRIBUTES_OBJ;
  }
  // 2. Attributes, through their DER.
  if (f.attributes == nullptr) {
    ck::AttributesEmpty(own.attributes);
  } else if (f.attributes != own.attributes) {
    status = ck::AttributesSetFromDER(own.attributes, f.attributes->der.data, f.attributes->der.len);
    if (status != 0) return status;
  }
  // 3. Subject, through its DER.
  if (f.subject != own.subject) {
    const unsigned char* der = nullptr;
    uint32_t derLen = 0;
    status = C_GetNameDER(f.subject, &der, &derLen);
    if (status != 0) return status;
    status = derLen == 0 ? C_ResetName(own.subject) : ck::NameSetFromDER(own.subject, der, derLen);
    if (status != 0) return status;
  }
  // 4. The public key, copied unless it is the object's own copy.
  if (publicKey.data != own.publicKey.data || publicKey.len != own.publicKey.len) {
    uint8_t* key = nullptr;
    status = ck::CopyBlock(publicKey.data, publicKey.len, &key) ? 0 : C_ERR_ALLOC;
    if (status != 0) return status;
    ck::ReplacePublicKey(request, key, publicKey.len);
  }
  own.version = 0;
  // 5. The information part.
  ck::InfoValues v;
  v.version = 0;
  v.publicKey = ck::ByteRange{own.publicKey.data, own.publicKey.len};
  status = C_GetNameDER(own.subject, &v.subject.data, &v.subject.len);
  if (status != 0) return status;
  if (v.subject.len == 0) v.subject = ck::ByteRange{ck::kEmptyName, sizeof ck::kEmptyName};
  bool attributesOwned = false;
  status = ck::AttributesElement(own.attributes, &v.attributes, &attributesOwned);
  if (status != 0) return status;
  uint8_t* info = nullptr;
  uint32_t infoLen = 0;
  status = ck::EncodeInfo(&v, &info, &infoLen);
  if (attributesOwned) QMem_SecureRelease(const_cast<uint8_t*>(v.attributes.data));
  if (status != 0) return status;
  // 6. The request is unsigned.
  ck::CoreTakeToBeSigned(&request->core, info, infoLen);
  return 0;
}

int C_SignCertRequest(C_CERT_REQUEST_OBJ handle, Q_KEY_OBJ privateKey, Q_ALGORITHM_OBJ random,
                      uint32_t signatureAlgorithm, unsigned char* digest, uint32_t* digestLen, uint32_t digestMax,
                      Q_SURRENDER_CTX* surrender) {
  C_CertRequestObj* request = AsRequest(handle);
  if (request == nullptr) return C_ERR_NOT_REQUEST_OBJ;
  if (privateKey == nullptr) return C_ERR_PRIVATE_KEY;
  if (digest != nullptr && digestLen == nullptr) return C_ERR_NULL_OUTPUT;
  int status = ck::CoreSign(&request->core, signatureAlgorithm, privateKey, random, surrender);
  if (status != 0 || digest == nullptr) return status;
  return ck::CoreDigest(&request->core, signatureAlgorithm, digest, digestLen, digestMax, surrender);
}

int C_GetCertRequestDER(C_CERT_REQUEST_OBJ handle, const unsigned char** der, uint32_t* derLen) {
  C_CertRequestObj* request = AsRequest(handle);
  if (request == nullptr) return C_ERR_NOT_REQUEST_OBJ;
  if (der == nullptr || derLen == nullptr) return C_ERR_NULL_OUTPUT;
  if (request->core.signedDer.data == nullptr) return C_ERR_NOT_SIGNED;
  *der = request->core.signedDer.data;
  *derLen = request->core.signedDer.len;
  return 0;
}

int C_VerifyCertRequestSignature(C_CERT_REQUEST_OBJ handle, unsigned char* digest, uint32_t* digestLen,
                                 uint32_t digestMax, Q_SURRENDER_CTX* surrender) {
  C_CertRequestObj* request = AsRequest(handle);
  if (request == nullptr) return C_ERR_NOT_REQUEST_OBJ;
  if (digest != nullptr && digestLen == nullptr) return C_ERR_NULL_OUTPUT;
  int status = ck::VerifyWithOwnKey(request, surrender);
  if (status != 0 || digest == nullptr) return status;
  return ck::CoreDigest(&request->core, 0, digest, digestLen, digestMax, surrender);
}

int C_SetCertFromRequest(C_CERT_OBJ certificate, C_ATTRIBUTES_OBJ attributes, const unsigned char* ber,
                         uint32_t berLen, unsigned char* digest, uint32_t* digestLen, Q_SURRENDER_CTX* surrender) {
  // The validity of a certificate made from a request: 365 days less one
  // second.
  constexpr uint32_t kValiditySeconds = 31535999;
  if (!ck::HasTypeTag(certificate, C_TAG_CERT_OBJ)) return C_ERR_NOT_CERT_OBJ;
  if (ber == nullptr || berLen == 0) return C_ERR_INPUT_DATA;
  if (attributes != nullptr && !ck::HasTypeTag(attributes, C_TAG_ATTRIBUTES_OBJ)) return C_ERR_NOT_ATTRIBUTES_OBJ;

  C_CERT_REQUEST_OBJ request = nullptr;
  int status = C_CreateCertRequestObject(&request);
  if (status != 0) return status;
  status = C_SetCertRequestBER(request, ber, berLen);
  if (status != 0 && status != C_ERR_ALLOC) status = C_ERR_BAD_REQUEST;
  if (status == 0) status = ck::VerifyWithOwnKey(request, surrender);

  // Self-issued: issuer and subject both the request's subject. The record
  // names a separate name object, which C_SetCertFields copies through its
  // DER, so a failure leaves the certificate as it was.
  C_CERT_FIELDS fields{};
  C_NAME_OBJ name = nullptr;
  if (status == 0) status = C_GetCertFields(certificate, &fields);
  if (status == 0) status = C_CreateNameObject(&name);
  if (status == 0) {
    const unsigned char* subject = nullptr;
    uint32_t subjectLen = 0;
    status = C_GetNameDER(request->fields.subject, &subject, &subjectLen);
    if (status == 0 && subjectLen != 0) status = C_SetNameBER(name, subject, subjectLen);
    status = ck::ReplaceInContext(status, C_ERR_SUBJECT);
  }
  if (status == 0) {
    fields.version = C_CERT_VERSION_1;
    fields.signatureAlgorithm = C_SIG_MD5_WITH_RSA;
    fields.issuer = name;
    fields.subject = name;
    fields.notBefore = QMem_Time();
    if (fields.notBefore > ck::kAsnLastTimeSecond - kValiditySeconds) {
      status = C_ERR_VALIDITY;
    } else {
      fields.notAfter = fields.notBefore + kValiditySeconds;
      fields.publicKey = request->fields.publicKey;
      status = C_SetCertFields(certificate, &fields);
    }
  }
  C_DestroyNameObject(&name);
  if (status == 0 && (digest != nullptr || digestLen != nullptr)) {
    uint8_t buffer[C_REQUEST_DIGEST_MAX];
    uint32_t length = 0;
    status = ck::CoreDigest(&request->core, 0, buffer, &length, sizeof buffer, surrender);
    if (status == 0) {
      if (digest != nullptr) QMem_Copy(digest, buffer, length);
      if (digestLen != nullptr) *digestLen = length;
    }
    QMem_Wipe(buffer, sizeof buffer);
  }
  if (status == 0 && attributes != nullptr && request->fields.attributes->entries.count != 0) {
    status = ck::AttributesSetFromDER(attributes, request->fields.attributes->der.data,
                                      request->fields.attributes->der.len);
  }
  C_DestroyCertRequestObject(&request);
  return status;
}

}  // extern "C"
