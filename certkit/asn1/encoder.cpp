// DER encoding: the element list, the length pass, the backward writer with
// SET ordering (X.690 11.6), and the template-driven encoder.
#include <algorithm>

#include "certkit/asn1/asn1.h"
#include "certkit/asn1/template_walk.h"
#include "cryptokit/qmemory.h"

namespace ck {

namespace {

// Markers kept in the data pointer of start and END items.
const uint8_t kStartMarker = 0;
const uint8_t kSortMarker = 0;

constexpr uint32_t kGrowStep = 10;

int Reserve(ElementList* list) {
  if (list->count < list->capacity) return 0;
  if (list->capacity > 0x0FFFFFFF / sizeof(ElementItem)) return kAsnErrMemory;
  uint32_t capacity = list->capacity + kGrowStep;
  auto* grown = static_cast<ElementItem*>(QMem_Allocate(capacity * static_cast<uint32_t>(sizeof(ElementItem))));
  if (grown == nullptr) return kAsnErrMemory;
  QMem_Copy(grown, list->items, list->count * static_cast<uint32_t>(sizeof(ElementItem)));
  QMem_SecureRelease(list->items);
  list->items = grown;
  list->capacity = capacity;
  return 0;
}

int Append(ElementList* list, const ElementItem& item) {
  int status = Reserve(list);
  if (status != 0) return status;
  list->items[list->count++] = item;
  return 0;
}

bool IsContentKind(uint32_t kind) { return (kind & ~(0xFFu | kItemContinued)) == 0; }
bool IsStartKind(uint32_t kind) { return (kind & kItemStart) != 0; }

// Octets of a definite length in its shortest form.
uint32_t LengthOctets(uint32_t len) {
  if (len < 0x80) return 1;
  if (len <= 0xFF) return 2;
  if (len <= 0xFFFF) return 3;
  if (len <= 0xFFFFFF) return 4;
  return 5;
}

// Writes identifier and length in front of |pos|; returns the new position.
uint32_t WriteHeaderBackward(uint8_t* out, uint32_t pos, uint32_t ident, const uint8_t* tail, uint32_t tailLen,
                             uint32_t len) {
  uint32_t n = LengthOctets(len);
  pos -= n;
  if (n == 1) {
    out[pos] = static_cast<uint8_t>(len);
  } else {
    out[pos] = static_cast<uint8_t>(0x80 | (n - 1));
    for (uint32_t i = 1; i < n; ++i) out[pos + i] = static_cast<uint8_t>(len >> (8 * (n - 1 - i)));
  }
  pos -= tailLen;
  QMem_Copy(out + pos, tail, tailLen);
  out[--pos] = static_cast<uint8_t>(ident);
  return pos;
}

struct Child {
  const uint8_t* data;
  uint32_t len;
};

// Puts the elements that fill out[begin, end) into ascending order.
int SortChildren(uint8_t* out, uint32_t begin, uint32_t end) {
  uint32_t count = 0;
  for (uint32_t pos = begin; pos < end; ++count) {
    AsnHeader h;
    if (AsnReadTagLength(out + pos, end - pos, &h) != 0) return kAsnErrArgument;
    // An indefinite length reads as length 0 here: such an element (only a
    // pre-encoded one can be) has no place in DER and would never advance.
    if (h.indefinite || h.totalLen == 0) return kAsnErrArgument;
    pos += h.totalLen;
  }
  if (count < 2) return 0;
  auto* children = static_cast<Child*>(QMem_Allocate(count * static_cast<uint32_t>(sizeof(Child))));
  uint8_t* copy = static_cast<uint8_t*>(QMem_Allocate(end - begin));
  if (children == nullptr || copy == nullptr) {
    QMem_SecureRelease(children);
    QMem_SecureRelease(copy);
    return kAsnErrMemory;
  }
  QMem_Copy(copy, out + begin, end - begin);
  uint32_t i = 0;
  for (uint32_t pos = 0; pos < end - begin; ++i) {
    AsnHeader h;
    AsnReadTagLength(copy + pos, end - begin - pos, &h);
    children[i] = Child{copy + pos, h.totalLen};
    pos += h.totalLen;
  }
  std::stable_sort(children, children + count, [](const Child& a, const Child& b) {
    return AsnCompareEncodings(a.data, a.len, b.data, b.len) < 0;
  });
  uint32_t pos = begin;
  for (i = 0; i < count; ++i) {
    QMem_Copy(out + pos, children[i].data, children[i].len);
    pos += children[i].len;
  }
  QMem_SecureRelease(children);
  QMem_SecureRelease(copy);
  return 0;
}

}  // namespace

// The first item of a split element writes the identifier of the whole
// element and may not carry a high tag number (it is continued); the later
// items carry no identifier, so a tail there is refused as well.
bool ContinuesSplit(const ElementList* list) {
  if (list->count == 0) return false;
  const uint32_t kind = list->items[list->count - 1].kind;
  return IsContentKind(kind) && (kind & kItemContinued) != 0;
}

int ElementAppendContent(ElementList* list, uint32_t ident, const uint8_t* data, uint32_t len, bool continued,
                         const uint8_t* identTail, uint32_t identTailLen) {
  if ((continued || ContinuesSplit(list)) && identTailLen != 0) return kAsnErrArgument;
  return Append(list, ElementItem{data, len, (ident & 0xFF) | (continued ? kItemContinued : 0u), identTailLen,
                                  identTail});
}

int ElementAppendStart(ElementList* list, uint32_t ident, const uint8_t* identTail, uint32_t identTailLen) {
  return Append(list, ElementItem{&kStartMarker, 0, (ident & 0xFF) | kItemStart, identTailLen, identTail});
}

int ElementAppendEnd(ElementList* list, bool sorted) {
  return Append(list, ElementItem{sorted ? &kSortMarker : nullptr, 0, kItemEnd, 0, nullptr});
}

int ElementAppendRaw(ElementList* list, const uint8_t* data, uint32_t len) {
  return Append(list, ElementItem{data, len, kItemRaw, 0, nullptr});
}

uint8_t* ElementListCopy(ElementList* list, const uint8_t* data, uint32_t len) {
  if (list->scratchCount == list->scratchCapacity) {
    uint32_t capacity = list->scratchCapacity + kGrowStep;
    auto* grown = static_cast<void**>(QMem_Allocate(capacity * static_cast<uint32_t>(sizeof(void*))));
    if (grown == nullptr) return nullptr;
    QMem_Copy(grown, list->scratch, list->scratchCount * static_cast<uint32_t>(sizeof(void*)));
    QMem_SecureRelease(list->scratch);
    list->scratch = grown;
    list->scratchCapacity = capacity;
  }
  auto* block = static_cast<uint8_t*>(QMem_Allocate(len));
  if (block == nullptr) return nullptr;
  QMem_Copy(block, data, len);
  list->scratch[list->scratchCount++] = block;
  return block;
}

void ElementListTruncate(ElementList* list, uint32_t count) {
  if (count < list->count) list->count = count;
}

void ElementListRelease(ElementList* list) {
  for (uint32_t i = 0; i < list->scratchCount; ++i) QMem_SecureRelease(list->scratch[i]);
  QMem_SecureRelease(list->scratch);
  QMem_SecureRelease(list->items);
  *list = ElementList{};
}

int ElementListWrite(const ElementList* list, uint8_t** out, uint32_t* outLen) {
  *out = nullptr;
  *outLen = 0;
  const ElementItem* items = list->items;
  const uint32_t n = list->count;
  if (n == 0) return 0;

  // Length pass, bottom-up. Open bodies keep their running content length
  // and identifier size on stacks sized by the item count.
  auto* sums = static_cast<uint64_t*>(QMem_Allocate((n + 1) * static_cast<uint32_t>(sizeof(uint64_t))));
  auto* tails = static_cast<uint32_t*>(QMem_Allocate((n + 1) * static_cast<uint32_t>(sizeof(uint32_t))));
  if (sums == nullptr || tails == nullptr) {
    QMem_SecureRelease(sums);
    QMem_SecureRelease(tails);
    return kAsnErrMemory;
  }
  uint32_t depth = 0;
  sums[0] = 0;
  uint64_t chain = 0;
  bool inChain = false;
  int status = 0;
  for (uint32_t i = 0; i < n && status == 0; ++i) {
    const ElementItem& item = items[i];
    if (inChain && (!IsContentKind(item.kind) || item.extra != 0)) {
      // a continued content item must be followed by content without an
      // identifier tail of its own
      status = kAsnErrArgument;
      break;
    }
    if (item.kind == kItemRaw) {
      sums[depth] += item.len;
    } else if (item.kind == kItemEnd) {
      if (depth == 0) {
        status = kAsnErrArgument;
        break;
      }
      uint64_t body = sums[depth];
      uint32_t tail = tails[depth];
      --depth;
      if (body > 0xFFFFFFFFu) {
        status = kAsnErrOverflow;
        break;
      }
      sums[depth] += 1 + tail + LengthOctets(static_cast<uint32_t>(body)) + body;
    } else if (IsStartKind(item.kind)) {
      ++depth;
      sums[depth] = 0;
      tails[depth] = item.extra;
    } else {
      chain += item.len;
      inChain = (item.kind & kItemContinued) != 0;
      if (!inChain) {
        if (chain > 0xFFFFFFFFu) status = kAsnErrOverflow;
        sums[depth] += 1 + item.extra + LengthOctets(static_cast<uint32_t>(chain)) + chain;
        chain = 0;
      }
    }
    if (sums[depth] > 0x7FFFFFFFu) status = kAsnErrOverflow;
  }
  if (status == 0 && (depth != 0 || inChain)) status = kAsnErrArgument;
  const uint64_t total = sums[0];
  QMem_SecureRelease(sums);
  QMem_SecureRelease(tails);
  if (status != 0) return status;
  if (total == 0) return 0;

  auto* buffer = static_cast<uint8_t*>(QMem_Allocate(static_cast<uint32_t>(total)));
  if (buffer == nullptr) return kAsnErrMemory;
  // Ends of open bodies while writing backwards, with their sort flags.
  auto* ends = static_cast<uint32_t*>(QMem_Allocate((n + 1) * static_cast<uint32_t>(sizeof(uint32_t))));
  if (ends == nullptr) {
    QMem_SecureRelease(buffer);
    return kAsnErrMemory;
  }
  uint32_t top = 0;
  uint32_t pos = static_cast<uint32_t>(total);
  uint32_t chainLen = 0;
  for (uint32_t i = n; i-- > 0 && status == 0;) {
    const ElementItem& item = items[i];
    if (item.kind == kItemRaw) {
      pos -= item.len;
      QMem_Copy(buffer + pos, item.data, item.len);
    } else if (item.kind == kItemEnd) {
      // Top bit of the saved end says whether the body is sorted.
      ends[top++] = pos | (item.data == &kSortMarker ? 0x80000000u : 0u);
    } else if (IsStartKind(item.kind)) {
      uint32_t saved = ends[--top];
      uint32_t end = saved & 0x7FFFFFFFu;
      if (saved & 0x80000000u) status = SortChildren(buffer, pos, end);
      pos = WriteHeaderBackward(buffer, pos, item.kind & 0xFF, item.identTail, item.extra, end - pos);
    } else {
      pos -= item.len;
      QMem_Copy(buffer + pos, item.data, item.len);
      chainLen += item.len;
      bool chainGoesOnBefore = i > 0 && IsContentKind(items[i - 1].kind) && (items[i - 1].kind & kItemContinued);
      if (!chainGoesOnBefore) {
        pos = WriteHeaderBackward(buffer, pos, item.kind & 0xFF, item.identTail, item.extra, chainLen);
        chainLen = 0;
      }
    }
  }
  QMem_SecureRelease(ends);
  if (status != 0) {
    QMem_SecureRelease(buffer);
    return status;
  }
  *out = buffer;
  *outLen = static_cast<uint32_t>(total);
  return 0;
}

// ---------------------------------------------------------------------------
// Template-driven encoding.

namespace {

using detail::AnySlotUsed;
using detail::EntryWidth;
using detail::HasBody;
using detail::Ident;
using detail::IsEnd;
using detail::IsExplicit;
using detail::IsOf;
using detail::IsOptional;
using detail::IsSortedBody;
using detail::SlotOf;

// Upper bound on the elements one OF entry may produce, so that a handler
// that never ends cannot run away.
constexpr uint32_t kMaxOfElements = 1u << 20;

int EncodeEntry(const AsnEntry* e, AsnSlots slots, uint32_t options, uint32_t index, ElementList* list);

int EncodeBody(const AsnEntry* e, AsnSlots slots, uint32_t options, ElementList* list) {
  int status = ElementAppendStart(list, Ident(*e));
  if (status != 0) return status;
  if (IsOf(*e)) {
    const AsnEntry* element = e + 1;
    if (element->encode == nullptr) return kAsnErrArgument;
    for (uint32_t i = 0;; ++i) {
      if (i >= kMaxOfElements) return kAsnErrArgument;
      uint32_t before = list->count;
      status = element->encode(list, element->tagAndFlags, options, i, SlotOf(*element, slots));
      if (status != 0) return status;
      if (list->count == before) break;
      if (list->count == before + 1 && list->items[before].kind == kItemEnd) {
        ElementListTruncate(list, before);
        break;
      }
    }
  } else {
    for (uint32_t pos = 1; !IsEnd(e[pos]); pos += EntryWidth(e + pos)) {
      status = EncodeEntry(e + pos, slots, options, 0, list);
      if (status != 0) return status;
    }
  }
  return ElementAppendEnd(list, IsSortedBody(*e));
}

int EncodeEntry(const AsnEntry* e, AsnSlots slots, uint32_t options, uint32_t index, ElementList* list) {
  void* slot = SlotOf(*e, slots);
  if (slot == AsnAbsent()) return 0;
  const uint32_t before = list->count;
  int status = 0;
  if (e->encode != nullptr) {
    status = e->encode(list, e->tagAndFlags, options, index, slot);
  } else if (slot != nullptr) {
    const auto* raw = static_cast<const ByteRange*>(slot);
    if (raw->data == nullptr || raw->len == 0) {
      // An empty range is an absent value.
    } else {
      status = ElementAppendRaw(list, raw->data, raw->len);
    }
  } else if (HasBody(*e)) {
    // Written from its body, unless it is OPTIONAL and nothing inside it has
    // a value.
    if (IsOptional(*e) && !AnySlotUsed(e + 1, EntryWidth(e) - 1, slots)) return 0;
    status = EncodeBody(e, slots, options, list);
  } else if (IsExplicit(*e)) {
    status = ElementAppendStart(list, Ident(*e));
    const uint32_t inner = list->count;
    if (status == 0) status = EncodeEntry(e + 1, slots, options, 0, list);
    if (status == 0 && list->count == inner) {
      // The wrapped element is absent, and so is the tag around it.
      ElementListTruncate(list, before);
    } else if (status == 0) {
      status = ElementAppendEnd(list, false);
    }
  }
  if (status != 0) return status;
  if (list->count == before && !IsOptional(*e)) return kAsnErrArgument;
  return 0;
}

}  // namespace

int AsnEncodeToList(const AsnEntry* entry, AsnSlots slots, uint32_t options, ElementList* list) {
  int status = detail::CheckTemplate(entry);
  if (status != 0) return status;
  return EncodeEntry(entry, slots, options, 0, list);
}

int AsnEncode(const AsnEntry* entry, AsnSlots slots, uint32_t options, uint8_t** out, uint32_t* outLen) {
  *out = nullptr;
  *outLen = 0;
  ElementList list;
  int status = AsnEncodeToList(entry, slots, options, &list);
  if (status == 0) status = ElementListWrite(&list, out, outLen);
  ElementListRelease(&list);
  return status;
}

int AsnEncodeToSink(const AsnEntry* entry, AsnSlots slots, uint32_t options, AsnSink sink, void* context) {
  uint8_t* out = nullptr;
  uint32_t outLen = 0;
  int status = AsnEncode(entry, slots, options, &out, &outLen);
  if (status == 0) status = sink(context, out, outLen);
  QMem_SecureRelease(out);
  return status;
}

int AsnEncodePrimitive(uint32_t ident, ByteRange content, uint8_t** out, uint32_t* outLen) {
  *out = nullptr;
  *outLen = 0;
  if ((ident & kAsnConstructed) != 0 || (content.data == nullptr && content.len != 0)) return kAsnErrArgument;
  ElementList list;
  int status = ElementAppendContent(&list, ident, content.data, content.len);
  if (status == 0) status = ElementListWrite(&list, out, outLen);
  ElementListRelease(&list);
  return status;
}

}  // namespace ck
