// DER normalisation (X.690 clause 10 and 11): one checking pass; a plain copy
// when the input is already DER; otherwise a second pass that re-encodes the
// elements that are not DER and copies the others whole.
//
// Only identifiers and lengths are looked at here (plus the unused bits of
// BIT STRINGs and the order of SET elements); content rules are applied when
// the DER copy is decoded.
#include "certkit/asn1/asn1.h"
#include "certkit/asn1/template_walk.h"
#include "cryptokit/qmemory.h"

namespace ck {

namespace {

using detail::EntryWidth;
using detail::HasBody;
using detail::Ident;
using detail::IsAny;
using detail::IsEnd;
using detail::IsExplicit;
using detail::IsOf;
using detail::IsOptional;
using detail::IsSortedBody;

// One walker for both passes: with |list| null it only checks and reports in
// |*clean| whether every element is DER; with a list it appends the DER form.
struct Walker {
  ElementList* list;
};

bool IsBitStringEntry(const AsnEntry* e) {
  return e != nullptr && (e->decode == AsnDecodeBitString || Ident(*e) == kAsnBitString);
}

// Unused bits of a primitive BIT STRING content that are not zero.
bool BitStringDirty(const AsnHeader& h) {
  if (h.contentLen == 0) return false;  // the decoder refuses it later
  uint32_t unused = h.content[0];
  if (unused == 0 || unused > 7 || h.contentLen < 2) return false;
  return (h.content[h.contentLen - 1] & ((1u << unused) - 1)) != 0;
}

// Whether the children filling a constructed content are in ascending order.
bool ChildrenAscending(const uint8_t* content, uint32_t len) {
  const uint8_t* prev = nullptr;
  uint32_t prevLen = 0;
  for (uint32_t off = 0; off < len;) {
    AsnHeader h;
    if (AsnReadElement(content + off, len - off, &h) != 0) return true;  // reported by the walk
    if (prev != nullptr && AsnCompareEncodings(prev, prevLen, content + off, h.totalLen) > 0) return false;
    prev = content + off;
    prevLen = h.totalLen;
    off += h.totalLen;
  }
  return true;
}

int WalkEntry(const Walker& w, const AsnEntry* e, const uint8_t* p, uint32_t avail, uint32_t depth,
              uint32_t* used, bool* clean);

// An element taken whole (ANY, or a primitive entry): its inner structure is
// walked generically.
int WalkGeneric(const Walker& w, const AsnEntry* e, const uint8_t* p, const AsnHeader& h, uint32_t depth,
                bool* clean) {
  if (depth > kAsnMaxDepth) return kAsnErrEncoding;
  const bool constructed = (h.ident & kAsnConstructed) != 0;
  bool here = h.minimalLength;
  if (!constructed && (IsBitStringEntry(e) || (h.ident == kAsnBitString && h.extraIdentOctets == 0))) {
    here = here && !BitStringDirty(h);
  }
  const bool sorted = constructed && h.ident == kAsnSet && h.extraIdentOctets == 0;
  if (w.list == nullptr) {
    if (constructed) {
      if (sorted && !ChildrenAscending(h.content, h.contentLen)) here = false;
      for (uint32_t off = 0; off < h.contentLen;) {
        AsnHeader child;
        if (AsnReadElement(h.content + off, h.contentLen - off, &child) != 0) return kAsnErrEncoding;
        int status = WalkGeneric(w, nullptr, h.content + off, child, depth + 1, clean);
        if (status != 0) return status;
        off += child.totalLen;
      }
    }
    if (!here) *clean = false;
    return 0;
  }
  // Building: copy what is already DER, re-encode the rest.
  bool subtreeClean = true;
  int status = WalkGeneric(Walker{nullptr}, e, p, h, depth, &subtreeClean);
  if (status != 0) return status;
  if (subtreeClean) return ElementAppendRaw(w.list, p, h.totalLen);
  if (constructed) {
    status = ElementAppendStart(w.list, h.ident, p + 1, h.extraIdentOctets);
    for (uint32_t off = 0; status == 0 && off < h.contentLen;) {
      AsnHeader child;
      if (AsnReadElement(h.content + off, h.contentLen - off, &child) != 0) return kAsnErrEncoding;
      status = WalkGeneric(w, nullptr, h.content + off, child, depth + 1, clean);
      off += child.totalLen;
    }
    return status != 0 ? status : ElementAppendEnd(w.list, sorted);
  }
  const uint8_t* content = h.content;
  if (!IsBitStringEntry(e) && !(h.ident == kAsnBitString && h.extraIdentOctets == 0)) {
    // Only the length form was wrong.
  } else if (BitStringDirty(h)) {
    uint8_t* copy = ElementListCopy(w.list, h.content, h.contentLen);
    if (copy == nullptr) return kAsnErrMemory;
    copy[h.contentLen - 1] &= static_cast<uint8_t>(0xFF << copy[0]);
    content = copy;
  }
  return ElementAppendContent(w.list, h.ident, content, h.contentLen, false, p + 1, h.extraIdentOctets);
}

int WalkBody(const Walker& w, const AsnEntry* e, const AsnHeader& h, uint32_t depth, bool* clean) {
  const uint8_t* content = h.content;
  const uint32_t len = h.contentLen;
  uint32_t off = 0;
  if (IsOf(*e)) {
    while (off < len) {
      uint32_t used = 0;
      int status = WalkEntry(w, e + 1, content + off, len - off, depth + 1, &used, clean);
      if (status != 0) return status;
      if (used == 0) return kAsnErrEncoding;
      off += used;
    }
    return 0;
  }
  for (uint32_t pos = 1; !IsEnd(e[pos]); pos += EntryWidth(e + pos)) {
    if (off == len) {
      if (!IsOptional(e[pos])) return kAsnErrEncoding;
      continue;
    }
    uint32_t used = 0;
    int status = WalkEntry(w, e + pos, content + off, len - off, depth + 1, &used, clean);
    if (status != 0) return status;
    off += used;
  }
  return off == len ? 0 : kAsnErrEncoding;
}

int WalkEntry(const Walker& w, const AsnEntry* e, const uint8_t* p, uint32_t avail, uint32_t depth,
              uint32_t* used, bool* clean) {
  *used = 0;
  if (depth > kAsnMaxDepth) return kAsnErrEncoding;
  AsnHeader h;
  if (AsnReadElement(p, avail, &h) != 0) return kAsnErrEncoding;
  if (!IsAny(*e) && (h.extraIdentOctets != 0 || h.ident != Ident(*e))) {
    if (IsOptional(*e)) return 0;
    return kAsnErrEncoding;
  }
  *used = h.totalLen;
  if (!HasBody(*e) && !IsExplicit(*e)) return WalkGeneric(w, e, p, h, depth, clean);

  if (w.list == nullptr) {
    if (!h.minimalLength) *clean = false;
    if (IsSortedBody(*e) && !ChildrenAscending(h.content, h.contentLen)) *clean = false;
  } else {
    bool subtreeClean = true;
    uint32_t ignored = 0;
    int status = WalkEntry(Walker{nullptr}, e, p, avail, depth, &ignored, &subtreeClean);
    if (status != 0) return status;
    if (subtreeClean) return ElementAppendRaw(w.list, p, h.totalLen);
    status = ElementAppendStart(w.list, h.ident);
    if (status != 0) return status;
  }
  int status;
  if (HasBody(*e)) {
    status = WalkBody(w, e, h, depth, clean);
  } else {
    uint32_t inner = 0;
    status = WalkEntry(w, e + 1, h.content, h.contentLen, depth + 1, &inner, clean);
    if (status == 0 && inner != h.contentLen) status = kAsnErrEncoding;
  }
  if (status != 0 || w.list == nullptr) return status;
  return ElementAppendEnd(w.list, HasBody(*e) && IsSortedBody(*e));
}

}  // namespace

int AsnNormalise(const AsnEntry* entry, ByteRange input, uint8_t** out, uint32_t* outLen) {
  *out = nullptr;
  *outLen = 0;
  int status = detail::CheckTemplate(entry);
  if (status != 0) return status;
  if (input.data == nullptr || input.len == 0) return kAsnErrEncoding;
  bool clean = true;
  uint32_t used = 0;
  status = WalkEntry(Walker{nullptr}, entry, input.data, input.len, 0, &used, &clean);
  if (status != 0) return status;
  if (used != input.len) return kAsnErrEncoding;
  if (clean) {
    auto* copy = static_cast<uint8_t*>(QMem_Allocate(input.len));
    if (copy == nullptr) return kAsnErrMemory;
    QMem_Copy(copy, input.data, input.len);
    *out = copy;
    *outLen = input.len;
    return 0;
  }
  ElementList list;
  status = WalkEntry(Walker{&list}, entry, input.data, input.len, 0, &used, &clean);
  if (status == 0) status = ElementListWrite(&list, out, outLen);
  ElementListRelease(&list);
  return status;
}

}  // namespace ck
