// Certificate objects (X.509 versions 1 to 3, RFC 5280 4.1): reading a
// certificate into its fields, making the to-be-signed part from fields,
// and signing and verifying through the signed-object core.
#include "certkit/cert/cert.h"

#include "certkit/errors.h"
#include "certkit/ext/der_walk.h"
#include "certkit/ext/extensions.h"
#include "certkit/name/name.h"
#include "cryptokit/qmemory.h"

namespace ck {

namespace {

// ---------------------------------------------------------------------------
// Template.
//
//   Certificate ::= SEQUENCE {
//     tbsCertificate       TBSCertificate,
//     signatureAlgorithm   AlgorithmIdentifier,
//     signatureValue       BIT STRING }
//   TBSCertificate ::= SEQUENCE {
//     version          [0] EXPLICIT INTEGER OPTIONAL,     -- absent for version 1
//     serialNumber         INTEGER,
//     signature            AlgorithmIdentifier,
//     issuer               Name,
//     validity             SEQUENCE { notBefore Time, notAfter Time },
//     subject              Name,
//     subjectPublicKeyInfo SEQUENCE { AlgorithmIdentifier, BIT STRING },
//     issuerUniqueID   [1] IMPLICIT BIT STRING OPTIONAL,
//     subjectUniqueID  [2] IMPLICIT BIT STRING OPTIONAL,
//     extensions       [3] EXPLICIT SEQUENCE OF SEQUENCE {
//                            OBJECT IDENTIFIER, BOOLEAN OPTIONAL, OCTET STRING } OPTIONAL }
//   AlgorithmIdentifier ::= SEQUENCE { OBJECT IDENTIFIER, ANY OPTIONAL }
//   Name ::= SEQUENCE OF SET OF SEQUENCE { OBJECT IDENTIFIER, ANY }
//   Time ::= CHOICE { utcTime UTCTime, generalTime GeneralizedTime }
//
// The codec has no CHOICE entry: each Time is an ANY whose handlers take
// either alternative and write UTCTime through 2049, GeneralizedTime from
// 2050 on (RFC 5280 4.1.2.5). Elements with a slot and no handler are taken
// whole (raw ranges).

constexpr uint32_t kSlotTbs = 1;
constexpr uint32_t kSlotVersion = 2;        // uint16_t
constexpr uint32_t kSlotSerial = 3;         // ByteRange, magnitude
constexpr uint32_t kSlotSignature = 4;      // ByteRange, raw
constexpr uint32_t kSlotIssuer = 5;         // ByteRange, raw
constexpr uint32_t kSlotNotBefore = 6;      // int64_t
constexpr uint32_t kSlotNotAfter = 7;       // int64_t
constexpr uint32_t kSlotSubject = 8;        // ByteRange, raw
constexpr uint32_t kSlotPublicKey = 9;      // ByteRange, raw
constexpr uint32_t kSlotIssuerUid = 10;     // C_BITSTRING
constexpr uint32_t kSlotSubjectUid = 11;    // C_BITSTRING
constexpr uint32_t kSlotExtensions = 12;    // ByteRange, raw SEQUENCE inside [3]
constexpr uint32_t kSlotOuterAlgorithm = 13;  // ByteRange, raw
constexpr uint32_t kSlotSignatureValue = 14;  // C_BITSTRING
constexpr uint32_t kSlotCount = 15;

const AsnEntry kCertificate[] = {
    {kAsnSequence, nullptr, nullptr, 0},
    {kAsnSequence, nullptr, nullptr, kSlotTbs},
    {0xA0 | kAsnOptional, nullptr, nullptr, 0},
    {kAsnInteger, AsnDecodeSmallInt, AsnEncodeSmallInt, kSlotVersion},
    {kAsnInteger, AsnDecodeBigUnsigned, AsnEncodeBigUnsigned, kSlotSerial},
    {kAsnSequence, nullptr, nullptr, kSlotSignature},
    {kAsnOid, nullptr, nullptr, 0},
    {kAsnAny | kAsnOptional, nullptr, nullptr, 0},
    {kAsnEnd, nullptr, nullptr, 0},
    {kAsnSequence | kAsnOf, nullptr, nullptr, kSlotIssuer},
    {kAsnSet | kAsnOf, nullptr, nullptr, 0},
    {kAsnSequence, nullptr, nullptr, 0},
    {kAsnOid, nullptr, nullptr, 0},
    {kAsnAny, nullptr, nullptr, 0},
    {kAsnEnd, nullptr, nullptr, 0},
    {kAsnEnd, nullptr, nullptr, 0},
    {kAsnEnd, nullptr, nullptr, 0},
    {kAsnSequence, nullptr, nullptr, 0},
    {kAsnAny, AsnDecodeTime, AsnEncodeTime, kSlotNotBefore},
    {kAsnAny, AsnDecodeTime, AsnEncodeTime, kSlotNotAfter},
    {kAsnEnd, nullptr, nullptr, 0},
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
    {0x81 | kAsnOptional, AsnDecodeBitString, AsnEncodeBitString, kSlotIssuerUid},
    {0x82 | kAsnOptional, AsnDecodeBitString, AsnEncodeBitString, kSlotSubjectUid},
    {0xA3 | kAsnOptional, nullptr, nullptr, 0},
    {kAsnSequence | kAsnOf, nullptr, nullptr, kSlotExtensions},
    {kAsnSequence, nullptr, nullptr, 0},
    {kAsnOid, nullptr, nullptr, 0},
    {kAsnBoolean | kAsnOptional, nullptr, nullptr, 0},
    {kAsnOctetString, nullptr, nullptr, 0},
    {kAsnEnd, nullptr, nullptr, 0},
    {kAsnEnd, nullptr, nullptr, 0},
    {kAsnEnd, nullptr, nullptr, 0},
    {kAsnSequence, nullptr, nullptr, kSlotOuterAlgorithm},
    {kAsnOid, nullptr, nullptr, 0},
    {kAsnAny | kAsnOptional, nullptr, nullptr, 0},
    {kAsnEnd, nullptr, nullptr, 0},
    {kAsnBitString, AsnDecodeBitString, AsnEncodeBitString, kSlotSignatureValue},
    {kAsnEnd, nullptr, nullptr, 0},
};

const uint8_t kEmptyName[] = {0x30, 0x00};

// The values of one TBSCertificate, as decoded or to be encoded.
struct TbsValues {
  uint16_t version = 0;
  ByteRange serial{};
  ByteRange signature{};
  ByteRange issuer{};
  int64_t notBefore = 0;
  int64_t notAfter = 0;
  ByteRange subject{};
  ByteRange publicKey{};
  C_BITSTRING issuerUid{};
  C_BITSTRING subjectUid{};
  ByteRange extensions{};
};

const AsnEntry* TbsTemplate() { return AsnFindSubTemplate(kCertificate, kSlotTbs); }

int DecodeTbs(ByteRange tbs, TbsValues* v) {
  void* slots[kSlotCount] = {nullptr, nullptr, &v->version, &v->serial, &v->signature, &v->issuer,
                             &v->notBefore, &v->notAfter, &v->subject, &v->publicKey, &v->issuerUid,
                             &v->subjectUid, &v->extensions, nullptr, nullptr};
  uint32_t used = 0;
  return FromCodecCode(AsnDecode(TbsTemplate(), AsnSlots{slots, kSlotCount}, 0, tbs, &used));
}

int EncodeTbs(TbsValues* v, uint8_t** out, uint32_t* outLen) {
  void* version = v->version == 0 ? AsnAbsent() : &v->version;
  void* extensions = v->extensions.len == 0 ? AsnAbsent() : &v->extensions;
  void* slots[kSlotCount] = {nullptr, nullptr, version, &v->serial, &v->signature, &v->issuer,
                             &v->notBefore, &v->notAfter, &v->subject, &v->publicKey, &v->issuerUid,
                             &v->subjectUid, extensions, nullptr, nullptr};
  return FromCodecCode(AsnEncode(TbsTemplate(), AsnSlots{slots, kSlotCount}, 0, out, outLen));
}

// ---------------------------------------------------------------------------
// Owned pieces of the fields record, prepared before anything changes so
// that committing them cannot fail.

struct Prepared {
  uint8_t* serial = nullptr;
  uint32_t serialLen = 0;
  uint8_t* publicKey = nullptr;
  uint32_t publicKeyLen = 0;
  C_BITSTRING issuerUid{};
  C_BITSTRING subjectUid{};
  C_NAME_OBJ issuer = nullptr;        // replaces the own issuer's contents when set
  C_NAME_OBJ subject = nullptr;
  C_EXTENSIONS_OBJ extensions = nullptr;  // replaces the own extensions' contents when set
};

void ReleaseBits(C_BITSTRING* bits) {
  QMem_SecureRelease(const_cast<unsigned char*>(bits->data));
  *bits = C_BITSTRING{nullptr, 0, 0};
}

void ReleasePrepared(Prepared* p) {
  QMem_SecureRelease(p->serial);
  QMem_SecureRelease(p->publicKey);
  ReleaseBits(&p->issuerUid);
  ReleaseBits(&p->subjectUid);
  C_DestroyNameObject(&p->issuer);
  C_DestroyNameObject(&p->subject);
  C_DestroyExtensionsObject(&p->extensions);
  *p = Prepared{};
}

int CopyBytesAndBits(Prepared* p, ByteRange serial, ByteRange publicKey, const C_BITSTRING& issuerUid,
                     const C_BITSTRING& subjectUid) {
  uint8_t* issuerBits = nullptr;
  uint8_t* subjectBits = nullptr;
  bool ok = CopyBlock(serial.data, serial.len, &p->serial) && CopyBlock(publicKey.data, publicKey.len, &p->publicKey) &&
            CopyBlock(issuerUid.data, issuerUid.len, &issuerBits) &&
            CopyBlock(subjectUid.data, subjectUid.len, &subjectBits);
  p->serialLen = serial.len;
  p->publicKeyLen = publicKey.len;
  p->issuerUid = C_BITSTRING{issuerBits, issuerBits != nullptr ? issuerUid.len : 0,
                             issuerBits != nullptr ? issuerUid.unusedBits : 0};
  p->subjectUid = C_BITSTRING{subjectBits, subjectBits != nullptr ? subjectUid.len : 0,
                              subjectBits != nullptr ? subjectUid.unusedBits : 0};
  return ok ? 0 : C_ERR_ALLOC;
}

// A name decoded from |der| into a new name object; an empty Name is
// allowed only when |emptyAllowed|. Failures other than memory are
// |contextCode|.
int PrepareName(ByteRange der, bool emptyAllowed, int contextCode, C_NAME_OBJ* out, bool forDisplay = false) {
  int status = C_CreateNameObject(out);
  if (status != 0) return status;
  status = ReplaceInContext(NameSetFromDER(*out, der.data, der.len, forDisplay), contextCode);
  if (status == 0 && (*out)->avas.count == 0 && !emptyAllowed) status = contextCode;
  return status;
}

// Extensions decoded from |der| (none when empty) into a new extensions
// object bound to |registry|; the codes 1850, 1852, 1859 and memory pass,
// every other failure is 1834.
int PrepareExtensions(ByteRange der, C_EXT_REGISTRY registry, C_EXTENSIONS_OBJ* out, bool forDisplay = false) {
  int status = C_CreateExtensionsObject(out, C_EXT_KIND_CERT, registry);
  if (status != 0) return status == C_ERR_ALLOC ? status : C_ERR_EXTENSIONS;
  if (der.len == 0) return 0;
  (*out)->lenient = forDisplay ? 1 : 0;
  status = C_SetExtensionsDER(*out, der.data, der.len);
  (*out)->lenient = 0;
  if (status == 0 || status == C_ERR_ALLOC || status == C_ERR_EXT_NOT_CRITICAL ||
      status == C_ERR_EXT_UNHANDLED_CRITICAL || status == C_ERR_EXT_CRITICALITY) {
    return status;
  }
  return C_ERR_EXTENSIONS;
}

void SwapNames(C_NameObj* a, C_NameObj* b) {
  C_NameObj saved = *a;
  a->der = b->der;
  a->stale = b->stale;
  a->avas = b->avas;
  a->extraOids = b->extraOids;
  b->der = saved.der;
  b->stale = saved.stale;
  b->avas = saved.avas;
  b->extraOids = saved.extraOids;
}

// Makes the prepared pieces the object's; the old ones end in |p| and are
// released with it.
void Commit(C_CertObj* cert, Prepared* p) {
  C_CERT_FIELDS& f = cert->fields;
  uint8_t* oldSerial = const_cast<uint8_t*>(f.serialNumber.data);
  uint8_t* oldKey = const_cast<uint8_t*>(f.publicKey.data);
  f.serialNumber = C_ITEM{p->serial, p->serialLen};
  f.publicKey = C_ITEM{p->publicKey, p->publicKeyLen};
  p->serial = oldSerial;
  p->publicKey = oldKey;
  C_BITSTRING oldIssuerUid = f.issuerUniqueID;
  C_BITSTRING oldSubjectUid = f.subjectUniqueID;
  f.issuerUniqueID = p->issuerUid;
  f.subjectUniqueID = p->subjectUid;
  p->issuerUid = oldIssuerUid;
  p->subjectUid = oldSubjectUid;
  if (p->issuer != nullptr) SwapNames(f.issuer, p->issuer);
  if (p->subject != nullptr) SwapNames(f.subject, p->subject);
  if (p->extensions != nullptr) SwapExtensionContents(f.extensions, p->extensions);
}

// The steps of C_SetCertBER after the split: decode, check, take over.
int DecodeSigned(C_CertObj* cert) {
  TbsValues v;
  int status = DecodeTbs(cert->core.tbsElement, &v);
  if (status != 0) return status;
  if (v.version > C_CERT_VERSION_3) return C_ERR_VERSION;
  if (v.notAfter < v.notBefore) return C_ERR_VALIDITY;
  const ByteRange outer = cert->core.algorithmElement;
  if (v.signature.len != outer.len || QMem_Compare(v.signature.data, outer.data, outer.len) != 0) {
    return C_ERR_BAD_ENCODING;
  }
  const bool forDisplay = cert->forDisplay != 0;
  const SignatureRow* row = nullptr;
  status = RowFromAlgorithmIdentifier(outer, &row);
  // Read for display, an algorithm outside the table is kept as its
  // identifier (the signed encoding holds it) and a key the crypto toolkit
  // does not take is kept as its encoding.
  if (status == C_ERR_NO_SIG_ALG_ROW && forDisplay) status = 0;
  if (status != 0) return status == C_ERR_NO_SIG_ALG_ROW ? C_ERR_SIG_ALGORITHM : status;
  status = CheckPublicKeyEncoding(v.publicKey);
  if (status != 0 && status != C_ERR_ALLOC && forDisplay) status = 0;
  if (status != 0) return status;

  Prepared p;
  const bool emptyAllowed = v.version == C_CERT_VERSION_3 || forDisplay;
  status = PrepareName(v.issuer, emptyAllowed, C_ERR_ISSUER, &p.issuer, forDisplay);
  if (status == 0) status = PrepareName(v.subject, emptyAllowed, C_ERR_SUBJECT, &p.subject, forDisplay);
  if (status == 0 && v.version == C_CERT_VERSION_1 && (v.issuerUid.len != 0 || v.subjectUid.len != 0 ||
                                                        v.issuerUid.unusedBits != 0 || v.subjectUid.unusedBits != 0)) {
    status = C_ERR_VERSION;
  }
  // The element holds at least its unused-bits octet even when empty, so
  // presence is told by the range, not by the byte count.
  if (status == 0 && v.extensions.len != 0 && v.version != C_CERT_VERSION_3) status = C_ERR_VERSION;
  if (status == 0) status = PrepareExtensions(v.extensions, cert->registry, &p.extensions, forDisplay);
  if (status == 0) status = CopyBytesAndBits(&p, v.serial, v.publicKey, v.issuerUid, v.subjectUid);
  if (status == 0) {
    Commit(cert, &p);
    cert->fields.version = v.version;
    cert->fields.signatureAlgorithm = row != nullptr ? row->identifier : C_SIG_OPAQUE;
    cert->fields.notBefore = v.notBefore;
    cert->fields.notAfter = v.notAfter;
  }
  ReleasePrepared(&p);
  return status;
}

void ReleaseCert(ObjectHeader* object) {
  auto* cert = reinterpret_cast<C_CertObj*>(object);
  CoreReleaseEncodings(&cert->core);
  C_CERT_FIELDS& f = cert->fields;
  QMem_SecureRelease(const_cast<unsigned char*>(f.serialNumber.data));
  QMem_SecureRelease(const_cast<unsigned char*>(f.publicKey.data));
  ReleaseBits(&f.issuerUniqueID);
  ReleaseBits(&f.subjectUniqueID);
  C_DestroyNameObject(&f.issuer);
  C_DestroyNameObject(&f.subject);
  C_DestroyExtensionsObject(&f.extensions);
  QMem_Wipe(cert, sizeof(C_CertObj));
  QMem_SecureRelease(cert);
}

const ObjectClass kCertClass = {ReleaseCert};

C_CertObj* AsCert(C_CERT_OBJ handle) { return HasTypeTag(handle, C_TAG_CERT_OBJ) ? handle : nullptr; }

// The DER of a record's name: an empty name is 30 00 when allowed, else
// |contextCode|; a handle that is not a name is |contextCode|.
int NameDer(C_NAME_OBJ name, bool emptyAllowed, int contextCode, ByteRange* der) {
  const unsigned char* data = nullptr;
  uint32_t len = 0;
  int status = C_GetNameDER(name, &data, &len);
  if (status != 0) return ReplaceInContext(status, contextCode);
  if (len == 0) {
    if (!emptyAllowed) return contextCode;
    *der = ByteRange{kEmptyName, sizeof kEmptyName};
    return 0;
  }
  *der = ByteRange{data, len};
  return 0;
}

bool HasBits(const C_BITSTRING& bits) { return bits.len != 0; }

}  // namespace

const AsnEntry* CertificateTemplate() { return kCertificate; }

}  // namespace ck

using ck::AsCert;

extern "C" {

int C_CreateCertObject(C_CERT_OBJ* certificate, C_EXT_REGISTRY registry) {
  if (certificate == nullptr) return C_ERR_NOT_CERT_OBJ;
  *certificate = nullptr;
  if (registry != nullptr && !ck::HasTypeTag(registry, C_TAG_EXT_REGISTRY)) return C_ERR_NOT_EXT_REGISTRY;
  auto* cert = static_cast<C_CertObj*>(QMem_Allocate(sizeof(C_CertObj)));
  if (cert == nullptr) return C_ERR_ALLOC;
  *cert = C_CertObj{};
  cert->core.header = ck::ObjectHeader{&ck::kCertClass, C_TAG_CERT_OBJ};
  cert->registry = registry;
  cert->fields.version = C_CERT_VERSION_3;
  int status = C_CreateNameObject(&cert->fields.issuer);
  if (status == 0) status = C_CreateNameObject(&cert->fields.subject);
  if (status == 0) status = C_CreateExtensionsObject(&cert->fields.extensions, C_EXT_KIND_CERT, registry);
  if (status != 0) {
    ck::ReleaseCert(&cert->core.header);
    return C_ERR_ALLOC;
  }
  *certificate = cert;
  return 0;
}

void C_DestroyCertObject(C_CERT_OBJ* certificate) {
  if (certificate == nullptr || AsCert(*certificate) == nullptr) return;
  (*certificate)->core.header.cls->release(&(*certificate)->core.header);
  *certificate = nullptr;
}

int C_SetCertBER(C_CERT_OBJ handle, const unsigned char* ber, uint32_t berLen) {
  C_CertObj* cert = AsCert(handle);
  if (cert == nullptr) return C_ERR_NOT_CERT_OBJ;
  return ck::CoreSetBER(&cert->core, ck::kCertificate, ber, berLen, &ck::DecodeSigned, cert);
}

int C_SetCertBERForDisplay(C_CERT_OBJ handle, const unsigned char* ber, uint32_t berLen) {
  C_CertObj* cert = AsCert(handle);
  if (cert == nullptr) return C_ERR_NOT_CERT_OBJ;
  cert->forDisplay = 1;
  int status = ck::CoreSetBER(&cert->core, ck::kCertificate, ber, berLen, &ck::DecodeSigned, cert);
  cert->forDisplay = 0;
  return status;
}

int C_GetCertSignatureAlgorithmOID(C_CERT_OBJ handle, C_ITEM* oid) {
  C_CertObj* cert = AsCert(handle);
  if (cert == nullptr) return C_ERR_NOT_CERT_OBJ;
  if (oid == nullptr) return C_ERR_NULL_OUTPUT;
  *oid = C_ITEM{nullptr, 0};
  if (cert->core.signedDer.data == nullptr || ck::CoreSplit(&cert->core) != 0) return C_ERR_NOT_SIGNED;
  ck::DerWalk walk{};
  ck::AsnHeader h;
  const ck::ByteRange element = cert->core.algorithmElement;
  if (!ck::DerWhole(element.data, element.len, ck::kAsnSequence, &walk) || !walk.Next(&h) || h.ident != ck::kAsnOid) {
    return C_ERR_BAD_ENCODING;
  }
  *oid = C_ITEM{h.content, h.contentLen};
  return 0;
}

int C_GetCertFields(C_CERT_OBJ handle, C_CERT_FIELDS* fields) {
  C_CertObj* cert = AsCert(handle);
  if (cert == nullptr) return C_ERR_NOT_CERT_OBJ;
  if (fields == nullptr) return C_ERR_NULL_OUTPUT;
  *fields = cert->fields;
  return 0;
}

int C_SetCertFields(C_CERT_OBJ handle, const C_CERT_FIELDS* fields) {
  C_CertObj* cert = AsCert(handle);
  if (cert == nullptr) return C_ERR_NOT_CERT_OBJ;
  if (fields == nullptr) return C_ERR_NULL_CERT_FIELDS;
  const C_CERT_FIELDS& f = *fields;

  // 1. Version, and what it allows.
  if (f.version > C_CERT_VERSION_3) return C_ERR_VERSION;
  if (f.version == C_CERT_VERSION_1 && (ck::HasBits(f.issuerUniqueID) || ck::HasBits(f.subjectUniqueID))) {
    return C_ERR_VERSION;
  }
  C_ExtensionsObj* extensions = nullptr;
  if (f.extensions != nullptr) {
    if (!ck::HasTypeTag(f.extensions, C_TAG_EXTENSIONS_OBJ)) return C_ERR_EXTENSIONS;
    extensions = f.extensions;
  }
  if (extensions != nullptr && extensions->entries.count != 0 && f.version != C_CERT_VERSION_3) {
    return C_ERR_VERSION;
  }
  ck::ByteRange extensionsDer{};
  if (extensions != nullptr && f.version == C_CERT_VERSION_3) {
    int status = C_GetExtensionsDER(extensions, &extensionsDer.data, &extensionsDer.len);
    if (status != 0) return ck::ReplaceInContext(status, C_ERR_EXTENSIONS);
  }
  // 2. Serial number without leading zero octets (one octet stays).
  if ((f.serialNumber.data == nullptr && f.serialNumber.len != 0) ||
      (f.publicKey.data == nullptr && f.publicKey.len != 0)) {
    return C_ERR_BAD_ARGUMENT;
  }
  ck::ByteRange serial{f.serialNumber.data, f.serialNumber.len};
  while (serial.len > 1 && serial.data[0] == 0) {
    ++serial.data;
    --serial.len;
  }
  // 3. Validity.
  if (f.notBefore >= f.notAfter) return C_ERR_VALIDITY;
  // 4. Signature algorithm.
  const ck::SignatureRow* row = ck::FindSignatureRow(f.signatureAlgorithm);
  if (row == nullptr) return C_ERR_SIG_ALGORITHM;
  uint8_t* algorithm = nullptr;
  uint32_t algorithmLen = 0;
  int status = ck::AlgorithmIdentifierOf(row, &algorithm, &algorithmLen);
  if (status != 0) return status;
  // 5. Names; 6. public key; 7. the to-be-signed part.
  const bool emptyAllowed = f.version == C_CERT_VERSION_3;
  ck::TbsValues v;
  v.version = static_cast<uint16_t>(f.version);
  v.serial = serial;
  v.signature = ck::ByteRange{algorithm, algorithmLen};
  v.notBefore = f.notBefore;
  v.notAfter = f.notAfter;
  v.publicKey = ck::ByteRange{f.publicKey.data, f.publicKey.len};
  v.issuerUid = f.issuerUniqueID;
  v.subjectUid = f.subjectUniqueID;
  v.extensions = extensionsDer;
  status = ck::NameDer(f.issuer, emptyAllowed, C_ERR_ISSUER, &v.issuer);
  if (status == 0) status = ck::NameDer(f.subject, emptyAllowed, C_ERR_SUBJECT, &v.subject);
  if (status == 0) status = ck::CheckPublicKeyEncoding(v.publicKey);
  uint8_t* tbs = nullptr;
  uint32_t tbsLen = 0;
  if (status == 0) status = ck::EncodeTbs(&v, &tbs, &tbsLen);
  // 8. Everything the object takes over, prepared first.
  ck::Prepared p;
  if (status == 0) status = ck::CopyBytesAndBits(&p, serial, v.publicKey, f.issuerUniqueID, f.subjectUniqueID);
  if (status == 0 && f.issuer != cert->fields.issuer) {
    status = ck::PrepareName(v.issuer, true, C_ERR_ISSUER, &p.issuer);
  }
  if (status == 0 && f.subject != cert->fields.subject) {
    status = ck::PrepareName(v.subject, true, C_ERR_SUBJECT, &p.subject);
  }
  if (status == 0 && f.extensions != cert->fields.extensions) {
    // The object's extensions follow what the to-be-signed part holds; a
    // record without extensions empties them.
    status = ck::PrepareExtensions(extensionsDer, cert->registry, &p.extensions);
    if (status != 0 && status != C_ERR_ALLOC) status = C_ERR_EXTENSIONS;
  }
  QMem_SecureRelease(algorithm);
  if (status != 0) {
    QMem_SecureRelease(tbs);
    ck::ReleasePrepared(&p);
    return status;
  }
  ck::Commit(cert, &p);
  ck::ReleasePrepared(&p);
  cert->fields.version = f.version;
  cert->fields.signatureAlgorithm = row->identifier;
  cert->fields.notBefore = f.notBefore;
  cert->fields.notAfter = f.notAfter;
  // 9. The new to-be-signed part; the certificate is unsigned.
  ck::CoreTakeToBeSigned(&cert->core, tbs, tbsLen);
  return 0;
}

int C_GetCertDER(C_CERT_OBJ handle, const unsigned char** der, uint32_t* derLen) {
  C_CertObj* cert = AsCert(handle);
  if (cert == nullptr) return C_ERR_NOT_CERT_OBJ;
  if (der == nullptr || derLen == nullptr) return C_ERR_NULL_OUTPUT;
  if (cert->core.signedDer.data == nullptr) return C_ERR_NOTHING_TO_SIGN;
  *der = cert->core.signedDer.data;
  *derLen = cert->core.signedDer.len;
  return 0;
}

int C_SignCert(C_CERT_OBJ handle, Q_KEY_OBJ privateKey, Q_ALGORITHM_OBJ random, Q_SURRENDER_CTX* surrender) {
  C_CertObj* cert = AsCert(handle);
  if (cert == nullptr) return C_ERR_NOT_CERT_OBJ;
  if (privateKey == nullptr) return C_ERR_PRIVATE_KEY;
  return ck::CoreSign(&cert->core, cert->fields.signatureAlgorithm, privateKey, random, surrender);
}

int C_VerifyCertSignature(C_CERT_OBJ handle, Q_KEY_OBJ publicKey, Q_SURRENDER_CTX* surrender) {
  C_CertObj* cert = AsCert(handle);
  if (cert == nullptr || !ck::HasTypeTag(cert->fields.extensions, C_TAG_EXTENSIONS_OBJ)) return C_ERR_NOT_CERT_OBJ;
  if (publicKey == nullptr) return C_ERR_PUBLIC_KEY;
  if (ck::HasUnhandledCritical(cert->fields.extensions)) return C_ERR_EXT_UNHANDLED_CRITICAL;
  // Only a certificate read for display carries an opaque algorithm.
  if (cert->core.signedDer.data != nullptr && cert->fields.signatureAlgorithm == C_SIG_OPAQUE) {
    return C_ERR_ALG_UNSUPPORTED;
  }
  int status = ck::CoreVerify(&cert->core, publicKey, surrender);
  if (status == 0 || status == C_ERR_ALLOC || status == C_ERR_CANCEL) return status;
  return C_ERR_CERT_SIGNATURE;
}

}  // extern "C"
