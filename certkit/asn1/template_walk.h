// Shape of template entries, shared by the decoder, normaliser and encoder.
#ifndef KVCATOOL_CERTKIT_ASN1_TEMPLATE_WALK_H
#define KVCATOOL_CERTKIT_ASN1_TEMPLATE_WALK_H

#include "certkit/asn1/asn1.h"

namespace ck::detail {

inline uint32_t Ident(const AsnEntry& e) { return e.tagAndFlags & 0xFF; }
inline bool IsEnd(const AsnEntry& e) { return (e.tagAndFlags & 0x1FF) == kAsnEnd; }
inline bool IsAny(const AsnEntry& e) { return (e.tagAndFlags & 0x1FF) == kAsnAny; }
inline bool IsOptional(const AsnEntry& e) { return (e.tagAndFlags & kAsnOptional) != 0; }
inline bool IsOf(const AsnEntry& e) { return (e.tagAndFlags & kAsnOf) != 0; }
inline bool IsConstructedEntry(const AsnEntry& e) {
  return !IsAny(e) && !IsEnd(e) && (e.tagAndFlags & kAsnConstructed) != 0;
}
// SEQUENCE, SET and IMPLICIT-tagged constructed entries have a body closed by END.
inline bool HasBody(const AsnEntry& e) {
  return IsConstructedEntry(e) &&
         ((e.tagAndFlags & kAsnClassMask) == 0 || (e.tagAndFlags & kAsnTaggedBody) != 0);
}
// A tagged constructed entry without a body of its own wraps the next entry.
inline bool IsExplicit(const AsnEntry& e) { return IsConstructedEntry(e) && !HasBody(e); }
// Bodies whose elements DER orders: SET, SET OF and implicitly tagged SETs.
inline bool IsSortedBody(const AsnEntry& e) {
  return Ident(e) == kAsnSet || ((e.tagAndFlags & kAsnTaggedBody) != 0 && (e.tagAndFlags & kAsnSetBody) != 0);
}

// Number of entries the element at |e| spans (itself, its body and END, or
// what it wraps). Templates are checked by CheckTemplate first.
uint32_t EntryWidth(const AsnEntry* e);

// Checks the template's shape from |e|: bodies closed by END, an OF body
// holding exactly one element entry, an EXPLICIT entry wrapping one entry, no
// streaming flags. Returns 0, kAsnErrStreamingUnsupported or kAsnErrArgument.
int CheckTemplate(const AsnEntry* e);

// True when some entry from |e| over |width| entries has a non-null slot.
bool AnySlotUsed(const AsnEntry* e, uint32_t width, AsnSlots slots);

// The slot of |e|: null for slot 0 or an index beyond the array.
inline void* SlotOf(const AsnEntry& e, AsnSlots slots) {
  if (e.slot == 0 || e.slot >= slots.count || slots.slots == nullptr) return nullptr;
  return slots.slots[e.slot];
}

}  // namespace ck::detail

#endif
