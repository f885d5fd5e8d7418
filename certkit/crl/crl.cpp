// CRL objects (X.509 CRL versions 1 and 2, RFC 5280 5): reading a
// CertificateList into its fields and revoked entries, making the
// to-be-signed part from fields and entries, and signing and verifying
// through the signed-object core.
#include "certkit/crl/crl.h"

#include <climits>

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
//   CertificateList ::= SEQUENCE {
//     tbsCertList          TBSCertList,
//     signatureAlgorithm   AlgorithmIdentifier,
//     signatureValue       BIT STRING }
//   TBSCertList ::= SEQUENCE {
//     version              INTEGER OPTIONAL,       -- v2 (1); absent for v1
//     signature            AlgorithmIdentifier,
//     issuer               Name,
//     thisUpdate           Time,
//     nextUpdate           Time OPTIONAL,
//     revokedCertificates  SEQUENCE OF SEQUENCE {
//                            userCertificate    INTEGER,
//                            revocationDate     Time,
//                            crlEntryExtensions Extensions OPTIONAL } OPTIONAL,
//     crlExtensions    [0] EXPLICIT Extensions OPTIONAL }
//   Extensions ::= SEQUENCE OF SEQUENCE {
//                    OBJECT IDENTIFIER, BOOLEAN OPTIONAL, OCTET STRING }
//   Time ::= CHOICE { utcTime UTCTime, generalTime GeneralizedTime }
//
// thisUpdate is required, so an ANY with the time handlers takes it. The
// optional nextUpdate cannot be an ANY (it would take the revoked list), so
// it is two optional entries, one per alternative; encoding fills only the
// first, whose handler picks the alternative by year. The revoked list and
// the extensions are taken whole and walked by the code below.

constexpr uint32_t kSlotTbs = 1;
constexpr uint32_t kSlotVersion = 2;       // uint16_t
constexpr uint32_t kSlotSignature = 3;     // ByteRange, raw
constexpr uint32_t kSlotIssuer = 4;        // ByteRange, raw
constexpr uint32_t kSlotThisUpdate = 5;    // int64_t
constexpr uint32_t kSlotNextUtc = 6;       // int64_t
constexpr uint32_t kSlotNextGeneral = 7;   // int64_t
constexpr uint32_t kSlotRevoked = 8;       // ByteRange, raw SEQUENCE OF
constexpr uint32_t kSlotExtensions = 9;    // ByteRange, raw SEQUENCE inside [0]
constexpr uint32_t kSlotOuterAlgorithm = 10;  // ByteRange, raw
constexpr uint32_t kSlotSignatureValue = 11;  // C_BITSTRING
constexpr uint32_t kSlotCount = 12;

const AsnEntry kCertificateList[] = {
    {kAsnSequence, nullptr, nullptr, 0},
    {kAsnSequence, nullptr, nullptr, kSlotTbs},
    {kAsnInteger | kAsnOptional, AsnDecodeSmallInt, AsnEncodeSmallInt, kSlotVersion},
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
    {kAsnAny, AsnDecodeTime, AsnEncodeTime, kSlotThisUpdate},
    {kAsnUtcTime | kAsnOptional, AsnDecodeTime, AsnEncodeTime, kSlotNextUtc},
    {kAsnGeneralizedTime | kAsnOptional, AsnDecodeTime, AsnEncodeTime, kSlotNextGeneral},
    {kAsnSequence | kAsnOf | kAsnOptional, nullptr, nullptr, kSlotRevoked},
    {kAsnSequence, nullptr, nullptr, 0},
    {kAsnInteger, nullptr, nullptr, 0},
    {kAsnAny, nullptr, nullptr, 0},
    {kAsnSequence | kAsnOf | kAsnOptional, nullptr, nullptr, 0},
    {kAsnSequence, nullptr, nullptr, 0},
    {kAsnOid, nullptr, nullptr, 0},
    {kAsnBoolean | kAsnOptional, nullptr, nullptr, 0},
    {kAsnOctetString, nullptr, nullptr, 0},
    {kAsnEnd, nullptr, nullptr, 0},
    {kAsnEnd, nullptr, nullptr, 0},
    {kAsnEnd, nullptr, nullptr, 0},
    {kAsnEnd, nullptr, nullptr, 0},
    {0xA0 | kAsnOptional, nullptr, nullptr, 0},
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

// Marks a nextUpdate that the decoder did not find.
constexpr int64_t kNoTime = INT64_MIN;

// The smallest revoked entry: 30 len, 02 01 nn, 17 0D and 13 time octets.
constexpr uint32_t kMinEntryLen = 2 + 3 + 15;

const uint8_t kReasonCodeOid[] = {0x55, 0x1D, 0x15};

// The values of one TBSCertList, as decoded or to be encoded.
struct TbsValues {
  uint16_t version = 0;
  ByteRange signature{};
  ByteRange issuer{};
  int64_t thisUpdate = 0;
  int64_t nextUtc = kNoTime;
  int64_t nextGeneral = kNoTime;
  ByteRange revoked{};
  ByteRange extensions{};
};

const AsnEntry* TbsTemplate() { return AsnFindSubTemplate(kCertificateList, kSlotTbs); }

int DecodeTbs(ByteRange tbs, TbsValues* v) {
  void* slots[kSlotCount] = {nullptr, nullptr, &v->version, &v->signature, &v->issuer, &v->thisUpdate,
                             &v->nextUtc, &v->nextGeneral, &v->revoked, &v->extensions, nullptr, nullptr};
  uint32_t used = 0;
  return FromCodecCode(AsnDecode(TbsTemplate(), AsnSlots{slots, kSlotCount}, 0, tbs, &used));
}

// Encodes |v|; a nextUpdate of kNoTime, an empty revoked list and empty
// extensions are left out.
int EncodeTbs(TbsValues* v, uint8_t** out, uint32_t* outLen) {
  void* version = v->version == 0 ? AsnAbsent() : &v->version;
  void* next = v->nextUtc == kNoTime ? AsnAbsent() : &v->nextUtc;
  void* revoked = v->revoked.len == 0 ? AsnAbsent() : &v->revoked;
  void* extensions = v->extensions.len == 0 ? AsnAbsent() : &v->extensions;
  void* slots[kSlotCount] = {nullptr, nullptr, version, &v->signature, &v->issuer, &v->thisUpdate,
                             next, AsnAbsent(), revoked, extensions, nullptr, nullptr};
  int status = AsnEncode(TbsTemplate(), AsnSlots{slots, kSlotCount}, 0, out, outLen);
  // A time past year 9999 is the caller's argument.
  if (status == kAsnErrArgument) return C_ERR_BAD_ARGUMENT;
  return FromCodecCode(status);
}

// ---------------------------------------------------------------------------
// Entries.

void ReleaseEntry(CrlEntry* e) {
  QMem_SecureRelease(e->serial);
  QMem_SecureRelease(e->extensions);
  *e = CrlEntry{};
}

void ReleaseEntries(CrlEntryList* list) {
  for (uint32_t i = 0; i < list->count; ++i) ReleaseEntry(&list->items[i]);
  QMem_SecureRelease(list->items);
  *list = CrlEntryList{};
}

// Makes room for |count| entries in an empty list.
bool ReserveEntries(CrlEntryList* list, uint32_t count) {
  if (count == 0) return true;
  void* block = QMem_Allocate(static_cast<size_t>(count) * sizeof(CrlEntry));
  if (block == nullptr) return false;
  list->items = static_cast<CrlEntry*>(block);
  list->capacity = count;
  return true;
}

// The reasonCode of |extensions| (a DER Extensions element), checked as
// entry extensions with |scratch| (an extensions object of kind 4).
int EntryReason(C_EXTENSIONS_OBJ scratch, ByteRange extensions, int32_t* reason) {
  *reason = C_REASON_NONE;
  int status = C_SetExtensionsDER(scratch, extensions.data, extensions.len);
  if (status != 0) {
    if (status == C_ERR_ALLOC || status == C_ERR_EXT_NOT_CRITICAL || status == C_ERR_EXT_UNHANDLED_CRITICAL ||
        status == C_ERR_EXT_CRITICALITY) {
      return status;
    }
    return C_ERR_CRL_ENTRY;
  }
  const unsigned char* value = nullptr;
  uint32_t valueLen = 0;
  if (C_FindExtension(scratch, kReasonCodeOid, sizeof kReasonCodeOid, nullptr, &value, &valueLen) != 0) return 0;
  uint32_t code = 0;
  if (C_ReadReasonCode(value, valueLen, &code) != 0) return C_ERR_CRL_ENTRY;
  *reason = static_cast<int32_t>(code);
  return 0;
}

// Reads one revoked entry (the content of its SEQUENCE) into |out|.
int ReadEntry(const AsnHeader& h, uint16_t version, C_EXTENSIONS_OBJ scratch, CrlEntry* out) {
  DerWalk walk{h.content, h.contentLen};
  AsnHeader serial;
  AsnHeader date;
  if (!walk.Next(&serial) || serial.ident != kAsnInteger || !walk.Next(&date)) return C_ERR_CRL_ENTRY;
  ByteRange magnitude{};
  if (AsnDecodeBigUnsigned(serial.ident, 0, 0, nullptr, 0, serial.content, serial.contentLen, &magnitude) != 0) {
    return C_ERR_CRL_ENTRY;
  }
  int64_t seconds = 0;
  if (AsnDecodeTime(date.ident, 0, 0, nullptr, 0, date.content, date.contentLen, &seconds) != 0) {
    return C_ERR_CRL_ENTRY;
  }
  ByteRange extensions{};
  if (!walk.AtEnd()) {
    const uint8_t* start = walk.p;
    AsnHeader ext;
    if (!walk.Next(&ext) || ext.ident != kAsnSequence || !walk.AtEnd()) return C_ERR_CRL_ENTRY;
    if (version != C_CRL_VERSION_2) return C_ERR_VERSION;
    extensions = ByteRange{start, ext.totalLen};
  }
  int32_t reason = C_REASON_NONE;
  if (extensions.len != 0) {
    int status = EntryReason(scratch, extensions, &reason);
    if (status != 0) return status;
  }
  CrlEntry e{};
  if (!CopyBlock(magnitude.data, magnitude.len, &e.serial) ||
      !CopyBlock(extensions.data, extensions.len, &e.extensions)) {
    ReleaseEntry(&e);
    return C_ERR_ALLOC;
  }
  e.serialLen = magnitude.len;
  e.extensionsLen = extensions.len;
  e.date = seconds;
  e.reason = reason;
  *out = e;
  return 0;
}

// Reads the revoked list (a DER SEQUENCE OF, or nothing) into |list|, which
// must be empty. The array is sized by the elements actually present, so it
// never exceeds what the input holds.
int ReadEntries(ByteRange revoked, uint16_t version, C_EXT_REGISTRY registry, CrlEntryList* list) {
  if (revoked.len == 0) return 0;
  DerWalk all{};
  if (!DerWhole(revoked.data, revoked.len, kAsnSequence, &all)) return C_ERR_CRL_ENTRY;
  uint32_t count = 0;
  AsnHeader h;
  for (DerWalk walk = all; !walk.AtEnd(); ++count) {
    if (!walk.Next(&h) || h.ident != kAsnSequence || h.totalLen < kMinEntryLen) return C_ERR_CRL_ENTRY;
  }
  C_EXTENSIONS_OBJ scratch = nullptr;
  int status = C_CreateExtensionsObject(&scratch, C_EXT_KIND_CRL_ENTRY, registry);
  if (status != 0) return status == C_ERR_ALLOC ? status : C_ERR_CRL_ENTRY;
  if (!ReserveEntries(list, count)) status = C_ERR_ALLOC;
  for (DerWalk walk = all; status == 0 && !walk.AtEnd();) {
    walk.Next(&h);
    status = ReadEntry(h, version, scratch, &list->items[list->count]);
    if (status == 0) ++list->count;
  }
  C_DestroyExtensionsObject(&scratch);
  return status;
}

// One revoked entry as DER into a new block.
int EncodeEntry(const CrlEntry& e, uint8_t** out, uint32_t* outLen) {
  ElementList el;
  const ByteRange serial{e.serial, e.serialLen};
  int status = ElementAppendStart(&el, kAsnSequence);
  if (status == 0) status = AsnEncodeBigUnsigned(&el, kAsnInteger, 0, 0, &serial);
  if (status == 0) status = AsnEncodeTime(&el, 0, 0, 0, &e.date);
  if (status == 0 && e.extensionsLen != 0) status = ElementAppendRaw(&el, e.extensions, e.extensionsLen);
  if (status == 0) status = ElementAppendEnd(&el, false);
  if (status == 0) status = ElementListWrite(&el, out, outLen);
  ElementListRelease(&el);
  return status;
}

// The SEQUENCE OF revoked entries as DER into a new block; no entries give
// null and 0. Each entry is encoded on its own and copied after the header,
// so a long list costs time in proportion to its length.
int EncodeEntries(const CrlEntryList& list, uint8_t** out, uint32_t* outLen) {
  *out = nullptr;
  *outLen = 0;
  if (list.count == 0) return 0;
  // Pass 1: the contents' length.
  uint64_t total = 0;
  int status = 0;
  for (uint32_t i = 0; status == 0 && i < list.count; ++i) {
    uint8_t* der = nullptr;
    uint32_t len = 0;
    status = EncodeEntry(list.items[i], &der, &len);
    QMem_SecureRelease(der);
    total += len;
  }
  if (status == 0 && total > UINT32_MAX - 6) status = kAsnErrOverflow;
  if (status != 0) return status == kAsnErrArgument ? C_ERR_CRL_ENTRY : FromCodecCode(status);
  // Header: the SEQUENCE tag and the shortest definite length.
  uint8_t header[6] = {static_cast<uint8_t>(kAsnSequence)};
  uint32_t headerLen = 1;
  if (total < 0x80) {
    header[headerLen++] = static_cast<uint8_t>(total);
  } else {
    uint32_t octets = 0;
    for (uint64_t v = total; v != 0; v >>= 8) ++octets;
    header[headerLen++] = static_cast<uint8_t>(0x80 | octets);
    for (uint32_t k = octets; k > 0; --k) header[headerLen++] = static_cast<uint8_t>(total >> (8 * (k - 1)));
  }
  const uint32_t size = headerLen + static_cast<uint32_t>(total);
  auto* block = static_cast<uint8_t*>(QMem_Allocate(size));
  if (block == nullptr) return C_ERR_ALLOC;
  QMem_Copy(block, header, headerLen);
  // Pass 2: the entries, in order.
  uint32_t at = headerLen;
  for (uint32_t i = 0; status == 0 && i < list.count; ++i) {
    uint8_t* der = nullptr;
    uint32_t len = 0;
    status = EncodeEntry(list.items[i], &der, &len);
    if (status == 0 && len > size - at) status = kAsnErrArgument;
    if (status == 0) {
      QMem_Copy(block + at, der, len);
      at += len;
    }
    QMem_SecureRelease(der);
  }
  if (status == 0 && at != size) status = kAsnErrArgument;
  if (status != 0) {
    QMem_SecureRelease(block);
    return status == kAsnErrArgument ? C_ERR_CRL_ENTRY : FromCodecCode(status);
  }
  *out = block;
  *outLen = size;
  return 0;
}

// crlEntryExtensions holding only reasonCode |reason|, as DER.
int ReasonExtensions(uint32_t reason, uint8_t** out, uint32_t* outLen) {
  unsigned char* value = nullptr;
  uint32_t valueLen = 0;
  int status = C_BuildReasonCode(reason, &value, &valueLen);
  if (status != 0) return status == C_ERR_ALLOC ? status : C_ERR_CRL_ENTRY;
  // Extensions ::= SEQUENCE OF Extension; Extension ::= SEQUENCE {
  //   extnID OBJECT IDENTIFIER, critical BOOLEAN DEFAULT FALSE, extnValue OCTET STRING }
  ElementList el;
  status = ElementAppendStart(&el, kAsnSequence);
  if (status == 0) status = ElementAppendStart(&el, kAsnSequence);
  if (status == 0) status = ElementAppendContent(&el, kAsnOid, kReasonCodeOid, sizeof kReasonCodeOid);
  if (status == 0) status = ElementAppendContent(&el, kAsnOctetString, value, valueLen);
  if (status == 0) status = ElementAppendEnd(&el, false);
  if (status == 0) status = ElementAppendEnd(&el, false);
  if (status == 0) status = ElementListWrite(&el, out, outLen);
  ElementListRelease(&el);
  QMem_SecureRelease(value);
  return FromCodecCode(status);
}

// ---------------------------------------------------------------------------
// Pieces prepared before anything changes, so that committing them cannot
// fail.

struct Prepared {
  C_NAME_OBJ issuer = nullptr;            // replaces the own issuer's contents when set
  C_EXTENSIONS_OBJ extensions = nullptr;  // replaces the own extensions' contents when set
  CrlEntryList entries;                   // replaces the own entries when |haveEntries|
  bool haveEntries = false;
  SignedCore core{};                      // the new signed encoding, when set from BER
  uint8_t* tbs = nullptr;                 // the new to-be-signed encoding, when set from fields
  uint32_t tbsLen = 0;
};

void ReleasePrepared(Prepared* p) {
  C_DestroyNameObject(&p->issuer);
  C_DestroyExtensionsObject(&p->extensions);
  ReleaseEntries(&p->entries);
  CoreReleaseEncodings(&p->core);
  QMem_SecureRelease(p->tbs);
  *p = Prepared{};
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
void Commit(C_CrlObj* crl, Prepared* p) {
  if (p->issuer != nullptr) SwapNames(crl->fields.issuer, p->issuer);
  if (p->extensions != nullptr) SwapExtensionContents(crl->fields.extensions, p->extensions);
  if (p->haveEntries) {
    CrlEntryList old = crl->entries;
    crl->entries = p->entries;
    p->entries = old;
    crl->fields.entryCount = crl->entries.count;
  }
  if (p->core.signedDer.data != nullptr) {
    // Keep the header; take the encodings and split of the prepared core.
    SignedCore old = crl->core;
    ObjectHeader header = crl->core.header;
    crl->core = p->core;
    crl->core.header = header;
    p->core = old;
  } else if (p->tbs != nullptr) {
    CoreTakeToBeSigned(&crl->core, p->tbs, p->tbsLen);
    p->tbs = nullptr;
    p->tbsLen = 0;
  }
}

// A name decoded from |der| into a new name object; an empty Name is
// refused (RFC 5280 5.1.2.3). Failures other than memory are C_ERR_ISSUER.
int PrepareIssuer(ByteRange der, C_NAME_OBJ* out) {
  int status = C_CreateNameObject(out);
  if (status != 0) return status;
  status = ReplaceInContext(NameSetFromDER(*out, der.data, der.len), C_ERR_ISSUER);
  if (status == 0 && (*out)->avas.count == 0) status = C_ERR_ISSUER;
  return status;
}

// CRL extensions decoded from |der| (none when empty) into a new extensions
// object of kind 2; the codes 1850, 1852, 1859 and memory pass, every other
// failure is C_ERR_EXTENSIONS.
int PrepareExtensions(ByteRange der, C_EXT_REGISTRY registry, C_EXTENSIONS_OBJ* out) {
  int status = C_CreateExtensionsObject(out, C_EXT_KIND_CRL, registry);
  if (status != 0) return status == C_ERR_ALLOC ? status : C_ERR_EXTENSIONS;
  if (der.len == 0) return 0;
  status = C_SetExtensionsDER(*out, der.data, der.len);
  if (status == 0 || status == C_ERR_ALLOC || status == C_ERR_EXT_NOT_CRITICAL ||
      status == C_ERR_EXT_UNHANDLED_CRITICAL || status == C_ERR_EXT_CRITICALITY) {
    return status;
  }
  return C_ERR_EXTENSIONS;
}

// The steps of C_SetCRLBER on the split encoding in |p->core|.
int DecodeSigned(const C_CrlObj* crl, Prepared* p, TbsValues* v, uint32_t* identifier) {
  int status = DecodeTbs(p->core.tbsElement, v);
  if (status != 0) return status;
  if (v->version > C_CRL_VERSION_2) return C_ERR_VERSION;
  if (v->extensions.len != 0 && v->version != C_CRL_VERSION_2) return C_ERR_VERSION;
  const ByteRange outer = p->core.algorithmElement;
  if (v->signature.len != outer.len || QMem_Compare(v->signature.data, outer.data, outer.len) != 0) {
    return C_ERR_BAD_ENCODING;
  }
  const int64_t next = v->nextUtc != kNoTime ? v->nextUtc : v->nextGeneral;
  if (next != kNoTime && next < v->thisUpdate) return C_ERR_CRL_UPDATE;
  const SignatureRow* row = nullptr;
  status = RowFromAlgorithmIdentifier(outer, &row);
  if (status != 0) return status == C_ERR_NO_SIG_ALG_ROW ? C_ERR_SIG_ALGORITHM : status;
  status = PrepareIssuer(v->issuer, &p->issuer);
  if (status == 0) status = PrepareExtensions(v->extensions, crl->registry, &p->extensions);
  if (status == 0) status = ReadEntries(v->revoked, v->version, crl->registry, &p->entries);
  p->haveEntries = true;
  if (status != 0) return status;
  v->nextUtc = next;
  *identifier = row->identifier;
  return 0;
}

void ReleaseCrl(ObjectHeader* object) {
  auto* crl = reinterpret_cast<C_CrlObj*>(object);
  CoreReleaseEncodings(&crl->core);
  C_DestroyNameObject(&crl->fields.issuer);
  C_DestroyExtensionsObject(&crl->fields.extensions);
  ReleaseEntries(&crl->entries);
  QMem_Wipe(crl, sizeof(C_CrlObj));
  QMem_SecureRelease(crl);
}

const ObjectClass kCrlClass = {ReleaseCrl};

C_CrlObj* AsCrl(C_CRL_OBJ handle) { return HasTypeTag(handle, C_TAG_CRL_OBJ) ? handle : nullptr; }

// The signature algorithms a CRL is signed with here.
bool SignsWith(uint32_t identifier) {
  return identifier == C_SIG_SHA1_WITH_RSA || identifier == C_SIG_SHA256_WITH_RSA ||
         identifier == C_SIG_SHA384_WITH_RSA || identifier == C_SIG_SHA512_WITH_RSA;
}

// Encodes the to-be-signed part of |f| with |entries|; the issuer and
// extensions encodings are given. New block in |*tbs|.
int EncodeFromFields(const C_CRL_FIELDS& f, ByteRange issuer, ByteRange extensions, const CrlEntryList& entries,
                     uint8_t** tbs, uint32_t* tbsLen) {
  const SignatureRow* row = FindSignatureRow(f.signatureAlgorithm);
  if (row == nullptr || !SignsWith(f.signatureAlgorithm)) return C_ERR_SIG_ALGORITHM;
  uint8_t* algorithm = nullptr;
  uint32_t algorithmLen = 0;
  int status = AlgorithmIdentifierOf(row, &algorithm, &algorithmLen);
  if (status != 0) return status;
  uint8_t* revoked = nullptr;
  uint32_t revokedLen = 0;
  status = EncodeEntries(entries, &revoked, &revokedLen);
  if (status == 0) {
    TbsValues v;
    v.version = static_cast<uint16_t>(f.version);
    v.signature = ByteRange{algorithm, algorithmLen};
    v.issuer = issuer;
    v.thisUpdate = f.thisUpdate;
    v.nextUtc = f.hasNextUpdate ? f.nextUpdate : kNoTime;
    v.revoked = ByteRange{revoked, revokedLen};
    v.extensions = extensions;
    status = EncodeTbs(&v, tbs, tbsLen);
  }
  QMem_SecureRelease(revoked);
  QMem_SecureRelease(algorithm);
  return status;
}

// The issuer's DER for encoding: the name must hold AVAs.
int IssuerDer(C_NAME_OBJ name, ByteRange* der) {
  const unsigned char* data = nullptr;
  uint32_t len = 0;
  int status = C_GetNameDER(name, &data, &len);
  if (status != 0) return ReplaceInContext(status, C_ERR_ISSUER);
  if (len == 0) return C_ERR_ISSUER;
  *der = ByteRange{data, len};
  return 0;
}

// The extensions' DER for encoding (empty for none). C_ERR_EXTENSIONS for a
// handle that is not an extensions object of kind 2.
int ExtensionsDer(C_EXTENSIONS_OBJ extensions, ByteRange* der) {
  *der = ByteRange{};
  if (extensions == nullptr) return 0;
  if (!HasTypeTag(extensions, C_TAG_EXTENSIONS_OBJ) || extensions->kind != C_EXT_KIND_CRL) return C_ERR_EXTENSIONS;
  if (extensions->entries.count == 0) return 0;
  int status = C_GetExtensionsDER(extensions, &der->data, &der->len);
  return status == 0 ? 0 : ReplaceInContext(status, C_ERR_EXTENSIONS);
}

}  // namespace

}  // namespace ck

using ck::AsCrl;

extern "C" {

int C_CreateCRLObject(C_CRL_OBJ* crlOut, C_EXT_REGISTRY registry) {
  if (crlOut == nullptr) return C_ERR_NOT_CRL_OBJ;
  *crlOut = nullptr;
  if (registry != nullptr && !ck::HasTypeTag(registry, C_TAG_EXT_REGISTRY)) return C_ERR_NOT_EXT_REGISTRY;
  auto* crl = static_cast<C_CrlObj*>(QMem_Allocate(sizeof(C_CrlObj)));
  if (crl == nullptr) return C_ERR_ALLOC;
  *crl = C_CrlObj{};
  crl->core.header = ck::ObjectHeader{&ck::kCrlClass, C_TAG_CRL_OBJ};
  crl->registry = registry;
  crl->fields.version = C_CRL_VERSION_2;
  crl->fields.signatureAlgorithm = C_SIG_SHA256_WITH_RSA;
  int status = C_CreateNameObject(&crl->fields.issuer);
  if (status == 0) status = C_CreateExtensionsObject(&crl->fields.extensions, C_EXT_KIND_CRL, registry);
  if (status != 0) {
    ck::ReleaseCrl(&crl->core.header);
    return C_ERR_ALLOC;
  }
  *crlOut = crl;
  return 0;
}

void C_DestroyCRLObject(C_CRL_OBJ* crl) {
  if (crl == nullptr || AsCrl(*crl) == nullptr) return;
  (*crl)->core.header.cls->release(&(*crl)->core.header);
  *crl = nullptr;
}

int C_SetCRLBER(C_CRL_OBJ handle, const unsigned char* ber, uint32_t berLen) {
  C_CrlObj* crl = AsCrl(handle);
  if (crl == nullptr) return C_ERR_NOT_CRL_OBJ;
  if (ber == nullptr || berLen == 0) return C_ERR_INPUT_DATA;
  uint8_t* der = nullptr;
  uint32_t derLen = 0;
  int status = ck::AsnNormalise(ck::kCertificateList, ck::ByteRange{ber, berLen}, &der, &derLen);
  if (status != 0) return status == ck::kAsnErrMemory ? C_ERR_ALLOC : C_ERR_BAD_ENCODING;
  ck::Prepared p;
  status = ck::CoreTakeSigned(&p.core, der, derLen);
  if (status != 0) return status;
  ck::TbsValues v;
  uint32_t identifier = 0;
  status = ck::DecodeSigned(crl, &p, &v, &identifier);
  if (status != 0) {
    ck::ReleasePrepared(&p);
    return status;
  }
  ck::Commit(crl, &p);
  ck::ReleasePrepared(&p);
  crl->fields.version = v.version;
  crl->fields.signatureAlgorithm = identifier;
  crl->fields.thisUpdate = v.thisUpdate;
  crl->fields.hasNextUpdate = v.nextUtc != ck::kNoTime ? 1 : 0;
  crl->fields.nextUpdate = crl->fields.hasNextUpdate ? v.nextUtc : 0;
  crl->fieldsSet = 1;
  return 0;
}

int C_GetCRLFields(C_CRL_OBJ handle, C_CRL_FIELDS* fields) {
  C_CrlObj* crl = AsCrl(handle);
  if (crl == nullptr) return C_ERR_NOT_CRL_OBJ;
  if (fields == nullptr) return C_ERR_NULL_OUTPUT;
  *fields = crl->fields;
  return 0;
}

int C_GetCRLEntry(C_CRL_OBJ handle, uint32_t index, const unsigned char** serial, uint32_t* serialLen,
                  int64_t* date, int32_t* reason) {
  C_CrlObj* crl = AsCrl(handle);
  if (crl == nullptr) return C_ERR_NOT_CRL_OBJ;
  if (index >= crl->entries.count) return C_ERR_INDEX;
  const ck::CrlEntry& e = crl->entries.items[index];
  if (serial != nullptr) *serial = e.serial;
  if (serialLen != nullptr) *serialLen = e.serialLen;
  if (date != nullptr) *date = e.date;
  if (reason != nullptr) *reason = e.reason;
  return 0;
}

int C_SetCRLFields(C_CRL_OBJ handle, const C_CRL_FIELDS* fields) {
  C_CrlObj* crl = AsCrl(handle);
  if (crl == nullptr) return C_ERR_NOT_CRL_OBJ;
  if (fields == nullptr) return C_ERR_NULL_CRL_FIELDS;
  const C_CRL_FIELDS& f = *fields;
  // 1. Version, and what it allows.
  if (f.version > C_CRL_VERSION_2 || f.hasNextUpdate > 1) return C_ERR_VERSION;
  ck::ByteRange extensionsDer{};
  int status = ck::ExtensionsDer(f.extensions, &extensionsDer);
  if (status != 0) return status;
  if (f.version == C_CRL_VERSION_1) {
    if (extensionsDer.len != 0) return C_ERR_VERSION;
    for (uint32_t i = 0; i < crl->entries.count; ++i) {
      if (crl->entries.items[i].extensionsLen != 0) return C_ERR_VERSION;
    }
  }
  // 2. Dates; 3. signature algorithm; 4. issuer; 5. the to-be-signed part.
  if (f.hasNextUpdate && f.nextUpdate < f.thisUpdate) return C_ERR_CRL_UPDATE;
  if (!ck::SignsWith(f.signatureAlgorithm)) return C_ERR_SIG_ALGORITHM;
  ck::ByteRange issuerDer{};
  status = ck::IssuerDer(f.issuer, &issuerDer);
  ck::Prepared p;
  if (status == 0) status = ck::EncodeFromFields(f, issuerDer, extensionsDer, crl->entries, &p.tbs, &p.tbsLen);
  // 6. Everything the object takes over, prepared first.
  if (status == 0 && f.issuer != crl->fields.issuer) status = ck::PrepareIssuer(issuerDer, &p.issuer);
  if (status == 0 && f.extensions != crl->fields.extensions) {
    // A record without extensions empties the object's.
    status = ck::PrepareExtensions(extensionsDer, crl->registry, &p.extensions);
    if (status != 0 && status != C_ERR_ALLOC) status = C_ERR_EXTENSIONS;
  }
  if (status != 0) {
    ck::ReleasePrepared(&p);
    return status;
  }
  ck::Commit(crl, &p);
  ck::ReleasePrepared(&p);
  crl->fields.version = f.version;
  crl->fields.signatureAlgorithm = f.signatureAlgorithm;
  crl->fields.thisUpdate = f.thisUpdate;
  crl->fields.hasNextUpdate = f.hasNextUpdate;
  crl->fields.nextUpdate = f.hasNextUpdate ? f.nextUpdate : 0;
  crl->fieldsSet = 1;
  return 0;
}

int C_AddCRLEntry(C_CRL_OBJ handle, const unsigned char* serial, uint32_t serialLen, int64_t date, int32_t reason) {
  C_CrlObj* crl = AsCrl(handle);
  if (crl == nullptr) return C_ERR_NOT_CRL_OBJ;
  if (serial == nullptr || serialLen == 0) return C_ERR_CRL_ENTRY;
  while (serialLen > 1 && serial[0] == 0) {
    ++serial;
    --serialLen;
  }
  if (serialLen > C_CRL_SERIAL_MAX) return C_ERR_CRL_ENTRY;
  if (reason != C_REASON_NONE && (reason < 0 || reason > C_REASON_AA_COMPROMISE || reason == 7)) {
    return C_ERR_CRL_ENTRY;
  }
  if (date < ck::kAsnFirstTimeSecond || date > ck::kAsnLastTimeSecond) return C_ERR_CRL_ENTRY;
  if (reason != C_REASON_NONE && crl->fields.version != C_CRL_VERSION_2) return C_ERR_VERSION;

  // Room for one more entry, grown by doubling; a larger array holding the
  // same entries changes nothing that can be seen.
  ck::CrlEntryList& list = crl->entries;
  if (list.count == list.capacity) {
    const uint32_t capacity = list.capacity < 8 ? 8 : list.capacity * 2;
    if (capacity > UINT32_MAX / sizeof(ck::CrlEntry)) return C_ERR_ALLOC;
    auto* items = static_cast<ck::CrlEntry*>(QMem_Allocate(capacity * sizeof(ck::CrlEntry)));
    if (items == nullptr) return C_ERR_ALLOC;
    for (uint32_t i = 0; i < list.count; ++i) items[i] = list.items[i];
    QMem_SecureRelease(list.items);
    list.items = items;
    list.capacity = capacity;
  }
  // The new entry sits past the count until everything else has worked.
  ck::CrlEntry e{};
  e.date = date;
  e.reason = reason;
  e.serialLen = serialLen;
  int status = ck::CopyBlock(serial, serialLen, &e.serial) ? 0 : C_ERR_ALLOC;
  if (status == 0 && reason != C_REASON_NONE) {
    status = ck::ReasonExtensions(static_cast<uint32_t>(reason), &e.extensions, &e.extensionsLen);
  }
  ck::Prepared p;
  if (status == 0 && crl->fieldsSet) {
    list.items[list.count] = e;
    const ck::CrlEntryList longer{list.items, list.count + 1, list.capacity};
    ck::ByteRange issuerDer{};
    ck::ByteRange extensionsDer{};
    status = ck::IssuerDer(crl->fields.issuer, &issuerDer);
    if (status == 0) status = ck::ExtensionsDer(crl->fields.extensions, &extensionsDer);
    if (status == 0) status = ck::EncodeFromFields(crl->fields, issuerDer, extensionsDer, longer, &p.tbs, &p.tbsLen);
    list.items[list.count] = ck::CrlEntry{};
  }
  if (status != 0) {
    ck::ReleaseEntry(&e);
    ck::ReleasePrepared(&p);
    return status;
  }
  list.items[list.count++] = e;
  crl->fields.entryCount = list.count;
  ck::Commit(crl, &p);
  ck::ReleasePrepared(&p);
  return 0;
}

int C_GetCRLDER(C_CRL_OBJ handle, const unsigned char** der, uint32_t* derLen) {
  C_CrlObj* crl = AsCrl(handle);
  if (crl == nullptr) return C_ERR_NOT_CRL_OBJ;
  if (der == nullptr || derLen == nullptr) return C_ERR_NULL_OUTPUT;
  if (crl->core.signedDer.data == nullptr) return C_ERR_NOTHING_TO_SIGN;
  *der = crl->core.signedDer.data;
  *derLen = crl->core.signedDer.len;
  return 0;
}

int C_SignCRL(C_CRL_OBJ handle, Q_KEY_OBJ privateKey, Q_ALGORITHM_OBJ random, Q_SURRENDER_CTX* surrender) {
  C_CrlObj* crl = AsCrl(handle);
  if (crl == nullptr) return C_ERR_NOT_CRL_OBJ;
  if (privateKey == nullptr) return C_ERR_PRIVATE_KEY;
  if (!ck::SignsWith(crl->fields.signatureAlgorithm)) return C_ERR_SIG_ALGORITHM;
  return ck::CoreSign(&crl->core, crl->fields.signatureAlgorithm, privateKey, random, surrender);
}

int C_VerifyCRLSignature(C_CRL_OBJ handle, Q_KEY_OBJ publicKey, Q_SURRENDER_CTX* surrender) {
  C_CrlObj* crl = AsCrl(handle);
  if (crl == nullptr) return C_ERR_NOT_CRL_OBJ;
  if (publicKey == nullptr) return C_ERR_PUBLIC_KEY;
  if (crl->core.signedDer.data == nullptr) return C_ERR_NOT_SIGNED;
  if (ck::HasUnhandledCritical(crl->fields.extensions)) return C_ERR_EXT_UNHANDLED_CRITICAL;
  int status = ck::CoreVerify(&crl->core, publicKey, surrender);
  if (status == 0 || status == C_ERR_ALLOC || status == C_ERR_CANCEL) return status;
  return C_ERR_CRL_SIGNATURE;
}

}  // extern "C"
