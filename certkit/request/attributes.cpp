// Attributes objects: the attributes of a PKCS #10 request (RFC 2986 4.1),
// kept as their DER SET OF Attribute with a list of the attribute types.
#include "certkit/errors.h"
#include "certkit/request/request.h"
#include "cryptokit/qmemory.h"

namespace ck {

namespace {

//   Attributes ::= SET OF Attribute
//   Attribute  ::= SEQUENCE { type OBJECT IDENTIFIER, values SET OF ANY }
const AsnEntry kAttributes[] = {
    {kAsnSet | kAsnOf, nullptr, nullptr, 0},
    {kAsnSequence, nullptr, nullptr, 0},
    {kAsnOid, nullptr, nullptr, 0},
    {kAsnSet | kAsnOf, nullptr, nullptr, 0},
    {kAsnAny, nullptr, nullptr, 0},
    {kAsnEnd, nullptr, nullptr, 0},
    {kAsnEnd, nullptr, nullptr, 0},
    {kAsnEnd, nullptr, nullptr, 0},
};

void FreeEntries(PtrList* entries) {
  for (uint32_t i = 0; i < entries->count; ++i) QMem_SecureRelease(entries->items[i]);
  PtrListFree(entries);
}

// Builds the list of attributes of the DER |der| (already normalised).
int ParseEntries(ByteRange der, PtrList* entries) {
  ByteRange body{};
  if (AsnParseExpected(der, kAsnSet, &body) != 0) return C_ERR_REQUEST_ATTRIBUTES;
  for (uint32_t off = 0; off < body.len;) {
    ByteRange attribute{};
    uint32_t attributeLen = 0;
    if (AsnParseExpected(ByteRange{body.data + off, body.len - off}, kAsnSequence, &attribute, &attributeLen) != 0) {
      return C_ERR_REQUEST_ATTRIBUTES;
    }
    ByteRange type{};
    uint32_t typeLen = 0;
    if (AsnParseExpected(attribute, kAsnOid, &type, &typeLen) != 0 || type.len == 0) return C_ERR_REQUEST_ATTRIBUTES;
    auto* entry = static_cast<AttributeEntry*>(QMem_Allocate(sizeof(AttributeEntry)));
    if (entry == nullptr) return C_ERR_ALLOC;
    entry->type = type;
    entry->values = ByteRange{attribute.data + typeLen, attribute.len - typeLen};
    if (PtrListAppend(entries, entry) == kListNoMemory) {
      QMem_SecureRelease(entry);
      return C_ERR_ALLOC;
    }
    off += attributeLen;
  }
  return 0;
}

void ReleaseAttributes(ObjectHeader* object) {
  auto* attributes = reinterpret_cast<C_AttributesObj*>(object);
  AttributesEmpty(attributes);
  QMem_Wipe(attributes, sizeof(C_AttributesObj));
  QMem_SecureRelease(attributes);
}

const ObjectClass kAttributesClass = {ReleaseAttributes};

C_AttributesObj* AsAttributes(C_ATTRIBUTES_OBJ handle) {
  return HasTypeTag(handle, C_TAG_ATTRIBUTES_OBJ) ? handle : nullptr;
}

}  // namespace

void AttributesEmpty(C_AttributesObj* attributes) {
  FreeEntries(&attributes->entries);
  QMem_SecureRelease(const_cast<uint8_t*>(attributes->der.data));
  attributes->der = ByteRange{nullptr, 0};
  attributes->stale = 0;
}

void AttributesSwap(C_AttributesObj* a, C_AttributesObj* b) {
  const ByteRange der = a->der;
  const uint32_t stale = a->stale;
  const PtrList entries = a->entries;
  a->der = b->der;
  a->stale = b->stale;
  a->entries = b->entries;
  b->der = der;
  b->stale = stale;
  b->entries = entries;
}

int AttributesSetFromDER(C_AttributesObj* attributes, const uint8_t* der, uint32_t derLen) {
  if (der == nullptr || derLen == 0) {
    AttributesEmpty(attributes);
    return 0;
  }
  C_AttributesObj fresh{};
  uint8_t* copy = nullptr;
  uint32_t copyLen = 0;
  int status = AsnNormalise(kAttributes, ByteRange{der, derLen}, &copy, &copyLen);
  if (status != 0) return status == kAsnErrMemory ? C_ERR_ALLOC : C_ERR_REQUEST_ATTRIBUTES;
  fresh.der = ByteRange{copy, copyLen};
  status = ParseEntries(fresh.der, &fresh.entries);
  if (status == 0) AttributesSwap(attributes, &fresh);
  AttributesEmpty(&fresh);
  return status;
}

}  // namespace ck

using ck::AsAttributes;

extern "C" {

int C_CreateAttributesObject(C_ATTRIBUTES_OBJ* attributes) {
  if (attributes == nullptr) return C_ERR_NOT_ATTRIBUTES_OBJ;
  *attributes = nullptr;
  auto* object = static_cast<C_AttributesObj*>(QMem_Allocate(sizeof(C_AttributesObj)));
  if (object == nullptr) return C_ERR_ALLOC;
  *object = C_AttributesObj{};
  object->header = ck::ObjectHeader{&ck::kAttributesClass, C_TAG_ATTRIBUTES_OBJ};
  *attributes = object;
  return 0;
}

void C_DestroyAttributesObject(C_ATTRIBUTES_OBJ* attributes) {
  if (attributes == nullptr || AsAttributes(*attributes) == nullptr) return;
  (*attributes)->header.cls->release(&(*attributes)->header);
  *attributes = nullptr;
}

int C_SetAttributesDER(C_ATTRIBUTES_OBJ handle, const unsigned char* ber, uint32_t berLen) {
  C_AttributesObj* attributes = AsAttributes(handle);
  if (attributes == nullptr) return C_ERR_NOT_ATTRIBUTES_OBJ;
  return ck::AttributesSetFromDER(attributes, ber, berLen);
}

int C_GetAttributesDER(C_ATTRIBUTES_OBJ handle, const unsigned char** der, uint32_t* derLen) {
  C_AttributesObj* attributes = AsAttributes(handle);
  if (attributes == nullptr) return C_ERR_NOT_ATTRIBUTES_OBJ;
  if (der == nullptr || derLen == nullptr) return C_ERR_NULL_OUTPUT;
  *der = attributes->der.data;
  *derLen = attributes->der.len;
  return 0;
}

int C_GetAttributeCount(C_ATTRIBUTES_OBJ handle, uint32_t* count) {
  C_AttributesObj* attributes = AsAttributes(handle);
  if (attributes == nullptr) return C_ERR_NOT_ATTRIBUTES_OBJ;
  if (count == nullptr) return C_ERR_NULL_OUTPUT;
  *count = attributes->entries.count;
  return 0;
}

}  // extern "C"
