// Template-driven BER decoding. Byte ranges handed to the slots point into
// the caller's input; nothing is copied.
#include "certkit/asn1/asn1.h"
#include "certkit/asn1/template_walk.h"

namespace ck {

namespace {

using detail::AnySlotUsed;
using detail::EntryWidth;
using detail::HasBody;
using detail::Ident;
using detail::IsAny;
using detail::IsEnd;
using detail::IsExplicit;
using detail::IsOf;
using detail::IsOptional;
using detail::SlotOf;

struct DecodeContext {
  AsnSlots slots;
  uint32_t options;
};

int DecodeEntry(const DecodeContext& c, const AsnEntry* e, const uint8_t* p, uint32_t avail, uint32_t index,
                uint32_t depth, uint32_t* used);

// True when the entry may be left out at the end of a body.
bool MayBeMissing(const DecodeContext& c, const AsnEntry& e) {
  return IsOptional(e) || SlotOf(e, c.slots) == AsnAbsent();
}

int DecodeBody(const DecodeContext& c, const AsnEntry* e, const AsnHeader& h, uint32_t depth) {
  const uint8_t* content = h.content;
  const uint32_t len = h.contentLen;
  uint32_t off = 0;
  if (IsOf(*e)) {
    for (uint32_t index = 0; off < len; ++index) {
      uint32_t used = 0;
      int status = DecodeEntry(c, e + 1, content + off, len - off, index, depth + 1, &used);
      if (status != 0) return status;
      if (used == 0) return kAsnErrEncoding;  // an element of another tag
      off += used;
    }
    return 0;
  }
  for (uint32_t pos = 1; !IsEnd(e[pos]); pos += EntryWidth(e + pos)) {
    if (off == len) {
      if (!MayBeMissing(c, e[pos])) return kAsnErrEncoding;
      continue;
    }
    uint32_t used = 0;
    int status = DecodeEntry(c, e + pos, content + off, len - off, 0, depth + 1, &used);
    if (status != 0) return status;
    off += used;
  }
  // Elements left over that the template has no entry for.
  return off == len ? 0 : kAsnErrEncoding;
}

int DecodeEntry(const DecodeContext& c, const AsnEntry* e, const uint8_t* p, uint32_t avail, uint32_t index,
                uint32_t depth, uint32_t* used) {
  *used = 0;
  if (depth > kAsnMaxDepth) return kAsnErrEncoding;
  void* slot = SlotOf(*e, c.slots);
  if (e->slot != 0 && e->slot >= c.slots.count) return kAsnErrArgument;
  if (slot == AsnAbsent()) return 0;

  AsnHeader h;
  // Inside a template every reader failure is an encoding fault of the
  // input: the element does not fit the bytes around it.
  if (AsnReadElement(p, avail, &h) != 0) return kAsnErrEncoding;
  if (!IsAny(*e) && (h.extraIdentOctets != 0 || h.ident != Ident(*e))) {
    if (IsOptional(*e)) return 0;
    return kAsnErrEncoding;
  }

  if (HasBody(*e)) {
    // Walk the body only when something inside it is wanted.
    const uint32_t width = EntryWidth(e);
    if (AnySlotUsed(e + 1, width - 2, c.slots)) {
      int status = DecodeBody(c, e, h, depth);
      if (status != 0) return status;
    }
  } else if (IsExplicit(*e)) {
    uint32_t inner = 0;
    int status = DecodeEntry(c, e + 1, h.content, h.contentLen, 0, depth + 1, &inner);
    if (status != 0) return status;
    if (inner != h.contentLen) return kAsnErrEncoding;
  }

  if (e->decode != nullptr) {
    int status = e->decode(h.ident, c.options, index, p, h.totalLen, h.content, h.contentLen, slot);
    if (status != 0) return status;
  } else if (slot != nullptr) {
    auto* range = static_cast<ByteRange*>(slot);
    range->data = p;
    range->len = h.totalLen;
  }
  *used = h.totalLen;
  return 0;
}

}  // namespace

int AsnDecode(const AsnEntry* entry, AsnSlots slots, uint32_t options, ByteRange input, uint32_t* consumed) {
  if (consumed != nullptr) *consumed = 0;
  int status = detail::CheckTemplate(entry);
  if (status != 0) return status;
  if (input.data == nullptr && input.len != 0) return kAsnErrArgument;
  DecodeContext c{slots, options};
  uint32_t used = 0;
  status = DecodeEntry(c, entry, input.data, input.len, 0, 0, &used);
  if (status != 0) return status;
  if (used != input.len) return kAsnErrEncoding;
  if (consumed != nullptr) *consumed = used;
  return 0;
}

}  // namespace ck
