// Extensions objects and extension registries: Extensions (RFC 5280 4.1,
// 4.2) decoded entry by entry with the rules on OIDs, values, kinds and
// criticality, and written back octet for octet.
#include "certkit/ext/extensions.h"

#include "certkit/errors.h"
#include "certkit/ext/der_walk.h"
#include "cryptokit/qmemory.h"

namespace ck {

namespace {

const uint8_t kBasicConstraintsOid[] = {0x55, 0x1D, 0x13};

// ---------------------------------------------------------------------------
// Registry.

void ReleaseRegisteredType(ExtensionType* type) {
  if (type == nullptr) return;
  QMem_SecureRelease(const_cast<uint8_t*>(type->oid));
  QMem_SecureRelease(type);
}

void ReleaseRegistry(ObjectHeader* object) {
  auto* registry = reinterpret_cast<C_ExtRegistryObj*>(object);
  for (uint32_t i = 0; i < registry->types.count; ++i) {
    ReleaseRegisteredType(static_cast<ExtensionType*>(registry->types.items[i]));
  }
  PtrListFree(&registry->types);
  registry->header.typeTag = 0;
  QMem_SecureRelease(registry);
}

const ObjectClass kRegistryClass = {ReleaseRegistry};

C_ExtRegistryObj* AsRegistry(C_EXT_REGISTRY handle) {
  return HasTypeTag(handle, C_TAG_EXT_REGISTRY) ? handle : nullptr;
}

bool SameOid(const uint8_t* a, uint32_t aLen, const uint8_t* b, uint32_t bLen) {
  return aLen == bLen && QMem_Compare(a, b, aLen) == 0;
}

// The registry first, then the built-in table; null when neither has |oid|.
const ExtensionType* FindType(const C_ExtRegistryObj* registry, const uint8_t* oid, uint32_t oidLen) {
  if (registry != nullptr) {
    for (uint32_t i = 0; i < registry->types.count; ++i) {
      const auto* type = static_cast<const ExtensionType*>(registry->types.items[i]);
      if (SameOid(type->oid, type->oidLen, oid, oidLen)) return type;
    }
  }
  return FindBuiltinExtensionType(oid, oidLen);
}

// ---------------------------------------------------------------------------
// Entries.

void ReleaseEntry(ExtensionEntry* entry) {
  if (entry == nullptr) return;
  if (entry->decoded != nullptr && entry->type != nullptr && entry->type->handler != nullptr) {
    entry->type->handler->release(entry->decoded);
  }
  QMem_SecureRelease(const_cast<uint8_t*>(entry->oid.data));
  QMem_SecureRelease(const_cast<uint8_t*>(entry->value.data));
  QMem_SecureRelease(const_cast<uint8_t*>(entry->element.data));
  QMem_SecureRelease(entry);
}

void ReleaseEntries(PtrList* entries) {
  for (uint32_t i = 0; i < entries->count; ++i) ReleaseEntry(static_cast<ExtensionEntry*>(entries->items[i]));
  PtrListFree(entries);
}

void ReleaseDer(C_ExtensionsObj* extensions) {
  QMem_SecureRelease(const_cast<uint8_t*>(extensions->der.data));
  extensions->der = ByteRange{nullptr, 0};
}

// A new block holding |range| (1 byte when it is empty); null when memory
// runs out.
uint8_t* CopyBytes(ByteRange range) { return static_cast<uint8_t*>(QMem_Duplicate(range.data, range.len)); }

// What "UNKNOWN_TYPE" hands out: the contents of a value that is one OCTET
// STRING, else the value itself.
ByteRange HandedOut(const ExtensionType* type, ByteRange value) {
  if (type != UnknownExtensionType()) return value;
  AsnHeader h;
  if (AsnReadElement(value.data, value.len, &h) == 0 && h.totalLen == value.len && h.extraIdentOctets == 0 &&
      h.ident == kAsnOctetString && !h.indefinite) {
    return ByteRange{h.content, h.contentLen};
  }
  return value;
}

// ---------------------------------------------------------------------------
// Template.
//
//   Extensions ::= SEQUENCE OF Extension
//   Extension ::= SEQUENCE {
//     extnID     OBJECT IDENTIFIER,
//     critical   BOOLEAN DEFAULT FALSE,
//     extnValue  OCTET STRING }
//
// Slots: 1 the decoder's state (one Extension per call, after its parts are
// read into slots 2 to 4); when encoding, slot 1 holds the encoder's state.

constexpr uint32_t kSlotDecoder = 1;
constexpr uint32_t kSlotOid = 2;
constexpr uint32_t kSlotCritical = 3;
constexpr uint32_t kSlotValue = 4;
constexpr uint32_t kSlotCount = 5;

struct ExtensionDecoder {
  const C_ExtensionsObj* object;
  PtrList entries;
  ByteRange oid;
  uint32_t critical;
  ByteRange value;
};

struct ExtensionEncoder {
  const PtrList* entries;
};

bool HasOid(const PtrList& entries, ByteRange oid, uint32_t* position) {
  for (uint32_t i = 0; i < entries.count; ++i) {
    const auto* known = static_cast<const ExtensionEntry*>(entries.items[i]);
    if (SameOid(known->oid.data, known->oid.len, oid.data, oid.len)) {
      if (position != nullptr) *position = i;
      return true;
    }
  }
  return false;
}

// Checks one extension for |object| with the rules of decoding (all but the
// repeated OID) and makes its entry, with copies of |oid|, |value| and, when
// it has bytes, |element| (the Extension as read).
int MakeEntry(const C_ExtensionsObj* object, ByteRange oid, uint32_t critical, ByteRange value, ByteRange element,
              ExtensionEntry** out) {
  *out = nullptr;
  if (oid.len == 0) return C_ERR_BAD_ENCODING;
  if (value.len == 0 && oid.len != 3 && !(oid.len >= 3 && QMem_Compare(oid.data, kBasicConstraintsOid, 3) == 0)) {
    return C_ERR_BAD_ENCODING;
  }
  const ExtensionType* type = FindType(AsRegistry(object->registry), oid.data, oid.len);
  if (type == nullptr) {
    if (critical && !object->lenient) return C_ERR_EXT_UNHANDLED_CRITICAL;
    type = UnknownExtensionType();
  }
  int status = 0;
  // Read for display, criticality is taken as the issuer wrote it (a
  // non-critical basicConstraints among others).
  if (!object->lenient) {
    if ((type->kinds & object->kind) == 0) {
      status = C_ERR_EXT_KIND;
    } else if (type->criticalityMayDiffer) {
      if (type->criticalByDefault && !critical) status = C_ERR_EXT_NOT_CRITICAL;
    } else if ((critical != 0) != (type->criticalByDefault != 0)) {
      status = C_ERR_EXT_CRITICALITY;
    }
  }
  uint32_t valueCount = 1;
  void* decoded = nullptr;
  if (status == 0) {
    status = type->handler != nullptr ? type->handler->decode(value.data, value.len, &decoded)
                                      : type->check(value, &valueCount);
  }
  if (status != 0) {
    // Read for display: the extension is kept as it stands, unhandled.
    if (!object->lenient || status == C_ERR_ALLOC) return status;
    type = UnknownExtensionType();
    valueCount = 1;
    decoded = nullptr;
  }
  auto* entry = static_cast<ExtensionEntry*>(QMem_Allocate(sizeof(ExtensionEntry)));
  if (entry == nullptr) {
    if (decoded != nullptr) type->handler->release(decoded);
    return C_ERR_ALLOC;
  }
  *entry = ExtensionEntry{};
  entry->type = type;
  entry->decoded = decoded;
  entry->critical = critical ? 1 : 0;
  entry->valueCount = valueCount;
  entry->oid = ByteRange{CopyBytes(oid), oid.len};
  entry->value = ByteRange{CopyBytes(value), value.len};
  if (element.len != 0) entry->element = ByteRange{CopyBytes(element), element.len};
  if (entry->oid.data == nullptr || entry->value.data == nullptr ||
      (element.len != 0 && entry->element.data == nullptr)) {
    ReleaseEntry(entry);
    return C_ERR_ALLOC;
  }
  entry->handedOut = HandedOut(type, entry->value);
  *out = entry;
  return 0;
}

// Checks one Extension read from an encoding (the rules in order) and
// appends its entry.
int AddEntry(ExtensionDecoder* d, ByteRange element) {
  ExtensionEntry* entry = nullptr;
  int status = MakeEntry(d->object, d->oid, d->critical, d->value, element, &entry);
  if (status != 0) return status;
  if (HasOid(d->entries, d->oid, nullptr)) {
    ReleaseEntry(entry);
    return C_ERR_BAD_ENCODING;
  }
  if (PtrListAppend(&d->entries, entry) == kListNoMemory) {
    ReleaseEntry(entry);
    return C_ERR_ALLOC;
  }
  return 0;
}

int DecodeExtension(uint32_t, uint32_t, uint32_t, const uint8_t* element, uint32_t elementLen, const uint8_t*,
                    uint32_t, void* slot) {
  if (slot == nullptr) return 0;
  auto* d = static_cast<ExtensionDecoder*>(slot);
  int status = AddEntry(d, ByteRange{element, elementLen});
  // The BOOLEAN is optional: the next Extension starts from "not critical".
  d->oid = ByteRange{nullptr, 0};
  d->value = ByteRange{nullptr, 0};
  d->critical = 0;
  return status;
}

const uint8_t kTrue = 0xFF;

int EncodeExtension(ElementList* list, uint32_t, uint32_t, uint32_t index, const void* slot) {
  const auto* e = static_cast<const ExtensionEncoder*>(slot);
  if (e == nullptr || index >= e->entries->count) return ElementAppendEnd(list, false);
  const auto* entry = static_cast<const ExtensionEntry*>(e->entries->items[index]);
  // An extension read from an encoding goes back octet for octet.
  if (entry->element.data != nullptr) return ElementAppendRaw(list, entry->element.data, entry->element.len);
  int status = ElementAppendStart(list, kAsnSequence);
  if (status == 0) status = ElementAppendContent(list, kAsnOid, entry->oid.data, entry->oid.len);
  if (status == 0 && entry->critical) status = ElementAppendContent(list, kAsnBoolean, &kTrue, 1);
  if (status == 0) status = ElementAppendContent(list, kAsnOctetString, entry->value.data, entry->value.len);
  if (status == 0) status = ElementAppendEnd(list, false);
  return status;
}

const AsnEntry kExtensionsTemplate[] = {
    {kAsnSequence | kAsnOf, nullptr, nullptr, 0},
    {kAsnSequence, DecodeExtension, EncodeExtension, kSlotDecoder},
    {kAsnOid, AsnDecodeContents, nullptr, kSlotOid},
    {kAsnBoolean | kAsnOptional, AsnDecodeBoolean, nullptr, kSlotCritical},
    {kAsnOctetString, AsnDecodeContents, nullptr, kSlotValue},
    {kAsnEnd, nullptr, nullptr, 0},
    {kAsnEnd, nullptr, nullptr, 0},
};

int DecodeStatus(int status) { return status >= kAsnErrTruncated ? FromCodecCode(status) : status; }

void ReleaseExtensions(ObjectHeader* object) {
  auto* extensions = reinterpret_cast<C_ExtensionsObj*>(object);
  ReleaseEntries(&extensions->entries);
  ReleaseDer(extensions);
  extensions->header.typeTag = 0;
  QMem_SecureRelease(extensions);
}

const ObjectClass kExtensionsClass = {ReleaseExtensions};

C_ExtensionsObj* AsExtensions(C_EXTENSIONS_OBJ handle) {
  return HasTypeTag(handle, C_TAG_EXTENSIONS_OBJ) ? handle : nullptr;
}

// Decodes the DER |der| (owned by the caller) into fresh entries and, on
// success, makes them the object's and a copy of |der| its encoding.
int ReplaceFromDER(C_ExtensionsObj* extensions, ByteRange der) {
  ExtensionDecoder decoder{};
  decoder.object = extensions;
  void* slots[kSlotCount] = {nullptr, &decoder, &decoder.oid, &decoder.critical, &decoder.value};
  uint32_t used = 0;
  int status = DecodeStatus(AsnDecode(kExtensionsTemplate, AsnSlots{slots, kSlotCount}, 0, der, &used));
  uint8_t* copy = nullptr;
  if (status == 0) {
    copy = CopyBytes(der);
    if (copy == nullptr) status = C_ERR_ALLOC;
  }
  if (status != 0) {
    ReleaseEntries(&decoder.entries);
    return status;
  }
  ReleaseEntries(&extensions->entries);
  ReleaseDer(extensions);
  extensions->entries = decoder.entries;
  extensions->der = ByteRange{copy, der.len};
  extensions->stale = 0;
  extensions->presentButEmpty = decoder.entries.count == 0 ? 1 : 0;
  return 0;
}

// The DER of |entries| in a new block; an empty list gives null and 0.
int EncodeEntries(const PtrList* entries, ByteRange* der) {
  *der = ByteRange{nullptr, 0};
  if (entries->count == 0) return 0;
  ExtensionEncoder encoder{entries};
  void* slots[kSlotCount] = {nullptr, &encoder, nullptr, nullptr, nullptr};
  uint8_t* out = nullptr;
  uint32_t outLen = 0;
  int status = AsnEncode(kExtensionsTemplate, AsnSlots{slots, kSlotCount}, 0, &out, &outLen);
  if (status != 0) return FromCodecCode(status);
  *der = ByteRange{out, outLen};
  return 0;
}

// A copy of |entries|' pointer array (the entries are shared, not copied).
bool CopyList(const PtrList& entries, PtrList* copy) {
  *copy = PtrList{};
  for (uint32_t i = 0; i < entries.count; ++i) {
    if (PtrListAppend(copy, entries.items[i]) == kListNoMemory) {
      PtrListFree(copy);
      return false;
    }
  }
  return true;
}

// Makes |list| (sharing the object's entries but for the ones changed) the
// object's list, with its encoding |der|. |dropped|, an entry of the old list
// that |list| no longer holds, is released. Cannot fail.
void CommitList(C_ExtensionsObj* extensions, PtrList* list, ByteRange der, ExtensionEntry* dropped) {
  PtrListFree(&extensions->entries);
  extensions->entries = *list;
  *list = PtrList{};
  ReleaseDer(extensions);
  extensions->der = der;
  extensions->stale = 0;
  extensions->presentButEmpty = 0;
  ReleaseEntry(dropped);
}

// Adds (|replace| false) or replaces one extension: checks it, builds the
// new list and its DER, and only then changes the object.
int PutExtension(C_EXTENSIONS_OBJ handle, const unsigned char* oid, uint32_t oidLen, uint32_t critical,
                 const unsigned char* value, uint32_t valueLen, bool replace) {
  C_ExtensionsObj* extensions = AsExtensions(handle);
  if (extensions == nullptr) return C_ERR_NOT_EXTENSIONS_OBJ;
  if (!WellFormedOid(oid, oidLen) || (value == nullptr && valueLen != 0) || critical > 1) return C_ERR_BAD_ARGUMENT;
  // The extension's own checks first, in the order decoding applies them;
  // its place in the list last.
  const ByteRange oidRange{oid, oidLen};
  ExtensionEntry* entry = nullptr;
  int status = MakeEntry(extensions, oidRange, critical, ByteRange{value, valueLen}, ByteRange{nullptr, 0}, &entry);
  if (status != 0) return status;
  uint32_t position = 0;
  const bool present = HasOid(extensions->entries, oidRange, &position);
  if (present != replace) {
    ReleaseEntry(entry);
    return present ? C_ERR_EXT_PRESENT : C_ERR_NOT_FOUND;
  }
  PtrList list;
  if (!CopyList(extensions->entries, &list)) {
    ReleaseEntry(entry);
    return C_ERR_ALLOC;
  }
  ExtensionEntry* dropped = nullptr;
  if (replace) {
    dropped = static_cast<ExtensionEntry*>(list.items[position]);
    list.items[position] = entry;
  } else if (PtrListAppend(&list, entry) == kListNoMemory) {
    status = C_ERR_ALLOC;
  }
  ByteRange der{};
  if (status == 0) status = EncodeEntries(&list, &der);
  if (status != 0) {
    PtrListFree(&list);
    ReleaseEntry(entry);
    return status;
  }
  CommitList(extensions, &list, der, dropped);
  return 0;
}

}  // namespace

bool HasUnhandledCritical(const C_ExtensionsObj* extensions) {
  for (uint32_t i = 0; i < extensions->entries.count; ++i) {
    const auto* entry = static_cast<const ExtensionEntry*>(extensions->entries.items[i]);
    if (entry->critical && (entry->type == nullptr || entry->type == UnknownExtensionType())) return true;
  }
  return false;
}

void SwapExtensionContents(C_ExtensionsObj* a, C_ExtensionsObj* b) {
  C_ExtensionsObj saved = *a;
  a->stale = b->stale;
  a->der = b->der;
  a->entries = b->entries;
  a->presentButEmpty = b->presentButEmpty;
  b->stale = saved.stale;
  b->der = saved.der;
  b->entries = saved.entries;
  b->presentButEmpty = saved.presentButEmpty;
}

}  // namespace ck

using ck::AsExtensions;
using ck::AsRegistry;

extern "C" {

int C_CreateExtRegistry(C_EXT_REGISTRY* registry) {
  if (registry == nullptr) return C_ERR_NOT_EXT_REGISTRY;
  *registry = nullptr;
  auto* object = static_cast<C_ExtRegistryObj*>(QMem_Allocate(sizeof(C_ExtRegistryObj)));
  if (object == nullptr) return C_ERR_ALLOC;
  *object = C_ExtRegistryObj{};
  object->header = ck::ObjectHeader{&ck::kRegistryClass, C_TAG_EXT_REGISTRY};
  *registry = object;
  return 0;
}

void C_DestroyExtRegistry(C_EXT_REGISTRY* registry) {
  if (registry == nullptr || AsRegistry(*registry) == nullptr) return;
  (*registry)->header.cls->release(&(*registry)->header);
  *registry = nullptr;
}

int C_RegisterExtType(C_EXT_REGISTRY handle, const C_EXT_TYPE* type) {
  C_ExtRegistryObj* registry = AsRegistry(handle);
  if (registry == nullptr) return C_ERR_NOT_EXT_REGISTRY;
  if (type == nullptr || type->oid == nullptr || type->oidLen == 0) return C_ERR_BAD_ARGUMENT;
  const ck::ExtensionType* builtin = ck::FindBuiltinExtensionType(type->oid, type->oidLen);
  const uint32_t allKinds = C_EXT_KIND_CERT | C_EXT_KIND_CRL | C_EXT_KIND_CRL_ENTRY;
  if (builtin == nullptr && (type->kinds == 0 || (type->kinds & ~allKinds) != 0)) return C_ERR_EXT_KIND_INVALID;
  const C_EXT_HANDLER* h = type->handler;
  if (h == nullptr || h->decode == nullptr || h->encode == nullptr || h->copy == nullptr || h->release == nullptr) {
    return C_ERR_EXT_HANDLER_INCOMPLETE;
  }
  if (builtin != nullptr && !builtin->handlerReplaceable) return C_ERR_EXT_HANDLER_FIXED;
  // A type registered before: its handler is replaced.
  for (uint32_t i = 0; i < registry->types.count; ++i) {
    auto* known = static_cast<ck::ExtensionType*>(registry->types.items[i]);
    if (ck::SameOid(known->oid, known->oidLen, type->oid, type->oidLen)) {
      if (!known->handlerReplaceable) return C_ERR_EXT_HANDLER_FIXED;
      known->handler = h;
      return 0;
    }
  }
  auto* entry = static_cast<ck::ExtensionType*>(QMem_Allocate(sizeof(ck::ExtensionType)));
  auto* oid = ck::CopyBytes(ck::ByteRange{type->oid, type->oidLen});
  if (entry == nullptr || oid == nullptr) {
    QMem_SecureRelease(entry);
    QMem_SecureRelease(oid);
    return C_ERR_ALLOC;
  }
  if (builtin != nullptr) {
    *entry = *builtin;
  } else {
    *entry = ck::ExtensionType{"registered", nullptr, 0, type->criticalByDefault ? 1u : 0u,
                               type->criticalityFixed ? 0u : 1u, type->kinds, type->multiple ? 1u : 0u, 1,
                               nullptr, nullptr};
  }
  entry->oid = oid;
  entry->oidLen = type->oidLen;
  entry->handler = h;
  if (ck::PtrListAppend(&registry->types, entry) == ck::kListNoMemory) {
    ck::ReleaseRegisteredType(entry);
    return C_ERR_ALLOC;
  }
  return 0;
}

int C_CreateExtensionsObject(C_EXTENSIONS_OBJ* extensions, uint32_t kind, C_EXT_REGISTRY registry) {
  if (extensions == nullptr) return C_ERR_NOT_EXTENSIONS_OBJ;
  *extensions = nullptr;
  if (registry != nullptr && AsRegistry(registry) == nullptr) return C_ERR_NOT_EXT_REGISTRY;
  if (kind != C_EXT_KIND_CERT && kind != C_EXT_KIND_CRL && kind != C_EXT_KIND_CRL_ENTRY) {
    return C_ERR_EXT_KIND_INVALID;
  }
  auto* object = static_cast<C_ExtensionsObj*>(QMem_Allocate(sizeof(C_ExtensionsObj)));
  if (object == nullptr) return C_ERR_ALLOC;
  *object = C_ExtensionsObj{};
  object->header = ck::ObjectHeader{&ck::kExtensionsClass, C_TAG_EXTENSIONS_OBJ};
  object->kind = kind;
  object->registry = registry;
  *extensions = object;
  return 0;
}

void C_DestroyExtensionsObject(C_EXTENSIONS_OBJ* extensions) {
  if (extensions == nullptr || AsExtensions(*extensions) == nullptr) return;
  (*extensions)->header.cls->release(&(*extensions)->header);
  *extensions = nullptr;
}

int C_SetExtensionsDER(C_EXTENSIONS_OBJ handle, const unsigned char* der, uint32_t derLen) {
  C_ExtensionsObj* extensions = AsExtensions(handle);
  if (extensions == nullptr) return C_ERR_NOT_EXTENSIONS_OBJ;
  if (der == nullptr || derLen == 0) return C_ERR_INPUT_DATA;
  uint8_t* normal = nullptr;
  uint32_t normalLen = 0;
  int status = ck::AsnNormalise(ck::kExtensionsTemplate, ck::ByteRange{der, derLen}, &normal, &normalLen);
  if (status != 0) return ck::ReplaceInContext(ck::FromCodecCode(status), C_ERR_BAD_ENCODING);
  status = ck::ReplaceFromDER(extensions, ck::ByteRange{normal, normalLen});
  QMem_SecureRelease(normal);
  return status;
}

int C_GetExtensionsDER(C_EXTENSIONS_OBJ handle, const unsigned char** der, uint32_t* derLen) {
  C_ExtensionsObj* extensions = AsExtensions(handle);
  if (extensions == nullptr) return C_ERR_NOT_EXTENSIONS_OBJ;
  if (der == nullptr || derLen == nullptr) return C_ERR_NULL_OUTPUT;
  *der = nullptr;
  *derLen = 0;
  if (extensions->entries.count == 0 && !extensions->presentButEmpty) return 0;
  if (extensions->stale || extensions->der.data == nullptr) {
    ck::ExtensionEncoder encoder{&extensions->entries};
    void* slots[ck::kSlotCount] = {nullptr, &encoder, nullptr, nullptr, nullptr};
    uint8_t* out = nullptr;
    uint32_t outLen = 0;
    int status = ck::AsnEncode(ck::kExtensionsTemplate, ck::AsnSlots{slots, ck::kSlotCount}, 0, &out, &outLen);
    if (status != 0) return ck::FromCodecCode(status);
    ck::ReleaseDer(extensions);
    extensions->der = ck::ByteRange{out, outLen};
    extensions->stale = 0;
  }
  *der = extensions->der.data;
  *derLen = extensions->der.len;
  return 0;
}

int C_GetExtensionCount(C_EXTENSIONS_OBJ handle, uint32_t* count) {
  C_ExtensionsObj* extensions = AsExtensions(handle);
  if (extensions == nullptr) return C_ERR_NOT_EXTENSIONS_OBJ;
  if (count == nullptr) return C_ERR_NULL_OUTPUT;
  *count = extensions->entries.count;
  return 0;
}

int C_EmptyExtensions(C_EXTENSIONS_OBJ handle) {
  C_ExtensionsObj* extensions = AsExtensions(handle);
  if (extensions == nullptr) return C_ERR_NOT_EXTENSIONS_OBJ;
  ck::ReleaseEntries(&extensions->entries);
  ck::ReleaseDer(extensions);
  extensions->stale = 0;
  extensions->presentButEmpty = 0;
  return 0;
}

int C_AddExtension(C_EXTENSIONS_OBJ extensions, const unsigned char* oid, uint32_t oidLen, uint32_t critical,
                   const unsigned char* value, uint32_t valueLen) {
  return ck::PutExtension(extensions, oid, oidLen, critical, value, valueLen, false);
}

int C_ReplaceExtension(C_EXTENSIONS_OBJ extensions, const unsigned char* oid, uint32_t oidLen, uint32_t critical,
                       const unsigned char* value, uint32_t valueLen) {
  return ck::PutExtension(extensions, oid, oidLen, critical, value, valueLen, true);
}

int C_RemoveExtension(C_EXTENSIONS_OBJ handle, const unsigned char* oid, uint32_t oidLen) {
  C_ExtensionsObj* extensions = AsExtensions(handle);
  if (extensions == nullptr) return C_ERR_NOT_EXTENSIONS_OBJ;
  if (oid == nullptr || oidLen == 0) return C_ERR_BAD_ARGUMENT;
  uint32_t position = 0;
  if (!ck::HasOid(extensions->entries, ck::ByteRange{oid, oidLen}, &position)) return C_ERR_NOT_FOUND;
  ck::PtrList list;
  for (uint32_t i = 0; i < extensions->entries.count; ++i) {
    if (i != position && ck::PtrListAppend(&list, extensions->entries.items[i]) == ck::kListNoMemory) {
      ck::PtrListFree(&list);
      return C_ERR_ALLOC;
    }
  }
  ck::ByteRange der{};
  int status = ck::EncodeEntries(&list, &der);
  if (status != 0) {
    ck::PtrListFree(&list);
    return status;
  }
  ck::CommitList(extensions, &list, der, static_cast<ck::ExtensionEntry*>(extensions->entries.items[position]));
  return 0;
}

int C_GetExtension(C_EXTENSIONS_OBJ handle, uint32_t index, const unsigned char** oid, uint32_t* oidLen,
                   uint32_t* critical, const unsigned char** value, uint32_t* valueLen) {
  C_ExtensionsObj* extensions = AsExtensions(handle);
  if (extensions == nullptr) return C_ERR_NOT_EXTENSIONS_OBJ;
  if (index >= extensions->entries.count) return C_ERR_INDEX;
  const auto* entry = static_cast<const ck::ExtensionEntry*>(extensions->entries.items[index]);
  if (oid != nullptr) *oid = entry->oid.data;
  if (oidLen != nullptr) *oidLen = entry->oid.len;
  if (critical != nullptr) *critical = entry->critical;
  if (value != nullptr) *value = entry->value.data;
  if (valueLen != nullptr) *valueLen = entry->value.len;
  return 0;
}

int C_FindExtension(C_EXTENSIONS_OBJ handle, const unsigned char* oid, uint32_t oidLen, uint32_t* critical,
                    const unsigned char** value, uint32_t* valueLen) {
  C_ExtensionsObj* extensions = AsExtensions(handle);
  if (extensions == nullptr) return C_ERR_NOT_EXTENSIONS_OBJ;
  if (oid == nullptr || oidLen == 0) return C_ERR_BAD_ARGUMENT;
  for (uint32_t i = 0; i < extensions->entries.count; ++i) {
    const auto* entry = static_cast<const ck::ExtensionEntry*>(extensions->entries.items[i]);
    if (!ck::SameOid(entry->oid.data, entry->oid.len, oid, oidLen)) continue;
    if (critical != nullptr) *critical = entry->critical;
    if (value != nullptr) *value = entry->handedOut.data;
    if (valueLen != nullptr) *valueLen = entry->handedOut.len;
    return 0;
  }
  return C_ERR_NOT_FOUND;
}

}  // extern "C"
