// Name objects: an ordered list of attribute-value assertions kept in step
// with the Name's DER encoding (X.501 / RFC 5280 4.1.2.4).
#include "certkit/name/name.h"

#include "certkit/errors.h"
#include "cryptokit/qmemory.h"

namespace ck {

namespace {

// AVA lists and OID copies under construction or owned by a name.
struct AvaLists {
  PtrList avas;
  PtrList extraOids;
};

void ReleaseAva(C_NAME_AVA* ava) {
  if (ava == nullptr) return;
  QMem_SecureRelease(const_cast<unsigned char*>(ava->value));
  QMem_SecureRelease(ava);
}

void ReleaseLists(AvaLists* lists) {
  for (uint32_t i = 0; i < lists->avas.count; ++i) ReleaseAva(static_cast<C_NAME_AVA*>(lists->avas.items[i]));
  for (uint32_t i = 0; i < lists->extraOids.count; ++i) {
    auto* oid = static_cast<ByteRange*>(lists->extraOids.items[i]);
    QMem_SecureRelease(const_cast<unsigned char*>(oid->data));
    QMem_SecureRelease(oid);
  }
  PtrListFree(&lists->avas);
  PtrListFree(&lists->extraOids);
}

void ReleaseDer(C_NameObj* name) {
  QMem_SecureRelease(const_cast<unsigned char*>(name->der.data));
  name->der = ByteRange{nullptr, 0};
}

// The OID copy in |lists| equal to |oid|, made when missing; null when memory
// runs out.
const ByteRange* ExtraOid(AvaLists* lists, const uint8_t* oid, uint32_t oidLen) {
  for (uint32_t i = 0; i < lists->extraOids.count; ++i) {
    const auto* known = static_cast<const ByteRange*>(lists->extraOids.items[i]);
    if (known->len == oidLen && QMem_Compare(known->data, oid, oidLen) == 0) return known;
  }
  auto* copy = static_cast<ByteRange*>(QMem_Allocate(sizeof(ByteRange)));
  auto* bytes = static_cast<uint8_t*>(QMem_Allocate(oidLen));
  if (copy == nullptr || bytes == nullptr || PtrListAppend(&lists->extraOids, copy) == kListNoMemory) {
    QMem_SecureRelease(copy);
    QMem_SecureRelease(bytes);
    return nullptr;
  }
  QMem_Copy(bytes, oid, oidLen);
  *copy = ByteRange{bytes, oidLen};
  return copy;
}

// Validates one AVA and appends it to |lists|; on failure the AVA list is
// unchanged. |valueLen| counts characters for BMPString.
int AddAva(AvaLists* lists, const uint8_t* oid, uint32_t oidLen, uint32_t valueTag, const uint8_t* value,
           uint32_t valueLen, uint32_t newRDN, uint32_t* index, bool forDisplay = false) {
  const AttributeRow* row = nullptr;
  const uint32_t octets = valueTag == C_TAG_BMP_STRING ? 2 * valueLen : valueLen;
  int status = 0;
  if (forDisplay) {
    // Read for display only: any string type and length another issuer
    // chose is kept; the value must still be a universal primitive.
    if (valueTag == 0 || valueTag >= 31) return C_ERR_VALUE_TAG;
    row = FindAttribute(oid, oidLen);
  } else {
    status = ValidateAVA(oid, oidLen, valueTag, value, valueLen, &row);
  }
  if (status != 0) return status;
  const uint8_t* typeOid = nullptr;
  if (row != nullptr) {
    typeOid = row->oid;
  } else {
    const ByteRange* copy = ExtraOid(lists, oid, oidLen);
    if (copy == nullptr) return C_ERR_ALLOC;
    typeOid = copy->data;
  }
  auto* ava = static_cast<C_NAME_AVA*>(QMem_Allocate(sizeof(C_NAME_AVA)));
  auto* valueCopy = static_cast<uint8_t*>(QMem_Allocate(octets));
  if (ava == nullptr || valueCopy == nullptr) {
    QMem_SecureRelease(ava);
    QMem_SecureRelease(valueCopy);
    return C_ERR_ALLOC;
  }
  QMem_Copy(valueCopy, value, octets);
  *ava = C_NAME_AVA{typeOid, oidLen, valueTag, valueCopy, valueLen, newRDN ? 1u : 0u};
  uint32_t position = PtrListAppend(&lists->avas, ava);
  if (position == kListNoMemory) {
    ReleaseAva(ava);
    return C_ERR_ALLOC;
  }
  if (index != nullptr) *index = position;
  return 0;
}

// ---------------------------------------------------------------------------
// Template.
//
//   Name ::= SEQUENCE OF RelativeDistinguishedName
//   RelativeDistinguishedName ::= SET OF AttributeTypeAndValue
//   AttributeTypeAndValue ::= SEQUENCE {
//     type   OBJECT IDENTIFIER,
//     value  ANY DEFINED BY type }
//
// Slots: 1 the encoder's state (one RDN per call); 2 the decoder's state
// (one AVA per element, after its two parts are read into slots 3 and 4).

constexpr uint32_t kSlotRdnEncoder = 1;
constexpr uint32_t kSlotAvaDecoder = 2;
constexpr uint32_t kSlotAvaType = 3;
constexpr uint32_t kSlotAvaValue = 4;
constexpr uint32_t kSlotCount = 5;

struct NameDecoder {
  AvaLists lists;
  ByteRange type;
  ByteRange value;
  bool forDisplay;
};

struct NameEncoder {
  const PtrList* avas;
  uint32_t next;
};

int DecodeAva(uint32_t, uint32_t, uint32_t index, const uint8_t*, uint32_t, const uint8_t*, uint32_t, void* slot) {
  if (slot == nullptr) return 0;
  auto* decoder = static_cast<NameDecoder*>(slot);
  AsnHeader h;
  if (AsnReadElement(decoder->value.data, decoder->value.len, &h) != 0) return kAsnErrEncoding;
  // High tag numbers and other classes carry no universal tag number.
  uint32_t tag = h.extraIdentOctets != 0 ? 31 : h.ident;
  uint32_t length = h.contentLen;
  if (tag == C_TAG_BMP_STRING) {
    if (length % 2 != 0) return C_ERR_VALUE_CHARS;
    length /= 2;
  }
  if (decoder->type.len == 0) return kAsnErrEncoding;
  // The first AVA of each SET begins a new RDN.
  return AddAva(&decoder->lists, decoder->type.data, decoder->type.len, tag, h.content, length, index == 0 ? 1 : 0,
                nullptr, decoder->forDisplay);
}

// RelativeDistinguishedName is SET SIZE (1..MAX) OF (X.501): an empty SET
// would leave an encoding whose AVAs write back without it, so it is refused.
int DecodeRdn(uint32_t, uint32_t, uint32_t, const uint8_t*, uint32_t, const uint8_t*, uint32_t contentLen, void*) {
  return contentLen == 0 ? kAsnErrEncoding : 0;
}

int EncodeRdn(ElementList* list, uint32_t, uint32_t, uint32_t, const void* slot) {
  auto* encoder = static_cast<NameEncoder*>(const_cast<void*>(slot));
  if (encoder == nullptr || encoder->next >= encoder->avas->count) return ElementAppendEnd(list, false);
  int status = ElementAppendStart(list, kAsnSet);
  // The first AVA opens the SET whatever its flag; later ones join it until
  // one begins a new RDN.
  for (bool first = true; status == 0 && encoder->next < encoder->avas->count; first = false) {
    const auto* ava = static_cast<const C_NAME_AVA*>(encoder->avas->items[encoder->next]);
    if (!first && ava->newRDN) break;
    const uint32_t octets = ava->valueTag == C_TAG_BMP_STRING ? 2 * ava->valueLen : ava->valueLen;
    status = ElementAppendStart(list, kAsnSequence);
    if (status == 0) status = ElementAppendContent(list, kAsnOid, ava->typeOID, ava->oidLen);
    if (status == 0) status = ElementAppendContent(list, ava->valueTag, ava->value, octets);
    if (status == 0) status = ElementAppendEnd(list, false);
    ++encoder->next;
  }
  return status != 0 ? status : ElementAppendEnd(list, true);
}

const AsnEntry kNameTemplate[] = {
    {kAsnSequence | kAsnOf, nullptr, nullptr, 0},
    {kAsnSet | kAsnOf, DecodeRdn, EncodeRdn, kSlotRdnEncoder},
    {kAsnSequence, DecodeAva, nullptr, kSlotAvaDecoder},
    {kAsnOid, AsnDecodeContents, nullptr, kSlotAvaType},
    {kAsnAny, nullptr, nullptr, kSlotAvaValue},
    {kAsnEnd, nullptr, nullptr, 0},
    {kAsnEnd, nullptr, nullptr, 0},
    {kAsnEnd, nullptr, nullptr, 0},
};

// Codec and AVA codes arrive mixed from decoding; codec ones are translated.
int DecodeStatus(int status) { return status >= kAsnErrTruncated ? FromCodecCode(status) : status; }

// Decodes |der| (owned by the caller, already DER) into fresh lists and, on
// success, makes them and |derCopy| the name's. |derCopy| is taken over in
// every case.
int ReplaceFromDER(C_NameObj* name, uint8_t* derCopy, uint32_t derLen, bool forDisplay = false) {
  NameDecoder decoder{};
  decoder.forDisplay = forDisplay;
  void* slots[kSlotCount] = {nullptr, nullptr, &decoder, &decoder.type, &decoder.value};
  uint32_t used = 0;
  int status = DecodeStatus(AsnDecode(kNameTemplate, AsnSlots{slots, kSlotCount}, 0, ByteRange{derCopy, derLen}, &used));
  if (status != 0) {
    ReleaseLists(&decoder.lists);
    QMem_SecureRelease(derCopy);
    return status;
  }
  AvaLists old{name->avas, name->extraOids};
  ReleaseLists(&old);
  ReleaseDer(name);
  name->avas = decoder.lists.avas;
  name->extraOids = decoder.lists.extraOids;
  name->stale = 0;
  if (name->avas.count == 0) {
    // An empty Name (30 00) leaves the name empty, without an encoding.
    QMem_SecureRelease(derCopy);
  } else {
    name->der = ByteRange{derCopy, derLen};
  }
  return 0;
}

void ReleaseName(ObjectHeader* object) {
  auto* name = reinterpret_cast<C_NameObj*>(object);
  AvaLists lists{name->avas, name->extraOids};
  ReleaseLists(&lists);
  ReleaseDer(name);
  name->header.typeTag = 0;
  QMem_SecureRelease(name);
}

const ObjectClass kNameClass = {ReleaseName};

C_NameObj* AsName(C_NAME_OBJ handle) {
  return HasTypeTag(handle, C_TAG_NAME_OBJ) ? handle : nullptr;
}

}  // namespace

const AsnEntry* NameTemplate() { return kNameTemplate; }

int NameSetFromDER(C_NAME_OBJ handle, const uint8_t* der, uint32_t derLen, bool forDisplay) {
  C_NameObj* name = AsName(handle);
  if (name == nullptr) return C_ERR_NOT_NAME_OBJ;
  if (der == nullptr || derLen == 0) return C_ERR_INPUT_DATA;
  auto* copy = static_cast<uint8_t*>(QMem_Allocate(derLen));
  if (copy == nullptr) return C_ERR_ALLOC;
  QMem_Copy(copy, der, derLen);
  return ReplaceFromDER(name, copy, derLen, forDisplay);
}

}  // namespace ck

using ck::AsName;

extern "C" {

int C_CreateNameObject(C_NAME_OBJ* name) {
  if (name == nullptr) return C_ERR_NULL_OUTPUT;
  *name = nullptr;
  auto* object = static_cast<C_NameObj*>(QMem_Allocate(sizeof(C_NameObj)));
  if (object == nullptr) return C_ERR_ALLOC;
  *object = C_NameObj{};
  object->header = ck::ObjectHeader{&ck::kNameClass, C_TAG_NAME_OBJ};
  *name = object;
  return 0;
}

void C_DestroyNameObject(C_NAME_OBJ* name) {
  if (name == nullptr || AsName(*name) == nullptr) return;
  (*name)->header.cls->release(&(*name)->header);
  *name = nullptr;
}

int C_AddNameAVA(C_NAME_OBJ handle, const unsigned char* typeOID, uint32_t oidLen, uint32_t valueTag,
                 const unsigned char* value, uint32_t valueLen, uint32_t newRDN, uint32_t* index) {
  C_NameObj* name = AsName(handle);
  if (name == nullptr) return C_ERR_NOT_NAME_OBJ;
  if (typeOID == nullptr || oidLen == 0) return C_ERR_BAD_ARGUMENT;
  if (value == nullptr && valueLen != 0) return C_ERR_BAD_ARGUMENT;
  // The copy of a BMPString holds two octets per character.
  if (valueTag == C_TAG_BMP_STRING && valueLen > 0x7FFFFFFFu) return C_ERR_VALUE_LENGTH;
  ck::AvaLists lists{name->avas, name->extraOids};
  int status = ck::AddAva(&lists, typeOID, oidLen, valueTag, value, valueLen, newRDN, index);
  name->avas = lists.avas;
  name->extraOids = lists.extraOids;
  if (status == 0) name->stale = 1;
  return status;
}

int C_GetNameAVACount(C_NAME_OBJ handle, uint32_t* count) {
  C_NameObj* name = AsName(handle);
  if (name == nullptr) return C_ERR_NOT_NAME_OBJ;
  if (count == nullptr) return C_ERR_NULL_OUTPUT;
  *count = name->avas.count;
  return 0;
}

int C_GetNameAVA(C_NAME_OBJ handle, uint32_t index, const unsigned char** typeOID, uint32_t* oidLen,
                 uint32_t* valueTag, const unsigned char** value, uint32_t* valueLen, uint32_t* newRDN) {
  C_NameObj* name = AsName(handle);
  if (name == nullptr) return C_ERR_NOT_NAME_OBJ;
  if (typeOID == nullptr || oidLen == nullptr || valueTag == nullptr || value == nullptr || valueLen == nullptr ||
      newRDN == nullptr) {
    return C_ERR_NULL_OUTPUT;
  }
  if (index >= name->avas.count) return C_ERR_INDEX;
  const auto* ava = static_cast<const C_NAME_AVA*>(name->avas.items[index]);
  *typeOID = ava->typeOID;
  *oidLen = ava->oidLen;
  *valueTag = ava->valueTag;
  *value = ava->value;
  *valueLen = ava->valueLen;
  *newRDN = ava->newRDN;
  return 0;
}

int C_GetNameDER(C_NAME_OBJ handle, const unsigned char** der, uint32_t* derLen) {
  C_NameObj* name = AsName(handle);
  if (name == nullptr) return C_ERR_NOT_NAME_OBJ;
  if (der == nullptr || derLen == nullptr) return C_ERR_NULL_OUTPUT;
  *der = nullptr;
  *derLen = 0;
  if (name->avas.count == 0) return 0;
  if (name->stale || name->der.data == nullptr) {
    ck::NameEncoder encoder{&name->avas, 0};
    void* slots[ck::kSlotCount] = {nullptr, &encoder, nullptr, nullptr, nullptr};
    uint8_t* out = nullptr;
    uint32_t outLen = 0;
    int status = ck::AsnEncode(ck::kNameTemplate, ck::AsnSlots{slots, ck::kSlotCount}, 0, &out, &outLen);
    if (status != 0) return ck::FromCodecCode(status);
    ck::ReleaseDer(name);
    name->der = ck::ByteRange{out, outLen};
    name->stale = 0;
  }
  *der = name->der.data;
  *derLen = name->der.len;
  return 0;
}

int C_SetNameBER(C_NAME_OBJ handle, const unsigned char* ber, uint32_t berLen) {
  C_NameObj* name = AsName(handle);
  if (name == nullptr) return C_ERR_NOT_NAME_OBJ;
  if (ber == nullptr || berLen == 0) return C_ERR_BAD_ARGUMENT;
  uint8_t* der = nullptr;
  uint32_t derLen = 0;
  int status = ck::AsnNormalise(ck::kNameTemplate, ck::ByteRange{ber, berLen}, &der, &derLen);
  if (status != 0) return ck::ReplaceInContext(ck::FromCodecCode(status), C_ERR_BAD_ENCODING);
  return ck::ReplaceFromDER(name, der, derLen);
}

int C_ResetName(C_NAME_OBJ handle) {
  C_NameObj* name = AsName(handle);
  if (name == nullptr) return C_ERR_NOT_NAME_OBJ;
  ck::AvaLists lists{name->avas, name->extraOids};
  ck::ReleaseLists(&lists);
  name->avas = lists.avas;
  name->extraOids = lists.extraOids;
  ck::ReleaseDer(name);
  name->stale = 0;
  return 0;
}

}  // extern "C"
